// Host CPU detection from CPU descriptions (the fixtures under cpuinfo/ and
// small texts written here), the extension text, and the rewriting of
// -mcpu= values for the assembler.
#include "specs/cpu_detect.h"

#include "diagnostics/diagnostic.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace velk {
namespace {

using ::testing::ExitedWithCode;

std::optional<std::string> detect(const std::string& kind) {
  const std::vector<std::string> words = {kind};
  return local_cpu_detect(words);
}

std::string fixture(const std::string& name) {
  return std::string(VELK_CPUINFO_DIR) + "/" + name;
}

class CpuDetect : public ::testing::Test {
protected:
  void SetUp() override {
    set_program_name("velk++");
    engine_init(global_engine, 0);
    char pattern[] = "/tmp/velk-cpuinfo-XXXXXX";
    int fd = mkstemp(pattern);
    ASSERT_GE(fd, 0);
    close(fd);
    scratch_ = pattern;
  }
  void TearDown() override {
    unsetenv("VELK_CPUINFO");
    std::remove(scratch_.c_str());
  }
  void use(const std::string& path) { setenv("VELK_CPUINFO", path.c_str(), 1); }
  // Uses a description with this text.
  void use_text(const std::string& text) {
    std::ofstream(scratch_, std::ios::trunc) << text;
    use(scratch_);
  }
  std::string scratch_;
};

struct expected_options {
  const char* file;
  std::optional<std::string> arch, cpu, tune;
};

TEST_F(CpuDetect, Fixtures) {
  const expected_options cases[] = {
      {"cortex-a53.txt", "-march=armv8-a+crc", "-mcpu=cortex-a53+crc",
       "-mtune=cortex-a53"},
      // Two kinds of core: the pair for -mcpu and -mtune, the first part's
      // architecture for -march.
      {"big-little.txt", "-march=armv8-a+crc+crypto",
       "-mcpu=cortex-a72.cortex-a53+crc+crypto",
       "-mtune=cortex-a72.cortex-a53"},
      {"unknown-part.txt", "-march=armv8-a+crc+lse", "-march=armv8-a+crc+lse",
       "-march=armv8-a"},
      {"unknown-implementer.txt", "-march=armv8-a+crc+lse",
       "-march=armv8-a+crc+lse", "-march=armv8-a"},
      // No asimdhp and asimddp: fp16 and dotprod are taken away from the
      // processor's own set; sha3, sb and ssbs are added, unknown words
      // ignored.
      {"missing-and-extra-features.txt",
       "-march=armv8.2-a+crc+rcpc+aes+sha3+sb+ssbs",
       "-mcpu=neoverse-n1+crc+aes+sha3+sb+ssbs+nofp16+nodotprod",
       "-mtune=neoverse-n1"},
      {"no-features.txt", "-march=armv8-a+nofp", "-mcpu=cortex-a72+nofp+nocrc",
       "-mtune=cortex-a72"},
  };
  for (const expected_options& c : cases) {
    use(fixture(c.file));
    EXPECT_EQ(detect("arch"), c.arch) << c.file;
    EXPECT_EQ(detect("cpu"), c.cpu) << c.file;
    EXPECT_EQ(detect("tune"), c.tune) << c.file;
  }
}

TEST_F(CpuDetect, UnreadableDescriptionGivesNothing) {
  for (const std::string& path :
       {fixture("no-such-file.txt"), std::string(VELK_CPUINFO_DIR)}) {
    use(path);
    for (const char* kind : {"arch", "cpu", "tune"})
      EXPECT_EQ(detect(kind), std::nullopt) << path << " " << kind;
  }
  if (geteuid() != 0) {
    use_text("CPU implementer : 0x41\nCPU variant : 0\nCPU part : 0xd03\n");
    chmod(scratch_.c_str(), 0);
    EXPECT_EQ(detect("cpu"), std::nullopt);
  }
}

TEST_F(CpuDetect, OtherKindsGiveNothing) {
  use(fixture("cortex-a53.txt"));
  EXPECT_EQ(detect("native"), std::nullopt);
  EXPECT_EQ(detect(""), std::nullopt);
  // Only the first word counts.
  const std::vector<std::string> words = {"tune", "cpu"};
  EXPECT_EQ(local_cpu_detect(words), "-mtune=cortex-a53");
  EXPECT_EXIT(local_cpu_detect({}), ExitedWithCode(4),
              "internal compiler error: in host_detect_local_cpu");
}

// Odd descriptions: what ends detection and what does not.
TEST_F(CpuDetect, OddDescriptions) {
  const std::string a53 = "CPU variant : 0x0\nCPU part : 0xd03\n";
  const std::string features = "Features : fp asimd crc32\n";
  struct {
    const char* what;
    std::string text;
    std::optional<std::string> cpu;
  } cases[] = {
      {"plain", "CPU implementer : 0x41\n" + a53 + features,
       "-mcpu=cortex-a53+crc"},
      {"lines in any order", features + a53 + "CPU implementer : 0x41\n",
       "-mcpu=cortex-a53+crc"},
      {"implementer 0xff", "CPU implementer : 0xff\n" + a53, std::nullopt},
      {"two implementers",
       "CPU implementer : 0x41\nCPU implementer : 0x42\n" + a53, std::nullopt},
      {"bad implementer first",
       "CPU implementer : zz\nCPU implementer : 0x41\n" + a53 + features,
       "-mcpu=cortex-a53+crc"},
      {"bad implementer later",
       "CPU implementer : 0x41\nCPU implementer\n" + a53, std::nullopt},
      {"no implementer", a53 + features, std::nullopt},
      {"no part", "CPU implementer : 0x41\nCPU variant : 0\n", std::nullopt},
      {"no variant", "CPU implementer : 0x41\nCPU part : 0xd03\n",
       std::nullopt},
      {"two variants of one part",
       "CPU implementer : 0x41\nCPU variant : 0\nCPU variant : 1\n"
       "CPU part : 0xd03\n",
       std::nullopt},
      {"three parts",
       "CPU implementer : 0x41\nCPU variant : 0\nCPU part : 0xd03\n"
       "CPU part : 0xd08\nCPU part : 0xd07\n",
       std::nullopt},
      {"unreadable variant counts as one",
       "CPU implementer : 0x41\nCPU variant : ?\nCPU part : 0xd03\n" + features,
       "-mcpu=cortex-a53+crc"},
      {"unknown pair",
       "CPU implementer : 0x41\nCPU variant : 0\nCPU part : 0xd03\n"
       "CPU part : 0xd05\n",
       std::nullopt},
      {"huge part",
       "CPU implementer : 0x41\nCPU variant : 0\nCPU part : " +
           std::string(40, 'f') + "\n" + features,
       "-march=armv8-a+crc"},
      {"only the first Features line",
       "CPU implementer : 0x41\n" + a53 + features +
           "Features : fp asimd crc32 atomics\n",
       "-mcpu=cortex-a53+crc"},
      {"empty Features line", "CPU implementer : 0x41\n" + a53 + "Features\n",
       "-mcpu=cortex-a53+nofp+nocrc"},
      {"long line",
       "CPU implementer : 0x41\n" + a53 + "Features : " +
           std::string(100000, 'x') + " fp asimd crc32 atomics\n",
       "-mcpu=cortex-a53+crc+lse"},
      // A variant of its own, then the row for every variant.
      {"variant row",
       "CPU implementer : 0x43\nCPU variant : 0\nCPU part : 0xa1\n",
       "-mcpu=thunderxt88p1+nofp+nocrc"},
      {"any variant",
       "CPU implementer : 0x43\nCPU variant : 1\nCPU part : 0xa1\n",
       "-mcpu=thunderxt88+nofp+nocrc"},
      // aes and sha2 without pmull: the processor keeps them.
      {"no pmull",
       "CPU implementer : 0x43\nCPU variant : 0\nCPU part : 0xa0\n"
       "Features : fp asimd aes sha1 sha2 crc32\n",
       "-mcpu=thunderx+crc"},
      // Aliases: the first row wins.
      {"alias", "CPU implementer : 0x43\nCPU variant : 0\nCPU part : 0xa0\n",
       "-mcpu=thunderx+nofp+nocrc"},
  };
  for (const auto& c : cases) {
    use_text(c.text);
    EXPECT_EQ(detect("cpu"), c.cpu) << c.what;
  }
}

TEST_F(CpuDetect, ExtensionText) {
  using namespace aarch64;
  // crc is written even when the base has it, except for Armv8-R.
  EXPECT_EQ(extension_text(0x7, 0x1000000007), "+crc");
  EXPECT_EQ(extension_text(0x21f1800020ef & 0xfffffffff, 0x21f1800020ef), "");
  // crypto stands for aes and sha2 together, its own bit or not.
  EXPECT_EQ(extension_text(0x307, 0x1000000003), "+crc+crypto");
  EXPECT_EQ(extension_text(0x307, 0x1000000707), "+crc");
  EXPECT_EQ(extension_text(0x207, 0x1000000707), "+crc+noaes");
  EXPECT_EQ(extension_text(0x107, 0x1000000003), "+crc+aes");
  // Taking fp away takes simd with it.
  EXPECT_EQ(extension_text(0x4, 0x1000000007), "+crc+nofp");
  // Extensions outside detection are never taken away.
  EXPECT_EQ(extension_text(0x7, 0x1000008007), "+crc");
}

TEST_F(CpuDetect, RewriteMcpu) {
  const struct {
    std::vector<std::string> words;
    const char* march;
  } cases[] = {
      {{"cortex-a72+crypto"}, "armv8-a+crc+crypto"},
      {{"generic"}, "armv8-a"},
      {{"cortex-a53+nofp"}, "armv8-a+crc+nofp"},
      {{"cortex-a53", "cortex-a72+crypto"}, "armv8-a+crc+crypto"},
      {{"cortex-a76.cortex-a55"}, "armv8.2-a+crc+fp16+rcpc+dotprod"},
      {{"cortex-r82"}, "armv8-r"},
      {{"cortex-r82+crc"}, "armv8-r"},
      {{"neoverse-512tvb"}, "armv8.4-a+crc+sve+profile+rng+ssbs+i8mm+bf16"},
      // An empty item, "no" alone or an unknown name ends the list.
      {{"cortex-a53+crypto+foo+sve"}, "armv8-a+crc+crypto"},
      {{"cortex-a53++sve"}, "armv8-a+crc"},
      {{"cortex-a53+no+sve"}, "armv8-a+crc"},
      {{"cortex-a53+nosimd+crypto"}, "armv8-a+crc+crypto"},
      {{"cortex-a53+aes+sha2"}, "armv8-a+crc+crypto"},
      {{"thunderx+nosha2"}, "armv8-a+crc+aes"},
      {{"cortex-a53+nosimd"}, "armv8-a+crc+nosimd"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(rewrite_mcpu(c.words), c.march) << c.words.back();
}

// `text` with the '+' signs escaped for a regular expression.
std::string escaped(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '+')
      out += '\\';
    out += c;
  }
  return out;
}

TEST_F(CpuDetect, RewriteMcpuErrors) {
  for (const char* value : {"foo", "foo+crc", "cortex-a5", "", "+crc"}) {
    const std::vector<std::string> words = {value};
    EXPECT_EXIT(rewrite_mcpu(words), ExitedWithCode(1),
                "^velk\\+\\+: fatal error: unknown value '" + escaped(value) +
                    "' for '-mcpu'\ncompilation terminated.\n$")
        << value;
  }
  EXPECT_EXIT(rewrite_mcpu({}), ExitedWithCode(4),
              "internal compiler error: in aarch64_rewrite_mcpu");
}

} // namespace
} // namespace velk
