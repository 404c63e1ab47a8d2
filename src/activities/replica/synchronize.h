// The replication: two links, A and B, each read whole, put in the order of the comparison
// of their keys and walked together; a record on one side only, or on both with other data, is
// copied, updated or removed by the time stamps or the WinConflict rule, and the decisions taken by
// the rule are logged and their losing records saved when asked.
#ifndef TW_ACTIVITIES_REPLICA_SYNCHRONIZE_H_
#define TW_ACTIVITIES_REPLICA_SYNCHRONIZE_H_

#include <cstdint>

#include "flowcore.h"

namespace tw::replica {

// The activity's own property tokens (2 is not used).
enum Token : uint32_t {
  kCreate = 1,
  kNoDelete = 3,
  kLowPrecision = 4,
  kWinConflict = 5,
  kLogConflict = 6,
  kSaveConflict = 7,
  kSaveMetadata = 8,
};
constexpr uint32_t kMapName = TWTOKEN_MAP_NAME;

// Runs the replication of the current activity once. Both sides are read whole first and
// paired in the order of TWFieldCompare on their keys, whatever order their data sources
// return; two records of one side whose keys compare equal end the run before anything is
// written (TWFAIL_EXTERNAL, the log naming the side and the key). Answers 0 or the first
// failure, logged once; a connection that fails to disconnect (its final commit) is that
// failure when the run had none. After a stamped run whose links all disconnected well, the
// links' maximum stamps are stored as the next run's base stamps, and a failure to store them
// is the run's status.
[[nodiscard]] uint32_t RunReplication();

}  // namespace tw::replica

#endif  // TW_ACTIVITIES_REPLICA_SYNCHRONIZE_H_
