#include "support/printable.h"

namespace velk {

utf8_char decode_utf8(std::span<const unsigned char> bytes) {
  constexpr utf8_char invalid{0, 0xffffffff};
  if (bytes.empty())
    return invalid;
  unsigned char c = bytes[0];
  if (c < 0x80)
    return {1, c};
  std::size_t length = 0;
  for (unsigned char t = c; t & 0x80; t = static_cast<unsigned char>(t << 1))
    ++length;
  // Sequences of 5 and 6 bytes encode nothing Unicode has.
  if (length < 2 || length > 4 || length > bytes.size())
    return invalid;
  std::uint32_t value = c & ((1u << (7 - length)) - 1);
  for (std::size_t i = 1; i < length; ++i) {
    if ((bytes[i] & 0xc0) != 0x80)
      return invalid;
    value = (value << 6) | (bytes[i] & 0x3f);
  }
  static constexpr std::uint32_t smallest[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (value < smallest[length] || (value >= 0xd800 && value <= 0xdfff) ||
      value > 0x10ffff)
    return invalid;
  return {length, value};
}

std::size_t printable_length(std::string_view text) {
  unsigned char c = static_cast<unsigned char>(text[0]);
  if (c >= 0x20 && c < 0x7f)
    return 1;
  if (c < 0x80)
    return 0;
  utf8_char u = decode_utf8(std::span<const unsigned char>(
      reinterpret_cast<const unsigned char*>(text.data()), text.size()));
  // C1 control characters would act as escape sequences on a terminal;
  // the bidirectional embeddings, overrides and isolates would reorder the
  // text shown around them.
  if (u.length == 0 || (u.value >= 0x80 && u.value <= 0x9f) ||
      (u.value >= 0x202a && u.value <= 0x202e) ||
      (u.value >= 0x2066 && u.value <= 0x2069))
    return 0;
  return u.length;
}

std::string escape_unprintable(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  escape_unprintable_into(text,
                          [&](std::string_view piece) { result += piece; });
  return result;
}

} // namespace velk
