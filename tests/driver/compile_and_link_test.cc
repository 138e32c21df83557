// The comparison of the two final instruction dumps of -fcompare-debug.
#include "driver/compile_and_link.h"

#include "diagnostics/diagnostic.h"
#include "tests/scratch_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace velk {
namespace {

class CompareDumps : public test::scratch_dir_test {
protected:
  void SetUp() override {
    set_program_name("velk++");
    engine_init(global_engine, 0);
    scratch_dir_test::SetUp();
  }
  std::string write(const std::string& name, const std::string& content) {
    std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }
  // The status and what was reported.
  std::pair<int, std::string> compare(const std::string& a,
                                      const std::string& b) {
    testing::internal::CaptureStderr();
    int status = compare_dump_files("x.c", a, b);
    return {status, testing::internal::GetCapturedStderr()};
  }
};

TEST_F(CompareDumps, EqualDifferentAndMissing) {
  const std::string big(200000, 'x');
  std::string changed = big;
  changed[150000] = 'y';
  const std::string a = write("a", big), b = write("b", big),
                    c = write("c", changed), d = write("d", big + "z"),
                    e1 = write("e1", ""), e2 = write("e2", "");
  EXPECT_EQ(compare(a, b), std::make_pair(0, std::string()));
  EXPECT_EQ(compare(e1, e2), std::make_pair(0, std::string()));
  auto [status, err] = compare(a, c);
  EXPECT_EQ(status, 1);
  EXPECT_NE(err.find("x.c: "), std::string::npos) << err;
  EXPECT_NE(err.find("-fcompare-debug"), std::string::npos) << err;
  EXPECT_EQ(err.find("(length)"), std::string::npos) << err;
  std::tie(status, err) = compare(a, d);
  EXPECT_EQ(status, 1);
  EXPECT_NE(err.find("failure (length)"), std::string::npos) << err;
  // A missing file or a directory has no length.
  for (const std::string& other : {dir_ + "/none", dir_}) {
    std::tie(status, err) = compare(a, other);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(err, "velk++: error: x.c: could not determine length of "
                   "compare-debug file " +
                       other + "\n");
  }
}

TEST_F(CompareDumps, UnreadableFile) {
  if (geteuid() == 0)
    GTEST_SKIP() << "root reads every file";
  const std::string a = write("a", "same"), b = write("b", "same");
  ASSERT_EQ(chmod(b.c_str(), 0), 0);
  auto [status, err] = compare(a, b);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(err, "velk++: error: x.c: could not open compare-debug file " + b +
                     "\n");
}

} // namespace
} // namespace velk
