#include "specs/switches.h"

#include <gtest/gtest.h>

namespace velk {
namespace {

TEST(SwitchTable, GrowthPastSixteenKeepsOrder) {
  switch_table switches;
  input_table inputs;
  for (int i = 0; i < 40; ++i) {
    add_switch(switches, "-f" + std::to_string(i), {}, false, true);
    add_input(inputs, "in" + std::to_string(i) + ".c", std::nullopt);
    if (i == 0) {
      EXPECT_EQ(switches.capacity(), 16u);
      EXPECT_EQ(inputs.capacity(), 16u);
    }
  }
  EXPECT_EQ(switches.capacity(), 64u);
  ASSERT_EQ(switches.size(), 40u);
  for (int i = 0; i < 40; ++i) {
    EXPECT_EQ(switches[i].name, "f" + std::to_string(i));
    EXPECT_EQ(inputs[i].name, "in" + std::to_string(i) + ".c");
  }
}

TEST(SwitchTable, EntryFields) {
  switch_table switches;
  add_switch(switches, "-o", {"hello"}, false, true);
  add_switch(switches, "-O2", {}, true, true);
  ASSERT_EQ(switches.size(), 2u);
  EXPECT_EQ(switches[0].name, "o");
  ASSERT_EQ(switches[0].args.size(), 1u);
  EXPECT_EQ(switches[0].args[0], "hello");
  EXPECT_FALSE(switches[0].validated);
  EXPECT_TRUE(switches[1].validated);
  EXPECT_TRUE(switches[1].args.empty());
  EXPECT_EQ(switches[1].liveness, 0u);
  EXPECT_FALSE(switches[1].ordering);
}

TEST(SwitchEntry, PresentOnlyWhenLiveAndNotOverridden) {
  struct {
    unsigned liveness;
    bool present;
  } cases[] = {
      {0, false},
      {live, true},
      {live | hidden, true}, // hidden alone is decided by the interpreter
      {live | dead, false},
      {live | hidden_for_good, false},
      {live | still_listed, true},
      {dead, false},
  };
  for (const auto& c : cases) {
    switch_entry e;
    e.liveness = c.liveness;
    EXPECT_EQ(e.present(), c.present) << "liveness " << c.liveness;
  }
}

TEST(CurrentInput, SuffixRules) {
  struct {
    const char* name;
    const char* base;
    std::size_t stem_length;
    const char* suffix;
  } cases[] = {
      {"hello.cc", "hello.cc", 5, "cc"}, {".hidden", ".hidden", 7, ""},
      {"a.b.c", "a.b.c", 3, "c"},        {"dir.x/file", "file", 4, ""},
      {"dir/.x.c", ".x.c", 2, "c"},      {"-", "-", 1, ""},
      {"trailing.", "trailing.", 8, ""}, {"/abs/path/x.S", "x.S", 1, "S"},
  };
  for (const auto& c : cases) {
    current_input_record r;
    r.stat_cached = true;
    r.set(c.name, 7);
    EXPECT_EQ(r.name, c.name);
    EXPECT_EQ(r.base_name, c.base) << c.name;
    EXPECT_EQ(r.base_length, std::string(c.base).size()) << c.name;
    EXPECT_EQ(r.base_stem_length, c.stem_length) << c.name;
    EXPECT_EQ(r.suffix, c.suffix) << c.name;
    EXPECT_FALSE(r.stat_cached);
    EXPECT_EQ(r.index, 7u);
  }
}

} // namespace
} // namespace velk
