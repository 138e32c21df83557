// A program that has never started a thread takes no lock; once it starts
// one, every list operation locks.  This runs in a process of its own (no
// other test may have started a thread before it).
#include "tests/debug/checked_container.h"

#include <thread>

namespace velk::test {
namespace {

TEST(DebugSingleThread, NoLockIsTakenUntilASecondThreadStarts) {
  checked_seq s, t;
  // The pool mutex of `s`, held here and error-checking: any attempt of the
  // bookkeeping to take it fails with a lock error instead of deadlocking.
  __zeb_cxx::__mutex& m = s._M_get_mutex();
  make_error_checking(m);
  ASSERT_EQ(pthread_mutex_lock(m.native_handle()), 0);

  EXPECT_FALSE(__zeb_cxx::__threads_active());
  auto work = [&] {
    checked_iter a(s), b(s, true), c(t);
    a._M_detach();
    s.invalidate_all();
    s._M_revalidate_singular();
    s._M_detach_singular();
    s.swap(t);
    t.swap(s);
    s._M_detach_all();
  };
  EXPECT_NO_THROW(work());

  std::thread([] {}).join();
  EXPECT_TRUE(__zeb_cxx::__threads_active());
  EXPECT_THROW(checked_iter(s, false), __zeb_cxx::__concurrence_lock_error);
  pthread_mutex_unlock(m.native_handle());
}

} // namespace
} // namespace velk::test
