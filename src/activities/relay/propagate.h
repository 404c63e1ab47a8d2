// The change propagation: the rows of a change table (insert, update and delete images with
// their commit and intent sequences) applied to the destination link in commit order, from
// the commit after the last one applied, or all of them after emptying the destination.
#ifndef TW_ACTIVITIES_RELAY_PROPAGATE_H_
#define TW_ACTIVITIES_RELAY_PROPAGATE_H_

#include <cstdint>

#include "flowcore.h"

namespace tw::relay {

// The activity's own property tokens.
enum Token : uint32_t {
  kCreate = 1,
  kTruncPrec = 2,
  kTruncData = 3,
  kLastDiffSeq = 4,
  kKeyFieldList = 5,
  kSrcFieldList = 6,
  kDestFieldList = 7,
};
constexpr uint32_t kDestMapName = TWTOKENF_DEST | TWTOKEN_MAP_NAME;
constexpr uint32_t kCondition = TWTOKENF_SRC | TWTOKEN_CONDITION;

// Runs the propagation of the current activity once. LastDiffSeq is rewritten only with the
// sequence of a commit whose every row reached the destination, and only once the
// destination committed them. Answers 0 or the first failure, logged once; a connection that
// fails to disconnect is that failure when the run had none.
[[nodiscard]] uint32_t RunPropagation();

}  // namespace tw::relay

#endif  // TW_ACTIVITIES_RELAY_PROPAGATE_H_
