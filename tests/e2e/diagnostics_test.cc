// End-to-end cases of the driver's diagnostics: translations found in a
// moved installed tree, escaping of what reaches the terminal, and the
// environment settings that must leave the driver's messages alone.
#include "tests/e2e/harness.h"

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

} // namespace
} // namespace velk::test
