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
// The version with its date, status and build tag, as --version and -v
// show it; its first word is `version`.
inline constexpr std::string_view full_version =
    "13.3.0 20240521 (release) [brae13 build 1]";
// Put before the full version; ends in a blank.
inline constexpr std::string_view package_version = "(VELK) ";
// The options this collection was configured with, as -v reports them.
inline constexpr std::string_view configure_arguments =
    "/usr/src/velk/configure --prefix=/usr/local/brae13 "
    "--target=aarch64-portbld-freebsd14.3 --enable-languages=c,c++ "
    "--with-system-zlib --disable-nls";
inline constexpr std::string_view rights_notice =
    "Copyright (C) 2024 The Velk Project.";
inline constexpr std::string_view warranty_notice =
    "This is free software; see the source for copying conditions.  There "
    "is NO\nwarranty; not even for MERCHANTABILITY or FITNESS FOR A "
    "PARTICULAR PURPOSE.";
inline constexpr std::string_view thread_model = "posix";
inline constexpr std::string_view bug_report_url =
    "<https://velk.example.org/bugs>";
inline constexpr std::string_view message_domain = "velk";

} // namespace velk::config
