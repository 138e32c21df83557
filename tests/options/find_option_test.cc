// Lookups over the option table: options by text, enumeration values by
// text and by value.
#include "options/option_table.h"

#include "options/option_codes.h"
#include "options/option_values.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace velk {
namespace {

constexpr std::uint32_t all_bits = 0xFFFFFFFF;

std::string text_of(std::size_t code) {
  if (code < option_count) {
    return std::string(option_table[code].text);
  }
  return code == OPTION_UNKNOWN ? "OPTION_UNKNOWN" : std::to_string(code);
}

TEST(FindOption, EveryTextFindsItself) {
  for (std::size_t code = 0; code < option_count; ++code) {
    const option_record& o = option_table[code];
    const std::string_view input = o.text.substr(1);
    EXPECT_EQ(text_of(find_option(input, all_bits)), o.text);
    if (o.flags & OPTF_DRIVER) {
      EXPECT_EQ(text_of(find_option(input, OPTF_DRIVER)), o.text);
    }
  }
}

struct lookup_case {
  const char* input; // without the leading "-"
  std::uint32_t mask;
  const char* expected; // option text, or null for OPTION_UNKNOWN
};

TEST(FindOption, JoinedFormsAbbreviationsAndUnknownTexts) {
  const lookup_case cases[] = {
      {"Wall", all_bits, "-Wall"},
      {"Wallx", all_bits, nullptr}, // "-Wall" takes no joined argument
      {"O2", all_bits, "-O"},
      {"Ofast", all_bits, "-Ofast"},
      {"fdump-tree-all", all_bits, "-fdump-"}, // through the back chain
      {"ofoo", OPTF_DRIVER, "-o"},
      {"ca", OPTF_DRIVER, nullptr},
      {"Wl,x", OPTF_DRIVER, "-Wl,"},
      {"Wl,", OPTF_DRIVER, "-Wl,"},
      {"std=c++17", all_bits, "-std=c++17"},
      {"-param=max-inline-insns-auto=10", all_bits,
       "--param=max-inline-insns-auto="},
      {"-param=no-such-param=1", all_bits, nullptr},
      {"-sysroot=/x", OPTF_DRIVER, "--sysroot="},
      {"fdiagnostics-color=never", OPTF_DRIVER, "-fdiagnostics-color="},
      {"Wno-all", all_bits, nullptr},    // "no-" forms are the decoder's job
      {"gno-foo", OPTF_DRIVER, nullptr}, // stopped by the "-gno-" placeholder
      {"gno-foo", all_bits, "-gno-"},
      {"gno-pubnames", OPTF_DRIVER, "-gno-pubnames"},
      // The longest match valid under the mask wins over longer ones that
      // are not; with no valid match the longest one is returned.
      {"gimple-stats", OPTF_DRIVER, "-g"},
      {"gimple-stats", all_bits, "-gimple-stats"},
      {"fdirectives-only", OPTF_DRIVER, "-fdirectives-only"},
      {"Wall", OPTF_DRIVER, "-Wall"},
      // Abbreviations of "--" options.
      {"-hel", OPTF_DRIVER, "--help"},
      {"-he", OPTF_DRIVER, "--help"},
      {"-vers", OPTF_DRIVER, "--version"},
      {"-ver", OPTF_DRIVER, nullptr}, // "--verbose" or "--version"
      {"-sysr", OPTF_DRIVER, "--sysroot"},
      {"-targ", OPTF_DRIVER, "--target-help"},
      {"pedantic-e", OPTF_DRIVER, nullptr},
      {"-pedantic-e", OPTF_DRIVER, "--pedantic-errors"},
      {"-for-ass", OPTF_DRIVER, "--for-assembler"},
      {"-print-multi-o", OPTF_DRIVER, "--print-multi-os-directory"},
      {"-print-sysroot-h", OPTF_DRIVER, "--print-sysroot-headers-suffix"},
      {"-comp", OPTF_DRIVER, nullptr},    // "--compile" or "--completion="
      {"-complet", OPTF_DRIVER, nullptr}, // only "--completion=", joined
      {"-", OPTF_DRIVER, nullptr},
      {"", OPTF_DRIVER, nullptr},
      {"zzzz", OPTF_DRIVER, "-z"},
      {"\xff", all_bits, nullptr},
  };
  for (const lookup_case& c : cases) {
    const std::size_t code = find_option(c.input, c.mask);
    if (c.expected == nullptr) {
      EXPECT_EQ(code, OPTION_UNKNOWN)
          << "input \"" << c.input << "\" found " << text_of(code);
    } else {
      EXPECT_EQ(text_of(code), c.expected) << "input \"" << c.input << "\"";
    }
  }
}

TEST(FindOption, SpecialCodesFollowTheTable) {
  EXPECT_EQ(OPTION_UNKNOWN, 2082u);
  EXPECT_EQ(OPTION_IGNORE, 2083u);
  EXPECT_EQ(OPTION_WARN_REMOVED, 2084u);
  EXPECT_EQ(OPTION_PROGRAM_NAME, 2085u);
  EXPECT_EQ(OPTION_INPUT_FILE, 2086u);
  EXPECT_EQ(language_names[3], "C");
  EXPECT_EQ(language_names[4], "C++");
  EXPECT_EQ(language_names[language_count], "");
}

const option_enum& enum_of(std::size_t code) {
  return option_enums[option_table[code].enum_index];
}

TEST(OptionEnums, TableValuesAndLookupByText) {
  const option_enum& color = enum_of(option_code("-fdiagnostics-color="));
  ASSERT_EQ(color.values.size(), 3u);
  EXPECT_EQ(color.values[0].text, "always");
  EXPECT_EQ(color.unknown_message, nullptr);
  EXPECT_EQ(enum_text_to_value(color.values, "never", 0, OPTF_DRIVER).value, 0);
  EXPECT_EQ(enum_text_to_value(color.values, "auto", 0, OPTF_DRIVER).index, 1);
  EXPECT_EQ(enum_text_to_value(color.values, "NEVER", 0, OPTF_DRIVER).index,
            -1);
  EXPECT_EQ(enum_text_to_value(color.values, "alway", 0, OPTF_DRIVER).index,
            -1);

  // One element of a comma list: "all" matches, longer entries do not.
  const option_enum& reuse = enum_of(option_code("-fstack-reuse="));
  const enum_match all = enum_text_to_value(reuse.values, "all,x", 3, 0);
  ASSERT_GE(all.index, 0);
  EXPECT_EQ(reuse.values[all.index].text, "all");
  EXPECT_EQ(all.value, 2);
  EXPECT_EQ(enum_text_to_value(reuse.values, "al", 5, 0).index, -1);
  EXPECT_EQ(enum_text_to_value(reuse.values, "none,all", 2, 0).index, -1);

  const option_enum& bidi = enum_of(option_code("-Wbidi-chars="));
  EXPECT_EQ(option_table[option_code("-Wbidi-chars=")].variable_value, 1);
  EXPECT_EQ(bidi.values[2].text, "ucn");
  EXPECT_EQ(bidi.values[2].flags >> EV_GROUP_SHIFT, 2u);
  EXPECT_STREQ(bidi.unknown_message,
               "argument %qs to %<-Wbidi-chars%> not recognized");
  EXPECT_EQ(option_table[option_code("-fsanitize-coverage=")].variable_value,
            2);
  // Two options share one enumeration.
  EXPECT_EQ(option_table[option_code("-fsimd-cost-model=")].enum_index,
            option_table[option_code("-fvect-cost-model=")].enum_index);
  EXPECT_EQ(*opt_enum_arg_to_value(option_code("-fvect-cost-model="),
                                   "very-cheap", 0),
            -3);
}

TEST(OptionEnums, DriverOnlyAndCanonicalSpellings) {
  // No enumeration of the table uses these flags; a small list does.
  constexpr std::array<enum_value, 4> values = {{
      {"one", 1, 0},
      {"uno", 1, EV_CANONICAL},
      {"deux", 2, EV_DRIVER_ONLY},
      {"two", 2, 0},
  }};
  EXPECT_EQ(enum_text_to_value(values, "deux", 0, OPTF_COMMON).index, -1);
  EXPECT_EQ(enum_text_to_value(values, "deux", 0, OPTF_DRIVER).index, 2);

  const auto one = enum_value_text(values, 1, 0);
  ASSERT_TRUE(one);
  EXPECT_EQ(one->text, "uno");
  EXPECT_TRUE(one->canonical);
  const auto two = enum_value_text(values, 2, OPTF_COMMON);
  ASSERT_TRUE(two);
  EXPECT_EQ(two->text, "two");
  EXPECT_FALSE(two->canonical);
  EXPECT_EQ(enum_value_text(values, 2, OPTF_DRIVER)->text, "deux");
  EXPECT_FALSE(enum_value_text(values, 3, OPTF_DRIVER));
}

TEST(OptionEnums, OptionArgumentsAndAccessors) {
  EXPECT_EQ(opt_enum_arg_to_value(option_code("-fdiagnostics-urls="), "auto",
                                  OPTF_DRIVER),
            2);
  EXPECT_FALSE(opt_enum_arg_to_value(option_code("-fdiagnostics-urls="),
                                     "sometimes", OPTF_DRIVER));
  // "-stdlib=" takes no joined argument and is disabled, but its
  // enumeration still names the libraries.
  EXPECT_EQ(opt_enum_arg_to_value(option_code("-stdlib="), "libc++", 0), 2);
  EXPECT_EQ(opt_enum_arg_to_value(option_code("-stdlib="), "libvelkcxx", 0), 1);

  option_values values;
  const option_record& color =
      option_table[option_code("-fdiagnostics-color=")];
  ASSERT_TRUE(has_variable(color));
  auto* field =
      reinterpret_cast<unsigned char*>(&values) + color.variable_offset;
  const option_enum& e = option_enums[color.enum_index];
  e.set_value(field, 2);
  EXPECT_EQ(values.flag_diagnostics_color, 2);
  EXPECT_EQ(e.get_value(field), 2);
}

TEST(OptionEnumsDeathTest, EnumerationLookupOnOtherOptionsStops) {
  EXPECT_DEATH(opt_enum_arg_to_value(option_code("-Wall"), "x", 0),
               "opt_enum_arg_to_value");
}

} // namespace
} // namespace velk
