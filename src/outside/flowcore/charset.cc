// Character sets of stream formats: the table from format to iconv name, the per-thread
// cache of iconv descriptors, text conversion and cutting text on a character boundary.
#include <errno.h>
#include <iconv.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "stream_internal.h"

namespace flowcore {
namespace {

struct Charset {
  uint32_t format;
  const char* iconvName;
  bool ebcdic;
};

constexpr const char kUtf8[] = "UTF-8";
constexpr const char kUtf16[] = "UTF-16LE";
constexpr const char kAscii[] = "ASCII";
constexpr const char kUtf32[] = "UTF-32LE";

// Sorted by format. The UTF-8 and UTF-16 formats and base64 are handled apart. Formats that
// share a value (aliases) have one row; sets iconv does not know have none.
constexpr Charset kCharsets[] = {
    {TWSTREAMFMT_CP851, "CP851", false},
    {TWSTREAMFMT_CP852, "CP852", false},
    {TWSTREAMFMT_CP857, "CP857", false},
    {TWSTREAMFMT_CP862, "CP862", false},
    {TWSTREAMFMT_CP864, "CP864", false},
    {TWSTREAMFMT_CP866, "CP866", false},
    {TWSTREAMFMT_CP437, "CP437", false},
    {TWSTREAMFMT_CP850, "CP850", false},
    {TWSTREAMFMT_CP855, "CP855", false},
    {TWSTREAMFMT_CP860, "CP860", false},
    {TWSTREAMFMT_CP861, "CP861", false},
    {TWSTREAMFMT_CP863, "CP863", false},
    {TWSTREAMFMT_CP865, "CP865", false},
    {TWSTREAMFMT_CP869, "CP869", false},
    {TWSTREAMFMT_CP932, "CP932", false},
    {TWSTREAMFMT_CP891, "CP891", false},
    {TWSTREAMFMT_DECMCS, "DEC-MCS", false},
    {TWSTREAMFMT_EUC, "EUC-JP", false},
    {TWSTREAMFMT_CP949, "CP949", false},
    {TWSTREAMFMT_CP950, "CP950", false},
    {TWSTREAMFMT_CP936, "GBK", false},
    {TWSTREAMFMT_NECESJIS, "CP932", false},
    {TWSTREAMFMT_ASCII, kAscii, false},
    {TWSTREAMFMT_ISO88591, "ISO-8859-1", false},
    {TWSTREAMFMT_ISO88592, "ISO-8859-2", false},
    {TWSTREAMFMT_ISO88593, "ISO-8859-3", false},
    {TWSTREAMFMT_ISO88594, "ISO-8859-4", false},
    {TWSTREAMFMT_ISO88595, "ISO-8859-5", false},
    {TWSTREAMFMT_ISO88596, "ISO-8859-6", false},
    {TWSTREAMFMT_ISO88597, "ISO-8859-7", false},
    {TWSTREAMFMT_ISO88598, "ISO-8859-8", false},
    {TWSTREAMFMT_ISO88599, "ISO-8859-9", false},
    {TWSTREAMFMT_HPROMAN, "HP-ROMAN8", false},
    {TWSTREAMFMT_HPGREEK, "HP-GREEK8", false},
    {TWSTREAMFMT_HPTURKISH, "HP-TURKISH8", false},
    {TWSTREAMFMT_HPTHAI, "HP-THAI8", false},
    {TWSTREAMFMT_CP37, "IBM037", true},
    {TWSTREAMFMT_CP273, "IBM273", true},
    {TWSTREAMFMT_CP278, "IBM278", true},
    {TWSTREAMFMT_CP280, "IBM280", true},
    {TWSTREAMFMT_CP284, "IBM284", true},
    {TWSTREAMFMT_CP285, "IBM285", true},
    {TWSTREAMFMT_CP290, "IBM290", true},
    {TWSTREAMFMT_CP297, "IBM297", true},
    {TWSTREAMFMT_CP500, "IBM500", true},
    {TWSTREAMFMT_CP930, "IBM930", true},
    {TWSTREAMFMT_CP939, "IBM939", true},
    {TWSTREAMFMT_CP277, "IBM277", true},
    {TWSTREAMFMT_CP1250, "CP1250", false},
    {TWSTREAMFMT_CP1251, "CP1251", false},
    {TWSTREAMFMT_CP1252, "CP1252", false},
    {TWSTREAMFMT_CP1253, "CP1253", false},
    {TWSTREAMFMT_CP1254, "CP1254", false},
    {TWSTREAMFMT_CP1255, "CP1255", false},
    {TWSTREAMFMT_CP1256, "CP1256", false},
    {TWSTREAMFMT_CP1257, "CP1257", false},
    {TWSTREAMFMT_MACSCRIPT0, "MACINTOSH", false},
    {TWSTREAMFMT_MACSCRIPT29, "MAC-CENTRALEUROPE", false},
    {TWSTREAMFMT_MACSCRIPT0ICELANDIC, "MAC-IS", false},
    {TWSTREAMFMT_CP874, "CP874", false},
    {TWSTREAMFMT_UTF7, "UTF-7", false},
    {TWSTREAMFMT_DECNRCUK, "ISO646-GB", false},
    {TWSTREAMFMT_DECNRCFINNISH, "ISO646-FI", false},
    {TWSTREAMFMT_DECNRCFRENCH, "ISO646-FR", false},
    {TWSTREAMFMT_DECNRCFRENCHCANADIAN, "ISO646-CA", false},
    {TWSTREAMFMT_DECNRCGERMAN, "ISO646-DE", false},
    {TWSTREAMFMT_DECNRCITALIAN, "ISO646-IT", false},
    {TWSTREAMFMT_DECNRCNORWEGIANDANISH, "ISO646-NO", false},
    {TWSTREAMFMT_DECNRCPORTUGUESE, "ISO646-PT", false},
    {TWSTREAMFMT_DECNRCSPANISH, "ISO646-ES", false},
    {TWSTREAMFMT_DECNRCSWEDISH, "ISO646-SE", false},
    {TWSTREAMFMT_T61, "T.61-8BIT", false},
    {TWSTREAMFMT_T50, "ISO_646.IRV:1991", false},
    {TWSTREAMFMT_CP856, "IBM856", false},
    {TWSTREAMFMT_CP1004, "IBM1004", false},
    {TWSTREAMFMT_CP1025, "IBM1025", true},
    {TWSTREAMFMT_CP1026, "IBM1026", true},
    {TWSTREAMFMT_CP256, "IBM256", true},
    {TWSTREAMFMT_CP274, "IBM274", true},
    {TWSTREAMFMT_CP275, "IBM275", true},
    {TWSTREAMFMT_CP281, "IBM281", true},
    {TWSTREAMFMT_CP423, "IBM423", true},
    {TWSTREAMFMT_CP424, "IBM424", true},
    {TWSTREAMFMT_CP803, "IBM803", true},
    {TWSTREAMFMT_CP870, "IBM870", true},
    {TWSTREAMFMT_CP871, "IBM871", true},
    {TWSTREAMFMT_CP875, "IBM875", true},
    {TWSTREAMFMT_CP880, "IBM880", true},
    {TWSTREAMFMT_CP905, "IBM905", true},
    {TWSTREAMFMT_CP937, "IBM937", true},
    {TWSTREAMFMT_CP935, "IBM935", true},
    {TWSTREAMFMT_JIS, "ISO-2022-JP", false},
    {TWSTREAMFMT_CP737, "CP737", false},
    {TWSTREAMFMT_CP775, "CP775", false},
    {TWSTREAMFMT_ISO6937, "ISO6937", false},
    {TWSTREAMFMT_EUCJ, "EUC-JP", false},
    {TWSTREAMFMT_EUCT, "EUC-TW", false},
    {TWSTREAMFMT_EUCK, "EUC-KR", false},
    {TWSTREAMFMT_EUCC, "EUC-CN", false},
};

constexpr bool Sorted() {
  for (size_t i = 1; i < std::size(kCharsets); ++i)
    if (kCharsets[i - 1].format >= kCharsets[i].format) return false;
  return true;
}
static_assert(Sorted(), "the character-set table is searched by halves");

const Charset* FindCharset(uint32_t format) {
  const Charset* end = std::end(kCharsets);
  const Charset* it = std::lower_bound(std::begin(kCharsets), end, format,
                                       [](const Charset& c, uint32_t f) { return c.format < f; });
  return it != end && it->format == format ? it : nullptr;
}

// The iconv name of a character-set format; null when there is no converter.
const char* IconvName(uint32_t format) {
  if (IsUtf8Format(format)) return kUtf8;
  if (IsUtf16Format(format)) return kUtf16;
  if (format == TWSTREAMFMT_BASE64) return kAscii;
  const Charset* c = FindCharset(format);
  return c ? c->iconvName : nullptr;
}

const iconv_t kNoDescriptor = reinterpret_cast<iconv_t>(-1);

// Descriptors opened by this thread, kept until it ends: opening one costs far more than
// converting a value.
class IconvCache {
 public:
  ~IconvCache() {
    for (Entry& e : entries_)
      if (e.cd != kNoDescriptor) iconv_close(e.cd);
  }
  // A descriptor reset to its initial state, or kNoDescriptor when iconv has no such
  // conversion.
  iconv_t Get(const char* from, const char* to) {
    ++clock_;
    Entry* victim = &entries_[0];
    for (Entry& e : entries_) {
      if (e.from == from && e.to == to) {
        e.used = clock_;
        if (e.cd != kNoDescriptor) iconv(e.cd, nullptr, nullptr, nullptr, nullptr);
        return e.cd;
      }
      if (e.used < victim->used) victim = &e;
    }
    if (victim->cd != kNoDescriptor) iconv_close(victim->cd);
    victim->from = from;
    victim->to = to;
    victim->used = clock_;
    victim->cd = iconv_open(to, from);
    return victim->cd;
  }

 private:
  struct Entry {
    const char* from = nullptr;
    const char* to = nullptr;
    iconv_t cd = kNoDescriptor;
    uint64_t used = 0;
  };
  std::array<Entry, 12> entries_{};
  uint64_t clock_ = 0;
};

IconvCache& Cache() {
  thread_local IconvCache cache;
  return cache;
}

}  // namespace

bool IsUtf8Format(uint32_t format) {
  return format == TWSTREAMFMT_NATIVE || format == TWSTREAMFMT_QMBCS || format == TWSTREAMFMT_UTF8;
}

bool IsUtf16Format(uint32_t format) {
  return format == TWSTREAMFMT_UNICODE;
}

uint8_t BlankByte(uint32_t format) {
  const Charset* c = FindCharset(format);
  return c && c->ebcdic ? 0x40 : 0x20;
}

Kind KindOf(uint32_t format) {
  switch (format) {
    case TWSTREAMFMT_BLOB:
      return Kind::kBlob;
    case TWSTREAMFMT_COMPOSITE:
      return Kind::kComposite;
    case TWSTREAMFMT_TEXT_LIST:
      return Kind::kTextList;
    case TWSTREAMFMT_NUMBER_LIST:
      return Kind::kNumberList;
    case TWSTREAMFMT_DATETIME_LIST:
      return Kind::kDatetimeList;
    case TWSTREAMFMT_BASE64:
      return Kind::kBase64;
    default:
      return (format & TWSTREAMFMTF_BINARY) ? Kind::kOtherBinary : Kind::kText;
  }
}

uint32_t Transcode(const uint8_t* in, size_t n, uint32_t from, uint32_t to, ByteBuf& out) {
  if (from == to || (IsUtf8Format(from) && IsUtf8Format(to))) {
    out.append(in, n);
    return TWSUCCESS;
  }
  const char* fromName = IconvName(from);
  const char* toName = IconvName(to);
  if (fromName == nullptr || toName == nullptr) return TWFAIL_INVALID_CONVERT;
  iconv_t cd = Cache().Get(fromName, toName);
  if (cd == kNoDescriptor) return TWFAIL_INVALID_CONVERT;

  const size_t start = out.size();
  out.reserve(start + n * 2 + 16);
  char* src = reinterpret_cast<char*>(const_cast<uint8_t*>(in));
  size_t srcLeft = n;
  // The first pass converts the text; the second (null input) writes the closing shift
  // sequence of a stateful set.
  for (bool flushing = false;;) {
    size_t room = out.capacity() - out.size();
    char* dst = reinterpret_cast<char*>(out.data() + out.size());
    size_t dstLeft = room;
    size_t r = flushing ? iconv(cd, nullptr, nullptr, &dst, &dstLeft)
                        : iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    out.resize(out.size() + (room - dstLeft));
    if (r == static_cast<size_t>(-1)) {
      if (errno == E2BIG) {
        out.reserve(out.capacity() * 2 + 16);
        continue;
      }
      out.resize(start);
      return TWFAIL_TEXT_TRANSLATE;
    }
    // A positive count is characters replaced by look-alikes: never silently accepted.
    if (r != 0) {
      out.resize(start);
      return TWFAIL_TEXT_TRANSLATE;
    }
    if (flushing) return TWSUCCESS;
    flushing = true;
  }
}

uint32_t CutLength(uint32_t format, const uint8_t* bytes, size_t n, size_t limit, size_t* cut) {
  if (n <= limit) {
    *cut = n;
    return TWSUCCESS;
  }
  switch (KindOf(format)) {
    case Kind::kComposite:
    case Kind::kTextList:
    case Kind::kNumberList:
    case Kind::kDatetimeList:
      return TWFAIL_OVERFLOW;
    case Kind::kBlob:
    case Kind::kOtherBinary:
      *cut = limit;
      return TWSUCCESS;
    case Kind::kBase64:
      *cut = limit & ~size_t{3};
      return TWSUCCESS;
    case Kind::kText:
      break;
  }
  if (IsUtf8Format(format)) {
    // Back up to the lead byte of the character that straddles the limit; a run of more
    // than three continuation bytes is not UTF-8 and is cut where it stands.
    size_t c = limit;
    for (int back = 0; back < 3 && c > 0 && (bytes[c] & 0xC0) == 0x80; ++back) --c;
    *cut = (bytes[c] & 0xC0) == 0x80 ? limit : c;
    return TWSUCCESS;
  }
  if (IsUtf16Format(format)) {
    size_t c = limit & ~size_t{1};
    if (c >= 2) {
      unsigned unit = bytes[c - 2] | (bytes[c - 1] << 8);
      if (unit >= 0xD800 && unit <= 0xDBFF) c -= 2;
    }
    *cut = c;
    return TWSUCCESS;
  }
  const char* name = IconvName(format);
  iconv_t cd = name ? Cache().Get(name, kUtf32) : kNoDescriptor;
  if (cd == kNoDescriptor) {
    *cut = limit;
    return TWSUCCESS;
  }
  // Decode the first limit bytes; iconv stops before a character that is incomplete there.
  char* src = reinterpret_cast<char*>(const_cast<uint8_t*>(bytes));
  size_t srcLeft = limit;
  char sink[512];
  for (;;) {
    char* dst = sink;
    size_t dstLeft = sizeof sink;
    if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) != static_cast<size_t>(-1)) break;
    if (errno != E2BIG) break;
  }
  *cut = limit - srcLeft;
  return TWSUCCESS;
}

}  // namespace flowcore
