// The shared transfer steps (see destination.h).
#include "destination.h"

namespace tw::activity {

uint32_t TransferFlags(uint32_t truncPrecToken, uint32_t truncDataToken) {
  uint32_t flags = 0;
  if (TWActivityGetPropertyBoolean(truncPrecToken, 1)) flags |= TWFIELDF_TRUNC_PREC;
  if (TWActivityGetPropertyBoolean(truncDataToken, 0)) flags |= TWFIELDF_TRUNC_DATA;
  return flags;
}

uint32_t EmptyDestination(TWCONNECT dest, bool* missing) {
  uint32_t status = TWConnectAction(dest, TWACTION_TRUNCATE);
  if (status == TWFAIL_INVALID_METADATA) {
    TWActivityClearStatus();
    *missing = true;
    status = TWSUCCESS;
  }
  return status;
}

}  // namespace tw::activity
