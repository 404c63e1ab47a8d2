// Run (BUILD a Release build configured with -DTW_BENCH=ON):
//   cmake --build BUILD --target sqlcli_taskrun_bench && BUILD/bench/sqlcli_taskrun_bench
// SQLCLI_BENCH_RECORDS sets the record count (200,000); SQLCLI_BENCH_COMMIT sqlcli's
// CommitFrequency (1000); SQLCLI_BENCH_KEEP keeps the installation with the SQLite files, and
// the PostgreSQL database when the cluster is not a private one.
// SQLCLI_BENCH_DSN_EXTRA gives driver attributes of the data source ("Key=Value;Key=Value",
// e.g. Protocol=7.4-0: the PostgreSQL driver then takes no savepoint before each statement).
// TW_PG_PORT names a PostgreSQL cluster to use (user tw, trust); without it a private one is
// started with the repository's scripts/pg.sh and stopped at the end.
//
// A delimited text file loaded into a database table through sqlcli.twx by taskrun, beside the
// database's own bulk loader (odbc_load_bench.h); the transfer creates the table. The goals:
// at most three times the time of `sqlite3 .import` (ratio 0.33), and twice as fast as one
// INSERT a row through `psql -f` (ratio 2), with the ratio to `psql \copy` beside it.
#include "odbc_load_bench.h"

namespace {

std::vector<std::string> LinkItems(const std::string& userid, size_t commitFrequency) {
  return odbc_load::DataSourceLinkItems("Server", TWTOKEN_SERVER, userid, commitFrequency);
}

const odbc_load::Connector kSqlcli = {"sqlcli.twx",
                                      "SQLCLI_BENCH",
                                      "SqlcliBench",
                                      "SQLCLIBENCH",
                                      "SQLCLI_BENCH_KEEP",
                                      "Link\\Sqlcli",
                                      &LinkItems,
                                      nullptr,
                                      1000,
                                      "sqlcli",
                                      "0.33",
                                      "2"};

void BM_SqlcliTaskrunToSqlite(benchmark::State& state) {
  odbc_load::gConnector = &kSqlcli;
  odbc_load::ToSqlite(state);
}
BENCHMARK(BM_SqlcliTaskrunToSqlite)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SqlcliTaskrunToPostgresql(benchmark::State& state) {
  odbc_load::gConnector = &kSqlcli;
  odbc_load::ToPostgresql(state);
}
BENCHMARK(BM_SqlcliTaskrunToPostgresql)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
