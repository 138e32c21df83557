// libFuzzer target: decodes a whole argument vector as the driver does.  The
// input is split at NUL and newline bytes into the arguments after the
// program name, and decoded under the driver's mask.  Decoding only records
// problems; nothing is handled, so nothing may exit.  A crash, a hang or a
// sanitizer report is a fault, as is a record that does not say where it
// came from.

#include "options/decode.h"
#include "options/handle.h"
#include "options/option_table.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  static const bool initialized = (velk::init_options_once(), true);
  (void)initialized;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> args{"velk++"};
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '\0' || text[i] == '\n') {
      if (i != text.size() || i != start)
        args.emplace_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  std::vector<const char*> argv;
  for (const std::string& arg : args)
    argv.push_back(arg.c_str());
  argv.push_back(nullptr);

  std::vector<velk::decoded_option> decoded = velk::decode_argument_list(
      static_cast<int>(args.size()), argv.data(), velk::OPTF_DRIVER);
  if (decoded.empty())
    std::abort();
  return 0;
}
