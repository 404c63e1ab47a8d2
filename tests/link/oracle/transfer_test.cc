// Records through the Oracle connector: the texts the server parses for selections and
// writes, values of every column type there and back (one by one and as arrays), commit
// counting, and the failures of bad values and bad requests.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "oracle_test_util.h"

namespace oracle_test {
namespace {

using twtest::List;
using twtest::SetValue;
using twtest::Text;

// Rows of a query as "a|b|NULL" lines, through a link of its own.
std::vector<std::string> Query(Link& link, const std::string& sql, uint32_t most = 64) {
  List dest(most);
  Text text(sql);
  uint32_t affected = 0;
  EXPECT_EQ(link.c.Execute(text.get(), dest.get(), &affected), TWSUCCESS) << sql;
  uint32_t got = 0;
  uint32_t st = link.c.Fetch(dest.get(), 1, most, &got);
  EXPECT_TRUE(st == TWSUCCESS || st == TWFAIL_END_OF_DATA) << st;
  std::vector<std::string> rows;
  for (uint32_t r = 1; r <= got; ++r) {
    std::string row;
    for (uint32_t i = 1; i <= dest.count(); ++i) {
      if (i > 1) row += "|";
      row += dest.Value(i, r).value_or("NULL");
    }
    rows.push_back(row);
  }
  return rows;
}

class OracleTransfer : public Connected {
 protected:
  OracleTransfer() { clock_ = "2024-05-06 00:30:01"; }

  uint32_t Exec(const std::string& sql) {
    Text t(sql);
    uint32_t affected = 0;
    return link_.c.Execute(t.get(), TWNULLHANDLE, &affected);
  }
  std::vector<std::string> Rows(const std::string& sql) {
    Link other;
    Open(other);
    return Query(other, sql);
  }
};

// A list of one record per row, fields named and typed as given, values set from text
// (nullopt leaves a value null).
struct Col {
  const char* name;
  uint32_t type;
  uint32_t flags = 0;
  uint32_t streamFormat = 0;
};
using Values = std::vector<std::vector<std::optional<std::string>>>;
void Fill(List& list, const std::vector<Col>& cols, const Values& rows) {
  for (const Col& c : cols) {
    TWFIELD f = list.Add(c.name, c.type);
    if (c.flags) {
      EXPECT_EQ(TWFieldSetFlags(f, c.flags), TWSUCCESS);
    }
    if (c.streamFormat) {
      EXPECT_EQ(TWFieldSetFormatStream(f, 0, 0, c.streamFormat), TWSUCCESS);
    }
  }
  for (size_t r = 0; r < rows.size(); ++r)
    for (size_t i = 0; i < cols.size(); ++i)
      if (rows[r][i])
        SetValue(list.Field(static_cast<uint32_t>(i + 1)), static_cast<uint32_t>(r + 1),
                 *rows[r][i]);
}

// A text list of names (a u16 count, the u16 lengths, the names) into a list property.
void SetList(TWStream& property, const std::vector<const char*>& names) {
  std::string bytes;
  auto u16 = [&](size_t v) {
    bytes += static_cast<char>(v & 0xFF);
    bytes += static_cast<char>(v >> 8);
  };
  u16(names.size());
  for (const char* n : names) u16(std::string_view(n).size());
  for (const char* n : names) bytes += n;
  ASSERT_EQ(TWStreamDataSet(&property, TWSTREAMFMT_TEXT_LIST, bytes.data(),
                            static_cast<uint32_t>(bytes.size())),
            TWSUCCESS);
}

TEST_F(OracleTransfer, TextsTheServerParses) {
  ASSERT_EQ(Exec("CREATE TABLE T (K NUMBER(5), A VARCHAR2(10), TS DATE)"), TWSUCCESS);
  // Inside every window below: after each BASESTAMP, before the server's clock.
  ASSERT_EQ(Exec("INSERT INTO T VALUES (1, 'a', '2024-05-06 00:00:00')"), TWSUCCESS);
  link_.Str(TWTOKEN_METADATA, "T");
  List keys(1);
  Fill(keys,
       {{"K", TWTYPE_INT, TWFIELDF_KEY | TWFIELDF_KEY_GT | TWFIELDF_KEY_NE}, {"A", TWTYPE_TEXT}},
       {{"0", "a"}});
  TWDatetime base{};
  struct Case {
    const char* what;
    std::vector<const char*> fieldList, orderList;
    bool writeback;
    const char* stamp;  // BASESTAMP "YYYY-MM-DD HH:MM:SS", or "" for a window without it
    bool keyed;
    const char* text;
  };
  const Case cases[] = {
      {"plain", {}, {}, false, nullptr, false, "SELECT * FROM T"},
      {"fields", {"K", "A"}, {}, false, nullptr, false, "SELECT K,A FROM T"},
      {"writeback fields",
       {"K", "A"},
       {},
       true,
       nullptr,
       false,
       "SELECT K,A,ROWID FROM T FOR UPDATE OF K,A"},
      {"writeback",
       {},
       {},
       true,
       nullptr,
       false,
       "SELECT K,A,TS,ROWID FROM T FOR UPDATE OF K,A,TS"},
      {"window",
       {},
       {},
       false,
       "",
       false,
       "SELECT * FROM T WHERE  (TS <=  TO_DATE ('2024 5 6 12 30 0 AM', 'YYYY MM DD HH MI SS AM') "
       ") "},
      {"window 00:30",
       {},
       {},
       false,
       "2024-05-05 00:30:00",
       false,
       "SELECT * FROM T WHERE  (TS >  TO_DATE ('2024 5 5 12 30 0 AM', 'YYYY MM DD HH MI SS AM')  "
       "AND "
       "TS <=  TO_DATE ('2024 5 6 12 30 0 AM', 'YYYY MM DD HH MI SS AM') ) "},
      {"window 12:30",
       {},
       {},
       false,
       "2024-05-05 12:30:00",
       false,
       "SELECT * FROM T WHERE  (TS >  TO_DATE ('2024 5 5 12 30 0 PM', 'YYYY MM DD HH MI SS AM')  "
       "AND "
       "TS <=  TO_DATE ('2024 5 6 12 30 0 AM', 'YYYY MM DD HH MI SS AM') ) "},
      {"window 18:05",
       {},
       {},
       false,
       "2024-05-05 18:05:00",
       false,
       "SELECT * FROM T WHERE  (TS >  TO_DATE ('2024 5 5 6 5 0 PM', 'YYYY MM DD HH MI SS AM')  AND "
       "TS <=  TO_DATE ('2024 5 6 12 30 0 AM', 'YYYY MM DD HH MI SS AM') ) "},
      {"keys and order",
       {},
       {"A", "K"},
       false,
       nullptr,
       true,
       "SELECT * FROM T WHERE K>:00001 ORDER BY A,K"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    link_.c.props.writeBack = c.writeback;
    TWStreamDataFree(&link_.c.props.fieldList);
    TWStreamDataFree(&link_.c.props.orderList);
    TWStreamDataFree(&link_.c.props.stampField);
    TWDatetimeClear(&link_.c.props.baseStamp);
    for (auto [names, list] : {std::pair{&c.fieldList, &link_.c.props.fieldList},
                               std::pair{&c.orderList, &link_.c.props.orderList}})
      if (!names->empty()) SetList(*list, *names);
    if (c.stamp) {
      link_.Str(TWTOKEN_STAMPFIELD, "TS");
      if (*c.stamp) {
        Text t(c.stamp);
        ASSERT_EQ(TWDatetimeFromStream(&base, t.get()), TWSUCCESS);
        link_.c.props.baseStamp = base;
      }
    }
    List dest(2);
    uint32_t affected = 0;
    ASSERT_EQ(link_.c.Select(c.keyed ? keys.get() : TWNULLHANDLE, 1, dest.get(), &affected),
              TWSUCCESS);
    EXPECT_EQ(affected, TWCOUNT_UNKNOWN);
    EXPECT_EQ(LastStatement(), c.text);
    EXPECT_EQ(link_.c.queryState(), c.keyed ? 2 : 1);
    if (c.stamp) {
      // MAXSTAMP is the server's clock less a second.
      TWDatetimeParts p{};
      ASSERT_EQ(TWDatetimeGetParts(&link_.c.props.maxStamp, TWPARTSF_LOCAL, &p), TWSUCCESS);
      EXPECT_EQ(std::vector<int>({p.year, p.month, p.day, p.hour, p.minute, p.second}),
                std::vector<int>({2024, 5, 6, 0, 30, 0}));
    }
    uint32_t got = 0;
    EXPECT_EQ(link_.c.Fetch(dest.get(), 1, 2, &got), TWSUCCESS);
    EXPECT_EQ(got, 1u);
    EXPECT_EQ(link_.c.Action(TWACTION_RESET), TWSUCCESS);
  }
}

TEST_F(OracleTransfer, WriteTextsAndTheirBinds) {
  ASSERT_EQ(Exec("CREATE TABLE T (K NUMBER(5), A VARCHAR2(10), B VARCHAR2(10))"), TWSUCCESS);
  link_.Str(TWTOKEN_METADATA, "t");  // the server folds names
  List rows(2);
  Fill(rows,
       {{"K", TWTYPE_INT, TWFIELDF_KEY | TWFIELDF_NO_UPDATE},
        {"A", TWTYPE_TEXT},
        {"B", TWTYPE_TEXT}},
       {{"1", "a", "b"}, {"2", "c", "d"}});
  uint32_t n = 0;
  ASSERT_EQ(link_.c.Insert(rows.get(), 1, 2, &n), TWSUCCESS);
  EXPECT_EQ(n, 2u);
  EXPECT_EQ(LastStatement(), "INSERT INTO t (K,A,B) VALUES (:00001,:00002,:00003) ");
  // The key field that may not be updated is bound only as the key: no bind of a
  // placeholder the text does not hold.
  SetValue(rows.Field(2), 1, "x");
  n = 0;
  ASSERT_EQ(link_.c.Update(rows.get(), 1, 1, &n), TWSUCCESS);
  EXPECT_EQ(n, 1u);
  EXPECT_EQ(LastStatement(), "UPDATE t SET A=:00002,B=:00003 WHERE K=:00004");
  List key(1);
  Fill(key, {{"K", TWTYPE_INT, TWFIELDF_KEY}}, {{"2"}});
  n = 0;
  ASSERT_EQ(link_.c.Remove(key.get(), 1, 1, &n), TWSUCCESS);
  EXPECT_EQ(n, 1u);
  EXPECT_EQ(LastStatement(), "DELETE FROM t WHERE K=:00001");
  EXPECT_EQ(Query(link_, "SELECT K, A, B FROM T"), std::vector<std::string>({"1|x|b"}));

  // Without a key, a condition or a fetched row, nothing is written: 12549.
  List loose(1);
  Fill(loose, {{"K", TWTYPE_INT}, {"A", TWTYPE_TEXT}}, {{"1", "gone"}});
  for (bool update : {true, false}) {
    n = 0;
    EXPECT_EQ(
        update ? link_.c.Update(loose.get(), 1, 1, &n) : link_.c.Remove(loose.get(), 1, 1, &n),
        TWFAIL_KEY_COUNT_MISMATCH);
    EXPECT_EQ(twtest::LogLast().status, TWFAIL_KEY_COUNT_MISMATCH);
  }
  // A condition is enough.
  link_.Str(TWTOKEN_CONDITION, "K = 1");
  ASSERT_EQ(link_.c.Update(loose.get(), 1, 1, &n), TWSUCCESS);
  EXPECT_EQ(LastStatement(), "UPDATE t SET K=:00001,A=:00002 WHERE  (K = 1) ");
  EXPECT_EQ(Query(link_, "SELECT K, A, B FROM T"), std::vector<std::string>({"1|gone|b"}));
}

// Fields matched by name, fewer than the columns and in another order: each value goes to
// and comes from the column the merge paired it with.
TEST_F(OracleTransfer, FieldsMappedByName) {
  ASSERT_EQ(Exec("CREATE TABLE T (K NUMBER(5), A VARCHAR2(10), B VARCHAR2(10))"), TWSUCCESS);
  link_.Str(TWTOKEN_METADATA, "T").Num(TWTOKEN_MAP_NAME, 1);
  List in(2);
  Fill(in, {{"B", TWTYPE_TEXT}, {"K", TWTYPE_INT}}, {{"b1", "1"}, {"b2", "2"}});
  for (uint32_t perCall : {1u, 2u}) {
    uint32_t n = 0;
    ASSERT_EQ(link_.c.Action(TWACTION_TRUNCATE), TWSUCCESS);
    for (uint32_t r = 1; r <= 2; r += perCall)
      ASSERT_EQ(link_.c.Insert(in.get(), r, perCall, &n), TWSUCCESS);
    EXPECT_EQ(Query(link_, "SELECT K, A, B FROM T ORDER BY K"),
              std::vector<std::string>({"1|NULL|b1", "2|NULL|b2"}));
  }
  List key(1);
  Fill(key, {{"B", TWTYPE_TEXT}, {"K", TWTYPE_INT, TWFIELDF_KEY}}, {{"new", "2"}});
  uint32_t n = 0;
  ASSERT_EQ(link_.c.Update(key.get(), 1, 1, &n), TWSUCCESS);
  // The view follows the table's order: K, then B; key placeholders follow all three columns.
  EXPECT_EQ(LastStatement(), "UPDATE T SET K=:00001,B=:00002 WHERE K=:00004");
  link_.Str(TWTOKEN_ORDER_LIST, "K");
  List out(2);
  Fill(out, {{"B", TWTYPE_TEXT}}, {});
  uint32_t affected = 0, got = 0;
  ASSERT_EQ(link_.c.Select(TWNULLHANDLE, 1, TWNULLHANDLE, &affected), TWSUCCESS);
  ASSERT_EQ(link_.c.Fetch(out.get(), 1, 2, &got), TWSUCCESS);
  EXPECT_EQ(out.Value(1, 1), "b1");
  EXPECT_EQ(out.Value(1, 2), "new");
}

// A number or datetime list gives a number or date column its one value; an empty list is
// null.
TEST_F(OracleTransfer, ListsGiveTheirOnlyValue) {
  ASSERT_EQ(Exec("CREATE TABLE T (N NUMBER(10,2), D DATE)"), TWSUCCESS);
  link_.Str(TWTOKEN_METADATA, "T");
  List in(2);
  Fill(in,
       {{"N", TWTYPE_BINARY, 0, TWSTREAMFMT_NUMBER_LIST},
        {"D", TWTYPE_BINARY, TWFIELDF_TRUNC_PREC, TWSTREAMFMT_DATETIME_LIST}},
       {{"2.5", "2024-05-06 07:08:09"}, {std::nullopt, std::nullopt}});
  for (uint32_t perCall : {1u, 2u}) {
    ASSERT_EQ(link_.c.Action(TWACTION_TRUNCATE), TWSUCCESS);
    uint32_t n = 0;
    for (uint32_t r = 1; r <= 2; r += perCall)
      ASSERT_EQ(link_.c.Insert(in.get(), r, perCall, &n), TWSUCCESS);
    EXPECT_EQ(Query(link_, "SELECT N, D FROM T ORDER BY N"),
              std::vector<std::string>({"NULL|NULL", "2.5|05/06/2024 07:08:09 AM"}));
  }
}

TEST_F(OracleTransfer, ValuesOfEveryTypeThereAndBack) {
  ASSERT_EQ(Exec("CREATE TABLE V (K NUMBER(5), N NUMBER(10,2), B NUMBER(20), D DATE, "
                 "C CHAR(6), S VARCHAR2(20), R RAW(8))"),
            TWSUCCESS);
  // A DATE keeps no hundredths: writing a datetime needs TRUNC_PREC.
  const std::vector<Col> cols = {{"K", TWTYPE_INT},
                                 {"N", TWTYPE_FLOAT},
                                 {"B", TWTYPE_NUMERIC},
                                 {"D", TWTYPE_DATETIME, TWFIELDF_TRUNC_PREC},
                                 {"C", TWTYPE_TEXT},
                                 {"S", TWTYPE_TEXT},
                                 {"R", TWTYPE_BINARY, 0, TWSTREAMFMT_BLOB}};
  const Values values = {
      {"1", "12.5", "12345678901234567890", "1999-12-31 23:59:58", "ab", "h\xc3\xa9llo", "0001FF"},
      {"2", "-0.01", "-5", "1815-12-10 00:00:00", "abcdef", " sp  ", std::nullopt},
      {"3", std::nullopt, std::nullopt, std::nullopt, std::nullopt, "", std::nullopt},
  };
  link_.Str(TWTOKEN_METADATA, "V").Str(TWTOKEN_ORDER_LIST, "K");
  for (uint32_t perCall : {1u, 3u}) {
    SCOPED_TRACE(perCall);
    ASSERT_EQ(link_.c.Action(TWACTION_TRUNCATE), TWSUCCESS);
    List in(3);
    Fill(in, cols, values);
    for (uint32_t r = 1; r <= 3; r += perCall) {
      uint32_t n = 0;
      ASSERT_EQ(link_.c.Insert(in.get(), r, perCall, &n), TWSUCCESS);
      EXPECT_EQ(n, perCall);
    }
    List out(4);
    uint32_t affected = 0;
    ASSERT_EQ(link_.c.Select(TWNULLHANDLE, 1, out.get(), &affected), TWSUCCESS);
    uint32_t got = 0;
    ASSERT_EQ(link_.c.Fetch(out.get(), 1, 4, &got), TWSUCCESS);
    ASSERT_EQ(got, 3u);
    EXPECT_EQ(link_.c.Fetch(out.get(), 1, 4, &got), TWFAIL_END_OF_DATA);
    for (uint32_t r = 1; r <= 3; ++r)
      for (uint32_t i = 1; i <= cols.size(); ++i) {
        // '' comes back NULL; every other value as it went, a CHAR without its padding and a
        // VARCHAR2 with its blanks.
        std::optional<std::string> want = in.Value(i, r);
        if (want && want->empty()) want.reset();
        EXPECT_EQ(out.Value(i, r), want) << cols[i - 1].name << " row " << r;
      }
  }

  // A long value of more than 64 KiB, single and in an array (a table with a long column
  // takes them one by one), keeps every byte, its blanks too.
  ASSERT_EQ(Exec("CREATE TABLE L (K NUMBER(5), T LONG)"), TWSUCCESS);
  link_.Str(TWTOKEN_METADATA, "L").Str(TWTOKEN_ORDER_LIST, "K");
  std::string big;
  for (int i = 0; big.size() < 70000; ++i) big += std::to_string(i) + ",";
  big += "  ";
  List longs(2);
  Fill(longs, {{"K", TWTYPE_INT}, {"T", TWTYPE_TEXT}}, {{"1", big}, {"2", "short "}});
  uint32_t n = 0;
  ASSERT_EQ(link_.c.Insert(longs.get(), 1, 2, &n), TWSUCCESS);
  EXPECT_EQ(n, 2u);
  List back(2);
  uint32_t affected = 0, got = 0;
  ASSERT_EQ(link_.c.Select(TWNULLHANDLE, 1, back.get(), &affected), TWSUCCESS);
  ASSERT_EQ(link_.c.Fetch(back.get(), 1, 2, &got), TWSUCCESS);
  EXPECT_EQ(got, 2u);
  EXPECT_EQ(back.Value(2, 1), big);
  EXPECT_EQ(back.Value(2, 2), "short ");
}

TEST_F(OracleTransfer, CommitFrequencyDecidesWhatOthersSee) {
  ASSERT_EQ(Exec("CREATE TABLE T (K NUMBER(5))"), TWSUCCESS);
  link_.Str(TWTOKEN_METADATA, "T");
  List rows(7);
  Fill(rows, {{"K", TWTYPE_INT}}, {{"1"}, {"2"}, {"3"}, {"4"}, {"5"}, {"6"}, {"7"}});
  struct Case {
    int32_t frequency;
    uint32_t perCall;
    const char* seen;  // rows another connection sees after seven
  };
  for (Case c : {Case{0, 1, "0"}, Case{1, 1, "7"}, Case{5, 1, "5"}, Case{5, 7, "7"}}) {
    SCOPED_TRACE(std::to_string(c.frequency) + "/" + std::to_string(c.perCall));
    ASSERT_EQ(link_.c.Action(TWACTION_TRUNCATE), TWSUCCESS);
    ASSERT_EQ(link_.c.Action(TWACTION_COMMIT), TWSUCCESS);
    link_.Num(oracle::kCommitFrequency, c.frequency);
    for (uint32_t r = 1; r <= 7; r += c.perCall) {
      uint32_t n = 0;
      ASSERT_EQ(link_.c.Insert(rows.get(), r, c.perCall, &n), TWSUCCESS);
    }
    EXPECT_EQ(Rows("SELECT COUNT(*) FROM T"), std::vector<std::string>({c.seen}));
    ASSERT_EQ(link_.c.Action(TWACTION_COMMIT), TWSUCCESS);
  }
}

// A writeback selection: each fetched row is updated or removed by its ROWID, and commits
// of the counter or of autocommit wait for the selection's end instead of ending its cursor.
TEST_F(OracleTransfer, WritebackHoldsItsRowsUntilTheSelectionEnds) {
  ASSERT_EQ(Exec("CREATE TABLE T (K NUMBER(5), A VARCHAR2(10))"), TWSUCCESS);
  for (int32_t frequency : {0, 1, 2}) {
    SCOPED_TRACE(frequency);
    link_.c.props.writeBack = 0;
    link_.Str(TWTOKEN_METADATA, "T").Num(oracle::kCommitFrequency, frequency);
    ASSERT_EQ(link_.c.Action(TWACTION_TRUNCATE), TWSUCCESS);
    List seed(4);
    Fill(seed, {{"K", TWTYPE_INT}, {"A", TWTYPE_TEXT}},
         {{"1", "a"}, {"2", "b"}, {"3", "c"}, {"4", "d"}});
    uint32_t n = 0;
    ASSERT_EQ(link_.c.Insert(seed.get(), 1, 4, &n), TWSUCCESS);
    ASSERT_EQ(link_.c.Action(TWACTION_COMMIT), TWSUCCESS);
    link_.Num(TWTOKEN_WRITEBACK, 1).Str(TWTOKEN_ORDER_LIST, "K");
    List row(1);
    uint32_t affected = 0;
    ASSERT_EQ(link_.c.Select(TWNULLHANDLE, 1, row.get(), &affected), TWSUCCESS);
    EXPECT_EQ(link_.c.Update(row.get(), 1, 1, &n), TWFAIL_NO_WRITEBACK);
    for (uint32_t k = 1; k <= 4; ++k) {
      uint32_t got = 0;
      ASSERT_EQ(link_.c.Fetch(row.get(), 1, 1, &got), TWSUCCESS) << k;
      ASSERT_EQ(row.Value(1, 1), std::to_string(k));
      EXPECT_EQ(link_.c.Update(row.get(), 1, 2, &n), TWFAIL_WRITEBACK_COUNT);
      n = 0;
      // Each statement is parsed once, at its first use.
      if (k % 2 == 0) {
        ASSERT_EQ(link_.c.Remove(TWNULLHANDLE, 1, 1, &n), TWSUCCESS);
        if (k == 2) {
          EXPECT_EQ(LastStatement(), "DELETE FROM T WHERE  ROWID = :ROW_ID");
        }
      } else {
        SetValue(row.Field(2), 1, "new");
        ASSERT_EQ(link_.c.Update(row.get(), 1, 1, &n), TWSUCCESS);
        if (k == 1) {
          EXPECT_EQ(LastStatement(), "UPDATE T SET K=:00001,A=:00002 WHERE  ROWID = :ROW_ID");
        }
      }
      EXPECT_EQ(n, 1u);
    }
    uint32_t got = 0;
    EXPECT_EQ(link_.c.Fetch(row.get(), 1, 1, &got), TWFAIL_END_OF_DATA);
    // The end of the selection commits what the counter or autocommit held back.
    ASSERT_EQ(link_.c.Action(TWACTION_RESET), TWSUCCESS);
    EXPECT_EQ(Rows("SELECT K, A FROM T ORDER BY K"),
              frequency == 0 ? std::vector<std::string>({"1|a", "2|b", "3|c", "4|d"})
                             : std::vector<std::string>({"1|new", "3|new"}));
    ASSERT_EQ(link_.c.Action(TWACTION_ROLLBACK), TWSUCCESS);
  }
}

TEST_F(OracleTransfer, ArraysOfEverySizeAndTheBindsInForce) {
  ASSERT_EQ(Exec("CREATE TABLE T (K NUMBER(10), A VARCHAR2(12))"), TWSUCCESS);
  link_.Str(TWTOKEN_METADATA, "T").Str(TWTOKEN_ORDER_LIST, "K");
  // More records than one array fetch holds, written in one array and read in one call.
  const uint32_t kMany = 40000;
  List many(kMany);
  TWFIELD k = many.Add("K", TWTYPE_INT);
  TWFIELD a = many.Add("A", TWTYPE_TEXT);
  for (uint32_t r = 1; r <= kMany; ++r) {
    int32_t v = static_cast<int32_t>(r);
    ASSERT_EQ(TWFieldSetInt(k, r, &v), TWSUCCESS);
    SetValue(a, r, "v" + std::to_string(r));
  }
  // One record, then an array of the same list: the array's rows, not the single one's.
  uint32_t n = 0;
  ASSERT_EQ(link_.c.Insert(many.get(), 1, 1, &n), TWSUCCESS);
  n = 0;
  ASSERT_EQ(link_.c.Insert(many.get(), 2, kMany - 1, &n), TWSUCCESS);
  EXPECT_EQ(n, kMany - 1);
  List out(kMany + 5);
  uint32_t affected = 0, got = 0;
  ASSERT_EQ(link_.c.Select(TWNULLHANDLE, 1, out.get(), &affected), TWSUCCESS);
  ASSERT_EQ(link_.c.Fetch(out.get(), 1, kMany + 5, &got), TWSUCCESS);
  ASSERT_EQ(got, kMany);
  for (uint32_t r : {1u, 2u, 32767u, 32768u, 32769u, kMany}) {
    EXPECT_EQ(out.Value(1, r), std::to_string(r));
    EXPECT_EQ(out.Value(2, r), "v" + std::to_string(r));
  }
  // Ten asked when three remain: three, then the end.
  ASSERT_EQ(link_.c.Select(TWNULLHANDLE, 1, TWNULLHANDLE, &affected), TWSUCCESS);
  got = 0;
  ASSERT_EQ(link_.c.Fetch(out.get(), 1, kMany - 3, &got), TWSUCCESS);
  got = 0;
  EXPECT_EQ(link_.c.Fetch(out.get(), 1, 10, &got), TWSUCCESS);
  EXPECT_EQ(got, 3u);
  EXPECT_EQ(out.Value(1, 3), std::to_string(kMany));
  got = 0;
  EXPECT_EQ(link_.c.Fetch(out.get(), 1, 10, &got), TWFAIL_END_OF_DATA);
  EXPECT_EQ(link_.c.Fetch(out.get(), 1, 10, &got), TWFAIL_END_OF_DATA);
  EXPECT_EQ(link_.c.Action(TWACTION_RESET), TWSUCCESS);
  EXPECT_EQ(link_.c.Fetch(out.get(), 1, 10, &got), TWFAIL_NO_RESULTSET);
}

TEST_F(OracleTransfer, BadValuesAndBadRequests) {
  ASSERT_EQ(Exec("CREATE TABLE T (K NUMBER(5), N NUMBER(10,2), A VARCHAR2(3))"), TWSUCCESS);
  link_.Str(TWTOKEN_METADATA, "T").Num(oracle::kRollbackOnError, 1);
  List rows(4);
  Fill(rows, {{"K", TWTYPE_INT}, {"N", TWTYPE_FLOAT}, {"A", TWTYPE_TEXT}},
       {{"1", "1", "ok"}, {"2", "2", "ok"}, {"3", "3", "long"}, {"4", "4", "ok"}});
  struct Case {
    uint32_t perCall;
    uint32_t written;  // records written and counted before the failure
  };
  for (Case c : {Case{1, 2}, Case{4, 2}}) {
    SCOPED_TRACE(c.perCall);
    ASSERT_EQ(link_.c.Action(TWACTION_TRUNCATE), TWSUCCESS);
    uint32_t n = 0, st = TWSUCCESS;
    for (uint32_t r = 1; r <= 4 && st == TWSUCCESS; r += c.perCall)
      st = link_.c.Insert(rows.get(), r, c.perCall, &n);
    EXPECT_EQ(st, TWFAIL_OVERFLOW);
    EXPECT_EQ(n, c.written);
    twtest::LastEntry last = twtest::LogLast();
    EXPECT_EQ(last.status, TWFAIL_OVERFLOW);
    EXPECT_NE(last.text.find("'A'"), std::string::npos) << last.text;
    EXPECT_EQ(Query(link_, "SELECT COUNT(*) FROM T"),
              std::vector<std::string>({std::to_string(c.written)}));
  }
  // The run ended in error: with RollbackOnError nothing stays.
  EXPECT_EQ(link_.c.Disconnect(1), TWSUCCESS);
  EXPECT_EQ(Rows("SELECT COUNT(*) FROM T"), std::vector<std::string>({"0"}));
  ASSERT_EQ(link_.c.Connect(), TWSUCCESS);

  // A number with decimals into an integer field needs TRUNC_PREC; a missing table is named.
  List out(1);
  TWFIELD f = out.Add("N", TWTYPE_INT);
  link_.Str(TWTOKEN_FIELD_LIST, "N");
  uint32_t one = 0;
  ASSERT_EQ(link_.c.Insert(rows.get(), 1, 1, &one), TWSUCCESS);
  uint32_t affected = 0, got = 0;
  ASSERT_EQ(link_.c.Select(TWNULLHANDLE, 1, TWNULLHANDLE, &affected), TWSUCCESS);
  EXPECT_EQ(link_.c.Fetch(out.get(), 1, 1, &got), TWFAIL_PRECISION_LOSS);
  ASSERT_EQ(TWFieldSetFlags(f, TWFIELDF_TRUNC_PREC), TWSUCCESS);
  ASSERT_EQ(link_.c.Select(TWNULLHANDLE, 1, TWNULLHANDLE, &affected), TWSUCCESS);
  EXPECT_EQ(link_.c.Fetch(out.get(), 1, 1, &got), TWSUCCESS);
  link_.Str(TWTOKEN_METADATA, "NOPE");
  uint32_t n = 0;
  EXPECT_EQ(link_.c.Insert(rows.get(), 1, 1, &n), TWFAIL_INVALID_METADATA);
  twtest::LastEntry last = twtest::LogLast();
  EXPECT_EQ(last.status, TWFAIL_INVALID_METADATA);
  EXPECT_NE(last.text.find("'NOPE'"), std::string::npos) << last.text;
  EXPECT_EQ(link_.c.Select(TWNULLHANDLE, 1, TWNULLHANDLE, &affected), TWFAIL_INVALID_METADATA);
}

class OracleSjis : public OracleTransfer {
 protected:
  OracleSjis() { charset_ = "JA16SJIS"; }
};

// The server's sizes count bytes of its character set (two for each of these characters):
// what fits comes back byte for byte, one character more is refused, or cut on a whole
// character under TRUNC_DATA, one array and one record at a time.
TEST_F(OracleSjis, MultiByteTextIsCutOnAWholeCharacter) {
  ASSERT_EQ(Exec("CREATE TABLE J (K NUMBER(5), A VARCHAR2(5))"), TWSUCCESS);
  link_.Str(TWTOKEN_METADATA, "J");
  const std::string fits =
      "\xE6\x97\xA5\xE6\x9C\xAC"
      "a";                                                          // 5 bytes in the set
  const std::string more = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E";  // 6 bytes
  for (uint32_t perCall : {1u, 2u}) {
    SCOPED_TRACE(perCall);
    ASSERT_EQ(link_.c.Action(TWACTION_TRUNCATE), TWSUCCESS);
    List rows(2);
    Fill(rows, {{"K", TWTYPE_INT}, {"A", TWTYPE_TEXT, TWFIELDF_TRUNC_DATA}},
         {{"1", fits}, {"2", more}});
    uint32_t n = 0, st = TWSUCCESS;
    for (uint32_t r = 1; r <= 2 && st == TWSUCCESS; r += perCall)
      st = link_.c.Insert(rows.get(), r, perCall, &n);
    EXPECT_EQ(st, TWSUCCESS) << twtest::LogLast().text;
    EXPECT_EQ(Query(link_, "SELECT A FROM J ORDER BY K"),
              std::vector<std::string>({fits, "\xE6\x97\xA5\xE6\x9C\xAC"}));
    ASSERT_EQ(TWFieldSetFlags(rows.Field(2), 0), TWSUCCESS);
    EXPECT_EQ(link_.c.Insert(rows.get(), 2, 1, &n), TWFAIL_OVERFLOW);
  }
}

}  // namespace
}  // namespace oracle_test
