#include "diagnostics/message_catalog.h"

#include "support/configuration.h"
#include "support/relocation.h"
#include "support/temp_names.h"

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <langinfo.h>
#include <libintl.h>
#include <optional>
#include <strings.h>
#include <unistd.h>

namespace velk {

namespace {

// The domain name as a C string (the configured constant is a literal).
const char* domain() {
  return config::message_domain.data();
}

struct catalog_state {
  // init_message_catalog has been called: the work below is owed.
  bool requested = false;
  // The locale and the domain are set up for the last request.
  bool ready = false;
  std::string program;
  bool resolve_links = true;
  std::string directory;
  std::string quote_open = "'";
  std::string quote_close = "'";
  std::string charset;
  bool utf8 = false;
  // The domain has a catalogue for the locale; without one every text is
  // its own translation, and the C library need not be asked each time.
  bool catalogue_found = false;
  // The state is set up for the environment's locale, but the C library's
  // own locale is still C: its texts (strerror, strsignal) need it set to
  // the names below, which the environment gave at set-up.
  bool locale_deferred = false;
  std::string deferred_ctype;
  std::string deferred_messages;
};

catalog_state& state() {
  static catalog_state the_state;
  return the_state;
}

std::string configured_locale_directory() {
  return std::string(config::standard_prefix) + "/share/locale";
}

std::string locale_directory(std::string_view program, bool resolve_links,
                             bool translations_possible) {
  std::string configured = configured_locale_directory();
  // Relocation may search PATH and resolve links; skip it when no catalogue
  // will ever be read.
  if (program.empty() || !translations_possible)
    return configured;
  std::optional<std::string> relocated = relocate_prefix(
      program, config::standard_bin_prefix, configured + "/", resolve_links);
  return relocated ? *relocated : configured;
}

// True when the message category is the C or POSIX locale: the C library
// then never opens a catalogue, so the domain's directory does not matter.
bool messages_untranslated() {
  const char* name = std::setlocale(LC_MESSAGES, nullptr);
  return name == nullptr || std::strcmp(name, "C") == 0 ||
         std::strcmp(name, "POSIX") == 0;
}

// The quotes and the character-set facts, once the locale's codeset and
// the domain's catalogue are known.
void decide_quotes(catalog_state& s, const char* codeset) {
  s.quote_open = translate("`");
  s.quote_close = translate("'");

  s.charset = codeset != nullptr ? codeset : "";
  s.utf8 = strcasecmp(s.charset.c_str(), "utf-8") == 0 ||
           strcasecmp(s.charset.c_str(), "utf8") == 0;

  // Untranslated quotes: the apostrophe on both sides, or the typographic
  // single quotes where the terminal can show them.
  if (s.quote_open == "`" && s.quote_close == "'") {
    if (s.utf8) {
      s.quote_open = "\xe2\x80\x98";
      s.quote_close = "\xe2\x80\x99";
    } else {
      s.quote_open = "'";
    }
  }
}

#ifdef __GLIBC__
// Setting a locale other than C or POSIX makes the C library read its
// locale alias file and the locale's data, tens of thousands of
// instructions.  Under the C locale and its UTF-8 variant, which most build
// machines and containers have, the outcome is known without that work,
// provided the facts it would use are checked here.

// The locale the C library takes for a category from the environment:
// LC_ALL, else the category's own variable, else LANG, passing over unset
// and empty ones; the C locale when none is set.
std::string_view requested_locale(const char* category_variable) {
  for (const char* variable : {"LC_ALL", category_variable, "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0')
      return value;
  }
  return "C";
}

enum class plain_locale { other, c, c_utf8 };

plain_locale plain_locale_named(std::string_view name) {
  if (name == "C" || name == "POSIX")
    return plain_locale::c;
  if (name == "C.UTF-8" || name == "C.utf8")
    return plain_locale::c_utf8;
  return plain_locale::other;
}

bool variable_set(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

// Where the C library keeps the C.UTF-8 locale's character data when no
// LOCPATH redirects it.
constexpr const char* c_utf8_ctype_data = "/usr/lib/locale/C.utf8/LC_CTYPE";

// Makes `category` the C locale again if an earlier set-up changed it.
void reset_to_c(int category) {
  const char* name = std::setlocale(category, nullptr);
  if (name == nullptr || std::strcmp(name, "C") != 0)
    std::setlocale(category, "C");
}

// Sets up the state as set_up_locale would for the C locale or C.UTF-8,
// leaving the C library's locale at C until a system text is asked for
// (prepare_message_locale).  Returns false, having changed nothing, when
// the environment asks for something else or a fact cannot be shown to be
// what the C library would find.
bool set_up_plain_locale(catalog_state& s) {
  std::string_view ctype_name = requested_locale("LC_CTYPE");
  std::string_view messages_name = requested_locale("LC_MESSAGES");
  plain_locale ctype = plain_locale_named(ctype_name);
  plain_locale messages = plain_locale_named(messages_name);
  if (ctype == plain_locale::other || messages == plain_locale::other)
    return false;
  // LOCPATH sends the C library elsewhere for the locale data.
  if ((ctype == plain_locale::c_utf8 || messages == plain_locale::c_utf8) &&
      variable_set("LOCPATH"))
    return false;
  // C.UTF-8 is not built in: it gives UTF-8 only where it is installed.
  if (ctype == plain_locale::c_utf8 && access(c_utf8_ctype_data, R_OK) != 0)
    return false;

  std::string directory;
  if (messages == plain_locale::c_utf8) {
    // Unlike C, C.UTF-8 does not stop translation: the C library honours
    // LANGUAGE and looks for a catalogue under the names "C.UTF-8",
    // "C.utf8" and "C".
    if (variable_set("LANGUAGE"))
      return false;
    directory = locale_directory(s.program, s.resolve_links, true);
    std::string file = "/LC_MESSAGES/" + std::string(domain()) + ".mo";
    for (const char* name : {"C.UTF-8", "C.utf8", "C"})
      if (access((directory + "/" + name + file).c_str(), F_OK) == 0)
        return false;
  } else {
    directory = locale_directory(s.program, s.resolve_links, false);
  }

  reset_to_c(LC_CTYPE);
  reset_to_c(LC_MESSAGES);
  s.locale_deferred = true;
  s.deferred_ctype = ctype_name;
  s.deferred_messages = messages_name;
  s.directory = std::move(directory);
  bindtextdomain(domain(), s.directory.c_str());
  textdomain(domain());
  s.catalogue_found = false;
  decide_quotes(s,
                ctype == plain_locale::c_utf8 ? "UTF-8" : nl_langinfo(CODESET));
  return true;
}
#endif

// The work init_message_catalog promises, done when a run first needs it:
// setting the locale from the environment costs tens of thousands of
// instructions, and most runs that succeed print no message at all.
void set_up_locale(catalog_state& s) {
  s.ready = true;
  s.locale_deferred = false;
#ifdef __GLIBC__
  if (set_up_plain_locale(s))
    return;
#endif
  std::setlocale(LC_CTYPE, "");
  std::setlocale(LC_MESSAGES, "");

  s.directory =
      locale_directory(s.program, s.resolve_links, !messages_untranslated());
  bindtextdomain(domain(), s.directory.c_str());
  textdomain(domain());

  // The translation of the empty text is a catalogue's header entry, which
  // every catalogue has: the empty text comes back when there is none.  (A
  // named empty text keeps the message extractor from listing it.)
  static constexpr char header_msgid[] = "";
  s.catalogue_found = *dgettext(domain(), header_msgid) != '\0';

  decide_quotes(s, nl_langinfo(CODESET));
}

// The state, with the locale set up if init_message_catalog asked for it.
catalog_state& prepared_state() {
  catalog_state& s = state();
  if (s.requested && !s.ready)
    set_up_locale(s);
  return s;
}

} // namespace

const char* translate(const char* msgid) {
  if (msgid == nullptr || *msgid == '\0')
    return msgid; // the empty text would fetch the catalogue's header
  const catalog_state& s = prepared_state();
  if (s.ready && !s.catalogue_found)
    return msgid;
  return dgettext(domain(), msgid);
}

const char* translate_plural(const char* singular, const char* plural,
                             unsigned long n) {
  const catalog_state& s = prepared_state();
  if (s.ready && !s.catalogue_found)
    return n == 1 ? singular : plural; // the rule of untranslated texts
  return dngettext(domain(), singular, plural, n);
}

void init_message_catalog(std::string_view program, bool resolve_links) {
  catalog_state& s = state();
  s.requested = true;
  s.ready = false;
  s.program = program;
  s.resolve_links = resolve_links;
  set_system_text_hook(prepare_message_locale);
}

void prepare_message_locale() {
  catalog_state& s = prepared_state();
  if (s.locale_deferred) {
    s.locale_deferred = false;
    std::setlocale(LC_CTYPE, s.deferred_ctype.c_str());
    std::setlocale(LC_MESSAGES, s.deferred_messages.c_str());
  }
}

const std::string& message_catalog_directory() {
  return prepared_state().directory;
}
const std::string& quote_open_text() {
  return prepared_state().quote_open;
}
const std::string& quote_close_text() {
  return prepared_state().quote_close;
}
bool locale_is_utf8() {
  return prepared_state().utf8;
}
const std::string& locale_charset() {
  return prepared_state().charset;
}

} // namespace velk
