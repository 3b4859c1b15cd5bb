#include "support/allocation_counter.h"

#include <cstdlib>
#include <new>

namespace {
long long gAllocations = 0;
}  // namespace

void* operator new(std::size_t size) {
  ++gAllocations;
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}

long long dunelo::allocationCount() {
  return gAllocations;
}
