// Run (BUILD a Release build configured with -DTW_BENCH=ON):
//   cmake --build BUILD --target xandb_taskrun_bench && BUILD/bench/xandb_taskrun_bench
// XANDB_BENCH_RECORDS sets the record count (200,000); XANDB_BENCH_COMMIT the connector's
// CommitFrequency (10,000: a commit every ten blocks of 1000 records; at 1000, a commit per
// block, the SQLite run waits mostly on the disk's syncs); XANDB_BENCH_KEEP keeps the installation
// with the SQLite files, and the PostgreSQL database when the cluster is not a private one;
// XANDB_BENCH_DSN_EXTRA gives driver attributes of the data source. TW_PG_PORT names a PostgreSQL
// cluster to use (user tw, trust); without it a private one is started with scripts/pg.sh and
// stopped at the end.
//
// A delimited text file loaded into a database table through xandb.twx and the Xandb client
// library by taskrun, beside the database's own bulk loader (odbc_load_bench.h). The table is
// made before the run with bounded text columns, so that the connector inserts each block of
// records with one execution through parameter arrays.
#include "odbc_load_bench.h"

namespace {

std::vector<std::string> LinkItems(const std::string& userid, size_t commitFrequency) {
  return odbc_load::DataSourceLinkItems("Database", TWTOKEN_DATABASE, userid, commitFrequency);
}

const odbc_load::Connector kXandb = {
    "xandb.twx",
    "XANDB_BENCH",
    "XandbBench",
    "XANDBBENCH",
    "XANDB_BENCH_KEEP",
    "Link\\Xandb",
    &LinkItems,
    "(ID DOUBLE PRECISION, NAME VARCHAR(40), PRICE DOUBLE PRECISION, DAY TIMESTAMP, "
    "CITY VARCHAR(40), NOTE VARCHAR(40))",
    10000};

void BM_XandbTaskrunToSqlite(benchmark::State& state) {
  odbc_load::gConnector = &kXandb;
  odbc_load::ToSqlite(state);
}
BENCHMARK(BM_XandbTaskrunToSqlite)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_XandbTaskrunToPostgresql(benchmark::State& state) {
  odbc_load::gConnector = &kXandb;
  odbc_load::ToPostgresql(state);
}
BENCHMARK(BM_XandbTaskrunToPostgresql)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
