#include "driver/exit_status.h"

namespace velk {

run_counters& counters() {
  static run_counters the_counters;
  return the_counters;
}

int exit_status_rule(const run_counters& c) {
  if (c.interrupt_count != 0)
    return 2;
  if (c.error_count == 0)
    return 0;
  if (c.pass_exit_codes)
    return c.highest_status;
  return 1;
}

int exit_status_rule() {
  return exit_status_rule(counters());
}

} // namespace velk
