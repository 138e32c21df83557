// libFuzzer target: reads arbitrary texts as spec files.  The first byte
// says how (bit 0: a main file, where directives are not recognised; bit
// 1: a user's file); the rest is the file.  %include directives reach two
// files of a scratch directory: one that defines a spec and one that
// includes itself.
//
// Fatal errors are the reader's answer to malformed files: the fatal hook
// turns them into an exception that ends the input.  A crash, a hang, a
// sanitizer report or an exit is a fault.

#include "diagnostics/diagnostic.h"
#include "specs/builtin_specs.h"
#include "specs/named_specs.h"
#include "specs/search_paths.h"
#include "specs/spec_files.h"
#include "specs/spec_setup.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

using namespace velk;

struct fatal_error_seen {};

[[noreturn]] void throw_on_fatal() {
  throw fatal_error_seen();
}

void initialize() {
  char dir[] = "/tmp/velk-spec-file-fuzz-XXXXXX";
  if (mkdtemp(dir) == nullptr || chdir(dir) != 0)
    std::abort();
  const std::string scratch = std::string(dir) + "/";
  std::ofstream(scratch + "inc.specs") << "*inc:\n-linc\n\n*lib:\n+ -lmore\n";
  std::ofstream(scratch + "self.specs") << "*a:\nb\n\n%include <self.specs>\n";
  search_paths().startfile.clear();
  add_search_prefix(search_paths().startfile, scratch, "", 0, 0, false);
  set_fatal_error_hook(throw_on_fatal);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  static const bool initialized = (initialize(), true);
  (void)initialized;
  if (size == 0)
    return 0;
  const bool main = (data[0] & 1) != 0;
  const bool user = (data[0] & 2) != 0;
  const std::string_view text(reinterpret_cast<const char*>(data + 1),
                              size - 1);
  named_spec_list().clear();
  install_builtin_specs(false);
  forget_spec_file_rows();
  set_link_command_spec(std::string(link_command_text));
  try {
    apply_spec_text(text, "fuzz.specs", main, user);
  } catch (const fatal_error_seen&) {
  }
  return 0;
}
