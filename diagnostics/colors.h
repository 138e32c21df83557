// Named colours of diagnostic output and their terminal escape sequences.
// Whether colour is used at all is the printer's `use_color` setting.
#pragma once

#include <string_view>

namespace velk {

// The start sequence of the colour `name` ("error", "warning", "note",
// "locus", "quote", "path", ...): empty when colour is off or the name is
// not a colour.
std::string_view color_start_sequence(bool use_color, std::string_view name);
// The sequence that ends any colour: empty when colour is off.
std::string_view color_stop_sequence(bool use_color);

} // namespace velk
