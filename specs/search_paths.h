// The search lists for programs (`exec`), start files and libraries
// (`startfile`) and system include directories (`include`), the order in
// which their candidate directories are tried, and program lookup.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velk {

struct search_path_entry {
  std::string prefix;          // normalised, normally ending in "/"
  int machine_suffix_rule = 0; // 0, 1 or 2: which target subdirectories
  int priority = 1;            // 0 for -B prefixes, 1 otherwise
  bool uses_os_multilib = false;
};

// Entries are kept in priority order, those of equal priority in the order
// they were added.  Insertion appends; the order is restored when the
// entries are next read, by one stable pass per distinct priority, so that
// filling a list from many -B options or a long COMPILER_PATH stays linear.
class search_path_list {
public:
  explicit search_path_list(std::string name) : name_(std::move(name)) {}
  const std::string& name() const { return name_; }
  const std::vector<search_path_entry>& entries() const;
  std::size_t max_prefix_length() const { return max_length_; }
  // Inserts after every entry whose priority is lower or equal.
  void insert(search_path_entry entry);
  void clear() {
    entries_.clear();
    priorities_.clear();
    ordered_ = true;
    max_length_ = 0;
  }

private:
  std::string name_;
  mutable std::vector<search_path_entry> entries_;
  std::vector<int> priorities_; // the distinct priorities, increasing
  mutable bool ordered_ = true;
  std::size_t max_length_ = 0;
};

// The three lists of the driver.
struct search_lists {
  search_path_list exec{"exec"};
  search_path_list startfile{"startfile"};
  search_path_list include{"include"};
};
search_lists& search_paths();

// The directories chosen by multilib selection; none means no subdirectory.
struct multilib_dirs {
  std::optional<std::string> multilib_dir;
  std::optional<std::string> os_dir;
  std::optional<std::string> multiarch_dir;
};
multilib_dirs& selected_multilib();

// Process-wide prefixes the lists are built from.
struct prefix_settings {
  std::string standard_prefix;            // current, relocated standard prefix
  std::optional<std::string> exec_prefix; // VELK_EXEC_PREFIX or derived
  std::optional<std::string> libexec_prefix;
  std::optional<std::string> sysroot; // --sysroot=
  bool sysroot_given = false;
  std::string sysroot_suffix;
  std::string sysroot_headers_suffix;
  // The configured assembler and linker, tried before the exec list.
  std::string default_assembler;
  std::string default_linker;
  bool cross_compile = false;
};
prefix_settings& prefixes();

// Applies the key rule (VELK_ROOT, BINUTILS_ROOT, "$"-keys) and collapses
// "/../" where the directory before it cannot be searched.  An empty key
// means none.
std::string normalize_prefix(std::string_view prefix, std::string_view key);

void add_search_prefix(search_path_list& list, std::string_view prefix,
                       std::string_view key, int priority,
                       int machine_suffix_rule, bool uses_os_multilib);

// An absolute path placed under the system root (given by --sysroot=): the
// root without its final "/", then `suffix`, then `path`.
std::string under_sysroot(std::string_view path, std::string_view suffix);

// Adds an absolute system directory under the system root, if any.  A
// relative path is a fatal error.
void add_system_prefix(search_path_list& list, std::string_view path,
                       std::string_view key);

// Calls `visit` with each candidate directory in search order until it
// returns a value, which is returned.
std::optional<std::string> walk_search_paths(
    const search_path_list& list, bool with_multilib,
    const std::function<std::optional<std::string>(const std::string&)>& visit);

enum class access_mode { read, execute };

std::optional<std::string> find_file_in(const search_path_list& list,
                                        std::string_view name, access_mode mode,
                                        bool with_multilib);

// Looks a subprogram up: the configured assembler or linker first, then
// the exec list.
std::optional<std::string> find_program(std::string_view name);

// "leading=dir1:dir2:..." of the candidates of a list; with `check_dirs`
// only existing directories.
std::string search_path_text(const search_path_list& list,
                             std::string_view leading_text, bool check_dirs,
                             bool with_multilib);

// True when `path` names a directory; for the linker, "/lib" and "/usr/lib"
// are never usable since it searches them anyway.
bool is_usable_directory(std::string_view path, bool for_linker);

} // namespace velk
