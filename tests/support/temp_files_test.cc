#include "support/temp_files.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velk {
namespace {

class TempFiles : public ::testing::Test {
protected:
  void SetUp() override {
    char pattern[] = "/tmp/velk-temp-files-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::string cmd = "rm -rf '" + dir_ + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }
  std::string touch(const std::string& name) {
    std::string path = dir_ + "/" + name;
    std::ofstream(path) << "x";
    return path;
  }
  static bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
  }
  std::string dir_;
};

TEST_F(TempFiles, NamesAreListedOnceNewestFirst) {
  temp_file_list list;
  list.note("a");
  list.note("b");
  list.note("a");
  std::vector<std::string> seen;
  list.for_each([&](const std::string& n) { seen.push_back(n); });
  EXPECT_EQ(seen, (std::vector<std::string>{"b", "a"}));
  list.forget();
  EXPECT_TRUE(list.empty());
}

TEST_F(TempFiles, OnlyRegularFilesAreRemoved) {
  std::string file = touch("f.o");
  std::string dir = dir_ + "/sub";
  ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
  std::string fifo = dir_ + "/pipe";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  EXPECT_EQ(remove_if_regular(file.c_str()), 0);
  EXPECT_EQ(remove_if_regular(dir.c_str()), 0);
  EXPECT_EQ(remove_if_regular(fifo.c_str()), 0);
  EXPECT_EQ(remove_if_regular((dir_ + "/missing").c_str()), 0);
  EXPECT_EQ(remove_if_regular("/dev/null"), 0);
  EXPECT_FALSE(exists(file));
  EXPECT_TRUE(exists(dir));
  EXPECT_TRUE(exists(fifo));
}

TEST_F(TempFiles, FailureFilesSurviveForgetting) {
  std::string kept = touch("kept.o");
  std::string failed = touch("failed.o");
  std::string temp = touch("tarn1xx.s");
  note_temp_file(kept, false, true);
  forget_failure_files(); // its compilation succeeded
  note_temp_file(failed, false, true);
  note_temp_file(temp, true, false);
  remove_failure_files();
  remove_cleanup_files();
  EXPECT_TRUE(exists(kept));
  EXPECT_FALSE(exists(failed));
  EXPECT_FALSE(exists(temp));
  EXPECT_TRUE(cleanup_list().empty());
  EXPECT_FALSE(failure_list().empty()); // kept until forgotten
  forget_failure_files();
}

} // namespace
} // namespace velk
