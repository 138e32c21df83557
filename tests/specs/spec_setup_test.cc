#include "specs/spec_setup.h"

#include "diagnostics/diagnostic.h"
#include "options/handle.h"
#include "specs/named_specs.h"
#include "specs/search_paths.h"
#include "specs/spec_functions.h"
#include "specs/spec_interpreter.h"
#include "specs/switches.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velk {
namespace {

using ::testing::ExitedWithCode;
using words = std::vector<std::string>;

class SpecSetup : public ::testing::Test {
protected:
  void SetUp() override {
    set_program_name("velk++");
    engine_init(global_engine, 0);
    named_spec_list().clear();
    added_spec_functions().clear();
    reset_spec_state();
    tables().switches.clear();
  }
  void TearDown() override {
    named_spec_list().clear();
    added_spec_functions().clear();
  }
  static std::string text(std::string_view name) {
    const named_spec* spec = find_named_spec(name);
    EXPECT_NE(spec, nullptr) << name;
    return spec ? std::string(spec->text) : std::string();
  }
  static words expand(std::string_view spec) {
    run_spec_fresh(spec, std::nullopt);
    return spec_state().argument_vector;
  }
};

TEST_F(SpecSetup, SetNamedSpec) {
  // The first definition links the built-in specs; a new name goes to the
  // head of the list, a known one is changed in place.
  set_named_spec("mine", "-a");
  const named_spec_list_t& list = named_spec_list();
  ASSERT_EQ(list.size(), builtin_spec_count + 1);
  EXPECT_EQ(list.front().name, "mine");
  EXPECT_EQ(list[1].name, "asm");
  set_named_spec("lib", "-lx", true);
  EXPECT_EQ(list.size(), builtin_spec_count + 1);
  EXPECT_EQ(text("lib"), "-lx");
  EXPECT_TRUE(find_named_spec("lib")->user);
  EXPECT_EQ(find_named_spec("lib")->default_text, builtin_spec(spec_lib).text);
  // "+" and a white-space character appends; other texts replace.
  set_named_spec("mine", "+ -b");
  EXPECT_EQ(text("mine"), "-a -b");
  set_named_spec("mine", "+\t-c");
  EXPECT_EQ(text("mine"), "-a -b\t-c");
  set_named_spec("mine", "+-d");
  EXPECT_EQ(text("mine"), "+-d");
  // Texts survive the list growing.
  for (int i = 0; i < 100; ++i)
    set_named_spec("grow" + std::to_string(i), std::to_string(i));
  EXPECT_EQ(text("mine"), "+-d");
  EXPECT_EQ(text("grow7"), "7");
}

TEST_F(SpecSetup, SetStaticSpec) {
  set_named_spec("linker", "x", true);
  set_static_spec(spec_linker, "ld");
  EXPECT_EQ(text("linker"), "ld");
  EXPECT_FALSE(find_named_spec("linker")->user);
  set_static_spec(spec_linker_plugin_file, "/p/libweft.so");
  EXPECT_EQ(expand("%(linker) %(linker_plugin_file)"),
            (words{"ld", "/p/libweft.so"}));
}

TEST_F(SpecSetup, InstallBuiltinSpecs) {
  install_builtin_specs(false);
  const named_spec_list_t& list = named_spec_list();
  ASSERT_EQ(list.size(), builtin_spec_count + 1);
  EXPECT_EQ(list.front().name, "asm");
  EXPECT_EQ(list[builtin_spec_count - 1].name, "self_spec");
  EXPECT_EQ(list.back().name, "asm_cpu_spec");
  EXPECT_EQ(text("asm_cpu_spec"),
            " %{mcpu=*:-march=%:rewrite_mcpu(%{mcpu=*:%*})}");
  EXPECT_EQ(text("libvelk"),
            "%{static|static-libvelk|static-pie:-lvelk -lvelk_eh}"
            "%{!static:%{!static-libvelk:%{!static-pie:%{!shared-libvelk:"
            "-lvelk --push-state --as-needed -lvelk_s --pop-state}"
            "%{shared-libvelk:-lvelk_s%{!shared: -lvelk}}}}}");
  EXPECT_EQ(text("link"), "%{!static|static-pie:--eh-frame-hdr} " +
                              std::string(builtin_spec(spec_link).text));
  // A second installation, or one over a list a spec file filled, changes
  // nothing.
  install_builtin_specs(false);
  EXPECT_EQ(list.size(), builtin_spec_count + 1);
  EXPECT_TRUE(text("link").starts_with("%{!static|static-pie:--eh-frame-hdr} "
                                       "%{p:"));
}

TEST_F(SpecSetup, InstallSaysSoUnderVerbose) {
  testing::internal::CaptureStderr();
  install_builtin_specs(true);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Using built-in specs.\n");
}

std::optional<std::string> shadow_gt(const std::vector<std::string>&) {
  return "shadowed";
}

// The interpreter calls the built-in functions from the one constant table;
// an added function is found first.
TEST_F(SpecSetup, FunctionTable) {
  EXPECT_EQ(spec_function_table().size(), 22u);
  EXPECT_EQ(expand("%{%:gt(3 2):yes}"), words{"yes"});
  added_spec_functions() = {{"gt", shadow_gt}};
  EXPECT_EQ(find_spec_function("gt")->function, shadow_gt);
  EXPECT_EQ(expand("%:gt(1 2)"), words{"shadowed"});
  added_spec_functions().clear();
  EXPECT_EQ(expand("%{%:gt(1 2):yes}"), words{});
}

// A spec function misused by a user's spec text is the user's error; the
// same misuse in a built-in text is an internal error.
TEST_F(SpecSetup, MisusedFunctionInUserSpec) {
  set_named_spec("mine", "%:find-file(a b)", true);
  EXPECT_EXIT(expand("%(mine)"), ExitedWithCode(1),
              "^velk\\+\\+: fatal error: spec failure: wrong number of "
              "arguments to [^ ]+%:find-file[^ ]+\ncompilation terminated.\n$");
  set_named_spec("mine", "%:find-file(a b)", false);
  EXPECT_EXIT(expand("%(mine)"), ExitedWithCode(4), "internal compiler error");
}

// The compilers table, the system-root suffixes and the link prefix of a
// system root.
TEST_F(SpecSetup, PrepareSpecs) {
  init_options_once();
  const prefix_settings saved_prefixes = prefixes();
  const search_lists saved_lists = search_paths();
  set_named_spec("sysroot_suffix_spec", "%{mfoo:a b;:suffix}");
  set_named_spec("sysroot_hdrs_suffix_spec", "headers");
  prefixes().sysroot = "/sys";
  spec_setup_request request;
  prepare_specs(request);
  EXPECT_EQ(compilers_table().size(), builtin_compiler_count);
  EXPECT_EQ(compilers_table()[38].key, ".c");
  EXPECT_EQ(prefixes().sysroot_suffix, "suffix");
  EXPECT_EQ(prefixes().sysroot_headers_suffix, "headers");
  EXPECT_TRUE(text("link").starts_with("%(sysroot_spec) %{p:")) << text("link");
  // The list was filled before: no built-in rewrites.
  EXPECT_EQ(find_named_spec("asm_cpu_spec"), nullptr);

  // More than one word is the spec's failure; the suffix stays unset.
  prefixes() = saved_prefixes;
  add_switch("-mfoo", {}, false, true);
  testing::internal::CaptureStderr();
  prepare_specs(request);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(err.starts_with("velk++: error: spec failure: more than one "
                              "argument to "))
      << err;
  EXPECT_NE(err.find("SYSROOT_SUFFIX_SPEC"), std::string::npos) << err;
  EXPECT_EQ(err.find("HEADERS"), std::string::npos) << err;
  EXPECT_EQ(prefixes().sysroot_suffix, "");
  // --no-sysroot-suffix: neither spec is read.
  prefixes() = saved_prefixes;
  request.no_sysroot_suffix = true;
  testing::internal::CaptureStderr();
  prepare_specs(request);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(prefixes().sysroot_headers_suffix, "");
  prefixes() = saved_prefixes;
  search_paths() = saved_lists;
}

} // namespace
} // namespace velk
