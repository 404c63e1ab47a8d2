// The formula functions: the one table of function tokens (numbered and word forms) and the
// functions that take evaluated arguments.
#include <cmath>

#include "formula_impl.h"
#include "timedate.h"

namespace plexa::fx {
namespace {

// numbered token, word token, function, fewest and most arguments.
constexpr FunctionDef kFunctions[] = {
    {"40", "empty", Fn::kEmpty, 0, 0},   {"75", "datetime", Fn::kDatetime, 3, 6},
    {"89", "absent", Fn::kAbsent, 1, 1}, {"93", "istime", Fn::kIsTime, 1, 1},
    {"98", "lower", Fn::kLower, 1, 1},   {"181", "if", Fn::kIf, 3, 255},
    {"", "text", Fn::kText, 1, 1},       {"", "number", Fn::kNumber, 1, 1},
    {"", "count", Fn::kCount, 1, 1},     {"", "member", Fn::kMember, 2, 2},
};

Value Flag(bool b) {
  return Value::Number(b ? 1 : 0);
}

// A whole number from a one-entry number argument.
bool WholeNumber(const Value& v, int64_t& out) {
  if (v.unavailable || !IsNumberType(v.type) || v.numbers.size() != 1) return false;
  const double d = v.numbers[0];
  if (!std::isfinite(d) || d != std::trunc(d) || std::fabs(d) > 1e9) return false;
  out = static_cast<int64_t>(d);
  return true;
}

[[nodiscard]] uint32_t MakeDatetime(std::span<const Value> args, Value& out) {
  int64_t p[6] = {0, 0, 0, 0, 0, 0};
  for (size_t i = 0; i < args.size(); ++i)
    if (!WholeNumber(args[i], p[i])) return GVERR_FORMULA;
  if (p[0] < 1 || p[0] > 32767 || p[1] < 1 || p[1] > 12 || p[2] < 1 ||
      p[2] > DaysInMonth(p[0], static_cast<int>(p[1])))
    return GVERR_FORMULA;
  TimeFields f;
  f.dateNull = false;
  f.julian = JulianFromCivil(p[0], static_cast<int>(p[1]), static_cast<int>(p[2]));
  if (args.size() == 6) {
    if (p[3] < 0 || p[3] > 23 || p[4] < 0 || p[4] > 59 || p[5] < 0 || p[5] > 59)
      return GVERR_FORMULA;
    f.timeNull = false;
    f.ticks = p[3] * kTicksPerHour + p[4] * 6000 + p[5] * 100;
  }
  out = Value::Time(MachineTime(f));
  return 0;
}

// Entries equal as the "=" operator sees them (one kind; texts exact; times as instants).
bool EntriesEqual(const Value& a, size_t i, const Value& b, size_t j) {
  if (IsTextType(a.type) && IsTextType(b.type)) return a.texts[i] == b.texts[j];
  if (IsNumberType(a.type) && IsNumberType(b.type)) return a.numbers[i] == b.numbers[j];
  if (IsTimeType(a.type) && IsTimeType(b.type)) {
    int32_t r = 1;
    return CompareTimes(a.times[i], b.times[j], r) == 0 && r == 0;
  }
  return false;
}

Value Plain(const Value& v) {
  if (v.unavailable) return Value::Text("");
  return v;
}

// A result of entries: the single type for one entry, else the list type.
Value Shaped(Value v) {
  v.type = v.Count() == 1 ? SingleOf(v.type) : ListOf(v.type);
  return v;
}

}  // namespace

const FunctionDef* FindFunction(std::string_view inside) {
  for (const FunctionDef& f : kFunctions)
    if ((!f.number.empty() && f.number == inside) || f.word == inside) return &f;
  return nullptr;
}

bool ArgumentCountFits(const FunctionDef& def, size_t count) {
  if (def.fn == Fn::kIf) return count >= 3 && count % 2 == 1;
  if (def.fn == Fn::kDatetime) return count == 3 || count == 6;
  return count >= def.minArgs && count <= def.maxArgs;
}

uint32_t CheckSize(const Value& v) {
  if (v.Count() > kMaxEntries) return GVERR_FORMULA;
  size_t bytes = 0;
  for (const std::string& t : v.texts) bytes += t.size();
  return bytes > kMaxBytes ? GVERR_FORMULA : 0;
}

bool Truth(const Value& v) {
  if (v.unavailable || !IsNumberType(v.type)) return false;
  for (double d : v.numbers)
    if (d != 0) return true;
  return false;
}

uint32_t TextsOf(const Value& v, std::vector<std::string>& out) {
  if (v.unavailable) {
    out.assign(1, std::string());
    return 0;
  }
  std::vector<std::string> texts;
  if (IsTextType(v.type)) {
    texts = v.texts;
  } else if (IsNumberType(v.type)) {
    for (double d : v.numbers) {
      std::string s;
      if (NumberToText(d, s) != 0) return GVERR_FORMULA;
      texts.push_back(std::move(s));
    }
  } else if (IsTimeType(v.type)) {
    const auto intl = CurrentInternational();
    for (const GVTIMEDATE& t : v.times) {
      std::string s;
      if (TimeToText(t, *intl, s) != 0) return GVERR_FORMULA;
      texts.push_back(std::move(s));
    }
  } else {
    return GVERR_FORMULA;
  }
  out = std::move(texts);
  return 0;
}

uint32_t CallFunction(const FunctionDef& def, std::span<const Value> args, Value& out) {
  switch (def.fn) {
    case Fn::kEmpty:
      out = Value::Text("");
      return 0;
    case Fn::kDatetime:
      return MakeDatetime(args, out);
    case Fn::kIsTime:
      out = Flag(!args[0].unavailable && IsTimeType(args[0].type));
      return 0;
    case Fn::kLower:
    case Fn::kText: {
      std::vector<std::string> texts;
      if (uint32_t st = TextsOf(args[0], texts)) return st;
      if (def.fn == Fn::kLower)
        for (std::string& t : texts) t = FoldAscii(t);
      out = Shaped(Value::TextList(std::move(texts)));
      return 0;
    }
    case Fn::kNumber: {
      const Value v = Plain(args[0]);
      if (IsNumberType(v.type)) {
        out = v;
        return 0;
      }
      if (!IsTextType(v.type)) return GVERR_FORMULA;
      const auto intl = CurrentInternational();
      std::vector<double> numbers;
      for (const std::string& t : v.texts) {
        double d = 0;
        if (TextToNumber(t, *intl, d) != 0) return GVERR_FORMULA;
        numbers.push_back(d);
      }
      out = Shaped(Value::NumberList(std::move(numbers)));
      return 0;
    }
    case Fn::kCount:
      out = Value::Number(args[0].unavailable ? 0 : static_cast<double>(args[0].Count()));
      return 0;
    case Fn::kMember: {
      const Value x = Plain(args[0]);
      const Value list = Plain(args[1]);
      bool found = false;
      for (size_t i = 0; i < x.Count() && !found; ++i)
        for (size_t j = 0; j < list.Count() && !found; ++j) found = EntriesEqual(x, i, list, j);
      out = Flag(found);
      return 0;
    }
    case Fn::kAbsent:
    case Fn::kIf:
      break;
  }
  return GVERR_FORMULA;
}

}  // namespace plexa::fx
