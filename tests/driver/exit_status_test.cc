#include "driver/exit_status.h"

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

} // namespace
} // namespace velk
