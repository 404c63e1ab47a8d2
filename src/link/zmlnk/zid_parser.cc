// The ZID line grammar: option table, TYPE words, running positions, the cross-checks of
// input descriptions, and the embedded-data marker.
#include "zid_parser.h"

#include <charconv>

#include "flowcore.h"
#include "text_util.h"

namespace flatrec {

namespace {

enum class Opt : uint8_t {
  kType,
  kQuotes,
  kNoQuotes,
  kAppend,
  kUntil,
  kDelim,
  kUntilList,
  kStart,
  kWidth,
  kLength,
  kEnd,
  kSep,
  kValue,
  kFormat,
  kEbcdic,
  kTrim,
  kUnsigned,
  kZerofill,
  kRight,
  kConvtabs,
  kViewKey,
  kKey,
};
enum class Links : uint8_t { kBoth, kSourceOnly, kDestinationOnly };
// Options of one group may appear once in a line, together.
enum Group : uint8_t {
  kRepeatable,
  kGroupType,
  kGroupAppend,
  kGroupTerm,
  kGroupStart,
  kGroupWidth,
  kGroupSep,
  kGroupValue,
  kGroupFormat,
  kGroupEbcdic,
  kGroupTrim,
  kGroupUnsigned,
  kGroupZerofill,
  kGroupRight,
  kGroupConvtabs,
  kGroupKey,
  kGroupCount,
};

struct OptDef {
  std::string_view word;
  Opt opt;
  Links links;
  Group group;
};

constexpr OptDef kOptions[] = {
    {"TYPE", Opt::kType, Links::kBoth, kGroupType},
    {"QUOTES", Opt::kQuotes, Links::kBoth, kRepeatable},
    {"NOQUOTES", Opt::kNoQuotes, Links::kBoth, kRepeatable},
    {"APPEND", Opt::kAppend, Links::kSourceOnly, kGroupAppend},
    {"UNTIL", Opt::kUntil, Links::kBoth, kGroupTerm},
    {"DELIM", Opt::kDelim, Links::kBoth, kGroupTerm},
    {"DELIMIT", Opt::kDelim, Links::kBoth, kGroupTerm},
    {"DELIMITER", Opt::kDelim, Links::kBoth, kGroupTerm},
    {"UNTILLIST", Opt::kUntilList, Links::kSourceOnly, kGroupTerm},
    {"START", Opt::kStart, Links::kBoth, kGroupStart},
    {"WIDTH", Opt::kWidth, Links::kBoth, kGroupWidth},
    {"LENGTH", Opt::kLength, Links::kBoth, kGroupWidth},
    {"END", Opt::kEnd, Links::kBoth, kGroupWidth},
    {"SEP", Opt::kSep, Links::kBoth, kGroupSep},
    {"SEPARATOR", Opt::kSep, Links::kBoth, kGroupSep},
    {"VALUE", Opt::kValue, Links::kBoth, kGroupValue},
    {"FORMAT", Opt::kFormat, Links::kBoth, kGroupFormat},
    {"EBCDIC", Opt::kEbcdic, Links::kSourceOnly, kGroupEbcdic},
    {"TRIM", Opt::kTrim, Links::kBoth, kGroupTrim},
    {"UNSIGNED", Opt::kUnsigned, Links::kBoth, kGroupUnsigned},
    {"ZEROFILL", Opt::kZerofill, Links::kDestinationOnly, kGroupZerofill},
    {"RIGHT", Opt::kRight, Links::kDestinationOnly, kGroupRight},
    {"CONVTABS", Opt::kConvtabs, Links::kBoth, kGroupConvtabs},
    {"VIEWKEY", Opt::kViewKey, Links::kSourceOnly, kGroupKey},
    {"VKEY", Opt::kViewKey, Links::kSourceOnly, kGroupKey},
    {"KEY", Opt::kKey, Links::kSourceOnly, kGroupKey},
};

struct TypeDef {
  std::string_view word;
  ColumnType type;
  std::string_view stored;
  char letter;
  uint32_t engineType;
  bool precisionAllowed;
  bool binary;
  uint32_t width;  // a width the type implies (counts as WIDTH given), else 0
};

constexpr TypeDef kTypes[] = {
    {"NUMBER", ColumnType::kNumber, "NUMBER", 'N', TWTYPE_FLOAT, true, false, 0},
    {"BINARY", ColumnType::kBinary, "BINARY", 'N', TWTYPE_FLOAT, true, true, 0},
    {"PACKED", ColumnType::kPacked, "PACKED", 'N', TWTYPE_FLOAT, true, true, 0},
    {"SHORT", ColumnType::kShort, "SHORT", 'N', TWTYPE_FLOAT, true, true, 2},
    {"LONG", ColumnType::kLong, "LONG", 'N', TWTYPE_FLOAT, true, true, 4},
    {"FLOAT", ColumnType::kFloat, "FLOAT", 'N', TWTYPE_FLOAT, true, true, 4},
    {"RICH", ColumnType::kRich, "RICH", 'C', TWTYPE_TEXT, false, false, 0},
    {"RICHTEXT", ColumnType::kRich, "RICH", 'C', TWTYPE_TEXT, false, false, 0},
    {"DATE", ColumnType::kDatetime, "DATETIME", 'D', TWTYPE_DATETIME, false, false, 0},
    {"DATETIME", ColumnType::kDatetime, "DATETIME", 'D', TWTYPE_DATETIME, false, false, 0},
    {"TIMEDATE", ColumnType::kDatetime, "DATETIME", 'D', TWTYPE_DATETIME, false, false, 0},
    {"TEXT", ColumnType::kText, "TEXT", 'T', TWTYPE_TEXT, false, false, 0},
    {"CURRENCY", ColumnType::kCurrency, "CURRENCY", 'T', TWTYPE_CURRENCY, true, false, 0},
    {"NUMERIC", ColumnType::kNumeric, "NUMERIC", 'T', TWTYPE_NUMERIC, true, false, 0},
};

constexpr std::string_view kNameDelims{"\t\"' :", 5};
constexpr std::string_view kValueDelims{"\t\"' ", 4};

bool AllDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (!IsDigit(c)) return false;
  return true;
}

// Digits only, within [min, max].
bool ParseUnsigned(std::string_view s, uint64_t min, uint64_t max, uint64_t* out) {
  if (!AllDigits(s)) return false;
  uint64_t v = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || end != s.data() + s.size() || v < min || v > max) return false;
  *out = v;
  return true;
}

// "+", "-" and digits only, read as a signed number (sign, then digits up to the first
// other character), within 0 to kMaxWidth.
bool ParseWidth(std::string_view s, uint32_t* out) {
  if (s.empty()) return false;
  for (char c : s)
    if (!IsDigit(c) && c != '+' && c != '-') return false;
  size_t i = 0;
  bool negative = false;
  if (s[0] == '+' || s[0] == '-') {
    negative = s[0] == '-';
    i = 1;
  }
  uint64_t v = 0;
  for (; i < s.size() && IsDigit(s[i]); ++i) {
    v = v * 10 + static_cast<uint64_t>(s[i] - '0');
    if (v > kMaxWidth) return false;
  }
  if (negative && v != 0) return false;
  *out = static_cast<uint32_t>(v);
  return true;
}

class LineCompiler {
 public:
  LineCompiler(const ZidOptions& options, Tracer& tracer, Zid& zid, int64_t& position)
      : options_(options), tracer_(tracer), zid_(zid), position_(position) {}

  enum class Outcome { kSkipped, kAccepted, kFailed, kFailedAndEnd };

  Outcome Compile(std::string_view line, uint32_t lineNo) {
    lineNo_ = lineNo;
    tok_.Reset(line);
    std::string_view name;
    if (!Next(kNameDelims, &name) || name.empty()) return Outcome::kSkipped;
    if (zid_.columns.size() >= kMaxColumns) {
      tracer_.Printf("ERROR: Exceeded maximum number of fields: %d, on line %d, file: %s",
                     static_cast<int>(kMaxColumns), Line(), File());
      return Outcome::kFailedAndEnd;
    }
    Column col;
    col.line = lineNo;
    col.quotes = options_.checkForQuotes;
    if (!name.empty() && name.back() == ':') name.remove_suffix(1);
    if (name.size() > kMaxNameLength && name.front() != '(') {
      tracer_.Printf("ERROR: Invalid field name value: %.*s, on line %d, file: %s",
                     static_cast<int>(name.size()), name.data(), Line(), File());
      return Outcome::kFailed;
    }
    if (!name.empty() && name.front() == '@') name.remove_prefix(1);
    col.name.assign(name);
    col.placeholder = !col.name.empty() && col.name.front() == '(';

    bool used[kGroupCount] = {};
    std::string_view keyword;
    while (Next(kValueDelims, &keyword)) {
      if (!Option(keyword, col, used)) return Outcome::kFailed;
    }
    return Finish(col) ? Outcome::kAccepted : Outcome::kFailed;
  }

 private:
  int Line() const { return static_cast<int>(lineNo_); }
  const char* File() const { return fileName_.c_str(); }

 public:
  void set_file(std::string_view file) { fileName_.assign(file); }

 private:
  bool Next(std::string_view delims, std::string_view* token) {
    bool got = tok_.Next(delims, token);
    if (tracer_.On(Tracer::kTokens)) {
      if (got)
        tracer_.Printf("Next token is %.*s", static_cast<int>(token->size()), token->data());
      else
        tracer_.Printf("Next token is NULL");
    }
    return got;
  }

  bool Invalid(const char* what) {
    tracer_.Printf("ERROR: Invalid/missing %s on line %d, file: %s", what, Line(), File());
    return false;
  }

  bool Option(std::string_view keyword, Column& col, bool* used) {
    const OptDef* def = nullptr;
    for (const OptDef& d : kOptions)
      if (EqualsNoCase(d.word, keyword)) {
        def = &d;
        break;
      }
    const int kwLength = static_cast<int>(keyword.size());
    if (def == nullptr) {
      tracer_.Printf("ERROR: Invalid ZID field option: %.*s on line %d, file: %s", kwLength,
                     keyword.data(), Line(), File());
      return false;
    }
    const bool source = options_.direction == Direction::kSource;
    if ((def->links == Links::kSourceOnly && !source) ||
        (def->links == Links::kDestinationOnly && source)) {
      tracer_.Printf("ERROR: Invalid option for %s : %.*s, on line %d, file: %s",
                     source ? "IMPORT" : "EXPORT", kwLength, keyword.data(), Line(), File());
      return false;
    }
    if (def->group != kRepeatable) {
      if (used[def->group]) {
        if (def->opt == Opt::kAppend)
          tracer_.Printf("ERROR: Ambiguous keyword(s): %s, on line %d, file: %s", "APPEND", Line(),
                         File());
        else
          tracer_.Printf("ERROR: Ambiguous keyword(s): %.*s, on line %d, file: %s", kwLength,
                         keyword.data(), Line(), File());
        return false;
      }
      used[def->group] = true;
    }

    std::string_view value;
    switch (def->opt) {
      case Opt::kType:
        if (!Next(kValueDelims, &value) || !SetType(value, col)) return Invalid("TYPE");
        if (col.widthGiven && (col.type == ColumnType::kShort || col.type == ColumnType::kLong ||
                               col.type == ColumnType::kFloat))
          used[kGroupWidth] = true;
        return true;
      case Opt::kQuotes:
        col.quotes = true;
        return true;
      case Opt::kNoQuotes:
        col.quotes = false;
        return true;
      case Opt::kAppend:
        col.append = true;
        return true;
      case Opt::kUntil:
      case Opt::kDelim:
      case Opt::kUntilList: {
        const char* what = def->opt == Opt::kUntilList ? "UNTILLIST value" : "UNTIL/DELIM value";
        if (!Next(kValueDelims, &value)) return Invalid(what);
        std::string bytes = ParseEscapes(value);
        if (bytes.size() > kMaxBytesOption) bytes.resize(kMaxBytesOption);
        if (bytes.empty()) return Invalid(what);
        col.term = std::move(bytes);
        col.termKind = def->opt == Opt::kUntil   ? TermKind::kUntil
                       : def->opt == Opt::kDelim ? TermKind::kDelim
                                                 : TermKind::kUntilList;
        return true;
      }
      case Opt::kStart: {
        if (!Next(kValueDelims, &value)) return Invalid("START value");
        if (value.front() == '@') {
          int ref = FindColumnByName(zid_.columns, value.substr(1));
          if (value.size() < 2 || ref < 0) return Invalid("START reference value");
          col.startRef = ref;
          return true;
        }
        uint64_t start = 0;
        // A position of 0 would lie before the record; positions never wrap.
        if (!ParseUnsigned(value, 1, 0x7FFFFFFF, &start)) return Invalid("START value");
        col.start = static_cast<int64_t>(start);
        return true;
      }
      case Opt::kWidth:
      case Opt::kLength: {
        const char* what = def->opt == Opt::kWidth ? "WIDTH value" : "LENGTH value";
        uint32_t width = 0;
        if (!Next(kValueDelims, &value) || !ParseWidth(value, &width)) return Invalid(what);
        col.width = width;
        col.widthGiven = true;
        return true;
      }
      case Opt::kEnd: {
        uint64_t end = 0;
        if (!Next(kValueDelims, &value) || col.start <= 0 ||
            !ParseUnsigned(value, static_cast<uint64_t>(col.start), 0x7FFFFFFF, &end) ||
            end - static_cast<uint64_t>(col.start) + 1 > kMaxWidth)
          return Invalid("END value");
        col.width = static_cast<uint32_t>(end - static_cast<uint64_t>(col.start) + 1);
        col.widthGiven = true;
        return true;
      }
      case Opt::kSep: {
        if (!Next(kValueDelims, &value)) return Invalid("SEPARATOR value");
        std::string bytes = ParseEscapes(value);
        if (bytes.size() > kMaxBytesOption) bytes.resize(kMaxBytesOption);
        if (bytes.empty()) return Invalid("SEPARATOR value");
        col.sep = std::move(bytes);
        return true;
      }
      case Opt::kValue: {
        if (!Next(kValueDelims, &value)) return Invalid("default VALUE");
        std::string bytes = ParseEscapes(value);
        if (bytes.size() > kMaxValueOption) return Invalid("default VALUE");
        col.value = std::move(bytes);
        col.hasValue = true;
        return true;
      }
      case Opt::kFormat:
        if (!Next(kValueDelims, &value) || value.size() > kMaxFormatOption)
          return Invalid("FORMAT value");
        col.format.assign(value);
        col.dateFormat = CompileDateFormat(col.format);
        return true;
      case Opt::kEbcdic:
        col.ebcdic = true;
        return true;
      case Opt::kTrim:
        col.trim = true;
        return true;
      case Opt::kUnsigned:
        col.isUnsigned = true;
        return true;
      case Opt::kZerofill:
        col.zerofill = true;
        return true;
      case Opt::kRight:
        col.right = true;
        return true;
      case Opt::kConvtabs:
        col.convtabs = true;
        return true;
      case Opt::kViewKey:
      case Opt::kKey: {
        const char* what = def->opt == Opt::kKey ? "KEY sequence" : "VIEWKEY sequence";
        uint64_t seq = 0;
        if (!Next(kValueDelims, &value) || !ParseUnsigned(value, 1, 0xFFFFFFFF, &seq))
          return Invalid(what);
        col.keySeq = static_cast<uint32_t>(seq);
        col.keyKind = def->opt == Opt::kKey ? 1 : 2;
        return true;
      }
    }
    return false;
  }

  bool SetType(std::string_view value, Column& col) {
    std::string_view word = value, suffix;
    bool hasSuffix = false;
    size_t dot = value.find('.');
    if (dot != std::string_view::npos) {
      word = value.substr(0, dot);
      suffix = value.substr(dot + 1);
      hasSuffix = true;
    }
    for (const TypeDef& t : kTypes) {
      if (!EqualsNoCase(t.word, word)) continue;
      if (hasSuffix && t.precisionAllowed) {
        uint64_t n = 0;
        if (!ParseUnsigned(suffix, 0, kNoPrecision - 1, &n)) return false;
        col.precision = static_cast<uint8_t>(n);
      }
      col.type = t.type;
      col.typeWord.assign(t.stored);
      col.letter = t.letter;
      col.engineType = t.engineType;
      col.binary = t.binary;
      if (t.width != 0) {
        col.width = t.width;
        col.widthGiven = true;
      }
      return true;
    }
    return false;
  }

  bool Finish(Column& col) {
    if (col.start > 0) {
      position_ = col.start;
      if (col.widthGiven) position_ += col.width;
    } else if (col.startRef < 0 && col.widthGiven) {
      if (!col.terminated()) col.start = position_;
      position_ += col.width;
    }
    if (options_.direction == Direction::kSource) {
      if (!col.sep.empty() && col.keyKind != 0) {
        tracer_.Printf("ERROR: %s and %s are mutually exclusive: line %d, file:%s", "VIEWKEY",
                       "SEPARATOR/SEP", Line(), File());
        return false;
      }
      if (col.binary && (col.width == 0 || col.width > 8)) {
        tracer_.Printf("ERROR: %s requires %s: line %d, file:%s", col.typeWord.c_str(),
                       "WIDTH (1-8)", Line(), File());
        return false;
      }
      if (col.binary && options_.fixedRecSize == 0) {
        tracer_.Printf("ERROR: %s requires %s: line %d, file:%s",
                       "Binary TYPEs (BIN/SHORT/LONG/PACKED)", "fixed record size", Line(), File());
        return false;
      }
      if (col.binary && col.ebcdic)
        tracer_.Printf("ERROR: %s requires %s: line %d, file:%s", "EBCDIC",
                       "character based input TYPE", Line(), File());
    }
    if (col.keyKind != 0 && col.start > 0 && col.widthGiven) {
      KeySummary& k = zid_.keys;
      k.kind = col.keyKind;
      if (col.keySeq > k.highestSeq) k.highestSeq = col.keySeq;
      k.lastByte = col.start + col.width - 1;
      k.totalWidth += col.width;
    }
    if (col.type == ColumnType::kText) col.textSize = options_.maxText;
    zid_.columns.push_back(std::move(col));
    return true;
  }

  const ZidOptions& options_;
  Tracer& tracer_;
  Zid& zid_;
  int64_t& position_;
  Tokenizer tok_;
  uint32_t lineNo_ = 0;
  std::string fileName_;
};

// The next physical line of text from *at, without its line end (a carriage return before
// the line feed is dropped, as text-mode reading does).
std::string_view NextLine(std::string_view text, size_t* at, bool* hadNewline) {
  size_t nl = text.find('\n', *at);
  size_t end = nl == std::string_view::npos ? text.size() : nl;
  std::string_view line = text.substr(*at, end - *at);
  *hadNewline = nl != std::string_view::npos;
  *at = *hadNewline ? nl + 1 : text.size();
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

}  // namespace

int FindColumnByName(const std::vector<Column>& columns, std::string_view name) {
  for (size_t i = 0; i < columns.size(); ++i)
    if (EqualsNoCase(columns[i].name, name)) return static_cast<int>(i);
  return -1;
}

uint32_t CompileZid(std::string_view text, const ZidOptions& options, const Replacer& replacer,
                    Tracer& tracer, Zid* zid) {
  Routine routine(tracer, "ZPReadZIDFile: ");
  *zid = Zid{};
  std::string file(options.sourceName);
  int64_t position = 1;
  LineCompiler compiler(options, tracer, *zid, position);
  compiler.set_file(file);
  uint32_t failed = 0;
  uint32_t lineNo = 0;
  size_t at = 0;
  std::string replaced;
  bool hadNewline = false;
  // One line through the replacement table into replaced; false when it is too long.
  auto replace = [&](std::string_view raw) {
    if (raw.size() > kMaxZidLine) return false;
    Routine routine(tracer, "ZPMetaReplace: ");
    const bool fits = replacer.Apply(raw, kMaxZidLine, &replaced);
    routine.Exit(TWSUCCESS);
    return fits;
  };
  while (at < text.size()) {
    std::string_view raw = NextLine(text, &at, &hadNewline);
    ++lineNo;
    if (tracer.On(Tracer::kDetail)) {
      tracer.Printf("ZID line %lu", static_cast<unsigned long>(lineNo));
      tracer.Dump(raw);
    }
    const bool tooLong = !replace(raw);
    std::string_view line = tooLong ? raw.substr(0, 0) : std::string_view(replaced);
    if (options.echo) {
      if (line.size() >= 73)
        tracer.Printf("line %4lu - %.72s...", static_cast<unsigned long>(lineNo), line.data());
      else
        tracer.Printf("line %4lu - %.*s", static_cast<unsigned long>(lineNo),
                      static_cast<int>(line.size()), line.data());
    }
    if (failed >= kMaxFailedLines) {
      tracer.Printf("ERROR: ZID file processing terminated: %s", file.c_str());
      break;
    }
    if (tooLong) {
      tracer.Printf("ERROR: ZID line exceeds maximum length (%d), on line %d, file: %s",
                    static_cast<int>(kMaxZidLine), static_cast<int>(lineNo), file.c_str());
      ++failed;
      continue;
    }
    size_t comment = line.find("//");
    if (comment != std::string_view::npos) line = line.substr(0, comment);
    size_t lead = 0;
    while (lead < line.size() && IsSpace(line[lead])) ++lead;
    line.remove_prefix(lead);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '*') {
      if (options.embeddedData) {
        zid->markerFound = true;
        break;
      }
      tracer.Printf("ERROR: Embedded data indicator detected on line %d, file: %s",
                    static_cast<int>(lineNo), file.c_str());
      ++failed;
      break;
    }
    LineCompiler::Outcome outcome = compiler.Compile(line, lineNo);
    if (outcome == LineCompiler::Outcome::kFailed ||
        outcome == LineCompiler::Outcome::kFailedAndEnd)
      ++failed;
    if (outcome == LineCompiler::Outcome::kFailedAndEnd) break;
  }

  if (zid->markerFound) {
    while (at < text.size()) {
      std::string_view raw = NextLine(text, &at, &hadNewline);
      ++lineNo;
      if (!replace(raw)) {
        tracer.Printf("ERROR: Embedded data line exceeds maximum length (%d), on line %d, file: %s",
                      static_cast<int>(kMaxZidLine), static_cast<int>(lineNo), file.c_str());
        ++failed;
        break;
      }
      zid->embedded.append(replaced);
      if (hadNewline) zid->embedded.push_back('\n');
    }
  }

  uint32_t status = TWSUCCESS;
  if (failed > 0) {
    tracer.Printf("ERROR: %d errors in ZID file entries", static_cast<int>(failed));
    status = TWFAIL_EXTERNAL;
  } else if (zid->columns.empty()) {
    tracer.Printf("ERROR: No valid ZID file entries");
    status = TWFAIL_EXTERNAL;
  } else if (options.embeddedData && !zid->markerFound) {
    tracer.Printf("ERROR: Embedded data delimiter not found");
    status = TWFAIL_EXTERNAL;
  }
  if (status != TWSUCCESS) {
    zid->columns.clear();
    zid->embedded.clear();
  }
  return routine.Exit(status);
}

}  // namespace flatrec
