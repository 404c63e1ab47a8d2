// The SNMP link server: requests of TWSNMP_PIPE to scheduler commands, events to replies.
#include "snmp_link.h"

#include <cstring>
#include <string_view>

#include "catalogue.h"
#include "console.h"
#include "tw/coding.h"

namespace tw::server {
namespace {

// The size of a well-formed request of code; 0 for a code that is not defined.
uint32_t RequestSize(int32_t code) {
  switch (code) {
    case snmp::kServerInfo:
    case snmp::kActivityTable:
    case snmp::kDownServer:
    case snmp::kStopServer:
      return snmp::kHeaderSize;
    case snmp::kCloseActivity:
    case snmp::kKillActivity:
      return snmp::kRunRequestSize;
    default:
      return 0;
  }
}

// text cut to fit a field of size bytes with its NUL; the rest of the field stays zero.
void PutText(unsigned char* field, uint32_t size, std::string_view text) {
  copy_bounded(reinterpret_cast<char*>(field), size, text);
}

std::string Cut(std::string text, size_t size) {
  if (text.size() > size - 1) text.resize(size - 1);
  return text;
}

}  // namespace

SnmpLink::SnmpLink(TWProcPipe* scheduler, TWProcPipe* events, FILE* err)
    : scheduler_(scheduler), events_(events), err_(err) {
  ConsoleEvent first;
  if (ReadConsoleEvent(events_, &first) != TWSUCCESS || first.code != EventStarted) return;
  pipe_ = TWIPCCreate(snmp::kPipeName);
  if (pipe_ == nullptr) {
    Message(TWFAIL_SNMP_PIPE_CREATE);
    return;
  }
  uint32_t failure = 0;
  if (!TWIPCSetNoWait(pipe_))
    failure = TWFAIL_SNMP_PIPE_SETUP;
  else if (!TWIPCAllowClientConnections(pipe_))
    failure = TWFAIL_SNMP_PIPE_CONNECT;
  if (failure != 0) {
    Message(failure);
    TWIPCShutdown(pipe_, snmp::kPipeName);
    pipe_ = nullptr;
    return;
  }
  serverName_ = Cut(first.text, snmp::kNameSize);
  startTime_ = Cut(DatetimeText(first.time), snmp::kTimeTextSize);
  release_ = Cut(message_text(TWMSG_PRODUCT_RELEASE), snmp::kReleaseSize);
  active_ = true;
}

SnmpLink::~SnmpLink() {
  if (pipe_ == nullptr) return;
  if (client_ != nullptr) {
    TWIPCFlush(client_);
    TWIPCDisconnect(client_);
    client_ = nullptr;
  }
  TWIPCShutdown(pipe_, snmp::kPipeName);
  pipe_ = nullptr;
}

int SnmpLink::Run() {
  if (!active_) return 1;
  for (;;) {
    bool busy = false;
    if (client_ == nullptr) {
      client_ = TWIPCCheckForConnection(pipe_);
      if (client_ != nullptr) {
        busy = true;
        OnConnection();
      }
    }
    if (TWProcPipePeek(events_)) {
      busy = true;
      ConsoleEvent e;
      if (ReadConsoleEvent(events_, &e) != TWSUCCESS || !OnEvent(e)) return 0;
    }
    if (!busy) TWKeyboardSleep();
  }
}

// Reads the header and, for the codes that carry one, the run number: never more than the
// request of its code holds. False for a request that is cut short, names no defined code or
// is shorter than its code needs.
bool SnmpLink::ReadRequest(int32_t* code, int32_t* runNumber) {
  unsigned char header[snmp::kHeaderSize];
  uint32_t got = 0;
  int more = 0;
  if (!TWIPCReadNW(client_, header, sizeof header, &got, &more) || got != sizeof header)
    return false;
  *code = get_i32(header);
  uint32_t length = get_u32(header + 4);
  uint32_t size = RequestSize(*code);
  if (size == 0 || length < size) return false;
  if (size == snmp::kHeaderSize) return true;
  unsigned char argument[4];
  if (!more || !TWIPCReadNW(client_, argument, sizeof argument, &got, &more) ||
      got != sizeof argument)
    return false;
  *runNumber = get_i32(argument);
  return true;
}

void SnmpLink::OnConnection() {
  int32_t code = 0;
  int32_t runNumber = 0;
  if (!ReadRequest(&code, &runNumber)) {
    // No reply: nothing was asked that could be answered.
    EndClient();
    return;
  }
  switch (code) {
    case snmp::kServerInfo:
      pending_ = snmp::kServerInfo;
      Post(SchedShowStatus);
      break;
    case snmp::kActivityTable:
      table_.fill(0);
      entries_ = 0;
      pending_ = snmp::kActivityTable;
      Post(SchedList);
      break;
    case snmp::kCloseActivity:
      Post(SchedClose, runNumber);
      SendAck();
      break;
    case snmp::kKillActivity:
      Post(SchedKillConfirmed, runNumber);
      SendAck();
      break;
    case snmp::kDownServer:
      Post(SchedDown);
      SendAck();
      break;
    case snmp::kStopServer:
      Post(SchedStop);
      SendAck();
      break;
  }
}

bool SnmpLink::OnEvent(const ConsoleEvent& e) {
  switch (e.code) {
    case EventListLine:
      if (pending_ == snmp::kActivityTable) AddEntry(e);
      break;
    case EventListEmpty:
    case EventListEnd:
      if (pending_ == snmp::kActivityTable) {
        pending_ = 0;
        SendTable();
      }
      break;
    case EventStatus:
      if (pending_ == snmp::kServerInfo) {
        pending_ = 0;
        SendServerInfo(e);
      }
      break;
    case EventEnded:
      return false;
    default:
      break;
  }
  return true;
}

void SnmpLink::AddEntry(const ConsoleEvent& e) {
  if (entries_ >= snmp::kMaxEntries) {
    Message(TWFAIL_SNMP_TOO_MANY);
    return;
  }
  unsigned char* entry = table_.data() + snmp::kEntrySize * entries_++;
  put_i32(entry, e.closeRequested);
  put_i32(entry + 4, e.number);
  PutText(entry + snmp::kEntryTime, snmp::kTimeTextSize, DatetimeText(e.time));
  PutText(entry + snmp::kEntryName, snmp::kNameSize, e.text);
}

void SnmpLink::SendAck() {
  unsigned char ack[snmp::kHeaderSize];
  put_i32(ack, snmp::kReplyAck);
  put_u32(ack + 4, snmp::kHeaderSize);
  uint32_t written = 0;
  if (!TWIPCWriteNW(client_, ack, sizeof ack, &written)) Message(TWFAIL_SNMP_ACK);
  EndClient();
}

void SnmpLink::SendServerInfo(const ConsoleEvent& e) {
  std::array<unsigned char, snmp::kServerInfoSize> reply{};
  put_i32(reply.data(), snmp::kReplyServerInfo);
  put_u32(reply.data() + 4, snmp::kServerInfoSize);
  const StatusValues& s = e.status;
  const int32_t values[] = {s.serverId,     s.statusInterval, s.pollInterval, s.maxDuration,
                            s.closeTimeout, s.maxActivities,  s.state};
  for (size_t i = 0; i < std::size(values); ++i)
    put_i32(reply.data() + snmp::kInfoValues + 4 * i, values[i]);
  PutText(reply.data() + snmp::kInfoTime, snmp::kTimeTextSize, DatetimeText(e.time));
  PutText(reply.data() + snmp::kInfoStartTime, snmp::kTimeTextSize, startTime_);
  PutText(reply.data() + snmp::kInfoServerName, snmp::kNameSize, serverName_);
  PutText(reply.data() + snmp::kInfoRelease, snmp::kReleaseSize, release_);
  uint32_t written = 0;
  if (!TWIPCWriteNW(client_, reply.data(), snmp::kServerInfoSize, &written))
    Message(TWFAIL_SNMP_REPLY);
  EndClient();
}

void SnmpLink::SendTable() {
  // The end entry is the zeroed one after the last entry.
  uint32_t body = snmp::kEntrySize * (entries_ + 1);
  unsigned char header[snmp::kHeaderSize];
  put_i32(header, snmp::kReplyActivityTable);
  put_u32(header + 4, snmp::kHeaderSize + body);
  uint32_t written = 0;
  if (!TWIPCWriteNW(client_, header, sizeof header, &written) ||
      !TWIPCWriteNW(client_, table_.data(), body, &written))
    Message(TWFAIL_SNMP_REPLY);
  EndClient();
}

void SnmpLink::EndClient() {
  if (client_ == nullptr) return;
  TWIPCFlush(client_);
  TWIPCDisconnect(client_);
  client_ = nullptr;
  TWIPCAllowClientConnections(pipe_);
}

void SnmpLink::Post(int32_t code, int32_t argument) {
  // The pipe waits for room and fails only once it is gone, when nobody is left to hear.
  (void)PostSchedulerCommand(scheduler_, SchedulerCommand{code, kSourceSnmp, argument, 0});
}

void SnmpLink::Message(uint32_t id) {
  std::string line = message_text(id) + "\n";
  TWFileWrite(err_, static_cast<uint32_t>(line.size()), line.data());
  std::fflush(err_);
}

}  // namespace tw::server
