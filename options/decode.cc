#include "options/decode.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <limits>
#include <string>

#include "diagnostics/internal_check.h"
#include "options/option_codes.h"

namespace velk {

namespace {

constexpr std::uint64_t all_ones = std::numeric_limits<std::uint64_t>::max();

// Texts made while decoding.  A deque never moves its elements, so the
// characters of every saved string stay where they are.
std::deque<std::string>& text_pool() {
  static std::deque<std::string> pool;
  return pool;
}

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

char to_lower(char c) {
  return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c;
}

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (to_lower(a[i]) != to_lower(b[i]))
      return false;
  return true;
}

struct size_unit {
  std::string_view text;
  bool ignore_case;
  std::uint64_t multiplier;
};

// Tested in this order; the first match wins, so "kB" is 1000 and "KB" 1024,
// while "kb" and "Mb" are no units at all.
constexpr size_unit size_units[] = {
    {"kB", false, 1000ULL},    {"KiB", true, 1ULL << 10},
    {"KB", false, 1ULL << 10}, {"MB", false, 1000000ULL},
    {"MiB", true, 1ULL << 20}, {"GB", true, 1000000000ULL},
    {"GiB", true, 1ULL << 30}, {"TB", true, 1000000000000ULL},
    {"TiB", true, 1ULL << 40}, {"PB", true, 1000000000000000ULL},
    {"PiB", true, 1ULL << 50}, {"EB", true, 1000000000000000000ULL},
    {"EiB", true, 1ULL << 60},
};

const size_unit* find_size_unit(std::string_view text) {
  for (const size_unit& unit : size_units) {
    if (unit.ignore_case ? equal_ignoring_case(text, unit.text)
                         : text == unit.text)
      return &unit;
  }
  return nullptr;
}

bool takes_separate(const option_record& option, std::uint32_t lang_mask) {
  if (!(option.flags & OPTF_SEPARATE))
    return false;
  return !((option.attributes & ATTR_NO_ARG_IN_DRIVER) &&
           (lang_mask & OPTF_DRIVER));
}

// Whether an option is usable under `lang_mask`.  Target options that name
// languages or the driver are usable only when the mask shares one of those
// with them, not merely the target or common class.
bool option_ok_for_language(const option_record& option,
                            std::uint32_t lang_mask) {
  const std::uint32_t shared = option.flags & lang_mask;
  if (shared == 0)
    return false;
  if ((option.flags & OPTF_TARGET) &&
      (option.flags & (OPTF_LANGUAGES | OPTF_DRIVER)) &&
      (shared & ~(OPTF_TARGET | OPTF_COMMON)) == 0)
    return false;
  return true;
}

// The consumed elements joined by single blanks; an empty element shows as
// two double quotes.
const char* join_given_text(const char* const* argv, std::size_t count) {
  if (count == 1 && argv[0][0] != '\0')
    return argv[0];
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    if (i != 0)
      text += ' ';
    text += argv[i][0] != '\0' ? std::string_view(argv[i]) : "\"\"";
  }
  return save_option_text(text);
}

const char* lower_case_copy(const char* text) {
  std::string copy(text);
  for (char& c : copy)
    c = to_lower(c);
  return save_option_text(copy);
}

// Whether a record takes part in cancellation: it has a negation link and
// either takes no joined argument, or has no negative form and cancels only
// itself ("-march=").
bool cancellable(std::size_t code) {
  const option_record& option = option_table[code];
  if (option.negation_link < 0)
    return false;
  return !(option.flags & OPTF_JOINED) ||
         ((option.attributes & ATTR_NO_NEGATIVE) &&
          option.negation_link == static_cast<std::int32_t>(code));
}

bool only_wrong_language(const decoded_option& d) {
  return (d.errors & ~DE_WRONG_LANGUAGE) == 0;
}

// The decoded form of a comma list of enumeration values: the OR of the
// values and the bits they affect.
struct enum_set_result {
  bool ok = true;
  std::int64_t value = 0;
  std::int64_t mask = 0;
};

enum_set_result decode_enum_set(const option_record& option,
                                const option_enum& e, std::string_view arg,
                                std::uint32_t lang_mask) {
  enum_set_result result;
  std::vector<std::uint32_t> groups_seen;
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = arg.find(',', start);
    const std::string_view piece = arg.substr(
        start, comma == std::string_view::npos ? arg.npos : comma - start);
    if (piece.empty()) {
      result.ok = false;
      break;
    }
    const enum_match match = enum_text_to_value(e.values, arg.substr(start),
                                                piece.size(), lang_mask);
    if (match.index < 0) {
      result.ok = false;
      break;
    }
    const enum_value& entry = e.values[static_cast<std::size_t>(match.index)];
    const std::uint32_t group = entry.flags >> EV_GROUP_SHIFT;
    if (option.variable_value == 1) {
      bool repeated = false;
      for (std::uint32_t seen : groups_seen)
        repeated = repeated || seen == group;
      if (repeated) {
        result.ok = false;
        break;
      }
      groups_seen.push_back(group);
      for (const enum_value& other : e.values)
        if ((other.flags >> EV_GROUP_SHIFT) == group)
          result.mask |= other.value;
    } else {
      result.mask |= match.value;
    }
    result.value |= match.value;
    if (comma == std::string_view::npos)
      break;
    start = comma + 1;
  }
  return result;
}

} // namespace

const char* save_option_text(std::string_view text) {
  return text_pool().emplace_back(text).c_str();
}

std::uint64_t parse_integral_argument(const char* text, int& error,
                                      bool size_units_allowed) {
  error = 0;
  if (!is_digit(text[0])) {
    error = EINVAL;
    return all_ones;
  }

  // A decimal number; one too large for 64 bits saturates.
  std::uint64_t number = 0;
  const char* p = text;
  for (; is_digit(*p); ++p) {
    const std::uint64_t digit = static_cast<std::uint64_t>(*p - '0');
    if (number > (all_ones - digit) / 10)
      number = all_ones;
    else if (number != all_ones)
      number = number * 10 + digit;
  }
  if (*p == '\0')
    return number;

  if (!size_units_allowed) {
    // Not decimal: the base follows from the prefix ("0x10" is 16).
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text, &end, 0);
    const int parse_error = errno;
    if (*end == '\0')
      return value;
    error = parse_error != 0 ? parse_error : EINVAL;
    return all_ones;
  }

  const size_unit* unit = find_size_unit(p);
  if (unit == nullptr) {
    error = EINVAL;
    return all_ones;
  }
  if (number != 0 && number > all_ones / unit->multiplier)
    return all_ones;
  return number * unit->multiplier;
}

std::size_t decode_cmdline_option(const char* const* argv,
                                  std::uint32_t lang_mask,
                                  decoded_option& out) {
  const char* const opt = argv[0];
  std::size_t code = find_option(std::string_view(opt + 1), lang_mask);
  std::int64_t value = 1;
  std::size_t consumed = 1;
  std::size_t extra = 0;    // elements merged by a prefix rewrite
  std::ptrdiff_t shift = 0; // matched prefix length minus replacement length
  const prefix_rewrite* rewrite = nullptr;
  const char* argument = nullptr;
  std::uint32_t errors = 0;
  std::int64_t enum_mask = 0;
  const char* warning_message = nullptr;
  bool separate_argument = false;

  if (code == OPTION_UNKNOWN) {
    const std::string_view element(opt);
    for (const prefix_rewrite& row : prefix_map) {
      if (!element.starts_with(row.prefix))
        continue;
      std::string_view rest;
      std::size_t matched;
      if (row.second != nullptr) {
        // A two-element rewrite merges the next element; the option element
        // must be exactly the prefix, or its remainder would be lost.
        if (element.size() != row.prefix.size() || argv[1] == nullptr ||
            !std::string_view(argv[1]).starts_with(row.second))
          continue;
        matched = std::strlen(row.second);
        rest = std::string_view(argv[1]).substr(matched);
      } else {
        matched = row.prefix.size();
        rest = element.substr(matched);
        if (row.needs_more_text && rest.empty())
          continue;
      }
      std::string rewritten(row.replacement);
      rewritten += rest;
      const std::size_t found =
          find_option(std::string_view(rewritten).substr(1), lang_mask);
      if (found == OPTION_UNKNOWN)
        continue;
      code = found;
      rewrite = &row;
      extra = row.second != nullptr ? 1 : 0;
      shift = static_cast<std::ptrdiff_t>(matched) -
              static_cast<std::ptrdiff_t>(row.replacement.size());
      break;
    }
  }

  const option_record* option = nullptr;
  if (code == OPTION_UNKNOWN) {
    argument = opt;
  } else if (rewrite != nullptr && rewrite->negates &&
             (option_table[code].attributes & ATTR_NO_NEGATIVE)) {
    code = OPTION_UNKNOWN;
    argument = opt;
    value = 0;
    errors = DE_NEGATED;
  } else {
    option = &option_table[code];
    if (rewrite != nullptr && rewrite->negates)
      value = 0;
    consumed = 1 + extra;
    if (option->attributes & ATTR_DISABLED)
      errors |= DE_DISABLED;
    if (option->variable_kind == VK_SIZE)
      value = 0;
    warning_message = option->warning_message;

    // The argument.
    const bool separate = takes_separate(*option, lang_mask);
    const std::size_t separate_count = extra_args(*option) + 1;
    if (option->flags & OPTF_JOINED) {
      const char* holder = argv[extra];
      const std::ptrdiff_t offset =
          static_cast<std::ptrdiff_t>(option->text_length) + 1 + shift;
      VELK_ASSERT(offset >= 0 &&
                  static_cast<std::size_t>(offset) <= std::strlen(holder));
      argument = holder + offset;
      if (*argument == '\0' && !(option->attributes & ATTR_ARG_OPTIONAL)) {
        if (separate && argv[extra + 1] != nullptr) {
          argument = argv[extra + 1];
          consumed = extra + 2;
          separate_argument = true;
        } else {
          argument = nullptr;
          errors |= DE_MISSING_ARG;
        }
      }
    } else if (separate) {
      for (std::size_t i = 0; i < separate_count; ++i) {
        if (argv[consumed] == nullptr) {
          errors |= DE_MISSING_ARG;
          break;
        }
        ++consumed;
      }
      if (consumed > 1 + extra) {
        argument = argv[1 + extra];
        separate_argument = true;
      }
    }

    // An alias stands for its target.
    if (option->alias_target != no_option &&
        (!(option->attributes & ATTR_ALIAS_IF_SEPARATE) || separate_argument)) {
      const std::size_t target = option->alias_target;
      if (target == OPTION_IGNORE || target == OPTION_WARN_REMOVED) {
        VELK_ASSERT(option->alias_argument == nullptr &&
                    option->negated_alias_argument == nullptr);
        code = target;
        argument = nullptr;
      } else {
        VELK_ASSERT(target < option_count);
        const option_record& target_option = option_table[target];
        // An alias of an alias only when the target's own alias applies to
        // separate arguments alone.
        VELK_ASSERT(target_option.alias_target == no_option ||
                    (target_option.attributes & ATTR_ALIAS_IF_SEPARATE));
        if (option->alias_argument != nullptr) {
          // Alias arguments replace the option's own argument, so it must
          // take none.
          VELK_ASSERT(!(option->flags & (OPTF_JOINED | OPTF_SEPARATE)));
          VELK_ASSERT(!(option->attributes & ATTR_ALIAS_NEGATES));
        }
        if (option->negated_alias_argument != nullptr) {
          VELK_ASSERT(option->alias_argument != nullptr);
          argument = value != 0 ? option->alias_argument
                                : option->negated_alias_argument;
          value = 1;
        } else if (option->alias_argument != nullptr) {
          argument = option->alias_argument;
        } else if (option->attributes & ATTR_ALIAS_NEGATES) {
          value = value == 0 ? 1 : 0;
        }
        const bool target_takes_argument =
            (target_option.flags & OPTF_JOINED) ||
            takes_separate(target_option, lang_mask);
        if (!(errors & DE_MISSING_ARG)) {
          if (target_takes_argument && argument == nullptr) {
            // The target needs an argument the alias does not supply.
            VELK_ASSERT(target_option.attributes & ATTR_ARG_OPTIONAL);
            argument = "";
          }
        }
        if (target_option.warning_message != nullptr)
          warning_message = target_option.warning_message;
        if (target_option.attributes & ATTR_DISABLED)
          errors |= DE_DISABLED;
        code = target;
        option = &target_option;
      }
    }

    // The language check.
    if (!option_ok_for_language(*option, lang_mask)) {
      errors |= DE_WRONG_LANGUAGE;
    } else if (code == option_code("-Werror=") && argument != nullptr &&
               std::strchr(opt, ',') == nullptr) {
      // "-Werror=format" is for the languages of "-Wformat".
      std::string name = "W";
      name += argument;
      const std::size_t warning = find_option(name, lang_mask);
      if (warning < option_count &&
          !option_ok_for_language(option_table[warning], lang_mask))
        errors |= DE_WRONG_LANGUAGE;
    }

    if (argument != nullptr && (option->attributes & ATTR_LOWERCASE_ARG))
      argument = lower_case_copy(argument);

    if (argument != nullptr &&
        (option->attributes & (ATTR_UNSIGNED_ARG | ATTR_WIDE_VALUE))) {
      if (*argument == '\0') {
        value = 0;
      } else {
        int error = 0;
        value = static_cast<std::int64_t>(parse_integral_argument(
            argument, error, option->attributes & ATTR_SIZE_UNITS));
        if (error != 0)
          errors |= DE_BAD_UNSIGNED;
      }
      if (has_range(*option) &&
          (value < option->range_min || value > option->range_max))
        errors |= DE_OUT_OF_RANGE;
    }

    if (argument != nullptr && option->variable_kind == VK_ENUM &&
        code < option_count) {
      const option_enum& e = option_enums[option->enum_index];
      if (option->variable_value == 0) {
        // One value; the negative form would have nothing to store.
        VELK_ASSERT(value == 1);
        const enum_match match =
            enum_text_to_value(e.values, argument, 0, lang_mask);
        if (match.index < 0) {
          errors |= DE_BAD_ENUM;
        } else {
          value = match.value;
          const std::optional<enum_text> spelling =
              enum_value_text(e.values, match.value, lang_mask);
          if (spelling && spelling->canonical)
            argument = save_option_text(spelling->text);
        }
      } else {
        if (option->variable_value == 2) {
          // Bit sets know no groups.
          for (const enum_value& entry : e.values)
            VELK_ASSERT((entry.flags >> EV_GROUP_SHIFT) == 0);
        }
        const enum_set_result set =
            decode_enum_set(*option, e, argument, lang_mask);
        if (!set.ok)
          errors |= DE_BAD_ENUM_SET;
        enum_mask = set.mask;
        if (value != 0)
          value = set.value;
      }
    }
  }

  out.index = code;
  out.warning_message = warning_message;
  out.argument = argument;
  out.value = value;
  out.mask = enum_mask;
  out.errors = errors;
  out.canonical_count = consumed;
  for (const char*& slot : out.canonical)
    slot = nullptr;
  if (code == OPTION_UNKNOWN) {
    out.canonical[0] = opt;
  } else if (code < option_count) {
    generate_canonical_option(code, argument, value, out);
    if (takes_separate(*option, lang_mask) && extra_args(*option) > 0) {
      for (std::size_t i = 1; i < consumed && i < 4; ++i)
        out.canonical[i] = argv[i];
      out.canonical_count = consumed;
    }
  }
  VELK_ASSERT(consumed >= 1 && consumed <= 4);
  out.given_text = join_given_text(argv, consumed);
  return consumed;
}

void generate_canonical_option(std::size_t code, const char* argument,
                               std::int64_t value, decoded_option& out) {
  VELK_ASSERT(code < option_count);
  const option_record& option = option_table[code];
  const std::string_view text = option.text;
  // The negative form of "-Wall" is "-Wno-all".
  std::string spelling(text);
  if (value == 0 && !(option.attributes & ATTR_NO_NEGATIVE) &&
      text.size() > 1 &&
      (text[1] == 'W' || text[1] == 'f' || text[1] == 'g' || text[1] == 'm')) {
    spelling = "-";
    spelling += text[1];
    spelling += "no-";
    spelling += text.substr(2);
  }
  for (const char*& slot : out.canonical)
    slot = nullptr;
  // Option texts are string literals, so the table's own text can serve.
  const char* plain = spelling == text ? text.data() : nullptr;
  if (argument == nullptr) {
    out.canonical[0] = plain != nullptr ? plain : save_option_text(spelling);
    out.canonical_count = 1;
  } else if ((option.flags & OPTF_SEPARATE) &&
             !(option.attributes & ATTR_ALIAS_IF_SEPARATE)) {
    out.canonical[0] = plain != nullptr ? plain : save_option_text(spelling);
    out.canonical[1] = argument;
    out.canonical_count = 2;
  } else {
    VELK_ASSERT(option.flags & OPTF_JOINED);
    spelling += argument;
    out.canonical[0] = save_option_text(spelling);
    out.canonical_count = 1;
  }
}

void generate_option(std::size_t code, const char* argument, std::int64_t value,
                     std::uint32_t lang_mask, decoded_option& out) {
  VELK_ASSERT(code < option_count);
  out.index = code;
  out.warning_message = nullptr;
  out.argument = argument;
  out.value = value;
  out.mask = 0;
  out.errors = option_ok_for_language(option_table[code], lang_mask)
                   ? 0
                   : DE_WRONG_LANGUAGE;
  generate_canonical_option(code, argument, value, out);
  switch (out.canonical_count) {
  case 1:
    out.given_text = out.canonical[0];
    break;
  case 2: {
    std::string text = out.canonical[0];
    text += ' ';
    text += out.canonical[1];
    out.given_text = save_option_text(text);
    break;
  }
  default:
    VELK_UNREACHABLE();
  }
}

void decode_input_file(const char* text, decoded_option& out) {
  out.index = OPTION_INPUT_FILE;
  out.warning_message = nullptr;
  out.argument = text;
  out.given_text = text;
  for (const char*& slot : out.canonical)
    slot = nullptr;
  out.canonical[0] = text;
  out.canonical_count = 1;
  out.value = 1;
  out.mask = 0;
  out.errors = 0;
}

std::vector<decoded_option> decode_argument_list(int argc,
                                                 const char* const* argv,
                                                 std::uint32_t lang_mask) {
  // A private copy of the vector, ended by a null entry: "--param" rewrites
  // the element after it, and separate arguments are looked for up to the
  // end.
  std::vector<const char*> args;
  const std::size_t count = argc > 0 ? static_cast<std::size_t>(argc) : 0;
  args.reserve(count + 1);
  for (std::size_t i = 0; i < count && argv[i] != nullptr; ++i)
    args.push_back(argv[i]);
  if (args.empty())
    args.push_back("");
  args.push_back(nullptr);
  const std::size_t element_count = args.size() - 1;

  std::vector<decoded_option> decoded;
  decoded.reserve(element_count);
  decoded_option& program = decoded.emplace_back();
  decode_input_file(args[0], program);
  program.index = OPTION_PROGRAM_NAME;

  constexpr std::size_t plain_output =
      option_code("-fdiagnostics-plain-output");
  static constexpr const char* plain_output_expansion[] = {
      "-fno-diagnostics-show-caret",
      "-fno-diagnostics-show-line-numbers",
      "-fdiagnostics-color=never",
      "-fdiagnostics-urls=never",
      "-fdiagnostics-path-format=separate-events",
  };

  for (std::size_t i = 1; i < element_count;) {
    const char* element = args[i];
    if (element[0] != '-' || element[1] == '\0') {
      decode_input_file(element, decoded.emplace_back());
      ++i;
      continue;
    }
    if (std::strcmp(element, "--param") == 0 && args[i + 1] != nullptr) {
      std::string joined = "--param=";
      joined += args[i + 1];
      args[i + 1] = save_option_text(joined);
      ++i;
      continue;
    }
    decoded_option option;
    const std::size_t consumed =
        decode_cmdline_option(&args[i], lang_mask, option);
    i += consumed;
    if (option.index == plain_output && only_wrong_language(option)) {
      // Stands for five options, whatever spelling selected it.
      for (const char* text : plain_output_expansion) {
        const char* one[] = {text, nullptr};
        decode_cmdline_option(one, lang_mask, decoded.emplace_back());
      }
      continue;
    }
    decoded.push_back(option);
  }

  prune_options(decoded);
  return decoded;
}

void prune_options(std::vector<decoded_option>& decoded) {
  // From the last record backwards: every qualifying record cancels the
  // earlier uses of the options it reaches along its negation links.
  std::vector<bool> cancelled_by_later(option_count, false);
  std::vector<bool> keep(decoded.size(), true);
  for (std::size_t i = decoded.size(); i-- > 0;) {
    const decoded_option& d = decoded[i];
    if (d.index >= option_count || !only_wrong_language(d) ||
        !cancellable(d.index))
      continue;
    if (cancelled_by_later[d.index])
      keep[i] = false;
    std::int32_t link = option_table[d.index].negation_link;
    for (std::size_t steps = 0;; ++steps) {
      VELK_ASSERT(link >= 0 && static_cast<std::size_t>(link) < option_count &&
                  steps <= option_count);
      cancelled_by_later[static_cast<std::size_t>(link)] = true;
      if (static_cast<std::size_t>(link) == d.index)
        break;
      link = option_table[static_cast<std::size_t>(link)].negation_link;
    }
  }

  constexpr std::size_t complain = option_code("-Wcomplain-wrong-lang");
  constexpr std::size_t color = option_code("-fdiagnostics-color=");
  std::vector<decoded_option> result;
  result.reserve(decoded.size());
  const decoded_option* last_complain = nullptr;
  const decoded_option* last_color = nullptr;
  for (std::size_t i = 0; i < decoded.size(); ++i) {
    const decoded_option& d = decoded[i];
    if (!only_wrong_language(d) || d.index >= option_count) {
      result.push_back(d);
    } else if (d.index == complain) {
      last_complain = &d;
    } else if (d.index == color) {
      last_color = &d;
    } else if (keep[i]) {
      result.push_back(d);
    }
  }
  std::size_t position = result.empty() ? 0 : 1;
  if (last_complain != nullptr)
    result.insert(result.begin() + static_cast<std::ptrdiff_t>(position++),
                  *last_complain);
  if (last_color != nullptr)
    result.insert(result.begin() + static_cast<std::ptrdiff_t>(position),
                  *last_color);
  decoded = std::move(result);
}

} // namespace velk
