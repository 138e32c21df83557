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

// A query whose answer cannot be written fails, naming the cause, whether
// the write itself or the final flush fails.
TEST(CommandLine, QueriesFailWhenStandardOutputFails) {
  sandbox box;
  const std::string full = "/dev/full", closed = "";
  const std::string no_space =
      "velk++: error: cannot write to standard output: No space left on "
      "device\n";
  const std::string bad_descriptor =
      "velk++: error: cannot write to standard output: Bad file descriptor\n";
  struct {
    std::vector<std::string> args;
    std::string stdout_file;
    std::string err;
  } cases[] = {
      {{"-dumpversion"}, full, no_space},
      {{"-dumpfullversion"}, closed, bad_descriptor},
      {{"-dumpmachine"}, closed, bad_descriptor},
      {{"-dumpmachine"}, full, no_space},
      {{"--completion=-fdiagnostics-color=a"}, full, no_space},
      // Long enough to fill the buffer: the writes themselves fail.
      {{"--completion=-f"}, full, no_space},
      {{"--completion=-f"}, closed, bad_descriptor},
  };
  for (const auto& c : cases) {
    run_result r = box.run(c.args, {.stdout_file = c.stdout_file});
    EXPECT_EQ(r.exit_status, 1) << c.args[0] << " " << c.stdout_file;
    EXPECT_EQ(r.err, c.err) << c.args[0] << " " << c.stdout_file;
  }
  // Nothing to write: a closed standard output is no failure.
  box.write_file("a.cc");
  run_result r = box.run({"-c", "a.cc"}, {.stdout_file = closed});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  r = box.run({"--completion=-fno-such-option"}, {.stdout_file = full});
  EXPECT_EQ(r.exit_status, 0) << r.err;
}

// Long search lists: many -B options after a long COMPILER_PATH, and a -B
// path of many "x/../" pieces, are handled in linear time (the run would
// take minutes were each insertion to walk the list).
TEST(CommandLine, LongSearchListsStayCheap) {
  sandbox box;
  box.write_file("a.cc");
  // Shown, not run: the search list exported to the compiler would exceed
  // the system's limit on the length of one environment string.
  std::vector<std::string> args = {"-###", "-c", "a.cc"};
  for (int i = 0; i < 40000; ++i)
    args.push_back("-B/b/" + std::to_string(i));
  std::string dot_dots = "-B/nonexistent";
  for (int i = 0; i < 20000; ++i)
    dot_dots += "/x/..";
  args.push_back(dot_dots + "/");
  run_result r =
      box.run(args, {.env = {{"COMPILER_PATH", std::string(100000, ':')}},
                     .timeout_seconds = 60});
  EXPECT_EQ(r.term_signal, 0);
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.err.find("error"), std::string::npos) << r.err.substr(0, 500);
}

// Many unrecognised options, each with the same hint as alone (the run
// would take minutes were every distance computed in full).
TEST(CommandLine, ManyUnrecognizedOptionsStayCheap) {
  sandbox box;
  box.write_file("a.cc");
  std::vector<std::string> args = {"-c", "a.cc"};
  std::string expected;
  for (int i = 0; i < 3000; ++i) {
    std::string name = "-fno-frobnicate-" + std::to_string(i) + "-";
    while (name.size() < 60)
      name += static_cast<char>('a' + (name.size() * 7 + i) % 26);
    args.push_back(name);
    expected +=
        "velk++: error: unrecognized command-line option '" + name + "'\n";
    if (i % 1000 == 0) {
      args.push_back("-Wnoall");
      expected += "velk++: error: unrecognized command-line option "
                  "'-Wnoall'; did you mean '-Wno-all'?\n";
    }
  }
  run_result r = box.run(args, {.timeout_seconds = 40});
  EXPECT_EQ(r.term_signal, 0);
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err, expected);
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
