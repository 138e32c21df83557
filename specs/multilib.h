// Multilib selection: which variant of the libraries (and of the programs
// built for them) a run uses, chosen from the switches given by the named
// specs `multilib` (selection table), `multilib_matches`,
// `multilib_exclusions`, `multilib_reuse`, `multilib_defaults`,
// `multilib_options` and `multilib_extra`.  A spec file may replace any of
// them; this configuration has a single, default multilib.
#pragma once

#include <string>
#include <string_view>

namespace velk {

// True when the option word `word` (without its dash) counts as given: a
// switch of the command line matched through `multilib_matches`, or a
// default word no alternative of which was given.  The table of such
// words is built on first use and kept for the rest of the run.
bool option_used(std::string_view word);

// True when `word` is one of the words of `multilib_defaults`.
bool is_default_option(std::string_view word);

// Chooses the multilib, OS multilib and multiarch directories
// (selected_multilib()).  Run once, at the end of spec set-up.
void select_multilib();

// The lines -print-multi-lib prints: "DIR;@opt@opt" for each multilib.
std::string multilib_info();

// Forgets the table of used options, so that tests can select again after
// changing the switches or the tables.
void reset_multilib_state();

} // namespace velk
