// The server's MIB: its table, the caches and their refresh over TWSNMP_PIPE, the handlers.
#include "tarnway_mib.h"

#include <cstring>

#include "catalogue.h"
#include "env.h"
#include "pipe_records.h"
#include "platform.h"
#include "tw/coding.h"

namespace tw::snmp {
namespace {

// What each object of the table reads. One table: the rows given to the link and the
// handlers' dispatch come from it.
enum class Source { requested, word, text, column };
struct Row {
  ObjectSpec spec;
  Source source;
  uint32_t arg;  // word: index into StateCache::words; text: offset; column: 1 to 5
};

constexpr uint32_t kRO = kReadOnlyAccess, kRW = kReadWriteAccess;
constexpr uint32_t I(uint32_t a) { return ObjectFlags(static_cast<uint8_t>(a), kTypeInteger, false); }
constexpr uint32_t T(uint32_t a) { return ObjectFlags(static_cast<uint8_t>(a), kTypeText, false); }
constexpr uint32_t CI(uint32_t a) { return ObjectFlags(static_cast<uint8_t>(a), kTypeInteger, true); }
constexpr uint32_t CT(uint32_t a) { return ObjectFlags(static_cast<uint8_t>(a), kTypeText, true); }

const Row kRows[] = {
    {{"1.1", I(kRW)}, Source::requested, 0},
    {{"2.1.1", T(kRO)}, Source::text, kInfoServerName},
    {{"2.1.2", I(kRO)}, Source::word, 0},
    {{"2.1.3", T(kRO)}, Source::text, kInfoRelease},
    {{"2.1.4", I(kRO)}, Source::word, 6},
    {{"2.1.5", T(kRO)}, Source::text, kInfoStartTime},
    {{"2.1.6", T(kRO)}, Source::text, kInfoTime},
    {{"2.1.7", I(kRO)}, Source::word, 1},
    {{"2.1.8", I(kRO)}, Source::word, 4},
    {{"2.1.9", I(kRO)}, Source::word, 2},
    {{"2.1.10", I(kRO)}, Source::word, 3},
    {{"2.1.11", I(kRO)}, Source::word, 5},
    {{"2.1.12.1.1", CI(kRO)}, Source::column, 1},
    {{"2.1.12.1.2", CT(kRO)}, Source::column, 2},
    {{"2.1.12.1.3", CT(kRO)}, Source::column, 3},
    {{"2.1.12.1.4", CI(kRO)}, Source::column, 4},
    {{"2.1.12.1.5", CI(kRW)}, Source::column, 5},
};

// The text of a fixed field: up to its NUL, or the whole field when it has none.
std::string FieldText(const unsigned char* field, size_t size) {
  const void* nul = std::memchr(field, 0, size);
  size_t n = nul ? static_cast<size_t>(static_cast<const unsigned char*>(nul) - field) : size;
  return std::string(reinterpret_cast<const char*>(field), n);
}

uint32_t ExpectedReply(int32_t request) {
  switch (request) {
    case kServerInfo:
      return kReplyServerInfo;
    case kActivityTable:
      return kReplyActivityTable;
    default:
      return kReplyAck;
  }
}

// Whether a reply of code may have length: the size checks that keep a reply inside the
// buffer it is read into.
bool SizeFits(int32_t code, uint32_t length) {
  switch (code) {
    case kReplyServerInfo:
      return length >= kServerInfoSize && length <= kServerInfoMax;
    case kReplyActivityTable: {
      if (length < kHeaderSize + kEntrySize) return false;
      uint32_t body = length - kHeaderSize;
      return body % kEntrySize == 0 && body / kEntrySize <= kMaxTableEntries;
    }
    case kReplyAck:
      return length == kHeaderSize;
    default:
      return false;
  }
}

int64_t Now() {
  return Env::Default()->NowMicros();
}

// Refreshes a stale cache with one request. The cache is cleared first: while twmain does
// not answer, the server counts as down and has no runs.
template <class Cache>
int Refresh(Cache& cache, int32_t code, uint32_t (*parse)(std::string_view, Cache*),
            ServerPipe& pipe, AgentLog& log) {
  if (!cache.stale) return 0;
  cache.Clear();
  std::string reply;
  int rc = pipe.Exchange(code, 0, &reply);
  if (rc == 0 && parse(reply, &cache) != 0) {
    log.Message(0, TWFAIL_SNMP_READ_SIZE);
    cache.Clear();
    rc = 1;
  }
  if (rc == 0) {
    cache.refreshed = Now();
    cache.stale = false;
  }
  return rc;
}

}  // namespace

const std::vector<ObjectSpec>& TarnwayTable() {
  static const std::vector<ObjectSpec> table = [] {
    std::vector<ObjectSpec> t;
    for (const Row& r : kRows) t.push_back(r.spec);
    return t;
  }();
  return table;
}

void StateCache::Clear() {
  words.fill(0);
  words[6] = kStateDown;
  time.clear();
  startTime.clear();
  name.clear();
  release.clear();
}

uint32_t ParseStateReply(std::string_view reply, StateCache* out) {
  if (reply.size() < kServerInfoSize || reply.size() > kServerInfoMax) return TWFAIL_SNMP_READ_SIZE;
  auto* p = reinterpret_cast<const unsigned char*>(reply.data());
  for (uint32_t i = 0; i < kInfoWords; ++i) out->words[i] = get_i32(p + kInfoValues + 4 * i);
  out->time = FieldText(p + kInfoTime, kTimeTextSize);
  out->startTime = FieldText(p + kInfoStartTime, kTimeTextSize);
  out->name = FieldText(p + kInfoServerName, kNameSize);
  out->release = FieldText(p + kInfoRelease, kReleaseSize);
  return 0;
}

uint32_t ParseTableReply(std::string_view reply, TableCache* out) {
  if (!SizeFits(kReplyActivityTable, static_cast<uint32_t>(reply.size()))) return TWFAIL_SNMP_READ_SIZE;
  auto* p = reinterpret_cast<const unsigned char*>(reply.data());
  size_t n = (reply.size() - kHeaderSize) / kEntrySize;
  const unsigned char* end = p + kHeaderSize + kEntrySize * (n - 1);
  for (size_t i = 0; i < kEntrySize; ++i)
    if (end[i] != 0) return TWFAIL_SNMP_READ_SIZE;  // no end entry: the table was cut or overrun
  std::vector<ActivityRow> rows;
  for (size_t i = 0; i + 1 < n; ++i) {
    const unsigned char* e = p + kHeaderSize + kEntrySize * i;
    ActivityRow row;
    row.value = get_i32(e);
    row.id = get_i32(e + kEntryRun);
    if (row.id == 0) break;
    row.text = FieldText(e + kEntryTime, kTimeTextSize);
    row.name = FieldText(e + kEntryName, kNameSize);
    rows.push_back(std::move(row));
  }
  out->rows = std::move(rows);
  return 0;
}

int ServerPipe::Exchange(int32_t code, int32_t runNumber, std::string* reply) {
  if (code >= 1 && code <= 6) ++counts_[code];
  TWIPC* h = TWIPCOpen(kPipeName, 0);
  if (h == nullptr) {
    log_.Line(3, "Could not connect to Tarnway - Tarn probably not running\n");
    return 3;
  }
  unsigned char request[kRunRequestSize];
  bool withRun = code == kCloseActivity || code == kKillActivity;
  uint32_t size = withRun ? kRunRequestSize : kHeaderSize;
  put_i32(request, code);
  put_u32(request + 4, size);
  if (withRun) put_i32(request + 8, runNumber);
  int result = 0;
  uint32_t count = 0;
  int more = 0;
  unsigned char header[kHeaderSize];
  if (!TWIPCWriteNW(h, request, size, &count) || !TWIPCFlush(h)) {
    log_.Message(0, TWFAIL_SNMP_PIPE_WRITE);
    result = 1;
  } else if (!TWIPCReadNW(h, header, kHeaderSize, &count, &more)) {
    log_.Message(0, TWFAIL_SNMP_PIPE_READ);
    result = 7;
  } else if (count < kHeaderSize) {
    log_.Message(0, TWFAIL_SNMP_READ_HEADER, count);
    result = 1;
  } else {
    int32_t replyCode = get_i32(header);
    uint32_t length = get_u32(header + 4);
    if (replyCode != kReplyServerInfo && replyCode != kReplyActivityTable &&
        replyCode != kReplyAck) {
      log_.Message(0, TWFAIL_SNMP_READ_CODE, replyCode);
      result = 1;
    } else if (static_cast<uint32_t>(replyCode) != ExpectedReply(code) ||
               !SizeFits(replyCode, length)) {
      log_.Message(0, TWFAIL_SNMP_READ_SIZE);
      result = 1;
    } else {
      reply->assign(reinterpret_cast<char*>(header), kHeaderSize);
      reply->resize(length);
      uint32_t have = kHeaderSize;
      while (have < length && more &&
             TWIPCReadNW(h, reply->data() + have, length - have, &count, &more) && count > 0)
        have += count;
      if (have < length) {
        log_.Message(0, TWFAIL_SNMP_READ_SIZE);
        result = 1;
      }
    }
  }
  // What is left of a refused reply goes with the connection.
  if (result != 0) log_.Message(0, TWFAIL_SNMP_READ_FLUSHED);
  TWIPCClose(h);
  return result;
}

TarnwayMib::TarnwayMib(AgentLog& log, ServerPipe& pipe, std::function<uint32_t()> start)
    : log_(log), pipe_(pipe), start_(std::move(start)) {}

void TarnwayMib::Age() {
  int64_t now = Now();
  if (!state_.stale && now - state_.refreshed > kCacheMicros) state_.stale = true;
  if (!table_.stale && now - table_.refreshed > kCacheMicros) table_.stale = true;
}

int TarnwayMib::RefreshState() {
  return Refresh(state_, kServerInfo, ParseStateReply, pipe_, log_);
}

int TarnwayMib::RefreshTable() {
  return Refresh(table_, kActivityTable, ParseTableReply, pipe_, log_);
}

int32_t TarnwayMib::SetsAllowed() {
  if (permission_ == Permission::unread) {
    permission_ = Permission::denied;
    char value[16] = {};
    uint32_t st = TWINIGetString("Configuration", "SNMP", value, sizeof value, "twmain.ini");
    if (st != TWSUCCESS)
      log_.Message(0, st);
    else if (std::strcmp(value, "2") == 0)
      permission_ = Permission::allowed;
    else if (std::strcmp(value, "1") != 0 && std::strcmp(value, "0") != 0)
      log_.Message(0, TWFAIL_SNMP_SETTING);
  }
  return permission_ == Permission::allowed ? kNoError : kReadOnly;
}

int32_t TarnwayMib::Handle(uint32_t kind, size_t index, const MibObject& object, Oid* instance,
                           std::string* value) {
  if (index >= std::size(kRows)) return kNoSuchName;
  const Row& row = kRows[index];
  switch (row.source) {
    case Source::requested:
      if (instance->count != 1 || instance->c[0] != 0) return kNoSuchName;
      return ServerStateObject(kind, value);
    case Source::word:
    case Source::text:
      return ScalarObject(kind, index, *instance, value);
    case Source::column:
      return ColumnObject(kind, row.arg, instance, value);
  }
  return kGenErr;
}

int32_t TarnwayMib::ServerStateObject(uint32_t kind, std::string* value) {
  int32_t v = 0;
  switch (kind) {
    case kMsgGet:
    case kMsgGetNext:
      *value = IntegerValue(requested_);
      return kNoError;
    case kMsgSetUndo:
      return kNoError;
    case kMsgSetTest: {
      if (int32_t st = SetsAllowed(); st != kNoError) return st;
      if (!ReadInteger(*value, &v)) return kBadValue;
      (void)RefreshState();  // a failed refresh leaves the server down
      int32_t state = state_.state();
      if (v == 1 && state != kStateDown) {
        log_.Line(3, "SetServerState - can only start if down\n");
        return kBadValue;
      }
      if (v == 2 && state != kStateRunning) {
        log_.Line(3, "SetServerState - can only down if server is running\n");
        return kBadValue;
      }
      if (v == 3 && state != kStateRunning && state != kStateShuttingDown) {
        log_.Line(3, "SetServerState - can only stop if runing or downing\n");
        return kBadValue;
      }
      if (v < 1 || v > 3) {
        log_.Line(1, "SetServerState - illegal value\n");
        return kBadValue;
      }
      return kNoError;
    }
    case kMsgSetCommit: {
      if (int32_t st = SetsAllowed(); st != kNoError) return st;
      if (!ReadInteger(*value, &v) || v < 1 || v > 3) return kBadValue;
      if (v == 1) {
        int64_t now = Now();
        if (started_ && now - startedAt_ < kStartMicros) return kNoError;
        if (uint32_t st = start_(); st != 0) {
          log_.Message(0, st);
          return kGenErr;
        }
        started_ = true;
        startedAt_ = now;
      } else {
        std::string reply;
        if (pipe_.Exchange(v == 2 ? kDownServer : kStopServer, 0, &reply) != 0) return kGenErr;
      }
      state_.stale = true;
      requested_ = v;
      return kNoError;
    }
    default:
      return kGenErr;
  }
}

int32_t TarnwayMib::ScalarObject(uint32_t kind, size_t index, const Oid& instance,
                                 std::string* value) {
  if (kind != kMsgGet && kind != kMsgGetNext) return kReadOnly;
  if (instance.count != 1 || instance.c[0] != 0) return kNoSuchName;
  (void)RefreshState();
  const Row& row = kRows[index];
  if (row.source == Source::word) {
    *value = IntegerValue(state_.words[row.arg]);
    return kNoError;
  }
  switch (row.arg) {
    case kInfoServerName:
      *value = state_.name;
      break;
    case kInfoRelease:
      *value = state_.release;
      break;
    case kInfoStartTime:
      *value = state_.startTime;
      break;
    default:
      *value = state_.time;
      break;
  }
  return kNoError;
}

int32_t TarnwayMib::ColumnObject(uint32_t kind, size_t column, Oid* instance,
                                 std::string* value) {
  // Rows are numbered from 1; a get-next names the row before the one it wants (0: none).
  uint32_t asked = instance->count > 0 ? instance->c[0] : 0;
  if (kind == kMsgSetTest || kind == kMsgSetCommit || kind == kMsgSetUndo) {
    if (column != 5) return kReadOnly;
    return CloseOrKill(kind, asked, value);
  }
  if (kind != kMsgGet && kind != kMsgGetNext) return kGenErr;
  uint32_t row = kind == kMsgGetNext ? asked + 1 : asked;
  if (kind == kMsgGet && instance->count != 1) return kNoSuchName;
  (void)RefreshTable();
  if (row == 0 || row > table_.rows.size()) return kNoSuchName;
  const ActivityRow& r = table_.rows[row - 1];
  switch (column) {
    case 1:
      *value = IntegerValue(r.id);
      break;
    case 2:
      *value = r.name;
      break;
    case 3:
      *value = r.text;
      break;
    case 4:
      *value = IntegerValue(r.value);
      break;
    default:
      *value = IntegerValue(0);
      break;
  }
  *instance = Oid{};
  (void)instance->Append(row);
  return kNoError;
}

int32_t TarnwayMib::CloseOrKill(uint32_t kind, uint32_t row, std::string* value) {
  auto pending = [&]() {
    for (auto it = pending_.begin(); it != pending_.end(); ++it)
      if (it->first == row) return it;
    return pending_.end();
  };
  if (kind == kMsgSetUndo) {
    if (auto it = pending(); it != pending_.end()) pending_.erase(it);
    return kNoError;
  }
  if (int32_t st = SetsAllowed(); st != kNoError) return st;
  int32_t v = 0;
  if (!ReadInteger(*value, &v) || (v != 1 && v != 2)) return kBadValue;
  if (kind == kMsgSetTest) {
    // A test after a commit belongs to a new request.
    if (committed_) {
      pending_.clear();
      committed_ = false;
    }
    (void)RefreshTable();
    if (row == 0 || row > table_.rows.size()) return kNoSuchName;
    int32_t id = table_.rows[row - 1].id;
    if (auto it = pending(); it != pending_.end())
      it->second = id;
    else
      pending_.emplace_back(row, id);
    return kNoError;
  }
  committed_ = true;
  auto it = pending();
  if (it == pending_.end()) return kGenErr;  // never tested: no run number to act on
  int32_t id = it->second;
  pending_.erase(it);
  std::string reply;
  if (pipe_.Exchange(v == 1 ? kCloseActivity : kKillActivity, id, &reply) != 0) return kGenErr;
  table_.stale = true;
  return kNoError;
}

}  // namespace tw::snmp
