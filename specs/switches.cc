#include "specs/switches.h"

#include <algorithm>
#include <array>
#include <bit>

namespace velk {

namespace {

// The switches of one table ordered by name, for the spec constructs that
// look switches up by name: a lookup is then a binary search, where a walk
// of the table would make every construct cost as much as the command line
// is long.
struct switch_name_index {
  std::uint64_t stamp = 0;
  std::size_t seen = 0; // entries of the table indexed so far
  std::vector<std::uint32_t> by_name;
  std::vector<std::uint32_t> separate_d_u;
};

// The first eight bytes of `name` as a number that orders as the bytes do,
// shorter names padded with zeros.
std::uint64_t name_key(const std::string& name) {
  std::uint64_t key = 0;
  const std::size_t n = std::min<std::size_t>(name.size(), 8);
  for (std::size_t k = 0; k < 8; ++k)
    key = (key << 8) | (k < n ? static_cast<unsigned char>(name[k]) : 0u);
  return key;
}

// Sorts `positions`, given in table order, by name.  Comparing the keys
// first settles most comparisons without reading the names.
void sort_by_name(const switch_table& table,
                  std::span<std::uint32_t> positions) {
  struct keyed {
    std::uint64_t key;
    std::uint32_t position;
  };
  std::vector<keyed> entries;
  entries.reserve(positions.size());
  for (std::uint32_t i : positions)
    entries.push_back({name_key(table[i].name), i});
  // The positions come in table order: a stable sort keeps switches of
  // one name ("-D", "-I", often thousands) in it.
  std::stable_sort(entries.begin(), entries.end(),
                   [&table](const keyed& a, const keyed& b) {
                     if (a.key != b.key)
                       return a.key < b.key;
                     const std::string& x = table[a.position].name;
                     const std::string& y = table[b.position].name;
                     // Equal keys settle names of equal length below 8.
                     return (x.size() != y.size() || x.size() >= 8) && x < y;
                   });
  for (std::size_t k = 0; k < positions.size(); ++k)
    positions[k] = entries[k].position;
}

const switch_name_index& index_for(const switch_table& table) {
  static switch_name_index index;
  if (index.stamp == table.stamp() && index.seen == table.size())
    return index;
  if (index.stamp != table.stamp() || index.seen > table.size()) {
    index.stamp = table.stamp();
    index.seen = 0;
    index.by_name.clear();
    index.separate_d_u.clear();
  }
  if (index.seen == table.size())
    return index;
  const std::size_t old = index.by_name.size();
  for (std::size_t i = index.seen; i < table.size(); ++i) {
    const switch_entry& sw = table[i];
    index.by_name.push_back(static_cast<std::uint32_t>(i));
    if (!sw.args.empty() && !sw.name.empty() &&
        (sw.name[0] == 'D' || sw.name[0] == 'U'))
      index.separate_d_u.push_back(static_cast<std::uint32_t>(i));
  }
  index.seen = table.size();
  auto before = [&table](std::uint32_t a, std::uint32_t b) {
    const int order = table[a].name.compare(table[b].name);
    return order < 0 || (order == 0 && a < b);
  };
  sort_by_name(table, std::span<std::uint32_t>(index.by_name).subspan(old));
  auto middle = index.by_name.begin() + static_cast<std::ptrdiff_t>(old);
  std::inplace_merge(index.by_name.begin(), middle, index.by_name.end(),
                     before);
  return index;
}

// A table of up to this many switches is looked up through a bit set per
// first character of the names, not through the sorted index: for the few
// switches of a typical command line that costs a few instructions for
// each switch that can match, where keeping and searching the sorted index
// costs far more.
constexpr std::size_t short_table_size = 32;

// Whether `name` begins with `prefix` (equals it when `whole_name`).
// Names are short and mostly differ in their first character: a plain loop
// beats a call of memcmp.
bool name_matches(const std::string& name, std::string_view prefix,
                  bool whole_name) {
  if (name.size() < prefix.size() ||
      (whole_name && name.size() != prefix.size()))
    return false;
  for (std::size_t k = 0; k < prefix.size(); ++k)
    if (name[k] != prefix[k])
      return false;
  return true;
}

// The switches of a short table by the first character of their names
// (bit i: position i), and the -D/-U switches with a separate argument.
// Kept like the sorted index: for one table at a time, following appends.
// The result buffers are those of the lookups below, one each.
struct short_table_index {
  std::uint64_t stamp = 0;
  std::size_t seen = 0;
  std::array<std::uint32_t, 256> by_first{};
  std::uint32_t separate_d_u = 0;
  std::array<std::uint32_t, short_table_size> named{};
  std::array<std::uint32_t, short_table_size> separate{};
};

constinit short_table_index the_short_index;

// Brings the index up to date with `table`.
[[gnu::noinline]] void refresh_short_index(const switch_table& table) {
  short_table_index& index = the_short_index;
  if (index.stamp != table.stamp() || index.seen > table.size()) {
    index.stamp = table.stamp();
    index.seen = 0;
    index.by_first.fill(0);
    index.separate_d_u = 0;
  }
  for (std::size_t i = index.seen; i < table.size(); ++i) {
    const switch_entry& sw = table[i];
    if (sw.name.empty())
      continue;
    const std::uint32_t bit = std::uint32_t{1} << i;
    index.by_first[static_cast<unsigned char>(sw.name[0])] |= bit;
    if (!sw.args.empty() && (sw.name[0] == 'D' || sw.name[0] == 'U'))
      index.separate_d_u |= bit;
  }
  index.seen = table.size();
}

// The index of `table`, checked on every lookup: the check stays inline.
short_table_index& short_index_for(const switch_table& table) {
  short_table_index& index = the_short_index;
  if (index.stamp != table.stamp() || index.seen != table.size())
    refresh_short_index(table);
  return index;
}

} // namespace

std::span<const std::uint32_t> switches_named(const switch_table& table,
                                              std::string_view prefix,
                                              bool whole_name) {
  if (table.size() <= short_table_size) {
    short_table_index& index = short_index_for(table);
    std::uint32_t candidates =
        prefix.empty()
            ? static_cast<std::uint32_t>((std::uint64_t{1} << table.size()) - 1)
            : index.by_first[static_cast<unsigned char>(prefix[0])];
    std::array<std::uint32_t, short_table_size>& out = index.named;
    std::size_t count = 0;
    for (; candidates != 0; candidates &= candidates - 1) {
      const auto i = static_cast<std::uint32_t>(std::countr_zero(candidates));
      const std::string& name = table[i].name;
      if (!name_matches(name, prefix, whole_name))
        continue;
      // Insert by name, after the equal names met so far: positions come
      // in table order, so equal names stay in it.
      std::size_t at = count;
      while (at > 0 && name < table[out[at - 1]].name) {
        out[at] = out[at - 1];
        --at;
      }
      out[at] = i;
      ++count;
    }
    return {out.data(), count};
  }
  const std::vector<std::uint32_t>& by_name = index_for(table).by_name;
  // Names are short and mostly differ early: a plain loop beats memcmp.
  auto precedes = [&](std::uint32_t i) {
    const std::string& name = table[i].name;
    const std::size_t common = std::min(name.size(), prefix.size());
    for (std::size_t k = 0; k < common; ++k)
      if (name[k] != prefix[k])
        return static_cast<unsigned char>(name[k]) <
               static_cast<unsigned char>(prefix[k]);
    return name.size() < prefix.size();
  };
  auto matches = [&](std::uint32_t i) {
    return name_matches(table[i].name, prefix, whole_name);
  };
  auto first = std::partition_point(by_name.begin(), by_name.end(), precedes);
  auto last = std::partition_point(first, by_name.end(), matches);
  return {first, last};
}

std::span<const std::uint32_t>
switches_with_separate_d_u(const switch_table& table) {
  if (table.size() <= short_table_size) {
    short_table_index& index = short_index_for(table);
    std::size_t count = 0;
    for (std::uint32_t set = index.separate_d_u; set != 0; set &= set - 1)
      index.separate[count++] =
          static_cast<std::uint32_t>(std::countr_zero(set));
    return {index.separate.data(), count};
  }
  return index_for(table).separate_d_u;
}

bool switch_named_after(const switch_table& table, std::string_view name,
                        std::size_t position) {
  if (table.size() <= short_table_size) {
    if (position + 1 >= table.size())
      return false;
    if (name.empty()) {
      for (std::size_t i = position + 1; i < table.size(); ++i)
        if (table[i].name.empty())
          return true;
      return false;
    }
    std::uint32_t later =
        short_index_for(table).by_first[static_cast<unsigned char>(name[0])];
    later &= ~((std::uint32_t{2} << position) - 1);
    for (; later != 0; later &= later - 1)
      if (name_matches(table[std::countr_zero(later)].name, name, true))
        return true;
    return false;
  }
  std::span<const std::uint32_t> named = switches_named(table, name, true);
  return !named.empty() && named.back() > position;
}

command_tables& tables() {
  static command_tables the_tables;
  return the_tables;
}

void add_switch(switch_table& table, std::string_view option,
                std::vector<std::string> args, bool validated, bool known) {
  switch_entry entry;
  entry.name = option.empty() ? std::string() : std::string(option.substr(1));
  entry.args = std::move(args);
  entry.validated = validated;
  entry.known = known;
  table.append(std::move(entry));
}

void add_switch(std::string_view option, std::vector<std::string> args,
                bool validated, bool known) {
  add_switch(tables().switches, option, std::move(args), validated, known);
}

void add_input(input_table& table, std::string_view name,
               std::optional<std::string> language) {
  input_entry entry;
  entry.name = std::string(name);
  entry.language = std::move(language);
  table.append(std::move(entry));
}

void add_input(std::string_view name, std::optional<std::string> language) {
  add_input(tables().inputs, name, std::move(language));
}

void terminate_tables() {
  tables().switches.terminate();
  tables().inputs.terminate();
}

void current_input_record::set(std::string_view input_name,
                               std::size_t input_index) {
  name = std::string(input_name);
  std::size_t slash = name.rfind('/');
  base_name = slash == std::string::npos ? name : name.substr(slash + 1);
  base_length = base_name.size();
  base_stem_length = base_length;
  suffix.clear();
  // Scan from the end down to the second character: a leading "." names a
  // hidden file, not a suffix.
  for (std::size_t i = base_length; i-- > 1;) {
    if (base_name[i] == '.') {
      base_stem_length = i;
      suffix = base_name.substr(i + 1);
      break;
    }
  }
  stat_cached = false;
  index = input_index;
}

} // namespace velk
