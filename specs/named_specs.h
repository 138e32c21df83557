// The named specs that `%(name)` expands, and the spec functions that
// `%:name(...)` calls.  The built-in specs and spec files fill the first,
// the built-in functions the second.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velk {

struct named_spec {
  std::string name;
  std::string text;
  bool user = false; // defined or redefined by a spec file
};

// The named specs in definition order.
std::vector<named_spec>& named_spec_list();

// The spec named exactly `name`, or null.
const named_spec* find_named_spec(std::string_view name);

// Defines `name`, or replaces the text of an existing definition.
void set_named_spec(std::string_view name, std::string_view text,
                    bool user = false);

// A spec function: the words of its expanded arguments in, the text to
// interpret in the caller's place out (none: nothing, and a false
// condition).
using spec_function =
    std::optional<std::string> (*)(const std::vector<std::string>& words);

struct spec_function_entry {
  std::string_view name;
  spec_function function;
};

// The functions `%:` can call, searched by exact name.
std::vector<spec_function_entry>& spec_function_table();
spec_function find_spec_function(std::string_view name);

} // namespace velk
