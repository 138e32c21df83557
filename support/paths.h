// Small helpers on file names shared by the programs of the suite.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velk {

// The directories of a ":"-separated list such as PATH, each ending in "/";
// an empty element is the current directory "./".
std::vector<std::string> path_list_directories(std::string_view list);

// `path` with symbolic links, "." and ".." resolved; unchanged when it
// cannot be resolved.
std::string canonical_path(const std::string& path);

} // namespace velk
