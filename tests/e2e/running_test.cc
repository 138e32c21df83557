// End-to-end cases of running the commands for real with the stand-in
// toolchain: how they are shown, how their failures end the run, and what
// the run leaves behind.
#include "tests/e2e/harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace velk::test {
namespace {

// The lines of a text, without their newlines.
std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos)
      end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// -### shows each argument so that a shell reads it back unchanged.
TEST(Running, ShownArgumentsAreQuotedForTheShell) {
  sandbox box;
  box.write_file("a.cc", "\n");
  run_result r = box.run({"-###", "-c", "a.cc", "-DA=b c", "-DB=$HOME",
                          "-DC=`id`", "-DD=\"\\", "-I", "", "-Iplain"});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_TRUE(r.calls.empty());
  std::string compile;
  for (const std::string& line : lines_of(r.err))
    if (line.find("/tarn1xx ") != std::string::npos)
      compile = line;
  for (const char* shown :
       {" -D \"A=b c\" ", " -D \"B=\\$HOME\" ", " -D \"C=\\`id\\`\" ",
        " -D \"D=\\\"\\\\\" ", " -I \"\" ", " -I plain "})
    EXPECT_NE(compile.find(shown), std::string::npos) << shown << "\n"
                                                      << compile;
}

// Under -v a piped group is shown one command a line, each line but the
// last ending in "|"; each group is preceded by the switches handed to it.
TEST(Running, VerbosePipeShowsTheGroupOnTwoLines) {
  sandbox box;
  box.write_file("a.cc", "\n");
  run_result r = box.run({"-v", "-pipe", "-c", "a.cc"});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  // Both ran, concurrently.
  std::vector<std::string> programs = r.programs();
  std::sort(programs.begin(), programs.end());
  EXPECT_EQ(programs, (std::vector<std::string>{"as", "tarn1xx"}));
  std::vector<std::string> lines = lines_of(r.err);
  std::size_t compile = 0;
  while (compile < lines.size() &&
         lines[compile].find("/tarn1xx ") == std::string::npos)
    ++compile;
  ASSERT_LT(compile + 1, lines.size()) << r.err;
  EXPECT_TRUE(lines[compile - 1].starts_with("SHEAF_VELK_OPTIONS='-v' "))
      << lines[compile - 1];
  EXPECT_TRUE(lines[compile].ends_with(" -o - |")) << lines[compile];
  EXPECT_TRUE(lines[compile + 1].starts_with(" "));
  EXPECT_NE(lines[compile + 1].find("/as "), std::string::npos)
      << lines[compile + 1];
  EXPECT_TRUE(lines[compile + 1].ends_with(" -o a.o")) << lines[compile + 1];
}

// A tool ended by a signal: stopped on purpose is a fatal error, a crash is
// an internal error; either way the run leaves nothing behind.
TEST(Running, ToolEndedBySignal) {
  struct {
    const char* program;
    int signal_number;
    int status;
    std::string message;
  } cases[] = {
      {"tarn1xx", SIGKILL, 1,
       "velk++: fatal error: Killed signal terminated program tarn1xx\n"
       "compilation terminated.\n"},
      {"tarn1xx", SIGSEGV, 4,
       "velk++: internal compiler error: Segmentation fault signal "
       "terminated program tarn1xx\n"},
      {"as", SIGKILL, 1,
       "velk++: fatal error: Killed signal terminated program as\n"
       "compilation terminated.\n"},
      {"as", SIGSEGV, 4,
       "velk++: internal compiler error: Segmentation fault signal "
       "terminated program as\n"},
  };
  for (const auto& c : cases) {
    sandbox box;
    box.write_file("a.cc", "\n");
    tool_behaviour dies;
    dies.signal_number = c.signal_number;
    box.set_behaviour(c.program, dies);
    run_result r = box.run({"-c", "a.cc", "-o", "x.o"});
    const std::string what =
        std::string(c.program) + " " + std::to_string(c.signal_number);
    EXPECT_EQ(r.exit_status, c.status) << what;
    EXPECT_TRUE(r.err.starts_with(c.message)) << what << "\n" << r.err;
    EXPECT_EQ(box.list_dir(box.work()), std::vector<std::string>{"a.cc"})
        << what;
    EXPECT_TRUE(box.list_dir(box.tmp()).empty()) << what;
  }
}

TEST(Running, ExitStatusOfAFailingTool) {
  sandbox box;
  box.write_file("a.cc", "\n");
  tool_behaviour three;
  three.exit_status = 3;
  box.set_behaviour("tarn1xx", three);
  EXPECT_EQ(box.run({"-c", "a.cc"}).exit_status, 1);
  EXPECT_EQ(box.run({"-pass-exit-codes", "-c", "a.cc"}).exit_status, 3);
  EXPECT_EQ(box.list_dir(box.work()), std::vector<std::string>{"a.cc"});
  EXPECT_TRUE(box.list_dir(box.tmp()).empty());
}

// -wrapper runs each command through a program found on PATH, with its
// options first.
TEST(Running, WrapperFoundThroughPath) {
  sandbox box;
  box.write_file("a.cc", "\n");
  box.write_file("wrappers/.keep");
  ASSERT_EQ(symlink((box.exec_dir() + "/tarn1xx").c_str(),
                    (box.work() + "/wrappers/wrap").c_str()),
            0);
  run_options opts;
  opts.env["PATH"] = box.work() + "/wrappers:/usr/bin:/bin";
  run_result r = box.run({"-wrapper", "wrap,--opt", "-c", "a.cc"}, opts);
  EXPECT_EQ(r.exit_status, 0) << r.err;
  ASSERT_EQ(r.programs(), (std::vector<std::string>{"wrap", "wrap"}));
  EXPECT_EQ(r.calls[0].args.at(0), "--opt");
  EXPECT_TRUE(r.calls[0].args.at(1).starts_with(box.prefix() + "/"));
  EXPECT_TRUE(r.calls[0].args.at(1).ends_with("/tarn1xx"));
  EXPECT_TRUE(r.calls[1].args.at(1).ends_with("/as")) << r.calls[1].args[1];
}

// -freport-bug: a compiler that ends with status 4 each time is run again
// to reproduce the crash, and the preprocessed source is kept for a report.
TEST(Running, ReportBugKeepsTheReproducedCrash) {
  sandbox box;
  box.write_file("a.cc", "int a;\n");
  tool_behaviour crash;
  crash.exit_status = 4;
  crash.err = "crashed\n";
  crash.unless_arg = "-E";
  box.set_behaviour("tarn1xx", crash);
  run_result r = box.run({"-freport-bug", "-c", "a.cc"});
  EXPECT_EQ(r.exit_status, 1);
  // The first run, three attempts and the preprocessing.
  EXPECT_EQ(r.programs(), std::vector<std::string>(5, "tarn1xx"));
  const std::string intro = "Preprocessed source stored into ";
  const std::size_t at = r.err.find(intro);
  ASSERT_NE(at, std::string::npos) << r.err;
  const std::size_t end = r.err.find(" file, please attach", at);
  ASSERT_NE(end, std::string::npos) << r.err;
  const std::string report =
      r.err.substr(at + intro.size(), end - at - intro.size());
  EXPECT_TRUE(report.starts_with(box.tmp() + "/")) << report;
  const std::string text = box.read_file(report);
  // The compiler's messages as comments, the command, the preprocessed
  // source.
  EXPECT_NE(text.find("\n// crashed\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\n// " + box.prefix()), std::string::npos) << text;
  EXPECT_NE(text.find("\nint a;\n"), std::string::npos) << text;
  // The report is all that is left.
  EXPECT_EQ(box.list_dir(box.tmp()).size(), 1u);
  EXPECT_EQ(box.list_dir(box.work()), std::vector<std::string>{"a.cc"});
}

// -fcompare-debug compares the final instruction dumps of both
// compilations: alike they pass in silence, different they fail the input
// and its object is removed.
TEST(Running, CompareDebugDumps) {
  struct {
    const char* name;
    tool_behaviour compiler;
    int status;
    std::string err;
    std::vector<std::string> left;
  } cases[] = {
      {"alike", {.dump = "insns\n"}, 0, "", {"a.cc", "x.o"}},
      {"different",
       {.dump = "insns\n", .unless_arg = "-fcompare-debug-second"},
       1,
       "velk++: error: a.cc: '-fcompare-debug' failure (length)\n",
       {"a.cc"}},
  };
  for (const auto& c : cases) {
    sandbox box;
    box.write_file("a.cc", "\n");
    box.set_behaviour("tarn1xx", c.compiler);
    run_result r = box.run({"-fcompare-debug", "-c", "a.cc", "-o", "x.o"});
    EXPECT_EQ(r.exit_status, c.status) << c.name;
    EXPECT_EQ(r.err, c.err) << c.name;
    EXPECT_EQ(r.programs(),
              (std::vector<std::string>{"tarn1xx", "as", "tarn1xx"}))
        << c.name;
    EXPECT_EQ(box.list_dir(box.work()), c.left) << c.name;
    EXPECT_TRUE(box.list_dir(box.tmp()).empty()) << c.name;
  }
}

// A SIGINT the parent ignores stays ignored in the tools.
TEST(Running, IgnoredInterruptStaysIgnored) {
  sandbox box;
  box.write_file("a.cc", "\n");
  for (bool ignore : {true, false}) {
    run_options opts;
    opts.ignore_sigint = ignore;
    run_result r = box.run({"a.cc"}, opts);
    ASSERT_EQ(r.calls.size(), 3u);
    for (const tool_call& call : r.calls)
      EXPECT_EQ(call.sigint, ignore ? "ignored" : "default") << call.program;
    box.clear_calls();
  }
}

// What each kind of run leaves in the working and temporary directories.
TEST(Running, NoDebris) {
  struct {
    const char* name;
    std::vector<std::string> args;
    const char* program; // the tool given the behaviour below
    tool_behaviour behaviour;
    int send_signal = 0; // sent to the driver while the tool sleeps
    std::vector<std::string> left;
  } cases[] = {
      {"success", {"a.cc", "-o", "prog"}, "", {}, 0, {"a.cc", "prog"}},
      {"success -c", {"-c", "a.cc", "-o", "x.o"}, "", {}, 0, {"a.cc", "x.o"}},
      {"-save-temps",
       {"-save-temps", "a.cc", "-o", "prog"},
       "",
       {},
       0,
       {"a.cc", "prog", "prog-a.ii", "prog-a.o", "prog-a.s"}},
      {"failing compiler",
       {"-c", "a.cc", "-o", "x.o"},
       "tarn1xx",
       {.exit_status = 1},
       0,
       {"a.cc"}},
      {"failing assembler",
       {"-c", "a.cc", "-o", "x.o"},
       "as",
       {.exit_status = 1},
       0,
       {"a.cc"}},
      {"killed assembler",
       {"a.cc", "-o", "prog"},
       "as",
       {.signal_number = SIGKILL},
       0,
       {"a.cc"}},
      {"failing link", {"a.cc"}, "sheaf2", {.exit_status = 1}, 0, {"a.cc"}},
      {"SIGINT",
       {"-c", "a.cc", "-o", "x.o"},
       "as",
       {.sleep_ms = 1500},
       SIGINT,
       {"a.cc"}},
      {"SIGTERM",
       {"a.cc", "-o", "prog"},
       "sheaf2",
       {.sleep_ms = 1500},
       SIGTERM,
       {"a.cc"}},
  };
  for (const auto& c : cases) {
    sandbox box;
    box.write_file("a.cc", "\n");
    if (*c.program != '\0')
      box.set_behaviour(c.program, c.behaviour);
    run_options opts;
    opts.send_signal = c.send_signal;
    opts.signal_on_call = c.program;
    run_result r = box.run(c.args, opts);
    if (c.send_signal != 0)
      EXPECT_EQ(r.term_signal, c.send_signal) << c.name;
    EXPECT_EQ(box.list_dir(box.work()), c.left) << c.name;
    EXPECT_TRUE(box.list_dir(box.tmp()).empty()) << c.name;
  }
}

} // namespace
} // namespace velk::test
