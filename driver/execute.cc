#include "driver/execute.h"

#include "diagnostics/diagnostic.h"
#include "diagnostics/internal_check.h"
#include "driver/command_line.h"
#include "driver/exit_status.h"
#include "driver/queries.h"
#include "options/handle.h"
#include "specs/search_paths.h"
#include "specs/spec_interpreter.h"
#include "specs/switches.h"
#include "support/configuration.h"
#include "support/pipeline.h"
#include "support/printable.h"
#include "support/temp_files.h"
#include "support/temp_names.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <span>
#include <sys/wait.h>

namespace velk {

namespace {

bool is_plain(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
         (c >= '0' && c <= '9') || c == '_' || c == '/' || c == '-' || c == '.';
}

// Double quotes with a backslash before each character that keeps its
// meaning inside them: `"`, `\`, `$`, and the backtick, which would run a
// command when the line is pasted into a shell.
void append_quoted(std::string& out, std::string_view arg) {
  out += '"';
  // The text between the characters that take a backslash goes in whole.
  auto special = [](char c) {
    return c == '"' || c == '\\' || c == '$' || c == '`';
  };
  for (;;) {
    std::size_t run = 0;
    while (run < arg.size() && !special(arg[run]))
      ++run;
    out += arg.substr(0, run);
    if (run == arg.size())
      break;
    out += '\\';
    out += arg[run];
    arg.remove_prefix(run + 1);
  }
  out += '"';
}

void append_echoed(std::string& out, std::string_view arg, bool quote) {
  out += ' ';
  if (arg.empty()) {
    out += "\"\"";
    return;
  }
  if (!quote || std::all_of(arg.begin(), arg.end(), is_plain)) {
    out += arg;
    return;
  }
  append_quoted(out, arg);
}

// One line of the -time= report: times, then the command, each argument
// quoted when a shell would split or expand it.
std::string time_report_line(double user, double system,
                             std::span<const std::string> words) {
  std::array<char, 64> times;
  std::snprintf(times.data(), times.size(), "%g %g", user, system);
  std::string line = times.data();
  for (const std::string& word : words) {
    line += ' ';
    if (word.find_first_of("\"\\$` \t\n\v\f\r") == std::string::npos)
      line += word;
    else
      append_quoted(line, word);
  }
  line += '\n';
  return line;
}

// One command of a group.
struct command {
  std::string spec_name; // the program as the spec wrote it
  std::size_t start = 0; // its arguments: [start, end) of the vector
  std::size_t end = 0;
  bool found = false; // first argument replaced by the path found
};

[[noreturn]] void cannot_execute(const std::string& program,
                                 const char* failure, int error) {
  if (error != 0) {
    errno = error;
    fatal_error(unknown_location, "cannot execute %qs: %s: %m", program.c_str(),
                failure);
  }
  fatal_error(unknown_location, "cannot execute %qs: %s", program.c_str(),
              failure);
}

// The exit-status byte of a child that exited, none for one a signal
// ended.
std::optional<int> exit_byte(int status) {
  if (WIFEXITED(status))
    return WEXITSTATUS(status);
  return std::nullopt;
}

bool same_contents(const std::string& a, const std::string& b) {
  std::ifstream fa(a, std::ios::binary | std::ios::ate);
  std::ifstream fb(b, std::ios::binary | std::ios::ate);
  if (!fa || !fb)
    return false;
  if (fa.tellg() != fb.tellg())
    return false;
  fa.seekg(0);
  fb.seekg(0);
  std::array<char, 4096> ba, bb;
  while (fa && fb) {
    fa.read(ba.data(), ba.size());
    fb.read(bb.data(), bb.size());
    if (fa.gcount() != fb.gcount() ||
        std::memcmp(ba.data(), bb.data(),
                    static_cast<std::size_t>(fa.gcount())))
      return false;
  }
  return fa.eof() && fb.eof();
}

bool append_text(const std::string& name, std::string_view text) {
  std::ofstream f(name, std::ios::binary | std::ios::app);
  f.write(text.data(), static_cast<std::streamsize>(text.size()));
  return static_cast<bool>(f);
}

// The temporary files of one reproduction attempt.  Each is on the
// clean-up list while it exists, so that a signal to the driver during
// the retry removes it; deleting it takes it off again.
struct retry_files {
  std::vector<std::string> names;

  std::string make(std::string_view suffix) {
    std::string name = make_temp_name(suffix);
    note_temp_file(name, true, false);
    names.push_back(name);
    return name;
  }
  void keep(const std::string& name) {
    cleanup_list().drop(name);
    std::erase(names, name);
  }
  ~retry_files() {
    for (const std::string& name : names) {
      remove_if_regular(name.c_str());
      cleanup_list().drop(name);
    }
  }
};

// Runs `arguments` as a single final stage found through PATH, output and
// errors to the files given; the wait status.
int run_attempt(const std::vector<std::string>& arguments,
                const std::string& out, const std::string& err, bool append) {
  int flags = PEX_PATH_SEARCH;
  if (append)
    flags |= PEX_APPEND_STDOUT | PEX_APPEND_STDERR;
  int status = 0;
  int error = 0;
  if (const char* failure = pex_one(flags, arguments.front().c_str(), arguments,
                                    program_name().c_str(), out.c_str(),
                                    err.c_str(), status, error))
    cannot_execute(arguments.front(), failure, error);
  return status;
}

bool retry_wanted(const std::vector<std::string>& arguments) {
  const std::string& input = tables().current.name;
  if (input.empty() || input == "-")
    return false;
  int outputs = 0;
  bool quiet = false;
  for (const std::string& arg : arguments) {
    if (arg == "-E" || arg == "-ftime-report")
      return false;
    if (arg.starts_with("-o"))
      ++outputs;
    else if (arg == "-quiet")
      quiet = true;
  }
  return outputs == 1 && quiet;
}

} // namespace

std::string command_group_echo(const std::vector<std::string>& argument_vector,
                               bool quote) {
  std::string out;
  std::size_t size = 1;
  for (const std::string& arg : argument_vector)
    size += arg.size() + 1;
  out.reserve(size);
  std::string shown; // one buffer for every argument
  for (const std::string& arg : argument_vector) {
    if (arg == "|") {
      out += " |\n";
      continue;
    }
    // The escapes go in after the quoting, which would double their
    // backslashes.
    shown.clear();
    append_echoed(shown, arg, quote);
    escape_unprintable_into(shown,
                            [&out](std::string_view piece) { out += piece; });
  }
  out += '\n';
  return out;
}

void insert_wrapper(std::vector<std::string>& arguments,
                    std::string_view wrapper) {
  // Runs of commas separate like one; a comma at the start yields nothing,
  // one at the end a final empty piece.
  std::vector<std::string> pieces;
  std::size_t pos = 0;
  while (pos < wrapper.size() && wrapper[pos] == ',')
    ++pos;
  while (true) {
    std::size_t comma = wrapper.find(',', pos);
    pieces.emplace_back(wrapper.substr(pos, comma - pos));
    if (comma == std::string_view::npos)
      break;
    pos = wrapper.find_first_not_of(',', comma);
    if (pos == std::string_view::npos) {
      pieces.emplace_back();
      break;
    }
  }
  arguments.insert(arguments.begin(), pieces.begin(), pieces.end());
}

void retry_crashed_compiler(const std::vector<std::string>& arguments) {
  if (arguments.empty() || !retry_wanted(arguments))
    return;

  // The same compilation, made repeatable, with its output on standard
  // output.
  std::vector<std::string> attempt = arguments;
  for (std::size_t i = 0; i < attempt.size(); ++i) {
    if (!attempt[i].starts_with("-o"))
      continue;
    if (attempt[i] != "-o")
      attempt[i] = "-o-";
    else if (i + 1 < attempt.size())
      attempt[i + 1] = "-";
    else
      attempt.emplace_back("-");
    break;
  }
  attempt.emplace_back("-frandom-seed=0");
  attempt.emplace_back("-fdump-noaddr");

  constexpr int attempts = 3;
  retry_files files;
  std::array<std::string, attempts> outs, errs;
  bool reproduced = true;
  for (int i = 0; i < attempts && reproduced; ++i) {
    outs[i] = files.make(".out");
    errs[i] = files.make(".err");
    const bool last = i == attempts - 1;
    if (last)
      append_text(errs[i], configuration_banner() + "\n");
    // Only an exit with status 4 is the same crash; an end by a signal is
    // something else.
    reproduced = exit_byte(run_attempt(attempt, outs[i], errs[i], last)) == 4;
  }
  if (!reproduced || !same_contents(outs[0], outs[1]) ||
      !same_contents(errs[0], errs[1])) {
    fnotice(stderr, "The bug is not reproducible, so it is likely a hardware "
                    "or OS problem.\n");
    return;
  }

  // The report: the compiler's messages as comments, the command, then the
  // preprocessed input.
  const std::string& report = outs[attempts - 1];
  const std::string& messages = errs[attempts - 1];
  std::string text = "// ";
  {
    std::ifstream in(messages, std::ios::binary);
    std::array<char, 4096> buffer;
    while (in.read(buffer.data(), buffer.size()) || in.gcount() > 0) {
      for (std::streamsize k = 0; k < in.gcount(); ++k) {
        text += buffer[static_cast<std::size_t>(k)];
        if (buffer[static_cast<std::size_t>(k)] == '\n')
          text += "// ";
      }
    }
  }
  text += "\n//";
  for (const std::string& arg : attempt) {
    text += ' ';
    text += arg;
  }
  text += "\n\n";
  {
    std::ofstream out(report, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (!out)
      return;
  }

  attempt.emplace_back("-E");
  if (exit_byte(run_attempt(attempt, report, messages, true)) != 0)
    return;
  files.keep(report);
  fnotice(stderr,
          "Preprocessed source stored into %s file, please attach this to "
          "your bugreport.\n",
          report.c_str());
}

int execute(const std::vector<std::string>& group) {
  if (spec_state().spec_function_depth > 0)
    internal_error("execute called while a spec function was evaluated");
  if (group.empty())
    return 0;

  driver_settings& s = settings();
  std::vector<std::string> argv = group;
  const char* wrapper = global_options.opt_wrapper;
  if (wrapper != nullptr) {
    if (std::optional<std::string> path = find_program(argv.front()))
      argv.front() = std::move(*path);
    insert_wrapper(argv, wrapper);
  }

  // Split the group into its commands and look their programs up.  With
  // a wrapper, the wrapper is the program and is found through PATH.
  std::vector<command> commands;
  bool in_command = false;
  for (std::size_t i = 0; i < argv.size(); ++i) {
    if (argv[i] == "|") {
      // A "|" with no command before it (at the start, or doubled) starts
      // nothing; one at the end leaves the last command final.
      if (in_command)
        commands.back().end = i;
      in_command = false;
      continue;
    }
    if (in_command)
      continue;
    in_command = true;
    command c;
    c.spec_name = argv[i];
    c.start = i;
    c.end = argv.size();
    if (wrapper == nullptr) {
      if (std::optional<std::string> path = find_program(argv[i])) {
        argv[i] = std::move(*path);
        c.found = true;
      }
    }
    commands.push_back(std::move(c));
  }
  if (commands.empty())
    return 0;

  if (verbose_requested()) {
    if (s.help_requested)
      std::fputc('\n', stderr);
    std::string echo = command_group_echo(argv, s.print_only_count > 0);
    std::fputs(echo.c_str(), stderr);
    std::fflush(stderr);
    if (s.print_only_count > 0) {
      ++counters().run_count;
      return 0;
    }
  }

  const bool report_times =
      global_options.opt_time != 0 || s.time_report != nullptr;
  pipeline_ptr p = pex_create(PEX_PIPES | (report_times ? PEX_TIMES : 0),
                              program_name().c_str(), nullptr);
  for (std::size_t i = 0; i < commands.size(); ++i) {
    const command& c = commands[i];
    int flags = 0;
    if (i + 1 == commands.size())
      flags |= PEX_FINAL_STAGE;
    if (!c.found)
      flags |= PEX_PATH_SEARCH;
    int error = 0;
    std::span<const std::string> args(argv.data() + c.start, c.end - c.start);
    if (const char* failure = pex_launch(*p, flags, argv[c.start].c_str(), args,
                                         nullptr, nullptr, nullptr, error)) {
      // Stop the stages already started before the run ends.
      pex_release(std::move(p));
      cannot_execute(argv[c.start], failure, error);
    }
  }
  ++counters().run_count;

  std::vector<int> statuses(commands.size());
  std::vector<pex_time> times(commands.size());
  if (!pex_get_status(*p, statuses))
    fatal_error(unknown_location, "failed to get exit status: %m");
  if (report_times && !pex_times(*p, times))
    fatal_error(unknown_location, "failed to get process times: %m");
  pex_release(std::move(p));

  bool failed = false;
  run_counters& counts = counters();
  for (std::size_t i = 0; i < commands.size(); ++i) {
    const command& c = commands[i];
    const int status = statuses[i];
    if (WIFSIGNALED(status)) {
      const int signum = WTERMSIG(status);
      const char* description = strsignal(signum);
      switch (signum) {
      case SIGINT:
      case SIGQUIT:
      case SIGKILL:
      case SIGTERM:
        // Someone stopped the program on purpose (the out-of-memory
        // killer included): not a fault of the compiler.
        fatal_error(unknown_location, "%s signal terminated program %s",
                    description, c.spec_name.c_str());
      case SIGPIPE:
        // In a pipeline, the fallout of a later stage that ended first.
        ++counts.interrupt_count;
        failed = true;
        break;
      default:
        internal_error_no_backtrace("%s signal terminated program %s",
                                    description, c.spec_name.c_str());
      }
    } else if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
      const int code = WEXITSTATUS(status);
      if (code == 4 && i == 0 && global_options.flag_report_bug != 0) {
        const std::string& program = argv[c.start];
        std::size_t slash = program.rfind('/');
        if (slash != std::string::npos &&
            program.compare(slash + 1, 5, "tarn1") == 0)
          retry_crashed_compiler(std::vector<std::string>(
              argv.begin() + static_cast<std::ptrdiff_t>(c.start),
              argv.begin() + static_cast<std::ptrdiff_t>(c.end)));
      }
      counts.highest_status = std::max(counts.highest_status, code);
      failed = true;
    }

    if (report_times) {
      const pex_time& t = times[i];
      const double user = static_cast<double>(t.user_seconds) +
                          static_cast<double>(t.user_microseconds) / 1000000.0;
      const double system =
          static_cast<double>(t.system_seconds) +
          static_cast<double>(t.system_microseconds) / 1000000.0;
      if (user + system != 0) {
        if (global_options.opt_time != 0)
          fnotice(stderr, "# %s %.2f %.2f\n", c.spec_name.c_str(), user,
                  system);
        if (s.time_report != nullptr) {
          std::vector<std::string> words;
          words.push_back(c.spec_name);
          words.insert(words.end(),
                       argv.begin() + static_cast<std::ptrdiff_t>(c.start + 1),
                       argv.begin() + static_cast<std::ptrdiff_t>(c.end));
          std::string line = time_report_line(user, system, words);
          std::fputs(line.c_str(), s.time_report.get());
          std::fflush(s.time_report.get());
        }
      }
    }
  }
  return failed ? -1 : 0;
}

} // namespace velk
