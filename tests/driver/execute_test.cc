#include "driver/execute.h"

#include "driver/command_line.h"
#include "driver/exit_status.h"
#include "driver/process_setup.h"
#include "options/handle.h"
#include "specs/search_paths.h"
#include "specs/spec_interpreter.h"
#include "specs/switches.h"
#include "support/temp_files.h"
#include "support/temp_names.h"
#include "tests/standin/log_format.h"

#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace velk {
namespace {

// The temporary directory of this test program: made before any test can
// ask for a temporary name, so every temporary file of the runs lands in
// it, and removed at the end by the process that made it.
struct own_temp_directory {
  std::string dir;
  pid_t owner = getpid();
  own_temp_directory() {
    char pattern[] = "/tmp/velk-execute-tmp-XXXXXX";
    if (mkdtemp(pattern) != nullptr) {
      dir = pattern;
      setenv("TMPDIR", dir.c_str(), 1);
    }
  }
  ~own_temp_directory() {
    if (getpid() == owner && !dir.empty())
      std::system(("rm -rf '" + dir + "'").c_str());
  }
};
const own_temp_directory temp_dir;

std::vector<std::string> files_in(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name != "." && name != "..")
        names.push_back(name);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string read_file(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

TEST(Execute, EchoQuotesUnderPrintOnly) {
  const std::vector<std::string> group = {
      "tarn1", "-O2",        "/usr/lib",    "a-b_c.d", "two words",
      "x=y",   "say \"hi\"", "back\\slash", "$HOME",   "`id`",
      "",      "|",          "as",          "-o",      "f.o"};
  EXPECT_EQ(command_group_echo(group, true),
            " tarn1 -O2 /usr/lib a-b_c.d \"two words\" \"x=y\" "
            "\"say \\\"hi\\\"\" \"back\\\\slash\" \"\\$HOME\" \"\\`id\\`\" "
            "\"\" |\n"
            " as -o f.o\n");
  // -v shows the arguments as they are; an empty one still as "".
  EXPECT_EQ(command_group_echo({"tarn1", "two words", "$x", ""}, false),
            " tarn1 two words $x \"\"\n");
  // Control bytes never reach the terminal, quoted or not.
  EXPECT_EQ(command_group_echo({"tarn1", "a\x1b[2Jb", "t\tn\n\x7f"}, false),
            " tarn1 a\\x1b[2Jb t\\x09n\\x0a\\x7f\n");
  EXPECT_EQ(command_group_echo({"tarn1", "\x1b]0;x\x07"}, true),
            " tarn1 \"\\x1b]0;x\\x07\"\n");
  // Printable UTF-8 is shown as it is; a byte that is no character is not.
  EXPECT_EQ(
      command_group_echo({"tarn1", "caf\xc3\xa9.cc", "x\xffy", "ok"}, false),
      " tarn1 caf\xc3\xa9.cc x\\xffy ok\n");
}

TEST(Execute, WrapperPieces) {
  const struct {
    const char* wrapper;
    std::vector<std::string> pieces;
  } cases[] = {
      {"gdb,--args", {"gdb", "--args"}},
      {"w,,-a,,,-b", {"w", "-a", "-b"}},
      {",w,-a", {"w", "-a"}},
      {"w,", {"w", ""}},
      {"w", {"w"}},
      {"", {""}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"/bin/tarn1", "x.c"};
    insert_wrapper(args, c.wrapper);
    std::vector<std::string> expected = c.pieces;
    expected.push_back("/bin/tarn1");
    expected.push_back("x.c");
    EXPECT_EQ(args, expected) << c.wrapper;
  }
}

// Runs groups against the stand-in toolchain, installed under the program
// names in a directory that the exec list searches.
class ExecuteRun : public ::testing::Test {
protected:
  void SetUp() override {
    char pattern[] = "/tmp/velk-execute-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    bin_ = dir_ + "/bin/";
    ASSERT_EQ(mkdir(bin_.c_str(), 0755), 0);
    for (const char* name : {"tarn1", "tarn1xx", "as"})
      ASSERT_EQ(symlink(VELK_STANDIN_PROGRAM, (bin_ + name).c_str()), 0);
    control_ = dir_ + "/control";
    log_ = dir_ + "/log";
    setenv("VELK_STANDIN_CONTROL", control_.c_str(), 1);
    setenv("VELK_STANDIN_LOG", log_.c_str(), 1);
    control("");

    search_paths().exec.clear();
    add_search_prefix(search_paths().exec, bin_, "", 0, 0, false);
    prefixes().default_assembler.clear();
    prefixes().default_linker.clear();
    reset_spec_state();
    tables().current = current_input_record{};
    driver_settings& s = settings();
    s.verbose = false;
    s.print_only_count = 0;
    s.help_requested = false;
    s.time_report.reset();
    global_options.opt_wrapper = nullptr;
    global_options.opt_time = 0;
    global_options.flag_report_bug = 0;
    counters() = run_counters{};
    cleanup_list().forget();
    failure_list().forget();
    ASSERT_EQ(files_in(temp_directory()), std::vector<std::string>{});
  }
  void TearDown() override {
    unsetenv("VELK_STANDIN_CONTROL");
    unsetenv("VELK_STANDIN_LOG");
    search_paths().exec.clear();
    global_options.opt_wrapper = nullptr;
    settings().time_report.reset();
    std::system(("rm -rf '" + dir_ + "'").c_str());
    // Nothing a run made is left in the temporary directory.
    EXPECT_EQ(files_in(temp_directory()), std::vector<std::string>{});
    for (const std::string& name : files_in(temp_directory()))
      unlink((temp_directory() + name).c_str());
  }

  void control(const std::string& text) { std::ofstream(control_) << text; }
  // Adds a /bin/sh script under `name` to the directory of programs.
  void script(const std::string& name, const std::string& body) {
    std::string path = bin_ + name;
    unlink(path.c_str()); // never write through a link to the stand-in
    std::ofstream(path) << "#!/bin/sh\n" << body;
    chmod(path.c_str(), 0755);
  }
  // The calls of the stand-in: program name and arguments of each.
  std::vector<std::vector<std::string>> calls() {
    std::vector<std::vector<std::string>> out;
    std::istringstream in(read_file(log_));
    std::string line;
    while (std::getline(in, line)) {
      if (line.starts_with("call "))
        out.push_back({test::log_unescape(line.substr(5))});
      else if (line.starts_with("arg "))
        out.back().push_back(test::log_unescape(line.substr(4)));
    }
    return out;
  }
  std::string log() { return read_file(log_); }

  std::string dir_, bin_, control_, log_;
};

TEST_F(ExecuteRun, StatusesDecideTheResult) {
  EXPECT_EQ(execute({"tarn1", "-quiet", "x.c"}), 0);
  EXPECT_EQ(calls(), (std::vector<std::vector<std::string>>{
                         {"tarn1", "-quiet", "x.c"}}));
  EXPECT_EQ(counters().run_count, 1);
  EXPECT_EQ(counters().interrupt_count, 0);

  // Every stage is waited for and judged; the highest status is kept for
  // -pass-exit-codes.
  control("tarn1 exit 3\nas exit 2\n");
  EXPECT_EQ(execute({"tarn1", "x.c", "|", "as", "-o", dir_ + "/x.o"}), -1);
  EXPECT_EQ(counters().highest_status, 3);
  control("tarn1 exit 2\nas exit 7\n");
  EXPECT_EQ(execute({"tarn1", "x.c", "|", "as"}), -1);
  EXPECT_EQ(counters().highest_status, 7);
  EXPECT_EQ(counters().run_count, 3);
  EXPECT_EQ(calls().size(), 5u);

  run_counters c = counters();
  c.error_count = 1;
  c.pass_exit_codes = true;
  EXPECT_EQ(exit_status_rule(c), 7);
  c.pass_exit_codes = false;
  EXPECT_EQ(exit_status_rule(c), 1);

  // A stage killed by SIGPIPE fails the group; the driver ends with 2.
  control("tarn1 signal 13\n");
  EXPECT_EQ(execute({"tarn1", "x.c", "|", "as"}), -1);
  EXPECT_EQ(counters().interrupt_count, 1);
  EXPECT_EQ(exit_status_rule(counters()), 2);
}

TEST_F(ExecuteRun, VerbosePipelineOnTwoLines) {
  settings().verbose = true;
  testing::internal::CaptureStderr();
  EXPECT_EQ(execute({"tarn1", "-o", "-", "a b", "|", "as", "-"}), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            " " + bin_ + "tarn1 -o - a b |\n " + bin_ + "as -\n");
  EXPECT_EQ(calls().size(), 2u);

  // Under -### the found paths are shown quoted as needed, nothing runs,
  // and the group still counts.
  settings().print_only_count = 1;
  settings().help_requested = true;
  testing::internal::CaptureStderr();
  EXPECT_EQ(execute({"tarn1", "a b", "|", "nosuch", "-x"}), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "\n " + bin_ + "tarn1 \"a b\" |\n nosuch -x\n");
  EXPECT_EQ(calls().size(), 2u);
  EXPECT_EQ(counters().run_count, 2);
}

// A spec run end to end under -###: the interpreter hands its groups to
// execute, which shows them and runs nothing.
TEST_F(ExecuteRun, SpecCommandsUnderPrintOnly) {
  set_execute_hook(execute);
  driver_settings& s = settings();
  s.verbose = true;
  s.print_only_count = 1;
  testing::internal::CaptureStderr();
  EXPECT_EQ(run_spec_command("nosuch a\\ b %\" c\\\"d\nnone e\\\\f \\$g"), 0);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, " nosuch \"a b\" \"\" \"c\\\"d\"\n"
                 " none \"e\\\\f\" \"\\$g\"\n");
  EXPECT_EQ(counters().run_count, 2);

  // Without it they run.
  s.verbose = false;
  s.print_only_count = 0;
  EXPECT_EQ(run_spec_command("tarn1 -quiet\nas -o " + dir_ + "/y.o"), 0);
  EXPECT_EQ(calls(), (std::vector<std::vector<std::string>>{
                         {"tarn1", "-quiet"}, {"as", "-o", dir_ + "/y.o"}}));
  control("tarn1 exit 1\n");
  EXPECT_EQ(run_spec_command("tarn1\nas"), -1);
  EXPECT_EQ(calls().size(), 3u); // the assembler never ran

  // Under -pipe a "|" at the end of a line joins the next command into
  // the same group, run as one pipeline.
  control("");
  spec_state().use_pipes = true;
  s.verbose = true;
  testing::internal::CaptureStderr();
  EXPECT_EQ(run_spec_command("tarn1 -o - |\nas -"), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            " " + bin_ + "tarn1 -o - |\n " + bin_ + "as -\n");
  EXPECT_EQ(calls().size(), 5u);
  EXPECT_EQ(counters().run_count, 6);
  set_execute_hook(nullptr);
}

TEST_F(ExecuteRun, WrapperRunsThroughPath) {
  const std::string wrapper_dir = dir_ + "/wrap/";
  ASSERT_EQ(mkdir(wrapper_dir.c_str(), 0755), 0);
  ASSERT_EQ(symlink(VELK_STANDIN_PROGRAM, (wrapper_dir + "wrapit").c_str()), 0);
  const std::string old_path = std::getenv("PATH") ? std::getenv("PATH") : "";
  setenv("PATH", (wrapper_dir + ":" + old_path).c_str(), 1);
  global_options.opt_wrapper = "wrapit,--opt";
  settings().verbose = true;
  testing::internal::CaptureStderr();
  EXPECT_EQ(execute({"tarn1", "-quiet", "x.c"}), 0);
  std::string err = testing::internal::GetCapturedStderr();
  setenv("PATH", old_path.c_str(), 1);
  EXPECT_EQ(err, " wrapit --opt " + bin_ + "tarn1 -quiet x.c\n");
  EXPECT_EQ(calls(),
            (std::vector<std::vector<std::string>>{
                {"wrapit", "--opt", bin_ + "tarn1", "-quiet", "x.c"}}));
}

TEST_F(ExecuteRun, IgnoredInterruptStaysIgnoredInChildren) {
  struct sigaction ignore = {}, previous = {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGINT, &ignore, &previous);
  EXPECT_EQ(execute({"tarn1"}), 0);
  sigaction(SIGINT, &previous, nullptr);
  EXPECT_NE(log().find("sigint ignored"), std::string::npos) << log();
}

TEST_F(ExecuteRun, TimeNoticesAndReport) {
  // A command that spends measurable time.
  script("busy", "i=0; while [ $i -lt 40000 ]; do i=$((i+1)); done\n");
  global_options.opt_time = 1;
  const std::string report = dir_ + "/times";
  settings().time_report.reset(std::fopen(report.c_str(), "a"));
  testing::internal::CaptureStderr();
  EXPECT_EQ(execute({"busy", "a b", "$x", "plain"}), 0);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(err.starts_with("# busy ")) << err;
  double user = -1, system = -1;
  EXPECT_EQ(std::sscanf(err.c_str(), "# busy %lf %lf\n", &user, &system), 2);
  std::string line = read_file(report);
  EXPECT_TRUE(line.ends_with(" busy \"a b\" \"\\$x\" plain\n")) << line;
}

TEST_F(ExecuteRun, MissingProgramIsFatal) {
  EXPECT_EXIT(execute({"no-such-program", "x.c"}), testing::ExitedWithCode(1),
              "fatal error: cannot execute 'no-such-program': execvp: No such "
              "file or directory");
  // A program found on the lists that cannot run.
  std::ofstream(bin_ + "tarn1xx.broken") << "not a program";
  chmod((bin_ + "tarn1xx.broken").c_str(), 0755);
  EXPECT_EXIT(execute({"tarn1xx.broken"}), testing::ExitedWithCode(1),
              "fatal error: cannot execute '" + bin_ +
                  "tarn1xx.broken': execv: Exec format error");
}

// A compiler proper killed from outside: fatal, and the object it was
// writing (on the failure list) and the intermediate files are gone when
// the driver has exited.
TEST_F(ExecuteRun, KilledProgramIsFatalAndLeavesNoDebris) {
  const std::string object = dir_ + "/x.o";
  const std::string temp = make_temp_name(".s");
  for (int signum : {SIGKILL, SIGINT, SIGTERM, SIGQUIT}) {
    control("tarn1 signal " + std::to_string(signum) + "\n");
    EXPECT_EXIT(
        {
          register_cleanup_at_exit();
          note_temp_file(temp, true, false);
          note_temp_file(object, false, true);
          execute({"tarn1", "-o", object});
        },
        testing::ExitedWithCode(1),
        std::string("fatal error: ") + strsignal(signum) +
            " signal terminated program tarn1\ncompilation terminated");
    EXPECT_FALSE(exists(object)) << signum;
    EXPECT_FALSE(exists(temp)) << signum;
    std::ofstream(temp) << "x";
  }
  unlink(temp.c_str());
}

TEST_F(ExecuteRun, CrashingSignalIsInternalError) {
  // The outputs of the failed step go, except what is not a regular file
  // (an output named like /dev/null, stood in for by a FIFO).
  const std::string object = dir_ + "/x.o";
  const std::string fifo = dir_ + "/null";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
  control("as signal 11\n* no-output 1\n");
  std::ofstream(object) << "partial";
  EXPECT_EXIT(
      {
        register_cleanup_at_exit();
        note_temp_file(object, false, true);
        note_temp_file(fifo, false, true);
        execute({"tarn1", "|", "as", "-o", fifo});
      },
      testing::ExitedWithCode(4),
      std::string("internal compiler error: ") + strsignal(SIGSEGV) +
          " signal terminated program as");
  EXPECT_FALSE(exists(object));
  struct stat st;
  ASSERT_EQ(lstat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

// The driver itself interrupted while a compiler runs: the intermediate
// files and the half-written object go, and the driver ends by the signal.
TEST_F(ExecuteRun, SignalToDriverLeavesNoDebris) {
  const std::string object = dir_ + "/x.o";
  const std::string temp = make_temp_name(".s");
  control("tarn1 sleep 1000\n");
  for (int signum : {SIGTERM, SIGINT}) {
    struct sigaction current = {};
    sigaction(signum, nullptr, &current);
    if (current.sa_handler == SIG_IGN)
      continue; // ignored by whoever started the tests: stays ignored
    EXPECT_EXIT(
        {
          install_signal_handlers();
          note_temp_file(temp, true, false);
          note_temp_file(object, false, true);
          const pid_t driver = getpid();
          if (fork() == 0) {
            usleep(300 * 1000); // the compiler has started by then
            kill(driver, signum);
            _exit(0);
          }
          execute({"tarn1", "-o", object});
        },
        testing::KilledBySignal(signum), "");
    EXPECT_FALSE(exists(object)) << signum;
    EXPECT_FALSE(exists(temp)) << signum;
    std::ofstream(temp) << "x";
  }
  unlink(temp.c_str());
}

// -freport-bug: a compiler proper that exits with status 4 the same way
// three times leaves one report in the temporary directory.
class ReportBug : public ExecuteRun {
protected:
  void SetUp() override {
    ExecuteRun::SetUp();
    global_options.flag_report_bug = 1;
    tables().current.set("hello.cc", 0);
  }
};

TEST_F(ReportBug, ReproducedCrashLeavesAReport) {
  // The compiler crashes the same way every time; with -E it writes the
  // preprocessed input.
  script("tarn1xx", "echo \"$*\" >> \"$0.runs\"\n"
                    "echo 'hello.cc:1: internal error' >&2\n"
                    "for a; do [ \"$a\" = -E ] && echo '# 1 hello.cc' && "
                    "exit 0; done\n"
                    "exit 4\n");
  testing::internal::CaptureStderr();
  EXPECT_EQ(execute({"tarn1xx", "-quiet", "hello.cc", "-o", dir_ + "/h.s"}),
            -1);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(counters().highest_status, 4);
  const std::string attempt = "-quiet hello.cc -o - -frandom-seed=0 "
                              "-fdump-noaddr";
  // The crash, three attempts, the preprocessing.
  EXPECT_EQ(read_file(bin_ + "tarn1xx.runs"),
            "-quiet hello.cc -o " + dir_ + "/h.s\n" + attempt + "\n" + attempt +
                "\n" + attempt + "\n" + attempt + " -E\n");

  const std::vector<std::string> left = files_in(temp_directory());
  ASSERT_EQ(left.size(), 1u);
  const std::string report = temp_directory() + left[0];
  EXPECT_TRUE(report.ends_with(".out"));
  EXPECT_NE(err.find("hello.cc:1: internal error\nPreprocessed source stored "
                     "into " +
                     report + " file, please attach this to your bugreport.\n"),
            std::string::npos)
      << err;
  const std::string text = read_file(report);
  // The messages of the third attempt, after the configuration, as
  // comments; the command; the preprocessed input.
  EXPECT_TRUE(text.starts_with("// Target: aarch64-portbld-freebsd14.3\n"))
      << text;
  EXPECT_NE(text.find("\n// \n// hello.cc:1: internal error\n// \n// " + bin_ +
                      "tarn1xx " + attempt + "\n\n# 1 hello.cc\n"),
            std::string::npos)
      << text;
  unlink(report.c_str());
  EXPECT_FALSE(cleanup_list().contains(report));
}

TEST_F(ReportBug, NoReportWithoutTheSameCrash) {
  const struct {
    const char* what;
    std::string body;
  } cases[] = {
      // The second attempt ends by a signal: not the same crash.
      {"signal", "[ -e \"$0.n\" ] && kill -SEGV $$; touch \"$0.n\"; exit 4\n"},
      // Different messages each time.
      {"differ", "echo $$ >&2; exit 4\n"},
      // The preprocessing run is killed: no report is announced.
      {"preprocess", "for a; do [ \"$a\" = -E ] && kill -SEGV $$; done; "
                     "exit 4\n"},
  };
  for (const auto& c : cases) {
    script("tarn1", c.body);
    unlink((bin_ + "tarn1.n").c_str());
    testing::internal::CaptureStderr();
    EXPECT_EQ(execute({"tarn1", "-quiet", "hello.c", "-ox.s"}), -1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.find("Preprocessed source stored"), std::string::npos)
        << c.what << ": " << err;
    if (std::string(c.what) != "preprocess")
      EXPECT_NE(err.find("The bug is not reproducible, so it is likely a "
                         "hardware or OS problem.\n"),
                std::string::npos)
          << c.what << ": " << err;
    EXPECT_EQ(files_in(temp_directory()), std::vector<std::string>{}) << c.what;
  }

  // Not a compilation that can be repeated: nothing is retried.
  control("tarn1xx exit 4\ntarn1xx no-output 1\n");
  for (std::vector<std::string> group :
       {std::vector<std::string>{"tarn1xx", "-quiet", "-E", "-o", "x"},
        {"tarn1xx", "-o", "x"},
        {"tarn1xx", "-quiet", "-o", "x", "-oy"},
        {"tarn1xx", "-quiet", "-ftime-report", "-o", "x"},
        {"tarn1xx", "-quiet", "-o", "x", "-"}}) {
    // The last one compiles standard input, which cannot be read again.
    tables().current.set(group.back() == "-" ? "-" : "hello.cc", 0);
    std::ofstream(log_, std::ios::trunc).close();
    testing::internal::CaptureStderr();
    EXPECT_EQ(execute(group), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(calls().size(), 1u) << group[2];
  }
}

} // namespace
} // namespace velk
