// The installed bash completion of velk++, run by bash itself: it is
// registered for velk++, and its function, called as bash calls it (with
// COMP_WORDS and COMP_CWORD), offers what velk++ --completion= lists.
#include "tests/e2e/harness.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace velk::test {
namespace {

// A word of bash's own syntax: single-quoted.
std::string quoted(const std::string& word) {
  std::string out = "'";
  for (char c : word)
    out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

class Completion : public ::testing::Test {
protected:
  // Runs `commands` in bash with the installed script loaded and velk++ on
  // PATH.
  run_result bash(const std::string& commands) {
    std::string script =
        "source " +
        quoted(box.prefix() + "/share/bash-completion/completions/velk++") +
        " || exit 99\n" + commands;
    return box.run({"--norc", "--noprofile", "-c", script},
                   {.env = {{"PATH", box.prefix() + "/bin:/usr/bin:/bin"}},
                    .program = VELK_BASH});
  }

  // The completions offered for the command line `words` when the cursor
  // is in word `cword`.
  std::vector<std::string> complete(const std::vector<std::string>& words,
                                    int cword) {
    std::string commands = "COMP_WORDS=(";
    for (const std::string& w : words)
      commands += " " + quoted(w);
    commands += " )\nCOMP_CWORD=" + std::to_string(cword) +
                "\n_velk_driver velk++ " + quoted(words[cword]) +
                "\nprintf '%s\\n' \"${COMPREPLY[@]}\"\n";
    run_result r = bash(commands);
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    std::vector<std::string> lines;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);)
      if (!line.empty())
        lines.push_back(line);
    return lines;
  }
  std::vector<std::string> complete(const std::vector<std::string>& words) {
    return complete(words, static_cast<int>(words.size()) - 1);
  }

  sandbox box;
};

using lines = std::vector<std::string>;

TEST_F(Completion, IsRegisteredForVelk) {
  run_result r = bash("complete -p velk++");
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.out,
            "complete -o bashdefault -o default -F _velk_driver velk++\n");
}

TEST_F(Completion, OptionPrefixes) {
  EXPECT_EQ(complete({"velk++", "-fno-rt"}), lines{"-fno-rtti"});
  EXPECT_EQ(complete({"velk++", "-fdiagnostics-colo"}),
            (lines{"-fdiagnostics-color", "-fdiagnostics-color=always",
                   "-fdiagnostics-color=auto", "-fdiagnostics-color=never",
                   "-fdiagnostics-color="}));
  // The word under the cursor, not the last one.
  EXPECT_EQ(complete({"velk++", "-fno-rt", "-O2", "a.cc"}, 1),
            lines{"-fno-rtti"});
}

// Bash splits words at '=': the option is put back together, and what
// replaces the word after '=' is the rest of each spelling.
TEST_F(Completion, PrefixesWithEquals) {
  EXPECT_EQ(complete({"velk++", "-fdiagnostics-color", "=", "a"}),
            (lines{"always", "auto"}));
  EXPECT_EQ(complete({"velk++", "-fdiagnostics-color", "="}),
            (lines{"always", "auto", "never"}));
  EXPECT_EQ(complete({"velk++", "-O2", "-fsanitize", "=", "add"}),
            lines{"address"});
  EXPECT_EQ(complete({"velk++", "--param", "=", "max-inline-insns-a"}),
            lines{"max-inline-insns-auto="});
}

TEST_F(Completion, NonOptionsAndUnknownPrefixesOfferNothing) {
  EXPECT_EQ(complete({"velk++", "hello.c"}), lines{});
  EXPECT_EQ(complete({"velk++", ""}), lines{});
  EXPECT_EQ(complete({"velk++", "-fno-such-option"}), lines{});
}

// Spellings with a blank ("--param NAME=") cannot be one word.
TEST_F(Completion, SpellingsWithBlanksAreLeftOut) {
  lines offered = complete({"velk++", "--param"});
  EXPECT_GT(offered.size(), 100u);
  for (const std::string& s : offered)
    EXPECT_EQ(s.find(' '), std::string::npos) << s;
  EXPECT_NE(std::find(offered.begin(), offered.end(),
                      "--param=max-inline-insns-auto="),
            offered.end());
}

} // namespace
} // namespace velk::test
