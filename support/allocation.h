// Allocation that never returns failure.  When memory runs out, the program
// writes "\nPROGRAM: out of memory allocating N bytes\n" to standard error
// and exits with status 1, so that its exit handlers still delete its
// temporary files.  This holds for the C-style functions below and, in the
// programs, for every operator new (replaced in allocation.cc; sanitizer
// builds keep their own).
#pragma once

#include <cstddef>
#include <string_view>

namespace velk {

// The name the out-of-memory message begins with; set once at start-up.
// The text must live as long as the process (argv[0] does).
void set_allocation_program_name(std::string_view name);

// Writes the out-of-memory message for a request of `bytes` and exits with
// status 1.  Allocates nothing.
[[noreturn]] void out_of_memory(std::size_t bytes);

// malloc, calloc, realloc, strdup and strndup that never fail; a request
// for 0 bytes is served as 1 byte.
void* allocate(std::size_t bytes);
void* allocate_zeroed(std::size_t count, std::size_t size);
void* reallocate(void* block, std::size_t bytes);
char* duplicate_string(const char* text);
char* duplicate_prefix(const char* text, std::size_t n);

} // namespace velk
