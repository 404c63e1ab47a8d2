// Rich text as compound-document records: the record walk and validity check, builders of
// the records the API writes (paragraphs, text runs, paragraph definitions, document links,
// field definitions), text to and from records, and the cutting of records into items.
#ifndef TW_OUTSIDE_PLEXAPI_RICHTEXT_H_
#define TW_OUTSIDE_PLEXAPI_RICHTEXT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "plexapi.h"

namespace plexa::rt {

// One record of a stream: its signature byte, where it starts, its header size (2, 4 or 6)
// and its length (header and body, without the padding byte of an odd length).
struct Record {
  uint8_t signature = 0;
  size_t offset = 0;
  size_t header = 0;
  size_t length = 0;
  std::string_view body;   // the bytes after the header
  std::string_view whole;  // the record with its padding byte, as it stands in the stream
};

// Walks the records of a stream. Next answers false at the end and on a malformed record
// (then failed() is true): a header that does not fit, a length below its header, or a
// length (padded when odd) beyond the stream.
class Walker {
 public:
  explicit Walker(std::string_view records) : bytes_(records) {}
  bool Next(Record& out);
  bool failed() const { return failed_; }

 private:
  std::string_view bytes_;
  size_t pos_ = 0;
  bool failed_ = false;
};

// GVERR_COMPOSITE unless the stream is whole records ending exactly at its end. An empty
// stream is valid only with allowEmpty.
[[nodiscard]] uint32_t Validate(std::string_view records, bool allowEmpty = true);
// The number of records (a valid stream).
size_t CountRecords(std::string_view records);

// Appends a record with the 4-byte header (6-byte beyond 65535 bytes) and its padding byte.
void AppendRecord(std::string& out, uint8_t signature, std::string_view body);
void AppendParagraph(std::string& out);                    // 81 02
void AppendText(std::string& out, std::string_view text);  // 0x85: style word 0, the text
void AppendParagraphDef(std::string& out, uint8_t signature, const GVParagraphDef& def);
void AppendDocLink(std::string& out, const GVDocLink& link);

// A field definition as its record holds it.
struct FieldDef {
  std::string head;  // the 64-byte head of the GVFieldRecord
  std::string name;
  std::string defaultFormula;
  uint32_t itemType() const;
  uint32_t flags() const;
  uint32_t listFlags() const;
};
// The field record of a GVFieldRecord (its name and default formula are read through its
// pointers; null name: GVERR_INVALID_ARGUMENT; name above 64 bytes: GVERR_TOO_BIG).
[[nodiscard]] uint32_t AppendField(std::string& out, const GVFieldRecord& field);
[[nodiscard]] uint32_t AppendField(std::string& out, const FieldDef& field);
[[nodiscard]] uint32_t DecodeField(const Record& record, FieldDef& out);     // GVERR_COMPOSITE
[[nodiscard]] uint32_t DecodeDocLink(const Record& record, GVDocLink& out);  // GVERR_COMPOSITE

// The record GVCDRecordInsert makes for kind (GVCD_*) from what record points at.
// Unknown kind: GVERR_INVALID_ARGUMENT; a needed null record: GVERR_INVALID_ARGUMENT.
[[nodiscard]] uint32_t MakeRecord(uint32_t kind, const void* record, std::string& out);

// Inserts whole records before record position (1-based; 0 or beyond the last: at the end).
// Either stream malformed: GVERR_COMPOSITE.
[[nodiscard]] uint32_t InsertRecords(std::string& records, uint32_t position,
                                     std::string_view inserted);

// Text runs concatenated, a line feed per paragraph record, other records skipped.
[[nodiscard]] uint32_t ToText(std::string_view records, std::string& out);
// One entry per paragraph (the text runs between paragraph records).
[[nodiscard]] uint32_t ToParagraphs(std::string_view records, std::vector<std::string>& out);
// Per line (LF, a CR before it dropped) a paragraph record (not before the first) and a
// text run.
std::string FromText(std::string_view text);

// Cuts a valid stream into pieces of at most maxPiece bytes at record boundaries; a record
// larger than maxPiece makes a piece of its own. An empty stream gives one empty piece, so
// that the item stays.
std::vector<std::string> CutPieces(std::string_view records, size_t maxPiece = GV_RICHTEXT_PIECE);

}  // namespace plexa::rt

#endif  // TW_OUTSIDE_PLEXAPI_RICHTEXT_H_
