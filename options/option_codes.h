// option_code("-o"): the code of an option named by its exact spelling,
// computed while compiling.  A spelling that names no option does not
// compile, so code that refers to particular options stays right when the
// table changes.
#pragma once

#include <cstddef>
#include <string_view>

#include "options/option_texts.h"

namespace velk {

consteval std::size_t option_code(std::string_view text) {
  std::size_t lo = 0;
  std::size_t hi = option_count;
  while (lo < hi) {
    std::size_t mid = lo + (hi - lo) / 2;
    if (option_texts[mid] < text) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  if (lo == option_count || option_texts[lo] != text) {
    throw "option_code: no option has this text";
  }
  return lo;
}

} // namespace velk
