#include "support/relocation.h"

#include "support/paths.h"

#include <algorithm>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace velk {

namespace {

bool is_executable_file(const std::string& path) {
  struct stat st;
  return access(path.c_str(), X_OK) == 0 && stat(path.c_str(), &st) == 0 &&
         S_ISREG(st.st_mode);
}

// A program named without a directory is looked up on PATH, as the shell
// found it; without a match the name stays as given.
std::string locate_program(std::string_view program) {
  std::string name(program);
  if (name.find('/') != std::string::npos)
    return name;
  const char* path = std::getenv("PATH");
  if (path == nullptr)
    return name;
  for (const std::string& dir : path_list_directories(path)) {
    std::string candidate = dir + name;
    if (is_executable_file(candidate))
      return candidate;
  }
  return name;
}

} // namespace

std::vector<std::string_view> split_directories(std::string_view path) {
  std::vector<std::string_view> parts;
  // One part for each "/" at most, and the last.
  parts.reserve(
      static_cast<std::size_t>(std::count(path.begin(), path.end(), '/')) + 1);
  std::size_t start = 0;
  while (start < path.size()) {
    std::size_t slash = path.find('/', start);
    if (slash == std::string_view::npos) {
      parts.emplace_back(path.substr(start));
      break;
    }
    std::size_t end = path.find_first_not_of('/', slash);
    if (end == std::string_view::npos)
      end = path.size();
    parts.emplace_back(path.substr(start, end - start));
    start = end;
  }
  return parts;
}

std::optional<std::string> relocate_prefix(std::string_view program,
                                           std::string_view bin_prefix,
                                           std::string_view target_prefix,
                                           bool resolve_links) {
  std::string full = locate_program(program);
  if (resolve_links)
    full = canonical_path(full);

  std::vector<std::string_view> prog_dirs = split_directories(full);
  if (!prog_dirs.empty())
    prog_dirs.pop_back(); // the program's own name
  std::vector<std::string_view> bin_dirs = split_directories(bin_prefix);
  if (prog_dirs.empty() || prog_dirs == bin_dirs)
    return std::nullopt;

  std::vector<std::string_view> target_dirs = split_directories(target_prefix);
  std::size_t common = 0;
  while (common < bin_dirs.size() && common < target_dirs.size() &&
         bin_dirs[common] == target_dirs[common])
    ++common;
  if (common == 0)
    return std::nullopt;

  std::string result;
  for (std::string_view d : prog_dirs)
    result += d;
  for (std::size_t i = common; i < bin_dirs.size(); ++i)
    result += "../";
  for (std::size_t i = common; i < target_dirs.size(); ++i)
    result += target_dirs[i];
  return result;
}

} // namespace velk
