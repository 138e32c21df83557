// The make jobserver named by MAKEFLAGS: usable descriptors and FIFOs make
// the probe active; anything unusable drops the "--jobserver-auth=" word.
#include "options/jobserver.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace velk {
namespace {

class Jobserver : public ::testing::Test {
protected:
  void SetUp() override {
    const char* old = std::getenv("MAKEFLAGS");
    had_makeflags_ = old != nullptr;
    if (had_makeflags_)
      saved_ = old;
    unsetenv("MAKEFLAGS");
  }
  void TearDown() override {
    if (had_makeflags_)
      setenv("MAKEFLAGS", saved_.c_str(), 1);
    else
      unsetenv("MAKEFLAGS");
  }
  static jobserver_info probe(const std::string& makeflags) {
    setenv("MAKEFLAGS", makeflags.c_str(), 1);
    return jobserver_probe();
  }

private:
  bool had_makeflags_ = false;
  std::string saved_;
};

// A descriptor number that is certainly closed.
int closed_descriptor() {
  int fd = open("/dev/null", O_RDONLY);
  close(fd);
  return fd;
}

TEST_F(Jobserver, NoneAtAll) {
  jobserver_info info = jobserver_probe();
  EXPECT_FALSE(info.is_active);
  EXPECT_EQ(info.skipped_makeflags, "");
  info = probe("-j4 -k");
  EXPECT_FALSE(info.is_active);
  EXPECT_EQ(info.skipped_makeflags, "");
}

TEST_F(Jobserver, OpenDescriptors) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const jobserver_info info =
      probe("-j4 --jobserver-auth=" + std::to_string(fds[0]) + "," +
            std::to_string(fds[1]) + " -k");
  EXPECT_TRUE(info.is_active);
  EXPECT_EQ(info.rfd, fds[0]);
  EXPECT_EQ(info.wfd, fds[1]);
  EXPECT_EQ(info.skipped_makeflags, "");
  close(fds[0]);
  close(fds[1]);
}

TEST_F(Jobserver, UnusableDescriptorsDropExactlyTheirWord) {
  const std::string closed = std::to_string(closed_descriptor());
  struct {
    std::string makeflags;
    std::string replacement;
  } cases[] = {
      {"-j4 --jobserver-auth=" + closed + "," + closed + " w",
       "MAKEFLAGS=-j4  w"},
      {"--jobserver-auth=" + closed + "," + closed, "MAKEFLAGS="},
      {"-j --jobserver-auth=0,1", "MAKEFLAGS=-j "},
      {"-j --jobserver-auth=-3,4 x", "MAKEFLAGS=-j  x"},
      {"-j --jobserver-auth=abc", "MAKEFLAGS=-j "},
      {"-j --jobserver-auth=99999999999,1", "MAKEFLAGS=-j "},
      {"--jobserver-auth=1,2 --jobserver-auth=" + closed + "," + closed,
       "MAKEFLAGS=--jobserver-auth=1,2 "},
  };
  for (const auto& c : cases) {
    const jobserver_info info = probe(c.makeflags);
    EXPECT_FALSE(info.is_active) << c.makeflags;
    EXPECT_EQ(info.skipped_makeflags, c.replacement) << c.makeflags;
  }
}

TEST_F(Jobserver, Fifo) {
  char dir_template[] = "/tmp/velk-jobserver-XXXXXX";
  ASSERT_NE(mkdtemp(dir_template), nullptr);
  const std::string fifo = std::string(dir_template) + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);

  jobserver_info info = probe("-j8 --jobserver-auth=fifo:" + fifo + " y");
  EXPECT_TRUE(info.is_active);
  EXPECT_EQ(info.pipe_path, fifo);
  EXPECT_EQ(info.skipped_makeflags, "");

  // A FIFO that is gone, or a path that is no FIFO, cannot be shared.
  const std::string missing = std::string(dir_template) + "/missing";
  info = probe("-j8 --jobserver-auth=fifo:" + missing + " y");
  EXPECT_FALSE(info.is_active);
  EXPECT_EQ(info.skipped_makeflags, "MAKEFLAGS=-j8  y");
  info = probe("--jobserver-auth=fifo:" + std::string(dir_template));
  EXPECT_FALSE(info.is_active);
  EXPECT_EQ(info.skipped_makeflags, "MAKEFLAGS=");
  info = probe("--jobserver-auth=fifo:");
  EXPECT_FALSE(info.is_active);

  unlink(fifo.c_str());
  rmdir(dir_template);
}

} // namespace
} // namespace velk
