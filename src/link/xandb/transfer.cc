// Value transfer of the Xandb connector: describing tables and results into field lists,
// checking a caller's fields against the columns (the merge), binding values as parameters
// (one record, or arrays of records), and fetching column values into fields.
//
// Widths: every length, indicator and row count the client sees is an SQLLEN or SQLULEN, as
// the client library's are.
#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "connection.h"

namespace xandb {
namespace {

// Longer values are not sent through parameter arrays (bytes, and bytes of a graphic column).
constexpr SQLULEN kLongColumn = 32700;
constexpr SQLULEN kLongGraphic = 16350;
// The room of a number's text: what the engine's longest NUMERIC and CURRENCY texts take.
constexpr SQLLEN kNumericRoom = 190;
constexpr SQLLEN kCurrencyRoom = 61;
// A piece of a long value read when the client cannot tell its length.
constexpr SQLLEN kPiece = 4096;

bool IsCharColumn(int16_t t) {
  return t == SQL_CHAR || t == SQL_VARCHAR || t == SQL_LONGVARCHAR || t == kSqlClob ||
         t == kSqlGraphic || t == kSqlVarGraphic || t == kSqlLongVarGraphic || t == kSqlDbClob;
}
bool IsBinaryColumn(int16_t t) {
  return t == SQL_BINARY || t == SQL_VARBINARY || t == SQL_LONGVARBINARY || t == kSqlBlob;
}
// Columns whose stated size is no bound on their values (psqlODBC states 8190 for text).
bool IsLongColumn(int16_t t) {
  return t == SQL_LONGVARCHAR || t == kSqlClob || t == kSqlLongVarGraphic || t == kSqlDbClob ||
         t == SQL_LONGVARBINARY || t == kSqlBlob;
}
bool IsDatetimeColumn(int16_t t) {
  return t == SQL_DATE || t == SQL_TIME || t == SQL_TIMESTAMP;
}
SQLLEN StructSize(int16_t t) {
  return t == SQL_TIMESTAMP ? SQLLEN{sizeof(TIMESTAMP_STRUCT)} : SQLLEN{6};
}

// Logs status naming field entry index of list; answers status.
uint32_t LogField(uint32_t status, TWFIELDLIST list, uint32_t index, uint32_t format,
                  uint32_t int1 = 0, uint32_t int2 = 0) {
  flowcore::StreamData name;
  if (TWFieldlistGetName(list, index, format, name.get()) != TWSUCCESS) name.Free();
  return TWActivityLogEx(status, int1, int2, 0, name.get(), nullptr, nullptr);
}

// A field of a walk over a list: its handle, entry number, position (the column), type, flags.
struct Entry {
  TWFIELD field = TWNULLHANDLE;
  uint32_t index = 0;
  uint32_t position = 0;
  uint32_t type = TWTYPE_INVALID;
  uint32_t flags = 0;
};

// Calls each(entry) for every field of list in order; stops at the first non-zero answer.
template <class F>
uint32_t Walk(TWFIELDLIST list, uint32_t format, F&& each) {
  if (uint32_t st = TWFieldlistListSetup(list, format)) return st;
  for (uint32_t index = 1;; ++index) {
    Entry e;
    e.index = index;
    const uint32_t st = TWFieldlistList(list, &e.field, &e.position, &e.type, &e.flags, nullptr);
    if (st == TWFAIL_END_OF_DATA) return TWSUCCESS;
    if (st != TWSUCCESS) return st;
    if (uint32_t r = each(e)) return r;
  }
}

// The stream format of a TEXT or BINARY field, 0 for other types.
uint32_t StreamFormatOf(const Entry& e) {
  if (e.type != TWTYPE_TEXT && e.type != TWTYPE_BINARY) return 0;
  uint32_t format = 0;
  TWFieldGetFormatStream(e.field, nullptr, nullptr, &format);
  return format;
}

bool IsRangeStatus(uint32_t status) {
  return (status & 0xFF00u) == 0x3200u;
}

// The parts of a datetime into the client's structure of type (DATE, TIME or TIMESTAMP).
void ToStruct(const TWDatetime& value, int16_t type, unsigned char* out) {
  TWDatetimeParts p{};
  (void)TWDatetimeGetParts(&value, TWPARTSF_LOCAL | TWPARTSF_NULL_MIN, &p);
  if (type == SQL_DATE) {
    DATE_STRUCT d{static_cast<SQLSMALLINT>(p.year), static_cast<SQLUSMALLINT>(p.month),
                  static_cast<SQLUSMALLINT>(p.day)};
    std::memcpy(out, &d, sizeof d);
  } else if (type == SQL_TIME) {
    TIME_STRUCT t{static_cast<SQLUSMALLINT>(p.hour), static_cast<SQLUSMALLINT>(p.minute),
                  static_cast<SQLUSMALLINT>(p.second)};
    std::memcpy(out, &t, sizeof t);
  } else {
    TIMESTAMP_STRUCT ts{static_cast<SQLSMALLINT>(p.year),
                        static_cast<SQLUSMALLINT>(p.month),
                        static_cast<SQLUSMALLINT>(p.day),
                        static_cast<SQLUSMALLINT>(p.hour),
                        static_cast<SQLUSMALLINT>(p.minute),
                        static_cast<SQLUSMALLINT>(p.second),
                        static_cast<SQLUINTEGER>(p.hundredth) * 10000000u};
    std::memcpy(out, &ts, sizeof ts);
  }
}

// One value of a field as the client takes it. data points at the bytes (the field's own, or
// the buffers given); length is the indicator (SQL_NULL_DATA for null).
struct Value {
  int16_t cType = SQL_C_CHAR;
  const void* data = nullptr;
  SQLLEN length = 0;
};

// The client's C type of a field's values on column (before any value is read).
int16_t CTypeOf(uint32_t type, uint32_t streamFormat, const Column& column) {
  switch (type) {
    case TWTYPE_INT:
      return SQL_C_LONG;
    case TWTYPE_FLOAT:
      return SQL_C_DOUBLE;
    case TWTYPE_DATETIME:
      return column.sqlType;
    case TWTYPE_TEXT:
    case TWTYPE_BINARY:
      if (streamFormat == TWSTREAMFMT_NUMBER_LIST &&
          (column.sqlType == SQL_INTEGER || column.sqlType == SQL_DOUBLE))
        return SQL_C_DOUBLE;
      if (streamFormat == TWSTREAMFMT_DATETIME_LIST && IsDatetimeColumn(column.sqlType))
        return column.sqlType;
      return column.binary ? SQL_C_BINARY : SQL_C_CHAR;
    default:
      return SQL_C_CHAR;
  }
}

// Converts value record of field (entry e) for column. raw holds numbers' texts, doubles and
// structures (room bytes); stream takes converted text or binary. nullForEmpty: a text that
// converts to nothing is sent as null (not used: an empty text is stored as empty).
uint32_t ConvertValue(const Entry& e, uint32_t record, const Column& column, uint32_t linkFormat,
                      unsigned char* raw, size_t room, TWStream* stream, Value& out) {
  const uint32_t format = StreamFormatOf(e);
  out.cType = CTypeOf(e.type, format, column);
  if (TWFieldIsNull(e.field, record) != 0) {
    out.length = SQL_NULL_DATA;
    out.data = raw;
    return TWSUCCESS;
  }
  void* value = nullptr;
  if (uint32_t st = TWFieldGetBuffer(e.field, record, &value, nullptr)) return st;
  switch (e.type) {
    case TWTYPE_INT:
      out.data = value;
      out.length = 4;
      return TWSUCCESS;
    case TWTYPE_FLOAT:
      out.data = value;
      out.length = 8;
      return TWSUCCESS;
    case TWTYPE_CURRENCY:
    case TWTYPE_NUMERIC: {
      flowcore::StreamData text;
      const uint32_t st =
          e.type == TWTYPE_CURRENCY
              ? TWStreamFromCurrency(text.get(), static_cast<const TWCurrency*>(value),
                                     TWSTREAMFMT_NATIVE)
              : TWStreamFromNumeric(text.get(), static_cast<const TWNumeric*>(value),
                                    TWSTREAMFMT_NATIVE);
      if (st != TWSUCCESS) return st;
      const size_t n = std::min<size_t>(text.get()->length, room - 1);
      if (n > 0) std::memcpy(raw, text.get()->data, n);
      raw[n] = '\0';
      out.data = raw;
      out.length = static_cast<SQLLEN>(n);
      return TWSUCCESS;
    }
    case TWTYPE_DATETIME:
      ToStruct(*static_cast<const TWDatetime*>(value), column.sqlType, raw);
      out.data = raw;
      out.length = StructSize(column.sqlType);
      return TWSUCCESS;
    case TWTYPE_TEXT:
    case TWTYPE_BINARY:
      break;
    default:
      return TWFAIL_INVALID_TYPE;
  }
  const auto* source = static_cast<const TWStream*>(value);
  const bool truncate = (e.flags & TWFIELDF_TRUNC_DATA) != 0;
  if (out.cType == SQL_C_DOUBLE || (format == TWSTREAMFMT_DATETIME_LIST &&
                                    out.cType != SQL_C_CHAR && out.cType != SQL_C_BINARY)) {
    const bool numbers = out.cType == SQL_C_DOUBLE;
    uint32_t count = 0;
    if (source->length != 0) {
      if (uint32_t st = numbers ? TWNumberListGetCount(source, &count, nullptr)
                                : TWDatetimeListGetCount(source, &count, nullptr))
        return st;
    }
    if (count == 0) {
      out.length = SQL_NULL_DATA;
      out.data = raw;
      return TWSUCCESS;
    }
    if (count > 1 && !truncate) return TWFAIL_OVERFLOW;
    if (numbers) {
      double first = 0;
      if (uint32_t st = TWNumberListGetFirst(source, &first)) return st;
      std::memcpy(raw, &first, sizeof first);
      out.length = 8;
    } else {
      TWDatetime first{};
      if (uint32_t st = TWDatetimeListGetFirst(source, &first)) return st;
      ToStruct(first, column.sqlType, raw);
      out.length = StructSize(column.sqlType);
    }
    out.data = raw;
    return TWSUCCESS;
  }
  void* bytes = nullptr;
  uint32_t length = 0;
  if (uint32_t st = TWStreamDataConvert(stream, source, TWCONVERTF_REFERENCE | TWCONVERTF_PRESERVE,
                                        out.cType == SQL_C_BINARY ? TWSTREAMFMT_BLOB : linkFormat,
                                        &bytes, &length))
    return st;
  SQLLEN n = length;
  if (column.graphic && (n % 2) != 0) ++n;
  if (IsLongColumn(column.sqlType)) {
    // Sent whole, in pieces when long: the data source judges.
  } else if (out.cType == SQL_C_CHAR && !column.graphic) {
    // The column's size counts characters.
    const twx::Fit fit = twx::FitCharacters(linkFormat, bytes, length, column.size);
    if (!fit.fits) {
      if (!truncate) return TWFAIL_OVERFLOW;
      n = static_cast<SQLLEN>(fit.length);
    }
  } else if (n > column.bufferLength) {
    if (!truncate) return TWFAIL_OVERFLOW;
    n = column.bufferLength;
  }
  // An empty value still needs an address.
  out.data = bytes != nullptr ? bytes : raw;
  out.length = n;
  return TWSUCCESS;
}

}  // namespace

// ---------------------------------------------------------------- describing -----------

namespace {

// The field and column record of one described column; false for a type the connector does
// not carry.
struct Described {
  uint32_t type = TWTYPE_INVALID;
  uint32_t formatFlags = 0;
  uint32_t size = 0;  // stream length or number byte size
  uint32_t precision = 0;
  int32_t scale = 0;
  uint32_t streamFormat = 0;
  Column column;
};

// How each reported SQL type is described and carried.
struct Mapping {
  int16_t reported;
  uint32_t type;        // the field's
  uint32_t flags;       // its format flags
  int16_t bound;        // the type bound and fetched; 0: as reported
  int16_t boundKind12;  // the same for server kinds 1 and 2; 0: as bound
  int32_t room;         // the buffer length: above 0 as given; 0 the size; -2 twice the size
  uint32_t byteSize;    // numbers: the field's size
  bool binary;
  bool graphic;
};
constexpr uint32_t kText = TWTYPE_TEXT, kBinary = TWTYPE_BINARY, kDatetime = TWTYPE_DATETIME,
                   kFixed = TWSTREAMF_FIXED;
constexpr Mapping kMappings[] = {
    {SQL_CHAR, kText, kFixed, 0, 0, 0, 0, false, false},
    {SQL_VARCHAR, kText, 0, 0, SQL_CHAR, 0, 0, false, false},
    {SQL_LONGVARCHAR, kText, 0, 0, 0, 0, 0, false, false},
    {kSqlClob, kText, 0, 0, 0, 0, 0, false, false},
    {kSqlGraphic, kText, kFixed, 0, 0, -2, 0, false, true},
    {kSqlVarGraphic, kText, 0, 0, 0, -2, 0, false, true},
    {kSqlLongVarGraphic, kText, 0, 0, 0, -2, 0, false, true},
    {kSqlDbClob, kText, 0, 0, 0, -2, 0, false, true},
    {SQL_NUMERIC, TWTYPE_NUMERIC, 0, SQL_NUMERIC, 0, kNumericRoom, 0, false, false},
    {SQL_DECIMAL, TWTYPE_NUMERIC, TWNUMBERF_DECIMAL, SQL_NUMERIC, 0, kNumericRoom, 0, false, false},
    {SQL_INTEGER, TWTYPE_INT, 0, SQL_INTEGER, 0, 4, 4, false, false},
    {SQL_SMALLINT, TWTYPE_INT, 0, SQL_INTEGER, 0, 4, 2, false, false},
    {SQL_FLOAT, TWTYPE_FLOAT, 0, SQL_DOUBLE, 0, 8, 8, false, false},
    {SQL_REAL, TWTYPE_FLOAT, 0, SQL_DOUBLE, 0, 8, 4, false, false},
    {SQL_DOUBLE, TWTYPE_FLOAT, 0, SQL_DOUBLE, 0, 8, 8, false, false},
    {SQL_DATE, kDatetime, TWDATETIMEF_NO_TIME, SQL_DATE, 0, 6, 0, false, false},
    {SQL_TYPE_DATE, kDatetime, TWDATETIMEF_NO_TIME, SQL_DATE, 0, 6, 0, false, false},
    {SQL_TIME, kDatetime, TWDATETIMEF_NO_DATE, SQL_TIME, 0, 6, 0, false, false},
    {SQL_TYPE_TIME, kDatetime, TWDATETIMEF_NO_DATE, SQL_TIME, 0, 6, 0, false, false},
    {SQL_TIMESTAMP, kDatetime, 0, SQL_TIMESTAMP, 0, 16, 0, false, false},
    {SQL_TYPE_TIMESTAMP, kDatetime, 0, SQL_TIMESTAMP, 0, 16, 0, false, false},
    {SQL_BINARY, kBinary, kFixed, 0, 0, 0, 0, true, false},
    {SQL_VARBINARY, kBinary, 0, 0, SQL_BINARY, 0, 0, true, false},
    {SQL_LONGVARBINARY, kBinary, 0, 0, 0, 0, 0, true, false},
    {kSqlBlob, kBinary, 0, 0, 0, 0, 0, true, false},
};

bool DescribeColumn(int16_t sqlType, SQLULEN size, int16_t scale, int32_t serverKind,
                    uint32_t linkFormat, Described& d) {
  const Mapping* m = nullptr;
  for (const Mapping& row : kMappings)
    if (row.reported == sqlType) m = &row;
  if (m == nullptr) return false;
  const bool stream = m->type == kText || m->type == kBinary;
  // A driver that cannot tell a character or binary column's size (0, or SQL_NO_TOTAL seen as
  // a huge unsigned value) puts no bound on it.
  if (size > static_cast<SQLULEN>(std::numeric_limits<int32_t>::max()) || (stream && size == 0))
    size = std::numeric_limits<int32_t>::max();
  const auto length = static_cast<uint32_t>(size);
  Column& c = d.column;
  c.sqlType = m->bound != 0 ? m->bound : sqlType;
  if (m->boundKind12 != 0 && (serverKind == 1 || serverKind == 2)) c.sqlType = m->boundKind12;
  c.size = size;
  c.scale = scale;
  c.binary = m->binary;
  c.graphic = m->graphic;
  d.type = m->type;
  d.formatFlags = m->flags;
  d.streamFormat = m->binary ? TWSTREAMFMT_BLOB : linkFormat;
  if (m->room > 0) {
    c.bufferLength = m->room;
    d.size = m->byteSize;
  } else {
    d.size = m->room == -2 ? (length > 0x3FFFFFFFu ? 0x7FFFFFFFu : 2 * length) : length;
    c.bufferLength = static_cast<SQLLEN>(d.size);
  }
  if (IsLongColumn(c.sqlType)) {
    c.bufferLength = 0x7FFFFFFF;
  } else if (m->type == kText && !m->graphic) {
    // A size in characters: the field holds their bytes in the link's text format.
    d.size = twx::CharRoom(length, linkFormat);
    c.bufferLength = d.size >= 0x7FFFFFFE ? 0x7FFFFFFF : static_cast<SQLLEN>(d.size);
  }
  if (m->type == TWTYPE_NUMERIC) {
    d.precision = length;
    d.scale = scale == 0 ? static_cast<int32_t>(TWSCALE_ZERO) : scale;
  }
  if (stream && c.bufferLength >= 0x7FFFFFFF) {
    c.bufferLength = 0x7FFFFFFE;
    d.size = 0;
  }
  if (d.formatFlags == kFixed && d.size == 0) d.formatFlags = 0;
  return true;
}

uint32_t AppendDescribed(TWFIELDLIST list, const TWStream* name, const Described& d, bool notNull) {
  TWFIELD field = TWNULLHANDLE;
  if (uint32_t st = TWFieldlistAppend(list, name, d.type, &field)) return st;
  uint32_t st = TWSUCCESS;
  if (d.type == TWTYPE_TEXT || d.type == TWTYPE_BINARY)
    st = TWFieldSetFormatStream(field, d.formatFlags, d.size, d.streamFormat);
  else if (d.type == TWTYPE_DATETIME)
    st = TWFieldSetFormatDatetime(field, d.formatFlags, 0);
  else
    st = TWFieldSetFormatNumber(field, d.formatFlags, d.size, d.precision, d.scale);
  if (st == TWSUCCESS && notNull)
    st = TWFieldSetFlags(field, TWFieldGetFlags(field) | TWFIELDF_NO_NULL);
  return st;
}

// Appends to dest a field of the name, type, flags and format of field (no values).
uint32_t AppendLike(TWFIELDLIST dest, const TWStream* name, TWFIELD field) {
  const uint32_t type = TWFieldGetType(field);
  TWFIELD made = TWNULLHANDLE;
  if (uint32_t st = TWFieldlistAppend(dest, name, type, &made)) return st;
  uint32_t flags = 0, size = 0, precision = 0, format = 0;
  int32_t scale = 0;
  uint32_t st = TWSUCCESS;
  if (type == TWTYPE_TEXT || type == TWTYPE_BINARY) {
    TWFieldGetFormatStream(field, &flags, &size, &format);
    st = TWFieldSetFormatStream(made, flags, size, format);
  } else if (type == TWTYPE_DATETIME) {
    TWFieldGetFormatDatetime(field, &flags, &size);
    st = TWFieldSetFormatDatetime(made, flags, size);
  } else {
    TWFieldGetFormatNumber(field, &flags, &size, &precision, &scale);
    st = TWFieldSetFormatNumber(made, flags, size, precision, scale);
  }
  if (st != TWSUCCESS) return st;
  // The flags dest gives its fields (its TRUNC_DATA and TRUNC_PREC) stay.
  return TWFieldSetFlags(made, TWFieldGetFlags(made) | TWFieldGetFlags(field));
}

}  // namespace

uint32_t CopyFields(TWFIELDLIST dest, TWFIELDLIST fields) {
  flowcore::StreamData name;
  for (uint32_t i = 1; i <= TWFieldlistGetCount(fields); ++i) {
    TWFIELD field = TWNULLHANDLE;
    if (uint32_t st = TWFieldlistGetField(fields, i, 0, &field, name.get())) return st;
    if (uint32_t st = AppendLike(dest, name.get(), field)) return st;
  }
  return TWSUCCESS;
}

uint32_t Connection::DescribeResult(Slot& slot, SQLHSTMT stmt, TWFIELDLIST dest, bool forTable) {
  const Cli& cli = Api();
  SQLSMALLINT count = 0;
  if (!Ok(cli.NumResultCols(stmt, &count))) return LogError(stmt);
  auto description = std::make_shared<Description>();
  TWFIELDLIST list = TWNULLHANDLE;
  if (uint32_t st = TWFieldlistAlloc(&list, 0, 0)) return TWActivityLog(st);
  description->fields.reset(list);
  std::vector<SQLCHAR> name(columnNameLimit + 2, 0);
  flowcore::StreamData nameStream;
  for (SQLSMALLINT i = 1; i <= count; ++i) {
    SQLSMALLINT nameLength = 0, sqlType = 0, scale = 0, nullable = 0;
    SQLULEN size = 0;
    if (!Ok(cli.DescribeCol(stmt, static_cast<SQLUSMALLINT>(i), name.data(),
                            static_cast<SQLSMALLINT>(columnNameLimit + 1), &nameLength, &sqlType,
                            &size, &scale, &nullable)))
      return LogError(stmt);
    const size_t length = strnlen(reinterpret_cast<char*>(name.data()), columnNameLimit + 1);
    if (uint32_t st = TWStreamDataSet(nameStream.get(), LinkFormat(), name.data(),
                                      static_cast<uint32_t>(length)))
      return TWActivityLog(st);
    Described d;
    if (!DescribeColumn(sqlType, size, scale, serverKind, LinkFormat(), d))
      return TWActivityLogEx(TWFAIL_INVALID_TYPE, 0, 0, 0, nameStream.get(), nullptr, nullptr);
    if (uint32_t st = AppendDescribed(list, nameStream.get(), d, nullable == SQL_NO_NULLS))
      return TWActivityLog(st);
    // Values of the long types go through arrays while they are short (see InsertRows).
    if ((d.type == TWTYPE_TEXT || d.type == TWTYPE_BINARY) && !IsLongColumn(d.column.sqlType))
      description->longColumn |= d.column.graphic
                                     ? d.column.size > kLongGraphic
                                     : d.column.bufferLength > static_cast<SQLLEN>(kLongColumn);
    // SQLite's driver takes the length of an array's first binary value for every row.
    if (d.column.binary) description->longColumn = true;
    description->columns.push_back(d.column);
  }
  if (dest != TWNULLHANDLE)
    if (uint32_t st = CopyFields(dest, list)) return TWActivityLog(st);
  if (forTable) {
    description->generation = generation;
    description->table = Text(props.metadata);
  } else {
    description->generation = NextGeneration();
    if (props.writeBack != 0) description->table = Text(props.metadata);
  }
  slot.description = std::move(description);
  slot.positioned = props.writeBack != 0;
  return TWSUCCESS;
}

uint32_t Connection::DescribeTable(Slot& slot, TWFIELDLIST dest) {
  for (Slot* other : {&select, &insert, &update, &remove}) {
    if (!other->description || other->description->generation != generation) continue;
    slot.description = other->description;
    if (dest != TWNULLHANDLE)
      if (uint32_t st = CopyFields(dest, slot.description->fields.get())) return TWActivityLog(st);
    return TWSUCCESS;
  }
  if (Text(props.metadata).empty()) return LogNamed(TWFAIL_INVALID_METADATA, &props.metadata);
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  if (uint32_t st = AllocStatement(&stmt)) return st;
  std::string text = DescribeText(Text(props.metadata));
  uint32_t status = TWSUCCESS;
  // Run rather than only prepared: it selects nothing, and PostgreSQL's driver keeps memory of
  // a prepared statement that never ran beyond its end.
  const SQLRETURN rc = Api().ExecDirect(stmt, reinterpret_cast<SQLCHAR*>(text.data()),
                                        static_cast<SQLINTEGER>(text.size()));
  if (!Ok(rc) && rc != SQL_NO_DATA)
    status = LogSqlState(stmt, "S0002", TWFAIL_INVALID_METADATA, &props.metadata);
  if (status == TWSUCCESS) status = DescribeResult(slot, stmt, dest, true);
  slot.positioned = false;
  DropStatement(stmt);
  return status;
}

// ---------------------------------------------------------------- merging --------------

uint32_t Connection::Merge(Slot& slot, TWFIELDLIST list) {
  slot.merged.reset();
  slot.sequence = 0;
  if (list == TWNULLHANDLE) return TWActivityLog(TWFAIL_INVALID_FIELDLIST);
  if (TWFieldlistGetCount(list) == 0) return TWActivityLog(TWFAIL_EMPTY_FIELDLIST);
  if (TWFieldlistGetRecordCount(list) == 0) return TWActivityLog(TWFAIL_NAME_FIELDLIST);
  if (!slot.description) return TWActivityLog(TWFAIL_PROGRAM);
  const uint32_t mode = TWMERGEF_NAME_LOSS | (props.mapName != 0 ? TWMERGEF_MAP_NAME : 0u);
  uint32_t flag = slot.mergeFlag;
  if ((slot.kind == SlotKind::kUpdate || slot.kind == SlotKind::kRemove) && !slot.positioned)
    flag |= TWMERGEF_KEY;
  TWFIELDLIST merged = TWNULLHANDLE;
  if (uint32_t st = TWFieldlistMerge(&merged, slot.description->fields.get(), list, flag | mode))
    return TWActivityLog(st);
  FieldlistPtr owned(merged);
  const auto& columns = slot.description->columns;
  const uint32_t fields = TWFieldlistGetCount(merged);
  if (fields > columns.size())
    return TWActivityLogEx(TWFAIL_FIELD_COUNT_MISMATCH, fields,
                           static_cast<uint32_t>(columns.size()), 0, nullptr, nullptr, nullptr);
  const bool selecting = slot.kind == SlotKind::kSelect;
  const uint32_t format = LinkFormat();
  const uint32_t status = Walk(merged, format, [&](const Entry& e) -> uint32_t {
    if (e.position == 0 || e.position > columns.size())
      return LogField(TWFAIL_FIELD_COUNT_MISMATCH, merged, e.index, format);
    const int16_t col = columns[e.position - 1].sqlType;
    const uint32_t raw = StreamFormatOf(e);
    const uint32_t f = selecting && raw != TWSTREAMFMT_BLOB ? 0 : raw;
    const bool truncPrec = (e.flags & TWFIELDF_TRUNC_PREC) != 0;
    bool accepted = false, lossy = false;
    uint32_t expected = 0;
    if (IsCharColumn(col)) {
      accepted = e.type == TWTYPE_TEXT || f != 0;
      expected = TWTYPE_TEXT;
    } else if (IsBinaryColumn(col)) {
      accepted = e.type == TWTYPE_TEXT || f != 0;
      expected = TWSTREAMFMT_BLOB;
    } else if (col == SQL_NUMERIC) {
      accepted = e.type == TWTYPE_NUMERIC;
      lossy = (e.type == TWTYPE_INT && selecting) || e.type == TWTYPE_FLOAT ||
              e.type == TWTYPE_CURRENCY || raw == TWSTREAMFMT_NUMBER_LIST;
      expected = TWTYPE_NUMERIC;
    } else if (col == SQL_INTEGER) {
      accepted = e.type == TWTYPE_INT;
      const bool near = e.type == TWTYPE_FLOAT || e.type == TWTYPE_CURRENCY ||
                        e.type == TWTYPE_NUMERIC || raw == TWSTREAMFMT_NUMBER_LIST;
      accepted = accepted || (near && selecting);
      lossy = near && !selecting;
      expected = TWTYPE_INT;
    } else if (col == SQL_DOUBLE) {
      accepted = e.type == TWTYPE_FLOAT || raw == TWSTREAMFMT_NUMBER_LIST;
      lossy = (e.type == TWTYPE_INT && selecting) || e.type == TWTYPE_CURRENCY ||
              e.type == TWTYPE_NUMERIC;
      expected = TWTYPE_FLOAT;
    } else if (IsDatetimeColumn(col)) {
      accepted = e.type == TWTYPE_DATETIME || (raw == TWSTREAMFMT_DATETIME_LIST && selecting);
      lossy = raw == TWSTREAMFMT_DATETIME_LIST && !selecting;
      expected = TWTYPE_DATETIME;
    } else {
      return LogField(TWFAIL_INVALID_TYPE, merged, e.index, format);
    }
    if (accepted) return TWSUCCESS;
    if (lossy)
      return truncPrec ? TWSUCCESS : LogField(TWFAIL_PRECISION_LOSS, merged, e.index, format);
    const uint32_t given = e.type == TWTYPE_BINARY ? raw : e.type;
    return LogField(TWFAIL_TYPE_MISMATCH, merged, e.index, format, given, expected);
  });
  if (status != TWSUCCESS) return IsRangeStatus(status) ? status : TWActivityLog(status);
  slot.merged = std::move(owned);
  slot.sequence = TWFieldlistGetSequence(list);
  return TWSUCCESS;
}

// ---------------------------------------------------------------- binding --------------

namespace {

// Binds value as parameter number of stmt for column; pv keeps its indicator, and a long
// value, until the statement has run.
uint32_t BindValue(Connection& c, SQLHSTMT stmt, SQLUSMALLINT number, const Column& column,
                   const Value& v, ParameterValue& pv) {
  pv.indicator = v.length;
  SQLPOINTER buffer = const_cast<void*>(v.data);
  SQLLEN bufferLength = v.length == SQL_NULL_DATA ? 0 : v.length + 1;
  SQLULEN size = column.size;
  if (v.length != SQL_NULL_DATA && (v.cType == SQL_C_CHAR || v.cType == SQL_C_BINARY)) {
    twx::BindLong(pv.longValue, v.data, static_cast<size_t>(v.length), &buffer, &pv.indicator);
    // Never a size below the value's bytes: a driver may cut the value to it.
    if (static_cast<SQLULEN>(v.length) > size) size = static_cast<SQLULEN>(v.length);
  }
  if (!Ok(Api().BindParameter(stmt, number, SQL_PARAM_INPUT, v.cType, column.sqlType, size,
                              column.scale, buffer, bufferLength, &pv.indicator)))
    return c.LogError(stmt);
  return TWSUCCESS;
}

}  // namespace

SQLRETURN Connection::Run(SQLHSTMT stmt) {
  const Cli& cli = Api();
  return twx::SendLongValues(cli.Execute(stmt), stmt, cli.ParamData, cli.PutData);
}

uint32_t Connection::BindFields(Slot& slot, uint32_t record, bool execute) {
  const auto& columns = slot.description->columns;
  TWFIELDLIST list = slot.merged.get();
  const uint32_t format = LinkFormat();
  // The fields bound, in parameter order: SET values first, then key values.
  std::vector<Entry> bound;
  const bool positioned = slot.positioned && select.forUpdate;
  for (int pass = 0; pass < 2; ++pass) {
    const bool keyPass = pass == 1;
    if (keyPass && (slot.kind == SlotKind::kInsert || positioned)) break;
    if (!keyPass && slot.kind == SlotKind::kRemove) continue;
    const uint32_t st = Walk(list, format, [&](const Entry& e) -> uint32_t {
      const bool key = (e.flags & TWFIELDF_KEY) != 0;
      if (keyPass ? key : (slot.kind == SlotKind::kInsert || (e.flags & TWFIELDF_NO_UPDATE) == 0))
        bound.push_back(e);
      return TWSUCCESS;
    });
    if (st != TWSUCCESS) return TWActivityLog(st);
  }
  while (slot.values.size() < bound.size())
    slot.values.push_back(std::make_unique<ParameterValue>());
  for (size_t i = 0; i < bound.size(); ++i) {
    const Entry& e = bound[i];
    if (e.position == 0 || e.position > columns.size())
      return LogField(TWFAIL_FIELD_COUNT_MISMATCH, list, e.index, format);
    const Column& column = columns[e.position - 1];
    ParameterValue& pv = *slot.values[i];
    Value v;
    if (uint32_t st = ConvertValue(e, record, column, format, pv.raw.data(), pv.raw.size(),
                                   pv.stream.get(), v))
      return LogField(st, list, e.index, format);
    if (uint32_t st = BindValue(*this, slot.stmt, static_cast<SQLUSMALLINT>(i + 1), column, v, pv))
      return st;
  }
  if (!execute) return TWSUCCESS;
  const SQLRETURN rc = Run(slot.stmt);
  uint32_t status = TWSUCCESS;
  if (!Ok(rc) && !(rc == SQL_NO_DATA && slot.kind != SlotKind::kInsert))
    status = LogError(slot.stmt);
  for (size_t i = 0; i < bound.size(); ++i) slot.values[i]->stream.Free();
  return status;
}

uint32_t Connection::BindKeys(TWFIELDLIST keys, uint32_t record) {
  const uint32_t format = LinkFormat();
  keyColumns.clear();
  std::vector<Entry> bound;
  const uint32_t st = Walk(keys, format, [&](const Entry& e) -> uint32_t {
    if ((e.flags & TWFIELDF_KEY) == 0) return TWSUCCESS;
    Column c;
    uint32_t length = 0, precision = 0;
    int32_t scale = 0;
    switch (e.type) {
      case TWTYPE_INT:
        c = {SQL_INTEGER, 4, 0, 4, false, false};
        break;
      case TWTYPE_FLOAT:
        c = {SQL_DOUBLE, 8, 0, 8, false, false};
        break;
      case TWTYPE_CURRENCY:
        c = {SQL_NUMERIC, 19, 4, kNumericRoom, false, false};
        break;
      case TWTYPE_NUMERIC:
        TWFieldGetFormatNumber(e.field, nullptr, nullptr, &precision, &scale);
        c = {SQL_NUMERIC,
             std::min<SQLULEN>(precision, 31),
             static_cast<int16_t>(
                 scale == static_cast<int32_t>(TWSCALE_ZERO) ? 0 : std::clamp(scale, -31, 31)),
             kNumericRoom,
             false,
             false};
        break;
      case TWTYPE_DATETIME:
        c = {SQL_TIMESTAMP, 26, 6, 16, false, false};
        break;
      case TWTYPE_TEXT:
      case TWTYPE_BINARY: {
        const bool binary = e.type == TWTYPE_BINARY;
        TWFieldGetFormatStream(e.field, nullptr, &length, nullptr);
        const int32_t most = binary ? limits.searchBinarySize : limits.searchCharSize;
        const SQLULEN size = length == 0 || static_cast<int64_t>(length) >= most
                                 ? static_cast<SQLULEN>(most)
                                 : length;
        c = {binary ? limits.searchBinaryType : limits.searchCharType,
             size,
             0,
             static_cast<SQLLEN>(size),
             binary,
             false};
        break;
      }
      default:
        return LogField(TWFAIL_INVALID_TYPE, keys, e.index, format);
    }
    keyColumns.push_back(c);
    bound.push_back(e);
    return TWSUCCESS;
  });
  if (st != TWSUCCESS) return IsRangeStatus(st) ? st : TWActivityLog(st);
  select.values.clear();
  for (size_t i = 0; i < bound.size(); ++i) {
    select.values.push_back(std::make_unique<ParameterValue>());
    ParameterValue& pv = *select.values[i];
    Value v;
    if (uint32_t s = ConvertValue(bound[i], record, keyColumns[i], format, pv.raw.data(),
                                  pv.raw.size(), pv.stream.get(), v))
      return LogField(s, keys, bound[i].index, format);
    if (uint32_t s =
            BindValue(*this, select.stmt, static_cast<SQLUSMALLINT>(i + 1), keyColumns[i], v, pv))
      return s;
  }
  return TWSUCCESS;
}

// ---------------------------------------------------------------- array insert ---------

// The block's lengths are handed to the client as its indicator arrays.
static_assert(sizeof(SQLLEN) == sizeof(int64_t), "parameter lengths are 64-bit");

uint32_t Connection::InsertRows(uint32_t record, uint32_t rows, uint32_t* count) {
  const Cli& cli = Api();
  Slot& slot = insert;
  const auto& columns = slot.description->columns;
  TWFIELDLIST list = slot.merged.get();
  const uint32_t format = LinkFormat();
  std::vector<Entry> fields;
  if (uint32_t st = Walk(list, format, [&](const Entry& e) -> uint32_t {
        if (e.position == 0 || e.position > columns.size())
          return LogField(TWFAIL_FIELD_COUNT_MISMATCH, list, e.index, format);
        fields.push_back(e);
        return TWSUCCESS;
      }))
    return IsRangeStatus(st) ? st : TWActivityLog(st);
  // Each field's C type, and its elements' fixed width: a text as wide as its column (and its
  // terminator), so that the arrays keep their layout from block to block.
  std::vector<int16_t> types(fields.size());
  tw::twx::ParameterBlock& block = slot.block;
  block.Reset(fields.size(), rows);
  for (size_t i = 0; i < fields.size(); ++i) {
    const Entry& e = fields[i];
    const Column& column = columns[e.position - 1];
    types[i] = CTypeOf(e.type, StreamFormatOf(e), column);
    SQLLEN width = 0;
    switch (e.type) {
      case TWTYPE_INT:
        width = 4;
        break;
      case TWTYPE_FLOAT:
        width = 8;
        break;
      case TWTYPE_CURRENCY:
        width = kCurrencyRoom;
        break;
      case TWTYPE_NUMERIC:
        width = kNumericRoom + 1;
        break;
      case TWTYPE_DATETIME:
        width = StructSize(column.sqlType);
        break;
      case TWTYPE_TEXT:
      case TWTYPE_BINARY:
        // A long column's elements are as wide as the block's longest value.
        width = types[i] == SQL_C_DOUBLE       ? 8
                : IsDatetimeColumn(types[i])   ? StructSize(column.sqlType)
                : IsLongColumn(column.sqlType) ? 1
                                               : column.bufferLength + 1;
        break;
      default:
        return LogField(TWFAIL_INVALID_TYPE, list, e.index, format);
    }
    block.AtLeast(i, static_cast<size_t>(width));
  }
  bool rebind = !slot.arraysBound || types != slot.arrayTypes;
  if (slot.parameterSetSize != rows) {
    if (!Ok(cli.ParamOptions(slot.stmt, rows, &slot.rowsDone))) return LogError(slot.stmt);
    slot.parameterSetSize = rows;
    rebind = true;
  }
  flowcore::StreamData converted;
  alignas(8) std::array<unsigned char, 200> raw{};
  // A value that cannot be converted, or one too long for an array, sends the block record
  // by record: the records before a bad one go in, and it fails as it would alone.
  bool oneByOne = false;
  for (size_t i = 0; i < fields.size() && !oneByOne; ++i) {
    const Entry& e = fields[i];
    const Column& column = columns[e.position - 1];
    for (uint32_t row = 0; row < rows && !oneByOne; ++row) {
      Value v;
      oneByOne = ConvertValue(e, record + row, column, format, raw.data(), raw.size(),
                              converted.get(), v) != TWSUCCESS ||
                 (v.length != SQL_NULL_DATA && static_cast<size_t>(v.length) > twx::kLongValue);
      if (!oneByOne) block.Set(i, row, v.data, v.length, v.length == SQL_NULL_DATA);
    }
    converted.Free();
  }
  if (oneByOne) return InsertOneByOne(record, rows, count);
  block.Pack(rows);
  if (rebind || block.Moved()) {
    slot.arraysBound = false;
    for (size_t i = 0; i < fields.size(); ++i) {
      const Column& column = columns[fields[i].position - 1];
      // Never a text's or binary's size below its elements' bytes: a driver may cut to it.
      const SQLULEN size = IsCharColumn(column.sqlType) || IsBinaryColumn(column.sqlType)
                               ? std::max<SQLULEN>(column.size, block.Width(i))
                               : column.size;
      if (!Ok(cli.BindParameter(slot.stmt, static_cast<SQLUSMALLINT>(i + 1), SQL_PARAM_INPUT,
                                types[i], column.sqlType, size, column.scale, block.Data(i),
                                static_cast<SQLLEN>(block.Width(i)),
                                reinterpret_cast<SQLLEN*>(block.Lengths(i)))))
        return LogError(slot.stmt);
    }
    slot.arrayTypes = types;
    slot.arraysBound = true;
  }
  slot.rowsDone = 0;
  const SQLRETURN rc = cli.Execute(slot.stmt);
  if (Ok(rc)) {
    // Some drivers leave the count alone on success: every row went in.
    const uint32_t done =
        slot.rowsDone == 0 ? rows : static_cast<uint32_t>(std::min<SQLULEN>(slot.rowsDone, rows));
    *count += done;
    return CommitStep(done);
  }
  if (slot.rowsDone < rows) {
    // The rows before the failing one went in.
    *count += static_cast<uint32_t>(slot.rowsDone);
    if (props.commitFrequency > 1) sinceCommit += static_cast<uint32_t>(slot.rowsDone);
    return LogError(slot.stmt);
  }
  // The driver ran every row and says the array failed without telling which rows went in
  // (PostgreSQL's takes none of them): the rows are given again one at a time, so that those
  // before the failing one go in and are counted, as one record at a time.
  return InsertOneByOne(record, rows, count);
}

uint32_t Connection::InsertOneByOne(uint32_t record, uint32_t rows, uint32_t* count) {
  Slot& slot = insert;
  if (slot.parameterSetSize != 1) {
    if (!Ok(Api().ParamOptions(slot.stmt, 1, &slot.rowsDone))) return LogError(slot.stmt);
    slot.parameterSetSize = 1;
  }
  slot.arraysBound = false;
  for (uint32_t row = 0; row < rows; ++row) {
    if (uint32_t st = BindFields(slot, record + row)) return st;
    ++*count;
    if (uint32_t st = CommitStep()) return st;
  }
  return TWSUCCESS;
}

// ---------------------------------------------------------------- fetching -------------

namespace {

// Reads the whole value of a character or binary column: the length first, then the value;
// when the client cannot tell the length (SQL_NO_TOTAL), in pieces until the value ends.
// Answers the client's code; *null for a null value.
SQLRETURN ReadLong(SQLHSTMT stmt, SQLUSMALLINT column, bool binary, std::string& out, bool* null) {
  const Cli& cli = Api();
  const SQLSMALLINT cType = binary ? SQL_C_BINARY : SQL_C_CHAR;
  const SQLLEN terminator = binary ? 0 : 1;
  out.clear();
  *null = false;
  char probe[1] = {};
  SQLLEN indicator = 0;
  SQLRETURN rc = cli.GetData(stmt, column, cType, probe, 0, &indicator);
  if (rc == SQL_NO_DATA) return SQL_SUCCESS;
  if (!Ok(rc)) return rc;
  if (indicator == SQL_NULL_DATA) {
    *null = true;
    return SQL_SUCCESS;
  }
  if (indicator >= 0) {
    out.resize(static_cast<size_t>(indicator) + static_cast<size_t>(terminator));
    SQLLEN got = 0;
    rc = cli.GetData(stmt, column, cType, out.data(), static_cast<SQLLEN>(out.size()), &got);
    if (rc == SQL_NO_DATA) {
      out.clear();
      return SQL_SUCCESS;
    }
    if (!Ok(rc)) return rc;
    if (got >= 0 && got <= indicator) {
      out.resize(static_cast<size_t>(got));
      return SQL_SUCCESS;
    }
    out.resize(static_cast<size_t>(indicator));
    if (rc == SQL_SUCCESS) return SQL_SUCCESS;
    // The value grew beyond what the probe said: the rest comes in pieces.
  }
  std::vector<char> piece(static_cast<size_t>(kPiece));
  for (;;) {
    rc = cli.GetData(stmt, column, cType, piece.data(), kPiece, &indicator);
    if (rc == SQL_NO_DATA) return SQL_SUCCESS;
    if (!Ok(rc)) return rc;
    if (indicator == SQL_NULL_DATA) {
      *null = out.empty();
      return SQL_SUCCESS;
    }
    const SQLLEN room = kPiece - terminator;
    const SQLLEN n = indicator == SQL_NO_TOTAL || indicator > room ? room : indicator;
    out.append(piece.data(), static_cast<size_t>(n));
    if (rc == SQL_SUCCESS) return SQL_SUCCESS;
  }
}

// A stream record showing bytes owned elsewhere.
TWStream Showing(const char* bytes, size_t length, uint32_t format) {
  TWStream s{};
  TWStreamCreate(&s, 0, 0, format);
  s.data = const_cast<char*>(bytes);
  s.length = static_cast<uint32_t>(length);
  return s;
}

}  // namespace

uint32_t Connection::Fetch(TWFIELDLIST dest, uint32_t record, uint32_t records, uint32_t* count) {
  const Cli& cli = Api();
  *count = 0;
  if (select.stmt == SQL_NULL_HSTMT && catalogue != Catalogue::kDatabases)
    return TWActivityLog(TWFAIL_NO_RESULTSET);
  if (!select.merged || TWFieldlistGetSequence(dest) != select.sequence)
    if (uint32_t st = Merge(select, dest)) return st;
  TWFIELDLIST list = select.merged.get();
  const uint32_t format = LinkFormat();
  std::vector<Entry> fields;
  if (uint32_t st = Walk(list, format, [&](const Entry& e) -> uint32_t {
        fields.push_back(e);
        return TWSUCCESS;
      }))
    return TWActivityLog(st);
  const auto& columns = select.description->columns;
  if (records == 0) records = 1;

  if (catalogue == Catalogue::kDatabases) {
    for (uint32_t n = 0; n < records; ++n) {
      SQLCHAR name[33] = {};
      SQLCHAR description[255] = {};
      const SQLRETURN rc = cli.DataSources(Environment(), databaseDirection, name, sizeof name,
                                           nullptr, description, sizeof description, nullptr);
      databaseDirection = SQL_FETCH_NEXT;
      if (rc == SQL_NO_DATA) return *count > 0 ? TWSUCCESS : TWFAIL_END_OF_DATA;
      if (!Ok(rc)) return LogError(SQL_NULL_HSTMT);
      for (const Entry& e : fields) {
        uint32_t st = TWSUCCESS;
        const char* text = e.position == 1   ? reinterpret_cast<char*>(name)
                           : e.position == 3 ? reinterpret_cast<char*>(description)
                                             : nullptr;
        if (text == nullptr) {
          st = TWFieldSetNull(e.field, record, 1);
        } else {
          const size_t size = e.position == 1 ? sizeof name : sizeof description;
          TWStream shown = Showing(text, strnlen(text, size), format);
          st = TWFieldSetStream(e.field, record, &shown);
        }
        if (st != TWSUCCESS) return LogField(st, list, e.index, format);
      }
      ++*count;
      ++record;
    }
    return TWSUCCESS;
  }

  std::string bytes;
  for (uint32_t n = 0; n < records; ++n) {
    const SQLRETURN rc = cli.Fetch(select.stmt);
    if (rc == SQL_NO_DATA) return *count > 0 ? TWSUCCESS : TWFAIL_END_OF_DATA;
    if (!Ok(rc)) return LogError(select.stmt);
    for (const Entry& e : fields) {
      SQLUSMALLINT number = static_cast<SQLUSMALLINT>(e.position);
      if (catalogue == Catalogue::kTables || catalogue == Catalogue::kColumns)
        number = e.position >= 1 && e.position <= 3 ? catalogueMap[e.position - 1] : 0;
      if (number == 0) {
        if (uint32_t st = TWFieldSetNull(e.field, record, 1))
          return LogField(st, list, e.index, format);
        continue;
      }
      const Column& column = columns[e.position - 1];
      void* value = nullptr;
      int32_t* isNull = nullptr;
      if (uint32_t st = TWFieldGetBuffer(e.field, record, &value, &isNull))
        return LogField(st, list, e.index, format);
      SQLLEN indicator = 0;
      SQLRETURN got = SQL_SUCCESS;
      uint32_t st = TWSUCCESS;
      switch (e.type) {
        case TWTYPE_INT:
          got = cli.GetData(select.stmt, number, SQL_C_LONG, value, 4, &indicator);
          break;
        case TWTYPE_FLOAT:
          got = cli.GetData(select.stmt, number, SQL_C_DOUBLE, value, 8, &indicator);
          break;
        case TWTYPE_CURRENCY:
        case TWTYPE_NUMERIC: {
          // The whole buffer is offered, and no more than it.
          char text[kNumericRoom] = {};
          const SQLLEN room = e.type == TWTYPE_CURRENCY ? kCurrencyRoom : kNumericRoom;
          got = cli.GetData(select.stmt, number, SQL_C_CHAR, text, room, &indicator);
          // A number whose text does not fit would be read with digits missing: a wrong value.
          if (Ok(got) && (indicator == SQL_NO_TOTAL || indicator >= room)) {
            if (uint32_t s = LogField(TWFAIL_OVERFLOW, list, e.index, format)) return s;
          }
          if (Ok(got) && indicator != SQL_NULL_DATA) {
            TWStream shown =
                Showing(text, strnlen(text, static_cast<size_t>(room)), TWSTREAMFMT_NATIVE);
            st = e.type == TWTYPE_CURRENCY
                     ? TWCurrencyFromStream(static_cast<TWCurrency*>(value), &shown)
                     : TWNumericFromStream(static_cast<TWNumeric*>(value), &shown);
          }
          break;
        }
        case TWTYPE_DATETIME: {
          alignas(8) unsigned char raw[16] = {};
          const int16_t cType = IsDatetimeColumn(column.sqlType) ? column.sqlType : SQL_TIMESTAMP;
          got = cli.GetData(select.stmt, number, cType, raw, StructSize(cType), &indicator);
          if (!Ok(got) || indicator == SQL_NULL_DATA) break;
          TWDatetimeParts p{};
          uint32_t mode = TWPARTSF_LOCAL;
          if (cType == SQL_DATE) {
            DATE_STRUCT d;
            std::memcpy(&d, raw, sizeof d);
            // A date column's value has no time of day.
            p = {d.year, d.month, d.day, 0, -1, -1, -1, -1, 0, 0};
          } else if (cType == SQL_TIME) {
            TIME_STRUCT t;
            std::memcpy(&t, raw, sizeof t);
            p = {0, 0, 0, 0, t.hour, t.minute, t.second, 0, 0, 0};
            mode |= TWPARTSF_NULL_ZERO;
          } else {
            TIMESTAMP_STRUCT ts;
            std::memcpy(&ts, raw, sizeof ts);
            p = {ts.year, ts.month,  ts.day,    0,
                 ts.hour, ts.minute, ts.second, static_cast<int32_t>(ts.fraction / 10000000u),
                 0,       0};
          }
          st = TWDatetimeSetParts(static_cast<TWDatetime*>(value), &p, mode);
          break;
        }
        case TWTYPE_TEXT:
        case TWTYPE_BINARY: {
          const bool binary = e.type == TWTYPE_BINARY;
          bool null = false;
          got = ReadLong(select.stmt, number, binary, bytes, &null);
          if (!Ok(got)) break;
          indicator = null ? SQL_NULL_DATA : static_cast<SQLLEN>(bytes.size());
          auto* stream = static_cast<TWStream*>(value);
          if (null) {
            TWStreamDataFree(stream);
            break;
          }
          // Only a column bound as CHAR pads its values with blanks.
          if (!binary && column.sqlType == SQL_CHAR)
            while (!bytes.empty() && bytes.back() == ' ') bytes.pop_back();
          uint32_t most = 0;
          TWStreamDataGetInfo(stream, &most, nullptr, nullptr, nullptr, nullptr);
          if (most != 0 && bytes.size() > most) {
            if ((e.flags & TWFIELDF_TRUNC_DATA) == 0) {
              st = TWFAIL_OVERFLOW;
              break;
            }
            bytes.resize(binary ? most
                                : twx::PrefixOfBytes(format, bytes.data(), bytes.size(), most));
          }
          st = TWStreamDataSet(stream, binary ? TWSTREAMFMT_BLOB : format, bytes.data(),
                               static_cast<uint32_t>(bytes.size()));
          break;
        }
        default:
          return LogField(TWFAIL_INVALID_TYPE, list, e.index, format);
      }
      if (!Ok(got)) return LogError(select.stmt);
      if (st == TWFAIL_OVERFLOW && (e.flags & TWFIELDF_TRUNC_DATA) != 0) st = TWSUCCESS;
      if (st != TWSUCCESS)
        return IsRangeStatus(st) ? LogField(st, list, e.index, format) : TWActivityLog(st);
      *isNull = indicator == SQL_NULL_DATA ? 1 : 0;
    }
    ++*count;
    ++record;
  }
  if (select.positioned) currentRow = true;
  return TWSUCCESS;
}

}  // namespace xandb
