// Local date and time, the process's international-format record (time zone, daylight
// saving, separators and symbols), the machine's character set and country, and the
// comparison of release texts.
#include <langinfo.h>
#include <locale.h>
#include <time.h>

#include <cctype>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "env.h"
#include "platform.h"
#include "tw/guard.h"
#include "tw/platstate.h"

static_assert(sizeof(TWIntlFormat) == TWINTL_RECORD_SIZE, "the record crosses processes");
static_assert(offsetof(TWIntlFormat, am) == 16 && offsetof(TWIntlFormat, time) == 76);

namespace {

// Set during start-up, before other threads exist; read from any thread afterwards.
TWIntlFormat* g_intl = nullptr;

void set_text(TWIntlText* field, const char* text) {
  std::memset(field->text, 0, sizeof field->text);
  std::strncpy(field->text, text, sizeof field->text - 1);
}

TWIntlFormat default_format() {
  TWIntlFormat f{};
  f.flags = TWINTL_DAYLIGHT;
  f.format1 = 1;
  f.format2 = 2;
  f.zone = -5;
  set_text(&f.am, "AM");
  set_text(&f.pm, "PM");
  set_text(&f.currency, "$");
  set_text(&f.thousands, ",");
  set_text(&f.decimal, ".");
  set_text(&f.date, "/");
  set_text(&f.time, ":");
  return f;
}

// Each text ends within its 6 bytes, whatever the record held, and the bytes after its NUL
// are cleared so the record's bytes depend only on its values; its length is recounted.
void settle_text(TWIntlText* field) {
  field->text[sizeof field->text - 1] = '\0';
  size_t n = std::strlen(field->text);
  std::memset(field->text + n, 0, sizeof field->text - n);
  field->length = static_cast<int32_t>(n);
}

// ---------------------------------------------------------------- character set, country

// The locale name POSIX would use for a category: LC_ALL, then the category's variable,
// then LANG.
std::string locale_name(const char* categoryVariable) {
  for (const char* var : {"LC_ALL", categoryVariable, "LANG"}) {
    const char* v = std::getenv(var);
    if (v != nullptr && *v != '\0') return v;
  }
  return "C";
}

std::string upper_alnum(std::string_view s) {
  std::string out;
  for (char c : s)
    if (std::isalnum(static_cast<unsigned char>(c)))
      out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// The code page that names a character set, compared without case and punctuation
// ("UTF-8", "utf8"); 0 for one without a number.
int32_t code_page_of(std::string_view codeset) {
  static constexpr struct {
    const char* name;
    int32_t page;
  } kPages[] = {
      {"UTF8", 65001},     {"ANSIX341968", 20127}, {"ASCII", 20127},    {"USASCII", 20127},
      {"ISO88591", 28591}, {"ISO88592", 28592},    {"ISO88595", 28595}, {"ISO88597", 28597},
      {"ISO88599", 28599}, {"ISO885915", 28605},   {"CP1250", 1250},    {"CP1251", 1251},
      {"CP1252", 1252},    {"WINDOWS1252", 1252},  {"KOI8R", 20866},    {"KOI8U", 21866},
      {"EUCJP", 20932},    {"SHIFTJIS", 932},      {"SJIS", 932},       {"GB2312", 936},
      {"GBK", 936},        {"GB18030", 54936},     {"BIG5", 950},       {"BIG5HKSCS", 950},
      {"EUCKR", 51949},    {"TIS620", 874},
  };
  std::string key = upper_alnum(codeset);
  for (const auto& p : kPages)
    if (key == p.name) return p.page;
  return 0;
}

// The character set of the locale named by the environment: asked of the C library when
// the locale is installed, else read from the name's ".codeset" part; C and POSIX are ASCII.
std::string codeset_of(const std::string& name) {
  if (locale_t loc = ::newlocale(LC_CTYPE_MASK, name.c_str(), nullptr)) {
    std::string codeset = ::nl_langinfo_l(CODESET, loc);
    ::freelocale(loc);
    return codeset;
  }
  size_t dot = name.find('.');
  if (dot == std::string::npos) return "ANSI_X3.4-1968";
  return name.substr(dot + 1, name.find('@', dot) - dot - 1);
}

// The language and territory of a locale name ("de_DE" of "de_DE.UTF-8@euro"); "" for C.
std::string language_of(const std::string& name) {
  std::string lang = name.substr(0, name.find_first_of(".@"));
  if (lang == "C" || lang == "POSIX") return {};
  return lang;
}

// The international dialling code of the locale's territory, as the system's country number
// is: the C library's telephone data when the locale is installed, else a few common
// territories by name; 0 when unknown.
int32_t country_of(const std::string& name) {
  if (locale_t loc = ::newlocale(LC_TELEPHONE_MASK, name.c_str(), nullptr)) {
    int32_t code = std::atoi(::nl_langinfo_l(_NL_TELEPHONE_INT_PREFIX, loc));
    ::freelocale(loc);
    if (code > 0) return code;
  }
  static constexpr struct {
    const char* territory;
    int32_t code;
  } kCountries[] = {
      {"US", 1},   {"CA", 1},   {"GB", 44},  {"DE", 49}, {"FR", 33}, {"IT", 39}, {"ES", 34},
      {"NL", 31},  {"BE", 32},  {"CH", 41},  {"AT", 43}, {"SE", 46}, {"NO", 47}, {"DK", 45},
      {"FI", 358}, {"PT", 351}, {"IE", 353}, {"AU", 61}, {"NZ", 64}, {"JP", 81}, {"CN", 86},
      {"KR", 82},  {"BR", 55},  {"MX", 52},  {"RU", 7},  {"PL", 48}, {"IN", 91}, {"ZA", 27},
  };
  std::string lang = language_of(name);
  size_t us = lang.find('_');
  if (us == std::string::npos) return 0;
  std::string territory = lang.substr(us + 1);
  for (const auto& c : kCountries)
    if (territory == c.territory) return c.code;
  return 0;
}

}  // namespace

namespace tw {

void ReleaseIntlFormat() noexcept {
  delete g_intl;
  g_intl = nullptr;
}

}  // namespace tw

extern "C" {

// The clock is Env's, so that a test can fix "now"; the zone and daylight words are the
// international-format record's (both 0 without one), as every caller's arithmetic expects.
TW_API void TWPlatGetDatetime(TWPlatDatetime* out) {
  if (out == nullptr) return;
  int64_t micros = tw::Env::Default()->NowMicros();
  int64_t seconds = micros / 1000000;
  int64_t fraction = micros % 1000000;
  if (fraction < 0) {
    fraction += 1000000;
    --seconds;
  }
  time_t t = static_cast<time_t>(seconds);
  struct tm local {};
  if (::localtime_r(&t, &local) == nullptr) local = tm{};
  int32_t zone = 0;
  int32_t summer = 0;
  TWPlatGetTimeZone(&zone, &summer);
  *out = TWPlatDatetime{};
  out->year = local.tm_year + 1900;
  out->month = local.tm_mon + 1;
  out->day = local.tm_mday;
  out->unused = 0;
  out->hour = local.tm_hour;
  out->minute = local.tm_min;
  out->second = local.tm_sec;
  out->hundredths = static_cast<int32_t>(fraction / 10000);
  out->zone = zone;
  out->daylight = summer;
}

// Without a record both outputs are set to 0 and 533 is answered.
TW_API uint32_t TWPlatGetTimeZone(int32_t* zone, int32_t* summer) {
  const TWIntlFormat* f = g_intl;
  if (zone != nullptr) *zone = f != nullptr ? f->zone : 0;
  if (summer != nullptr) *summer = f != nullptr && (f->flags & TWINTL_DAYLIGHT) ? 1 : 0;
  return f != nullptr ? TWSUCCESS : TWFAIL_TIMEZONE;
}

TW_API const TWIntlFormat* TWPlatGetIntlFormat(void) {
  return g_intl;
}

TW_API uint32_t TWPlatSetIntlFormat(const TWIntlFormat* record) {
  return tw::guard([&]() -> uint32_t {
    TWIntlFormat f = default_format();
    if (record != nullptr) std::memcpy(&f, record, sizeof f);
    for (TWIntlText* t : {&f.am, &f.pm, &f.currency, &f.thousands, &f.decimal, &f.date, &f.time})
      settle_text(t);
    if (g_intl == nullptr) {
      g_intl = new (std::nothrow) TWIntlFormat;
      if (g_intl == nullptr) return TWFAIL_MEMORY;
    }
    *g_intl = f;
    return TWSUCCESS;
  });
}

// The code page is the number of the locale's character set (65001 for UTF-8, 20127 for
// ASCII, 28591 for ISO-8859-1 ...; 0 for one without a number); the country is the
// territory's dialling code (0 when unknown); the language is the locale's language and
// territory ("en_US"), cut to 7 characters, "" for the C locale.
TW_API uint32_t TWCharInfo(int32_t* codePage, int32_t* country, char language[8]) {
  return tw::guard([&]() -> uint32_t {
    if (codePage != nullptr) *codePage = code_page_of(codeset_of(locale_name("LC_CTYPE")));
    if (country != nullptr) *country = country_of(locale_name("LC_TELEPHONE"));
    if (language != nullptr) {
      std::string lang = language_of(locale_name("LC_MESSAGES"));
      size_t n = lang.size() < 7 ? lang.size() : 7;
      std::memcpy(language, lang.data(), n);
      language[n] = '\0';
    }
    return TWSUCCESS;
  });
}

// Each text's number is what "%2d" reads from its start (0 when none): "23" against "2.0"
// is 21.
TW_API int TWCmpVerStr(const char* a, const char* b) {
  auto number = [](const char* s) {
    int v = 0;
    if (s == nullptr || std::sscanf(s, "%2d", &v) != 1) v = 0;
    return v;
  };
  return number(a) - number(b);
}

}  // extern "C"
