#include "diagnostics/message_catalog.h"

#include "support/configuration.h"
#include "support/relocation.h"
#include "support/temp_names.h"

#include <clocale>
#include <cstring>
#include <langinfo.h>
#include <libintl.h>
#include <optional>
#include <strings.h>

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
};

catalog_state& state() {
  static catalog_state the_state;
  return the_state;
}

std::string configured_locale_directory() {
  return std::string(config::standard_prefix) + "/share/locale";
}

// True when the message category is the C or POSIX locale: the C library
// then never opens a catalogue, so the domain's directory does not matter.
bool messages_untranslated() {
  const char* name = std::setlocale(LC_MESSAGES, nullptr);
  return name == nullptr || std::strcmp(name, "C") == 0 ||
         std::strcmp(name, "POSIX") == 0;
}

std::string locale_directory(std::string_view program, bool resolve_links) {
  std::string configured = configured_locale_directory();
  // Relocation may search PATH and resolve links; skip it when no catalogue
  // will ever be read.
  if (program.empty() || messages_untranslated())
    return configured;
  std::optional<std::string> relocated = relocate_prefix(
      program, config::standard_bin_prefix, configured + "/", resolve_links);
  return relocated ? *relocated : configured;
}

// The work init_message_catalog promises, done when a run first needs it:
// setting the locale from the environment costs tens of thousands of
// instructions, and most runs that succeed print no message at all.
void set_up_locale(catalog_state& s) {
  s.ready = true;
  std::setlocale(LC_CTYPE, "");
  std::setlocale(LC_MESSAGES, "");

  s.directory = locale_directory(s.program, s.resolve_links);
  bindtextdomain(domain(), s.directory.c_str());
  textdomain(domain());

  // The translation of the empty text is a catalogue's header entry, which
  // every catalogue has: the empty text comes back when there is none.
  s.catalogue_found = *dgettext(domain(), "") != '\0';

  s.quote_open = translate("`");
  s.quote_close = translate("'");

  const char* codeset = nl_langinfo(CODESET);
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
  prepared_state();
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
