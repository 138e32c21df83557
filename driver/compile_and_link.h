// The per-input compilation and the link phase (steps 14 to 16 of the main
// sequence): which compilers-table row handles each input, running the
// compiler spec of every input in command-line order, and running the link
// command once over all outputs and linker inputs.
#pragma once

#include <string>

namespace velk {

// Matches every input to its compilers-table row.  Returns false when
// errors were already counted (the run ends with the exit-status rule).
// "no input files" and -o with several compilations of -c, -S or -E are
// fatal.
bool prepare_inputs();

// Runs the spec of every input; a failing input has its outputs deleted
// and counts one error, and the following inputs are still compiled.
void compile_inputs();

// Compares the final instruction dumps of the two compilations of
// -fcompare-debug for `input`: 0 when equal, 1 when different or unreadable
// (reported).
int compare_dump_files(const std::string& input, const std::string& first,
                       const std::string& second);

// Runs the link command when there is something to link and no error was
// counted; `argv0` is the driver as invoked.  Warns about linker inputs
// that were not used when nothing was linked.
void run_link_phase(const char* argv0);

} // namespace velk
