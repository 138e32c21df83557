// Handling of decoded options: the reports of decode errors, the storing of
// values, the dispatch to handlers and the actions of the common handler,
// each driven from a command line decoded with the driver's mask.
#include "options/handle.h"

#include "options/decode.h"
#include "options/option_codes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velk {
namespace {

using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

constexpr std::uint32_t c_mask = 0x8 | OPTF_COMMON | OPTF_TARGET;

// What the stand-in handlers and callbacks saw.
struct seen_state {
  std::vector<std::string> handled;    // "driver:-o", "common:-g", ...
  std::vector<std::string> other_lang; // given texts
  bool report_unknown = true;
  bool refuse = false; // the driver handler refuses everything
  int color_rule = -1;
  int urls_rule = -1;
};
seen_state seen;

bool stand_in_driver_handler(option_values*, option_values_set*,
                             const decoded_option& decoded, std::uint32_t,
                             diagnostic_kind, location_t,
                             const option_handlers&, diagnostic_engine&) {
  seen.handled.push_back(std::string("driver:") + decoded.given_text);
  return !seen.refuse;
}

bool recording_common_handler(option_values* opts, option_values_set* set,
                              const decoded_option& decoded, std::uint32_t mask,
                              diagnostic_kind kind, location_t loc,
                              const option_handlers& handlers,
                              diagnostic_engine& engine) {
  seen.handled.push_back(std::string("common:") + decoded.given_text);
  return common_handle_option(opts, set, decoded, mask, kind, loc, handlers,
                              engine);
}

bool unknown_callback(const decoded_option&) {
  return seen.report_unknown;
}

// Like the driver's: options it rejects are errors, the rest are kept for
// the compiler propers.
void wrong_lang_callback(const decoded_option& decoded, std::uint32_t) {
  if (option_table[decoded.index].attributes & ATTR_DRIVER_REJECTS)
    error_at(unknown_location, "unrecognized command-line option %qs",
             decoded.given_text);
  else
    seen.other_lang.push_back(decoded.given_text);
}

const option_handlers handlers = {unknown_callback,
                                  wrong_lang_callback,
                                  3,
                                  {{stand_in_driver_handler, OPTF_DRIVER},
                                   {recording_common_handler, OPTF_COMMON},
                                   {target_handle_option, OPTF_TARGET}}};

class OptionHandling : public ::testing::Test {
protected:
  void SetUp() override {
    set_program_name("velk++");
    engine_init(global_engine, static_cast<int>(option_count));
    init_options_once();
    init_options_struct(&opts, &set);
    seen = seen_state{};
    diagnostic_color_hook = [](diagnostic_engine&, int rule) {
      seen.color_rule = rule;
    };
    diagnostic_urls_hook = [](diagnostic_engine&, int rule) {
      seen.urls_rule = rule;
    };
  }
  void TearDown() override {
    diagnostic_color_hook = nullptr;
    diagnostic_urls_hook = nullptr;
  }

  // Decodes the command line and reads every option of it, as the driver
  // does; returns what was reported.
  std::string run(std::vector<const char*> args,
                  std::uint32_t mask = OPTF_DRIVER) {
    args.insert(args.begin(), "velk++");
    std::vector<decoded_option> decoded =
        decode_argument_list(static_cast<int>(args.size()), args.data(), mask);
    CaptureStderr();
    for (decoded_option& d : decoded)
      if (d.index != OPTION_PROGRAM_NAME && d.index != OPTION_INPUT_FILE)
        read_cmdline_option(&opts, &set, d, unknown_location, mask, handlers,
                            global_engine);
    return GetCapturedStderr();
  }

  template <typename T>
  T variable(const char* text_of_option) {
    std::size_t code =
        find_option(std::string_view(text_of_option + 1), 0xFFFFFFFF);
    return *static_cast<const T*>(option_variable(code, &opts));
  }

  option_values opts;
  option_values_set set;
};

TEST_F(OptionHandling, EachDecodeErrorHasItsMessage) {
  struct {
    std::vector<const char*> args;
    std::uint32_t mask;
    const char* report;
  } cases[] = {
      {{"-o"}, OPTF_DRIVER, "velk++: error: missing filename after '-o'\n"},
      {{"--output"},
       OPTF_DRIVER,
       "velk++: error: missing filename after '--output'\n"},
      {{"-Tbss"}, OPTF_DRIVER, "velk++: error: missing argument to '-Tbss'\n"},
      {{"-fkeep-inline-dllexport"},
       OPTF_DRIVER,
       "velk++: error: command-line option '-fkeep-inline-dllexport' is not "
       "supported by this configuration\n"},
      {{"-gdwarf-x"},
       OPTF_DRIVER,
       "velk++: error: argument to '-gdwarf-' should be a non-negative "
       "integer\n"},
      {{"-Wframe-larger-than=1kb"},
       OPTF_DRIVER,
       "velk++: error: argument to '-Wframe-larger-than=' should be a "
       "non-negative integer optionally followed by a size unit\n"},
      {{"--param=max-combine-insns=5"},
       c_mask,
       "velk++: error: argument to '--param=max-combine-insns=' is not "
       "between 2 and 4\n"},
      {{"-fdiagnostics-color=rainbow"},
       OPTF_DRIVER,
       "velk++: error: unrecognized argument in option "
       "'-fdiagnostics-color=rainbow'\n"
       "velk++: note: valid arguments to '-fdiagnostics-color=' are: always "
       "auto never\n"},
      {{"-fdiagnostics-color=alway"},
       OPTF_DRIVER,
       "velk++: error: unrecognized argument in option "
       "'-fdiagnostics-color=alway'\n"
       "velk++: note: valid arguments to '-fdiagnostics-color=' are: always "
       "auto never; did you mean 'always'?\n"},
      {{"-fvisibility=hiden"},
       c_mask,
       "velk++: error: unrecognized visibility value 'hiden'\n"
       "velk++: note: valid arguments to '-fvisibility=' are: default hidden "
       "internal protected; did you mean 'hidden'?\n"},
      {{"-fsanitize-coverage=trace-pc,,trace-cmp"},
       c_mask,
       "velk++: error: unrecognized argument in option "
       "'-fsanitize-coverage=trace-pc,,trace-cmp'\n"
       "velk++: note: valid arguments to '-fsanitize-coverage=' are: "
       "trace-cmp trace-pc\n"},
      {{"-Wbidi-chars=any,bogus"},
       c_mask,
       "velk++: error: argument 'bogus' to '-Wbidi-chars' not recognized\n"
       "velk++: note: valid arguments to '-Wbidi-chars=' are: any none ucn "
       "unpaired\n"},
      {{"-Wbidi-chars=ucn,any,none"},
       c_mask,
       "velk++: error: invalid argument in option "
       "'-Wbidi-chars=ucn,any,none'\n"
       "velk++: note: 'any' is mutually exclusive with 'none' and cannot be "
       "specified together\n"},
      {{"-Wbidi-chars=ucn,ucn"},
       c_mask,
       "velk++: error: invalid argument in option '-Wbidi-chars=ucn,ucn'\n"
       "velk++: note: 'ucn' specified multiple times in the same option\n"},
      {{"-fnonexistent"},
       OPTF_DRIVER,
       "velk++: error: unrecognized command-line option '-fnonexistent'\n"},
      {{"-fno-diagnostics-color=never"},
       OPTF_DRIVER,
       "velk++: error: unrecognized command-line option "
       "'-fno-diagnostics-color=never'\n"},
      // Rejected by the driver, through the wrong-language callback.
      {{"-quiet"},
       OPTF_DRIVER,
       "velk++: error: unrecognized command-line option '-quiet'\n"},
  };
  for (const auto& c : cases) {
    SetUp();
    EXPECT_EQ(run(c.args, c.mask), c.report) << c.args[0];
    EXPECT_EQ(global_engine.counters[kind_error], 1) << c.args[0];
  }
}

TEST_F(OptionHandling, UnknownOptionsAreReportedOnlyWhenTheCallbackSaysSo) {
  seen.report_unknown = false;
  EXPECT_EQ(run({"-fnonexistent", "-fno-diagnostics-color=never"}), "");
  EXPECT_EQ(global_engine.counters[kind_error], 0);
}

TEST_F(OptionHandling, RemovedOptionsWarnInTheirPositiveFormOnly) {
  EXPECT_EQ(run({"-gstabs"}),
            "velk++: warning: switch '-gstabs' is no longer supported\n");
  EXPECT_EQ(run({"-gno-stabs"}), "");
  EXPECT_EQ(run({"-Whsa"}, c_mask), ""); // ignored
  EXPECT_EQ(global_engine.counters[kind_warning], 1);
  EXPECT_TRUE(seen.handled.empty());
}

TEST_F(OptionHandling, PerOptionWarningThenTheWrongLanguageCallback) {
  EXPECT_EQ(run({"-fhandle-exceptions"}),
            "velk++: warning: '-fhandle-exceptions' has been renamed "
            "'-fexceptions' (and is now on by default)\n");
  EXPECT_EQ(seen.other_lang, std::vector<std::string>{"-fhandle-exceptions"});
  EXPECT_EQ(global_engine.counters[kind_error], 0);
}

TEST_F(OptionHandling, OptionsOfOtherLanguagesGoToTheirCallback) {
  EXPECT_EQ(run({"-Wall", "-O2", "-std=c++17", "-MD", "x.c"}), "");
  EXPECT_EQ(seen.other_lang,
            (std::vector<std::string>{"-Wall", "-O2", "-std=c++17", "-MD"}));
  EXPECT_TRUE(seen.handled.empty());
}

TEST_F(OptionHandling, HandlersRunInOrderForTheOptionsClasses) {
  EXPECT_EQ(run({"-o", "a.out", "-c", "-freport-bug"}), "");
  EXPECT_EQ(seen.handled, (std::vector<std::string>{
                              "driver:-o a.out", "common:-o a.out", "driver:-c",
                              "driver:-freport-bug", "common:-freport-bug"}));
  EXPECT_STREQ(opts.opt_o, "a.out");
  EXPECT_STREQ(set.opt_o, "");
  EXPECT_TRUE(global_engine.report_bug);
}

TEST_F(OptionHandling, ARefusingHandlerMakesTheOptionUnrecognized) {
  seen.refuse = true;
  EXPECT_EQ(run({"-c", "-o", "x"}),
            "velk++: error: unrecognized command-line option '-c'\n"
            "velk++: error: unrecognized command-line option '-o x'\n");
  // The driver handler refused, so the common one never ran.
  EXPECT_EQ(seen.handled,
            (std::vector<std::string>{"driver:-c", "driver:-o x"}));
}

TEST_F(OptionHandling, ValuesAreStoredByVariableKind) {
  EXPECT_EQ(run({"-gcolumn-info", "-gdwarf64", "-gzeb-pubnames",
                 "-fdiagnostics-urls=always", "-v"}),
            "");
  EXPECT_EQ(opts.debug_column_info, 1);     // equals 1
  EXPECT_EQ(opts.dwarf_offset_size, 8);     // equals 8
  EXPECT_EQ(opts.debug_pubnames, 2);        // equals 2
  EXPECT_EQ(opts.flag_diagnostics_urls, 1); // enumeration
  EXPECT_EQ(set.flag_diagnostics_urls, 1);
  EXPECT_EQ(seen.urls_rule, 1);
  EXPECT_EQ(opts.opt_v, 1); // integer
  EXPECT_EQ(set.opt_v, 1);

  run({"-gno-column-info"});
  EXPECT_EQ(opts.debug_column_info, 0);

  // Sizes, wide integers, lists, enumeration sets.
  EXPECT_EQ(run({"-Wframe-larger-than=1KiB", "-fconstexpr-ops-limit=1GiB",
                 "-fconstexpr-ops-limit=8589934592", "-I", "a", "-Ib",
                 "-fsanitize-coverage=trace-pc,trace-cmp",
                 "-fno-sanitize-coverage=trace-pc"},
                c_mask | 0x10),
            "velk++: error: argument to '-fconstexpr-ops-limit=' should be a "
            "non-negative integer\n");
  EXPECT_EQ(opts.warn_frame_larger_than, 1024);
  EXPECT_EQ(set.warn_frame_larger_than, 1024);
  EXPECT_EQ(opts.flag_constexpr_ops_limit, 8589934592LL);
  ASSERT_NE(opts.opt_I, nullptr);
  ASSERT_EQ(opts.opt_I->entries.size(), 2u);
  EXPECT_EQ(opts.opt_I->entries[0].code, option_code("-I"));
  EXPECT_STREQ(opts.opt_I->entries[0].argument, "a");
  EXPECT_STREQ(opts.opt_I->entries[1].argument, "b");
  EXPECT_EQ(set.opt_I, opts.opt_I);
  EXPECT_EQ(opts.flag_sanitize_coverage, 2); // trace-pc cleared again
}

TEST_F(OptionHandling, IntegersTooBigForTheirVariable) {
  EXPECT_EQ(run({"-fmax-errors=2147483648"}, c_mask),
            "velk++: error: argument to '-fmax-errors=' is bigger than "
            "2147483647\n");
  // 64 bits that read as a negative number are just as big.
  EXPECT_EQ(run({"-fmax-errors=18446744073709551615"}, c_mask),
            "velk++: error: argument to '-fmax-errors=' is bigger than "
            "2147483647\n");
  EXPECT_EQ(opts.flag_max_errors, 0);
  EXPECT_EQ(set.flag_max_errors, 0);
  EXPECT_EQ(run({"-fmax-errors=2147483647"}, c_mask), "");
  EXPECT_EQ(opts.flag_max_errors, 2147483647);
  EXPECT_EQ(global_engine.max_errors, 2147483647u);
}

TEST_F(OptionHandling, GeneratedOptionsLeaveTheSetRecordAlone) {
  decoded_option d{};
  generate_option(option_code("-o"), "gen.out", 1, OPTF_DRIVER, d);
  EXPECT_TRUE(handle_decoded_option(&opts, &set, d, OPTF_DRIVER,
                                    kind_unspecified, unknown_location,
                                    handlers, true, global_engine));
  EXPECT_STREQ(opts.opt_o, "gen.out");
  EXPECT_EQ(set.opt_o, nullptr);
}

TEST_F(OptionHandling, ADiagnosticKindReclassifiesTheOption) {
  store_option_value(&opts, &set, option_code("-Wall"), 1, nullptr, kind_error,
                     unknown_location, global_engine, 0);
  EXPECT_EQ(opts.warn_all, 1);
  EXPECT_EQ(global_engine.classification[option_code("-Wall")], kind_error);
}

struct debug_case {
  std::vector<const char*> args;
  int write_symbols;
  int debug_level;
  int ctf_level;
  int dwarf_version;
  const char* report;
};

TEST_F(OptionHandling, DebugInformationSettings) {
  const debug_case cases[] = {
      {{"-g"}, 2, 2, 0, 5, ""},
      {{"-g1"}, 2, 1, 0, 5, ""},
      {{"-g3", "-g"}, 2, 3, 0, 5, ""},
      {{"-ggdb"},
       2,
       0,
       0,
       5,
       "velk++: error: unrecognized debug output level 'gdb'\n"},
      {{"-g5"},
       2,
       0,
       0,
       5,
       "velk++: error: debug output level '5' is too high\n"},
      {{"-gfoo"},
       2,
       0,
       0,
       5,
       "velk++: error: unrecognized debug output level 'foo'\n"},
      {{"-gwren"}, 2, 2, 0, 5, ""},
      {{"-gdwarf"}, 2, 2, 0, 5, ""},
      {{"-gdwarf-4"}, 2, 2, 0, 4, ""},
      {{"-gdwarf-4", "-gdwarf"}, 2, 2, 0, 4, ""},
      {{"-gdwarf-6"},
       2,
       2,
       0,
       6,
       "velk++: error: dwarf version 6 is not supported\n"},
      {{"-gdwarf4"},
       0,
       0,
       0,
       5,
       "velk++: error: '-gdwarf4' is ambiguous; use '-gdwarf-4' for DWARF "
       "version or '-gdwarf' '-g4' for debug level\n"},
      {{"-gvms", "-gdwarf-4"},
       2,
       2,
       0,
       4,
       "velk++: error: debug format 'dwarf-2' conflicts with prior "
       "selection\n"},
      {{"-gctf"}, 8, 2, 2, 5, ""},
      {{"-gctf1"}, 8, 2, 1, 5, ""},
      {{"-gctf", "-gdwarf-4"}, 10, 2, 2, 4, ""},
      {{"-gctf", "-g"}, 10, 2, 2, 5, ""},
      {{"-gctf", "-gbtf"},
       16,
       2,
       2,
       5,
       "velk++: error: debug format 'btf' conflicts with prior selection\n"},
      {{"-gbtf"}, 16, 2, 0, 5, ""},
      {{"-gbtf", "-gdwarf"}, 18, 2, 0, 5, ""},
      {{"-gbtf1"},
       16,
       2,
       0,
       5,
       "velk++: error: unrecognized btf debug output level '1'\n"},
  };
  for (const debug_case& c : cases) {
    SetUp();
    EXPECT_EQ(run(c.args), c.report) << c.args[0];
    EXPECT_EQ(opts.write_symbols, c.write_symbols) << c.args[0];
    EXPECT_EQ(opts.debug_info_level, c.debug_level) << c.args[0];
    EXPECT_EQ(opts.ctf_debug_info_level, c.ctf_level) << c.args[0];
    EXPECT_EQ(opts.dwarf_version, c.dwarf_version) << c.args[0];
  }
}

TEST_F(OptionHandling, SanitizerSets) {
  struct {
    std::vector<const char*> args;
    std::uint32_t sanitize;
    std::uint32_t trap;
    const char* report;
  } cases[] = {
      {{"-fsanitize=address,undefined"}, 0x3 | 0x37E7FE0, 0, ""},
      {{"-fsanitize=,address,"}, 0x3, 0, ""},
      {{"-fsanitize=all"},
       0,
       0,
       "velk++: error: '-fsanitize=all' option is not valid\n"},
      {{"-fsanitize=address,undefined", "-fno-sanitize=all"}, 0, 0, ""},
      {{"-fsanitize=address", "-fno-sanitize=kernel-address"}, 0x3, 0, ""},
      {{"-fsanitize=kernel-address", "-fno-sanitize=kernel-address"}, 0, 0, ""},
      {{"-fsanitize=adress"},
       0,
       0,
       "velk++: error: unrecognized argument to '-fsanitize=' option: "
       "'adress'; did you mean 'address'?\n"},
      {{"-fno-sanitize=zzzz"},
       0,
       0,
       "velk++: error: unrecognized argument to '-fno-sanitize=' option: "
       "'zzzz'\n"},
      // "all" is no hint for "-fsanitize=", but is for "-fno-sanitize=".
      {{"-fsanitize=al"},
       0,
       0,
       "velk++: error: unrecognized argument to '-fsanitize=' option: "
       "'al'\n"},
      {{"-fno-sanitize=al"},
       0,
       0,
       "velk++: error: unrecognized argument to '-fno-sanitize=' option: "
       "'al'; did you mean 'all'?\n"},
      {{"-fsanitize-trap=vptr"},
       0,
       0,
       "velk++: error: '-fsanitize-trap=vptr' is not supported\n"},
      {{"-fsanitize-trap"}, 0, 0x3FFFFE0, ""},
      {{"-fsanitize-trap", "-fno-sanitize-trap"}, 0, 0, ""},
      {{"-fsanitize-undefined-trap-on-error"}, 0, 0x3FFFFE0, ""},
      {{"-fsanitize-trap=all"}, 0, 0x3FFFFE0, ""},
      {{"-fsanitize-trap=undefined,shift", "-fno-sanitize-trap=shift"},
       0,
       0x37E7FE0 & ~0x60u,
       ""},
      // Only sanitizers that may trap are hints for "-fsanitize-trap=".
      {{"-fsanitize-trap=thred"},
       0,
       0,
       "velk++: error: unrecognized argument to '-fsanitize-trap=' option: "
       "'thred'\n"},
      {{"-fsanitize-trap=undefind"},
       0,
       0,
       "velk++: error: unrecognized argument to '-fsanitize-trap=' option: "
       "'undefind'; did you mean 'undefined'?\n"},
  };
  for (const auto& c : cases) {
    SetUp();
    EXPECT_EQ(run(c.args), c.report) << c.args[0];
    EXPECT_EQ(opts.flag_sanitize, c.sanitize) << c.args[0];
    EXPECT_EQ(opts.flag_sanitize_trap, c.trap) << c.args[0];
  }
  SetUp();
  run({"-fsanitize=thread"});
  EXPECT_EQ(set.flag_sanitize, 1u);
}

TEST_F(OptionHandling, DiagnosticSettings) {
  EXPECT_EQ(run({"-fdiagnostics-color=never", "-fdiagnostics-color"}), "");
  EXPECT_EQ(seen.color_rule, 1);
  EXPECT_EQ(run({"--help=optimizers", "-fhelp=params"}), "");
  EXPECT_EQ(help_option_requests(),
            (std::vector<std::string>{"optimizers", "params"}));
  EXPECT_TRUE(exit_after_options());

  EXPECT_EQ(run({"-Werror=return-type", "-Wfatal-errors", "-dH"}, c_mask), "");
  EXPECT_EQ(global_engine.classification[option_code("-Wreturn-type")],
            kind_error);
  EXPECT_TRUE(global_engine.fatal_errors);
  EXPECT_TRUE(global_engine.abort_on_error);

  SetUp(); // the first error would now end the run
  EXPECT_EQ(run({"-Werror=no-such-warning"}, c_mask),
            "velk++: error: '-Werror=no-such-warning': no option "
            "-Wno-such-warning\n");
}

TEST_F(OptionHandling, BadInputIsReportedNotFatal) {
  const std::string long_sanitizer = "-fsanitize=" + std::string(65536, 'a');
  const std::string long_color =
      "-fdiagnostics-color=" + std::string(65536, 'b');
  const char invalid_utf8[] = {'-', 'f', 'd', '\xff', '\xc3', '\0'};
  const std::string report =
      run({long_sanitizer.c_str(), long_color.c_str(), invalid_utf8, "",
           "-gdwarf-99999999999999999999999"});
  EXPECT_EQ(global_engine.counters[kind_error], 5) << report;
  EXPECT_NE(report.find("unrecognized command-line option '-fd"),
            std::string::npos);
}

TEST_F(OptionHandling, EveryCommonDriverOptionHasAnAction) {
  // No option of the driver and common classes may trip the handler's
  // check that it has a variable or an action.
  for (std::size_t code = 0; code < option_count; ++code) {
    const option_record& option = option_table[code];
    if ((option.flags & (OPTF_DRIVER | OPTF_COMMON)) !=
            (OPTF_DRIVER | OPTF_COMMON) ||
        option.alias_target != no_option)
      continue;
    const char* argument = nullptr;
    if (option.variable_kind == VK_ENUM)
      argument = option_enums[option.enum_index].values[0].text.data();
    else if (option.flags & (OPTF_JOINED | OPTF_SEPARATE))
      argument = "2";
    decoded_option d{};
    generate_option(code, argument, 1, OPTF_DRIVER, d);
    CaptureStderr();
    handle_decoded_option(&opts, &set, d, OPTF_DRIVER, kind_unspecified,
                          unknown_location, handlers, false, global_engine);
    GetCapturedStderr();
  }
}

} // namespace
} // namespace velk
