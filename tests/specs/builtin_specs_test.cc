#include "specs/builtin_specs.h"

#include "diagnostics/diagnostic.h"
#include "specs/spec_functions.h"
#include "specs/spec_interpreter.h"
#include "specs/spec_validation.h"
#include "support/configuration.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <vector>

namespace velk {
namespace {

using ::testing::ExitedWithCode;

static_assert(builtin_compiler_count == 77);
static_assert(builtin_spec_count == 45);
static_assert(builtin_compiler(0).key == ".m");
static_assert(builtin_spec(spec_asm).name == "asm");
static_assert(builtin_spec(spec_self_spec).name == "self_spec");

std::vector<compiler_record> builtin_rows() {
  std::vector<compiler_record> rows;
  for (std::size_t i = 0; i < builtin_compiler_count; ++i)
    rows.push_back(builtin_compiler(i));
  return rows;
}

std::string_view spec_text(std::string_view name) {
  auto id = find_builtin_spec(name);
  EXPECT_TRUE(id.has_value()) << name;
  return id ? builtin_spec(*id).text : std::string_view();
}

std::string_view row_spec(std::string_view key) {
  for (std::size_t i = builtin_compiler_count; i-- > 0;)
    if (builtin_compiler(i).key == key)
      return builtin_compiler(i).spec;
  ADD_FAILURE() << key;
  return {};
}

std::string replace_all(std::string text, std::string_view from,
                        std::string_view to) {
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

TEST(BuiltinSpecs, CompilersTableRows) {
  std::vector<compiler_record> rows = builtin_rows();
  EXPECT_EQ(rows.front().spec, "#Objective-C");
  EXPECT_EQ(rows[5].key, ".cc");
  EXPECT_EQ(rows[5].spec, "#C++");
  EXPECT_EQ(rows[38].key, ".c");
  EXPECT_EQ(rows[38].spec, "@c");
  EXPECT_EQ(rows[40].key, "-");
  EXPECT_EQ(rows[55].key, ".cc");
  EXPECT_EQ(rows[55].spec, "@c++");
  EXPECT_EQ(rows.back().key, "@lto");
  EXPECT_EQ(rows.back().spec,
            "loom1 %(tarn1_options) %i %{!fsyntax-only:%(invoke_as)}");

  std::vector<std::string_view> combinable, preprocessing, with_cpp;
  for (const compiler_record& row : rows) {
    if (row.combinable)
      combinable.push_back(row.key);
    if (row.needs_preprocessing)
      preprocessing.push_back(row.key);
    if (row.preprocessor_spec) {
      with_cpp.push_back(row.key);
      EXPECT_EQ(*row.preprocessor_spec, spec_text("cpp"));
    }
  }
  EXPECT_EQ(combinable,
            (std::vector<std::string_view>{".go", ".d", ".dd", ".di", "@lto"}));
  EXPECT_EQ(preprocessing, (std::vector<std::string_view>{".c", "@c"}));
  EXPECT_EQ(with_cpp,
            (std::vector<std::string_view>{"@c++-header", "@c++-system-header",
                                           "@c++-user-header", "@c++"}));
}

TEST(BuiltinSpecs, DerivedLanguageEntries) {
  std::string header(row_spec("@c++-header"));
  EXPECT_EQ(row_spec("@c++-system-header"),
            replace_all(header, "-fmodule-header", "-fmodule-header=system"));
  EXPECT_EQ(row_spec("@c++-user-header"),
            replace_all(header, "-fmodule-header", "-fmodule-header=user"));
  std::string fern(row_spec("@adafern"));
  EXPECT_EQ(row_spec("@adakite"),
            replace_all(replace_all(fern, "brae2fern", "brae2kite"),
                        "brae1fern", "brae1kite"));
}

TEST(BuiltinSpecs, NamedSpecsInListOrder) {
  EXPECT_EQ(builtin_spec(0).name, "asm");
  EXPECT_EQ(builtin_spec(builtin_spec_count - 1).name, "self_spec");
  EXPECT_EQ(builtin_spec(spec_linker).name, "linker");
  EXPECT_EQ(builtin_spec(spec_linker).text, "sheaf2");
  EXPECT_EQ(spec_text("version"), config::version);
  EXPECT_EQ(spec_text("multilib"), ". ;");
  EXPECT_EQ(spec_text("multilib_defaults"), "mabi=lp64");
  EXPECT_EQ(spec_text("libvelk"), "-lvelk");
  EXPECT_EQ(spec_text("tarn1"), "");
  EXPECT_FALSE(find_builtin_spec("asm_cpu_spec"));
  EXPECT_FALSE(find_builtin_spec("link_command"));
  for (std::size_t i = 0; i < builtin_spec_count; ++i) {
    builtin_named_spec s = builtin_spec(i);
    EXPECT_EQ(s.text.data()[s.text.size()], '\0') << s.name;
    EXPECT_EQ(find_builtin_spec(s.name), static_cast<builtin_spec_id>(i));
  }
}

// Every constant spec text of the build: the fixed texts, the rows of the
// compilers table and the named specs.
std::vector<std::string_view> builtin_texts() {
  std::vector<std::string_view> texts = {
      link_command_text, asm_cpu_spec_text, libvelk_construct_text,
      link_eh_frame_prefix_text, sysroot_link_prefix_text};
  for (const compiler_record& row : builtin_rows()) {
    texts.push_back(row.spec);
    if (row.preprocessor_spec)
      texts.push_back(*row.preprocessor_spec);
  }
  for (std::size_t i = 0; i < builtin_spec_count; ++i)
    texts.push_back(builtin_spec(i).text);
  return texts;
}

// Switch validation takes the atoms of a built-in text from the table the
// build made: they must be exactly what scanning the text finds.
TEST(BuiltinSpecs, SwitchAtomsAreThoseOfTheScan) {
  std::vector<std::string_view> texts = builtin_texts();
  std::size_t texts_with_atoms = 0;
  for (std::string_view text : texts) {
    SCOPED_TRACE(text);
    auto atoms = builtin_switch_atoms(text);
    ASSERT_TRUE(atoms.has_value());
    std::vector<std::pair<std::string, bool>> built;
    for (const builtin_data::atom_ref& atom : *atoms)
      built.emplace_back(builtin_data::view(atom.name), atom.starred);
    EXPECT_EQ(built, scan_switch_atoms(text));
    texts_with_atoms += built.empty() ? 0 : 1;
  }
  EXPECT_GT(texts_with_atoms, 30u);
  // A copy of a built-in text, or a part of one, is scanned like any other.
  const std::string copy(link_command_text);
  EXPECT_FALSE(builtin_switch_atoms(copy));
  EXPECT_FALSE(builtin_switch_atoms(link_command_text.substr(0, 10)));
  EXPECT_FALSE(builtin_switch_atoms(std::string_view()));
}

// The interpreter takes where a brace body of a built-in text ends from
// the table the build made: it must be where reading the text finds it.
TEST(BuiltinSpecs, BraceBodiesAreThoseOfTheText) {
  std::vector<std::string_view> texts = builtin_texts();
  for (std::size_t i = 0; i < driver_self_spec_count; ++i)
    texts.push_back(driver_self_spec(i));
  std::size_t bodies = 0;
  for (std::string_view text : texts) {
    SCOPED_TRACE(text);
    for (std::size_t i = 0; i < text.size(); ++i) {
      std::optional<builtin_body> built = builtin_brace_body(text.data() + i);
      if (i == 0 || text[i - 1] != ':') {
        EXPECT_FALSE(built.has_value()) << i;
        continue;
      }
      bool has_star = false;
      std::optional<std::size_t> end = brace_body_end(text, i, has_star);
      ASSERT_EQ(built.has_value(), end.has_value()) << i;
      if (!end)
        continue;
      EXPECT_EQ(built->end, text.data() + *end) << i;
      EXPECT_EQ(built->has_star, has_star) << i;
      ++bodies;
    }
  }
  EXPECT_GT(bodies, 300u);
  EXPECT_FALSE(builtin_brace_body(nullptr));
}

TEST(BuiltinSpecs, TextsAreExact) {
  // Newlines end commands; they and the blanks around them are kept.
  EXPECT_EQ(spec_text("asm_final"),
            "%{gsplit-dwarf: \n objcopy --extract-dwo "
            "%{c:%{o*:%*}%{!o*:%w%b%O}}%{!c:%U%O} %b.dwo \n objcopy "
            "--strip-dwo %{c:%{o*:%*}%{!o*:%w%b%O}}%{!c:%U%O} }");
  EXPECT_EQ(spec_text("invoke_as"),
            "%{!fwpa*: "
            "%{fcompare-debug=*|fdump-final-insns=*:%:compare-debug-dump-opt()}"
            " %{!S:-o %|.s |\n as %(asm_options) %m.s %A } }");
  EXPECT_TRUE(spec_text("link").starts_with(
      "%{p:%nconsider using `-pg' instead of `-p' with gprof (1)} %{v:-V} "));
  EXPECT_TRUE(link_command_text.starts_with(
      "%{!fsyntax-only:%{!c:%{!M:%{!MM:%{!E:%{!S: %(linker) "));
  EXPECT_TRUE(link_command_text.ends_with(" %{T*} \n%(post_link) }}}}}}"));
  EXPECT_EQ(asm_cpu_spec_text,
            " %{mcpu=*:-march=%:rewrite_mcpu(%{mcpu=*:%*})}");
  ASSERT_EQ(driver_self_spec_count, 6u);
  EXPECT_EQ(driver_self_spec(0),
            "%{fdump-final-insns:-fdump-final-insns=.} %<fdump-final-insns");
  EXPECT_EQ(driver_self_spec(2), "");
  EXPECT_EQ(driver_self_spec(5), "%<fmultiflags");
}

// Every text the driver starts from, with a name for messages.
std::vector<std::pair<std::string, std::string_view>> all_texts() {
  std::vector<std::pair<std::string, std::string_view>> texts;
  for (std::size_t i = 0; i < builtin_compiler_count; ++i) {
    compiler_record row = builtin_compiler(i);
    texts.emplace_back("row " + std::string(row.key), row.spec);
    if (row.preprocessor_spec)
      texts.emplace_back("cpp " + std::string(row.key), *row.preprocessor_spec);
  }
  for (std::size_t i = 0; i < builtin_spec_count; ++i)
    texts.emplace_back(std::string(builtin_spec(i).name), builtin_spec(i).text);
  texts.emplace_back("link_command", link_command_text);
  texts.emplace_back("asm_cpu_spec", asm_cpu_spec_text);
  texts.emplace_back("libvelk_construct", libvelk_construct_text);
  texts.emplace_back("link_eh_frame_prefix", link_eh_frame_prefix_text);
  for (std::size_t i = 0; i < driver_self_spec_count; ++i)
    texts.emplace_back("self spec", driver_self_spec(i));
  return texts;
}

// The texts hang together: braces and parentheses balance, every %(name)
// is a built-in spec or one that spec files define, every %:name a spec
// function.
TEST(BuiltinSpecs, ReferencesResolve) {
  const std::vector<std::string_view> from_spec_files = {
      "asm_cpu_spec", "cpp_cpu",       "cpp_arch",     "mfwrap",
      "mflib",        "link_weld",     "link_libasan", "link_libhwasan",
      "link_libtsan", "link_libubsan", "link_liblsan"};
  for (const auto& [name, text] : all_texts()) {
    int braces = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '{')
        ++braces;
      else if (text[i] == '}')
        EXPECT_GE(--braces, 0) << name;
      if (text[i] != '%' || i + 1 == text.size())
        continue;
      char escape = text[++i];
      if (escape == '(') {
        std::size_t end = text.find(')', i);
        ASSERT_NE(end, std::string_view::npos) << name;
        std::string_view ref = text.substr(i + 1, end - i - 1);
        EXPECT_TRUE(find_builtin_spec(ref) ||
                    std::ranges::find(from_spec_files, ref) !=
                        from_spec_files.end())
            << name << ": %(" << ref << ")";
      } else if (escape == ':') {
        std::size_t open = text.find('(', i);
        ASSERT_NE(open, std::string_view::npos) << name;
        std::string_view function = text.substr(i + 1, open - i - 1);
        EXPECT_NE(find_spec_function(function), nullptr)
            << name << ": %:" << function;
      } else if (escape == '{') {
        ++braces;
      }
    }
    EXPECT_EQ(braces, 0) << name;
  }
}

constexpr std::string_view shared_construct =
    "%{static|static-libvelk|static-pie:-lvelk -lvelk_eh}"
    "%{!static:%{!static-libvelk:%{!static-pie:%{!shared-libvelk:-lvelk "
    "--push-state --as-needed -lvelk_s --pop-state}%{shared-libvelk:-lvelk_s"
    "%{!shared: -lvelk}}}}}";

TEST(BuiltinSpecs, LibvelkRewrite) {
  std::string shared(shared_construct);
  std::string archive =
      replace_all(shared, "-lvelk -lvelk_eh", "libvelk.a%s libvelk_eh.a%s");
  struct {
    std::string text, expected;
  } cases[] = {
      {"-lvelk", shared},
      {"libvelk.a%s", archive},
      {"-lfoo -lvelk", "-lfoo " + shared},
      {"-lvelk\t-lvelk", shared + "\t" + shared},
      {"-lvelk_s x-lvelk -lvelkx", "-lvelk_s x-lvelk -lvelkx"},
      {"", ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(rewrite_libvelk(c.text), c.expected) << c.text;
  EXPECT_EQ(prefix_link_spec("-X"), "%{!static|static-pie:--eh-frame-hdr} -X");
  EXPECT_EQ(prefix_sysroot_link_spec("-X"), "%(sysroot_spec) -X");
}

class LanguageEntry : public ::testing::Test {
protected:
  void SetUp() override {
    set_program_name("velk++");
    engine_init(global_engine, 0);
    rows_ = builtin_rows();
  }
  std::string key_for(std::string_view name,
                      std::optional<std::string> language = std::nullopt,
                      bool preprocess_only = false) {
    const compiler_record* r =
        find_language_entry(name, language, rows_, preprocess_only);
    return r ? std::string(r->key) + " " + std::string(r->spec.substr(0, 8))
             : "none";
  }
  std::vector<compiler_record> rows_;
};

TEST_F(LanguageEntry, BySuffix) {
  struct {
    const char* name;
    const char* expected; // key and the first characters of the spec
  } cases[] = {
      {"x.cc", "@c++ %{E|M|MM"},
      {"dir/x.C", "@c++ %{E|M|MM"},
      {"x.c", "@c %{E|M|MM"},
      {"x.i", "@cpp-output %{!M:%{!"},
      {"x.ii", "@c++-cpp-output %{!E:%{!"},
      {"x.s", "@assembler %{!M:%{!"},
      {"x.S", "@assembler-with-cpp %(trad_c"},
      {"x.sx", "@assembler-with-cpp %(trad_c"},
      {"x.h", "@c-header %{E|M|MM"},
      {"x.hpp", "@c++-header %{E|M|MM"},
      {"x.adb", "@ada %{pg:%{f"},
      {"x.f90", ".f90 #Fortran"},
      {"x.m", ".m #Objecti"},
      {"x.go", ".go #Go"},
      {"-", "- %{!E:%e-"},
      {"x.o", "none"},
      {".c", "none"}, // the key must be shorter than the name
      {"x", "none"},
      // Only standard input is "-", and language entries are reached by
      // their language only.
      {"notes-", "none"},
      {"notes@c", "none"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(key_for(c.name), c.expected) << c.name;
}

TEST_F(LanguageEntry, ByLanguage) {
  EXPECT_EQ(key_for("x.txt", "c++"), "@c++ %{E|M|MM");
  EXPECT_EQ(key_for("x.c", "assembler-with-cpp"),
            "@assembler-with-cpp %(trad_c");
  EXPECT_EQ(key_for("x.c", "*"), "none");
  EXPECT_EQ(key_for("x.c", "*anything"), "none");
  EXPECT_EQ(key_for("-", "c++-header", true), "@c++-header %{E|M|MM");
  EXPECT_EQ(key_for("-", "c++-system-header"), "@c++-system-header %{E|M|MM");
  EXPECT_EXIT(key_for("-", "c++-header"), ExitedWithCode(1),
              "^velk\\+\\+: fatal error: cannot use '-' as input filename for "
              "a precompiled header\ncompilation terminated.\n$");
  EXPECT_EXIT(key_for("-", "c-header"), ExitedWithCode(1),
              "precompiled header");
}

TEST_F(LanguageEntry, UnknownLanguageIsAnError) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(key_for("x.c", "cobol"), "none");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "velk++: error: language cobol not recognized\n");
  // An alias to a language that no row defines.
  rows_.push_back({".zz", "@zz", std::nullopt, false, false});
  testing::internal::CaptureStderr();
  EXPECT_EQ(key_for("x.zz"), "none");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "velk++: error: language zz not recognized\n");
}

TEST_F(LanguageEntry, LaterRowsWin) {
  rows_.push_back({".foo", "@c", std::nullopt, false, false});
  rows_.push_back({".c", "@c++", std::nullopt, false, false});
  EXPECT_EQ(key_for("x.foo"), "@c %{E|M|MM");
  EXPECT_EQ(key_for("x.c"), "@c++ %{E|M|MM");
  rows_.push_back({"@c", "my-c %i", std::nullopt, false, false});
  EXPECT_EQ(key_for("x.foo"), "@c my-c %i");
}

} // namespace
} // namespace velk
