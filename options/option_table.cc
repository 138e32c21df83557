// Lookups over the option table: options by their text, enumeration values
// by text and by value.
#include "options/option_table.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace velk {

namespace {

// The option's name: its text without the leading "-".
std::string_view name_of(const option_record& option) {
  return option.text.substr(1);
}

bool valid_under(const enum_value& entry, std::uint32_t mask) {
  return (entry.flags & EV_DRIVER_ONLY) == 0 || (mask & OPTF_DRIVER) != 0;
}

// Only "--" options may be abbreviated.  `lo` is where the binary search of
// find_option ended; the candidates follow it.  An abbreviation selects the
// one option that begins with the input, or an option without a joined
// argument followed directly by its "=" form ("--help" and "--help="), and
// never an option that takes a joined argument.
std::size_t find_abbreviation(std::string_view input, std::size_t lo) {
  std::size_t candidate = OPTION_UNKNOWN;
  for (std::size_t m = lo + 1; m < option_count; ++m) {
    const option_record& entry = option_table[m];
    if (!name_of(entry).starts_with(input)) {
      break;
    }
    if (m == lo + 1) {
      if (entry.flags & OPTF_JOINED) {
        return OPTION_UNKNOWN;
      }
      candidate = m;
      continue;
    }
    const bool companion =
        m == lo + 2 && candidate == lo + 1 && (entry.flags & OPTF_JOINED) &&
        entry.text_length == option_table[candidate].text_length + 1 &&
        entry.text.starts_with(option_table[candidate].text);
    if (!companion) {
      return OPTION_UNKNOWN; // ambiguous
    }
  }
  return candidate;
}

// `a < b` as std::string_view compares them.  Option names mostly differ
// in their first characters, where a plain loop beats a library call.
bool sorts_before(std::string_view a, std::string_view b) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    if (a[i] != b[i])
      return static_cast<unsigned char>(a[i]) <
             static_cast<unsigned char>(b[i]);
  }
  return a.size() < b.size();
}

} // namespace

void store_int_enum_value(void* variable, std::int32_t value) noexcept {
  std::memcpy(variable, &value, sizeof value);
}

std::int32_t load_int_enum_value(const void* variable) noexcept {
  std::int32_t value;
  std::memcpy(&value, variable, sizeof value);
  return value;
}

std::size_t find_option(std::string_view input, std::uint32_t mask) noexcept {
  // The last entry whose name, as far as the name goes, does not sort after
  // the input.  Every entry whose name is a prefix of the input is this one
  // or lies on its back chain.
  std::size_t lo = 0;
  std::size_t hi = option_count;
  while (hi - lo > 1) {
    const std::size_t mid = (lo + hi) / 2;
    const option_record& entry = option_table[mid];
    if (sorts_before(input.substr(0, entry.text_length), name_of(entry))) {
      hi = mid;
    } else {
      lo = mid;
    }
  }

  // Walk from the longest candidate to the shorter ones.
  std::size_t wrong_language = OPTION_UNKNOWN;
  for (std::size_t m = lo; m != no_option; m = option_table[m].back_chain) {
    const option_record& entry = option_table[m];
    const std::string_view name = name_of(entry);
    if (!input.starts_with(name) ||
        (input.size() != name.size() && !(entry.flags & OPTF_JOINED))) {
      continue;
    }
    if (entry.flags & mask) {
      return m;
    }
    if (is_placeholder(entry)) {
      return OPTION_UNKNOWN;
    }
    if (wrong_language == OPTION_UNKNOWN) {
      wrong_language = m;
    }
  }
  if (wrong_language != OPTION_UNKNOWN) {
    return wrong_language;
  }
  if (!input.starts_with('-')) {
    return OPTION_UNKNOWN;
  }
  return find_abbreviation(input, lo);
}

enum_match enum_text_to_value(std::span<const enum_value> values,
                              std::string_view text, std::size_t length,
                              std::uint32_t mask) noexcept {
  if (length != 0) {
    if (length > text.size()) {
      return {-1, 0};
    }
    text = text.substr(0, length);
  }
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (values[i].text == text && valid_under(values[i], mask)) {
      return {static_cast<int>(i), values[i].value};
    }
  }
  return {-1, 0};
}

std::optional<enum_text> enum_value_text(std::span<const enum_value> values,
                                         std::int32_t value,
                                         std::uint32_t mask) noexcept {
  const enum_value* first = nullptr;
  for (const enum_value& entry : values) {
    if (entry.value != value || !valid_under(entry, mask)) {
      continue;
    }
    if (entry.flags & EV_CANONICAL) {
      return enum_text{entry.text, true};
    }
    if (first == nullptr) {
      first = &entry;
    }
  }
  if (first == nullptr) {
    return std::nullopt;
  }
  return enum_text{first->text, false};
}

std::optional<std::int32_t> opt_enum_arg_to_value(std::size_t code,
                                                  std::string_view text,
                                                  std::uint32_t mask) {
  if (code >= option_count || option_table[code].variable_kind != VK_ENUM) {
    // A caller's mistake, not the user's: stop at once.
    std::fprintf(stderr,
                 "internal error: opt_enum_arg_to_value called for option "
                 "code %zu, which takes no enumeration\n",
                 code);
    std::abort();
  }
  const option_enum& e = option_enums[option_table[code].enum_index];
  const enum_match match = enum_text_to_value(e.values, text, 0, mask);
  if (match.index < 0) {
    return std::nullopt;
  }
  return match.value;
}

} // namespace velk
