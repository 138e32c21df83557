// Whether the program runs threads, and the locking built on that answer.
#include <velk/debug/concurrence.h>

#include <atomic>

#if defined(__GLIBC__) &&                                                      \
    (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 32))
#include <sys/single_threaded.h>
#define VELK_DEBUG_SINGLE_THREADED_FLAG 1
#endif

namespace __zeb_cxx {

namespace {

// A weak reference: null when the program was linked without the thread
// library, which then cannot start a thread.
static __typeof(pthread_once) weak_pthread_once
    __attribute__((__weakref__("pthread_once")));

enum : int { unknown, active, inactive };
std::atomic<int> threads_state{unknown};

pthread_mutex_t decision_mutex = PTHREAD_MUTEX_INITIALIZER;
pthread_once_t decision_once = PTHREAD_ONCE_INIT;

void mark_active() {
  threads_state.store(active, std::memory_order_relaxed);
}

int decide_threads_state() noexcept {
  if (weak_pthread_once != nullptr) {
    // The thread library is present; only a working one-time initialiser
    // proves it is the real one and not a stub.
    pthread_mutex_lock(&decision_mutex);
    weak_pthread_once(&decision_once, mark_active);
    pthread_mutex_unlock(&decision_mutex);
  }
  int expected = unknown;
  threads_state.compare_exchange_strong(expected, inactive,
                                        std::memory_order_relaxed);
  return threads_state.load(std::memory_order_relaxed);
}

} // namespace

bool __threads_active() noexcept {
#ifdef VELK_DEBUG_SINGLE_THREADED_FLAG
  // Here the thread library is part of the C library, so its presence says
  // nothing.  The C library clears this flag in the thread that starts the
  // second thread, before that thread exists, so a false answer can never
  // be stale for the thread that reads it.
  if (__libc_single_threaded)
    return false;
#endif
  int state = threads_state.load(std::memory_order_relaxed);
  if (state == unknown)
    state = decide_threads_state();
  return state == active;
}

const char* __concurrence_lock_error::what() const noexcept {
  return "__zeb_cxx::__concurrence_lock_error";
}

const char* __concurrence_unlock_error::what() const noexcept {
  return "__zeb_cxx::__concurrence_unlock_error";
}

void __mutex::lock() {
  if (__threads_active() && pthread_mutex_lock(&_M_mutex) != 0)
    throw __concurrence_lock_error();
}

void __mutex::unlock() {
  if (__threads_active() && pthread_mutex_unlock(&_M_mutex) != 0)
    throw __concurrence_unlock_error();
}

__scoped_lock::__scoped_lock(__mutex& __m)
    : _M_device(__m), _M_locked(__threads_active()) {
  if (_M_locked && pthread_mutex_lock(_M_device.native_handle()) != 0)
    throw __concurrence_lock_error();
}

__scoped_lock::~__scoped_lock() {
  // Unlock exactly what the constructor locked, whatever
  // __threads_active() says now.  A destructor cannot report the failure:
  // the program ends, with the error as the terminate handler's current
  // exception.
  if (_M_locked && pthread_mutex_unlock(_M_device.native_handle()) != 0) {
    try {
      throw __concurrence_unlock_error();
    } catch (...) {
      std::terminate();
    }
  }
}

} // namespace __zeb_cxx
