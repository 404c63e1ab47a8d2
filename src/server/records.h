// The fixed-size records that the threads of twmain exchange through in-process pipes
// (scheduler commands, timer commands, console events), their codes, byte codecs and the
// pipe sizes, with the scheduler's and the run table's constants.
//
// Records are encoded little-endian with tw/coding.h; a decoder never reads past the bytes it
// is given and always NUL-ends the texts it hands out. Nothing here allocates.
#ifndef TW_SERVER_RECORDS_H_
#define TW_SERVER_RECORDS_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "flowcore.h"
#include "platform.h"
#include "tw/coding.h"
#include "twengine.h"

namespace tw::server {

// ---------------------------------------------------------------- sizes -------------------

inline constexpr uint32_t kSchedulerCommandSize = 16;
inline constexpr uint32_t kTimerCommandSize = 28;
inline constexpr uint32_t kConsoleEventSize = 276;
inline constexpr uint32_t kConsoleEventDataSize = kConsoleEventSize - 4;
// A text in an event: at most 255 characters and a NUL.
inline constexpr uint32_t kEventTextSize = 256;
inline constexpr uint32_t kKeyboardLineSize = 256;

// Pipe capacities in bytes.
inline constexpr uint32_t kSchedulerPipeSize = 32 * kSchedulerCommandSize;  // 512
inline constexpr uint32_t kConsoleEventPipeSize = 32 * kConsoleEventSize;   // 8832
inline constexpr uint32_t kSnmpEventPipeSize = 32 * kConsoleEventSize;      // 8832
inline constexpr uint32_t kTimerPipeSize = 32 * kTimerCommandSize;          // 896
inline constexpr uint32_t kKeyboardPipeSize = 5 * kKeyboardLineSize;        // 1280

static_assert(kSchedulerPipeSize == 512 && kConsoleEventPipeSize == 8832 && kTimerPipeSize == 896 &&
              kKeyboardPipeSize == 1280);

// ---------------------------------------------------------------- scheduler commands ------

// Codes of SchedulerCommand. Any other code is handled as SchedStop.
enum SchedCode : int32_t {
  SchedPoll = 1,            // timer: a poll is due
  SchedStatus = 2,          // timer: report "still active" to the control store
  SchedRunEnded = 10,       // runner thread: the run's process ended
  SchedTimeout = 12,        // timer: the run reached its MaxDuration
  SchedKill = 13,           // timer: the run did not close within CloseTimeout
  SchedRunStarted = 14,     // runner thread: the run's process was started
  SchedDown = 20,           // console, SNMP link: start no more, end after the last run
  SchedList = 21,           // console, SNMP link: list the runs to the source
  SchedShowStatus = 22,     // console, SNMP link: status event to the source
  SchedTraceOn = 23,        // console: trace mask |= argument
  SchedTraceOff = 24,       // console: trace mask &= ~argument
  SchedClose = 25,          // console, SNMP link: close run number argument (no kill timer)
  SchedKillConfirmed = 26,  // console, SNMP link: kill run number argument
  SchedKillPrompt = 27,     // console: ask to confirm killing run number argument
  SchedStop = 28,           // console, SNMP link: close every run, kill late ones, end
  SchedRefresh = 29,        // console: re-read the server settings
};

// Word 1 of a command: who sent it; for SchedList and SchedShowStatus where the answer goes.
enum SchedSource : int32_t {
  kSourceInternal = 0,  // timer or runner thread; as an answer target: both pipes
  kSourceConsole = 1,
  kSourceSnmp = 2,
};

// 16 bytes, four little-endian 32-bit words.
//   code      SchedCode
//   source    SchedSource
//   argument  run number (13, 25, 26, 27), activity handle (10, 12, 14), trace bits (23, 24)
//   run       the generation of the run that codes 10, 12, 13 and 14 concern, so that a late
//             command never reaches a newer run holding the same handle or run number
//             (a runner's process handle is pointer-sized and stays in the run record)
struct SchedulerCommand {
  int32_t code = 0;
  int32_t source = 0;
  int32_t argument = 0;
  int32_t run = 0;
};

inline void EncodeSchedulerCommand(const SchedulerCommand& c,
                                   unsigned char out[kSchedulerCommandSize]) {
  put_i32(out, c.code);
  put_i32(out + 4, c.source);
  put_i32(out + 8, c.argument);
  put_i32(out + 12, c.run);
}

// False (and *c untouched) when fewer than 16 bytes are given.
inline bool DecodeSchedulerCommand(const void* in, size_t size, SchedulerCommand* c) {
  if (in == nullptr || c == nullptr || size < kSchedulerCommandSize) return false;
  auto* p = static_cast<const unsigned char*>(in);
  c->code = get_i32(p);
  c->source = get_i32(p + 4);
  c->argument = get_i32(p + 8);
  c->run = get_i32(p + 12);
  return true;
}

// Appends one command to the scheduler command pipe (waits for room); the pipe's status.
inline uint32_t PostSchedulerCommand(TWProcPipe* pipe, const SchedulerCommand& c) {
  unsigned char buf[kSchedulerCommandSize];
  EncodeSchedulerCommand(c, buf);
  return TWProcPipeFill(kSchedulerCommandSize, buf, pipe);
}

// Takes the oldest command, waiting until one is there; the pipe's status.
inline uint32_t ReadSchedulerCommand(TWProcPipe* pipe, SchedulerCommand* c) {
  unsigned char buf[kSchedulerCommandSize];
  uint32_t st = TWProcPipeEmpty(kSchedulerCommandSize, buf, pipe);
  if (st == 0) DecodeSchedulerCommand(buf, sizeof buf, c);
  return st;
}

// ---------------------------------------------------------------- timer commands ----------

enum TimerCode : int32_t {
  TimerAddOnce = 0,       // a one-shot entry (payload, id, seconds)
  TimerRemove = 1,        // remove the first entry whose id equals id
  TimerQuit = 2,          // end the timer thread
  TimerAddStatus = 3,     // a periodic entry of the status kind (payload, period seconds)
  TimerAddPoll = 4,       // a periodic entry of the poll kind (payload, period seconds)
  TimerRemoveStatus = 5,  // remove the first periodic entry of the status kind
  TimerRemovePoll = 6,    // remove the first periodic entry of the poll kind
};

// 28 bytes: command, the 16-byte SchedulerCommand to post when due, id, seconds. The id of a
// run's one-shot entry is the run's generation.
struct TimerCommand {
  int32_t command = 0;
  SchedulerCommand payload;
  int32_t id = 0;
  int32_t seconds = 0;
};

inline void EncodeTimerCommand(const TimerCommand& t, unsigned char out[kTimerCommandSize]) {
  put_i32(out, t.command);
  EncodeSchedulerCommand(t.payload, out + 4);
  put_i32(out + 20, t.id);
  put_i32(out + 24, t.seconds);
}

inline bool DecodeTimerCommand(const void* in, size_t size, TimerCommand* t) {
  if (in == nullptr || t == nullptr || size < kTimerCommandSize) return false;
  auto* p = static_cast<const unsigned char*>(in);
  t->command = get_i32(p);
  DecodeSchedulerCommand(p + 4, kSchedulerCommandSize, &t->payload);
  t->id = get_i32(p + 20);
  t->seconds = get_i32(p + 24);
  return true;
}

inline uint32_t PostTimerCommand(TWProcPipe* pipe, const TimerCommand& t) {
  unsigned char buf[kTimerCommandSize];
  EncodeTimerCommand(t, buf);
  return TWProcPipeFill(kTimerCommandSize, buf, pipe);
}

inline uint32_t ReadTimerCommand(TWProcPipe* pipe, TimerCommand* t) {
  unsigned char buf[kTimerCommandSize];
  uint32_t st = TWProcPipeEmpty(kTimerCommandSize, buf, pipe);
  if (st == 0) DecodeTimerCommand(buf, sizeof buf, t);
  return st;
}

// ---------------------------------------------------------------- console events ----------

enum EventCode : int32_t {
  EventStarted = 1,        // server start time, server name
  EventStartFailed = 2,    // -
  EventTableHeld = 3,      // start-up failed: another server holds the run table
  EventListEmpty = 4,      // -
  EventListBegin = 5,      // -
  EventListLine = 6,       // close requested, run number, start time, activity name
  EventListEnd = 7,        // -
  EventStatus = 8,         // status values, control-store time
  EventTrace = 9,          // message id (4096-4120), text for its "%s"
  EventWaiting = 10,       // waiting for all activities
  EventShutdown = 11,      // starting shutdown
  EventStopping = 12,      // attempting to stop
  EventEnded = 13,         // the scheduler has ended
  EventClosing = 14,       // close reason, activity name
  EventKilled = 15,        // kill reason, activity name
  EventConfirmKill = 16,   // run number, activity name
  EventNoRunToKill = 17,   // run number
  EventNoRunToClose = 18,  // run number
};

// Server states (event 8, IPCSnmpServerInfo).
enum ServerState : int32_t { kStateRunning = 1, kStateShuttingDown = 2, kStateStopping = 3 };

// Close and kill reasons of events 14 and 15.
enum EventReason : int32_t { kReasonUser = 1, kReasonStopping = 2, kReasonTimedOut = 3 };

// The values of event 8, in their order on the wire.
struct StatusValues {
  int32_t serverId = 0;
  int32_t statusInterval = 0;  // minutes
  int32_t pollInterval = 0;    // seconds
  int32_t maxDuration = 0;     // minutes
  int32_t closeTimeout = 0;    // seconds
  int32_t maxActivities = 0;
  int32_t state = 0;  // ServerState
};

// One event, decoded. Which fields an event carries (data offsets after the 4-byte code):
//   1      time @0, text @8
//   6      closeRequested @0, number (run number) @4, time @8, text @16
//   8      status (7 words) @0, time @28
//   9      number (message id) @0, text @4
//   14, 15 number (reason) @0, text @4
//   16     number (run number) @0, text @4
//   17, 18 number (run number) @0
// Other fields are zero after decoding.
struct ConsoleEvent {
  int32_t code = 0;
  int32_t number = 0;
  int32_t closeRequested = 0;
  TWDatetime time{};
  StatusValues status;
  char text[kEventTextSize] = {};

  // Copies t, cut to 255 characters.
  void SetText(std::string_view t) {
    if (t.empty())
      text[0] = '\0';
    else
      copy_bounded(text, sizeof text, t);
  }
};

namespace detail {
inline void put_text(unsigned char* dst, const char* text) {
  size_t n = strnlen(text, kEventTextSize - 1);
  std::memcpy(dst, text, n);
  std::memset(dst + n, 0, kEventTextSize - n);
}
inline void get_text(const unsigned char* src, char* text) {
  size_t n = strnlen(reinterpret_cast<const char*>(src), kEventTextSize - 1);
  std::memcpy(text, src, n);
  text[n] = '\0';
}
inline void put_time(unsigned char* dst, const TWDatetime& t) {
  put_u32(dst, t.ticks);
  put_u32(dst + 4, t.date);
}
inline TWDatetime get_time(const unsigned char* src) {
  return TWDatetime{get_u32(src), get_u32(src + 4)};
}
}  // namespace detail

// Writes the 276-byte record; bytes an event does not use are zero.
inline void EncodeConsoleEvent(const ConsoleEvent& e, unsigned char out[kConsoleEventSize]) {
  std::memset(out, 0, kConsoleEventSize);
  put_i32(out, e.code);
  unsigned char* d = out + 4;
  switch (e.code) {
    case EventStarted:
      detail::put_time(d, e.time);
      detail::put_text(d + 8, e.text);
      break;
    case EventListLine:
      put_i32(d, e.closeRequested);
      put_i32(d + 4, e.number);
      detail::put_time(d + 8, e.time);
      detail::put_text(d + 16, e.text);
      break;
    case EventStatus: {
      const StatusValues& s = e.status;
      const int32_t words[7] = {s.serverId,     s.statusInterval, s.pollInterval, s.maxDuration,
                                s.closeTimeout, s.maxActivities,  s.state};
      for (int i = 0; i < 7; ++i) put_i32(d + 4 * i, words[i]);
      detail::put_time(d + 28, e.time);
      break;
    }
    case EventTrace:
    case EventClosing:
    case EventKilled:
    case EventConfirmKill:
      put_i32(d, e.number);
      detail::put_text(d + 4, e.text);
      break;
    case EventNoRunToKill:
    case EventNoRunToClose:
      put_i32(d, e.number);
      break;
    default:
      break;
  }
}

// False (and *e untouched) when fewer than 276 bytes are given.
inline bool DecodeConsoleEvent(const void* in, size_t size, ConsoleEvent* e) {
  if (in == nullptr || e == nullptr || size < kConsoleEventSize) return false;
  auto* p = static_cast<const unsigned char*>(in);
  *e = ConsoleEvent{};
  e->code = get_i32(p);
  const unsigned char* d = p + 4;
  switch (e->code) {
    case EventStarted:
      e->time = detail::get_time(d);
      detail::get_text(d + 8, e->text);
      break;
    case EventListLine:
      e->closeRequested = get_i32(d);
      e->number = get_i32(d + 4);
      e->time = detail::get_time(d + 8);
      detail::get_text(d + 16, e->text);
      break;
    case EventStatus: {
      StatusValues& s = e->status;
      int32_t* words[7] = {&s.serverId,     &s.statusInterval, &s.pollInterval, &s.maxDuration,
                           &s.closeTimeout, &s.maxActivities,  &s.state};
      for (int i = 0; i < 7; ++i) *words[i] = get_i32(d + 4 * i);
      e->time = detail::get_time(d + 28);
      break;
    }
    case EventTrace:
    case EventClosing:
    case EventKilled:
    case EventConfirmKill:
      e->number = get_i32(d);
      detail::get_text(d + 4, e->text);
      break;
    case EventNoRunToKill:
    case EventNoRunToClose:
      e->number = get_i32(d);
      break;
    default:
      break;
  }
  return true;
}

inline uint32_t PostConsoleEvent(TWProcPipe* pipe, const ConsoleEvent& e) {
  unsigned char buf[kConsoleEventSize];
  EncodeConsoleEvent(e, buf);
  return TWProcPipeFill(kConsoleEventSize, buf, pipe);
}

inline uint32_t ReadConsoleEvent(TWProcPipe* pipe, ConsoleEvent* e) {
  unsigned char buf[kConsoleEventSize];
  uint32_t st = TWProcPipeEmpty(kConsoleEventSize, buf, pipe);
  if (st == 0) DecodeConsoleEvent(buf, sizeof buf, e);
  return st;
}

// ---------------------------------------------------------------- scheduler ---------------

// The most runs at once, and the run table's size (TWMSGTBL_* of twengine.h).
inline constexpr int32_t kMaxRuns = static_cast<int32_t>(TWMSGTBL_ENTRIES);
static_assert(TWMSGTBL_SIZE == TWMSGTBL_ENTRIES * TWMSGTBL_ENTRY_SIZE);

// Trace classes: a trace message is posted as event 9 when its class meets the mask.
enum TraceClass : uint32_t {
  kTraceNotify = 1,           // 4104
  kTracePolling = 2,          // 4100
  kTraceLaunch = 4,           // 4112
  kTraceDone = 8,             // completion messages 4113-4120
  kTraceTimeout = 16,         // 4107
  kTraceActivityErrors = 32,  // 4102, 4103
  kTraceStoreErrors = 64,     // 4105, 4106
  kTraceKill = 128,           // 4096
  kTraceInternal = 256,       // 4108-4111, 4102, 4103, 4106
};
inline constexpr uint32_t kTraceDefaultMask = 300;  // launch, done, activity errors, internal

// The program the runner thread starts from the installation directory, and its argument:
// "taskrun =N" for activity handle N.
inline constexpr const char* kRunnerProgram = "taskrun";
inline constexpr char kRunnerHandleMark = '=';

// twmain.ini: section and key of the SNMP support switch ("1" queries, "2" queries and sets).
inline constexpr const char* kIniFile = "twmain.ini";
inline constexpr const char* kIniConfiguration = "Configuration";
inline constexpr const char* kIniSnmp = "SNMP";

}  // namespace tw::server

#endif  // TW_SERVER_RECORDS_H_
