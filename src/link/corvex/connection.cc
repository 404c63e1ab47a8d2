// The life of one Corvex link: the process's client-library context, messages, sessions,
// properties, connect with the character set, disconnect, running statements and actions.
#include "connection.h"

#include <algorithm>
#include <cstring>
#include <mutex>

extern "C" int corvex_load_string(uint32_t id, char* buffer, int size);

namespace corvex {
namespace {

// The client-library context of the process, shared by every link and counted, so that the
// last link to go takes it down whatever flags the engine passed.
std::mutex gContextLock;
CS_CONTEXT* gContext = nullptr;
uint32_t gContextUsers = 0;

// The link a server connection belongs to (its CS_USERDATA), or null.
Connection* OwnerOf(CS_CONNECTION* con) {
  if (con == nullptr) return nullptr;
  Connection* owner = nullptr;
  if (ct_con_props(con, CS_GET, CS_USERDATA, &owner, sizeof owner, nullptr) != CS_SUCCEED)
    return nullptr;
  return owner;
}

CS_RETCODE ClientMessage(CS_CONTEXT*, CS_CONNECTION* con, CS_CLIENTMSG* msg) {
  if (msg == nullptr || CS_SEVERITY(msg->msgnumber) == 0) return CS_SUCCEED;
  if (Connection* c = OwnerOf(con))
    c->Record(msg->msgnumber,
              std::string_view(msg->msgstring, std::max<CS_INT>(msg->msgstringlen, 0)));
  return CS_SUCCEED;
}

CS_RETCODE ServerMessage(CS_CONTEXT*, CS_CONNECTION* con, CS_SERVERMSG* msg) {
  if (msg == nullptr) return CS_SUCCEED;
  // The database a connection is in: the login's own comes only this way.
  constexpr CS_INT kChangedDatabase = 5701;
  if (msg->msgnumber == kChangedDatabase) {
    const std::string_view text(msg->text, std::max<CS_INT>(msg->textlen, 0));
    const size_t open = text.find('\''), close = text.rfind('\'');
    Connection* c = OwnerOf(con);
    if (c != nullptr && open != std::string_view::npos && close > open)
      c->currentDatabase = std::string(text.substr(open + 1, close - open - 1));
  }
  // Severity 10 and below are information (a changed database, a print).
  if (msg->severity <= 10) return CS_SUCCEED;
  if (Connection* c = OwnerOf(con))
    c->Record(msg->msgnumber, std::string_view(msg->text, std::max<CS_INT>(msg->textlen, 0)));
  return CS_SUCCEED;
}

uint32_t LogCode(CS_RETCODE rc) {
  return TWActivityLogStream(0, nullptr, static_cast<uint32_t>(rc));
}

uint32_t AcquireContext() {
  std::lock_guard<std::mutex> lock(gContextLock);
  if (gContext == nullptr) {
    CS_CONTEXT* ctx = nullptr;
    CS_RETCODE rc = cs_ctx_alloc(CS_VERSION_100, &ctx);
    if (rc == CS_SUCCEED) rc = ct_init(ctx, CS_VERSION_100);
    if (rc == CS_SUCCEED)
      rc = ct_callback(ctx, nullptr, CS_SET, CS_CLIENTMSG_CB,
                       reinterpret_cast<CS_VOID*>(&ClientMessage));
    if (rc == CS_SUCCEED)
      rc = ct_callback(ctx, nullptr, CS_SET, CS_SERVERMSG_CB,
                       reinterpret_cast<CS_VOID*>(&ServerMessage));
    if (rc != CS_SUCCEED) {
      if (ctx != nullptr) {
        (void)ct_exit(ctx, CS_FORCE_EXIT);
        (void)cs_ctx_drop(ctx);
      }
      // The engine's answer to a logged error, never CS_FAIL's 0.
      (void)LogCode(rc);
      return TWFAIL_EXTERNAL;
    }
    gContext = ctx;
  }
  ++gContextUsers;
  return TWSUCCESS;
}

void ReleaseContext() {
  std::lock_guard<std::mutex> lock(gContextLock);
  if (gContextUsers == 0 || --gContextUsers != 0) return;
  (void)ct_exit(gContext, CS_FORCE_EXIT);
  (void)cs_ctx_drop(gContext);
  gContext = nullptr;
}

}  // namespace

uint32_t MetadataSet(Connection& c, bool assigned) {
  (void)assigned;
  c.metadataGeneration = c.nextGeneration++;
  return TWSUCCESS;
}

Connection::~Connection() {
  (void)Terminate(0);
}

uint32_t Connection::Initialize(uint32_t connectCode, uint32_t flags) {
  (void)flags;
  connectCode_ = connectCode;
  metadataGeneration = 1;
  nextGeneration = 2;
  tw::twx::ApplyDefaults(kProperties, props);
  if (!contextHeld_) {
    if (uint32_t st = AcquireContext()) return st;
    contextHeld_ = true;
  }
  return TWSUCCESS;
}

uint32_t Connection::Terminate(uint32_t flags) {
  (void)flags;
  if (connected()) (void)Disconnect(0);
  tw::twx::ReleaseProperties(kProperties, props);
  TWStreamDataFree(&scratch_);
  if (contextHeld_) {
    contextHeld_ = false;
    ReleaseContext();
  }
  return TWSUCCESS;
}

uint32_t Connection::SetProperty(uint32_t token, TWFIELD src) {
  const Row* row = tw::twx::FindProperty(kProperties, token, tw::twx::kSet);
  if (row == nullptr) return tw::twx::InvalidProperty(token);
  return tw::twx::SetProperty(*row, *this, props, src, textFormat());
}

uint32_t Connection::GetProperty(uint32_t token, TWFIELD dest) {
  const Row* row = tw::twx::FindProperty(kProperties, token, tw::twx::kGet);
  if (row == nullptr) return tw::twx::InvalidProperty(token);
  return tw::twx::GetProperty(*row, props, dest);
}

std::string_view Connection::TextOf(const TWStream& s) {
  if (s.data == nullptr) return {};
  return std::string_view(static_cast<const char*>(s.data), s.length);
}

uint32_t Connection::InFormat(const TWStream& source, std::string* out) {
  flowcore::StreamData converted;
  if (uint32_t st =
          TWStreamDataConvert(converted.get(), &source, 0, textFormat(), nullptr, nullptr))
    return st;
  *out = std::string(converted.view());
  return TWSUCCESS;
}

// ---------------------------------------------------------------- messages ------------

void Connection::Record(CS_INT number, std::string_view text) {
  if (firstMessage_ == 1) firstMessage_ = number;
  if (mute_ || number == kMissingObject || number == kMissingTruncate) return;
  while (!text.empty() &&
         (text.back() == ' ' || text.back() == '\n' || text.back() == '\r' || text.back() == '\t'))
    text.remove_suffix(1);
  flowcore::StreamData s;
  if (s.Set(textFormat(), text) != TWSUCCESS && s.Set(TWSTREAMFMT_NATIVE, text) != TWSUCCESS) {
    (void)TWActivityLogStream(0, nullptr, static_cast<uint32_t>(number));
    return;
  }
  (void)TWActivityLogStream(0, s.get(), static_cast<uint32_t>(number));
}

uint32_t Connection::Funnel() {
  const CS_INT number = firstMessage_;
  firstMessage_ = 1;
  if (number == kMissingObject || number == kMissingTruncate) return TWFAIL_INVALID_METADATA;
  // A failure the library gave no message for still leaves a line in the log.
  if (number == 1 || number == 0) return TWActivityLog(TWFAIL_EXTERNAL);
  return TWFAIL_EXTERNAL;
}

uint32_t Connection::LogOwn(uint32_t id, bool informational) {
  char text[256] = "";
  corvex_load_string(id, text, sizeof text);
  flowcore::StreamData s;
  if (uint32_t st = s.Set(textFormat(), text)) return st;
  return TWActivityLogStream(informational ? TWLOGSTREAMF_EVENT : 0, s.get(), 0);
}

uint32_t Connection::MissingMetadata() {
  return TWActivityLogEx(TWFAIL_INVALID_METADATA, 0, 0, 0, &props.metadata, nullptr, nullptr);
}

uint32_t Connection::LogField(uint32_t status, TWFIELDLIST list, uint32_t index) {
  flowcore::StreamData name;
  if (TWFieldlistGetName(list, index, TWSTREAMFMT_NATIVE, name.get()) != TWSUCCESS) name.Free();
  return TWActivityLogEx(status, 0, 0, 0, name.get(), nullptr, nullptr);
}

// ---------------------------------------------------------------- statements ----------

uint32_t Connection::AllocCommand(CS_CONNECTION* con, CS_COMMAND** cmd) {
  *cmd = nullptr;
  if (con == nullptr) return TWFAIL_INVALID_CONNECT;
  if (ct_cmd_alloc(con, cmd) != CS_SUCCEED) {
    *cmd = nullptr;
    return Funnel();
  }
  return TWSUCCESS;
}

uint32_t Connection::Run(CS_COMMAND* cmd, std::string_view text, bool cancelAfter, CS_INT* count) {
  uint32_t st;
  firstMessage_ = 1;
  if (ct_command(cmd, CS_LANG_CMD, const_cast<char*>(text.data()), static_cast<CS_INT>(text.size()),
                 CS_UNUSED) == CS_SUCCEED)
    st = Drain(cmd, cancelAfter, count);
  else
    st = Funnel();
  if (st != TWSUCCESS) Discard(cmd);
  return st;
}

uint32_t Connection::Drain(CS_COMMAND* cmd, bool cancelAfter, CS_INT* count) {
  firstMessage_ = 1;
  pendingType_ = 0;
  if (ct_send(cmd) != CS_SUCCEED || messaged()) {
    uint32_t st = Funnel();
    Discard(cmd);
    return st;
  }
  bool counted = false;
  bool failed = false;
  CS_RETCODE rc;
  CS_INT type = 0;
  while ((rc = ct_results(cmd, &type)) == CS_SUCCEED) {
    if (type == CS_CMD_FAIL) {
      failed = true;
      continue;
    }
    if (type == CS_CMD_SUCCEED || type == CS_CMD_DONE) {
      if (count != nullptr && !counted && !messaged()) {
        CS_INT rows = -1;
        mute_ = true;
        if (ct_res_info(cmd, CS_ROW_COUNT, &rows, CS_UNUSED, nullptr) != CS_SUCCEED) rows = -1;
        mute_ = false;
        if (rows >= 0) {
          *count = rows;
          counted = true;
        }
      }
      continue;
    }
    // A result with rows: the caller's, or dropped when it only wants the statement run.
    if (!cancelAfter && !failed && !messaged()) {
      pendingType_ = type;
      return TWSUCCESS;
    }
    (void)ct_cancel(nullptr, cmd, CS_CANCEL_CURRENT);
  }
  if (count != nullptr && !counted) *count = -1;
  if ((rc != CS_END_RESULTS) || failed || messaged()) {
    if (!messaged()) firstMessage_ = 0;  // a failure without a message is still one
    uint32_t st = Funnel();
    Discard(cmd);
    return st;
  }
  return TWSUCCESS;
}

void Connection::Discard(CS_COMMAND* cmd) {
  if (cmd == nullptr) return;
  const bool wasMute = mute_;
  const CS_INT register_ = firstMessage_;
  mute_ = true;
  CS_INT type = 0;
  CS_RETCODE rc;
  while ((rc = ct_results(cmd, &type)) == CS_SUCCEED) {
    if (type == CS_ROW_RESULT || type == CS_CURSOR_RESULT || type == CS_PARAM_RESULT ||
        type == CS_STATUS_RESULT || type == CS_COMPUTE_RESULT || type == CS_DESCRIBE_RESULT)
      (void)ct_cancel(nullptr, cmd, CS_CANCEL_CURRENT);
  }
  if (rc != CS_END_RESULTS) (void)ct_cancel(nullptr, cmd, CS_CANCEL_ALL);
  mute_ = wasMute;
  firstMessage_ = register_;
}

uint32_t Connection::RunOnWork(std::string_view text, CS_INT* count) {
  CS_COMMAND* cmd = nullptr;
  if (uint32_t st = AllocCommand(work_, &cmd)) return st;
  uint32_t st = Run(cmd, text, true, count);
  (void)ct_cmd_drop(cmd);
  return st;
}

uint32_t Connection::UseDatabase(CS_COMMAND* cmd, std::string_view name) {
  if (name.empty()) name = TextOf(props.database);
  if (name.empty()) return TWSUCCESS;
  return Run(cmd, UseText(name), true);
}

// ---------------------------------------------------------------- sessions ------------

uint32_t Connection::OpenConnection(CS_CONNECTION** slot, bool bulkLogin) {
  *slot = nullptr;
  CS_CONNECTION* con = nullptr;
  firstMessage_ = 1;
  if (ct_con_alloc(gContext, &con) != CS_SUCCEED) return Funnel();
  Connection* self = this;
  const std::string_view user = TextOf(props.userid), password = TextOf(props.password),
                         server = TextOf(props.server);
  bool ok = ct_con_props(con, CS_SET, CS_USERDATA, &self, sizeof self, nullptr) == CS_SUCCEED &&
            ct_con_props(con, CS_SET, CS_USERNAME, const_cast<char*>(user.data()),
                         static_cast<CS_INT>(user.size()), nullptr) == CS_SUCCEED;
  if (ok && !password.empty())
    ok = ct_con_props(con, CS_SET, CS_PASSWORD, const_cast<char*>(password.data()),
                      static_cast<CS_INT>(password.size()), nullptr) == CS_SUCCEED;
  CS_BOOL on = CS_TRUE;
  if (ok && bulkLogin)
    ok = ct_con_props(con, CS_SET, CS_BULK_LOGIN, &on, CS_UNUSED, nullptr) == CS_SUCCEED;
  if (ok)
    ok = ct_connect(con, server.empty() ? nullptr : const_cast<char*>(server.data()),
                    static_cast<CS_INT>(server.size())) == CS_SUCCEED;
  if (ok && messaged()) ok = false;
  if (!ok) {
    if (!messaged()) firstMessage_ = 0;
    uint32_t st = Funnel();
    (void)ct_con_drop(con);
    return st;
  }
  *slot = con;
  return TWSUCCESS;
}

void Connection::CloseConnection(CS_CONNECTION** slot) {
  if (*slot == nullptr) return;
  const bool wasMute = mute_;
  mute_ = true;
  (void)ct_close(*slot, CS_FORCE_CLOSE);
  (void)ct_con_drop(*slot);
  mute_ = wasMute;
  *slot = nullptr;
}

uint32_t Connection::Connect() {
  if (connected()) return TWSUCCESS;
  if (!contextHeld_) {
    if (uint32_t st = AcquireContext()) return st;
    contextHeld_ = true;
  }
  CS_INT textSize = 0x7FFFFFFF;
  auto option = [&](CS_CONNECTION* con) -> uint32_t {
    firstMessage_ = 1;
    if (ct_options(con, CS_SET, CS_OPT_TEXTSIZE, &textSize, CS_UNUSED, nullptr) != CS_SUCCEED) {
      if (!messaged()) firstMessage_ = 0;
      return Funnel();
    }
    return TWSUCCESS;
  };
  uint32_t st = OpenConnection(&main_, false);
  if (st != TWSUCCESS) return st;
  st = option(main_);
  if (st == TWSUCCESS) st = OpenConnection(&work_, false);
  if (st == TWSUCCESS) st = option(work_);
  if (st == TWSUCCESS) st = AllocCommand(main_, &read_.cmd);
  if (st == TWSUCCESS) st = ReadCharacterSet();
  if (st == TWSUCCESS) st = UseDatabase(read_.cmd, {});
  if (st == TWSUCCESS && props.database.length > 0) st = RunOnWork(UseText(TextOf(props.database)));
  if (st != TWSUCCESS) {
    mute_ = true;
    CloseConnection(&work_);
    if (read_.cmd != nullptr) (void)ct_cmd_drop(read_.cmd);
    read_.cmd = nullptr;
    CloseConnection(&main_);
    mute_ = false;
    return st;
  }
  return TWSUCCESS;
}

uint32_t Connection::ReadCharacterSet() {
  CS_COMMAND* cmd = nullptr;
  if (uint32_t st = AllocCommand(work_, &cmd)) return st;
  uint32_t st = Run(cmd, "select @@client_csname", false);
  if (st == TWSUCCESS) {
    char name[41] = {};
    CS_INT copied = 0;
    CS_SMALLINT indicator = 0;
    CS_DATAFMT fmt{};
    fmt.datatype = CS_CHAR_TYPE;
    fmt.maxlength = 40;
    fmt.count = 1;
    fmt.format = CS_FMT_UNUSED;
    CS_INT rows = 0;
    if (ct_bind(cmd, 1, &fmt, name, &copied, &indicator) == CS_SUCCEED &&
        ct_fetch(cmd, CS_UNUSED, CS_UNUSED, CS_UNUSED, &rows) == CS_SUCCEED) {
      std::string_view set(name, static_cast<size_t>(std::clamp<CS_INT>(copied, 0, 40)));
      while (!set.empty() && (set.back() == '\0' || set.back() == ' ')) set.remove_suffix(1);
      bool found = false;
      const uint32_t format = FormatOfCharacterSet(set, &found);
      if (found) {
        props.textFormat = static_cast<int32_t>(format);
        ConvertTextProperties();
      } else {
        // A link keeps the native format for a set the engine does not read; the name says
        // which.
        props.textFormat = TWSTREAMFMT_NATIVE;
        flowcore::StreamData s;
        if (s.Set(TWSTREAMFMT_NATIVE, set) == TWSUCCESS)
          (void)TWActivityLogEx(TWEVENT_CHARACTER_SET, 0, 0, 0, s.get(), nullptr, nullptr);
      }
    }
  }
  Discard(cmd);
  (void)ct_cmd_drop(cmd);
  return st;
}

void Connection::ConvertTextProperties() {
  for (TWStream Props::*p :
       {&Props::database, &Props::metadata, &Props::index, &Props::condition, &Props::stampField}) {
    TWStream& old = props.*p;
    if (old.data == nullptr) continue;
    TWStream converted{};
    if (TWStreamDataConvert(&converted, &old, 0, textFormat(), nullptr, nullptr) == TWSUCCESS) {
      TWStreamDataFree(&old);
      old = converted;
    } else {
      TWStreamDataFree(&converted);
    }
  }
}

uint32_t Connection::Disconnect(uint32_t errorFlag) {
  (void)errorFlag;  // nothing is held in a transaction but the bulk batch, ended by release
  if (!connected()) return TWSUCCESS;
  uint32_t st = ReleaseStatements();
  mute_ = true;
  if (positioned_ != nullptr) (void)ct_cmd_drop(positioned_);
  positioned_ = nullptr;
  if (read_.cmd != nullptr) (void)ct_cmd_drop(read_.cmd);
  read_.cmd = nullptr;
  mute_ = false;
  CloseConnection(&work_);
  CloseConnection(&main_);
  return st;
}

uint32_t Connection::Action(uint32_t code) {
  switch (code) {
    case TWACTION_RESET:
      return ReleaseStatements();
    case TWACTION_TRUNCATE: {
      if (!connected()) return TWFAIL_INVALID_CONNECT;
      if (props.metadata.length == 0) return MissingMetadata();
      uint32_t st = RunOnWork(TruncateText(TextOf(props.metadata)));
      if (st == TWFAIL_INVALID_METADATA) return MissingMetadata();
      return st;
    }
    default:
      return TWFAIL_UNAVAILABLE;
  }
}

// ---------------------------------------------------------------- release -------------

uint32_t Connection::CloseCursor() {
  endOfResult_ = false;
  rowCurrent_ = false;
  resultOpen_ = false;
  if (read_.cmd != nullptr) {
    const bool wasMute = mute_;
    mute_ = true;
    Discard(read_.cmd);
    if (cursorOpen_) {
      if (ct_cursor(read_.cmd, CS_CURSOR_CLOSE, nullptr, CS_UNUSED, nullptr, CS_UNUSED,
                    CS_DEALLOC) == CS_SUCCEED)
        (void)Drain(read_.cmd, true);
      else if (ct_cursor(read_.cmd, CS_CURSOR_DEALLOC, nullptr, CS_UNUSED, nullptr, CS_UNUSED,
                         CS_UNUSED) == CS_SUCCEED)
        (void)Drain(read_.cmd, true);
      cursorOpen_ = false;
    }
    mute_ = wasMute;
  }
  firstMessage_ = 1;
  read_.merged.reset();
  read_.sequence = 0;
  read_.columnOf.clear();
  read_.desc.reset();
  read_.atCursor = false;
  firstPiecewise_ = -1;
  return TWSUCCESS;
}

uint32_t Connection::Release(Statement& st, bool full) {
  uint32_t status = TWSUCCESS;
  if (st.prepared && st.cmd != nullptr) {
    const bool wasMute = mute_;
    mute_ = true;
    if (ct_dynamic(st.cmd, CS_DEALLOC, const_cast<char*>(st.id.data()),
                   static_cast<CS_INT>(st.id.size()), nullptr, CS_UNUSED) == CS_SUCCEED)
      (void)Drain(st.cmd, true);
    Discard(st.cmd);
    mute_ = wasMute;
    firstMessage_ = 1;
  }
  st.prepared = false;
  st.merged.reset();
  st.sequence = 0;
  st.columnOf.clear();
  st.atCursor = false;
  if (!full) return status;
  if (&st == &insert_ && bulkStarted_) {
    status = EndBatch(true);
    bulkStarted_ = false;
  }
  st.desc.reset();
  return status;
}

uint32_t Connection::ReleaseStatements() {
  uint32_t status = CloseCursor();
  for (Statement* st : {&insert_, &update_, &remove_}) {
    uint32_t s = Release(*st, true);
    if (status == TWSUCCESS) status = s;
  }
  mute_ = true;
  for (Statement* st : {&insert_, &update_, &remove_}) {
    if (st->cmd != nullptr) (void)ct_cmd_drop(st->cmd);
    st->cmd = nullptr;
  }
  if (blk_ != nullptr) (void)blk_drop(blk_);
  blk_ = nullptr;
  mute_ = false;
  CloseConnection(&bulk_);
  firstMessage_ = 1;
  return status;
}

}  // namespace corvex
