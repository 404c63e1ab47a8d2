// The statement texts of the Oracle connector.
#include "sql_text.h"

#include <cctype>
#include <cstdio>

#include "twx_text.h"

namespace oracle {
namespace {

std::string Cut(std::string_view name) { return twx::CutName(name, kNameLimit); }

std::string Join(const std::vector<std::string>& names, bool cut) {
  return twx::JoinNames(names, cut ? kNameLimit : std::string_view::npos);
}

void AppendKeys(std::string& out, const std::vector<KeyTerm>& keys, bool& first) {
  for (const KeyTerm& k : keys) {
    out += first ? " WHERE " : " AND ";
    first = false;
    out += Cut(k.name);
    out += k.op;
    out += Placeholder(k.placeholder);
  }
}

bool StartsWithWord(std::string_view text, std::string_view word) {
  if (text.size() < word.size()) return false;
  for (size_t i = 0; i < word.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(text[i])) != word[i]) return false;
  return true;
}

}  // namespace

std::string Placeholder(uint32_t number) {
  char b[16];
  std::snprintf(b, sizeof b, ":%05u", number);
  return b;
}

std::string ToDateText(const DateParts& t) {
  uint32_t hour = t.hour % 12 == 0 ? 12 : t.hour % 12;
  const char* half = t.hour < 12 ? "AM" : "PM";
  char b[128];
  std::snprintf(b, sizeof b, " TO_DATE ('%u %u %u %u %u %u %s', 'YYYY MM DD HH MI SS AM') ", t.year,
                t.month, t.day, hour, t.minute, t.second, half);
  return b;
}

std::string SelectText(const SelectParts& p) {
  std::string columns;
  if (!p.fieldList.empty())
    columns = Join(p.fieldList, true);
  else if (p.writeback)
    columns = Join(p.describedColumns, false);
  std::string out = "SELECT ";
  if (columns.empty()) {
    out += "* FROM ";
  } else {
    out += columns;
    if (p.writeback) out += ",ROWID";
    out += " FROM ";
  }
  out += p.table;
  bool first = true;
  if (!p.condition.empty() || !p.stampField.empty() || !p.keys.empty()) {
    out += " WHERE ";
    if (!p.condition.empty()) {
      out += " (";
      out += p.condition;
      out += ") ";
      first = false;
    }
    if (!p.stampField.empty()) {
      if (!first) out += " AND ";
      first = false;
      out += " (";
      if (p.hasBaseStamp) {
        out += p.stampField;
        out += " > ";
        out += ToDateText(p.baseStamp);
        out += " AND ";
      }
      out += p.stampField;
      out += " <= ";
      out += ToDateText(p.maxStamp);
      out += ") ";
    }
    for (const KeyTerm& k : p.keys) {
      if (!first) out += " AND ";
      first = false;
      out += Cut(k.name);
      out += k.op;
      out += Placeholder(k.placeholder);
    }
  }
  if (!p.orderList.empty()) {
    out += " ORDER BY ";
    out += Join(p.orderList, false);
  }
  if (p.writeback) {
    out += " FOR UPDATE OF ";
    out += columns;
  }
  return out;
}

std::string InsertText(std::string_view table, const std::vector<std::string>& columns) {
  std::string out = "INSERT INTO ";
  out += table;
  out += " (";
  out += Join(columns, false);
  out += ") VALUES (";
  for (size_t i = 0; i < columns.size(); ++i) {
    if (i) out += ",";
    out += Placeholder(static_cast<uint32_t>(i + 1));
  }
  out += ") ";
  return out;
}

std::string WriteText(bool update, std::string_view table, const std::vector<SetTerm>& sets,
                      const std::vector<KeyTerm>& keys, std::string_view condition,
                      bool writeback) {
  std::string out = update ? "UPDATE " : "DELETE FROM ";
  out += table;
  if (update) {
    out += " SET ";
    for (size_t i = 0; i < sets.size(); ++i) {
      if (i) out += ",";
      out += Cut(sets[i].name);
      out += "=";
      out += Placeholder(sets[i].placeholder);
    }
  }
  if (writeback) {
    out += " WHERE  ROWID = :ROW_ID";
    return out;
  }
  bool first = true;
  AppendKeys(out, keys, first);
  if (!condition.empty()) {
    out += first ? " WHERE " : " AND ";
    out += " (";
    out += condition;
    out += ") ";
  }
  return out;
}

std::string SizeSuffix(uint32_t size, bool hasScale, uint32_t scale) {
  char b[32];
  if (hasScale && scale != 0)
    std::snprintf(b, sizeof b, "(%05u,%05u)", size, scale == 0x7FFFFFFFu ? 0u : scale);
  else
    std::snprintf(b, sizeof b, "(%05u)", size);
  return b;
}

std::string CreateTableText(std::string_view table, const std::vector<CreateColumn>& columns) {
  std::string out = "CREATE TABLE ";
  out += table;
  out += " (";
  for (size_t i = 0; i < columns.size(); ++i) {
    if (i) out += ",";
    out += Cut(columns[i].name);
    out += " ";
    out += columns[i].type;
    out += columns[i].suffix;
    if (columns[i].notNull) out += " NOT NULL";
  }
  out += ") ";
  return out;
}

std::string CreateIndexText(std::string_view index, std::string_view table,
                            const std::vector<std::string>& columns) {
  std::string out = "CREATE INDEX ";
  out += index;
  out += " ON ";
  out += table;
  out += " (";
  out += Join(columns, true);
  out += ") ";
  return out;
}

std::string DropText(bool table, std::string_view name) {
  return std::string(table ? "DROP TABLE " : "DROP INDEX ") + std::string(name);
}

std::string TruncateText(std::string_view table) {
  return "TRUNCATE TABLE " + std::string(table);
}

std::string CatalogText(uint32_t kind, std::string_view table) {
  if (kind == 3)
    return "SELECT TABLE_NAME, OWNER, COMMENTS FROM ALL_TAB_COMMENTS WHERE OWNER != 'SYS'";
  if (kind != 4 && kind != 5) return {};
  // A quote in the name must not end the literal.
  return std::string(kind == 4 ? "SELECT INDEX_NAME, OWNER, '' FROM ALL_INDEXES"
                               : "SELECT COLUMN_NAME, OWNER, '' FROM ALL_TAB_COLUMNS") +
         " WHERE TABLE_NAME = UPPER (" + twx::Quoted(table, '\'') + ") ";
}

std::string OwnStatementText(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && std::isspace(static_cast<unsigned char>(text[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1]))) --e;
  std::string_view t = text.substr(b, e - b);
  bool block = StartsWithWord(t, "BEGIN") || StartsWithWord(t, "DECLARE");
  if (!t.empty() && t.back() == ';' && !block) t.remove_suffix(1);
  return std::string(t);
}

}  // namespace oracle
