#include "diagnostics/pretty_print.h"

#include "diagnostics/colors.h"
#include "diagnostics/internal_check.h"
#include "diagnostics/message_catalog.h"

#include <charconv>
#include <climits>
#include <cstring>
#include <iconv.h>

namespace velk {

namespace {

// A malformed format or a directive given the wrong kind of argument.  It
// unwinds to pp_format, which restores the printer before reporting.
struct format_fault {
  const char* function;
  int line;
};

#define FORMAT_CHECK(condition)                                                \
  do {                                                                         \
    if (!(condition))                                                          \
      throw format_fault{"pp_format", __LINE__};                               \
  } while (false)

std::string& out(message_printer& pp) {
  return *pp.buffer->current;
}

bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

// Appends without prefix or wrapping, keeping the line length.
void append_raw(message_printer& pp, std::string_view text) {
  message_buffer& b = *pp.buffer;
  std::size_t newline = text.rfind('\n');
  if (newline == std::string_view::npos) {
    b.line_length += static_cast<int>(text.size());
  } else {
    b.line_length = static_cast<int>(text.size() - newline - 1);
    b.line_start = 0;
  }
  b.current->append(text);
}

bool wrapping(const message_printer& pp) {
  return pp.line_cutoff > 0;
}

int room_left(const message_printer& pp) {
  return pp.maximum_length - pp.buffer->line_length;
}

// Appends text, emitting the prefix at the start of every line.  When
// wrapping, blanks that would start a line are dropped.
void append_text(message_printer& pp, std::string_view text) {
  message_buffer& b = *pp.buffer;
  while (!text.empty()) {
    if (b.line_length == 0) {
      pp_put_prefix(pp);
      if (wrapping(pp)) {
        std::size_t first = text.find_first_not_of(' ');
        text.remove_prefix(first == std::string_view::npos ? text.size()
                                                           : first);
        if (text.empty())
          return;
      }
    }
    std::size_t newline = text.find('\n');
    std::size_t take =
        newline == std::string_view::npos ? text.size() : newline + 1;
    append_raw(pp, text.substr(0, take));
    text.remove_prefix(take);
  }
}

void new_line(message_printer& pp) {
  append_raw(pp, "\n");
  pp.buffer->line_length = 0;
}

// Breaks the text into runs between blanks and newlines; a run that does
// not fit the rest of the line starts a new one.
void wrap_text(message_printer& pp, std::string_view text) {
  message_buffer& b = *pp.buffer;
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t j = i;
    while (j < text.size() && !is_blank(text[j]) && text[j] != '\n')
      ++j;
    if (j > i) {
      if (b.line_length == 0)
        pp_put_prefix(pp);
      // Never break a line that holds nothing but its prefix.
      if (static_cast<int>(j - i) >= room_left(pp) &&
          b.line_length > b.line_start)
        new_line(pp);
      append_text(pp, text.substr(i, j - i));
    }
    i = j;
    if (i < text.size() && is_blank(text[i])) {
      pp_put_char(pp, ' ');
      ++i;
    }
    if (i < text.size() && text[i] == '\n') {
      new_line(pp);
      ++i;
    }
  }
}

// The text of an error number, for %m.
std::string error_text(int error) {
  prepare_message_locale(); // the text is in the user's language
#ifdef __GLIBC__
  if (strerrordesc_np(error) == nullptr) {
    const char* format = translate("undocumented error #%d");
    int size = std::snprintf(nullptr, 0, format, error);
    std::string text(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    std::snprintf(text.data(), text.size() + 1, format, error);
    return text;
  }
#endif
  return std::strerror(error);
}

std::string_view url_terminator(url_format style) {
  switch (style) {
  case url_format_none:
    return {};
  case url_format_st:
    return "\33\\";
  case url_format_bel:
    return "\a";
  }
  VELK_UNREACHABLE();
}

std::string close_url_text(url_format style) {
  if (style == url_format_none)
    return {};
  return std::string("\33]8;;").append(url_terminator(style));
}

std::string open_quote_text(const message_printer& pp) {
  return quote_open_text() +
         std::string(color_start_sequence(pp.use_color, "quote"));
}

std::string close_quote_text(const message_printer& pp) {
  return std::string(color_stop_sequence(pp.use_color)) + quote_close_text();
}

// Which chunk formats an argument number, and whether the number is the
// precision of the string directive that follows it.
struct argument_slot {
  int chunk = -1;
  bool is_precision = false;
};
using argument_slots = std::array<argument_slot, max_arguments + 1>;

std::size_t parse_number(std::string_view f, std::size_t& i) {
  std::size_t n = 0;
  while (i < f.size() && f[i] >= '0' && f[i] <= '9') {
    n = n * 10 + static_cast<std::size_t>(f[i] - '0');
    FORMAT_CHECK(n <= 1000);
    ++i;
  }
  return n;
}

// Phase 1: text chunks and directive chunks; every argument number is
// mapped to its directive.
void split_format(const message_printer& pp, const format_job& job,
                  chunk_set& set, argument_slots& slots) {
  std::string_view f = job.format;
  std::string text;
  auto store = [&](std::string chunk) {
    FORMAT_CHECK(set.chunks.size() < max_chunks);
    set.chunks.push_back(std::move(chunk));
  };
  enum { undecided, numbered, unnumbered } style = undecided;
  int next_argument = 1;
  auto claim = [&](std::size_t number) {
    FORMAT_CHECK(number >= 1 && number <= max_arguments);
    argument_slot& slot = slots[number];
    FORMAT_CHECK(slot.chunk < 0 && !slot.is_precision);
    return static_cast<int>(number);
  };

  std::size_t i = 0;
  while (i < f.size()) {
    char c = f[i++];
    if (c != '%') {
      text += c;
      continue;
    }
    FORMAT_CHECK(i < f.size());
    switch (f[i]) {
    case '%':
      text += '%';
      ++i;
      continue;
    case '<':
      text += open_quote_text(pp);
      ++i;
      continue;
    case '>':
      text += close_quote_text(pp);
      ++i;
      continue;
    case '\'':
      text += quote_close_text();
      ++i;
      continue;
    case 'R':
      text += color_stop_sequence(pp.use_color);
      ++i;
      continue;
    case 'm':
      text += error_text(job.saved_errno);
      ++i;
      continue;
    case '}':
      text += close_url_text(pp.url_style);
      ++i;
      continue;
    default:
      break;
    }

    // An argument directive: the text so far is a chunk of its own.
    store(std::move(text));
    text.clear();
    std::size_t number = 0;
    if (f[i] >= '0' && f[i] <= '9') {
      number = parse_number(f, i);
      FORMAT_CHECK(i < f.size() && f[i] == '$');
      ++i;
      FORMAT_CHECK(style != unnumbered);
      style = numbered;
    } else {
      FORMAT_CHECK(style != numbered);
      style = unnumbered;
      number = static_cast<std::size_t>(next_argument++);
    }

    std::string directive;
    while (i < f.size() && std::strchr("qwl+#", f[i]) != nullptr && f[i])
      directive += f[i++];
    FORMAT_CHECK(i < f.size());
    char conversion = f[i++];
    directive += conversion;
    int precision_argument = 0;
    if (conversion == '.') {
      FORMAT_CHECK(i < f.size());
      if (f[i] >= '0' && f[i] <= '9') {
        while (i < f.size() && f[i] >= '0' && f[i] <= '9')
          directive += f[i++];
      } else {
        FORMAT_CHECK(f[i] == '*');
        directive += f[i++];
        if (style == numbered) {
          std::size_t precision = parse_number(f, i);
          FORMAT_CHECK(i < f.size() && f[i] == '$');
          ++i;
          FORMAT_CHECK(precision + 1 == number);
          precision_argument = claim(precision);
        } else {
          precision_argument = claim(number);
          number = static_cast<std::size_t>(next_argument++);
        }
      }
      FORMAT_CHECK(i < f.size() && f[i] == 's');
      directive += f[i++];
    }
    int argument = claim(number);
    if (precision_argument != 0)
      slots[precision_argument].is_precision = true;
    slots[argument].chunk = static_cast<int>(set.chunks.size());
    store(std::move(directive));
  }
  store(std::move(text));
}

template <typename T>
void put_number(message_printer& pp, T value, int base = 10) {
  std::array<char, 128> scratch; // wide enough for any integer
  auto result = std::to_chars(scratch.data(), scratch.data() + scratch.size(),
                              value, base);
  pp_put_text(pp, std::string_view(
                      scratch.data(),
                      static_cast<std::size_t>(result.ptr - scratch.data())));
}

void put_signed(message_printer& pp, const format_arg& a, int longs,
                bool wide) {
  if (wide)
    put_number(pp, a.as<std::int64_t>());
  else if (longs == 2)
    put_number(pp, a.as<long long>());
  else if (longs == 1)
    put_number(pp, a.as<long>());
  else
    put_number(pp, a.as<int>());
}

void put_unsigned(message_printer& pp, const format_arg& a, int longs,
                  bool wide, int base) {
  if (wide) {
    auto v = a.as<std::uint64_t>();
    if (base == 16 && v != 0)
      pp_put_text(pp, "0x");
    put_number(pp, v, base);
  } else if (longs == 2) {
    put_number(pp, a.as<unsigned long long>(), base);
  } else if (longs == 1) {
    put_number(pp, a.as<unsigned long>(), base);
  } else {
    put_number(pp, a.as<unsigned>(), base);
  }
}

void put_double(message_printer& pp, double value) {
  int size = std::snprintf(nullptr, 0, "%f", value);
  std::string text(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  std::snprintf(text.data(), text.size() + 1, "%f", value);
  pp_put_text(pp, text);
}

void put_pointer(message_printer& pp, const void* p) {
  std::array<char, 64> scratch;
  int size = std::snprintf(scratch.data(), scratch.size(), "%p", p);
  pp_put_text(pp,
              std::string_view(scratch.data(), static_cast<std::size_t>(size)));
}

// Formats one directive into the current (argument) text.
void format_directive(message_printer& pp, const format_job& job,
                      std::string_view d, int number,
                      const format_arg* precision) {
  bool quote = false, wide = false, plus = false, hash = false;
  int longs = 0;
  std::size_t k = 0;
  for (;; ++k) {
    FORMAT_CHECK(k < d.size());
    char m = d[k];
    if (m == 'q') {
      FORMAT_CHECK(!quote);
      quote = true;
    } else if (m == 'l') {
      FORMAT_CHECK(longs < 2 && !wide);
      ++longs;
    } else if (m == 'w') {
      FORMAT_CHECK(!wide && longs == 0);
      wide = true;
    } else if (m == '+') {
      FORMAT_CHECK(!plus);
      plus = true;
    } else if (m == '#') {
      FORMAT_CHECK(!hash);
      hash = true;
    } else {
      break;
    }
  }
  char conversion = d[k];
  FORMAT_CHECK(static_cast<std::size_t>(number) <= job.args.size());
  const format_arg& a = job.args[static_cast<std::size_t>(number) - 1];
  using type = format_arg::type;

  if (std::strchr("cdiouxfps.Z@r{", conversion) == nullptr) {
    // Not a base directive: the decoder formats it into a text of its own,
    // so that the quotes (unless it takes them over) can surround it.
    FORMAT_CHECK(pp.directive_decoder != nullptr);
    std::string& arena = out(pp);
    std::size_t start = arena.size();
    bool done = pp.directive_decoder(pp, job, d.substr(k), a, longs, wide, plus,
                                     hash, quote);
    FORMAT_CHECK(done);
    if (quote)
      arena.insert(start, open_quote_text(pp)).append(close_quote_text(pp));
    return;
  }

  if (quote)
    pp_open_quote(pp);
  switch (conversion) {
  case 'c': {
    FORMAT_CHECK(a.is_integer());
    char byte = static_cast<char>(a.as<int>());
    pp_put_quoted(pp, std::string_view(&byte, 1));
    break;
  }
  case 'd':
  case 'i':
    FORMAT_CHECK(a.is_integer());
    put_signed(pp, a, longs, wide);
    break;
  case 'o':
  case 'u':
  case 'x':
    FORMAT_CHECK(a.is_integer());
    put_unsigned(pp, a, longs, wide,
                 conversion == 'o'   ? 8
                 : conversion == 'x' ? 16
                                     : 10);
    break;
  case 'f':
    FORMAT_CHECK(a.kind() == type::floating);
    put_double(pp, a.floating());
    break;
  case 'p':
    FORMAT_CHECK(a.kind() == type::pointer);
    put_pointer(pp, a.pointer());
    break;
  case 's':
    FORMAT_CHECK(a.kind() == type::string);
    // Argument text is escaped, quoted or not: it may come from the
    // command line and must never carry control sequences to a terminal.
    pp_put_quoted(pp, a.null_string() ? "(null)" : a.string());
    break;
  case '.': {
    FORMAT_CHECK(a.kind() == type::string);
    std::string_view s = a.null_string() ? "(null)" : a.string();
    long long limit = -1;
    if (precision != nullptr) {
      FORMAT_CHECK(precision->is_integer());
      limit = precision->as<int>();
    } else {
      std::string_view digits = d.substr(k + 1, d.size() - k - 2);
      limit = 0;
      for (char c : digits)
        limit = std::min(limit * 10 + (c - '0'), 1LL << 40);
    }
    if (limit >= 0 && static_cast<unsigned long long>(limit) < s.size())
      s = s.substr(0, static_cast<std::size_t>(limit));
    pp_put_quoted(pp, s);
    break;
  }
  case 'Z': {
    FORMAT_CHECK(a.kind() == type::int_list);
    bool first = true;
    for (int v : a.list()) {
      if (!first)
        pp_put_text(pp, ", ");
      first = false;
      put_number(pp, v);
    }
    break;
  }
  case '@':
    FORMAT_CHECK(a.kind() == type::event_id && a.event() != -1);
    pp_put_text(pp, color_start_sequence(pp.use_color, "path"));
    pp_put_char(pp, '(');
    put_number(pp, static_cast<long long>(a.event()) + 1);
    pp_put_char(pp, ')');
    pp_put_text(pp, color_stop_sequence(pp.use_color));
    break;
  case 'r':
    FORMAT_CHECK(a.kind() == type::string);
    pp_put_text(pp, color_start_sequence(pp.use_color, a.string()));
    break;
  case '{':
    FORMAT_CHECK(a.kind() == type::string);
    pp_begin_url(pp, a.string());
    break;
  }
  if (quote)
    pp_close_quote(pp);
}

// Phase 2 leaves the printer as it found it, however it ends.
class argument_phase {
public:
  explicit argument_phase(message_printer& pp)
      : pp_(pp), line_length_(pp.buffer->line_length),
        line_start_(pp.buffer->line_start), line_cutoff_(pp.line_cutoff),
        maximum_length_(pp.maximum_length), rule_(pp.prefix_rule),
        current_(pp.buffer->current) {
    pp.line_cutoff = 0;
    pp.maximum_length = 0;
    pp.prefix_rule = prefix_never;
  }
  argument_phase(const argument_phase&) = delete;
  argument_phase& operator=(const argument_phase&) = delete;
  ~argument_phase() {
    pp_.buffer->line_length = line_length_;
    pp_.buffer->line_start = line_start_;
    pp_.line_cutoff = line_cutoff_;
    pp_.maximum_length = maximum_length_;
    pp_.prefix_rule = rule_;
    pp_.buffer->current = current_;
  }

private:
  message_printer& pp_;
  int line_length_, line_start_, line_cutoff_, maximum_length_;
  prefix_rule rule_;
  std::string* current_;
};

void format_arguments(message_printer& pp, const format_job& job,
                      chunk_set& set, const argument_slots& slots) {
  argument_phase phase(pp);
  int number = 1;
  for (; number <= max_arguments; ++number) {
    const argument_slot& slot = slots[static_cast<std::size_t>(number)];
    if (slot.is_precision)
      continue; // fetched with the string that follows it
    if (slot.chunk < 0)
      break;
    const format_arg* precision = nullptr;
    if (number > 1 &&
        slots[static_cast<std::size_t>(number) - 1].is_precision) {
      FORMAT_CHECK(static_cast<std::size_t>(number) - 1 <= job.args.size());
      precision = &job.args[static_cast<std::size_t>(number) - 2];
    }
    std::string text;
    pp.buffer->current = &text;
    format_directive(pp, job, set.chunks[static_cast<std::size_t>(slot.chunk)],
                     number, precision);
    set.chunks[static_cast<std::size_t>(slot.chunk)] = std::move(text);
  }
  // Argument numbers must run from 1 without a gap.
  for (; number <= max_arguments; ++number)
    FORMAT_CHECK(slots[static_cast<std::size_t>(number)].chunk < 0);
  pp.buffer->current = &pp.buffer->formatted;
  if (pp.post_formatter)
    pp.post_formatter->handle(pp);
}

void write_to_stream(message_printer& pp, std::string_view text) {
  if (!text.empty())
    std::fwrite(text.data(), 1, text.size(), pp.buffer->stream);
}

void recompute_maximum_length(message_printer& pp) {
  if (pp.line_cutoff <= 0 || pp.prefix_rule != prefix_every_line) {
    pp.maximum_length = pp.line_cutoff;
    return;
  }
  int prefix_length = pp.prefix ? static_cast<int>(pp.prefix->size()) : 0;
  pp.maximum_length = pp.line_cutoff - prefix_length < 32 ? pp.line_cutoff + 32
                                                          : pp.line_cutoff;
}

} // namespace

message_printer::message_printer(int maximum_line_length)
    : buffer(std::make_unique<message_buffer>()),
      maximum_length(maximum_line_length), line_cutoff(maximum_line_length) {}

message_printer::~message_printer() = default;

std::unique_ptr<message_printer> message_printer::clone() const {
  auto copy = std::make_unique<message_printer>(maximum_length);
  copy->space_owed = space_owed;
  copy->prefix_rule = prefix_rule;
  copy->directive_decoder = directive_decoder;
  copy->needs_newline = needs_newline;
  copy->convert_identifiers = convert_identifiers;
  copy->use_color = use_color;
  copy->url_style = url_style;
  recompute_maximum_length(*copy);
  if (post_formatter)
    copy->post_formatter = post_formatter->clone();
  return copy;
}

void pp_format(message_printer& pp, const format_job& job) {
  message_buffer& b = *pp.buffer;
  b.chunk_sets.push_back(std::make_unique<chunk_set>());
  chunk_set& set = *b.chunk_sets.back();
  try {
    argument_slots slots{};
    split_format(pp, job, set, slots);
    format_arguments(pp, job, set, slots);
  } catch (const format_fault& fault) {
    // The printer is back in its state before this message: report the
    // fault with it.
    b.chunk_sets.pop_back();
    assert_failed(__FILE__, fault.line, fault.function);
  }
}

void pp_output_formatted_text(message_printer& pp) {
  message_buffer& b = *pp.buffer;
  VELK_ASSERT(b.current == &b.formatted);
  VELK_ASSERT(!b.chunk_sets.empty());
  std::unique_ptr<chunk_set> set = std::move(b.chunk_sets.back());
  b.chunk_sets.pop_back();
  for (const std::string& chunk : set->chunks)
    pp_put_text(pp, chunk);
}

namespace detail {
void format_and_output(message_printer& pp, std::string_view format,
                       std::span<const format_arg> args, int saved_errno,
                       bool verbatim) {
  format_job job;
  job.format = format;
  job.args = args;
  job.saved_errno = saved_errno;
  if (!verbatim) {
    pp_format(pp, job);
    pp_output_formatted_text(pp);
    return;
  }
  int cutoff = pp.line_cutoff;
  prefix_rule rule = pp.prefix_rule;
  pp.prefix_rule = prefix_never;
  pp_set_line_cutoff(pp, 0);
  pp_format(pp, job);
  pp_output_formatted_text(pp);
  pp.prefix_rule = rule;
  pp_set_line_cutoff(pp, cutoff);
}
} // namespace detail

void pp_put_text(message_printer& pp, std::string_view text) {
  if (wrapping(pp))
    wrap_text(pp, text);
  else
    append_text(pp, text);
}

void pp_put_char(message_printer& pp, char c) {
  if (wrapping(pp) && (static_cast<unsigned char>(c) & 0xc0) != 0x80 &&
      room_left(pp) <= 0) {
    new_line(pp);
    if (std::strchr(" \t\n\v\f\r", c) != nullptr && c != '\0')
      return;
  }
  append_text(pp, std::string_view(&c, 1));
}

void pp_put_quoted(message_printer& pp, std::string_view text) {
  escape_unprintable_into(
      text, [&](std::string_view piece) { pp_put_text(pp, piece); });
}

void pp_end_line(message_printer& pp) {
  new_line(pp);
  pp.needs_newline = false;
}

void pp_put_indent(message_printer& pp) {
  append_raw(pp, std::string(static_cast<std::size_t>(pp.indentation), ' '));
}

void pp_put_prefix(message_printer& pp) {
  if (!pp.prefix || pp.prefix_rule == prefix_never)
    return;
  message_buffer& b = *pp.buffer;
  bool at_line_start = b.line_length == 0;
  if (pp.prefix_rule == prefix_once && pp.prefix_emitted) {
    pp_put_indent(pp);
  } else {
    if (pp.prefix_rule == prefix_once)
      pp.indentation += 3;
    append_raw(pp, *pp.prefix);
    pp.prefix_emitted = true;
  }
  if (at_line_start)
    b.line_start = b.line_length;
}

void pp_flush_to_stream(message_printer& pp) {
  pp.prefix_emitted = false;
  pp.indentation = 0;
  message_buffer& b = *pp.buffer;
  if (!b.flush)
    return;
  write_to_stream(pp, b.formatted);
  b.formatted.clear();
  std::fflush(b.stream);
}

void pp_end_line_and_flush(message_printer& pp) {
  pp_end_line(pp);
  pp_flush_to_stream(pp);
  pp.needs_newline = false;
}

std::string_view pp_formatted_string(message_printer& pp) {
  return pp.buffer->formatted;
}

void pp_reset_output(message_printer& pp) {
  pp.buffer->formatted.clear();
  pp.buffer->line_length = 0;
  pp.buffer->line_start = 0;
}

void pp_write_raw_to_stream(message_printer& pp) {
  std::fputs(pp.buffer->formatted.c_str(), pp.buffer->stream);
  pp_reset_output(pp);
}

void pp_write_text_as_dot_label_to_stream(message_printer& pp,
                                          bool for_record) {
  const std::string& text = pp.buffer->formatted;
  VELK_ASSERT(text.empty() || text.back() != '\\');
  std::string label;
  for (char c : text) {
    switch (c) {
    case '\n':
      label += "\\l\\\n";
      break;
    case '\\':
    case '"':
      label += '\\';
      label += c;
      break;
    case '|':
    case '{':
    case '}':
    case '<':
    case '>':
    case ' ':
      if (for_record)
        label += '\\';
      label += c;
      break;
    default:
      label += c;
    }
  }
  write_to_stream(pp, label);
  pp_reset_output(pp);
}

void pp_write_text_as_html_escaped_to_stream(message_printer& pp) {
  std::string html;
  for (char c : pp.buffer->formatted) {
    switch (c) {
    case '"':
      html += "&quot;";
      break;
    case '&':
      html += "&amp;";
      break;
    case '<':
      html += "&lt;";
      break;
    case '>':
      html += "&gt;";
      break;
    default:
      html += c;
    }
  }
  write_to_stream(pp, html);
  pp_reset_output(pp);
}

void pp_install_prefix(message_printer& pp, std::optional<std::string> prefix) {
  pp.prefix = std::move(prefix);
  recompute_maximum_length(pp);
  pp.prefix_emitted = false;
  pp.indentation = 0;
}

std::optional<std::string> pp_detach_prefix(message_printer& pp) {
  std::optional<std::string> prefix = std::move(pp.prefix);
  pp.prefix.reset();
  return prefix;
}

void pp_drop_prefix(message_printer& pp) {
  pp.prefix.reset();
}

void pp_set_line_cutoff(message_printer& pp, int cutoff) {
  pp.line_cutoff = cutoff;
  recompute_maximum_length(pp);
}

void pp_open_quote(message_printer& pp) {
  pp_put_text(pp, quote_open_text());
  pp_put_text(pp, color_start_sequence(pp.use_color, "quote"));
}

void pp_close_quote(message_printer& pp) {
  pp_put_text(pp, color_stop_sequence(pp.use_color));
  pp_put_text(pp, quote_close_text());
}

void pp_begin_url(message_printer& pp, std::string_view url) {
  if (pp.url_style == url_format_none)
    return;
  std::string_view terminator = url_terminator(pp.url_style);
  pp_put_text(pp, "\33]8;;");
  pp_put_text(pp, escape_unprintable(url));
  pp_put_text(pp, terminator);
}

void pp_close_url(message_printer& pp) {
  pp_put_text(pp, close_url_text(pp.url_style));
}

utf8_char decode_utf8_char(std::span<const unsigned char> bytes) {
  VELK_ASSERT(!bytes.empty());
  return decode_utf8(bytes);
}

namespace {

// Converts UTF-8 text to `charset`; none when a character cannot be
// represented exactly.
std::optional<std::string> convert_from_utf8(std::string_view text,
                                             const std::string& charset) {
  iconv_t cd = iconv_open(charset.c_str(), "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1))
    return std::nullopt;
  std::optional<std::string> result;
  std::size_t room = 4 * text.size() + 1;
  for (;;) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr); // initial state
    std::string output(room, '\0');
    std::string input(text);
    char* in = input.data();
    std::size_t in_left = input.size();
    char* o = output.data();
    std::size_t out_left = output.size();
    std::size_t irreversible = iconv(cd, &in, &in_left, &o, &out_left);
    if (irreversible == static_cast<std::size_t>(-1)) {
      if (errno == E2BIG) {
        room *= 2;
        continue;
      }
      break;
    }
    if (iconv(cd, nullptr, nullptr, &o, &out_left) ==
        static_cast<std::size_t>(-1)) {
      if (errno == E2BIG) {
        room *= 2;
        continue;
      }
      break;
    }
    if (irreversible == 0 && in_left == 0) {
      output.resize(output.size() - out_left);
      result = std::move(output);
    }
    break;
  }
  iconv_close(cd);
  return result;
}

} // namespace

std::string identifier_for_locale(std::string_view identifier) {
  bool valid = true;
  bool ascii = true;
  for (std::size_t i = 0; i < identifier.size() && valid;) {
    utf8_char u = decode_utf8_char(identifier.substr(i));
    if (u.length == 0 || u.value < 32 || (u.value >= 127 && u.value <= 159))
      valid = false;
    else {
      ascii = ascii && u.value < 0x80;
      i += u.length;
    }
  }
  std::string result;
  if (!valid) {
    for (char ch : identifier) {
      unsigned char c = static_cast<unsigned char>(ch);
      if (c >= 32 && c <= 126) {
        result += ch;
      } else {
        const char octal[4] = {'\\', static_cast<char>('0' + (c >> 6)),
                               static_cast<char>('0' + ((c >> 3) & 7)),
                               static_cast<char>('0' + (c & 7))};
        result.append(octal, 4);
      }
    }
    return result;
  }
  if (ascii || locale_is_utf8())
    return std::string(identifier);
  if (!locale_charset().empty())
    if (auto converted = convert_from_utf8(identifier, locale_charset()))
      return *converted;
  for (std::size_t i = 0; i < identifier.size();) {
    utf8_char u = decode_utf8_char(identifier.substr(i));
    if (u.value < 0x80) {
      result += identifier[i];
    } else {
      std::array<char, 16> scratch;
      int n = std::snprintf(scratch.data(), scratch.size(), "\\U%08x",
                            static_cast<unsigned>(u.value));
      result.append(scratch.data(), static_cast<std::size_t>(n));
    }
    i += u.length;
  }
  return result;
}

} // namespace velk
