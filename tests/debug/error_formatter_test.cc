// Reports of failed checks: each case runs the report in a child process,
// which must abort, and compares what it wrote on standard error.
#include <velk/debug/error_formatter.h>

#include <csignal>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <sys/wait.h>
#include <typeinfo>
#include <unistd.h>

namespace __zeb_demo {
namespace __cxx1998 {
struct vec {};
} // namespace __cxx1998
struct shelf {};
} // namespace __zeb_demo

namespace velk::test {
namespace {

using __zeb_debug::_Error_formatter;

struct report {
  int signal = 0; // the signal that ended the child, 0 if it exited
  std::string text;
};

// Runs `fail` in a child with MERLOX_DEBUG_MESSAGE_LENGTH set to `length`
// (or unset) and collects its standard error.
report report_of(const std::function<void()>& fail,
                 std::optional<std::string> length = std::nullopt) {
  int fds[2];
  if (pipe(fds) != 0)
    return {};
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 2);
    close(fds[0]);
    close(fds[1]);
    if (length)
      setenv("MERLOX_DEBUG_MESSAGE_LENGTH", length->c_str(), 1);
    else
      unsetenv("MERLOX_DEBUG_MESSAGE_LENGTH");
    fail();
    _exit(0);
  }
  close(fds[1]);
  report r;
  char buf[4096];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0)
    r.text.append(buf, n);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  r.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return r;
}

const void* at(std::uintptr_t address) {
  return reinterpret_cast<const void*>(address);
}

// A type description whose name the demangler rejects; the leading '*'
// marks a name that is not to be demangled as is.
struct odd_type : std::type_info {
  explicit odd_type(const char* name) : std::type_info(name) {}
};
const odd_type local_type("*local");

TEST(DebugErrorFormatter, WithoutPositionTheReportStartsWithTheError) {
  report r =
      report_of([] { _Error_formatter(nullptr, 0)._M_message(47)._M_error(); });
  EXPECT_EQ(r.signal, SIGABRT);
  EXPECT_EQ(r.text, "Error: attempt to self move assign.\n");
}

TEST(DebugErrorFormatter, PastTheEndIteratorDereferenced) {
  report r = report_of([] {
    _Error_formatter("vec.h", 42, "void demo(std::__debug::vector<int>&)")
        ._M_iterator(at(0x1000), "it", &typeid(int*),
                     __zeb_debug::__mutable_iterator, __zeb_debug::__end,
                     at(0x2000), &typeid(__zeb_demo::__cxx1998::vec))
        ._M_message(25)
        ._M_error();
  });
  EXPECT_EQ(r.signal, SIGABRT);
  EXPECT_EQ(r.text, "vec.h:42:\n"
                    "In function:\n"
                    "    void demo(std::debug::vector<int>&)\n"
                    "\n"
                    "Error: attempt to dereference a past-the-end iterator.\n"
                    "\n"
                    "Objects involved in the operation:\n"
                    "    iterator \"it\" @ 0x1000 {\n"
                    "      type = int* (mutable iterator);\n"
                    "      state = past-the-end;\n"
                    "      references sequence with type 'zeb_demo::vec' "
                    "@ 0x2000\n"
                    "    }\n");
}

TEST(DebugErrorFormatter, IteratorOfUnknownTypeHasNoTypeLine) {
  report r = report_of([] {
    _Error_formatter("f.h", 0)
        ._M_iterator(at(0x1000), nullptr, nullptr,
                     __zeb_debug::__const_iterator, __zeb_debug::__singular,
                     nullptr, nullptr)
        ._M_message(22)
        ._M_error();
  });
  EXPECT_EQ(r.text, "f.h:\n"
                    "Error: attempt to copy-construct an iterator from a "
                    "singular iterator.\n"
                    "\n"
                    "Objects involved in the operation:\n"
                    "    iterator @ 0x1000 {\n"
                    "      state = singular;\n"
                    "    }\n");
}

TEST(DebugErrorFormatter, SequenceInstanceAndValueTypeDescriptions) {
  report r = report_of([] {
    _Error_formatter(nullptr, 7)
        ._M_integer(3, "n") // not described
        ._M_sequence(at(0x3000), "v", &typeid(__zeb_demo::shelf))
        ._M_instance(at(0x4000), "alloc", nullptr)
        ._M_value_type("T", &local_type)
        ._M_value_type(nullptr, nullptr)
        ._M_message(50)
        ._M_error();
  });
  EXPECT_EQ(r.text, "7:\n"
                    "Error: allocators must be equal.\n"
                    "\n"
                    "Objects involved in the operation:\n"
                    "    sequence \"v\" @ 0x3000 {\n"
                    "      type = zeb_demo::shelf;\n"
                    "    }\n"
                    "    instance \"alloc\" @ 0x4000 {\n"
                    "    }\n"
                    "    iterator::value_type \"T\"  {\n"
                    "      type = local;\n"
                    "    }\n"
                    "    iterator::value_type  {\n"
                    "    }\n");
}

TEST(DebugErrorFormatter, FieldsOfAnIterator) {
  report r = report_of(
      [] {
        _Error_formatter f(nullptr, 0);
        f._M_iterator(at(0x1000), "__it", &typeid(int*),
                      __zeb_debug::__const_iterator, __zeb_debug::__end,
                      at(0x2000), nullptr);
        // A state no header passes prints as unknown.
        f._M_params[0]._M_variant._M_iterator._M_iter_state = 99;
        f._M_text = "%1.name; %1.type; %1.address; %1.constness; %1.state; "
                    "%1.sequence; %1.seq_type;";
        f._M_error();
      },
      "0");
  EXPECT_EQ(r.text.substr(0, r.text.find('\n') + 1),
            "Error: it int* 0x1000 constant <unknown state> 0x2000 "
            "<unknown seq_type>.\n");
}

// The message of number 5 with its index 7 and size 3 is 105 characters
// long.  A line breaks before a word that would reach the limit.
TEST(DebugErrorFormatter, WrapsAtTheLineLimit) {
  const std::string at78 =
      "Error: attempt to subscript container with out-of-bounds index 7, "
      "but \ncontainer only holds 3 elements.\n";
  const std::string at40 = "Error: attempt to subscript container \n"
                           "with out-of-bounds index 7, but \n"
                           "container only holds 3 elements.\n";
  const std::string unwrapped =
      "Error: attempt to subscript container with out-of-bounds index 7, "
      "but container only holds 3 elements.\n";
  const struct {
    std::optional<std::string> length;
    const std::string& expected;
  } cases[] = {
      {std::nullopt, at78}, {"", at78},
      {"abc", at78},        {"40x", at78},
      {"-40", at78},        {"40", at40},
      {"0x28", at40},       {"050", at40},
      {"0", unwrapped},     {"99999999999999999999999", at78},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.length.value_or("(unset)"));
    report r = report_of(
        [] {
          _Error_formatter(nullptr, 0)
              ._M_integer(0, "c")
              ._M_integer(7)
              ._M_integer(3)
              ._M_message(5)
              ._M_error();
        },
        c.length);
    EXPECT_EQ(r.signal, SIGABRT);
    EXPECT_EQ(r.text, c.expected);
  }
}

// With a limit of 5 most words are longer than a line: each goes alone on
// a line, unbroken, and a word of exactly the limit less one ("self ")
// does not make the printer break lines for ever.
TEST(DebugErrorFormatter, WordsLongerThanTheLimitStayWhole) {
  report r = report_of(
      [] { _Error_formatter(nullptr, 0)._M_message(47)._M_error(); }, "5");
  EXPECT_EQ(r.text, "Error: \nattempt \nto \nself \nmove \nassign\n.\n");

  const std::string word(100, 'x');
  r = report_of([&] {
    _Error_formatter(nullptr, 0)
        ._M_integer(0, "first")
        ._M_integer(0, "last")
        ._M_string(word.c_str())
        ._M_message(7)
        ._M_error();
  });
  EXPECT_EQ(r.text, "Error: elements in iterator range [first, last) are not "
                    "partitioned by the \nvalue \n" +
                        word + "\n.\n");
}

TEST(DebugErrorFormatter, StringParametersResolveReferencesAndPercent) {
  report r = report_of([] {
    _Error_formatter(nullptr, 0)
        ._M_integer(0, "first")
        ._M_integer(0, "last")
        ._M_string("100%% %1.name;")
        ._M_message(7)
        ._M_error();
  });
  EXPECT_EQ(r.text, "Error: elements in iterator range [first, last) are not "
                    "partitioned by the \nvalue 100% first.\n");

  // A string that refers to itself prints its own text once.
  r = report_of([] {
    _Error_formatter f(nullptr, 0);
    f._M_string("a%1;b");
    f._M_text = "%1; is %%1;";
    f._M_error();
  });
  EXPECT_EQ(r.text, "Error: ab is %1;.\n");
}

TEST(DebugErrorFormatter, FunctionNamesWrapIndentedAndKeepPercentSigns) {
  report r = report_of(
      [] {
        _Error_formatter(
            nullptr, 0,
            "__zeb_demo::__cxx1998::vec __zeb_demo::operator%(const "
            "__zeb_demo::__cxx1998::vec&, const "
            "__zeb_demo::__cxx1998::vec&) [with T = int]")
            ._M_message(49)
            ._M_error();
      },
      "40");
  // Pieces between the removed underscores are split separately, so a
  // line may also break inside a name.
  EXPECT_EQ(r.text, "In function:\n"
                    "    zeb_demo::vec \n"
                    "    zeb_demo::operator%(const \n"
                    "    zeb_demo::vec&, const zeb_demo::\n"
                    "    vec&) [with T = int]\n"
                    "\n"
                    "Error: load factor shall be positive.\n");
}

// Malformed messages and parameters fail an assertion, which aborts.
TEST(DebugErrorFormatter, MalformedReferencesFailAnAssertion) {
  const char* const texts[] = {
      "%0;",
      "%2;",
      "%1x",
      "%1.name",
      "%1.nosuchfield;",
      "%1.abcdefghijklmnop;",
      "trailing %",
      "%1.state;",
      "%1.sequence;",
  };
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    report r = report_of([text] {
      _Error_formatter f(nullptr, 0);
      f._M_integer(1, nullptr);
      f._M_text = text;
      f._M_error();
    });
    EXPECT_EQ(r.signal, SIGABRT);
    EXPECT_NE(r.text.find("Assertion"), std::string::npos) << r.text;
  }

  // No text (an unknown message number), a name asked of a nameless
  // parameter, a parameter never filled in.
  const std::function<void()> failures[] = {
      [] { _Error_formatter(nullptr, 0)._M_message(53)._M_error(); },
      [] {
        _Error_formatter(nullptr, 0)._M_integer(1)._M_message(0)._M_error();
      },
      [] {
        _Error_formatter f(nullptr, 0);
        f._M_param_count = 1;
        f._M_text = "%1;";
        f._M_error();
      },
  };
  for (const auto& fail : failures) {
    report r = report_of(fail);
    EXPECT_EQ(r.signal, SIGABRT);
    EXPECT_NE(r.text.find("Assertion"), std::string::npos) << r.text;
  }
}

TEST(DebugErrorFormatter, ParametersPastTheNinthAreDropped) {
  _Error_formatter f(nullptr, 0);
  for (int i = 0; i < 12; ++i)
    f._M_integer(i);
  EXPECT_EQ(f._M_param_count, 9u);
  EXPECT_EQ(f._M_params[8]._M_variant._M_integer._M_int_value, 8);
}

TEST(DebugErrorFormatter, RetainedOperationsDoNothing) {
  report r = report_of([] {
    _Error_formatter f(nullptr, 0);
    f._M_integer(1, "n");
    char buf[8] = "";
    f._M_print_word("word");
    f._M_print_string("%1;");
    f._M_get_max_length();
    f._M_format_word(buf, sizeof buf, "%s", "s");
    f._M_format_word(buf, sizeof buf, "%p", static_cast<const void*>(buf));
    f._M_format_word(buf, sizeof buf, "%ld", -1L);
    f._M_format_word(buf, sizeof buf, "%lu", 1UL);
    f._M_params[0]._M_print_field(&f, "name");
    f._M_params[0]._M_print_description(&f);
    if (buf[0] == '\0')
      std::abort();
  });
  EXPECT_EQ(r.signal, SIGABRT);
  EXPECT_EQ(r.text, "");
}

} // namespace
} // namespace velk::test
