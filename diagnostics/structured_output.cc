#include "diagnostics/structured_output.h"

#include "support/configuration.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace velk {

namespace {

// The kind as the structured formats name it: the label without its
// colon, never translated.
std::string_view kind_name(diagnostic_kind kind) {
  switch (kind) {
  case kind_fatal:
    return "fatal error";
  case kind_ice:
  case kind_ice_nobt:
    return "internal compiler error";
  case kind_error:
  case kind_werror:
    return "error";
  case kind_sorry:
    return "sorry, unimplemented";
  case kind_warning:
    return "warning";
  case kind_anachronism:
    return "anachronism";
  case kind_note:
    return "note";
  case kind_debug:
    return "debug";
  case kind_path:
    return "path";
  default:
    return "diagnostic";
  }
}

// SARIF result levels.
std::string_view sarif_level(diagnostic_kind kind) {
  switch (kind) {
  case kind_warning:
  case kind_anachronism:
    return "warning";
  case kind_note:
  case kind_debug:
  case kind_path:
    return "note";
  default:
    return "error";
  }
}

bool is_error(diagnostic_kind kind) {
  return kind == kind_fatal || kind == kind_ice || kind == kind_ice_nobt ||
         kind == kind_error || kind == kind_sorry || kind == kind_werror;
}

class json_output final : public structured_output {
public:
  std::string render() const override {
    std::string out = "[";
    for (std::size_t i = 0; i < diagnostics_.size(); ++i) {
      if (i > 0)
        out += ", ";
      write(out, diagnostics_[i]);
    }
    out += "]\n";
    return out;
  }

private:
  static void write(std::string& out, const structured_diagnostic& d) {
    out += "{\"kind\": " + json_string(kind_name(d.kind));
    out += ", \"message\": " + json_string(d.message);
    if (!d.option.empty())
      out += ", \"option\": " + json_string(d.option);
    if (!d.option_url.empty())
      out += ", \"option_url\": " + json_string(d.option_url);
    out += ", \"locations\": [], \"children\": [";
    for (std::size_t i = 0; i < d.children.size(); ++i) {
      if (i > 0)
        out += ", ";
      write(out, d.children[i]);
    }
    out += "]}";
  }
};

class sarif_output final : public structured_output {
public:
  std::string render() const override {
    std::string rules, results;
    std::vector<std::string> seen;
    bool successful = true;
    for (const structured_diagnostic& d : diagnostics_) {
      successful = successful && !is_error(d.kind);
      for (const structured_diagnostic& c : d.children)
        successful = successful && !is_error(c.kind);
      if (!d.option.empty() &&
          std::find(seen.begin(), seen.end(), d.option) == seen.end()) {
        seen.push_back(d.option);
        if (!rules.empty())
          rules += ", ";
        rules += "{\"id\": " + json_string(d.option);
        if (!d.option_url.empty())
          rules += ", \"helpUri\": " + json_string(d.option_url);
        rules += "}";
      }
      if (!results.empty())
        results += ", ";
      results += result(d);
    }
    std::string out =
        "{\"$schema\": \"https://docs.oasis-open.org/sarif/sarif/v2.1.0/"
        "errata01/os/schemas/sarif-schema-2.1.0.json\", \"version\": "
        "\"2.1.0\", \"runs\": [{\"tool\": {\"driver\": {\"name\": " +
        json_string(program_name().empty() ? "velk++" : program_name()) +
        ", \"version\": " + json_string(config::version) + ", \"rules\": [" +
        rules + "]}}, \"invocations\": [{" +
        "\"executionSuccessful\": " + (successful ? "true" : "false") +
        ", \"toolExecutionNotifications\": []}], \"results\": [" + results +
        "]}]}\n";
    return out;
  }

private:
  static std::string result(const structured_diagnostic& d) {
    std::string r;
    if (!d.option.empty())
      r += "\"ruleId\": " + json_string(d.option) + ", ";
    r += "\"level\": " + json_string(sarif_level(d.kind));
    r += ", \"message\": {\"text\": " + json_string(d.message) + "}";
    r += ", \"locations\": []";
    if (!d.children.empty()) {
      r += ", \"relatedLocations\": [";
      for (std::size_t i = 0; i < d.children.size(); ++i) {
        if (i > 0)
          r += ", ";
        r += "{\"message\": {\"text\": " + json_string(d.children[i].message) +
             "}}";
      }
      r += "]";
    }
    r += ", \"properties\": {\"kind\": " + json_string(kind_name(d.kind)) + "}";
    return "{" + r + "}";
  }
};

} // namespace

structured_output::~structured_output() = default;

void structured_output::add(structured_diagnostic diagnostic, bool in_group) {
  if (in_group && !diagnostics_.empty())
    diagnostics_.back().children.push_back(std::move(diagnostic));
  else
    diagnostics_.push_back(std::move(diagnostic));
}

std::unique_ptr<structured_output> make_json_output() {
  return std::make_unique<json_output>();
}

std::unique_ptr<structured_output> make_sarif_output() {
  return std::make_unique<sarif_output>();
}

std::string json_string(std::string_view text) {
  static constexpr char hex[] = "0123456789abcdef";
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      utf8_char u = decode_utf8_char(text.substr(i));
      if (u.length == 0 || u.value > 0x10ffff) {
        out += "\\ufffd";
        ++i;
      } else {
        out.append(text.substr(i, u.length));
        i += u.length;
      }
      continue;
    }
    switch (c) {
    case '"':
      out += "\\\"";
      break;
    case '\\':
      out += "\\\\";
      break;
    case '\n':
      out += "\\n";
      break;
    case '\t':
      out += "\\t";
      break;
    case '\r':
      out += "\\r";
      break;
    default:
      if (c < 0x20 || c == 0x7f) {
        const char escape[6] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 15]};
        out.append(escape, 6);
      } else {
        out += static_cast<char>(c);
      }
    }
    ++i;
  }
  out += '"';
  return out;
}

} // namespace velk
