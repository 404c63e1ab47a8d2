// The tracked heap: headed blocks in one list of live blocks, byte counters, and the leak
// report that lists and then drops the blocks of a scope.
#include "twcl/base/tracked_heap.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <ostream>

#include "twcl/base/error.h"

namespace {

// Padded to the strictest fundamental alignment, so the caller's bytes just behind it are
// aligned for any type.
struct alignas(std::max_align_t) Header {
  std::uint32_t magic;
  // The list a block was linked into; a leak report starts a new one, and a block of an
  // older list must not be unlinked through neighbours that may be gone.
  std::uint32_t generation;
  std::uint64_t serial;
  Header* prev;
  Header* next;
  const char* file;
  std::int64_t line;
  std::size_t size;
};
static_assert(sizeof(Header) % alignof(std::max_align_t) == 0);

constexpr std::size_t kLargestRequest = PTRDIFF_MAX - sizeof(Header);

// Constant-initialised: the global operator new may run before any constructor does.
// Everything below but heap_check is guarded by heap_lock.
constinit std::mutex heap_lock;
constinit Header* head = nullptr;
constinit Header* tail = nullptr;
constinit std::int64_t linked = 0;
constinit std::uint32_t generation = 0;
constinit std::uint64_t events = 0;
constinit std::int64_t in_use = 0;
constinit std::int64_t max_used = 0;
constinit std::atomic<bool> heap_check{false};

unsigned char* BlockOf(Header* header) {
  return reinterpret_cast<unsigned char*>(header) + sizeof(Header);
}

Header* HeaderOf(void* block) {
  return reinterpret_cast<Header*>(static_cast<unsigned char*>(block) - sizeof(Header));
}

struct Leak {
  std::uint64_t serial;
  const void* address;
  std::size_t size;
  std::int64_t line;
  const char* file;
};

}  // namespace

void* CL_TrackedAlloc(std::size_t size, const char* file, int line) {
  if (size == 0) return nullptr;
  void* raw = size <= kLargestRequest ? std::malloc(sizeof(Header) + size) : nullptr;
  if (raw == nullptr) {
    // No lock is held here: a fatal handler that returns may allocate again.
    CL_Error::Fatal("TWCL base: allocating %zu bytes: no memory!", size);
    return nullptr;
  }
  Header* header = ::new (raw) Header{CL_HeapMagic, 0, 0, nullptr, nullptr, file, line, size};
  {
    const std::lock_guard lock(heap_lock);
    in_use += static_cast<std::int64_t>(size);
    if (in_use > max_used) max_used = in_use;
    header->serial = events++;
    header->generation = generation;
    header->prev = tail;
    (tail != nullptr ? tail->next : head) = header;
    tail = header;
    ++linked;
  }
  std::memset(BlockOf(header), CL_HeapFreshByte, size);
  return BlockOf(header);
}

void CL_TrackedFree(void* block) {
  if (block == nullptr) return;
  Header* header = HeaderOf(block);
  if (header->magic != CL_HeapMagic) {
    // Whatever damaged the header may have damaged its links too: leave the block alone.
    if (heap_check.load())
      CL_Error::Warning("TWCL op delete (%8lx): memory corrupted",
                        static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(block)));
    return;
  }
  const std::size_t size = header->size;
  bool tracked;
  {
    const std::lock_guard lock(heap_lock);
    in_use -= static_cast<std::int64_t>(size);
    ++events;
    tracked = header->generation == generation;
    if (tracked) {
      (header->prev != nullptr ? header->prev->next : head) = header->next;
      (header->next != nullptr ? header->next->prev : tail) = header->prev;
      --linked;
    }
  }
  if (tracked) std::memset(static_cast<void*>(header), CL_HeapReleasedByte, sizeof(Header) + size);
  std::free(header);
}

std::int64_t CL_CurrentMemoryUsed() {
  const std::lock_guard lock(heap_lock);
  return in_use;
}

std::int64_t CL_MaxMemoryUsed() {
  const std::lock_guard lock(heap_lock);
  return max_used;
}

bool CL_HeapListIntact() {
  const std::lock_guard lock(heap_lock);
  const Header* previous = nullptr;
  std::int64_t seen = 0;
  for (const Header* h = head; h != nullptr; h = h->next) {
    if (++seen > linked || h->magic != CL_HeapMagic || h->prev != previous) return false;
    previous = h;
  }
  return previous == tail && seen == linked;
}

bool CL_SetHeapCheck(bool on) {
  return heap_check.exchange(on);
}

CL_MemoryLeakChecker::CL_MemoryLeakChecker(std::ostream& out) : _out(out) {
  const std::lock_guard lock(heap_lock);
  _mark = events;
}

CL_MemoryLeakChecker::~CL_MemoryLeakChecker() {
  if (!_out.good()) return;
  Leak* leaks = nullptr;
  std::size_t count = 0;
  {
    const std::lock_guard lock(heap_lock);
    if (head == nullptr) return;
    for (const Header* h = head; h != nullptr; h = h->next) count += h->serial >= _mark ? 1 : 0;
    // Plain malloc: operator new may be this very heap, whose lock is held.
    if (count > 0) leaks = static_cast<Leak*>(std::malloc(count * sizeof(Leak)));
    if (leaks == nullptr) count = 0;
    std::size_t i = 0;
    for (Header* h = head; h != nullptr && i < count; h = h->next)
      if (h->serial >= _mark) leaks[i++] = {h->serial, h, h->size, h->line, h->file};
    head = tail = nullptr;
    linked = 0;
    ++generation;
  }
  if (count > 0) {
    _out << "\n\n\nCL_MemoryLeakChecker: Memory leaks:\n"
         << "-----------------------------------\n";
    for (std::size_t i = 0; i < count; ++i) {
      const Leak& leak = leaks[i];
      _out << "Time: " << leak.serial << " Address: " << std::hex
           << reinterpret_cast<std::uintptr_t>(leak.address) << std::dec << " Size: " << leak.size
           << " bytes";
      if (leak.line != 0)
        _out << " line " << leak.line << " File: " << (leak.file != nullptr ? leak.file : "");
      _out << std::endl;
    }
  }
  std::free(leaks);
}
