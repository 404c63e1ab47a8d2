// The statement texts of the Corvex connector.
#include "sql_text.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "flowcore.h"
#include "twx_text.h"

namespace corvex {
namespace {

std::string Cut(std::string_view name) { return twx::CutName(name, kNameLimit); }

std::string Join(const std::vector<std::string>& names, bool cut) {
  return twx::JoinNames(names, cut ? kNameLimit : std::string_view::npos);
}

void AppendTerm(std::string& out, const KeyTerm& k) {
  out += Cut(k.name);
  out += k.op;
  out += k.value;
}

struct CharacterSet {
  std::string_view name;
  uint32_t format;
};
constexpr CharacterSet kCharacterSets[] = {
    {"ascii_7", TWSTREAMFMT_ASCII},
    {"ascii_8", TWSTREAMFMT_ASCII},
    {"big5", TWSTREAMFMT_BIG5},
    {"cp437", TWSTREAMFMT_CP437},
    {"cp850", TWSTREAMFMT_CP850},
    {"cp852", TWSTREAMFMT_CP852},
    {"cp855", TWSTREAMFMT_CP855},
    {"cp857", TWSTREAMFMT_CP857},
    {"cp860", TWSTREAMFMT_CP860},
    {"cp864", TWSTREAMFMT_CP864},
    {"cp866", TWSTREAMFMT_CP866},
    {"cp869", TWSTREAMFMT_CP869},
    {"cp874", TWSTREAMFMT_CP874},
    {"cp932", TWSTREAMFMT_CP932},
    {"cp950", TWSTREAMFMT_CP950},
    {"cp1250", TWSTREAMFMT_CP1250},
    {"cp1251", TWSTREAMFMT_CP1251},
    {"cp1252", TWSTREAMFMT_CP1252},
    {"cp1253", TWSTREAMFMT_CP1253},
    {"cp1254", TWSTREAMFMT_CP1254},
    {"cp1255", TWSTREAMFMT_CP1255},
    {"cp1256", TWSTREAMFMT_CP1256},
    {"deckanji", TWSTREAMFMT_JIS},
    {"euccns", TWSTREAMFMT_EUCT},
    {"eucgb", TWSTREAMFMT_EUCC},
    {"eucjis", TWSTREAMFMT_EUCJ},
    {"eucksc", TWSTREAMFMT_EUCK},
    {"greek8", TWSTREAMFMT_HPGREEK},
    {"iso_1", TWSTREAMFMT_ISO88591},
    {"iso88592", TWSTREAMFMT_ISO88592},
    {"iso88595", TWSTREAMFMT_ISO88595},
    {"iso88596", TWSTREAMFMT_ISO88596},
    {"iso88597", TWSTREAMFMT_ISO88597},
    {"iso88598", TWSTREAMFMT_ISO88598},
    {"iso88599", TWSTREAMFMT_ISO88599},
    {"koi8", TWSTREAMFMT_NATIVE},
    {"mac_cyr", TWSTREAMFMT_MACSCRIPT7},
    {"mac_ee", TWSTREAMFMT_MACSCRIPT29},
    {"macgrk2", TWSTREAMFMT_MACSCRIPT6},
    {"mac", TWSTREAMFMT_MACSCRIPT0},
    {"macturk", TWSTREAMFMT_MACSCRIPT0TURKISH},
    {"roman8", TWSTREAMFMT_HPROMAN},
    {"sjis", TWSTREAMFMT_CP932},
    {"tis620", TWSTREAMFMT_HPTHAI},
    {"turkish8", TWSTREAMFMT_HPTURKISH},
    {"decmcs", TWSTREAMFMT_DECMCS},
};

}  // namespace

uint32_t FormatOfCharacterSet(std::string_view name, bool* found) {
  for (const CharacterSet& s : kCharacterSets) {
    if (s.name == name) {
      if (found != nullptr) *found = s.format != TWSTREAMFMT_NATIVE;
      return s.format;
    }
  }
  if (found != nullptr) *found = false;
  return TWSTREAMFMT_NATIVE;
}

std::string FloatLiteral(double value, bool integerColumn) {
  char b[64];
  if (integerColumn) {
    std::snprintf(b, sizeof b, "%" PRId64, static_cast<int64_t>(std::trunc(value)));
    return b;
  }
  std::snprintf(b, sizeof b, "%.17g", value);
  std::string text = b;
  const size_t e = text.find('e');
  if (e == std::string::npos) return text;
  // The same digits without an exponent, which every dialect reads.
  const int exponent = std::atoi(text.c_str() + e + 1);
  std::string mantissa = text.substr(0, e);
  std::string sign;
  if (!mantissa.empty() && mantissa[0] == '-') {
    sign = "-";
    mantissa.erase(0, 1);
  }
  std::string digits;
  for (char c : mantissa)
    if (c != '.') digits += c;
  // digits[0] stands at 10^exponent.
  std::string out;
  if (exponent < 0) {
    out = "0." + std::string(static_cast<size_t>(-exponent - 1), '0') + digits;
  } else if (static_cast<size_t>(exponent) + 1 >= digits.size()) {
    out = digits + std::string(static_cast<size_t>(exponent) + 1 - digits.size(), '0');
  } else {
    out = digits.substr(0, static_cast<size_t>(exponent) + 1) + "." +
          digits.substr(static_cast<size_t>(exponent) + 1);
  }
  while (out.find('.') != std::string::npos && (out.back() == '0' || out.back() == '.')) {
    const bool point = out.back() == '.';
    out.pop_back();
    if (point) break;
  }
  return sign + out;
}

std::string QuotedLiteral(std::string_view bytes) {
  return twx::Quoted(bytes, '"');
}
std::string StringLiteral(std::string_view text) {
  return twx::Quoted(text, '\'');
}

std::string HexLiteral(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out = "0x";
  out.reserve(2 + bytes.size() * 2);
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 0xF];
  }
  return out;
}

std::string DatetimeLiteral(const DateParts& t) {
  char b[96];
  std::snprintf(b, sizeof b, "'%d/%d/%d %d:%02d:%02d.%02d'", t.month, t.day, t.year, t.hour,
                t.minute, t.second, t.hundredth);
  return b;
}

std::string SelectText(const SelectParts& p) {
  std::string out = "select ";
  if (p.fieldList.empty()) {
    out += "* from ";
  } else {
    out += Join(p.fieldList, true);
    out += " from ";
  }
  out += p.table;
  if (!p.condition.empty() || !p.stampField.empty() || !p.keys.empty()) {
    out += " where ";
    bool first = true;
    auto next = [&] {
      if (!first) out += " and ";
      first = false;
    };
    if (!p.condition.empty()) {
      next();
      out += " (";
      out += p.condition;
      out += ") ";
    }
    if (!p.stampField.empty()) {
      next();
      out += " (";
      if (p.hasBaseStamp) {
        out += p.stampField;
        out += " > '";
        out += p.baseStamp;
        out += "' and ";
      }
      out += p.stampField;
      out += " <= '";
      out += p.maxStamp;
      out += "')";
    }
    for (const KeyTerm& k : p.keys) {
      next();
      AppendTerm(out, k);
    }
  }
  if (!p.orderList.empty()) {
    out += " order by ";
    out += Join(p.orderList, true);
  }
  return out;
}

std::string InsertText(std::string_view table, const std::vector<std::string>& names,
                       const std::vector<std::string>& values) {
  std::string out = "insert into ";
  out += table;
  out += " (";
  out += Join(names, false);
  out += ") values (";
  out += Join(values, false);
  out += ") ";
  return out;
}

namespace {
void AppendSets(std::string& out, const std::vector<SetTerm>& sets) {
  for (size_t i = 0; i < sets.size(); ++i) {
    if (i) out += ",";
    out += Cut(sets[i].name);
    out += "=";
    out += sets[i].value;
  }
}
}  // namespace

std::string WriteText(bool update, bool literal, std::string_view table,
                      const std::vector<SetTerm>& sets, const std::vector<KeyTerm>& keys,
                      std::string_view condition) {
  std::string out = update ? "update " : "delete from ";
  out += table;
  if (update) {
    out += " set ";
    AppendSets(out, sets);
  }
  if (literal) {
    out += " where ";
    bool first = true;
    if (!condition.empty()) {
      out += " (";
      out += condition;
      out += ") ";
      first = false;
    }
    for (const KeyTerm& k : keys) {
      if (!first) out += " and ";
      first = false;
      AppendTerm(out, k);
    }
    return out;
  }
  bool first = true;
  for (const KeyTerm& k : keys) {
    out += first ? " where " : " and ";
    first = false;
    AppendTerm(out, k);
  }
  if (!condition.empty()) {
    out += first ? " where " : " and ";
    out += " (";
    out += condition;
    out += ") ";
  }
  return out;
}

std::string CursorUpdateText(std::string_view table, const std::vector<SetTerm>& sets) {
  std::string out = "update ";
  out += table;
  out += " set ";
  AppendSets(out, sets);
  out += " where current of ";
  out += kCursorName;
  return out;
}

std::string CursorDeleteText(std::string_view table) {
  std::string out = "delete from ";
  out += table;
  out += " where current of ";
  out += kCursorName;
  return out;
}

std::string UseText(std::string_view database) {
  return "use " + std::string(database);
}
std::string TruncateText(std::string_view table) {
  return "truncate table " + std::string(table);
}

std::string CreateTableText(std::string_view table, const std::vector<CreateColumn>& columns) {
  std::string out = "create table ";
  out += table;
  out += " (";
  for (size_t i = 0; i < columns.size(); ++i) {
    if (i) out += ",";
    out += Cut(columns[i].name);
    out += " ";
    out += columns[i].type;
    out += columns[i].notNull ? " not null" : " null";
  }
  out += ") ";
  return out;
}

std::string CreateIndexText(std::string_view index, std::string_view table,
                            const std::vector<std::string>& columns) {
  std::string out = "create unique index ";
  out += index;
  out += " on ";
  out += table;
  out += " (";
  out += Join(columns, true);
  out += ") ";
  return out;
}

std::string DropTableText(std::string_view table) {
  return "drop table " + std::string(table);
}
std::string DropIndexText(std::string_view table, std::string_view index) {
  return "drop index " + std::string(table) + "." + std::string(index);
}

std::string CatalogText(uint32_t kind, std::string_view table) {
  switch (kind) {
    case 2:
      return "select d.name 'database', u.name 'owner', '' 'comment' from master..sysdatabases d, "
             "master..sysusers u where d.suid = u.suid";
    case 3:
      return "select o.name 'table', u.name 'owner', '' 'comment' from sysobjects o, sysusers u "
             "where o.type = 'U' and o.uid = u.uid";
    case 4:
      return "select i.name, '' 'owner', '' 'comment' from sysindexes i, sysobjects o where "
             "i.indid != 0 and i.id = o.id and o.type = 'U' and o.name = " +
             StringLiteral(table);
    case 5:
      return "select c.name, '' 'owner', '' 'comment' from syscolumns c, sysobjects o where c.id "
             "= o.id and o.type = 'U' and o.name = " +
             StringLiteral(table);
    default:
      return {};
  }
}

std::string BulkOptionText(std::string_view database) {
  return "exec sp_dboption " + std::string(database) + ", \"select into/bulkcopy\", true";
}

std::string CreateType(const FieldShape& f, bool shortBound, bool shortUnbound) {
  auto sized = [](const char* type, uint32_t size) {
    return std::string(type) + "(" + std::to_string(size) + ")";
  };
  auto numeric = [&]() -> std::string {
    if (f.precision == 0) return "numeric";
    const int32_t scale = f.scale == TWSCALE_ZERO ? 0 : f.scale;
    if (scale == 0) return sized("numeric", f.precision);
    return "numeric(" + std::to_string(f.precision) + ", " + std::to_string(scale) + ")";
  };
  auto stream = [&](bool binary) -> std::string {
    uint32_t length = f.length;
    if ((length > kShortLimit && shortBound) || (length == 0 && shortUnbound)) length = kShortLimit;
    if (length == 0) return binary ? "image" : "text";
    const bool fixed = (f.formatFlags & TWSTREAMF_FIXED) != 0;
    return sized(binary ? (fixed ? "binary" : "varbinary") : (fixed ? "char" : "varchar"), length);
  };
  uint32_t type = f.type;
  if (type == TWTYPE_BINARY && f.streamFormat == TWSTREAMFMT_NUMBER_LIST) return "float";
  if (type == TWTYPE_BINARY && f.streamFormat == TWSTREAMFMT_DATETIME_LIST) return "datetime";
  switch (type) {
    case TWTYPE_INT:
      if (f.formatFlags & TWNUMBERF_BIT) return "bit";
      if (f.precision == 0 && (f.formatFlags & TWNUMBERF_NUMERIC) == 0) return "int";
      return sized("numeric", f.precision);
    case TWTYPE_FLOAT:
      if ((f.scale == 0) && (f.formatFlags & TWNUMBERF_NUMERIC) == 0)
        return f.byteSize >= 1 && f.byteSize <= 4 ? "real" : "float";
      return numeric();
    case TWTYPE_CURRENCY:
      return f.byteSize >= 1 && f.byteSize <= 4 ? "smallmoney" : "money";
    case TWTYPE_NUMERIC:
      return numeric();
    case TWTYPE_DATETIME:
      return f.byteSize >= 1 && f.byteSize <= 4 ? "smalldatetime" : "datetime";
    case TWTYPE_TEXT:
      return stream(false);
    case TWTYPE_BINARY:
      return stream(f.streamFormat == TWSTREAMFMT_BLOB);
    default:
      return {};
  }
}

}  // namespace corvex
