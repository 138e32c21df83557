// The one path through which the driver reads and writes its environment,
// which its subprocesses inherit.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velk {

class env_manager {
public:
  // `restorable`: remember previous values so that restore() can undo the
  // changes.  `tracing`: a line on standard error for every call.
  void init(bool restorable, bool tracing);

  std::optional<std::string> getenv(std::string_view name) const;

  // Puts "NAME=VALUE" into the environment.  With `verbose` set (-v), the
  // string is echoed on standard error through the notice hook, with its
  // unprintable bytes escaped.
  void xput(std::string_view assignment);

  // Undoes every xput since init(); only in restorable mode.
  void restore();

  void set_verbose(bool verbose) { verbose_ = verbose; }
  // How -v shows an exported variable; standard error by default.
  using notice_hook = void (*)(std::string_view line);
  void set_notice_hook(notice_hook hook) { notice_ = hook; }

private:
  bool restorable_ = false;
  bool tracing_ = false;
  bool verbose_ = false;
  notice_hook notice_ = nullptr;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// The environment manager of this process.
env_manager& environment();

} // namespace velk
