#include "options/suggestions.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <span>

#include "diagnostics/internal_check.h"
#include "options/decode.h"
#include "options/handle.h"
#include "options/option_codes.h"
#include "options/option_table.h"
#include "support/standard_output.h"

namespace velk {

namespace {

char lower(char c) {
  return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c;
}

struct suggestion_list {
  bool built = false;
  std::vector<std::string> spellings;
};

suggestion_list& suggestions() {
  static suggestion_list list;
  return list;
}

// Adds the spellings of an enumeration option with each of its values.
void add_with_values(std::vector<std::string>& list,
                     const option_record& option,
                     std::span<const enum_value> values) {
  for (const enum_value& value : values) {
    std::string text(option.text);
    text += value.text;
    add_misspelling_candidates(list, option, text);
  }
}

template <typename List>
std::optional<std::string_view> closest(std::string_view goal,
                                        const List& candidates) {
  std::optional<std::string_view> best;
  unsigned best_distance = std::numeric_limits<unsigned>::max();
  for (const auto& item : candidates) {
    std::string_view candidate(item);
    std::size_t diff = goal.size() > candidate.size()
                           ? goal.size() - candidate.size()
                           : candidate.size() - goal.size();
    if (diff >= best_distance ||
        diff > get_edit_distance_cutoff(goal.size(), candidate.size()))
      continue;
    unsigned d = edit_distance(goal, candidate);
    bool prefer_equals =
        d == best_distance && candidate.ends_with('=') && !goal.ends_with('=');
    if (d < best_distance || prefer_equals) {
      best = candidate;
      best_distance = d;
    }
  }
  if (!best || best_distance == 0 ||
      best_distance > get_edit_distance_cutoff(goal.size(), best->size()))
    return std::nullopt;
  return best;
}

} // namespace

unsigned edit_distance(std::string_view a, std::string_view b) {
  if (a.empty())
    return 2 * static_cast<unsigned>(b.size());
  if (b.empty())
    return 2 * static_cast<unsigned>(a.size());
  const std::size_t n = a.size();
  std::vector<unsigned> two_back(n + 1), previous(n + 1), current(n + 1);
  for (std::size_t j = 0; j <= n; ++j)
    previous[j] = 2 * static_cast<unsigned>(j);
  for (std::size_t i = 0; i < b.size(); ++i) {
    current[0] = 2 * static_cast<unsigned>(i + 1);
    for (std::size_t j = 0; j < n; ++j) {
      unsigned cost = a[j] == b[i] ? 0 : lower(a[j]) == lower(b[i]) ? 1 : 2;
      unsigned best =
          std::min({previous[j + 1] + 2, current[j] + 2, previous[j] + cost});
      if (i > 0 && j > 0 && a[j] == b[i - 1] && a[j - 1] == b[i])
        best = std::min(best, two_back[j - 1] + 2);
      current[j + 1] = best;
    }
    std::swap(two_back, previous);
    std::swap(previous, current);
  }
  return previous[n];
}

unsigned get_edit_distance_cutoff(std::size_t goal_length,
                                  std::size_t candidate_length) {
  std::size_t longer = std::max(goal_length, candidate_length);
  std::size_t shorter = std::min(goal_length, candidate_length);
  if (longer <= 1)
    return 0;
  if (longer - shorter <= 1)
    return 2 * static_cast<unsigned>(std::max<std::size_t>(longer / 3, 1));
  return static_cast<unsigned>((2 * (longer + 2)) / 3);
}

std::optional<std::string_view>
find_closest_string(std::string_view goal,
                    const std::vector<std::string_view>& candidates) {
  return closest(goal, candidates);
}

std::optional<std::string_view>
find_closest_string(std::string_view goal,
                    const std::vector<std::string>& candidates) {
  return closest(goal, candidates);
}

std::optional<std::string_view>
candidates_list_and_hint(std::string_view goal, std::string& all,
                         const std::vector<std::string_view>& candidates) {
  VELK_ASSERT(!candidates.empty());
  all.clear();
  for (std::string_view c : candidates) {
    if (!all.empty())
      all += ' ';
    all += c;
  }
  return closest(goal, candidates);
}

void add_misspelling_candidates(std::vector<std::string>& list,
                                const option_record& option,
                                std::string_view text) {
  if (is_placeholder(option))
    return;
  list.emplace_back(text.substr(1));
  const bool no_negative = option.attributes & ATTR_NO_NEGATIVE;
  for (const prefix_rewrite& row : prefix_map) {
    if (row.negates && no_negative)
      continue;
    if (!text.starts_with(row.replacement))
      continue;
    std::string spelling(row.prefix.substr(1));
    spelling += text.substr(row.replacement.size());
    list.push_back(std::move(spelling));
  }
  constexpr std::string_view param = "--param=";
  if (text.starts_with(param)) {
    std::string spelling(text.substr(1));
    spelling[param.size() - 2] = ' ';
    list.push_back(std::move(spelling));
  }
}

void build_option_suggestions(std::string_view) {
  suggestion_list& state = suggestions();
  VELK_ASSERT(!state.built);
  state.built = true;
  std::vector<std::string>& list = state.spellings;
  list.reserve(7000);

  constexpr std::size_t sanitize = option_code("-fsanitize=");
  constexpr std::size_t sanitize_recover = option_code("-fsanitize-recover=");
  for (std::size_t code = 0; code < option_count; ++code) {
    const option_record& option = option_table[code];
    if (code == sanitize || code == sanitize_recover) {
      add_misspelling_candidates(list, option, option.text);
      for (const sanitizer_option& entry : sanitizer_options) {
        if (code == sanitize && entry.name == "all") {
          // "-fsanitize=all" is refused; only its negative form exists.
          option_record negative_only = option;
          negative_only.attributes |= ATTR_NO_NEGATIVE;
          std::string text = "-fno-sanitize=";
          text += entry.name;
          add_misspelling_candidates(list, negative_only, text);
          continue;
        }
        std::string text(option.text);
        text += entry.name;
        add_misspelling_candidates(list, option, text);
      }
    } else if (option.variable_kind == VK_ENUM) {
      add_with_values(list, option, option_enums[option.enum_index].values);
      add_misspelling_candidates(list, option, option.text);
    } else {
      // Target options would list the values the target supplies for them;
      // this target supplies none, so they are spelled alone.
      add_misspelling_candidates(list, option, option.text);
    }
  }
}

const std::vector<std::string>& option_suggestions() {
  if (!suggestions().built)
    build_option_suggestions("");
  return suggestions().spellings;
}

std::optional<std::string_view>
suggest_option(std::string_view text_without_dash) {
  return find_closest_string(text_without_dash, option_suggestions());
}

void get_completions(std::string_view prefix,
                     std::vector<std::string>& results) {
  if (prefix.empty())
    return;
  if (prefix.starts_with('-'))
    prefix.remove_prefix(1);
  for (const std::string& candidate : option_suggestions()) {
    if (candidate.starts_with(prefix))
      results.push_back("-" + candidate);
  }
}

void print_completions(std::string_view prefix) {
  std::vector<std::string> results;
  get_completions(prefix, results);
  for (const std::string& line : results) {
    write_standard_output(line);
    write_standard_output("\n");
  }
}

} // namespace velk
