// direct.twx: the direct transfer activity plug-in, its identity record, its property table
// and its two entry points.
#include "transfer.h"
#include "twx.h"
#include "twx_plugin.h"

namespace tw::direct {
namespace {

constexpr uint32_t kSrc = TWTOKENF_SRC;
constexpr uint32_t kDest = TWTOKENF_DEST;

constexpr TWXPropertyDef kProperties[] = {
    TWX_PROPERTY(kSrc | TWTOKEN_SERVER, TWTYPE_TEXT, "SrcServer"),
    TWX_PROPERTY(kSrc | TWTOKEN_DATABASE, TWTYPE_TEXT, "SrcDatabase"),
    TWX_PROPERTY(kSrc | TWTOKEN_USERID, TWTYPE_TEXT, "SrcUserid"),
    TWX_PROPERTY(kSrc | TWTOKEN_PASSWORD, TWTYPE_TEXT, "SrcPassword"),
    TWX_PROPERTY(kSrc | TWTOKEN_METADATA, TWTYPE_TEXT, "SrcMetadata"),
    TWX_PROPERTY(kDest | TWTOKEN_SERVER, TWTYPE_TEXT, "DestServer"),
    TWX_PROPERTY(kDest | TWTOKEN_DATABASE, TWTYPE_TEXT, "DestDatabase"),
    TWX_PROPERTY(kDest | TWTOKEN_USERID, TWTYPE_TEXT, "DestUserid"),
    TWX_PROPERTY(kDest | TWTOKEN_PASSWORD, TWTYPE_TEXT, "DestPassword"),
    TWX_PROPERTY(kDest | TWTOKEN_METADATA, TWTYPE_TEXT, "DestMetadata"),
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
