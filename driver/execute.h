// Execution of a command group: the argument vector the spec interpreter
// built, in which a lone "|" separates the commands of a pipeline.  The
// group runs as one pipeline of child processes, and the way each child
// ended feeds the driver's counters.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velk {

// Runs the group (under -### only shows it).  Returns 0 when every command
// ended with status 0 (or nothing ran), -1 when one failed.  A program that
// cannot be started, or one killed by SIGINT, SIGQUIT, SIGKILL or SIGTERM,
// ends the run with a fatal error; one killed by any other signal but
// SIGPIPE ends it with an internal error.
int execute(const std::vector<std::string>& argument_vector);

// The lines -v and -### show for the group, one per command, every command
// but the last ending in " |".  `quote` (-###) puts in double quotes every
// argument that holds anything but letters, digits, "_", "/", "-" and ".".
// Control bytes never reach the terminal: they are shown as octal escapes.
std::string command_group_echo(const std::vector<std::string>& argument_vector,
                               bool quote);

// Puts the comma-separated pieces of a -wrapper text in front of
// `arguments`: the first piece is the program that runs, the rest its first
// arguments.
void insert_wrapper(std::vector<std::string>& arguments,
                    std::string_view wrapper);

// Reproduces the crash of a compiler proper for -freport-bug: runs it again
// with its output on standard output and, when it crashes the same way
// three times, leaves its messages and preprocessed input in a report file
// in the temporary directory and says so.  `arguments` are the crashed
// command's, program first.
void retry_crashed_compiler(const std::vector<std::string>& arguments);

} // namespace velk
