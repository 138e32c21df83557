#include "driver/cxx_hook.h"

#include "options/decode.h"
#include "options/option_codes.h"

#include <cstdint>
#include <string_view>

namespace velk {

namespace {

// Per-option marks of the first pass.
enum : std::uint8_t {
  WRAP_AS_CXX = 2,
  IS_MATH_LIB = 4,
  IS_LIBC = 8,
  DROP_OPTION = 16,
};

// Which C++ library a link needs.
enum library_need : int {
  never_add = -1,
  if_needed = 0,
  needed = 1,
  needed_static = 2,
};

// Names after which a lone header needs no C++ library.
bool is_header_name(std::string_view name) {
  auto ends = [&](std::string_view suffix, std::size_t longer_than) {
    return name.size() > longer_than && name.ends_with(suffix);
  };
  return ends(".H", 2) || ends(".h", 2) || ends(".hp", 3) || ends(".hh", 3) ||
         ends(".hpp", 4) || ends(".hxx", 4) || ends(".h++", 4) ||
         ends(".HPP", 4) || ends(".tcc", 4);
}

decoded_option make_option(std::size_t code, const char* argument,
                           std::int64_t value = 1) {
  decoded_option d{};
  generate_option(code, argument, value, OPTF_DRIVER, d);
  return d;
}

} // namespace

void lang_specific_driver(std::vector<decoded_option>& decoded,
                          int& added_libraries) {
  int library = if_needed;
  bool need_experimental = false;
  bool need_math = true;
  int profiling = 0;
  bool static_link = false;
  bool shared_companion = true;
  std::int64_t which_library = 1;
  bool language_given = false;
  std::vector<std::uint8_t> marks(decoded.size(), 0);

  for (std::size_t i = 1; i < decoded.size(); ++i) {
    const decoded_option& d = decoded[i];
    if (d.errors & DE_MISSING_ARG)
      continue;
    std::string_view arg = d.argument ? d.argument : "";
    switch (d.index) {
    case option_code("-fcontracts"):
      need_experimental = true;
      break;
    case option_code("-nostdlib"):
    case option_code("-nodefaultlibs"):
    case option_code("-r"):
    case option_code("-c"):
    case option_code("-S"):
    case option_code("-E"):
    case option_code("-M"):
    case option_code("-MM"):
    case option_code("-fsyntax-only"):
      library = never_add;
      break;
    case option_code("-nostdlib++"):
      library = never_add;
      marks[i] |= DROP_OPTION;
      break;
    case option_code("-l"):
      if (arg == "m") {
        marks[i] |= IS_MATH_LIB;
        need_math = false;
      } else if (arg == "c") {
        marks[i] |= IS_LIBC;
      } else if (library == if_needed) {
        library = needed;
      }
      break;
    case option_code("-Wl,"):
    case option_code("-Xlinker"):
      if (library == if_needed)
        library = needed;
      break;
    case option_code("-p"):
    case option_code("-pg"):
      ++profiling;
      break;
    case option_code("-x"):
      if (library == if_needed &&
          (arg == "c++" || arg == "c++-cpp-output" || arg == "objective-c++" ||
           arg == "objective-c++-cpp-output"))
        library = needed;
      language_given = true;
      break;
    case option_code("-static"):
      static_link = true;
      break;
    case option_code("-static-libvelk"):
      shared_companion = false;
      break;
    case option_code("-static-libvelkcxx"):
      if (library != never_add)
        library = needed_static;
      marks[i] |= DROP_OPTION;
      break;
    case option_code("-stdlib="):
      which_library = d.value;
      break;
    case OPTION_INPUT_FILE: {
      if (arg.size() <= 1)
        break;
      if (language_given) {
        // Only the first input after -x keeps the language it names.
        language_given = false;
        break;
      }
      const char last = arg.back();
      if (arg.size() > 2 && arg[arg.size() - 2] == '.' &&
          (last == 'c' || last == 'h' || last == 'i'))
        marks[i] |= WRAP_AS_CXX;
      if (library == if_needed && (arg.size() == 2 || !is_header_name(arg)))
        library = needed;
      break;
    }
    default:
      break;
    }
  }

  std::vector<decoded_option> result;
  result.reserve(decoded.size() + 8);
  result.push_back(decoded[0]);
  std::optional<decoded_option> held_math, held_libc;
  for (std::size_t i = 1; i < decoded.size(); ++i) {
    const decoded_option& d = decoded[i];
    if ((marks[i] & IS_MATH_LIB) && library > 0 && !held_math) {
      held_math = d;
      continue;
    }
    if ((marks[i] & IS_LIBC) && library > 0 && !held_libc) {
      held_libc = d;
      continue;
    }
    if (marks[i] & DROP_OPTION)
      continue;
    if (marks[i] & WRAP_AS_CXX) {
      std::string_view name = d.argument;
      const char* language = name.back() == 'h'   ? "c++-header"
                             : name.back() == 'i' ? "c++-cpp-output"
                                                  : "c++";
      result.push_back(make_option(option_code("-x"), language));
      result.push_back(d);
      result.push_back(make_option(option_code("-x"), "none"));
      continue;
    }
    result.push_back(d);
  }

  int added = 0;
  if (library > 0) {
    if (need_experimental && which_library == 1) {
      result.push_back(make_option(option_code("-l"), "velkcxxexp"));
      ++added;
    }
    // The -Wl, pair around the library becomes linker inputs as well, so it
    // counts as added: inputs the hook made up never stand in for the
    // user's.
    const bool bracket_static = library == needed_static && !static_link;
    if (bracket_static) {
      result.push_back(make_option(option_code("-Wl,"), "-Bstatic"));
      ++added;
    }
    if (which_library == 2) {
      result.push_back(make_option(option_code("-l"), "c++"));
      result.push_back(make_option(option_code("-l"), "c++abi"));
      added += 2;
    } else {
      result.push_back(make_option(option_code("-l"), "velkcxx"));
      ++added;
    }
    if (bracket_static) {
      result.push_back(make_option(option_code("-Wl,"), "-Bdynamic"));
      ++added;
    }
  }
  if (held_math) {
    result.push_back(*held_math);
  } else if (library > 0 && need_math) {
    result.push_back(
        make_option(option_code("-l"), profiling > 0 ? "m_p" : "m"));
    ++added;
  }
  if (held_libc)
    result.push_back(*held_libc);
  if (shared_companion && !static_link)
    result.push_back(make_option(option_code("-shared-libvelk"), nullptr));

  decoded = std::move(result);
  added_libraries += added;
}

int lang_specific_pre_link() {
  return 0;
}

} // namespace velk
