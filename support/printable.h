// What may reach a terminal as it is: printable ASCII and valid UTF-8
// characters other than control characters and the bidirectional controls
// (U+202A to U+202E, U+2066 to U+2069).  Everything else is shown as
// "\x" and two lower-case hexadecimal digits per byte, the form every
// diagnostic uses, so ordinary paths and options print unchanged while an
// escape sequence, a bell or a stray byte cannot act on the terminal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace velk {

// One character decoded from UTF-8: its length in bytes and its code point,
// or length 0 and value 0xffffffff for an invalid sequence (an empty text
// included).  Valid sequences are 1 to 4 bytes long, in their shortest
// form, and encode a code point up to U+10FFFF that is not a surrogate.
struct utf8_char {
  std::size_t length;
  std::uint32_t value;
};
utf8_char decode_utf8(std::span<const unsigned char> bytes);

// The number of bytes of the character at the start of `text` when it may
// be shown as it is, 0 when its first byte must be escaped.  `text` must
// not be empty.
std::size_t printable_length(std::string_view text);

// Calls `append` with the pieces of `text`: runs of printable characters
// as they are and one "\xNN" piece for each other byte.
template <typename Append>
void escape_unprintable_into(std::string_view text, Append append) {
  static constexpr char hex[] = "0123456789abcdef";
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t run = i;
    while (run < text.size()) {
      // Printable ASCII, by far the most common, without the call.
      const unsigned char c = static_cast<unsigned char>(text[run]);
      if (c >= 0x20 && c < 0x7f) {
        ++run;
        continue;
      }
      std::size_t n = printable_length(text.substr(run));
      if (n == 0)
        break;
      run += n;
    }
    if (run > i)
      append(text.substr(i, run - i));
    if (run < text.size()) {
      unsigned char c = static_cast<unsigned char>(text[run]);
      const char escape[4] = {'\\', 'x', hex[c >> 4], hex[c & 15]};
      append(std::string_view(escape, 4));
      ++run;
    }
    i = run;
  }
}

// `text` with its unprintable bytes escaped.
std::string escape_unprintable(std::string_view text);

} // namespace velk
