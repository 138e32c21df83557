// The spec functions: what a spec calls with %:name(args).  Each receives
// the words its argument text expanded to and returns the text the spec
// interpreter expands in the caller's place, or none.  Returning the empty
// text is a true condition that inserts nothing (%{%:f(...):X} runs X).
#pragma once

#include "specs/switches.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velk {

using spec_function_fn =
    std::optional<std::string> (*)(const std::vector<std::string>& words);

struct spec_function {
  std::string_view name;
  spec_function_fn function;
};

// The 22 built-in functions, in table order (constant data).
std::span<const spec_function> spec_function_table();

// Functions a test or an embedding program adds; searched before the
// built-in table, so an added name shadows a built-in one.  Empty in
// velk++.
std::vector<spec_function>& added_spec_functions();

// The function called `name` (exact match), or null.
const spec_function* find_spec_function(std::string_view name);

// What the functions read and write beyond their words lives in the
// interpreter's state (spec_state()): the switch and output tables, the
// current input, the dump names, the compare-debug state and the user-spec
// flag.

// `text` made literal for the spec interpreter: each blank, tab, newline,
// "|", "%" and "\" preceded by "\".  The empty text becomes %" (an explicit
// empty argument).
std::string quote_spec_word(std::string_view text);

// Version order of two version numbers ("10.3.9"): negative, zero or
// positive.  A text that is not digits separated by single dots, without
// leading zeros, is a fatal error.
int compare_version_strings(std::string_view v1, std::string_view v2);

// The functions themselves, named as in the table.
std::optional<std::string>
getenv_spec_function(const std::vector<std::string>& words);
std::optional<std::string>
if_exists_spec_function(const std::vector<std::string>& words);
std::optional<std::string>
if_exists_else_spec_function(const std::vector<std::string>& words);
std::optional<std::string>
if_exists_then_else_spec_function(const std::vector<std::string>& words);
std::optional<std::string>
sanitize_spec_function(const std::vector<std::string>& words);
std::optional<std::string>
replace_outfile_spec_function(const std::vector<std::string>& words);
std::optional<std::string>
remove_outfile_spec_function(const std::vector<std::string>& words);
std::optional<std::string>
version_compare_spec_function(const std::vector<std::string>& words);
std::optional<std::string>
include_spec_function(const std::vector<std::string>& words);
std::optional<std::string>
find_file_spec_function(const std::vector<std::string>& words);
std::optional<std::string>
find_plugindir_spec_function(const std::vector<std::string>& words);
std::optional<std::string>
print_asm_header_spec_function(const std::vector<std::string>& words);
std::optional<std::string>
compare_debug_dump_opt_spec_function(const std::vector<std::string>& words);
std::optional<std::string>
compare_debug_self_opt_spec_function(const std::vector<std::string>& words);
std::optional<std::string>
pass_through_libs_spec_func(const std::vector<std::string>& words);
std::optional<std::string>
dumps_spec_func(const std::vector<std::string>& words);
std::optional<std::string>
greater_than_spec_func(const std::vector<std::string>& words);
std::optional<std::string>
debug_level_greater_than_spec_func(const std::vector<std::string>& words);
std::optional<std::string>
dwarf_version_greater_than_spec_func(const std::vector<std::string>& words);
std::optional<std::string>
find_fortran_preinclude_file(const std::vector<std::string>& words);

} // namespace velk
