// Step 11 of the main sequence: switches that neither the driver nor any
// spec text accepts are reported as unrecognized.
#include "driver/driver.h"

#include "specs/named_specs.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace velk {
namespace {

int run_driver(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& arg : args)
    argv.push_back(arg.data());
  argv.push_back(nullptr);
  driver d;
  return d.main(static_cast<int>(args.size()), argv.data());
}

// Options the built-in spec texts mention pass; an option no spec can use
// is reported, and the run stops before any input is compiled.
TEST(SwitchValidation, BuiltInSpecsDecideWhatIsRecognized) {
  EXPECT_EXIT(
      std::exit(run_driver(
          {"velk++", "-O2", "-g", "-Wextra", "-fnosuch", "-pthread", "x.cc"})),
      ::testing::ExitedWithCode(1),
      "^velk\\+\\+: error: unrecognized command-line option [^ ]+-fnosuch[^ "
      "]+\n$");
}

// A user's spec text validates even switches the option table does not
// know.
TEST(SwitchValidation, UserSpecsValidateUnknownSwitches) {
  EXPECT_EXIT(
      {
        set_named_spec("link_zebomp", "%{fmy-flag:-lmine}", true);
        std::exit(run_driver({"velk++", "-fmy-flag", "-fyour-flag", "x.cc"}));
      },
      ::testing::ExitedWithCode(1),
      "^velk\\+\\+: error: unrecognized command-line option "
      "[^ ]+-fyour-flag[^ ]+\n$");
}

} // namespace
} // namespace velk
