#include "specs/named_specs.h"

#include "diagnostics/internal_check.h"

#include <string_view>
#include <unordered_map>

namespace velk {

namespace {

bool is_white_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' ||
         c == '\r';
}

// Name -> first node of that name.  Lookups happen for every definition a
// spec file makes, so they must not walk the list.  The index notes the
// list's size and front node; when the list was changed behind its back
// (cleared by a test, a node added directly) it is rebuilt.
struct name_index {
  std::unordered_map<std::string_view, named_spec*> nodes;
  std::size_t size = 0;
  const named_spec* front = nullptr;
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
  // A fresh table sized for the list: reserve() would compute its size with
  // the math library's ceil, and that one call would make every start of
  // the program load the library.
  i.nodes = decltype(i.nodes)(list.size());
  for (named_spec& spec : list)
    i.nodes.emplace(spec.name, &spec);
  note_list_shape(i, list);
  return i;
}

named_spec* find_mutable(std::string_view name) {
  name_index& i = current_index();
  auto it = i.nodes.find(name);
  return it == i.nodes.end() ? nullptr : it->second;
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
  for (std::size_t id = 0; id < builtin_spec_count; ++id) {
    const builtin_named_spec builtin = builtin_spec(id);
    named_spec& spec = list.emplace_back();
    spec.name = std::string(builtin.name);
    spec.text = builtin.text;
    spec.default_text = builtin.text;
  }
  // A list emptied and filled again may look unchanged to the index.
  index().size = static_cast<std::size_t>(-1);
  current_index();
}

namespace {

named_spec& add_at_head(std::string_view name) {
  named_spec_list_t& list = named_spec_list();
  name_index& i = current_index();
  named_spec& spec = list.emplace_front();
  spec.name = std::string(name);
  i.nodes.emplace(spec.name, &spec);
  note_list_shape(i, list);
  return spec;
}

} // namespace

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
