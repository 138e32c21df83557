// The two lists of files the driver deletes: `cleanup_list` (intermediate
// files, deleted whatever happens) and `failure_list` (outputs of the
// compilation or link in progress, deleted when it fails).
//
// The signal handler walks these lists asynchronously, so a list only ever
// grows at its front and is emptied by resetting its head; nodes are never
// unlinked or freed while the process runs.
#pragma once

#include <atomic>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>

namespace velk {

class temp_file_list {
public:
  // Adds a copy of `name` at the front unless the list already holds it.
  void note(std::string_view name);
  bool contains(std::string_view name) const;
  // Takes `name` off the list: it is no longer deleted, and may be noted
  // again.  The node stays in place (the list is never spliced); a flag
  // tells the walks to pass it by.
  void drop(std::string_view name);
  // Calls remove_if_regular on every name, newest first.  Safe in a signal
  // handler: it neither allocates nor frees.
  void remove_all() const;
  // Empties the list.  Safe in a signal handler: the index below is left
  // as it is, and the new generation tells its entries apart.
  void forget() {
    head_.store(nullptr, std::memory_order_release);
    generation_.fetch_add(1, std::memory_order_acq_rel);
  }
  bool empty() const {
    return head_.load(std::memory_order_acquire) == nullptr;
  }

  template <typename Visit>
  void for_each(Visit visit) const {
    for (const node* n = head_.load(std::memory_order_acquire); n; n = n->next)
      if (!n->dropped.load(std::memory_order_acquire))
        visit(n->name);
  }

private:
  struct node {
    node(std::string_view n, const node* nx, unsigned g)
        : name(n), next(nx), generation(g) {}
    std::string name;
    const node* next;
    unsigned generation; // of the list when the node was added
    mutable std::atomic<bool> dropped{false};
  };
  std::deque<node> storage_; // stable addresses for the nodes
  std::atomic<const node*> head_{nullptr};
  std::atomic<unsigned> generation_{0};
  // The newest node of each name, so that noting a name does not walk the
  // list: a compilation of many inputs notes a few names for each.  Only
  // note() changes it, never a signal handler.
  std::unordered_map<std::string_view, const node*> newest_;
};

temp_file_list& cleanup_list();
temp_file_list& failure_list();

// Records `name` on the requested lists.
void note_temp_file(std::string_view name, bool on_cleanup, bool on_failure);

// Deletes `name` only when it exists and is a regular file, judged on the
// path itself: a symbolic link, a device, a FIFO or a directory is left
// alone, and so is whatever a link points to.  Returns 0, or the error number
// of a failed deletion.  Async-signal-safe.
int remove_if_regular(const char* name);

// Reports a failed deletion; set by the driver once diagnostics are ready.
// Called only outside signal handlers.
using removal_failure_hook = void (*)(const std::string& name, int error);
void set_removal_failure_hook(removal_failure_hook hook);

// Deletes every cleanup file and empties the list.
void remove_cleanup_files();
// Deletes every failure file; the list is kept.
void remove_failure_files();
// Empties the failure list without deleting anything.
void forget_failure_files();

// The exit-handler form: deletes the failure files, then the cleanup files,
// and empties both lists, without reporting.  A run that reaches its final
// actions has settled the failure list there (deleted after errors,
// forgotten otherwise), so whatever is still listed at exit belongs to a
// step that never finished: a fatal or internal error ended the run while
// that step's outputs were half written.
void remove_files_at_exit();

// The signal-handler form of the two deletions: no reporting.
void remove_files_on_signal();

} // namespace velk
