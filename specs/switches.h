// The driver's reduced command line: the switch table (options kept for the
// specs and the subprocesses) and the input table (files, libraries and
// linker arguments, in command-line order), the state of -x, and the record
// of the input being compiled.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velk {

// Bits of switch_entry::liveness.
enum liveness_bits : unsigned {
  live = 0x1,
  dead = 0x2,
  hidden = 0x4,
  hidden_for_good = 0x8,
  still_listed = 0x10,
};

struct switch_entry {
  std::string name;              // the option without its leading dash
  std::vector<std::string> args; // separate arguments; empty when none
  unsigned liveness = 0;
  bool known = false;
  bool validated = false;
  bool ordering = false;

  // Present for the spec interpreter: examined, in effect, and neither
  // overridden nor removed for good.
  bool present() const {
    return (liveness & (live | dead | hidden_for_good)) == live;
  }
};

struct input_entry {
  std::string name;
  // No value: language from the suffix; "*": a linker input passed as is.
  std::optional<std::string> language;
  // The input's row of the compilers table, by index: a spec file read
  // during the run may add rows and move the table.
  std::optional<std::size_t> compiler;
  bool compiled = false;
};

// Names the contents of one table for the indexes kept beside it: a new,
// copied, cleared or moved-from table gets a stamp of its own, and a table
// moved into keeps the stamp of its source, so two live tables never share
// one.  Appends keep the stamp: an index brings itself up to date by the
// entries past those it has seen.
class table_stamp {
public:
  table_stamp() : value_(next()) {}
  table_stamp(const table_stamp&) : value_(next()) {}
  table_stamp(table_stamp&& other) noexcept : value_(other.value_) {
    other.value_ = next();
  }
  table_stamp& operator=(const table_stamp&) {
    value_ = next();
    return *this;
  }
  table_stamp& operator=(table_stamp&& other) noexcept {
    if (this != &other) {
      value_ = other.value_;
      other.value_ = next();
    }
    return *this;
  }
  ~table_stamp() = default;
  void renew() { value_ = next(); }
  std::uint64_t value() const { return value_; }

private:
  static std::uint64_t next() {
    static std::uint64_t counter = 0;
    return ++counter;
  }
  std::uint64_t value_;
};

// A growable table that starts at 16 entries and doubles when full.  Code
// that keeps a position keeps an index: appends may move the entries.
template <typename Entry>
class growing_table {
public:
  Entry& append(Entry entry) {
    if (entries_.size() == entries_.capacity())
      entries_.reserve(entries_.empty() ? 16 : entries_.capacity() * 2);
    entries_.push_back(std::move(entry));
    return entries_.back();
  }
  std::size_t size() const { return entries_.size(); }
  std::size_t capacity() const { return entries_.capacity(); }
  bool empty() const { return entries_.empty(); }
  Entry& operator[](std::size_t i) { return entries_[i]; }
  const Entry& operator[](std::size_t i) const { return entries_[i]; }
  auto begin() { return entries_.begin(); }
  auto end() { return entries_.end(); }
  auto begin() const { return entries_.begin(); }
  auto end() const { return entries_.end(); }
  void clear() {
    entries_.clear();
    stamp_.renew();
  }
  std::uint64_t stamp() const { return stamp_.value(); }
  // Marks the end of command-line processing; later appends come only from
  // self specs.
  void terminate() { terminated_ = true; }
  bool terminated() const { return terminated_; }

private:
  std::vector<Entry> entries_;
  bool terminated_ = false;
  table_stamp stamp_;
};

using switch_table = growing_table<switch_entry>;
using input_table = growing_table<input_entry>;

// The state of -x: the language given to every input added from now on.
struct language_state {
  std::optional<std::string> current_language;
  int language_mark_count = -1;
};

// The input whose spec is about to run (or the link).
struct current_input_record {
  std::string name;
  std::string base_name;            // text after the last "/"
  std::size_t base_length = 0;      // length of base_name
  std::size_t base_stem_length = 0; // base_name without ".suffix"
  std::string suffix;               // text after the last ".", may be empty
  bool stat_cached = false;
  std::size_t index = 0; // current_input_index

  void set(std::string_view input_name, std::size_t input_index);
};

// The command-line tables of this run.
struct command_tables {
  switch_table switches;
  input_table inputs;
  language_state language;
  int added_library_count = 0;
  // Per-input tables, created by input preparation.
  std::vector<std::string> output_names;
  std::vector<std::uint8_t> explicit_link;
  current_input_record current;
};

// The tables of the one run of this process.
command_tables& tables();

// Appends a switch; `option` includes its first character ("-o", "-O2").
void add_switch(std::string_view option, std::vector<std::string> args,
                bool validated, bool known);
void add_switch(switch_table& table, std::string_view option,
                std::vector<std::string> args, bool validated, bool known);

// The positions of the switches whose name begins with `prefix` (equals it
// when `whole_name`), ordered by name and, among equal names, by position.
// A short table is looked up by the first characters of its names; for a
// longer one the sorted index behind it is built on first use, for one
// table at a time, and follows that table's appends; the names of entries
// never change.  The span stays valid until the next call of the same
// function.
std::span<const std::uint32_t> switches_named(const switch_table& table,
                                              std::string_view prefix,
                                              bool whole_name);

// The positions, in table order, of the switches whose name begins with "D"
// or "U" and that have a separate argument ("-D name").  Valid as the span
// above.
std::span<const std::uint32_t>
switches_with_separate_d_u(const switch_table& table);

// Whether a switch named exactly `name` comes after `position` in the
// table.  Leaves the spans above valid.
bool switch_named_after(const switch_table& table, std::string_view name,
                        std::size_t position);

void add_input(std::string_view name, std::optional<std::string> language);
void add_input(input_table& table, std::string_view name,
               std::optional<std::string> language);

// Ends command-line processing for both tables.
void terminate_tables();

} // namespace velk
