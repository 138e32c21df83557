#include "driver/exit_status.h"

#include "diagnostics/diagnostic.h"

#include <gtest/gtest.h>

namespace velk {
namespace {

TEST(ExitStatusRule, EveryRow) {
  struct {
    run_counters counters;
    int status;
  } cases[] = {
      // An interrupted pipeline wins over everything else.
      {{1, 1, false, 0}, 2},
      {{3, 7, true, 5}, 2},
      // No error: success, whatever the highest status says.
      {{0, 9, true, 0}, 0},
      {{0, 1, false, 0}, 0},
      // -pass-exit-codes: the highest failing status.
      {{0, 4, true, 1}, 4},
      {{0, 1, true, 2}, 1},
      // Otherwise 1.
      {{0, 4, false, 1}, 1},
      {{0, 1, false, 12}, 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(exit_status_rule(c.counters), c.status)
        << c.counters.interrupt_count << " " << c.counters.highest_status << " "
        << c.counters.pass_exit_codes << " " << c.counters.error_count;
  }
}

// The process's rule takes its errors from the diagnostic engine as well as
// from the driver's own count; warnings made errors by -Werror do not count.
TEST(ExitStatusRule, CountsTheErrorsOfTheDiagnosticEngine) {
  const run_counters saved = counters();
  counters() = run_counters{};
  engine_init(global_engine, 0);
  ::testing::internal::CaptureStderr();
  warning_at_input(0, "only a warning");
  EXPECT_EQ(exit_status_rule(), 0);
  engine_set_warnings_as_errors(global_engine, true);
  warning_at_input(0, "a warning made an error");
  EXPECT_EQ(exit_status_rule(), 0);
  sorry_at_input("not done");
  EXPECT_EQ(error_count(), 1);
  EXPECT_EQ(exit_status_rule(), 1);
  error_at_input("an error");
  EXPECT_EQ(error_count(), 2);
  ::testing::internal::GetCapturedStderr();
  counters().pass_exit_codes = true;
  counters().highest_status = 4;
  EXPECT_EQ(exit_status_rule(), 4);
  counters().interrupt_count = 1;
  EXPECT_EQ(exit_status_rule(), 2);

  // A failed compilation counts without a diagnostic of its own.
  counters() = run_counters{};
  engine_init(global_engine, 0);
  EXPECT_EQ(exit_status_rule(), 0);
  counters().error_count = 1;
  EXPECT_EQ(error_count(), 1);
  EXPECT_EQ(exit_status_rule(), 1);
  counters() = saved;
}

} // namespace
} // namespace velk
