#include "support/temp_names.h"
#include "tests/scratch_dir.h"

#include "support/temp_files.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace velk {
namespace {

class TempNames : public test::scratch_dir_test {
protected:
};

TEST_F(TempNames, FilesAreNewPrivateAndNeverReused) {
  mode_t old = umask(022);
  std::set<std::string> seen;
  for (int i = 0; i < 2000; ++i) {
    std::optional<std::string> name = create_unique_file(dir_ + "/cc", ".s");
    ASSERT_TRUE(name);
    EXPECT_TRUE(seen.insert(*name).second) << *name;
    // Deleting the file does not free its name for a later call.
    if (i % 2 == 0)
      unlink(name->c_str());
    else {
      struct stat st;
      ASSERT_EQ(lstat(name->c_str(), &st), 0);
      EXPECT_TRUE(S_ISREG(st.st_mode));
      EXPECT_EQ(st.st_mode & 0777, 0600u);
      EXPECT_EQ(st.st_size, 0);
    }
    ASSERT_EQ(name->size(), dir_.size() + 3 + 6 + 2);
    EXPECT_EQ(name->substr(name->size() - 2), ".s");
  }
  umask(old);
}

TEST_F(TempNames, PlantedLinksAreNeverFollowed) {
  // An attacker who guesses a name plants a link there, dangling or to a
  // file of the victim's: creation fails and nothing is touched.
  std::string victim = dir_ + "/victim";
  {
    std::FILE* f = std::fopen(victim.c_str(), "w");
    std::fputs("data", f);
    std::fclose(f);
  }
  std::string dangling = dir_ + "/dangling", to_victim = dir_ + "/to-victim";
  ASSERT_EQ(symlink((dir_ + "/made").c_str(), dangling.c_str()), 0);
  ASSERT_EQ(symlink(victim.c_str(), to_victim.c_str()), 0);
  errno = 0;
  EXPECT_FALSE(create_new_file(dangling));
  EXPECT_EQ(errno, EEXIST);
  EXPECT_FALSE(create_new_file(to_victim));
  struct stat st;
  EXPECT_NE(stat((dir_ + "/made").c_str(), &st), 0);
  ASSERT_EQ(stat(victim.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 4);
  EXPECT_TRUE(create_new_file(dir_ + "/fresh"));
  EXPECT_FALSE(create_new_file(dir_ + "/fresh")); // never twice
}

TEST_F(TempNames, DirectoryComesFromTheEnvironmentInOrder) {
  std::string file = dir_ + "/plain";
  std::FILE* f = std::fopen(file.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  struct saved {
    const char* name;
    std::optional<std::string> value;
  } vars[] = {{"TMPDIR", {}}, {"TMP", {}}, {"TEMP", {}}};
  for (saved& v : vars)
    if (const char* old = std::getenv(v.name))
      v.value = old;
  auto set = [](const char* name, const char* value) {
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  };
  set("TMPDIR", file.c_str()); // a regular file: skipped
  set("TMP", (dir_ + "/missing").c_str());
  set("TEMP", dir_.c_str());
  EXPECT_EQ(find_temp_directory(), dir_ + "/");
  set("TEMP", nullptr);
  set("TMP", nullptr);
  EXPECT_EQ(find_temp_directory(), "/tmp//");
  set("TMPDIR", dir_.c_str());
  EXPECT_EQ(find_temp_directory(), dir_ + "/");
  for (saved& v : vars)
    set(v.name, v.value ? v.value->c_str() : nullptr);
}

TEST_F(TempNames, FailureAbortsWithoutLeavingListedFiles) {
  std::string listed = dir_ + "/cc1.s";
  std::fclose(std::fopen(listed.c_str(), "w"));
  // A suffix that names a missing directory: the file cannot be made.
  EXPECT_DEATH(
      {
        note_temp_file(listed, true, false);
        make_temp_name("/missing/x.s");
      },
      "^Cannot create temporary file in .*/: No such file or directory\n$");
  struct stat st;
  EXPECT_NE(stat(listed.c_str(), &st), 0);
}

TEST(TempDirectory, ErrorTextsNameUndocumentedNumbers) {
  EXPECT_EQ(error_text(ENOENT), "No such file or directory");
  EXPECT_EQ(error_text(99999), "undocumented error #99999");
}

} // namespace
} // namespace velk
