// The texts of sqlprobe's driver report.
#include "report.h"

namespace tw::sqlprobe {
namespace {

constexpr InfoItem kItems[] = {
    {SQL_DATA_SOURCE_NAME, InfoKind::kText, 33, "Data Source Name", PrintText},
    {SQL_ODBC_VER, InfoKind::kText, 256, "ODBC Version", PrintText},
    {SQL_DRIVER_ODBC_VER, InfoKind::kText, 256, "Driver ODBC Version (Should be 2.0 or up)",
     PrintText},
    {SQL_DRIVER_NAME, InfoKind::kText, 256, "Driver Name", PrintText},
    {SQL_DRIVER_VER, InfoKind::kText, 256, "Driver Version", PrintText},
    {SQL_ODBC_API_CONFORMANCE, InfoKind::kNumber, 0,
     "ODBC Conformance Level (Must be Level 1 or >)", PrintConformance},
    {SQL_ACTIVE_CONNECTIONS, InfoKind::kNumber, 0, "Max number of Connections (zero = no limit)",
     PrintNumber},
    {SQL_ACTIVE_STATEMENTS, InfoKind::kNumber, 0,
     "Max Number of Statements (Must be >2 (0=no limit))", PrintNumber},
    {SQL_DBMS_NAME, InfoKind::kText, 256, "The Database name", PrintText},
    {SQL_DBMS_VER, InfoKind::kText, 256, "The Database Version", PrintText},
    {SQL_KEYWORDS, InfoKind::kText, kKeywordsSize, "System keywords:", PrintKeywords},
    {SQL_POSITIONED_STATEMENTS, InfoKind::kMask, 0,
     "Positioned statements: (select/update/delete) required for cursor replication):",
     PrintPositioned},
    {SQL_ORDER_BY_COLUMNS_IN_SELECT, InfoKind::kText, 2, "", PrintOrderBy},
    {SQL_MAX_COLUMNS_IN_SELECT, InfoKind::kNumber, 0,
     "Max Number of Columns that can be Selected (0=no limit)", PrintNumber},
    {SQL_MAX_COLUMNS_IN_TABLE, InfoKind::kNumber, 0,
     "Max Number of Columns that can be in a table (0=no limit)", PrintNumber},
    {SQL_NON_NULLABLE_COLUMNS, InfoKind::kNumber, 0, "", PrintNonNullable},
};

constexpr FunctionCheck kFunctions[] = {
    {SQL_API_SQLDATASOURCES, "SQLDataSources"},
    {SQL_API_SQLGETTYPEINFO, "SQLGetTypeInfo"},
    {SQL_API_SQLSETCONNECTOPTION, "SQLSetConnectOption"},
    {SQL_API_SQLBINDPARAMETER, "SQLBindParameter"},
    {SQL_API_SQLGETDATA, "SQLGetData"},
    {SQL_API_SQLTABLES, "SQLTables"},
};

constexpr TypeCheck kTypes[] = {
    {SQL_CHAR, "SQL_CHAR"},
    {SQL_VARCHAR, "SQL_VARCHAR"},
    {SQL_LONGVARCHAR, "SQL_LONGVARCHAR"},
    {SQL_DECIMAL, "SQL_DECIMAL"},
    {SQL_NUMERIC, "SQL_NUMERIC"},
    {SQL_SMALLINT, "SQL_SMALLINT"},
    {SQL_INTEGER, "SQL_INTEGER"},
    {SQL_REAL, "SQL_REAL"},
    {SQL_FLOAT, "SQL_FLOAT"},
    {SQL_DOUBLE, "SQL_DOUBLE"},
    {SQL_BIT, "SQL_BIT"},
    {SQL_TINYINT, "SQL_TINYINT"},
    {SQL_BIGINT, "SQL_BIGINT"},
    {SQL_BINARY, "SQL_BINARY"},
    {SQL_VARBINARY, "SQL_VARBINARY"},
    {SQL_LONGVARBINARY, "SQL_LONGVARBINARY"},
    {SQL_DATE, "SQL_DATE"},
    {SQL_TIME, "SQL_TIME"},
    {SQL_TIMESTAMP, "SQL_TIMESTAMP"},
};

// name padded with blanks to width (never cut).
std::string Padded(const char* name, size_t width) {
  std::string out = name;
  if (out.size() < width) out.append(width - out.size(), ' ');
  return out;
}

}  // namespace

std::span<const InfoItem> InfoItems() {
  return kItems;
}
std::span<const FunctionCheck> FunctionChecks() {
  return kFunctions;
}
std::span<const TypeCheck> TypeChecks() {
  return kTypes;
}

std::string PrintText(const char* label, const InfoValue& value) {
  std::string out = std::string(label) + "\n";
  out.append(value.text.data(), value.text.size());
  return out + "\n";
}

std::string PrintNumber(const char* label, const InfoValue& value) {
  return std::string(label) + "\n" + std::to_string(value.number) + "\n";
}

std::string PrintConformance(const char* label, const InfoValue& value) {
  std::string out = std::string(label) + "\n";
  switch (value.number) {
    case SQL_OAC_NONE:
      return out + "No Level supported\n";
    case SQL_OAC_LEVEL1:
      return out + "Level 1\n";
    case SQL_OAC_LEVEL2:
      return out + "Level 2\n";
    default:
      return out + "Level " + std::to_string(value.number) + "\n";
  }
}

std::string PrintKeywords(const char* label, const InfoValue& value) {
  std::string out = label;
  if (value.driverLength >= kKeywordsSize) out += " (truncated)";
  out += "\n";
  if (value.text.empty()) return out + "<no keywords>\n";
  out.append(value.text.data(), value.text.size());
  return out + "\n";
}

std::string PrintPositioned(const char* label, const InfoValue& value) {
  std::string out = std::string(label) + "\n";
  if (value.mask & SQL_PS_POSITIONED_DELETE) out += "Supports positioned deletes\n";
  if (value.mask & SQL_PS_POSITIONED_UPDATE) out += "Supports positioned updates\n";
  if (value.mask & SQL_PS_SELECT_FOR_UPDATE) out += "Supports select for update\n";
  if ((value.mask &
       (SQL_PS_POSITIONED_DELETE | SQL_PS_POSITIONED_UPDATE | SQL_PS_SELECT_FOR_UPDATE)) == 0)
    out += "No positioned statement support\n";
  return out;
}

std::string PrintOrderBy(const char*, const InfoValue& value) {
  return !value.text.empty() && value.text[0] == 'Y' ? "ORDER BY must be part of selected fields\n"
                                                     : "Supports ORDER BY with any fields\n";
}

std::string PrintNonNullable(const char*, const InfoValue& value) {
  return value.number == SQL_NNC_NON_NULL ? "NOT NULL column constraint supported\n"
                                          : "All columns Must be nullable\n";
}

std::string PrintFunction(const char* name, bool supported) {
  return Padded(name, 19) + (supported ? " is supported\n"
                                       : " is NOT supported (This could mean the driver doesn't "
                                         "work)\n");
}

std::string PrintTypeMissing(const char* name) {
  return std::string(name) + "\n";
}

std::string PrintType(const char* name, std::string_view driverName, SQLINTEGER nullable) {
  std::string out = Padded(name, 17) + " '";
  out.append(driverName.data(), driverName.size());
  out += "'\t";
  return out + (nullable == SQL_NULLABLE ? "supports nulls\n" : "does NOT support nulls\n");
}

}  // namespace tw::sqlprobe
