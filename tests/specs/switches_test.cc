#include "specs/switches.h"

#include <gtest/gtest.h>

#include <algorithm>

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

std::vector<std::uint32_t> named(const switch_table& table,
                                 std::string_view prefix, bool whole) {
  std::span<const std::uint32_t> found = switches_named(table, prefix, whole);
  return {found.begin(), found.end()};
}

using positions = std::vector<std::uint32_t>;

TEST(SwitchNameIndex, PrefixAndWholeNameLookups) {
  switch_table table;
  for (const char* option :
       {"-fb", "-DX", "-f", "-fa", "-D", "-fb", "-U", "-Wall", "-fa-b"})
    add_switch(table, option, {}, false, true);
  table[4].args = {"Y"};
  table[6].args = {"Z"};
  EXPECT_EQ(named(table, "f", false), (positions{2, 3, 8, 0, 5}));
  EXPECT_EQ(named(table, "fb", true), (positions{0, 5}));
  EXPECT_EQ(named(table, "fa", true), (positions{3}));
  EXPECT_EQ(named(table, "fa", false), (positions{3, 8}));
  EXPECT_EQ(named(table, "g", false), positions{});
  EXPECT_EQ(named(table, "", false).size(), table.size());
  std::span<const std::uint32_t> separate = switches_with_separate_d_u(table);
  EXPECT_EQ(positions(separate.begin(), separate.end()), (positions{4, 6}));

  // Names alike in their first eight characters, or differing only in
  // trailing NUL bytes.
  switch_table long_names;
  for (std::string_view option : std::initializer_list<std::string_view>{
           "-fstack-protector-strong", "-fstack-pro", "-fstack-protector",
           "-fstack-protector", "-fstack-p", std::string_view("-a\0", 3), "-a",
           "-fstack-protector-all"})
    add_switch(long_names, option, {}, false, true);
  EXPECT_EQ(named(long_names, "fstack-pro", false), (positions{1, 2, 3, 7, 0}));
  EXPECT_EQ(named(long_names, "fstack-protector", true), (positions{2, 3}));
  EXPECT_EQ(named(long_names, "a", true), (positions{6}));
  EXPECT_EQ(named(long_names, "a", false), (positions{6, 5}));
}

// The index follows appends, and never serves one table's positions for
// another: copies, moves (both ends) and clearing each start afresh.
TEST(SwitchNameIndex, FollowsAppendsAndTableChanges) {
  switch_table table;
  add_switch(table, "-fz", {}, false, true);
  EXPECT_EQ(named(table, "f", false), (positions{0}));
  add_switch(table, "-fa", {}, false, true);
  add_switch(table, "-fm", {}, false, true);
  EXPECT_EQ(named(table, "f", false), (positions{1, 2, 0}));

  switch_table copy = table;
  add_switch(copy, "-fb", {}, false, true);
  EXPECT_EQ(named(copy, "f", false), (positions{1, 3, 2, 0}));
  EXPECT_EQ(named(table, "f", false), (positions{1, 2, 0}));

  // Same size, other names: a moved-from table (left empty) reused must not
  // inherit the index.
  switch_table moved = std::move(copy);
  for (const char* option : {"-m1", "-m0", "-fq", "-m2"})
    add_switch(copy, option, {}, false, true);
  EXPECT_EQ(named(copy, "f", false), (positions{2}));
  EXPECT_EQ(named(moved, "fb", true), (positions{3}));

  std::swap(table, moved);
  EXPECT_EQ(named(table, "f", false), (positions{1, 3, 2, 0}));
  EXPECT_EQ(named(moved, "f", false), (positions{1, 2, 0}));

  moved.clear();
  add_switch(moved, "-fy", {}, false, true);
  add_switch(moved, "-fx", {}, false, true);
  add_switch(moved, "-O2", {}, false, true);
  EXPECT_EQ(named(moved, "f", false), (positions{1, 0}));
}

// Short tables and long ones are indexed differently: both give what a plain
// filter and stable sort by name give, and agree on later opposites.
TEST(SwitchNameIndex, WalkedAndIndexedTablesAgree) {
  const char* names[] = {"-fb", "-DX",   "-f",     "-fa",   "-D",    "-fb",
                         "-U",  "-fa-b", "-fno-b", "-Wall", "-fbar", "-O2"};
  for (std::size_t copies : {1, 2, 3}) {
    switch_table table;
    for (std::size_t k = 0; k < copies; ++k)
      for (const char* option : names)
        add_switch(table, option, {}, false, true);
    for (std::size_t i = 0; i < table.size(); ++i)
      if (table[i].name == "D" || table[i].name == "U")
        table[i].args = {"Y"};
    for (std::string_view prefix : {"", "f", "fa", "fb", "D", "fno-", "x"}) {
      for (bool whole : {false, true}) {
        positions expected;
        for (std::uint32_t i = 0; i < table.size(); ++i)
          if (whole ? table[i].name == prefix
                    : table[i].name.starts_with(prefix))
            expected.push_back(i);
        std::stable_sort(expected.begin(), expected.end(),
                         [&](std::uint32_t a, std::uint32_t b) {
                           return table[a].name < table[b].name;
                         });
        EXPECT_EQ(named(table, prefix, whole), expected)
            << table.size() << " switches, prefix " << prefix;
      }
    }
    positions separate;
    for (std::uint32_t i = 0; i < table.size(); ++i)
      if (table[i].name == "D" || table[i].name == "U")
        separate.push_back(i);
    std::span<const std::uint32_t> found = switches_with_separate_d_u(table);
    EXPECT_EQ(positions(found.begin(), found.end()), separate);

    const std::size_t last_fb = table.size() - 7; // the last "-fb"
    EXPECT_TRUE(switch_named_after(table, "fb", 0));
    EXPECT_FALSE(switch_named_after(table, "fb", last_fb));
    EXPECT_TRUE(switch_named_after(table, "O2", last_fb));
    EXPECT_FALSE(switch_named_after(table, "O2", table.size() - 1));
    EXPECT_TRUE(switch_named_after(table, "f", table.size() - 11));
    EXPECT_FALSE(switch_named_after(table, "f", table.size() - 10));
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
