// End-to-end cases of the informational queries: what velk++ reports about
// itself, exact to the byte, since build tools parse these answers.
#include "tests/e2e/harness.h"

#include <gtest/gtest.h>

#include <sstream>

namespace velk::test {
namespace {

constexpr const char* machine = "aarch64-portbld-freebsd14.3/13.3.0/";
constexpr const char* target = "aarch64-portbld-freebsd14.3";

const std::string banner =
    "Target: aarch64-portbld-freebsd14.3\n"
    "Configured with: /usr/src/velk/configure --prefix=/usr/local/brae13 "
    "--target=aarch64-portbld-freebsd14.3 --enable-languages=c,c++ "
    "--with-system-zlib --disable-nls\n"
    "Thread model: posix\n"
    "Supported LTO compression algorithms: zlib\n"
    "velk version 13.3.0 20240521 (release) [brae13 build 1] (VELK) \n";

const std::string version_text =
    "velk++ (VELK) 13.3.0 20240521 (release) [brae13 build 1]\n"
    "Copyright (C) 2024 The Velk Project.\n"
    "This is free software; see the source for copying conditions.  There is "
    "NO\nwarranty; not even for MERCHANTABILITY or FITNESS FOR A PARTICULAR "
    "PURPOSE.\n\n";

std::string help_text(bool verbose) {
  std::string text = "Usage: velk++ [options] file...\n"
                     "Options:\n"
                     "  -pass-exit-codes         Exit with highest error code "
                     "from a phase.\n"
                     "  --help                   Display this information.\n"
                     "  --target-help            Display target specific "
                     "command line options (including assembler and linker "
                     "options).\n"
                     "  --help={common|optimizers|params|target|warnings|[^]{"
                     "joined|separate|undocumented}}[,...].\n"
                     "                           Display specific types of "
                     "command line options.\n";
  if (!verbose)
    text += "  (Use '-v --help' to display command line options of "
            "sub-processes).\n";
  text +=
      "  --version                Display compiler version information.\n"
      "  -dumpspecs               Display all of the built in spec strings.\n"
      "  -dumpversion             Display the version of the compiler.\n"
      "  -dumpmachine             Display the compiler's target processor.\n"
      "  -foffload=<targets>      Specify offloading targets.\n"
      "  -print-search-dirs       Display the directories in the compiler's "
      "search path.\n"
      "  -print-libvelk-file-name  Display the name of the compiler's "
      "companion library.\n"
      "  -print-file-name=<lib>   Display the full path to library <lib>.\n"
      "  -print-prog-name=<prog>  Display the full path to compiler component "
      "<prog>.\n"
      "  -print-multiarch         Display the target's normalized ZEB "
      "triplet, used as\n"
      "                           a component in the library path.\n"
      "  -print-multi-directory   Display the root directory for versions of "
      "libvelk.\n"
      "  -print-multi-lib         Display the mapping between command line "
      "options and\n"
      "                           multiple library search directories.\n"
      "  -print-multi-os-directory Display the relative path to OS "
      "libraries.\n"
      "  -print-sysroot           Display the target libraries directory.\n"
      "  -print-sysroot-headers-suffix Display the sysroot suffix used to "
      "find headers.\n"
      "  -Wa,<options>            Pass comma-separated <options> on to the "
      "assembler.\n"
      "  -Wp,<options>            Pass comma-separated <options> on to the "
      "preprocessor.\n"
      "  -Wl,<options>            Pass comma-separated <options> on to the "
      "linker.\n"
      "  -Xassembler <arg>        Pass <arg> on to the assembler.\n"
      "  -Xpreprocessor <arg>     Pass <arg> on to the preprocessor.\n"
      "  -Xlinker <arg>           Pass <arg> on to the linker.\n"
      "  -save-temps              Do not delete intermediate files.\n"
      "  -save-temps=<arg>        Do not delete intermediate files.\n"
      "  -no-canonical-prefixes   Do not canonicalize paths when building "
      "relative\n"
      "                           prefixes to other velk components.\n"
      "  -pipe                    Use pipes rather than intermediate files.\n"
      "  -time                    Time the execution of each subprocess.\n"
      "  -specs=<file>            Override built-in specs with the contents "
      "of <file>.\n"
      "  -std=<standard>          Assume that the input sources are for "
      "<standard>.\n"
      "  --sysroot=<directory>    Use <directory> as the root directory for "
      "headers\n"
      "                           and libraries.\n"
      "  -B <directory>           Add <directory> to the compiler's search "
      "paths.\n"
      "  -v                       Display the programs invoked by the "
      "compiler.\n"
      "  -###                     Like -v but options quoted and commands not "
      "executed.\n"
      "  -E                       Preprocess only; do not compile, assemble "
      "or link.\n"
      "  -S                       Compile only; do not assemble or link.\n"
      "  -c                       Compile and assemble, but do not link.\n"
      "  -o <file>                Place the output into <file>.\n"
      "  -pie                     Create a dynamically linked position "
      "independent\n"
      "                           executable.\n"
      "  -shared                  Create a shared library.\n"
      "  -x <language>            Specify the language of the following "
      "input files.\n"
      "                           Permissible languages include: c c++ "
      "assembler none\n"
      "                           'none' means revert to the default "
      "behavior of\n"
      "                           guessing the language based on the file's "
      "extension.\n"
      "\nOptions starting with -g, -f, -m, -O, -W, or --param are "
      "automatically\n passed on to the various sub-processes invoked by "
      "velk++.  In order to pass\n other options on to these processes the "
      "-W<letter> options must be used.\n";
  return text;
}

// Standard error without the lines -v prints about the environment and
// the specs.
std::string without_echo(const std::string& err) {
  std::string kept;
  std::istringstream in(err);
  for (std::string line; std::getline(in, line);)
    if (!line.starts_with("SHEAF_") && !line.starts_with("VELK_EXEC_PREFIX=") &&
        line != "Using built-in specs.")
      kept += line + "\n";
  return kept;
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = text.find(separator, start);
    pieces.push_back(text.substr(start, end - start));
    if (end == std::string::npos)
      return pieces;
    start = end + 1;
  }
}

TEST(Queries, VersionAndBanner) {
  sandbox box;
  run_result r = box.run({"--version"});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.out, version_text);
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(r.calls.empty());

  // -v alone: the banner, and nothing to compile.
  r = box.run({"-v"});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(without_echo(r.err), banner);
  EXPECT_TRUE(r.calls.empty());
  // -### without inputs too; options that reach no command change nothing.
  r = box.run({"-###", "-O2"});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(without_echo(r.err), banner);

  // -v with an input: the banner, then the compilation.
  box.write_file("a.c", "int x;\n");
  r = box.run({"-v", "-c", "a.c"});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_TRUE(without_echo(r.err).starts_with(banner)) << r.err;
  EXPECT_EQ(r.programs(), (std::vector<std::string>{"tarn1xx", "as"}));

  // --version -v: the version, an empty line, the banner, and the
  // subprocesses asked for their versions.
  r = box.run({"--version", "-v"});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_TRUE(r.out.starts_with(version_text + "\n")) << r.out;
  EXPECT_TRUE(without_echo(r.err).starts_with(banner)) << r.err;
  ASSERT_FALSE(r.calls.empty());
  EXPECT_NE(r.calls.back().joined_args().find("--version"), std::string::npos);
}

TEST(Queries, HelpText) {
  sandbox box;
  const std::string bug_lines =
      "\nFor bug reporting instructions, please see:\n"
      "<https://velk.example.org/bugs>";
  run_result r = box.run({"--help"});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.out, help_text(false) + bug_lines + ".\n");
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(r.calls.empty());

  // The help acts before the version.
  r = box.run({"--help", "--version"});
  EXPECT_EQ(r.out, help_text(false) + bug_lines + ".\n");

  // -v --help: the help without the hint, the subprocesses' help on a
  // dummy input, then where to report bugs.
  r = box.run({"-v", "--help"});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_TRUE(r.out.starts_with(help_text(true) + "\n")) << r.out;
  EXPECT_TRUE(r.out.ends_with(bug_lines + "\n")) << r.out;
  EXPECT_TRUE(without_echo(r.err).starts_with(banner)) << r.err;
  ASSERT_EQ(r.programs(), (std::vector<std::string>{"tarn1", "as", "sheaf2"}));
  for (const tool_call& call : r.calls)
    EXPECT_NE(call.joined_args().find("--help"), std::string::npos)
        << call.program;

  // The program name is the one invoked.
  r = box.run({"--help"}, {.argv0 = "/x/aarch64-velk++"});
  EXPECT_TRUE(r.out.starts_with("Usage: aarch64-velk++ [options] file...\n"));
  EXPECT_NE(r.out.find("invoked by aarch64-velk++.  In order"),
            std::string::npos);
}

TEST(Queries, SearchDirectories) {
  sandbox box;
  const std::string p = box.prefix() + "/bin/..";
  const std::string m = machine, t = target;
  const std::string exec = p + "/lib/velk/" + m;
  const std::string programs = "programs: =" + p + "/libexec/velk/" + m + ":" +
                               p + "/libexec/velk/:" + exec + "../../../../" +
                               t + "/bin/" + m + ":" + exec + "../../../../" +
                               t + "/bin/\n";
  const std::string libraries =
      "libraries: =" + exec + ":" + p + "/lib/velk/:" + exec + "../../../../" +
      t + "/lib/" + m + ":" + exec + "../../../../" + t + "/lib/:" + exec +
      "../../../" + m + ":" + exec + "../../../:/lib/" + m +
      ":/lib/:/usr/lib/" + m + ":/usr/lib/\n";
  run_result r = box.run({"-print-search-dirs"});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.out, "install: " + p + "/lib/velk/\n" + programs + libraries);
  EXPECT_EQ(r.err, "");

  // Later queries are not answered; an unknown option is reported and the
  // status stays 0.
  r = box.run({"-fno-such-thing", "-print-search-dirs", "-print-file-name=x",
               "-print-multi-lib"});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.out, "install: " + p + "/lib/velk/\n" + programs + libraries);
  EXPECT_TRUE(r.err.starts_with(
      "velk++: error: unrecognized command-line option '-fno-such-thing'"))
      << r.err;

  // Immediate options act first.
  r = box.run({"-dumpmachine", "-print-search-dirs"});
  EXPECT_EQ(r.out, t + "\n");

  // -B directories come first in both lists; COMPILER_PATH after the
  // install's own program directories, LIBRARY_PATH after its library
  // directories.
  const std::string b = box.work() + "/b/";
  r = box.run(
      {"-B", b, "-print-search-dirs"},
      {.env = {{"COMPILER_PATH", "/cp1:/cp2"}, {"LIBRARY_PATH", "/lp"}}});
  std::vector<std::string> lines = split(r.out, '\n');
  ASSERT_EQ(lines.size(), 4u) << r.out;
  EXPECT_EQ(lines[1], "programs: =" + b + m + ":" + b + ":" + p +
                          "/libexec/velk/" + m + ":" + p +
                          "/libexec/velk/:/cp1/" + m + ":/cp1/:/cp2/" + m +
                          ":/cp2/:" + exec + "../../../../" + t + "/bin/" + m +
                          ":" + exec + "../../../../" + t + "/bin/");
  EXPECT_TRUE(lines[2].starts_with("libraries: =" + b + m + ":" + b + ":" +
                                   exec + ":" + p + "/lib/velk/:/lp/" + m +
                                   ":/lp/:"))
      << lines[2];

  // An install that was not relocated: the configured directories.
  r = box.run({"-print-search-dirs"},
              {.env = {{"PATH", "/nonexistent"}}, .argv0 = "velk++"});
  lines = split(r.out, '\n');
  ASSERT_EQ(lines.size(), 4u) << r.out;
  EXPECT_EQ(lines[0], "install: /usr/local/brae13/lib/velk/" + m);
  EXPECT_TRUE(
      lines[1].starts_with("programs: =/usr/local/brae13/libexec/velk/" + m))
      << lines[1];
  EXPECT_TRUE(
      lines[2].starts_with("libraries: =/usr/local/brae13/lib/velk/" + m))
      << lines[2];
}

TEST(Queries, FileAndProgramNames) {
  sandbox box;
  const std::string exec_lib = box.prefix() + "/bin/../lib/velk/" + machine;
  box.write_file(box.prefix() + "/lib/velk/" + machine + "libvelkcxx.so", "");
  box.write_file(box.prefix() + "/lib/velk/" + machine + "libvelk.a", "");
  struct {
    std::vector<std::string> args;
    std::string out;
  } cases[] = {
      {{"-print-file-name=libvelkcxx.so"}, exec_lib + "libvelkcxx.so\n"},
      {{"-print-file-name=crt1.o"}, exec_lib + "crt1.o\n"},
      {{"-print-file-name=libnone.so"}, "libnone.so\n"},
      {{"-print-libvelk-file-name"}, exec_lib + "libvelk.a\n"},
      {{"-print-prog-name=tarn1xx"},
       box.prefix() + "/bin/../libexec/velk/" + machine + "tarn1xx\n"},
      {{"-print-prog-name=tarn9"}, "tarn9\n"},
      // A -fuse-ld= linker that is not installed: its name with the suffix.
      {{"-fuse-ld=mold", "-print-prog-name=ld"}, "ld.mold\n"},
      {{"-print-multi-lib"}, ".;\n"},
      {{"-print-multi-directory"}, ".\n"},
      {{"-print-multi-os-directory"}, ".\n"},
      {{"-print-multiarch"}, "\n"},
      {{"-print-sysroot"}, ""},
      {{"--sysroot=/sr", "-print-sysroot"}, "/sr\n"},
  };
  for (const auto& c : cases) {
    run_result r = box.run(c.args);
    EXPECT_EQ(r.exit_status, 0) << c.args.back();
    EXPECT_EQ(r.out, c.out) << c.args.back();
    EXPECT_EQ(r.err, "") << c.args.back();
  }
  // `as` is the configured assembler when it is executable, else the one
  // in the install.
  run_result r = box.run({"-print-prog-name=as"});
  EXPECT_TRUE(r.out == "/usr/local/bin/as\n" ||
              r.out == box.tool_dir() + "/as\n" ||
              r.out.ends_with("/" + std::string(target) + "/bin/as\n"))
      << r.out;

  r = box.run({"-print-sysroot-headers-suffix"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "velk++: fatal error: not configured with sysroot headers "
                   "suffix\ncompilation terminated.\n");
}

TEST(Queries, WriteErrorOnStandardOutput) {
  sandbox box;
  for (const char* query :
       {"-print-multi-lib", "-print-search-dirs", "--version", "--help"}) {
    run_result r =
        box.run({"-c", "exec \"$0\" " + std::string(query) + " >/dev/full",
                 box.driver()},
                {.program = "/bin/sh"});
    EXPECT_EQ(r.exit_status, 1) << query;
    EXPECT_EQ(r.err, "velk++: error: cannot write to standard output: No "
                     "space left on device\n")
        << query;
  }
}

// A spec file that adds an ilp32 variant of the libraries.
TEST(Queries, MultilibAnswersForAnIlp32Variant) {
  sandbox box;
  box.write_file("ilp32.specs",
                 "*multilib:\n. !mabi=ilp32;\nilp32 mabi=ilp32;\n\n"
                 "*multilib_matches:\nmabi=ilp32 mabi=ilp32;\n\n");
  run_result r = box.run({"-specs=ilp32.specs", "-print-multi-lib"});
  if (r.exit_status == 0 && r.out == ".;\n")
    GTEST_SKIP() << "needs spec files";
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.out, ".;\nilp32;@mabi=ilp32\n");

  struct {
    std::vector<std::string> args;
    std::string out;
  } cases[] = {
      {{"-print-multi-directory"}, ".\n"},
      {{"-print-multi-os-directory"}, ".\n"},
      {{"-mabi=ilp32", "-print-multi-directory"}, "ilp32\n"},
      {{"-mabi=ilp32", "-print-multi-os-directory"}, "ilp32\n"},
      {{"-mabi=ilp32", "-print-multiarch"}, "\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), "-specs=ilp32.specs");
    r = box.run(args);
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.out, c.out) << c.args.front();
  }

  // The variant's directory is searched first for libraries.
  const std::string exec = box.prefix() + "/bin/../lib/velk/" + machine;
  box.write_file(box.prefix() + "/lib/velk/" + machine + "libq.a", "");
  box.write_file(box.prefix() + "/lib/velk/" + machine + "ilp32/libq.a", "");
  r = box.run({"-specs=ilp32.specs", "-mabi=ilp32", "-print-file-name=libq.a"});
  EXPECT_EQ(r.out, exec + "ilp32/libq.a\n");
  r = box.run({"-specs=ilp32.specs", "-print-file-name=libq.a"});
  EXPECT_EQ(r.out, exec + "libq.a\n");
  r = box.run({"-specs=ilp32.specs", "-mabi=ilp32", "-print-search-dirs"});
  EXPECT_NE(r.out.find("libraries: =" + exec + "ilp32/:"), std::string::npos)
      << r.out;
}

// Meson reads the library directories from the "libraries: =" line of
// -print-search-dirs, split at colons.
TEST(Queries, MesonReadsLibraryDirectories) {
  sandbox box;
  run_result r = box.run({"-print-search-dirs"});
  std::vector<std::string> dirs;
  for (const std::string& line : split(r.out, '\n'))
    if (line.starts_with("libraries: ="))
      for (const std::string& dir :
           split(line.substr(std::string("libraries: =").size()), ':'))
        dirs.push_back(dir);
  const std::string exec = box.prefix() + "/bin/../lib/velk/" + machine;
  ASSERT_GE(dirs.size(), 4u);
  EXPECT_EQ(dirs.front(), exec);
  EXPECT_EQ(dirs[1], box.prefix() + "/bin/../lib/velk/");
  EXPECT_EQ(dirs.back(), "/usr/lib/");
  for (const std::string& dir : dirs)
    EXPECT_TRUE(!dir.empty() && dir.front() == '/' && dir.back() == '/') << dir;
}

// CMake's implicit link information: the linker command of -v, split into
// words, gives the -L directories and -l libraries.
TEST(Queries, CMakeReadsImplicitLinkInformation) {
  sandbox box;
  box.write_file("a.o", "");
  run_result r = box.run({"-v", "a.o", "-o", "a.out"});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  std::string link_line;
  std::istringstream in(r.err);
  for (std::string line; std::getline(in, line);)
    if (line.starts_with(" ") && line.find("/sheaf2 ") != std::string::npos)
      link_line = line;
  ASSERT_FALSE(link_line.empty()) << r.err;
  std::vector<std::string> dirs, libs;
  std::istringstream words(link_line);
  for (std::string word; words >> word;) {
    if (word.starts_with("-L"))
      dirs.push_back(word.substr(2));
    else if (word.starts_with("-l"))
      libs.push_back(word.substr(2));
  }
  const std::string lib = box.prefix() + "/bin/../lib/velk";
  const std::string dir = lib + "/aarch64-portbld-freebsd14.3/13.3.0";
  EXPECT_EQ(dirs, (std::vector<std::string>{dir, lib, dir + "/../../.."}));
  EXPECT_EQ(libs, (std::vector<std::string>{"velkcxx", "m", "velk_s", "velk",
                                            "c", "velk_s", "velk"}));
}

} // namespace
} // namespace velk::test
