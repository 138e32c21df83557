#include "diagnostics/diagnostic.h"

#include "diagnostics/colors.h"
#include "diagnostics/structured_output.h"
#include "support/configuration.h"

#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <cxxabi.h>
#include <unistd.h>

namespace velk {

diagnostic_engine global_engine;

namespace {

struct kind_info {
  const char* label;
  std::string_view color;
};

constexpr std::array<kind_info, kind_last + 1> kind_table{{
    {"", ""},
    {"", ""},
    {translatable("fatal error: "), "error"},
    {translatable("internal compiler error: "), "error"},
    {translatable("error: "), "error"},
    {translatable("sorry, unimplemented: "), "error"},
    {translatable("warning: "), "warning"},
    {translatable("anachronism: "), "warning"},
    {translatable("note: "), "note"},
    {translatable("debug: "), "note"},
    {translatable("path: "), "path"},
    {translatable("pedwarn: "), ""},
    {translatable("permerror: "), ""},
    {translatable("error: "), ""},
    {translatable("internal compiler error: "), "error"},
    {translatable("must-not-happen"), ""},
}};

// The address of a CWE entry's definition page.
constexpr const char* cwe_url_format =
    "https://cwe.mitre.org/data/definitions/%i.html";

std::string& program_name_storage() {
  static std::string name;
  return name;
}

bool is_ice(diagnostic_kind kind) {
  return kind == kind_ice || kind == kind_ice_nobt;
}

bool machine_readable_on_stderr(const diagnostic_engine& e) {
  switch (e.format) {
  case output_format_text:
  case output_format_json_file:
  case output_format_sarif_file:
    return false;
  case output_format_json_stderr:
  case output_format_sarif_stderr:
    return true;
  }
  VELK_UNREACHABLE();
}

expanded_location expand(const diagnostic_engine& e, location_t location) {
  if (e.location_expander == nullptr || location == unknown_location)
    return {};
  return e.location_expander(location);
}

location_t primary_location(const diagnostic_record& d) {
  return d.job.locations.empty() ? unknown_location : d.job.locations.front();
}

// Whether a message with text of its own is still open on the printer.
bool message_pending(const message_printer& pp) {
  return pp.buffer->line_length > 0;
}

// The kind the classification history gives `option` at `location`, or
// kind_unspecified.
diagnostic_kind kind_from_history(const diagnostic_engine& e, int option,
                                  location_t location) {
  const auto& history = e.classification_history;
  for (long i = static_cast<long>(history.size()) - 1; i >= 0;) {
    const classification_change& c = history[static_cast<std::size_t>(i)];
    if (c.location > location) {
      --i;
      continue;
    }
    if (c.kind == kind_pop) {
      i = c.option - 1;
      continue;
    }
    if ((c.option == option || c.option == 0) && c.kind != kind_unspecified)
      return c.kind;
    --i;
  }
  return kind_unspecified;
}

// Writes the structured output collected so far and drops it.
void write_structured_output(diagnostic_engine& e) {
  std::unique_ptr<structured_output> output = std::move(e.structured);
  if (!output)
    return;
  std::string text = output->render();
  if (e.structured_file.empty()) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
    return;
  }
  std::FILE* f = std::fopen(e.structured_file.c_str(), "w");
  bool written = f != nullptr &&
                 std::fwrite(text.data(), 1, text.size(), f) == text.size();
  int error = errno;
  if (f != nullptr && std::fclose(f) != 0 && written) {
    written = false;
    error = errno;
  }
  if (!written) {
    e.format = output_format_text;
    errno = error;
    error_at(unknown_location, "cannot write diagnostics to %qs: %m",
             e.structured_file);
  }
}

void write_structured_output_at_exit() {
  write_structured_output(global_engine);
}

// Formats the message alone, without prefix, colour or line breaks, for the
// machine-readable formats.
std::string plain_message(diagnostic_engine& e, const diagnostic_record& d) {
  message_printer& pp = *e.printer;
  bool color = pp.use_color;
  url_format urls = pp.url_style;
  int cutoff = pp.line_cutoff;
  std::optional<std::string> prefix = pp_detach_prefix(pp);
  std::string saved(pp_formatted_string(pp));
  pp.use_color = false;
  pp.url_style = url_format_none;
  pp_set_line_cutoff(pp, 0);
  pp_reset_output(pp);
  pp_format(pp, d.job);
  pp_output_formatted_text(pp);
  std::string message(pp_formatted_string(pp));
  pp_reset_output(pp);
  pp.buffer->formatted = std::move(saved);
  pp.use_color = color;
  pp.url_style = urls;
  pp.prefix = std::move(prefix);
  pp_set_line_cutoff(pp, cutoff);
  return message;
}

void add_structured(diagnostic_engine& e, const diagnostic_record& d,
                    diagnostic_kind entry_kind) {
  structured_diagnostic s;
  s.kind = d.kind;
  s.message = plain_message(e, d);
  if (d.option != 0 && e.option_name != nullptr)
    s.option = e.option_name(e, d.option, entry_kind, d.kind);
  if (d.option != 0 && e.option_url != nullptr)
    s.option_url = e.option_url(e, d.option);
  e.structured->add(std::move(s), e.group_emission_count > 1);
}

// " [text]" in the kind's colour, as a hyperlink when there is an address
// and hyperlinks are on.
void put_annotation(diagnostic_engine& e, diagnostic_kind kind,
                    std::string_view text, std::string_view url) {
  message_printer& pp = *e.printer;
  pp_put_text(pp, " [");
  pp_put_text(pp,
              color_start_sequence(pp.use_color, diagnostic_kind_color(kind)));
  bool link = !url.empty() && pp.url_style != url_format_none;
  if (link)
    pp_begin_url(pp, url);
  pp_put_quoted(pp, text);
  if (link)
    pp_close_url(pp);
  pp_put_text(pp, color_stop_sequence(pp.use_color));
  pp_put_text(pp, "]");
}

void put_annotations(diagnostic_engine& e, const diagnostic_record& d,
                     diagnostic_kind entry_kind) {
  message_printer& pp = *e.printer;
  if (d.metadata != nullptr && (e.show_cwe || e.show_rules)) {
    // Written without prefix, so they never start one.
    std::optional<std::string> prefix = pp_detach_prefix(pp);
    if (e.show_cwe && d.metadata->cwe != 0) {
      std::string url;
      if (pp.url_style != url_format_none) {
        int n = std::snprintf(nullptr, 0, cwe_url_format, d.metadata->cwe);
        url.resize(static_cast<std::size_t>(n));
        std::snprintf(url.data(), url.size() + 1, cwe_url_format,
                      d.metadata->cwe);
      }
      put_annotation(e, d.kind, "CWE-" + std::to_string(d.metadata->cwe), url);
    }
    if (e.show_rules)
      for (const diagnostic_metadata::rule& r : d.metadata->rules)
        put_annotation(e, d.kind, r.text, r.url);
    pp.prefix = std::move(prefix);
  }
  if (e.show_option && d.option != 0 && e.option_name != nullptr) {
    std::string name = e.option_name(e, d.option, entry_kind, d.kind);
    if (!name.empty()) {
      std::string url;
      if (pp.url_style != url_format_none && e.option_url != nullptr)
        url = e.option_url(e, d.option);
      put_annotation(e, d.kind, name, url);
    }
  }
}

void print_parseable_fixits(diagnostic_engine& e, const diagnostic_record& d) {
  if (d.fixits.empty())
    return;
  message_printer& pp = *e.printer;
  std::optional<std::string> prefix = pp_detach_prefix(pp);
  for (const fixit_hint& h : d.fixits) {
    std::string line = "fix-it:";
    print_escaped_string(line, h.file);
    line += ":{" + std::to_string(h.start_line) + ":" +
            std::to_string(h.start_column) + "-" + std::to_string(h.end_line) +
            ":" + std::to_string(h.end_column) + "}:";
    print_escaped_string(line, h.replacement);
    line += '\n';
    pp_put_text(pp, line);
  }
  pp.prefix = std::move(prefix);
}

struct backtrace_state {
  int printed = 0;
  bool skipping_own_frames = true;
};

// The base name of a path.
std::string_view base_name(std::string_view path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool is_stop_function(std::string_view name) {
  for (std::string_view stop :
       {"main", "toplev::main", "execute_one_pass", "compile_file"})
    if (name == stop ||
        (name.size() > stop.size() && name.substr(0, stop.size()) == stop &&
         name[stop.size()] == '('))
      return true;
  return false;
}

// Prints one frame; true stops the walk.
bool backtrace_frame_printer(void* data, const backtrace_frame& frame) {
  auto& state = *static_cast<backtrace_state*>(data);
  if (frame.file == nullptr && frame.function == nullptr)
    return false;
  if (state.printed == 0 && state.skipping_own_frames &&
      frame.file != nullptr && base_name(frame.file) == base_name(__FILE__))
    return false;
  state.skipping_own_frames = false;
  if (state.printed >= 20)
    return true;
  std::string function = frame.function != nullptr ? frame.function : "???";
  if (frame.function != nullptr) {
    int status = 0;
    char* demangled =
        abi::__cxa_demangle(frame.function, nullptr, nullptr, &status);
    if (status == 0 && demangled != nullptr)
      function = demangled;
    std::free(demangled);
  }
  if (is_stop_function(function))
    return true;
  if (!machine_readable_on_stderr(global_engine))
    std::fprintf(stderr, "0x%lx %s\n\t%s:%d\n",
                 static_cast<unsigned long>(frame.pc), function.c_str(),
                 frame.file != nullptr ? frame.file : "???", frame.line);
  ++state.printed;
  return false;
}

} // namespace

diagnostic_engine::diagnostic_engine() = default;
diagnostic_engine::diagnostic_engine(diagnostic_engine&&) noexcept = default;
diagnostic_engine&
diagnostic_engine::operator=(diagnostic_engine&&) noexcept = default;
diagnostic_engine::~diagnostic_engine() = default;

const char* diagnostic_kind_label(diagnostic_kind kind) {
  VELK_ASSERT(kind >= 0 && kind <= kind_last);
  return kind_table[static_cast<std::size_t>(kind)].label;
}

std::string_view diagnostic_kind_color(diagnostic_kind kind) {
  VELK_ASSERT(kind >= 0 && kind <= kind_last);
  return kind_table[static_cast<std::size_t>(kind)].color;
}

void set_program_name(std::string_view argv0) {
  std::size_t slash = argv0.rfind('/');
  if (slash != std::string_view::npos)
    argv0.remove_prefix(slash + 1);
  program_name_storage() = std::string(argv0);
}

const std::string& program_name() {
  return program_name_storage();
}

void engine_init(diagnostic_engine& e, int option_count) {
  e = diagnostic_engine();
  e.printer = std::make_unique<message_printer>(0);
  e.option_count = option_count > 0 ? option_count : 0;
  e.classification.assign(static_cast<std::size_t>(e.option_count),
                          kind_unspecified);
  set_caret_width(e, 0);
  e.starter = default_starter;
  e.finalizer = default_finalizer;
  e.final_hook = default_final_hook;
  if (const char* extra = std::getenv("VELK_EXTRA_DIAGNOSTIC_OUTPUT")) {
    if (std::strcmp(extra, "fixits-v1") == 0)
      e.extra_output = extra_output_kind::fixits_v1;
    else if (std::strcmp(extra, "fixits-v2") == 0)
      e.extra_output = extra_output_kind::fixits_v2;
  }
}

bool engine_report(diagnostic_engine& e, diagnostic_record& d) {
  if (!e.printer) // reports after engine_finish still reach the user
    e.printer = std::make_unique<message_printer>(0);
  message_printer& pp = *e.printer;
  location_t location = primary_location(d);
  diagnostic_kind entry_kind = d.kind;

  bool unreportable = false;
  if (d.kind == kind_warning || d.kind == kind_pedwarn) {
    if (e.inhibit_warnings)
      return false;
    if (expand(e, location).in_system_header && !e.warn_system_headers) {
      if (d.kind == kind_pedwarn)
        return false;
      unreportable = true;
    }
  }
  if (d.kind == kind_pedwarn) {
    d.kind = e.pedantic_errors ? kind_error : kind_warning;
    entry_kind = d.kind;
  }
  if (d.kind == kind_note && e.inhibit_notes)
    return false;

  if (e.reentry_count > 0) {
    if (is_ice(d.kind) && e.reentry_count == 1) {
      if (message_pending(pp))
        pp_end_line_and_flush(pp);
    } else {
      if (e.reentry_count < 3) {
        if (message_pending(pp))
          pp_end_line_and_flush(pp);
        fnotice(stderr, "internal compiler error: error reporting routines "
                        "re-entered.\n");
        if (d.kind == kind_ice)
          diagnostic_action_after_output(e, kind_ice);
      }
      std::abort();
    }
  }

  if (e.warnings_as_errors && d.kind == kind_warning)
    d.kind = kind_error;

  // Is the warning's option on, and has it been given another kind?
  if (d.option != 0 && !(e.permissive && d.option == e.permissive_option)) {
    if (e.option_enabled != nullptr &&
        !e.option_enabled(d.option, e.language_mask, e.option_state))
      return false;
    diagnostic_kind given = kind_unspecified;
    for (location_t l : d.job.locations) {
      given = kind_from_history(e, d.option, l);
      if (given != kind_unspecified)
        break;
    }
    if (given == kind_unspecified && d.option > 0 && d.option < e.option_count)
      given = e.classification[static_cast<std::size_t>(d.option)];
    if (given != kind_unspecified)
      d.kind = given;
    if (d.kind == kind_ignored)
      return false;
  }
  if (unreportable) {
    bool all_in_system_headers = true;
    for (location_t l : d.job.locations)
      all_in_system_headers =
          all_in_system_headers && expand(e, l).in_system_header;
    if (all_in_system_headers)
      return false;
  }

  if (d.kind != kind_note && d.kind != kind_ice)
    check_max_errors(e, false);

  // Restored however the report ends: a fatal-error hook may leave by an
  // exception.
  struct reentry_scope {
    int& count;
    explicit reentry_scope(int& c) : count(c) { ++count; }
    reentry_scope(const reentry_scope&) = delete;
    reentry_scope& operator=(const reentry_scope&) = delete;
    ~reentry_scope() { --count; }
  };
  {
    reentry_scope reentry(e.reentry_count);
    if (is_ice(d.kind)) {
      // An internal error raised while another diagnostic is being reported
      // (a fault in its format) is about that diagnostic, which is already
      // counted: it is not a consequence of earlier errors.
      bool nested = e.reentry_count > 1;
      if ((e.counters[kind_error] > 0 || e.counters[kind_sorry] > 0) &&
          !e.abort_on_error && !nested) {
        expanded_location x = expand(e, location);
        std::string file =
            x.file.empty() ? program_name() : std::string(x.file);
        fnotice(stderr, "%s:%d: confused by earlier errors, bailing out\n",
                escape_unprintable(file).c_str(), x.line);
        std::exit(4);
      }
      if (e.ice_callback != nullptr)
        e.ice_callback(e, d.job.format, d.job.args);
    }

    if (d.kind == kind_error && entry_kind == kind_warning)
      ++e.counters[kind_werror];
    else if (d.kind >= 0 && d.kind < kind_last)
      ++e.counters[static_cast<std::size_t>(d.kind)];

    if (e.group_emission_count == 0 && e.begin_group != nullptr)
      e.begin_group(e);
    ++e.group_emission_count;

    if (e.structured) {
      add_structured(e, d, entry_kind);
    } else {
      pp_format(pp, d.job);
      e.starter(e, d);
      pp_output_formatted_text(pp);
      put_annotations(e, d, entry_kind);
      e.finalizer(e, d, entry_kind);
      if (e.extra_output != extra_output_kind::none) {
        print_parseable_fixits(e, d);
        pp_flush_to_stream(pp);
      }
    }
    diagnostic_action_after_output(e, d.kind);
  }

  if (e.path_printer != nullptr)
    e.path_printer(e, d);
  return true;
}

diagnostic_kind engine_classify(diagnostic_engine& e, int option,
                                diagnostic_kind kind, location_t location) {
  if (option < 0 || option >= e.option_count || kind < 0 || kind >= kind_last)
    return kind_unspecified;
  diagnostic_kind& entry = e.classification[static_cast<std::size_t>(option)];
  if (location == unknown_location) {
    diagnostic_kind old = entry;
    entry = kind;
    return old;
  }
  if (entry == kind_unspecified) {
    bool on = e.option_enabled == nullptr ||
              e.option_enabled(option, e.language_mask, e.option_state);
    entry = !on                    ? kind_ignored
            : e.warnings_as_errors ? kind_error
                                   : kind_warning;
  }
  diagnostic_kind old = entry;
  for (auto c = e.classification_history.rbegin();
       c != e.classification_history.rend(); ++c)
    if (c->kind != kind_pop && c->option == option) {
      old = c->kind;
      break;
    }
  e.classification_history.push_back({location, option, kind});
  return old;
}

void engine_push_classification(diagnostic_engine& e) {
  e.push_list.push_back(static_cast<int>(e.classification_history.size()));
}

void engine_pop_classification(diagnostic_engine& e, location_t location) {
  int saved = 0;
  if (!e.push_list.empty()) {
    saved = e.push_list.back();
    e.push_list.pop_back();
  }
  e.classification_history.push_back({location, saved, kind_pop});
}

void engine_finish(diagnostic_engine& e) {
  if (e.final_hook != nullptr)
    e.final_hook(e);
  write_structured_output(e);
  e.classification.clear();
  e.classification_history.clear();
  e.push_list.clear();
  e.printer.reset();
}

void engine_set_warnings_as_errors(diagnostic_engine& e, bool on) {
  e.warnings_as_errors = on;
}
void engine_set_fatal_errors(diagnostic_engine& e, bool on) {
  e.fatal_errors = on;
}
void engine_set_inhibit_warnings(diagnostic_engine& e, bool on) {
  e.inhibit_warnings = on;
}
void engine_set_max_errors(diagnostic_engine& e, unsigned count) {
  e.max_errors = count;
}
void engine_set_pedantic_errors(diagnostic_engine& e, bool on) {
  e.pedantic_errors = on;
}
void engine_set_report_bug(diagnostic_engine& e, bool on) {
  e.report_bug = on;
}

void engine_set_message_length(diagnostic_engine& e, int length) {
  if (e.printer)
    pp_set_line_cutoff(*e.printer, length);
  set_caret_width(e, length);
}

diagnostic_kind engine_set_option_error(diagnostic_engine& e, int option,
                                        bool as_error, location_t location) {
  return engine_classify(e, option, as_error ? kind_error : kind_warning,
                         location);
}

void diagnostic_output_format_init(diagnostic_engine& e,
                                   std::string_view base_name,
                                   output_format format) {
  // Diagnostics collected under an earlier format are written as that
  // format asked.
  write_structured_output(e);
  e.format = format;
  e.structured_file.clear();
  switch (format) {
  case output_format_text:
    return;
  case output_format_json_stderr:
  case output_format_json_file:
    e.structured = make_json_output();
    break;
  case output_format_sarif_stderr:
  case output_format_sarif_file:
    e.structured = make_sarif_output();
    break;
  default:
    VELK_UNREACHABLE();
  }
  if (format == output_format_json_file)
    e.structured_file = std::string(base_name) + ".json";
  else if (format == output_format_sarif_file)
    e.structured_file = std::string(base_name) + ".sarif";
  static bool registered = false;
  if (!registered && &e == &global_engine) {
    registered = std::atexit(write_structured_output_at_exit) == 0;
  }
}

bool any_errors_seen() {
  return error_and_sorry_count() > 0;
}

int error_and_sorry_count() {
  return global_engine.counters[kind_error] +
         global_engine.counters[kind_sorry];
}

int terminal_width() {
  const char* columns = std::getenv("COLUMNS");
  if (columns != nullptr && *columns != '\0') {
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(columns, &end, 10);
    if (*end == '\0' && errno == 0 && value > 0 && value <= INT_MAX)
      return static_cast<int>(value);
  }
  return INT_MAX;
}

void set_caret_width(diagnostic_engine& e, int width) {
  int value;
  if (width != 0)
    value = width - 1;
  else if (e.printer && isatty(fileno(e.printer->buffer->stream)))
    value = terminal_width() - 1;
  else
    value = INT_MAX;
  e.caret_width = value <= 0 ? INT_MAX : value;
}

void diagnostic_set_info_translated(diagnostic_record& d, const char* format,
                                    std::span<const format_arg> args,
                                    int saved_errno,
                                    std::span<const location_t> locations,
                                    diagnostic_kind kind) {
  VELK_ASSERT(!locations.empty());
  d.job.format = format;
  d.job.args = args;
  d.job.saved_errno = saved_errno;
  d.job.locations.assign(locations.begin(), locations.end());
  d.kind = kind;
  d.option = 0;
  d.metadata = nullptr;
  d.fixits.clear();
}

void diagnostic_set_info(diagnostic_record& d, const char* format,
                         std::span<const format_arg> args, int saved_errno,
                         std::span<const location_t> locations,
                         diagnostic_kind kind) {
  diagnostic_set_info_translated(d, translate(format), args, saved_errno,
                                 locations, kind);
}

std::string diagnostic_build_prefix(diagnostic_engine& e,
                                    const diagnostic_record& d) {
  VELK_ASSERT(d.kind >= 0 && d.kind < kind_last);
  bool color = e.printer && e.printer->use_color;
  expanded_location x = expand(e, primary_location(d));
  std::string file = escape_unprintable(
      x.file.empty() ? std::string_view(program_name()) : x.file);
  std::string line_part;
  if (x.line != 0 && file != translate("<built-in>")) {
    line_part = ":" + std::to_string(x.line);
    int column = x.column + e.column_origin - 1;
    if (e.show_column && x.column > 0 && column > 0)
      line_part += ":" + std::to_string(column);
  }
  std::string prefix(color_start_sequence(color, "locus"));
  prefix += file;
  prefix += line_part;
  prefix += ':';
  prefix += color_stop_sequence(color);
  prefix += ' ';
  std::string_view kind_color = diagnostic_kind_color(d.kind);
  if (!kind_color.empty())
    prefix += color_start_sequence(color, kind_color);
  prefix += translate(diagnostic_kind_label(d.kind));
  if (!kind_color.empty())
    prefix += color_stop_sequence(color);
  return prefix;
}

void default_starter(diagnostic_engine& e, const diagnostic_record& d) {
  message_printer& pp = *e.printer;
  if (pp.needs_newline)
    pp_end_line(pp);
  pp_install_prefix(pp, diagnostic_build_prefix(e, d));
}

void default_finalizer(diagnostic_engine& e, const diagnostic_record&,
                       diagnostic_kind) {
  message_printer& pp = *e.printer;
  std::optional<std::string> prefix = pp_detach_prefix(pp);
  pp_end_line(pp);
  pp_install_prefix(pp, std::move(prefix));
  pp_flush_to_stream(pp);
}

void default_final_hook(diagnostic_engine& e) {
  if (e.counters[kind_werror] == 0 || !e.printer ||
      machine_readable_on_stderr(e))
    return;
  message_printer& pp = *e.printer;
  if (e.warnings_as_errors)
    pp_format_verbatim_output(
        pp, translate("%s: all warnings being treated as errors"),
        program_name());
  else
    pp_format_verbatim_output(
        pp, translate("%s: some warnings being treated as errors"),
        program_name());
  pp_end_line_and_flush(pp);
}

namespace {
fatal_error_hook fatal_hook = nullptr;
} // namespace

void set_fatal_error_hook(fatal_error_hook hook) {
  fatal_hook = hook;
}

void check_max_errors(diagnostic_engine& e, bool finish) {
  if (e.max_errors == 0)
    return;
  long count = static_cast<long>(e.counters[kind_error]) +
               e.counters[kind_sorry] + e.counters[kind_werror];
  if (count < static_cast<long>(e.max_errors))
    return;
  fnotice(stderr, "compilation terminated due to -fmax-errors=%u.\n",
          e.max_errors);
  if (finish)
    engine_finish(e);
  std::exit(1);
}

void diagnostic_action_after_output(diagnostic_engine& e,
                                    diagnostic_kind kind) {
  switch (kind) {
  case kind_note:
  case kind_debug:
  case kind_path:
  case kind_warning:
  case kind_anachronism:
    return;
  case kind_error:
  case kind_sorry:
    if (e.abort_on_error)
      std::abort();
    if (e.fatal_errors) {
      fnotice(stderr, "compilation terminated due to -Wfatal-errors.\n");
      engine_finish(e);
      std::exit(1);
    }
    return;
  case kind_fatal:
    if (fatal_hook != nullptr)
      fatal_hook();
    if (e.abort_on_error)
      std::abort();
    engine_finish(e);
    fnotice(stderr, "compilation terminated.\n");
    std::exit(1);
  case kind_ice:
  case kind_ice_nobt: {
    if (engine_hook_fn handler = e.ice_handler) {
      e.ice_handler = nullptr;
      handler(e);
    }
    int frames = kind == kind_ice ? print_backtrace(e) : 0;
    if (e.abort_on_error)
      std::abort();
    if (e.report_bug)
      fnotice(stderr,
              "Please submit a full bug report, with preprocessed source.\n");
    else
      fnotice(stderr, "Please submit a full bug report, with preprocessed "
                      "source (by using -freport-bug).\n");
    if (frames > 0)
      fnotice(stderr,
              "Please include the complete backtrace with any bug report.\n");
    fnotice(stderr, "See %s for instructions.\n",
            config::bug_report_url.data());
    std::exit(4);
  }
  default:
    VELK_UNREACHABLE();
  }
}

void print_escaped_string(std::string& out, std::string_view text) {
  out += '"';
  for (char ch : text) {
    unsigned char c = static_cast<unsigned char>(ch);
    switch (c) {
    case '\\':
      out += "\\\\";
      break;
    case '\t':
      out += "\\t";
      break;
    case '\n':
      out += "\\n";
      break;
    case '"':
      out += "\\\"";
      break;
    default:
      if (c >= 0x20 && c < 0x7f) {
        out += ch;
      } else {
        const char octal[4] = {'\\', static_cast<char>('0' + (c >> 6)),
                               static_cast<char>('0' + ((c >> 3) & 7)),
                               static_cast<char>('0' + (c & 7))};
        out.append(octal, 4);
      }
    }
  }
  out += '"';
}

int print_backtrace(diagnostic_engine& e) {
  if (e.backtrace_reader == nullptr)
    return 0;
  backtrace_state state;
  e.backtrace_reader(2, backtrace_frame_printer, &state);
  return state.printed;
}

const char* trim_source_path(const char* path) {
  const char* self = __FILE__;
  while (std::strncmp(path, "../", 3) == 0)
    path += 3;
  while (std::strncmp(self, "../", 3) == 0)
    self += 3;
  const char* p = path;
  while (*p != '\0' && *p == *self) {
    ++p;
    ++self;
  }
  while (p > path && p[-1] != '/')
    --p;
  return p;
}

void assert_failed(const char* file, int line, const char* function) {
  if (global_engine.printer)
    internal_error("in %s, at %s:%d", function, trim_source_path(file), line);
  fnotice(stderr, "%s", translate(diagnostic_kind_label(kind_ice)));
  fnotice(stderr, "in %s, at %s:%d", function, trim_source_path(file), line);
  std::fputc('\n', stderr);
  print_backtrace(global_engine);
  std::abort();
}

void fnotice(std::FILE* stream, const char* format, ...) {
  if (stream == stderr && machine_readable_on_stderr(global_engine))
    return;
  va_list ap;
  va_start(ap, format);
  std::vfprintf(stream, translate(format), ap);
  va_end(ap);
}

diagnostic_group::diagnostic_group(diagnostic_engine& engine)
    : engine_(engine) {
  ++engine_.group_nesting_depth;
}

diagnostic_group::~diagnostic_group() {
  if (--engine_.group_nesting_depth > 0)
    return;
  if (engine_.group_emission_count > 0 && engine_.end_group != nullptr)
    engine_.end_group(engine_);
  engine_.group_emission_count = 0;
}

namespace {

// The engine as the driver's start-up sets it up, for a report that comes
// before it: no option has set the colour or hyperlink rule yet.
void init_engine_for_early_report() {
  engine_init(global_engine, 0);
  engine_color_init(global_engine, color_rule_unset);
  engine_urls_init(global_engine, color_rule_unset);
}

} // namespace

namespace detail {

bool report(location_t location, diagnostic_kind kind, int option,
            const char* format, std::span<const format_arg> args,
            int saved_errno, const diagnostic_metadata* metadata) {
  // A report before the engine is set up (a failure while the command line
  // is decoded) still reaches the user, coloured as the terminal allows.
  if (global_engine.starter == nullptr)
    init_engine_for_early_report();
  diagnostic_group group(global_engine);
  diagnostic_record d;
  const location_t locations[] = {location};
  diagnostic_set_info(d, format, args, saved_errno, locations, kind);
  if (kind == kind_permerror) {
    d.kind = global_engine.permissive ? kind_warning : kind_error;
    d.option = global_engine.permissive_option;
  } else if (kind == kind_warning || kind == kind_pedwarn) {
    d.option = option;
  }
  d.metadata = metadata;
  return engine_report(global_engine, d);
}

bool report_plural(location_t location, diagnostic_kind kind, int option,
                   unsigned long n, const char* singular, const char* plural,
                   std::span<const format_arg> args, int saved_errno) {
  if (global_engine.starter == nullptr)
    init_engine_for_early_report();
  diagnostic_group group(global_engine);
  diagnostic_record d;
  const location_t locations[] = {location};
  diagnostic_set_info_translated(d, translate_plural(singular, plural, n), args,
                                 saved_errno, locations, kind);
  if (kind == kind_warning)
    d.option = option;
  return engine_report(global_engine, d);
}

void report_did_not_end(diagnostic_kind kind) {
  // A fatal or internal error always ends the run; reaching here means a
  // hook swallowed it.
  std::exit(is_ice(kind) ? 4 : 1);
}

} // namespace detail

} // namespace velk
