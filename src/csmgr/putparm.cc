// PutDescription: control-store field records stored into the activity's items, each
// record's head and data checked against the bytes that arrived.
#include "putparm.h"

#include <cstring>
#include <string>
#include <vector>

#include "csmgr.h"
#include "csmgr_wire.h"
#include "getparm.h"
#include "log.h"
#include "ordexio.h"
#include "tw/coding.h"

namespace tw::csmgr {
namespace {

uint32_t Failed(std::string_view item) {
  CSMgrDetail(TWMSG_DETAIL_FIELD, item);
  return CSMgrReport(TWFAIL_ACTIVITY_ITEM);
}

// Rich text as the client sends it: whole records, possibly followed by the one extra byte
// that ends the record's data.
bool StoreRichText(GVDOC doc, const char* item, std::string_view data) {
  std::vector<std::string_view> pieces;
  if (!OrdexSplitRecords(data, GV_RICHTEXT_PIECE, &pieces) && !data.empty() && data.back() == '\0')
    data.remove_suffix(1);
  return OrdexWriteRichPieces(doc, item, data);
}

}  // namespace

uint32_t CSMgrPutParms(GVDOC doc, std::string_view records) {
  std::vector<std::string> names;
  std::vector<int32_t> tokens;
  if (uint32_t st = CSMgrReadPropLists(doc, &names, &tokens); st != 0) return st;

  size_t offset = 0;
  for (;;) {
    if (records.size() - offset < record::kHeadSize) return Failed("PropTokenList");
    const char* head = records.data() + offset;
    const uint32_t kind = get_u32(head + record::kKind);
    const uint32_t format = get_u32(head + record::kFormat);
    const uint32_t token = get_u32(head + record::kToken);
    const uint32_t dataLength = get_u32(head + record::kDataLength);
    if (token == 0) return 0;
    const size_t dataStart = offset + record::kHeadSize;
    // A record that claims more data than arrived is refused before anything is read.
    if (dataLength > records.size() - dataStart) return Failed("PropTokenList");
    const std::string_view data = records.substr(dataStart, dataLength);
    offset = dataStart + dataLength;

    const std::string* name = nullptr;
    for (size_t i = 0; i < tokens.size(); ++i)
      if (static_cast<uint32_t>(tokens[i]) == token) {
        name = &names[i];
        break;
      }
    if (name == nullptr) return Failed("PropNameList");
    const char* item = name->c_str();

    bool ok = true;
    switch (kind) {
      case record::kNumber:
        ok = data.size() >= 4 && OrdexWriteNumber(doc, item, get_i32(data.data()));
        break;
      case record::kDatetime:
        ok = data.size() >= 8 &&
             OrdexWriteDatetime(doc, item,
                                GVTIMEDATE{get_u32(data.data()), get_u32(data.data() + 4)});
        break;
      case record::kText: {
        const size_t end = data.find('\0');
        ok = end != std::string_view::npos && OrdexWriteText(doc, item, data.substr(0, end));
        break;
      }
      case record::kList:
        if (format == record::kRichTextFormat && !data.empty()) {
          ok = OrdexDeleteItem(doc, item) && StoreRichText(doc, item, data);
        }
        break;
      default:
        break;
    }
    if (!ok) return Failed(item);
  }
}

}  // namespace tw::csmgr
