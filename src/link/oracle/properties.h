// The property table of the Oracle connector: one row per property with its token, definition
// row, how it is kept and its follow-up, and the identity the connector states.
#ifndef TW_LINK_ORACLE_PROPERTIES_H_
#define TW_LINK_ORACLE_PROPERTIES_H_

#include <cstdint>

#include "twx.h"
#include "twx_plugin.h"
#include "twx_props.h"

namespace oracle {

// Own tokens.
enum Token : uint32_t {
  kCommitFrequency = 1,
  kRollbackOnError = 2,
  kCreateLongColumn = 3,
  kCreateLongByUser = 4,
};

struct Props {
  TWStream server{}, userid{}, password{}, metadata{}, index{}, orderList{}, fieldList{},
      condition{}, stampField{}, createLongColumn{};
  TWDatetime baseStamp{}, maxStamp{};
  int32_t mapName = 0, writeBack = 0;
  int32_t commitFrequency = 0, rollbackOnError = 0, createLongByUser = 0;
  // Native until the server's character set is known, then the engine format of that set.
  int32_t textFormat = TWSTREAMFMT_NATIVE;
};

class Connection;
using Row = tw::twx::Property<Props, Connection>;

// The follow-ups of a set (connection.cc): a new METADATA makes the descriptions of the old
// table stale; CommitFrequency switches autocommit at once on an open connection.
[[nodiscard]] uint32_t MetadataSet(Connection& c, bool assigned);
[[nodiscard]] uint32_t CommitFrequencySet(Connection& c, bool assigned);

// Predefined rows first, then the own ones in token order. DATABASE is not served; PASSWORD
// can only be set; TEXT_FORMAT only read.
inline constexpr Row kProperties[] = {
    tw::twx::TextProperty(TWTOKEN_SERVER, &Props::server),
    tw::twx::TextProperty(TWTOKEN_USERID, &Props::userid),
    tw::twx::TextProperty(TWTOKEN_PASSWORD, &Props::password).SetOnly(),
    tw::twx::TextProperty(TWTOKEN_METADATA, &Props::metadata).OnSet(&MetadataSet),
    tw::twx::TextProperty(TWTOKEN_INDEX, &Props::index),
    tw::twx::FlagProperty(TWTOKEN_MAP_NAME, &Props::mapName),
    tw::twx::FlagProperty(TWTOKEN_WRITEBACK, &Props::writeBack),
    tw::twx::ListProperty(TWTOKEN_ORDER_LIST, &Props::orderList),
    tw::twx::ListProperty(TWTOKEN_FIELD_LIST, &Props::fieldList),
    tw::twx::TextProperty(TWTOKEN_CONDITION, &Props::condition),
    tw::twx::TextProperty(TWTOKEN_STAMPFIELD, &Props::stampField),
    tw::twx::DatetimeProperty(TWTOKEN_BASESTAMP, &Props::baseStamp),
    tw::twx::DatetimeProperty(TWTOKEN_MAXSTAMP, &Props::maxStamp),
    tw::twx::IntProperty(TWTOKEN_TEXT_FORMAT, &Props::textFormat)
        .Default(TWSTREAMFMT_NATIVE)
        .GetOnly(),
    tw::twx::IntProperty(kCommitFrequency, &Props::commitFrequency, "CommitFrequency")
        .OnSet(&CommitFrequencySet),
    tw::twx::FlagProperty(kRollbackOnError, &Props::rollbackOnError, "RollbackOnError"),
    tw::twx::TextProperty(kCreateLongColumn, &Props::createLongColumn, "CreateLongColumn"),
    // Any value but 1 (named) and 2 (none) chooses the LONG column automatically.
    tw::twx::IntProperty(kCreateLongByUser, &Props::createLongByUser, "CreateLongByUser"),
};

inline constexpr auto kDefinitionRows = tw::twx::DefinitionRows<kProperties>();

inline constexpr tw::twx::ConnectorTraits kTraits = {.properties = kDefinitionRows.data(),
                                                     .flags = 0x02000000u};

}  // namespace oracle

#endif  // TW_LINK_ORACLE_PROPERTIES_H_
