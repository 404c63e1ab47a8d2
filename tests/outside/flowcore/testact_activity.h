// The test activity behind testact.twx and its broken variants: does the work its Mode
// property picks through the engine's activity and connection calls, then returns that
// work's failure or its Result property.
//
// Variants define before including: TESTACT_KIND, TESTACT_VERSION (identity words).
#ifndef TW_TESTS_FLOWCORE_TESTACT_ACTIVITY_H_
#define TW_TESTS_FLOWCORE_TESTACT_ACTIVITY_H_

#include <chrono>
#include <thread>

#include "flowcore_ptr.h"
#include "twx.h"
#include "twx_plugin.h"

#ifndef TESTACT_KIND
#define TESTACT_KIND TWX_KIND_ACTIVITY
#endif
#ifndef TESTACT_VERSION
#define TESTACT_VERSION TWX_VERSION
#endif

namespace {

enum Token : uint32_t { kResult = 1, kMode = 2, kCounter = 3, kTargets = 4 };

enum Mode : int32_t {
  kJustReturn = 0,
  kLogToken = 1,     // logs the status Result names (else 12553) with its own token Targets
  kAwaitClose = 2,   // polls TWActivityGetCommand until the run is asked to close
  kCount = 3,        // stores Counter + 1 for the next run
  kRunTargets = 4,   // runs the activities of Targets and waits for them
  kFetchLink = 5,    // fetches every row of link 1; Counter receives their number
  kIgnoreClose = 6,  // runs for about a minute without looking at close requests
  kLeaveLink = 7,    // connects link 1 and leaves the connection for the engine to end
};

const TWXPropertyDef kTable[] = {
    TWX_PROPERTY(kResult, TWTYPE_INT, "Result"),
    TWX_PROPERTY(kMode, TWTYPE_INT, "Mode"),
    TWX_PROPERTY(kCounter, TWTYPE_INT, "Counter"),
    TWX_PROPERTY(kTargets, TWTYPE_BINARY, "Targets"),
    TWX_PROPERTY_END,
};

const TWXIdentity kIdentity = {TESTACT_VERSION,    TESTACT_KIND, TWX_IDENTITY_FLAGS, 0u, 0u,
                               TWSTREAMFMT_NATIVE, kTable};

// Bounds the wait of kAwaitClose (about ten seconds) so a close that never comes cannot hang
// a test.
constexpr int kAwaitSteps = 1000;

uint32_t AwaitClose() {
  for (int i = 0; i < kAwaitSteps; ++i) {
    if (uint32_t command = TWActivityGetCommand()) return command;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return TWSUCCESS;
}

// Bounded too, so that a run nobody kills cannot outlive its test for long.
constexpr int kDeafSteps = 6000;

void IgnoreClose() {
  for (int i = 0; i < kDeafSteps; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

uint32_t Count() {
  int32_t counter = 0;
  TWActivityGetPropertyInt(kCounter, &counter);
  ++counter;
  return TWActivitySetPropertyInt(kCounter, &counter);
}

uint32_t RunTargets() {
  flowcore::StreamData targets;
  uint32_t st = TWActivityGetPropertyStream(kTargets, TWSTREAMFMT_TEXT_LIST, targets.get());
  if (st == TWSUCCESS) st = TWActivityRunActivity(targets.get(), TWACTRUNF_SYNCHRONOUS, nullptr);
  return st;
}

uint32_t FetchRows(TWCONNECT link) {
  flowcore::FieldlistPtr rows;
  uint32_t st = TWFieldlistAlloc(flowcore::Out(rows), 4, 0);
  int32_t total = 0;
  uint32_t count = 0;
  if (st == TWSUCCESS) st = TWConnectExecute(link, nullptr, rows.get(), &count);
  while (st == TWSUCCESS) {
    st = TWConnectFetch(link, rows.get(), 1, 4, &count);
    if (st == TWSUCCESS || st == TWFAIL_END_OF_DATA) total += static_cast<int32_t>(count);
  }
  if (st == TWFAIL_END_OF_DATA) st = TWActivitySetPropertyInt(kCounter, &total);
  return st;
}

uint32_t FetchLink() {
  flowcore::ConnectPtr link;
  uint32_t st = TWConnectAlloc(flowcore::Out(link), TWTOKENF_SRC, nullptr);
  if (st == TWSUCCESS) st = TWConnectConnect(link.get());
  if (st == TWSUCCESS) st = FetchRows(link.get());
  const uint32_t ended = flowcore::EndConnection(link);
  return st != TWSUCCESS ? st : ended;
}

uint32_t LeaveLink() {
  TWCONNECT link = TWNULLHANDLE;
  uint32_t st = TWConnectAlloc(&link, TWTOKENF_SRC, nullptr);
  if (st == TWSUCCESS) st = TWConnectConnect(link);
  return st;
}

uint32_t Launch() {
  int32_t mode = kJustReturn;
  TWActivityGetPropertyInt(kMode, &mode);
  uint32_t st = TWSUCCESS;
  switch (mode) {
    case kLogToken: {
      int32_t status = TWFAIL_MISSING_PROPERTY;
      TWActivityGetPropertyInt(kResult, &status);
      st =
          TWActivityLogEx(static_cast<uint32_t>(status), kTargets, 0, 0, nullptr, nullptr, nullptr);
      break;
    }
    case kAwaitClose:
      st = AwaitClose();
      break;
    case kCount:
      st = Count();
      break;
    case kRunTargets:
      st = RunTargets();
      break;
    case kFetchLink:
      st = FetchLink();
      break;
    case kIgnoreClose:
      IgnoreClose();
      break;
    case kLeaveLink:
      st = LeaveLink();
      break;
    default:
      break;
  }
  if (st != TWSUCCESS) return st;
  int32_t result = 0;
  TWActivityGetPropertyInt(kResult, &result);
  return static_cast<uint32_t>(result);
}

}  // namespace

TWX_ACTIVITY(kIdentity, Launch)

#endif  // TW_TESTS_FLOWCORE_TESTACT_ACTIVITY_H_
