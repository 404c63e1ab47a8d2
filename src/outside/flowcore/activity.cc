// The current activity's life: made for the runner from its run-table entry or for a program
// by name, launched through its plug-in, ended; its close request and its runs of others.
#include "activity.h"

#include <atomic>
#include <cstring>
#include <utility>

#include "activity_state.h"
#include "csmgr_records.h"
#include "markup.h"
#include "platform.h"
#include "plugin.h"
#include "tw/coding.h"
#include "tw/guard.h"

namespace tw::engine::act {

std::recursive_mutex& Mutex() {
  static std::recursive_mutex mutex;
  return mutex;
}

std::unique_ptr<Activity>& Current() {
  static std::unique_ptr<Activity> current;
  return current;
}

std::map<std::string, FieldPtr>& SystemStore() {
  static std::map<std::string, FieldPtr> store;
  return store;
}

std::string Folded(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

uint32_t StreamText(const TWStream* stream, std::string* out) {
  if (stream == nullptr || stream->length == 0 || stream->data == nullptr) {
    out->clear();
    return TWSUCCESS;
  }
  flowcore::StreamData text;
  if (uint32_t st = TWStreamDataConvert(text.get(), stream, TWCONVERTF_FORCE_TEXT,
                                        TWSTREAMFMT_NATIVE, nullptr, nullptr))
    return st;
  *out = text.view();
  return TWSUCCESS;
}

uint32_t PutText(TWStream* dest, std::string_view text) {
  if (dest == nullptr) return TWFAIL_NULL_RESULT;
  return TWStreamDataSet(dest, TWSTREAMFMT_NATIVE, text.data(), static_cast<uint32_t>(text.size()));
}

}  // namespace tw::engine::act

namespace tw::engine {
namespace {

using act::Activity;
using act::Current;
using act::Mutex;

constexpr uint32_t kMaxNameBytes = 4096;

// The run-table entry of the current activity (null for a program's), published for
// CloseStatus: the verbs ask it once per record block and take no lock for it. The runner
// maps its run table for the whole run, so an entry read just as the activity ends is still
// there to read.
std::atomic<MsgTblEntry*> gCloseEntry{nullptr};

// The activity library the description names (TWTOKEN_LIBRARY as text); "" when none.
std::string LibraryOf(const Description& description) {
  for (const Property& p : description) {
    if (p.token != TWTOKEN_LIBRARY || !p.value || TWFieldIsNull(p.value.get(), 1)) continue;
    flowcore::StreamData text(TWSTREAMFMT_NATIVE);
    if (TWFieldGetStream(p.value.get(), 1, TWSTREAMFMT_NATIVE, text.get(), nullptr) != TWSUCCESS)
      return {};
    return std::string(text.view());
  }
  return {};
}

// The name of TWActivityAlloc as native text. The caller promises a terminator; the scan is
// bounded all the same.
[[nodiscard]] uint32_t NameText(const void* name, uint32_t format, std::string* out) {
  out->clear();
  if (name == nullptr) return TWSUCCESS;
  const auto* bytes = static_cast<const unsigned char*>(name);
  TWStream source{};
  if (format == TWSTREAMFMT_UNICODE) {
    uint32_t n = 0;
    while (n + 2 <= kMaxNameBytes && tw::get_u16(bytes + n) != 0) n += 2;
    source.length = n;
  } else {
    source.length = static_cast<uint32_t>(strnlen(static_cast<const char*>(name), kMaxNameBytes));
    if (format == 0) format = TWSTREAMFMT_NATIVE;
  }
  if (source.length == 0) return TWSUCCESS;
  if (format == TWSTREAMFMT_NATIVE || format == TWSTREAMFMT_QMBCS) {
    out->assign(reinterpret_cast<const char*>(bytes), source.length);
    return TWSUCCESS;
  }
  source.format = format;
  source.data = const_cast<unsigned char*>(bytes);
  return act::StreamText(&source, out);
}

// Ends the current activity: its connections, its counts, its link descriptions and its
// plug-in; with reportDone a named activity's run is reported done.
[[nodiscard]] uint32_t EndCurrent(bool reportDone) {
  int32_t handle = 0;
  uint32_t status = 0;
  {
    std::lock_guard lock(Mutex());
    Activity* a = Current().get();
    if (a == nullptr) return TWFAIL_ACTIVITY_NOT_INIT;
    // Ending from inside TWXLaunch would unload the code that is running.
    if (a->busy) return TWFAIL_UNAVAILABLE;
    a->busy = true;
    handle = a->handle;
    status = a->status;
  }
  // A connection the plug-in left open ends here, its final commit with it: a failure is the
  // ending's answer, as the plug-in would have had it.
  uint32_t first = FreeAllConnections(status != 0 ? 1u : 0u);
  int32_t counts[CSMGR_LOG_COUNTS] = {};
  EntryCounts(counts);
  std::unique_ptr<Activity> gone;
  {
    std::lock_guard lock(Mutex());
    gone = std::move(Current());
    gCloseEntry.store(nullptr, std::memory_order_release);
  }
  ForgetLinkDescriptions();
  if (handle != 0) {
    counts[0] = gone->failures;
    uint32_t st = CSMgrLogCounts(handle, counts);
    if (first == TWSUCCESS) first = st;
  }
  UnloadActivityPlugin(gone->plugin);
  if (reportDone && gone->named) {
    uint32_t st =
        CSMgrDoneActivity(handle, gone->status != 0 ? TWMSG_COMPLETION_ENDED_WITH_ERROR : 0u);
    if (first == TWSUCCESS) first = st;
  }
  return first;
}

// Clears an activity's busy mark on every way out of a launch.
class BusyMark {
 public:
  explicit BusyMark(Activity* a) : a_(a) {}
  ~BusyMark() {
    std::lock_guard lock(Mutex());
    a_->busy = false;
  }
  BusyMark(const BusyMark&) = delete;
  BusyMark& operator=(const BusyMark&) = delete;

 private:
  Activity* a_;
};

[[nodiscard]] uint32_t Install(std::unique_ptr<Activity> a) {
  std::lock_guard lock(Mutex());
  if (Current()) return TWFAIL_UNAVAILABLE;
  gCloseEntry.store(a->entry, std::memory_order_release);
  Current() = std::move(a);
  return TWSUCCESS;
}

bool HasCurrent() {
  std::lock_guard lock(Mutex());
  return Current() != nullptr;
}

bool StopTimePassed(const TWDatetime* stopTime) {
  if (stopTime == nullptr || TWDatetimeGetJulian(stopTime) == TWDTNULL_DATE) return false;
  TWDatetime now{};
  int32_t order = 0;
  if (TWDatetimeSetCurrent(&now) != TWSUCCESS) return false;
  if (TWDatetimeCompare(&now, stopTime, &order) != TWSUCCESS) return false;
  return order >= 0;
}

// Waits about a second for the runs, watching the close request meanwhile.
[[nodiscard]] uint32_t PauseWatchingClose() {
  for (int i = 0; i < 10; ++i) {
    if (uint32_t command = CloseStatus()) return command;
    TWKeyboardSleep();
  }
  return CloseStatus();
}

}  // namespace

bool HasActivity() {
  return HasCurrent();
}

uint32_t CloseStatus() {
  MsgTblEntry* entry = gCloseEntry.load(std::memory_order_acquire);
  if (entry == nullptr) return TWSUCCESS;
  switch (__atomic_load_n(&entry->closeRequest, __ATOMIC_ACQUIRE)) {
    case TWCLOSE_REQUESTED:
      return TWFAIL_CLOSE_REQUESTED;
    case TWCLOSE_TIMEOUT:
      return TWFAIL_CLOSE_TIMEOUT;
    default:
      return TWSUCCESS;
  }
}

uint32_t ActivityStatus() {
  std::lock_guard lock(Mutex());
  return Current() ? Current()->status : 0u;
}

const TWFieldImpl* ActivityValue(uint32_t token) {
  std::lock_guard lock(Mutex());
  return Current() ? act::OwnValue(*Current(), token) : nullptr;
}

const Plugin* ActivityPlugin() {
  std::lock_guard lock(Mutex());
  return Current() ? Current()->plugin : nullptr;
}

std::string AddedPropertyName(uint32_t token) {
  std::lock_guard lock(Mutex());
  if (!Current()) return {};
  const act::Added* added = act::FindAdded(*Current(), token);
  return added ? added->name : std::string();
}

void EndActivity() {
  // At shutdown nobody is left to take the ending's status.
  if (HasCurrent()) (void)EndCurrent(/*reportDone=*/false);
  std::lock_guard lock(Mutex());
  act::SystemStore().clear();
}

}  // namespace tw::engine

using namespace tw::engine;

extern "C" {

TW_API uint32_t TWActivityInit(MsgTblEntry* entry) {
  return tw::guard([&]() -> uint32_t {
    if (!SystemStarted()) return TWFAIL_TWXINIT;
    if (entry == nullptr) return TWFAIL_NULL_BUFFER;
    int32_t handle = __atomic_load_n(&entry->handle, __ATOMIC_ACQUIRE);
    if (handle == 0) return TWFAIL_INVALID_ACTIVITY_ID;
    if (HasCurrent()) return TWFAIL_UNAVAILABLE;
    auto a = std::make_unique<Activity>();
    if (uint32_t st = FetchDescription(handle, &a->description)) return st;
    if (LibraryOf(a->description).empty()) return TWFAIL_INVALID_ACTIVITY_DEF;
    a->entry = entry;
    a->handle = handle;
    a->hasDocument = true;
    TWIntlFormat intl{};
    if (KeptInternational(&intl)) TWPlatSetIntlFormat(&intl);
    return Install(std::move(a));
  });
}

TW_API uint32_t TWActivityLaunch(void) {
  return tw::guard([&]() -> uint32_t {
    if (!SystemStarted()) return TWFAIL_TWXINIT;
    Activity* a = nullptr;
    std::string library;
    {
      std::lock_guard lock(Mutex());
      a = Current().get();
      if (a == nullptr) return TWFAIL_ACTIVITY_NOT_INIT;
      if (a->busy || a->launched) return TWFAIL_UNAVAILABLE;
      library = LibraryOf(a->description);
      if (library.empty()) return TWActivityLog(TWFAIL_INVALID_ACTIVITY_DEF);
      // Holds the activity in place: it cannot be ended while its plug-in runs.
      a->busy = true;
    }
    BusyMark mark(a);
    const Plugin* plugin = nullptr;
    uint32_t st = LoadActivityPlugin(library, &plugin);
    if (st != TWSUCCESS) {
      TWStream name{0, 0, TWSTREAMFMT_NATIVE, static_cast<uint32_t>(library.size()),
                    library.data()};
      return TWActivityLogEx(st, 0, 0, 0, &name, nullptr, nullptr);
    }
    {
      std::lock_guard lock(Mutex());
      a->plugin = plugin;
    }
    st = LaunchPlugin(*plugin);
    std::lock_guard lock(Mutex());
    a->launched = true;
    return st;
  });
}

TW_API uint32_t TWActivityTerm(void) {
  return tw::guard([&]() -> uint32_t {
    if (!SystemStarted()) return TWFAIL_TWXINIT;
    return EndCurrent(/*reportDone=*/false);
  });
}

TW_API uint32_t TWActivityAlloc(uint32_t flags, const void* name, uint32_t format) {
  return tw::guard([&]() -> uint32_t {
    if (!SystemStarted()) return TWFAIL_TWXINIT;
    if (HasCurrent()) return TWFAIL_UNAVAILABLE;
    std::string text;
    if (uint32_t st = NameText(name, format, &text)) return st;
    auto a = std::make_unique<Activity>();
    if (!text.empty()) {
      TWStream stream{0, 0, TWSTREAMFMT_NATIVE, static_cast<uint32_t>(text.size()), text.data()};
      int32_t handle = 0;
      if (uint32_t st = CSMgrOpenActivity(&handle, &stream, CSMGR_OPENF_MAY_BE_MISSING)) return st;
      a->named = true;
      a->handle = handle;
      // A slot without a document has no description: the activity starts without
      // properties.
      a->hasDocument = FetchDescription(handle, &a->description) == TWSUCCESS;
    }
    int32_t handle = a->handle;
    uint32_t st = Install(std::move(a));
    if (st != TWSUCCESS && handle != 0) CSMgrDoneActivity(handle, 0);
    return st;
  });
}

TW_API uint32_t TWActivityFree(void) {
  return tw::guard([&]() -> uint32_t {
    if (!SystemStarted()) return TWFAIL_TWXINIT;
    return EndCurrent(/*reportDone=*/true);
  });
}

TW_API uint32_t TWActivityGetCommand(void) {
  return tw::guard([&] { return CloseStatus(); });
}

TW_API uint32_t TWActivityRunActivity(const TWStream* activityList, uint32_t flags,
                                      const TWDatetime* stopTime) {
  return tw::guard([&]() -> uint32_t {
    if (!SystemStarted()) return TWFAIL_TWXINIT;
    if (activityList == nullptr) return TWFAIL_NULL_BUFFER;
    if ((flags & ~static_cast<uint32_t>(TWACTRUNF_SYNCHRONOUS)) != 0) return TWFAIL_INVALID_FLAGS;
    bool sync = (flags & TWACTRUNF_SYNCHRONOUS) != 0;
    int32_t handle = 0;
    {
      std::lock_guard lock(Mutex());
      if (!Current()) return TWFAIL_ACTIVITY_NOT_INIT;
      handle = Current()->handle;
    }
    if (uint32_t st = CSMgrRunActivity(sync ? handle : 0, activityList)) return st;
    if (!sync) return TWSUCCESS;
    // An unnamed activity has nothing to wait on.
    if (handle == 0) return TWFAIL_NO_ACTIVITY_DOC;
    for (;;) {
      int32_t finished = 0;
      if (uint32_t st = CSMgrDoneRun(handle, &finished)) return st;
      if (finished != 0) return TWSUCCESS;
      if (uint32_t command = CloseStatus()) return command;
      if (StopTimePassed(stopTime)) return TWFAIL_ACTRUN_TIMEOUT;
      if (uint32_t command = PauseWatchingClose()) return command;
    }
  });
}

TW_API uint32_t TWActivityListLink(uint32_t list, uint32_t* linkCode, TWStream* library) {
  return tw::guard([&]() -> uint32_t {
    if (!SystemStarted()) return TWFAIL_TWXINIT;
    uint32_t code = 0;
    std::string name;
    if (uint32_t st = ListLinkLibrary(list, &code, &name)) return st;
    if (library != nullptr)
      if (uint32_t st = act::PutText(library, name)) return st;
    if (linkCode != nullptr) *linkCode = code;
    return TWSUCCESS;
  });
}

TW_API uint32_t TWActivityLookupLink(const TWStream* library, uint32_t* linkCode) {
  return tw::guard([&]() -> uint32_t {
    if (!SystemStarted()) return TWFAIL_TWXINIT;
    if (library == nullptr) return TWFAIL_NULL_BUFFER;
    if (linkCode == nullptr) return TWFAIL_NULL_RESULT;
    std::string name;
    if (uint32_t st = act::StreamText(library, &name)) return st;
    uint32_t code = 0;
    if (uint32_t st = LookupLinkLibrary(name, &code)) return st;
    *linkCode = code;
    return TWSUCCESS;
  });
}

}  // extern "C"
