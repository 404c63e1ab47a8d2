// Value transfer of the Oracle connector: merging a caller's field list with a description,
// fetching rows through define buffers (arrays of up to 32767 rows, long values in pieces),
// and binding records to the placeholders of INSERT, UPDATE and DELETE, one by one or as
// arrays.
//
// Every bound value is copied into buffers of this unit's own before the statement runs, and
// every placeholder is bound anew for each execution: the binds in force are always those of
// the record or array being written.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "connection.h"
#include "sql_text.h"
#include "twx_chars.h"
#include "twx_props.h"

namespace oracle {
namespace {

// The most rows one call to the server fetches.
constexpr uint32_t kMaxRows = 0x7FFF;
// The piece size of long values, and the bytes of a long value its define buffer holds.
constexpr uint32_t kPiece = 0xFFFD;
// Datetimes on the server carry no zone: they are the machine's wall clock.
constexpr uint32_t kLocal = TWPARTSF_LOCAL;

// The decimal text of a VARNUM: "-", digit pairs, "." where the exponent reaches below the
// units, leading and trailing zero pairs as the exponent asks; "0" for zero.
std::string VarnumText(const unsigned char* v) {
  const unsigned length = v[0];
  if (length < 2 && (length == 0 || v[1] == 0x80)) return "0";
  const bool negative = v[1] < 128;
  int exponent = negative ? 62 - v[1] : v[1] - 193;  // power of 100 of the first pair
  std::vector<int> pairs;
  for (unsigned i = 2; i <= length && i < 22; ++i) {
    if (negative && v[i] == 102) break;
    int d = negative ? 101 - v[i] : v[i] - 1;
    pairs.push_back(d < 0 || d > 99 ? 0 : d);
  }
  if (pairs.empty()) return "0";
  std::string out = negative ? "-" : "";
  auto pair = [&](int d, bool first) {
    if (!(first && d < 10)) out += static_cast<char>('0' + d / 10);
    out += static_cast<char>('0' + d % 10);
  };
  if (exponent < 0) {
    out += "0.";
    for (int z = exponent + 1; z < 0; ++z) out += "00";
    for (int d : pairs) pair(d, false);
  } else {
    for (size_t i = 0; i < pairs.size() || static_cast<int>(i) <= exponent; ++i) {
      if (static_cast<int>(i) == exponent + 1) out += ".";
      pair(i < pairs.size() ? pairs[i] : 0, i == 0);
    }
  }
  if (out.find('.') != std::string::npos) {
    while (out.back() == '0') out.pop_back();
    if (out.back() == '.') out.pop_back();
  }
  return out;
}

// A stream record showing bytes owned elsewhere (never freed).
TWStream Showing(const void* bytes, size_t length, uint32_t format) {
  TWStream s{};
  s.format = format;
  s.data = const_cast<void*>(bytes);
  s.length = static_cast<uint32_t>(length);
  return s;
}

uint32_t StreamFormatOf(TWFIELD f) {
  uint32_t format = 0;
  (void)TWFieldGetFormatStream(f, nullptr, nullptr, &format);
  return format;
}

// The check of a merged field against its column: 0, 12802 (precision loss, unless the field
// allows it), 12546 (mismatch) or 12810 (a column no field can take).
uint32_t CheckType(TWFIELD f, const Column& c, bool fetching, bool selection, uint32_t* shown) {
  const uint32_t type = TWFieldGetType(f);
  uint32_t format = type == TWTYPE_TEXT || type == TWTYPE_BINARY ? StreamFormatOf(f) : 0;
  if (selection && format != TWSTREAMFMT_BLOB) format = 0;
  *shown = type == TWTYPE_BINARY ? format : type;
  const bool numberList = type == TWTYPE_BINARY && format == TWSTREAMFMT_NUMBER_LIST;
  const bool datetimeList = type == TWTYPE_BINARY && format == TWSTREAMFMT_DATETIME_LIST;
  const uint32_t loss = (TWFieldGetFlags(f) & TWFIELDF_TRUNC_PREC) ? 0u : TWFAIL_PRECISION_LOSS;
  const bool textLike = type == TWTYPE_TEXT || (type == TWTYPE_BINARY && format != 0);
  switch (c.external) {
    case ORA_INTEGER:
      if (type == TWTYPE_INT) return 0;
      if (type == TWTYPE_FLOAT || type == TWTYPE_CURRENCY || type == TWTYPE_NUMERIC || numberList)
        return fetching ? 0 : loss;
      return TWFAIL_TYPE_MISMATCH;
    case ORA_FLOAT:
      if (type == TWTYPE_FLOAT || numberList) return 0;
      if (type == TWTYPE_INT) return fetching ? loss : 0;
      if (type == TWTYPE_CURRENCY || type == TWTYPE_NUMERIC) return loss;
      return TWFAIL_TYPE_MISMATCH;
    case ORA_VARNUM:
      if (type == TWTYPE_NUMERIC) return 0;
      if (type == TWTYPE_INT) return fetching ? loss : 0;
      if (type == TWTYPE_FLOAT || type == TWTYPE_CURRENCY || numberList) return loss;
      return TWFAIL_TYPE_MISMATCH;
    case ORA_DATE:
      if (type == TWTYPE_DATETIME || datetimeList) return fetching ? 0 : loss;
      return TWFAIL_TYPE_MISMATCH;
    case ORA_STRING:
    case ORA_RAW:
      return textLike ? 0 : TWFAIL_TYPE_MISMATCH;
    default:
      return TWFAIL_INVALID_TYPE;
  }
}

// The kind a column shows in a mismatch entry.
uint32_t KindOf(const Column& c) {
  switch (c.external) {
    case ORA_INTEGER:
    case ORA_FLOAT:
    case ORA_VARNUM:
      return TWTYPE_FLOAT;
    case ORA_DATE:
      return TWTYPE_DATETIME;
    case ORA_RAW:
      return TWSTREAMFMT_BLOB;
    default:
      return TWTYPE_TEXT;
  }
}

// The 7-byte DATE of a datetime (a null time is midnight).
uint32_t DateBytes(const TWDatetime& value, unsigned char out[7]) {
  TWDatetimeParts p{};
  if (uint32_t st = TWDatetimeGetParts(&value, kLocal | TWPARTSF_NULL_MIN, &p)) return st;
  if (p.year < 1 || p.year > 9999) return TWFAIL_OVERFLOW;
  out[0] = static_cast<unsigned char>(p.year / 100 + 100);
  out[1] = static_cast<unsigned char>(p.year % 100 + 100);
  out[2] = static_cast<unsigned char>(p.month);
  out[3] = static_cast<unsigned char>(p.day);
  out[4] = static_cast<unsigned char>(p.hour + 1);
  out[5] = static_cast<unsigned char>(p.minute + 1);
  out[6] = static_cast<unsigned char>(p.second + 1);
  return TWSUCCESS;
}

}  // namespace

uint32_t DatetimeOfDate(const unsigned char date[7], TWDatetime* out) {
  TWDatetimeParts p{};
  p.year = date[0] * 100 + date[1] - 10100;
  p.month = date[2];
  p.day = date[3];
  p.hour = date[4] - 1;
  p.minute = date[5] - 1;
  p.second = date[6] - 1;
  return TWDatetimeSetParts(out, &p, kLocal);
}

namespace {

// One placeholder of a write: the merged entry it takes its value from and how it travels.
struct Param {
  std::string name;    // ":00001", ":ROW_ID"
  uint32_t entry = 0;  // merged entry (from 1); 0 for the ROWID
  TWFIELD field = TWNULLHANDLE;
  Column column;
  int external = 0;
  uint32_t element = 0;  // bytes of one value in an array
  std::vector<unsigned char> buffer;
  std::vector<int16_t> indicators;
};

// How a field's values travel to column c: the external type, and the element an array
// needs. array: every text and raw value carries a 2-byte length.
void ChooseExternal(Param& p, bool array) {
  const uint32_t type = TWFieldGetType(p.field);
  uint32_t declared = 0, format = 0;
  if (type == TWTYPE_TEXT || type == TWTYPE_BINARY)
    (void)TWFieldGetFormatStream(p.field, nullptr, &declared, &format);
  const int col = p.column.external;
  const bool numberColumn = col == ORA_INTEGER || col == ORA_FLOAT;
  switch (type) {
    case TWTYPE_INT:
      p.external = ORA_INTEGER;
      p.element = 4;
      return;
    case TWTYPE_FLOAT:
      p.external = ORA_FLOAT;
      p.element = 8;
      return;
    case TWTYPE_CURRENCY:
    case TWTYPE_NUMERIC:
      p.external = array ? ORA_VARCHAR : ORA_CHAR;
      p.element = 2 + TWMAXLEN_NUMERIC_TEXT;
      return;
    case TWTYPE_DATETIME:
      p.external = ORA_DATE;
      p.element = 7;
      return;
    default:
      break;
  }
  if (format == TWSTREAMFMT_NUMBER_LIST && numberColumn) {
    p.external = ORA_FLOAT;
    p.element = 8;
    return;
  }
  if (format == TWSTREAMFMT_DATETIME_LIST && col == ORA_DATE) {
    p.external = ORA_DATE;
    p.element = 7;
    return;
  }
  const bool raw = col == ORA_RAW;
  p.element = 2 + (p.column.isLong || p.column.size == 0 ? kPiece : p.column.size);
  if (array || (declared > 255 && declared <= kPiece))
    p.external = raw ? ORA_VARRAW : ORA_VARCHAR;
  else if (declared >= 1 && declared <= 255)
    p.external = raw ? ORA_RAW : ORA_CHAR;
  else
    p.external = raw ? ORA_LONGVARRAW : ORA_LONGVARCHAR;
}

}  // namespace

uint32_t Connection::LogField(uint32_t status, TWFIELDLIST list, uint32_t index) {
  flowcore::StreamData name;
  if (TWFieldlistGetName(list, index, static_cast<uint32_t>(props.textFormat), name.get()) !=
      TWSUCCESS)
    name.Free();
  return TWActivityLogEx(status, 0, 0, 0, name.get(), nullptr, nullptr);
}

uint32_t Connection::OpenSlot(Slot& slot) {
  if (slot.open) return TWSUCCESS;
  if (OraOpen(&slot.cursor, &lda_, nullptr, -1, -1, nullptr, -1) != 0) return LogError(lda_.rc);
  slot.open = true;
  return TWSUCCESS;
}

uint32_t Connection::MergeInto(Slot& slot, TWFIELDLIST list, bool fetching) {
  slot.Unprepare();
  if (list == TWNULLHANDLE) return TWFAIL_INVALID_FIELDLIST;
  if (TWFieldlistGetCount(list) == 0) return TWFAIL_EMPTY_FIELDLIST;
  if (TWFieldlistGetRecordCount(list) == 0) return TWFAIL_NAME_FIELDLIST;
  const Description& d = *slot.description;
  uint32_t flags = slot.mergeFlag | TWMERGEF_NAME_LOSS | (props.mapName ? TWMERGEF_MAP_NAME : 0u);
  if ((&slot == &update_ || &slot == &remove_) && !props.writeBack) flags |= TWMERGEF_KEY;
  flowcore::FieldlistPtr merged;
  if (uint32_t st = TWFieldlistMerge(flowcore::Out(merged), d.fields.get(), list, flags)) return st;
  const uint32_t count = TWFieldlistGetCount(merged.get());
  const uint32_t columns = static_cast<uint32_t>(d.columns.size());
  if (count > columns)
    return TWActivityLogEx(TWFAIL_FIELD_COUNT_MISMATCH, count, columns, 0, nullptr, nullptr,
                           nullptr);
  std::vector<uint32_t> columnOf;
  for (uint32_t i = 1; i <= count; ++i) {
    TWFIELD f = TWNULLHANDLE;
    uint32_t position = 0;
    if (uint32_t st = TWFieldlistGetField(merged.get(), i, 0, &f, nullptr)) return st;
    if (uint32_t st = TWFieldlistGetPosition(merged.get(), i, &position)) return st;
    // The column is the one the merge paired the field with, not its place in the view.
    if (position == 0 || position > columns)
      return TWActivityLogEx(TWFAIL_FIELD_COUNT_MISMATCH, count, columns, 0, nullptr, nullptr,
                             nullptr);
    const Column& c = d.columns[position - 1];
    uint32_t shown = 0;
    uint32_t st = CheckType(f, c, fetching, &slot == &selection_, &shown);
    if (st == TWFAIL_TYPE_MISMATCH) {
      flowcore::StreamData name;
      (void)TWFieldlistGetName(merged.get(), i, static_cast<uint32_t>(props.textFormat),
                               name.get());
      return TWActivityLogEx(st, shown, KindOf(c), 0, name.get(), nullptr, nullptr);
    }
    if (st != TWSUCCESS) return LogField(st, merged.get(), i);
    columnOf.push_back(position - 1);
  }
  slot.merged = std::move(merged);
  slot.columnOf = std::move(columnOf);
  slot.sequence = TWFieldlistGetSequence(list);
  return TWSUCCESS;
}

// ---------------------------------------------------------------- fetch ---------------

uint32_t Connection::DefineRows(uint32_t rows) {
  const Description& d = *selection_.description;
  const size_t columns = d.columns.size();
  defines_.assign(columns, {});
  indicators_.assign(columns * rows, 0);
  lengths_.assign(columns * rows, 0);
  rowsDefined_ = 0;
  for (size_t i = 0; i < columns; ++i) {
    const Column& c = d.columns[i];
    defines_[i].assign(static_cast<size_t>(c.stride) * rows, 0);
    const bool lengths = c.external == ORA_STRING || c.external == ORA_RAW;
    if (OraDefine(&selection_.cursor, static_cast<int>(i + 1), defines_[i].data(),
                  static_cast<int32_t>(c.stride), c.external, -1, &indicators_[i * rows], nullptr,
                  -1, -1, lengths ? &lengths_[i * rows] : nullptr, nullptr) != 0)
      return LogError(selection_.cursor.rc);
  }
  if (rowidPosition_ != 0 &&
      OraDefine(&selection_.cursor, static_cast<int>(rowidPosition_), rowid_, sizeof rowid_,
                ORA_VARCHAR2, -1, nullptr, nullptr, -1, -1, &rowidLength_, nullptr) != 0)
    return LogError(selection_.cursor.rc);
  rowsDefined_ = rows;
  return TWSUCCESS;
}

uint32_t Connection::ReadLong(uint32_t position, bool raw, std::string& value) {
  std::vector<unsigned char> piece(kPiece);
  for (uint32_t offset = kPiece;; offset += kPiece) {
    uint32_t got = 0;
    if (OraLongPiece(&selection_.cursor, static_cast<int>(position), piece.data(),
                     static_cast<int32_t>(kPiece), raw ? ORA_LONGRAW : ORA_LONG, &got, offset) != 0)
      return LogError(selection_.cursor.rc);
    value.append(reinterpret_cast<const char*>(piece.data()), got);
    if (got < kPiece) return TWSUCCESS;
  }
}

uint32_t Connection::MoveRow(uint32_t row, uint32_t record) {
  const Description& d = *selection_.description;
  TWFIELDLIST list = selection_.merged.get();
  const uint32_t count = TWFieldlistGetCount(list);
  const uint32_t textFormat = static_cast<uint32_t>(props.textFormat);
  for (uint32_t i = 1; i <= count; ++i) {
    TWFIELD f = TWNULLHANDLE;
    if (uint32_t st = TWFieldlistGetField(list, i, 0, &f, nullptr)) return st;
    const uint32_t col = selection_.columnOf[i - 1];
    const Column& c = d.columns[col];
    const size_t at = static_cast<size_t>(col) * rowsDefined_ + row;
    const int16_t indicator = indicators_[at];
    const unsigned char* element = defines_[col].data() + static_cast<size_t>(row) * c.stride;
    const uint32_t flags = TWFieldGetFlags(f);
    if (indicator == -1) {
      if (uint32_t st = TWFieldSetNull(f, record, 1)) return LogField(st, list, i);
      continue;
    }
    const bool truncated = indicator == -2 || indicator > 0;
    if (truncated && !c.isLong && !(flags & TWFIELDF_TRUNC_DATA))
      return LogField(TWFAIL_OVERFLOW, list, i);
    uint32_t st = TWSUCCESS;
    const uint32_t type = TWFieldGetType(f);
    double number = 0;
    std::string decimal;
    switch (c.external) {
      case ORA_INTEGER: {
        int32_t v;
        std::memcpy(&v, element, 4);
        number = v;
        break;
      }
      case ORA_FLOAT:
        std::memcpy(&number, element, 8);
        break;
      case ORA_VARNUM:
        decimal = VarnumText(element);
        number = std::strtod(decimal.c_str(), nullptr);
        break;
      default:
        break;
    }
    switch (type) {
      case TWTYPE_INT: {
        if (c.external == ORA_INTEGER) {
          int32_t v = static_cast<int32_t>(number);
          st = TWFieldSetInt(f, record, &v);
          break;
        }
        if (c.external != ORA_FLOAT && c.external != ORA_VARNUM) {
          st = TWFAIL_INVALID_TYPE;
          break;
        }
        const double limit = std::numeric_limits<int32_t>::max();
        if (std::fabs(number) > limit && !(flags & TWFIELDF_TRUNC_DATA)) {
          int32_t clamped = number < 0 ? -std::numeric_limits<int32_t>::max()
                                       : std::numeric_limits<int32_t>::max();
          (void)TWFieldSetInt(f, record, &clamped);
          st = TWFAIL_OVERFLOW;
          break;
        }
        int32_t v = static_cast<int32_t>(std::clamp(std::trunc(number), -limit, limit));
        st = TWFieldSetInt(f, record, &v);
        break;
      }
      case TWTYPE_FLOAT:
        st = c.external == ORA_INTEGER || c.external == ORA_FLOAT || c.external == ORA_VARNUM
                 ? TWFieldSetFloat(f, record, &number)
                 : TWFAIL_INVALID_TYPE;
        break;
      case TWTYPE_CURRENCY:
      case TWTYPE_NUMERIC: {
        if (c.external != ORA_INTEGER && c.external != ORA_FLOAT && c.external != ORA_VARNUM) {
          st = TWFAIL_INVALID_TYPE;
          break;
        }
        if (c.external != ORA_VARNUM) {
          if (type == TWTYPE_CURRENCY) {
            TWCurrency v{};
            st = TWCurrencyFromFloat(&v, &number);
            if (st == TWSUCCESS) st = TWFieldSetCurrency(f, record, &v);
          } else {
            TWNumeric v{};
            st = TWNumericFromFloat(&v, &number);
            if (st == TWSUCCESS) st = TWFieldSetNumeric(f, record, &v);
          }
          break;
        }
        TWStream text = Showing(decimal.data(), decimal.size(), TWSTREAMFMT_NATIVE);
        if (type == TWTYPE_CURRENCY) {
          TWCurrency v{};
          st = TWCurrencyFromStream(&v, &text);
          if (st == TWSUCCESS) st = TWFieldSetCurrency(f, record, &v);
        } else {
          TWNumeric v{};
          st = TWNumericFromStream(&v, &text);
          if (st == TWSUCCESS) st = TWFieldSetNumeric(f, record, &v);
        }
        break;
      }
      case TWTYPE_DATETIME: {
        if (c.external != ORA_DATE) {
          st = TWFAIL_INVALID_TYPE;
          break;
        }
        TWDatetime v{};
        st = DatetimeOfDate(element, &v);
        if (st == TWSUCCESS) st = TWFieldSetDatetime(f, record, &v);
        break;
      }
      case TWTYPE_TEXT:
      case TWTYPE_BINARY: {
        if (c.external != ORA_STRING && c.external != ORA_RAW) {
          st = TWFAIL_INVALID_TYPE;
          break;
        }
        const bool raw = c.external == ORA_RAW;
        size_t length = std::min<size_t>(lengths_[at], c.stride);
        std::string whole;
        const unsigned char* bytes = element;
        if (c.isLong && truncated) {
          whole.assign(reinterpret_cast<const char*>(element), kPiece);
          st = ReadLong(col + 1, raw, whole);
          if (st != TWSUCCESS) return st;
          bytes = reinterpret_cast<const unsigned char*>(whole.data());
          length = whole.size();
        }
        // Only CHAR columns come padded: the blanks of VARCHAR2 and LONG values are data.
        if (c.internal == ORA_CHAR)
          while (length > 0 && bytes[length - 1] == ' ') --length;
        TWStream value = Showing(bytes, length, raw ? TWSTREAMFMT_BLOB : textFormat);
        st = TWFieldSetStream(f, record, &value);
        break;
      }
      default:
        st = TWFAIL_INVALID_TYPE;
        break;
    }
    if (st != TWSUCCESS) {
      if ((st & 0xFF00) == 0x3200) return LogField(st, list, i);
      return st;
    }
  }
  return TWSUCCESS;
}

uint32_t Connection::Fetch(TWFIELDLIST dest, uint32_t recordIndex, uint32_t recordCount,
                           uint32_t* affected) {
  if (!connected_) return TWFAIL_INVALID_CONNECT;
  if (queryState_ == 0) return TWFAIL_NO_RESULTSET;
  OraCursor& cursor = selection_.cursor;
  if (queryState_ == 1) {
    if (OraExecute(&cursor) != 0) {
      uint32_t st = LogError(cursor.rc);
      EndResultSet();
      return st;
    }
    queryState_ = 2;
    mark_ = 0;
  }
  if (mark_ < 0) return TWFAIL_END_OF_DATA;
  const Description& d = *selection_.description;
  const uint32_t perFetch =
      d.hasLong || rowidPosition_ != 0 ? 1 : std::clamp<uint32_t>(recordCount, 1, kMaxRows);
  if (perFetch > rowsDefined_ || rowsPerFetch_ != perFetch) {
    if (uint32_t st = DefineRows(perFetch)) return st;
    rowsPerFetch_ = perFetch;
  }
  if (!selection_.merged || selection_.sequence != TWFieldlistGetSequence(dest)) {
    if (uint32_t st = MergeInto(selection_, dest, true)) return st;
  }
  // Arrays of at most the rows defined: a request beyond them is fetched in turns.
  uint32_t done = 0;
  while (done < recordCount && mark_ >= 0) {
    const uint32_t want = std::min(recordCount - done, rowsPerFetch_);
    const int rc = want == 1 ? OraFetch(&cursor) : OraFetchArray(&cursor, want);
    uint32_t got = want;
    if (rc != 0) {
      if (cursor.rc != ORA_RC_NO_DATA) {
        writebackReady_ = false;
        return LogError(cursor.rc);
      }
      got = static_cast<uint32_t>(static_cast<int64_t>(cursor.rpc) - mark_);
      mark_ = -1;
    } else {
      mark_ = cursor.rpc;
    }
    for (uint32_t r = 0; r < got; ++r) {
      if (uint32_t st = MoveRow(r, recordIndex + done + r)) return st;
      ++*affected;
    }
    done += got;
  }
  if (done == recordCount && recordCount > 0) {
    if (rowidPosition_ != 0) writebackReady_ = true;
    return TWSUCCESS;
  }
  return *affected != 0 ? TWSUCCESS : TWFAIL_END_OF_DATA;
}

// ---------------------------------------------------------------- writes --------------

uint32_t Connection::PrepareWrite(Write kind, Slot& slot, TWFIELDLIST list) {
  if (uint32_t st = OpenSlot(slot)) return st;
  const bool writeback = kind != Write::kInsert && props.writeBack != 0;
  if (writeback) {
    if (slot.description != selection_.description) {
      slot.Unprepare();
      slot.description = selection_.description;
    }
  } else if (slot.description &&
             (slot.description->writeback || slot.description->identity != metadataGeneration)) {
    // The server folds names: the same table under another case keeps its description.
    std::string now = TextOf(props.metadata), was = slot.description->table;
    auto fold = [](std::string s) {
      for (char& ch : s) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
      return s;
    };
    if (!slot.description->writeback && fold(now) == fold(was)) {
      slot.description->identity = metadataGeneration;
    } else {
      slot.Unprepare();
      slot.description.reset();
    }
  }
  if (!slot.description) {
    if (uint32_t st = DescribeTable(slot, TWNULLHANDLE, true)) return st;
  }
  if (writeback && kind == Write::kRemove) {
    // Only the fetched row's address is bound: there is nothing to merge.
    if (slot.prepared) return TWSUCCESS;
    const std::string text = WriteText(false, slot.description->table, {}, {}, {}, true);
    if (OraParse(&slot.cursor, text.c_str(), -1, 0, 1) != 0) return LogError(slot.cursor.rc);
    slot.prepared = true;
    return TWSUCCESS;
  }
  if (slot.prepared && slot.sequence == TWFieldlistGetSequence(list)) return TWSUCCESS;
  if (uint32_t st = MergeInto(slot, list, false)) return st;

  const uint32_t format = static_cast<uint32_t>(props.textFormat);
  TWFIELDLIST merged = slot.merged.get();
  const uint32_t count = TWFieldlistGetCount(merged);
  const uint32_t columns = static_cast<uint32_t>(slot.description->columns.size());
  const std::string& table = slot.description->table;
  std::string text;
  if (kind == Write::kInsert) {
    std::vector<std::string> names;
    for (uint32_t i = 1; i <= count; ++i) {
      flowcore::StreamData name;
      if (uint32_t st = TWFieldlistGetName(merged, i, format, name.get())) return st;
      names.emplace_back(name.view());
    }
    text = InsertText(table, names);
  } else {
    std::vector<SetTerm> sets;
    if (kind == Write::kUpdate) {
      for (uint32_t i = 1; i <= count; ++i) {
        TWFIELD f = TWNULLHANDLE;
        flowcore::StreamData name;
        if (uint32_t st = TWFieldlistGetField(merged, i, format, &f, name.get())) return st;
        if (!(TWFieldGetFlags(f) & TWFIELDF_NO_UPDATE))
          sets.push_back(SetTerm{std::string(name.view()), i});
      }
    }
    std::vector<KeyTerm> keys;
    if (!writeback) {
      const uint32_t offset = kind == Write::kUpdate ? columns : 0;
      uint32_t st = tw::twx::ForEachKeyTerm(
          merged, format,
          [&](TWFIELD, uint32_t index, const TWStream& name, std::string_view op) -> uint32_t {
            keys.push_back(KeyTerm{TextOf(name), op, index + offset});
            return TWSUCCESS;
          });
      if (st != TWSUCCESS) return st;
    }
    const std::string condition = TextOf(props.condition);
    // Without a key, a condition or a fetched row to aim at, the statement would change
    // every row of the table.
    if (!writeback && keys.empty() && condition.empty()) {
      slot.Unprepare();
      return TWActivityLogEx(TWFAIL_KEY_COUNT_MISMATCH, 0, 1, 0, nullptr, nullptr, nullptr);
    }
    text = WriteText(kind == Write::kUpdate, table, sets, keys, condition, writeback);
  }
  if (OraParse(&slot.cursor, text.c_str(), -1, 0, 1) != 0) {
    const int rc = slot.cursor.rc;
    slot.Unprepare();
    return rc == ORA_RC_NO_TABLE ? TWFAIL_INVALID_METADATA : LogError(rc);
  }
  slot.prepared = true;
  return TWSUCCESS;
}

namespace {

// The first value of the number or datetime list that value record of f holds: 1 for an
// empty list (a null), 12801 for more values than one unless f allows truncation.
template <class T>
uint32_t FirstOfList(TWFIELD f, uint32_t record,
                     uint32_t (*count)(const TWStream*, uint32_t*, uint32_t*),
                     uint32_t (*first)(const TWStream*, T*), T* out) {
  void* value = nullptr;
  if (uint32_t st = TWFieldGetBuffer(f, record, &value, nullptr)) return st;
  const TWStream* list = static_cast<const TWStream*>(value);
  uint32_t values = 0, ranges = 0;
  (void)count(list, &values, &ranges);
  if (values == 0) return 1;
  if (values > 1 && !(TWFieldGetFlags(f) & TWFIELDF_TRUNC_DATA)) return TWFAIL_OVERFLOW;
  return first(list, out);
}

// Writes value record of p's field into element (of p.element bytes), as p.external asks.
// Answers 0, a status of the value (12801 and the like), or 1 for a null.
uint32_t EncodeValue(Param& p, uint32_t record, uint32_t textFormat, unsigned char* element,
                     int32_t* length) {
  TWFIELD f = p.field;
  if (TWFieldIsNull(f, record)) return 1;
  const uint32_t flags = TWFieldGetFlags(f);
  switch (p.external) {
    case ORA_INTEGER: {
      int32_t v = 0;
      if (uint32_t st = TWFieldGetInt(f, record, &v, nullptr)) return st;
      std::memcpy(element, &v, 4);
      *length = 4;
      return TWSUCCESS;
    }
    case ORA_FLOAT: {
      double v = 0;
      const uint32_t st =
          TWFieldGetType(f) == TWTYPE_BINARY
              ? FirstOfList(f, record, TWNumberListGetCount, TWNumberListGetFirst, &v)
              : TWFieldGetFloat(f, record, &v, nullptr);
      if (st != TWSUCCESS) return st;
      std::memcpy(element, &v, 8);
      *length = 8;
      return TWSUCCESS;
    }
    case ORA_DATE: {
      TWDatetime v{};
      const uint32_t st =
          TWFieldGetType(f) == TWTYPE_BINARY
              ? FirstOfList(f, record, TWDatetimeListGetCount, TWDatetimeListGetFirst, &v)
              : TWFieldGetDatetime(f, record, &v, nullptr);
      if (st != TWSUCCESS) return st;
      *length = 7;
      return DateBytes(v, element);
    }
    default:
      break;
  }
  // Text and raw: the value's bytes, in the column's form.
  flowcore::StreamData converted;
  const uint32_t type = TWFieldGetType(f);
  if (type == TWTYPE_CURRENCY || type == TWTYPE_NUMERIC) {
    if (type == TWTYPE_CURRENCY) {
      TWCurrency v{};
      if (uint32_t st = TWFieldGetCurrency(f, record, &v, nullptr)) return st;
      if (uint32_t st = TWStreamFromCurrency(converted.get(), &v, textFormat)) return st;
    } else {
      TWNumeric v{};
      if (uint32_t st = TWFieldGetNumeric(f, record, &v, nullptr)) return st;
      if (uint32_t st = TWStreamFromNumeric(converted.get(), &v, textFormat)) return st;
    }
  } else {
    void* value = nullptr;
    if (uint32_t st = TWFieldGetBuffer(f, record, &value, nullptr)) return st;
    const uint32_t to = p.column.external == ORA_RAW ? TWSTREAMFMT_BLOB : textFormat;
    if (uint32_t st = TWStreamDataConvert(converted.get(), static_cast<const TWStream*>(value),
                                          TWCONVERTF_FORCE_TEXT, to, nullptr, nullptr))
      return st;
  }
  std::string_view bytes = converted.view();
  if (bytes.empty()) return 1;  // the server keeps no empty values: '' is NULL
  const size_t room =
      p.column.isLong || p.column.size == 0 ? std::string_view::npos : p.column.size;
  if (bytes.size() > room) {
    if (!(flags & TWFIELDF_TRUNC_DATA)) return TWFAIL_OVERFLOW;
    // The server's sizes count bytes; text is cut on a whole character.
    bytes = bytes.substr(0, p.column.external == ORA_RAW
                                ? room
                                : twx::PrefixOfBytes(textFormat, bytes.data(), bytes.size(), room));
  }
  size_t prefix = 0;
  if (p.external == ORA_VARCHAR || p.external == ORA_VARRAW) {
    uint16_t l = static_cast<uint16_t>(bytes.size());
    std::memcpy(element, &l, 2);
    prefix = 2;
  } else if (p.external == ORA_LONGVARCHAR || p.external == ORA_LONGVARRAW) {
    int32_t l = static_cast<int32_t>(bytes.size());
    std::memcpy(element, &l, 4);
    prefix = 4;
  }
  std::memcpy(element + prefix, bytes.data(), bytes.size());
  *length = static_cast<int32_t>(prefix + bytes.size());
  return TWSUCCESS;
}

// The bytes one value of p may need: an array's element, or a single value's whole length.
size_t RoomFor(const Param& p, uint32_t record, bool array) {
  if (array ||
      (p.external != ORA_CHAR && p.external != ORA_RAW && p.external != ORA_LONGVARCHAR &&
       p.external != ORA_LONGVARRAW && p.external != ORA_VARCHAR && p.external != ORA_VARRAW))
    return p.element;
  const uint32_t type = TWFieldGetType(p.field);
  if (type == TWTYPE_CURRENCY || type == TWTYPE_NUMERIC) return p.element;
  void* value = nullptr;
  if (TWFieldGetBuffer(p.field, record, &value, nullptr) != TWSUCCESS || value == nullptr) return 4;
  // A conversion to another character set may need up to four bytes a byte.
  return 4 + 4 * static_cast<size_t>(static_cast<const TWStream*>(value)->length) + 4;
}

}  // namespace

uint32_t Connection::BindAndExecute(Write kind, Slot& slot, uint32_t recordIndex, uint32_t rows,
                                    uint32_t* processed) {
  *processed = 0;
  const Description& d = *slot.description;
  TWFIELDLIST merged = slot.merged.get();
  const uint32_t count = TWFieldlistGetCount(merged);
  const uint32_t columns = static_cast<uint32_t>(d.columns.size());
  const bool writeback = kind != Write::kInsert && props.writeBack != 0;
  const bool array = rows > 1;
  const uint32_t textFormat = static_cast<uint32_t>(props.textFormat);

  // The placeholders the text holds, and only those: an update binds its SET fields and its
  // key terms, a remove its key terms, an insert every field.
  std::vector<Param> params;
  auto add = [&](uint32_t entry, uint32_t number) -> uint32_t {
    Param p;
    p.name = Placeholder(number);
    p.entry = entry;
    if (uint32_t st = TWFieldlistGetField(merged, entry, 0, &p.field, nullptr)) return st;
    p.column = d.columns[slot.columnOf[entry - 1]];
    ChooseExternal(p, array);
    params.push_back(std::move(p));
    return TWSUCCESS;
  };
  for (uint32_t i = 1; i <= count; ++i) {
    TWFIELD f = TWNULLHANDLE;
    if (uint32_t st = TWFieldlistGetField(merged, i, 0, &f, nullptr)) return st;
    const uint32_t flags = TWFieldGetFlags(f);
    if (kind == Write::kInsert || (kind == Write::kUpdate && !(flags & TWFIELDF_NO_UPDATE))) {
      if (uint32_t st = add(i, i)) return st;
    }
    if (!writeback && kind != Write::kInsert && (flags & TWFIELDF_KEY)) {
      if (uint32_t st = add(i, kind == Write::kUpdate ? columns + i : i)) return st;
    }
  }

  // Every value into the buffers, row by row: a value that cannot be written ends the rows
  // at the one before it.
  std::vector<int32_t> lengths(params.size(), 0);
  for (Param& p : params) {
    p.indicators.assign(rows, 0);
    p.buffer.assign(array ? static_cast<size_t>(p.element) * rows : RoomFor(p, recordIndex, false),
                    0);
  }
  uint32_t failure = TWSUCCESS;
  uint32_t ready = 0;
  for (; ready < rows && failure == TWSUCCESS; ++ready) {
    for (size_t k = 0; k < params.size(); ++k) {
      Param& p = params[k];
      unsigned char* element =
          p.buffer.data() + static_cast<size_t>(ready) * (array ? p.element : 0);
      int32_t got = 0;
      const uint32_t st = EncodeValue(p, recordIndex + ready, textFormat, element, &got);
      if (st == 1) {
        p.indicators[ready] = -1;
      } else if (st != TWSUCCESS) {
        failure = (st & 0xFF00) == 0x3200 ? LogField(st, merged, p.entry) : st;
        break;
      }
      lengths[k] = array ? static_cast<int32_t>(p.element) : got;
    }
    if (failure != TWSUCCESS) break;
  }
  if (ready == 0) return failure;

  OraCursor& cursor = slot.cursor;
  for (size_t k = 0; k < params.size(); ++k) {
    Param& p = params[k];
    if (OraBindByName(&cursor, p.name.c_str(), -1, p.buffer.data(), lengths[k], p.external, -1,
                      p.indicators.data(), nullptr, -1, -1) != 0)
      return LogError(cursor.rc);
  }
  if (writeback) {
    if (OraBindByName(&cursor, ":ROW_ID", -1, rowid_, rowidLength_, ORA_VARCHAR2, -1, nullptr,
                      nullptr, -1, -1) != 0)
      return LogError(cursor.rc);
  }
  const int rc = array ? OraExecuteArray(&cursor, ready, 0) : OraExecute(&cursor);
  *processed = cursor.rpc;
  if (rc != 0) return LogError(cursor.rc);
  return failure;
}

uint32_t Connection::WriteRecords(Write kind, TWFIELDLIST list, uint32_t recordIndex,
                                  uint32_t recordCount, uint32_t* affected) {
  if (!connected_) return TWFAIL_INVALID_CONNECT;
  const bool writeback = kind != Write::kInsert && props.writeBack != 0;
  if (writeback) {
    if (!writebackReady_) return TWFAIL_NO_WRITEBACK;
    if (recordCount > 1) return TWFAIL_WRITEBACK_COUNT;
  }
  Slot& slot = SlotOf(kind);
  if (uint32_t st = PrepareWrite(kind, slot, list)) return st;
  if (kind == Write::kInsert && recordCount >= 2 && !slot.description->hasLong) {
    // The rows before a value that cannot be written are written and counted.
    uint32_t processed = 0;
    uint32_t st = BindAndExecute(kind, slot, recordIndex, recordCount, &processed);
    *affected = processed;
    if (processed > 0) {
      if (uint32_t counted = CountWritten(processed); st == TWSUCCESS) st = counted;
    }
    return st;
  }
  for (uint32_t r = 0; r < recordCount; ++r) {
    uint32_t processed = 0;
    if (uint32_t st = BindAndExecute(kind, slot, recordIndex + r, 1, &processed)) return st;
    *affected += kind == Write::kInsert ? 1 : processed;
    if (uint32_t st = CountWritten(1)) return st;
  }
  return TWSUCCESS;
}

uint32_t Connection::Insert(TWFIELDLIST src, uint32_t recordIndex, uint32_t recordCount,
                            uint32_t* affected) {
  return WriteRecords(Write::kInsert, src, recordIndex, recordCount, affected);
}

uint32_t Connection::Update(TWFIELDLIST src, uint32_t recordIndex, uint32_t recordCount,
                            uint32_t* affected) {
  return WriteRecords(Write::kUpdate, src, recordIndex, recordCount, affected);
}

uint32_t Connection::Remove(TWFIELDLIST keys, uint32_t recordIndex, uint32_t recordCount,
                            uint32_t* affected) {
  return WriteRecords(Write::kRemove, keys, recordIndex, recordCount, affected);
}

uint32_t Connection::ExecuteSelectionKeys(TWFIELDLIST keys, uint32_t recordIndex) {
  // Key values are bound by their own types: a selection's keys meet no description.
  std::vector<Param> params;
  const uint32_t count = TWFieldlistGetCount(keys);
  for (uint32_t i = 1; i <= count; ++i) {
    Param p;
    if (uint32_t st = TWFieldlistGetField(keys, i, 0, &p.field, nullptr)) return st;
    if (!(TWFieldGetFlags(p.field) & TWFIELDF_KEY)) continue;
    p.name = Placeholder(i);
    p.entry = i;
    const uint32_t type = TWFieldGetType(p.field);
    p.column.isLong = true;
    p.column.external = type == TWTYPE_INT        ? ORA_INTEGER
                        : type == TWTYPE_FLOAT    ? ORA_FLOAT
                        : type == TWTYPE_DATETIME ? ORA_DATE
                        : type == TWTYPE_BINARY && StreamFormatOf(p.field) == TWSTREAMFMT_BLOB
                            ? ORA_RAW
                            : ORA_STRING;
    ChooseExternal(p, false);
    params.push_back(std::move(p));
  }
  OraCursor& cursor = selection_.cursor;
  const uint32_t textFormat = static_cast<uint32_t>(props.textFormat);
  for (Param& p : params) {
    p.indicators.assign(1, 0);
    p.buffer.assign(RoomFor(p, recordIndex, false), 0);
    int32_t length = 0;
    const uint32_t st = EncodeValue(p, recordIndex, textFormat, p.buffer.data(), &length);
    if (st == 1) {
      p.indicators[0] = -1;
    } else if (st != TWSUCCESS) {
      return (st & 0xFF00) == 0x3200 ? LogField(st, keys, p.entry) : st;
    }
    if (OraBindByName(&cursor, p.name.c_str(), -1, p.buffer.data(), length, p.external, -1,
                      p.indicators.data(), nullptr, -1, -1) != 0)
      return LogError(cursor.rc);
  }
  if (OraExecute(&cursor) != 0) return LogError(cursor.rc);
  queryState_ = 2;
  mark_ = 0;
  return TWSUCCESS;
}

}  // namespace oracle
