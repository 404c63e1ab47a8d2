// Record output of the text-file connector: each record is laid out in an area pre-filled
// with the fill byte (columns at their START, values placed as text, numbers or lists), then
// written together with the delimiter that precedes it.
#include <bit>
#include <cmath>
#include <cstring>

#include "connection.h"
#include "numbers.h"
#include "text_util.h"
#include "tw/coding.h"

namespace flatrec {

namespace {

bool IsUtf8Format(uint32_t format) {
  return format == TWSTREAMFMT_NATIVE || format == TWSTREAMFMT_QMBCS ||
         format == TWSTREAMFMT_UTF8 || format == 0;
}

// Bytes before n that begin a character: a cut never splits a UTF-8 sequence.
size_t CharBoundary(std::string_view text, size_t n) {
  while (n > 0 && n < text.size() && (static_cast<uint8_t>(text[n]) & 0xC0) == 0x80) --n;
  return n;
}

// The layout of one record in the area.
class Layout {
 public:
  explicit Layout(Session& s) : s_(s), area_(s.area.data()), limit_(s.settings.limit) {}

  size_t pos() const { return pos_; }
  bool overflow() const { return overflow_; }
  // The record's bytes: up to the final write position, never past the area's last byte
  // but one.
  std::string_view record() const {
    return std::string_view(area_, pos_ < limit_ ? pos_ : (limit_ > 0 ? limit_ - 1 : 0));
  }

  // A START moves the write position; one beyond the area is an overflow.
  bool MoveTo(int64_t start) {
    if (start - 1 >= static_cast<int64_t>(limit_)) {
      overflow_ = true;
      return false;
    }
    pos_ = static_cast<size_t>(start - 1);
    return true;
  }
  size_t Remaining() const { return pos_ < limit_ ? limit_ - pos_ : 0; }
  void SetOverflow() { overflow_ = true; }

  // A write that would reach the area's last byte is an overflow: what fits is written.
  bool Put(const char* data, size_t n) {
    if (pos_ + n >= limit_) {
      const size_t fit = pos_ + 1 < limit_ ? limit_ - 1 - pos_ : 0;
      Copy(data, fit);
      overflow_ = true;
      return false;
    }
    Copy(data, n);
    return true;
  }
  // Put of one byte.
  bool PutChar(char c) {
    if (pos_ + 1 >= limit_) {
      overflow_ = true;
      return false;
    }
    CopyChar(c);
    return true;
  }
  bool Skip(size_t n) {
    if (pos_ + n >= limit_) {
      pos_ = limit_ > 0 ? limit_ - 1 : 0;
      overflow_ = true;
      return false;
    }
    pos_ += n;
    return true;
  }
  bool PutText(const Column& col, std::string_view text) {
    const size_t l = text.size();
    if (col.width == 0) return Put(text.data(), l);
    if (col.right) {
      if (l < col.width) return Skip(col.width - l) && Put(text.data(), l);
      size_t from = l - col.width;
      size_t adjusted = from;
      while (adjusted < l && (static_cast<uint8_t>(text[adjusted]) & 0xC0) == 0x80) ++adjusted;
      return Skip(adjusted - from) && Put(text.data() + adjusted, l - adjusted);
    }
    const size_t n = l < col.width ? l : CharBoundary(text, col.width);
    return Put(text.data(), n);
  }
  bool PutNumber(const Column& col, const NumberText& number) {
    const size_t l = number.length();
    if (col.width > 0 && col.width < l) return PutNumberPart(number, l - col.width, col.width);
    if (col.width > 0 && !Skip(col.width - l)) return false;
    return PutNumberPart(number, 0, l);
  }
  void Restore(Tracer& tr) {
    Routine routine(tr, "ZPClear: ");
    const size_t n = s_.dirty < limit_ ? s_.dirty : limit_;
    std::memset(area_, Fill(), n);
    s_.dirty = 0;
    routine.Exit(TWSUCCESS);
  }
  char Fill() const { return s_.settings.fill.empty() ? '\0' : s_.settings.fill[0]; }

 private:
  void Copy(const char* data, size_t n) {
    CopyBytes(area_ + pos_, data, n);
    pos_ += n;
    if (pos_ > s_.dirty) s_.dirty = pos_;
  }
  void CopyChar(char c) {
    area_[pos_++] = c;
    if (pos_ > s_.dirty) s_.dirty = pos_;
  }
  bool PutNumberPart(const NumberText& number, size_t from, size_t n) {
    if (pos_ + n >= limit_) {
      overflow_ = true;
      n = pos_ + 1 < limit_ ? limit_ - 1 - pos_ : 0;
    }
    // Sign, padding and body are written piece by piece: a zero fill may be 60000 wide.
    size_t i = from;
    const size_t end = from + n;
    const size_t signLength = number.sign ? 1 : 0;
    if (i < end && i < signLength) {
      CopyChar(number.sign);
      ++i;
    }
    if (i < end && i < signLength + number.pad) {
      const size_t pads = (signLength + number.pad < end ? signLength + number.pad : end) - i;
      std::memset(area_ + pos_, number.padChar, pads);
      pos_ += pads;
      if (pos_ > s_.dirty) s_.dirty = pos_;
      i += pads;
    }
    if (i < end) Copy(number.body + (i - signLength - number.pad), end - i);
    return !overflow_;
  }

  Session& s_;
  char* area_;
  size_t limit_;
  size_t pos_ = 0;
  bool overflow_ = false;
};

// The datetime as text: the engine's own text without FORMAT (at most 254 characters), else
// the FORMAT's.
[[nodiscard]] uint32_t DateText(Tracer& tr, Session& s, const Column& col, const TWDatetime& value,
                                std::string_view* out) {
  Routine routine(tr, "ZPFormatTextDate: ");
  if (!col.format.empty()) {
    if (uint32_t st = FormatDate(value, col.dateFormat, s.settings.names, &s.format, &s.zones))
      return routine.Exit(st);
    *out = s.format;
    return routine.Exit(TWSUCCESS);
  }
  if (uint32_t st = TWStreamFromDatetime(&s.dateText, &value, TWSTREAMFMT_NATIVE))
    return routine.Exit(st);
  size_t n = s.dateText.length < 254 ? s.dateText.length : 254;
  *out = std::string_view(static_cast<const char*>(s.dateText.data), n);
  return routine.Exit(TWSUCCESS);
}

void TextFromFloat(Tracer& tr, double value, const Column& col, NumberText* out) {
  Routine routine(tr, "ZPFormatTextFromFloat: ");
  FormatNumber(value, col, out);
  routine.Exit(TWSUCCESS);
}

// A list's entries, each prefixed (from the second on) by the separator, within the room
// left before the area end and inside WIDTH.
[[nodiscard]] uint32_t PutList(Tracer& tr, Session& s, Layout& out, const Column& col,
                               uint32_t format, std::string_view bytes) {
  size_t room = out.Remaining();
  if (col.width > 0 && col.width < room) room = col.width;
  size_t used = 0;
  tw::Reader r(bytes.data(), bytes.size());
  uint16_t count = 0, ranges = 0;
  const uint32_t invalid = format == TWSTREAMFMT_TEXT_LIST     ? TWFAIL_INVALID_TEXT_LIST
                           : format == TWSTREAMFMT_NUMBER_LIST ? TWFAIL_INVALID_NUMBER_LIST
                                                               : TWFAIL_INVALID_DATETIME_LIST;
  if (!r.u16(&count)) return bytes.empty() ? TWSUCCESS : invalid;
  std::string_view lengths;
  if (format == TWSTREAMFMT_TEXT_LIST) {
    if (!r.bytes(2u * count, &lengths)) return invalid;
  } else if (!r.u16(&ranges)) {
    return invalid;
  }
  auto emit = [&](const char* data, size_t n) {
    const size_t fit = n < room - used ? n : room - used;
    out.Put(data, fit);
    used += fit;
  };
  // emit of one byte, where room is left for it.
  auto emitChar = [&](char c) {
    out.PutChar(c);
    ++used;
  };
  NumberText number;
  for (uint16_t k = 0; k < count && used < room && !out.overflow(); ++k) {
    if (k > 0) {
      if (!col.sep.empty() && col.sep.size() <= room - used)
        emit(col.sep.data(), col.sep.size());
      else
        emitChar(';');
    }
    if (format == TWSTREAMFMT_TEXT_LIST) {
      std::string_view entry;
      if (!r.bytes(tw::get_u16(lengths.data() + 2 * k), &entry)) return invalid;
      emit(entry.data(), entry.size());
    } else if (format == TWSTREAMFMT_NUMBER_LIST) {
      uint64_t bits = 0;
      if (!r.u64(&bits)) return invalid;
      TextFromFloat(tr, std::bit_cast<double>(bits), col, &number);
      const size_t l = number.length();
      const size_t fit = l < room - used ? l : room - used;
      for (size_t i = l - fit; i < l; ++i) {
        emitChar(number.at(i));
      }
    } else {
      TWDatetime d{};
      if (!r.u32(&d.ticks) || !r.u32(&d.date)) return invalid;
      std::string_view text;
      if (uint32_t st = DateText(tr, s, col, d, &text)) return st;
      emit(text.data(), text.size());
    }
  }
  // Filling the room up to the area's end has overflowed through Put.
  return TWSUCCESS;
}

const char* TypeTrace(uint32_t type, uint32_t format) {
  switch (type) {
    case TWTYPE_INT:
      return "TWTYPE_INT";
    case TWTYPE_CURRENCY:
      return "TWTYPE_CURRENCY";
    case TWTYPE_NUMERIC:
      return "TWTYPE_NUMERIC";
    case TWTYPE_FLOAT:
      return "TWTYPE_FLOAT";
    case TWTYPE_DATETIME:
      return "TWTYPE_DATETIME";
    case TWTYPE_TEXT:
      return "TWTYPE_TEXT";
    case TWTYPE_BINARY:
      switch (format) {
        case TWSTREAMFMT_BLOB:
          return "TWTYPE_BINARY BLOB";
        case TWSTREAMFMT_COMPOSITE:
          return "TWTYPE_BINARY COMPOSITE";
        case TWSTREAMFMT_TEXT_LIST:
          return "TWTYPE_BINARY TEXT_LIST";
        case TWSTREAMFMT_NUMBER_LIST:
          return "TWTYPE_BINARY NUMBER LIST";
        case TWSTREAMFMT_DATETIME_LIST:
          return "TWTYPE_BINARY DATETIME LIST";
        default:
          return nullptr;
      }
    default:
      return nullptr;
  }
}

// Places the value of one column: its VALUE (placeholder), nothing or zeros (no field or a
// null value), or the bound field's value by its type.
[[nodiscard]] uint32_t PutValue(Connection& c, Session& s, Layout& out, const Column& col,
                                const FieldBinding* b, uint32_t row) {
  NumberText number;
  if (col.placeholder) {
    if (!col.hasValue) return TWSUCCESS;
    std::string_view v = col.value;
    if (col.width > 0 && v.size() > col.width) v = v.substr(0, CharBoundary(v, col.width));
    out.Put(v.data(), v.size());
    return TWSUCCESS;
  }
  void* value = nullptr;
  int32_t* isNull = nullptr;
  if (b != nullptr) {
    if (uint32_t st = b->slots.Get(row, &value, &isNull)) return st;
  }
  if (b == nullptr || *isNull != 0) {
    if (col.width == 0) return TWSUCCESS;
    if (col.zerofill) {
      TextFromFloat(c.tracer, 0.0, col, &number);
      out.PutNumber(col, number);
    } else {
      out.Skip(col.width);
    }
    return TWSUCCESS;
  }
  const TWStream* stream = b->type == TWTYPE_TEXT || b->type == TWTYPE_BINARY
                               ? static_cast<const TWStream*>(value)
                               : nullptr;
  if (c.tracer.On(Tracer::kDetail)) {
    const char* what = TypeTrace(b->type, stream != nullptr ? stream->format : 0);
    if (what != nullptr) c.tracer.Printf("Fieldname:%s, %s", col.name.c_str(), what);
  }
  double d = 0;
  switch (b->type) {
    case TWTYPE_INT: {
      int32_t v;
      std::memcpy(&v, value, sizeof v);
      d = v;
      break;
    }
    case TWTYPE_FLOAT:
      std::memcpy(&d, value, sizeof d);
      break;
    case TWTYPE_CURRENCY:
    case TWTYPE_NUMERIC: {
      // From the exact decimal digits: a double keeps only fifteen or so of a currency's
      // nineteen or a numeric's eighty-eight.
      const uint32_t st =
          b->type == TWTYPE_CURRENCY
              ? TWStreamFromCurrency(&s.numberText, static_cast<const TWCurrency*>(value),
                                     TWSTREAMFMT_NATIVE)
              : TWStreamFromNumeric(&s.numberText, static_cast<const TWNumeric*>(value),
                                    TWSTREAMFMT_NATIVE);
      if (st != TWSUCCESS) return st;
      const std::string_view text(static_cast<const char*>(s.numberText.data),
                                  s.numberText.data != nullptr ? s.numberText.length : 0);
      if (!FormatDecimal(text, col, &number)) return TWFAIL_OVERFLOW;
      out.PutNumber(col, number);
      return TWSUCCESS;
    }
    case TWTYPE_DATETIME: {
      TWDatetime dt;
      std::memcpy(&dt, value, sizeof dt);
      std::string_view text;
      if (uint32_t st = DateText(c.tracer, s, col, dt, &text)) return st;
      out.PutText(col, text);
      return TWSUCCESS;
    }
    case TWTYPE_TEXT:
    case TWTYPE_BINARY: {
      const uint32_t format = stream->format;
      const bool text = b->type == TWTYPE_TEXT;
      if (!text && (format == TWSTREAMFMT_TEXT_LIST || format == TWSTREAMFMT_NUMBER_LIST ||
                    format == TWSTREAMFMT_DATETIME_LIST))
        return PutList(c.tracer, s, out, col, format,
                       std::string_view(static_cast<const char*>(stream->data), stream->length));
      if (!text && format != TWSTREAMFMT_COMPOSITE) return TWSUCCESS;
      std::string_view bytes(static_cast<const char*>(stream->data), stream->length);
      if (!(text && IsUtf8Format(format))) {
        // Text of another character set, and composite values, become native text first.
        void* data = nullptr;
        uint32_t length = 0;
        Routine convert(c.tracer, "ZPConvertCompositeToText: ");
        if (uint32_t st = TWStreamDataConvert(&s.convText, stream, TWCONVERTF_PRESERVE,
                                              TWSTREAMFMT_NATIVE, &data, &length))
          return convert.Exit(st);
        convert.Exit(TWSUCCESS);
        bytes = std::string_view(static_cast<const char*>(data), length);
      }
      out.PutText(col, bytes);
      return TWSUCCESS;
    }
    default:
      if (c.tracer.On(Tracer::kDetail))
        c.tracer.Printf("Fieldname:%s, Unknown Type", col.name.c_str());
      return TWFAIL_INVALID_TYPE;
  }
  if (col.isUnsigned) d = std::fabs(d);
  TextFromFloat(c.tracer, d, col, &number);
  out.PutNumber(col, number);
  return TWSUCCESS;
}

}  // namespace

uint32_t WriteRecord(Connection& c, TWFIELDLIST list, uint32_t row) {
  Session& s = *c.session;
  Tracer& tr = c.tracer;
  for (const FieldBinding& b : s.bindings) {
    if (b.error == TWFAIL_FIELD_COUNT_MISMATCH)
      return TWActivityLogEx(b.error, TWFieldlistGetCount(list),
                             static_cast<uint32_t>(s.zid.columns.size()), 0, nullptr, nullptr,
                             nullptr);
    if (b.error != TWSUCCESS)
      return b.name.empty() ? TWActivityLogEx(b.error, 0, 0, 0, nullptr, nullptr, nullptr)
                            : LogNamed(b.error, b.name);
  }
  Layout out(s);
  const std::vector<Column>& cols = s.zid.columns;
  uint32_t status = TWSUCCESS;
  size_t stop = cols.size();
  for (size_t i = 0; i < cols.size(); ++i) {
    const Column& col = cols[i];
    if (col.start > 0 && !out.MoveTo(col.start)) {
      stop = i;
      break;
    }
    if (out.Remaining() < col.width) {
      if (tr.On(Tracer::kDetail))
        tr.Printf("Unable to export %s for %s, field exceeds maximum record length (%lu)",
                  col.name.c_str(), c.RecordLabel().c_str(),
                  static_cast<unsigned long>(s.settings.limit));
      out.SetOverflow();
      stop = i;
      break;
    }
    if (tr.On(Tracer::kDetail))
      tr.Printf("Exporting field=%s, @ dsp=%d", col.name.c_str(), static_cast<int>(out.pos()));
    if (col.quotes) out.PutChar('"');
    const int bi = s.columnBinding[i];
    const FieldBinding* b = bi >= 0 ? &s.bindings[static_cast<size_t>(bi)] : nullptr;
    status = PutValue(c, s, out, col, b, row);
    if (status != TWSUCCESS || out.overflow()) {
      stop = i;
      break;
    }
    if (col.quotes) out.PutChar('"');
    if (col.termKind == TermKind::kUntil || col.termKind == TermKind::kDelim)
      out.Put(col.term.data(), col.term.size());
    if (out.overflow()) {
      stop = i;
      break;
    }
  }
  if (status != TWSUCCESS) {
    out.Restore(c.tracer);
    return LogNamed(status, cols[stop].name);
  }
  if (out.overflow()) {
    const Column& col = cols[stop];
    if (tr.On(Tracer::kDetail))
      tr.Printf("ZM WARNING: Field area %s exceeds record area", col.name.c_str());
    const int bi = s.columnBinding[stop];
    const bool truncate = bi >= 0 && (TWFieldGetFlags(s.bindings[static_cast<size_t>(bi)].field) &
                                      TWFIELDF_TRUNC_DATA);
    if (!truncate) {
      // A record that does not fit is not written cut short.
      out.Restore(c.tracer);
      return LogNamed(TWFAIL_OVERFLOW, col.name);
    }
  }
  const std::string_view record = out.record();
  bool ok = true;
  if (s.needDelimiter && !s.settings.delimiter.empty()) ok = s.writer.Write(s.settings.delimiter);
  ok = ok && s.writer.Write(record);
  if (ok) s.writer.EndRecord();
  if (tr.On(Tracer::kDetail)) {
    tr.Printf("%s", c.RecordLabel().c_str());
    tr.Dump(record);
  }
  out.Restore(c.tracer);
  if (!ok) return c.WriteFailure(s);
  s.needDelimiter = true;
  return TWSUCCESS;
}

}  // namespace flatrec
