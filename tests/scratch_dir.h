// A test fixture with a fresh directory of its own under /tmp, made before
// each test and removed with all it holds after it.
#pragma once

#include <cstdlib>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string>

namespace velk::test {

class scratch_dir_test : public ::testing::Test {
protected:
  void SetUp() override {
    char pattern[] = "/tmp/velk-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::string cmd = "rm -rf '" + dir_ + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }
  std::string dir_;
};

} // namespace velk::test
