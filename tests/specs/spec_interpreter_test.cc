#include "specs/spec_interpreter.h"
#include "support/argument_files.h"

#include "specs/named_specs.h"
#include "specs/search_paths.h"
#include "specs/spec_functions.h"
#include "specs/spec_validation.h"
#include "specs/switches.h"
#include "specs/velk_options.h"
#include "support/temp_files.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace velk {
namespace {

struct test_switch {
  test_switch(const char* o, std::vector<std::string> a = {}, bool k = true)
      : option(o), args(std::move(a)), known(k) {}
  std::string option; // with its dash
  std::vector<std::string> args;
  bool known;
};

std::vector<std::vector<std::string>>& executed() {
  static std::vector<std::vector<std::string>> groups;
  return groups;
}

int record_group(const std::vector<std::string>& arguments) {
  executed().push_back(arguments);
  return 0;
}

std::optional<std::string> cat_function(const std::vector<std::string>& w) {
  std::string text;
  for (const std::string& word : w)
    text += word;
  return text;
}
std::optional<std::string> none_function(const std::vector<std::string>&) {
  return std::nullopt;
}
std::optional<std::string> count_function(const std::vector<std::string>& w) {
  return std::to_string(w.size());
}

class SpecInterpreter : public ::testing::Test {
protected:
  void SetUp() override {
    reset_spec_state();
    tables().switches.clear();
    tables().inputs.clear();
    tables().output_names.clear();
    tables().current.set("dir/a.c", 0);
    named_spec_list().clear();
    added_spec_functions() = {{"cat", cat_function},
                              {"none", none_function},
                              {"count", count_function}};
    executed().clear();
    set_execute_hook(record_group);
  }
  void TearDown() override {
    remove_cleanup_files();
    forget_failure_files();
  }

  static void use_switches(const std::vector<test_switch>& switches) {
    for (const test_switch& sw : switches)
      add_switch(sw.option, sw.args, false, sw.known);
  }

  // The words one spec text produces.
  static std::vector<std::string> words(std::string_view spec) {
    EXPECT_EQ(run_spec_fresh(spec, std::nullopt), 0) << spec;
    return spec_state().argument_vector;
  }
};

using words_t = std::vector<std::string>;

struct spec_case {
  const char* what;
  std::vector<test_switch> switches;
  const char* spec;
  words_t expected;
};

TEST_F(SpecInterpreter, TableOfConstructs) {
  const std::vector<spec_case> cases = {
      {"blanks and tabs separate words", {}, "a  b\tc", {"a", "b", "c"}},
      {"backslash makes a blank literal", {}, "a\\ b \\%", {"a b", "%"}},
      {"%% is a percent sign", {}, "100%% %%", {"100%"}},
      {"%\" is an empty word", {}, "a %\" b", {"a", "", "b"}},
      {"%O appends .o", {}, "x%O", {"x.o"}},
      {"%M without multilib is .", {}, "-L%M", {"-L."}},
      {"unknown named spec is nothing", {}, "a%(nosuch)b", {"ab"}},
      {"switch with its argument", {{"-o", {"out"}}}, "%{o}", {"-o", "out"}},
      {"exact name only", {{"-fa"}, {"-fab"}}, "%{fa}", {"-fa"}},
      {"prefix", {{"-fa"}, {"-fab"}, {"-g"}}, "%{f*}", {"-fa", "-fab"}},
      {"later -fno-X kills -fX",
       {{"-fX"}, {"-fno-X"}},
       "%{fX:yes} %{fno-X:no}",
       {"no"}},
      {"later -fX kills -fno-X",
       {{"-fno-X"}, {"-fX"}},
       "%{fX:yes} %{fno-X:no}",
       {"yes"}},
      {"-fno- without a name is killed by a later -f alone",
       {{"-fno-"}, {"-f"}, {"-fno-"}},
       "%{fno-:a} %{f:b}",
       {"a", "b"}},
      {"an earlier -fX is killed, a later one is not",
       {{"-fX"}, {"-fno-X"}, {"-fX"}, {"-fno-Y"}},
       "%{fX*} %{fno-*}",
       {"-fX", "-fno-Y"}},
      {"later -O wins", {{"-O2"}, {"-O0"}}, "%{O2:two} %{O0:zero}", {"zero"}},
      {"one-letter prefix cancels nothing",
       {{"-O2"}, {"-O0"}, {"-Wfoo"}, {"-Wno-foo"}},
       "%{O*} %{W*}",
       {"-O2", "-O0", "-Wfoo", "-Wno-foo"}},
      {"nested negations, -M given", {{"-M"}}, "%{!E:%{!M:body}}", {}},
      {"nested negations, neither", {}, "%{!E:%{!M:body}}", {"body"}},
      {"escaped braces in nested bodies",
       {{"-a"}, {"-b"}},
       "%{a:%{b:x\\}y;:n}-%{c:q;:%{b:r}}t}",
       {"x}y-rt"}},
      {"escaped characters in atoms",
       {{"-a:b"}, {"-x"}},
       "%{a\\:b:yes} %{x\\:y:no} %{a\\:*:%*}",
       {"yes", "b"}},
      {"nested bodies after a false alternative",
       {{"-b"}},
       "%{a:%{b:no}x;b:%{!a:%{b:y\\;z}}}",
       {"y;z"}},
      {"N-way default", {}, "%{S:X;:D}", {"D"}},
      {"N-way first match", {{"-S"}, {"-T"}}, "%{S:X;T:Y}", {"X"}},
      {"N-way second", {{"-T"}}, "%{S:X;T:Y;:D}", {"Y"}},
      {"default after a match is skipped",
       {{"-static"}},
       "%{static:s;shared|pie:p;:crtbegin.o}",
       {"s"}},
      {"default after a disjunction",
       {{"-pie"}},
       "%{static:s;shared|pie:p;:c}",
       {"p"}},
      {"default taken", {}, "%{static:s;shared|pie:p;:c}", {"c"}},
      {"star body glued",
       {{"-foox"}, {"-fooy"}},
       "%{foo*:bar%*}",
       {"barx", "bary"}},
      {"star body spaced",
       {{"-foox"}, {"-fooy"}},
       "%{foo*:bar %*}",
       {"bar", "x", "bar", "y"}},
      {"star body passes arguments",
       {{"-Dx", {"1"}}},
       "%{D*:-d%*}",
       {"-dx", "1"}},
      {"suffix test", {}, "%{.c:C} %{.cc:CC}", {"C"}},
      {"escaped brace in a body",
       {{"-a"}},
       "%{a:x\\}y} %{a:\\{}",
       {"x}y", "{"}},
      {"alternatives", {{"-b"}}, "%{a|b:ab} %{!a|!b:n}", {"ab", "n"}},
      {"negation", {{"-a"}}, "%{!a:x} %{!b:y}", {"y"}},
      {"ordered set in table order",
       {{"-b"}, {"-c"}, {"-a"}},
       "%{a&b}",
       {"-b", "-a"}},
      {"-D with a separate argument",
       {{"-D", {"foo=1"}}},
       "%{Dfoo*:s} %{Dfoo:e} %{Dfoo=1:x}",
       {"s", "x"}},
      {"-D and -U joined and separate",
       {{"-DX"}, {"-D", {"Y"}}, {"-UY"}},
       "%{DY:a} %{DX:b} %{D:c} %{UY:u} %{DY*:s} %{UX:no} %{DZ*:no}",
       {"a", "b", "c", "u", "s"}},
      // A prefix test examines switches in table order until one is
      // present; that one keeps counting as present once hidden.
      {"prefix test finds the first switch in table order",
       {{"-Wxb"}, {"-Wxa"}},
       "%{Wx*:A} %<Wxb %{Wxb:B}",
       {"A", "B"}},
      {"prefix test leaves later switches unexamined",
       {{"-Wxa"}, {"-Wxb"}},
       "%{Wx*:A} %<Wxb %{Wxb:B}",
       {"A"}},
      {"hidden before use counts as absent", {{"-a"}}, "%<a %{a} %{a:x}", {}},
      {"hidden after use stays present but is not emitted",
       {{"-a"}},
       "%{a:x} %<a %{a:y} %{a}",
       {"x", "y"}},
      {"hiding a prefix",
       {{"-fa"}, {"-fb"}, {"-g"}},
       "%<f* %{f*} %{g}",
       {"-g"}},
      {"suffix substitution on arguments",
       {{"-o", {"dir.x/out.c"}}},
       "%.s%{o}",
       {"-o", "dir.x/out.s"}},
      {"suffix substitution ends at a blank",
       {{"-o", {"out"}}},
       "%.i %{o}",
       {"-o", "out.i"}},
      {"named spec", {{"-a"}}, "<%(n)>", {"<x>"}},
      {"function result ends the word",
       {{"-mabi=lp64"}},
       "%:cat(-march= armv8-a)%{mabi=*:-mabi=%*}",
       {"-march=armv8-a", "-mabi=lp64"}},
      {"function joins what precedes", {}, "-I%:cat(a b) c", {"-Iab", "c"}},
      {"function gets words", {{"-fa"}, {"-fb"}}, "%:count(%{f*})", {"2"}},
      {"function condition", {}, "%{%:none():X;:Y} %{%:cat():Z}", {"Y", "Z"}},
      {"%* in function arguments ends each word",
       {{"-ma"}, {"-mb"}},
       "%{m*:%:cat(%* -)}",
       {"a-", "b-"}},
      {"%X %Y %Z", {}, "%X%Y%Z", {"-L1", "-a1", "-p1"}},
  };
  for (const spec_case& test : cases) {
    SCOPED_TRACE(test.what);
    SetUp();
    use_switches(test.switches);
    set_named_spec("n", "%{a:x}");
    spec_state().linker_args = {"-L1"};
    spec_state().assembler_args = {"-a1"};
    spec_state().preprocessor_args = {"-p1"};
    EXPECT_EQ(words(test.spec), test.expected) << test.spec;
  }
}

TEST_F(SpecInterpreter, LivenessBitsAndValidation) {
  use_switches({{"-fX"},
                {"-fno-X"},
                {"-O2"},
                {"-O0"},
                {"-funknown", {}, false},
                {"-fno-unknown", {}, false}});
  words("%{fX:a} %{O2:b} %{funknown:c}");
  const switch_table& t = tables().switches;
  EXPECT_EQ(t[0].liveness, static_cast<unsigned>(dead));
  EXPECT_TRUE(t[0].validated);
  EXPECT_EQ(t[1].liveness, 0u); // never examined
  EXPECT_EQ(t[2].liveness, static_cast<unsigned>(dead));
  EXPECT_TRUE(t[2].validated);
  EXPECT_EQ(t[4].liveness, static_cast<unsigned>(dead));
  EXPECT_FALSE(t[4].validated); // unknown to the option table

  // %< and %>: the bits, and the listing in SHEAF_VELK_OPTIONS.
  SetUp();
  use_switches({{"-a"}, {"-b"}, {"-c", {"it's"}}, {"-x", {}, false}});
  words("%<a %>b %<x");
  EXPECT_EQ(t[0].liveness, static_cast<unsigned>(hidden));
  EXPECT_EQ(t[1].liveness, static_cast<unsigned>(hidden | still_listed));
  EXPECT_TRUE(t[0].validated);
  EXPECT_FALSE(t[3].validated);
  EXPECT_EQ(velk_options_value(t, "a-"),
            " '-b' '-c' 'it'\\''s'  '-dumpdir' 'a-'");
  EXPECT_EQ(velk_options_value(t, ""), " '-b' '-c' 'it'\\''s' ");
  switch_table none;
  EXPECT_EQ(velk_options_value(none, "d/"), "'-dumpdir' 'd/'");
  EXPECT_EQ(velk_options_value(none, ""), "");
  switch_table quoted;
  add_switch(quoted, "-x'y", {"'", ""}, false, false);
  EXPECT_EQ(velk_options_value(quoted, "o'd/"),
            "'-x'\\''y' ''\\''' '' '-dumpdir' 'o'\\''d/'");
  switch_table long_quoted;
  add_switch(long_quoted, "-D", {"it's a long text's end'"}, false, true);
  EXPECT_EQ(velk_options_value(long_quoted, ""),
            "'-D' 'it'\\''s a long text'\\''s end'\\'''");
}

TEST_F(SpecInterpreter, SelfSpecHidesForGood) {
  use_switches({{"-a"}, {"-b"}});
  words("%{a:x}"); // -a found live
  apply_self_spec("%<a");
  EXPECT_TRUE(tables().switches[0].liveness & hidden_for_good);
  EXPECT_EQ(words("%{a:x}"), words_t{});
}

std::vector<std::string>& self_spec_options() {
  static std::vector<std::string> options;
  return options;
}

TEST_F(SpecInterpreter, SelfSpecOptions) {
  self_spec_options().clear();
  set_self_spec_option_hook([](decoded_option& d) {
    self_spec_options().emplace_back(d.canonical[0]);
  });
  use_switches({{"-a"}});
  apply_self_spec("%{a:-O2 -o out} -fcompare-debug-second");
  set_self_spec_option_hook(nullptr);
  EXPECT_EQ(self_spec_options(), words_t{"-O2"});
  const switch_table& t = tables().switches;
  ASSERT_EQ(t.size(), 3u);
  EXPECT_EQ(t[1].name, "o");
  EXPECT_EQ(t[1].args, words_t{"out"});
  EXPECT_TRUE(t[1].known);
  EXPECT_FALSE(t[1].validated);
  EXPECT_EQ(t[2].name, "fcompare-debug-second");

  EXPECT_EXIT(apply_self_spec("foo"), ::testing::ExitedWithCode(1),
              "fatal error: switch 'foo' does not start with '-'");
  EXPECT_EXIT(apply_self_spec("-"), ::testing::ExitedWithCode(1),
              "fatal error: spec-generated switch is just '-'");
}

TEST_F(SpecInterpreter, TemporaryNames) {
  words_t w = words("%g.s %g.s %u.o %u.o %U.o %g.i %g.o %U.s %gx%O");
  ASSERT_EQ(w.size(), 9u);
  EXPECT_EQ(w[0], w[1]); // %g: one name per suffix
  EXPECT_NE(w[2], w[3]); // %u: a new name each time
  EXPECT_EQ(w[4], w[3]); // %U: the last %u name
  EXPECT_NE(w[5], w[0]); // another suffix, another name
  EXPECT_NE(w[6], w[3]); // %g and %u keep apart
  EXPECT_NE(w[7], w[0]);
  EXPECT_TRUE(w[0].ends_with(".s"));
  EXPECT_TRUE(w[8].ends_with("x.o"));
  for (const std::string& name : w)
    EXPECT_TRUE(cleanup_list().contains(name)) << name;
  // The names last the whole run.
  EXPECT_EQ(words("%U.o %g.s"), (words_t{w[4], w[0]}));

  EXPECT_EQ(words("%j.o"), words_t{"/dev/null"});
  // %| and %m: a pipe under -pipe, otherwise %g's names.
  EXPECT_EQ(words("%|.s %m.s"), (words_t{w[0], w[0]}));
  spec_state().use_pipes = true;
  EXPECT_EQ(words("%|.s x%m.s"), (words_t{"-", "x"}));
}

TEST_F(SpecInterpreter, SaveTempsNames) {
  spec_interpreter_state& st = spec_state();
  st.save_temps = true;
  EXPECT_EQ(words("%g.i %u.s"), (words_t{"a.i", "a.s"}));
  st.dump_dir = "d/";
  st.dump_dir_length = 2;
  EXPECT_EQ(words("%g.i"), words_t{"d/a.i"});
  st.output_base = "out";
  EXPECT_EQ(words("%g.i %b %w%b"), (words_t{"d/out.i", "d/out", "a"}));

  // A name that would overwrite the input gets a true temporary name.
  char dir[] = "/tmp/velk-spec-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string input = std::string(dir) + "/a.i";
  std::ofstream(input) << "x";
  const std::string cwd = std::filesystem::current_path();
  ASSERT_EQ(chdir(dir), 0);
  tables().current.set(input, 0);
  st.dump_dir.reset();
  st.dump_dir_length = 0;
  st.output_base.reset();
  words_t w = words("%g.i");
  ASSERT_EQ(chdir(cwd.c_str()), 0);
  EXPECT_NE(w[0], "a.i");
  EXPECT_TRUE(w[0].ends_with(".i"));
  std::remove(input.c_str());
  rmdir(dir);
}

TEST_F(SpecInterpreter, BaseNamesAndInputs) {
  spec_interpreter_state& st = spec_state();
  EXPECT_EQ(words("%b %B %i"), (words_t{"a", "a.c", "dir/a.c"}));
  st.compare_debug = -1;
  EXPECT_EQ(words("%b %B"), (words_t{"a.gk", "a.gk.c"}));
  st.compare_debug = 0;

  // Combining: every input of the record, and the output names.
  st.combine_inputs = true;
  add_input("x.c", std::nullopt);
  add_input("lib.a", std::string("*"));
  add_input("y.c", std::nullopt);
  tables().output_names = {"x.o", "", "y.o"};
  EXPECT_EQ(words("%i %o"), (words_t{"x.c", "y.c", "x.o", "y.o"}));
  EXPECT_TRUE(tables().inputs[0].compiled);

  // %w stores the output name; %V clears it.
  tables().output_names = {""};
  words_t output = words("-o %w%g.o");
  EXPECT_EQ(output, (words_t{"-o", tables().output_names[0]}));
  EXPECT_TRUE(failure_list().contains(tables().output_names[0]));
  words("%V");
  EXPECT_EQ(tables().output_names[0], "");
  // %W{...}: the last argument of the braces goes on the failure list.
  use_switches({{"-o", {"final"}}});
  EXPECT_EQ(words("%W{o}"), (words_t{"-o", "final"}));
  EXPECT_TRUE(failure_list().contains("final"));
  // %d: delete what the argument names, after "=" for an option.
  words("%d-fdump=/tmp/velk-never-made");
  EXPECT_TRUE(cleanup_list().contains("/tmp/velk-never-made"));
}

TEST_F(SpecInterpreter, ResponseGroups) {
  use_switches({{"-L", {"dir one"}}, {"-Lx"}});
  EXPECT_EQ(words("a %@{L*} b"), (words_t{"a", "-L", "dir one", "-Lx", "b"}));
  response_files_wanted() = true;
  words_t w = words("a %@{L*} b");
  ASSERT_EQ(w.size(), 3u);
  EXPECT_EQ(w[0], "a");
  EXPECT_EQ(w[2], "b");
  ASSERT_TRUE(w[1].starts_with("@"));
  std::ifstream file(w[1].substr(1));
  std::stringstream content;
  content << file.rdbuf();
  EXPECT_EQ(content.str(), "-L\ndir\\ one\n-Lx\n");
  EXPECT_TRUE(cleanup_list().contains(w[1].substr(1)));
  // Nothing gathered, no file.
  EXPECT_EQ(words("%@{nosuch}"), words_t{});
  EXPECT_EXIT(words("%@{L*:%@{Lx}}"), ::testing::ExitedWithCode(1),
              "fatal error: cannot open nested response file");
  // Under -save-temps the file is named after the dump names and kept.
  char dir[] = "/tmp/velk-spec-args-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string cwd = std::filesystem::current_path();
  ASSERT_EQ(chdir(dir), 0);
  spec_interpreter_state& st = spec_state();
  st.save_temps = true;
  st.dump_dir = "a.";
  st.dump_dir_trailing_dash = true;
  EXPECT_EQ(words("%@{Lx}"), words_t{"@a.args.0"});
  st.dump_base = "base";
  EXPECT_EQ(words("%@{Lx}"), words_t{"@base.args.1"});
  EXPECT_FALSE(cleanup_list().contains("a.args.0"));
  std::remove("a.args.0");
  std::remove("base.args.1");
  ASSERT_EQ(chdir(cwd.c_str()), 0);
  rmdir(dir);
  st.save_temps = false;

  // A failed group does not stay open.
  testing::internal::CaptureStderr();
  EXPECT_EQ(run_spec_fresh("%@{L*:%efailed}", std::nullopt), -1);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(words("%@{Lx}").size(), 1u);
}

TEST_F(SpecInterpreter, CommandGroupsAndPipes) {
  EXPECT_EQ(run_spec_command("tarn1 a\nas b |"), 0);
  EXPECT_EQ(executed(), (std::vector<words_t>{{"tarn1", "a"}, {"as", "b"}}));
  // Without -pipe a "|" at the end of a line is dropped.
  executed().clear();
  EXPECT_EQ(run_spec_command("tarn1 -o x |\nas x"), 0);
  EXPECT_EQ(executed(),
            (std::vector<words_t>{{"tarn1", "-o", "x"}, {"as", "x"}}));
  // With -pipe the two lines are one group.
  executed().clear();
  spec_state().use_pipes = true;
  EXPECT_EQ(run_spec_command("tarn1 -o %|.s |\nas %m.s"), 0);
  EXPECT_EQ(executed(),
            (std::vector<words_t>{{"tarn1", "-o", "-", "|", "as"}}));
  // An empty line executes nothing; a failing group stops the spec.
  executed().clear();
  set_execute_hook([](const std::vector<std::string>& a) {
    executed().push_back(a);
    return 7;
  });
  EXPECT_EQ(run_spec_command("\n\nfirst\nsecond"), 7);
  EXPECT_EQ(executed(), (std::vector<words_t>{{"first"}}));
}

TEST_F(SpecInterpreter, LinkerOptionsOnce) {
  EXPECT_EQ(words("%x{-lfoo} a %x{-lfoo} b"), words_t{"a"});
  EXPECT_EQ(spec_state().linker_args, words_t{"-lfoo"});
}

TEST_F(SpecInterpreter, NamedSpecEscapes) {
  set_named_spec("tarn1", "one");
  set_named_spec("tarn1xx", "two");
  set_named_spec("asm_final", "A");
  set_named_spec("asm", "a");
  set_named_spec("endfile", "E");
  set_named_spec("libvelk", "G");
  set_named_spec("lib", "L");
  set_named_spec("link", "l");
  set_named_spec("startfile", "S");
  set_named_spec("cpp", "cpp");
  EXPECT_EQ(words("%1 %2 %A %a %E %G %L %l %S %C"),
            (words_t{"one", "two", "A", "a", "E", "G", "L", "l", "S", "cpp"}));
  spec_state().cpp_spec = "own";
  EXPECT_EQ(words("%C"), words_t{"own"});
  spec_state().language = "c++";
  EXPECT_EQ(words("%{,c++:cxx} %{,c:c} %{!,c:notc}"), (words_t{"cxx", "notc"}));
}

TEST_F(SpecInterpreter, ErrorsThatLetInterpretationGoOn) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(words("a%Qb %* c"), (words_t{"ab", "c"}));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("error: spec failure: unrecognized spec option 'Q'"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("error: spec failure: '%*' has not been initialized by "
                     "pattern match"),
            std::string::npos)
      << err;

  testing::internal::CaptureStderr();
  EXPECT_EQ(run_spec_fresh("a %eyou lose\nb", std::nullopt), -1);
  EXPECT_EQ(run_spec_fresh("%{x:y;:%estop}", std::nullopt), -1);
  EXPECT_EQ(run_spec_fresh("%nhello\nb", std::nullopt), 0);
  EXPECT_EQ(spec_state().argument_vector, words_t{"b"});
  err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("error: you lose\n"), std::string::npos) << err;
  EXPECT_NE(err.find("error: stop\n"), std::string::npos) << err;
  EXPECT_NE(err.find("note: hello\n"), std::string::npos) << err;

  testing::internal::CaptureStderr();
  EXPECT_EQ(words("%Tno-such-script.ld x"), words_t{"x"});
  err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("error: unable to locate default linker script "
                     "'no-such-script.ld' in the library search paths"),
            std::string::npos)
      << err;
}

TEST_F(SpecInterpreter, SearchListEscapes) {
  namespace fs = std::filesystem;
  char dir[] = "/tmp/velk-spec-lists-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string root = dir;
  fs::create_directories(root + "/include");
  fs::create_directories(root + "/include-fixed");
  fs::create_directories(root + "/lib");
  search_lists& lists = search_paths();
  lists.include.clear();
  lists.startfile.clear();
  add_search_prefix(lists.include, root + "/", "", 1, 0, false);
  add_search_prefix(lists.include, "/nonexistent-velk/", "", 1, 0, false);
  add_search_prefix(lists.startfile, root + "/lib/", "", 1, 0, false);
  add_search_prefix(lists.startfile, "/usr/lib/", "", 1, 0, false);
  spec_state().include_prefix = "/p/";
  selected_multilib().multilib_dir = "ml";

  EXPECT_EQ(words("%I"),
            (words_t{"-imultilib", "ml", "-iprefix", "/p/", "-isystem",
                     root + "/include", "-isystem", root + "/include-fixed"}));
  EXPECT_EQ(words("%D"), words_t{"-L" + root + "/lib"});
  prefixes().sysroot = "/sys";
  prefixes().sysroot_suffix = "/sfx";
  EXPECT_EQ(words("-B%R/lib"), words_t{"-B/sys/sfx/lib"});

  prefixes().sysroot.reset();
  prefixes().sysroot_suffix.clear();
  selected_multilib().multilib_dir.reset();
  lists.include.clear();
  lists.startfile.clear();
  fs::remove_all(root);
}

struct fatal_case {
  const char* spec;
  const char* message;
};

TEST_F(SpecInterpreter, MalformedSpecsAreFatal) {
  set_named_spec("self", "x %(self)");
  const std::vector<fatal_case> cases = {
      {"abc%", "spec 'abc%' invalid"},
      {"%{a", "braced spec 'a' is invalid at end of text"},
      {"%{:X}", "braced spec ':X}' is invalid at ':'"},
      {"%{!a}", "braced spec '!a}' is invalid at '}'"},
      {"%{a|b}", "braced spec 'a\\|b}' is invalid at '}'"},
      {"%{a:x", "braced spec body 'x' is invalid"},
      {"%{a\\", "braced spec 'a\\\\' ends in escape"},
      {"%{.c*:x}", "braced spec '.c\\*:x}' is invalid at ':'"},
      {"%{a:x;:y;b:z}", "braced spec 'a:x;:y;b:z}' is invalid at ';'"},
      {"%{a:x;|b:z}", "braced spec 'a:x;\\|b:z}' is invalid at '\\|'"},
      {"%{a*&b:x}", "braced spec 'a\\*&b:x}' is invalid at ':'"},
      {"%{a?}", "braced spec 'a\\?}' is invalid at '\\?'"},
      {"%{a:%*}", "braced spec body '%\\*' is invalid"},
      {"%@x", "spec '%@x' has invalid '%@x'"},
      {"%Wx", "spec '%Wx' has invalid '%Wx'"},
      {"%xx", "spec '%xx' has invalid '%xx'"},
      {"%x{-lfoo", "spec '%x\\{-lfoo' has '%x\\{' without its closing '}'"},
      {"%g.s%Ox", "spec '%g.s%Ox' has invalid '%0x'"},
      {"%:f", "no arguments for spec function"},
      {"%:f x", "malformed spec function name"},
      {"%:f(a(b)", "malformed spec function arguments"},
      {"%:nosuch()", "unknown spec function 'nosuch'"},
      {"%:cat(%ebad)", "error in arguments to spec function 'cat'"},
      {"%:cat(a\nb)", "spec 'a\\\\x0ab' runs a command inside the arguments of "
                      "a spec function"},
      {"%(self)", "spec 'self' is expanded recursively more than 100 levels "
                  "deep"},
  };
  for (const fatal_case& test : cases) {
    SCOPED_TRACE(test.spec);
    EXPECT_EXIT(run_spec_fresh(test.spec, std::nullopt),
                ::testing::ExitedWithCode(1),
                std::string("fatal error: ") + test.message +
                    "\ncompilation terminated.");
  }
}

TEST_F(SpecInterpreter, DeepNestingIsFatal) {
  std::string spec;
  for (int i = 0; i < 300; ++i)
    spec += "%{!a:";
  spec += std::string(300, '}');
  EXPECT_EXIT(run_spec_fresh(spec, std::nullopt), ::testing::ExitedWithCode(1),
              "fatal error: spec '.*' nests too deeply");
}

TEST_F(SpecInterpreter, ValidationOfSwitches) {
  use_switches({{"-fa"},
                {"-fab"},
                {"-b"},
                {"-c"},
                {"-d"},
                {"-e"},
                {"-g"},
                {"-h"},
                {"-nope", {}, false},
                {"-user", {}, false},
                {"-k"},
                {"-m"},
                {"-r*t"},
                {"-r"},
                {"-x yz"},
                {"-sa"},
                {"-s"}});
  set_named_spec("one", "%{fa*:x} %{!b:y;c:%{d}} %<e %W{g} %@{h} %{.k:z}");
  set_named_spec("two", "%{nope:x} %{user:y} %{m|n&o}");
  set_named_spec("three", "%{user}", true);
  // Escaped atoms name the unescaped switch; "%<S*" hides by prefix.
  set_named_spec("four", "%{r\\*t:x} %{x\\ y*:z} %<sa*");
  mark_spec_switches_validated({});
  words_t validated;
  for (const switch_entry& sw : tables().switches)
    if (sw.validated)
      validated.push_back(sw.name);
  EXPECT_EQ(validated, (words_t{"fa", "fab", "b", "c", "d", "e", "g", "h",
                                "user", "m", "r*t", "x yz", "sa"}));
}

} // namespace
} // namespace velk
