// The 64-bit Arm tables behind -march=native, -mcpu=native, -mtune=native
// and the assembler's -march= for -mcpu=: architecture extensions,
// architectures and processors.  Flags are sets of extension bits (bits 0
// to 35, one per row of the extension table) and architecture bits (bit 36
// for every architecture, bit 45 for the Armv8-R profile).
//
// Row order matters: extensions are written in table order, and lookups
// take the first matching processor.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace velk::aarch64 {

using isa_flags = std::uint64_t;

inline constexpr isa_flags armv8r_bit = isa_flags{1} << 45;

struct extension_row {
  std::string_view name;
  isa_flags bit; // the extension's own bit
  isa_flags on;  // what "+name" switches on
  isa_flags off; // what "+noname" switches off
  bool detect;   // takes part in native detection
  // Blank-separated words that must all be in the host's Features line for
  // the extension to count as present (empty: never detected).
  std::string_view feature_words;
};

inline constexpr std::array<extension_row, 36> extensions{{
    {"fp", 0x1, 0x1, 0x7be05f93, true, "fp"},
    {"simd", 0x2, 0x3, 0x3be05f82, true, "asimd"},
    {"crc", 0x4, 0x4, 0x4, true, "crc32"},
    {"lse", 0x8, 0x8, 0x8, true, "atomics"},
    {"fp16", 0x10, 0x11, 0x33e06010, true, "fphp asimdhp"},
    {"rcpc", 0x20, 0x20, 0x20, true, "lrcpc"},
    {"rdma", 0x40, 0x43, 0x40, true, "asimdrdm"},
    {"dotprod", 0x80, 0x83, 0x80, true, "asimddp"},
    {"aes", 0x100, 0x103, 0x800500, true, "aes"},
    {"sha2", 0x200, 0x203, 0x1000e00, true, "sha1 sha2"},
    {"crypto", 0x400, 0x703, 0x1c01f00, true, "aes pmull sha1 sha2"},
    {"sha3", 0x800, 0xa03, 0x1000800, true, "sha3 sha512"},
    {"sm4", 0x1000, 0x1003, 0x401000, true, "sm3 sm4"},
    {"fp16fml", 0x2000, 0x2011, 0x2000, true, "asimdfhm"},
    {"sve", 0x4000, 0x4013, 0x33e04000, true, "sve"},
    {"profile", 0x8000, 0x8000, 0x8000, false, ""},
    {"rng", 0x10000, 0x10000, 0x10000, true, "rng"},
    {"memtag", 0x20000, 0x20000, 0x20000, false, ""},
    {"sb", 0x40000, 0x40000, 0x40000, true, "sb"},
    {"ssbs", 0x80000, 0x80000, 0x80000, true, "ssbs"},
    {"predres", 0x100000, 0x100000, 0x100000, false, ""},
    {"sve2", 0x200000, 0x204013, 0x3e00000, true, "sve2"},
    {"sve2-sm4", 0x400000, 0x605013, 0x400000, true, "svesm4"},
    {"sve2-aes", 0x800000, 0xa04113, 0x800000, true, "sveaes"},
    {"sve2-sha3", 0x1000000, 0x1204a13, 0x1000000, true, "svesha3"},
    {"sve2-bitperm", 0x2000000, 0x2204013, 0x2000000, true, "svebitperm"},
    {"tme", 0x4000000, 0x4000000, 0x4000000, false, ""},
    {"i8mm", 0x8000000, 0x8000003, 0x8000000, true, "i8mm"},
    {"f32mm", 0x10000000, 0x10004013, 0x10000000, true, "f32mm"},
    {"f64mm", 0x20000000, 0x20004013, 0x20000000, true, "f64mm"},
    {"bf16", 0x40000000, 0x40000003, 0x40000000, true, "bf16"},
    {"flagm", 0x80000000, 0x80000000, 0x80000000, true, "flagm"},
    {"pauth", 0x100000000, 0x100000000, 0x100000000, true, "paca pacg"},
    {"ls64", 0x200000000, 0x200000000, 0x200000000, false, ""},
    {"mops", 0x400000000, 0x400000000, 0x400000000, false, ""},
    {"cssc", 0x800000000, 0x800000000, 0x800000000, true, "cssc"},
}};

struct architecture_row {
  std::string_view id;
  std::string_view name;
  isa_flags flags;
};

inline constexpr std::array<architecture_row, 14> architectures{{
    {"8A", "armv8-a", 0x1000000003},
    {"8_1A", "armv8.1-a", 0x300000004f},
    {"8_2A", "armv8.2-a", 0x700000004f},
    {"8_3A", "armv8.3-a", 0xf10000006f},
    {"8_4A", "armv8.4-a", 0x1f1800020ef},
    {"8_5A", "armv8.5-a", 0x3f1801c20ef},
    {"8_6A", "armv8.6-a", 0x7f1c81c20ef},
    {"8_7A", "armv8.7-a", 0xff1c81c20ef},
    {"8_8A", "armv8.8-a", 0x1ff5c81c20ef},
    {"8R", "armv8-r", 0x21f1800020ef},
    {"9A", "armv9-a", 0x43f1803c60ff},
    {"9_1A", "armv9.1-a", 0xc7f1c83c60ff},
    {"9_2A", "armv9.2-a", 0x1cff1c83c60ff},
    {"9_3A", "armv9.3-a", 0x3dff5c83c60ff},
}};

// A processor's variant that matches any variant of the host.
inline constexpr int any_variant = -1;

struct processor_row {
  std::string_view name;
  std::string_view architecture; // an id of the architecture table
  int implementer;               // -1: none (not detectable)
  // The part number; for a big.LITTLE pair, big << 12 | little.
  std::uint64_t part;
  int variant; // or any_variant
  isa_flags flags;
};

inline constexpr std::array<processor_row, 71> processors{{
    {"cortex-a34", "8A", 0x41, 0xd02, any_variant, 0x1000000007},
    {"cortex-a35", "8A", 0x41, 0xd04, any_variant, 0x1000000007},
    {"cortex-a53", "8A", 0x41, 0xd03, any_variant, 0x1000000007},
    {"cortex-a57", "8A", 0x41, 0xd07, any_variant, 0x1000000007},
    {"cortex-a72", "8A", 0x41, 0xd08, any_variant, 0x1000000007},
    {"cortex-a73", "8A", 0x41, 0xd09, any_variant, 0x1000000007},
    {"thunderx", "8A", 0x43, 0xa0, any_variant, 0x1000000707},
    {"thunderxt88p1", "8A", 0x43, 0xa1, 0x0, 0x1000000707},
    {"thunderxt88", "8A", 0x43, 0xa1, any_variant, 0x1000000707},
    {"octeontx", "8A", 0x43, 0xa0, any_variant, 0x1000000707},
    {"octeontx81", "8A", 0x43, 0xa2, any_variant, 0x1000000707},
    {"octeontx83", "8A", 0x43, 0xa3, any_variant, 0x1000000707},
    {"thunderxt81", "8A", 0x43, 0xa2, any_variant, 0x1000000707},
    {"thunderxt83", "8A", 0x43, 0xa3, any_variant, 0x1000000707},
    {"ampere1", "8_6A", 0xc0, 0xac3, any_variant, 0x7f1c81d2bff},
    {"ampere1a", "8_6A", 0xc0, 0xac4, any_variant, 0x7f1c81f3bff},
    {"emag", "8A", 0x50, 0x0, 0x3, 0x1000000707},
    {"xgene1", "8A", 0x50, 0x0, any_variant, 0x1000000003},
    {"falkor", "8A", 0x51, 0xc00, any_variant, 0x1000000747},
    {"qdf24xx", "8A", 0x51, 0xc00, any_variant, 0x1000000747},
    {"exynos-m1", "8A", 0x53, 0x1, any_variant, 0x1000000707},
    {"phecda", "8A", 0x68, 0x0, any_variant, 0x1000000707},
    {"thunderx2t99p1", "8_1A", 0x42, 0x516, any_variant, 0x300000074f},
    {"vulcan", "8_1A", 0x42, 0x516, any_variant, 0x300000074f},
    {"thunderx2t99", "8_1A", 0x43, 0xaf, any_variant, 0x300000074f},
    {"cortex-a55", "8_2A", 0x41, 0xd05, any_variant, 0x70000000ff},
    {"cortex-a75", "8_2A", 0x41, 0xd0a, any_variant, 0x70000000ff},
    {"cortex-a76", "8_2A", 0x41, 0xd0b, any_variant, 0x70000000ff},
    {"cortex-a76ae", "8_2A", 0x41, 0xd0e, any_variant, 0x70000800ff},
    {"cortex-a77", "8_2A", 0x41, 0xd0d, any_variant, 0x70000800ff},
    {"cortex-a78", "8_2A", 0x41, 0xd41, any_variant, 0x70000880ff},
    {"cortex-a78ae", "8_2A", 0x41, 0xd42, any_variant, 0x70000880ff},
    {"cortex-a78c", "8_2A", 0x41, 0xd4b, any_variant, 0x71800880ff},
    {"cortex-a65", "8_2A", 0x41, 0xd06, any_variant, 0x70000800ff},
    {"cortex-a65ae", "8_2A", 0x41, 0xd43, any_variant, 0x70000800ff},
    {"cortex-x1", "8_2A", 0x41, 0xd44, any_variant, 0x70000880ff},
    {"cortex-x1c", "8_2A", 0x41, 0xd4c, any_variant, 0x71000880ff},
    {"neoverse-n1", "8_2A", 0x41, 0xd0c, any_variant, 0x70000080ff},
    {"ares", "8_2A", 0x41, 0xd0c, any_variant, 0x70000080ff},
    {"neoverse-e1", "8_2A", 0x41, 0xd4a, any_variant, 0x70000800ff},
    {"octeontx2", "8_2A", 0x43, 0xb0, any_variant, 0x700000874f},
    {"octeontx2t98", "8_2A", 0x43, 0xb1, any_variant, 0x700000874f},
    {"octeontx2t96", "8_2A", 0x43, 0xb2, any_variant, 0x700000874f},
    {"octeontx2t93", "8_2A", 0x43, 0xb2, any_variant, 0x700000874f},
    {"octeontx2f95", "8_2A", 0x43, 0xb3, any_variant, 0x700000874f},
    {"octeontx2f95n", "8_2A", 0x43, 0xb4, any_variant, 0x700000874f},
    {"octeontx2f95mm", "8_2A", 0x43, 0xb5, any_variant, 0x700000874f},
    {"a64fx", "8_2A", 0x46, 0x1, any_variant, 0x700000405f},
    {"tsv110", "8_2A", 0x48, 0xd01, any_variant, 0x700000075f},
    {"thunderx3t110", "8_3A", 0x43, 0xb8, 0xa, 0xf100003f6f},
    {"neoverse-v1", "8_4A", 0x41, 0xd40, any_variant, 0x1f1c809e0ff},
    {"zeus", "8_4A", 0x41, 0xd40, any_variant, 0x1f1c809e0ff},
    {"neoverse-512tvb", "8_4A", 0xff, 0xffffffff, any_variant, 0x1f1c809e0ff},
    {"saphira", "8_4A", 0x51, 0xc01, any_variant, 0x1f1800027ef},
    {"cortex-a57.cortex-a53", "8A", 0x41, 0xd07d03, any_variant, 0x1000000007},
    {"cortex-a72.cortex-a53", "8A", 0x41, 0xd08d03, any_variant, 0x1000000007},
    {"cortex-a73.cortex-a35", "8A", 0x41, 0xd09d04, any_variant, 0x1000000007},
    {"cortex-a73.cortex-a53", "8A", 0x41, 0xd09d03, any_variant, 0x1000000007},
    {"cortex-a75.cortex-a55", "8_2A", 0x41, 0xd0ad05, any_variant,
     0x70000000ff},
    {"cortex-a76.cortex-a55", "8_2A", 0x41, 0xd0bd05, any_variant,
     0x70000000ff},
    {"cortex-r82", "8R", 0x41, 0xd15, any_variant, 0x21f1800020ef},
    {"cortex-a510", "9A", 0x41, 0xd46, any_variant, 0x43f1ca3e60ff},
    {"cortex-a710", "9A", 0x41, 0xd47, any_variant, 0x43f1ca3e60ff},
    {"cortex-a715", "9A", 0x41, 0xd4d, any_variant, 0x43f1ca3e60ff},
    {"cortex-x2", "9A", 0x41, 0xd48, any_variant, 0x43f1ca3e60ff},
    {"cortex-x3", "9A", 0x41, 0xd4e, any_variant, 0x43f1ca3e60ff},
    {"neoverse-n2", "9A", 0x41, 0xd49, any_variant, 0x43f1ca3fe0ff},
    {"cobalt-100", "9A", 0x6d, 0xd49, any_variant, 0x43f1ca3fe0ff},
    {"neoverse-v2", "9A", 0x41, 0xd4f, any_variant, 0x43f1ca3fe0ff},
    {"demeter", "9A", 0x41, 0xd4f, any_variant, 0x43f1ca3fe0ff},
    {"generic", "8A", -1, 0, any_variant, 0x1000000003},
}};

// Detection looks at every processor but the last ("generic").
inline constexpr std::size_t detectable_processors = processors.size() - 1;

namespace detail {

constexpr bool bits_are_in_row_order() {
  for (std::size_t i = 0; i < extensions.size(); ++i)
    if (extensions[i].bit != isa_flags{1} << i)
      return false;
  return true;
}

constexpr bool architectures_are_known() {
  for (const processor_row& p : processors) {
    bool found = false;
    for (const architecture_row& a : architectures)
      found = found || a.id == p.architecture;
    if (!found)
      return false;
  }
  return true;
}

} // namespace detail

static_assert(detail::bits_are_in_row_order());
static_assert(detail::architectures_are_known());
static_assert(processors.back().name == "generic");

} // namespace velk::aarch64
