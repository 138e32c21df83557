// End-to-end cases of command-line processing.
#include "tests/e2e/harness.h"

#include <gtest/gtest.h>

namespace velk::test {
namespace {

constexpr const char* terminated = "compilation terminated.\n";

TEST(CommandLine, DumpOptionsPrintAndExitWhateverFollows) {
  sandbox box;
  struct {
    std::vector<std::string> args;
    const char* out;
  } cases[] = {
      {{"-dumpversion"}, "13.3.0\n"},
      {{"-dumpfullversion", "-frobnicate", "x.c"}, "13.3.0\n"},
      {{"-dumpmachine", "-o", "x.c", "x.c"}, "aarch64-portbld-freebsd14.3\n"},
      {{"-dumpspecs"}, ""},
  };
  for (const auto& c : cases) {
    run_result r = box.run(c.args);
    EXPECT_EQ(r.exit_status, 0) << c.args[0];
    EXPECT_EQ(r.out, c.out) << c.args[0];
    EXPECT_EQ(r.err, "") << c.args[0];
  }
}

TEST(CommandLine, FatalErrors) {
  sandbox box;
  box.write_file("a.c", "int x;\n");
  struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"-o", "a.c", "a.c"},
       "velk++: fatal error: input file 'a.c' is the same as output file\n"},
      {{"-o", "./a.c", "a.c"},
       "velk++: fatal error: input file 'a.c' is the same as output file\n"},
      {{"-o", "", "a.c"},
       "velk++: fatal error: output filename may not be empty\n"},
      {{"-save-temps=other", "a.c"},
       "velk++: fatal error: '-save-temps=other' is an unknown "
       "'-save-temps' option\n"},
  };
  for (const auto& c : cases) {
    run_result r = box.run(c.args);
    EXPECT_EQ(r.exit_status, 1) << c.args[0];
    EXPECT_EQ(r.err, c.err + terminated) << c.args[0];
  }
  // The output may be standard output or the null device.
  for (const char* output : {"-", "/dev/null"}) {
    run_result r = box.run({"-o", output, "a.c"});
    EXPECT_EQ(r.exit_status, 0) << output;
    EXPECT_EQ(r.err, "") << output;
  }
}

TEST(CommandLine, WarningsAndErrorsThatLetTheRunGoOn) {
  sandbox box;
  box.write_file("a.c", "int x;\n");
  struct {
    std::vector<std::string> args;
    int status;
    std::string err;
  } cases[] = {
      {{"-c", "a.c", "-x", "c"},
       0,
       "velk++: warning: '-x c' after last input file has no effect\n"},
      {{"-c", "a.c", "-x", "none"}, 0, ""},
      // When linking, the libraries the C++ driver adds are inputs after
      // the -x, so the language does reach an input.
      {{"a.c", "-x", "c"}, 0, ""},
      {{"-x", "c", "a.c"}, 0, ""},
      {{"-foffload=nvptx-none", "a.c"},
       1,
       "velk++: error: VELK is not configured to support 'nvptx-none' as "
       "'-foffload=' argument\n"
       "velk++: note: valid '-foffload=' arguments are: default disable\n"},
      {{"-foffload=defaul", "a.c"},
       1,
       "velk++: error: VELK is not configured to support 'defaul' as "
       "'-foffload=' argument\n"
       "velk++: note: valid '-foffload=' arguments are: default disable; "
       "did you mean 'default'?\n"},
      {{"-foffload=disable", "-foffload=default", "a.c"}, 0, ""},
      {{"-foffload-options=-O2", "a.c"}, 0, ""},
      {{"-foffload-options=nvptx", "a.c"},
       1,
       "velk++: error: '='options missing after "
       "'-foffload-options='target\n"},
      {{"-frobnicate", "a.c"},
       1,
       "velk++: error: unrecognized command-line option '-frobnicate'\n"},
      {{"-Wnoall", "a.c"},
       1,
       "velk++: error: unrecognized command-line option '-Wnoall'; did you "
       "mean '-Wno-all'?\n"},
      // Options of the compilers proper are passed on, not reported.
      {{"-Wall", "-O2", "-std=c++17", "-Wno-frobnicate", "a.c"}, 0, ""},
      // The driver refuses some options of the compilers proper.
      {{"-quiet", "a.c"},
       1,
       "velk++: error: unrecognized command-line option '-quiet'\n"},
  };
  for (const auto& c : cases) {
    run_result r = box.run(c.args);
    EXPECT_EQ(r.exit_status, c.status) << c.args[0];
    EXPECT_EQ(r.err, c.err) << c.args[0];
  }
}

TEST(CommandLine, CompletionPrintsMatchesAndSucceeds) {
  sandbox box;
  run_result r = box.run({"--completion=-fdiagnostics-color=a", "-frobnicate"});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.out, "-fdiagnostics-color=always\n-fdiagnostics-color=auto\n");
}

TEST(CommandLine, HostileArgumentsNeverCrash) {
  sandbox box;
  std::string long_option = "-f" + std::string(65536, 'x');
  run_result r = box.run(
      {"", "-", "-\x1b[31mred", long_option, "\xff\xfe.c", "--", "-Wl,", "-l"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.term_signal, 0);
  // Escape bytes from the command line never reach the terminal.
  EXPECT_EQ(r.err.find('\x1b'), std::string::npos);
  EXPECT_NE(r.err.find("unrecognized command-line option '-\\x1b[31mred'"),
            std::string::npos)
      << r.err;
}

} // namespace
} // namespace velk::test
