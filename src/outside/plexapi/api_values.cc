// The API's pure value calls: text translation, value conversion, text lists, the country
// settings, environment strings and date-times.
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform.h"
#include "plexapi.h"
#include "session.h"
#include "timedate.h"
#include "tw/coding.h"
#include "value.h"

namespace plexa {
namespace {

// The bytes a list of kind occupies at p when the caller gives no length: read from its own
// count words, which is all a caller without a length can mean.
size_t ListSizeAt(uint32_t kind, const uint8_t* p) {
  const size_t count = tw::get_u16(p);
  if (kind == GVTYPE_TEXT_LIST) {
    size_t size = 2 + 2 * count;
    for (size_t i = 0; i < count; ++i) size += tw::get_u16(p + 2 + 2 * i);
    return size;
  }
  return 4 + 8 * count + 16 * size_t{tw::get_u16(p + 2)};
}

// The value a caller passes as kind at value with length bytes.
[[nodiscard]] uint32_t ReadPassed(uint32_t kind, const void* value, uint32_t length, Value& out) {
  if (value == nullptr) return GVERR_INVALID_ARGUMENT;
  const auto* p = static_cast<const uint8_t*>(value);
  size_t size = length;
  switch (kind) {
    case GVTYPE_NUMBER:
    case GVTYPE_TIME:
      size = 8;
      break;
    case GVTYPE_TEXT:
      if (length == 0) size = std::strlen(static_cast<const char*>(value));
      break;
    case GVTYPE_TEXT_LIST:
    case GVTYPE_NUMBER_LIST:
    case GVTYPE_TIME_LIST:
      if (length == 0) size = ListSizeAt(kind, p);
      break;
    case GVTYPE_COMPOSITE:
    case GVTYPE_OTHER:
      break;
    default:
      return GVERR_ITEM_KIND;
  }
  return DecodeKind(kind, std::span<const uint8_t>(p, size), out);
}

// The bytes GVConvert delivers for value into toType (a text without its NUL).
[[nodiscard]] uint32_t Converted(uint32_t fromType, const void* value, uint32_t length,
                                 uint32_t toType, std::vector<uint8_t>& out) {
  if (toType < GVTYPE_NUMBER || toType > GVTYPE_OTHER) return GVERR_ITEM_KIND;
  Value in;
  if (uint32_t st = ReadPassed(fromType, value, length, in)) return st;
  Value converted;
  if (uint32_t st = Convert(in, toType, converted)) return st;
  return EncodeKind(converted, out);
}

[[nodiscard]] uint32_t CopyOut(std::string_view text, char* buffer, uint32_t capacity) {
  if (buffer == nullptr) return GVERR_INVALID_ARGUMENT;
  if (capacity == 0) return GVERR_BUFFER_TOO_SMALL;
  const size_t n = Utf8Cut(text, capacity - 1);
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  return 0;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return FoldAscii(a) == FoldAscii(b);
}

}  // namespace
}  // namespace plexa

using plexa::Api;
using plexa::ApiSession;
using plexa::ApiValue;

extern "C" {

GV_API uint32_t GVTranslate(uint32_t direction, uint32_t textLength, const char* text,
                            uint32_t capacity, char* result, uint32_t* resultLength) {
  return Api([&]() -> uint32_t {
    if (direction != GVTRANSLATE_TO_PLEXA && direction != GVTRANSLATE_TO_LOCAL)
      return GVERR_INVALID_ARGUMENT;
    if (text == nullptr && textLength != 0) return GVERR_INVALID_ARGUMENT;
    const std::string_view in =
        text == nullptr ? std::string_view() : std::string_view(text, ::strnlen(text, textLength));
    // Both sets are UTF-8: a copy, cut where a character begins.
    if (uint32_t st = plexa::CopyOut(in, result, capacity)) return st;
    if (resultLength != nullptr) *resultLength = static_cast<uint32_t>(std::strlen(result));
    return 0;
  });
}

GV_API uint32_t GVConvert(uint32_t fromType, const void* value, uint32_t length, uint32_t toType,
                          void* result, uint32_t capacity, uint32_t* resultLength) {
  return Api([&]() -> uint32_t {
    if (result == nullptr) return GVERR_INVALID_ARGUMENT;
    std::vector<uint8_t> bytes;
    if (uint32_t st = plexa::Converted(fromType, value, length, toType, bytes)) return st;
    const bool text = toType == GVTYPE_TEXT;
    if (bytes.size() + (text ? 1 : 0) > capacity) return GVERR_BUFFER_TOO_SMALL;
    if (!bytes.empty()) std::memcpy(result, bytes.data(), bytes.size());
    if (text) static_cast<char*>(result)[bytes.size()] = '\0';
    if (resultLength != nullptr) *resultLength = static_cast<uint32_t>(bytes.size());
    return 0;
  });
}

GV_API uint32_t GVConvertGetLength(uint32_t fromType, const void* value, uint32_t length,
                                   uint32_t toType, uint32_t* resultLength) {
  return Api([&]() -> uint32_t {
    if (resultLength == nullptr) return GVERR_INVALID_ARGUMENT;
    std::vector<uint8_t> bytes;
    if (uint32_t st = plexa::Converted(fromType, value, length, toType, bytes)) return st;
    *resultLength = static_cast<uint32_t>(bytes.size());
    return 0;
  });
}

GV_API uint32_t GVTextListGetCount(const void* list, uint32_t length) {
  return ApiValue<uint32_t>(0, [&]() -> uint32_t {
    if (list == nullptr) return 0;
    plexa::Value v;
    const auto* p = static_cast<const uint8_t*>(list);
    if (plexa::DecodeKind(GVTYPE_TEXT_LIST, std::span<const uint8_t>(p, length), v) != 0) return 0;
    return static_cast<uint32_t>(v.texts.size());
  });
}

GV_API uint32_t GVTextListFetch(const void* list, uint32_t length, uint32_t entry, char* text,
                                uint32_t capacity) {
  return Api([&]() -> uint32_t {
    if (list == nullptr || text == nullptr) return GVERR_INVALID_ARGUMENT;
    plexa::Value v;
    const auto* p = static_cast<const uint8_t*>(list);
    if (plexa::DecodeKind(GVTYPE_TEXT_LIST, std::span<const uint8_t>(p, length), v) != 0)
      return GVERR_INVALID_ARGUMENT;
    if (entry == 0 || entry > v.texts.size()) return GVERR_NO_ENTRY;
    return plexa::CopyOut(v.texts[entry - 1], text, capacity);
  });
}

GV_API uint32_t GVGetInternational(GVInternational* settings) {
  return Api([&]() -> uint32_t {
    if (settings == nullptr) return GVERR_INVALID_ARGUMENT;
    const auto intl = plexa::CurrentInternational();
    const plexa::ZoneDst now = plexa::MachineZoneAtInstant(static_cast<int64_t>(::time(nullptr)));
    GVInternational out;
    std::memset(&out, 0, sizeof out);
    out.flags = (intl->flags & ~GVINTL_DAYLIGHT) | (now.dst ? GVINTL_DAYLIGHT : 0u);
    out.dateOrder = intl->dateOrder;
    // The record counts hours west of UTC.
    out.zone = -now.zone;
    const std::pair<const std::string*, char*> texts[] = {{&intl->am, out.am},
                                                          {&intl->pm, out.pm},
                                                          {&intl->currency, out.currency},
                                                          {&intl->thousands, out.thousands},
                                                          {&intl->decimal, out.decimal},
                                                          {&intl->date, out.date},
                                                          {&intl->time, out.time}};
    // Fixed fields with room: the copy cannot fail, and a longer setting is cut to fit.
    for (const auto& [text, field] : texts) (void)plexa::CopyOut(*text, field, 8);
    *settings = out;
    return 0;
  });
}

GV_API uint32_t GVGetEnvironmentString(const char* name, uint32_t flags, char* text) {
  return ApiSession([&]() -> uint32_t {
    if (name == nullptr || text == nullptr) return GVERR_INVALID_ARGUMENT;
    std::string root = plexa::SettingsRoot();
    std::string value;
    if (plexa::EqualsNoCase(name, "Directory")) {
      if (root.front() != '/') {
        char cwd[4096];
        if (::getcwd(cwd, sizeof cwd) == nullptr) return GVERR_FILE;
        root = std::string(cwd) + "/" + root;
      }
      value = root + "local";
    } else {
      char buf[GV_PATH_SIZE + 1] = {0};
      const std::string file = root + "plexa.ini";
      if (TWINIGetString("Environment", name, buf, sizeof buf, file.c_str()) != 0)
        return plexa::Fail(GVERR_NO_ENTRY, name);
      value = buf;
    }
    // A path is never cut.
    if (value.size() >= GV_PATH_SIZE) return GVERR_BUFFER_TOO_SMALL;
    std::memcpy(text, value.c_str(), value.size() + 1);
    return 0;
  });
}

GV_API uint32_t GVDatetimeCurrent(GVTIMEDATE* now) {
  return Api([&]() -> uint32_t {
    if (now == nullptr) return GVERR_INVALID_ARGUMENT;
    *now = plexa::CurrentTime();
    return 0;
  });
}

GV_API uint32_t GVDatetimeFetch(const GVTIMEDATE* value, GVTIMEPARTS* parts) {
  return Api([&]() -> uint32_t {
    if (value == nullptr || parts == nullptr) return GVERR_INVALID_ARGUMENT;
    return plexa::TimeToParts(*value, *parts);
  });
}

GV_API uint32_t GVDatetimeCreate(const GVTIMEPARTS* parts, GVTIMEDATE* value) {
  return Api([&]() -> uint32_t {
    if (value == nullptr || parts == nullptr) return GVERR_INVALID_ARGUMENT;
    return plexa::TimeFromParts(*parts, *value);
  });
}

GV_API uint32_t GVDatetimeAdjust(GVTIMEDATE* value, const GVTIMEADJUST* amounts) {
  return Api([&]() -> uint32_t {
    if (value == nullptr || amounts == nullptr) return GVERR_INVALID_ARGUMENT;
    return plexa::AdjustTime(*value, *amounts);
  });
}

GV_API uint32_t GVDatetimeCompare(const GVTIMEDATE* value, const GVTIMEDATE* base,
                                  int32_t* result) {
  return Api([&]() -> uint32_t {
    if (value == nullptr || base == nullptr || result == nullptr) return GVERR_INVALID_ARGUMENT;
    return plexa::CompareTimes(*value, *base, *result);
  });
}

GV_API uint32_t GVDatetimeDiff(const GVTIMEDATE* value, const GVTIMEDATE* base, int32_t* seconds) {
  return Api([&]() -> uint32_t {
    if (value == nullptr || base == nullptr || seconds == nullptr) return GVERR_INVALID_ARGUMENT;
    return plexa::DiffSeconds(*value, *base, *seconds);
  });
}

GV_API uint32_t GVDatetimeConstant(uint32_t which, GVTIMEDATE* value) {
  return Api([&]() -> uint32_t {
    if (value == nullptr) return GVERR_INVALID_ARGUMENT;
    return plexa::ConstantTime(which, *value);
  });
}

}  // extern "C"
