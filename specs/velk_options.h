// SHEAF_VELK_OPTIONS: the switches of the run as the linker front-end and
// the link-time-optimisation wrapper read them back.
#pragma once

#include "specs/switches.h"

#include <string>
#include <string_view>

namespace velk {

// Every switch in table order (those hidden from subprocesses leave only
// their separating blank), each name and argument in single quotes with a
// quote inside written as '\'', then the dump directory when there is one.
std::string velk_options_value(const switch_table& switches,
                               std::string_view dump_dir);

} // namespace velk
