// The spec functions: what a spec calls with %:name(args).  Each receives
// the words its argument text expanded to and returns the text the spec
// interpreter expands in the caller's place, or none.  Returning the empty
// text is a true condition that inserts nothing (%{%:f(...):X} runs X).
#pragma once

#include "specs/switches.h"

#include <cstddef>
#include <functional>
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

// The 22 functions, in table order.
std::span<const spec_function> spec_function_table();

// The function called `name` (exact match), or null.
const spec_function* find_spec_function(std::string_view name);

// The interpreter state the functions read and write beyond their words.
// The driver fills the one process-wide instance (spec_function_state())
// and keeps it current; tests fill it directly.
struct spec_function_context {
  // The spec text now being interpreted came from a user's spec file
  // (-specs=).  A function misused there (wrong number of words, a word that
  // is not a number) is the user's error: "spec failure: ..." and status 1.
  // In the built-in texts the same misuse is an internal error.
  bool user_spec = false;

  // The switch table version-compare reads, and the liveness test it
  // applies to each switch (index, prefix length); without a test a switch
  // counts when it is present and not yet examined, or examined and live.
  switch_table* switches = nullptr;
  std::function<bool(std::size_t index, std::size_t prefix_length)>
      switch_is_live;

  // The output file of each input plus the extra slots (replace-outfile,
  // remove-outfile).
  std::vector<std::string>* output_names = nullptr;

  // The input being compiled (dumps): its base name with the lengths of the
  // name with and without its suffix.
  const current_input_record* current_input = nullptr;

  // Dump and output names of the run (dumps).
  std::optional<std::string> dump_dir;      // -dumpdir or derived
  std::optional<std::string> dump_base;     // -dumpbase
  std::optional<std::string> dump_base_ext; // -dumpbase-ext
  std::optional<std::string> output_base;
  std::size_t output_base_length = 0;

  // -fcompare-debug: 0 off; negative while the second, debug-toggled
  // compilation's spec runs.  `compare_debug_option` is the option text of
  // the second compilation ("-gtoggle").
  int compare_debug = 0;
  std::string compare_debug_option;
  // Recorded by compare-debug-dump-opt: the final-instructions dump of the
  // first and of the second compilation, and the random seed the first
  // compilation chose for both.
  std::optional<std::string> compare_debug_dumps[2];
  std::optional<std::string> random_seed;

  // getenv of an unset variable yields "/NAME" instead of a fatal error.
  // Never the case for velk++ (its C++ hook always adds an option).
  bool undefined_env_allowed = false;

  // Runs `spec` as a spec of its own, leaving the caller's argument in
  // progress untouched, and returns the words it produced
  // (compare-debug-dump-opt).
  std::function<std::vector<std::string>(std::string_view spec)> expand_spec;

  // Reads the spec file at `path` as neither main nor user (include).
  std::function<void(const std::string& path)> read_spec_file;
};

// The instance the functions use.  It starts with the run's switch table,
// output names and current input (tables()).
spec_function_context& spec_function_state();

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
