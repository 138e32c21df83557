// Internal consistency checks.  A failed check is a fault of the program,
// never of its input: it is reported as an internal compiler error naming
// the function and the source position, and ends the process.
#pragma once

namespace velk {

// Reports a failed check at `file`:`line` in `function`.  Before the
// diagnostic engine exists the report goes straight to standard error and
// the process aborts; afterwards it is an internal error (status 4).
[[noreturn]] void assert_failed(const char* file, int line,
                                const char* function);

} // namespace velk

#define VELK_ASSERT(condition)                                                 \
  do {                                                                         \
    if (!(condition))                                                          \
      ::velk::assert_failed(__FILE__, __LINE__, __func__);                     \
  } while (false)

#define VELK_UNREACHABLE() ::velk::assert_failed(__FILE__, __LINE__, __func__)
