// The temporary directory and unique temporary files in it.
//
// Every temporary file is created here, exclusively and with mode 0600,
// before its name is handed to anyone: a name is never reused, never given
// out for a file that another process could create first, and never opened
// through a symbolic link planted in its place.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velk {

// The directory for temporary files, ending in "/": the first of $TMPDIR,
// $TMP, $TEMP, "/tmp/", "/var/tmp" and "/tmp" that is set, is a directory,
// and is readable, writable and searchable; "." when none is.  Chosen on
// the first call and remembered.
const std::string& temp_directory();
// The choice itself, made afresh on every call.
std::string find_temp_directory();

// Creates a new empty file named temp_directory() + "cc" + six random
// characters + `suffix` and returns its name.  When no file can be created,
// writes "Cannot create temporary file in DIR: REASON" to standard error,
// deletes the files on the clean-up lists and aborts.
std::string make_temp_name(std::string_view suffix);

// Creates a new empty file named `head` + six random characters + `tail`
// (exclusive create, mode 0600, links never followed) and returns its name;
// none when the file cannot be created (errno tells why).
std::optional<std::string> create_unique_file(std::string_view head,
                                              std::string_view tail);

// Creates `name` as a new empty file, mode 0600: false (errno set) when
// anything already exists under that name, a symbolic link included.
bool create_new_file(const std::string& name);

// The system's text for an error number, or "undocumented error #N".
std::string error_text(int error);

// Run before the C library is asked for text in the user's language
// (error_text, a child's report of a failed exec): the message catalogue
// sets the locale only when first needed, and installs here what does it.
// None by default.
using system_text_hook = void (*)();
void set_system_text_hook(system_text_hook hook);
void prepare_system_text();

} // namespace velk
