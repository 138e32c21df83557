// Colours and hyperlinks of diagnostic output: the table of named colours
// with their terminal escape sequences, the VELK_COLORS setting that changes
// them, and the decision whether a message carries colour escapes and OSC 8
// hyperlinks at all (the printer's `use_color` and `url_style`).
//
// The rules come from -fdiagnostics-color= and -fdiagnostics-urls=: never
// (0), always (1) or auto (2); -1 means no option was given and counts as
// auto.  "auto" means: TERM is set and not "dumb", and standard error is a
// terminal.
#pragma once

#include "diagnostics/pretty_print.h"

#include <string_view>

namespace velk {

struct diagnostic_engine;

enum color_rule : int {
  color_rule_unset = -1,
  color_rule_never = 0,
  color_rule_always = 1,
  color_rule_auto = 2,
};

// The start sequence of the colour `name` ("error", "warning", "note",
// "locus", "quote", "path", ...): empty when colour is off or the name is
// not a colour.
std::string_view color_start_sequence(bool use_color, std::string_view name);
// The sequence that ends any colour: empty when colour is off.
std::string_view color_stop_sequence(bool use_color);

// TERM is set, is not "dumb", and standard error is a terminal.
bool terminal_allows_color();

// Reads VELK_COLORS into the colour table ("error=01;32:locus=04", entries
// applied up to the first malformed character) and tells whether colour is
// on: unset leaves the table and turns colour on, empty turns it off.
bool parse_color_env();

// Whether to use colour under `rule` (never, always or auto); reads
// VELK_COLORS when colour is on.  Any other rule is an internal error.
bool colorize_init(int rule);

// The hyperlink style under `rule`: VELK_URLS, else TERM_URLS, chooses the
// terminator ("st": ESC backslash, empty or "no": no hyperlinks, anything
// else BEL); under auto only on a colour terminal that is known to show
// hyperlinks.
url_format determine_url_format(int rule);

// Apply a rule to the engine's printer (a negative rule is auto).  The
// driver calls both once with -1 right after engine_init, then for every
// -fdiagnostics-color= and -fdiagnostics-urls= it handles.
void engine_color_init(diagnostic_engine& engine, int rule);
void engine_urls_init(diagnostic_engine& engine, int rule);

// Puts every colour back to its default sequence (for tests).
void reset_color_table();

} // namespace velk
