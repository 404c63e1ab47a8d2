// Describing a statement's select list into engine fields, and the statements that open a
// result set from a text: own statements (TWXExecute) and catalogues (TWXCatalog).
#include <memory>
#include <string>

#include "connection.h"
#include "sql_text.h"

namespace oracle {

namespace {

// The longest value a define buffer holds; longer ones of long columns come in pieces.
constexpr uint32_t kLongElement = 0xFFFD;

// How values of a column described as an engine field of type travel.
Column ColumnOf(int16_t internal, uint32_t engineType, uint32_t streamSize) {
  Column c;
  c.internal = internal;
  switch (engineType) {
    case TWTYPE_INT:
      c.external = ORA_INTEGER;
      c.element = c.stride = 4;
      break;
    case TWTYPE_FLOAT:
      c.external = ORA_FLOAT;
      c.element = c.stride = 8;
      break;
    case TWTYPE_NUMERIC:
      c.external = ORA_VARNUM;
      c.element = c.stride = 22;
      break;
    case TWTYPE_DATETIME:
      c.external = ORA_DATE;
      c.element = 7;
      c.stride = 8;
      break;
    default: {
      const bool text = engineType == TWTYPE_TEXT;
      c.external = text ? ORA_STRING : ORA_RAW;
      c.size = streamSize;
      c.isLong = streamSize == 0 || streamSize > kLongElement;
      c.element = c.isLong ? kLongElement : streamSize;
      c.stride = text ? c.element + 2 : c.element;  // room for the terminator of a STRING
      break;
    }
  }
  return c;
}

}  // namespace

uint32_t Connection::AppendColumn(TWFIELDLIST list, const std::string& name, int16_t type,
                                  int32_t size, int16_t precision, int16_t scale, bool notNull,
                                  Column* column) {
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
  if (uint32_t st =
          TWStreamDataSet(&fieldName, text, name.data(), static_cast<uint32_t>(name.size())))
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
  if (column != nullptr) *column = ColumnOf(type, engineType, streamSize);
  return st;
}

uint32_t Connection::DescribeParsed(Slot& slot, uint32_t identity, TWFIELDLIST dest,
                                    uint32_t rowidPosition) {
  auto d = std::make_shared<Description>();
  d->identity = identity;
  {
    TWFIELDLIST list = TWNULLHANDLE;
    if (uint32_t st = TWFieldlistAlloc(&list, 1, 0)) return st;
    d->fields.reset(list);
  }
  for (uint32_t position = 1;; ++position) {
    int32_t size = 0, nameLength = 30;
    int16_t type = 0, precision = 0, scale = 0, nullable = 1;
    char name[31] = {};
    if (OraDescribe(&slot.cursor, static_cast<int>(position), &size, &type, name, &nameLength,
                    nullptr, &precision, &scale, &nullable) != 0) {
      if (slot.cursor.rc == ORA_RC_NO_COLUMN) break;
      return LogError(slot.cursor.rc);
    }
    if (position == rowidPosition && type == ORA_ROWID) continue;
    std::string column(name, static_cast<size_t>(nameLength));
    Column c;
    if (uint32_t st =
            AppendColumn(d->fields.get(), column, type, size, precision, scale, nullable == 0, &c))
      return st;
    if (dest != TWNULLHANDLE) {
      if (uint32_t st =
              AppendColumn(dest, column, type, size, precision, scale, nullable == 0, nullptr))
        return st;
    }
    d->hasLong = d->hasLong || c.isLong;
    d->columns.push_back(c);
  }
  slot.description = std::move(d);
  return TWSUCCESS;
}

uint32_t Connection::DescribeTable(Slot& slot, TWFIELDLIST dest, bool logMissing) {
  for (Slot* other : {&selection_, &insert_, &update_, &remove_}) {
    const auto& d = other->description;
    if (!d || d->identity != metadataGeneration || d->writeback) continue;
    slot.description = d;
    if (dest != TWNULLHANDLE) {
      const uint32_t n = TWFieldlistGetCount(d->fields.get());
      for (uint32_t i = 1; i <= n; ++i) {
        TWFIELD f = TWNULLHANDLE, copy = TWNULLHANDLE;
        flowcore::StreamData name;
        if (uint32_t st = TWFieldlistGetField(d->fields.get(), i, 0, &f, name.get())) return st;
        if (uint32_t st = TWFieldlistAppend(dest, name.get(), TWFieldGetType(f), &copy)) return st;
        uint32_t flags = 0, size = 0, precision = 0, format = 0;
        int32_t scale = 0;
        uint32_t st = TWSUCCESS;
        if (TWFieldGetType(f) == TWTYPE_TEXT || TWFieldGetType(f) == TWTYPE_BINARY) {
          (void)TWFieldGetFormatStream(f, &flags, &size, &format);
          st = TWFieldSetFormatStream(copy, flags, size, format);
        } else if (TWFieldGetType(f) != TWTYPE_DATETIME) {
          (void)TWFieldGetFormatNumber(f, &flags, &size, &precision, &scale);
          st = TWFieldSetFormatNumber(copy, flags, size, precision, scale);
        }
        if (st == TWSUCCESS) st = TWFieldSetFlags(copy, TWFieldGetFlags(f));
        if (st != TWSUCCESS) return st;
      }
    }
    return TWSUCCESS;
  }
  if (props.metadata.length == 0)
    return logMissing ? LogMissingMetadata() : TWFAIL_INVALID_METADATA;
  const std::string table = TextOf(props.metadata);
  if (OraParse(&slot.cursor, ("SELECT * FROM " + table + " WHERE 0 = 1").c_str(), -1, 0, 1) != 0) {
    if (slot.cursor.rc == ORA_RC_NO_TABLE)
      return logMissing ? LogMissingMetadata() : TWFAIL_INVALID_METADATA;
    return LogError(slot.cursor.rc);
  }
  if (uint32_t st = DescribeParsed(slot, metadataGeneration, dest, 0)) return st;
  slot.description->table = table;
  return TWSUCCESS;
}

void Connection::EndResultSet() {
  if (queryState_ != 0) {
    (void)OraEndQuery(&selection_.cursor);
    queryState_ = 0;
  }
  selection_.Unprepare();
  selection_.description.reset();
  mark_ = 0;
  rowsDefined_ = 0;
  rowsPerFetch_ = 0;
  defines_.clear();
  indicators_.clear();
  lengths_.clear();
  writebackReady_ = false;
  rowidPosition_ = 0;
  rowidLength_ = 0;
  // What waited for the writeback selection's end.
  if (commitHeld_) {
    commitHeld_ = false;
    if (OraCommit(&lda_) != 0) (void)LogError(lda_.rc);
  }
  if (autocommitHeld_) {
    autocommitHeld_ = false;
    if (OraCommit(&lda_) != 0 || OraAutocommitOn(&lda_) != 0) (void)LogError(lda_.rc);
  }
}

uint32_t Connection::OpenResult(const std::string& text, TWFIELDLIST dest, uint32_t* affected,
                                bool logMissing, bool own) {
  if (OraParse(&selection_.cursor, text.c_str(), -1, 0, 1) != 0) {
    if (selection_.cursor.rc == ORA_RC_NO_TABLE)
      return logMissing ? LogMissingMetadata() : TWFAIL_INVALID_METADATA;
    return LogError(selection_.cursor.rc);
  }
  queryState_ = 1;
  if (uint32_t st = DescribeParsed(selection_, nextGeneration++, dest, 0)) {
    EndResultSet();
    return st;
  }
  if (!selection_.description->columns.empty()) {
    if (own && props.writeBack != 0) {
      EndResultSet();
      return TWActivityLogEx(TWFAIL_PROPERTY_VALUE, TWTOKEN_WRITEBACK, 0, 0, nullptr, nullptr,
                             nullptr);
    }
    *affected = TWCOUNT_UNKNOWN;
    return TWSUCCESS;
  }
  uint32_t st = OraExecute(&selection_.cursor) != 0 ? LogError(selection_.cursor.rc) : TWSUCCESS;
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
