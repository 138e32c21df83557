#include "driver/command_line.h"

#include "diagnostics/diagnostic.h"
#include "driver/cxx_hook.h"
#include "driver/exit_status.h"
#include "options/decode.h"
#include "options/handle.h"
#include "options/option_codes.h"
#include "options/suggestions.h"
#include "specs/search_paths.h"
#include "specs/spec_files.h"
#include "specs/spec_interpreter.h"
#include "specs/spec_setup.h"
#include "specs/switches.h"
#include "support/configuration.h"
#include "support/environment.h"
#include "support/paths.h"
#include "support/relocation.h"
#include "support/standard_output.h"

#include <cstdlib>
#include <ctime>
#include <string>

namespace velk {

namespace {

// Saves `decoded` as a switch under its canonical spelling.
void save_switch(const decoded_option& decoded, bool validated, bool known) {
  std::vector<std::string> args;
  if (decoded.canonical_count > 1)
    args.reserve(decoded.canonical_count - 1);
  for (std::size_t i = 1; i < decoded.canonical_count; ++i)
    args.emplace_back(decoded.canonical[i] ? decoded.canonical[i] : "");
  add_switch(decoded.canonical[0], std::move(args), validated, known);
}

// No offload targets are configured in this build: every name but the
// empty one, "default" and "disable" is reported.
bool check_offload_target_name(std::string_view name) {
  if (name.empty())
    return true;
  std::string text(name);
  error_at_input("VELK is not configured to support %qs as %<-foffload=%> "
                 "argument",
                 text.c_str());
  std::vector<std::string_view> candidates = {"default", "disable"};
  std::string all;
  std::optional<std::string_view> hint =
      candidates_list_and_hint(text, all, candidates);
  if (hint) {
    std::string hint_text(*hint);
    inform(unknown_location,
           "valid %<-foffload=%> arguments are: %s; did you mean %qs?",
           all.c_str(), hint_text.c_str());
  } else {
    inform(unknown_location, "valid %<-foffload=%> arguments are: %s",
           all.c_str());
  }
  return false;
}

void handle_foffload(std::string_view arg) {
  if (arg.starts_with("-"))
    return;
  std::optional<std::string>& list = settings().offload_targets;
  std::string_view names = arg.substr(0, arg.find('='));
  for (const std::string& name : split_commas(names)) {
    if (name == "default") {
      list.reset();
      continue;
    }
    if (name == "disable" || !check_offload_target_name(name)) {
      list = std::string();
      return;
    }
    // A configured name would be appended here; none exists in this
    // build, and the empty name adds nothing.
  }
}

void handle_foffload_options(std::string_view text) {
  if (text.starts_with("-"))
    return;
  std::size_t eq = text.find('=');
  if (eq == std::string_view::npos) {
    error_at_input("%<=%>options missing after %<-foffload-options=%>target");
    return;
  }
  for (const std::string& name : split_commas(text.substr(0, eq)))
    check_offload_target_name(name);
}

void handle_compare_debug(const decoded_option& decoded) {
  std::string switch_text;
  std::string arg;
  if (decoded.index == option_code("-fcompare-debug")) {
    if (decoded.value != 0) {
      switch_text = "-fcompare-debug=-gtoggle";
      arg = "-gtoggle";
    } else {
      switch_text = "-fcompare-debug=";
    }
  } else {
    if (decoded.canonical_count != 1)
      internal_error("%s", "driver_handle_option");
    switch_text = decoded.canonical[0];
    arg = decoded.argument ? decoded.argument : "";
  }
  driver_settings& s = settings();
  if (!arg.empty()) {
    s.compare_debug = 1;
    s.compare_debug_option = arg;
  } else {
    s.compare_debug = -1;
    s.compare_debug_option.reset();
  }
  add_switch(switch_text, {}, false, true);
  // The two compilations must agree on time stamps; an existing value is
  // kept.  Set directly: -v does not show it.
  std::time_t now = std::time(nullptr);
  unsigned long long seconds =
      now < 0 ? 0 : static_cast<unsigned long long>(now);
  setenv("SOURCE_DATE_EPOCH", std::to_string(seconds).c_str(), 0);
}

bool unknown_option_callback(const decoded_option& decoded) {
  const char* text = decoded.argument ? decoded.argument : "";
  if (std::string_view(text).starts_with("-Wno-") &&
      !(decoded.errors & DE_NEGATED)) {
    save_switch(decoded, false, true);
    return false;
  }
  if (decoded.errors == 0) {
    // Wholly unknown: a spec file may still define it.
    save_switch(decoded, false, false);
    return false;
  }
  return true;
}

void wrong_language_callback(const decoded_option& decoded, std::uint32_t) {
  if (decoded.index < option_count &&
      (option_table[decoded.index].attributes & ATTR_DRIVER_REJECTS)) {
    error_at_input("unrecognized command-line option %qs", decoded.given_text);
    return;
  }
  save_switch(decoded, false, true);
}

bool any_option(const std::vector<decoded_option>& decoded,
                std::initializer_list<std::size_t> codes) {
  for (std::size_t i = 1; i < decoded.size(); ++i)
    for (std::size_t code : codes)
      if (decoded[i].index == code)
        return true;
  return false;
}

} // namespace

bool canonical_prefixes_wanted(const std::vector<decoded_option>& decoded) {
  return !any_option(decoded, {option_code("-no-canonical-prefixes")});
}

driver_settings& settings() {
  static driver_settings the_settings;
  return the_settings;
}

bool verbose_requested() {
  return settings().verbose || global_options.opt_v != 0;
}

// The lists live with the spec interpreter, which reads them (%X %Y %Z)
// and adds to the linker's (%x).
std::vector<std::string>& assembler_args() {
  return spec_state().assembler_args;
}
std::vector<std::string>& preprocessor_args() {
  return spec_state().preprocessor_args;
}
std::vector<std::string>& linker_args() {
  return spec_state().linker_args;
}
void add_assembler_arg(std::string_view text) {
  assembler_args().emplace_back(text);
}
void add_preprocessor_arg(std::string_view text) {
  preprocessor_args().emplace_back(text);
}
void add_linker_arg(std::string_view text) {
  linker_args().emplace_back(text);
}

std::vector<std::string> split_commas(std::string_view list) {
  std::vector<std::string> pieces;
  while (true) {
    std::size_t comma = list.find(',');
    pieces.emplace_back(list.substr(0, comma));
    if (comma == std::string_view::npos)
      return pieces;
    list.remove_prefix(comma + 1);
  }
}

bool driver_handle_option(option_values*, option_values_set*,
                          const decoded_option& decoded, std::uint32_t,
                          diagnostic_kind, location_t, const option_handlers&,
                          diagnostic_engine&) {
  driver_settings& s = settings();
  command_tables& t = tables();
  const std::size_t code = decoded.index;
  const char* arg = decoded.argument;
  std::string_view argument = arg ? arg : "";
  bool validated = false;

  switch (code) {
  case option_code("-dumpspecs"):
    // Spec files are not read yet: this is the built-in set.
    install_builtin_specs(verbose_requested());
    write_spec_dump();
    exit_after_query();
  case option_code("-dumpversion"):
  case option_code("-dumpfullversion"):
    write_standard_output(config::version);
    write_standard_output("\n");
    exit_after_query();
  case option_code("-dumpmachine"):
    write_standard_output(config::target_name);
    write_standard_output("\n");
    exit_after_query();
  case option_code("--version"):
    s.version_requested = true;
    add_assembler_arg("--version");
    add_linker_arg("--version");
    break;
  case option_code("--help"):
    s.help_requested = true;
    add_assembler_arg("--help");
    add_linker_arg("--help");
    break;
  case option_code("--target-help"):
    s.subprocess_help = 1;
    add_assembler_arg("--target-help");
    add_linker_arg("--target-help");
    break;
  case option_code("--help="):
    s.subprocess_help = 2;
    break;
  case option_code("--completion="):
    s.completion_prefix = std::string(argument);
    validated = true;
    break;
  case option_code("-###"):
    s.verbose = true;
    ++s.print_only_count;
    return true;
  case option_code("-B"): {
    std::string dir(argument);
    if (!dir.empty() && dir.back() != '/' && is_usable_directory(dir, false))
      dir += '/';
    search_lists& lists = search_paths();
    add_search_prefix(lists.exec, dir, "", 0, 0, false);
    add_search_prefix(lists.startfile, dir, "", 0, 0, false);
    add_search_prefix(lists.include, dir, "", 0, 0, false);
    validated = true;
    break;
  }
  case option_code("-E"):
    s.preprocess_only = true;
    break;
  case option_code("-L"):
  case option_code("-F"):
    add_switch(std::string(option_table[code].text) + std::string(argument), {},
               false, true);
    return true;
  case option_code("-l"):
    add_input("-l" + std::string(argument), "*");
    return true;
  case option_code("-Wa,"):
    for (const std::string& piece : split_commas(argument))
      add_assembler_arg(piece);
    return true;
  case option_code("-Wp,"):
    for (const std::string& piece : split_commas(argument))
      add_preprocessor_arg(piece);
    return true;
  case option_code("-Wl,"):
    for (const std::string& piece : split_commas(argument))
      add_input(piece, "*");
    return true;
  case option_code("-Xassembler"):
    add_assembler_arg(argument);
    return true;
  case option_code("-Xpreprocessor"):
    add_preprocessor_arg(argument);
    return true;
  case option_code("-Xlinker"):
    add_input(argument, "*");
    return true;
  case option_code("-o"):
    s.dump.output_name = std::string(argument);
    add_switch("-o", {std::string(argument)}, false, true);
    return true;
  case option_code("-save-temps"):
    if (s.dump.save_temps == save_temps_mode::off)
      s.dump.save_temps = save_temps_mode::dump_directory;
    validated = true;
    break;
  case option_code("-save-temps="):
    if (argument == "cwd") {
      s.dump.save_temps = save_temps_mode::cwd;
    } else if (argument == "obj" || argument == "object") {
      s.dump.save_temps = save_temps_mode::object_directory;
    } else {
      fatal_error(unknown_location, "%qs is an unknown %<-save-temps%> option",
                  decoded.given_text);
    }
    s.dump.save_temps_overrides_dump_dir = true;
    break;
  case option_code("-dumpdir"):
    s.dump.user_dump_dir = std::string(argument);
    s.dump.save_temps_overrides_dump_dir = false;
    break;
  case option_code("-dumpbase"):
    s.dump.dump_base = std::string(argument);
    break;
  case option_code("-dumpbase-ext"):
    s.dump.dump_base_ext = std::string(argument);
    break;
  case option_code("-specs="):
    s.user_specs.emplace_back(argument);
    validated = true;
    break;
  case option_code("--sysroot="):
    prefixes().sysroot = std::string(argument);
    prefixes().sysroot_given = true;
    validated = true;
    break;
  case option_code("-time="): {
    s.time_report.reset();
    std::string file(argument);
    s.time_report.reset(std::fopen(file.c_str(), "a"));
    return true;
  }
  case option_code("-x"):
    if (argument == "none") {
      t.language.current_language.reset();
    } else {
      t.language.current_language = std::string(argument);
      t.language.language_mark_count = static_cast<int>(t.inputs.size());
    }
    return true;
  case option_code("-pipe"):
  case option_code("-shared-libvelk"):
  case option_code("-static-libvelk"):
  case option_code("-static-libvelkcxx"):
  case option_code("-static-libzebfortran"):
  case option_code("-static-libtetrafp"):
  case option_code("-static-libphobos"):
  case option_code("-static-libzebm2"):
    validated = true;
    break;
  case option_code("-print-libvelk-file-name"):
    s.file_to_print = "libvelk.a";
    return true;
  case option_code("-print-file-name="):
    s.file_to_print = std::string(argument);
    return true;
  case option_code("-print-prog-name="):
    s.prog_to_print = std::string(argument);
    return true;
  case option_code("-print-search-dirs"):
    s.print_search_dirs = true;
    return true;
  case option_code("-print-multi-lib"):
    s.print_multi_lib = true;
    return true;
  case option_code("-print-multi-directory"):
    s.print_multi_directory = true;
    return true;
  case option_code("-print-multi-os-directory"):
    s.print_multi_os_directory = true;
    return true;
  case option_code("-print-multiarch"):
    s.print_multiarch = true;
    return true;
  case option_code("-print-sysroot"):
    s.print_sysroot = true;
    return true;
  case option_code("-print-sysroot-headers-suffix"):
    s.print_sysroot_headers_suffix = true;
    return true;
  case option_code("-pass-exit-codes"):
    return true;
  case option_code("--no-sysroot-suffix"):
    s.no_sysroot_suffix = true;
    return true;
  case option_code("-time"):
  case option_code("-wrapper"):
  case option_code("-no-canonical-prefixes"):
    return true;
  case option_code("-fuse-ld=quill"):
    s.linker_flavour = ".quill";
    break;
  case option_code("-fuse-ld=flint"):
    s.linker_flavour = ".flint";
    break;
  case option_code("-fuse-ld=mold"):
    s.linker_flavour = ".mold";
    break;
  case option_code("-fwpa"):
    s.wpa_mode = std::string();
    s.dump.whole_program_partition = true;
    break;
  case option_code("-fcompare-debug-second"):
    s.compare_debug_second = true;
    break;
  case option_code("-fcompare-debug"):
  case option_code("-fcompare-debug="):
    handle_compare_debug(decoded);
    return true;
  case option_code("-fdiagnostics-color="):
    if (diagnostic_color_hook != nullptr)
      diagnostic_color_hook(global_engine, static_cast<int>(decoded.value));
    break;
  case option_code("-fdiagnostics-urls="):
    if (diagnostic_urls_hook != nullptr)
      diagnostic_urls_hook(global_engine, static_cast<int>(decoded.value));
    break;
  case option_code("-foffload="):
    handle_foffload(argument);
    if (argument.starts_with("-") ||
        argument.find('=') != std::string_view::npos)
      add_switch("-foffload-options=" + std::string(argument), {}, false, true);
    return true;
  case option_code("-foffload-options="):
    handle_foffload_options(argument);
    break;
  default:
    break;
  }
  save_switch(decoded, validated, true);
  return true;
}

const option_handlers& driver_option_handlers() {
  static const option_handlers handlers = {
      unknown_option_callback,
      wrong_language_callback,
      3,
      {{driver_handle_option, OPTF_DRIVER},
       {common_handle_option, OPTF_COMMON},
       {target_handle_option, OPTF_TARGET}},
  };
  return handlers;
}

void handle_self_spec_option(decoded_option& decoded) {
  read_cmdline_option(&global_options, &global_options_set, decoded,
                      unknown_location, OPTF_DRIVER, driver_option_handlers(),
                      global_engine);
}

void process_command(std::vector<decoded_option>& decoded, const char* argv0) {
  driver_settings& s = settings();
  command_tables& t = tables();
  prefix_settings& p = prefixes();
  env_manager& env = environment();

  std::optional<std::string> exec_prefix_env = env.getenv("VELK_EXEC_PREFIX");
  t.switches.clear();
  t.inputs.clear();
  t.added_library_count = 0;

  const bool resolve_links = canonical_prefixes_wanted(decoded);

  const std::string bin_prefix(config::standard_bin_prefix);
  const std::string exec_std(config::standard_exec_prefix);
  const std::string libexec_std(config::standard_libexec_prefix);
  p.libexec_prefix = libexec_std;
  if (!exec_prefix_env) {
    p.exec_prefix = relocate_prefix(argv0, bin_prefix, exec_std, resolve_links);
    if (std::optional<std::string> libexec =
            relocate_prefix(argv0, bin_prefix, libexec_std, resolve_links))
      p.libexec_prefix = *libexec;
  } else {
    p.exec_prefix = *exec_prefix_env;
    if (std::optional<std::string> libexec = relocate_prefix(
            *exec_prefix_env + "velk", exec_std, libexec_std, resolve_links))
      p.libexec_prefix = *libexec;
  }

  lang_specific_driver(decoded, t.added_library_count);

  search_lists& lists = search_paths();
  if (p.exec_prefix) {
    std::string base = *p.exec_prefix;
    constexpr std::string_view tail = "/lib/velk/";
    if (base.size() > tail.size() && base.ends_with(tail))
      base.resize(base.size() - tail.size());
    p.standard_prefix = base;
    add_search_prefix(lists.exec, *p.libexec_prefix, "VELK", 1, 0, false);
    add_search_prefix(lists.startfile, *p.exec_prefix, "VELK", 1, 0, false);
  }

  if (std::optional<std::string> compiler_path = env.getenv("COMPILER_PATH")) {
    for (const std::string& dir : path_list_directories(*compiler_path)) {
      add_search_prefix(lists.exec, dir, "", 1, 0, false);
      add_search_prefix(lists.include, dir, "", 1, 0, false);
    }
  }
  if (!p.cross_compile) {
    for (const char* variable : {"LIBRARY_PATH", "LPATH"}) {
      if (std::optional<std::string> value = env.getenv(variable))
        for (const std::string& dir : path_list_directories(*value))
          add_search_prefix(lists.startfile, dir, "", 1, 0, true);
    }
  }

  t.language.language_mark_count = -1;
  s.dump.compile_only = any_option(
      decoded, {option_code("-E"), option_code("-S"), option_code("-c")});

  const option_handlers& handlers = driver_option_handlers();
  for (std::size_t i = 1; i < decoded.size(); ++i) {
    decoded_option& d = decoded[i];
    if (d.index == OPTION_INPUT_FILE) {
      add_input(d.argument ? d.argument : "", t.language.current_language);
      continue;
    }
    read_cmdline_option(&global_options, &global_options_set, d,
                        unknown_location, OPTF_DRIVER, handlers, global_engine);
  }

  // A prefix derived from where the program runs is handed on, now that -v
  // is known and can show it.
  env.set_verbose(verbose_requested());
  if (!exec_prefix_env && p.exec_prefix)
    env.xput("VELK_EXEC_PREFIX=" + *p.exec_prefix);

  if (global_options.debug_toggle)
    global_options.debug_info_level =
        global_options.debug_info_level == 0 ? 2 : 0;

  if (s.dump.output_name && *s.dump.output_name != "-" &&
      *s.dump.output_name != "/dev/null") {
    const std::string output = canonical_path(*s.dump.output_name);
    for (const input_entry& input : t.inputs) {
      if (input.language && input.language->starts_with("*"))
        continue;
      if (canonical_path(input.name) == output)
        fatal_error(unknown_location,
                    "input file %qs is the same as output file",
                    input.name.c_str());
    }
  }
  if (s.dump.output_name && s.dump.output_name->empty())
    fatal_error(unknown_location, "output filename may not be empty");

  run_dump_names() = compute_dump_names(s.dump, t.inputs);

  // The exit status honours -pass-exit-codes, stored by the option
  // machinery in its variable.
  counters().pass_exit_codes = global_options.opt_pass_exit_codes != 0;

  s.use_pipes = global_options.opt_pipe != 0;
  if (run_dump_names().save_temps != save_temps_mode::off && s.use_pipes) {
    warning_at_input(0, "%<-pipe%> ignored because %<-save-temps%> specified");
    s.use_pipes = false;
  }

  if (s.compare_debug == 0) {
    if (std::optional<std::string> value = env.getenv("VELK_COMPARE_DEBUG")) {
      if (value->starts_with("-")) {
        s.compare_debug = 2;
        s.compare_debug_option = *value;
      } else if (!value->empty() && *value != "0") {
        s.compare_debug = 3;
        s.compare_debug_option = "-gtoggle";
      }
    }
  } else if (s.compare_debug < 0) {
    s.compare_debug = 0;
  }

  if (!p.exec_prefix) {
    add_search_prefix(lists.exec, libexec_std, "VELK", 1, 1, false);
    add_search_prefix(lists.exec, libexec_std, "BINUTILS", 1, 2, false);
    add_search_prefix(lists.exec, exec_std, "BINUTILS", 1, 2, false);
    add_search_prefix(lists.startfile, exec_std, "BINUTILS", 1, 1, false);
  }

  const std::string tool_dir =
      p.exec_prefix.value_or(exec_std) + std::string(config::machine_suffix) +
      "../../../../" + std::string(config::target_name) + "/";
  add_search_prefix(lists.exec, tool_dir + "bin/", "BINUTILS", 1, 0, false);
  add_search_prefix(lists.startfile, tool_dir + "lib/", "BINUTILS", 1, 0, true);

  if (!t.inputs.empty() &&
      static_cast<int>(t.inputs.size()) == t.language.language_mark_count &&
      t.language.current_language) {
    warning_at_input(0, "%<-x %s%> after last input file has no effect",
                     t.language.current_language->c_str());
  }

  if (s.compare_debug == 2 || s.compare_debug == 3) {
    add_switch("-fcompare-debug=" + s.compare_debug_option.value_or(""), {},
               false, true);
    s.compare_debug = 1;
  }

  if (t.inputs.empty() &&
      (s.help_requested || s.version_requested || s.subprocess_help != 0))
    add_input("help-dummy", "c");

  const std::size_t count = decoded.size();
  s.undefined_env_allowed =
      (verbose_requested() && count == 2) ||
      count == 1 + (s.help_requested ? 1 : 0) + (s.version_requested ? 1 : 0);

  terminate_tables();
}

} // namespace velk
