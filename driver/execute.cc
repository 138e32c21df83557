#include "driver/execute.h"

#include "diagnostics/diagnostic.h"
#include "driver/command_line.h"
#include "driver/exit_status.h"
#include "specs/search_paths.h"

#include <cstdio>

namespace velk {

namespace {

bool needs_quotes(const std::string& arg) {
  for (char c : arg) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                       (c >= '0' && c <= '9') || c == '_' || c == '/' ||
                       c == '-' || c == '.';
    if (!plain)
      return true;
  }
  return false;
}

void append_argument(std::string& out, const std::string& arg, bool quote) {
  out += ' ';
  if (arg.empty()) {
    out += "\"\"";
    return;
  }
  if (!quote || !needs_quotes(arg)) {
    out += arg;
    return;
  }
  out += '"';
  for (char c : arg) {
    // A backtick would run a command when the line is pasted into a shell.
    if (c == '"' || c == '\\' || c == '$' || c == '`')
      out += '\\';
    out += c;
  }
  out += '"';
}

} // namespace

std::string command_group_echo(const std::vector<std::string>& argument_vector,
                               bool quote) {
  std::string out;
  bool command_start = true;
  for (const std::string& arg : argument_vector) {
    if (arg == "|") {
      out += " |\n";
      command_start = true;
      continue;
    }
    std::string shown = arg;
    if (command_start) {
      // The program as it will run: its full path when the lists find it.
      if (std::optional<std::string> path = find_program(arg))
        shown = *path;
      command_start = false;
    }
    append_argument(out, shown, quote);
  }
  out += '\n';
  return out;
}

int execute(const std::vector<std::string>& argument_vector) {
  const driver_settings& s = settings();
  if (verbose_requested()) {
    if (s.help_requested)
      std::fputc('\n', stderr);
    std::string echo =
        command_group_echo(argument_vector, s.print_only_count > 0);
    std::fputs(echo.c_str(), stderr);
    std::fflush(stderr);
    if (s.print_only_count > 0) {
      ++counters().run_count;
      return 0;
    }
  }
  error_at_input("cannot run %qs: running programs is not available yet",
                 argument_vector.empty() ? std::string()
                                         : argument_vector.front());
  return -1;
}

} // namespace velk
