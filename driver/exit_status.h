// The counters of a run and the rule that turns them into the exit status.
#pragma once

namespace velk {

struct run_counters {
  int interrupt_count = 0; // stages ended by SIGPIPE
  int highest_status = 1;  // highest exit status of a failed subprocess
  bool pass_exit_codes = false;
  int error_count = 0; // errors and "sorry" messages
  int run_count = 0;   // command groups started, or shown under -###
};

// The counters of this process.  Here `error_count` holds only the failures
// the driver counts itself (a failed compilation or link); the errors and
// "sorry" messages reported through the diagnostic engine are counted
// there.  error_count() gives the sum.
run_counters& counters();

// Every error of the run so far.
int error_count();

// 2 after an interrupted pipeline, 0 without errors, the highest subprocess
// status under -pass-exit-codes, else 1.
int exit_status_rule(const run_counters& c);
// The rule applied to this process's counters and the engine's errors.
int exit_status_rule();

// Flushes standard output and returns `status`, or reports the failure of a
// write there as an error and returns 1.  Every run ends through it, so
// the answer of a query that did not reach its reader is never a success.
int finish_standard_output(int status);

// Ends the run of a query that answered on standard output.
[[noreturn]] void exit_after_query();

} // namespace velk
