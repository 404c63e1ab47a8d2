// The life of one ODBC connection: initialise and terminate, connect with the scan of the data
// source's type catalogue, disconnect with the final commit or rollback, the property
// dispatch over its table (properties.h) with the follow-ups, and the actions.
#include "connection.h"

#include <odbcinst.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "twx_props.h"

namespace sqlcli {
namespace {

// The alternatives of each class, in the order they are tried when the data source has no
// type of the class itself.
constexpr int32_t kNone = -1;
constexpr std::array<std::array<int32_t, 5>, kClassCount> kAlternatives = {{
    {kVarchar, kLongVarchar, kNone, kNone, kNone},        // CHAR
    {kChar, kLongVarchar, kNone, kNone, kNone},           // VARCHAR
    {kVarchar, kChar, kNone, kNone, kNone},               // LONGVARCHAR
    {kNumeric, kNone, kNone, kNone, kNone},               // DECIMAL
    {kDecimal, kNone, kNone, kNone, kNone},               // NUMERIC
    {kInteger, kBigint, kDecimal, kNumeric, kNone},       // SMALLINT
    {kBigint, kDecimal, kNumeric, kNone, kNone},          // INTEGER
    {kFloat, kDouble, kDecimal, kNumeric, kNone},         // REAL
    {kDouble, kDecimal, kNumeric, kNone, kNone},          // FLOAT
    {kFloat, kDecimal, kNumeric, kNone, kNone},           // DOUBLE
    {kTinyint, kSmallint, kInteger, kNumeric, kDecimal},  // BIT
    {kInteger, kSmallint, kNumeric, kDecimal, kNone},     // TINYINT
    {kInteger, kNumeric, kDecimal, kNone, kNone},         // BIGINT
    {kVarbinary, kLongVarbinary, kNone, kNone, kNone},    // BINARY
    {kBinary, kLongVarbinary, kNone, kNone, kNone},       // VARBINARY
    {kVarbinary, kBinary, kNone, kNone, kNone},           // LONGVARBINARY
    {kTimestamp, kVarchar, kChar, kNone, kNone},          // DATE
    {kTimestamp, kVarchar, kChar, kNone, kNone},          // TIME
    {kDate, kTime, kVarchar, kChar, kNone},               // TIMESTAMP
}};

// The names some data sources give their first type of a class, and what is meant.
struct Rename {
  int32_t cls;
  std::string_view from;
  std::string_view to;
};
constexpr Rename kRenames[] = {
    {kVarchar, "sysname", "varchar"},
    {kVarbinary, "timestamp", "varbinary"},
};

bool Succeeded(SQLRETURN rc) {
  return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO || rc == SQL_NO_DATA_FOUND;
}

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

void DropStatement(StatementSlot& slot) {
  if (slot.stmt != SQL_NULL_HSTMT) SQLFreeStmt(slot.stmt, SQL_DROP);
  slot.stmt = SQL_NULL_HSTMT;
  slot.Forget();
}

// An integer column of the type catalogue's current row; nullopt for NULL. false: the driver
// failed.
bool ReadInt(SQLHSTMT stmt, SQLUSMALLINT column, std::optional<int32_t>* value) {
  SQLINTEGER v = 0;
  SQLLEN indicator = 0;
  if (!Succeeded(SQLGetData(stmt, column, SQL_C_SLONG, &v, sizeof v, &indicator))) return false;
  if (indicator == SQL_NULL_DATA)
    value->reset();
  else
    *value = static_cast<int32_t>(v);
  return true;
}

// A text column into buffer (its whole size handed to the driver); null: nullopt.
bool ReadText(SQLHSTMT stmt, SQLUSMALLINT column, std::array<char, 256>& buffer,
              std::optional<std::string>* value) {
  SQLLEN indicator = 0;
  buffer.fill('\0');
  if (!Succeeded(SQLGetData(stmt, column, SQL_C_CHAR, buffer.data(),
                            static_cast<SQLLEN>(buffer.size()), &indicator)))
    return false;
  if (indicator == SQL_NULL_DATA) {
    value->reset();
    return true;
  }
  // A longer name arrives cut to the buffer; the driver leaves room for the terminator.
  *value = std::string(buffer.data(), strnlen(buffer.data(), buffer.size() - 1));
  return true;
}

constexpr SQLULEN kPgBlockRows = 1000;

// Whether the data source, or the driver section its Driver entry names, gives key a value.
bool SourceSets(const std::string& source, const char* key) {
  char value[64] = {};
  if (SQLGetPrivateProfileString(source.c_str(), key, "", value, sizeof value, "ODBC.INI") > 0)
    return true;
  char driver[256] = {};
  if (SQLGetPrivateProfileString(source.c_str(), "Driver", "", driver, sizeof driver, "ODBC.INI") <=
      0)
    return false;
  return SQLGetPrivateProfileString(driver, key, "", value, sizeof value, "ODBCINST.INI") > 0;
}

// psqlODBC reads a whole result into memory at its execution unless told to read it through
// a cursor a block at a time; a data source that says how to fetch keeps its own way. A
// driver that refuses the attributes reads as it did, which is slower but sound.
void StreamResults(SQLHDBC dbc, const std::string& source) {
  if (!DriverIsPsqlodbc(dbc)) return;
  if (!SourceSets(source, "UseDeclareFetch"))
    SQLSetConnectAttr(dbc, kPgUseDeclareFetch, reinterpret_cast<SQLPOINTER>(SQLULEN{1}), 0);
  if (!SourceSets(source, "Fetch"))
    SQLSetConnectAttr(dbc, kPgFetchRows, reinterpret_cast<SQLPOINTER>(kPgBlockRows), 0);
}

// A setting the connector gives a driver where the data source leaves it unset.
struct DriverDefault {
  const char* driverFile;  // a part of the driver library's file name, in lower case
  const char* keyword;     // the data source's key
  const char* alias;       // the driver's short name for the same key
  const char* value;
};
constexpr DriverDefault kDriverDefaults[] = {
    // psqlODBC wraps every statement of a transaction in a savepoint of its own, a round trip
    // each: the connector guards its blocks of writes and each caller's text itself.
    {"psqlodbc", "Protocol", "A1", "7.4-0"},
    // The SQLite driver reads the whole result of a select when it executes unless it steps
    // through it; it can only in autocommit, where the connector opens its transactions.
    {"sqlite3odbc", "StepAPI", "StepAPI", "1"},
};

// A data source's own text for key (the driver's, in the driver section the data source
// names, for file "odbcinst.ini").
std::string ProfileText(const std::string& section, const char* key, const char* file) {
  char value[1024] = {};
  const int length = SQLGetPrivateProfileString(section.c_str(), key, "", value,
                                                static_cast<int>(sizeof value), file);
  return length > 0 ? std::string(value, strnlen(value, sizeof value)) : std::string();
}

// A value as a connection string takes it: in braces, closing braces doubled, where it
// holds what would end it.
std::string AttributeValue(const std::string& value) {
  if (value.find_first_of(";{}=") == std::string::npos && (value.empty() || value.front() != ' '))
    return value;
  std::string quoted = "{";
  for (char ch : value) {
    quoted += ch;
    if (ch == '}') quoted += '}';
  }
  return quoted + "}";
}

// The connector's defaults for the driver of data source server that the data source does
// not set itself, as connection-string attributes ("" when none applies); *guard tells
// whether the driver's own statement savepoints were among them.
std::string DriverDefaults(const std::string& server, bool* guard) {
  *guard = false;
  std::string driver = ProfileText(server, "Driver", "odbc.ini");
  if (driver.empty()) return {};
  if (driver.find('/') == std::string::npos) driver = ProfileText(driver, "Driver", "odbcinst.ini");
  for (char& ch : driver) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  std::string attributes;
  for (const DriverDefault& d : kDriverDefaults) {
    if (driver.find(d.driverFile) == std::string::npos) continue;
    if (SourceSets(server, d.keyword) || SourceSets(server, d.alias)) continue;
    attributes += std::string(d.keyword) + "=" + d.value + ";";
    if (std::string_view(d.keyword) == "Protocol") *guard = true;
  }
  return attributes;
}

// The driver's own name for itself ("" when it cannot tell).
std::string DriverName(SQLHDBC dbc) {
  char name[64] = {};
  SQLSMALLINT length = 0;
  if (!Succeeded(SQLGetInfo(dbc, SQL_DRIVER_NAME, name, sizeof name, &length))) return {};
  return std::string(name, strnlen(name, sizeof name));
}

}  // namespace

bool DriverIsPsqlodbc(SQLHDBC dbc) {
  return DriverName(dbc).starts_with("psqlodbc");
}

bool DriverIsSqliteOdbc(SQLHDBC dbc) {
  return DriverName(dbc).find("sqlite3odbc") != std::string::npos;
}

// ---------------------------------------------------------------- initialise -----------

uint32_t Connection::Initialize(uint32_t flags) {
  // The environment is counted per connection rather than trusted to flags bit 0: every
  // connection needs it, and it must outlive the last one whatever the engine says.
  (void)flags;
  if (!environmentHeld) {
    if (uint32_t status = EnvironmentAcquire(*this)) return status;
    environmentHeld = true;
  }
  props.metadataGeneration = 1;
  scratch.assign(kLongPiece, 0);
  longChain.clear();
  mainOp.slot = &mainSlot;
  insertOp.slot = &insertSlot;
  updateOp.slot = &updateSlot;
  removeOp.slot = &removeSlot;
  for (Operation* op : {&mainOp, &insertOp, &updateOp, &removeOp}) op->Forget();
  state = ResultState::kNone;
  firstFetch = true;
  catalogueColumns.clear();
  cataloguePosition = 0;
  sinceCommit = 0;
  tw::twx::ApplyDefaults(kProperties, props);
  return TWSUCCESS;
}

uint32_t Connection::Terminate(uint32_t flags) {
  (void)flags;
  // The engine disconnects first; a connection still open here is given up without
  // committing, so that no half-done work becomes permanent.
  if (dbc != SQL_NULL_HDBC) {
    // Its failure leaves nothing committed: the connection is closed without it.
    (void)OdbcEndTransaction(SQL_ROLLBACK, false);
    for (StatementSlot* slot : {&writeSlot, &insertSlot, &updateSlot, &removeSlot, &controlSlot})
      DropStatement(*slot);
    DropStatement(mainSlot);
    SQLDisconnect(dbc);
    SQLFreeConnect(dbc);
    dbc = SQL_NULL_HDBC;
  }
  scratch.clear();
  scratch.shrink_to_fit();
  longChain.clear();
  mainOp.Forget();
  catalogueColumns.clear();
  props.quoteColumn.clear();
  if (environmentHeld) {
    environmentHeld = false;
    return EnvironmentRelease(*this);
  }
  return TWSUCCESS;
}

Connection::~Connection() {
  // A destructor has no one to answer; Terminate has logged any failure.
  (void)Terminate(0);
  tw::twx::ReleaseProperties(kProperties, props);
}

// ---------------------------------------------------------------- connect --------------

uint32_t Connection::Connect() {
  if (dbc != SQL_NULL_HDBC) {
    // A second connect ends the first one as a disconnect would.
    if (uint32_t status = Disconnect()) return status;
  }
  if (!environmentHeld) {
    if (uint32_t status = EnvironmentAcquire(*this)) return status;
    environmentHeld = true;
  }
  if (scratch.size() != kLongPiece) scratch.assign(kLongPiece, 0);

  types = TypeTable{};
  moneyFound = false;
  moneyClass = kUnknown;
  positioned = false;
  nonNullable = false;
  for (Operation* op : {&insertOp, &updateOp, &removeOp}) op->Forget();
  // The data-source list needs no connection and stays readable across it.
  if (state != ResultState::kDataSources) {
    mainOp.Forget();
    state = ResultState::kNone;
  }
  for (StatementSlot* slot :
       {&mainSlot, &writeSlot, &insertSlot, &updateSlot, &removeSlot, &controlSlot}) {
    slot->stmt = SQL_NULL_HSTMT;
    slot->Forget();
  }
  sinceCommit = 0;
  ForgetBlock();
  guardsStatements = false;
  ownsTransactions = false;
  spoilsTransaction = false;
  parameterArrays = false;
  arrayCounts = 0;

  const std::string server(NativeText(props.server));
  const std::string user(NativeText(props.userid));
  const std::string password(NativeText(props.password));

  SQLHDBC handle = SQL_NULL_HDBC;
  if (!Succeeded(SQLAllocConnect(Environment(), &handle)) || handle == SQL_NULL_HDBC)
    return OdbcLogError(SQL_NULL_HDBC, SQL_NULL_HSTMT);
  dbc = handle;

  StatementSlot scan;
  bool loggedOn = false;
  // Every failure from here on: the driver's text, then everything of this attempt undone;
  // the handles are cleared as they are freed, so that nothing freed is used again.
  auto fail = [&](SQLHSTMT failing) {
    const uint32_t status = OdbcLogError(dbc, failing);
    DropStatement(scan);
    DropStatement(mainSlot);
    DropStatement(writeSlot);
    DropStatement(controlSlot);
    if (loggedOn) SQLDisconnect(dbc);
    SQLFreeConnect(dbc);
    dbc = SQL_NULL_HDBC;
    types = TypeTable{};
    moneyFound = false;
    moneyClass = kUnknown;
    return status;
  };

  if (props.commitFrequency != 1 &&
      !Succeeded(SQLSetConnectOption(dbc, SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF)))
    return fail(SQL_NULL_HSTMT);
  autocommit = props.commitFrequency == 1;
  const std::string defaults = DriverDefaults(server, &guardsStatements);
  if (defaults.empty()) {
    if (!Succeeded(
            SQLConnect(dbc, reinterpret_cast<SQLCHAR*>(const_cast<char*>(server.c_str())), SQL_NTS,
                       reinterpret_cast<SQLCHAR*>(const_cast<char*>(user.c_str())), SQL_NTS,
                       reinterpret_cast<SQLCHAR*>(const_cast<char*>(password.c_str())), SQL_NTS)))
      return fail(SQL_NULL_HSTMT);
  } else {
    // The same data source, user and password, with the defaults after them.
    std::string text = "DSN=" + AttributeValue(server) + ";";
    if (!user.empty()) text += "UID=" + AttributeValue(user) + ";";
    if (!password.empty()) text += "PWD=" + AttributeValue(password) + ";";
    text += defaults;
    SQLCHAR done[1024] = {};
    SQLSMALLINT doneLength = 0;
    if (!Succeeded(SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS,
                                    done, static_cast<SQLSMALLINT>(sizeof done), &doneLength,
                                    SQL_DRIVER_NOPROMPT)))
      return fail(SQL_NULL_HSTMT);
  }
  loggedOn = true;
  // The SQLite driver stays in autocommit; the connector's own transaction takes its place.
  ownsTransactions = DriverIsSqliteOdbc(dbc);
  if (ownsTransactions && !autocommit) {
    if (!Succeeded(SQLSetConnectOption(dbc, SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_ON)))
      return fail(SQL_NULL_HSTMT);
    if (!Succeeded(OdbcTransactionText("BEGIN"))) return fail(controlSlot.stmt);
  }
  if (!Succeeded(OdbcAllocStatement(mainSlot))) return fail(SQL_NULL_HSTMT);
  if (!Succeeded(OdbcAllocStatement(writeSlot))) return fail(SQL_NULL_HSTMT);

  // The type scan: the first row the data source gives for each class.
  std::array<char, 256> buffer{};
  for (int32_t cls = 0; cls < kClassCount; ++cls) {
    if (!Succeeded(OdbcAllocStatement(scan))) return fail(SQL_NULL_HSTMT);
    if (!Succeeded(SQLGetTypeInfo(scan.stmt, SqlTypeOf(cls)))) return fail(scan.stmt);
    const SQLRETURN fetched = SQLFetch(scan.stmt);
    if (fetched == SQL_NO_DATA_FOUND) {
      DropStatement(scan);
      continue;
    }
    if (!Succeeded(fetched)) return fail(scan.stmt);
    std::optional<std::string> name, createParams;
    std::optional<int32_t> precision, nullable, money, minScale;
    if (!ReadText(scan.stmt, 1, buffer, &name) || !ReadInt(scan.stmt, 3, &precision) ||
        !ReadText(scan.stmt, 6, buffer, &createParams) || !ReadInt(scan.stmt, 7, &nullable) ||
        !ReadInt(scan.stmt, 11, &money) || !ReadInt(scan.stmt, 15, &minScale))
      return fail(scan.stmt);
    DropStatement(scan);
    // A row without a name names no type the data source could be asked to create.
    if (!name || name->empty()) continue;
    TypeRow& row = types[static_cast<size_t>(cls)];
    row.cls = cls;
    row.name = *name;
    for (const Rename& r : kRenames)
      if (r.cls == cls && SameName(row.name, r.from)) row.name = r.to;
    row.found = true;
    row.precision = precision.value_or(0);
    row.createParams = createParams.has_value();
    row.nullable = nullable.value_or(0) == SQL_NULLABLE;
    row.money = money.value_or(0) != 0;
    row.minScale = minScale.value_or(-1);
    if (row.money) {
      moneyFound = true;
      moneyClass = cls;
    }
  }

  // A class the data source lacks borrows the type of its first alternative that it has.
  for (int32_t cls = 0; cls < kClassCount; ++cls) {
    TypeRow& row = types[static_cast<size_t>(cls)];
    if (row.found) continue;
    for (int32_t alternative : kAlternatives[static_cast<size_t>(cls)]) {
      if (alternative == kNone) break;
      const TypeRow& other = types[static_cast<size_t>(alternative)];
      if (!other.found) continue;
      row = other;
      row.found = false;
      break;
    }
  }

  // Optional capabilities: a driver that cannot tell has none of them.
  SQLUINTEGER statements = 0;
  SQLSMALLINT length = 0;
  positioned = Succeeded(SQLGetInfo(dbc, SQL_POSITIONED_STATEMENTS, &statements, sizeof statements,
                                    &length)) &&
               statements ==
                   (SQL_PS_POSITIONED_DELETE | SQL_PS_POSITIONED_UPDATE | SQL_PS_SELECT_FOR_UPDATE);
  // A 16-bit answer: reading it into a wider word would take bytes the driver never wrote.
  SQLUSMALLINT nnc = 0;
  nonNullable = Succeeded(SQLGetInfo(dbc, SQL_NON_NULLABLE_COLUMNS, &nnc, sizeof nnc, &length)) &&
                nnc == SQL_NNC_NON_NULL;
  // PostgreSQL refuses every later statement of a transaction in which one failed, unless its
  // driver wraps each statement in a savepoint (a round trip each, and a setting of the data
  // source that may be off): blocks of writes are guarded by the connector instead.
  char dbms[64] = {};
  spoilsTransaction = Succeeded(SQLGetInfo(dbc, SQL_DBMS_NAME, dbms, sizeof dbms, &length)) &&
                      std::string_view(dbms).find("PostgreSQL") != std::string_view::npos;
  SQLUINTEGER arrays = 0;
  parameterArrays =
      Succeeded(SQLGetInfo(dbc, SQL_PARAM_ARRAY_ROW_COUNTS, &arrays, sizeof arrays, &length)) &&
      (arrays == SQL_PARC_BATCH || arrays == SQL_PARC_NO_BATCH);
  arrayCounts = parameterArrays ? arrays : 0;
  StreamResults(dbc, server);
  return TWSUCCESS;
}

// ---------------------------------------------------------------- disconnect -----------

uint32_t Connection::Disconnect(uint32_t errorFlag) {
  if (dbc == SQL_NULL_HDBC) return TWSUCCESS;
  uint32_t status = TWSUCCESS;
  if (props.commitFrequency != 1) {
    // RollbackOnError undoes failed work only: a run that succeeded keeps its rows.
    const bool undo = errorFlag != 0 && props.rollbackOnError != 0;
    const SQLSMALLINT kind = undo ? SQL_ROLLBACK : SQL_COMMIT;
    status = OdbcEndTransaction(kind, false);
    // A commit that failed is reported, never taken for success; what it left open is rolled
    // back so that the connection can be closed.
    if (status != TWSUCCESS) (void)OdbcEndTransaction(SQL_ROLLBACK, false);
    sinceCommit = 0;
  }
  ForgetBlock();
  for (StatementSlot* slot : {&writeSlot, &insertSlot, &updateSlot, &removeSlot, &controlSlot})
    DropStatement(*slot);
  for (Operation* op : {&insertOp, &updateOp, &removeOp}) op->Forget();
  DropStatement(mainSlot);
  if (!Succeeded(SQLDisconnect(dbc))) {
    // Refused while work is open (a transaction the driver still holds): end it and retry.
    (void)OdbcEndTransaction(SQL_ROLLBACK, false);
    SQLDisconnect(dbc);
  }
  SQLFreeConnect(dbc);
  dbc = SQL_NULL_HDBC;
  types = TypeTable{};
  moneyFound = false;
  moneyClass = kUnknown;
  positioned = false;
  nonNullable = false;
  catalogueColumns.clear();
  cataloguePosition = 0;
  if (state != ResultState::kDataSources) {
    state = ResultState::kNone;
    mainOp.Forget();
  }
  return status;
}

// ---------------------------------------------------------------- properties -----------

uint32_t MetadataSet(Connection& c, bool) {
  ++c.props.metadataGeneration;
  return TWSUCCESS;
}

uint32_t CommitFrequencySet(Connection& c, bool assigned) {
  if (!assigned || c.dbc == SQL_NULL_HDBC) return TWSUCCESS;
  return c.OdbcSetAutocommit(c.props.commitFrequency == 1);
}

uint32_t Connection::SetProperty(uint32_t token, TWFIELD src) {
  const Row* row = tw::twx::FindProperty(kProperties, token, tw::twx::kSet);
  if (row == nullptr) return tw::twx::InvalidProperty(token);
  uint32_t read = TWSUCCESS;
  const uint32_t status = tw::twx::SetProperty(*row, *this, props, src, TWSTREAMFMT_NATIVE, &read);
  // Unlike the kit's rule, this connector answers a field that could not be read.
  return status != TWSUCCESS ? status : read;
}

uint32_t Connection::GetProperty(uint32_t token, TWFIELD dest) {
  const Row* row = tw::twx::FindProperty(kProperties, token, tw::twx::kGet);
  if (row == nullptr) return tw::twx::InvalidProperty(token);
  const uint32_t status = tw::twx::GetProperty(*row, props, dest);
  return status == TWFAIL_INVALID_CONVERT ? TWFAIL_TYPE_MISMATCH : status;
}

// ---------------------------------------------------------------- actions --------------

uint32_t Connection::Action(uint32_t code) {
  switch (code) {
    case TWACTION_RESET: {
      if (uint32_t status = OdbcEndTransaction(SQL_COMMIT)) return status;
      if (uint32_t status = ReleaseMainResult()) return status;
      if (dbc != SQL_NULL_HDBC && writeSlot.stmt != SQL_NULL_HSTMT &&
          !Succeeded(OdbcAllocStatement(writeSlot)))
        return OdbcLogError(dbc, writeSlot.stmt);
      // The write texts are prepared afresh on their next use.
      for (StatementSlot* slot : {&insertSlot, &updateSlot, &removeSlot}) DropStatement(*slot);
      for (Operation* op : {&insertOp, &updateOp, &removeOp}) {
        op->generation = 0;
        op->metadata.clear();
        op->columns.clear();
      }
      return TWSUCCESS;
    }
    case TWACTION_TRUNCATE:
      return OdbcEmptyTable();
    case TWACTION_COMMIT:
      return OdbcEndTransaction(SQL_COMMIT);
    case TWACTION_ROLLBACK:
      return OdbcEndTransaction(SQL_ROLLBACK);
    default:
      return TWFAIL_UNAVAILABLE;
  }
}

}  // namespace sqlcli
