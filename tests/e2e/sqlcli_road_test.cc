// The ODBC road with real processes: records go from a text file into a SQLite table, from
// there into a PostgreSQL table and back out to a text file, each leg a direct transfer that
// twmain schedules and taskrun runs through sqlcli.twx, with the destination tables created
// because they are missing. What comes out must be what went in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "odbc_road.h"

namespace {

class SqlcliRoad : public odbc_road::OdbcRoad {
 protected:
  SqlcliRoad() : OdbcRoad("sqlcli.twx") {}

  void Link(const std::string& name, const std::string& library, std::vector<std::string> items) {
    AddLink(library == "sqlcli" ? "Link\\Sqlcli" : "Link\\Flatrec", name, std::move(items));
  }
};

TEST_F(SqlcliRoad, TextGoesThroughSqliteAndPostgresqlAndComesBackTheSame) {
  MakeDatabases();
  ASSERT_NO_FATAL_FAILURE(InstallPlugin("flatrec.twx"));
  ASSERT_NO_FATAL_FAILURE(InstallPlugin("sqlcli.twx"));
  PeopleLinks();
  Link("Lite", "sqlcli", {"Server=lite"});
  Link("Pg", "sqlcli", {"Server=pg", "Userid=tw"});

  ExpectPeopleBack(RunPeople());
}

// NaN and infinities read from text never reach a PostgreSQL float column, which would take
// them: each such record is refused as out of range.
TEST_F(SqlcliRoad, NumbersBeyondEveryRangeAreRefusedOnTheirWayToPostgresql) {
  MakeDatabases();
  ASSERT_NO_FATAL_FAILURE(InstallPlugin("flatrec.twx"));
  ASSERT_NO_FATAL_FAILURE(InstallPlugin("sqlcli.twx"));
  BeyondRangeLinks();
  Link("Pg", "sqlcli", {"Server=pg", "Userid=tw"});
  ExpectBeyondRangeRefused("Pg", {"DestMetadata=kv", "Create:number=1"}, env_);
  EXPECT_EQ(Psql(database_, "SELECT * FROM kv ORDER BY 1").out, "1|2.5\n");
}

// Values at the ends of their ranges go from a text file into a table the transfer creates
// in PostgreSQL and back out whole: the currency column holds the whole currency range.
TEST_F(SqlcliRoad, ValuesAtTheEndsOfTheirRangesGoThroughPostgresqlWhole) {
  MakeDatabases();
  ASSERT_NO_FATAL_FAILURE(InstallPlugin("flatrec.twx"));
  ASSERT_NO_FATAL_FAILURE(InstallPlugin("sqlcli.twx"));
  const std::string records =
      "1,922337203685477.5807,12345678901234567890123456789012345678\n"
      "2,-922337203685477.5808,-99999999999999999999999999999999999999\n"
      "3,100000000000.0001,0";
  twtest::WriteFile(inst_ / "ends.txt", records);
  twtest::WriteFile(inst_ / "ends.zid",
                    "K TYPE NUMBER DELIM ,\nM TYPE CURRENCY.4 DELIM ,\nN TYPE NUMERIC\n");
  TextLink("EndsIn", "ends.txt", "ends.zid", "SOURCE");
  TextLink("EndsOut", "back.txt", "ends.zid", "DESTINATION");
  Link("Pg", "sqlcli", {"Server=pg", "Userid=tw"});
  const std::string console =
      RunLegs({{"EndsToPg", "EndsIn", "Pg", "DestMetadata=ends", "Create:number=1"},
               {"PgToText", "Pg", "EndsOut", "Statement=SELECT * FROM ends ORDER BY 1",
                "Overwrite:number=1"}},
              env_);
  for (const char* name : {"EndsToPg", "PgToText"})
    EXPECT_TRUE(road::Has(console, "Activity '" + std::string(name) + "' completed successfully."))
        << console << ActivityLog();
  EXPECT_EQ(Psql(database_,
                 "SELECT format_type(atttypid, atttypmod) FROM pg_attribute WHERE attrelid = "
                 "'ends'::regclass AND lower(attname) = 'm'")
                .out,
            "numeric(19,4)\n");
  EXPECT_EQ(Psql(database_, "SELECT * FROM ends ORDER BY 1").out,
            "1|922337203685477.5807|12345678901234567890123456789012345678\n"
            "2|-922337203685477.5808|-99999999999999999999999999999999999999\n"
            "3|100000000000.0001|0\n");
  EXPECT_EQ(twtest::ReadFile(path("back.txt")), records);
}

}  // namespace

namespace {

// Multi-byte text at the ends of its columns and long values, each way between SQLite and
// PostgreSQL: what fits comes back byte for byte, what does not is cut on a character under
// TruncData and refused (by the data source) without it, and a long value or a bad row costs
// no good rows.
TEST_F(SqlcliRoad, TextAtItsColumnsSizesAndLongValuesGoWhole) {
  MakeDatabases();
  ASSERT_NO_FATAL_FAILURE(InstallPlugin("sqlcli.twx"));
  ASSERT_NO_FATAL_FAILURE(MakeTextTables());
  Link("Lite", "sqlcli", {"Server=lite"});
  Link("Pg", "sqlcli", {"Server=pg", "Userid=tw"});
  ExpectText(RunText(), "value too long for type character varying(5)");
}

}  // namespace

// Change propagation and replication under the server: a poll sees rows in a SQLite change
// table and starts the relay, which applies them to PostgreSQL (the table created there) and
// keeps the last commit in its document; then a replica levels a SQLite table with the
// PostgreSQL one, PostgreSQL winning.
TEST_F(SqlcliRoad, APollStartsTheRelayAndAReplicaLevelsSqliteAndPostgresql) {
  MakeDatabases();
  for (const char* plugin : {"sqlcli.twx", "relay.twx", "replica.twx", "poll.twx"})
    ASSERT_NO_FATAL_FAILURE(InstallPlugin(plugin));
  const std::string seq = "0A0B0C0D0E0F000000";
  // One change row: its commit (and intent) number, operation and after-image.
  auto row = [&](const char* n, const char* op, const char* image) {
    return "(X'" + seq + n + "', X'" + seq + n + "', '" + op + "', NULL, " + image + ")";
  };
  const std::string sql =
      "CREATE TABLE chg (XDBSNAP_COMMITSEQ BLOB, XDBSNAP_INTENTSEQ BLOB, XDBSNAP_OPERATION "
      "CHAR(1), XDBSNAP_LOGMARKER TIMESTAMP, k INTEGER, v VARCHAR(20));"
      "INSERT INTO chg VALUES " +
      row("01", "I", "1, 'Ada'") + ", " + row("02", "I", "2, 'Bram'") + ", " +
      row("03", "U", "1, 'Ada Quill'") +
      ";CREATE TABLE t (k INTEGER PRIMARY KEY, v VARCHAR(20));"
      "INSERT INTO t VALUES (1, 'stale'), (3, 'gone');";
  twtest::ProcessResult made = twtest::RunProgram({"/usr/bin/sqlite3", path("road.db"), sql},
                                                  twtest::InheritedEnv(), inst_.path());
  ASSERT_EQ(made.exitCode, 0) << made.err;
  Link("Lite", "sqlcli", {"Server=lite"});
  Link("Pg", "sqlcli", {"Server=pg", "Userid=tw"});

  // The relay's own start lies far ahead: only the poll starts it.
  std::string relay =
      Adm({"new", "qtwadm.odx", "Activity\\Change Propagation", "Name=Changes", "SrcLink=Lite",
           "DestLink=Pg", "StartDate:time=2999-01-01 00:00:00", "SrcMetadata=chg", "DestMetadata=t",
           "LastDiffSeq=00000000000000000000", "KeyFieldList:textlist=k", "Create:number=1"});
  relay = relay.substr(0, relay.find('\n'));
  Adm({"new", "qtwadm.odx", "Activity\\Poll", "Name=Watch", "SrcLink=Lite", "Frequency:number=1",
       "EventCount:number=1", "ExecuteList:textlist=Changes",
       "Statement=SELECT XDBSNAP_COMMITSEQ FROM chg", "OneTime:number=1"});
  road::Twmain server(inst_.path(), env_);
  ASSERT_TRUE(road::Within(road::kWaitMs, [&] { return Finished() >= 2; }))
      << server.Out() << server.Err() << ActivityLog();
  Adm({"new", "qtwadm.odx", "Activity\\Replication", "Name=Level", "SrcLink=Lite", "DestLink=Pg",
       "OneTime:number=1", "LinkAMetadata=t", "LinkBMetadata=t", "LinkAOrderList:textlist=k",
       "LinkBOrderList:textlist=k", "WinConflict:number=2"});
  ASSERT_TRUE(road::Within(road::kWaitMs, [&] { return Finished() >= 3; }))
      << server.Out() << server.Err() << ActivityLog();
  server.Type("D\n");
  EXPECT_EQ(server.Wait(road::kWaitMs), 0) << server.Err();

  const std::string out = server.Out();
  for (const char* name : {"Watch", "Changes", "Level"})
    EXPECT_TRUE(road::Has(out, "Activity '" + std::string(name) + "' completed successfully."))
        << out;
  EXPECT_EQ(Psql(database_, "SELECT k, v FROM t ORDER BY k").out, "1|Ada Quill\n2|Bram\n");
  twtest::ProcessResult lite =
      twtest::RunProgram({"/usr/bin/sqlite3", path("road.db"), "SELECT k, v FROM t ORDER BY k"},
                         twtest::InheritedEnv(), inst_.path());
  EXPECT_EQ(lite.out, "1|Ada Quill\n2|Bram\n");
  // The relay kept the third row's commit, in upper-case digits, for its next run.
  EXPECT_TRUE(road::Has(Adm({"show", "qtwadm.odx", relay}), seq + "03"))
      << Adm({"show", "qtwadm.odx", relay});
}

// A replica that taskrun runs twice under the server, between SQLite columns that keep what
// they are given and PostgreSQL columns that keep less (a decimal of two places, a stamp of
// whole seconds, a padded text): the first run writes the record that differs beyond what
// PostgreSQL keeps, the second writes and logs nothing.
TEST_F(SqlcliRoad, AReplicaRunTwiceWritesCoarserColumnsOnceOnly) {
  MakeDatabases();
  for (const char* plugin : {"sqlcli.twx", "replica.twx"})
    ASSERT_NO_FATAL_FAILURE(InstallPlugin(plugin));
  twtest::ProcessResult made = twtest::RunProgram(
      {"/usr/bin/sqlite3", path("road.db"),
       "CREATE TABLE t (k INTEGER PRIMARY KEY, n DOUBLE PRECISION, ts TIMESTAMP, c VARCHAR(10));"
       "INSERT INTO t VALUES (1, 1.2345, '2024-05-06 07:08:09.75', 'ab'), (2, 7.009, "
       "'2024-05-06 07:08:09.25', 'cd');"},
      twtest::InheritedEnv(), inst_.path());
  ASSERT_EQ(made.exitCode, 0) << made.err;
  ASSERT_EQ(Psql(database_,
                 "CREATE TABLE t (k INTEGER PRIMARY KEY, n NUMERIC(12,2), ts TIMESTAMP(0), c "
                 "CHAR(5)); INSERT INTO t VALUES (1, 9.99, '2024-05-06 07:08:01', 'ab'), (2, "
                 "7.00, '2024-05-06 07:08:09', 'cd')")
                .exitCode,
            0);
  Link("Lite", "sqlcli", {"Server=lite"});
  Link("Pg", "sqlcli", {"Server=pg", "Userid=tw"});
  auto level = [&](const std::string& name) {
    Adm({"new", "qtwadm.odx", "Activity\\Replication", "Name=" + name, "SrcLink=Lite",
         "DestLink=Pg", "OneTime:number=1", "LinkAMetadata=t", "LinkBMetadata=t",
         "LinkAOrderList:textlist=k", "LinkBOrderList:textlist=k", "WinConflict:number=1",
         "LogConflict:number=1"});
  };
  const std::string query = "SELECT k, n, ts, c FROM t ORDER BY k";
  road::Twmain server(inst_.path(), env_);
  level("Level");
  ASSERT_TRUE(road::Within(road::kWaitMs, [&] { return Finished() >= 1; }))
      << server.Out() << server.Err() << ActivityLog();
  const std::string levelled = Psql(database_, query).out;
  EXPECT_EQ(levelled, "1|1.23|2024-05-06 07:08:10|ab   \n2|7.00|2024-05-06 07:08:09|cd   \n");
  EXPECT_EQ(road::Count(ActivityLog(), "Replication Conflict"), 1u) << ActivityLog();
  level("Again");
  ASSERT_TRUE(road::Within(road::kWaitMs, [&] { return Finished() >= 2; }))
      << server.Out() << server.Err() << ActivityLog();
  server.Type("D\n");
  EXPECT_EQ(server.Wait(road::kWaitMs), 0) << server.Err();
  EXPECT_TRUE(road::Has(server.Out(), "Activity 'Again' completed successfully.")) << server.Out();
  // The second run logged no conflict and left the table as the first one did.
  EXPECT_EQ(road::Count(ActivityLog(), "Replication Conflict"), 1u) << ActivityLog();
  EXPECT_EQ(Psql(database_, query).out, levelled);
}
