#include "specs/multilib.h"

#include "diagnostics/diagnostic.h"
#include "specs/builtin_specs.h"
#include "specs/named_specs.h"
#include "specs/search_paths.h"
#include "specs/switches.h"

#include <array>
#include <optional>
#include <span>
#include <vector>

namespace velk {

namespace {

// This configuration's multilib lists.  The built-in named specs hold them
// assembled (selection, match, exclusion and reuse entries one after the
// other, the defaults joined with single blanks), so nothing is assembled
// at start-up; the checks below keep the two in step.
constexpr std::array<std::string_view, 1> configured_select = {". ;"};
constexpr std::array<std::string_view, 0> configured_matches = {};
constexpr std::array<std::string_view, 0> configured_exclusions = {};
constexpr std::array<std::string_view, 0> configured_reuse = {};
constexpr std::array<std::string_view, 1> configured_defaults = {"mabi=lp64"};

// Whether `text` is `pieces` joined with `separator`.
constexpr bool is_joined(std::string_view text,
                         std::span<const std::string_view> pieces,
                         std::string_view separator) {
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if (i > 0) {
      if (!text.starts_with(separator))
        return false;
      text.remove_prefix(separator.size());
    }
    if (!text.starts_with(pieces[i]))
      return false;
    text.remove_prefix(pieces[i].size());
  }
  return text.empty();
}

static_assert(is_joined(builtin_spec(spec_multilib).text, configured_select,
                        ""));
static_assert(is_joined(builtin_spec(spec_multilib_matches).text,
                        configured_matches, ""));
static_assert(is_joined(builtin_spec(spec_multilib_exclusions).text,
                        configured_exclusions, ""));
static_assert(is_joined(builtin_spec(spec_multilib_reuse).text,
                        configured_reuse, ""));
static_assert(is_joined(builtin_spec(spec_multilib_defaults).text,
                        configured_defaults, " "));

std::string_view named_text(std::string_view name) {
  const named_spec* spec = find_named_spec(name);
  return spec ? spec->text : std::string_view();
}

// One entry of the selection table: "DIR word word;".
struct select_entry {
  std::string_view dir;
  std::vector<std::string_view> words;
};

// Words of a "word word;" list starting at `pos`, which ends after the
// ";".  None when the text ends first.
std::optional<std::vector<std::string_view>> read_words(std::string_view text,
                                                        std::size_t& pos) {
  std::vector<std::string_view> words;
  while (true) {
    while (pos < text.size() && text[pos] == ' ')
      ++pos;
    if (pos >= text.size())
      return std::nullopt;
    if (text[pos] == ';') {
      ++pos;
      return words;
    }
    const std::size_t start = pos;
    while (pos < text.size() && text[pos] != ' ' && text[pos] != ';')
      ++pos;
    if (pos >= text.size())
      return std::nullopt;
    words.push_back(text.substr(start, pos - start));
  }
}

// The entries of a selection table; none when it is malformed (a DIR not
// followed by a blank, or an entry without its ";").
std::optional<std::vector<select_entry>> parse_select(std::string_view text) {
  std::vector<select_entry> entries;
  std::size_t pos = 0;
  while (pos < text.size()) {
    if (text[pos] == '\n') {
      ++pos;
      continue;
    }
    const std::size_t start = pos;
    while (pos < text.size() && text[pos] != ' ')
      ++pos;
    if (pos >= text.size())
      return std::nullopt;
    select_entry entry;
    entry.dir = text.substr(start, pos - start);
    ++pos;
    std::optional<std::vector<std::string_view>> words = read_words(text, pos);
    if (!words)
      return std::nullopt;
    entry.words = std::move(*words);
    entries.push_back(std::move(entry));
  }
  return entries;
}

// The entries of the exclusion table; none when one lacks its ";".
std::optional<std::vector<std::vector<std::string_view>>>
parse_exclusions(std::string_view text) {
  std::vector<std::vector<std::string_view>> entries;
  std::size_t pos = 0;
  while (pos < text.size()) {
    if (text[pos] == '\n' || text[pos] == ' ') {
      ++pos;
      continue;
    }
    std::optional<std::vector<std::string_view>> words = read_words(text, pos);
    if (!words)
      return std::nullopt;
    entries.push_back(std::move(*words));
  }
  return entries;
}

std::vector<std::string_view> split_blanks(std::string_view text) {
  std::vector<std::string_view> words;
  std::size_t pos = 0;
  while (pos < text.size()) {
    if (text[pos] == ' ' || text[pos] == '\t') {
      ++pos;
      continue;
    }
    const std::size_t start = pos;
    while (pos < text.size() && text[pos] != ' ' && text[pos] != '\t')
      ++pos;
    words.push_back(text.substr(start, pos - start));
  }
  return words;
}

[[noreturn]] void invalid_select(std::string_view select,
                                 std::string_view reuse) {
  const std::string s(select), r(reuse);
  fatal_error(unknown_location, "multilib select %qs %qs is invalid", s.c_str(),
              r.c_str());
}

[[noreturn]] void invalid_exclusions(std::string_view text) {
  const std::string t(text);
  fatal_error(unknown_location, "multilib exclusions %qs is invalid",
              t.c_str());
}

struct used_options {
  bool built = false;
  std::vector<std::string> words;       // given or assumed
  std::vector<std::string> words_given; // from the switches alone
};

used_options& used_table() {
  static used_options table;
  return table;
}

enum class group_state { no_group, alternative_given, none_given };

// Whether some alternative of the `multilib_options` group that holds
// `word` is among `used`.
group_state alternatives_of(std::string_view word,
                            const std::vector<std::string>& used) {
  for (std::string_view group : split_blanks(named_text("multilib_options"))) {
    std::vector<std::string_view> alternatives;
    std::size_t start = 0;
    while (true) {
      const std::size_t slash = group.find('/', start);
      alternatives.push_back(group.substr(start, slash - start));
      if (slash == std::string_view::npos)
        break;
      start = slash + 1;
    }
    bool holds_word = false;
    for (std::string_view a : alternatives)
      holds_word = holds_word || a == word;
    if (!holds_word)
      continue;
    for (std::string_view a : alternatives)
      for (const std::string& u : used)
        if (u == a)
          return group_state::alternative_given;
    return group_state::none_given;
  }
  return group_state::no_group;
}

void build_used_table(used_options& table) {
  const std::string_view matches = named_text("multilib_matches");
  // The (switch, replacement) pairs of the match table.
  std::vector<std::pair<std::string_view, std::string_view>> pairs;
  std::size_t pos = 0;
  while (pos < matches.size()) {
    if (matches[pos] == '\n' || matches[pos] == ' ') {
      ++pos;
      continue;
    }
    const std::size_t end = matches.find(';', pos);
    const std::string_view entry = matches.substr(
        pos,
        end == std::string_view::npos ? std::string_view::npos : end - pos);
    const std::size_t blank = entry.find(' ');
    if (end == std::string_view::npos || blank == std::string_view::npos ||
        entry.substr(blank + 1).find(' ') != std::string_view::npos) {
      const std::string text(matches);
      fatal_error(unknown_location, "multilib spec %qs is invalid",
                  text.c_str());
    }
    pairs.emplace_back(entry.substr(0, blank), entry.substr(blank + 1));
    pos = end + 1;
  }

  for (const switch_entry& sw : tables().switches) {
    if ((sw.liveness & hidden) != 0)
      continue;
    for (const auto& [name, replacement] : pairs)
      if (sw.name == name) {
        table.words.emplace_back(replacement);
        break;
      }
  }

  std::vector<std::string> given = table.words;
  for (std::string_view word : split_blanks(named_text("multilib_defaults")))
    if (alternatives_of(word, given) == group_state::none_given)
      table.words.emplace_back(word);
  table.words_given = std::move(given);
  table.built = true;
}

bool given_explicitly(std::string_view word) {
  for (const std::string& w : used_table().words_given)
    if (w == word)
      return true;
  return false;
}

// Whether the words of an entry all hold; `all_given` turns false when a
// word held only because it is a default.
bool words_hold(const std::vector<std::string_view>& words, bool& all_given) {
  all_given = true;
  for (std::string_view word : words) {
    if (!word.empty() && word[0] == '!') {
      if (option_used(word.substr(1)))
        return false;
    } else if (!option_used(word)) {
      // A default holds unless an alternative to it was given.
      if (!is_default_option(word) ||
          alternatives_of(word, used_table().words_given) ==
              group_state::alternative_given)
        return false;
      all_given = false;
    } else if (is_default_option(word) && !given_explicitly(word)) {
      all_given = false;
    }
  }
  return true;
}

} // namespace

bool option_used(std::string_view word) {
  used_options& table = used_table();
  if (!table.built)
    build_used_table(table);
  for (const std::string& used : table.words)
    if (used == word)
      return true;
  return false;
}

bool is_default_option(std::string_view word) {
  for (std::string_view d : split_blanks(named_text("multilib_defaults")))
    if (d == word)
      return true;
  return false;
}

void select_multilib() {
  multilib_dirs& result = selected_multilib();
  result = multilib_dirs();

  const std::string_view exclusions_text = named_text("multilib_exclusions");
  std::optional<std::vector<std::vector<std::string_view>>> exclusions =
      parse_exclusions(exclusions_text);
  if (!exclusions)
    invalid_exclusions(exclusions_text);
  for (const std::vector<std::string_view>& entry : *exclusions) {
    bool all_given = true;
    if (words_hold(entry, all_given))
      return; // an excluded combination: no subdirectory at all
  }

  const std::string_view select = named_text("multilib");
  const std::string_view reuse = named_text("multilib_reuse");
  std::string table(select);
  if (!reuse.empty())
    table += reuse;
  std::optional<std::vector<select_entry>> entries = parse_select(table);
  if (!entries)
    invalid_select(select, reuse);

  bool multilib_decided = false;
  for (const select_entry& entry : *entries) {
    bool all_given = true;
    if (!words_hold(entry.words, all_given))
      continue;
    if (!multilib_decided) {
      multilib_decided = true;
      // "." (also as ".:OSDIR") is the plain directory.
      const std::string_view multi = entry.dir.substr(0, entry.dir.find(':'));
      if (multi != ".")
        result.multilib_dir = std::string(multi);
    }
    const std::size_t colon = entry.dir.find(':');
    if (all_given && colon != std::string_view::npos) {
      const std::string_view rest = entry.dir.substr(colon + 1);
      const std::size_t second = rest.find(':');
      const std::string_view os = rest.substr(0, second);
      result.os_dir = os.empty() ? std::string(".") : std::string(os);
      if (second != std::string_view::npos)
        result.multiarch_dir = std::string(rest.substr(second + 1));
      break;
    }
  }

  if (!result.multilib_dir && result.os_dir && *result.os_dir == ".")
    result.os_dir.reset();
  else if (result.multilib_dir && !result.os_dir)
    result.os_dir = result.multilib_dir;
}

std::string multilib_info() {
  const std::string_view select = named_text("multilib");
  std::optional<std::vector<select_entry>> entries = parse_select(select);
  if (!entries) {
    const std::string text(select);
    fatal_error(unknown_location, "multilib select %qs is invalid",
                text.c_str());
  }
  const std::string_view exclusions_text = named_text("multilib_exclusions");
  std::optional<std::vector<std::vector<std::string_view>>> exclusions =
      parse_exclusions(exclusions_text);
  if (!exclusions) {
    const std::string text(exclusions_text);
    fatal_error(unknown_location, "multilib exclusion %qs is invalid",
                text.c_str());
  }
  const std::vector<std::string_view> extra =
      split_blanks(named_text("multilib_extra"));

  auto strip = [](std::string_view w) {
    return !w.empty() && w[0] == '!' ? w.substr(1) : w;
  };

  std::string out;
  std::optional<std::string_view> last_dir;
  for (const select_entry& entry : *entries) {
    // ".:OSDIR" entries only name an OS directory for the default.
    if (entry.dir.starts_with(".:") && !entry.dir.starts_with(".::"))
      continue;

    bool excluded = false;
    for (const std::vector<std::string_view>& ex : *exclusions) {
      bool all_present = true;
      for (std::string_view word : ex) {
        const std::string_view w = strip(word);
        bool present = is_default_option(w);
        for (std::string_view own : entry.words)
          present = present || strip(own) == w;
        if (!present) {
          all_present = false;
          break;
        }
      }
      if (all_present) {
        excluded = true;
        break;
      }
    }
    if (excluded)
      continue;

    if (last_dir && *last_dir == entry.dir)
      continue;

    // The default combination (every required word a default) is the
    // plain directory, already listed.
    bool required = false, all_default = true, default_negated = false;
    for (std::string_view word : entry.words) {
      if (!word.empty() && word[0] == '!') {
        default_negated = default_negated || is_default_option(word.substr(1));
      } else {
        required = true;
        all_default = all_default && is_default_option(word);
      }
    }
    if (required && all_default && !default_negated)
      continue;

    out += entry.dir.substr(0, entry.dir.find(':'));
    out += ';';
    for (std::string_view word : entry.words)
      if (word.empty() || word[0] != '!') {
        out += '@';
        out += word;
      }
    for (std::string_view word : extra) {
      out += '@';
      out += word;
    }
    out += '\n';
    last_dir = entry.dir;
  }
  return out;
}

void reset_multilib_state() {
  used_table() = used_options();
  selected_multilib() = multilib_dirs();
}

} // namespace velk
