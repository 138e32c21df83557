#include "support/temp_files.h"
#include "tests/scratch_dir.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#if __has_include(<sys/sysmacros.h>)
#include <sys/sysmacros.h>
#endif
#include <unistd.h>

namespace velk {
namespace {

class TempFiles : public test::scratch_dir_test {
protected:
  std::string touch(const std::string& name) {
    std::string path = dir_ + "/" + name;
    std::ofstream(path) << "x";
    return path;
  }
  static bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
  }
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
  EXPECT_FALSE(list.contains("a"));
  // A forgotten name is listed again, once; so is a dropped one.
  list.note("a");
  list.note("a");
  list.note("c");
  list.drop("c");
  list.note("c");
  list.note("c");
  seen.clear();
  list.for_each([&](const std::string& n) { seen.push_back(n); });
  EXPECT_EQ(seen, (std::vector<std::string>{"c", "a"}));
  EXPECT_TRUE(list.contains("a"));
  EXPECT_TRUE(list.contains("c"));
}

TEST_F(TempFiles, DroppedNamesAreKeptAndMayReturn) {
  std::string report = touch("report.out");
  std::string scratch = touch("scratch.err");
  temp_file_list list;
  list.note(report);
  list.note(scratch);
  list.drop(report);
  EXPECT_FALSE(list.contains(report));
  list.remove_all();
  EXPECT_TRUE(exists(report));
  EXPECT_FALSE(exists(scratch));
  list.note(report); // listed again: deleted again
  list.remove_all();
  EXPECT_FALSE(exists(report));
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
  EXPECT_FALSE(exists(file));
  EXPECT_TRUE(exists(dir));
  EXPECT_TRUE(exists(fifo));
}

TEST_F(TempFiles, LinksAndDevicesAreLeftAlone) {
  // A link is judged as itself: neither it nor the regular file it points
  // to is deleted.
  std::string target = touch("target.o");
  std::string link = dir_ + "/out.o";
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  EXPECT_EQ(remove_if_regular(link.c_str()), 0);
  struct stat st;
  EXPECT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(exists(target));
  // A device node like /dev/null, made here (only root may).
  std::string device = dir_ + "/null";
  if (mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
    EXPECT_EQ(remove_if_regular(device.c_str()), 0);
    EXPECT_EQ(lstat(device.c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
  }
}

TEST_F(TempFiles, ExitRemovesWhatAnUnfinishedStepLeft) {
  // A fatal error in the middle of a compilation: its intermediate file and
  // its half-written object go; the object of an earlier input stays.
  std::string earlier = touch("earlier.o");
  note_temp_file(earlier, false, true);
  forget_failure_files();
  std::string partial = touch("partial.o");
  std::string temp = touch("cc1.s");
  note_temp_file(partial, false, true);
  note_temp_file(temp, true, false);
  remove_files_at_exit();
  EXPECT_TRUE(exists(earlier));
  EXPECT_FALSE(exists(partial));
  EXPECT_FALSE(exists(temp));
  EXPECT_TRUE(failure_list().empty());
  EXPECT_TRUE(cleanup_list().empty());
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
