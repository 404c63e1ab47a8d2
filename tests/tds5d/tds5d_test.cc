// tds5d against FreeTDS clients: the client library, tsql and freebcp.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "tds5d_ctlib.h"
#include "tds5d_fixture.h"

namespace {

using twtest::CtOutcome;
using twtest::CtSession;
using twtest::kTds5dPassword;
using twtest::kTds5dUser;
using Row = std::vector<std::optional<std::string>>;

class Tds5dTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server_ = new twtest::Tds5dServer; }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(server_->started()); }

  // A session logged in to a database of its own (made at first use).
  void Open(CtSession& s, const std::string& database, const char* section = "corvex_utf8") {
    ASSERT_TRUE(s.Connect(section, kTds5dUser, kTds5dPassword));
    CtOutcome made = s.Run("create database " + database);
    (void)made;
    CtOutcome used = s.Run("use " + database);
    ASSERT_TRUE(used.ok) << database;
  }

  static std::vector<Row> Rows(const CtOutcome& o, size_t result = 0) {
    return result < o.results.size() ? o.results[result].rows : std::vector<Row>{};
  }

  static twtest::Tds5dServer* server_;
};

twtest::Tds5dServer* Tds5dTest::server_ = nullptr;

TEST_F(Tds5dTest, LoginChecksThePasswordAndEchoesTheCharacterSet) {
  struct Case {
    const char* section;
    const char* password;
    bool ok;
    const char* charset;
  } cases[] = {
      {"corvex_utf8", kTds5dPassword, true, "utf8"},
      {"corvex_latin1", kTds5dPassword, true, "iso_1"},
      {"corvex_utf8", "wrong", false, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.section) + " " + c.password);
    CtSession s;
    bool ok = s.Connect(c.section, kTds5dUser, c.password);
    EXPECT_EQ(ok, c.ok);
    std::vector<int> numbers;
    for (const auto& m : s.TakeMessages()) numbers.push_back(m.number);
    if (!c.ok) {
      EXPECT_NE(std::find(numbers.begin(), numbers.end(), 4002), numbers.end());
      continue;
    }
    CtOutcome o = s.Run("select @@client_csname");
    ASSERT_TRUE(o.ok);
    EXPECT_EQ(Rows(o), (std::vector<Row>{{c.charset}}));
  }
}

// Statements run in order on one session; each row gives its outcome. An empty text comes
// back as one blank: TDS 5.0 has no empty character value.
TEST_F(Tds5dTest, LanguageCommands) {
  CtSession s;
  Open(s, "lang");
  struct Case {
    std::string text;
    bool ok;
    std::vector<int> messages;  // numbers expected among the messages
    std::vector<Row> rows;      // rows of the first result, when checked
    int count;                  // the last row count, -1 unchecked
  } cases[] = {
      {"create table t (i int not null, s varchar(40) null, m money null, n numeric(20,4) null, "
       "d datetime null, b varbinary(8) null, f float null, c char(3) null)",
       true, {}, {}, -1},
      {"insert into t (i, s, m, n, d, b, f) values (1, \"say \"\"hi\"\" 'x'\", $12.3456, "
       "1234567890123456.7891, '1/2/1850 3:04:05.06', 0x0A0b, 0.1)",
       true, {}, {}, 1},
      {"insert into t (i, s, m, n, d) values (2, null, $-922337203685477.5808, -0.0001, "
       "'12/31/9999 23:59:59.99')",
       true, {}, {}, 1},
      {"insert into t (i) values (3)", true, {}, {}, 1},
      {"select i, s, m, n, d, b from t where i < 3 order by i desc", true, {},
       {{"2", std::nullopt, "-922337203685477.5808", "-0.0001", "9999-12-31 23:59:59.990",
         std::nullopt},
        {"1", "say \"hi\" 'x'", "12.3456", "1234567890123456.7891", "1850-01-02 03:04:05.060",
         "0a0b"}},
       2},
      {"update t set s = \"u\" where i >= 2", true, {}, {}, 2},
      {"delete from t where i = 3", true, {}, {}, 1},
      {"select count(*) from t", true, {}, {{"2"}}, 1},
      {"insert into t (i) values (\"x\")", false, {257}, {}, -1},
      {"select * from missing", false, {208}, {}, -1},
      {"truncate table missing", false, {4701}, {}, -1},
      {"use nodb", false, {911}, {}, -1},
      {"create unique index tu on t (i)", true, {}, {}, -1},
      {"insert into t (i) values (1)", false, {2601}, {}, -1},
      {"select i.name, '' 'owner', '' 'comment' from sysindexes i, sysobjects o where i.indid != "
       "0 and i.id = o.id and o.type = 'U' and o.name = 't'",
       true, {}, {{"tu", " ", " "}}, -1},
      {"drop index t.tu", true, {}, {}, -1},
      {"select c.name, '' 'owner', '' 'comment' from syscolumns c, sysobjects o where c.id = "
       "o.id and o.type = 'U' and o.name = 't'",
       true, {}, {{"i", " ", " "}, {"s", " ", " "}, {"m", " ", " "}, {"n", " ", " "}, {"d", " ", " "},
                  {"b", " ", " "}, {"f", " ", " "}, {"c", " ", " "}}, -1},
      {"select o.name 'table', u.name 'owner', '' 'comment' from sysobjects o, sysusers u "
       "where o.type = 'U' and o.uid = u.uid",
       true, {}, {{"t", "dbo", " "}}, -1},
      {"select d.name 'database', u.name 'owner', '' 'comment' from master..sysdatabases d, "
       "master..sysusers u where d.suid = u.suid and d.name = 'lang'",
       true, {}, {{"lang", "dbo", " "}}, -1},
      {std::string("good_name:") + '\0', true, {}, {}, -1},
      {std::string("bad name:") + '\0', false, {102}, {}, -1},
      {"exec sp_dboption lang, \"select into/bulkcopy\", true", true, {}, {}, -1},
      {"exec sp_dboption nodb, \"select into/bulkcopy\", true", false, {15010}, {}, -1},
      {"checkpoint", true, {}, {}, -1},
      {"truncate table t", true, {}, {}, -1},
      {"select count(*) from t", true, {}, {{"0"}}, -1},
      {"drop table t", true, {}, {}, -1},
      {"drop table t", false, {208}, {}, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    CtOutcome o = s.Run(c.text);
    EXPECT_EQ(o.ok, c.ok);
    for (int number : c.messages) {
      EXPECT_NE(std::find(o.messages.begin(), o.messages.end(), number), o.messages.end())
          << number;
    }
    if (!c.rows.empty()) {
      EXPECT_EQ(Rows(o), c.rows);
    }
    if (c.count >= 0) {
      ASSERT_FALSE(o.counts.empty());
      EXPECT_EQ(o.counts.back(), c.count);
    }
  }
}

TEST_F(Tds5dTest, UseReportsTheChangeAtSeverityTenAndGetdateIsADatetime) {
  CtSession s;
  ASSERT_TRUE(s.Connect("corvex_utf8", kTds5dUser, kTds5dPassword));
  s.Run("create database other");
  CtOutcome o = s.Run("use other");
  EXPECT_TRUE(o.ok);
  EXPECT_EQ(o.messages, std::vector<int>{5701});
  o = s.Run("select getdate ()");
  ASSERT_TRUE(o.ok);
  ASSERT_EQ(Rows(o).size(), 1u);
  ASSERT_TRUE(Rows(o)[0][0].has_value());
  EXPECT_EQ(Rows(o)[0][0]->size(), 23u) << *Rows(o)[0][0];
}

TEST_F(Tds5dTest, EveryTextIsLogged) {
  CtSession s;
  ASSERT_TRUE(s.Connect("corvex_utf8", kTds5dUser, kTds5dPassword));
  std::string text = "select 1\n\tfrom sysusers -- \\ marked";
  ASSERT_TRUE(s.Run(text).ok);
  std::vector<std::string> texts = server_->Texts();
  EXPECT_NE(std::find(texts.begin(), texts.end(), "select 1\\n\\tfrom sysusers -- \\\\ marked"),
            texts.end());
}

TEST_F(Tds5dTest, TsqlRunsABatch) {
  twtest::ChildProcess tsql;
  ASSERT_TRUE(tsql.Start({"/usr/bin/tsql", "-S", "corvex_utf8", "-U", kTds5dUser, "-P",
                          kTds5dPassword},
                         twtest::InheritedEnv(), "", true));
  twtest::ProcessResult r = tsql.Finish("select name from master..sysdatabases where name = 'master'\ngo\nquit\n", 30000);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("master"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("(1 row affected)"), std::string::npos) << r.out;
}

}  // namespace
