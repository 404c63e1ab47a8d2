// Engine field lists: named fields sharing a record count, the list walk, sequence numbers,
// and merged views that show a data list's fields under another list's names.
#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "field_impl.h"
#include "flowcore.h"
#include "flowcore_ptr.h"
#include "tw/guard.h"

namespace {

constexpr uint32_t kListMagic = 0x4C465754u;  // "TWFL"
constexpr uint32_t kMergeFlagsMask =
    TWMERGEF_MAP_NAME | TWMERGEF_NAME_LOSS | TWMERGEF_DATA_LOSS | TWMERGEF_FETCH | TWMERGEF_INSERT |
    TWMERGEF_UPDATE | TWMERGEF_REMOVE | TWMERGEF_CREATE | TWMERGEF_DROP | TWMERGEF_KEY;
constexpr uint32_t kMergeOperations = TWMERGEF_FETCH | TWMERGEF_INSERT | TWMERGEF_UPDATE |
                                      TWMERGEF_REMOVE | TWMERGEF_CREATE | TWMERGEF_DROP;
static_assert(TWMERGEF_FETCH == TWFIELDF_NO_FETCH && TWMERGEF_DROP == TWFIELDF_NO_DROP &&
                  TWMERGEF_KEY == TWFIELDF_KEY,
              "each operation flag of a merge matches the field flag it tests");

std::atomic<uint32_t> g_sequence{0};

// Unique in the process: a freed and reallocated list never shows an old number.
uint32_t NextSequence() {
  uint32_t s = g_sequence.fetch_add(1, std::memory_order_relaxed) + 1;
  while (s == 0) s = g_sequence.fetch_add(1, std::memory_order_relaxed) + 1;
  return s;
}

bool IsUtf8(uint32_t format) {
  return format == TWSTREAMFMT_NATIVE || format == TWSTREAMFMT_QMBCS || format == TWSTREAMFMT_UTF8;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x -= 32;
    if (y >= 'a' && y <= 'z') y -= 32;
    if (x != y) return false;
  }
  return true;
}

// One reference to a field.
class FieldRef {
 public:
  FieldRef() = default;
  explicit FieldRef(TWFieldImpl* adopt) : f_(adopt) {}
  FieldRef(const FieldRef& o) : f_(o.f_) {
    if (f_) twfc::Retain(f_);
  }
  FieldRef(FieldRef&& o) noexcept : f_(std::exchange(o.f_, nullptr)) {}
  FieldRef& operator=(FieldRef o) noexcept {
    std::swap(f_, o.f_);
    return *this;
  }
  ~FieldRef() { twfc::Release(f_); }
  TWFieldImpl* get() const { return f_; }

 private:
  TWFieldImpl* f_ = nullptr;
};

struct Entry {
  FieldRef field;
  std::string name;       // QMBCS (UTF-8)
  uint32_t position = 0;  // views only: the name-list entry shown, else the data place
};

// Counts the views that show a plain list's fields; held by the list and by every view of it,
// so it outlives whichever goes first.
struct Anchor {
  std::atomic<uint32_t> views{0};
};

}  // namespace

struct TWFieldlistImpl {
  uint32_t magic = kListMagic;
  uint32_t recordCount = 0;
  uint32_t fieldFlags = 0;
  uint32_t sequence = NextSequence();
  bool view = false;
  std::shared_ptr<Anchor> anchor = std::make_shared<Anchor>();
  std::vector<Entry> entries;
  bool walkReady = false;
  size_t walkNext = 0;
  uint32_t walkFormat = 0;
  // Names converted for walks in walkFormat when that is not UTF-8; emptied by any change of
  // names, so that a walk per record converts nothing.
  std::vector<std::string> walkNames;

  ~TWFieldlistImpl() {
    magic = 0;
    if (view) anchor->views.fetch_sub(1, std::memory_order_acq_rel);
  }
  uint32_t Position(size_t i) const { return view ? entries[i].position : uint32_t(i + 1); }
  bool Locked() const { return view || anchor->views.load(std::memory_order_acquire) != 0; }
  void Changed() {
    sequence = NextSequence();
    walkNames.clear();
  }
  // Becomes a view sharing dataAnchor.
  void ViewOf(const std::shared_ptr<Anchor>& dataAnchor) {
    if (view) anchor->views.fetch_sub(1, std::memory_order_acq_rel);
    anchor = dataAnchor;
    anchor->views.fetch_add(1, std::memory_order_acq_rel);
    view = true;
  }
};

namespace {

bool ListOk(const TWFieldlistImpl* l) {
  return l != nullptr && l->magic == kListMagic;
}

[[nodiscard]] uint32_t CheckEntry(const TWFieldlistImpl* l, uint32_t index) {
  if (!ListOk(l)) return TWFAIL_INVALID_FIELDLIST;
  if (index == 0) return TWFAIL_ZERO_INDEX;
  if (index > l->entries.size()) return TWFAIL_INVALID_INDEX;
  return 0;
}

// A name stream's text as UTF-8; *view points into the stream or into *held.
[[nodiscard]] uint32_t NameText(const TWStream* name, std::string* held, std::string_view* view) {
  if (name == nullptr) return TWFAIL_NULL_FIELDNAME;
  if (name->length != 0 && name->data == nullptr) return TWFAIL_NULL_BUFFER;
  if (name->format == 0 || IsUtf8(name->format)) {
    *view = std::string_view(static_cast<const char*>(name->data), name->length);
    return 0;
  }
  flowcore::StreamData tmp;
  uint32_t st = TWStreamDataConvert(tmp.get(), name, 0, TWSTREAMFMT_QMBCS, nullptr, nullptr);
  if (st == 0) {
    held->assign(tmp.view());
    *view = *held;
  }
  return st;
}

[[nodiscard]] uint32_t NameString(const TWStream* name, std::string* out) {
  std::string held;
  std::string_view text;
  if (uint32_t st = NameText(name, &held, &text)) return st;
  out->assign(text);
  return 0;
}

// A UTF-8 name in format (not UTF-8) into *out.
[[nodiscard]] uint32_t ConvertName(const std::string& name, uint32_t format, std::string* out) {
  TWStream src{};
  src.format = TWSTREAMFMT_QMBCS;
  src.length = static_cast<uint32_t>(name.size());
  src.data = const_cast<char*>(name.data());
  flowcore::StreamData tmp;
  uint32_t st = TWStreamDataConvert(tmp.get(), &src, 0, format, nullptr, nullptr);
  if (st == 0) out->assign(tmp.view());
  return st;
}

// Writes name into dest in format (0: QMBCS); dest keeps its capacity and flags.
[[nodiscard]] uint32_t PutName(const std::string& name, uint32_t format, TWStream* dest) {
  if (format == 0) format = TWSTREAMFMT_QMBCS;
  if (IsUtf8(format))
    return TWStreamDataSet(dest, format, name.data(), static_cast<uint32_t>(name.size()));
  std::string converted;
  if (uint32_t st = ConvertName(name, format, &converted)) return st;
  return TWStreamDataSet(dest, format, converted.data(), static_cast<uint32_t>(converted.size()));
}

[[nodiscard]] uint32_t CheckType(uint32_t type) {
  return type > TWTYPE_MAX ? TWFAIL_INVALID_TYPE : 0;
}

// A new entry for list l: a field of type with the list's record count and field flags.
[[nodiscard]] uint32_t MakeEntry(const TWFieldlistImpl* l, const TWStream* name, uint32_t type,
                                 Entry* out) {
  if (uint32_t st = CheckType(type)) return st;
  if (uint32_t st = NameString(name, &out->name)) return st;
  out->field = FieldRef(twfc::NewField(type, l->recordCount, l->fieldFlags, true));
  return 0;
}

struct DataItem {
  const Entry* entry;
  bool used = false;
};

[[nodiscard]] uint32_t Merge(TWFIELDLIST* merged, TWFIELDLIST nameList, TWFIELDLIST dataList,
                             uint32_t flags, bool withVirtual, uint32_t virtualCode,
                             TWFIELDLIST* virtualList) {
  if (merged == nullptr) return TWFAIL_NULL_RESULT;
  *merged = TWNULLHANDLE;
  if (withVirtual) {
    if (virtualList == nullptr) return TWFAIL_NULL_RESULT;
    *virtualList = TWNULLHANDLE;
  }
  if (!ListOk(nameList) || !ListOk(dataList)) return TWFAIL_INVALID_FIELDLIST;
  if (flags & ~kMergeFlagsMask) return TWFAIL_INVALID_FLAGS;
  if (dataList->recordCount == 0) return TWFAIL_NO_MERGE_DATA;

  // Ordinary fields never count as virtual, whatever code is asked for.
  uint32_t code = virtualCode & TWMASK_LINK_CODE;
  uint32_t operations = flags & kMergeOperations;
  std::vector<DataItem> data;
  std::vector<const Entry*> virtuals;
  for (const Entry& e : dataList->entries) {
    const TWFieldImpl* f = e.field.get();
    bool key = (flags & TWMERGEF_KEY) && (f->flags & TWFIELDF_KEY);
    if ((f->flags & operations) != 0 && !key) continue;
    if (withVirtual && code != 0 && (f->virtualCode & TWMASK_LINK_CODE) == code) {
      virtuals.push_back(&e);
      continue;
    }
    data.push_back(DataItem{&e});
  }

  std::unique_ptr<TWFieldlistImpl> view(new TWFieldlistImpl);
  view->recordCount = dataList->recordCount;
  view->fieldFlags = dataList->fieldFlags;
  view->ViewOf(dataList->anchor);
  auto add = [&view](const Entry& from, const std::string& name, uint32_t position) {
    view->entries.push_back(Entry{from.field, name, position});
  };
  const std::vector<Entry>& names = nameList->entries;
  if (flags & TWMERGEF_MAP_NAME) {
    for (size_t i = 0; i < names.size(); ++i) {
      DataItem* match = nullptr;
      for (DataItem& d : data)
        if (!d.used && SameName(d.entry->name, names[i].name)) {
          match = &d;
          break;
        }
      if (match == nullptr) {
        if (flags & TWMERGEF_NAME_LOSS) continue;
        return TWFAIL_MERGE_FIELD;
      }
      match->used = true;
      add(*match->entry, names[i].name, static_cast<uint32_t>(i + 1));
    }
    if (!(flags & TWMERGEF_DATA_LOSS))
      for (const DataItem& d : data)
        if (!d.used) return TWFAIL_MERGE_FIELD;
  } else {
    size_t paired = std::min(names.size(), data.size());
    if (names.size() > paired && !(flags & TWMERGEF_NAME_LOSS)) return TWFAIL_MERGE_FIELD;
    for (size_t i = 0; i < paired; ++i)
      add(*data[i].entry, names[i].name, static_cast<uint32_t>(i + 1));
    // Data beyond the names is kept under its own names unless it may drop: the caller then
    // sees more fields than names, which is how connectors detect a count mismatch.
    if (!(flags & TWMERGEF_DATA_LOSS))
      for (size_t i = paired; i < data.size(); ++i)
        add(*data[i].entry, data[i].entry->name, static_cast<uint32_t>(i + 1));
  }

  std::unique_ptr<TWFieldlistImpl> extra;
  if (withVirtual) {
    extra.reset(new TWFieldlistImpl);
    extra->recordCount = dataList->recordCount;
    extra->fieldFlags = dataList->fieldFlags;
    extra->ViewOf(dataList->anchor);
    for (size_t i = 0; i < virtuals.size(); ++i)
      extra->entries.push_back(
          Entry{virtuals[i]->field, virtuals[i]->name, static_cast<uint32_t>(i + 1)});
    *virtualList = extra.release();
  }
  *merged = view.release();
  return 0;
}

}  // namespace

extern "C" {

TW_API uint32_t TWFieldlistAlloc(TWFIELDLIST* list, uint32_t recordCount, uint32_t fieldFlags) {
  return tw::guard([&]() -> uint32_t {
    if (list == nullptr) return TWFAIL_NULL_RESULT;
    *list = TWNULLHANDLE;
    if (fieldFlags & ~twfc::kFieldFlagsMask) return TWFAIL_INVALID_FLAGS;
    auto* l = new TWFieldlistImpl;
    l->recordCount = recordCount;
    l->fieldFlags = fieldFlags;
    *list = l;
    return 0;
  });
}

TW_API uint32_t TWFieldlistFree(TWFIELDLIST list) {
  return tw::guard([&]() -> uint32_t {
    if (list == TWNULLHANDLE) return 0;
    if (!ListOk(list)) return TWFAIL_INVALID_FIELDLIST;
    delete list;
    return 0;
  });
}

TW_API uint32_t TWFieldlistAppend(TWFIELDLIST list, const TWStream* name, uint32_t type,
                                  TWFIELD* field) {
  if (!ListOk(list)) return TWFAIL_INVALID_FIELDLIST;
  return TWFieldlistInsert(list, static_cast<uint32_t>(list->entries.size() + 1), name, type,
                           field);
}

TW_API uint32_t TWFieldlistInsert(TWFIELDLIST list, uint32_t index, const TWStream* name,
                                  uint32_t type, TWFIELD* field) {
  return tw::guard([&]() -> uint32_t {
    if (!ListOk(list)) return TWFAIL_INVALID_FIELDLIST;
    if (index == 0) return TWFAIL_ZERO_INDEX;
    if (index > list->entries.size() + 1) return TWFAIL_INVALID_INDEX;
    if (list->Locked()) return TWFAIL_FIELDLIST_REF;
    Entry e;
    if (uint32_t st = MakeEntry(list, name, type, &e)) return st;
    TWFieldImpl* made = e.field.get();
    list->entries.insert(list->entries.begin() + (index - 1), std::move(e));
    list->Changed();
    if (field) *field = made;
    return 0;
  });
}

TW_API uint32_t TWFieldlistReplace(TWFIELDLIST list, uint32_t index, const TWStream* name,
                                   uint32_t type, TWFIELD* field) {
  return tw::guard([&]() -> uint32_t {
    if (uint32_t st = CheckEntry(list, index)) return st;
    if (list->Locked()) return TWFAIL_FIELDLIST_REF;
    Entry e;
    if (uint32_t st = MakeEntry(list, name, type, &e)) return st;
    TWFieldImpl* made = e.field.get();
    list->entries[index - 1] = std::move(e);
    list->Changed();
    if (field) *field = made;
    return 0;
  });
}

TW_API uint32_t TWFieldlistRemove(TWFIELDLIST list, uint32_t index) {
  return tw::guard([&]() -> uint32_t {
    if (uint32_t st = CheckEntry(list, index)) return st;
    if (list->Locked()) return TWFAIL_FIELDLIST_REF;
    list->entries.erase(list->entries.begin() + (index - 1));
    list->Changed();
    return 0;
  });
}

TW_API uint32_t TWFieldlistSetName(TWFIELDLIST list, uint32_t index, const TWStream* name) {
  return tw::guard([&]() -> uint32_t {
    if (uint32_t st = CheckEntry(list, index)) return st;
    std::string text;
    if (uint32_t st = NameString(name, &text)) return st;
    list->entries[index - 1].name = std::move(text);
    list->Changed();
    return 0;
  });
}

TW_API uint32_t TWFieldlistCopy(TWFIELDLIST dest, TWFIELDLIST source) {
  return tw::guard([&]() -> uint32_t {
    if (!ListOk(dest) || !ListOk(source)) return TWFAIL_INVALID_FIELDLIST;
    if (dest->Locked()) return TWFAIL_FIELDLIST_REF;
    if (dest == source) return 0;
    std::vector<Entry> copies;
    copies.reserve(source->entries.size());
    for (const Entry& e : source->entries) {
      TWFieldImpl* made = nullptr;
      if (uint32_t st = twfc::CloneField(e.field.get(), &made)) return st;
      copies.push_back(Entry{FieldRef(made), e.name, 0});
    }
    dest->entries.swap(copies);
    dest->recordCount = source->recordCount;
    dest->Changed();
    return 0;
  });
}

TW_API uint32_t TWFieldlistCopyRef(TWFIELDLIST dest, TWFIELDLIST source) {
  return tw::guard([&]() -> uint32_t {
    if (!ListOk(dest) || !ListOk(source)) return TWFAIL_INVALID_FIELDLIST;
    if (dest->Locked()) return TWFAIL_FIELDLIST_REF;
    if (dest == source) return 0;
    std::vector<Entry> shown;
    shown.reserve(source->entries.size());
    for (size_t i = 0; i < source->entries.size(); ++i) {
      const Entry& e = source->entries[i];
      shown.push_back(Entry{e.field, e.name, source->Position(i)});
    }
    dest->entries.swap(shown);
    dest->recordCount = source->recordCount;
    dest->ViewOf(source->anchor);
    dest->Changed();
    return 0;
  });
}

TW_API uint32_t TWFieldlistGetCount(TWFIELDLIST list) {
  return ListOk(list) ? static_cast<uint32_t>(list->entries.size()) : 0;
}
TW_API uint32_t TWFieldlistGetRecordCount(TWFIELDLIST list) {
  return ListOk(list) ? list->recordCount : 0;
}
TW_API uint32_t TWFieldlistGetSequence(TWFIELDLIST list) {
  return ListOk(list) ? list->sequence : 0;
}

TW_API uint32_t TWFieldlistGetField(TWFIELDLIST list, uint32_t index, uint32_t format,
                                    TWFIELD* field, TWStream* name) {
  return tw::guard([&]() -> uint32_t {
    if (uint32_t st = CheckEntry(list, index)) return st;
    const Entry& e = list->entries[index - 1];
    if (name)
      if (uint32_t st = PutName(e.name, format, name)) return st;
    if (field) *field = e.field.get();
    return 0;
  });
}

TW_API uint32_t TWFieldlistGetName(TWFIELDLIST list, uint32_t index, uint32_t format,
                                   TWStream* name) {
  return tw::guard([&]() -> uint32_t {
    if (uint32_t st = CheckEntry(list, index)) return st;
    if (name == nullptr) return TWFAIL_NULL_RESULT;
    return PutName(list->entries[index - 1].name, format, name);
  });
}

TW_API uint32_t TWFieldlistGetPosition(TWFIELDLIST list, uint32_t index, uint32_t* position) {
  if (uint32_t st = CheckEntry(list, index)) return st;
  if (position == nullptr) return TWFAIL_NULL_RESULT;
  *position = list->Position(index - 1);
  return 0;
}

TW_API uint32_t TWFieldlistGetNameLength(TWFIELDLIST list, uint32_t format) {
  return tw::guard_value<uint32_t>(0, [&]() -> uint32_t {
    if (!ListOk(list)) return 0;
    if (format == 0) format = TWSTREAMFMT_QMBCS;
    size_t longest = 0;
    std::string converted;
    for (const Entry& e : list->entries) {
      size_t n = e.name.size();
      if (!IsUtf8(format)) {
        if (ConvertName(e.name, format, &converted) != 0) continue;
        n = converted.size();
      }
      longest = std::max(longest, n);
    }
    return static_cast<uint32_t>(longest);
  });
}

TW_API uint32_t TWFieldlistLookup(TWFIELDLIST list, const TWStream* name, TWFIELD* field,
                                  uint32_t* index) {
  return tw::guard([&]() -> uint32_t {
    if (!ListOk(list)) return TWFAIL_INVALID_FIELDLIST;
    std::string held;
    std::string_view text;
    if (uint32_t st = NameText(name, &held, &text)) return st;
    for (size_t i = 0; i < list->entries.size(); ++i) {
      if (!SameName(list->entries[i].name, text)) continue;
      if (field) *field = list->entries[i].field.get();
      if (index) *index = static_cast<uint32_t>(i + 1);
      return 0;
    }
    return TWFAIL_INVALID_INDEX;
  });
}

TW_API uint32_t TWFieldlistListSetup(TWFIELDLIST list, uint32_t format) {
  return tw::guard([&]() -> uint32_t {
    if (!ListOk(list)) return TWFAIL_INVALID_FIELDLIST;
    if (format == 0) format = TWSTREAMFMT_QMBCS;
    bool cached = format == list->walkFormat && list->walkNames.size() == list->entries.size();
    if (!IsUtf8(format) && !cached) {
      list->walkNames.clear();
      std::vector<std::string> names(list->entries.size());
      for (size_t i = 0; i < names.size(); ++i)
        if (uint32_t st = ConvertName(list->entries[i].name, format, &names[i])) return st;
      list->walkNames.swap(names);
    }
    list->walkFormat = format;
    list->walkNext = 0;
    list->walkReady = true;
    return 0;
  });
}

TW_API uint32_t TWFieldlistList(TWFIELDLIST list, TWFIELD* field, uint32_t* index, uint32_t* type,
                                uint32_t* flags, TWStream* name) {
  return tw::guard([&]() -> uint32_t {
    if (!ListOk(list)) return TWFAIL_INVALID_FIELDLIST;
    if (!list->walkReady) return TWFAIL_LIST_SETUP;
    size_t i = list->walkNext;
    if (i >= list->entries.size()) return TWFAIL_END_OF_DATA;
    const Entry& e = list->entries[i];
    if (name) {
      uint32_t st = 0;
      if (IsUtf8(list->walkFormat)) {
        st = TWStreamDataSet(name, list->walkFormat, e.name.data(),
                             static_cast<uint32_t>(e.name.size()));
      } else if (i < list->walkNames.size()) {
        const std::string& n = list->walkNames[i];
        st = TWStreamDataSet(name, list->walkFormat, n.data(), static_cast<uint32_t>(n.size()));
      } else {
        // The names changed since the walk began.
        st = PutName(e.name, list->walkFormat, name);
      }
      if (st != 0) return st;
    }
    if (field) *field = e.field.get();
    if (index) *index = list->Position(i);
    if (type) *type = e.field.get()->type;
    if (flags) *flags = e.field.get()->flags;
    list->walkNext = i + 1;
    return 0;
  });
}

TW_API uint32_t TWFieldlistMerge(TWFIELDLIST* merged, TWFIELDLIST nameList, TWFIELDLIST dataList,
                                 uint32_t flags) {
  return tw::guard(
      [&]() -> uint32_t { return Merge(merged, nameList, dataList, flags, false, 0, nullptr); });
}

TW_API uint32_t TWFieldlistMergeVirtual(TWFIELDLIST* merged, TWFIELDLIST nameList,
                                        TWFIELDLIST dataList, uint32_t flags, uint32_t virtualCode,
                                        TWFIELDLIST* virtualList) {
  return tw::guard([&]() -> uint32_t {
    return Merge(merged, nameList, dataList, flags, true, virtualCode, virtualList);
  });
}

}  // extern "C"
