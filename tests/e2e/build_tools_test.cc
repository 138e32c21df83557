// Build tools driving velk++: a CMake project and a Makefile project, each a
// library and a program from three sources, built two jobs at a time with
// the stand-in toolchain, and built again after one source changes.  With
// the host's clang, the CMake project is built by the host adapter toolchain
// and its program runs.
#include "tests/e2e/harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
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

// The sources the compiler proper was given, sorted.
std::vector<std::string> compiled(const std::vector<tool_call>& calls) {
  std::vector<std::string> sources;
  for (const tool_call& c : calls) {
    if (c.program != "tarn1xx")
      continue;
    for (std::size_t i = 0; i < c.args.size(); ++i) {
      const std::string& a = c.args[i];
      if (a == "-dumpbase" || a == "-dumpbase-ext" || a == "-dumpdir")
        ++i; // names derived from the source, not the source
      else if (a.ends_with(".cc"))
        sources.push_back(a.substr(a.rfind('/') + 1));
    }
  }
  std::sort(sources.begin(), sources.end());
  return sources;
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

} // namespace
} // namespace velk::test
