#include "driver/queries.h"

#include "diagnostics/diagnostic.h"
#include "diagnostics/message_catalog.h"
#include "driver/command_line.h"
#include "driver/exit_status.h"
#include "specs/multilib.h"
#include "specs/named_specs.h"
#include "specs/search_paths.h"
#include "specs/switches.h"
#include "support/configuration.h"
#include "support/standard_output.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <unistd.h>

namespace velk {

namespace {

// printf into a string of the size the text needs.
[[gnu::format(printf, 1, 2)]] std::string format_text(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::va_list copy;
  va_copy(copy, args);
  const int size = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text;
  if (size > 0) {
    text.resize(static_cast<std::size_t>(size) + 1);
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<std::size_t>(size));
  }
  va_end(args);
  return text;
}

std::string str(std::string_view text) {
  return std::string(text);
}

std::string_view named_text(std::string_view name) {
  const named_spec* spec = find_named_spec(name);
  return spec ? spec->text : std::string_view();
}

std::string line(const std::optional<std::string>& text,
                 std::string_view none) {
  return (text ? *text : str(none)) + "\n";
}

std::string print_prog_name(const driver_settings& s, std::string name) {
  if (name == "ld" && s.linker_flavour) {
    const std::string linker = str(config::default_linker) + *s.linker_flavour;
    if (access(linker.c_str(), X_OK) == 0)
      return linker + "\n";
    name += *s.linker_flavour;
  }
  return find_program(name).value_or(name) + "\n";
}

} // namespace

std::string configuration_banner() {
  std::string text;
  text +=
      format_text(translate("Target: %s\n"), str(config::target_name).c_str());
  text += format_text(translate("Configured with: %s\n"),
                      str(config::configure_arguments).c_str());
  text += format_text(translate("Thread model: %s\n"),
                      str(config::thread_model).c_str());
  text += translate("Supported LTO compression algorithms: zlib");
  text += "\n";
  const std::string_view full = config::full_version;
  const std::string_view driven = named_text("version");
  const std::string full_text(full), package(config::package_version);
  if (full.substr(0, full.find(' ')) == driven)
    text += format_text(translate("velk version %s %s\n"), full_text.c_str(),
                        package.c_str());
  else
    text += format_text(
        translate("velk driver version %s %sexecuting velk version %s\n"),
        full_text.c_str(), package.c_str(), str(driven).c_str());
  return text;
}

namespace {

// The lines of --help around the note on -v --help, in order.
constexpr const char* help_lines_before_note[] = {
    translatable("Options:\n"),
    translatable("  -pass-exit-codes         Exit with highest error code "
                 "from a phase.\n"),
    translatable("  --help                   Display this information.\n"),
    translatable("  --target-help            Display target specific "
                 "command line options (including assembler and linker "
                 "options).\n"),
    translatable("  --help={common|optimizers|params|target|warnings|[^]{"
                 "joined|separate|undocumented}}[,...].\n"),
    translatable("                           Display specific types of "
                 "command line options.\n"),
};

constexpr const char* help_lines_after_note[] = {
    translatable(
        "  --version                Display compiler version information.\n"),
    translatable("  -dumpspecs               Display all of the built in spec "
                 "strings.\n"),
    translatable(
        "  -dumpversion             Display the version of the compiler.\n"),
    translatable("  -dumpmachine             Display the compiler's target "
                 "processor.\n"),
    translatable("  -foffload=<targets>      Specify offloading targets.\n"),
    translatable("  -print-search-dirs       Display the directories in the "
                 "compiler's search path.\n"),
    translatable("  -print-libvelk-file-name  Display the name of the "
                 "compiler's companion library.\n"),
    translatable("  -print-file-name=<lib>   Display the full path to "
                 "library <lib>.\n"),
    translatable("  -print-prog-name=<prog>  Display the full path to "
                 "compiler component <prog>.\n"),
    translatable("  -print-multiarch         Display the target's "
                 "normalized ZEB triplet, used as\n"
                 "                           a component in the library "
                 "path.\n"),
    translatable("  -print-multi-directory   Display the root directory for "
                 "versions of libvelk.\n"),
    translatable("  -print-multi-lib         Display the mapping between "
                 "command line options and\n"
                 "                           multiple library search "
                 "directories.\n"),
    translatable("  -print-multi-os-directory Display the relative path to "
                 "OS libraries.\n"),
    translatable("  -print-sysroot           Display the target libraries "
                 "directory.\n"),
    translatable("  -print-sysroot-headers-suffix Display the sysroot suffix "
                 "used to find headers.\n"),
    translatable("  -Wa,<options>            Pass comma-separated <options> "
                 "on to the assembler.\n"),
    translatable("  -Wp,<options>            Pass comma-separated <options> "
                 "on to the preprocessor.\n"),
    translatable("  -Wl,<options>            Pass comma-separated <options> "
                 "on to the linker.\n"),
    translatable(
        "  -Xassembler <arg>        Pass <arg> on to the assembler.\n"),
    translatable(
        "  -Xpreprocessor <arg>     Pass <arg> on to the preprocessor.\n"),
    translatable("  -Xlinker <arg>           Pass <arg> on to the linker.\n"),
    translatable(
        "  -save-temps              Do not delete intermediate files.\n"),
    translatable(
        "  -save-temps=<arg>        Do not delete intermediate files.\n"),
    translatable("  -no-canonical-prefixes   Do not canonicalize paths when "
                 "building relative\n"
                 "                           prefixes to other velk "
                 "components.\n"),
    translatable("  -pipe                    Use pipes rather than "
                 "intermediate files.\n"),
    translatable(
        "  -time                    Time the execution of each subprocess.\n"),
    translatable("  -specs=<file>            Override built-in specs with "
                 "the contents of <file>.\n"),
    translatable("  -std=<standard>          Assume that the input sources "
                 "are for <standard>.\n"),
    translatable("  --sysroot=<directory>    Use <directory> as the root "
                 "directory for headers\n"
                 "                           and libraries.\n"),
    translatable("  -B <directory>           Add <directory> to the "
                 "compiler's search paths.\n"),
    translatable("  -v                       Display the programs invoked "
                 "by the compiler.\n"),
    translatable("  -###                     Like -v but options quoted and "
                 "commands not executed.\n"),
    translatable("  -E                       Preprocess only; do not "
                 "compile, assemble or link.\n"),
    translatable("  -S                       Compile only; do not assemble "
                 "or link.\n"),
    translatable("  -c                       Compile and assemble, but do "
                 "not link.\n"),
    translatable("  -o <file>                Place the output into <file>.\n"),
    translatable("  -pie                     Create a dynamically linked "
                 "position independent\n"
                 "                           executable.\n"),
    translatable("  -shared                  Create a shared library.\n"),
    translatable(
        "  -x <language>            Specify the language of the following "
        "input "
        "files.\n"
        "                           Permissible languages include: c c++ "
        "assembler none\n"
        "                           'none' means revert to the default "
        "behavior "
        "of\n"
        "                           guessing the language based on the file's "
        "extension.\n"),
};

} // namespace

std::string help_text(std::string_view program, bool verbose) {
  const std::string name(program);
  std::string text =
      format_text(translate("Usage: %s [options] file...\n"), name.c_str());
  for (const char* line : help_lines_before_note)
    text += translate(line);
  if (!verbose)
    text += translate("  (Use '-v --help' to display command line options of "
                      "sub-processes).\n");
  for (const char* line : help_lines_after_note)
    text += translate(line);
  text += format_text(
      translate("\nOptions starting with -g, -f, -m, -O, -W, or --param are "
                "automatically\n passed on to the various sub-processes "
                "invoked by %s.  In order to pass\n other options on to these "
                "processes the -W<letter> options must be used.\n"),
      name.c_str());
  return text;
}

std::string bug_report_lines() {
  std::string text =
      translate("\nFor bug reporting instructions, please see:\n");
  text += config::bug_report_url;
  text += "\n";
  return text;
}

std::optional<int> report_and_maybe_exit() {
  const driver_settings& s = settings();
  const prefix_settings& p = prefixes();
  const multilib_dirs& ml = selected_multilib();
  auto answer = [](const std::string& text) -> std::optional<int> {
    write_standard_output(text);
    return finish_standard_output(0);
  };

  if (s.print_search_dirs) {
    std::string text =
        p.exec_prefix ? format_text(translate("install: %s%s\n"),
                                    p.exec_prefix->c_str(), "")
                      : format_text(translate("install: %s%s\n"),
                                    str(config::standard_exec_prefix).c_str(),
                                    str(config::machine_suffix).c_str());
    const search_lists& lists = search_paths();
    text += format_text(translate("programs: %s\n"),
                        search_path_text(lists.exec, "", false, false).c_str());
    text +=
        format_text(translate("libraries: %s\n"),
                    search_path_text(lists.startfile, "", false, true).c_str());
    return answer(text);
  }
  if (s.file_to_print) {
    const std::string& name = *s.file_to_print;
    return answer(
        find_file_in(search_paths().startfile, name, access_mode::read, true)
            .value_or(name) +
        "\n");
  }
  if (s.prog_to_print)
    return answer(print_prog_name(s, *s.prog_to_print));
  if (s.print_multi_lib)
    return answer(multilib_info());
  if (s.print_multi_directory)
    return answer(line(ml.multilib_dir, "."));
  if (s.print_multiarch)
    return answer(line(ml.multiarch_dir, ""));
  if (s.print_sysroot) {
    if (p.sysroot)
      return answer(*p.sysroot + p.sysroot_suffix + "\n");
    return answer("");
  }
  if (s.print_multi_os_directory)
    return answer(line(ml.os_dir, "."));
  if (s.print_sysroot_headers_suffix) {
    if (named_text("sysroot_hdrs_suffix_spec").empty())
      fatal_error(unknown_location,
                  "not configured with sysroot headers suffix");
    return answer(p.sysroot_headers_suffix + "\n");
  }

  if (s.help_requested) {
    write_standard_output(help_text(program_name(), verbose_requested()));
    if (!verbose_requested()) {
      std::string text =
          translate("\nFor bug reporting instructions, please see:\n");
      text += config::bug_report_url;
      text += ".\n";
      return answer(text);
    }
    write_standard_output("\n");
    if (finish_standard_output(0) != 0)
      return 1;
  }

  if (s.version_requested) {
    std::string text = format_text("%s %s%s\n", program_name().c_str(),
                                   str(config::package_version).c_str(),
                                   str(config::full_version).c_str());
    text += config::rights_notice;
    text += "\n";
    text += config::warranty_notice;
    text += "\n\n";
    if (!verbose_requested())
      return answer(text);
    write_standard_output(text + "\n");
    if (finish_standard_output(0) != 0)
      return 1;
  }

  if (verbose_requested()) {
    std::fputs(configuration_banner().c_str(), stderr);
    if (tables().inputs.empty())
      return 0;
  }
  return std::nullopt;
}

} // namespace velk
