#include "support/temp_names.h"

#include "support/temp_files.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace velk {

namespace {

bool usable_directory(const char* dir) {
  if (dir == nullptr || access(dir, R_OK | W_OK | X_OK) != 0)
    return false;
  struct stat st;
  return stat(dir, &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

std::string find_temp_directory() {
  const char* candidates[] = {std::getenv("TMPDIR"),
                              std::getenv("TMP"),
                              std::getenv("TEMP"),
                              "/tmp/",
                              "/var/tmp",
                              "/tmp"};
  for (const char* dir : candidates)
    if (usable_directory(dir))
      return std::string(dir) + "/";
  return "./";
}

namespace {

// Ends the process as a crash would, but without leaving the files of the
// clean-up lists behind: abort skips the exit handlers that delete them.
[[noreturn]] void abort_without_debris() {
  remove_files_at_exit();
  std::abort();
}

// A 64-bit mixer (splitmix64): consecutive inputs give unrelated outputs.
std::uint64_t mix(std::uint64_t x) {
  x += 0x9e3779b97f4a7c15ULL;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
}

// Six characters that no earlier call of this process has produced from the
// same state: a counter mixed with a seed drawn once from the clock and the
// process id.  Exclusive creation, not the randomness, is what makes a name
// safe; the randomness only makes collisions (and retries) rare.
std::string random_letters() {
  static constexpr char letters[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  static std::uint64_t seed = [] {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return mix(static_cast<std::uint64_t>(ts.tv_nsec) ^
               (static_cast<std::uint64_t>(ts.tv_sec) << 20) ^
               (static_cast<std::uint64_t>(getpid()) << 40));
  }();
  static std::uint64_t counter = 0;
  std::uint64_t value = mix(seed + ++counter);
  std::string out(6, 'X');
  for (char& c : out) {
    c = letters[value % 62];
    value /= 62;
  }
  return out;
}

} // namespace

const std::string& temp_directory() {
  static const std::string dir = find_temp_directory();
  return dir;
}

bool create_new_file(const std::string& name) {
  // O_EXCL with O_CREAT fails on any existing entry, a dangling symbolic
  // link included, so the file is always new and always ours.
  int fd = open(name.c_str(),
                O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0)
    return false;
  if (close(fd) != 0)
    abort_without_debris();
  return true;
}

std::optional<std::string> create_unique_file(std::string_view head,
                                              std::string_view tail) {
  constexpr int attempts = 1000;
  for (int i = 0; i < attempts; ++i) {
    std::string name;
    name.reserve(head.size() + 6 + tail.size());
    name.append(head).append(random_letters()).append(tail);
    if (create_new_file(name))
      return name;
    if (errno != EEXIST)
      return std::nullopt;
  }
  errno = EEXIST;
  return std::nullopt;
}

std::string make_temp_name(std::string_view suffix) {
  const std::string& dir = temp_directory();
  std::optional<std::string> name = create_unique_file(dir + "cc", suffix);
  if (!name) {
    std::string reason = error_text(errno);
    std::fprintf(stderr, "Cannot create temporary file in %s: %s\n",
                 dir.c_str(), reason.c_str());
    abort_without_debris();
  }
  return *name;
}

namespace {
system_text_hook the_system_text_hook = nullptr;
} // namespace

void set_system_text_hook(system_text_hook hook) {
  the_system_text_hook = hook;
}

void prepare_system_text() {
  if (the_system_text_hook != nullptr)
    the_system_text_hook();
}

std::string error_text(int error) {
  prepare_system_text();
  // strerror gives "Unknown error N" for numbers the system does not know;
  // those are the undocumented ones.
  const char* text = std::strerror(error);
  if (text == nullptr || std::strncmp(text, "Unknown error", 13) == 0)
    return "undocumented error #" + std::to_string(error);
  return text;
}

} // namespace velk
