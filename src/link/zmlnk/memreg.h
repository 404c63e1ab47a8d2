// The allocation registry of the text-file connector: when the environment variable
// "ZM.ELEMENTS" names a number of slots, every buffer the connection allocates is recorded
// (caller, source line, size, times) and the buffers still alive are reported when the
// context ends. Messages go to standard error.
#ifndef TW_LINK_ZMLNK_MEMREG_H_
#define TW_LINK_ZMLNK_MEMREG_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <source_location>
#include <string>
#include <string_view>
#include <vector>

#include "flowcore.h"

namespace flatrec {

class MemRegistry {
 public:
  // Where the registry's messages go (each already carries its "ZMLNK:" lead and line end);
  // standard error unless a test installs another.
  using Sink = void (*)(void* user, std::string_view message);
  static constexpr uint32_t kMaxSlots = 100000;

  MemRegistry();
  ~MemRegistry();
  MemRegistry(const MemRegistry&) = delete;
  MemRegistry& operator=(const MemRegistry&) = delete;

  void set_sink(Sink sink, void* user) {
    sink_ = sink;
    sinkUser_ = user;
  }
  // Reads "ZM.ELEMENTS" and allocates that many slots (none when unset). A count that
  // cannot be allocated, or above kMaxSlots, leaves the registry off: 12325.
  uint32_t Init();
  // As Init with a slot count given (tests).
  uint32_t InitSlots(uint32_t slots);
  bool on() const { return !slots_.empty(); }
  uint32_t live() const { return live_; }

  // Allocates size bytes (not cleared) into *block: 258 on failure, reported. label names
  // the calling routine ("TWXConnect: ").
  uint32_t Alloc(size_t size, const char* label, void** block,
                 std::source_location where = std::source_location::current());
  // Registers a block the caller already has (mode -1): a null block is 258, reported.
  uint32_t Register(void* block, size_t size, const char* label,
                    std::source_location where = std::source_location::current());
  // Forgets block and, with release set, frees it (it must come from Alloc). 12325 for a
  // null block or when nothing is counted.
  uint32_t Free(void* block, bool release, const char* label,
                std::source_location where = std::source_location::current());
  // One line per slot in use, then the counts; nothing when the registry is off.
  void Audit();
  // Reports and releases what is left, frees the slots; a live count left above zero is
  // reported also with the registry off. 0 or 12325.
  uint32_t Term();

 private:
  struct Slot {
    bool inUse = false;
    void* block = nullptr;
    bool owned = false;
    uint32_t line = 0;
    uint32_t size = 0;
    uint32_t uses = 0;
    std::string label;
    std::string file;
    TWDatetime allocated{};
    TWDatetime released{};
  };
  void Report(std::string_view text, bool audit);
  Slot* FreeSlot();
  void Take(Slot* slot, void* block, size_t size, bool owned, const char* label,
            const std::source_location& where);

  std::vector<Slot> slots_;
  uint32_t live_ = 0;
  Sink sink_ = nullptr;
  void* sinkUser_ = nullptr;
};

// A byte buffer allocated through a registry and freed through it when the object goes.
class RegBuffer {
 public:
  RegBuffer() = default;
  ~RegBuffer() { Reset(); }
  RegBuffer(const RegBuffer&) = delete;
  RegBuffer& operator=(const RegBuffer&) = delete;
  RegBuffer(RegBuffer&& o) noexcept { *this = std::move(o); }
  RegBuffer& operator=(RegBuffer&& o) noexcept;

  // Replaces the buffer by a new one of size bytes: 0 or 258.
  uint32_t Allocate(MemRegistry& registry, size_t size, const char* label,
                    std::source_location where = std::source_location::current());
  void Reset();
  char* data() { return data_; }
  const char* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  MemRegistry* registry_ = nullptr;
  char* data_ = nullptr;
  size_t size_ = 0;
};

}  // namespace flatrec

#endif  // TW_LINK_ZMLNK_MEMREG_H_
