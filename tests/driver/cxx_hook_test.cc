#include "driver/cxx_hook.h"

#include "options/decode.h"
#include "options/option_codes.h"

#include <deque>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace velk {
namespace {

// Decodes a command line as the driver does; the token "@stdlib=libc++"
// stands for a -stdlib= option selecting the other C++ library, which the
// command line of this configuration cannot spell.
std::vector<decoded_option> decode(const std::vector<std::string>& args) {
  // Decoded records borrow the argument texts, as they borrow a program's
  // argv: keep every case's texts alive.
  static std::deque<std::vector<std::string>> kept;
  std::vector<std::string>& plain = kept.emplace_back();
  plain.push_back("velk++");
  bool other_stdlib = false;
  for (const std::string& a : args) {
    if (a == "@stdlib=libc++")
      other_stdlib = true;
    else
      plain.push_back(a);
  }
  std::vector<const char*> argv;
  for (const std::string& a : plain)
    argv.push_back(a.c_str());
  argv.push_back(nullptr);
  std::vector<decoded_option> decoded = decode_argument_list(
      static_cast<int>(plain.size()), argv.data(), OPTF_DRIVER);
  if (other_stdlib) {
    decoded_option d{};
    // The table gives -stdlib= no joined argument, so the record carries
    // the library in its value alone.
    generate_option(option_code("-stdlib="), nullptr, 2, OPTF_DRIVER, d);
    decoded.insert(decoded.begin() + 1, d);
  }
  return decoded;
}

// The options after the program name, each as its canonical elements.
std::string render(const std::vector<decoded_option>& decoded) {
  std::string out;
  for (std::size_t i = 1; i < decoded.size(); ++i) {
    for (std::size_t j = 0; j < decoded[i].canonical_count; ++j) {
      if (!out.empty())
        out += ' ';
      out += decoded[i].canonical[j];
    }
  }
  return out;
}

TEST(CxxHook, RewritesTheCommandLine) {
  struct {
    std::vector<std::string> args;
    std::string expected;
    int added;
  } cases[] = {
      {{}, "-shared-libvelk", 0},
      {{"foo.c"}, "-x c++ foo.c -x none -l velkcxx -l m -shared-libvelk", 2},
      {{"-c", "foo.cc"}, "-c foo.cc -shared-libvelk", 0},
      {{"-c", "foo.c"}, "-c -x c++ foo.c -x none -shared-libvelk", 0},
      {{"foo.o", "-lm"}, "foo.o -l velkcxx -l m -shared-libvelk", 1},
      {{"foo.o", "-lc", "-lm"},
       "foo.o -l velkcxx -l m -l c -shared-libvelk",
       1},
      {{"-static-libvelkcxx", "foo.o"},
       "foo.o -Wl,-Bstatic -l velkcxx -Wl,-Bdynamic -l m -shared-libvelk",
       4},
      {{"-static-libvelkcxx", "-static", "foo.o"},
       "-static foo.o -l velkcxx -l m",
       2},
      {{"@stdlib=libc++", "foo.o"},
       "-stdlib= foo.o -l c++ -l c++abi -l m -shared-libvelk",
       3},
      {{"@stdlib=libc++", "-fcontracts", "foo.o"},
       "-stdlib= -fcontracts foo.o -l c++ -l c++abi -l m "
       "-shared-libvelk",
       3},
      {{"-fcontracts", "foo.o"},
       "-fcontracts foo.o -l velkcxxexp -l velkcxx -l m -shared-libvelk",
       3},
      {{"-pg", "foo.o"}, "-pg foo.o -l velkcxx -l m_p -shared-libvelk", 2},
      {{"x.h"}, "-x c++-header x.h -x none -shared-libvelk", 0},
      {{"y.i"},
       "-x c++-cpp-output y.i -x none -l velkcxx -l m -shared-libvelk",
       2},
      {{"-x", "c", "a.c", "b.c"},
       "-x c a.c -x c++ b.c -x none -l velkcxx -l m -shared-libvelk",
       2},
      {{"-nostdlib++", "foo.o"}, "foo.o -shared-libvelk", 0},
      {{".c"}, ".c -l velkcxx -l m -shared-libvelk", 2},
      {{"-static-libvelk", "foo.o"},
       "-static-libvelk foo.o -l velkcxx -l m",
       2},
      {{"foo.o", "-Wl,-v"}, "foo.o -Wl,-v -l velkcxx -l m -shared-libvelk", 2},
      {{"-o"}, "-o -shared-libvelk", 0}, // missing argument: skipped
  };
  for (const auto& c : cases) {
    std::string joined;
    for (const std::string& a : c.args)
      joined += a + " ";
    SCOPED_TRACE(joined);
    std::vector<decoded_option> decoded = decode(c.args);
    int added = 5;
    lang_specific_driver(decoded, added);
    EXPECT_EQ(decoded[0].index, OPTION_PROGRAM_NAME);
    EXPECT_EQ(render(decoded), c.expected);
    EXPECT_EQ(added, 5 + c.added);
  }
}

} // namespace
} // namespace velk
