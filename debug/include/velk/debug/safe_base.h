// Bookkeeping of checked containers and their iterators.
//
// Every checked container derives from _Safe_sequence_base and keeps two
// intrusive, doubly linked lists of the iterators that point into it (the
// mutable and the constant ones); every checked iterator derives from
// _Safe_iterator_base and is a node of its owner's list.  When a container
// changes, it bumps _M_generation to invalidate all its iterators at once or
// walks its lists to invalidate some of them.  Nothing here allocates.
//
// Each container's lists are guarded by one of the 16 pool mutexes, chosen
// by the container's address.  The *_single operations take no lock: call
// them only with that mutex held or on objects no other thread can see.
#pragma once

#include <cstdint>
#include <velk/debug/concurrence.h>

namespace __zeb_debug {

class _Safe_sequence_base;
class _Safe_unordered_container_base;

class _Safe_iterator_base {
public:
  // The container the iterator points into, or null.  Other threads write
  // it (when they swap or destroy the container) with release stores.
  _Safe_sequence_base* _M_owner = nullptr;
  // The owner's _M_generation when the iterator attached.
  std::uint32_t _M_generation = 0;
  _Safe_iterator_base* _M_prev_link = nullptr;
  _Safe_iterator_base* _M_next_link = nullptr;

  // Detaches, then attaches to `__seq` (or, when null, only sets the
  // generation to 0) on the constant or the mutable list.
  void _M_attach(_Safe_sequence_base* __seq, bool __constant);
  void _M_attach_single(_Safe_sequence_base* __seq, bool __constant) noexcept;
  // Leaves the owner's list, taking the owner's mutex.
  void _M_detach();
  void _M_detach_single() noexcept;
  // Forgets the owner and the links; the generation stays.
  void _M_reset() noexcept;

  // No owner, or the owner has moved to another generation.
  bool _M_singular() const noexcept;
  // Same owner; singularity is the caller's to check.
  bool _M_can_compare(const _Safe_iterator_base& __x) const noexcept {
    return _M_owner == __x._M_owner;
  }
  __zeb_cxx::__mutex& _M_get_mutex() const noexcept;

protected:
  _Safe_iterator_base() noexcept = default;
  _Safe_iterator_base(const _Safe_sequence_base* __seq, bool __constant) {
    _M_attach(const_cast<_Safe_sequence_base*>(__seq), __constant);
  }
  _Safe_iterator_base(const _Safe_iterator_base& __x, bool __constant) {
    _M_attach(__x._M_owner, __constant);
  }
  ~_Safe_iterator_base() { _M_detach(); }

  // Copying the links would corrupt the owner's list: derived iterators
  // attach explicitly.
  _Safe_iterator_base(const _Safe_iterator_base&) = delete;
  _Safe_iterator_base& operator=(const _Safe_iterator_base&) = delete;
};

class _Safe_sequence_base {
public:
  mutable _Safe_iterator_base* _M_iter_head = nullptr;
  mutable _Safe_iterator_base* _M_const_iter_head = nullptr;
  // Bumped by the container to invalidate every iterator at once.
  std::uint32_t _M_generation = 0;

  __zeb_cxx::__mutex& _M_get_mutex() const noexcept;

  void _M_attach(_Safe_iterator_base* __it, bool __constant) const;
  void _M_attach_single(_Safe_iterator_base* __it,
                        bool __constant) const noexcept;
  void _M_detach(_Safe_iterator_base* __it) const;
  void _M_detach_single(_Safe_iterator_base* __it) const noexcept;

  // Resets every attached iterator; afterwards they are all singular.
  void _M_detach_all() const;
  // Detaches the iterators that are singular.
  void _M_detach_singular() const;
  // Brings every attached iterator to the current generation.
  void _M_revalidate_singular() const;
  // Exchanges the attached iterators and the generations of two
  // containers; never throws (a locking failure terminates).
  void _M_swap(_Safe_sequence_base& __x) noexcept;

protected:
  _Safe_sequence_base() noexcept = default;
  // A copy starts with no iterators of its own.
  _Safe_sequence_base(const _Safe_sequence_base&) noexcept
      : _Safe_sequence_base() {}
  ~_Safe_sequence_base() { _M_detach_all(); }
  _Safe_sequence_base& operator=(const _Safe_sequence_base&) = delete;
};

// An unordered container also keeps lists of its local (bucket) iterators.
class _Safe_unordered_container_base : public _Safe_sequence_base {
public:
  mutable _Safe_iterator_base* _M_local_iter_head = nullptr;
  mutable _Safe_iterator_base* _M_const_local_iter_head = nullptr;

  void _M_attach_local(_Safe_iterator_base* __it, bool __constant) const;
  void _M_attach_local_single(_Safe_iterator_base* __it,
                              bool __constant) const noexcept;
  void _M_detach_local(_Safe_iterator_base* __it) const;
  void _M_detach_local_single(_Safe_iterator_base* __it) const noexcept;

  // Resets the iterators of all four lists.
  void _M_detach_all() const;
  // Exchanges all four lists and the generations.
  void _M_swap(_Safe_unordered_container_base& __x) noexcept;

protected:
  _Safe_unordered_container_base() noexcept = default;
  _Safe_unordered_container_base(const _Safe_unordered_container_base&) noexcept
      : _Safe_unordered_container_base() {}
  ~_Safe_unordered_container_base() { _M_detach_all(); }
  _Safe_unordered_container_base&
  operator=(const _Safe_unordered_container_base&) = delete;
};

// A bucket iterator: it lives on its container's local lists.  The
// operations below hide (they do not override) those of the base.
class _Safe_local_iterator_base : public _Safe_iterator_base {
public:
  _Safe_unordered_container_base* _M_get_container() const noexcept;

  void _M_attach(_Safe_sequence_base* __seq, bool __constant);
  void _M_attach_single(_Safe_sequence_base* __seq, bool __constant) noexcept;
  void _M_detach();
  void _M_detach_single() noexcept;

protected:
  _Safe_local_iterator_base() noexcept = default;
  _Safe_local_iterator_base(const _Safe_sequence_base* __seq, bool __constant) {
    _M_attach(const_cast<_Safe_sequence_base*>(__seq), __constant);
  }
  _Safe_local_iterator_base(const _Safe_local_iterator_base& __x,
                            bool __constant) {
    _M_attach(__x._M_owner, __constant);
  }
  ~_Safe_local_iterator_base() { _M_detach(); }
};

} // namespace __zeb_debug
