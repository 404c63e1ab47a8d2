// Dates of the text-file connector: reading a date text by a FORMAT (digits and names walked
// in step with the format letters) and writing a datetime by a FORMAT (runs of letters for
// the parts, day and month names, AM/PM texts).
#ifndef TW_LINK_ZMLNK_DATES_H_
#define TW_LINK_ZMLNK_DATES_H_

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "flowcore.h"

namespace flatrec {

struct DateNames {
  // Names absent from the property stay empty and are neither matched nor written.
  std::array<std::string, 7> days;  // Monday first
  std::array<std::string, 12> months;
  std::string am = "AM";
  std::string pm = "PM";

  // Splits text at commas into at most count names, each squeezed; text after the last
  // allowed comma is ignored.
  template <size_t N>
  static void Split(std::string_view text, std::array<std::string, N>* names);
};

// A FORMAT interpreted once: each format character's role for reading, and the runs that
// writing puts out.
struct DateFormat {
  enum Role : uint8_t {
    kBigYear,
    kSmallYear,
    kMonth,
    kDay,
    kDayOfYear,
    kHour,
    kMinute,
    kSecond,
    kMonthName,
    kAmPm,
    kSkip,
  };
  // A run of one format letter for writing: the part it stands for (the letter itself;
  // 'A' for any run of AM/PM letters), its length, and for 'N' and 'W' a '*' after it (the
  // whole name). Any other letter is written as it stands, run times.
  struct Run {
    char letter = 0;
    bool whole = false;
    uint32_t length = 0;
  };
  std::string text;
  std::vector<Role> roles;    // one per character of text
  bool timePosition = false;  // an 'h', 'm' or 's' anywhere
  std::vector<Run> runs;
};
DateFormat CompileDateFormat(std::string_view format);

// The machine's zone and daylight saving for local wall clocks, kept by day for the zone rule
// in force (TZ): a day whose first and last wall clock read the same offset has it all day,
// since rules never change twice within a day; a day with a change, and a value without a
// date, go to the engine each time. Used by one thread.
class LocalZoneCache {
 public:
  // Forgets every day when TZ names another rule than the days were kept for; called before
  // each block of values (looking at the environment per value would cost more than the
  // cache saves).
  void CheckRule();
  // TWDatetimeSetParts(out, parts, TWPARTSF_LOCAL), answered from the cache where it can.
  [[nodiscard]] uint32_t SetLocal(const TWDatetimeParts& parts, TWDatetime* out);
  // TWDatetimeGetParts(&value, TWPARTSF_LOCAL, parts): LocalParts, and for a complete value
  // the local offset of its instant from the days of UTC kept the same way (a day whose
  // first and last second read the same offset has it all day).
  [[nodiscard]] uint32_t GetLocal(const TWDatetime& value, TWDatetimeParts* parts);

 private:
  // Eight bytes, so that the tables stay small enough to be read from the caches.
  struct Day {
    int32_t julian = -1;
    bool mixed = false;
    int8_t zone = 0, daylight = 0;
  };
  [[nodiscard]] uint32_t Lookup(int32_t year, int32_t month, int32_t day, Day** entry);
  // The entry of the UTC day julian, or null when the engine cannot tell its offsets.
  Day* LookupInstant(int64_t julian);
  // Direct by day number: any 44 years of days go without two sharing an entry.
  static constexpr size_t kDays = 16384;
  std::vector<Day> days_;
  std::vector<Day> utcDays_;
  std::string rule_;
  bool ruleSet_ = false;
  bool checked_ = false;  // rule_ and ruleSet_ tell the rule the tables are for
};

// Reads value by format into *out (local zone): 'Y' and 'y' year digits (1900 added for
// 'y'), 'M' month digits, 'N' month-name letters, 'D' day, 'J' day of the year, 'h' 'm' 's'
// time digits, 'A' 'a' 'P' 'p' AM/PM letters; any other format character skips one value
// character. A blank under a digit position has no digit; another non-digit ends that
// letter's run. Answers the status of building the value (an impossible date:
// TWFAIL_INVALID_DATETIME).
// With zones, the zone comes from that cache.
[[nodiscard]] uint32_t ParseDate(std::string_view value, const DateFormat& format,
                                 const DateNames& names, TWDatetime* out,
                                 LocalZoneCache* zones = nullptr);
[[nodiscard]] uint32_t ParseDate(std::string_view value, std::string_view format,
                                 const DateNames& names, TWDatetime* out);

// Writes value by format into *out (replacing it). Answers the status of breaking the value
// into its parts. With zones, a complete value's local offset comes from that cache.
[[nodiscard]] uint32_t FormatDate(const TWDatetime& value, const DateFormat& format,
                                  const DateNames& names, std::string* out,
                                  LocalZoneCache* zones = nullptr);
[[nodiscard]] uint32_t FormatDate(const TWDatetime& value, std::string_view format,
                                  const DateNames& names, std::string* out);

// TWDatetimeGetParts(&value, TWPARTSF_LOCAL, parts): a value without a date or without a
// time keeps its own zone, so it is taken apart here; a complete one, and one the engine
// would refuse, go to the engine.
[[nodiscard]] uint32_t LocalParts(const TWDatetime& value, TWDatetimeParts* parts);

// 1 for 1 January; 0 for a date that does not exist.
int DayOfYear(int year, int month, int day);

}  // namespace flatrec

#endif  // TW_LINK_ZMLNK_DATES_H_
