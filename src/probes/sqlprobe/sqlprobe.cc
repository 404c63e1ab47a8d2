// sqlprobe's dialogue and its ODBC 2.0 calls through the driver manager.
#include "sqlprobe.h"

#include <sql.h>
#include <sqlext.h>

#include <cerrno>
#include <cstring>

#include "report.h"

namespace tw::sqlprobe {
namespace {

using probe::Console;

// The 2.0 interface takes texts it only reads as non-const.
SQLCHAR* Sql(const std::string& text) {
  return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.c_str()));
}

struct Answers {
  std::string dataSource;
  std::string userId;
  std::string password;
  bool report = false;
  bool toFile = false;
  std::string fileName = kDefaultReportFile;
};

// The handles of one attempt. Every handle is given back before the next attempt, so that a
// retry neither leaks a connection handle nor leaves an earlier connection open.
class Session {
 public:
  explicit Session(Console& console) : console_(console) {}
  ~Session() {
    Release();
    // The driver manager refuses to free an environment that still has a connection: a
    // handle lost on the way shows here.
    if (env_ != SQL_NULL_HENV) (void)Check(SQLFreeEnv(env_));
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  [[nodiscard]] bool Start() { return Check(SQLAllocEnv(&env_)) && env_ != SQL_NULL_HENV; }

  // Frees the statement, disconnects and frees the connection; each only when there is one.
  void Release() {
    DropStatement();
    if (connected_) SQLDisconnect(dbc_);
    connected_ = false;
    if (dbc_ != SQL_NULL_HDBC) SQLFreeConnect(dbc_);
    dbc_ = SQL_NULL_HDBC;
  }

  [[nodiscard]] bool Connect(const Answers& a) {
    if (!Check(SQLAllocConnect(env_, &dbc_))) return false;
    if (!Check(SQLConnect(dbc_, Sql(a.dataSource), SQL_NTS, Sql(a.userId), SQL_NTS, Sql(a.password),
                          SQL_NTS)))
      return false;
    connected_ = true;
    return true;
  }

  [[nodiscard]] bool Disconnect() {
    if (!Check(SQLDisconnect(dbc_))) return false;
    connected_ = false;
    if (!Check(SQLFreeConnect(dbc_))) return false;
    dbc_ = SQL_NULL_HDBC;
    return true;
  }

  [[nodiscard]] bool Report(FILE* out);

 private:
  // A result other than success (with or without information) shows every message of the
  // environment, the connection and the statement on standard error.
  bool Check(SQLRETURN rc) {
    if (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) return true;
    if (rc == SQL_INVALID_HANDLE) console_.Error("Invalid handle\n");
    ShowMessages(env_, SQL_NULL_HDBC, SQL_NULL_HSTMT);
    if (dbc_ != SQL_NULL_HDBC) ShowMessages(env_, dbc_, SQL_NULL_HSTMT);
    if (stmt_ != SQL_NULL_HSTMT) ShowMessages(env_, dbc_, stmt_);
    return false;
  }
  void ShowMessages(SQLHENV env, SQLHDBC dbc, SQLHSTMT stmt) {
    // SQLError hands each message once; the bound only guards against a driver that never
    // stops answering.
    for (int i = 0; i < 64; ++i) {
      SQLCHAR state[SQL_SQLSTATE_SIZE + 1] = {};
      SQLCHAR text[SQL_MAX_MESSAGE_LENGTH] = {};
      SQLINTEGER native = 0;
      SQLSMALLINT length = 0;
      SQLRETURN rc = SQLError(env, dbc, stmt, state, &native, text, sizeof text, &length);
      if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) break;
      // Some drivers end their text with a line break: one message stays one line.
      std::string message(reinterpret_cast<char*>(text),
                          strnlen(reinterpret_cast<char*>(text), sizeof text));
      while (!message.empty() &&
             (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
      console_.Error("%s (SQLSTATE %s, native error %ld)\n", message.c_str(),
                     reinterpret_cast<char*>(state), static_cast<long>(native));
    }
  }
  void DropStatement() {
    if (stmt_ != SQL_NULL_HSTMT) SQLFreeStmt(stmt_, SQL_DROP);
    stmt_ = SQL_NULL_HSTMT;
  }
  bool ReportType(FILE* out, const TypeCheck& type);

  Console& console_;
  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  SQLHSTMT stmt_ = SQL_NULL_HSTMT;
  bool connected_ = false;
};

bool Session::Report(FILE* out) {
  std::fputs("\n\nDetailed Driver Information\n\n", out);
  for (const InfoItem& item : InfoItems()) {
    char text[kKeywordsSize] = {};
    SQLUSMALLINT number = 0;
    SQLUINTEGER mask = 0;
    SQLSMALLINT length = 0;
    SQLRETURN rc;
    switch (item.kind) {
      case InfoKind::kText:
        rc = SQLGetInfo(dbc_, item.type, text, item.size, &length);
        break;
      case InfoKind::kNumber:
        rc = SQLGetInfo(dbc_, item.type, &number, sizeof number, &length);
        break;
      default:
        rc = SQLGetInfo(dbc_, item.type, &mask, sizeof mask, &length);
        break;
    }
    if (!Check(rc)) return false;
    InfoValue value;
    if (item.kind == InfoKind::kText) {
      text[item.size - 1] = '\0';  // a driver that fills the buffer to its end is still cut
      value.text = text;
    }
    value.driverLength = length;
    value.number = number;
    value.mask = mask;
    std::fputs(item.print(item.label, value).c_str(), out);
    std::fputs("\n", out);
  }
  SQLUSMALLINT supported[100] = {};
  if (!Check(SQLGetFunctions(dbc_, SQL_API_ALL_FUNCTIONS, supported))) return false;
  for (const FunctionCheck& f : FunctionChecks())
    std::fputs(PrintFunction(f.name, f.function < 100 && supported[f.function]).c_str(), out);
  std::fputs("\n\nNative Data Types\n", out);
  for (const TypeCheck& type : TypeChecks())
    if (!ReportType(out, type)) return false;
  return true;
}

bool Session::ReportType(FILE* out, const TypeCheck& type) {
  if (!Check(SQLAllocStmt(dbc_, &stmt_))) return false;
  if (!Check(SQLGetTypeInfo(stmt_, type.type))) return false;
  SQLRETURN rc = SQLFetch(stmt_);
  if (rc == SQL_NO_DATA_FOUND) {
    std::fputs(PrintTypeMissing(type.name).c_str(), out);
  } else {
    if (!Check(rc)) return false;
    SQLCHAR name[256] = {};
    SQLLEN nameLength = 0;
    SQLINTEGER nullable = 0;
    SQLLEN nullableLength = 0;
    if (!Check(SQLGetData(stmt_, 1, SQL_C_CHAR, name, sizeof name, &nameLength))) return false;
    if (!Check(SQLGetData(stmt_, 7, SQL_C_LONG, &nullable, 0, &nullableLength))) return false;
    if (nameLength == SQL_NULL_DATA) name[0] = '\0';
    std::fputs(PrintType(type.name, reinterpret_cast<char*>(name), nullable).c_str(), out);
  }
  if (!Check(SQLFreeStmt(stmt_, SQL_DROP))) return false;
  stmt_ = SQL_NULL_HSTMT;
  return true;
}

std::string Current(const std::string& value, bool secret) {
  return value.empty() ? std::string() : "[" + probe::Shown(value, secret) + "]";
}

void AskAnswers(Console& console, Answers& a) {
  probe::AskKeeping(console, "    Data Source: " + Current(a.dataSource, false), a.dataSource,
                    false);
  probe::AskKeeping(console, "        User Id: " + Current(a.userId, false), a.userId, false);
  probe::AskKeeping(console, "       Password: " + Current(a.password, true), a.password, true);
  std::string answer;
  const bool answered =
      console.Ask(std::string(" Driver Details: [") + (a.report ? "Y" : "N") + "]",
                  probe::kAnswerMax, false, answer);
  if (answered && !a.report && (answer[0] == 'y' || answer[0] == 'Y')) a.report = true;
  if (answered && a.report && (answer[0] == 'n' || answer[0] == 'N')) a.report = false;
  a.toFile = false;
  if (!a.report) return;
  if (!probe::AskYes(console, "Details to file: [N]")) return;
  a.toFile = true;
  std::string name;
  if (console.Ask("     Filename: [" + a.fileName + "]", probe::kAnswerMax, false, name) &&
      !name.empty())
    a.fileName = name;
}

// One attempt with the answers given; true when it connected and wrote what was asked.
bool Attempt(Console& console, Session& session, const Answers& a) {
  if (!session.Connect(a)) return false;
  console.Print("\n\nSuccessful Connection.\n\n");
  if (a.report) {
    FILE* file = nullptr;
    if (a.toFile) {
      file = std::fopen(a.fileName.c_str(), "w+");
      if (file == nullptr) console.Error("%s: %s\n", a.fileName.c_str(), std::strerror(errno));
    }
    const bool written = session.Report(file != nullptr ? file : console.out());
    if (file != nullptr && std::fclose(file) != 0) {
      console.Error("%s: %s\n", a.fileName.c_str(), std::strerror(errno));
      return false;
    }
    if (!written) return false;
  }
  return session.Disconnect();
}

}  // namespace

int Run(Console& console, const std::vector<std::string>& args) {
  Answers a;
  std::string* presets[] = {&a.dataSource, &a.userId, &a.password};
  const char* what[] = {"The data source name", "The user id", "The password"};
  for (size_t i = 0; i < args.size() && i < 3; ++i)
    if (probe::FitsAnswer(console, what[i], args[i])) *presets[i] = args[i];

  probe::PrintBanner(console, "ODBC Connection Verification",
                     "Tries a connection to an ODBC data source and, on request, reports\n"
                     "what its driver offers to the relational connector.");
  Session session(console);
  if (!session.Start()) return 1;
  for (;;) {
    AskAnswers(console, a);
    const bool verified = Attempt(console, session, a);
    session.Release();
    if (!probe::AskYes(console, "\n      Try Again: [N]")) return verified ? 0 : 1;
    console.Print("\n\n");
  }
}

}  // namespace tw::sqlprobe
