#include "support/pipeline.h"

#include "support/temp_names.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace velk {

class pipeline {
public:
  pipeline(int flags, const char* program_name, const char* temp_base)
      : flags_(flags), program_name_(program_name ? program_name : "") {
    if (temp_base != nullptr)
      temp_base_ = temp_base;
  }
  pipeline(const pipeline&) = delete;
  pipeline& operator=(const pipeline&) = delete;
  ~pipeline();

  const char* launch(int flags, const char* executable,
                     std::span<const std::string> args, char* const* env,
                     const char* out_name, const char* err_name, int& error);
  int get_status(std::span<int> out);
  int times(std::span<pex_time> out);

private:
  // Waits for the children from waited_ on; with `terminate`, each is sent
  // SIGTERM first.  Null on success, else "wait" with `error` set (the
  // remaining children are still waited for).
  const char* wait_children(bool terminate, int& error);
  std::optional<std::string> intermediate_name(int flags, const char* out_name);

  int flags_;
  std::string program_name_;
  std::optional<std::string> temp_base_;
  int next_input_ = 0; // -1 once a final stage was launched
  std::optional<std::string> next_input_name_;
  int error_pipe_ = -1;
  std::vector<pid_t> children_;
  std::vector<int> statuses_;
  std::vector<pex_time> times_;
  std::size_t waited_ = 0;
  std::vector<std::string> remove_list_;
};

namespace {

void close_unless(int fd, int standard) {
  if (fd >= 0 && fd != standard)
    close(fd);
}

int open_for_writing(const char* name, bool append) {
  return open(name,
              O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC),
              0666);
}

// Every descriptor this library opens is close-on-exec, so the child keeps
// only what is duplicated onto 0, 1 and 2.  A descriptor that already is
// the standard one it stands for (the driver was started with that one
// closed) is made inheritable instead; a standard descriptor the driver
// itself has closed stays closed in the child.
bool route(posix_spawn_file_actions_t& actions, int fd, int target) {
  if (fd != target)
    return posix_spawn_file_actions_adddup2(&actions, fd, target) == 0;
  int fd_flags = fcntl(fd, F_GETFD);
  if (fd_flags < 0)
    return errno == EBADF;
  return fcntl(fd, F_SETFD, fd_flags & ~FD_CLOEXEC) == 0;
}

// What the child needs between vfork and exec, prepared by the parent so
// that the child allocates nothing.
struct child_setup {
  const char* executable;
  bool path_search;
  char* const* argv;
  char* const* env;
  int in, out, err;
  bool merge_stderr;
  int report; // write end of the report pipe, -1 when none
  const char* program_name;
};

// The failure the child sends back: which step failed, and why.  The step
// is one of the static texts below, valid in the parent too since the
// child shares its memory until exec.
struct child_report {
  const char* step;
  int error;
};

bool write_fully(int fd, const void* data, std::size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = write(fd, p, size);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool write_text(const char* text) {
  return write_fully(2, text, std::strlen(text));
}

[[noreturn]] void run_child(const child_setup& c) {
  child_report r{nullptr, 0};
  auto move_to = [&](int fd, int target) {
    if (r.step != nullptr)
      return;
    if (fd == target) {
      // Already in place (the caller had that standard descriptor
      // closed); it must survive the exec.
      int fd_flags = fcntl(fd, F_GETFD);
      if (fd_flags >= 0)
        fcntl(fd, F_SETFD, fd_flags & ~FD_CLOEXEC);
      return;
    }
    if (dup2(fd, target) < 0)
      r = {"dup2", errno};
    else if (close(fd) < 0)
      r = {"close", errno};
  };
  move_to(c.in, 0);
  move_to(c.out, 1);
  move_to(c.err, 2);
  if (r.step == nullptr && c.merge_stderr && dup2(1, 2) < 0)
    r = {"dup2", errno};
  if (r.step == nullptr) {
    if (c.env != nullptr)
      environ = const_cast<char**>(c.env);
    if (c.path_search)
      execvp(c.executable, c.argv);
    else
      execv(c.executable, c.argv);
    r = {c.path_search ? "execvp" : "execv", errno};
  }
  if (c.report >= 0 && write_fully(c.report, &r, sizeof r))
    _exit(-1);
  // No way to tell the parent: say it here, without stdio.
  bool said = write_text(c.program_name) &&
              write_text(": error trying to exec '") &&
              write_text(c.executable) && write_text("': ") &&
              write_text(r.step) && write_text(": ") &&
              write_text(std::strerror(r.error)) && write_text("\n");
  _exit(said ? -1 : -2);
}

// Starts the child with vfork: for what posix_spawn cannot do, a program
// looked up on the PATH of an environment given to the child rather than
// on the caller's own.
const char* start_with_vfork(child_setup c, pid_t& pid, int& error) {
  int report[2] = {-1, -1};
  if (pipe2(report, O_CLOEXEC) == 0)
    c.report = report[1];
  else
    prepare_system_text(); // the child may have to say why exec failed
  char** saved_environment = environ;
  unsigned pause = 1;
  for (int attempt = 1;; ++attempt) {
    pid = vfork();
    if (pid == 0)
      run_child(c);
    if (pid > 0 || attempt == 4)
      break;
    sleep(pause);
    pause *= 2;
  }
  int vfork_error = errno;
  environ = saved_environment;
  if (report[1] >= 0)
    close(report[1]);
  if (pid < 0) {
    if (report[0] >= 0)
      close(report[0]);
    error = vfork_error;
    return "vfork";
  }
  child_report r{nullptr, 0};
  ssize_t got = -1;
  if (report[0] >= 0) {
    do
      got = read(report[0], &r, sizeof r);
    while (got < 0 && errno == EINTR);
    close(report[0]);
  }
  if (got == static_cast<ssize_t>(sizeof r)) {
    // The child ended at once; collect it so it leaves no zombie.
    int status;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    error = r.error;
    return r.step;
  }
  return nullptr;
}

// Starts the child.  posix_spawn reports a failed exec as its result, so
// the child never needs to report anything itself.  Null on success (pid
// set), else the failure text.
const char* start_child(const char* executable, bool path_search,
                        std::span<const std::string> args, char* const* env,
                        int in, int out, int err, bool merge_stderr,
                        const std::string& program_name, pid_t& pid,
                        int& error) {
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (const std::string& arg : args)
    argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  if (path_search && env != nullptr)
    return start_with_vfork({executable, path_search, argv.data(), env, in, out,
                             err, merge_stderr, -1, program_name.c_str()},
                            pid, error);

  posix_spawn_file_actions_t actions;
  if ((error = posix_spawn_file_actions_init(&actions)) != 0)
    return "vfork";
  bool routed =
      route(actions, in, 0) && route(actions, out, 1) &&
      route(actions, err, 2) &&
      (!merge_stderr || posix_spawn_file_actions_adddup2(&actions, 1, 2) == 0);
  if (!routed) {
    error = errno;
    posix_spawn_file_actions_destroy(&actions);
    return "dup2";
  }
  // A child cannot be created when the system is short of processes or
  // memory for a moment: try four times, pausing 1, 2 and 4 seconds.
  unsigned pause = 1;
  for (int attempt = 1;; ++attempt) {
    char* const* environment = env != nullptr ? env : environ;
    error = path_search ? posix_spawnp(&pid, executable, &actions, nullptr,
                                       argv.data(), environment)
                        : posix_spawn(&pid, executable, &actions, nullptr,
                                      argv.data(), environment);
    if (error != EAGAIN || attempt == 4)
      break;
    sleep(pause);
    pause *= 2;
  }
  posix_spawn_file_actions_destroy(&actions);
  if (error == EAGAIN)
    return "vfork";
  if (error != 0)
    return path_search ? "execvp" : "execv";
  return nullptr;
}

} // namespace

std::optional<std::string> pipeline::intermediate_name(int flags,
                                                       const char* out_name) {
  if (out_name == nullptr) {
    if (!temp_base_)
      return make_temp_name("");
    std::string_view base = *temp_base_;
    constexpr std::string_view pattern = "XXXXXX";
    if (base.ends_with(pattern))
      base.remove_suffix(pattern.size());
    return create_unique_file(base, "");
  }
  if (flags & PEX_NAME_SUFFIX) {
    if (!temp_base_)
      return make_temp_name(out_name);
    return *temp_base_ + out_name;
  }
  return std::string(out_name);
}

const char* pipeline::launch(int flags, const char* executable,
                             std::span<const std::string> args,
                             char* const* env, const char* out_name,
                             const char* err_name, int& error) {
  error = 0;
  int in = -1, out = -1, err = -1, next_input = -1;
  auto fail = [&](const char* text, int number) {
    close_unless(in, 0);
    close_unless(out, 1);
    close_unless(err, 2);
    if (next_input >= 0)
      close(next_input);
    error = number;
    return text;
  };

  // Input.
  if (next_input_name_) {
    // The file must be complete before the next stage reads it.
    if (const char* failure = wait_children(false, error))
      return failure;
    in = open(next_input_name_->c_str(), O_RDONLY | O_CLOEXEC);
    next_input_name_.reset();
    if (in < 0)
      return fail("open temporary file", errno);
  } else {
    in = next_input_;
    if (in < 0)
      return fail("pipeline already complete", 0);
  }
  // The input now belongs to this stage (and is closed on failure).
  next_input_ = -1;

  // Output.
  std::string out_path;
  if (flags & PEX_FINAL_STAGE) {
    if (out_name == nullptr)
      out = 1;
    else if ((flags & PEX_NAME_SUFFIX) && temp_base_)
      out_path = *temp_base_ + out_name;
    else
      out_path = out_name;
  } else if (!(flags_ & PEX_PIPES)) {
    std::optional<std::string> name = intermediate_name(flags, out_name);
    if (!name)
      return fail("could not create temporary file", 0);
    if (!(flags_ & PEX_KEEP_TEMPS))
      remove_list_.push_back(*name);
    next_input_name_ = *name;
    out_path = std::move(*name);
  } else {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
      return fail("pipe", errno);
    out = fds[1];
    next_input = fds[0];
  }
  if (out < 0) {
    out = open_for_writing(out_path.c_str(), flags & PEX_APPEND_STDOUT);
    if (out < 0)
      return fail("open temporary output file", errno);
  }

  // Standard error.
  if (err_name != nullptr && (flags & PEX_STDERR_TO_PIPE))
    return fail("both ERRNAME and PEX_STDERR_TO_PIPE specified.", 0);
  if (error_pipe_ >= 0)
    return fail("PEX_STDERR_TO_PIPE used in the middle of pipeline", 0);
  if (err_name == nullptr) {
    if (flags & PEX_STDERR_TO_PIPE) {
      int fds[2];
      if (pipe2(fds, O_CLOEXEC) != 0)
        return fail("pipe", errno);
      err = fds[1];
      error_pipe_ = fds[0];
    } else {
      err = 2;
    }
  } else {
    err = open_for_writing(err_name, flags & PEX_APPEND_STDERR);
    if (err < 0)
      return fail("open error file", errno);
  }

  pid_t pid = -1;
  if (const char* failure =
          start_child(executable, flags & PEX_PATH_SEARCH, args, env, in, out,
                      err, flags & PEX_MERGE_STDERR, program_name_, pid, error))
    return fail(failure, error);
  children_.push_back(pid);
  next_input_ = (flags & PEX_FINAL_STAGE) ? -1 : next_input;
  if (next_input_name_)
    next_input_ = -1;
  next_input = -1; // handed on, not closed
  // The child holds its own copies now.
  int close_error = 0;
  if (in != 0 && close(in) != 0)
    close_error = errno;
  if (out != 1 && close(out) != 0)
    close_error = errno;
  if (err != 2 && close(err) != 0)
    close_error = errno;
  if (close_error != 0) {
    error = close_error;
    return "close";
  }
  return nullptr;
}

const char* pipeline::wait_children(bool terminate, int& error) {
  const char* failure = nullptr;
  statuses_.resize(children_.size(), 0);
  if (flags_ & PEX_TIMES)
    times_.resize(children_.size());
  for (; waited_ < children_.size(); ++waited_) {
    pid_t pid = children_[waited_];
    if (terminate)
      kill(pid, SIGTERM);
    int status = 0;
    pid_t got;
    if (flags_ & PEX_TIMES) {
      struct rusage usage {};
      do
        got = wait4(pid, &status, 0, &usage);
      while (got < 0 && errno == EINTR);
      pex_time& t = times_[waited_];
      t.user_seconds = static_cast<unsigned long>(usage.ru_utime.tv_sec);
      t.user_microseconds = static_cast<unsigned long>(usage.ru_utime.tv_usec);
      t.system_seconds = static_cast<unsigned long>(usage.ru_stime.tv_sec);
      t.system_microseconds =
          static_cast<unsigned long>(usage.ru_stime.tv_usec);
    } else {
      do
        got = waitpid(pid, &status, 0);
      while (got < 0 && errno == EINTR);
    }
    if (got < 0 && failure == nullptr) {
      failure = "wait";
      error = errno;
    }
    statuses_[waited_] = status;
  }
  return failure;
}

int pipeline::get_status(std::span<int> out) {
  int error = 0;
  if (waited_ < children_.size() && wait_children(false, error) != nullptr)
    return 0;
  for (std::size_t i = 0; i < out.size(); ++i)
    out[i] = i < statuses_.size() ? statuses_[i] : 0;
  return 1;
}

int pipeline::times(std::span<pex_time> out) {
  if (!(flags_ & PEX_TIMES))
    return 0;
  int error = 0;
  if (waited_ < children_.size() && wait_children(false, error) != nullptr)
    return 0;
  for (std::size_t i = 0; i < out.size(); ++i)
    out[i] = i < times_.size() ? times_[i] : pex_time{};
  return 1;
}

pipeline::~pipeline() {
  if (next_input_ > 0)
    close(next_input_);
  if (error_pipe_ > 0)
    close(error_pipe_);
  if (waited_ < children_.size()) {
    // Nobody asked how the children ended: stop them.
    flags_ &= ~PEX_TIMES;
    int error = 0;
    wait_children(true, error);
  }
  for (const std::string& name : remove_list_)
    unlink(name.c_str());
}

void pipeline_deleter::operator()(pipeline* p) const {
  std::default_delete<pipeline>()(p);
}

pipeline_ptr pex_create(int flags, const char* program_name,
                        const char* temp_base) {
  return pipeline_ptr(new pipeline(flags, program_name, temp_base));
}

const char* pex_launch(pipeline& p, int flags, const char* executable,
                       std::span<const std::string> args, char* const* env,
                       const char* out_name, const char* err_name, int& error) {
  return p.launch(flags, executable, args, env, out_name, err_name, error);
}

int pex_get_status(pipeline& p, std::span<int> statuses) {
  return p.get_status(statuses);
}

int pex_times(pipeline& p, std::span<pex_time> times) {
  return p.times(times);
}

void pex_release(pipeline_ptr p) {
  p.reset();
}

const char* pex_one(int flags, const char* executable,
                    std::span<const std::string> args, const char* program_name,
                    const char* out_name, const char* err_name, int& status,
                    int& error) {
  pipeline_ptr p = pex_create(0, program_name, nullptr);
  if (const char* failure =
          pex_launch(*p, flags | PEX_FINAL_STAGE, executable, args, nullptr,
                     out_name, err_name, error))
    return failure;
  int statuses[1] = {0};
  if (!pex_get_status(*p, statuses)) {
    error = 0;
    return "pex_get_status failed";
  }
  status = statuses[0];
  return nullptr;
}

} // namespace velk
