// Statement texts from the link's properties and field lists: select with its time-stamp
// window and key terms, literal values, the write texts, create, drop and the catalogue.
#include <cinttypes>
#include <cmath>
#include <cstdio>

#include "connection.h"

namespace corvex {
namespace {

// Whether a server type is one of the integer, float or money families, which take a number
// list's first value.
bool IsIntegerColumn(CS_INT t) {
  return t == CS_INT_TYPE || t == CS_SMALLINT_TYPE || t == CS_TINYINT_TYPE || t == CS_BIT_TYPE;
}
bool IsNumberColumn(CS_INT t) {
  return IsIntegerColumn(t) || t == CS_FLOAT_TYPE || t == CS_REAL_TYPE || t == CS_MONEY_TYPE ||
         t == CS_MONEY4_TYPE;
}
bool IsBinaryColumn(CS_INT t) {
  return t == CS_BINARY_TYPE || t == CS_VARBINARY_TYPE || t == CS_IMAGE_TYPE ||
         t == CS_LONGBINARY_TYPE;
}
bool IsTextColumn(CS_INT t) {
  return t == CS_CHAR_TYPE || t == CS_VARCHAR_TYPE || t == CS_TEXT_TYPE || t == CS_LONGCHAR_TYPE;
}
bool IsDatetimeColumn(CS_INT t) {
  return t == CS_DATETIME_TYPE || t == CS_DATETIME4_TYPE;
}

std::string StreamText(const TWStream& s) {
  return s.data != nullptr ? std::string(static_cast<const char*>(s.data), s.length)
                           : std::string();
}

}  // namespace

// The names of a text list property in the link's format.
static std::vector<std::string> NamesOf(const TWStream& list, uint32_t format) {
  std::vector<std::string> names;
  if (list.data == nullptr || list.length == 0) return names;
  const uint32_t n = TWTextListGetCount(&list);
  for (uint32_t i = 1; i <= n; ++i) {
    flowcore::StreamData name;
    if (TWTextListFetch(&list, i, format, name.get(), nullptr, nullptr) == TWSUCCESS)
      names.emplace_back(name.view());
  }
  return names;
}

uint32_t Connection::LiteralOf(TWFIELDLIST list, uint32_t index, uint32_t slot,
                               const Column* column, std::string* out) {
  TWFIELD field = TWNULLHANDLE;
  if (uint32_t st = TWFieldlistGetField(list, index, 0, &field, nullptr)) return st;
  if (TWFieldIsNull(field, slot)) {
    *out = "null";
    return TWSUCCESS;
  }
  const uint32_t flags = TWFieldGetFlags(field);
  const bool truncate = (flags & TWFIELDF_TRUNC_DATA) != 0;
  const CS_INT serverType = column != nullptr ? column->serverType : -1;
  const bool integerColumn =
      column != nullptr && (IsIntegerColumn(serverType) || (column->fetchType == CS_INT_TYPE));
  // The length rule of text and binary values on a bounded column.
  auto fit = [&](std::string& bytes) -> uint32_t {
    if (column == nullptr || column->isLong || column->maxLength <= 0) return TWSUCCESS;
    if (bytes.size() <= static_cast<size_t>(column->maxLength)) return TWSUCCESS;
    if (!truncate) return LogField(TWFAIL_OVERFLOW, list, index);
    bytes.resize(static_cast<size_t>(column->maxLength));
    return TWSUCCESS;
  };
  auto datetimeText = [&](const TWDatetime& value) -> uint32_t {
    TWDatetimeParts p{};
    if (uint32_t st = TWDatetimeGetParts(&value, TWPARTSF_LOCAL | TWPARTSF_NULL_MIN, &p)) return st;
    if (p.year < 1900) {
      if (!truncate) return LogField(TWFAIL_OVERFLOW, list, index);
      p.year = 1900;
    }
    *out = DatetimeLiteral({p.year, p.month, p.day, p.hour, p.minute, p.second, p.hundredth});
    return TWSUCCESS;
  };
  switch (TWFieldGetType(field)) {
    case TWTYPE_INT: {
      int32_t v = 0;
      if (uint32_t st = TWFieldGetInt(field, slot, &v, nullptr)) return st;
      *out = std::to_string(v);
      return TWSUCCESS;
    }
    case TWTYPE_FLOAT: {
      double v = 0;
      if (uint32_t st = TWFieldGetFloat(field, slot, &v, nullptr)) return st;
      *out = FloatLiteral(v, integerColumn);
      return TWSUCCESS;
    }
    case TWTYPE_CURRENCY: {
      flowcore::StreamData text;
      if (uint32_t st = TWFieldGetStream(field, slot, TWSTREAMFMT_NATIVE, text.get(), nullptr))
        return st;
      *out = "$" + std::string(text.view());
      return TWSUCCESS;
    }
    case TWTYPE_NUMERIC: {
      if (integerColumn) {
        TWNumeric n{};
        double v = 0;
        if (uint32_t st = TWFieldGetNumeric(field, slot, &n, nullptr)) return st;
        if (uint32_t st = TWFloatFromNumeric(&v, &n)) return st;
        *out = FloatLiteral(v, true);
        return TWSUCCESS;
      }
      flowcore::StreamData text;
      if (uint32_t st = TWFieldGetStream(field, slot, TWSTREAMFMT_NATIVE, text.get(), nullptr))
        return st;
      *out = std::string(text.view());
      return TWSUCCESS;
    }
    case TWTYPE_DATETIME: {
      TWDatetime v{};
      if (uint32_t st = TWFieldGetDatetime(field, slot, &v, nullptr)) return st;
      return datetimeText(v);
    }
    case TWTYPE_TEXT:
    case TWTYPE_BINARY: {
      void* raw = nullptr;
      if (uint32_t st = TWFieldGetBuffer(field, slot, &raw, nullptr)) return st;
      const auto* stream = static_cast<const TWStream*>(raw);
      const uint32_t format = stream->format;
      const bool blob = TWFieldGetType(field) == TWTYPE_BINARY && format == TWSTREAMFMT_BLOB;
      if (TWFieldGetType(field) == TWTYPE_BINARY && format == TWSTREAMFMT_NUMBER_LIST &&
          column != nullptr && IsNumberColumn(serverType)) {
        uint32_t count = 0;
        if (stream->length > 0 && TWNumberListGetCount(stream, &count, nullptr) != TWSUCCESS)
          return LogField(TWFAIL_INVALID_TYPE, list, index);
        if (count == 0) {
          *out = "null";
          return TWSUCCESS;
        }
        if (count > 1 && !truncate) return LogField(TWFAIL_OVERFLOW, list, index);
        double v = 0;
        if (uint32_t st = TWNumberListGetFirst(stream, &v)) return st;
        *out = FloatLiteral(v, integerColumn);
        return TWSUCCESS;
      }
      if (TWFieldGetType(field) == TWTYPE_BINARY && format == TWSTREAMFMT_DATETIME_LIST &&
          column != nullptr && IsDatetimeColumn(serverType)) {
        uint32_t count = 0;
        if (stream->length > 0 && TWDatetimeListGetCount(stream, &count, nullptr) != TWSUCCESS)
          return LogField(TWFAIL_INVALID_TYPE, list, index);
        if (count == 0) {
          *out = "null";
          return TWSUCCESS;
        }
        if (count > 1 && !truncate) return LogField(TWFAIL_OVERFLOW, list, index);
        TWDatetime v{};
        if (uint32_t st = TWDatetimeListGetFirst(stream, &v)) return st;
        return datetimeText(v);
      }
      const bool asHex = column == nullptr
                             ? TWFieldGetType(field) == TWTYPE_BINARY && blob
                             : IsBinaryColumn(serverType) || (blob && !IsTextColumn(serverType));
      std::string bytes;
      if (asHex && (blob || TWFieldGetType(field) == TWTYPE_TEXT)) {
        bytes = StreamText(*stream);
      } else {
        flowcore::StreamData text;
        if (uint32_t st = TWFieldGetStream(field, slot, textFormat(), text.get(), nullptr))
          return LogField(st, list, index);
        bytes = std::string(text.view());
      }
      if (uint32_t st = fit(bytes)) return st;
      *out = asHex ? HexLiteral(bytes) : QuotedLiteral(bytes);
      return TWSUCCESS;
    }
    default:
      return LogField(TWFAIL_INVALID_TYPE, list, index);
  }
}

uint32_t Connection::WriteTextOf(Statement& st, bool literal, uint32_t slot, std::string* text) {
  TWFIELDLIST list = st.merged.get();
  const uint32_t n = TWFieldlistGetCount(list);
  const std::string_view table = TextOf(props.metadata);
  auto nameOf = [&](uint32_t i, std::string* name) {
    flowcore::StreamData s;
    uint32_t status = TWFieldlistGetName(list, i, textFormat(), s.get());
    *name = std::string(s.view());
    return status;
  };
  auto valueOf = [&](uint32_t i, std::string* v) -> uint32_t {
    if (!literal) {
      *v = "?";
      return TWSUCCESS;
    }
    const Column* column = st.desc != nullptr && i - 1 < st.columnOf.size()
                               ? &st.desc->columns[st.columnOf[i - 1]]
                               : nullptr;
    return LiteralOf(list, i, slot, column, v);
  };
  if (st.kind == Kind::kInsert) {
    std::vector<std::string> names(n), values(n);
    for (uint32_t i = 1; i <= n; ++i) {
      if (uint32_t s = nameOf(i, &names[i - 1])) return s;
      if (uint32_t s = valueOf(i, &values[i - 1])) return s;
    }
    *text = InsertText(table, names, values);
    return TWSUCCESS;
  }
  std::vector<SetTerm> sets;
  std::vector<KeyTerm> keys;
  for (uint32_t i = 1; i <= n; ++i) {
    TWFIELD field = TWNULLHANDLE;
    if (uint32_t s = TWFieldlistGetField(list, i, 0, &field, nullptr)) return s;
    const uint32_t flags = TWFieldGetFlags(field);
    if (st.kind == Kind::kUpdate && (flags & TWFIELDF_NO_UPDATE) == 0) {
      SetTerm term;
      if (uint32_t s = nameOf(i, &term.name)) return s;
      if (uint32_t s = valueOf(i, &term.value)) return s;
      sets.push_back(std::move(term));
    }
  }
  if (!st.atCursor) {
    for (uint32_t i = 1; i <= n; ++i) {
      TWFIELD field = TWNULLHANDLE;
      if (uint32_t s = TWFieldlistGetField(list, i, 0, &field, nullptr)) return s;
      const std::string_view op = tw::twx::KeyOperator(TWFieldGetFlags(field));
      if (op.empty()) continue;
      KeyTerm term;
      term.op = op;
      if (uint32_t s = nameOf(i, &term.name)) return s;
      if (uint32_t s = valueOf(i, &term.value)) return s;
      keys.push_back(std::move(term));
    }
  }
  if (st.atCursor) {
    *text = st.kind == Kind::kUpdate ? CursorUpdateText(table, sets) : CursorDeleteText(table);
    return TWSUCCESS;
  }
  const std::string_view condition = TextOf(props.condition);
  // Without a key or a condition the write would reach every row of the table.
  if (keys.empty() && condition.empty())
    return TWActivityLogEx(TWFAIL_KEY_COUNT_MISMATCH, 0, 1, 0, nullptr, nullptr, nullptr);
  *text = WriteText(st.kind == Kind::kUpdate, literal, table, sets, keys, condition);
  return TWSUCCESS;
}

uint32_t Connection::Select(TWFIELDLIST keyList, uint32_t recordIndex, TWFIELDLIST dest,
                            uint32_t* affected) {
  if (!connected()) return TWFAIL_INVALID_CONNECT;
  (void)CloseCursor();
  if (props.metadata.length == 0) return MissingMetadata();
  SelectParts parts;
  parts.table = TextOf(props.metadata);
  if (keyList != TWNULLHANDLE) {
    uint32_t st = tw::twx::ForEachKeyTerm(
        keyList, textFormat(),
        [&](TWFIELD, uint32_t index, const TWStream& name, std::string_view op) -> uint32_t {
          KeyTerm term{StreamText(name), op, {}};
          if (uint32_t s = LiteralOf(keyList, index, recordIndex, nullptr, &term.value)) return s;
          parts.keys.push_back(std::move(term));
          return TWSUCCESS;
        });
    if (st != TWSUCCESS) return st;
  }
  parts.fieldList = NamesOf(props.fieldList, textFormat());
  parts.orderList = NamesOf(props.orderList, textFormat());
  parts.condition = TextOf(props.condition);
  parts.stampField = TextOf(props.stampField);
  if (!parts.stampField.empty()) {
    // The window ends a second before the server's time, so that a row stamped in this
    // second is read by the next selection, not lost between two.
    uint32_t st = Run(read_.cmd, "select getdate ()", false);
    if (st != TWSUCCESS) return st;
    CS_DATETIME now{};
    CS_DATAFMT fmt{};
    fmt.datatype = CS_DATETIME_TYPE;
    fmt.maxlength = sizeof now;
    fmt.count = 1;
    CS_INT rows = 0;
    if (ct_bind(read_.cmd, 1, &fmt, &now, nullptr, nullptr) != CS_SUCCEED ||
        ct_fetch(read_.cmd, CS_UNUSED, CS_UNUSED, CS_UNUSED, &rows) != CS_SUCCEED) {
      st = Funnel();
    }
    Discard(read_.cmd);
    if (st != TWSUCCESS) return st;
    CS_DATEREC rec{};
    CS_CONTEXT* ctx = nullptr;
    (void)ct_con_props(main_, CS_GET, CS_PARENT_HANDLE, &ctx, sizeof ctx, nullptr);
    if (cs_dt_crack(ctx, CS_DATETIME_TYPE, &now, &rec) != CS_SUCCEED) return TWFAIL_EXTERNAL;
    TWDatetimeParts p{};
    p.year = rec.dateyear;
    p.month = rec.datemonth + 1;
    p.day = rec.datedmonth;
    p.hour = rec.datehour;
    p.minute = rec.dateminute;
    p.second = rec.datesecond;
    p.hundredth = rec.datemsecond / 10;
    if (uint32_t s = TWDatetimeSetParts(&props.maxStamp, &p, TWPARTSF_LOCAL)) return s;
    TWDatetimeParts back{};
    back.second = -1;
    if (uint32_t s = TWDatetimeAdjust(&props.maxStamp, &back)) return s;
    flowcore::StreamData text;
    if (uint32_t s = TWStreamFromDatetime(text.get(), &props.maxStamp, textFormat())) return s;
    parts.maxStamp = std::string(text.view());
    TWDatetimeParts base{};
    if (TWDatetimeGetParts(&props.baseStamp, 0, &base) == TWSUCCESS && base.year > 1) {
      if (uint32_t s = TWStreamFromDatetime(text.get(), &props.baseStamp, textFormat())) return s;
      parts.hasBaseStamp = true;
      parts.baseStamp = std::string(text.view());
    }
  }
  (void)CloseCursor();
  return ExecuteText(SelectText(parts), props.writeBack != 0, dest, affected);
}

uint32_t Connection::Catalog(uint32_t objectType, TWFIELDLIST dest, uint32_t* affected) {
  if (!connected()) return TWFAIL_INVALID_CONNECT;
  if (objectType < TWOBJECT_DATABASE || objectType > TWOBJECT_FIELD) return TWFAIL_UNAVAILABLE;
  if (objectType >= TWOBJECT_INDEX && props.metadata.length == 0) return MissingMetadata();
  (void)CloseCursor();
  return ExecuteText(CatalogText(objectType, TextOf(props.metadata)), false, dest, affected);
}

uint32_t Connection::Create(uint32_t objectType, TWFIELDLIST src) {
  if (!connected()) return TWFAIL_INVALID_CONNECT;
  if (objectType != TWOBJECT_METADATA && objectType != TWOBJECT_INDEX) return TWFAIL_UNAVAILABLE;
  if (props.metadata.length == 0) return MissingMetadata();
  if (src == TWNULLHANDLE) return TWFAIL_INVALID_FIELDLIST;
  const uint32_t n = TWFieldlistGetCount(src);
  auto nameOf = [&](uint32_t i, std::string* name) {
    flowcore::StreamData s;
    uint32_t status = TWFieldlistGetName(src, i, textFormat(), s.get());
    *name = std::string(s.view());
    return status;
  };
  const std::string_view table = TextOf(props.metadata);
  if (objectType == TWOBJECT_INDEX) {
    if (props.index.length == 0)
      return TWActivityLogEx(TWFAIL_MISSING_PROPERTY, TWTOKEN_INDEX, 0, 0, nullptr, nullptr,
                             nullptr);
    std::vector<std::string> columns;
    for (uint32_t i = 1; i <= n; ++i) {
      TWFIELD field = TWNULLHANDLE;
      if (uint32_t s = TWFieldlistGetField(src, i, 0, &field, nullptr)) return s;
      const uint32_t flags = TWFieldGetFlags(field);
      if ((flags & TWFIELDF_KEY) == 0 || (flags & TWFIELDF_NO_CREATE) != 0) continue;
      columns.emplace_back();
      if (uint32_t s = nameOf(i, &columns.back())) return s;
    }
    return RunOnWork(CreateIndexText(TextOf(props.index), table, columns));
  }
  std::vector<CreateColumn> columns;
  CS_COMMAND* cmd = nullptr;
  if (uint32_t s = AllocCommand(work_, &cmd)) return s;
  uint32_t status = TWSUCCESS;
  for (uint32_t i = 1; i <= n && status == TWSUCCESS; ++i) {
    TWFIELD field = TWNULLHANDLE;
    if ((status = TWFieldlistGetField(src, i, 0, &field, nullptr))) break;
    const uint32_t flags = TWFieldGetFlags(field);
    if (flags & TWFIELDF_NO_CREATE) continue;
    CreateColumn column;
    if ((status = nameOf(i, &column.name))) break;
    // The server says whether it takes the name: as a label, which runs nothing.
    std::string label = column.name.substr(0, kNameLimit) + ":";
    label.push_back('\0');
    mute_ = true;
    const uint32_t refused = Run(cmd, label, true);
    mute_ = false;
    if (refused != TWSUCCESS) {
      status = LogField(TWFAIL_INVALID_FIELDNAME, src, i);
      break;
    }
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
        TWFieldGetFormatDatetime(field, &shape.formatFlags, &shape.byteSize);
        break;
      case TWTYPE_TEXT:
      case TWTYPE_BINARY:
        TWFieldGetFormatStream(field, &shape.formatFlags, &shape.length, &shape.streamFormat);
        break;
      default:
        break;
    }
    column.type = CreateType(shape, props.createShortBound != 0, props.createShortUnbound != 0);
    if (column.type.empty()) {
      status = LogField(TWFAIL_INVALID_TYPE, src, i);
      break;
    }
    column.notNull = (flags & TWFIELDF_NO_NULL) != 0 || column.type == "bit";
    columns.push_back(std::move(column));
  }
  if (status == TWSUCCESS) status = Run(cmd, CreateTableText(table, columns), true);
  (void)ct_cmd_drop(cmd);
  return status;
}

uint32_t Connection::Drop(uint32_t objectType) {
  if (!connected()) return TWFAIL_INVALID_CONNECT;
  if (objectType != TWOBJECT_METADATA && objectType != TWOBJECT_INDEX) return TWFAIL_UNAVAILABLE;
  if (props.metadata.length == 0) return MissingMetadata();
  const std::string_view table = TextOf(props.metadata);
  if (objectType == TWOBJECT_METADATA) return RunOnWork(DropTableText(table));
  if (props.index.length == 0)
    return TWActivityLogEx(TWFAIL_MISSING_PROPERTY, TWTOKEN_INDEX, 0, 0, nullptr, nullptr, nullptr);
  return RunOnWork(DropIndexText(table, TextOf(props.index)));
}

}  // namespace corvex
