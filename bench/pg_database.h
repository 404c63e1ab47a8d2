// A database of its own in the private PostgreSQL cluster of scripts/pg.sh (TW_PG_PORT), for
// the benchmarks that hold document databases there: made when the object is, dropped with
// it. Without a cluster conninfo() is empty.
#ifndef TW_BENCH_PG_DATABASE_H_
#define TW_BENCH_PG_DATABASE_H_

#include <libpq-fe.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace bench_pg {

class Database {
 public:
  explicit Database(const std::string& prefix) {
    const char* port = std::getenv("TW_PG_PORT");
    if (port == nullptr || *port == '\0') return;
    port_ = port;
    const std::string name = prefix + "_" + std::to_string(getpid());
    if (Exec("CREATE DATABASE " + name)) name_ = name;
  }
  ~Database() {
    if (!name_.empty()) Exec("DROP DATABASE " + name_ + " WITH (FORCE)");
  }
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // The libpq connection string of the database ("" when there is none).
  std::string conninfo() const {
    return name_.empty() ? std::string()
                         : "host=127.0.0.1 port=" + port_ + " user=tw dbname=" + name_;
  }

 private:
  // Runs one statement on the cluster's maintenance database.
  bool Exec(const std::string& sql) const {
    PGconn* c = PQconnectdb(("host=127.0.0.1 port=" + port_ + " user=tw dbname=postgres").c_str());
    bool ok = PQstatus(c) == CONNECTION_OK;
    if (ok) {
      PGresult* r = PQexec(c, sql.c_str());
      ok = PQresultStatus(r) == PGRES_COMMAND_OK;
      PQclear(r);
    }
    PQfinish(c);
    return ok;
  }

  std::string port_;
  std::string name_;
};

}  // namespace bench_pg

#endif  // TW_BENCH_PG_DATABASE_H_
