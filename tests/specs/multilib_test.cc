#include "specs/multilib.h"

#include "diagnostics/diagnostic.h"
#include "specs/named_specs.h"
#include "specs/search_paths.h"
#include "specs/switches.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace velk {
namespace {

using ::testing::ExitedWithCode;

class Multilib : public ::testing::Test {
protected:
  void SetUp() override {
    set_program_name("velk++");
    engine_init(global_engine, 0);
    named_spec_list().clear();
    link_builtin_specs();
    tables().switches.clear();
    reset_multilib_state();
  }
  void TearDown() override {
    named_spec_list().clear();
    tables().switches.clear();
    reset_multilib_state();
  }
  static void give(const std::string& name, unsigned liveness = live) {
    switch_entry sw;
    sw.name = name;
    sw.liveness = liveness;
    tables().switches.append(sw);
  }
  // The three directories after a fresh selection.
  static multilib_dirs select() {
    reset_multilib_state();
    select_multilib();
    return selected_multilib();
  }
  static void ilp32_variant() {
    set_named_spec("multilib", ". !mabi=ilp32;\nilp32 mabi=ilp32;");
    set_named_spec("multilib_matches", "mabi=ilp32 mabi=ilp32;");
  }
  using dir = std::optional<std::string>;
};

TEST_F(Multilib, BuiltInTablesChooseNoSubdirectory) {
  give("mabi=ilp32");
  multilib_dirs d = select();
  EXPECT_EQ(d.multilib_dir, dir());
  EXPECT_EQ(d.os_dir, dir());
  EXPECT_EQ(d.multiarch_dir, dir());
  EXPECT_EQ(multilib_info(), ".;\n");
  // The default is assumed though no option names it.
  EXPECT_TRUE(is_default_option("mabi=lp64"));
  EXPECT_FALSE(option_used("mabi=ilp32"));
}

TEST_F(Multilib, AnIlp32Variant) {
  ilp32_variant();
  multilib_dirs d = select();
  EXPECT_EQ(d.multilib_dir, dir());
  EXPECT_EQ(d.os_dir, dir());
  EXPECT_EQ(multilib_info(), ".;\nilp32;@mabi=ilp32\n");

  give("mabi=ilp32");
  d = select();
  EXPECT_EQ(d.multilib_dir, dir("ilp32"));
  EXPECT_EQ(d.os_dir, dir("ilp32")); // none given: the multilib directory
  EXPECT_EQ(d.multiarch_dir, dir());

  // A hidden switch does not count.
  tables().switches.clear();
  give("mabi=ilp32", live | hidden);
  EXPECT_EQ(select().multilib_dir, dir());

  // multilib_extra words follow each entry's options.
  set_named_spec("multilib_extra", "fPIC mstrict-align");
  EXPECT_EQ(multilib_info(),
            ".;@fPIC@mstrict-align\nilp32;@mabi=ilp32@fPIC@mstrict-align\n");
}

TEST_F(Multilib, OsAndMultiarchDirectories) {
  set_named_spec("multilib", ".:../lib64 !mabi=ilp32;\n"
                             "ilp32:../libilp32:aarch64_ilp32 mabi=ilp32;");
  set_named_spec("multilib_matches", "mabi=ilp32 mabi=ilp32;");
  multilib_dirs d = select();
  EXPECT_EQ(d.multilib_dir, dir());
  EXPECT_EQ(d.os_dir, dir("../lib64"));
  EXPECT_EQ(d.multiarch_dir, dir());
  // A ".:OSDIR" entry is not listed.
  EXPECT_EQ(multilib_info(), "ilp32;@mabi=ilp32\n");

  give("mabi=ilp32");
  d = select();
  EXPECT_EQ(d.multilib_dir, dir("ilp32"));
  EXPECT_EQ(d.os_dir, dir("../libilp32"));
  EXPECT_EQ(d.multiarch_dir, dir("aarch64_ilp32"));

  // The multilib directory goes below each library directory, the OS one
  // below the system directories, the plain directories after them.
  search_path_list list("startfile");
  list.insert({"/p/", 0, 1, false});
  list.insert({"/usr/lib/", 0, 1, true});
  std::string seen;
  walk_search_paths(list, true,
                    [&](const std::string& d2) -> std::optional<std::string> {
                      seen += d2 + " ";
                      return std::nullopt;
                    });
  EXPECT_NE(seen.find("/p/ilp32/ "), std::string::npos) << seen;
  EXPECT_NE(seen.find("/usr/lib/../libilp32/ "), std::string::npos) << seen;
  EXPECT_LT(seen.find("/p/ilp32/ "), seen.find("/p/ ")) << seen;
}

TEST_F(Multilib, ExclusionsReuseAndDefaults) {
  ilp32_variant();
  set_named_spec("multilib_exclusions", "mabi=ilp32 !mstrict-align;");
  set_named_spec("multilib_matches",
                 "mabi=ilp32 mabi=ilp32;mstrict-align mstrict-align;");
  give("mabi=ilp32");
  // The exclusion holds: no subdirectory at all.
  EXPECT_EQ(select().multilib_dir, dir());
  give("mstrict-align");
  EXPECT_EQ(select().multilib_dir, dir("ilp32"));

  // A combination the selection table lacks reuses a directory.
  tables().switches.clear();
  set_named_spec("multilib_exclusions", "");
  set_named_spec("multilib", ". !mabi=ilp32;\nilp32 mabi=ilp32 !mbig;");
  set_named_spec("multilib_reuse", "ilp32 mabi=ilp32 mbig;");
  set_named_spec("multilib_matches", "mabi=ilp32 mabi=ilp32;mbig mbig;");
  give("mabi=ilp32");
  give("mbig");
  EXPECT_EQ(select().multilib_dir, dir("ilp32"));

  // Defaults: assumed unless an alternative of their group is given; an
  // entry that needs only defaults is not listed.
  tables().switches.clear();
  set_named_spec("multilib_reuse", "");
  set_named_spec("multilib", "lp64 mabi=lp64;\nilp32 mabi=ilp32;");
  set_named_spec("multilib_options", "mabi=lp64/mabi=ilp32");
  EXPECT_EQ(select().multilib_dir, dir("lp64"));
  EXPECT_TRUE(option_used("mabi=lp64"));
  EXPECT_EQ(multilib_info(), "ilp32;@mabi=ilp32\n");
  give("mabi=ilp32");
  EXPECT_EQ(select().multilib_dir, dir("ilp32"));
  EXPECT_FALSE(option_used("mabi=lp64"));
}

TEST_F(Multilib, MalformedTablesAreFatal) {
  struct {
    const char* spec;
    const char* text;
    const char* message;
  } cases[] = {
      {"multilib", ".;", "multilib select '.;' '' is invalid"},
      {"multilib", ". mabi=ilp32",
       "multilib select '. mabi=ilp32' '' is "
       "invalid"},
      {"multilib_exclusions", "mabi=ilp32",
       "multilib exclusions 'mabi=ilp32' is invalid"},
      {"multilib_matches", "mabi=ilp32;",
       "multilib spec 'mabi=ilp32;' is "
       "invalid"},
      {"multilib_matches", "mabi=ilp32 a b;",
       "multilib spec 'mabi=ilp32 a b;' is invalid"},
  };
  for (const auto& c : cases) {
    SetUp();
    // The match table is read when the selection first tests a word.
    set_named_spec("multilib", ". !mabi=ilp32;\nilp32 mabi=ilp32;");
    set_named_spec(c.spec, c.text);
    give("mabi=ilp32");
    EXPECT_EXIT(select(), ExitedWithCode(1), c.message) << c.text;
  }
  SetUp();
  set_named_spec("multilib", "ilp32");
  EXPECT_EXIT(multilib_info(), ExitedWithCode(1),
              "multilib select 'ilp32' is invalid");
  SetUp();
  set_named_spec("multilib_exclusions", "x");
  EXPECT_EXIT(multilib_info(), ExitedWithCode(1),
              "multilib exclusion 'x' is invalid");
}

} // namespace
} // namespace velk
