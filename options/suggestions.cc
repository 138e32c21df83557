#include "options/suggestions.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
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

// The rows of one distance computation, kept over a whole search.
struct distance_rows {
  std::vector<unsigned> two_back, previous, current;
};

// edit_distance(a, b) when it is at most `limit`, else some value above
// `limit`.  A cell of the table lies on an alignment within the limit only
// if the full edits its length differences force (before it and after it)
// stay within the limit: only that diagonal band is filled, the cells
// beside it standing for "beyond the limit".  The computation stops as soon
// as two consecutive rows lie wholly beyond the limit, since every
// alignment passes through one of them (a transposition skips one row,
// never two).
unsigned bounded_edit_distance(std::string_view a, std::string_view b,
                               unsigned limit, distance_rows& rows) {
  if (a.empty() || b.empty())
    return edit_distance(a, b);
  const long n = static_cast<long>(a.size()); // columns
  const long m = static_cast<long>(b.size()); // rows
  const long delta = m - n;
  const long half = static_cast<long>(limit / 2);
  if (std::labs(delta) > half)
    return limit + 1;
  // Column minus row of the cells in the band.
  const long spare = (half - std::labs(delta)) / 2;
  const long band_low = std::min(0L, -delta) - spare;
  const long band_high = std::max(0L, -delta) + spare;
  const unsigned beyond = limit + 1;
  auto remaining = [&](long r, long c) {
    return 2 * static_cast<unsigned>(std::labs((m - r) - (n - c)));
  };

  rows.two_back.assign(static_cast<std::size_t>(n + 1), beyond);
  rows.previous.resize(static_cast<std::size_t>(n + 1));
  rows.current.resize(static_cast<std::size_t>(n + 1));
  for (long c = 0; c <= n; ++c)
    rows.previous[static_cast<std::size_t>(c)] = 2 * static_cast<unsigned>(c);
  unsigned previous_bound = 0;
  for (long r = 1; r <= m; ++r) {
    unsigned* current = rows.current.data();
    const unsigned* previous = rows.previous.data();
    const unsigned* two_back = rows.two_back.data();
    const char row_char = b[static_cast<std::size_t>(r - 1)];
    unsigned bound = beyond;
    if (r + band_low <= 0) {
      current[0] = 2 * static_cast<unsigned>(r);
      bound = current[0] + remaining(r, 0);
    } else {
      current[0] = beyond;
    }
    const long low = std::max(1L, r + band_low);
    const long high = std::min(n, r + band_high);
    if (low - 1 >= 1)
      current[low - 1] = beyond;
    for (long c = low; c <= high; ++c) {
      const char column_char = a[static_cast<std::size_t>(c - 1)];
      unsigned cost = column_char == row_char                 ? 0
                      : lower(column_char) == lower(row_char) ? 1
                                                              : 2;
      unsigned best = std::min(
          {previous[c] + 2, current[c - 1] + 2, previous[c - 1] + cost});
      if (r > 1 && c > 1 && column_char == b[static_cast<std::size_t>(r - 2)] &&
          a[static_cast<std::size_t>(c - 2)] == row_char)
        best = std::min(best, two_back[c - 2] + 2);
      best = std::min(best, beyond);
      current[c] = best;
      bound = std::min(bound, best + remaining(r, c));
    }
    if (high + 1 >= 1 && high + 1 <= n)
      current[high + 1] = beyond;
    if (bound > limit && previous_bound > limit)
      return beyond;
    previous_bound = bound;
    std::swap(rows.two_back, rows.previous);
    std::swap(rows.previous, rows.current);
  }
  return rows.previous[static_cast<std::size_t>(n)];
}

// The best-match rule over `candidates`.  Scanning in list order, a
// candidate becomes the best when it is closer than the best so far, or as
// close and ending in "=" when the goal does not; a length difference
// beyond the cutoff rules a candidate out.  So the result is decided by the
// smallest distance D alone: the best is the last candidate at D that ends
// in "=" (when the goal does not), else the first candidate at D, and it is
// proposed when 0 < D <= its cutoff.
//
// That lets the distances be computed in any order and only as far as they
// can matter.  A cheap lower bound (two half-steps for each character one
// text has and the other lacks, letter case aside) orders the candidates;
// each distance is computed only up to the smallest distance found so far,
// and the search ends when the lower bounds pass it.  Nothing is proposed
// beyond the widest cutoff any candidate allows, so no distance beyond it
// is computed either.
template <typename List>
std::optional<std::string_view> closest(std::string_view goal,
                                        const List& candidates) {
  auto length_difference = [&](std::string_view candidate) {
    return goal.size() > candidate.size() ? goal.size() - candidate.size()
                                          : candidate.size() - goal.size();
  };
  unsigned widest_cutoff = 0;
  for (const auto& item : candidates) {
    std::string_view candidate(item);
    unsigned cutoff = get_edit_distance_cutoff(goal.size(), candidate.size());
    // A candidate is proposed only within its cutoff, and every character
    // of the length difference costs a full edit.
    if (2 * length_difference(candidate) <= cutoff)
      widest_cutoff = std::max(widest_cutoff, cutoff);
  }

  // The lower bound of each candidate still in the running, grouped by
  // bound, in list order within a group.
  std::array<int, 256> goal_counts{};
  for (char c : goal)
    ++goal_counts[static_cast<unsigned char>(lower(c))];
  std::vector<std::vector<std::size_t>> by_bound(widest_cutoff + 1);
  std::size_t index = 0;
  for (const auto& item : candidates) {
    std::string_view candidate(item);
    const std::size_t position = index++;
    std::size_t diff = length_difference(candidate);
    if (diff > get_edit_distance_cutoff(goal.size(), candidate.size()) ||
        2 * diff > widest_cutoff)
      continue;
    std::size_t shared = 0;
    for (char c : candidate)
      if (goal_counts[static_cast<unsigned char>(lower(c))]-- > 0)
        ++shared;
    for (char c : candidate)
      ++goal_counts[static_cast<unsigned char>(lower(c))];
    std::size_t bound = 2 * (std::max(goal.size(), candidate.size()) - shared);
    if (bound <= widest_cutoff)
      by_bound[bound].push_back(position);
  }

  auto at = [&](std::size_t position) {
    return std::string_view(candidates[position]);
  };
  auto cutoff_of = [&](std::size_t position) {
    return get_edit_distance_cutoff(goal.size(), at(position).size());
  };
  distance_rows rows;
  // First the smallest distance among the candidates within their own
  // cutoff: without one, nothing is proposed.
  unsigned smallest = widest_cutoff;
  bool found = false;
  for (unsigned bound = 0; bound <= smallest && bound < by_bound.size();
       ++bound) {
    for (std::size_t position : by_bound[bound]) {
      unsigned limit = std::min(smallest, cutoff_of(position));
      if (bound > limit)
        continue;
      unsigned d = bounded_edit_distance(goal, at(position), limit, rows);
      if (d > limit)
        continue;
      smallest = d;
      found = true;
    }
  }
  if (!found)
    return std::nullopt;
  // Then every candidate at most that far, within its cutoff or not: the
  // closest of them decide.
  std::vector<std::pair<std::size_t, unsigned>> distances;
  for (unsigned bound = 0; bound <= smallest && bound < by_bound.size();
       ++bound) {
    for (std::size_t position : by_bound[bound]) {
      unsigned d = bounded_edit_distance(goal, at(position), smallest, rows);
      if (d > smallest)
        continue;
      smallest = d;
      distances.emplace_back(position, d);
    }
  }
  if (smallest == 0)
    return std::nullopt;

  std::optional<std::size_t> first, last_with_equals;
  for (const auto& [position, d] : distances) {
    if (d != smallest)
      continue;
    if (!first || position < *first)
      first = position;
    if (at(position).ends_with('=') && !goal.ends_with('=') &&
        (!last_with_equals || position > *last_with_equals))
      last_with_equals = position;
  }
  std::string_view best = at(last_with_equals.value_or(*first));
  if (smallest > get_edit_distance_cutoff(goal.size(), best.size()))
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
