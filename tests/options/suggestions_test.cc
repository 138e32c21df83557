#include "options/suggestions.h"

#include <gtest/gtest.h>

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
  std::vector<std::string_view> options = {"Wa,", "Wall", "-help", "-help=",
                                           "Wno-all"};
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

} // namespace
} // namespace velk
