// End-to-end cases of spec files: -dumpspecs, the install-time "specs"
// file, -specs= files that rename, replace and append specs or add
// compilers-table rows, and every way a file can be malformed.
#include "tests/e2e/harness.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace velk::test {
namespace {

constexpr const char* terminated = "compilation terminated.\n";
constexpr const char* machine_dir =
    "/lib/velk/aarch64-portbld-freebsd14.3/13.3.0";

// The blocks "*NAME:\nTEXT\n\n" of a dump, in order.
std::vector<std::pair<std::string, std::string>>
dump_blocks(const std::string& dump) {
  std::vector<std::pair<std::string, std::string>> blocks;
  std::size_t at = 0;
  while (at < dump.size()) {
    EXPECT_EQ(dump[at], '*') << "at " << at;
    const std::size_t colon = dump.find(":\n", at);
    const std::size_t end = dump.find("\n\n", colon + 2);
    if (colon == std::string::npos || end == std::string::npos) {
      ADD_FAILURE() << "unterminated block at " << at;
      break;
    }
    blocks.emplace_back(dump.substr(at + 1, colon - at - 1),
                        dump.substr(colon + 2, end - colon - 2));
    at = end + 2;
  }
  return blocks;
}

const std::vector<std::vector<std::string>> sample_commands = {
    {"hello.cc", "-o", "hello"},
    {"-O2", "-c", "a.c"},
    {"-shared", "-pthread", "a.c", "hello.cc"},
    {"-static", "-mcpu=cortex-a72", "hello.cc"},
    {"-c", "-x", "assembler-with-cpp", "b.S"},
};

void write_sources(sandbox& box) {
  box.write_file("hello.cc", "int main() {}\n");
  box.write_file("a.c", "int a;\n");
  box.write_file("b.S", "nop\n");
}

TEST(SpecFiles, DumpspecsPrintsTheBuiltInSpecsInListOrder) {
  sandbox box;
  run_result r = box.run({"-dumpspecs", "-specs=nonexistent", "x.c"});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.err, "");
  auto blocks = dump_blocks(r.out);
  ASSERT_EQ(blocks.size(), 47u); // 45 built in, asm_cpu_spec, link_command
  EXPECT_EQ(blocks.front().first, "asm");
  EXPECT_EQ(blocks[44].first, "self_spec");
  EXPECT_EQ(blocks[45], std::make_pair(std::string("asm_cpu_spec"),
                                       std::string(" %{mcpu=*:-march=%:"
                                                   "rewrite_mcpu(%{mcpu=*:%*})"
                                                   "}")));
  EXPECT_EQ(blocks.back().first, "link_command");
  EXPECT_TRUE(blocks.back().second.starts_with("%{!fsyntax-only:%{!c:"));
  std::map<std::string, std::string> texts(blocks.begin(), blocks.end());
  // The installed texts: libvelk rewritten, link prefixed.
  EXPECT_EQ(texts["libvelk"],
            "%{static|static-libvelk|static-pie:-lvelk -lvelk_eh}"
            "%{!static:%{!static-libvelk:%{!static-pie:%{!shared-libvelk:"
            "-lvelk --push-state --as-needed -lvelk_s --pop-state}"
            "%{shared-libvelk:-lvelk_s%{!shared: -lvelk}}}}}");
  EXPECT_TRUE(texts["link"].starts_with("%{!static|static-pie:--eh-frame-hdr} "
                                        "%{p:%nconsider using"));
  EXPECT_EQ(texts["multilib"], ". ;");
  EXPECT_EQ(texts["link_zebomp"], "");

  // With -v the notice comes first, on standard error.
  r = box.run({"-v", "-dumpspecs"});
  EXPECT_EQ(r.err, "Using built-in specs.\n");
}

TEST(SpecFiles, DumpReadBackGivesTheSameDumpAndCommands) {
  sandbox box;
  write_sources(box);
  const std::string dump = box.run({"-dumpspecs"}).out;
  box.write_file("dumped.specs", dump);

  // Read as a user's file.
  EXPECT_EQ(box.run({"-specs=dumped.specs", "-dumpspecs"}).out, dump);
  for (const auto& args : sample_commands) {
    shown_run plain = show(box, args);
    std::vector<std::string> with_file = args;
    with_file.insert(with_file.begin(), "-specs=dumped.specs");
    shown_run read_back = show(box, with_file);
    ASSERT_FALSE(plain.commands.empty()) << args[0];
    EXPECT_EQ(read_back.commands, plain.commands) << args[0];
    EXPECT_EQ(read_back.exit_status, plain.exit_status) << args[0];
  }

  // Installed as the "specs" file: it replaces the built-in specs.
  std::vector<std::vector<std::string>> built_in;
  for (const auto& args : sample_commands)
    built_in.push_back(show(box, args).commands);
  const std::string installed = box.prefix() + machine_dir + "/specs";
  box.write_file(installed, dump);
  EXPECT_EQ(box.run({"-dumpspecs"}).out, dump);
  for (std::size_t i = 0; i < sample_commands.size(); ++i)
    EXPECT_EQ(show(box, sample_commands[i]).commands, built_in[i])
        << sample_commands[i][0];
  const std::string notes = show(box, {"-v", "a.c"}).notes;
  EXPECT_NE(notes.find("Reading specs from "), std::string::npos) << notes;
  EXPECT_EQ(notes.find("Using built-in specs."), std::string::npos) << notes;
}

TEST(SpecFiles, UserFileRenamesReplacesAndAppends) {
  sandbox box;
  write_sources(box);
  box.write_file("x.zz", "int z;\n");
  box.write_file("site.specs",
                 "# Site settings\n"
                 "%rename lib base_lib\n"
                 "\n"
                 "*lib:\n"
                 "-lsite %(base_lib)   # the old libraries follow\n"
                 "\n"
                 "*endfile:\n"
                 "+ -lafter\n"
                 "\n"
                 "*startfile:\n"
                 "my\\\n"
                 "crt.o%s\n"
                 "\n"
                 ".zz:\n"
                 "@c\n");
  shown_run base = show(box, {"a.c", "-o", "a"});
  shown_run r = show(box, {"-specs=site.specs", "-v", "x.zz", "-o", "a"});
  EXPECT_EQ(r.exit_status, 0) << r.notes;
  ASSERT_EQ(r.commands.size(), 3u) << r.notes;
  // .zz compiles as C.
  EXPECT_NE(r.commands[0].find("/tarn1 "), std::string::npos);
  const std::string& link = r.commands[2];
  EXPECT_NE(link.find(" -lsite -lc "), std::string::npos) << link;
  EXPECT_NE(link.find("/crtn.o -lafter"), std::string::npos) << link;
  EXPECT_NE(link.find(" mycrt.o "), std::string::npos) << link;
  EXPECT_EQ(link.find("crt1.o"), std::string::npos) << link;
  EXPECT_NE(base.commands.back().find("crt1.o"), std::string::npos);
  EXPECT_NE(r.notes.find("Reading specs from site.specs\n"
                         "rename spec lib to base_lib\n"),
            std::string::npos)
      << r.notes;

  // Files are read in command-line order: the second one's definition
  // wins, and an append adds to what the first left.
  box.write_file("one.specs", "*lib:\n-lone\n");
  box.write_file("two.specs", "*lib:\n+ -ltwo\n");
  r = show(box, {"-specs=one.specs", "-specs=two.specs", "a.c"});
  EXPECT_NE(r.commands.back().find(" -lone -ltwo "), std::string::npos);
  r = show(box, {"-specs=two.specs", "-specs=one.specs", "a.c"});
  EXPECT_NE(r.commands.back().find(" -lone "), std::string::npos);
  EXPECT_EQ(r.commands.back().find("-ltwo"), std::string::npos);
}

TEST(SpecFiles, LineEndsAndIncludes) {
  sandbox box;
  write_sources(box);
  const std::string lf = "*lib:\n-lx\n\n*endfile:\n+ -ly\n";
  box.write_file("lf.specs", lf);
  const std::vector<std::string> lf_link =
      show(box, {"-specs=lf.specs", "a.c"}).commands;
  for (const char* ends : {"\r\n", "\r", "\n\r"}) {
    box.write_file("other.specs", replace_all(lf, "\n", ends));
    EXPECT_EQ(show(box, {"-specs=other.specs", "a.c"}).commands, lf_link)
        << ends;
  }

  // %include finds files in the start-file directories, else takes the
  // name as given; %include_noerr skips a file it cannot find.
  box.write_file(box.prefix() + machine_dir + "/part.specs",
                 "*endfile:\n+ -ly\n");
  box.write_file("local.specs", "*lib:\n-lx\n");
  box.write_file("top.specs", "%include <local.specs>\n"
                              "%include_noerr <missing.specs>\n"
                              "%include <part.specs>\n");
  shown_run r = show(box, {"-specs=top.specs", "a.c"});
  EXPECT_EQ(r.commands, lf_link);
  r = show(box, {"-v", "-specs=top.specs", "a.c"});
  EXPECT_NE(r.notes.find("could not find specs file missing.specs\n"),
            std::string::npos)
      << r.notes;

  // %:include in the link command reads a file of the start-file
  // directories as it is expanded; what it defines is used at once.
  box.write_file(box.prefix() + machine_dir + "/libzebomp.spec",
                 "# the OpenMP run-time\n*link_zebomp:\n-lzebomp\n");
  r = show(box, {"-fopenmp", "a.c"});
  ASSERT_FALSE(r.commands.empty()) << r.notes;
  EXPECT_NE(r.commands.back().find(" -lzebomp "), std::string::npos)
      << r.commands.back();

  // The same file included twice in a row is no cycle.
  box.write_file("twice.specs", "%include <lf.specs>\n%include <lf.specs>\n");
  r = show(box, {"-specs=twice.specs", "a.c"});
  EXPECT_EQ(r.exit_status, 0) << r.notes;
}

TEST(SpecFiles, MalformedFilesAreFatal) {
  sandbox box;
  write_sources(box);
  box.write_file("dir.specs/x");
  box.write_file("self.specs", "*lib:\n-lx\n\n%include <self.specs>\n");
  box.write_file("a.specs", "%include <b.specs>\n");
  box.write_file("b.specs", "%include <a.specs>\n");
  struct {
    std::string content; // written to bad.specs unless empty
    std::string file;
    std::string message;
  } cases[] = {
      {"*lib\n-lx\n", "bad.specs", "specs file malformed after 4 characters"},
      {"*lib:\n-lx\n\n*asm", "bad.specs",
       "specs file malformed after 15 characters"},
      {"*lib:", "bad.specs", "specs file malformed after 5 characters"},
      {"*lib: x", "bad.specs", "specs file malformed after 6 characters"},
      {"%include x.specs\n", "bad.specs",
       "specs %include syntax malformed after 11 characters"},
      {"%include   <x.specs\n", "bad.specs",
       "specs %include syntax malformed after 13 characters"},
      {"%include_noerr <x.specs> \n", "bad.specs",
       "specs %include syntax malformed after 17 characters"},
      {"%rename lib\n", "bad.specs",
       "specs %rename syntax malformed after 11 characters"},
      {"%rename 1lib x\n", "bad.specs",
       "specs %rename syntax malformed after 8 characters"},
      {"%rename lib\tnew extra\n", "bad.specs",
       "specs %rename syntax malformed after 15 characters"},
      {"%rename lib _new\n", "bad.specs",
       "specs %rename syntax malformed after 12 characters"},
      {"%rename nosuch other\n", "bad.specs",
       "specs nosuch spec was not found to be renamed"},
      {"%rename lib link\n", "bad.specs",
       "bad.specs: attempt to rename spec 'lib' to already defined spec "
       "'link'"},
      {"\n  %define x\n", "bad.specs",
       "specs unknown % command after 3 characters"},
      {"%includex <y>\n", "bad.specs",
       "specs unknown % command after 0 characters"},
      {std::string("*lib:\n-l\0x\n", 11), "bad.specs",
       "specs file contains a NUL byte after 8 characters"},
      {"", "self.specs",
       "spec file 'self.specs' includes itself, directly or through other "
       "spec files"},
      {"", "a.specs",
       "spec file 'a.specs' includes itself, directly or through other "
       "spec files"},
      {"", "dir.specs", "cannot read spec file 'dir.specs': Is a directory"},
      {"", "nonexistent.specs",
       "cannot read spec file 'nonexistent.specs': No such file or "
       "directory"},
  };
  for (const auto& c : cases) {
    if (!c.content.empty())
      box.write_file("bad.specs", c.content);
    run_result r = box.run({"-specs=" + c.file, "a.c"});
    EXPECT_EQ(r.exit_status, 1) << c.message;
    EXPECT_EQ(r.err, "velk++: fatal error: " + c.message + "\n" + terminated);
    EXPECT_TRUE(r.calls.empty()) << c.message;
  }

  // Distinct files nest at most 64 deep.
  for (int i = 0; i < 70; ++i)
    box.write_file("chain" + std::to_string(i) + ".specs",
                   "%include <chain" + std::to_string(i + 1) + ".specs>\n");
  run_result deep = box.run({"-specs=chain0.specs", "a.c"});
  EXPECT_EQ(deep.err, std::string("velk++: fatal error: spec file "
                                  "'chain64.specs' is included more than 64 "
                                  "levels deep\n") +
                          terminated);

  // Directives are not recognised in the install-time file.
  box.write_file(box.prefix() + machine_dir + "/specs",
                 "*lib:\n-lx\n\n%include <y>\n");
  run_result r = box.run({"a.c"});
  EXPECT_EQ(r.err, std::string("velk++: fatal error: specs file malformed "
                               "after 23 characters\n") +
                       terminated);
}

TEST(SpecFiles, UnreadableFileIsFatal) {
  if (geteuid() == 0)
    GTEST_SKIP() << "root reads every file";
  sandbox box;
  write_sources(box);
  box.write_file("locked.specs", "*lib:\n-lx\n");
  ASSERT_EQ(chmod((box.work() + "/locked.specs").c_str(), 0), 0);
  run_result r = box.run({"-specs=locked.specs", "a.c"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err, std::string("velk++: fatal error: cannot read spec file "
                               "'locked.specs': Permission denied\n") +
                       terminated);
}

TEST(SpecFiles, LargeFileIsReadInLinearTime) {
  // 10 MiB of definitions: new specs, appends to one spec, renames and
  // suffix rows.  Quadratic work on any of them would not finish.
  sandbox box;
  write_sources(box);
  std::string text;
  text.reserve(10u << 20);
  for (int i = 0; text.size() < (10u << 20); ++i) {
    const std::string n = std::to_string(i);
    text += "*s" + n + ":\n-x" + n + "\n\n";
    text += "*cc1_note:\n+ -y\n\n";
    text += "%rename s" + n + " r" + n + "\n";
    text += ".q" + n + ":\n@c\n\n";
  }
  box.write_file("big.specs", text);
  run_options opts;
  opts.timeout_seconds = 120;
  run_result r = box.run({"-###", "-specs=big.specs", "-c", "a.c"}, opts);
  EXPECT_EQ(r.exit_status, 0) << r.err.substr(0, 500);
}

} // namespace
} // namespace velk::test
