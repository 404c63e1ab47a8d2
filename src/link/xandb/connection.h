// The Xandb connector: one Connection per engine context, over the Xandb client library
// (cli.h), which it reaches only through the library's function table.
//
// A Connection owns the property values, the limits learnt at connect (name lengths, the
// server kind, the type limits), and four statement slots: select (TWXSelect, TWXExecute,
// TWXCatalog, TWXFetch), insert, update and remove. A slot keeps its prepared statement, its
// merged field list and its bindings while the caller passes the same field list and
// METADATA names the same table; a table description is shared between slots by its
// METADATA generation.
//
// Units: connection.cc (environment, initialise, connect with the type scan, disconnect,
// properties, actions, the error funnel, the commit step), statements.cc (the entry points
// that build and run texts), transfer.cc (describing, merging, binding, array inserts and
// fetching), sql_text.cc (the texts).
//
// Thread rules: a Connection is used by one thread at a time; the client environment is
// shared by every connection of the process (counted, see connection.cc).
#ifndef TW_LINK_XANDB_CONNECTION_H_
#define TW_LINK_XANDB_CONNECTION_H_

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cli.h"
#include "flowcore.h"
#include "flowcore_ptr.h"
#include "properties.h"
#include "sql_text.h"
#include "twengine.h"
#include "twx.h"
#include "twx_chars.h"
#include "twx_longdata.h"
#include "twx_params.h"

namespace xandb {

using flowcore::FieldlistPtr;

// How one column's values travel.
struct Column {
  int16_t sqlType = 0;  // the type bound and fetched (CHAR for a VARCHAR of kinds 1, 2)
  SQLULEN size = 0;     // column size or precision
  int16_t scale = 0;
  SQLLEN bufferLength = 0;  // the bytes a value may take
  bool binary = false;
  bool graphic = false;
};

// The columns of a table or result, shared by the slots that work on the same table.
struct Description {
  uint32_t generation = 0;  // the METADATA generation it belongs to
  std::string table;        // METADATA's text when it describes a table
  std::vector<Column> columns;
  FieldlistPtr fields;      // the described list
  bool longColumn = false;  // a column too long for parameter arrays
};
using DescriptionPtr = std::shared_ptr<Description>;

enum class SlotKind : uint8_t { kSelect = 1, kUpdate = 2, kRemove = 3, kInsert = 4 };

// The value of one parameter of a single-record execution. It stays where it is while bound.
struct ParameterValue {
  flowcore::StreamData stream;                      // converted text or binary
  alignas(8) std::array<unsigned char, 200> raw{};  // numbers as text, doubles, structures
  SQLLEN indicator = 0;
  twx::LongValue longValue;  // a long value bound as data at execution
};

struct Slot {
  Slot(SlotKind k, uint32_t flag) : kind(k), mergeFlag(flag) {}
  SlotKind kind;
  uint32_t mergeFlag;
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  DescriptionPtr description;
  bool positioned = false;
  FieldlistPtr merged;
  uint32_t sequence = 0;
  std::vector<std::unique_ptr<ParameterValue>> values;
  // An array insert's values and the C types they were bound as.
  tw::twx::ParameterBlock block;
  std::vector<int16_t> arrayTypes;
  SQLULEN parameterSetSize = 1;
  SQLULEN rowsDone = 0;
  bool arraysBound = false;
  // select slot
  bool forUpdate = false;
  std::string cursor;
};

// Which catalogue the select slot serves (the object kind), or none.
enum class Catalogue : uint8_t { kNone = 0, kDatabases = 2, kTables = 3, kColumns = 5 };

class Connection {
 public:
  Connection() = default;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection();

  // ---- connection.cc
  [[nodiscard]] uint32_t Initialize(uint32_t connectCode, uint32_t flags);
  [[nodiscard]] uint32_t Terminate(uint32_t flags);
  [[nodiscard]] uint32_t Connect();
  // Rolls back first when errorFlag and RollbackOnError; then ends every statement and
  // commits. Answers the final commit's status: work that could not be committed is never
  // reported as done.
  [[nodiscard]] uint32_t Disconnect(uint32_t errorFlag);
  [[nodiscard]] uint32_t SetProperty(uint32_t token, TWFIELD src);
  [[nodiscard]] uint32_t GetProperty(uint32_t token, TWFIELD dest);
  [[nodiscard]] uint32_t Action(uint32_t code);

  // ---- statements.cc
  [[nodiscard]] uint32_t Execute(const TWStream* statement, TWFIELDLIST dest, uint32_t* count);
  [[nodiscard]] uint32_t Select(TWFIELDLIST keys, uint32_t record, TWFIELDLIST dest,
                                uint32_t* count);
  [[nodiscard]] uint32_t Insert(TWFIELDLIST src, uint32_t record, uint32_t records,
                                uint32_t* count);
  [[nodiscard]] uint32_t Update(TWFIELDLIST src, uint32_t record, uint32_t records,
                                uint32_t* count);
  [[nodiscard]] uint32_t Remove(TWFIELDLIST keys, uint32_t record, uint32_t records,
                                uint32_t* count);
  [[nodiscard]] uint32_t Create(uint32_t kind, TWFIELDLIST src);
  [[nodiscard]] uint32_t Drop(uint32_t kind);
  [[nodiscard]] uint32_t Catalog(uint32_t kind, TWFIELDLIST dest, uint32_t* count);

  // ---- transfer.cc
  [[nodiscard]] uint32_t Fetch(TWFIELDLIST dest, uint32_t record, uint32_t records,
                               uint32_t* count);

  // ---- shared routines
  // The error funnel: the client's text of the failure on stmt (or the connection) logged
  // with its native code; answers the status the entry point returns.
  [[nodiscard]] uint32_t LogError(SQLHSTMT stmt);
  // As LogError, but a failure of SQLSTATE state is logged as status naming object.
  [[nodiscard]] uint32_t LogSqlState(SQLHSTMT stmt, std::string_view state, uint32_t status,
                                     const TWStream* object);
  // Logs status naming the property stream (12545 with METADATA and the like).
  [[nodiscard]] uint32_t LogNamed(uint32_t status, const TWStream* object);
  [[nodiscard]] uint32_t AllocStatement(SQLHSTMT* stmt);
  void DropStatement(SQLHSTMT& stmt);
  // After a unit of written work: commits every CommitFrequency units.
  [[nodiscard]] uint32_t CommitStep(uint32_t units = 1);
  [[nodiscard]] uint32_t EndTransaction(SQLUSMALLINT kind);
  // Ends the open result, releases every slot and commits.
  [[nodiscard]] uint32_t ReleaseAll();
  void ResetSelect();
  void FreeSlot(Slot& slot, bool withDescription);
  // The bytes of a text property in the link text format.
  std::string_view Text(const TWStream& property) const;
  uint32_t LinkFormat() const { return static_cast<uint32_t>(props.textFormat); }
  // The METADATA generation: a new value on every set of METADATA, and for each result.
  uint32_t NextGeneration() { return generationNext++; }

  // transfer.cc
  [[nodiscard]] uint32_t DescribeTable(Slot& slot, TWFIELDLIST dest);
  [[nodiscard]] uint32_t DescribeResult(Slot& slot, SQLHSTMT stmt, TWFIELDLIST dest, bool forTable);
  [[nodiscard]] uint32_t Merge(Slot& slot, TWFIELDLIST list);
  [[nodiscard]] uint32_t BindFields(Slot& slot, uint32_t record, bool execute = true);
  [[nodiscard]] uint32_t InsertRows(uint32_t record, uint32_t rows, uint32_t* count);
  // Inserts rows records from record one at a time on the insert slot's statement.
  [[nodiscard]] uint32_t InsertOneByOne(uint32_t record, uint32_t rows, uint32_t* count);
  [[nodiscard]] uint32_t BindKeys(TWFIELDLIST keys, uint32_t record);
  // Executes stmt, sending the long values bound as data at execution.
  SQLRETURN Run(SQLHSTMT stmt);

  // statements.cc
  [[nodiscard]] uint32_t ReadTimestamp(TWDatetime* value);
  // Runs text on the select slot's statement (prepared and bound with keys when given) and
  // describes its result into dest.
  [[nodiscard]] uint32_t OpenResult(std::string text, TWFIELDLIST keys, uint32_t record,
                                    TWFIELDLIST dest, const TWStream* missing, bool* columns);
  [[nodiscard]] uint32_t Write(Slot& slot, TWFIELDLIST src, uint32_t record, uint32_t records,
                               uint32_t* count);

  Props props;
  uint32_t connectCode = 0;
  SQLHDBC dbc = SQL_NULL_HDBC;
  uint32_t sinceCommit = 0;
  uint32_t generation = 1;      // METADATA's current generation
  uint32_t generationNext = 2;  // the next one handed out
  uint32_t tableNameLimit = kDefaultNameLimit;
  uint32_t columnNameLimit = kDefaultNameLimit;
  int32_t serverKind = 0;
  TypeLimits limits;
  Slot select{SlotKind::kSelect, TWMERGEF_FETCH};
  Slot insert{SlotKind::kInsert, TWMERGEF_INSERT};
  Slot update{SlotKind::kUpdate, TWMERGEF_UPDATE};
  Slot remove{SlotKind::kRemove, TWMERGEF_REMOVE};
  Catalogue catalogue = Catalogue::kNone;
  SQLUSMALLINT databaseDirection = SQL_FETCH_FIRST;
  std::array<SQLUSMALLINT, 3> catalogueMap{};
  bool currentRow = false;
  bool environmentHeld = false;

  // The temporary columns of key fields bound on a select.
  std::vector<Column> keyColumns;
};

// Appends to dest a field like each of fields (name, type, flags, format; no values).
[[nodiscard]] uint32_t CopyFields(TWFIELDLIST dest, TWFIELDLIST fields);

// The process's client environment (connection.cc).
SQLHENV Environment();

}  // namespace xandb

#endif  // TW_LINK_XANDB_CONNECTION_H_
