// The control-store calls of twengine.h (CSMgr*): argument checks, text conversion between
// the caller's streams and QMBCS, start-up of the manager, and the international record kept
// from the last ServerInit for the activity layer.
#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "csmgr_client.h"
#include "csmgr_records.h"
#include "csmgr_wire.h"
#include "flowcore.h"
#include "platform.h"
#include "tw/guard.h"

namespace tw::engine {
namespace {

namespace cs = tw::engine::csmgr;

// How long CSMgrStartup waits for a started manager to serve the pipe.
constexpr auto kStartupWait = std::chrono::seconds(90);

struct Kept {
  std::mutex mu;
  std::optional<TWIntlFormat> intl;
};

Kept& KeptState() {
  static Kept kept;
  return kept;
}

void Keep(const TWIntlFormat* intl) {
  Kept& k = KeptState();
  std::lock_guard<std::mutex> lock(k.mu);
  if (intl != nullptr)
    k.intl = *intl;
  else
    k.intl.reset();
}

// The caller's text as QMBCS; a null stream is the empty text.
[[nodiscard]] uint32_t ToQmbcs(const TWStream* text, std::string* out) {
  if (text == nullptr) {
    out->clear();
    return 0;
  }
  if (text->length != 0 && text->data == nullptr) return TWFAIL_NULL_BUFFER;
  flowcore::StreamData q;
  if (uint32_t st = TWStreamDataConvert(q.get(), text, 0, TWSTREAMFMT_QMBCS, nullptr, nullptr))
    return st;
  *out = std::string(q.view());
  return 0;
}

// Text the manager sent (QMBCS, which is the native set here) into the caller's stream,
// keeping its maxLength and flags.
[[nodiscard]] uint32_t ToNative(const std::string& text, TWStream* dest) {
  return TWStreamDataSet(dest, TWSTREAMFMT_NATIVE, text.data(), static_cast<uint32_t>(text.size()));
}

[[nodiscard]] uint32_t FillSettings(const cs::ServerInfo& info, CSMgrServerSettings* settings) {
  if (uint32_t st = ToNative(info.serverName, &settings->serverName)) return st;
  settings->serverId = info.serverId;
  settings->statusInterval = info.statusInterval;
  settings->pollInterval = info.pollInterval;
  settings->maxDuration = info.maxDuration;
  settings->maxActivities = info.maxActivities;
  settings->closeTimeout = info.closeTimeout;
  settings->startTime = info.time;
  return 0;
}

uint32_t ServerInit(bool reread, CSMgrServerSettings* settings) {
  cs::ServerInfo info;
  if (uint32_t st = cs::ServerInit(reread, &info)) return st;
  if (settings != nullptr) {
    if (uint32_t st = FillSettings(info, settings)) return st;
  }
  Keep(&info.intl);
  return 0;
}

[[nodiscard]] uint32_t Startup() {
  if (TWIPCExists(tw::csmgr::kPipeName, 90)) return 0;
  // Without an installation directory there is no program to start (nor a pipe to find).
  if (*TWFileExeDir() == '\0') return TWFAIL_PROCESS_EXEC;
  TWProcProcess* process = nullptr;
  if (TWProcShellExec("ctlstore", &process, 0, 0) != 0 || process == nullptr)
    return TWFAIL_PROCESS_EXEC;
  struct Release {
    TWProcProcess* p;
    ~Release() { TWProcProcessFree(p); }
  } release{process};
  const auto deadline = std::chrono::steady_clock::now() + kStartupWait;
  for (;;) {
    if (TWIPCExists(tw::csmgr::kPipeName, 90)) return 0;
    // A manager that ended (it found another, or failed) will never serve; one killed by a
    // signal reads as still running and is waited for until the deadline.
    if (TWProcProcessExitCode(process) >= 0) break;
    if (std::chrono::steady_clock::now() >= deadline) break;
    TWKeyboardSleep();
  }
  return TWIPCExists(tw::csmgr::kPipeName, 90) ? 0 : TWFAIL_CSMGR_UNREACHABLE;
}

// Records as the caller gave them, made complete: through their end record, or with the end
// record (or its last byte) appended when every record is whole.
[[nodiscard]] uint32_t CompleteRecords(const TWStream* records, std::string* out) {
  if (records->length != 0 && records->data == nullptr) return TWFAIL_NULL_BUFFER;
  std::string_view bytes =
      records->data == nullptr
          ? std::string_view{}
          : std::string_view(static_cast<const char*>(records->data), records->length);
  size_t length = 0;
  if (MeasureRecords(bytes, &length)) {
    *out = std::string(bytes.substr(0, length));
    return 0;
  }
  std::string whole(bytes);
  AppendEndRecord(&whole);
  if (!MeasureRecords(whole, &length) || length <= bytes.size()) return TWFAIL_INVALID_STREAM;
  whole.resize(length);
  *out = std::move(whole);
  return 0;
}

}  // namespace

bool KeptInternational(TWIntlFormat* out) {
  Kept& k = KeptState();
  std::lock_guard<std::mutex> lock(k.mu);
  if (!k.intl || out == nullptr) return false;
  *out = *k.intl;
  return true;
}

}  // namespace tw::engine

namespace cs = tw::engine::csmgr;
namespace wire = tw::csmgr;

extern "C" {

TW_API uint32_t CSMgrStartup(void) {
  return tw::guard([] { return tw::engine::Startup(); });
}

TW_API uint32_t CSMgrInit(CSMgrServerSettings* settings) {
  return tw::guard([&]() -> uint32_t {
    if (uint32_t st = cs::Bare(wire::code::kInit)) return st;
    return tw::engine::ServerInit(false, settings);
  });
}

TW_API uint32_t CSMgrServerInfo(CSMgrServerSettings* settings) {
  return tw::guard([&]() -> uint32_t {
    if (settings == nullptr) return TWFAIL_NULL_RESULT;
    return tw::engine::ServerInit(true, settings);
  });
}

TW_API uint32_t CSMgrServerState(int32_t state) {
  return tw::guard([&] { return cs::ServerState(state); });
}

TW_API uint32_t CSMgrNextActivity(CSMgrNextActivityRecord* next) {
  return tw::guard([&]() -> uint32_t {
    if (next == nullptr) return TWFAIL_NULL_RESULT;
    cs::NextRun run;
    if (uint32_t st = cs::NextActivity(&run)) return st;
    if (uint32_t st = tw::engine::ToNative(run.name, &next->activityName)) return st;
    next->activityHandle = run.handle;
    next->maxDuration = run.maxDuration;
    next->priority = run.priority;
    next->startTime = run.time;
    return 0;
  });
}

TW_API uint32_t CSMgrDoneActivity(int32_t handle, uint32_t completion) {
  return tw::guard([&] { return cs::DoneActivity(handle, completion); });
}

TW_API uint32_t CSMgrOpenActivity(int32_t* handle, const TWStream* name, uint32_t flags) {
  return tw::guard([&]() -> uint32_t {
    if (handle == nullptr) return TWFAIL_NULL_RESULT;
    if (name == nullptr) return TWFAIL_NULL_BUFFER;
    std::string text;
    if (uint32_t st = tw::engine::ToQmbcs(name, &text)) return st;
    return cs::OpenActivity(text, flags, handle);
  });
}

TW_API uint32_t CSMgrLog(int32_t handle, uint32_t messageId, const TWStream* text) {
  return tw::guard([&]() -> uint32_t {
    std::string line;
    if (uint32_t st = tw::engine::ToQmbcs(text, &line)) return st;
    return cs::LogText(handle, messageId, line);
  });
}

TW_API uint32_t CSMgrLogCounts(int32_t handle, const int32_t counts[CSMGR_LOG_COUNTS]) {
  return tw::guard([&]() -> uint32_t {
    if (counts == nullptr) return TWFAIL_NULL_BUFFER;
    return cs::LogCounts(handle, counts);
  });
}

TW_API uint32_t CSMgrTime(TWDatetime* now) {
  return tw::guard([&]() -> uint32_t {
    if (now == nullptr) return TWFAIL_NULL_RESULT;
    return cs::Time(now);
  });
}

TW_API uint32_t CSMgrAdjustClock(const CSMgrClockAdjustment* adjustment) {
  return tw::guard([&]() -> uint32_t {
    if (adjustment == nullptr) return TWFAIL_NULL_BUFFER;
    return cs::AdjustClock(*adjustment);
  });
}

TW_API uint32_t CSMgrGetDescription(int32_t handle, TWStream* records) {
  return tw::guard([&]() -> uint32_t {
    if (records == nullptr) return TWFAIL_NULL_RESULT;
    std::string list;
    if (uint32_t st = cs::GetDescription(handle, &list)) return st;
    return TWStreamDataSet(records, TWSTREAMFMT_BLOB, list.data(),
                           static_cast<uint32_t>(list.size()));
  });
}

TW_API uint32_t CSMgrPutDescription(int32_t handle, const TWStream* records) {
  return tw::guard([&]() -> uint32_t {
    if (records == nullptr) return TWFAIL_NULL_BUFFER;
    std::string list;
    if (uint32_t st = tw::engine::CompleteRecords(records, &list)) return st;
    return cs::PutDescription(handle, list);
  });
}

TW_API uint32_t CSMgrGetField(int32_t handle, const char* itemName, TWStream* value) {
  return tw::guard([&]() -> uint32_t {
    if (itemName == nullptr) return TWFAIL_NULL_BUFFER;
    if (value == nullptr) return TWFAIL_NULL_RESULT;
    std::string text;
    if (uint32_t st = cs::GetField(handle, itemName, &text)) return st;
    return tw::engine::ToNative(text, value);
  });
}

TW_API uint32_t CSMgrPutField(int32_t handle, const char* itemName, const TWStream* value) {
  return tw::guard([&]() -> uint32_t {
    if (itemName == nullptr) return TWFAIL_NULL_BUFFER;
    std::string text;
    if (uint32_t st = tw::engine::ToQmbcs(value, &text)) return st;
    return cs::PutField(handle, itemName, text);
  });
}

TW_API uint32_t CSMgrRunActivity(int32_t waiter, const TWStream* names) {
  return tw::guard([&]() -> uint32_t {
    std::string list;
    if (uint32_t st = tw::engine::EncodeTextList(names, &list)) return st;
    return cs::RunActivity(waiter, list);
  });
}

TW_API uint32_t CSMgrDoneRun(int32_t waiter, int32_t* finished) {
  return tw::guard([&]() -> uint32_t {
    if (finished == nullptr) return TWFAIL_NULL_RESULT;
    bool done = false;
    if (uint32_t st = cs::DoneRun(waiter, &done)) return st;
    *finished = done ? 1 : 0;
    return 0;
  });
}

TW_API uint32_t CSMgrGetID(uint32_t kind, const TWStream* name, int32_t* documentId) {
  return tw::guard([&]() -> uint32_t {
    if (name == nullptr) return TWFAIL_NULL_BUFFER;
    if (documentId == nullptr) return TWFAIL_NULL_RESULT;
    std::string text;
    if (uint32_t st = tw::engine::ToQmbcs(name, &text)) return st;
    return cs::GetID(kind, text, documentId);
  });
}

TW_API uint32_t CSMgrTerm(void) {
  return tw::guard([] {
    tw::engine::Keep(nullptr);
    return cs::Bare(wire::code::kTerm);
  });
}

TW_API uint32_t CSMgrShutdown(void) {
  return tw::guard([] { return cs::Bare(wire::code::kShutdown); });
}

}  // extern "C"
