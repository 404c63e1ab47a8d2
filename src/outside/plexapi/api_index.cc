// The index entry points: opening and filling indexes, navigation, positions, key search,
// view cells, refresh, and deleting or copying the documents of an index.
#include <cstring>
#include <span>

#include "database.h"
#include "design.h"
#include "index.h"
#include "plexapi.h"
#include "session.h"
#include "tw/coding.h"
#include "value.h"

using namespace plexa;

namespace {

// Longest query read from a caller's C string.
constexpr size_t kMaxQueryRead = 65536;

[[nodiscard]] uint32_t IndexOf(GVINDEX index, Index*& out) {
  out = FindIndex(index);
  return out != nullptr ? 0 : Fail(GVERR_INVALID_HANDLE, "index");
}

// A cell as kind: a number or a time (8 bytes), a text (its bytes), or list bytes.
[[nodiscard]] uint32_t CellAs(const Value& cell, bool present, uint32_t kind, std::string& out) {
  switch (kind) {
    case GVTYPE_NUMBER:
    case GVTYPE_TIME:
    case GVTYPE_TEXT:
    case GVTYPE_TEXT_LIST:
    case GVTYPE_NUMBER_LIST:
    case GVTYPE_TIME_LIST:
      break;
    default:
      return Fail(GVERR_ITEM_KIND, "cell kind " + std::to_string(kind));
  }
  if (!present) {
    if (kind == GVTYPE_NUMBER || kind == GVTYPE_TIME) return Fail(GVERR_NO_VALUE, "empty cell");
    Value empty;
    empty.type = kind;
    std::vector<uint8_t> bytes;
    if (kind != GVTYPE_TEXT)
      if (uint32_t st = EncodeKind(empty, bytes)) return st;
    out.assign(bytes.begin(), bytes.end());
    return 0;
  }
  Value v;
  if (uint32_t st = Convert(cell, kind, v)) return Fail(st);
  std::vector<uint8_t> bytes;
  if (uint32_t st = EncodeKind(v, bytes)) return Fail(st);
  out.assign(bytes.begin(), bytes.end());
  return 0;
}

}  // namespace

extern "C" {

GV_API uint32_t GVIndexOpen(GVDB db, GVINDEX* index) {
  return ApiSession([&]() -> uint32_t {
    EnsureDesignHooks();
    if (index == nullptr) return Fail(GVERR_INVALID_ARGUMENT, "no index");
    GVINDEX h = 0;
    if (uint32_t st = OpenIndex(db, h)) return st;
    *index = h;
    return 0;
  });
}

GV_API uint32_t GVIndexOpenView(GVINDEX index, uint32_t flags, GVNOTEID view, uint32_t reserved) {
  return ApiSession([&]() -> uint32_t {
    Index* ix = nullptr;
    if (uint32_t st = IndexOf(index, ix)) return st;
    return ix->OpenView(view);
  });
}

GV_API uint32_t GVIndexSearch(GVINDEX index, const char* formula, GVNOTEID form, uint32_t flags) {
  return ApiSession([&]() -> uint32_t {
    Index* ix = nullptr;
    if (uint32_t st = IndexOf(index, ix)) return st;
    std::string text;
    if (formula != nullptr) {
      size_t n = strnlen(formula, kMaxLength + 1);
      if (n > kMaxLength) return Fail(GVERR_FORMULA, "formula too long", static_cast<uint32_t>(n));
      text.assign(formula, n);
    }
    return ix->Search(text, form);
  });
}

GV_API uint32_t GVIndexFTSearch(GVINDEX index, const char* query, uint32_t flags,
                                uint32_t maxDocuments, uint32_t* found) {
  return ApiSession([&]() -> uint32_t {
    Index* ix = nullptr;
    if (uint32_t st = IndexOf(index, ix)) return st;
    std::string_view q;
    if (query != nullptr) q = std::string_view(query, strnlen(query, kMaxQueryRead));
    uint32_t n = 0;
    if (uint32_t st = ix->FullTextSearch(q, flags, maxDocuments, n)) return st;
    if (found != nullptr) *found = n;
    return 0;
  });
}

GV_API uint32_t GVIndexKeySearch(GVINDEX index, uint32_t keyCount, const GVKey* keys,
                                 uint32_t flags, uint32_t* matches) {
  return ApiSession([&]() -> uint32_t {
    Index* ix = nullptr;
    if (uint32_t st = IndexOf(index, ix)) return st;
    if (keyCount == 0 || keys == nullptr || keyCount > kMaxColumns)
      return Fail(GVERR_INVALID_ARGUMENT, "keys");
    uint32_t n = 0;
    uint32_t st = ix->KeySearch(std::span(keys, keyCount), n);
    // No match is still an answer: the count is 0.
    if ((st == 0 || st == GVERR_KEY_NOT_FOUND) && matches != nullptr) *matches = n;
    return st;
  });
}

GV_API uint32_t GVIndexGetCount(GVINDEX index) {
  return ApiValue<uint32_t>(0, [&]() -> uint32_t {
    Index* ix = nullptr;
    if (IndexOf(index, ix) != 0) return 0;
    return ix->Count();
  });
}

GV_API uint32_t GVIndexNavigate(GVINDEX index, uint32_t direction, uint32_t flags, GVNOTEID* noteId,
                                uint32_t* entryFlags) {
  return ApiSession([&]() -> uint32_t {
    Index* ix = nullptr;
    if (uint32_t st = IndexOf(index, ix)) return st;
    GVNOTEID note = 0;
    uint32_t word = 0;
    if (uint32_t st = ix->Navigate(direction, flags, note, word)) return st;
    ix->db().set_walk_step();
    if (noteId != nullptr) *noteId = note;
    if (entryFlags != nullptr) *entryFlags = word;
    return 0;
  });
}

GV_API uint32_t GVIndexSetPosition(GVINDEX index, uint32_t position) {
  return ApiSession([&]() -> uint32_t {
    Index* ix = nullptr;
    if (uint32_t st = IndexOf(index, ix)) return st;
    return ix->SetPosition(position);
  });
}

GV_API uint32_t GVIndexGetViewPosition(GVINDEX index, uint32_t flags, char* position) {
  return ApiSession([&]() -> uint32_t {
    Index* ix = nullptr;
    if (uint32_t st = IndexOf(index, ix)) return st;
    if (position == nullptr) return Fail(GVERR_INVALID_ARGUMENT, "no buffer");
    std::string text;
    if (uint32_t st = ix->GetViewPosition(flags, text)) return st;
    if (text.size() >= GV_POSITION_SIZE) return Fail(GVERR_BUFFER_TOO_SMALL, "position");
    tw::copy_bounded(position, GV_POSITION_SIZE, text);
    return 0;
  });
}

GV_API uint32_t GVIndexSetViewPosition(GVINDEX index, const char* position) {
  return ApiSession([&]() -> uint32_t {
    Index* ix = nullptr;
    if (uint32_t st = IndexOf(index, ix)) return st;
    if (position == nullptr) return Fail(GVERR_INVALID_ARGUMENT, "no position");
    size_t n = strnlen(position, GV_POSITION_SIZE);
    if (n >= GV_POSITION_SIZE) return Fail(GVERR_INVALID_ARGUMENT, "not a saved position");
    return ix->SetViewPosition(std::string_view(position, n));
  });
}

GV_API uint32_t GVIndexRefresh(GVINDEX index) {
  return ApiSession([&]() -> uint32_t {
    Index* ix = nullptr;
    if (uint32_t st = IndexOf(index, ix)) return st;
    return ix->Refresh();
  });
}

GV_API uint32_t GVIndexDeleteAllEntries(GVINDEX index, uint32_t flags) {
  return ApiSession([&]() -> uint32_t {
    Index* ix = nullptr;
    if (uint32_t st = IndexOf(index, ix)) return st;
    return ix->DeleteAll();
  });
}

GV_API uint32_t GVIndexCopyHierarchy(GVINDEX index, GVDB target, GVNOTEID* noteId, uint32_t flags) {
  return ApiSession([&]() -> uint32_t {
    Index* ix = nullptr;
    if (uint32_t st = IndexOf(index, ix)) return st;
    Database* t = FindDatabase(target);
    if (t == nullptr) return Fail(GVERR_INVALID_HANDLE, "target database");
    if (noteId == nullptr) return Fail(GVERR_INVALID_ARGUMENT, "no note id");
    GVNOTEID note = *noteId;
    if (uint32_t st = ix->CopyHierarchy(*t, note)) return st;
    *noteId = note;
    return 0;
  });
}

GV_API uint32_t GVIndexSetProperty(GVINDEX index, uint32_t property, const void* value) {
  return ApiSession([&]() -> uint32_t {
    Index* ix = nullptr;
    if (uint32_t st = IndexOf(index, ix)) return st;
    if (property != GVIDXPROP_CLASSES)
      return Fail(GVERR_INVALID_ARGUMENT, "index property " + std::to_string(property));
    uint32_t v = 0;
    if (value != nullptr) std::memcpy(&v, value, sizeof v);
    ix->set_classes(v);
    return 0;
  });
}

GV_API uint32_t GVIndexClose(GVINDEX index) {
  return ApiSession([&]() -> uint32_t {
    Index* ix = nullptr;
    if (uint32_t st = IndexOf(index, ix)) return st;
    // Its walk is over: the documents it read need no shared snapshot any more.
    const uint32_t ended = ix->db().EndHeldRead();
    const uint32_t closed = CloseHandle(index);
    return ended != 0 ? ended : closed;
  });
}

GV_API uint32_t GVViewcellFetch(GVINDEX index, uint32_t column, uint32_t kind, uint32_t capacity,
                                void* value) {
  return ApiSession([&]() -> uint32_t {
    Index* ix = nullptr;
    if (uint32_t st = IndexOf(index, ix)) return st;
    if (value == nullptr) return Fail(GVERR_INVALID_ARGUMENT, "no value");
    Value cell;
    bool present = false;
    if (uint32_t st = ix->Cell(column, cell, present)) return st;
    std::string bytes;
    if (uint32_t st = CellAs(cell, present, kind, bytes)) return st;
    if (kind == GVTYPE_NUMBER || kind == GVTYPE_TIME) {
      std::memcpy(value, bytes.data(), 8);
      return 0;
    }
    if (kind == GVTYPE_TEXT) {
      if (capacity == 0) return Fail(GVERR_BUFFER_TOO_SMALL, "no room for the text");
      size_t n = Utf8Cut(bytes, capacity - 1);
      std::memcpy(value, bytes.data(), n);
      static_cast<char*>(value)[n] = '\0';
      return 0;
    }
    if (bytes.size() > capacity) return Fail(GVERR_BUFFER_TOO_SMALL, "list");
    std::memcpy(value, bytes.data(), bytes.size());
    return 0;
  });
}

GV_API uint32_t GVViewcellGetLength(GVINDEX index, uint32_t column, uint32_t kind,
                                    uint32_t* length) {
  return ApiSession([&]() -> uint32_t {
    Index* ix = nullptr;
    if (uint32_t st = IndexOf(index, ix)) return st;
    if (length == nullptr) return Fail(GVERR_INVALID_ARGUMENT, "no length");
    Value cell;
    bool present = false;
    if (uint32_t st = ix->Cell(column, cell, present)) return st;
    std::string bytes;
    if (uint32_t st = CellAs(cell, present, kind, bytes)) return st;
    *length = static_cast<uint32_t>(bytes.size());
    return 0;
  });
}

}  // extern "C"
