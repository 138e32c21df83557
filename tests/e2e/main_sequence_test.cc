// End-to-end cases of the main sequence of velk++.
#include "tests/e2e/harness.h"

#include <gtest/gtest.h>

namespace velk::test {
namespace {

TEST(MainSequence, NoArgumentsIsFatal) {
  sandbox box;
  run_result r = box.run({});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "velk++: fatal error: no input files\ncompilation terminated.\n");
  EXPECT_TRUE(r.calls.empty());
  EXPECT_TRUE(box.list_dir(box.tmp()).empty());
  EXPECT_TRUE(box.list_dir(box.work()).empty());
}

// Inputs the C++ driver adds of its own accord (libraries and the linker
// options around them) do not count as input files.
TEST(MainSequence, AddedInputsAloneAreNoInputFiles) {
  sandbox box;
  const std::vector<std::string> cases[] = {
      {"-static-libvelkcxx"},
      {"-static", "-static-libvelkcxx"},
      {"-fcontracts", "-pg", "-static-libvelkcxx"},
  };
  for (const auto& args : cases) {
    run_result r = box.run(args);
    EXPECT_EQ(r.exit_status, 1) << args.front();
    EXPECT_EQ(r.err,
              "velk++: fatal error: no input files\ncompilation terminated.\n")
        << args.front();
    EXPECT_TRUE(r.calls.empty());
  }
  box.write_file("a.o");
  run_result r = box.run({"-static-libvelkcxx", "a.o"});
  EXPECT_EQ(r.exit_status, 0) << r.err;
}

TEST(MainSequence, ProgramNameIsTheBaseNameOfArgv0) {
  sandbox box;
  run_result r = box.run({}, {.argv0 = "/some/where/aarch64-velk++"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err, "aarch64-velk++: fatal error: no input files\n"
                   "compilation terminated.\n");
}

// Without a name in argv[0], whether empty or missing (argc 0), messages
// are still headed by a program name.
TEST(MainSequence, EmptyArgv0FallsBackToVelk) {
  sandbox box;
  const run_options cases[] = {{.argv0 = ""}, {.empty_argv = true}};
  for (const run_options& opts : cases) {
    run_result r = box.run({}, opts);
    EXPECT_EQ(r.exit_status, 1) << opts.empty_argv;
    EXPECT_EQ(r.err,
              "velk++: fatal error: no input files\ncompilation terminated.\n")
        << opts.empty_argv;
  }
}

// -v and -### show the variables exported for the subprocesses; bytes from
// the command line that would act on a terminal are escaped, ordinary text
// (UTF-8 included) is shown as it is.
TEST(MainSequence, VerboseEchoOfExportsEscapesControlBytes) {
  sandbox box;
  box.write_file("a.cc");
  // -### echoes the exported variables as -v does, without running the
  // programs, which a mangled argv[0] would not find.
  run_result r = box.run({"-###", "-c", "a.cc", "-Wa,\x1b]0;pwned\x07\x1b[2J",
                          "-Wa,-I/tmp/caf\xc3\xa9"},
                         {.argv0 = "/x/ve\x1b[2Jlk++"});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.err.find_first_of("\x1b\x07"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("SHEAF_AS_OPTIONS='\\x1b]0;pwned\\x07\\x1b[2J' "
                       "'-I/tmp/caf\xc3\xa9'\n"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("SHEAF_VELK=/x/ve\\x1b[2Jlk++\n"), std::string::npos)
      << r.err;
}

} // namespace
} // namespace velk::test
