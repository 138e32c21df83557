// The diagnostic engine: labels, counters, the settings the option handlers
// change (-Werror, -Werror=, -w, -Wfatal-errors, -fmax-errors=), the ends
// of a run (fatal error, internal error), escaping of what reaches the
// terminal, and the machine-readable formats.
#include "diagnostics/diagnostic.h"
#include "diagnostics/structured_output.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

namespace velk {
namespace {

using ::testing::ExitedWithCode;
using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

std::string stderr_of(const std::function<void()>& action) {
  CaptureStderr();
  action();
  return GetCapturedStderr();
}

// A regular expression matching `text` exactly.
std::string exactly(std::string_view text) {
  std::string re = "^";
  for (char c : text) {
    if (std::strchr("\\^$.|?*+()[]{}", c) != nullptr && c != '\0')
      re += '\\';
    re += c;
  }
  return re + "$";
}

const char* const bug_lines =
    "Please submit a full bug report, with preprocessed source (by using "
    "-freport-bug).\nSee <https://velk.example.org/bugs> for instructions.\n";

class DiagnosticEngine : public ::testing::Test {
protected:
  void SetUp() override {
    unsetenv("VELK_EXTRA_DIAGNOSTIC_OUTPUT");
    set_program_name("/usr/local/brae13/bin/velk++");
    engine_init(global_engine, 8);
  }
  diagnostic_engine& e = global_engine;
};

TEST_F(DiagnosticEngine, KindLabelsAndColours) {
  struct {
    diagnostic_kind kind;
    const char* label;
    const char* color;
  } cases[] = {
      {kind_unspecified, "", ""},
      {kind_ignored, "", ""},
      {kind_fatal, "fatal error: ", "error"},
      {kind_ice, "internal compiler error: ", "error"},
      {kind_error, "error: ", "error"},
      {kind_sorry, "sorry, unimplemented: ", "error"},
      {kind_warning, "warning: ", "warning"},
      {kind_anachronism, "anachronism: ", "warning"},
      {kind_note, "note: ", "note"},
      {kind_debug, "debug: ", "note"},
      {kind_path, "path: ", "path"},
      {kind_pedwarn, "pedwarn: ", ""},
      {kind_permerror, "permerror: ", ""},
      {kind_werror, "error: ", ""},
      {kind_ice_nobt, "internal compiler error: ", "error"},
      {kind_last, "must-not-happen", ""},
  };
  for (const auto& c : cases) {
    EXPECT_STREQ(diagnostic_kind_label(c.kind), c.label) << c.kind;
    EXPECT_EQ(diagnostic_kind_color(c.kind), c.color) << c.kind;
  }
}

TEST_F(DiagnosticEngine, EachKindPrintsOneLineAndCounts) {
  EXPECT_EQ(stderr_of([] { error_at_input("bad %qs", "x"); }),
            "velk++: error: bad 'x'\n");
  EXPECT_EQ(stderr_of([] { EXPECT_TRUE(warning_at_input(0, "careful")); }),
            "velk++: warning: careful\n");
  EXPECT_EQ(stderr_of([] { inform(unknown_location, "by the way"); }),
            "velk++: note: by the way\n");
  EXPECT_EQ(stderr_of([] { sorry_at_input("not %d", 1); }),
            "velk++: sorry, unimplemented: not 1\n");
  EXPECT_EQ(stderr_of([] { error_at(unknown_location, "again"); }),
            "velk++: error: again\n");
  EXPECT_EQ(stderr_of([] { permerror(unknown_location, "lax"); }),
            "velk++: error: lax\n");
  EXPECT_EQ(e.counters[kind_error], 3);
  EXPECT_EQ(e.counters[kind_warning], 1);
  EXPECT_EQ(e.counters[kind_note], 1);
  EXPECT_EQ(e.counters[kind_sorry], 1);
  EXPECT_EQ(error_and_sorry_count(), 4);
  EXPECT_TRUE(any_errors_seen());
}

TEST_F(DiagnosticEngine, PluralFormsChooseByCount) {
  EXPECT_EQ(stderr_of([] {
              error_at_n(unknown_location, 1, "%lu file", "%lu files", 1ul);
              error_at_n(unknown_location, 3, "%lu file", "%lu files", 3ul);
            }),
            "velk++: error: 1 file\nvelk++: error: 3 files\n");
}

TEST_F(DiagnosticEngine, SorryAloneMakesTheRunFail) {
  EXPECT_FALSE(any_errors_seen());
  stderr_of([] { sorry_at_input("later"); });
  EXPECT_TRUE(any_errors_seen());
}

// -Werror: the warning is printed as an error but counted apart, so the
// exit status does not change.
TEST_F(DiagnosticEngine, WerrorPrintsWarningsAsErrorsWithoutFailingTheRun) {
  engine_set_warnings_as_errors(e, true);
  EXPECT_EQ(stderr_of([] { EXPECT_TRUE(warning_at_input(0, "w")); }),
            "velk++: error: w\n");
  EXPECT_EQ(e.counters[kind_werror], 1);
  EXPECT_EQ(e.counters[kind_error], 0);
  EXPECT_EQ(e.counters[kind_warning], 0);
  EXPECT_FALSE(any_errors_seen());
  // The summary note waits for the end of the run.
  EXPECT_EQ(stderr_of([] { engine_finish(global_engine); }),
            "velk++: all warnings being treated as errors\n");
}

TEST_F(DiagnosticEngine, WerrorSummaryComesAfterTheFatalErrorsNotice) {
  engine_set_warnings_as_errors(e, true);
  engine_set_fatal_errors(e, true);
  EXPECT_EXIT(warning_at_input(0, "w"), ExitedWithCode(1),
              exactly("velk++: error: w\n"
                      "compilation terminated due to -Wfatal-errors.\n"
                      "velk++: all warnings being treated as errors\n"));
}

TEST_F(DiagnosticEngine, WerrorSummaryComesBeforeCompilationTerminated) {
  engine_set_warnings_as_errors(e, true);
  EXPECT_EXIT(
      {
        warning_at_input(0, "w");
        fatal_error(unknown_location, "no input files");
      },
      ExitedWithCode(1),
      exactly("velk++: error: w\n"
              "velk++: fatal error: no input files\n"
              "velk++: all warnings being treated as errors\n"
              "compilation terminated.\n"));
}

// -Werror=OPTION and -Wno-error=OPTION classify one option.
TEST_F(DiagnosticEngine, PerOptionClassification) {
  EXPECT_EQ(engine_set_option_error(e, 3, true), kind_unspecified);
  EXPECT_EQ(stderr_of([] {
              warning_at_input(3, "three");
              warning_at_input(4, "four");
            }),
            "velk++: error: three\nvelk++: warning: four\n");
  EXPECT_EQ(e.counters[kind_werror], 1);
  EXPECT_FALSE(any_errors_seen());
  EXPECT_EQ(stderr_of([] { engine_finish(global_engine); }),
            "velk++: some warnings being treated as errors\n");

  engine_init(e, 8);
  engine_set_warnings_as_errors(e, true);
  engine_set_option_error(e, 3, false); // -Wno-error=3
  EXPECT_EQ(stderr_of([] {
              warning_at_input(3, "three");
              warning_at_input(4, "four");
            }),
            "velk++: warning: three\nvelk++: error: four\n");

  engine_classify(e, 5, kind_ignored, unknown_location);
  EXPECT_EQ(stderr_of([] { EXPECT_FALSE(warning_at_input(5, "off")); }), "");
}

TEST_F(DiagnosticEngine, ClassifyRejectsOptionsAndKindsOutOfRange) {
  EXPECT_EQ(engine_classify(e, -1, kind_error, unknown_location),
            kind_unspecified);
  EXPECT_EQ(engine_classify(e, 8, kind_error, unknown_location),
            kind_unspecified);
  EXPECT_EQ(engine_classify(e, 2, kind_pop, unknown_location),
            kind_unspecified);
  EXPECT_EQ(engine_classify(e, 2, kind_error, unknown_location),
            kind_unspecified);
  EXPECT_EQ(engine_classify(e, 2, kind_warning, unknown_location), kind_error);
  // The driver's engine knows no option: nothing can be classified.
  engine_init(e, 0);
  EXPECT_EQ(engine_classify(e, 0, kind_error, unknown_location),
            kind_unspecified);
  EXPECT_EQ(stderr_of([] { warning_at_input(0, "w"); }),
            "velk++: warning: w\n");
}

// Settings made from a location on hold from there; a pop ends what the
// matching push began.
TEST_F(DiagnosticEngine, LocationBoundClassification) {
  EXPECT_EQ(engine_classify(e, 2, kind_ignored, 10), kind_warning);
  engine_push_classification(e);
  EXPECT_EQ(engine_classify(e, 2, kind_error, 20), kind_ignored);
  engine_pop_classification(e, 30);
  auto at = [](location_t l) {
    return stderr_of([l] { warning_at(l, 2, "w"); });
  };
  EXPECT_EQ(at(5), "velk++: warning: w\n");
  EXPECT_EQ(at(15), "");
  EXPECT_EQ(at(25), "velk++: error: w\n");
  EXPECT_EQ(at(35), "");
}

TEST_F(DiagnosticEngine, OptionEnabledHookCanSilenceAWarning) {
  e.option_enabled = [](int option, unsigned, void*) { return option != 6; };
  EXPECT_EQ(stderr_of([] {
              EXPECT_FALSE(warning_at_input(6, "off"));
              EXPECT_TRUE(warning_at_input(7, "on"));
            }),
            "velk++: warning: on\n");
  EXPECT_EQ(e.counters[kind_warning], 1);
}

// -w: warnings are neither printed nor counted.
TEST_F(DiagnosticEngine, InhibitedWarnings) {
  engine_set_inhibit_warnings(e, true);
  engine_set_warnings_as_errors(e, true);
  EXPECT_EQ(stderr_of([] {
              EXPECT_FALSE(warning_at_input(0, "w"));
              EXPECT_FALSE(pedwarn(unknown_location, 0, "p"));
              error_at_input("e");
            }),
            "velk++: error: e\n");
  EXPECT_EQ(e.counters[kind_warning] + e.counters[kind_werror], 0);
}

TEST_F(DiagnosticEngine, PedwarnsFollowPedanticErrors) {
  EXPECT_EQ(stderr_of([] { pedwarn(unknown_location, 0, "p"); }),
            "velk++: warning: p\n");
  engine_set_pedantic_errors(e, true);
  EXPECT_EQ(stderr_of([] { pedwarn(unknown_location, 0, "p"); }),
            "velk++: error: p\n");
  EXPECT_EQ(e.counters[kind_error], 1);
  EXPECT_EQ(e.counters[kind_werror], 0);
}

TEST_F(DiagnosticEngine, MaxErrorsEndsTheRunBeforeTheNextDiagnostic) {
  engine_set_max_errors(e, 1);
  const std::string first = "velk++: error: first\n";
  const std::string notice = "compilation terminated due to -fmax-errors=1.\n";
  EXPECT_EXIT(
      {
        error_at_input("first");
        inform(unknown_location, "notes still pass");
        error_at_input("second");
      },
      ExitedWithCode(1),
      exactly(first + "velk++: note: notes still pass\n" + notice));
  EXPECT_EXIT(
      {
        error_at_input("first");
        warning_at_input(0, "a warning too");
      },
      ExitedWithCode(1), exactly(first + notice));
  // Warnings alone never reach the limit.
  EXPECT_EQ(stderr_of([] { warning_at_input(0, "w"); }),
            "velk++: warning: w\n");
}

TEST_F(DiagnosticEngine, FatalErrorsEndTheRunAtTheFirstError) {
  engine_set_fatal_errors(e, true);
  EXPECT_EQ(stderr_of([] { warning_at_input(0, "w"); }),
            "velk++: warning: w\n");
  EXPECT_EXIT(error_at_input("first"), ExitedWithCode(1),
              exactly("velk++: error: first\n"
                      "compilation terminated due to -Wfatal-errors.\n"));
}

TEST_F(DiagnosticEngine, FatalErrorTerminatesCompilation) {
  EXPECT_EXIT(fatal_error(unknown_location, "no input files"),
              ExitedWithCode(1),
              exactly("velk++: fatal error: no input files\n"
                      "compilation terminated.\n"));
}

TEST_F(DiagnosticEngine, InternalErrorReportsABugWithStatus4) {
  EXPECT_EXIT(internal_error("broken %s", "thing"), ExitedWithCode(4),
              exactly(std::string("velk++: internal compiler error: broken "
                                  "thing\n") +
                      bug_lines));
  EXPECT_EXIT(internal_error_no_backtrace("quiet"), ExitedWithCode(4),
              exactly(std::string("velk++: internal compiler error: quiet\n") +
                      bug_lines));
  engine_set_report_bug(e, true);
  EXPECT_EXIT(internal_error("again"), ExitedWithCode(4),
              exactly("velk++: internal compiler error: again\n"
                      "Please submit a full bug report, with preprocessed "
                      "source.\n"
                      "See <https://velk.example.org/bugs> for "
                      "instructions.\n"));
}

// A stand-in backtrace reader: frames of this module first (skipped), a
// frame without anything (skipped), two real ones, then main (stops).
bool fake_backtrace(int skip, backtrace_visitor visit, void* data) {
  EXPECT_EQ(skip, 2);
  const backtrace_frame frames[] = {
      {0x10, "/src/diagnostics/diagnostic.cc", 10, "velk::engine_report"},
      {0x11, nullptr, 0, nullptr},
      {0x20, "/src/driver/driver.cc", 42, "_ZN4velk6driver4mainEiPPc"},
      {0x30, nullptr, 0, "helper"},
      {0x40, "/src/driver/main.cc", 3, "main"},
      {0x50, "/src/x.cc", 1, "never_printed"},
  };
  for (const backtrace_frame& f : frames)
    if (visit(data, f))
      break;
  return true;
}

TEST_F(DiagnosticEngine, InternalErrorPrintsTheBacktrace) {
  e.backtrace_reader = fake_backtrace;
  EXPECT_EXIT(internal_error("boom"), ExitedWithCode(4),
              exactly("velk++: internal compiler error: boom\n"
                      "0x20 velk::driver::main(int, char**)\n"
                      "\t/src/driver/driver.cc:42\n"
                      "0x30 helper\n\t???:0\n"
                      "Please submit a full bug report, with preprocessed "
                      "source (by using -freport-bug).\n"
                      "Please include the complete backtrace with any bug "
                      "report.\n"
                      "See <https://velk.example.org/bugs> for "
                      "instructions.\n"));
  // Without a backtrace of its own.
  EXPECT_EXIT(internal_error_no_backtrace("quiet"), ExitedWithCode(4),
              exactly(std::string("velk++: internal compiler error: quiet\n") +
                      bug_lines));
}

bool endless_backtrace(int, backtrace_visitor visit, void* data) {
  for (std::uintptr_t pc = 1; pc < 100; ++pc)
    if (visit(data, {pc, "f.cc", 1, "f"}))
      return true;
  return true;
}

TEST_F(DiagnosticEngine, BacktraceStopsAtTwentyFrames) {
  e.backtrace_reader = endless_backtrace;
  std::string out = stderr_of([] { print_backtrace(global_engine); });
  EXPECT_EQ(std::count(out.begin(), out.end(), '\t'), 20);
}

TEST_F(DiagnosticEngine, InternalErrorAfterAnErrorBailsOut) {
  EXPECT_EXIT(
      {
        error_at_input("first");
        internal_error("second");
      },
      ExitedWithCode(4),
      exactly("velk++: error: first\n"
              "velk++:0: confused by earlier errors, bailing out\n"));
}

TEST_F(DiagnosticEngine, MalformedFormatInAReportIsAnInternalError) {
  EXPECT_EXIT(error_at_input("%s %s", "one"), ExitedWithCode(4),
              "^velk\\+\\+: internal compiler error: in pp_format, at "
              "pretty_print\\.cc:[0-9]+\nPlease submit");
}

TEST_F(DiagnosticEngine, ReportingFromInsideAReportAborts) {
  e.begin_group = [](diagnostic_engine&) { error_at_input("inner"); };
  EXPECT_DEATH(error_at_input("outer"),
               "internal compiler error: error reporting routines "
               "re-entered\\.");
}

TEST_F(DiagnosticEngine, GroupsRunTheirHooksOncePerGroup) {
  static int begins, ends;
  begins = ends = 0;
  e.begin_group = [](diagnostic_engine&) { ++begins; };
  e.end_group = [](diagnostic_engine&) { ++ends; };
  stderr_of([] {
    {
      diagnostic_group group;
      error_at_input("error");
      inform(unknown_location, "its note");
    }
    warning_at_input(0, "alone");
  });
  EXPECT_EQ(begins, 2);
  EXPECT_EQ(ends, 2);
}

TEST_F(DiagnosticEngine, ErrorNumberIsSavedAtTheCall) {
  errno = ENOENT;
  EXPECT_EQ(stderr_of([] { error_at_input("%s: %m", "a.o"); }),
            "velk++: error: a.o: No such file or directory\n");
}

// Nothing from the command line reaches the terminal raw: neither an
// argument nor the program name itself.
TEST_F(DiagnosticEngine, UserTextIsEscaped) {
  EXPECT_EQ(stderr_of([] {
              error_at_input("unrecognized command-line option %<-%s%>",
                             "\x1b[2J\x1b]0;x\x07\xff");
            }),
            "velk++: error: unrecognized command-line option "
            "'-\\x1b[2J\\x1b]0;x\\x07\\xff'\n");
  set_program_name("/tmp/ve\x1b[1mlk\nx");
  EXPECT_EQ(stderr_of([] { error_at_input("e"); }),
            "ve\\x1b[1mlk\\x0ax: error: e\n");
}

TEST_F(DiagnosticEngine, ColouredPrefix) {
  e.printer->use_color = true;
  EXPECT_EQ(stderr_of([] { error_at_input("bad %qs", "x"); }),
            "\33[01m\33[Kvelk++:\33[m\33[K \33[01;31m\33[Kerror: \33[m\33[K"
            "bad '\33[01m\33[Kx\33[m\33[K'\n");
}

std::string option_name(diagnostic_engine&, int option, diagnostic_kind,
                        diagnostic_kind) {
  return option == 0 ? "" : "-Wopt" + std::to_string(option);
}

std::string option_url(diagnostic_engine&, int option) {
  return "https://velk.example.org/opt" + std::to_string(option);
}

TEST_F(DiagnosticEngine, Annotations) {
  e.option_name = option_name;
  e.option_url = option_url;
  EXPECT_EQ(stderr_of([] { warning_at_input(3, "w"); }),
            "velk++: warning: w\n");
  e.show_option = true;
  e.show_cwe = true;
  e.show_rules = true;
  diagnostic_metadata meta;
  meta.cwe = 476;
  meta.rules.push_back({"MISRA-1", ""});
  EXPECT_EQ(stderr_of([&] { warning_meta(unknown_location, meta, 3, "w"); }),
            "velk++: warning: w [CWE-476] [MISRA-1] [-Wopt3]\n");
  e.printer->url_style = url_format_bel;
  EXPECT_EQ(stderr_of([] { warning_at_input(3, "w"); }),
            "velk++: warning: w [\33]8;;https://velk.example.org/opt3\a-Wopt3"
            "\33]8;;\a]\n");
}

TEST_F(DiagnosticEngine, LocationsGiveFileLineAndColumn) {
  e.location_expander = [](location_t l) {
    expanded_location x;
    x.file = l == 7 ? "<built-in>" : "a.cc";
    x.line = 12;
    x.column = 5;
    return x;
  };
  EXPECT_EQ(stderr_of([] { error_at(3, "e"); }), "a.cc:12: error: e\n");
  e.show_column = true;
  EXPECT_EQ(stderr_of([] { error_at(3, "e"); }), "a.cc:12:5: error: e\n");
  EXPECT_EQ(stderr_of([] { error_at(7, "e"); }), "<built-in>: error: e\n");
}

// Warnings from system headers are dropped unless -Wsystem-headers; a
// warning whose chain leaves the system headers is still shown.
TEST_F(DiagnosticEngine, SystemHeaderWarnings) {
  e.location_expander = [](location_t l) {
    expanded_location x;
    x.file = l >= 100 ? "/usr/include/a.h" : "a.cc";
    x.line = 1;
    x.in_system_header = l >= 100;
    return x;
  };
  EXPECT_EQ(stderr_of([] {
              EXPECT_FALSE(warning_at(100, 0, "w"));
              EXPECT_FALSE(pedwarn(100, 0, "p"));
            }),
            "");
  diagnostic_record d;
  const location_t chain[] = {100, 5};
  diagnostic_set_info(d, "inlined", {}, 0, chain, kind_warning);
  EXPECT_EQ(stderr_of([&] { engine_report(global_engine, d); }),
            "/usr/include/a.h:1: warning: inlined\n");
  e.warn_system_headers = true;
  EXPECT_EQ(stderr_of([] { warning_at(100, 0, "w"); }),
            "/usr/include/a.h:1: warning: w\n");
}

TEST_F(DiagnosticEngine, ExtraDiagnosticOutput) {
  struct {
    const char* value;
    extra_output_kind kind;
  } cases[] = {{"fixits-v1", extra_output_kind::fixits_v1},
               {"fixits-v2", extra_output_kind::fixits_v2},
               {"fixits-v3", extra_output_kind::none},
               {"", extra_output_kind::none}};
  for (const auto& c : cases) {
    setenv("VELK_EXTRA_DIAGNOSTIC_OUTPUT", c.value, 1);
    engine_init(e, 0);
    EXPECT_EQ(e.extra_output, c.kind) << c.value;
    // The driver's diagnostics carry no fix-it: the output is the same.
    EXPECT_EQ(stderr_of([] { error_at_input("e"); }), "velk++: error: e\n");
  }
  unsetenv("VELK_EXTRA_DIAGNOSTIC_OUTPUT");

  setenv("VELK_EXTRA_DIAGNOSTIC_OUTPUT", "fixits-v1", 1);
  engine_init(e, 0);
  unsetenv("VELK_EXTRA_DIAGNOSTIC_OUTPUT");
  diagnostic_record d;
  const location_t where[] = {unknown_location};
  diagnostic_set_info(d, "replace it", {}, 0, where, kind_error);
  d.fixits.push_back({"dir/a \"b\".c", 1, 2, 1, 4, "x\ty\\"});
  EXPECT_EQ(stderr_of([&] { engine_report(global_engine, d); }),
            "velk++: error: replace it\n"
            "fix-it:\"dir/a \\\"b\\\".c\":{1:2-1:4}:\"x\\ty\\\\\"\n");
}

TEST(EscapedString, CEscapesAndOctal) {
  std::string out;
  print_escaped_string(out, "a\\b\t\n\"\x01\xff");
  EXPECT_EQ(out, "\"a\\\\b\\t\\n\\\"\\001\\377\"");
}

TEST_F(DiagnosticEngine, TerminalWidthAndCaretWidth) {
  struct {
    const char* columns;
    int width;
  } cases[] = {{nullptr, INT_MAX}, {"80", 80},       {"0", INT_MAX},
               {"-5", INT_MAX},    {"12x", INT_MAX}, {"", INT_MAX}};
  for (const auto& c : cases) {
    if (c.columns != nullptr)
      setenv("COLUMNS", c.columns, 1);
    else
      unsetenv("COLUMNS");
    EXPECT_EQ(terminal_width(), c.width) << (c.columns ? c.columns : "unset");
  }
  unsetenv("COLUMNS");
  set_caret_width(e, 10);
  EXPECT_EQ(e.caret_width, 9);
  set_caret_width(e, 1);
  EXPECT_EQ(e.caret_width, INT_MAX);
  std::FILE* f = std::tmpfile();
  e.printer->buffer->stream = f; // not a terminal
  set_caret_width(e, 0);
  EXPECT_EQ(e.caret_width, INT_MAX);
  e.printer->buffer->stream = stderr;
  std::fclose(f);
  engine_set_message_length(e, 30);
  EXPECT_EQ(e.printer->line_cutoff, 30);
  EXPECT_EQ(e.caret_width, 29);
}

TEST(TrimSourcePath, RelativeToTheCommonTree) {
  // This file's tree is the tree of the diagnostics module.
  std::string here = __FILE__;
  std::string root = here.substr(0, here.rfind("/tests/") + 1);
  EXPECT_STREQ(trim_source_path((root + "driver/driver.cc").c_str()),
               "driver/driver.cc");
  EXPECT_STREQ(trim_source_path((root + "diagnostics/pretty_print.cc").c_str()),
               "pretty_print.cc");
}

TEST(JsonString, EscapesForJson) {
  EXPECT_EQ(json_string("a\"\\\n\t\x01\x7f\xff\xc3\xa9"),
            "\"a\\\"\\\\\\n\\t\\u0001\\u007f\\ufffd\xc3\xa9\"");
}

// Runs python3 with `script` on `file` and returns what it prints.
std::string python(const std::string& script, const std::string& file) {
  std::string command =
      std::string(VELK_PYTHON3) + " -c '" + script + "' '" + file + "' 2>&1";
  std::FILE* p = popen(command.c_str(), "r");
  std::string out;
  char buffer[256];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, p))
    out.append(buffer, n);
  pclose(p);
  return out;
}

class StructuredOutput : public DiagnosticEngine {
protected:
  void SetUp() override {
    DiagnosticEngine::SetUp();
    if (std::string(VELK_PYTHON3).empty())
      GTEST_SKIP() << "python3 not found";
    char dir[] = "/tmp/velk-diag-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
    e.option_name = option_name;
  }
  void TearDown() override {
    if (!dir_.empty())
      std::system(("rm -rf '" + dir_ + "'").c_str());
  }
  void report_some() {
    {
      diagnostic_group group;
      error_at_input("bad %qs", "x\"y\x01");
      inform(unknown_location, "see here");
    }
    warning_at_input(2, "careful");
  }
  std::string dir_;
};

const char* const json_summary =
    "import json,sys\n"
    "for d in json.load(open(sys.argv[1])):\n"
    "  print(d[\"kind\"], \"|\", d[\"message\"], \"|\", d.get(\"option\"),"
    " \"|\", [c[\"message\"] for c in d[\"children\"]])\n";

TEST_F(StructuredOutput, JsonFile) {
  diagnostic_output_format_init(e, dir_ + "/out", output_format_json_file);
  EXPECT_EQ(stderr_of([this] { report_some(); }), "");
  engine_finish(e);
  EXPECT_EQ(python(json_summary, dir_ + "/out.json"),
            "error | bad 'x\"y\\x01' | None | ['see here']\n"
            "warning | careful | -Wopt2 | []\n");
}

TEST_F(StructuredOutput, SarifFile) {
  diagnostic_output_format_init(e, dir_ + "/out", output_format_sarif_file);
  stderr_of([this] { report_some(); });
  engine_finish(e);
  EXPECT_EQ(
      python(
          "import json,sys\n"
          "d = json.load(open(sys.argv[1]))\n"
          "r = d[\"runs\"][0]\n"
          "print(d[\"version\"], r[\"tool\"][\"driver\"][\"name\"],"
          " r[\"invocations\"][0][\"executionSuccessful\"],"
          " [x[\"id\"] for x in r[\"tool\"][\"driver\"][\"rules\"]])\n"
          "for x in r[\"results\"]:\n"
          "  print(x[\"level\"], x.get(\"ruleId\"), x[\"message\"][\"text\"],"
          " len(x.get(\"relatedLocations\", [])))\n",
          dir_ + "/out.sarif"),
      "2.1.0 velk++ False ['-Wopt2']\n"
      "error None bad 'x\"y\\x01' 1\n"
      "warning -Wopt2 careful 0\n");
}

// On standard error the document is all there is: the notices that would
// break it are left out.
TEST_F(StructuredOutput, JsonOnStandardErrorAfterAFatalError) {
  std::string file = dir_ + "/stderr.txt";
  EXPECT_EXIT(
      {
        if (!std::freopen(file.c_str(), "w", stderr))
          std::exit(99);
        diagnostic_output_format_init(global_engine, "",
                                      output_format_json_stderr);
        error_at_input("first");
        fnotice(stderr, "dropped\n");
        fatal_error(unknown_location, "no input files");
      },
      ExitedWithCode(1), "");
  EXPECT_EQ(python(json_summary, file),
            "error | first | None | []\n"
            "fatal error | no input files | None | []\n");
}

TEST_F(StructuredOutput, SarifOnStandardErrorAtExit) {
  std::string file = dir_ + "/stderr.txt";
  EXPECT_EXIT(
      {
        if (!std::freopen(file.c_str(), "w", stderr))
          std::exit(99);
        diagnostic_output_format_init(global_engine, "",
                                      output_format_sarif_stderr);
        warning_at_input(0, "only a warning");
        std::exit(0);
      },
      ExitedWithCode(0), "");
  EXPECT_EQ(python("import json,sys\n"
                   "d = json.load(open(sys.argv[1]))\n"
                   "r = d[\"runs\"][0]\n"
                   "print(r[\"invocations\"][0][\"executionSuccessful\"],"
                   " r[\"results\"][0][\"message\"][\"text\"])\n",
                   file),
            "True only a warning\n");
}

} // namespace
} // namespace velk
