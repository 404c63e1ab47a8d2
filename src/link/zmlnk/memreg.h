// The allocation registry of the text-file connector: when the environment variable
// "ZM.ELEMENTS" names a number of slots, every buffer the connection allocates is recorded
// (caller, source line, size, times) and the buffers still alive are reported when the
// context ends. Messages go to standard error.
#ifndef TW_LINK_ZMLNK_MEMREG_H_
#define TW_LINK_ZMLNK_MEMREG_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "flowcore.h"
#include "trace.h"

namespace flatrec {

// Where a registry call was made: the caller's file and line, taken by the default argument
// at the call as std::source_location::current() would be (libstdc++'s source_location needs
// a builtin that clang 14 lacks; these two builtins exist in both compilers).
class CallSite {
 public:
  constexpr explicit CallSite(const char* file = __builtin_FILE(), uint32_t line = __builtin_LINE())
      : file_(file), line_(line) {}
  constexpr const char* file_name() const { return file_; }
  constexpr uint32_t line() const { return line_; }

 private:
  const char* file_;
  uint32_t line_;
};

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
  // The connection's tracer, which receives the entry and exit lines of each allocation.
  void set_tracer(Tracer* tracer) { tracer_ = tracer; }
  // Reads "ZM.ELEMENTS" and allocates that many slots (none when unset). A count that
  // cannot be allocated, or above kMaxSlots, leaves the registry off: 12325.
  [[nodiscard]] uint32_t Init();
  // As Init with a slot count given (tests).
  [[nodiscard]] uint32_t InitSlots(uint32_t slots);
  bool on() const { return !slots_.empty(); }
  uint32_t live() const { return live_; }

  // Allocates size bytes (not cleared) into *block: 258 on failure, reported. label names
  // the calling routine ("TWXConnect: ").
  [[nodiscard]] uint32_t Alloc(size_t size, const char* label, void** block,
                               CallSite where = CallSite());
  // Registers a block the caller already has (mode -1): a null block is 258, reported.
  [[nodiscard]] uint32_t Register(void* block, size_t size, const char* label,
                                  CallSite where = CallSite());
  // Forgets block and, with release set, frees it (it must come from Alloc). 12325 for a
  // null block or when nothing is counted.
  [[nodiscard]] uint32_t Free(void* block, bool release, const char* label,
                              CallSite where = CallSite());
  // One line per slot in use, then the counts; nothing when the registry is off.
  void Audit();
  // Reports and releases what is left, frees the slots; a live count left above zero is
  // reported also with the registry off. 0 or 12325.
  [[nodiscard]] uint32_t Term();

 private:
  [[nodiscard]] uint32_t Allocate(size_t size, const char* label, void** block, CallSite where);
  [[nodiscard]] uint32_t Accept(void* block, size_t size, const char* label, CallSite where);

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
            const CallSite& where);

  std::vector<Slot> slots_;
  uint32_t live_ = 0;
  Sink sink_ = nullptr;
  void* sinkUser_ = nullptr;
  Tracer* tracer_ = nullptr;
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
  [[nodiscard]] uint32_t Allocate(MemRegistry& registry, size_t size, const char* label,
                                  CallSite where = CallSite());
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
