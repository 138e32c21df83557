// The informational queries: what the driver reports about itself (its
// version, configuration, search directories, where it finds a file or a
// program, the multilib choice, its help) after the specs are set up and
// before any input is handled.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velk {

// Answers the queries of the command line in their fixed order.  Returns
// the exit status when the run ends here (0, or 1 when standard output
// could not be written), none when it goes on.
std::optional<int> report_and_maybe_exit();

// The configuration banner -v prints on standard error: target, configure
// line, thread model, compression algorithms and the version line (which
// says so when the compiler driven is of another version than the driver,
// going by the `version` spec).
std::string configuration_banner();

// The driver's --help text, for the program called `program`; `verbose`
// (-v) drops the hint about -v --help.
std::string help_text(std::string_view program, bool verbose);

// Where to report bugs, after the subprocesses' help: the closing lines of
// a --help run.
std::string bug_report_lines();

} // namespace velk
