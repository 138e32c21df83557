// The make jobserver that the driver may have inherited through MAKEFLAGS.
// Subprocesses that run make themselves (the link-time optimiser) share it;
// when the descriptors or the FIFO MAKEFLAGS names are not usable, the
// "--jobserver-auth=" word must not reach them.
#pragma once

#include <string>

namespace velk {

struct jobserver_info {
  std::string error;             // why the jobserver is not active
  std::string skipped_makeflags; // "MAKEFLAGS=..." without the jobserver
                                 // word; empty unless it must be dropped
  int rfd = -1;                  // read descriptor, -1 when unknown
  int wfd = -1;                  // write descriptor, -1 when unknown
  std::string pipe_path;         // the FIFO of "fifo:" jobservers
  bool is_active = false;
};

// Reads MAKEFLAGS from the environment and checks the jobserver it names.
jobserver_info jobserver_probe();

} // namespace velk
