#include "driver/exit_status.h"

#include "diagnostics/diagnostic.h"
#include "support/standard_output.h"

#include <cerrno>
#include <cstdlib>

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

int error_count() {
  return counters().error_count + error_and_sorry_count();
}

int exit_status_rule() {
  run_counters now = counters();
  now.error_count = error_count();
  return exit_status_rule(now);
}

int finish_standard_output(int status) {
  if (int error = flush_standard_output()) {
    errno = error;
    error_at(unknown_location, "cannot write to standard output: %m");
    return 1;
  }
  return status;
}

void exit_after_query() {
  std::exit(finish_standard_output(0));
}

} // namespace velk
