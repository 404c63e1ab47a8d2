// The reading side: selection formulas, temporary index views, key positioning, describing a
// result, mapping the caller's list, fetching items and view cells, and the catalogue.
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>

#include "connection.h"
#include "ordex_messages.h"

namespace ordex {

namespace {

// Text cells of a view are described no longer than this.
constexpr uint32_t kMaxCell = 15360;
constexpr const char* kIndexViewBase = "TWMainIndexView";
constexpr uint32_t kIndexViewNames = 256;

bool InFieldBlock(uint32_t status) {
  return (status & 0xFFFFFF00u) == 0x3200u;
}

bool IsStreamType(uint32_t type) {
  return type == TWTYPE_TEXT || type == TWTYPE_BINARY;
}

// The engine type, or the stream format of a binary field, an item type is reported as.
uint32_t MapItemType(uint32_t item, bool multiValueAsText) {
  switch (item) {
    case GVTYPE_NUMBER:
      return TWTYPE_FLOAT;
    case GVTYPE_TEXT:
    case GVTYPE_OTHER:
      return TWTYPE_TEXT;
    case GVTYPE_TIME:
      return TWTYPE_DATETIME;
    case GVTYPE_TEXT_LIST:
      return multiValueAsText ? TWTYPE_TEXT : TWSTREAMFMT_TEXT_LIST;
    case GVTYPE_NUMBER_LIST:
      return multiValueAsText ? TWTYPE_TEXT : TWSTREAMFMT_NUMBER_LIST;
    case GVTYPE_TIME_LIST:
      return multiValueAsText ? TWTYPE_TEXT : TWSTREAMFMT_DATETIME_LIST;
    case GVTYPE_COMPOSITE:
      return TWSTREAMFMT_COMPOSITE;
    default:
      return TWSTREAMFMT_BLOB;
  }
}

std::string DatetimeLiteral(const TWDatetime& value) {
  TWDatetimeParts parts{};
  TWDatetimeGetParts(&value, TWPARTSF_LOCAL, &parts);
  char text[96];
  std::snprintf(text, sizeof text, "@@75@@(%d;%d;%d;%d;%d;%d) ", parts.year, parts.month, parts.day,
                parts.hour, parts.minute, parts.second);
  return text;
}

// Trims one trailing blank, as values read from items and cells are given.
size_t TrimmedLength(const char* text, size_t length) {
  return length > 0 && text[length - 1] == ' ' ? length - 1 : length;
}

uint32_t SetStreamValue(TWFIELD field, uint32_t record, uint32_t format, const void* bytes,
                        size_t length) {
  flowcore::StreamData s(format);
  uint32_t status = s.Set(format, std::string_view(static_cast<const char*>(bytes), length));
  if (status == TWSUCCESS) status = TWFieldSetStream(field, record, s.get());
  return status;
}

}  // namespace

void AppendQuoted(std::string& out, std::string_view text) {
  out += '\'';
  for (char ch : text) {
    if (ch == '\'' || ch == '\\') out += '\\';
    out += ch;
  }
  out += '\'';
}

// ---------------------------------------------------------------- formulas --------------

uint32_t Connection::BuildFormula(const std::string& form, TWFIELDLIST keys, uint32_t record,
                                  std::string& formula) {
  std::string text = "@@select@@ ";
  bool any = false;
  if (!p.allForms) {
    text += "Form = ";
    AppendQuoted(text, form);
    any = true;
  }
  if (!p.condition.empty()) {
    if (any) text += " & ";
    text += '(';
    text += p.condition;
    text += ')';
    any = true;
  }
  if (keys != TWNULLHANDLE) {
    std::string failedName;
    const uint32_t status = tw::twx::ForEachKeyTerm(
        keys, TWSTREAMFMT_QMBCS,
        [&](TWFIELD field, uint32_t, const TWStream& name, std::string_view op) -> uint32_t {
          const std::string_view fieldName(static_cast<const char*>(name.data), name.length);
          failedName.assign(fieldName);
          if (any) text += " & ";
          any = true;
          text += fieldName;
          text += op;
          if (TWFieldIsNull(field, record)) {
            text += "@@40@@";
            return TWSUCCESS;
          }
          uint32_t st = TWSUCCESS;
          switch (TWFieldGetType(field)) {
            case TWTYPE_INT: {
              int32_t v = 0;
              st = TWFieldGetInt(field, record, &v, nullptr);
              text += std::to_string(v);
              break;
            }
            case TWTYPE_FLOAT: {
              double v = 0;
              st = TWFieldGetFloat(field, record, &v, nullptr);
              if (st == TWSUCCESS && !std::isfinite(v)) st = TWFAIL_OVERFLOW;
              // Seventeen digits give back the very double the key holds.
              char digits[40];
              std::snprintf(digits, sizeof digits, "%.17g", v);
              text += digits;
              break;
            }
            case TWTYPE_CURRENCY:
            case TWTYPE_NUMERIC: {
              flowcore::StreamData s(TWSTREAMFMT_QMBCS);
              st = TWFieldGetStream(field, record, TWSTREAMFMT_QMBCS, s.get(), nullptr);
              text += s.view();
              break;
            }
            case TWTYPE_DATETIME: {
              TWDatetime v{};
              st = TWFieldGetDatetime(field, record, &v, nullptr);
              text += DatetimeLiteral(v);
              break;
            }
            case TWTYPE_TEXT:
            case TWTYPE_BINARY: {
              flowcore::StreamData s(TWSTREAMFMT_QMBCS);
              st = TWFieldGetStream(field, record, TWSTREAMFMT_QMBCS, s.get(), nullptr);
              AppendQuoted(text, s.view());
              break;
            }
            default:
              st = TWFAIL_INVALID_TYPE;
          }
          return st;
        });
    if (status != TWSUCCESS)
      return InFieldBlock(status) ? LogNamed(status, failedName) : TWActivityLog(status);
  }
  formula = std::move(text);
  return TWSUCCESS;
}

// ---------------------------------------------------------------- describing ------------

uint32_t Connection::LoadFormFields(Slot& slot) {
  if (formId == 0) return MissingForm();
  slot.Forget();
  slot.form = formId;
  slot.formName = formName;
  uint32_t status = TWFieldlistAlloc(flowcore::Out(slot.Names()), 0, 0);
  if (status != TWSUCCESS) return TWActivityLog(status);
  GVFieldInfo info{};
  for (uint32_t pos = GV_LIST_FIRST; GVFieldList(db, formId, pos, &info) == 0; pos = GV_LIST_NEXT) {
    flowcore::StreamData name(TWSTREAMFMT_QMBCS);
    status = name.Set(TWSTREAMFMT_QMBCS, info.name);
    if (status == TWSUCCESS)
      status = TWFieldlistAppend(slot.Names().get(), name.get(), TWTYPE_TEXT, nullptr);
    if (status != TWSUCCESS) return TWActivityLog(status);
    slot.Items().push_back(info.itemType);
  }
  return TWSUCCESS;
}

uint32_t Connection::DescribeResult(TWFIELDLIST dest, uint32_t* count) {
  Slot& s = select;
  s.FreeMap();
  s.items.clear();
  uint32_t status = TWFieldlistAlloc(flowcore::Out(s.names), 0, 0);
  if (status != TWSUCCESS) return TWActivityLog(status);
  const uint32_t textMax = p.textMaxLength > 0 ? static_cast<uint32_t>(p.textMaxLength) : kMaxItem;

  auto add = [&](std::string_view fieldName, uint32_t item, uint32_t type, uint32_t format,
                 uint32_t length) -> uint32_t {
    flowcore::StreamData name(TWSTREAMFMT_QMBCS);
    uint32_t st = name.Set(TWSTREAMFMT_QMBCS, fieldName);
    if (st == TWSUCCESS) st = TWFieldlistAppend(s.names.get(), name.get(), type, nullptr);
    if (st == TWSUCCESS && dest != TWNULLHANDLE) {
      TWFIELD field = TWNULLHANDLE;
      st = TWFieldlistAppend(dest, name.get(), type, &field);
      if (st == TWSUCCESS && IsStreamType(type))
        st = TWFieldSetFormatStream(field, 0, length, format);
    }
    s.items.push_back(item);
    return st;
  };

  if (r.fetchView) {
    if (TWStreamDataGetLength(&p.fieldList) != 0)
      return TWActivityLogEx(TWFAIL_PROPERTY_CONFLICT, TWTOKEN_FIELD_LIST, kFetchViewData, 0,
                             nullptr, nullptr, nullptr);
    const uint32_t columns = GVColumnGetCount(db, r.view);
    for (uint32_t i = 1; i <= columns && status == TWSUCCESS; ++i)
      status = add("column" + std::to_string(i), GVTYPE_TEXT, TWTYPE_TEXT, TWSTREAMFMT_QMBCS,
                   std::min(textMax, kMaxCell));
  } else {
    auto addItem = [&](const GVFieldInfo& info) {
      uint32_t type = TWTYPE_BINARY, format = TWSTREAMFMT_BLOB, length = kMaxItem;
      switch (info.itemType) {
        case GVTYPE_NUMBER:
          type = TWTYPE_FLOAT;
          break;
        case GVTYPE_TEXT:
          type = TWTYPE_TEXT;
          break;
        case GVTYPE_TIME:
          type = TWTYPE_DATETIME;
          break;
        case GVTYPE_TEXT_LIST:
        case GVTYPE_NUMBER_LIST:
        case GVTYPE_TIME_LIST:
          if (p.multiValueAsText) {
            type = TWTYPE_TEXT;
          } else {
            format = info.itemType == GVTYPE_TEXT_LIST     ? TWSTREAMFMT_TEXT_LIST
                     : info.itemType == GVTYPE_NUMBER_LIST ? TWSTREAMFMT_NUMBER_LIST
                                                           : TWSTREAMFMT_DATETIME_LIST;
          }
          break;
        case GVTYPE_COMPOSITE:
          format = TWSTREAMFMT_COMPOSITE;
          length = 0;
          break;
        default:
          break;
      }
      if (type == TWTYPE_TEXT) {
        format = TWSTREAMFMT_QMBCS;
        length = textMax;
      }
      return add(info.name, info.itemType, type, format, length);
    };
    const uint32_t listed = TWTextListGetCount(&p.fieldList);
    if (TWStreamDataGetLength(&p.fieldList) != 0 && listed != 0) {
      for (uint32_t i = 1; i <= listed && status == TWSUCCESS; ++i) {
        flowcore::StreamData entry(TWSTREAMFMT_QMBCS);
        status = TWTextListFetch(&p.fieldList, i, TWSTREAMFMT_QMBCS, entry.get(), nullptr, nullptr);
        if (status != TWSUCCESS) break;
        const std::string name(entry.view().substr(0, GV_FIELD_NAME_SIZE - 1));
        GVFieldInfo info{};
        if (GVFieldFetch(db, s.form, name.c_str(), &info) != 0)
          return LogNamed(TWFAIL_INVALID_FIELD, name);
        status = addItem(info);
      }
    } else {
      GVFieldInfo info{};
      for (uint32_t pos = GV_LIST_FIRST;
           status == TWSUCCESS && GVFieldList(db, s.form, pos, &info) == 0; pos = GV_LIST_NEXT)
        status = addItem(info);
    }
  }
  if (status != TWSUCCESS) return TWActivityLog(status);

  // The extra fields, marked as this connection's own.
  for (const ExtraRow& row : kExtras) {
    int32_t on = 0;
    switch (row.token) {
      case kLoadUnid:
        on = p.loadUnid;
        break;
      case kLoadNoteid:
        on = p.loadNoteid;
        break;
      case kLoadRef:
        on = p.loadRef;
        break;
      case kLoadFile:
        on = p.loadFile;
        break;
      case kCopyHierarchy:
        on = p.copyHierarchy;
        break;
      case kCopyFile:
        on = p.copyFile;
        break;
      default:
        break;
    }
    if (!on) continue;
    const bool hier = row.token == kCopyHierarchy;
    if (!hier && r.fetchView)
      return TWActivityLogEx(TWFAIL_PROPERTY_CONFLICT, row.token, kFetchViewData, 0, nullptr,
                             nullptr, nullptr);
    if (hier && r.view == 0)
      return TWActivityLogEx(TWFAIL_PROPERTY_CONFLICT, row.token, kView, 0, nullptr, nullptr,
                             nullptr);
    if (hier && r.responses)
      return TWActivityLogEx(TWFAIL_PROPERTY_CONFLICT, row.token, kViewResponses, 0, nullptr,
                             nullptr, nullptr);
    if (dest == TWNULLHANDLE) continue;
    flowcore::StreamData name(TWSTREAMFMT_QMBCS);
    TWFIELD field = TWNULLHANDLE;
    status = name.Set(TWSTREAMFMT_QMBCS, row.name);
    if (status == TWSUCCESS) status = TWFieldlistAppend(dest, name.get(), row.type, &field);
    if (status == TWSUCCESS) status = TWFieldSetVirtualCode(field, linkCode);
    if (status == TWSUCCESS && IsStreamType(row.type))
      status =
          TWFieldSetFormatStream(field, row.size != 0 ? TWSTREAMF_FIXED : 0, row.size, row.format);
    if (status != TWSUCCESS) return TWActivityLog(status);
  }
  if (count != nullptr)
    *count = (r.view != 0 && (r.responses || !r.allForms)) || r.agentResult
                 ? TWCOUNT_UNKNOWN
                 : GVIndexGetCount(r.index);
  return TWSUCCESS;
}

// ---------------------------------------------------------------- mapping ---------------

namespace {

// 0 when a field of type (format for a binary one) can carry an item of that type.
uint32_t Accepts(uint32_t item, const Mapped& m, bool selectSlot, bool multiValueAsText) {
  const uint32_t type = m.type;
  const bool truncPrec = (m.flags & TWFIELDF_TRUNC_PREC) != 0;
  // A binary field that declares no format takes what its values say.
  const bool binary = type == TWTYPE_BINARY;
  if (binary && m.format == 0) return 0;
  auto numberLike = [&]() -> uint32_t {
    if (type == TWTYPE_FLOAT || (binary && m.format == TWSTREAMFMT_NUMBER_LIST)) return 0;
    if (type == TWTYPE_INT) return !selectSlot || truncPrec ? 0 : TWFAIL_PRECISION_LOSS;
    if (type == TWTYPE_CURRENCY || type == TWTYPE_NUMERIC)
      return truncPrec ? 0 : TWFAIL_PRECISION_LOSS;
    return TWFAIL_TYPE_MISMATCH;
  };
  auto timeLike = [&]() -> uint32_t {
    return type == TWTYPE_DATETIME || (binary && m.format == TWSTREAMFMT_DATETIME_LIST)
               ? 0
               : TWFAIL_TYPE_MISMATCH;
  };
  switch (item) {
    case GVTYPE_TEXT:
      return IsStreamType(type) ? 0 : TWFAIL_TYPE_MISMATCH;
    case GVTYPE_TEXT_LIST:
      return type == TWTYPE_TEXT ||
                     (binary && (m.format == TWSTREAMFMT_TEXT_LIST || m.format == TWSTREAMFMT_BLOB))
                 ? 0
                 : TWFAIL_TYPE_MISMATCH;
    case GVTYPE_NUMBER:
      return numberLike();
    case GVTYPE_NUMBER_LIST:
      if ((binary && m.format == TWSTREAMFMT_BLOB) || (type == TWTYPE_TEXT && multiValueAsText))
        return 0;
      return numberLike();
    case GVTYPE_TIME:
      return timeLike();
    case GVTYPE_TIME_LIST:
      if ((binary && m.format == TWSTREAMFMT_BLOB) || (type == TWTYPE_TEXT && multiValueAsText))
        return 0;
      return timeLike();
    case GVTYPE_COMPOSITE:
      return type == TWTYPE_TEXT ||
                     (binary && (m.format == TWSTREAMFMT_COMPOSITE || m.format == TWSTREAMFMT_BLOB))
                 ? 0
                 : TWFAIL_TYPE_MISMATCH;
    case GVTYPE_OTHER:
      return IsStreamType(type) ? 0 : TWFAIL_TYPE_MISMATCH;
    default:
      return binary && m.format == TWSTREAMFMT_BLOB ? 0 : TWFAIL_TYPE_MISMATCH;
  }
}

Mapped Describe(TWFIELDLIST list, uint32_t index, TWFIELD field) {
  Mapped m;
  m.field = field;
  m.type = TWFieldGetType(field);
  m.flags = TWFieldGetFlags(field);
  if (IsStreamType(m.type)) {
    uint32_t flags = 0, maxLength = 0;
    TWFieldGetFormatStream(field, &flags, &maxLength, &m.format);
  }
  flowcore::StreamData name(TWSTREAMFMT_QMBCS);
  if (TWFieldlistGetName(list, index, TWSTREAMFMT_QMBCS, name.get()) == TWSUCCESS)
    m.name.assign(name.view());
  m.extra = ExtraOf(m.name);
  return m;
}

}  // namespace

uint32_t Connection::MapFields(Slot& slot, TWFIELDLIST list, bool keyOnly) {
  if (list == TWNULLHANDLE) return TWActivityLog(TWFAIL_INVALID_FIELDLIST);
  if (TWFieldlistGetCount(list) == 0) return TWActivityLog(TWFAIL_EMPTY_FIELDLIST);
  if (TWFieldlistGetRecordCount(list) == 0) return TWActivityLog(TWFAIL_NAME_FIELDLIST);
  slot.FreeMap();
  uint32_t flags = slot.mask | TWMERGEF_NAME_LOSS;
  if (p.mapName) flags |= TWMERGEF_MAP_NAME;
  // Fields of the other side's own (its extra fields) have no item: by name they drop out
  // here and are found by name below.
  if (p.mapName && slot.kind != SlotKind::kSelect) flags |= TWMERGEF_DATA_LOSS;
  uint32_t status = TWFieldlistMergeVirtual(flowcore::Out(slot.map), slot.Names().get(), list,
                                            flags, linkCode, flowcore::Out(slot.virt));
  if (status != TWSUCCESS) {
    slot.FreeMap();
    return TWActivityLog(status);
  }
  const uint32_t names = TWFieldlistGetCount(slot.Names().get());
  const uint32_t n = TWFieldlistGetCount(slot.map.get());
  for (uint32_t i = 1; i <= n; ++i) {
    TWFIELD field = TWNULLHANDLE;
    uint32_t position = 0;
    TWFieldlistGetField(slot.map.get(), i, 0, &field, nullptr);
    TWFieldlistGetPosition(slot.map.get(), i, &position);
    Mapped m = Describe(slot.map.get(), i, field);
    if (position >= 1 && position <= names && position <= slot.Items().size()) {
      m.item = slot.Items()[position - 1];
      m.extra = Extra::kNone;
    } else {
      m.item = 0;
    }
    slot.fields.push_back(std::move(m));
  }
  // The extra fields: this connection's own when reading; for writing, any field of the
  // caller's list under one of their names.
  if (slot.kind == SlotKind::kSelect) {
    const uint32_t v = TWFieldlistGetCount(slot.virt.get());
    for (uint32_t i = 1; i <= v; ++i) {
      TWFIELD field = TWNULLHANDLE;
      TWFieldlistGetField(slot.virt.get(), i, 0, &field, nullptr);
      slot.extras.push_back(Describe(slot.virt.get(), i, field));
    }
  } else {
    const uint32_t all = TWFieldlistGetCount(list);
    for (uint32_t i = 1; i <= all; ++i) {
      TWFIELD field = TWNULLHANDLE;
      TWFieldlistGetField(list, i, 0, &field, nullptr);
      Mapped m = Describe(list, i, field);
      if (m.extra == Extra::kNone) continue;
      // A form field of that name is an item, not an extra field.
      bool isItem = false;
      for (const Mapped& f : slot.fields)
        isItem |= f.item != 0 && strcasecmp(f.name.c_str(), m.name.c_str()) == 0;
      if (!isItem) slot.extras.push_back(std::move(m));
    }
  }
  slot.caller = list;
  slot.sequence = TWFieldlistGetSequence(list);

  if (keyOnly) return TWSUCCESS;
  if (slot.kind == SlotKind::kSelect && r.fetchView) {
    const uint32_t columns = GVColumnGetCount(db, r.view);
    if (columns < slot.fields.size()) {
      const uint32_t have = static_cast<uint32_t>(slot.fields.size());
      slot.FreeMap();
      return TWActivityLogEx(TWFAIL_FIELD_COUNT_MISMATCH, have, columns, 0, nullptr, nullptr,
                             nullptr);
    }
    return TWSUCCESS;
  }
  const bool catalog = slot.kind == SlotKind::kSelect && r.catalog != 0;
  for (const Mapped& m : slot.fields) {
    if (m.item == 0) continue;
    const uint32_t item = catalog ? GVTYPE_TEXT : m.item;
    const uint32_t refused = Accepts(item, m, slot.kind == SlotKind::kSelect, p.multiValueAsText);
    if (refused == TWSUCCESS) continue;
    slot.FreeMap();
    flowcore::StreamData name(TWSTREAMFMT_QMBCS);
    (void)name.Set(TWSTREAMFMT_QMBCS, m.name);
    if (refused == TWFAIL_PRECISION_LOSS)
      return TWActivityLogEx(refused, 0, 0, 0, name.get(), nullptr, nullptr);
    const uint32_t mine = m.type == TWTYPE_BINARY && m.format != 0 ? m.format : m.type;
    return TWActivityLogEx(refused, mine, MapItemType(item, p.multiValueAsText), 0, name.get(),
                           nullptr, nullptr);
  }
  return TWSUCCESS;
}

// ---------------------------------------------------------------- positioning -----------

uint32_t Connection::PositionByKey(Slot& slot, TWFIELDLIST keys, uint32_t record, uint32_t* count) {
  const bool selecting = slot.kind == SlotKind::kSelect;
  if (!selecting && (slot.form == 0 || slot.form != formId)) {
    if (uint32_t status = LoadFormFields(slot)) return status;
  }
  if (keys != slot.caller || TWFieldlistGetSequence(keys) != slot.sequence) {
    if (uint32_t status = MapFields(slot, keys, selecting)) return status;
  }
  const GVNOTEID view = selecting ? r.view : viewId;
  if (!selecting && !p.view.empty() && viewId == 0) return LogError(GVERR_NO_VIEW);

  size_t keyFields = 0;
  // Flags are read now: a caller may flag keys on a list the map was built for.
  for (const Mapped& m : slot.fields)
    keyFields += (TWFieldGetFlags(m.field) & TWFIELDF_KEY) != 0 && m.item != 0;
  // Without a key or a condition every document of the form would be hit.
  if (!selecting && keyFields == 0 && p.condition.empty())
    return TWActivityLogEx(TWFAIL_KEY_COUNT_MISMATCH, 0, 1, 0, nullptr, nullptr, nullptr);

  GVINDEX index = selecting ? r.index : 0;
  uint32_t matches = 0;
  uint32_t direction = GVNAV_NEXT;
  uint32_t status = 0;
  auto closeOwn = [&] {
    if (!selecting && index != 0) GVIndexClose(index);
  };
  if (view != 0) {
    std::vector<GVKey> items;
    std::vector<std::string> texts;
    texts.reserve(slot.fields.size());
    for (const Mapped& m : slot.fields) {
      const uint32_t flags = TWFieldGetFlags(m.field);
      if ((flags & TWFIELDF_KEY) == 0 || m.item == 0) continue;
      if ((flags & (TWFIELDF_KEY_GT | TWFIELDF_KEY_LT | TWFIELDF_KEY_NE)) != 0)
        return LogNamed(TWFAIL_INVALID_KEY, m.name);
      GVKey key{};
      key.column = static_cast<uint32_t>(items.size()) + 1;
      uint32_t st = TWSUCCESS;
      if (m.item == GVTYPE_NUMBER || m.item == GVTYPE_NUMBER_LIST) {
        key.kind = GVTYPE_NUMBER;
        st = TWFieldGetFloat(m.field, record, &key.number, nullptr);
      } else if (m.item == GVTYPE_TIME || m.item == GVTYPE_TIME_LIST) {
        key.kind = GVTYPE_TIME;
        TWDatetime v{};
        st = TWFieldGetDatetime(m.field, record, &v, nullptr);
        key.time = GVTIMEDATE{v.ticks, v.date};
      } else {
        key.kind = GVTYPE_TEXT;
        flowcore::StreamData s(TWSTREAMFMT_QMBCS);
        st = TWFieldGetStream(m.field, record, TWSTREAMFMT_QMBCS, s.get(), nullptr);
        texts.emplace_back(s.view());
      }
      if (st != TWSUCCESS) return InFieldBlock(st) ? LogNamed(st, m.name) : TWActivityLog(st);
      items.push_back(key);
    }
    size_t t = 0;
    for (GVKey& key : items)
      if (key.kind == GVTYPE_TEXT) key.text = texts[t++].c_str();
    if (!selecting) {
      status = GVIndexOpen(db, &index);
      if (status == 0) status = GVIndexOpenView(index, 0, view, 0);
    }
    if (status == 0) {
      if (!items.empty()) {
        status =
            GVIndexKeySearch(index, static_cast<uint32_t>(items.size()), items.data(), 0, &matches);
        if (status == GVERR_KEY_NOT_FOUND) {
          status = 0;
          matches = 0;
        }
      } else {
        status = GVIndexSetPosition(index, 0);
        matches = GVIndexGetCount(index);
      }
    }
    direction = GVNAV_CURRENT;
  } else {
    std::string formula;
    status = BuildFormula(slot.formName, slot.map.get(), record, formula);
    if (status != TWSUCCESS) return status;
    if (selecting) {
      status = GVIndexSearch(index, formula.c_str(), 0, 0);
    } else {
      status = GVIndexOpen(db, &index);
      if (status == 0) status = GVIndexSearch(index, formula.c_str(), 0, 0);
    }
    if (status == 0) matches = GVIndexGetCount(index);
  }
  if (status != 0) {
    closeOwn();
    return LogError(status);
  }

  if (selecting) {
    // Stand just before the first match, so that fetching starts on it.
    if (matches != 0 && GVIndexNavigate(index, GVNAV_NEXT, GVNAVF_BACKWARD, nullptr, nullptr) != 0)
      status = GVIndexSetPosition(index, 0);
    if (matches == 0) status = GVIndexSetPosition(index, 0);
    *count += matches;
    return status != 0 ? LogError(status) : TWSUCCESS;
  }
  if (slot.kind == SlotKind::kRemove && view == 0) {
    status = matches != 0 ? GVIndexDeleteAllEntries(index, p.bulkStore ? GVCLOSE_BULK : 0) : 0;
    closeOwn();
    if (status != 0 && status != GVERR_NO_ENTRY) return LogError(status);
    if (status == 0) *count += matches;
    return TWSUCCESS;
  }
  for (uint32_t i = 0; i < matches; ++i) {
    GVNOTEID note = 0;
    status = GVIndexNavigate(index, direction, GVNAVF_DOCUMENTS, &note, nullptr);
    direction = GVNAV_NEXT;
    if (status == GVERR_NO_MORE) {
      status = 0;
      break;
    }
    if (status != 0) break;
    if (slot.kind == SlotKind::kRemove) {
      status = GVDocumentDelete(db, note, p.bulkStore ? GVCLOSE_BULK : 0);
      if (status != 0) break;
    } else {
      GVDOC doc = 0;
      status = GVDocumentOpen(db, note, 0, &doc);
      if (status != 0) break;
      const uint32_t written = WriteFields(slot, doc, record);
      if (written != TWSUCCESS) {
        // Nothing of a record that failed is stored.
        GVDocumentClose(doc, GVCLOSE_DISCARD);
        closeOwn();
        return written;
      }
      status = CloseWritten(doc);
      if (status != 0) break;
    }
    ++*count;
  }
  closeOwn();
  return status != 0 ? LogError(status) : TWSUCCESS;
}

// ---------------------------------------------------------------- select ----------------

uint32_t Connection::Select(TWFIELDLIST keys, uint32_t recordIndex, TWFIELDLIST dest,
                            uint32_t* count) {
  CloseResult();
  if (formId == 0) return MissingForm();
  select.form = formId;
  select.formName = formName;
  const bool ordered = TWStreamDataGetLength(&p.orderList) != 0;
  uint32_t status = TWSUCCESS;
  auto fail = [&](uint32_t st) {
    CloseResult();
    return st;
  };
  if (!p.view.empty()) {
    if (viewId == 0) return LogError(GVERR_NO_VIEW);
    if (ordered || !p.stampField.empty())
      return TWActivityLogEx(TWFAIL_PROPERTY_CONFLICT, kView,
                             ordered ? TWTOKEN_ORDER_LIST : TWTOKEN_STAMPFIELD, 0, nullptr, nullptr,
                             nullptr);
    status = GVIndexOpen(db, &r.index);
    if (status == 0) status = GVIndexOpenView(r.index, 0, viewId, 0);
    if (status != 0) return fail(LogError(status));
    r.view = viewId;
    r.fetchView = p.fetchViewData;
    r.responses = p.viewResponses;
    status = DescribeResult(dest, nullptr);
    if (status != TWSUCCESS) return fail(status);
    uint32_t n = 0;
    if (keys != TWNULLHANDLE && TWFieldlistGetCount(keys) != 0) {
      status = PositionByKey(select, keys, recordIndex, &n);
      if (status != TWSUCCESS) return fail(status);
      // The fetch maps the caller's own list again.
      select.FreeMap();
    } else {
      n = GVIndexGetCount(r.index);
    }
    *count = n;
    r.skip = n + 1;
    return TWSUCCESS;
  }
  std::string formula;
  status = BuildFormula(formName, keys, recordIndex, formula);
  if (status != TWSUCCESS) return fail(status);
  r.allForms = p.allForms;
  if (!ordered && p.stampField.empty()) {
    status = GVIndexOpen(db, &r.index);
    if (status == 0) status = GVIndexSearch(r.index, formula.c_str(), 0, 0);
    if (status != 0) return fail(LogError(status));
  } else {
    status = OpenTemporaryView(formula);
    if (status != TWSUCCESS) return fail(status);
  }
  status = DescribeResult(dest, count);
  return status != TWSUCCESS ? fail(status) : TWSUCCESS;
}

uint32_t Connection::OpenTemporaryView(const std::string& formula) {
  std::vector<GVViewColumn> columns;
  // The columns' formulas, alive until the view is made: a deque never moves what it holds.
  std::deque<std::string> texts;
  uint32_t status = 0;
  if (!p.stampField.empty()) {
    GVFieldInfo info{};
    if (GVFieldFetch(db, formId, p.stampField.c_str(), &info) != 0)
      return LogNamed(TWFAIL_INVALID_STAMPFIELD, p.stampField);
    if (info.itemType != GVTYPE_TIME) {
      flowcore::StreamData name(TWSTREAMFMT_QMBCS);
      (void)name.Set(TWSTREAMFMT_QMBCS, p.stampField);
      return TWActivityLogEx(TWFAIL_STAMPFIELD_TYPE, MapItemType(info.itemType, p.multiValueAsText),
                             0, 0, name.get(), nullptr, nullptr);
    }
    // The window ends a second before the database's own now, so that a document stored in
    // this second is taken by the next run.
    GVDOC scratch = 0;
    status = GVDocumentCreate(db, 0, &scratch);
    if (status == 0) {
      GVTIMEDATE created{};
      status = GVDocumentGetProperty(scratch, GVDOCPROP_CREATED, &created);
      GVDocumentClose(scratch, GVCLOSE_DISCARD);
      p.maxStamp = TWDatetime{created.ticks, created.date};
    }
    if (status != 0) return LogError(status);
    TWDatetimeParts back{};
    back.second = -1;
    TWDatetimeAdjust(&p.maxStamp, &back);
    const std::string& f = p.stampField;
    std::string text = "@@181@@ (@@89@@ (" + f + "); 1; @@93@@ (" + f + ") & (";
    TWDatetimeParts base{};
    TWDatetimeGetParts(&p.baseStamp, TWPARTSF_LOCAL, &base);
    if (base.year > 1) text += f + " > " + DatetimeLiteral(p.baseStamp) + "& ";
    text += f + " <= " + DatetimeLiteral(p.maxStamp) + "); 2; 1)";
    texts.push_back(std::move(text));
    columns.push_back(ViewColumn(GVCOL_CATEGORY, texts.back().c_str(), ""));
    r.stampColumn = true;
  }
  const uint32_t ordered = TWTextListGetCount(&p.orderList);
  if (ordered != 0) {
    std::vector<std::string> formFields;
    GVFieldInfo info{};
    for (uint32_t pos = GV_LIST_FIRST; GVFieldList(db, formId, pos, &info) == 0; pos = GV_LIST_NEXT)
      formFields.emplace_back(info.name);
    size_t from = 0;
    for (uint32_t i = 1; i <= ordered; ++i) {
      flowcore::StreamData entry(TWSTREAMFMT_QMBCS);
      status = TWTextListFetch(&p.orderList, i, TWSTREAMFMT_QMBCS, entry.get(), nullptr, nullptr);
      if (status != TWSUCCESS) return TWActivityLog(status);
      std::string name(entry.view());
      if (GVFieldFetch(db, formId, name.c_str(), &info) != 0)
        return LogNamed(TWFAIL_INVALID_KEY, name);
      if (info.itemType == GVTYPE_COMPOSITE) return LogOwn(false, ORDEX_RICH_TEXT_KEY, name);
      size_t at = from;
      while (at < formFields.size() && strcasecmp(formFields[at].c_str(), name.c_str()) != 0) ++at;
      if (at == formFields.size()) return LogOwn(false, ORDEX_ORDER_OUT_OF_FORM, name);
      from = at + 1;
      texts.push_back(std::move(name));
      columns.push_back(ViewColumn(GVCOL_SORTED, texts.back().c_str(), texts.back()));
    }
  }
  GVViewDesign design = ViewDesign(GVVIEW_TEMPORARY, "", formula.c_str());
  GVNOTEID view = 0;
  status = GVERR_NO_VIEW;
  for (uint32_t n = 0; n < kIndexViewNames; ++n) {
    std::snprintf(design.name, sizeof design.name, "(%s%u)", kIndexViewBase, n);
    if (GVViewLocateByName(db, design.name) != 0) continue;
    status =
        GVViewCreate(db, &design, static_cast<uint32_t>(columns.size()), columns.data(), &view);
    if (status != GVERR_EXISTS) break;
    status = GVERR_NO_VIEW;
  }
  if (status != 0) return LogError(status);
  r.tempView = r.view = view;
  status = GVIndexOpen(db, &r.index);
  if (status == 0) status = GVIndexOpenView(r.index, 0, view, 0);
  if (status == 0 && r.stampColumn) {
    // The window is the category 2; the documents outside it sort ahead under 1.
    double category = 0;
    status = GVIndexSetPosition(r.index, 1);
    if (status == 0 &&
        (GVViewcellFetch(r.index, 1, GVTYPE_NUMBER, 0, &category) != 0 || category != 2.0))
      status = GVIndexSetPosition(r.index, 2);
  }
  return status != 0 ? LogError(status) : TWSUCCESS;
}

// ---------------------------------------------------------------- fetch -----------------

uint32_t Connection::Fetch(TWFIELDLIST dest, uint32_t recordIndex, uint32_t recordCount,
                           uint32_t* count) {
  if (r.index == 0 && r.catalog == 0) return TWFAIL_NO_RESULTSET;
  if (dest != select.caller || TWFieldlistGetSequence(dest) != select.sequence) {
    if (uint32_t status = MapFields(select, dest, false)) return status;
  }
  if (r.catalog != 0) return FetchCatalog(dest, recordIndex, recordCount, count);
  const uint32_t direction =
      r.view != 0 && !r.responses && r.tempView == 0 ? GVNAV_NEXT_MAIN : GVNAV_NEXT;
  const uint32_t navFlags =
      r.fetchView && direction == GVNAV_NEXT ? 0 : GVNAVF_DOCUMENTS | GVNAVF_UNIQUE;
  // An extra field that names the current document or the index position is good only
  // until the next record moves them: such a result goes one record per fetch.
  for (const Mapped& m : select.extras)
    if (m.extra == Extra::kHier || m.extra == Extra::kTwxFile)
      recordCount = std::min(recordCount, 1u);
  uint32_t delivered = 0;
  while (delivered < recordCount) {
    if (r.skip != 0) {
      if (r.skip == 1) break;
      --r.skip;
    }
    GVNOTEID note = 0;
    if (GVIndexNavigate(r.index, direction, navFlags, &note, nullptr) != 0) {
      if (r.skip != 0) r.skip = 1;
      break;
    }
    if (r.doc != 0) {
      const uint32_t closed =
          r.docSpoiled ? GVDocumentClose(r.doc, GVCLOSE_DISCARD) : CloseWritten(r.doc);
      r.doc = 0;
      r.docSpoiled = false;
      if (closed != 0) return LogError(closed);
    }
    if (!r.fetchView) {
      GVDOC doc = 0;
      uint32_t status = GVDocumentOpen(db, note, p.writeBack ? 0 : GVOPEN_READONLY, &doc);
      if (status != 0) return LogError(status);
      if (!r.allForms && (r.view != 0 || r.agentResult) && !OfForm(doc)) {
        GVDocumentClose(doc, GVCLOSE_DISCARD);
        if (r.skip != 0) ++r.skip;
        continue;
      }
      r.doc = doc;
    }
    const uint32_t record = recordIndex + delivered;
    uint32_t column = 0;
    for (const Mapped& m : select.fields) {
      if (uint32_t status = FillField(m.field, record, m.item, m.name, column)) return status;
    }
    for (const Mapped& m : select.extras) {
      if (m.extra == Extra::kNone) return LogNamed(TWFAIL_VIRTUAL_FIELD, m.name);
      if (uint32_t status = ReadExtra(m.field, record, m.extra, m.name)) return status;
    }
    ++delivered;
  }
  *count += delivered;
  return delivered != 0 ? TWSUCCESS : TWFAIL_END_OF_DATA;
}

uint32_t Connection::FillField(TWFIELD field, uint32_t record, uint32_t item,
                               std::string_view fieldName, uint32_t& column) {
  const std::string name(fieldName);
  const uint32_t type = TWFieldGetType(field);
  auto named = [&](uint32_t status) {
    if (status == TWSUCCESS) return status;
    if (status & 0x80000000u) return LogError(status);
    return InFieldBlock(status) ? LogNamed(status, name) : TWActivityLog(status);
  };
  auto missing = [&](uint32_t status) {
    return status == GVERR_NO_ITEM || status == GVERR_NO_VALUE;
  };
  if (r.fetchView) {
    ++column;
    if (type != TWTYPE_TEXT) {
      flowcore::StreamData s(TWSTREAMFMT_QMBCS);
      (void)s.Set(TWSTREAMFMT_QMBCS, name);
      return TWActivityLogEx(TWFAIL_TYPE_MISMATCH, type, TWTYPE_TEXT, 0, s.get(), nullptr, nullptr);
    }
    uint32_t length = 0;
    uint32_t status = GVViewcellGetLength(r.index, column, GVTYPE_TEXT, &length);
    if (status != 0) return LogError(status);
    std::string cell(length + 1, '\0');
    status = GVViewcellFetch(r.index, column, GVTYPE_TEXT, length + 1, cell.data());
    if (status != 0) return LogError(status);
    const size_t n = TrimmedLength(cell.data(), std::strlen(cell.data()));
    if (n == 0) return named(TWFieldSetNull(field, record, 1));
    return named(SetStreamValue(field, record, TWSTREAMFMT_QMBCS, cell.data(), n));
  }
  GVDOC doc = r.doc;
  switch (type) {
    case TWTYPE_FLOAT:
    case TWTYPE_INT:
    case TWTYPE_CURRENCY:
    case TWTYPE_NUMERIC:
    case TWTYPE_DATETIME: {
      const bool time = type == TWTYPE_DATETIME;
      if ((item == GVTYPE_NUMBER_LIST || item == GVTYPE_TIME_LIST) &&
          (TWFieldGetFlags(field) & TWFIELDF_TRUNC_DATA) == 0) {
        uint32_t length = 0;
        if (GVItemGetInfo(doc, name.c_str(), nullptr, nullptr, &length) == 0 && length > 12)
          return named(TWFAIL_OVERFLOW);
      }
      uint32_t kind = time ? GVTYPE_TIME : GVTYPE_NUMBER;
      alignas(8) unsigned char value[8] = {};
      const uint32_t status = GVItemFetch(doc, name.c_str(), &kind, 0, sizeof value, value);
      if (missing(status)) return named(TWFieldSetNull(field, record, 1));
      if (status != 0) return LogError(status);
      if (time) {
        TWDatetime v{};
        std::memcpy(&v, value, sizeof v);
        return named(TWFieldSetDatetime(field, record, &v));
      }
      double d = 0;
      std::memcpy(&d, value, sizeof d);
      const bool truncData = (TWFieldGetFlags(field) & TWFIELDF_TRUNC_DATA) != 0;
      if (type == TWTYPE_FLOAT) return named(TWFieldSetFloat(field, record, &d));
      if (std::isnan(d)) return named(TWFAIL_OVERFLOW);
      if (type == TWTYPE_INT) {
        constexpr double kMost = 2147483647.0;
        constexpr double kLeast = -2147483648.0;
        if ((d > kMost || d < kLeast) && !truncData) return named(TWFAIL_OVERFLOW);
        // Beyond 32 bits the value is clamped, never converted out of range.
        const int32_t v = static_cast<int32_t>(std::clamp(std::trunc(d), kLeast, kMost));
        return named(TWFieldSetInt(field, record, &v));
      }
      uint32_t status2 = TWSUCCESS;
      if (type == TWTYPE_CURRENCY) {
        TWCurrency c{};
        status2 = TWCurrencyFromFloat(&c, &d);
        if (status2 == TWSUCCESS || (status2 == TWFAIL_OVERFLOW && truncData))
          status2 = TWFieldSetCurrency(field, record, &c);
      } else {
        TWNumeric n{};
        status2 = TWNumericFromFloat(&n, &d);
        if (status2 == TWSUCCESS || (status2 == TWFAIL_OVERFLOW && truncData))
          status2 = TWFieldSetNumeric(field, record, &n);
      }
      return named(status2);
    }
    case TWTYPE_TEXT: {
      // Most texts fit a small buffer: one call then reads them. The text is cut only beyond
      // the buffer's room, and then to no fewer than kShortText bytes (whole characters).
      char shortText[256];
      constexpr size_t kShortText = sizeof shortText - 4;
      uint32_t kind = GVTYPE_TEXT;
      uint32_t status = GVItemFetch(doc, name.c_str(), &kind, 0, sizeof shortText, shortText);
      if (missing(status)) return named(TWFieldSetNull(field, record, 1));
      if (status != 0) return LogError(status);
      if (const size_t got = std::strlen(shortText); got < kShortText)
        return named(SetStreamValue(field, record, TWSTREAMFMT_QMBCS, shortText,
                                    TrimmedLength(shortText, got)));
      uint32_t length = 0;
      status = GVItemGetLength(doc, name.c_str(), item, GVTYPE_TEXT, &length);
      if (missing(status)) return named(TWFieldSetNull(field, record, 1));
      std::string text(length + 1, '\0');
      kind = GVTYPE_TEXT;
      if (status == 0) status = GVItemFetch(doc, name.c_str(), &kind, 0, length + 1, text.data());
      if (missing(status)) return named(TWFieldSetNull(field, record, 1));
      if (status != 0) return LogError(status);
      const size_t n = TrimmedLength(text.data(), std::strlen(text.data()));
      return named(SetStreamValue(field, record, TWSTREAMFMT_QMBCS, text.data(), n));
    }
    case TWTYPE_BINARY: {
      uint32_t flags = 0, maxLength = 0, format = 0;
      TWFieldGetFormatStream(field, &flags, &maxLength, &format);
      uint32_t stored = 0, length = 0;
      uint32_t status = GVItemGetInfo(doc, name.c_str(), &stored, nullptr, &length);
      const bool compatible = stored == item ||
                              (item == GVTYPE_TEXT_LIST && stored == GVTYPE_TEXT) ||
                              (item == GVTYPE_NUMBER_LIST && stored == GVTYPE_NUMBER) ||
                              (item == GVTYPE_TIME_LIST && stored == GVTYPE_TIME);
      uint32_t kind = 0;
      uint32_t valueFormat = TWSTREAMFMT_BLOB;
      switch (item) {
        case GVTYPE_TEXT:
        case GVTYPE_TEXT_LIST:
          kind = GVTYPE_TEXT_LIST;
          valueFormat = TWSTREAMFMT_TEXT_LIST;
          break;
        case GVTYPE_NUMBER:
        case GVTYPE_NUMBER_LIST:
          kind = GVTYPE_NUMBER_LIST;
          valueFormat = TWSTREAMFMT_NUMBER_LIST;
          break;
        case GVTYPE_TIME:
        case GVTYPE_TIME_LIST:
          kind = GVTYPE_TIME_LIST;
          valueFormat = TWSTREAMFMT_DATETIME_LIST;
          break;
        case GVTYPE_COMPOSITE:
          valueFormat = TWSTREAMFMT_COMPOSITE;
          break;
        default:
          break;
      }
      if (missing(status) || (status == 0 && (length == 0 || !compatible))) {
        flowcore::StreamData empty(valueFormat);
        status = TWFieldSetStream(field, record, empty.get());
        if (status == TWSUCCESS) status = TWFieldSetNull(field, record, 1);
        return named(status);
      }
      if (status != 0) return LogError(status);
      if (item == GVTYPE_COMPOSITE) {
        std::string records;
        status = ReadRichText(doc, name, records);
        if (status != TWSUCCESS) return status;
        return named(
            SetStreamValue(field, record, TWSTREAMFMT_COMPOSITE, records.data(), records.size()));
      }
      // A single value reads as a one-entry list.
      std::string bytes(length + 16, '\0');
      kind = kind != 0 ? kind : stored;
      status = GVItemFetch(doc, name.c_str(), &kind, 0, static_cast<uint32_t>(bytes.size()),
                           bytes.data());
      if (status != 0) return LogError(status);
      size_t n = length;
      if (valueFormat == TWSTREAMFMT_TEXT_LIST) {
        // The list's own size: its header and entries.
        uint16_t entries = 0;
        std::memcpy(&entries, bytes.data(), 2);
        n = 2 + 2u * entries;
        for (uint16_t e = 0; e < entries; ++e) {
          uint16_t l = 0;
          std::memcpy(&l, bytes.data() + 2 + 2 * e, 2);
          n += l;
        }
      } else if (valueFormat == TWSTREAMFMT_NUMBER_LIST ||
                 valueFormat == TWSTREAMFMT_DATETIME_LIST) {
        uint16_t values = 0, ranges = 0;
        std::memcpy(&values, bytes.data(), 2);
        std::memcpy(&ranges, bytes.data() + 2, 2);
        n = 4 + 8u * values + 16u * ranges;
      }
      n = std::min(n, bytes.size());
      return named(SetStreamValue(field, record, valueFormat, bytes.data(), n));
    }
    default: {
      return named(TWFAIL_INVALID_TYPE);
    }
  }
}

// ---------------------------------------------------------------- catalogue -------------

uint32_t Connection::Catalog(uint32_t objectType, TWFIELDLIST dest, uint32_t* count) {
  CloseResult();
  static const char* const kLabels[] = {"Server", "Database", "Form", "View", "Field"};
  static const uint32_t kLengths[] = {128, 256, 130, 130, 65};
  if (objectType < TWOBJECT_SERVER || objectType > TWOBJECT_FIELD) return TWFAIL_UNAVAILABLE;
  if (objectType == TWOBJECT_FIELD && formId == 0) return MissingForm();
  if (objectType != TWOBJECT_SERVER && objectType != TWOBJECT_DATABASE && db == 0)
    return TWFAIL_INVALID_CONNECT;
  select.form = formId;
  select.formName = formName;
  uint32_t status = TWFieldlistAlloc(flowcore::Out(select.names), 0, 0);
  select.items.clear();
  struct Column {
    const char* name;
    uint32_t length;
  };
  const Column columns[] = {{kLabels[objectType - 1], kLengths[objectType - 1]},
                            {"Owner", 1},
                            {objectType == TWOBJECT_DATABASE ? "Title" : "Comment", 128}};
  for (const Column& c : columns) {
    flowcore::StreamData name(TWSTREAMFMT_QMBCS);
    if (status == TWSUCCESS) status = name.Set(TWSTREAMFMT_QMBCS, c.name);
    if (status == TWSUCCESS)
      status = TWFieldlistAppend(select.names.get(), name.get(), TWTYPE_TEXT, nullptr);
    select.items.push_back(GVTYPE_TEXT);
    if (status == TWSUCCESS && dest != TWNULLHANDLE) {
      TWFIELD field = TWNULLHANDLE;
      status = TWFieldlistAppend(dest, name.get(), TWTYPE_TEXT, &field);
      if (status == TWSUCCESS)
        status = TWFieldSetFormatStream(field, 0, c.length, TWSTREAMFMT_QMBCS);
    }
  }
  if (status != TWSUCCESS) {
    CloseResult();
    return TWActivityLog(status);
  }
  r.catalog = objectType;
  *count = TWCOUNT_UNKNOWN;
  return TWSUCCESS;
}

uint32_t Connection::FetchCatalog(TWFIELDLIST, uint32_t recordIndex, uint32_t recordCount,
                                  uint32_t* count) {
  uint32_t delivered = 0;
  // A walk that ended would start again with the next call: the listing is over.
  while (delivered < recordCount && !r.ended) {
    const uint32_t pos = r.catalogStarted ? GV_LIST_NEXT : GV_LIST_FIRST;
    r.catalogStarted = true;
    std::string name;
    std::string title;
    bool hasTitle = false;
    uint32_t status = 0;
    switch (r.catalog) {
      case TWOBJECT_SERVER: {
        char buffer[GV_SERVER_NAME_SIZE] = "";
        status = GVServerList(pos, buffer);
        name = buffer;
        break;
      }
      case TWOBJECT_DATABASE: {
        char buffer[GV_PATH_SIZE] = "", t[GV_TITLE_SIZE] = "";
        status = GVDatabaseList(p.server.empty() ? nullptr : p.server.c_str(), nullptr, 0,
                                GVDBLIST_DATABASES | GVDBLIST_TEMPLATES, pos, 0, t, buffer);
        name = buffer;
        title = t;
        hasTitle = true;
        break;
      }
      case TWOBJECT_METADATA:
      case TWOBJECT_INDEX: {
        GVDesignEntry entry{};
        status = r.catalog == TWOBJECT_METADATA ? GVFormList(db, pos, &entry)
                                                : GVViewList(db, pos, &entry);
        name = entry.name;
        break;
      }
      default: {
        GVFieldInfo info{};
        status = GVFieldList(db, formId, pos, &info);
        name = info.name;
        break;
      }
    }
    if (status != 0) {
      r.ended = true;
      break;
    }
    const uint32_t record = recordIndex + delivered;
    uint32_t st = TWSUCCESS;
    if (select.fields.size() >= 1)
      st = SetStreamValue(select.fields[0].field, record, TWSTREAMFMT_QMBCS, name.data(),
                          name.size());
    if (st == TWSUCCESS && select.fields.size() >= 2)
      st = TWFieldSetNull(select.fields[1].field, record, 1);
    if (st == TWSUCCESS && select.fields.size() >= 3)
      st = hasTitle ? SetStreamValue(select.fields[2].field, record, TWSTREAMFMT_QMBCS,
                                     title.data(), title.size())
                    : TWFieldSetNull(select.fields[2].field, record, 1);
    if (st != TWSUCCESS) return TWActivityLog(st);
    ++delivered;
  }
  *count += delivered;
  return delivered != 0 ? TWSUCCESS : TWFAIL_END_OF_DATA;
}

}  // namespace ordex
