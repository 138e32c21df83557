// Attaching, detaching, invalidating and swapping the iterator lists of
// checked containers.
#include <velk/debug/safe_base.h>

#include <cstdint>
#include <functional>
#include <utility>

namespace __zeb_debug {

namespace {

using __zeb_cxx::__scoped_lock;

// The pool mutex guarding the lists of the container at `addr`: bits 3 to 6
// of the address spread containers over the 16 mutexes.  Only the address
// is used, so this is safe on a container that another thread is
// destroying.
__zeb_cxx::__mutex& mutex_for(const void* addr) noexcept {
  auto bits = reinterpret_cast<std::uintptr_t>(addr);
  return __zeb_internal::get_mutex(
      static_cast<unsigned char>((bits >> 3) & 0xf));
}

// _M_owner is read without a lock while another thread may swap or destroy
// the owner, so with threads it is accessed atomically.
_Safe_sequence_base* load_owner(const _Safe_iterator_base& it) noexcept {
  if (__zeb_cxx::__threads_active())
    return __atomic_load_n(&it._M_owner, __ATOMIC_ACQUIRE);
  return it._M_owner;
}

void store_owner(_Safe_iterator_base& it, _Safe_sequence_base* seq) noexcept {
  if (__zeb_cxx::__threads_active())
    __atomic_store_n(&it._M_owner, seq, __ATOMIC_RELEASE);
  else
    it._M_owner = seq;
}

void push_front(_Safe_iterator_base*& head, _Safe_iterator_base* it) noexcept {
  it->_M_next_link = head;
  if (head != nullptr)
    head->_M_prev_link = it;
  head = it;
}

// Unlinks `it` from whichever of the lists headed by `a` and `b` holds it.
void unlink(_Safe_iterator_base*& a, _Safe_iterator_base*& b,
            _Safe_iterator_base* it) noexcept {
  _Safe_iterator_base* prev = it->_M_prev_link;
  _Safe_iterator_base* next = it->_M_next_link;
  if (prev != nullptr)
    prev->_M_next_link = next;
  if (next != nullptr)
    next->_M_prev_link = prev;
  if (it == a)
    a = next;
  if (it == b)
    b = next;
}

void reset_list(_Safe_iterator_base*& head) noexcept {
  for (_Safe_iterator_base* it = head; it != nullptr;) {
    _Safe_iterator_base* next = it->_M_next_link;
    it->_M_reset();
    it = next;
  }
  head = nullptr;
}

// Exchanges two lists and makes every node point at its new owner.
void swap_lists(_Safe_iterator_base*& x_head, _Safe_sequence_base& x,
                _Safe_iterator_base*& y_head, _Safe_sequence_base& y) noexcept {
  std::swap(x_head, y_head);
  for (_Safe_iterator_base* it = x_head; it != nullptr; it = it->_M_next_link)
    store_owner(*it, &x);
  for (_Safe_iterator_base* it = y_head; it != nullptr; it = it->_M_next_link)
    store_owner(*it, &y);
}

void swap_seq_single(_Safe_sequence_base& x, _Safe_sequence_base& y) noexcept {
  std::swap(x._M_generation, y._M_generation);
  swap_lists(x._M_iter_head, x, y._M_iter_head, y);
  swap_lists(x._M_const_iter_head, x, y._M_const_iter_head, y);
}

void swap_ucont_single(_Safe_unordered_container_base& x,
                       _Safe_unordered_container_base& y) noexcept {
  swap_seq_single(x, y);
  swap_lists(x._M_local_iter_head, x, y._M_local_iter_head, y);
  swap_lists(x._M_const_local_iter_head, x, y._M_const_local_iter_head, y);
}

// Runs `swap` holding the mutexes of both containers: one lock when they
// share a mutex, else both, the mutex at the lower address first, so that
// two swaps can never wait for each other.  Being noexcept, a failure to
// lock or unlock ends the program.
template <typename Swap>
void with_both_locked(const _Safe_sequence_base& x,
                      const _Safe_sequence_base& y, Swap swap) noexcept {
  __zeb_cxx::__mutex& mx = x._M_get_mutex();
  __zeb_cxx::__mutex& my = y._M_get_mutex();
  if (&mx == &my) {
    __scoped_lock lock(mx);
    swap();
    return;
  }
  bool x_first = std::less<const __zeb_cxx::__mutex*>()(&mx, &my);
  __scoped_lock first(x_first ? mx : my);
  __scoped_lock second(x_first ? my : mx);
  swap();
}

// Detaches `it` from its owner under the owner's mutex; `detach_single`
// unlinks it.  Another thread may reset the iterator (destroying its owner)
// or hand it to another container (swapping) while this one waits for the
// mutex, so the owner is read again under the lock: gone means nothing is
// left to do, moved to a container of another mutex means try again there.
template <typename DetachSingle>
void detach_locked(_Safe_iterator_base& it, DetachSingle detach_single) {
  for (;;) {
    _Safe_sequence_base* seq = load_owner(it);
    if (seq == nullptr)
      return;
    __zeb_cxx::__mutex& m = mutex_for(seq);
    __scoped_lock lock(m);
    _Safe_sequence_base* now = load_owner(it);
    if (now == nullptr)
      return;
    if (&mutex_for(now) == &m) {
      detach_single();
      return;
    }
  }
}

} // namespace

// ---- _Safe_sequence_base -------------------------------------------------

__zeb_cxx::__mutex& _Safe_sequence_base::_M_get_mutex() const noexcept {
  return mutex_for(this);
}

void _Safe_sequence_base::_M_attach(_Safe_iterator_base* __it,
                                    bool __constant) const {
  __scoped_lock lock(_M_get_mutex());
  _M_attach_single(__it, __constant);
}

void _Safe_sequence_base::_M_attach_single(_Safe_iterator_base* __it,
                                           bool __constant) const noexcept {
  push_front(__constant ? _M_const_iter_head : _M_iter_head, __it);
}

void _Safe_sequence_base::_M_detach(_Safe_iterator_base* __it) const {
  __scoped_lock lock(_M_get_mutex());
  _M_detach_single(__it);
}

void _Safe_sequence_base::_M_detach_single(
    _Safe_iterator_base* __it) const noexcept {
  unlink(_M_const_iter_head, _M_iter_head, __it);
}

void _Safe_sequence_base::_M_detach_all() const {
  __scoped_lock lock(_M_get_mutex());
  reset_list(_M_iter_head);
  reset_list(_M_const_iter_head);
}

void _Safe_sequence_base::_M_detach_singular() const {
  __scoped_lock lock(_M_get_mutex());
  for (_Safe_iterator_base* head : {_M_iter_head, _M_const_iter_head}) {
    for (_Safe_iterator_base* it = head; it != nullptr;) {
      _Safe_iterator_base* next = it->_M_next_link;
      if (it->_M_singular())
        it->_M_detach_single();
      it = next;
    }
  }
}

void _Safe_sequence_base::_M_revalidate_singular() const {
  __scoped_lock lock(_M_get_mutex());
  for (_Safe_iterator_base* head : {_M_iter_head, _M_const_iter_head})
    for (_Safe_iterator_base* it = head; it != nullptr; it = it->_M_next_link)
      it->_M_generation = _M_generation;
}

void _Safe_sequence_base::_M_swap(_Safe_sequence_base& __x) noexcept {
  with_both_locked(*this, __x, [&] { swap_seq_single(*this, __x); });
}

// ---- _Safe_iterator_base -------------------------------------------------

__zeb_cxx::__mutex& _Safe_iterator_base::_M_get_mutex() const noexcept {
  return mutex_for(load_owner(*this));
}

void _Safe_iterator_base::_M_attach(_Safe_sequence_base* __seq,
                                    bool __constant) {
  _M_detach();
  if (__seq == nullptr) {
    _M_generation = 0;
    return;
  }
  // Owner, generation and list change together under the lock, so a swap
  // of `__seq` in another thread sees either none or all of them.
  __scoped_lock lock(__seq->_M_get_mutex());
  store_owner(*this, __seq);
  _M_generation = __seq->_M_generation;
  __seq->_M_attach_single(this, __constant);
}

void _Safe_iterator_base::_M_attach_single(_Safe_sequence_base* __seq,
                                           bool __constant) noexcept {
  _M_detach_single();
  if (__seq == nullptr) {
    _M_generation = 0;
    return;
  }
  store_owner(*this, __seq);
  _M_generation = __seq->_M_generation;
  __seq->_M_attach_single(this, __constant);
}

void _Safe_iterator_base::_M_detach() {
  detach_locked(*this, [this] { _M_detach_single(); });
}

void _Safe_iterator_base::_M_detach_single() noexcept {
  if (_M_owner != nullptr) {
    _M_owner->_M_detach_single(this);
    _M_reset();
  }
}

void _Safe_iterator_base::_M_reset() noexcept {
  // The owner goes last: an iterator's own thread that sees it gone takes
  // no lock and may free the iterator at once, so nothing may be written to
  // it after that store.
  _M_prev_link = nullptr;
  _M_next_link = nullptr;
  store_owner(*this, nullptr);
}

bool _Safe_iterator_base::_M_singular() const noexcept {
  return _M_owner == nullptr || _M_generation != _M_owner->_M_generation;
}

// ---- _Safe_unordered_container_base --------------------------------------

void _Safe_unordered_container_base::_M_attach_local(_Safe_iterator_base* __it,
                                                     bool __constant) const {
  __scoped_lock lock(_M_get_mutex());
  _M_attach_local_single(__it, __constant);
}

void _Safe_unordered_container_base::_M_attach_local_single(
    _Safe_iterator_base* __it, bool __constant) const noexcept {
  push_front(__constant ? _M_const_local_iter_head : _M_local_iter_head, __it);
}

void _Safe_unordered_container_base::_M_detach_local(
    _Safe_iterator_base* __it) const {
  __scoped_lock lock(_M_get_mutex());
  _M_detach_local_single(__it);
}

void _Safe_unordered_container_base::_M_detach_local_single(
    _Safe_iterator_base* __it) const noexcept {
  unlink(_M_const_local_iter_head, _M_local_iter_head, __it);
}

void _Safe_unordered_container_base::_M_detach_all() const {
  __scoped_lock lock(_M_get_mutex());
  reset_list(_M_iter_head);
  reset_list(_M_const_iter_head);
  reset_list(_M_local_iter_head);
  reset_list(_M_const_local_iter_head);
}

void _Safe_unordered_container_base::_M_swap(
    _Safe_unordered_container_base& __x) noexcept {
  with_both_locked(*this, __x, [&] { swap_ucont_single(*this, __x); });
}

// ---- _Safe_local_iterator_base -------------------------------------------

_Safe_unordered_container_base*
_Safe_local_iterator_base::_M_get_container() const noexcept {
  return static_cast<_Safe_unordered_container_base*>(_M_owner);
}

void _Safe_local_iterator_base::_M_attach(_Safe_sequence_base* __seq,
                                          bool __constant) {
  _M_detach();
  if (__seq == nullptr) {
    _M_generation = 0;
    return;
  }
  auto* container = static_cast<_Safe_unordered_container_base*>(__seq);
  __scoped_lock lock(container->_M_get_mutex());
  store_owner(*this, container);
  _M_generation = container->_M_generation;
  container->_M_attach_local_single(this, __constant);
}

void _Safe_local_iterator_base::_M_attach_single(_Safe_sequence_base* __seq,
                                                 bool __constant) noexcept {
  _M_detach_single();
  if (__seq == nullptr) {
    _M_generation = 0;
    return;
  }
  auto* container = static_cast<_Safe_unordered_container_base*>(__seq);
  store_owner(*this, container);
  _M_generation = container->_M_generation;
  container->_M_attach_local_single(this, __constant);
}

void _Safe_local_iterator_base::_M_detach() {
  detach_locked(*this, [this] { _M_detach_single(); });
}

void _Safe_local_iterator_base::_M_detach_single() noexcept {
  if (_M_owner != nullptr) {
    _M_get_container()->_M_detach_local_single(this);
    _M_reset();
  }
}

} // namespace __zeb_debug
