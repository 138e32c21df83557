// End-to-end cases of the compile and link phase, shown with -###: which
// programs run, with which arguments, for each kind of input.
#include "tests/e2e/harness.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace velk::test {
namespace {

constexpr const char* terminated = "compilation terminated.\n";

// What -### showed, with the spec notice and the configuration banner
// dropped from the notes, which then hold only the diagnostics.
struct shown_diagnostics {
  int exit_status = -1;
  std::vector<std::string> commands;
  std::string diagnostics;
};

shown_diagnostics show_diagnostics(sandbox& box,
                                   std::vector<std::string> args) {
  shown_run r = ::velk::test::show(box, std::move(args));
  shown_diagnostics s{r.exit_status, std::move(r.commands), {}};
  std::size_t start = 0;
  while (start < r.notes.size()) {
    std::size_t end = r.notes.find('\n', start);
    end = end == std::string::npos ? r.notes.size() : end + 1;
    std::string_view line(r.notes.data() + start, end - start);
    if (line != "Using built-in specs.\n" && !is_banner_line(line))
      s.diagnostics += line;
    start = end;
  }
  return s;
}

// The program a shown command runs: its first word, without directories.
std::string program_of(const std::string& command) {
  std::size_t end = command.find(' ', 1);
  std::string path = command.substr(1, end - 1);
  return path.substr(path.rfind('/') + 1);
}

std::vector<std::string> programs_of(const shown_diagnostics& s) {
  std::vector<std::string> programs;
  for (const std::string& command : s.commands)
    programs.push_back(program_of(command));
  return programs;
}

bool has_word(const std::string& command, const std::string& word) {
  return (" " + command + " ").find(" " + word + " ") != std::string::npos;
}

const std::string exec_dir =
    "$P/libexec/velk/aarch64-portbld-freebsd14.3/13.3.0";
const std::string lib_dir = "$P/lib/velk/aarch64-portbld-freebsd14.3/13.3.0";

TEST(CompileAndLink, HelloWorld) {
  sandbox box;
  box.write_file("hello.cc", "int main() {}\n");
  shown_diagnostics s =
      show_diagnostics(box, {"-O2", "hello.cc", "-o", "hello"});
  EXPECT_EQ(s.exit_status, 0);
  EXPECT_EQ(s.diagnostics, "");
  const std::vector<std::string> expected = {
      " " + exec_dir + "/tarn1xx -quiet -iprefix " + lib_dir +
          "/ hello.cc -quiet -dumpbase hello.cc -dumpbase-ext .cc "
          "-mlittle-endian \"-mabi=lp64\" -O2 -o $T1.s",
      " $P/lib/velk/aarch64-portbld-freebsd14.3/13.3.0/../../../../"
      "aarch64-portbld-freebsd14.3/bin/as -EL \"-mabi=lp64\" -o $T2.o $T1.s",
      " " + exec_dir + "/sheaf2 -plugin " + exec_dir +
          "/libweft.so \"-plugin-opt=" + exec_dir +
          "/loomer\" \"-plugin-opt=-fresolution=$T3.res\" "
          "\"-plugin-opt=-pass-through=-lvelk_s\" "
          "\"-plugin-opt=-pass-through=-lvelk\" "
          "\"-plugin-opt=-pass-through=-lc\" "
          "\"-plugin-opt=-pass-through=-lvelk_s\" "
          "\"-plugin-opt=-pass-through=-lvelk\" --eh-frame-hdr "
          "\"--hash-style=zeb\" -rpath /usr/local/brae13/lib -dynamic-linker "
          "/libexec/ld-elf.so.1 -X -maarch64fbsd -EL -o hello " +
          lib_dir + "/crt1.o " + lib_dir + "/crti.o " + lib_dir +
          "/crtbegin.o -L" + lib_dir + " -L$P/lib/velk -L" + lib_dir +
          "/../../.. $T2.o -lvelkcxx -lm -lvelk_s -lvelk -lc -lvelk_s -lvelk " +
          lib_dir + "/crtend.o " + lib_dir + "/crtn.o",
  };
  EXPECT_EQ(s.commands, expected);
  // The link learns where programs and libraries are.
  run_result r = box.run({"-###", "-O2", "hello.cc", "-o", "hello"});
  const std::string exec_dirs =
      "COMPILER_PATH=" + box.prefix() +
      "/bin/../libexec/velk/aarch64-portbld-freebsd14.3/13.3.0/:" +
      box.prefix() + "/bin/../libexec/velk/:";
  EXPECT_NE(r.err.find("\n" + exec_dirs), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("\nLIBRARY_PATH=" + box.prefix() +
                       "/bin/../lib/velk/aarch64-portbld-freebsd14.3/13.3.0/:"),
            std::string::npos)
      << r.err;
  // Nothing ran and nothing was left behind.
  EXPECT_TRUE(box.calls().empty());
  EXPECT_TRUE(box.list_dir(box.tmp()).empty());
  EXPECT_EQ(box.list_dir(box.work()), std::vector<std::string>{"hello.cc"});
}

// Which programs each kind of input and stop option runs.
TEST(CompileAndLink, ProgramsPerInput) {
  sandbox box;
  for (const char* file : {"hello.cc", "a.c", "b.s", "c.S", "d.o", "e.ii",
                           "f.i", "g.cpp", "h.C", "data.xyz"})
    box.write_file(file, "\n");
  using programs = std::vector<std::string>;
  struct {
    std::vector<std::string> args;
    programs expected;
  } cases[] = {
      {{"-c", "hello.cc"}, {"tarn1xx", "as"}},
      {{"-S", "hello.cc"}, {"tarn1xx"}},
      {{"-E", "hello.cc"}, {"tarn1xx"}},
      // The C++ driver compiles C sources as C++.
      {{"a.c"}, {"tarn1xx", "as", "sheaf2"}},
      {{"-x", "c", "a.c"}, {"tarn1", "as", "sheaf2"}},
      {{"b.s"}, {"as", "sheaf2"}},
      {{"-c", "c.S"}, {"tarn1", "as"}},
      {{"d.o"}, {"sheaf2"}},
      {{"-c", "e.ii", "f.i"}, {"tarn1xx", "as", "tarn1xx", "as"}},
      {{"-c", "g.cpp", "h.C"}, {"tarn1xx", "as", "tarn1xx", "as"}},
      {{"-x", "c++", "a.c", "-c"}, {"tarn1xx", "as"}},
      {{"-x", "assembler-with-cpp", "b.s", "-c"}, {"tarn1", "as"}},
      {{"data.xyz"}, {"sheaf2"}},
      {{"-c", "hello.cc", "d.o"}, {"tarn1xx", "as"}},
  };
  for (const auto& c : cases) {
    shown_diagnostics s = show_diagnostics(box, c.args);
    std::string line;
    for (const std::string& arg : c.args)
      line += " " + arg;
    EXPECT_EQ(s.exit_status, 0) << line;
    EXPECT_EQ(programs_of(s), c.expected) << line;
  }
}

TEST(CompileAndLink, OutputsAndLinkerInputs) {
  sandbox box;
  for (const char* file : {"hello.cc", "a.c", "d.o", "data.xyz"})
    box.write_file(file, "\n");
  // -c names the object after the source; -S the assembler file.
  shown_diagnostics s = show_diagnostics(box, {"-c", "hello.cc"});
  ASSERT_EQ(s.commands.size(), 2u);
  EXPECT_TRUE(s.commands[1].ends_with(" -o hello.o $T1.s")) << s.commands[1];
  s = show_diagnostics(box, {"-S", "hello.cc"});
  ASSERT_EQ(s.commands.size(), 1u);
  EXPECT_TRUE(s.commands[0].ends_with(" -o hello.s")) << s.commands[0];
  // -E: the preprocessor output goes to standard output.
  s = show_diagnostics(box, {"-E", "hello.cc"});
  ASSERT_EQ(s.commands.size(), 1u);
  EXPECT_TRUE(has_word(s.commands[0], "-E")) << s.commands[0];
  EXPECT_FALSE(has_word(s.commands[0], "-o")) << s.commands[0];

  // Objects and files of unknown suffixes go to the link as they are, in
  // command-line order with the compiled outputs.
  s = show_diagnostics(box, {"d.o", "hello.cc", "data.xyz", "a.c"});
  ASSERT_EQ(programs_of(s), (std::vector<std::string>{
                                "tarn1xx", "as", "tarn1xx", "as", "sheaf2"}));
  const std::string& link = s.commands.back();
  const std::size_t d = link.find(" d.o "), h = link.find(" $T2.o "),
                    x = link.find(" data.xyz "), a = link.find(" $T3.o ");
  EXPECT_TRUE(d < h && h < x && x < a && a != std::string::npos) << link;

  // -c with an object: it is not linked, and said so.
  s = show_diagnostics(box, {"-c", "hello.cc", "d.o"});
  EXPECT_EQ(s.exit_status, 0);
  EXPECT_EQ(s.diagnostics,
            "velk++: warning: d.o: linker input file unused because linking "
            "not done\n");
  s = show_diagnostics(box, {"-c", "hello.cc", "gone.o"});
  EXPECT_EQ(s.exit_status, 1);
  EXPECT_EQ(s.diagnostics,
            "velk++: warning: gone.o: linker input file unused because "
            "linking not done\n"
            "velk++: error: gone.o: linker input file not found: No such file "
            "or directory\n");
}

TEST(CompileAndLink, Refusals) {
  sandbox box;
  for (const char* file : {"a.c", "b.c", "x.f90", "y.m"})
    box.write_file(file, "\n");
  struct {
    std::vector<std::string> args;
    std::string diagnostics;
  } cases[] = {
      {{"-c", "-o", "x.o", "a.c", "b.c"},
       "velk++: fatal error: cannot specify '-o' with '-c', '-S' or '-E' with "
       "multiple files\n" +
           std::string(terminated)},
      {{"-S", "-o", "x.s", "a.c", "b.c"},
       "velk++: fatal error: cannot specify '-o' with '-c', '-S' or '-E' with "
       "multiple files\n" +
           std::string(terminated)},
      {{"x.f90"},
       "velk++: error: x.f90: Fortran compiler not installed on this system\n"},
      {{"-c", "y.m"},
       "velk++: error: y.m: Objective-C compiler not installed on this "
       "system\n"},
      {{"-x", "cobol", "a.c"},
       "velk++: error: language cobol not recognized\n"},
  };
  for (const auto& c : cases) {
    shown_diagnostics s = show_diagnostics(box, c.args);
    EXPECT_EQ(s.exit_status, 1) << c.args[0];
    EXPECT_EQ(s.diagnostics, c.diagnostics) << c.args[0];
    EXPECT_TRUE(s.commands.empty()) << c.args[0];
  }
  // A failing input does not stop the next one; nothing is linked.
  shown_diagnostics s = show_diagnostics(box, {"x.f90", "a.c"});
  EXPECT_EQ(s.exit_status, 1);
  EXPECT_EQ(programs_of(s), (std::vector<std::string>{"tarn1xx", "as"}));
  // With -o and one compilation -c is fine.
  s = show_diagnostics(box, {"-c", "-o", "x.o", "a.c"});
  EXPECT_EQ(s.exit_status, 0);
  ASSERT_EQ(s.commands.size(), 2u);
  EXPECT_TRUE(s.commands[1].ends_with(" -o x.o $T1.s")) << s.commands[1];
}

// Options reach the command they are meant for.
TEST(CompileAndLink, SwitchesReachTheirCommand) {
  sandbox box;
  box.write_file("hello.cc", "\n");
  shown_diagnostics s =
      show_diagnostics(box, {"-DX=1", "-Iinc", "-Wa,--gen-x", "-Wl,--gc-y",
                             "-lfoo", "hello.cc", "-Lmine"});
  ASSERT_EQ(programs_of(s),
            (std::vector<std::string>{"tarn1xx", "as", "sheaf2"}));
  // -D and -I reach the compiler with their arguments as separate words.
  EXPECT_TRUE(has_word(s.commands[0], "-D \"X=1\"")) << s.commands[0];
  EXPECT_TRUE(has_word(s.commands[0], "-I inc")) << s.commands[0];
  EXPECT_TRUE(has_word(s.commands[1], "--gen-x")) << s.commands[1];
  EXPECT_FALSE(has_word(s.commands[0], "--gen-x"));
  const std::string& link = s.commands[2];
  EXPECT_TRUE(has_word(link, "--gc-y")) << link;
  EXPECT_TRUE(has_word(link, "-lfoo")) << link;
  EXPECT_TRUE(has_word(link, "-Lmine")) << link;
  EXPECT_FALSE(has_word(s.commands[0], "-lfoo"));
  EXPECT_FALSE(has_word(s.commands[1], "--gc-y"));
  // -static and -shared change the start files and libraries.
  s = show_diagnostics(box, {"-static", "hello.cc"});
  EXPECT_TRUE(has_word(s.commands.back(), "-Bstatic")) << s.commands.back();
  EXPECT_TRUE(has_word(s.commands.back(), lib_dir + "/crtbeginT.o") ||
              has_word(s.commands.back(), "crtbeginT.o"))
      << s.commands.back();
  s = show_diagnostics(box, {"-nostdlib", "hello.cc"});
  EXPECT_FALSE(has_word(s.commands.back(), "-lc")) << s.commands.back();
  EXPECT_FALSE(has_word(s.commands.back(), lib_dir + "/crt1.o"));
  // Without the plug-in no -plugin; the linker is still sheaf2.
  s = show_diagnostics(box, {"-fno-use-linker-plugin", "hello.cc"});
  EXPECT_FALSE(has_word(s.commands.back(), "-plugin")) << s.commands.back();
  EXPECT_EQ(program_of(s.commands.back()), "sheaf2");
}

// A -B directory whose name holds characters the spec language treats
// specially gives the plug-in's exact path, and marks nothing for deletion.
TEST(CompileAndLink, PluginPathIsExact) {
  sandbox box;
  box.write_file("hello.cc", "\n");
  const std::string dir = box.work() + "/p %d\\x";
  box.write_file(dir + "/libweft.so", "");
  shown_diagnostics s = show_diagnostics(box, {"-B", dir + "/", "hello.cc"});
  ASSERT_EQ(s.exit_status, 0) << s.diagnostics;
  const std::string shown_path =
      "\"" + dir.substr(0, dir.size() - 2) + "\\\\x/libweft.so\"";
  EXPECT_TRUE(has_word(s.commands.back(), "-plugin " + shown_path))
      << s.commands.back();
  EXPECT_TRUE(box.exists(dir + "/libweft.so"));
  // A run that links (whatever its outcome) deletes neither the plug-in
  // nor the linker input.
  box.write_file("d.o", "");
  box.run({"-B", dir + "/", "d.o"});
  EXPECT_TRUE(box.exists(dir + "/libweft.so"));
  EXPECT_TRUE(box.exists("d.o"));
}

} // namespace
} // namespace velk::test

namespace velk::test {
namespace {

// Under -save-temps a preprocessed input forced through the preprocessor
// is never named as the preprocessor's output.
TEST(CompileAndLink, SaveTempsNeverOverwritesTheInput) {
  sandbox box;
  box.write_file("a.ii", "int a;\n");
  box.write_file("b.i", "int b;\n");
  box.write_file("c.cc", "int c;\n");
  struct {
    std::vector<std::string> args;
    const char* preprocessed; // the -o of the preprocessor, then its reader
  } cases[] = {
      {{"-save-temps", "-c", "-x", "c++", "a.ii"}, "$T1.ii"},
      {{"-save-temps", "-c", "-x", "c", "b.i"}, "$T1.i"},
      // Other sources keep their saved preprocessor output.
      {{"-save-temps", "-c", "c.cc"}, "c.ii"},
  };
  for (const auto& c : cases) {
    shown_diagnostics s = show_diagnostics(box, c.args);
    ASSERT_EQ(s.commands.size(), 3u) << c.args.back();
    EXPECT_TRUE(s.commands[0].ends_with(std::string(" -o ") + c.preprocessed))
        << s.commands[0];
    EXPECT_TRUE(has_word(s.commands[1],
                         std::string("-fpreprocessed ") + c.preprocessed))
        << s.commands[1];
  }
  // The inputs that need no preprocessing are read as they are.
  shown_diagnostics s = show_diagnostics(box, {"-save-temps", "-c", "a.ii"});
  ASSERT_EQ(s.commands.size(), 2u);
  EXPECT_TRUE(has_word(s.commands[0], "-fpreprocessed a.ii")) << s.commands[0];
}

// A link that fails leaves no program behind for the next build to take as
// up to date.
TEST(CompileAndLink, FailedLinkRemovesItsOutput) {
  sandbox box;
  tool_behaviour fail;
  fail.exit_status = 1;
  fail.create_output = false;
  box.set_behaviour("sheaf2", fail);
  // With -o, and the default name the linker writes without one.
  for (const char* program : {"prog", "a.out"}) {
    box.write_file("d.o", "");
    box.write_file(program, "an old program\n");
    std::vector<std::string> args = {"d.o"};
    if (std::string(program) != "a.out")
      args.insert(args.end(), {"-o", program});
    run_result r = box.run(args);
    EXPECT_EQ(r.exit_status, 1) << program;
    EXPECT_FALSE(box.exists(program)) << program;
    EXPECT_TRUE(box.exists("d.o")) << program;
  }
  // A link run for its help only writes no program, so it deletes none.
  box.write_file("a.out", "an old program\n");
  for (const char* help : {"--help", "--target-help"}) {
    run_result r = box.run({help});
    EXPECT_TRUE(box.exists("a.out")) << help;
    EXPECT_EQ(r.calls.empty() ? "" : r.calls.back().program, "sheaf2") << help;
    box.clear_calls();
  }
}

} // namespace
} // namespace velk::test

namespace velk::test {
namespace {

// Pieces of the link line that options choose.
TEST(CompileAndLink, LinkLinePieces) {
  sandbox box;
  box.write_file("hello.cc", "\n");
  const std::string crt = lib_dir + "/";
  struct {
    std::vector<std::string> args;
    std::vector<std::string> present;
    std::vector<std::string> absent;
  } cases[] = {
      {{},
       {"-plugin", "--eh-frame-hdr", crt + "crt1.o", crt + "crtbegin.o",
        crt + "crtend.o", "-lvelkcxx -lm -lvelk_s -lvelk -lc -lvelk_s -lvelk",
        "-dynamic-linker /libexec/ld-elf.so.1"},
       {"-Bstatic", "-pie"}},
      {{"-static"},
       {"-Bstatic", "crtbeginT.o", "-lvelk -lvelk_eh -lc -lvelk -lvelk_eh"},
       {"--eh-frame-hdr", "-dynamic-linker"}},
      {{"-shared"},
       // Start files the stage does not hold stay plain names.
       {"-Bshareable", "crtbeginS.o", "crtendS.o"},
       {crt + "crt1.o", "-dynamic-linker"}},
      {{"-pie"}, {"-pie", "Scrt1.o", "crtbeginS.o"}, {crt + "crtbegin.o"}},
      {{"-nostdlib"}, {}, {"-lc", crt + "crt1.o", crt + "crtn.o", "-lvelk"}},
      {{"-nodefaultlibs"},
       {crt + "crt1.o", crt + "crtn.o"},
       {"-lc", "-lvelk", "-lvelkcxx"}},
      {{"--sysroot=/sys"}, {"\"--sysroot=/sys\" --eh-frame-hdr"}, {}},
      {{"-fno-use-linker-plugin"}, {}, {"-plugin"}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    args.push_back("hello.cc");
    shown_diagnostics s = show_diagnostics(box, args);
    ASSERT_FALSE(s.commands.empty()) << args[0];
    const std::string& link = s.commands.back();
    ASSERT_EQ(program_of(link), "sheaf2") << args[0];
    for (const std::string& word : c.present)
      EXPECT_TRUE(has_word(link, word)) << args[0] << ": " << word << "\n"
                                        << link;
    for (const std::string& word : c.absent)
      EXPECT_FALSE(has_word(link, word)) << args[0] << ": " << word << "\n"
                                         << link;
  }
}

// Standard input and headers.
TEST(CompileAndLink, StandardInputAndHeaders) {
  sandbox box;
  box.write_file("x.h", "\n");
  box.write_file("y.hpp", "\n");
  shown_diagnostics s = show_diagnostics(box, {"-E", "-"});
  EXPECT_EQ(s.exit_status, 0);
  ASSERT_EQ(programs_of(s), std::vector<std::string>{"tarn1"});
  EXPECT_TRUE(has_word(s.commands[0], "-E")) << s.commands[0];
  s = show_diagnostics(box, {"-"});
  EXPECT_EQ(s.exit_status, 1);
  EXPECT_EQ(s.diagnostics,
            "velk++: error: -E or -x required when input is from standard "
            "input\n");
  for (const char* header : {"x.h", "y.hpp"}) {
    s = show_diagnostics(box, {"-c", header});
    EXPECT_EQ(s.exit_status, 0);
    ASSERT_EQ(programs_of(s), std::vector<std::string>{"tarn1xx"});
    EXPECT_TRUE(
        has_word(s.commands[0], "--output-pch " + std::string(header) + ".gch"))
        << s.commands[0];
  }
  s = show_diagnostics(box, {"-x", "c++-header", "-"});
  EXPECT_EQ(s.exit_status, 1);
  EXPECT_EQ(s.diagnostics,
            "velk++: fatal error: cannot use '-' as input filename for a "
            "precompiled header\n" +
                std::string(terminated));
}

} // namespace
} // namespace velk::test

namespace velk::test {
namespace {

// -fcompare-debug: a second compilation with the debug information toggled,
// its own dump, no -o of the user's and no assembler.
TEST(CompileAndLink, CompareDebugCompilesTwice) {
  sandbox box;
  box.write_file("a.cc", "\n");
  shown_diagnostics s = show_diagnostics(
      box, {"-fcompare-debug", "-c", "a.cc", "-o", "x.o", "-MD"});
  EXPECT_EQ(s.exit_status, 0) << s.diagnostics;
  EXPECT_EQ(s.diagnostics,
            "velk++: note: recompiling with '-fcompare-debug'\n");
  ASSERT_EQ(programs_of(s),
            (std::vector<std::string>{"tarn1xx", "as", "tarn1xx"}));
  const std::string& first = s.commands[0];
  const std::string& second = s.commands[2];
  EXPECT_TRUE(has_word(first, "\"-fdump-final-insns=$T1.gkd\"")) << first;
  EXPECT_TRUE(has_word(first, "-MD")) << first;
  EXPECT_TRUE(has_word(s.commands[1], "-o x.o")) << s.commands[1];
  EXPECT_TRUE(has_word(second, "-gtoggle -w")) << second;
  EXPECT_TRUE(has_word(second, "-fcompare-debug-second -o /dev/null"))
      << second;
  EXPECT_TRUE(has_word(second, "\"-fdump-final-insns=$T3.gk.gkd\"")) << second;
  // The dump names follow the output, marked as the second compilation.
  EXPECT_TRUE(has_word(second, "-dumpbase x.gk.cc")) << second;
  EXPECT_FALSE(has_word(second, "-MD")) << second;
  EXPECT_FALSE(has_word(second, "x.o")) << second;
  // Both compilations share one random seed.
  const std::size_t seed = first.find("\"-frandom-seed=");
  ASSERT_NE(seed, std::string::npos) << first;
  const std::string seed_word =
      first.substr(seed, first.find(' ', seed) - seed);
  EXPECT_TRUE(has_word(second, seed_word)) << second;

  // -fcompare-debug-second alone is the second compilation only.
  s = show_diagnostics(box, {"-fcompare-debug-second", "-c", "a.cc"});
  EXPECT_EQ(programs_of(s), (std::vector<std::string>{"tarn1xx", "as"}));
  EXPECT_EQ(s.diagnostics, "");
}

} // namespace
} // namespace velk::test

namespace velk::test {
namespace {

// A jobserver the driver cannot use is not named to the link.
TEST(CompileAndLink, UnusableJobserverIsDropped) {
  sandbox box;
  box.write_file("hello.cc", "\n");
  run_options opts;
  opts.env["MAKEFLAGS"] = " -j2 --jobserver-auth=98,99";
  run_result r = box.run({"-###", "hello.cc"}, opts);
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_NE(r.err.find("\nMAKEFLAGS= -j2 \n"), std::string::npos) << r.err;
}

} // namespace
} // namespace velk::test
