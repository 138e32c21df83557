// Validation of switches against the spec texts: a switch that some spec
// can test or emit is accepted; the rest are reported as unrecognized.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velk {

// Marks validated every switch named by an atom of a `%{`, `%<`, `%W{` or
// `%@{` construct of `spec`: known switches always, unknown ones only when
// the spec comes from a user's spec file.  The atoms of the built-in texts
// were found when the program was built and are not scanned again.
void validate_switches_from_spec(std::string_view spec, bool user_spec);

// The atoms of `spec` that validation marks switches by, as (atom,
// starred) in text order: those of the constructs above that are neither
// suffix nor language tests nor spec functions.
std::vector<std::pair<std::string, bool>>
scan_switch_atoms(std::string_view spec);

// Scans the specs of the compilers table (`compiler_specs`), every named
// spec (with its user flag) and the link command spec.
void mark_spec_switches_validated(
    const std::vector<std::string_view>& compiler_specs);

} // namespace velk
