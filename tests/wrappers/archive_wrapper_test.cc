#include "wrappers/archive_wrapper.h"

#include "tests/scratch_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace velk::wrappers {
namespace {

TEST(DirList, FromStringAddsSlashesAndMakesEmptyPiecesTheCurrentDirectory) {
  dir_list list;
  dirs_append(list, "/first/");
  dirs_from_string(":/a:/b/::c", list);
  dirs_prepend(list, "/front/");
  EXPECT_EQ(list.dirs, (std::vector<std::string>{"/front/", "/first/", "./",
                                                 "/a/", "/b/", "./", "c/"}));
  dir_list unset;
  ::unsetenv("VELK_WRAPPERS_TEST_UNSET");
  dirs_from_env("VELK_WRAPPERS_TEST_UNSET", unset);
  EXPECT_TRUE(unset.dirs.empty());
}

class FindInDirs : public test::scratch_dir_test {
protected:
  void SetUp() override {
    scratch_dir_test::SetUp();
    for (const char* d : {"/one", "/two", "/three", "/one/tool"})
      mkdir((dir_ + d).c_str(), 0755);
    write(dir_ + "/two/tool", 0644);   // not executable
    write(dir_ + "/three/tool", 0755); // the one to find
    write(dir_ + "/two/data", 0644);
  }
  static void write(const std::string& path, mode_t mode) {
    std::ofstream(path).close();
    chmod(path.c_str(), mode);
  }
};

TEST_F(FindInDirs, SkipsDirectoriesAndFilesWithoutTheAccessAsked) {
  dir_list list;
  for (const char* d : {"/missing/", "/one/", "/two/", "/three/"})
    dirs_append(list, dir_ + d);
  EXPECT_EQ(find_in_dirs(list, "tool", X_OK), dir_ + "/three/tool");
  EXPECT_EQ(find_in_dirs(list, "tool", R_OK), dir_ + "/two/tool");
  EXPECT_EQ(find_in_dirs(list, "data", R_OK), dir_ + "/two/data");
  EXPECT_EQ(find_in_dirs(list, "nothing", R_OK), std::nullopt);
  EXPECT_EQ(find_in_dirs(dir_list{}, "tool", R_OK), std::nullopt);
  // An absolute name is only checked for access.
  EXPECT_EQ(find_in_dirs(dir_list{}, dir_ + "/two/data", R_OK),
            dir_ + "/two/data");
  EXPECT_EQ(find_in_dirs(list, dir_ + "/two/data", X_OK), std::nullopt);
}

TEST(TakePrefixOption, TakesTheFirstOnlyAndEndsTheDirectoryInASlash) {
  struct row {
    std::vector<std::string> args;
    std::optional<std::string> dir;
    std::vector<std::string> rest;
    bool missing;
  };
  const row rows[] = {
      {{"velk-ar", "rcs", "x.a"},
       std::nullopt,
       {"velk-ar", "rcs", "x.a"},
       false},
      {{"velk-ar", "-Bdir", "t"}, "dir/", {"velk-ar", "t"}, false},
      {{"velk-ar", "-Bdir/", "t"}, "dir/", {"velk-ar", "t"}, false},
      {{"velk-ar", "t", "-B", "d", "-Be"},
       "d/",
       {"velk-ar", "t", "-Be"},
       false},
      {{"velk-ar", "-B", ""}, "./", {"velk-ar"}, false},
      {{"velk-ar", "-B", "-B", "x"}, "-B/", {"velk-ar", "x"}, false},
      {{"velk-ar", "x", "-B"}, std::nullopt, {"velk-ar", "x", "-B"}, true},
      // The program's own name is never the option.
      {{"-Bodd", "t"}, std::nullopt, {"-Bodd", "t"}, false},
  };
  for (const row& r : rows) {
    std::vector<std::string> args = r.args;
    bool missing = true;
    EXPECT_EQ(take_prefix_option(args, missing), r.dir) << r.args[1];
    EXPECT_EQ(args, r.rest) << r.args[1];
    EXPECT_EQ(missing, r.missing) << r.args[1];
  }
}

} // namespace
} // namespace velk::wrappers
