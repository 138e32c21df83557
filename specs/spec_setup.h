// Setting the specs up before any input is handled: the compilers table of
// the run, the built-in named specs with their install-time rewrites, the
// driver's self specs, the system-root suffixes and the start-file
// defaults, and the validation of the switches against every spec text.
#pragma once

#include "specs/builtin_specs.h"
#include "specs/switches.h"

#include <string>
#include <string_view>
#include <vector>

namespace velk {

// The compilers table of the run: a copy of the built-in rows, to which
// spec files append.  Input preparation keeps pointers to rows, so rows
// are only added before inputs are prepared.
std::vector<compiler_record>& compilers_table();

// The link command spec (not a named spec; a spec file may replace it).
std::string_view link_command_spec();
void set_link_command_spec(std::string text);

// Links the built-in named specs (with `asm_cpu_spec` after them), rewrites
// `libvelk` and prefixes `link`.  Does nothing when the list already holds
// specs (a `specs` file was read).  With `verbose`, says so on standard
// error first.
void install_builtin_specs(bool verbose);

struct spec_setup_request {
  bool verbose = false;                     // -v or -###
  bool no_sysroot_suffix = false;           // --no-sysroot-suffix
  bool compare_debug_second = false;        // -fcompare-debug-second
  std::vector<std::string> user_spec_files; // -specs=, in order
};

// The switch table of the second, debug-toggled compilation of
// -fcompare-debug (empty when there is none).
switch_table& second_switch_table();

// Prepares the second switch table when -fcompare-debug is in force (the
// interpreter's compare-debug mode is non-zero).  With
// -fcompare-debug-second given there is no second table: the mode stays
// negative and the one table carries the second compilation's options.
void prepare_compare_debug(bool compare_debug_second);

// The whole set-up, once, after the command line is processed.
void prepare_specs(const spec_setup_request& request);

// Marks validated every switch that some spec text (compilers table, named
// specs, link command) can test or emit.
void validate_switches_against_specs();

} // namespace velk
