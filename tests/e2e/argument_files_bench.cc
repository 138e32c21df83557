// Benchmark, not a test: the cost of 100,000 arguments given to velk++
// through an @file, beyond that of an ordinary run.
//
//   argument_files_bench [velk++ [arguments [runs]]]
//
// Runs "velk++ -### -c hello.cc" and "velk++ -### -c hello.cc @big" in
// a temporary directory and prints the mean wall time of each and the
// extra time per argument.
#include "support/pipeline.h"
#include "support/temp_names.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

double run_ms(const std::string& driver, const std::vector<std::string>& args,
              int runs) {
  double total = 0;
  for (int i = 0; i < runs; ++i) {
    int status = 0, error = 0;
    auto start = std::chrono::steady_clock::now();
    const char* failure =
        velk::pex_one(0, driver.c_str(), args, "bench", "/dev/null",
                      "/dev/null", status, error);
    auto end = std::chrono::steady_clock::now();
    if (failure != nullptr || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      std::fprintf(stderr, "bench: %s failed (%s, status %d)\n", driver.c_str(),
                   failure ? failure : "ran", status);
      std::exit(1);
    }
    total += std::chrono::duration<double, std::milli>(end - start).count();
  }
  return total / runs;
}

} // namespace

int main(int argc, char** argv) {
  std::string driver =
      argc > 1 ? argv[1] : std::string(VELK_TEST_STAGE) + "/bin/velk++";
  int count = argc > 2 ? std::atoi(argv[2]) : 100000;
  int runs = argc > 3 ? std::atoi(argv[3]) : 5;

  std::string dir = velk::temp_directory() + "velk-bench-XXXXXX";
  if (mkdtemp(dir.data()) == nullptr || chdir(dir.c_str()) != 0) {
    std::perror("bench");
    return 1;
  }
  std::ofstream("hello.cc") << "int main() {}\n";
  {
    std::ofstream big("big");
    for (int i = 0; i < count; ++i)
      big << "-DNAME" << i << "='a value'\n";
  }
  std::vector<std::string> plain = {"velk++", "-###", "-c", "hello.cc"};
  std::vector<std::string> with_file = plain;
  with_file.push_back("@big");

  run_ms(driver, plain, 1); // warm the caches
  double base = run_ms(driver, plain, runs);
  double big = run_ms(driver, with_file, runs);
  std::printf("ordinary run:        %8.2f ms\n", base);
  std::printf("with %d args: %8.2f ms\n", count, big);
  std::printf("extra per argument:  %8.3f us\n", (big - base) * 1000.0 / count);
  unlink("big");
  unlink("hello.cc");
  rmdir(dir.c_str());
  return 0;
}
