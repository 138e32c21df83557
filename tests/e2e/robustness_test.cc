// Command lines assembled at random from every option spelling and a set of
// awkward arguments: whatever they say, velk++ reports and ends with status
// 0 or 1, never crashes, never reports an internal error.
#include "tests/e2e/harness.h"

#include "options/option_table.h"

#include <gtest/gtest.h>
#include <random>

namespace velk::test {
namespace {

TEST(Robustness, RandomCommandLinesEndCleanly) {
  const std::vector<std::string> awkward = {
      "",   "-",     "--",   "x.c",   "a.o",  "=",
      ",",  "no-",   "\xff", "\x1b[", "0x10", "99999999999999999999",
      "-1", "c++",   "none", "'",     "%s%n", "/dev/null",
      " ",  "always"};
  std::mt19937 random(20261210);
  auto pick = [&](std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
  };
  sandbox box;
  for (int round = 0; round < 300; ++round) {
    std::vector<std::string> args;
    std::size_t count = pick(8);
    for (std::size_t i = 0; i < count; ++i) {
      if (pick(10) < 6) {
        std::string text(option_table[pick(option_count)].text);
        if (text.ends_with("=") || pick(3) == 0)
          text += awkward[pick(awkward.size())];
        args.push_back(text);
      } else {
        args.push_back(awkward[pick(awkward.size())] +
                       awkward[pick(awkward.size())]);
      }
    }
    run_result r = box.run(args);
    std::string line;
    for (const std::string& a : args)
      line += "[" + a + "]";
    ASSERT_EQ(r.term_signal, 0) << line;
    ASSERT_TRUE(r.exit_status == 0 || r.exit_status == 1) << line << "\n"
                                                          << r.err;
    ASSERT_EQ(r.err.find("internal compiler error"), std::string::npos)
        << line << "\n"
        << r.err;
    ASSERT_EQ(r.err.find('\x1b'), std::string::npos) << line;
  }
}

} // namespace
} // namespace velk::test
