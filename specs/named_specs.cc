#include "specs/named_specs.h"

#include "diagnostics/internal_check.h"

namespace velk {

namespace {

bool is_white_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' ||
         c == '\r';
}

named_spec* find_mutable(std::string_view name) {
  for (named_spec& spec : named_spec_list())
    if (spec.name.size() == name.size() && spec.name == name)
      return &spec;
  return nullptr;
}

void set_owned_text(named_spec& spec, std::string text) {
  auto owned = std::make_unique<const std::string>(std::move(text));
  spec.text = *owned;
  spec.owned_text = std::move(owned);
}

} // namespace

std::vector<named_spec>& named_spec_list() {
  static std::vector<named_spec> list;
  return list;
}

const named_spec* find_named_spec(std::string_view name) {
  return find_mutable(name);
}

void link_builtin_specs() {
  std::vector<named_spec>& list = named_spec_list();
  if (!list.empty())
    return;
  list.reserve(builtin_spec_count + 8);
  for (std::size_t id = 0; id < builtin_spec_count; ++id) {
    const builtin_named_spec builtin = builtin_spec(id);
    named_spec& spec = list.emplace_back();
    spec.name = std::string(builtin.name);
    spec.text = builtin.text;
    spec.default_text = builtin.text;
  }
}

void set_named_spec(std::string_view name, std::string_view text, bool user) {
  link_builtin_specs();
  named_spec* spec = find_mutable(name);
  if (spec == nullptr) {
    std::vector<named_spec>& list = named_spec_list();
    named_spec fresh;
    fresh.name = std::string(name);
    spec = &*list.insert(list.begin(), std::move(fresh));
  }
  std::string new_text;
  if (text.size() >= 2 && text[0] == '+' && is_white_space(text[1])) {
    new_text = std::string(spec->text);
    new_text += text.substr(1);
  } else {
    new_text = std::string(text);
  }
  set_owned_text(*spec, std::move(new_text));
  spec->user = user;
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
