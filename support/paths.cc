#include "support/paths.h"

#include <climits>
#include <cstdlib>

namespace velk {

std::vector<std::string> path_list_directories(std::string_view list) {
  std::vector<std::string> dirs;
  while (true) {
    std::size_t colon = list.find(':');
    std::string dir(list.substr(0, colon));
    if (dir.empty())
      dir = "./";
    else if (dir.back() != '/')
      dir += '/';
    dirs.push_back(std::move(dir));
    if (colon == std::string_view::npos)
      return dirs;
    list.remove_prefix(colon + 1);
  }
}

std::string canonical_path(const std::string& path) {
  // realpath with a null buffer allocates a result of the right size.
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr)
    return path;
  std::string result(resolved);
  std::free(resolved);
  return result;
}

} // namespace velk
