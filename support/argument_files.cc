#include "support/argument_files.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velk {

namespace {

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' ||
         c == '\r';
}

// Escaped when written: what split_arguments would otherwise take as a
// separator, an escape or a quote.
bool needs_escape(char c) {
  return is_space(c) || c == '\\' || c == '\'' || c == '"';
}

// The whole content of a file, or none when it cannot be opened or read.
std::optional<std::string> read_whole_file(const char* name) {
  int fd = open(name, O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return std::nullopt;
  std::string content;
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
    content.reserve(static_cast<std::size_t>(st.st_size));
  constexpr std::size_t chunk = 64 * 1024;
  for (;;) {
    std::size_t used = content.size();
    content.resize(used + chunk);
    ssize_t got = read(fd, content.data() + used, chunk);
    if (got < 0 && errno == EINTR) {
      content.resize(used);
      continue;
    }
    if (got < 0) {
      close(fd);
      return std::nullopt;
    }
    content.resize(used + static_cast<std::size_t>(got));
    // The text ends at its first NUL byte: what follows is never used, and
    // a file like /dev/zero would otherwise be read without end.
    if (got == 0 || std::memchr(content.data() + used, '\0',
                                static_cast<std::size_t>(got)) != nullptr)
      break;
  }
  close(fd);
  return content;
}

[[noreturn]] void fail(const char* argv0, const char* what) {
  std::fprintf(stderr, "%s: error: %s\n", argv0, what);
  std::exit(1);
}

// The arguments still to be examined: a stack of argument lists, the
// innermost @file on top.  Replacing an @file by its arguments and
// resuming at the first of them is then a push, not an insertion in the
// middle of a vector, and an expansion costs time linear in its size.
struct pending_list {
  std::vector<std::string> args;
  std::size_t next = 0;
};

} // namespace

std::vector<std::string> split_arguments(std::string_view text) {
  // No argument can hold a NUL byte: the text ends at the first one.
  text = text.substr(0, std::min(text.find('\0'), text.size()));
  std::vector<std::string> args;
  args.reserve(8);
  std::size_t i = 0;
  auto skip_space = [&] {
    while (i < text.size() && is_space(text[i]))
      ++i;
  };
  skip_space();
  do {
    std::string arg;
    bool escaped = false, in_single = false, in_double = false;
    for (; i < text.size(); ++i) {
      char c = text[i];
      if (escaped) {
        arg += c;
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (in_single) {
        if (c == '\'')
          in_single = false;
        else
          arg += c;
      } else if (in_double) {
        if (c == '"')
          in_double = false;
        else
          arg += c;
      } else if (is_space(c)) {
        break;
      } else if (c == '\'') {
        in_single = true;
      } else if (c == '"') {
        in_double = true;
      } else {
        arg += c;
      }
    }
    args.push_back(std::move(arg));
    skip_space();
  } while (i < text.size());
  return args;
}

std::string format_arguments(std::span<const std::string> args) {
  std::size_t size = 0;
  for (const std::string& arg : args)
    size += 2 * arg.size() + 3;
  std::string out;
  out.reserve(size);
  for (const std::string& arg : args) {
    if (arg.empty()) {
      out += "\"\"";
    } else {
      for (char c : arg) {
        if (needs_escape(c))
          out += '\\';
        out += c;
      }
    }
    out += '\n';
  }
  return out;
}

int write_arguments(std::span<const std::string> args, std::FILE* stream) {
  if (stream == nullptr)
    return 1;
  std::string text = format_arguments(args);
  if (std::fwrite(text.data(), 1, text.size(), stream) != text.size() ||
      std::ferror(stream))
    return 1;
  return 0;
}

response_file_failure write_response_file(const std::string& path,
                                          std::span<const std::string> args) {
  std::FILE* stream = std::fopen(path.c_str(), "we");
  if (stream == nullptr)
    return response_file_failure::open;
  bool written = write_arguments(args, stream) == 0;
  bool closed = std::fclose(stream) == 0;
  if (!written)
    return response_file_failure::write;
  if (!closed)
    return response_file_failure::close;
  return response_file_failure::none;
}

std::optional<std::vector<std::string>>
expand_response_files(std::span<const char* const> args) {
  bool any_candidate = false;
  for (std::size_t i = 1; i < args.size() && !any_candidate; ++i)
    any_candidate = args[i] != nullptr && args[i][0] == '@';
  if (!any_candidate)
    return std::nullopt;

  const char* argv0 = args.empty() || args[0] == nullptr ? "" : args[0];
  int budget = max_response_files + 1;
  bool replaced = false;
  std::vector<std::string> out;
  out.reserve(args.size());
  out.emplace_back(argv0);
  std::vector<pending_list> stack;
  std::size_t top_next = 1;

  for (;;) {
    std::string arg;
    if (!stack.empty()) {
      pending_list& top = stack.back();
      if (top.next == top.args.size()) {
        stack.pop_back();
        continue;
      }
      arg = std::move(top.args[top.next++]);
    } else if (top_next < args.size()) {
      const char* a = args[top_next++];
      if (a == nullptr)
        continue;
      arg = a;
    } else {
      break;
    }

    if (arg.empty() || arg[0] != '@') {
      out.push_back(std::move(arg));
      continue;
    }
    if (--budget == 0)
      fail(argv0, "too many @-files encountered");
    const char* name = arg.c_str() + 1;
    struct stat st;
    if (stat(name, &st) != 0) {
      out.push_back(std::move(arg));
      continue;
    }
    if (S_ISDIR(st.st_mode))
      fail(argv0, "@-file refers to a directory");
    std::optional<std::string> content = read_whole_file(name);
    if (!content) {
      out.push_back(std::move(arg));
      continue;
    }
    replaced = true;
    std::string_view text = *content;
    text = text.substr(0, std::min(text.find('\0'), text.size()));
    bool blank = true;
    for (char c : text)
      blank = blank && is_space(c);
    if (blank)
      continue;
    stack.push_back(pending_list{split_arguments(text), 0});
  }
  if (!replaced)
    return std::nullopt;
  return out;
}

std::string saved_response_file_name(std::string_view dump_base,
                                     std::string_view dump_directory,
                                     bool trailing_dash, int counter) {
  std::string name;
  bool from_directory = false;
  if (!dump_base.empty()) {
    name = dump_base;
  } else if (!dump_directory.empty()) {
    name = dump_directory;
    from_directory = true;
  } else {
    name = "a";
  }
  if (!(from_directory && trailing_dash))
    name += '.';
  name += "args.";
  name += std::to_string(counter);
  return name;
}

bool& response_files_wanted() {
  static bool wanted = false;
  return wanted;
}

} // namespace velk
