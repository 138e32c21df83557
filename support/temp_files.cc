#include "support/temp_files.h"

#include <cerrno>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace velk {

namespace {
removal_failure_hook failure_hook = nullptr;

void remove_reporting(const temp_file_list& list) {
  list.for_each([](const std::string& name) {
    int error = remove_if_regular(name.c_str());
    if (error != 0 && failure_hook != nullptr)
      failure_hook(name, error);
  });
}
} // namespace

void temp_file_list::note(std::string_view name) {
  if (contains(name))
    return;
  storage_.emplace_back(name, head_.load(std::memory_order_relaxed),
                        generation_.load(std::memory_order_acquire));
  const node& added = storage_.back();
  newest_.insert_or_assign(std::string_view(added.name), &added);
  head_.store(&added, std::memory_order_release);
}

void temp_file_list::drop(std::string_view name) {
  for (const node* n = head_.load(std::memory_order_acquire); n; n = n->next)
    if (n->name == name)
      n->dropped.store(true, std::memory_order_release);
}

bool temp_file_list::contains(std::string_view name) const {
  // Only the newest node of a name can still be on the list: one is added
  // when none is, and dropping a name drops all its nodes.
  auto it = newest_.find(name);
  if (it == newest_.end())
    return false;
  const node* n = it->second;
  return n->generation == generation_.load(std::memory_order_acquire) &&
         !n->dropped.load(std::memory_order_acquire);
}

void temp_file_list::remove_all() const {
  for_each([](const std::string& name) { remove_if_regular(name.c_str()); });
}

namespace {

// A list that is never destroyed.  The exit handler and the signal handler
// read the lists after the static objects of the program may already have
// been destroyed (a static made after the exit handler was registered is
// destroyed before it runs), so the lists must outlive every one of them.
class lasting_list {
public:
  lasting_list() { new (storage_) temp_file_list(); }
  temp_file_list& get() {
    return *std::launder(reinterpret_cast<temp_file_list*>(storage_));
  }

private:
  alignas(temp_file_list) unsigned char storage_[sizeof(temp_file_list)];
};

} // namespace

temp_file_list& cleanup_list() {
  static lasting_list list;
  return list.get();
}

temp_file_list& failure_list() {
  static lasting_list list;
  return list.get();
}

void note_temp_file(std::string_view name, bool on_cleanup, bool on_failure) {
  if (on_cleanup)
    cleanup_list().note(name);
  if (on_failure)
    failure_list().note(name);
}

int remove_if_regular(const char* name) {
  // lstat: a symbolic link is not itself a regular file, so neither the link
  // nor what it points to is touched.  The check and the deletion cannot be
  // made atomic, but unlink never follows a link, so a link swapped in
  // between loses only that link.
  struct stat st;
  if (lstat(name, &st) != 0 || !S_ISREG(st.st_mode))
    return 0;
  if (unlink(name) != 0)
    return errno;
  return 0;
}

void set_removal_failure_hook(removal_failure_hook hook) {
  failure_hook = hook;
}

void remove_cleanup_files() {
  remove_reporting(cleanup_list());
  cleanup_list().forget();
}

void remove_failure_files() {
  remove_reporting(failure_list());
}

void forget_failure_files() {
  failure_list().forget();
}

void remove_files_at_exit() {
  failure_list().remove_all();
  failure_list().forget();
  cleanup_list().remove_all();
  cleanup_list().forget();
}

void remove_files_on_signal() {
  failure_list().remove_all();
  cleanup_list().remove_all();
  cleanup_list().forget();
}

} // namespace velk
