// libFuzzer target: reads arbitrary texts as VELK_COLORS.  The input (up to
// its first NUL byte, as an environment variable ends there) becomes the
// variable's value; afterwards every colour's start sequence must be a text
// of digits and ';' only, so that no other byte reaches the terminal inside
// an escape sequence.  A crash, a hang or a sanitizer report is a fault.

#include "diagnostics/colors.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  std::string value(reinterpret_cast<const char*>(data), size);
  value.resize(value.find('\0') == std::string::npos ? value.size()
                                                     : value.find('\0'));
  if (setenv("VELK_COLORS", value.c_str(), 1) != 0)
    return 0;
  velk::reset_color_table();
  const bool on = velk::parse_color_env();
  if (on != !value.empty())
    std::abort();
  for (std::string_view name :
       {"error", "warning", "note", "range1", "range2", "locus", "quote",
        "path", "fnname", "targs", "fixit-insert", "fixit-delete",
        "diff-filename", "diff-hunk", "diff-delete", "diff-insert",
        "type-diff"}) {
    std::string_view start = velk::color_start_sequence(true, name);
    if (start.empty())
      continue;
    // "\33[" parameters "m\33[K"
    if (start.substr(0, 2) != "\33[" || start.size() < 6 ||
        start.substr(start.size() - 4) != "m\33[K")
      std::abort();
    for (char c : start.substr(2, start.size() - 6))
      if ((c < '0' || c > '9') && c != ';')
        std::abort();
  }
  return 0;
}
