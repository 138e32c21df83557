#include "specs/search_paths.h"

#include "diagnostics/diagnostic.h"
#include "support/configuration.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace velk {

namespace {

bool can_search(const std::string& dir) {
  // A name longer than the system accepts cannot be searched; knowing that
  // spares the system call copying it.
  if (dir.size() >= PATH_MAX)
    return false;
  return access(dir.empty() ? "/" : dir.c_str(), X_OK) == 0;
}

[[noreturn]] void fatal_relative_system_path(std::string_view path) {
  std::string text(path);
  fatal_error(unknown_location, "system path %qs is not absolute",
              text.c_str());
}

// Removes "component/../" pairs, left to right, while the directory before
// "/../" cannot be searched: there the "..", taken literally, would not
// work, while the collapsed form may.  The text is read once: `kept` holds
// what is settled before the next "/../", components are taken off its end,
// so a long run of "x/../" pieces costs linear time.
std::string collapse_dot_dot(const std::string& text) {
  std::string kept;
  std::size_t rest = 0; // what follows `kept` in `text`
  while (true) {
    // The next "/../": either the "/" ending `kept` and "../" next in the
    // text, formed by a removal, or wholly in the rest of the text.
    std::size_t at; // where its "../" starts in `text`
    if (!kept.empty() && kept.back() == '/' &&
        text.compare(rest, 3, "../") == 0) {
      kept.pop_back();
      at = rest;
    } else {
      std::size_t pos = text.find("/../", rest);
      if (pos == std::string::npos)
        return kept.append(text, rest);
      kept.append(text, rest, pos - rest);
      at = pos + 1;
    }
    // `kept` is now the text before "/../"; left as it is from here on when
    // that directory can be searched or nothing removable precedes it.
    auto unchanged = [&] { return kept + '/' + text.substr(at); };
    if (can_search(kept))
      return unchanged();
    // The component before "/../".
    std::size_t slash = kept.rfind('/');
    std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    std::string_view component = std::string_view(kept).substr(start);
    if (component.empty() || component == "..")
      return unchanged(); // "/.." at the start, or "../..": nothing to remove
    std::size_t end = at + 3;
    while (end < text.size() && text[end] == '/')
      ++end;
    if (component == ".") {
      // "./../" also takes the component before ".".
      if (start == 0)
        return unchanged();
      std::size_t prev =
          start >= 2 ? kept.rfind('/', start - 2) : std::string::npos;
      prev = (prev == std::string::npos || start < 2) ? 0 : prev + 1;
      if (std::string_view(kept).substr(prev, start - 1 - prev) == "..")
        return unchanged();
      start = prev;
    }
    kept.resize(start);
    rest = end;
  }
}

} // namespace

void search_path_list::insert(search_path_entry entry) {
  max_length_ = std::max(max_length_, entry.prefix.size());
  auto p =
      std::lower_bound(priorities_.begin(), priorities_.end(), entry.priority);
  if (p == priorities_.end() || *p != entry.priority)
    priorities_.insert(p, entry.priority);
  if (!entries_.empty() && entry.priority < entries_.back().priority)
    ordered_ = false;
  entries_.push_back(std::move(entry));
}

const std::vector<search_path_entry>& search_path_list::entries() const {
  if (ordered_)
    return entries_;
  // A stable distribution by priority: each entry lands after every entry
  // of lower or equal priority added before it, as insert() promises.
  std::vector<std::vector<search_path_entry>> by_priority(priorities_.size());
  for (search_path_entry& e : entries_) {
    auto p =
        std::lower_bound(priorities_.begin(), priorities_.end(), e.priority);
    by_priority[static_cast<std::size_t>(p - priorities_.begin())].push_back(
        std::move(e));
  }
  entries_.clear();
  for (std::vector<search_path_entry>& group : by_priority)
    for (search_path_entry& e : group)
      entries_.push_back(std::move(e));
  ordered_ = true;
  return entries_;
}

search_lists& search_paths() {
  static search_lists lists;
  return lists;
}

multilib_dirs& selected_multilib() {
  static multilib_dirs dirs;
  return dirs;
}

prefix_settings& prefixes() {
  static prefix_settings settings{
      .standard_prefix = std::string(config::standard_prefix),
      .default_assembler = std::string(config::default_assembler),
      .default_linker = std::string(config::default_linker),
  };
  return settings;
}

std::string normalize_prefix(std::string_view prefix, std::string_view key) {
  std::string text(prefix);
  const std::string& standard = prefixes().standard_prefix;
  if (!key.empty() && text.compare(0, standard.size(), standard) == 0 &&
      (text.size() == standard.size() || text[standard.size()] == '/')) {
    std::string variable =
        key[0] == '$' ? std::string(key.substr(1)) : std::string(key) + "_ROOT";
    const char* value = std::getenv(variable.c_str());
    std::string replacement = value ? value : standard;
    // A value may itself name a variable; follow a few such steps.
    for (int depth = 0;
         depth < 8 && !replacement.empty() && replacement[0] == '$'; ++depth) {
      const char* next = std::getenv(replacement.c_str() + 1);
      replacement = next ? next : standard;
    }
    if (replacement.empty())
      replacement = std::string(config::standard_prefix);
    text = replacement + text.substr(standard.size());
  }
  return collapse_dot_dot(text);
}

void add_search_prefix(search_path_list& list, std::string_view prefix,
                       std::string_view key, int priority,
                       int machine_suffix_rule, bool uses_os_multilib) {
  list.insert({normalize_prefix(prefix, key), machine_suffix_rule, priority,
               uses_os_multilib});
}

void add_system_prefix(search_path_list& list, std::string_view path,
                       std::string_view key) {
  if (path.empty() || path[0] != '/')
    fatal_relative_system_path(path);
  const prefix_settings& p = prefixes();
  if (p.sysroot)
    add_search_prefix(list, under_sysroot(path, p.sysroot_suffix), "VELK", 1, 0,
                      true);
  else
    add_search_prefix(list, path, key, 1, 0, true);
}

std::string under_sysroot(std::string_view path, std::string_view suffix) {
  const std::optional<std::string>& sysroot = prefixes().sysroot;
  std::string_view root = sysroot ? std::string_view(*sysroot) : "";
  if (root.ends_with('/'))
    root.remove_suffix(1);
  std::string text;
  text.reserve(root.size() + suffix.size() + path.size());
  text.append(root).append(suffix).append(path);
  return text;
}

std::optional<std::string> walk_search_paths(
    const search_path_list& list, bool with_multilib,
    const std::function<std::optional<std::string>(const std::string&)>&
        visit) {
  const multilib_dirs& ml = selected_multilib();
  const std::string_view machine = config::machine_suffix;
  const std::string_view machine_only = config::machine_only_suffix;
  std::optional<std::string> multi_dir, os_dir, arch_dir;
  if (with_multilib && ml.multilib_dir && *ml.multilib_dir != ".")
    multi_dir = *ml.multilib_dir + "/";
  if (with_multilib && ml.os_dir && *ml.os_dir != ".")
    os_dir = *ml.os_dir + "/";
  if (ml.multiarch_dir)
    arch_dir = *ml.multiarch_dir + "/";

  // Every candidate directory is made in this one buffer, with room for
  // the usual lengths from the start.
  std::string candidate;
  candidate.reserve(256);
  auto try_dir = [&](std::string_view prefix, std::string_view middle,
                     std::string_view suffix) {
    candidate.assign(prefix);
    candidate += middle;
    candidate += suffix;
    return visit(candidate);
  };
  bool skip_multilib = false, skip_os = false;
  for (int pass = 0; pass < 2; ++pass) {
    const std::string_view d = multi_dir ? std::string_view(*multi_dir) : "";
    const std::string_view o = os_dir ? std::string_view(*os_dir) : "";
    for (const search_path_entry& e : list.entries()) {
      std::optional<std::string> found;
      if (!skip_multilib) {
        if ((found = try_dir(e.prefix, machine, d)))
          return found;
        if (e.machine_suffix_rule == 2 &&
            (found = try_dir(e.prefix, machine_only, d)))
          return found;
        if (e.machine_suffix_rule == 0 && arch_dir &&
            (found = try_dir(e.prefix, *arch_dir, "")))
          return found;
      }
      if (e.machine_suffix_rule == 0) {
        bool skip = e.uses_os_multilib ? skip_os : skip_multilib;
        if (!skip &&
            (found = try_dir(e.prefix, e.uses_os_multilib ? o : d, "")))
          return found;
      }
    }
    if (pass == 1 || (!multi_dir && !os_dir))
      break;
    // Second pass: the plain suffixes for what had a multilib directory,
    // nothing again for what had none.
    if (multi_dir)
      multi_dir.reset();
    else
      skip_multilib = true;
    if (os_dir)
      os_dir.reset();
    else
      skip_os = true;
  }
  return std::nullopt;
}

std::optional<std::string> find_file_in(const search_path_list& list,
                                        std::string_view name, access_mode mode,
                                        bool with_multilib) {
  auto passes = [mode](const std::string& path) {
    if (mode == access_mode::read)
      return access(path.c_str(), R_OK) == 0;
    struct stat st;
    return access(path.c_str(), X_OK) == 0 && stat(path.c_str(), &st) == 0 &&
           !S_ISDIR(st.st_mode);
  };
  std::string file(name);
  if (!file.empty() && file[0] == '/')
    return passes(file) ? std::optional<std::string>(file) : std::nullopt;
  // Every candidate is made in this one buffer.
  std::string candidate;
  return walk_search_paths(
      list, with_multilib,
      [&](const std::string& dir) -> std::optional<std::string> {
        candidate.assign(dir);
        candidate += file;
        if (passes(candidate))
          return candidate;
        return std::nullopt;
      });
}

std::optional<std::string> find_program(std::string_view name) {
  const prefix_settings& p = prefixes();
  const std::string* configured = name == "as"   ? &p.default_assembler
                                  : name == "ld" ? &p.default_linker
                                                 : nullptr;
  if (configured && !configured->empty() &&
      access(configured->c_str(), X_OK) == 0)
    return *configured;
  return find_file_in(search_paths().exec, name, access_mode::execute, false);
}

std::string search_path_text(const search_path_list& list,
                             std::string_view leading_text, bool check_dirs,
                             bool with_multilib) {
  std::string text(leading_text);
  text += '=';
  bool first = true;
  walk_search_paths(list, with_multilib,
                    [&](const std::string& dir) -> std::optional<std::string> {
                      if (check_dirs && !is_usable_directory(dir, false))
                        return std::nullopt;
                      if (!first)
                        text += ':';
                      text += dir;
                      first = false;
                      return std::nullopt;
                    });
  return text;
}

bool is_usable_directory(std::string_view path, bool for_linker) {
  if (for_linker) {
    std::string_view plain = path;
    while (plain.size() > 1 && plain.back() == '/')
      plain.remove_suffix(1);
    if (plain == "/lib" || plain == "/usr/lib")
      return false;
  }
  // "dir/." names the directory itself only when it is one.  The name is
  // made on the stack when it fits, as nearly all do.
  std::array<char, 256> small;
  std::string large;
  char* dir = small.data();
  if (path.size() + 3 > small.size()) {
    large.resize(path.size() + 3);
    dir = large.data();
  }
  std::size_t length = path.copy(dir, path.size());
  if (length != 0 && dir[length - 1] != '/')
    dir[length++] = '/';
  dir[length++] = '.';
  dir[length] = '\0';
  struct stat st;
  return stat(dir, &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace velk
