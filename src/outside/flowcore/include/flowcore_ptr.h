// C++ owners of the engine's objects for callers of flowcore.h and twengine.h: each gives its
// object back with the matching engine call on every path. Header only; nothing here crosses
// the C interface.
//
// Thread rules are the objects' own: an owner is used by one thread at a time.
#ifndef TW_FLOWCORE_FLOWCORE_PTR_H_
#define TW_FLOWCORE_FLOWCORE_PTR_H_

#include <cstdint>
#include <memory>
#include <string_view>
#include <type_traits>
#include <utility>

#include "flowcore.h"

namespace flowcore {

// A standalone field (TWFieldAlloc). A field that belongs to a list is the list's: owning one
// would free nothing (TWFieldFree refuses it).
struct FieldFree {
  void operator()(TWFIELD field) const noexcept { TWFieldFree(field); }
};
using FieldPtr = std::unique_ptr<std::remove_pointer_t<TWFIELD>, FieldFree>;

// A field list (TWFieldlistAlloc) or a view of one (TWFieldlistMerge).
struct FieldlistFree {
  void operator()(TWFIELDLIST list) const noexcept { TWFieldlistFree(list); }
};
using FieldlistPtr = std::unique_ptr<std::remove_pointer_t<TWFIELDLIST>, FieldlistFree>;

// A connection (TWConnectAlloc): disconnected first (nothing is called when it is not
// connected), then freed. A destructor has nobody to tell that the disconnect failed, and a
// disconnect is where a connector commits: the owner only ends connections on ways out that
// have failed already (or thrown). Every way that may end well ends its connections with
// EndConnection and acts on its answer.
struct ConnectRelease {
  void operator()(TWCONNECT connect) const noexcept {
    (void)TWConnectDisconnect(connect);
    (void)TWConnectFree(connect);
  }
};
using ConnectPtr = std::unique_ptr<std::remove_pointer_t<TWCONNECT>, ConnectRelease>;

// Ends the connection the owner holds now: TWConnectDisconnect, then TWConnectFree, both
// always called. Answers the disconnect's failure (the final commit's, on connectors that
// commit there), else the free's; 0 when the owner holds none. The owner is empty afterwards.
[[nodiscard]] inline uint32_t EndConnection(ConnectPtr& connect) {
  TWCONNECT c = connect.release();
  if (c == TWNULLHANDLE) return 0;
  const uint32_t disconnected = TWConnectDisconnect(c);
  const uint32_t freed = TWConnectFree(c);
  return disconnected != 0 ? disconnected : freed;
}

// The handle slot of a call that hands out a handle, for an owner above:
//   uint32_t status = TWFieldlistAlloc(flowcore::Out(list), records, 0);
// The call sees the handle the owner holds (TWNULLHANDLE when none); when the statement ends
// the owner takes what the call left there, freeing the handle it held if that was replaced.
// For calls that only write the slot (every engine call that hands out a handle does).
template <class Ptr>
class OutSlot {
 public:
  using pointer = typename Ptr::pointer;
  explicit OutSlot(Ptr& owner) : owner_(owner), raw_(owner.get()) {}
  ~OutSlot() {
    if (raw_ != owner_.get()) owner_.reset(raw_);
  }
  OutSlot(const OutSlot&) = delete;
  OutSlot& operator=(const OutSlot&) = delete;
  operator pointer*() { return &raw_; }

 private:
  Ptr& owner_;
  pointer raw_;
};
template <class Ptr>
OutSlot<Ptr> Out(Ptr& owner) {
  return OutSlot<Ptr>(owner);
}

// A stream record and the data block it owns, freed with TWStreamDataFree. The record starts
// cleared (no format) or as an empty stream of format; maxLength and flags stay 0.
class StreamData {
 public:
  StreamData() = default;
  explicit StreamData(uint32_t format) { s_.format = format; }
  ~StreamData() { TWStreamDataFree(&s_); }
  StreamData(const StreamData&) = delete;
  StreamData& operator=(const StreamData&) = delete;

  TWStream* get() { return &s_; }
  const TWStream* get() const { return &s_; }
  // The data as bytes; empty without data. Valid until the stream changes.
  std::string_view view() const {
    return s_.data != nullptr ? std::string_view(static_cast<const char*>(s_.data), s_.length)
                              : std::string_view();
  }
  // Replaces the data by a copy of bytes in format (TWStreamDataSet: its statuses).
  [[nodiscard]] uint32_t Set(uint32_t format, std::string_view bytes) {
    return TWStreamDataSet(&s_, format, bytes.data(), static_cast<uint32_t>(bytes.size()));
  }
  // Frees the data now; the record keeps its format, capacity and flags.
  void Free() { TWStreamDataFree(&s_); }

 private:
  TWStream s_{};
};

// The current activity, ended when the owner goes with the call that matches how it began:
// TWActivityFree after TWActivityAlloc, TWActivityTerm after TWActivityInit. The activity is
// process-wide: at most one owner holds it.
class ActivityOwner {
 public:
  ActivityOwner() = default;
  ~ActivityOwner() { End(); }
  ActivityOwner(const ActivityOwner&) = delete;
  ActivityOwner& operator=(const ActivityOwner&) = delete;

  // TWActivityAlloc / TWActivityInit, ending a held activity first; the owner holds the new
  // one only when the status is 0.
  [[nodiscard]] uint32_t Alloc(uint32_t flags, const void* name, uint32_t format) {
    End();
    uint32_t status = TWActivityAlloc(flags, name, format);
    if (status == 0) end_ = &TWActivityFree;
    return status;
  }
  [[nodiscard]] uint32_t Init(MsgTblEntry* entry) {
    End();
    uint32_t status = TWActivityInit(entry);
    if (status == 0) end_ = &TWActivityTerm;
    return status;
  }
  // Ends the held activity now: the ending call's status, 0 when none is held.
  uint32_t End() {
    uint32_t (*end)() = std::exchange(end_, nullptr);
    return end != nullptr ? end() : 0;
  }
  bool holds() const { return end_ != nullptr; }

 private:
  uint32_t (*end_)() = nullptr;
};

}  // namespace flowcore

#endif  // TW_FLOWCORE_FLOWCORE_PTR_H_
