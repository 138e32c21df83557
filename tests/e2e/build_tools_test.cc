// Build tools driving velk++: a CMake project and a Makefile project, each a
// library and a program from three sources, built two jobs at a time with
// the stand-in toolchain, and built again after one source changes.  With
// the host's clang, the CMake project is built by the host adapter toolchain
// and its program runs.  The Makefile project is also built behind ccache,
// and behind distcc with a daemon on the loopback address.
#include "tests/e2e/harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <filesystem>
#include <map>
#include <netinet/in.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace velk::test {
namespace {

// A library of two sources and a program of one, with headers between them.
void write_sources(sandbox& box, const std::string& dir) {
  box.write_file(dir + "/greet.h", "#include <string>\nstd::string greet();\n");
  box.write_file(dir + "/words.h", "const char* word();\n");
  box.write_file(dir + "/greet.cc",
                 "#include \"greet.h\"\n#include \"words.h\"\n"
                 "std::string greet() {\n"
                 "  return std::string(\"Hello, \") + word();\n}\n");
  box.write_file(dir + "/words.cc", "#include \"words.h\"\n"
                                    "const char* word() { return \"build "
                                    "tools\"; }\n");
  box.write_file(dir + "/main.cc",
                 "#include \"greet.h\"\n#include <iostream>\n"
                 "int main() { std::cout << greet() << '\\n'; }\n");
}

constexpr const char* cmake_project =
    "cmake_minimum_required(VERSION 3.25)\n"
    "project(demo LANGUAGES CXX)\n"
    "add_library(greet STATIC greet.cc words.cc)\n"
    "add_executable(demo main.cc)\n"
    "target_link_libraries(demo PRIVATE greet)\n";

// The link carries a `+`: make hands its jobserver only to the commands it
// is told take part in it.
constexpr const char* makefile_project = "objects = greet.o words.o\n"
                                         "demo: main.o libgreet.a\n"
                                         "\t+$(CXX) main.o libgreet.a -o $@\n"
                                         "libgreet.a: $(objects)\n"
                                         "\tar rc $@ $(objects)\n"
                                         "%.o: %.cc\n"
                                         "\t$(CXX) -c $< -o $@\n"
                                         "main.o greet.o: greet.h\n"
                                         "greet.o words.o: words.h\n";

// Runs a build tool, failing the test with its output when it fails.
run_result run_tool(sandbox& box, const std::string& program,
                    const std::vector<std::string>& args,
                    const std::string& cwd, run_options opts = {}) {
  opts.program = program;
  opts.cwd = cwd;
  opts.timeout_seconds = 240;
  run_result r = box.run(args, opts);
  EXPECT_EQ(r.exit_status, 0) << program << "\n" << r.out << r.err;
  return r;
}

// The sources the compiler proper compiled, or only preprocessed (-E, run
// by ccache and distcc to hash a source or to ship it), sorted.
std::vector<std::string> sources(const std::vector<tool_call>& calls,
                                 bool preprocessed) {
  std::vector<std::string> found;
  for (const tool_call& c : calls) {
    if (c.program != "tarn1xx" ||
        (std::find(c.args.begin(), c.args.end(), "-E") != c.args.end()) !=
            preprocessed)
      continue;
    for (std::size_t i = 0; i < c.args.size(); ++i) {
      const std::string& a = c.args[i];
      if (a == "-dumpbase" || a == "-dumpbase-ext" || a == "-dumpdir")
        ++i; // names derived from the source, not the source
      else if (a.ends_with(".cc"))
        found.push_back(a.substr(a.rfind('/') + 1));
    }
  }
  std::sort(found.begin(), found.end());
  return found;
}

std::vector<std::string> compiled(const std::vector<tool_call>& calls) {
  return sources(calls, false);
}

std::vector<std::string> preprocessed(const std::vector<tool_call>& calls) {
  return sources(calls, true);
}

std::size_t count_calls(const std::vector<tool_call>& calls,
                        const std::string& program) {
  return static_cast<std::size_t>(
      std::count_if(calls.begin(), calls.end(),
                    [&](const tool_call& c) { return c.program == program; }));
}

std::vector<const tool_call*> links(const std::vector<tool_call>& calls) {
  std::vector<const tool_call*> found;
  for (const tool_call& c : calls) {
    if (c.program == "sheaf2")
      found.push_back(&c);
  }
  return found;
}

const std::vector<std::string> all_sources = {"greet.cc", "main.cc",
                                              "words.cc"};

void configure_cmake(sandbox& box, const run_options& opts = {}) {
  write_sources(box, "src");
  box.write_file("src/CMakeLists.txt", cmake_project);
  // The stand-in's outputs are placeholders, so CMake calls the compiler
  // "unknown"; it still compiles and links its probe through velk++, which
  // is all it needs to go on.
  run_tool(box, VELK_CMAKE,
           {"-G", "Ninja", "-DCMAKE_MAKE_PROGRAM=" VELK_NINJA,
            "-DCMAKE_CXX_COMPILER=" + box.driver(), "-S", "src", "-B", "build"},
           box.work(), opts);
}

TEST(BuildTools, CMakeProjectBuildsAndRebuildsOnlyTheChangedSource) {
  sandbox box;
  configure_cmake(box);
  EXPECT_TRUE(box.list_dir(box.tmp()).empty());

  box.clear_calls();
  run_tool(box, VELK_CMAKE, {"--build", "build", "-j2"}, box.work());
  std::vector<tool_call> calls = box.calls();
  EXPECT_EQ(compiled(calls), all_sources);
  ASSERT_EQ(links(calls).size(), 1u);
  EXPECT_NE(links(calls)[0]->joined_args().find(" -o demo "),
            std::string::npos);
  EXPECT_NE(links(calls)[0]->joined_args().find(" libgreet.a "),
            std::string::npos);
  EXPECT_TRUE(box.exists("build/demo"));
  EXPECT_TRUE(box.exists("build/libgreet.a"));
  EXPECT_TRUE(box.list_dir(box.tmp()).empty());

  box.clear_calls();
  box.write_file("src/words.cc", "const char* word() { return \"again\"; }\n");
  run_tool(box, VELK_CMAKE, {"--build", "build", "-j2"}, box.work());
  calls = box.calls();
  EXPECT_EQ(compiled(calls), std::vector<std::string>{"words.cc"});
  EXPECT_EQ(links(calls).size(), 1u);
  EXPECT_TRUE(box.list_dir(box.tmp()).empty());
}

TEST(BuildTools, MakefileProjectSharesTheJobserverWithTheLink) {
  sandbox box;
  write_sources(box, "src");
  box.write_file("src/Makefile", makefile_project);
  const std::string src = box.work() + "/src";
  const std::string cxx = "CXX=" + box.driver();

  run_tool(box, VELK_MAKE, {"-j2", cxx}, src);
  std::vector<tool_call> calls = box.calls();
  EXPECT_EQ(compiled(calls), all_sources);
  ASSERT_EQ(links(calls).size(), 1u);
  const tool_call& link = *links(calls)[0];
  ASSERT_TRUE(link.env.contains("MAKEFLAGS"));
  EXPECT_NE(link.env.at("MAKEFLAGS").find("--jobserver-auth="),
            std::string::npos)
      << link.env.at("MAKEFLAGS");
  EXPECT_TRUE(box.exists("src/demo"));
  EXPECT_TRUE(box.list_dir(box.tmp()).empty());

  box.clear_calls();
  box.write_file("src/greet.cc", "#include \"greet.h\"\n"
                                 "std::string greet() { return \"hi\"; }\n");
  run_tool(box, VELK_MAKE, {"-j2", cxx}, src);
  calls = box.calls();
  EXPECT_EQ(compiled(calls), std::vector<std::string>{"greet.cc"});
  EXPECT_EQ(links(calls).size(), 1u);
  EXPECT_TRUE(box.list_dir(box.tmp()).empty());
}

// The host adapter toolchain in place of the stand-in's compiler proper,
// assembler and linker front-end.
void install_adapter(sandbox& box) {
  // The installed programs may be hard links into the stage: replace them,
  // never write through them.
  auto replace = [](const std::string& path) {
    std::filesystem::remove(path);
    std::filesystem::copy_file(VELK_HOST_ADAPTER, path);
  };
  for (const char* program : {"tarn1", "tarn1xx", "sheaf2"})
    replace(box.exec_dir() + "/" + program);
  replace(box.tool_dir() + "/as");
}

TEST(BuildTools, CMakeProjectRunsWhenBuiltByTheHostAdapter) {
  if (std::string(VELK_HOST_CC).empty() || std::string(VELK_HOST_CXX).empty())
    GTEST_SKIP() << "no clang on this machine";
  sandbox box;
  install_adapter(box);
  run_options opts;
  opts.env = {{"VELK_HOST_CC", VELK_HOST_CC}, {"VELK_HOST_CXX", VELK_HOST_CXX}};
  configure_cmake(box, opts);
  run_tool(box, VELK_CMAKE, {"--build", "build", "-j2"}, box.work(), opts);
  run_result r = box.run({}, {.program = box.work() + "/build/demo"});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.out, "Hello, build tools\n");
}

// Everything a build of the Makefile project leaves, so that the next build
// compiles every source again.
void remove_build_outputs(const std::string& dir) {
  for (const char* name :
       {"main.o", "greet.o", "words.o", "libgreet.a", "demo"})
    std::filesystem::remove(dir + "/" + name);
}

// ccache's statistics counters, from --print-stats.
std::map<std::string, long> ccache_stats(sandbox& box, run_options opts) {
  opts.program = VELK_CCACHE;
  run_result r = box.run({"--print-stats"}, opts);
  EXPECT_EQ(r.exit_status, 0) << r.err;
  std::map<std::string, long> stats;
  std::istringstream in(r.out);
  std::string name;
  long value;
  while (in >> name >> value)
    stats[name] = value;
  return stats;
}

// Built three times through `ccache velk++` with a cache of the test's own:
// into the empty cache, again from the same sources, and after one source
// changed.  A hit compiles nothing; the stand-in's preprocessed output is
// its source, so only the changed source misses.
TEST(BuildTools, CcacheServesUnchangedSourcesFromTheCache) {
  if (std::string(VELK_CCACHE).empty())
    GTEST_SKIP() << "ccache is not installed: install the ccache package to "
                    "run this test";
  sandbox box;
  write_sources(box, "src");
  box.write_file("src/Makefile", makefile_project);
  const std::string src = box.work() + "/src";
  const std::string cxx = "CXX=" VELK_CCACHE " " + box.driver();
  const std::string cache = box.root() + "/ccache";
  // Never the user's cache nor the system's configuration.
  const run_options opts{
      .env = {{"CCACHE_DIR", cache},
              {"CCACHE_CONFIGPATH", cache + "/ccache.conf"}}};

  struct {
    const char* name;
    const char* changed; // source rewritten before the build
    std::vector<std::string> compiled;
    long hits, misses;
  } const steps[] = {
      {"empty cache", nullptr, all_sources, 0, 3},
      {"same sources", nullptr, {}, 3, 0},
      {"one source changed", "words.cc", {"words.cc"}, 2, 1},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.name);
    if (step.changed)
      box.write_file(src + "/" + step.changed,
                     "const char* word() { return \"cached\"; }\n");
    remove_build_outputs(src);
    box.clear_calls();
    run_tool(box, VELK_CCACHE, {"-z"}, src, opts);
    run_tool(box, VELK_MAKE, {"-j2", cxx}, src, opts);

    const std::vector<tool_call> calls = box.calls();
    EXPECT_EQ(compiled(calls), step.compiled);
    EXPECT_EQ(count_calls(calls, "as"), step.compiled.size());
    ASSERT_EQ(links(calls).size(), 1u);
    std::map<std::string, long> stats = ccache_stats(box, opts);
    EXPECT_EQ(stats["direct_cache_hit"] + stats["preprocessed_cache_hit"],
              step.hits);
    EXPECT_EQ(stats["cache_miss"], step.misses);
    EXPECT_EQ(stats["called_for_link"], 1);
    for (const char* object : {"main.o", "greet.o", "words.o"})
      EXPECT_EQ(box.read_file(src + "/" + object), "standin output of as\n");
    EXPECT_TRUE(box.exists(src + "/demo"));
    EXPECT_TRUE(box.list_dir(box.tmp()).empty());
  }
}

// A loopback port that nothing listens on at the moment.
int free_port() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof addr;
  int port = 0;
  if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&addr), size) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size) == 0)
    port = ntohs(addr.sin_port);
  if (fd >= 0)
    close(fd);
  return port;
}

// Waits until `port` accepts connections, for at most ten seconds and
// only while `server` runs.
bool wait_for_listener(int port, background_process& server) {
  for (int attempt = 0; attempt < 500 && server.running(); ++attempt) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool up =
        connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    close(fd);
    if (up)
      return true;
    timespec pause{0, 20 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
  return false;
}

// A directory every user may write: run by root, distccd gives up its
// privileges for an unprivileged user of its own.
void make_open_dir(const std::string& path) {
  std::filesystem::create_directories(path);
  std::filesystem::permissions(path, std::filesystem::perms::all);
}

// The Makefile project built through `distcc velk++` with a distccd of the
// test's own on 127.0.0.1: each source is preprocessed locally and compiled
// by the daemon, and the link runs locally.  Distribution failures are not
// hidden by local compiles, and the daemon and its workers end with the
// test.
TEST(BuildTools, DistccCompilesOnTheDaemonAndLinksLocally) {
  if (std::string(VELK_DISTCC).empty() || std::string(VELK_DISTCCD).empty())
    GTEST_SKIP() << "distcc is not installed: install the distcc package to "
                    "run this test";
  if (std::string(VELK_TIMEOUT).empty())
    GTEST_SKIP() << "no timeout program to bound the distcc daemon's life";
  sandbox box;
  write_sources(box, "src");
  box.write_file("src/Makefile", makefile_project);
  const std::string src = box.work() + "/src";

  // The daemon's corner: its log, its temporary files and the call log of
  // the stand-in programs it runs.  The installed tree is reached through
  // the sandbox, which others may pass through but not list.
  const std::string daemon_dir = box.root() + "/distccd";
  make_open_dir(daemon_dir + "/tmp");
  make_open_dir(daemon_dir);
  chmod(box.root().c_str(), 0711);
  const std::string daemon_log = daemon_dir + "/distccd.log";
  const std::string pid_file = daemon_dir + "/distccd.pid";
  const std::string port = std::to_string(free_port());
  background_process daemon = box.start(
      {VELK_TIMEOUT, "300", VELK_DISTCCD, "--daemon", "--no-detach", "--listen",
       "127.0.0.1", "--port", port, "--allow", "127.0.0.1",
       // Our velk++ is not on distcc's list of masqueraded compilers.
       "--enable-tcp-insecure", "--jobs", "2", "--log-file", daemon_log,
       "--verbose", "--pid-file", pid_file},
      daemon_dir + "/distccd.out",
      {.env = {{"TMPDIR", daemon_dir + "/tmp"},
               {"VELK_STANDIN_LOG", daemon_dir + "/calls.log"}}});
  ASSERT_TRUE(wait_for_listener(std::stoi(port), daemon))
      << box.read_file(daemon_dir + "/distccd.out")
      << box.read_file(daemon_log);

  const std::string client_dir = box.root() + "/distcc";
  std::filesystem::create_directories(client_dir);
  const run_options client{
      .env = {{"DISTCC_HOSTS", "127.0.0.1:" + port + "/2"},
              {"DISTCC_DIR", client_dir},
              // A job the daemon does not take fails, never compiled here.
              {"DISTCC_FALLBACK", "0"},
              {"DISTCC_SKIP_LOCAL_RETRY", "1"},
              {"DISTCC_VERBOSE", "1"},
              {"DISTCC_LOG", client_dir + "/distcc.log"}}};
  run_tool(box, VELK_MAKE, {"-j2", "CXX=" VELK_DISTCC " " + box.driver()}, src,
           client);

  const std::string client_log = box.read_file(client_dir + "/distcc.log");
  for (const std::string& source : all_sources)
    EXPECT_NE(client_log.find("compile " + source + " on 127.0.0.1:" + port +
                              "/2 completed ok"),
              std::string::npos)
        << source << "\n"
        << client_log;
  EXPECT_EQ(client_log.find("failed to distribute"), std::string::npos);

  // Here: the preprocessing and the link.
  const std::vector<tool_call> local = box.calls();
  EXPECT_EQ(preprocessed(local), all_sources);
  EXPECT_TRUE(compiled(local).empty());
  EXPECT_EQ(count_calls(local, "as"), 0u);
  ASSERT_EQ(links(local).size(), 1u);
  EXPECT_NE(links(local)[0]->joined_args().find(" -o demo "),
            std::string::npos);
  EXPECT_TRUE(box.exists(src + "/demo"));

  // On the daemon: velk++ -c of each shipped preprocessed source, into the
  // daemon's own files.
  const std::vector<tool_call> remote = read_calls(daemon_dir + "/calls.log");
  EXPECT_EQ(count_calls(remote, "tarn1xx"), 3u);
  EXPECT_EQ(count_calls(remote, "as"), 3u);
  EXPECT_EQ(count_calls(remote, "sheaf2"), 0u);
  for (const tool_call& c : remote) {
    const auto options = c.env.find("SHEAF_VELK_OPTIONS");
    ASSERT_NE(options, c.env.end()) << c.joined_args();
    EXPECT_TRUE(
        options->second.starts_with("'-c' '-o' '" + daemon_dir + "/tmp/"))
        << options->second;
    if (c.program != "tarn1xx")
      continue;
    EXPECT_EQ(c.args.at(0), "-fpreprocessed") << c.joined_args();
    EXPECT_TRUE(c.args.at(1).starts_with(daemon_dir + "/tmp/") &&
                c.args.at(1).ends_with(".ii"))
        << c.joined_args();
  }
  for (const char* object : {"main.o", "greet.o", "words.o"})
    EXPECT_EQ(box.read_file(src + "/" + object), "standin output of as\n");

  // The daemon ends on SIGTERM with its workers, and leaves no files.
  int daemon_pid = 0;
  std::istringstream(box.read_file(pid_file)) >> daemon_pid;
  EXPECT_TRUE(daemon.stop(10, {daemon_pid})) << box.read_file(daemon_log);
  EXPECT_TRUE(box.list_dir(daemon_dir + "/tmp").empty());
  EXPECT_TRUE(box.list_dir(box.tmp()).empty());
}

} // namespace
} // namespace velk::test
