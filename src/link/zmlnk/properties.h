// The property table of the text-file connector: one row per property with its token,
// definition-row type, name, trace name, how it is kept and its default. The engine's
// definition rows, the Get/Set dispatch and the defaults all come from this one table.
#ifndef TW_LINK_ZMLNK_PROPERTIES_H_
#define TW_LINK_ZMLNK_PROPERTIES_H_

#include <array>
#include <cstdint>
#include <string>

#include "twx.h"

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

enum class PropKind : uint8_t { kText, kInt, kFlag };

struct PropDef {
  uint32_t token;
  uint32_t rowType;       // TWTYPE_* of the definition row
  const char* name;       // null for a predefined token
  const char* traceName;  // names the property in trace lines
  PropKind kind;
  std::string Props::*text;
  int32_t Props::*word;
  const char* defaultText;
  int32_t defaultInt;
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

constexpr PropDef Text(uint32_t token, const char* name, const char* traceName,
                       std::string Props::*slot, const char* def = "") {
  return PropDef{token, TWTYPE_TEXT, name, traceName, PropKind::kText, slot, nullptr, def, 0};
}
constexpr PropDef Int(uint32_t token, const char* name, const char* traceName, int32_t Props::*slot,
                      int32_t def = 0, uint32_t rowType = TWTYPE_INT) {
  return PropDef{token, rowType, name, traceName, PropKind::kInt, nullptr, slot, nullptr, def};
}
constexpr PropDef Flag(uint32_t token, const char* name, const char* traceName,
                       int32_t Props::*slot) {
  return PropDef{token, TWTYPE_INT, name, traceName, PropKind::kFlag, nullptr, slot, nullptr, 0};
}

inline constexpr PropDef kProperties[] = {
    Text(TWTOKEN_DATABASE, nullptr, "TWTOKEN_DATABASE", &Props::database),
    Text(TWTOKEN_METADATA, nullptr, "TWTOKEN_METADATA", &Props::metadata),
    Flag(TWTOKEN_MAP_NAME, nullptr, "TWTOKEN_MAP_NAME", &Props::mapName),
    Text(kLog, "Log", "ZPTOKEN_LOG", &Props::log),
    Int(kMaxRecSize, "MaxRecSize", "ZPTOKEN_MAXREC", &Props::maxRecSize, kDefaultMaxRecSize),
    Int(kMaxRecCount, "MaxRecCount", "ZPTOKEN_MAX", &Props::maxRecCount),
    Int(kTrace, "Trace", "ZPTOKEN_TRACE", &Props::trace, kDefaultTrace),
    Int(kFixedRecSize, "FixedRecSize", "ZPTOKEN_RECSIZE", &Props::fixedRecSize),
    Flag(kProcessDuplicates, "ProcessDuplicates", "ZPTOKEN_PROCESSDUPS", &Props::processDuplicates),
    Flag(kCheckForQuotes, "CheckForQuotes", "ZPTOKEN_QUOTED", &Props::checkForQuotes),
    Text(kRecordDelim, "RecordDelim", "ZPTOKEN_RECDELIM", &Props::recordDelim),
    Text(kFiletype, "Filetype", "ZPTOKEN_FILETYPE", &Props::filetype, "TEXT"),
    Int(kMinRecSize, "MinRecSize", "ZPTOKEN_IMINREC", &Props::minRecSize),
    Int(kSkipRecords, "SkipRecords", "ZPTOKEN_ISKIPRECS", &Props::skipRecords),
    // A text row in the table, handled as an integer.
    Int(kSkipBytes, "SkipBytes", "ZPTOKEN_ISKIPBYTES", &Props::skipBytes, 0, TWTYPE_TEXT),
    Text(kFillCharacter, "FillCharacter", "ZPTOKEN_OFILL", &Props::fillCharacter),
    Text(kZid, "ZID", "ZPTOKEN_ZID", &Props::zid),
    Text(kLinktype, "Linktype", "ZPTOKEN_LINKTYPE", &Props::linktype, "SOURCE"),
    Flag(kEchoZid, "EchoZid", "ZPTOKEN_ECHO", &Props::echoZid),
    Text(kDayNames, "DayNames", "ZPTOKEN_DAYNAMES", &Props::dayNames,
         "Monday,Tuesday,Wednesday,Thursday,Friday,Saturday,Sunday"),
    Text(kMonthNames, "MonthNames", "ZPTOKEN_MONTHNAMES", &Props::monthNames,
         "January,February,March,April,May,June,July,August,September,October,November,"
         "December"),
    Text(kRepStrings, "RepStrings", "ZPTOKEN_REPSTRINGS", &Props::repStrings),
    Text(kAmString, "AMString", "ZPTOKEN_AMSTRING", &Props::amString, "AM"),
    Text(kPmString, "PMString", "ZPTOKEN_PMSTRING", &Props::pmString, "PM"),
    Int(kMaxText, "MaxText", "ZPTOKEN_MAXTEXT", &Props::maxText, kDefaultMaxText),
    Text(kHeaderRec, "HeaderRec", "ZPTOKEN_PROLOG", &Props::headerRec),
    Text(kTrailerRec, "TrailerRec", "ZPTOKEN_EPILOG", &Props::trailerRec),
};
inline constexpr size_t kPropertyCount = sizeof kProperties / sizeof kProperties[0];

// The engine's definition rows, in table order, ended by a zero row.
constexpr std::array<TWXPropertyDef, kPropertyCount + 1> BuildDefinitionRows() {
  std::array<TWXPropertyDef, kPropertyCount + 1> rows{};
  for (size_t i = 0; i < kPropertyCount; ++i) {
    const PropDef& p = kProperties[i];
    uint32_t length = 0;
    if (p.name != nullptr)
      while (p.name[length] != '\0') ++length;
    rows[i] = TWXPropertyDef{p.token, p.rowType, 0u, p.name, length};
  }
  return rows;
}
inline constexpr std::array<TWXPropertyDef, kPropertyCount + 1> kDefinitionRows =
    BuildDefinitionRows();

// The row serving token; null when the connector does not know it.
const PropDef* FindProperty(uint32_t token);
// Every property at its default.
void SetDefaults(Props* props);

}  // namespace flatrec

#endif  // TW_LINK_ZMLNK_PROPERTIES_H_
