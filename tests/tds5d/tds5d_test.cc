// tds5d against FreeTDS clients: the client library, tsql and freebcp.
#include <arpa/inet.h>
#include <bkpublic.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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
    s.Run("create database " + database);  // fails when an earlier test made it
    CtOutcome used = s.Run("use " + database);
    ASSERT_TRUE(used.ok) << database;
  }

  static bool Logged(const std::string& kind, const std::string& text) {
    std::vector<std::string> texts = server_->Texts(kind);
    return std::find(texts.begin(), texts.end(), text) != texts.end();
  }

  // Declares a cursor, asks for rows at a time when rows > 0, opens it and sends all.
  static void OpenCursor(CS_COMMAND* cmd, const char* name, std::string text, CS_INT option,
                         CS_INT rows) {
    ASSERT_EQ(ct_cursor(cmd, CS_CURSOR_DECLARE, const_cast<char*>(name), CS_NULLTERM, text.data(),
                        CS_NULLTERM, option),
              CS_SUCCEED);
    if (rows > 0) {
      ASSERT_EQ(ct_cursor(cmd, CS_CURSOR_ROWS, nullptr, CS_UNUSED, nullptr, CS_UNUSED, rows),
                CS_SUCCEED);
    }
    ASSERT_EQ(ct_cursor(cmd, CS_CURSOR_OPEN, nullptr, CS_UNUSED, nullptr, CS_UNUSED, CS_UNUSED),
              CS_SUCCEED);
    ASSERT_EQ(ct_send(cmd), CS_SUCCEED);
  }

  // Binds the first column as integers, count at a time.
  static void BindInts(CS_COMMAND* cmd, CS_INT* values, CS_INT count) {
    CS_DATAFMT fmt{};
    fmt.datatype = CS_INT_TYPE;
    fmt.maxlength = sizeof(CS_INT);
    fmt.count = count;
    ASSERT_EQ(ct_bind(cmd, 1, &fmt, values, nullptr, nullptr), CS_SUCCEED);
  }

  static void SetTextSize(CtSession& s, CS_INT size) {
    ASSERT_EQ(ct_options(s.connection(), CS_SET, CS_OPT_TEXTSIZE, &size, CS_UNUSED, nullptr),
              CS_SUCCEED);
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
      {"corvex_koi8", kTds5dPassword, true, "koi8"},
  };
  server_->AddSection("corvex_koi8", "KOI8-R");
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

// Every column type of a created table, nullable and not, written as a literal and read back.
TEST_F(Tds5dTest, EveryColumnTypeRoundTrips) {
  CtSession s;
  Open(s, "types");
  ASSERT_NO_FATAL_FAILURE(SetTextSize(s, 0x7FFFFFFF));
  struct Case {
    const char* type;
    const char* literal;
    const char* expected;
  } cases[] = {
      {"bit", "1", "1"},
      {"int", "-2147483648", "-2147483648"},
      {"numeric(9)", "-999999999", "-999999999"},
      {"numeric", "123456789012345678", "123456789012345678"},
      {"numeric(12, 2)", "-1234567890.12", "-1234567890.12"},
      {"float", "-9.5367431640625e-07", "-9.5367431640625e-07"},
      {"real", "0.75", "0.75"},
      {"money", "$922337203685477.5807", "922337203685477.5807"},
      {"smallmoney", "$-214748.3648", "-214748.3648"},
      {"datetime", "'12/31/1899 23:59:59.99'", "1899-12-31 23:59:59.990"},
      {"smalldatetime", "'6/6/2079 23:59:00.00'", "2079-06-06 23:59:00.000"},
      {"char(5)", "\"ab\"", "ab   "},
      {"varchar(300)", "\"a\"\"b\"", "a\"b"},
      {"text", "\"t\"", "t"},
      {"binary(3)", "0x0A", "0a0000"},
      {"varbinary(300)", "0xFF00", "ff00"},
      {"image", "0x01", "01"},
  };
  for (const Case& c : cases) {
    for (const char* nullity : {"not null", "null"}) {
      SCOPED_TRACE(std::string(c.type) + " " + nullity);
      s.Run("drop table t");
      ASSERT_TRUE(s.Run(std::string("create table t (v ") + c.type + " " + nullity + ")").ok);
      ASSERT_TRUE(s.Run(std::string("insert into t values (") + c.literal + ")").ok);
      std::string expected = c.expected;
      // A nullable fixed column is kept as written.
      if (std::string(nullity) == "null" && std::string(c.type) == "char(5)") expected = "ab";
      if (std::string(nullity) == "null" && std::string(c.type) == "binary(3)") expected = "0a";
      EXPECT_EQ(Rows(s.Run("select v from t")), (std::vector<Row>{{expected}}));
    }
  }
}

// Texts go through as each client's character set writes them (no conversion on the wire).
TEST_F(Tds5dTest, TextsKeepTheClientsCharacterSet) {
  struct Case {
    const char* section;
    std::string text;
  } cases[] = {
      {"corvex_utf8", "caf\xC3\xA9 \xE2\x82\xAC"},
      {"corvex_latin1", "caf\xE9 \xA4"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.section);
    CtSession s;
    Open(s, "charsets", c.section);
    s.Run("create table t (s varchar(20) null)");
    ASSERT_TRUE(s.Run("delete from t").ok);
    ASSERT_TRUE(s.Run("insert into t values (\"" + c.text + "\")").ok);
    EXPECT_EQ(Rows(s.Run("select s from t")), (std::vector<Row>{{c.text}}));
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
       true,
       {},
       {},
       -1},
      {"insert into t (i, s, m, n, d, b, f) values (1, \"say \"\"hi\"\" 'x'\", $12.3456, "
       "1234567890123456.7891, '1/2/1850 3:04:05.06', 0x0A0b, 0.1)",
       true,
       {},
       {},
       1},
      {"insert into t (i, s, m, n, d) values (2, null, $-922337203685477.5808, -0.0001, "
       "'12/31/9999 23:59:59.99')",
       true,
       {},
       {},
       1},
      {"insert into t (i, f) values (3, 6.103515625e-05)", true, {}, {}, 1},
      {"select f from t where i = 3 and f < 1e-4", true, {}, {{"6.103515625e-05"}}, 1},
      {"select i, s, m, n, d, b from t where i < 3 order by i desc",
       true,
       {},
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
      {"create table w (n numeric(38,0) null, p numeric(9,0) null, q numeric(12,2) null)",
       true,
       {},
       {},
       -1},
      {"insert into w values (-12345678901234567890123456789012345678, 999999999, .5)",
       true,
       {},
       {},
       1},
      {"insert into w values (1, 1234567890, 1)", false, {257}, {}, -1},
      {"insert into t (i) values (2147483648)", false, {257}, {}, -1},
      {"select n, p, q from w",
       true,
       {},
       {{"-12345678901234567890123456789012345678", "999999999", "0.50"}},
       1},
      {"create unique index tu on t (i)", true, {}, {}, -1},
      {"insert into t (i) values (1)", false, {2601}, {}, -1},
      {"select i.name, '' 'owner', '' 'comment' from sysindexes i, sysobjects o where i.indid != "
       "0 and i.id = o.id and o.type = 'U' and o.name = 't'",
       true,
       {},
       {{"tu", " ", " "}},
       -1},
      {"drop index t.tu", true, {}, {}, -1},
      {"select c.name, '' 'owner', '' 'comment' from syscolumns c, sysobjects o where c.id = "
       "o.id and o.type = 'U' and o.name = 't'",
       true,
       {},
       {{"i", " ", " "},
        {"s", " ", " "},
        {"m", " ", " "},
        {"n", " ", " "},
        {"d", " ", " "},
        {"b", " ", " "},
        {"f", " ", " "},
        {"c", " ", " "}},
       -1},
      {"select o.name 'table', u.name 'owner', '' 'comment' from sysobjects o, sysusers u "
       "where o.type = 'U' and o.uid = u.uid",
       true,
       {},
       {{"t", "dbo", " "}, {"w", "dbo", " "}},
       -1},
      {"select d.name 'database', u.name 'owner', '' 'comment' from master..sysdatabases d, "
       "master..sysusers u where d.suid = u.suid and d.name = 'lang'",
       true,
       {},
       {{"lang", "dbo", " "}},
       -1},
      {std::string("good_name:") + '\0', true, {}, {}, -1},
      {std::string("bad name:") + '\0', false, {102}, {}, -1},
      {"exec sp_dboption lang, \"select into/bulkcopy\", true", true, {}, {}, -1},
      {"exec sp_dboption nodb, \"select into/bulkcopy\", true", false, {15010}, {}, -1},
      {"checkpoint", true, {}, {}, -1},
      {"truncate table lang..t", true, {}, {}, -1},
      {"truncate table master..t", false, {4701}, {}, -1},
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
  EXPECT_TRUE(Logged("language", "select 1\\n\\tfrom sysusers -- \\\\ marked"));
}

TEST_F(Tds5dTest, OptionsCutTextsAndLeaveOutRows) {
  CtSession s;
  Open(s, "opts");
  ASSERT_TRUE(s.Run("create table t (x text null)").ok);
  ASSERT_TRUE(s.Run("insert into t (x) values (\"" + std::string(100, 'a') + "\")").ok);
  size_t optionsBefore = server_->Texts("option").size();
  ASSERT_NO_FATAL_FAILURE(SetTextSize(s, 10));
  EXPECT_EQ(Rows(s.Run("select x from t")), (std::vector<Row>{{std::string(10, 'a')}}));
  CS_BOOL on = CS_TRUE;
  ASSERT_EQ(ct_options(s.connection(), CS_SET, CS_OPT_FORMATONLY, &on, CS_UNUSED, nullptr),
            CS_SUCCEED);
  CtOutcome o = s.Run("select x from t");
  ASSERT_EQ(o.results.size(), 1u);
  EXPECT_EQ(o.results[0].names, std::vector<std::string>{"x"});
  EXPECT_TRUE(o.results[0].rows.empty());
  EXPECT_EQ(server_->Texts("option").size(), optionsBefore + 2);
}

TEST_F(Tds5dTest, CancelStopsAResultAndTheSessionGoesOn) {
  CtSession s;
  Open(s, "cancel");
  ASSERT_TRUE(s.Run("create table t (i int null)").ok);
  ASSERT_TRUE(s.Run("insert into t (i) values (1)").ok);
  for (int i = 0; i < 12; ++i) ASSERT_TRUE(s.Run("insert into t select i from t").ok);
  ASSERT_TRUE(s.StartRows("select i from t"));
  EXPECT_EQ(ct_cancel(nullptr, s.Command(), CS_CANCEL_ALL), CS_SUCCEED);
  // The cancelled command itself refuses its next send once (the client library's own rule);
  // the connection serves a new command at once.
  s.DropCommand();
  EXPECT_EQ(Rows(s.Run("select count(*) from t")), (std::vector<Row>{{"4096"}}));
}

// A dynamic insert with a parameter of every type the Corvex connector sends, values given as
// text and converted by the client library; read back as text.
TEST_F(Tds5dTest, DynamicStatementsTakeEveryParameterType) {
  CtSession s;
  Open(s, "dyn");
  ASSERT_TRUE(s.Run("create table t (k int not null, i int null, f float null, m money null, "
                    "n numeric(38,4) null, d datetime null, c varchar(255) null, "
                    "lc text null, b varbinary(255) null, lb image null)")
                  .ok);
  ASSERT_NO_FATAL_FAILURE(SetTextSize(s, 0x7FFFFFFF));
  CS_COMMAND* cmd = s.Command();
  std::string text = "insert into t values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
  ASSERT_EQ(
      ct_dynamic(cmd, CS_PREPARE, const_cast<char*>("ins"), CS_NULLTERM, text.data(), CS_NULLTERM),
      CS_SUCCEED);
  ASSERT_TRUE(s.Send(cmd, {}).ok);
  std::string longText(70000, 'x'), longBinary(70000, '\x5A');
  struct Param {
    CS_INT type;
    std::string value;  // converted from text; nullopt-like empty with null set
    bool null;
  };
  struct Case {
    std::vector<Param> params;  // after the key
    Row expected;               // columns i .. lb as read back
  } cases[] = {
      {{{CS_INT_TYPE, "-7", false},
        {CS_FLOAT_TYPE, "0.5", false},
        {CS_MONEY_TYPE, "-922337203685477.5808", false},
        {CS_NUMERIC_TYPE, "1234567890123456789012345678901234.5678", false},
        {CS_DATETIME_TYPE, "1850-01-02 03:04:05.060", false},
        {CS_CHAR_TYPE, std::string(255, 'c'), false},
        {CS_LONGCHAR_TYPE, longText, false},
        {CS_BINARY_TYPE, "\x01\x02", false},
        {CS_LONGBINARY_TYPE, longBinary, false}},
       {"-7", "0.5", "-922337203685477.5808", "1234567890123456789012345678901234.5678",
        "1850-01-02 03:04:05.060", std::string(255, 'c'), longText, "0102",
        [] {
          std::string hex;
          for (int i = 0; i < 70000; ++i) hex += "5a";
          return hex;
        }()}},
      {{{CS_INT_TYPE, "", true},
        {CS_FLOAT_TYPE, "", true},
        {CS_MONEY_TYPE, "", true},
        {CS_NUMERIC_TYPE, "", true},
        {CS_DATETIME_TYPE, "", true},
        {CS_CHAR_TYPE, "", true},
        {CS_LONGCHAR_TYPE, "", true},
        {CS_BINARY_TYPE, "", true},
        {CS_LONGBINARY_TYPE, "", true}},
       Row(9)},
  };
  int key = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(key);
    ASSERT_EQ(
        ct_dynamic(cmd, CS_EXECUTE, const_cast<char*>("ins"), CS_NULLTERM, nullptr, CS_UNUSED),
        CS_SUCCEED);
    std::vector<std::vector<char>> buffers;
    std::vector<CS_SMALLINT> inds(c.params.size() + 1);
    CS_DATAFMT keyFmt{};
    keyFmt.datatype = CS_INT_TYPE;
    keyFmt.maxlength = sizeof(CS_INT);
    keyFmt.status = CS_INPUTVALUE;
    CS_INT keyValue = key;
    ASSERT_EQ(ct_param(cmd, &keyFmt, &keyValue, sizeof keyValue, 0), CS_SUCCEED);
    for (size_t i = 0; i < c.params.size(); ++i) {
      const Param& p = c.params[i];
      CS_DATAFMT fmt{};
      fmt.datatype = p.type;
      fmt.status = CS_INPUTVALUE;
      fmt.maxlength = 300000;
      fmt.precision = p.type == CS_NUMERIC_TYPE ? 38 : 0;
      fmt.scale = p.type == CS_NUMERIC_TYPE ? 4 : 0;
      std::vector<char> buf(300000);
      CS_INT len = 0;
      if (p.type == CS_CHAR_TYPE || p.type == CS_LONGCHAR_TYPE || p.type == CS_BINARY_TYPE ||
          p.type == CS_LONGBINARY_TYPE) {
        std::copy(p.value.begin(), p.value.end(), buf.begin());
        len = static_cast<CS_INT>(p.value.size());
      } else if (!p.null) {
        CS_DATAFMT from{};
        from.datatype = CS_CHAR_TYPE;
        from.maxlength = static_cast<CS_INT>(p.value.size());
        ASSERT_EQ(cs_convert(s.context(), &from, const_cast<char*>(p.value.data()), &fmt,
                             buf.data(), &len),
                  CS_SUCCEED)
            << p.value;
      }
      inds[i] = p.null ? -1 : 0;
      buffers.push_back(std::move(buf));
      ASSERT_EQ(ct_param(cmd, &fmt, buffers.back().data(), len, inds[i]), CS_SUCCEED) << i;
    }
    CtOutcome o = s.Send(cmd, {});
    ASSERT_TRUE(o.ok);
    ASSERT_FALSE(o.counts.empty());
    EXPECT_EQ(o.counts.back(), 1);
    CtOutcome back =
        s.Run("select i, f, m, n, d, c, lc, b, lb from t where k = " + std::to_string(key));
    ASSERT_EQ(Rows(back).size(), 1u);
    for (size_t i = 0; i < c.expected.size(); ++i) EXPECT_EQ(Rows(back)[0][i], c.expected[i]) << i;
    ++key;
  }
  ASSERT_EQ(ct_dynamic(cmd, CS_DEALLOC, const_cast<char*>("ins"), CS_NULLTERM, nullptr, CS_UNUSED),
            CS_SUCCEED);
  EXPECT_TRUE(s.Send(cmd, {}).ok);
  EXPECT_TRUE(Logged("dynamic", "create proc ins as " + text));
}

// A cursor for update read row by row, each row changed or removed in between through
// "where current of" on a second command of the same connection.
TEST_F(Tds5dTest, CursorRowsAreWrittenBackInPlace) {
  CtSession s;
  Open(s, "cur");
  ASSERT_TRUE(s.Run("create table t (k int not null, v varchar(10) null)").ok);
  for (int k = 1; k <= 4; ++k)
    ASSERT_TRUE(s.Run("insert into t values (" + std::to_string(k) + ", \"v\")").ok);
  CS_COMMAND* cmd = nullptr;
  ASSERT_EQ(ct_cmd_alloc(s.connection(), &cmd), CS_SUCCEED);
  std::string text = "select k, v from t where k > 1 order by k";
  ASSERT_NO_FATAL_FAILURE(OpenCursor(cmd, "cursor_execute", text, CS_FOR_UPDATE, 0));
  // A second connection writes while the cursor is open, as a connector's work connection
  // does between the positioned writes of its reading one.
  CtSession other;
  ASSERT_TRUE(other.Connect("corvex_utf8", kTds5dUser, kTds5dPassword));
  ASSERT_TRUE(other.Run("use cur").ok);
  CS_INT type = 0;
  std::vector<std::string> seen;
  CS_RETCODE rc;
  while ((rc = ct_results(cmd, &type)) == CS_SUCCEED) {
    if (type != CS_CURSOR_RESULT) continue;
    CS_INT k = 0;
    ASSERT_NO_FATAL_FAILURE(BindInts(cmd, &k, 1));
    CS_INT rows = 0;
    while (ct_fetch(cmd, CS_UNUSED, CS_UNUSED, CS_UNUSED, &rows) == CS_SUCCEED) {
      seen.push_back(std::to_string(k));
      EXPECT_TRUE(other.Run("update t set v = \"o" + std::to_string(k) + "\" where k = 1").ok);
      std::string write = k == 3 ? "delete from t where current of cursor_execute"
                                 : "update t set v = \"w\" where current of cursor_execute";
      CtOutcome o = s.Run(write);
      EXPECT_TRUE(o.ok) << write;
      EXPECT_EQ(o.counts, std::vector<int>{1}) << write;
    }
  }
  EXPECT_EQ(rc, CS_END_RESULTS);
  EXPECT_EQ(seen, (std::vector<std::string>{"2", "3", "4"}));
  // After the last row none is current: a positioned write is refused and changes nothing.
  for (const char* write : {"delete from t where current of cursor_execute",
                            "update t set v = \"x\" where current of cursor_execute"}) {
    CtOutcome o = s.Run(write);
    EXPECT_FALSE(o.ok) << write;
    EXPECT_NE(std::find(o.messages.begin(), o.messages.end(), 592), o.messages.end()) << write;
  }
  ASSERT_EQ(ct_cursor(cmd, CS_CURSOR_CLOSE, nullptr, CS_UNUSED, nullptr, CS_UNUSED, CS_DEALLOC),
            CS_SUCCEED);
  ASSERT_EQ(ct_send(cmd), CS_SUCCEED);
  while ((rc = ct_results(cmd, &type)) == CS_SUCCEED) {
    EXPECT_NE(type, CS_CMD_FAIL);
  }
  EXPECT_EQ(rc, CS_END_RESULTS);
  ct_cmd_drop(cmd);
  EXPECT_EQ(Rows(s.Run("select k, v from t order by k")),
            (std::vector<Row>{{"1", "o4"}, {"2", "w"}, {"4", "w"}}));
  EXPECT_TRUE(Logged("cursor", text));
}

// Datetimes are kept in one form whatever form a literal has, so they compare as dates; the
// smallest numerics of a scale are stored and read back exactly.
TEST_F(Tds5dTest, DatesCompareAsDatesAndSmallNumericsFit) {
  CtSession s;
  Open(s, "values");
  ASSERT_TRUE(s.Run("create table d (k int not null, d datetime null)").ok);
  ASSERT_TRUE(
      s.Run("create table n (k int not null, n numeric(38,10) null, m numeric(5,5) null)").ok);
  for (const char* insert : {
           "insert into d values (1, '12/10/2026 02:37:48.08 PM')",
           "insert into d values (2, \"12/10/2026 2:40PM\")",
           "insert into d values (3, '12/10/2026 12:00:00.00 AM')",
           "insert into d values (4, '12/10/2026 12:30 pm')",
           "insert into d values (5, '1/1/1999 23:59:59.99')",
           "insert into d values (6, \"1999-06-30 08:00\")",
           "insert into n values (1, -0.0000000001, -0.00001)",
           "insert into n values (2, 0.0000000001, 0.99999)",
           "insert into n values (3, -9999999999999999999999999999.9999999999, 1e-5)",
       }) {
    CtOutcome o = s.Run(insert);
    EXPECT_TRUE(o.ok) << insert;
    EXPECT_EQ(o.counts, std::vector<int>{1}) << insert;
  }
  struct Case {
    const char* select;
    std::vector<Row> rows;
  } cases[] = {
      {"select k, d from d order by d",
       {{"5", "1999-01-01 23:59:59.990"},
        {"6", "1999-06-30 08:00:00.000"},
        {"3", "2026-12-10 00:00:00.000"},
        {"4", "2026-12-10 12:30:00.000"},
        {"1", "2026-12-10 14:37:48.080"},
        {"2", "2026-12-10 14:40:00.000"}}},
      // A stamp window as the connector writes it.
      {"select k from d where (d > '12/10/2026 02:37:48.00 PM' and d <= '12/10/2026 02:40:00.00 "
       "PM') order by k",
       {{"1"}, {"2"}}},
      {"select k from d where d < \"1/1/2000\" order by k", {{"5"}, {"6"}}},
      {"select k from d where d = '1999-06-30 08:00:00' and d >= \"06/30/1999 8:00 AM\"", {{"6"}}},
      {"select k, n, m from n order by k",
       {{"1", "-0.0000000001", "-0.00001"},
        {"2", "0.0000000001", "0.99999"},
        {"3", "-9999999999999999999999999999.9999999999", "0.00001"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.select);
    CtOutcome o = s.Run(c.select);
    EXPECT_TRUE(o.ok);
    EXPECT_EQ(Rows(o), c.rows);
  }
  // What does not fit is still refused.
  for (const char* insert :
       {"insert into n values (5, null, 1.0)", "insert into d values (7, '12/10/2026 13:00 PM')"}) {
    CtOutcome o = s.Run(insert);
    EXPECT_FALSE(o.ok) << insert;
  }
}

// A cursor that asks for rows in groups gets them all, in order.
TEST_F(Tds5dTest, CursorRowsComeInGroups) {
  CtSession s;
  Open(s, "curgroups");
  ASSERT_TRUE(s.Run("create table t (k int not null)").ok);
  for (int k = 1; k <= 5; ++k)
    ASSERT_TRUE(s.Run("insert into t values (" + std::to_string(k) + ")").ok);
  CS_COMMAND* cmd = s.Command();
  std::string text = "select k from t order by k";
  ASSERT_NO_FATAL_FAILURE(OpenCursor(cmd, "groups", text, CS_READ_ONLY, 2));
  // The client library wants an array of as many rows as the cursor gives at once.
  std::vector<CS_INT> seen;
  CS_INT type = 0;
  CS_RETCODE rc;
  while ((rc = ct_results(cmd, &type)) == CS_SUCCEED) {
    if (type != CS_CURSOR_RESULT) continue;
    CS_INT keys[2] = {};
    ASSERT_NO_FATAL_FAILURE(BindInts(cmd, keys, 2));
    CS_INT rows = 0;
    while (ct_fetch(cmd, CS_UNUSED, CS_UNUSED, CS_UNUSED, &rows) == CS_SUCCEED)
      seen.insert(seen.end(), keys, keys + rows);
  }
  EXPECT_EQ(rc, CS_END_RESULTS);
  EXPECT_EQ(seen, (std::vector<CS_INT>{1, 2, 3, 4, 5}));
  ASSERT_EQ(ct_cursor(cmd, CS_CURSOR_CLOSE, nullptr, CS_UNUSED, nullptr, CS_UNUSED, CS_DEALLOC),
            CS_SUCCEED);
  EXPECT_TRUE(s.Send(cmd, {}).ok);
}

// Text and image values over 64 KiB, written as literals and read in pieces with
// ct_get_data, with a column after them; each comes with its text pointer and time stamp.
TEST_F(Tds5dTest, TextAndImageOver64KiBWithColumnsAfterThem) {
  CtSession s;
  Open(s, "blobs");
  ASSERT_NO_FATAL_FAILURE(SetTextSize(s, 0x7FFFFFFF));
  ASSERT_TRUE(
      s.Run("create table t (i int not null, x text null, y image null, z varchar(5) null)").ok);
  std::string text, hex, image;
  for (int i = 0; i < 70000; ++i) {
    text += static_cast<char>('a' + i % 26);
    image += static_cast<char>(i % 251);
    char h[3];
    std::snprintf(h, sizeof h, "%02X", i % 251);
    hex += h;
  }
  ASSERT_TRUE(s.Run("insert into t values (1, \"" + text + "\", 0x" + hex + ", \"after\")").ok);
  ASSERT_TRUE(s.Run("insert into t values (2, null, null, \"n\")").ok);
  ASSERT_TRUE(s.StartRows("select i, x, y, z from t order by i"));
  CS_COMMAND* cmd = s.Command();
  CS_INT type = 0;
  CS_DATAFMT fmt{};
  fmt.datatype = CS_INT_TYPE;
  fmt.maxlength = sizeof(CS_INT);
  fmt.count = 1;
  CS_INT key = 0;
  ASSERT_EQ(ct_bind(cmd, 1, &fmt, &key, nullptr, nullptr), CS_SUCCEED);
  std::vector<std::vector<std::string>> rows;
  CS_INT fetched = 0;
  while (ct_fetch(cmd, CS_UNUSED, CS_UNUSED, CS_UNUSED, &fetched) == CS_SUCCEED) {
    std::vector<std::string> row{std::to_string(key)};
    for (CS_INT col = 2; col <= 4; ++col) {
      std::string value;
      char piece[4096];
      CS_INT got = 0;
      CS_RETCODE rc;
      while ((rc = ct_get_data(cmd, col, piece, sizeof piece, &got)) == CS_SUCCEED)
        value.append(piece, static_cast<size_t>(got));
      EXPECT_EQ(rc, col < 4 ? CS_END_ITEM : CS_END_DATA) << col;  // the last column ends the row
      value.append(piece, static_cast<size_t>(got));
      if (col < 4 && key == 1) {
        CS_IODESC io{};
        ASSERT_EQ(ct_data_info(cmd, CS_GET, col, &io), CS_SUCCEED);
        EXPECT_EQ(io.textptrlen, 16);
        EXPECT_EQ(io.timestamplen, 8);
        EXPECT_EQ(io.total_txtlen, 70000);
      }
      row.push_back(value);
    }
    rows.push_back(row);
  }
  while (ct_results(cmd, &type) == CS_SUCCEED) {
  }
  EXPECT_EQ(rows, (std::vector<std::vector<std::string>>{{"1", text, image, "after"},
                                                         {"2", "", "", "n"}}));
}

// freebcp into a table: refused while the database's bulk-copy option is off; a batch with a
// row the table refuses (a second key 2) leaves nothing; a good file lands exactly.
TEST_F(Tds5dTest, FreebcpBatchesAreWholeOrNothing) {
  CtSession s;
  Open(s, "bcp");
  ASSERT_TRUE(s.Run("create table t (k int not null, c char(4) not null, n numeric(20,4) null, "
                    "m money null, d datetime null, v varchar(300) null, x text null, "
                    "f float null)")
                  .ok);
  ASSERT_TRUE(s.Run("create unique index tk on t (k)").ok);
  std::string longText(300, 'v');
  struct Case {
    bool option;
    std::string file;
    const char* message;    // what the server says, null for nothing
    std::vector<Row> rows;  // the table afterwards
  } cases[] = {
      {false, "1\tabcd\t1.5\t2\t2020-01-02 03:04:05.123\tv\tx\t0.5\n", "Msg 4806", {}},
      {true, "1\tabcd\t\t\t\t\t\t\n2\tabcd\t\t\t\t\t\t\n2\tdupl\t\t\t\t\t\t\n", "Msg 2601", {}},
      {true,
       "1\tabcd\t1234567890123456.7891\t-922337203685477.5808\t2020-01-02 "
       "03:04:05.123\t" +
           longText + "\thello\t0.5\n2\twxyz\t\t\t\t\t\t\n",
       nullptr,
       {{"1", "abcd", "1234567890123456.7891", "-922337203685477.5808", "2020-01-02 03:04:05.123",
         longText, "hello", "0.5"},
        {"2", "wxyz", std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
         std::nullopt}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    ASSERT_TRUE(s.Run(std::string("exec sp_dboption bcp, \"select into/bulkcopy\", ") +
                      (c.option ? "true" : "false"))
                    .ok);
    twtest::WriteFile(server_->dir() + "bcp.txt", c.file);
    twtest::ChildProcess bcp;
    ASSERT_TRUE(bcp.Start({"/usr/bin/freebcp", "bcp..t", "in", server_->dir() + "bcp.txt", "-c",
                           "-S", "corvex_utf8", "-U", kTds5dUser, "-P", kTds5dPassword},
                          twtest::InheritedEnv(), "", true));
    twtest::ProcessResult r = bcp.Finish("", 60000);
    // freebcp counts the rows it sent even when the server refuses the batch: the server's
    // message tells.
    std::string said = r.out + r.err;
    if (c.message) {
      EXPECT_NE(said.find(c.message), std::string::npos) << said;
    } else {
      EXPECT_EQ(r.exitCode, 0) << said;
      EXPECT_EQ(said.find("Msg "), std::string::npos) << said;
    }
    EXPECT_EQ(Rows(s.Run("select * from t order by k")), c.rows);
  }
}

// The client library's bulk calls: money and long numerics bound as text arrive exact, one
// transaction per batch, and a batch with a refused row is not kept.
TEST_F(Tds5dTest, BulkCallsKeepMoneyAndNumericsExact) {
  CtSession s;
  ASSERT_TRUE(s.Connect("corvex_utf8", kTds5dUser, kTds5dPassword, true));
  s.Run("create database blk");
  ASSERT_TRUE(s.Run("use blk").ok);
  ASSERT_TRUE(s.Run("exec sp_dboption blk, \"select into/bulkcopy\", true").ok);
  ASSERT_TRUE(s.Run("create table t (k int not null, m money null, n9 numeric(9,0) null, "
                    "n12 numeric(12,2) null, n20 numeric(20,4) null)")
                  .ok);
  ASSERT_TRUE(s.Run("create unique index tk on t (k)").ok);
  CS_BLKDESC* blk = nullptr;
  ASSERT_EQ(blk_alloc(s.connection(), BLK_VERSION_100, &blk), CS_SUCCEED);
  ASSERT_EQ(blk_init(blk, CS_BLK_IN, const_cast<char*>("t"), CS_NULLTERM), CS_SUCCEED);
  char values[5][64] = {};
  CS_INT lengths[5] = {};
  for (CS_INT col = 1; col <= 5; ++col) {
    CS_DATAFMT fmt{};
    fmt.datatype = CS_CHAR_TYPE;
    fmt.maxlength = 64;
    fmt.count = 1;
    ASSERT_EQ(blk_bind(blk, col, &fmt, values[col - 1], &lengths[col - 1], nullptr), CS_SUCCEED);
  }
  struct Batch {
    std::vector<std::vector<std::string>> rows;
    bool ok;
  } batches[] = {
      {{{"1", "922337203685477.5807", "999999999", "9999999999.99", "9999999999999999.9999"},
        {"2", "-0.0001", "-1", "0.01", "-0.0001"}},
       true},
      {{{"3", "1", "1", "1", "1"}, {"1", "2", "2", "2", "2"}}, false},
  };
  for (const Batch& b : batches) {
    CS_RETCODE rc = CS_SUCCEED;
    for (const auto& row : b.rows) {
      for (size_t i = 0; i < row.size(); ++i) {
        std::snprintf(values[i], sizeof values[i], "%s", row[i].c_str());
        lengths[i] = static_cast<CS_INT>(row[i].size());
      }
      if (blk_rowxfer(blk) != CS_SUCCEED) rc = CS_FAIL;
    }
    CS_INT done = -1;
    if (blk_done(blk, CS_BLK_BATCH, &done) != CS_SUCCEED) rc = CS_FAIL;
    EXPECT_EQ(rc == CS_SUCCEED, b.ok);
    if (b.ok) {
      EXPECT_EQ(done, static_cast<CS_INT>(b.rows.size()));
    }
  }
  CS_INT done = 0;
  blk_done(blk, CS_BLK_ALL, &done);
  blk_drop(blk);
  EXPECT_EQ(Rows(s.Run("select k, m, n9, n12, n20 from t order by k")),
            (std::vector<Row>{{"1", "922337203685477.5807", "999999999", "9999999999.99",
                               "9999999999999999.9999"},
                              {"2", "-0.0001", "-1", "0.01", "-0.0001"}}));
}

// Broken requests get an error or a closed connection, never a fallen server: raw packets
// after a good login (or instead of one), then a client that still gets served.
TEST_F(Tds5dTest, BrokenRequestsLeaveTheServerServing) {
  auto packet = [](uint8_t type, const std::string& body) {
    std::string p(8, '\0');
    p[0] = static_cast<char>(type);
    p[1] = 1;
    p[2] = static_cast<char>((body.size() + 8) >> 8);
    p[3] = static_cast<char>((body.size() + 8) & 0xFF);
    return p + body;
  };
  std::string login(600, '\0');
  auto field = [&](size_t at, const std::string& v) {
    login.replace(at, v.size(), v);
    login[at + 30] = static_cast<char>(v.size());
  };
  field(31, kTds5dUser);
  field(62, kTds5dPassword);
  struct Case {
    bool logIn;
    std::string bytes;
  } cases[] = {
      {false, packet(2, "")},
      {false, std::string("\x02\x01\x00\x05", 4)},
      {false, packet(15, std::string("\x21\xff\xff\xff\xff", 5))},
      {true, packet(15, std::string("\x21\xff\xff\xff\xff\x00select", 11))},
      {true, packet(15, std::string("\xe7\x40\x00\x02\x01\x03ins", 9))},
      {true, packet(15, std::string("\xe7\x04\x00\x02\x01\x03ins\xec\xff\xff\xff\xff", 14))},
      {true, packet(15, std::string("\x86\xff\x00\x03cur", 7))},
      {true, packet(15, std::string("\x82\x05\x00\x07\x00\x00\x00\x01", 8))},
      {true, packet(15, std::string("\xa6\x03\x00\x01\x02\x09", 6))},
      {true, packet(15, std::string("\x99\x00", 2))},
      {true, packet(7, std::string("\x10\x00\x02\x00", 4))},
      {true, packet(1, "select 1")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes.size());
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(server_->port()));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    auto reply = [&] {  // reads one reply to its last packet, or to the end of the stream
      char head[8];
      for (;;) {
        if (::recv(fd, head, 8, MSG_WAITALL) != 8) return false;
        size_t n = (static_cast<uint8_t>(head[2]) << 8 | static_cast<uint8_t>(head[3])) - 8;
        std::string body(n, '\0');
        if (n && ::recv(fd, body.data(), n, MSG_WAITALL) != static_cast<ssize_t>(n)) return false;
        if (head[1] & 1) return true;
      }
    };
    if (c.logIn) {
      std::string p = packet(2, login);
      ASSERT_EQ(::send(fd, p.data(), p.size(), MSG_NOSIGNAL), static_cast<ssize_t>(p.size()));
      ASSERT_TRUE(reply());
    }
    ASSERT_EQ(::send(fd, c.bytes.data(), c.bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(c.bytes.size()));
    ::shutdown(fd, SHUT_WR);
    reply();
    ::close(fd);
  }
  CtSession s;
  ASSERT_TRUE(s.Connect("corvex_utf8", kTds5dUser, kTds5dPassword));
  EXPECT_EQ(Rows(s.Run("select 1")), (std::vector<Row>{{"1"}}));
}

TEST_F(Tds5dTest, TsqlRunsABatch) {
  twtest::ChildProcess tsql;
  ASSERT_TRUE(
      tsql.Start({"/usr/bin/tsql", "-S", "corvex_utf8", "-U", kTds5dUser, "-P", kTds5dPassword},
                 twtest::InheritedEnv(), "", true));
  twtest::ProcessResult r =
      tsql.Finish("select name from master..sysdatabases where name = 'master'\ngo\nquit\n", 30000);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("master"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("(1 row affected)"), std::string::npos) << r.out;
}

}  // namespace
