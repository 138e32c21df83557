// libFuzzer target: expands arbitrary texts as format strings of the
// checked-iterator run-time's reports.  The formatter's printing routines
// are internal to its source file, which is compiled into this target.
//
// The first byte is the line limit (0: no wrapping); the rest, up to its
// first NUL byte, is the format string.  It is also string parameter 4, so
// that "%4;" refers to itself, and it names the objects of the other
// parameters.  A reference that is malformed, out of range or to an unknown
// field stops a report on purpose (the checks stay on in every build); such
// inputs are left out, everything else must print and return.  A crash, a
// hang or a sanitizer report is a fault.

#include "../../debug/error_formatter.cc"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <typeinfo>
#include <vector>

namespace {

using namespace __zeb_debug;

constexpr const char* nested = "nested %3; %1.state; %2.name; %%";

// The fields each parameter (numbered from 1) may name.
bool known_field(unsigned number, std::string_view field) {
  switch (number) {
  case 1:
    return field == "name" || field == "type" || field == "address" ||
           field == "constness" || field == "state" || field == "sequence" ||
           field == "seq_type";
  case 2:
  case 5:
    return field == "name" || field == "type" || field == "address";
  case 6: // a value type has no address
    return field == "name" || field == "type";
  case 3:
  case 4:
  case 7:
    return field == "name";
  }
  return false;
}

// Whether every '%' of `text` starts "%%", "%N;" or "%N.field;" with a
// parameter N of the seven the target passes.
bool well_formed(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%')
      continue;
    if (i + 1 < text.size() && text[i + 1] == '%') {
      ++i;
      continue;
    }
    if (i + 2 >= text.size() || text[i + 1] < '1' || text[i + 1] > '7')
      return false;
    const unsigned number = static_cast<unsigned>(text[i + 1] - '0');
    if (text[i + 2] == ';') {
      i += 2;
      continue;
    }
    if (text[i + 2] != '.')
      return false;
    const std::size_t end = text.find(';', i + 3);
    if (end == std::string_view::npos ||
        !known_field(number, text.substr(i + 3, end - (i + 3))))
      return false;
    i = end;
  }
  return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size == 0)
    return 0;
  std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  text.resize(text.find('\0') == std::string::npos ? text.size()
                                                   : text.find('\0'));
  if (!well_formed(text))
    return 0;

  static int object = 0;
  static const std::vector<int> sequence;
  _Error_formatter formatter(__FILE__, __LINE__, nullptr);
  formatter
      ._M_iterator(&object, text.c_str(), &typeid(object), __mutable_iterator,
                   static_cast<_Iterator_state>(data[0] % 12), &sequence,
                   &typeid(sequence))
      ._M_sequence(&sequence, text.c_str(), &typeid(sequence))
      ._M_integer(-static_cast<std::int64_t>(size), text.c_str())
      ._M_string(text.c_str(), text.c_str())
      ._M_instance(&object, text.c_str(), &typeid(object))
      ._M_value_type(text.c_str(), &typeid(text))
      ._M_string(nested, "nested");

  PrintContext ctx;
  ctx.line_limit = data[0] % 100;
  ctx.wrapping = ctx.line_limit != 0;
  pretty_name(ctx, text, true);
  print_word(ctx, "\n");
  print_string(ctx, text, &formatter);
  print_word(ctx, "\n");
  for (std::uint32_t i = 0; i < formatter._M_param_count; ++i)
    if (is_described(formatter._M_params[i]))
      print_description(ctx, formatter._M_params[i]);
  return 0;
}
