#include "specs/spec_validation.h"

#include "specs/builtin_specs.h"
#include "specs/named_specs.h"
#include "specs/switches.h"

#include <array>
#include <string>

namespace velk {

namespace {

struct scanner {
  std::string_view text;
  std::size_t pos = 0;
  bool user_spec = false;
  // When set, the atoms are collected here instead of marking switches.
  std::vector<std::pair<std::string, bool>>* collected = nullptr;
  // Switches of the table not yet validated.
  std::size_t unvalidated = 0;

  int peek(std::size_t ahead = 0) const {
    return pos + ahead < text.size()
               ? static_cast<unsigned char>(text[pos + ahead])
               : -1;
  }
  void skip_blanks() {
    while (peek() == ' ' || peek() == '\t')
      ++pos;
  }
};

bool is_word_char(int c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
         (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '+' ||
         c == '=' || c == ',' || c == '.' || c == '@' || c == '/';
}

// Marks the switches `atom` names as validated; `unvalidated` counts those
// left.
void mark_atom(std::string_view atom, bool starred, bool user_spec,
               std::size_t& unvalidated) {
  if (unvalidated == 0)
    return;
  switch_table& switches = tables().switches;
  for (std::uint32_t i : switches_named(switches, atom, !starred)) {
    switch_entry& sw = switches[i];
    if (!sw.validated && (sw.known || user_spec)) {
      sw.validated = true;
      --unvalidated;
    }
  }
}

// The characters that start or end a construct ("%", "\\", ";", "}");
// the scan steps over everything else in a tight loop.
constexpr std::array<bool, 256> special_chars = [] {
  std::array<bool, 256> table{};
  for (unsigned char c : {'%', '\\', ';', '}'})
    table[c] = true;
  return table;
}();

void skip_plain_text(scanner& s) {
  const std::string_view text = s.text;
  std::size_t pos = s.pos;
  while (pos < text.size() &&
         !special_chars[static_cast<unsigned char>(text[pos])])
    ++pos;
  s.pos = pos;
}

void scan_construct(scanner& s, bool braced);

// Scans text for constructs until `stop` characters at this level (none
// for the whole text).
void scan_text(scanner& s, bool in_body) {
  for (;;) {
    skip_plain_text(s);
    const int c = s.peek();
    if (c == -1)
      return;
    if (in_body && (c == ';' || c == '}'))
      return;
    ++s.pos;
    if (c == '\\') {
      if (s.peek() != -1)
        ++s.pos;
      continue;
    }
    if (c != '%')
      continue;
    const int e = s.peek();
    if (e == '{' || e == '<' || e == '>') {
      ++s.pos;
      scan_construct(s, e == '{');
    } else if ((e == 'W' || e == '@') && s.peek(1) == '{') {
      s.pos += 2;
      scan_construct(s, true);
    } else if (e != -1) {
      ++s.pos; // any other escape letter, "%%" included
    }
  }
}

void scan_construct(scanner& s, bool braced) {
  for (;;) {
    s.skip_blanks();
    if (s.peek() == '!') {
      ++s.pos;
      s.skip_blanks();
    }
    bool test_only = false;
    if (s.peek() == '%' && s.peek(1) == ':') {
      // A spec function in a condition: skip its call.
      s.pos += 2;
      while (s.peek() != -1 && s.peek() != '(')
        ++s.pos;
      int depth = 0;
      while (s.peek() != -1) {
        int c = s.peek();
        ++s.pos;
        if (c == '(')
          ++depth;
        else if (c == ')' && --depth == 0)
          break;
      }
      test_only = true;
    } else if (s.peek() == '.' || s.peek() == ',') {
      ++s.pos;
      test_only = true;
    }
    // The atom as written when it holds no "\\", else its unescaped copy.
    std::string_view atom;
    std::string unescaped;
    const std::size_t start = s.pos;
    if (!braced) {
      // %<S and %>S: up to a blank.
      while (s.peek() != -1 && s.peek() != ' ' && s.peek() != '\t')
        ++s.pos;
      atom = s.text.substr(start, s.pos - start);
    } else {
      bool escaped = false;
      for (;;) {
        if (s.peek() == '\\' && s.peek(1) != -1) {
          if (!escaped)
            unescaped.assign(s.text.substr(start, s.pos - start));
          escaped = true;
          unescaped += s.text[s.pos + 1];
          s.pos += 2;
        } else if (is_word_char(s.peek())) {
          if (escaped)
            unescaped += s.text[s.pos];
          ++s.pos;
        } else {
          break;
        }
      }
      atom = escaped ? std::string_view(unescaped)
                     : s.text.substr(start, s.pos - start);
    }
    bool starred = false;
    if (!atom.empty() && atom.back() == '*') {
      starred = true;
      atom.remove_suffix(1);
    } else if (s.peek() == '*') {
      starred = true;
      ++s.pos;
    }
    if (!test_only) {
      if (s.collected != nullptr)
        s.collected->emplace_back(atom, starred);
      else
        mark_atom(atom, starred, s.user_spec, s.unvalidated);
    }
    if (!braced)
      return;

    s.skip_blanks();
    const int c = s.peek();
    if (c == '&' || c == '|') {
      ++s.pos;
      continue;
    }
    if (c == ':') {
      ++s.pos;
      scan_text(s, true);
      if (s.peek() == ';') {
        ++s.pos;
        continue;
      }
    }
    if (s.peek() == '}')
      ++s.pos;
    return;
  }
}

} // namespace

namespace {

std::size_t count_unvalidated() {
  std::size_t count = 0;
  for (const switch_entry& sw : tables().switches)
    count += !sw.validated;
  return count;
}

// Marks what `spec` names; returns the switches left unvalidated.  The
// built-in texts carry their atoms, found when the program was built;
// other texts are scanned.
std::size_t scan_spec(std::string_view spec, bool user_spec,
                      std::size_t unvalidated) {
  if (!user_spec) {
    if (auto atoms = builtin_switch_atoms(spec)) {
      for (const builtin_data::atom_ref& atom : *atoms)
        mark_atom(builtin_data::view(atom.name), atom.starred, false,
                  unvalidated);
      return unvalidated;
    }
  }
  scanner s{spec, 0, user_spec, nullptr, unvalidated};
  scan_text(s, false);
  return s.unvalidated;
}

} // namespace

void validate_switches_from_spec(std::string_view spec, bool user_spec) {
  scan_spec(spec, user_spec, count_unvalidated());
}

std::vector<std::pair<std::string, bool>>
scan_switch_atoms(std::string_view spec) {
  std::vector<std::pair<std::string, bool>> atoms;
  scanner s{spec, 0, false, &atoms};
  scan_text(s, false);
  return atoms;
}

void mark_spec_switches_validated(
    const std::vector<std::string_view>& compiler_specs) {
  // Scanning stops once every switch is validated: most runs have a few
  // switches, all found in the first texts.
  std::size_t unvalidated = count_unvalidated();
  for (std::string_view spec : compiler_specs) {
    if (unvalidated == 0)
      return;
    unvalidated = scan_spec(spec, false, unvalidated);
  }
  for (const named_spec& spec : named_spec_list()) {
    if (unvalidated == 0)
      return;
    unvalidated = scan_spec(spec.text, spec.user, unvalidated);
  }
}

} // namespace velk
