#include "driver/process_setup.h"

#include "support/temp_files.h"

#include <csignal>
#include <cstdlib>
#include <unistd.h>

namespace velk {

namespace {

constexpr rlim_t wanted_stack = 64 * 1024 * 1024;

extern "C" void handle_fatal_signal(int signum) {
  std::signal(signum, SIG_DFL);
  remove_files_on_signal();
  kill(getpid(), signum);
}

extern "C" void cleanup_at_exit() {
  // Regular runs have settled both lists already.  After a fatal or internal
  // error this removes the intermediate files and the outputs of the step
  // that was running, so a later build never takes a half-written object
  // for a good one.
  remove_files_at_exit();
}

} // namespace

void install_signal_handlers() {
  // Make sure the lists exist before a handler can look at them.
  cleanup_list();
  failure_list();
  for (int signum : {SIGINT, SIGHUP, SIGTERM, SIGPIPE}) {
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    struct sigaction previous = {};
    sigaction(signum, &ignore, &previous);
    if (previous.sa_handler != SIG_IGN) {
      struct sigaction handler = {};
      handler.sa_handler = handle_fatal_signal;
      sigemptyset(&handler.sa_mask);
      sigaction(signum, &handler, nullptr);
    }
  }
  struct sigaction child_default = {};
  child_default.sa_handler = SIG_DFL;
  sigemptyset(&child_default.sa_mask);
  sigaction(SIGCHLD, &child_default, nullptr);
}

rlim_t raised_stack_limit(const rlimit& current) {
  if (current.rlim_cur == RLIM_INFINITY || current.rlim_cur >= wanted_stack)
    return current.rlim_cur;
  if (current.rlim_max != RLIM_INFINITY && current.rlim_cur >= current.rlim_max)
    return current.rlim_cur;
  rlim_t limit = wanted_stack;
  if (current.rlim_max != RLIM_INFINITY && current.rlim_max < limit)
    limit = current.rlim_max;
  return limit;
}

void raise_stack_limit() {
  rlimit current;
  if (getrlimit(RLIMIT_STACK, &current) != 0)
    return;
  rlim_t wanted = raised_stack_limit(current);
  if (wanted == current.rlim_cur)
    return;
  current.rlim_cur = wanted;
  setrlimit(RLIMIT_STACK, &current);
}

bool register_cleanup_at_exit() {
  return std::atexit(cleanup_at_exit) == 0;
}

} // namespace velk
