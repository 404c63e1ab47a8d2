// The writing side: insert, update and remove, items from field values, rich text and long
// text, the extra fields read and written, and the creation and removal of databases, forms
// and views.
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "connection.h"
#include "tw/coding.h"

namespace ordex {

const char* const kTempItem = "TWX@!&%$TempItemqzza()...ttty";

const ExtraRow kExtras[6] = {
    {kLoadUnid, "UNID", TWTYPE_BINARY, TWSTREAMFMT_BLOB, GV_UNID_SIZE},
    {kLoadNoteid, "NOTEID", TWTYPE_INT, 0, 4},
    {kLoadRef, "REF", TWTYPE_BINARY, TWSTREAMFMT_BLOB, GV_UNID_SIZE},
    {kLoadFile, "FILE", TWTYPE_BINARY, TWSTREAMFMT_TEXT_LIST, 0},
    {kCopyHierarchy, "TWXHIER", TWTYPE_BINARY, TWSTREAMFMT_BLOB, 8},
    {kCopyFile, "TWXFILE", TWTYPE_BINARY, TWSTREAMFMT_BLOB, 4},
};

Extra ExtraOf(std::string_view name) {
  for (size_t i = 0; i < 6; ++i) {
    const std::string_view extra = kExtras[i].name;
    if (extra.size() == name.size() && strncasecmp(extra.data(), name.data(), name.size()) == 0)
      return static_cast<Extra>(i);
  }
  return Extra::kNone;
}

// ---------------------------------------------------------------- byte helpers ----------

namespace {

// The length of the record at the start of bytes with its padding, 0 when it does not fit.
size_t RecordLength(std::string_view bytes) {
  if (bytes.size() < 2) return 0;
  uint16_t word = 0;
  std::memcpy(&word, bytes.data(), 2);
  size_t length = 0, header = 0;
  if (word >= 0xFF00) {
    header = 4;
    if (bytes.size() < header) return 0;
    uint16_t l = 0;
    std::memcpy(&l, bytes.data() + 2, 2);
    length = l;
  } else if ((word >> 8) != 0) {
    header = 2;
    length = word >> 8;
  } else {
    header = 6;
    if (bytes.size() < header) return 0;
    uint32_t l = 0;
    std::memcpy(&l, bytes.data() + 2, 4);
    length = l;
  }
  if (length < header) return 0;
  const size_t padded = length + (length & 1);
  // The last record may leave out its padding byte.
  if (length > bytes.size()) return 0;
  return std::min(padded, bytes.size());
}

bool InFieldBlock(uint32_t status) {
  return (status & 0xFFFFFF00u) == 0x3200u;
}

std::string_view View(const TWStream& s) {
  return s.data != nullptr ? std::string_view(static_cast<const char*>(s.data), s.length)
                           : std::string_view();
}

// Whether every value of a number list (u16 count, u16 ranges, then the doubles) is finite;
// a malformed list is left for the store to refuse.
bool FiniteNumbers(std::string_view list) {
  if (list.size() < 4) return true;
  const uint16_t count = tw::get_u16(list.data());
  for (size_t i = 0; i < count && 4 + 8 * i + 8 <= list.size(); ++i)
    if (!std::isfinite(std::bit_cast<double>(tw::get_u64(list.data() + 4 + 8 * i)))) return false;
  return true;
}

}  // namespace

bool IsCompositeStream(std::string_view bytes) {
  if (bytes.empty()) return false;
  while (!bytes.empty()) {
    const size_t n = RecordLength(bytes);
    if (n == 0) return false;
    bytes.remove_prefix(n);
  }
  return true;
}

size_t CompositePiece(std::string_view bytes, size_t limit) {
  size_t taken = 0;
  while (taken < bytes.size()) {
    const size_t n = RecordLength(bytes.substr(taken));
    if (n == 0 || taken + n > limit) break;
    taken += n;
  }
  return taken;
}

size_t Utf8Cut(std::string_view text, size_t limit) {
  if (text.size() <= limit) return text.size();
  size_t n = limit;
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  return n;
}

std::string CutTextList(std::string_view list, size_t limit) {
  if (list.size() <= limit || list.size() < 2) return std::string(list);
  uint16_t count = 0;
  std::memcpy(&count, list.data(), 2);
  std::vector<uint16_t> lengths(count);
  if (list.size() < 2u + 2u * count) return std::string(list.substr(0, 0));
  std::memcpy(lengths.data(), list.data() + 2, 2u * count);
  // Keep the most whole entries whose header and texts fit.
  uint16_t keep = 0;
  size_t texts = 0;
  while (keep < count && 2u + 2u * (keep + 1) + texts + lengths[keep] <= limit) texts += lengths[keep++];
  std::string out(2u + 2u * keep, '\0');
  std::memcpy(out.data(), &keep, 2);
  std::memcpy(out.data() + 2, lengths.data(), 2u * keep);
  out.append(list.substr(2u + 2u * count, texts));
  return out;
}

// ---------------------------------------------------------------- rich text -------------

uint32_t Connection::ReadRichText(GVDOC doc, const std::string& name, std::string& records) {
  NXDOC core = 0;
  uint32_t status = GVDocumentGetOrdexHandle(doc, GVHANDLE_CORE, &core);
  if (status != 0) return LogError(status);
  const uint16_t nameLength = static_cast<uint16_t>(name.size());
  NXBLOCK item = 0, value = 0;
  uint16_t type = 0;
  uint32_t length = 0;
  size_t total = 0;
  for (uint16_t s = NXItemFirst(core, name.c_str(), nameLength, &item, &type, &value, &length); s == 0;
       s = NXItemNext(core, item, name.c_str(), nameLength, &item, &type, &value, &length))
    if (type == NXTYPE_COMPOSITE && length >= 2) total += length - 2;
  records.clear();
  records.reserve(total);
  for (uint16_t s = NXItemFirst(core, name.c_str(), nameLength, &item, &type, &value, &length); s == 0;
       s = NXItemNext(core, item, name.c_str(), nameLength, &item, &type, &value, &length)) {
    if (type != NXTYPE_COMPOSITE || length < 2) continue;
    const auto* bytes = static_cast<const char*>(NXBlockLock(value));
    if (bytes == nullptr) return LogError(GVERR_INVALID_HANDLE);
    records.append(bytes + 2, length - 2);
    NXBlockUnlock(value);
  }
  return TWSUCCESS;
}

uint32_t Connection::WriteRichText(GVDOC doc, const std::string& name, std::string_view records,
                                   uint32_t itemType) {
  if (records.empty()) return TWSUCCESS;
  NXDOC core = 0;
  uint32_t status = GVDocumentGetOrdexHandle(doc, GVHANDLE_CORE, &core);
  if (status != 0) return LogError(status);
  const bool rich = itemType == GVTYPE_COMPOSITE;
  const std::string target = rich ? name : kTempItem;
  // The temporary item is no field of the form: the document's check is lifted around it.
  const bool lift = !rich && p.enforceForm;
  const uint32_t off = 0, on = 1;
  if (lift) GVDocumentSetProperty(doc, GVDOCPROP_FORM_CHECK, &off);
  if (rich) status = GVItemDelete(doc, name.c_str());
  while (status == 0 && !records.empty()) {
    size_t n = CompositePiece(records, kRichPiece);
    // A record larger than a piece goes whole, as an item of its own.
    if (n == 0) n = RecordLength(records);
    if (n == 0) {
      status = GVERR_COMPOSITE;
      break;
    }
    const uint16_t s = NXItemAppend(core, 0, target.c_str(), static_cast<uint16_t>(target.size()),
                                    NXTYPE_COMPOSITE, records.data(), static_cast<uint32_t>(n));
    if (s != 0) status = 0x80000000u | s;
    records.remove_prefix(n);
  }
  if (status == 0 && !rich) {
    GVCOMP comp = 0;
    status = GVCompositeOpen(doc, kTempItem, &comp);
    if (status == 0) {
      status = GVItemPut(doc, name.c_str(), itemType, 0, GVTYPE_COMPOSITE, &comp, 0);
      GVCompositeClose(comp, GVCOMPCLOSE_DISCARD);
    }
  }
  if (!rich) GVItemDelete(doc, kTempItem);
  if (lift) GVDocumentSetProperty(doc, GVDOCPROP_FORM_CHECK, &on);
  return status != 0 ? LogError(status) : TWSUCCESS;
}

uint32_t Connection::WriteLongText(GVDOC doc, const std::string& name, std::string_view text) {
  size_t first = Utf8Cut(text, kTextPiece);
  if (first == 0 && !text.empty()) first = std::min<size_t>(text.size(), kTextPiece);
  const std::string head(text.substr(0, first));
  uint32_t status = GVItemPut(doc, name.c_str(), GVTYPE_COMPOSITE,
                              static_cast<uint32_t>(head.size()), GVTYPE_TEXT, head.c_str(), 0);
  if (status != 0 || first == text.size()) return status != 0 ? LogError(status) : TWSUCCESS;
  const uint32_t off = 0, on = 1;
  if (p.enforceForm) GVDocumentSetProperty(doc, GVDOCPROP_FORM_CHECK, &off);
  GVCOMP whole = 0;
  bool temp = false;
  status = GVCompositeOpen(doc, name.c_str(), &whole);
  text.remove_prefix(first);
  while (status == 0 && !text.empty()) {
    size_t n = Utf8Cut(text, kTextPiece);
    if (n == 0) n = std::min<size_t>(text.size(), kTextPiece);
    const std::string piece(text.substr(0, n));
    text.remove_prefix(n);
    temp = true;
    status = GVItemPut(doc, kTempItem, GVTYPE_COMPOSITE, static_cast<uint32_t>(piece.size()),
                       GVTYPE_TEXT, piece.c_str(), 0);
    GVCOMP part = 0;
    if (status == 0) status = GVCompositeOpen(doc, kTempItem, &part);
    if (status == 0) {
      status = GVCompositeMerge(whole, 0, part);
      GVCompositeClose(part, GVCOMPCLOSE_DISCARD);
    }
    GVItemDelete(doc, kTempItem);
  }
  if (whole != 0) {
    const uint32_t closed = GVCompositeClose(whole, status == 0 ? GVCOMPCLOSE_WRITE : GVCOMPCLOSE_DISCARD);
    if (status == 0) status = closed;
  }
  uint32_t result = TWSUCCESS;
  if (status != 0) {
    result = LogError(status);
    if (temp) GVItemDelete(doc, kTempItem);
    GVItemDelete(doc, name.c_str());
  }
  if (p.enforceForm) GVDocumentSetProperty(doc, GVDOCPROP_FORM_CHECK, &on);
  return result;
}

// ---------------------------------------------------------------- extra fields ----------

uint32_t Connection::ReadExtra(TWFIELD field, uint32_t record, Extra extra, std::string_view name) {
  const ExtraRow& row = kExtras[static_cast<size_t>(extra)];
  const uint32_t type = TWFieldGetType(field);
  uint32_t flags = 0, maxLength = 0, format = 0;
  if (type == TWTYPE_TEXT || type == TWTYPE_BINARY) TWFieldGetFormatStream(field, &flags, &maxLength, &format);
  auto mismatch = [&] {
    flowcore::StreamData s(TWSTREAMFMT_QMBCS);
    (void)s.Set(TWSTREAMFMT_QMBCS, name);
    return TWActivityLogEx(TWFAIL_TYPE_MISMATCH, type == TWTYPE_BINARY && format != 0 ? format : type,
                           row.format != 0 ? row.format : row.type, 0, s.get(), nullptr, nullptr);
  };
  if (row.format == TWSTREAMFMT_BLOB && (type != TWTYPE_BINARY || format != TWSTREAMFMT_BLOB))
    return mismatch();
  auto blob = [&](const void* bytes, size_t n) {
    flowcore::StreamData s(TWSTREAMFMT_BLOB);
    uint32_t st = s.Set(TWSTREAMFMT_BLOB, std::string_view(static_cast<const char*>(bytes), n));
    if (st == TWSUCCESS) st = TWFieldSetStream(field, record, s.get());
    return st == TWSUCCESS ? st : TWActivityLog(st);
  };
  if (r.doc == 0) return LogNamed(TWFAIL_VIRTUAL_VALUE, name);
  uint32_t status = 0;
  switch (extra) {
    case Extra::kUnid: {
      uint8_t unid[GV_UNID_SIZE] = {};
      status = GVDocumentGetProperty(r.doc, GVDOCPROP_UNID, unid);
      if (status == 0) return blob(unid, sizeof unid);
      break;
    }
    case Extra::kNoteid: {
      uint32_t note = 0;
      status = GVDocumentGetProperty(r.doc, GVDOCPROP_NOTE_ID, &note);
      if (status == 0) {
        const int32_t v = static_cast<int32_t>(note);
        const uint32_t st = TWFieldSetInt(field, record, &v);
        return st == TWSUCCESS ? st : TWActivityLog(st);
      }
      break;
    }
    case Extra::kRef: {
      uint8_t parent[GV_UNID_SIZE] = {};
      status = GVDocumentGetProperty(r.doc, GVDOCPROP_PARENT, parent);
      if (status == GVERR_NO_ENTRY) {
        const uint32_t st = blob(parent, 0);
        return st == TWSUCCESS ? TWFieldSetNull(field, record, 1) : st;
      }
      if (status == 0) return blob(parent, sizeof parent);
      break;
    }
    case Extra::kFile: {
      if (!(type == TWTYPE_TEXT ||
            (type == TWTYPE_BINARY && (format == TWSTREAMFMT_TEXT_LIST || format == TWSTREAMFMT_BLOB))))
        return mismatch();
      uint32_t note = 0;
      GVDocumentGetProperty(r.doc, GVDOCPROP_NOTE_ID, &note);
      // Each document's files go into a folder of its own: two documents may attach files of
      // one name.
      const std::string folder = p.filePath + std::to_string(note) + "/";
      std::vector<std::string> paths;
      GVAttachmentInfo info{};
      for (uint32_t pos = GV_LIST_FIRST; (status = GVAttachmentList(r.doc, pos, &info)) == 0;
           pos = GV_LIST_NEXT) {
        const std::string_view file = info.name;
        if (file.empty() || file.find('/') != std::string_view::npos || file == "." ||
            file.find("..") != std::string_view::npos)
          return LogNamed(TWFAIL_VIRTUAL_VALUE, name);
        const std::string path = folder + std::string(file);
        if (path.size() >= static_cast<size_t>(kPathRoom)) return LogNamed(TWFAIL_VIRTUAL_VALUE, name);
        if (paths.empty() && mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
          return LogError(GVERR_FILE);
        uint32_t st = GVAttachmentExtract(r.doc, info.name, path.c_str());
        if (st != 0) return LogError(st);
        paths.push_back(path);
      }
      if (status != GVERR_NO_MORE) return LogError(status);
      if (paths.empty()) return TWFieldSetNull(field, record, 1);
      std::string list(2 + 2 * paths.size(), '\0');
      const uint16_t count = static_cast<uint16_t>(paths.size());
      std::memcpy(list.data(), &count, 2);
      for (size_t i = 0; i < paths.size(); ++i) {
        const uint16_t l = static_cast<uint16_t>(paths[i].size());
        std::memcpy(list.data() + 2 + 2 * i, &l, 2);
      }
      for (const std::string& path : paths) list += path;
      flowcore::StreamData s(TWSTREAMFMT_TEXT_LIST);
      uint32_t st = s.Set(TWSTREAMFMT_TEXT_LIST, list);
      if (st == TWSUCCESS) st = TWFieldSetStream(field, record, s.get());
      return st == TWSUCCESS ? st : TWActivityLog(st);
    }
    case Extra::kHier: {
      uint32_t value[2] = {r.index, 0};
      status = GVDocumentGetProperty(r.doc, GVDOCPROP_NOTE_ID, &value[1]);
      if (status == 0) return blob(value, sizeof value);
      break;
    }
    case Extra::kTwxFile:
      return blob(&r.doc, sizeof r.doc);
    case Extra::kNone:
      return LogNamed(TWFAIL_VIRTUAL_FIELD, name);
  }
  return LogError(status);
}

uint32_t Connection::CopyHierarchy(GVDOC doc, std::string_view value, std::string_view name) {
  if (value.size() != 8) return LogNamed(TWFAIL_VIRTUAL_VALUE, name);
  uint32_t words[2] = {};
  std::memcpy(words, value.data(), sizeof words);
  const GVINDEX index = words[0];
  GVNOTEID current = 0;
  uint32_t entry = 0;
  // The source must still stand on the document the value names.
  if (GVIndexNavigate(index, GVNAV_CURRENT, 0, &current, &entry) != 0 || current != words[1])
    return LogNamed(TWFAIL_VIRTUAL_VALUE, name);
  if (GVIndexNavigate(index, GVNAV_FIRST_DESCENDANT, GVNAVF_PEEK, nullptr, nullptr) != 0)
    return TWSUCCESS;
  char position[GV_POSITION_SIZE] = "";
  uint32_t status = GVIndexGetViewPosition(index, GVPOSF_WALK, position);
  if (status != 0) return LogError(status);
  const uint32_t top = (entry >> 8) & 0xFF;
  // parents[d] is the copy standing for the source's entry d levels below the top.
  std::vector<std::array<uint8_t, GV_UNID_SIZE>> parents(1);
  status = GVDocumentGetProperty(doc, GVDOCPROP_UNID, parents[0].data());
  uint32_t direction = GVNAV_FIRST_DESCENDANT;
  while (status == 0) {
    GVNOTEID note = 0;
    if (GVIndexNavigate(index, direction, 0, &note, &entry) != 0) break;
    direction = GVNAV_NEXT_DESCENDANT;
    if (note == 0) continue;
    const uint32_t level = (entry >> 8) & 0xFF;
    const size_t depth = level > top ? level - top : 1;
    if (depth > parents.size()) continue;  // beneath a category or a skipped entry
    GVNOTEID copy = note;
    status = GVIndexCopyHierarchy(index, db, &copy, 0);
    GVDOC d = 0;
    if (status == 0) status = GVDocumentOpen(db, copy, 0, &d);
    if (status != 0) break;
    std::array<uint8_t, GV_UNID_SIZE> unid{};
    status = GVDocumentSetProperty(d, GVDOCPROP_PARENT, parents[depth - 1].data());
    if (status == 0) status = GVDocumentGetProperty(d, GVDOCPROP_UNID, unid.data());
    const uint32_t closed = GVDocumentClose(d, status == 0 ? GVCLOSE_STORE : GVCLOSE_DISCARD);
    if (status == 0) status = closed;
    parents.resize(depth);
    parents.push_back(unid);
  }
  const uint32_t restored = GVIndexSetViewPosition(index, position);
  if (status == 0) status = restored;
  return status != 0 ? LogError(status) : TWSUCCESS;
}

uint32_t Connection::WriteExtra(GVDOC doc, TWFIELD field, uint32_t record, Extra extra,
                                std::string_view name) {
  if (extra == Extra::kNoteid || TWFieldIsNull(field, record)) return TWSUCCESS;
  const ExtraRow& row = kExtras[static_cast<size_t>(extra)];
  flowcore::StreamData value;
  uint32_t st = TWFieldGetStream(field, record, row.format == TWSTREAMFMT_TEXT_LIST ? TWSTREAMFMT_TEXT_LIST : 0,
                                 value.get(), nullptr);
  if (st != TWSUCCESS) return InFieldBlock(st) ? LogNamed(st, name) : TWActivityLog(st);
  const std::string_view bytes = value.view();
  uint32_t status = 0;
  switch (extra) {
    case Extra::kUnid: {
      if (bytes.size() != GV_UNID_SIZE) return LogNamed(TWFAIL_VIRTUAL_VALUE, name);
      NXDOC core = 0;
      status = GVDocumentGetOrdexHandle(doc, GVHANDLE_CORE, &core);
      NXIdentity identity{};
      if (status == 0) {
        uint16_t s = NXHeaderRead(core, NXHEADER_IDENTITY, &identity);
        if (s == 0) {
          std::memcpy(identity.unid, bytes.data(), GV_UNID_SIZE);
          s = NXHeaderWrite(core, NXHEADER_IDENTITY, &identity);
        }
        if (s != 0) status = 0x80000000u | s;
      }
      break;
    }
    case Extra::kRef:
      if (bytes.size() != GV_UNID_SIZE) return LogNamed(TWFAIL_VIRTUAL_VALUE, name);
      status = GVDocumentSetProperty(doc, GVDOCPROP_PARENT, bytes.data());
      break;
    case Extra::kFile: {
      const uint32_t n = TWTextListGetCount(value.get());
      for (uint32_t i = 1; i <= n && status == 0; ++i) {
        flowcore::StreamData entry(TWSTREAMFMT_QMBCS);
        st = TWTextListFetch(value.get(), i, TWSTREAMFMT_QMBCS, entry.get(), nullptr, nullptr);
        if (st != TWSUCCESS) return TWActivityLog(st);
        if (entry.view().size() > 256) return LogNamed(TWFAIL_VIRTUAL_VALUE, name);
        const std::string path(entry.view());
        status = GVAttachmentAttach(doc, path.c_str(), nullptr, 0, 0);
      }
      break;
    }
    case Extra::kHier:
      return CopyHierarchy(doc, bytes, name);
    case Extra::kTwxFile: {
      if (bytes.size() != 4) return LogNamed(TWFAIL_VIRTUAL_VALUE, name);
      GVDOC source = 0;
      std::memcpy(&source, bytes.data(), 4);
      GVAttachmentInfo info{};
      status = GVAttachmentList(source, GV_LIST_FIRST, &info);
      // The source document is gone: the value names nothing any more.
      if (status == GVERR_INVALID_HANDLE) return LogNamed(TWFAIL_VIRTUAL_VALUE, name);
      while (status == 0) {
        status = GVAttachmentCopy(source, info.name, doc);
        if (status == 0) status = GVAttachmentList(source, GV_LIST_NEXT, &info);
      }
      if (status == GVERR_NO_MORE) status = 0;
      break;
    }
    default:
      return LogNamed(TWFAIL_INVALID_FIELD, name);
  }
  return status != 0 ? LogError(status) : TWSUCCESS;
}

// ---------------------------------------------------------------- items -----------------

uint32_t Connection::WriteValue(Slot& slot, GVDOC doc, TWFIELD field, uint32_t record,
                                uint32_t itemType, const std::string& name) {
  const bool updating = slot.kind == SlotKind::kUpdate;
  if (TWFieldIsNull(field, record)) {
    if (!updating) return TWSUCCESS;
    const uint32_t status = GVItemDelete(doc, name.c_str());
    return status != 0 ? LogError(status) : TWSUCCESS;
  }
  const uint32_t flags = TWFieldGetFlags(field);
  const bool truncData = (flags & TWFIELDF_TRUNC_DATA) != 0;
  const uint32_t type = TWFieldGetType(field);
  uint32_t status = 0;
  switch (type) {
    case TWTYPE_FLOAT:
    case TWTYPE_INT:
    case TWTYPE_CURRENCY:
    case TWTYPE_NUMERIC: {
      double d = 0;
      uint32_t st = TWFieldGetFloat(field, record, &d, nullptr);
      if (st != TWSUCCESS) return LogNamed(st, name);
      // A document's number is finite: NaN and the infinities lie beyond its range.
      if (!std::isfinite(d)) return LogNamed(TWFAIL_OVERFLOW, name);
      status = GVItemPut(doc, name.c_str(), itemType, 0, GVTYPE_NUMBER, &d, 0);
      break;
    }
    case TWTYPE_DATETIME: {
      TWDatetime v{};
      uint32_t st = TWFieldGetDatetime(field, record, &v, nullptr);
      if (st != TWSUCCESS) return LogNamed(st, name);
      const GVTIMEDATE t{v.ticks, v.date};
      status = GVItemPut(doc, name.c_str(), 0, 0, GVTYPE_TIME, &t, 0);
      break;
    }
    case TWTYPE_TEXT:
    case TWTYPE_BINARY: {
      void* buffer = nullptr;
      TWFieldGetBuffer(field, record, &buffer, nullptr);
      const auto* stream = static_cast<const TWStream*>(buffer);
      if (stream == nullptr) return LogNamed(TWFAIL_INVALID_TYPE, name);
      const uint32_t format = stream->format;
      if ((format & TWSTREAMFMTF_BINARY) != 0) {
        std::string_view bytes = View(*stream);
        const bool composite = format == TWSTREAMFMT_COMPOSITE ||
                               (format == TWSTREAMFMT_BLOB && itemType == GVTYPE_COMPOSITE &&
                                IsCompositeStream(bytes));
        if (composite) return WriteRichText(doc, name, bytes, itemType);
        uint32_t kind = format == TWSTREAMFMT_TEXT_LIST     ? GVTYPE_TEXT_LIST
                        : format == TWSTREAMFMT_NUMBER_LIST ? GVTYPE_NUMBER_LIST
                        : format == TWSTREAMFMT_DATETIME_LIST ? GVTYPE_TIME_LIST
                        : itemType == GVTYPE_OTHER            ? GVTYPE_OTHER
                                                              : GVTYPE_TEXT;
        if (kind == GVTYPE_NUMBER_LIST && !FiniteNumbers(bytes))
          return LogNamed(TWFAIL_OVERFLOW, name);
        std::string held;
        if ((kind == GVTYPE_NUMBER_LIST && itemType == GVTYPE_NUMBER) ||
            (kind == GVTYPE_TIME_LIST && itemType == GVTYPE_TIME)) {
          if (bytes.size() > 12) {
            if (!truncData) return LogNamed(TWFAIL_OVERFLOW, name);
            // One value fits the item: the first, with the count saying so.
            held.assign(bytes.substr(0, 12));
            const uint16_t one[2] = {1, 0};
            std::memcpy(held.data(), one, 4);
            bytes = held;
          }
        }
        if (itemType == GVTYPE_COMPOSITE) return WriteLongText(doc, name, bytes);
        if (bytes.size() > kMaxItem) {
          if (!truncData) return LogNamed(TWFAIL_OVERFLOW, name);
          if (kind == GVTYPE_TEXT_LIST) {
            held = CutTextList(bytes, kMaxItem);
          } else if (kind == GVTYPE_NUMBER_LIST || kind == GVTYPE_TIME_LIST) {
            // Whole values only, ranges dropped.
            const uint16_t values = static_cast<uint16_t>((kMaxItem - 4) / 8);
            held.assign(bytes.substr(0, 4 + 8u * values));
            const uint16_t header[2] = {values, 0};
            std::memcpy(held.data(), header, 4);
          } else {
            held.assign(bytes.substr(0, kMaxItem));
          }
          bytes = held;
        }
        // An empty list goes as its empty layout.
        static const char kEmptyList[4] = {0, 0, 0, 0};
        if (bytes.empty() && kind != GVTYPE_TEXT && kind != GVTYPE_OTHER)
          bytes = std::string_view(kEmptyList, kind == GVTYPE_TEXT_LIST ? 2 : 4);
        if (kind == GVTYPE_TEXT) {
          held.assign(bytes);
          status = GVItemPut(doc, name.c_str(), itemType, static_cast<uint32_t>(held.size()), kind,
                             held.c_str(), 0);
        } else {
          status = GVItemPut(doc, name.c_str(), itemType, static_cast<uint32_t>(bytes.size()), kind,
                             bytes.data(), 0);
        }
        break;
      }
      flowcore::StreamData text(TWSTREAMFMT_QMBCS);
      uint32_t st = TWStreamDataConvert(text.get(), stream, 0, TWSTREAMFMT_QMBCS, nullptr, nullptr);
      if (st != TWSUCCESS) return InFieldBlock(st) ? LogNamed(st, name) : TWActivityLog(st);
      std::string_view bytes = text.view();
      if (itemType == GVTYPE_COMPOSITE) return WriteLongText(doc, name, bytes);
      // A text too long for its item is a precision loss, not lost data: it is cut under
      // TWFIELDF_TRUNC_PREC, which a default transfer sets.
      if (bytes.size() > kMaxItem) {
        if ((flags & TWFIELDF_TRUNC_PREC) == 0) return LogNamed(TWFAIL_OVERFLOW, name);
        bytes = bytes.substr(0, Utf8Cut(bytes, kMaxItem));
      }
      const std::string held(bytes);
      status = GVItemPut(doc, name.c_str(), itemType, static_cast<uint32_t>(held.size()),
                         GVTYPE_TEXT, held.c_str(), 0);
      break;
    }
    default:
      return LogNamed(TWFAIL_INVALID_TYPE, name);
  }
  return status != 0 ? LogError(status) : TWSUCCESS;
}

uint32_t Connection::WriteFields(Slot& slot, GVDOC doc, uint32_t record) {
  const bool updating = slot.kind == SlotKind::kUpdate;
  for (const Mapped& m : slot.fields) {
    if (updating && (TWFieldGetFlags(m.field) & TWFIELDF_NO_UPDATE) != 0) continue;
    if (m.item == 0) {
      if (m.extra != Extra::kNone) continue;  // written below
      return LogNamed(TWFAIL_INVALID_FIELD, m.name);
    }
    if (uint32_t status = WriteValue(slot, doc, m.field, record, m.item, m.name)) return status;
  }
  for (const Mapped& m : slot.extras) {
    if (updating && (TWFieldGetFlags(m.field) & TWFIELDF_NO_UPDATE) != 0) continue;
    if (uint32_t status = WriteExtra(doc, m.field, record, m.extra, m.name)) return status;
  }
  return TWSUCCESS;
}

// ---------------------------------------------------------------- insert, update, remove

uint32_t Connection::Insert(TWFIELDLIST src, uint32_t recordIndex, uint32_t recordCount,
                            uint32_t* count) {
  if (db == 0) return TWFAIL_INVALID_CONNECT;
  if (insert.form == 0 || insert.form != formId) {
    if (uint32_t status = LoadFormFields(insert)) return status;
  }
  if (src != insert.caller || TWFieldlistGetSequence(src) != insert.sequence) {
    if (uint32_t status = MapFields(insert, src, false)) return status;
  }
  for (uint32_t i = 0; i < recordCount; ++i) {
    GVDOC doc = 0;
    uint32_t status = GVDocumentCreate(db, p.enforceForm ? formId : 0, &doc);
    if (status == 0 && !p.enforceForm)
      status = GVItemPut(doc, "Form", 0, 0, GVTYPE_TEXT, insert.formName.c_str(), 0);
    if (status != 0) {
      if (doc != 0) GVDocumentClose(doc, GVCLOSE_DISCARD);
      return LogError(status);
    }
    const uint32_t written = WriteFields(insert, doc, recordIndex + i);
    if (written != TWSUCCESS) {
      GVDocumentClose(doc, GVCLOSE_DISCARD);
      return written;
    }
    if (p.insertMail) {
      status = GVMailSend(doc, p.mailEmbedForm ? GVMAIL_EMBED_FORM : 0);
      GVDocumentClose(doc, GVCLOSE_DISCARD);
    } else {
      status = CloseWritten(doc);
    }
    if (status != 0) return LogError(status);
    ++*count;
  }
  return TWSUCCESS;
}

uint32_t Connection::EachByKey(Slot& slot, TWFIELDLIST list, uint32_t recordIndex,
                               uint32_t recordCount, uint32_t* count) {
  for (uint32_t i = 0; i < recordCount; ++i)
    if (uint32_t status = PositionByKey(slot, list, recordIndex + i, count)) return status;
  return TWSUCCESS;
}

uint32_t Connection::WriteBackReady(uint32_t recordCount) {
  if (r.doc == 0) return TWActivityLog(TWFAIL_NO_WRITEBACK);
  if (recordCount > 1) return TWActivityLog(TWFAIL_WRITEBACK_COUNT);
  return TWSUCCESS;
}

uint32_t Connection::Update(TWFIELDLIST src, uint32_t recordIndex, uint32_t recordCount,
                            uint32_t* count) {
  if (db == 0) return TWFAIL_INVALID_CONNECT;
  if (!p.writeBack) return EachByKey(updateKey, src, recordIndex, recordCount, count);
  if (uint32_t refused = WriteBackReady(recordCount)) return refused;
  if (updatePlace.form != select.form) {
    updatePlace.FreeMap();
    updatePlace.form = select.form;
    updatePlace.formName = select.formName;
  }
  if (src != updatePlace.caller || TWFieldlistGetSequence(src) != updatePlace.sequence) {
    if (uint32_t status = MapFields(updatePlace, src, false)) return status;
  }
  const uint32_t status = WriteFields(updatePlace, r.doc, recordIndex);
  // A document whose writing failed is discarded when fetching moves on, never stored.
  if (status != TWSUCCESS) {
    r.docSpoiled = true;
    return status;
  }
  *count = 1;
  return TWSUCCESS;
}

uint32_t Connection::Remove(TWFIELDLIST keys, uint32_t recordIndex, uint32_t recordCount,
                            uint32_t* count) {
  if (db == 0) return TWFAIL_INVALID_CONNECT;
  if (!p.writeBack) return EachByKey(removeKey, keys, recordIndex, recordCount, count);
  if (uint32_t refused = WriteBackReady(recordCount)) return refused;
  GVNOTEID note = 0;
  uint32_t status = GVDocumentGetProperty(r.doc, GVDOCPROP_NOTE_ID, &note);
  GVDocumentClose(r.doc, GVCLOSE_DISCARD);
  r.doc = 0;
  r.docSpoiled = false;
  if (status == 0) status = GVDocumentDelete(db, note, p.bulkStore ? GVCLOSE_BULK : 0);
  if (status != 0) return LogError(status);
  *count = 1;
  return TWSUCCESS;
}

// ---------------------------------------------------------------- design ----------------

GVViewColumn ViewColumn(uint32_t kind, const char* formula, std::string_view title) {
  GVViewColumn c{};
  c.width = 80;
  c.kind = kind;
  c.display[11] = 0x0A;
  c.display[12] = 1;
  c.attr48 = 2;
  c.attr52 = 2;
  c.attr56 = 14;
  c.formula = formula;
  const size_t n = std::min(title.size(), sizeof c.title - 1);
  std::memcpy(c.title, title.data(), n);
  return c;
}

GVViewDesign ViewDesign(uint32_t style, std::string_view name, const char* selection) {
  GVViewDesign design{};
  design.style = style;
  design.selectionKind = GVVIEWSEL_FORMULA;
  design.display[3] = design.display[7] = design.display[11] = 0x0A;
  design.selection = selection;
  const size_t n = std::min(name.size(), sizeof design.name - 1);
  std::memcpy(design.name, name.data(), n);
  return design;
}

namespace {

bool ValidFieldName(std::string_view name) {
  if (name.empty() || !std::isalpha(static_cast<unsigned char>(name[0]))) return false;
  for (char ch : name)
    if (!std::isalnum(static_cast<unsigned char>(ch)) && ch != '_' && ch != '$') return false;
  return true;
}

}  // namespace

uint32_t Connection::CreateForm(TWFIELDLIST src) {
  if (p.metadata.empty()) return LogNamed(TWFAIL_INVALID_METADATA, "");
  if (formId != 0) return LogNamed(TWFAIL_DUPLICATE, formName);
  struct FieldDef {
    std::string name;
    uint32_t item;
  };
  std::vector<FieldDef> defs;
  const uint32_t n = TWFieldlistGetCount(src);
  for (uint32_t i = 1; i <= n; ++i) {
    TWFIELD field = TWNULLHANDLE;
    flowcore::StreamData nameStream(TWSTREAMFMT_QMBCS);
    if (uint32_t st = TWFieldlistGetField(src, i, TWSTREAMFMT_QMBCS, &field, nameStream.get()))
      return TWActivityLog(st);
    const uint32_t flags = TWFieldGetFlags(field);
    std::string name(nameStream.view().substr(0, GV_FIELD_NAME_SIZE - 1));
    // Fields of a connection's own (the extra fields of either link) are no items.
    const uint32_t code = TWFieldGetVirtualCode(field);
    if ((flags & TWFIELDF_NO_CREATE) != 0 || (code != 0 && (code == linkCode || ExtraOf(name) != Extra::kNone)))
      continue;
    if (!ValidFieldName(name)) return LogNamed(TWFAIL_INVALID_FIELDNAME, name);
    uint32_t item = GVTYPE_TEXT;
    const uint32_t type = TWFieldGetType(field);
    uint32_t sflags = 0, maxLength = 0, format = 0;
    if (type == TWTYPE_TEXT || type == TWTYPE_BINARY) TWFieldGetFormatStream(field, &sflags, &maxLength, &format);
    switch (type) {
      case TWTYPE_INT:
      case TWTYPE_FLOAT:
      case TWTYPE_CURRENCY:
      case TWTYPE_NUMERIC:
        item = GVTYPE_NUMBER;
        break;
      case TWTYPE_DATETIME:
        item = GVTYPE_TIME;
        break;
      case TWTYPE_TEXT:
        item = maxLength >= 1 && maxLength <= kMaxItem ? GVTYPE_TEXT : GVTYPE_COMPOSITE;
        break;
      case TWTYPE_BINARY:
        item = format == TWSTREAMFMT_COMPOSITE       ? GVTYPE_COMPOSITE
               : format == TWSTREAMFMT_TEXT_LIST     ? GVTYPE_TEXT_LIST
               : format == TWSTREAMFMT_NUMBER_LIST   ? GVTYPE_NUMBER_LIST
               : format == TWSTREAMFMT_DATETIME_LIST ? GVTYPE_TIME_LIST
                                                     : GVTYPE_TEXT;
        break;
      default:
        return LogNamed(TWFAIL_INVALID_TYPE, name);
    }
    defs.push_back({std::move(name), item});
  }
  GVDatabaseSetProperty(db, GVDBPROP_FORM_CHECK, 0);
  GVDOC scratch = 0;
  GVCOMP body = 0;
  uint32_t status = GVDocumentCreate(db, 0, &scratch);
  if (status == 0) status = GVCompositeCreate(scratch, nullptr, &body);
  GVParagraphDef par{};
  par.leftMargin = 1440;
  par.rightMargin = 1440;
  par.firstTab = 720;
  if (status == 0) status = GVCDRecordInsert(body, 0, GVCD_PARDEF, &par);
  if (status == 0) status = GVCDRecordInsert(body, 0, GVCD_PARAGRAPH, nullptr);
  if (status == 0) status = GVCDRecordInsert(body, 0, GVCD_PARSELECT, &par);
  for (const FieldDef& def : defs) {
    if (status != 0) break;
    GVFieldRecord rec{};
    rec.itemType = def.item;
    rec.flags = GVFIELDF_STORED;
    rec.display[7] = 0x0A;
    rec.display[8] = 1;
    rec.attr40 = 2;
    rec.attr44 = 2;
    rec.listFlags = def.item >= GVTYPE_TEXT_LIST && def.item <= GVTYPE_TIME_LIST ? GVFIELD_MULTIVALUE : 0;
    rec.name = def.name.c_str();
    status = GVCDRecordInsert(body, 0, GVCD_PARAGRAPH, nullptr);
    if (status == 0) status = GVCDRecordInsert(body, 0, GVCD_TEXT, def.name.c_str());
    if (status == 0) status = GVCDRecordInsert(body, 0, GVCD_TEXT, ":\t");
    if (status == 0) status = GVCDRecordInsert(body, 0, GVCD_FIELD, &rec);
  }
  GVFormDesign design{};
  design.formType = GVFORM_DOCUMENT;
  std::snprintf(design.name, sizeof design.name, "%s", p.metadata.c_str());
  GVNOTEID form = 0;
  if (status == 0) status = GVFormCreate(db, &design, body, &form);
  if (body != 0) GVCompositeClose(body, GVCOMPCLOSE_DISCARD);
  if (scratch != 0) GVDocumentClose(scratch, GVCLOSE_DISCARD);
  if (p.enforceForm) GVDatabaseSetProperty(db, GVDBPROP_FORM_CHECK, 1);
  if (status != 0) return LogError(status);
  LocateForm();
  return TWSUCCESS;
}

uint32_t Connection::CreateView(TWFIELDLIST src) {
  if (p.index.empty())
    return TWActivityLogEx(TWFAIL_MISSING_PROPERTY, TWTOKEN_INDEX, 0, 0, nullptr, nullptr, nullptr);
  if (GVViewLocateByName(db, p.index.c_str()) != 0) return LogNamed(TWFAIL_DUPLICATE, p.index);
  std::vector<std::string> names;
  const uint32_t n = TWFieldlistGetCount(src);
  for (uint32_t i = 1; i <= n; ++i) {
    TWFIELD field = TWNULLHANDLE;
    flowcore::StreamData name(TWSTREAMFMT_QMBCS);
    if (uint32_t st = TWFieldlistGetField(src, i, TWSTREAMFMT_QMBCS, &field, name.get()))
      return TWActivityLog(st);
    const uint32_t flags = TWFieldGetFlags(field);
    if ((flags & TWFIELDF_KEY) == 0 || (flags & TWFIELDF_NO_CREATE) != 0) continue;
    names.emplace_back(name.view().substr(0, 80));
  }
  std::vector<GVViewColumn> columns;
  for (const std::string& name : names) columns.push_back(ViewColumn(GVCOL_SORTED, name.c_str(), name));
  const GVViewDesign design = ViewDesign(GVVIEW_STANDARD, p.index, nullptr);
  const uint32_t status =
      GVViewCreate(db, &design, static_cast<uint32_t>(columns.size()), columns.data(), nullptr);
  return status != 0 ? LogError(status) : TWSUCCESS;
}

uint32_t Connection::Create(uint32_t objectType, TWFIELDLIST src) {
  switch (objectType) {
    case TWOBJECT_DATABASE: {
      if (db != 0) return LogNamed(TWFAIL_DUPLICATE, p.database);
      if (p.database.empty())
        return TWActivityLogEx(TWFAIL_MISSING_PROPERTY, TWTOKEN_DATABASE, 0, 0, nullptr, nullptr,
                               nullptr);
      const uint32_t status = GVDatabaseCreate(
          p.server.empty() ? nullptr : p.server.c_str(), p.database.c_str(), nullptr, 0,
          p.templateServer.empty() ? nullptr : p.templateServer.c_str(),
          p.templateDatabase.empty() ? nullptr : p.templateDatabase.c_str(), GVCREATE_DOCUMENTS,
          p.templateDatabase.empty() ? 0 : 1);
      return status != 0 ? LogError(status) : TWSUCCESS;
    }
    case TWOBJECT_METADATA:
      if (db == 0) return TWFAIL_INVALID_CONNECT;
      return CreateForm(src);
    case TWOBJECT_INDEX:
      if (db == 0) return TWFAIL_INVALID_CONNECT;
      return CreateView(src);
    default:
      return TWFAIL_UNAVAILABLE;
  }
}

uint32_t Connection::Drop(uint32_t objectType) {
  uint32_t status = 0;
  switch (objectType) {
    case TWOBJECT_METADATA:
      if (db == 0) return TWFAIL_INVALID_CONNECT;
      if (p.metadata.empty() || formId == 0) return MissingForm();
      status = GVFormDelete(db, formId);
      if (status == 0) {
        formId = 0;
        formName.clear();
        insert.Forget();
        updateKey.Forget();
        removeKey.Forget();
      }
      break;
    case TWOBJECT_INDEX: {
      if (db == 0) return TWFAIL_INVALID_CONNECT;
      if (p.index.empty())
        return TWActivityLogEx(TWFAIL_MISSING_PROPERTY, TWTOKEN_INDEX, 0, 0, nullptr, nullptr,
                               nullptr);
      const GVNOTEID view = GVViewLocateByName(db, p.index.c_str());
      status = view != 0 ? GVViewDelete(db, view) : GVERR_NO_VIEW;
      break;
    }
    case TWOBJECT_DATABASE:
      if (db != 0) return TWActivityLog(TWFAIL_CONNECTED);
      status = GVDatabaseDelete(p.server.empty() ? nullptr : p.server.c_str(), p.database.c_str());
      break;
    default:
      return TWFAIL_UNAVAILABLE;
  }
  return status != 0 ? LogError(status) : TWSUCCESS;
}

}  // namespace ordex
