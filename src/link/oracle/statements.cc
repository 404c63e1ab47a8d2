// The Oracle connector's data definition and emptying: CREATE TABLE and INDEX, DROP and
// TRUNCATE, each run on a cursor of its own.
#include <cmath>
#include <string>
#include <vector>

#include "connection.h"
#include "sql_text.h"

namespace oracle {
namespace {

// Closes a cursor opened for one statement on every path.
struct OwnCursor {
  OraCursor cursor{};
  bool open = false;
  ~OwnCursor() {
    if (open) (void)OraClose(&cursor);
  }
};

bool IsBlob(uint32_t format) {
  return format == TWSTREAMFMT_BLOB;
}

}  // namespace

uint32_t Connection::LogMissingMetadata() {
  return TWActivityLogEx(TWFAIL_INVALID_METADATA, 0, 0, 0, &props.metadata, nullptr, nullptr);
}

uint32_t Connection::RunOnOwnCursor(const std::string& text, bool logMissing, bool nameError) {
  OwnCursor own;
  if (OraOpen(&own.cursor, &lda_, nullptr, -1, -1, nullptr, -1) != 0) return LogError(lda_.rc);
  own.open = true;
  if (OraParse(&own.cursor, text.c_str(), -1, 0, 1) != 0) {
    int rc = own.cursor.rc;
    if (rc == ORA_RC_NO_TABLE) return logMissing ? LogMissingMetadata() : TWFAIL_INVALID_METADATA;
    if (nameError && (rc == ORA_RC_INVALID_IDENTIFIER || rc == ORA_RC_INVALID_CHARACTER)) {
      size_t from = std::min<size_t>(own.cursor.peo, text.size());
      size_t to = text.find_first_of(" \t\r\n", from);
      std::string name = text.substr(from, to == std::string::npos ? std::string::npos : to - from);
      (void)TWStreamDataSet(&scratch_, static_cast<uint32_t>(props.textFormat), name.data(),
                            static_cast<uint32_t>(name.size()));
      return TWActivityLogEx(TWFAIL_INVALID_FIELDNAME, 0, 0, 0, &scratch_, nullptr, nullptr);
    }
    return LogError(rc);
  }
  if (OraExecute(&own.cursor) != 0) return LogError(own.cursor.rc);
  return TWSUCCESS;
}

uint32_t Connection::Truncate() {
  if (props.metadata.length == 0) return LogMissingMetadata();
  if (uint32_t st = RunOnOwnCursor(TruncateText(TextOf(props.metadata)), true, false)) return st;
  return CountWritten(1);
}

uint32_t Connection::Drop(uint32_t objectType) {
  if (objectType != TWOBJECT_METADATA && objectType != TWOBJECT_INDEX) return TWFAIL_UNAVAILABLE;
  bool table = objectType == TWOBJECT_METADATA;
  if (table && props.metadata.length == 0) return LogMissingMetadata();
  if (!table && props.index.length == 0)
    return TWActivityLogEx(TWFAIL_MISSING_PROPERTY, TWTOKEN_INDEX, 0, 0, nullptr, nullptr, nullptr);
  return RunOnOwnCursor(DropText(table, TextOf(table ? props.metadata : props.index)), false,
                        false);
}

uint32_t Connection::Create(uint32_t objectType, TWFIELDLIST src) {
  if (objectType != TWOBJECT_METADATA && objectType != TWOBJECT_INDEX) return TWFAIL_UNAVAILABLE;
  if (props.metadata.length == 0) return LogMissingMetadata();
  const uint32_t format = static_cast<uint32_t>(props.textFormat);
  const uint32_t count = TWFieldlistGetCount(src);
  if (objectType == TWOBJECT_INDEX) {
    if (props.index.length == 0)
      return TWActivityLogEx(TWFAIL_MISSING_PROPERTY, TWTOKEN_INDEX, 0, 0, nullptr, nullptr,
                             nullptr);
    std::vector<std::string> columns;
    for (uint32_t i = 1; i <= count; ++i) {
      TWFIELD f = TWNULLHANDLE;
      TWStream name{};
      uint32_t st = TWFieldlistGetField(src, i, format, &f, &name);
      std::string text = TextOf(name);
      TWStreamDataFree(&name);
      if (st != TWSUCCESS) return st;
      uint32_t flags = TWFieldGetFlags(f);
      if ((flags & TWFIELDF_KEY) && !(flags & TWFIELDF_NO_CREATE)) columns.push_back(text);
    }
    if (uint32_t st = RunOnOwnCursor(
            CreateIndexText(TextOf(props.index), TextOf(props.metadata), columns), false, false))
      return st;
    return CountWritten(1);
  }

  // The LONG column: none (2), the one named (1), or the first long text or binary (0).
  int64_t longIndex = -1;
  bool noneAllowed = props.createLongByUser == 2;
  if (props.createLongByUser == 1) {
    TWFIELD f = TWNULLHANDLE;
    uint32_t index = 0;
    if (TWFieldlistLookup(src, &props.createLongColumn, &f, &index) != TWSUCCESS ||
        (TWFieldGetFlags(f) & TWFIELDF_NO_CREATE))
      return TWActivityLogEx(TWFAIL_PROPERTY_VALUE, kCreateLongColumn, 0, 0, nullptr, nullptr,
                             nullptr);
    uint32_t type = TWFieldGetType(f);
    if (type != TWTYPE_TEXT && type != TWTYPE_BINARY)
      return TWActivityLogEx(TWFAIL_FIELD_TYPE, TWTYPE_TEXT, type, 0, &props.createLongColumn,
                             nullptr, nullptr);
    longIndex = index;
  } else if (!noneAllowed) {
    for (uint32_t i = 1; i <= count && longIndex < 0; ++i) {
      TWFIELD f = TWNULLHANDLE;
      if (TWFieldlistGetField(src, i, format, &f, nullptr) != TWSUCCESS) continue;
      uint32_t type = TWFieldGetType(f);
      if ((TWFieldGetFlags(f) & TWFIELDF_NO_CREATE) ||
          (type != TWTYPE_TEXT && type != TWTYPE_BINARY))
        continue;
      uint32_t sflags = 0, size = 0, sformat = 0;
      (void)TWFieldGetFormatStream(f, &sflags, &size, &sformat);
      if (size == 0 || size > 2000) longIndex = i;
    }
  }
  bool longChosen = longIndex >= 0;

  std::vector<CreateColumn> columns;
  for (uint32_t i = 1; i <= count; ++i) {
    TWFIELD f = TWNULLHANDLE;
    TWStream name{};
    uint32_t st = TWFieldlistGetField(src, i, format, &f, &name);
    CreateColumn col;
    col.name = TextOf(name);
    TWStreamDataFree(&name);
    if (st != TWSUCCESS) return st;
    uint32_t flags = TWFieldGetFlags(f);
    if (flags & TWFIELDF_NO_CREATE) continue;
    col.notNull = (flags & TWFIELDF_NO_NULL) != 0;
    uint32_t type = TWFieldGetType(f);
    uint32_t nflags = 0, nsize = 0, precision = 0, sflags = 0, size = 0, sformat = 0;
    int32_t scale = 0;
    (void)TWFieldGetFormatNumber(f, &nflags, &nsize, &precision, &scale);
    (void)TWFieldGetFormatStream(f, &sflags, &size, &sformat);
    bool numberList = type == TWTYPE_BINARY && sformat == TWSTREAMFMT_NUMBER_LIST;
    if (type == TWTYPE_BINARY && sformat == TWSTREAMFMT_DATETIME_LIST) type = TWTYPE_DATETIME;
    if (numberList) type = TWTYPE_FLOAT;
    const bool isLong = static_cast<int64_t>(i) == longIndex;
    const bool roomy = longChosen || noneAllowed;
    switch (type) {
      case TWTYPE_INT:
        if (precision != 0 || (nflags & 2)) {
          col.type = "NUMBER";
          if (precision != 0) col.suffix = SizeSuffix(precision);
        } else {
          col.type = "NUMBER (9,0)";
        }
        break;
      case TWTYPE_FLOAT:
        if (numberList) {
          col.type = "FLOAT";
          col.suffix = SizeSuffix(53);
        } else if (scale != 0 || (nflags & 2)) {
          col.type = "NUMBER";
          col.suffix = SizeSuffix(precision, true, static_cast<uint32_t>(scale));
        } else {
          col.type = "FLOAT";
          col.suffix =
              SizeSuffix(precision == 0 ? 53u : static_cast<uint32_t>(precision * 3.32193 + 0.5));
        }
        break;
      case TWTYPE_CURRENCY:
        col.type = "NUMBER (19,4)";
        break;
      case TWTYPE_NUMERIC:
        col.type = "NUMBER";
        col.suffix = SizeSuffix(precision, true, static_cast<uint32_t>(scale));
        break;
      case TWTYPE_DATETIME:
        col.type = "DATE";
        break;
      case TWTYPE_TEXT:
      case TWTYPE_BINARY:
        if (type == TWTYPE_BINARY && IsBlob(sformat)) {
          if (!isLong && (roomy || (size >= 1 && size <= 255))) {
            col.type = "RAW";
            col.suffix = SizeSuffix(size == 0 || size > 255 ? 255 : size);
          } else {
            col.type = "LONG RAW";
            longChosen = true;
          }
        } else if (!isLong && (roomy || (size >= 1 && size <= 2000))) {
          if ((sflags & TWSTREAMF_FIXED) && size >= 1 && size <= 254) {
            col.type = "CHAR";
            col.suffix = SizeSuffix(size);
          } else {
            col.type = "VARCHAR2";
            col.suffix = SizeSuffix(size == 0 || size > 2000 ? 2000 : size);
          }
        } else {
          col.type = "LONG";
          longChosen = true;
        }
        break;
      default: {
        TWStream n{};
        (void)TWStreamDataSet(&n, format, col.name.data(), static_cast<uint32_t>(col.name.size()));
        uint32_t status = TWActivityLogEx(TWFAIL_INVALID_TYPE, 0, 0, 0, &n, nullptr, nullptr);
        TWStreamDataFree(&n);
        return status;
      }
    }
    columns.push_back(std::move(col));
  }
  if (uint32_t st = RunOnOwnCursor(CreateTableText(TextOf(props.metadata), columns), false, true))
    return st;
  return CountWritten(1);
}

}  // namespace oracle
