// Command-line processing: the decoded options of the run become the switch
// and input tables, the driver's settings and the search lists.
#pragma once

#include "diagnostics/diagnostic.h"
#include "driver/dump_names.h"
#include "options/option_table.h"

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velk {

struct option_values;
struct option_values_set;
struct option_handlers;

struct file_closer {
  void operator()(std::FILE* f) const {
    if (f != nullptr)
      std::fclose(f);
  }
};

// What the command line asked of the driver.
struct driver_settings {
  dump_options dump;              // -o, -dumpdir, -dumpbase, -save-temps...
  bool preprocess_only = false;   // -E
  bool verbose = false;           // -v or -###
  int print_only_count = 0;       // -###
  bool help_requested = false;    // --help
  bool version_requested = false; // --version
  int subprocess_help = 0;        // 1: --target-help, 2: --help=
  std::optional<std::string> completion_prefix; // --completion=
  // The queries answered before any input is handled.
  std::optional<std::string>
      file_to_print; // -print-file-name=, -print-libvelk-file-name
  std::optional<std::string> prog_to_print; // -print-prog-name=
  bool print_search_dirs = false;
  bool print_multi_lib = false;
  bool print_multi_directory = false;
  bool print_multi_os_directory = false;
  bool print_multiarch = false;
  bool print_sysroot = false;
  bool print_sysroot_headers_suffix = false;
  std::optional<std::string> linker_flavour; // -fuse-ld=...: ".quill"
  int compare_debug = 0; // 0 off, 1 on, -1 explicitly empty, 2-3 from env
  std::optional<std::string> compare_debug_option;
  bool compare_debug_second = false;
  std::optional<std::string> wpa_mode;        // -fwpa: the empty text means on
  std::optional<std::string> offload_targets; // names joined by ":"
  std::vector<std::string> user_specs;        // -specs=
  std::unique_ptr<std::FILE, file_closer> time_report; // -time=
  bool undefined_env_allowed = false;
  bool use_pipes = false;         // -pipe, unless -save-temps wins
  bool no_sysroot_suffix = false; // --no-sysroot-suffix
};

driver_settings& settings();

// -v or -### was given.
bool verbose_requested();

// The argument lists the specs emit (%Y, %Z, %X...).
std::vector<std::string>& assembler_args();
std::vector<std::string>& preprocessor_args();
std::vector<std::string>& linker_args();
void add_assembler_arg(std::string_view text);
void add_preprocessor_arg(std::string_view text);
void add_linker_arg(std::string_view text);

// The pieces of a comma-separated list; the piece after the last comma is
// always taken, so "a," yields "a" and an empty piece.
std::vector<std::string> split_commas(std::string_view list);

// False when -no-canonical-prefixes asks to take the program's path as
// invoked rather than with symbolic links resolved.
bool canonical_prefixes_wanted(const std::vector<decoded_option>& decoded);

// Fills the tables, the settings and the search lists from the decoded
// options of the run.  `argv0` is the program as invoked.
void process_command(std::vector<decoded_option>& decoded, const char* argv0);

// Handles an option a self spec generated, as the command line's options
// are handled.
void handle_self_spec_option(decoded_option& decoded);

// The driver's own option handler.
bool driver_handle_option(option_values* opts, option_values_set* opts_set,
                          const decoded_option& decoded,
                          std::uint32_t lang_mask, diagnostic_kind kind,
                          location_t loc, const option_handlers& handlers,
                          diagnostic_engine& engine);

// The handler set the driver dispatches its options through.
const option_handlers& driver_option_handlers();

} // namespace velk
