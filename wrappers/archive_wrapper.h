// velk-ar, velk-nm and velk-ranlib: one program, built three times, that
// runs the platform's archiver, symbol lister or archive indexer with the
// link-time-optimisation plug-in loaded ("--plugin <path to libweft.so>" in
// front of the user's arguments).  The plug-in and the tool are looked for in
// the installation's own directories, relocated to where the program really
// lives; the tool also on PATH.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velk::wrappers {

// What distinguishes the three builds.
struct personality {
  std::string_view tool_name;    // "ar": the program run
  std::string_view program_name; // "velk-ar": joined to VELK_EXEC_PREFIX
  bool dash_first_argument;      // an archiver key "rcs" becomes "-rcs"
};

// An ordered list of directory prefixes, each normally ending in "/"; a file
// is looked for by plain concatenation of a prefix and its name.
struct dir_list {
  std::vector<std::string> dirs;
};

void dirs_append(dir_list& list, std::string_view dir);
void dirs_prepend(dir_list& list, std::string_view dir);
// Appends the pieces of a ":"-separated list, each ending in "/"; an empty
// piece is the current directory "./".
void dirs_from_string(std::string_view text, dir_list& list);
// dirs_from_string on the variable's value when it is set.
void dirs_from_env(const char* variable, dir_list& list);

// The first candidate of `list` joined with `name` that exists, is not a
// directory and is accessible in `mode` (R_OK, X_OK ...); an absolute name is
// only checked for access.  None when nothing qualifies.
std::optional<std::string> find_in_dirs(const dir_list& list,
                                        std::string_view name, int mode);

// Outcome of running one program to its end.
struct run_outcome {
  const char* error = nullptr; // failure text, or null when it ran
  int status = 0;              // its wait status when it ran
  int error_number = 0;        // errno of the failure (0 when none)
};

// Runs `program` with `args` (args[0] its own argv[0]) through a pipeline
// named `pipeline_name`, standard output to `out_name` and standard error to
// `err_name` when given, and waits for it.
run_outcome pex_run_one(int flags, const std::string& program,
                        std::span<const std::string> args,
                        const std::string& pipeline_name, const char* out_name,
                        const char* err_name);

// The -B option of the command line, taken out of `args` (args[0] is the
// program name and is never taken): the directory joined to the first
// argument that begins with "-B", or the argument after a lone "-B".  Later
// -B options stay in place.  `missing_directory` is set when a lone "-B"
// ends the command line.  The directory returned ends in "/"; an empty one is
// the current directory "./".
std::optional<std::string> take_prefix_option(std::vector<std::string>& args,
                                              bool& missing_directory);

// The whole program: returns its exit status.
int run_wrapper(const personality& self, int argc, char** argv);

} // namespace velk::wrappers
