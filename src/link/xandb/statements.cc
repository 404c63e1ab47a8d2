// The entry points of the Xandb connector that build and run statement texts: execute a
// caller's text, select, insert, update and remove (by key, by condition or positioned on the
// selection's cursor), create and drop tables and indexes, the catalogues, and the server's
// time for the time-stamp window. The texts come from sql_text.h.
#include <atomic>
#include <cctype>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "connection.h"
#include "twx_props.h"

namespace xandb {
namespace {

SQLCHAR* Chars(std::string& text) {
  return reinterpret_cast<SQLCHAR*>(text.data());
}

// The entries of a text-list property in the link text format.
uint32_t ListItems(const TWStream& property, uint32_t format, std::vector<std::string>& items) {
  items.clear();
  if (property.length == 0) return TWSUCCESS;
  const uint32_t count = TWTextListGetCount(&property);
  flowcore::StreamData item;
  for (uint32_t i = 1; i <= count; ++i) {
    void* data = nullptr;
    uint32_t length = 0;
    if (uint32_t st = TWTextListFetch(&property, i, format, item.get(), &data, &length))
      return TWActivityLog(st);
    if (length > 0) items.emplace_back(static_cast<const char*>(data), length);
  }
  return TWSUCCESS;
}

std::string NameText(const TWStream& name) {
  if (name.data == nullptr) return {};
  return std::string(static_cast<const char*>(name.data), name.length);
}

// A cursor name of the process's own, short enough for every client.
std::string NewCursorName() {
  static std::atomic<uint32_t> next{0};
  char name[16];
  std::snprintf(name, sizeof name, "TWXC%08X", next.fetch_add(1) + 1);
  return name;
}

}  // namespace

// ---------------------------------------------------------------- results --------------

uint32_t Connection::OpenResult(std::string text, TWFIELDLIST keys, uint32_t record,
                                TWFIELDLIST dest, const TWStream* missing, bool* columns) {
  const Cli& cli = Api();
  *columns = false;
  if (uint32_t st = AllocStatement(&select.stmt)) return st;
  if (select.forUpdate) {
    cli.SetStmtOption(select.stmt, SQL_CONCURRENCY, SQL_CONCUR_LOCK);
    // The drivers' own names are longer than positioned texts may name: ours is set first.
    select.cursor = NewCursorName();
    if (!Ok(cli.SetCursorName(select.stmt, Chars(select.cursor),
                              static_cast<SQLSMALLINT>(select.cursor.size()))))
      return LogError(select.stmt);
  }
  if (keys != TWNULLHANDLE) {
    if (!Ok(cli.Prepare(select.stmt, Chars(text), static_cast<SQLINTEGER>(text.size()))))
      return LogSqlState(select.stmt, "S0002", TWFAIL_INVALID_METADATA, missing);
    if (uint32_t st = BindKeys(keys, record)) return st;
    const SQLRETURN rc = Run(select.stmt);
    select.values.clear();
    keyColumns.clear();
    if (!Ok(rc) && rc != SQL_NO_DATA) return LogError(select.stmt);
  } else {
    const SQLRETURN rc =
        cli.ExecDirect(select.stmt, Chars(text), static_cast<SQLINTEGER>(text.size()));
    if (!Ok(rc) && rc != SQL_NO_DATA)
      return LogSqlState(select.stmt, "S0002", TWFAIL_INVALID_METADATA, missing);
  }
  if (uint32_t st = DescribeResult(select, select.stmt, dest, false)) return st;
  *columns = !select.description->columns.empty();
  return TWSUCCESS;
}

uint32_t Connection::Execute(const TWStream* statement, TWFIELDLIST dest, uint32_t* count) {
  ResetSelect();
  if (dbc == SQL_NULL_HDBC) return TWActivityLog(TWFAIL_NOT_CONNECTED);
  flowcore::StreamData converted;
  void* data = nullptr;
  uint32_t length = 0;
  if (uint32_t st = TWStreamDataConvert(converted.get(), statement,
                                        TWCONVERTF_REFERENCE | TWCONVERTF_PRESERVE, LinkFormat(),
                                        &data, &length))
    return TWActivityLog(st);
  std::string text(static_cast<const char*>(data), data == nullptr ? 0 : length);
  select.forUpdate = props.writeBack != 0;
  bool columns = false;
  if (uint32_t st = OpenResult(std::move(text), TWNULLHANDLE, 0, dest, nullptr, &columns)) {
    ResetSelect();
    return st;
  }
  if (!columns) {
    ResetSelect();
    return TWSUCCESS;
  }
  *count = TWCOUNT_UNKNOWN;
  return TWSUCCESS;
}

uint32_t Connection::ReadTimestamp(TWDatetime* value) {
  const Cli& cli = Api();
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  TIMESTAMP_STRUCT ts{};
  auto run = [&](std::string text) {
    SQLLEN indicator = 0;
    return cli.ExecDirect(stmt, Chars(text), static_cast<SQLINTEGER>(text.size())) == SQL_SUCCESS &&
           cli.Fetch(stmt) == SQL_SUCCESS &&
           cli.GetData(stmt, 1, SQL_C_TIMESTAMP, &ts, sizeof ts, &indicator) == SQL_SUCCESS &&
           indicator != SQL_NULL_DATA;
  };
  if (uint32_t st = AllocStatement(&stmt)) return st;
  bool done = false;
  if (serverKind == 0) {
    done = run(std::string(kServerTimeText));
    if (!done) {
      DropStatement(stmt);
      if (uint32_t st = AllocStatement(&stmt)) return st;
    }
  }
  if (!done) done = run(ServerTimeText(Text(props.metadata)));
  DropStatement(stmt);
  if (!done) return TWDatetimeSetCurrent(value);
  const TWDatetimeParts p{
      ts.year, ts.month,  ts.day,    0,
      ts.hour, ts.minute, ts.second, static_cast<int32_t>(ts.fraction / 10000000u),
      0,       0};
  return TWDatetimeSetParts(value, &p, TWPARTSF_LOCAL);
}

uint32_t Connection::Select(TWFIELDLIST keys, uint32_t record, TWFIELDLIST dest, uint32_t* count) {
  ResetSelect();
  if (dbc == SQL_NULL_HDBC) return TWActivityLog(TWFAIL_NOT_CONNECTED);
  if (Text(props.metadata).empty()) return LogNamed(TWFAIL_INVALID_METADATA, &props.metadata);
  const uint32_t format = LinkFormat();
  Selection s;
  s.table = Text(props.metadata);
  if (uint32_t st = ListItems(props.fieldList, format, s.columns)) return st;
  for (std::string& column : s.columns) column = CutName(column, columnNameLimit);
  if (uint32_t st = ListItems(props.orderList, format, s.order)) return st;
  s.condition = Text(props.condition);
  s.stampField = Text(props.stampField);
  if (!s.stampField.empty()) {
    if (uint32_t st = ReadTimestamp(&props.maxStamp)) return st;
    TWDatetimeParts back{};
    back.second = -1;
    (void)TWDatetimeAdjust(&props.maxStamp, &back);
    TWDatetimeParts p{};
    if (TWDatetimeGetParts(&props.baseStamp, TWPARTSF_LOCAL, &p) == TWSUCCESS && p.year > 1)
      s.lower = TimestampLiteral(p);
    p = TWDatetimeParts{};
    (void)TWDatetimeGetParts(&props.maxStamp, TWPARTSF_LOCAL, &p);
    s.upper = TimestampLiteral(p);
  }
  if (keys != TWNULLHANDLE) {
    const uint32_t st = tw::twx::ForEachKeyTerm(
        keys, format, [&](TWFIELD, uint32_t, const TWStream& name, std::string_view op) {
          s.keys.push_back({CutName(NameText(name), columnNameLimit), op});
          return TWSUCCESS;
        });
    if (st != TWSUCCESS) return TWActivityLog(st);
  }
  s.forUpdate = props.writeBack != 0 && s.order.empty();
  select.forUpdate = s.forUpdate;
  bool columns = false;
  if (uint32_t st = OpenResult(SelectText(s), s.keys.empty() ? TWNULLHANDLE : keys, record, dest,
                               &props.metadata, &columns)) {
    ResetSelect();
    return st;
  }
  *count = TWCOUNT_UNKNOWN;
  return TWSUCCESS;
}

// ---------------------------------------------------------------- writing ---------------

namespace {

// The names of the merged list's fields in the link text format, each with its flags.
struct Named {
  std::string name;
  uint32_t flags = 0;
};
uint32_t MergedNames(TWFIELDLIST list, uint32_t format, std::vector<Named>& names) {
  names.clear();
  if (list == TWNULLHANDLE) return TWSUCCESS;
  if (uint32_t st = TWFieldlistListSetup(list, format)) return st;
  flowcore::StreamData name;
  for (;;) {
    uint32_t flags = 0;
    const uint32_t st = TWFieldlistList(list, nullptr, nullptr, nullptr, &flags, name.get());
    if (st == TWFAIL_END_OF_DATA) return TWSUCCESS;
    if (st != TWSUCCESS) return st;
    names.push_back({NameText(*name.get()), flags});
  }
}

// Gives slot a new statement, merged with src when merge, whose text build makes from the
// merged fields (a status when it refuses them), prepared. On failure everything but the
// slot's description is released again.
uint32_t NewStatement(
    Connection& c, Slot& slot, TWFIELDLIST src, bool merge,
    const std::function<uint32_t(const std::vector<Named>&, std::string*)>& build) {
  c.FreeSlot(slot, false);
  if (uint32_t st = c.AllocStatement(&slot.stmt)) return st;
  uint32_t status = merge ? c.Merge(slot, src) : TWSUCCESS;
  std::vector<Named> names;
  if (status == TWSUCCESS)
    if (uint32_t st = MergedNames(slot.merged.get(), c.LinkFormat(), names))
      status = TWActivityLog(st);
  std::string text;
  if (status == TWSUCCESS) status = build(names, &text);
  if (status == TWSUCCESS &&
      !Ok(Api().Prepare(slot.stmt, Chars(text), static_cast<SQLINTEGER>(text.size()))))
    status = c.LogSqlState(slot.stmt, "S0002", TWFAIL_INVALID_METADATA, &c.props.metadata);
  if (status != TWSUCCESS) c.FreeSlot(slot, false);
  return status;
}

}  // namespace

uint32_t Connection::Insert(TWFIELDLIST src, uint32_t record, uint32_t records, uint32_t* count) {
  const Cli& cli = Api();
  if (dbc == SQL_NULL_HDBC) return TWActivityLog(TWFAIL_NOT_CONNECTED);
  if (Text(props.metadata).empty()) return LogNamed(TWFAIL_INVALID_METADATA, &props.metadata);
  Slot& slot = insert;
  if (slot.description && slot.description->generation != generation &&
      slot.description->table != Text(props.metadata))
    FreeSlot(slot, true);
  if (!slot.description) {
    if (uint32_t st = DescribeTable(slot, TWNULLHANDLE)) return st;
    slot.positioned = false;
  }
  if (slot.stmt == SQL_NULL_HSTMT || TWFieldlistGetSequence(src) != slot.sequence) {
    const uint32_t st =
        NewStatement(*this, slot, src, true, [&](const auto& names, std::string* text) -> uint32_t {
          std::vector<std::string> columns;
          for (const Named& n : names) columns.push_back(n.name);
          *text = InsertText(Text(props.metadata), columns);
          return TWSUCCESS;
        });
    if (st != TWSUCCESS) return st;
  }
  if (records < 2 || slot.description->longColumn) {
    if (slot.parameterSetSize != 1) {
      if (!Ok(cli.ParamOptions(slot.stmt, 1, &slot.rowsDone))) return LogError(slot.stmt);
      slot.parameterSetSize = 1;
      slot.arraysBound = false;
    }
    for (uint32_t i = 0; i < std::max<uint32_t>(records, 1); ++i) {
      if (uint32_t st = BindFields(slot, record + i)) return st;
      ++*count;
      if (uint32_t st = CommitStep()) return st;
    }
    return TWSUCCESS;
  }
  return InsertRows(record, records, count);
}

uint32_t Connection::Write(Slot& slot, TWFIELDLIST src, uint32_t record, uint32_t records,
                           uint32_t* count) {
  const Cli& cli = Api();
  if (dbc == SQL_NULL_HDBC) return TWActivityLog(TWFAIL_NOT_CONNECTED);
  const bool writeBack = props.writeBack != 0;
  if (writeBack && !currentRow) return TWActivityLog(TWFAIL_NO_WRITEBACK);
  if (writeBack && records > 1) return TWActivityLog(TWFAIL_WRITEBACK_COUNT);
  if (Text(props.metadata).empty()) return LogNamed(TWFAIL_INVALID_METADATA, &props.metadata);
  if (!writeBack) {
    if (slot.description && (slot.positioned || slot.description->table != Text(props.metadata)))
      FreeSlot(slot, true);
    if (slot.description) {
      slot.description->generation = generation;
    } else if (uint32_t st = DescribeTable(slot, TWNULLHANDLE)) {
      return st;
    }
  } else if (slot.description != select.description) {
    FreeSlot(slot, true);
    slot.description = select.description;
    slot.positioned = true;
  }
  const bool positioned = writeBack && select.forUpdate;
  const bool fresh = slot.stmt == SQL_NULL_HSTMT ||
                     (src != TWNULLHANDLE && TWFieldlistGetSequence(src) != slot.sequence) ||
                     (src == TWNULLHANDLE && slot.merged);
  if (fresh) {
    const bool merge = src != TWNULLHANDLE || slot.kind == SlotKind::kUpdate;
    const uint32_t st = NewStatement(
        *this, slot, src, merge, [&](const auto& names, std::string* text) -> uint32_t {
          std::vector<std::string> set;
          std::vector<KeyTerm> keys;
          for (const Named& n : names) {
            if ((n.flags & TWFIELDF_NO_UPDATE) == 0)
              set.push_back(CutName(n.name, columnNameLimit));
            const std::string_view op = KeyComparison(n.flags);
            if (!op.empty()) keys.push_back({CutName(n.name, columnNameLimit), op});
          }
          const std::string_view condition = Text(props.condition);
          // Without a key, a condition or a cursor the statement would change every row of the
          // table for each record.
          if (!positioned && keys.empty() && condition.empty())
            return TWActivityLogEx(TWFAIL_KEY_COUNT_MISMATCH, 0, 1, 0, nullptr, nullptr, nullptr);
          const std::string_view cursor = positioned ? std::string_view(select.cursor) : "";
          *text = slot.kind == SlotKind::kUpdate
                      ? UpdateText(Text(props.metadata), set, condition, keys, cursor)
                      : DeleteText(Text(props.metadata), condition, keys, cursor);
          return TWSUCCESS;
        });
    if (st != TWSUCCESS) return st;
  }
  for (uint32_t i = 0; i < std::max<uint32_t>(records, 1); ++i) {
    if (slot.merged) {
      if (uint32_t st = BindFields(slot, record + i)) return st;
    } else {
      const SQLRETURN rc = cli.Execute(slot.stmt);
      if (!Ok(rc) && rc != SQL_NO_DATA) return LogError(slot.stmt);
    }
    if (positioned) {
      ++*count;
    } else {
      SQLLEN rows = 0;
      if (Ok(cli.RowCount(slot.stmt, &rows)) && rows > 0) *count += static_cast<uint32_t>(rows);
    }
    if (uint32_t st = CommitStep()) return st;
  }
  return TWSUCCESS;
}

uint32_t Connection::Update(TWFIELDLIST src, uint32_t record, uint32_t records, uint32_t* count) {
  return Write(update, src, record, records, count);
}

uint32_t Connection::Remove(TWFIELDLIST keys, uint32_t record, uint32_t records, uint32_t* count) {
  return Write(remove, keys, record, records, count);
}

// ---------------------------------------------------------------- definitions ----------

uint32_t Connection::Create(uint32_t kind, TWFIELDLIST src) {
  if (kind != TWOBJECT_METADATA && kind != TWOBJECT_INDEX) return TWActivityLog(TWFAIL_UNAVAILABLE);
  if (dbc == SQL_NULL_HDBC) return TWActivityLog(TWFAIL_NOT_CONNECTED);
  const uint32_t format = LinkFormat();
  if (uint32_t st = TWFieldlistListSetup(src, format)) return TWActivityLog(st);
  if (Text(props.metadata).empty()) return LogNamed(TWFAIL_INVALID_METADATA, &props.metadata);
  if (kind == TWOBJECT_INDEX && Text(props.index).empty())
    return TWActivityLogEx(TWFAIL_MISSING_PROPERTY, TWTOKEN_INDEX, 0, 0, nullptr, nullptr, nullptr);
  std::vector<std::string> parts;
  flowcore::StreamData name;
  for (;;) {
    TWFIELD field = TWNULLHANDLE;
    const uint32_t st = TWFieldlistList(src, &field, nullptr, nullptr, nullptr, name.get());
    if (st == TWFAIL_END_OF_DATA) break;
    if (st != TWSUCCESS) return TWActivityLog(st);
    const FieldShape shape = ShapeOfField(field);
    if ((shape.fieldFlags & TWFIELDF_NO_CREATE) != 0) continue;
    const std::string column = CutName(NameText(*name.get()), columnNameLimit);
    if (kind == TWOBJECT_INDEX) {
      if ((shape.fieldFlags & TWFIELDF_KEY) != 0) parts.push_back(column);
      continue;
    }
    const std::optional<std::string> type =
        ColumnType(shape, limits, serverKind, static_cast<uint32_t>(props.createMaxLogged));
    if (!type) return TWActivityLogEx(TWFAIL_INVALID_TYPE, 0, 0, 0, name.get(), nullptr, nullptr);
    parts.push_back(ColumnDefinition(column, *type, (shape.fieldFlags & TWFIELDF_NO_NULL) != 0));
  }
  std::string text = kind == TWOBJECT_INDEX
                         ? CreateIndexText(Text(props.index), Text(props.metadata), parts)
                         : CreateTableText(Text(props.metadata), parts);
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  if (uint32_t st = AllocStatement(&stmt)) return st;
  uint32_t status = TWSUCCESS;
  const SQLRETURN rc = Api().ExecDirect(stmt, Chars(text), static_cast<SQLINTEGER>(text.size()));
  if (!Ok(rc)) {
    status = kind == TWOBJECT_INDEX ? LogSqlState(stmt, "S0011", TWFAIL_DUPLICATE, &props.index)
                                    : LogSqlState(stmt, "S0001", TWFAIL_DUPLICATE, &props.metadata);
  }
  DropStatement(stmt);
  if (status != TWSUCCESS) return status;
  // A new table may differ from one described under its name before.
  for (Slot* slot : {&insert, &update, &remove}) FreeSlot(*slot, true);
  return CommitStep();
}

uint32_t Connection::Drop(uint32_t kind) {
  if (kind != TWOBJECT_METADATA && kind != TWOBJECT_INDEX) return TWActivityLog(TWFAIL_UNAVAILABLE);
  if (dbc == SQL_NULL_HDBC) return TWActivityLog(TWFAIL_NOT_CONNECTED);
  std::string text;
  if (kind == TWOBJECT_METADATA) {
    if (Text(props.metadata).empty()) return LogNamed(TWFAIL_INVALID_METADATA, &props.metadata);
    text = DropTableText(Text(props.metadata));
  } else {
    if (Text(props.index).empty())
      return TWActivityLogEx(TWFAIL_MISSING_PROPERTY, TWTOKEN_INDEX, 0, 0, nullptr, nullptr,
                             nullptr);
    text = DropIndexText(Text(props.index));
  }
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  if (uint32_t st = AllocStatement(&stmt)) return st;
  uint32_t status = TWSUCCESS;
  if (!Ok(Api().ExecDirect(stmt, Chars(text), static_cast<SQLINTEGER>(text.size()))))
    status = LogError(stmt);
  DropStatement(stmt);
  if (status == TWSUCCESS && kind == TWOBJECT_METADATA)
    for (Slot* slot : {&insert, &update, &remove}) FreeSlot(*slot, true);
  return status;
}

// ---------------------------------------------------------------- catalogues -----------

uint32_t Connection::Catalog(uint32_t kind, TWFIELDLIST dest, uint32_t* count) {
  const Cli& cli = Api();
  ResetSelect();
  if (kind != TWOBJECT_DATABASE && kind != TWOBJECT_METADATA && kind != TWOBJECT_FIELD)
    return TWActivityLog(TWFAIL_UNAVAILABLE);
  std::string first;
  uint32_t firstSize = 32;
  if (kind == TWOBJECT_DATABASE) {
    first = "DATABASE";
    databaseDirection = SQL_FETCH_FIRST;
    catalogueMap = {0, 0, 0};
  } else {
    if (dbc == SQL_NULL_HDBC) return TWActivityLog(TWFAIL_NOT_CONNECTED);
    if (uint32_t st = AllocStatement(&select.stmt)) return st;
    SQLRETURN rc = SQL_SUCCESS;
    if (kind == TWOBJECT_METADATA) {
      std::string type = "TABLE";
      rc = cli.Tables(select.stmt, nullptr, 0, nullptr, 0, nullptr, 0, Chars(type), 5);
      catalogueMap = {3, 0, 5};
      first = "TABLE_NAME";
      firstSize = tableNameLimit;
    } else {
      if (Text(props.metadata).empty()) {
        ResetSelect();
        return LogNamed(TWFAIL_INVALID_METADATA, &props.metadata);
      }
      // Catalogue names are kept in upper case; the property keeps what was asked for.
      std::string table(Text(props.metadata));
      for (char& ch : table) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
      (void)TWStreamDataSet(&props.metadata, LinkFormat(), table.data(),
                            static_cast<uint32_t>(table.size()));
      rc = cli.Columns(select.stmt, nullptr, 0, nullptr, 0, Chars(table),
                       static_cast<SQLSMALLINT>(table.size()), nullptr, 0);
      catalogueMap = {4, 0, 12};
      first = "COLUMN_NAME";
      firstSize = columnNameLimit;
    }
    if (rc != SQL_SUCCESS) {
      const uint32_t st = LogError(select.stmt);
      ResetSelect();
      return st;
    }
  }
  auto description = std::make_shared<Description>();
  description->generation = NextGeneration();
  TWFIELDLIST list = TWNULLHANDLE;
  if (uint32_t st = TWFieldlistAlloc(&list, 0, 0)) return TWActivityLog(st);
  description->fields.reset(list);
  const std::pair<std::string, uint32_t> columns[3] = {
      {first, firstSize}, {"OWNER", 1}, {"COMMENT", 254}};
  flowcore::StreamData name;
  for (const auto& [text, size] : columns) {
    TWFIELD field = TWNULLHANDLE;
    uint32_t st =
        TWStreamDataSet(name.get(), LinkFormat(), text.data(), static_cast<uint32_t>(text.size()));
    if (st == TWSUCCESS) st = TWFieldlistAppend(list, name.get(), TWTYPE_TEXT, &field);
    if (st == TWSUCCESS) st = TWFieldSetFormatStream(field, 0, size, LinkFormat());
    if (st != TWSUCCESS) {
      ResetSelect();
      return TWActivityLog(st);
    }
    const bool wide = static_cast<int64_t>(size) > limits.varcharSize && limits.varcharSize > 0;
    description->columns.push_back({static_cast<int16_t>(wide ? SQL_LONGVARCHAR : SQL_VARCHAR),
                                    size, 0, static_cast<SQLLEN>(size), false, false});
  }
  if (dest != TWNULLHANDLE)
    if (uint32_t st = CopyFields(dest, list)) {
      ResetSelect();
      return TWActivityLog(st);
    }
  select.description = std::move(description);
  catalogue = static_cast<Catalogue>(kind);
  *count = TWCOUNT_UNKNOWN;
  return TWSUCCESS;
}

}  // namespace xandb
