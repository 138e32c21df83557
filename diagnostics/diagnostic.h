// The diagnostic engine: the one road by which velk++ reports a problem.
// Every error, warning, note, fatal error and internal error is a
// diagnostic_record handed to `global_engine`, which decides whether it is
// shown and with what kind, prints it as
//
//     <program name>: <label><message>
//
// counts it, and carries out what its kind demands: nothing, exit with
// status 1 ("compilation terminated."), or the internal-error report and
// exit with status 4.
//
// Message formats use the directives of pretty_print.h and are translated
// through the message catalogue; the format argument of every reporting
// function below must be a string literal so that xgettext extracts it.
#pragma once

#include "diagnostics/internal_check.h"
#include "diagnostics/message_catalog.h"
#include "diagnostics/pretty_print.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velk {

enum diagnostic_kind : int {
  kind_unspecified = 0,
  kind_ignored = 1,
  kind_fatal = 2,
  kind_ice = 3,
  kind_error = 4,
  kind_sorry = 5,
  kind_warning = 6,
  kind_anachronism = 7,
  kind_note = 8,
  kind_debug = 9,
  kind_path = 10,
  kind_pedwarn = 11,
  kind_permerror = 12,
  kind_werror = 13, // counter of warnings turned into errors; never printed
  kind_ice_nobt = 14,
  kind_last = 15, // end of the real kinds
  kind_pop = 16,  // marker in the classification history
};

// The label printed after the program name ("error: "), untranslated; and
// the name of the colour it is printed in (empty for none).
const char* diagnostic_kind_label(diagnostic_kind kind);
std::string_view diagnostic_kind_color(diagnostic_kind kind);

// The name every driver diagnostic starts with: argv[0] after its last "/".
void set_program_name(std::string_view argv0);
const std::string& program_name();

// What a location stands for; the driver's messages have no location.
struct expanded_location {
  std::string_view file; // empty: no file (the program name is shown)
  int line = 0;
  int column = 0;
  bool in_system_header = false;
};

// Extra facts about a diagnostic: a CWE number and rules, each printed as an
// annotation.
struct diagnostic_metadata {
  struct rule {
    std::string text;
    std::string url;
  };
  int cwe = 0;
  std::vector<rule> rules;
};

// An edit that would fix the problem, printed by the parseable fix-it
// output (columns are 1-based, the end inclusive).
struct fixit_hint {
  std::string file;
  int start_line = 0, start_column = 0;
  int end_line = 0, end_column = 0;
  std::string replacement;
};

struct diagnostic_record {
  format_job job;
  diagnostic_kind kind = kind_unspecified;
  int option = 0; // option index of a warning; 0 for none
  const diagnostic_metadata* metadata = nullptr;
  std::vector<fixit_hint> fixits;
};

enum class extra_output_kind : std::uint8_t { none, fixits_v1, fixits_v2 };
enum class column_unit : std::uint8_t { display = 0, byte = 1 };

// -fdiagnostics-format=: text, or machine-readable output on standard error
// or in a file.
enum output_format : int {
  output_format_text = 0,
  output_format_json_stderr = 1,
  output_format_json_file = 2,
  output_format_sarif_stderr = 3,
  output_format_sarif_file = 4,
};

// A frame of the program's stack, as a backtrace reader reports it.
struct backtrace_frame {
  std::uintptr_t pc = 0;
  const char* file = nullptr; // none when unknown
  int line = 0;
  const char* function = nullptr; // none when unknown
};

struct diagnostic_engine;
class structured_output;

// Hooks.  Only the starter and the finalizer are always present.
using ice_callback_fn = void (*)(diagnostic_engine&, std::string_view format,
                                 std::span<const format_arg> args);
using starter_fn = void (*)(diagnostic_engine&, const diagnostic_record&);
using finalizer_fn = void (*)(diagnostic_engine&, const diagnostic_record&,
                              diagnostic_kind entry_kind);
// Whether the warning option `option` is on.
using option_enabled_fn = bool (*)(int option, unsigned language_mask,
                                   void* option_state);
// The option's text for the annotation ("-Wfoo"); empty for none.
using option_name_fn = std::string (*)(diagnostic_engine&, int option,
                                       diagnostic_kind entry_kind,
                                       diagnostic_kind final_kind);
// The address of the option's documentation; empty for none.
using option_url_fn = std::string (*)(diagnostic_engine&, int option);
using engine_hook_fn = void (*)(diagnostic_engine&);
using path_printer_fn = void (*)(diagnostic_engine&, const diagnostic_record&);
// Maps a location to its file, line and column.
using location_expander_fn = expanded_location (*)(location_t);
// Walks the stack of the running program from its caller, skipping `skip`
// frames, calling `visit` for each until it returns true.  Returns false
// when the program's stack cannot be read.
using backtrace_visitor = bool (*)(void* data, const backtrace_frame&);
using backtrace_reader_fn = bool (*)(int skip, backtrace_visitor visit,
                                     void* data);

// One entry of the classification history: from `location` on, `option`
// (0: every option) has `kind`.  A kind_pop entry's option is the history
// length saved by the matching push.
struct classification_change {
  location_t location;
  int option;
  diagnostic_kind kind;
};

struct diagnostic_engine {
  diagnostic_engine();
  diagnostic_engine(diagnostic_engine&&) noexcept;
  diagnostic_engine& operator=(diagnostic_engine&&) noexcept;
  ~diagnostic_engine();

  std::unique_ptr<message_printer> printer;
  std::array<int, kind_last> counters{};
  bool warnings_as_errors = false; // -Werror
  int option_count = 0;
  std::vector<diagnostic_kind> classification; // per option
  std::vector<classification_change> classification_history;
  std::vector<int> push_list;
  int caret_width = 0;
  char caret_char = '^';
  bool show_cwe = false;
  bool show_rules = false;
  bool show_option = false;
  bool abort_on_error = false;
  bool show_column = false;
  bool pedantic_errors = false;
  bool permissive = false;
  int permissive_option = 0;
  bool fatal_errors = false;     // -Wfatal-errors
  bool inhibit_warnings = false; // -w
  bool warn_system_headers = false;
  unsigned max_errors = 0; // -fmax-errors=, 0: no limit

  ice_callback_fn ice_callback = nullptr;
  starter_fn starter = nullptr;
  finalizer_fn finalizer = nullptr;
  option_enabled_fn option_enabled = nullptr;
  option_name_fn option_name = nullptr;
  option_url_fn option_url = nullptr;
  engine_hook_fn begin_group = nullptr;
  engine_hook_fn end_group = nullptr;
  engine_hook_fn final_hook = nullptr;
  engine_hook_fn ice_handler = nullptr;
  path_printer_fn path_printer = nullptr;
  location_expander_fn location_expander = nullptr;
  backtrace_reader_fn backtrace_reader = nullptr;

  void* option_state = nullptr;
  unsigned language_mask = 0;
  location_t last_location = unknown_location;
  int last_module = 0;
  int reentry_count = 0;
  bool inhibit_notes = false;
  bool report_bug = false; // -freport-bug
  extra_output_kind extra_output = extra_output_kind::none;
  ::velk::column_unit column_unit = ::velk::column_unit::display;
  int column_origin = 1;
  int tab_stop = 8;
  int group_nesting_depth = 0;
  int group_emission_count = 0;
  output_format format = output_format_text;
  // Collects the diagnostics under a machine-readable format, and where it
  // writes them (empty: standard error).
  std::unique_ptr<structured_output> structured;
  std::string structured_file;
};

// The diagnostic context of the process.
extern diagnostic_engine global_engine;

// Makes the engine ready: a printer on standard error without wrapping,
// counters at zero, every switch off, `option_count` options all
// unclassified, the default hooks; reads VELK_EXTRA_DIAGNOSTIC_OUTPUT.
void engine_init(diagnostic_engine& engine, int option_count);
// Reports one diagnostic; true when it was printed.
bool engine_report(diagnostic_engine& engine, diagnostic_record& record);
// Gives `option` the kind `kind`, everywhere (unknown location) or from
// `location` on; returns the previous kind, or kind_unspecified when the
// option or kind is out of range.
diagnostic_kind engine_classify(diagnostic_engine& engine, int option,
                                diagnostic_kind kind, location_t location);
void engine_push_classification(diagnostic_engine& engine);
void engine_pop_classification(diagnostic_engine& engine, location_t location);
// Runs the final hook (the -Werror summary note) and releases the printer,
// the tables and any structured output (writing it first).
void engine_finish(diagnostic_engine& engine);

// The settings the option handlers change.
void engine_set_warnings_as_errors(diagnostic_engine& engine, bool on);
void engine_set_fatal_errors(diagnostic_engine& engine, bool on);
void engine_set_inhibit_warnings(diagnostic_engine& engine, bool on);
void engine_set_max_errors(diagnostic_engine& engine, unsigned count);
void engine_set_pedantic_errors(diagnostic_engine& engine, bool on);
void engine_set_report_bug(diagnostic_engine& engine, bool on);
// -fmessage-length=: the printer's wrap width and the caret width.
void engine_set_message_length(diagnostic_engine& engine, int length);
// -Werror=OPTION (as_error) and -Wno-error=OPTION for one option.
diagnostic_kind engine_set_option_error(diagnostic_engine& engine, int option,
                                        bool as_error,
                                        location_t location = unknown_location);
// -fdiagnostics-format=: `base_name` names the output file of the file
// formats ("<base_name>.json", "<base_name>.sarif").
void diagnostic_output_format_init(diagnostic_engine& engine,
                                   std::string_view base_name,
                                   output_format format);

// Called after a fatal error is printed, before the run ends.  A hook
// that throws keeps the process alive: a fuzzing harness turns fatal
// errors into exceptions this way.  None by default.
using fatal_error_hook = void (*)();
void set_fatal_error_hook(fatal_error_hook hook);

// Errors or sorry messages have been reported on global_engine.
bool any_errors_seen();
// Errors and sorry messages reported on global_engine.
int error_and_sorry_count();
// COLUMNS when it is a positive number, else the largest int.
int terminal_width();
void set_caret_width(diagnostic_engine& engine, int width);

// Builds a record: the first form translates the format.
void diagnostic_set_info(diagnostic_record& record, const char* format,
                         std::span<const format_arg> args, int saved_errno,
                         std::span<const location_t> locations,
                         diagnostic_kind kind);
void diagnostic_set_info_translated(diagnostic_record& record,
                                    const char* format,
                                    std::span<const format_arg> args,
                                    int saved_errno,
                                    std::span<const location_t> locations,
                                    diagnostic_kind kind);

// The parts of a report, exposed for hooks that replace them.
std::string diagnostic_build_prefix(diagnostic_engine& engine,
                                    const diagnostic_record& record);
void default_starter(diagnostic_engine& engine,
                     const diagnostic_record& record);
void default_finalizer(diagnostic_engine& engine,
                       const diagnostic_record& record,
                       diagnostic_kind entry_kind);
void default_final_hook(diagnostic_engine& engine);
// Ends the run when -fmax-errors= is reached (running engine_finish first
// when `finish` is set).
void check_max_errors(diagnostic_engine& engine, bool finish);
void diagnostic_action_after_output(diagnostic_engine& engine,
                                    diagnostic_kind kind);

// Writes `text` as a quoted string with C escapes (octal for unprintable
// bytes), as the parseable fix-it lines show file names and replacements.
void print_escaped_string(std::string& out, std::string_view text);

// Prints the frames of a backtrace as the internal-error report shows them;
// returns the number printed.
int print_backtrace(diagnostic_engine& engine);
// The source path `path` relative to the tree both it and this file are
// in.
const char* trim_source_path(const char* path);

// Writes a translated out-of-band notice (not a diagnostic) with printf.
// Dropped when the stream is standard error and machine-readable output
// goes there.
[[gnu::format(printf, 2, 3)]] void fnotice(std::FILE* stream,
                                           const char* format, ...);

// Groups the diagnostics reported while it lives (an error and its notes).
class diagnostic_group {
public:
  explicit diagnostic_group(diagnostic_engine& engine = global_engine);
  diagnostic_group(const diagnostic_group&) = delete;
  diagnostic_group& operator=(const diagnostic_group&) = delete;
  ~diagnostic_group();

private:
  diagnostic_engine& engine_;
};

namespace detail {
bool report(location_t location, diagnostic_kind kind, int option,
            const char* format, std::span<const format_arg> args,
            int saved_errno, const diagnostic_metadata* metadata = nullptr);
bool report_plural(location_t location, diagnostic_kind kind, int option,
                   unsigned long n, const char* singular, const char* plural,
                   std::span<const format_arg> args, int saved_errno);
[[noreturn]] void report_did_not_end(diagnostic_kind kind);

template <typename... Args>
std::array<format_arg, sizeof...(Args)> arguments(const Args&... args) {
  return {format_arg(args)...};
}
} // namespace detail

// The location of the input being processed: unknown in the driver.
inline constexpr location_t current_location = unknown_location;

// Reporting functions.  Each saves errno on entry for %m.

template <typename... Args>
[[noreturn]] void fatal_error(location_t location, const char* format,
                              const Args&... args) {
  int saved = errno;
  detail::report(location, kind_fatal, 0, format, detail::arguments(args...),
                 saved);
  detail::report_did_not_end(kind_fatal);
}

template <typename... Args>
void error_at(location_t location, const char* format, const Args&... args) {
  int saved = errno;
  detail::report(location, kind_error, 0, format, detail::arguments(args...),
                 saved);
}

template <typename... Args>
void error_at_input(const char* format, const Args&... args) {
  int saved = errno;
  detail::report(current_location, kind_error, 0, format,
                 detail::arguments(args...), saved);
}

template <typename... Args>
void error_at_n(location_t location, unsigned long n, const char* singular,
                const char* plural, const Args&... args) {
  int saved = errno;
  detail::report_plural(location, kind_error, 0, n, singular, plural,
                        detail::arguments(args...), saved);
}

template <typename... Args>
bool warning_at(location_t location, int option, const char* format,
                const Args&... args) {
  int saved = errno;
  return detail::report(location, kind_warning, option, format,
                        detail::arguments(args...), saved);
}

template <typename... Args>
bool warning_at_input(int option, const char* format, const Args&... args) {
  int saved = errno;
  return detail::report(current_location, kind_warning, option, format,
                        detail::arguments(args...), saved);
}

template <typename... Args>
bool warning_n(location_t location, int option, unsigned long n,
               const char* singular, const char* plural, const Args&... args) {
  int saved = errno;
  return detail::report_plural(location, kind_warning, option, n, singular,
                               plural, detail::arguments(args...), saved);
}

template <typename... Args>
bool warning_meta(location_t location, const diagnostic_metadata& metadata,
                  int option, const char* format, const Args&... args) {
  int saved = errno;
  return detail::report(location, kind_warning, option, format,
                        detail::arguments(args...), saved, &metadata);
}

template <typename... Args>
bool pedwarn(location_t location, int option, const char* format,
             const Args&... args) {
  int saved = errno;
  return detail::report(location, kind_pedwarn, option, format,
                        detail::arguments(args...), saved);
}

template <typename... Args>
bool permerror(location_t location, const char* format, const Args&... args) {
  int saved = errno;
  return detail::report(location, kind_permerror, 0, format,
                        detail::arguments(args...), saved);
}

template <typename... Args>
void inform(location_t location, const char* format, const Args&... args) {
  int saved = errno;
  detail::report(location, kind_note, 0, format, detail::arguments(args...),
                 saved);
}

template <typename... Args>
void inform_at_n(location_t location, unsigned long n, const char* singular,
                 const char* plural, const Args&... args) {
  int saved = errno;
  detail::report_plural(location, kind_note, 0, n, singular, plural,
                        detail::arguments(args...), saved);
}

template <typename... Args>
void sorry_at(location_t location, const char* format, const Args&... args) {
  int saved = errno;
  detail::report(location, kind_sorry, 0, format, detail::arguments(args...),
                 saved);
}

template <typename... Args>
void sorry_at_input(const char* format, const Args&... args) {
  int saved = errno;
  detail::report(current_location, kind_sorry, 0, format,
                 detail::arguments(args...), saved);
}

template <typename... Args>
bool report_kind_at(diagnostic_kind kind, location_t location, int option,
                    const char* format, const Args&... args) {
  int saved = errno;
  return detail::report(location, kind, option, format,
                        detail::arguments(args...), saved);
}

template <typename... Args>
[[noreturn]] void internal_error(const char* format, const Args&... args) {
  int saved = errno;
  detail::report(current_location, kind_ice, 0, format,
                 detail::arguments(args...), saved);
  detail::report_did_not_end(kind_ice);
}

template <typename... Args>
[[noreturn]] void internal_error_no_backtrace(const char* format,
                                              const Args&... args) {
  int saved = errno;
  detail::report(current_location, kind_ice_nobt, 0, format,
                 detail::arguments(args...), saved);
  detail::report_did_not_end(kind_ice_nobt);
}

} // namespace velk
