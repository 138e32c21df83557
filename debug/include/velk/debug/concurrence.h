// Locking for the checked-iterator run-time: the pool mutexes, a scoped
// lock and the two errors a failed lock or unlock raises.
//
// Nothing here locks or touches an atomic while the program runs a single
// thread: __threads_active() decides, and the scoped lock asks it.
#pragma once

#include <exception>
#include <pthread.h>

namespace __zeb_cxx {

// True when the program may run more than one thread.  Decided the first
// time it is asked from whether the thread library is linked in; on C
// libraries that always carry the thread library, also false for as long as
// the process has never started a second thread.
bool __threads_active() noexcept;

class __concurrence_lock_error : public std::exception {
public:
  const char* what() const noexcept override;
};

class __concurrence_unlock_error : public std::exception {
public:
  const char* what() const noexcept override;
};

// A plain mutex that can be a constant-initialised static, so that it is
// usable before any constructor has run and after every destructor.
class __mutex {
public:
  constexpr __mutex() noexcept = default;
  __mutex(const __mutex&) = delete;
  __mutex& operator=(const __mutex&) = delete;

  // Both do nothing in a single-threaded program; they throw
  // __concurrence_lock_error and __concurrence_unlock_error on failure.
  void lock();
  void unlock();

  pthread_mutex_t* native_handle() noexcept { return &_M_mutex; }

private:
  pthread_mutex_t _M_mutex = PTHREAD_MUTEX_INITIALIZER;
};

// Holds a mutex for its lifetime when threads are active.  A failed unlock
// in the destructor ends the program through std::terminate.
class __scoped_lock {
public:
  explicit __scoped_lock(__mutex& __m);
  ~__scoped_lock();
  __scoped_lock(const __scoped_lock&) = delete;
  __scoped_lock& operator=(const __scoped_lock&) = delete;

private:
  __mutex& _M_device;
  bool _M_locked; // whether the constructor took the lock
};

} // namespace __zeb_cxx

namespace __zeb_internal {

// The process's pool of 16 mutexes shared by all checked containers;
// `__index` is 0 to 15, and the same index always yields the same mutex.
__zeb_cxx::__mutex& get_mutex(unsigned char __index);

} // namespace __zeb_internal
