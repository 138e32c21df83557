#include "driver/dump_names.h"

#include <gtest/gtest.h>

namespace velk {
namespace {

using opt = std::optional<std::string>;
constexpr auto none = std::nullopt;

struct dump_case {
  const char* what;
  dump_options options;
  std::vector<std::pair<std::string, opt>> inputs; // name, language
  // After command-line processing.
  opt dump_dir;
  opt dump_base;
  opt dump_base_ext;
  opt output_base;
  bool trailing_dash;
  // After the adjustment for the link.
  opt link_dump_dir;
  std::size_t link_dump_dir_length;
};

TEST(DumpNames, ComputedAndAdjustedForTheLink) {
  const dump_case cases[] = {
      {"several sources linked into the default output",
       {},
       {{"foo.c", none}, {"bar.c", none}},
       "a-",
       none,
       none,
       none,
       true,
       "a.",
       1},
      {"output named after the single source",
       {.output_name = "foo"},
       {{"src/foo.c", none}},
       none,
       none,
       none,
       "foo",
       false,
       "foo.",
       3},
      {"compile only into a directory",
       {.output_name = "obj/foo.o", .compile_only = true},
       {{"foo.c", none}},
       "obj/",
       none,
       none,
       "foo",
       false,
       "obj/foo.",
       7},
      {"compile only, several inputs and a dump base",
       {.dump_base = "x", .compile_only = true},
       {{"a.c", none}, {"b.c", none}},
       "x-",
       none,
       none,
       none,
       true,
       "x.",
       1},
      {"user dump directory kept with -o - under -save-temps=obj",
       {.output_name = "-",
        .user_dump_dir = "d/",
        .save_temps_overrides_dump_dir = true,
        .save_temps = save_temps_mode::object_directory,
        .compile_only = true},
       {{"foo.c", none}},
       "d/",
       none,
       none,
       none,
       false,
       "d/",
       2},
      {"user dump directory when linking several sources",
       {.user_dump_dir = "d/"},
       {{"foo.c", none}, {"bar.c", none}},
       "d/",
       none,
       none,
       none,
       false,
       "d/",
       2},
      {"-save-temps=cwd ignores the output's directory",
       {.output_name = "dir/out", .save_temps = save_temps_mode::cwd},
       {{"foo.c", none}},
       "out-",
       none,
       none,
       none,
       true,
       "out.",
       3},
      {"-save-temps=obj takes the output's directory",
       {.output_name = "dir/out",
        .save_temps_overrides_dump_dir = true,
        .save_temps = save_temps_mode::object_directory},
       {{"foo.c", none}},
       "dir/out-",
       none,
       none,
       none,
       true,
       "dir/out.",
       7},
      {"a dump base with a directory drops the dump directory",
       {.user_dump_dir = "d/", .dump_base = "dir/base", .compile_only = true},
       {{"foo.c", none}},
       none,
       "dir/base",
       none,
       "dir/base",
       false,
       "dir/base.",
       8},
      {"dump base extension kept when it is a proper suffix",
       {.user_dump_dir = "d/",
        .dump_base = "foo.c",
        .dump_base_ext = ".c",
        .compile_only = true},
       {{"foo.c", none}},
       "d/",
       "foo.c",
       ".c",
       "foo",
       false,
       "d/foo.",
       5},
      {"dump base extension dropped when not shorter",
       {.user_dump_dir = "d/",
        .dump_base = ".c",
        .dump_base_ext = ".c",
        .compile_only = true},
       {{"foo.c", none}},
       "d/",
       ".c",
       none,
       ".c",
       false,
       "d/.c.",
       4},
      {"an .exe output loses its suffix",
       {.output_name = "prog.exe"},
       {{"foo.c", none}, {"bar.c", none}},
       "prog-",
       none,
       none,
       none,
       true,
       "prog.",
       4},
      {"other suffixes stay",
       {.output_name = "prog.bin"},
       {{"foo.c", none}, {"bar.c", none}},
       "prog.bin-",
       none,
       none,
       none,
       true,
       "prog.bin.",
       8},
      {"a.out is the default base",
       {.output_name = "a.out"},
       {{"foo.c", none}, {"bar.c", none}},
       "a-",
       none,
       none,
       none,
       true,
       "a.",
       1},
      {"linker inputs are not compilations",
       {.output_name = "foo"},
       {{"foo.c", none}, {"-lm", "*"}, {"x.o", "*"}},
       none,
       none,
       none,
       "foo",
       false,
       "foo.",
       3},
      {"dump base while linking becomes the prefix",
       {.dump_base = "base.c", .dump_base_ext = ".c"},
       {{"foo.c", none}},
       "base-",
       none,
       none,
       none,
       true,
       "base.",
       4},
      {"empty dump base while linking takes the link base",
       {.output_name = "out/prog", .dump_base = ""},
       {{"foo.c", none}},
       "out/",
       "",
       none,
       "prog",
       false,
       "out/prog.",
       8},
  };
  for (const dump_case& c : cases) {
    SCOPED_TRACE(c.what);
    input_table inputs;
    for (const auto& [name, lang] : c.inputs)
      add_input(inputs, name, lang);
    dump_names n = compute_dump_names(c.options, inputs);
    EXPECT_EQ(n.dump_dir, c.dump_dir);
    EXPECT_EQ(n.dump_dir_length, c.dump_dir ? c.dump_dir->size() : 0);
    EXPECT_EQ(n.dump_base, c.dump_base);
    EXPECT_EQ(n.dump_base_ext, c.dump_base_ext);
    EXPECT_EQ(n.output_base, c.output_base);
    EXPECT_EQ(n.trailing_dash, c.trailing_dash);
    current_input_record current;
    current.set("src/foo.c", 0);
    adjust_dump_names_for_link(n, current);
    EXPECT_EQ(n.dump_dir, c.link_dump_dir);
    EXPECT_EQ(n.dump_dir_length, c.link_dump_dir_length);
    EXPECT_EQ(n.output_base, none);
    EXPECT_EQ(current.base_name, "");
  }
}

TEST(DumpNames, SaveTempsBecomesDumpDirectoryMode) {
  input_table inputs;
  add_input(inputs, "foo.c", std::nullopt);
  for (save_temps_mode m :
       {save_temps_mode::cwd, save_temps_mode::dump_directory,
        save_temps_mode::object_directory}) {
    dump_names n = compute_dump_names({.save_temps = m}, inputs);
    EXPECT_EQ(n.save_temps, save_temps_mode::dump_directory);
  }
  EXPECT_EQ(compute_dump_names({}, inputs).save_temps, save_temps_mode::off);
}

} // namespace
} // namespace velk
