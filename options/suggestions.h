// Spelling suggestions for misspelt options and option arguments: the
// string distance, the rule that decides whether a candidate is close
// enough to propose, the search over a list of candidates, and the list of
// every option spelling, which also serves the completion of option
// prefixes.
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

struct option_record;

// Adds to `list` the spellings of `option` written as `text` (with its
// leading "-"), each without the leading "-": the text itself and its long
// and "no-" forms ("-Wall" gives "Wall", "Wno-all", "-warn-all",
// "-warn-no-all").
void add_misspelling_candidates(std::vector<std::string>& list,
                                const option_record& option,
                                std::string_view text);

// Builds the list of option spellings that suggestions and completions
// search.  It is built once, on first use; building it again is an internal
// error.  `prefix` is what is being completed, if anything.
void build_option_suggestions(std::string_view prefix);

// The list of option spellings, built if needed.
const std::vector<std::string>& option_suggestions();

// The spelling closest to `text_without_dash` (an option as typed, without
// its leading "-"), or none; the caller puts a "-" in front.
std::optional<std::string_view>
suggest_option(std::string_view text_without_dash);

// Appends to `results` every option spelling that begins with `prefix`
// (after one leading "-" is dropped from it), with a "-" in front, in list
// order.  An empty prefix yields nothing.
void get_completions(std::string_view prefix,
                     std::vector<std::string>& results);

// get_completions, one result per line on standard output.
void print_completions(std::string_view prefix);

} // namespace velk
