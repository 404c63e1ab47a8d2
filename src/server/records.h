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
#include <iterator>
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

// ---------------------------------------------------------------- codecs ------------------

namespace detail {

// Writes fields at their offsets from at.
struct FieldWriter {
  unsigned char* at;
  FieldWriter At(size_t offset) const { return {at + offset}; }
  void Word(size_t offset, int32_t v) const { put_i32(at + offset, v); }
  void Time(size_t offset, const TWDatetime& t) const {
    put_u32(at + offset, t.ticks);
    put_u32(at + offset + 4, t.date);
  }
  // At most 255 characters, the rest of the field zero.
  void Text(size_t offset, const char (&text)[kEventTextSize]) const {
    size_t n = strnlen(text, kEventTextSize - 1);
    std::memcpy(at + offset, text, n);
    std::memset(at + offset + n, 0, kEventTextSize - n);
  }
};

// Reads fields at their offsets from at; texts always come out NUL-ended.
struct FieldReader {
  const unsigned char* at;
  FieldReader At(size_t offset) const { return {at + offset}; }
  void Word(size_t offset, int32_t& v) const { v = get_i32(at + offset); }
  void Time(size_t offset, TWDatetime& t) const {
    t = TWDatetime{get_u32(at + offset), get_u32(at + offset + 4)};
  }
  void Text(size_t offset, char (&text)[kEventTextSize]) const {
    size_t n = strnlen(reinterpret_cast<const char*>(at + offset), kEventTextSize - 1);
    std::memcpy(text, at + offset, n);
    text[n] = '\0';
  }
};

}  // namespace detail

// Each record's size and fields: Fields walks them with a FieldWriter over a const record to
// encode and with a FieldReader over a fresh record to decode, so that the two directions
// cannot disagree.
template <class R>
struct RecordLayout;

template <>
struct RecordLayout<SchedulerCommand> {
  static constexpr uint32_t kSize = kSchedulerCommandSize;
  template <class Io, class C>
  static void Fields(const Io& io, C& c) {
    io.Word(0, c.code);
    io.Word(4, c.source);
    io.Word(8, c.argument);
    io.Word(12, c.run);
  }
};

template <>
struct RecordLayout<TimerCommand> {
  static constexpr uint32_t kSize = kTimerCommandSize;
  template <class Io, class T>
  static void Fields(const Io& io, T& t) {
    io.Word(0, t.command);
    RecordLayout<SchedulerCommand>::Fields(io.At(4), t.payload);
    io.Word(20, t.id);
    io.Word(24, t.seconds);
  }
};

template <>
struct RecordLayout<ConsoleEvent> {
  static constexpr uint32_t kSize = kConsoleEventSize;
  // The values of event 8 in their order on the wire.
  static constexpr int32_t StatusValues::*kStatusWords[] = {
      &StatusValues::serverId,    &StatusValues::statusInterval, &StatusValues::pollInterval,
      &StatusValues::maxDuration, &StatusValues::closeTimeout,   &StatusValues::maxActivities,
      &StatusValues::state};
  // The code first: decoding reads it before choosing the fields it carries.
  template <class Io, class E>
  static void Fields(const Io& io, E& e) {
    io.Word(0, e.code);
    const Io data = io.At(4);
    switch (e.code) {
      case EventStarted:
        data.Time(0, e.time);
        data.Text(8, e.text);
        break;
      case EventListLine:
        data.Word(0, e.closeRequested);
        data.Word(4, e.number);
        data.Time(8, e.time);
        data.Text(16, e.text);
        break;
      case EventStatus:
        for (size_t i = 0; i < std::size(kStatusWords); ++i)
          data.Word(4 * i, e.status.*kStatusWords[i]);
        data.Time(28, e.time);
        break;
      case EventTrace:
      case EventClosing:
      case EventKilled:
      case EventConfirmKill:
        data.Word(0, e.number);
        data.Text(4, e.text);
        break;
      case EventNoRunToKill:
      case EventNoRunToClose:
        data.Word(0, e.number);
        break;
      default:
        break;
    }
  }
};

// Writes the record into out (RecordLayout<R>::kSize bytes); bytes it does not use are zero.
template <class R>
void EncodeRecord(const R& r, unsigned char* out) {
  std::memset(out, 0, RecordLayout<R>::kSize);
  RecordLayout<R>::Fields(detail::FieldWriter{out}, r);
}

// False (and *r untouched) when fewer than RecordLayout<R>::kSize bytes are given; fields the
// record does not carry are zero after decoding.
template <class R>
bool DecodeRecord(const void* in, size_t size, R* r) {
  if (in == nullptr || r == nullptr || size < RecordLayout<R>::kSize) return false;
  *r = R{};
  RecordLayout<R>::Fields(detail::FieldReader{static_cast<const unsigned char*>(in)}, *r);
  return true;
}

// Appends one record to a pipe (waits for room); the pipe's status.
template <class R>
[[nodiscard]] uint32_t PostRecord(TWProcPipe* pipe, const R& r) {
  unsigned char buf[RecordLayout<R>::kSize];
  EncodeRecord(r, buf);
  return TWProcPipeFill(sizeof buf, buf, pipe);
}

// Takes the oldest record of a pipe, waiting until one is there; the pipe's status.
template <class R>
[[nodiscard]] uint32_t ReadRecord(TWProcPipe* pipe, R* r) {
  unsigned char buf[RecordLayout<R>::kSize];
  uint32_t st = TWProcPipeEmpty(sizeof buf, buf, pipe);
  if (st == 0) DecodeRecord(buf, sizeof buf, r);
  return st;
}

// The codecs and pipe calls under the names of their records.
inline constexpr auto EncodeSchedulerCommand = &EncodeRecord<SchedulerCommand>;
inline constexpr auto DecodeSchedulerCommand = &DecodeRecord<SchedulerCommand>;
inline constexpr auto PostSchedulerCommand = &PostRecord<SchedulerCommand>;
inline constexpr auto ReadSchedulerCommand = &ReadRecord<SchedulerCommand>;
inline constexpr auto EncodeTimerCommand = &EncodeRecord<TimerCommand>;
inline constexpr auto DecodeTimerCommand = &DecodeRecord<TimerCommand>;
inline constexpr auto PostTimerCommand = &PostRecord<TimerCommand>;
inline constexpr auto ReadTimerCommand = &ReadRecord<TimerCommand>;
inline constexpr auto EncodeConsoleEvent = &EncodeRecord<ConsoleEvent>;
inline constexpr auto DecodeConsoleEvent = &DecodeRecord<ConsoleEvent>;
inline constexpr auto PostConsoleEvent = &PostRecord<ConsoleEvent>;
inline constexpr auto ReadConsoleEvent = &ReadRecord<ConsoleEvent>;

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
