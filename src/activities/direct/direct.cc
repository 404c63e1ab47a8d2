// direct.twx: the direct transfer activity plug-in, its identity record, its property table
// and its two entry points.
#include "link_properties.h"
#include "transfer.h"
#include "twx.h"
#include "twx_plugin.h"

namespace tw::direct {
namespace {

constexpr uint32_t kSrc = TWTOKENF_SRC;
constexpr uint32_t kDest = TWTOKENF_DEST;

constexpr TWXPropertyDef kProperties[] = {
    TW_ACTIVITY_LINK_ROWS(kSrc, "Src"),
    TW_ACTIVITY_LINK_ROWS(kDest, "Dest"),
    TWX_PROPERTY(kDestMapName, TWTYPE_INT, "DestMapName"),
    TWX_PROPERTY(kCreate, TWTYPE_INT, "Create"),
    TWX_PROPERTY(kOverwrite, TWTYPE_INT, "Overwrite"),
    TWX_PROPERTY(kTruncPrec, TWTYPE_INT, "TruncPrec"),
    TWX_PROPERTY(kTruncData, TWTYPE_INT, "TruncData"),
    TWX_PROPERTY(kRecordCount, TWTYPE_INT, "RecordCount"),
    TWX_PROPERTY(kStatement, TWTYPE_TEXT, "Statement"),
    TWX_PROPERTY(kSrcFieldList, TWTYPE_BINARY, "SrcFieldList"),
    TWX_PROPERTY(kDestFieldList, TWTYPE_BINARY, "DestFieldList"),
    TWX_PROPERTY_END,
};

constexpr TWXIdentity kIdentity = tw::twx::ActivityIdentity(kProperties);

}  // namespace
}  // namespace tw::direct

TWX_ACTIVITY(tw::direct::kIdentity, tw::direct::RunTransfer)
