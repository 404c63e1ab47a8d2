// Documents as JSON lines for the administration tool: one note per line with its identity,
// class, parent, times, items and attachments, written and read back exactly.
//
// {"note":4,"unid":"<32 hex>","class":"document","parent":null,
//  "created":"2024-01-02T03:04:05.06-05","modified":"...",
//  "items":[{"name":"Form","type":"text","value":"Activity"},
//           {"name":"ActiveDays","type":"numberlist","value":[1,2,3]},
//           {"name":"SchedTime","type":"time","value":"1996-11-05T14:07:09.00-05"},
//           {"name":"Body","type":"richtext","text":"line1\nline2","records":"<base64>"}],
//  "attachments":[{"name":"a.txt","data":"<base64>"}]}
//
// Items: number (a number, or "NaN", "Infinity", "-Infinity"), text, time (text or null),
// textlist, numberlist and timelist (arrays; "ranges" holds the pairs of number and time
// lists), richtext ("records" when present, else "text" made into paragraphs), other
// ("data"). Any item may instead carry "raw": its stored bytes, which export uses for values
// JSON cannot hold exactly (text that is not UTF-8, malformed dates). Each stored row is
// one entry, so rich text in pieces and repeated names come back as they were.
// Times: "YYYY-MM-DD", "THH:MM:SS.hh" or both, then the zone "+hh"/"-hh" and "D" when
// daylight saving is set; null date and time: null.
// Import: a line whose "unid" names a note of the database replaces that note's items,
// attachments and parent (its note id stays); otherwise a new note is added with that
// identity (or a new one). "note" and "modified" are informative only.
#ifndef TW_OUTSIDE_PLEXAPI_TOOL_JSONL_H_
#define TW_OUTSIDE_PLEXAPI_TOOL_JSONL_H_

#include <cstddef>
#include <cstdint>
#include <istream>
#include <ostream>
#include <string>
#include <string_view>

#include "plexapi.h"
#include "store.h"

namespace plexadm {

// Lower-case hexadecimal digits of n bytes at p.
std::string HexOf(const uint8_t* p, size_t n);

std::string Base64Encode(std::string_view bytes);
// False for text that is not base64 (padding optional, no blanks).
bool Base64Decode(std::string_view text, std::string& out);

// The time as text; false when it has none that reads back to the same eight bytes (then
// export writes raw bytes). Null date and null time give true with null set.
bool TimeText(const GVTIMEDATE& time, std::string& out, bool& null);
// The time a text names; false when it is not one of the forms above.
bool ParseTimeText(std::string_view text, GVTIMEDATE& out);

// Writes every note of the classes in classMask (GVCLASS_*), of form when not empty, one
// line each in note-id order. A status with error filled on failure.
[[nodiscard]] uint32_t ExportNotes(plexa::Database& db, uint32_t classMask, std::string_view form,
                                   std::ostream& out, std::string& error);
// Reads lines until the end of in and stores them in one transaction: all or nothing. count
// receives the notes written; error names the failing line.
[[nodiscard]] uint32_t ImportNotes(plexa::Database& db, std::istream& in, size_t& count,
                                   std::string& error);

}  // namespace plexadm

#endif  // TW_OUTSIDE_PLEXAPI_TOOL_JSONL_H_
