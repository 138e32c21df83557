#include "diagnostics/message_catalog.h"

#include "support/configuration.h"
#include "support/relocation.h"

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
  std::string directory;
  std::string quote_open = "'";
  std::string quote_close = "'";
  std::string charset;
  bool utf8 = false;
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

} // namespace

const char* translate(const char* msgid) {
  if (msgid == nullptr || *msgid == '\0')
    return msgid; // the empty text would fetch the catalogue's header
  return dgettext(domain(), msgid);
}

const char* translate_plural(const char* singular, const char* plural,
                             unsigned long n) {
  return dngettext(domain(), singular, plural, n);
}

void init_message_catalog(std::string_view program, bool resolve_links) {
  std::setlocale(LC_CTYPE, "");
  std::setlocale(LC_MESSAGES, "");

  catalog_state& s = state();
  s.directory = locale_directory(program, resolve_links);
  bindtextdomain(domain(), s.directory.c_str());
  textdomain(domain());

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

const std::string& message_catalog_directory() {
  return state().directory;
}
const std::string& quote_open_text() {
  return state().quote_open;
}
const std::string& quote_close_text() {
  return state().quote_close;
}
bool locale_is_utf8() {
  return state().utf8;
}
const std::string& locale_charset() {
  return state().charset;
}

} // namespace velk
