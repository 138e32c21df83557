// Decoding of argument vectors into decoded_option records: spellings,
// arguments, aliases, integer and enumeration arguments, error bits,
// canonical forms and pruning.
#include "options/decode.h"

#include "options/handle.h"
#include "options/option_codes.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <initializer_list>
#include <string>
#include <vector>

namespace velk {
namespace {

// The mask of the C compiler proper: the C language, common and target
// options.
constexpr std::uint32_t c_mask = 0x8 | OPTF_COMMON | OPTF_TARGET;

std::string name_of(std::size_t code) {
  if (code < option_count)
    return std::string(option_table[code].text);
  switch (code) {
  case OPTION_UNKNOWN:
    return "OPTION_UNKNOWN";
  case OPTION_IGNORE:
    return "OPTION_IGNORE";
  case OPTION_WARN_REMOVED:
    return "OPTION_WARN_REMOVED";
  case OPTION_PROGRAM_NAME:
    return "OPTION_PROGRAM_NAME";
  case OPTION_INPUT_FILE:
    return "OPTION_INPUT_FILE";
  }
  return std::to_string(code);
}

std::string text_or_none(const char* text) {
  return text != nullptr ? std::string(text) : "(none)";
}

std::string canonical_of(const decoded_option& d) {
  std::string out;
  for (std::size_t i = 0; i < d.canonical_count; ++i) {
    if (i != 0)
      out += '|';
    out += text_or_none(d.canonical[i]);
  }
  return out;
}

// Decodes the option at the start of `args` and reports what it consumed.
decoded_option decode_one(std::vector<const char*> args, std::uint32_t mask,
                          std::size_t* consumed = nullptr) {
  args.push_back(nullptr);
  decoded_option d{};
  const std::size_t n = decode_cmdline_option(args.data(), mask, d);
  if (consumed != nullptr)
    *consumed = n;
  return d;
}

std::vector<decoded_option> decode_all(std::vector<const char*> args,
                                       std::uint32_t mask = OPTF_DRIVER) {
  args.insert(args.begin(), "velk++");
  return decode_argument_list(static_cast<int>(args.size()), args.data(), mask);
}

std::vector<std::string> names_of(const std::vector<decoded_option>& list) {
  std::vector<std::string> names;
  for (const decoded_option& d : list)
    names.push_back(d.index == OPTION_INPUT_FILE ||
                            d.index == OPTION_PROGRAM_NAME
                        ? std::string(d.argument)
                        : std::string(d.given_text));
  return names;
}

struct decode_case {
  std::vector<const char*> args;
  std::uint32_t mask;
  const char* option; // expected option text or special-code name
  const char* argument;
  std::int64_t value;
  std::uint32_t errors;
  std::size_t consumed;
  const char* canonical; // elements joined by "|"
  const char* given_text;
};

void check(const decode_case& c) {
  std::size_t consumed = 0;
  const decoded_option d = decode_one(c.args, c.mask, &consumed);
  const std::string where = std::string("decoding ") + c.args[0];
  EXPECT_EQ(name_of(d.index), c.option) << where;
  EXPECT_EQ(text_or_none(d.argument), text_or_none(c.argument)) << where;
  EXPECT_EQ(d.value, c.value) << where;
  EXPECT_EQ(d.errors, c.errors) << where;
  EXPECT_EQ(consumed, c.consumed) << where;
  EXPECT_EQ(canonical_of(d), c.canonical) << where;
  EXPECT_STREQ(d.given_text, c.given_text) << where;
}

TEST(DecodeOption, EveryRowOfThePrefixMap) {
  const decode_case cases[] = {
      // "-Wno-"
      {{"-Wno-all"},
       OPTF_DRIVER,
       "-Wall",
       nullptr,
       0,
       DE_WRONG_LANGUAGE,
       1,
       "-Wno-all",
       "-Wno-all"},
      // "-fno-"
      {{"-fno-sanitize=address"},
       OPTF_DRIVER,
       "-fsanitize=",
       "address",
       0,
       0,
       1,
       "-fno-sanitize=address",
       "-fno-sanitize=address"},
      // "-gno-"
      {{"-gno-column-info"},
       OPTF_DRIVER,
       "-gcolumn-info",
       nullptr,
       0,
       0,
       1,
       "-gno-column-info",
       "-gno-column-info"},
      // "-mno-"
      {{"-mno-strict-align"},
       c_mask,
       "-mstrict-align",
       nullptr,
       0,
       0,
       1,
       "-mno-strict-align",
       "-mno-strict-align"},
      // "--debug="
      {{"--debug=3"}, OPTF_DRIVER, "-g", "3", 1, 0, 1, "-g3", "--debug=3"},
      // "--machine-", needing more text
      {{"--machine-strict-align"},
       c_mask,
       "-mstrict-align",
       nullptr,
       1,
       0,
       1,
       "-mstrict-align",
       "--machine-strict-align"},
      {{"--machine-"},
       c_mask,
       "OPTION_UNKNOWN",
       "--machine-",
       1,
       0,
       1,
       "--machine-",
       "--machine-"},
      // "--machine-no-"
      {{"--machine-no-strict-align"},
       c_mask,
       "-mstrict-align",
       nullptr,
       0,
       0,
       1,
       "-mno-strict-align",
       "--machine-no-strict-align"},
      // "--machine="
      {{"--machine=tune=neoverse-n1"},
       c_mask,
       "-mtune=",
       "neoverse-n1",
       1,
       0,
       1,
       "-mtune=neoverse-n1",
       "--machine=tune=neoverse-n1"},
      // "--machine=no-"
      {{"--machine=no-strict-align"},
       c_mask,
       "-mstrict-align",
       nullptr,
       0,
       0,
       1,
       "-mno-strict-align",
       "--machine=no-strict-align"},
      // "--machine" followed by any element
      {{"--machine", "tune=Cortex-A53"},
       c_mask,
       "-mtune=",
       "cortex-a53",
       1,
       0,
       2,
       "-mtune=cortex-a53",
       "--machine tune=Cortex-A53"},
      // "--machine" followed by "no-..."
      {{"--machine", "no-strict-align"},
       c_mask,
       "-mstrict-align",
       nullptr,
       0,
       0,
       2,
       "-mno-strict-align",
       "--machine no-strict-align"},
      // "--optimize="
      {{"--optimize=2"},
       OPTF_DRIVER,
       "-O",
       "2",
       1,
       DE_WRONG_LANGUAGE,
       1,
       "-O2",
       "--optimize=2"},
      // "--std="
      {{"--std=c++17"},
       c_mask | 0x10,
       "-std=c++17",
       nullptr,
       1,
       0,
       1,
       "-std=c++17",
       "--std=c++17"},
      // "--std" followed by the standard
      {{"--std", "c++17"},
       OPTF_DRIVER,
       "-std=c++17",
       nullptr,
       1,
       DE_WRONG_LANGUAGE,
       2,
       "-std=c++17",
       "--std c++17"},
      // "--warn-", needing more text
      {{"--warn-all"},
       c_mask,
       "-Wall",
       nullptr,
       1,
       0,
       1,
       "-Wall",
       "--warn-all"},
      {{"--warn-"},
       c_mask,
       "OPTION_UNKNOWN",
       "--warn-",
       1,
       0,
       1,
       "--warn-",
       "--warn-"},
      // "--warn-no-"
      {{"--warn-no-all"},
       c_mask,
       "-Wall",
       nullptr,
       0,
       0,
       1,
       "-Wno-all",
       "--warn-no-all"},
      // "--" for "-f", needing more text
      {{"--sanitize=address"},
       OPTF_DRIVER,
       "-fsanitize=",
       "address",
       1,
       0,
       1,
       "-fsanitize=address",
       "--sanitize=address"},
      // "--no-" for "-fno-"
      {{"--no-sanitize=address"},
       OPTF_DRIVER,
       "-fsanitize=",
       "address",
       0,
       0,
       1,
       "-fno-sanitize=address",
       "--no-sanitize=address"},
  };
  for (const decode_case& c : cases)
    check(c);
}

TEST(DecodeOption, ArgumentsAliasesAndLongForms) {
  const decode_case cases[] = {
      {{"-o", "a.out"},
       OPTF_DRIVER,
       "-o",
       "a.out",
       1,
       0,
       2,
       "-o|a.out",
       "-o a.out"},
      // A joined argument still has the separate canonical form.
      {{"-oa.out"}, OPTF_DRIVER, "-o", "a.out", 1, 0, 1, "-o|a.out", "-oa.out"},
      {{"-o"}, OPTF_DRIVER, "-o", nullptr, 1, DE_MISSING_ARG, 1, "-o", "-o"},
      {{"-o", ""}, OPTF_DRIVER, "-o", "", 1, 0, 2, "-o|", "-o \"\""},
      {{"--output", "f"},
       OPTF_DRIVER,
       "-o",
       "f",
       1,
       0,
       2,
       "-o|f",
       "--output f"},
      {{"--output=f"}, OPTF_DRIVER, "-o", "f", 1, 0, 1, "-o|f", "--output=f"},
      {{"--all-warnings"},
       c_mask,
       "-Wall",
       nullptr,
       1,
       0,
       1,
       "-Wall",
       "--all-warnings"},
      // An alias passing its own argument.
      {{"--include-barrier"},
       c_mask,
       "-I",
       "-",
       1,
       0,
       1,
       "-I|-",
       "--include-barrier"},
      {{"-fdiagnostics-color"},
       OPTF_DRIVER,
       "-fdiagnostics-color=",
       "always",
       1,
       0,
       1,
       "-fdiagnostics-color=always",
       "-fdiagnostics-color"},
      {{"-fno-diagnostics-color"},
       OPTF_DRIVER,
       "-fdiagnostics-color=",
       "never",
       0,
       0,
       1,
       "-fdiagnostics-color=never",
       "-fno-diagnostics-color"},
      // Without the driver's mask "-MD" takes the following file; with it,
      // it takes nothing.
      {{"-MD", "deps.d"},
       OPTF_DRIVER,
       "-MD",
       nullptr,
       1,
       DE_WRONG_LANGUAGE,
       1,
       "-MD",
       "-MD"},
      {{"-MD", "deps.d"},
       c_mask,
       "-MD",
       "deps.d",
       1,
       0,
       2,
       "-MD|deps.d",
       "-MD deps.d"},
      {{"-MD"}, c_mask, "-MD", nullptr, 1, DE_MISSING_ARG, 1, "-MD", "-MD"},
      {{"--write-dependencies", "d"},
       OPTF_DRIVER,
       "-MD",
       nullptr,
       1,
       DE_WRONG_LANGUAGE,
       1,
       "-MD",
       "--write-dependencies"},
      // Abbreviations of long options.
      {{"--hel"}, OPTF_DRIVER, "--help", nullptr, 1, 0, 1, "--help", "--hel"},
      {{"--vers"},
       OPTF_DRIVER,
       "--version",
       nullptr,
       1,
       0,
       1,
       "--version",
       "--vers"},
      {{"--ver"},
       OPTF_DRIVER,
       "OPTION_UNKNOWN",
       "--ver",
       1,
       0,
       1,
       "--ver",
       "--ver"},
      {{"--sysr", "/x"},
       OPTF_DRIVER,
       "--sysroot=",
       "/x",
       1,
       0,
       2,
       "--sysroot=/x",
       "--sysr /x"},
      {{"--targ"},
       OPTF_DRIVER,
       "--target-help",
       nullptr,
       1,
       0,
       1,
       "--target-help",
       "--targ"},
      // "-L" takes a joined argument, or the next element when none is
      // joined.
      {{"-L", "/lib"},
       OPTF_DRIVER,
       "-L",
       "/lib",
       1,
       0,
       2,
       "-L|/lib",
       "-L /lib"},
      {{"-Wl,-z,now"},
       OPTF_DRIVER,
       "-Wl,",
       "-z,now",
       1,
       0,
       1,
       "-Wl,-z,now",
       "-Wl,-z,now"},
      {{"-Wl,"}, OPTF_DRIVER, "-Wl,", "", 1, 0, 1, "-Wl,", "-Wl,"},
      // Negative forms the option does not have.
      {{"-fno-diagnostics-plain-output"},
       OPTF_DRIVER,
       "OPTION_UNKNOWN",
       "-fno-diagnostics-plain-output",
       0,
       DE_NEGATED,
       1,
       "-fno-diagnostics-plain-output",
       "-fno-diagnostics-plain-output"},
      {{"-fno-diagnostics-color=never"},
       OPTF_DRIVER,
       "OPTION_UNKNOWN",
       "-fno-diagnostics-color=never",
       0,
       DE_NEGATED,
       1,
       "-fno-diagnostics-color=never",
       "-fno-diagnostics-color=never"},
      {{"-fno-nonexistent"},
       OPTF_DRIVER,
       "OPTION_UNKNOWN",
       "-fno-nonexistent",
       1,
       0,
       1,
       "-fno-nonexistent",
       "-fno-nonexistent"},
      // Removed and ignored options.
      {{"-gstabs"},
       OPTF_DRIVER,
       "OPTION_WARN_REMOVED",
       nullptr,
       1,
       0,
       1,
       "(none)",
       "-gstabs"},
      {{"-gno-stabs"},
       OPTF_DRIVER,
       "OPTION_WARN_REMOVED",
       nullptr,
       0,
       0,
       1,
       "(none)",
       "-gno-stabs"},
      {{"-Whsa"}, c_mask, "OPTION_IGNORE", nullptr, 1, 0, 1, "(none)", "-Whsa"},
      // Disabled in this configuration.
      {{"-fkeep-inline-dllexport"},
       c_mask,
       "-fkeep-inline-dllexport",
       nullptr,
       1,
       DE_DISABLED,
       1,
       "-fkeep-inline-dllexport",
       "-fkeep-inline-dllexport"},
  };
  for (const decode_case& c : cases)
    check(c);
}

TEST(DecodeOption, WarningMessageComesFromTheAlias) {
  const decoded_option d = decode_one({"-fhandle-exceptions"}, OPTF_DRIVER);
  EXPECT_EQ(name_of(d.index), "-fexceptions");
  EXPECT_EQ(d.errors, DE_WRONG_LANGUAGE);
  ASSERT_NE(d.warning_message, nullptr);
  EXPECT_STREQ(d.warning_message, "%<-fhandle-exceptions%> has been renamed "
                                  "%<-fexceptions%> (and is now on by "
                                  "default)");
}

TEST(DecodeOption, IntegerArguments) {
  const decode_case cases[] = {
      {{"-fconstexpr-ops-limit=8589934592"},
       c_mask | 0x10,
       "-fconstexpr-ops-limit=",
       "8589934592",
       8589934592LL,
       0,
       1,
       "-fconstexpr-ops-limit=8589934592",
       "-fconstexpr-ops-limit=8589934592"},
      // Too large for 64 bits: all ones, without an error.
      {{"-fconstexpr-ops-limit=99999999999999999999"},
       c_mask | 0x10,
       "-fconstexpr-ops-limit=",
       "99999999999999999999",
       -1,
       0,
       1,
       "-fconstexpr-ops-limit=99999999999999999999",
       "-fconstexpr-ops-limit=99999999999999999999"},
      {{"-fconstexpr-ops-limit=0x10"},
       c_mask | 0x10,
       "-fconstexpr-ops-limit=",
       "0x10",
       16,
       0,
       1,
       "-fconstexpr-ops-limit=0x10",
       "-fconstexpr-ops-limit=0x10"},
      {{"-Wframe-larger-than=1KiB"},
       c_mask,
       "-Wframe-larger-than=",
       "1KiB",
       1024,
       0,
       1,
       "-Wframe-larger-than=1KiB",
       "-Wframe-larger-than=1KiB"},
      {{"-Wframe-larger-than=2GB"},
       c_mask,
       "-Wframe-larger-than=",
       "2GB",
       2000000000,
       0,
       1,
       "-Wframe-larger-than=2GB",
       "-Wframe-larger-than=2GB"},
      {{"-Wframe-larger-than=1kb"},
       c_mask,
       "-Wframe-larger-than=",
       "1kb",
       -1,
       DE_BAD_UNSIGNED,
       1,
       "-Wframe-larger-than=1kb",
       "-Wframe-larger-than=1kb"},
      // An empty integer argument is 0.
      {{"-Wframe-larger-than="},
       c_mask,
       "-Wframe-larger-than=",
       nullptr,
       0,
       DE_MISSING_ARG,
       1,
       "-Wframe-larger-than=",
       "-Wframe-larger-than="},
      // The "-Wno-" alias of a size option passes the largest size.
      {{"-Wno-frame-larger-than"},
       c_mask,
       "-Wframe-larger-than=",
       "18446744073709551615EiB",
       -1,
       0,
       1,
       "-Wframe-larger-than=18446744073709551615EiB",
       "-Wno-frame-larger-than"},
      {{"--param=max-combine-insns=3"},
       c_mask,
       "--param=max-combine-insns=",
       "3",
       3,
       0,
       1,
       "--param=max-combine-insns=3",
       "--param=max-combine-insns=3"},
      {{"--param=max-combine-insns=5"},
       c_mask,
       "--param=max-combine-insns=",
       "5",
       5,
       DE_OUT_OF_RANGE,
       1,
       "--param=max-combine-insns=5",
       "--param=max-combine-insns=5"},
      {{"--param=max-combine-insns=x"},
       c_mask,
       "--param=max-combine-insns=",
       "x",
       -1,
       DE_BAD_UNSIGNED | DE_OUT_OF_RANGE,
       1,
       "--param=max-combine-insns=x",
       "--param=max-combine-insns=x"},
      {{"-fmax-errors=-1"},
       c_mask,
       "-fmax-errors=",
       "-1",
       -1,
       DE_BAD_UNSIGNED,
       1,
       "-fmax-errors=-1",
       "-fmax-errors=-1"},
      {{"-gdwarf-4"},
       OPTF_DRIVER,
       "-gdwarf-",
       "4",
       4,
       0,
       1,
       "-gdwarf-4",
       "-gdwarf-4"},
  };
  for (const decode_case& c : cases)
    check(c);
}

TEST(DecodeOption, EnumerationArguments) {
  const decode_case cases[] = {
      {{"-fdiagnostics-color=never"},
       OPTF_DRIVER,
       "-fdiagnostics-color=",
       "never",
       0,
       0,
       1,
       "-fdiagnostics-color=never",
       "-fdiagnostics-color=never"},
      // No lower-casing without ATTR_LOWERCASE_ARG.
      {{"-fdiagnostics-color=NEVER"},
       OPTF_DRIVER,
       "-fdiagnostics-color=",
       "NEVER",
       1,
       DE_BAD_ENUM,
       1,
       "-fdiagnostics-color=NEVER",
       "-fdiagnostics-color=NEVER"},
      {{"-fdiagnostics-color="},
       OPTF_DRIVER,
       "-fdiagnostics-color=",
       nullptr,
       1,
       DE_MISSING_ARG,
       1,
       "-fdiagnostics-color=",
       "-fdiagnostics-color="},
      {{"-fvisibility=hidden"},
       c_mask,
       "-fvisibility=",
       "hidden",
       2,
       0,
       1,
       "-fvisibility=hidden",
       "-fvisibility=hidden"},
  };
  for (const decode_case& c : cases)
    check(c);
}

TEST(DecodeOption, EnumerationLists) {
  struct {
    const char* text;
    std::int64_t value;
    std::int64_t mask;
    std::uint32_t errors;
  } cases[] = {
      {"-fsanitize-coverage=trace-pc,trace-cmp", 3, 3, 0},
      {"-fsanitize-coverage=trace-cmp", 2, 2, 0},
      {"-fno-sanitize-coverage=trace-cmp", 0, 2, 0},
      {"-fsanitize-coverage=trace-pc,,trace-cmp", 1, 1, DE_BAD_ENUM_SET},
      {"-fsanitize-coverage=,trace-pc", 0, 0, DE_BAD_ENUM_SET},
      {"-fsanitize-coverage=trace-pc,", 1, 1, DE_BAD_ENUM_SET},
      {"-fsanitize-coverage=trace-pcx", 0, 0, DE_BAD_ENUM_SET},
      // Groups: any/none/unpaired are group 1, ucn group 2.
      {"-Wbidi-chars=any,ucn", 6, 7, 0},
      {"-Wbidi-chars=unpaired", 1, 3, 0},
      {"-Wbidi-chars=any,none", 2, 3, DE_BAD_ENUM_SET},
      {"-Wbidi-chars=ucn,ucn", 4, 4, DE_BAD_ENUM_SET},
  };
  for (const auto& c : cases) {
    const decoded_option d = decode_one({c.text}, c_mask);
    EXPECT_EQ(d.value, c.value) << c.text;
    EXPECT_EQ(d.mask, c.mask) << c.text;
    EXPECT_EQ(d.errors, c.errors) << c.text;
  }
}

TEST(ParseIntegralArgument, DecimalHexAndSizeUnits) {
  constexpr std::uint64_t all_ones = ~0ULL;
  struct {
    const char* text;
    bool units;
    std::uint64_t result;
    int error;
  } cases[] = {
      {"0", false, 0, 0},
      {"42", false, 42, 0},
      {"010", false, 10, 0}, // the decimal parse consumes it first
      {"0x10", false, 16, 0},
      {"0X1f", false, 31, 0},
      {"0x", false, all_ones, EINVAL},
      {"1k", false, all_ones, EINVAL},
      {"18446744073709551615", false, all_ones, 0},
      {"99999999999999999999", false, all_ones, 0},
      {"-1", false, all_ones, EINVAL},
      {"", false, all_ones, EINVAL},
      {" 1", false, all_ones, EINVAL},
      {"1 ", false, all_ones, EINVAL},
      {"1KiB", true, 1024, 0},
      {"1kib", true, 1024, 0},
      {"1kB", true, 1000, 0},
      {"1KB", true, 1024, 0},
      {"1kb", true, all_ones, EINVAL},
      {"1Kb", true, all_ones, EINVAL},
      {"1mb", true, all_ones, EINVAL},
      {"1Mb", true, all_ones, EINVAL},
      {"1MB", true, 1000000, 0},
      {"1mib", true, 1048576, 0},
      {"2GB", true, 2000000000, 0},
      {"2gb", true, 2000000000, 0},
      {"1GiB", true, 1ULL << 30, 0},
      {"3TB", true, 3000000000000ULL, 0},
      {"1TiB", true, 1ULL << 40, 0},
      {"1PB", true, 1000000000000000ULL, 0},
      {"1PiB", true, 1ULL << 50, 0},
      {"1EB", true, 1000000000000000000ULL, 0},
      {"15EiB", true, 15ULL << 60, 0},
      {"16EiB", true, all_ones, 0}, // the product overflows
      {"0EiB", true, 0, 0},
      {"0x10", true, all_ones, EINVAL},
      {"12", true, 12, 0},
      {"1 KiB", true, all_ones, EINVAL},
  };
  for (const auto& c : cases) {
    int error = -1;
    EXPECT_EQ(parse_integral_argument(c.text, error, c.units), c.result)
        << '"' << c.text << '"';
    EXPECT_EQ(error, c.error) << '"' << c.text << '"';
  }
}

TEST(DecodeArgumentList, OptionsAndInputs) {
  const auto list = decode_all({"-o", "a.out", "x.cc"});
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].index, OPTION_PROGRAM_NAME);
  EXPECT_STREQ(list[0].argument, "velk++");
  EXPECT_STREQ(list[0].canonical[0], "velk++");
  EXPECT_EQ(list[1].index, option_code("-o"));
  EXPECT_STREQ(list[1].argument, "a.out");
  EXPECT_EQ(list[2].index, OPTION_INPUT_FILE);
  EXPECT_STREQ(list[2].argument, "x.cc");
  EXPECT_STREQ(list[2].given_text, "x.cc");
}

TEST(DecodeArgumentList, ParamFollowedBySetting) {
  auto list = decode_all({"--param", "max-inline-insns-auto=10"});
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[1].index, option_code("--param=max-inline-insns-auto="));
  EXPECT_STREQ(list[1].argument, "10");
  EXPECT_EQ(list[1].value, 10);
  EXPECT_STREQ(list[1].given_text, "--param=max-inline-insns-auto=10");

  list = decode_all({"--param"});
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[1].index, OPTION_UNKNOWN);
}

TEST(DecodeArgumentList, PlainOutputStandsForFiveOptions) {
  for (const char* spelling :
       {"-fdiagnostics-plain-output", "--diagnostics-plain-output"}) {
    const auto list = decode_all({"-c", spelling, "x.c"});
    EXPECT_EQ(
        names_of(list),
        (std::vector<std::string>{
            "velk++", "-fdiagnostics-color=never", "-c",
            "-fno-diagnostics-show-caret", "-fno-diagnostics-show-line-numbers",
            "-fdiagnostics-urls=never",
            "-fdiagnostics-path-format=separate-events", "x.c"}))
        << spelling;
  }
}

TEST(DecodeArgumentList, BadInputNeverCrashes) {
  const std::string long_option = "-f" + std::string(65536, 'x');
  const std::string long_output = "-o" + std::string(65536, 'y');
  const std::string long_number =
      "-fconstexpr-ops-limit=" + std::string(65536, '9');
  const char invalid_utf8[] = {'-', 'W', '\xff', '\xfe', '\xc3', '\0'};
  const auto list =
      decode_all({"", "-", long_option.c_str(), long_output.c_str(),
                  invalid_utf8, long_number.c_str(), "--", "-o"},
                 c_mask | 0x10);
  ASSERT_EQ(list.size(), 9u);
  EXPECT_EQ(list[1].index, OPTION_INPUT_FILE);
  EXPECT_STREQ(list[1].given_text, "");
  EXPECT_EQ(list[2].index, OPTION_INPUT_FILE); // a lone "-"
  EXPECT_EQ(list[3].index, OPTION_UNKNOWN);
  EXPECT_EQ(list[3].argument, long_option);
  EXPECT_EQ(list[4].index, option_code("-o"));
  EXPECT_EQ(std::string(list[4].argument), long_output.substr(2));
  EXPECT_EQ(list[5].index, OPTION_UNKNOWN);
  EXPECT_EQ(list[6].index, option_code("-fconstexpr-ops-limit="));
  EXPECT_EQ(list[6].value, -1);
  EXPECT_EQ(list[7].index, OPTION_UNKNOWN); // "--"
  EXPECT_EQ(list[8].errors, DE_MISSING_ARG);
}

TEST(DecodeArgumentList, EmptyAndUnterminatedVectors) {
  auto list = decode_argument_list(0, nullptr, OPTF_DRIVER);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].index, OPTION_PROGRAM_NAME);
  EXPECT_STREQ(list[0].argument, "");

  // argc counts the elements; no null entry is needed after them, and a
  // separate argument is never looked for beyond argc.
  const char* args[] = {"velk++", "-o", "a.out"};
  list = decode_argument_list(2, args, OPTF_DRIVER);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[1].errors, DE_MISSING_ARG);
}

TEST(DecodeArgumentList, EveryOptionDecodesUnderEveryMask) {
  // Every spelling of the table, alone, with an argument and in its "no-"
  // form, decodes without tripping an internal check.
  for (std::uint32_t mask :
       {OPTF_DRIVER, c_mask, 0x3FFFu | OPTF_COMMON, OPTF_TARGET, 0xFFFFFFFFu}) {
    for (std::size_t code = 0; code < option_count; ++code) {
      const std::string text(option_table[code].text);
      std::string negative;
      if (text.size() > 2)
        negative = text.substr(0, 2) + "no-" + text.substr(2);
      const std::string joined = text + "1";
      const char* args[] = {"velk++", text.c_str(),   "1",    negative.c_str(),
                            "x",      joined.c_str(), nullptr};
      const auto list = decode_argument_list(6, args, mask);
      ASSERT_GE(list.size(), 2u) << text;
    }
  }
}

TEST(Pruning, LaterOptionsOverrideEarlierOnes) {
  struct {
    std::vector<const char*> args;
    std::vector<std::string> kept;
  } cases[] = {
      {{"-c", "-fdiagnostics-color=never", "-fdiagnostics-color=always"},
       {"velk++", "-fdiagnostics-color=always", "-c"}},
      {{"-pie", "x.o", "-shared"}, {"velk++", "x.o", "-shared"}},
      {{"-shared", "-static-pie", "-no-pie"}, {"velk++", "-no-pie"}},
      {{"-fPIC", "-fpie"}, {"velk++", "-fpie"}},
      {{"-fpic", "-fno-pic"}, {"velk++", "-fno-pic"}},
      {{"-gcolumn-info", "-gno-column-info", "-gcolumn-info"},
       {"velk++", "-gcolumn-info"}},
      {{"-march=armv8-a", "-march=armv9-a"}, {"velk++", "-march=armv9-a"}},
      {{"-gpubnames", "-gno-pubnames"}, {"velk++", "-gno-pubnames"}},
      // Options with joined arguments and a negative form are not pruned.
      {{"-fsanitize=address", "-fno-sanitize=address"},
       {"velk++", "-fsanitize=address", "-fno-sanitize=address"}},
      // Nor are options without a negation link.
      {{"-o", "a", "-o", "b"}, {"velk++", "-o a", "-o b"}},
      // A record with a decode error stays where it is.
      {{"-fdiagnostics-color=rainbow", "-fdiagnostics-color=never"},
       {"velk++", "-fdiagnostics-color=never", "-fdiagnostics-color=rainbow"}},
      {{"-Wcomplain-wrong-lang", "-fdiagnostics-color=never", "-c",
        "-Wno-complain-wrong-lang"},
       {"velk++", "-Wno-complain-wrong-lang", "-fdiagnostics-color=never",
        "-c"}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(names_of(decode_all(c.args)), c.kept) << c.args[0];
}

TEST(GenerateOption, CanonicalForms) {
  decoded_option d{};
  generate_option(option_code("-o"), "x", 1, OPTF_DRIVER, d);
  EXPECT_EQ(canonical_of(d), "-o|x");
  EXPECT_STREQ(d.given_text, "-o x");
  EXPECT_EQ(d.errors, 0u);

  generate_option(option_code("-Wall"), nullptr, 0, OPTF_DRIVER, d);
  EXPECT_EQ(canonical_of(d), "-Wno-all");
  EXPECT_STREQ(d.given_text, "-Wno-all");
  EXPECT_EQ(d.errors, DE_WRONG_LANGUAGE);

  generate_option(option_code("-shared-libvelk"), nullptr, 1, OPTF_DRIVER, d);
  EXPECT_STREQ(d.given_text, "-shared-libvelk");
  EXPECT_EQ(d.warning_message, nullptr);

  // No negative form: the positive spelling stays.
  generate_option(option_code("-fdiagnostics-color="), "never", 0, OPTF_DRIVER,
                  d);
  EXPECT_STREQ(d.given_text, "-fdiagnostics-color=never");

  decode_input_file("y.c", d);
  EXPECT_EQ(d.index, OPTION_INPUT_FILE);
  EXPECT_EQ(canonical_of(d), "y.c");
}

} // namespace
} // namespace velk
