// One client connection of tds5d: login, the token stream of each request, and the statements
// run on the session's SQLite database.
#include "tds5d_session.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <utility>

#include "tds5d_values.h"

namespace tds5d {

namespace {

// Login record fields: offset of the text, its capacity; the length byte follows the text.
constexpr size_t kLoginUser = 31, kLoginPassword = 62, kLoginServer = 171, kLoginPacketSize = 557;
constexpr size_t kLoginCapability = 568;

std::string LoginField(std::string_view body, size_t at, size_t capacity) {
  if (body.size() < at + capacity + 1) return {};
  size_t n = static_cast<uint8_t>(body[at + capacity]);
  return std::string(body.substr(at, n < capacity ? n : capacity));
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool StartsWithWords(const std::vector<Word>& w, std::initializer_list<const char*> words) {
  size_t i = 0;
  for (const char* word : words) {
    if (i >= w.size() || w[i].upper != word) return false;
    ++i;
  }
  return true;
}

std::string ValueText(sqlite3_value* v) {
  const unsigned char* p = sqlite3_value_text(v);
  return p ? std::string(reinterpret_cast<const char*>(p),
                         static_cast<size_t>(sqlite3_value_bytes(v)))
           : std::string();
}

// The current time as the stored datetime text.
void GetDate(sqlite3_context* ctx, int, sqlite3_value**) {
  auto now = std::chrono::system_clock::now();
  std::time_t t = std::chrono::system_clock::to_time_t(now);
  std::tm tm{};
  ::localtime_r(&t, &tm);
  int ms = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, ms);
  sqlite3_result_text(ctx, buf, -1, SQLITE_TRANSIENT);
}

// tds5d_num(value, precision, scale): whether a stored value fits numeric(precision, scale).
void NumFits(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_int(ctx, 1);
  int p = sqlite3_value_int(argv[1]), s = sqlite3_value_int(argv[2]);
  if (sqlite3_value_type(argv[0]) == SQLITE_BLOB) return sqlite3_result_int(ctx, 0);
  const char* text = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
  auto v = ScaledFromText(text ? text : "", s);
  if (!v) return sqlite3_result_int(ctx, 0);
  __int128 limit = 1;
  for (int i = 0; i < p; ++i) limit *= 10;
  sqlite3_result_int(ctx, *v<limit&& * v> - limit);
}

void IsDate(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_int(ctx, 1);
  if (sqlite3_value_type(argv[0]) != SQLITE_TEXT) return sqlite3_result_int(ctx, 0);
  const char* text = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
  sqlite3_result_int(ctx, DatetimeFromText(text ? text : "").has_value());
}

bool Exec(sqlite3* db, const char* sql, std::string& error) {
  char* msg = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &msg) == SQLITE_OK) return true;
  error = msg ? msg : sqlite3_errmsg(db);
  sqlite3_free(msg);
  return false;
}

// The catalogue a client reads: names come as varchar, as the server's own tables hold them.
const char kCatalogViews[] =
    "create temp view sysobjects as select cast(name as varchar(255)) as name, name as id, "
    "'U' as type, 1 as uid from main.sqlite_master where type = 'table' "
    "and name not in ('sysusers', 'sysdatabases') and name not like 'sqlite%';"
    "create temp view sysindexes as select cast(substr(name, length(tbl_name) + 2) as "
    "varchar(255)) as name, tbl_name as id, 2 as indid from main.sqlite_master "
    "where type = 'index' and sql is not null;"
    "create temp view syscolumns as select cast(p.name as varchar(255)) as name, m.name as id, "
    "p.cid + 1 as colid from main.sqlite_master m join pragma_table_info(m.name) p "
    "where m.type = 'table';";

}  // namespace

// ---- Server ----

bool Server::Init(std::string& error) {
  std::error_code ec;
  std::filesystem::create_directories(dataDir, ec);
  logFd = ::open((dataDir + "/tds5d.log").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (logFd < 0) {
    error = "cannot open the log in " + dataDir;
    return false;
  }
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(DatabasePath("master").c_str(), &db,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
    error = "cannot open the master database";
    sqlite3_close(db);
    return false;
  }
  bool ok = Exec(db,
                 "pragma journal_mode = wal;"
                 "create table if not exists sysdatabases (name varchar(30) primary key, "
                 "suid int, dbid int, bulkcopy int);"
                 "create table if not exists sysusers (suid int, uid int, name varchar(30));"
                 "insert or ignore into sysdatabases values ('master', 1, 1, 0);"
                 "insert into sysusers select 1, 1, 'dbo' where not exists "
                 "(select 1 from sysusers);",
                 error);
  sqlite3_close(db);
  return ok;
}

std::string Server::DatabasePath(std::string_view name) const {
  return dataDir + "/" + std::string(name) + ".db";
}

void Server::Log(std::string_view kind, std::string_view text) {
  std::string line(kind);
  line += '\t';
  for (char c : text) {
    switch (c) {
      case '\n':
        line += "\\n";
        break;
      case '\r':
        line += "\\r";
        break;
      case '\t':
        line += "\\t";
        break;
      case '\\':
        line += "\\\\";
        break;
      case '\0':
        line += "\\0";
        break;
      default:
        line += c;
    }
  }
  line += '\n';
  std::lock_guard<std::mutex> lock(mutex);
  if (::write(logFd, line.data(), line.size()) < 0) {
  }
}

// ---- Session ----

Session::Session(Server& server, int fd) : server_(server), wire_(fd), id_(++server.sessions) {}

Session::~Session() {
  cursors_.clear();
  dynamics_.clear();
  if (db_) sqlite3_close_v2(db_);
}

void Session::Run() {
  uint8_t type = 0;
  std::string body;
  if (!wire_.Read(type, body) || type != kPacketLogin || !Login(body)) return;
  while (wire_.Read(type, body)) {
    Dispatch(type, body);
    if (!wire_.Flush()) return;
  }
}

bool Session::Login(std::string_view body) {
  user_ = LoginField(body, kLoginUser, 30);
  std::string password = LoginField(body, kLoginPassword, 30);
  std::string server = LoginField(body, kLoginServer, 30);
  std::string packetSize = LoginField(body, kLoginPacketSize, 6);
  // The client's character set from the server name it asked for (see the file's head).
  std::string suffix =
      Lower(server.substr(server.rfind('_') == std::string::npos ? 0 : server.rfind('_') + 1));
  charset_ = suffix == "latin1" || suffix == "iso1" || suffix == "iso_1" ? "iso_1"
             : suffix.empty() || suffix == server                        ? "utf8"
                                                                         : suffix;
  if (suffix == "utf8" || suffix == "utf-8") charset_ = "utf8";
  server_.Log("login", user_ + "@" + server);

  std::string& out = wire_.out();
  auto it = server_.logins.find(user_);
  if (it == server_.logins.end() || it->second != password) {
    Error({4002, 14, "Login failed."});
    std::string ack;
    Put8(ack, 6);
    Put32(ack, 0x00000005);
    PutB8(ack, "tds5d");
    Put32(ack, 0x00000001);
    Put8(out, kTokLoginAck);
    Put16(out, static_cast<uint16_t>(ack.size()));
    out += ack;
    Done(kDoneError, 0);
    wire_.Flush();
    return false;
  }
  ServerError err;
  if (!OpenDatabase("master", err)) {
    Error(err);
    Done(kDoneError, 0);
    wire_.Flush();
    return false;
  }
  int size = std::atoi(packetSize.c_str());
  if (size >= 512) wire_.SetPacketSize(static_cast<size_t>(size));
  std::string sizeText = std::to_string(wire_.packetSize());

  auto env = [&](uint8_t kind, std::string_view now, std::string_view old) {
    std::string b;
    Put8(b, kind);
    PutB8(b, now);
    PutB8(b, old);
    Put8(out, kTokEnvChange);
    Put16(out, static_cast<uint16_t>(b.size()));
    out += b;
  };
  env(1, "master", "");
  Error({5701, 10, "Changed database context to 'master'."});
  env(3, charset_, "");
  env(4, sizeText, sizeText);

  std::string ack;
  Put8(ack, 5);
  Put32(ack, 0x00000005);
  PutB8(ack, "tds5d");
  Put32(ack, 0x00000001);
  Put8(out, kTokLoginAck);
  Put16(out, static_cast<uint16_t>(ack.size()));
  out += ack;

  // Capabilities: the requests of the classic tokens and types the client offered (the newer
  // ones, wide tables among them, are declined), and the client's own refusals echoed.
  std::string request(14, '\0'), response(14, '\0');
  Reader cap(body.size() > kLoginCapability ? body.substr(kLoginCapability) : "");
  if (cap.U8() == kTokCapability) {
    Reader caps(cap.Bytes(cap.U16()));
    while (!caps.done() && !caps.bad()) {
      uint8_t kind = caps.U8();
      std::string bytes(caps.Bytes(caps.U8()));
      if (kind == 1) request = bytes;
      if (kind == 2) response = bytes;
    }
  }
  for (size_t i = 0; i + 7 < request.size(); ++i) request[i] = 0;
  std::string c;
  Put8(c, 1);
  PutB8(c, request);
  Put8(c, 2);
  PutB8(c, response);
  Put8(out, kTokCapability);
  Put16(out, static_cast<uint16_t>(c.size()));
  out += c;
  Done(kDoneFinal, 0);
  loggedIn_ = true;
  return wire_.Flush();
}

void Session::Error(const ServerError& e) {
  std::string b;
  Put32(b, static_cast<uint32_t>(e.number));
  Put8(b, 1);  // state
  Put8(b, static_cast<uint8_t>(e.severity));
  PutB8(b, "ZZZZZ");
  Put8(b, 0);   // no parameters follow
  Put16(b, 0);  // transaction state
  PutB16(b, e.text);
  PutB8(b, "tds5d");
  PutB8(b, "");
  Put16(b, 1);
  std::string& out = wire_.out();
  Put8(out, kTokEed);
  Put16(out, static_cast<uint16_t>(b.size()));
  out += b;
}

void Session::Done(uint16_t status, uint32_t count, uint8_t token) {
  std::string& out = wire_.out();
  Put8(out, token);
  Put16(out, status);
  Put16(out, 0);
  Put32(out, count);
}

bool Session::OpenDatabase(const std::string& name, ServerError& err) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(server_.DatabasePath(name).c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) !=
      SQLITE_OK) {
    sqlite3_close(db);
    err = {911, 11,
           "Attempt to locate entry in sysdatabases for database '" + name +
               "' by name failed - no entry found under that name. Make sure that the name is "
               "entered properly."};
    return false;
  }
  sqlite3_busy_timeout(db, 30000);
  sqlite3_create_function(db, "tds5d_getdate", 0, SQLITE_UTF8, nullptr, GetDate, nullptr, nullptr);
  sqlite3_create_function(db, "tds5d_num", 3, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, NumFits,
                          nullptr, nullptr);
  sqlite3_create_function(db, "tds5d_isdate", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                          IsDate, nullptr, nullptr);
  std::string error;
  // Each statement commits; the log need not reach the disk at each commit for tests.
  std::string setup = "pragma journal_mode = wal; pragma synchronous = normal;";
  if (name != "master")
    setup += "attach database '" + server_.DatabasePath("master") + "' as master;";
  setup += kCatalogViews;
  if (!Exec(db, setup.c_str(), error)) {
    sqlite3_close(db);
    err = {911, 11, "Cannot open database '" + name + "': " + error};
    return false;
  }
  cursors_.clear();
  cursorIds_.clear();
  lastCursor_ = nullptr;
  for (auto& [id, p] : dynamics_) p.stmt.reset();
  if (db_) sqlite3_close_v2(db_);
  db_ = db;
  database_ = name;
  attached_.clear();
  return true;
}

Session::Stmt Session::Prepare(std::string_view text) {
  std::string error;
  std::optional<std::string> sql = ToSqlite(text, dialect(), error);
  ServerError attachError;
  if (!sql) {
    Error({105, 15, error});
    return nullptr;
  }
  if (!AttachNamed(attachError)) {
    Error(attachError);
    return nullptr;
  }
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db_, sql->c_str(), -1, &raw, nullptr) != SQLITE_OK) {
    Error(ErrorOfSqlite(sqlite3_errmsg(db_)));
    sqlite3_finalize(raw);
    return nullptr;
  }
  return Stmt(raw);
}

bool Session::AttachNamed(ServerError& err) {
  std::vector<std::string> named = std::exchange(named_, {});
  for (const std::string& name : named) {
    std::string lower = Lower(name);
    if (lower == "master" || lower == Lower(database_) ||
        std::find(attached_.begin(), attached_.end(), lower) != attached_.end())
      continue;
    std::string error;
    if (!DatabaseExists(name) ||
        !Exec(db_,
              ("attach database '" + server_.DatabasePath(name) + "' as \"" + name + "\"").c_str(),
              error)) {
      err = {911, 11,
             "Attempt to locate entry in sysdatabases for database '" + name +
                 "' by name failed - no entry found under that name. Make sure that the name is "
                 "entered properly."};
      return false;
    }
    attached_.push_back(lower);
  }
  return true;
}

bool Session::DatabaseExists(const std::string& name) {
  std::string sql = std::string("select 1 from ") + (database_ == "master" ? "main" : "master") +
                    ".sysdatabases where name = ?";
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK) return false;
  Stmt st(raw);
  sqlite3_bind_text(raw, 1, name.c_str(), -1, SQLITE_TRANSIENT);
  return sqlite3_step(raw) == SQLITE_ROW;
}

bool Session::TableExists(const std::string& table) {
  // "db..table" looks in that database (attached on the way).
  std::string schema = "main", name = table;
  size_t dots = table.find("..");
  if (dots != std::string::npos) {
    std::string error;
    named_.clear();
    ServerError err;
    if (!ToSqlite(table, dialect(), error) || !AttachNamed(err)) return false;
    schema = Lower(table.substr(0, dots)) == Lower(database_) ? "main" : table.substr(0, dots);
    name = table.substr(dots + 2);
  }
  sqlite3_stmt* raw = nullptr;
  std::string sql = "select 1 from \"" + schema +
                    "\".sqlite_master where type = 'table' and lower(name) = lower(?)";
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK) {
    sqlite3_finalize(raw);
    return false;
  }
  Stmt st(raw);
  sqlite3_bind_text(raw, 1, name.c_str(), -1, SQLITE_TRANSIENT);
  return sqlite3_step(raw) == SQLITE_ROW;
}

ServerError Session::ErrorOfSqlite(const std::string& m) {
  auto after = [&](const char* prefix) {
    size_t at = m.find(prefix);
    return at == std::string::npos ? std::string() : m.substr(at + std::strlen(prefix));
  };
  if (m.rfind("no such table: ", 0) == 0) {
    std::string t = after("no such table: ");
    if (t.rfind("main.", 0) == 0) t = t.substr(5);
    return {208, 16,
            t + " not found. Specify owner.objectname or use sp_help to check whether the "
                "object exists (sp_help may produce lots of output)."};
  }
  if (m.rfind("no such column: ", 0) == 0)
    return {207, 16, "Invalid column name '" + after("no such column: ") + "'."};
  if (m.find("already exists") != std::string::npos)
    return {2714, 16, "There is already an object named '" + m + "' in the database."};
  if (m.rfind("UNIQUE constraint failed", 0) == 0)
    return {2601, 14, "Attempt to insert duplicate key row: " + m};
  if (m.rfind("NOT NULL constraint failed: ", 0) == 0)
    return {233, 16,
            "The column " + after("NOT NULL constraint failed: ") + " does not allow null values."};
  if (m.rfind("CHECK constraint failed", 0) == 0)
    return {257, 16,
            "Implicit conversion or overflow: the value does not fit its column (" + m + ")."};
  if (m.rfind("no such index: ", 0) == 0)
    return {3701, 11,
            "Cannot drop the index '" + after("no such index: ") +
                "', because it doesn't exist in the system catalogs."};
  if (m.find("syntax error") != std::string::npos || m.rfind("near ", 0) == 0)
    return {102, 15, "Incorrect syntax: " + m};
  return {7001, 16, m};
}

void Session::Dispatch(uint8_t type, const std::string& body) {
  if (type == kPacketAttention) {
    Done(kDoneAttention, 0);
    return;
  }
  if (type == kPacketBulk) {
    BulkRows(body);
    return;
  }
  if (type == kPacketLanguage) {  // the language packet of older clients
    Language(body);
    return;
  }
  Tokens(body);
}

void Session::Tokens(std::string_view body) {
  Reader in(body);
  while (!in.done() && !in.bad()) {
    uint8_t token = in.U8();
    switch (token) {
      case kTokLanguage: {
        uint32_t len = in.U32();
        if (len < 1) return Done(kDoneError, 0);
        in.U8();  // status: parameters follow when set
        std::string text(in.Bytes(len - 1));
        return Language(std::move(text));
      }
      case kTokOptionCmd:
        return OptionCmd(in);
      case kTokDynamic:
        return Dynamic(in);
      case kTokCurDeclare:
      case kTokCurOpen:
      case kTokCurFetch:
      case kTokCurClose:
      case kTokCurInfo:
      case kTokCurDelete:
      case kTokCurUpdate:
        CursorToken(token, in);
        if (in.done()) {
          // The answer to the last token of a request closes the reply.
          std::string& out = wire_.out();
          if (out.size() >= 9 && static_cast<uint8_t>(out[out.size() - 9]) == kTokDone)
            out[out.size() - 8] = static_cast<char>(out[out.size() - 8] & ~kDoneMore);
        }
        continue;
      case kTokLogout: {
        std::string& out = wire_.out();
        Done(kDoneFinal, 0);
        (void)out;
        return;
      }
      default:
        server_.Log("unknown", std::string(1, static_cast<char>(token)));
        Error({102, 15, "tds5d: token " + std::to_string(token) + " is not served."});
        return Done(kDoneError, 0);
    }
  }
}

void Session::Language(std::string text) {
  server_.Log("language", text);
  // "SET FMTONLY ON <select> SET FMTONLY OFF": the select's format without its rows.
  std::vector<Word> w = Words(text, 3);
  if (StartsWithWords(w, {"SET", "FMTONLY", "ON"})) {
    std::string rest = text.substr(w[2].end);
    std::string upper = rest;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    size_t off = upper.rfind("SET FMTONLY OFF");
    formatOnly_ = true;
    Statement(off == std::string::npos ? rest : rest.substr(0, off), {}, false);
    formatOnly_ = false;
    return;
  }
  Statement(text, {}, false);
}

void Session::Statement(std::string_view text, const std::vector<Value>& params, bool more) {
  std::vector<Word> w = Words(text, 12);
  uint16_t moreFlag = more ? kDoneMore : 0;
  if (w.empty()) return Done(moreFlag, 0);
  // The label check: "name:" alone is a label, which is a valid statement of its own.
  if (w.size() == 2 && w[1].text == ":" &&
      (std::isalpha(static_cast<unsigned char>(w[0].text[0])) || w[0].text[0] == '_')) {
    return Done(moreFlag, 0);
  }
  if (w.size() >= 2 && w[1].text == ":") {
    Error({102, 15, "Incorrect syntax near ':'."});
    return Done(moreFlag | kDoneError, 0);
  }
  if (StartsWithWords(w, {"USE"}) && w.size() == 2) return Use(w[1].text, more);
  if (StartsWithWords(w, {"EXEC", "SP_DBOPTION"}) || StartsWithWords(w, {"SP_DBOPTION"}))
    return DbOption(w, text);
  if (StartsWithWords(w, {"CHECKPOINT"})) return Done(moreFlag, 0);
  if (StartsWithWords(w, {"SET"})) {
    if (w.size() >= 3 && w[1].upper == "TEXTSIZE") textSize_ = std::atoi(w[2].text.c_str());
    return Done(moreFlag, 0);
  }
  if (StartsWithWords(w, {"CREATE", "DATABASE"}) && w.size() == 3) return CreateDatabase(w[2].text);
  if (StartsWithWords(w, {"TRUNCATE", "TABLE"}) && w.size() >= 3) {
    std::string table = std::string(text.substr(w[2].begin));
    while (!table.empty() && std::isspace(static_cast<unsigned char>(table.back())))
      table.pop_back();
    return Truncate(table);
  }
  if (StartsWithWords(w, {"INSERT", "BULK"}) && w.size() >= 3) {
    std::string table = std::string(text.substr(w[2].begin));
    while (!table.empty() && std::isspace(static_cast<unsigned char>(table.back())))
      table.pop_back();
    return BulkInsert(table);
  }
  std::string error;
  std::optional<std::string> sql;
  std::string positioned;
  if ((w[0].upper == "UPDATE" || w[0].upper == "DELETE") && w.size() >= 4) {
    // "... where current of NAME": the row the cursor last fetched.
    std::vector<Word> all = Words(text, 4096);
    size_t n = all.size();
    if (n >= 4 && all[n - 4].upper == "WHERE" && all[n - 3].upper == "CURRENT" &&
        all[n - 2].upper == "OF") {
      auto it = cursors_.find(Lower(all[n - 1].text));
      if (it == cursors_.end() || !it->second->open || it->second->rowidColumn < 0) {
        Error({559, 16, "Attempt to use a cursor which does not exist or is not open."});
        return Done(moreFlag | kDoneError, 0);
      }
      if (!it->second->current) {
        Error({592, 16,
               "The cursor '" + it->second->name + "' is not positioned on a row: fetch first."});
        return Done(moreFlag | kDoneError, 0);
      }
      positioned = std::string(text.substr(0, all[n - 4].begin)) +
                   " where rowid = " + std::to_string(it->second->rowid);
      text = positioned;
    }
  }
  if (StartsWithWords(w, {"CREATE", "TABLE"}) && w.size() >= 4) {
    size_t open = text.find('(', w[2].end);
    size_t close = text.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
      Error({102, 15, "Incorrect syntax near 'create table'."});
      return Done(moreFlag | kDoneError, 0);
    }
    int number = 102;
    sql = CreateTableToSqlite(text.substr(w[2].begin, open - w[2].begin),
                              text.substr(open + 1, close - open - 1), dialect(), number, error);
    if (!sql) {
      Error({number, 16, error});
      return Done(moreFlag | kDoneError, 0);
    }
  } else if (StartsWithWords(w, {"CREATE", "UNIQUE", "INDEX"}) ||
             StartsWithWords(w, {"CREATE", "INDEX"})) {
    // Index names are the table's own: SQLite's one name space holds them as "table.index".
    size_t at = w[1].upper == "UNIQUE" ? 3 : 2;
    if (w.size() < at + 4 || w[at + 1].upper != "ON") {
      Error({102, 15, "Incorrect syntax near 'index'."});
      return Done(moreFlag | kDoneError, 0);
    }
    std::string rest(text.substr(w[at + 2].end));
    sql = std::string(at == 3 ? "create unique index \"" : "create index \"") + w[at + 2].text +
          "." + w[at].text + "\" on " + w[at + 2].text + " " + rest;
    if (!TableExists(w[at + 2].text)) {
      Error(ErrorOfSqlite("no such table: " + w[at + 2].text));
      return Done(moreFlag | kDoneError, 0);
    }
  } else if (StartsWithWords(w, {"DROP", "INDEX"}) && w.size() >= 5 && w[3].text == ".") {
    sql = "drop index \"" + w[2].text + "." + w[4].text + "\"";
  } else {
    sql = ToSqlite(text, dialect(), error);
    if (!sql) {
      Error({105, 15, error});
      return Done(moreFlag | kDoneError, 0);
    }
  }
  ServerError attachError;
  if (!AttachNamed(attachError)) {
    Error(attachError);
    return Done(moreFlag | kDoneError, 0);
  }
  bool count = !w.empty() && (w[0].upper == "INSERT" || w[0].upper == "UPDATE" ||
                              w[0].upper == "DELETE" || w[0].upper == "SELECT");
  RunSql(*sql, params, more, count);
}

void Session::RunSql(const std::string& sql, const std::vector<Value>& params, bool more,
                     bool count) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &raw, nullptr) !=
      SQLITE_OK) {
    std::string m = sqlite3_errmsg(db_);
    sqlite3_finalize(raw);
    Error(ErrorOfSqlite(m));
    return Done(more ? kDoneMore | kDoneError : kDoneError, 0);
  }
  if (!raw) return Done(more ? kDoneMore : 0, 0);
  Stmt st(raw);
  RunPrepared(raw, params, more, count);
}

void Session::RunPrepared(sqlite3_stmt* st, const std::vector<Value>& params, bool more,
                          bool count) {
  uint16_t moreFlag = more ? kDoneMore : 0;
  sqlite3_reset(st);
  sqlite3_clear_bindings(st);
  ServerError err;
  if (!BindParams(st, params, err)) {
    Error(err);
    return Done(moreFlag | kDoneError, 0);
  }
  if (sqlite3_column_count(st) > 0) {
    int rc = formatOnly_ ? SQLITE_DONE : sqlite3_step(st);
    SendRows(st, rc, more);
    // A kept statement cut short must not hold its read open until it runs again.
    sqlite3_reset(st);
    return;
  }
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
  }
  if (rc != SQLITE_DONE) {
    Error(ErrorOfSqlite(sqlite3_errmsg(db_)));
    return Done(moreFlag | kDoneError, 0);
  }
  uint32_t changes = static_cast<uint32_t>(sqlite3_changes(db_));
  Done(static_cast<uint16_t>(moreFlag | (count ? kDoneCount : 0)), count ? changes : 0);
}

void Session::DescribeColumns(sqlite3_stmt* st, bool haveRow, std::vector<Column>& cols,
                              int skipLast) {
  int n = sqlite3_column_count(st) - skipLast;
  cols.clear();
  for (int i = 0; i < n; ++i) {
    const char* decl = sqlite3_column_decltype(st, i);
    const char* name = sqlite3_column_name(st, i);
    std::string label = name ? name : "";
    std::optional<Column> c = decl ? ColumnOfDeclared(decl) : std::nullopt;
    if (!c && Lower(label).find("getdate") != std::string::npos) c = Column{"", kDatetimeN, 8};
    if (!c) {
      int type = haveRow ? sqlite3_column_type(st, i) : SQLITE_NULL;
      if (type == SQLITE_INTEGER) {
        int64_t v = sqlite3_column_int64(st, i);
        c = Column{"", kIntN, v == static_cast<int32_t>(v) ? 4 : 8};
      } else if (type == SQLITE_FLOAT) {
        c = Column{"", kFloatN, 8};
      } else if (type == SQLITE_BLOB) {
        c = Column{"", kVarBinary, 255};
      } else {
        c = Column{"", kVarChar, 255};
      }
    }
    // An expression without a name of its own has an empty label.
    if (!sqlite3_column_table_name(st, i) && !label.empty() &&
        (label.find('(') != std::string::npos ||
         std::isdigit(static_cast<unsigned char>(label[0])) || label[0] == '\'' || label[0] == '-'))
      label.clear();
    c->name = label;
    const char* table = sqlite3_column_table_name(st, i);
    const char* origin = sqlite3_column_origin_name(st, i);
    const char* schema = sqlite3_column_database_name(st, i);
    int notNull = 0;
    if (table && origin &&
        sqlite3_table_column_metadata(db_, schema, table, origin, nullptr, nullptr, &notNull,
                                      nullptr, nullptr) == SQLITE_OK &&
        notNull)
      MakeNotNull(*c);
    if (c->type == kText || c->type == kImage) c->table = table ? table : "";
    cols.push_back(*c);
  }
}

void Session::SendRowFmt(const std::vector<Column>& cols) {
  std::string b;
  Put16(b, static_cast<uint16_t>(cols.size()));
  for (const Column& c : cols) {
    PutB8(b, c.name);
    Put8(b, c.nullable ? 0x30 : 0x10);  // nullable, updatable
    Put32(b, 0);                        // user type
    Put8(b, c.type);
    switch (FixedSize(c.type) ? 0 : c.type) {
      case 0:
        break;
      case kNumericN:
      case kDecimalN:
        Put8(b, static_cast<uint8_t>(c.length));
        Put8(b, c.precision);
        Put8(b, c.scale);
        break;
      case kLongChar:
      case kLongBinary:
        Put32(b, static_cast<uint32_t>(c.length));
        break;
      case kText:
      case kImage:
        Put32(b, static_cast<uint32_t>(c.length));
        PutB16(b, c.table);
        break;
      default:
        Put8(b, static_cast<uint8_t>(c.length > 255 ? 255 : c.length));
    }
    Put8(b, 0);  // locale
  }
  std::string& out = wire_.out();
  Put8(out, kTokRowFmt);
  Put16(out, static_cast<uint16_t>(b.size()));
  out += b;
}

void Session::SendValue(const Column& fixed, sqlite3_value* value) {
  std::string& out = wire_.out();
  if (FixedSize(fixed.type) && fixed.type != kBit) {
    // A column that takes no null: the N form without its length byte (a null that got in
    // anyway goes as zero).
    Column n = fixed;
    n.type = fixed.type == kFloat || fixed.type == kReal           ? kFloatN
             : fixed.type == kMoney || fixed.type == kMoney4       ? kMoneyN
             : fixed.type == kDatetime || fixed.type == kDatetime4 ? kDatetimeN
                                                                   : kIntN;
    n.length = FixedSize(fixed.type);
    size_t at = out.size();
    SendValue(n, value);
    if (static_cast<uint8_t>(out[at]) == 0) out.append(static_cast<size_t>(n.length), '\0');
    out.erase(at, 1);
    return;
  }
  const Column& c = fixed;
  int type = sqlite3_value_type(value);
  bool null = type == SQLITE_NULL;
  auto text = [&] { return ValueText(value); };
  auto blob = [&] {
    const void* p = sqlite3_value_blob(value);
    return std::string(static_cast<const char*>(p ? p : ""),
                       static_cast<size_t>(sqlite3_value_bytes(value)));
  };
  switch (c.type) {
    case kIntN:
      if (null) return Put8(out, 0);
      Put8(out, static_cast<uint8_t>(c.length));
      if (c.length == 1) return Put8(out, static_cast<uint8_t>(sqlite3_value_int64(value)));
      if (c.length == 2) return Put16(out, static_cast<uint16_t>(sqlite3_value_int64(value)));
      if (c.length == 4) return Put32(out, static_cast<uint32_t>(sqlite3_value_int64(value)));
      return Put64(out, static_cast<uint64_t>(sqlite3_value_int64(value)));
    case kBit:
      return Put8(out, null ? 0 : sqlite3_value_int64(value) != 0);
    case kFloatN: {
      if (null) return Put8(out, 0);
      double v = sqlite3_value_double(value);
      Put8(out, static_cast<uint8_t>(c.length));
      if (c.length == 4) {
        float f = static_cast<float>(v);
        uint32_t bits;
        std::memcpy(&bits, &f, 4);
        return Put32(out, bits);
      }
      uint64_t bits;
      std::memcpy(&bits, &v, 8);
      return Put64(out, bits);
    }
    case kMoneyN: {
      std::optional<__int128> v;
      if (!null)
        v = ScaledFromText(
            type == SQLITE_FLOAT ? std::to_string(sqlite3_value_double(value)) : text(), 4);
      if (!v) return Put8(out, 0);
      int64_t m = static_cast<int64_t>(*v);
      Put8(out, static_cast<uint8_t>(c.length));
      if (c.length == 4) return Put32(out, static_cast<uint32_t>(m));
      Put32(out, static_cast<uint32_t>(static_cast<uint64_t>(m) >> 32));
      return Put32(out, static_cast<uint32_t>(m));
    }
    case kDatetimeN: {
      std::optional<Datetime> dt;
      if (!null) dt = DatetimeFromText(text());
      if (!dt) return Put8(out, 0);
      Put8(out, static_cast<uint8_t>(c.length));
      if (c.length == 4) {
        Put16(out, static_cast<uint16_t>(dt->days));
        return Put16(out, static_cast<uint16_t>((dt->ticks + 9000) / 18000));
      }
      Put32(out, static_cast<uint32_t>(dt->days));
      return Put32(out, static_cast<uint32_t>(dt->ticks));
    }
    case kNumericN:
    case kDecimalN: {
      std::optional<__int128> v;
      if (!null)
        v = ScaledFromText(
            type == SQLITE_FLOAT ? std::to_string(sqlite3_value_double(value)) : text(), c.scale);
      if (!v) return Put8(out, 0);
      int bytes = NumericBytes(c.precision);
      Put8(out, static_cast<uint8_t>(bytes));
      Put8(out, *v < 0 ? 1 : 0);
      unsigned __int128 m = *v < 0 ? -static_cast<unsigned __int128>(*v) : *v;
      for (int k = bytes - 2; k >= 0; --k) Put8(out, static_cast<uint8_t>(m >> (8 * k)));
      return;
    }
    case kChar:
    case kVarChar:
    case kBinary:
    case kVarBinary: {
      if (null) return Put8(out, 0);
      std::string v = type == SQLITE_BLOB ? blob() : text();
      // A zero length means null here: an empty value goes as one blank (or zero byte).
      if (v.empty()) v = (c.type == kChar || c.type == kVarChar) ? " " : std::string(1, '\0');
      // A fixed column that takes no null is kept at its full length.
      if (!c.nullable && (c.type == kChar || c.type == kBinary) &&
          v.size() < static_cast<size_t>(c.length))
        v.resize(static_cast<size_t>(c.length), c.type == kChar ? ' ' : '\0');
      if (v.size() > 255) v.resize(255);
      return PutB8(out, v);
    }
    case kLongChar:
    case kLongBinary: {
      std::string v = null ? std::string() : type == SQLITE_BLOB ? blob() : text();
      Put32(out, static_cast<uint32_t>(v.size()));
      out += v;
      return;
    }
    case kText:
    case kImage: {
      if (null) return Put8(out, 0);
      std::string v = type == SQLITE_BLOB ? blob() : text();
      if (textSize_ > 0 && v.size() > static_cast<size_t>(textSize_)) v.resize(textSize_);
      // The text pointer names the row; the time stamp is a fixed value.
      Put8(out, 16);
      out += std::string(16, '\0');
      out += std::string(8, '\1');
      Put32(out, static_cast<uint32_t>(v.size()));
      out += v;
      return;
    }
    default:
      return Put8(out, 0);
  }
}

void Session::SendRows(sqlite3_stmt* st, int rc, bool more) {
  uint16_t moreFlag = more ? kDoneMore : 0;
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
    Error(ErrorOfSqlite(sqlite3_errmsg(db_)));
    return Done(moreFlag | kDoneError, 0);
  }
  std::vector<Column> cols;
  DescribeColumns(st, rc == SQLITE_ROW, cols, 0);
  SendRowFmt(cols);
  uint32_t rows = 0;
  while (rc == SQLITE_ROW) {
    Put8(wire_.out(), kTokRow);
    for (size_t i = 0; i < cols.size(); ++i)
      SendValue(cols[i], sqlite3_column_value(st, static_cast<int>(i)));
    ++rows;
    if (!wire_.FlushSome()) return;
    // An attention ends the result here, answered by the DONE that closes it.
    if ((rows & 63) == 0 && wire_.TakeAttention()) return Done(kDoneAttention, rows);
    rc = sqlite3_step(st);
  }
  if (rc != SQLITE_DONE) {
    Error(ErrorOfSqlite(sqlite3_errmsg(db_)));
    return Done(moreFlag | kDoneError, rows);
  }
  Done(static_cast<uint16_t>(moreFlag | kDoneCount), rows);
}

void Session::Use(const std::string& name, bool more) {
  uint16_t moreFlag = more ? kDoneMore : 0;
  ServerError err;
  std::string old = database_;
  if (!DatabaseExists(name) || !OpenDatabase(name, err)) {
    if (err.number == 0)
      err = {911, 11,
             "Attempt to locate entry in sysdatabases for database '" + name +
                 "' by name failed - no entry found under that name. Make sure that the name is "
                 "entered properly."};
    Error(err);
    return Done(moreFlag | kDoneError, 0);
  }
  std::string b;
  Put8(b, 1);
  PutB8(b, name);
  PutB8(b, old);
  std::string& out = wire_.out();
  Put8(out, kTokEnvChange);
  Put16(out, static_cast<uint16_t>(b.size()));
  out += b;
  Error({5701, 10, "Changed database context to '" + name + "'."});
  Done(moreFlag, 0);
}

void Session::DbOption(const std::vector<Word>& w, std::string_view text) {
  // exec sp_dboption DB, "select into/bulkcopy", true|false
  size_t at = w[0].upper == "EXEC" ? 2 : 1;
  std::vector<Word> all = Words(text, 16);
  std::vector<std::string> args;
  for (size_t i = at; i < all.size(); ++i)
    if (all[i].text != ",") args.push_back(all[i].text);
  auto status = [&](int32_t s, uint16_t flags) {
    std::string& out = wire_.out();
    Put8(out, kTokReturnStatus);
    Put32(out, static_cast<uint32_t>(s));
    Done(static_cast<uint16_t>(kDoneMore | flags), 0, kTokDoneProc);
    Done(flags, 0);
  };
  if (args.size() != 3 || Lower(args[1]) != "select into/bulkcopy" ||
      (Lower(args[2]) != "true" && Lower(args[2]) != "false")) {
    Error({15009, 16, "Usage: sp_dboption dbname, \"select into/bulkcopy\", {true | false}"});
    return status(1, kDoneError);
  }
  if (!DatabaseExists(args[0])) {
    Error({15010, 16, "The database '" + args[0] + "' does not exist."});
    return status(1, kDoneError);
  }
  std::string sql = std::string("update ") + (database_ == "master" ? "main" : "master") +
                    ".sysdatabases set bulkcopy = ? where name = ?";
  sqlite3_stmt* raw = nullptr;
  sqlite3_prepare_v2(db_, sql.c_str(), -1, &raw, nullptr);
  Stmt st(raw);
  sqlite3_bind_int(raw, 1, Lower(args[2]) == "true");
  sqlite3_bind_text(raw, 2, args[0].c_str(), -1, SQLITE_TRANSIENT);
  if (!raw || sqlite3_step(raw) != SQLITE_DONE) {
    Error(ErrorOfSqlite(sqlite3_errmsg(db_)));
    return status(1, kDoneError);
  }
  status(0, 0);
}

void Session::CreateDatabase(const std::string& name) {
  std::lock_guard<std::mutex> lock(server_.mutex);
  if (DatabaseExists(name)) {
    Error({1801, 16, "Database '" + name + "' already exists."});
    return Done(kDoneError, 0);
  }
  sqlite3* db = nullptr;
  std::string error;
  bool ok =
      sqlite3_open_v2(server_.DatabasePath(name).c_str(), &db,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) == SQLITE_OK &&
      Exec(db,
           "pragma journal_mode = wal;"
           "create table if not exists sysusers (suid int, uid int, name varchar(30));"
           "insert into sysusers select 1, 1, 'dbo' where not exists (select 1 from sysusers);",
           error);
  sqlite3_close(db);
  std::string sql = std::string("insert into ") + (database_ == "master" ? "main" : "master") +
                    ".sysdatabases values (?, 1, (select count(*) + 1 from " +
                    (database_ == "master" ? "main" : "master") + ".sysdatabases), 0)";
  sqlite3_stmt* raw = nullptr;
  if (ok) sqlite3_prepare_v2(db_, sql.c_str(), -1, &raw, nullptr);
  Stmt st(raw);
  if (raw) sqlite3_bind_text(raw, 1, name.c_str(), -1, SQLITE_TRANSIENT);
  if (!ok || !raw || sqlite3_step(raw) != SQLITE_DONE) {
    Error({1802, 16, "CREATE DATABASE failed: " + (error.empty() ? sqlite3_errmsg(db_) : error)});
    return Done(kDoneError, 0);
  }
  Done(kDoneFinal, 0);
}

void Session::Truncate(const std::string& table) {
  if (!TableExists(table)) {
    Error({4701, 16,
           "Cannot truncate table '" + table +
               "', because this table does not exist in the database."});
    return Done(kDoneError, 0);
  }
  std::string error;
  std::optional<std::string> target = ToSqlite(table, dialect(), error);
  RunSql("delete from " + target.value_or(table), {}, false, false);
}

void Session::OptionCmd(Reader& in) {
  in.U16();  // length
  uint8_t command = in.U8();
  uint8_t option = in.U8();
  std::string arg(in.Bytes(in.U8()));
  server_.Log("option", std::to_string(command) + " " + std::to_string(option) + " " +
                            std::to_string(arg.size()));
  constexpr uint8_t kSet = 1, kTextSize = 2, kFormatOnly = 24;
  if (command == kSet && option == kTextSize && arg.size() == 4) {
    Reader a(arg);
    textSize_ = static_cast<int32_t>(a.U32());
  } else if (command == kSet && option == kFormatOnly && !arg.empty()) {
    formatOnly_ = arg[0] != 0;
  }
  Done(kDoneFinal, 0);
}

void Session::Dynamic(Reader& in) {
  Reader tok(in.Bytes(in.U16()));
  constexpr uint8_t kPrepare = 0x01, kExecute = 0x02, kDealloc = 0x04, kExecImmediate = 0x08,
                    kAck = 0x20;
  uint8_t type = tok.U8();
  tok.U8();  // status
  std::string id = tok.B8();
  std::string text = tok.left() >= 2 ? tok.B16() : std::string();
  if (tok.bad()) {
    Error({102, 15, "tds5d: a broken dynamic token."});
    return Done(kDoneError, 0);
  }
  auto ack = [&](uint8_t what) {
    std::string b;
    Put8(b, what);
    Put8(b, 0);
    PutB8(b, id);
    std::string& out = wire_.out();
    Put8(out, kTokDynamic);
    Put16(out, static_cast<uint16_t>(b.size()));
    out += b;
  };
  if (type == kPrepare || type == kExecImmediate) {
    server_.Log("dynamic", text);
    // "create proc ID as TEXT": the statement is the text after "as".
    std::vector<Word> w = Words(text, 5);
    if (type == kPrepare) {
      if (!StartsWithWords(w, {"CREATE", "PROC"}) || w.size() < 4 || w[3].upper != "AS") {
        Error({102, 15, "Incorrect syntax near the prepared text."});
        return Done(kDoneError, 0);
      }
      text = text.substr(w[3].end);
      Stmt st = Prepare(text);
      if (!st) return Done(kDoneError, 0);
      std::vector<Word> head = Words(text, 1);
      std::string verb = head.empty() ? "" : head[0].upper;
      dynamics_[id] =
          Prepared{text, std::move(st),
                   verb == "INSERT" || verb == "UPDATE" || verb == "DELETE" || verb == "SELECT"};
      ack(kAck);
      return Done(kDoneFinal, 0);
    }
    return Statement(text, {}, false);
  }
  if (type == kDealloc) {
    dynamics_.erase(id);
    ack(kAck);
    return Done(kDoneFinal, 0);
  }
  if (type == kExecute) {
    auto it = dynamics_.find(id);
    bool ok = true;
    std::vector<Value> params = ReadParams(in, ok);
    if (it == dynamics_.end() || !ok) {
      Error({it == dynamics_.end() ? 2812 : 102, 16,
             it == dynamics_.end() ? "Stored procedure '" + id + "' not found."
                                   : std::string("tds5d: broken parameters.")});
      return Done(kDoneError, 0);
    }
    // The statement prepared once serves every execution; after a "use" it is prepared
    // again in the new database.
    Prepared& p = it->second;
    if (!p.stmt) p.stmt = Prepare(p.text);
    if (!p.stmt) return Done(kDoneError, 0);
    return RunPrepared(p.stmt.get(), params, false, p.count);
  }
  Error({102, 15, "tds5d: dynamic operation " + std::to_string(type) + " is not served."});
  Done(kDoneError, 0);
}

void Session::CursorToken(uint8_t token, Reader& in) {
  Reader tok(in.Bytes(in.U16()));
  constexpr uint16_t kDeclared = 0x0001, kOpen = 0x0002, kClosed = 0x0004, kRowCount = 0x0020,
                     kDeallocated = 0x0040;
  constexpr uint8_t kSetRows = 1, kInform = 3;
  auto info = [&](const Cursor& c, uint16_t status) {
    std::string b;
    Put32(b, static_cast<uint32_t>(cursorIdOf(c)));
    Put8(b, kInform);
    Put16(b, status | kRowCount);
    Put32(b, c.fetchCount);
    std::string& out = wire_.out();
    Put8(out, kTokCurInfo);
    Put16(out, static_cast<uint16_t>(b.size()));
    out += b;
  };
  if (token == kTokCurDeclare) {
    auto c = std::make_unique<Cursor>();
    c->name = tok.B8();
    tok.U8();  // options
    tok.U8();  // status
    c->text = tok.B16();
    server_.Log("cursor", c->text);
    if (tok.bad()) {
      Error({102, 15, "tds5d: a broken cursor declaration."});
      return Done(kDoneError, 0);
    }
    Cursor* raw = c.get();
    cursorIds_[nextCursorId_++] = raw;
    cursors_[Lower(raw->name)] = std::move(c);
    lastCursor_ = raw;
    info(*raw, kDeclared);
    return Done(kDoneMore, 0);
  }
  // The other tokens name their cursor by id, or by name with id 0.
  int32_t id = static_cast<int32_t>(tok.U32());
  Cursor* c = nullptr;
  if (id == 0) {
    auto it = cursors_.find(Lower(tok.B8()));
    if (it != cursors_.end()) c = it->second.get();
  } else if (auto it = cursorIds_.find(id); it != cursorIds_.end()) {
    c = it->second;
  }
  if (!c) {
    Error({559, 16, "Attempt to use a cursor which does not exist."});
    return Done(kDoneError, 0);
  }
  if (token == kTokCurInfo) {
    uint8_t command = tok.U8();
    uint16_t status = tok.U16();
    if (command == kSetRows && (status & kRowCount)) {
      uint32_t rows = tok.U32();
      c->fetchCount = rows ? rows : 1;
    }
    info(*c, c->open ? kOpen : kDeclared);
    return Done(kDoneMore, 0);
  }
  if (token == kTokCurOpen) {
    // The select gets the rowid of its one table as a last, unsent column: "where current
    // of" finds the row by it.
    std::vector<Word> w = Words(c->text, 256);
    size_t from = 0;
    for (size_t i = 1; i < w.size(); ++i)
      if (w[i].upper == "FROM") {
        from = i;
        break;
      }
    std::string text = c->text;
    c->rowidColumn = -1;
    if (from && from + 1 < w.size() &&
        (from + 2 >= w.size() || w[from + 2].upper == "WHERE" || w[from + 2].upper == "ORDER")) {
      c->table = w[from + 1].text;
      text = c->text.substr(0, w[from].begin) + ", " + c->table + ".rowid " +
             c->text.substr(w[from].begin);
    }
    Stmt st = Prepare(text);
    if (!st) return Done(kDoneError, 0);
    sqlite3_stmt* raw = st.get();
    if (!c->table.empty()) c->rowidColumn = sqlite3_column_count(raw) - 1;
    c->rows.clear();
    c->next = 0;
    c->current = false;
    int rc = sqlite3_step(raw);
    DescribeColumns(raw, rc == SQLITE_ROW, c->columns, c->rowidColumn >= 0 ? 1 : 0);
    const int n = sqlite3_column_count(raw);
    for (; rc == SQLITE_ROW; rc = sqlite3_step(raw)) {
      std::vector<Cell> row;
      for (int i = 0; i < n; ++i) {
        row.emplace_back(sqlite3_value_dup(sqlite3_column_value(raw, i)));
        if (!row.back()) rc = SQLITE_NOMEM;
      }
      if (rc != SQLITE_ROW) break;
      c->rows.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE) {
      Error(ErrorOfSqlite(rc == SQLITE_NOMEM ? "out of memory" : sqlite3_errmsg(db_)));
      c->rows.clear();
      return Done(kDoneError, 0);
    }
    c->open = true;
    info(*c, kOpen);
    SendRowFmt(c->columns);
    return Done(kDoneFinal, 0);
  }
  if (token == kTokCurFetch) {
    if (!c->open) {
      Error({557, 16, "The cursor '" + c->name + "' is not open."});
      return Done(kDoneError, 0);
    }
    uint32_t rows = 0;
    while (rows < c->fetchCount) {
      if (c->next >= c->rows.size()) {
        c->current = false;
        break;
      }
      const std::vector<Cell>& row = c->rows[c->next++];
      Put8(wire_.out(), kTokRow);
      for (size_t i = 0; i < c->columns.size(); ++i) SendValue(c->columns[i], row[i].get());
      c->current = true;
      if (c->rowidColumn >= 0) c->rowid = sqlite3_value_int64(row[c->rowidColumn].get());
      ++rows;
    }
    return Done(kDoneCount, rows);
  }
  if (token == kTokCurClose) {
    bool dealloc = tok.U8() & 1;
    c->open = c->current = false;
    c->rows.clear();
    info(*c, static_cast<uint16_t>(kClosed | (dealloc ? kDeallocated : 0)));
    if (dealloc) {
      int32_t cid = cursorIdOf(*c);
      cursorIds_.erase(cid);
      if (lastCursor_ == c) lastCursor_ = nullptr;
      cursors_.erase(Lower(c->name));
    }
    return Done(kDoneFinal, 0);
  }
  Error({102, 15, "tds5d: positioned changes go as \"where current of\" statements."});
  Done(kDoneError, 0);
}

int32_t Session::cursorIdOf(const Cursor& c) const {
  for (const auto& [id, cursor] : cursorIds_)
    if (cursor == &c) return id;
  return 0;
}

void Session::BulkInsert(const std::string& name) {
  // "insert bulk [db..]table": the database's bulk-copy option must be on.
  std::string database = database_, table = name;
  size_t dots = name.find("..");
  if (dots != std::string::npos) {
    database = name.substr(0, dots);
    table = name.substr(dots + 2);
  }
  std::string error;
  Dialect d = dialect();
  std::optional<std::string> target = ToSqlite(name, d, error);
  ServerError err;
  if (!target || !AttachNamed(err)) {
    Error(err.number ? err : ServerError{105, 15, error});
    return Done(kDoneError, 0);
  }
  std::string sql = std::string("select bulkcopy from ") +
                    (database_ == "master" ? "main" : "master") +
                    ".sysdatabases where lower(name) = lower(?)";
  sqlite3_stmt* raw = nullptr;
  sqlite3_prepare_v2(db_, sql.c_str(), -1, &raw, nullptr);
  Stmt option(raw);
  if (raw) sqlite3_bind_text(raw, 1, database.c_str(), -1, SQLITE_TRANSIENT);
  if (!raw || sqlite3_step(raw) != SQLITE_ROW || sqlite3_column_int(raw, 0) == 0) {
    Error({4806, 16,
           "You cannot run the non-logged version of bulk copy in this database. Please check "
           "with the DBO."});
    return Done(kDoneError, 0);
  }
  raw = nullptr;
  if (sqlite3_prepare_v2(db_, ("select * from " + *target).c_str(), -1, &raw, nullptr) !=
      SQLITE_OK) {
    Error(ErrorOfSqlite(sqlite3_errmsg(db_)));
    sqlite3_finalize(raw);
    return Done(kDoneError, 0);
  }
  Stmt describe(raw);
  DescribeColumns(raw, false, bulkColumns_, 0);
  bulkTable_ = *target;
  Done(kDoneFinal, 0);
}

// One batch of bulk rows in the client's row layout: per row its length (2 bytes) and the row
// (variable-column count, row number, the not-null fixed columns, then when there are variable
// columns the row length, their data, the adjust table and the offsets stored backwards), then
// one record per text or image column (2 bytes, type, index, offset, length 4, data). The
// batch is one transaction: a row that does not fit fails it whole.
void Session::BulkRows(const std::string& body) {
  if (bulkTable_.empty()) {
    Error({4805, 16, "tds5d: bulk rows without an \"insert bulk\"."});
    return Done(kDoneError, 0);
  }
  const std::vector<Column>& cols = bulkColumns_;
  // The columns that take no null and have a fixed length lie first, in table order.
  auto fixedSize = [](const Column& c) -> int {
    if (c.nullable) return -1;
    if (FixedSize(c.type)) return FixedSize(c.type);
    if (c.type == kChar || c.type == kBinary) return c.length;
    if (c.type == kNumericN || c.type == kDecimalN) return NumericBytes(c.precision);
    return -1;
  };
  std::string sql = "insert into " + bulkTable_ + " values (";
  for (size_t i = 0; i < cols.size(); ++i) sql += i ? ", ?" : "?";
  sql += ")";
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK) {
    Error(ErrorOfSqlite(sqlite3_errmsg(db_)));
    sqlite3_finalize(raw);
    return Done(kDoneError, 0);
  }
  Stmt insert(raw);
  std::string error;
  Exec(db_, "begin", error);
  uint32_t rows = 0;
  ServerError failure;
  Reader in(body);
  while (!in.done() && failure.number == 0) {
    uint16_t length = in.U16();
    std::string_view row = in.Bytes(length);
    if (in.bad() || length < 2) {
      failure = {4811, 16, "tds5d: a broken bulk row."};
      break;
    }
    std::vector<Value> values(cols.size());
    size_t at = 2;
    size_t numvar = static_cast<uint8_t>(row[0]);
    // The fixed columns first, in table order.
    for (size_t i = 0; i < cols.size(); ++i) {
      values[i].column = cols[i];
      int size = fixedSize(cols[i]);
      if (size < 0) continue;
      if (at + static_cast<size_t>(size) > row.size()) {
        failure = {4811, 16, "tds5d: a bulk row shorter than its fixed columns."};
        break;
      }
      values[i].null = false;
      values[i].bytes = std::string(row.substr(at, static_cast<size_t>(size)));
      at += static_cast<size_t>(size);
    }
    if (failure.number) break;
    std::vector<size_t> offsets;
    if (numvar > 0) {
      // Offsets are kept modulo 256; the adjust table lists the columns from which another
      // 256 is added. Its size follows from the end offset, which must match.
      size_t entries = numvar + 1;
      if (row.size() < at + 2 + entries + 1) {
        failure = {4811, 16, "tds5d: a bulk row shorter than its offsets."};
        break;
      }
      std::vector<size_t> low(entries);
      for (size_t k = 0; k < entries; ++k) low[k] = static_cast<uint8_t>(row[row.size() - 1 - k]);
      size_t adjust = 0;
      for (; adjust < 256; ++adjust) {
        size_t end = row.size() - entries - 1 - adjust;
        if ((end & 0xFF) == low[numvar] && (end >> 8) == adjust) break;
      }
      if (adjust == 256) {
        failure = {4811, 16, "tds5d: a bulk row with broken offsets."};
        break;
      }
      std::vector<size_t> marks;
      for (size_t a = 0; a < adjust; ++a)
        marks.push_back(static_cast<uint8_t>(row[row.size() - entries - 1 - a]));
      for (size_t k = 0; k < entries; ++k) {
        size_t high = 0;
        for (size_t m : marks)
          if (m <= k + 1) ++high;
        offsets.push_back(low[k] + 256 * (k == numvar ? adjust : high));
      }
    }
    size_t var = 0;
    for (size_t i = 0; i < cols.size(); ++i) {
      if (fixedSize(cols[i]) >= 0) continue;
      if (var < numvar) {
        size_t begin = offsets[var], end = offsets[var + 1];
        if (end < begin || end > row.size()) {
          failure = {4811, 16, "tds5d: a bulk row with broken offsets."};
          break;
        }
        values[i].null = end == begin;
        values[i].bytes = std::string(row.substr(begin, end - begin));
      }
      ++var;
    }
    // The text and image records after the row, in column order.
    for (size_t i = 0; i < cols.size() && failure.number == 0; ++i) {
      if (cols[i].type != kText && cols[i].type != kImage) continue;
      in.U16();
      in.U8();   // type
      in.U8();   // index
      in.U16();  // offset in the row
      uint32_t n = in.U32();
      values[i].bytes = std::string(in.Bytes(n));
      values[i].null = n == 0 && values[i].null;
      if (in.bad()) failure = {4811, 16, "tds5d: a broken text record."};
    }
    if (failure.number) break;
    sqlite3_reset(raw);
    sqlite3_clear_bindings(raw);
    for (size_t i = 0; i < values.size() && failure.number == 0; ++i) {
      Value v = values[i];
      // The row holds the N form's data without its length.
      if (v.column.type == kInt1 || v.column.type == kInt2 || v.column.type == kInt4 ||
          v.column.type == kInt8)
        v.column.type = kIntN;
      if (!BindValue(raw, static_cast<int>(i + 1), v, failure)) break;
    }
    if (failure.number) break;
    if (sqlite3_step(raw) != SQLITE_DONE) {
      failure = ErrorOfSqlite(sqlite3_errmsg(db_));
      failure.text = "Bulk row " + std::to_string(rows + 1) + ": " + failure.text;
      break;
    }
    ++rows;
  }
  if (failure.number) {
    Exec(db_, "rollback", error);
    Error(failure);
    return Done(kDoneError, 0);
  }
  if (!Exec(db_, "commit", error)) {
    Exec(db_, "rollback", error);
    Error(ErrorOfSqlite(error));
    return Done(kDoneError, 0);
  }
  server_.Log("bulk", bulkTable_ + " " + std::to_string(rows));
  Done(kDoneCount, rows);
}

bool Session::BindParams(sqlite3_stmt* st, const std::vector<Value>& params, ServerError& err) {
  for (size_t i = 0; i < params.size(); ++i)
    if (!BindValue(st, static_cast<int>(i + 1), params[i], err)) return false;
  return true;
}

bool Session::BindValue(sqlite3_stmt* st, int index, const Value& v, ServerError& err) {
  if (v.null) return sqlite3_bind_null(st, index) == SQLITE_OK;
  Reader r(v.bytes);
  auto text = [&](const std::string& t) {
    return sqlite3_bind_text(st, index, t.data(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
  };
  int rc = SQLITE_OK;
  size_t n = v.bytes.size();
  switch (v.column.type) {
    case kInt1:
    case kInt2:
    case kInt4:
    case kInt8:
    case kIntN:
    case kBit: {
      int64_t x = n == 1   ? r.U8()
                  : n == 2 ? static_cast<int16_t>(r.U16())
                  : n == 4 ? static_cast<int32_t>(r.U32())
                           : static_cast<int64_t>(r.U64());
      rc = sqlite3_bind_int64(st, index, x);
      break;
    }
    case kFloat:
    case kReal:
    case kFloatN: {
      double x;
      if (n == 4) {
        uint32_t bits = r.U32();
        float f;
        std::memcpy(&f, &bits, 4);
        x = f;
      } else {
        uint64_t bits = r.U64();
        std::memcpy(&x, &bits, 8);
      }
      rc = sqlite3_bind_double(st, index, x);
      break;
    }
    case kMoney:
    case kMoney4:
    case kMoneyN: {
      int64_t m;
      if (n == 4) {
        m = static_cast<int32_t>(r.U32());
      } else {
        uint64_t hi = r.U32();
        m = static_cast<int64_t>(hi << 32 | r.U32());
      }
      rc = text(TextFromScaled(m, 4));
      break;
    }
    case kDatetime:
    case kDatetime4:
    case kDatetimeN: {
      Datetime dt;
      if (n == 4) {
        dt.days = r.U16();
        dt.ticks = r.U16() * 18000;
      } else {
        dt.days = static_cast<int32_t>(r.U32());
        dt.ticks = static_cast<int32_t>(r.U32());
      }
      rc = text(TextFromDatetime(dt));
      break;
    }
    case kNumericN:
    case kDecimalN:
    case kNumericOld:
    case kDecimal: {
      if (n < 2 || n > 17) {
        err = {8114, 16, "A numeric value of " + std::to_string(n) + " bytes."};
        return false;
      }
      bool negative = r.U8() != 0;
      unsigned __int128 m = 0;
      for (size_t i = 1; i < n; ++i) m = m << 8 | r.U8();
      __int128 x = static_cast<__int128>(m);
      rc = text(TextFromScaled(negative ? -x : x, v.column.scale));
      break;
    }
    case kChar:
    case kVarChar:
    case kLongChar:
    case kText:
      rc = text(v.bytes);
      break;
    case kBinary:
    case kVarBinary:
    case kLongBinary:
    case kImage:
      rc = sqlite3_bind_blob(st, index, v.bytes.data(), static_cast<int>(n), SQLITE_TRANSIENT);
      break;
    default:
      err = {206, 16, "Operand type " + std::to_string(v.column.type) + " is not served."};
      return false;
  }
  if (rc == SQLITE_RANGE) {
    err = {8144, 16, "Procedure has too many arguments specified."};
    return false;
  }
  return rc == SQLITE_OK;
}

bool Session::ReadParamFmt(Reader& in, std::vector<Column>& cols) {
  Reader tok(in.Bytes(in.U16()));
  uint16_t count = tok.U16();
  for (uint16_t i = 0; i < count && !tok.bad(); ++i) {
    Column c;
    c.name = tok.B8();
    tok.U8();   // status
    tok.U32();  // user type
    c.type = tok.U8();
    c.length = FixedSize(c.type);
    switch (c.length ? 0 : c.type) {
      case 0:
        break;
      case kNumericN:
      case kDecimalN:
      case kNumericOld:
      case kDecimal:
        c.length = tok.U8();
        c.precision = tok.U8();
        c.scale = tok.U8();
        break;
      case kLongChar:
      case kLongBinary:
        c.length = static_cast<int32_t>(tok.U32());
        break;
      case kText:
      case kImage:
        c.length = static_cast<int32_t>(tok.U32());
        c.table = tok.B16();
        break;
      default:
        c.length = tok.U8();
    }
    tok.B8();  // locale
    cols.push_back(std::move(c));
  }
  return !tok.bad();
}

bool Session::ReadValue(Reader& in, const Column& c, Value& v) {
  v.column = c;
  v.null = false;
  switch (FixedSize(c.type) ? 0 : c.type) {
    case 0:
      v.bytes = std::string(in.Bytes(static_cast<size_t>(FixedSize(c.type))));
      break;
    case kLongChar:
    case kLongBinary: {
      uint32_t n = in.U32();
      v.bytes = std::string(in.Bytes(n));
      v.null = n == 0;
      break;
    }
    case kText:
    case kImage: {
      uint8_t ptr = in.U8();
      if (ptr == 0) break;
      in.Bytes(ptr);
      in.Bytes(8);
      v.bytes = std::string(in.Bytes(in.U32()));
      v.null = false;
      return !in.bad();
    }
    default: {
      uint8_t n = in.U8();
      v.bytes = std::string(in.Bytes(n));
      v.null = n == 0;
    }
  }
  if (c.type == kText || c.type == kImage) v.null = true;
  return !in.bad();
}

std::vector<Session::Value> Session::ReadParams(Reader& in, bool& ok) {
  std::vector<Value> values;
  std::vector<Column> cols;
  ok = true;
  while (!in.done()) {
    uint8_t token = in.U8();
    if (token == kTokParamFmt) {
      cols.clear();
      ok = ReadParamFmt(in, cols);
    } else if (token == kTokParams) {
      for (const Column& c : cols) {
        Value v;
        ok = ok && ReadValue(in, c, v);
        values.push_back(std::move(v));
      }
    } else {
      ok = false;
    }
    if (!ok) break;
  }
  return values;
}

}  // namespace tds5d
