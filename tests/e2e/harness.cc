#include "tests/e2e/harness.h"

#include <map>

#include "tests/standin/log_format.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

namespace velk::test {

namespace {

[[noreturn]] void fail(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

void make_dir(const std::string& path) {
  if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST)
    fail("mkdir " + path);
}

void copy_file(const std::string& from, const std::string& to, mode_t mode) {
  // A hard link is a real file for the driver, and costs nothing; copy when
  // the two trees are on different file systems.
  if (link(from.c_str(), to.c_str()) == 0)
    return;
  std::ifstream in(from, std::ios::binary);
  std::ofstream out(to, std::ios::binary);
  out << in.rdbuf();
  out.close();
  chmod(to.c_str(), mode);
}

void copy_tree(const std::string& from, const std::string& to) {
  make_dir(to);
  DIR* dir = opendir(from.c_str());
  if (dir == nullptr)
    fail("opendir " + from);
  while (dirent* e = readdir(dir)) {
    std::string name = e->d_name;
    if (name == "." || name == "..")
      continue;
    std::string src = from + "/" + name, dst = to + "/" + name;
    struct stat st;
    if (lstat(src.c_str(), &st) != 0)
      continue;
    if (S_ISDIR(st.st_mode))
      copy_tree(src, dst);
    else if (S_ISREG(st.st_mode))
      copy_file(src, dst, st.st_mode & 07777);
  }
  closedir(dir);
}

void remove_tree(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0)
    return;
  if (S_ISDIR(st.st_mode)) {
    chmod(path.c_str(), 0755); // tests may take permissions away
    if (DIR* dir = opendir(path.c_str())) {
      while (dirent* e = readdir(dir)) {
        std::string name = e->d_name;
        if (name != "." && name != "..")
          remove_tree(path + "/" + name);
      }
      closedir(dir);
    }
    rmdir(path.c_str());
  } else {
    unlink(path.c_str());
  }
}

} // namespace

std::string stage_dir() {
  if (const char* s = std::getenv("VELK_TEST_STAGE"))
    return s;
  return VELK_TEST_STAGE;
}

std::string tool_call::joined_args() const {
  std::string out;
  for (const std::string& a : args) {
    if (!out.empty())
      out += ' ';
    out += a;
  }
  return out;
}

std::vector<std::string> run_result::programs() const {
  std::vector<std::string> names;
  for (const tool_call& c : calls)
    names.push_back(c.program);
  return names;
}

sandbox::sandbox() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base && *base ? base : "/tmp") + "/velk-e2e-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) == nullptr)
    fail("mkdtemp");
  root_ = buf.data();
  prefix_ = root_ + "/prefix";
  work_ = root_ + "/work";
  tmp_ = root_ + "/tmp";
  log_ = root_ + "/calls.log";
  control_ = root_ + "/control";
  struct stat st;
  if (stat(stage_dir().c_str(), &st) != 0)
    throw std::runtime_error("no test stage at " + stage_dir() +
                             "; build the `stage` target first");
  copy_tree(stage_dir(), prefix_);
  make_dir(work_);
  make_dir(tmp_);
  std::ofstream(control_).close();
}

sandbox::~sandbox() {
  remove_tree(root_);
}

std::string sandbox::exec_dir() const {
  return prefix_ + "/libexec/velk/aarch64-portbld-freebsd14.3/13.3.0";
}

std::string sandbox::tool_dir() const {
  return prefix_ + "/aarch64-portbld-freebsd14.3/bin";
}

void sandbox::set_behaviour(const std::string& program,
                            const tool_behaviour& b) {
  std::string& t = control_text_;
  if (b.exit_status)
    t += program + " exit " + std::to_string(*b.exit_status) + "\n";
  if (b.signal_number)
    t += program + " signal " + std::to_string(*b.signal_number) + "\n";
  if (b.sleep_ms)
    t += program + " sleep " + std::to_string(*b.sleep_ms) + "\n";
  if (b.out)
    t += program + " stdout " + log_escape(*b.out) + "\n";
  if (b.err)
    t += program + " stderr " + log_escape(*b.err) + "\n";
  if (!b.create_output)
    t += program + " no-output 1\n";
  if (b.dump)
    t += program + " dump " + log_escape(*b.dump) + "\n";
  if (b.unless_arg)
    t += program + " unless-arg " + log_escape(*b.unless_arg) + "\n";
  std::ofstream(control_, std::ios::trunc) << t;
}

std::string sandbox::absolute(const std::string& path) const {
  return !path.empty() && path[0] == '/' ? path : work_ + "/" + path;
}

void sandbox::write_file(const std::string& path, const std::string& content) {
  std::string full = absolute(path);
  for (std::size_t p = full.find('/', root_.size() + 1); p != std::string::npos;
       p = full.find('/', p + 1))
    make_dir(full.substr(0, p));
  std::ofstream(full, std::ios::binary | std::ios::trunc) << content;
}

bool sandbox::exists(const std::string& path) const {
  struct stat st;
  return lstat(absolute(path).c_str(), &st) == 0;
}

std::string sandbox::read_file(const std::string& path) const {
  std::ifstream in(absolute(path), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> sandbox::list_dir(const std::string& path) const {
  std::vector<std::string> names;
  if (DIR* dir = opendir(absolute(path).c_str())) {
    while (dirent* e = readdir(dir)) {
      std::string name = e->d_name;
      if (name != "." && name != "..")
        names.push_back(name);
    }
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<tool_call> read_calls(const std::string& log_path) {
  std::vector<tool_call> result;
  std::ifstream in(log_path);
  std::string line;
  tool_call current;
  while (std::getline(in, line)) {
    if (line.rfind("call ", 0) == 0) {
      current = tool_call{};
      current.program = log_unescape(line.substr(5));
    } else if (line.rfind("arg ", 0) == 0) {
      current.args.push_back(log_unescape(line.substr(4)));
    } else if (line.rfind("env ", 0) == 0) {
      std::string rest = line.substr(4);
      std::size_t eq = rest.find('=');
      current.env[rest.substr(0, eq)] = log_unescape(rest.substr(eq + 1));
    } else if (line.rfind("sigint ", 0) == 0) {
      current.sigint = line.substr(7);
    } else if (line == "end") {
      result.push_back(current);
    }
  }
  return result;
}

std::vector<tool_call> sandbox::calls() const {
  return read_calls(log_);
}

void sandbox::clear_calls() {
  unlink(log_.c_str());
}

std::vector<std::string> sandbox::environment(const run_options& opts) const {
  std::map<std::string, std::string> env = {
      {"PATH", "/usr/bin:/bin"},
      {"TMPDIR", tmp_},
      {"LANG", "C"},
      {"LC_ALL", "C"},
      {"VELK_STANDIN_LOG", log_},
      {"VELK_STANDIN_CONTROL", control_},
  };
  for (const char* keep :
       {"ASAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS", "LSAN_OPTIONS"}) {
    if (const char* v = std::getenv(keep))
      env[keep] = v;
  }
  for (const auto& [k, v] : opts.env)
    env[k] = v;
  for (const std::string& k : opts.unset)
    env.erase(k);
  std::vector<std::string> env_text;
  for (const auto& [k, v] : env)
    env_text.push_back(k + "=" + v);
  return env_text;
}

namespace {

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> p;
  for (std::string& s : strings)
    p.push_back(s.data());
  p.push_back(nullptr);
  return p;
}

} // namespace

run_result sandbox::run(const std::vector<std::string>& args,
                        const run_options& opts) {
  std::string program = opts.program.value_or(driver());
  std::vector<std::string> argv_text;
  argv_text.push_back(opts.argv0.value_or(program));
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  if (!opts.empty_argv)
    for (std::string& a : argv_text)
      argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env_text = environment(opts);
  std::vector<char*> envp = pointers(env_text);
  std::string cwd = opts.cwd.value_or(work_);

  int out_pipe[2], err_pipe[2], in_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0 ||
      pipe2(in_pipe, O_CLOEXEC) != 0)
    fail("pipe");
  if (opts.stderr_terminal) {
    // Standard error on a pseudo-terminal in raw mode, so that the bytes
    // read from its master are exactly the bytes written.
    close(err_pipe[0]);
    close(err_pipe[1]);
    err_pipe[0] = posix_openpt(O_RDWR | O_NOCTTY);
    if (err_pipe[0] < 0 || grantpt(err_pipe[0]) != 0 ||
        unlockpt(err_pipe[0]) != 0)
      fail("posix_openpt");
    fcntl(err_pipe[0], F_SETFD, FD_CLOEXEC);
    const char* name = ptsname(err_pipe[0]);
    err_pipe[1] = name ? open(name, O_RDWR | O_NOCTTY | O_CLOEXEC) : -1;
    termios mode;
    if (err_pipe[1] < 0 || tcgetattr(err_pipe[1], &mode) != 0)
      fail("open terminal");
    cfmakeraw(&mode);
    tcsetattr(err_pipe[1], TCSANOW, &mode);
  }
  pid_t pid = fork();
  if (pid < 0)
    fail("fork");
  if (pid == 0) {
    dup2(in_pipe[0], 0);
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    if (opts.stdout_file) {
      close(1);
      if (!opts.stdout_file->empty()) {
        int fd = open(opts.stdout_file->c_str(), O_WRONLY | O_CREAT, 0666);
        if (fd < 0 || (fd != 1 && dup2(fd, 1) != 1))
          _exit(127);
      }
    }
    if (chdir(cwd.c_str()) != 0)
      _exit(127);
    signal(SIGINT, opts.ignore_sigint ? SIG_IGN : SIG_DFL);
    signal(SIGPIPE, SIG_DFL);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(in_pipe[0]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  // Standard input is small: write it at once, then close.
  if (!opts.stdin_text.empty()) {
    signal(SIGPIPE, SIG_IGN);
    ssize_t ignored =
        write(in_pipe[1], opts.stdin_text.data(), opts.stdin_text.size());
    (void)ignored;
  }
  close(in_pipe[1]);

  run_result result;
  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open_count = 2;
  timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  bool killed = false;
  bool signalled = opts.send_signal == 0;
  while (open_count > 0) {
    if (!signalled) {
      for (const tool_call& call : calls()) {
        if (call.program == opts.signal_on_call) {
          kill(pid, opts.send_signal);
          signalled = true;
          break;
        }
      }
    }
    int ready = poll(fds, 2, signalled ? 1000 : 20);
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (!killed && now.tv_sec - start.tv_sec > opts.timeout_seconds) {
      kill(pid, SIGKILL);
      killed = true;
    }
    if (ready <= 0)
      continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP)))
        continue;
      char buf[4096];
      ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) {
    result.exit_status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.term_signal = WTERMSIG(status);
  }
  result.calls = calls();
  return result;
}

background_process sandbox::start(const std::vector<std::string>& args,
                                  const std::string& output_file,
                                  const run_options& opts) {
  if (args.empty())
    throw std::invalid_argument("start: no program");
  std::vector<std::string> argv_text = args;
  std::vector<char*> argv = pointers(argv_text);
  std::vector<std::string> env_text = environment(opts);
  std::vector<char*> envp = pointers(env_text);
  const std::string cwd = opts.cwd.value_or(work_);
  const std::string output = absolute(output_file);
#ifdef __linux__
  // Processes the program leaves behind (a daemon's workers outlive it when
  // they are not its own group) come back to the test, which reaps them.
  prctl(PR_SET_CHILD_SUBREAPER, 1);
#endif
  pid_t pid = fork();
  if (pid < 0)
    fail("fork");
  if (pid == 0) {
    setpgid(0, 0);
    int in = open("/dev/null", O_RDONLY);
    int out = open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 ||
        dup2(out, 2) < 0 || chdir(cwd.c_str()) != 0)
      _exit(127);
    close(in);
    close(out);
    signal(SIGINT, SIG_DFL);
    signal(SIGPIPE, SIG_DFL);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  setpgid(pid, pid); // also here, so that stop() never misses the group
  return background_process(pid);
}

namespace {

// Reaps the children of the test until none is left (true) or the
// deadline passes (false); records the wait status of `main`.  Without a
// subreaper only `main` itself can be waited for.
bool reap_all(pid_t main, int& main_status, const timespec& deadline) {
  for (;;) {
    int status = 0;
#ifdef __linux__
    pid_t got = waitpid(-1, &status, WNOHANG);
    if (got < 0 && errno == ECHILD)
      return true;
#else
    if (main_status != -1)
      return true;
    pid_t got = waitpid(main, &status, WNOHANG);
#endif
    if (got == main)
      main_status = status;
    if (got > 0 || (got < 0 && errno == EINTR))
      continue;
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (now.tv_sec > deadline.tv_sec ||
        (now.tv_sec == deadline.tv_sec && now.tv_nsec >= deadline.tv_nsec))
      return false;
    timespec pause{0, 20 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
}

} // namespace

bool background_process::running() {
  if (pid_ <= 0 || status_ != -1)
    return false;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) == pid_) {
    status_ = status;
    return false;
  }
  return true;
}

bool background_process::stop(int grace_seconds,
                              const std::vector<int>& other_groups) {
  if (pid_ <= 0)
    return true;
  kill(-pid_, SIGTERM);
  timespec deadline;
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += grace_seconds;
  const bool clean = reap_all(pid_, status_, deadline);
  if (!clean) {
    kill(-pid_, SIGKILL);
    for (int group : other_groups)
      if (group > 0)
        kill(-group, SIGKILL);
    deadline.tv_sec += 10;
    reap_all(pid_, status_, deadline);
  }
#ifdef __linux__
  prctl(PR_SET_CHILD_SUBREAPER, 0);
#endif
  pid_ = -1;
  return clean;
}

bool is_banner_line(std::string_view line) {
  for (std::string_view start :
       {"Target: ", "Configured with: ", "Thread model: ",
        "Supported LTO compression algorithms: ", "velk version ",
        "velk driver version "})
    if (line.starts_with(start))
      return true;
  return false;
}

std::string replace_all(std::string text, const std::string& from,
                        const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

shown_run show(sandbox& box, std::vector<std::string> args) {
  args.insert(args.begin(), "-###");
  run_result r = box.run(args);
  shown_run s;
  s.exit_status = r.exit_status;
  std::map<std::string, std::string> temps;
  const std::string temp_dir = box.tmp() + "/cc";
  std::size_t start = 0;
  while (start < r.err.size()) {
    std::size_t end = r.err.find('\n', start);
    end = end == std::string::npos ? r.err.size() : end + 1;
    std::string line = r.err.substr(start, end - start);
    start = end;
    if (line.starts_with(' ')) {
      line = replace_all(line, box.prefix() + "/bin/..", "$P");
      for (std::size_t at = line.find(temp_dir); at != std::string::npos;
           at = line.find(temp_dir, at)) {
        const std::string name = line.substr(at, temp_dir.size() + 6);
        auto [it, added] =
            temps.emplace(name, "$T" + std::to_string(temps.size() + 1));
        line.replace(at, name.size(), it->second);
      }
      line.pop_back();
      s.commands.push_back(line);
    } else if (!line.starts_with("SHEAF_") &&
               !line.starts_with("VELK_EXEC_PREFIX=") &&
               !line.starts_with("COMPILER_PATH=") &&
               !line.starts_with("LIBRARY_PATH=")) {
      s.notes += line;
    }
  }
  return s;
}

} // namespace velk::test
