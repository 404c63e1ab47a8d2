// The life of one Xandb connection: the shared client environment, initialise with the client
// code page, connect with the type scan, disconnect, the property dispatch with its
// follow-ups, the actions, the error funnel and the commit step.
#include "connection.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform.h"
#include "twx_props.h"
#include "twx_sqlstate.h"

namespace xandb {
namespace {

// One client environment for every connection of the process. The engine brackets it with
// its first and last contexts; it is counted as well, so that no connection finds it freed
// under it whatever order contexts end in.
class ClientEnvironment {
 public:
  static ClientEnvironment& Get() {
    static ClientEnvironment environment;
    return environment;
  }
  SQLHENV Handle() {
    std::lock_guard lock(mutex_);
    return handle_;
  }
  // Allocates it for the first user; the client's code when that fails.
  SQLRETURN Acquire() {
    std::lock_guard lock(mutex_);
    if (handle_ == SQL_NULL_HENV) {
      SQLHENV made = SQL_NULL_HENV;
      const SQLRETURN rc = Api().AllocEnv(&made);
      if (!Ok(rc) || made == SQL_NULL_HENV) {
        if (made != SQL_NULL_HENV) Api().FreeEnv(made);
        return Ok(rc) ? SQL_ERROR : rc;
      }
      handle_ = made;
    }
    ++users_;
    return SQL_SUCCESS;
  }
  // Frees it after the last user.
  void Release() {
    std::lock_guard lock(mutex_);
    if (users_ > 0 && --users_ == 0 && handle_ != SQL_NULL_HENV) {
      Api().FreeEnv(handle_);
      handle_ = SQL_NULL_HENV;
    }
  }

 private:
  std::mutex mutex_;
  SQLHENV handle_ = SQL_NULL_HENV;
  int users_ = 0;
};

// XandbCODEPAGE: the client's code page and the link text format it gives.
struct CodePageRow {
  long page;
  uint32_t format;
};
constexpr CodePageRow kCodePages[] = {
    {.page = 437, .format = TWSTREAMFMT_CP437},   {.page = 813, .format = TWSTREAMFMT_CP813},
    {.page = 850, .format = TWSTREAMFMT_CP850},   {.page = 852, .format = TWSTREAMFMT_CP852},
    {.page = 855, .format = TWSTREAMFMT_CP855},   {.page = 857, .format = TWSTREAMFMT_CP857},
    {.page = 862, .format = TWSTREAMFMT_CP862},   {.page = 863, .format = TWSTREAMFMT_CP863},
    {.page = 864, .format = TWSTREAMFMT_CP864},   {.page = 866, .format = TWSTREAMFMT_CP866},
    {.page = 869, .format = TWSTREAMFMT_CP869},   {.page = 932, .format = TWSTREAMFMT_CP932},
    {.page = 942, .format = TWSTREAMFMT_CP942},   {.page = 943, .format = TWSTREAMFMT_CP932},
    {.page = 949, .format = TWSTREAMFMT_CP949},   {.page = 950, .format = TWSTREAMFMT_CP950},
    {.page = 1004, .format = TWSTREAMFMT_CP1004}, {.page = 1250, .format = TWSTREAMFMT_CP1250},
    {.page = 1251, .format = TWSTREAMFMT_CP1251}, {.page = 1252, .format = TWSTREAMFMT_CP1252},
    {.page = 1253, .format = TWSTREAMFMT_CP1253}, {.page = 1254, .format = TWSTREAMFMT_CP1254},
    {.page = 1255, .format = TWSTREAMFMT_CP1255}, {.page = 1256, .format = TWSTREAMFMT_CP1256},
    {.page = 1363, .format = TWSTREAMFMT_NATIVE}, {.page = 1381, .format = TWSTREAMFMT_CP936},
};

// The link text format of XandbCODEPAGE; a page the client names but the table lacks (or
// takes as native) is logged as a warning and the native format used.
uint32_t LinkFormatOfEnvironment() {
  char buffer[41] = {};
  uint32_t length = 40;
  if (TWPlatGetEnv("XandbCODEPAGE", buffer, &length) != TWSUCCESS) return TWSTREAMFMT_NATIVE;
  const long page = std::strtol(buffer, nullptr, 10);
  if (page == 0) return TWSTREAMFMT_NATIVE;
  uint32_t format = TWSTREAMFMT_NATIVE;
  for (const CodePageRow& row : kCodePages)
    if (row.page == page) {
      format = row.format;
      break;
    }
  if (format == TWSTREAMFMT_NATIVE) {
    flowcore::StreamData text;
    if (TWStreamDataSet(text.get(), TWSTREAMFMT_NATIVE, buffer, std::min<uint32_t>(length, 40)) ==
        TWSUCCESS)
      TWActivityLogEx(TWEVENT_CHARACTER_SET, 0, 0, 0, text.get(), nullptr, nullptr);
  }
  return format;
}

bool SameNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

SQLCHAR* Bytes(std::string_view text) {
  return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.data()));
}

}  // namespace

SQLHENV Environment() {
  return ClientEnvironment::Get().Handle();
}

// ---------------------------------------------------------------- initialise -----------

uint32_t Connection::Initialize(uint32_t code, uint32_t flags) {
  (void)flags;
  tw::twx::ApplyDefaults(kProperties, props);
  connectCode = code;
  generation = 1;
  generationNext = 2;
  props.textFormat = static_cast<int32_t>(LinkFormatOfEnvironment());
  if (environmentHeld) return TWSUCCESS;
  if (!Api().complete) return TWActivityLog(TWFAIL_UNAVAILABLE);
  if (const SQLRETURN rc = ClientEnvironment::Get().Acquire(); !Ok(rc))
    return TWActivityLogStream(0, nullptr, static_cast<uint32_t>(rc));
  environmentHeld = true;
  return TWSUCCESS;
}

uint32_t Connection::Terminate(uint32_t flags) {
  (void)flags;
  if (dbc != SQL_NULL_HDBC) (void)Disconnect(0);
  tw::twx::ReleaseProperties(kProperties, props);
  if (!environmentHeld) return TWSUCCESS;
  environmentHeld = false;
  ClientEnvironment::Get().Release();
  return TWSUCCESS;
}

Connection::~Connection() {
  (void)Terminate(0);
}

// ---------------------------------------------------------------- connect --------------

uint32_t Connection::Connect() {
  const Cli& cli = Api();
  if (dbc != SQL_NULL_HDBC) (void)Disconnect(0);
  if (!environmentHeld) return TWActivityLog(TWFAIL_INVALID_CONNECT);
  SQLHDBC handle = SQL_NULL_HDBC;
  if (!Ok(cli.AllocConnect(Environment(), &handle)) || handle == SQL_NULL_HDBC)
    return LogError(SQL_NULL_HSTMT);
  dbc = handle;
  bool opened = false;
  // Every failure from here: logged where it happened, then nothing left half-open.
  auto fail = [&](uint32_t status) {
    if (opened) cli.Disconnect(dbc);
    cli.FreeConnect(dbc);
    dbc = SQL_NULL_HDBC;
    return status;
  };
  const std::string_view database = Text(props.database), user = Text(props.userid),
                         password = Text(props.password);
  if (!Ok(cli.Connect(dbc, Bytes(database), static_cast<SQLSMALLINT>(database.size()), Bytes(user),
                      static_cast<SQLSMALLINT>(user.size()), Bytes(password),
                      static_cast<SQLSMALLINT>(password.size()))))
    return fail(LogError(SQL_NULL_HSTMT));
  opened = true;
  if (uint32_t status = CommitFrequencySet(*this, true)) return fail(status);
  if (props.noJournal != 0)
    if (uint32_t status = NoJournalSet(*this, true)) return fail(status);
  for (Slot* slot : {&select, &insert, &update, &remove}) FreeSlot(*slot, true);
  ResetSelect();
  sinceCommit = 0;

  SQLUSMALLINT value = 0;
  tableNameLimit = Ok(cli.GetInfo(dbc, SQL_MAX_TABLE_NAME_LEN, &value, 2, nullptr)) && value != 0
                       ? value
                       : kDefaultNameLimit;
  value = 0;
  // 0 is the data source saying it has no limit, not a limit of nothing.
  columnNameLimit = Ok(cli.GetInfo(dbc, SQL_MAX_COLUMN_NAME_LEN, &value, 2, nullptr)) && value != 0
                        ? value
                        : kDefaultNameLimit;
  char name[17] = {};
  serverKind = 0;
  if (Ok(cli.GetInfo(dbc, SQL_DBMS_NAME, name, sizeof name, nullptr))) {
    const std::string_view dbms(name, strnlen(name, sizeof name));
    if (SameNoCase(dbms, "Xandb/400") || SameNoCase(dbms, "AS"))
      serverKind = 1;
    else if (SameNoCase(dbms, "Xandb"))
      serverKind = 2;
  }

  // The type scan: the limits of the eight character and binary types.
  limits = TypeLimits{};
  SQLHSTMT scan = SQL_NULL_HSTMT;
  if (uint32_t status = AllocStatement(&scan)) return fail(status);
  uint32_t status = TWSUCCESS;
  if (!Ok(cli.GetTypeInfo(scan, SQL_ALL_TYPES))) status = LogError(scan);
  for (int recognised = 0; status == TWSUCCESS && recognised < 8;) {
    const SQLRETURN rc = cli.Fetch(scan);
    if (rc == SQL_NO_DATA) break;
    if (!Ok(rc)) {
      status = LogError(scan);
      break;
    }
    SQLINTEGER row[3] = {};
    const SQLUSMALLINT columns[3] = {2, 3, 9};
    for (int i = 0; i < 3 && status == TWSUCCESS; ++i) {
      SQLLEN indicator = 0;
      if (!Ok(cli.GetData(scan, columns[i], SQL_C_LONG, &row[i], 4, &indicator)))
        status = LogError(scan);
      else if (indicator == SQL_NULL_DATA)
        row[i] = 0;
    }
    if (status == TWSUCCESS && TakeTypeRow(limits, row[0], row[1], row[2])) ++recognised;
  }
  DropStatement(scan);
  if (status != TWSUCCESS) return fail(status);
  return TWSUCCESS;
}

// ---------------------------------------------------------------- disconnect -----------

uint32_t Connection::Disconnect(uint32_t errorFlag) {
  if (dbc == SQL_NULL_HDBC) return TWSUCCESS;
  const Cli& cli = Api();
  if (errorFlag != 0 && props.rollbackOnError != 0) cli.Transact(Environment(), dbc, SQL_ROLLBACK);
  const uint32_t status = ReleaseAll();
  // A commit that failed leaves its work open: it is undone so that the connection can end.
  if (status != TWSUCCESS) cli.Transact(Environment(), dbc, SQL_ROLLBACK);
  cli.Disconnect(dbc);
  cli.FreeConnect(dbc);
  dbc = SQL_NULL_HDBC;
  return status;
}

// ---------------------------------------------------------------- properties -----------

uint32_t MetadataSet(Connection& c, bool) {
  c.generation = c.NextGeneration();
  return TWSUCCESS;
}

uint32_t CommitFrequencySet(Connection& c, bool) {
  if (c.dbc == SQL_NULL_HDBC) return TWSUCCESS;
  const SQLULEN on = c.props.commitFrequency == 1 ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF;
  if (!Ok(Api().SetConnectOption(c.dbc, SQL_AUTOCOMMIT, on))) return c.LogError(SQL_NULL_HSTMT);
  return TWSUCCESS;
}

uint32_t NoJournalSet(Connection& c, bool) {
  if (c.dbc == SQL_NULL_HDBC) return TWSUCCESS;
  if (!Ok(Api().SetConnectOption(c.dbc, SQL_ACCESS_MODE, c.props.noJournal != 0 ? 1 : 0)))
    return c.LogError(SQL_NULL_HSTMT);
  return TWSUCCESS;
}

uint32_t Connection::SetProperty(uint32_t token, TWFIELD src) {
  const Row* row = tw::twx::FindProperty(kProperties, token, tw::twx::kSet);
  if (row == nullptr) return tw::twx::InvalidProperty(token);
  return tw::twx::SetProperty(*row, *this, props, src, LinkFormat());
}

uint32_t Connection::GetProperty(uint32_t token, TWFIELD dest) {
  const Row* row = tw::twx::FindProperty(kProperties, token, tw::twx::kGet);
  if (row == nullptr) return tw::twx::InvalidProperty(token);
  return tw::twx::GetProperty(*row, props, dest);
}

// ---------------------------------------------------------------- actions --------------

uint32_t Connection::Action(uint32_t code) {
  switch (code) {
    case TWACTION_RESET:
      return ReleaseAll();
    case TWACTION_COMMIT:
      return EndTransaction(SQL_COMMIT);
    case TWACTION_ROLLBACK:
      return EndTransaction(SQL_ROLLBACK);
    case TWACTION_TRUNCATE: {
      if (Text(props.metadata).empty()) return LogNamed(TWFAIL_INVALID_METADATA, &props.metadata);
      SQLHSTMT stmt = SQL_NULL_HSTMT;
      if (uint32_t status = AllocStatement(&stmt)) return status;
      std::string text = TruncateText(Text(props.metadata));
      const SQLRETURN rc =
          Api().ExecDirect(stmt, Bytes(text), static_cast<SQLINTEGER>(text.size()));
      uint32_t status = TWSUCCESS;
      if (!Ok(rc) && rc != SQL_NO_DATA)
        status = LogSqlState(stmt, "S0002", TWFAIL_INVALID_METADATA, &props.metadata);
      DropStatement(stmt);
      if (status == TWSUCCESS) status = CommitStep();
      // An emptied table is committed at once, whatever CommitFrequency says.
      const uint32_t commit = EndTransaction(SQL_COMMIT);
      return commit != TWSUCCESS ? commit : status;
    }
    default:
      return TWActivityLog(TWFAIL_UNAVAILABLE);
  }
}

// ---------------------------------------------------------------- shared routines ------

std::string_view Connection::Text(const TWStream& property) const {
  if (property.data == nullptr || property.length == 0) return {};
  return {static_cast<const char*>(property.data), property.length};
}

uint32_t Connection::AllocStatement(SQLHSTMT* stmt) {
  *stmt = SQL_NULL_HSTMT;
  const Cli& cli = Api();
  if (dbc == SQL_NULL_HDBC) return TWActivityLog(TWFAIL_NOT_CONNECTED);
  SQLHSTMT made = SQL_NULL_HSTMT;
  if (!Ok(cli.AllocStmt(dbc, &made)) || made == SQL_NULL_HSTMT) return LogError(SQL_NULL_HSTMT);
  // Escape clauses are not the client's dialect: texts pass as written.
  cli.SetStmtOption(made, SQL_NOSCAN, SQL_NOSCAN_ON);
  *stmt = made;
  return TWSUCCESS;
}

void Connection::DropStatement(SQLHSTMT& stmt) {
  if (stmt != SQL_NULL_HSTMT) Api().FreeStmt(stmt, SQL_DROP);
  stmt = SQL_NULL_HSTMT;
}

namespace {

struct Diagnostic {
  bool found = false;
  char state[6] = {};
  SQLINTEGER native = 0;
  std::string message;
};

Diagnostic ReadDiagnostic(SQLHDBC dbc, SQLHSTMT stmt) {
  Diagnostic d;
  SQLCHAR message[1025] = {};
  SQLSMALLINT length = 0;
  d.found = Ok(Api().Error(Environment(), dbc, stmt, reinterpret_cast<SQLCHAR*>(d.state), &d.native,
                           message, sizeof message, &length));
  // A failure posted on the connection (a log-on, a commit) is found there.
  if (!d.found && stmt != SQL_NULL_HSTMT)
    d.found =
        Ok(Api().Error(Environment(), dbc, SQL_NULL_HSTMT, reinterpret_cast<SQLCHAR*>(d.state),
                       &d.native, message, sizeof message, &length));
  if (!d.found) return d;
  size_t size = strnlen(reinterpret_cast<char*>(message), sizeof message - 1);
  while (size > 0 && std::isspace(message[size - 1]) != 0) --size;
  d.message.assign(reinterpret_cast<char*>(message), size);
  return d;
}

uint32_t LogDiagnostic(const Diagnostic& d, uint32_t format) {
  flowcore::StreamData text;
  if (d.found && !d.message.empty())
    (void)TWStreamDataSet(text.get(), format, d.message.data(),
                          static_cast<uint32_t>(d.message.size()));
  return TWActivityLogStream(0, text.get(), static_cast<uint32_t>(d.native));
}

}  // namespace

uint32_t Connection::LogError(SQLHSTMT stmt) {
  return LogDiagnostic(ReadDiagnostic(dbc, stmt), LinkFormat());
}

uint32_t Connection::LogSqlState(SQLHSTMT stmt, std::string_view state, uint32_t status,
                                 const TWStream* object) {
  const Diagnostic d = ReadDiagnostic(dbc, stmt);
  tw::twx::SqlCondition condition = tw::twx::SqlCondition::kMissingTable;
  if (state == "S0001") condition = tw::twx::SqlCondition::kDuplicateTable;
  if (state == "S0011") condition = tw::twx::SqlCondition::kDuplicateIndex;
  if (d.found &&
      tw::twx::SqlStateSays(condition, std::string_view(d.state, strnlen(d.state, 5)), d.message))
    return LogNamed(status, object);
  return LogDiagnostic(d, LinkFormat());
}

uint32_t Connection::LogNamed(uint32_t status, const TWStream* object) {
  return TWActivityLogEx(status, 0, 0, 0, object, nullptr, nullptr);
}

uint32_t Connection::EndTransaction(SQLUSMALLINT kind) {
  if (dbc == SQL_NULL_HDBC) return TWSUCCESS;
  sinceCommit = 0;
  if (!Ok(Api().Transact(Environment(), dbc, kind))) return LogError(SQL_NULL_HSTMT);
  return TWSUCCESS;
}

uint32_t Connection::CommitStep(uint32_t units) {
  if (props.commitFrequency <= 1 || units == 0) return TWSUCCESS;
  sinceCommit += units;
  if (sinceCommit < static_cast<uint32_t>(props.commitFrequency)) return TWSUCCESS;
  return EndTransaction(SQL_COMMIT);
}

void Connection::FreeSlot(Slot& slot, bool withDescription) {
  slot.merged.reset();
  slot.sequence = 0;
  slot.values.clear();
  DropStatement(slot.stmt);
  slot.block = {};
  slot.arrayTypes.clear();
  slot.parameterSetSize = 1;
  slot.arraysBound = false;
  if (withDescription) {
    slot.description.reset();
    slot.positioned = false;
  }
}

void Connection::ResetSelect() {
  FreeSlot(select, true);
  select.forUpdate = false;
  select.cursor.clear();
  currentRow = false;
  catalogue = Catalogue::kNone;
  keyColumns.clear();
}

uint32_t Connection::ReleaseAll() {
  ResetSelect();
  for (Slot* slot : {&insert, &update, &remove}) FreeSlot(*slot, true);
  return EndTransaction(SQL_COMMIT);
}

}  // namespace xandb
