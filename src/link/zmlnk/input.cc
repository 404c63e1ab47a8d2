// Record input of the text-file connector: reading the next accepted record, locating and
// decoding each column's bytes into its bucket, and moving the buckets into the caller's
// field list through the fields' value storage.
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>

#include "connection.h"
#include "ebcdic.h"
#include "numbers.h"
#include "text_util.h"
#include "tw/coding.h"

namespace flatrec {

namespace {

TWStream View(uint32_t format, std::string_view text) {
  return TWStream{0, 0, format, static_cast<uint32_t>(text.size()), const_cast<char*>(text.data())};
}

bool IsUtf8Format(uint32_t format) {
  return format == TWSTREAMFMT_NATIVE || format == TWSTREAMFMT_QMBCS || format == TWSTREAMFMT_UTF8;
}

// Writes data of format straight into the field's value storage when the field keeps that
// format (or none), else lets the engine convert it.
[[nodiscard]] uint32_t StoreStream(const FieldBinding& b, uint32_t first, uint32_t k,
                                   uint32_t format, std::string_view data) {
  const uint32_t declared = b.declared;
  if (declared == 0 || declared == format || (IsUtf8Format(declared) && IsUtf8Format(format))) {
    void* value = nullptr;
    int32_t* isNull = nullptr;
    if (uint32_t st = b.slots.Get(k, &value, &isNull)) return st;
    if (TWStreamDataSet(static_cast<TWStream*>(value), declared != 0 ? declared : format,
                        data.data(), static_cast<uint32_t>(data.size())) == TWSUCCESS) {
      *isNull = 0;
      return TWSUCCESS;
    }
  }
  TWStream view = View(format, data);
  return TWFieldSetStream(b.field, first + k, &view);
}

}  // namespace

uint32_t LogNamed(uint32_t status, std::string_view name) {
  TWStream stream = View(TWSTREAMFMT_NATIVE, name);
  return TWActivityLogEx(status, 0, 0, 0, &stream, nullptr, nullptr);
}

// ---------------------------------------------------------------- reading

uint32_t ReadRecord(Connection& c, std::string_view* record) {
  Session& s = *c.session;
  Routine routine(c.tracer, "ZPGetInputRecord: ");
  int32_t skipped = 0;
  for (;;) {
    uint64_t full = 0;
    switch (s.reader.Next(record, &full)) {
      case RecordReader::Result::kEnd:
        return routine.Exit(TWFAIL_END_OF_DATA);
      case RecordReader::Result::kError: {
        std::string text =
            Format("ERROR: Unable to read file: %s (%s)", s.fileName.c_str(), std::strerror(errno));
        TWStream stream = View(TWSTREAMFMT_NATIVE, text);
        return routine.Exit(TWActivityLogStream(0, &stream, static_cast<uint32_t>(errno)));
      }
      case RecordReader::Result::kRecord:
        break;
    }
    if (s.reader.truncated())
      c.tracer.Printf("WARNING: Truncating INPUT record %lu, length (%lu) exceeds maximum (%ld)",
                      static_cast<unsigned long>(c.recordCounter), static_cast<unsigned long>(full),
                      static_cast<long>(record->size()));
    if (skipped < c.props.skipRecords) {
      ++skipped;
      continue;
    }
    if (s.settings.minSize > 0 && record->size() < s.settings.minSize) {
      c.tracer.Printf("WARNING: Bypassing INPUT record %lu, length (%lu) less than minimum (%ld)",
                      static_cast<unsigned long>(c.recordCounter),
                      static_cast<unsigned long>(record->size()),
                      static_cast<long>(s.settings.minSize));
      continue;
    }
    c.props.skipRecords = 0;
    if (c.tracer.On(Tracer::kInputRecords)) {
      c.tracer.Printf("Input Record:");
      c.tracer.Dump(*record);
    }
    return routine.Exit(TWSUCCESS);
  }
}

// ---------------------------------------------------------------- locating

namespace {

// memchr, with the first bytes looked at in place: most values are shorter than a call.
inline const char* FindByte(const char* p, size_t n, char c) {
  const size_t first = n < 16 ? n : 16;
  for (size_t i = 0; i < first; ++i)
    if (p[i] == c) return p + i;
  return n > 16
             ? static_cast<const char*>(std::memchr(p + 16, static_cast<unsigned char>(c), n - 16))
             : nullptr;
}

struct Located {
  std::string_view raw;
  bool absent = false;
};

// Finds the column's bytes from start (an offset below the record's length) and moves the
// cursor to where the next unplaced column starts.
Located LocateValue(const Column& col, std::string_view rec, size_t start, size_t* cursor) {
  Located out;
  const char* p = rec.data() + start;
  const size_t avail = rec.size() - start;
  const bool quoted = col.quotes && avail > 0 && (p[0] == '"' || p[0] == '\'');
  auto closing = [&](size_t within) -> const char* {
    if (!quoted || within < 2) return nullptr;
    return static_cast<const char*>(std::memchr(p + 1, p[0], within - 1));
  };
  if (col.width > 0 && !col.terminated()) {
    // Widths beyond the record are cut at its end.
    const size_t w = col.width < avail ? col.width : avail;
    out.raw = std::string_view(p, w);
    *cursor = start + w;
    if (const char* q = closing(w))
      out.raw = std::string_view(p + 1, static_cast<size_t>(q - p - 1));
    return out;
  }
  if (col.terminated()) {
    size_t searchFrom = 0;
    std::string_view quotedValue;
    const char* q = closing(avail);
    if (q != nullptr) {
      quotedValue = std::string_view(p + 1, static_cast<size_t>(q - p - 1));
      searchFrom = static_cast<size_t>(q - p) + 1;
    }
    const char* hit = nullptr;
    size_t termLength = col.term.size();
    if (searchFrom < avail) {
      const char* from = p + searchFrom;
      const size_t span = avail - searchFrom;
      if (col.termKind == TermKind::kUntilList) {
        termLength = 1;
        for (size_t i = 0; i < span && hit == nullptr; ++i)
          if (std::memchr(col.term.data(), static_cast<unsigned char>(from[i]), col.term.size()))
            hit = from + i;
      } else if (col.term.size() == 1) {
        hit = FindByte(from, span, col.term[0]);
      } else {
        hit = static_cast<const char*>(::memmem(from, span, col.term.data(), col.term.size()));
      }
    }
    if (hit != nullptr) {
      out.raw = q != nullptr ? quotedValue : std::string_view(p, static_cast<size_t>(hit - p));
      *cursor = start + static_cast<size_t>(hit - p) + termLength;
    } else if (col.termKind == TermKind::kUntil) {
      out.raw = q != nullptr ? quotedValue : std::string_view(p, avail);
      *cursor = rec.size();
    } else {
      out.absent = true;
      return out;
    }
    if (col.width > 0) {
      const size_t left = static_cast<size_t>(rec.data() + rec.size() - out.raw.data());
      out.raw = std::string_view(out.raw.data(), col.width < left ? col.width : left);
    }
    return out;
  }
  if (col.start <= 0 && col.startRef < 0 && col.hasValue) {
    out.raw = col.value;
    return out;
  }
  out.raw = std::string_view(p, avail);
  *cursor = rec.size();
  if (const char* q = closing(avail))
    out.raw = std::string_view(p + 1, static_cast<size_t>(q - p - 1));
  return out;
}

// The next of the two decoding buffers: each step of a column's decoding reads the text the
// step before left in the other one (or in the record), so nothing is allocated per record.
std::string& NextWork(Session& s) {
  std::string& w = s.work[s.nextWork];
  s.nextWork ^= 1;
  w.clear();
  return w;
}

// The text squeezed (outer white space dropped, inner runs one blank); a copy only when an
// inner run needs it.
std::string_view SqueezeInto(Session& s, std::string_view text) {
  std::string_view t = Trim(text);
  if (!NeedsInnerSqueeze(t)) return t;
  std::string& w = NextWork(s);
  bool inSpace = false;
  for (char ch : t) {
    if (IsSpace(ch)) {
      if (!inSpace) w.push_back(' ');
      inSpace = true;
    } else {
      w.push_back(ch);
      inSpace = false;
    }
  }
  return w;
}

// The column's value as text: binary and EBCDIC bytes decoded, TRIM applied, implied
// decimals placed.
std::string_view DecodeValue(Session& s, const Column& col, std::string_view raw) {
  s.nextWork = 0;
  std::string_view text = raw;
  if (col.binary) {
    std::string_view bytes = raw.substr(0, col.width);
    if (col.type == ColumnType::kBinary && bytes.size() < col.width) {
      // A record that ends inside a big-endian field: the missing bytes are zeros in their
      // places, so the bytes present keep their weight.
      std::string& padded = NextWork(s);
      padded.assign(bytes);
      padded.resize(col.width < 8 ? col.width : 8, '\0');
      if (padded.size() > bytes.size()) bytes = padded;
    }
    std::string& w = NextWork(s);
    DecodeBinary(col.type, col.isUnsigned, bytes, &w);
    text = w;
  } else if (col.ebcdic) {
    std::string& w = NextWork(s);
    DecodeEbcdic(raw, col.type == ColumnType::kNumber, col.isUnsigned, &w);
    text = w;
  }
  if (col.trim) text = SqueezeInto(s, text);
  if (col.precision >= 1 && col.precision < kNoPrecision) {
    std::string& w = NextWork(s);
    ImpliedDecimal(text, col.precision, &w);
    text = w;
  }
  return text;
}

// Keeps text for the move: a view into the record stays one, decoded text is copied into
// the arena. Written member by member: the caller reads them singly.
inline void Keep(Session& s, std::string_view record, std::string_view text, TextRef* ref) {
  ref->length = text.size();
  if (text.empty() || (text.data() >= record.data() &&
                       text.data() + text.size() <= record.data() + record.size())) {
    ref->ptr = text.empty() ? record.data() : text.data();
    ref->offset = 0;
    return;
  }
  ref->ptr = nullptr;
  ref->offset = s.arena.size();
  s.arena.append(text);
}

// Splits text into s.tokens at the column's separator characters.
void SplitTokens(Session& s, const Column& col, std::string_view text) {
  s.tokens.clear();
  Tokenizer tok(text);
  std::string_view t;
  while (tok.Next(col.sep, &t)) s.tokens.push_back(t);
}

[[nodiscard]] uint32_t BuildTextList(Session& s, Bucket& b) {
  if (s.tokens.size() > kMaxListWord) return TWFAIL_OVERFLOW;
  size_t total = 2 + 2 * s.tokens.size();
  for (std::string_view t : s.tokens) {
    if (t.size() > kMaxListWord) return TWFAIL_OVERFLOW;
    total += t.size();
  }
  b.list.resize(total);
  char* p = b.list.data();
  tw::put_u16(p, static_cast<uint16_t>(s.tokens.size()));
  p += 2;
  for (std::string_view t : s.tokens) {
    tw::put_u16(p, static_cast<uint16_t>(t.size()));
    p += 2;
  }
  for (std::string_view t : s.tokens) {
    std::memcpy(p, t.data(), t.size());
    p += t.size();
  }
  b.listFormat = TWSTREAMFMT_TEXT_LIST;
  b.count = static_cast<uint16_t>(s.tokens.size() == 0 ? 0 : s.tokens.size());
  return TWSUCCESS;
}

// A list of n 8-byte values after the 4-byte head.
void StartValueList(Bucket& b, uint32_t format, size_t n) {
  b.list.assign(4 + 8 * n, '\0');
  tw::put_u16(b.list.data(), static_cast<uint16_t>(n));
  b.listFormat = format;
}

[[nodiscard]] uint32_t AppendDate(Connection& c, const Column& col, std::string_view text,
                                  TWDatetime* out) {
  if (col.format.empty()) {
    TWStream view = View(TWSTREAMFMT_NATIVE, text);
    return TWDatetimeFromStream(out, &view);
  }
  return ParseDate(text, col.dateFormat, c.session->settings.names, out, &c.session->zones);
}

}  // namespace

uint32_t LocateFields(Connection& c, std::string_view rec) {
  Session& s = *c.session;
  Tracer& tr = c.tracer;
  Routine routine(tr, "ZPGetInputFields: ");
  const std::vector<Column>& cols = s.zid.columns;
  s.arena.clear();
  {
    Routine clear(tr, "ZPClearBuckets: ");
    for (size_t i = 0; i < cols.size(); ++i) s.buckets[i].Clear();
    clear.Exit(TWSUCCESS);
  }
  size_t cursor = 0;
  uint32_t first = TWSUCCESS;
  auto fail = [&](uint32_t status) {
    if (first == TWSUCCESS) first = status;
  };
  for (size_t i = 0; i < cols.size(); ++i) {
    const Column& col = cols[i];
    Bucket& b = s.buckets[i];
    int64_t start;
    if (col.startRef >= 0) {
      const Bucket& ref = s.buckets[static_cast<size_t>(col.startRef)];
      if (ref.located < 0) {
        Routine getPosition(tr, "ZMGetPosition: ");
        getPosition.Exit(TWFAIL_INVALID_FIELDNAME);
        fail(LogNamed(TWFAIL_INVALID_FIELDNAME, col.name));
        return routine.Exit(first);
      }
      start = ref.located;
    } else if (col.start > 0) {
      start = col.start - 1;
    } else {
      start = static_cast<int64_t>(cursor);
    }
    if (start >= static_cast<int64_t>(rec.size())) {
      tr.Printf("WARNING: Unable to set %s for %s, field exceeds record length (%u)",
                col.name.c_str(), c.RecordLabel().c_str(), static_cast<unsigned>(rec.size()));
      continue;
    }
    b.located = start;
    if (tr.On(Tracer::kDetail))
      tr.Printf("Getting field=%s, @ dsp=%ld", col.name.c_str(), static_cast<long>(start));
    Routine locate(tr, "ZPLocateValue: ");
    Located found = LocateValue(col, rec, static_cast<size_t>(start), &cursor);
    locate.Exit(TWSUCCESS);
    if (tr.On(Tracer::kDetail)) {
      tr.Printf("%s", col.name.c_str());
      tr.Dump(found.raw);
    }
    if (found.absent || col.placeholder) continue;
    if (!col.format.empty() && col.letter != 'D') {
      Routine reformat(tr, "ZPReformat: ");
      reformat.Exit(TWSUCCESS);
    }
    if (col.letter == 'N' && col.sep.empty() && !col.binary && !col.ebcdic) {
      // Plain digits, the usual number, are read without building their decimal text.
      const std::string_view t = Trim(found.raw);
      const unsigned decimals =
          col.precision >= 1 && col.precision < kNoPrecision ? col.precision : 0;
      if (PlainNumber(t, decimals, &b.number)) {
        Routine append(tr, "ZPAppendNumber: ");
        Keep(s, rec, t, &b.text);
        b.implied = static_cast<uint8_t>(decimals);
        b.count = 1;
        append.Exit(TWSUCCESS);
        continue;
      }
    }
    std::string_view text = DecodeValue(s, col, found.raw);
    switch (col.letter) {
      case 'T':
      case 'C': {
        if (text.empty()) break;
        Routine append(tr, "ZPAppendText: ");
        if (col.sep.empty()) {
          Keep(s, rec, text, &b.text);
          b.count = 1;
          append.Exit(TWSUCCESS);
          break;
        }
        SplitTokens(s, col, text);
        const uint32_t st = append.Exit(BuildTextList(s, b));
        if (st != TWSUCCESS) fail(LogNamed(st, col.name));
        break;
      }
      case 'N': {
        std::string_view t = SqueezeInto(s, text);
        if (t.empty()) break;
        Routine append(tr, "ZPAppendNumber: ");
        if (col.sep.empty()) {
          Keep(s, rec, t, &b.text);
          b.number = ParseNumber(t);
          b.count = 1;
          append.Exit(TWSUCCESS);
          break;
        }
        SplitTokens(s, col, t);
        if (s.tokens.empty()) break;
        if (s.tokens.size() > kMaxListWord) {
          fail(LogNamed(append.Exit(TWFAIL_OVERFLOW), col.name));
          break;
        }
        StartValueList(b, TWSTREAMFMT_NUMBER_LIST, s.tokens.size());
        bool finite = true;
        for (size_t k = 0; k < s.tokens.size(); ++k) {
          const double v = ParseNumber(s.tokens[k]);
          finite = finite && std::isfinite(v);
          if (k == 0) b.number = v;
          tw::put_u64(b.list.data() + 4 + 8 * k, std::bit_cast<uint64_t>(v));
        }
        if (!finite) {
          // A list has no field flags to clamp by: a NaN or an infinity in it is refused.
          b.Clear();
          b.located = start;
          fail(LogNamed(append.Exit(TWFAIL_OVERFLOW), col.name));
          break;
        }
        b.count = static_cast<uint16_t>(s.tokens.size());
        if (tr.On(Tracer::kDetail)) {
          tr.Printf("Number List:");
          tr.Dump(b.list);
        }
        append.Exit(TWSUCCESS);
        break;
      }
      case 'D': {
        if (text.empty()) break;
        Routine append(tr, "ZPAppendDate: ");
        if (col.sep.empty()) {
          if (uint32_t st = append.Exit(AppendDate(c, col, text, &b.datetime))) {
            fail(LogNamed(st, col.name));
            break;
          }
          b.count = 1;
          break;
        }
        SplitTokens(s, col, text);
        if (s.tokens.empty()) break;
        if (s.tokens.size() > kMaxListWord) {
          fail(LogNamed(append.Exit(TWFAIL_OVERFLOW), col.name));
          break;
        }
        StartValueList(b, TWSTREAMFMT_DATETIME_LIST, s.tokens.size());
        uint32_t st = TWSUCCESS;
        for (size_t k = 0; k < s.tokens.size() && st == TWSUCCESS; ++k) {
          TWDatetime d{};
          st = AppendDate(c, col, s.tokens[k], &d);
          if (k == 0) b.datetime = d;
          tw::put_u32(b.list.data() + 4 + 8 * k, d.ticks);
          tw::put_u32(b.list.data() + 8 + 8 * k, d.date);
        }
        append.Exit(st);
        if (st != TWSUCCESS) {
          b.Clear();
          b.located = start;
          fail(LogNamed(st, col.name));
          break;
        }
        b.count = static_cast<uint16_t>(s.tokens.size());
        break;
      }
      default:
        if (tr.On(Tracer::kDetail))
          tr.Printf("ERROR: Unable to set %s for %s - %s", col.name.c_str(),
                    c.RecordLabel().c_str(), "no TYPE given");
        fail(LogNamed(TWFAIL_INVALID_TYPE, col.name));
        return routine.Exit(first);
    }
  }
  return routine.Exit(first);
}

// ---------------------------------------------------------------- binding and moving

void BindFields(Connection& c, TWFIELDLIST list) {
  Session& s = *c.session;
  const uint32_t sequence = TWFieldlistGetSequence(list);
  if (list == s.boundList && sequence == s.boundSequence && sequence != 0 &&
      c.props.mergeMode == s.boundMode)
    return;
  s.bindings.clear();
  s.boundList = list;
  s.boundSequence = sequence;
  s.boundMode = c.props.mergeMode;
  const std::vector<Column>& cols = s.zid.columns;
  TWStream name{};
  if (TWFieldlistListSetup(list, TWSTREAMFMT_NATIVE) == TWSUCCESS) {
    for (;;) {
      FieldBinding b;
      uint32_t position = 0, flags = 0;
      if (TWFieldlistList(list, &b.field, &position, &b.type, &flags, &name) != TWSUCCESS) break;
      b.name.assign(static_cast<const char*>(name.data ? name.data : ""), name.length);
      if (c.props.mergeMode & 1) {
        Routine find(c.tracer, "ZPFindColByName: ");
        b.column = b.name.empty() ? -1 : FindColumnByName(cols, b.name);
        find.Exit(b.column < 0 ? TWFAIL_INVALID_INDEX : TWSUCCESS);
        if (b.column < 0) b.error = TWFAIL_INVALID_FIELDNAME;
      } else {
        // Positions count the columns that are not placeholders.
        Routine find(c.tracer, "ZPFindColByColNum: ");
        uint32_t seen = 0;
        for (size_t i = 0; i < cols.size(); ++i) {
          if (cols[i].placeholder) continue;
          if (++seen == position) {
            b.column = static_cast<int>(i);
            break;
          }
        }
        find.Exit(b.column < 0 ? TWFAIL_INVALID_INDEX : TWSUCCESS);
        if (b.column < 0) b.error = TWFAIL_FIELD_COUNT_MISMATCH;
      }
      s.bindings.push_back(std::move(b));
    }
  }
  TWStreamDataFree(&name);
  s.columnBinding.assign(cols.size(), -1);
  for (size_t i = 0; i < s.bindings.size(); ++i)
    if (s.bindings[i].column >= 0)
      s.columnBinding[static_cast<size_t>(s.bindings[i].column)] = static_cast<int>(i);
}

void PrepareFields(Connection& c, TWFIELDLIST list, uint32_t first, uint32_t count) {
  Session& s = *c.session;
  BindFields(c, list);
  s.slotFirst = first;
  for (FieldBinding& b : s.bindings) {
    if (b.error != TWSUCCESS) continue;
    b.slots.Reset(b.field, first, count);
    b.declared = 0;
    TWFieldGetFormatStream(b.field, nullptr, nullptr, &b.declared);
  }
}

namespace {

[[nodiscard]] uint32_t BindingFailure(Connection& c, const FieldBinding& b, TWFIELDLIST list) {
  if (b.error == TWFAIL_FIELD_COUNT_MISMATCH)
    return TWActivityLogEx(TWFAIL_FIELD_COUNT_MISMATCH, TWFieldlistGetCount(list),
                           static_cast<uint32_t>(c.session->zid.columns.size()), 0, nullptr,
                           nullptr, nullptr);
  if (b.name.empty()) return TWActivityLogEx(b.error, 0, 0, 0, nullptr, nullptr, nullptr);
  return LogNamed(b.error, b.name);
}

// A bucket's text; a number read with implied decimals gets its point here, when a field
// wants the text.
std::string_view BucketText(Session& s, const Bucket& k) {
  if (k.implied == 0) return k.text.view(s.arena);
  std::string& w = s.work[0];
  w.clear();
  ImpliedDecimal(k.text.view(s.arena), k.implied, &w);
  return w;
}

// A number beyond every range (NaN, an infinity, or text such as 1e400 that reads as one) is
// out of range for any number field: 12801, or with TWFIELDF_TRUNC_DATA the largest double of
// its sign. A NaN has no nearest value and is refused always.
[[nodiscard]] uint32_t Unbounded(const FieldBinding& b, double number, double* out) {
  if (std::isnan(number) || !(TWFieldGetFlags(b.field) & TWFIELDF_TRUNC_DATA))
    return TWFAIL_OVERFLOW;
  *out = number < 0 ? -std::numeric_limits<double>::max() : std::numeric_limits<double>::max();
  return TWSUCCESS;
}

template <class T>
void Put(void* slot, const T& value) {
  std::memcpy(slot, &value, sizeof value);
}

}  // namespace

uint32_t MoveFields(Connection& c, TWFIELDLIST list, uint32_t row) {
  Session& s = *c.session;
  const uint32_t slot = s.slotFirst + row;
  for (const FieldBinding& b : s.bindings) {
    if (b.error != TWSUCCESS) return BindingFailure(c, b, list);
    const Column& col = s.zid.columns[static_cast<size_t>(b.column)];
    const Bucket& k = s.buckets[static_cast<size_t>(b.column)];
    if (k.count == 0) {
      if (uint32_t st = TWFieldSetNull(b.field, slot, 1)) return st;
      continue;
    }
    void* value = nullptr;
    int32_t* isNull = nullptr;
    if (uint32_t st = b.slots.Get(row, &value, &isNull)) return st;
    switch (b.type) {
      case TWTYPE_INT: {
        const double t = std::trunc(k.number);
        int32_t v = 0;
        if (t >= -2147483648.0 && t <= 2147483647.0) {
          v = static_cast<int32_t>(t);
        } else {
          if (!(TWFieldGetFlags(b.field) & TWFIELDF_TRUNC_DATA) || std::isnan(t))
            return LogNamed(TWFAIL_OVERFLOW, col.name);
          v = t < 0 ? INT32_MIN : INT32_MAX;
        }
        Put(value, v);
        *isNull = 0;
        break;
      }
      case TWTYPE_FLOAT: {
        double v = k.number;
        if (!std::isfinite(v)) {
          if (uint32_t st = Unbounded(b, v, &v)) return LogNamed(st, col.name);
        }
        Put(value, v);
        *isNull = 0;
        break;
      }
      case TWTYPE_CURRENCY:
      case TWTYPE_NUMERIC: {
        const bool currency = b.type == TWTYPE_CURRENCY;
        const bool own =
            currency ? col.type == ColumnType::kCurrency : col.type == ColumnType::kNumeric;
        TWCurrency cur{};
        TWNumeric num{};
        if (!own && !std::isfinite(k.number)) {
          // The number's text ("inf", "1e400") is no currency or numeric text: the double
          // decides, as for a float.
          double v = 0;
          if (uint32_t st = Unbounded(b, k.number, &v)) return LogNamed(st, col.name);
          const uint32_t st =
              currency ? TWCurrencyFromFloat(&cur, &v) : TWNumericFromFloat(&num, &v);
          if (st != TWSUCCESS && st != TWFAIL_OVERFLOW) return LogNamed(st, col.name);
        } else if (k.listFormat == 0 && (own || col.letter == 'N')) {
          TWStream view = View(TWSTREAMFMT_NATIVE, BucketText(s, k));
          const uint32_t st =
              currency ? TWCurrencyFromStream(&cur, &view) : TWNumericFromStream(&num, &view);
          // A number column's own text only feeds these; its failures leave 0 (or the
          // clamped value of an overflow).
          if (own && st != TWSUCCESS &&
              !(st == TWFAIL_OVERFLOW && (TWFieldGetFlags(b.field) & TWFIELDF_TRUNC_DATA)))
            return LogNamed(st, col.name);
        }
        if (currency)
          Put(value, cur);
        else
          Put(value, num);
        *isNull = 0;
        break;
      }
      case TWTYPE_DATETIME:
        Put(value, k.datetime);
        *isNull = 0;
        break;
      case TWTYPE_TEXT:
      case TWTYPE_BINARY: {
        uint32_t st;
        if (k.listFormat != 0)
          st = StoreStream(b, s.slotFirst, row, k.listFormat, k.list);
        else if (col.letter == 'D')
          st = StoreStream(b, s.slotFirst, row, TWSTREAMFMT_NATIVE, std::string_view());
        else
          st = StoreStream(b, s.slotFirst, row, TWSTREAMFMT_NATIVE, BucketText(s, k));
        if (st != TWSUCCESS) return LogNamed(st, col.name);
        break;
      }
      default:
        return LogNamed(TWFAIL_INVALID_TYPE, b.name.empty() ? col.name : b.name);
    }
  }
  return TWSUCCESS;
}

}  // namespace flatrec
