#include "driver/queries.h"

#include "specs/named_specs.h"

#include <gtest/gtest.h>

namespace velk {
namespace {

// The version line of the banner says when the compiler driven (the
// `version` spec, which a spec file may change) is not the driver's.
TEST(ConfigurationBanner, VersionLine) {
  named_spec_list().clear();
  link_builtin_specs();
  std::string banner = configuration_banner();
  EXPECT_TRUE(banner.starts_with("Target: aarch64-portbld-freebsd14.3\n"))
      << banner;
  EXPECT_TRUE(banner.ends_with(
      "\nvelk version 13.3.0 20240521 (release) [brae13 build 1] (VELK) \n"))
      << banner;

  set_named_spec("version", "12.1.0");
  banner = configuration_banner();
  EXPECT_TRUE(banner.ends_with(
      "\nvelk driver version 13.3.0 20240521 (release) [brae13 build 1] "
      "(VELK) executing velk version 12.1.0\n"))
      << banner;
  named_spec_list().clear();
}

} // namespace
} // namespace velk
