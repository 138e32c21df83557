#include "support/standard_output.h"

#include <cerrno>
#include <cstdio>

namespace velk {

namespace {

int& first_error() {
  static int error = 0;
  return error;
}

void note_failure() {
  if (first_error() == 0)
    first_error() = errno != 0 ? errno : EIO;
}

} // namespace

void write_standard_output(std::string_view text) {
  errno = 0;
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size())
    note_failure();
}

int flush_standard_output() {
  errno = 0;
  if (std::fflush(stdout) != 0 || std::ferror(stdout))
    note_failure();
  return first_error();
}

} // namespace velk
