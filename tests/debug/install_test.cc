// The installed header and archive: a user program built against them in a
// fresh prefix links, and reports a violation on standard error.
#include "tests/e2e/harness.h"

#include <csignal>
#include <gtest/gtest.h>
#include <sstream>

namespace velk::test {
namespace {

constexpr const char* user_program = R"(#include <velk/debug/error_formatter.h>
#include <velk/debug/safe_base.h>

#include <typeinfo>

using namespace __zeb_debug;

struct checked_vector : _Safe_sequence_base {
  void clear() { ++_M_generation; }
};

struct checked_iterator : _Safe_iterator_base {
  explicit checked_iterator(const checked_vector& v)
      : _Safe_iterator_base(&v, false) {}
  int operator*() const {
    if (_M_singular())
      _Error_formatter(__FILE__, __LINE__, "int checked_iterator::operator*() const")
          ._M_iterator(this, "this", &typeid(*this), __mutable_iterator,
                       __singular, _M_owner, &typeid(checked_vector))
          ._M_message(25)
          ._M_error();
    return 0;
  }
};

int main() {
  checked_vector v;
  checked_iterator it(v);
  v.clear();
  return *it;
}
)";

TEST(InstalledDebugModule, UserProgramLinksAndReportsAViolation) {
  sandbox box;
  box.write_file("user.cc", user_program);
  std::vector<std::string> args = {"-std=c++17",
                                   "-I" + box.prefix() + "/include"};
  // The archive is built with the build's flags (sanitizers included).
  std::istringstream flags(VELK_TEST_CXX_FLAGS);
  for (std::string flag; flags >> flag;)
    args.push_back(flag);
  for (const char* a : {"user.cc", "-o", "user"})
    args.push_back(a);
  args.push_back("-L" + box.prefix() + "/lib");
  args.push_back("-lvelk_debug");
  args.push_back("-pthread");
  run_result cc = box.run(args, {.program = VELK_TEST_CXX});
  ASSERT_EQ(cc.exit_status, 0) << cc.err;

  run_result r = box.run({}, {.program = box.work() + "/user"});
  EXPECT_EQ(r.term_signal, SIGABRT);
  EXPECT_EQ(r.err.rfind("user.cc:17:\nIn function:\n"
                        "    int checked_iterator::operator*() const\n\n"
                        "Error: attempt to dereference a singular iterator.\n",
                        0),
            0u)
      << r.err;
  EXPECT_NE(r.err.find("      state = singular;\n"
                       "      references sequence with type "
                       "'checked_vector' @ 0x"),
            std::string::npos)
      << r.err;
}

} // namespace
} // namespace velk::test
