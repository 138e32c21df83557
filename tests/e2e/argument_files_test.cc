// End-to-end cases of @file arguments on the command line of velk++.
#include "tests/e2e/harness.h"

#include <gtest/gtest.h>
#include <string>

namespace velk::test {
namespace {

using namespace std::string_literals;

TEST(ArgumentFiles, ArgumentsAreReadWithQuotesAndEscapes) {
  sandbox box;
  // The unknown options name each argument as it was read.  No final
  // newline, blank lines, and a NUL byte that ends the text.
  box.write_file("opts",
                 "\n\n-fno-such-'a b' \"-fno-such-\\\"q\\\"\"\n\n"
                 "-fno-such-c\\ d @inner\n-fno-such-before-nul\0-fno-such-f"s);
  box.write_file("inner", "'-fno-such-in'");
  run_result r = box.run({"@opts", "-fno-such-last"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err, "velk++: error: unrecognized command-line option "
                   "'-fno-such-a b'\n"
                   "velk++: error: unrecognized command-line option "
                   "'-fno-such-\"q\"'\n"
                   "velk++: error: unrecognized command-line option "
                   "'-fno-such-c d'\n"
                   "velk++: error: unrecognized command-line option "
                   "'-fno-such-in'\n"
                   "velk++: error: unrecognized command-line option "
                   "'-fno-such-before-nul'\n"
                   "velk++: error: unrecognized command-line option "
                   "'-fno-such-last'\n"
                   "velk++: fatal error: no input files\n"
                   "compilation terminated.\n");
}

TEST(ArgumentFiles, MissingFileStaysAnInputAndEmptyFileVanishes) {
  sandbox box;
  box.write_file("empty", "");
  box.write_file("blank", "\n \t\n");
  run_result r = box.run({"@empty", "@blank"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err,
            "velk++: fatal error: no input files\ncompilation terminated.\n");
  // "@missing" is an input file name, so there is an input.
  r = box.run({"@empty", "@missing"});
  EXPECT_EQ(r.err.find("no input files"), std::string::npos) << r.err;
}

TEST(ArgumentFiles, DirectoryAndRunawayExpansionAreErrors) {
  sandbox box;
  run_result r = box.run({"-c", "@" + box.tmp()});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err, box.driver() + ": error: @-file refers to a directory\n");
  box.write_file("self", "-g @self\n");
  r = box.run({"@self"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err, box.driver() + ": error: too many @-files encountered\n");
  EXPECT_TRUE(r.calls.empty());
  EXPECT_TRUE(box.list_dir(box.tmp()).empty());
}

TEST(ArgumentFiles, HundredThousandArguments) {
  sandbox box;
  box.write_file("hello.cc", "int main() {}\n");
  std::string big;
  for (int i = 0; i < 100000; ++i)
    big += "-DNAME" + std::to_string(i) + "='a value'\n";
  box.write_file("big", big);
  // Linear work takes well under a second in an optimised build; the
  // generous limit only stops a runaway run (sanitizer builds are slow).
  run_result r =
      box.run({"-###", "-c", "hello.cc", "@big"}, {.timeout_seconds = 500});
  EXPECT_EQ(r.exit_status, 0) << r.err.substr(0, 2000);
  EXPECT_EQ(r.err.find("error"), std::string::npos);
}

} // namespace
} // namespace velk::test
