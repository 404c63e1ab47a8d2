// Describing a statement's select list into engine fields, and the statements that open a
// result set from a text: own statements (TWXExecute) and catalogues (TWXCatalog).
#include <string>

#include "connection.h"
#include "sql_text.h"

namespace oracle {

uint32_t Connection::AppendColumn(TWFIELDLIST list, const std::string& name, int16_t type,
                                  int32_t size, int16_t precision, int16_t scale, bool notNull) {
  const uint32_t text = static_cast<uint32_t>(props.textFormat);
  uint32_t engineType = 0;
  uint32_t streamFlags = 0, streamSize = 0, streamFormat = 0;
  uint32_t numberFlags = 0, numberSize = static_cast<uint32_t>(size), digits = 0;
  int32_t numberScale = scale == 0 ? 0x7FFFFFFF : scale;
  switch (type) {
    case ORA_VARCHAR2:
      engineType = TWTYPE_TEXT;
      streamSize = size == 0 ? 2000 : static_cast<uint32_t>(size);
      streamFormat = text;
      break;
    case ORA_NUMBER:
      if (precision == 0) {
        engineType = TWTYPE_FLOAT;
        numberSize = 0;
        digits = 38;
        numberScale = 0;
      } else if (scale == -127) {
        engineType = TWTYPE_FLOAT;
        digits = static_cast<uint32_t>(precision * 0.30103 + 0.5);
        numberScale = 0;
      } else if (precision - scale <= 8 && scale <= 0) {
        engineType = TWTYPE_INT;
        numberFlags = TWNUMBERF_NUMERIC;
        digits = static_cast<uint32_t>(precision);
      } else if (precision <= 14) {
        engineType = TWTYPE_FLOAT;
        numberFlags = TWNUMBERF_NUMERIC;
        digits = static_cast<uint32_t>(precision);
      } else {
        engineType = TWTYPE_NUMERIC;
        digits = static_cast<uint32_t>(precision);
      }
      break;
    case ORA_LONG:
      engineType = TWTYPE_TEXT;
      streamFormat = text;
      break;
    case ORA_ROWID:
      engineType = TWTYPE_BINARY;
      streamFlags = TWSTREAMF_FIXED;
      streamSize = static_cast<uint32_t>(size);
      streamFormat = TWSTREAMFMT_BLOB;
      break;
    case ORA_DATE:
      engineType = TWTYPE_DATETIME;
      break;
    case ORA_RAW:
    case 106:  // MLSLABEL
      engineType = TWTYPE_BINARY;
      streamFlags = TWSTREAMF_FIXED;
      streamSize = size == 0 ? 255 : static_cast<uint32_t>(size);
      streamFormat = TWSTREAMFMT_BLOB;
      break;
    case ORA_LONGRAW:
      engineType = TWTYPE_BINARY;
      streamFormat = TWSTREAMFMT_BLOB;
      break;
    case ORA_CHAR:
      engineType = TWTYPE_TEXT;
      streamFlags = TWSTREAMF_FIXED;
      streamSize = size == 0 ? 255 : static_cast<uint32_t>(size);
      streamFormat = text;
      break;
    default: {
      (void)TWStreamDataSet(&scratch_, text, name.data(), static_cast<uint32_t>(name.size()));
      return TWActivityLogEx(TWFAIL_INVALID_TYPE, 0, 0, 0, &scratch_, nullptr, nullptr);
    }
  }
  TWStream fieldName{};
  if (uint32_t st = TWStreamDataSet(&fieldName, text, name.data(), static_cast<uint32_t>(name.size())))
    return st;
  TWFIELD f = TWNULLHANDLE;
  uint32_t st = TWFieldlistAppend(list, &fieldName, engineType, &f);
  TWStreamDataFree(&fieldName);
  if (st != TWSUCCESS) return st;
  if (engineType == TWTYPE_TEXT || engineType == TWTYPE_BINARY)
    st = TWFieldSetFormatStream(f, streamFlags, streamSize, streamFormat);
  else if (engineType != TWTYPE_DATETIME)
    st = TWFieldSetFormatNumber(f, numberFlags, numberSize, digits, numberScale);
  if (st == TWSUCCESS && notNull) st = TWFieldSetFlags(f, TWFieldGetFlags(f) | TWFIELDF_NO_NULL);
  return st;
}

uint32_t Connection::DescribeSelect(TWFIELDLIST dest, uint32_t* columns) {
  *columns = 0;
  flowcore::FieldlistPtr described;
  {
    TWFIELDLIST list = TWNULLHANDLE;
    if (uint32_t st = TWFieldlistAlloc(&list, 1, 0)) return st;
    described.reset(list);
  }
  for (int position = 1;; ++position) {
    int32_t size = 0, nameLength = 30;
    int16_t type = 0, precision = 0, scale = 0, nullable = 1;
    char name[31] = {};
    if (OraDescribe(&select_, position, &size, &type, name, &nameLength, nullptr, &precision,
                    &scale, &nullable) != 0) {
      if (select_.rc == ORA_RC_NO_COLUMN) break;
      return LogError(select_.rc);
    }
    std::string column(name, static_cast<size_t>(nameLength));
    for (TWFIELDLIST list : {described.get(), dest}) {
      if (list == TWNULLHANDLE) continue;
      if (uint32_t st = AppendColumn(list, column, type, size, precision, scale, nullable == 0))
        return st;
    }
    ++*columns;
  }
  described_ = std::move(described);
  return TWSUCCESS;
}

void Connection::EndResultSet() {
  if (queryState_ == 0) return;
  (void)OraEndQuery(&select_);
  described_.reset();
  queryState_ = 0;
}

uint32_t Connection::OpenResult(const std::string& text, TWFIELDLIST dest, uint32_t* affected,
                                bool logMissing, bool own) {
  if (OraParse(&select_, text.c_str(), -1, 0, 1) != 0) {
    if (select_.rc == ORA_RC_NO_TABLE)
      return logMissing ? LogMissingMetadata() : TWFAIL_INVALID_METADATA;
    return LogError(select_.rc);
  }
  queryState_ = 1;
  uint32_t columns = 0;
  if (uint32_t st = DescribeSelect(dest, &columns)) {
    EndResultSet();
    return st;
  }
  if (columns > 0) {
    if (own && props.writeBack != 0) {
      EndResultSet();
      return TWActivityLogEx(TWFAIL_PROPERTY_VALUE, TWTOKEN_WRITEBACK, 0, 0, nullptr, nullptr,
                             nullptr);
    }
    *affected = TWCOUNT_UNKNOWN;
    return TWSUCCESS;
  }
  uint32_t st = OraExecute(&select_) != 0 ? LogError(select_.rc) : TWSUCCESS;
  EndResultSet();
  return st;
}

uint32_t Connection::Execute(const TWStream* statement, TWFIELDLIST dest, uint32_t* affected) {
  if (!connected_) return TWFAIL_INVALID_CONNECT;
  EndResultSet();
  void* data = nullptr;
  uint32_t length = 0;
  if (uint32_t st = TWStreamDataConvert(&scratch_, statement, TWCONVERTF_PRESERVE,
                                        static_cast<uint32_t>(props.textFormat), &data, &length))
    return st;
  std::string text = OwnStatementText(
      std::string_view(static_cast<const char*>(data), data != nullptr ? length : 0));
  return OpenResult(text, dest, affected, false, true);
}

uint32_t Connection::Catalog(uint32_t objectType, TWFIELDLIST dest, uint32_t* affected) {
  if (objectType != TWOBJECT_METADATA && objectType != TWOBJECT_INDEX &&
      objectType != TWOBJECT_FIELD)
    return TWFAIL_UNAVAILABLE;
  if (!connected_) return TWFAIL_INVALID_CONNECT;
  EndResultSet();
  if (objectType != TWOBJECT_METADATA && props.metadata.length == 0) return LogMissingMetadata();
  return OpenResult(CatalogText(objectType, TextOf(props.metadata)), dest, affected, true, false);
}

}  // namespace oracle
