// Argument files ("response files"): @file arguments on a command line, and
// the files the driver writes to hand long argument lists to its
// subprocesses.
//
// Syntax: white space (blank, tab, newline, vertical tab, form feed,
// carriage return) separates arguments; a backslash makes the next character
// literal, also inside quotes; single and double quotes delimit literal
// sections that join with the unquoted text around them.  The text ends at
// its first NUL byte, since no argument can hold one.
#pragma once

#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velk {

// How many @file arguments one expansion may read (itself included when a
// file names itself) before it gives up.
inline constexpr int max_response_files = 1999;

// Expands @file arguments from args[1] on.  A file that cannot be examined,
// opened or read keeps its argument literally; a file holding only white
// space removes it; otherwise its arguments take its place and are examined
// in turn, so files may name further files.  Returns none when no file was
// read (the caller keeps its own vector), else the new vector.  A directory,
// or more than max_response_files candidates, prints
// "ARGV0: error: ..." on standard error and exits with status 1.
std::optional<std::vector<std::string>>
expand_response_files(std::span<const char* const> args);

// Splits the text of an argument file.  An empty text gives one empty
// argument.
std::vector<std::string> split_arguments(std::string_view text);

// The text that split_arguments turns back into `args`: one argument per
// line, white space, backslashes and quotes escaped with a backslash, an
// empty argument written as "".
std::string format_arguments(std::span<const std::string> args);

// Writes format_arguments(args) to `stream`: 0 on success, 1 on a write
// error or a missing stream.
int write_arguments(std::span<const std::string> args, std::FILE* stream);

// The step at which writing a response file failed.
enum class response_file_failure { none, open, write, close };

// Writes `args` as a response file at `path` (truncating it), for a
// subprocess to read as @path.
response_file_failure write_response_file(const std::string& path,
                                          std::span<const std::string> args);

// Name of the `counter`-th response file kept under -save-temps: the dump
// base when there is one, else the dump directory, else "a", followed by
// ".args." and the counter; the "." is left out after a dump directory that
// ends in its own separator (`trailing_dash`), as in "a-args.0".
std::string saved_response_file_name(std::string_view dump_base,
                                     std::string_view dump_directory,
                                     bool trailing_dash, int counter);

// Set when the user's command line held an @file that was read: the driver
// may then hand arguments grouped by a spec to its subprocesses through
// response files of its own.
bool& response_files_wanted();

} // namespace velk
