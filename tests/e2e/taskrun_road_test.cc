// Activities run by name by taskrun, as a script or an operator runs one, under a server that
// serves their control store, over SQLite and PostgreSQL through sqlcli.twx and xandb.twx: a
// final commit that fails (PostgreSQL checks a deferred foreign key only when the work
// commits, which the connectors do as they disconnect) must fail the run, say why, and not be
// logged finished; a SQLite table read into a text file whatever its link's Metadata says.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "csmgr_wire.h"
#include "odbc_road.h"

namespace {

using road::Has;

class TaskrunRoad : public odbc_road::OdbcRoad {
 protected:
  TaskrunRoad() : OdbcRoad("sqlcli.twx") {}

  // sqlite3 on the SQLite data source's file.
  void Lite(const std::string& sql) {
    twtest::ProcessResult made = twtest::RunProgram({"/usr/bin/sqlite3", path("road.db"), sql},
                                                    twtest::InheritedEnv(), inst_.path());
    ASSERT_EQ(made.exitCode, 0) << sql << ": " << made.err;
  }

  // Starts the server, which starts the control store, and waits until that serves.
  void Serve() {
    server_.emplace(inst_.path(), env_);
    ASSERT_TRUE(road::Within(road::kWaitMs, [] { return TWIPCExists(tw::csmgr::kPipeName, 0); }))
        << server_->Out() << server_->Err();
  }
  void TearDown() override {
    if (server_) {
      server_->Type("D\n");
      EXPECT_EQ(server_->Wait(road::kWaitMs), 0) << server_->Err();
      server_.reset();
    }
    OdbcRoad::TearDown();
  }

  // A new document of form in the Administrator database with the items given; its note.
  std::string Add(const std::string& form, const std::vector<std::string>& items) {
    std::vector<std::string> args = {"new", "qtwadm.odx", form};
    args.insert(args.end(), items.begin(), items.end());
    const std::string out = Adm(args);
    return out.substr(0, out.find('\n'));
  }

  // taskrun running the activity named name; its exit code.
  int RunByName(const std::string& name) {
    std::vector<std::string> env = twtest::InheritedEnv();
    env.insert(env.end(), env_.begin(), env_.end());
    env.push_back("PLEXA_ROOT=" + path("ordex"));
    // The ODBC driver manager that a connector unloads keeps the configuration it parsed, and
    // the leak checker can no longer name it: in a sanitizer build a leak report would be
    // the exit code these runs check.
    for (std::string& var : env)
      if (var.rfind("ASAN_OPTIONS=", 0) == 0) var += ":detect_leaks=0";
    twtest::ProcessResult r = twtest::RunProgram({path("taskrun"), name}, env, inst_.path());
    EXPECT_FALSE(r.overran) << name;
    return r.exitCode;
  }

  std::optional<road::Twmain> server_;
};

TEST_F(TaskrunRoad, AFailedFinalCommitFailsTheRun) {
  MakeDatabases();
  ASSERT_EQ(Psql(database_,
                 "CREATE TABLE parent (id integer PRIMARY KEY);"
                 "CREATE TABLE child (id integer PRIMARY KEY, parent integer REFERENCES "
                 "parent (id) DEFERRABLE INITIALLY DEFERRED);"
                 "CREATE TABLE stamped (id integer PRIMARY KEY, parent integer REFERENCES "
                 "parent (id) DEFERRABLE INITIALLY DEFERRED, stamp timestamp)")
                .exitCode,
            0);
  // Rows whose parents PostgreSQL does not hold; SQLite keeps no such rule.
  ASSERT_NO_FATAL_FAILURE(
      Lite("CREATE TABLE child (id INTEGER PRIMARY KEY, parent INTEGER);"
           "INSERT INTO child VALUES (1, 99), (2, 98);"
           "CREATE TABLE stamped (id INTEGER PRIMARY KEY, parent INTEGER, stamp TIMESTAMP);"
           "INSERT INTO stamped VALUES (1, 99, '2026-01-02 03:04:05');"));
  for (const char* plugin : {"sqlcli.twx", "xandb.twx", "command.twx", "replica.twx"})
    ASSERT_NO_FATAL_FAILURE(InstallPlugin(plugin));
  AddLink("Link\\Sqlcli", "Lite", {"Server=lite"});
  AddLink("Link\\Sqlcli", "Pg", {"Server=pg", "Userid=tw"});
  for (auto [name, dsn, user] : {std::tuple{"XLite", "lite", ""}, std::tuple{"XPg", "pg", "tw"}})
    AddLink("Link\\Xandb", name,
            {std::string("Database=") + dsn, std::string("Userid=") + user,
             "PropNameList:textlist=Database,Userid", "PropTokenList:numberlist=65538,65539"});

  // Never due: each runs only when taskrun is asked for it by name.
  const std::string never = "StartDate:time=2999-01-01 00:00:00";
  struct Case {
    const char* name;
    const char* form;
    std::vector<std::string> items;
  };
  const Case cases[] = {
      {"SqlcliTransfer",
       "Activity\\Direct Transfer",
       {"SrcLink=Lite", "DestLink=Pg", "Statement=SELECT id, parent FROM child",
        "DestMetadata=child"}},
      {"XandbTransfer",
       "Activity\\Direct Transfer",
       {"SrcLink=XLite", "DestLink=XPg", "Statement=SELECT id, parent FROM child",
        "DestMetadata=child"}},
      {"CommandOnLink",
       "Activity\\Command",
       {"SrcLink=Pg", "Statement=INSERT INTO child VALUES (7, 97)"}},
      // Link A wins: its two records go into link B.
      {"Replication",
       "Activity\\Replication",
       {"SrcLink=Lite", "DestLink=Pg", "LinkAMetadata=child", "LinkBMetadata=child",
        "LinkAOrderList:textlist=id", "LinkBOrderList:textlist=id", "WinConflict:number=1"}},
      // Stamped: link A's newer record goes into link B, and the stamps must not move on.
      {"StampedReplication",
       "Activity\\Replication",
       {"SrcLink=Lite", "DestLink=Pg", "LinkAMetadata=stamped", "LinkBMetadata=stamped",
        "LinkAOrderList:textlist=id", "LinkBOrderList:textlist=id", "LinkAStampField=stamp",
        "LinkBStampField=stamp"}},
  };
  std::vector<std::string> documents;
  for (const Case& c : cases) {
    std::vector<std::string> items = {std::string("Name=") + c.name, never};
    items.insert(items.end(), c.items.begin(), c.items.end());
    documents.push_back(Add(c.form, items));
  }

  ASSERT_NO_FATAL_FAILURE(Serve());
  size_t runs = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(RunByName(c.name), 1);
    ++runs;
    // The Log database holds every run so far: each adds its own refusal.
    const std::string log = ActivityLog();
    EXPECT_EQ(road::Count(log, "violates foreign key constraint"), runs) << log;
    EXPECT_EQ(road::Count(log, "(Function -Disconnect-)"), runs) << log;
    EXPECT_FALSE(Has(log, "Activity finished")) << log;
    EXPECT_EQ(
        Psql(database_, "SELECT (SELECT count(*) FROM child) + (SELECT count(*) FROM stamped)").out,
        "0\n");
  }
  // The next run of the stamped replication selects the same records again.
  const std::string stamped = Adm({"show", "qtwadm.odx", documents.back()});
  EXPECT_FALSE(Has(stamped, "item\tLinkABaseStamp")) << stamped;
  EXPECT_FALSE(Has(stamped, "item\tLinkBBaseStamp")) << stamped;
}

// A SQLite table read into a text file through a sqlcli link with its Metadata set: the
// Statement is what is read, whatever the Metadata names (the table, a SELECT text or
// nothing), with NULLs, long and multi-byte text and an empty table; a transfer that lacks
// its Statement fails saying so.
TEST_F(TaskrunRoad, ASqliteTableGoesToATextFileWhateverTheMetadataSays) {
  MakeDatabases();
  for (const char* plugin : {"sqlcli.twx", "flatrec.twx"})
    ASSERT_NO_FATAL_FAILURE(InstallPlugin(plugin));
  const std::string long_text(5000, 'x');
  ASSERT_NO_FATAL_FAILURE(
      Lite("CREATE TABLE people (id INTEGER, name VARCHAR(40), note TEXT);"
           "INSERT INTO people VALUES (1, 'Zo\xC3\xAB Br\xC3\xB6nt\xC3\xAB', NULL), (2, NULL, '" +
           long_text +
           "'), (NULL, 'Nil', 'n');"
           "CREATE TABLE nobody (id INTEGER, name VARCHAR(40), note TEXT);"));
  twtest::WriteFile(inst_ / "people.zid",
                    "ID TYPE NUMBER DELIM ,\nNAME TYPE TEXT DELIM ,\nNOTE TYPE TEXT\n");
  const std::string everyone = "1,Zo\xC3\xAB Br\xC3\xB6nt\xC3\xAB,\n2,," + long_text + "\n,Nil,n";
  struct Case {
    const char* name;
    const char* metadata;   // the source link's; null: none
    const char* statement;  // null: none
    int exitCode;
    std::string out;  // what the file holds afterwards
  };
  const Case cases[] = {
      {"ByTable", "people", "SELECT * FROM people ORDER BY id IS NULL, id", 0, everyone},
      {"BySelect", "SELECT * FROM people", "SELECT * FROM people ORDER BY id IS NULL, id", 0,
       everyone},
      {"WithoutMetadata", nullptr, "SELECT * FROM people ORDER BY id IS NULL, id", 0, everyone},
      {"EmptyTable", "nobody", "SELECT * FROM nobody", 0, ""},
      {"WithoutStatement", "people", nullptr, 1, ""},
  };
  for (const Case& c : cases) {
    const std::string file = path(std::string(c.name) + ".txt");
    std::vector<std::string> link = {"Server=lite"};
    if (c.metadata != nullptr) link.push_back(std::string("Metadata=") + c.metadata);
    AddLink("Link\\Sqlcli", std::string(c.name) + "In", link);
    AddLink(
        "Link\\Flatrec", std::string(c.name) + "Out",
        {"Database=" + file, "ZID=@" + path("people.zid"), "Linktype=DESTINATION",
         "PropNameList:textlist=Database,ZID,Linktype", "PropTokenList:numberlist=65538,15,16"});
    std::vector<std::string> items = {
        std::string("Name=") + c.name, "StartDate:time=2999-01-01 00:00:00",
        std::string("SrcLink=") + c.name + "In", std::string("DestLink=") + c.name + "Out",
        "Overwrite:number=1"};
    if (c.statement != nullptr) items.push_back(std::string("Statement=") + c.statement);
    Add("Activity\\Direct Transfer", items);
  }
  ASSERT_NO_FATAL_FAILURE(Serve());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(RunByName(c.name), c.exitCode);
    EXPECT_EQ(twtest::ReadFile(path(std::string(c.name) + ".txt")), c.out);
  }
  const std::string log = ActivityLog();
  // The one failure is told as what it is; no connector's buffer is mentioned.
  EXPECT_EQ(road::Count(log, "Error: "), 1u) << log;
  EXPECT_TRUE(Has(log, "No value supplied for required property 'Statement'")) << log;
}

}  // namespace
