// The property table of the text-file connector: one row per property with its token,
// definition-row type, name, trace name, how it is kept, its default, its limits and its
// follow-up, and the identity the connector states. The engine's definition rows, the Get/Set
// dispatch and the defaults all come from this one table.
#ifndef TW_LINK_ZMLNK_PROPERTIES_H_
#define TW_LINK_ZMLNK_PROPERTIES_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "twx.h"
#include "twx_plugin.h"
#include "twx_props.h"

namespace flatrec {

// The property values as set, kept by the connection.
struct Props {
  std::string database, metadata, log, recordDelim, filetype, fillCharacter, zid, linktype,
      dayNames, monthNames, repStrings, amString, pmString, headerRec, trailerRec;
  int32_t mapName = 0, maxRecSize = 0, maxRecCount = 0, trace = 0, fixedRecSize = 0,
          processDuplicates = 0, checkForQuotes = 0, minRecSize = 0, skipRecords = 0, skipBytes = 0,
          echoZid = 0, maxText = 0;
  // 0 until MAP_NAME is first set; then 3 while it is on, 2 after it is set off. Bit 0:
  // fields are matched to columns by name.
  uint8_t mergeMode = 0;
};

// Own tokens.
enum Token : uint32_t {
  kLog = 1,
  kMaxRecSize,
  kMaxRecCount,
  kTrace,
  kFixedRecSize,
  kProcessDuplicates,
  kCheckForQuotes,
  kRecordDelim,
  kFiletype,
  kMinRecSize,
  kSkipRecords,
  kSkipBytes,
  kFillCharacter = 14,
  kZid,
  kLinktype,
  kEchoZid,
  kDayNames,
  kMonthNames,
  kRepStrings,
  kAmString,
  kPmString,
  kMaxText,
  kHeaderRec,
  kTrailerRec,
};

constexpr int32_t kDefaultMaxRecSize = 0x20000;
constexpr int32_t kDefaultMaxText = 0x8000;
constexpr int32_t kDefaultTrace = 28;
// Property texts are used up to 255 characters; file names longer than that are refused.
constexpr size_t kMaxPropertyText = 255;

class Connection;
using Row = tw::twx::Property<Props, Connection>;

// The follow-ups of a set (properties.cc): the trace word and the Log file take effect at
// once; MAP_NAME sets the merge mode.
[[nodiscard]] uint32_t LogSet(Connection& c, bool assigned);
[[nodiscard]] uint32_t TraceSet(Connection& c, bool assigned);
[[nodiscard]] uint32_t MapNameSet(Connection& c, bool assigned);

// Texts are owned native strings; TEXT_FORMAT is served, always native, without a row of
// its own in the definition table.
inline constexpr Row kProperties[] = {
    tw::twx::StringProperty(TWTOKEN_DATABASE, &Props::database).Traced("TWTOKEN_DATABASE"),
    tw::twx::StringProperty(TWTOKEN_METADATA, &Props::metadata).Traced("TWTOKEN_METADATA"),
    tw::twx::FlagProperty(TWTOKEN_MAP_NAME, &Props::mapName)
        .Traced("TWTOKEN_MAP_NAME")
        .OnSet(&MapNameSet),
    // A file name that does not fit is refused, never cut.
    tw::twx::StringProperty(kLog, &Props::log, "Log")
        .Traced("ZPTOKEN_LOG")
        .Limits(0, static_cast<int32_t>(kMaxPropertyText))
        .OnSet(&LogSet),
    tw::twx::IntProperty(kMaxRecSize, &Props::maxRecSize, "MaxRecSize")
        .Traced("ZPTOKEN_MAXREC")
        .Default(kDefaultMaxRecSize),
    tw::twx::IntProperty(kMaxRecCount, &Props::maxRecCount, "MaxRecCount").Traced("ZPTOKEN_MAX"),
    tw::twx::IntProperty(kTrace, &Props::trace, "Trace")
        .Traced("ZPTOKEN_TRACE")
        .Default(kDefaultTrace)
        .OnSet(&TraceSet),
    tw::twx::IntProperty(kFixedRecSize, &Props::fixedRecSize, "FixedRecSize")
        .Traced("ZPTOKEN_RECSIZE"),
    tw::twx::FlagProperty(kProcessDuplicates, &Props::processDuplicates, "ProcessDuplicates")
        .Traced("ZPTOKEN_PROCESSDUPS"),
    tw::twx::FlagProperty(kCheckForQuotes, &Props::checkForQuotes, "CheckForQuotes")
        .Traced("ZPTOKEN_QUOTED"),
    tw::twx::StringProperty(kRecordDelim, &Props::recordDelim, "RecordDelim")
        .Traced("ZPTOKEN_RECDELIM"),
    tw::twx::StringProperty(kFiletype, &Props::filetype, "Filetype")
        .Traced("ZPTOKEN_FILETYPE")
        .Default("TEXT"),
    tw::twx::IntProperty(kMinRecSize, &Props::minRecSize, "MinRecSize").Traced("ZPTOKEN_IMINREC"),
    tw::twx::IntProperty(kSkipRecords, &Props::skipRecords, "SkipRecords")
        .Traced("ZPTOKEN_ISKIPRECS"),
    // A text row in the table, handled as an integer.
    tw::twx::IntProperty(kSkipBytes, &Props::skipBytes, "SkipBytes")
        .Traced("ZPTOKEN_ISKIPBYTES")
        .WithType(TWTYPE_TEXT),
    tw::twx::StringProperty(kFillCharacter, &Props::fillCharacter, "FillCharacter")
        .Traced("ZPTOKEN_OFILL"),
    tw::twx::StringProperty(kZid, &Props::zid, "ZID").Traced("ZPTOKEN_ZID"),
    tw::twx::StringProperty(kLinktype, &Props::linktype, "Linktype")
        .Traced("ZPTOKEN_LINKTYPE")
        .Default("SOURCE"),
    tw::twx::FlagProperty(kEchoZid, &Props::echoZid, "EchoZid").Traced("ZPTOKEN_ECHO"),
    tw::twx::StringProperty(kDayNames, &Props::dayNames, "DayNames")
        .Traced("ZPTOKEN_DAYNAMES")
        .Default("Monday,Tuesday,Wednesday,Thursday,Friday,Saturday,Sunday"),
    tw::twx::StringProperty(kMonthNames, &Props::monthNames, "MonthNames")
        .Traced("ZPTOKEN_MONTHNAMES")
        .Default("January,February,March,April,May,June,July,August,September,October,"
                 "November,December"),
    tw::twx::StringProperty(kRepStrings, &Props::repStrings, "RepStrings")
        .Traced("ZPTOKEN_REPSTRINGS"),
    tw::twx::StringProperty(kAmString, &Props::amString, "AMString")
        .Traced("ZPTOKEN_AMSTRING")
        .Default("AM"),
    tw::twx::StringProperty(kPmString, &Props::pmString, "PMString")
        .Traced("ZPTOKEN_PMSTRING")
        .Default("PM"),
    tw::twx::IntProperty(kMaxText, &Props::maxText, "MaxText")
        .Traced("ZPTOKEN_MAXTEXT")
        .Default(kDefaultMaxText),
    tw::twx::StringProperty(kHeaderRec, &Props::headerRec, "HeaderRec").Traced("ZPTOKEN_PROLOG"),
    tw::twx::StringProperty(kTrailerRec, &Props::trailerRec, "TrailerRec").Traced("ZPTOKEN_EPILOG"),
    tw::twx::ConstantProperty<Props>(TWTOKEN_TEXT_FORMAT, TWSTREAMFMT_NATIVE).Unlisted(),
};

// The engine's definition rows, in table order, ended by a zero row.
inline constexpr auto kDefinitionRows = tw::twx::DefinitionRows<kProperties>();

// The identity's flags word is this connector's own (the others carry TWX_IDENTITY_FLAGS).
inline constexpr tw::twx::ConnectorTraits kTraits = {.properties = kDefinitionRows.data(),
                                                     .flags = 0x00000800u};

}  // namespace flatrec

#endif  // TW_LINK_ZMLNK_PROPERTIES_H_
