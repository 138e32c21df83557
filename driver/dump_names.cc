#include "driver/dump_names.h"

#include "specs/spec_interpreter.h"

#include <string_view>

namespace velk {

namespace {

bool is_real_file(const std::string& name) {
  return name != "-" && name != "/dev/null";
}

std::string base_name(std::string_view path) {
  std::size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path
                                                     : path.substr(slash + 1));
}

bool ends_with(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() &&
         text.substr(text.size() - tail.size()) == tail;
}

// `name` is `base` followed by one "." suffix with no further ".".
bool has_single_suffix_over(std::string_view name, std::string_view base) {
  return name.size() > base.size() && name.substr(0, base.size()) == base &&
         name[base.size()] == '.' &&
         name.find('.', base.size() + 1) == std::string_view::npos;
}

// The position of the last "." after the first character, if any.
std::size_t last_suffix_dot(std::string_view name) {
  std::size_t dot = name.rfind('.');
  return dot == std::string_view::npos || dot == 0 ? std::string_view::npos
                                                   : dot;
}

bool is_compilable(const input_entry& input, bool wpa) {
  if (!input.language)
    return true;
  const std::string& lang = *input.language;
  return !lang.starts_with("*") && !(wpa && lang == "lto");
}

} // namespace

dump_names& run_dump_names() {
  static dump_names names;
  return names;
}

dump_names compute_dump_names(const dump_options& o,
                              const input_table& inputs) {
  dump_names n;
  n.dump_base = o.dump_base;
  n.dump_base_ext = o.dump_base_ext;

  // The compilable inputs decide between per-input and link-wide names.
  const input_entry* single = nullptr;
  bool many = false;
  for (const input_entry& input : inputs) {
    if (!is_compilable(input, o.whole_program_partition))
      continue;
    if (single != nullptr)
      many = true;
    single = &input;
  }
  if (many)
    single = nullptr;

  const bool real_output = o.output_name && is_real_file(*o.output_name);
  if ((o.user_dump_dir && !o.save_temps_overrides_dump_dir) ||
      (o.output_name && !real_output)) {
    n.dump_dir = o.user_dump_dir;
  } else if (o.save_temps != save_temps_mode::cwd && o.output_name) {
    std::size_t slash = o.output_name->rfind('/');
    if (slash != std::string::npos)
      n.dump_dir = o.output_name->substr(0, slash + 1);
  }

  n.save_temps = o.save_temps == save_temps_mode::off
                     ? save_temps_mode::off
                     : save_temps_mode::dump_directory;

  if (n.dump_dir && n.dump_base && n.dump_base->find('/') != std::string::npos)
    n.dump_dir.reset();

  if (n.dump_base_ext && n.dump_base && !n.dump_base->empty()) {
    if (!(n.dump_base_ext->size() < n.dump_base->size() &&
          ends_with(*n.dump_base, *n.dump_base_ext)))
      n.dump_base_ext.reset();
  }

  auto base_without_ext = [&n]() {
    std::string base = *n.dump_base;
    if (n.dump_base_ext)
      base.resize(base.size() - n.dump_base_ext->size());
    return base;
  };

  if (n.dump_base && !n.dump_base->empty() &&
      (many || (!o.compile_only && !o.user_dump_dir))) {
    n.dump_dir = n.dump_dir.value_or("") + base_without_ext() + "-";
    n.dump_base.reset();
    n.dump_base_ext.reset();
    n.trailing_dash = true;
  } else if (!o.compile_only && ((n.dump_base && n.dump_base->empty()) ||
                                 (!n.dump_base && !o.user_dump_dir))) {
    // The run links: aux names follow the link output.
    std::string link_base = "a";
    if (real_output) {
      link_base = base_name(*o.output_name);
      if (n.dump_base_ext) {
        if (n.dump_base_ext->size() < link_base.size() &&
            ends_with(link_base, *n.dump_base_ext))
          link_base.resize(link_base.size() - n.dump_base_ext->size());
      } else if (std::size_t dot = last_suffix_dot(link_base);
                 dot != std::string::npos &&
                 (link_base.substr(dot) == ".exe" || link_base == "a.out")) {
        link_base.resize(dot);
      }
    }
    n.output_base.reset();
    if ((n.dump_base && n.dump_base->empty()) ||
        (single &&
         has_single_suffix_over(base_name(single->name), link_base))) {
      n.output_base = link_base;
    } else {
      n.dump_dir = n.dump_dir.value_or("") + link_base + "-";
      n.trailing_dash = true;
    }
    n.dump_base_ext.reset();
  }

  if ((n.dump_base || o.compile_only) &&
      !(n.dump_base && n.dump_base->empty())) {
    if (n.dump_base) {
      n.output_base = base_without_ext();
    } else if (real_output) {
      std::string base = base_name(*o.output_name);
      if (std::size_t dot = last_suffix_dot(base); dot != std::string::npos)
        base.resize(dot);
      n.output_base = base;
    }
  }

  n.dump_dir_length = n.dump_dir ? n.dump_dir->size() : 0;
  if (n.dump_base_ext && (!n.dump_base || n.dump_base->empty()))
    n.dump_base_ext.reset();
  return n;
}

void adjust_dump_names_for_link(dump_names& n, current_input_record& current) {
  if (n.output_base && !n.output_base->empty()) {
    n.dump_dir = n.dump_dir.value_or("") + *n.output_base + ".";
    n.trailing_dash = true;
    n.dump_dir_length = n.dump_dir->size() - 1;
  } else if (n.trailing_dash && n.dump_dir && !n.dump_dir->empty()) {
    n.dump_dir->back() = '.';
    n.dump_dir_length = n.dump_dir->size() - 1;
  }
  n.output_base.reset();
  current.base_name.clear();
  current.base_length = 0;
  current.base_stem_length = 0;
}

void publish_dump_names() {
  const dump_names& names = run_dump_names();
  spec_interpreter_state& st = spec_state();
  st.dump_dir = names.dump_dir;
  st.dump_dir_length = names.dump_dir_length;
  st.dump_dir_trailing_dash = names.trailing_dash;
  st.dump_base = names.dump_base;
  st.dump_base_ext = names.dump_base_ext;
  st.output_base = names.output_base;
  st.output_base_length = names.output_base ? names.output_base->size() : 0;
}

} // namespace velk
