// The change propagation on real data sources: change tables (the XDBSNAP_* control columns
// and the after-images of t's columns, filled by SQL) on SQLite or PostgreSQL applied by
// relay.twx through sqlcli.twx to a table t on SQLite or PostgreSQL; what t holds and the
// LastDiffSeq the run kept are read back.
#include <gtest/gtest.h>

#include <cctype>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "activity_runner.h"
#include "sql_fixture.h"

namespace {

using sqltest::Database;
using sqltest::Engine;
using sqltest::List;
using sqltest::Number;
using sqltest::Property;
using sqltest::Text;

// relay's own tokens.
enum : uint32_t {
  kCreate = 1,
  kLastDiffSeq = 4,
  kKeyFieldList = 5,
  kSrcFieldList = 6,
  kDestFieldList = 7,
};

// The commit sequence of commit n: ten bytes, with hexadecimal letters in them.
std::string Commit(int n) {
  static const char kDigits[] = "0123456789ABCDEF";
  return std::string("0A0B0C0D0E0F0000") + "00" + kDigits[(n >> 4) & 0xF] + kDigits[n & 0xF];
}
std::string Intent(int n) {
  return Commit(n);
}

// One change row: commit and intent sequence (hexadecimal), operation, after-image.
struct Change {
  std::string commit;
  int intent;
  std::string operation;
  int k;
  std::string v;  // "NULL" for a null
};

struct Engines {
  Engine source, dest;
};
std::string EnginesName(const ::testing::TestParamInfo<Engines>& p) {
  return std::string(sqltest::EngineName(p.param.source)) + "_to_" +
         sqltest::EngineName(p.param.dest);
}

std::string Rows(const std::vector<std::string>& rows) {
  std::string out;
  for (const std::string& row : rows) out += row + "\n";
  return out;
}

struct RunCase {
  const char* name;
  std::string lastDiffSeq;
  std::vector<Change> changes;
  std::vector<std::string> before;
  uint32_t status;  // 0, or a failure; ~0u: any failure of the destination
  std::vector<std::string> after;
  std::string stored;  // the LastDiffSeq kept for the next run
  std::string logged;  // a text the run logged
};

class RelayTest : public sqltest::ActivityFixture, public ::testing::WithParamInterface<Engines> {
 protected:
  RelayTest() : ActivityFixture("relay") {}
  void SetUp() override {
    if ((GetParam().source == Engine::kPostgres || GetParam().dest == Engine::kPostgres) &&
        !odbc_test::PgAvailable())
      GTEST_SKIP() << "no PostgreSQL cluster (TW_PG_PORT)";
    ASSERT_NO_FATAL_FAILURE(ActivityFixture::SetUp());
    src_ = sqltest::MakeDatabase(GetParam().source);
    dest_ = sqltest::MakeDatabase(GetParam().dest);
  }

  // The change table chg with the rows given, and t with its rows ("k|v"; no t: nullopt).
  void Tables(const std::vector<Change>& changes,
              const std::optional<std::vector<std::string>>& rows) {
    src_->Exec("DROP TABLE IF EXISTS chg");
    dest_->Exec("DROP TABLE IF EXISTS t");
    const std::string blob = src_->BlobType();
    src_->Exec("CREATE TABLE chg (XDBSNAP_COMMITSEQ " + blob + ", XDBSNAP_INTENTSEQ " + blob +
               ", XDBSNAP_OPERATION CHAR(1), XDBSNAP_LOGMARKER TIMESTAMP, k INTEGER, "
               "v VARCHAR(20))");
    // One statement for them all: a client started for each row would take longer than the run.
    std::string insert;
    for (const Change& c : changes)
      insert += std::string(insert.empty() ? "INSERT INTO chg VALUES (" : ", (") +
                src_->Bytes(c.commit) + ", " + src_->Bytes(Intent(c.intent)) + ", '" + c.operation +
                "', '2026-01-01 00:00:00', " + std::to_string(c.k) + ", " +
                (c.v == "NULL" ? c.v : "'" + c.v + "'") + ")";
    if (!insert.empty()) src_->Exec(insert);
    if (!rows) return;
    dest_->Exec("CREATE TABLE t (k INTEGER PRIMARY KEY, v VARCHAR(20) NOT NULL)");
    for (const std::string& row : *rows) {
      const size_t bar = row.find('|');
      dest_->Exec("INSERT INTO t VALUES (" + row.substr(0, bar) + ", '" + row.substr(bar + 1) +
                  "')");
    }
  }
  std::string Dest() { return dest_->Query("SELECT k, v FROM t ORDER BY k"); }

  int32_t Relay(const std::string& lastDiffSeq, std::vector<Property> more = {}) {
    std::vector<Property> properties = {Text("LastDiffSeq", kLastDiffSeq, lastDiffSeq),
                                        List("KeyFieldList", kKeyFieldList, {"k"})};
    properties.insert(properties.end(), more.begin(), more.end());
    return AddActivity(properties, {src_.get(), "chg"}, {dest_.get(), "t"});
  }
  std::string Stored(int32_t id) {
    std::optional<twtest::FakeValue> value = Item(id, "LastDiffSeq");
    return value ? value->text : "(none)";
  }
  // Each case run on fresh tables: the status, what t holds and the sequence kept.
  template <size_t N>
  void RunCases(const RunCase (&cases)[N]) {
    const std::string zero(20, '0');
    for (const RunCase& c : cases) {
      SCOPED_TRACE(c.name);
      Tables(c.changes, c.before);
      const int32_t id = Relay(c.lastDiffSeq);
      const uint32_t status = Run(id);
      if (c.status == ~0u)
        EXPECT_NE(status, TWSUCCESS);
      else
        EXPECT_EQ(status, c.status) << LogText();
      // A failure in a commit leaves its rows before the failure, applied again by the next
      // run.
      EXPECT_EQ(Dest(), Rows(c.after));
      EXPECT_EQ(Stored(id), c.stored == zero ? c.lastDiffSeq : c.stored);
      if (!c.logged.empty()) {
        EXPECT_NE(LogText().find(c.logged), std::string::npos) << LogText();
      }
    }
  }

  std::unique_ptr<Database> src_, dest_;
};

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

TEST(RelayIdentityTest, IdentifiesAsAnActivityWithItsPropertyTable) {
  acttest::ExpectIdentity("relay.twx", TWSTREAMFMT_NATIVE,
                          {
                              {0x01010001, TWTYPE_TEXT, "SrcServer"},
                              {0x01010002, TWTYPE_TEXT, "SrcDatabase"},
                              {0x01010003, TWTYPE_TEXT, "SrcUserid"},
                              {0x01010004, TWTYPE_TEXT, "SrcPassword"},
                              {0x01010005, TWTYPE_TEXT, "SrcMetadata"},
                              {0x02010001, TWTYPE_TEXT, "DestServer"},
                              {0x02010002, TWTYPE_TEXT, "DestDatabase"},
                              {0x02010003, TWTYPE_TEXT, "DestUserid"},
                              {0x02010004, TWTYPE_TEXT, "DestPassword"},
                              {0x02010005, TWTYPE_TEXT, "DestMetadata"},
                              {0x02010007, TWTYPE_INT, "DestMapName"},
                              {0x0101000B, TWTYPE_TEXT, "Condition"},
                              {1, TWTYPE_INT, "Create"},
                              {2, TWTYPE_INT, "TruncPrec"},
                              {3, TWTYPE_INT, "TruncData"},
                              {4, TWTYPE_TEXT, "LastDiffSeq"},
                              {5, TWTYPE_BINARY, "KeyFieldList"},
                              {6, TWTYPE_BINARY, "SrcFieldList"},
                              {7, TWTYPE_BINARY, "DestFieldList"},
                          });
}

TEST_P(RelayTest, AppliesTheCommitsAfterTheLastAndKeepsTheLastWholeOne) {
  const std::string zero(20, '0');
  const RunCase cases[] = {
      {"strictly greater",
       Commit(2),
       {{Commit(1), 1, "I", 1, "a"}, {Commit(2), 2, "I", 2, "b"}, {Commit(3), 3, "I", 3, "c"}},
       {},
       TWSUCCESS,
       {"3|c"},
       Commit(3),
       ""},
      {"lower-case digits",
       Lower(Commit(2)),
       {{Commit(1), 1, "I", 1, "a"}, {Commit(2), 2, "I", 2, "b"}, {Commit(3), 3, "I", 3, "c"}},
       {},
       TWSUCCESS,
       {"3|c"},
       Commit(3),
       ""},
      {"three rows, the third kept",
       zero,
       {{Commit(1), 1, "I", 1, "a"}, {Commit(2), 2, "U", 1, "a2"}, {Commit(3), 3, "I", 2, "b"}},
       {},
       TWSUCCESS,
       {"1|a2", "2|b"},
       Commit(3),
       ""},
      {"an insert image of a present record updates it",
       zero,
       {{Commit(1), 1, "I", 1, "new"}},
       {"1|old"},
       TWSUCCESS,
       {"1|new"},
       Commit(1),
       ""},
      {"a delete image removes by key",
       zero,
       {{Commit(1), 1, "D", 1, "x"}},
       {"1|x", "2|y"},
       TWSUCCESS,
       {"2|y"},
       Commit(1),
       ""},
      {"a delete image of a missing record",
       zero,
       {{Commit(1), 1, "D", 7, "x"}},
       {"1|x"},
       TWSUCCESS,
       {"1|x"},
       Commit(1),
       ""},
      {"failure inside a commit keeps the commit before",
       zero,
       {{Commit(1), 1, "I", 1, "a"},
        {Commit(1), 2, "I", 2, "b"},
        {Commit(2), 3, "I", 3, "c"},
        {Commit(2), 4, "I", 4, "NULL"},
        {Commit(3), 5, "I", 5, "e"}},
       {},
       ~0u,
       {"1|a", "2|b", "3|c"},
       Commit(1),
       ""},
      {"an unknown operation",
       zero,
       {{Commit(1), 1, "I", 1, "a"}, {Commit(2), 2, "I", 2, "b"}, {Commit(2), 3, "Z", 3, "c"}},
       {},
       TWFAIL_INVALID_STREAM,
       {"1|a", "2|b"},
       Commit(1),
       "Invalid stream value in field 'XDBSNAP_OPERATION'"},
      {"a sequence not ten bytes",
       zero,
       {{Commit(1), 1, "I", 1, "a"}, {"FF00000000000000AA", 2, "I", 2, "b"}},
       {},
       TWFAIL_INVALID_STREAM,
       {"1|a"},
       Commit(1),
       "Invalid stream value in field 'XDBSNAP_COMMITSEQ'"},
      {"a bad first row keeps nothing",
       zero,
       {{Commit(1), 1, "?", 1, "a"}},
       {},
       TWFAIL_INVALID_STREAM,
       {},
       zero,
       ""},
  };
  RunCases(cases);
}

// Insert images one after another are written together; what each row leaves must still be
// what the rows applied one by one in their order leave: records present or not, a key met
// twice, a failure among them, and more rows than one fetch brings.
TEST_P(RelayTest, InsertImagesWrittenTogetherLeaveWhatRowByRowLeaves) {
  const std::string zero(20, '0');
  std::vector<Change> many, failing;
  std::vector<std::string> manyRows;
  // Three rows a commit (commits up to 255 keep their order).
  for (int i = 1; i <= 600; ++i) {
    many.push_back({Commit((i + 2) / 3), (i - 1) % 3, "I", i, "r" + std::to_string(i)});
    failing.push_back({Commit((i + 2) / 3), (i - 1) % 3, "I", i, i == 580 ? "NULL" : "r"});
    manyRows.push_back(std::to_string(i) + "|r" + std::to_string(i));
  }
  std::vector<std::string> beforeFailure(manyRows.begin(), manyRows.begin() + 579);
  for (std::string& row : beforeFailure) row = row.substr(0, row.find('|')) + "|r";
  const RunCase cases[] = {
      {"present and missing records",
       zero,
       {{Commit(1), 1, "I", 1, "a"},
        {Commit(1), 2, "I", 2, "b"},
        {Commit(2), 3, "I", 3, "c"},
        {Commit(2), 4, "I", 4, "d"},
        {Commit(3), 5, "I", 5, "e"}},
       {"2|old", "4|old"},
       TWSUCCESS,
       {"1|a", "2|b", "3|c", "4|d", "5|e"},
       Commit(3),
       ""},
      {"a key met twice",
       zero,
       {{Commit(1), 1, "I", 1, "a"},
        {Commit(1), 2, "I", 2, "b"},
        {Commit(2), 3, "I", 1, "a2"},
        {Commit(2), 4, "I", 3, "c"}},
       {},
       TWSUCCESS,
       {"1|a2", "2|b", "3|c"},
       Commit(2),
       ""},
      {"a failure after a present record",
       zero,
       {{Commit(1), 1, "I", 1, "a"},
        {Commit(1), 2, "I", 2, "b"},
        {Commit(2), 3, "I", 3, "NULL"},
        {Commit(2), 4, "I", 4, "d"}},
       {"2|old"},
       ~0u,
       {"1|a", "2|b"},
       Commit(1),
       ""},
      {"more rows than a fetch brings", zero, many, {}, TWSUCCESS, manyRows, Commit(200), ""},
      {"a failure in a later fetch", zero, failing, {}, ~0u, beforeFailure, Commit(193), ""},
  };
  RunCases(cases);
}

// A destination whose triggers count each write of a record sees every record written once,
// whichever of a stretch's records it holds already, and a failure is logged once: a record
// present is updated and not again, a missing one inserted, and a failing row ends the run
// after the rows before it.
TEST_P(RelayTest, EachRecordIsWrittenOnceAndEachFailureLoggedOnce) {
  const bool pg = GetParam().dest == Engine::kPostgres;
  struct Case {
    const char* name;
    std::vector<Change> changes;
    std::vector<std::string> before;
    bool fails;
    std::vector<std::string> after;
    std::vector<std::string> writes;  // "k|writes" of each record written
    std::string stored;
  };
  const Case cases[] = {
      {"present and missing records",
       {{Commit(1), 1, "I", 1, "a"},
        {Commit(1), 2, "I", 2, "b"},
        {Commit(2), 3, "I", 3, "c"},
        {Commit(2), 4, "I", 4, "d"},
        {Commit(3), 5, "I", 5, "e"},
        {Commit(3), 6, "I", 6, "f"}},
       {"2|old", "3|old", "6|old"},
       false,
       {"1|a", "2|b", "3|c", "4|d", "5|e", "6|f"},
       {"1|1", "2|1", "3|1", "4|1", "5|1", "6|1"},
       Commit(3)},
      {"every record present",
       {{Commit(1), 1, "I", 1, "a"}, {Commit(1), 2, "I", 2, "b"}, {Commit(2), 3, "I", 3, "c"}},
       {"1|old", "2|old", "3|old"},
       false,
       {"1|a", "2|b", "3|c"},
       {"1|1", "2|1", "3|1"},
       Commit(2)},
      {"an update failing on a present record",
       {{Commit(1), 1, "I", 1, "a"},
        {Commit(1), 2, "I", 2, "b"},
        {Commit(2), 3, "I", 3, "c"},
        {Commit(2), 4, "I", 4, "NULL"},
        {Commit(2), 5, "I", 5, "e"}},
       {"2|old", "4|old"},
       true,
       {"1|a", "2|b", "3|c", "4|old"},
       {"1|1", "2|1", "3|1"},
       Commit(1)},
      {"an insert failing after a present record",
       {{Commit(1), 1, "I", 1, "a"},
        {Commit(1), 2, "I", 2, "b"},
        {Commit(2), 3, "I", 3, "NULL"},
        {Commit(2), 4, "I", 4, "d"}},
       {"2|old"},
       true,
       {"1|a", "2|b"},
       {"1|1", "2|1"},
       Commit(1)},
  };
  const std::string counter =
      pg ? "CREATE FUNCTION tw_count() RETURNS trigger LANGUAGE plpgsql AS $$BEGIN INSERT INTO w "
           "VALUES (NEW.k); RETURN NEW; END$$; CREATE TRIGGER tw_counted AFTER INSERT OR UPDATE "
           "ON t FOR EACH ROW EXECUTE FUNCTION tw_count()"
         : "CREATE TRIGGER tw_inserted AFTER INSERT ON t BEGIN INSERT INTO w VALUES (NEW.k); END; "
           "CREATE TRIGGER tw_updated AFTER UPDATE ON t BEGIN INSERT INTO w VALUES (NEW.k); END";
  // The driver's text for a null refused by the column, once per failing row.
  const std::string refused = pg ? "null value in column" : "NOT NULL constraint failed";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Tables(c.changes, c.before);
    dest_->Exec("DROP TABLE IF EXISTS w");
    if (pg) dest_->Exec("DROP FUNCTION IF EXISTS tw_count() CASCADE");
    dest_->Exec("CREATE TABLE w (k INTEGER)");
    dest_->Exec(counter);
    const int32_t id = Relay(std::string(20, '0'));
    const uint32_t status = Run(id);
    if (c.fails) {
      EXPECT_NE(status, TWSUCCESS);
      EXPECT_EQ(sqltest::Occurrences(LogText(), refused), 1u) << LogText();
    } else {
      EXPECT_EQ(status, TWSUCCESS) << LogText();
    }
    EXPECT_EQ(Dest(), Rows(c.after));
    EXPECT_EQ(dest_->Query("SELECT k, count(*) FROM w GROUP BY k ORDER BY k"), Rows(c.writes));
    EXPECT_EQ(Stored(id), c.stored);
  }
}

// Keys that differ only in case are one record to a destination whose collation ignores case:
// the second row updates what the first inserted, as it does row by row.
// SQLite's NOCASE folds ASCII only; PostgreSQL's case-blind ICU collation also holds é and É
// as one key, which no ASCII folding tells apart.
TEST_P(RelayTest, KeysOneToTheDestinationsCollationStayInOrder) {
  const bool pg = GetParam().dest == Engine::kPostgres;
  if (!pg && GetParam().dest != Engine::kSqlite) GTEST_SKIP() << "no case-blind collation";
  Tables({}, std::nullopt);
  src_->Exec("DROP TABLE chg");
  const std::string blob = src_->BlobType();
  src_->Exec("CREATE TABLE chg (XDBSNAP_COMMITSEQ " + blob + ", XDBSNAP_INTENTSEQ " + blob +
             ", XDBSNAP_OPERATION CHAR(1), k VARCHAR(20), v VARCHAR(20))");
  std::string insert;
  const std::vector<Change> changes = {{Commit(1), 1, "I", 0, "éF|w"},
                                       {Commit(1), 2, "I", 0, "ÉF|v"},
                                       {Commit(1), 3, "I", 0, "Ab|x"},
                                       {Commit(1), 4, "I", 0, "ab|y"},
                                       {Commit(2), 5, "I", 0, "Cd|z"}};
  for (const Change& c : changes) {
    const size_t bar = c.v.find('|');
    insert += std::string(insert.empty() ? "INSERT INTO chg VALUES (" : ", (") +
              src_->Bytes(c.commit) + ", " + src_->Bytes(Intent(c.intent)) + ", 'I', '" +
              c.v.substr(0, bar) + "', '" + c.v.substr(bar + 1) + "')";
  }
  src_->Exec(insert);
  if (pg) {
    dest_->Exec(
        "CREATE COLLATION IF NOT EXISTS tw_blind (provider = icu, locale = 'und-u-ks-level2', "
        "deterministic = false)");
    dest_->Exec("CREATE TABLE t (k VARCHAR(20) COLLATE tw_blind PRIMARY KEY, v VARCHAR(20))");
  } else {
    dest_->Exec("CREATE TABLE t (k VARCHAR(20) COLLATE NOCASE PRIMARY KEY, v VARCHAR(20))");
  }
  const int32_t id = Relay(std::string(20, '0'));
  EXPECT_EQ(Run(id), TWSUCCESS) << LogText();
  EXPECT_EQ(Dest(), pg ? "Ab|y\nCd|z\néF|v\n" : "Ab|y\nCd|z\nÉF|v\néF|w\n");
  EXPECT_EQ(Stored(id), Commit(2));
}

// A failed run is mended and run again: the commit it stopped in is applied whole.
TEST_P(RelayTest, TheNextRunAppliesTheCommitAFailureStoppedIn) {
  Tables({{Commit(1), 1, "I", 1, "a"},
          {Commit(2), 2, "I", 2, "b"},
          {Commit(2), 3, "I", 3, "NULL"},
          {Commit(3), 4, "D", 1, "a"}},
         std::vector<std::string>{});
  const int32_t id = Relay(std::string(20, '0'));
  EXPECT_NE(Run(id), TWSUCCESS);
  EXPECT_EQ(Stored(id), Commit(1));
  src_->Exec("UPDATE chg SET v = 'c' WHERE k = 3");
  EXPECT_EQ(Run(id), TWSUCCESS) << LogText();
  EXPECT_EQ(Dest(), "2|b\n3|c\n");
  EXPECT_EQ(Stored(id), Commit(3));
}

// A full refresh empties the destination and applies every row: an insert image is
// inserted, an update image updates (the record may have been inserted by an earlier row).
TEST_P(RelayTest, AFullRefreshEmptiesTheDestinationAndUpdatesOnlyForUpdateImages) {
  Tables({{Commit(1), 1, "I", 1, "a"}, {Commit(2), 2, "U", 1, "b"}, {Commit(3), 3, "I", 2, "c"}},
         std::vector<std::string>{"9|old", "1|stale"});
  const int32_t id = Relay("X");
  EXPECT_EQ(Run(id), TWSUCCESS) << LogText();
  EXPECT_EQ(Dest(), "1|b\n2|c\n");
  EXPECT_EQ(Stored(id), Commit(3));
}

// A delete image for a destination that does not exist creates it (with Create) and
// removes nothing; without Create the run fails on it and keeps nothing.
TEST_P(RelayTest, ADeleteOnAMissingObjectCreatesItWhenAsked) {
  for (int32_t create : {1, 0}) {
    SCOPED_TRACE(create);
    Tables({{Commit(1), 1, "D", 1, "a"}, {Commit(2), 2, "I", 2, "b"}}, std::nullopt);
    const int32_t id = Relay(std::string(20, '0'), {Number("Create", kCreate, create)});
    if (create) {
      EXPECT_EQ(Run(id), TWSUCCESS) << LogText();
      EXPECT_EQ(Dest(), "2|b\n");
      EXPECT_EQ(Stored(id), Commit(2));
    } else {
      EXPECT_EQ(Run(id), TWFAIL_INVALID_METADATA) << LogText();
      EXPECT_EQ(Stored(id), std::string(20, '0'));
    }
  }
}

// The change rows reach a destination of other column names through the name lists, the
// mapping the direct transfer uses; the control columns stay out of it.
TEST_P(RelayTest, MapsTheChangeRowsThroughTheNameLists) {
  Tables({{Commit(1), 1, "I", 1, "a"}, {Commit(2), 2, "I", 2, "b"}, {Commit(3), 3, "U", 1, "c"}},
         std::nullopt);
  dest_->Exec("DROP TABLE IF EXISTS people");
  dest_->Exec("CREATE TABLE people (id INTEGER PRIMARY KEY, name VARCHAR(20))");
  const int32_t id = AddActivity({Text("LastDiffSeq", kLastDiffSeq, std::string(20, '0')),
                                  List("KeyFieldList", kKeyFieldList, {"k"}),
                                  Number("DestMapName", TWTOKENF_DEST | TWTOKEN_MAP_NAME, 2),
                                  List("SrcFieldList", kSrcFieldList, {"k", "v"}),
                                  List("DestFieldList", kDestFieldList, {"id", "name"})},
                                 {src_.get(), "chg"}, {dest_.get(), "people"});
  EXPECT_EQ(Run(id), TWSUCCESS) << LogText();
  EXPECT_EQ(dest_->Query("SELECT id, name FROM people ORDER BY id"), "1|c\n2|b\n");
  EXPECT_EQ(Stored(id), Commit(3));
}

// Bad property values are refused before any link is touched: the destination and the
// stored sequence stay as they were.
TEST_P(RelayTest, RefusesBadPropertiesAndChangesNothing) {
  struct Case {
    const char* name;
    std::vector<Property> properties;
    uint32_t status;
    std::string logged;
  };
  const std::vector<std::string> keys = {"k"};
  auto seq = [](const std::string& text) { return Text("LastDiffSeq", kLastDiffSeq, text); };
  auto keyList = [](std::vector<std::string> names) {
    return List("KeyFieldList", kKeyFieldList, std::move(names));
  };
  const Case cases[] = {
      {"19 digits",
       {seq(Commit(1).substr(1)), keyList(keys)},
       TWFAIL_PROPERTY_VALUE,
       "for property 'LastDiffSeq'"},
      {"21 digits",
       {seq(Commit(1) + "0"), keyList(keys)},
       TWFAIL_PROPERTY_VALUE,
       "for property 'LastDiffSeq'"},
      {"not a digit",
       {seq("0A0B0C0D0E0F000000G1"), keyList(keys)},
       TWFAIL_PROPERTY_VALUE,
       "for property 'LastDiffSeq'"},
      {"empty", {seq(""), keyList(keys)}, TWFAIL_MISSING_PROPERTY, "'LastDiffSeq'"},
      {"missing", {keyList(keys)}, TWFAIL_MISSING_PROPERTY, "'LastDiffSeq'"},
      {"no keys", {seq(Commit(0))}, TWFAIL_MISSING_PROPERTY, "'KeyFieldList'"},
      {"unknown key",
       {seq(Commit(0)), keyList({"nope"})},
       TWFAIL_INVALID_KEY,
       "Invalid key field 'nope'"},
      {"key twice",
       {seq(Commit(0)), keyList({"k", "k"})},
       TWFAIL_DUPLICATE_KEY,
       "Duplicate key field 'k'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Tables({{Commit(1), 1, "I", 1, "a"}}, std::vector<std::string>{"5|kept"});
    const int32_t id = AddActivity(c.properties, {src_.get(), "chg"}, {dest_.get(), "t"});
    const std::optional<twtest::FakeValue> before = Item(id, "LastDiffSeq");
    EXPECT_EQ(Run(id), c.status) << LogText();
    EXPECT_NE(LogText().find(c.logged), std::string::npos) << LogText();
    EXPECT_EQ(Dest(), "5|kept\n");
    EXPECT_EQ(Item(id, "LastDiffSeq"), before);
  }
}

// ---------------------------------------------------------------- ordex ----------------

// The destination a document database through ordex: the form made by the first row, then
// documents inserted, updated by key and removed by key as the changes say.
class RelayOrdexTest : public sqltest::ActivityFixture {
 protected:
  RelayOrdexTest() : ActivityFixture("relay") {}
};

TEST_F(RelayOrdexTest, AppliesChangesToADocumentDatabase) {
  std::unique_ptr<Database> src = sqltest::MakeDatabase(Engine::kSqlite);
  src->Exec(
      "CREATE TABLE chg (XDBSNAP_COMMITSEQ BLOB, XDBSNAP_INTENTSEQ BLOB, XDBSNAP_OPERATION "
      "CHAR(1), XDBSNAP_LOGMARKER TIMESTAMP, k INTEGER, v VARCHAR(20))");
  const Change changes[] = {{Commit(1), 1, "I", 1, "one"},
                            {Commit(1), 2, "I", 2, "two"},
                            {Commit(2), 3, "U", 1, "uno"},
                            {Commit(3), 4, "I", 3, "three"},
                            {Commit(4), 5, "D", 2, "two"}};
  for (const Change& c : changes)
    src->Exec("INSERT INTO chg VALUES (" + src->Bytes(c.commit) + ", " +
              src->Bytes(Intent(c.intent)) + ", '" + c.operation + "', NULL, " +
              std::to_string(c.k) + ", '" + c.v + "')");
  const int32_t id =
      AddActivity({Text("LastDiffSeq", kLastDiffSeq, std::string(20, '0')),
                   List("KeyFieldList", kKeyFieldList, {"k"}), Number("Create", kCreate, 1)},
                  {src.get(), "chg"}, sqltest::Link::Ordex("relay.odb", "t"));
  EXPECT_EQ(Run(id), TWSUCCESS) << LogText();
  const std::string documents = OrdexExport("relay.odb", "t");
  for (const char* v : {"uno", "three"})
    EXPECT_EQ(sqltest::Occurrences(documents, std::string("\"") + v + "\""), 1u) << documents;
  for (const char* v : {"one", "two", "XDBSNAP_OPERATION"})
    EXPECT_EQ(sqltest::Occurrences(documents, std::string("\"") + v + "\""), 0u) << documents;
  std::optional<twtest::FakeValue> stored = Item(id, "LastDiffSeq");
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->text, Commit(4));
  // A destination without transactions holds what it was given: its commit is no error.
  EXPECT_EQ(LogText().find("not available"), std::string::npos) << LogText();
}

INSTANTIATE_TEST_SUITE_P(Engines, RelayTest,
                         ::testing::Values(Engines{Engine::kSqlite, Engine::kSqlite},
                                           Engines{Engine::kSqlite, Engine::kPostgres},
                                           Engines{Engine::kPostgres, Engine::kSqlite}),
                         EnginesName);

}  // namespace
