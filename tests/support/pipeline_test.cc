#include "support/pipeline.h"
#include "tests/scratch_dir.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace velk {
namespace {

using args = std::vector<std::string>;

class Pipeline : public test::scratch_dir_test {
protected:
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

TEST_F(Pipeline, PathSearchUsesTheChildsEnvironment) {
  // The program is looked up on the PATH the child gets, not on ours.
  std::string bin = path("bin");
  ASSERT_EQ(mkdir(bin.c_str(), 0755), 0);
  std::string tool = bin + "/velk-test-tool";
  {
    std::ofstream script(tool);
    script << "#!/bin/sh\necho \"tool $1 $VELK_PIPELINE_TEST\"\n";
  }
  ASSERT_EQ(chmod(tool.c_str(), 0755), 0);
  std::string path_var = "PATH=" + bin + ":/bin:/usr/bin";
  std::string mark = "VELK_PIPELINE_TEST=mark";
  char* env[] = {path_var.data(), mark.data(), nullptr};
  std::string out = path("out");
  int status = -1, error = 0;
  pipeline_ptr p = pex_create(0, "test", nullptr);
  ASSERT_EQ(pex_launch(*p, PEX_PATH_SEARCH | PEX_FINAL_STAGE, "velk-test-tool",
                       args{"velk-test-tool", "arg"}, env, out.c_str(), nullptr,
                       error),
            nullptr);
  ASSERT_EQ(pex_get_status(*p, {&status, 1}), 1);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(read(out), "tool arg mark\n");
  // Not found there: the failure comes back to the parent.
  p = pex_create(0, "test", nullptr);
  EXPECT_STREQ(pex_launch(*p, PEX_PATH_SEARCH | PEX_FINAL_STAGE,
                          "velk-no-such-tool", args{"x"}, env, nullptr, nullptr,
                          error),
               "execvp");
  EXPECT_EQ(error, ENOENT);
}

TEST_F(Pipeline, ChildReportsItselfWhenItCannotTellTheParent) {
  // With no descriptor left for the report pipe, the child that cannot
  // start its program says so on its own standard error and ends with 255.
  std::string err_file = path("err");
  pid_t pid = fork();
  if (pid == 0) {
    int fd = open(err_file.c_str(), O_WRONLY | O_CREAT, 0644);
    dup2(fd, 2);
    close(fd);
    std::string empty_path = "PATH=/nonexistent";
    char* env[] = {empty_path.data(), nullptr};
    std::vector<std::string> argv = {"velk-missing"};
    pipeline_ptr p = pex_create(PEX_PIPES, "velk-test", nullptr);
    while (open("/dev/null", O_RDONLY) >= 0) {
    }
    int error = 0;
    const char* failure =
        pex_launch(*p, PEX_PATH_SEARCH | PEX_FINAL_STAGE, "velk-missing", argv,
                   env, nullptr, nullptr, error);
    if (failure != nullptr)
      _exit(1);
    int status = 0;
    if (pex_get_status(*p, {&status, 1}) != 1)
      _exit(2);
    _exit(WIFEXITED(status) && WEXITSTATUS(status) == 255 ? 0 : 3);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(read(err_file), "velk-test: error trying to exec 'velk-missing': "
                            "execvp: No such file or directory\n");
}

} // namespace
} // namespace velk
