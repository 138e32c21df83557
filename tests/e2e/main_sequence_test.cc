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

TEST(MainSequence, ProgramNameIsTheBaseNameOfArgv0) {
  sandbox box;
  run_result r = box.run({}, {.argv0 = "/some/where/aarch64-velk++"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err, "aarch64-velk++: fatal error: no input files\n"
                   "compilation terminated.\n");
}

} // namespace
} // namespace velk::test
