// Gathering an activity's fields for GetDescription: the items named by PropNameList, with
// their tokens from PropTokenList, as control-store field records.
#ifndef TW_CSMGR_GETPARM_H_
#define TW_CSMGR_GETPARM_H_

#include <cstdint>
#include <string>
#include <vector>

#include "plexapi.h"

namespace tw::csmgr {

// Appends the field records of the activity document to block from byte
// get_description::kList (25), growing the block and its Length word in steps of 4096 bytes,
// and always ends the list with the end record (also after a failure). Texts and rich text
// are gathered whole. Returns 0, 798 (a list or item that cannot be read, counts that do not
// match), 799 (an unknown link), 793 (a view missing) or 258; reported through log.h.
[[nodiscard]] uint32_t CSMgrGetParms(GVDOC doc, std::vector<uint8_t>& block);

// Reads PropNameList and PropTokenList: 798 with the missing list's name, or naming both
// when their counts differ or the token list holds ranges.
[[nodiscard]] uint32_t CSMgrReadPropLists(GVDOC doc, std::vector<std::string>* names,
                                          std::vector<int32_t>* tokens);

}  // namespace tw::csmgr

#endif  // TW_CSMGR_GETPARM_H_
