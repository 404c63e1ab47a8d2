// poll.twx: the poll activity. It runs its Statement on the source link every Frequency
// seconds and, for each poll that yields a row, starts the activities of its ExecuteList
// (with PostStatement run before or after), until it is asked to close, its StopTime has
// passed or EventCount events were seen.
#include <optional>
#include <string_view>

#include "connections.h"
#include "flowcore.h"
#include "flowcore_ptr.h"
#include "platform.h"
#include "twx.h"
#include "twx_plugin.h"
#include "wait.h"

namespace tw::poll {
namespace {

using flowcore::ConnectPtr;
using flowcore::FieldlistPtr;
using flowcore::StreamData;

constexpr TWXPropertyDef kProperties[] = {
    TWX_PROPERTY_PREDEF(TWTOKEN_LINK, TWTYPE_INT),
    TWX_PROPERTY_PREDEF(TWTOKEN_SERVER, TWTYPE_TEXT),
    TWX_PROPERTY_PREDEF(TWTOKEN_DATABASE, TWTYPE_TEXT),
    TWX_PROPERTY_PREDEF(TWTOKEN_USERID, TWTYPE_TEXT),
    TWX_PROPERTY_PREDEF(TWTOKEN_PASSWORD, TWTYPE_TEXT),
    TWX_PROPERTY_PREDEF(TWTOKEN_METADATA, TWTYPE_TEXT),
    TWX_PROPERTY(kFrequency, TWTYPE_INT, "Frequency"),
    TWX_PROPERTY(kStopTime, TWTYPE_DATETIME, "StopTime"),
    TWX_PROPERTY(kEventCount, TWTYPE_INT, "EventCount"),
    TWX_PROPERTY(kExecuteList, TWTYPE_BINARY, "ExecuteList"),
    TWX_PROPERTY(kSynchronous, TWTYPE_INT, "Synchronous"),
    TWX_PROPERTY(kPostLast, TWTYPE_INT, "PostLast"),
    TWX_PROPERTY(kStatement, TWTYPE_TEXT, "Statement"),
    TWX_PROPERTY(kPostStatement, TWTYPE_TEXT, "PostStatement"),
    TWX_PROPERTY(kIgnoreError, TWTYPE_INT, "IgnoreError"),
    TWX_PROPERTY_END,
};

constexpr TWXIdentity kIdentity = tw::twx::ActivityIdentity(kProperties);

bool Blank(std::string_view text) {
  return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

uint32_t Missing(uint32_t token) {
  return TWActivityLogEx(TWFAIL_MISSING_PROPERTY, token, 0, 0, nullptr, nullptr, nullptr);
}

enum class FollowUp { kNone, kBefore, kAfter };

class Poll {
 public:
  uint32_t Run();
  // Ends the source connection; status is the run's (logged). Answers the final status.
  uint32_t End(uint32_t status) { return activity::EndConnections(status, {&source_}); }

 private:
  uint32_t ReadProperties();
  // One poll: answers its status, *event whether it yielded a row.
  uint32_t PollOnce(bool* event);
  uint32_t Event();
  uint32_t FollowUpStatement();
  uint32_t EndTransaction();
  std::optional<uint32_t> StopWanted() const;

  uint32_t frequency_ = 0;
  int32_t eventCount_ = 0;
  bool ignoreError_ = false;
  bool synchronous_ = false;
  FollowUp followUp_ = FollowUp::kNone;
  std::optional<TWDatetime> stopTime_;
  StreamData executeList_{TWSTREAMFMT_TEXT_LIST};
  StreamData statement_{TWSTREAMFMT_NATIVE};
  StreamData postStatement_{TWSTREAMFMT_NATIVE};
  ConnectPtr source_;
};

uint32_t Poll::ReadProperties() {
  int32_t frequency = 0;
  if (TWActivityGetPropertyInt(kFrequency, &frequency) != TWSUCCESS || frequency == 0)
    return Missing(kFrequency);
  if (frequency < 0)
    return TWActivityLogEx(TWFAIL_PROPERTY_VALUE, kFrequency, 0, 0, nullptr, nullptr, nullptr);
  frequency_ = static_cast<uint32_t>(frequency);
  if (TWActivityGetPropertyStream(kExecuteList, TWSTREAMFMT_TEXT_LIST, executeList_.get()) !=
          TWSUCCESS ||
      TWTextListGetCount(executeList_.get()) == 0)
    return Missing(kExecuteList);
  // A poll without a statement would ask the link for nothing, for ever.
  if (TWActivityGetPropertyStream(kStatement, TWSTREAMFMT_NATIVE, statement_.get()) != TWSUCCESS ||
      Blank(statement_.view()))
    return Missing(kStatement);
  TWDatetime stop{};
  if (TWActivityGetPropertyDatetime(kStopTime, &stop) == TWSUCCESS) stopTime_ = stop;
  if (TWActivityGetPropertyInt(kEventCount, &eventCount_) != TWSUCCESS) eventCount_ = 0;
  ignoreError_ = TWActivityGetPropertyBoolean(kIgnoreError, 0) != 0;
  synchronous_ = TWActivityGetPropertyBoolean(kSynchronous, 0) != 0;
  if (TWActivityGetPropertyStream(kPostStatement, TWSTREAMFMT_NATIVE, postStatement_.get()) ==
          TWSUCCESS &&
      !Blank(postStatement_.view()))
    followUp_ = TWActivityGetPropertyBoolean(kPostLast, 0) ? FollowUp::kAfter : FollowUp::kBefore;
  return TWSUCCESS;
}

uint32_t Poll::Run() {
  uint32_t status = ReadProperties();
  if (status != TWSUCCESS) return status;
  status = TWConnectAlloc(flowcore::Out(source_), TWTOKENF_SRC, nullptr);
  if (status == TWSUCCESS) status = TWConnectConnect(source_.get());
  int32_t events = 0;
  while (status == TWSUCCESS) {
    bool event = false;
    status = PollOnce(&event);
    if (status != TWSUCCESS) break;
    if (event) status = Event();
    // Whatever the poll read or changed is committed before the wait: an open transaction
    // would keep other writers out of the source (SQLite answers them "database is locked")
    // and this connection from seeing their rows.
    if (status == TWSUCCESS) status = EndTransaction();
    if (status != TWSUCCESS) break;
    if (event && eventCount_ > 0 && ++events >= eventCount_) break;
    std::optional<uint32_t> end = WaitInSlices(
        frequency_, [](uint32_t seconds) { TWProcThreadSleep(seconds); },
        [this] { return StopWanted(); });
    if (end) {
      status = *end;
      break;
    }
  }
  if (status != TWSUCCESS) TWActivityLog(status);
  return status;
}

uint32_t Poll::PollOnce(bool* event) {
  FieldlistPtr list;
  uint32_t status =
      TWFieldlistAlloc(flowcore::Out(list), 1, TWFIELDF_TRUNC_PREC | TWFIELDF_TRUNC_DATA);
  if (status != TWSUCCESS) return status;
  uint32_t count = 0;
  status = TWConnectExecute(source_.get(), statement_.get(), list.get(), &count);
  if (status != TWSUCCESS) {
    if (!ignoreError_) return status;
    TWActivityClearStatus();
    return TWSUCCESS;
  }
  // A statement that describes no columns yields no row to fetch.
  if (count == TWCOUNT_UNKNOWN && TWFieldlistGetCount(list.get()) == 0) count = 0;
  if (count == TWCOUNT_UNKNOWN) {
    status = TWConnectFetch(source_.get(), list.get(), 1, 1, &count);
    if (status == TWFAIL_END_OF_DATA) status = TWSUCCESS;
    if (status != TWSUCCESS) return status;
  }
  *event = count != 0;
  return TWSUCCESS;
}

uint32_t Poll::Event() {
  uint32_t status = followUp_ == FollowUp::kBefore ? FollowUpStatement() : TWSUCCESS;
  // The activities started see what the follow-up changed.
  if (status == TWSUCCESS && followUp_ == FollowUp::kBefore) status = EndTransaction();
  if (status == TWSUCCESS)
    status = TWActivityRunActivity(executeList_.get(), synchronous_ ? TWACTRUNF_SYNCHRONOUS : 0,
                                   stopTime_ ? &*stopTime_ : nullptr);
  if (status == TWSUCCESS && followUp_ == FollowUp::kAfter) status = FollowUpStatement();
  return status;
}

uint32_t Poll::FollowUpStatement() {
  return TWConnectExecute(source_.get(), postStatement_.get(), TWNULLHANDLE, nullptr);
}

uint32_t Poll::EndTransaction() {
  const uint32_t status = TWConnectAction(source_.get(), TWACTION_COMMIT);
  if (status != TWFAIL_UNAVAILABLE) return status;
  // A link without transactions has nothing to end.
  if (TWActivityGetStatus() == TWFAIL_UNAVAILABLE) TWActivityClearStatus();
  return TWSUCCESS;
}

std::optional<uint32_t> Poll::StopWanted() const {
  if (uint32_t command = TWActivityGetCommand()) return command;
  if (stopTime_) {
    TWDatetime now{};
    int32_t order = 0;
    if (TWDatetimeSetCurrent(&now) == TWSUCCESS &&
        TWDatetimeCompare(&now, &*stopTime_, &order) == TWSUCCESS && order > 0)
      return TWSUCCESS;
  }
  return std::nullopt;
}

uint32_t Launch() {
  Poll poll;
  return poll.End(poll.Run());
}

}  // namespace
}  // namespace tw::poll

TWX_ACTIVITY(tw::poll::kIdentity, tw::poll::Launch)
