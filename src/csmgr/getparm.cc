// GetDescription: an activity's properties gathered from its items into control-store field
// records, with link and link-option names turned into their document ids.
#include "getparm.h"

#include <cstring>
#include <string_view>

#include "csmgr.h"
#include "csmgr_wire.h"
#include "log.h"
#include "ordexio.h"
#include "tw/coding.h"
#include "twconst.h"

namespace tw::csmgr {
namespace {

constexpr uint32_t kTokenMask = 0xFFFFFF;

// Appends records to the reply, keeping its Length a whole number of steps from the size
// the client sent.
class RecordWriter {
 public:
  explicit RecordWriter(std::vector<uint8_t>& block) : block_(block) {
    if (block_.size() < header::kSize) block_.resize(header::kSize, 0);
    length_ = get_u32(block_.data() + header::kLength);
    if (length_ < get_description::kMinLength || length_ > block_.size()) {
      length_ = static_cast<uint32_t>(block_.size());
      if (length_ < get_description::kMinLength) length_ = get_description::kMinLength;
    }
    if (block_.size() < length_) block_.resize(length_, 0);
    offset_ = get_description::kList;
  }

  bool Append(uint32_t kind, uint32_t format, uint32_t token, std::string_view data,
              bool extraByte) {
    const size_t dataLength = data.size() + (extraByte ? 1 : 0);
    if (dataLength > kMaxMessage) return false;
    if (!Reserve(record::kHeadSize + dataLength)) return false;
    uint8_t* p = block_.data() + offset_;
    put_u32(p + record::kKind, kind);
    put_u32(p + record::kFormat, format);
    put_u32(p + record::kToken, token);
    put_u32(p + record::kDataLength, static_cast<uint32_t>(dataLength));
    if (!data.empty()) std::memcpy(p + record::kHeadSize, data.data(), data.size());
    if (extraByte) p[record::kHeadSize + data.size()] = 0;
    offset_ += record::kHeadSize + dataLength;
    return true;
  }

  // The end record, always written: room for it was kept by every Reserve.
  void End() {
    if (block_.size() < offset_ + record::kEndSize) block_.resize(offset_ + record::kEndSize, 0);
    std::memset(block_.data() + offset_, 0, record::kEndSize);
    if (length_ < offset_ + record::kEndSize) length_ = offset_ + record::kEndSize;
    put_u32(block_.data() + header::kLength, length_);
  }

 private:
  bool Reserve(size_t bytes) {
    const size_t need = offset_ + bytes + record::kEndSize;
    if (need > kMaxMessage) return false;
    while (length_ < need) length_ += get_description::kStep;
    if (block_.size() < length_) block_.resize(length_, 0);
    return true;
  }

  std::vector<uint8_t>& block_;
  uint32_t length_ = 0;
  size_t offset_ = 0;
};

std::string_view SkipBlanks(std::string_view text) {
  size_t i = 0;
  while (i < text.size() &&
         (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n'))
    ++i;
  return text.substr(i);
}

[[nodiscard]] uint32_t MissingItem(const char* name) {
  CSMgrDetail(TWMSG_DETAIL_FIELD, name);
  return CSMgrReport(TWFAIL_ACTIVITY_ITEM);
}

bool NumberRecord(RecordWriter& out, uint32_t token, int32_t value) {
  uint8_t data[4];
  put_i32(data, value);
  return out.Append(record::kNumber, 0, token,
                    std::string_view(reinterpret_cast<const char*>(data), sizeof data), false);
}

}  // namespace

uint32_t CSMgrReadPropLists(GVDOC doc, std::vector<std::string>* names,
                            std::vector<int32_t>* tokens) {
  if (!OrdexReadTextList(doc, "PropNameList", names)) return MissingItem("PropNameList");
  const void* value = nullptr;
  uint32_t length = 0, kind = GVTYPE_NUMBER_LIST;
  if (GVItemGetPointer(doc, "PropTokenList", &kind, &value, &length) != 0 || value == nullptr ||
      length < 4)
    return MissingItem("PropTokenList");
  const auto* bytes = static_cast<const uint8_t*>(value);
  const size_t count = get_u16(bytes);
  const size_t ranges = get_u16(bytes + 2);
  if (count != names->size() || ranges != 0 || 4 + 8 * count > length) {
    CSMgrDetail(TWMSG_DETAIL_FIELD, "PropNameList");
    CSMgrDetail(TWMSG_DETAIL_FIELD, "PropTokenList");
    return CSMgrReport(TWFAIL_ACTIVITY_ITEM);
  }
  tokens->clear();
  for (size_t i = 0; i < count; ++i) {
    double d;
    std::memcpy(&d, bytes + 4 + 8 * i, sizeof d);
    // Tokens are 32-bit words; a double outside that range is no token.
    tokens->push_back(
        d >= -2147483648.0 && d < 4294967296.0 ? static_cast<int32_t>(static_cast<int64_t>(d)) : 0);
  }
  return 0;
}

uint32_t CSMgrGetParms(GVDOC doc, std::vector<uint8_t>& block) {
  RecordWriter out(block);
  ServiceState& s = Service();
  uint32_t result = 0;
  std::vector<std::string> names;
  std::vector<int32_t> tokens;
  GVINDEX links = 0, options = 0;
  bool library = false;

  result = CSMgrReadPropLists(doc, &names, &tokens);
  if (result == 0) {
    struct ViewToOpen {
      const char* name;
      GVNOTEID id;
      GVINDEX* index;
    } views[] = {{"(CS_Links)", s.admin.links, &links},
                 {"(CS_Options)", s.admin.options, &options}};
    for (ViewToOpen& v : views) {
      GVNOTEID id = v.id != 0 ? v.id : OrdexLocateView(s.adminDb, v.name);
      if (id == 0 || !OrdexOpenIndex(s.adminDb, id, v.name, v.index)) {
        CSMgrDetail(TWMSG_DETAIL_VIEW, v.name);
        result = CSMgrReport(TWFAIL_ADMIN_ITEM);
        break;
      }
    }
  }

  for (size_t i = 0; result == 0 && i < names.size(); ++i) {
    const uint32_t token = static_cast<uint32_t>(tokens[i]);
    const char* name = names[i].c_str();
    uint32_t type = 0;
    if (!OrdexItemType(doc, name, &type)) {
      result = MissingItem(name);
      break;
    }
    if (type == 0) continue;
    if (token == TWTOKEN_LIBRARY) library = true;

    const uint32_t base = token & kTokenMask;
    if (base == TWTOKEN_LINK || base == TWTOKEN_OPTION) {
      std::string linkName;
      if (!OrdexReadText(doc, name, &linkName)) {
        result = MissingItem(name);
        break;
      }
      int32_t id = 0;
      if (!linkName.empty()) {
        const bool isLink = base == TWTOKEN_LINK;
        GVINDEX index = isLink ? links : options;
        uint32_t matches = 0;
        GVNOTEID found = 0;
        {
          QuietReports quiet;
          if (OrdexKeySearchText(index, isLink ? "(CS_Links)" : "(CS_Options)", linkName,
                                 &matches) &&
              matches > 0 &&
              GVIndexNavigate(index, GVNAV_CURRENT, GVNAVF_DOCUMENTS, &found, nullptr) != 0)
            found = 0;
        }
        if (isLink && found == 0) {
          CSMgrDetail(TWMSG_DETAIL_DOCUMENT, linkName);
          result = CSMgrReport(TWFAIL_NO_LINK_DOC);
          break;
        }
        id = static_cast<int32_t>(found);
      }
      if (!NumberRecord(out, token, id)) result = TWFAIL_MEMORY;
      continue;
    }

    bool ok = true;
    switch (type) {
      case GVTYPE_NUMBER: {
        int32_t value = 0;
        if (!(ok = OrdexReadNumber(doc, name, &value))) break;
        if (!NumberRecord(out, token, value)) result = TWFAIL_MEMORY;
        break;
      }
      case GVTYPE_TEXT: {
        std::string text;
        if (!(ok = OrdexReadText(doc, name, &text))) break;
        std::string_view trimmed = SkipBlanks(text);
        if (trimmed.empty()) break;
        if (!out.Append(record::kText, record::kTextFormat, token, trimmed, true))
          result = TWFAIL_MEMORY;
        break;
      }
      case GVTYPE_TIME: {
        GVTIMEDATE t{};
        if (!(ok = OrdexReadDatetime(doc, name, &t))) break;
        uint8_t data[8];
        put_u32(data, t.ticks);
        put_u32(data + 4, t.date);
        if (!out.Append(record::kDatetime, 0, token,
                        std::string_view(reinterpret_cast<const char*>(data), sizeof data), false))
          result = TWFAIL_MEMORY;
        break;
      }
      case GVTYPE_TEXT_LIST: {
        const void* value = nullptr;
        uint32_t length = 0, kind = GVTYPE_TEXT_LIST;
        if (!(ok = GVItemGetPointer(doc, name, &kind, &value, &length) == 0)) break;
        if (length <= 4 || value == nullptr) break;
        if (!out.Append(record::kList, record::kTextListFormat, token,
                        std::string_view(static_cast<const char*>(value), length), true))
          result = TWFAIL_MEMORY;
        break;
      }
      case GVTYPE_COMPOSITE: {
        std::vector<std::string> pieces;
        if (!(ok = OrdexReadRichPieces(doc, name, &pieces))) break;
        std::string all;
        for (const std::string& p : pieces) all += p;
        if (pieces.empty()) break;
        if (!out.Append(record::kList, record::kRichTextFormat, token, all, true))
          result = TWFAIL_MEMORY;
        break;
      }
      default:
        break;
    }
    if (!ok) result = MissingItem(name);
  }

  if (result == 0 && !library) {
    std::string text;
    if (!OrdexReadText(doc, "Library", &text)) {
      result = MissingItem("Library");
    } else if (!out.Append(record::kText, record::kTextFormat, TWTOKEN_LIBRARY, text, true)) {
      result = TWFAIL_MEMORY;
    }
  }
  if (result == TWFAIL_MEMORY) CSMgrReport(TWFAIL_MEMORY);
  OrdexCloseIndex(&links);
  OrdexCloseIndex(&options);
  out.End();
  return result;
}

}  // namespace tw::csmgr
