// The programs velk++ starts and the plug-in it hands the linker.  They are
// not part of this suite; only their names and what passes to them are fixed.
#pragma once

#include <string_view>

namespace velk::programs {

// Compiler propers.
inline constexpr std::string_view c_compiler = "tarn1";
inline constexpr std::string_view cxx_compiler = "tarn1xx";
inline constexpr std::string_view ada_compiler = "brae1";
inline constexpr std::string_view ada_binder_compiler = "brae1fern";
inline constexpr std::string_view ada_kite_compiler = "brae1kite";
inline constexpr std::string_view lto_compiler = "loom1";

inline constexpr std::string_view assembler = "as";
// The linker front-end; "ld" stands in when it is not installed.
inline constexpr std::string_view linker_front_end = "sheaf2";
inline constexpr std::string_view linker = "ld";
// Link-time-optimisation wrapper, run by the linker through the plug-in.
inline constexpr std::string_view lto_wrapper = "loomer";
inline constexpr std::string_view linker_plugin = "libweft.so";

// The platform's archive tools, run by the wrappers.
inline constexpr std::string_view archiver = "ar";
inline constexpr std::string_view symbol_lister = "nm";
inline constexpr std::string_view archive_indexer = "ranlib";

} // namespace velk::programs
