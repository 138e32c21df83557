#include "specs/spec_files.h"

#include "diagnostics/diagnostic.h"
#include "specs/named_specs.h"
#include "specs/search_paths.h"
#include "specs/spec_setup.h"
#include "support/standard_output.h"

#include <cerrno>
#include <cstdio>
#include <deque>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace velk {

namespace {

// %include may nest this deep; a deeper chain of distinct files is refused
// (a file that includes itself, directly or not, is caught before).
constexpr int max_include_depth = 64;

// No spec file is anywhere near this; a larger "file" (a device that
// reports a huge size) is refused rather than read into memory.
constexpr off_t max_spec_file_size = off_t{64} << 20;

bool& verbose_flag() {
  static bool verbose = false;
  return verbose;
}

// The files being read, outermost first, by device and inode.
struct open_spec_file {
  dev_t device;
  ino_t inode;
};
std::vector<open_spec_file>& files_being_read() {
  static std::vector<open_spec_file> files;
  return files;
}

// Texts of the compilers-table rows that spec files add; the rows point
// into them for the rest of the run.
std::deque<std::string>& row_texts() {
  static std::deque<std::string> texts;
  return texts;
}

bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' ||
         c == '\r';
}

bool is_letter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

[[noreturn]] void malformed(const char* format, std::size_t offset) {
  fatal_error(unknown_location, format, static_cast<long>(offset));
}

[[noreturn]] void cannot_read(const std::string& path, int fd, int error) {
  if (fd >= 0)
    close(fd);
  errno = error;
  fatal_error(unknown_location, "cannot read spec file %qs: %m", path);
}

// Reads a whole file: its size from the file system, then that many
// bytes.  A file that cannot be opened, examined or read is fatal.
std::string read_whole_file(const std::string& path, struct stat& info) {
  // Non-blocking, so that a FIFO given as a spec file cannot hang the
  // driver waiting for a writer.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    cannot_read(path, fd, errno);
  if (fstat(fd, &info) != 0)
    cannot_read(path, fd, errno);
  if (S_ISDIR(info.st_mode))
    cannot_read(path, fd, EISDIR);
  if (info.st_size > max_spec_file_size)
    cannot_read(path, fd, EFBIG);
  std::string text;
  if (info.st_size > 0) {
    text.resize(static_cast<std::size_t>(info.st_size));
    std::size_t done = 0;
    while (done < text.size()) {
      const ssize_t got = read(fd, text.data() + done, text.size() - done);
      if (got < 0 && errno == EINTR)
        continue;
      if (got < 0)
        cannot_read(path, fd, errno);
      if (got == 0)
        break; // the file shrank: what was there is the file
      done += static_cast<std::size_t>(got);
    }
    text.resize(done);
  }
  close(fd);
  return text;
}

class spec_file_parser {
public:
  spec_file_parser(std::string text, std::string_view file_name, bool main,
                   bool user)
      : text_(std::move(text)), file_name_(file_name), main_(main),
        user_(user) {}

  void run() {
    // A NUL byte would cut the texts made from it short when they reach
    // a command line.
    if (std::size_t nul = text_.find('\0'); nul != std::string::npos)
      malformed("specs file contains a NUL byte after %ld characters", nul);
    while (true) {
      pos_ = skip_white_space(pos_);
      if (pos_ >= text_.size())
        break;
      if (text_[pos_] == '%' && !main_)
        directive();
      else
        definition();
    }
    if (link_command_spec().empty())
      fatal_error(unknown_location, "spec file has no spec for linking");
  }

private:
  std::size_t size() const { return text_.size(); }

  std::size_t line_end(std::size_t from) const {
    std::size_t end = text_.find('\n', from);
    return end == std::string::npos ? size() : end;
  }

  // Skips blanks, tabs, line feeds and "#" comments.  At a run of three
  // line feeds it stops after the first, so that the two left still end
  // an empty definition.
  std::size_t skip_white_space(std::size_t p) const {
    while (p < size()) {
      const char c = text_[p];
      if (c == '\n' && p + 2 < size() && text_[p + 1] == '\n' &&
          text_[p + 2] == '\n')
        return p + 1;
      if (c == '\n' || is_blank(c)) {
        ++p;
      } else if (c == '#') {
        p = line_end(p);
        if (p < size())
          ++p;
      } else {
        break;
      }
    }
    return p;
  }

  bool directive_is(std::string_view line, std::string_view name) const {
    return line.size() > name.size() && line.starts_with(name) &&
           is_blank(line[name.size()]);
  }

  void directive() {
    const std::size_t start = pos_;
    const std::size_t end = line_end(start);
    const std::string_view line(text_.data() + start, end - start);
    if (directive_is(line, "%include"))
      include(start + 8, end, false);
    else if (directive_is(line, "%include_noerr"))
      include(start + 14, end, true);
    else if (directive_is(line, "%rename"))
      rename(start + 7, end);
    else
      malformed("specs unknown %% command after %ld characters", start);
    pos_ = end;
  }

  // "<FILE>" from `p` to the line end `end`, after blanks.
  void include(std::size_t p, std::size_t end, bool no_error) {
    while (p < end && is_blank(text_[p]))
      ++p;
    // The offset reported is one past the character after "<".
    if (p >= end || text_[p] != '<' || end - p < 2 || text_[end - 1] != '>')
      malformed("specs %%include syntax malformed after %ld characters", p + 2);
    const std::string name = text_.substr(p + 1, end - 1 - (p + 1));
    std::optional<std::string> found =
        find_file_in(search_paths().startfile, name, access_mode::read, true);
    if (!found) {
      if (no_error) {
        if (verbose_flag())
          fnotice(stderr, "could not find specs file %s\n", name.c_str());
        return;
      }
      found = name;
    }
    read_spec_file(*found, false, user_);
  }

  // "OLD NEW" from `p` to the line end `end`.
  void rename(std::size_t p, std::size_t end) {
    constexpr const char* bad =
        "specs %%rename syntax malformed after %ld characters";
    while (p < end && is_blank(text_[p]))
      ++p;
    if (p >= end || !is_letter(text_[p]))
      malformed(bad, p);
    const std::size_t old_start = p;
    while (p < size() && !is_space(text_[p]))
      ++p;
    if (p >= end || !is_blank(text_[p]))
      malformed(bad, p);
    const std::string old_name = text_.substr(old_start, p - old_start);
    while (p < end && is_blank(text_[p]))
      ++p;
    if (p >= end || !is_letter(text_[p]))
      malformed(bad, p);
    const std::size_t new_start = p;
    while (p < size() && !is_space(text_[p]))
      ++p;
    if (p != end)
      malformed(bad, p);
    const std::string new_name = text_.substr(new_start, p - new_start);

    if (find_named_spec(old_name) == nullptr)
      fatal_error(unknown_location, "specs %s spec was not found to be renamed",
                  old_name.c_str());
    if (new_name == old_name)
      return;
    if (find_named_spec(new_name) != nullptr)
      fatal_error(unknown_location,
                  "%s: attempt to rename spec %qs to already defined spec %qs",
                  file_name_, old_name, new_name);
    if (verbose_flag())
      fnotice(stderr, "rename spec %s to %s\n", old_name.c_str(),
              new_name.c_str());
    move_named_spec_text(old_name, new_name, user_);
  }

  void definition() {
    const std::size_t start = pos_;
    std::size_t colon = start;
    while (colon < size() && text_[colon] != ':' && text_[colon] != '\n')
      ++colon;
    if (colon >= size() || text_[colon] != ':')
      malformed("specs file malformed after %ld characters", colon);
    std::size_t name_end = colon;
    while (name_end > start && is_blank(text_[name_end - 1]))
      --name_end;
    const std::string_view name(text_.data() + start, name_end - start);

    const std::size_t body = skip_white_space(colon + 1);
    if (size() < body + 2)
      malformed("specs file malformed after %ld characters", body);
    std::size_t body_end = text_.find("\n\n", body);
    pos_ = body_end;
    if (body_end == std::string::npos) {
      // The last definition ends at the end of the text; the line feed
      // that ends its last line is not part of it, as the one before an
      // empty line is not.
      pos_ = body_end = size();
      if (text_[body_end - 1] == '\n')
        --body_end;
    }
    apply(name, clean_text(body, body_end));
  }

  // The definition text without backslash-newline pairs and "#" comments
  // (up to, not including, the line feed).
  std::string clean_text(std::size_t from, std::size_t to) const {
    std::string out;
    out.reserve(to - from);
    for (std::size_t i = from; i < to; ++i) {
      const char c = text_[i];
      if (c == '\\' && i + 1 < to && text_[i + 1] == '\n') {
        ++i;
      } else if (c == '#') {
        while (i + 1 < to && text_[i + 1] != '\n')
          ++i;
      } else {
        out += c;
      }
    }
    return out;
  }

  void apply(std::string_view name, std::string text) {
    if (name == "*link_command") {
      set_link_command_spec(std::move(text));
    } else if (name.starts_with('*')) {
      set_named_spec(name.substr(1), text, user_);
    } else {
      std::deque<std::string>& texts = row_texts();
      compiler_record row;
      row.key = texts.emplace_back(name);
      row.spec = texts.emplace_back(text);
      compilers_table().push_back(row);
      if (name.empty())
        set_link_command_spec(std::move(text));
    }
  }

  std::string text_;
  std::string_view file_name_;
  bool main_;
  bool user_;
  std::size_t pos_ = 0;
};

// Marks a file as being read while it lives.
class reading_guard {
public:
  reading_guard(const std::string& path, const struct stat& info) {
    std::vector<open_spec_file>& files = files_being_read();
    for (const open_spec_file& f : files)
      if (f.device == info.st_dev && f.inode == info.st_ino)
        fatal_error(unknown_location,
                    "spec file %qs includes itself, directly or through "
                    "other spec files",
                    path);
    if (files.size() >= max_include_depth)
      fatal_error(unknown_location,
                  "spec file %qs is included more than %d levels deep", path,
                  max_include_depth);
    files.push_back({info.st_dev, info.st_ino});
  }
  reading_guard(const reading_guard&) = delete;
  reading_guard& operator=(const reading_guard&) = delete;
  ~reading_guard() { files_being_read().pop_back(); }
};

} // namespace

std::string normalize_line_ends(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '\r') {
      out += c;
      continue;
    }
    const bool after_lf = i > 0 && text[i - 1] == '\n';
    const bool before_lf = i + 1 < text.size() && text[i + 1] == '\n';
    if (!after_lf && !before_lf)
      out += '\n';
  }
  return out;
}

void read_spec_file(const std::string& path, bool main, bool user) {
  if (verbose_flag())
    fnotice(stderr, "Reading specs from %s\n", path.c_str());
  struct stat info {};
  std::string text = read_whole_file(path, info);
  reading_guard guard(path, info);
  spec_file_parser(normalize_line_ends(text), path, main, user).run();
}

void apply_spec_text(std::string_view text, std::string_view file_name,
                     bool main, bool user) {
  spec_file_parser(normalize_line_ends(text), file_name, main, user).run();
}

void forget_spec_file_rows() {
  compilers_table().clear();
  row_texts().clear();
}

void set_spec_file_verbose(bool verbose) {
  verbose_flag() = verbose;
}

std::string spec_dump_text() {
  std::string out;
  for (const named_spec& spec : named_spec_list()) {
    out += '*';
    out += spec.name;
    out += ":\n";
    out += spec.text;
    out += "\n\n";
  }
  const std::string_view link = link_command_spec();
  if (!link.empty()) {
    out += "*link_command:\n";
    out += link;
    out += "\n\n";
  }
  return out;
}

void write_spec_dump() {
  write_standard_output(spec_dump_text());
}

} // namespace velk
