// The stand-in toolchain: one small program installed under the names of the
// compiler propers, the assembler, the linker front-end and the archive
// tools.  Each call appends a record of its name, arguments and environment
// to the log named by VELK_STANDIN_LOG, creates the file named after -o, and
// then behaves as the control file named by VELK_STANDIN_CONTROL says.
// Called as a C or C++ compiler proper with -E, the "preprocessed" text it
// writes is a copy of its source file, so that it changes with the
// source as tools that hash preprocessed output (ccache, distcc) expect.
//
// Control file: one directive a line, "<program> <key> <value>", where
// <program> is a program name or "*", and <key> is one of
//   exit <status>    exit with this status (after creating the output)
//   signal <number>  die by this signal
//   sleep <ms>       sleep this long before ending
//   stdout <text>    print text (with \n and \\ escapes) on standard output
//   stderr <text>    the same on standard error
//   no-output 1      do not create the -o file
//   dump <text>      write text to the file named by -fdump-final-insns=
//   unless-arg <a>   the directives of this program do not apply to a call
//                    that has the argument <a>
//
// Log record:
//   call <program>
//   arg <escaped argument>        one line per argv element from argv[1]
//   env <NAME>=<escaped value>    for each recorded variable that is set
//   sigint <ignored|default|handled>
//   end
// Escapes: "\\" for a backslash, "\n" for a newline.
#include "tests/standin/log_format.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

using velk::test::log_escape;
using velk::test::log_unescape;

constexpr const char* recorded_variables[] = {
    "SHEAF_VELK",        "SHEAF_VELK_OPTIONS",   "SHEAF_LOOMER",
    "SHEAF_AS_OPTIONS",  "OFFLOAD_TARGET_NAMES", "COMPILER_PATH",
    "LIBRARY_PATH",      "VELK_EXEC_PREFIX",     "MAKEFLAGS",
    "SOURCE_DATE_EPOCH",
};

bool write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    ssize_t n = write(fd, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR)
        continue;
      return false;
    }
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

struct behaviour {
  int exit_status = 0;
  int signal_number = 0;
  long sleep_ms = 0;
  std::string out_text;
  std::string err_text;
  std::string dump_text;
  bool create_output = true;
};

behaviour read_control(const std::string& program, int argc, char** argv) {
  behaviour b;
  bool exempt = false;
  const char* path = std::getenv("VELK_STANDIN_CONTROL");
  if (path == nullptr)
    return b;
  FILE* f = std::fopen(path, "r");
  if (f == nullptr)
    return b;
  std::string line;
  int c;
  auto handle = [&](const std::string& l) {
    std::size_t s1 = l.find(' ');
    if (s1 == std::string::npos)
      return;
    std::size_t s2 = l.find(' ', s1 + 1);
    std::string who = l.substr(0, s1);
    std::string key = l.substr(
        s1 + 1, s2 == std::string::npos ? std::string::npos : s2 - s1 - 1);
    std::string value = s2 == std::string::npos
                            ? std::string()
                            : log_unescape(l.substr(s2 + 1));
    if (who != program && who != "*")
      return;
    if (key == "exit")
      b.exit_status = std::atoi(value.c_str());
    else if (key == "signal")
      b.signal_number = std::atoi(value.c_str());
    else if (key == "sleep")
      b.sleep_ms = std::atol(value.c_str());
    else if (key == "stdout")
      b.out_text += value;
    else if (key == "stderr")
      b.err_text += value;
    else if (key == "dump")
      b.dump_text += value;
    else if (key == "no-output")
      b.create_output = false;
    else if (key == "unless-arg")
      for (int i = 1; i < argc; ++i)
        exempt = exempt || value == argv[i];
  };
  while ((c = std::fgetc(f)) != EOF) {
    if (c == '\n') {
      handle(line);
      line.clear();
    } else {
      line += static_cast<char>(c);
    }
  }
  if (!line.empty())
    handle(line);
  std::fclose(f);
  return exempt ? behaviour{} : b;
}

const char* sigint_disposition() {
  struct sigaction current;
  if (sigaction(SIGINT, nullptr, &current) != 0)
    return "unknown";
  if (current.sa_handler == SIG_IGN)
    return "ignored";
  if (current.sa_handler == SIG_DFL)
    return "default";
  return "handled";
}

// Options of the compiler proper whose value is the next argument; that
// value is never the source file.
constexpr std::string_view separate_value_options[] = {
    "-o",         "-dumpbase", "-dumpbase-ext",
    "-dumpdir",   "-iprefix",  "-include",
    "-imacros",   "-isystem",  "-iquote",
    "-idirafter", "-I",        "-D",
    "-U",         "-MF",       "-MT",
    "-MQ",        "-x",        "-aux-info",
};

// The contents of the source files among the arguments: the arguments that
// are neither options nor option values and name regular files.
std::string source_text(int argc, char** argv) {
  std::string text;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg.starts_with('-')) {
      for (std::string_view o : separate_value_options)
        if (arg == o)
          ++i;
      continue;
    }
    struct stat st;
    if (stat(argv[i], &st) != 0 || !S_ISREG(st.st_mode))
      continue;
    int fd = open(argv[i], O_RDONLY | O_CLOEXEC);
    if (fd < 0)
      continue;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0)
      text.append(buffer, static_cast<std::size_t>(n));
    close(fd);
  }
  return text;
}

} // namespace

int main(int argc, char** argv) {
  std::string_view self = argc > 0 ? argv[0] : "standin";
  std::size_t slash = self.rfind('/');
  std::string program(slash == std::string_view::npos ? self
                                                      : self.substr(slash + 1));

  std::string record = "call " + log_escape(program) + "\n";
  for (int i = 1; i < argc; ++i)
    record += "arg " + log_escape(argv[i]) + "\n";
  for (const char* name : recorded_variables) {
    if (const char* value = std::getenv(name))
      record += std::string("env ") + name + "=" + log_escape(value) + "\n";
  }
  record += std::string("sigint ") + sigint_disposition() + "\n";
  record += "end\n";
  if (const char* log = std::getenv("VELK_STANDIN_LOG")) {
    // One write of the whole record, so that concurrent stages of a
    // pipeline do not interleave.
    int fd = open(log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) {
      write_all(fd, record);
      close(fd);
    }
  }

  behaviour b = read_control(program, argc, argv);

  // A stage of a pipeline gets its input on standard input; read it all so
  // that the writer never sees a closed pipe.
  struct stat st;
  if (fstat(STDIN_FILENO, &st) == 0 && S_ISFIFO(st.st_mode)) {
    char buffer[4096];
    while (read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
    }
  }

  // -E preprocesses for the C and C++ compiler propers only (for the linker
  // it means something else).
  bool preprocess = false;
  for (int i = 1; i < argc && (program == "tarn1" || program == "tarn1xx"); ++i)
    preprocess = preprocess || std::string_view(argv[i]) == "-E";
  const std::string content = preprocess
                                  ? source_text(argc, argv)
                                  : "standin output of " + program + "\n";

  if (b.create_output) {
    bool written = false;
    for (int i = 1; i < argc; ++i) {
      std::string_view arg = argv[i];
      std::string output;
      if (arg == "-o" && i + 1 < argc)
        output = argv[i + 1];
      else if (arg.size() > 2 && arg.substr(0, 2) == "-o")
        output = std::string(arg.substr(2));
      if (output.empty())
        continue;
      written = true;
      if (output == "-") {
        write_all(STDOUT_FILENO, content);
        continue;
      }
      int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd >= 0) {
        write_all(fd, content);
        close(fd);
      }
    }
    // Preprocessed text without -o goes to standard output.
    if (preprocess && !written)
      write_all(STDOUT_FILENO, content);
  }

  if (!b.dump_text.empty()) {
    constexpr std::string_view dump_option = "-fdump-final-insns=";
    for (int i = 1; i < argc; ++i) {
      std::string_view arg = argv[i];
      if (!arg.starts_with(dump_option))
        continue;
      const std::string dump(arg.substr(dump_option.size()));
      int fd = open(dump.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd >= 0) {
        write_all(fd, b.dump_text);
        close(fd);
      }
    }
  }

  write_all(STDOUT_FILENO, b.out_text);
  write_all(STDERR_FILENO, b.err_text);

  if (b.sleep_ms > 0) {
    timespec ts{b.sleep_ms / 1000, (b.sleep_ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
  }
  if (b.signal_number != 0) {
    std::signal(b.signal_number, SIG_DFL);
    raise(b.signal_number);
  }
  return b.exit_status;
}
