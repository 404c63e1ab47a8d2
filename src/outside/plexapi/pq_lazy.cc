// The libpq calls of the shared library, bound at their first use. Most processes that load
// the library only ever open SQLite files, and loading libpq with its chain of TLS, Kerberos
// and LDAP libraries cost each of them more time than many of their whole runs' work; here
// libpq is loaded when a server map line names PostgreSQL or a PostgreSQL store connects.
// Only the shared library carries these definitions (hidden, so they never stand in for
// another module's libpq); the static archive links libpq itself.
#include <dlfcn.h>
#include <libpq-fe.h>

#include <mutex>

namespace {

void* Library() {
  static void* handle = nullptr;
  static std::once_flag once;
  std::call_once(once, [] { handle = dlopen("libpq.so.5", RTLD_NOW | RTLD_LOCAL); });
  return handle;
}

// The function named, or nullptr when libpq or the name cannot be found: the calls that
// open connections or read connection strings then answer as libpq does when it fails,
// and every other call needs a connection or a result that only libpq itself can have made.
template <class Fn>
Fn* Resolve(const char* name) {
  void* lib = Library();
  return lib != nullptr ? reinterpret_cast<Fn*>(dlsym(lib, name)) : nullptr;
}

}  // namespace

// Each call resolves its function once; fallback is what it answers without libpq.
#define TW_PQ_CALL(name, fallback, ...)                     \
  static auto* const fn = Resolve<decltype(::name)>(#name); \
  if (fn == nullptr) return fallback;                       \
  return fn(__VA_ARGS__)

extern "C" {

PGconn* PQconnectdb(const char* conninfo) {
  TW_PQ_CALL(PQconnectdb, nullptr, conninfo);
}
PGPing PQping(const char* conninfo) {
  TW_PQ_CALL(PQping, PQPING_NO_ATTEMPT, conninfo);
}
PQconninfoOption* PQconninfoParse(const char* conninfo, char** errmsg) {
  if (errmsg != nullptr) *errmsg = nullptr;
  TW_PQ_CALL(PQconninfoParse, nullptr, conninfo, errmsg);
}
void PQconninfoFree(PQconninfoOption* options) {
  TW_PQ_CALL(PQconninfoFree, void(), options);
}
void PQfreemem(void* ptr) {
  TW_PQ_CALL(PQfreemem, void(), ptr);
}
void PQfinish(PGconn* conn) {
  TW_PQ_CALL(PQfinish, void(), conn);
}
void PQreset(PGconn* conn) {
  TW_PQ_CALL(PQreset, void(), conn);
}
ConnStatusType PQstatus(const PGconn* conn) {
  TW_PQ_CALL(PQstatus, CONNECTION_BAD, conn);
}
PGTransactionStatusType PQtransactionStatus(const PGconn* conn) {
  TW_PQ_CALL(PQtransactionStatus, PQTRANS_UNKNOWN, conn);
}
const char* PQparameterStatus(const PGconn* conn, const char* paramName) {
  TW_PQ_CALL(PQparameterStatus, nullptr, conn, paramName);
}
char* PQerrorMessage(const PGconn* conn) {
  static char none[] = "libpq cannot be loaded";
  TW_PQ_CALL(PQerrorMessage, none, conn);
}
int PQsocket(const PGconn* conn) {
  TW_PQ_CALL(PQsocket, -1, conn);
}
PQnoticeProcessor PQsetNoticeProcessor(PGconn* conn, PQnoticeProcessor proc, void* arg) {
  TW_PQ_CALL(PQsetNoticeProcessor, nullptr, conn, proc, arg);
}
PGpipelineStatus PQpipelineStatus(const PGconn* conn) {
  TW_PQ_CALL(PQpipelineStatus, PQ_PIPELINE_OFF, conn);
}
int PQenterPipelineMode(PGconn* conn) {
  TW_PQ_CALL(PQenterPipelineMode, 0, conn);
}
int PQexitPipelineMode(PGconn* conn) {
  TW_PQ_CALL(PQexitPipelineMode, 0, conn);
}
int PQpipelineSync(PGconn* conn) {
  TW_PQ_CALL(PQpipelineSync, 0, conn);
}
int PQflush(PGconn* conn) {
  TW_PQ_CALL(PQflush, -1, conn);
}
int PQconsumeInput(PGconn* conn) {
  TW_PQ_CALL(PQconsumeInput, 0, conn);
}
int PQisBusy(PGconn* conn) {
  TW_PQ_CALL(PQisBusy, 0, conn);
}
PGnotify* PQnotifies(PGconn* conn) {
  TW_PQ_CALL(PQnotifies, nullptr, conn);
}
PGresult* PQexec(PGconn* conn, const char* query) {
  TW_PQ_CALL(PQexec, nullptr, conn, query);
}
PGresult* PQexecParams(PGconn* conn, const char* command, int nParams, const Oid* paramTypes,
                       const char* const* paramValues, const int* paramLengths,
                       const int* paramFormats, int resultFormat) {
  TW_PQ_CALL(PQexecParams, nullptr, conn, command, nParams, paramTypes, paramValues, paramLengths,
             paramFormats, resultFormat);
}
PGresult* PQprepare(PGconn* conn, const char* stmtName, const char* query, int nParams,
                    const Oid* paramTypes) {
  TW_PQ_CALL(PQprepare, nullptr, conn, stmtName, query, nParams, paramTypes);
}
PGresult* PQexecPrepared(PGconn* conn, const char* stmtName, int nParams,
                         const char* const* paramValues, const int* paramLengths,
                         const int* paramFormats, int resultFormat) {
  TW_PQ_CALL(PQexecPrepared, nullptr, conn, stmtName, nParams, paramValues, paramLengths,
             paramFormats, resultFormat);
}
PGresult* PQdescribePrepared(PGconn* conn, const char* stmt) {
  TW_PQ_CALL(PQdescribePrepared, nullptr, conn, stmt);
}
int PQsendQueryParams(PGconn* conn, const char* command, int nParams, const Oid* paramTypes,
                      const char* const* paramValues, const int* paramLengths,
                      const int* paramFormats, int resultFormat) {
  TW_PQ_CALL(PQsendQueryParams, 0, conn, command, nParams, paramTypes, paramValues, paramLengths,
             paramFormats, resultFormat);
}
int PQsendPrepare(PGconn* conn, const char* stmtName, const char* query, int nParams,
                  const Oid* paramTypes) {
  TW_PQ_CALL(PQsendPrepare, 0, conn, stmtName, query, nParams, paramTypes);
}
int PQsendQueryPrepared(PGconn* conn, const char* stmtName, int nParams,
                        const char* const* paramValues, const int* paramLengths,
                        const int* paramFormats, int resultFormat) {
  TW_PQ_CALL(PQsendQueryPrepared, 0, conn, stmtName, nParams, paramValues, paramLengths,
             paramFormats, resultFormat);
}
PGresult* PQgetResult(PGconn* conn) {
  TW_PQ_CALL(PQgetResult, nullptr, conn);
}
void PQclear(PGresult* res) {
  TW_PQ_CALL(PQclear, void(), res);
}
ExecStatusType PQresultStatus(const PGresult* res) {
  TW_PQ_CALL(PQresultStatus, PGRES_FATAL_ERROR, res);
}
char* PQresultErrorMessage(const PGresult* res) {
  static char none[] = "libpq cannot be loaded";
  TW_PQ_CALL(PQresultErrorMessage, none, res);
}
char* PQresultErrorField(const PGresult* res, int fieldcode) {
  TW_PQ_CALL(PQresultErrorField, nullptr, res, fieldcode);
}
int PQntuples(const PGresult* res) {
  TW_PQ_CALL(PQntuples, 0, res);
}
int PQnparams(const PGresult* res) {
  TW_PQ_CALL(PQnparams, 0, res);
}
Oid PQparamtype(const PGresult* res, int param_num) {
  TW_PQ_CALL(PQparamtype, 0, res, param_num);
}
Oid PQftype(const PGresult* res, int field_num) {
  TW_PQ_CALL(PQftype, 0, res, field_num);
}
char* PQgetvalue(const PGresult* res, int tup_num, int field_num) {
  TW_PQ_CALL(PQgetvalue, nullptr, res, tup_num, field_num);
}
int PQgetlength(const PGresult* res, int tup_num, int field_num) {
  TW_PQ_CALL(PQgetlength, 0, res, tup_num, field_num);
}
int PQgetisnull(const PGresult* res, int tup_num, int field_num) {
  TW_PQ_CALL(PQgetisnull, 1, res, tup_num, field_num);
}
char* PQcmdStatus(PGresult* res) {
  TW_PQ_CALL(PQcmdStatus, nullptr, res);
}
char* PQcmdTuples(PGresult* res) {
  TW_PQ_CALL(PQcmdTuples, nullptr, res);
}

}  // extern "C"
