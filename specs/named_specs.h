// The named specs that `%(name)` expands.  The list starts as the built-in
// specs in table order (texts in constant storage); spec files, the
// driver's set-up and tests add or replace texts.
#pragma once

#include "specs/builtin_specs.h"

#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace velk {

struct named_spec {
  std::string name;
  // The current text: the built-in text in constant storage, or the text
  // held by `owned_text`.
  std::string_view text;
  bool user = false; // defined or redefined by a user's spec file (-specs=)
  // The text the driver made (set_named_spec, set_static_spec), kept on the
  // heap so the view stays valid when the list grows.  Appending to it
  // grows it in place, so a file of many appends is read in linear time.
  std::unique_ptr<std::string> owned_text;
  // The built-in text; empty for specs that are not built in.
  std::string_view default_text;
};

// The named specs in list order.  A deque: new specs go to the head and
// nodes never move, so a spec file with many definitions is read in linear
// time and the name index below stays valid.
using named_spec_list_t = std::deque<named_spec>;
named_spec_list_t& named_spec_list();

// The spec named exactly `name`, or null.
const named_spec* find_named_spec(std::string_view name);

// Links the built-in specs in table order if the list is empty.
void link_builtin_specs();

// Adds `name` with the constant `text` at the tail of the list (after the
// built-in specs); a name already defined keeps its first node for lookups.
void append_named_spec(std::string_view name, std::string_view text);

// Defines `name`, or replaces the text of an existing definition (linking
// the built-in specs first if the list is empty).  A new name goes to the
// head of the list.  A text that begins with "+" and a white-space
// character is appended to the old text, without the "+".
void set_named_spec(std::string_view name, std::string_view text,
                    bool user = false);

// Gives the text of `from` to a new spec `to` (put at the head of the list,
// with the user flag `user`) without copying it; `from` is left empty.
// `from` must exist and `to` must not.
void move_named_spec_text(std::string_view from, std::string_view to,
                          bool user);

// Replaces the text of the built-in spec `id`, wherever it now stands in
// the list, and clears its user flag.
void set_static_spec(builtin_spec_id id, std::string text);

} // namespace velk
