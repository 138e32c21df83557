// Validation of switches against the spec texts: a switch that some spec
// can test or emit is accepted; the rest are reported as unrecognized.
#pragma once

#include <string_view>
#include <vector>

namespace velk {

// Marks validated every switch named by an atom of a `%{`, `%<`, `%W{` or
// `%@{` construct of `spec`: known switches always, unknown ones only when
// the spec comes from a user's spec file.
void validate_switches_from_spec(std::string_view spec, bool user_spec);

// Scans the specs of the compilers table (`compiler_specs`), every named
// spec (with its user flag) and the link command spec.
void mark_spec_switches_validated(
    const std::vector<std::string_view>& compiler_specs);

} // namespace velk
