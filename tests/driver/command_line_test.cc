#include "driver/command_line.h"

#include "driver/exit_status.h"
#include "specs/switches.h"
#include "options/decode.h"
#include "options/handle.h"
#include "specs/search_paths.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace velk {
namespace {

// Command-line processing fills process-wide tables, so every case runs in
// a child process, which writes what it found back as text.
struct processed {
  std::vector<std::string> switches; // "-name arg..." plus " [v]" / " [?]"
  std::vector<std::string> inputs;   // "name" or "name:language"
  std::vector<std::string> exec, startfile, include;
  std::map<std::string, std::string> settings;
  std::string err;
};

std::string describe_settings() {
  const driver_settings& s = settings();
  std::ostringstream out;
  const char* modes[] = {"off", "cwd", "dumpdir", "obj"};
  out << "save_temps=" << modes[static_cast<int>(s.dump.save_temps)] << "\n";
  out << "overrides=" << s.dump.save_temps_overrides_dump_dir << "\n";
  out << "dumpdir=" << s.dump.user_dump_dir.value_or("(none)") << "\n";
  out << "pass_exit_codes=" << counters().pass_exit_codes << "\n";
  out << "assembler=";
  for (const std::string& a : assembler_args())
    out << "[" << a << "]";
  out << "\n";
  return out.str();
}

std::string list_text(const search_path_list& list) {
  std::string out;
  for (const search_path_entry& e : list.entries())
    out += e.prefix + " " + std::to_string(e.machine_suffix_rule) + "\n";
  return out;
}

processed
run_process_command(const std::vector<std::string>& args,
                    const std::map<std::string, std::string>& env = {},
                    const std::string& argv0 = "/usr/local/brae13/bin/velk++") {
  int out_pipe[2], err_pipe[2];
  EXPECT_EQ(pipe(out_pipe), 0);
  EXPECT_EQ(pipe(err_pipe), 0);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(err_pipe[1], 2);
    for (const char* v :
         {"COMPILER_PATH", "LIBRARY_PATH", "LPATH", "VELK_EXEC_PREFIX",
          "VELK_COMPARE_DEBUG", "VELK_ROOT", "BINUTILS_ROOT"})
      unsetenv(v);
    for (const auto& [k, v] : env)
      setenv(k.c_str(), v.c_str(), 1);
    std::vector<const char*> argv = {argv0.c_str()};
    for (const std::string& a : args)
      argv.push_back(a.c_str());
    argv.push_back(nullptr);
    init_options_once();
    init_options_struct(&global_options, &global_options_set);
    std::vector<decoded_option> decoded = decode_argument_list(
        static_cast<int>(argv.size() - 1), argv.data(), OPTF_DRIVER);
    process_command(decoded, argv0.c_str());
    std::ostringstream out;
    for (const switch_entry& sw : tables().switches) {
      out << "S -" << sw.name;
      for (const std::string& a : sw.args)
        out << " " << a;
      out << (sw.validated ? " [v]" : "") << (sw.known ? "" : " [?]") << "\n";
    }
    for (const input_entry& in : tables().inputs)
      out << "I " << in.name << (in.language ? ":" + *in.language : "") << "\n";
    std::istringstream lists[3] = {
        std::istringstream(list_text(search_paths().exec)),
        std::istringstream(list_text(search_paths().startfile)),
        std::istringstream(list_text(search_paths().include))};
    const char* tags[3] = {"E", "F", "C"};
    for (int i = 0; i < 3; ++i)
      for (std::string line; std::getline(lists[i], line);)
        out << tags[i] << " " << line << "\n";
    std::istringstream set(describe_settings());
    for (std::string line; std::getline(set, line);)
      out << "V " << line << "\n";
    std::string text = out.str();
    ssize_t ignored = write(out_pipe[1], text.data(), text.size());
    (void)ignored;
    _exit(0);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  std::string text, err;
  char buf[4096];
  ssize_t n;
  while ((n = read(out_pipe[0], buf, sizeof buf)) > 0)
    text.append(buf, static_cast<std::size_t>(n));
  while ((n = read(err_pipe[0], buf, sizeof buf)) > 0)
    err.append(buf, static_cast<std::size_t>(n));
  close(out_pipe[0]);
  close(err_pipe[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  processed p;
  p.err = err;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    std::string rest = line.substr(2);
    switch (line[0]) {
    case 'S':
      p.switches.push_back(rest);
      break;
    case 'I':
      p.inputs.push_back(rest);
      break;
    case 'E':
      p.exec.push_back(rest);
      break;
    case 'F':
      p.startfile.push_back(rest);
      break;
    case 'C':
      p.include.push_back(rest);
      break;
    case 'V': {
      std::size_t eq = rest.find('=');
      p.settings[rest.substr(0, eq)] = rest.substr(eq + 1);
      break;
    }
    }
  }
  return p;
}

using strings = std::vector<std::string>;

TEST(ProcessCommand, SwitchesAndInputs) {
  processed p = run_process_command(
      {"-c", "a.o", "-Wl,-rpath,/x", "b.o", "-oout.o", "-L/lib/x", "-lz",
       "-Xlinker", "--gc", "-O2", "-frobnicate", "-Wno-frobnicate", "-x", "c++",
       "y.c", "-x", "none", "z.c"});
  EXPECT_EQ(p.inputs, (strings{"a.o", "-rpath:*", "/x:*", "b.o", "-lz:*",
                               "--gc:*", "y.c:c++", "z.c"}));
  EXPECT_EQ(p.switches,
            (strings{"-c", "-o out.o", "-L/lib/x", "-O2", "-frobnicate [?]",
                     "-Wno-frobnicate", "-shared-libvelk [v]"}));
  EXPECT_EQ(p.err, "");
}

TEST(ProcessCommand, CommaSplittingKeepsEmptyPieces) {
  processed p = run_process_command({"-c", "-Wa,a,,b", "-Wa,", "x.s"});
  EXPECT_EQ(p.settings["assembler"], "[a][][b][]");
  EXPECT_EQ(split_commas("a,,b"), (strings{"a", "", "b"}));
  EXPECT_EQ(split_commas(""), (strings{""}));
}

TEST(ProcessCommand, SaveTempsAndDumpdirOrder) {
  struct {
    strings args;
    const char* overrides;
  } cases[] = {
      {{"-save-temps", "-save-temps=cwd"}, "1"},
      {{"-save-temps=cwd", "-save-temps"}, "1"},
      {{"-dumpdir", "d/", "-save-temps=obj"}, "1"},
      {{"-save-temps=obj", "-dumpdir", "d/"}, "0"},
  };
  for (const auto& c : cases) {
    strings args = c.args;
    args.push_back("x.c");
    processed p = run_process_command(args);
    SCOPED_TRACE(args[0] + " " + args[1]);
    // What the order decides is whether -dumpdir stands.
    EXPECT_EQ(p.settings["overrides"], c.overrides);
  }
  // Plain -save-temps only sets a mode that is not set yet.
  processed cwd_first = run_process_command(
      {"-save-temps=cwd", "-save-temps", "-o", "dir/out", "x.c"});
  EXPECT_EQ(cwd_first.settings["save_temps"], "cwd");
  processed plain_first = run_process_command(
      {"-save-temps", "-save-temps=cwd", "-o", "dir/out", "x.c"});
  EXPECT_EQ(plain_first.settings["save_temps"], "cwd");
}

TEST(ProcessCommand, PassExitCodesReachesTheExitStatusRule) {
  EXPECT_EQ(run_process_command({"x.c"}).settings["pass_exit_codes"], "0");
  EXPECT_EQ(run_process_command({"-pass-exit-codes", "x.c"})
                .settings["pass_exit_codes"],
            "1");
}

TEST(ProcessCommand, DefaultSearchLists) {
  processed p = run_process_command({"x.c"});
  const std::string tool = "/usr/local/brae13/aarch64-portbld-freebsd14.3/";
  EXPECT_EQ(p.exec,
            (strings{"/usr/local/brae13/libexec/velk/ 1",
                     "/usr/local/brae13/libexec/velk/ 2",
                     "/usr/local/brae13/lib/velk/ 2", tool + "bin/ 0"}));
  EXPECT_EQ(p.startfile,
            (strings{"/usr/local/brae13/lib/velk/ 1", tool + "lib/ 0"}));
  EXPECT_TRUE(p.include.empty());
}

TEST(ProcessCommand, BPrefixesAndEnvironmentPaths) {
  char pattern[] = "/tmp/velk-cmdline-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  std::string dir = pattern;
  processed p = run_process_command(
      {"-B" + dir, "-B", dir + "/cross-", "-B/nonexistent/", "x.c"},
      {{"COMPILER_PATH", "/cp1::/cp2/"},
       {"LIBRARY_PATH", "/lp1"},
       {"LPATH", "/lp2/"}});
  rmdir(pattern);
  ASSERT_GE(p.exec.size(), 6u);
  EXPECT_EQ(strings(p.exec.begin(), p.exec.begin() + 6),
            (strings{dir + "/ 0", dir + "/cross- 0", "/nonexistent/ 0",
                     "/cp1/ 0", "./ 0", "/cp2/ 0"}));
  ASSERT_GE(p.startfile.size(), 5u);
  EXPECT_EQ(strings(p.startfile.begin(), p.startfile.begin() + 5),
            (strings{dir + "/ 0", dir + "/cross- 0", "/nonexistent/ 0",
                     "/lp1/ 0", "/lp2/ 0"}));
  EXPECT_EQ(p.include,
            (strings{dir + "/ 0", dir + "/cross- 0", "/nonexistent/ 0",
                     "/cp1/ 0", "./ 0", "/cp2/ 0"}));
}

TEST(ProcessCommand, RelocatedTree) {
  char pattern[] = "/tmp/velk-reloc-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  std::string root = pattern;
  ASSERT_EQ(mkdir((root + "/bin").c_str(), 0755), 0);
  processed p = run_process_command({"x.c"}, {}, root + "/bin/velk++");
  ASSERT_GE(p.exec.size(), 2u);
  EXPECT_EQ(p.exec[0], root + "/bin/../libexec/velk/ 0");
  EXPECT_EQ(p.startfile[0], root + "/bin/../lib/velk/ 0");
  // Run through a symbolic link, the tree is where the link points, unless
  // -no-canonical-prefixes says to take the link's own place.
  ASSERT_EQ(mkdir((root + "/elsewhere").c_str(), 0755), 0);
  std::string program = root + "/bin/velk++";
  FILE* f = std::fopen(program.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  ASSERT_EQ(chmod(program.c_str(), 0755), 0);
  std::string link = root + "/elsewhere/velk++";
  ASSERT_EQ(symlink(program.c_str(), link.c_str()), 0);
  char* real = realpath(root.c_str(), nullptr);
  ASSERT_NE(real, nullptr);
  std::string real_root = real;
  std::free(real);
  processed linked = run_process_command({"x.c"}, {}, link);
  EXPECT_EQ(linked.startfile[0], real_root + "/bin/../lib/velk/ 0");
  processed literal =
      run_process_command({"-no-canonical-prefixes", "x.c"}, {}, link);
  EXPECT_EQ(literal.startfile[0], root + "/elsewhere/../lib/velk/ 0");
  EXPECT_EQ(literal.exec[0], root + "/elsewhere/../libexec/velk/ 0");
  unlink(link.c_str());
  unlink(program.c_str());
  rmdir((root + "/elsewhere").c_str());
  // Where bin/ cannot be searched, the "/../" collapses.
  ASSERT_EQ(rmdir((root + "/bin").c_str()), 0);
  ASSERT_EQ(rmdir(root.c_str()), 0);
  processed gone = run_process_command({"x.c"}, {}, root + "/bin/velk++");
  EXPECT_EQ(gone.exec[0], root + "/libexec/velk/ 0");
  processed q =
      run_process_command({"x.c"}, {{"VELK_EXEC_PREFIX", "/e/lib/velk/"}});
  EXPECT_EQ(q.exec[0], "/e/libexec/velk/ 0");
  EXPECT_EQ(q.startfile[0], "/e/lib/velk/ 0");
}

TEST(ProcessCommand, ManyAndLongPathElements) {
  std::string many;
  for (int i = 0; i < 5000; ++i)
    many += "/d" + std::to_string(i) + ":";
  many += "/" + std::string(100000, 'x');
  processed p = run_process_command({"x.c"}, {{"COMPILER_PATH", many}});
  EXPECT_EQ(p.include.size(), 5001u);
  EXPECT_EQ(p.err, "");
}

} // namespace
} // namespace velk
