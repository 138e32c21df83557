#include "specs/named_specs.h"

#include "diagnostics/internal_check.h"

#include <array>
#include <string_view>
#include <unordered_map>

namespace velk {

namespace {

bool is_white_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' ||
         c == '\r';
}

// Name -> first node of that name.  Lookups happen for every definition a
// spec file makes, so they must not walk the list.  Built-in names are
// found by their id in a table of their own, so linking the built-in specs
// costs no hashing; only names a spec file makes go into the hash map.
// The index notes the list's size and front node; when the list was changed
// behind its back (cleared by a test, a node added directly) it is rebuilt.
struct name_index {
  std::array<named_spec*, builtin_spec_count> builtin{};
  std::unordered_map<std::string_view, named_spec*> others;
  std::size_t size = 0;
  const named_spec* front = nullptr;

  named_spec* find(std::string_view name) const {
    if (std::optional<builtin_spec_id> id = find_builtin_spec(name))
      return builtin[*id];
    auto it = others.find(name);
    return it == others.end() ? nullptr : it->second;
  }
  // Records `spec` unless a node of its name is already known.
  void add(named_spec& spec) {
    if (std::optional<builtin_spec_id> id = find_builtin_spec(spec.name)) {
      if (builtin[*id] == nullptr)
        builtin[*id] = &spec;
    } else {
      others.emplace(spec.name, &spec);
    }
  }
  void clear() {
    builtin.fill(nullptr);
    others.clear();
  }
};

name_index& index() {
  static name_index i;
  return i;
}

void note_list_shape(name_index& i, const named_spec_list_t& list) {
  i.size = list.size();
  i.front = list.empty() ? nullptr : &list.front();
}

name_index& current_index() {
  name_index& i = index();
  named_spec_list_t& list = named_spec_list();
  const named_spec* front = list.empty() ? nullptr : &list.front();
  if (i.size == list.size() && i.front == front)
    return i;
  i.clear();
  for (named_spec& spec : list)
    i.add(spec);
  note_list_shape(i, list);
  return i;
}

named_spec* find_mutable(std::string_view name) {
  return current_index().find(name);
}

void set_owned_text(named_spec& spec, std::string text) {
  auto owned = std::make_unique<std::string>(std::move(text));
  spec.text = *owned;
  spec.owned_text = std::move(owned);
}

} // namespace

named_spec_list_t& named_spec_list() {
  static named_spec_list_t list;
  return list;
}

const named_spec* find_named_spec(std::string_view name) {
  return find_mutable(name);
}

void link_builtin_specs() {
  named_spec_list_t& list = named_spec_list();
  if (!list.empty())
    return;
  name_index& i = index();
  i.clear();
  for (std::size_t id = 0; id < builtin_spec_count; ++id) {
    const builtin_named_spec builtin = builtin_spec(id);
    named_spec& spec = list.emplace_back();
    spec.name = std::string(builtin.name);
    spec.text = builtin.text;
    spec.default_text = builtin.text;
    i.builtin[id] = &spec;
  }
  note_list_shape(i, list);
}

namespace {

named_spec& add_at_head(std::string_view name) {
  named_spec_list_t& list = named_spec_list();
  name_index& i = current_index();
  named_spec& spec = list.emplace_front();
  spec.name = std::string(name);
  i.add(spec);
  note_list_shape(i, list);
  return spec;
}

} // namespace

void append_named_spec(std::string_view name, std::string_view text) {
  named_spec_list_t& list = named_spec_list();
  name_index& i = current_index();
  named_spec& spec = list.emplace_back();
  spec.name = std::string(name);
  spec.text = text;
  i.add(spec);
  note_list_shape(i, list);
}

void set_named_spec(std::string_view name, std::string_view text, bool user) {
  link_builtin_specs();
  named_spec* spec = find_mutable(name);
  if (spec == nullptr)
    spec = &add_at_head(name);
  if (text.size() >= 2 && text[0] == '+' && is_white_space(text[1])) {
    text.remove_prefix(1);
    if (spec->owned_text && spec->text.data() == spec->owned_text->data()) {
      spec->owned_text->append(text);
      spec->text = *spec->owned_text;
    } else {
      std::string joined(spec->text);
      joined += text;
      set_owned_text(*spec, std::move(joined));
    }
  } else {
    set_owned_text(*spec, std::string(text));
  }
  spec->user = user;
}

void move_named_spec_text(std::string_view from, std::string_view to,
                          bool user) {
  link_builtin_specs();
  named_spec* old_spec = find_mutable(from);
  VELK_ASSERT(old_spec != nullptr && find_mutable(to) == nullptr);
  named_spec& new_spec = add_at_head(to);
  new_spec.text = old_spec->text;
  new_spec.owned_text = std::move(old_spec->owned_text);
  new_spec.user = user;
  old_spec->text = std::string_view();
}

void set_static_spec(builtin_spec_id id, std::string text) {
  VELK_ASSERT(id < builtin_spec_count);
  link_builtin_specs();
  named_spec* spec = find_mutable(builtin_spec(id).name);
  VELK_ASSERT(spec != nullptr);
  set_owned_text(*spec, std::move(text));
  spec->user = false;
}

} // namespace velk
