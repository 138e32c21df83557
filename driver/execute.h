// Execution of a command group: the argument vector the spec interpreter
// built, in which a lone "|" separates the commands of a pipeline.
#pragma once

#include <string>
#include <vector>

namespace velk {

// Runs the group (under -### only shows it).  Returns 0 when every command
// succeeded (or nothing ran), -1 when one failed.
int execute(const std::vector<std::string>& argument_vector);

// The lines -v and -### show for the group, one per command; `quote`
// (-###) puts in double quotes every argument that holds anything but
// letters, digits, "_", "/", "-" and ".".
std::string command_group_echo(const std::vector<std::string>& argument_vector,
                               bool quote);

} // namespace velk
