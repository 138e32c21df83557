#include "driver/driver.h"

#include "diagnostics/diagnostic.h"
#include "driver/exit_status.h"
#include "driver/process_setup.h"
#include "driver/switches.h"
#include "driver/temp_files.h"

#include <algorithm>
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
  if (maybe_complete())                            // step 12
    return 0;
  if (report_and_maybe_exit()) // step 13
    return 0;
  prepare_infiles(); // step 14
  if (error_count() > 0)
    return exit_status_rule();
  do_spec_on_infiles();                      // step 15
  maybe_run_linker(argc > 0 ? argv[0] : ""); // step 16
  final_actions();                           // step 17
  return exit_status_rule();                 // step 18
}

void driver::set_program_name(const char* argv0) {
  ::velk::set_program_name(argv0);
}

void driver::expand_response_files(int&, char**&) {}

void driver::decode_argv(int argc, char** argv) {
  arguments_.assign(argv + (argc > 0 ? 1 : 0), argv + argc);
}

void driver::global_initializations(const char* argv0) {
  // The message catalogue is found relative to where the program runs, as
  // its other directories are (links resolved unless told otherwise).
  bool canonical = std::find(arguments_.begin(), arguments_.end(),
                             "-no-canonical-prefixes") == arguments_.end();
  init_message_catalog(argv0, canonical);
  engine_init(global_engine, 0);
  if (!register_cleanup_at_exit())
    fatal_error(unknown_location, "atexit failed");
  install_signal_handlers();
  raise_stack_limit();
}

void driver::build_multilib_strings() {}

void driver::set_up_specs(int, char**) {
  // Until the option machinery decodes the command line, every argument
  // that is not an option is an input and "-o" takes the next argument.
  for (std::size_t i = 0; i < arguments_.size(); ++i) {
    const std::string& arg = arguments_[i];
    if (arg == "-o" && i + 1 < arguments_.size()) {
      add_switch("-o", {arguments_[++i]}, false, true);
    } else if (arg.size() > 1 && arg[0] == '-') {
      add_switch(arg, {}, true, false);
    } else {
      add_input(arg, tables().language.current_language);
    }
  }
  terminate_tables();
}

void driver::export_assembler_options() {}
void driver::export_driver_path(const char*) {}
void driver::find_lto_wrapper() {}
void driver::export_offload_targets() {}
void driver::report_unrecognized_options() {}
bool driver::maybe_complete() {
  return false;
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
