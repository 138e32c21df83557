// The message catalogue of velk: translation of message formats through the
// C library's gettext interface (domain "velk"), the quote characters of the
// locale, and the facts about the locale's character set that the
// pretty-printer needs.
//
// Every translatable text of the suite is marked so that xgettext finds it:
// either it is the format argument of a reporting function (see
// diagnostic.h), or it is wrapped in translate() (translated at once) or
// translatable() (translated later, where it is used).
#pragma once

#include <string>
#include <string_view>

namespace velk {

// Marks a text for extraction into the catalogue without translating it.
constexpr const char* translatable(const char* msgid) {
  return msgid;
}

// The translation of `msgid` in the message domain, or `msgid` itself.
[[gnu::format_arg(1)]] const char* translate(const char* msgid);
// The translation of the singular or plural form chosen by `n`.
[[gnu::format_arg(1)]] [[gnu::format_arg(2)]] const char*
translate_plural(const char* singular, const char* plural, unsigned long n);

// Sets the character-type and message locale categories from the
// environment, binds the message domain and makes it current, and decides
// the quote characters and the character-set facts below.  `program` is
// the program as invoked (argv[0]): when it runs from somewhere other than
// its configured place, the domain is bound to the locale directory
// relocated to where it runs, so that an installed tree can be moved.
// `resolve_links` resolves symbolic links in the program's path first.
// May be called again; every call recomputes the state.
//
// The work is done when first needed: by the first translation, the first
// question about the quotes or the character set, or
// prepare_message_locale().  A run that prints no message never pays for
// setting the locale.
void init_message_catalog(std::string_view program = {},
                          bool resolve_links = true);

// Does the work init_message_catalog promised, if it is still owed, and
// makes sure the C library's own locale is set from the environment (under
// the C locale and C.UTF-8 the catalogue's answers are known without it, so
// setting it is left until here).  Call it before asking the C library for
// text in the user's language outside translate() (strerror, strsignal).
void prepare_message_locale();

// The directory the message domain was bound to by the last
// init_message_catalog (empty before).
const std::string& message_catalog_directory();

// The quote strings: apostrophes in the POSIX locale, U+2018 and U+2019 in
// a UTF-8 locale without translations, else the translations of "`" and
// "'".  Apostrophes until init_message_catalog runs.
const std::string& quote_open_text();
const std::string& quote_close_text();

// Whether the locale's character set is UTF-8, and its name (empty when
// unknown).
bool locale_is_utf8();
const std::string& locale_charset();

} // namespace velk
