// End-to-end test harness: a fresh installed tree per case, with the
// stand-in toolchain, and a controlled run of one of its programs.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velk::test {

// One call of a stand-in program, read back from its log.
struct tool_call {
  std::string program;
  std::vector<std::string> args; // argv[1] onwards
  std::map<std::string, std::string> env;
  std::string sigint; // "ignored", "default" or "handled"

  // The arguments joined by single spaces, for compact comparisons.
  std::string joined_args() const;
};

struct run_result {
  int exit_status = -1; // -1 when the process died of a signal
  int term_signal = 0;  // 0 when it exited
  std::string out;
  std::string err;
  std::vector<tool_call> calls;

  std::vector<std::string> programs() const; // program names in call order
};

struct run_options {
  std::map<std::string, std::string> env; // added to (or replacing) the base
  std::vector<std::string> unset;         // removed from the base
  std::optional<std::string> program;     // executable; default bin/velk++
  std::optional<std::string> argv0;       // argv[0]; default the program path
  bool empty_argv = false; // argv without any string (argc 0), args ignored
  // Standard output goes to this file instead of being captured (for
  // example "/dev/full"); an empty name starts the program with it closed.
  std::optional<std::string> stdout_file;
  std::optional<std::string> cwd; // default work()
  bool ignore_sigint = false;     // start with SIGINT ignored
  bool stderr_terminal = false;   // standard error on a terminal
  std::string stdin_text;         // fed to standard input
  int timeout_seconds = 60;
  // Sends this signal to the driver once `signal_on_call` has logged a call
  // (the program is then usually asleep, see tool_behaviour::sleep_ms).
  int send_signal = 0;
  std::string signal_on_call;
};

// What a stand-in program does when called.
struct tool_behaviour {
  std::optional<int> exit_status;
  std::optional<int> signal_number;
  std::optional<int> sleep_ms;
  std::optional<std::string> out;
  std::optional<std::string> err;
  bool create_output = true;
  // Written to the file of -fdump-final-insns=.
  std::optional<std::string> dump;
  // The behaviour applies only to calls without this argument.
  std::optional<std::string> unless_arg;
};

// A program left running beside the test, such as a daemon, in a process
// group of its own.  Destroying it stops it (see stop()).
class background_process {
public:
  explicit background_process(int pid) : pid_(pid) {}
  background_process(const background_process&) = delete;
  background_process& operator=(const background_process&) = delete;
  background_process(background_process&& other) noexcept
      : pid_(other.pid_), status_(other.status_) {
    other.pid_ = -1;
  }
  ~background_process() { stop(); }

  int pid() const { return pid_; }
  // False once the program has ended.
  bool running();
  // Sends SIGTERM to the program's process group and waits until the
  // program and every process it left behind have ended; SIGKILL ends
  // whatever is left after `grace_seconds`.  True when everything ended on
  // SIGTERM in time.  Processes that left the group are still waited for
  // (the test takes them in as a subreaper where the system allows), and
  // those in `other_groups` are killed with them.
  bool stop(int grace_seconds = 10, const std::vector<int>& other_groups = {});

private:
  int pid_;
  int status_ = -1; // wait status, once reaped
};

// The calls recorded in a stand-in log file.
std::vector<tool_call> read_calls(const std::string& log_path);

class sandbox {
public:
  sandbox();
  sandbox(const sandbox&) = delete;
  sandbox& operator=(const sandbox&) = delete;
  ~sandbox();

  const std::string& root() const { return root_; }
  const std::string& prefix() const { return prefix_; } // installed tree
  const std::string& work() const { return work_; }     // working directory
  const std::string& tmp() const { return tmp_; }       // TMPDIR
  std::string driver() const { return prefix_ + "/bin/velk++"; }
  // Directory of the compiler propers inside the prefix.
  std::string exec_dir() const;
  // Directory of the assembler, linker and archive tools inside the prefix.
  std::string tool_dir() const;

  void set_behaviour(const std::string& program, const tool_behaviour& b);

  // Writes a file (path relative to work() unless absolute).
  void write_file(const std::string& path, const std::string& content = "");
  bool exists(const std::string& path) const;
  std::string read_file(const std::string& path) const;
  // Names of the entries of a directory (relative to work() unless
  // absolute), sorted.
  std::vector<std::string> list_dir(const std::string& path) const;

  // Runs velk++ (or opts.program) with `args`.  The base environment is
  // PATH=/usr/bin:/bin, TMPDIR=tmp(), LANG=C, LC_ALL=C and the stand-in's
  // log and control settings; sanitizer settings pass through.
  run_result run(const std::vector<std::string>& args,
                 const run_options& opts = {});

  // Starts `args` (args[0] is the program's path) with the environment
  // run() would give it, standard input from /dev/null and both output
  // streams appended to `output_file`, and leaves it running.
  background_process start(const std::vector<std::string>& args,
                           const std::string& output_file,
                           const run_options& opts = {});

  std::vector<tool_call> calls() const;
  void clear_calls();

private:
  std::string absolute(const std::string& path) const;
  std::vector<std::string> environment(const run_options& opts) const;

  std::string root_, prefix_, work_, tmp_, log_, control_;
  std::string control_text_;
};

// True for a line of the configuration banner that -v and -### print on
// standard error (target, configure line, thread model, compression,
// version).
bool is_banner_line(std::string_view line);

// `text` with every `from` replaced by `to`.
std::string replace_all(std::string text, const std::string& from,
                        const std::string& to);

// What a -### run showed: the command lines (the lines that start with a
// blank), with the installed tree written "$P" (the driver reaches it as
// PREFIX/bin/..) and each temporary file name "$T1", "$T2"... in order of
// first appearance, keeping its suffix; and the other lines of standard
// error that are not environment settings (notices, the configuration
// banner, diagnostics).
struct shown_run {
  int exit_status = -1;
  std::vector<std::string> commands;
  std::string notes;
};

// Runs velk++ with -### in front of `args` and sorts what it showed.
shown_run show(sandbox& box, std::vector<std::string> args);

// Installed stage that every sandbox copies.
std::string stage_dir();

} // namespace velk::test
