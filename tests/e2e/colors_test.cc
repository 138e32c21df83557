// End-to-end cases of colour and hyperlink settings: the rules of
// -fdiagnostics-color= and -fdiagnostics-urls=, the terminal tests behind
// "auto", and VELK_COLORS, checked byte for byte on standard error.
#include "tests/e2e/harness.h"

#include <gtest/gtest.h>
#include <string>

namespace velk::test {
namespace {

std::string sgr(const std::string& parameters) {
  return "\33[" + parameters + "m\33[K";
}
const std::string stop = "\33[m\33[K";

// One diagnostic line with colours: the program name in `locus`, the label
// in `label_color`.
std::string line(const std::string& label, const std::string& label_color,
                 const std::string& message,
                 const std::string& locus = sgr("01")) {
  return locus + "velk++:" + stop + " " + label_color + label + stop + message +
         "\n";
}
std::string quoted(const std::string& text,
                   const std::string& quote = sgr("01")) {
  return "'" + quote + text + stop + "'";
}

const std::string plain_no_input =
    "velk++: fatal error: no input files\ncompilation terminated.\n";
const std::string colored_no_input =
    line("fatal error: ", sgr("01;31"), "no input files") +
    "compilation terminated.\n";

struct color_case {
  const char* what;
  std::vector<std::string> args;
  std::map<std::string, std::string> env;
  bool terminal;
  std::string expected;
};

class Colors : public ::testing::TestWithParam<color_case> {};

TEST_P(Colors, StandardErrorIsExact) {
  const color_case& c = GetParam();
  sandbox box;
  run_result r = box.run(c.args, {.env = c.env, .stderr_terminal = c.terminal});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err, c.expected);
}

const std::map<std::string, std::string> dumb = {{"TERM", "dumb"}};
const std::map<std::string, std::string> xterm = {{"TERM", "xterm-256color"}};

std::map<std::string, std::string> with(std::map<std::string, std::string> env,
                                        const std::string& name,
                                        const std::string& value) {
  env[name] = value;
  return env;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, Colors,
    ::testing::Values(
        // Without an option, colour needs TERM (not "dumb") and a terminal.
        color_case{"auto_on_a_terminal", {}, xterm, true, colored_no_input},
        color_case{"auto_into_a_file", {}, xterm, false, plain_no_input},
        color_case{"auto_without_term", {}, {}, true, plain_no_input},
        color_case{"auto_dumb_terminal", {}, dumb, true, plain_no_input},
        color_case{"explicit_auto_dumb",
                   {"-fdiagnostics-color=auto"},
                   dumb,
                   true,
                   plain_no_input},
        color_case{"never_on_a_terminal",
                   {"-fdiagnostics-color=never"},
                   xterm,
                   true,
                   plain_no_input},
        color_case{"always_under_dumb",
                   {"-fdiagnostics-color=always"},
                   dumb,
                   false,
                   colored_no_input},
        color_case{"bare_option_is_always",
                   {"-fdiagnostics-color"},
                   dumb,
                   false,
                   colored_no_input},
        color_case{"negated_bare_option_is_never",
                   {"-fno-diagnostics-color"},
                   xterm,
                   true,
                   plain_no_input},
        color_case{"plain_output_is_never",
                   {"-fdiagnostics-plain-output"},
                   xterm,
                   true,
                   plain_no_input},
        color_case{"last_option_wins",
                   {"-fdiagnostics-color=never", "-fdiagnostics-color=always"},
                   dumb,
                   false,
                   colored_no_input},
        color_case{"last_option_wins_off",
                   {"-fdiagnostics-color=always", "-fdiagnostics-color=never"},
                   xterm,
                   true,
                   plain_no_input}),
    [](const auto& info) { return std::string(info.param.what); });

INSTANTIATE_TEST_SUITE_P(
    VelkColors, Colors,
    ::testing::Values(
        color_case{"changed_colour",
                   {"-fdiagnostics-color=always"},
                   with(dumb, "VELK_COLORS", "error=01;32"),
                   false,
                   line("fatal error: ", sgr("01;32"), "no input files") +
                       "compilation terminated.\n"},
        // Read again under auto when the terminal allows colour.
        color_case{
            "changed_colour_auto",
            {},
            with(xterm, "VELK_COLORS", "locus=04:error=07"),
            true,
            line("fatal error: ", sgr("07"), "no input files", sgr("04")) +
                "compilation terminated.\n"},
        color_case{"unknown_name_is_ignored",
                   {"-fdiagnostics-color=always"},
                   with(dumb, "VELK_COLORS", "nosuch=01;33:error=01;32"),
                   false,
                   line("fatal error: ", sgr("01;32"), "no input files") +
                       "compilation terminated.\n"},
        color_case{"entry_without_value_is_ignored",
                   {"-fdiagnostics-color=always"},
                   with(dumb, "VELK_COLORS", "locus:error=01;32"),
                   false,
                   line("fatal error: ", sgr("01;32"), "no input files") +
                       "compilation terminated.\n"},
        color_case{"empty_value",
                   {"-fdiagnostics-color=always"},
                   with(dumb, "VELK_COLORS", "error="),
                   false,
                   line("fatal error: ", sgr(""), "no input files") +
                       "compilation terminated.\n"},
        // An entry with an empty name stops the parsing: the entries before
        // it hold, the ones after it do not.
        color_case{"empty_name_stops",
                   {"-fdiagnostics-color=always"},
                   with(dumb, "VELK_COLORS", "error=01;32:=01;33:locus=04"),
                   false,
                   line("fatal error: ", sgr("01;32"), "no input files") +
                       "compilation terminated.\n"},
        color_case{
            "bad_character_stops",
            {"-fdiagnostics-color=always"},
            with(dumb, "VELK_COLORS", "locus=04:error=01;3x:note=07"),
            false,
            line("fatal error: ", sgr("01;31"), "no input files", sgr("04")) +
                "compilation terminated.\n"},
        color_case{
            "second_equals_stops",
            {"-fdiagnostics-color=always"},
            with(dumb, "VELK_COLORS", "locus=04:error=1=2"),
            false,
            line("fatal error: ", sgr("01;31"), "no input files", sgr("04")) +
                "compilation terminated.\n"},
        color_case{"empty_turns_colour_off",
                   {"-fdiagnostics-color=always"},
                   with(dumb, "VELK_COLORS", ""),
                   false,
                   plain_no_input}),
    [](const auto& info) { return std::string(info.param.what); });

// Every label and quote of the driver's messages carries its colour,
// including the error of an option written before -fdiagnostics-color=:
// that option takes effect before any other is handled.
INSTANTIATE_TEST_SUITE_P(
    Messages, Colors,
    ::testing::Values(
        color_case{"earlier_option_error",
                   {"-fmax-errors=many", "-fdiagnostics-color=always"},
                   dumb,
                   false,
                   line("error: ", sgr("01;31"),
                        "argument to " + quoted("-fmax-errors=") +
                            " should be a non-negative integer") +
                       colored_no_input},
        color_case{"error_and_note",
                   {"-fdiagnostics-urls=alway", "-fdiagnostics-color"},
                   dumb,
                   false,
                   line("error: ", sgr("01;31"),
                        "unrecognized argument in option " +
                            quoted("-fdiagnostics-urls=alway")) +
                       line("note: ", sgr("01;36"),
                            "valid arguments to " +
                                quoted("-fdiagnostics-urls=") +
                                " are: always auto never; did you mean " +
                                quoted("always") + "?") +
                       colored_no_input},
        color_case{"warning",
                   {"-pipe", "-save-temps", "-fdiagnostics-color=always"},
                   with(dumb, "VELK_COLORS", "quote=04"),
                   false,
                   line("warning: ", sgr("01;35"),
                        quoted("-pipe", sgr("04")) + " ignored because " +
                            quoted("-save-temps", sgr("04")) + " specified") +
                       colored_no_input}),
    [](const auto& info) { return std::string(info.param.what); });

// The driver's own messages carry no hyperlinks, so no hyperlink setting
// adds escapes to them: the output is the coloured or plain text alone.
INSTANTIATE_TEST_SUITE_P(
    Urls, Colors,
    ::testing::Values(color_case{"urls_always",
                                 {"-fdiagnostics-urls=always"},
                                 xterm,
                                 true,
                                 colored_no_input},
                      color_case{"urls_st_on_a_terminal",
                                 {},
                                 with(xterm, "VELK_URLS", "st"),
                                 true,
                                 colored_no_input},
                      color_case{"urls_always_without_colour",
                                 {"-fdiagnostics-urls=always",
                                  "-fdiagnostics-color=never"},
                                 with(xterm, "TERM_URLS", "bel"),
                                 true,
                                 plain_no_input}),
    [](const auto& info) { return std::string(info.param.what); });

} // namespace
} // namespace velk::test
