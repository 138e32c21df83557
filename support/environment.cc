#include "support/environment.h"

#include "support/printable.h"

#include <cstdio>
#include <cstdlib>

namespace velk {

namespace {

void print_notice(std::string_view line) {
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fputc('\n', stderr);
}

// Internal errors of this class cannot happen in velk++; an embedding
// program that misuses it is stopped at once.
[[noreturn]] void misuse(const char* what) {
  std::fprintf(stderr, "env_manager: %s\n", what);
  std::abort();
}

} // namespace

env_manager& environment() {
  static env_manager manager;
  return manager;
}

void env_manager::init(bool restorable, bool tracing) {
  restorable_ = restorable;
  tracing_ = tracing;
  saved_.clear();
}

std::optional<std::string> env_manager::getenv(std::string_view name) const {
  std::string key(name);
  const char* value = std::getenv(key.c_str());
  if (tracing_)
    std::fprintf(stderr, "env_manager::getenv (%s) -> %s\n", key.c_str(),
                 value ? value : "NULL");
  if (value == nullptr)
    return std::nullopt;
  return std::string(value);
}

void env_manager::xput(std::string_view assignment) {
  std::string text(assignment);
  if (tracing_)
    std::fprintf(stderr, "env_manager::xput (%s)\n", text.c_str());
  if (verbose_)
    (notice_ ? notice_ : print_notice)(escape_unprintable(text));
  std::size_t eq = text.find('=');
  if (eq == std::string::npos) {
    if (restorable_)
      misuse("assignment without '='");
    return;
  }
  std::string name = text.substr(0, eq);
  if (restorable_) {
    const char* old = std::getenv(name.c_str());
    if (tracing_)
      std::fprintf(stderr, "saving old value: %s\n", old ? old : "NULL");
    saved_.emplace_back(name,
                        old ? std::optional<std::string>(old) : std::nullopt);
  }
  setenv(name.c_str(), text.c_str() + eq + 1, 1);
}

void env_manager::restore() {
  if (!restorable_)
    misuse("restore without restorable mode");
  for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
    if (tracing_)
      std::printf("restoring saved key: %s value: %s\n", it->first.c_str(),
                  it->second ? it->second->c_str() : "NULL");
    if (it->second)
      setenv(it->first.c_str(), it->second->c_str(), 1);
    else
      unsetenv(it->first.c_str());
  }
  saved_.clear();
}

} // namespace velk
