#include "diagnostics/colors.h"

#include <array>

namespace velk {

namespace {

#define VELK_SGR_START(parameters) "\33[" parameters "m\33[K"

struct color_entry {
  std::string_view name;
  std::string_view start;
};

// The default colours, as select-graphic-rendition parameters followed by
// "erase to end of line".
constexpr std::array<color_entry, 17> color_table{{
    {"error", VELK_SGR_START("01;31")},
    {"warning", VELK_SGR_START("01;35")},
    {"note", VELK_SGR_START("01;36")},
    {"range1", VELK_SGR_START("32")},
    {"range2", VELK_SGR_START("34")},
    {"locus", VELK_SGR_START("01")},
    {"quote", VELK_SGR_START("01")},
    {"path", VELK_SGR_START("01;36")},
    {"fnname", VELK_SGR_START("01;32")},
    {"targs", VELK_SGR_START("35")},
    {"fixit-insert", VELK_SGR_START("32")},
    {"fixit-delete", VELK_SGR_START("31")},
    {"diff-filename", VELK_SGR_START("01")},
    {"diff-hunk", VELK_SGR_START("36")},
    {"diff-delete", VELK_SGR_START("31")},
    {"diff-insert", VELK_SGR_START("32")},
    {"type-diff", VELK_SGR_START("01;32")},
}};

#undef VELK_SGR_START

} // namespace

std::string_view color_start_sequence(bool use_color, std::string_view name) {
  if (!use_color)
    return {};
  for (const color_entry& e : color_table)
    if (e.name == name)
      return e.start;
  return {};
}

std::string_view color_stop_sequence(bool use_color) {
  return use_color ? std::string_view("\33[m\33[K") : std::string_view();
}

} // namespace velk
