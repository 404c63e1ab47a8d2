// The direct transfer: the result of the activity's Statement on the source link moved into
// the destination link in blocks, the destination emptied first or created when asked.
#ifndef TW_ACTIVITIES_DIRECT_TRANSFER_H_
#define TW_ACTIVITIES_DIRECT_TRANSFER_H_

#include <cstdint>

#include "flowcore.h"

namespace tw::direct {

// The activity's own property tokens, in table order.
enum Token : uint32_t {
  kCreate = 1,
  kOverwrite = 2,
  kTruncPrec = 3,
  kTruncData = 4,
  kRecordCount = 5,
  kStatement = 6,
  kSrcFieldList = 7,
  kDestFieldList = 8,
};
// The destination link's MAP_NAME as the activity names it.
constexpr uint32_t kDestMapName = TWTOKENF_DEST | TWTOKEN_MAP_NAME;

// The most records moved per block: a larger RecordCount is cut to it (only the blocking
// changes, not what is moved).
constexpr uint32_t kMaxBlockRecords = 65536;

// Runs the transfer of the current activity once. Answers 0 or the first failure, which has
// been logged once (TWActivityLog) before the connections were closed; a connection that
// fails to disconnect (its final commit) is that failure when the transfer had none.
// Everything obtained is released on every path.
[[nodiscard]] uint32_t RunTransfer();

}  // namespace tw::direct

#endif  // TW_ACTIVITIES_DIRECT_TRANSFER_H_
