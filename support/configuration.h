// Build-time configuration of this compiler collection: the install layout,
// the target it builds for and its version.  Every program of the suite
// reads these constants from here.
#pragma once

#include <string_view>

namespace velk::config {

inline constexpr std::string_view standard_prefix = "/usr/local/brae13";
inline constexpr std::string_view standard_exec_prefix =
    "/usr/local/brae13/lib/velk/";
inline constexpr std::string_view standard_libexec_prefix =
    "/usr/local/brae13/libexec/velk/";
inline constexpr std::string_view standard_bin_prefix =
    "/usr/local/brae13/bin/";
inline constexpr std::string_view target_name = "aarch64-portbld-freebsd14.3";
inline constexpr std::string_view version = "13.3.0";
// Target and version joined as the directory under each exec prefix.
inline constexpr std::string_view machine_suffix =
    "aarch64-portbld-freebsd14.3/13.3.0/";
inline constexpr std::string_view machine_only_suffix =
    "aarch64-portbld-freebsd14.3/";
inline constexpr std::string_view default_assembler = "/usr/local/bin/as";
inline constexpr std::string_view default_linker = "/usr/local/bin/ld";
inline constexpr std::string_view thread_model = "posix";
inline constexpr std::string_view bug_report_url =
    "<https://velk.example.org/bugs>";
inline constexpr std::string_view message_domain = "velk";

} // namespace velk::config
