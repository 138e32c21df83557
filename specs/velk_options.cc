#include "specs/velk_options.h"

namespace velk {

namespace {

void append_quoted(std::string& out, std::string_view text) {
  out += '\'';
  for (char c : text) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  out += '\'';
}

} // namespace

std::string velk_options_value(const switch_table& switches,
                               std::string_view dump_dir) {
  std::string value;
  bool first = true;
  for (const switch_entry& sw : switches) {
    if (!first)
      value += ' ';
    first = false;
    if ((sw.liveness & (hidden | still_listed)) == hidden)
      continue;
    append_quoted(value, "-" + sw.name);
    for (const std::string& arg : sw.args) {
      value += ' ';
      append_quoted(value, arg);
    }
  }
  if (!dump_dir.empty()) {
    if (!switches.empty())
      value += ' ';
    value += "'-dumpdir' ";
    append_quoted(value, dump_dir);
  }
  return value;
}

} // namespace velk
