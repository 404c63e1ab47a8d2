// The property table of the ODBC connector: one row per property with its token, definition
// row, how it is kept and its follow-up, and the identity the connector states. The engine's
// definition rows, the Get/Set dispatch and the defaults all come from this one table.
#ifndef TW_LINK_SQLCLI_PROPERTIES_H_
#define TW_LINK_SQLCLI_PROPERTIES_H_

#include <cstdint>
#include <string>

#include "twx.h"
#include "twx_plugin.h"
#include "twx_props.h"

namespace sqlcli {

// Own tokens.
enum Token : uint32_t {
  kCommitFrequency = 1,
  kRollbackOnError = 2,
  kDisableCursor = 3,
  kQuoteColumn = 4,
};

struct Props {
  TWStream server{}, database{}, userid{}, password{}, metadata{}, orderList{}, condition{},
      stampField{}, fieldList{};
  TWDatetime baseStamp{}, maxStamp{};
  int32_t mapName = 0, writeBack = 0;
  uint32_t metadataGeneration = 0;
  int32_t commitFrequency = 0, rollbackOnError = 0, disableCursor = 0;
  std::string quoteColumn;
};

class Connection;
using Row = tw::twx::Property<Props, Connection>;

// The follow-ups of a set (connection.cc). A new METADATA makes whatever was built for the
// old table stale, even when the read failed; CommitFrequency switches the driver's
// autocommit at once on an open connection.
[[nodiscard]] uint32_t MetadataSet(Connection& c, bool assigned);
[[nodiscard]] uint32_t CommitFrequencySet(Connection& c, bool assigned);

// Predefined rows first, then the own ones in token order. DATABASE is stored but not
// listed; PASSWORD can only be set; TEXT_FORMAT only read (always native). CommitFrequency
// and QuoteColumn keep their values when set from a null field.
inline constexpr Row kProperties[] = {
    tw::twx::TextProperty(TWTOKEN_SERVER, &Props::server),
    tw::twx::TextProperty(TWTOKEN_DATABASE, &Props::database).Unlisted(),
    tw::twx::TextProperty(TWTOKEN_USERID, &Props::userid),
    tw::twx::TextProperty(TWTOKEN_PASSWORD, &Props::password).SetOnly(),
    tw::twx::TextProperty(TWTOKEN_METADATA, &Props::metadata).OnSet(&MetadataSet),
    tw::twx::FlagProperty(TWTOKEN_MAP_NAME, &Props::mapName),
    tw::twx::FlagProperty(TWTOKEN_WRITEBACK, &Props::writeBack),
    tw::twx::ListProperty(TWTOKEN_FIELD_LIST, &Props::fieldList),
    tw::twx::ListProperty(TWTOKEN_ORDER_LIST, &Props::orderList),
    tw::twx::TextProperty(TWTOKEN_CONDITION, &Props::condition),
    tw::twx::TextProperty(TWTOKEN_STAMPFIELD, &Props::stampField),
    tw::twx::DatetimeProperty(TWTOKEN_BASESTAMP, &Props::baseStamp),
    tw::twx::DatetimeProperty(TWTOKEN_MAXSTAMP, &Props::maxStamp),
    tw::twx::ConstantProperty<Props>(TWTOKEN_TEXT_FORMAT, TWSTREAMFMT_NATIVE),
    tw::twx::IntProperty(kCommitFrequency, &Props::commitFrequency, "CommitFrequency")
        .KeepOnNull()
        .OnSet(&CommitFrequencySet),
    tw::twx::FlagProperty(kRollbackOnError, &Props::rollbackOnError, "RollbackOnError"),
    tw::twx::FlagProperty(kDisableCursor, &Props::disableCursor, "DisableCursor"),
    tw::twx::StringProperty(kQuoteColumn, &Props::quoteColumn, "QuoteColumn").KeepOnNull(),
};

// The engine's definition rows, in table order, ended by an all-zero row.
inline constexpr auto kDefinitionRows = tw::twx::DefinitionRows<kProperties>();
inline const TWXPropertyDef* PropertyDefinitions() {
  return kDefinitionRows.data();
}

// A null identity record has always been answered as a failed allocation here.
inline constexpr tw::twx::ConnectorTraits kTraits = {.properties = kDefinitionRows.data(),
                                                     .nullRecord = TWFAIL_MEMORY};

}  // namespace sqlcli

#endif  // TW_LINK_SQLCLI_PROPERTIES_H_
