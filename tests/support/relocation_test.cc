#include "support/relocation.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velk {
namespace {

constexpr const char* bin = "/usr/local/brae13/bin/";
constexpr const char* exec = "/usr/local/brae13/lib/velk/";
constexpr const char* libexec = "/usr/local/brae13/libexec/velk/";

TEST(SplitDirectories, ComponentsKeepTheirSlashes) {
  EXPECT_EQ(split_directories("/a//b/c"),
            (std::vector<std::string_view>{"/", "a//", "b/", "c"}));
  EXPECT_EQ(split_directories("rel/x/"),
            (std::vector<std::string_view>{"rel/", "x/"}));
  EXPECT_TRUE(split_directories("").empty());
}

TEST(RelocatePrefix, Cases) {
  struct {
    const char* program;
    const char* target;
    std::optional<std::string> expected;
  } cases[] = {
      {"/opt/x/bin/velk++", exec, "/opt/x/bin/../lib/velk/"},
      {"/opt/x/bin/velk++", libexec, "/opt/x/bin/../libexec/velk/"},
      {"/opt/velk++", exec, "/opt/../lib/velk/"},
      // Running from the configured place relocates nothing.
      {"/usr/local/brae13/bin/velk++", exec, std::nullopt},
      // A target that shares no directory with the bin prefix.
      {"/opt/x/bin/velk++", "relative/dir/", std::nullopt},
      {"/opt/x//bin/velk++", exec, "/opt/x//bin/../lib/velk/"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(relocate_prefix(c.program, bin, c.target, false), c.expected)
        << c.program << " -> " << c.target;
}

class RelocateOnDisk : public ::testing::Test {
protected:
  void SetUp() override {
    char pattern[] = "/tmp/velk-reloc-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    ASSERT_EQ(mkdir((root_ + "/bin").c_str(), 0755), 0);
    program_ = root_ + "/bin/velk++";
    std::ofstream(program_) << "#!/bin/sh\n";
    ASSERT_EQ(chmod(program_.c_str(), 0755), 0);
    old_path_ = std::getenv("PATH") ? std::getenv("PATH") : "";
  }
  void TearDown() override {
    setenv("PATH", old_path_.c_str(), 1);
    std::string cmd = "rm -rf '" + root_ + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }
  std::string root_, program_, old_path_;
};

TEST_F(RelocateOnDisk, BareNameIsFoundOnPath) {
  setenv("PATH", ("/nonexistent::" + root_ + "/bin").c_str(), 1);
  EXPECT_EQ(relocate_prefix("velk++", bin, exec, false),
            root_ + "/bin/../lib/velk/");
  // Not on PATH and no directory: nothing to relocate.
  setenv("PATH", "/nonexistent", 1);
  EXPECT_EQ(relocate_prefix("velk++", bin, exec, false), std::nullopt);
}

TEST_F(RelocateOnDisk, LongPathIsSearchedInFull) {
  std::string path;
  for (int i = 0; i < 5000; ++i)
    path += "/nonexistent/" + std::string(200, 'p') + std::to_string(i) + ":";
  path += root_ + "/bin";
  setenv("PATH", path.c_str(), 1);
  EXPECT_EQ(relocate_prefix("velk++", bin, exec, false),
            root_ + "/bin/../lib/velk/");
}

TEST_F(RelocateOnDisk, SymbolicLinksResolvedOnRequest) {
  std::string other = root_ + "/elsewhere";
  ASSERT_EQ(mkdir(other.c_str(), 0755), 0);
  std::string link_path = other + "/velk++";
  ASSERT_EQ(symlink(program_.c_str(), link_path.c_str()), 0);
  // realpath may resolve a symbolic link in the temporary directory too.
  char* real_root = realpath(root_.c_str(), nullptr);
  ASSERT_NE(real_root, nullptr);
  std::string resolved_root = real_root;
  std::free(real_root);
  EXPECT_EQ(relocate_prefix(link_path, bin, exec, true),
            resolved_root + "/bin/../lib/velk/");
  EXPECT_EQ(relocate_prefix(link_path, bin, exec, false),
            other + "/../lib/velk/");
}

} // namespace
} // namespace velk
