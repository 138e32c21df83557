#include "specs/spec_interpreter.h"

#include "diagnostics/diagnostic.h"
#include "options/decode.h"
#include "options/option_codes.h"
#include "specs/named_specs.h"
#include "specs/search_paths.h"
#include "specs/spec_functions.h"
#include "specs/velk_options.h"
#include "support/argument_files.h"
#include "support/environment.h"
#include "support/temp_files.h"
#include "support/temp_names.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace velk {

namespace {

execute_hook execute_command_group = nullptr;
self_spec_option_hook handle_self_spec_option = nullptr;
spec_file_reader read_spec_file_hook = nullptr;

// Specs nest through %(name), braces and spec-function results; a spec that
// names itself would otherwise recurse until the stack runs out.
constexpr int max_nesting_depth = 200;
constexpr int max_named_spec_depth = 100;

constexpr int end_of_text = -1;

constexpr bool is_alnum(int c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
         (c >= '0' && c <= '9');
}

bool is_blank(int c) {
  return c == ' ' || c == '\t';
}

// The characters of the switch-name word of a brace atom, as a table: the
// word is read for every atom the specs test.
constexpr std::array<bool, 256> atom_chars = [] {
  std::array<bool, 256> table{};
  for (int c = 0; c < 256; ++c)
    table[c] = is_alnum(c) || c == '_' || c == '-' || c == '+' || c == '=' ||
               c == ',' || c == '.' || c == '@';
  return table;
}();

// The characters that are text of the argument in progress and nothing
// else (see do_spec_1).
constexpr std::array<bool, 256> ordinary_chars = [] {
  std::array<bool, 256> table{};
  table.fill(true);
  for (unsigned char c : {'\n', '|', ' ', '\t', '\\', '%'})
    table[c] = false;
  return table;
}();

bool is_atom_char(int c) {
  return c >= 0 && c < 256 && atom_chars[static_cast<std::size_t>(c)];
}

// Reading position in a spec text; characters past the end read as
// end_of_text.
struct cursor {
  std::string_view text;
  std::size_t pos = 0;

  int peek(std::size_t ahead = 0) const {
    return pos + ahead < text.size()
               ? static_cast<unsigned char>(text[pos + ahead])
               : end_of_text;
  }
  bool at_end() const { return pos >= text.size(); }
  void skip_blanks() {
    while (is_blank(peek()))
      ++pos;
  }
  // Steps over the characters `admitted` marks, in one tight loop.
  void skip_run(const std::array<bool, 256>& admitted) {
    const char* const chars = text.data();
    const std::size_t size = text.size();
    std::size_t i = pos;
    while (i < size && admitted[static_cast<unsigned char>(chars[i])])
      ++i;
    pos = std::max(pos, i);
  }
  std::string rest_from(std::size_t start) const {
    return std::string(text.substr(std::min(start, text.size())));
  }
};

class nesting_guard {
public:
  explicit nesting_guard(std::string_view spec) {
    if (++spec_state().nesting_depth > max_nesting_depth) {
      spec_state().nesting_depth = 0;
      fatal_error(unknown_location, "spec %qs nests too deeply",
                  std::string(spec));
    }
  }
  nesting_guard(const nesting_guard&) = delete;
  nesting_guard& operator=(const nesting_guard&) = delete;
  ~nesting_guard() { --spec_state().nesting_depth; }
};

void append_text(std::string_view text) {
  spec_state().text += text;
  spec_state().argument_in_progress = true;
}

// Runs the named spec `name` if one is defined; unknown names expand to
// nothing.
int run_named_spec(std::string_view name) {
  const named_spec* spec = find_named_spec(name);
  if (spec == nullptr)
    return 0;
  spec_interpreter_state& st = spec_state();
  if (++st.named_spec_depth > max_named_spec_depth) {
    st.named_spec_depth = 0;
    fatal_error(unknown_location,
                "spec %qs is expanded recursively more than %d levels deep",
                std::string(name), max_named_spec_depth);
  }
  // The list may change while the spec runs (self specs, spec functions):
  // a text the driver made is run from a copy; built-in texts are constant.
  std::string copy;
  std::string_view text = spec->text;
  if (spec->owned_text) {
    copy = std::string(text);
    text = copy;
  }
  const bool saved_user = st.user_spec;
  st.user_spec = spec->user;
  int result = do_spec_1(text, false, std::nullopt);
  st.user_spec = saved_user;
  --st.named_spec_depth;
  return result;
}

void emit_words(std::initializer_list<std::string_view> words) {
  for (std::string_view word : words) {
    do_spec_1(word, true, std::nullopt);
    do_spec_1(" ", false, std::nullopt);
  }
}

void emit_option_list(const std::vector<std::string>& list) {
  // %x may add to the list while it is being emitted.
  const std::vector<std::string> copy = list;
  for (const std::string& option : copy) {
    do_spec_1(option, true, std::nullopt);
    do_spec_1(" ", false, std::nullopt);
  }
}

// --- Response files ---

// Opens a response group when the user's command line used @files;
// returns whether one was opened.
bool open_response_group() {
  spec_interpreter_state& st = spec_state();
  if (st.in_response_file)
    fatal_error(unknown_location, "cannot open nested response file");
  if (!response_files_wanted())
    return false;
  st.in_response_file = true;
  return true;
}

void close_response_group() {
  spec_interpreter_state& st = spec_state();
  if (!st.in_response_file)
    fatal_error(unknown_location, "cannot close nonexistent response file");
  st.in_response_file = false;
  if (st.response_argument_vector.empty())
    return;
  const std::string name =
      st.save_temps
          ? saved_response_file_name(
                st.dump_base ? *st.dump_base : "", st.dump_dir.value_or(""),
                st.dump_dir_trailing_dash, st.response_file_count++)
          : make_temp_name("");
  const std::vector<std::string> arguments =
      std::move(st.response_argument_vector);
  st.response_argument_vector.clear();
  switch (write_response_file(name, arguments)) {
  case response_file_failure::none:
    break;
  case response_file_failure::open:
    fatal_error(unknown_location, "could not open temporary response file %s",
                name);
  case response_file_failure::write:
    fatal_error(unknown_location,
                "could not write to temporary response file %s", name);
  case response_file_failure::close:
    fatal_error(unknown_location, "could not close temporary response file %s",
                name);
  }
  st.argument_vector.push_back("@" + name);
  if (!st.save_temps)
    note_temp_file(name, true, true);
}

// --- Temporary names ---

bool dev_null_writable() {
  struct stat st;
  return stat("/dev/null", &st) == 0 && !S_ISDIR(st.st_mode) &&
         access("/dev/null", W_OK) == 0;
}

// Whether `name` is the current input file, by name or by device and
// inode.
bool names_current_input(const std::string& name) {
  spec_interpreter_state& st = spec_state();
  const current_input_record& input = tables().current;
  if (name == input.name)
    return true;
  if (st.stat_input_name != input.name || !st.input_stat_valid) {
    struct stat s;
    st.stat_input_name = input.name;
    st.input_stat_valid = stat(input.name.c_str(), &s) == 0;
    if (st.input_stat_valid) {
      st.input_device = s.st_dev;
      st.input_inode = s.st_ino;
    }
  }
  if (!st.input_stat_valid)
    return false;
  struct stat s;
  return stat(name.c_str(), &s) == 0 && s.st_dev == st.input_device &&
         s.st_ino == st.input_inode;
}

std::string input_stem() {
  const current_input_record& input = tables().current;
  return input.base_name.substr(
      0, std::min(input.base_stem_length, input.base_name.size()));
}

// %g %u %U %j %| %m; `c` is at the escape letter.
void temporary_name_escape(cursor& c, std::string_view spec) {
  spec_interpreter_state& st = spec_state();
  const int kind = c.peek();
  ++c.pos;
  const std::size_t start = c.pos;
  while (c.peek() == '.' || is_alnum(c.peek()))
    ++c.pos;
  std::string suffix(c.text.substr(start, c.pos - start));
  const bool object_suffix = c.peek() == '%' && c.peek(1) == 'O';

  if (kind == 'j' && !st.save_temps && dev_null_writable()) {
    // Output nobody reads; the suffix does not belong to /dev/null.
    append_text("/dev/null");
    st.delete_mark = 0;
    if (object_suffix)
      c.pos += 2;
    return;
  }
  if ((kind == '|' || kind == 'm') && st.use_pipes) {
    if (kind == '|') {
      append_text("-");
      st.delete_mark = 0;
    }
    if (object_suffix)
      c.pos += 2;
    return;
  }
  if (object_suffix) {
    c.pos += 2;
    if (c.peek() == '.' || is_alnum(c.peek()))
      fatal_error(unknown_location, "spec %qs has invalid %<%%0%c%>",
                  std::string(spec), c.peek());
    suffix = suffix.empty() ? ".o" : suffix + ".o";
  }
  if (st.compare_debug < 0)
    suffix = ".gk" + suffix;

  if (st.save_temps) {
    std::string name = st.dump_dir.value_or("").substr(0, st.dump_dir_length);
    std::string stem = input_stem();
    std::string_view visible_suffix = suffix;
    if (st.output_base && !st.output_base->empty())
      name += *st.output_base;
    else if (!stem.empty())
      name += stem;
    else if (!visible_suffix.empty() && !st.dump_dir_trailing_dash)
      visible_suffix.remove_prefix(1);
    name += visible_suffix;
    if (!names_current_input(name)) {
      append_text(name);
      st.delete_mark = 0;
      return;
    }
  }

  const bool unique = kind == 'u' || kind == 'U' || kind == 'j';
  temporary_name* entry = nullptr;
  for (auto it = st.temporary_name_table.rbegin();
       it != st.temporary_name_table.rend(); ++it) {
    if (it->suffix == suffix && it->unique == unique) {
      entry = &*it;
      break;
    }
  }
  if (entry == nullptr || kind == 'u' || kind == 'j') {
    if (entry == nullptr)
      entry = &st.temporary_name_table.emplace_back();
    entry->suffix = suffix;
    entry->unique = unique;
    entry->filename = make_temp_name(suffix);
  }
  append_text(entry->filename);
  st.delete_mark = 1;
}

// --- Spec functions ---

struct spec_function_call {
  std::string name;
  std::string arguments;
};

// Reads "name(arguments)" at `c` (after "%:").
spec_function_call read_spec_function_call(cursor& c) {
  spec_function_call call;
  const std::size_t start = c.pos;
  while (is_alnum(c.peek()) || c.peek() == '-' || c.peek() == '_')
    ++c.pos;
  call.name = std::string(c.text.substr(start, c.pos - start));
  if (c.at_end())
    fatal_error(unknown_location, "no arguments for spec function");
  if (c.peek() != '(')
    fatal_error(unknown_location, "malformed spec function name");
  ++c.pos;
  const std::size_t args_start = c.pos;
  int count = 1;
  for (;; ++c.pos) {
    int ch = c.peek();
    if (ch == end_of_text)
      fatal_error(unknown_location, "malformed spec function arguments");
    if (ch == '(')
      ++count;
    else if (ch == ')' && --count == 0)
      break;
  }
  call.arguments = std::string(c.text.substr(args_start, c.pos - args_start));
  ++c.pos; // the ")"
  return call;
}

// The caller's argument in progress and its marks, put aside while a spec
// function's arguments (or a spec it expands) are interpreted.
class saved_argument {
public:
  saved_argument() : st_(spec_state()) {
    argv_ = std::move(st_.argument_vector);
    response_ = std::move(st_.response_argument_vector);
    text_ = std::move(st_.text);
    in_progress_ = st_.argument_in_progress;
    delete_mark_ = st_.delete_mark;
    output_ = st_.output_file_mark;
    library_ = st_.library_file_mark;
    script_ = st_.linker_script_mark;
    piped_ = st_.piped_input_mark;
    in_response_ = st_.in_response_file;
    subst_ = std::move(st_.suffix_substitution);
    st_.argument_vector.clear();
    st_.response_argument_vector.clear();
    st_.text.clear();
    st_.in_response_file = false;
  }
  saved_argument(const saved_argument&) = delete;
  saved_argument& operator=(const saved_argument&) = delete;
  ~saved_argument() {
    st_.argument_vector = std::move(argv_);
    st_.response_argument_vector = std::move(response_);
    st_.text = std::move(text_);
    st_.argument_in_progress = in_progress_;
    st_.delete_mark = delete_mark_;
    st_.output_file_mark = output_;
    st_.library_file_mark = library_;
    st_.linker_script_mark = script_;
    st_.piped_input_mark = piped_;
    st_.in_response_file = in_response_;
    st_.suffix_substitution = std::move(subst_);
  }

private:
  spec_interpreter_state& st_;
  std::vector<std::string> argv_, response_;
  std::string text_;
  bool in_progress_, output_, library_, script_, piped_, in_response_;
  int delete_mark_;
  std::optional<std::string> subst_;
};

// Calls the function and interprets its text in the caller's place.
// Returns -1 on failure; `returned_text` tells whether it gave text.
int run_spec_function(const spec_function_call& call,
                      std::optional<std::string_view> soft_match,
                      bool& returned_text) {
  const spec_function* function = find_spec_function(call.name);
  if (function == nullptr)
    fatal_error(unknown_location, "unknown spec function %qs", call.name);

  spec_interpreter_state& st = spec_state();
  std::vector<std::string> words;
  {
    saved_argument saved;
    ++st.spec_function_depth;
    if (run_spec_fresh(call.arguments, soft_match) < 0)
      fatal_error(unknown_location, "error in arguments to spec function %qs",
                  call.name);
    words = std::move(st.argument_vector);
    --st.spec_function_depth;
  }

  std::optional<std::string> result = function->function(words);
  returned_text = result.has_value();
  if (!result)
    return 0;
  if (do_spec_1(*result, false, std::nullopt) < 0)
    return -1;
  // The result is a word (or words) of its own: what follows the call
  // starts a new argument.
  finish_argument();
  return 0;
}

// --- Switches ---

// Whether atom `atom` (starred or not) names a present switch.  The
// switches are tested in table order and the first present one ends the
// search: a liveness test records its answer in the switch, so which
// switches are tested shows in later conditions.  Only the switches whose
// names (or separate -D/-U arguments) can match are visited.
bool switch_matches(std::string_view atom, bool starred) {
  switch_table& switches = tables().switches;
  const std::size_t len = atom.size();
  const bool define_or_undefine = len > 0 && (atom[0] == 'D' || atom[0] == 'U');
  auto matches = [&](std::size_t i) {
    const std::string& name = switches[i].name;
    if ((starred ? name.size() >= len : name.size() == len) &&
        name.starts_with(atom) &&
        switch_is_live(i, starred ? std::optional<std::size_t>(len)
                                  : std::nullopt))
      return true;
    // -D and -U with a separate argument: "%{Dfoo}" tests "-D foo".
    if (define_or_undefine && !name.empty() && name[0] == atom[0] &&
        !switches[i].args.empty()) {
      const std::string& arg = switches[i].args[0];
      std::string_view rest = atom.substr(1);
      if (arg.starts_with(rest) &&
          (starred || (name.size() == 1 && arg.size() == rest.size())) &&
          switch_is_live(i, starred ? std::optional<std::size_t>(1)
                                    : std::nullopt))
        return true;
    }
    return false;
  };
  std::span<const std::uint32_t> named =
      switches_named(switches, atom, !starred);
  std::span<const std::uint32_t> separate;
  if (define_or_undefine)
    separate = switches_with_separate_d_u(switches);
  if (starred && len <= 1) {
    // Liveness with a prefix of at most one character records nothing:
    // the order of the tests does not matter.
    for (std::uint32_t i : named)
      if (matches(i))
        return true;
    for (std::uint32_t i : separate)
      if (matches(i))
        return true;
    return false;
  }
  // A starred atom's names come in name order; put them in table order.
  // Its storage is kept from one test to the next.
  static std::vector<std::uint32_t> in_order;
  if (starred && named.size() > 1) {
    in_order.assign(named.begin(), named.end());
    std::sort(in_order.begin(), in_order.end());
    named = in_order;
  }
  std::size_t a = 0, b = 0;
  while (a < named.size() || b < separate.size()) {
    std::uint32_t i;
    if (b == separate.size() || (a < named.size() && named[a] <= separate[b])) {
      i = named[a++];
      if (b < separate.size() && separate[b] == i)
        ++b;
    } else {
      i = separate[b++];
    }
    if (matches(i))
      return true;
  }
  return false;
}

void mark_matching_switches(std::string_view atom, bool starred) {
  switch_table& switches = tables().switches;
  // Each switch's liveness depends on the table only, not on the order of
  // the tests.
  for (std::uint32_t i : switches_named(switches, atom, !starred)) {
    if (switch_is_live(i, starred ? std::optional<std::size_t>(atom.size())
                                  : std::nullopt))
      switches[i].ordering = true;
  }
}

void emit_marked_switches() {
  switch_table& switches = tables().switches;
  for (std::size_t i = 0; i < switches.size(); ++i) {
    if (switches[i].ordering) {
      switches[i].ordering = false;
      emit_switch(i, false);
    }
  }
}

// %<S and %>S; `c` is after the "<" or ">".
void hide_switches(cursor& c, bool keep_listed) {
  const std::size_t start = c.pos;
  while (!c.at_end() && !is_blank(c.peek()))
    ++c.pos;
  std::string_view pattern = c.text.substr(start, c.pos - start);
  const bool starred = pattern.ends_with('*');
  if (starred)
    pattern.remove_suffix(1);
  for (switch_entry& sw : tables().switches) {
    if (starred ? sw.name.starts_with(pattern) : sw.name == pattern) {
      sw.liveness |= hidden;
      if (keep_listed)
        sw.liveness |= still_listed;
      if (sw.known)
        sw.validated = true;
    }
  }
}

// --- Brace constructs ---

[[noreturn]] void invalid_brace(const cursor& c, std::size_t construct_start) {
  if (c.at_end())
    fatal_error(unknown_location, "braced spec %qs is invalid at end of text",
                c.rest_from(construct_start));
  fatal_error(unknown_location, "braced spec %qs is invalid at %qc",
              c.rest_from(construct_start), c.peek());
}

// Where each "{" of a brace body closes, found while the body was read, so
// that the constructs inside it need not be read again when the body runs
// (and again for every construct around them).  `open` and `close` are
// offsets from `begin`, in the order the "{"s appear.
struct brace_extents {
  const char* begin = nullptr;
  const char* end = nullptr;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> pairs;

  // Whether `text` lies inside the body these extents were found in.
  bool covers(std::string_view text) const {
    const std::less<const char*> before;
    return begin != nullptr && !before(text.data(), begin) &&
           !before(end, text.data() + text.size());
  }
  // The "}" that closes the "{" at `open`, or nullptr when unknown.
  const char* closing(const char* open) const {
    const auto offset = static_cast<std::uint32_t>(open - begin);
    auto it = std::lower_bound(pairs.begin(), pairs.end(), offset,
                               [](const auto& pair, std::uint32_t value) {
                                 return pair.first < value;
                               });
    if (it == pairs.end() || it->first != offset || it->second == 0)
      return nullptr;
    return begin + it->second;
  }
};

// The extents of the body now running, if any.
const brace_extents* running_body_extents = nullptr;

class running_body_scope {
public:
  explicit running_body_scope(const brace_extents* extents)
      : saved_(running_body_extents) {
    if (extents != nullptr)
      running_body_extents = extents;
  }
  running_body_scope(const running_body_scope&) = delete;
  running_body_scope& operator=(const running_body_scope&) = delete;
  ~running_body_scope() { running_body_extents = saved_; }

private:
  const brace_extents* saved_;
};

std::string_view without_trailing_blanks(std::string_view body) {
  while (!body.empty() && is_blank(body.back()))
    body.remove_suffix(1);
  return body;
}

// Reads the brace body that starts at `start` of `text` up to the ";" or
// "}" at its own level and returns the place of that character, or npos
// when the text ends first; `has_star` tells whether the body holds %* at
// its own level.  Inside a body whose extents are `known`, nested
// constructs are stepped over; otherwise their extents are recorded in
// `found` (when given) for the body to use while it runs.
std::size_t scan_brace_body(std::string_view text, std::size_t start,
                            bool& has_star, const brace_extents* known,
                            brace_extents* found) {
  int nesting = 0;
  has_star = false;
  const char* const end = text.data() + text.size();
  const char* p = text.data() + std::min(start, text.size());
  std::vector<std::size_t> open_slots; // indices into found->pairs
  if (found != nullptr) {
    found->begin = p;
    found->pairs.clear();
    // Room for the constructs of a typical body at once.
    found->pairs.reserve(16);
  }
  for (; p != end; ++p) {
    switch (*p) {
    case ';':
      if (nesting == 0)
        goto found;
      break;
    case '}':
      if (nesting == 0)
        goto found;
      --nesting;
      if (found != nullptr && !open_slots.empty()) {
        found->pairs[open_slots.back()].second =
            static_cast<std::uint32_t>(p - found->begin);
        open_slots.pop_back();
      }
      break;
    case '{':
      if (known != nullptr) {
        if (const char* close = known->closing(p)) {
          // The whole construct, its own "}" included.
          p = close;
          break;
        }
      }
      ++nesting;
      if (found != nullptr) {
        open_slots.push_back(found->pairs.size());
        found->pairs.emplace_back(static_cast<std::uint32_t>(p - found->begin),
                                  0);
      }
      break;
    case '\\':
      // An escaped character never opens or closes a construct.
      if (p + 1 != end)
        ++p;
      break;
    case '%':
      // Nor does the letter of an escape; the "{" of "%{" does.
      if (p + 1 != end) {
        if (p[1] == '*' && nesting == 0)
          has_star = true;
        if (p[1] != '{')
          ++p;
      }
      break;
    default:
      break;
    }
  }
  return std::string_view::npos;
found:
  if (found != nullptr)
    found->end = p;
  return static_cast<std::size_t>(p - text.data());
}

// Finds the body after ":" up to ";" or "}" at the construct's level.
// Returns the body without trailing blanks and whether it holds %* at its
// own level; `c` ends at the ";" or "}".  The extents of nested constructs
// are recorded in `found` (when given and not yet known) for the body to
// use while it runs.
std::string_view read_brace_body(cursor& c, bool& has_star,
                                 brace_extents* found) {
  const std::size_t start = c.pos;
  const char* const end = c.text.data() + c.text.size();
  // The bodies of the built-in texts were found when the program was built;
  // a body that runs past the end of the text in hand is read to report it.
  if (std::optional<builtin_body> b =
          builtin_brace_body(c.text.data() + std::min(start, c.text.size()));
      b && std::less<const char*>()(b->end, end)) {
    has_star = b->has_star;
    c.pos = static_cast<std::size_t>(b->end - c.text.data());
    return without_trailing_blanks(c.text.substr(start, c.pos - start));
  }
  const brace_extents* known =
      running_body_extents != nullptr && running_body_extents->covers(c.text)
          ? running_body_extents
          : nullptr;
  if (known != nullptr)
    found = nullptr;
  const std::size_t close =
      scan_brace_body(c.text, start, has_star, known, found);
  if (close == std::string_view::npos) {
    c.pos = c.text.size();
    fatal_error(unknown_location, "braced spec body %qs is invalid",
                c.rest_from(start));
  }
  c.pos = close;
  return without_trailing_blanks(c.text.substr(start, c.pos - start));
}

int run_brace_body(std::string_view body, bool has_star,
                   std::string_view star_prefix) {
  if (!has_star)
    return do_spec_1(body, false, std::nullopt);
  switch_table& switches = tables().switches;
  for (std::size_t i = 0; i < switches.size(); ++i) {
    // A copy: the table may grow while the body runs.
    const std::string name = switches[i].name;
    if (!name.starts_with(star_prefix) ||
        !switch_is_live(i, star_prefix.size()))
      continue;
    std::string rest = name.substr(star_prefix.size());
    if (do_spec_1(body, false, std::string_view(rest)) < 0)
      return -1;
    emit_switch(i, true);
    spec_state().suffix_substitution.reset();
  }
  return 0;
}

// Evaluates the construct after "%{"; `c` ends after its "}".  Returns -1
// when a body or a spec function failed.
int handle_braces(cursor& c, std::optional<std::string_view> soft_match) {
  const std::size_t construct_start = c.pos;
  const current_input_record& input = tables().current;
  spec_interpreter_state& st = spec_state();

  bool n_way_choice = false;
  bool n_way_matched = false;
  bool ordered_set = false;
  // Per-atom buffers, kept for the whole construct so that their storage
  // is reused.
  spec_function_call call;
  std::string unescaped;

  for (;;) { // one alternative: atoms joined by "|", then ":body"
    bool disjunct_set = false;
    bool disj_matched = false;
    bool disj_starred = true;
    bool a_must_be_last = false;
    std::string star_prefix;

    int sep;
    for (;;) { // one atom
      c.skip_blanks();
      bool negated = false;
      if (c.peek() == '!') {
        negated = true;
        ++c.pos;
        c.skip_blanks();
      }
      bool is_function = false;
      bool suffix_test = false;
      bool language_test = false;
      bool starred = false;
      // The atom as written when it holds no "\\", else its unescaped copy.
      std::string_view atom;
      if (c.peek() == '%' && c.peek(1) == ':') {
        c.pos += 2;
        call = read_spec_function_call(c);
        is_function = true;
      } else {
        if (c.peek() == '.') {
          suffix_test = true;
          ++c.pos;
        } else if (c.peek() == ',') {
          language_test = true;
          ++c.pos;
        }
        const std::size_t atom_start = c.pos;
        // Most atoms hold no "\\": their characters are stepped over at
        // once, and the loop below only sees what ends them.
        c.skip_run(atom_chars);
        bool escaped = false;
        for (;;) {
          int ch = c.peek();
          if (ch == '\\') {
            if (c.peek(1) == end_of_text)
              fatal_error(unknown_location, "braced spec %qs ends in escape",
                          c.rest_from(construct_start));
            if (!escaped)
              unescaped.assign(c.text.substr(atom_start, c.pos - atom_start));
            escaped = true;
            unescaped += c.text[c.pos + 1];
            c.pos += 2;
          } else if (is_atom_char(ch)) {
            if (escaped)
              unescaped += static_cast<char>(ch);
            ++c.pos;
          } else {
            break;
          }
        }
        atom = escaped ? std::string_view(unescaped)
                       : c.text.substr(atom_start, c.pos - atom_start);
        if (c.peek() == '*') {
          starred = true;
          ++c.pos;
        }
      }
      c.skip_blanks();
      sep = c.peek();

      if (sep == '&' || sep == '}') {
        // A substitution: emit the matching switches.
        if (negated || suffix_test || language_test || is_function ||
            atom.empty() || disjunct_set || n_way_choice)
          invalid_brace(c, construct_start);
        mark_matching_switches(atom, starred);
        ++c.pos;
        if (sep == '}') {
          emit_marked_switches();
          return 0;
        }
        ordered_set = true;
        continue;
      }
      if (ordered_set || (sep != '|' && sep != ':'))
        invalid_brace(c, construct_start);

      if (atom.empty() && !is_function) {
        // The "otherwise" alternative of an N-way choice.
        if (sep == '|' || !n_way_choice || negated || starred || suffix_test ||
            language_test || disjunct_set)
          invalid_brace(c, construct_start);
        a_must_be_last = true;
        disj_matched = !n_way_matched;
      } else {
        if ((suffix_test || language_test) && starred)
          invalid_brace(c, construct_start);
        if (!starred)
          disj_starred = false;
        // Once an alternative matched, later atoms are not tested.
        if (!disj_matched && !n_way_matched) {
          bool present;
          if (is_function) {
            if (run_spec_function(call, soft_match, present) < 0)
              return -1;
          } else if (suffix_test) {
            present = input.suffix == atom;
          } else if (language_test) {
            present = st.language == atom;
          } else {
            present = switch_matches(atom, starred);
          }
          if (present != negated) {
            disj_matched = true;
            // Only a body whose atoms are all starred may use %*.
            if (starred)
              star_prefix = atom;
          }
        }
      }
      ++c.pos;
      if (sep == '|') {
        disjunct_set = true;
        continue;
      }
      break; // ':'
    }

    bool has_star = false;
    brace_extents extents;
    std::string_view body =
        read_brace_body(c, has_star, disj_matched ? &extents : nullptr);
    if (has_star && !disj_starred)
      fatal_error(unknown_location, "braced spec body %qs is invalid",
                  std::string(body));
    if (disj_matched) {
      n_way_matched = true;
      running_body_scope scope(extents.begin != nullptr ? &extents : nullptr);
      if (run_brace_body(body, has_star, star_prefix) != 0)
        return -1;
    }
    if (c.peek() == '}') {
      ++c.pos;
      return 0;
    }
    // ";": another alternative follows, which the default may not have.
    if (a_must_be_last)
      invalid_brace(c, construct_start);
    ++c.pos;
    n_way_choice = true;
  }
}

// --- Escapes whose braces are required (%@{ %W{ %x{) ---

void require_brace(const cursor& c, std::string_view spec, char escape) {
  if (c.peek() == '{')
    return;
  const int ch = c.at_end() ? 0 : c.peek();
  switch (escape) {
  case '@':
    fatal_error(unknown_location, "spec %qs has invalid %<%%@%c%>",
                std::string(spec), ch);
  case 'W':
    fatal_error(unknown_location, "spec %qs has invalid %<%%W%c%>",
                std::string(spec), ch);
  default:
    fatal_error(unknown_location, "spec %qs has invalid %<%%x%c%>",
                std::string(spec), ch);
  }
}

// What ends a command: refresh the environment, execute, start anew.
int end_command_group(std::string_view spec) {
  spec_interpreter_state& st = spec_state();
  refresh_velk_options();
  if (!st.argument_vector.empty()) {
    if (st.spec_function_depth > 0)
      fatal_error(unknown_location,
                  "spec %qs runs a command inside the arguments of a spec "
                  "function",
                  std::string(spec));
    if (execute_command_group != nullptr) {
      if (int status = execute_command_group(st.argument_vector))
        return status;
    }
  }
  st.argument_vector.clear();
  st.response_argument_vector.clear();
  st.argument_in_progress = false;
  st.text.clear();
  st.delete_mark = 0;
  st.output_file_mark = false;
  st.library_file_mark = false;
  st.linker_script_mark = false;
  st.piped_input_mark = false;
  return 0;
}

void clear_argument_marks() {
  spec_interpreter_state& st = spec_state();
  st.delete_mark = 0;
  st.output_file_mark = false;
  st.library_file_mark = false;
  st.linker_script_mark = false;
}

void emit_include_options() {
  spec_interpreter_state& st = spec_state();
  const multilib_dirs& ml = selected_multilib();
  const prefix_settings& p = prefixes();
  if (ml.multilib_dir)
    emit_words({"-imultilib", *ml.multilib_dir});
  if (ml.multiarch_dir)
    emit_words({"-imultiarch", *ml.multiarch_dir});
  if (st.include_prefix)
    emit_words({"-iprefix", *st.include_prefix});
  if (p.sysroot && (p.sysroot_given || !p.sysroot_headers_suffix.empty()))
    emit_words({"-isysroot", *p.sysroot + p.sysroot_headers_suffix});

  std::vector<std::string> fixed_dirs;
  const named_spec* headers_suffix =
      find_named_spec("sysroot_hdrs_suffix_spec");
  if (headers_suffix != nullptr && !headers_suffix->text.empty()) {
    fixed_dirs.push_back("include-fixed/" + ml.multilib_dir.value_or(""));
  } else if (ml.multiarch_dir) {
    fixed_dirs.push_back("include-fixed/" + *ml.multiarch_dir);
    fixed_dirs.push_back("include-fixed");
  } else {
    fixed_dirs.push_back("include-fixed");
  }
  auto emit_system_dirs = [](std::string_view subdirectory) {
    walk_search_paths(
        search_paths().include, false,
        [&](const std::string& dir) -> std::optional<std::string> {
          std::string path = dir + std::string(subdirectory);
          if (is_usable_directory(path, true))
            emit_words({"-isystem", path});
          return std::nullopt;
        });
  };
  emit_system_dirs("include");
  for (const std::string& subdirectory : fixed_dirs)
    emit_system_dirs(subdirectory);
}

void emit_library_directories() {
  walk_search_paths(search_paths().startfile, true,
                    [](const std::string& dir) -> std::optional<std::string> {
                      if (!is_usable_directory(dir, true))
                        return std::nullopt;
                      std::string path = dir;
                      while (path.size() > 1 && path.back() == '/')
                        path.pop_back();
                      do_spec_1("-L", false, std::nullopt);
                      do_spec_1(path, true, std::nullopt);
                      do_spec_1(" ", false, std::nullopt);
                      return std::nullopt;
                    });
}

// %b and %B.
void append_base_name(bool with_suffix) {
  spec_interpreter_state& st = spec_state();
  const current_input_record& input = tables().current;
  if (input.base_name.empty())
    internal_error("%s", "do_spec_1");
  if (!st.output_file_mark && st.dump_dir_length > 0)
    append_text(st.dump_dir.value_or("").substr(0, st.dump_dir_length));
  if (!st.output_file_mark && st.output_base && !st.output_base->empty())
    append_text(*st.output_base);
  else
    append_text(input_stem());
  if (st.compare_debug < 0)
    append_text(".gk");
  if (with_suffix && input.base_stem_length < input.base_name.size())
    append_text(std::string_view(input.base_name)
                    .substr(input.base_stem_length)
                    .substr(0, input.base_length - input.base_stem_length));
}

// %i: the current input, or under combining every input of its record.
void append_inputs() {
  spec_interpreter_state& st = spec_state();
  if (!st.combine_inputs) {
    append_text(tables().current.name);
    return;
  }
  const bool opened = open_response_group();
  for (input_entry& input : tables().inputs) {
    if (input.language && input.language->starts_with("*"))
      continue;
    if (input.compiler != st.compiler)
      continue;
    push_argument(input.name, 0, false);
    input.compiled = true;
  }
  if (opened)
    close_response_group();
}

void append_outputs() {
  const bool opened = open_response_group();
  for (const std::string& output : tables().output_names)
    if (!output.empty())
      push_argument(output, 0, false);
  if (opened)
    close_response_group();
}

// The text of %e and %n: up to the newline.
std::string read_message(cursor& c) {
  const std::size_t start = c.pos;
  while (!c.at_end() && c.peek() != '\n')
    ++c.pos;
  return std::string(c.text.substr(start, c.pos - start));
}

} // namespace

std::optional<std::size_t> brace_body_end(std::string_view text,
                                          std::size_t start, bool& has_star) {
  const std::size_t close =
      scan_brace_body(text, start, has_star, nullptr, nullptr);
  if (close == std::string_view::npos)
    return std::nullopt;
  return close;
}

spec_interpreter_state& spec_state() {
  static spec_interpreter_state state;
  return state;
}

void reset_spec_state() {
  spec_state() = spec_interpreter_state();
}

void set_execute_hook(execute_hook hook) {
  execute_command_group = hook;
}

void set_self_spec_option_hook(self_spec_option_hook hook) {
  handle_self_spec_option = hook;
}

int do_spec_1(std::string_view spec, bool in_switch,
              std::optional<std::string_view> soft_match) {
  spec_interpreter_state& st = spec_state();
  if (in_switch) {
    // Switch names, arguments and file names: every character literal;
    // an empty one still makes a word.
    st.text += spec;
    st.argument_in_progress = true;
    return 0;
  }
  nesting_guard guard(spec);
  cursor c{spec, 0};
  while (!c.at_end()) {
    const int ch = c.peek();
    ++c.pos;
    switch (ch) {
    case '\n': {
      finish_argument();
      if (!st.argument_vector.empty() && st.argument_vector.back() == "|") {
        if (st.use_pipes) {
          st.piped_input_mark = true;
          continue;
        }
        st.argument_vector.pop_back();
      }
      if (int status = end_command_group(spec))
        return status;
      continue;
    }
    case '|':
      finish_argument();
      append_text("|");
      continue;
    case ' ':
    case '\t':
      finish_argument();
      clear_argument_marks();
      continue;
    case '\\':
      // The next character is literal; a "\" at the end stands for itself.
      if (c.at_end()) {
        append_text("\\");
      } else {
        append_text(c.text.substr(c.pos, 1));
        ++c.pos;
      }
      continue;
    case '%':
      break;
    default: {
      // A run of ordinary characters goes into the argument at once.
      const std::size_t run_start = c.pos - 1;
      c.skip_run(ordinary_chars);
      st.text.append(spec.substr(run_start, c.pos - run_start));
      st.argument_in_progress = true;
      continue;
    }
    }

    // An escape.
    if (c.at_end())
      fatal_error(unknown_location, "spec %qs invalid", std::string(spec));
    const int escape = c.peek();
    switch (escape) {
    case '%':
      ++c.pos;
      st.text += '%';
      break;
    case '"':
      ++c.pos;
      finish_argument();
      st.argument_in_progress = true;
      finish_argument();
      break;
    case '(': {
      ++c.pos;
      const std::size_t start = c.pos;
      while (!c.at_end() && c.peek() != ')')
        ++c.pos;
      std::string_view name = c.text.substr(start, c.pos - start);
      if (!c.at_end())
        ++c.pos;
      if (int status = run_named_spec(name))
        return status;
      break;
    }
    case '*':
      ++c.pos;
      if (!soft_match) {
        error_at_input(
            "spec failure: %<%%*%> has not been initialized by pattern match");
        break;
      }
      if (!soft_match->empty())
        do_spec_1(*soft_match, true, std::nullopt);
      // A blank follows the substitution only at the end of a body.
      if (c.at_end() || c.peek() == '}')
        do_spec_1(" ", false, std::nullopt);
      break;
    case '.': {
      ++c.pos;
      const std::size_t start = c.pos;
      while (!c.at_end() && c.peek() != '%' && c.peek() != ' ')
        ++c.pos;
      st.suffix_substitution =
          "." + std::string(c.text.substr(start, c.pos - start));
      break;
    }
    case '1':
    case '2':
    case 'A':
    case 'a':
    case 'E':
    case 'G':
    case 'L':
    case 'l':
    case 'S': {
      ++c.pos;
      const char* name = escape == '1'   ? "tarn1"
                         : escape == '2' ? "tarn1xx"
                         : escape == 'A' ? "asm_final"
                         : escape == 'a' ? "asm"
                         : escape == 'E' ? "endfile"
                         : escape == 'G' ? "libvelk"
                         : escape == 'L' ? "lib"
                         : escape == 'l' ? "link"
                                         : "startfile";
      if (int status = run_named_spec(name))
        return status;
      break;
    }
    case ':': {
      ++c.pos;
      spec_function_call call = read_spec_function_call(c);
      bool returned_text = false;
      if (run_spec_function(call, soft_match, returned_text) < 0)
        return -1;
      break;
    }
    case '<':
    case '>':
      ++c.pos;
      hide_switches(c, escape == '>');
      break;
    case '@': {
      ++c.pos;
      require_brace(c, spec, '@');
      ++c.pos;
      const bool opened = open_response_group();
      if (handle_braces(c, soft_match) < 0) {
        // The group is abandoned with its spec; a later one may open.
        st.in_response_file = false;
        st.response_argument_vector.clear();
        return -1;
      }
      if (opened)
        close_response_group();
      break;
    }
    case 'B':
    case 'b':
      ++c.pos;
      append_base_name(escape == 'B');
      break;
    case 'C': {
      ++c.pos;
      int status = st.cpp_spec ? do_spec_1(std::string(*st.cpp_spec), false,
                                           std::nullopt)
                               : run_named_spec("cpp");
      if (status != 0)
        return status;
      break;
    }
    case 'D':
      ++c.pos;
      emit_library_directories();
      break;
    case 'd':
      ++c.pos;
      st.delete_mark = 2;
      break;
    case 'e': {
      ++c.pos;
      std::string message = read_message(c);
      error_at_input("%s", translate(message.c_str()));
      return -1;
    }
    case 'n': {
      ++c.pos;
      std::string message = read_message(c);
      inform(unknown_location, "%s", translate(message.c_str()));
      if (!c.at_end())
        ++c.pos; // the newline
      break;
    }
    case 'g':
    case 'u':
    case 'U':
    case 'j':
    case '|':
    case 'm':
      temporary_name_escape(c, spec);
      break;
    case 'I':
      ++c.pos;
      emit_include_options();
      break;
    case 'i':
      ++c.pos;
      append_inputs();
      break;
    case 'M': {
      ++c.pos;
      const std::optional<std::string>& dir = selected_multilib().os_dir;
      st.text += dir ? *dir : std::string(".");
      break;
    }
    case 'O':
      ++c.pos;
      append_text(".o");
      break;
    case 'o':
      ++c.pos;
      append_outputs();
      break;
    case 'R': {
      ++c.pos;
      const prefix_settings& p = prefixes();
      if (p.sysroot)
        st.text += *p.sysroot + p.sysroot_suffix;
      break;
    }
    case 's':
      ++c.pos;
      st.library_file_mark = true;
      break;
    case 'T':
      ++c.pos;
      st.linker_script_mark = true;
      break;
    case 'V': {
      ++c.pos;
      std::vector<std::string>& outputs = tables().output_names;
      if (tables().current.index < outputs.size())
        outputs[tables().current.index].clear();
      break;
    }
    case 'W': {
      ++c.pos;
      require_brace(c, spec, 'W');
      ++c.pos;
      const std::size_t before = st.in_response_file
                                     ? st.response_argument_vector.size()
                                     : st.argument_vector.size();
      if (handle_braces(c, soft_match) < 0)
        return -1;
      finish_argument();
      const std::vector<std::string>& pushed = st.in_response_file
                                                   ? st.response_argument_vector
                                                   : st.argument_vector;
      if (pushed.size() > before)
        note_temp_file(pushed.back(), false, true);
      break;
    }
    case 'w':
      ++c.pos;
      st.output_file_mark = true;
      break;
    case 'X':
      ++c.pos;
      emit_option_list(st.linker_args);
      break;
    case 'Y':
      ++c.pos;
      emit_option_list(st.assembler_args);
      break;
    case 'Z':
      ++c.pos;
      emit_option_list(st.preprocessor_args);
      break;
    case 'x': {
      ++c.pos;
      require_brace(c, spec, 'x');
      ++c.pos;
      const std::size_t start = c.pos;
      while (!c.at_end() && c.peek() != '}')
        ++c.pos;
      if (c.at_end())
        fatal_error(unknown_location,
                    "spec %qs has %<%%x{%> without its closing %<}%>",
                    std::string(spec));
      std::string option(c.text.substr(start, c.pos - start));
      ++c.pos;
      for (const std::string& existing : st.linker_args)
        if (existing == option)
          return 0;
      st.linker_args.push_back(std::move(option));
      break;
    }
    case '{':
      ++c.pos;
      if (handle_braces(c, soft_match) < 0)
        return -1;
      break;
    default:
      ++c.pos;
      error_at_input("spec failure: unrecognized spec option %qc", escape);
      break;
    }
  }
  if (st.spec_function_depth > 0)
    finish_argument();
  return 0;
}

int run_spec_fresh(std::string_view spec,
                   std::optional<std::string_view> soft_match) {
  spec_interpreter_state& st = spec_state();
  st.argument_vector.clear();
  st.response_argument_vector.clear();
  st.text.clear();
  st.argument_in_progress = false;
  st.delete_mark = 0;
  st.output_file_mark = false;
  st.library_file_mark = false;
  st.linker_script_mark = false;
  st.piped_input_mark = false;
  st.suffix_substitution.reset();
  int result = do_spec_1(spec, false, soft_match);
  finish_argument();
  return result;
}

std::vector<std::string> expand_spec_words(std::string_view spec) {
  saved_argument saved;
  run_spec_fresh(spec, std::nullopt);
  return std::move(spec_state().argument_vector);
}

void set_spec_file_reader(spec_file_reader reader) {
  read_spec_file_hook = reader;
}

spec_file_reader current_spec_file_reader() {
  return read_spec_file_hook;
}

int run_spec_command(std::string_view spec) {
  spec_interpreter_state& st = spec_state();
  int result = run_spec_fresh(spec, std::nullopt);
  if (result != 0)
    return result;
  if (!st.argument_vector.empty() && st.argument_vector.back() == "|")
    st.argument_vector.pop_back();
  refresh_velk_options();
  if (!st.argument_vector.empty() && execute_command_group != nullptr)
    return execute_command_group(st.argument_vector);
  return result;
}

void finish_argument() {
  spec_interpreter_state& st = spec_state();
  if (!st.argument_in_progress)
    return;
  // A copy, so that the buffer of the argument in progress keeps its
  // capacity for the next argument instead of growing again.
  std::string text = st.text;
  st.text.clear();
  st.argument_in_progress = false;
  if (st.library_file_mark || st.linker_script_mark) {
    std::optional<std::string> found =
        find_file_in(search_paths().startfile, text, access_mode::read, true);
    if (st.linker_script_mark) {
      if (!found) {
        error_at_input("unable to locate default linker script %qs in the "
                       "library search paths",
                       text);
        return;
      }
      push_argument("--script", 0, false);
    }
    if (found)
      text = std::move(*found);
  }
  if (st.output_file_mark) {
    std::vector<std::string>& outputs = tables().output_names;
    const std::size_t index = tables().current.index;
    if (index >= outputs.size())
      outputs.resize(index + 1);
    outputs[index] = text;
  }
  push_argument(std::move(text), st.delete_mark, st.output_file_mark);
}

void push_argument(std::string text, int delete_always,
                   bool delete_on_failure) {
  spec_interpreter_state& st = spec_state();
  if (delete_always != 0 || delete_on_failure) {
    std::string_view file = text;
    if (file.starts_with('-')) {
      if (std::size_t eq = file.rfind('='); eq != std::string_view::npos)
        file.remove_prefix(eq + 1);
    }
    note_temp_file(file, delete_always != 0, delete_on_failure);
  }
  std::vector<std::string>& words =
      st.in_response_file ? st.response_argument_vector : st.argument_vector;
  // A command has dozens of words: room for them at once rather than
  // growing one doubling at a time (vectors handed on leave none behind).
  if (words.capacity() == 0)
    words.reserve(32);
  words.push_back(std::move(text));
}

bool switch_is_live(std::size_t i, std::optional<std::size_t> prefix_length) {
  switch_table& switches = tables().switches;
  switch_entry& sw = switches[i];
  if (sw.liveness != 0)
    return (sw.liveness & (live | dead | hidden_for_good)) == live;
  if (prefix_length && *prefix_length <= 1)
    return true;
  const std::string& name = sw.name;
  if (name.empty()) {
    sw.liveness |= live;
    return true;
  }
  const char first = name[0];
  auto make_dead = [&](bool validate) {
    sw.liveness |= dead;
    if (validate)
      sw.validated = true;
    return false;
  };
  switch (first) {
  case 'O':
    for (std::size_t j = i + 1; j < switches.size(); ++j)
      if (!switches[j].name.empty() && switches[j].name[0] == 'O')
        return make_dead(true);
    break;
  case 'W':
  case 'f':
  case 'm':
  case 'g': {
    // Overridden by its opposite later on the command line, found without
    // a walk of the rest of a long table for every switch tested.
    std::string_view rest = std::string_view(name).substr(1);
    std::string opposite(1, first);
    if (rest.starts_with("no-")) {
      opposite += rest.substr(3);
    } else if (!rest.empty()) {
      opposite += "no-";
      opposite += rest;
    } else {
      break; // "-f" alone has no opposite
    }
    if (switch_named_after(switches, opposite, i))
      return make_dead(sw.known);
    break;
  }
  default:
    break;
  }
  sw.liveness |= live;
  return true;
}

void emit_switch(std::size_t i, bool omit_name) {
  spec_interpreter_state& st = spec_state();
  // Emitting only adds words to the command: the table, and so the texts
  // read here, stay where they are.
  const switch_entry& sw = tables().switches[i];
  if (sw.liveness & hidden)
    return;
  if (!omit_name) {
    do_spec_1("-", true, std::nullopt);
    do_spec_1(sw.name, true, std::nullopt);
  }
  for (const std::string& arg : sw.args) {
    do_spec_1(" ", false, std::nullopt);
    if (st.suffix_substitution) {
      std::size_t slash = arg.rfind('/');
      std::size_t dot = arg.rfind('.');
      std::size_t cut = arg.size();
      if (dot != std::string::npos &&
          (slash == std::string::npos || dot > slash))
        cut = dot;
      do_spec_1(std::string_view(arg).substr(0, cut), true, std::nullopt);
      do_spec_1(*st.suffix_substitution, true, std::nullopt);
    } else {
      do_spec_1(arg, true, std::nullopt);
    }
  }
  do_spec_1(" ", false, std::nullopt);
  tables().switches[i].validated = true;
}

void refresh_velk_options() {
  const spec_interpreter_state& st = spec_state();
  environment().xput(
      "SHEAF_VELK_OPTIONS=" +
      velk_options_value(tables().switches, st.dump_dir.value_or("")));
}

void apply_self_spec(std::string_view spec) {
  spec_interpreter_state& st = spec_state();
  run_spec_fresh(spec, std::nullopt);
  do_spec_1(" ", false, std::nullopt);
  for (switch_entry& sw : tables().switches)
    if (sw.liveness & hidden)
      sw.liveness |= hidden_for_good;
  if (st.argument_vector.empty())
    return;

  // The words are decoded as a command line of their own; the records
  // point into this storage, which must outlive them.
  std::vector<const char*> argv;
  argv.push_back(save_option_text(""));
  for (const std::string& word : st.argument_vector)
    argv.push_back(save_option_text(word));
  argv.push_back(nullptr);
  std::vector<decoded_option> decoded = decode_argument_list(
      static_cast<int>(argv.size() - 1), argv.data(), OPTF_DRIVER);

  for (std::size_t i = 1; i < decoded.size(); ++i) {
    decoded_option& d = decoded[i];
    if (d.index == OPTION_INPUT_FILE) {
      std::string_view word = d.argument ? d.argument : "";
      if (word == "-")
        fatal_error(unknown_location, "spec-generated switch is just %<-%>");
      fatal_error(unknown_location, "switch %qs does not start with %<-%>",
                  std::string(word));
    }
    if (d.index == option_code("-fcompare-debug") ||
        d.index == option_code("-fcompare-debug=") ||
        d.index == option_code("-fcompare-debug-second") ||
        d.index == option_code("-o")) {
      std::vector<std::string> args;
      for (std::size_t k = 1; k < d.canonical_count; ++k)
        args.emplace_back(d.canonical[k] ? d.canonical[k] : "");
      add_switch(d.canonical[0], std::move(args), false, true);
      continue;
    }
    if (handle_self_spec_option != nullptr)
      handle_self_spec_option(d);
  }
}

} // namespace velk
