// The escapes of the stand-in toolchain's call log, shared by the stand-in
// that writes it and the harness that reads it: "\\" for a backslash, "\n"
// for a newline.
#pragma once

#include <string>
#include <string_view>

namespace velk::test {

inline std::string log_escape(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
  return out;
}

inline std::string log_unescape(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      char next = text[++i];
      out += next == 'n' ? '\n' : next;
    } else {
      out += text[i];
    }
  }
  return out;
}

} // namespace velk::test
