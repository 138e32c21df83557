#include "support/pipeline.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace velk {
namespace {

using args = std::vector<std::string>;

class Pipeline : public ::testing::Test {
protected:
  void SetUp() override {
    char pattern[] = "/tmp/velk-pipeline-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::string cmd = "rm -rf '" + dir_ + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  static std::string read(const std::string& file) {
    std::ifstream in(file);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::vector<std::string> entries() const {
    std::vector<std::string> names;
    std::string cmd = "ls -A '" + dir_ + "'";
    std::FILE* ls = popen(cmd.c_str(), "r");
    char line[512];
    while (ls && std::fgets(line, sizeof line, ls))
      names.emplace_back(line);
    if (ls)
      pclose(ls);
    return names;
  }
  static args sh(const std::string& script) { return {"sh", "-c", script}; }
  std::string dir_;
};

TEST_F(Pipeline, OneStageWithFilesAndStatus) {
  int status = -1, error = -1;
  std::string out = path("out"), err = path("err");
  const char* failure =
      pex_one(PEX_PATH_SEARCH, "sh", sh("echo to-out; echo to-err >&2; exit 3"),
              "test", out.c_str(), err.c_str(), status, error);
  ASSERT_EQ(failure, nullptr);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 3);
  EXPECT_EQ(read(out), "to-out\n");
  EXPECT_EQ(read(err), "to-err\n");
  // Appending, and standard error merged into standard output.
  failure = pex_one(PEX_APPEND_STDOUT | PEX_MERGE_STDERR, "/bin/sh",
                    sh("echo more; echo merged >&2"), "test", out.c_str(),
                    nullptr, status, error);
  ASSERT_EQ(failure, nullptr);
  EXPECT_EQ(read(out), "to-out\nmore\nmerged\n");
}

TEST_F(Pipeline, TwoStagesThroughAPipe) {
  pipeline_ptr p = pex_create(PEX_PIPES, "test", nullptr);
  int error = 0;
  std::string out = path("out");
  ASSERT_EQ(pex_launch(*p, PEX_PATH_SEARCH, "sh", sh("printf 'b\\na\\n'"),
                       nullptr, nullptr, nullptr, error),
            nullptr);
  ASSERT_EQ(pex_launch(*p, PEX_FINAL_STAGE, "/bin/cat", args{"cat", "-n"},
                       nullptr, out.c_str(), nullptr, error),
            nullptr);
  EXPECT_STREQ(pex_launch(*p, PEX_FINAL_STAGE, "/bin/cat", args{"cat"}, nullptr,
                          nullptr, nullptr, error),
               "pipeline already complete");
  EXPECT_EQ(error, 0);
  int statuses[3] = {-1, -1, -1};
  ASSERT_EQ(pex_get_status(*p, statuses), 1);
  EXPECT_EQ(statuses[0], 0);
  EXPECT_EQ(statuses[1], 0);
  EXPECT_EQ(statuses[2], 0); // no third stage
  pex_time t[1];
  EXPECT_EQ(pex_times(*p, t), 0); // times were not recorded
  pex_release(std::move(p));
  EXPECT_EQ(read(out), "     1\tb\n     2\ta\n");
}

TEST_F(Pipeline, StagesJoinedByFilesThatAreRemoved) {
  std::string base = path("stage");
  pipeline_ptr p = pex_create(0, "test", base.c_str());
  int error = 0;
  std::string out = path("out");
  ASSERT_EQ(pex_launch(*p, PEX_PATH_SEARCH, "sh", sh("echo one; echo two"),
                       nullptr, nullptr, nullptr, error),
            nullptr);
  ASSERT_EQ(pex_launch(*p, PEX_PATH_SEARCH | PEX_FINAL_STAGE, "sh",
                       sh("wc -l | tr -d ' '"), nullptr, out.c_str(), nullptr,
                       error),
            nullptr);
  int statuses[2];
  ASSERT_EQ(pex_get_status(*p, statuses), 1);
  EXPECT_EQ(entries().size(), 2u); // the file between stages and out
  pex_release(std::move(p));
  EXPECT_EQ(read(out), "2\n");
  EXPECT_EQ(entries(), std::vector<std::string>{"out\n"});
}

TEST_F(Pipeline, MissingProgramFailsInTheParentSilently) {
  testing::internal::CaptureStderr();
  int status = 0, error = 0;
  const char* failure =
      pex_one(PEX_PATH_SEARCH, "velk-no-such-program", args{"x"}, "test",
              nullptr, nullptr, status, error);
  EXPECT_STREQ(failure, "execvp");
  EXPECT_EQ(error, ENOENT);
  failure = pex_one(0, "/nonexistent/prog", args{"x"}, "test", nullptr, nullptr,
                    status, error);
  EXPECT_STREQ(failure, "execv");
  EXPECT_EQ(error, ENOENT);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  // A failed second stage leaves the first to the release.
  pipeline_ptr p = pex_create(PEX_PIPES, "test", nullptr);
  ASSERT_EQ(pex_launch(*p, PEX_PATH_SEARCH, "sh", sh("sleep 30"), nullptr,
                       nullptr, nullptr, error),
            nullptr);
  EXPECT_STREQ(pex_launch(*p, PEX_FINAL_STAGE, "/nonexistent/prog", args{"x"},
                          nullptr, nullptr, nullptr, error),
               "execv");
  auto start = std::chrono::steady_clock::now();
  pex_release(std::move(p)); // sends SIGTERM, does not wait 30 seconds
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

TEST_F(Pipeline, FileAndFlagErrors) {
  pipeline_ptr p = pex_create(PEX_PIPES, "test", nullptr);
  int error = 0;
  EXPECT_STREQ(pex_launch(*p, PEX_FINAL_STAGE, "/bin/cat", args{"cat"}, nullptr,
                          path("no/dir/out").c_str(), nullptr, error),
               "open temporary output file");
  EXPECT_EQ(error, ENOENT);
  p = pex_create(PEX_PIPES, "test", nullptr);
  EXPECT_STREQ(pex_launch(*p, PEX_FINAL_STAGE | PEX_STDERR_TO_PIPE, "/bin/cat",
                          args{"cat"}, nullptr, nullptr, path("err").c_str(),
                          error),
               "both ERRNAME and PEX_STDERR_TO_PIPE specified.");
  p = pex_create(PEX_PIPES, "test", nullptr);
  EXPECT_STREQ(pex_launch(*p, PEX_FINAL_STAGE, "/bin/cat", args{"cat"}, nullptr,
                          nullptr, path("no/dir/err").c_str(), error),
               "open error file");
  pex_release(std::move(p));
}

TEST_F(Pipeline, SignalsStatusesAndTimes) {
  pipeline_ptr p = pex_create(PEX_PIPES | PEX_TIMES, "test", nullptr);
  int error = 0;
  // The first stage burns CPU, the second kills itself.
  ASSERT_EQ(pex_launch(*p, PEX_PATH_SEARCH, "sh",
                       sh("i=0; while [ $i -lt 300000 ]; do i=$((i+1)); done"),
                       nullptr, nullptr, nullptr, error),
            nullptr);
  ASSERT_EQ(pex_launch(*p, PEX_PATH_SEARCH | PEX_FINAL_STAGE, "sh",
                       sh("cat >/dev/null; kill -SEGV $$"), nullptr, nullptr,
                       nullptr, error),
            nullptr);
  int statuses[2];
  ASSERT_EQ(pex_get_status(*p, statuses), 1);
  EXPECT_TRUE(WIFEXITED(statuses[0]));
  ASSERT_TRUE(WIFSIGNALED(statuses[1]));
  EXPECT_EQ(WTERMSIG(statuses[1]), SIGSEGV);
  pex_time t[2];
  ASSERT_EQ(pex_times(*p, t), 1);
  double first = static_cast<double>(t[0].user_seconds) +
                 static_cast<double>(t[0].user_microseconds) / 1e6 +
                 static_cast<double>(t[0].system_seconds) +
                 static_cast<double>(t[0].system_microseconds) / 1e6;
  EXPECT_GT(first, 0.0);
  EXPECT_LT(t[0].user_microseconds, 1000000u);
}

TEST_F(Pipeline, EnvironmentAndIgnoredSignals) {
  // An ignored SIGINT stays ignored in the child; the environment given
  // replaces the caller's.
  struct sigaction ignore = {}, old = {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGINT, &ignore, &old);
  std::string env0 = "VELK_PIPELINE_TEST=given";
  char* env[] = {env0.data(), nullptr};
  std::string out = path("out");
  pipeline_ptr p = pex_create(PEX_PIPES, "test", nullptr);
  int error = 0;
  ASSERT_EQ(pex_launch(*p, PEX_FINAL_STAGE, "/bin/sh",
                       sh("echo $VELK_PIPELINE_TEST; "
                          "grep '^SigIgn' /proc/self/status || echo none"),
                       env, out.c_str(), nullptr, error),
            nullptr);
  int status;
  ASSERT_EQ(pex_get_status(*p, {&status, 1}), 1);
  sigaction(SIGINT, &old, nullptr);
  std::string text = read(out);
  EXPECT_EQ(text.substr(0, 6), "given\n");
  if (text.find("SigIgn") != std::string::npos) {
    unsigned long mask =
        std::stoul(text.substr(text.find('\t') + 1), nullptr, 16);
    EXPECT_TRUE(mask & (1UL << (SIGINT - 1))) << text;
  }
}

} // namespace
} // namespace velk
