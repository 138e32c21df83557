// The built-in specs: the rows of the compilers table, the named specs and
// the other spec texts the driver starts from, all constant data generated
// from specs/builtin_specs.txt.  Also the pure steps of setting them up:
// matching an input to a compilers-table row, and the rewrites the built-in
// `libvelk` and `link` specs get when they are installed.
#pragma once

#include "specs/builtin_spec_data.h"

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace velk {

// One row of the compilers table.  The texts are never freed while the
// table is in use: the built-in rows point into the constant pool, rows
// added by spec files into texts kept for the rest of the run.
struct compiler_record {
  // A suffix with its dot (".c"), "-" (standard input) or "@language".
  std::string_view key;
  // The spec; "@language" names the language entry a suffix stands for,
  // "#Name" marks a language whose compiler is not installed.
  std::string_view spec;
  // Replaces the `cpp` spec for %C while this row is the current one.
  std::optional<std::string_view> preprocessor_spec;
  // The row's compiler can take several inputs in one run (%i gathers all).
  bool combinable = false;
  // Set for the C rows only; nothing consults it.
  bool needs_preprocessing = false;
};

inline constexpr std::size_t builtin_compiler_count = builtin_data::row_count;

// Row `index` (0-based, table order) of the built-in compilers table.
constexpr compiler_record builtin_compiler(std::size_t index) {
  const builtin_data::row_ref& r = builtin_data::rows[index];
  compiler_record record;
  record.key = builtin_data::view(r.key);
  record.spec = builtin_data::view(r.spec);
  if (r.preprocessor.offset != builtin_data::no_text)
    record.preprocessor_spec = builtin_data::view(r.preprocessor);
  record.combinable = (r.flags & builtin_data::row_combinable) != 0;
  record.needs_preprocessing =
      (r.flags & builtin_data::row_needs_preprocessing) != 0;
  return record;
}

// A named spec with its built-in text.
struct builtin_named_spec {
  std::string_view name;
  std::string_view text; // NUL-terminated in the pool
};

inline constexpr std::size_t builtin_spec_count = builtin_data::spec_count;

// The named spec `id` (its position in list order).
constexpr builtin_named_spec builtin_spec(std::size_t id) {
  const builtin_data::spec_ref& r = builtin_data::specs[id];
  return {builtin_data::view(r.name), builtin_data::view(r.text)};
}

// The position of the built-in spec called `name`, if there is one.
std::optional<builtin_spec_id> find_builtin_spec(std::string_view name);

// The switch atoms (see spec_validation.h) that the built-in text `text`
// names, in text order, found when the program was built; none when `text`
// is not a built-in spec text (its exact place and length in the pool).
std::optional<std::span<const builtin_data::atom_ref>>
builtin_switch_atoms(std::string_view text);

// The brace body that starts at `body`, a place in a built-in spec text
// right after a ":", as found when the program was built: the place of the
// ";" or "}" that ends it and whether it holds %* at its own level.  None
// for any other place.
struct builtin_body {
  const char* end;
  bool has_star;
};
std::optional<builtin_body> builtin_brace_body(const char* body);

// The driver's self specs, applied in order during spec set-up.
inline constexpr std::size_t driver_self_spec_count =
    builtin_data::self_spec_count;
constexpr std::string_view driver_self_spec(std::size_t index) {
  return builtin_data::view(builtin_data::self_specs[index]);
}

// The texts generated beside the tables (see builtin_specs.txt):
//   link_command_text          the link command spec
//   asm_cpu_spec_text          the spec `asm_cpu_spec` created at install
//   libvelk_construct_text     what each "-lvelk" word of `libvelk` becomes
//   link_eh_frame_prefix_text  put before `link` at install
//   sysroot_link_prefix_text   put before `link` when a system root is set

// The compilers-table row for an input: `name` is the input's file name,
// `language` its -x language (none: by suffix).  `rows` is the whole table
// in order, built-in rows first; it is searched from the last row, so rows
// added later win.  Returns null for an input the linker takes as it is
// (a language beginning with "*") and for an unknown language, which is
// reported as an error.  A "-" input for a header language without -E
// (`preprocess_only`) is a fatal error.
const compiler_record* find_language_entry(
    std::string_view name, const std::optional<std::string>& language,
    std::span<const compiler_record> rows, bool preprocess_only);

// The `libvelk` text as installed: each word "-lvelk" (at the start of the
// text or after a blank, and ending at a blank or the end) becomes the
// static/shared construct, each word "libvelk.a%s" the same construct made
// with "libvelk.a%s" and "libvelk_eh.a%s" for the static case.  Other text
// is copied unchanged.
std::string rewrite_libvelk(std::string_view text);

// The `link` text as installed: the .eh_frame_hdr request in front.
std::string prefix_link_spec(std::string_view link_text);

// The `link` text when a system root is set: `sysroot_spec` in front.
std::string prefix_sysroot_link_spec(std::string_view link_text);

} // namespace velk
