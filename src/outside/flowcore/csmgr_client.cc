// The control-store client: the exchange of one request and its reply over "TWCSMP", and
// the layout of each request and reply (csmgr_wire.h), read and written with tw/coding.h.
#include "csmgr_client.h"

#include <algorithm>
#include <cstring>

#include "csmgr_records.h"
#include "csmgr_wire.h"
#include "tw/coding.h"

namespace tw::engine::csmgr {
namespace {

namespace wire = tw::csmgr;
namespace hdr = tw::csmgr::header;

// The first read's room; a longer reply is read on in steps of the same size.
constexpr uint32_t kReadStep = 4096;

struct Connection {
  TWIPC* conn;
  ~Connection() { TWIPCClose(conn); }
};

// Longest prefix of text of at most max bytes that does not split a UTF-8 character.
std::string_view Cut(std::string_view text, size_t max) {
  if (text.size() <= max) return text;
  size_t n = max;
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  return text.substr(0, n);
}

// A fixed text field of kTextField bytes; the block is zero-filled, so the NUL is there.
void PutFixedText(std::string* block, uint32_t offset, std::string_view text) {
  std::string_view t = Cut(text.substr(0, text.find('\0')), wire::kTextField - 1);
  std::memcpy(block->data() + offset, t.data(), t.size());
}

// A request whose last parameter is a NUL-terminated text of any length at offset.
[[nodiscard]] uint32_t RequestWithText(uint32_t code, uint32_t offset, std::string_view text,
                                       std::string* block) {
  text = text.substr(0, text.find('\0'));
  if (text.size() > wire::kMaxMessage - offset - 1) return TWFAIL_OVERFLOW;
  *block = NewRequest(code, offset + static_cast<uint32_t>(text.size()) + 1);
  std::memcpy(block->data() + offset, text.data(), text.size());
  return 0;
}

// The NUL-terminated text at offset within at most max bytes of the block.
bool ReadText(const std::string& block, uint32_t offset, size_t max, std::string* out) {
  if (offset >= block.size()) return false;
  std::string_view rest(block.data() + offset, std::min(max, block.size() - offset));
  size_t end = rest.find('\0');
  if (end == std::string_view::npos) return false;
  *out = std::string(rest.substr(0, end));
  return true;
}

TWDatetime ReadDatetime(const std::string& block, uint32_t offset) {
  return TWDatetime{tw::get_u32(block.data() + offset), tw::get_u32(block.data() + offset + 4)};
}

// The record is packed: its words are stored by value, never through member pointers.
static_assert(16 + 7 * (sizeof(TWIntlText::text) + 4) == TWINTL_RECORD_SIZE);
TWIntlFormat ReadIntl(const std::string& block, uint32_t offset) {
  const char* p = block.data() + offset;
  TWIntlFormat f{};
  f.flags = tw::get_i32(p);
  f.format1 = tw::get_i32(p + 4);
  f.format2 = tw::get_i32(p + 8);
  f.zone = tw::get_i32(p + 12);
  p += 16;
  for (TWIntlText* t : {&f.am, &f.pm, &f.currency, &f.thousands, &f.decimal, &f.date, &f.time}) {
    std::memcpy(t->text, p, sizeof t->text);
    t->length = tw::get_i32(p + sizeof t->text);
    p += sizeof t->text + 4;
  }
  return f;
}

bool IsSlotOrNone(int32_t handle) {
  return handle == 0 || wire::IsSlotHandle(handle);
}

// Whether a reply of code may have length bytes, for a request of sent bytes. The server
// answers with the request block; only GetDescription and GetField grow it, by what their
// contents need.
bool LengthFits(uint32_t code, const std::string& reply, uint32_t sent) {
  uint32_t length = static_cast<uint32_t>(reply.size());
  if (length == sent) return true;
  if (length < sent) return false;
  if (code == wire::code::kGetDescription) {
    size_t records = 0;
    std::string_view list(reply.data() + wire::get_description::kList,
                          length - wire::get_description::kList);
    return MeasureRecords(list, &records) &&
           length - wire::get_description::kStep < wire::get_description::kList + records;
  }
  if (code == wire::code::kGetField) {
    const char* value = reply.data() + wire::get_field::kValue;
    const void* nul = std::memchr(value, '\0', length - wire::get_field::kValue);
    return nul != nullptr && length == wire::get_field::GrownLength(static_cast<uint32_t>(
                                           static_cast<const char*>(nul) - value));
  }
  return false;
}

}  // namespace

std::string NewRequest(uint32_t code, uint32_t length) {
  std::string block(std::max(length, hdr::kSize), '\0');
  tw::put_u32(block.data() + hdr::kCode, code);
  tw::put_u32(block.data() + hdr::kLength, static_cast<uint32_t>(block.size()));
  return block;
}

uint32_t Exchange(std::string* block, uint32_t flags) {
  if (block->size() < hdr::kSize) return TWFAIL_PROGRAM;
  if (block->size() > wire::kMaxMessage) return TWFAIL_OVERFLOW;
  const uint32_t sent = static_cast<uint32_t>(block->size());
  const uint32_t code = tw::get_u32(block->data() + hdr::kCode);
  const bool async = (flags & wire::CSMGR_ASYNC) != 0;
  tw::put_u32(block->data() + hdr::kLength, sent);
  tw::put_u32(block->data() + hdr::kFlags, flags);
  tw::put_u32(block->data() + hdr::kStatus, 0);

  TWIPC* conn = TWIPCOpen(wire::kPipeName, 0);
  if (conn == nullptr) return TWFAIL_CSMGR_UNREACHABLE;
  Connection closer{conn};
  uint32_t written = 0;
  if (!TWIPCWrite(conn, block->data(), sent, &written) || written != sent)
    return TWFAIL_CSMGR_COMMUNICATION;

  std::string reply(async ? hdr::kSize : std::max(sent, kReadStep), '\0');
  uint32_t got = 0;
  for (;;) {
    uint32_t n = 0;
    int more = 0;
    if (!TWIPCRead(conn, reply.data() + got, static_cast<uint32_t>(reply.size()) - got, &n, &more))
      return TWFAIL_CSMGR_COMMUNICATION;
    got += n;
    if (!more) break;
    // The pipe refuses messages above its limit, so this stays bounded.
    if (got == reply.size()) reply.resize(reply.size() + kReadStep);
  }
  reply.resize(got);

  if (got < hdr::kSize || tw::get_u32(reply.data() + hdr::kLength) != got)
    return TWFAIL_CSMGR_COMMUNICATION;
  if (async) {
    // The acknowledgement: zeros but Length 16; the handler's status never comes back.
    if (got != hdr::kSize || tw::get_u32(reply.data() + hdr::kCode) != 0 ||
        tw::get_u32(reply.data() + hdr::kFlags) != 0 ||
        tw::get_u32(reply.data() + hdr::kStatus) != 0)
      return TWFAIL_CSMGR_COMMUNICATION;
    *block = std::move(reply);
    return 0;
  }
  if (tw::get_u32(reply.data() + hdr::kCode) != code || !LengthFits(code, reply, sent))
    return TWFAIL_CSMGR_COMMUNICATION;
  uint32_t status = tw::get_u32(reply.data() + hdr::kStatus);
  *block = std::move(reply);
  return status;
}

uint32_t Bare(uint32_t code) {
  std::string block = NewRequest(code, wire::kBareMinLength);
  return Exchange(&block);
}

uint32_t ServerInit(bool reread, ServerInfo* out) {
  namespace si = wire::server_init;
  std::string block = NewRequest(wire::code::kServerInit, si::kMinLength);
  tw::put_i32(block.data() + si::kReread, reread ? 1 : 0);
  if (uint32_t st = Exchange(&block)) return st;
  ServerInfo info;
  if (!ReadText(block, si::kServerName, wire::kTextField, &info.serverName))
    return TWFAIL_CSMGR_COMMUNICATION;
  const char* b = block.data();
  info.serverId = tw::get_i32(b + si::kServerId);
  info.statusInterval = tw::get_i32(b + si::kStatusInterval);
  info.pollInterval = tw::get_i32(b + si::kPollInterval);
  info.maxDuration = tw::get_i32(b + si::kMaxDuration);
  info.maxActivities = tw::get_i32(b + si::kMaxActivities);
  info.closeTimeout = tw::get_i32(b + si::kCloseTimeout);
  info.translate = tw::get_i32(b + si::kTranslate);
  info.time = ReadDatetime(block, si::kTime);
  info.intl = ReadIntl(block, si::kIntl);
  *out = std::move(info);
  return 0;
}

uint32_t ServerState(int32_t state) {
  std::string block = NewRequest(wire::code::kServerState, wire::server_state::kMinLength);
  tw::put_i32(block.data() + wire::server_state::kState, state);
  return Exchange(&block);
}

uint32_t NextActivity(NextRun* out) {
  namespace na = wire::next_activity;
  std::string block = NewRequest(wire::code::kNextActivity, na::kMinLength);
  if (uint32_t st = Exchange(&block)) return st;
  NextRun next;
  next.handle = tw::get_i32(block.data() + na::kHandle);
  if (!IsSlotOrNone(next.handle) || !ReadText(block, na::kName, wire::kTextField, &next.name))
    return TWFAIL_CSMGR_COMMUNICATION;
  next.maxDuration = tw::get_i32(block.data() + na::kMaxDuration);
  next.priority = tw::get_i32(block.data() + na::kPriority);
  next.time = ReadDatetime(block, na::kTime);
  *out = std::move(next);
  return 0;
}

uint32_t DoneActivity(int32_t handle, uint32_t completion) {
  namespace da = wire::done_activity;
  std::string block = NewRequest(wire::code::kDoneActivity, da::kMinLength);
  tw::put_i32(block.data() + da::kHandle, handle);
  tw::put_u32(block.data() + da::kCompletion, completion);
  return Exchange(&block);
}

uint32_t RunActivity(int32_t waiter, std::string_view wireList) {
  namespace ra = wire::run_activity;
  if (wireList.size() < 2) return TWFAIL_INVALID_TEXT_LIST;
  if (wireList.size() > wire::kMaxMessage - ra::kNames) return TWFAIL_OVERFLOW;
  std::string block =
      NewRequest(wire::code::kRunActivity, ra::kNames + static_cast<uint32_t>(wireList.size()));
  tw::put_i32(block.data() + ra::kWaiter, waiter);
  std::memcpy(block.data() + ra::kNames, wireList.data(), wireList.size());
  return Exchange(&block);
}

uint32_t DoneRun(int32_t waiter, bool* finished) {
  namespace dr = wire::done_run;
  std::string block = NewRequest(wire::code::kDoneRun, dr::kMinLength);
  tw::put_i32(block.data() + dr::kHandle, waiter);
  if (uint32_t st = Exchange(&block)) return st;
  int32_t word = tw::get_i32(block.data() + dr::kHandle);
  if (word != 0 && word != waiter) return TWFAIL_CSMGR_COMMUNICATION;
  *finished = word == 0;
  return 0;
}

uint32_t GetDescription(int32_t handle, std::string* records) {
  namespace gd = wire::get_description;
  std::string block = NewRequest(wire::code::kGetDescription, gd::kClientLength);
  tw::put_i32(block.data() + gd::kHandle, handle);
  if (uint32_t st = Exchange(&block)) return st;
  std::string_view list(block.data() + gd::kList, block.size() - gd::kList);
  size_t length = 0;
  if (!MeasureRecords(list, &length)) return TWFAIL_CSMGR_COMMUNICATION;
  *records = std::string(list.substr(0, length));
  return 0;
}

uint32_t PutDescription(int32_t handle, std::string_view records) {
  namespace pd = wire::put_description;
  if (records.size() > wire::kMaxMessage - pd::kList) return TWFAIL_OVERFLOW;
  std::string block =
      NewRequest(wire::code::kPutDescription,
                 std::max(pd::kMinLength, pd::kList + static_cast<uint32_t>(records.size())));
  tw::put_i32(block.data() + pd::kHandle, handle);
  std::memcpy(block.data() + pd::kList, records.data(), records.size());
  return Exchange(&block);
}

uint32_t GetID(uint32_t kind, std::string_view name, int32_t* documentId) {
  namespace gi = wire::get_id;
  std::string block;
  if (uint32_t st = RequestWithText(wire::code::kGetID, gi::kName, name, &block)) return st;
  tw::put_u32(block.data() + gi::kKind, kind);
  if (uint32_t st = Exchange(&block)) return st;
  int32_t id = tw::get_i32(block.data() + gi::kDocumentId);
  // Document ids are even and positive; anything else is not an answer.
  if (id <= 0 || (id & 1) != 0) return TWFAIL_CSMGR_COMMUNICATION;
  *documentId = id;
  return 0;
}

uint32_t LogText(int32_t handle, uint32_t messageId, std::string_view text) {
  namespace lg = wire::log_request;
  std::string block;
  if (uint32_t st = RequestWithText(wire::code::kLog, lg::kText, text, &block)) return st;
  tw::put_u32(block.data() + lg::kMode, lg::kModeText);
  tw::put_i32(block.data() + lg::kHandle, handle);
  tw::put_u32(block.data() + lg::kMessageId, messageId);
  return Exchange(&block);
}

uint32_t LogCounts(int32_t handle, const int32_t* counts) {
  namespace lg = wire::log_request;
  std::string block = NewRequest(wire::code::kLog, lg::kCountsMinLength);
  tw::put_u32(block.data() + lg::kMode, lg::kModeCounts);
  tw::put_i32(block.data() + lg::kHandle, handle);
  for (uint32_t i = 0; i < CSMGR_LOG_COUNTS; ++i)
    tw::put_i32(block.data() + lg::kCounts + 4 * i, counts[i]);
  return Exchange(&block);
}

uint32_t Time(TWDatetime* now) {
  std::string block = NewRequest(wire::code::kTime, wire::time_request::kMinLength);
  if (uint32_t st = Exchange(&block)) return st;
  *now = ReadDatetime(block, wire::time_request::kTime);
  return 0;
}

uint32_t AdjustClock(const CSMgrClockAdjustment& a) {
  namespace ac = wire::adjust_clock;
  std::string block = NewRequest(wire::code::kAdjustClock, ac::kMinLength);
  const int32_t words[ac::kWords] = {a.years, a.months,  a.days,    a.unused,
                                     a.hours, a.minutes, a.seconds, a.fraction};
  for (uint32_t i = 0; i < ac::kWords; ++i)
    tw::put_i32(block.data() + ac::kAdjustment + 4 * i, words[i]);
  return Exchange(&block);
}

uint32_t GetField(int32_t handle, std::string_view item, std::string* value) {
  namespace gf = wire::get_field;
  // Room for a value of one text field's length; longer values grow the reply.
  std::string block = NewRequest(wire::code::kGetField, gf::kValue + wire::kTextField);
  tw::put_i32(block.data() + gf::kHandle, handle);
  PutFixedText(&block, gf::kItemName, item);
  if (uint32_t st = Exchange(&block)) return st;
  std::string text;
  if (!ReadText(block, gf::kValue, block.size(), &text)) return TWFAIL_CSMGR_COMMUNICATION;
  *value = std::move(text);
  return 0;
}

uint32_t PutField(int32_t handle, std::string_view item, std::string_view value) {
  namespace pf = wire::put_field;
  std::string block;
  if (uint32_t st = RequestWithText(wire::code::kPutField, pf::kValue, value, &block)) return st;
  tw::put_i32(block.data() + pf::kHandle, handle);
  PutFixedText(&block, pf::kItemName, item);
  return Exchange(&block);
}

uint32_t OpenActivity(std::string_view name, uint32_t flags, int32_t* handle) {
  namespace oa = wire::open_activity;
  std::string block;
  if (uint32_t st = RequestWithText(wire::code::kOpenActivity, oa::kName, name, &block)) return st;
  tw::put_u32(block.data() + oa::kFlags, flags);
  if (uint32_t st = Exchange(&block)) return st;
  int32_t h = tw::get_i32(block.data() + oa::kHandle);
  if (!wire::IsSlotHandle(h)) return TWFAIL_CSMGR_COMMUNICATION;
  *handle = h;
  return 0;
}

}  // namespace tw::engine::csmgr

namespace tw::engine {

uint32_t FetchDescription(int32_t handle, Description* out) {
  if (out == nullptr) return TWFAIL_NULL_RESULT;
  std::string records;
  if (uint32_t st = csmgr::GetDescription(handle, &records)) return st;
  return DecodeDescription(records, out);
}

}  // namespace tw::engine
