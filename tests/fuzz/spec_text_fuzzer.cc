// libFuzzer target: interprets arbitrary spec texts against a fixed switch
// table.  The first byte picks what is done with the rest: interpretation
// as a command spec, as a self spec, or the validation scan of a user's
// spec file; one of its bits turns -pipe on.
//
// Fatal errors are the interpreter's answer to malformed texts: the fatal
// hook turns them into an exception that ends the input.  A crash, a hang,
// a sanitizer report or an exit is a fault.

#include "diagnostics/diagnostic.h"
#include "specs/named_specs.h"
#include "specs/spec_functions.h"
#include "specs/spec_interpreter.h"
#include "specs/spec_validation.h"
#include "specs/switches.h"
#include "support/argument_files.h"
#include "support/temp_files.h"
#include "support/temp_names.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

using namespace velk;

struct fatal_error_seen {};

[[noreturn]] void throw_on_fatal() {
  throw fatal_error_seen();
}

int ignore_group(const std::vector<std::string>&) {
  return 0;
}

std::optional<std::string> cat(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& word : words)
    text += word;
  return text;
}

std::optional<std::string> none(const std::vector<std::string>&) {
  return std::nullopt;
}

std::string& scratch_directory() {
  static std::string dir;
  return dir;
}

void initialize() {
  // Temporary files go to a scratch directory of this process; only files
  // there are ever deleted (a spec may mark any name for deletion).
  char dir[] = "/tmp/velk-spec-fuzz-XXXXXX";
  if (mkdtemp(dir) == nullptr)
    std::abort();
  scratch_directory() = std::string(dir) + "/";
  setenv("TMPDIR", dir, 1);
  set_fatal_error_hook(throw_on_fatal);
  set_execute_hook(ignore_group);
  added_spec_functions() = {{"cat", cat}, {"none", none}};
  // %:include reads nothing here.
  set_spec_file_reader([](const std::string&) {});
  set_named_spec("tarn1", "%{O*} %{f*:-f%*} %{!fno-X:%{fX:x}}");
  set_named_spec("link", "%{static:-Bstatic;shared|pie:-pie;:-dynamic} %o");
  set_named_spec("self", "a %(self)");
  set_named_spec("cpp", "%{D*} %{U*} %I");
}

void reset_tables(bool pipes) {
  reset_spec_state();
  spec_interpreter_state& st = spec_state();
  st.use_pipes = pipes;
  // A fuzzed text stands for a user's spec file: a spec function it misuses
  // is the user's error (a fatal error), not an internal one.
  st.user_spec = true;
  velk::response_files_wanted() = true;
  st.linker_args = {"-lfoo"};
  st.assembler_args = {"-mcpu=x"};
  st.preprocessor_args = {"-DX"};
  command_tables& t = tables();
  t.switches.clear();
  t.inputs.clear();
  for (const char* option : {"-O2", "-O0", "-fX", "-fno-X", "-Wall", "-Wno-all",
                             "-mabi=lp64", "-static", "-pie", "-v", "-fdump-x"})
    add_switch(option, {}, false, true);
  add_switch("-o", {"out.x"}, false, true);
  add_switch("-D", {"foo=1"}, false, true);
  add_switch("-L", {"dir/lib.a"}, false, true);
  add_switch("-unknown", {}, false, false);
  add_input("a.c", std::nullopt);
  add_input("b.o", std::string("*"));
  t.output_names = {"a.o", ""};
  t.current.set("dir/a.c", 0);
}

// Deletes the temporary files the input made; names outside the scratch
// directory are never touched.
void remove_scratch_files() {
  cleanup_list().for_each([](const std::string& name) {
    if (name.starts_with(scratch_directory()))
      unlink(name.c_str());
  });
  cleanup_list().forget();
  failure_list().forget();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  static const bool initialized = (initialize(), true);
  (void)initialized;
  if (size == 0)
    return 0;
  const int mode = data[0] % 3;
  reset_tables((data[0] & 8) != 0);
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  try {
    switch (mode) {
    case 0:
      run_spec_command(text);
      break;
    case 1:
      apply_self_spec(text);
      break;
    default:
      validate_switches_from_spec(text, true);
      break;
    }
  } catch (const fatal_error_seen&) {
  }
  remove_scratch_files();
  return 0;
}
