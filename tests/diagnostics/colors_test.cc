// Colours and hyperlinks: the colour table and VELK_COLORS, the terminal
// tests behind "auto", the choice of hyperlink terminator, and what the
// engine prints under each setting.  Standard error is put on a
// pseudo-terminal where a case needs one.
#include "diagnostics/colors.h"
#include "diagnostics/diagnostic.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <optional>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace velk {
namespace {

using ::testing::ExitedWithCode;

// While it lives, descriptor 2 is a pseudo-terminal in raw mode; take()
// returns what was written to it.
class stderr_on_terminal {
public:
  stderr_on_terminal() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
      throw std::runtime_error("no pseudo-terminal");
    slave_ = open(ptsname(master_), O_RDWR | O_NOCTTY);
    termios mode;
    if (slave_ < 0 || tcgetattr(slave_, &mode) != 0)
      throw std::runtime_error("no pseudo-terminal");
    cfmakeraw(&mode);
    tcsetattr(slave_, TCSANOW, &mode);
    std::fflush(stderr);
    saved_ = dup(2);
    dup2(slave_, 2);
  }
  stderr_on_terminal(const stderr_on_terminal&) = delete;
  stderr_on_terminal& operator=(const stderr_on_terminal&) = delete;
  ~stderr_on_terminal() {
    std::fflush(stderr);
    dup2(saved_, 2);
    close(saved_);
    close(slave_);
    close(master_);
  }

  std::string take() {
    std::fflush(stderr);
    std::string text;
    // The terminal passes the bytes on asynchronously: wait for the first,
    // then take what follows without a pause.
    pollfd p = {master_, POLLIN, 0};
    for (int wait = 2000; poll(&p, 1, wait) > 0; wait = 50) {
      char buf[512];
      ssize_t n = read(master_, buf, sizeof buf);
      if (n <= 0)
        break;
      text.append(buf, static_cast<std::size_t>(n));
    }
    return text;
  }

private:
  int master_ = -1, slave_ = -1, saved_ = -1;
};

const char* const variables[] = {"TERM", "COLORTERM", "VELK_COLORS",
                                 "VELK_URLS", "TERM_URLS"};

class Colors : public ::testing::Test {
protected:
  void SetUp() override {
    for (const char* v : variables)
      unsetenv(v);
    reset_color_table();
    set_program_name("velk++");
    engine_init(global_engine, 0);
  }
  void TearDown() override {
    for (const char* v : variables)
      unsetenv(v);
    reset_color_table();
  }
  static void set(const char* name, std::optional<const char*> value) {
    if (value)
      setenv(name, *value, 1);
    else
      unsetenv(name);
  }
};

std::string sgr(const std::string& parameters) {
  return "\33[" + parameters + "m\33[K";
}

TEST_F(Colors, StartAndStopSequences) {
  EXPECT_EQ(color_start_sequence(true, "error"), sgr("01;31"));
  EXPECT_EQ(color_start_sequence(true, "type-diff"), sgr("01;32"));
  EXPECT_EQ(color_start_sequence(true, "diff-hunk"), sgr("36"));
  EXPECT_EQ(color_start_sequence(true, "err"), ""); // names match whole
  EXPECT_EQ(color_start_sequence(true, "errors"), "");
  EXPECT_EQ(color_start_sequence(true, ""), "");
  EXPECT_EQ(color_start_sequence(false, "error"), "");
  EXPECT_EQ(color_stop_sequence(true), "\33[m\33[K");
  EXPECT_EQ(color_stop_sequence(false), "");
}

TEST_F(Colors, VelkColorsIsAppliedUpToTheFirstBadCharacter) {
  struct {
    std::optional<const char*> value;
    bool on;
    const char* error;
    const char* locus;
  } cases[] = {
      {std::nullopt, true, "01;31", "01"},
      {"", false, "01;31", "01"},
      {"error=01;32", true, "01;32", "01"},
      {"error=01;32:locus=04", true, "01;32", "04"},
      {"error=01;32:", true, "01;32", "01"},
      {":error=7", true, "7", "01"},
      {"error=", true, "", "01"},
      {"error", true, "01;31", "01"},           // no '=': ignored
      {"nosuch=1:locus=4", true, "01;31", "4"}, // unknown name ignored
      {"errorx=1:locus=4", true, "01;31", "4"},
      {"locus=4:=1:error=2", true, "01;31", "4"}, // empty name stops
      {"=1:error=2", true, "01;31", "01"},
      {"locus=4:error=1=2", true, "01;31", "4"}, // second '=' stops
      {"locus=4:error=1x:note=3", true, "01;31", "4"},
      {"locus=4:error=0x1f", true, "01;31", "4"},
      {"error=2;xx", true, "01;31", "01"},
      {"locus=4:error=2 ", true, "01;31", "4"},
      {"loc:us=4", true, "01;31", "01"}, // "us" is no colour
  };
  for (const auto& c : cases) {
    reset_color_table();
    set("VELK_COLORS", c.value);
    std::string what = c.value ? *c.value : "(unset)";
    EXPECT_EQ(parse_color_env(), c.on) << what;
    EXPECT_EQ(color_start_sequence(true, "error"), sgr(c.error)) << what;
    EXPECT_EQ(color_start_sequence(true, "locus"), sgr(c.locus)) << what;
    EXPECT_EQ(color_start_sequence(true, "note"), sgr("01;36")) << what;
  }
}

TEST_F(Colors, VelkColorsIsReappliedOverTheCurrentTable) {
  set("VELK_COLORS", "error=01;32:warning=7");
  EXPECT_TRUE(colorize_init(color_rule_always));
  set("VELK_COLORS", "warning=4:warning=5");
  EXPECT_TRUE(colorize_init(color_rule_always));
  EXPECT_EQ(color_start_sequence(true, "error"), sgr("01;32"));
  EXPECT_EQ(color_start_sequence(true, "warning"), sgr("5"));
  // Never does not read it.
  set("VELK_COLORS", "error=1");
  EXPECT_FALSE(colorize_init(color_rule_never));
  EXPECT_EQ(color_start_sequence(true, "error"), sgr("01;32"));
}

TEST_F(Colors, AutoNeedsTermAndATerminal) {
  EXPECT_FALSE(terminal_allows_color()); // the test's standard error
  set("TERM", "xterm");
  EXPECT_FALSE(colorize_init(color_rule_auto));
  EXPECT_TRUE(colorize_init(color_rule_always));
  stderr_on_terminal terminal;
  EXPECT_TRUE(terminal_allows_color());
  EXPECT_TRUE(colorize_init(color_rule_auto));
  set("VELK_COLORS", "");
  EXPECT_FALSE(colorize_init(color_rule_auto));
  set("VELK_COLORS", std::nullopt);
  set("TERM", "dumb");
  EXPECT_FALSE(colorize_init(color_rule_auto));
  set("TERM", std::nullopt);
  EXPECT_FALSE(colorize_init(color_rule_auto));
  set("TERM", "");
  EXPECT_TRUE(colorize_init(color_rule_auto));
}

TEST_F(Colors, EngineRulesSetThePrinter) {
  engine_color_init(global_engine, color_rule_always);
  EXPECT_TRUE(global_engine.printer->use_color);
  engine_color_init(global_engine, color_rule_unset); // auto: no terminal
  EXPECT_FALSE(global_engine.printer->use_color);
  engine_urls_init(global_engine, color_rule_always);
  EXPECT_EQ(global_engine.printer->url_style, url_format_bel);
  engine_urls_init(global_engine, -7); // any negative rule is auto
  EXPECT_EQ(global_engine.printer->url_style, url_format_none);
}

TEST_F(Colors, OtherRulesAreInternalErrors) {
  EXPECT_EXIT(colorize_init(3), ExitedWithCode(4), "internal compiler error");
  EXPECT_EXIT(determine_url_format(-1), ExitedWithCode(4),
              "internal compiler error");
}

TEST_F(Colors, HyperlinkStyle) {
  struct {
    int rule;
    bool terminal;
    std::optional<const char*> term, colorterm, velk_urls, term_urls;
    url_format expected;
  } cases[] = {
      {color_rule_never, true, "xterm-256color", {}, "st", {}, url_format_none},
      {color_rule_always, false, {}, {}, {}, {}, url_format_bel},
      {color_rule_always, false, {}, {}, "st", {}, url_format_st},
      {color_rule_always, false, {}, {}, "no", {}, url_format_none},
      {color_rule_always, false, {}, {}, "", "st", url_format_none},
      {color_rule_always, false, {}, {}, "bel", "st", url_format_bel},
      {color_rule_always, false, {}, {}, "yes", {}, url_format_bel},
      {color_rule_always, false, {}, {}, {}, "st", url_format_st},
      {color_rule_always, false, {}, {}, {}, "no", url_format_none},
      // Always ignores the terminal tests.
      {color_rule_always,
       false,
       "dumb",
       "gnome-terminal",
       {},
       {},
       url_format_bel},
      {color_rule_auto, true, "xterm-256color", {}, {}, {}, url_format_bel},
      {color_rule_auto, false, "xterm-256color", {}, {}, {}, url_format_none},
      {color_rule_auto, true, "dumb", {}, "st", {}, url_format_none},
      {color_rule_auto, true, {}, {}, "st", {}, url_format_none},
      {color_rule_auto, true, "xterm", {}, {}, {}, url_format_none},
      {color_rule_auto, true, "linux", {}, {}, {}, url_format_none},
      {color_rule_auto, true, "xterm", {}, "st", {}, url_format_st},
      {color_rule_auto, true, "xterm", {}, {}, "bel", url_format_bel},
      {color_rule_auto, true, "xterm", {}, "no", {}, url_format_none},
      {color_rule_auto, true, "linux", "truecolor", {}, {}, url_format_bel},
      {color_rule_auto,
       true,
       "xterm-256color",
       "gnome-terminal",
       "st",
       {},
       url_format_none},
      {color_rule_auto,
       true,
       "xterm-256color",
       "xfce4-terminal",
       {},
       "st",
       url_format_none},
  };
  stderr_on_terminal terminal;
  int saved = dup(2);
  int file = open("/dev/null", O_WRONLY);
  for (const auto& c : cases) {
    set("TERM", c.term);
    set("COLORTERM", c.colorterm);
    set("VELK_URLS", c.velk_urls);
    set("TERM_URLS", c.term_urls);
    if (!c.terminal)
      dup2(file, 2);
    EXPECT_EQ(determine_url_format(c.rule), c.expected)
        << c.rule << " " << c.term.value_or("-") << " "
        << c.colorterm.value_or("-") << " " << c.velk_urls.value_or("-") << " "
        << c.term_urls.value_or("-");
    dup2(saved, 2);
  }
  close(file);
  close(saved);
}

// What the engine prints: colours around the prefix and annotations, and a
// hyperlinked CWE annotation with each terminator.
TEST_F(Colors, EngineOutputUnderEachSetting) {
  global_engine.show_cwe = true;
  diagnostic_metadata meta;
  meta.cwe = 476;
  const std::string link = "https://cwe.mitre.org/data/definitions/476.html";
  struct {
    std::optional<const char*> velk_urls, velk_colors;
    int color_rule, url_rule;
    std::string expected;
  } cases[] = {
      {{},
       {},
       color_rule_never,
       color_rule_never,
       "velk++: warning: w 'q' [CWE-476]\n"},
      {{},
       {},
       color_rule_always,
       color_rule_never,
       sgr("01") + "velk++:\33[m\33[K " + sgr("01;35") +
           "warning: \33[m\33[Kw '" + sgr("01") + "q\33[m\33[K' [" +
           sgr("01;35") + "CWE-476\33[m\33[K]\n"},
      {{},
       "warning=04:quote=07:locus=",
       color_rule_always,
       color_rule_never,
       sgr("") + "velk++:\33[m\33[K " + sgr("04") + "warning: \33[m\33[Kw '" +
           sgr("07") + "q\33[m\33[K' [" + sgr("04") + "CWE-476\33[m\33[K]\n"},
      {{},
       {},
       color_rule_never,
       color_rule_always,
       "velk++: warning: w 'q' [\33]8;;" + link + "\aCWE-476\33]8;;\a]\n"},
      {"st",
       {},
       color_rule_never,
       color_rule_always,
       "velk++: warning: w 'q' [\33]8;;" + link +
           "\33\\CWE-476\33]8;;\33\\]\n"},
      {"no",
       {},
       color_rule_never,
       color_rule_always,
       "velk++: warning: w 'q' [CWE-476]\n"},
  };
  for (const auto& c : cases) {
    reset_color_table();
    set("VELK_URLS", c.velk_urls);
    set("VELK_COLORS", c.velk_colors);
    engine_color_init(global_engine, c.color_rule);
    engine_urls_init(global_engine, c.url_rule);
    ::testing::internal::CaptureStderr();
    warning_meta(unknown_location, meta, 0, "w %qs", "q");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.expected);
  }
}

// A report before the driver has set the engine up is coloured as the
// terminal allows, as the driver's first messages are.
TEST_F(Colors, ReportBeforeStartUpFollowsTheTerminal) {
  stderr_on_terminal terminal;
  for (const char* term : {"xterm-256color", "dumb"}) {
    set("TERM", term);
    global_engine = diagnostic_engine();
    error_at(unknown_location, "too early");
    std::string expected = std::strcmp(term, "dumb") == 0
                               ? "velk++: error: too early\n"
                               : sgr("01") + "velk++:\33[m\33[K " +
                                     sgr("01;31") +
                                     "error: \33[m\33[Ktoo early\n";
    EXPECT_EQ(terminal.take(), expected) << term;
  }
}

} // namespace
} // namespace velk
