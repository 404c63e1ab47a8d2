// relay.twx: the change-propagation activity plug-in, its identity record, its property table
// and its two entry points.
#include "link_properties.h"
#include "propagate.h"
#include "twx.h"
#include "twx_plugin.h"

namespace tw::relay {
namespace {

constexpr uint32_t kSrc = TWTOKENF_SRC;
constexpr uint32_t kDest = TWTOKENF_DEST;

constexpr TWXPropertyDef kProperties[] = {
    TW_ACTIVITY_LINK_ROWS(kSrc, "Src"),
    TW_ACTIVITY_LINK_ROWS(kDest, "Dest"),
    TWX_PROPERTY(kDestMapName, TWTYPE_INT, "DestMapName"),
    TWX_PROPERTY(kCondition, TWTYPE_TEXT, "Condition"),
    TWX_PROPERTY(kCreate, TWTYPE_INT, "Create"),
    TWX_PROPERTY(kTruncPrec, TWTYPE_INT, "TruncPrec"),
    TWX_PROPERTY(kTruncData, TWTYPE_INT, "TruncData"),
    TWX_PROPERTY(kLastDiffSeq, TWTYPE_TEXT, "LastDiffSeq"),
    TWX_PROPERTY(kKeyFieldList, TWTYPE_BINARY, "KeyFieldList"),
    TWX_PROPERTY(kSrcFieldList, TWTYPE_BINARY, "SrcFieldList"),
    TWX_PROPERTY(kDestFieldList, TWTYPE_BINARY, "DestFieldList"),
    TWX_PROPERTY_END,
};

constexpr TWXIdentity kIdentity = tw::twx::ActivityIdentity(kProperties);

}  // namespace
}  // namespace tw::relay

TWX_ACTIVITY(tw::relay::kIdentity, tw::relay::RunPropagation)
