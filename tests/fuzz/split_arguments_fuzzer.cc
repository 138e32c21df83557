// Fuzz target: any text split into arguments, written back as an argument
// file and split again, gives the same arguments.
#include "support/argument_files.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> args = velk::split_arguments(text);
  if (args.empty())
    std::abort();
  for (const std::string& arg : args)
    if (arg.find('\0') != std::string::npos)
      std::abort();

  char* buffer = nullptr;
  std::size_t length = 0;
  std::FILE* stream = open_memstream(&buffer, &length);
  if (stream == nullptr)
    return 0;
  int result = velk::write_arguments(args, stream);
  std::fclose(stream);
  std::string written(buffer, length);
  std::free(buffer);
  if (result != 0 || written != velk::format_arguments(args))
    std::abort();
  if (velk::split_arguments(written) != args)
    std::abort();
  return 0;
}
