// The core bridge for nordex: head and value blocks of a document's items, appends and the
// identity header.
#include "core_bridge.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <tuple>
#include <unordered_map>

#include "document.h"
#include "nordex.h"
#include "richtext.h"
#include "session.h"
#include "tw/coding.h"
#include "value.h"

namespace plexa {
namespace {

constexpr size_t kMaxCoreValue = 16u << 20;

struct Block {
  uint32_t doc = 0;
  uint32_t serial = 0;
  bool head = false;
  std::string bytes;  // built at the first lock; the item never changes under one serial
  uint32_t locks = 0;
};

struct Blocks {
  std::mutex mu;
  uint32_t next = 0;
  std::unordered_map<uint32_t, Block> byId;
  std::map<std::tuple<uint32_t, uint32_t, bool>, uint32_t> byItem;
};
Blocks& B() {
  static Blocks* b = new Blocks;  // never destroyed: documents may close during exit
  return *b;
}

// The block of a document item (made on first use). 0 when the ids are used up.
[[nodiscard]] uint32_t BlockFor(uint32_t doc, uint32_t serial, bool head) {
  Blocks& b = B();
  std::lock_guard lock(b.mu);
  auto key = std::make_tuple(doc, serial, head);
  if (auto it = b.byItem.find(key); it != b.byItem.end()) return it->second;
  if (b.next == UINT32_MAX) return 0;
  uint32_t id = ++b.next;
  b.byId.emplace(id, Block{doc, serial, head, {}, 0});
  b.byItem.emplace(key, id);
  return id;
}

bool BlockInfo(uint32_t block, uint32_t& doc, uint32_t& serial, bool& head) {
  Blocks& b = B();
  std::lock_guard lock(b.mu);
  auto it = b.byId.find(block);
  if (it == b.byId.end()) return false;
  doc = it->second.doc;
  serial = it->second.serial;
  head = it->second.head;
  return true;
}

std::string HeadBytes(const DocItem& it) {
  std::string out(sizeof(NXItemHead), '\0');
  tw::put_u16(out.data(), 0);
  tw::put_u16(out.data() + 2, static_cast<uint16_t>(it.name.size()));
  tw::put_u16(out.data() + 4, CoreTypeWord(it.type));
  tw::put_u16(out.data() + 6, 0);
  tw::put_u32(out.data() + 8, static_cast<uint32_t>(it.value.size() + 2));
  out += it.name;
  return out;
}

std::string ValueBytes(const DocItem& it) {
  std::string out(2, '\0');
  tw::put_u16(out.data(), CoreTypeWord(it.type));
  out.append(it.value.begin(), it.value.end());
  return out;
}

}  // namespace

uint16_t CoreTypeWord(uint32_t type) {
  if (type == GVTYPE_COMPOSITE) return NXTYPE_COMPOSITE;
  return static_cast<uint16_t>(0x0100u | (type & 0xFFu));
}

uint32_t CoreTypeOf(uint16_t word) {
  switch (word) {
    case NXTYPE_COMPOSITE:
      return GVTYPE_COMPOSITE;
    case NXTYPE_NUMBER:
    case NXTYPE_TEXT:
    case NXTYPE_TIME:
    case NXTYPE_TEXT_LIST:
    case NXTYPE_NUMBER_LIST:
    case NXTYPE_TIME_LIST:
    case NXTYPE_OTHER:
      return word & 0xFFu;
    default:
      return 0;
  }
}

void CoreForgetDocument(uint32_t doc) {
  if (doc == 0) return;
  Blocks& b = B();
  std::lock_guard lock(b.mu);
  for (auto it = b.byItem.begin(); it != b.byItem.end();) {
    if (std::get<0>(it->first) == doc) {
      b.byId.erase(it->second);
      it = b.byItem.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace plexa

using plexa::Document;

extern "C" {

GV_API uint32_t _GVCoreItemFind(uint32_t core, const char* name, uint32_t nameLength,
                                uint32_t after, uint32_t* item, uint16_t* valueType,
                                uint32_t* value, uint32_t* valueLength) {
  return plexa::ApiSession([&]() -> uint32_t {
    Document* d = plexa::FindDocument(core);
    if (d == nullptr) return GVERR_INVALID_HANDLE;
    if (name == nullptr || nameLength == 0 || nameLength >= GV_ITEM_NAME_SIZE)
      return GVERR_INVALID_ARGUMENT;
    std::string key = plexa::FoldAscii(std::string_view(name, nameLength));
    if (uint32_t s = d->ReadParts()) return s;
    const auto& items = d->items();
    size_t start = 0;
    if (after != 0) {
      uint32_t doc = 0, serial = 0;
      bool head = false;
      if (!plexa::BlockInfo(after, doc, serial, head) || doc != core || !head)
        return GVERR_INVALID_HANDLE;
      size_t i = 0;
      while (i < items.size() && items[i].serial != serial) ++i;
      if (i == items.size()) return plexa::Fail(GVERR_INVALID_HANDLE, "the item changed");
      start = i + 1;
    }
    for (size_t i = start; i < items.size(); ++i) {
      const plexa::DocItem& it = items[i];
      if (it.key != key) continue;
      uint32_t headBlock = plexa::BlockFor(core, it.serial, true);
      uint32_t valueBlock = plexa::BlockFor(core, it.serial, false);
      if (headBlock == 0 || valueBlock == 0) return GVERR_NO_MEMORY;
      if (item != nullptr) *item = headBlock;
      if (valueType != nullptr) *valueType = plexa::CoreTypeWord(it.type);
      if (value != nullptr) *value = valueBlock;
      if (valueLength != nullptr) *valueLength = static_cast<uint32_t>(it.value.size() + 2);
      return 0;
    }
    return plexa::Fail(GVERR_NO_ITEM, std::string_view(name, nameLength));
  });
}

GV_API const void* _GVCoreBlockLock(uint32_t block) {
  return plexa::ApiValue<const void*>(nullptr, [&]() -> const void* {
    uint32_t doc = 0, serial = 0;
    bool head = false;
    if (!plexa::BlockInfo(block, doc, serial, head)) return nullptr;
    Document* d = plexa::FindDocument(doc);
    if (d == nullptr) return nullptr;
    const plexa::DocItem* it = d->BySerial(serial);
    if (it == nullptr) return nullptr;
    plexa::Blocks& b = plexa::B();
    std::lock_guard lock(b.mu);
    auto found = b.byId.find(block);
    if (found == b.byId.end()) return nullptr;
    if (found->second.bytes.empty())
      found->second.bytes = head ? plexa::HeadBytes(*it) : plexa::ValueBytes(*it);
    ++found->second.locks;
    return found->second.bytes.data();
  });
}

GV_API uint32_t _GVCoreBlockUnlock(uint32_t block) {
  return plexa::Api([&]() -> uint32_t {
    plexa::Blocks& b = plexa::B();
    std::lock_guard lock(b.mu);
    auto found = b.byId.find(block);
    if (found == b.byId.end() || found->second.locks == 0) return GVERR_INVALID_HANDLE;
    --found->second.locks;
    return 0;
  });
}

GV_API uint32_t _GVCoreItemAppend(uint32_t core, const char* name, uint32_t nameLength,
                                  uint16_t valueType, const void* value, uint32_t valueLength) {
  return plexa::ApiSession([&]() -> uint32_t {
    Document* d = plexa::FindDocument(core);
    if (d == nullptr) return GVERR_INVALID_HANDLE;
    if (name == nullptr || nameLength == 0 || nameLength >= GV_ITEM_NAME_SIZE)
      return GVERR_INVALID_ARGUMENT;
    if (value == nullptr && valueLength > 0) return GVERR_INVALID_ARGUMENT;
    if (d->read_only()) return GVERR_READ_ONLY;
    uint32_t type = plexa::CoreTypeOf(valueType);
    if (type == 0) return plexa::Fail(GVERR_INVALID_ARGUMENT, "unknown value type");
    if (valueLength > plexa::kMaxCoreValue) return GVERR_TOO_BIG;
    std::string_view itemName(name, nameLength);
    const auto* p = static_cast<const uint8_t*>(value);
    std::vector<uint8_t> bytes(p, p + valueLength);
    if (type == GVTYPE_COMPOSITE) {
      std::string_view records(reinterpret_cast<const char*>(bytes.data()), bytes.size());
      if (uint32_t s = plexa::rt::Validate(records, true)) return s;
    }
    if (uint32_t s = d->CheckField(itemName)) return s;
    return d->Append(itemName, type, std::move(bytes));
  });
}

GV_API uint32_t _GVCoreHeader(uint32_t core, uint32_t kind, void* header, uint32_t write) {
  return plexa::ApiSession([&]() -> uint32_t {
    Document* d = plexa::FindDocument(core);
    if (d == nullptr) return GVERR_INVALID_HANDLE;
    if (kind != NXHEADER_IDENTITY || header == nullptr) return GVERR_INVALID_ARGUMENT;
    if (write != 0) {
      if (d->read_only()) return GVERR_READ_ONLY;
      plexa::Unid u{};
      std::memcpy(u.data(), header, u.size());
      if (std::all_of(u.begin(), u.end(), [](uint8_t b) { return b == 0; }))
        return plexa::Fail(GVERR_INVALID_ARGUMENT, "an identity of zeros");
      d->set_unid(u);
      return 0;
    }
    NXIdentity id{};
    std::memcpy(id.unid, d->unid().data(), GV_UNID_SIZE);
    id.sequence = d->sequence();
    id.created = d->created();
    id.modified = d->modified();
    std::memcpy(header, &id, sizeof id);
    return 0;
  });
}

}  // extern "C"
