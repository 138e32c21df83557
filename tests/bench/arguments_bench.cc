// Cost of the command-line work that grows with the number of arguments:
// search-list insertion for -B and COMPILER_PATH, the removal of "/../"
// pieces from one -B path, and the hint for each unrecognised option.  For
// 1k, 10k and 100k arguments it prints the total time and the time per
// argument, which stays flat while the growth is linear.
//
// Built with the tests, never run by ctest: `build/default/tests/bench/
// velk_arguments_bench` (a few minutes for the 100k hints; a count given as
// argument replaces the three).
#include "options/suggestions.h"
#include "specs/search_paths.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace velk {
namespace {

using clock_type = std::chrono::steady_clock;

template <typename Work>
void measure(const char* what, std::size_t count, Work work) {
  clock_type::time_point start = clock_type::now();
  work();
  double ms =
      std::chrono::duration<double, std::milli>(clock_type::now() - start)
          .count();
  std::printf("%-34s %7zu: %10.2f ms, %8.3f us per argument\n", what, count, ms,
              1000 * ms / static_cast<double>(count));
}

// The standard prefixes the driver puts on its lists besides the user's.
void add_standard_prefixes(search_lists& lists) {
  add_search_prefix(lists.exec, "/usr/local/brae13/libexec/velk/", "", 1, 1,
                    false);
  add_search_prefix(lists.exec, "/usr/local/brae13/lib/velk/", "", 1, 2, false);
  add_search_prefix(lists.startfile, "/usr/local/brae13/lib/velk/", "", 1, 1,
                    false);
}

void bench_b_options(std::size_t count) {
  measure("-B/b/N (into three lists)", count, [count] {
    search_lists lists;
    add_standard_prefixes(lists);
    for (std::size_t i = 0; i < count; ++i) {
      std::string dir = "/b/" + std::to_string(i) + "/";
      add_search_prefix(lists.exec, dir, "", 0, 0, false);
      add_search_prefix(lists.startfile, dir, "", 0, 0, false);
      add_search_prefix(lists.include, dir, "", 0, 0, false);
    }
    if (lists.exec.entries().size() != count + 2)
      std::abort();
  });
}

void bench_b_after_compiler_path(std::size_t count) {
  measure("-B after as many COMPILER_PATH", count, [count] {
    search_lists lists;
    for (std::size_t i = 0; i < count; ++i) {
      add_search_prefix(lists.exec, "./", "", 1, 0, false);
      add_search_prefix(lists.include, "./", "", 1, 0, false);
    }
    add_standard_prefixes(lists);
    for (std::size_t i = 0; i < count; ++i) {
      std::string dir = "/b/" + std::to_string(i) + "/";
      add_search_prefix(lists.exec, dir, "", 0, 0, false);
      add_search_prefix(lists.include, dir, "", 0, 0, false);
    }
    if (lists.exec.entries().front().prefix != "/b/0/")
      std::abort();
  });
}

void bench_dot_dot(std::size_t count) {
  std::string path = "/nonexistent";
  for (std::size_t i = 0; i < count; ++i)
    path += "/x/..";
  path += "/";
  measure("one -B path of N \"x/../\" pieces", count, [&] {
    if (normalize_prefix(path, "") != "/nonexistent/")
      std::abort();
  });
}

void bench_unknown_options(std::size_t count) {
  option_suggestions(); // the list is built once per run
  std::vector<std::string> names;
  for (std::size_t i = 0; i < count; ++i)
    names.push_back((i % 2 ? "Wunused-frobnicated-" : "fno-frobnicate-") +
                    std::to_string(i));
  measure("unrecognised options (hints)", count, [&] {
    std::size_t hints = 0;
    for (const std::string& name : names)
      hints += suggest_option(name).has_value();
    if (hints > count)
      std::abort();
  });
}

} // namespace
} // namespace velk

int main(int argc, char** argv) {
  std::vector<std::size_t> counts = {1000, 10000, 100000};
  if (argc > 1)
    counts = {static_cast<std::size_t>(std::strtoul(argv[1], nullptr, 10))};
  for (std::size_t n : counts)
    velk::bench_b_options(n);
  for (std::size_t n : counts)
    velk::bench_b_after_compiler_path(n);
  for (std::size_t n : counts)
    velk::bench_dot_dot(n);
  for (std::size_t n : counts)
    velk::bench_unknown_options(n);
  return 0;
}
