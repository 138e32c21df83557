// Decoding of command-line options: an argument vector becomes a list of
// decoded_option records (options/option_table.h), one per option or input
// file, without acting on any of them.  Every spelling the collection
// accepts is resolved here (joined and separate arguments, "no-" forms, long
// "--" forms and their abbreviations, aliases), integer and enumeration
// arguments are parsed, and every problem is recorded as a DE_ error bit for
// option handling (options/handle.h) to report.  Decoding itself reports
// nothing; only a table that breaks its own invariants is an internal error.
//
// The texts that records point to are either elements of the argument vector
// or texts of the process-wide text pool, which lives until the program
// ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "options/option_table.h"

namespace velk {

// One rewrite tried when an option's text is not found as written: an
// option element beginning with `prefix` (and, for two-element rewrites,
// followed by an element beginning with `second`) is looked up again as
// `replacement` followed by the rest of the text.
struct prefix_rewrite {
  std::string_view prefix;
  const char* second; // null: the rewrite uses the option element alone
  std::string_view replacement;
  bool needs_more_text; // something must follow the prefix
  bool negates;         // the rewritten option is taken in its negative sense
};

inline constexpr prefix_rewrite prefix_map[] = {
    {"-Wno-", nullptr, "-W", false, true},
    {"-fno-", nullptr, "-f", false, true},
    {"-gno-", nullptr, "-g", false, true},
    {"-mno-", nullptr, "-m", false, true},
    {"--debug=", nullptr, "-g", false, false},
    {"--machine-", nullptr, "-m", true, false},
    {"--machine-no-", nullptr, "-m", false, true},
    {"--machine=", nullptr, "-m", false, false},
    {"--machine=no-", nullptr, "-m", false, true},
    {"--machine", "", "-m", false, false},
    {"--machine", "no-", "-m", false, true},
    {"--optimize=", nullptr, "-O", false, false},
    {"--std=", nullptr, "-std=", false, false},
    {"--std", "", "-std=", false, false},
    {"--warn-", nullptr, "-W", true, false},
    {"--warn-no-", nullptr, "-W", false, true},
    {"--", nullptr, "-f", true, false},
    {"--no-", nullptr, "-f", false, true},
};

// Copies `text` into the process-wide text pool and returns the copy, which
// never moves and lives until the program ends.
const char* save_option_text(std::string_view text);

// Parses an integer argument: a decimal number, or (without size units) a
// number in the base its prefix selects ("0x10" is 16); with size units, a
// decimal number followed by one of "kB", "KiB", "KB", "MB", "MiB", "GB",
// "GiB", "TB", "TiB", "PB", "PiB", "EB", "EiB".  A number too large for 64
// bits gives the all-ones value.  `error` becomes 0, or an errno value
// (EINVAL for a malformed text), in which case the result is all ones.
std::uint64_t parse_integral_argument(const char* text, int& error,
                                      bool size_units_allowed);

// Decodes the option that starts at argv[0] under the language `lang_mask`
// into `out` and returns the number of elements it consumed (1 to 4).  The
// vector must end with a null entry, so that missing separate arguments are
// seen.
std::size_t decode_cmdline_option(const char* const* argv,
                                  std::uint32_t lang_mask, decoded_option& out);

// Fills the canonical spelling of option `code` with `argument` (or null) and
// `value` (0 for the negative form).
void generate_canonical_option(std::size_t code, const char* argument,
                               std::int64_t value, decoded_option& out);

// Builds a complete record as if the option had been typed in its canonical
// form.
void generate_option(std::size_t code, const char* argument, std::int64_t value,
                     std::uint32_t lang_mask, decoded_option& out);

// The record of an argument that is not an option.
void decode_input_file(const char* text, decoded_option& out);

// Decodes a whole argument vector (argv[0] being the program name) and
// prunes the options that later ones override.  Element 0 of the result is
// always the program name; "-fdiagnostics-color=" and
// "-Wcomplain-wrong-lang" come right after it, so that they take effect
// before anything else is handled.
std::vector<decoded_option> decode_argument_list(int argc,
                                                 const char* const* argv,
                                                 std::uint32_t lang_mask);

// Drops from `decoded` the options that a later option overrides (a later
// "-fX" or "-fno-X" overrides every earlier one, a later member of a ring of
// mutually exclusive options every earlier member) and moves the last
// "-Wcomplain-wrong-lang" and "-fdiagnostics-color=" right after the program
// name.  Part of decode_argument_list.
void prune_options(std::vector<decoded_option>& decoded);

} // namespace velk
