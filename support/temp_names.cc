#include "support/temp_names.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace velk {

const std::string& temp_directory() {
  static const std::string directory = [] {
    const char* tmpdir = std::getenv("TMPDIR");
    std::string dir = tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp";
    if (!dir.ends_with('/'))
      dir += '/';
    return dir;
  }();
  return directory;
}

std::string make_temp_name(std::string_view suffix) {
  std::string name = temp_directory() + "ccXXXXXX" + std::string(suffix);
  // mkstemps creates the file with mode 0600.
  int fd = mkstemps(name.data(), static_cast<int>(suffix.size()));
  if (fd < 0) {
    std::fprintf(stderr, "Cannot create temporary file in %s: %s\n",
                 temp_directory().c_str(), std::strerror(errno));
    std::abort();
  }
  if (close(fd) != 0)
    std::abort();
  return name;
}

} // namespace velk
