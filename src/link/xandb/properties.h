// The property table of the Xandb connector: one row per property with its token, definition
// row, how it is kept and its follow-up. The engine's definition rows, the Get/Set dispatch and
// the defaults all come from this one table.
#ifndef TW_LINK_XANDB_PROPERTIES_H_
#define TW_LINK_XANDB_PROPERTIES_H_

#include <cstdint>

#include "twx.h"
#include "twx_plugin.h"
#include "twx_props.h"

namespace xandb {

// Own tokens.
enum Token : uint32_t {
  kCommitFrequency = 1,
  kRollbackOnError = 2,
  kCreateMaxLogged = 3,
  kNoJournal = 4,
};

struct Props {
  TWStream database{}, userid{}, password{}, metadata{}, index{}, orderList{}, condition{},
      stampField{}, fieldList{};
  TWDatetime baseStamp{}, maxStamp{};
  int32_t mapName = 0, writeBack = 0;
  int32_t textFormat = TWSTREAMFMT_NATIVE;
  int32_t commitFrequency = 0, rollbackOnError = 0, createMaxLogged = 0, noJournal = 0;
};

class Connection;
using Row = tw::twx::Property<Props, Connection>;

// Follow-ups of a set (connection.cc): a new METADATA starts a new description generation;
// CommitFrequency and NoJournal take effect at once on an open connection.
[[nodiscard]] uint32_t MetadataSet(Connection& c, bool assigned);
[[nodiscard]] uint32_t CommitFrequencySet(Connection& c, bool assigned);
[[nodiscard]] uint32_t NoJournalSet(Connection& c, bool assigned);

// SERVER is not served: DATABASE names the data source. PASSWORD can only be set and
// TEXT_FORMAT (the client code page's format) only read.
inline constexpr Row kProperties[] = {
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
        .Default(static_cast<int32_t>(TWSTREAMFMT_NATIVE)),
    tw::twx::IntProperty(kCommitFrequency, &Props::commitFrequency, "CommitFrequency")
        .OnSet(&CommitFrequencySet),
    tw::twx::FlagProperty(kRollbackOnError, &Props::rollbackOnError, "RollbackOnError"),
    tw::twx::IntProperty(kCreateMaxLogged, &Props::createMaxLogged, "CreateMaxLogged"),
    tw::twx::FlagProperty(kNoJournal, &Props::noJournal, "NoJournal").OnSet(&NoJournalSet),
};

inline constexpr auto kDefinitionRows = tw::twx::DefinitionRows<kProperties>();

inline constexpr tw::twx::ConnectorTraits kTraits = {.properties = kDefinitionRows.data()};

}  // namespace xandb

#endif  // TW_LINK_XANDB_PROPERTIES_H_
