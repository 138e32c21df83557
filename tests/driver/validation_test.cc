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

TEST(SwitchValidation, SpecsDecideWhatIsRecognized) {
  EXPECT_EXIT(
      {
        // Only this one spec text: -Wextra is in no spec.
        set_named_spec("tarn1", "%{O*} %{!fsyntax-only:%{g*}}");
        std::erase_if(named_spec_list(),
                      [](const named_spec& s) { return s.name != "tarn1"; });
        std::exit(run_driver({"velk++", "-O2", "-g", "-Wextra", "x.cc"}));
      },
      ::testing::ExitedWithCode(1),
      "^velk\\+\\+: error: unrecognized command-line option [^ ]+-Wextra[^ "
      "]+\n$");
}

TEST(SwitchValidation, WithoutSpecTextsKnownOptionsPass) {
  EXPECT_EXIT(
      {
        named_spec_list().clear();
        std::exit(run_driver({"velk++", "-O2", "-Wextra", "-fnosuch", "x.cc"}));
      },
      ::testing::ExitedWithCode(1),
      "^velk\\+\\+: error: unrecognized command-line option [^ ]+-fnosuch[^ "
      "]+\n$");
}

} // namespace
} // namespace velk
