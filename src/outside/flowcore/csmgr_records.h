// The control store's field records inside flowcore: the description type the activity and
// connection layers read properties from, the codec between it and the wire's records, and
// the international record kept from the last ServerInit reply. These are C++ calls made
// inside the entry points' guards: std::bad_alloc passes through them.
#ifndef TW_FLOWCORE_CSMGR_RECORDS_H_
#define TW_FLOWCORE_CSMGR_RECORDS_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "flowcore.h"
#include "flowcore_ptr.h"
#include "platform.h"

namespace tw::engine {

using flowcore::FieldPtr;

// One property: its token and a field holding exactly one value.
struct Property {
  uint32_t token = 0;
  FieldPtr value;
};
using Description = std::vector<Property>;

// Decodes field records (from their first byte through the end record, which must be there
// whole) into *out, in record order. Kinds become field types: 1 INT,
// 5 DATETIME, 6 TEXT (QMBCS data, NUL dropped), 7 BINARY with stream format TEXT_LIST or
// COMPOSITE (its data without the extra byte). A head or data running past the bytes, a text
// without its NUL, a number or datetime of the wrong size, a malformed text list, an unknown
// kind or list format: 1545 (the definition cannot be read). Records after the end record
// are not read. *out is untouched on failure; TWFAIL_NULL_RESULT for a null out.
[[nodiscard]] uint32_t DecodeDescription(std::string_view records, Description* out);

// The number of bytes of the record list at the start of bytes, through its end record (head
// and zero byte): false when a record or the end record runs past the bytes.
[[nodiscard]] bool MeasureRecords(std::string_view bytes, size_t* length);

// Appends to *records the record of a one-value field for PutDescription: INT → kind 1,
// DATETIME → 5, TEXT → 6 (QMBCS + NUL), FLOAT/CURRENCY/NUMERIC → 6 of their text, BINARY
// with format COMPOSITE → 7 COMPOSITE; BINARY TEXT_LIST → 7 TEXT_LIST (the server ignores
// it). Nothing is appended on failure: TWFAIL_INVALID_FIELD for a null field,
// TWFAIL_MISSING_PROPERTY for a null value, TWFAIL_INVALID_PROPERTY for token 0 (it would end
// the list), TWFAIL_INVALID_TYPE for another binary format, or the conversion's status.
[[nodiscard]] uint32_t EncodeProperty(uint32_t token, TWFIELD value, std::string* records);

// Appends the end record (16 zero bytes and one zero byte).
void AppendEndRecord(std::string* records);

// CSMgrGetDescription(handle) decoded into *out: 0, the control store's status (782, 783,
// 797, 798, 799, ...), or 1545 for records that do not decode. *out is untouched on failure.
[[nodiscard]] uint32_t FetchDescription(int32_t handle, Description* out);

// The names of RunActivity in the wire's text-list layout (u16 count, u16 lengths, texts):
// a TEXT_LIST stream is checked and copied, any other stream is one name converted to QMBCS
// (an empty text gives an empty list). null: TWFAIL_NULL_BUFFER; a malformed list:
// TWFAIL_INVALID_TEXT_LIST; a name above 65535 bytes: TWFAIL_OVERFLOW; or the conversion's.
[[nodiscard]] uint32_t EncodeTextList(const TWStream* names, std::string* wire);

// The international record of the last successful ServerInit of this process (CSMgrInit,
// CSMgrServerInfo); false before one and after CSMgrTerm.
bool KeptInternational(TWIntlFormat* out);

}  // namespace tw::engine

#endif  // TW_FLOWCORE_CSMGR_RECORDS_H_
