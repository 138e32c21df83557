// Running a chain of programs, each stage's standard output feeding the
// next stage's standard input (through pipes, or through temporary files),
// and collecting each stage's exit status and CPU times.
//
// Failures are returned as a short text naming the step that failed plus an
// error number (0 when the step has none); nothing here prints.  Callers
// build their own messages from the two.  Shared by velk++ and the archive
// tool wrappers, so it knows nothing of either.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <vector>

namespace velk {

// Creation flags.
inline constexpr int PEX_TIMES = 0x1;      // record the children's CPU times
inline constexpr int PEX_PIPES = 0x2;      // join stages with pipes
inline constexpr int PEX_KEEP_TEMPS = 0x4; // keep the files between stages

// Stage flags.
inline constexpr int PEX_FINAL_STAGE = 0x1;
inline constexpr int PEX_PATH_SEARCH = 0x2;  // look the program up on PATH
inline constexpr int PEX_NAME_SUFFIX = 0x4;  // output name: temp base suffix
inline constexpr int PEX_MERGE_STDERR = 0x8; // stderr where stdout goes
inline constexpr int PEX_BINARY_IN = 0x10;   // no effect on POSIX
inline constexpr int PEX_BINARY_OUT = 0x20;  // no effect on POSIX
inline constexpr int PEX_STDERR_TO_PIPE = 0x40;
inline constexpr int PEX_BINARY_ERR = 0x80; // no effect on POSIX
inline constexpr int PEX_APPEND_STDOUT = 0x100;
inline constexpr int PEX_APPEND_STDERR = 0x200;

// CPU times of one child.
struct pex_time {
  unsigned long user_seconds = 0;
  unsigned long user_microseconds = 0;
  unsigned long system_seconds = 0;
  unsigned long system_microseconds = 0;
};

class pipeline;
struct pipeline_deleter {
  void operator()(pipeline* p) const;
};
// Releasing a pipeline (pex_release, or letting the pointer go) closes its
// descriptors, waits for children never waited for (sending them SIGTERM
// first) and deletes the files between stages.
using pipeline_ptr = std::unique_ptr<pipeline, pipeline_deleter>;

// `program_name` names the caller in the child's own error report;
// `temp_base` (may be null) prefixes the names of files between stages.
// Both are copied.
pipeline_ptr pex_create(int flags, const char* program_name,
                        const char* temp_base);

// Starts the next stage: `executable` with the arguments `args` (args[0] is
// the program's own argv[0]), environment `env` (null: inherit), standard
// output to `out_name` when given (final stage, or a stage's file under
// PEX_NAME_SUFFIX), standard error to `err_name` when given.  Returns null
// on success, else the failure text with `error` set.
const char* pex_launch(pipeline& p, int flags, const char* executable,
                       std::span<const std::string> args, char* const* env,
                       const char* out_name, const char* err_name, int& error);

// Waits for all children not yet waited for and copies their wait statuses
// (extra entries set to 0).  1 on success, 0 when a wait failed.
int pex_get_status(pipeline& p, std::span<int> statuses);

// Like pex_get_status for the children's CPU times; 0 also when the
// pipeline does not record times.
int pex_times(pipeline& p, std::span<pex_time> times);

void pex_release(pipeline_ptr p);

// One program, run to its end: a pipeline without creation flags, one
// final stage, its status collected.  Returns null on success (`status`
// set), else the failure text with `error` set.
const char* pex_one(int flags, const char* executable,
                    std::span<const std::string> args, const char* program_name,
                    const char* out_name, const char* err_name, int& status,
                    int& error);

} // namespace velk
