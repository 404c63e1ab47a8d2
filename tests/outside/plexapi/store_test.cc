// Servers and whole databases on both stores: the server map and what it refuses, databases
// created, copied (across stores too), renamed, listed and removed, an activity taken by one
// of several processes at a time, and a connection lost under an open database.
#include "store.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "database.h"
#include "paths.h"
#include "plat_test_util.h"
#include "plexa_test_util.h"
#include "plexapi.h"
#include "session.h"
#include "store_fixture.h"
#include "view_fixture.h"

namespace {

using plexatest::Child;
using storetest::Engine;
using storetest::TestServer;
using viewtest::Put;
using viewtest::Text;
using viewtest::TextList;

std::string ErrorText() {
  char text[GV_ERROR_TEXT_SIZE] = {};
  GVErrorFetch(nullptr, nullptr, text);
  return text;
}

// The bytes of every item of a document, by name, as stored.
std::map<std::string, std::string> ItemBytes(GVDB db, GVNOTEID id,
                                             const std::vector<std::string>& names) {
  std::map<std::string, std::string> out;
  GVDOC doc = 0;
  EXPECT_EQ(GVDocumentOpen(db, id, GVOPEN_READONLY, &doc), 0u);
  for (const std::string& n : names) {
    uint32_t kind = 0, length = 0;
    const void* value = nullptr;
    EXPECT_EQ(GVItemGetPointer(doc, n.c_str(), &kind, &value, &length), 0u) << n;
    out[n] = std::to_string(kind) + ":" + std::string(static_cast<const char*>(value), length);
  }
  EXPECT_EQ(GVDocumentClose(doc, 0), 0u);
  return out;
}

std::string Field(GVDB db, GVNOTEID id, const char* name) {
  GVDOC doc = 0;
  EXPECT_EQ(GVDocumentOpen(db, id, GVOPEN_READONLY, &doc), 0u);
  char buf[256] = {};
  uint32_t kind = GVTYPE_TEXT;
  uint32_t st = GVItemFetch(doc, name, &kind, 0, sizeof buf, buf);
  EXPECT_EQ(GVDocumentClose(doc, 0), 0u);
  return st == 0 ? buf : "<" + std::to_string(st) + ">";
}

std::vector<std::string> Listed(const char* server) {
  std::vector<std::string> names;
  char name[GV_PATH_SIZE] = {}, title[GV_TITLE_SIZE] = {};
  for (uint32_t at = GV_LIST_FIRST; GVDatabaseList(server, nullptr, 0, 0, at, 0, title, name) == 0;
       at = GV_LIST_NEXT)
    names.push_back(std::string(name) + "=" + title);
  return names;
}

// ---------------------------------------------------------------- the server map ---------

class ServerMapTest : public plexatest::SessionTest {
 protected:
  void Map(const std::string& text) { std::ofstream(root() + "servers.map") << text; }
};

TEST_F(ServerMapTest, MalformedLinesAreRefusedNamingTheLine) {
  const struct {
    const char* map;
    const char* says;
  } cases[] = {
      {"cluster\n", "line 1: \"cluster\" has no connection string"},
      {"# servers\n\ncluster nokey\n", "line 3: missing \"=\" after \"nokey\""},
      {"cluster host=db password=secret\n", "line 1: a password belongs in libpq's password file"},
      {"a host=x\nA host=y\n", "line 2: \"A\" is mapped twice"},
      {"x@1352 host=x\n", "line 1: \"x@1352\" is not a server name"},
  };
  ASSERT_TRUE(plexa::MakeDirectories(root() + "servers/files"));
  for (const auto& c : cases) {
    Map(c.map);
    GVDB db = 0;
    EXPECT_EQ(GVDatabaseOpen("cluster", "a.odb", 0, &db), GVERR_FILE) << c.map;
    EXPECT_NE(ErrorText().find(c.says), std::string::npos) << ErrorText();
    EXPECT_NE(ErrorText().find("servers.map"), std::string::npos) << ErrorText();
    uint32_t responds = 9;
    EXPECT_EQ(GVServerGetProperty("cluster", GVSRVPROP_RESPONDS, &responds), GVERR_FILE);
    // The local server never reads the map.
    EXPECT_EQ(GVDatabaseCreate(nullptr, "here.odb", nullptr, 0, nullptr, nullptr, 0, 0), 0u);
    EXPECT_EQ(GVDatabaseDelete(nullptr, "here.odb"), 0u);
  }
  // Without the map, named servers are directories as ever.
  ASSERT_EQ(unlink((root() + "servers.map").c_str()), 0);
  EXPECT_EQ(GVDatabaseCreate("files", "a.odb", nullptr, 0, nullptr, nullptr, 0, 0), 0u);
  GVDB db = 0;
  EXPECT_EQ(GVDatabaseOpen("cluster", "a.odb", 0, &db), GVERR_NO_SERVER);
}

TEST_F(ServerMapTest, AnUnreachableServerOrAWrongPasswordIsNoServerWithLibpqsReason) {
  if (storetest::ClusterConnInfo("postgres").empty()) GTEST_SKIP() << "no TW_PG_PORT";
  const std::string port = std::getenv("TW_PG_PORT");
  // A port nobody listens on: the cluster's own, plus one, is never taken by it.
  int free = std::stoi(port) + 1;
  const std::string passfile = root() + "pgpass";
  { std::ofstream(passfile) << "127.0.0.1:" << port << ":*:tw_pw:not-the-password\n"; }
  ASSERT_EQ(chmod(passfile.c_str(), 0600), 0);
  twtest::ScopedEnv pass("PGPASSFILE", passfile.c_str());
  Map("gone host=127.0.0.1 connect_timeout=5 port=" + std::to_string(free) +
      " user=tw dbname=postgres\n"
      "locked host=127.0.0.1 port=" +
      port + " user=tw_pw dbname=postgres\n");
  const struct {
    const char* server;
    const char* says;
  } cases[] = {{"gone", "Connection refused"}, {"locked", "password authentication failed"}};
  for (const auto& c : cases) {
    GVDB db = 0;
    EXPECT_EQ(GVDatabaseOpen(c.server, "a.odb", 0, &db), GVERR_NO_SERVER) << c.server;
    EXPECT_NE(ErrorText().find(c.says), std::string::npos) << ErrorText();
    EXPECT_EQ(GVDatabaseCreate(c.server, "a.odb", nullptr, 0, nullptr, nullptr, 0, 0),
              GVERR_NO_SERVER);
    uint32_t responds = 9;
    ASSERT_EQ(GVServerGetProperty(c.server, GVSRVPROP_RESPONDS, &responds), 0u);
    // PostgreSQL itself answers the locked server: only the login is refused.
    EXPECT_EQ(responds, std::string(c.server) == "locked" ? 1u : 0u) << c.server;
  }
  // The right password from the password file: the server answers, and holds nothing yet.
  { std::ofstream(passfile) << "127.0.0.1:" << port << ":*:tw_pw:tw-secret\n"; }
  EXPECT_EQ(Listed("locked"), std::vector<std::string>{});
  GVDB db = 0;
  EXPECT_EQ(GVDatabaseOpen("locked", "a.odb", 0, &db), GVERR_NO_DATABASE);
  // Mapped servers are listed with the directories.
  ASSERT_TRUE(plexa::MakeDirectories(root() + "servers/files"));
  std::vector<std::string> servers;
  char name[GV_SERVER_NAME_SIZE] = {};
  for (uint32_t at = GV_LIST_FIRST; GVServerList(at, name) == 0; at = GV_LIST_NEXT)
    servers.push_back(name);
  EXPECT_EQ(servers, (std::vector<std::string>{"files", "gone", "locked"}));
}

// A database made in another encoding than UTF-8 (as `createdb` makes it in a cluster
// initialised without a locale) holds no Ordex database: refused at once, naming its
// encoding, with nothing made in it.
TEST_F(ServerMapTest, ADatabaseNotInUtf8IsRefusedNamingItsEncoding) {
  if (storetest::ClusterConnInfo("postgres").empty()) GTEST_SKIP() << "no TW_PG_PORT";
  const std::string dbname = "plexa_ascii_" + std::to_string(getpid());
  ASSERT_EQ(storetest::ClusterExec("CREATE DATABASE " + dbname +
                                   " ENCODING 'SQL_ASCII' LC_COLLATE 'C' LC_CTYPE 'C'"
                                   " TEMPLATE template0 STRATEGY FILE_COPY"),
            "");
  Map("ascii " + storetest::ClusterConnInfo(dbname) + "\n");
  EXPECT_EQ(GVDatabaseCreate("ascii", "a.odb", nullptr, 0, nullptr, nullptr, 0, 0), GVERR_ENGINE);
  EXPECT_NE(ErrorText().find("encoding is SQL_ASCII"), std::string::npos) << ErrorText();
  EXPECT_EQ(Listed("ascii"), std::vector<std::string>{});
  PGconn* c = PQconnectdb(storetest::ClusterConnInfo(dbname).c_str());
  PGresult* r = PQexec(c, "SELECT count(*) FROM pg_namespace WHERE nspname = 'plexa'");
  EXPECT_STREQ(PQgetvalue(r, 0, 0), "0");
  PQclear(r);
  PQfinish(c);
  EXPECT_EQ(storetest::ClusterExec("DROP DATABASE " + dbname + " WITH (FORCE)"), "");
}

// ---------------------------------------------------------------- both stores ------------

class StoreTest : public ::testing::TestWithParam<Engine> {
 protected:
  StoreTest() : env_("PLEXA_ROOT", root_.path().c_str()) {}
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(store_.SetUp(GetParam(), root_.path()));
    if (store_.skipped()) GTEST_SKIP() << store_.skipped();
    ASSERT_EQ(_GVInit(GV_VERSION, 0, 0, 0), 0u);
  }
  void TearDown() override {
    while (plexa::SessionActive()) GVTerm(0);
    store_.TearDown();
  }
  GVDB Make(const char* file, const char* title = nullptr) {
    EXPECT_EQ(GVDatabaseCreate(TestServer(), file, title, 0, nullptr, nullptr, 0, 0), 0u);
    GVDB db = 0;
    EXPECT_EQ(GVDatabaseOpen(TestServer(), file, 0, &db), 0u);
    return db;
  }

  twtest::TempDir root_;
  twtest::ScopedEnv env_;
  storetest::Store store_;
};

TEST_P(StoreTest, DatabasesAreMadeListedRenamedAndRemoved) {
  GVDB db = Make("adm/one.odb", "Ärger № 1");
  char title[GV_TITLE_SIZE] = {};
  ASSERT_EQ(GVDatabaseGetProperty(db, GVDBPROP_TITLE, title), 0u);
  EXPECT_STREQ(title, "Ärger № 1");
  EXPECT_EQ(GVDatabaseCreate(TestServer(), "adm/one.odb", nullptr, 0, nullptr, nullptr, 0, 0),
            GVERR_EXISTS);
  GVDB two = Make("two.odb");
  EXPECT_EQ(Listed(TestServer()),
            (std::vector<std::string>{"adm/one.odb=Ärger № 1", "two.odb=two.odb"}));
  // Open databases stay where they are.
  EXPECT_EQ(GVDatabaseDelete(TestServer(), "two.odb"), GVERR_DATABASE_IN_USE);
  EXPECT_EQ(GVDatabaseRename(TestServer(), "two.odb", "three.odb", 0), GVERR_DATABASE_IN_USE);
  ASSERT_EQ(GVDatabaseClose(two, 0), 0u);
  EXPECT_EQ(GVDatabaseRename(TestServer(), "two.odb", "adm/one.odb", 0), GVERR_EXISTS);
  ASSERT_EQ(GVDatabaseRename(TestServer(), "two.odb", "three.odb", 0), 0u);
  EXPECT_EQ(GVDatabaseOpen(TestServer(), "two.odb", 0, &two), GVERR_NO_DATABASE);
  ASSERT_EQ(GVDatabaseOpen(TestServer(), "three.odb", 0, &two), 0u);
  ASSERT_EQ(GVDatabaseClose(two, 0), 0u);
  ASSERT_EQ(GVDatabaseDelete(TestServer(), "three.odb"), 0u);
  EXPECT_EQ(GVDatabaseDelete(TestServer(), "three.odb"), GVERR_NO_DATABASE);
  EXPECT_EQ(Listed(TestServer()), (std::vector<std::string>{"adm/one.odb=Ärger № 1"}));
  ASSERT_EQ(GVDatabaseClose(db, 0), 0u);
}

// A copy keeps every note and item byte for byte, whichever stores its two sides are on.
TEST_P(StoreTest, CopiesKeepNotesAndItemsExactlyAcrossStores) {
  GVDB db = Make("data.odb", "Data");
  const std::vector<std::string> names = {"Subject", "Tags", "Empty"};
  GVNOTEID a = Put(db, {Text("Subject", "Grüße aus Zürich — 東京"),
                        TextList("Tags", {"", "x", "ÿ"}), Text("Empty", "")});
  GVNOTEID b = Put(db, {Text("Subject", "response"), TextList("Tags", {"r"}), Text("Empty", "")},
                   viewtest::UnidOf(db, a).data());
  auto original = ItemBytes(db, a, names);
  ASSERT_EQ(GVDatabaseClose(db, 0), 0u);
  // Onto the other store and back again.
  const char* other = TestServer() == nullptr ? nullptr : TestServer();
  ASSERT_EQ(GVDatabaseCopy(TestServer(), "data.odb", nullptr, "back-up.odb", "Back-up",
                           GVCOPY_TITLE, 0, 0),
            0u);
  ASSERT_EQ(GVDatabaseCopy(nullptr, "back-up.odb", other, "again.odb", nullptr, 0, 0, 0), 0u);
  for (const auto& [server, file, want] :
       {std::tuple<const char*, const char*, const char*>{nullptr, "back-up.odb", "Back-up"},
        {other, "again.odb", "Back-up"}}) {
    GVDB copy = 0;
    ASSERT_EQ(GVDatabaseOpen(server, file, 0, &copy), 0u) << file;
    char title[GV_TITLE_SIZE] = {};
    ASSERT_EQ(GVDatabaseGetProperty(copy, GVDBPROP_TITLE, title), 0u);
    EXPECT_STREQ(title, want);
    EXPECT_EQ(ItemBytes(copy, a, names), original) << file;
    EXPECT_EQ(Field(copy, b, "Subject"), "response");
    // The response keeps its parent; the full text is there.
    GVINDEX ix = 0;
    ASSERT_EQ(GVIndexOpen(copy, &ix), 0u);
    uint32_t found = 0;
    ASSERT_EQ(GVIndexFTSearch(ix, "zürich", 0, 0, &found), 0u);
    EXPECT_EQ(found, 1u) << file;
    ASSERT_EQ(GVIndexClose(ix), 0u);
    ASSERT_EQ(GVDatabaseClose(copy, 0), 0u);
  }
  EXPECT_EQ(GVDatabaseCopy(TestServer(), "data.odb", other, "again.odb", nullptr, 0, 0, 0),
            GVERR_EXISTS);
}

// Several processes take activities by a conditional store: each is taken exactly once.
TEST_P(StoreTest, EachActivityIsTakenByExactlyOneOfSeveralProcesses) {
  constexpr int kActivities = 40, kTakers = 4;
  GVDB db = Make("queue.odb");
  std::vector<GVNOTEID> ids;
  for (int i = 0; i < kActivities; ++i)
    ids.push_back(Put(db, {Text("Form", "Activity"), Text("Status", "due")}));
  // No connection of this process may be shared with the children.
  while (plexa::SessionActive()) GVTerm(0);
  std::vector<std::unique_ptr<Child>> takers;
  for (int t = 0; t < kTakers; ++t) {
    takers.push_back(std::make_unique<Child>([&, t](Child& self) {
      if (_GVInit(GV_VERSION, 0, 0, 0) != 0) return 10;
      GVDB mine = 0;
      if (GVDatabaseOpen(TestServer(), "queue.odb", 0, &mine) != 0) return 11;
      uint32_t taken = 0;
      for (GVNOTEID id : ids) {
        for (;;) {
          GVDOC doc = 0;
          if (GVDocumentOpen(mine, id, 0, &doc) != 0) return 12;
          char status[16] = {};
          uint32_t kind = GVTYPE_TEXT;
          if (GVItemFetch(doc, "Status", &kind, 0, sizeof status, status) != 0) return 13;
          uint32_t st = 0;
          if (std::string(status) == "due") {
            std::string by = "taken by " + std::to_string(t);
            if (GVItemPut(doc, "Status", 0, 0, GVTYPE_TEXT, by.c_str(), 0) != 0) return 14;
            st = GVDocumentSave(doc, GVSAVE_UNCHANGED);
            if (st == 0) ++taken;
          }
          if (GVDocumentClose(doc, GVCLOSE_DISCARD) != 0) return 15;
          if (st == GVERR_BUSY) continue;
          if (st != 0 && st != GVERR_CONFLICT) return 16;
          break;
        }
      }
      return self.Send(taken) ? 0 : 17;
    }));
  }
  uint32_t total = 0;
  for (auto& c : takers) {
    uint32_t taken = 0;
    EXPECT_TRUE(c->Receive(taken));
    total += taken;
    EXPECT_EQ(c->Wait(), 0);
  }
  EXPECT_EQ(total, static_cast<uint32_t>(kActivities));
  ASSERT_EQ(_GVInit(GV_VERSION, 0, 0, 0), 0u);
  ASSERT_EQ(GVDatabaseOpen(TestServer(), "queue.odb", 0, &db), 0u);
  for (GVNOTEID id : ids) EXPECT_EQ(Field(db, id, "Status").rfind("taken by ", 0), 0u) << id;
}

// A connection PostgreSQL drops under an open database fails the call that finds it gone,
// and the next call works on a new one.
// Sessions that PostgreSQL ended while they were idle (an administrator terminating them, a
// restart) are made anew before the next call sends anything: no call fails for it, and
// nothing is written twice. A server that does not answer fails the call, naming
// PostgreSQL's reason, and the call once it answers again works.
TEST_P(StoreTest, ASessionEndedWhileIdleIsMadeAnewAndAnUnansweredCallFails) {
  if (GetParam() != Engine::kPostgres) GTEST_SKIP() << "files have no connection to lose";
  GVDB db = Make("poll.odb");
  GVNOTEID a = Put(db, {Text("Status", "due")});
  const std::string others =
      "FROM pg_stat_activity WHERE datname = '" + store_.dbname() + "' AND pid <> pg_backend_pid()";
  ASSERT_EQ(storetest::ClusterExec("SELECT pg_terminate_backend(pid, 10000) " + others), "");
  EXPECT_EQ(Field(db, a, "Status"), "due");
  GVNOTEID b = Put(db, {Text("Status", "later")});
  EXPECT_EQ(Field(db, b, "Status"), "later");

  // No new session is let in for a while: the call fails, and the next one, once they are
  // let in again, works.
  ASSERT_EQ(
      storetest::ClusterExec("ALTER DATABASE " + store_.dbname() + " ALLOW_CONNECTIONS false"), "");
  ASSERT_EQ(storetest::ClusterExec("SELECT pg_terminate_backend(pid, 10000) " + others), "");
  GVDOC doc = 0;
  EXPECT_EQ(GVDocumentOpen(db, a, 0, &doc), GVERR_NO_SERVER);
  EXPECT_NE(ErrorText().find("PostgreSQL"), std::string::npos) << ErrorText();
  ASSERT_EQ(storetest::ClusterExec("ALTER DATABASE " + store_.dbname() + " ALLOW_CONNECTIONS true"),
            "");
  EXPECT_EQ(Field(db, a, "Status"), "due");
}

// A connection lost inside a transaction takes the transaction with it: its commit fails
// rather than finishing the rest on a new connection, and the next call reconnects.
TEST_P(StoreTest, AConnectionLostInsideATransactionFailsItsCommit) {
  if (GetParam() != Engine::kPostgres) GTEST_SKIP() << "files have no connection to lose";
  GVDB db = Make("half.odb");
  plexa::Database* d = plexa::FindDatabase(db);
  ASSERT_NE(d, nullptr);
  {
    plexa::Txn txn(*d);
    ASSERT_EQ(txn.Begin(plexa::Txn::kWrite), 0u);
    ASSERT_EQ(d->SetMetaText("before", "written"), 0u);
    ASSERT_EQ(storetest::ClusterExec("SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                                     "WHERE datname = '" +
                                     store_.dbname() + "'"),
              "");
    EXPECT_EQ(d->SetMetaText("after", "written"), GVERR_NO_SERVER);
    // Nor does a caller that goes on regardless write anything outside the transaction.
    EXPECT_EQ(d->SetMetaText("later", "written"), GVERR_NO_SERVER);
    EXPECT_NE(txn.Commit(), 0u);
  }
  for (const char* key : {"before", "after", "later"}) {
    std::string value = "?";
    ASSERT_EQ(d->MetaText(key, value), 0u) << key;
    EXPECT_EQ(value, "") << key;
  }
}

// The view rows of a store are sent without waiting for them: one that fails (here a lock
// held past the busy timeout) still fails the store, which leaves nothing behind, and the
// connection goes on with the next store.
TEST_P(StoreTest, AViewRowThatCannotBeWrittenFailsItsStoreWhole) {
  if (GetParam() != Engine::kPostgres) GTEST_SKIP() << "files write view rows as they go";
  ASSERT_EQ(GVSetProperty(GVPROP_BUSY_TIMEOUT, 1), 0u);  // a tenth of a second
  GVDB db = Make("rows.odb");
  GVNOTEID view = 0;
  ASSERT_EQ(viewtest::MakeView(db, "Names", "", {{GVCOL_SORTED, "Name"}}, &view), 0u);
  GVNOTEID kept = Put(db, {Text("Name", "kept")});
  storetest::Session other(storetest::ClusterConnInfo(store_.dbname()));
  const std::string table = other.Schema("rows.odb") + ".view_entry";
  ASSERT_EQ(other.Exec("BEGIN"), "");
  ASSERT_EQ(other.Exec("LOCK TABLE " + table + " IN EXCLUSIVE MODE"), "");  // readers still read
  for (const char* flags : {"new", "changed"}) {
    GVDOC doc = 0;
    if (std::string(flags) == "new") {
      ASSERT_EQ(GVDocumentCreate(db, 0, &doc), 0u);
    } else {
      ASSERT_EQ(GVDocumentOpen(db, kept, 0, &doc), 0u);
    }
    ASSERT_EQ(viewtest::PutItem(doc, Text("Name", "lost")), 0u);
    EXPECT_EQ(GVDocumentSave(doc, 0), GVERR_BUSY) << flags;
    EXPECT_NE(ErrorText().find("lock"), std::string::npos) << ErrorText();
    EXPECT_EQ(GVDocumentClose(doc, GVCLOSE_DISCARD), 0u);
  }
  ASSERT_EQ(other.Exec("ROLLBACK"), "");
  GVNOTEID later = Put(db, {Text("Name", "later")});
  GVINDEX ix = 0;
  ASSERT_EQ(GVIndexOpen(db, &ix), 0u);
  ASSERT_EQ(GVIndexOpenView(ix, 0, view, 0), 0u);
  EXPECT_EQ(viewtest::Walk(ix, GVNAV_NEXT, 0), (std::vector<GVNOTEID>{kept, later}));
  EXPECT_EQ(Field(db, kept, "Name"), "kept");
  ASSERT_EQ(GVIndexSearch(ix, nullptr, 0, 0), 0u);
  EXPECT_EQ(GVIndexGetCount(ix), 2u);  // the new note went with its store
  EXPECT_EQ(GVIndexClose(ix), 0u);
}

// A session prepares the statements of its writers with its first writer: a first writer
// that cannot prepare them leaves them to the next one, which stores, and another session
// reads what it stored.
TEST_P(StoreTest, AFailedFirstWriterOfASessionLeavesTheNextOneAbleToStore) {
  if (GetParam() != Engine::kPostgres) GTEST_SKIP() << "files prepare nothing for a session";
  ASSERT_EQ(GVSetProperty(GVPROP_BUSY_TIMEOUT, 1), 0u);  // a tenth of a second
  GVDB db = Make("first.odb");
  GVDB fresh = 0;  // a session of its own, that has not written yet
  ASSERT_EQ(GVDatabaseOpen(TestServer(), "first.odb", 0, &fresh), 0u);
  storetest::Session other(storetest::ClusterConnInfo(store_.dbname()));
  // Not even the statements of a writer can be prepared while the table is locked so.
  ASSERT_EQ(other.Exec("BEGIN"), "");
  ASSERT_EQ(
      other.Exec("LOCK TABLE " + other.Schema("first.odb") + ".meta IN ACCESS EXCLUSIVE MODE"), "");
  GVDOC doc = 0;
  ASSERT_EQ(GVDocumentCreate(fresh, 0, &doc), 0u);
  ASSERT_EQ(viewtest::PutItem(doc, Text("Name", "lost")), 0u);
  EXPECT_EQ(GVDocumentSave(doc, 0), GVERR_BUSY);
  EXPECT_EQ(GVDocumentClose(doc, GVCLOSE_DISCARD), 0u);
  ASSERT_EQ(other.Exec("ROLLBACK"), "");
  for (const char* name : {"first", "second"}) {
    GVNOTEID id = Put(fresh, {Text("Name", name)});
    ASSERT_NE(id, 0u) << ErrorText();
    EXPECT_EQ(Field(db, id, "Name"), name);
  }
  EXPECT_EQ(GVDatabaseClose(fresh, 0), 0u);
}

// A creation whose process died leaves a catalogue row that is not ready: the name is free
// again, unless the creator still works on it (it holds the name's lock).
TEST_P(StoreTest, AnUnfinishedCreationIsReplacedUnlessItsCreatorStillWorks) {
  if (GetParam() != Engine::kPostgres) GTEST_SKIP() << "files are made aside and linked";
  GVDB first = Make("first.odb");  // makes the catalogue
  ASSERT_EQ(GVDatabaseClose(first, 0), 0u);
  PGconn* other = PQconnectdb(storetest::ClusterConnInfo(store_.dbname()).c_str());
  ASSERT_EQ(PQstatus(other), CONNECTION_OK);
  auto exec = [&](const char* sql) {
    PGresult* r = PQexec(other, sql);
    ExecStatusType st = PQresultStatus(r);
    PQclear(r);
    return st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK;
  };
  ASSERT_TRUE(
      exec("CREATE SCHEMA half; INSERT INTO plexa.catalog(file, schema_name) "
           "VALUES('half.odb', 'half')"));
  ASSERT_TRUE(exec("SELECT pg_advisory_lock(7227060, hashtext('half.odb'))"));
  EXPECT_EQ(GVDatabaseCreate(TestServer(), "half.odb", nullptr, 0, nullptr, nullptr, 0, 0),
            GVERR_EXISTS);
  GVDB db = 0;
  EXPECT_EQ(GVDatabaseOpen(TestServer(), "half.odb", 0, &db), GVERR_NO_DATABASE);
  EXPECT_EQ(Listed(TestServer()), std::vector<std::string>{"first.odb=first.odb"});
  PQfinish(other);  // the creator is gone
  db = Make("half.odb");
  ASSERT_NE(db, 0u);
  EXPECT_NE(Put(db, {Text("Subject", "whole")}), 0u);
  EXPECT_EQ(store_.Query(root_.path(), "half.odb", "SELECT to_regnamespace('half') IS NULL"), "t");
}

INSTANTIATE_TEST_SUITE_P(Stores, StoreTest, ::testing::Values(Engine::kSqlite, Engine::kPostgres),
                         storetest::EngineName);

}  // namespace
