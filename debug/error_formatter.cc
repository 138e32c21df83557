// Printing the report of a failed check: the header, the function, the
// message with its references resolved, and the objects involved, wrapped to
// a line limit on standard error.  Then abort().
//
// The consistency checks of malformed messages stay on in every build.
#undef NDEBUG
#include <velk/debug/error_formatter.h>

#include <algorithm>
#include <array>
#include <cassert>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cxxabi.h>
#include <memory>
#include <string_view>

namespace __zeb_debug {

namespace {

using _Parameter = _Error_formatter::_Parameter;

// Indexed by the message number the checks pass to _M_message.
constexpr const char* _S_debug_messages[] = {
    // 0
    "function requires a valid iterator range [%1.name;, %2.name;)",
    "attempt to insert into container with a singular iterator",
    "attempt to insert into container with an iterator"
    " from a different container",
    "attempt to erase from container with a %2.state; iterator",
    "attempt to erase from container with an iterator"
    " from a different container",
    "attempt to subscript container with out-of-bounds index %2;,"
    " but container only holds %3; elements",
    "attempt to access an element in an empty container",
    "elements in iterator range [%1.name;, %2.name;)"
    " are not partitioned by the value %3;",
    "elements in iterator range [%1.name;, %2.name;)"
    " are not partitioned by the predicate %3; and value %4;",
    "elements in iterator range [%1.name;, %2.name;) are not sorted",
    // 10
    "elements in iterator range [%1.name;, %2.name;)"
    " are not sorted according to the predicate %3;",
    "elements in iterator range [%1.name;, %2.name;) do not form a heap",
    "elements in iterator range [%1.name;, %2.name;)"
    " do not form a heap with respect to the predicate %3;",
    "attempt to write through a singular bitset reference",
    "attempt to read from a singular bitset reference",
    "attempt to flip a singular bitset reference",
    "attempt to splice a list into itself",
    "attempt to splice lists with unequal allocators",
    "attempt to splice elements referenced by a %1.state; iterator",
    "attempt to splice an iterator from a different container",
    // 20
    "splice destination %1.name;"
    " occurs within source range [%2.name;, %3.name;)",
    "attempt to initialize an iterator that will immediately become singular",
    "attempt to copy-construct an iterator from a singular iterator",
    "attempt to construct a constant iterator"
    " from a singular mutable iterator",
    "attempt to copy from a singular iterator",
    "attempt to dereference a %1.state; iterator",
    "attempt to increment a %1.state; iterator",
    "attempt to decrement a %1.state; iterator",
    "attempt to subscript a %1.state; iterator %2; step from"
    " its current position, which falls outside its dereferenceable range",
    "attempt to advance a %1.state; iterator %2; steps,"
    " which falls outside its valid range",
    // 30
    "attempt to retreat a %1.state; iterator %2; steps,"
    " which falls outside its valid range",
    "attempt to compare a %1.state; iterator to a %2.state; iterator",
    "attempt to compare iterators from different sequences",
    "attempt to order a %1.state; iterator to a %2.state; iterator",
    "attempt to order iterators from different sequences",
    "attempt to compute the difference between a %1.state;"
    " iterator to a %2.state; iterator",
    "attempt to compute the different between two iterators"
    " from different sequences",
    "attempt to dereference an end-of-stream istream_iterator",
    "attempt to increment an end-of-stream istream_iterator",
    "attempt to output via an ostream_iterator with no associated stream",
    // 40
    "attempt to dereference an end-of-stream istreambuf_iterator"
    " (this is a ZEB extension)",
    "attempt to increment an end-of-stream istreambuf_iterator",
    "attempt to insert into container after an end iterator",
    "attempt to erase from container after a %2.state;"
    " iterator not followed by a dereferenceable one",
    "function requires a valid iterator range (%2.name;, %3.name;),"
    " \"%2.name;\" shall be before and not equal to \"%3.name;\"",
    "attempt to compare local iterators from different unordered container"
    " buckets",
    "function requires a non-empty iterator range [%1.name;, %2.name;)",
    "attempt to self move assign",
    "attempt to access container with out-of-bounds bucket index %2;,"
    " container only holds %3; buckets",
    "load factor shall be positive",
    // 50
    "allocators must be equal",
    "attempt to insert with an iterator range [%1.name;, %2.name;)"
    " from this container",
    "comparison doesn't meet irreflexive requirements, assert(!(a < a))",
};
static_assert(std::size(_S_debug_messages) == 53);

constexpr const char* state_names[] = {
    "<unknown state>",
    "singular",
    "dereferenceable (start-of-sequence)",
    "dereferenceable",
    "past-the-end",
    "before-begin",
    "dereferenceable (start-of-reverse-sequence)",
    "dereferenceable (reverse)",
    "past-the-reverse-end",
    "singular (value-initialized)",
};
static_assert(std::size(state_names) == __last_state);

constexpr const char* constness_names[] = {
    "<unknown constness>",
    "constant",
    "mutable",
};
static_assert(std::size(constness_names) == __last_constness);

constexpr std::size_t default_line_limit = 78;
constexpr std::string_view continuation_indent = "    ";
// Field names in references are shorter than this.
constexpr std::size_t field_name_limit = 15;

// An index from a parameter; out of range means the header passed garbage,
// which prints as the "unknown" entry rather than reading past the table.
template <std::size_t N>
const char* name_at(const char* const (&names)[N], std::uint32_t index) {
  return index < N ? names[index] : names[0];
}

struct PrintContext {
  std::size_t line_limit = default_line_limit;
  std::size_t column = 1;
  bool at_first_line = true;
  bool wrapping = false;
};

void write(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
}

bool is_blank(char c) {
  return std::isspace(static_cast<unsigned char>(c));
}

// Writes one word (with its trailing blank or newline, if any), first
// breaking the line when wrapping is on and the word would reach the limit.
// Continuation lines (all but the first of a section) are indented.
void print_word(PrintContext& ctx, std::string_view word) {
  if (word.empty())
    return;
  if (word.front() == '\n') {
    write("\n");
    ctx.column = 1;
    word.remove_prefix(1);
    if (word.empty())
      return;
  }
  std::size_t visible = is_blank(word.back()) ? word.size() - 1 : word.size();
  // A word at the start of a line is written whatever its length: there is
  // no better place for it, and breaking again would never end.
  if (visible != 0 && ctx.wrapping && ctx.column != 1 &&
      ctx.column + visible >= ctx.line_limit) {
    write("\n");
    ctx.column = 1;
  }
  if (ctx.column == 1 && !ctx.at_first_line) {
    write(continuation_indent);
    ctx.column += continuation_indent.size();
  }
  write(word);
  if (word.back() == '\n') {
    ctx.column = 1;
    ctx.at_first_line = false;
  } else {
    ctx.column += word.size();
  }
}

// Prints `text` word by word, each word ending after a white-space
// character.  When `formatter` is given, references to its parameters are
// resolved in place.
void print_string(PrintContext& ctx, std::string_view text,
                  const _Error_formatter* formatter, unsigned expanding = 0);

// Prints `name` with every "__" removed, and with "cxx1998::" too when it
// follows one, so that the library's internal namespaces do not show.
// Each piece is one word, or goes through the word splitter when `split`.
void pretty_name(PrintContext& ctx, std::string_view name, bool split) {
  for (;;) {
    std::size_t cut = name.find("__");
    std::string_view piece = name.substr(0, cut);
    if (split)
      print_string(ctx, piece, nullptr);
    else
      print_word(ctx, piece);
    if (cut == std::string_view::npos)
      return;
    name.remove_prefix(cut + 2);
    constexpr std::string_view unchecked = "cxx1998::";
    if (name.substr(0, unchecked.size()) == unchecked)
      name.remove_prefix(unchecked.size());
  }
}

void print_type(PrintContext& ctx, const std::type_info* type,
                const char* unknown) {
  if (type == nullptr) {
    print_word(ctx, unknown);
    return;
  }
  const char* mangled = type->name();
  if (*mangled == '*')
    ++mangled;
  int status = -1;
  std::unique_ptr<char, decltype(&std::free)> demangled(
      abi::__cxa_demangle(mangled, nullptr, nullptr, &status), &std::free);
  if (status == 0 && demangled)
    pretty_name(ctx, demangled.get(), false);
  else
    print_word(ctx, mangled);
}

void print_address(PrintContext& ctx, const char* format, const void* addr) {
  std::array<char, 64> buffer;
  int n = std::snprintf(buffer.data(), buffer.size(), format, addr);
  if (n > 0)
    print_word(ctx, std::string_view(buffer.data(), std::min<std::size_t>(
                                                        n, buffer.size() - 1)));
}

void print_name(PrintContext& ctx, const char* name) {
  assert(name != nullptr && "a name is required");
  pretty_name(ctx, name, false);
}

void print_field(PrintContext& ctx, const _Parameter& param,
                 std::string_view field) {
  const auto& v = param._M_variant;
  switch (param._M_kind) {
  case _Parameter::__iterator_param:
    if (field == "name")
      return print_name(ctx, v._M_iterator._M_name);
    if (field == "type")
      return print_type(ctx, v._M_iterator._M_type_info, "<unknown type>");
    if (field == "address")
      return print_address(ctx, "%p", v._M_iterator._M_addr);
    if (field == "constness")
      return print_word(ctx,
                        name_at(constness_names, v._M_iterator._M_const_kind));
    if (field == "state")
      return print_word(ctx, name_at(state_names, v._M_iterator._M_iter_state));
    if (field == "sequence") {
      assert(v._M_iterator._M_sequence != nullptr &&
             "the iterator has no sequence");
      return print_address(ctx, "%p", v._M_iterator._M_sequence);
    }
    if (field == "seq_type")
      return print_type(ctx, v._M_iterator._M_seq_type_info,
                        "<unknown seq_type>");
    break;
  case _Parameter::__sequence_param:
  case _Parameter::__instance_param: {
    const _Parameter::_Instance& inst =
        param._M_kind == _Parameter::__sequence_param ? v._M_sequence
                                                      : v._M_instance;
    if (field == "name")
      return print_name(ctx, inst._M_name);
    if (field == "type")
      return print_type(ctx, inst._M_type_info, "<unknown type>");
    if (field == "address")
      return print_address(ctx, "%p", inst._M_addr);
    break;
  }
  case _Parameter::__integer_param:
    if (field == "name")
      return print_name(ctx, v._M_integer._M_name);
    break;
  case _Parameter::__string_param:
    if (field == "name")
      return print_name(ctx, v._M_string._M_name);
    break;
  case _Parameter::__value_type_param:
    if (field == "name")
      return print_name(ctx, v._M_value_type._M_name);
    if (field == "type")
      return print_type(ctx, v._M_value_type._M_type_info, "<unknown type>");
    break;
  case _Parameter::__unused_param:
    assert(!"reference to an unused parameter");
  }
  assert(!"unknown field in a reference");
}

// Resolves the reference starting at `ref` (which points at the '%') and
// returns the text after it.  `expanding` has bit N set while string
// parameter N is being printed, so that a string that refers to itself,
// directly or through others, ends instead of recursing for ever.
std::string_view print_reference(PrintContext& ctx, std::string_view ref,
                                 const _Error_formatter& formatter,
                                 unsigned expanding) {
  if (ref.size() >= 2 && ref[1] == '%') {
    print_word(ctx, "%");
    return ref.substr(2);
  }
  assert(ref.size() >= 3 && "reference is cut short");
  assert(ref[1] >= '1' && ref[1] <= '9' && "reference to a parameter 1 to 9");
  unsigned index = static_cast<unsigned>(ref[1] - '1');
  assert(index < formatter._M_param_count && "reference beyond the parameters");
  const _Parameter& param = formatter._M_params[index];
  assert(param._M_kind != _Parameter::__unused_param &&
         "reference to an unused parameter");

  if (ref[2] == ';') {
    if (param._M_kind == _Parameter::__integer_param) {
      std::array<char, 24> digits;
      auto result = std::to_chars(digits.data(), digits.data() + digits.size(),
                                  param._M_variant._M_integer._M_int_value);
      print_word(ctx,
                 std::string_view(digits.data(), result.ptr - digits.data()));
    } else if (param._M_kind == _Parameter::__string_param &&
               (expanding & (1u << index)) == 0) {
      const char* value = param._M_variant._M_string._M_str_value;
      assert(value != nullptr && "string parameter without a value");
      print_string(ctx, value, &formatter, expanding | (1u << index));
    }
    return ref.substr(3);
  }

  assert(ref[2] == '.' && "reference not ended by ';' or '.'");
  std::string_view rest = ref.substr(3);
  std::size_t end = rest.find(';');
  assert(end != std::string_view::npos && "field name not ended by ';'");
  assert(end < field_name_limit && "field name too long");
  print_field(ctx, param, rest.substr(0, end));
  return rest.substr(end + 1);
}

void print_string(PrintContext& ctx, std::string_view text,
                  const _Error_formatter* formatter, unsigned expanding) {
  while (!text.empty()) {
    std::size_t end = 0;
    while (end < text.size() && !is_blank(text[end]) &&
           !(formatter != nullptr && text[end] == '%'))
      ++end;
    if (end < text.size() && is_blank(text[end])) {
      print_word(ctx, text.substr(0, end + 1));
      text.remove_prefix(end + 1);
      continue;
    }
    print_word(ctx, text.substr(0, end));
    text.remove_prefix(end);
    if (!text.empty())
      text = print_reference(ctx, text, *formatter, expanding);
  }
}

// The opening of a sequence's or an instance's description (and, without
// `close`, of an iterator's).
void print_instance_head(PrintContext& ctx, const _Parameter::_Instance& inst,
                         bool close) {
  if (inst._M_name != nullptr) {
    print_word(ctx, "\"");
    pretty_name(ctx, inst._M_name, false);
    print_word(ctx, "\" ");
  }
  print_address(ctx, "@ %p {\n", inst._M_addr);
  if (inst._M_type_info != nullptr) {
    print_word(ctx, "  type = ");
    print_type(ctx, inst._M_type_info, "<unknown type>");
    if (close)
      print_word(ctx, ";\n");
  }
  if (close)
    print_word(ctx, "}\n");
}

void print_description(PrintContext& ctx, const _Parameter& param) {
  const auto& v = param._M_variant;
  switch (param._M_kind) {
  case _Parameter::__iterator_param: {
    const _Parameter::_Iterator& it = v._M_iterator;
    print_word(ctx, "iterator ");
    print_instance_head(ctx, it, false);
    if (it._M_type_info != nullptr) {
      if (it._M_const_kind != __unknown_constness) {
        print_word(ctx, " (");
        print_word(ctx, name_at(constness_names, it._M_const_kind));
        print_word(ctx, " iterator)");
      }
      print_word(ctx, ";\n");
    }
    if (it._M_iter_state != __unknown_state) {
      print_word(ctx, "  state = ");
      print_word(ctx, name_at(state_names, it._M_iter_state));
      print_word(ctx, ";\n");
    }
    if (it._M_sequence != nullptr) {
      print_word(ctx, "  references sequence ");
      if (it._M_seq_type_info != nullptr) {
        print_word(ctx, "with type '");
        print_type(ctx, it._M_seq_type_info, "<unknown seq_type>");
        print_word(ctx, "' ");
      }
      print_address(ctx, "@ %p\n", it._M_sequence);
    }
    print_word(ctx, "}\n");
    break;
  }
  case _Parameter::__sequence_param:
    print_word(ctx, "sequence ");
    print_instance_head(ctx, v._M_sequence, true);
    break;
  case _Parameter::__instance_param:
    print_word(ctx, "instance ");
    print_instance_head(ctx, v._M_instance, true);
    break;
  case _Parameter::__value_type_param:
    print_word(ctx, "iterator::value_type ");
    if (v._M_value_type._M_name != nullptr) {
      print_word(ctx, "\"");
      pretty_name(ctx, v._M_value_type._M_name, false);
      print_word(ctx, "\" ");
    }
    print_word(ctx, " {\n");
    if (v._M_value_type._M_type_info != nullptr) {
      print_word(ctx, "  type = ");
      print_type(ctx, v._M_value_type._M_type_info, "<unknown type>");
      print_word(ctx, ";\n");
    }
    print_word(ctx, "}\n");
    break;
  default:
    break;
  }
}

bool is_described(const _Parameter& param) {
  switch (param._M_kind) {
  case _Parameter::__iterator_param:
  case _Parameter::__sequence_param:
  case _Parameter::__instance_param:
  case _Parameter::__value_type_param:
    return true;
  default:
    return false;
  }
}

// MERLOX_DEBUG_MESSAGE_LENGTH when it is entirely a number (decimal, octal
// with a leading 0, hexadecimal with 0x), else the default.
std::size_t line_limit_from_environment() {
  const char* text = std::getenv("MERLOX_DEBUG_MESSAGE_LENGTH");
  if (text == nullptr || !std::isdigit(static_cast<unsigned char>(*text)))
    return default_line_limit;
  char* end = nullptr;
  errno = 0;
  unsigned long value = std::strtoul(text, &end, 0);
  if (*end != '\0' || errno == ERANGE)
    return default_line_limit;
  return value;
}

} // namespace

_Error_formatter& _Error_formatter::_M_message(unsigned __id) noexcept {
  // An unknown number leaves no text, which _M_error reports.
  _M_text =
      __id < std::size(_S_debug_messages) ? _S_debug_messages[__id] : nullptr;
  return *this;
}

void _Error_formatter::_M_error() const noexcept {
  PrintContext ctx;
  ctx.line_limit = line_limit_from_environment();

  bool header = false;
  if (_M_source_file != nullptr) {
    print_word(ctx, _M_source_file);
    print_word(ctx, ":");
    header = true;
  }
  if (_M_source_line != 0) {
    std::array<char, 16> digits;
    auto result = std::to_chars(digits.data(), digits.data() + digits.size(),
                                _M_source_line);
    print_word(ctx,
               std::string_view(digits.data(), result.ptr - digits.data()));
    print_word(ctx, ":");
    header = true;
  }
  if (header)
    print_word(ctx, "\n");

  ctx.wrapping = ctx.line_limit != 0;

  if (_M_function_text != nullptr) {
    print_word(ctx, "In function:\n");
    pretty_name(ctx, _M_function_text, true);
    print_word(ctx, "\n");
    ctx.at_first_line = true;
    print_word(ctx, "\n");
  }

  assert(_M_text != nullptr && "no message");
  print_word(ctx, "Error: ");
  print_string(ctx, _M_text, this);
  print_word(ctx, ".\n");

  ctx.at_first_line = true;
  ctx.wrapping = false;
  bool first = true;
  for (std::uint32_t i = 0; i < _M_param_count && i < _S_max_params; ++i) {
    if (!is_described(_M_params[i]))
      continue;
    if (first) {
      print_word(ctx, "\nObjects involved in the operation:\n");
      first = false;
    }
    print_description(ctx, _M_params[i]);
  }
  std::abort();
}

// The operations below are kept for headers of older releases, which still
// refer to them; the printing is done by the functions above.
void _Error_formatter::_Parameter::_M_print_field(const _Error_formatter*,
                                                  const char*) const {}
void _Error_formatter::_Parameter::_M_print_description(
    const _Error_formatter*) const {}
void _Error_formatter::_M_print_word(const char*) const {}
void _Error_formatter::_M_print_string(const char*) const {}
void _Error_formatter::_M_get_max_length() const noexcept {}
void _Error_formatter::_M_format_word(char*, int, const char*,
                                      const char*) const {}
void _Error_formatter::_M_format_word(char*, int, const char*,
                                      const void*) const {}
void _Error_formatter::_M_format_word(char*, int, const char*, long) const {}
void _Error_formatter::_M_format_word(char*, int, const char*,
                                      unsigned long) const {}

} // namespace __zeb_debug
