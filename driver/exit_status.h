// The counters of a run and the rule that turns them into the exit status.
#pragma once

namespace velk {

struct run_counters {
  int interrupt_count = 0; // stages ended by SIGPIPE
  int highest_status = 1;  // highest exit status of a failed subprocess
  bool pass_exit_codes = false;
  int error_count = 0; // errors and "sorry" messages
};

// The counters of this process.  The error count mirrors the diagnostic
// engine's once it is wired in.
run_counters& counters();

// 2 after an interrupted pipeline, 0 without errors, the highest subprocess
// status under -pass-exit-codes, else 1.
int exit_status_rule(const run_counters& c);
int exit_status_rule();

} // namespace velk
