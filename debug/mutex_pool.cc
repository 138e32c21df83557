// The pool of mutexes shared by all checked containers.  It belongs with the
// rest of the C++ library's locking and has a file of its own so that it can
// be replaced there without touching the bookkeeping.
#include <velk/debug/concurrence.h>

namespace __zeb_internal {

namespace {

constexpr unsigned pool_size = 16;

// Constant-initialised and never destroyed: usable by iterators of static
// containers before main and during exit.
__zeb_cxx::__mutex pool[pool_size];

} // namespace

__zeb_cxx::__mutex& get_mutex(unsigned char __index) {
  return pool[__index % pool_size];
}

} // namespace __zeb_internal
