#include "specs/spec_functions.h"

#include "diagnostics/diagnostic.h"
#include "diagnostics/internal_check.h"
#include "diagnostics/message_catalog.h"
#include "options/handle.h"
#include "specs/cpu_detect.h"
#include "specs/search_paths.h"
#include "specs/spec_interpreter.h"
#include "support/configuration.h"
#include "support/environment.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

namespace velk {

using words_t = std::vector<std::string>;

namespace {

// A function misused by its caller's spec text: an internal error when the
// text is built in, the user's error when it came from a spec file.
[[noreturn]] void wrong_word_count(const char* file, int line,
                                   const char* function,
                                   const char* spec_name) {
  if (spec_state().user_spec)
    fatal_error(unknown_location,
                "spec failure: wrong number of arguments to %<%%:%s%>",
                spec_name);
  assert_failed(file, line, function);
}

[[noreturn]] void invalid_word(const char* file, int line, const char* function,
                               const char* spec_name, const std::string& word) {
  if (spec_state().user_spec)
    fatal_error(unknown_location,
                "spec failure: invalid argument %qs to %<%%:%s%>", word,
                spec_name);
  assert_failed(file, line, function);
}

#define WRONG_WORD_COUNT(spec_name)                                            \
  wrong_word_count(__FILE__, __LINE__, __func__, spec_name)
#define INVALID_WORD(spec_name, word)                                          \
  invalid_word(__FILE__, __LINE__, __func__, spec_name, word)

// Every character special to the spec interpreter preceded by "\".
bool is_spec_special(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '|' || c == '%' ||
         c == '\\';
}

std::string escape_spec_text(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  // Copied in runs: each special character, once escaped, starts the next
  // run.
  std::size_t run = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (is_spec_special(text[i])) {
      out.append(text.substr(run, i - run));
      out += '\\';
      run = i;
    }
  }
  out.append(text.substr(run));
  return out;
}

// A decimal number, with an optional sign.
std::optional<long long> parse_number(const std::string& word) {
  const char* first = word.data();
  const char* last = first + word.size();
  if (first != last && *first == '+' && last - first > 1 && first[1] != '-')
    ++first;
  long long value = 0;
  auto [end, error] = std::from_chars(first, last, value);
  if (error != std::errc() || end != last || first == last)
    return std::nullopt;
  return value;
}

// PATH when it is absolute and readable.
bool readable_absolute(const std::string& path) {
  return !path.empty() && path.front() == '/' &&
         access(path.c_str(), R_OK) == 0;
}

std::optional<std::string> find_startfile(const std::string& name) {
  return find_file_in(search_paths().startfile, name, access_mode::read, true);
}

bool version_syntax_ok(std::string_view text) {
  // ([1-9][0-9]*|0)(\.([1-9][0-9]*|0))*
  std::size_t i = 0;
  while (true) {
    if (i >= text.size() || text[i] < '0' || text[i] > '9')
      return false;
    if (text[i] == '0') {
      ++i;
    } else {
      while (i < text.size() && text[i] >= '0' && text[i] <= '9')
        ++i;
    }
    if (i == text.size())
      return true;
    if (text[i] != '.')
      return false;
    ++i;
  }
}

std::string make_random_seed() {
  std::uint64_t value = 0;
  int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    if (read(fd, &value, sizeof value) != static_cast<ssize_t>(sizeof value))
      value = 0;
    close(fd);
  }
  if (value == 0) {
    timeval now{};
    gettimeofday(&now, nullptr);
    value = static_cast<std::uint64_t>(now.tv_sec) * 1000 +
            static_cast<std::uint64_t>(now.tv_usec) / 1000;
    value ^= static_cast<std::uint64_t>(getpid());
  }
  char text[32];
  std::snprintf(text, sizeof text, "%#llx",
                static_cast<unsigned long long>(value));
  return text;
}

} // namespace

std::string quote_spec_word(std::string_view text) {
  if (text.empty())
    return "%\"";
  return escape_spec_text(text);
}

int compare_version_strings(std::string_view v1, std::string_view v2) {
  for (std::string_view v : {v1, v2})
    if (!version_syntax_ok(v))
      fatal_error(unknown_location, "invalid version number %qs", v);
  // Both are runs of digits without leading zeros separated by dots, so
  // the natural version order compares the runs as numbers: a longer run is
  // larger, runs of equal length compare by their digits.
  std::size_t i = 0, j = 0;
  while (i < v1.size() && j < v2.size()) {
    std::size_t ei = v1.find('.', i), ej = v2.find('.', j);
    if (ei == std::string_view::npos)
      ei = v1.size();
    if (ej == std::string_view::npos)
      ej = v2.size();
    std::string_view a = v1.substr(i, ei - i), b = v2.substr(j, ej - j);
    if (a.size() != b.size())
      return a.size() < b.size() ? -1 : 1;
    if (int c = a.compare(b); c != 0)
      return c < 0 ? -1 : 1;
    i = ei + 1;
    j = ej + 1;
  }
  bool more1 = i < v1.size(), more2 = j < v2.size();
  return more1 == more2 ? 0 : more1 ? 1 : -1;
}

// %:getenv(NAME TAIL)
std::optional<std::string> getenv_spec_function(const words_t& words) {
  if (words.size() != 2)
    return std::nullopt;
  const std::string& name = words[0];
  std::optional<std::string> value = environment().getenv(name);
  if (!value) {
    if (!spec_state().undefined_env_allowed)
      fatal_error(unknown_location, "environment variable %qs not defined",
                  name);
    return "/" + escape_spec_text(name);
  }
  std::string out;
  out.reserve(value->size() * 2 + words[1].size());
  for (char c : *value) {
    out += '\\';
    out += c;
  }
  out += words[1];
  return out;
}

// %:if-exists(PATH)
std::optional<std::string> if_exists_spec_function(const words_t& words) {
  if (words.size() != 1 || !readable_absolute(words[0]))
    return std::nullopt;
  return escape_spec_text(words[0]);
}

// %:if-exists-else(PATH ELSE)
std::optional<std::string> if_exists_else_spec_function(const words_t& words) {
  if (words.size() != 2)
    return std::nullopt;
  return escape_spec_text(readable_absolute(words[0]) ? words[0] : words[1]);
}

// %:if-exists-then-else(PATH THEN [ELSE])
std::optional<std::string>
if_exists_then_else_spec_function(const words_t& words) {
  if (words.size() < 2 || words.size() > 3)
    return std::nullopt;
  if (readable_absolute(words[0]))
    return escape_spec_text(words[1]);
  if (words.size() == 3)
    return escape_spec_text(words[2]);
  return std::nullopt;
}

// %:sanitize(KIND)
std::optional<std::string> sanitize_spec_function(const words_t& words) {
  if (words.size() != 1)
    return std::nullopt;
  const std::uint32_t flags = global_options.flag_sanitize;
  const std::uint32_t trap = global_options.flag_sanitize_trap;
  const std::string& kind = words[0];
  bool on;
  if (kind == "address")
    on = (flags & 0x2) != 0;
  else if (kind == "hwaddress")
    on = (flags & 0x20000000) != 0;
  else if (kind == "kernel-address")
    on = (flags & 0x4) != 0;
  else if (kind == "kernel-hwaddress")
    on = (flags & 0x40000000) != 0;
  else if (kind == "thread")
    on = (flags & 0x8) != 0;
  else if (kind == "undefined")
    on = (flags & 0x3ffffe0 & ~trap) != 0;
  else if (kind == "leak")
    on = (flags & 0x10) != 0 && (flags & (0x1 | 0x8)) == 0;
  else
    return std::nullopt;
  if (!on)
    return std::nullopt;
  return std::string();
}

// %:replace-outfile(OLD NEW)
std::optional<std::string> replace_outfile_spec_function(const words_t& words) {
  if (words.size() != 2)
    WRONG_WORD_COUNT("replace-outfile");
  for (std::string& slot : tables().output_names)
    if (slot == words[0])
      slot = words[1];
  return std::nullopt;
}

// %:remove-outfile(NAME)
std::optional<std::string> remove_outfile_spec_function(const words_t& words) {
  if (words.size() != 1)
    WRONG_WORD_COUNT("remove-outfile");
  for (std::string& slot : tables().output_names)
    if (slot == words[0])
      slot.clear();
  return std::nullopt;
}

// %:version-compare(OP V1 [V2] SWITCH RESULT)
std::optional<std::string> version_compare_spec_function(const words_t& words) {
  if (words.size() < 3)
    fatal_error(unknown_location, "too few arguments to %%:version-compare");
  const std::string& op = words[0];
  if (op.empty())
    INVALID_WORD("version-compare", op);
  const std::size_t versions =
      op.size() >= 2 && (op[1] == '<' || op[1] == '>') && op[0] != '!' ? 2 : 1;
  if (words.size() != versions + 3)
    fatal_error(unknown_location, "too many arguments to %%:version-compare");

  const std::string& prefix = words[versions + 1];
  std::optional<std::string> value;
  const switch_table& switches = tables().switches;
  for (std::size_t i = 0; i < switches.size(); ++i) {
    if (switches[i].name.starts_with(prefix) &&
        switch_is_live(i, prefix.size()))
      value = switches[i].name.substr(prefix.size());
  }
  int comp1 = -1, comp2 = -1;
  if (value) {
    comp1 = compare_version_strings(*value, words[1]);
    if (versions == 2)
      comp2 = compare_version_strings(*value, words[2]);
  }
  std::string_view first_two = std::string_view(op).substr(0, 2);
  bool holds;
  if (first_two == ">=")
    holds = comp1 >= 0;
  else if (first_two == "!<")
    holds = comp1 >= 0 || !value;
  else if (op == "<")
    holds = comp1 < 0;
  else if (first_two == "!>")
    holds = comp1 < 0 || !value;
  else if (first_two == "><")
    holds = comp1 >= 0 && comp2 < 0;
  else if (first_two == "<>")
    holds = comp1 < 0 || comp2 >= 0;
  else
    fatal_error(unknown_location, "unknown operator %qs in %%:version-compare",
                op);
  if (!holds)
    return std::nullopt;
  return words[versions + 2];
}

// %:include(FILE).  Only the startfile prefixes are searched: a file of the
// same name in the current directory must not change the commands.
std::optional<std::string> include_spec_function(const words_t& words) {
  if (words.size() != 1)
    WRONG_WORD_COUNT("include");
  spec_file_reader read_spec_file = current_spec_file_reader();
  VELK_ASSERT(read_spec_file != nullptr);
  const std::string& name = words[0];
  std::optional<std::string> found = find_startfile(name);
  if (!found) {
    if (name.empty() || name.front() != '/') {
      errno = ENOENT;
      fatal_error(unknown_location, "cannot read spec file %qs: %m", name);
    }
    found = name;
  }
  read_spec_file(*found);
  return std::nullopt;
}

// %:find-file(FILE)
std::optional<std::string> find_file_spec_function(const words_t& words) {
  if (words.size() != 1)
    WRONG_WORD_COUNT("find-file");
  std::optional<std::string> found = find_startfile(words[0]);
  return escape_spec_text(found ? *found : words[0]);
}

// %:find-plugindir()
std::optional<std::string> find_plugindir_spec_function(const words_t& words) {
  if (!words.empty())
    WRONG_WORD_COUNT("find-plugindir");
  std::optional<std::string> found = find_startfile("plugin");
  return "-iplugindir=" + escape_spec_text(found ? *found : "plugin");
}

// %:print-asm-header()
std::optional<std::string>
print_asm_header_spec_function(const words_t& /*words*/) {
  std::fputs(translate("Assembler options\n=================\n\n"), stdout);
  std::fputs(translate("Use \"-Wa,OPTION\" to pass \"OPTION\" to the "
                       "assembler.\n\n"),
             stdout);
  std::fflush(stdout);
  return std::nullopt;
}

// %:compare-debug-dump-opt()
std::optional<std::string>
compare_debug_dump_opt_spec_function(const words_t& words) {
  if (!words.empty())
    fatal_error(unknown_location,
                "too many arguments to %%:compare-debug-dump-opt");
  spec_interpreter_state& c = spec_state();
  std::vector<std::string> given =
      expand_spec_words("%{fdump-final-insns=*:%*}");
  std::string name;
  std::optional<std::string> option;
  if (!given.empty() && given.back() != ".") {
    if (c.compare_debug == 0)
      return std::nullopt;
    name = given.back();
  } else {
    std::vector<std::string> made;
    if (!given.empty()) {
      made = expand_spec_words("%B.gkd");
    } else {
      if (c.compare_debug == 0)
        return std::nullopt;
      made = expand_spec_words("%{!save-temps*:%g.gkd}%{save-temps*:%B.gkd}");
    }
    VELK_ASSERT(!made.empty());
    name = made.back();
    option = "-fdump-final-insns=" + quote_spec_word(name);
  }
  const bool second = c.compare_debug < 0;
  c.compare_debug_dumps[second ? 1 : 0] = name;
  if (!second)
    c.random_seed = make_random_seed();
  std::optional<std::string> result = option;
  if (c.random_seed)
    result = "%{!frandom-seed=*:-frandom-seed=" + *c.random_seed + "} " +
             option.value_or("");
  if (second)
    c.random_seed.reset();
  return result;
}

// %:compare-debug-self-opt()
std::optional<std::string>
compare_debug_self_opt_spec_function(const words_t& words) {
  if (!words.empty())
    fatal_error(unknown_location,
                "too many arguments to %%:compare-debug-self-opt");
  const spec_interpreter_state& c = spec_state();
  if (c.compare_debug >= 0)
    return std::nullopt;
  return "%<o %<MD %<MMD %<MF* %<MG %<MP %<MQ* %<MT* %<fdump-final-insns=* "
         "-w -S -o %j %{!fcompare-debug-second:-fcompare-debug-second} " +
         c.compare_debug_option;
}

// %:pass-through-libs(WORDS...): the libraries among the words, for the
// linker plug-in.
std::optional<std::string> pass_through_libs_spec_func(const words_t& words) {
  std::string out = " ";
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word.starts_with("-l")) {
      std::string name;
      if (word.size() == 2) {
        if (i + 1 == words.size())
          break;
        name = words[++i];
      } else {
        name = word.substr(2);
      }
      out += escape_spec_text("-plugin-opt=-pass-through=-l" + name);
      out += ' ';
    } else if (word.size() >= 2 && word.ends_with(".a")) {
      out += escape_spec_text("-plugin-opt=-pass-through=" + word);
      out += ' ';
    }
  }
  return out;
}

// %:dumps([EXT]): the dump options of the current input.
std::optional<std::string> dumps_spec_func(const words_t& words) {
  if (words.size() > 1)
    fatal_error(unknown_location, "too many arguments for %%:dumps");
  const spec_interpreter_state& c = spec_state();
  const bool second = c.compare_debug < 0;
  const current_input_record& input = tables().current;
  const std::string& base_name = input.base_name;
  const std::size_t stem_length =
      std::min(input.base_stem_length, base_name.size());
  const bool dump_base_given = c.dump_base && !c.dump_base->empty();

  std::string ext;
  if (c.dump_base_ext)
    ext = *c.dump_base_ext;
  else if (dump_base_given)
    ext.clear();
  else if (!words.empty())
    ext = words[0];
  else
    ext = base_name.substr(stem_length);

  std::string out;
  if (c.dump_dir)
    out += " -dumpdir " + quote_spec_word(*c.dump_dir);

  std::string base;
  std::optional<std::size_t> compared_from;
  if (dump_base_given) {
    base = *c.dump_base;
    compared_from = std::min(c.output_base_length, base.size());
  } else if (c.output_base) {
    base = c.output_base->substr(
        0, std::min(c.output_base_length, c.output_base->size()));
  } else {
    base = base_name;
    compared_from = stem_length;
  }
  if (second || !compared_from ||
      std::string_view(base).substr(*compared_from) != ext) {
    if (compared_from)
      base.resize(*compared_from);
    if (second)
      base += ".gk";
    base += ext;
  }
  out += " -dumpbase " + quote_spec_word(base);
  if (!ext.empty())
    out += " -dumpbase-ext " + quote_spec_word(ext);
  return out;
}

// %:gt(... A B)
std::optional<std::string> greater_than_spec_func(const words_t& words) {
  if (words.empty())
    WRONG_WORD_COUNT("gt");
  if (words.size() == 1)
    return std::nullopt;
  const std::string& a_word = words[words.size() - 2];
  const std::string& b_word = words[words.size() - 1];
  std::optional<long long> a = parse_number(a_word);
  if (!a)
    INVALID_WORD("gt", a_word);
  std::optional<long long> b = parse_number(b_word);
  if (!b)
    INVALID_WORD("gt", b_word);
  if (*a > *b)
    return std::string();
  return std::nullopt;
}

// %:debug-level-gt(N)
std::optional<std::string>
debug_level_greater_than_spec_func(const words_t& words) {
  if (words.size() != 1)
    fatal_error(unknown_location,
                "wrong number of arguments to %%:debug-level-gt");
  std::optional<long long> n = parse_number(words[0]);
  if (!n)
    INVALID_WORD("debug-level-gt", words[0]);
  if (global_options.debug_info_level > *n)
    return std::string();
  return std::nullopt;
}

// %:dwarf-version-gt(N)
std::optional<std::string>
dwarf_version_greater_than_spec_func(const words_t& words) {
  if (words.size() != 1)
    fatal_error(unknown_location,
                "wrong number of arguments to %%:dwarf-version-gt");
  std::optional<long long> n = parse_number(words[0]);
  if (!n)
    INVALID_WORD("dwarf-version-gt", words[0]);
  if (global_options.dwarf_version > *n)
    return std::string();
  return std::nullopt;
}

// %:fortran-preinclude-file(OPTION FILE DIR)
std::optional<std::string> find_fortran_preinclude_file(const words_t& words) {
  if (words.size() != 3)
    return std::nullopt;
  const std::string& file = words[1];
  std::optional<std::string> found =
      find_file_in(search_paths().include, file, access_mode::read, false);
  if (!found) {
    search_path_list preinclude("preinclude");
    // DIR names a directory, with or without its final "/".
    std::string dir = words[2];
    if (!dir.empty() && dir.back() != '/')
      dir += '/';
    add_search_prefix(preinclude, dir, "", 0, 0, false);
    std::string finclude(config::standard_exec_prefix);
    finclude += config::machine_suffix;
    finclude += "../../../../";
    finclude += config::machine_only_suffix;
    finclude += "include/finclude/";
    add_search_prefix(preinclude, finclude, "", 0, 0, false);
    const prefix_settings& p = prefixes();
    constexpr std::string_view system = "/usr/include/finclude/";
    if (p.sysroot)
      add_search_prefix(preinclude,
                        under_sysroot(system, p.sysroot_headers_suffix), "VELK",
                        0, 0, false);
    else
      add_search_prefix(preinclude, system, "", 0, 0, false);
    found = find_file_in(preinclude, file, access_mode::read, false);
  }
  if (!found)
    return std::nullopt;
  return escape_spec_text(words[0] + *found);
}

namespace {

std::optional<std::string> local_cpu_detect_entry(const words_t& words) {
  return local_cpu_detect(words);
}

std::optional<std::string> rewrite_mcpu_entry(const words_t& words) {
  return rewrite_mcpu(words);
}

constexpr spec_function functions[] = {
    {"getenv", getenv_spec_function},
    {"if-exists", if_exists_spec_function},
    {"if-exists-else", if_exists_else_spec_function},
    {"if-exists-then-else", if_exists_then_else_spec_function},
    {"sanitize", sanitize_spec_function},
    {"replace-outfile", replace_outfile_spec_function},
    {"remove-outfile", remove_outfile_spec_function},
    {"version-compare", version_compare_spec_function},
    {"include", include_spec_function},
    {"find-file", find_file_spec_function},
    {"find-plugindir", find_plugindir_spec_function},
    {"print-asm-header", print_asm_header_spec_function},
    {"compare-debug-dump-opt", compare_debug_dump_opt_spec_function},
    {"compare-debug-self-opt", compare_debug_self_opt_spec_function},
    {"pass-through-libs", pass_through_libs_spec_func},
    {"dumps", dumps_spec_func},
    {"gt", greater_than_spec_func},
    {"debug-level-gt", debug_level_greater_than_spec_func},
    {"dwarf-version-gt", dwarf_version_greater_than_spec_func},
    {"fortran-preinclude-file", find_fortran_preinclude_file},
    {"local_cpu_detect", local_cpu_detect_entry},
    {"rewrite_mcpu", rewrite_mcpu_entry},
};

} // namespace

std::span<const spec_function> spec_function_table() {
  return functions;
}

std::vector<spec_function>& added_spec_functions() {
  static std::vector<spec_function> added;
  return added;
}

const spec_function* find_spec_function(std::string_view name) {
  for (const spec_function& f : added_spec_functions())
    if (f.name == name)
      return &f;
  for (const spec_function& f : functions)
    if (f.name == name)
      return &f;
  return nullptr;
}

} // namespace velk
