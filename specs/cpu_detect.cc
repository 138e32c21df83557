#include "specs/cpu_detect.h"

#include "diagnostics/diagnostic.h"
#include "support/environment.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string_view>
#include <vector>

namespace velk {

namespace {

using aarch64::architecture_row;
using aarch64::extension_row;
using aarch64::isa_flags;
using aarch64::processor_row;

// A number read from the CPU description; none when the line had no value.
using field_value = std::optional<std::uint64_t>;

const extension_row* find_extension(std::string_view name) {
  for (const extension_row& e : aarch64::extensions)
    if (e.name == name)
      return &e;
  return nullptr;
}

isa_flags extension_bit(std::string_view name) {
  const extension_row* e = find_extension(name);
  VELK_ASSERT(e != nullptr);
  return e->bit;
}

const architecture_row* find_architecture(std::string_view id) {
  for (const architecture_row& a : aarch64::architectures)
    if (a.id == id)
      return &a;
  return nullptr;
}

// The hexadecimal number after the line's first ':' (blanks and a "0x"
// before it allowed), as strtoul reads it; none without ':' or digits.
field_value parse_field(std::string_view line) {
  std::size_t colon = line.find(':');
  if (colon == std::string_view::npos)
    return std::nullopt;
  std::string_view rest = line.substr(colon + 1);
  while (!rest.empty() &&
         (rest.front() == ' ' || rest.front() == '\t' || rest.front() == '\n' ||
          rest.front() == '\v' || rest.front() == '\f' || rest.front() == '\r'))
    rest.remove_prefix(1);
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9')
      return c - '0';
    if (c >= 'a' && c <= 'f')
      return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
      return c - 'A' + 10;
    return -1;
  };
  if (rest.size() > 2 && rest[0] == '0' && (rest[1] == 'x' || rest[1] == 'X') &&
      digit(rest[2]) >= 0)
    rest.remove_prefix(2);
  if (rest.empty() || digit(rest.front()) < 0)
    return std::nullopt;
  std::uint64_t value = 0;
  constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
  for (char c : rest) {
    int d = digit(c);
    if (d < 0)
      break;
    value = value > (max >> 4) ? max : value << 4 | static_cast<unsigned>(d);
  }
  return value;
}

// Adds `value` to `list` unless it is there; false when that makes three.
bool add_distinct(std::vector<field_value>& list, field_value value) {
  if (std::find(list.begin(), list.end(), value) != list.end())
    return true;
  if (list.size() == 2)
    return false;
  list.push_back(value);
  return true;
}

// The extensions whose feature words are all in the words after the first
// ':' of a Features line.
isa_flags detected_extensions(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t colon = line.find(':');
  if (colon != std::string_view::npos) {
    std::string_view rest = line.substr(colon + 1);
    std::size_t i = 0;
    while (i < rest.size()) {
      std::size_t start = rest.find_first_not_of(" \t\r\n\v\f", i);
      if (start == std::string_view::npos)
        break;
      std::size_t end = rest.find_first_of(" \t\r\n\v\f", start);
      if (end == std::string_view::npos)
        end = rest.size();
      words.push_back(rest.substr(start, end - start));
      i = end;
    }
  }
  auto has = [&](std::string_view w) {
    return std::find(words.begin(), words.end(), w) != words.end();
  };
  isa_flags flags = 0;
  for (const extension_row& e : aarch64::extensions) {
    if (e.feature_words.empty())
      continue;
    bool all = true;
    std::string_view needed = e.feature_words;
    while (all && !needed.empty()) {
      std::size_t blank = needed.find(' ');
      all = has(needed.substr(0, blank));
      needed = blank == std::string_view::npos ? std::string_view()
                                               : needed.substr(blank + 1);
    }
    if (all)
      flags |= e.bit;
    else
      flags &= ~e.bit;
  }
  return flags;
}

// What the CPU description says about the host.
struct host_cpu {
  std::uint64_t implementer = 0;
  std::vector<field_value> variants; // distinct values, at most two
  std::vector<field_value> parts;    // distinct values, at most two
  isa_flags extensions = 0;
};

std::optional<host_cpu> read_cpu_description(bool want_features) {
  std::optional<std::string> name = environment().getenv("VELK_CPUINFO");
  // stdio, not file streams: those would bring the C++ library's locale
  // machinery, and its relocations, into every start of the program.
  std::FILE* file = std::fopen(name ? name->c_str() : "/proc/cpuinfo", "r");
  if (file == nullptr)
    return std::nullopt;
  // A CPU description is a few hundred kilobytes even on the largest
  // hosts; anything far beyond that (a device such as /dev/zero named by
  // mistake) is not one, and is not read into memory without end.
  constexpr std::size_t size_limit = std::size_t{16} << 20;
  std::string content;
  char chunk[1 << 16];
  bool too_long = false;
  while (std::size_t n = std::fread(chunk, 1, sizeof chunk, file)) {
    content.append(chunk, n);
    if (content.size() > size_limit) {
      too_long = true;
      break;
    }
  }
  // A read that failed part way would leave the description incomplete
  // (the Features line not yet seen, say): no guess from half a file.
  bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (too_long || failed)
    return std::nullopt;
  host_cpu cpu;
  bool implementer_known = false;
  bool features_seen = false;
  for (std::size_t start = 0; start < content.size();) {
    std::size_t end = content.find('\n', start);
    if (end == std::string::npos)
      end = content.size();
    std::string_view text(content.data() + start, end - start);
    start = end + 1;
    if (text.find("implementer") != std::string_view::npos) {
      field_value value = parse_field(text);
      if (!value) {
        if (implementer_known)
          return std::nullopt;
        continue;
      }
      if (*value == 0xff)
        return std::nullopt;
      if (implementer_known && *value != cpu.implementer)
        return std::nullopt;
      cpu.implementer = *value;
      implementer_known = true;
    } else if (text.find("variant") != std::string_view::npos) {
      if (!add_distinct(cpu.variants, parse_field(text)))
        return std::nullopt;
    } else if (text.find("part") != std::string_view::npos) {
      if (!add_distinct(cpu.parts, parse_field(text)))
        return std::nullopt;
    } else if (want_features && !features_seen &&
               text.find("Features") != std::string_view::npos) {
      features_seen = true;
      cpu.extensions = detected_extensions(text);
    }
  }
  if (cpu.parts.empty() || !implementer_known)
    return std::nullopt;
  if (cpu.parts.size() == 1 && cpu.variants.size() != 1)
    return std::nullopt;
  return cpu;
}

bool same_implementer(const processor_row& p, std::uint64_t implementer) {
  return p.implementer >= 0 &&
         static_cast<std::uint64_t>(p.implementer) == implementer;
}

// The processor of a big.LITTLE host with parts `a` and `b`, in either
// order.
const processor_row* find_pair(const host_cpu& cpu) {
  if (!cpu.parts[0] || !cpu.parts[1])
    return nullptr;
  std::uint64_t a = *cpu.parts[0] & 0xfff, b = *cpu.parts[1] & 0xfff;
  for (std::size_t i = 0; i < aarch64::detectable_processors; ++i) {
    const processor_row& p = aarch64::processors[i];
    if (same_implementer(p, cpu.implementer) &&
        (p.part == (a << 12 | b) || p.part == (b << 12 | a)))
      return &p;
  }
  return nullptr;
}

// The first processor with the host's implementer and first part, for its
// first variant (a processor row may match any variant).
const processor_row* find_single(const host_cpu& cpu) {
  field_value part = cpu.parts[0];
  field_value variant =
      cpu.variants.empty() ? std::nullopt : cpu.variants.front();
  if (!part)
    return nullptr;
  for (std::size_t i = 0; i < aarch64::detectable_processors; ++i) {
    const processor_row& p = aarch64::processors[i];
    if (!same_implementer(p, cpu.implementer) || p.part != *part)
      continue;
    if (p.variant == aarch64::any_variant ||
        (variant && static_cast<std::uint64_t>(p.variant) == *variant))
      return &p;
  }
  return nullptr;
}

std::optional<std::string> host_detect_local_cpu(std::string_view kind) {
  bool arch = kind == "arch";
  bool tune = kind == "tune";
  if (!arch && !tune && kind != "cpu")
    return std::nullopt;
  std::optional<host_cpu> cpu = read_cpu_description(!tune);
  if (!cpu)
    return std::nullopt;

  const std::string option = tune ? "-mtune=" : "-mcpu=";
  std::string result;
  isa_flags base = 0;
  if (cpu->parts.size() == 2 && !arch) {
    const processor_row* p = find_pair(*cpu);
    if (p == nullptr)
      return std::nullopt;
    result = option + std::string(p->name);
    base = p->flags;
  } else if (const processor_row* p = find_single(*cpu)) {
    if (arch) {
      const architecture_row* a = find_architecture(p->architecture);
      if (a == nullptr)
        return std::nullopt;
      result = "-march=" + std::string(a->name);
      base = a->flags;
    } else {
      result = option + std::string(p->name);
      base = p->flags;
    }
  } else {
    const architecture_row& armv8a = aarch64::architectures.front();
    result = "-march=" + std::string(armv8a.name);
    base = armv8a.flags;
  }
  if (!tune)
    result += extension_text(cpu->extensions, base);
  return result;
}

} // namespace

std::string extension_text(isa_flags isa, isa_flags base) {
  const isa_flags crc = extension_bit("crc");
  const isa_flags crypto_parts = extension_bit("aes") | extension_bit("sha2");
  isa_flags current = base;
  // "+crc" is written even when the base has it, except for Armv8-R.
  const isa_flags always_addable = (base & aarch64::armv8r_bit) ? 0 : crc;

  // "crypto" stands for aes and sha2 together: it is added when both are
  // wanted, and taken away only when they are not both wanted.
  auto bits_of = [&](const extension_row& e) {
    return e.name == "crypto" ? crypto_parts : e.bit;
  };

  std::array<bool, aarch64::extensions.size()> added{};
  for (std::size_t i = aarch64::extensions.size(); i-- > 0;) {
    const extension_row& e = aarch64::extensions[i];
    isa_flags bits = bits_of(e);
    isa_flags addable = ~current | always_addable;
    if ((isa & bits) == bits && (addable & bits) == bits) {
      current |= e.on;
      added[i] = true;
    }
  }
  std::string text;
  for (std::size_t i = 0; i < aarch64::extensions.size(); ++i)
    if (added[i])
      text.append("+").append(aarch64::extensions[i].name);
  for (const extension_row& e : aarch64::extensions) {
    isa_flags bits = bits_of(e);
    if (e.detect && (current & bits) == bits && (isa & bits) != bits) {
      text.append("+no").append(e.name);
      current &= ~e.off;
    }
  }
  return text;
}

std::optional<std::string>
local_cpu_detect(std::span<const std::string> words) {
  if (words.empty())
    assert_failed(__FILE__, __LINE__, "host_detect_local_cpu");
  return host_detect_local_cpu(words.front());
}

std::optional<std::string> rewrite_mcpu(std::span<const std::string> words) {
  if (words.empty())
    assert_failed(__FILE__, __LINE__, "aarch64_rewrite_mcpu");
  const std::string& value = words.back();
  std::string_view text = value;
  std::size_t plus = text.find('+');
  std::string_view name = text.substr(0, plus);

  const processor_row* processor = nullptr;
  for (const processor_row& p : aarch64::processors) {
    if (p.name == name) {
      processor = &p;
      break;
    }
  }
  const architecture_row* arch =
      processor ? find_architecture(processor->architecture) : nullptr;
  if (arch == nullptr)
    fatal_error(unknown_location, "unknown value %qs for %<-mcpu%>", value);

  isa_flags flags = processor->flags;
  if (plus != std::string_view::npos) {
    std::string_view list = text.substr(plus + 1);
    for (;;) {
      std::size_t next = list.find('+');
      std::string_view item = list.substr(0, next);
      bool remove = item.starts_with("no");
      if (remove)
        item.remove_prefix(2);
      const extension_row* e = item.empty() ? nullptr : find_extension(item);
      if (e == nullptr)
        break; // an empty item, "no" alone or an unknown name ends the list
      if (remove)
        flags &= ~e->off;
      else
        flags |= e->on;
      if (next == std::string_view::npos)
        break;
      list.remove_prefix(next + 1);
    }
  }
  return std::string(arch->name) + extension_text(flags, arch->flags);
}

} // namespace velk
