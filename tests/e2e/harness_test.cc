// The harness and the stand-in toolchain themselves: later tests rely on
// what the stand-in records and on the behaviours it can be given.
#include "tests/e2e/harness.h"

#include <csignal>
#include <gtest/gtest.h>

namespace velk::test {
namespace {

TEST(Harness, InstalledTreeHoldsDriverAndToolchain) {
  sandbox box;
  EXPECT_TRUE(box.exists(box.driver()));
  for (const char* p :
       {"tarn1", "tarn1xx", "loom1", "sheaf2", "loomer", "libweft.so"})
    EXPECT_TRUE(box.exists(box.exec_dir() + "/" + p)) << p;
  for (const char* p : {"as", "ld", "ar", "nm", "ranlib"})
    EXPECT_TRUE(box.exists(box.tool_dir() + "/" + p)) << p;
}

TEST(Harness, StandinRecordsCallsAndCreatesOutput) {
  sandbox box;
  run_result r = box.run({"-c", "x y", "line\nbreak", "-o", "out.o"},
                         {.env = {{"COMPILER_PATH", "/a:/b"}},
                          .program = box.exec_dir() + "/tarn1xx",
                          .ignore_sigint = true});
  EXPECT_EQ(r.exit_status, 0);
  ASSERT_EQ(r.calls.size(), 1u);
  const tool_call& c = r.calls[0];
  EXPECT_EQ(c.program, "tarn1xx");
  EXPECT_EQ(c.args, (std::vector<std::string>{"-c", "x y", "line\nbreak", "-o",
                                              "out.o"}));
  EXPECT_EQ(c.env.at("COMPILER_PATH"), "/a:/b");
  EXPECT_EQ(c.env.count("LIBRARY_PATH"), 0u);
  EXPECT_EQ(c.sigint, "ignored");
  EXPECT_EQ(box.read_file("out.o"), "standin output of tarn1xx\n");
}

// Preprocessing copies the source, never an option's value, to the output
// or to standard output.
TEST(Harness, StandinPreprocessesToACopyOfTheSource) {
  sandbox box;
  box.write_file("a.cc", "int a;\n");
  box.write_file("b.h", "int b;\n");
  const std::string tarn1xx = box.exec_dir() + "/tarn1xx";
  run_result r = box.run(
      {"-E", "-include", "b.h", "a.cc", "-dumpbase", "a.cc", "-o", "a.ii"},
      {.program = tarn1xx});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(box.read_file("a.ii"), "int a;\n");
  r = box.run({"-E", "a.cc", "-dumpbase", "a.cc"}, {.program = tarn1xx});
  EXPECT_EQ(r.out, "int a;\n");
}

TEST(Harness, StandinBehaviours) {
  sandbox box;
  box.set_behaviour("as",
                    {.exit_status = 3, .out = "to out\n", .err = "to err\n"});
  box.set_behaviour("ld", {.signal_number = SIGSEGV});
  run_result as = box.run({}, {.program = box.tool_dir() + "/as"});
  EXPECT_EQ(as.exit_status, 3);
  EXPECT_EQ(as.out, "to out\n");
  EXPECT_EQ(as.err, "to err\n");
  run_result ld = box.run({}, {.program = box.tool_dir() + "/ld"});
  EXPECT_EQ(ld.term_signal, SIGSEGV);
  EXPECT_EQ(ld.calls.size(), 2u); // the log keeps every call of the box
}

} // namespace
} // namespace velk::test
