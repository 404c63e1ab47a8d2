// Tests of CL_Date and CL_TimeOfDay: calendar conversion, names, arithmetic, printed and
// parsed forms, text streams, the change protocol and the stored forms.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <functional>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "base_test_util.h"
#include "twcl/base/date.h"
#include "twcl/base/integer.h"
#include "twcl/base/time_of_day.h"

namespace twcl_test {
namespace {

// Every proper prefix of a stored form must be refused, leaving the target as it was.
void ExpectEveryTruncationRefused(const Bytes& form, CL_Object& target,
                                  const std::function<CL_Long()>& value) {
  const CL_Long before = value();
  for (std::size_t n = 0; n < form.size(); ++n) {
    VectorStream s(Bytes(form.begin(), form.begin() + static_cast<std::ptrdiff_t>(n)));
    EXPECT_FALSE(target.ReadFrom(s)) << "prefix of " << n;
    EXPECT_EQ(value(), before) << "prefix of " << n;
  }
}

// ---------------------------------------------------------------------------------------
// CL_Date: calendar

TEST(DateCalendarTest, KnownDaysAndWeekDays) {
  const CL_Date new_year(1996, 1, 1);
  EXPECT_EQ(new_year.DayNumber(), 2450084);
  EXPECT_EQ(new_year.DayOfWeek(), 2);  // a Monday
  EXPECT_EQ(CL_Date(2000, 1, 1).DayNumber(), 2451545);
  EXPECT_EQ(CL_Date(1753, 1, 1).DayOfWeek(), 2);
  EXPECT_EQ(CL_Date(2024, 2, 29).DayOfWeek(), 5);  // a Thursday
}

TEST(DateCalendarTest, EveryDayFollowsItsPredecessor) {
  // Walking day numbers from 1 January 1753 to the end of 2400, the parts must step
  // through every month with its own length and the week days must cycle.
  CL_Date date(1753, 1, 1);
  short year = 1753, month = 1, day = 1, weekday = date.DayOfWeek();
  for (CL_Long number = date.DayNumber(); year <= 2400; ++number) {
    const CL_Date d(number);
    ASSERT_EQ(d.Year(), year) << number;
    ASSERT_EQ(d.Month(), month) << number;
    ASSERT_EQ(d.Day(), day) << number;
    ASSERT_EQ(d.DayOfWeek(), weekday) << number;
    ASSERT_EQ(CL_Date(year, month, day).DayNumber(), number);
    ASSERT_EQ(d.DaysInMonth(), CL_Date::DaysInMonth(month, year));
    weekday = static_cast<short>(weekday % 7 + 1);
    if (++day > CL_Date::DaysInMonth(month, year)) {
      day = 1;
      if (++month > 12) month = 1, ++year;
    }
  }
}

TEST(DateCalendarTest, OnlyRealDatesFrom1753AreValid) {
  struct Case {
    short year, month, day;
    bool valid;
  };
  const Case cases[] = {
      {1996, 2, 29, true}, {1997, 2, 29, false}, {1752, 12, 31, false}, {1753, 1, 1, true},
      {96, 1, 5, false},   {1996, 13, 1, false}, {1996, 0, 1, false},   {1996, 4, 31, false},
      {1996, 4, 0, false}, {2000, 2, 29, true},  {1900, 2, 29, false},  {9999, 12, 31, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.year << "-" << c.month << "-" << c.day);
    const CL_Date d(c.year, c.month, c.day);
    EXPECT_EQ(d.IsValid(), c.valid);
    EXPECT_EQ(d.DayNumber() == 0, !c.valid);
  }
  EXPECT_TRUE(CL_Date(1996, "March", 3) == CL_Date(1996, 3, 3));
  EXPECT_TRUE(CL_Date(1996, "Mar", 3) == CL_Date(1996, 3, 3));
  EXPECT_FALSE(CL_Date(1996, "march", 3).IsValid());
  EXPECT_FALSE(CL_Date(1996, "February", 30).IsValid());
  EXPECT_FALSE(CL_Date(1996, static_cast<const char*>(nullptr), 3).IsValid());
  EXPECT_EQ(CL_Date(-5).DayNumber(), 0);

  const CL_Date invalid;
  EXPECT_EQ(invalid.Year(), 0);
  EXPECT_EQ(invalid.Month(), 0);
  EXPECT_EQ(invalid.Day(), 0);
  EXPECT_EQ(invalid.DayOfWeek(), 0);
  EXPECT_EQ(invalid.DaysInMonth(), -1);
  EXPECT_FALSE(invalid.IsLeapYear());
}

TEST(DateCalendarTest, LeapYearsAndMonthLengths) {
  EXPECT_TRUE(CL_Date::IsLeapYear(1996));
  EXPECT_TRUE(CL_Date::IsLeapYear(2000));
  EXPECT_FALSE(CL_Date::IsLeapYear(1900));
  EXPECT_FALSE(CL_Date::IsLeapYear(1997));
  EXPECT_TRUE(CL_Date(1996, 7, 4).IsLeapYear());
  EXPECT_EQ(CL_Date::DaysInMonth(2, 1996), 29);
  EXPECT_EQ(CL_Date::DaysInMonth(2, 1900), 28);
  EXPECT_EQ(CL_Date::DaysInMonth(4, 1996), 30);
  EXPECT_EQ(CL_Date::DaysInMonth(13, 1996), -1);
  EXPECT_EQ(CL_Date::DaysInMonth(0, 1996), -1);
}

TEST(DateNamesTest, TablesAndLookups) {
  EXPECT_STREQ(CL_Date::MonthName(1), "January");
  EXPECT_STREQ(CL_Date::MonthName(0), "");
  EXPECT_STREQ(CL_Date::MonthName(13), "");
  EXPECT_STREQ(CL_Date::ShortMonthName(12), "Dec");
  EXPECT_STREQ(CL_Date::DayName(1), "Sunday");
  EXPECT_STREQ(CL_Date::DayName(8), "");
  EXPECT_EQ(CL_Date::MonthNumber("September"), 9);
  EXPECT_EQ(CL_Date::MonthNumber("Sep"), 9);
  EXPECT_EQ(CL_Date::MonthNumber("sep"), 0);
  EXPECT_EQ(CL_Date::MonthNumber(nullptr), 0);
  EXPECT_EQ(CL_Date::DayOfWeek("Monday"), 2);
  EXPECT_EQ(CL_Date::DayOfWeek("Mon"), 0);
}

TEST(DateNamesTest, ReplacedTablesAreUsedUntilRestored) {
  static const char* const kEnglish[] = {"January",   "February", "March",    "April",
                                         "May",       "June",     "July",     "August",
                                         "September", "October",  "November", "December"};
  static const char* const kFrench[] = {"Janvier",   "Fevrier", "Mars",     "Avril",
                                        "Mai",       "Juin",    "Juillet",  "Aout",
                                        "Septembre", "Octobre", "Novembre", "Decembre"};
  ASSERT_TRUE(CL_Date::SetMonthNames(kFrench));
  EXPECT_STREQ(CL_Date::MonthName(3), "Mars");
  EXPECT_EQ(Text(CL_Date(1996, 3, 3).PrintString(0)), "Mars 3, 1996");
  EXPECT_TRUE(CL_Date("mars 3, 1996") == CL_Date(1996, 3, 3));
  static const char* const kPartial[] = {"One", "Two", nullptr};
  EXPECT_FALSE(CL_Date::SetMonthNames(kPartial));
  EXPECT_STREQ(CL_Date::MonthName(2), "Two");
  EXPECT_STREQ(CL_Date::MonthName(3), "Mars");
  EXPECT_FALSE(CL_Date::SetMonthNames(nullptr));
  ASSERT_TRUE(CL_Date::SetMonthNames(kEnglish));
  EXPECT_STREQ(CL_Date::MonthName(2), "February");

  static const char* const kDays[] = {"Dim", "Lun", "Mar", "Mer", "Jeu", "Ven", "Sam"};
  static const char* const kEnglishDays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                             "Thursday", "Friday", "Saturday"};
  ASSERT_TRUE(CL_Date::SetDayNames(kDays));
  EXPECT_EQ(CL_Date::DayOfWeek("Lun"), 2);
  ASSERT_TRUE(CL_Date::SetDayNames(kEnglishDays));
  static const char* const kShort[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  ASSERT_TRUE(CL_Date::SetShortMonthNames(kShort));
}

// ---------------------------------------------------------------------------------------
// CL_Date: arithmetic

TEST(DateArithmeticTest, DaysWeeksAndRanges) {
  const CL_Date monday(1996, 1, 1);
  EXPECT_TRUE(monday + 31 == CL_Date(1996, 2, 1));
  EXPECT_TRUE(monday - 1 == CL_Date(1995, 12, 31));
  EXPECT_EQ(CL_Date(1996, 3, 1) - CL_Date(1996, 2, 1), 29);
  EXPECT_EQ(monday - CL_Date(1996, 1, 8), -7);
  EXPECT_FALSE((CL_Date(5) - 10).IsValid());
  EXPECT_TRUE(monday.NextWeekday(2) == monday);
  EXPECT_TRUE(monday.NextWeekday(1) == CL_Date(1996, 1, 7));
  EXPECT_TRUE(monday.NextWeekday("Friday") == CL_Date(1996, 1, 5));
  EXPECT_TRUE(monday.PreviousWeekday(7) == CL_Date(1995, 12, 30));
  EXPECT_TRUE(monday.PreviousWeekday("Monday") == monday);
  EXPECT_FALSE(monday.NextWeekday(short{0}).IsValid());
  EXPECT_FALSE(monday.PreviousWeekday("Someday").IsValid());
  EXPECT_TRUE(monday.IsBetween(CL_Date(1996, 1, 1), CL_Date(1995, 1, 1)));
  EXPECT_TRUE(monday.IsBetween(CL_Date(1995, 1, 1), CL_Date(1996, 1, 1)));
  EXPECT_FALSE(monday.IsBetween(CL_Date(1996, 1, 2), CL_Date(1997, 1, 1)));
}

TEST(DateArithmeticTest, MonthsKeepTheDayWithinTheNewMonth) {
  struct Case {
    CL_Date from;
    short months;
    bool done;
    CL_Date to;
  };
  const Case cases[] = {
      {CL_Date(1996, 1, 31), 1, true, CL_Date(1996, 2, 29)},
      {CL_Date(1996, 3, 31), -1, true, CL_Date(1996, 2, 29)},
      {CL_Date(1996, 5, 15), 12, true, CL_Date(1997, 5, 15)},
      {CL_Date(1996, 5, 15), -5, true, CL_Date(1995, 12, 15)},
      {CL_Date(1901, 1, 1), -1, false, CL_Date(1901, 1, 1)},
      {CL_Date(1996, 5, 15), -30000, false, CL_Date(1996, 5, 15)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << Text(c.from.AsString()) << " + " << c.months);
    WarningCapture warnings;
    CL_Date d(c.from);
    EXPECT_EQ(d.AddMonths(c.months), c.done);
    EXPECT_TRUE(d == c.to) << Text(d.AsString());
    if (c.done)
      EXPECT_TRUE(warnings.texts().empty());
    else
      EXPECT_THAT(warnings.texts(), testing::ElementsAre("CL_Date::AddMonths: parameter " +
                                                         std::to_string(c.months) + " too large"));
  }
  CL_Date leap(1996, 2, 29);
  EXPECT_TRUE(leap.AddYears(4));
  EXPECT_TRUE(leap == CL_Date(2000, 2, 29));
  EXPECT_FALSE(leap.AddYears(1));
  EXPECT_FALSE(leap.IsValid());
  CL_Date early(1760, 6, 1);
  EXPECT_FALSE(early.AddYears(-10));  // before 1753
  EXPECT_EQ(early.DayNumber(), 0);
}

TEST(DateCompareTest, ByDayNumberWithinTheClass) {
  const CL_Date a(1996, 1, 1), b(1996, 1, 2), a2(1996, 1, 1);
  EXPECT_TRUE(a < b);
  EXPECT_TRUE(a <= a2);
  EXPECT_TRUE(b > a);
  EXPECT_TRUE(b >= b);
  EXPECT_TRUE(a == a2);
  EXPECT_TRUE(a != b);
  EXPECT_EQ(a.Compare(b), -1);
  EXPECT_EQ(b.Compare(a), 1);
  EXPECT_EQ(a.Compare(a2), 0);
  const CL_Integer number_object(a.DayNumber());
  const CL_Object& number = number_object;
  EXPECT_FALSE(a == number);
  EXPECT_TRUE(a != number);
  EXPECT_FALSE(a < number);
  EXPECT_FALSE(a >= number);
  EXPECT_EQ(a.Compare(number), std::less<const void*>{}(&a, &number_object) ? -1 : 1);
}

// ---------------------------------------------------------------------------------------
// CL_Date: printed and parsed forms

TEST(DateTextTest, PrintedForms) {
  const CL_Date d(1996, 1, 5), later(2001, 3, 4);
  struct Case {
    short form;
    const char* text;
    const char* later_text;
  };
  const Case cases[] = {
      {0, "January 5, 1996", "March 4, 2001"},
      {1, "05-Jan-1996", "04-Mar-2001"},
      {2, "01/05/96", "03/04/01"},
      {3, "5 January 1996", "4 March 2001"},
      {4, "05/01/96", "04/03/01"},
      {5, "", ""},
      {-1, "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Text(d.PrintString(c.form)), c.text) << c.form;
    EXPECT_EQ(Text(later.PrintString(c.form)), c.later_text) << c.form;
    EXPECT_EQ(Text(CL_Date().PrintString(c.form)), "") << c.form;
  }
  EXPECT_EQ(Text(CL_Date(2000, 1, 5).PrintString(2)), "01/05/00");
  EXPECT_EQ(Text(CL_Date(2000, 1, 5).PrintString(4)), "05/01/00");
  EXPECT_EQ(Text(d.AsString()), "01/05/96");
  std::ostringstream out;
  out << d;
  EXPECT_EQ(out.str(), "01/05/96");
}

TEST(DateTextTest, ParsedForms) {
  struct Case {
    const char* text;
    CL_Date date;
  };
  const CL_Date march3(1996, 3, 3);
  const Case cases[] = {
      {"March 3, 1996", march3},
      {"MARCH 3 1996", march3},
      {"mar 3, 96", march3},
      {"3-Mar-96", march3},
      {"03-march-1996", march3},
      {"3/3/96", march3},
      {"03/03/1996", march3},
      {"030396", march3},
      {"960303", march3},  // a first pair of 13 or more reads year first
      {"121212", CL_Date(2012, 12, 12)},
      {"1/5/2001", CL_Date(2001, 1, 5)},
      {"1/5/05", CL_Date(2005, 1, 5)},
      {"Jan 5, 05", CL_Date(2005, 1, 5)},
      {"05-Jan-05", CL_Date(2005, 1, 5)},
      {"010505", CL_Date(2005, 1, 5)},
      {"2/29/96", CL_Date(1996, 2, 29)},
      {"29-Feb-00", CL_Date(2000, 2, 29)},
      {"2/31/96", CL_Date()},  // a day its month does not have
      {"Feb 29, 1997", CL_Date()},
      {"31-Apr-96", CL_Date()},
      {"023096", CL_Date()},
      {"Jan 5, 1850", CL_Date()},  // a year before 1900, not one 1900 years later
      {"5-Jan-150", CL_Date()},
      {"3 March 1996", CL_Date()},  // rule 1 wants the month name first
      {"13/1/96", CL_Date()},
      {"1/32/96", CL_Date()},
      {"1/5/150", CL_Date()},
      {"Foo 3, 1996", CL_Date()},
      {"hello", CL_Date()},
      {"", CL_Date()},
      {"03039", CL_Date()},
      {"0303961", CL_Date()},
      {"a1b2c3", CL_Date()},
      {"1/2/3/4", CL_Date()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(CL_Date(c.text).DayNumber(), c.date.DayNumber());
    CL_Date assigned(1999, 9, 9);
    assigned = c.text;
    EXPECT_EQ(assigned.DayNumber(), c.date.DayNumber());
    assigned = CL_String(c.text);
    EXPECT_EQ(assigned.DayNumber(), c.date.DayNumber());
  }
  EXPECT_FALSE(CL_Date(static_cast<const char*>(nullptr)).IsValid());
}

// Two-digit years read alike in every written form, within 50 years before and 49 after the
// current year; a printed form with two digits reads back as the date it came from.
TEST(DateTextTest, TwoDigitYearsSlideWithTheCurrentYear) {
  const int current = CL_Date::Today().Year();
  ASSERT_GE(current, 1950);
  const std::string forms[] = {"Mar 3, ", "3-Mar-", "3/3/", "0303"};
  for (int yy = 0; yy < 100; ++yy) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02d", yy);
    for (const std::string& form : forms) {
      SCOPED_TRACE(form + digits);
      const CL_Date d((form + digits).c_str());
      ASSERT_TRUE(d.IsValid());
      EXPECT_EQ(d.Year() % 100, yy);
      EXPECT_GE(d.Year(), current - 50);
      EXPECT_LE(d.Year(), current + 49);
      EXPECT_TRUE(CL_Date(d.PrintString(2)) == d);
    }
  }
  const int first = current - 50, last = current + 49;
  EXPECT_EQ(CL_Date(("1/1/" + std::to_string(first % 100 + 100).substr(1)).c_str()).Year(), first);
  EXPECT_EQ(CL_Date(("1/1/" + std::to_string(last % 100 + 100).substr(1)).c_str()).Year(), last);
}

TEST(DateTextTest, ReadingFromATextStream) {
  std::istringstream in("  3/3/96, 12-Dec-1999 nonsense next");
  CL_Date d;
  in >> d;
  EXPECT_TRUE(d == CL_Date(1996, 3, 3));
  EXPECT_EQ(in.get(), ',');  // the delimiter was put back
  in >> d;
  EXPECT_TRUE(d == CL_Date(1999, 12, 12));
  in >> d;
  EXPECT_FALSE(d.IsValid());
  EXPECT_TRUE(in.fail());
  in.clear();
  std::string word;
  in >> word;
  EXPECT_EQ(word, "nonsense");  // given back

  std::istringstream at_end("96/1/");
  at_end >> d;
  EXPECT_FALSE(d.IsValid());
  at_end.clear();
  at_end >> word;
  EXPECT_EQ(word, "96/1/");
}

TEST(DateTextTest, TodayIsTheLocalDate) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const CL_Date expected(static_cast<short>(local.tm_year + 1900),
                         static_cast<short>(local.tm_mon + 1), static_cast<short>(local.tm_mday));
  const CL_Date today = CL_Date::Today();
  ASSERT_TRUE(today.IsValid());
  EXPECT_LE(today - expected, 1);  // the clock may pass midnight in between
  EXPECT_GE(today - expected, 0);
}

// ---------------------------------------------------------------------------------------
// CL_TimeOfDay

TEST(TimeOfDayTest, SecondsWrapAroundTheClock) {
  struct Case {
    CL_Long seconds;
    CL_Long value;
  };
  const Case cases[] = {
      {0, 0},      {86399, 86399}, {86400, 0},
      {-1, 86399}, {90000, 3600},  {std::numeric_limits<CL_Long>::min(), 74752},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CL_TimeOfDay(c.seconds).TotalSeconds(), c.value) << c.seconds;
  const CL_TimeOfDay t(13, 5, 9);
  EXPECT_EQ(t.TotalSeconds(), 47109);
  EXPECT_EQ(t.Hour(), 13);
  EXPECT_EQ(t.Minute(), 5);
  EXPECT_EQ(t.Second(), 9);
  EXPECT_EQ((CL_TimeOfDay(86399) + 2).TotalSeconds(), 1);
  EXPECT_EQ((CL_TimeOfDay(0) + -1).TotalSeconds(), 86399);
  EXPECT_EQ((CL_TimeOfDay(10) + 3 * 86400 + 5).TotalSeconds(), 15);
  CL_TimeOfDay u(100);
  u += 86350;
  EXPECT_EQ(u.TotalSeconds(), 50);
  u -= 100;
  EXPECT_EQ(u.TotalSeconds(), 86350);
}

TEST(TimeOfDayTest, EachBadPartWarns) {
  struct Case {
    short hour, minute, second;
    CL_Long value;
    std::vector<std::string> warnings;
  };
  const Case cases[] = {
      {23, 59, 59, 86399, {}},
      {24, 0, 0, 0, {"CL_TimeOfDay constructor: invalid hour 24"}},
      {-1,
       60,
       -2,
       0,
       {"CL_TimeOfDay constructor: invalid hour -1", "CL_TimeOfDay constructor: invalid minutes 60",
        "CL_TimeOfDay constructor: invalid seconds -2"}},
      {12, 0, 60, 0, {"CL_TimeOfDay constructor: invalid seconds 60"}},
  };
  for (const Case& c : cases) {
    WarningCapture warnings;
    EXPECT_EQ(CL_TimeOfDay(c.hour, c.minute, c.second).TotalSeconds(), c.value);
    EXPECT_EQ(warnings.texts(), c.warnings);
  }
}

TEST(TimeOfDayTest, PrintedForms) {
  struct Case {
    CL_Long seconds;
    const char* form1;
    const char* twelve;
  };
  const Case cases[] = {
      {300, "00:05:00", "0:05 am"},    {43200, "12:00:00", "12:00 pm"},
      {54900, "15:15:00", "3:15 pm"},  {43199, "11:59:59", "11:59 am"},
      {86399, "23:59:59", "11:59 pm"}, {46800, "13:00:00", "1:00 pm"},
  };
  for (const Case& c : cases) {
    const CL_TimeOfDay t(c.seconds);
    EXPECT_EQ(Text(t.PrintString(1)), c.form1);
    EXPECT_EQ(Text(t.PrintString(0)), c.twelve);
    EXPECT_EQ(Text(t.PrintString(7)), c.twelve);
    EXPECT_EQ(Text(t.AsString()), c.form1);
  }
}

TEST(TimeOfDayTest, ParsedForms) {
  struct Case {
    const char* text;
    CL_Long seconds;
  };
  const Case cases[] = {
      {"23:59:59", 86399},   {"3:15 pm", 54900},
      {"3:15 am", 11700},    {"3:15", 11700},
      {"1530", 55800},       {"153045", 55845},
      {"0000", 0},           {"12:00 pm", 43200},
      {"12:30 pm", 45000},   {"12:10 am", 600},
      {"12:00 am", 0},       {"0:05 am", 300},
      {"11:59 pm", 86340},   {"1:00 pm", 46800},
      {"13:00 pm", 0},       {"0:30 pm", 0},
      {"3:15 xm", 0},        {"12:00 noon", 0},
      {"12345", 0},          {"123", 0},
      {"24:00", 0},          {"12:60", 0},
      {"12:00:60", 0},       {"1:2:3:4", 0},
      {"noon", 0},           {"", 0},
      {"99999999999:00", 0}, {"4294967296:00", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(CL_TimeOfDay(c.text).TotalSeconds(), c.seconds);
    CL_TimeOfDay assigned(777);
    assigned = c.text;
    EXPECT_EQ(assigned.TotalSeconds(), c.seconds);
  }
}

TEST(TimeOfDayTest, TwelveHourTextReadsBack) {
  for (CL_Long seconds = 0; seconds < 86400; seconds += 60) {
    const CL_TimeOfDay t(seconds);
    EXPECT_EQ(CL_TimeOfDay(t.PrintString(0)).TotalSeconds(), seconds) << Text(t.PrintString(0));
  }
}

TEST(TimeOfDayTest, ReadingFromATextStream) {
  std::istringstream in(" 12:30:15 next 00:00 word");
  CL_TimeOfDay t;
  in >> t;
  EXPECT_EQ(t.TotalSeconds(), 45015);
  std::string word;
  in >> word;
  EXPECT_EQ(word, "next");
  // Midnight reads as 0, which counts as a failure: the text goes back.
  t = CL_TimeOfDay(5);
  in >> t;
  EXPECT_EQ(t.TotalSeconds(), 0);
  EXPECT_TRUE(in.fail());
  in.clear();
  in >> word;
  EXPECT_EQ(word, "00:00");
}

TEST(TimeOfDayTest, ComparesAndAssigns) {
  WarningCapture warnings;
  const CL_TimeOfDay a(10), b(20);
  EXPECT_TRUE(a < b);
  EXPECT_TRUE(a <= CL_TimeOfDay(10));
  EXPECT_TRUE(b > a);
  EXPECT_TRUE(b >= a);
  EXPECT_TRUE(a != b);
  EXPECT_EQ(a.Compare(b), -1);
  const CL_Date date_object(1996, 1, 1);
  const CL_Object& date = date_object;
  EXPECT_FALSE(a == date);
  EXPECT_FALSE(a < date);
  EXPECT_EQ(a.Compare(date), std::less<const void*>{}(&a, &date_object) ? -1 : 1);
  CL_TimeOfDay t;
  t = static_cast<const CL_Object&>(b);
  EXPECT_EQ(t.TotalSeconds(), 20);
  t = date;
  EXPECT_EQ(t.TotalSeconds(), 20);
  CL_Date d;
  d = static_cast<const CL_Object&>(a);
  EXPECT_THAT(warnings.texts(), testing::ElementsAre("CL_TimeOfDay::op=: Invalid class 'CL_Date'",
                                                     "CL_Date::op=: Invalid class 'CL_TimeOfDay'"));
  d = static_cast<const CL_Object&>(date_object);
  EXPECT_TRUE(d == date_object);
  std::unique_ptr<CL_Object> clone(a.Clone());
  EXPECT_TRUE(*clone == a);
  std::unique_ptr<CL_Object> date_clone(date_object.Clone());
  EXPECT_TRUE(*date_clone == date_object);
}

TEST(TimeOfDayTest, NowIsTheLocalTime) {
  const CL_TimeOfDay now = CL_TimeOfDay::Now();
  EXPECT_GE(now.TotalSeconds(), 0);
  EXPECT_LT(now.TotalSeconds(), 86400);
}

// ---------------------------------------------------------------------------------------
// Change protocol of both classes

struct Change {
  const char* name;
  std::function<void(CL_Date&, CL_TimeOfDay&)> apply;
};

const Change kChanges[] = {
    {"date +=", [](CL_Date& d, CL_TimeOfDay&) { d += 3; }},
    {"date -=", [](CL_Date& d, CL_TimeOfDay&) { d -= 3; }},
    {"AddMonths", [](CL_Date& d, CL_TimeOfDay&) { d.AddMonths(2); }},
    {"AddYears", [](CL_Date& d, CL_TimeOfDay&) { d.AddYears(2); }},
    {"date = date", [](CL_Date& d, CL_TimeOfDay&) { d = CL_Date(2000, 1, 1); }},
    {"date = text", [](CL_Date& d, CL_TimeOfDay&) { d = "1/1/2000"; }},
    {"date ReadFrom",
     [](CL_Date& d, CL_TimeOfDay&) {
       VectorStream s(Cat({LE(9), LE(2451545)}));
       d.ReadFrom(s);
     }},
    {"time +=", [](CL_Date&, CL_TimeOfDay& t) { t += 5; }},
    {"time -=", [](CL_Date&, CL_TimeOfDay& t) { t -= 5; }},
    {"time = time", [](CL_Date&, CL_TimeOfDay& t) { t = CL_TimeOfDay(9); }},
    {"time = text", [](CL_Date&, CL_TimeOfDay& t) { t = "1:00"; }},
    {"time ReadFrom",
     [](CL_Date&, CL_TimeOfDay& t) {
       VectorStream s(Cat({LE(10), LE(9)}));
       t.ReadFrom(s);
     }},
};

TEST(DateTimeProtocolTest, PermittedChangesAreToldOnce) {
  for (const Change& change : kChanges) {
    SCOPED_TRACE(change.name);
    CL_Date d(1996, 1, 1);
    CL_TimeOfDay t(100);
    Recorder on_date, on_time;
    on_date.Watch(d);
    on_time.Watch(t);
    change.apply(d, t);
    EXPECT_EQ(on_date.post + on_time.post, 1);
    EXPECT_TRUE(d.DayNumber() != CL_Date(1996, 1, 1).DayNumber() || t.TotalSeconds() != 100);
  }
}

TEST(DateTimeProtocolTest, VetoedChangesLeaveTheValue) {
  for (const Change& change : kChanges) {
    SCOPED_TRACE(change.name);
    CL_Date d(1996, 1, 1);
    CL_TimeOfDay t(100);
    Recorder on_date, on_time;
    on_date.permit = on_time.permit = false;
    on_date.Watch(d);
    on_time.Watch(t);
    change.apply(d, t);
    EXPECT_EQ(on_date.pre + on_time.pre, 1);
    EXPECT_EQ(on_date.post + on_time.post, 0);
    EXPECT_EQ(d.DayNumber(), CL_Date(1996, 1, 1).DayNumber());
    EXPECT_EQ(t.TotalSeconds(), 100);
  }
}

// ---------------------------------------------------------------------------------------
// Stored forms

TEST(DateTimeStoredFormTest, GoldenBytesAndRoundTrips) {
  const CL_Date d(1996, 1, 1);
  const CL_TimeOfDay t(86399);
  EXPECT_EQ(d.StorableFormWidth(), 8);
  EXPECT_EQ(t.StorableFormWidth(), 8);
  VectorStream out;
  ASSERT_TRUE(d.WriteTo(out));
  ASSERT_TRUE(t.WriteTo(out));
  ASSERT_TRUE(CL_Date().WriteTo(out));
  EXPECT_EQ(out.bytes, Bytes({9,    0,    0, 0, 0xa4, 0x62, 0x25, 0, 10, 0, 0, 0,
                              0x7f, 0x51, 1, 0, 9,    0,    0,    0, 0,  0, 0, 0}));
  VectorStream in(out.bytes);
  CL_Date d_back(2000, 1, 1);
  CL_TimeOfDay t_back(5);
  CL_Date empty_back(2000, 1, 1);
  ASSERT_TRUE(d_back.ReadFrom(in));
  ASSERT_TRUE(t_back.ReadFrom(in));
  ASSERT_TRUE(empty_back.ReadFrom(in));
  EXPECT_TRUE(d_back == d);
  EXPECT_TRUE(t_back == t);
  EXPECT_FALSE(empty_back.IsValid());

  VectorStream by_pointer;
  ASSERT_TRUE(by_pointer.Write(&d));
  ASSERT_TRUE(by_pointer.Write(&t));
  by_pointer.position = 0;
  CL_Object* objects[2] = {};
  ASSERT_TRUE(by_pointer.Read(objects[0]));
  ASSERT_TRUE(by_pointer.Read(objects[1]));
  std::unique_ptr<CL_Object> date_back(objects[0]), time_back(objects[1]);
  EXPECT_TRUE(*date_back == d);
  EXPECT_TRUE(*time_back == t);
}

TEST(DateTimeStoredFormTest, TruncatedOrOutOfRangeValuesAreRefused) {
  CL_Date d(1996, 1, 1);
  CL_TimeOfDay t(100);
  ExpectEveryTruncationRefused(Cat({LE(9), LE(2451545)}), d, [&] { return d.DayNumber(); });
  ExpectEveryTruncationRefused(Cat({LE(10), LE(5)}), t, [&] { return t.TotalSeconds(); });
  for (const CL_Long day : {-1, std::numeric_limits<CL_Long>::min()}) {
    VectorStream s(Cat({LE(9), LE(day)}));
    EXPECT_FALSE(d.ReadFrom(s)) << day;
  }
  for (const CL_Long seconds : {-1, 86400, std::numeric_limits<CL_Long>::max()}) {
    VectorStream s(Cat({LE(10), LE(seconds)}));
    EXPECT_FALSE(t.ReadFrom(s)) << seconds;
  }
  VectorStream swapped(Cat({LE(10), LE(5)}));
  EXPECT_FALSE(d.ReadFrom(swapped));
  EXPECT_EQ(swapped.position, 0);
  EXPECT_EQ(d.DayNumber(), CL_Date(1996, 1, 1).DayNumber());
  EXPECT_EQ(t.TotalSeconds(), 100);
}

}  // namespace
}  // namespace twcl_test
