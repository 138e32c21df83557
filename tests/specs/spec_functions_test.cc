#include "specs/spec_functions.h"

#include "diagnostics/diagnostic.h"
#include "options/handle.h"
#include "specs/cpu_detect.h"
#include "specs/search_paths.h"
#include "specs/spec_interpreter.h"
#include "support/temp_files.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velk {
namespace {

using ::testing::ExitedWithCode;
using words = std::vector<std::string>;
using result = std::optional<std::string>;

const std::string empty_text;

result call(std::string_view name, const words& w) {
  const spec_function* f = find_spec_function(name);
  EXPECT_NE(f, nullptr) << name;
  return f ? f->function(w) : std::nullopt;
}

class SpecFunctions : public ::testing::Test {
protected:
  void SetUp() override {
    set_program_name("velk++");
    engine_init(global_engine, 0);
    saved_state_ = spec_state();
    reset_spec_state();
    switches_.clear();
    outputs_.clear();
    input_ = current_input_record();
    saved_options_ = global_options;
    saved_search_ = search_paths();
    saved_prefixes_ = prefixes();
    char pattern[] = "/tmp/velk-specfn-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    search_paths().startfile.clear();
    search_paths().include.clear();
  }
  void TearDown() override {
    spec_state() = saved_state_;
    set_spec_file_reader(nullptr);
    remove_cleanup_files();
    global_options = saved_options_;
    search_paths() = saved_search_;
    prefixes() = saved_prefixes_;
    std::string command = "rm -rf '" + dir_ + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }
  // Creates dir_/relative (and its directories) and returns its path.
  std::string make_file(const std::string& relative) {
    std::string path = dir_ + "/" + relative;
    for (std::size_t at = path.find('/', dir_.size() + 1);
         at != std::string::npos; at = path.find('/', at + 1))
      mkdir(path.substr(0, at).c_str(), 0755);
    std::ofstream(path) << "x\n";
    return path;
  }
  void add_startfile_prefix(const std::string& prefix) {
    add_search_prefix(search_paths().startfile, prefix, "", 0, 0, false);
  }
  void add_switch(const std::string& name) {
    switch_entry e;
    e.name = name;
    switches_.append(e);
  }

  std::string dir_;
  // The run's tables, which the functions read and write.
  switch_table& switches_ = tables().switches;
  std::vector<std::string>& outputs_ = tables().output_names;
  current_input_record& input_ = tables().current;
  spec_interpreter_state saved_state_;
  option_values saved_options_;
  search_lists saved_search_;
  prefix_settings saved_prefixes_;
};

TEST_F(SpecFunctions, TableOrder) {
  const char* names[] = {"getenv",
                         "if-exists",
                         "if-exists-else",
                         "if-exists-then-else",
                         "sanitize",
                         "replace-outfile",
                         "remove-outfile",
                         "version-compare",
                         "include",
                         "find-file",
                         "find-plugindir",
                         "print-asm-header",
                         "compare-debug-dump-opt",
                         "compare-debug-self-opt",
                         "pass-through-libs",
                         "dumps",
                         "gt",
                         "debug-level-gt",
                         "dwarf-version-gt",
                         "fortran-preinclude-file",
                         "local_cpu_detect",
                         "rewrite_mcpu"};
  std::span<const spec_function> table = spec_function_table();
  ASSERT_EQ(table.size(), std::size(names));
  for (std::size_t i = 0; i < table.size(); ++i) {
    EXPECT_EQ(table[i].name, names[i]);
    EXPECT_EQ(find_spec_function(names[i]), &table[i]);
  }
  EXPECT_EQ(find_spec_function("if-exist"), nullptr);
  EXPECT_EQ(find_spec_function("GT"), nullptr);
  // The CPU entries are the CPU detection code.
  EXPECT_EQ(call("rewrite_mcpu", {"cortex-a72+crypto"}),
            rewrite_mcpu(std::vector<std::string>{"cortex-a72+crypto"}));
  EXPECT_EXIT(call("local_cpu_detect", {}), ExitedWithCode(4),
              "internal compiler error: in host_detect_local_cpu");
}

TEST_F(SpecFunctions, QuoteSpecWord) {
  EXPECT_EQ(quote_spec_word(""), "%\"");
  EXPECT_EQ(quote_spec_word("a.c"), "a.c");
  EXPECT_EQ(quote_spec_word("a b\tc\nd|e%f\\g"),
            "a\\ b\\\tc\\\nd\\|e\\%f\\\\g");
  // Specials first, last and side by side.
  EXPECT_EQ(quote_spec_word(" x "), "\\ x\\ ");
  EXPECT_EQ(quote_spec_word("%%||"), "\\%\\%\\|\\|");
  EXPECT_EQ(quote_spec_word("\\"), "\\\\");
}

TEST_F(SpecFunctions, Getenv) {
  setenv("VELK_TEST_HOME", "/home/a", 1);
  EXPECT_EQ(call("getenv", {"VELK_TEST_HOME", "/x"}),
            "\\/\\h\\o\\m\\e\\/\\a/x");
  setenv("VELK_TEST_HOME", "", 1);
  EXPECT_EQ(call("getenv", {"VELK_TEST_HOME", "tail"}), "tail");
  EXPECT_EQ(call("getenv", {"VELK_TEST_HOME"}), std::nullopt);
  EXPECT_EQ(call("getenv", {"VELK_TEST_HOME", "a", "b"}), std::nullopt);
  unsetenv("VELK_TEST_HOME");
  EXPECT_EXIT(call("getenv", {"VELK_TEST_HOME", "/x"}), ExitedWithCode(1),
              "^velk\\+\\+: fatal error: environment variable "
              "'VELK_TEST_HOME' not defined\ncompilation terminated.\n$");
  spec_state().undefined_env_allowed = true;
  EXPECT_EQ(call("getenv", {"VELK_TEST_HOME", "/x"}), "/VELK_TEST_HOME");
}

TEST_F(SpecFunctions, IfExistsFamily) {
  // A directory whose name holds characters special to specs: the path
  // must come back as one literal word.
  std::string file = make_file("odd dir%x/lib.a");
  std::string quoted = quote_spec_word(file);
  ASSERT_NE(quoted, file);
  std::string missing = dir_ + "/missing";
  ASSERT_EQ(chdir(dir_.c_str()), 0);
  std::string relative = "odd dir%x/lib.a"; // exists, but relative

  struct {
    const char* function;
    words args;
    result expected;
  } cases[] = {
      {"if-exists", {file}, quoted},
      {"if-exists", {missing}, std::nullopt},
      {"if-exists", {relative}, std::nullopt},
      {"if-exists", {file, file}, std::nullopt},
      {"if-exists", {}, std::nullopt},
      {"if-exists-else", {file, "other"}, quoted},
      {"if-exists-else", {missing, "other"}, "other"},
      {"if-exists-else", {relative, "a b"}, "a\\ b"},
      {"if-exists-else", {file}, std::nullopt},
      {"if-exists-then-else", {file, "then"}, "then"},
      {"if-exists-then-else", {file, "then", "else"}, "then"},
      {"if-exists-then-else", {missing, "then", "else"}, "else"},
      {"if-exists-then-else", {missing, "then"}, std::nullopt},
      {"if-exists-then-else", {file}, std::nullopt},
      {"if-exists-then-else", {file, "a", "b", "c"}, std::nullopt},
  };
  for (const auto& c : cases)
    EXPECT_EQ(call(c.function, c.args), c.expected)
        << c.function << " " << c.args.size();
  ASSERT_EQ(chdir("/"), 0);
}

TEST_F(SpecFunctions, Sanitize) {
  struct {
    std::uint32_t flags, trap;
    const char* kind;
    bool expected;
  } cases[] = {
      {0x3, 0, "address", true},
      {0x5, 0, "address", false},
      {0x5, 0, "kernel-address", true},
      {0x30000000, 0, "hwaddress", true},
      {0x50000000, 0, "kernel-hwaddress", true},
      {0x50000000, 0, "hwaddress", false},
      {0x8, 0, "thread", true},
      {0x0, 0, "thread", false},
      {0x20, 0, "undefined", true},
      {0x20, 0x20, "undefined", false},
      {0x60, 0x20, "undefined", true},
      {0x4000000, 0, "undefined", false}, // outside the undefined mask
      {0x10, 0, "leak", true},
      {0x13, 0, "leak", false}, // with address
      {0x18, 0, "leak", false}, // with thread
      {0xffffffff, 0, "memory", false},
  };
  for (const auto& c : cases) {
    global_options.flag_sanitize = c.flags;
    global_options.flag_sanitize_trap = c.trap;
    EXPECT_EQ(call("sanitize", {c.kind}),
              c.expected ? result(empty_text) : std::nullopt)
        << c.kind << " " << std::hex << c.flags;
  }
  global_options.flag_sanitize = 0xffffffff;
  EXPECT_EQ(call("sanitize", {}), std::nullopt);
  EXPECT_EQ(call("sanitize", {"address", "thread"}), std::nullopt);
}

TEST_F(SpecFunctions, OutputNames) {
  outputs_ = {"a.o", "b.o", "a.o", ""};
  EXPECT_EQ(call("replace-outfile", {"a.o", "c.o"}), std::nullopt);
  EXPECT_EQ(outputs_, (words{"c.o", "b.o", "c.o", ""}));
  EXPECT_EQ(call("remove-outfile", {"b.o"}), std::nullopt);
  EXPECT_EQ(outputs_, (words{"c.o", "", "c.o", ""}));
  EXPECT_EQ(call("remove-outfile", {"zz.o"}), std::nullopt);
  EXPECT_EQ(outputs_, (words{"c.o", "", "c.o", ""}));
}

// A misused function is a fault of a built-in spec (internal error, status
// 4) but the user's error in a spec file (spec failure, status 1).
TEST_F(SpecFunctions, MisuseReports) {
  struct {
    const char* function;
    words args;
    const char* internal; // the function the internal error names
    const char* user;     // the message for a user's spec file
  } cases[] = {
      {"replace-outfile",
       {"a"},
       "replace_outfile_spec_function",
       "wrong number of arguments to '%:replace-outfile'"},
      {"remove-outfile",
       {},
       "remove_outfile_spec_function",
       "wrong number of arguments to '%:remove-outfile'"},
      {"include",
       {"a", "b"},
       "include_spec_function",
       "wrong number of arguments to '%:include'"},
      {"find-file",
       {},
       "find_file_spec_function",
       "wrong number of arguments to '%:find-file'"},
      {"find-plugindir",
       {"x"},
       "find_plugindir_spec_function",
       "wrong number of arguments to '%:find-plugindir'"},
      {"gt",
       {},
       "greater_than_spec_func",
       "wrong number of arguments to '%:gt'"},
      {"gt",
       {"x", "1"},
       "greater_than_spec_func",
       "invalid argument 'x' to '%:gt'"},
      {"gt",
       {"1", "1x"},
       "greater_than_spec_func",
       "invalid argument '1x' to '%:gt'"},
      {"debug-level-gt",
       {"one"},
       "debug_level_greater_than_spec_func",
       "invalid argument 'one' to '%:debug-level-gt'"},
      {"dwarf-version-gt",
       {""},
       "dwarf_version_greater_than_spec_func",
       "invalid argument '' to '%:dwarf-version-gt'"},
      {"version-compare",
       {"", "1", "m", "x"},
       "version_compare_spec_function",
       "invalid argument '' to '%:version-compare'"},
  };
  for (const auto& c : cases) {
    spec_state().user_spec = false;
    EXPECT_EXIT(call(c.function, c.args), ExitedWithCode(4),
                std::string("internal compiler error: in ") + c.internal +
                    ", at specs/spec_functions.cc")
        << c.function;
    spec_state().user_spec = true;
    EXPECT_EXIT(call(c.function, c.args), ExitedWithCode(1),
                std::string("^velk\\+\\+: fatal error: spec failure: ") +
                    c.user + "\ncompilation terminated.\n$")
        << c.function;
  }
}

TEST_F(SpecFunctions, FatalMessages) {
  struct {
    const char* function;
    words args;
    const char* message;
  } cases[] = {
      {"compare-debug-dump-opt",
       {"x"},
       "too many arguments to %:compare-debug-dump-opt"},
      {"compare-debug-self-opt",
       {"x"},
       "too many arguments to %:compare-debug-self-opt"},
      {"dumps", {"a", "b"}, "too many arguments for %:dumps"},
      {"debug-level-gt", {}, "wrong number of arguments to %:debug-level-gt"},
      {"dwarf-version-gt",
       {"1", "2"},
       "wrong number of arguments to %:dwarf-version-gt"},
      {"version-compare",
       {">=", "1"},
       "too few arguments to %:version-compare"},
      {"version-compare",
       {">=", "1", "m", "x", "y"},
       "too many arguments to %:version-compare"},
      {"version-compare",
       {"><", "1", "m", "x"},
       "too many arguments to %:version-compare"},
      {"version-compare",
       {"=", "1", "m", "x"},
       "unknown operator '=' in %:version-compare"},
  };
  for (const auto& c : cases)
    EXPECT_EXIT(call(c.function, c.args), ExitedWithCode(1),
                std::string("^velk\\+\\+: fatal error: ") + c.message +
                    "\ncompilation terminated.\n$")
        << c.function;
}

TEST_F(SpecFunctions, VersionCompare) {
  struct {
    const char* switch_name; // empty: no switch
    words args;
    bool expected;
  } cases[] = {
      {"mfoo=10.3.9", {">=", "10.3", "mfoo=", "-lbar"}, true},
      {"mfoo=10.3", {">=", "10.3", "mfoo=", "-lbar"}, true},
      {"mfoo=10.2", {">=", "10.3", "mfoo=", "-lbar"}, false},
      {"mfoo=9", {">=", "10", "mfoo=", "-lbar"}, false}, // numbers, not text
      {"", {">=", "10.3", "mfoo=", "-lbar"}, false},
      {"", {"!<", "10.3", "mfoo=", "-lbar"}, true},
      {"mfoo=10.2", {"!<", "10.3", "mfoo=", "-lbar"}, false},
      {"mfoo=10.2", {"<", "10.3", "mfoo=", "-lbar"}, true},
      {"mfoo=10.3", {"<", "10.3", "mfoo=", "-lbar"}, false},
      {"", {"<", "10.3", "mfoo=", "-lbar"}, true},
      {"", {"!>", "10.3", "mfoo=", "-lbar"}, true},
      {"mfoo=11", {"!>", "10.3", "mfoo=", "-lbar"}, false},
      {"mfoo=2.5", {"><", "2", "3", "mfoo=", "-lbar"}, true},
      {"mfoo=3", {"><", "2", "3", "mfoo=", "-lbar"}, false},
      {"mfoo=1.9", {"><", "2", "3", "mfoo=", "-lbar"}, false},
      {"", {"><", "2", "3", "mfoo=", "-lbar"}, false},
      {"mfoo=3", {"<>", "2", "3", "mfoo=", "-lbar"}, true},
      {"mfoo=2.0", {"<>", "2", "3", "mfoo=", "-lbar"}, false},
      {"", {"<>", "2", "3", "mfoo=", "-lbar"}, true},
      {"mbar=1", {">=", "0", "mfoo=", "-lbar"}, false},
  };
  for (const auto& c : cases) {
    switches_.clear();
    if (*c.switch_name)
      add_switch(c.switch_name);
    EXPECT_EQ(call("version-compare", c.args),
              c.expected ? result(c.args.back()) : std::nullopt)
        << c.switch_name << " " << c.args[0] << " " << c.args[1];
  }
  // The last live switch wins; the liveness test decides which count.
  switches_.clear();
  add_switch("mfoo=1");
  add_switch("mfoo=5");
  words ge3 = {">=", "3", "mfoo=", "yes"};
  EXPECT_EQ(call("version-compare", ge3), "yes");
  // The interpreter's liveness rules apply: a switch made dead does not
  // count.
  switches_[1].liveness = dead;
  EXPECT_EQ(call("version-compare", ge3), std::nullopt);
}

TEST_F(SpecFunctions, VersionSyntax) {
  EXPECT_EQ(compare_version_strings("10.3.9", "10.3"), 1);
  EXPECT_EQ(compare_version_strings("1.10", "1.9"), 1);
  EXPECT_EQ(compare_version_strings("0", "0.0"), -1);
  EXPECT_EQ(compare_version_strings("12345678901234567890", "2"), 1);
  EXPECT_EQ(compare_version_strings("4.0.1", "4.0.1"), 0);
  for (const char* bad : {"10.03", "", "1.", ".1", "1..2", "01", "1.a", "-1"})
    EXPECT_EXIT(compare_version_strings("1", bad), ExitedWithCode(1),
                std::string("fatal error: invalid version number '") + bad +
                    "'")
        << bad;
  add_switch("mfoo=10.3");
  EXPECT_EXIT(call("version-compare", {">=", "10.03", "mfoo=", "x"}),
              ExitedWithCode(1), "invalid version number '10.03'");
}

TEST_F(SpecFunctions, NumericTests) {
  struct {
    const char* function;
    words args;
    bool expected;
  } cases[] = {
      {"gt", {"1"}, false}, // -ftree-parallelize-loops= not given
      {"gt", {"4", "1"}, true},
      {"gt", {"1", "1"}, false},
      {"gt", {"junk", "-2", "-3"}, true}, // only the last two count
      {"gt", {"+7", "6"}, true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(call(c.function, c.args),
              c.expected ? result(empty_text) : std::nullopt)
        << c.args[0];
  global_options.debug_info_level = 2;
  EXPECT_EQ(call("debug-level-gt", {"1"}), empty_text);
  EXPECT_EQ(call("debug-level-gt", {"2"}), std::nullopt);
  global_options.debug_info_level = 0;
  EXPECT_EQ(call("debug-level-gt", {"0"}), std::nullopt);
  global_options.dwarf_version = 5;
  EXPECT_EQ(call("dwarf-version-gt", {"4"}), empty_text);
  EXPECT_EQ(call("dwarf-version-gt", {"5"}), std::nullopt);
}

TEST_F(SpecFunctions, PassThroughLibs) {
  EXPECT_EQ(call("pass-through-libs", {"-lm", "libx.a", "foo.o", "-l"}),
            " -plugin-opt=-pass-through=-lm -plugin-opt=-pass-through=libx.a ");
  EXPECT_EQ(call("pass-through-libs", {"-l", "c", "-lvelk", ".a", "a"}),
            " -plugin-opt=-pass-through=-lc -plugin-opt=-pass-through=-lvelk "
            "-plugin-opt=-pass-through=.a ");
  EXPECT_EQ(call("pass-through-libs", {}), " ");
  // Paths stay one word.
  EXPECT_EQ(call("pass-through-libs", {"/my libs/libx.a"}),
            " -plugin-opt=-pass-through=/my\\ libs/libx.a ");
}

TEST_F(SpecFunctions, Dumps) {
  input_.set("dir/a.c", 0);
  EXPECT_EQ(call("dumps", {}), " -dumpbase a.c -dumpbase-ext .c");
  // The second compilation of -fcompare-debug.
  spec_state().compare_debug = -1;
  EXPECT_EQ(call("dumps", {}), " -dumpbase a.gk.c -dumpbase-ext .c");
  spec_state().compare_debug = 0;
  // An extension word that differs from the suffix replaces it.
  EXPECT_EQ(call("dumps", {".ada"}), " -dumpbase a.ada -dumpbase-ext .ada");
  spec_state().dump_dir = "out dir/";
  EXPECT_EQ(call("dumps", {}),
            " -dumpdir out\\ dir/ -dumpbase a.c -dumpbase-ext .c");
  spec_state().dump_dir = "";
  EXPECT_EQ(call("dumps", {}), " -dumpdir %\" -dumpbase a.c -dumpbase-ext .c");
  spec_state().dump_dir.reset();
  // An output base: the extension is always appended.
  spec_state().output_base = "hello-extra";
  spec_state().output_base_length = 5;
  EXPECT_EQ(call("dumps", {}), " -dumpbase hello.c -dumpbase-ext .c");
  // -dumpbase: no extension unless -dumpbase-ext gives one.
  spec_state().dump_base = "base.x";
  spec_state().output_base_length = 4;
  EXPECT_EQ(call("dumps", {}), " -dumpbase base");
  spec_state().dump_base_ext = ".x";
  EXPECT_EQ(call("dumps", {}), " -dumpbase base.x -dumpbase-ext .x");
  spec_state().dump_base_ext = ".y";
  EXPECT_EQ(call("dumps", {}), " -dumpbase base.y -dumpbase-ext .y");
}

TEST_F(SpecFunctions, CompareDebugDumpOpt) {
  spec_interpreter_state& c = spec_state();
  input_.set("dir/a b.c", 0);
  // What -fdump-final-insns= gives, as a switch.
  auto given = [&](const char* value) {
    switches_.clear();
    if (value)
      add_switch(std::string("fdump-final-insns=") + value);
  };
  given(nullptr);
  // Not in force, no option given: nothing.
  EXPECT_EQ(call("compare-debug-dump-opt", {}), std::nullopt);
  given("my.dump");
  EXPECT_EQ(call("compare-debug-dump-opt", {}), std::nullopt);

  c.compare_debug = 1;
  given(nullptr);
  result first = call("compare-debug-dump-opt", {});
  ASSERT_TRUE(first);
  ASSERT_TRUE(c.random_seed);
  EXPECT_TRUE(c.random_seed->starts_with("0x"));
  EXPECT_LE(c.random_seed->size(), 18u);
  // A temporary name (%g.gkd) without -save-temps.
  ASSERT_TRUE(c.compare_debug_dumps[0]);
  const std::string temp = *c.compare_debug_dumps[0];
  EXPECT_TRUE(temp.ends_with(".gkd")) << temp;
  EXPECT_EQ(*first, "%{!frandom-seed=*:-frandom-seed=" + *c.random_seed +
                        "} -fdump-final-insns=" + quote_spec_word(temp));

  // The second compilation reuses the seed, then forgets it.
  c.compare_debug = -1;
  std::string seed = *c.random_seed;
  given(".");
  EXPECT_EQ(call("compare-debug-dump-opt", {}),
            "%{!frandom-seed=*:-frandom-seed=" + seed +
                "} -fdump-final-insns=a\\ b.gk.c.gkd");
  // %B of the second compilation carries its ".gk".
  EXPECT_EQ(c.compare_debug_dumps[1], "a b.gk.c.gkd");
  EXPECT_FALSE(c.random_seed);

  // A name the user chose is recorded and gets no option of its own.
  given("my.dump");
  EXPECT_EQ(call("compare-debug-dump-opt", {}), std::nullopt);
  EXPECT_EQ(c.compare_debug_dumps[1], "my.dump");
}

TEST_F(SpecFunctions, CompareDebugSelfOpt) {
  spec_interpreter_state& c = spec_state();
  c.compare_debug_option = "-gtoggle";
  c.compare_debug = 1;
  EXPECT_EQ(call("compare-debug-self-opt", {}), std::nullopt);
  c.compare_debug = -1;
  EXPECT_EQ(call("compare-debug-self-opt", {}),
            "%<o %<MD %<MMD %<MF* %<MG %<MP %<MQ* %<MT* %<fdump-final-insns=* "
            "-w -S -o %j %{!fcompare-debug-second:-fcompare-debug-second} "
            "-gtoggle");
}

TEST_F(SpecFunctions, FileLookups) {
  std::string prefix = dir_ + "/lib 100%/";
  std::string found = make_file("lib 100%/crt1.o");
  make_file("lib 100%/plugin/x");
  add_startfile_prefix(prefix);
  const std::string quoted_prefix = quote_spec_word(prefix);
  EXPECT_EQ(call("find-file", {"crt1.o"}), quote_spec_word(found));
  EXPECT_EQ(call("find-file", {"crtx.o"}), "crtx.o");
  EXPECT_EQ(call("find-file", {found}), quote_spec_word(found));
  EXPECT_EQ(call("find-file", {"/no/such.o"}), "/no/such.o");
  EXPECT_EQ(call("find-plugindir", {}),
            "-iplugindir=" + quoted_prefix + "plugin");
  search_paths().startfile.clear();
  EXPECT_EQ(call("find-plugindir", {}), "-iplugindir=plugin");
}

TEST_F(SpecFunctions, Include) {
  static std::vector<std::string> read;
  read.clear();
  set_spec_file_reader([](const std::string& path) { read.push_back(path); });
  std::string found = make_file("lib/libzebomp.spec");
  make_file("cwd/libzebomp.spec");
  make_file("cwd/stray.spec");
  add_startfile_prefix(dir_ + "/lib/");
  ASSERT_EQ(chdir((dir_ + "/cwd").c_str()), 0);
  EXPECT_EQ(call("include", {"libzebomp.spec"}), std::nullopt);
  EXPECT_EQ(read, (words{found}));
  // Absolute names are read as given.
  EXPECT_EQ(call("include", {dir_ + "/cwd/stray.spec"}), std::nullopt);
  EXPECT_EQ(read.back(), dir_ + "/cwd/stray.spec");
  // A file found only in the current directory is not read.
  EXPECT_EXIT(call("include", {"stray.spec"}), ExitedWithCode(1),
              "^velk\\+\\+: fatal error: cannot read spec file 'stray.spec': "
              "No such file or directory\ncompilation terminated.\n$");
  ASSERT_EQ(chdir("/"), 0);
}

TEST_F(SpecFunctions, FortranPreincludeFile) {
  std::string in_dir = make_file("fdir/omp_lib.h");
  EXPECT_EQ(call("fortran-preinclude-file",
                 {"-fpre-include=", "omp_lib.h", dir_ + "/fdir"}),
            quote_spec_word("-fpre-include=" + in_dir));
  // The include list comes first.
  std::string in_include = make_file("inc/omp_lib.h");
  add_search_prefix(search_paths().include, dir_ + "/inc/", "", 0, 0, false);
  EXPECT_EQ(call("fortran-preinclude-file",
                 {"-fpre-include=", "omp_lib.h", dir_ + "/fdir"}),
            "-fpre-include=" + quote_spec_word(in_include));
  EXPECT_EQ(call("fortran-preinclude-file",
                 {"-fpre-include=", "none.h", dir_ + "/fdir"}),
            std::nullopt);
  EXPECT_EQ(call("fortran-preinclude-file", {"-fpre-include=", "omp_lib.h"}),
            std::nullopt);
}

TEST_F(SpecFunctions, PrintAsmHeader) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(call("print-asm-header", {"ignored"}), std::nullopt);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Assembler options\n=================\n\n"
            "Use \"-Wa,OPTION\" to pass \"OPTION\" to the assembler.\n\n");
}

} // namespace
} // namespace velk
