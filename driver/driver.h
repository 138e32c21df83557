// The driver object of velk++ and its main sequence: from the raw argument
// vector to the exit status.
#pragma once

#include "options/option_table.h"

#include <cstdint>
#include <string>
#include <vector>

namespace velk {

class driver {
public:
  // `resettable` and `tracing` exist for programs that embed the driver;
  // velk++ leaves both off.
  explicit driver(bool resettable = false, bool tracing = false);
  driver(const driver&) = delete;
  driver& operator=(const driver&) = delete;
  ~driver();

  // Runs the whole sequence for one command line and returns the exit
  // status.  Fatal errors, dump options and signals end the process
  // without returning.
  int main(int argc, char** argv);

private:
  void set_program_name(const char* argv0);
  void expand_response_files(int& argc, char**& argv);
  void decode_argv(int argc, char** argv);
  void global_initializations(const char* argv0);
  void build_multilib_strings();
  void set_up_specs(int argc, char** argv);
  void export_assembler_options();
  void export_driver_path(const char* argv0);
  void find_lto_wrapper();
  void export_offload_targets();
  void report_unrecognized_options();
  bool maybe_complete();
  void prepare_infiles();
  void do_spec_on_infiles();
  void maybe_run_linker(const char* argv0);
  void final_actions();

  bool resettable_;
  bool tracing_;
  std::vector<decoded_option> decoded_;
};

} // namespace velk
