// Spec files: text files of spec definitions read at start-up (the
// install-time "specs" files, the files of -specs=) or by %:include and
// %include, and the -dumpspecs text, which is in the same format.
//
// A file is a sequence of entries separated by white space and "#"
// comments.  An entry is a definition "NAME:" followed by its text, which
// runs to the next empty line: "*NAME" defines or replaces a named spec (a
// text beginning with "+" and a blank is appended), "*link_command" the
// link command, and any other name adds a compilers-table row for that
// suffix.  Outside main files, "%include <FILE>", "%include_noerr <FILE>"
// and "%rename OLD NEW" are directives.
#pragma once

#include <string>
#include <string_view>

namespace velk {

// Reads the file at `path` and applies its entries.  In a `main` file
// directives are not recognised; definitions from a `user` file carry the
// user flag.  A file that cannot be read, and any malformed entry, is a
// fatal error; entries before a malformed one stay applied.
void read_spec_file(const std::string& path, bool main, bool user);

// Applies the entries of `text` as the contents of the file `file_name`
// (used in messages).  Line ends are normalised first.
void apply_spec_text(std::string_view text, std::string_view file_name,
                     bool main, bool user);

// The text with its line ends made line feeds: a carriage return next to a
// line feed is dropped, any other becomes a line feed.
std::string normalize_line_ends(std::string_view text);

// Empties the compilers table and forgets the texts of the rows spec files
// added (for tests and fuzzing, which read many files in one process).
void forget_spec_file_rows();

// With -v, reading and renaming are reported on standard error.
void set_spec_file_verbose(bool verbose);

// The -dumpspecs text: every named spec in list order, then the link
// command.
std::string spec_dump_text();

// Writes the -dumpspecs text to standard output.
void write_spec_dump();

} // namespace velk
