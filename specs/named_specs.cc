#include "specs/named_specs.h"

namespace velk {

std::vector<named_spec>& named_spec_list() {
  static std::vector<named_spec> list;
  return list;
}

const named_spec* find_named_spec(std::string_view name) {
  for (const named_spec& spec : named_spec_list())
    if (spec.name == name)
      return &spec;
  return nullptr;
}

void set_named_spec(std::string_view name, std::string_view text, bool user) {
  for (named_spec& spec : named_spec_list()) {
    if (spec.name == name) {
      spec.text = std::string(text);
      spec.user = user;
      return;
    }
  }
  named_spec_list().push_back({std::string(name), std::string(text), user});
}

std::vector<spec_function_entry>& spec_function_table() {
  static std::vector<spec_function_entry> table;
  return table;
}

spec_function find_spec_function(std::string_view name) {
  for (const spec_function_entry& entry : spec_function_table())
    if (entry.name == name)
      return entry.function;
  return nullptr;
}

} // namespace velk
