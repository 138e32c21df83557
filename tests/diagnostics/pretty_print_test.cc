// The pretty-printer: every directive and modifier, quoting in the POSIX and
// a UTF-8 locale, escaping of unprintable bytes, wrapping under a prefix,
// nesting, and the malformed formats that are internal errors.
#include "diagnostics/diagnostic.h"
#include "diagnostics/message_catalog.h"
#include "diagnostics/pretty_print.h"

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace velk {
namespace {

std::string format_with(message_printer& pp, std::string_view format,
                        const std::vector<format_arg>& args,
                        int saved_errno = 0) {
  format_job job;
  job.format = format;
  job.args = args;
  job.saved_errno = saved_errno;
  pp_format(pp, job);
  pp_output_formatted_text(pp);
  std::string text(pp_formatted_string(pp));
  pp_reset_output(pp);
  return text;
}

std::string format(std::string_view format,
                   const std::vector<format_arg>& args = {},
                   int saved_errno = 0) {
  message_printer pp;
  return format_with(pp, format, args, saved_errno);
}

struct directive_case {
  const char* format;
  std::vector<format_arg> args;
  std::string expected;
};

const int numbers[] = {1, -2, 30};

// Every directive in the POSIX locale, where both quotes are apostrophes.
TEST(PrettyPrint, DirectivesTable) {
  // Arguments are views: the string must outlive the table.
  const std::string owned_a = "a";
  const std::vector<directive_case> cases = {
      {"plain text", {}, "plain text"},
      {"100%%", {}, "100%"},
      {"%s", {"foo"}, "foo"},
      {"%s and %s", {owned_a, std::string_view("b")}, "a and b"},
      {"%qs", {"foo"}, "'foo'"},
      {"%<-Wall%>", {}, "'-Wall'"},
      {"it%'s", {}, "it's"},
      {"%R", {}, ""},
      {"%}", {}, ""},
      {"%c", {'a'}, "a"},
      {"%qc", {'\t'}, "'\\x09'"},
      {"%d %i", {-5, 42}, "-5 42"},
      {"%ld", {1L << 40}, "1099511627776"},
      {"%lld", {-(1LL << 62)}, "-4611686018427387904"},
      {"%wd", {static_cast<std::int64_t>(-1) << 63}, "-9223372036854775808"},
      {"%d", {3000000000u}, "-1294967296"}, // as printf would with an int
      {"%u", {4294967295u}, "4294967295"},
      {"%u", {-1}, "4294967295"},
      {"%lu", {18446744073709551615ul}, "18446744073709551615"},
      {"%llu", {10ull}, "10"},
      {"%wu", {7u}, "7"},
      {"%o %lo %llo %wo", {8u, 9ul, 64ull, 7u}, "10 11 100 7"},
      {"%x", {255u}, "ff"},
      {"%lx", {255ul}, "ff"},
      {"%llx", {4095ull}, "fff"},
      {"%wx", {255u}, "0xff"},
      {"%wx", {0u}, "0"},
      {"%f", {1.5}, "1.500000"},
      {"%f", {-0.25f}, "-0.250000"},
      {"%p", {nullptr}, "(nil)"},
      {"%p", {reinterpret_cast<const void*>(0x1234)}, "0x1234"},
      {"%.3s", {"abcdef"}, "abc"},
      {"%.10s", {"abc"}, "abc"},
      {"%.*s", {3, "abcdef"}, "abc"},
      {"%.*s", {-1, "abcdef"}, "abcdef"},
      {"%.*s", {0, "abcdef"}, ""},
      {"%q.*s!", {2, "xyz"}, "'xy'!"},
      {"%2$s %1$s", {"first", "second"}, "second first"},
      {"%2$.*1$s|%3$d", {2, "abcd", 7}, "ab|7"},
      {"%Z", {std::span<const int>(numbers)}, "1, -2, 30"},
      {"[%Z]", {std::vector<int>{}}, "[]"},
      {"%@ then %@",
       {diagnostic_event_id{0}, diagnostic_event_id{41}},
       "(1) then (42)"},
      {"%rred%R", {"error"}, "red"},
      {"%{link%}", {"https://example.org"}, "link"},
      {"%s", {static_cast<const char*>(nullptr)}, "(null)"},
  };
  for (const directive_case& c : cases)
    EXPECT_EQ(format(c.format, c.args), c.expected) << c.format;
}

TEST(PrettyPrint, PercentMUsesTheSavedErrorNumber) {
  errno = EACCES; // the number current when the text is printed
  EXPECT_EQ(format("%s: %m", {"f"}, ENOENT), "f: No such file or directory");
  EXPECT_EQ(format("%m", {}, 123456), "undocumented error #123456");

  // The formatting functions save errno when they are called.
  message_printer pp;
  errno = ENOENT;
  pp_format_and_output(pp, "%m");
  EXPECT_EQ(pp_formatted_string(pp), "No such file or directory");
}

// Text from outside (arguments) never carries a control byte or invalid
// UTF-8 to the output, quoted or not; valid UTF-8 passes.
TEST(PrettyPrint, UnprintableBytesAreEscaped) {
  const std::vector<directive_case> cases = {
      {"%qs", {"a\x01"}, "'a\\x01'"},
      {"%qs", {"caf\xc3\xa9"}, "'caf\xc3\xa9'"},
      {"%qs", {"\xc3"}, "'\\xc3'"},
      {"%qs", {"\xe2\x80\x98ok\xe2\x80\x99"}, "'\xe2\x80\x98ok\xe2\x80\x99'"},
      {"%qs", {"\xc0\x80"}, "'\\xc0\\x80'"},          // overlong
      {"%qs", {"\xed\xa0\x80"}, "'\\xed\\xa0\\x80'"}, // surrogate
      {"%qs", {"a\x7f"}, "'a\\x7f'"},
      // C1 controls (here U+009B, a control sequence introducer) are
      // escape sequences on a terminal even when well-formed.
      {"%qs",
       {"\xc2\x9b"
        "2J"},
       "'\\xc2\\x9b2J'"},
      {"%s", {"\x1b[31mred"}, "\\x1b[31mred"},
      {"%s", {"two\nlines"}, "two\\x0alines"},
      {"%s", {"tab\there"}, "tab\\x09here"},
      {"%.*s", {4, "\x1b]0;"}, "\\x1b]0;"},
      {"%c", {'\t'}, "\\x09"},
      {"%c", {'\x1b'}, "\\x1b"},
      {"unrecognized command-line option %<-%s%>",
       {"\x1b]0;owned\x07"},
       "unrecognized command-line option '-\\x1b]0;owned\\x07'"},
  };
  for (const directive_case& c : cases)
    EXPECT_EQ(format(c.format, c.args), c.expected) << c.format;
  EXPECT_EQ(escape_unprintable("ok\xff\x01"), "ok\\xff\\x01");
}

TEST(PrettyPrint, ColourAndHyperlinkEscapes) {
  message_printer pp;
  pp.use_color = true;
  const std::string quote_on = "\33[01m\33[K", off = "\33[m\33[K";
  EXPECT_EQ(format_with(pp, "%<-o%>", {}), "'" + quote_on + "-o" + off + "'");
  EXPECT_EQ(format_with(pp, "%qs", {"-o"}), "'" + quote_on + "-o" + off + "'");
  EXPECT_EQ(format_with(pp, "%rx%R", {"error"}), "\33[01;31m\33[Kx" + off);
  EXPECT_EQ(format_with(pp, "%rx", {"no-such-colour"}), "x");
  EXPECT_EQ(format_with(pp, "%@", {diagnostic_event_id{2}}),
            "\33[01;36m\33[K(3)" + off);

  pp.use_color = false;
  pp.url_style = url_format_st;
  EXPECT_EQ(format_with(pp, "%{docs%}", {"https://x.org/a"}),
            "\33]8;;https://x.org/a\33\\docs\33]8;;\33\\");
  pp.url_style = url_format_bel;
  EXPECT_EQ(format_with(pp, "%{docs%}", {"https://x.org/a"}),
            "\33]8;;https://x.org/a\adocs\33]8;;\a");
  // An address is argument text too.
  EXPECT_EQ(format_with(pp, "%{%}", {"u\x1b"}), "\33]8;;u\\x1b\a\33]8;;\a");
}

class LocaleQuotes : public ::testing::Test {
protected:
  void TearDown() override {
    setenv("LC_ALL", "C", 1);
    init_message_catalog();
  }
};

TEST_F(LocaleQuotes, PosixLocaleUsesApostrophes) {
  setenv("LC_ALL", "C", 1);
  init_message_catalog();
  EXPECT_EQ(quote_open_text(), "'");
  EXPECT_EQ(quote_close_text(), "'");
  EXPECT_FALSE(locale_is_utf8());
  EXPECT_EQ(format("%qs %<x%> %'", {"foo"}), "'foo' 'x' '");
}

TEST_F(LocaleQuotes, Utf8LocaleWithoutTranslationsUsesSingleQuotes) {
  setenv("LC_ALL", "C.UTF-8", 1);
  init_message_catalog();
  if (!locale_is_utf8())
    GTEST_SKIP() << "no C.UTF-8 locale on this machine";
  EXPECT_EQ(quote_open_text(), "\xe2\x80\x98");
  EXPECT_EQ(quote_close_text(), "\xe2\x80\x99");
  EXPECT_EQ(format("%qs %<x%> %'", {"foo"}),
            "\xe2\x80\x98"
            "foo\xe2\x80\x99 \xe2\x80\x98x\xe2\x80\x99 "
            "\xe2\x80\x99");
  EXPECT_EQ(identifier_for_locale("caf\xc3\xa9"), "caf\xc3\xa9");
}

TEST(PrettyPrint, NumberedArgumentsMayComeInAnyOrder) {
  EXPECT_EQ(format("%3$s%1$s%2$s", {"a", "b", "c"}), "cab");
  EXPECT_EQ(format("%1$qs and %2$d", {"x", 2}), "'x' and 2");
}

// The arguments of an outer message survive a message formatted and
// printed while it is pending.
TEST(PrettyPrint, NestedMessagesLeaveTheOuterOneIntact) {
  message_printer pp;
  std::vector<format_arg> outer = {"outer", 1};
  format_job job;
  job.format = "[%s %d]";
  job.args = outer;
  pp_format(pp, job);
  pp_format_and_output(pp, "(%s)", "inner");
  pp_output_formatted_text(pp);
  EXPECT_EQ(pp_formatted_string(pp), "(inner)[outer 1]");
}

bool decode_type(message_printer& pp, const format_job&,
                 std::string_view directive, const format_arg& arg, int, bool,
                 bool plus, bool, bool& quote) {
  if (directive != "T")
    return false;
  if (plus) // the decoder takes the quoting over
    quote = false;
  pp_put_text(pp, "type ");
  pp_put_text(pp, arg.string());
  return true;
}

TEST(PrettyPrint, DirectiveDecoderFormatsUnknownConversions) {
  message_printer pp;
  pp.directive_decoder = decode_type;
  EXPECT_EQ(format_with(pp, "%T", {"int"}), "type int");
  EXPECT_EQ(format_with(pp, "%qT", {"int"}), "'type int'");
  EXPECT_EQ(format_with(pp, "%q+T", {"int"}), "type int");
}

TEST(PrettyPrint, WrapsUnderAPrefixAtTheCutoff) {
  message_printer pp(40);
  pp_install_prefix(pp, "velk++: error: ");
  pp_format_and_output(pp, "%s",
                       "the quick brown fox jumps over the lazy dog and "
                       "keeps running far away");
  EXPECT_EQ(pp_formatted_string(pp), "velk++: error: the quick brown fox \n"
                                     "   jumps over the lazy dog and keeps \n"
                                     "   running far away");
  pp_reset_output(pp);
  pp_flush_to_stream(pp); // a new message: the prefix leads again

  // A word longer than a line stays after the prefix rather than leaving
  // a line of its own; the blank after it, with no room left, becomes the
  // line break.
  pp_format_and_output(
      pp, "%s", "supercalifragilisticexpialidocious-and-more is 1234567890123");
  EXPECT_EQ(pp_formatted_string(pp),
            "velk++: error: supercalifragilisticexpialidocious-and-more\n"
            "   is 1234567890123");
  pp_reset_output(pp);
  pp_flush_to_stream(pp);

  // Newlines in the format end lines; continuation lines are indented.
  pp_format_and_output(pp, "first\nsecond");
  EXPECT_EQ(pp_formatted_string(pp), "velk++: error: first\n   second");
}

TEST(PrettyPrint, EveryLinePrefixWidensTheLineWhenItIsLong) {
  message_printer pp(40);
  pp.prefix_rule = prefix_every_line;
  pp_install_prefix(pp, "0123456789");
  EXPECT_EQ(pp.maximum_length, 72); // 40 - 10 is less than 32
  pp_install_prefix(pp, "> ");
  EXPECT_EQ(pp.maximum_length, 40);
  pp_format_and_output(pp, "a\nb");
  EXPECT_EQ(pp_formatted_string(pp), "> a\n> b");
  pp_reset_output(pp);
  pp_set_line_cutoff(pp, 0);
  EXPECT_EQ(pp.maximum_length, 0);
}

TEST(PrettyPrint, VerbatimOutputHasNeitherPrefixNorWrapping) {
  message_printer pp(10);
  pp_install_prefix(pp, "p: ");
  pp_format_verbatim_output(pp, "%s stays on one line", "this");
  EXPECT_EQ(pp_formatted_string(pp), "this stays on one line");
  EXPECT_EQ(pp.line_cutoff, 10);
  EXPECT_EQ(pp.prefix_rule, prefix_once);
}

TEST(PrettyPrint, CloneKeepsSettingsButNotThePrefix) {
  message_printer pp(50);
  pp.use_color = true;
  pp.url_style = url_format_st;
  pp.prefix_rule = prefix_every_line;
  pp_install_prefix(pp, "0123456789012345678901234");
  std::unique_ptr<message_printer> copy = pp.clone();
  EXPECT_FALSE(copy->prefix);
  EXPECT_EQ(copy->line_cutoff, pp.maximum_length);
  EXPECT_EQ(copy->maximum_length, pp.maximum_length);
  EXPECT_TRUE(copy->use_color);
  EXPECT_EQ(copy->url_style, url_format_st);
  EXPECT_EQ(copy->prefix_rule, prefix_every_line);
  EXPECT_EQ(copy->buffer->stream, stderr);
}

TEST(PrettyPrint, GraphAndHtmlEscapes) {
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  message_printer pp;
  pp.buffer->stream = f;
  pp_put_text(pp, "a|b \"c\"\nd<e>");
  pp_write_text_as_dot_label_to_stream(pp, true);
  pp_put_text(pp, "a|b\n");
  pp_write_text_as_dot_label_to_stream(pp, false);
  pp_put_text(pp, "<a href=\"x\">&</a>");
  pp_write_text_as_html_escaped_to_stream(pp);
  std::rewind(f);
  std::string written(256, '\0');
  written.resize(std::fread(written.data(), 1, written.size(), f));
  std::fclose(f);
  EXPECT_EQ(written, "a\\|b\\ \\\"c\\\"\\l\\\nd\\<e\\>"
                     "a|b\\l\\\n"
                     "&lt;a href=&quot;x&quot;&gt;&amp;&lt;/a&gt;");
  EXPECT_EQ(pp_formatted_string(pp), "");
}

TEST(PrettyPrint, IdentifiersForTheLocale) {
  setenv("LC_ALL", "C", 1);
  init_message_catalog();
  EXPECT_EQ(identifier_for_locale("plain_name"), "plain_name");
  EXPECT_EQ(identifier_for_locale("a\x01"
                                  "b"),
            "a\\001b");
  EXPECT_EQ(identifier_for_locale("a\xc3"), "a\\303");
  // ASCII cannot show U+00E9.
  EXPECT_EQ(identifier_for_locale("caf\xc3\xa9"), "caf\\U000000e9");
}

// Malformed formats are faults of the program: an internal error naming
// the printer, with status 4.
TEST(PrettyPrintDeathTest, MalformedFormatsAreInternalErrors) {
  const std::vector<directive_case> cases = {
      {"trailing %", {}, ""},
      {"%1$s %s", {"a", "b"}, ""}, // numbered, then unnumbered
      {"%s %2$s", {"a", "b"}, ""}, // unnumbered, then numbered
      {"%1$s-%1$s", {"x"}, ""},    // number used twice
      {"%31$s", {"x"}, ""},        // beyond 30 arguments
      {"%0$s", {"x"}, ""},
      {"%1s", {"x"}, ""},       // digits without '$'
      {"%2$s", {"a", "b"}, ""}, // argument 1 never used
      {"%qqs", {"x"}, ""},
      {"%lllu", {1u}, ""},
      {"%lwu", {1u}, ""},
      {"%++T", {1}, ""},
      {"%.x", {"x"}, ""},
      {"%.*d", {1, 2}, ""},
      {"%2$.*3$s", {1, "x", 2}, ""}, // precision must be number - 1
      {"%y", {1}, ""},               // no decoder knows 'y'
      {"%s", {1}, ""},               // wrong kind of argument
      {"%d", {"x"}, ""},
      {"%f", {1}, ""},
      {"%s %s", {"only one"}, ""},
      {"%@", {diagnostic_event_id{}}, ""},
  };
  set_program_name("velk++");
  for (const directive_case& c : cases) {
    EXPECT_EXIT(
        {
          engine_init(global_engine, 0);
          format(c.format, c.args);
        },
        ::testing::ExitedWithCode(4),
        "^velk\\+\\+: internal compiler error: in pp_format, at "
        "pretty_print\\.cc:[0-9]+\n")
        << c.format;
  }
}

TEST(PrettyPrintDeathTest, TooManyArgumentsOrChunks) {
  std::string thirty_one, thirty;
  std::vector<format_arg> args;
  for (int i = 1; i <= 31; ++i) {
    thirty_one += "%" + std::to_string(i) + "$d";
    args.emplace_back(i);
  }
  // 29 directives make 59 chunks with the texts around them; 30 make 61.
  std::string twenty_nine;
  for (int i = 0; i < 29; ++i)
    twenty_nine += "%d";
  EXPECT_EQ(format(twenty_nine, args).size(), 1u * 9 + 2u * 20);
  for (int i = 0; i < 30; ++i)
    thirty += "%d";
  for (const std::string& f : {thirty_one, thirty})
    EXPECT_EXIT(
        {
          engine_init(global_engine, 0);
          format(f, args);
        },
        ::testing::ExitedWithCode(4), "internal compiler error: in pp_format")
        << f;
  // Before the engine exists the report goes straight out and aborts.
  EXPECT_DEATH(
      {
        global_engine = diagnostic_engine();
        format("%", {});
      },
      "^internal compiler error: in pp_format, at pretty_print\\.cc");
}

} // namespace
} // namespace velk
