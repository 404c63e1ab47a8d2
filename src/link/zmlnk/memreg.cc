// The allocation registry and its registered buffers.
#include "memreg.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <optional>

#include "platform.h"
#include "text_util.h"

namespace flatrec {

namespace {

void StandardError(void*, std::string_view message) {
  TWFileWrite(stderr, static_cast<uint32_t>(message.size()), message.data());
}

std::string BaseName(const char* path) {
  std::string_view p(path);
  size_t cut = p.find_last_of("/\\");
  return std::string(cut == std::string_view::npos ? p : p.substr(cut + 1));
}

}  // namespace

MemRegistry::MemRegistry() : sink_(&StandardError) {}

MemRegistry::~MemRegistry() {
  for (Slot& s : slots_)
    if (s.inUse && s.owned) std::free(s.block);
}

void MemRegistry::Report(std::string_view text, bool audit) {
  std::string line = std::string(audit ? "ZMLNK:  " : "ZMLNK: ") + std::string(text);
  if (line.empty() || line.back() != '\n') line.push_back('\n');
  sink_(sinkUser_, line);
}

uint32_t MemRegistry::Init() {
  char value[32];
  uint32_t length = sizeof value - 1;
  if (TWPlatGetEnv("ZM.ELEMENTS", value, &length) != TWSUCCESS) return InitSlots(0);
  std::string_view text = Trim(std::string_view(value, length));
  // TWPlatPutEnv wraps values in double quotes.
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
    text = text.substr(1, text.size() - 2);
  uint64_t slots = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), slots);
  if (ec != std::errc() || slots > kMaxSlots) {
    Report(Format("Invalid ZM.ELEMENTS value: %.*s", static_cast<int>(text.size()), text.data()),
           false);
    return TWFAIL_EXTERNAL;
  }
  return InitSlots(static_cast<uint32_t>(slots));
}

uint32_t MemRegistry::InitSlots(uint32_t slots) {
  live_ = 0;
  slots_.clear();
  if (slots > kMaxSlots) return TWFAIL_EXTERNAL;
  try {
    slots_.resize(slots);
  } catch (const std::bad_alloc&) {
    slots_.clear();
    return TWFAIL_EXTERNAL;
  }
  return TWSUCCESS;
}

MemRegistry::Slot* MemRegistry::FreeSlot() {
  for (Slot& s : slots_)
    if (!s.inUse) return &s;
  return nullptr;
}

void MemRegistry::Take(Slot* slot, void* block, size_t size, bool owned, const char* label,
                       const CallSite& where) {
  slot->inUse = true;
  slot->block = block;
  slot->owned = owned;
  slot->line = where.line();
  slot->size = static_cast<uint32_t>(size);
  ++slot->uses;
  slot->label = label;
  slot->file = BaseName(where.file_name());
  TWDatetimeSetCurrent(&slot->allocated);
  TWDatetimeClear(&slot->released);
}

uint32_t MemRegistry::Alloc(size_t size, const char* label, void** block, CallSite where) {
  std::optional<Routine> routine;
  if (tracer_ != nullptr) routine.emplace(*tracer_, "ZP_MemAlloc: ");
  const uint32_t status = Allocate(size, label, block, where);
  return routine ? routine->Exit(status) : status;
}

uint32_t MemRegistry::Allocate(size_t size, const char* label, void** block, CallSite where) {
  *block = nullptr;
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) {
    Report(Format("Memory allocation error 0x%04x: from %sline %d (%lu) ", TWFAIL_MEMORY, label,
                  static_cast<int>(where.line()), static_cast<unsigned long>(size)),
           false);
    return TWFAIL_MEMORY;
  }
  if (on()) {
    // Without a free slot the block is handed out unrecorded and uncounted.
    if (Slot* slot = FreeSlot()) {
      Take(slot, p, size, true, label, where);
      ++live_;
    }
  } else {
    ++live_;
  }
  *block = p;
  return TWSUCCESS;
}

uint32_t MemRegistry::Register(void* block, size_t size, const char* label, CallSite where) {
  std::optional<Routine> routine;
  if (tracer_ != nullptr) routine.emplace(*tracer_, "ZP_MemAlloc: ");
  const uint32_t status = Accept(block, size, label, where);
  return routine ? routine->Exit(status) : status;
}

uint32_t MemRegistry::Accept(void* block, size_t size, const char* label, CallSite where) {
  if (block == nullptr) {
    Report(Format("Memory registration error (NULLHANDLE): from %sline %d", label,
                  static_cast<int>(where.line())),
           false);
    return TWFAIL_MEMORY;
  }
  if (on()) {
    if (Slot* slot = FreeSlot()) {
      Take(slot, block, size, false, label, where);
      ++live_;
    }
  } else {
    ++live_;
  }
  return TWSUCCESS;
}

uint32_t MemRegistry::Free(void* block, bool release, const char* label, CallSite where) {
  const int line = static_cast<int>(where.line());
  if (live_ == 0) {
    Report(Format("Memory free error, element count is 0: from %sline %d", label, line), false);
    if (release) std::free(block);
    return block == nullptr ? TWFAIL_EXTERNAL : TWSUCCESS;
  }
  if (block == nullptr) {
    Report(Format("Memory free error: from %sline %d", label, line), false);
    return TWFAIL_EXTERNAL;
  }
  if (on()) {
    for (Slot& s : slots_) {
      if (!s.inUse || s.block != block) continue;
      TWDatetimeSetCurrent(&s.released);
      s.inUse = false;
      s.block = nullptr;
      --live_;
      break;
    }
  } else {
    --live_;
  }
  if (release) std::free(block);
  return TWSUCCESS;
}

void MemRegistry::Audit() {
  if (!on()) return;
  uint32_t inUse = 0;
  for (const Slot& s : slots_) {
    if (!s.inUse) continue;
    ++inUse;
    Report(
        Format("Allocated: %lu bytes from %s - %s, line %d\n", static_cast<unsigned long>(s.size),
               s.label.c_str(), s.file.c_str(), static_cast<int>(s.line)),
        true);
  }
  Report(Format("Allocated count=%d, actual count=%d\n", static_cast<int>(live_),
                static_cast<int>(inUse)),
         true);
}

uint32_t MemRegistry::Term() {
  uint32_t status = TWSUCCESS;
  for (Slot& s : slots_) {
    if (!s.inUse) continue;
    Report(Format("Leak, %lu bytes from %s - %s, line %d", static_cast<unsigned long>(s.size),
                  s.label.c_str(), s.file.c_str(), static_cast<int>(s.line)),
           false);
    if (s.owned) std::free(s.block);
    s = Slot{};
    if (live_ > 0) --live_;
    status = TWFAIL_EXTERNAL;
  }
  slots_.clear();
  if (live_ > 0) {
    Report(Format("%lu memory objects remain allocated", static_cast<unsigned long>(live_)), false);
    status = TWFAIL_EXTERNAL;
  }
  return status;
}

RegBuffer& RegBuffer::operator=(RegBuffer&& o) noexcept {
  if (this != &o) {
    Reset();
    registry_ = o.registry_;
    data_ = o.data_;
    size_ = o.size_;
    o.registry_ = nullptr;
    o.data_ = nullptr;
    o.size_ = 0;
  }
  return *this;
}

uint32_t RegBuffer::Allocate(MemRegistry& registry, size_t size, const char* label,
                             CallSite where) {
  Reset();
  void* block = nullptr;
  if (uint32_t st = registry.Alloc(size, label, &block, where)) return st;
  registry_ = &registry;
  data_ = static_cast<char*>(block);
  size_ = size;
  return TWSUCCESS;
}

void RegBuffer::Reset() {
  // A leak or double free is traced by the registry; a reset has nothing to answer.
  if (data_ != nullptr) (void)registry_->Free(data_, true, "ZP_MemFree: ");
  registry_ = nullptr;
  data_ = nullptr;
  size_ = 0;
}

}  // namespace flatrec
