// ORA72 over SQLite: sessions, cursors, binds, defines and the value conversions between the
// client's external types and what SQLite stores.
#include "ora72.h"

#include <sqlite3.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "dialect.h"

namespace ora72 {
namespace {

struct Statement;

struct Session {
  sqlite3* db = nullptr;
  bool autocommit = false;
  uint64_t generation = 0;  // bumped by every commit and rollback: ends FOR UPDATE cursors
  std::string clock;        // a fixed SYSDATE, or empty for the real clock
  std::string trace;        // the statement log, or empty
  int lastRc = 0;
  std::string lastDetail;  // SQLite's words for lastRc
  std::set<Statement*> statements;
};

struct Bind {
  std::string name;
  int index;
  const unsigned char* value;
  int32_t length;
  int type;
  const int16_t* indicators;
};

struct Define {
  unsigned char* buffer = nullptr;
  int32_t length = 0;
  int type = 0;
  int16_t* indicators = nullptr;
  uint16_t* returnLengths = nullptr;
  size_t padTo = 0;  // a CHAR column's size: its values come blank-padded to it
};

struct Statement {
  Session* session = nullptr;
  sqlite3_stmt* stmt = nullptr;
  Rewritten info;
  std::vector<Bind> binds;
  std::vector<Define> defines;  // by position - 1
  bool executed = false;
  bool done = false;
  bool onRow = false;
  uint64_t lockGeneration = 0;
};

struct Text {
  int rc;
  const char* text;
};
const Text kTexts[] = {
    {1, "unique constraint violated"},
    {54, "resource busy and acquire with NOWAIT specified"},
    {600, "internal error code"},
    {900, "invalid SQL statement"},
    {904, "invalid column name"},
    {911, "invalid character"},
    {942, "table or view does not exist"},
    {1002, "fetch out of sequence"},
    {1007, "variable not in select list"},
    {1012, "not logged on"},
    {1017, "invalid username/password; logon denied"},
    {1036, "illegal variable name/number"},
    {1400, "mandatory (NOT NULL) column is missing or NULL during insert"},
    {1401, "inserted value too large for column"},
    {1403, "no data found"},
    {1405, "fetched column value is NULL"},
    {1406, "fetched column value was truncated"},
    {1722, "invalid number"},
    {1861, "literal does not match format string"},
    {6550, "line 1, column 1: PL/SQL blocks are not available"},
    {12154, "TNS:could not resolve service name"},
};

bool ContainsI(const std::string& hay, const char* needle) {
  std::string h = hay, n = needle;
  for (char& c : h) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (char& c : n) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return h.find(n) != std::string::npos;
}

// Maps what SQLite said into a return code, remembered with SQLite's words for the error text.
int MapError(Session& s, int sqliteRc, const char* message) {
  std::string m = message ? message : "";
  int rc = ORA_RC_INTERNAL;
  int code = 0;
  if (std::sscanf(m.c_str(), "ORA-%d", &code) == 1 && code > 0) rc = code;
  else if (ContainsI(m, "ora72_size")) rc = ORA_RC_TOO_LARGE;
  else if ((sqliteRc & 0xFF) == SQLITE_BUSY || (sqliteRc & 0xFF) == SQLITE_LOCKED) rc = 54;
  else if (ContainsI(m, "no such table")) rc = 942;
  else if (ContainsI(m, "no such column")) rc = 904;
  else if (ContainsI(m, "UNIQUE constraint")) rc = 1;
  else if (ContainsI(m, "NOT NULL constraint")) rc = 1400;
  else if (ContainsI(m, "syntax error") || ContainsI(m, "incomplete input")) rc = 900;
  else if (ContainsI(m, "datatype mismatch")) rc = 1722;
  s.lastRc = rc;
  s.lastDetail = m;
  return rc;
}

int Fail(OraCursor* c, int rc) {
  c->rc = static_cast<int16_t>(rc);
  return rc;
}

int ExecSql(Session& s, const char* sql) {
  char* err = nullptr;
  int r = sqlite3_exec(s.db, sql, nullptr, nullptr, &err);
  int rc = r == SQLITE_OK ? 0 : MapError(s, r, err ? err : sqlite3_errmsg(s.db));
  sqlite3_free(err);
  return rc;
}

bool InTransaction(Session& s) { return !sqlite3_get_autocommit(s.db); }

int Commit(Session& s) {
  ++s.generation;
  return InTransaction(s) ? ExecSql(s, "COMMIT") : 0;
}

int Rollback(Session& s) {
  ++s.generation;
  return InTransaction(s) ? ExecSql(s, "ROLLBACK") : 0;
}

// A write needs a transaction unless the server commits each statement.
int BeginForWrite(Session& s) {
  if (s.autocommit || InTransaction(s)) return 0;
  return ExecSql(s, "BEGIN");
}

// FOR UPDATE: hold the write lock until the transaction ends.
int TakeWriteLock(Session& s) {
  if (!InTransaction(s)) return ExecSql(s, "BEGIN IMMEDIATE");
  return ExecSql(s, "UPDATE ora72_meta SET value = value WHERE 0");
}

void Trace(Session& s, const char* text, size_t length) {
  if (s.trace.empty()) return;
  if (FILE* f = std::fopen(s.trace.c_str(), "ab")) {
    std::fwrite(text, 1, length, f);
    std::fputc('\n', f);
    std::fclose(f);
  }
}

std::string NowText(Session& s) {
  if (!s.clock.empty()) return s.clock;
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char b[32];
  std::strftime(b, sizeof b, "%Y-%m-%d %H:%M:%S", &tm);
  return b;
}

void SysdateFn(sqlite3_context* cx, int, sqlite3_value**) {
  auto* s = static_cast<Session*>(sqlite3_user_data(cx));
  std::string t = NowText(*s);
  sqlite3_result_text(cx, t.c_str(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
}

void ToDateFn(sqlite3_context* cx, int n, sqlite3_value** v) {
  if (sqlite3_value_type(v[0]) == SQLITE_NULL) return sqlite3_result_null(cx);
  const char* text = reinterpret_cast<const char*>(sqlite3_value_text(v[0]));
  const char* fmt = n > 1 ? reinterpret_cast<const char*>(sqlite3_value_text(v[1]))
                          : "YYYY-MM-DD HH24:MI:SS";
  std::string out;
  if (!text || !fmt || !ToDate(text, fmt, out))
    return sqlite3_result_error(cx, "ORA-01861: literal does not match format string", -1);
  sqlite3_result_text(cx, out.c_str(), static_cast<int>(out.size()), SQLITE_TRANSIENT);
}

// ---- binds: caller's element -> SQLite value ----

struct Span {
  const unsigned char* data;
  size_t size;
};

// The value of a length-prefixed element (2- or 4-byte length, then the bytes); a length
// beyond the element is cut to it.
Span Prefixed(const unsigned char* p, size_t n, size_t prefix) {
  if (n < prefix) return {p, 0};
  int64_t l = 0;
  if (prefix == 2) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    l = v;
  } else {
    int32_t v;
    std::memcpy(&v, p, 4);
    l = v;
  }
  return {p + prefix, std::min<size_t>(l > 0 ? static_cast<size_t>(l) : 0, n - prefix)};
}

// A decimal number with more significant digits than a double keeps (15) that is no 64-bit
// integer: SQLite would store it as a REAL and lose digits, so it is kept as the bytes of its
// text, which every read gives back as they came.
bool NeedsExactDigits(std::string_view t) {
  size_t i = 0;
  if (i < t.size() && (t[i] == '-' || t[i] == '+')) ++i;
  size_t digits = 0, significant = 0, points = 0;
  bool leading = true, fraction = false;
  for (; i < t.size(); ++i) {
    char c = t[i];
    if (c == '.') {
      if (++points > 1) return false;
      fraction = true;
      continue;
    }
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    ++digits;
    if (c != '0') leading = false;
    if (!leading) ++significant;
  }
  if (digits == 0 || significant <= 15) return false;
  if (!fraction && significant <= 18) return false;  // an integer SQLite holds exactly
  return true;
}

int BindOne(Statement& st, const Bind& b, uint32_t row) {
  sqlite3_stmt* q = st.stmt;
  if (b.indicators && b.indicators[row] == -1) return sqlite3_bind_null(q, b.index);
  const unsigned char* p = b.value + static_cast<size_t>(row) * static_cast<size_t>(b.length);
  size_t n = b.length > 0 ? static_cast<size_t>(b.length) : 0;
  auto text = [&](const void* t, size_t len) {
    if (len == 0) return sqlite3_bind_null(q, b.index);  // '' is NULL
    if (NeedsExactDigits(std::string_view(static_cast<const char*>(t), len)))
      return sqlite3_bind_blob(q, b.index, t, static_cast<int>(len), SQLITE_TRANSIENT);
    return sqlite3_bind_text(q, b.index, static_cast<const char*>(t), static_cast<int>(len),
                             SQLITE_TRANSIENT);
  };
  auto blob = [&](const void* t, size_t len) {
    if (len == 0) return sqlite3_bind_null(q, b.index);
    return sqlite3_bind_blob(q, b.index, t, static_cast<int>(len), SQLITE_TRANSIENT);
  };
  switch (b.type) {
    case ORA_VARCHAR2:
    case ORA_CHAR:
    case ORA_LONG:
      return text(p, n);
    case ORA_STRING:
      return text(p, strnlen(reinterpret_cast<const char*>(p), n));
    case ORA_VARCHAR:
    case ORA_LONGVARCHAR: {
      Span v = Prefixed(p, n, b.type == ORA_VARCHAR ? 2 : 4);
      return text(v.data, v.size);
    }
    case ORA_INTEGER: {
      int64_t v = 0;
      if (n == 1) v = static_cast<int8_t>(p[0]);
      else if (n == 2) { int16_t x; std::memcpy(&x, p, 2); v = x; }
      else if (n == 4) { int32_t x; std::memcpy(&x, p, 4); v = x; }
      else if (n == 8) std::memcpy(&v, p, 8);
      else return -ORA_RC_INVALID_NUMBER;
      return sqlite3_bind_int64(q, b.index, v);
    }
    case ORA_FLOAT: {
      double v;
      if (n == 4) { float x; std::memcpy(&x, p, 4); v = x; }
      else if (n == 8) std::memcpy(&v, p, 8);
      else return -ORA_RC_INVALID_NUMBER;
      return sqlite3_bind_double(q, b.index, v);
    }
    case ORA_VARNUM: {
      std::string t = VarnumToText(p, n);
      char* end = nullptr;
      long long v = std::strtoll(t.c_str(), &end, 10);
      // Whole numbers that fit are stored as integers, others as doubles unless they carry
      // more digits than a double keeps.
      if (*end == '\0' && t.size() < 19) return sqlite3_bind_int64(q, b.index, v);
      if (!NeedsExactDigits(t)) return sqlite3_bind_double(q, b.index, std::strtod(t.c_str(), nullptr));
      return text(t.data(), t.size());
    }
    case ORA_DATE: {
      if (n < 7) return -ORA_RC_INVALID_NUMBER;
      std::string t = DateToText(p);
      return text(t.data(), t.size());
    }
    case ORA_RAW:
    case ORA_LONGRAW:
      return blob(p, n);
    case ORA_VARRAW:
    case ORA_LONGVARRAW: {
      Span v = Prefixed(p, n, b.type == ORA_VARRAW ? 2 : 4);
      return blob(v.data, v.size);
    }
    default:
      return -ORA_RC_INVALID_NUMBER;
  }
}

int BindRow(Statement& st, uint32_t row) {
  sqlite3_reset(st.stmt);
  sqlite3_clear_bindings(st.stmt);
  for (const Bind& b : st.binds) {
    int r = BindOne(st, b, row);
    if (r < 0) return -r;
    if (r != SQLITE_OK) return MapError(*st.session, r, sqlite3_errmsg(st.session->db));
  }
  return 0;
}

// ---- defines: SQLite column -> caller's element ----

// Writes the current row's column into row `row` of the define. Answers 0 or a return code.
int PutColumn(Statement& st, int col, const Define& d, uint32_t row) {
  sqlite3_stmt* q = st.stmt;
  size_t len = d.length > 0 ? static_cast<size_t>(d.length) : 0;
  unsigned char* out = d.buffer + static_cast<size_t>(row) * len;
  if (d.returnLengths) d.returnLengths[row] = 0;
  if (sqlite3_column_type(q, col) == SQLITE_NULL) {
    if (d.indicators) {
      d.indicators[row] = -1;
      return 0;
    }
    return ORA_RC_NULL_FETCHED;
  }
  if (d.indicators) d.indicators[row] = 0;
  auto truncated = [&](size_t full) {
    if (d.indicators) {
      d.indicators[row] = static_cast<int16_t>(full > 0x7FFF ? -2 : static_cast<int>(full));
      return 0;
    }
    return ORA_RC_TRUNCATED;
  };
  std::string padded;
  auto bytes = [&](const void* src, size_t full, size_t room, size_t prefix, bool nul, bool pad) {
    if (d.padTo > full && d.type != ORA_ROWID) {
      padded.assign(static_cast<const char*>(src), full);
      padded.resize(d.padTo, ' ');
      src = padded.data();
      full = padded.size();
    }
    size_t copy = std::min(full, room);
    std::memcpy(out + prefix, src, copy);
    if (prefix == 2) { uint16_t l = static_cast<uint16_t>(copy); std::memcpy(out, &l, 2); }
    if (prefix == 4) { int32_t l = static_cast<int32_t>(copy); std::memcpy(out, &l, 4); }
    if (nul) out[prefix + copy] = 0;
    if (pad && copy < room) std::memset(out + prefix + copy, ' ', room - copy);
    if (d.returnLengths) d.returnLengths[row] = static_cast<uint16_t>(pad ? room : copy);
    return copy < full ? truncated(full) : 0;
  };
  switch (d.type) {
    case ORA_VARCHAR2:
    case ORA_CHAR:
    case ORA_LONG:
    case ORA_STRING:
    case ORA_VARCHAR:
    case ORA_LONGVARCHAR:
    case ORA_ROWID: {
      const unsigned char* t = sqlite3_column_text(q, col);
      size_t full = static_cast<size_t>(sqlite3_column_bytes(q, col));
      if (d.type == ORA_STRING) return len == 0 ? truncated(full) : bytes(t, full, len - 1, 0, true, false);
      if (d.type == ORA_VARCHAR) return bytes(t, full, len >= 2 ? len - 2 : 0, 2, false, false);
      if (d.type == ORA_LONGVARCHAR) return bytes(t, full, len >= 4 ? len - 4 : 0, 4, false, false);
      return bytes(t, full, len, 0, false, d.type == ORA_CHAR);
    }
    case ORA_RAW:
    case ORA_LONGRAW:
    case ORA_VARRAW:
    case ORA_LONGVARRAW: {
      const void* t = sqlite3_column_blob(q, col);
      size_t full = static_cast<size_t>(sqlite3_column_bytes(q, col));
      if (d.type == ORA_VARRAW) return bytes(t, full, len >= 2 ? len - 2 : 0, 2, false, false);
      if (d.type == ORA_LONGVARRAW) return bytes(t, full, len >= 4 ? len - 4 : 0, 4, false, false);
      return bytes(t, full, len, 0, false, false);
    }
    case ORA_INTEGER:
    case ORA_FLOAT:
    case ORA_VARNUM: {
      auto putInt = [&](int64_t i) {
        if (len == 2) { int16_t v = static_cast<int16_t>(i); std::memcpy(out, &v, 2); }
        else if (len == 4) { int32_t v = static_cast<int32_t>(i); std::memcpy(out, &v, 4); }
        else if (len == 8) std::memcpy(out, &i, 8);
        else return ORA_RC_INVALID_NUMBER;
        return 0;
      };
      auto putDouble = [&](double x) {
        if (d.type == ORA_INTEGER) return putInt(static_cast<int64_t>(x < 0 ? x - 0.5 : x + 0.5));
        if (len == 4) { float f = static_cast<float>(x); std::memcpy(out, &f, 4); }
        else if (len == 8) std::memcpy(out, &x, 8);
        else return ORA_RC_INVALID_NUMBER;
        return 0;
      };
      // Numbers SQLite holds as numbers go across as they are; others by their text.
      const int stored = sqlite3_column_type(q, col);
      if (d.type == ORA_INTEGER && stored == SQLITE_INTEGER) return putInt(sqlite3_column_int64(q, col));
      if (d.type != ORA_VARNUM && (stored == SQLITE_INTEGER || stored == SQLITE_FLOAT))
        return putDouble(sqlite3_column_double(q, col));
      const char* t = reinterpret_cast<const char*>(sqlite3_column_text(q, col));
      unsigned char v[22];
      if (!t || !VarnumFromText(t, v)) return ORA_RC_INVALID_NUMBER;
      if (d.type == ORA_VARNUM) {
        std::memcpy(out, v, std::min<size_t>(len, 22));
        if (d.returnLengths) d.returnLengths[row] = static_cast<uint16_t>(v[0] + 1);
        return 0;
      }
      return putDouble(std::strtod(t, nullptr));
    }
    case ORA_DATE: {
      const char* t = reinterpret_cast<const char*>(sqlite3_column_text(q, col));
      unsigned char v[7];
      if (!t || len < 7 || !DateFromText(t, v)) return 1861;
      std::memcpy(out, v, 7);
      return 0;
    }
    default:
      return ORA_RC_INVALID_NUMBER;
  }
}

int PutRow(Statement& st, uint32_t row) {
  int rc = 0;
  int columns = sqlite3_column_count(st.stmt);
  for (size_t p = 0; p < st.defines.size(); ++p) {
    const Define& d = st.defines[p];
    if (!d.buffer || static_cast<int>(p) >= columns) continue;
    int r = PutColumn(st, static_cast<int>(p), d, row);
    if (r && !rc) rc = r;
  }
  return rc;
}

// One step of a query. Answers 0 on a row, 1403 at the end, or a return code.
int Step(Statement& st) {
  int r = sqlite3_step(st.stmt);
  if (r == SQLITE_ROW) {
    st.onRow = true;
    return 0;
  }
  st.onRow = false;
  st.done = true;
  if (r == SQLITE_DONE) return ORA_RC_NO_DATA;
  return MapError(*st.session, r, sqlite3_errmsg(st.session->db));
}

Statement* Of(OraCursor* c) { return c ? static_cast<Statement*>(c->statement) : nullptr; }

void Release(Statement& st) {
  if (st.stmt) sqlite3_finalize(st.stmt);
  st.stmt = nullptr;
  st.binds.clear();
  st.defines.clear();
  st.executed = st.done = st.onRow = false;
}

template <class F>
int Guard(F f) noexcept {
  try {
    return f();
  } catch (...) {
    return ORA_RC_INTERNAL;
  }
}

// A statement call: a cursor that is open on a session.
template <class F>
int WithCursor(OraCursor* c, F f) noexcept {
  if (!c) return ORA_RC_NOT_LOGGED_ON;
  Statement* st = Of(c);
  if (!st || !st->session) return Fail(c, ORA_RC_NOT_LOGGED_ON);
  return Guard([&] {
    int rc = f(*st);
    c->rc = static_cast<int16_t>(rc);
    return rc;
  });
}

template <class F>
int WithLogin(OraLda* l, F f) noexcept {
  if (!l) return ORA_RC_NOT_LOGGED_ON;
  auto* s = static_cast<Session*>(l->session);
  if (!s) {
    l->rc = ORA_RC_NOT_LOGGED_ON;
    return ORA_RC_NOT_LOGGED_ON;
  }
  return Guard([&] {
    int rc = f(*s);
    l->rc = static_cast<int16_t>(rc);
    return rc;
  });
}

std::string Upper(std::string v) {
  for (char& c : v) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return v;
}

std::string MetaValue(sqlite3* db, const char* key) {
  std::string v;
  sqlite3_stmt* q = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT value FROM ora72_meta WHERE key = ?", -1, &q, nullptr) ==
      SQLITE_OK) {
    sqlite3_bind_text(q, 1, key, -1, SQLITE_STATIC);
    if (sqlite3_step(q) == SQLITE_ROW && sqlite3_column_text(q, 0))
      v = reinterpret_cast<const char*>(sqlite3_column_text(q, 0));
  }
  sqlite3_finalize(q);
  return v;
}

std::string DataPath(const std::string& dir, const std::string& server) {
  return dir + "/" + server + ".ora";
}

const char* const kSchema =
    "PRAGMA journal_mode=WAL;"
    "CREATE TABLE ora72_meta(key TEXT PRIMARY KEY, value TEXT);"
    "CREATE VIEW DUAL AS SELECT 'X' AS DUMMY;"
    "CREATE VIEW V$NLS_PARAMETERS AS SELECT key AS PARAMETER, value AS VALUE FROM ora72_meta"
    " WHERE key LIKE 'NLS%';"
    "CREATE VIEW ALL_TAB_COMMENTS AS SELECT UPPER(name) AS TABLE_NAME,"
    " CASE WHEN name IN ('DUAL', 'V$NLS_PARAMETERS', 'ALL_TAB_COMMENTS', 'ALL_INDEXES',"
    " 'ALL_TAB_COLUMNS') THEN 'SYS' ELSE (SELECT UPPER(value) FROM ora72_meta WHERE key = 'USER')"
    " END AS OWNER, NULL AS COMMENTS FROM sqlite_schema WHERE type IN ('table', 'view')"
    " AND name NOT LIKE 'sqlite%' AND name NOT LIKE 'ora72%';"
    "CREATE VIEW ALL_INDEXES AS SELECT UPPER(name) AS INDEX_NAME,"
    " (SELECT UPPER(value) FROM ora72_meta WHERE key = 'USER') AS OWNER,"
    " UPPER(tbl_name) AS TABLE_NAME FROM sqlite_schema WHERE type = 'index'"
    " AND name NOT LIKE 'sqlite%';"
    "CREATE VIEW ALL_TAB_COLUMNS AS SELECT UPPER(m.name) AS TABLE_NAME,"
    " UPPER(p.name) AS COLUMN_NAME,"
    " (SELECT UPPER(value) FROM ora72_meta WHERE key = 'USER') AS OWNER,"
    " p.cid + 1 AS COLUMN_ID FROM sqlite_schema AS m JOIN pragma_table_info(m.name) AS p"
    " WHERE m.type = 'table' AND m.name NOT LIKE 'sqlite%' AND m.name NOT LIKE 'ora72%';";

}  // namespace
}  // namespace ora72

using namespace ora72;

extern "C" {

#define ORA_ORDINAL_ROW(ordinal, name) {ordinal, #name},
const OraOrdinal OraOrdinalTable[] = {ORA_ORDINALS(ORA_ORDINAL_ROW){0, nullptr}};
#undef ORA_ORDINAL_ROW

ORA_API const char* OraOrdinalName(uint32_t ordinal) {
  if (ordinal == 0) return nullptr;
  for (const OraOrdinal* row = OraOrdinalTable; row->name != nullptr; ++row)
    if (row->ordinal == ordinal) return row->name;
  return nullptr;
}

ORA_API int OraLogon(OraLda* lda, OraHda* hda, const char* connect, int connectLength,
                     const char*, int, int) {
  if (!lda) return ORA_RC_LOGON_DENIED;
  lda->session = nullptr;
  if (hda) std::memset(hda, 0, sizeof *hda);
  auto fail = [&](int rc) {
    lda->rc = static_cast<int16_t>(rc);
    return rc;
  };
  if (!connect) return fail(ORA_RC_LOGON_DENIED);
  return Guard([&] {
    std::string text = connectLength < 0 ? std::string(connect)
                                         : std::string(connect, static_cast<size_t>(connectLength));
    std::string server;
    size_t at = text.find('@');
    if (at != std::string::npos) {
      server = text.substr(at + 1);
      text.erase(at);
    }
    std::string user = text, password;
    size_t slash = text.find('/');
    if (slash != std::string::npos) {
      user = text.substr(0, slash);
      password = text.substr(slash + 1);
    }
    if (server.empty()) {
      const char* sid = std::getenv("ORA72_SID");
      server = sid ? sid : "";
    }
    const char* dir = std::getenv("ORA72_DATA");
    if (!dir || server.empty() || server.find('/') != std::string::npos || server.find("..") != std::string::npos)
      return fail(ORA_RC_NO_SERVICE);
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(DataPath(dir, server).c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) !=
        SQLITE_OK) {
      sqlite3_close(db);
      return fail(ORA_RC_NO_SERVICE);
    }
    sqlite3_busy_timeout(db, 5000);
    std::string wantUser = MetaValue(db, "USER");
    if (wantUser.empty()) {
      sqlite3_close(db);
      return fail(ORA_RC_NO_SERVICE);
    }
    // Oracle 7 compares user names and passwords without regard to case.
    if (Upper(user) != Upper(wantUser) || Upper(password) != Upper(MetaValue(db, "PASSWORD"))) {
      sqlite3_close(db);
      return fail(ORA_RC_LOGON_DENIED);
    }
    auto* s = new Session;
    s->db = db;
    s->clock = MetaValue(db, "CLOCK");
    if (const char* t = std::getenv("ORA72_TRACE")) s->trace = t;
    sqlite3_create_function(db, "SYSDATE", 0, SQLITE_UTF8, s, SysdateFn, nullptr, nullptr);
    sqlite3_create_function(db, "TO_DATE", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, s, ToDateFn,
                            nullptr, nullptr);
    sqlite3_create_function(db, "TO_DATE", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC, s, ToDateFn,
                            nullptr, nullptr);
    lda->session = s;
    return fail(0);
  });
}

ORA_API int OraLogoff(OraLda* lda) {
  int rc = WithLogin(lda, [&](Session& s) { return Commit(s); });
  if (!lda || !lda->session) return rc;
  auto* s = static_cast<Session*>(lda->session);
  for (Statement* st : s->statements) {
    Release(*st);
    st->session = nullptr;
  }
  sqlite3_close_v2(s->db);
  delete s;
  lda->session = nullptr;
  return rc;
}

ORA_API int OraOpen(OraCursor* cursor, OraLda* lda, const char*, int, int, const char*, int) {
  if (!cursor) return ORA_RC_NOT_LOGGED_ON;
  cursor->statement = nullptr;
  cursor->rpc = 0;
  cursor->peo = 0;
  return WithLogin(lda, [&](Session& s) {
    auto* st = new Statement;
    st->session = &s;
    s.statements.insert(st);
    cursor->statement = st;
    cursor->rc = 0;
    return 0;
  });
}

ORA_API int OraClose(OraCursor* cursor) {
  Statement* st = Of(cursor);
  if (!st) return cursor ? Fail(cursor, ORA_RC_NOT_LOGGED_ON) : ORA_RC_NOT_LOGGED_ON;
  Release(*st);
  if (st->session) st->session->statements.erase(st);
  delete st;
  cursor->statement = nullptr;
  cursor->rc = 0;
  return 0;
}

ORA_API int OraParse(OraCursor* cursor, const char* text, int32_t textLength, int, uint32_t) {
  return WithCursor(cursor, [&](Statement& st) {
    Session& s = *st.session;
    Release(st);
    cursor->rpc = 0;
    cursor->peo = 0;
    if (!text) return ORA_RC_INVALID_SQL;
    std::string given = textLength < 0 ? std::string(text)
                                       : std::string(text, static_cast<size_t>(textLength));
    Trace(s, given.data(), given.size());
    st.info = Rewrite(given);
    if (st.info.rc) {
      cursor->peo = st.info.offset;
      s.lastRc = st.info.rc;
      s.lastDetail.clear();
      return st.info.rc;
    }
    if (st.info.ddl) {
      if (int rc = Commit(s)) return rc;
    }
    int r = sqlite3_prepare_v2(s.db, st.info.sql.c_str(), -1, &st.stmt, nullptr);
    if (r != SQLITE_OK) {
      int rc = MapError(s, r, sqlite3_errmsg(s.db));
      // Point at the name SQLite could not find, in the text as given.
      size_t colon = s.lastDetail.find(": ");
      size_t at = std::string::npos;
      if (colon != std::string::npos) {
        std::string name = s.lastDetail.substr(colon + 2);
        at = Upper(given).find(Upper(name));
      }
      if (at == std::string::npos) {
        int off = sqlite3_error_offset(s.db);
        at = off >= 0 ? std::min<size_t>(static_cast<size_t>(off), given.size()) : 0;
      }
      cursor->peo = static_cast<uint16_t>(at);
      return rc;
    }
    if (!st.stmt) return ORA_RC_INVALID_SQL;
    if (st.info.ddl) {
      // Data definition runs at parse and commits.
      r = sqlite3_step(st.stmt);
      int rc = r == SQLITE_DONE ? 0 : MapError(s, r, sqlite3_errmsg(s.db));
      sqlite3_reset(st.stmt);
      int crc = Commit(s);
      return rc ? rc : crc;
    }
    return 0;
  });
}

ORA_API int OraDescribe(OraCursor* cursor, int position, int32_t* size, int16_t* type,
                        char* name, int32_t* nameLength, int32_t* displaySize, int16_t* precision,
                        int16_t* scale, int16_t* nullable) {
  return WithCursor(cursor, [&](Statement& st) {
    if (!st.stmt || position < 1 || position > sqlite3_column_count(st.stmt))
      return ORA_RC_NO_COLUMN;
    int col = position - 1;
    std::string column = Upper(sqlite3_column_name(st.stmt, col) ? sqlite3_column_name(st.stmt, col) : "");
    const char* declared = sqlite3_column_decltype(st.stmt, col);
    ColumnType t = declared ? TypeOfDeclared(declared) : ColumnType{};
    // ROWID is reserved, so a column of that name is always the row's address.
    if (column == "ROWID") t = TypeOfDeclared("ROWID");
    int16_t notNull = 0;
    const char* table = sqlite3_column_table_name(st.stmt, col);
    const char* origin = sqlite3_column_origin_name(st.stmt, col);
    if (table && origin) {
      int nn = 0;
      if (sqlite3_table_column_metadata(st.session->db, sqlite3_column_database_name(st.stmt, col),
                                        table, origin, nullptr, nullptr, &nn, nullptr,
                                        nullptr) == SQLITE_OK)
        notNull = static_cast<int16_t>(nn);
    }
    if (size) *size = t.size;
    if (type) *type = t.type;
    if (displaySize) *displaySize = t.size;
    if (precision) *precision = t.precision;
    if (scale) *scale = t.scale;
    if (nullable) *nullable = static_cast<int16_t>(!notNull);
    if (name && nameLength) {
      size_t room = *nameLength > 0 ? static_cast<size_t>(*nameLength) : 0;
      size_t n = std::min(room, column.size());
      std::memcpy(name, column.data(), n);
      *nameLength = static_cast<int32_t>(n);
    }
    return 0;
  });
}

ORA_API int OraDefine(OraCursor* cursor, int position, void* buffer, int32_t elementLength,
                      int type, int, int16_t* indicators, const char*, int, int,
                      uint16_t* returnLengths, uint16_t*) {
  return WithCursor(cursor, [&](Statement& st) {
    if (!st.stmt || position < 1 || position > sqlite3_column_count(st.stmt))
      return ORA_RC_NO_COLUMN;
    if (st.defines.size() < static_cast<size_t>(position)) st.defines.resize(static_cast<size_t>(position));
    Define d{static_cast<unsigned char*>(buffer), elementLength, type, indicators, returnLengths};
    const char* declared = sqlite3_column_decltype(st.stmt, position - 1);
    if (declared) {
      ColumnType t = TypeOfDeclared(declared);
      if (t.type == ORA_CHAR) d.padTo = static_cast<size_t>(t.size);
    }
    st.defines[static_cast<size_t>(position - 1)] = d;
    return 0;
  });
}

ORA_API int OraBindByName(OraCursor* cursor, const char* name, int nameLength, void* value,
                          int32_t valueLength, int type, int, int16_t* indicators, const char*,
                          int, int) {
  return WithCursor(cursor, [&](Statement& st) {
    if (!st.stmt || !name) return ORA_RC_UNKNOWN_BIND;
    std::string n = nameLength < 0 ? std::string(name) : std::string(name, static_cast<size_t>(nameLength));
    int index = sqlite3_bind_parameter_index(st.stmt, n.c_str());
    if (index == 0) return ORA_RC_UNKNOWN_BIND;
    Bind b{n, index, static_cast<const unsigned char*>(value), valueLength, type, indicators};
    for (Bind& old : st.binds)
      if (old.index == index) {
        old = b;
        return 0;
      }
    st.binds.push_back(b);
    return 0;
  });
}

ORA_API int OraExecuteArray(OraCursor* cursor, uint32_t rows, int) {
  return WithCursor(cursor, [&](Statement& st) {
    Session& s = *st.session;
    cursor->rpc = 0;
    if (!st.stmt) return st.info.ddl ? 0 : ORA_RC_INVALID_SQL;
    if (st.info.ddl) return 0;  // ran at parse
    st.executed = st.done = st.onRow = false;
    if (st.info.select || sqlite3_stmt_readonly(st.stmt)) {
      if (st.info.forUpdate) {
        if (int rc = TakeWriteLock(s)) return rc;
        st.lockGeneration = s.generation;
      }
      if (int rc = BindRow(st, 0)) return rc;
      st.executed = true;
      return 0;
    }
    if (int rc = BeginForWrite(s)) return rc;
    for (uint32_t row = 0; row < rows; ++row) {
      if (int rc = BindRow(st, row)) return rc;
      int r = sqlite3_step(st.stmt);
      if (r != SQLITE_DONE) return MapError(s, r, sqlite3_errmsg(s.db));
      cursor->rpc += static_cast<uint32_t>(sqlite3_changes(s.db));
    }
    sqlite3_reset(st.stmt);
    // With autocommit on the server commits each statement, and so ends a held lock.
    if (s.autocommit && InTransaction(s)) return Commit(s);
    return 0;
  });
}

ORA_API int OraExecute(OraCursor* cursor) { return OraExecuteArray(cursor, 1, 0); }

ORA_API int OraFetchArray(OraCursor* cursor, uint32_t rows) {
  return WithCursor(cursor, [&](Statement& st) {
    if (!st.executed) return ORA_RC_FETCH_OUT_OF_SEQUENCE;
    if (st.info.forUpdate && st.lockGeneration != st.session->generation)
      return ORA_RC_FETCH_OUT_OF_SEQUENCE;
    if (st.done) return ORA_RC_NO_DATA;
    int rc = 0;
    for (uint32_t row = 0; row < rows; ++row) {
      int r = Step(st);
      if (r) return r;
      cursor->rpc += 1;
      int p = PutRow(st, row);
      if (p && !rc) rc = p;
    }
    return rc;
  });
}

ORA_API int OraFetch(OraCursor* cursor) { return OraFetchArray(cursor, 1); }

ORA_API int OraLongPiece(OraCursor* cursor, int position, void* buffer, int32_t bufferLength,
                         int type, uint32_t* pieceLength, uint32_t offset) {
  return WithCursor(cursor, [&](Statement& st) {
    if (pieceLength) *pieceLength = 0;
    if (!st.onRow) return ORA_RC_FETCH_OUT_OF_SEQUENCE;
    if (position < 1 || position > sqlite3_column_count(st.stmt)) return ORA_RC_NO_COLUMN;
    int col = position - 1;
    if (sqlite3_column_type(st.stmt, col) == SQLITE_NULL) return 0;
    const void* p = type == ORA_LONGRAW || type == ORA_RAW ? sqlite3_column_blob(st.stmt, col)
                                                           : sqlite3_column_text(st.stmt, col);
    size_t full = static_cast<size_t>(sqlite3_column_bytes(st.stmt, col));
    if (offset >= full || bufferLength <= 0) return 0;
    size_t n = std::min(full - offset, static_cast<size_t>(bufferLength));
    std::memcpy(buffer, static_cast<const unsigned char*>(p) + offset, n);
    if (pieceLength) *pieceLength = static_cast<uint32_t>(n);
    return 0;
  });
}

ORA_API int OraCommit(OraLda* lda) { return WithLogin(lda, [](Session& s) { return Commit(s); }); }
ORA_API int OraRollback(OraLda* lda) {
  return WithLogin(lda, [](Session& s) { return Rollback(s); });
}
ORA_API int OraAutocommitOn(OraLda* lda) {
  return WithLogin(lda, [](Session& s) {
    s.autocommit = true;
    return 0;
  });
}
ORA_API int OraAutocommitOff(OraLda* lda) {
  return WithLogin(lda, [](Session& s) {
    s.autocommit = false;
    return 0;
  });
}

ORA_API int OraErrorText(OraLda* lda, int rc, char* buffer, int bufferSize) {
  if (!buffer || bufferSize <= 0) return 0;
  const char* text = "unknown error";
  for (const Text& t : kTexts)
    if (t.rc == rc) text = t.text;
  std::string detail;
  auto* s = lda ? static_cast<Session*>(lda->session) : nullptr;
  if (s && s->lastRc == rc && rc == ORA_RC_INTERNAL && !s->lastDetail.empty())
    detail = ": [" + s->lastDetail + "]";
  std::snprintf(buffer, static_cast<size_t>(bufferSize), "ORA-%05d: %s%s\n", rc, text,
                detail.c_str());
  return 0;
}

ORA_API int OraEndQuery(OraCursor* cursor) {
  return WithCursor(cursor, [&](Statement& st) {
    if (st.stmt) sqlite3_reset(st.stmt);
    st.executed = st.done = st.onRow = false;
    return 0;
  });
}

ORA_API int OraAdmCreate(const char* dir, const char* server, const char* user,
                         const char* password, const char* charset, const char* clock,
                         char* message, int messageSize) {
  auto say = [&](int rc, const std::string& m) {
    if (message && messageSize > 0) std::snprintf(message, static_cast<size_t>(messageSize), "%s", m.c_str());
    return rc;
  };
  return Guard([&] {
    if (!dir || !server || !*server || !user || !*user || !charset || !*charset)
      return say(ORA_RC_INVALID_SQL, "directory, server, user and character set are needed");
    std::string sv = server;
    if (sv.find('/') != std::string::npos || sv.find("..") != std::string::npos)
      return say(ORA_RC_NO_SERVICE, "a server name holds no '/' or '..'");
    std::string fixed;
    if (clock && *clock) {
      unsigned char d[7];
      if (!DateFromText(clock, d)) return say(1861, "clock is not YYYY-MM-DD HH:MM:SS");
      fixed = DateToText(d);
    }
    std::string path = DataPath(dir, sv);
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
      sqlite3_close(db);
      return say(955, "database exists: " + path);
    }
    sqlite3_close(db);
    db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
      std::string m = db ? sqlite3_errmsg(db) : "cannot open";
      sqlite3_close(db);
      return say(ORA_RC_NO_SERVICE, path + ": " + m);
    }
    char* err = nullptr;
    int r = sqlite3_exec(db, kSchema, nullptr, nullptr, &err);
    sqlite3_stmt* q = nullptr;
    const char* keys[] = {"USER", "PASSWORD", "NLS_CHARACTERSET", "CLOCK"};
    const char* values[] = {user, password ? password : "", charset, fixed.c_str()};
    if (r == SQLITE_OK)
      r = sqlite3_prepare_v2(db, "INSERT INTO ora72_meta VALUES (?, ?)", -1, &q, nullptr);
    for (int i = 0; r == SQLITE_OK && i < 4; ++i) {
      sqlite3_bind_text(q, 1, keys[i], -1, SQLITE_STATIC);
      sqlite3_bind_text(q, 2, values[i], -1, SQLITE_STATIC);
      r = sqlite3_step(q) == SQLITE_DONE ? SQLITE_OK : SQLITE_ERROR;
      sqlite3_reset(q);
    }
    std::string m = err ? err : sqlite3_errmsg(db);
    sqlite3_free(err);
    sqlite3_finalize(q);
    sqlite3_close(db);
    if (r != SQLITE_OK) {
      std::remove(path.c_str());
      return say(ORA_RC_INTERNAL, path + ": " + m);
    }
    return 0;
  });
}

}  // extern "C"
