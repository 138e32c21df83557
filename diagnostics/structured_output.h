// Machine-readable diagnostics (-fdiagnostics-format=json... and
// sarif...): the diagnostics of a run are collected and written as one JSON
// document when the run ends.  The driver's diagnostics carry no source
// location, so each entry holds the kind, the message and the option that
// controls it.
#pragma once

#include "diagnostics/diagnostic.h"

#include <memory>
#include <string>
#include <vector>

namespace velk {

struct structured_diagnostic {
  diagnostic_kind kind = kind_error;
  std::string message; // plain text, without colours
  std::string option;  // "-Wfoo", or empty
  std::string option_url;
  // Later diagnostics of the same group (the notes of an error).
  std::vector<structured_diagnostic> children;
};

class structured_output {
public:
  virtual ~structured_output();
  // Adds a diagnostic; `in_group` attaches it to the previous one.
  void add(structured_diagnostic diagnostic, bool in_group);
  // The whole document.
  virtual std::string render() const = 0;

protected:
  std::vector<structured_diagnostic> diagnostics_;
};

// A JSON array with one object per diagnostic.
std::unique_ptr<structured_output> make_json_output();
// A SARIF 2.1.0 log with one run of velk++.
std::unique_ptr<structured_output> make_sarif_output();

// `text` as a JSON string literal, quotes included.  Bytes that are not
// valid UTF-8 become U+FFFD.
std::string json_string(std::string_view text);

} // namespace velk
