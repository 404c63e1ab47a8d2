// Value transfer of the ODBC connector: column descriptions and the field formats they give,
// the C type through which each field's value travels, parameter binding, and fetching rows
// (long values in pieces, catalogue lists) into the engine's record slots.
//
// Widths: every length and indicator the driver sees is an SQLLEN or SQLULEN; a length is
// never handed to the driver beyond the buffer it describes.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

#include "connection.h"
#include "twx_chars.h"

namespace sqlcli {
namespace {

// Room for the text of one value of each type (the engine's own limits).
constexpr uint32_t kCurrencyText = TWMAXLEN_CURRENCY_TEXT;  // 60
constexpr uint32_t kNumericText = TWMAXLEN_NUMERIC_TEXT;    // 190
constexpr uint32_t kDatetimeText = TWMAXLEN_DATETIME_TEXT;  // 100

// The data-source list has delivered its last name: the next fetch ends it. Kept in the
// catalogue position, which that list does not otherwise use, because the driver manager
// starts the list over when asked for the next name after the end.
constexpr size_t kDataSourcesEnded = std::numeric_limits<size_t>::max();

// A data source's datetimes carry no zone: they are the machine's wall clock.
constexpr uint32_t kPartsFlags = TWPARTSF_LOCAL;

bool IsNumberType(uint32_t type) {
  return type == TWTYPE_INT || type == TWTYPE_FLOAT || type == TWTYPE_CURRENCY ||
         type == TWTYPE_NUMERIC;
}
bool IsLongClass(int32_t cls) {
  return cls == kLongVarchar || cls == kLongVarbinary;
}

// A stream record that only shows bytes owned elsewhere (never freed).
TWStream ShowBytes(const void* bytes, size_t length) {
  TWStream s{};
  TWStreamCreate(&s, 0, 0, TWSTREAMFMT_NATIVE);
  s.data = const_cast<void*>(bytes);
  s.length = static_cast<uint32_t>(length);
  return s;
}

// Logs status with the name of entry index of list as the engine's message markup.
[[nodiscard]] uint32_t LogFieldStatus(uint32_t status, TWFIELDLIST list, uint32_t index,
                                      uint32_t int1 = 0, uint32_t int2 = 0) {
  flowcore::StreamData name;
  if (TWFieldlistGetName(list, index, TWSTREAMFMT_NATIVE, name.get()) != TWSUCCESS) name.Free();
  TWActivityLogEx(status, int1, int2, 0, name.get(), nullptr, nullptr);
  return status;
}

// ---------------------------------------------------------------- conversion choice ----

// The own buffer of a record: raw bytes of size, or (size 0) none.
void UseRaw(ColumnRecord& record, SQLSMALLINT cType, size_t size) {
  record.cType = cType;
  record.ownSize = size;
}
// The own stream of a record; capacity 0 (unbounded) for values on their way to the data
// source. ownSize counts the terminator, so that a stream always shows as an own buffer.
[[nodiscard]] uint32_t UseStream(ColumnRecord& record, uint32_t capacity) {
  record.cType = SQL_C_CHAR;
  TWStreamClear(&record.stream);
  if (capacity != 0) {
    if (uint32_t st = TWStreamCreate(&record.stream, capacity, TWSTREAMF_FIXED, TWSTREAMFMT_NATIVE))
      return st;
  }
  record.ownSize = size_t{capacity} + 1;
  return TWSUCCESS;
}

// Whether a text or binary value may be longer than its column's stated size: the column is
// bounded while the field is not, or is shorter than the field.
bool LengthCheck(uint32_t sourceLength, uint32_t targetLength) {
  return targetLength != 0 && (sourceLength == 0 || targetLength < sourceLength);
}

struct FieldInfo {
  TWFIELD field = TWNULLHANDLE;
  uint32_t type = TWTYPE_INVALID;
  uint32_t flags = 0;
};

[[nodiscard]] uint32_t ChooseToSource(const FieldInfo& f, ColumnRecord& record,
                                      const FieldFormat& column) {
  const uint32_t col = column.type;
  const bool numberColumn = IsNumberType(col);
  auto precisionTest = [&]() -> uint32_t {
    uint32_t precision = 0;
    TWFieldGetFormatNumber(f.field, nullptr, nullptr, &precision, nullptr);
    if ((f.flags & TWFIELDF_TRUNC_PREC) == 0 && precision != 0 && record.size != 0 &&
        precision > record.size)
      return TWFAIL_PRECISION_LOSS;
    return TWSUCCESS;
  };
  // The C type of a datetime by the column's class. A field's halves are judged by its
  // datetime format; a list's entries per value.
  auto datetimeBuffer = [&](bool fromList) -> uint32_t {
    uint32_t dtFlags = 0;
    if (!fromList) TWFieldGetFormatDatetime(f.field, &dtFlags, nullptr);
    const bool hasDate = (dtFlags & TWDATETIMEF_NO_DATE) == 0;
    const bool hasTime = (dtFlags & TWDATETIMEF_NO_TIME) == 0;
    if (record.cls == kTime) {
      if (!hasTime) return TWFAIL_TYPE_MISMATCH;
      // The date is dropped: checked per value, so that a value without one passes.
      if (hasDate && (f.flags & TWFIELDF_TRUNC_DATA) == 0) record.check = true;
      UseRaw(record, SQL_C_TIME, sizeof(TIME_STRUCT));
    } else if (record.cls == kDate) {
      if (!hasDate) return TWFAIL_TYPE_MISMATCH;
      if (!fromList && hasTime && (f.flags & TWFIELDF_TRUNC_PREC) == 0)
        return TWFAIL_PRECISION_LOSS;
      UseRaw(record, SQL_C_DATE, sizeof(DATE_STRUCT));
    } else {
      UseRaw(record, SQL_C_TIMESTAMP, sizeof(TIMESTAMP_STRUCT));
    }
    return TWSUCCESS;
  };

  switch (f.type) {
    case TWTYPE_INT:
      if (!numberColumn) break;
      UseRaw(record, SQL_C_SLONG, 0);
      return precisionTest();
    case TWTYPE_FLOAT:
      if (!numberColumn) break;
      UseRaw(record, SQL_C_DOUBLE, 0);
      return precisionTest();
    case TWTYPE_CURRENCY:
    case TWTYPE_NUMERIC:
      if (col == TWTYPE_INT || col == TWTYPE_FLOAT) {
        UseRaw(record, SQL_C_DOUBLE, sizeof(double));
        return precisionTest();
      }
      if (col != TWTYPE_CURRENCY && col != TWTYPE_NUMERIC) break;
      record.check = true;
      return UseStream(record, 0);
    case TWTYPE_DATETIME:
      if (col == TWTYPE_DATETIME) return datetimeBuffer(false);
      if (col != TWTYPE_TEXT) break;
      record.check = true;
      return UseStream(record, 0);
    case TWTYPE_TEXT: {
      uint32_t length = 0;
      TWFieldGetFormatStream(f.field, nullptr, &length, nullptr);
      if (col == TWTYPE_TEXT || col == TWTYPE_DATETIME) {
        record.check = col == TWTYPE_TEXT && LengthCheck(length, column.scaleOrLength);
        return UseStream(record, 0);
      }
      if (col != TWTYPE_BINARY) break;
      record.check = LengthCheck(length, column.scaleOrLength);
      UseRaw(record, SQL_C_BINARY, 0);
      return TWSUCCESS;
    }
    case TWTYPE_BINARY: {
      uint32_t length = 0, format = 0;
      TWFieldGetFormatStream(f.field, nullptr, &length, &format);
      if (col == TWTYPE_BINARY) {
        record.check = LengthCheck(length, column.scaleOrLength);
        UseRaw(record, SQL_C_BINARY, 0);
        return TWSUCCESS;
      }
      if (col == TWTYPE_TEXT && format == TWSTREAMFMT_COMPOSITE) {
        record.check = LengthCheck(length, column.scaleOrLength);
        return UseStream(record, 0);
      }
      if (col == TWTYPE_TEXT && format == TWSTREAMFMT_TEXT_LIST) {
        record.check = true;
        return UseStream(record, 0);
      }
      if (numberColumn && format == TWSTREAMFMT_NUMBER_LIST) {
        record.check = true;
        record.list = true;
        UseRaw(record, SQL_C_DOUBLE, sizeof(double));
        return TWSUCCESS;
      }
      if (format == TWSTREAMFMT_DATETIME_LIST && (col == TWTYPE_DATETIME || col == TWTYPE_TEXT)) {
        record.check = true;
        record.list = true;
        if (col == TWTYPE_TEXT) return UseStream(record, 0);
        return datetimeBuffer(true);
      }
      break;
    }
    default:
      break;
  }
  return TWFAIL_TYPE_MISMATCH;
}

[[nodiscard]] uint32_t ChooseFetch(const FieldInfo& f, ColumnRecord& record,
                                   const FieldFormat& column) {
  const uint32_t col = column.type;
  switch (f.type) {
    case TWTYPE_INT:
      // Through a double and the engine's own narrowing: a driver answers SQL_C_SLONG for a
      // value beyond 32 bits with its low bits, and SQLite keeps 64-bit values in columns of
      // any integer type.
      if (!IsNumberType(col)) break;
      UseRaw(record, SQL_C_DOUBLE, sizeof(double));
      record.convertAfterFetch = true;
      return TWSUCCESS;
    case TWTYPE_FLOAT:
      if (!IsNumberType(col)) break;
      UseRaw(record, SQL_C_DOUBLE, 0);
      return TWSUCCESS;
    case TWTYPE_CURRENCY:
    case TWTYPE_NUMERIC:
      if (!IsNumberType(col)) break;
      record.convertAfterFetch = true;
      if (col == TWTYPE_INT || col == TWTYPE_FLOAT) {
        UseRaw(record, SQL_C_DOUBLE, sizeof(double));
        return TWSUCCESS;
      }
      return UseStream(record, col == TWTYPE_CURRENCY ? kCurrencyText : kNumericText);
    case TWTYPE_DATETIME:
      record.convertAfterFetch = true;
      if (col == TWTYPE_DATETIME) {
        if (record.cls == kDate)
          UseRaw(record, SQL_C_DATE, sizeof(DATE_STRUCT));
        else if (record.cls == kTime)
          UseRaw(record, SQL_C_TIME, sizeof(TIME_STRUCT));
        else
          UseRaw(record, SQL_C_TIMESTAMP, sizeof(TIMESTAMP_STRUCT));
        return TWSUCCESS;
      }
      if (col != TWTYPE_TEXT) break;
      {
        // A datetime's text is short whatever the column's size says.
        uint32_t capacity = column.scaleOrLength;
        if (capacity == 0 || capacity > kDatetimeText) capacity = kDatetimeText;
        record.check = true;
        return UseStream(record, capacity);
      }
    case TWTYPE_TEXT:
      if (col != TWTYPE_TEXT && col != TWTYPE_DATETIME) break;
      record.cType = SQL_C_CHAR;
      record.check = true;
      record.convertAfterFetch = true;
      return TWSUCCESS;
    case TWTYPE_BINARY:
      if (col != TWTYPE_BINARY) break;
      record.cType = SQL_C_BINARY;
      record.check = true;
      record.convertAfterFetch = true;
      return TWSUCCESS;
    default:
      break;
  }
  return TWFAIL_TYPE_MISMATCH;
}

// ---------------------------------------------------------------- binding ----------------

// A value ready for the driver.
struct BindValue {
  const void* data = nullptr;
  SQLLEN length = 0;
  bool null = false;
};

[[nodiscard]] uint32_t DatetimeForBind(const TWDatetime& value, ColumnRecord& record,
                                       uint32_t fieldFlags, BindValue& out) {
  const bool noDate = TWDatetimeGetJulian(&value) == TWDTNULL_DATE;
  const bool noTime = TWDatetimeGetTicks(&value) == TWDTNULL_TIME;
  if ((record.cType == SQL_C_DATE && noDate) || (record.cType == SQL_C_TIME && noTime) ||
      (noDate && noTime)) {
    out.null = true;
    return TWSUCCESS;
  }
  if (record.cType == SQL_C_TIME && record.check && !noDate &&
      (fieldFlags & TWFIELDF_TRUNC_DATA) == 0)
    return TWFAIL_OVERFLOW;
  TWDatetimeParts parts{};
  // A timestamp of a value without one half takes that half's minimum (midnight, 1 January 1).
  if (uint32_t st = TWDatetimeGetParts(&value, kPartsFlags | TWPARTSF_NULL_MIN, &parts)) return st;
  unsigned char* raw = record.raw.data();
  std::memset(raw, 0, record.raw.size());
  if (record.cType == SQL_C_DATE) {
    DATE_STRUCT d{static_cast<SQLSMALLINT>(parts.year), static_cast<SQLUSMALLINT>(parts.month),
                  static_cast<SQLUSMALLINT>(parts.day)};
    std::memcpy(raw, &d, sizeof d);
    out.length = sizeof d;
  } else if (record.cType == SQL_C_TIME) {
    TIME_STRUCT t{static_cast<SQLUSMALLINT>(parts.hour), static_cast<SQLUSMALLINT>(parts.minute),
                  static_cast<SQLUSMALLINT>(parts.second)};
    std::memcpy(raw, &t, sizeof t);
    out.length = sizeof t;
  } else {
    TIMESTAMP_STRUCT ts{static_cast<SQLSMALLINT>(parts.year),
                        static_cast<SQLUSMALLINT>(parts.month),
                        static_cast<SQLUSMALLINT>(parts.day),
                        static_cast<SQLUSMALLINT>(parts.hour),
                        static_cast<SQLUSMALLINT>(parts.minute),
                        static_cast<SQLUSMALLINT>(parts.second),
                        static_cast<SQLUINTEGER>(parts.hundredth) * 10000000u};
    std::memcpy(raw, &ts, sizeof ts);
    out.length = sizeof ts;
  }
  out.data = raw;
  return TWSUCCESS;
}

// The entries of a number or datetime list; an empty stream is a list without any.
[[nodiscard]] uint32_t ListCount(const TWStream* list, bool numbers, uint32_t* count) {
  *count = 0;
  if (list->length == 0) return TWSUCCESS;
  return numbers ? TWNumberListGetCount(list, count, nullptr)
                 : TWDatetimeListGetCount(list, count, nullptr);
}

// The value of a field's record slot in the record's C type.
[[nodiscard]] uint32_t ConvertForBind(const FieldInfo& f, uint32_t slot, ColumnRecord& record,
                                      BindValue& out) {
  void* value = nullptr;
  if (uint32_t st = TWFieldGetBuffer(f.field, slot, &value, nullptr)) return st;
  record.listCount = 0;
  switch (record.cType) {
    case SQL_C_SLONG:
      out.data = value;
      out.length = sizeof(int32_t);
      return TWSUCCESS;
    case SQL_C_BINARY: {
      const auto* stream = static_cast<const TWStream*>(value);
      out.data = stream->data;
      out.length = stream->length;
      return TWSUCCESS;
    }
    case SQL_C_DOUBLE: {
      out.length = sizeof(double);
      if (record.ownSize == 0) {
        out.data = value;
        return TWSUCCESS;
      }
      double number = 0;
      uint32_t st = TWSUCCESS;
      if (f.type == TWTYPE_CURRENCY) {
        st = TWFloatFromCurrency(&number, static_cast<const TWCurrency*>(value));
      } else if (f.type == TWTYPE_NUMERIC) {
        st = TWFloatFromNumeric(&number, static_cast<const TWNumeric*>(value));
      } else {
        const auto* stream = static_cast<const TWStream*>(value);
        uint32_t count = 0;
        if ((st = ListCount(stream, true, &count))) return st;
        record.listCount = count;
        if (count == 0) {
          out.null = true;
          return TWSUCCESS;
        }
        st = TWNumberListGetFirst(stream, &number);
      }
      if (st != TWSUCCESS) return st;
      std::memcpy(record.raw.data(), &number, sizeof number);
      out.data = record.raw.data();
      return TWSUCCESS;
    }
    case SQL_C_DATE:
    case SQL_C_TIME:
    case SQL_C_TIMESTAMP: {
      TWDatetime datetime{};
      if (f.type == TWTYPE_DATETIME) {
        datetime = *static_cast<const TWDatetime*>(value);
      } else {
        const auto* stream = static_cast<const TWStream*>(value);
        uint32_t count = 0;
        if (uint32_t st = ListCount(stream, false, &count)) return st;
        record.listCount = count;
        if (count == 0) {
          out.null = true;
          return TWSUCCESS;
        }
        if (uint32_t st = TWDatetimeListGetFirst(stream, &datetime)) return st;
      }
      return DatetimeForBind(datetime, record, f.flags, out);
    }
    case SQL_C_CHAR: {
      TWStream* text = &record.stream;
      uint32_t st = TWSUCCESS;
      switch (f.type) {
        case TWTYPE_CURRENCY:
          st =
              TWStreamFromCurrency(text, static_cast<const TWCurrency*>(value), TWSTREAMFMT_NATIVE);
          break;
        case TWTYPE_NUMERIC:
          st = TWStreamFromNumeric(text, static_cast<const TWNumeric*>(value), TWSTREAMFMT_NATIVE);
          break;
        case TWTYPE_DATETIME:
          st =
              TWStreamFromDatetime(text, static_cast<const TWDatetime*>(value), TWSTREAMFMT_NATIVE);
          break;
        default: {
          const auto* stream = static_cast<const TWStream*>(value);
          if (record.list) {
            uint32_t count = 0;
            if ((st = ListCount(stream, false, &count))) return st;
            record.listCount = count;
            if (count == 0) {
              out.null = true;
              return TWSUCCESS;
            }
            TWDatetime first{};
            if ((st = TWDatetimeListGetFirst(stream, &first))) return st;
            st = TWStreamFromDatetime(text, &first, TWSTREAMFMT_NATIVE);
          } else {
            // Text already native is only referred to, not copied.
            st = TWStreamDataConvert(text, stream, TWCONVERTF_REFERENCE | TWCONVERTF_PRESERVE,
                                     TWSTREAMFMT_NATIVE, nullptr, nullptr);
          }
          break;
        }
      }
      if (st != TWSUCCESS) return st;
      out.data = text->data;
      out.length = text->length;
      return TWSUCCESS;
    }
    default:
      return TWFAIL_PROGRAM;
  }
}

// The overflow check before binding. A list passes one entry only: more are refused unless
// TWFIELDF_TRUNC_DATA lets the first pass. A number's or datetime's text never exceeds the
// engine's room for it. Text and binary values longer than the column's stated size are cut
// to it under TWFIELDF_TRUNC_DATA; without it they pass whole and the data source judges:
// drivers state sizes that are no bounds (PostgreSQL says 255 for a varchar without length,
// SQLite 255 for a blob), and a data source that cannot hold a value refuses it itself.
[[nodiscard]] uint32_t CheckForBind(const FieldInfo& f, const ColumnRecord& record,
                                    const FieldFormat& column, BindValue& value) {
  const bool cut = (f.flags & TWFIELDF_TRUNC_DATA) != 0;
  if (record.list && record.listCount > 1 && !cut) return TWFAIL_OVERFLOW;
  if (record.cType == SQL_C_BINARY) {
    const SQLLEN limit = column.scaleOrLength;
    if (cut && limit != 0 && value.length > limit) value.length = limit;
  } else if (record.cType == SQL_C_CHAR) {
    size_t limit = column.scaleOrLength;
    bool own = false;  // the limit is the engine's, not the column's
    if (f.type == TWTYPE_CURRENCY || f.type == TWTYPE_NUMERIC || f.type == TWTYPE_DATETIME ||
        record.list) {
      limit = f.type == TWTYPE_CURRENCY  ? kCurrencyText
              : f.type == TWTYPE_NUMERIC ? kNumericText
                                         : kDatetimeText;
      own = true;
    }
    // Columns count characters.
    const twx::Fit fit = twx::FitCharacters(TWSTREAMFMT_NATIVE, value.data,
                                            static_cast<size_t>(value.length), limit);
    if (!fit.fits && (own || cut)) {
      if (!cut) return TWFAIL_OVERFLOW;
      value.length = static_cast<SQLLEN>(fit.length);
    }
  }
  return TWSUCCESS;
}

// ---------------------------------------------------------------- fetching ---------------

// Where a character or binary value goes and how much of it fits.
struct StreamTarget {
  TWStream* stream = nullptr;
  uint32_t format = TWSTREAMFMT_NATIVE;
  bool text = true;       // SQL_C_CHAR: every piece ends with the driver's terminator
  bool truncate = false;  // TWFIELDF_TRUNC_DATA: cut what does not fit
};

// What one SQLGetData delivered into a buffer of cap bytes of data, and whether more follows.
struct Delivered {
  size_t bytes = 0;
  bool more = false;
};
Delivered DeliveredOf(SQLLEN indicator, size_t cap) {
  if (indicator == SQL_NO_TOTAL) return {cap, true};
  if (indicator < 0) return {0, false};
  if (static_cast<size_t>(indicator) > cap) return {cap, true};
  return {static_cast<size_t>(indicator), false};
}

// Whether a value of *total bytes (more: the driver had more of it) fits the target's
// capacity: cut to it (*cut) where the target may be cut, else TWFAIL_OVERFLOW with nothing
// of the value kept.
[[nodiscard]] uint32_t FitTarget(const StreamTarget& target, size_t* total, bool more, bool* cut) {
  const size_t bound = target.stream->maxLength;  // 0: unbounded
  *cut = false;
  if (bound == 0 || *total < bound || (*total == bound && !more)) return TWSUCCESS;
  if (!target.truncate) {
    TWStreamDataFree(target.stream);
    return TWFAIL_OVERFLOW;
  }
  *total = bound;
  *cut = true;
  return TWSUCCESS;
}

// Cut text (out, total bytes, in the target's stream) ends on a whole character.
[[nodiscard]] uint32_t EndCutText(const StreamTarget& target, const unsigned char* out,
                                  size_t total) {
  if (!target.text || target.format != TWSTREAMFMT_NATIVE) return TWSUCCESS;
  const size_t whole = twx::WholeCharacters(target.format, out, total);
  if (whole < total)
    return TWStreamDataRealloc(target.stream, static_cast<uint32_t>(whole), nullptr);
  return TWSUCCESS;
}

// Reads a character or binary value of column into target: in the target stream itself when
// the value is known to be short, else through the scratch buffer; while the driver says
// more follows, further pieces go to the blocks of the long-data chain and are joined after.
// *isNull is set for SQL NULL. TWFAIL_OVERFLOW when the value does not fit the target's
// capacity and may not be cut (nothing of it is kept then).
[[nodiscard]] uint32_t ReadStreamValue(Connection& c, SQLHSTMT stmt, SQLUSMALLINT column,
                                       ColumnRecord& record, const StreamTarget& target,
                                       bool* isNull) {
  *isNull = false;
  TWStream* stream = target.stream;
  const size_t term = target.text ? 1 : 0;
  const size_t bound = stream->maxLength;  // 0: unbounded
  // The column's size bounds a value only for the classes that are not long; a driver's
  // size for an unbounded column (PostgreSQL's varchar) is no bound: more is read if it
  // comes.
  const size_t hint =
      !IsLongClass(record.cls) && record.size < kLongPiece
          ? static_cast<size_t>(target.text ? twx::CharRoom(record.size, TWSTREAMFMT_NATIVE)
                                            : record.size)
          : 0;
  const size_t want = bound != 0 ? (hint != 0 ? std::min(bound, hint) : bound) : hint;
  const bool inStream = want != 0 && want + term <= kLongPiece;

  unsigned char* first = nullptr;
  size_t firstSize = 0;
  if (inStream) {
    void* data = nullptr;
    uint32_t granted = 0;
    if (uint32_t st =
            TWStreamDataAlloc(stream, target.format, static_cast<uint32_t>(want), &data, &granted))
      return st;
    // The engine's block holds two bytes beyond the grant: room for the terminator.
    first = static_cast<unsigned char*>(data);
    firstSize = granted + term;
  } else {
    if (c.scratch.size() < kLongPiece) c.scratch.resize(kLongPiece);
    first = c.scratch.data();
    firstSize = kLongPiece;
  }
  SQLLEN indicator = 0;
  SQLRETURN rc =
      SQLGetData(stmt, column, record.cType, first, static_cast<SQLLEN>(firstSize), &indicator);
  if (rc == SQL_NO_DATA)
    indicator = 0;
  else if (!SQL_SUCCEEDED(rc))
    return c.OdbcLogError(c.dbc, stmt);
  record.indicator = indicator;
  if (indicator == SQL_NULL_DATA) {
    *isNull = true;
    return TWSUCCESS;
  }
  const Delivered head = DeliveredOf(indicator, firstSize - term);
  size_t total = head.bytes;
  bool more = head.more;
  size_t pieces = 0;
  const size_t pieceCap = kLongPiece - term;
  while (more) {
    // A value already as long as the target holds is decided below without reading on.
    if (bound != 0 && total >= bound) break;
    if (pieces == c.longChain.size())
      c.longChain.push_back(std::make_unique_for_overwrite<unsigned char[]>(kLongPiece));
    rc = SQLGetData(stmt, column, record.cType, c.longChain[pieces].get(),
                    static_cast<SQLLEN>(kLongPiece), &indicator);
    if (rc == SQL_NO_DATA) break;
    if (!SQL_SUCCEEDED(rc)) return c.OdbcLogError(c.dbc, stmt);
    const Delivered piece = DeliveredOf(indicator, pieceCap);
    ++pieces;
    total += piece.bytes;
    more = piece.more;
  }
  if (total > std::numeric_limits<uint32_t>::max() - 2) return TWFAIL_OVERFLOW;
  bool cut = false;
  if (uint32_t st = FitTarget(target, &total, more, &cut)) return st;

  // Join: the first piece stays where it arrived (or comes from the scratch buffer), every
  // further piece follows it; each piece but the last delivered its whole capacity.
  void* data = nullptr;
  const size_t head0 = std::min(head.bytes, total);
  if (inStream) {
    if (uint32_t st = TWStreamDataRealloc(stream, static_cast<uint32_t>(total), &data)) return st;
  } else {
    uint32_t granted = 0;
    if (uint32_t st =
            TWStreamDataAlloc(stream, target.format, static_cast<uint32_t>(total), &data, &granted))
      return st;
    if (head0 != 0) std::memcpy(data, first, head0);
  }
  auto* out = static_cast<unsigned char*>(data);
  size_t at = head0;
  for (size_t i = 0; i < pieces && at < total; ++i) {
    const size_t take = std::min(pieceCap, total - at);
    std::memcpy(out + at, c.longChain[i].get(), take);
    at += take;
  }
  return cut ? EndCutText(target, out, total) : TWSUCCESS;
}

// One field of a merged list while a record is fetched.
struct FetchField {
  FieldInfo f;
  uint32_t position = 0;
  uint32_t index = 0;  // entry number in the merged list, for the log
  const FetchEntry* entry = nullptr;
};

[[nodiscard]] uint32_t DatetimeFromFetch(const ColumnRecord& record, TWDatetime* value) {
  TWDatetimeParts parts{};
  const unsigned char* raw = record.raw.data();
  // A year 0 (a driver's "no date") makes the date null.
  auto date = [&](int32_t year, int32_t month, int32_t day) {
    parts.year = year == 0 ? -1 : year;
    parts.month = year == 0 ? -1 : month;
    parts.day = year == 0 ? -1 : day;
  };
  if (record.cType == SQL_C_DATE) {
    DATE_STRUCT d;
    std::memcpy(&d, raw, sizeof d);
    date(d.year, d.month, d.day);
  } else if (record.cType == SQL_C_TIME) {
    TIME_STRUCT t;
    std::memcpy(&t, raw, sizeof t);
    parts.year = parts.month = parts.day = -1;
    parts.hour = t.hour;
    parts.minute = t.minute;
    parts.second = t.second;
  } else {
    TIMESTAMP_STRUCT ts;
    std::memcpy(&ts, raw, sizeof ts);
    date(ts.year, ts.month, ts.day);
    parts.hour = ts.hour;
    parts.minute = ts.minute;
    parts.second = ts.second;
    parts.hundredth = static_cast<int32_t>(ts.fraction / 10000000u);
  }
  return TWDatetimeSetParts(value, &parts, kPartsFlags);
}

// A value that arrived whole in a bound buffer (bytes of it at data) into target, kept as
// ReadStreamValue keeps one read in pieces.
[[nodiscard]] uint32_t KeepStreamValue(const StreamTarget& target, const unsigned char* data,
                                       size_t total) {
  bool cut = false;
  if (uint32_t st = FitTarget(target, &total, false, &cut)) return st;
  void* out = nullptr;
  uint32_t granted = 0;
  if (uint32_t st = TWStreamDataAlloc(target.stream, target.format, static_cast<uint32_t>(total),
                                      &out, &granted))
    return st;
  if (total != 0) std::memcpy(out, data, total);
  return cut ? EndCutText(target, static_cast<unsigned char*>(out), total) : TWSUCCESS;
}

// A value of the row block: its bytes and the driver's indicator for them.
struct Arrived {
  const unsigned char* data = nullptr;
  SQLLEN indicator = 0;
};

// Fetches column of the current row into the field's record slot; with arrived, the value
// came in the row block's buffer and is taken from there.
[[nodiscard]] uint32_t FetchValue(Connection& c, TWFIELDLIST list, const FetchField& ff,
                                  ColumnRecord& record, uint32_t slot, SQLUSMALLINT column,
                                  const Arrived* arrived = nullptr) {
  const SQLHSTMT stmt = c.mainSlot.stmt;
  const FieldInfo& f = ff.f;
  void* value = nullptr;
  int32_t* nullWord = nullptr;
  if (ff.entry != nullptr && ff.entry->values != nullptr) {
    value = ff.entry->values + size_t{slot - 1} * ff.entry->size;
    nullWord = ff.entry->nulls + (slot - 1);
  } else if (uint32_t st = TWFieldGetBuffer(f.field, slot, &value, &nullWord)) {
    return st;
  }
  // A value that arrived whole is marked present in its null word, which is the caller's to
  // write.
  auto present = [&] {
    *nullWord = 0;
    return TWSUCCESS;
  };
  auto fail = [&](uint32_t st) { return LogFieldStatus(st, list, ff.index); };
  switch (record.cType) {
    case SQL_C_DOUBLE:
    case SQL_C_DATE:
    case SQL_C_TIME:
    case SQL_C_TIMESTAMP: {
      void* target = record.ownSize != 0 ? record.raw.data() : value;
      const auto size = static_cast<SQLLEN>(record.ownSize != 0 ? record.ownSize : sizeof(double));
      if (arrived != nullptr) {
        record.indicator = arrived->indicator;
        if (record.indicator != SQL_NULL_DATA)
          std::memcpy(target, arrived->data, static_cast<size_t>(size));
      } else {
        const SQLRETURN rc =
            SQLGetData(stmt, column, record.cType, target, size, &record.indicator);
        if (rc == SQL_NO_DATA)
          record.indicator = SQL_NULL_DATA;
        else if (!SQL_SUCCEEDED(rc))
          return c.OdbcLogError(c.dbc, stmt);
      }
      if (record.indicator == SQL_NULL_DATA) return TWFieldSetNull(f.field, slot, 1);
      if (!record.convertAfterFetch) return present();
      if (record.cType == SQL_C_DOUBLE) {
        double number = 0;
        std::memcpy(&number, record.raw.data(), sizeof number);
        // A whole number within the range of an integer field is that integer under any
        // flags: stored as it is, without the engine's conversion for every row.
        if (f.type == TWTYPE_INT && number >= std::numeric_limits<int32_t>::min() &&
            number <= std::numeric_limits<int32_t>::max() && number == std::trunc(number)) {
          const auto whole = static_cast<int32_t>(number);
          std::memcpy(value, &whole, sizeof whole);
          return present();
        }
        // The engine's own rules: a fraction needs TRUNC_PREC, a value beyond the field's
        // range TRUNC_DATA.
        if (uint32_t st = TWFieldSetFloat(f.field, slot, &number)) return fail(st);
        return TWSUCCESS;
      }
      TWDatetime datetime{};
      if (uint32_t st = DatetimeFromFetch(record, &datetime)) return fail(st);
      if (uint32_t st = TWFieldSetDatetime(f.field, slot, &datetime)) return fail(st);
      return TWSUCCESS;
    }
    case SQL_C_CHAR:
    case SQL_C_BINARY: {
      const bool own = record.ownSize != 0;
      StreamTarget target;
      target.stream = own ? &record.stream : static_cast<TWStream*>(value);
      target.text = record.cType == SQL_C_CHAR;
      target.truncate = (f.flags & TWFIELDF_TRUNC_DATA) != 0;
      if (!target.text) {
        uint32_t format = 0;
        TWFieldGetFormatStream(f.field, nullptr, nullptr, &format);
        target.format = (format & TWSTREAMFMTF_BINARY) != 0 ? format : TWSTREAMFMT_BLOB;
      }
      bool isNull = false;
      uint32_t st = TWSUCCESS;
      if (arrived == nullptr) {
        st = ReadStreamValue(c, stmt, column, record, target, &isNull);
      } else {
        record.indicator = arrived->indicator;
        isNull = arrived->indicator == SQL_NULL_DATA;
        if (!isNull)
          st = KeepStreamValue(target, arrived->data, static_cast<size_t>(arrived->indicator));
      }
      if (st == TWFAIL_OVERFLOW) return fail(st);
      if (st != TWSUCCESS) return st;
      if (isNull) return TWFieldSetNull(f.field, slot, 1);
      if (own) {
        if ((st = TWFieldSetStream(f.field, slot, &record.stream))) return fail(st);
        return TWSUCCESS;
      }
      // A fixed-length column pads with blanks that are no part of the value.
      if (target.text && record.cls == kChar) TWStreamDataTrim(target.stream);
      return present();
    }
    default:
      return TWFAIL_PROGRAM;
  }
}

// ---------------------------------------------------------------- row blocks -------------

// The bytes of each row's value in the block's buffer of record's column, a text's
// terminator included; 0 when the column's values are not known to be short: they are read
// alone, as ReadStreamValue reads them.
SQLLEN BoundWidth(const ColumnRecord& record) {
  if (const size_t fixed = FixedSize(record.cType)) return static_cast<SQLLEN>(fixed);
  if (record.cType != SQL_C_CHAR && record.cType != SQL_C_BINARY) return 0;
  if (IsLongClass(record.cls) || record.size == 0 || record.size >= kLongPiece) return 0;
  const size_t bytes = record.cType == SQL_C_CHAR
                           ? size_t{twx::CharRoom(record.size, TWSTREAMFMT_NATIVE)} + 1
                           : static_cast<size_t>(record.size);
  return bytes <= RowBlock::kWidest ? static_cast<SQLLEN>(bytes) : 0;
}

// Binds each column the fetch reads that has a bound width to its buffer in the block; false
// when the driver refused one (its diagnostics are on the statement).
bool BindBlock(Connection& c) {
  RowBlock& b = c.rowBlock;
  const SQLHSTMT stmt = c.mainSlot.stmt;
  if (!SQL_SUCCEEDED(SQLFreeStmt(stmt, SQL_UNBIND))) return false;
  b.columns.assign(c.mainOp.columns.size(), RowBlock::Column{});
  for (const FetchEntry& e : c.fetchEntries) {
    const ColumnRecord& record = c.mainOp.columns[e.position - 1];
    RowBlock::Column& column = b.columns[e.position - 1];
    const SQLLEN width = BoundWidth(record);
    if (width == 0 || column.cType != 0) continue;
    column.width = width;
    column.data.assign(static_cast<size_t>(width) * b.rows, 0);
    column.indicators.assign(b.rows, 0);
    if (!SQL_SUCCEEDED(SQLBindCol(stmt, static_cast<SQLUSMALLINT>(e.position), record.cType,
                                  column.data.data(), width, column.indicators.data())))
      return false;
    column.cType = record.cType;
  }
  return true;
}

// Whether a column's conversion changed since the block was bound (the caller's list did).
bool BlockStale(const Connection& c) {
  const RowBlock& b = c.rowBlock;
  if (b.columns.size() != c.mainOp.columns.size()) return true;
  for (const FetchEntry& e : c.fetchEntries) {
    const ColumnRecord& record = c.mainOp.columns[e.position - 1];
    if (b.columns[e.position - 1].cType != (BoundWidth(record) != 0 ? record.cType : 0))
      return true;
  }
  return false;
}

// The rows of a block. psqlODBC reading through a cursor fills a block that reaches past the
// rows it holds with a read of its own for the rest: a block that divides the cursor's read
// leaves each read the size the data source or the connector gave it. 1: no block.
SQLULEN BlockRows(const Connection& c) {
  if (!DriverIsPsqlodbc(c.dbc)) return RowBlock::kRows;
  SQLULEN cursor = 0, fetch = 0;
  if (!SQL_SUCCEEDED(
          SQLGetConnectAttr(c.dbc, kPgUseDeclareFetch, &cursor, sizeof cursor, nullptr)) ||
      !SQL_SUCCEEDED(SQLGetConnectAttr(c.dbc, kPgFetchRows, &fetch, sizeof fetch, nullptr)))
    return 1;
  if (cursor == 0) return RowBlock::kRows;
  for (SQLULEN rows = std::min(RowBlock::kRows, fetch); rows > 1; --rows)
    if (fetch % rows == 0) return rows;
  return 1;
}

// Decides, before the selection's first row is read, whether its rows go a block at a time:
// the driver must give single values of a row in a block, and no positioned write may refer
// to the cursor's row. A driver that gives values of bound columns but not of a row in a
// block (SQLite's) reads a block of one row, its short values arriving in the bound buffers
// with the fetch instead of a call each; one that refuses reads one row a fetch as before.
[[nodiscard]] uint32_t DecideBlock(Connection& c) {
  RowBlock& b = c.rowBlock;
  b.decided = true;
  if (c.props.writeBack != 0 && c.positioned && c.props.disableCursor == 0) return TWSUCCESS;
  constexpr SQLUINTEGER kNeeded = SQL_GD_ANY_COLUMN | SQL_GD_ANY_ORDER | SQL_GD_BOUND;
  SQLUINTEGER getData = 0, positions = 0;
  if (!SQL_SUCCEEDED(
          SQLGetInfo(c.dbc, SQL_GETDATA_EXTENSIONS, &getData, sizeof getData, nullptr)) ||
      (getData & kNeeded) != kNeeded)
    return TWSUCCESS;
  const bool manyRows =
      (getData & SQL_GD_BLOCK) != 0 &&
      SQL_SUCCEEDED(SQLGetInfo(c.dbc, SQL_POS_OPERATIONS, &positions, sizeof positions, nullptr)) &&
      (positions & SQL_POS_POSITION) != 0;
  const SQLULEN rows = manyRows ? BlockRows(c) : 1;
  // A cursor's read that no block divides is read one row a fetch.
  if (manyRows && rows < 2) return TWSUCCESS;
  const SQLHSTMT stmt = c.mainSlot.stmt;
  b.rows = rows;
  b.status.assign(rows, 0);
  if (!SQL_SUCCEEDED(SQLSetStmtAttr(stmt, SQL_ATTR_ROW_STATUS_PTR, b.status.data(), 0)) ||
      !SQL_SUCCEEDED(SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, &b.fetched, 0)) ||
      !SQL_SUCCEEDED(
          SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(rows), 0)))
    return TWSUCCESS;
  if (BindBlock(c)) {
    b.active = true;
    return TWSUCCESS;
  }
  // One row a fetch again: a fetch of many rows into no buffers would lose all but one.
  if (!SQL_SUCCEEDED(SQLFreeStmt(stmt, SQL_UNBIND)) ||
      !SQL_SUCCEEDED(
          SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(1), 0)))
    return c.OdbcLogError(c.dbc, stmt);
  b.columns.clear();
  return TWSUCCESS;
}

// Moves to the next row of the block (rowBlock.next - 1), reading the next block when this
// one is given; *end after the last.
[[nodiscard]] uint32_t NextBlockRow(Connection& c, bool* end) {
  RowBlock& b = c.rowBlock;
  const SQLHSTMT stmt = c.mainSlot.stmt;
  *end = false;
  if (b.next >= b.fetched) {
    if (b.failed != TWSUCCESS) return b.failed;
    if (BlockStale(c) && !BindBlock(c)) return c.OdbcLogError(c.dbc, stmt);
    b.fetched = b.next = b.positioned = 0;
    const SQLRETURN rc = SQLFetch(stmt);
    if (rc == SQL_NO_DATA) {
      *end = true;
      return TWSUCCESS;
    }
    if (!SQL_SUCCEEDED(rc)) return c.OdbcLogError(c.dbc, stmt);
    // A block of one row leaves the cursor on it: its values are read alone without a
    // position, which such a driver may not take.
    if (b.rows == 1) b.positioned = 1;
    // A row the driver could not read fails where it stands, after the rows before it; its
    // diagnostics are logged now, while the statement still holds them.
    for (SQLULEN i = 0; i < b.fetched; ++i)
      if (b.status[i] == SQL_ROW_ERROR) {
        b.failed = c.OdbcLogError(c.dbc, stmt);
        b.fetched = i;
        break;
      }
    if (b.fetched == 0) {
      if (b.failed != TWSUCCESS) return b.failed;
      *end = true;
      return TWSUCCESS;
    }
  }
  ++b.next;
  return TWSUCCESS;
}

// The value of a field from row of the block: from its column's buffer where it arrived
// whole, else read alone with the cursor on the row.
[[nodiscard]] uint32_t BlockValue(Connection& c, TWFIELDLIST list, const FetchField& ff,
                                  ColumnRecord& record, uint32_t slot, SQLULEN row) {
  RowBlock& b = c.rowBlock;
  const RowBlock::Column& column = b.columns[ff.position - 1];
  const auto number = static_cast<SQLUSMALLINT>(ff.position);
  if (column.cType != 0 && column.cType == record.cType) {
    const SQLLEN indicator = column.indicators[row];
    const SQLLEN room = column.cType == SQL_C_CHAR ? column.width - 1 : column.width;
    if (FixedSize(column.cType) != 0 || indicator == SQL_NULL_DATA ||
        (indicator >= 0 && indicator <= room)) {
      const Arrived arrived{column.data.data() + row * static_cast<SQLULEN>(column.width),
                            indicator};
      return FetchValue(c, list, ff, record, slot, number, &arrived);
    }
  }
  if (b.positioned != row + 1) {
    if (!SQL_SUCCEEDED(SQLSetPos(c.mainSlot.stmt, static_cast<SQLSETPOSIROW>(row + 1), SQL_POSITION,
                                 SQL_LOCK_NO_CHANGE)))
      return c.OdbcLogError(c.dbc, c.mainSlot.stmt);
    b.positioned = row + 1;
  }
  return FetchValue(c, list, ff, record, slot, number);
}

// Text into a catalogue field, cut to what a text field holds.
[[nodiscard]] uint32_t SetCatalogueText(TWFIELD field, uint32_t slot, std::string_view text) {
  size_t length = text.size();
  if (TWFieldGetType(field) == TWTYPE_TEXT) {
    uint32_t max = 0;
    TWFieldGetFormatStream(field, nullptr, &max, nullptr);
    if (max != 0 && length > max)
      length = twx::PrefixOfBytes(TWSTREAMFMT_NATIVE, text.data(), length, max);
  }
  const TWStream shown = ShowBytes(text.data(), length);
  return TWFieldSetStream(field, slot, &shown);
}

}  // namespace

// ---------------------------------------------------------------- formats ----------------

size_t FixedSize(SQLSMALLINT cType) {
  switch (cType) {
    case SQL_C_SLONG:
      return sizeof(SQLINTEGER);
    case SQL_C_DOUBLE:
      return sizeof(SQLDOUBLE);
    case SQL_C_DATE:
      return sizeof(SQL_DATE_STRUCT);
    case SQL_C_TIME:
      return sizeof(SQL_TIME_STRUCT);
    case SQL_C_TIMESTAMP:
      return sizeof(SQL_TIMESTAMP_STRUCT);
    default:
      return 0;
  }
}

FieldFormat FormatOfColumn(const ColumnRecord& column, const TypeTable& types) {
  FieldFormat f;
  const auto size =
      static_cast<uint32_t>(std::min<SQLULEN>(column.size, std::numeric_limits<uint32_t>::max()));
  const uint32_t scale = column.scale == 0
                             ? static_cast<uint32_t>(TWSCALE_ZERO)
                             : static_cast<uint32_t>(static_cast<int32_t>(column.scale));
  if (column.nullable == SQL_NO_NULLS) f.fieldFlags = TWFIELDF_NO_NULL;
  const bool known = column.cls >= 0 && column.cls < kClassCount;
  if (known && types[static_cast<size_t>(column.cls)].money) {
    f.type = TWTYPE_CURRENCY;
    f.precision = size;
    f.scaleOrLength = scale;
    return f;
  }
  auto number = [&](uint32_t type, uint32_t flags, uint32_t byteSize, uint32_t precision,
                    uint32_t scaleOrZero) {
    f.type = type;
    f.flags = flags;
    f.byteSize = byteSize;
    f.precision = precision;
    f.scaleOrLength = scaleOrZero;
  };
  auto stream = [&](uint32_t type, uint32_t flags, uint32_t length, uint32_t format) {
    f.type = type;
    // A fixed stream needs a length.
    f.flags = length != 0 ? flags : 0;
    f.scaleOrLength = length;
    f.streamFormat = format;
  };
  switch (column.cls) {
    case kChar:
      stream(TWTYPE_TEXT, TWSTREAMF_FIXED, size, TWSTREAMFMT_NATIVE);
      break;
    case kVarchar:
      stream(TWTYPE_TEXT, 0, size, TWSTREAMFMT_NATIVE);
      break;
    case kLongVarchar:
      stream(TWTYPE_TEXT, 0, 0, TWSTREAMFMT_NATIVE);
      break;
    case kDecimal:
    case kNumeric: {
      const bool decimal = column.cls == kDecimal;
      // A size of 0 is not known: only a numeric holds every value then.
      if (column.scale == 0 && size != 0 && size <= 9)
        number(TWTYPE_INT, decimal ? TWNUMBERF_DECIMAL : TWNUMBERF_NUMERIC, 4, size, scale);
      else if (size == 0 || size > 15)
        number(TWTYPE_NUMERIC, decimal ? TWNUMBERF_DECIMAL : 0, 0, size, scale);
      else
        number(TWTYPE_FLOAT, decimal ? TWNUMBERF_DECIMAL : TWNUMBERF_NUMERIC, 8, size, scale);
      break;
    }
    case kSmallint:
      number(TWTYPE_INT, 0, 2, 5, 0);
      break;
    case kInteger:
      number(TWTYPE_INT, 0, 4, 9, 0);
      break;
    case kReal:
      number(TWTYPE_FLOAT, 0, 4, 7, 0);
      break;
    case kFloat:
    case kDouble:
      number(TWTYPE_FLOAT, 0, 8, 15, 0);
      break;
    case kBit:
      number(TWTYPE_INT, TWNUMBERF_BIT, 0, size,
             static_cast<uint32_t>(static_cast<int32_t>(column.scale)));
      break;
    case kTinyint:
      number(TWTYPE_INT, 0, 1, 3, 0);
      break;
    case kBigint:
      number(TWTYPE_INT, 0, 8, 9, 0);
      break;
    case kBinary:
      stream(TWTYPE_BINARY, TWSTREAMF_FIXED, size, TWSTREAMFMT_BLOB);
      break;
    case kVarbinary:
      stream(TWTYPE_BINARY, 0, size, TWSTREAMFMT_BLOB);
      break;
    case kLongVarbinary:
      stream(TWTYPE_BINARY, 0, 0, TWSTREAMFMT_BLOB);
      break;
    case kDate:
      f.type = TWTYPE_DATETIME;
      f.flags = TWDATETIMEF_NO_TIME;
      break;
    case kTime:
      // A time travels without its fraction (SQL_C_TIME): it holds whole seconds.
      f.type = TWTYPE_DATETIME;
      f.flags = TWDATETIMEF_NO_DATE | TWDATETIMEF_SECOND;
      break;
    case kTimestamp:
      // The decimal digits are the fraction the column keeps.
      f.type = TWTYPE_DATETIME;
      f.flags = column.scale == 0 ? TWDATETIMEF_SECOND : column.scale == 1 ? TWDATETIMEF_TENTH : 0;
      break;
    default:
      f.type = TWTYPE_INVALID;
      break;
  }
  return f;
}

// ---------------------------------------------------------------- descriptions -----------

uint32_t Connection::OdbcDescribeColumn(SQLHSTMT stmt, SQLUSMALLINT column, ColumnRecord* record) {
  SQLCHAR name[256] = {};
  SQLSMALLINT nameLength = 0, sqlType = 0, scale = 0, nullable = 0;
  SQLULEN size = 0;
  const SQLRETURN rc = SQLDescribeCol(stmt, column, name, static_cast<SQLSMALLINT>(sizeof name),
                                      &nameLength, &sqlType, &size, &scale, &nullable);
  if (!SQL_SUCCEEDED(rc)) return TWFAIL_UNAVAILABLE;
  if (record == nullptr) return TWSUCCESS;
  // The length reported is the whole name's; the buffer may hold less.
  const size_t length = strnlen(reinterpret_cast<const char*>(name), sizeof name - 1);
  record->ReleaseBuffer();
  record->name = length != 0 ? std::string(reinterpret_cast<const char*>(name), length)
                             : "Col" + std::to_string(column);
  record->cls = ClassOfSqlType(sqlType);
  record->size = size;
  record->scale = scale;
  record->nullable = nullable;
  return TWSUCCESS;
}

uint32_t Connection::OdbcDescribeResult(ColumnRecords& records, SQLHSTMT stmt) {
  records.clear();
  SQLSMALLINT count = 0;
  if (!SQL_SUCCEEDED(SQLNumResultCols(stmt, &count))) return OdbcLogError(dbc, stmt);
  if (count <= 0) return TWSUCCESS;
  ColumnRecords described(static_cast<size_t>(count));
  for (SQLSMALLINT i = 0; i < count; ++i)
    if (OdbcDescribeColumn(stmt, static_cast<SQLUSMALLINT>(i + 1), &described[i]) != TWSUCCESS)
      return OdbcLogError(dbc, stmt);
  records = std::move(described);
  return TWSUCCESS;
}

uint32_t Connection::BuildDescribedList(const ColumnRecords& records, FieldlistPtr& list) {
  TWFIELDLIST made = TWNULLHANDLE;
  if (uint32_t st = TWFieldlistAlloc(&made, 0, 0)) return st;
  FieldlistPtr fresh(made);
  flowcore::StreamData name;
  for (const ColumnRecord& record : records) {
    if (uint32_t st = TWStreamDataSet(name.get(), TWSTREAMFMT_NATIVE, record.name.data(),
                                      static_cast<uint32_t>(record.name.size())))
      return st;
    if (uint32_t st =
            TWFieldlistAppend(fresh.get(), name.get(), FormatOfColumn(record, types).type, nullptr))
      return st;
  }
  list = std::move(fresh);
  return TWSUCCESS;
}

uint32_t Connection::AddColumns(const ColumnRecords& records, TWFIELDLIST dest) {
  if (dest == TWNULLHANDLE) return TWSUCCESS;
  // Every column is judged before the first is added: the list gains all or none.
  for (const ColumnRecord& record : records) {
    const uint32_t type = FormatOfColumn(record, types).type;
    if (type < TWTYPE_INT || type > TWTYPE_MAX) {
      flowcore::StreamData name;
      TWStreamDataSet(name.get(), TWSTREAMFMT_NATIVE, record.name.data(),
                      static_cast<uint32_t>(record.name.size()));
      TWActivityLogEx(TWFAIL_INVALID_TYPE, 0, 0, 0, name.get(), nullptr, nullptr);
      return TWFAIL_INVALID_TYPE;
    }
  }
  const uint32_t before = TWFieldlistGetCount(dest);
  auto add = [&](const ColumnRecord& record) -> uint32_t {
    const FieldFormat format = FormatOfColumn(record, types);
    flowcore::StreamData name;
    if (uint32_t st = TWStreamDataSet(name.get(), TWSTREAMFMT_NATIVE, record.name.data(),
                                      static_cast<uint32_t>(record.name.size())))
      return st;
    TWFIELD field = TWNULLHANDLE;
    if (uint32_t st = TWFieldlistAppend(dest, name.get(), format.type, &field)) return st;
    uint32_t st = TWSUCCESS;
    switch (format.type) {
      case TWTYPE_DATETIME:
        st = TWFieldSetFormatDatetime(field, format.flags, 0);
        break;
      case TWTYPE_TEXT:
        // A column's size counts characters: the field holds their bytes.
        st = TWFieldSetFormatStream(field, format.flags,
                                    twx::CharRoom(format.scaleOrLength, format.streamFormat),
                                    format.streamFormat);
        break;
      case TWTYPE_BINARY:
        st = TWFieldSetFormatStream(field, format.flags, format.scaleOrLength, format.streamFormat);
        break;
      default:
        st = TWFieldSetFormatNumber(field, format.flags, format.byteSize, format.precision,
                                    static_cast<int32_t>(format.scaleOrLength));
        break;
    }
    if (st != TWSUCCESS) return st;
    return TWFieldSetFlags(field, TWFieldGetFlags(field) | format.fieldFlags);
  };
  for (const ColumnRecord& record : records) {
    if (uint32_t st = add(record)) {
      for (uint32_t n = TWFieldlistGetCount(dest); n > before; --n) TWFieldlistRemove(dest, n);
      return st;
    }
  }
  return TWSUCCESS;
}

// ---------------------------------------------------------------- conversions ------------

uint32_t Connection::SetupConversions(TWFIELDLIST list, ColumnRecords& records,
                                      Direction direction) {
  for (ColumnRecord& record : records) record.ReleaseBuffer();
  if (uint32_t st = TWFieldlistListSetup(list, TWSTREAMFMT_NATIVE)) return st;
  for (uint32_t index = 1;; ++index) {
    FieldInfo f;
    uint32_t position = 0;
    uint32_t st = TWFieldlistList(list, &f.field, &position, &f.type, &f.flags, nullptr);
    if (st == TWFAIL_END_OF_DATA) return TWSUCCESS;
    if (st != TWSUCCESS) return st;
    // A field beyond the described columns (kept by a merge by position) has no column.
    if (position == 0 || position > records.size())
      return LogFieldStatus(TWFAIL_FIELD_COUNT_MISMATCH, list, index);
    ColumnRecord& record = records[position - 1];
    const FieldFormat column = FormatOfColumn(record, types);
    if (f.type == TWTYPE_INVALID || column.type == TWTYPE_INVALID) {
      st = TWFAIL_TYPE_MISMATCH;
    } else {
      st = direction == Direction::kToSource ? ChooseToSource(f, record, column)
                                             : ChooseFetch(f, record, column);
    }
    if (st == TWFAIL_TYPE_MISMATCH) {
      record.ReleaseBuffer();
      return LogFieldStatus(st, list, index, f.type, column.type);
    }
    if (st != TWSUCCESS) {
      record.ReleaseBuffer();
      return LogFieldStatus(st, list, index);
    }
  }
}

uint32_t Connection::RecordParameters(TWFIELDLIST list, ColumnRecords& records, uint32_t recordSlot,
                                      bool allFields, bool dataPass, bool keyPass,
                                      std::vector<ParameterValue>* values) {
  values->clear();
  for (int pass = 0; pass < 2; ++pass) {
    const bool keys = pass == 1;
    if (keys ? !keyPass : !dataPass) continue;
    if (uint32_t st = TWFieldlistListSetup(list, TWSTREAMFMT_NATIVE)) return st;
    for (uint32_t index = 1;; ++index) {
      FieldInfo f;
      uint32_t position = 0;
      uint32_t st = TWFieldlistList(list, &f.field, &position, &f.type, &f.flags, nullptr);
      if (st == TWFAIL_END_OF_DATA) break;
      if (st != TWSUCCESS) return st;
      const bool key = (f.flags & TWFIELDF_KEY) != 0;
      if (keys ? !key : (key && !allFields)) continue;
      if (position == 0 || position > records.size())
        return LogFieldStatus(TWFAIL_FIELD_COUNT_MISMATCH, list, index);
      ColumnRecord& record = records[position - 1];
      // Conversions are set up before any binding.
      if (record.cType == 0) return TWFAIL_PROGRAM;
      const FieldFormat column = FormatOfColumn(record, types);

      BindValue value;
      value.null = TWFieldIsNull(f.field, recordSlot) != 0;
      if (!value.null) {
        if ((st = ConvertForBind(f, recordSlot, record, value)))
          return LogFieldStatus(st, list, index);
        if (!value.null && record.check && (st = CheckForBind(f, record, column, value)))
          return LogFieldStatus(st, list, index);
      }
      // Empty text and binary values still need an address.
      if (value.data == nullptr) value.data = record.raw.data();
      record.indicator = value.null ? SQL_NULL_DATA : value.length;

      SQLULEN columnSize = record.size;
      const bool sized = record.cls == kChar || record.cls == kVarchar ||
                         record.cls == kLongVarchar || record.cls == kBinary ||
                         record.cls == kVarbinary || record.cls == kLongVarbinary;
      if (sized && !value.null) {
        // Never a size below the value: a driver may cut the value to it.
        const auto length = static_cast<SQLULEN>(value.length);
        if (IsLongClass(record.cls) || record.cls == kBinary || record.cls == kVarbinary ||
            length > columnSize)
          columnSize = length;
      }
      if (columnSize == 0) columnSize = 1;
      ParameterValue& out = values->emplace_back();
      out.cType = record.cType;
      out.sqlType = SqlTypeOf(record.cls);
      out.columnSize = columnSize;
      // Decimal digits: the scale of the number classes, and a timestamp's fraction digits.
      out.digits = (record.cls >= kDecimal && record.cls <= kBigint) || record.cls == kTimestamp
                       ? record.scale
                       : 0;
      out.data = value.data;
      out.length = value.null ? 0 : value.length;
      out.null = value.null;
      out.indicator = &record.indicator;
      record.data = const_cast<void*>(value.data);
    }
  }
  return TWSUCCESS;
}

uint32_t Connection::OdbcBindFields(TWFIELDLIST list, SQLHSTMT stmt, ColumnRecords& records,
                                    uint32_t recordSlot, bool allFields, bool dataPass,
                                    bool keyPass, SQLUSMALLINT* parameter, StatementSlot* slot) {
  if (parameter == nullptr) return TWFAIL_NULL_RESULT;
  if (*parameter == 0) *parameter = 1;
  std::vector<ParameterValue> values;
  if (uint32_t st =
          RecordParameters(list, records, recordSlot, allFields, dataPass, keyPass, &values))
    return st;
  return OdbcBindValues(stmt, values, parameter, slot);
}

uint32_t Connection::OdbcBindValues(SQLHSTMT stmt, const std::vector<ParameterValue>& values,
                                    SQLUSMALLINT* parameter, StatementSlot* slot) {
  if (*parameter == 0) *parameter = 1;
  for (const ParameterValue& value : values) {
    const BoundParameter bound{
        value.cType,  value.sqlType,  value.columnSize, value.digits, const_cast<void*>(value.data),
        value.length, value.indicator};
    const size_t at = *parameter - 1u;
    if (slot == nullptr || at >= slot->bound.size() || !(slot->bound[at] == bound)) {
      const SQLRETURN rc = SQLBindParameter(stmt, *parameter, SQL_PARAM_INPUT, bound.cType,
                                            bound.sqlType, bound.columnSize, bound.digits,
                                            bound.data, bound.bufferLength, bound.indicator);
      if (!SQL_SUCCEEDED(rc)) {
        if (slot != nullptr) slot->bound.clear();
        return OdbcLogError(dbc, stmt);
      }
      if (slot != nullptr) {
        if (slot->bound.size() <= at) slot->bound.resize(at + 1);
        slot->bound[at] = bound;
      }
    }
    ++*parameter;
  }
  return TWSUCCESS;
}

// ---------------------------------------------------------------- fetching ---------------

uint32_t Connection::Fetch(TWFIELDLIST dest, uint32_t recordIndex, uint32_t recordCount,
                           uint32_t* affected) {
  uint32_t moved = 0;
  auto finish = [&](uint32_t st) {
    if (affected != nullptr) *affected = moved;
    longChain.clear();
    return st;
  };
  if (state == ResultState::kNone) return finish(TWFAIL_NO_RESULTSET);
  if (dest == TWNULLHANDLE) return finish(TWFAIL_INVALID_FIELDLIST);
  // Slots are checked before a row is read: a row read and not stored would be lost.
  const uint64_t last = uint64_t{recordIndex} + recordCount - 1;
  if (recordIndex == 0 || recordIndex > TWFieldlistGetRecordCount(dest))
    return finish(
        TWActivityLogEx(TWFAIL_RECORD_INDEX, recordIndex, 0, 0, nullptr, nullptr, nullptr));
  if (recordCount != 0 && last > TWFieldlistGetRecordCount(dest))
    return finish(
        TWActivityLogEx(TWFAIL_RECORD_COUNT, recordCount, 0, 0, nullptr, nullptr, nullptr));

  const uint32_t sequence = TWFieldlistGetSequence(dest);
  if (sequence != mainOp.sequence || !mainOp.merged) {
    mainOp.sequence = 0;
    if (uint32_t st = BuildDescribedList(mainOp.columns, mainOp.described)) return finish(st);
    TWFIELDLIST merged = TWNULLHANDLE;
    const uint32_t flags =
        TWMERGEF_FETCH | TWMERGEF_NAME_LOSS | (props.mapName != 0 ? TWMERGEF_MAP_NAME : 0u);
    if (uint32_t st = TWFieldlistMerge(&merged, mainOp.described.get(), dest, flags)) {
      mainOp.merged.reset();
      return finish(TWActivityLogEx(st, 0, 0, 0, nullptr, nullptr, nullptr));
    }
    mainOp.merged.reset(merged);
    fetchEntries.clear();
    if (uint32_t st = SetupConversions(merged, mainOp.columns, Direction::kFetch))
      return finish(st);
    if (uint32_t st = TWFieldlistListSetup(merged, TWSTREAMFMT_NATIVE)) return finish(st);
    for (;;) {
      FetchEntry e;
      const uint32_t st = TWFieldlistList(merged, &e.field, &e.position, &e.type, nullptr, nullptr);
      if (st == TWFAIL_END_OF_DATA) break;
      if (st != TWSUCCESS) return finish(st);
      if (e.position == 0 || e.position > mainOp.columns.size()) return finish(TWFAIL_PROGRAM);
      void* values = nullptr;
      if (TWFieldGetBuffer(e.field, 1, &values, &e.nulls) == TWSUCCESS) {
        e.values = static_cast<unsigned char*>(values);
        e.size = TWFieldGetTypeSize(e.field);
      } else {
        e.nulls = nullptr;
      }
      fetchEntries.push_back(e);
    }
    mainOp.sequence = sequence;
  }
  TWFIELDLIST list = mainOp.merged.get();

  // The end of a list: records moved in this call keep the result open, so that the next
  // call reports the end once; after that there is no result.
  auto end = [&]() {
    if (moved != 0) return finish(TWSUCCESS);
    state = ResultState::kNone;
    cataloguePosition = 0;
    return finish(TWFAIL_END_OF_DATA);
  };

  // A caller may change a field's flags between fetches of one list: read once a call.
  for (FetchEntry& e : fetchEntries) e.flags = TWFieldGetFlags(e.field);
  // The fields of the merged list for one record, in order.
  auto walk = [&](auto&& each) -> uint32_t {
    for (size_t i = 0; i < fetchEntries.size(); ++i) {
      const FetchEntry& e = fetchEntries[i];
      FetchField ff;
      ff.f = {e.field, e.type, e.flags};
      ff.position = e.position;
      ff.index = static_cast<uint32_t>(i + 1);
      ff.entry = &e;
      if (uint32_t st = each(ff)) return st;
    }
    return TWSUCCESS;
  };

  switch (state) {
    case ResultState::kExecute:
    case ResultState::kSelect:
    case ResultState::kTables: {
      const bool tables = state == ResultState::kTables;
      if (state == ResultState::kSelect && !rowBlock.decided)
        if (uint32_t st = DecideBlock(*this)) return finish(st);
      const bool inBlocks = state == ResultState::kSelect && rowBlock.active;
      while (moved < recordCount) {
        SQLULEN row = 0;
        if (inBlocks) {
          bool ended = false;
          if (uint32_t st = NextBlockRow(*this, &ended)) return finish(st);
          if (ended) return end();
          row = rowBlock.next - 1;
        } else {
          const SQLRETURN rc = SQLFetch(mainSlot.stmt);
          if (rc == SQL_NO_DATA) return end();
          if (!SQL_SUCCEEDED(rc)) return finish(OdbcLogError(dbc, mainSlot.stmt));
        }
        const uint32_t slot = recordIndex + moved;
        uint32_t st = TWSUCCESS;
        if (!tables) {
          st = walk([&](const FetchField& ff) {
            ColumnRecord& record = mainOp.columns[ff.position - 1];
            if (inBlocks) return BlockValue(*this, list, ff, record, slot, row);
            return FetchValue(*this, list, ff, record, slot,
                              static_cast<SQLUSMALLINT>(ff.position));
          });
        } else {
          // The list's columns are the table list's 3 (name), 2 (owner) and 5 (remarks); a
          // driver gives them in ascending order only.
          static constexpr SQLUSMALLINT kColumnOf[] = {3, 2, 5};
          static constexpr uint32_t kOrder[] = {2, 1, 3};
          FetchField byPosition[3];
          st = walk([&](const FetchField& ff) {
            if (ff.position <= 3) byPosition[ff.position - 1] = ff;
            return TWSUCCESS;
          });
          for (uint32_t position : kOrder) {
            const FetchField& ff = byPosition[position - 1];
            if (st != TWSUCCESS || ff.position == 0) continue;
            st = FetchValue(*this, list, ff, mainOp.columns[position - 1], slot,
                            kColumnOf[position - 1]);
          }
        }
        if (st != TWSUCCESS) return finish(st);
        ++moved;
      }
      return finish(TWSUCCESS);
    }
    case ResultState::kDataSources: {
      if (cataloguePosition == kDataSourcesEnded) return end();
      while (moved < recordCount) {
        // Room beyond SQL_MAX_DSN_LENGTH: the driver manager keeps longer names.
        SQLCHAR name[256] = {};
        SQLCHAR description[256] = {};
        SQLSMALLINT nameLength = 0, descriptionLength = 0;
        const SQLRETURN rc =
            SQLDataSources(Environment(), firstFetch ? SQL_FETCH_FIRST : SQL_FETCH_NEXT, name,
                           static_cast<SQLSMALLINT>(sizeof name), &nameLength, description,
                           static_cast<SQLSMALLINT>(sizeof description), &descriptionLength);
        if (rc == SQL_NO_DATA) {
          if (moved != 0) cataloguePosition = kDataSourcesEnded;
          return end();
        }
        if (!SQL_SUCCEEDED(rc)) return finish(OdbcLogError(SQL_NULL_HDBC, SQL_NULL_HSTMT));
        firstFetch = false;
        const uint32_t slot = recordIndex + moved;
        const std::string_view nameText(reinterpret_cast<const char*>(name),
                                        strnlen(reinterpret_cast<const char*>(name), sizeof name));
        const std::string_view descriptionText(
            reinterpret_cast<const char*>(description),
            strnlen(reinterpret_cast<const char*>(description), sizeof description));
        uint32_t st = walk([&](const FetchField& ff) -> uint32_t {
          uint32_t s = TWSUCCESS;
          if (ff.position == 1)
            s = SetCatalogueText(ff.f.field, slot, nameText);
          else if (ff.position == 2)
            s = TWFieldSetNull(ff.f.field, slot, 1);
          else if (ff.position == 3)
            s = SetCatalogueText(ff.f.field, slot, descriptionText);
          return s != TWSUCCESS ? LogFieldStatus(s, list, ff.index) : TWSUCCESS;
        });
        if (st != TWSUCCESS) return finish(st);
        ++moved;
      }
      return finish(TWSUCCESS);
    }
    case ResultState::kColumns: {
      while (moved < recordCount) {
        if (cataloguePosition >= catalogueColumns.size()) return end();
        const std::string& name = catalogueColumns[cataloguePosition].name;
        const uint32_t slot = recordIndex + moved;
        uint32_t st = walk([&](const FetchField& ff) -> uint32_t {
          uint32_t s = TWSUCCESS;
          if (ff.position == 1)
            s = SetCatalogueText(ff.f.field, slot, name);
          else
            s = TWFieldSetNull(ff.f.field, slot, 1);
          return s != TWSUCCESS ? LogFieldStatus(s, list, ff.index) : TWSUCCESS;
        });
        if (st != TWSUCCESS) return finish(st);
        ++cataloguePosition;
        ++moved;
      }
      return finish(TWSUCCESS);
    }
    default:
      return finish(TWFAIL_NO_RESULTSET);
  }
}

}  // namespace sqlcli
