#include "options/jobserver.h"

#include <charconv>
#include <cstdlib>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>

namespace velk {

namespace {

// Reads "R,W": two decimal numbers separated by a comma; what follows them
// does not matter.
bool parse_descriptors(std::string_view text, int& rfd, int& wfd) {
  const char* const end = text.data() + text.size();
  auto first = std::from_chars(text.data(), end, rfd);
  if (first.ec != std::errc() || first.ptr == end || *first.ptr != ',')
    return false;
  auto second = std::from_chars(first.ptr + 1, end, wfd);
  return second.ec == std::errc();
}

bool descriptor_open(int fd) {
  return fcntl(fd, F_GETFD) != -1;
}

} // namespace

jobserver_info jobserver_probe() {
  jobserver_info info;
  const char* makeflags = std::getenv("MAKEFLAGS");
  if (makeflags == nullptr) {
    info.error = "MAKEFLAGS environment variable is unknown";
    return info;
  }
  const std::string_view flags(makeflags);
  constexpr std::string_view auth = "--jobserver-auth=";
  const std::size_t position = flags.rfind(auth);
  if (position == std::string_view::npos) {
    info.error = "no jobserver found in MAKEFLAGS";
    return info;
  }

  const std::string_view setting = flags.substr(position + auth.size());
  constexpr std::string_view fifo = "fifo:";
  if (setting.starts_with(fifo)) {
    const std::string_view rest = setting.substr(fifo.size());
    const std::string path(rest.substr(0, rest.find(' ')));
    // A FIFO that is gone cannot be shared: treat it like closed
    // descriptors.
    struct stat status;
    if (stat(path.c_str(), &status) == 0 && S_ISFIFO(status.st_mode)) {
      info.pipe_path = path;
      info.is_active = true;
      return info;
    }
    info.error = "cannot access the jobserver FIFO " + path;
  } else {
    int rfd = -1;
    int wfd = -1;
    if (parse_descriptors(setting, rfd, wfd) && rfd > 0 && wfd > 0 &&
        descriptor_open(rfd) && descriptor_open(wfd)) {
      info.rfd = rfd;
      info.wfd = wfd;
      info.is_active = true;
      return info;
    }
    info.error = "cannot access the jobserver descriptors";
  }

  // Drop exactly the word that begins with "--jobserver-auth=".
  info.skipped_makeflags = "MAKEFLAGS=";
  info.skipped_makeflags += flags.substr(0, position);
  const std::size_t blank = flags.find(' ', position);
  if (blank != std::string_view::npos)
    info.skipped_makeflags += flags.substr(blank);
  return info;
}

} // namespace velk
