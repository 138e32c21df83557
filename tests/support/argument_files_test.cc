#include "support/argument_files.h"
#include "tests/scratch_dir.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velk {
namespace {

using args = std::vector<std::string>;

struct split_case {
  const char* name;
  std::string text;
  args expected;
};

class SplitArguments : public ::testing::TestWithParam<split_case> {};

TEST_P(SplitArguments, GivesTheArguments) {
  const split_case& c = GetParam();
  EXPECT_EQ(split_arguments(c.text), c.expected) << c.name;
  // What split_arguments returns reads back through write_arguments.
  EXPECT_EQ(split_arguments(format_arguments(c.expected)), c.expected);
}

using namespace std::string_literals;

INSTANTIATE_TEST_SUITE_P(
    Table, SplitArguments,
    ::testing::Values(
        split_case{"words", "-c a.cc", {"-c", "a.cc"}},
        split_case{
            "every_white_space", " \t-a\n\v-b\f\r-c \n", {"-a", "-b", "-c"}},
        split_case{"empty_text", "", {""}},
        split_case{"single_quoted_blank", "'a b' c", {"a b", "c"}},
        split_case{
            "double_quoted_escaped_quote", R"("say \"hi\"")", {R"(say "hi")"}},
        split_case{"escaped_blank", R"(a\ b)", {"a b"}},
        split_case{"other_quote_is_ordinary", R"('"' "'")", {"\"", "'"}},
        split_case{"backslash_inside_single_quotes", R"('a\'b')", {"a'b"}},
        split_case{"parts_join", R"(-DX='1 2'"3"4)", {"-DX=1 234"}},
        split_case{"empty_quotes", R"('' "" x)", {"", "", "x"}},
        split_case{"empty_quotes_joined", R"(a'')", {"a"}},
        split_case{"escaped_backslash", R"(a\\b)", {R"(a\b)"}},
        split_case{"trailing_backslash_dropped", "a\\", {"a"}},
        split_case{"unterminated_quote_runs_to_end", "'a b", {"a b"}},
        split_case{"no_final_newline", "-a\n-b", {"-a", "-b"}},
        split_case{"blank_lines", "\n\n-a\n\n\n-b\n\n", {"-a", "-b"}},
        split_case{"escaped_newline", "a\\\nb", {"a\nb"}},
        split_case{"nul_ends_the_text", "-a \0-b"s, {"-a"}}),
    [](const ::testing::TestParamInfo<split_case>& info) {
      return std::string(info.param.name);
    });

TEST(WriteArguments, EscapesAndWritesOnePerLine) {
  args a = {"plain", "a b", "q'\"\\", ""};
  EXPECT_EQ(format_arguments(a), "plain\na\\ b\nq\\'\\\"\\\\\n\"\"\n");
  EXPECT_EQ(write_arguments(a, nullptr), 1);
  std::FILE* full = std::fopen("/dev/full", "w");
  if (full != nullptr) {
    std::setvbuf(full, nullptr, _IONBF, 0);
    EXPECT_EQ(write_arguments(a, full), 1);
    std::fclose(full);
  }
}

TEST(SavedResponseFileName, FollowsTheDumpNames) {
  EXPECT_EQ(saved_response_file_name("", "", false, 0), "a.args.0");
  EXPECT_EQ(saved_response_file_name("out/hello", "a.", true, 3),
            "out/hello.args.3");
  EXPECT_EQ(saved_response_file_name("", "a.", true, 0), "a.args.0");
  EXPECT_EQ(saved_response_file_name("", "a-", true, 1), "a-args.1");
  EXPECT_EQ(saved_response_file_name("", "dir/", false, 2), "dir/.args.2");
}

class ExpandResponseFiles : public test::scratch_dir_test {
protected:
  std::string file(const std::string& name, const std::string& content) {
    std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }
  static std::optional<args> expand(const args& in) {
    std::vector<const char*> ptrs;
    for (const std::string& a : in)
      ptrs.push_back(a.c_str());
    return expand_response_files(ptrs);
  }
};

TEST_F(ExpandResponseFiles, ReplacesFilesInPlaceAndRecurses) {
  std::string inner = file("inner", "-O2 'x y'\n");
  std::string outer = file("outer", "-c @" + inner + " -g");
  std::string blank = file("blank", "\n\n \t\n");
  std::string empty = file("empty", "");
  std::optional<args> got =
      expand({"velk++", "-a", "@" + outer, "@" + blank, "@" + empty, "-z"});
  ASSERT_TRUE(got);
  EXPECT_EQ(*got, (args{"velk++", "-a", "-c", "-O2", "x y", "-g", "-z"}));
}

TEST_F(ExpandResponseFiles, LeavesUnreadableFilesLiteral) {
  std::string missing = "@" + dir_ + "/missing";
  EXPECT_FALSE(expand({"velk++", missing, "-c"})); // nothing was read
  std::string one = file("one", "-g");
  std::optional<args> got = expand({"velk++", missing, "@" + one, "@"});
  ASSERT_TRUE(got);
  EXPECT_EQ(*got, (args{"velk++", missing, "-g", "@"}));
  // Reading stops at the first NUL byte, also of an endless file.
  std::optional<args> zero = expand({"velk++", "@/dev/zero", "-c"});
  ASSERT_TRUE(zero);
  EXPECT_EQ(*zero, (args{"velk++", "-c"}));
  // argv[0] is never expanded.
  EXPECT_FALSE(expand({"@" + one}));
}

TEST_F(ExpandResponseFiles, DirectoryIsAnError) {
  EXPECT_EXIT(expand({"velk++", "@" + dir_}), ::testing::ExitedWithCode(1),
              "^velk\\+\\+: error: @-file refers to a directory\n$");
}

TEST_F(ExpandResponseFiles, SelfInclusionStopsAfterTheLimit) {
  std::string self = dir_ + "/self";
  file("self", "-x @" + self);
  EXPECT_EXIT(expand({"/bin/velk++", "@" + self}), ::testing::ExitedWithCode(1),
              "^/bin/velk\\+\\+: error: too many @-files encountered\n$");
  // A chain of exactly the limit is fine.
  for (int i = 0; i < max_response_files; ++i)
    file("c" + std::to_string(i), i + 1 < max_response_files
                                      ? "-" + std::to_string(i) + " @" + dir_ +
                                            "/c" + std::to_string(i + 1)
                                      : std::string("-end"));
  std::optional<args> got = expand({"velk++", "@" + dir_ + "/c0"});
  ASSERT_TRUE(got);
  EXPECT_EQ(got->size(), static_cast<std::size_t>(max_response_files) + 1);
  EXPECT_EQ(got->back(), "-end");
  file("c" + std::to_string(max_response_files - 1), "@" + dir_ + "/c0");
  EXPECT_EXIT(expand({"velk++", "@" + dir_ + "/c0"}),
              ::testing::ExitedWithCode(1), "too many @-files encountered");
}

TEST_F(ExpandResponseFiles, TimeIsLinearInTheNumberOfArguments) {
  // 100,000 arguments in one file and, ahead of them, 1,000 small files:
  // an expansion that inserted into the middle of a vector would move the
  // big tail once per small file.
  std::string big;
  for (int i = 0; i < 100000; ++i)
    big += "-DNAME" + std::to_string(i) + "=\"some value\"\n";
  std::string small = file("small", "-g");
  args in = {"velk++"};
  for (int i = 0; i < 1000; ++i)
    in.push_back("@" + small);
  in.push_back("@" + file("big", big));
  auto start = std::chrono::steady_clock::now();
  std::optional<args> got = expand(in);
  auto elapsed = std::chrono::steady_clock::now() - start;
  ASSERT_TRUE(got);
  EXPECT_EQ(got->size(), 101001u);
  EXPECT_EQ((*got)[1001], "-DNAME0=some value");
  EXPECT_LT(elapsed, std::chrono::seconds(10)); // generous: shared machines
}

TEST_F(ExpandResponseFiles, ResponseFileReadsBack) {
  args a = {"-L/a b", "", "-l'q'"};
  std::string path = dir_ + "/rsp";
  EXPECT_EQ(write_response_file(path, a), response_file_failure::none);
  std::optional<args> got = expand({"velk++", "@" + path});
  ASSERT_TRUE(got);
  EXPECT_EQ(*got, (args{"velk++", "-L/a b", "", "-l'q'"}));
  EXPECT_EQ(write_response_file(dir_ + "/no/such/dir", a),
            response_file_failure::open);
}

} // namespace
} // namespace velk
