// The SQL texts of the ODBC connector (sql_text.h) and the choice of CREATE TABLE column
// types from an engine field's format and the data source's type table.
#include "sql_text.h"

#include <algorithm>
#include <limits>

#include "twx_props.h"

namespace sqlcli {

std::string_view KeyComparison(uint32_t fieldFlags) {
  return tw::twx::KeyOperator(fieldFlags, tw::twx::KeyOrder::kLessFirstWhenNotEqual);
}

void AppendColumn(std::string& text, std::string_view quote, std::string_view name) {
  text += quote;
  text += name;
  text += quote;
}

namespace {

void AppendList(std::string& text, std::string_view quote, const std::vector<std::string>& names) {
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += ", ";
    AppendColumn(text, quote, names[i]);
  }
}

// " WHERE " before the first term of a text, " AND " before every further one.
void AppendJoin(std::string& text, bool& where) {
  text += where ? " AND " : " WHERE ";
  where = true;
}

void AppendTerm(std::string& text, bool& where, std::string_view quote, std::string_view column,
                std::string_view op) {
  AppendJoin(text, where);
  AppendColumn(text, quote, column);
  text += ' ';
  text += op;
  text += " ?";
}

void AppendKeyTerms(std::string& text, bool& where, std::string_view quote,
                    const std::vector<KeyTerm>& keys) {
  for (const KeyTerm& key : keys) AppendTerm(text, where, quote, key.column, key.op);
}

void AppendPositioned(std::string& text) {
  text += " WHERE CURRENT OF ";
  text += kCursorName;
}

std::string TableStatement(std::string_view head, std::string_view table) {
  std::string text(head);
  text += table;
  return text;
}

}  // namespace

std::string DescribeTableText(std::string_view table) {
  std::string text = TableStatement("SELECT * FROM ", table);
  text += " WHERE 0=1";
  return text;
}

std::string DescribeColumnText(std::string_view table, std::string_view quote,
                               std::string_view column) {
  std::string text = "SELECT ";
  AppendColumn(text, quote, column);
  text += " FROM ";
  text += table;
  text += " WHERE 0=1";
  return text;
}

std::string SelectText(const Selection& s) {
  std::string text = "SELECT ";
  if (s.fields.empty())
    text += '*';
  else
    AppendList(text, s.quote, s.fields);
  text += " FROM ";
  text += s.table;
  bool where = false;
  if (!s.condition.empty()) {
    AppendJoin(text, where);
    text += '(';
    text += s.condition;
    text += ')';
  }
  if (!s.stampField.empty()) {
    if (s.baseStamp) AppendTerm(text, where, s.quote, s.stampField, ">");
    AppendTerm(text, where, s.quote, s.stampField, "<=");
  }
  AppendKeyTerms(text, where, s.quote, s.keys);
  if (!s.order.empty()) {
    text += " ORDER BY ";
    AppendList(text, s.quote, s.order);
  }
  if (s.forUpdate) {
    text += " FOR UPDATE";
    if (!s.fields.empty()) {
      text += " OF ";
      AppendList(text, s.quote, s.fields);
    }
  }
  return text;
}

std::string InsertText(std::string_view table, std::string_view quote,
                       const std::vector<std::string>& columns) {
  std::string text = TableStatement("INSERT INTO ", table);
  text += " (";
  AppendList(text, quote, columns);
  text += ") VALUES (";
  for (size_t i = 0; i < columns.size(); ++i) text += i == 0 ? "?" : ", ?";
  text += ')';
  return text;
}

std::string UpdateText(std::string_view table, std::string_view quote,
                       const std::vector<std::string>& set, const std::vector<KeyTerm>& keys,
                       bool positioned) {
  std::string text = TableStatement("UPDATE ", table);
  text += " SET ";
  for (size_t i = 0; i < set.size(); ++i) {
    if (i > 0) text += ", ";
    AppendColumn(text, quote, set[i]);
    text += " = ?";
  }
  if (positioned) {
    AppendPositioned(text);
  } else {
    bool where = false;
    AppendKeyTerms(text, where, quote, keys);
  }
  return text;
}

std::string RemoveText(std::string_view table, std::string_view quote,
                       const std::vector<KeyTerm>& keys, bool positioned) {
  std::string text = TableStatement("DELETE FROM ", table);
  if (positioned) {
    AppendPositioned(text);
  } else {
    bool where = false;
    AppendKeyTerms(text, where, quote, keys);
  }
  return text;
}

std::string TruncateText(std::string_view table) {
  return TableStatement("TRUNCATE TABLE ", table);
}

std::string DeleteAllText(std::string_view table) {
  return TableStatement("DELETE FROM ", table);
}

std::string DropText(std::string_view table) {
  return TableStatement("DROP TABLE ", table);
}

// ---------------------------------------------------------------- CREATE TABLE ---------

namespace {

int32_t Clamp(uint32_t value) {
  return static_cast<int32_t>(
      std::min<uint32_t>(value, static_cast<uint32_t>(std::numeric_limits<int32_t>::max())));
}

// A type row's precision, where the data source gave none: 254 for text, 255 for binary.
int32_t RowLimit(const TypeRow& row, int32_t fallback) {
  return row.precision <= 0 ? fallback : row.precision;
}

// An engine INT field. A precision of 0 is "not given": the engine's integer is 32-bit, so
// INTEGER holds any value (the single-digit rules below would make it a BIT and lose data).
int32_t IntClass(const FieldShape& f, int32_t precision) {
  if ((f.formatFlags & TWNUMBERF_BIT) != 0) return kBit;
  if ((f.formatFlags & TWNUMBERF_NUMERIC) != 0) return kNumeric;
  if ((f.formatFlags & TWNUMBERF_DECIMAL) != 0) return kDecimal;
  if (precision == 0) return kInteger;
  if (precision <= 1) return kBit;
  if (f.byteSize == 1 || precision <= 3) return kTinyint;
  if (f.byteSize == 0) return precision <= 5 ? kSmallint : precision <= 9 ? kInteger : kBigint;
  if (f.byteSize == 2 || precision <= 5) return kSmallint;
  if (f.byteSize == 3 || f.byteSize == 4 || precision <= 9) return kInteger;
  return kBigint;
}

// An engine FLOAT field. A precision of 0 is "not given" and never makes a REAL: only a
// source of four bytes or fewer, or one declaring under 7 digits, fits in one.
int32_t FloatClass(const FieldShape& f, int32_t precision) {
  if ((f.formatFlags & TWNUMBERF_NUMERIC) != 0) return kNumeric;
  if ((f.formatFlags & TWNUMBERF_DECIMAL) != 0) return kDecimal;
  if ((f.byteSize >= 1 && f.byteSize <= 4) || (precision >= 1 && precision < 7)) return kReal;
  return kFloat;
}

// Text columns (TEXT fields, and composite or text-list binaries) against the limits of the
// fixed and the varying type.
int32_t TextClass(const FieldShape& f, int32_t fixedLimit, int32_t varyingLimit) {
  const int32_t length = Clamp(f.length);
  if ((f.formatFlags & TWSTREAMF_FIXED) != 0) return length > fixedLimit ? kLongVarchar : kChar;
  return length != 0 && length <= varyingLimit ? kVarchar : kLongVarchar;
}

int32_t BinaryClass(const FieldShape& f, int32_t fixedLimit, int32_t varyingLimit) {
  const int32_t length = Clamp(f.length);
  if ((f.formatFlags & TWSTREAMF_FIXED) != 0) return length > fixedLimit ? kLongVarbinary : kBinary;
  return length != 0 && length <= varyingLimit ? kVarbinary : kLongVarbinary;
}

}  // namespace

ColumnType ColumnTypeOfField(const FieldShape& f, const TypeTable& types, bool moneyFound,
                             int32_t moneyClass) {
  const int32_t precision = Clamp(f.precision);
  const int32_t scale = f.scale == static_cast<int32_t>(TWSCALE_ZERO) ? 0 : f.scale;
  const int32_t length = Clamp(f.length);
  switch (f.type) {
    case TWTYPE_INT: {
      const int32_t cls = IntClass(f, precision);
      if (cls == kInteger && precision == 0) return {kInteger, 9, scale};
      return {cls, precision, scale};
    }
    case TWTYPE_FLOAT:
      return {FloatClass(f, precision), precision, scale};
    case TWTYPE_CURRENCY:
      if (moneyFound && moneyClass >= 0 && moneyClass < kClassCount) {
        const TypeRow& row = types[moneyClass];
        return {moneyClass, row.precision, std::max(row.minScale, 0)};
      }
      return {kNumeric, TWMAX_CURRENCY_PREC, TWMAX_CURRENCY_SCALE};
    case TWTYPE_NUMERIC:
      return {kNumeric, precision, scale};
    case TWTYPE_DATETIME:
      if ((f.formatFlags & TWDATETIMEF_NO_TIME) != 0) return {kDate, 0, 0};
      if ((f.formatFlags & TWDATETIMEF_NO_DATE) != 0) return {kTime, 0, 0};
      return {kTimestamp, 0, 0};
    case TWTYPE_TEXT:
      return {TextClass(f, RowLimit(types[kChar], 254), RowLimit(types[kVarchar], 254)), length, 0};
    case TWTYPE_BINARY: {
      const int32_t fixedLimit = RowLimit(types[kBinary], 255);
      const int32_t varyingLimit = RowLimit(types[kVarbinary], 255);
      switch (f.streamFormat) {
        case TWSTREAMFMT_COMPOSITE:
        case TWSTREAMFMT_TEXT_LIST:
          return {TextClass(f, fixedLimit, varyingLimit), length, 0};
        case TWSTREAMFMT_NUMBER_LIST:
          return {kFloat, 0, 0};
        case TWSTREAMFMT_DATETIME_LIST:
          return {kTimestamp, 0, 0};
        default:
          return {BinaryClass(f, fixedLimit, varyingLimit), length, 0};
      }
    }
    default:
      return {kLongVarbinary, 0, 0};
  }
}

const TypeRow* CreateTypeRow(const TypeTable& types, const ColumnType& column) {
  if (column.cls < 0 || column.cls >= kClassCount) return nullptr;
  const TypeRow* row = &types[column.cls];
  if (row->name.empty() && (column.cls == kDecimal || column.cls == kNumeric)) {
    const int32_t n = column.size;
    int32_t rung = kDouble;
    if (column.scale != 0)
      rung = n <= 7 ? kReal : kDouble;
    else if (n > 0)
      rung = n <= 1    ? kBit
             : n <= 3  ? kTinyint
             : n <= 5  ? kSmallint
             : n <= 9  ? kInteger
             : n <= 18 ? kBigint
                       : kDouble;
    row = &types[rung];
  }
  return row->name.empty() ? nullptr : row;
}

std::string TypeText(const TypeRow& row, const ColumnType& column) {
  std::string size;
  if (row.createParams && column.size > 0) {
    switch (row.cls) {
      case kChar:
      case kVarchar:
      case kBinary:
      case kVarbinary:
        size = "(" + std::to_string(column.size) + ")";
        break;
      case kDecimal:
      case kNumeric:
        size = "(" + std::to_string(column.size) + "," + std::to_string(column.scale) + ")";
        break;
      default:
        break;
    }
  }
  const std::string& name = row.name;
  const size_t open = name.find('(');
  if (open == std::string::npos) return name + size;
  std::string text = name.substr(0, open) + size;
  const size_t close = name.find(')', open);
  if (close != std::string::npos) text += name.substr(close + 1);
  return text;
}

bool CreateColumns(const std::vector<CreateField>& fields, const TypeTable& types, bool moneyFound,
                   int32_t moneyClass, bool nonNullable, std::vector<CreateColumn>& columns,
                   std::string* unsupported) {
  columns.clear();
  for (const CreateField& field : fields) {
    if ((field.flags & TWFIELDF_NO_CREATE) != 0) continue;
    const ColumnType type = ColumnTypeOfField(field.shape, types, moneyFound, moneyClass);
    const TypeRow* row = CreateTypeRow(types, type);
    if (row == nullptr) {
      if (unsupported != nullptr) *unsupported = field.name;
      return false;
    }
    columns.push_back({field.name, TypeText(*row, type),
                       nonNullable && (!row->nullable || (field.flags & TWFIELDF_NO_NULL) != 0)});
  }
  return true;
}

std::string CreateText(std::string_view table, std::string_view quote,
                       const std::vector<CreateColumn>& columns) {
  std::string text = TableStatement("CREATE TABLE ", table);
  text += " (";
  for (size_t i = 0; i < columns.size(); ++i) {
    if (i > 0) text += ", ";
    AppendColumn(text, quote, columns[i].name);
    text += ' ';
    text += columns[i].type;
    if (columns[i].notNull) text += " NOT NULL";
  }
  text += ')';
  return text;
}

std::string UnsupportedTypeText(std::string_view field) {
  std::string text = "Column ";
  text += field;
  text +=
      "'s datatype is not supported by the underlying database.  Exclude this column from "
      "transfers, or change its datatype to one that is supported by the target database.";
  return text;
}

}  // namespace sqlcli
