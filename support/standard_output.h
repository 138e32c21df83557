// Standard output of the queries (-dumpversion, --completion=, ...): what
// they print is their whole result, so a write that fails (a full disk, a
// closed descriptor) must not pass for success.  Writes go through here,
// which keeps the error number of the first failure until the end.
#pragma once

#include <string_view>

namespace velk {

// Writes `text` to standard output (buffered).
void write_standard_output(std::string_view text);

// Flushes standard output.  Returns 0 when everything written so far has
// reached it, else the error number of the first failure.
int flush_standard_output();

} // namespace velk
