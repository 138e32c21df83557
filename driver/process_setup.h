// Process-wide start-up work of velk++: signal dispositions, the stack limit
// and the clean-up at exit.
#pragma once

#include <sys/resource.h>

namespace velk {

// For SIGINT, SIGHUP, SIGTERM and SIGPIPE: ignore the signal, and install the
// driver's handler unless the parent had it ignored already.  SIGCHLD goes
// back to its default so that waiting for children works.
void install_signal_handlers();

// The soft limit that should replace `current` (64 MiB at most, never above
// the hard limit); equal to current.rlim_cur when nothing changes.
rlim_t raised_stack_limit(const rlimit& current);
// Raises the soft stack limit as raised_stack_limit says.
void raise_stack_limit();

// Registers the exit handler that deletes the cleanup files and the failure
// files of a step a fatal or internal error cut short.  False when the
// C library refuses.
bool register_cleanup_at_exit();

} // namespace velk
