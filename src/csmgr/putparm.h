// Storing an activity's fields for PutDescription: control-store field records written to
// the items that PropNameList names for their tokens.
#ifndef TW_CSMGR_PUTPARM_H_
#define TW_CSMGR_PUTPARM_H_

#include <cstdint>
#include <string_view>

#include "plexapi.h"

namespace tw::csmgr {

// Stores the records (the bytes of the request from put_description::kList to its Length)
// into the document, up to the record whose Token is 0. Every head and data length is
// checked against the bytes: a record running past them is refused with 798 and stops the
// walk. Kind 1 numbers, 5 date-times, 6 texts (NUL within the data), 7 rich text in pieces;
// other kinds and text lists are ignored. 798 with the item name (or "PropNameList" for an
// unknown token). The caller saves the document.
[[nodiscard]] uint32_t CSMgrPutParms(GVDOC doc, std::string_view records);

}  // namespace tw::csmgr

#endif  // TW_CSMGR_PUTPARM_H_
