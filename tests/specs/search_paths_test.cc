#include "specs/search_paths.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velk {
namespace {

std::vector<std::string> prefixes_of(const search_path_list& list) {
  std::vector<std::string> out;
  for (const auto& e : list.entries())
    out.push_back(e.prefix);
  return out;
}

std::vector<std::string> candidates(const search_path_list& list,
                                    bool with_multilib) {
  std::vector<std::string> out;
  walk_search_paths(list, with_multilib,
                    [&](const std::string& d) -> std::optional<std::string> {
                      out.push_back(d);
                      return std::nullopt;
                    });
  return out;
}

class SearchPaths : public ::testing::Test {
protected:
  void SetUp() override {
    char pattern[] = "/tmp/velk-search-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    saved_ = prefixes();
    selected_multilib() = {};
    unsetenv("VELK_ROOT");
  }
  void TearDown() override {
    prefixes() = saved_;
    selected_multilib() = {};
    unsetenv("VELK_ROOT");
    std::string cmd = "chmod -R u+rwx '" + root_ + "'; rm -rf '" + root_ + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }
  std::string mkdirs(const std::string& rel) {
    std::string path = root_;
    std::size_t start = 0;
    while (start < rel.size()) {
      std::size_t slash = rel.find('/', start);
      path += "/" + rel.substr(start, slash - start);
      mkdir(path.c_str(), 0755);
      if (slash == std::string::npos)
        break;
      start = slash + 1;
    }
    return path;
  }
  std::string touch(const std::string& rel, mode_t mode) {
    std::string path = root_ + "/" + rel;
    std::ofstream(path) << "x";
    chmod(path.c_str(), mode);
    return path;
  }
  std::string root_;
  prefix_settings saved_;
};

TEST_F(SearchPaths, BPrefixesComeFirstInCommandLineOrder) {
  search_path_list list("exec");
  add_search_prefix(list, "/std/one/", "", 1, 1, false);
  add_search_prefix(list, "/tmp/x/", "", 0, 0, false);
  add_search_prefix(list, "/std/two/", "", 1, 2, false);
  add_search_prefix(list, "/tmp/y/", "", 0, 0, false);
  EXPECT_EQ(prefixes_of(list),
            (std::vector<std::string>{"/tmp/x/", "/tmp/y/", "/std/one/",
                                      "/std/two/"}));
  EXPECT_EQ(list.max_prefix_length(), 9u);
}

TEST_F(SearchPaths, KeyRuleSubstitutesTheStandardPrefix) {
  EXPECT_EQ(normalize_prefix("/usr/local/brae13/lib/velk/", "VELK"),
            "/usr/local/brae13/lib/velk/");
  setenv("VELK_ROOT", "/alt", 1);
  EXPECT_EQ(normalize_prefix("/usr/local/brae13/lib/velk/", "VELK"),
            "/alt/lib/velk/");
  EXPECT_EQ(normalize_prefix("/usr/local/brae13", "VELK"), "/alt");
  // Only the whole directory name counts, and only with a key.
  EXPECT_EQ(normalize_prefix("/usr/local/brae13x/lib/", "VELK"),
            "/usr/local/brae13x/lib/");
  EXPECT_EQ(normalize_prefix("/usr/local/brae13/lib/", ""),
            "/usr/local/brae13/lib/");
  setenv("VELK_SEARCH_TEST_KEY", "/dollar", 1);
  EXPECT_EQ(normalize_prefix("/usr/local/brae13/bin/", "$VELK_SEARCH_TEST_KEY"),
            "/dollar/bin/");
  unsetenv("VELK_SEARCH_TEST_KEY");
  EXPECT_EQ(normalize_prefix("/usr/local/brae13/bin/", "$VELK_SEARCH_TEST_KEY"),
            "/usr/local/brae13/bin/");
}

TEST_F(SearchPaths, DotDotCollapsesOnlyWhereTheDirectoryCannotBeSearched) {
  std::string deep = "lib/velk/aarch64-portbld-freebsd14.3/13.3.0";
  std::string text = root_ + "/" + deep + "/../../../";
  // None of the directories exists: collapse all the way.
  EXPECT_EQ(normalize_prefix(text, ""), root_ + "/lib/");
  // All exist: kept as written.
  mkdirs(deep);
  EXPECT_EQ(normalize_prefix(text, ""), text);
  // Only the first two exist: the first "/../" stays, so does the rest.
  EXPECT_EQ(normalize_prefix(root_ + "/lib/velk/gone/../x/", ""),
            root_ + "/lib/velk/x/");
  EXPECT_EQ(normalize_prefix("/../x/", ""), "/../x/");
  EXPECT_EQ(normalize_prefix("nowhere-a/./../b/", ""), "b/");
  EXPECT_EQ(normalize_prefix("./../b/", ""), "./../b/");
}

TEST_F(SearchPaths, CandidateOrderFollowsTheSuffixRules) {
  search_path_list list("exec");
  add_search_prefix(list, "/p0/", "", 1, 0, false);
  add_search_prefix(list, "/p1/", "", 1, 1, false);
  add_search_prefix(list, "/p2/", "", 1, 2, false);
  add_search_prefix(list, "/os/", "", 1, 0, true);
  const std::string m = "aarch64-portbld-freebsd14.3/13.3.0/";
  const std::string j = "aarch64-portbld-freebsd14.3/";
  EXPECT_EQ(
      candidates(list, true),
      (std::vector<std::string>{"/p0/" + m, "/p0/", "/p1/" + m, "/p2/" + m,
                                "/p2/" + j, "/os/" + m, "/os/"}));
  // With multilib directories: a first pass with them, then the plain one.
  selected_multilib() = {"ilp32", "../lib32", std::nullopt};
  EXPECT_EQ(candidates(list, true),
            (std::vector<std::string>{
                "/p0/" + m + "ilp32/", "/p0/ilp32/", "/p1/" + m + "ilp32/",
                "/p2/" + m + "ilp32/", "/p2/" + j + "ilp32/",
                "/os/" + m + "ilp32/", "/os/../lib32/",
                // second pass
                "/p0/" + m, "/p0/", "/p1/" + m, "/p2/" + m, "/p2/" + j,
                "/os/" + m, "/os/"}));
}

TEST_F(SearchPaths, FindProgramPrefersTheConfiguredAssembler) {
  std::string bin = mkdirs("exec/aarch64-portbld-freebsd14.3/13.3.0");
  touch("exec/aarch64-portbld-freebsd14.3/13.3.0/as", 0755);
  touch("exec/aarch64-portbld-freebsd14.3/13.3.0/tarn1", 0644); // not +x
  mkdirs("exec/aarch64-portbld-freebsd14.3/13.3.0/sheaf2");     // a directory
  search_lists& lists = search_paths();
  lists.exec.clear();
  add_search_prefix(lists.exec, root_ + "/exec/", "", 1, 0, false);
  prefixes().default_assembler = root_ + "/configured-as";
  EXPECT_EQ(find_program("as"), bin + "/as");
  touch("configured-as", 0755);
  EXPECT_EQ(find_program("as"), root_ + "/configured-as");
  EXPECT_EQ(find_program("tarn1"), std::nullopt);
  EXPECT_EQ(find_program("sheaf2"), std::nullopt);
  EXPECT_EQ(find_file_in(lists.exec, "tarn1", access_mode::read, false),
            bin + "/tarn1");
  lists.exec.clear();
}

TEST_F(SearchPaths, SystemPrefixesAreAbsoluteAndUnderTheSysroot) {
  search_path_list list("startfile");
  prefixes().sysroot = root_ + "/root/";
  add_system_prefix(list, "/usr/lib/", "BINUTILS");
  EXPECT_EQ(prefixes_of(list),
            (std::vector<std::string>{root_ + "/root/usr/lib/"}));
  EXPECT_TRUE(list.entries()[0].uses_os_multilib);
  EXPECT_EXIT(add_system_prefix(list, "usr/lib/", "BINUTILS"),
              ::testing::ExitedWithCode(1),
              "fatal error: system path 'usr/lib/' is not absolute");
}

TEST_F(SearchPaths, UsableDirectoriesAndSearchPathText) {
  EXPECT_TRUE(is_usable_directory(root_, false));
  EXPECT_TRUE(is_usable_directory("/usr/lib", false));
  for (const char* d : {"/lib", "/lib/", "/usr/lib", "/usr/lib//"})
    EXPECT_FALSE(is_usable_directory(d, true)) << d;
  EXPECT_FALSE(is_usable_directory(root_ + "/missing", false));
  EXPECT_TRUE(is_usable_directory(root_ + "/", false));
  EXPECT_FALSE(is_usable_directory(touch("plain", 0644), false));
  // Names of every length around the room kept for short names, with and
  // without a trailing "/": the same directory each time.
  for (std::string dir = root_; dir.size() < 300; dir += "/.") {
    EXPECT_TRUE(is_usable_directory(dir, false)) << dir.size();
    EXPECT_TRUE(is_usable_directory(dir + "/", false)) << dir.size();
    EXPECT_FALSE(is_usable_directory(dir + "/missing", false)) << dir.size();
  }

  search_path_list list("startfile");
  mkdirs("a");
  add_search_prefix(list, root_ + "/a/", "", 1, 0, false);
  add_search_prefix(list, root_ + "/b/", "", 1, 1, false);
  EXPECT_EQ(search_path_text(list, "libraries", true, false),
            "libraries=" + root_ + "/a/");
  EXPECT_EQ(search_path_text(list, "libraries", false, false),
            "libraries=" + root_ +
                "/a/aarch64-portbld-freebsd14.3/13.3.0/:" + root_ +
                "/a/:" + root_ + "/b/aarch64-portbld-freebsd14.3/13.3.0/");
}

TEST_F(SearchPaths, ManyLongPrefixes) {
  search_path_list list("exec");
  std::string long_dir = "/" + std::string(5000, 'd') + "/";
  for (int i = 0; i < 3000; ++i)
    add_search_prefix(list, long_dir + std::to_string(i) + "/", "", 1, 0,
                      false);
  EXPECT_EQ(list.entries().size(), 3000u);
  EXPECT_EQ(find_file_in(list, "tarn1", access_mode::execute, false),
            std::nullopt);
}

} // namespace
} // namespace velk
