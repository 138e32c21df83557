// End-to-end cases of the archive tool wrappers velk-ar, velk-nm and
// velk-ranlib, run from a relocated tree whose archive tools are the
// stand-in (or, for a real archive, scripts that hand over to the machine's
// own archiver and symbol lister).
#include "tests/e2e/harness.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace velk::test {
namespace {

constexpr const char* target = "aarch64-portbld-freebsd14.3";

std::string real_path(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  std::string result = resolved != nullptr ? resolved : path;
  std::free(resolved);
  return result;
}

// The directories the wrappers derive from their place in the tree.
struct layout {
  std::string tool_dir; // the target's tool directory, climbed to
  std::string plugin;   // the installed plug-in
};

layout layout_of(const std::string& prefix) {
  std::string p = real_path(prefix);
  return {p + "/bin/../lib/velk/" + target + "/13.3.0/../../../../" + target +
              "/bin/",
          p + "/bin/../libexec/velk/" + target + "/13.3.0/libweft.so"};
}

std::string wrapper(const sandbox& box, const std::string& name) {
  return box.prefix() + "/bin/" + name;
}

// Another name for the stand-in program (a hard link: it logs the name it
// is called by).
void link_standin(const sandbox& box, const std::string& to) {
  ASSERT_EQ(link((box.tool_dir() + "/as").c_str(), to.c_str()), 0) << to;
}

void make_dir(const std::string& path) {
  ASSERT_EQ(mkdir(path.c_str(), 0755), 0) << path;
}

TEST(Wrappers, PluginInFrontOfTheArgumentsAndTheArchiverKeyGetsADash) {
  struct row {
    const char* program;
    std::vector<std::string> args;
    const char* tool;
    std::string tool_args; // after "--plugin <plug-in>"
  };
  const row rows[] = {
      {"velk-ar", {"rcs", "libx.a", "a.o"}, "ar", " -rcs libx.a a.o"},
      {"velk-ar", {}, "ar", ""},
      {"velk-ar", {"-t", "libx.a"}, "ar", " -t libx.a"},
      {"velk-ar", {"", "x"}, "ar", " - x"},
      {"velk-nm", {"libx.a"}, "nm", " libx.a"},
      {"velk-nm", {"-g", "rcs"}, "nm", " -g rcs"},
      {"velk-ranlib", {"libx.a"}, "ranlib", " libx.a"},
  };
  sandbox box;
  layout l = layout_of(box.prefix());
  for (const row& r : rows) {
    SCOPED_TRACE(r.program);
    box.clear_calls();
    run_result res = box.run(r.args, {.program = wrapper(box, r.program)});
    EXPECT_EQ(res.exit_status, 0);
    EXPECT_EQ(res.out, "");
    EXPECT_EQ(res.err, "");
    ASSERT_EQ(res.calls.size(), 1u);
    EXPECT_EQ(res.calls[0].program, r.tool);
    EXPECT_EQ(res.calls[0].joined_args(), "--plugin " + l.plugin + r.tool_args);
  }
}

TEST(Wrappers, PrefixOptionJoinedOrSeparateComesFirstAndIsRemoved) {
  sandbox box;
  std::string alt = box.root() + "/alt";
  make_dir(alt);
  box.write_file(alt + "/libweft.so");
  link_standin(box, alt + "/ar");
  struct row {
    std::vector<std::string> args;
    std::string tool_args;
  };
  const row rows[] = {
      {{"-B" + alt + "/", "rcs", "x.a"}, " -rcs x.a"},
      {{"-B" + alt, "rcs", "x.a"}, " -rcs x.a"},
      {{"-B", alt, "rcs", "x.a"}, " -rcs x.a"},
      // Only the first -B is the wrappers'; a later one reaches the tool.
      {{"rcs", "-B", alt, "x.a", "-Bother"}, " -rcs x.a -Bother"},
      {{"-B", alt, "-B", "more"}, " -B more"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.args[0] + " " + r.args[1]);
    box.clear_calls();
    run_result res = box.run(r.args, {.program = wrapper(box, "velk-ar")});
    EXPECT_EQ(res.exit_status, 0);
    EXPECT_EQ(res.err, "");
    ASSERT_EQ(res.calls.size(), 1u);
    EXPECT_EQ(res.calls[0].joined_args(),
              "--plugin " + alt + "/libweft.so" + r.tool_args);
  }

  // The -B directory is searched before PATH too: with no ar in the tree,
  // the one in it is run, while the plug-in still comes from the tree.
  std::string only_tool = box.root() + "/only-tool";
  make_dir(only_tool);
  link_standin(box, only_tool + "/nm");
  ASSERT_EQ(unlink((box.tool_dir() + "/nm").c_str()), 0);
  box.clear_calls();
  run_result res =
      box.run({"-B", only_tool, "x.a"}, {.program = wrapper(box, "velk-nm")});
  EXPECT_EQ(res.exit_status, 0);
  ASSERT_EQ(res.calls.size(), 1u);
  EXPECT_EQ(res.calls[0].joined_args(),
            "--plugin " + layout_of(box.prefix()).plugin + " x.a");
}

TEST(Wrappers, OneCharacterPrefixDirectoryIsADirectory) {
  sandbox box;
  make_dir(box.work() + "/d");
  box.write_file("d/libweft.so");
  box.write_file("dlibweft.so");
  run_result res =
      box.run({"-B", "d", "x.a"}, {.program = wrapper(box, "velk-nm")});
  EXPECT_EQ(res.exit_status, 0);
  ASSERT_EQ(res.calls.size(), 1u);
  EXPECT_EQ(res.calls[0].joined_args(), "--plugin d/libweft.so x.a");
}

TEST(Wrappers, LonePrefixOptionPrintsTheUsage) {
  sandbox box;
  for (std::string tool : {"ar", "nm", "ranlib"}) {
    run_result res =
        box.run({"x.a", "-B"}, {.program = wrapper(box, "velk-" + tool)});
    EXPECT_EQ(res.exit_status, 1);
    EXPECT_EQ(res.out, "");
    EXPECT_EQ(res.err, "Usage: velk-" + tool + " [-B prefix] " + tool +
                           " arguments ...\n");
  }
  EXPECT_TRUE(box.calls().empty());
}

TEST(Wrappers, ExecPrefixVariableStandsForTheProgramsDirectory) {
  sandbox box;
  // Called by a bare name that is not on PATH, the program cannot tell
  // where it lives and looks in the configured installation.
  run_options opts{.program = wrapper(box, "velk-ar"), .argv0 = "velk-ar"};
  run_result res = box.run({"rcs", "x.a"}, opts);
  EXPECT_EQ(res.exit_status, 1);
  EXPECT_EQ(res.err, "velk-ar: Cannot find plugin 'libweft.so'\n");
  EXPECT_TRUE(res.calls.empty());

  opts.env["VELK_EXEC_PREFIX"] = box.prefix() + "/bin/";
  res = box.run({"rcs", "x.a"}, opts);
  EXPECT_EQ(res.exit_status, 0);
  EXPECT_EQ(res.err, "");
  ASSERT_EQ(res.calls.size(), 1u);
  EXPECT_EQ(res.calls[0].joined_args(),
            "--plugin " + layout_of(box.prefix()).plugin + " -rcs x.a");
}

TEST(Wrappers, MovedTreeWithAColonInItsNameStillFindsItsFiles) {
  sandbox box;
  std::string moved = box.root() + "/inst:1";
  ASSERT_EQ(rename(box.prefix().c_str(), moved.c_str()), 0);
  run_result res = box.run({"x.a"}, {.program = moved + "/bin/velk-ranlib"});
  EXPECT_EQ(res.exit_status, 0);
  EXPECT_EQ(res.err, "");
  ASSERT_EQ(res.calls.size(), 1u);
  EXPECT_EQ(res.calls[0].joined_args(),
            "--plugin " + layout_of(moved).plugin + " x.a");
}

TEST(Wrappers, ToolFoundOnPathWhenTheTreeHasNone) {
  sandbox box;
  ASSERT_EQ(unlink((box.tool_dir() + "/ar").c_str()), 0);
  // A directory called ar is no program.
  make_dir(box.root() + "/dirs");
  make_dir(box.root() + "/dirs/ar");
  make_dir(box.root() + "/tools");
  link_standin(box, box.root() + "/tools/ar");
  run_options opts{.program = wrapper(box, "velk-ar")};
  opts.env["PATH"] =
      box.root() + "/dirs:" + box.root() + "/tools:/usr/bin:/bin";
  run_result res = box.run({"t", "x.a"}, opts);
  EXPECT_EQ(res.exit_status, 0);
  EXPECT_EQ(res.err, "");
  ASSERT_EQ(res.calls.size(), 1u);
  EXPECT_EQ(res.calls[0].program, "ar");
  EXPECT_EQ(res.calls[0].joined_args(),
            "--plugin " + layout_of(box.prefix()).plugin + " -t x.a");
}

TEST(Wrappers, MissingPluginOrToolIsFatal) {
  sandbox box;
  run_options opts{.program = wrapper(box, "velk-ranlib")};
  opts.env["PATH"] = box.root() + "/nowhere";
  ASSERT_EQ(unlink((box.tool_dir() + "/ranlib").c_str()), 0);
  run_result res = box.run({"x.a"}, opts);
  EXPECT_EQ(res.exit_status, 1);
  EXPECT_EQ(res.out, "");
  EXPECT_EQ(res.err, box.prefix() + "/bin/velk-ranlib: Cannot find binary "
                                    "'ranlib'\n");

  // Without the plug-in the run fails even though the tool is there.
  ASSERT_EQ(unlink((box.exec_dir() + "/libweft.so").c_str()), 0);
  opts.program = wrapper(box, "velk-nm");
  opts.argv0 = "./velk-nm";
  opts.cwd = box.prefix() + "/bin";
  res = box.run({"x.a"}, opts);
  EXPECT_EQ(res.exit_status, 1);
  EXPECT_EQ(res.err, "./velk-nm: Cannot find plugin 'libweft.so'\n");
  EXPECT_TRUE(box.calls().empty());
}

TEST(Wrappers, ToolsExitStatusPassesThroughAndItsFailuresAreReported) {
  sandbox box;
  layout l = layout_of(box.prefix());
  box.set_behaviour("ar", {.exit_status = 2, .err = "ar: bad archive\n"});
  run_result res = box.run({"t", "x.a"}, {.program = wrapper(box, "velk-ar")});
  EXPECT_EQ(res.exit_status, 2);
  EXPECT_EQ(res.err, "ar: bad archive\n");

  box.set_behaviour("nm", {.signal_number = SIGKILL});
  res = box.run({"x.a"}, {.program = wrapper(box, "velk-nm")});
  EXPECT_EQ(res.exit_status, 1);
  EXPECT_EQ(res.err, l.tool_dir + "nm terminated with signal 9 [" +
                         strsignal(SIGKILL) + "]\n");

  // A tool that cannot be started at all.
  std::string ranlib = box.tool_dir() + "/ranlib";
  ASSERT_EQ(unlink(ranlib.c_str()), 0);
  std::ofstream(ranlib) << "#!/nonexistent/interpreter\n";
  chmod(ranlib.c_str(), 0755);
  res = box.run({"x.a"}, {.program = wrapper(box, "velk-ranlib")});
  EXPECT_EQ(res.exit_status, 1);
  EXPECT_EQ(res.err, "Error running " + l.tool_dir + "ranlib: execvp\n");
}

// The first program of `names` found in /usr/bin or /bin, or "".
std::string system_program(std::initializer_list<const char*> names) {
  for (const char* name : names)
    for (const char* dir : {"/usr/bin/", "/bin/"}) {
      std::string path = std::string(dir) + name;
      if (access(path.c_str(), X_OK) == 0)
        return path;
    }
  return "";
}

// A target tool that checks the plug-in arguments, drops them and runs the
// machine's own tool with the rest.
void install_forwarder(const sandbox& box, const std::string& name,
                       const std::string& real) {
  std::string path = box.tool_dir() + "/" + name;
  unlink(path.c_str()); // a hard link into the stage: never write through it
  std::ofstream(path) << "#!/bin/sh\n"
                         "[ \"$1\" = --plugin ] || exit 90\n"
                         "case \"$2\" in */libweft.so) ;; *) exit 91 ;; esac\n"
                         "[ -r \"$2\" ] || exit 92\n"
                         "shift 2\n"
                         "exec " +
                             real + " \"$@\"\n";
  chmod(path.c_str(), 0755);
}

TEST(Wrappers, RealArchiveBuiltAndListed) {
  std::string clang = system_program({"clang"});
  std::string ar = system_program({"ar"});
  std::string nm = system_program({"nm"});
  if (clang.empty() || ar.empty() || nm.empty())
    GTEST_SKIP() << "needs clang, ar and nm";
  sandbox box;
  install_forwarder(box, "ar", ar);
  install_forwarder(box, "nm", nm);
  box.write_file("a.c", "int alpha(void) { return 1; }\n");
  box.write_file("b.c", "int beta(void) { return 2; }\n");
  for (const char* name : {"a", "b"}) {
    std::string command = "cd '" + box.work() + "' && " + clang + " -c " +
                          name + ".c -o " + name + ".o";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }

  run_result res = box.run({"rcs", "libx.a", "a.o", "b.o"},
                           {.program = wrapper(box, "velk-ar")});
  EXPECT_EQ(res.exit_status, 0) << res.err;
  EXPECT_EQ(box.read_file("libx.a").rfind("!<arch>\n", 0), 0u);

  res = box.run({"t", "libx.a"}, {.program = wrapper(box, "velk-ar")});
  EXPECT_EQ(res.exit_status, 0) << res.err;
  EXPECT_EQ(res.out, "a.o\nb.o\n");

  res = box.run({"libx.a"}, {.program = wrapper(box, "velk-nm")});
  EXPECT_EQ(res.exit_status, 0) << res.err;
  EXPECT_NE(res.out.find(" T alpha\n"), std::string::npos) << res.out;
  EXPECT_NE(res.out.find(" T beta\n"), std::string::npos) << res.out;

  // The archiver's own failure reaches the caller.
  res = box.run({"t", "missing.a"}, {.program = wrapper(box, "velk-ar")});
  EXPECT_NE(res.exit_status, 0);
  EXPECT_NE(res.err, "");
}

} // namespace
} // namespace velk::test
