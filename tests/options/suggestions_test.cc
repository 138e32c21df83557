#include "options/suggestions.h"

#include <gtest/gtest.h>

#include "options/option_codes.h"
#include "options/option_table.h"

#include <algorithm>

namespace velk {
namespace {

TEST(EditDistance, HalfStepsForCase) {
  EXPECT_EQ(edit_distance("", "abc"), 6u);
  EXPECT_EQ(edit_distance("abc", ""), 6u);
  EXPECT_EQ(edit_distance("ab", "ba"), 2u);
  EXPECT_EQ(edit_distance("a", "A"), 1u);
  EXPECT_EQ(edit_distance("WALL", "Wall"), 3u);
  EXPECT_EQ(edit_distance("kitten", "sitting"), 6u);
  EXPECT_EQ(edit_distance("abcd", "acbd"), 2u); // one transposition
  EXPECT_EQ(edit_distance("same", "same"), 0u);
}

TEST(EditDistance, Cutoff) {
  struct {
    std::size_t goal, candidate;
    unsigned cutoff;
  } cases[] = {
      {1, 1, 0}, {0, 1, 0}, {4, 4, 2}, {5, 4, 2},
      {6, 6, 4}, {4, 6, 5}, {2, 2, 2}, {10, 3, 8},
  };
  for (const auto& c : cases)
    EXPECT_EQ(get_edit_distance_cutoff(c.goal, c.candidate), c.cutoff)
        << c.goal << " " << c.candidate;
}

TEST(FindClosestString, BestMatchRule) {
  std::vector<std::string_view> options = {"Wa,", "Wall", "-help",
                                           "-help=", "Wno-all"};
  EXPECT_EQ(find_closest_string("Wal", options), "Wa,");
  EXPECT_EQ(find_closest_string("-helpp", options), "-help=");
  EXPECT_EQ(find_closest_string("Wnoall", options), "Wno-all");
  EXPECT_EQ(find_closest_string("WAll", options), "Wall");
  EXPECT_EQ(find_closest_string("WALL", options), std::nullopt);
  EXPECT_EQ(find_closest_string("Wall", options), std::nullopt); // valid
  EXPECT_EQ(find_closest_string("zzzzzzzz", options), std::nullopt);
}

TEST(CandidatesListAndHint, ListsAllInOrder) {
  std::string all;
  std::vector<std::string_view> values = {"always", "auto", "never"};
  EXPECT_EQ(candidates_list_and_hint("alway", all, values), "always");
  EXPECT_EQ(all, "always auto never");
  EXPECT_EQ(candidates_list_and_hint("rainbow", all, values), std::nullopt);
}

TEST(OptionSuggestions, ListOfEverySpelling) {
  const std::vector<std::string>& list = option_suggestions();
  // Every spelling of every option except the "-gno-" placeholder, which
  // would add "gno-" and "-debug=no-".
  EXPECT_EQ(list.size(), 6951u);
  EXPECT_EQ(&option_suggestions(), &list); // built once
  auto has = [&](std::string_view text) {
    return std::find(list.begin(), list.end(), text) != list.end();
  };
  for (const char* expected :
       {"Wall", "Wno-all", "-warn-all", "-warn-no-all", "-help",
        "fsanitize=address", "fno-sanitize=address", "-sanitize=address",
        "fno-sanitize=all", "fsanitize-recover=all", "-machineabi=",
        "-param max-inline-insns-auto=", "fdiagnostics-color=always"})
    EXPECT_TRUE(has(expected)) << expected;
  for (const char* absent :
       {"fsanitize=all", "gno-", "-debug=no-", "fno-diagnostics-color="})
    EXPECT_FALSE(has(absent)) << absent;
}

TEST(OptionSuggestions, MisspellingCandidatesOfOneOption) {
  std::vector<std::string> list;
  add_misspelling_candidates(list, option_table[option_code("-Wall")], "-Wall");
  EXPECT_EQ(list, (std::vector<std::string>{"Wall", "Wno-all", "-warn-all",
                                            "-warn-no-all"}));
  list.clear();
  // No negative form: no "no-" spellings.
  add_misspelling_candidates(list, option_table[option_code("-mabi=")],
                             "-mabi=");
  EXPECT_EQ(list, (std::vector<std::string>{"mabi=", "-machine-abi=",
                                            "-machine=abi=", "-machineabi="}));
}

TEST(OptionSuggestions, ClosestOption) {
  struct {
    const char* goal;
    const char* hint; // without the leading "-"; null for none
  } cases[] = {
      {"Wincompatible-pointer-type", "Wincompatible-pointer-types"},
      {"fdiagnostics-colour=always", "fdiagnostics-color=always"},
      {"sanitize=address", "fsanitize=address"},
      {"Wnoall", "Wno-all"},
      {"-helpp", "-help="},
      {"Wal", "Wa,"},
      {"fsanitize=all", "fsanitize=null"},
      {"fno-sanitize=all", nullptr},
      {"ftrivial-auto-var-init", "ftrivial-auto-var-init="},
      {"W", nullptr},
      {"WALL", nullptr},
      {"WAll", "Wall"},
      {"", nullptr},
  };
  for (const auto& c : cases) {
    const std::optional<std::string_view> hint = suggest_option(c.goal);
    if (c.hint == nullptr)
      EXPECT_EQ(hint, std::nullopt) << c.goal;
    else
      EXPECT_EQ(hint, c.hint) << c.goal;
  }
}

TEST(OptionSuggestions, Completions) {
  std::vector<std::string> results;
  get_completions("-fdiagnostics-color=a", results);
  EXPECT_EQ(results, (std::vector<std::string>{"-fdiagnostics-color=always",
                                               "-fdiagnostics-color=auto"}));
  results.clear();
  get_completions("", results);
  EXPECT_TRUE(results.empty());
  get_completions("-zzzz", results);
  EXPECT_TRUE(results.empty());

  testing::internal::CaptureStdout();
  // "-fhelp" and "-fhelp=" have the long forms "--help" and "--help=" too;
  // duplicates are printed.
  print_completions("--hel");
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "--help\n--help=\n--help\n--help=\n");
}

} // namespace
} // namespace velk
