// The tracked heap: every block carries a header that links it into one list of live
// blocks, so a program can count bytes in use, keep a high-water mark, and list the blocks
// still alive at the end of a scope (CL_MemoryLeakChecker). Fresh memory is filled with
// 0x02, released memory with 0x03. Exhausted memory is fatal (CL_Error::Fatal).
//
// The functions here work on their own; a program makes them its global operator new and
// delete by linking the target twcl_tracked_new (the windowed installer does).
//
// Thread rules: every function may be called from any thread; the list and the counters
// are guarded by one lock.
#ifndef TW_TWCL_BASE_TRACKED_HEAP_H_
#define TW_TWCL_BASE_TRACKED_HEAP_H_

#include <cstddef>
#include <cstdint>
#include <iosfwd>

inline constexpr std::uint32_t CL_HeapMagic = 0xF9A42BB1u;
inline constexpr unsigned char CL_HeapFreshByte = 0x02;
inline constexpr unsigned char CL_HeapReleasedByte = 0x03;

// A block of size bytes aligned for any type, or null for size 0 (nothing counted). file
// and line record where it was asked for (file is not copied: a string literal). When
// memory is exhausted Fatal is called; if its handler returns, the answer is null and no
// state changed.
void* CL_TrackedAlloc(std::size_t size, const char* file = nullptr, int line = 0);
// Releases a block from CL_TrackedAlloc; null is ignored. A block whose header is damaged
// is left untouched (and reported when CL_SetHeapCheck is on). A block that a leak report
// has dropped from tracking is neither unlinked nor filled.
void CL_TrackedFree(void* block);

// Bytes requested by the live blocks, and the highest value that ever reached.
std::int64_t CL_CurrentMemoryUsed();
std::int64_t CL_MaxMemoryUsed();
// Walks the list of tracked blocks under the lock and answers whether every header has
// its magic and every link agrees with its neighbour's; for tests and diagnostics.
bool CL_HeapListIntact();
// Reporting of damaged headers on release (off at start): "TWCL op delete (%8lx): memory
// corrupted". Answers the previous setting.
bool CL_SetHeapCheck(bool on);

// Reports, at destruction, the blocks allocated after its construction that are still
// alive, oldest first, to out:
//   "\n\n\nCL_MemoryLeakChecker: Memory leaks:\n-----------------------------------\n"
//   "Time: <serial> Address: <header address, hex> Size: <n> bytes[ line <l> File: <f>]\n"
// Nothing is written when there is no such block or out is not good. Afterwards every live
// block is dropped from tracking (later allocations start a new list).
class CL_MemoryLeakChecker {
 public:
  explicit CL_MemoryLeakChecker(std::ostream& out);  // out must outlive the checker
  ~CL_MemoryLeakChecker();
  CL_MemoryLeakChecker(const CL_MemoryLeakChecker&) = delete;
  CL_MemoryLeakChecker& operator=(const CL_MemoryLeakChecker&) = delete;

 private:
  std::ostream& _out;
  std::uint64_t _mark;  // the event counter at construction
};

// Allocation with origin; defined by twcl_tracked_new only (with the global operators), so
// a program that uses it without them fails to link instead of mixing heaps.
void* operator new(std::size_t size, const char* file, int line);
void* operator new[](std::size_t size, const char* file, int line);
void operator delete(void* block, const char* file, int line) noexcept;
void operator delete[](void* block, const char* file, int line) noexcept;

#endif  // TW_TWCL_BASE_TRACKED_HEAP_H_
