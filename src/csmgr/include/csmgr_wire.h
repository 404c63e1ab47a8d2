// The control-store wire format, shared by the client (flowcore's CSMgr* calls) and the
// server (ctlstore): the pipe name, the request codes and their names, and the byte offsets
// and minimum lengths of every request and reply. Only constants live here; encoders and
// decoders read and write these offsets with tw/coding.h, never by casting a struct over a
// received block.
//
// A message, request and reply alike, is one little-endian block that starts with the
// 16-byte header {Code, Length, Flags, Status} (int32 each). Length counts the whole block,
// header included. One pipe connection carries exactly one request and its reply; the reply
// is the request block rewritten in place, so a client sends a request at least as long as
// the reply it expects (kMinLength of each request), and only GetDescription and GetField
// come back longer than they went. Texts are QMBCS (UTF-8) ended by a NUL; a fixed text field
// of kTextField bytes holds at most kTextField - 1 bytes of text. Date-times are the 8-byte
// value of TWDatetime: ticks, then the date word.
#ifndef TW_CSMGR_CSMGR_WIRE_H_
#define TW_CSMGR_CSMGR_WIRE_H_

#include <array>
#include <cstdint>
#include <string_view>

#include "platform.h"
#include "twengine.h"

namespace tw::csmgr {

// The named pipe the server serves.
inline constexpr char kPipeName[] = "TWCSMP";

// Flags bit of the header: the client awaits no reply. The server answers at once with a
// 16-byte block of zeros but Length 16, disconnects, then handles the request; the handler's
// own status never reaches the client.
inline constexpr uint32_t CSMGR_ASYNC = 0x1;

// ------------------------------------------------------------------------ header -----

namespace header {
inline constexpr uint32_t kCode = 0;
inline constexpr uint32_t kLength = 4;
inline constexpr uint32_t kFlags = 8;
inline constexpr uint32_t kStatus = 12;  // 0 in a request; 0 or a catalogue id in the reply
inline constexpr uint32_t kSize = 16;    // parameters start here
}  // namespace header

// The longest block either side accepts; a Length above it drops the connection.
inline constexpr uint32_t kMaxMessage = TWIPC_MAX_MESSAGE;
// The server reads into a buffer of this size and grows it by the same step while a message
// has more bytes; the buffer is kept (only growing) between requests.
inline constexpr uint32_t kServerBufferStep = 2048;
// Fixed text fields (names) on the wire.
inline constexpr uint32_t kTextField = 512;
// A date-time on the wire.
inline constexpr uint32_t kDatetimeSize = 8;

// ------------------------------------------------------------------------ codes ------

namespace code {
inline constexpr uint32_t kShutdown = 0;
inline constexpr uint32_t kValidMsg = 1;
inline constexpr uint32_t kInit = 2;
inline constexpr uint32_t kServerInit = 3;
inline constexpr uint32_t kTerm = 4;
inline constexpr uint32_t kServerState = 5;
inline constexpr uint32_t kNextActivity = 6;
inline constexpr uint32_t kDoneActivity = 7;
inline constexpr uint32_t kRunActivity = 8;
inline constexpr uint32_t kDoneRun = 9;
inline constexpr uint32_t kGetDescription = 10;
inline constexpr uint32_t kPutDescription = 11;
inline constexpr uint32_t kGetID = 12;
inline constexpr uint32_t kLog = 13;
inline constexpr uint32_t kTime = 14;
inline constexpr uint32_t kAdjustClock = 15;
inline constexpr uint32_t kGetField = 16;
inline constexpr uint32_t kPutField = 17;
inline constexpr uint32_t kOpenActivity = 18;
inline constexpr uint32_t kFileField = 19;
// Codes from here up have no handler: the block goes back unchanged, as for kValidMsg.
inline constexpr uint32_t kCount = 20;
}  // namespace code

// The names of codes 0 to 19, as trace lines show them.
inline constexpr std::array<std::string_view, code::kCount> kCodeNames = {
    "IPCCSMgrShutdown",       "IPCValidMsg",
    "IPCCSMgrInit",           "IPCCSMgrServerInit",
    "IPCCSMgrTerm",           "IPCCSMgrServerState",
    "IPCCSMgrNextActivity",   "IPCCSMgrDoneActivity",
    "IPCCSMgrRunActivity",    "IPCCSMgrDoneRun",
    "IPCCSMgrGetDescription", "IPCCSMgrPutDescription",
    "IPCCSMgrGetID",          "IPCCSMgrLog",
    "IPCCSMgrTime",           "IPCCSMgrAdjustClock",
    "IPCCSMgrGetField",       "IPCCSMgrPutField",
    "IPCCSMgrOpenActivity",   "IPCCSMgrFileField"};

// The name of a code; empty for a code outside the table (never reads beyond it).
constexpr std::string_view CodeName(uint32_t c) {
  return c < code::kCount ? kCodeNames[c] : std::string_view{};
}

// ------------------------------------------------------------------------ handles ----

// Odd handles name the server's activity slots (handle = 2 x slot + 3); even non-zero
// values are document ids.
inline constexpr uint32_t kSlotCount = 100;
inline constexpr int32_t kFirstSlotHandle = 3;
inline constexpr int32_t kLastSlotHandle = 201;
constexpr bool IsSlotHandle(int32_t handle) {
  return handle >= kFirstSlotHandle && handle <= kLastSlotHandle && (handle & 1) != 0;
}
constexpr uint32_t SlotIndex(int32_t handle) {
  return static_cast<uint32_t>(handle - kFirstSlotHandle) / 2;
}
constexpr int32_t SlotHandle(uint32_t index) {
  return static_cast<int32_t>(2 * index) + kFirstSlotHandle;
}
static_assert(SlotHandle(kSlotCount - 1) == kLastSlotHandle && !IsSlotHandle(202) &&
              !IsSlotHandle(1) && SlotIndex(201) == 99);

// ------------------------------------------------------------------------ requests ---
// Offsets are from the start of the block. "in" words are read from the request, "out"
// words written into the reply. kMinLength is the least Length a client sends for the code.

// 0 Shutdown, 2 Init, 4 Term: nothing beyond the header. 1 ValidMsg: echoed unchanged.
inline constexpr uint32_t kBareMinLength = header::kSize;

namespace server_init {                          // 3
inline constexpr uint32_t kReread = 16;          // in: non-zero = re-read the configuration
inline constexpr uint32_t kServerId = 20;        // out: the server document's id
inline constexpr uint32_t kStatusInterval = 24;  // out: minutes
inline constexpr uint32_t kPollInterval = 28;    // out: seconds
inline constexpr uint32_t kMaxDuration = 32;     // out: minutes
inline constexpr uint32_t kMaxActivities = 36;   // out
inline constexpr uint32_t kCloseTimeout = 40;    // out: seconds
inline constexpr uint32_t kTranslate = 44;       // out
inline constexpr uint32_t kTime = 48;            // out: the control store's current time
inline constexpr uint32_t kServerName = 56;      // out: char[kTextField]
inline constexpr uint32_t kIntl = 568;           // out: the international-format record
inline constexpr uint32_t kMinLength = kIntl + TWINTL_RECORD_SIZE;
static_assert(kServerName + kTextField == kIntl && kMinLength == 654);
}  // namespace server_init

namespace server_state {                // 5
inline constexpr uint32_t kState = 16;  // in: CSMGR_STATE_*
inline constexpr uint32_t kMinLength = 20;
}  // namespace server_state

namespace next_activity {                     // 6 (the word at 28 is not used)
inline constexpr uint32_t kHandle = 16;       // out: slot handle, 0 = nothing due
inline constexpr uint32_t kMaxDuration = 20;  // out: minutes, -1 = not set
inline constexpr uint32_t kPriority = 24;     // out
inline constexpr uint32_t kTime = 32;         // out: now (the scheduled start)
inline constexpr uint32_t kName = 40;         // out: char[kTextField]
inline constexpr uint32_t kMinLength = kName + kTextField;
static_assert(kMinLength == 552);
}  // namespace next_activity

namespace done_activity {                    // 7 (words 20 and 24 are not used)
inline constexpr uint32_t kHandle = 16;      // in
inline constexpr uint32_t kCompletion = 28;  // in: 0 or the completion message id
inline constexpr uint32_t kMinLength = 32;
}  // namespace done_activity

namespace run_activity {                 // 8 (the word at 20 is not used)
inline constexpr uint32_t kWaiter = 16;  // in: handle or document id that waits, 0 = none
// in: the names, laid out as a TWSTREAMFMT_TEXT_LIST value: u16 count n, n u16 lengths,
// then the n texts (QMBCS) back to back without terminators. A count of 0 answers
// TWFAIL_CSMGR_ARGUMENT.
inline constexpr uint32_t kNames = 24;
inline constexpr uint32_t kMinLength = kNames + 2;
}  // namespace run_activity

namespace done_run {  // 9
// in: handle or document id; out: 0 when every activity it started has finished, else the
// word is left as it came.
inline constexpr uint32_t kHandle = 16;
inline constexpr uint32_t kMinLength = 20;
}  // namespace done_run

namespace get_description {              // 10 (words 16 and byte 24 are not used)
inline constexpr uint32_t kHandle = 20;  // in: handle or document id
inline constexpr uint32_t kList = 25;    // out: field records (namespace record), unaligned
// The reply grows, Length with it, in steps of kStep bytes as the records need.
inline constexpr uint32_t kStep = 4096;
inline constexpr uint32_t kMinLength = kList + 17;  // room for the end record
// What the client sends: one step, so that a short description needs no growth.
inline constexpr uint32_t kClientLength = kStep;
}  // namespace get_description

namespace put_description {              // 11
inline constexpr uint32_t kHandle = 20;  // in
inline constexpr uint32_t kList = 24;    // in: field records up to one whose Token is 0
inline constexpr uint32_t kMinLength = kList + 16;
}  // namespace put_description

namespace get_id {                           // 12
inline constexpr uint32_t kDocumentId = 16;  // out
inline constexpr uint32_t kKind = 20;        // in: CSMGR_ID_*
inline constexpr uint32_t kName = 24;        // in: NUL-terminated
inline constexpr uint32_t kMinLength = kName + 1;
}  // namespace get_id

namespace log_request {  // 13
inline constexpr uint32_t kModeText = 1;
inline constexpr uint32_t kModeCounts = 2;
inline constexpr uint32_t kMode = 16;        // in
inline constexpr uint32_t kHandle = 20;      // in: 0 = the operations log
inline constexpr uint32_t kCounts = 24;      // in, mode 2: CSMGR_LOG_COUNTS int32
inline constexpr uint32_t kMessageId = 100;  // in, mode 1
inline constexpr uint32_t kText = 104;       // in, mode 1: NUL-terminated
inline constexpr uint32_t kCountsMinLength = kCounts + 4 * CSMGR_LOG_COUNTS;
inline constexpr uint32_t kTextMinLength = kText + 1;
static_assert(kCountsMinLength == kMessageId);
}  // namespace log_request

namespace time_request {               // 14
inline constexpr uint32_t kTime = 16;  // out
inline constexpr uint32_t kMinLength = kTime + kDatetimeSize;
}  // namespace time_request

namespace adjust_clock {  // 15 (words 16 and 20 are not used)
// in: eight int32 in CSMgrClockAdjustment's order: years, months, days, unused, hours,
// minutes, seconds, fraction.
inline constexpr uint32_t kAdjustment = 24;
inline constexpr uint32_t kWords = 8;
inline constexpr uint32_t kMinLength = kAdjustment + 4 * kWords;
}  // namespace adjust_clock

namespace get_field {                      // 16
inline constexpr uint32_t kHandle = 16;    // in
inline constexpr uint32_t kItemName = 20;  // in: char[kTextField]
inline constexpr uint32_t kValue = 532;    // out: the item's value as text
inline constexpr uint32_t kMinLength = kValue + 1;
// When the value does not fit the block, the reply's Length becomes this.
constexpr uint32_t GrownLength(uint32_t textLength) {
  return 534 + textLength;
}
static_assert(kItemName + kTextField == kValue && GrownLength(2000) == 2534);
}  // namespace get_field

namespace put_field {                      // 17
inline constexpr uint32_t kHandle = 16;    // in
inline constexpr uint32_t kItemName = 20;  // in: char[kTextField]
inline constexpr uint32_t kValue = 532;    // in: NUL-terminated text
inline constexpr uint32_t kMinLength = kValue + 1;
}  // namespace put_field

namespace open_activity {                // 18
inline constexpr uint32_t kHandle = 16;  // out
inline constexpr uint32_t kFlags = 20;   // in: CSMGR_OPENF_MAY_BE_MISSING
inline constexpr uint32_t kName = 24;    // in: NUL-terminated
inline constexpr uint32_t kMinLength = kName + 1;
}  // namespace open_activity

// 19 FileField: any block; Status TWFAIL_PROGRAM.

// The least Length a request of each code must have (for Log, the counts form; the text
// form needs log_request::kTextMinLength). Codes without parameters and unknown codes: the header.
constexpr uint32_t MinLength(uint32_t c) {
  switch (c) {
    case code::kServerInit:
      return server_init::kMinLength;
    case code::kServerState:
      return server_state::kMinLength;
    case code::kNextActivity:
      return next_activity::kMinLength;
    case code::kDoneActivity:
      return done_activity::kMinLength;
    case code::kRunActivity:
      return run_activity::kMinLength;
    case code::kDoneRun:
      return done_run::kMinLength;
    case code::kGetDescription:
      return get_description::kMinLength;
    case code::kPutDescription:
      return put_description::kMinLength;
    case code::kGetID:
      return get_id::kMinLength;
    case code::kLog:
      return log_request::kCountsMinLength;
    case code::kTime:
      return time_request::kMinLength;
    case code::kAdjustClock:
      return adjust_clock::kMinLength;
    case code::kGetField:
      return get_field::kMinLength;
    case code::kPutField:
      return put_field::kMinLength;
    case code::kOpenActivity:
      return open_activity::kMinLength;
    default:
      return kBareMinLength;
  }
}

// ------------------------------------------------------------------------ records ----
// A field record of GetDescription and PutDescription: a 16-byte head of four int32, then
// DataLength bytes of data; the next record follows right after the data. A list ends with a
// record whose Token is 0 (GetDescription writes an all-zero head and one zero byte).

namespace record {
inline constexpr uint32_t kKind = 0;
inline constexpr uint32_t kFormat = 4;  // set for kinds 6 and 7; ignored for 1 and 5
inline constexpr uint32_t kToken = 8;   // the property token; 0 ends the list
inline constexpr uint32_t kDataLength = 12;
inline constexpr uint32_t kHeadSize = 16;
inline constexpr uint32_t kEndSize = kHeadSize + 1;

// Kinds and their data.
inline constexpr uint32_t kNumber = 1;    // int32
inline constexpr uint32_t kDatetime = 5;  // 8 bytes
inline constexpr uint32_t kText = 6;      // text with its NUL (DataLength counts it)
inline constexpr uint32_t kList = 7;      // a text list or rich text, by Format, one byte more
// Formats.
inline constexpr uint32_t kTextFormat = TWSTREAMFMT_QMBCS;          // with kind 6
inline constexpr uint32_t kTextListFormat = TWSTREAMFMT_TEXT_LIST;  // with kind 7
inline constexpr uint32_t kRichTextFormat = TWSTREAMFMT_COMPOSITE;  // with kind 7
static_assert(kTextFormat == 256 && kTextListFormat == 0x40000003 && kRichTextFormat == 0x40000002);
}  // namespace record

}  // namespace tw::csmgr

#endif  // TW_CSMGR_CSMGR_WIRE_H_
