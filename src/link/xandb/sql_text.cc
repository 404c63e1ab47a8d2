// The statement texts of the Xandb connector (sql_text.h).
#include "sql_text.h"

#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cstdio>
#include <limits>

#include "twx_props.h"

namespace xandb {
namespace {

void Join(std::string& text, const std::vector<std::string>& names) {
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += ',';
    text += names[i];
  }
}

void AppendKeys(std::string& text, bool where, const std::vector<KeyTerm>& keys) {
  for (const KeyTerm& key : keys) {
    text += where ? " AND " : " WHERE ";
    where = true;
    text += key.column;
    text += key.op;
    text += '?';
  }
}

// The tail of an update or delete: positioned, or condition and key terms.
void AppendTarget(std::string& text, std::string_view condition, const std::vector<KeyTerm>& keys,
                  std::string_view cursor) {
  if (!cursor.empty()) {
    text += " WHERE CURRENT OF ";
    text += cursor;
    return;
  }
  const bool where = !condition.empty();
  if (where) {
    text += " WHERE  (";
    text += condition;
    text += ") ";
  }
  AppendKeys(text, where, keys);
}

// " (p) " or " (p,s) ", the scale left out when 0 or TWSCALE_ZERO; nothing without a precision.
std::string SizePart(int64_t precision, int32_t scale) {
  if (precision == 0) return {};
  std::string part = " (" + std::to_string(precision);
  if (scale != 0 && scale != static_cast<int32_t>(TWSCALE_ZERO))
    part += "," + std::to_string(scale);
  return part + ") ";
}

constexpr std::string_view kNotLogged = " NOT LOGGED COMPACT";

// The ladder of the character or the binary family.
std::string StreamType(const FieldShape& f, const TypeLimits& l, bool binary,
                       uint32_t createMaxLogged) {
  const int64_t size = f.length;
  const int32_t fixedLimit = binary ? l.binarySize : l.charSize;
  const int32_t varLimit = binary ? l.varbinarySize : l.varcharSize;
  const int32_t longLimit = binary ? l.longVarbinarySize : l.longVarcharSize;
  const int32_t lobLimit = binary ? l.blobSize : l.clobSize;
  const int16_t largest = binary ? l.binaryType : l.charType;
  const int32_t largestSize = binary ? l.binaryTypeSize : l.charTypeSize;
  int16_t type = 0;
  int64_t written = size;
  if (size == 0 || size > largestSize) {
    type = largest;
    written = largestSize;
  } else if ((f.formatFlags & TWSTREAMF_FIXED) != 0 && size <= fixedLimit) {
    type = binary ? SQL_BINARY : SQL_CHAR;
  } else if (size <= varLimit) {
    type = binary ? SQL_VARBINARY : SQL_VARCHAR;
  } else if (size <= longLimit) {
    type = binary ? SQL_LONGVARBINARY : SQL_LONGVARCHAR;
  } else if (size <= lobLimit) {
    type = binary ? kSqlBlob : kSqlClob;
  } else {
    type = largest;
    written = largestSize;
  }
  const std::string_view bits = binary ? " FOR BIT DATA" : "";
  switch (type) {
    case SQL_CHAR:
    case SQL_BINARY:
      return "CHAR" + SizePart(written, 0) + std::string(bits);
    case SQL_VARCHAR:
    case SQL_VARBINARY:
      return "VARCHAR" + SizePart(written, 0) + std::string(bits);
    case SQL_LONGVARCHAR:
    case SQL_LONGVARBINARY:
      return "LONG VARCHAR" + std::string(bits);
    case kSqlClob:
    case kSqlBlob: {
      const int64_t lob = written <= 0 || written > std::numeric_limits<int32_t>::max()
                              ? std::numeric_limits<int32_t>::max()
                              : written;
      std::string text = (binary ? "BLOB" : "CLOB") + SizePart(lob, 0);
      if (written == 0 || (createMaxLogged != 0 && lob > createMaxLogged)) text += kNotLogged;
      return text;
    }
    default:
      return {};  // the data source has no type of the family
  }
}

}  // namespace

std::string CutName(std::string_view name, uint32_t limit) {
  if (limit == 0) limit = kDefaultNameLimit;
  return std::string(name.substr(0, std::min<size_t>(name.size(), limit)));
}

bool TakeTypeRow(TypeLimits& l, int32_t dataType, int32_t size, int32_t searchable) {
  int32_t* limit = nullptr;
  bool binary = false;
  switch (dataType) {
    case SQL_CHAR:
      limit = &l.charSize;
      break;
    case SQL_VARCHAR:
      limit = &l.varcharSize;
      break;
    case SQL_LONGVARCHAR:
      limit = &l.longVarcharSize;
      break;
    case kSqlClob:
      limit = &l.clobSize;
      break;
    case SQL_BINARY:
      limit = &l.binarySize;
      binary = true;
      break;
    case SQL_VARBINARY:
      limit = &l.varbinarySize;
      binary = true;
      break;
    case SQL_LONGVARBINARY:
      limit = &l.longVarbinarySize;
      binary = true;
      break;
    case kSqlBlob:
      limit = &l.blobSize;
      binary = true;
      break;
    default:
      return false;
  }
  // A driver that states no size (a negative one, SQL_NO_TOTAL) sets no limit.
  if (size < 0) size = std::numeric_limits<int32_t>::max();
  *limit = size;
  int16_t& type = binary ? l.binaryType : l.charType;
  int32_t& typeSize = binary ? l.binaryTypeSize : l.charTypeSize;
  if (size > typeSize) {
    type = static_cast<int16_t>(dataType);
    typeSize = size;
  }
  int16_t& search = binary ? l.searchBinaryType : l.searchCharType;
  int32_t& searchSize = binary ? l.searchBinarySize : l.searchCharSize;
  if (size > searchSize && (searchable == SQL_SEARCHABLE || searchable == SQL_ALL_EXCEPT_LIKE)) {
    search = static_cast<int16_t>(dataType);
    searchSize = size;
  }
  return true;
}

std::string TimestampLiteral(const TWDatetimeParts& p) {
  char text[96];
  std::snprintf(text, sizeof text, " TIMESTAMP ('%04lu-%02lu-%02lu-%02lu.%02lu.%02lu.%02lu') ",
                static_cast<unsigned long>(p.year), static_cast<unsigned long>(p.month),
                static_cast<unsigned long>(p.day), static_cast<unsigned long>(p.hour),
                static_cast<unsigned long>(p.minute), static_cast<unsigned long>(p.second),
                static_cast<unsigned long>(p.hundredth));
  return text;
}

std::string_view KeyComparison(uint32_t fieldFlags) {
  return tw::twx::KeyOperator(fieldFlags);
}

std::string SelectText(const Selection& s) {
  std::string text = "SELECT ";
  if (s.columns.empty())
    text += '*';
  else
    Join(text, s.columns);
  text += " FROM ";
  text += s.table;
  bool where = false;
  auto term = [&] {
    text += where ? " AND " : " WHERE ";
    where = true;
  };
  if (!s.condition.empty()) {
    term();
    text += " (";
    text += s.condition;
    text += ") ";
  }
  if (!s.stampField.empty()) {
    term();
    text += " (";
    if (s.lower) {
      text += s.stampField;
      text += " > ";
      text += *s.lower;
      text += " AND ";
    }
    text += s.stampField;
    text += " <= ";
    text += s.upper;
    text += ") ";
  }
  AppendKeys(text, where, s.keys);
  if (!s.order.empty()) {
    text += " ORDER BY ";
    Join(text, s.order);
  } else if (s.forUpdate) {
    text += " FOR UPDATE ";
    if (!s.columns.empty()) {
      text += " OF ";
      Join(text, s.columns);
    }
  }
  return text;
}

std::string DescribeText(std::string_view table) {
  return "SELECT * FROM " + std::string(table) + " WHERE 0 = 1";
}

std::string InsertText(std::string_view table, const std::vector<std::string>& columns) {
  std::string text = "INSERT INTO " + std::string(table) + " (";
  Join(text, columns);
  text += ") VALUES (";
  for (size_t i = 0; i < columns.size(); ++i) text += i == 0 ? "?" : ",?";
  return text + ") ";
}

std::string UpdateText(std::string_view table, const std::vector<std::string>& set,
                       std::string_view condition, const std::vector<KeyTerm>& keys,
                       std::string_view cursor) {
  std::string text = "UPDATE " + std::string(table) + " SET ";
  for (size_t i = 0; i < set.size(); ++i) {
    if (i > 0) text += ',';
    text += set[i];
    text += "=?";
  }
  AppendTarget(text, condition, keys, cursor);
  return text;
}

std::string DeleteText(std::string_view table, std::string_view condition,
                       const std::vector<KeyTerm>& keys, std::string_view cursor) {
  std::string text = TruncateText(table);
  AppendTarget(text, condition, keys, cursor);
  return text;
}

std::string TruncateText(std::string_view table) {
  return "DELETE FROM " + std::string(table);
}

std::string DropTableText(std::string_view table) {
  return "DROP TABLE " + std::string(table);
}

std::string DropIndexText(std::string_view index) {
  return "DROP INDEX " + std::string(index);
}

std::string CreateIndexText(std::string_view index, std::string_view table,
                            const std::vector<std::string>& columns) {
  std::string text = "CREATE INDEX " + std::string(index) + " ON " + std::string(table) + " (";
  Join(text, columns);
  return text + ") ";
}

std::string CreateTableText(std::string_view table, const std::vector<std::string>& definitions) {
  std::string text = "CREATE TABLE " + std::string(table) + " (";
  Join(text, definitions);
  return text + ") ";
}

std::string ServerTimeText(std::string_view table) {
  return "SELECT DISTINCT CURRENT TIMESTAMP FROM " + std::string(table);
}

FieldShape ShapeOfField(TWFIELD field) {
  FieldShape f;
  f.type = TWFieldGetType(field);
  f.fieldFlags = TWFieldGetFlags(field);
  if (f.type == TWTYPE_DATETIME) {
    TWFieldGetFormatDatetime(field, &f.formatFlags, nullptr);
  } else if (f.type == TWTYPE_TEXT || f.type == TWTYPE_BINARY) {
    TWFieldGetFormatStream(field, &f.formatFlags, &f.length, &f.streamFormat);
  } else if (f.type != TWTYPE_INVALID) {
    TWFieldGetFormatNumber(field, &f.formatFlags, &f.byteSize, &f.precision, &f.scale);
  }
  return f;
}

std::optional<std::string> ColumnType(const FieldShape& f, const TypeLimits& limits,
                                      int32_t serverKind, uint32_t createMaxLogged) {
  const bool numeric = (f.formatFlags & TWNUMBERF_NUMERIC) != 0;
  const bool decimal = (f.formatFlags & TWNUMBERF_DECIMAL) != 0;
  const std::string floating = serverKind == 1 || serverKind == 2 ? "FLOAT" : "DOUBLE";
  const int32_t scale = f.scale == static_cast<int32_t>(TWSCALE_ZERO) ? 0 : f.scale;
  uint32_t type = f.type;
  if (type == TWTYPE_BINARY && f.streamFormat == TWSTREAMFMT_NUMBER_LIST) return floating;
  if (type == TWTYPE_BINARY && f.streamFormat == TWSTREAMFMT_DATETIME_LIST) type = TWTYPE_DATETIME;
  std::string text;
  switch (type) {
    case TWTYPE_INT:
      // A field of no stated size is the engine's 32-bit integer: a SMALLINT would refuse or
      // cut its larger values.
      if (f.precision == 0 && !numeric && !decimal)
        return (f.formatFlags & TWNUMBERF_BIT) != 0 || (f.byteSize != 0 && f.byteSize <= 2)
                   ? "SMALLINT"
                   : "INTEGER";
      if (f.precision == 0 && !numeric) return "DECIMAL";
      return "NUMERIC" + SizePart(f.precision, 0);
    case TWTYPE_FLOAT:
      if (scale == 0 && !numeric && !decimal) return floating + SizePart(f.precision, 0);
      if (scale == 0 && !numeric) return "DECIMAL" + SizePart(f.precision, f.scale);
      return "NUMERIC" + SizePart(f.precision, f.scale);
    case TWTYPE_CURRENCY:
      return "NUMERIC (19,4)";
    case TWTYPE_NUMERIC: {
      const int32_t s =
          f.scale == static_cast<int32_t>(TWSCALE_ZERO) ? f.scale : std::clamp(f.scale, -31, 31);
      return (decimal ? "DECIMAL" : "NUMERIC") + SizePart(std::min<uint32_t>(f.precision, 31), s);
    }
    case TWTYPE_DATETIME:
      if ((f.formatFlags & TWDATETIMEF_NO_DATE) != 0) return "TIME";
      if ((f.formatFlags & TWDATETIMEF_NO_TIME) != 0) return "DATE";
      return "TIMESTAMP";
    case TWTYPE_TEXT:
    case TWTYPE_BINARY:
      text = StreamType(f, limits, type == TWTYPE_BINARY && f.streamFormat == TWSTREAMFMT_BLOB,
                        createMaxLogged);
      if (text.empty()) return std::nullopt;
      return text;
    default:
      return std::nullopt;
  }
}

std::string ColumnDefinition(std::string_view name, std::string_view type, bool notNull) {
  std::string text(name);
  text += ' ';
  text += type;
  if (notNull) text += " NOT NULL";
  return text;
}

}  // namespace xandb
