// libFuzzer target: reads arbitrary texts as the CPU description.  The first
// byte chooses what is detected (arch, cpu or tune); the rest is written to
// a scratch file that VELK_CPUINFO names.  Detection never reports: it gives
// an option of the kind asked for, or nothing.  A crash, a hang or a
// sanitizer report is a fault, as is an answer that is not one option word
// of the kind asked for (or the base architecture's -march=).

#include "specs/cpu_detect.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

namespace {

char scratch_dir[] = "/tmp/velk-cpu-fuzz-XXXXXX";
char scratch_name[sizeof scratch_dir + 8];

void remove_scratch() {
  std::remove(scratch_name);
  std::remove(scratch_dir);
}

std::string scratch_file() {
  if (mkdtemp(scratch_dir) == nullptr)
    std::abort();
  std::snprintf(scratch_name, sizeof scratch_name, "%s/cpuinfo", scratch_dir);
  std::atexit(remove_scratch);
  std::string name = scratch_name;
  if (setenv("VELK_CPUINFO", name.c_str(), 1) != 0)
    std::abort();
  return name;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  static const std::string file = scratch_file();
  if (size == 0)
    return 0;
  static const char* const kinds[] = {"arch", "cpu", "tune"};
  const std::string kind = kinds[data[0] % 3];
  std::FILE* out = std::fopen(file.c_str(), "wb");
  if (out == nullptr)
    std::abort();
  if (std::fwrite(data + 1, 1, size - 1, out) != size - 1)
    std::abort();
  std::fclose(out);

  const std::string words[] = {kind};
  std::optional<std::string> option = velk::local_cpu_detect(words);
  if (!option)
    return 0;
  // A processor the tables do not know falls back to the base architecture
  // whatever the kind.  The answer is one word built from the tables.
  if (option->rfind("-m" + kind + "=", 0) != 0 &&
      option->rfind("-march=", 0) != 0)
    std::abort();
  for (char c : *option)
    if (c <= ' ' || c > '~')
      std::abort();
  return 0;
}
