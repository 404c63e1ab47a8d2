// The ODBC connector sqlcli: one Connection per engine context, over unixODBC.
//
// The engine's context block (twx_plugin.h) holds only a pointer to a Connection, which owns
// everything else: the property values, the type table scanned at connect, the two statement
// slots (the main slot for selections, executes and catalogues; the write slot for insert,
// update, remove, create, drop and emptying a table) and the four operation records that
// remember which SQL text and which field-list bindings each kind of statement was last built
// for.
//
// Every statement is built as one text and executed directly on a freshly allocated
// statement handle; parameter values travel through "?" markers.
//
// Units: odbc.cc (the environment, driver diagnostics, statement handles, transactions),
// connection.cc (initialise, connect with the type scan, disconnect, properties, actions),
// statements.cc (every SQL text and the entry points that run them), transfer.cc (column
// descriptions, C-type choice, parameter binding, fetching with long values in pieces).
//
// Thread rules: a Connection is used by one thread at a time. The ODBC environment is shared
// by every connection of the process (see Environment in odbc.cc).
#ifndef TW_LINK_SQLCLI_CONNECTION_H_
#define TW_LINK_SQLCLI_CONNECTION_H_

#include <sql.h>
#include <sqlext.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "flowcore.h"
#include "flowcore_ptr.h"
#include "properties.h"
#include "twengine.h"
#include "twx.h"
#include "twx_params.h"
#include "twx_sqlstate.h"

namespace sqlcli {

// ---------------------------------------------------------------- SQL classes ----------

// Every column type is reduced to one of these classes; the number also indexes the type
// table. kUnknown is a described column of any other SQL type.
enum SqlClass : int32_t {
  kChar = 0,
  kVarchar,
  kLongVarchar,
  kDecimal,
  kNumeric,
  kSmallint,
  kInteger,
  kReal,
  kFloat,
  kDouble,
  kBit,
  kTinyint,
  kBigint,
  kBinary,
  kVarbinary,
  kLongVarbinary,
  kDate,
  kTime,
  kTimestamp,
  kUnknown,
};
constexpr int kClassCount = 19;

// The ODBC SQL type of a class (kUnknown has none: 0).
SQLSMALLINT SqlTypeOf(int32_t cls);
// The class of an ODBC SQL type; kUnknown for any other.
int32_t ClassOfSqlType(SQLSMALLINT sqlType);

// The data source's type for one class, from its type catalogue (SQLGetTypeInfo).
struct TypeRow {
  int32_t cls = kUnknown;     // the class of the type named (own, or the alternative's)
  std::string name;           // empty: the data source has no such type
  bool nullable = false;      // NULLABLE == 1
  bool found = false;         // the scan found it for this class itself
  bool createParams = false;  // CREATE_PARAMS was not null
  bool money = false;         // MONEY non-zero
  int32_t precision = 0;      // 0 when null
  int32_t minScale = -1;      // -1 when null
};
using TypeTable = std::array<TypeRow, kClassCount>;

// ---------------------------------------------------------------- column records -------

// One described column of a statement, and how the value of the field paired with it
// travels (C type, own buffer, indicator). Move-only: it owns its stream data.
struct ColumnRecord {
  int32_t cls = kUnknown;
  SQLULEN size = 0;       // the driver's precision or length
  SQLSMALLINT scale = 0;  // decimal digits
  SQLSMALLINT nullable = 0;
  bool check = false;              // overflow check after conversion (bind) or arrival (fetch)
  bool convertAfterFetch = false;  // fetched into the own buffer, converted afterwards
  std::string name;

  // The own buffer: a stream for SQL_C_CHAR, raw bytes for DOUBLE, DATE, TIME and TIMESTAMP
  // (large enough for SQL_TIMESTAMP_STRUCT); ownSize 0 when the value travels in the engine
  // field's own storage.
  TWStream stream{};
  alignas(8) std::array<unsigned char, 16> raw{};
  size_t ownSize = 0;

  SQLLEN indicator = 0;
  SQLSMALLINT cType = 0;  // SQL_C_CHAR, SQL_C_SLONG, ... or 0 for none
  void* data = nullptr;   // handed to the driver for the current record
  bool list = false;      // the engine value is a list of which only the first entry passes
  uint32_t listCount = 0;

  ColumnRecord() = default;
  ColumnRecord(const ColumnRecord&) = delete;
  ColumnRecord& operator=(const ColumnRecord&) = delete;
  ColumnRecord(ColumnRecord&& other) noexcept;
  ColumnRecord& operator=(ColumnRecord&& other) noexcept;
  ~ColumnRecord();

  // Frees the own buffer and forgets the C type (the description stays).
  void ReleaseBuffer();
  // A copy of the description only (class, size, scale, nullable, name).
  ColumnRecord DescriptionCopy() const;
};
using ColumnRecords = std::vector<ColumnRecord>;

// The engine field format a column is described as.
struct FieldFormat {
  uint32_t type = TWTYPE_INVALID;
  uint32_t flags = 0;
  uint32_t byteSize = 0;
  uint32_t precision = 0;
  uint32_t scaleOrLength = 0;  // scale for numbers (TWSCALE_ZERO for 0), length for streams
  uint32_t streamFormat = 0;
  uint32_t fieldFlags = 0;  // TWFIELDF_NO_NULL for a column that is not nullable (the
                            // format flags above are another word: FIXED is also 0x1)
};
FieldFormat FormatOfColumn(const ColumnRecord& column, const TypeTable& types);
// The element size of a fixed-size C type (0 for text and binary).
size_t FixedSize(SQLSMALLINT cType);

// ---------------------------------------------------------------- slots, operations ----

// One parameter as last bound to a statement: binding it again the same way is skipped.
struct BoundParameter {
  SQLSMALLINT cType = 0;
  SQLSMALLINT sqlType = 0;
  SQLULEN columnSize = 0;
  SQLSMALLINT digits = 0;
  SQLPOINTER data = nullptr;
  SQLLEN bufferLength = 0;
  SQLLEN* indicator = nullptr;
  bool operator==(const BoundParameter&) const = default;
};

// A statement handle; null while none is allocated. A write handle is kept across records
// and blocks: it holds its text prepared and remembers how its parameters are bound, both
// forgotten when the handle is allocated again.
struct StatementSlot {
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  tw::twx::PreparedText prepared;
  std::vector<BoundParameter> bound;
  SQLULEN paramsetSize = 1;  // the parameter array size set on the handle
  void Forget() {
    prepared.Forget();
    bound.clear();
    paramsetSize = 1;
  }
};

// One parameter's value for a record, as it is bound.
struct ParameterValue {
  SQLSMALLINT cType = 0;
  SQLSMALLINT sqlType = 0;
  SQLULEN columnSize = 0;
  SQLSMALLINT digits = 0;
  const void* data = nullptr;
  SQLLEN length = 0;
  bool null = false;
  SQLLEN* indicator = nullptr;  // the record's own indicator, set to the length or null
};

// A record written inside the connector's savepoint, kept so that it can be written again
// after a later record fails and the savepoint is rolled back to: its statement and its
// parameters with their values copied (bytes 8-aligned in words, each value at an offset).
struct KeptRecord {
  StatementSlot* slot = nullptr;
  std::vector<ParameterValue> values;  // data and indicator are set when it is written again
  std::vector<size_t> offsets;         // each value's first word in words
  std::vector<uint64_t> words;
  std::vector<SQLLEN> indicators;
};

using flowcore::FieldlistPtr;

// What one kind of statement was last built for. The main record serves select, execute and
// catalogue; insert, update and remove each have their own record and their own write
// handle, so that a run of mixed writes prepares each text once.
struct Operation {
  StatementSlot* slot = nullptr;
  uint32_t sequence = 0;    // TWFieldlistGetSequence of the list it was built for; 0 none
  std::string text;         // the SQL text
  ColumnRecords columns;    // the description it binds or fetches with, and conversions
  FieldlistPtr described;   // the described field list built from columns
  FieldlistPtr merged;      // described merged with the caller's list
  uint32_t generation = 0;  // the METADATA generation last seen (write records)
  std::string metadata;     // the METADATA text it was built for (write records)
  void Forget();            // clears sequence, text, columns, lists, generation, metadata
};

// Which result the main slot holds.
enum class ResultState : int32_t {
  kNone = 0,
  kExecute = 1,
  kSelect = 2,
  kDataSources = 3,
  kTables = 5,
  kColumns = 6,
};

// Direction of a conversion set-up.
enum class Direction : uint8_t { kToSource, kFetch };

// The scratch buffer and each block of the long-data chain.
constexpr size_t kLongPiece = 32768;

// One field of the main operation's merged list as a fetch walks it: taken once a list, not
// again for every record.
struct FetchEntry {
  TWFIELD field = TWNULLHANDLE;
  uint32_t type = TWTYPE_INVALID;
  uint32_t position = 0;  // the column it is paired with
  // The field's first value and null word (its values lie in one array that stays while the
  // merged list shows the field), so that a row's values are stored without a call each.
  unsigned char* values = nullptr;
  int32_t* nulls = nullptr;
  uint32_t size = 0;
  uint32_t flags = 0;  // the field's flags as this fetch call found them
};

// A selection's rows read a block at a time into bound column arrays, where the driver can
// still give one value of a row in the block alone (SQLSetPos, then SQLGetData): a value too
// long for its column's buffer, of a column left unbound, or of one whose C type changed
// since it was bound.
struct RowBlock {
  static constexpr SQLULEN kRows = 256;  // at most
  // A text or binary column is bound when its values are known to fit this many bytes.
  static constexpr size_t kWidest = 512;
  struct Column {
    SQLSMALLINT cType = 0;  // as bound; 0: not bound
    SQLLEN width = 0;       // the bytes of each row's value
    std::vector<unsigned char> data;
    std::vector<SQLLEN> indicators;
  };
  bool decided = false;  // whether the current result was looked at
  bool active = false;
  SQLULEN rows = 0;             // the block's size
  SQLULEN fetched = 0;          // rows in the block (the driver's count)
  SQLULEN next = 0;             // the next row to give
  SQLULEN positioned = 0;       // the row the cursor stands on for SQLGetData (1-based; 0 none)
  uint32_t failed = TWSUCCESS;  // the failure of the row after the block's last
  std::vector<SQLUSMALLINT> status;
  std::vector<Column> columns;  // by position
  void Reset() {
    decided = active = false;
    rows = fetched = next = positioned = 0;
    failed = TWSUCCESS;
    status.clear();
    columns.clear();
  }
};

// ---------------------------------------------------------------- properties -----------

// The native text of a stream property (empty when unset).
std::string_view NativeText(const TWStream& stream);

// ---------------------------------------------------------------- the connection -------

class Connection {
 public:
  Connection() = default;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection();

  // ---- entry points (connection.cc)
  [[nodiscard]] uint32_t Initialize(uint32_t flags);
  [[nodiscard]] uint32_t Terminate(uint32_t flags);
  [[nodiscard]] uint32_t Connect();
  // Ends the open transaction (unless the driver commits by itself) and closes the
  // connection. The work is committed, or rolled back when it ended in error (errorFlag not
  // 0) and RollbackOnError is set.
  [[nodiscard]] uint32_t Disconnect(uint32_t errorFlag = 0);
  [[nodiscard]] uint32_t SetProperty(uint32_t token, TWFIELD src);
  [[nodiscard]] uint32_t GetProperty(uint32_t token, TWFIELD dest);
  [[nodiscard]] uint32_t Action(uint32_t code);

  // ---- entry points (statements.cc)
  [[nodiscard]] uint32_t Execute(const TWStream* statement, TWFIELDLIST dest, uint32_t* affected);
  [[nodiscard]] uint32_t Select(TWFIELDLIST keys, uint32_t recordIndex, TWFIELDLIST dest,
                                uint32_t* affected);
  [[nodiscard]] uint32_t Insert(TWFIELDLIST src, uint32_t recordIndex, uint32_t recordCount,
                                uint32_t* affected);
  [[nodiscard]] uint32_t Update(TWFIELDLIST src, uint32_t recordIndex, uint32_t recordCount,
                                uint32_t* affected);
  [[nodiscard]] uint32_t Remove(TWFIELDLIST keys, uint32_t recordIndex, uint32_t recordCount,
                                uint32_t* affected);
  [[nodiscard]] uint32_t Create(uint32_t objectType, TWFIELDLIST src);
  [[nodiscard]] uint32_t Drop(uint32_t objectType);
  [[nodiscard]] uint32_t Catalog(uint32_t objectType, TWFIELDLIST dest, uint32_t* affected);
  // Empties the METADATA table (TWACTION_TRUNCATE): TRUNCATE TABLE, else DELETE FROM.
  [[nodiscard]] uint32_t OdbcEmptyTable();

  // ---- entry point (transfer.cc)
  [[nodiscard]] uint32_t Fetch(TWFIELDLIST dest, uint32_t recordIndex, uint32_t recordCount,
                               uint32_t* affected);

  // ---- shared routines (odbc.cc)
  // Logs the driver's diagnostics of the handles given (null handles are left out) to the
  // activity log and answers the status: TWFAIL_INVALID_METADATA when a record says the
  // table does not exist, otherwise TWFAIL_EXTERNAL.
  [[nodiscard]] uint32_t OdbcLogError(SQLHDBC dbc, SQLHSTMT stmt);
  // Frees the slot's statement and allocates a new one; answers the ODBC return code.
  SQLRETURN OdbcAllocStatement(StatementSlot& slot);
  // Executes text directly; with count, the driver's row count is stored (-1 unknown).
  // Failure: TWFAIL_UNAVAILABLE (the caller then logs with OdbcLogError).
  [[nodiscard]] uint32_t OdbcExecDirect(SQLHSTMT stmt, const std::string& text, SQLLEN* count);
  // Executes the statement prepared on stmt, as OdbcExecDirect.
  [[nodiscard]] uint32_t OdbcExecute(SQLHSTMT stmt, SQLLEN* count);
  // Commits (SQL_COMMIT) or rolls back (SQL_ROLLBACK); logs and answers a failure. Where
  // the connector opens transactions itself, the next one is opened unless reopen is false
  // (the connection is being closed).
  [[nodiscard]] uint32_t OdbcEndTransaction(SQLSMALLINT kind, bool reopen = true);
  // Switches the connection's autocommit on (committing what was open) or off; logs and
  // answers a failure.
  [[nodiscard]] uint32_t OdbcSetAutocommit(bool on);
  // One of the connector's own transaction statements on the control handle; answers the
  // ODBC return code.
  SQLRETURN OdbcTransactionText(const char* text);
  // After each successful write statement: the commit counter of CommitFrequency.
  [[nodiscard]] uint32_t CountStatement();
  // Logs a text of the connector's own with TWFAIL_EXTERNAL.
  void LogText(std::string_view text);
  // Releases the main result (the first half of a reset): a fresh main statement, state
  // none, first-fetch set, catalogue position 0, every operation's sequence 0, the main
  // record's and the column catalogue's records freed.
  [[nodiscard]] uint32_t ReleaseMainResult();

  // ---- shared routines (transfer.cc)
  // SQLDescribeCol of one column into record (or only checked when record is null).
  [[nodiscard]] uint32_t OdbcDescribeColumn(SQLHSTMT stmt, SQLUSMALLINT column,
                                            ColumnRecord* record);
  // Describes every result column of stmt into records (previous records freed).
  [[nodiscard]] uint32_t OdbcDescribeResult(ColumnRecords& records, SQLHSTMT stmt);
  // A new described list of records (names and types only) into list.
  [[nodiscard]] uint32_t BuildDescribedList(const ColumnRecords& records, FieldlistPtr& list);
  // Appends records to a caller's list with their full formats and NO_NULL.
  [[nodiscard]] uint32_t AddColumns(const ColumnRecords& records, TWFIELDLIST dest);
  // Chooses each field's C type and buffer over list (a merged list) and its records.
  [[nodiscard]] uint32_t SetupConversions(TWFIELDLIST list, ColumnRecords& records,
                                          Direction direction);
  // Binds the parameters of one record slot. *parameter is the number of the next marker
  // (1 for the first in the text) and is advanced past every field bound. With a slot, a
  // parameter bound there the same way before is not bound again.
  [[nodiscard]] uint32_t OdbcBindFields(TWFIELDLIST list, SQLHSTMT stmt, ColumnRecords& records,
                                        uint32_t recordSlot, bool allFields, bool dataPass,
                                        bool keyPass, SQLUSMALLINT* parameter,
                                        StatementSlot* slot = nullptr);
  // Binds values from marker *parameter on (advanced past each), as OdbcBindFields does.
  [[nodiscard]] uint32_t OdbcBindValues(SQLHSTMT stmt, const std::vector<ParameterValue>& values,
                                        SQLUSMALLINT* parameter, StatementSlot* slot);
  // The parameter values of one record slot in marker order, each converted and checked as
  // OdbcBindFields binds it; a conversion buffer of records is reused by the next call.
  [[nodiscard]] uint32_t RecordParameters(TWFIELDLIST list, ColumnRecords& records,
                                          uint32_t recordSlot, bool allFields, bool dataPass,
                                          bool keyPass, std::vector<ParameterValue>* values);

  // ---- state, open to the units of this connector
  Props props;
  TypeTable types{};
  bool moneyFound = false;
  int32_t moneyClass = kUnknown;

  // writeSlot runs definitions, emptying and descriptions; insertSlot, updateSlot and
  // removeSlot hold the write texts prepared.
  StatementSlot mainSlot, writeSlot, insertSlot, updateSlot, removeSlot;
  Operation mainOp, insertOp, updateOp, removeOp;
  SQLHDBC dbc = SQL_NULL_HDBC;
  bool positioned = false;   // SQL_POSITIONED_STATEMENTS gave all three
  bool nonNullable = false;  // SQL_NON_NULLABLE_COLUMNS gave SQL_NNC_NON_NULL

  std::vector<unsigned char> scratch;                       // kLongPiece bytes once initialised
  std::vector<std::unique_ptr<unsigned char[]>> longChain;  // further kLongPiece blocks
  std::vector<FetchEntry> fetchEntries;                     // mainOp.merged in walk order
  RowBlock rowBlock;                                        // the selection's rows, when read so
  ResultState state = ResultState::kNone;
  bool firstFetch = true;          // the data-source list starts over
  ColumnRecords catalogueColumns;  // columns of METADATA for the column catalogue
  size_t cataloguePosition = 0;
  int32_t sinceCommit = 0;  // statements since the last commit
  // The data source ends an open transaction's usefulness at a failed statement unless the
  // driver guards each statement with a savepoint (PostgreSQL): a block of writes then takes
  // a savepoint of the connector's own, and may go as one parameter array.
  bool spoilsTransaction = false;
  bool parameterArrays = false;  // the driver takes parameter arrays (SQL_PARAM_ARRAY_ROW_COUNTS)
  SQLUINTEGER arrayCounts = 0;   // SQL_PARC_BATCH: a row count for each set of an array
  StatementSlot controlSlot;     // savepoint statements, apart from the write handles
  // The connector's savepoint stays in place across write calls until the next commit or a
  // bound on what it holds: the records written under it are kept (the first keptCount of
  // kept) and written again when a later one fails, which leaves what a savepoint around
  // every statement leaves at one statement a record.
  bool blockHeld = false;
  // The connector told the driver not to guard each statement: a text run directly inside a
  // transaction is guarded by the connector (OdbcExecDirect).
  bool guardsStatements = false;
  bool autocommit = false;  // the connection commits each statement by itself
  // The driver stays in autocommit and the connector opens and ends its transactions by
  // statements: the SQLite driver reads a result a row at a time only in autocommit, where its
  // SQLEndTran answers success and commits nothing.
  bool ownsTransactions = false;
  std::vector<KeptRecord> kept;
  size_t keptCount = 0;
  size_t keptWords = 0;
  // The savepoint is gone with the transaction: nothing kept any more.
  void ForgetBlock() {
    blockHeld = false;
    keptCount = 0;
    keptWords = 0;
  }
  tw::twx::ParameterBlock block;
  std::vector<SQLUSMALLINT> paramStatus;     // each record's outcome in the last array
  std::vector<ParameterValue> recordValues;  // one record's values, reused from record to record
  bool environmentHeld = false;              // counted among the shared environment's users
};

// psqlODBC's own connection attributes: read a result through a cursor, and the rows each
// read of it brings.
constexpr SQLINTEGER kPgUseDeclareFetch = 65539;
constexpr SQLINTEGER kPgFetchRows = 65541;
// Whether the connection's driver is psqlODBC (connection.cc).
bool DriverIsPsqlodbc(SQLHDBC dbc);
// Whether the connection's driver is the SQLite 3 driver (connection.cc).
bool DriverIsSqliteOdbc(SQLHDBC dbc);

// The shared ODBC environment (odbc.cc): allocated by the first connection's initialise,
// freed by the last one's terminate.
SQLHENV Environment();
[[nodiscard]] uint32_t EnvironmentAcquire(Connection& logger);
[[nodiscard]] uint32_t EnvironmentRelease(Connection& logger);

// Whether a diagnostic record says that a table does not exist, by its SQLSTATE and text.
using tw::twx::IsMissingTable;
// The text a driver's diagnostic message is logged with: trailing line feeds and carriage
// returns removed, though never its first character; an empty message gets a fixed text.
std::string_view DriverMessageText(std::string_view message);

}  // namespace sqlcli

#endif  // TW_LINK_SQLCLI_CONNECTION_H_
