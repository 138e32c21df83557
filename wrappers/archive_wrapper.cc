#include "wrappers/archive_wrapper.h"

#include "support/configuration.h"
#include "support/paths.h"
#include "support/pipeline.h"
#include "support/relocation.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace velk::wrappers {

namespace {

// Where the platform's tools for the target sit, relative to the version
// directory of the executable prefix: up to the installation root and into
// the target's own bin directory.
constexpr std::string_view tool_dir_base = "../../../../";
constexpr std::string_view plugin_name = "libweft.so";

std::string with_slash(std::string_view dir) {
  std::string s(dir);
  if (s.empty())
    return "./";
  if (s.back() != '/')
    s += '/';
  return s;
}

// One line on standard error, written at once.
void report(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

// The standard prefix `target` relocated from the standard binary directory
// to the directory of `base`, or the standard prefix itself.
std::string installation_prefix(const std::string& base,
                                std::string_view target) {
  if (std::optional<std::string> relocated = relocate_prefix(
          base, config::standard_bin_prefix, target, /*resolve_links=*/true))
    return *relocated;
  return std::string(target);
}

} // namespace

void dirs_append(dir_list& list, std::string_view dir) {
  list.dirs.emplace_back(dir);
}

void dirs_prepend(dir_list& list, std::string_view dir) {
  list.dirs.emplace(list.dirs.begin(), dir);
}

void dirs_from_string(std::string_view text, dir_list& list) {
  for (std::string& dir : path_list_directories(text))
    list.dirs.push_back(std::move(dir));
}

void dirs_from_env(const char* variable, dir_list& list) {
  if (const char* value = std::getenv(variable))
    dirs_from_string(value, list);
}

std::optional<std::string> find_in_dirs(const dir_list& list,
                                        std::string_view name, int mode) {
  if (!name.empty() && name.front() == '/') {
    std::string path(name);
    if (access(path.c_str(), mode) == 0)
      return path;
    return std::nullopt;
  }
  for (const std::string& dir : list.dirs) {
    std::string candidate = dir;
    candidate += name;
    struct stat st;
    if (stat(candidate.c_str(), &st) == 0 && !S_ISDIR(st.st_mode) &&
        access(candidate.c_str(), mode) == 0)
      return candidate;
  }
  return std::nullopt;
}

run_outcome pex_run_one(int flags, const std::string& program,
                        std::span<const std::string> args,
                        const std::string& pipeline_name, const char* out_name,
                        const char* err_name) {
  run_outcome r;
  r.error = pex_one(flags, program.c_str(), args, pipeline_name.c_str(),
                    out_name, err_name, r.status, r.error_number);
  return r;
}

std::optional<std::string> take_prefix_option(std::vector<std::string>& args,
                                              bool& missing_directory) {
  missing_directory = false;
  // args[0] is the program's name, never an option.
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i].compare(0, 2, "-B") != 0)
      continue;
    std::string dir = args[i].substr(2);
    bool joined = !dir.empty();
    if (!joined) {
      if (i + 1 == args.size()) {
        missing_directory = true;
        return std::nullopt;
      }
      dir = std::move(args[i + 1]);
    }
    args.erase(args.begin() + static_cast<std::ptrdiff_t>(i),
               args.begin() +
                   static_cast<std::ptrdiff_t>(i + (joined ? 1 : 2)));
    // Every directory, one character long or empty too, is joined to a
    // file name as a directory.
    return with_slash(dir);
  }
  return std::nullopt;
}

int run_wrapper(const personality& self, int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i)
    args.emplace_back(argv[i] != nullptr ? argv[i] : "");
  if (args.empty())
    args.emplace_back(self.program_name);
  const std::string program = args[0];

  // The installation's directories, relocated from where this program lives
  // (or from VELK_EXEC_PREFIX, taken as the directory of the program).
  std::string base = program;
  if (const char* exec_prefix = std::getenv("VELK_EXEC_PREFIX"))
    base = std::string(exec_prefix) + std::string(self.program_name);
  std::string exec_prefix =
      installation_prefix(base, config::standard_exec_prefix);
  std::string libexec_prefix =
      installation_prefix(base, config::standard_libexec_prefix);

  // Added whole rather than split at ":", which an installation path may
  // contain.
  dir_list tool_dirs;
  dirs_append(tool_dirs,
              with_slash(exec_prefix + std::string(config::machine_suffix) +
                         std::string(tool_dir_base) +
                         std::string(config::target_name) + "/bin"));
  dirs_append(tool_dirs,
              with_slash(libexec_prefix + std::string(config::machine_suffix)));
  dir_list path_dirs;
  dirs_from_env("PATH", path_dirs);

  bool missing_directory = false;
  if (std::optional<std::string> dir =
          take_prefix_option(args, missing_directory)) {
    dirs_prepend(path_dirs, *dir);
    dirs_prepend(tool_dirs, *dir);
  } else if (missing_directory) {
    // Each build names itself and its own tool, so velk-nm's usage line
    // reads "velk-nm [-B prefix] nm arguments ...".
    report("Usage: " + std::string(self.program_name) + " [-B prefix] " +
           std::string(self.tool_name) + " arguments ...\n");
    return 1;
  }

  std::optional<std::string> plugin =
      find_in_dirs(tool_dirs, plugin_name, R_OK);
  if (!plugin) {
    report(program + ": Cannot find plugin '" + std::string(plugin_name) +
           "'\n");
    return 1;
  }
  std::optional<std::string> tool =
      find_in_dirs(tool_dirs, self.tool_name, X_OK);
  if (!tool)
    tool = find_in_dirs(path_dirs, self.tool_name, X_OK);
  if (!tool) {
    report(program + ": Cannot find binary '" + std::string(self.tool_name) +
           "'\n");
    return 1;
  }

  std::vector<std::string> tool_args;
  tool_args.reserve(args.size() + 2);
  tool_args.push_back(*tool);
  tool_args.emplace_back("--plugin");
  tool_args.push_back(*plugin);
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (i == 1 && self.dash_first_argument && args[i].compare(0, 1, "-") != 0)
      tool_args.push_back("-" + args[i]);
    else
      tool_args.push_back(std::move(args[i]));
  }

  run_outcome r = pex_run_one(PEX_FINAL_STAGE | PEX_PATH_SEARCH, *tool,
                              tool_args, "velk-" + *tool, nullptr, nullptr);
  if (r.error != nullptr) {
    report("Error running " + *tool + ": " + r.error + "\n");
    return 1;
  }
  if (r.status == 0)
    return 0;
  if (WIFSIGNALED(r.status)) {
    int sig = WTERMSIG(r.status);
    const char* description = strsignal(sig);
    report(*tool + " terminated with signal " + std::to_string(sig) + " [" +
           (description != nullptr ? description : "") + "]" +
           (WCOREDUMP(r.status) ? ", core dumped" : "") + "\n");
    return 1;
  }
  if (WIFEXITED(r.status))
    return WEXITSTATUS(r.status);
  return 1;
}

} // namespace velk::wrappers
