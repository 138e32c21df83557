#include "diagnostics/message_catalog.h"

#include <clocale>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

namespace velk {
namespace {

std::string ctype_locale() {
  const char* name = std::setlocale(LC_CTYPE, nullptr);
  return name != nullptr ? name : "";
}

// Every test leaves the POSIX locale behind, as the other tests of the
// program expect.
class MessageCatalog : public ::testing::Test {
protected:
  void TearDown() override {
    setenv("LC_ALL", "C", 1);
    init_message_catalog();
  }
};

// Setting the locale is left until something needs it, and then done as
// if it had been done at once.
TEST_F(MessageCatalog, LocaleIsSetWhenFirstNeeded) {
  std::setlocale(LC_ALL, "C"); // as the program starts
  setenv("LC_ALL", "C.UTF-8", 1);
  init_message_catalog();
  EXPECT_EQ(ctype_locale(), "C");
  if (!locale_is_utf8())
    GTEST_SKIP() << "no C.UTF-8 locale on this machine";
  EXPECT_EQ(quote_open_text(), "\xe2\x80\x98");
  // The C library's own locale is set before its texts are asked for.
  prepare_message_locale();
  EXPECT_EQ(ctype_locale(), "C.UTF-8");

  // A second call starts over with the environment of that moment.
  setenv("LC_ALL", "C", 1);
  init_message_catalog();
  EXPECT_EQ(translate("no input files"), std::string("no input files"));
  EXPECT_EQ(ctype_locale(), "C");
  EXPECT_EQ(quote_open_text(), "'");
  EXPECT_FALSE(locale_is_utf8());
}

// Without a catalogue for the locale a text is its own translation, and
// the plural form follows the count as the C library's does.
TEST_F(MessageCatalog, UntranslatedTextsAndPlurals) {
  setenv("LC_ALL", "C.UTF-8", 1);
  init_message_catalog();
  const char* text = "no input files";
  EXPECT_EQ(translate(text), text);
  const char* one = "%d file";
  const char* many = "%d files";
  EXPECT_EQ(translate_plural(one, many, 1), one);
  EXPECT_EQ(translate_plural(one, many, 0), many);
  EXPECT_EQ(translate_plural(one, many, 2), many);
  EXPECT_EQ(translate(""), std::string(""));
}

} // namespace
} // namespace velk
