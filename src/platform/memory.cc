// Memory blocks of the C library's heap, aligned for any type; a size of 0 counts as 1.
#include <cstdlib>

#include "platform.h"

namespace {

size_t at_least_one(uint32_t size) {
  return size == 0 ? 1 : size;
}

}  // namespace

extern "C" {

TW_API void* TWMemAlloc(uint32_t size) {
  return std::malloc(at_least_one(size));
}

TW_API void* TWMemCalloc(uint32_t size) {
  return std::calloc(1, at_least_one(size));
}

// realloc keeps the first min(old, new) bytes, resizes in place when it can, and leaves the
// old block alone when it fails; the caller's oldSize is therefore never trusted for copying.
TW_API void* TWMemRealloc(void* block, uint32_t oldSize, uint32_t newSize) {
  if (block == nullptr) return nullptr;
  return std::realloc(block, at_least_one(newSize));
}

TW_API void TWMemFree(void* block) {
  std::free(block);
}

}  // extern "C"
