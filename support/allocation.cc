#include "support/allocation.h"

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <new>
#include <unistd.h>

namespace velk {

namespace {

std::string_view allocation_program_name;

void write_all(std::string_view text) {
  while (!text.empty()) {
    ssize_t n = write(2, text.data(), text.size());
    if (n <= 0)
      return;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

} // namespace

void set_allocation_program_name(std::string_view name) {
  allocation_program_name = name;
}

void out_of_memory(std::size_t bytes) {
  // Room for the digits of any size_t.
  char digits[3 * sizeof(std::size_t) + 1];
  auto [end, ec] = std::to_chars(digits, digits + sizeof digits, bytes);
  (void)ec;
  write_all("\n");
  write_all(allocation_program_name);
  if (!allocation_program_name.empty())
    write_all(": ");
  write_all("out of memory allocating ");
  write_all(std::string_view(digits, static_cast<std::size_t>(end - digits)));
  write_all(" bytes\n");
  std::exit(1);
}

void* allocate(std::size_t bytes) {
  if (bytes == 0)
    bytes = 1;
  void* block = std::malloc(bytes);
  if (block == nullptr)
    out_of_memory(bytes);
  return block;
}

void* allocate_zeroed(std::size_t count, std::size_t size) {
  if (count == 0 || size == 0)
    count = size = 1;
  void* block = std::calloc(count, size);
  if (block == nullptr)
    out_of_memory(count * size);
  return block;
}

void* reallocate(void* block, std::size_t bytes) {
  if (bytes == 0)
    bytes = 1;
  void* grown = std::realloc(block, bytes);
  if (grown == nullptr)
    out_of_memory(bytes);
  return grown;
}

char* duplicate_string(const char* text) {
  std::size_t length = std::strlen(text);
  char* copy = static_cast<char*>(allocate(length + 1));
  std::memcpy(copy, text, length + 1);
  return copy;
}

char* duplicate_prefix(const char* text, std::size_t n) {
  std::size_t length = strnlen(text, n);
  char* copy = static_cast<char*>(allocate(length + 1));
  std::memcpy(copy, text, length);
  copy[length] = '\0';
  return copy;
}

} // namespace velk

// The replaceable allocation functions.  Sanitizers bring their own, which
// report exhaustion in their own way.
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) ||     \
    __has_feature(memory_sanitizer)
#define VELK_SANITIZER_ALLOCATOR 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VELK_SANITIZER_ALLOCATOR 1
#endif

#ifndef VELK_SANITIZER_ALLOCATOR
namespace {

void* new_block(std::size_t bytes) {
  if (bytes == 0)
    bytes = 1;
  for (;;) {
    if (void* block = std::malloc(bytes))
      return block;
    // A program may still free memory through its new-handler.
    std::new_handler handler = std::get_new_handler();
    if (handler == nullptr)
      velk::out_of_memory(bytes);
    handler();
  }
}

void* new_aligned_block(std::size_t bytes, std::align_val_t alignment) {
  std::size_t align = static_cast<std::size_t>(alignment);
  if (align < sizeof(void*))
    align = sizeof(void*);
  if (bytes == 0)
    bytes = 1;
  for (;;) {
    void* block = nullptr;
    if (posix_memalign(&block, align, bytes) == 0)
      return block;
    std::new_handler handler = std::get_new_handler();
    if (handler == nullptr)
      velk::out_of_memory(bytes);
    handler();
  }
}

} // namespace

void* operator new(std::size_t bytes) {
  return new_block(bytes);
}
void* operator new[](std::size_t bytes) {
  return new_block(bytes);
}
void* operator new(std::size_t bytes, std::align_val_t alignment) {
  return new_aligned_block(bytes, alignment);
}
void* operator new[](std::size_t bytes, std::align_val_t alignment) {
  return new_aligned_block(bytes, alignment);
}
// The nothrow forms keep their promise to return null.
void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept {
  return std::malloc(bytes == 0 ? 1 : bytes);
}
void* operator new[](std::size_t bytes, const std::nothrow_t&) noexcept {
  return std::malloc(bytes == 0 ? 1 : bytes);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
  std::free(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
  std::free(block);
}
void operator delete(void* block) noexcept {
  std::free(block);
}
void operator delete[](void* block) noexcept {
  std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
  std::free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
  std::free(block);
}
void operator delete(void* block, std::align_val_t) noexcept {
  std::free(block);
}
void operator delete[](void* block, std::align_val_t) noexcept {
  std::free(block);
}
void operator delete(void* block, std::size_t, std::align_val_t) noexcept {
  std::free(block);
}
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept {
  std::free(block);
}
#endif
