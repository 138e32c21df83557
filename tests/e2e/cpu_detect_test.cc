// End-to-end cases of host CPU detection and of the assembler's -march=:
// CPU descriptions (the fixtures of tests/specs/cpuinfo) given through
// VELK_CPUINFO to real runs of `velk++ -c a.cc` with -march=native,
// -mcpu=native, -mtune=native and plain -mcpu= values, checked against the
// options the stand-in compiler proper and assembler were called with.
#include "tests/e2e/harness.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace velk::test {
namespace {

std::string fixture(const std::string& name) {
  return std::string(VELK_CPUINFO_DIR) + "/" + name;
}

// The machine options (the words that begin with "-m") of a call, in order.
std::string machine_options(const tool_call& call) {
  std::string out;
  for (const std::string& arg : call.args) {
    if (!arg.starts_with("-m"))
      continue;
    if (!out.empty())
      out += ' ';
    out += arg;
  }
  return out;
}

struct cpu_case {
  const char* what;
  std::optional<std::string> cpuinfo; // VELK_CPUINFO; none: not set
  std::vector<std::string> args;
  std::string compiler;  // machine options of tarn1xx
  std::string assembler; // machine options of as
};

// Runs `velk++ ARGS -c a.cc` and checks that the compiler proper and the
// assembler ran, quietly, with these options, and that no call saw the
// word "native".
void check(sandbox& box, const cpu_case& c) {
  std::vector<std::string> args = c.args;
  args.insert(args.end(), {"-c", "a.cc"});
  run_options opts;
  if (c.cpuinfo)
    opts.env["VELK_CPUINFO"] = *c.cpuinfo;
  box.clear_calls();
  run_result r = box.run(args, opts);
  EXPECT_EQ(r.exit_status, 0) << c.what;
  EXPECT_EQ(r.err, "") << c.what;
  ASSERT_EQ(r.programs(), (std::vector<std::string>{"tarn1xx", "as"}))
      << c.what;
  EXPECT_EQ(machine_options(r.calls[0]), c.compiler) << c.what;
  EXPECT_EQ(machine_options(r.calls[1]), c.assembler) << c.what;
  for (const tool_call& call : r.calls)
    for (const std::string& arg : call.args)
      EXPECT_EQ(arg.find("native"), std::string::npos)
          << c.what << ": " << call.program << " got " << arg;
}

// The options every compilation gets from the driver's self specs.
const std::string base = "-mlittle-endian -mabi=lp64";

TEST(CpuDetect, NativeOptionsFromCpuDescriptions) {
  sandbox box;
  box.write_file("a.cc", "int main() {}\n");
  const std::string a53 = fixture("cortex-a53.txt");
  const std::string pair = fixture("big-little.txt");
  const std::string odd = fixture("missing-and-extra-features.txt");
  const std::string bare = fixture("no-features.txt");
  const cpu_case cases[] = {
      // A host with one kind of core.
      {"single -mcpu",
       a53,
       {"-mcpu=native"},
       base + " -mcpu=cortex-a53+crc",
       "-march=armv8-a+crc -mabi=lp64"},
      {"single -mtune",
       a53,
       {"-mtune=native"},
       base + " -mtune=cortex-a53",
       "-mabi=lp64"},
      // -march=native alone names the processor; beside an -mcpu= or
      // -mtune= it names the architecture.
      {"single -march",
       a53,
       {"-march=native"},
       base + " -mcpu=cortex-a53+crc",
       "-march=armv8-a+crc -mabi=lp64"},
      {"single -march with -mtune",
       a53,
       {"-march=native", "-mtune=cortex-a72"},
       "-mtune=cortex-a72 " + base + " -march=armv8-a+crc",
       "-march=armv8-a+crc -mabi=lp64"},
      {"single, all three",
       a53,
       {"-mtune=native", "-mcpu=native", "-march=native"},
       base + " -march=armv8-a+crc -mcpu=cortex-a53+crc -mtune=cortex-a53",
       "-march=armv8-a+crc -march=armv8-a+crc -mabi=lp64"},
      // A later -mcpu= cancels -mcpu=native before anything is detected.
      {"native, then a named -mcpu",
       a53,
       {"-mcpu=native", "-mcpu=cortex-a72"},
       "-mcpu=cortex-a72 " + base,
       "-march=armv8-a+crc -mabi=lp64"},
      // Two kinds of core: the pair's row, whichever part comes first; the
      // first part's architecture for -march.
      {"big.LITTLE -mcpu",
       pair,
       {"-mcpu=native"},
       base + " -mcpu=cortex-a72.cortex-a53+crc+crypto",
       "-march=armv8-a+crc+crypto -mabi=lp64"},
      {"big.LITTLE -mtune",
       pair,
       {"-mtune=native"},
       base + " -mtune=cortex-a72.cortex-a53",
       "-mabi=lp64"},
      {"big.LITTLE -march with -mcpu",
       pair,
       {"-march=native", "-mcpu=cortex-a57"},
       "-mcpu=cortex-a57 " + base + " -march=armv8-a+crc+crypto",
       "-march=armv8-a+crc+crypto -march=armv8-a+crc -mabi=lp64"},
      // No row for the processor: the base architecture with what the
      // host has, for every kind.
      {"unknown part -mcpu",
       fixture("unknown-part.txt"),
       {"-mcpu=native"},
       base + " -march=armv8-a+crc+lse",
       "-march=armv8-a+crc+lse -mabi=lp64"},
      {"unknown part -mtune",
       fixture("unknown-part.txt"),
       {"-mtune=native"},
       base + " -march=armv8-a",
       "-march=armv8-a -mabi=lp64"},
      {"unknown implementer -mcpu",
       fixture("unknown-implementer.txt"),
       {"-mcpu=native"},
       base + " -march=armv8-a+crc+lse",
       "-march=armv8-a+crc+lse -mabi=lp64"},
      // Features the processor has but the host lacks are taken away, those
      // it adds are added, words of no extension are ignored.
      {"missing and extra features -mcpu",
       odd,
       {"-mcpu=native"},
       base + " -mcpu=neoverse-n1+crc+aes+sha3+sb+ssbs+nofp16+nodotprod",
       "-march=armv8.2-a+crc+rcpc+aes+sha3+profile+sb+ssbs -mabi=lp64"},
      {"missing and extra features -march",
       odd,
       {"-march=native", "-mtune=native"},
       base + " -march=armv8.2-a+crc+rcpc+aes+sha3+sb+ssbs -mtune=neoverse-n1",
       "-march=armv8.2-a+crc+rcpc+aes+sha3+sb+ssbs -mabi=lp64"},
      // No Features line: the host is taken to have no extension at all.
      {"no Features -mcpu",
       bare,
       {"-mcpu=native"},
       base + " -mcpu=cortex-a72+nofp+nocrc",
       "-march=armv8-a+nofp -mabi=lp64"},
      {"no Features -mtune",
       bare,
       {"-mtune=native"},
       base + " -mtune=cortex-a72",
       "-mabi=lp64"},
  };
  for (const cpu_case& c : cases)
    check(box, c);
}

// A description that cannot be read makes the native options disappear
// without a word.
TEST(CpuDetect, UnreadableDescriptionDropsNativeOptions) {
  sandbox box;
  box.write_file("a.cc", "int main() {}\n");
  // A missing file, a directory, and an empty name (set, but naming no
  // file).
  std::vector<std::string> paths = {box.root() + "/no-such-cpuinfo",
                                    fixture("."), ""};
  // Opens, but every read fails.
  if (access("/proc/self/mem", F_OK) == 0)
    paths.push_back("/proc/self/mem");
  // Never ends: read only up to a bound, not into memory without end.
  if (access("/dev/zero", R_OK) == 0)
    paths.push_back("/dev/zero");
  if (geteuid() != 0) {
    const std::string locked = box.root() + "/locked-cpuinfo";
    box.write_file(locked, "CPU implementer : 0x41\nCPU variant : 0\n"
                           "CPU part : 0xd03\nFeatures : fp asimd crc32\n");
    ASSERT_EQ(chmod(locked.c_str(), 0), 0);
    paths.push_back(locked);
  }
  for (const std::string& path : paths) {
    const std::string what = "VELK_CPUINFO=" + path;
    check(box, {what.c_str(),
                path,
                {"-march=native", "-mcpu=native", "-mtune=native"},
                base,
                "-mabi=lp64"});
  }
}

// Plain -mcpu= values reach the compiler proper as given; the assembler
// gets the architecture and extensions they stand for.
TEST(CpuDetect, AssemblerGetsRewrittenMcpu) {
  sandbox box;
  box.write_file("a.cc", "int main() {}\n");
  const cpu_case cases[] = {
      {"crypto",
       std::nullopt,
       {"-mcpu=cortex-a72+crypto"},
       "-mcpu=cortex-a72+crypto " + base,
       "-march=armv8-a+crc+crypto -mabi=lp64"},
      {"generic",
       std::nullopt,
       {"-mcpu=generic"},
       "-mcpu=generic " + base,
       "-march=armv8-a -mabi=lp64"},
      {"taken away",
       std::nullopt,
       {"-mcpu=cortex-a53+nofp"},
       "-mcpu=cortex-a53+nofp " + base,
       "-march=armv8-a+crc+nofp -mabi=lp64"},
      {"pair beside -march",
       std::nullopt,
       {"-march=armv8.2-a", "-mcpu=cortex-a76.cortex-a55"},
       "-march=armv8.2-a -mcpu=cortex-a76.cortex-a55 " + base,
       "-march=armv8.2-a -march=armv8.2-a+crc+fp16+rcpc+dotprod -mabi=lp64"},
      // The later cancels the earlier.
      {"last of two",
       std::nullopt,
       {"-mcpu=cortex-a53", "-mcpu=cortex-a72+crypto"},
       "-mcpu=cortex-a72+crypto " + base,
       "-march=armv8-a+crc+crypto -mabi=lp64"},
      {"unknown extension ends the list",
       std::nullopt,
       {"-mcpu=cortex-a53+crypto+foo+sve"},
       "-mcpu=cortex-a53+crypto+foo+sve " + base,
       "-march=armv8-a+crc+crypto -mabi=lp64"},
  };
  for (const cpu_case& c : cases)
    check(box, c);
}

// An unknown processor stops the run when the assembler's command is made:
// the compiler proper has run, its output is removed, nothing is assembled.
TEST(CpuDetect, UnknownMcpuIsFatalForTheAssembler) {
  sandbox box;
  box.write_file("a.cc", "int main() {}\n");
  box.write_file("b.s", "\n");
  for (const char* value : {"foo", "foo+crc", "native+crc", "cortex-a5"}) {
    box.clear_calls();
    run_result r = box.run({std::string("-mcpu=") + value, "-c", "a.cc"});
    EXPECT_EQ(r.exit_status, 1) << value;
    EXPECT_EQ(r.err, std::string("velk++: fatal error: unknown value '") +
                         value + "' for '-mcpu'\ncompilation terminated.\n");
    EXPECT_EQ(r.programs(), std::vector<std::string>{"tarn1xx"}) << value;
    EXPECT_FALSE(box.exists("a.o")) << value;
    EXPECT_TRUE(box.list_dir(box.tmp()).empty()) << value;
  }
  // An assembler input: nothing runs at all.
  box.clear_calls();
  run_result r = box.run({"-mcpu=foo", "-c", "b.s"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err, "velk++: fatal error: unknown value 'foo' for '-mcpu'\n"
                   "compilation terminated.\n");
  EXPECT_TRUE(r.calls.empty());
  // Without the assembler the value is only the compiler proper's business.
  box.clear_calls();
  r = box.run({"-mcpu=foo", "-S", "a.cc"});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.err, "");
  ASSERT_EQ(r.programs(), std::vector<std::string>{"tarn1xx"});
  EXPECT_EQ(machine_options(r.calls[0]), "-mcpu=foo " + base);
}

// The detected option is listed for the later programs like any other
// switch; the removed native one is skipped.
TEST(CpuDetect, DetectedOptionInSheafVelkOptions) {
  sandbox box;
  box.write_file("a.cc", "int main() {}\n");
  run_result r =
      box.run({"-c", "-mcpu=native", "a.cc"},
              {.env = {{"VELK_CPUINFO", fixture("cortex-a53.txt")}}});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  ASSERT_FALSE(r.calls.empty());
  EXPECT_EQ(r.calls[0].env["SHEAF_VELK_OPTIONS"],
            "'-c'  '-shared-libvelk' '-mlittle-endian' '-mabi=lp64' "
            "'-mcpu=cortex-a53+crc'");
}

// Without VELK_CPUINFO the host's own description is read: whatever it
// says, the native options never reach a program and nothing is reported.
TEST(CpuDetect, HostDescription) {
  sandbox box;
  box.write_file("a.cc", "int main() {}\n");
  run_result r =
      box.run({"-march=native", "-mcpu=native", "-mtune=native", "-c", "a.cc"},
              {.unset = {"VELK_CPUINFO"}});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.err, "");
  ASSERT_EQ(r.programs(), (std::vector<std::string>{"tarn1xx", "as"}));
  for (const tool_call& call : r.calls)
    for (const std::string& arg : call.args)
      EXPECT_EQ(arg.find("native"), std::string::npos) << arg;
}

} // namespace
} // namespace velk::test
