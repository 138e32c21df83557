// The option table: one constant record for every command-line option the
// compiler collection knows, the enumerations that option arguments draw
// from, the record of one decoded option, and the lookups over the table.
//
// The contents live in options/option_table.txt; the build generates from it
//   options/option_count.h   option_count, option_enum_count
//   options/option_texts.h   the sorted texts (see options/option_codes.h)
//   options/option_values.h  option_values and option_values_set
// and the definitions of option_table and option_enums.  Everything here is
// constant data, initialised before the program starts without running any
// code.
//
// An option is named by its code, its position in option_table.  Codes of
// real options are 0 to option_count - 1; the special codes follow.  To name a
// particular option in code, write option_code("-o") (options/option_codes.h)
// rather than a number: codes move when options are added.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "options/option_count.h"

namespace velk {

// ---------------------------------------------------------------------------
// Codes

// "No option": the empty value of alias_target and back_chain.
inline constexpr std::size_t no_option = option_count;
// The text matched no option.
inline constexpr std::size_t OPTION_UNKNOWN = option_count + 1;
// Accepted and without effect: the alias target of retired options.
inline constexpr std::size_t OPTION_IGNORE = option_count + 2;
// Removed: using the option draws a warning.
inline constexpr std::size_t OPTION_WARN_REMOVED = option_count + 3;
// The first element of an argument vector.
inline constexpr std::size_t OPTION_PROGRAM_NAME = option_count + 4;
// An argument that is not an option.
inline constexpr std::size_t OPTION_INPUT_FILE = option_count + 5;

static_assert(OPTION_INPUT_FILE <= 0xFFFF, "option codes must fit 16 bits");

// ---------------------------------------------------------------------------
// Flags: language bits 0-13, then the classes and argument styles.

inline constexpr std::size_t language_count = 14;
// Bit i of an option's flags stands for language_names[i]; the list ends
// with an empty entry.
inline constexpr std::string_view language_names[language_count + 1] = {
    "Ada", "AdaKite",  "AdaFern",  "C",    "C++",    "D",    "Fortran", "Go",
    "LTO", "LoomDump", "Modula-2", "ObjC", "ObjC++", "Rust", ""};
// All language bits together.
inline constexpr std::uint32_t OPTF_LANGUAGES = 0x3FFF;

// Classes.
inline constexpr std::uint32_t OPTF_PARAMS = 0x10000;  // "--param=NAME="
inline constexpr std::uint32_t OPTF_WARNING = 0x20000; // controls a warning
inline constexpr std::uint32_t OPTF_OPTIMIZATION = 0x40000;
inline constexpr std::uint32_t OPTF_DRIVER = 0x80000;  // accepted by the driver
inline constexpr std::uint32_t OPTF_TARGET = 0x100000; // machine specific
inline constexpr std::uint32_t OPTF_COMMON = 0x200000; // language-independent
// Argument styles and other properties (no classes).  An option with both
// OPTF_JOINED and OPTF_SEPARATE takes a joined argument, or a separate one
// when nothing follows the option text.
inline constexpr std::uint32_t OPTF_JOINED = 0x400000;
inline constexpr std::uint32_t OPTF_SEPARATE = 0x800000;
inline constexpr std::uint32_t OPTF_UNDOCUMENTED = 0x1000000;
// Set on "-cpp=" alone; no operation of the option machinery tests it.
inline constexpr std::uint32_t OPTF_MARK = 0x2000000;

// ---------------------------------------------------------------------------
// Attributes (the `attributes` field, thirteen bits).

inline constexpr std::uint16_t ATTR_DISABLED = 1 << 0; // not in this build
// Number of separate arguments minus one (bits 1-2); see extra_args().
inline constexpr std::uint16_t ATTR_EXTRA_ARGS = 3 << 1;
inline constexpr unsigned ATTR_EXTRA_ARGS_SHIFT = 1;
// The alias applies only when the argument came as a separate element.
inline constexpr std::uint16_t ATTR_ALIAS_IF_SEPARATE = 1 << 3;
// The alias target is used in the opposite sense.
inline constexpr std::uint16_t ATTR_ALIAS_NEGATES = 1 << 4;
// Under a mask with OPTF_DRIVER the option takes no separate argument.
inline constexpr std::uint16_t ATTR_NO_ARG_IN_DRIVER = 1 << 5;
inline constexpr std::uint16_t ATTR_DRIVER_REJECTS = 1 << 6;
inline constexpr std::uint16_t ATTR_NO_NEGATIVE = 1 << 7; // no "no-" form
// A joined argument may be empty; the empty text is then the argument.
inline constexpr std::uint16_t ATTR_ARG_OPTIONAL = 1 << 8;
inline constexpr std::uint16_t ATTR_UNSIGNED_ARG = 1 << 9;
// The argument and the variable are 64-bit integers.
inline constexpr std::uint16_t ATTR_WIDE_VALUE = 1 << 10;
inline constexpr std::uint16_t ATTR_LOWERCASE_ARG = 1 << 11;
// The integer argument may end in a size unit such as "KiB".
inline constexpr std::uint16_t ATTR_SIZE_UNITS = 1 << 12;

// ---------------------------------------------------------------------------
// Variables

// How an option stores into its variable; variable_value means what the
// comment says.
enum option_var_kind : std::uint8_t {
  VK_INT = 0,        // the decoded value (64-bit with ATTR_WIDE_VALUE)
  VK_EQUALS = 1,     // variable_value, or its logical negation for "no-"
  VK_CLEAR_BITS = 2, // positive form clears the bits of variable_value
  VK_SET_BITS = 3,   // positive form sets the bits of variable_value
  VK_SIZE = 4,       // the decoded value as a size
  VK_STRING = 5,     // the argument text
  VK_ENUM = 6,       // an enumeration value; variable_value: 0 one value,
                     // 1 a comma list from exclusive groups, 2 a comma
                     // list OR-ed as bits
  VK_DEFERRED = 7,   // (code, argument, value) appended to a list
};

// variable_offset of an option without a variable.
inline constexpr std::uint16_t no_variable = 65535;

// One use of a VK_DEFERRED option.
struct deferred_option {
  std::size_t code;
  const char* argument;
  std::int64_t value;
};

// The list a VK_DEFERRED field refers to, in command-line order.  Option
// handling creates it on first use; the field of option_values_set refers to
// the same list.
struct deferred_option_list {
  std::vector<deferred_option> entries;
};

// ---------------------------------------------------------------------------
// Texts

// The tables below hold their texts as offsets into one pool of
// NUL-terminated texts rather than as pointers: every pointer in constant
// data is relocated by the dynamic loader at each start of the program, and
// the option table alone would have thousands.  The members convert to the
// pointer or view the code reads.
extern const char option_text_pool[];

// The offset of "none".
inline constexpr std::uint32_t no_pooled_text = 0xFFFFFFFF;

// A text that may be absent: a null pointer then.
struct pooled_text {
  std::uint32_t offset;

  const char* get() const noexcept {
    return offset == no_pooled_text ? nullptr : option_text_pool + offset;
  }
  operator const char*() const noexcept { return get(); }
};

// A text that is always there.
struct pooled_view {
  std::uint32_t offset;
  std::uint32_t length;

  std::string_view get() const noexcept {
    return {option_text_pool + offset, length};
  }
  operator std::string_view() const noexcept { return get(); }

  // What the code asks of the texts, as of a std::string_view.
  std::size_t size() const noexcept { return length; }
  bool empty() const noexcept { return length == 0; }
  const char* data() const noexcept { return option_text_pool + offset; }
  char operator[](std::size_t i) const noexcept { return data()[i]; }
  std::string_view substr(std::size_t pos,
                          std::size_t n = std::string_view::npos) const {
    return get().substr(pos, n);
  }
  bool starts_with(std::string_view prefix) const noexcept {
    return get().starts_with(prefix);
  }
  friend bool operator==(const pooled_view& a, std::string_view b) noexcept {
    return a.get() == b;
  }
};

// ---------------------------------------------------------------------------
// Enumerations

inline constexpr std::uint32_t EV_CANONICAL = 1;   // preferred spelling
inline constexpr std::uint32_t EV_DRIVER_ONLY = 2; // only under OPTF_DRIVER
// Bits 2 and up of enum_value::flags: the exclusive group of the value.
inline constexpr unsigned EV_GROUP_SHIFT = 2;

struct enum_value {
  std::string_view text; // the spelling accepted as argument
  std::int32_t value;
  std::uint32_t flags; // EV_ bits and the group
};

struct option_enum {
  pooled_text help_heading;           // printed before the values; may be null
  pooled_text unknown_message;        // one %qs; null for the generic message
  std::span<const enum_value> values; // in list order
  std::uint32_t value_size;           // bytes of the variable
  void (*set_value)(void* variable, std::int32_t value);
  std::int32_t (*get_value)(const void* variable);
};

// The accessors of enumerations whose variables are 32-bit integers.
void store_int_enum_value(void* variable, std::int32_t value) noexcept;
std::int32_t load_int_enum_value(const void* variable) noexcept;

extern const option_enum option_enums[option_enum_count];

// ---------------------------------------------------------------------------
// The table

// Texts that may be absent are null pointers ("none").
struct option_record {
  pooled_view text; // the spelling, leading "-" included
  pooled_text help; // a tab separates synopsis and description
  pooled_text missing_argument_message; // one %qs, the option
  pooled_text warning_message;          // one %qs; given at every use
  pooled_text alias_argument;           // passed to the target ("-Wfoo")
  pooled_text negated_alias_argument;   // passed to the target ("-Wno-foo")
  std::uint16_t alias_target; // code of the option stood for, or no_option
  // The nearest earlier entry taking a joined argument whose text is a
  // prefix of this one's, or no_option.
  std::uint16_t back_chain;
  std::uint8_t text_length; // length of text without the leading "-"
  // Own code when a later use of the option or of its "no-" form cancels
  // it; the next member's code for options in a ring of mutually cancelling
  // options; -1 when it is never cancelled.
  std::int32_t negation_link;
  std::uint32_t flags;           // language bits and OPTF_ bits
  std::uint16_t attributes;      // ATTR_ bits
  std::uint16_t variable_offset; // byte offset in option_values
  std::uint16_t enum_index;      // VK_ENUM: index into option_enums
  option_var_kind variable_kind;
  std::int64_t variable_value;
  std::int32_t range_min; // accepted integer range; both -1: unchecked
  std::int32_t range_max;
};

extern const option_record option_table[option_count];

inline bool has_variable(const option_record& option) {
  return option.variable_offset != no_variable;
}

inline bool has_range(const option_record& option) {
  return option.range_max != -1;
}

// Number of separate arguments beyond the first.
inline unsigned extra_args(const option_record& option) {
  return (option.attributes & ATTR_EXTRA_ARGS) >> ATTR_EXTRA_ARGS_SHIFT;
}

// A placeholder belongs to no language and no component and exists only to
// stop a lookup ("-gno-", so that unknown "-gno-" forms reach the "no-"
// rewriting).  Lookups and spelling suggestions skip it.
inline bool is_placeholder(const option_record& option) {
  constexpr std::uint32_t relevant = OPTF_LANGUAGES | OPTF_DRIVER |
                                     OPTF_TARGET | OPTF_COMMON | OPTF_JOINED |
                                     OPTF_UNDOCUMENTED;
  return (option.flags & relevant) == (OPTF_JOINED | OPTF_UNDOCUMENTED);
}

// ---------------------------------------------------------------------------
// Decoded options

// Decode error bits of decoded_option::errors.
inline constexpr std::uint32_t DE_DISABLED = 0x01;
inline constexpr std::uint32_t DE_MISSING_ARG = 0x02;
inline constexpr std::uint32_t DE_WRONG_LANGUAGE = 0x04;
inline constexpr std::uint32_t DE_BAD_UNSIGNED = 0x08;
inline constexpr std::uint32_t DE_OUT_OF_RANGE = 0x10;
inline constexpr std::uint32_t DE_BAD_ENUM = 0x20;
inline constexpr std::uint32_t DE_NEGATED = 0x40;
inline constexpr std::uint32_t DE_BAD_ENUM_SET = 0x80;

// One option (or input file, or the program name) decoded from an argument
// vector.  Texts that may be absent are null pointers.
struct decoded_option {
  std::size_t index;           // option code, special codes included
  const char* warning_message; // of the option or its alias target
  const char* argument;        // after alias, case and enumeration rewriting
  const char* given_text;      // the consumed elements joined by blanks
  const char* canonical[4];    // canonical spelling, canonical_count slots
  std::size_t canonical_count; // 1 to 4
  std::int64_t value;          // 1/0 for the positive/negative form, or the
                               // number, or the enumeration value
  std::int64_t mask;           // bits an enumeration list affects
  std::uint32_t errors;        // DE_ bits; 0 when the decode succeeded
};

// ---------------------------------------------------------------------------
// Lookups

// The code of the option spelled `input` (the text without its leading "-")
// under the language `mask`, or OPTION_UNKNOWN.  The longest match valid
// under the mask wins; failing that, the longest match for other languages
// is returned (the decoder then reports the language mismatch).  Options
// taking a joined argument match a longer input; options spelled with "--"
// may be abbreviated when that is unambiguous and selects no option taking
// a joined argument.  Allocates nothing.
std::size_t find_option(std::string_view input, std::uint32_t mask) noexcept;

struct enum_match {
  int index;          // position in the value list, -1 when none matched
  std::int32_t value; // the matching entry's value
};

// Looks `text` up in `values`.  With `length` 0 the whole text must equal a
// value's text; otherwise its first `length` characters must equal a value's
// text of exactly that length (to match one element of a comma list).
// EV_DRIVER_ONLY values count only when `mask` has OPTF_DRIVER.  The first
// match in list order wins.
enum_match enum_text_to_value(std::span<const enum_value> values,
                              std::string_view text, std::size_t length,
                              std::uint32_t mask) noexcept;

struct enum_text {
  std::string_view text;
  bool canonical; // the entry has EV_CANONICAL
};

// The spelling of `value`: its EV_CANONICAL entry valid under `mask` if
// there is one, else its first valid entry, else nothing.
std::optional<enum_text> enum_value_text(std::span<const enum_value> values,
                                         std::int32_t value,
                                         std::uint32_t mask) noexcept;

// The value of `text` in the enumeration of option `code`, or nothing when
// the text is none of its values.  `code` must name a VK_ENUM option;
// anything else is an internal error that stops the program.
std::optional<std::int32_t> opt_enum_arg_to_value(std::size_t code,
                                                  std::string_view text,
                                                  std::uint32_t mask);

} // namespace velk
