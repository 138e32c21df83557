// Decoding UTF-8 and the escaping of what may not reach a terminal.
#include "support/printable.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <string>

namespace velk {
namespace {

TEST(Printable, DecodesUtf8) {
  struct {
    std::string bytes;
    std::size_t length;
    std::uint32_t value;
  } cases[] = {
      {"a", 1, 'a'},
      {"\xc3\xa9", 2, 0xe9},
      {"\xe2\x80\x98", 3, 0x2018},
      {"\xf0\x9f\x98\x80", 4, 0x1f600},
      {"\xf4\x8f\xbf\xbf", 4, 0x10ffff},
      {"\xf4\x90\x80\x80", 0, 0xffffffff},         // above U+10FFFF
      {"\xf8\x88\x80\x80\x80", 0, 0xffffffff},     // five bytes
      {"\xfc\x84\x80\x80\x80\x80", 0, 0xffffffff}, // six bytes
      {"\xc0\x80", 0, 0xffffffff},                 // overlong
      {"\xe0\x80\xaf", 0, 0xffffffff},             // overlong
      {"\xed\xa0\x80", 0, 0xffffffff},             // surrogate
      {"\x80", 0, 0xffffffff},                     // continuation byte first
      {"\xc3", 0, 0xffffffff},                     // cut short
      {"\xc3"
       "A",
       0, 0xffffffff},                                 // not a continuation
      {"\xfe\x80\x80\x80\x80\x80\x80", 0, 0xffffffff}, // seven bytes
      {"", 0, 0xffffffff},
  };
  for (const auto& c : cases) {
    utf8_char u = decode_utf8(std::span<const unsigned char>(
        reinterpret_cast<const unsigned char*>(c.bytes.data()),
        c.bytes.size()));
    EXPECT_EQ(u.length, c.length) << c.bytes;
    EXPECT_EQ(u.value, c.value) << c.bytes;
  }
}

// Printable text passes as it is; control bytes, DEL, C1 controls and
// invalid UTF-8 become "\xNN" per byte.
TEST(Printable, EscapesOnlyUnprintableBytes) {
  struct {
    std::string text;
    std::string expected;
  } cases[] = {
      {"", ""},
      {"/usr/local/brae13/lib -O2 'x' \"y\" ~",
       "/usr/local/brae13/lib -O2 'x' \"y\" ~"},
      {"caf\xc3\xa9 \xe2\x80\x98q\xe2\x80\x99 \xf0\x9f\x98\x80",
       "caf\xc3\xa9 \xe2\x80\x98q\xe2\x80\x99 \xf0\x9f\x98\x80"},
      {"\x1b]0;t\x07", "\\x1b]0;t\\x07"},
      {"a\tb\nc\rd", "a\\x09b\\x0ac\\x0dd"},
      {std::string("nul\0", 4), "nul\\x00"},
      {"del\x7f", "del\\x7f"},
      {"\xc2\x9b"
       "2J",
       "\\xc2\\x9b2J"}, // C1 control CSI
      {"ok\xff\x01", "ok\\xff\\x01"},
      {"\xc3", "\\xc3"},
      {"\xed\xa0\x80", "\\xed\\xa0\\x80"},
      {"\xf8\x88\x80\x80\x80", "\\xf8\\x88\\x80\\x80\\x80"},
      {"\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},
      // Bidirectional controls at both ends of their ranges; their
      // neighbours pass.
      {"\xe2\x80\xaa\xe2\x80\xae\xe2\x81\xa6\xe2\x81\xa9",
       "\\xe2\\x80\\xaa\\xe2\\x80\\xae\\xe2\\x81\\xa6\\xe2\\x81\\xa9"},
      {"\xe2\x80\xa9\xe2\x80\xaf\xe2\x81\xa5\xe2\x81\xaa",
       "\xe2\x80\xa9\xe2\x80\xaf\xe2\x81\xa5\xe2\x81\xaa"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(escape_unprintable(c.text), c.expected) << c.text;
}

// Long runs are checked eight bytes at a time: one odd byte anywhere in a
// run, before, at and after the word boundaries, is found.  A lone byte
// passes only when it is printable ASCII.
TEST(Printable, OneByteInALongRun) {
  const std::string filler = "abcdefghijklmnopq";
  for (std::size_t at : {0u, 7u, 8u, 9u, 15u, 16u}) {
    for (int b = 0; b < 256; ++b) {
      std::string text = filler;
      text[at] = static_cast<char>(b);
      std::string expected = filler.substr(0, at);
      if (b >= 0x20 && b < 0x7f) {
        expected += static_cast<char>(b);
      } else {
        char escape[5];
        std::snprintf(escape, sizeof escape, "\\x%02x", b);
        expected += escape;
      }
      expected += filler.substr(at + 1);
      EXPECT_EQ(escape_unprintable(text), expected) << at << " " << b;
    }
  }
}

} // namespace
} // namespace velk
