// Value transfer of the Corvex connector: descriptions of results and tables, the merge of
// the engine's field lists against them, fetching, and writes by prepared statement, literal
// statement, bulk copy or at the write-back cursor.
#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstring>

#include "connection.h"
#include "twx_chars.h"

namespace corvex {
namespace {

// Values of this size or more are read in pieces, never bound.
constexpr CS_INT kPiecewise = 65536;
constexpr CS_INT kPiece = 61440;
// The server's day 0, 1900-01-01, as a Julian day number.
constexpr int64_t kJulian1900 = 2415021;

enum class Family : uint8_t {
  kText,
  kInt,
  kSmallInt,
  kFloat,
  kReal,
  kDatetime,
  kSmallDatetime,
  kMoney,
  kSmallMoney,
  kNumeric,
  kOther
};
Family FamilyOf(CS_INT t) {
  switch (t) {
    case CS_CHAR_TYPE:
    case CS_VARCHAR_TYPE:
    case CS_BINARY_TYPE:
    case CS_VARBINARY_TYPE:
    case CS_TEXT_TYPE:
    case CS_IMAGE_TYPE:
    case CS_LONGCHAR_TYPE:
    case CS_LONGBINARY_TYPE:
    case CS_SENSITIVITY_TYPE:
    case CS_BOUNDARY_TYPE:
      return Family::kText;
    case CS_INT_TYPE:
      return Family::kInt;
    case CS_TINYINT_TYPE:
    case CS_SMALLINT_TYPE:
    case CS_BIT_TYPE:
      return Family::kSmallInt;
    case CS_FLOAT_TYPE:
      return Family::kFloat;
    case CS_REAL_TYPE:
      return Family::kReal;
    case CS_DATETIME_TYPE:
      return Family::kDatetime;
    case CS_DATETIME4_TYPE:
      return Family::kSmallDatetime;
    case CS_MONEY_TYPE:
      return Family::kMoney;
    case CS_MONEY4_TYPE:
      return Family::kSmallMoney;
    case CS_NUMERIC_TYPE:
    case CS_DECIMAL_TYPE:
      return Family::kNumeric;
    default:
      return Family::kOther;
  }
}

// 0, 12546 (type not accepted) or 12802 (needs TWFIELDF_TRUNC_PREC) for a field of type and
// stream format against a column, on a read or a write.
uint32_t CheckField(const Column& c, uint32_t type, uint32_t format, bool read) {
  const bool numberList = !read && type == TWTYPE_BINARY && format == TWSTREAMFMT_NUMBER_LIST;
  const bool datetimeList = !read && type == TWTYPE_BINARY && format == TWSTREAMFMT_DATETIME_LIST;
  const bool number = type == TWTYPE_INT || type == TWTYPE_FLOAT || type == TWTYPE_CURRENCY ||
                      type == TWTYPE_NUMERIC || numberList;
  auto permit = [](bool needed) { return needed ? TWFAIL_PRECISION_LOSS : TWSUCCESS; };
  switch (FamilyOf(c.serverType)) {
    case Family::kText:
      if (type == TWTYPE_TEXT) return TWSUCCESS;
      if (type == TWTYPE_BINARY && (!read || format == TWSTREAMFMT_BLOB)) return TWSUCCESS;
      return TWFAIL_TYPE_MISMATCH;
    case Family::kInt:
      if (!number) return TWFAIL_TYPE_MISMATCH;
      return permit(!read && type != TWTYPE_INT);
    case Family::kSmallInt:
      if (!number) return TWFAIL_TYPE_MISMATCH;
      return permit(!read);
    case Family::kFloat:
    case Family::kReal:
      if (!number) return TWFAIL_TYPE_MISMATCH;
      if (FamilyOf(c.serverType) == Family::kReal && !read) return TWFAIL_PRECISION_LOSS;
      return permit((type == TWTYPE_INT && read) || type == TWTYPE_NUMERIC ||
                    type == TWTYPE_CURRENCY);
    case Family::kDatetime:
    case Family::kSmallDatetime:
      if (type != TWTYPE_DATETIME && !datetimeList) return TWFAIL_TYPE_MISMATCH;
      return permit(!read && FamilyOf(c.serverType) == Family::kSmallDatetime);
    case Family::kMoney:
      if (!number) return TWFAIL_TYPE_MISMATCH;
      return permit(type != TWTYPE_CURRENCY);
    case Family::kSmallMoney:
      if (!number) return TWFAIL_TYPE_MISMATCH;
      return permit(!read || type != TWTYPE_CURRENCY);
    case Family::kNumeric: {
      if (!number) return TWFAIL_TYPE_MISMATCH;
      const int32_t p = c.precision, s = c.scale;
      switch (type) {
        case TWTYPE_INT:
          return permit(read ? (p > 9 || s != 0) : p < 9);
        case TWTYPE_FLOAT:
          return permit(read ? p > 15 : true);
        case TWTYPE_CURRENCY:
          return permit(read ? (p > 19 || s > 19 - p) : (p < 19 || s < 19 - p));
        case TWTYPE_NUMERIC:
          return TWSUCCESS;
        default:
          return permit(true);
      }
    }
    case Family::kOther:
      break;
  }
  return TWFAIL_INVALID_TYPE;
}

// Appends the engine field of a column to list.
uint32_t AppendField(TWFIELDLIST list, const Column& c, uint32_t textFormat) {
  flowcore::StreamData name;
  if (uint32_t st = name.Set(textFormat, c.name)) return st;
  uint32_t type = TWTYPE_INVALID;
  switch (c.fetchType) {
    case CS_CHAR_TYPE:
    case CS_TEXT_TYPE:
      type = TWTYPE_TEXT;
      break;
    case CS_BINARY_TYPE:
    case CS_IMAGE_TYPE:
      type = TWTYPE_BINARY;
      break;
    case CS_INT_TYPE:
      type = TWTYPE_INT;
      break;
    case CS_FLOAT_TYPE:
      type = TWTYPE_FLOAT;
      break;
    case CS_DATETIME_TYPE:
      type = TWTYPE_DATETIME;
      break;
    case CS_MONEY_TYPE:
      type = TWTYPE_CURRENCY;
      break;
    case CS_NUMERIC_TYPE:
      type = TWTYPE_NUMERIC;
      break;
    default:
      return TWFAIL_INVALID_TYPE;
  }
  TWFIELD field = TWNULLHANDLE;
  if (uint32_t st = TWFieldlistAppend(list, name.get(), type, &field)) return st;
  const bool numeric = c.serverType == CS_NUMERIC_TYPE || c.serverType == CS_DECIMAL_TYPE;
  const uint32_t numericFlag =
      c.serverType == CS_DECIMAL_TYPE ? TWNUMBERF_DECIMAL : TWNUMBERF_NUMERIC;
  const int32_t scale = c.scale == 0 ? TWSCALE_ZERO : c.scale;
  uint32_t st = TWSUCCESS;
  switch (type) {
    case TWTYPE_TEXT:
      st = TWFieldSetFormatStream(field, 0, c.isLong ? 0 : static_cast<uint32_t>(c.maxLength),
                                  textFormat);
      break;
    case TWTYPE_BINARY:
      st = TWFieldSetFormatStream(field, 0, c.isLong ? 0 : static_cast<uint32_t>(c.maxLength),
                                  TWSTREAMFMT_BLOB);
      break;
    case TWTYPE_DATETIME:
      if (c.serverType == CS_DATETIME4_TYPE) st = TWFieldSetFormatDatetime(field, 0, 4);
      break;
    case TWTYPE_NUMERIC:
      st = TWFieldSetFormatNumber(field, c.serverType == CS_DECIMAL_TYPE ? TWNUMBERF_DECIMAL : 0, 0,
                                  static_cast<uint32_t>(c.precision), scale);
      break;
    default:
      if (numeric)
        st = TWFieldSetFormatNumber(field, numericFlag, 0, static_cast<uint32_t>(c.precision),
                                    scale);
      else if (c.serverType == CS_BIT_TYPE)
        st = TWFieldSetFormatNumber(field, TWNUMBERF_BIT, 1, 0, 0);
      else if (c.serverType == CS_TINYINT_TYPE || c.serverType == CS_SMALLINT_TYPE ||
               c.serverType == CS_REAL_TYPE || c.serverType == CS_MONEY4_TYPE)
        st = TWFieldSetFormatNumber(field, 0,
                                    c.serverType == CS_TINYINT_TYPE    ? 1
                                    : c.serverType == CS_SMALLINT_TYPE ? 2
                                                                       : 4,
                                    0, 0);
      break;
  }
  if (st == TWSUCCESS && !c.nullable)
    st = TWFieldSetFlags(field, TWFieldGetFlags(field) | TWFIELDF_NO_NULL);
  return st;
}

// The fetch type and bind length of a described column; false for a type not served.
bool MapColumn(Column& c) {
  switch (c.serverType) {
    case CS_CHAR_TYPE:
    case CS_VARCHAR_TYPE:
    case CS_SENSITIVITY_TYPE:
    case CS_BOUNDARY_TYPE:
      c.fetchType = CS_CHAR_TYPE;
      c.bindLength = c.maxLength;
      return true;
    case CS_BINARY_TYPE:
    case CS_VARBINARY_TYPE:
      c.fetchType = CS_BINARY_TYPE;
      c.bindLength = c.maxLength;
      return true;
    case CS_LONGCHAR_TYPE:
    case CS_TEXT_TYPE:
      c.fetchType = CS_TEXT_TYPE;
      c.isLong = true;
      c.bindLength = c.maxLength;
      return true;
    case CS_LONGBINARY_TYPE:
    case CS_IMAGE_TYPE:
      c.fetchType = CS_IMAGE_TYPE;
      c.isLong = true;
      c.bindLength = c.maxLength;
      return true;
    case CS_TINYINT_TYPE:
    case CS_SMALLINT_TYPE:
    case CS_BIT_TYPE:
    case CS_INT_TYPE:
      c.fetchType = CS_INT_TYPE;
      c.bindLength = 4;
      return true;
    case CS_REAL_TYPE:
    case CS_FLOAT_TYPE:
      c.fetchType = CS_FLOAT_TYPE;
      c.bindLength = 8;
      return true;
    case CS_DATETIME4_TYPE:
    case CS_DATETIME_TYPE:
      c.fetchType = CS_DATETIME_TYPE;
      c.bindLength = 8;
      return true;
    case CS_MONEY4_TYPE:
    case CS_MONEY_TYPE:
      c.fetchType = CS_MONEY_TYPE;
      c.bindLength = 8;
      return true;
    case CS_NUMERIC_TYPE:
    case CS_DECIMAL_TYPE:
      if (c.precision < 10 && c.scale == 0) {
        c.fetchType = CS_INT_TYPE;
        c.bindLength = 4;
      } else if (c.precision < 16) {
        c.fetchType = CS_FLOAT_TYPE;
        c.bindLength = 8;
      } else {
        c.fetchType = CS_NUMERIC_TYPE;
        c.bindLength = sizeof(CS_NUMERIC);
      }
      return true;
    default:
      return false;
  }
}

bool IsBinaryColumn(CS_INT t) {
  return t == CS_BINARY_TYPE || t == CS_VARBINARY_TYPE || t == CS_IMAGE_TYPE ||
         t == CS_LONGBINARY_TYPE;
}
bool IsImageColumn(CS_INT t) {
  return t == CS_IMAGE_TYPE || t == CS_LONGBINARY_TYPE;
}
bool IsTextColumn(CS_INT t) {
  return t == CS_CHAR_TYPE || t == CS_VARCHAR_TYPE || t == CS_TEXT_TYPE || t == CS_LONGCHAR_TYPE;
}

CS_CONTEXT* ContextOf(CS_CONNECTION* con) {
  CS_CONTEXT* ctx = nullptr;
  if (con != nullptr) (void)ct_con_props(con, CS_GET, CS_PARENT_HANDLE, &ctx, sizeof ctx, nullptr);
  return ctx;
}

}  // namespace

// ---------------------------------------------------------------- describe ------------

uint32_t Connection::Describe(Statement& st, TWFIELDLIST dest, bool tableMode, bool computeMode) {
  CS_INT count = 0;
  if (ct_res_info(st.cmd, CS_NUMDATA, &count, CS_UNUSED, nullptr) != CS_SUCCEED) {
    if (!messaged()) firstMessage_ = 0;
    return Funnel();
  }
  auto desc = std::make_shared<Description>();
  TWFIELDLIST list = TWNULLHANDLE;
  if (uint32_t s = TWFieldlistAlloc(&list, 0, 0)) return s;
  desc->list.reset(list);
  long computed = 0;
  for (CS_INT i = 1; i <= count; ++i) {
    CS_DATAFMT fmt{};
    if (ct_describe(st.cmd, i, &fmt) != CS_SUCCEED) {
      if (!messaged()) firstMessage_ = 0;
      return Funnel();
    }
    Column c;
    c.name.assign(fmt.name, static_cast<size_t>(std::clamp<CS_INT>(fmt.namelen, 0, CS_MAX_NAME)));
    if (c.name.empty()) {
      CS_INT op = 0;
      if (computeMode &&
          ct_compute_info(st.cmd, CS_COMP_OP, i, &op, CS_UNUSED, nullptr) == CS_SUCCEED &&
          op >= CS_OP_SUM && op <= CS_OP_MAX) {
        static constexpr const char* kOps[] = {"sum", "avg", "count", "min", "max"};
        c.name = kOps[op - CS_OP_SUM];
      } else {
        c.name = "compute" + std::to_string(++computed);
      }
    }
    c.serverType = fmt.datatype;
    c.maxLength = fmt.maxlength;
    c.precision = fmt.precision;
    c.scale = fmt.scale;
    c.nullable = (fmt.status & CS_CANBENULL) != 0;
    // A fixed char column comes padded: its blanks are cut on reading.
    c.padded = fmt.datatype == CS_CHAR_TYPE && fmt.usertype == 1;
    if (!MapColumn(c)) {
      flowcore::StreamData name;
      (void)name.Set(textFormat(), c.name);
      return TWActivityLogEx(TWFAIL_INVALID_TYPE, 0, 0, 0, name.get(), nullptr, nullptr);
    }
    if (uint32_t s = AppendField(list, c, textFormat())) return s;
    if (dest != TWNULLHANDLE) {
      if (uint32_t s = AppendField(dest, c, textFormat())) return s;
    }
    desc->hasLong = desc->hasLong || c.isLong;
    desc->columns.push_back(std::move(c));
  }
  if (tableMode || props.writeBack != 0) desc->table = std::string(TextOf(props.metadata));
  if (tableMode) {
    desc->generation = metadataGeneration;
  } else {
    desc->generation = nextGeneration++;
  }
  st.desc = std::move(desc);
  return TWSUCCESS;
}

uint32_t Connection::DescribeTable(Statement& st) {
  for (Statement* other : {&insert_, &update_, &remove_, &read_}) {
    if (other != &st && other->desc != nullptr && other->desc->generation == metadataGeneration &&
        !other->desc->table.empty()) {
      st.desc = other->desc;
      return TWSUCCESS;
    }
  }
  if (props.metadata.length == 0) return MissingMetadata();
  const std::string text = "select * from " + std::string(TextOf(props.metadata)) + " where 0 = 1";
  uint32_t status = Run(st.cmd, text, false);
  if (status == TWSUCCESS && pendingType_ == 0) status = TWFAIL_INVALID_METADATA;
  if (status == TWSUCCESS) status = Describe(st, TWNULLHANDLE, true, false);
  Discard(st.cmd);
  if (status == TWFAIL_INVALID_METADATA) return MissingMetadata();
  return status;
}

uint32_t Connection::CurrentTable(Statement& st) {
  if (st.desc != nullptr && st.desc->generation != metadataGeneration &&
      st.desc->table == TextOf(props.metadata))
    st.desc->generation = metadataGeneration;
  if (st.desc != nullptr && st.desc->generation == metadataGeneration) return TWSUCCESS;
  if (st.desc != nullptr) {
    if (uint32_t s = Release(st, true)) return s;
  }
  return DescribeTable(st);
}

uint32_t Connection::Merge(Statement& st, TWFIELDLIST list) {
  if (list == TWNULLHANDLE) return TWFAIL_INVALID_FIELDLIST;
  if (TWFieldlistGetCount(list) == 0) return TWFAIL_EMPTY_FIELDLIST;
  if (TWFieldlistGetRecordCount(list) == 0) return TWFAIL_NAME_FIELDLIST;
  const uint32_t mode =
      props.mapName != 0 ? (TWMERGEF_MAP_NAME | TWMERGEF_NAME_LOSS) : TWMERGEF_NAME_LOSS;
  const uint32_t flags = st.flagBit | mode | (st.byKey ? TWMERGEF_KEY : 0u);
  TWFIELDLIST merged = TWNULLHANDLE;
  if (uint32_t s = TWFieldlistMerge(&merged, st.desc->list.get(), list, flags))
    return TWActivityLogEx(s, 0, 0, 0, nullptr, nullptr, nullptr);
  FieldlistPtr hold(merged);
  const uint32_t n = TWFieldlistGetCount(merged);
  const uint32_t columns = static_cast<uint32_t>(st.desc->columns.size());
  if (n > columns)
    return TWActivityLogEx(TWFAIL_FIELD_COUNT_MISMATCH, n, columns, 0, nullptr, nullptr, nullptr);
  std::vector<uint32_t> columnOf(n);
  for (uint32_t i = 1; i <= n; ++i) {
    uint32_t position = 0;
    if (uint32_t s = TWFieldlistGetPosition(merged, i, &position)) return s;
    if (position < 1 || position > columns)
      return TWActivityLogEx(TWFAIL_FIELD_COUNT_MISMATCH, n, columns, 0, nullptr, nullptr, nullptr);
    columnOf[i - 1] = position - 1;
    TWFIELD field = TWNULLHANDLE;
    if (uint32_t s = TWFieldlistGetField(merged, i, 0, &field, nullptr)) return s;
    const uint32_t type = TWFieldGetType(field);
    uint32_t format = 0;
    if (type == TWTYPE_BINARY) TWFieldGetFormatStream(field, nullptr, nullptr, &format);
    const Column& c = st.desc->columns[position - 1];
    uint32_t s = CheckField(c, type, format, st.kind == Kind::kRead);
    if (s == TWFAIL_PRECISION_LOSS && (TWFieldGetFlags(field) & TWFIELDF_TRUNC_PREC) != 0)
      s = TWSUCCESS;
    if (s == TWFAIL_TYPE_MISMATCH) {
      uint32_t expected = IsBinaryColumn(c.serverType) ? TWSTREAMFMT_BLOB : TWTYPE_TEXT;
      switch (c.fetchType) {
        case CS_INT_TYPE:
          expected = TWTYPE_INT;
          break;
        case CS_FLOAT_TYPE:
        case CS_NUMERIC_TYPE:
          expected = TWTYPE_FLOAT;
          break;
        case CS_DATETIME_TYPE:
          expected = TWTYPE_DATETIME;
          break;
        case CS_MONEY_TYPE:
          expected = TWTYPE_CURRENCY;
          break;
        default:
          break;
      }
      flowcore::StreamData name;
      (void)TWFieldlistGetName(merged, i, TWSTREAMFMT_NATIVE, name.get());
      return TWActivityLogEx(s, type == TWTYPE_BINARY ? format : type, expected, 0, name.get(),
                             nullptr, nullptr);
    }
    if (s != TWSUCCESS) return LogField(s, merged, i);
  }
  st.merged = std::move(hold);
  st.columnOf = std::move(columnOf);
  st.sequence = TWFieldlistGetSequence(list);
  return TWSUCCESS;
}

// ---------------------------------------------------------------- reading -------------

uint32_t Connection::ExecuteText(std::string_view text, bool writeback, TWFIELDLIST dest,
                                 uint32_t* affected) {
  (void)CloseCursor();
  firstMessage_ = 1;
  CS_RETCODE rc;
  if (writeback) {
    rc = ct_cursor(read_.cmd, CS_CURSOR_DECLARE, const_cast<char*>(kCursorName.data()),
                   static_cast<CS_INT>(kCursorName.size()), const_cast<char*>(text.data()),
                   static_cast<CS_INT>(text.size()), CS_FOR_UPDATE);
    if (rc == CS_SUCCEED)
      rc = ct_cursor(read_.cmd, CS_CURSOR_OPEN, nullptr, CS_UNUSED, nullptr, CS_UNUSED, CS_UNUSED);
    if (rc == CS_SUCCEED) cursorOpen_ = true;
  } else {
    rc = ct_command(read_.cmd, CS_LANG_CMD, const_cast<char*>(text.data()),
                    static_cast<CS_INT>(text.size()), CS_UNUSED);
  }
  if (rc == CS_SUCCEED) rc = ct_send(read_.cmd);
  if (rc != CS_SUCCEED || messaged()) {
    if (!messaged()) firstMessage_ = 0;
    uint32_t st = Funnel();
    (void)CloseCursor();
    return st;
  }
  CS_INT type = 0;
  uint32_t status = TWSUCCESS;
  bool rows = false;
  while ((rc = ct_results(read_.cmd, &type)) == CS_SUCCEED) {
    if (type == CS_CMD_FAIL) {
      if (!messaged()) firstMessage_ = 0;
      status = Funnel();
      break;
    }
    if (type == CS_ROW_RESULT || type == CS_CURSOR_RESULT || type == CS_PARAM_RESULT ||
        type == CS_STATUS_RESULT || type == CS_COMPUTE_RESULT) {
      rows = true;
      break;
    }
  }
  if (status == TWSUCCESS && messaged()) status = Funnel();
  if (status == TWSUCCESS && rc != CS_SUCCEED && rc != CS_END_RESULTS) {
    firstMessage_ = 0;
    status = Funnel();
  }
  if (status != TWSUCCESS || !rows) {
    (void)CloseCursor();
    return status;
  }
  read_.atCursor = writeback;
  status = Describe(read_, dest, false, type == CS_COMPUTE_RESULT);
  if (status == TWSUCCESS) status = BindResult();
  if (status != TWSUCCESS) {
    (void)CloseCursor();
    return status;
  }
  resultOpen_ = true;
  *affected = TWCOUNT_UNKNOWN;
  return TWSUCCESS;
}

uint32_t Connection::BindResult() {
  firstPiecewise_ = -1;
  auto& columns = read_.desc->columns;
  for (size_t j = 0; j < columns.size(); ++j) {
    Column& c = columns[j];
    if (c.bindLength >= kPiecewise || c.isLong) {
      if (firstPiecewise_ < 0) firstPiecewise_ = static_cast<int32_t>(j);
      continue;
    }
    c.buffer.assign(static_cast<size_t>(c.bindLength) + 1, 0);
    if (firstPiecewise_ >= 0) continue;
    CS_DATAFMT fmt{};
    fmt.datatype = c.fetchType;
    fmt.maxlength = c.bindLength;
    fmt.count = 1;
    fmt.format = CS_FMT_UNUSED;
    if (c.fetchType == CS_NUMERIC_TYPE) {
      fmt.precision = c.precision;
      fmt.scale = c.scale;
    }
    if (ct_bind(read_.cmd, static_cast<CS_INT>(j + 1), &fmt, c.buffer.data(), &c.copied,
                &c.indicator) != CS_SUCCEED) {
      if (!messaged()) firstMessage_ = 0;
      return Funnel();
    }
  }
  return TWSUCCESS;
}

uint32_t Connection::Execute(const TWStream* statement, TWFIELDLIST dest, uint32_t* affected) {
  if (!connected()) return TWFAIL_INVALID_CONNECT;
  if (statement == nullptr) return TWFAIL_NULL_BUFFER;
  std::string text;
  if (uint32_t st = InFormat(*statement, &text)) return st;
  return ExecuteText(text, props.writeBack != 0, dest, affected);
}

uint32_t Connection::Fetch(TWFIELDLIST dest, uint32_t recordIndex, uint32_t recordCount,
                           uint32_t* affected) {
  if (!resultOpen_ || read_.desc == nullptr) return TWFAIL_NO_RESULTSET;
  if (endOfResult_) return TWFAIL_END_OF_DATA;
  if (read_.merged == nullptr || read_.sequence != TWFieldlistGetSequence(dest)) {
    if (uint32_t st = Merge(read_, dest)) return st;
    fieldOf_.assign(read_.desc->columns.size(), -1);
    for (size_t i = 0; i < read_.columnOf.size(); ++i)
      fieldOf_[read_.columnOf[i]] = static_cast<int32_t>(i);
  }
  uint32_t fetched = 0;
  for (uint32_t r = 0; r < recordCount; ++r) {
    CS_INT rows = 0;
    firstMessage_ = 1;
    rowCurrent_ = false;
    const CS_RETCODE rc = ct_fetch(read_.cmd, CS_UNUSED, CS_UNUSED, CS_UNUSED, &rows);
    if (rc == CS_END_DATA) {
      endOfResult_ = true;
      return fetched == 0 ? TWFAIL_END_OF_DATA : TWSUCCESS;
    }
    if ((rc != CS_SUCCEED && rc != CS_ROW_FAIL) || (rc == CS_ROW_FAIL && !messaged())) {
      if (!messaged()) firstMessage_ = 0;
      return Funnel();
    }
    // Columns in their order, which the pieces read after a long column need.
    auto& columns = read_.desc->columns;
    for (size_t j = 0; j < columns.size(); ++j) {
      const int32_t field = fieldOf_[j];
      if (field < 0 && (firstPiecewise_ < 0 || static_cast<int32_t>(j) < firstPiecewise_)) continue;
      if (uint32_t st =
              FetchColumn(columns[j], static_cast<uint32_t>(j + 1), read_.merged.get(),
                          field < 0 ? 0 : static_cast<uint32_t>(field + 1), recordIndex + r))
        return st;
    }
    rowCurrent_ = true;
    ++fetched;
    ++*affected;
  }
  return TWSUCCESS;
}

uint32_t Connection::FetchColumn(Column& c, uint32_t number, TWFIELDLIST list, uint32_t index,
                                 uint32_t slot) {
  const bool piecewise =
      firstPiecewise_ >= 0 && static_cast<int32_t>(number - 1) >= firstPiecewise_;
  std::string longValue;
  const char* bytes = c.buffer.data();
  size_t length = 0;
  bool null = false;
  if (piecewise) {
    CS_RETCODE rc;
    if (!c.isLong && c.bindLength < kPiecewise) {
      CS_INT got = 0;
      size_t total = 0;
      do {
        got = 0;
        rc = ct_get_data(read_.cmd, static_cast<CS_INT>(number), c.buffer.data() + total,
                         static_cast<CS_INT>(c.buffer.size() - 1 - total), &got);
        total += static_cast<size_t>(std::max<CS_INT>(got, 0));
      } while (rc == CS_SUCCEED && total < c.buffer.size() - 1);
      if (rc != CS_SUCCEED && rc != CS_END_ITEM && rc != CS_END_DATA) {
        if (!messaged()) firstMessage_ = 0;
        return Funnel();
      }
      length = total;
      null = total == 0;
    } else {
      char piece[kPiece];
      do {
        CS_INT got = 0;
        rc = ct_get_data(read_.cmd, static_cast<CS_INT>(number), piece, kPiece, &got);
        if (got > 0) longValue.append(piece, static_cast<size_t>(got));
      } while (rc == CS_SUCCEED);
      if (rc != CS_END_ITEM && rc != CS_END_DATA) {
        if (!messaged()) firstMessage_ = 0;
        return Funnel();
      }
      bytes = longValue.data();
      length = longValue.size();
      null = length == 0;
    }
  } else {
    null = c.indicator == -1;
    length = static_cast<size_t>(std::max<CS_INT>(c.copied, 0));
  }
  if (index == 0) return TWSUCCESS;  // read only to reach the columns after it
  TWFIELD field = TWNULLHANDLE;
  if (uint32_t st = TWFieldlistGetField(list, index, 0, &field, nullptr)) return st;
  if (null) return TWFieldSetNull(field, slot, 1);
  if (!piecewise && c.indicator > 0 && (TWFieldGetFlags(field) & TWFIELDF_TRUNC_DATA) == 0)
    return LogField(TWFAIL_OVERFLOW, list, index);
  uint32_t st = TWSUCCESS;
  switch (c.fetchType) {
    case CS_INT_TYPE: {
      CS_INT v = 0;
      std::memcpy(&v, bytes, sizeof v);
      int32_t value = v;
      st = TWFieldSetInt(field, slot, &value);
      break;
    }
    case CS_FLOAT_TYPE: {
      double v = 0;
      std::memcpy(&v, bytes, sizeof v);
      st = TWFieldSetFloat(field, slot, &v);
      break;
    }
    case CS_MONEY_TYPE: {
      CS_MONEY m{};
      std::memcpy(&m, bytes, sizeof m);
      TWCurrency v{static_cast<int64_t>(
          (static_cast<uint64_t>(static_cast<uint32_t>(m.mnyhigh)) << 32) | m.mnylow)};
      st = TWFieldSetCurrency(field, slot, &v);
      break;
    }
    case CS_NUMERIC_TYPE: {
      CS_DATAFMT from{}, to{};
      from.datatype = CS_NUMERIC_TYPE;
      from.maxlength = sizeof(CS_NUMERIC);
      from.precision = c.precision;
      from.scale = c.scale;
      to.datatype = CS_CHAR_TYPE;
      to.maxlength = 189;
      to.format = CS_FMT_UNUSED;
      char text[190] = {};
      CS_INT out = 0;
      if (cs_convert(ContextOf(main_), &from, const_cast<char*>(bytes), &to, text, &out) !=
          CS_SUCCEED)
        return LogField(TWFAIL_INVALID_NUMERIC, list, index);
      flowcore::StreamData s;
      if ((st = s.Set(TWSTREAMFMT_NATIVE, std::string_view(text, static_cast<size_t>(out)))) ==
          TWSUCCESS)
        st = TWFieldSetStream(field, slot, s.get());
      break;
    }
    case CS_DATETIME_TYPE: {
      CS_DATETIME d{};
      std::memcpy(&d, bytes, sizeof d);
      CS_DATEREC r{};
      if (cs_dt_crack(ContextOf(main_), CS_DATETIME_TYPE, &d, &r) != CS_SUCCEED)
        return LogField(TWFAIL_INVALID_DATETIME, list, index);
      TWDatetimeParts p{};
      p.year = r.dateyear;
      p.month = r.datemonth + 1;
      p.day = r.datedmonth;
      p.hour = r.datehour;
      p.minute = r.dateminute;
      p.second = r.datesecond;
      p.hundredth = r.datemsecond / 10;
      TWDatetime v{};
      if ((st = TWDatetimeSetParts(&v, &p, TWPARTSF_LOCAL)) == TWSUCCESS)
        st = TWFieldSetDatetime(field, slot, &v);
      break;
    }
    default: {
      const bool text = c.fetchType == CS_CHAR_TYPE || c.fetchType == CS_TEXT_TYPE;
      if (text && c.padded)
        while (length > 0 && (bytes[length - 1] == ' ' || bytes[length - 1] == '\0')) --length;
      flowcore::StreamData s;
      if ((st = s.Set(text ? textFormat() : TWSTREAMFMT_BLOB, std::string_view(bytes, length))) ==
          TWSUCCESS)
        st = TWFieldSetStream(field, slot, s.get());
      break;
    }
  }
  if (st != TWSUCCESS) return LogField(st, list, index);
  return TWSUCCESS;
}

// ---------------------------------------------------------------- values out ----------

uint32_t Connection::ValueOf(TWFIELD field, uint32_t slot, const Column* column, OutValue& out) {
  out = OutValue{};
  if (TWFieldIsNull(field, slot)) {
    out.type = -1;
    return TWSUCCESS;
  }
  const uint32_t flags = TWFieldGetFlags(field);
  const bool truncate = (flags & TWFIELDF_TRUNC_DATA) != 0;
  const CS_INT serverType = column != nullptr ? column->serverType : -1;
  auto put = [&](CS_INT type, const void* data, size_t size) {
    out.type = type;
    out.bytes.assign(static_cast<const char*>(data), size);
    return TWSUCCESS;
  };
  auto datetime = [&](const TWDatetime& value) -> uint32_t {
    TWDatetimeParts p{};
    if (uint32_t st = TWDatetimeGetParts(&value, TWPARTSF_LOCAL | TWPARTSF_NULL_MIN, &p)) return st;
    // The day of the wall-clock date, whatever zone the value came in.
    TWDatetimeParts date{};
    date.year = p.year, date.month = p.month, date.day = p.day;
    TWDatetime day{};
    if (uint32_t st = TWDatetimeSetParts(&day, &date, 0)) return st;
    int64_t days = static_cast<int64_t>(TWDatetimeGetJulian(&day)) - kJulian1900;
    if (p.year < 1900) {
      if (!truncate) return TWFAIL_OVERFLOW;
      days = 0;
    }
    CS_DATETIME d{};
    d.dtdays = static_cast<CS_INT>(days);
    d.dttime = static_cast<CS_INT>(
        (static_cast<int64_t>(p.hour) * 360000 + p.minute * 6000 + p.second * 100 + p.hundredth) *
        3);
    return put(CS_DATETIME_TYPE, &d, sizeof d);
  };
  // The length rule of a bounded column.
  auto fit = [&](std::string& bytes, bool binary) -> uint32_t {
    if (column == nullptr || column->isLong || column->maxLength <= 0) return TWSUCCESS;
    const auto most = static_cast<size_t>(column->maxLength);
    if (bytes.size() <= most) return TWSUCCESS;
    if (!truncate) return TWFAIL_OVERFLOW;
    // The server's sizes count bytes; text is cut on a whole character.
    bytes.resize(binary ? most
                        : twx::PrefixOfBytes(textFormat(), bytes.data(), bytes.size(), most));
    return TWSUCCESS;
  };
  auto stream = [&](std::string bytes, bool binary) -> uint32_t {
    if (uint32_t st = fit(bytes, binary)) return st;
    out.bytes = std::move(bytes);
    // A char or binary value holds 255 bytes; longer ones go as long values.
    if (out.bytes.size() <= kShortLimit)
      out.type = binary ? CS_BINARY_TYPE : CS_CHAR_TYPE;
    else if (binary)
      out.type = IsTextColumn(serverType) ? CS_LONGCHAR_TYPE : CS_LONGBINARY_TYPE;
    else
      out.type = IsImageColumn(serverType) ? CS_LONGBINARY_TYPE : CS_LONGCHAR_TYPE;
    return TWSUCCESS;
  };
  switch (TWFieldGetType(field)) {
    case TWTYPE_INT: {
      int32_t v = 0;
      if (uint32_t st = TWFieldGetInt(field, slot, &v, nullptr)) return st;
      CS_INT i = v;
      return put(CS_INT_TYPE, &i, sizeof i);
    }
    case TWTYPE_FLOAT: {
      double v = 0;
      if (uint32_t st = TWFieldGetFloat(field, slot, &v, nullptr)) return st;
      return put(CS_FLOAT_TYPE, &v, sizeof v);
    }
    case TWTYPE_CURRENCY: {
      TWCurrency v{};
      if (uint32_t st = TWFieldGetCurrency(field, slot, &v, nullptr)) return st;
      CS_MONEY m{};
      m.mnyhigh = static_cast<CS_INT>(v.value >> 32);
      m.mnylow = static_cast<CS_UINT>(static_cast<uint64_t>(v.value) & 0xFFFFFFFFu);
      return put(CS_MONEY_TYPE, &m, sizeof m);
    }
    case TWTYPE_NUMERIC: {
      flowcore::StreamData text;
      if (uint32_t st = TWFieldGetStream(field, slot, TWSTREAMFMT_NATIVE, text.get(), nullptr))
        return st;
      std::string t(text.view());
      CS_DATAFMT from{}, to{};
      from.datatype = CS_CHAR_TYPE;
      from.maxlength = static_cast<CS_INT>(t.size());
      from.format = CS_FMT_UNUSED;
      to.datatype = CS_NUMERIC_TYPE;
      to.maxlength = sizeof(CS_NUMERIC);
      to.precision = column != nullptr && column->precision > 0 ? column->precision : 38;
      to.scale = column != nullptr ? column->scale : 10;
      CS_NUMERIC n{};
      CS_INT length = 0;
      if (cs_convert(ContextOf(main_), &from, t.data(), &to, &n, &length) != CS_SUCCEED)
        return TWFAIL_INVALID_NUMERIC;
      out.precision = to.precision;
      out.scale = to.scale;
      return put(CS_NUMERIC_TYPE, &n, sizeof n);
    }
    case TWTYPE_DATETIME: {
      TWDatetime v{};
      if (uint32_t st = TWFieldGetDatetime(field, slot, &v, nullptr)) return st;
      return datetime(v);
    }
    case TWTYPE_TEXT: {
      const bool binary = IsBinaryColumn(serverType);
      flowcore::StreamData text;
      if (uint32_t st = TWFieldGetStream(field, slot, binary ? TWSTREAMFMT_NATIVE : textFormat(),
                                         text.get(), nullptr))
        return st;
      return stream(std::string(text.view()), binary);
    }
    case TWTYPE_BINARY: {
      void* raw = nullptr;
      if (uint32_t st = TWFieldGetBuffer(field, slot, &raw, nullptr)) return st;
      const auto* s = static_cast<const TWStream*>(raw);
      const std::string_view view =
          s->data != nullptr ? std::string_view(static_cast<const char*>(s->data), s->length)
                             : std::string_view();
      const Family family = FamilyOf(serverType);
      if (s->format == TWSTREAMFMT_NUMBER_LIST &&
          (family == Family::kInt || family == Family::kSmallInt || family == Family::kFloat ||
           family == Family::kReal || family == Family::kMoney || family == Family::kSmallMoney)) {
        uint32_t count = 0;
        if (s->length > 0 && TWNumberListGetCount(s, &count, nullptr) != TWSUCCESS)
          return TWFAIL_INVALID_FLOAT;
        if (count == 0) {
          out.type = -1;
          return TWSUCCESS;
        }
        if (count > 1 && !truncate) return TWFAIL_OVERFLOW;
        double v = 0;
        if (uint32_t st = TWNumberListGetFirst(s, &v)) return st;
        return put(CS_FLOAT_TYPE, &v, sizeof v);
      }
      if (s->format == TWSTREAMFMT_DATETIME_LIST &&
          (family == Family::kDatetime || family == Family::kSmallDatetime)) {
        uint32_t count = 0;
        if (s->length > 0 && TWDatetimeListGetCount(s, &count, nullptr) != TWSUCCESS)
          return TWFAIL_INVALID_DATETIME;
        if (count == 0) {
          out.type = -1;
          return TWSUCCESS;
        }
        if (count > 1 && !truncate) return TWFAIL_OVERFLOW;
        TWDatetime v{};
        if (uint32_t st = TWDatetimeListGetFirst(s, &v)) return st;
        return datetime(v);
      }
      if (s->format == TWSTREAMFMT_BLOB || IsBinaryColumn(serverType))
        return stream(std::string(view), true);
      flowcore::StreamData text;
      if (uint32_t st = TWFieldGetStream(field, slot, textFormat(), text.get(), nullptr)) return st;
      return stream(std::string(text.view()), false);
    }
    default:
      return TWFAIL_INVALID_TYPE;
  }
}

// ---------------------------------------------------------------- prepared writes -----

uint32_t Connection::Prepare(Statement& st, const std::string& text) {
  firstMessage_ = 1;
  if (ct_dynamic(st.cmd, CS_PREPARE, const_cast<char*>(st.id.data()),
                 static_cast<CS_INT>(st.id.size()), const_cast<char*>(text.data()),
                 static_cast<CS_INT>(text.size())) != CS_SUCCEED) {
    if (!messaged()) firstMessage_ = 0;
    return Funnel();
  }
  if (uint32_t s = Drain(st.cmd, true)) return s;
  st.prepared = true;
  return TWSUCCESS;
}

uint32_t Connection::ExecuteRow(Statement& st, uint32_t slot, uint32_t* affected) {
  if (&st == &insert_ && props.bulk != 0) return SendBulkRow(slot);
  firstMessage_ = 1;
  if (ct_dynamic(st.cmd, CS_EXECUTE, const_cast<char*>(st.id.data()),
                 static_cast<CS_INT>(st.id.size()), nullptr, CS_UNUSED) != CS_SUCCEED) {
    if (!messaged()) firstMessage_ = 0;
    return Funnel();
  }
  TWFIELDLIST list = st.merged.get();
  const uint32_t n = TWFieldlistGetCount(list);
  std::vector<uint32_t> order;
  for (int pass = 0; pass < 2; ++pass) {
    for (uint32_t i = 1; i <= n; ++i) {
      TWFIELD field = TWNULLHANDLE;
      if (uint32_t s = TWFieldlistGetField(list, i, 0, &field, nullptr)) return s;
      const uint32_t flags = TWFieldGetFlags(field);
      const bool key = (flags & TWFIELDF_KEY) != 0;
      if (pass == 0 && (st.kind == Kind::kInsert ||
                        (st.kind == Kind::kUpdate && (flags & TWFIELDF_NO_UPDATE) == 0)))
        order.push_back(i);
      if (pass == 1 && st.kind != Kind::kInsert && !st.atCursor && key) order.push_back(i);
    }
  }
  st.holders.resize(order.size());
  uint32_t status = TWSUCCESS;
  for (size_t k = 0; k < order.size() && status == TWSUCCESS; ++k) {
    const uint32_t i = order[k];
    TWFIELD field = TWNULLHANDLE;
    (void)TWFieldlistGetField(list, i, 0, &field, nullptr);
    OutValue v;
    if ((status = ValueOf(field, slot, &st.desc->columns[st.columnOf[i - 1]], v))) {
      status = LogField(status, list, i);
      break;
    }
    CS_DATAFMT fmt{};
    fmt.status = CS_INPUTVALUE;
    fmt.count = 1;
    fmt.datatype = v.type < 0 ? CS_CHAR_TYPE : v.type;
    st.holders[k] = std::move(v.bytes);
    fmt.maxlength = static_cast<CS_INT>(st.holders[k].size());
    fmt.precision = v.precision;
    fmt.scale = v.scale;
    firstMessage_ = 1;
    if (ct_param(st.cmd, &fmt, v.type < 0 ? nullptr : st.holders[k].data(),
                 v.type < 0 ? 0 : static_cast<CS_INT>(st.holders[k].size()),
                 v.type < 0 ? CS_SMALLINT(-1) : CS_SMALLINT(0)) != CS_SUCCEED) {
      if (!messaged()) firstMessage_ = 0;
      status = Funnel();
    }
  }
  if (status != TWSUCCESS) {
    Discard(st.cmd);
    return status;
  }
  CS_INT rows = -1;
  if (uint32_t s = Drain(st.cmd, true, &rows)) return s;
  if (affected != nullptr) *affected += rows > 0 ? static_cast<uint32_t>(rows) : 0u;
  return TWSUCCESS;
}

uint32_t Connection::Insert(TWFIELDLIST src, uint32_t recordIndex, uint32_t recordCount,
                            uint32_t* affected) {
  if (!connected()) return TWFAIL_INVALID_CONNECT;
  if (insert_.cmd == nullptr) {
    if (uint32_t s = AllocCommand(work_, &insert_.cmd)) return s;
  }
  const bool bulk = props.bulk != 0;
  if (bulk && bulk_ == nullptr) {
    if (uint32_t s = OpenBulk()) return s;
  }
  const bool fresh = insert_.desc == nullptr || insert_.desc->generation != metadataGeneration;
  if (uint32_t s = CurrentTable(insert_)) return s;
  if (bulk && (fresh || !bulkStarted_)) {
    if (uint32_t s = StartBulk()) return s;
  }
  if (insert_.merged == nullptr || insert_.sequence != TWFieldlistGetSequence(src)) {
    if (uint32_t s = Release(insert_, false)) return s;
    if (uint32_t s = Merge(insert_, src)) return s;
    insert_.lengths.assign(insert_.desc->columns.size(), 0);
    insert_.indicators.assign(insert_.desc->columns.size(), -1);
    insert_.holders.assign(insert_.desc->columns.size(), {});
    if (!bulk && !insert_.desc->hasLong) {
      std::string text;
      if (uint32_t s = WriteTextOf(insert_, false, 0, &text)) return s;
      if (uint32_t s = Prepare(insert_, text)) return s;
    }
  }
  uint32_t status = TWSUCCESS;
  uint32_t written = 0;
  for (uint32_t r = 0; r < recordCount && status == TWSUCCESS; ++r) {
    const uint32_t slot = recordIndex + r;
    if (!bulk && insert_.desc->hasLong) {
      std::string text;
      if ((status = WriteTextOf(insert_, true, slot, &text))) break;
      if ((status = Run(insert_.cmd, text, true))) break;
    } else if ((status = ExecuteRow(insert_, slot, nullptr))) {
      break;
    }
    ++*affected;
    ++written;
  }
  // Rows counted are rows kept: the batch ends with the call, and its failure is the call's,
  // whose rows the server then did not keep.
  if (bulk) {
    const uint32_t ended = EndBatch();
    if (ended != TWSUCCESS) *affected -= written;
    if (status == TWSUCCESS) status = ended;
  }
  return status;
}

// ---------------------------------------------------------------- bulk copy -----------

uint32_t Connection::OpenBulk() {
  if (uint32_t s = OpenConnection(&bulk_, true)) return s;
  uint32_t status = TWSUCCESS;
  if (props.database.length > 0) {
    CS_COMMAND* cmd = nullptr;
    status = AllocCommand(bulk_, &cmd);
    if (status == TWSUCCESS) {
      status = UseDatabase(cmd, {});
      (void)ct_cmd_drop(cmd);
    }
  }
  if (status == TWSUCCESS && blk_alloc(bulk_, CS_VERSION_100, &blk_) != CS_SUCCEED) {
    blk_ = nullptr;
    if (!messaged()) firstMessage_ = 0;
    status = Funnel();
  }
  if (status != TWSUCCESS) CloseConnection(&bulk_);
  return status;
}

uint32_t Connection::StartBulk() {
  const std::string_view table = TextOf(props.metadata);
  firstMessage_ = 1;
  bulkStarted_ = false;
  bulkSent_ = false;
  batchRows = 0;
  if (blk_init(blk_, CS_BLK_IN, const_cast<char*>(table.data()),
               static_cast<CS_INT>(table.size())) != CS_SUCCEED ||
      messaged()) {
    if (!messaged()) firstMessage_ = 0;
    const uint32_t funnel = Funnel();
    (void)LogOwn(CORVEX_BULK_INIT, false);
    if (props.bulkEnable == 0) return funnel;
    if (uint32_t s = EnableBulk()) return s;
  }
  bulkStarted_ = true;
  return TWSUCCESS;
}

uint32_t Connection::EnableBulk() {
  mute_ = true;
  if (blk_ != nullptr) (void)blk_drop(blk_);
  blk_ = nullptr;
  mute_ = false;
  CloseConnection(&bulk_);
  firstMessage_ = 1;
  if (uint32_t s = OpenBulk()) return s;
  // The database to enable and to return to: DATABASE, else the one the login gave.
  std::string database(TextOf(props.database));
  // Without DATABASE every connection of the link is in the login's database.
  if (database.empty()) database = currentDatabase;
  if (database.empty()) return LogOwn(CORVEX_BULK_ENABLE_FAILED, false);
  uint32_t status = UseDatabase(insert_.cmd, "master");
  if (status == TWSUCCESS) status = Run(insert_.cmd, BulkOptionText(database), true);
  if (status != TWSUCCESS)
    status = LogOwn(CORVEX_BULK_ENABLE_FAILED, false);
  else
    (void)LogOwn(CORVEX_BULK_ENABLED, true);
  // Whatever happened, the work connection goes back: later writes must not land in master.
  const uint32_t back = UseDatabase(insert_.cmd, database);
  if (status == TWSUCCESS) status = back;
  if (status == TWSUCCESS) status = Run(insert_.cmd, "checkpoint", true);
  if (status == TWSUCCESS) {
    const std::string_view table = TextOf(props.metadata);
    firstMessage_ = 1;
    if (blk_init(blk_, CS_BLK_IN, const_cast<char*>(table.data()),
                 static_cast<CS_INT>(table.size())) != CS_SUCCEED ||
        messaged()) {
      if (!messaged()) firstMessage_ = 0;
      status = Funnel();
    }
  }
  return status;
}

uint32_t Connection::BindBulkRow(uint32_t slot) {
  Statement& st = insert_;
  const size_t columns = st.desc->columns.size();
  const uint32_t n = TWFieldlistGetCount(st.merged.get());
  std::vector<bool> given(columns, false);
  for (uint32_t i = 1; i <= n; ++i) given[st.columnOf[i - 1]] = true;
  for (size_t j = 0; j < columns; ++j) {
    const Column& c = st.desc->columns[j];
    CS_DATAFMT fmt{};
    fmt.count = 1;
    CS_VOID* data = nullptr;
    st.indicators[j] = -1;
    st.lengths[j] = 0;
    fmt.datatype = CS_CHAR_TYPE;
    fmt.maxlength = std::max<CS_INT>(c.bindLength, 1);
    if (given[j]) {
      uint32_t i = 0;
      for (uint32_t k = 1; k <= n; ++k)
        if (st.columnOf[k - 1] == j) i = k;
      TWFIELD field = TWNULLHANDLE;
      (void)TWFieldlistGetField(st.merged.get(), i, 0, &field, nullptr);
      OutValue v;
      if (uint32_t s = ValueOf(field, slot, &c, v)) return LogField(s, st.merged.get(), i);
      if (v.type >= 0) {
        // Long values travel as plain char or binary: the library converts to the column.
        if (v.type == CS_LONGCHAR_TYPE) v.type = CS_CHAR_TYPE;
        if (v.type == CS_LONGBINARY_TYPE) v.type = CS_BINARY_TYPE;
        st.holders[j] = std::move(v.bytes);
        fmt.datatype = v.type;
        fmt.maxlength = static_cast<CS_INT>(std::max<size_t>(st.holders[j].size(), 1));
        fmt.precision = v.precision;
        fmt.scale = v.scale;
        st.lengths[j] = static_cast<CS_INT>(st.holders[j].size());
        st.indicators[j] = 0;
        data = st.holders[j].data();
      }
    }
    static CS_INT nullData = 0;
    firstMessage_ = 1;
    if (blk_bind(blk_, static_cast<CS_INT>(j + 1), &fmt, data != nullptr ? data : &nullData,
                 &st.lengths[j], &st.indicators[j]) != CS_SUCCEED ||
        messaged()) {
      if (!messaged()) firstMessage_ = 0;
      return Funnel();
    }
  }
  return TWSUCCESS;
}

uint32_t Connection::SendBulkRow(uint32_t slot) {
  if (uint32_t s = BindBulkRow(slot)) return s;
  firstMessage_ = 1;
  if (blk_rowxfer(blk_) == CS_SUCCEED && !messaged()) {
    ++batchRows;
    bulkSent_ = true;
    return TWSUCCESS;
  }
  if (!messaged()) firstMessage_ = 0;
  const uint32_t funnel = Funnel();
  if (bulkSent_) return funnel;
  // The library starts the copy at the first row: a refusal there is a refused start.
  (void)LogOwn(CORVEX_BULK_INIT, false);
  if (props.bulkEnable == 0) return funnel;
  if (uint32_t s = EnableBulk()) return s;
  if (uint32_t s = BindBulkRow(slot)) return s;
  firstMessage_ = 1;
  if (blk_rowxfer(blk_) != CS_SUCCEED || messaged()) {
    if (!messaged()) firstMessage_ = 0;
    return Funnel();
  }
  ++batchRows;
  bulkSent_ = true;
  return TWSUCCESS;
}

uint32_t Connection::EndBatch(bool all) {
  if (blk_ == nullptr || !bulkStarted_ || !bulkSent_) return TWSUCCESS;
  if (!all && batchRows == 0) return TWSUCCESS;
  const bool held = batchRows != 0;
  batchRows = 0;
  if (all) bulkSent_ = false;
  CS_INT rows = 0;
  firstMessage_ = 1;
  if (blk_done(blk_, all ? CS_BLK_ALL : CS_BLK_BATCH, &rows) != CS_SUCCEED || messaged()) {
    if (!held) {
      firstMessage_ = 1;
      return TWSUCCESS;
    }
    if (!messaged()) firstMessage_ = 0;
    return Funnel();
  }
  return TWSUCCESS;
}

// ---------------------------------------------------------------- update, remove ------

uint32_t Connection::Update(TWFIELDLIST src, uint32_t recordIndex, uint32_t recordCount,
                            uint32_t* affected) {
  if (!connected()) return TWFAIL_INVALID_CONNECT;
  if (props.writeBack != 0) return WriteAtCursor(true, src, recordIndex, recordCount, affected);
  return WriteByKey(update_, src, recordIndex, recordCount, affected);
}

uint32_t Connection::Remove(TWFIELDLIST keys, uint32_t recordIndex, uint32_t recordCount,
                            uint32_t* affected) {
  if (!connected()) return TWFAIL_INVALID_CONNECT;
  if (props.writeBack != 0) return WriteAtCursor(false, keys, recordIndex, recordCount, affected);
  return WriteByKey(remove_, keys, recordIndex, recordCount, affected);
}

uint32_t Connection::WriteByKey(Statement& st, TWFIELDLIST list, uint32_t recordIndex,
                                uint32_t recordCount, uint32_t* affected) {
  if (st.cmd == nullptr) {
    if (uint32_t s = AllocCommand(work_, &st.cmd)) return s;
  }
  if (uint32_t s = CurrentTable(st)) return s;
  if (st.merged == nullptr || st.sequence != TWFieldlistGetSequence(list)) {
    if (uint32_t s = Release(st, false)) return s;
    st.byKey = true;
    if (uint32_t s = Merge(st, list)) return s;
  }
  // A long column the statement touches cannot be a parameter: literal texts then.
  bool literal = false;
  const uint32_t n = TWFieldlistGetCount(st.merged.get());
  for (uint32_t i = 1; i <= n && !st.prepared; ++i) {
    TWFIELD field = TWNULLHANDLE;
    (void)TWFieldlistGetField(st.merged.get(), i, 0, &field, nullptr);
    const uint32_t flags = TWFieldGetFlags(field);
    const bool touched = st.kind == Kind::kUpdate ? true : (flags & TWFIELDF_KEY) != 0;
    if (touched && st.desc->columns[st.columnOf[i - 1]].isLong) literal = true;
  }
  for (uint32_t r = 0; r < recordCount; ++r) {
    const uint32_t slot = recordIndex + r;
    if (literal) {
      std::string text;
      if (uint32_t s = WriteTextOf(st, true, slot, &text)) return s;
      CS_INT rows = -1;
      if (uint32_t s = Run(st.cmd, text, true, &rows)) return s;
      *affected += rows > 0 ? static_cast<uint32_t>(rows) : 0u;
      continue;
    }
    if (!st.prepared) {
      std::string text;
      if (uint32_t s = WriteTextOf(st, false, slot, &text)) return s;
      if (uint32_t s = Prepare(st, text)) return s;
    }
    if (uint32_t s = ExecuteRow(st, slot, affected)) return s;
  }
  return TWSUCCESS;
}

uint32_t Connection::WriteAtCursor(bool update, TWFIELDLIST list, uint32_t recordIndex,
                                   uint32_t recordCount, uint32_t* affected) {
  if (!cursorOpen_ || read_.desc == nullptr) return TWFAIL_NO_WRITEBACK;
  if (recordCount > 1) return TWFAIL_WRITEBACK_COUNT;
  // Before the first row, after the last and once the row is removed nothing is current:
  // the write would change no row while saying it did.
  if (!rowCurrent_) return TWFAIL_NO_WRITEBACK;
  if (positioned_ == nullptr) {
    if (uint32_t s = AllocCommand(main_, &positioned_)) return s;
  }
  // The library cannot send positioned writes through the cursor: they go as language
  // commands naming it, on a second command of the reading connection.
  if (!update) {
    CS_INT rows = -1;
    if (uint32_t s = Run(positioned_, CursorDeleteText(TextOf(props.metadata)), true, &rows))
      return s;
    rowCurrent_ = false;
    *affected += rows > 0 ? static_cast<uint32_t>(rows) : 0u;
    return TWSUCCESS;
  }
  Statement& st = update_;
  if (!st.atCursor || st.desc != read_.desc || st.sequence != TWFieldlistGetSequence(list)) {
    if (uint32_t s = Release(st, false)) return s;
    st.desc = read_.desc;
    st.atCursor = true;
    st.byKey = false;
    if (uint32_t s = Merge(st, list)) return s;
    st.atCursor = true;
  }
  for (uint32_t r = 0; r < recordCount; ++r) {
    std::string text;
    if (uint32_t s = WriteTextOf(st, true, recordIndex + r, &text)) return s;
    CS_INT rows = -1;
    if (uint32_t s = Run(positioned_, text, true, &rows)) return s;
    *affected += rows > 0 ? static_cast<uint32_t>(rows) : 0u;
  }
  return TWSUCCESS;
}

}  // namespace corvex
