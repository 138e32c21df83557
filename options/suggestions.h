// Spelling suggestions for misspelt options and option arguments: the
// string distance, the rule that decides whether a candidate is close
// enough to propose, and the search over a list of candidates.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velk {

// Restricted Damerau-Levenshtein distance in half-steps: an edit costs 2, a
// change of letter case 1.
unsigned edit_distance(std::string_view a, std::string_view b);

// The largest distance still worth proposing between texts of these
// lengths.
unsigned get_edit_distance_cutoff(std::size_t goal_length,
                                  std::size_t candidate_length);

// The closest candidate, or none when nothing is close enough or the goal
// is itself a candidate.
std::optional<std::string_view>
find_closest_string(std::string_view goal,
                    const std::vector<std::string_view>& candidates);
std::optional<std::string_view>
find_closest_string(std::string_view goal,
                    const std::vector<std::string>& candidates);

// The hint for `goal` and, in `all`, every candidate in order separated by
// single blanks.
std::optional<std::string_view>
candidates_list_and_hint(std::string_view goal, std::string& all,
                         const std::vector<std::string_view>& candidates);

} // namespace velk
