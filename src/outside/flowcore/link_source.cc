// Where a new connection's properties come from: the link documents of the current
// activity (read once per activity), a link document found by name, or a connector library
// named directly; and the precedence of the activity's values over the link's and the link
// options'.
#include <map>
#include <memory>
#include <mutex>

#include "activity.h"
#include "connect_impl.h"
#include "stream_internal.h"

namespace tw::engine {
namespace {

// Statuses of the control store: the document is not there, or lacks what the description
// needs.
bool DocumentMissing(uint32_t status) {
  return status == TWFAIL_NO_ACTIVITY_DOC || status == TWFAIL_NO_LINK_DOC;
}
bool DocumentIncomplete(uint32_t status) {
  return status == TWFAIL_ACTIVITY_ITEM ||
         (status >= TWFAIL_LINK_ITEM && status <= TWFAIL_OPTIONS_ITEM);
}

// Logs and answers a failed read of a link's or its options' description.
uint32_t DescriptionFailed(uint32_t status, std::string_view what) {
  if (DocumentMissing(status)) return LogWithText(TWFAIL_LINK_NOT_FOUND, what);
  return TWActivityLog(DocumentIncomplete(status) ? TWFAIL_INVALID_LINK_DEF : status);
}

// Link options that a link names but that cannot be read make the link invalid.
uint32_t OptionsFailed(uint32_t status) {
  return TWActivityLog(
      DocumentMissing(status) || DocumentIncomplete(status) ? TWFAIL_INVALID_LINK_DEF : status);
}

struct LinkEntry {
  int32_t linkId = 0;
  int32_t optionId = 0;
  std::string name;
  Description link;
  Description options;
  uint32_t optionStatus = 0;
};

std::mutex gLinksMutex;
std::map<uint32_t, std::unique_ptr<LinkEntry>> gLinks;  // by link byte

const TWFieldImpl* Find(const Description& description, uint32_t token) {
  for (const Property& p : description)
    if (p.token == token && p.value) return p.value.get();
  return nullptr;
}

int32_t IntOf(const TWFieldImpl* field) {
  if (field == nullptr) return 0;
  int32_t value = 0;
  int32_t isNull = 1;
  if (TWFieldGetInt(const_cast<TWFIELD>(field), 1, &value, &isNull) != 0 || isNull) return 0;
  return value;
}

int32_t ActivityInt(uint32_t token) {
  return HasActivity() ? IntOf(ActivityValue(token)) : 0;
}

// The link's name: its description's NAME, else the document's Name item.
std::string LinkName(int32_t linkId, const Description& link) {
  std::string name = FieldText(Find(link, TWTOKEN_NAME));
  if (!name.empty()) return name;
  flowcore::StreamData item;
  if (CSMgrGetField(linkId, "Name", item.get()) == 0) name = item.view();
  return name;
}

// Reads the descriptions of link linkByte of the current activity; the control store is
// asked without the cache held.
const LinkEntry* ActivityLink(uint32_t linkByte, uint32_t* status) {
  *status = 0;
  if (linkByte == 0 || linkByte >= 0xFF) return nullptr;
  {
    std::lock_guard lock(gLinksMutex);
    auto it = gLinks.find(linkByte);
    if (it != gLinks.end()) return it->second.get();
  }
  const int32_t linkId = ActivityInt(linkByte << 24 | TWTOKEN_LINK);
  if (linkId == 0) return nullptr;
  auto entry = std::make_unique<LinkEntry>();
  entry->linkId = linkId;
  if (uint32_t st = FetchDescription(linkId, &entry->link)) {
    *status = st;
    return nullptr;
  }
  entry->optionId = ActivityInt(linkByte << 24 | TWTOKEN_OPTION);
  if (entry->optionId == 0) entry->optionId = IntOf(Find(entry->link, TWTOKEN_OPTION));
  if (entry->optionId != 0)
    entry->optionStatus = FetchDescription(entry->optionId, &entry->options);
  entry->name = LinkName(linkId, entry->link);
  std::lock_guard lock(gLinksMutex);
  auto [it, added] = gLinks.emplace(linkByte, std::move(entry));
  return it->second.get();
}

// The library the link description names; 1545 logged without one.
[[nodiscard]] uint32_t TakeLibrary(const Description& link, LinkSource* out) {
  out->library = FieldText(Find(link, TWTOKEN_LIBRARY));
  if (out->library.empty()) return TWActivityLog(TWFAIL_INVALID_LINK_DEF);
  return 0;
}

}  // namespace

const Description* LinkDescription(uint32_t linkByte, uint32_t* status) {
  uint32_t st = 0;
  const LinkEntry* entry = ActivityLink(linkByte, &st);
  if (status != nullptr) *status = st;
  return entry != nullptr ? &entry->link : nullptr;
}

const Description* LinkOptions(uint32_t linkByte, uint32_t* status) {
  uint32_t st = 0;
  const LinkEntry* entry = ActivityLink(linkByte, &st);
  if (entry != nullptr) st = entry->optionStatus;
  if (status != nullptr) *status = st;
  if (entry == nullptr || entry->optionId == 0 || entry->optionStatus != 0) return nullptr;
  return &entry->options;
}

void ForgetLinkDescriptions() {
  std::map<uint32_t, std::unique_ptr<LinkEntry>> old;
  std::lock_guard lock(gLinksMutex);
  old.swap(gLinks);
}

uint32_t ResolveActivityLink(uint32_t linkByte, LinkSource* out) {
  uint32_t status = 0;
  const LinkEntry* entry = ActivityLink(linkByte, &status);
  const std::string what = PropertyName(nullptr, linkByte << 24 | TWTOKEN_LINK);
  if (entry == nullptr)
    return status == 0 ? LogWithText(TWFAIL_LINK_NOT_FOUND, what) : DescriptionFailed(status, what);
  if (entry->optionStatus != 0) return OptionsFailed(entry->optionStatus);
  if (uint32_t st = TakeLibrary(entry->link, out)) return st;
  out->name = entry->name;
  out->linkId = entry->linkId;
  out->optionId = entry->optionId;
  out->overrideByte = linkByte;
  out->link = &entry->link;
  out->options = entry->optionId != 0 ? &entry->options : nullptr;
  return 0;
}

uint32_t ResolveNamedLink(std::string_view name, LinkSource* out) {
  if (name.empty()) return LogWithText(TWFAIL_LINK_NOT_FOUND, name);
  TWStream view = flowcore::ViewOf(TWSTREAMFMT_NATIVE,
                                   reinterpret_cast<const uint8_t*>(name.data()), name.size());
  int32_t linkId = 0;
  uint32_t status = CSMgrGetID(CSMGR_ID_LINK, &view, &linkId);
  if (status == TWFAIL_NO_LINK_DOC || (status == 0 && linkId == 0))
    return LogWithText(TWFAIL_LINK_NOT_FOUND, name);
  if (status != 0) return TWActivityLog(status);
  if ((status = FetchDescription(linkId, &out->ownLink)) != 0)
    return DescriptionFailed(status, name);
  out->link = &out->ownLink;
  out->optionId = IntOf(Find(out->ownLink, TWTOKEN_OPTION));
  if (out->optionId != 0) {
    if ((status = FetchDescription(out->optionId, &out->ownOptions)) != 0)
      return OptionsFailed(status);
    out->options = &out->ownOptions;
  }
  if (uint32_t st = TakeLibrary(out->ownLink, out)) return st;
  out->linkId = linkId;
  out->name = LinkName(linkId, out->ownLink);
  if (out->name.empty()) out->name = name;
  out->overrideByte = 0;
  return 0;
}

uint32_t ResolveConnector(std::string_view name, LinkSource* out) {
  if (name.empty()) return LogWithText(TWFAIL_LINK_LOAD, name);
  out->library = name;
  out->name = name;
  out->linkId = 0;
  out->optionId = 0;
  out->overrideByte = 0xFF;
  out->link = nullptr;
  out->options = nullptr;
  return 0;
}

const TWFieldImpl* SourceValue(const LinkSource& source, uint32_t rowToken) {
  if (source.overrideByte != 0 && HasActivity()) {
    if (const TWFieldImpl* v = ActivityValue(source.overrideByte << 24 | rowToken)) return v;
  }
  if (source.link != nullptr) {
    if (const TWFieldImpl* v = Find(*source.link, rowToken)) return v;
  }
  if (source.options != nullptr) {
    if (const TWFieldImpl* v = Find(*source.options, rowToken)) return v;
  }
  return nullptr;
}

}  // namespace tw::engine
