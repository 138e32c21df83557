#include "diagnostics/colors.h"

#include "diagnostics/diagnostic.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace velk {

namespace {

#define VELK_SGR_START(parameters) "\33[" parameters "m\33[K"

struct color_entry {
  std::string_view name;
  std::string_view start; // the default, or the entry's custom sequence
};

constexpr std::size_t color_count = 17;

// The default colours, as select-graphic-rendition parameters followed by
// "erase to end of line".
constexpr std::array<color_entry, color_count> default_colors{{
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

constexpr std::string_view stop_sequence = "\33[m\33[K";

// The colours in use: the defaults until VELK_COLORS changes them.
constinit std::array<color_entry, color_count> color_table = default_colors;

// The sequences VELK_COLORS gave, one slot per colour once the first is
// set.  Constant-initialised, so they outlive every report made while the
// process exits.
constinit std::vector<std::string> custom_sequences;

color_entry* find_color(std::string_view name) {
  for (color_entry& e : color_table)
    if (e.name == name)
      return &e;
  return nullptr;
}

void set_color(std::string_view name, std::string_view parameters) {
  color_entry* e = find_color(name);
  if (e == nullptr)
    return;
  custom_sequences.resize(color_count);
  std::string& sequence =
      custom_sequences[static_cast<std::size_t>(e - color_table.data())];
  sequence.assign("\33[").append(parameters).append("m\33[K");
  e->start = sequence;
}

// Whether the terminal is likely to show OSC 8 hyperlinks (TERM is known to
// be set and not "dumb").  Some terminals print the escapes literally.
bool terminal_allows_urls() {
  if (const char* colorterm = std::getenv("COLORTERM")) {
    if (std::strcmp(colorterm, "xfce4-terminal") == 0 ||
        std::strcmp(colorterm, "gnome-terminal") == 0)
      return false;
  }
  if (std::getenv("VELK_URLS") != nullptr ||
      std::getenv("TERM_URLS") != nullptr)
    return true;
  if (std::getenv("COLORTERM") == nullptr) {
    const char* term = std::getenv("TERM");
    if (term != nullptr &&
        (std::strcmp(term, "xterm") == 0 || std::strcmp(term, "linux") == 0))
      return false;
  }
  return true;
}

url_format url_format_from_env() {
  const char* value = std::getenv("VELK_URLS");
  if (value == nullptr)
    value = std::getenv("TERM_URLS");
  if (value == nullptr)
    return url_format_bel;
  if (*value == '\0' || std::strcmp(value, "no") == 0)
    return url_format_none;
  if (std::strcmp(value, "st") == 0)
    return url_format_st;
  return url_format_bel;
}

} // namespace

std::string_view color_start_sequence(bool use_color, std::string_view name) {
  if (!use_color)
    return {};
  const color_entry* e = find_color(name);
  return e != nullptr ? e->start : std::string_view();
}

std::string_view color_stop_sequence(bool use_color) {
  return use_color ? stop_sequence : std::string_view();
}

void reset_color_table() {
  color_table = default_colors;
  custom_sequences.clear();
}

bool terminal_allows_color() {
  const char* term = std::getenv("TERM");
  return term != nullptr && std::strcmp(term, "dumb") != 0 && isatty(2);
}

bool parse_color_env() {
  const char* value = std::getenv("VELK_COLORS");
  if (value == nullptr)
    return true;
  if (*value == '\0')
    return false;

  // Entries "name=parameters" separated by ':'; each is applied when its
  // end is reached, so a malformed entry leaves the earlier ones in force.
  const char* name = value;
  const char* parameters = nullptr; // after the entry's '=', if any
  std::size_t name_length = 0;
  for (const char* p = value;; ++p) {
    char c = *p;
    if (c == ':' || c == '\0') {
      if (parameters != nullptr)
        set_color(std::string_view(name, name_length),
                  std::string_view(parameters,
                                   static_cast<std::size_t>(p - parameters)));
      if (c == '\0')
        return true;
      name = p + 1;
      parameters = nullptr;
    } else if (c == '=') {
      if (p == name || parameters != nullptr)
        return true; // empty name, or a second '='
      name_length = static_cast<std::size_t>(p - name);
      parameters = p + 1;
    } else if (parameters != nullptr && (c < '0' || c > '9') && c != ';') {
      return true;
    }
  }
}

bool colorize_init(int rule) {
  switch (rule) {
  case color_rule_never:
    return false;
  case color_rule_always:
    return parse_color_env();
  case color_rule_auto:
    return terminal_allows_color() && parse_color_env();
  default:
    VELK_UNREACHABLE();
  }
}

url_format determine_url_format(int rule) {
  switch (rule) {
  case color_rule_never:
    return url_format_none;
  case color_rule_always:
    return url_format_from_env();
  case color_rule_auto:
    if (terminal_allows_color() && terminal_allows_urls())
      return url_format_from_env();
    return url_format_none;
  default:
    VELK_UNREACHABLE();
  }
}

void engine_color_init(diagnostic_engine& engine, int rule) {
  if (rule < 0)
    rule = color_rule_auto;
  bool use_color = colorize_init(rule);
  if (engine.printer)
    engine.printer->use_color = use_color;
}

void engine_urls_init(diagnostic_engine& engine, int rule) {
  if (rule < 0)
    rule = color_rule_auto;
  url_format style = determine_url_format(rule);
  if (engine.printer)
    engine.printer->url_style = style;
}

} // namespace velk
