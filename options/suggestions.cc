#include "options/suggestions.h"

#include <algorithm>
#include <limits>

namespace velk {

namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; }

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
    bool prefer_equals = d == best_distance && candidate.ends_with('=') &&
                         !goal.ends_with('=');
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
      unsigned best = std::min({previous[j + 1] + 2, current[j] + 2,
                                previous[j] + cost});
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
  all.clear();
  for (std::string_view c : candidates) {
    if (!all.empty())
      all += ' ';
    all += c;
  }
  return closest(goal, candidates);
}

} // namespace velk
