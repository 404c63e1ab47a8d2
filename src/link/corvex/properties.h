// The property table of the Corvex connector: one row per property with its token, definition
// row, how it is kept and its follow-up, and the identity the connector states.
#ifndef TW_LINK_CORVEX_PROPERTIES_H_
#define TW_LINK_CORVEX_PROPERTIES_H_

#include <cstdint>

#include "twx.h"
#include "twx_plugin.h"
#include "twx_props.h"

namespace corvex {

// Own tokens.
enum Token : uint32_t {
  kBulk = 1,
  kBulkEnable = 2,
  kCreateShortBound = 3,
  kCreateShortUnbound = 4,
};

struct Props {
  TWStream server{}, database{}, userid{}, password{}, metadata{}, index{}, orderList{},
      condition{}, stampField{}, fieldList{};
  TWDatetime baseStamp{}, maxStamp{};
  int32_t mapName = 0, writeBack = 0;
  int32_t bulk = 0, bulkEnable = 0, createShortBound = 0, createShortUnbound = 0;
  // The link's own: native until its server's character set is known, then the engine format
  // of that set. Two links of one process may talk to servers of different sets.
  int32_t textFormat = TWSTREAMFMT_NATIVE;
};

class Connection;
using Row = tw::twx::Property<Props, Connection>;

// A new METADATA makes every table description the link holds stale (connection.cc).
[[nodiscard]] uint32_t MetadataSet(Connection& c, bool assigned);

// Predefined rows first, then the own ones in token order. PASSWORD can only be set,
// TEXT_FORMAT only read.
inline constexpr Row kProperties[] = {
    tw::twx::TextProperty(TWTOKEN_SERVER, &Props::server),
    tw::twx::TextProperty(TWTOKEN_DATABASE, &Props::database),
    tw::twx::TextProperty(TWTOKEN_USERID, &Props::userid),
    tw::twx::TextProperty(TWTOKEN_PASSWORD, &Props::password).SetOnly(),
    tw::twx::TextProperty(TWTOKEN_METADATA, &Props::metadata).OnSet(&MetadataSet),
    tw::twx::TextProperty(TWTOKEN_INDEX, &Props::index),
    tw::twx::FlagProperty(TWTOKEN_MAP_NAME, &Props::mapName),
    tw::twx::FlagProperty(TWTOKEN_WRITEBACK, &Props::writeBack),
    tw::twx::ListProperty(TWTOKEN_FIELD_LIST, &Props::fieldList),
    tw::twx::ListProperty(TWTOKEN_ORDER_LIST, &Props::orderList),
    tw::twx::TextProperty(TWTOKEN_CONDITION, &Props::condition),
    tw::twx::TextProperty(TWTOKEN_STAMPFIELD, &Props::stampField),
    tw::twx::DatetimeProperty(TWTOKEN_BASESTAMP, &Props::baseStamp),
    tw::twx::DatetimeProperty(TWTOKEN_MAXSTAMP, &Props::maxStamp),
    tw::twx::IntProperty(TWTOKEN_TEXT_FORMAT, &Props::textFormat)
        .Default(TWSTREAMFMT_NATIVE)
        .GetOnly(),
    tw::twx::FlagProperty(kBulk, &Props::bulk, "Bulk"),
    tw::twx::FlagProperty(kBulkEnable, &Props::bulkEnable, "BulkEnable"),
    tw::twx::FlagProperty(kCreateShortBound, &Props::createShortBound, "CreateShortBound"),
    tw::twx::FlagProperty(kCreateShortUnbound, &Props::createShortUnbound, "CreateShortUnbound"),
};

inline constexpr auto kDefinitionRows = tw::twx::DefinitionRows<kProperties>();

inline constexpr tw::twx::ConnectorTraits kTraits = {.properties = kDefinitionRows.data(),
                                                     .flags = 0x02000000u};

}  // namespace corvex

#endif  // TW_LINK_CORVEX_PROPERTIES_H_
