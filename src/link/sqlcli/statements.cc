// The entry points of the ODBC connector that run SQL: execute a caller's text, select,
// insert, update and remove (by key or positioned on the selection's cursor), empty, create
// and drop the METADATA table, and the three catalogue lists. The texts come from
// sql_text.h; this unit gathers their parts from the properties and field lists, binds the
// markers and keeps the operation records up to date.
#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "connection.h"
#include "sql_text.h"
#include "twx_props.h"

namespace sqlcli {
namespace {

// ---------------------------------------------------------------- small helpers --------

std::string_view Table(const Connection& c) {
  return NativeText(c.props.metadata);
}

bool Connected(const Connection& c) {
  return c.dbc != SQL_NULL_HDBC;
}

[[nodiscard]] uint32_t NotConnected() {
  return TWActivityLog(TWFAIL_NOT_CONNECTED);
}

// Positioned writes need the selection's cursor, a driver that offers positioned statements
// and the caller's consent.
bool Positioned(const Connection& c) {
  return c.props.writeBack != 0 && c.positioned && c.props.disableCursor == 0;
}

// A table the data source does not know is logged once, at the entry point, under METADATA's
// name (OdbcLogError recognises it but leaves the naming to the caller).
[[nodiscard]] uint32_t NoteMissingTable(Connection& c, uint32_t status) {
  if (status == TWFAIL_INVALID_METADATA)
    TWActivityLogEx(status, 0, 0, 0, &c.props.metadata, nullptr, nullptr);
  return status;
}

// The driver's row count as an affected count.
uint32_t CountOf(SQLLEN rows) {
  if (rows < 0) return TWCOUNT_UNKNOWN;
  return static_cast<uint32_t>(
      std::min<SQLLEN>(rows, static_cast<SQLLEN>(std::numeric_limits<uint32_t>::max() - 1)));
}

std::string StreamText(const TWStream& stream) {
  return std::string(NativeText(stream));
}

// The entries of a text-list property (FIELD_LIST, ORDER_LIST) as native texts; empty
// entries are left out.
[[nodiscard]] uint32_t ListItems(const TWStream& property, std::vector<std::string>& items) {
  items.clear();
  if (TWStreamDataGetLength(&property) == 0) return TWSUCCESS;
  TWStream list{};
  TWStream item{};
  uint32_t status = TWStreamDataConvert(&list, &property, TWCONVERTF_REFERENCE,
                                        TWSTREAMFMT_TEXT_LIST, nullptr, nullptr);
  const uint32_t count = status == TWSUCCESS ? TWTextListGetCount(&list) : 0;
  for (uint32_t i = 1; i <= count && status == TWSUCCESS; ++i) {
    void* data = nullptr;
    uint32_t length = 0;
    status = TWTextListFetch(&list, i, TWSTREAMFMT_NATIVE, &item, &data, &length);
    if (status == TWSUCCESS && length > 0)
      items.emplace_back(static_cast<const char*>(data), length);
  }
  TWStreamDataFree(&item);
  TWStreamDataFree(&list);
  return status == TWSUCCESS ? TWSUCCESS : TWActivityLog(status);
}

// The name of entry index of list as native text.
[[nodiscard]] uint32_t EntryName(TWFIELDLIST list, uint32_t index, TWFIELD* field,
                                 std::string& name) {
  TWStream stream{};
  uint32_t status = TWFieldlistGetField(list, index, TWSTREAMFMT_NATIVE, field, &stream);
  if (status == TWSUCCESS) name = StreamText(stream);
  TWStreamDataFree(&stream);
  return status;
}

// The key terms of list: its fields flagged TWFIELDF_KEY, in list order.
[[nodiscard]] uint32_t KeyTerms(TWFIELDLIST list, std::vector<KeyTerm>& terms) {
  terms.clear();
  return tw::twx::ForEachKeyTerm(
      list, TWSTREAMFMT_NATIVE,
      [&](TWFIELD, uint32_t, const TWStream& name, std::string_view op) -> uint32_t {
        terms.push_back({StreamText(name), op});
        return TWSUCCESS;
      },
      tw::twx::KeyOrder::kLessFirstWhenNotEqual);
}

// A fresh statement in slot; a failure is logged (with the connection's diagnostics: the
// slot holds no usable statement then).
[[nodiscard]] uint32_t FreshStatement(Connection& c, StatementSlot& slot) {
  if (SQL_SUCCEEDED(c.OdbcAllocStatement(slot))) return TWSUCCESS;
  return c.OdbcLogError(c.dbc, SQL_NULL_HSTMT);
}

// Runs text on a fresh statement of slot; a failure is logged with the driver's text.
uint32_t Run(Connection& c, StatementSlot& slot, const std::string& text, SQLLEN* rows) {
  if (uint32_t status = FreshStatement(c, slot)) return status;
  if (c.OdbcExecDirect(slot.stmt, text, rows) == TWSUCCESS) return TWSUCCESS;
  return c.OdbcLogError(c.dbc, slot.stmt);
}

// "SELECT * FROM <METADATA> WHERE 0=1" on a fresh statement of slot, for describing the
// table's columns; the text is kept in op.
[[nodiscard]] uint32_t DescribeTable(Connection& c, Operation& op, StatementSlot& slot) {
  if (Table(c).empty()) return TWFAIL_INVALID_METADATA;
  op.text = DescribeTableText(Table(c));
  return Run(c, slot, op.text, nullptr);
}

// Describes one column of METADATA into record from a selection of it that yields no row, on
// a fresh main statement. It is executed rather than only prepared: the PostgreSQL driver
// loses the description of a statement dropped unexecuted (a leak per selection). A failure
// is logged with the driver's text: a misspelt stamp or key column must say so.
[[nodiscard]] uint32_t DescribeOneColumn(Connection& c, std::string_view column,
                                         ColumnRecord* record) {
  const std::string text = DescribeColumnText(Table(c), c.props.quoteColumn, column);
  if (uint32_t status = FreshStatement(c, c.mainSlot)) return status;
  if (c.OdbcExecDirect(c.mainSlot.stmt, text, nullptr) != TWSUCCESS ||
      c.OdbcDescribeColumn(c.mainSlot.stmt, 1, record) != TWSUCCESS)
    return c.OdbcLogError(c.dbc, c.mainSlot.stmt);
  return TWSUCCESS;
}

// Names the main statement's cursor for positioned writes, the only statements that refer
// to it. Not every driver can name a cursor (the SQLite driver cannot): a write back by key
// terms must not fail for want of a name it never uses.
[[nodiscard]] uint32_t NameCursor(Connection& c) {
  if (!Positioned(c)) return TWSUCCESS;
  std::string name(kCursorName);
  if (SQL_SUCCEEDED(
          SQLSetCursorName(c.mainSlot.stmt, reinterpret_cast<SQLCHAR*>(name.data()), SQL_NTS)))
    return TWSUCCESS;
  return c.OdbcLogError(c.dbc, c.mainSlot.stmt);
}

// Describes the main statement's result into the main record and, when dest is given, adds
// its columns there; a result with columns becomes the open result in state. rows is the
// driver's row count of the statement.
//
// For a result set some drivers (SQLite's) count 0 whatever the rows: a caller takes a count
// of 0 for "nothing to fetch" and would move nothing, so an open result whose count is 0 is
// reported as of unknown size; fetching tells the truth.
[[nodiscard]] uint32_t TakeResult(Connection& c, TWFIELDLIST dest, ResultState state, SQLLEN rows,
                                  uint32_t* affected) {
  if (affected != nullptr) *affected = CountOf(rows);
  c.rowBlock.Reset();
  if (uint32_t status = c.OdbcDescribeResult(c.mainOp.columns, c.mainSlot.stmt)) return status;
  if (c.mainOp.columns.empty()) return TWSUCCESS;
  if (affected != nullptr && rows == 0) *affected = TWCOUNT_UNKNOWN;
  if (dest != TWNULLHANDLE)
    if (uint32_t status = c.AddColumns(c.mainOp.columns, dest)) return status;
  c.state = state;
  return TWSUCCESS;
}

ColumnRecord CatalogueColumn(const char* name, SQLULEN size, bool nullable) {
  ColumnRecord record;
  record.cls = kVarchar;
  record.size = size;
  record.nullable = nullable ? SQL_NULLABLE : SQL_NO_NULLS;
  record.name = name;
  return record;
}

// ---------------------------------------------------------------- time-stamp window ----

// One time-stamp marker's value, kept alive until the statement has run.
struct StampValue {
  SQL_TIMESTAMP_STRUCT value{};
  SQLLEN indicator = 0;
};

// The parts of a datetime in the machine's zone, null halves at their minimum.
bool StampParts(const TWDatetime& datetime, TWDatetimeParts& parts) {
  return TWDatetimeGetParts(&datetime, TWPARTSF_NULL_MIN | TWPARTSF_LOCAL, &parts) == TWSUCCESS;
}

void ToTimestamp(const TWDatetimeParts& parts, StampValue& out) {
  out.value.year = static_cast<SQLSMALLINT>(parts.year);
  out.value.month = static_cast<SQLUSMALLINT>(parts.month);
  out.value.day = static_cast<SQLUSMALLINT>(parts.day);
  out.value.hour = static_cast<SQLUSMALLINT>(parts.hour);
  out.value.minute = static_cast<SQLUSMALLINT>(parts.minute);
  out.value.second = static_cast<SQLUSMALLINT>(parts.second);
  out.value.fraction = static_cast<SQLUINTEGER>(parts.hundredth) * 10000000u;
  out.indicator = sizeof out.value;
}

[[nodiscard]] uint32_t BindStamp(Connection& c, SQLUSMALLINT number, const ColumnRecord& column,
                                 StampValue& stamp) {
  // A stamp column the driver does not describe as a time stamp still takes one; its size
  // then is that of a time stamp with hundredths.
  const bool timestamp = column.cls == kTimestamp && column.size > 0;
  const SQLULEN size = timestamp ? column.size : 22;
  const SQLSMALLINT digits = timestamp ? column.scale : 2;
  if (SQL_SUCCEEDED(SQLBindParameter(c.mainSlot.stmt, number, SQL_PARAM_INPUT, SQL_C_TIMESTAMP,
                                     SqlTypeOf(kTimestamp), size, digits, &stamp.value,
                                     sizeof stamp.value, &stamp.indicator)))
    return TWSUCCESS;
  return c.OdbcLogError(c.dbc, c.mainSlot.stmt);
}

// ---------------------------------------------------------------- key selection --------

// A view of the key fields of keys only, in list order, for binding the key terms of a
// selection: the records of its columns then line up with the view's positions.
[[nodiscard]] uint32_t KeyView(TWFIELDLIST keys, const std::vector<KeyTerm>& terms,
                               FieldlistPtr& view) {
  view.reset();
  TWFIELDLIST names = TWNULLHANDLE;
  uint32_t status = TWFieldlistAlloc(&names, 0, 0);
  FieldlistPtr owner(names);
  TWStream name{};
  for (const KeyTerm& term : terms) {
    if (status != TWSUCCESS) break;
    status = TWStreamDataSet(&name, TWSTREAMFMT_NATIVE, term.column.data(),
                             static_cast<uint32_t>(term.column.size()));
    if (status == TWSUCCESS) status = TWFieldlistAppend(names, &name, TWTYPE_INVALID, nullptr);
  }
  TWStreamDataFree(&name);
  TWFIELDLIST merged = TWNULLHANDLE;
  if (status == TWSUCCESS)
    status = TWFieldlistMerge(&merged, names, keys, TWMERGEF_MAP_NAME | TWMERGEF_DATA_LOSS);
  if (status != TWSUCCESS) return TWActivityLog(status);
  view.reset(merged);
  return TWSUCCESS;
}

// ---------------------------------------------------------------- write statements -----

enum class WriteKind { kInsert, kUpdate, kRemove };

uint32_t MergeFlags(const Connection& c, WriteKind kind) {
  uint32_t flags = TWMERGEF_NAME_LOSS;
  if (c.props.mapName != 0) flags |= TWMERGEF_MAP_NAME;
  switch (kind) {
    case WriteKind::kInsert:
      return flags | TWMERGEF_INSERT;
    case WriteKind::kUpdate:
      return flags | TWMERGEF_UPDATE | TWMERGEF_KEY;
    case WriteKind::kRemove:
      return flags | TWMERGEF_REMOVE;
  }
  return flags;
}

// Brings op up to date for src: the table's description when METADATA changed (or, for a
// write back on an open result, the result's description), the merged list and conversions
// when the description or src's layout changed. Nothing is recorded on failure, so the next
// call starts over.
[[nodiscard]] uint32_t PrepareWrite(Connection& c, Operation& op, WriteKind kind, TWFIELDLIST src) {
  if (Table(c).empty()) return TWFAIL_INVALID_METADATA;
  const bool fromResult = kind != WriteKind::kInsert && c.props.writeBack != 0 &&
                          (c.state == ResultState::kSelect || c.state == ResultState::kExecute);
  bool rebuilt = false;
  const bool newTable = op.generation != c.props.metadataGeneration && op.metadata != Table(c);
  // A new result (its release zeroes the sequence) may show other columns than the last.
  if (newTable || (fromResult && op.sequence == 0)) {
    op.sequence = 0;
    op.merged.reset();
    op.described.reset();
    if (fromResult) {
      ColumnRecords copies;
      for (const ColumnRecord& column : c.mainOp.columns)
        copies.push_back(column.DescriptionCopy());
      op.columns = std::move(copies);
    } else {
      op.metadata.clear();
      if (uint32_t status = DescribeTable(c, op, c.writeSlot)) return status;
      if (uint32_t status = c.OdbcDescribeResult(op.columns, c.writeSlot.stmt)) return status;
    }
    op.metadata = std::string(Table(c));
    rebuilt = true;
  }
  op.generation = c.props.metadataGeneration;

  const uint32_t sequence = TWFieldlistGetSequence(src);
  if (rebuilt || sequence != op.sequence || !op.merged) {
    op.sequence = 0;
    op.merged.reset();
    if (uint32_t status = c.BuildDescribedList(op.columns, op.described)) return status;
    TWFIELDLIST merged = TWNULLHANDLE;
    if (uint32_t status = TWFieldlistMerge(&merged, op.described.get(), src, MergeFlags(c, kind)))
      return TWActivityLog(status);
    op.merged.reset(merged);
    if (uint32_t status = c.SetupConversions(op.merged.get(), op.columns, Direction::kToSource)) {
      op.merged.reset();
      return status;
    }
    op.sequence = sequence;
  }
  return TWSUCCESS;
}

// The statement text of op's merged list: column names for insert, SET names and key terms
// for update, key terms for remove. A keyed update or remove without any key term would
// rewrite or delete every row of the table: it is refused.
uint32_t WriteText(Connection& c, Operation& op, WriteKind kind, bool positioned) {
  TWFIELDLIST merged = op.merged.get();
  std::vector<std::string> names;
  const uint32_t count = TWFieldlistGetCount(merged);
  for (uint32_t i = 1; i <= count; ++i) {
    TWFIELD field = TWNULLHANDLE;
    std::string name;
    if (uint32_t status = EntryName(merged, i, &field, name)) return status;
    if (kind == WriteKind::kInsert || (TWFieldGetFlags(field) & TWFIELDF_KEY) == 0)
      names.push_back(std::move(name));
  }
  std::vector<KeyTerm> keys;
  if (kind != WriteKind::kInsert && !positioned) {
    if (uint32_t status = KeyTerms(merged, keys)) return status;
    if (keys.empty())
      return TWActivityLogEx(TWFAIL_KEY_COUNT_MISMATCH, 0, 1, 0, nullptr, nullptr, nullptr);
  }
  const std::string_view quote = c.props.quoteColumn;
  switch (kind) {
    case WriteKind::kInsert:
      op.text = InsertText(Table(c), quote, names);
      break;
    case WriteKind::kUpdate:
      op.text = UpdateText(Table(c), quote, names, keys, positioned);
      break;
    case WriteKind::kRemove:
      op.text = RemoveText(Table(c), quote, keys, false);
      break;
  }
  return TWSUCCESS;
}

// slot holding text prepared: a text new to the handle replaces what it held, parameters
// and all. A failure is logged with the driver's text.
[[nodiscard]] uint32_t PrepareOnce(Connection& c, StatementSlot& slot, const std::string& text) {
  if (slot.stmt == SQL_NULL_HSTMT)
    if (uint32_t status = FreshStatement(c, slot)) return status;
  if (slot.prepared.Holds(text)) return TWSUCCESS;
  SQLFreeStmt(slot.stmt, SQL_CLOSE);
  SQLFreeStmt(slot.stmt, SQL_RESET_PARAMS);
  slot.Forget();
  if (!SQL_SUCCEEDED(SQLPrepare(
          slot.stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.c_str())), SQL_NTS)))
    return NoteMissingTable(c, c.OdbcLogError(c.dbc, slot.stmt));
  slot.prepared.Hold(text);
  return TWSUCCESS;
}

// The parameter array size of slot's handle (1: one record per execution).
[[nodiscard]] uint32_t ParamsetSize(Connection& c, StatementSlot& slot, SQLULEN size) {
  if (slot.paramsetSize == size) return TWSUCCESS;
  if (!SQL_SUCCEEDED(
          SQLSetStmtAttr(slot.stmt, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(size), 0)))
    return c.OdbcLogError(c.dbc, slot.stmt);
  slot.paramsetSize = size;
  return TWSUCCESS;
}

// The connector's own savepoint statements, on a handle apart from the write handles.
constexpr char kTakeSavepoint[] = "SAVEPOINT tw_block";
constexpr char kBackToSavepoint[] = "ROLLBACK TO SAVEPOINT tw_block";
constexpr char kReleaseSavepoint[] = "RELEASE SAVEPOINT tw_block";

// The savepoint is let go and taken anew once it holds this many records or words of their
// values: what a failure writes again stays bounded.
constexpr size_t kKeptRecords = size_t{1} << 12;
constexpr size_t kKeptWords = size_t{1} << 17;

[[nodiscard]] uint32_t Savepoint(Connection& c, const char* text) {
  if (c.controlSlot.stmt == SQL_NULL_HSTMT)
    if (uint32_t status = FreshStatement(c, c.controlSlot)) return status;
  if (c.OdbcExecDirect(c.controlSlot.stmt, text, nullptr) == TWSUCCESS) return TWSUCCESS;
  return c.OdbcLogError(c.dbc, c.controlSlot.stmt);
}

// The savepoint in place for the next record.
[[nodiscard]] uint32_t HoldBlock(Connection& c) {
  if (c.blockHeld) return TWSUCCESS;
  if (uint32_t status = Savepoint(c, kTakeSavepoint)) return status;
  c.blockHeld = true;
  c.keptCount = 0;
  c.keptWords = 0;
  return TWSUCCESS;
}

// Lets the savepoint go: what it holds is the transaction's like any statement's.
[[nodiscard]] uint32_t ReleaseBlock(Connection& c) {
  if (!c.blockHeld) return TWSUCCESS;
  c.ForgetBlock();
  return Savepoint(c, kReleaseSavepoint);
}

// Back to the savepoint after a failed statement. A driver that rolls the whole transaction
// back at a failure leaves no savepoint: what remains of the transaction is rolled back too, so
// that the connection goes on in a fresh one as it would without the connector's savepoint,
// and the answer is false.
[[nodiscard]] bool BackToSavepoint(Connection& c) {
  if (c.OdbcExecDirect(c.controlSlot.stmt, kBackToSavepoint, nullptr) == TWSUCCESS) return true;
  const int32_t since = c.sinceCommit;
  (void)c.OdbcEndTransaction(SQL_ROLLBACK);
  c.sinceCommit = since;
  return false;
}

// Keeps a copy of one record's parameters, written on slot under the savepoint.
void KeepRecord(Connection& c, StatementSlot& slot, const std::vector<ParameterValue>& values) {
  if (c.kept.size() <= c.keptCount) c.kept.resize(c.keptCount + 1);
  KeptRecord& record = c.kept[c.keptCount++];
  record.slot = &slot;
  record.values = values;
  record.offsets.resize(values.size());
  record.words.clear();
  for (size_t p = 0; p < values.size(); ++p) {
    record.offsets[p] = record.words.size();
    const ParameterValue& v = values[p];
    if (v.null || v.length <= 0) continue;
    const size_t bytes = static_cast<size_t>(v.length);
    record.words.resize(record.words.size() + (bytes + 7) / 8);
    std::memcpy(record.words.data() + record.offsets[p], v.data, bytes);
  }
  c.keptWords += record.words.size() + values.size();
}

// After the savepoint was rolled back to: the records kept under it are written again, in
// their order. Each went before, so a failure here is the data source's and is answered.
[[nodiscard]] uint32_t WriteKeptAgain(Connection& c) {
  for (size_t r = 0; r < c.keptCount; ++r) {
    KeptRecord& record = c.kept[r];
    record.indicators.resize(record.values.size());
    for (size_t p = 0; p < record.values.size(); ++p) {
      ParameterValue& v = record.values[p];
      record.indicators[p] = v.null ? SQL_NULL_DATA : v.length;
      v.indicator = &record.indicators[p];
      // Empty values still need an address.
      v.data = !v.null && v.length > 0
                   ? static_cast<const void*>(record.words.data() + record.offsets[p])
                   : static_cast<const void*>(&record.indicators[p]);
    }
    StatementSlot& slot = *record.slot;
    if (uint32_t status = ParamsetSize(c, slot, 1)) return status;
    SQLUSMALLINT parameter = 1;
    if (uint32_t status = c.OdbcBindValues(slot.stmt, record.values, &parameter, &slot))
      return status;
    SQLLEN rows = -1;
    if (c.OdbcExecute(slot.stmt, &rows) != TWSUCCESS)
      return NoteMissingTable(c, c.OdbcLogError(c.dbc, slot.stmt));
  }
  return TWSUCCESS;
}

// How the records of one write call are run: its operation, which fields pass, and the
// call's records.
struct RecordRun {
  Operation& op;
  bool allFields, dataPass, keyPass;
  uint32_t recordIndex;
  bool counted;  // the rows each record affects are the driver's counts, not one a record
};

// Binds record (from the call's first, 0) and executes the prepared text; rows gets the
// driver's count. A failure is logged. Under the savepoint the record is kept once written.
[[nodiscard]] uint32_t RunOne(Connection& c, const RecordRun& run, uint32_t record, SQLLEN* rows) {
  StatementSlot& slot = *run.op.slot;
  if (uint32_t status = ParamsetSize(c, slot, 1)) return status;
  std::vector<ParameterValue>& values = c.recordValues;
  if (uint32_t status =
          c.RecordParameters(run.op.merged.get(), run.op.columns, run.recordIndex + record,
                             run.allFields, run.dataPass, run.keyPass, &values))
    return status;
  SQLUSMALLINT parameter = 1;
  if (uint32_t status = c.OdbcBindValues(slot.stmt, values, &parameter, &slot)) return status;
  *rows = -1;
  if (c.OdbcExecute(slot.stmt, rows) != TWSUCCESS)
    return NoteMissingTable(c, c.OdbcLogError(c.dbc, slot.stmt));
  if (c.blockHeld) KeepRecord(c, slot, values);
  return TWSUCCESS;
}

static_assert(sizeof(SQLLEN) == sizeof(int64_t), "parameter lengths are 64-bit");

// Records [first, first + count) of the call as one parameter array. A record whose values
// cannot be converted ends the array before it: the records before it still go, and its
// status (logged) is *converted's answer with *converted the records that went. *executed
// tells whether the array ran and failed (nothing logged: the caller runs the records one
// by one to learn which failed).
[[nodiscard]] uint32_t RunArray(Connection& c, const RecordRun& run, uint32_t first, uint32_t count,
                                uint32_t* converted, bool* failed, SQLLEN* rows) {
  *failed = false;
  *converted = 0;
  std::vector<ParameterValue> values, firsts;
  uint32_t conversion = TWSUCCESS;
  for (uint32_t r = 0; r < count; ++r) {
    conversion =
        c.RecordParameters(run.op.merged.get(), run.op.columns, run.recordIndex + first + r,
                           run.allFields, run.dataPass, run.keyPass, &values);
    if (conversion != TWSUCCESS) break;
    if (c.blockHeld) KeepRecord(c, *run.op.slot, values);
    if (r == 0) {
      firsts = values;
      c.block.Reset(values.size(), count);
      for (size_t p = 0; p < values.size(); ++p) c.block.AtLeast(p, FixedSize(values[p].cType));
    }
    for (size_t p = 0; p < values.size(); ++p) {
      const ParameterValue& v = values[p];
      c.block.Set(p, r, v.data, v.length, v.null);
      if (v.columnSize > firsts[p].columnSize) firsts[p].columnSize = v.columnSize;
    }
    ++*converted;
  }
  if (*converted == 0) return conversion;
  c.block.Pack(*converted);
  StatementSlot& slot = *run.op.slot;
  for (size_t p = 0; p < firsts.size(); ++p) {
    const ParameterValue& v = firsts[p];
    const BoundParameter bound{v.cType,
                               v.sqlType,
                               v.columnSize,
                               v.digits,
                               c.block.Data(p),
                               static_cast<SQLLEN>(c.block.Width(p)),
                               reinterpret_cast<SQLLEN*>(c.block.Lengths(p))};
    if (p < slot.bound.size() && slot.bound[p] == bound) continue;
    if (!SQL_SUCCEEDED(SQLBindParameter(slot.stmt, static_cast<SQLUSMALLINT>(p + 1),
                                        SQL_PARAM_INPUT, bound.cType, bound.sqlType,
                                        bound.columnSize, bound.digits, bound.data,
                                        bound.bufferLength, bound.indicator))) {
      slot.bound.clear();
      *converted = 0;
      return c.OdbcLogError(c.dbc, slot.stmt);
    }
    if (slot.bound.size() <= p) slot.bound.resize(p + 1);
    slot.bound[p] = bound;
  }
  // Drivers count only the last record's rows after an array: each record that went counts
  // its own one row, as an insert of one record writes.
  c.paramStatus.assign(*converted, SQL_PARAM_UNUSED);
  if (!SQL_SUCCEEDED(
          SQLSetStmtAttr(slot.stmt, SQL_ATTR_PARAM_STATUS_PTR, c.paramStatus.data(), 0))) {
    *converted = 0;
    return c.OdbcLogError(c.dbc, slot.stmt);
  }
  if (uint32_t status = ParamsetSize(c, slot, *converted)) {
    *converted = 0;
    return status;
  }
  SQLLEN found = -1;
  *failed = c.OdbcExecute(slot.stmt, &found) != TWSUCCESS;
  // The status array is not the driver's to write into after this.
  SQLSetStmtAttr(slot.stmt, SQL_ATTR_PARAM_STATUS_PTR, nullptr, 0);
  *rows = 0;
  if (run.counted && !*failed) {
    // An update's records affect what they find: the driver's count of each record's set
    // (one result a set), or one count for them all.
    *rows = found > 0 ? found : 0;
    while (c.arrayCounts == SQL_PARC_BATCH && SQL_SUCCEEDED(SQLMoreResults(slot.stmt)))
      if (SQLLEN more = -1; SQL_SUCCEEDED(SQLRowCount(slot.stmt, &more)) && more > 0) *rows += more;
    SQLFreeStmt(slot.stmt, SQL_CLOSE);
    return conversion;
  }
  for (SQLUSMALLINT s : c.paramStatus)
    if (s == SQL_PARAM_SUCCESS || s == SQL_PARAM_SUCCESS_WITH_INFO) ++*rows;
  return conversion;
}

// Runs op's text once per record from recordIndex, binding that record's values; each
// success is counted toward CommitFrequency and its rows added to *affected. The first
// failure (statement or commit) ends the run with the rows before it in *affected.
//
// The text is prepared once on op's own write handle. Inside a transaction of a data source
// that a failed statement spoils, the records run under the connector's savepoint, kept from
// call to call (inserts of one call as one parameter array where the driver takes them): a
// failing record rolls the savepoint back and the records written under it run again, which
// leaves what a savepoint around every statement leaves.
[[nodiscard]] uint32_t RunRecords(Connection& c, Operation& op, WriteKind kind, bool positioned,
                                  uint32_t recordIndex, uint32_t recordCount, uint32_t* affected) {
  const RecordRun run{op,
                      kind == WriteKind::kInsert,
                      kind != WriteKind::kRemove,
                      kind != WriteKind::kInsert && !positioned,
                      recordIndex,
                      kind == WriteKind::kUpdate};
  // Records kept for the handle's text could not be written again once it holds another.
  if (c.blockHeld && !op.slot->prepared.Holds(op.text))
    if (uint32_t status = ReleaseBlock(c)) return status;
  if (uint32_t status = PrepareOnce(c, *op.slot, op.text)) return status;
  auto add = [&](SQLLEN rows) {
    if (rows > 0) *affected = CountOf(static_cast<SQLLEN>(*affected) + rows);
  };
  const bool guarded = c.spoilsTransaction && c.props.commitFrequency != 1;
  uint32_t done = 0;
  while (done < recordCount) {
    if (!guarded) {
      SQLLEN rows = -1;
      if (uint32_t status = RunOne(c, run, done, &rows)) return status;
      if (uint32_t status = c.CountStatement()) return status;
      add(rows);
      ++done;
      continue;
    }
    // A stretch never passes a commit of the counter, which ends the savepoint.
    uint32_t stretch = recordCount - done;
    if (c.props.commitFrequency > 1)
      stretch = std::min<uint32_t>(stretch,
                                   static_cast<uint32_t>(c.props.commitFrequency - c.sinceCommit));
    if (c.keptCount >= kKeptRecords || c.keptWords >= kKeptWords)
      if (uint32_t status = ReleaseBlock(c)) return status;
    if (uint32_t status = HoldBlock(c)) return status;
    uint32_t status = TWSUCCESS;
    uint32_t conversion = TWSUCCESS;  // a record the array stopped before (logged)
    uint32_t ran = 0;                 // records of the stretch that ran
    SQLLEN stretchRows = 0;
    // Updates by key go as one array where the driver tells the rows each set found.
    const bool arrays = kind == WriteKind::kInsert || (kind == WriteKind::kUpdate && !positioned);
    bool oneByOne = !(c.parameterArrays && arrays && stretch > 1);
    if (!oneByOne) {
      bool failed = false;
      SQLLEN rows = -1;
      const size_t keptBefore = c.keptCount, wordsBefore = c.keptWords;
      conversion = RunArray(c, run, done, stretch, &ran, &failed, &rows);
      if (failed) {
        // Which record failed is learnt one by one from the stretch's start, unless the
        // driver ended the whole transaction: the records would then meet another table than
        // they met in the array, and the array's failure is the answer.
        c.keptCount = keptBefore;
        c.keptWords = wordsBefore;
        if (!BackToSavepoint(c)) return NoteMissingTable(c, c.OdbcLogError(c.dbc, op.slot->stmt));
        if (uint32_t again = WriteKeptAgain(c)) return again;
        oneByOne = true;
        stretch = ran;
        ran = 0;
      } else if (ran > 0) {
        stretchRows = rows > 0 ? rows : 0;
      }
    }
    if (oneByOne) {
      for (; ran < stretch; ++ran) {
        SQLLEN rows = -1;
        if ((status = RunOne(c, run, done + ran, &rows))) {
          // Back to the savepoint, then every record written under it once more.
          if (BackToSavepoint(c))
            if (uint32_t again = WriteKeptAgain(c)) return again;
          break;
        }
        if (rows > 0) stretchRows += rows;
      }
    }
    for (uint32_t r = 0; r < ran; ++r)
      if (uint32_t counted = c.CountStatement()) return counted;
    add(stretchRows);
    if (status != TWSUCCESS) return status;
    if (conversion != TWSUCCESS) return conversion;
    done += ran;
  }
  return TWSUCCESS;
}

uint32_t Write(Connection& c, Operation& op, WriteKind kind, TWFIELDLIST src, uint32_t recordIndex,
               uint32_t recordCount, uint32_t* affected) {
  uint32_t ignored = 0;
  if (affected == nullptr) affected = &ignored;
  *affected = 0;
  if (!Connected(c)) return NotConnected();
  if (Table(c).empty()) return TWFAIL_INVALID_METADATA;
  const bool positioned = kind != WriteKind::kInsert && Positioned(c);
  if (uint32_t status = PrepareWrite(c, op, kind, src)) return NoteMissingTable(c, status);
  if (uint32_t status = WriteText(c, op, kind, positioned)) return status;
  return RunRecords(c, op, kind, positioned, recordIndex, recordCount, affected);
}

// CREATE TABLE and DROP TABLE: a failure inside a transaction (a data source that refuses
// them there, or a transaction an earlier failure spoilt) is tried once more with autocommit
// on. Autocommit is switched off again on every path; a failure to do so is returned, since
// the connection would otherwise commit every later statement on its own.
[[nodiscard]] uint32_t RunDefinition(Connection& c, const std::string& text) {
  if (uint32_t status = FreshStatement(c, c.writeSlot)) return status;
  if (c.OdbcExecDirect(c.writeSlot.stmt, text, nullptr) == TWSUCCESS) return TWSUCCESS;
  const bool retry = c.props.commitFrequency != 1;
  if (retry) {
    if (uint32_t status = c.OdbcSetAutocommit(true)) return status;
    uint32_t status = TWSUCCESS;
    if (c.OdbcExecDirect(c.writeSlot.stmt, text, nullptr) != TWSUCCESS)
      status = NoteMissingTable(c, c.OdbcLogError(c.dbc, c.writeSlot.stmt));
    const uint32_t off = c.OdbcSetAutocommit(false);
    return status != TWSUCCESS ? status : off;
  }
  return NoteMissingTable(c, c.OdbcLogError(c.dbc, c.writeSlot.stmt));
}

// After CREATE or DROP the table's columns may differ under the same name: the write
// records describe it anew.
void ForgetWrites(Connection& c) {
  c.insertOp.Forget();
  c.updateOp.Forget();
  c.removeOp.Forget();
}

// The engine field's format as CREATE TABLE reads it.
FieldShape ShapeOf(TWFIELD field) {
  FieldShape shape;
  shape.type = TWFieldGetType(field);
  switch (shape.type) {
    case TWTYPE_INT:
    case TWTYPE_FLOAT:
    case TWTYPE_CURRENCY:
    case TWTYPE_NUMERIC:
      TWFieldGetFormatNumber(field, &shape.formatFlags, &shape.byteSize, &shape.precision,
                             &shape.scale);
      break;
    case TWTYPE_DATETIME:
      TWFieldGetFormatDatetime(field, &shape.formatFlags, nullptr);
      break;
    case TWTYPE_TEXT:
    case TWTYPE_BINARY:
      TWFieldGetFormatStream(field, &shape.formatFlags, &shape.length, &shape.streamFormat);
      break;
    default:
      break;
  }
  return shape;
}

}  // namespace

// ---------------------------------------------------------------- entry points ---------

uint32_t Connection::Execute(const TWStream* statement, TWFIELDLIST dest, uint32_t* affected) {
  if (!Connected(*this)) return NotConnected();
  // The caller's text may end the transaction, and the savepoint with it; a result it opens
  // under the savepoint would be closed by a later write's failure.
  if (uint32_t status = ReleaseBlock(*this)) return status;
  if (uint32_t status = ReleaseMainResult()) return status;
  if (uint32_t status = NameCursor(*this)) return status;
  TWStream native{};
  void* data = nullptr;
  uint32_t length = 0;
  uint32_t status = TWStreamDataConvert(&native, statement, TWCONVERTF_REFERENCE,
                                        TWSTREAMFMT_NATIVE, &data, &length);
  std::string text;
  if (status == TWSUCCESS && data != nullptr) text.assign(static_cast<const char*>(data), length);
  TWStreamDataFree(&native);
  if (status != TWSUCCESS) return TWActivityLog(status);
  // Not logged: only the caller knows which of its properties should have held the text (a
  // transfer given no Statement), and it says so.
  if (text.empty()) return TWFAIL_NULL_BUFFER;
  SQLLEN rows = -1;
  if (OdbcExecDirect(mainSlot.stmt, text, &rows) != TWSUCCESS) {
    status = OdbcLogError(dbc, mainSlot.stmt);
    // The caller's text names its own tables: the missing one cannot be named here.
    if (status == TWFAIL_INVALID_METADATA) TWActivityLog(status);
    return status;
  }
  return TakeResult(*this, dest, ResultState::kExecute, rows, affected);
}

uint32_t Connection::Select(TWFIELDLIST keys, uint32_t recordIndex, TWFIELDLIST dest,
                            uint32_t* affected) {
  if (!Connected(*this)) return NotConnected();
  // A result opened under the savepoint would be closed by a later write's failure.
  if (uint32_t status = ReleaseBlock(*this)) return status;
  if (uint32_t status = ReleaseMainResult()) return status;

  Selection selection;
  if (uint32_t status = ListItems(props.fieldList, selection.fields)) return status;
  if (uint32_t status = ListItems(props.orderList, selection.order)) return status;
  if (Table(*this).empty()) return TWFAIL_INVALID_METADATA;
  selection.table = Table(*this);
  selection.quote = props.quoteColumn;
  selection.condition = NativeText(props.condition);
  selection.stampField = NativeText(props.stampField);
  selection.forUpdate = Positioned(*this);

  // Every column description re-allocates the main statement, so all are taken before the
  // statement that runs is made, named and bound.
  ColumnRecord stampColumn;
  StampValue base, max;
  TWDatetime now{};
  if (!selection.stampField.empty()) {
    if (uint32_t status = DescribeOneColumn(*this, selection.stampField, &stampColumn))
      return NoteMissingTable(*this, status);
    TWDatetimeParts parts{};
    selection.baseStamp = StampParts(props.baseStamp, parts) && parts.year > 1;
    if (selection.baseStamp) ToTimestamp(parts, base);
    TWDatetimeClear(&now);
    TWDatetimeSetCurrent(&now);
    if (!StampParts(now, parts)) return TWActivityLog(TWFAIL_INVALID_DATETIME);
    ToTimestamp(parts, max);
  }
  if (uint32_t status = KeyTerms(keys, selection.keys)) return TWActivityLog(status);
  FieldlistPtr keyView;
  ColumnRecords keyColumns(selection.keys.size());
  for (size_t i = 0; i < selection.keys.size(); ++i)
    if (uint32_t status = DescribeOneColumn(*this, selection.keys[i].column, &keyColumns[i]))
      return NoteMissingTable(*this, status);

  mainOp.text = SelectText(selection);
  if (uint32_t status = FreshStatement(*this, mainSlot)) return status;
  if (uint32_t status = NameCursor(*this)) return status;
  SQLUSMALLINT parameter = 1;
  if (!selection.stampField.empty()) {
    if (selection.baseStamp)
      if (uint32_t status = BindStamp(*this, parameter++, stampColumn, base)) return status;
    if (uint32_t status = BindStamp(*this, parameter++, stampColumn, max)) return status;
  }
  if (!selection.keys.empty()) {
    if (uint32_t status = KeyView(keys, selection.keys, keyView)) return status;
    if (uint32_t status = SetupConversions(keyView.get(), keyColumns, Direction::kToSource))
      return status;
    if (uint32_t status = OdbcBindFields(keyView.get(), mainSlot.stmt, keyColumns, recordIndex,
                                         true, true, false, &parameter))
      return status;
  }
  SQLLEN rows = -1;
  if (OdbcExecDirect(mainSlot.stmt, mainOp.text, &rows) != TWSUCCESS)
    return NoteMissingTable(*this, OdbcLogError(dbc, mainSlot.stmt));
  // The window's upper end becomes the next run's lower end only once rows were selected up
  // to it.
  if (!selection.stampField.empty()) TWDatetimeCopy(&props.maxStamp, &now);
  return TakeResult(*this, dest, ResultState::kSelect, rows, affected);
}

uint32_t Connection::Insert(TWFIELDLIST src, uint32_t recordIndex, uint32_t recordCount,
                            uint32_t* affected) {
  return Write(*this, insertOp, WriteKind::kInsert, src, recordIndex, recordCount, affected);
}

uint32_t Connection::Update(TWFIELDLIST src, uint32_t recordIndex, uint32_t recordCount,
                            uint32_t* affected) {
  return Write(*this, updateOp, WriteKind::kUpdate, src, recordIndex, recordCount, affected);
}

uint32_t Connection::Remove(TWFIELDLIST keys, uint32_t recordIndex, uint32_t recordCount,
                            uint32_t* affected) {
  if (!Connected(*this) || !Positioned(*this))
    return Write(*this, removeOp, WriteKind::kRemove, keys, recordIndex, recordCount, affected);
  // Positioned: the row under the selection's cursor, once, whatever the record count.
  uint32_t ignored = 0;
  if (affected == nullptr) affected = &ignored;
  *affected = 0;
  if (Table(*this).empty()) return TWFAIL_INVALID_METADATA;
  removeOp.text = RemoveText(Table(*this), props.quoteColumn, {}, true);
  SQLLEN rows = -1;
  if (uint32_t status = Run(*this, writeSlot, removeOp.text, &rows))
    return NoteMissingTable(*this, status);
  if (uint32_t status = CountStatement()) return status;
  *affected = CountOf(rows);
  return TWSUCCESS;
}

uint32_t Connection::OdbcEmptyTable() {
  if (!Connected(*this)) return NotConnected();
  if (Table(*this).empty()) return TWFAIL_INVALID_METADATA;
  if (uint32_t status = FreshStatement(*this, writeSlot)) return status;
  // Not every data source knows TRUNCATE (SQLite does not): DELETE FROM empties any table.
  if (OdbcExecDirect(writeSlot.stmt, TruncateText(Table(*this)), nullptr) == TWSUCCESS)
    return TWSUCCESS;
  if (OdbcExecDirect(writeSlot.stmt, DeleteAllText(Table(*this)), nullptr) == TWSUCCESS)
    return TWSUCCESS;
  return NoteMissingTable(*this, OdbcLogError(dbc, writeSlot.stmt));
}

uint32_t Connection::Create(uint32_t objectType, TWFIELDLIST src) {
  if (objectType != TWOBJECT_METADATA) return TWFAIL_UNAVAILABLE;
  if (!Connected(*this)) return NotConnected();
  if (Table(*this).empty()) return TWFAIL_INVALID_METADATA;
  std::vector<CreateField> fields;
  const uint32_t count = TWFieldlistGetCount(src);
  for (uint32_t i = 1; i <= count; ++i) {
    CreateField& field = fields.emplace_back();
    TWFIELD handle = TWNULLHANDLE;
    if (uint32_t status = EntryName(src, i, &handle, field.name)) return TWActivityLog(status);
    field.flags = TWFieldGetFlags(handle);
    field.shape = ShapeOf(handle);
  }
  std::vector<CreateColumn> columns;
  std::string unsupported;
  if (!CreateColumns(fields, types, moneyFound, moneyClass, nonNullable, columns, &unsupported)) {
    LogText(UnsupportedTypeText(unsupported));
    return TWFAIL_EXTERNAL;
  }
  // A table without columns is refused here: some data sources would create one.
  if (columns.empty()) return TWActivityLog(TWFAIL_EMPTY_FIELDLIST);
  if (uint32_t status = RunDefinition(*this, CreateText(Table(*this), props.quoteColumn, columns)))
    return status;
  ForgetWrites(*this);
  return TWSUCCESS;
}

uint32_t Connection::Drop(uint32_t objectType) {
  if (objectType != TWOBJECT_METADATA) return TWFAIL_UNAVAILABLE;
  if (!Connected(*this)) return NotConnected();
  if (Table(*this).empty()) return TWFAIL_INVALID_METADATA;
  if (uint32_t status = RunDefinition(*this, DropText(Table(*this)))) return status;
  ForgetWrites(*this);
  return TWSUCCESS;
}

uint32_t Connection::Catalog(uint32_t objectType, TWFIELDLIST dest, uint32_t* affected) {
  if (objectType != TWOBJECT_SERVER && objectType != TWOBJECT_METADATA &&
      objectType != TWOBJECT_FIELD)
    return TWFAIL_UNAVAILABLE;
  if (objectType != TWOBJECT_SERVER && !Connected(*this)) return NotConnected();
  if (uint32_t status = ReleaseMainResult()) return status;
  uint32_t count = TWCOUNT_UNKNOWN;
  ColumnRecords columns;
  ResultState next = ResultState::kNone;
  switch (objectType) {
    case TWOBJECT_SERVER:
      // The data sources come from the driver manager at fetch time.
      columns.push_back(CatalogueColumn("DSN", 32, false));
      columns.push_back(CatalogueColumn("OWNER", 4, true));
      columns.push_back(CatalogueColumn("DESCRIPTION", 254, false));
      next = ResultState::kDataSources;
      break;
    case TWOBJECT_METADATA: {
      std::string type = "TABLE";
      if (!SQL_SUCCEEDED(SQLTables(mainSlot.stmt, nullptr, 0, nullptr, 0, nullptr, 0,
                                   reinterpret_cast<SQLCHAR*>(type.data()),
                                   static_cast<SQLSMALLINT>(type.size()))))
        return OdbcLogError(dbc, mainSlot.stmt);
      // TABLE_NAME, TABLE_OWNER (the schema), REMARKS, under the driver's names.
      for (SQLUSMALLINT column : {3, 2, 5}) {
        ColumnRecord record;
        if (OdbcDescribeColumn(mainSlot.stmt, column, &record) != TWSUCCESS)
          return OdbcLogError(dbc, mainSlot.stmt);
        columns.push_back(std::move(record));
      }
      next = ResultState::kTables;
      break;
    }
    default: {  // TWOBJECT_FIELD: the columns of METADATA
      if (Table(*this).empty()) return TWFAIL_INVALID_METADATA;
      if (uint32_t status = DescribeTable(*this, mainOp, mainSlot))
        return NoteMissingTable(*this, status);
      if (uint32_t status = OdbcDescribeResult(catalogueColumns, mainSlot.stmt)) return status;
      count = static_cast<uint32_t>(catalogueColumns.size());
      cataloguePosition = 0;
      columns.push_back(CatalogueColumn("COLNAME", 254, false));
      columns.push_back(CatalogueColumn("COLOWNER", 254, true));
      columns.push_back(CatalogueColumn("COLCOMMENT", 254, true));
      next = ResultState::kColumns;
      break;
    }
  }
  mainOp.columns = std::move(columns);
  if (dest != TWNULLHANDLE)
    if (uint32_t status = AddColumns(mainOp.columns, dest)) return status;
  state = next;
  if (affected != nullptr) *affected = count;
  return TWSUCCESS;
}

}  // namespace sqlcli
