// The names that auxiliary outputs (dumps, saved temporaries, response
// files, link-time partitions) are built from: a dump directory (or prefix),
// a dump base and its extension, and the output base.
#pragma once

#include "specs/switches.h"

#include <optional>
#include <string>

namespace velk {

enum class save_temps_mode { off, cwd, dump_directory, object_directory };

// What the command line said, as the option handlers recorded it.
struct dump_options {
  std::optional<std::string> output_name;   // -o
  std::optional<std::string> user_dump_dir; // last -dumpdir
  bool save_temps_overrides_dump_dir = false;
  std::optional<std::string> dump_base;     // -dumpbase
  std::optional<std::string> dump_base_ext; // -dumpbase-ext
  save_temps_mode save_temps = save_temps_mode::off;
  bool compile_only = false;            // -c, -S or -E
  bool whole_program_partition = false; // -fwpa
};

struct dump_names {
  std::optional<std::string> dump_dir;
  std::size_t dump_dir_length = 0; // the part that counts for names
  bool trailing_dash = false;      // the driver added the final separator
  std::optional<std::string> dump_base;
  std::optional<std::string> dump_base_ext;
  std::optional<std::string> output_base;
  save_temps_mode save_temps = save_temps_mode::off;
};

// Computes the names once all options are handled.
dump_names compute_dump_names(const dump_options& options,
                              const input_table& inputs);

// The names as the link phase and its tools see them: the final "-"
// becomes "." (or the output base is folded in), and the per-input base
// names are cleared.
void adjust_dump_names_for_link(dump_names& names,
                                current_input_record& current);

// The names of this run.
dump_names& run_dump_names();

// Hands the names of this run to the spec interpreter, which reads them.
void publish_dump_names();

} // namespace velk
