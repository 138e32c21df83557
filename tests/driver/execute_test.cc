#include "driver/execute.h"

#include "driver/command_line.h"
#include "driver/exit_status.h"
#include "specs/spec_interpreter.h"

#include <gtest/gtest.h>

namespace velk {
namespace {

TEST(Execute, EchoQuotesUnderPrintOnly) {
  const std::vector<std::string> group = {
      "tarn1", "-O2",        "/usr/lib",    "a-b_c.d", "two words",
      "x=y",   "say \"hi\"", "back\\slash", "$HOME",   "`id`",
      "",      "|",          "as",          "-o",      "f.o"};
  EXPECT_EQ(command_group_echo(group, true),
            " tarn1 -O2 /usr/lib a-b_c.d \"two words\" \"x=y\" "
            "\"say \\\"hi\\\"\" \"back\\\\slash\" \"\\$HOME\" \"\\`id\\`\" "
            "\"\" |\n"
            " as -o f.o\n");
  // -v shows the arguments as they are; an empty one still as "".
  EXPECT_EQ(command_group_echo({"tarn1", "two words", "$x", ""}, false),
            " tarn1 two words $x \"\"\n");
}

// A spec run end to end under -###: the interpreter hands its groups to
// execute, which shows them and runs nothing.
TEST(Execute, SpecCommandsUnderPrintOnly) {
  reset_spec_state();
  set_execute_hook(execute);
  driver_settings& s = settings();
  s.verbose = true;
  s.print_only_count = 1;
  const int runs = counters().run_count;
  testing::internal::CaptureStderr();
  EXPECT_EQ(run_spec_command("tarn1 a\\ b %\" c\\\"d\nas e\\\\f \\$g"), 0);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, " tarn1 \"a b\" \"\" \"c\\\"d\"\n"
                 " as \"e\\\\f\" \"\\$g\"\n");
  EXPECT_EQ(counters().run_count, runs + 2);

  // Without -### nothing can run yet: an error names the program.
  s.verbose = false;
  s.print_only_count = 0;
  testing::internal::CaptureStderr();
  EXPECT_EQ(run_spec_command("tarn1 x"), -1);
  err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("error: cannot run 'tarn1': running programs is not "
                     "available yet"),
            std::string::npos)
      << err;
  set_execute_hook(nullptr);
}

} // namespace
} // namespace velk
