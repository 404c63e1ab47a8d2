// The activity runner: runs one activity in a process of its own, either for the server's
// run-table entry of activity handle N ("taskrun =N") or by the activity's name with
// optional values. Built a second time as webrun (TW_RUNNER_MODE 1), the web gateway, which
// also takes the activity's properties from a web server's CGI request.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "catalogue.h"
#include "cgi_input.h"
#include "flowcore.h"
#include "flowcore_ptr.h"
#include "platform.h"
#include "tw/coding.h"
#include "tw/guard.h"
#include "twengine.h"

#ifndef TW_RUNNER_MODE
#define TW_RUNNER_MODE 0
#endif

namespace {

using tw::server::CgiProperty;

constexpr int kModeCgi = 1;

constexpr size_t kLogTextSize = 256;
constexpr size_t kCloseWord = 4;   // byte offset of CloseRequest in a run-table entry
constexpr size_t kResultWord = 8;  // byte offset of Result in a run-table entry

using Stream = flowcore::StreamData;
using Field = flowcore::FieldPtr;
using Fieldlist = flowcore::FieldlistPtr;

// The handle of "=N": N in decimal, positive and without overflow; anything else names no
// entry (0), so that a free entry (Handle 0) is never taken for a run.
int32_t HandleOf(const char* arg) {
  if (arg[0] != '=' || arg[1] == '\0') return 0;
  int64_t value = 0;
  for (const char* p = arg + 1; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return 0;
    value = value * 10 + (*p - '0');
    if (value > INT32_MAX) return 0;
  }
  return static_cast<int32_t>(value);
}

// The server's run table, mapped for the life of the run.
class MappedRunTable {
 public:
  MappedRunTable() = default;
  ~MappedRunTable() { Unmap(); }
  MappedRunTable(const MappedRunTable&) = delete;
  MappedRunTable& operator=(const MappedRunTable&) = delete;

  // The first entry whose Handle is handle; null when the table is missing or holds none.
  MsgTblEntry* Find(int32_t handle) {
    base_ = static_cast<unsigned char*>(TWProcShmemMap(TWMSGTBL_SIZE, TWMSGTBL_NAME, &shmem_));
    if (base_ == nullptr) return nullptr;
    uint32_t entries = TWProcShmemGetSize(&shmem_) / TWMSGTBL_ENTRY_SIZE;
    if (entries > TWMSGTBL_ENTRIES) entries = TWMSGTBL_ENTRIES;
    for (uint32_t i = 0; i < entries; ++i) {
      unsigned char* entry = base_ + TWMSGTBL_ENTRY_SIZE * i;
      if (tw::get_i32(entry) == handle) return reinterpret_cast<MsgTblEntry*>(entry);
    }
    Unmap();
    return nullptr;
  }
  void Unmap() {
    if (base_ != nullptr) TWProcShmemUnmap(&shmem_);
    base_ = nullptr;
  }

 private:
  TWProcShmem shmem_{};
  unsigned char* base_ = nullptr;
};

// Result is read by the server in another process: one whole little-endian word.
void StoreResult(MsgTblEntry* entry, uint32_t result) {
  unsigned char bytes[4];
  tw::put_u32(bytes, result);
  uint32_t word;
  std::memcpy(&word, bytes, sizeof word);
  auto* p = reinterpret_cast<uint32_t*>(reinterpret_cast<unsigned char*>(entry) + kResultWord);
  std::atomic_ref<uint32_t>(*p).store(word);
}

// Native text converted to the QMBCS character set.
[[nodiscard]] uint32_t ToQmbcs(std::string_view native, std::string* out) {
  Stream in, converted;
  if (uint32_t st = in.Set(TWSTREAMFMT_NATIVE, native)) return st;
  if (uint32_t st =
          TWStreamDataConvert(converted.get(), in.get(), 0, TWSTREAMFMT_QMBCS, nullptr, nullptr))
    return st;
  out->assign(converted.view());
  return TWSUCCESS;
}

// A property value: one QMBCS text, or a text list of several.
[[nodiscard]] uint32_t ValueStream(const std::vector<std::string>& values, Stream* value,
                                   uint32_t* format) {
  if (values.size() == 1) {
    *format = TWSTREAMFMT_QMBCS;
    return value->Set(TWSTREAMFMT_QMBCS, values[0]);
  }
  std::string list;
  if (uint32_t st = tw::server::EncodeTextList(values, &list)) return st;
  *format = TWSTREAMFMT_TEXT_LIST;
  return value->Set(TWSTREAMFMT_TEXT_LIST, list);
}

[[nodiscard]] uint32_t AddDynamicProperty(TWStream* name, TWFIELD value) {
  uint32_t token = 0;
  if (uint32_t st = TWActivityAddProperty(name, TWPROPSTORE_DYNAMIC, &token)) return st;
  return TWActivitySetProperty(token, value);
}

// The values after the activity's name: one text, or a text list of all of them, as the
// property with the empty name.
[[nodiscard]] uint32_t SetArgumentProperty(int argc, char** argv) {
  TWFIELD raw = TWNULLHANDLE;
  uint32_t st = TWFieldAlloc(&raw, TWTYPE_TEXT, 1);
  Field field(raw);
  if (st != TWSUCCESS) return st;
  Stream value;
  if (argc == 3) {
    st = value.Set(TWSTREAMFMT_NATIVE, argv[2]);
  } else {
    std::vector<std::string> entries(static_cast<size_t>(argc - 2));
    for (int i = 2; i < argc && st == TWSUCCESS; ++i) st = ToQmbcs(argv[i], &entries[i - 2]);
    std::string list;
    if (st == TWSUCCESS) st = tw::server::EncodeTextList(entries, &list);
    if (st == TWSUCCESS) st = value.Set(TWSTREAMFMT_TEXT_LIST, list);
  }
  if (st == TWSUCCESS) st = TWFieldSetStream(field.get(), 1, value.get());
  Stream name;
  if (st == TWSUCCESS) st = name.Set(TWSTREAMFMT_NATIVE, "");
  if (st == TWSUCCESS) st = AddDynamicProperty(name.get(), field.get());
  return st;
}

// Each property of the request becomes a dynamic property of the activity: a text field, or
// a text list when the name came more than once.
[[nodiscard]] uint32_t SetCgiProperties(const std::vector<CgiProperty>& properties) {
  if (properties.empty()) return TWSUCCESS;
  TWFIELDLIST raw = TWNULLHANDLE;
  uint32_t st = TWFieldlistAlloc(&raw, 1, 0);
  Fieldlist list(raw);
  if (st != TWSUCCESS) return st;
  for (const CgiProperty& p : properties) {
    std::vector<std::string> values(p.values.size());
    for (size_t i = 0; i < values.size(); ++i)
      if ((st = ToQmbcs(p.values[i], &values[i]))) return st;
    Stream name, value;
    uint32_t format = 0;
    if ((st = name.Set(TWSTREAMFMT_NATIVE, p.name))) return st;
    if ((st = ValueStream(values, &value, &format))) return st;
    TWFIELD field = TWNULLHANDLE;
    if ((st = TWFieldlistAppend(list.get(), name.get(), TWTYPE_TEXT, &field))) return st;
    if ((st = TWFieldSetFormatStream(field, 0, 0, format))) return st;
    if ((st = TWFieldSetStream(field, 1, value.get()))) return st;
  }
  if ((st = TWFieldlistListSetup(list.get(), TWSTREAMFMT_QMBCS))) return st;
  for (;;) {
    TWFIELD field = TWNULLHANDLE;
    Stream name;
    st = TWFieldlistList(list.get(), &field, nullptr, nullptr, nullptr, name.get());
    if (st == TWFAIL_END_OF_DATA) return TWSUCCESS;
    if (st != TWSUCCESS) return st;
    if ((st = AddDynamicProperty(name.get(), field))) return st;
  }
}

// The text a failure is logged with: its catalogue text, markup left out, cut to fit.
std::string StatusText(uint32_t status) {
  Stream text;
  std::string out = TWActivityGetStatusStream(status, text.get()) == TWSUCCESS
                        ? std::string(text.view())
                        : tw::message_text(status);
  if (out.size() > kLogTextSize - 1) out.resize(kLogTextSize - 1);
  return out;
}

void Print(FILE* file, std::string_view text) {
  TWFileWrite(file, static_cast<uint32_t>(text.size()), text.data());
  std::fflush(file);
}

// How long a run whose server is gone may take to close before its process ends itself, in
// seconds; 0: no limit. The server's kill would have come after CloseTimeout. Besides, every
// other server of the Administrator database takes the runs of a server over, and may start
// them again, once that server's last "still active" report is four status intervals old: as
// little as three intervals after its end. A run ends within one interval, so that it never
// overlaps with a run started elsewhere, even with CloseTimeout 0 (no kill).
int64_t EndLimitSeconds(int32_t closeTimeoutSeconds, int32_t statusIntervalMinutes) {
  int64_t limit = closeTimeoutSeconds > 0 ? closeTimeoutSeconds : 0;
  if (statusIntervalMinutes > 0) {
    const int64_t interval = int64_t{statusIntervalMinutes} * 60;
    if (limit == 0 || interval < limit) limit = interval;
  }
  return limit;
}

// The server that started this run. Once it is gone nobody closes, kills or reports the run
// any more, so the run closes itself as a stop of the server would close it; when it has not
// ended within EndLimitSeconds the process ends itself, as the server's kill would have ended
// it. The next server that looks (its own, started again, or another's dead-server check)
// records the run's end.
class ServerWatch {
 public:
  ServerWatch() = default;
  ~ServerWatch() { Stop(); }
  ServerWatch(const ServerWatch&) = delete;
  ServerWatch& operator=(const ServerWatch&) = delete;

  // Starts watching for the run of entry; a watch that cannot be set up is left out (the run
  // goes on as before, supervised only while its server lives).
  void Start(MsgTblEntry* entry, int64_t limitSeconds) {
    if (TWProcParentWatchOpen(&watch_) != TWSUCCESS) {
      watch_ = nullptr;
      return;
    }
    try {
      thread_ = std::thread([this, entry, limitSeconds] { Watch(entry, limitSeconds); });
    } catch (const std::system_error&) {
      TWProcParentWatchClose(watch_);
      watch_ = nullptr;
    }
  }

  // The run has ended: the watch ends without touching the entry or the process.
  void Stop() {
    if (watch_ == nullptr) return;
    {
      std::lock_guard<std::mutex> lock(mu_);
      ended_ = true;
    }
    changed_.notify_all();
    TWProcParentWatchCancel(watch_);
    if (thread_.joinable()) thread_.join();
    TWProcParentWatchClose(watch_);
    watch_ = nullptr;
  }

 private:
  void Watch(MsgTblEntry* entry, int64_t limitSeconds) {
    if (TWProcParentWatchWait(watch_, -1) != 1) return;
    std::unique_lock<std::mutex> lock(mu_);
    if (ended_) return;
    unsigned char bytes[4];
    tw::put_u32(bytes, TWCLOSE_REQUESTED);
    uint32_t word;
    std::memcpy(&word, bytes, sizeof word);
    auto* p = reinterpret_cast<uint32_t*>(reinterpret_cast<unsigned char*>(entry) + kCloseWord);
    std::atomic_ref<uint32_t>(*p).store(word);
    if (limitSeconds <= 0) return;
    if (changed_.wait_for(lock, std::chrono::seconds(limitSeconds), [&] { return ended_; })) return;
    Print(stderr, "taskrun: the server is gone and the run did not close within " +
                      std::to_string(limitSeconds) + " seconds\n");
    std::_Exit(1);
  }

  TWProcParentWatch* watch_ = nullptr;
  std::thread thread_;
  std::mutex mu_;
  std::condition_variable changed_;
  bool ended_ = false;
};

class Runner {
 public:
  explicit Runner(int mode) : cgi_((mode & kModeCgi) != 0) {}

  // The run's result: 0, the activity's failure or a status of this program.
  uint32_t Run(int argc, char** argv) {
    // A CGI response starts with its header, so that anything a plug-in prints on the way
    // becomes part of the body rather than a malformed header.
    if (cgi_) Print(stdout, "Content-Type: text/plain\r\n\r\n");
    status_ = tw::guard([&] {
      Steps(argc, argv);
      return status_;
    });
    End();
    return result_;
  }

 private:
  void Steps(int argc, char** argv) {
    if ((status_ = TWPlatInit(cgi_ ? nullptr : argv[0]))) return;
    platform_ = true;
    if (argc < 2) {
      result_ = TWFAIL_ACTIVITY_INVALID;
      return;
    }
    handle_ = HandleOf(argv[1]);
    if ((status_ = TWSystemInit())) {
      result_ = TWFAIL_ACTIVITY_INIT;
      return;
    }
    system_ = true;
    // The settings give the time a run whose server is gone may take to close.
    CSMgrServerSettings settings{};
    TWStreamCreate(&settings.serverName, 0, 0, TWSTREAMFMT_NATIVE);
    status_ = CSMgrInit(&settings);
    TWStreamDataFree(&settings.serverName);
    if (status_ != TWSUCCESS) {
      result_ = TWFAIL_ACTIVITY_INIT;
      return;
    }
    session_ = true;
    if (handle_ != 0) entry_ = table_.Find(handle_);
    // A web server's gateway for an entry has no server behind it to lose.
    if (entry_ != nullptr && !cgi_)
      watch_.Start(entry_, EndLimitSeconds(settings.closeTimeout, settings.statusInterval));
    if (entry_ == nullptr) {
      handle_ = 0;
      private_ = std::make_unique<MsgTblEntry>();
      Stream name;
      if ((status_ = name.Set(TWSTREAMFMT_NATIVE, argv[1]))) return;
      if ((status_ = CSMgrOpenActivity(&handle_, name.get(), 0))) return;
      private_->handle = handle_;
      entry_ = private_.get();
    }
    if ((status_ = TWActivityInit(entry_))) return;
    activity_ = true;
    if (cgi_ && private_) {
      std::string input;
      status_ = tw::server::ReadCgiInput(stdin, &input);
      if (status_ == TWSUCCESS) status_ = SetCgiProperties(tw::server::ParseCgiInput(input));
    }
    if (status_ == TWSUCCESS && argc >= 3) status_ = SetArgumentProperty(argc, argv);
    if (status_ == TWSUCCESS) {
      result_ = TWActivityLaunch();
      status_ = TWActivityTerm();
      activity_ = false;
    }
  }

  void End() {
    // An activity that was made but not launched still ends, so that its run log is whole.
    if (activity_) TWActivityTerm();
    watch_.Stop();
    if (status_ != TWSUCCESS) {
      std::string text = StatusText(status_);
      Stream line;
      uint32_t st = platform_ ? line.Set(TWSTREAMFMT_NATIVE, text) : status_;
      if (st == TWSUCCESS) st = CSMgrLog(handle_, status_, line.get());
      // Nobody else would ever see it.
      if (st != TWSUCCESS) Print(stderr, text + "\n");
    }
    if (result_ == TWSUCCESS) result_ = status_;
    if (entry_ != nullptr) StoreResult(entry_, result_);
    if (private_) {
      if (handle_ != 0)
        CSMgrDoneActivity(handle_, result_ != TWSUCCESS ? TWMSG_COMPLETION_ENDED_WITH_ERROR : 0);
      private_.reset();
    } else {
      table_.Unmap();
    }
    if (session_) CSMgrTerm();
    if (system_) TWSystemTerm();
    if (cgi_) Print(stdout, std::to_string(result_) + " " + StatusText(result_) + "\n");
    if (platform_) TWPlatTerm();
  }

  const bool cgi_;
  bool platform_ = false;
  bool system_ = false;
  bool session_ = false;
  bool activity_ = false;
  uint32_t result_ = TWSUCCESS;
  uint32_t status_ = TWSUCCESS;
  int32_t handle_ = 0;
  MappedRunTable table_;
  ServerWatch watch_;
  std::unique_ptr<MsgTblEntry> private_;
  MsgTblEntry* entry_ = nullptr;
};

}  // namespace

int main(int argc, char** argv) {
  uint32_t result = tw::guard([&] { return Runner(TW_RUNNER_MODE).Run(argc, argv); });
  // The result itself went to the run table and the log; a status never travels as an exit
  // code.
  return result == TWSUCCESS ? 0 : 1;
}
