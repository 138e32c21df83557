#include "specs/switches.h"

namespace velk {

command_tables& tables() {
  static command_tables the_tables;
  return the_tables;
}

void add_switch(switch_table& table, std::string_view option,
                std::vector<std::string> args, bool validated, bool known) {
  switch_entry entry;
  entry.name = option.empty() ? std::string() : std::string(option.substr(1));
  entry.args = std::move(args);
  entry.validated = validated;
  entry.known = known;
  table.append(std::move(entry));
}

void add_switch(std::string_view option, std::vector<std::string> args,
                bool validated, bool known) {
  add_switch(tables().switches, option, std::move(args), validated, known);
}

void add_input(input_table& table, std::string_view name,
               std::optional<std::string> language) {
  input_entry entry;
  entry.name = std::string(name);
  entry.language = std::move(language);
  table.append(std::move(entry));
}

void add_input(std::string_view name, std::optional<std::string> language) {
  add_input(tables().inputs, name, std::move(language));
}

void terminate_tables() {
  tables().switches.terminate();
  tables().inputs.terminate();
}

void current_input_record::set(std::string_view input_name,
                               std::size_t input_index) {
  name = std::string(input_name);
  std::size_t slash = name.rfind('/');
  base_name = slash == std::string::npos ? name : name.substr(slash + 1);
  base_length = base_name.size();
  base_stem_length = base_length;
  suffix.clear();
  // Scan from the end down to the second character: a leading "." names a
  // hidden file, not a suffix.
  for (std::size_t i = base_length; i-- > 1;) {
    if (base_name[i] == '.') {
      base_stem_length = i;
      suffix = base_name.substr(i + 1);
      break;
    }
  }
  stat_cached = false;
  index = input_index;
}

} // namespace velk
