// The tracked heap as the program's global operator new and delete, and the allocation
// with origin. Over-aligned requests bypass the tracked heap: C++ releases them only
// through the aligned deletes below, so the two heaps never mix.
#include <cstdint>
#include <cstdlib>
#include <new>

#include "twcl/base/tracked_heap.h"

namespace {

void* Allocate(std::size_t size, const char* file = nullptr, int line = 0) {
  // Even 0 bytes must give a distinct pointer.
  void* block = CL_TrackedAlloc(size == 0 ? 1 : size, file, line);
  // The fatal handler returned: a throwing operator new must not answer null, and the
  // library throws nothing.
  if (block == nullptr) std::abort();
  return block;
}

void* AllocateAligned(std::size_t size, std::align_val_t alignment) noexcept {
  const auto align = static_cast<std::size_t>(alignment);
  if (size > SIZE_MAX - align) return nullptr;
  // aligned_alloc wants a whole number of alignments.
  const std::size_t rounded = size == 0 ? align : (size + align - 1) / align * align;
  return std::aligned_alloc(align, rounded);
}

void* AllocateAlignedOrAbort(std::size_t size, std::align_val_t alignment) {
  void* block = AllocateAligned(size, alignment);
  if (block == nullptr) std::abort();
  return block;
}

}  // namespace

void* operator new(std::size_t size) {
  return Allocate(size);
}

void* operator new[](std::size_t size) {
  return Allocate(size);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return CL_TrackedAlloc(size == 0 ? 1 : size);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return CL_TrackedAlloc(size == 0 ? 1 : size);
}

void operator delete(void* block) noexcept {
  CL_TrackedFree(block);
}

void operator delete[](void* block) noexcept {
  CL_TrackedFree(block);
}

void operator delete(void* block, std::size_t) noexcept {
  CL_TrackedFree(block);
}

void operator delete[](void* block, std::size_t) noexcept {
  CL_TrackedFree(block);
}

void operator delete(void* block, const std::nothrow_t&) noexcept {
  CL_TrackedFree(block);
}

void operator delete[](void* block, const std::nothrow_t&) noexcept {
  CL_TrackedFree(block);
}

void* operator new(std::size_t size, std::align_val_t alignment) {
  return AllocateAlignedOrAbort(size, alignment);
}

void* operator new[](std::size_t size, std::align_val_t alignment) {
  return AllocateAlignedOrAbort(size, alignment);
}

void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return AllocateAligned(size, alignment);
}

void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return AllocateAligned(size, alignment);
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

void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept {
  std::free(block);
}

void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept {
  std::free(block);
}

void* operator new(std::size_t size, const char* file, int line) {
  return Allocate(size, file, line);
}

void* operator new[](std::size_t size, const char* file, int line) {
  return Allocate(size, file, line);
}

void operator delete(void* block, const char*, int) noexcept {
  CL_TrackedFree(block);
}

void operator delete[](void* block, const char*, int) noexcept {
  CL_TrackedFree(block);
}
