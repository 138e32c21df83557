// Unique temporary files for the intermediate outputs of a run.
#pragma once

#include <string>
#include <string_view>

namespace velk {

// Creates a fresh, empty file in the temporary directory whose name ends in
// `suffix`, and returns its name.
std::string make_temp_name(std::string_view suffix);

// The directory temporary files are made in, ending in "/".
const std::string& temp_directory();

} // namespace velk
