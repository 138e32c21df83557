#include "specs/spec_files.h"

#include "diagnostics/diagnostic.h"
#include "specs/named_specs.h"
#include "specs/spec_setup.h"

#include <gtest/gtest.h>

#include <string>

namespace velk {
namespace {

class SpecFileText : public ::testing::Test {
protected:
  void SetUp() override {
    set_program_name("velk++");
    engine_init(global_engine, 0);
    named_spec_list().clear();
    install_builtin_specs(false);
    compilers_table().clear();
  }
  void TearDown() override {
    named_spec_list().clear();
    compilers_table().clear();
  }
  static std::string text(std::string_view name) {
    const named_spec* spec = find_named_spec(name);
    EXPECT_NE(spec, nullptr) << name;
    return spec ? std::string(spec->text) : std::string();
  }
};

TEST(SpecFileLineEnds, CarriageReturnsBecomeLineFeeds) {
  struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"a\r\nb\r\n", "a\nb\n"}, {"a\rb\r", "a\nb\n"}, {"a\n\rb", "a\nb"},
      {"a\r\r\nb", "a\n\nb"},   {"\r", "\n"},         {"a\n\r\nb", "a\n\nb"},
      {"no ends", "no ends"},   {"\r\r", "\n\n"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(normalize_line_ends(c.in), c.out) << c.in;
}

TEST_F(SpecFileText, DefinitionTextsRunToAnEmptyLine) {
  apply_spec_text("*tarn1:\n\n\n*asm_debug:\nfirst\nsecond # note\n"
                  "third\\\n-x\n\n"
                  "*lib:\n\n*endfile:\nx\n\n"
                  "*new_one: \t -a\n",
                  "t.specs", false, false);
  // Two empty lines after the colon: an empty definition.
  EXPECT_EQ(text("tarn1"), "");
  EXPECT_EQ(text("asm_debug"), "first\nsecond \nthird-x");
  // One empty line: the next entry is taken as the text.
  EXPECT_EQ(text("lib"), "*endfile:\nx");
  EXPECT_NE(text("endfile"), "x");
  // Leading white space of the text is skipped; a new spec comes first.
  EXPECT_EQ(text("new_one"), "-a");
  EXPECT_EQ(named_spec_list().front().name, "new_one");
}

TEST_F(SpecFileText, AppendsRenamesAndRows) {
  const std::string old_link = text("link");
  apply_spec_text("*link:\n+ -lfoo\n\n*link:\n+\t-lbar\n\n"
                  "%rename lib old_lib\n"
                  ".zz:\n@c\n\n"
                  "  :\nlink it\n",
                  "t.specs", false, true);
  EXPECT_EQ(text("link"), old_link + " -lfoo\t-lbar");
  EXPECT_TRUE(find_named_spec("link")->user);
  EXPECT_EQ(text("lib"), "");
  EXPECT_EQ(text("old_lib"), std::string(builtin_spec(spec_lib).text));
  ASSERT_EQ(compilers_table().size(), 2u);
  EXPECT_EQ(compilers_table()[0].key, ".zz");
  EXPECT_EQ(compilers_table()[0].spec, "@c");
  EXPECT_FALSE(compilers_table()[0].combinable);
  // An empty name is a row and the link command as well.
  EXPECT_EQ(compilers_table()[1].key, "");
  EXPECT_EQ(link_command_spec(), "link it");
  set_link_command_spec(std::string(link_command_text));
}

TEST_F(SpecFileText, MultilibTablesAsTheSelectionReadsThem) {
  apply_spec_text("*multilib:\n. !mabi=ilp32;\nilp32 mabi=ilp32;\n\n"
                  "*multilib_matches:\nmabi=ilp32 mabi=ilp32;\n",
                  "ilp32.specs", false, true);
  EXPECT_EQ(text("multilib"), ". !mabi=ilp32;\nilp32 mabi=ilp32;");
  EXPECT_EQ(text("multilib_matches"), "mabi=ilp32 mabi=ilp32;");
}

TEST_F(SpecFileText, DirectivesAreDefinitionsInMainFiles) {
  EXPECT_EXIT(apply_spec_text("%rename lib x\n", "specs", true, false),
              ::testing::ExitedWithCode(1),
              "fatal error: specs file malformed after 13 characters");
}

} // namespace
} // namespace velk
