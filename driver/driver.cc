#include "driver/driver.h"

#include "diagnostics/colors.h"
#include "diagnostics/diagnostic.h"
#include "driver/command_line.h"
#include "driver/exit_status.h"
#include "driver/external_programs.h"
#include "driver/process_setup.h"
#include "options/decode.h"
#include "options/handle.h"
#include "options/suggestions.h"
#include "specs/search_paths.h"
#include "specs/switches.h"
#include "support/environment.h"
#include "support/temp_files.h"

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
  if (report_and_maybe_exit()) // step 13
    return finish_standard_output(0);
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
}

void driver::expand_response_files(int&, char**&) {}

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
}

void driver::build_multilib_strings() {}

void driver::set_up_specs(int argc, char** argv) {
  process_command(decoded_, argc > 0 ? argv[0] : "");
  environment().set_verbose(verbose_requested());
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
  lto_wrapper_spec_ = escaped;
  environment().xput("SHEAF_LOOMER=" + escaped);
}

void driver::export_offload_targets() {
  std::optional<std::string>& list = settings().offload_targets;
  if (list && !list->empty())
    environment().xput("OFFLOAD_TARGET_NAMES=" + *list);
  list.reset();
}

void driver::report_unrecognized_options() {
  // Until the specs validate switches, the switches the option table does
  // not know at all are the unrecognised ones.
  for (const switch_entry& sw : tables().switches) {
    if (sw.validated || sw.known)
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

bool driver::report_and_maybe_exit() {
  return false;
}

void driver::prepare_infiles() {
  const command_tables& t = tables();
  if (static_cast<int>(t.inputs.size()) == t.added_library_count)
    fatal_error(unknown_location, "no input files");
  explicit_link_.assign(t.inputs.size(), 0);
}

void driver::do_spec_on_infiles() {}
void driver::maybe_run_linker(const char*) {}

void driver::final_actions() {
  if (error_count() > 0)
    remove_failure_files();
  remove_cleanup_files();
}

} // namespace velk
