// A checked container and its iterators reduced to what the bookkeeping
// sees, standing in for the C++ library's checked-mode headers: they attach
// iterators, bump the generation to invalidate them all, and swap.
#pragma once

#include <gtest/gtest.h>
#include <pthread.h>
#include <vector>
#include <velk/debug/safe_base.h>

namespace velk::test {

using nodes = std::vector<const __zeb_debug::_Safe_iterator_base*>;

struct checked_seq : __zeb_debug::_Safe_sequence_base {
  checked_seq() = default;
  checked_seq(const checked_seq&) = delete;
  void invalidate_all() { ++_M_generation; }
  void swap(checked_seq& other) noexcept { _M_swap(other); }
};

class checked_iter : public __zeb_debug::_Safe_iterator_base {
public:
  checked_iter() = default;
  explicit checked_iter(const __zeb_debug::_Safe_sequence_base& seq,
                        bool constant = false)
      : _Safe_iterator_base(&seq, constant), constant_(constant) {}
  checked_iter(const checked_iter& other)
      : _Safe_iterator_base(other, other.constant_),
        constant_(other.constant_) {}
  checked_iter& operator=(const checked_iter&) = delete;

  void attach(__zeb_debug::_Safe_sequence_base* seq, bool constant) {
    _M_attach(seq, constant);
    constant_ = constant;
  }

private:
  bool constant_ = false;
};

struct checked_unordered : __zeb_debug::_Safe_unordered_container_base {
  checked_unordered() = default;
  checked_unordered(const checked_unordered&) = delete;
  void invalidate_all() { ++_M_generation; }
  void swap(checked_unordered& other) noexcept { _M_swap(other); }
};

class checked_local_iter : public __zeb_debug::_Safe_local_iterator_base {
public:
  explicit checked_local_iter(const checked_unordered& c, bool constant = false)
      : _Safe_local_iterator_base(&c, constant) {}
};

// The nodes of the list at `head` in order; checks on the way that the back
// links mirror the forward links and that every node names `owner`.
inline nodes list_of(const __zeb_debug::_Safe_iterator_base* head,
                     const __zeb_debug::_Safe_sequence_base* owner) {
  nodes out;
  const __zeb_debug::_Safe_iterator_base* prev = nullptr;
  for (auto* it = head; it != nullptr; it = it->_M_next_link) {
    EXPECT_EQ(it->_M_prev_link, prev) << "broken back link";
    EXPECT_EQ(it->_M_owner, owner) << "node of another owner";
    out.push_back(it);
    prev = it;
    if (out.size() > 100000) {
      ADD_FAILURE() << "cycle in the list";
      break;
    }
  }
  return out;
}

// Makes `m` report relocking and foreign unlocking as errors instead of
// deadlocking or corrupting.
inline void make_error_checking(__zeb_cxx::__mutex& m) {
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_ERRORCHECK);
  pthread_mutex_destroy(m.native_handle());
  pthread_mutex_init(m.native_handle(), &attr);
  pthread_mutexattr_destroy(&attr);
}

} // namespace velk::test
