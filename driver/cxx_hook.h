// What makes velk++ a C++ driver: C sources named on the command line are
// compiled as C++, and a link gets the C++ run-time, the math library and
// the shared companion library, in that order and only when a link can
// happen.
#pragma once

#include "options/option_table.h"

#include <vector>

namespace velk {

// Rewrites the decoded options (the program name stays first) and adds the
// number of inputs it added of its own accord (libraries and the linker
// options around them) to `added_libraries`.
void lang_specific_driver(std::vector<decoded_option>& decoded,
                          int& added_libraries);

// Runs before the link; nothing to do for C++.
int lang_specific_pre_link();

// Extra outputs the hook adds to every compilation.
inline constexpr int lang_specific_extra_outputs = 0;

} // namespace velk
