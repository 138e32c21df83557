// Relocation of the configured install layout to the place a program really
// runs from, so that an installed tree keeps working wherever it is copied.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velk {

// Splits a path into components, each keeping the "/" characters that follow
// it; a final component without "/" is kept too.  The components are views
// into `path`.
std::vector<std::string_view> split_directories(std::string_view path);

// The directory that stands to `program` as `target_prefix` stands to
// `bin_prefix`, with a trailing "/": for a program run as /opt/x/bin/velk++,
// bin prefix "/usr/local/brae13/bin/" and target prefix
// "/usr/local/brae13/lib/velk/", "/opt/x/bin/../lib/velk/".  A program name
// without "/" is first searched on PATH; with `resolve_links` the program's
// path is made canonical.  None when the program runs from its configured
// place, has no directory, or the two prefixes share no directory.
std::optional<std::string> relocate_prefix(std::string_view program,
                                           std::string_view bin_prefix,
                                           std::string_view target_prefix,
                                           bool resolve_links);

} // namespace velk
