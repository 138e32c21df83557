// End-to-end cases of what the tools are given on real runs: the
// environment the driver exports, the names of dumps and saved temporaries,
// the libraries the C++ driver adds, and which inputs reach the link.
#include "tests/e2e/harness.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace velk::test {
namespace {

// The names of the variables -v showed, in order.
std::vector<std::string> shown_variables(const std::string& err) {
  std::vector<std::string> names;
  std::size_t start = 0;
  while (start < err.size()) {
    std::size_t end = err.find('\n', start);
    if (end == std::string::npos)
      end = err.size();
    const std::string line = err.substr(start, end - start);
    start = end + 1;
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos || eq == 0)
      continue;
    const std::string name = line.substr(0, eq);
    if (name.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ_") ==
        std::string::npos)
      names.push_back(name);
  }
  return names;
}

TEST(Environment, ExportedInOrderAndShownByVerbose) {
  sandbox box;
  box.write_file("a.cc", "\n");
  run_options opts;
  opts.env["MAKEFLAGS"] = " -j2 --jobserver-auth=98,99";
  run_result r =
      box.run({"-v", "-Wa,--it's", "-DQ=it's", "a.cc", "-o", "prog"}, opts);
  ASSERT_EQ(r.exit_status, 0) << r.err;
  ASSERT_EQ(r.programs(),
            (std::vector<std::string>{"tarn1xx", "as", "sheaf2"}));
  const std::vector<std::string> expected = {
      "VELK_EXEC_PREFIX", "SHEAF_AS_OPTIONS", "SHEAF_VELK", "SHEAF_LOOMER",
      "SHEAF_VELK_OPTIONS", "SHEAF_VELK_OPTIONS", "MAKEFLAGS", "COMPILER_PATH",
      "LIBRARY_PATH", "SHEAF_VELK_OPTIONS",
      // Refreshed once more at the end of the link spec.
      "SHEAF_VELK_OPTIONS"};
  EXPECT_EQ(shown_variables(r.err), expected) << r.err;

  const tool_call& compile = r.calls[0];
  const tool_call& link = r.calls[2];
  // The assembler argument as it is; the definition's quote escaped for a
  // shell-style reader.
  EXPECT_EQ(compile.env.at("SHEAF_AS_OPTIONS"), "'--it's'");
  EXPECT_TRUE(compile.env.at("SHEAF_VELK_OPTIONS")
                  .starts_with("'-v' '-D' 'Q=it'\\''s' '-o' 'prog' "))
      << compile.env.at("SHEAF_VELK_OPTIONS");
  EXPECT_EQ(compile.env.at("SHEAF_VELK"), box.driver());
  EXPECT_EQ(compile.env.at("VELK_EXEC_PREFIX"),
            box.prefix() + "/bin/../lib/velk/");
  EXPECT_EQ(compile.env.at("SHEAF_LOOMER"),
            box.prefix() + "/bin/../libexec/velk/aarch64-portbld-freebsd14.3/"
                           "13.3.0/loomer");
  // The jobserver and the search lists only for the link; the compiler
  // sees MAKEFLAGS as the driver got it.
  EXPECT_EQ(compile.env.at("MAKEFLAGS"), " -j2 --jobserver-auth=98,99");
  EXPECT_EQ(compile.env.count("COMPILER_PATH"), 0u);
  EXPECT_EQ(compile.env.count("LIBRARY_PATH"), 0u);
  EXPECT_EQ(link.env.at("MAKEFLAGS"), " -j2 ");
  EXPECT_TRUE(link.env.at("COMPILER_PATH").starts_with(box.prefix() + "/bin/"))
      << link.env.at("COMPILER_PATH");
  EXPECT_TRUE(link.env.at("LIBRARY_PATH").starts_with(box.prefix() + "/bin/"))
      << link.env.at("LIBRARY_PATH");
  EXPECT_EQ(compile.env.count("SOURCE_DATE_EPOCH"), 0u);
}

// No loomer after -c; a loomer under a directory with a blank is named with
// the blank escaped.
TEST(Environment, Loomer) {
  sandbox box;
  box.write_file("a.cc", "\n");
  run_result r = box.run({"-c", "a.cc"});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.calls.at(0).env.count("SHEAF_LOOMER"), 0u);

  const std::string dir = box.work() + "/my tools %d";
  box.write_file(dir + "/loomer", "");
  ASSERT_EQ(chmod((dir + "/loomer").c_str(), 0755), 0);
  box.clear_calls();
  r = box.run({"-B", dir + "/", "a.cc"});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.calls.at(0).env.at("SHEAF_LOOMER"),
            box.work() + "/my\\ tools\\ %d/loomer");
  // The link gets the exact path, and nothing in it marks the file for
  // deletion.
  EXPECT_NE(
      r.calls.back().joined_args().find(" -plugin-opt=" + dir + "/loomer "),
      std::string::npos)
      << r.calls.back().joined_args();
  EXPECT_TRUE(box.exists(dir + "/loomer"));
}

// -fcompare-debug fixes the build time for both compilations, without
// replacing a time the user set, and -v does not show it.
TEST(Environment, SourceDateEpoch) {
  sandbox box;
  box.write_file("a.cc", "\n");
  run_result r = box.run({"-v", "-fcompare-debug", "-c", "a.cc"});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  ASSERT_EQ(r.calls.size(), 3u);
  const std::string epoch = r.calls[0].env.at("SOURCE_DATE_EPOCH");
  EXPECT_FALSE(epoch.empty());
  EXPECT_EQ(r.calls[2].env.at("SOURCE_DATE_EPOCH"), epoch);
  EXPECT_EQ(r.err.find("SOURCE_DATE_EPOCH"), std::string::npos);
  box.clear_calls();
  run_options opts;
  opts.env["SOURCE_DATE_EPOCH"] = "12345";
  r = box.run({"-fcompare-debug", "-c", "a.cc"}, opts);
  EXPECT_EQ(r.calls.at(0).env.at("SOURCE_DATE_EPOCH"), "12345");
}

// The names the compilations and the link are given for their dumps.
TEST(Environment, DumpNames) {
  struct {
    std::vector<std::string> args;
    std::vector<std::string> compile; // words of the first compilation
    std::string dump_dir;             // end of the last tool's switches
  } cases[] = {
      {{"foo.cc", "bar.cc"},
       {"-dumpdir", "a-", "-dumpbase", "foo.cc"},
       "'-dumpdir' 'a.'"},
      {{"foo.cc", "-o", "foo"}, {"-dumpbase", "foo.cc"}, "'-dumpdir' 'foo.'"},
      {{"foo.cc", "-o", "out/prog.exe"},
       {"-dumpdir", "out/prog-", "-dumpbase", "foo.cc"},
       "'-dumpdir' 'out/prog.'"},
      {{"-dumpdir", "d/", "foo.cc", "bar.cc"},
       {"-dumpdir", "d/", "-dumpbase", "foo.cc"},
       "'-dumpdir' 'd/'"},
      {{"-c", "foo.cc", "-o", "out/foo.o"},
       {"-dumpdir", "out/", "-dumpbase", "foo.cc"},
       "'-dumpdir' 'out/'"},
      {{"-c", "foo.cc", "bar.cc", "-dumpbase", "x"},
       {"-dumpdir", "x-", "-dumpbase", "foo.cc"},
       "'-dumpdir' 'x-'"},
      {{"-c", "foo.cc"}, {"-dumpbase", "foo.cc"}, "'-mabi=lp64'"},
  };
  for (const auto& c : cases) {
    sandbox box;
    box.write_file("foo.cc", "\n");
    box.write_file("bar.cc", "\n");
    box.write_file("out/.keep");
    box.write_file("d/.keep");
    run_result r = box.run(c.args);
    std::string line;
    for (const std::string& arg : c.args)
      line += " " + arg;
    ASSERT_EQ(r.exit_status, 0) << line << "\n" << r.err;
    const std::string compile = " " + r.calls.at(0).joined_args() + " ";
    std::string words;
    for (const std::string& word : c.compile)
      words += " " + word;
    EXPECT_NE(compile.find(words + " "), std::string::npos) << line << "\n"
                                                            << compile;
    const std::string& options = r.calls.back().env.at("SHEAF_VELK_OPTIONS");
    EXPECT_TRUE(options.ends_with(c.dump_dir)) << line << "\n" << options;
  }
}

// Where -save-temps keeps the intermediate files.
TEST(Environment, SaveTempsLocations) {
  using names = std::vector<std::string>;
  struct {
    std::vector<std::string> args;
    names work, out;
  } cases[] = {
      {{"-save-temps", "-c", "foo.cc", "-o", "out/foo.o"},
       {"bar.cc", "foo.cc", "out"},
       {"foo.ii", "foo.o", "foo.s"}},
      {{"-save-temps=obj", "-c", "foo.cc", "-o", "out/foo.o"},
       {"bar.cc", "foo.cc", "out"},
       {"foo.ii", "foo.o", "foo.s"}},
      {{"-save-temps=cwd", "-c", "foo.cc", "-o", "out/foo.o"},
       {"bar.cc", "foo.cc", "foo.ii", "foo.s", "out"},
       {"foo.o"}},
      {{"-save-temps", "foo.cc", "bar.cc"},
       {"a-bar.ii", "a-bar.o", "a-bar.s", "a-foo.ii", "a-foo.o", "a-foo.s",
        "bar.cc", "foo.cc", "out"},
       {}},
      {{"-save-temps=obj", "foo.cc", "-o", "out/prog"},
       {"bar.cc", "foo.cc", "out"},
       {"prog", "prog-foo.ii", "prog-foo.o", "prog-foo.s"}},
  };
  for (const auto& c : cases) {
    sandbox box;
    box.write_file("foo.cc", "\n");
    box.write_file("out/.keep");
    box.write_file("bar.cc", "\n");
    ASSERT_EQ(unlink((box.work() + "/out/.keep").c_str()), 0);
    run_result r = box.run(c.args);
    std::string line;
    for (const std::string& arg : c.args)
      line += " " + arg;
    EXPECT_EQ(r.exit_status, 0) << line << "\n" << r.err;
    EXPECT_EQ(box.list_dir(box.work()), c.work) << line;
    EXPECT_EQ(box.list_dir("out"), c.out) << line;
    EXPECT_TRUE(box.list_dir(box.tmp()).empty()) << line;
  }
}

// The libraries the C++ driver adds, where they go on the link line.
TEST(Environment, CxxLibrariesOnTheLinkLine) {
  struct {
    std::vector<std::string> args;
    std::string present; // consecutive words of the link
    std::vector<std::string> absent;
  } cases[] = {
      {{"d.o"}, "d.o -lvelkcxx -lm -lvelk_s", {}},
      {{"d.o", "-lm"}, "d.o -lvelkcxx -lm -lvelk_s", {}},
      {{"-static-libvelkcxx", "d.o"},
       "d.o -Bstatic -lvelkcxx -Bdynamic -lm",
       {"-static-libvelkcxx"}},
      {{"-static", "-static-libvelkcxx", "d.o"},
       "d.o -lvelkcxx -lm",
       {"-Bdynamic"}},
      {{"-pg", "d.o"}, "-lvelkcxx -lm_p", {"-lm"}},
      {{"-nostdlib++", "d.o"},
       "d.o -lvelk_s",
       {"-lvelkcxx", "-lm", "-nostdlib++"}},
  };
  for (const auto& c : cases) {
    sandbox box;
    box.write_file("d.o", "");
    run_result r = box.run(c.args);
    std::string line;
    for (const std::string& arg : c.args)
      line += " " + arg;
    ASSERT_EQ(r.programs(), std::vector<std::string>{"sheaf2"}) << line << "\n"
                                                                << r.err;
    const std::string link = " " + r.calls[0].joined_args() + " ";
    EXPECT_NE(link.find(" " + c.present + " "), std::string::npos)
        << line << "\n"
        << link;
    for (const std::string& word : c.absent)
      EXPECT_EQ(link.find(" " + word + " "), std::string::npos)
          << line << ": " << word << "\n"
          << link;
  }
}

// Inputs of unknown suffixes go to the link as they are; a failing input
// does not stop the next one, but nothing is linked.
TEST(Environment, InputsReachingTheLink) {
  sandbox box;
  box.write_file("a.cc", "\n");
  box.write_file("b.cc", "\n");
  box.write_file("data.xyz", "\n");
  run_result r = box.run({"a.cc", "data.xyz", "-o", "prog"});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  ASSERT_EQ(r.programs(),
            (std::vector<std::string>{"tarn1xx", "as", "sheaf2"}));
  const std::vector<std::string>& link = r.calls[2].args;
  const std::string object = r.calls[1].args.at(r.calls[1].args.size() - 2);
  std::size_t o = 0, x = 0;
  for (std::size_t i = 0; i < link.size(); ++i) {
    if (link[i] == object)
      o = i;
    if (link[i] == "data.xyz")
      x = i;
  }
  EXPECT_TRUE(o > 0 && x == o + 1) << r.calls[2].joined_args();

  box.clear_calls();
  ASSERT_EQ(unlink((box.work() + "/prog").c_str()), 0);
  tool_behaviour fails;
  fails.exit_status = 1;
  fails.unless_arg = "b.cc";
  box.set_behaviour("tarn1xx", fails);
  r = box.run({"a.cc", "b.cc", "-o", "prog"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.programs(),
            (std::vector<std::string>{"tarn1xx", "tarn1xx", "as"}));
  EXPECT_EQ(box.list_dir(box.work()),
            (std::vector<std::string>{"a.cc", "b.cc", "data.xyz"}));
  EXPECT_TRUE(box.list_dir(box.tmp()).empty());
}

// Help from the tools runs no link; without the plug-in a missing
// libweft.so does not matter.
TEST(Environment, LinkOrNot) {
  sandbox box;
  box.write_file("d.o", "");
  run_result r = box.run({"--help=optimizers", "d.o"});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_TRUE(r.calls.empty()) << r.programs().front();
  r = box.run({"--help=optimizers"});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  ASSERT_EQ(r.programs(), (std::vector<std::string>{"tarn1", "as"}));
  EXPECT_NE(r.calls[0].joined_args().find(" --help=optimizers "),
            std::string::npos)
      << r.calls[0].joined_args();
  box.clear_calls();
  ASSERT_EQ(unlink((box.exec_dir() + "/libweft.so").c_str()), 0);
  r = box.run({"-fno-use-linker-plugin", "d.o"});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.programs(), std::vector<std::string>{"sheaf2"});
  r = box.run({"d.o"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err, "velk++: fatal error: '-fuse-linker-plugin', but "
                   "libweft.so not found\ncompilation terminated.\n");
}

} // namespace
} // namespace velk::test
