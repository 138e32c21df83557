#include "options/handle.h"

#include <climits>
#include <cstring>
#include <deque>
#include <optional>

#include "options/decode.h"
#include "options/option_codes.h"
#include "options/suggestions.h"

namespace velk {

option_values global_options;
option_values_set global_options_set;

engine_rule_hook diagnostic_color_hook = nullptr;
engine_rule_hook diagnostic_urls_hook = nullptr;

// The set record shares the layout of the values, so one offset serves both.
static_assert(sizeof(option_values) == sizeof(option_values_set));

namespace {

bool options_initialised = false;

struct help_state {
  std::vector<std::string> requests;
  bool exit_after_options = false;
};

help_state& help() {
  static help_state state;
  return state;
}

// The lists of VK_DEFERRED options; they live until the program ends.
deferred_option_list& new_deferred_list() {
  static std::deque<deferred_option_list> lists;
  deferred_option_list& list = lists.emplace_back();
  list.entries.reserve(4);
  return list;
}

template <typename T>
T load(const void* variable) {
  T value;
  std::memcpy(&value, variable, sizeof value);
  return value;
}

template <typename T>
void store(void* variable, T value) {
  std::memcpy(variable, &value, sizeof value);
}

// Integer fields are 64 bits wide for ATTR_WIDE_VALUE options, else 32.
std::int64_t load_integer(const option_record& option, const void* variable) {
  if (option.attributes & ATTR_WIDE_VALUE)
    return load<std::int64_t>(variable);
  return load<std::int32_t>(variable);
}

void store_integer(const option_record& option, void* variable,
                   std::int64_t value) {
  if (option.attributes & ATTR_WIDE_VALUE)
    store<std::int64_t>(variable, value);
  else
    store<std::int32_t>(variable, static_cast<std::int32_t>(value));
}

// The pieces of a comma list, in order; empty pieces included.
std::vector<std::string_view> comma_pieces(std::string_view text) {
  std::vector<std::string_view> pieces;
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = text.find(',', start);
    if (comma == std::string_view::npos) {
      pieces.push_back(text.substr(start));
      return pieces;
    }
    pieces.push_back(text.substr(start, comma - start));
    start = comma + 1;
  }
}

// Reports `piece` as no value of the option's enumeration and lists the
// valid values, with a hint when one is close.
void report_bad_enum_value(location_t loc, const option_record& option,
                           const char* given_text, std::string_view piece,
                           std::uint32_t lang_mask) {
  const option_enum& e = option_enums[option.enum_index];
  diagnostic_group group;
  if (e.unknown_message != nullptr)
    error_at(loc, e.unknown_message, piece);
  else
    error_at(loc, "unrecognized argument in option %qs", given_text);

  std::vector<std::string_view> candidates;
  for (const enum_value& entry : e.values)
    if (!(entry.flags & EV_DRIVER_ONLY) || (lang_mask & OPTF_DRIVER))
      candidates.push_back(entry.text);
  if (candidates.empty())
    return;
  std::string all;
  const std::optional<std::string_view> hint =
      candidates_list_and_hint(piece, all, candidates);
  if (hint)
    inform(loc, "valid arguments to %qs are: %s; did you mean %qs?",
           option.text, all, *hint);
  else
    inform(loc, "valid arguments to %qs are: %s", option.text, all);
}

// Finds what is wrong with an enumeration list again, piece by piece, and
// reports it.
bool report_bad_enum_set(location_t loc, const option_record& option,
                         const char* given_text, const char* argument,
                         std::uint32_t lang_mask) {
  const option_enum& e = option_enums[option.enum_index];
  const std::vector<std::string_view> pieces =
      comma_pieces(argument != nullptr ? argument : "");
  std::vector<std::uint32_t> groups_seen;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const std::string_view piece = pieces[i];
    const enum_match match =
        piece.empty() ? enum_match{-1, 0}
                      : enum_text_to_value(e.values, piece, 0, lang_mask);
    if (match.index < 0) {
      report_bad_enum_value(loc, option, given_text, piece, lang_mask);
      return true;
    }
    if (option.variable_value != 1)
      continue;
    const std::uint32_t group =
        e.values[static_cast<std::size_t>(match.index)].flags >> EV_GROUP_SHIFT;
    bool repeated = false;
    for (std::uint32_t seen : groups_seen)
      repeated = repeated || seen == group;
    if (!repeated) {
      groups_seen.push_back(group);
      continue;
    }
    // The first piece of the same group.
    std::string_view first;
    for (std::size_t j = 0; j < i; ++j) {
      const enum_match earlier =
          enum_text_to_value(e.values, pieces[j], 0, lang_mask);
      if (earlier.index >= 0 &&
          (e.values[static_cast<std::size_t>(earlier.index)].flags >>
           EV_GROUP_SHIFT) == group) {
        first = pieces[j];
        break;
      }
    }
    diagnostic_group diagnostics;
    error_at(loc, "invalid argument in option %qs", given_text);
    if (first == piece)
      inform(loc, "%qs specified multiple times in the same option", piece);
    else
      inform(loc,
             "%qs is mutually exclusive with %qs and cannot be specified "
             "together",
             first, piece);
    return true;
  }
  return false;
}

// The debug formats by bit number.
constexpr const char* debug_format_names[] = {"none", "dwarf-2", "vms", "ctf",
                                              "btf"};
constexpr std::int32_t DEBUG_NONE = 0;
constexpr std::int32_t DEBUG_DWARF2 = 2;
constexpr std::int32_t DEBUG_VMS = 4;
constexpr std::int32_t DEBUG_CTF = 8;
constexpr std::int32_t DEBUG_BTF = 16;

const char* debug_format_name(std::int32_t format) {
  for (std::size_t bit = 1; bit < std::size(debug_format_names); ++bit)
    if (format == (1 << bit))
      return debug_format_names[bit];
  return debug_format_names[0];
}

// Selects the debug format `format` (0: the default one) and the level
// `level_text` ("" for the default level).
void set_debug_level(std::int32_t format, const char* level_text,
                     option_values* opts, option_values_set* opts_set,
                     location_t loc) {
  std::int32_t unused_set = 0;
  std::int32_t& formats_set =
      opts_set != nullptr ? opts_set->write_symbols : unused_set;
  std::int32_t& formats = opts->write_symbols;
  if (format == DEBUG_NONE) {
    if (formats == DEBUG_NONE) {
      formats = DEBUG_DWARF2;
    } else if (formats & (DEBUG_CTF | DEBUG_BTF)) {
      formats |= DEBUG_DWARF2;
      formats_set |= DEBUG_DWARF2;
    }
  } else if ((format == DEBUG_DWARF2 || format == DEBUG_CTF) &&
             (formats == DEBUG_DWARF2 || formats == DEBUG_CTF ||
              formats == (DEBUG_DWARF2 | DEBUG_CTF))) {
    formats |= format;
    formats_set |= format;
  } else if ((format == DEBUG_DWARF2 || format == DEBUG_BTF) &&
             (formats == DEBUG_DWARF2 || formats == DEBUG_BTF ||
              formats == (DEBUG_DWARF2 | DEBUG_BTF))) {
    formats |= format;
    formats_set |= format;
  } else {
    if (formats_set != 0 && formats != DEBUG_NONE && formats != format)
      error_at(loc, "debug format %qs conflicts with prior selection",
               debug_format_name(format));
    formats = format;
    formats_set = format;
  }

  const std::string_view level(level_text != nullptr ? level_text : "");
  if (format == DEBUG_BTF) {
    if (!level.empty())
      error_at(loc, "unrecognized btf debug output level %qs", level);
    return;
  }
  if (level.empty()) {
    if (format == DEBUG_CTF)
      opts->ctf_debug_info_level = 2;
    else if (opts->debug_info_level < 2)
      opts->debug_info_level = 2;
    return;
  }
  int error = 0;
  const std::uint64_t number =
      parse_integral_argument(level_text, error, false);
  if (error != 0) {
    error_at(loc, "unrecognized debug output level %qs", level);
    return;
  }
  if (number > 3) {
    error_at(loc, "debug output level %qs is too high", level);
    return;
  }
  if (format == DEBUG_CTF)
    opts->ctf_debug_info_level = static_cast<std::int32_t>(number);
  else
    opts->debug_info_level = static_cast<std::int32_t>(number);
}

void set_dwarf_version(std::int64_t version, option_values* opts,
                       option_values_set* opts_set, location_t loc) {
  if (version < 2 || version > 5)
    error_at(loc, "dwarf version %wu is not supported",
             static_cast<std::uint64_t>(version));
  else
    opts->dwarf_version = static_cast<std::int32_t>(version);
  set_debug_level(DEBUG_DWARF2, "", opts, opts_set, loc);
}

// -Werror=NAME: the warning "-WNAME" becomes an error (or, negated, stops
// being one).
void enable_warning_as_error(const char* name, bool as_error,
                             std::uint32_t lang_mask, location_t loc,
                             diagnostic_engine& engine) {
  std::string warning = "W";
  warning += name;
  const std::size_t code = find_option(warning, lang_mask);
  if (code >= option_count) {
    error_at(loc, "%<-Werror=%s%>: no option -%s", name, warning);
    return;
  }
  if (!(option_table[code].flags & OPTF_WARNING)) {
    error_at(loc,
             "%<-Werror=%s%>: %<-%s%> is not an option that controls warnings",
             name, warning);
    return;
  }
  engine_set_option_error(engine, static_cast<int>(code), as_error, loc);
}

} // namespace

void init_options_once() {
  options_initialised = true;
  // The text pool comes into being here, before anything is decoded.
  save_option_text("");
}

void init_options_struct(option_values* values, option_values_set* set) {
  VELK_ASSERT(options_initialised);
  *values = option_values{};
  if (set != nullptr)
    *set = option_values_set{};
  // Not decided until a language says so.
  values->flag_short_enums = 2;
  values->flag_signed_char = 0;
  // The target's defaults for its flags and for unwind tables, and its own
  // initialisation, leave everything at the start values on this target.
}

void* option_variable(std::size_t code, option_values* values) {
  if (code >= option_count || !has_variable(option_table[code]))
    return nullptr;
  return reinterpret_cast<char*>(values) + option_table[code].variable_offset;
}

const void* option_variable(std::size_t code, const option_values* values) {
  if (code >= option_count || !has_variable(option_table[code]))
    return nullptr;
  return reinterpret_cast<const char*>(values) +
         option_table[code].variable_offset;
}

void* option_variable(std::size_t code, option_values_set* set) {
  if (code >= option_count || !has_variable(option_table[code]))
    return nullptr;
  return reinterpret_cast<char*>(set) + option_table[code].variable_offset;
}

void store_option_value(option_values* values, option_values_set* set,
                        std::size_t code, std::int64_t value,
                        const char* argument, diagnostic_kind kind,
                        location_t loc, diagnostic_engine& engine,
                        std::int64_t mask) {
  void* variable = option_variable(code, values);
  if (variable == nullptr)
    return;
  const option_record& option = option_table[code];
  void* set_variable = set != nullptr ? option_variable(code, set) : nullptr;

  if (kind != kind_unspecified)
    engine_classify(engine, static_cast<int>(code), kind, loc);

  switch (option.variable_kind) {
  case VK_INT:
    if (option.attributes & ATTR_WIDE_VALUE) {
      store<std::int64_t>(variable, value);
    } else if (value > INT_MAX ||
               (value < 0 && (option.attributes & ATTR_UNSIGNED_ARG))) {
      // A non-negative argument whose 64 bits read as negative is still
      // too big for the variable.
      error_at(loc, "argument to %qs is bigger than %d", option.text, INT_MAX);
      return;
    } else {
      store<std::int32_t>(variable, static_cast<std::int32_t>(value));
    }
    if (set_variable != nullptr)
      store_integer(option, set_variable, 1);
    break;

  case VK_EQUALS:
    store_integer(option, variable,
                  value != 0
                      ? option.variable_value
                      : static_cast<std::int64_t>(option.variable_value == 0));
    if (set_variable != nullptr)
      store_integer(option, set_variable, 1);
    break;

  case VK_SET_BITS:
  case VK_CLEAR_BITS: {
    const bool set_bits = (option.variable_kind == VK_SET_BITS) == (value != 0);
    std::int64_t bits = load_integer(option, variable);
    if (set_bits)
      bits |= option.variable_value;
    else
      bits &= ~option.variable_value;
    store_integer(option, variable, bits);
    if (set_variable != nullptr)
      store_integer(option, set_variable,
                    load_integer(option, set_variable) | option.variable_value);
    break;
  }

  case VK_SIZE:
    store_integer(option, variable, value);
    if (set_variable != nullptr)
      store_integer(option, set_variable, value);
    break;

  case VK_STRING:
    store<const char*>(variable, argument);
    if (set_variable != nullptr)
      store<const char*>(set_variable, "");
    break;

  case VK_ENUM: {
    const option_enum& e = option_enums[option.enum_index];
    const std::int32_t stored =
        mask != 0
            ? static_cast<std::int32_t>(value | (e.get_value(variable) & ~mask))
            : static_cast<std::int32_t>(value);
    e.set_value(variable, stored);
    if (set_variable != nullptr)
      e.set_value(set_variable, 1);
    break;
  }

  case VK_DEFERRED: {
    deferred_option_list* list = load<deferred_option_list*>(variable);
    if (list == nullptr) {
      list = &new_deferred_list();
      store<deferred_option_list*>(variable, list);
    }
    list->entries.push_back({code, argument, value});
    if (set_variable != nullptr)
      store<deferred_option_list*>(set_variable, list);
    break;
  }
  }
}

bool report_decode_errors(location_t loc, std::size_t code,
                          const char* given_text, const char* argument,
                          std::uint32_t errors, std::uint32_t lang_mask) {
  VELK_ASSERT(code < option_count);
  const option_record& option = option_table[code];

  if (errors & DE_DISABLED) {
    error_at(loc,
             "command-line option %qs is not supported by this configuration",
             given_text);
    return true;
  }
  if (errors & DE_MISSING_ARG) {
    if (option.missing_argument_message != nullptr)
      error_at(loc, option.missing_argument_message, given_text);
    else
      error_at(loc, "missing argument to %qs", given_text);
    return true;
  }
  if (errors & DE_BAD_UNSIGNED) {
    if (option.attributes & ATTR_SIZE_UNITS)
      error_at(loc,
               "argument to %qs should be a non-negative integer optionally "
               "followed by a size unit",
               option.text);
    else
      error_at(loc, "argument to %qs should be a non-negative integer",
               option.text);
    return true;
  }
  if (errors & DE_OUT_OF_RANGE) {
    error_at(loc, "argument to %qs is not between %d and %d", option.text,
             option.range_min, option.range_max);
    return true;
  }
  if (errors & DE_BAD_ENUM_SET) {
    if (report_bad_enum_set(loc, option, given_text, argument, lang_mask))
      return true;
  }
  if (errors & DE_BAD_ENUM) {
    report_bad_enum_value(loc, option, given_text,
                          argument != nullptr ? argument : "", lang_mask);
    return true;
  }
  return false;
}

bool handle_decoded_option(option_values* opts, option_values_set* opts_set,
                           const decoded_option& decoded,
                           std::uint32_t lang_mask, diagnostic_kind kind,
                           location_t loc, const option_handlers& handlers,
                           bool generated, diagnostic_engine& engine) {
  VELK_ASSERT(decoded.index < option_count);
  VELK_ASSERT(handlers.num_handlers <= std::size(handlers.handlers));
  const option_record& option = option_table[decoded.index];
  if (has_variable(option))
    store_option_value(opts, generated ? nullptr : opts_set, decoded.index,
                       decoded.value, decoded.argument, kind, loc, engine,
                       decoded.mask);
  for (std::size_t i = 0; i < handlers.num_handlers; ++i) {
    const option_handler_entry& entry = handlers.handlers[i];
    if ((entry.mask & option.flags) &&
        !entry.handler(opts, opts_set, decoded, lang_mask, kind, loc, handlers,
                       engine))
      return false;
  }
  return true;
}

void read_cmdline_option(option_values* opts, option_values_set* opts_set,
                         decoded_option& decoded, location_t loc,
                         std::uint32_t lang_mask,
                         const option_handlers& handlers,
                         diagnostic_engine& engine) {
  if (decoded.warning_message != nullptr)
    warning_at(loc, 0, decoded.warning_message, decoded.given_text);

  if (decoded.index == OPTION_UNKNOWN) {
    if (handlers.unknown_option_callback == nullptr ||
        handlers.unknown_option_callback(decoded))
      error_at(loc, "unrecognized command-line option %qs", decoded.argument);
    return;
  }
  if (decoded.index == OPTION_IGNORE)
    return;
  if (decoded.index == OPTION_WARN_REMOVED) {
    // Only the positive form warns; "no-" of a removed option is harmless.
    if (decoded.value != 0)
      warning_at(loc, 0, "switch %qs is no longer supported",
                 decoded.given_text);
    return;
  }
  VELK_ASSERT(decoded.index < option_count);

  if (decoded.errors != 0) {
    if (report_decode_errors(loc, decoded.index, decoded.given_text,
                             decoded.argument, decoded.errors, lang_mask))
      return;
    // Only a language mismatch may be left.
    VELK_ASSERT(decoded.errors & DE_WRONG_LANGUAGE);
    if (handlers.wrong_lang_callback != nullptr)
      handlers.wrong_lang_callback(decoded, lang_mask);
    return;
  }

  if (!handle_decoded_option(opts, opts_set, decoded, lang_mask,
                             kind_unspecified, loc, handlers, false, engine))
    error_at(loc, "unrecognized command-line option %qs", decoded.given_text);
}

std::uint32_t parse_sanitizer_options(const char* argument, location_t loc,
                                      std::size_t code, std::uint32_t flags,
                                      bool positive, bool report) {
  constexpr std::size_t sanitize = option_code("-fsanitize=");
  constexpr std::size_t sanitize_trap = option_code("-fsanitize-trap=");
  const std::string_view all(argument != nullptr ? argument : "");
  for (std::string_view piece : comma_pieces(all)) {
    if (piece.empty())
      continue;
    const sanitizer_option* found = nullptr;
    for (const sanitizer_option& entry : sanitizer_options) {
      if (entry.name == piece) {
        found = &entry;
        break;
      }
    }
    if (found != nullptr) {
      if (!positive) {
        flags &= ~found->flags;
        // The general address bit stays while a specific one does.
        if (flags & 0x6)
          flags |= 0x1;
      } else if (found->name == "all") {
        if (code == sanitize) {
          if (report)
            error_at(loc, "%<-fsanitize=all%> option is not valid");
        } else {
          flags |= SANITIZE_TRAPPABLE;
        }
      } else if (found->name == "vptr" && code == sanitize_trap) {
        if (report)
          error_at(loc, "%<-fsanitize-trap=%s%> is not supported", "vptr");
      } else {
        flags |= found->flags;
      }
      continue;
    }
    if (!report)
      continue;
    std::vector<std::string_view> candidates;
    for (const sanitizer_option& entry : sanitizer_options) {
      if (positive && code == sanitize && entry.name == "all")
        continue;
      if (positive && code == sanitize_trap && !entry.can_trap)
        continue;
      candidates.push_back(entry.name);
    }
    const std::optional<std::string_view> hint =
        find_closest_string(piece, candidates);
    const char* negative = positive ? "" : "no-";
    const char* trap = code == sanitize_trap ? "-trap" : "";
    if (hint)
      error_at(loc,
               "unrecognized argument to %<-f%ssanitize%s=%> option: %q.*s; "
               "did you mean %qs?",
               negative, trap, static_cast<int>(piece.size()), piece, *hint);
    else
      error_at(loc,
               "unrecognized argument to %<-f%ssanitize%s=%> option: %q.*s",
               negative, trap, static_cast<int>(piece.size()), piece);
  }
  return flags;
}

bool common_handle_option(option_values* opts, option_values_set* opts_set,
                          const decoded_option& decoded,
                          std::uint32_t lang_mask, diagnostic_kind,
                          location_t loc, const option_handlers&,
                          diagnostic_engine& engine) {
  VELK_ASSERT(decoded.canonical_count <= 2);
  const std::size_t code = decoded.index;
  const char* const arg = decoded.argument;
  const std::int64_t value = decoded.value;

  switch (code) {
  case option_code("-fdiagnostics-color="):
    if (diagnostic_color_hook != nullptr)
      diagnostic_color_hook(engine, static_cast<int>(value));
    break;
  case option_code("-fdiagnostics-urls="):
    if (diagnostic_urls_hook != nullptr)
      diagnostic_urls_hook(engine, static_cast<int>(value));
    break;
  case option_code("-freport-bug"):
    engine_set_report_bug(engine, value != 0);
    break;

  case option_code("-fsanitize="):
    if (opts_set != nullptr)
      opts_set->flag_sanitize = 1;
    opts->flag_sanitize = parse_sanitizer_options(
        arg, loc, code, opts->flag_sanitize, value != 0, true);
    break;
  case option_code("-fsanitize-trap="):
    opts->flag_sanitize_trap = parse_sanitizer_options(
        arg, loc, code, opts->flag_sanitize_trap, value != 0, true);
    break;
  case option_code("-fsanitize-trap"):
    if (value != 0)
      opts->flag_sanitize_trap |= SANITIZE_TRAPPABLE;
    else
      opts->flag_sanitize_trap &= ~SANITIZE_TRAPPABLE;
    break;

  case option_code("-g"):
  case option_code("-gwren"):
    set_debug_level(DEBUG_NONE, arg, opts, opts_set, loc);
    break;
  case option_code("-gvms"):
    set_debug_level(DEBUG_VMS, arg, opts, opts_set, loc);
    break;
  case option_code("-gctf"):
    set_debug_level(DEBUG_CTF, arg, opts, opts_set, loc);
    // CTF needs the debug information of level 2.
    if (opts->debug_info_level <= 1 && opts->ctf_debug_info_level > 0)
      opts->debug_info_level = 2;
    break;
  case option_code("-gbtf"):
    set_debug_level(DEBUG_BTF, arg, opts, opts_set, loc);
    if (opts->debug_info_level <= 1)
      opts->debug_info_level = 2;
    break;
  case option_code("-gdwarf"):
    if (arg != nullptr && *arg != '\0')
      error_at(loc,
               "%<-gdwarf%s%> is ambiguous; use %<-gdwarf-%s%> for DWARF "
               "version or %<-gdwarf%> %<-g%s%> for debug level",
               arg, arg, arg);
    else
      set_dwarf_version(opts->dwarf_version, opts, opts_set, loc);
    break;
  case option_code("-gdwarf-"):
    set_dwarf_version(value, opts, opts_set, loc);
    break;

  case option_code("--help="):
    help().requests.emplace_back(arg != nullptr ? arg : "");
    help().exit_after_options = true;
    break;

  // Diagnostic settings of the compiler propers' common options.
  case option_code("-Werror"):
    engine_set_warnings_as_errors(engine, value != 0);
    break;
  case option_code("-Werror="):
    enable_warning_as_error(arg, value != 0, lang_mask, loc, engine);
    break;
  case option_code("-Wfatal-errors"):
    engine_set_fatal_errors(engine, value != 0);
    break;
  case option_code("-fmax-errors="):
    // The variable, not the value: a value too big for it was refused.
    engine_set_max_errors(engine, static_cast<unsigned>(opts->flag_max_errors));
    break;
  case option_code("-w"):
    engine_set_inhibit_warnings(engine, value != 0);
    break;
  case option_code("-d"):
    // Debugging letters; H makes errors abort, for a core dump.
    for (const char* p = arg; p != nullptr && *p != '\0'; ++p)
      if (*p == 'H')
        engine.abort_on_error = true;
    break;

  // The driver acts on these itself.
  case option_code("--help"):
  case option_code("--target-help"):
  case option_code("--version"):
  case option_code("--completion="):
  case option_code("-fuse-ld=flint"):
  case option_code("-fuse-ld=lld"):
  case option_code("-fuse-ld=mold"):
  case option_code("-fuse-ld=quill"):
  case option_code("-foffload-options="):
  case option_code("-fmultiflags"):
  case option_code("-gz"):
  case option_code("-gz="):
  // Expanded while decoding; a generated one has nothing left to do.
  case option_code("-fdiagnostics-plain-output"):
    break;

  default:
    // Everything else only sets its variable, which it must have.
    VELK_ASSERT(has_variable(option_table[code]));
    break;
  }
  return true;
}

bool target_handle_option(option_values*, option_values_set*,
                          const decoded_option&, std::uint32_t,
                          diagnostic_kind kind, location_t,
                          const option_handlers&, diagnostic_engine& engine) {
  VELK_ASSERT(&engine == &global_engine && kind == kind_unspecified);
  return true;
}

const std::vector<std::string>& help_option_requests() {
  return help().requests;
}

bool exit_after_options() {
  return help().exit_after_options;
}

} // namespace velk
