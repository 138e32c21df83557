// The bookkeeping under threads: the locking rules of swap, the errors of
// the scoped lock, and many threads working on shared sequences (run under
// ThreadSanitizer by the tsan preset).
#include "tests/debug/checked_container.h"

#include <atomic>
#include <barrier>
#include <cerrno>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <thread>

namespace velk::test {
namespace {

using __zeb_cxx::__concurrence_lock_error;
using __zeb_cxx::__concurrence_unlock_error;
using __zeb_cxx::__mutex;
using __zeb_cxx::__scoped_lock;

// Locking starts with the second thread; each test runs in a process of
// its own, so start one.
void start_threads() {
  std::thread([] {}).join();
  ASSERT_TRUE(__zeb_cxx::__threads_active());
}

// Sequences in an array land on every pool mutex; returns two that share
// one, or two that do not.
std::pair<checked_seq*, checked_seq*> pick_pair(std::vector<checked_seq>& seqs,
                                                bool same_mutex) {
  for (auto& a : seqs)
    for (auto& b : seqs)
      if (&a != &b && (&a._M_get_mutex() == &b._M_get_mutex()) == same_mutex)
        return {&a, &b};
  return {nullptr, nullptr};
}

TEST(DebugSwapLocking, SequencesSharingAMutexLockItOnce) {
  start_threads();
  std::vector<checked_seq> seqs(20);
  auto [s, t] = pick_pair(seqs, true);
  ASSERT_NE(s, nullptr);
  // Relocking an error-checking mutex fails, which ends a swap.
  make_error_checking(s->_M_get_mutex());
  checked_iter a(*s), b(*t);
  s->swap(*t);
  EXPECT_EQ(list_of(t->_M_iter_head, t), (nodes{&a}));
  EXPECT_EQ(list_of(s->_M_iter_head, s), (nodes{&b}));
  // And it was released.
  EXPECT_EQ(pthread_mutex_trylock(s->_M_get_mutex().native_handle()), 0);
  pthread_mutex_unlock(s->_M_get_mutex().native_handle());
}

TEST(DebugSwapLocking, DifferentMutexesAreTakenLowerAddressFirst) {
  start_threads();
  std::vector<checked_seq> seqs(4);
  checked_seq* s = pick_pair(seqs, false).first;
  checked_seq* t = pick_pair(seqs, false).second;
  ASSERT_NE(s, nullptr);
  __mutex* lower = &s->_M_get_mutex();
  __mutex* higher = &t->_M_get_mutex();
  if (std::less<__mutex*>()(higher, lower))
    std::swap(lower, higher);

  for (bool forward : {true, false}) {
    SCOPED_TRACE(forward ? "s.swap(t)" : "t.swap(s)");
    // With the higher mutex held here, a swap that follows the order takes
    // the lower one and then waits; one that does not never takes it.
    pthread_mutex_lock(higher->native_handle());
    std::thread swapper([&] { forward ? s->swap(*t) : t->swap(*s); });
    bool lower_taken = false;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!lower_taken && std::chrono::steady_clock::now() < deadline) {
      int rc = pthread_mutex_trylock(lower->native_handle());
      if (rc == EBUSY)
        lower_taken = true;
      else {
        if (rc == 0)
          pthread_mutex_unlock(lower->native_handle());
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    }
    pthread_mutex_unlock(higher->native_handle());
    swapper.join();
    EXPECT_TRUE(lower_taken);
  }
}

// These misuse mutexes on purpose, which ThreadSanitizer reports.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define SKIP_UNDER_THREAD_SANITIZER() GTEST_SKIP() << "deliberate mutex misuse"
#endif
#endif
#ifndef SKIP_UNDER_THREAD_SANITIZER
#define SKIP_UNDER_THREAD_SANITIZER() (void)0
#endif

TEST(DebugMutexErrors, LockAndUnlockFailuresThrowTheirErrors) {
  SKIP_UNDER_THREAD_SANITIZER();
  start_threads();
  __mutex m;
  make_error_checking(m);
  {
    __scoped_lock held(m);
    try {
      __scoped_lock again(m);
      ADD_FAILURE() << "relocking succeeded";
    } catch (const __concurrence_lock_error& e) {
      EXPECT_STREQ(e.what(), "__zeb_cxx::__concurrence_lock_error");
    }
  }
  try {
    m.unlock(); // not held
    ADD_FAILURE() << "unlocking a free mutex succeeded";
  } catch (const __concurrence_unlock_error& e) {
    EXPECT_STREQ(e.what(), "__zeb_cxx::__concurrence_unlock_error");
  }
  m.lock();
  m.unlock();
}

TEST(DebugMutexErrors, AnUnlockFailureInTheScopedLockTerminates) {
  SKIP_UNDER_THREAD_SANITIZER();
  start_threads();
  EXPECT_DEATH(
      {
        __mutex m;
        make_error_checking(m);
        __scoped_lock held(m);
        pthread_mutex_unlock(m.native_handle()); // now the destructor fails
      },
      "__concurrence_unlock_error");
}

// Many threads attach, reattach and destroy iterators of shared sequences
// and swap those sequences, some pairs on one mutex, some on two.  Then
// every list must be intact and hold exactly the live iterators.
TEST(DebugConcurrency, ThreadsShareSequencesIteratorsAndSwaps) {
  constexpr int thread_count = 4;
  constexpr int steps = 4000;
  std::vector<checked_seq> seqs(18); // indices 0 and 16 share a mutex
  std::vector<checked_unordered> unordered(2);
  ASSERT_NE(pick_pair(seqs, true).first, nullptr);

  struct owned {
    std::vector<std::unique_ptr<checked_iter>> iters;
    std::vector<std::unique_ptr<checked_local_iter>> locals;
  };
  std::vector<owned> kept(thread_count);
  std::vector<std::thread> threads;
  for (int t = 0; t < thread_count; ++t) {
    threads.emplace_back([&, t] {
      std::mt19937 rng(t + 1);
      auto pick = [&](std::size_t n) { return std::size_t(rng() % n); };
      owned& mine = kept[t];
      for (int step = 0; step < steps; ++step) {
        switch (pick(9)) {
        case 0:
        case 1:
        case 2:
          mine.iters.push_back(std::make_unique<checked_iter>(
              seqs[pick(seqs.size())], pick(2) == 0));
          break;
        case 3:
          if (!mine.iters.empty())
            mine.iters[pick(mine.iters.size())]->attach(
                &seqs[pick(seqs.size())], pick(2) == 0);
          break;
        case 4:
        case 5:
          if (!mine.iters.empty()) {
            std::swap(mine.iters[pick(mine.iters.size())], mine.iters.back());
            mine.iters.pop_back();
          }
          break;
        case 6: {
          // Same mutex (0 and 16) half of the time.
          std::size_t a = pick(2) == 0 ? 0 : pick(seqs.size());
          std::size_t b = a == 0 ? 16 : pick(seqs.size());
          seqs[a].swap(seqs[b]);
          break;
        }
        case 7:
          if (mine.locals.size() < 8)
            mine.locals.push_back(std::make_unique<checked_local_iter>(
                unordered[pick(2)], pick(2) == 0));
          else
            mine.locals.erase(mine.locals.begin() + pick(8));
          break;
        case 8:
          unordered[0].swap(unordered[1]);
          break;
        }
      }
    });
  }
  for (auto& th : threads)
    th.join();

  std::size_t live = 0, listed = 0;
  for (const owned& o : kept)
    live += o.iters.size() + o.locals.size();
  for (const checked_seq& s : seqs)
    listed += list_of(s._M_iter_head, &s).size() +
              list_of(s._M_const_iter_head, &s).size();
  for (const checked_unordered& u : unordered) {
    listed += list_of(u._M_local_iter_head, &u).size() +
              list_of(u._M_const_local_iter_head, &u).size();
    EXPECT_EQ(u._M_iter_head, nullptr);
  }
  EXPECT_EQ(listed, live);
}

// Iterators leave their sequence while another thread destroys it: each
// either unlinks itself first or finds itself already reset.
TEST(DebugConcurrency, IteratorsDetachWhileTheirSequenceIsDestroyed) {
  constexpr int thread_count = 3;
  constexpr int rounds = 300;
  std::optional<checked_seq> seq;
  std::barrier sync(thread_count + 1);
  std::vector<std::thread> threads;
  for (int t = 0; t < thread_count; ++t) {
    threads.emplace_back([&] {
      for (int r = 0; r < rounds; ++r) {
        sync.arrive_and_wait(); // the sequence exists
        std::vector<std::unique_ptr<checked_iter>> iters;
        for (int i = 0; i < 6; ++i)
          iters.push_back(std::make_unique<checked_iter>(*seq, i % 2 == 0));
        sync.arrive_and_wait(); // all attached
        iters.clear();
        sync.arrive_and_wait(); // round over
      }
    });
  }
  for (int r = 0; r < rounds; ++r) {
    seq.emplace();
    sync.arrive_and_wait();
    sync.arrive_and_wait();
    seq.reset();
    sync.arrive_and_wait();
  }
  for (auto& th : threads)
    th.join();
}

} // namespace
} // namespace velk::test
