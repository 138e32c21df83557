#include "driver/compile_and_link.h"

#include "diagnostics/diagnostic.h"
#include "driver/command_line.h"
#include "driver/dump_names.h"
#include "driver/exit_status.h"
#include "options/jobserver.h"
#include "specs/builtin_specs.h"
#include "specs/named_specs.h"
#include "specs/search_paths.h"
#include "specs/spec_functions.h"
#include "specs/spec_interpreter.h"
#include "specs/spec_setup.h"
#include "specs/switches.h"
#include "support/environment.h"
#include "support/temp_files.h"

#include "diagnostics/internal_check.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace velk {

namespace {

const compiler_record* lookup_entry(const input_entry& input) {
  return find_language_entry(input.name, input.language, compilers_table(),
                             settings().preprocess_only);
}

// The index of `entry` in the compilers table.
std::optional<std::size_t> row_index(const compiler_record* entry) {
  if (entry == nullptr)
    return std::nullopt;
  return static_cast<std::size_t>(entry - compilers_table().data());
}

bool is_linker_only_language(const input_entry& input) {
  return input.language && input.language->starts_with('*');
}

// Makes `entry` the row the interpreter reads for the current input.
void use_compiler_entry(const compiler_record* entry) {
  spec_interpreter_state& st = spec_state();
  st.compiler = row_index(entry);
  st.language.clear();
  st.cpp_spec.reset();
  if (entry == nullptr)
    return;
  std::string_view key = entry->key;
  if (key.starts_with('@'))
    key.remove_prefix(1);
  st.language = std::string(key);
  if (entry->preprocessor_spec)
    st.cpp_spec = std::string(*entry->preprocessor_spec);
}

bool switch_present(std::string_view name) {
  switch_table& switches = tables().switches;
  for (std::size_t i = 0; i < switches.size(); ++i)
    if (switches[i].name == name && switch_is_live(i, std::nullopt))
      return true;
  return false;
}

// An owned file descriptor.
class unique_fd {
public:
  unique_fd() = default;
  unique_fd(const unique_fd&) = delete;
  unique_fd& operator=(const unique_fd&) = delete;
  ~unique_fd() { reset(-1); }
  void reset(int fd) {
    if (fd_ >= 0)
      close(fd_);
    fd_ = fd;
  }
  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }

private:
  int fd_ = -1;
};

// Reads both files to their ends; true when every byte is the same.
bool streams_equal(int a, int b) {
  std::vector<char> left(65536), right(65536);
  for (;;) {
    const ssize_t n = read(a, left.data(), left.size());
    if (n < 0)
      return false;
    std::size_t got = 0;
    while (got < static_cast<std::size_t>(n)) {
      const ssize_t m = read(b, right.data() + got, n - got);
      if (m <= 0)
        return false;
      got += static_cast<std::size_t>(m);
    }
    if (std::memcmp(left.data(), right.data(), got) != 0)
      return false;
    if (n == 0) {
      char extra;
      return read(b, &extra, 1) == 0;
    }
  }
}

bool is_real_output(const std::string& name) {
  return name != "-" && name != "/dev/null";
}

// The programs and the plug-in the link command names.
void set_link_specs(const char* argv0) {
  const named_spec* linker = find_named_spec("linker");
  if (linker != nullptr && linker->text == "sheaf2" && !find_program("sheaf2"))
    set_static_spec(spec_linker, "ld");
  if (!switch_present("fno-use-linker-plugin")) {
    constexpr const char* plugin = "libweft.so";
    std::optional<std::string> path =
        find_file_in(search_paths().exec, plugin, access_mode::read, false);
    if (!path)
      fatal_error(unknown_location, "%<-fuse-linker-plugin%>, but %s not found",
                  plugin);
    // Every character the spec language treats specially is escaped, so
    // the path reaches the linker as one exact argument.
    set_static_spec(spec_linker_plugin_file, quote_spec_word(*path));
  }
  set_static_spec(spec_lto_velk, quote_spec_word(argv0));
}

// Runs `spec` again with the second switch table and compares the final
// instruction dumps of both compilations; false when the input fails.
bool recompile_and_compare(std::string_view spec) {
  spec_interpreter_state& st = spec_state();
  command_tables& t = tables();
  if (verbose_requested())
    inform(unknown_location, "recompiling with %<-fcompare-debug%>");
  st.compare_debug = -st.compare_debug;
  std::swap(t.switches, second_switch_table());
  const int result = run_spec_command(spec);
  std::swap(t.switches, second_switch_table());
  st.compare_debug = -st.compare_debug;
  if (result < 0) {
    error_at_input("during %<-fcompare-debug%> recompilation");
    return false;
  }
  VELK_ASSERT(st.compare_debug_dumps[1].has_value() &&
              *st.compare_debug_dumps[1] != *st.compare_debug_dumps[0]);
  // Under -### nothing ran, so there are no dumps to compare.
  if (settings().print_only_count > 0)
    return true;
  if (verbose_requested())
    inform(unknown_location, "comparing final insns dumps");
  return compare_dump_files(t.current.name, *st.compare_debug_dumps[0],
                            *st.compare_debug_dumps[1]) == 0;
}

} // namespace

int compare_dump_files(const std::string& input, const std::string& first,
                       const std::string& second) {
  const std::string* names[2] = {&first, &second};
  struct stat info[2];
  for (int k = 0; k < 2; ++k) {
    if (stat(names[k]->c_str(), &info[k]) != 0 || !S_ISREG(info[k].st_mode)) {
      error_at_input("%s: could not determine length of compare-debug file %s",
                     input.c_str(), names[k]->c_str());
      return 1;
    }
  }
  if (info[0].st_size != info[1].st_size) {
    error_at_input("%s: %<-fcompare-debug%> failure (length)", input.c_str());
    return 1;
  }
  unique_fd fds[2];
  for (int k = 0; k < 2; ++k) {
    fds[k].reset(open(names[k]->c_str(), O_RDONLY | O_CLOEXEC));
    if (!fds[k]) {
      error_at_input("%s: could not open compare-debug file %s", input.c_str(),
                     names[k]->c_str());
      return 1;
    }
  }
  const std::size_t length = static_cast<std::size_t>(info[0].st_size);
  bool same = true;
  if (length > 0) {
    void* maps[2] = {
        mmap(nullptr, length, PROT_READ, MAP_PRIVATE, fds[0].get(), 0),
        mmap(nullptr, length, PROT_READ, MAP_PRIVATE, fds[1].get(), 0)};
    if (maps[0] != MAP_FAILED && maps[1] != MAP_FAILED) {
      same = std::memcmp(maps[0], maps[1], length) == 0;
    } else {
      // Not mappable: read both as streams up to the end.
      same = streams_equal(fds[0].get(), fds[1].get());
    }
    for (void* map : maps)
      if (map != MAP_FAILED)
        munmap(map, length);
  }
  if (!same) {
    error_at_input("%s: %<-fcompare-debug%> failure", input.c_str());
    return 1;
  }
  return 0;
}

bool prepare_inputs() {
  command_tables& t = tables();
  const driver_settings& s = settings();
  if (static_cast<int>(t.inputs.size()) == t.added_library_count)
    fatal_error(unknown_location, "no input files");
  if (error_count() > 0)
    return false;

  t.output_names.assign(t.inputs.size(), std::string());
  t.explicit_link.assign(t.inputs.size(), 0);

  spec_interpreter_state& st = spec_state();
  st.combine_inputs =
      s.dump.output_name.has_value() || s.dump.whole_program_partition;
  st.compiler.reset();
  int counted = 0;
  for (std::size_t i = 0; i < t.inputs.size(); ++i) {
    input_entry& input = t.inputs[i];
    const compiler_record* entry = lookup_entry(input);
    if (entry != nullptr && !entry->combinable)
      st.combine_inputs = false;
    const std::optional<std::size_t> row = row_index(entry);
    if (counted > 0 && row != st.compiler && input.language &&
        !is_linker_only_language(input)) {
      input.compiler = row;
    } else if (entry != nullptr) {
      input.compiler = row;
      ++counted;
      st.compiler = row;
    } else {
      t.explicit_link[i] = 1;
      input.compiler.reset();
    }
    input.compiled = false;
  }

  if (!st.combine_inputs && s.dump.compile_only && s.dump.output_name &&
      counted > 1)
    fatal_error(unknown_location,
                "cannot specify %<-o%> with %<-c%>, %<-S%> or %<-E%> with "
                "multiple files");
  return true;
}

void compile_inputs() {
  command_tables& t = tables();
  spec_interpreter_state& st = spec_state();
  for (std::size_t i = 0; i < t.inputs.size(); ++i) {
    t.current.set(t.inputs[i].name, i);
    if (t.inputs[i].compiled)
      continue;
    t.output_names[i] = t.inputs[i].name;
    const compiler_record* entry = lookup_entry(t.inputs[i]);
    use_compiler_entry(entry);
    if (entry == nullptr) {
      t.explicit_link[i] = 1;
      continue;
    }

    bool failed = false;
    if (entry->spec.starts_with('#')) {
      const std::string language(entry->spec.substr(1));
      error_at_input("%s: %s compiler not installed on this system",
                     t.inputs[i].name.c_str(), language.c_str());
      failed = true;
    } else {
      // The spec may add inputs' outputs and mark inputs compiled.  A
      // spec file it includes may add rows, moving `entry`, but never
      // frees the text of a row.
      const std::string_view spec = entry->spec;
      st.compare_debug_dumps[0].reset();
      st.compare_debug_dumps[1].reset();
      const int result = run_spec_command(spec);
      t.inputs[i].compiled = true;
      if (result < 0)
        failed = true;
      else if (st.compare_debug != 0 && st.compare_debug_dumps[0])
        failed = !recompile_and_compare(spec);
      st.compare_debug_dumps[0].reset();
      st.compare_debug_dumps[1].reset();
    }
    if (failed) {
      remove_failure_files();
      ++counters().error_count;
    }
    forget_failure_files();
  }

  // The link derives its names from the first input that was compiled or
  // has a language of its own.
  for (std::size_t i = 0; i < t.inputs.size(); ++i) {
    const input_entry& input = t.inputs[i];
    if (input.compiler || (input.language && !is_linker_only_language(input))) {
      t.current.set(input.name, i);
      break;
    }
  }
  if (error_count() == 0)
    t.current.index = t.inputs.size();
}

void run_link_phase(const char* argv0) {
  command_tables& t = tables();
  const driver_settings& s = settings();
  std::size_t linker_inputs = 0;
  for (std::size_t i = 0; i < t.inputs.size(); ++i)
    if ((i < t.explicit_link.size() && t.explicit_link[i] != 0) ||
        (i < t.output_names.size() && !t.output_names[i].empty()))
      ++linker_inputs;

  adjust_dump_names_for_link(run_dump_names(), t.current);
  publish_dump_names();

  bool linker_ran = false;
  if (linker_inputs > 0 && error_count() == 0 && s.subprocess_help < 2) {
    const int runs_before = counters().run_count;
    // A jobserver the link cannot use must not be named to it.
    const jobserver_info jobserver = jobserver_probe();
    if (!jobserver.is_active && !jobserver.skipped_makeflags.empty())
      environment().xput(jobserver.skipped_makeflags);
    if (!s.dump.compile_only) {
      set_link_specs(argv0);
      // A failed link must not leave a broken program behind for the next
      // build to take as up to date; without -o the linker writes a.out.
      // A link run only for its help writes no program and deletes none.
      const std::string program = s.dump.output_name.value_or("a.out");
      if (is_real_output(program) && !s.help_requested &&
          !s.version_requested && s.subprocess_help == 0)
        note_temp_file(program, false, true);
    }
    // Where the linker front-end finds programs and libraries.
    environment().xput(
        search_path_text(search_paths().exec, "COMPILER_PATH", true, false));
    environment().xput(
        search_path_text(search_paths().startfile, "LIBRARY_PATH", true, true));
    if (s.subprocess_help == 1) {
      std::fputs(translate("\nLinker options\n==============\n\n"), stdout);
      std::fputs(translate("Use \"-Wl,OPTION\" to pass \"OPTION\" to the "
                           "linker.\n\n"),
                 stdout);
      std::fflush(stdout);
    }
    // A link command from a spec file runs from a copy, as a spec file it
    // includes could replace it; the built-in text is constant.
    std::string_view spec = link_command_spec();
    std::optional<std::string> copy;
    if (spec.data() != link_command_text.data())
      spec = copy.emplace(spec);
    if (run_spec_command(spec) < 0)
      counters().error_count = std::max(counters().error_count, 1);
    linker_ran = counters().run_count != runs_before;
  }

  if (linker_ran || error_count() != 0)
    return;
  for (std::size_t i = 0; i < t.inputs.size(); ++i) {
    const input_entry& input = t.inputs[i];
    if (i >= t.explicit_link.size() || t.explicit_link[i] == 0 ||
        is_linker_only_language(input))
      continue;
    const std::string& name = t.output_names[i];
    warning_at_input(0, "%s: linker input file unused because linking not done",
                     name.c_str());
    if (access(name.c_str(), F_OK) != 0)
      error_at_input("%s: linker input file not found: %m", name.c_str());
  }
}

} // namespace velk
