// The generated option table: the invariants the lookups and the decoder
// rely on, the counts of the option documentation, and samples of contents.
#include "options/option_table.h"

#include "options/option_codes.h"
#include "options/option_values.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace velk {
namespace {

bool bytes_less(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  const int c = std::memcmp(a.data(), b.data(), n);
  return c < 0 || (c == 0 && a.size() < b.size());
}

bool is_alias(const option_record& o) {
  return o.alias_target != no_option;
}

std::size_t code_of(std::string_view text) {
  for (std::size_t i = 0; i < option_count; ++i) {
    if (option_table[i].text == text) {
      return i;
    }
  }
  return no_option;
}

std::set<std::string> texts_where(bool (*pred)(const option_record&)) {
  std::set<std::string> out;
  for (const option_record& o : option_table) {
    if (pred(o)) {
      out.emplace(o.text);
    }
  }
  return out;
}

TEST(OptionTableInvariants, TextsAreSortedByBytesAndLengthsMatch) {
  ASSERT_EQ(option_count, 2081u);
  for (std::size_t i = 0; i < option_count; ++i) {
    const option_record& o = option_table[i];
    ASSERT_GE(o.text.size(), 2u) << i;
    EXPECT_EQ(o.text[0], '-') << o.text.get();
    EXPECT_EQ(o.text_length, o.text.size() - 1) << o.text.get();
    EXPECT_EQ(option_texts[i], o.text);
    if (i > 0) {
      EXPECT_TRUE(bytes_less(option_table[i - 1].text, o.text))
          << option_table[i - 1].text.get() << " / " << o.text.get();
    }
  }
  // The codes the compile-time lookup gives are the positions.
  static_assert(option_code("-###") == 0);
  static_assert(option_code("-z") == option_count - 1);
  EXPECT_EQ(option_table[option_code("-o")].text, "-o");
  EXPECT_EQ(option_table[option_code("--param=lazy-modules=")].text,
            "--param=lazy-modules=");
}

TEST(OptionTableInvariants, BackChainIsTheNearestJoinedPrefix) {
  std::size_t with_chain = 0;
  for (std::size_t i = 0; i < option_count; ++i) {
    std::size_t expected = no_option;
    for (std::size_t j = i; j-- > 0;) {
      if ((option_table[j].flags & OPTF_JOINED) &&
          option_table[i].text.starts_with(option_table[j].text)) {
        expected = j;
        break;
      }
    }
    EXPECT_EQ(option_table[i].back_chain, expected)
        << option_table[i].text.get();
    with_chain += expected != no_option;
  }
  EXPECT_EQ(with_chain, 118u);
  EXPECT_EQ(option_table[option_code("-fdump-analyzer")].back_chain,
            option_code("-fdump-"));
}

TEST(OptionTableInvariants, NegationLinksFormTheListedRings) {
  const std::vector<std::vector<std::string_view>> rings = {
      {"-Qn", "-Qy"},
      {"-cpp", "-nocpp"},
      {"-fPIC", "-fPIE", "-fpic", "-fpie"},
      {"-fuse-ld=quill", "-fuse-ld=flint"},
      {"-gzeb-pubnames", "-gno-pubnames", "-gpubnames"},
      {"-no-pie", "-shared", "-static-pie", "-pie"},
  };
  std::set<std::size_t> in_ring;
  for (const auto& ring : rings) {
    for (std::size_t k = 0; k < ring.size(); ++k) {
      const std::size_t code = code_of(ring[k]);
      ASSERT_NE(code, no_option) << ring[k];
      EXPECT_EQ(option_table[code].negation_link,
                static_cast<std::int32_t>(code_of(ring[(k + 1) % ring.size()])))
          << ring[k];
      in_ring.insert(code);
    }
  }
  std::size_t self = 0, never = 0;
  for (std::size_t i = 0; i < option_count; ++i) {
    const option_record& o = option_table[i];
    if (in_ring.count(i)) {
      continue;
    }
    const bool cancels =
        (o.text.starts_with("-W") || o.text.starts_with("-f") ||
         o.text.starts_with("-m") || o.text.starts_with("-g")) &&
        !(o.attributes & ATTR_NO_NEGATIVE);
    const bool march =
        o.text == "-march=" || o.text == "-mcpu=" || o.text == "-mtune=";
    if (cancels || march) {
      EXPECT_EQ(o.negation_link, static_cast<std::int32_t>(i)) << o.text.get();
      ++self;
    } else {
      EXPECT_EQ(o.negation_link, -1) << o.text.get();
      ++never;
    }
  }
  EXPECT_EQ(in_ring.size(), 17u);
  EXPECT_EQ(self, 1119u);
  EXPECT_EQ(never, 945u);
}

TEST(OptionTableInvariants, AliasesAndTheirArguments) {
  for (const option_record& o : option_table) {
    if (!is_alias(o)) {
      EXPECT_EQ(o.alias_argument, nullptr) << o.text.get();
      EXPECT_EQ(o.negated_alias_argument, nullptr) << o.text.get();
      EXPECT_EQ(o.attributes & (ATTR_ALIAS_IF_SEPARATE | ATTR_ALIAS_NEGATES), 0)
          << o.text.get();
      continue;
    }
    if (o.alias_target == OPTION_IGNORE ||
        o.alias_target == OPTION_WARN_REMOVED) {
      EXPECT_EQ(o.alias_argument, nullptr) << o.text.get();
      EXPECT_EQ(o.negated_alias_argument, nullptr) << o.text.get();
      continue;
    }
    ASSERT_LT(o.alias_target, option_count) << o.text.get();
    const option_record& target = option_table[o.alias_target];
    EXPECT_TRUE(!is_alias(target) ||
                (target.attributes & ATTR_ALIAS_IF_SEPARATE))
        << o.text.get() << " -> " << target.text.get();
    if (o.negated_alias_argument != nullptr) {
      EXPECT_NE(o.alias_argument, nullptr) << o.text.get();
    }
    if (o.alias_argument != nullptr) {
      EXPECT_EQ(o.flags & (OPTF_JOINED | OPTF_SEPARATE), 0u) << o.text.get();
      EXPECT_EQ(o.attributes & ATTR_ALIAS_NEGATES, 0) << o.text.get();
      const bool negatable_text =
          o.text.starts_with("-W") || o.text.starts_with("-f") ||
          o.text.starts_with("-m") || o.text.starts_with("-g");
      if (o.negated_alias_argument == nullptr) {
        EXPECT_TRUE((o.attributes & ATTR_NO_NEGATIVE) || !negatable_text)
            << o.text.get();
      }
    }
  }
}

TEST(OptionTableInvariants, EnumerationsAndVariables) {
  std::set<std::size_t> used;
  for (const option_record& o : option_table) {
    if (o.variable_kind == VK_ENUM) {
      ASSERT_LT(o.enum_index, option_enum_count) << o.text.get();
      used.insert(o.enum_index);
      EXPECT_LE(o.variable_value, 2) << o.text.get();
      EXPECT_GE(o.variable_value, 0) << o.text.get();
    }
    if (has_variable(o)) {
      EXPECT_LT(o.variable_offset, sizeof(option_values)) << o.text.get();
    }
    if (has_range(o)) {
      EXPECT_LE(o.range_min, o.range_max) << o.text.get();
    } else {
      EXPECT_EQ(o.range_min, -1) << o.text.get();
    }
  }
  EXPECT_EQ(used.size(), option_enum_count);
  for (const option_enum& e : option_enums) {
    EXPECT_FALSE(e.values.empty());
    EXPECT_EQ(e.value_size, 4u);
    for (const enum_value& v : e.values) {
      EXPECT_FALSE(v.text.empty());
      EXPECT_EQ(v.flags & (EV_CANONICAL | EV_DRIVER_ONLY), 0u) << v.text;
    }
  }
}

// The counts of the option documentation, and the few entries it names.
TEST(OptionTableContents, CountsByClassAndAttribute) {
  const std::map<std::uint32_t, std::size_t> expected = {
      {OPTF_DRIVER, 242},  {OPTF_COMMON, 983}, {OPTF_JOINED, 633},
      {OPTF_SEPARATE, 85}, {OPTF_TARGET, 38},  {OPTF_PARAMS, 290},
  };
  for (const auto& [flag, count] : expected) {
    std::size_t n = 0;
    for (const option_record& o : option_table) {
      n += (o.flags & flag) != 0;
    }
    EXPECT_EQ(n, count) << std::hex << flag;
  }
  std::size_t aliases = 0, ignored = 0, removed = 0, ranges = 0, enums = 0;
  for (const option_record& o : option_table) {
    aliases += is_alias(o);
    ignored += o.alias_target == OPTION_IGNORE;
    removed += o.alias_target == OPTION_WARN_REMOVED;
    ranges += has_range(o);
    enums += o.variable_kind == VK_ENUM;
    EXPECT_EQ(extra_args(o), 0u) << o.text.get();
    EXPECT_EQ(o.flags & OPTF_PARAMS ? 1 : 0,
              o.text.starts_with("--param=") ? 1 : 0)
        << o.text.get();
  }
  EXPECT_EQ(aliases, 291u);
  EXPECT_EQ(ignored, 45u);
  EXPECT_EQ(removed, 56u);
  EXPECT_EQ(ranges, 131u);
  EXPECT_EQ(enums, 61u);
  EXPECT_EQ(option_enum_count, 59u);

  using set = std::set<std::string>;
  EXPECT_EQ(texts_where([](const option_record& o) {
              return (o.attributes & ATTR_DISABLED) != 0;
            }),
            (set{"-fkeep-inline-dllexport", "-stdlib="}));
  EXPECT_EQ(texts_where([](const option_record& o) {
              return (o.attributes & ATTR_DRIVER_REJECTS) != 0;
            }),
            (set{"-quiet", "-version", "-imultiarch", "-lang-asm"}));
  EXPECT_EQ(texts_where([](const option_record& o) {
              return (o.attributes & ATTR_NO_ARG_IN_DRIVER) != 0;
            }),
            (set{"-MD", "-MMD", "--write-dependencies",
                 "--write-user-dependencies"}));
  EXPECT_EQ(texts_where([](const option_record& o) {
              return o.warning_message != nullptr;
            }),
            (set{"-fhandle-exceptions"}));
  EXPECT_EQ(texts_where(is_placeholder), (set{"-gno-"}));
  EXPECT_EQ(texts_where([](const option_record& o) {
              return (o.flags & OPTF_MARK) != 0;
            }),
            (set{"-cpp="}));
  // Only options of the driver carry help texts, 86 of them.
  std::size_t helps = 0;
  for (const option_record& o : option_table) {
    if (o.help != nullptr) {
      EXPECT_TRUE(o.flags & OPTF_DRIVER) << o.text.get();
      ++helps;
    }
  }
  EXPECT_EQ(helps, 86u);
}

TEST(OptionTableContents, SampleEntries) {
  const option_record& o = option_table[option_code("-o")];
  EXPECT_EQ(o.flags & ~OPTF_LANGUAGES,
            OPTF_DRIVER | OPTF_COMMON | OPTF_JOINED | OPTF_SEPARATE);
  EXPECT_STREQ(o.missing_argument_message, "missing filename after %qs");
  EXPECT_STREQ(o.help, "-o <file>\tPlace output into <file>.");
  EXPECT_EQ(o.variable_kind, VK_STRING);
  EXPECT_EQ(o.variable_offset, offsetof(option_values, opt_o));

  const option_record& output = option_table[option_code("--output=")];
  EXPECT_EQ(output.alias_target, option_code("-o"));
  EXPECT_STREQ(output.missing_argument_message, "missing filename after %qs");

  const option_record& barrier = option_table[option_code("--include-barrier")];
  EXPECT_EQ(barrier.alias_target, option_code("-I"));
  EXPECT_STREQ(barrier.alias_argument, "-");

  const option_record& aligned = option_table[option_code("-Waligned-new")];
  EXPECT_EQ(aligned.alias_target, option_code("-Waligned-new="));
  EXPECT_STREQ(aligned.alias_argument, "global");
  EXPECT_STREQ(aligned.negated_alias_argument, "none");

  const option_record& handle =
      option_table[option_code("-fhandle-exceptions")];
  EXPECT_EQ(handle.alias_target, option_code("-fexceptions"));
  EXPECT_STREQ(handle.warning_message, "%<-fhandle-exceptions%> has been "
                                       "renamed %<-fexceptions%> (and is now "
                                       "on by default)");

  const option_record& param =
      option_table[option_code("--param=align-threshold=")];
  EXPECT_EQ(param.flags & ~OPTF_LANGUAGES,
            OPTF_PARAMS | OPTF_COMMON | OPTF_JOINED);
  EXPECT_EQ(param.attributes, ATTR_UNSIGNED_ARG);
  EXPECT_EQ(param.range_min, 1);
  EXPECT_EQ(param.range_max, 65536);

  EXPECT_EQ(option_table[option_code("-fconstexpr-ops-limit=")].attributes,
            ATTR_NO_NEGATIVE | ATTR_WIDE_VALUE);
  const option_record& frame =
      option_table[option_code("-Wframe-larger-than=")];
  EXPECT_EQ(frame.attributes,
            ATTR_NO_NEGATIVE | ATTR_WIDE_VALUE | ATTR_SIZE_UNITS);
  EXPECT_EQ(frame.variable_kind, VK_SIZE);
  EXPECT_EQ(option_table[option_code("-march=")].attributes,
            ATTR_NO_NEGATIVE | ATTR_LOWERCASE_ARG);
  EXPECT_EQ(option_table[option_code("-g")].attributes,
            ATTR_NO_NEGATIVE | ATTR_ARG_OPTIONAL);
  EXPECT_EQ(
      std::string_view(
          option_table[option_code("-foffload=")].missing_argument_message),
      "targets missing after %qs");

  // Languages: driver, common and target options belong to none; the
  // others to the C family.
  EXPECT_EQ(option_table[option_code("-Wl,")].flags & OPTF_LANGUAGES, 0u);
  EXPECT_EQ(option_table[option_code("-Wall")].flags & OPTF_LANGUAGES, 0x1818u);
}

TEST(OptionTableContents, Variables) {
  // Options sharing a field store different values into it.
  const option_record& pic = option_table[option_code("-fpic")];
  const option_record& big_pic = option_table[option_code("-fPIC")];
  EXPECT_EQ(pic.variable_offset, offsetof(option_values, flag_pic));
  EXPECT_EQ(big_pic.variable_offset, pic.variable_offset);
  EXPECT_EQ(pic.variable_kind, VK_EQUALS);
  EXPECT_EQ(pic.variable_value, 1);
  EXPECT_EQ(big_pic.variable_value, 2);
  const option_record& dwarf32 = option_table[option_code("-gdwarf32")];
  EXPECT_EQ(dwarf32.variable_kind, VK_EQUALS);
  EXPECT_EQ(dwarf32.variable_value, 4);
  EXPECT_EQ(dwarf32.variable_offset,
            option_table[option_code("-gdwarf64")].variable_offset);

  EXPECT_FALSE(has_variable(option_table[option_code("-fsanitize=")]));
  EXPECT_FALSE(has_variable(option_table[option_code("-gz=")]));
  EXPECT_EQ(option_table[option_code("-gz=")].variable_kind, VK_ENUM);

  // A default-constructed option_values holds the start values;
  // option_values_set starts cleared.
  const option_values values;
  EXPECT_EQ(values.dwarf_version, 5);
  EXPECT_EQ(values.write_symbols, 0);
  EXPECT_EQ(values.opt_o, nullptr);
  const option_values_set set;
  EXPECT_EQ(set.dwarf_version, 0);
  static_assert(sizeof(option_values) == sizeof(option_values_set));
  static_assert(offsetof(option_values, dwarf_version) ==
                offsetof(option_values_set, dwarf_version));
}

} // namespace
} // namespace velk
