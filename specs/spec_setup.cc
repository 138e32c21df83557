#include "specs/spec_setup.h"

#include "diagnostics/diagnostic.h"
#include "diagnostics/message_catalog.h"
#include "specs/multilib.h"
#include "specs/named_specs.h"
#include "specs/search_paths.h"
#include "specs/spec_files.h"
#include "specs/spec_interpreter.h"
#include "specs/spec_validation.h"
#include "support/configuration.h"

#include <cstdio>
#include <memory>
#include <string>
#include <unistd.h>

namespace velk {

namespace {

// The link command as a spec file set it; none while it is the built-in
// text.
std::unique_ptr<const std::string>& replaced_link_command() {
  static std::unique_ptr<const std::string> text;
  return text;
}

std::string_view named_text(std::string_view name) {
  const named_spec* spec = find_named_spec(name);
  return spec ? spec->text : std::string_view();
}

// Interprets a suffix spec; exactly one word becomes `suffix`.
void set_suffix_from_spec(std::string_view spec_name, const char* macro_name,
                          std::string& suffix) {
  const std::string text(named_text(spec_name));
  if (text.empty() || run_spec_fresh(text, std::nullopt) != 0)
    return;
  const std::vector<std::string>& words = spec_state().argument_vector;
  if (words.size() > 1)
    error_at_input("spec failure: more than one argument to %<%s%>",
                   macro_name);
  else if (words.size() == 1)
    suffix = words.front();
}

// The start-file directories that come after those of the command line
// and the environment.
void add_startfile_defaults() {
  prefix_settings& p = prefixes();
  search_path_list& startfile = search_paths().startfile;
  const std::string prefix_spec(named_text("startfile_prefix_spec"));
  if (!prefix_spec.empty() && run_spec_fresh(prefix_spec, std::nullopt) == 0) {
    const std::vector<std::string> words = spec_state().argument_vector;
    for (const std::string& word : words)
      add_system_prefix(startfile, word, "BINUTILS");
    return;
  }
  if (p.cross_compile && !p.sysroot)
    return;
  for (std::string_view name : {"md_startfile_prefix", "md_startfile_prefix_1"})
    if (std::string_view text = named_text(name); !text.empty())
      add_system_prefix(startfile, text, "VELK");
  if (!p.cross_compile) {
    std::string dir =
        p.exec_prefix.value_or(std::string(config::standard_exec_prefix));
    dir += config::machine_suffix;
    dir += "../../../";
    add_search_prefix(startfile, dir, "", 1, 0, true);
  }
  add_system_prefix(startfile, "/lib/", "BINUTILS");
  add_system_prefix(startfile, "/usr/lib/", "BINUTILS");
}

} // namespace

std::vector<compiler_record>& compilers_table() {
  static std::vector<compiler_record> table;
  return table;
}

std::string_view link_command_spec() {
  const std::unique_ptr<const std::string>& replaced = replaced_link_command();
  return replaced ? std::string_view(*replaced) : link_command_text;
}

void set_link_command_spec(std::string text) {
  replaced_link_command() =
      std::make_unique<const std::string>(std::move(text));
}

void install_builtin_specs(bool verbose) {
  named_spec_list_t& list = named_spec_list();
  if (!list.empty())
    return;
  if (verbose)
    std::fputs(translate("Using built-in specs.\n"), stderr);
  link_builtin_specs();
  append_named_spec("asm_cpu_spec", asm_cpu_spec_text);
  set_static_spec(spec_libvelk,
                  rewrite_libvelk(builtin_spec(spec_libvelk).text));
  set_static_spec(spec_link, prefix_link_spec(builtin_spec(spec_link).text));
}

void prepare_specs(const spec_setup_request& request) {
  // The compilers table starts as the built-in rows.
  std::vector<compiler_record>& table = compilers_table();
  table.clear();
  table.reserve(builtin_compiler_count + 8);
  for (std::size_t i = 0; i < builtin_compiler_count; ++i)
    table.push_back(builtin_compiler(i));

  // %:include reads spec files that are neither main nor user files.
  set_spec_file_verbose(request.verbose);
  set_spec_file_reader(
      [](const std::string& path) { read_spec_file(path, false, false); });

  // An install-time "specs" file in the start-file directories carries the
  // final texts (as -dumpspecs wrote them) in place of the built-in ones;
  // the one in the standard library directory is read after it.
  search_lists& lists = search_paths();
  if (std::optional<std::string> main_file =
          find_file_in(lists.startfile, "specs", access_mode::read, true))
    read_spec_file(*main_file, true, false);
  else
    install_builtin_specs(request.verbose);
  std::string standard_specs(config::standard_exec_prefix);
  standard_specs += config::machine_only_suffix;
  standard_specs += "specs";
  if (access(standard_specs.c_str(), R_OK) == 0)
    read_spec_file(standard_specs, true, false);

  for (std::size_t i = 0; i < driver_self_spec_count; ++i)
    apply_self_spec(driver_self_spec(i));

  prefix_settings& p = prefixes();
  if (named_text("cross_compile") == "0") {
    if (std::string_view md = named_text("md_exec_prefix"); !md.empty())
      add_search_prefix(search_paths().exec, md, "VELK", 1, 0, false);
  }
  if (!request.no_sysroot_suffix)
    set_suffix_from_spec("sysroot_suffix_spec", "SYSROOT_SUFFIX_SPEC",
                         p.sysroot_suffix);
  if (p.sysroot)
    set_named_spec("link", prefix_sysroot_link_spec(named_text("link")));
  if (!request.no_sysroot_suffix)
    set_suffix_from_spec("sysroot_hdrs_suffix_spec",
                         "SYSROOT_HEADERS_SUFFIX_SPEC",
                         p.sysroot_headers_suffix);
  add_startfile_defaults();

  // The user's spec files, in command-line order.
  for (const std::string& name : request.user_spec_files) {
    std::optional<std::string> found =
        find_file_in(lists.startfile, name, access_mode::read, true);
    read_spec_file(found ? *found : name, false, true);
  }

  for (const named_spec& spec : named_spec_list())
    if (spec.name == "self_spec" && !spec.text.empty())
      apply_self_spec(std::string(spec.text));

  prepare_compare_debug(request.compare_debug_second);
  if (const std::optional<std::string>& exec = p.exec_prefix)
    spec_state().include_prefix = *exec + std::string(config::machine_suffix);
  validate_switches_against_specs();
  select_multilib();
}

switch_table& second_switch_table() {
  static switch_table table;
  return table;
}

void prepare_compare_debug(bool compare_debug_second) {
  spec_interpreter_state& st = spec_state();
  if (st.compare_debug == 0)
    return;
  constexpr std::string_view self_opt = "%:compare-debug-self-opt()";
  command_tables& t = tables();
  switch_table first;
  if (!compare_debug_second) {
    switch_table copy = t.switches;
    apply_self_spec(self_opt);
    first = std::move(t.switches);
    t.switches = std::move(copy);
  }
  // The second compilation: without -o and the dependency options, with
  // its own output and the compare-debug option, never saving temporaries.
  st.compare_debug = -st.compare_debug;
  const bool save_temps = st.save_temps;
  st.save_temps = false;
  apply_self_spec(self_opt);
  st.save_temps = save_temps;
  if (!compare_debug_second) {
    second_switch_table() = std::move(t.switches);
    st.compare_debug = -st.compare_debug;
    t.switches = std::move(first);
  }
}

void validate_switches_against_specs() {
  std::vector<std::string_view> specs;
  const std::vector<compiler_record>& table = compilers_table();
  specs.reserve(table.size() + 1);
  for (const compiler_record& row : table) {
    specs.push_back(row.spec);
    if (row.preprocessor_spec)
      specs.push_back(*row.preprocessor_spec);
  }
  specs.push_back(link_command_spec());
  mark_spec_switches_validated(specs);
}

} // namespace velk
