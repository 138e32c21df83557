#include "support/environment.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace velk {
namespace {

std::vector<std::string> echoed;

TEST(EnvManager, XputEchoesUnderVerboseAndRestoreUndoes) {
  setenv("VELK_ENV_TEST_A", "old", 1);
  unsetenv("VELK_ENV_TEST_B");
  env_manager env;
  env.init(true, false);
  env.set_verbose(true);
  env.set_notice_hook([](std::string_view line) { echoed.emplace_back(line); });
  env.xput("VELK_ENV_TEST_A=new value");
  env.xput("VELK_ENV_TEST_B=x=y");
  env.xput("VELK_ENV_TEST_A=newer");
  EXPECT_EQ(env.getenv("VELK_ENV_TEST_A"), "newer");
  EXPECT_EQ(env.getenv("VELK_ENV_TEST_B"), "x=y");
  EXPECT_EQ(echoed, (std::vector<std::string>{"VELK_ENV_TEST_A=new value",
                                              "VELK_ENV_TEST_B=x=y",
                                              "VELK_ENV_TEST_A=newer"}));
  env.restore();
  EXPECT_EQ(env.getenv("VELK_ENV_TEST_A"), "old");
  EXPECT_EQ(env.getenv("VELK_ENV_TEST_B"), std::nullopt);
}

} // namespace
} // namespace velk
