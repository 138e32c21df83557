// Host CPU detection for -march=native, -mcpu=native and -mtune=native, and
// the rewriting of -mcpu= into the assembler's -march=.  Both are spec
// functions: `local_cpu_detect` and `rewrite_mcpu` in the spec-function
// table.  They take the words of their argument and return the text the
// spec expands in their place, or none.
#pragma once

#include "specs/aarch64_cpu_tables.h"

#include <optional>
#include <span>
#include <string>

namespace velk {

// %:local_cpu_detect(KIND): KIND is "arch", "cpu" or "tune".  Reads the CPU
// description (the file named by VELK_CPUINFO, else /proc/cpuinfo) and
// returns "-march=...", "-mcpu=..." or "-mtune=..." with the extensions the
// host has; none for any other KIND or when the description cannot be read
// or does not name a usable processor.  Never reports.  No words at all is
// an internal error.
std::optional<std::string> local_cpu_detect(std::span<const std::string> words);

// %:rewrite_mcpu(VALUE...): the last word is an -mcpu= value such as
// "cortex-a72+crypto"; returns the architecture with the extension text
// ("armv8-a+crc+crypto").  An unknown processor is a fatal error; no words
// at all is an internal error.
std::optional<std::string> rewrite_mcpu(std::span<const std::string> words);

// The "+ext...+noext" text that turns the architecture or processor flags
// `base` into `isa`.
std::string extension_text(aarch64::isa_flags isa, aarch64::isa_flags base);

} // namespace velk
