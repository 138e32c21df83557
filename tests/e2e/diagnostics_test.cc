// End-to-end cases of the driver's diagnostics: translations found in a
// moved installed tree, escaping of what reaches the terminal, and the
// environment settings that must leave the driver's messages alone.
#include "tests/e2e/harness.h"

#include <clocale>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

namespace velk::test {
namespace {

const char* const no_input_files =
    "velk++: fatal error: no input files\ncompilation terminated.\n";

// A German catalogue for the messages of a run without input, with its own
// quote characters: the translation puts quotes where the original has
// none, to show which characters the translated %< %> produce.
const char* const german_po =
    "msgid \"\"\n"
    "msgstr \"\"\n"
    "\"Content-Type: text/plain; charset=UTF-8\\n\"\n"
    "\n"
    "msgid \"`\"\n"
    "msgstr \"\xe2\x80\x9e\"\n"
    "\n"
    "msgid \"'\"\n"
    "msgstr \"\xe2\x80\x9c\"\n"
    "\n"
    "msgid \"fatal error: \"\n"
    "msgstr \"schwerwiegender Fehler: \"\n"
    "\n"
    "msgid \"no input files\"\n"
    "msgstr \"keine Eingabedateien (siehe %<velk++ --help%>)\"\n"
    "\n"
    "msgid \"compilation terminated.\\n\"\n"
    "msgstr \"Kompilierung beendet.\\n\"\n";

const char* const german_no_input_files =
    "velk++: schwerwiegender Fehler: keine Eingabedateien (siehe "
    "\xe2\x80\x9evelk++ --help\xe2\x80\x9c)\nKompilierung beendet.\n";

std::string read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class Translations : public ::testing::Test {
protected:
  void SetUp() override {
    if (std::string(VELK_MSGFMT).empty() || std::string(VELK_POT).empty())
      GTEST_SKIP() << "gettext tools not found";
    box.write_file(box.root() + "/de.po", german_po);
    box.write_file(box.prefix() + "/share/locale/de/LC_MESSAGES/.keep");
    std::string command = std::string(VELK_MSGFMT) + " -o '" + box.prefix() +
                          "/share/locale/de/LC_MESSAGES/velk.mo' '" +
                          box.root() + "/de.po'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }
  sandbox box;
  const std::map<std::string, std::string> german = {{"LC_ALL", "C.UTF-8"},
                                                     {"LANGUAGE", "de"}};
};

// Every text the catalogue above translates is in the extracted template.
TEST_F(Translations, TemplateHoldsTheDriversMessages) {
  std::string pot = read_all(VELK_POT);
  for (const char* msgid :
       {"msgid \"no input files\"", "msgid \"atexit failed\"",
        "msgid \"fatal error: \"", "msgid \"compilation terminated.\\n\"",
        "msgid \"`\"", "msgid \"'\"",
        "msgid \"%s: all warnings being treated as errors\""})
    EXPECT_NE(pot.find(msgid), std::string::npos) << msgid;
}

// The installed tree has been moved (the sandbox is not the configured
// prefix): the catalogue is found relative to where velk++ runs.
TEST_F(Translations, MovedTreeFindsItsCatalogue) {
  run_result r = box.run({}, {.env = german});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err, german_no_input_files);

  // Found through PATH when invoked by name.
  std::map<std::string, std::string> env = german;
  env["PATH"] = box.prefix() + "/bin:/usr/bin:/bin";
  r = box.run({}, {.env = env, .argv0 = "velk++"});
  EXPECT_EQ(r.err, german_no_input_files);

  // The POSIX locale never translates.
  r = box.run({}, {.env = {{"LANGUAGE", "de"}}});
  EXPECT_EQ(r.err, no_input_files);
}

// Through a symbolic link the tree is where the link points, unless
// -no-canonical-prefixes asks for the link's own place.
TEST_F(Translations, SymbolicLinksAreResolvedUnlessAskedNotTo) {
  std::string link_dir = box.root() + "/elsewhere/bin";
  box.write_file(link_dir + "/.keep");
  ASSERT_EQ(symlink(box.driver().c_str(), (link_dir + "/velk++").c_str()), 0);
  run_result r = box.run({}, {.env = german, .program = link_dir + "/velk++"});
  EXPECT_EQ(r.err, german_no_input_files);
  r = box.run({"-no-canonical-prefixes"},
              {.env = german, .program = link_dir + "/velk++"});
  EXPECT_EQ(r.err, no_input_files);
}

// The C.UTF-8 locale, unlike C, does not stop translation: LANGUAGE is
// honoured and a catalogue filed under "C" or "C.UTF-8" is used.  A
// messages category of C stops it whatever the character type.
TEST_F(Translations, CUtf8LocaleStillTranslates) {
  struct {
    std::map<std::string, std::string> env;
    std::vector<std::string> unset;
    bool translated;
  } const cases[] = {
      {{{"LANG", "C.UTF-8"}, {"LANGUAGE", "de"}}, {"LC_ALL"}, true},
      {{{"LC_ALL", "C.utf8"}, {"LANGUAGE", "de"}}, {}, true},
      {{{"LC_ALL", "C.UTF-8"}, {"LANGUAGE", ""}}, {}, false},
      {{{"LANG", "C.UTF-8"}, {"LC_MESSAGES", "C"}, {"LANGUAGE", "de"}},
       {"LC_ALL"},
       false},
  };
  for (const auto& c : cases) {
    run_result r = box.run({}, {.env = c.env, .unset = c.unset});
    EXPECT_EQ(r.err, c.translated ? german_no_input_files : no_input_files)
        << c.env.begin()->first << "=" << c.env.begin()->second;
  }

  for (const char* name : {"C", "C.UTF-8"}) {
    std::string file =
        box.prefix() + "/share/locale/" + name + "/LC_MESSAGES/velk.mo";
    box.write_file(
        file, read_all(box.prefix() + "/share/locale/de/LC_MESSAGES/velk.mo"));
    run_result r = box.run({}, {.env = {{"LC_ALL", "C.UTF-8"}}});
    EXPECT_EQ(r.err, german_no_input_files) << name;
    r = box.run({}, {.env = {{"LANG", "C.UTF-8"}}, .unset = {"LC_ALL"}});
    EXPECT_EQ(r.err, german_no_input_files) << name;
    r = box.run({}, {.env = {{"LC_ALL", "C"}}});
    EXPECT_EQ(r.err, no_input_files) << name;
    std::remove(file.c_str());
  }
}

// The program name comes from the command line too: control bytes in it
// are shown escaped.
TEST(DriverDiagnostics, ProgramNameIsEscaped) {
  sandbox box;
  run_result r = box.run({}, {.argv0 = "/x/ve\x1b]0;t\x07lk++"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err, "ve\\x1b]0;t\\x07lk++: fatal error: no input files\n"
                   "compilation terminated.\n");
}

// Bidirectional controls would reorder the message around them, and 5-byte
// sequences are no UTF-8: both are shown escaped.
TEST(DriverDiagnostics, BidirectionalControlsAndLongSequencesAreEscaped) {
  sandbox box;
  box.write_file("a.cc");
  run_result r =
      box.run({"-c", "a.cc",
               "-\xe2\x80\xae"
               "abc",
               "-\xf8\x88\x80\x80\x80", "-\xe2\x81\xa6x\xe2\x81\xa9"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err, "velk++: error: unrecognized command-line option "
                   "'-\\xe2\\x80\\xaeabc'\n"
                   "velk++: error: unrecognized command-line option "
                   "'-\\xf8\\x88\\x80\\x80\\x80'\n"
                   "velk++: error: unrecognized command-line option "
                   "'-\\xe2\\x81\\xa6x\\xe2\\x81\\xa9'\n");
}

// Settings read from the environment that the driver's own messages never
// use: the output stays the same.
TEST(DriverDiagnostics, EnvironmentLeavesDriverMessagesAlone) {
  sandbox box;
  const std::map<std::string, std::string> settings[] = {
      {{"VELK_EXTRA_DIAGNOSTIC_OUTPUT", "fixits-v1"}},
      {{"VELK_EXTRA_DIAGNOSTIC_OUTPUT", "fixits-v2"}},
      {{"VELK_EXTRA_DIAGNOSTIC_OUTPUT", "anything else"}},
      {{"COLUMNS", "10"}},
      {{"LC_ALL", "C.UTF-8"}}, // no catalogue for this locale
  };
  for (const auto& env : settings) {
    run_result r = box.run({}, {.env = env});
    EXPECT_EQ(r.exit_status, 1) << env.begin()->second;
    EXPECT_EQ(r.err, no_input_files) << env.begin()->second;
  }
}

// The quotes follow the character type the environment gives, read as the
// C library reads it: LC_ALL, else LC_CTYPE, else LANG, passing over empty
// settings.  C.UTF-8 gives the typographic quotes where it is installed.
TEST(DriverDiagnostics, QuotesFollowTheCharacterTypeLocale) {
  locale_t c_utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
  const bool utf8_installed = c_utf8 != locale_t{};
  if (c_utf8 != locale_t{})
    freelocale(c_utf8);
  const std::string plain = "velk++: error: unrecognized command-line option "
                            "'-frobnicate'\n";
  const std::string typographic =
      "velk++: error: unrecognized command-line option "
      "\xe2\x80\x98-frobnicate\xe2\x80\x99\n";
  struct {
    std::map<std::string, std::string> env;
    std::vector<std::string> unset;
    bool utf8;
  } const cases[] = {
      {{}, {"LANG", "LC_ALL"}, false},
      {{{"LC_ALL", "C"}}, {}, false},
      {{{"LC_ALL", "POSIX"}}, {}, false},
      {{{"LC_ALL", ""}, {"LANG", ""}}, {}, false},
      {{{"LC_ALL", "C.UTF-8"}}, {}, true},
      {{{"LC_ALL", "C.utf8"}}, {}, true},
      {{{"LANG", "C.UTF-8"}}, {"LC_ALL"}, true},
      {{{"LC_ALL", ""}, {"LANG", "C.UTF-8"}}, {}, true},
      {{{"LANG", "C"}, {"LC_CTYPE", "C.UTF-8"}}, {"LC_ALL"}, true},
      {{{"LANG", "C.UTF-8"}, {"LC_CTYPE", "POSIX"}}, {"LC_ALL"}, false},
      {{{"LC_ALL", "C"}, {"LC_CTYPE", "C.UTF-8"}}, {}, false},
      {{{"LANG", "C.UTF-8"}, {"LANGUAGE", "de"}}, {"LC_ALL"}, true},
  };
  sandbox box;
  box.write_file("a.cc");
  for (const auto& c : cases) {
    std::string shown;
    for (const auto& [k, v] : c.env)
      shown += k + "=" + v + " ";
    run_result r = box.run({"-c", "a.cc", "-frobnicate"},
                           {.env = c.env, .unset = c.unset});
    EXPECT_EQ(r.exit_status, 1) << shown;
    EXPECT_EQ(r.err, c.utf8 && utf8_installed ? typographic : plain) << shown;
  }
}

} // namespace
} // namespace velk::test
