#include "specs/velk_options.h"

#include <algorithm>

namespace velk {

namespace {

// The value is written in two passes, one finding its exact length and one
// filling it in place: it holds every switch of the run and is made again
// for every command.

bool listed(const switch_entry& sw) {
  return (sw.liveness & (hidden | still_listed)) != hidden;
}

// The length of `text` in single quotes, a quote inside written '\''.
std::size_t quoted_length(std::string_view text) {
  return text.size() + 2 +
         3 * static_cast<std::size_t>(
                 std::count(text.begin(), text.end(), '\''));
}

// Writes `text` (after `lead`, a prefix needing no escapes) in single quotes
// at `out`; returns the end.
char* put_quoted(char* out, std::string_view lead, std::string_view text) {
  *out++ = '\'';
  out = std::copy(lead.begin(), lead.end(), out);
  // Short texts go by character; in longer ones the pieces between quotes
  // are found and copied by the library.
  if (text.size() < 16) {
    for (char c : text) {
      if (c == '\'')
        out = std::copy_n("'\\''", 4, out);
      else
        *out++ = c;
    }
  } else {
    for (;;) {
      const std::size_t quote = text.find('\'');
      const std::string_view piece = text.substr(0, quote);
      out = std::copy(piece.begin(), piece.end(), out);
      if (quote == std::string_view::npos)
        break;
      out = std::copy_n("'\\''", 4, out);
      text.remove_prefix(quote + 1);
    }
  }
  *out++ = '\'';
  return out;
}

} // namespace

std::string velk_options_value(const switch_table& switches,
                               std::string_view dump_dir) {
  std::size_t size = 0;
  for (const switch_entry& sw : switches) {
    size += 1; // the separating blank
    if (!listed(sw))
      continue;
    size += quoted_length(sw.name) + 1; // and the dash
    for (const std::string& arg : sw.args)
      size += 1 + quoted_length(arg);
  }
  if (!switches.empty())
    size -= 1; // no blank before the first
  if (!dump_dir.empty())
    size += (switches.empty() ? 0 : 1) + 11 + quoted_length(dump_dir);

  std::string value(size, '\0');
  char* out = value.data();
  bool first = true;
  for (const switch_entry& sw : switches) {
    if (!first)
      *out++ = ' ';
    first = false;
    if (!listed(sw))
      continue;
    out = put_quoted(out, "-", sw.name);
    for (const std::string& arg : sw.args) {
      *out++ = ' ';
      out = put_quoted(out, "", arg);
    }
  }
  if (!dump_dir.empty()) {
    if (!switches.empty())
      *out++ = ' ';
    out = std::copy_n("'-dumpdir' ", 11, out);
    out = put_quoted(out, "", dump_dir);
  }
  value.resize(static_cast<std::size_t>(out - value.data()));
  return value;
}

} // namespace velk
