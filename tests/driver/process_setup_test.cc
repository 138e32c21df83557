#include "driver/process_setup.h"

#include "support/temp_files.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace velk {
namespace {

constexpr rlim_t MiB = 1024 * 1024;

TEST(StackLimit, RaisedTo64MiBWithinTheHardLimit) {
  struct {
    rlimit current;
    rlim_t wanted;
  } cases[] = {
      {{8 * MiB, RLIM_INFINITY}, 64 * MiB},
      {{8 * MiB, 128 * MiB}, 64 * MiB},
      {{8 * MiB, 16 * MiB}, 16 * MiB},
      {{64 * MiB, RLIM_INFINITY}, 64 * MiB},
      {{100 * MiB, RLIM_INFINITY}, 100 * MiB},
      {{RLIM_INFINITY, RLIM_INFINITY}, RLIM_INFINITY},
      {{16 * MiB, 16 * MiB}, 16 * MiB}, // already at the hard limit
  };
  for (const auto& c : cases)
    EXPECT_EQ(raised_stack_limit(c.current), c.wanted)
        << c.current.rlim_cur << "/" << c.current.rlim_max;
}

// Runs `body` in a child process and returns its exit status, so that
// signal dispositions do not leak into the test runner.
template <typename Body>
int in_child(Body body) {
  pid_t pid = fork();
  if (pid == 0)
    _exit(body());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

sighandler_t disposition(int signum) {
  struct sigaction current;
  sigaction(signum, nullptr, &current);
  return current.sa_handler;
}

TEST(Signals, IgnoredByParentStaysIgnored) {
  EXPECT_EQ(in_child([] {
              signal(SIGINT, SIG_IGN);
              signal(SIGTERM, SIG_DFL);
              signal(SIGCHLD, SIG_IGN);
              install_signal_handlers();
              if (disposition(SIGINT) != SIG_IGN)
                return 1;
              sighandler_t term = disposition(SIGTERM);
              if (term == SIG_IGN || term == SIG_DFL)
                return 2;
              if (disposition(SIGCHLD) != SIG_DFL)
                return 3;
              return 0;
            }),
            0);
}

TEST(Signals, CaughtSignalIsReraisedWithDefaultAction) {
  EXPECT_EQ(in_child([] {
              signal(SIGHUP, SIG_DFL);
              install_signal_handlers();
              raise(SIGHUP);
              return 0;
            }),
            100 + SIGHUP);
}

TEST(CleanupAtExit, FatalExitRemovesTheUnfinishedStepsOutputs) {
  char pattern[] = "/tmp/velk-exit-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  std::string dir = pattern;
  std::string kept = dir + "/kept.o", partial = dir + "/partial.o",
              temp = dir + "/cc1.s";
  for (const std::string& f : {kept, partial, temp})
    std::fclose(std::fopen(f.c_str(), "w"));
  // A fatal error (exit status 1 through std::exit) while the second
  // input's compilation runs; the first one succeeded.
  EXPECT_EQ(in_child([&] {
              register_cleanup_at_exit();
              note_temp_file(kept, false, true);
              forget_failure_files();
              note_temp_file(partial, false, true);
              note_temp_file(temp, true, false);
              std::exit(1);
              return 0;
            }),
            1);
  EXPECT_EQ(access(kept.c_str(), F_OK), 0);
  EXPECT_NE(access(partial.c_str(), F_OK), 0);
  EXPECT_NE(access(temp.c_str(), F_OK), 0);
  // SIGTERM to the driver does the same and ends it by the signal.
  for (const std::string& f : {partial, temp})
    std::fclose(std::fopen(f.c_str(), "w"));
  EXPECT_EQ(in_child([&] {
              signal(SIGTERM, SIG_DFL);
              install_signal_handlers();
              note_temp_file(partial, false, true);
              note_temp_file(temp, true, false);
              raise(SIGTERM);
              return 0;
            }),
            100 + SIGTERM);
  EXPECT_NE(access(partial.c_str(), F_OK), 0);
  EXPECT_NE(access(temp.c_str(), F_OK), 0);
  std::remove(kept.c_str());
  rmdir(dir.c_str());
}

} // namespace
} // namespace velk
