// The Ordex roads on both kinds of Ordex server, each activity run by name by taskrun as a
// server runs it: the installation's databases and the Ordex database of the road are files
// of the local server, or live on the server "hub" that the data root's server map holds in
// a database of the test command's PostgreSQL cluster (TW_PG_PORT; those cases skip
// without it). Text goes into a document database and comes back byte for byte; a
// replication between a document database and a SQLite table levels both sides, and the run
// after it changes nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "bulk_load.h"
#include "store_fixture.h"
#include "taskrun_install.h"

namespace {

using bulk_load::Output;
using storetest::Engine;
using taskrun_install::Installation;
using taskrun_install::Slurp;

constexpr char kSqlite3[] = "/usr/bin/sqlite3";
// An accented key and a value with a 4-byte character.
constexpr char kEte[] = "\xC3\xA9t\xC3\xA9";
constexpr char kEteValue[] = "\xC3\xA9t\xC3\xA9 \xF0\x9F\x8C\x9E";

void Write(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

class OrdexServerRoad : public ::testing::TestWithParam<Engine> {
 protected:
  void SetUp() override {
    // The ODBC driver manager that a connector unloads keeps the configuration it parsed, and
    // the leak checker can no longer name it: in a sanitizer build a leak report would be
    // taskrun's exit code, which these runs check.
    if (const char* asan = std::getenv("ASAN_OPTIONS"))
      ::setenv("ASAN_OPTIONS", (std::string(asan) + ":detect_leaks=0").c_str(), 1);
    ASSERT_FALSE(inst_.dir().empty());
    ASSERT_NO_FATAL_FAILURE(store_.SetUp(GetParam(), inst_.dir()));
    if (store_.skipped()) GTEST_SKIP() << store_.skipped();
    const std::string heldBy =
        GetParam() == Engine::kPostgres ? storetest::ClusterConnInfo(store_.dbname()) : "";
    ASSERT_EQ(inst_.Make({"flatrec.twx", "ordex.twx", "replica.twx"}, heldBy), "");
    server_ = heldBy.empty() ? "" : "hub";
    dir_ = inst_.dir();
    ASSERT_EQ(inst_.Serve(), "");
  }
  void TearDown() override {
    if (!store_.skipped()) EXPECT_TRUE(inst_.Stop());
  }

  // An Ordex link named name on the road's server's database database, made when missing.
  void OrdexLink(const std::string& name, const std::string& database) {
    std::vector<std::string> items = {"Name=" + name, "Database=" + database,
                                      "CreateDatabase:number=1"};
    if (server_.empty()) {
      items.insert(items.end(), {"PropNameList:textlist=Database,CreateDatabase",
                                 "PropTokenList:numberlist=65538,7"});
    } else {
      items.insert(items.end(),
                   {"Server=" + server_, "PropNameList:textlist=Server,Database,CreateDatabase",
                    "PropTokenList:numberlist=65537,65538,7"});
    }
    ASSERT_EQ(inst_.New("Link\\Ordex", items), "");
  }
  void TextLink(const std::string& name, const std::string& file, const std::string& zid,
                const std::string& kind) {
    ASSERT_EQ(inst_.New("Link\\Flatrec",
                        {"Name=" + name, "Database=" + dir_ + file, "ZID=@" + dir_ + zid,
                         "Linktype=" + kind, "PropNameList:textlist=Database,ZID,Linktype",
                         "PropTokenList:numberlist=65538,15,16"}),
              "");
  }
  // The Ordex database as plexadm names it.
  std::string Docs(const std::string& database) const {
    return server_.empty() ? database : server_ + "!!" + database;
  }
  std::string Adm(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {dir_ + "plexadm"};
    argv.insert(argv.end(), args.begin(), args.end());
    int code = -1;
    const std::string out = Output(argv, dir_, &code);
    EXPECT_EQ(code, 0) << args[0] << ": " << out;
    return out;
  }
  // Runs sql on the SQLite side; what sqlite3 printed.
  std::string Sqlite(const std::string& sql) {
    int code = -1;
    const std::string out =
        Output({kSqlite3, "-bail", "-separator", "\t", dir_ + "t.db", sql}, dir_, &code);
    EXPECT_EQ(code, 0) << out;
    return out;
  }
  // The SQLite side's rows, key to value.
  std::map<std::string, std::string> Rows() {
    std::map<std::string, std::string> rows;
    std::istringstream in(Sqlite("SELECT k, v FROM t"));
    for (std::string line; std::getline(in, line);) {
      const size_t tab = line.find('\t');
      rows[line.substr(0, tab)] = tab == std::string::npos ? "" : line.substr(tab + 1);
    }
    return rows;
  }
  // The documents of form t: the text of the items k and v, and the note's id, of each.
  std::vector<std::tuple<std::string, std::string, std::string>> Replicated() {
    std::vector<std::tuple<std::string, std::string, std::string>> docs;
    std::istringstream in(Adm({"export", Docs("level.odb"), "--form", "t"}));
    for (std::string line; std::getline(in, line);) {
      const nlohmann::json doc = nlohmann::json::parse(line);
      std::string k, v;
      for (const nlohmann::json& item : doc["items"]) {
        std::string& to = item["name"] == "k" ? k : v;
        if (item["name"] == "k" || item["name"] == "v") to = item["value"].get<std::string>();
      }
      docs.emplace_back(k, v, std::to_string(doc["note"].get<long>()));
    }
    return docs;
  }
  std::map<std::string, std::string> Documents() {
    std::map<std::string, std::string> docs;
    for (const auto& [k, v, note] : Replicated())
      EXPECT_TRUE(docs.emplace(k, v).second) << "two documents of key " << k;
    return docs;
  }
  std::map<std::string, std::string> NoteIds() {
    std::map<std::string, std::string> ids;
    for (const auto& [k, v, note] : Replicated()) ids[k] = note;
    return ids;
  }
  // taskrun's exit code for the activity; the run's log is shown when it is not 0.
  int Run(const std::string& activity) {
    const int code = inst_.RunActivity(activity).exitCode;
    if (code != 0) ADD_FAILURE() << activity << ":\n" << inst_.ActivityLog();
    return code;
  }

  storetest::Store store_;
  Installation inst_{"ordex_server_road", "ORDEXROAD", "ORDEX_SERVER_ROAD_KEEP"};
  std::string server_, dir_;
};

// A few thousand records shaped like real ones: names in mixed case with accented letters,
// Greek, CJK and emoji (2-, 3- and 4-byte UTF-8), quotes; integers and amounts at the ends
// of what a document number keeps exactly; dates from the first day of the calendar to its
// last; empty notes, and one long note of multi-byte text.
std::string Records(int n) {
  const char* names[] = {"Ada Quill",
                         "\xC3\x89lodie B\xC3\xA9rub\xC3\xA9",
                         "\xCE\x9A\xCF\x8E\xCF\x83\xCF\x84\xCE\xB1\xCF\x82",
                         "\xE5\xB1\xB1\xE7\x94\xB0 \xE5\xA4\xAA\xE9\x83\x8E",
                         "o'Neil \xF0\x9F\x98\x80 \xF0\x9D\x84\x9E",
                         "MIXED case Name",
                         "\"quoted\" Z\xC3\xBC"
                         "rich"};
  const char* ids[] = {"-9007199254740991", "9007199254740991", "-2147483648", "2147483647", "0"};
  const char* amounts[] = {"-99999999999.99", "99999999999.99", "0.00", "-0.01", "0.01"};
  const char* days[] = {"0001-01-01", "9999-12-31", "1970-01-01", "2000-02-29", "1899-12-30"};
  std::string long3;
  for (int i = 0; i < 1500; ++i) long3 += "\xE2\x82\xAC\xC3\xA9\xF0\x9F\x8C\x8D";
  std::string text;
  for (int i = 0; i < n; ++i) {
    if (i != 0) text += "\n";
    const bool edge = i < 5;
    text += edge ? ids[i] : std::to_string(i);
    text += ",";
    text += names[i % std::size(names)];
    if (i % 11 == 0) text += " " + std::to_string(i);
    text += ",";
    if (edge) {
      text += amounts[i];
    } else {
      char amount[32];
      std::snprintf(amount, sizeof amount, "%d.%02d", (i * 37) % 100000 - 50000, i % 100);
      text += amount;
    }
    text += ",";
    if (edge) {
      text += days[i];
    } else {
      char day[16];
      std::snprintf(day, sizeof day, "%04d-%02d-%02d", 1900 + i % 200, 1 + i % 12, 1 + i % 28);
      text += day;
    }
    text += ",";
    if (i == 7)
      text += long3;
    else if (i % 3 != 0)
      text += "note " + std::string(names[(i + 3) % std::size(names)]);
  }
  return text;
}
constexpr char kRecordsZid[] =
    "ID TYPE NUMBER DELIM ,\nNAME TYPE TEXT DELIM ,\nPRICE TYPE NUMBER.2 DELIM ,\n"
    "DAY TYPE DATE FORMAT YYYY-MM-DD DELIM ,\nNOTE TYPE TEXT\n";

TEST_P(OrdexServerRoad, TextThroughADocumentDatabaseComesBackByteForByte) {
  const std::string records = Records(3000);
  Write(dir_ + "in.txt", records);
  Write(dir_ + "records.zid", kRecordsZid);
  ASSERT_NO_FATAL_FAILURE(TextLink("TextIn", "in.txt", "records.zid", "SOURCE"));
  ASSERT_NO_FATAL_FAILURE(TextLink("TextOut", "out.txt", "records.zid", "DESTINATION"));
  ASSERT_NO_FATAL_FAILURE(OrdexLink("Docs", "records.odb"));
  ASSERT_EQ(inst_.New("Activity\\Direct Transfer", {"Name=In", "SrcLink=TextIn", "DestLink=Docs",
                                                    "DestMetadata=Record", "Create:number=1"}),
            "");
  ASSERT_EQ(inst_.New("Activity\\Direct Transfer", {"Name=Out", "SrcLink=Docs", "DestLink=TextOut",
                                                    "SrcMetadata=Record", "Overwrite:number=1"}),
            "");
  ASSERT_EQ(Run("In"), 0);
  ASSERT_EQ(Run("Out"), 0);
  const std::string back = Slurp(dir_ + "out.txt");
  EXPECT_EQ(back.size(), records.size());
  // The first record that differs, to show rather than two texts of a few hundred KiB.
  std::istringstream want(records), got(back);
  std::string w, g;
  for (int line = 1; std::getline(want, w); ++line) {
    if (!std::getline(got, g)) g = "<none>";
    if (w != g) {
      ADD_FAILURE() << "record " << line << " differs:\n"
                    << w.substr(0, 200) << "\n"
                    << g.substr(0, 200);
      break;
    }
  }
  EXPECT_TRUE(back == records);
  // The documents are on the road's server.
  const std::string docs = Adm({"export", Docs("records.odb"), "--form", "Record"});
  EXPECT_EQ(Count(docs, "\"name\":\"NAME\""), 3000u);
}

// The keys of both sides in mixed case (the document database's sorted view orders them
// a A b B; SQLite's index by bytes A B a b) with an accented one; each side inserted,
// updated and deleted a record since the last run. The side that wins the conflicts is
// each side in turn: the run writes the other side's records so that both hold the same,
// and the next run finds nothing to write.
TEST_P(OrdexServerRoad, AReplicationWithADocumentDatabaseLevelsBothSides) {
  ASSERT_NO_FATAL_FAILURE(OrdexLink("Docs", "level.odb"));
  ASSERT_EQ(inst_.New("Link\\Sqlcli", {"Name=Lite", "Server=lite", "Userid=tw"}), "");
  Write(dir_ + "odbcinst.ini",
        "[SQLITE3]\nDriver=/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so\n");
  Write(dir_ + "odbc.ini", "[lite]\nDriver=SQLITE3\nDatabase=" + dir_ + "t.db\nTimeout=5000\n");
  ::setenv("ODBCSYSINI", dir_.c_str(), 1);
  ::setenv("ODBCINI", (dir_ + "odbc.ini").c_str(), 1);
  Sqlite(
      "CREATE TABLE t (k VARCHAR(20) PRIMARY KEY, v VARCHAR(40));"
      "INSERT INTO t VALUES ('a', 'one'), ('A', 'One'), ('b', 'two'), ('B', 'Two'),"
      " ('" +
      std::string(kEte) + "', '" + kEteValue + "'), ('Zed', 'last')");
  for (int winner : {1, 2}) {
    SCOPED_TRACE(winner == 1 ? "SQLite wins" : "Ordex wins");
    const std::string name = "Level" + std::to_string(winner);
    ASSERT_EQ(
        inst_.New("Activity\\Replication",
                  {"Name=" + name, "SrcLink=Lite", "DestLink=Docs", "LinkAMetadata=t",
                   "LinkBMetadata=t", "LinkAOrderList:textlist=k", "LinkBOrderList:textlist=k",
                   "WinConflict:number=" + std::to_string(winner), "Create:number=1",
                   "MapName:number=1"}),
        "");
  }
  // The first run fills the new document database from SQLite.
  ASSERT_EQ(Run("Level1"), 0);
  ASSERT_EQ(Documents(), Rows());
  ASSERT_EQ(Rows().size(), 6u);

  // Each round: what SQLite does, what is done to the documents, the activity, and what both
  // sides hold after it.
  struct Round {
    const char* sqlite;
    std::map<std::string, std::string> inserted, updated;
    const char* deleted;
    const char* activity;
    std::map<std::string, std::string> level;
  } rounds[] = {
      {"INSERT INTO t VALUES ('new', 'from SQLite'); UPDATE t SET v = 'uno' WHERE k = 'a';"
       " DELETE FROM t WHERE k = 'b'",
       {{"Extra", "dropped"}},
       {{"B", "changed"}},
       "Zed",
       "Level1",
       {{"a", "uno"},
        {"A", "One"},
        {"B", "Two"},
        {kEte, kEteValue},
        {"Zed", "last"},
        {"new", "from SQLite"}}},
      {"INSERT INTO t VALUES ('gone', 'soon'); UPDATE t SET v = 'changed' WHERE k = 'Zed';"
       " DELETE FROM t WHERE k = 'new'",
       {{"NEW", "from Ordex"}},
       {{"A", "Eins"}},
       "B",
       "Level2",
       {{"a", "uno"},
        {"A", "Eins"},
        {kEte, kEteValue},
        {"Zed", "last"},
        {"new", "from SQLite"},
        {"NEW", "from Ordex"}}},
  };
  for (const Round& round : rounds) {
    SCOPED_TRACE(round.activity);
    Sqlite(round.sqlite);
    for (const auto& [k, v] : round.inserted)
      Adm({"new", Docs("level.odb"), "t", "k=" + k, "v=" + v});
    const std::map<std::string, std::string> ids = NoteIds();
    ASSERT_EQ(ids.count(round.deleted), 1u);
    for (const auto& [k, v] : round.updated) {
      ASSERT_EQ(ids.count(k), 1u) << k;
      Adm({"put", Docs("level.odb"), ids.at(k), "v", "text", v});
    }
    Adm({"delete-doc", Docs("level.odb"), ids.at(round.deleted)});
    ASSERT_EQ(Run(round.activity), 0);
    EXPECT_EQ(Documents(), round.level);
    EXPECT_EQ(Rows(), round.level);
    // Nothing is left to write: not a document is touched, not a row.
    const std::string before = Adm({"export", Docs("level.odb"), "--form", "t"});
    const std::string rows = Sqlite("SELECT rowid, k, v FROM t ORDER BY rowid");
    ASSERT_EQ(Run(round.activity), 0);
    EXPECT_EQ(Adm({"export", Docs("level.odb"), "--form", "t"}), before);
    EXPECT_EQ(Sqlite("SELECT rowid, k, v FROM t ORDER BY rowid"), rows);
  }
}

INSTANTIATE_TEST_SUITE_P(Stores, OrdexServerRoad,
                         ::testing::Values(Engine::kSqlite, Engine::kPostgres),
                         storetest::EngineName);

}  // namespace
