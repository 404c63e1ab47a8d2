// replica.twx: the replication activity plug-in, its identity record, its property table and
// its two entry points.
#include "link_properties.h"
#include "synchronize.h"
#include "twx.h"
#include "twx_plugin.h"

namespace tw::replica {
namespace {

constexpr uint32_t kA = TWTOKENF_SRC;
constexpr uint32_t kB = TWTOKENF_DEST;

constexpr TWXPropertyDef kProperties[] = {
    TW_ACTIVITY_LINK_ROWS(kA, "LinkA"),
    TW_ACTIVITY_LINK_ROWS(kB, "LinkB"),
    TWX_PROPERTY(kMapName, TWTYPE_INT, "MapName"),
    TWX_PROPERTY(kA | TWTOKEN_FIELD_LIST, TWTYPE_BINARY, "LinkAFieldList"),
    TWX_PROPERTY(kB | TWTOKEN_FIELD_LIST, TWTYPE_BINARY, "LinkBFieldList"),
    TWX_PROPERTY(kA | TWTOKEN_ORDER_LIST, TWTYPE_BINARY, "LinkAOrderList"),
    TWX_PROPERTY(kB | TWTOKEN_ORDER_LIST, TWTYPE_BINARY, "LinkBOrderList"),
    TWX_PROPERTY(kA | TWTOKEN_CONDITION, TWTYPE_TEXT, "LinkACondition"),
    TWX_PROPERTY(kB | TWTOKEN_CONDITION, TWTYPE_TEXT, "LinkBCondition"),
    TWX_PROPERTY(kA | TWTOKEN_STAMPFIELD, TWTYPE_TEXT, "LinkAStampField"),
    TWX_PROPERTY(kB | TWTOKEN_STAMPFIELD, TWTYPE_TEXT, "LinkBStampField"),
    TWX_PROPERTY(kA | TWTOKEN_BASESTAMP, TWTYPE_DATETIME, "LinkABaseStamp"),
    TWX_PROPERTY(kB | TWTOKEN_BASESTAMP, TWTYPE_DATETIME, "LinkBBaseStamp"),
    TWX_PROPERTY(kCreate, TWTYPE_INT, "Create"),
    TWX_PROPERTY(kNoDelete, TWTYPE_INT, "NoDelete"),
    TWX_PROPERTY(kLowPrecision, TWTYPE_INT, "LowPrecision"),
    TWX_PROPERTY(kWinConflict, TWTYPE_INT, "WinConflict"),
    TWX_PROPERTY(kLogConflict, TWTYPE_INT, "LogConflict"),
    TWX_PROPERTY(kSaveConflict, TWTYPE_INT, "SaveConflict"),
    TWX_PROPERTY(kSaveMetadata, TWTYPE_TEXT, "SaveMetadata"),
    TWX_PROPERTY_END,
};

constexpr TWXIdentity kIdentity = tw::twx::ActivityIdentity(kProperties);

}  // namespace
}  // namespace tw::replica

TWX_ACTIVITY(tw::replica::kIdentity, tw::replica::RunReplication)
