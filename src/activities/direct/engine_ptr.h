// Owners of the engine objects a launch obtains: each frees its object with the matching
// engine call on every path (a connection is disconnected before it is freed).
#ifndef TW_ACTIVITIES_DIRECT_ENGINE_PTR_H_
#define TW_ACTIVITIES_DIRECT_ENGINE_PTR_H_

#include <memory>
#include <type_traits>

#include "flowcore.h"

namespace tw::direct {

struct FieldlistFree {
  void operator()(TWFIELDLIST list) const { TWFieldlistFree(list); }
};
using FieldlistPtr = std::unique_ptr<std::remove_pointer_t<TWFIELDLIST>, FieldlistFree>;

struct FieldFree {
  void operator()(TWFIELD field) const { TWFieldFree(field); }
};
using FieldPtr = std::unique_ptr<std::remove_pointer_t<TWFIELD>, FieldFree>;

struct ConnectRelease {
  void operator()(TWCONNECT connect) const {
    TWConnectDisconnect(connect);
    TWConnectFree(connect);
  }
};
using ConnectPtr = std::unique_ptr<std::remove_pointer_t<TWCONNECT>, ConnectRelease>;

// A stream record that starts as empty native text and frees its data when it goes.
class OwnedStream {
 public:
  OwnedStream() { TWStreamCreate(&s_, 0, 0, TWSTREAMFMT_NATIVE); }
  ~OwnedStream() { TWStreamDataFree(&s_); }
  OwnedStream(const OwnedStream&) = delete;
  OwnedStream& operator=(const OwnedStream&) = delete;
  TWStream* get() { return &s_; }
  void Release() { TWStreamDataFree(&s_); }

 private:
  TWStream s_{};
};

}  // namespace tw::direct

#endif  // TW_ACTIVITIES_DIRECT_ENGINE_PTR_H_
