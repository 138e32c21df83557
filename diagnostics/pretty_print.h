// The pretty-printer: turns a message format and its arguments into text,
// with the format directives every message of the suite uses (%s, %qs, %<,
// %>, %m, %d, ...), quoting, escaping of unprintable bytes, line wrapping
// under a prefix, colour and hyperlink escapes.  Text accumulates in memory
// and reaches the stream on flush, so a message costs one write.
//
// Formatting runs in three phases: pp_format splits the format into text
// chunks and argument directives and formats every argument into text;
// pp_output_formatted_text then appends the chunks in order, wrapping lines
// at that step only.  Between the two, the diagnostic engine installs the
// prefix, which therefore leads the message's first line.
//
// Arguments are typed (format_arg): a directive given an argument of the
// wrong kind, like any malformed format, is an internal error.
#pragma once

#include <array>
#include <cerrno>
#include <concepts>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "support/printable.h"

namespace velk {

class message_printer;

// A source position.  The driver's own messages have none: they always use
// unknown_location.
using location_t = unsigned;
inline constexpr location_t unknown_location = 0;
inline constexpr location_t builtins_location = 1;

// The number of an event of a diagnostic path, printed by %@ as "(N+1)".
struct diagnostic_event_id {
  int value = -1; // -1: unknown
};

// One argument of a message.
class format_arg {
public:
  enum class type : std::uint8_t {
    signed_integer,
    unsigned_integer,
    floating,
    string,
    pointer,
    int_list,
    event_id,
  };

  template <std::signed_integral T>
  format_arg(T v) : type_(type::signed_integer), signed_(v) {}
  template <std::unsigned_integral T>
  format_arg(T v) : type_(type::unsigned_integer), unsigned_(v) {}
  template <std::floating_point T>
  format_arg(T v) : type_(type::floating), floating_(v) {}
  format_arg(const char* s)
      : type_(type::string), string_(s ? s : ""), null_string_(s == nullptr) {}
  format_arg(std::string_view s) : type_(type::string), string_(s) {}
  format_arg(const std::string& s) : type_(type::string), string_(s) {}
  template <typename T>
  requires(!std::same_as<std::remove_cv_t<T>, char>) format_arg(const T* p)
      : type_(type::pointer), pointer_(p) {}
  format_arg(std::nullptr_t) : type_(type::pointer), pointer_(nullptr) {}
  format_arg(std::span<const int> list) : type_(type::int_list), list_(list) {}
  format_arg(const std::vector<int>& list)
      : type_(type::int_list), list_(list) {}
  format_arg(diagnostic_event_id id)
      : type_(type::event_id), signed_(id.value) {}

  type kind() const { return type_; }
  bool is_integer() const {
    return type_ == type::signed_integer || type_ == type::unsigned_integer;
  }
  // The integer as the given type, converted as a cast would.
  template <std::integral T>
  T as() const {
    return type_ == type::signed_integer ? static_cast<T>(signed_)
                                         : static_cast<T>(unsigned_);
  }
  double floating() const { return floating_; }
  std::string_view string() const { return string_; }
  bool null_string() const { return null_string_; }
  const void* pointer() const { return pointer_; }
  std::span<const int> list() const { return list_; }
  int event() const { return static_cast<int>(signed_); }

private:
  type type_;
  long long signed_ = 0;
  unsigned long long unsigned_ = 0;
  double floating_ = 0;
  std::string_view string_;
  bool null_string_ = false;
  const void* pointer_ = nullptr;
  std::span<const int> list_;
};

// One message to format: the format (already translated), its arguments,
// the error number saved when the message was made (for %m), its locations
// and an opaque pointer for the directive decoder.
struct format_job {
  std::string_view format;
  std::span<const format_arg> args;
  int saved_errno = 0;
  std::vector<location_t> locations;
  void* extra = nullptr;
};

// The chunks of one message being formatted: text chunks and, after phase
// 2, the text of each argument, in order.
struct chunk_set {
  std::vector<std::string> chunks;
};

// At most this many chunks fit one message (a chunk set has one more slot,
// for its end).
inline constexpr std::size_t max_chunks = 59;
// Argument numbers run from 1 to max_arguments.
inline constexpr int max_arguments = 30;

// Where a printer's text accumulates.
struct message_buffer {
  message_buffer() = default;
  message_buffer(const message_buffer&) = delete;
  message_buffer& operator=(const message_buffer&) = delete;

  std::string formatted; // text formatted so far
  // Where character output goes: `formatted`, except while arguments are
  // being formatted.
  std::string* current = &formatted;
  // Messages being formatted, innermost last; nested formatting pushes.
  std::vector<std::unique_ptr<chunk_set>> chunk_sets;
  std::FILE* stream = stderr;
  int line_length = 0; // bytes since the last newline
  // Bytes of prefix or indentation at the start of the current line.
  int line_start = 0;
  bool flush = true; // false: flushing keeps the text (structured output)
};

enum class space_owed_kind : std::uint8_t { none, before, after };

enum prefix_rule : int {
  prefix_once = 0,
  prefix_never = 1,
  prefix_every_line = 2,
};

enum url_format : int {
  url_format_none = 0,
  url_format_st = 1,
  url_format_bel = 2,
};

// Formats conversions the base directives do not know.  Receives the
// directive's text, its argument, the number of 'l' modifiers and the 'w',
// '+' and '#' flags; may take over the quoting by clearing `quote`.
// Appends to the printer and returns false for a directive it does not
// know either.
using directive_decoder_fn = bool (*)(message_printer& printer,
                                      const format_job& job,
                                      std::string_view directive,
                                      const format_arg& arg, int long_count,
                                      bool wide, bool plus, bool hash,
                                      bool& quote);

// Runs after all arguments of a message are formatted.
class format_postprocessor {
public:
  virtual ~format_postprocessor() = default;
  virtual std::unique_ptr<format_postprocessor> clone() const = 0;
  virtual void handle(message_printer& printer) = 0;
};

class message_printer {
public:
  explicit message_printer(int maximum_line_length = 0);
  message_printer(const message_printer&) = delete;
  message_printer& operator=(const message_printer&) = delete;
  virtual ~message_printer();
  // A printer with the same settings writing to standard error through a
  // buffer of its own, without prefix, wrapping at this one's effective
  // width.
  virtual std::unique_ptr<message_printer> clone() const;

  std::unique_ptr<message_buffer> buffer;
  std::optional<std::string> prefix;
  space_owed_kind space_owed = space_owed_kind::none;
  int maximum_length = 0; // effective wrap width
  int indentation = 0;    // blanks at the start of continuation lines
  ::velk::prefix_rule prefix_rule = prefix_once;
  int line_cutoff = 0; // requested wrap width; 0 or less: no wrapping
  directive_decoder_fn directive_decoder = nullptr;
  std::unique_ptr<format_postprocessor> post_formatter;
  bool prefix_emitted = false;
  bool needs_newline = false;
  bool convert_identifiers = true;
  bool use_color = false;
  url_format url_style = url_format_none;
};

// Phases 1 and 2: splits the format and formats the arguments, pushing a
// chunk set.
void pp_format(message_printer& printer, const format_job& job);
// Phase 3: appends the chunks of the innermost message and pops its set.
void pp_output_formatted_text(message_printer& printer);

namespace detail {
void format_and_output(message_printer& printer, std::string_view format,
                       std::span<const format_arg> args, int saved_errno,
                       bool verbatim);
} // namespace detail

// pp_format then pp_output_formatted_text.  The format is used as given
// (translate it first when it is a message).
template <typename... Args>
void pp_format_and_output(message_printer& printer, std::string_view format,
                          const Args&... args) {
  int saved_errno = errno;
  const std::array<format_arg, sizeof...(Args)> list{format_arg(args)...};
  detail::format_and_output(printer, format, list, saved_errno, false);
}

// The same without wrapping and without prefix.
template <typename... Args>
void pp_format_verbatim_output(message_printer& printer,
                               std::string_view format, const Args&... args) {
  int saved_errno = errno;
  const std::array<format_arg, sizeof...(Args)> list{format_arg(args)...};
  detail::format_and_output(printer, format, list, saved_errno, true);
}

// Appends text, wrapping when the printer's line cutoff is positive.
void pp_put_text(message_printer& printer, std::string_view text);
// Appends one byte.
void pp_put_char(message_printer& printer, char c);
inline void pp_put_space(message_printer& printer) {
  pp_put_char(printer, ' ');
}
// Appends text with every byte that is neither printable ASCII nor part of
// a valid UTF-8 character (C1 control characters included) written as
// "\xNN".
void pp_put_quoted(message_printer& printer, std::string_view text);
void pp_end_line(message_printer& printer);
void pp_put_indent(message_printer& printer);
void pp_put_prefix(message_printer& printer);
void pp_flush_to_stream(message_printer& printer);
void pp_end_line_and_flush(message_printer& printer);
// The text formatted so far (it stays in the buffer).
std::string_view pp_formatted_string(message_printer& printer);
void pp_reset_output(message_printer& printer);
void pp_write_raw_to_stream(message_printer& printer);
// Writes the text as a label of a graph description: newlines become "\l"
// line breaks, and the characters special in labels (and, for record
// shapes, in records) are escaped.
void pp_write_text_as_dot_label_to_stream(message_printer& printer,
                                          bool for_record);
void pp_write_text_as_html_escaped_to_stream(message_printer& printer);

void pp_install_prefix(message_printer& printer,
                       std::optional<std::string> prefix);
std::optional<std::string> pp_detach_prefix(message_printer& printer);
void pp_drop_prefix(message_printer& printer);
void pp_set_line_cutoff(message_printer& printer, int cutoff);

void pp_open_quote(message_printer& printer);
void pp_close_quote(message_printer& printer);
void pp_begin_url(message_printer& printer, std::string_view url);
void pp_close_url(message_printer& printer);

// One character decoded from UTF-8 (see support/printable.h); decoding
// nothing is an internal error.
utf8_char decode_utf8_char(std::span<const unsigned char> bytes);
inline utf8_char decode_utf8_char(std::string_view bytes) {
  return decode_utf8_char(std::span<const unsigned char>(
      reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()));
}

// A front-end identifier (UTF-8) in the locale's character set, with
// escapes where it cannot be shown.
std::string identifier_for_locale(std::string_view identifier);

} // namespace velk
