#include "specs/builtin_specs.h"

#include "diagnostics/diagnostic.h"

#include <algorithm>
#include <array>
#include <functional>
#include <iterator>

namespace velk {

namespace {

// The built-in spec ids by a hash of their names, in a table filled when
// the program is compiled: a name is found by hashing it and comparing it
// with the one or two names in its slots.  Open addressing, probed from the
// hashed slot onward; a quarter of the slots are in use at most.
constexpr std::size_t spec_slot_count = 256;
static_assert(builtin_spec_count * 4 <= spec_slot_count);
constexpr std::uint8_t empty_slot = 0xff;
static_assert(builtin_spec_count < empty_slot);

constexpr std::size_t spec_name_hash(std::string_view name) {
  std::uint32_t h = 2166136261u; // FNV-1a
  for (char ch : name)
    h = (h ^ static_cast<unsigned char>(ch)) * 16777619u;
  return (h ^ (h >> 16)) % spec_slot_count;
}

constexpr std::array<std::uint8_t, spec_slot_count> spec_slots = [] {
  std::array<std::uint8_t, spec_slot_count> slots{};
  slots.fill(empty_slot);
  for (std::size_t id = 0; id < builtin_spec_count; ++id) {
    std::size_t slot = spec_name_hash(builtin_spec(id).name);
    while (slots[slot] != empty_slot)
      slot = (slot + 1) % spec_slot_count;
    slots[slot] = static_cast<std::uint8_t>(id);
  }
  return slots;
}();

// Where the bodies of the built-in texts start, in buckets of the pool:
// body_buckets[b] is the first body starting at or after b * body_bucket_size,
// so a body is found among the few of its bucket.
constexpr std::size_t body_bucket_size = 32;
constexpr std::size_t body_bucket_count =
    sizeof builtin_data::pool / body_bucket_size + 1;
static_assert(builtin_data::body_count < 0xffff);

constexpr std::array<std::uint16_t, body_bucket_count + 1> body_buckets = [] {
  std::array<std::uint16_t, body_bucket_count + 1> buckets{};
  std::size_t body = 0;
  for (std::size_t b = 0; b <= body_bucket_count; ++b) {
    while (body < builtin_data::body_count &&
           builtin_data::bodies[body].start < b * body_bucket_size)
      ++body;
    buckets[b] = static_cast<std::uint16_t>(body);
  }
  return buckets;
}();

} // namespace

std::optional<builtin_spec_id> find_builtin_spec(std::string_view name) {
  for (std::size_t slot = spec_name_hash(name);;
       slot = (slot + 1) % spec_slot_count) {
    const std::uint8_t id = spec_slots[slot];
    if (id == empty_slot)
      return std::nullopt;
    if (builtin_spec(id).name == name)
      return static_cast<builtin_spec_id>(id);
  }
}

std::optional<std::span<const builtin_data::atom_ref>>
builtin_switch_atoms(std::string_view text) {
  const std::less<const char*> before;
  const char* const pool = builtin_data::pool;
  if (before(text.data(), pool) ||
      !before(text.data(), pool + sizeof builtin_data::pool))
    return std::nullopt;
  const auto offset = static_cast<std::uint32_t>(text.data() - pool);
  const auto* const first = std::begin(builtin_data::scanned_texts);
  const auto* const last = std::end(builtin_data::scanned_texts);
  const auto* it = std::lower_bound(
      first, last, offset,
      [](const builtin_data::text_atoms& t, std::uint32_t value) {
        return t.text.offset < value;
      });
  if (it == last || it->text.offset != offset || it->text.length != text.size())
    return std::nullopt;
  return std::span<const builtin_data::atom_ref>(
      builtin_data::atoms + it->first, it->count);
}

std::optional<builtin_body> builtin_brace_body(const char* body) {
  const std::less<const char*> before;
  const char* const pool = builtin_data::pool;
  if (before(body, pool) || !before(body, pool + sizeof builtin_data::pool))
    return std::nullopt;
  const auto offset = static_cast<std::uint32_t>(body - pool);
  const std::size_t bucket = offset / body_bucket_size;
  for (std::size_t k = body_buckets[bucket]; k < body_buckets[bucket + 1];
       ++k) {
    const builtin_data::body_ref& b = builtin_data::bodies[k];
    if (b.start == offset)
      return builtin_body{pool + b.end, b.star};
    if (b.start > offset)
      break;
  }
  return std::nullopt;
}

namespace {

// The language entry "@language", searched from the last row.  `name` is
// the input, for the standard-input check of header languages.
const compiler_record* find_language(std::string_view name,
                                     std::string_view language,
                                     std::span<const compiler_record> rows,
                                     bool preprocess_only) {
  if (!language.empty() && language.front() == '*')
    return nullptr;
  for (std::size_t i = rows.size(); i-- > 0;) {
    const compiler_record& row = rows[i];
    if (row.key.size() != language.size() + 1 || row.key.front() != '@' ||
        row.key.substr(1) != language)
      continue;
    if (name == "-" && !preprocess_only &&
        (row.key == "@c-header" || row.key == "@c++-header"))
      fatal_error(unknown_location,
                  "cannot use %<-%> as input filename for a precompiled "
                  "header");
    return &row;
  }
  std::string text(language);
  error_at(unknown_location, "language %s not recognized", text.c_str());
  return nullptr;
}

// Whether `key` names the input `name` by its suffix.  "-" stands only for
// standard input, and a language entry ("@c") only for a -x language: a file
// that merely ends in "-" or "@c" is matched by its real suffix.
bool suffix_matches(std::string_view key, std::string_view name) {
  if (name == "-")
    return key == "-";
  if (key.empty() || key == "-" || key.front() == '@')
    return false;
  // Every input is tried against every row: the last characters rule out
  // most rows before a comparison of the whole suffix.
  return key.size() < name.size() && key.back() == name.back() &&
         name.ends_with(key);
}

struct word_replacement {
  std::string_view word;
  std::string_view by;
};

bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

// Replaces each of the words that starts the text or follows a blank and
// ends at a blank or the end of the text; the rest is copied.
std::string replace_words(std::string_view text,
                          std::span<const word_replacement> replacements) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    bool replaced = false;
    if (i == 0 || is_blank(text[i - 1])) {
      for (const word_replacement& r : replacements) {
        std::size_t end = i + r.word.size();
        if (text.substr(i, r.word.size()) == r.word &&
            (end == text.size() || is_blank(text[end]))) {
          out += r.by;
          i = end;
          replaced = true;
          break;
        }
      }
    }
    if (!replaced)
      out += text[i++];
  }
  return out;
}

} // namespace

const compiler_record* find_language_entry(
    std::string_view name, const std::optional<std::string>& language,
    std::span<const compiler_record> rows, bool preprocess_only) {
  if (language)
    return find_language(name, *language, rows, preprocess_only);
  for (std::size_t i = rows.size(); i-- > 0;) {
    const compiler_record& row = rows[i];
    if (!suffix_matches(row.key, name))
      continue;
    if (!row.spec.empty() && row.spec.front() == '@')
      return find_language(name, row.spec.substr(1), rows, preprocess_only);
    return &row;
  }
  return nullptr;
}

std::string rewrite_libvelk(std::string_view text) {
  std::string shared(libvelk_construct_text);
  std::string archive = shared;
  // The static case names the archives themselves.
  constexpr std::string_view static_libs = "-lvelk -lvelk_eh";
  std::size_t at = archive.find(static_libs);
  if (at != std::string::npos)
    archive.replace(at, static_libs.size(), "libvelk.a%s libvelk_eh.a%s");
  const word_replacement replacements[] = {{"-lvelk", shared},
                                           {"libvelk.a%s", archive}};
  return replace_words(text, replacements);
}

std::string prefix_link_spec(std::string_view link_text) {
  std::string out(link_eh_frame_prefix_text);
  out += link_text;
  return out;
}

std::string prefix_sysroot_link_spec(std::string_view link_text) {
  std::string out(sysroot_link_prefix_text);
  out += link_text;
  return out;
}

} // namespace velk
