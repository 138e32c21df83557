#include "driver/driver.h"

#include "diagnostics/colors.h"
#include "diagnostics/diagnostic.h"
#include "driver/command_line.h"
#include "driver/compile_and_link.h"
#include "driver/execute.h"
#include "driver/exit_status.h"
#include "driver/external_programs.h"
#include "driver/process_setup.h"
#include "driver/queries.h"
#include "options/decode.h"
#include "options/handle.h"
#include "options/suggestions.h"
#include "specs/named_specs.h"
#include "specs/search_paths.h"
#include "specs/spec_functions.h"
#include "specs/spec_interpreter.h"
#include "specs/spec_setup.h"
#include "specs/spec_validation.h"
#include "specs/switches.h"
#include "support/allocation.h"
#include "support/argument_files.h"
#include "support/configuration.h"
#include "support/environment.h"
#include "support/standard_output.h"
#include "support/temp_files.h"

#include <cerrno>
#include <optional>
#include <span>
#include <string_view>

namespace velk {

driver::driver(bool resettable, bool tracing)
    : resettable_(resettable), tracing_(tracing) {}

driver::~driver() = default;

int driver::main(int argc, char** argv) {
  set_program_name(argc > 0 ? argv[0] : "velk++"); // step 1
  expand_response_files(argc, argv);               // step 2
  decode_argv(argc, argv);                         // step 3
  global_initializations(argc > 0 ? argv[0] : ""); // step 4
  build_multilib_strings();                        // step 5
  set_up_specs(argc, argv);                        // step 6
  export_assembler_options();                      // step 7
  export_driver_path(argc > 0 ? argv[0] : "");     // step 8
  find_lto_wrapper();                              // step 9
  export_offload_targets();                        // step 10
  report_unrecognized_options();                   // step 11
  // The queries answer on standard output: a failed write there fails the
  // run.
  if (maybe_complete()) // step 12
    return finish_standard_output(0);
  if (std::optional<int> status = report_and_maybe_exit()) // step 13
    return *status;
  prepare_infiles(); // step 14
  if (error_count() > 0)
    return finish_standard_output(exit_status_rule());
  do_spec_on_infiles();                              // step 15
  maybe_run_linker(argc > 0 ? argv[0] : "");         // step 16
  final_actions();                                   // step 17
  return finish_standard_output(exit_status_rule()); // step 18
}

void driver::set_program_name(const char* argv0) {
  // An empty argv[0] (or none at all) still gives messages a name.
  ::velk::set_program_name(argv0);
  if (program_name().empty())
    ::velk::set_program_name("velk++");
  set_allocation_program_name(program_name());
}

void driver::expand_response_files(int& argc, char**& argv) {
  std::optional<std::vector<std::string>> expanded =
      ::velk::expand_response_files(
          std::span<const char* const>(argv, static_cast<std::size_t>(argc)));
  if (!expanded)
    return;
  // The expanded arguments live as long as the process: the tables keep
  // pointers into them.
  static std::vector<std::string> storage;
  static std::vector<char*> pointers;
  storage = std::move(*expanded);
  pointers.clear();
  pointers.reserve(storage.size() + 1);
  for (std::string& arg : storage)
    pointers.push_back(arg.data());
  pointers.push_back(nullptr);
  argc = static_cast<int>(storage.size());
  argv = pointers.data();
  response_files_wanted() = true;
}

void driver::decode_argv(int argc, char** argv) {
  environment().init(resettable_, tracing_);
  init_options_once();
  init_options_struct(&global_options, &global_options_set);
  decoded_ = decode_argument_list(argc, argv, OPTF_DRIVER);
}

void driver::global_initializations(const char* argv0) {
  // The message catalogue is found relative to where the program runs, as
  // its other directories are (links resolved unless told otherwise).
  init_message_catalog(argv0, canonical_prefixes_wanted(decoded_));
  engine_init(global_engine, 0);
  // Colour and hyperlinks as the terminal allows until an option says
  // otherwise; the options act through the hooks.
  engine_color_init(global_engine, color_rule_unset);
  engine_urls_init(global_engine, color_rule_unset);
  diagnostic_color_hook = engine_color_init;
  diagnostic_urls_hook = engine_urls_init;
  if (!register_cleanup_at_exit())
    fatal_error(unknown_location, "atexit failed");
  install_signal_handlers();
  raise_stack_limit();
  // A deletion that fails is worth an error only under -v.
  set_removal_failure_hook([](const std::string& name, int error) {
    if (!verbose_requested())
      return;
    errno = error;
    error_at_input("%s: %m", name.c_str());
  });
}

// The multilib tables of this configuration (a single, default multilib:
// selection ". ;", default "mabi=lp64", no matches, exclusions or reuse)
// are assembled at compile time into the built-in named specs, where spec
// files can replace them (specs/multilib.cc checks them against the
// configured lists); nothing is left to do at run time.
void driver::build_multilib_strings() {}

void driver::set_up_specs(int argc, char** argv) {
  set_execute_hook(execute);
  set_self_spec_option_hook(handle_self_spec_option);
  process_command(decoded_, argc > 0 ? argv[0] : "");

  // What the spec interpreter reads from the command line.
  const driver_settings& s = settings();
  spec_interpreter_state& st = spec_state();
  publish_dump_names();
  st.save_temps = run_dump_names().save_temps != save_temps_mode::off;
  st.use_pipes = s.use_pipes;
  st.compare_debug = s.compare_debug;
  st.compare_debug_option = s.compare_debug_option.value_or("");
  st.undefined_env_allowed = s.undefined_env_allowed;
  spec_setup_request request;
  request.verbose = verbose_requested();
  request.no_sysroot_suffix = s.no_sysroot_suffix;
  request.compare_debug_second = s.compare_debug_second;
  request.user_spec_files = s.user_specs;
  prepare_specs(request);
}

void driver::export_assembler_options() {
  const std::vector<std::string>& args = assembler_args();
  if (args.empty())
    return;
  // Each argument in single quotes, as the assembler's reader expects;
  // quotes inside are not escaped.
  std::string value = "SHEAF_AS_OPTIONS=";
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (i > 0)
      value += ' ';
    value += '\'' + args[i] + '\'';
  }
  environment().xput(value);
}

void driver::export_driver_path(const char* argv0) {
  environment().xput(std::string("SHEAF_VELK=") + argv0);
}

void driver::find_lto_wrapper() {
  if (settings().dump.compile_only)
    return;
  std::optional<std::string> path = find_program(programs::lto_wrapper);
  if (!path)
    return;
  std::string escaped;
  for (char c : *path) {
    if (c == ' ' || c == '\t')
      escaped += '\\';
    escaped += c;
  }
  environment().xput("SHEAF_LOOMER=" + escaped);
  // In the spec every character the spec language treats specially is
  // escaped ("%" and "\\" too), so %(loomer) reads back as the exact path.
  set_static_spec(spec_loomer, quote_spec_word(*path));
}

void driver::export_offload_targets() {
  std::optional<std::string>& list = settings().offload_targets;
  if (list && !list->empty())
    environment().xput("OFFLOAD_TARGET_NAMES=" + *list);
  list.reset();
}

void driver::report_unrecognized_options() {
  // A switch is recognised when the driver handled it or a spec text can
  // test or emit it (validated during spec set-up).
  for (const switch_entry& sw : tables().switches) {
    if (sw.validated)
      continue;
    if (std::optional<std::string_view> hint = suggest_option(sw.name)) {
      std::string hint_text(*hint);
      error_at_input(
          "unrecognized command-line option %<-%s%>; did you mean %<-%s%>?",
          sw.name.c_str(), hint_text.c_str());
    } else {
      error_at_input("unrecognized command-line option %<-%s%>",
                     sw.name.c_str());
    }
  }
}

bool driver::maybe_complete() {
  const std::optional<std::string>& prefix = settings().completion_prefix;
  if (!prefix)
    return false;
  print_completions(*prefix);
  return true;
}

void driver::prepare_infiles() {
  prepare_inputs();
}

void driver::do_spec_on_infiles() {
  compile_inputs();
}

void driver::maybe_run_linker(const char* argv0) {
  run_link_phase(argv0);
}

void driver::final_actions() {
  if (error_count() > 0)
    remove_failure_files();
  // The outputs still listed are now either gone or good: nothing after
  // this point (the exit handler, a late signal) may delete them.
  forget_failure_files();
  remove_cleanup_files();
  if (settings().help_requested)
    write_standard_output(bug_report_lines());
}

} // namespace velk
