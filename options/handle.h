// Handling of decoded options: reporting what decoding found wrong, storing
// each option's value into its variable in option_values, and running the
// handlers the caller installed for the option's classes.  Also the
// language-independent handler common_handle_option (diagnostic colours and
// links, sanitizer sets, debug-information settings) and the start-up
// initialisation of the option variables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics/diagnostic.h"
#include "options/option_table.h"
#include "options/option_values.h"

namespace velk {

struct option_handlers;

// A handler for one class of options.  Returns true when it accepted the
// option.  `kind` is kind_unspecified unless the option's diagnostics are to
// be given a particular kind.
using option_handler_fn = bool (*)(option_values* opts,
                                   option_values_set* opts_set,
                                   const decoded_option& decoded,
                                   std::uint32_t lang_mask,
                                   diagnostic_kind kind, location_t loc,
                                   const option_handlers& handlers,
                                   diagnostic_engine& engine);

struct option_handler_entry {
  option_handler_fn handler;
  std::uint32_t mask; // runs for options whose flags share a bit with this
};

struct option_handlers {
  // Returns true when the unknown option is to be reported now.
  bool (*unknown_option_callback)(const decoded_option& decoded);
  // Called for an option of another language (or component).
  void (*wrong_lang_callback)(const decoded_option& decoded,
                              std::uint32_t lang_mask);
  std::size_t num_handlers; // at most 3
  option_handler_entry handlers[3];
};

// The option variables of the process and the record of which of them were
// set explicitly.
extern option_values global_options;
extern option_values_set global_options_set;

// Prepares option handling; runs once, before any other operation here.
void init_options_once();

// Gives `values` the start values of every option variable and clears `set`
// (which may be null).
void init_options_struct(option_values* values, option_values_set* set);

// The variable of option `code` within `values` (or within a set record),
// or null when the option has none.
void* option_variable(std::size_t code, option_values* values);
const void* option_variable(std::size_t code, const option_values* values);
void* option_variable(std::size_t code, option_values_set* set);

// Stores `value` or `argument` into the variable of option `code` according
// to its variable kind, and marks it in `set` (which may be null).  A `kind`
// other than kind_unspecified gives the option's diagnostics that kind.
void store_option_value(option_values* values, option_values_set* set,
                        std::size_t code, std::int64_t value,
                        const char* argument, diagnostic_kind kind,
                        location_t loc, diagnostic_engine& engine,
                        std::int64_t mask);

// Reports the first decode error of `errors` for option `code`; returns
// true when it reported something.
bool report_decode_errors(location_t loc, std::size_t code,
                          const char* given_text, const char* argument,
                          std::uint32_t errors, std::uint32_t lang_mask);

// Stores the option's value and runs the handlers for its classes; false
// when a handler refused the option.  A generated option leaves the set
// record alone.
bool handle_decoded_option(option_values* opts, option_values_set* opts_set,
                           const decoded_option& decoded,
                           std::uint32_t lang_mask, diagnostic_kind kind,
                           location_t loc, const option_handlers& handlers,
                           bool generated, diagnostic_engine& engine);

// Reports or handles one decoded option from the command line (anything but
// an input file or the program name).
void read_cmdline_option(option_values* opts, option_values_set* opts_set,
                         decoded_option& decoded, location_t loc,
                         std::uint32_t lang_mask,
                         const option_handlers& handlers,
                         diagnostic_engine& engine);

// The handler of language-independent options (mask OPTF_COMMON).
bool common_handle_option(option_values* opts, option_values_set* opts_set,
                          const decoded_option& decoded,
                          std::uint32_t lang_mask, diagnostic_kind kind,
                          location_t loc, const option_handlers& handlers,
                          diagnostic_engine& engine);

// The handler of target options (mask OPTF_TARGET).  This target has no
// options of its own for the driver; the handler only checks that it is
// called for the process's diagnostic engine without a diagnostic kind.
bool target_handle_option(option_values* opts, option_values_set* opts_set,
                          const decoded_option& decoded,
                          std::uint32_t lang_mask, diagnostic_kind kind,
                          location_t loc, const option_handlers& handlers,
                          diagnostic_engine& engine);

// ---------------------------------------------------------------------------
// Sanitizers

struct sanitizer_option {
  std::string_view name;
  std::uint32_t flags;
  bool can_trap;
};

// Searched in this order.  Bit 0x1 is the general address-sanitizer bit
// that "address" and "kernel-address" both carry.
inline constexpr sanitizer_option sanitizer_options[] = {
    {"address", 0x3, false},
    {"hwaddress", 0x30000000, false},
    {"kernel-address", 0x5, false},
    {"kernel-hwaddress", 0x50000000, false},
    {"pointer-compare", 0x4000000, false},
    {"pointer-subtract", 0x8000000, false},
    {"thread", 0x8, false},
    {"leak", 0x10, false},
    {"shift", 0x60, true},
    {"shift-base", 0x20, true},
    {"shift-exponent", 0x40, true},
    {"integer-divide-by-zero", 0x80, true},
    {"undefined", 0x37E7FE0, true},
    {"unreachable", 0x100, true},
    {"vla-bound", 0x200, true},
    {"return", 0x800, true},
    {"null", 0x400, true},
    {"signed-integer-overflow", 0x1000, true},
    {"bool", 0x2000, true},
    {"enum", 0x4000, true},
    {"float-divide-by-zero", 0x8000, true},
    {"float-cast-overflow", 0x10000, true},
    {"bounds", 0x20000, true},
    {"bounds-strict", 0x820000, true},
    {"alignment", 0x40000, true},
    {"nonnull-attribute", 0x80000, true},
    {"returns-nonnull-attribute", 0x100000, true},
    {"object-size", 0x200000, true},
    {"vptr", 0x400000, false},
    {"pointer-overflow", 0x1000000, true},
    {"builtin", 0x2000000, true},
    {"shadow-call-stack", 0x80000000, false},
    {"all", 0xFFFFFFFF, true},
};

// The sanitizers that "-fsanitize-trap" without argument switches.
inline constexpr std::uint32_t SANITIZE_TRAPPABLE = 0x3FFFFE0;

// Applies the comma list `argument` of "-fsanitize=" or "-fsanitize-trap="
// (option `code`) to the sanitizer set `flags` and returns the new set.
// Unknown names are reported (with a hint) when `report` is set.
std::uint32_t parse_sanitizer_options(const char* argument, location_t loc,
                                      std::size_t code, std::uint32_t flags,
                                      bool positive, bool report);

// ---------------------------------------------------------------------------
// Settings of the diagnostic output that the option handlers pass on

// Applies a colour or hyperlink rule (0 never, 1 always, 2 auto) to an
// engine's printer.  The colour support of the diagnostics installs them;
// while they are null the options have no effect beyond their variables.
using engine_rule_hook = void (*)(diagnostic_engine& engine, int rule);
extern engine_rule_hook diagnostic_color_hook;
extern engine_rule_hook diagnostic_urls_hook;

// The arguments of "--help=" seen so far, and whether one was seen (the
// driver reads neither; compiler propers act on them).
const std::vector<std::string>& help_option_requests();
bool exit_after_options();

} // namespace velk
