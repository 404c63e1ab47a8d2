// The reading side of the Ordex connector on real databases: properties, selection formulas,
// execute by formula, view, agent and full text, ordered and stamp-windowed selections, the
// fetch of every item type and of view cells, and the catalogue.
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstring>

#include "ordex_test_util.h"

namespace {

using namespace ordex_test;

// Fetches every record of the result into list, one at a time; answers the rows as text
// (nullopt entries as "<null>").
std::vector<std::vector<std::string>> FetchAll(Link& link, List& list, uint32_t* last = nullptr) {
  std::vector<std::vector<std::string>> rows;
  for (;;) {
    uint32_t n = 0;
    const uint32_t st = link.c.Fetch(list.get(), 1, 1, &n);
    if (last != nullptr) *last = st;
    if (st != TWSUCCESS) break;
    std::vector<std::string> row;
    for (uint32_t i = 1; i <= list.count(); ++i) row.push_back(list.Value(i, 1).value_or("<null>"));
    rows.push_back(row);
  }
  return rows;
}

TEST(OrdexProperties, KeepTheirValuesAndLimits) {
  Env env;
  Link link;
  struct IntCase {
    int32_t set, want;
  } lengths[] = {{0, 64996}, {70000, 64996}, {65535, 65535}, {100, 100}};
  for (const IntCase& k : lengths) {
    link.Num(ordex::kTextMaxLength, k.set);
    EXPECT_EQ(link_test::GetInt(link.c, ordex::kTextMaxLength), k.want) << k.set;
  }
  link.Str(ordex::kFilePath, "/tmp/files");
  EXPECT_EQ(link_test::GetText(link.c, ordex::kFilePath), "/tmp/files/");
  link.Str(ordex::kFilePath, "/tmp/files/");
  EXPECT_EQ(link_test::GetText(link.c, ordex::kFilePath), "/tmp/files/");
  // A path with no room for its "/" and a file name is refused, never cut.
  EXPECT_EQ(link_test::SetText(link.c, ordex::kFilePath, "/" + std::string(254, 'p')),
            TWFAIL_PROPERTY_VALUE);
  EXPECT_EQ(link_test::SetText(link.c, ordex::kFilePath, "/" + std::string(300, 'p')),
            TWFAIL_PROPERTY_VALUE);
  EXPECT_EQ(link_test::GetInt(link.c, TWTOKEN_TEXT_FORMAT), 256);
  EXPECT_EQ(link_test::SetInt(link.c, TWTOKEN_TEXT_FORMAT, 1), TWFAIL_INVALID_PROPERTY);
  EXPECT_EQ(link_test::SetText(link.c, TWTOKEN_USERID, "u"), TWFAIL_INVALID_PROPERTY);
  // Without a database there is nothing to connect to.
  EXPECT_EQ(link.Connect(), TWFAIL_MISSING_PROPERTY);
  EXPECT_EQ(link.c.Action(TWACTION_COMMIT), TWFAIL_UNAVAILABLE);
}

TEST(OrdexFormula, TextsAsTheFormulaLanguageReadsThem) {
  Env env;
  struct Case {
    const char* what;
    bool allForms;
    const char* form;
    const char* condition;
    uint32_t type, flags;
    const char* value;  // null: a null value
    const char* want;
  } cases[] = {
      {"all forms alone", true, "Person", "", 0, 0, nullptr, "@@select@@ "},
      {"quote and backslash in the form", false, "O'Brien\\x", "", 0, 0, nullptr,
       "@@select@@ Form = 'O\\'Brien\\\\x'"},
      {"condition", false, "Person", "Age > 3", 0, 0, nullptr,
       "@@select@@ Form = 'Person' & (Age > 3)"},
      {"equal text with quote and backslash", true, "", "", TWTYPE_TEXT, 0, "it's a \\",
       "@@select@@ K='it\\'s a \\\\'"},
      {"greater", true, "", "", TWTYPE_INT, TWFIELDF_KEY_GT, "5", "@@select@@ K>=5"},
      {"less", true, "", "", TWTYPE_INT, TWFIELDF_KEY_LT, "5", "@@select@@ K<=5"},
      {"greater not equal", true, "", "", TWTYPE_INT, TWFIELDF_KEY_GT | TWFIELDF_KEY_NE, "5",
       "@@select@@ K>5"},
      {"less not equal", true, "", "", TWTYPE_INT, TWFIELDF_KEY_LT | TWFIELDF_KEY_NE, "5",
       "@@select@@ K<5"},
      {"not equal", true, "", "", TWTYPE_INT, TWFIELDF_KEY_NE, "5", "@@select@@ K<>5"},
      {"null", true, "", "", TWTYPE_TEXT, 0, nullptr, "@@select@@ K=@@40@@"},
      {"datetime", true, "", "", TWTYPE_DATETIME, 0, "1996-11-05 14:07:09",
       "@@select@@ K=@@75@@(1996;11;5;14;7;9) "},
      {"17 digits", true, "", "", TWTYPE_FLOAT, 0, "0.30000000000000004",
       "@@select@@ K=0.30000000000000004"},
      {"with form and condition", false, "Person", "A=1", TWTYPE_INT, 0, "7",
       "@@select@@ Form = 'Person' & (A=1) & K=7"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    Link link;
    link.Num(ordex::kAllForms, k.allForms ? 1 : 0);
    if (*k.condition != '\0') link.Str(TWTOKEN_CONDITION, k.condition);
    List keys(1);
    if (k.type != 0) {
      TWFIELD f = keys.Add("K", k.type);
      ASSERT_EQ(TWFieldSetFlags(f, TWFIELDF_KEY | k.flags), TWSUCCESS);
      if (k.value != nullptr) twtest::SetValue(f, 1, k.value);
    }
    std::string formula;
    ASSERT_EQ(link.c.BuildFormula(k.form, k.type != 0 ? keys.get() : TWNULLHANDLE, 1, formula),
              TWSUCCESS);
    EXPECT_EQ(formula, k.want);
  }
}

class OrdexRead : public ::testing::TestWithParam<storetest::Engine> {
 protected:
  void SetUp() override {
    if (std::string why = env_.Use(GetParam()); !why.empty()) GTEST_SKIP() << why;
    env_.MakeDatabase(
        "people.odb",
        Person("Ann", 30,
               R"(,{"name":"Tags","type":"textlist","value":["a","b"]},)"
               R"({"name":"Scores","type":"numberlist","value":[1.5,2.5]},)"
               R"({"name":"Body","type":"richtext","text":"line one\nline two"},)"
               R"({"name":"Born","type":"time","value":"1990-01-02T03:04:05.00+00"})") +
            Person("Bob", 3000000000.0, R"(,{"name":"Scores","type":"numberlist","value":[7]})") +
            Person("Cid", 50, R"(,{"name":"Note","type":"text","value":"starting art"})") +
            R"({"items":[{"name":"Form","type":"text","value":"Topic"},{"name":"Subject","type":"text","value":"x"}]})"
            "\n");
  }
  Env env_;
};

TEST_P(OrdexRead, ExecuteFetchesEveryItemTypeAsItsField) {
  Link link;
  link.On("people.odb")
      .Names(TWTOKEN_FIELD_LIST, {"Name", "Age", "Tags", "Scores", "Body", "Born", "Note"});
  ASSERT_EQ(link.Connect(), TWSUCCESS);
  List list(1);
  uint32_t count = 0;
  ASSERT_EQ(link.c.Execute(nullptr, list.get(), &count), TWSUCCESS);
  EXPECT_EQ(count, 3u);  // the form's documents only
  ASSERT_EQ(list.count(), 7u);
  struct Want {
    uint32_t type, format;
  } want[] = {{TWTYPE_TEXT, TWSTREAMFMT_QMBCS},       {TWTYPE_FLOAT, 0},
              {TWTYPE_BINARY, TWSTREAMFMT_TEXT_LIST}, {TWTYPE_BINARY, TWSTREAMFMT_NUMBER_LIST},
              {TWTYPE_BINARY, TWSTREAMFMT_COMPOSITE}, {TWTYPE_DATETIME, 0},
              {TWTYPE_TEXT, TWSTREAMFMT_QMBCS}};
  for (uint32_t i = 0; i < 7; ++i) {
    EXPECT_EQ(TWFieldGetType(list.Field(i + 1)), want[i].type) << i;
    if (want[i].format != 0) {
      uint32_t flags = 0, length = 0, format = 0;
      TWFieldGetFormatStream(list.Field(i + 1), &flags, &length, &format);
      EXPECT_EQ(format, want[i].format) << i;
    }
  }
  uint32_t n = 0;
  ASSERT_EQ(link.c.Fetch(list.get(), 1, 1, &n), TWSUCCESS);
  EXPECT_EQ(n, 1u);
  EXPECT_EQ(list.Value(1, 1), "Ann");
  double age = 0;
  EXPECT_EQ(TWFieldGetFloat(list.Field(2), 1, &age, nullptr), TWSUCCESS);
  EXPECT_EQ(age, 30.0);
  flowcore::StreamData tags;
  ASSERT_EQ(TWFieldGetStream(list.Field(3), 1, 0, tags.get(), nullptr), TWSUCCESS);
  EXPECT_EQ(tags.view(), std::string("\x02\x00\x01\x00\x01\x00"
                                     "ab",
                                     8));
  flowcore::StreamData scores;
  ASSERT_EQ(TWFieldGetStream(list.Field(4), 1, 0, scores.get(), nullptr), TWSUCCESS);
  EXPECT_EQ(TWNumberListGetLength(scores.get()), 20u);
  flowcore::StreamData body;
  ASSERT_EQ(TWFieldGetStream(list.Field(5), 1, 0, body.get(), nullptr), TWSUCCESS);
  EXPECT_TRUE(ordex::IsCompositeStream(body.view()));
  EXPECT_NE(body.view().find("line two"), std::string_view::npos);
  EXPECT_NE(list.Value(6, 1), std::nullopt);
  EXPECT_EQ(list.Value(7, 1), std::nullopt);  // no such item: null
  // The other two, then the end.
  ASSERT_EQ(link.c.Fetch(list.get(), 1, 1, &n), TWSUCCESS);
  EXPECT_EQ(list.Value(1, 1), "Bob");
  EXPECT_EQ(list.Value(3, 1), std::nullopt);  // missing list item
  ASSERT_EQ(link.c.Fetch(list.get(), 1, 1, &n), TWSUCCESS);
  EXPECT_EQ(link.c.Fetch(list.get(), 1, 1, &n), TWFAIL_END_OF_DATA);
  EXPECT_EQ(link.c.Fetch(list.get(), 1, 1, &n), TWFAIL_END_OF_DATA);
}

TEST_P(OrdexRead, NumbersIntoNarrowerFieldsOverflowOrClamp) {
  struct Case {
    const char* what;
    const char* item;
    const char* who;
    uint32_t type, flags;
    uint32_t want;
    const char* value;
  } cases[] = {
      {"number list of two into float", "Scores", "Ann", TWTYPE_FLOAT, 0, TWFAIL_OVERFLOW, ""},
      {"number list of two, cut", "Scores", "Ann", TWTYPE_FLOAT, TWFIELDF_TRUNC_DATA, 0, "1.5"},
      {"number list of one into float", "Scores", "Bob", TWTYPE_FLOAT, 0, 0, "7"},
      {"integer beyond 2^31", "Age", "Bob", TWTYPE_INT, TWFIELDF_TRUNC_PREC, TWFAIL_OVERFLOW, ""},
      {"integer beyond 2^31, clamped", "Age", "Bob", TWTYPE_INT,
       TWFIELDF_TRUNC_PREC | TWFIELDF_TRUNC_DATA, 0, "2147483647"},
      {"integer in range", "Age", "Ann", TWTYPE_INT, TWFIELDF_TRUNC_PREC, 0, "30"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    Link link;
    link.On("people.odb").Str(TWTOKEN_CONDITION, std::string("Name = '") + k.who + "'");
    ASSERT_EQ(link.Connect(), TWSUCCESS);
    List list(1);
    TWFIELD f = list.Add(k.item, k.type);
    TWFieldSetFlags(f, k.flags);
    uint32_t count = 0;
    ASSERT_EQ(link.c.Select(TWNULLHANDLE, 1, TWNULLHANDLE, &count), TWSUCCESS);
    link.Num(TWTOKEN_MAP_NAME, 1);
    uint32_t n = 0;
    EXPECT_EQ(link.c.Fetch(list.get(), 1, 1, &n), k.want);
    if (k.want == TWSUCCESS) {
      EXPECT_EQ(list.Value(1, 1), k.value);
    }
  }
}

TEST_P(OrdexRead, NanIntoAnIntegerIsAnOverflow) {
  Raw raw("people.odb");
  GVDOC doc = 0;
  const GVNOTEID ann = raw.Search("Name = 'Ann'").at(0);
  ASSERT_EQ(GVDocumentOpen(raw.get(), ann, 0, &doc), 0u);
  const double nan = std::nan("");
  ASSERT_EQ(GVItemPut(doc, "Age", 0, 0, GVTYPE_NUMBER, &nan, 0), 0u);
  ASSERT_EQ(GVDocumentClose(doc, 0), 0u);
  Link link;
  link.On("people.odb").Str(TWTOKEN_CONDITION, "Name = 'Ann'").Num(TWTOKEN_MAP_NAME, 1);
  ASSERT_EQ(link.Connect(), TWSUCCESS);
  List list(1);
  TWFieldSetFlags(list.Add("Age", TWTYPE_INT), TWFIELDF_TRUNC_PREC | TWFIELDF_TRUNC_DATA);
  uint32_t count = 0, n = 0;
  ASSERT_EQ(link.c.Select(TWNULLHANDLE, 1, TWNULLHANDLE, &count), TWSUCCESS);
  EXPECT_EQ(link.c.Fetch(list.get(), 1, 1, &n), TWFAIL_OVERFLOW);
}

TEST_P(OrdexRead, ViewsAgentsAndFullText) {
  struct Case {
    const char* what;
    const char* view;
    const char* agent;
    const char* statement;
    const char* fullText;
    std::vector<std::string> names;
  } cases[] = {
      {"view in its order", "ByName", "", "", "", {"Ann", "Bob", "Cid"}},
      {"selecting agent by statement", "", "", "Execute  Elders", "", {"Bob", "Cid"}},
      {"selecting agent by property", "", "Elders", "", "", {"Bob", "Cid"}},
      {"formula", "", "", "SELECT Age < 100", "", {"Ann", "Cid"}},
      {"execute run together is a formula", "", "", "executeElders", "", {}},
      {"full text", "", "", "", "starting", {"Cid"}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    Link link;
    link.On("people.odb").Names(TWTOKEN_FIELD_LIST, {"Name"});
    if (*k.view) link.Str(ordex::kView, k.view);
    if (*k.agent) link.Str(ordex::kAgent, k.agent);
    if (*k.fullText) link.Str(ordex::kFullTextQuery, k.fullText);
    ASSERT_EQ(link.Connect(), TWSUCCESS);
    List list(1);
    Text statement(k.statement);
    uint32_t count = 0;
    // "executeElders" is an item of no document: the formula selects nothing.
    ASSERT_EQ(link.c.Execute(statement.get(), list.get(), &count), TWSUCCESS);
    std::vector<std::string> got;
    for (const auto& row : FetchAll(link, list)) got.push_back(row[0]);
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, k.names);
  }
}

TEST_P(OrdexRead, AnActingAgentDoesItsWorkAndGivesNoResult) {
  Link link;
  link.On("people.odb");
  ASSERT_EQ(link.Connect(), TWSUCCESS);
  Text statement("execute Touch");
  uint32_t count = 0, n = 0;
  ASSERT_EQ(link.c.Execute(statement.get(), TWNULLHANDLE, &count), TWSUCCESS);
  List list(1);
  list.Add("Name", TWTYPE_TEXT);
  EXPECT_EQ(link.c.Fetch(list.get(), 1, 1, &n), TWFAIL_NO_RESULTSET);
  Raw raw("people.odb");
  EXPECT_EQ(raw.Search("Note = 'touched'").size(), 3u);
}

TEST_P(OrdexRead, ViewCellsAndViewPositioning) {
  Link link;
  link.On("people.odb").Str(ordex::kView, "ByName").Num(ordex::kFetchViewData, 1);
  ASSERT_EQ(link.Connect(), TWSUCCESS);
  List list(1);
  uint32_t count = 0;
  ASSERT_EQ(link.c.Execute(nullptr, list.get(), &count), TWSUCCESS);
  ASSERT_EQ(list.count(), 2u);
  auto rows = FetchAll(link, list);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0], (std::vector<std::string>{"Ann", "30"}));

  // Select with a key positions in the view and delivers exactly the matches.
  Link keyed;
  keyed.On("people.odb").Str(ordex::kView, "ByName").Names(TWTOKEN_FIELD_LIST, {"Name", "Age"});
  ASSERT_EQ(keyed.Connect(), TWSUCCESS);
  List keys(1);
  TWFIELD k = keys.Add("Name", TWTYPE_TEXT);
  TWFieldSetFlags(k, TWFIELDF_KEY);
  twtest::SetValue(k, 1, "bob");
  List out(1);
  ASSERT_EQ(keyed.c.Select(keys.get(), 1, out.get(), &count), TWSUCCESS);
  EXPECT_EQ(count, 1u);
  rows = FetchAll(keyed, out);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0], "Bob");
  // A range key cannot position in a view.
  TWFieldSetFlags(k, TWFIELDF_KEY | TWFIELDF_KEY_GT);
  List again(1);
  EXPECT_EQ(keyed.c.Select(keys.get(), 1, again.get(), &count), TWFAIL_INVALID_KEY);
  // Conflicting properties.
  Link both;
  both.On("people.odb").Num(ordex::kFetchViewData, 1);
  ASSERT_EQ(both.Connect(), TWSUCCESS);
  EXPECT_EQ(both.c.Execute(nullptr, TWNULLHANDLE, &count), TWFAIL_PROPERTY_CONFLICT);
}

TEST_P(OrdexRead, OrderedSelectionsUseATemporaryViewThatIsRemoved) {
  struct Case {
    const char* what;
    std::vector<std::string> order;
    uint32_t want;
    const char* logged;  // part of the logged text
    std::vector<std::string> names;
  } cases[] = {
      {"by age", {"Age"}, TWSUCCESS, "", {"Ann", "Cid", "Bob"}},
      {"two in form order", {"Name", "Age"}, TWSUCCESS, "", {"Ann", "Bob", "Cid"}},
      {"out of form order", {"Age", "Name"}, TWFAIL_EXTERNAL, "field 'Name' is out of order", {}},
      {"rich text", {"Body"}, TWFAIL_EXTERNAL, "'Body' cannot be used as a key", {}},
      {"unknown", {"Nope"}, TWFAIL_INVALID_KEY, "Nope", {}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    Link link;
    link.On("people.odb").Names(TWTOKEN_FIELD_LIST, {"Name"}).Names(TWTOKEN_ORDER_LIST, k.order);
    ASSERT_EQ(link.Connect(), TWSUCCESS);
    List list(1);
    uint32_t count = 0;
    ASSERT_EQ(link.c.Select(TWNULLHANDLE, 1, list.get(), &count), k.want);
    if (k.want != TWSUCCESS) {
      EXPECT_NE(twtest::LogLast().text.find(k.logged), std::string::npos) << twtest::LogLast().text;
      continue;
    }
    std::vector<std::string> got;
    for (const auto& row : FetchAll(link, list)) got.push_back(row[0]);
    EXPECT_EQ(got, k.names);
    ASSERT_EQ(link.c.Action(TWACTION_RESET), TWSUCCESS);
  }
  Raw raw("people.odb");
  EXPECT_EQ(GVViewLocateByName(raw.get(), "(TWMainIndexView0)"), 0u);
}

TEST_P(OrdexRead, AllTemporaryViewNamesTakenFailsCleanly) {
  {
    Raw raw("people.odb");
    for (int n = 0; n < 256; ++n) {
      GVViewDesign design{};
      design.style = GVVIEW_TEMPORARY;
      design.selectionKind = GVVIEWSEL_FORMULA;
      snprintf(design.name, sizeof design.name, "(TWMainIndexView%d)", n);
      ASSERT_EQ(GVViewCreate(raw.get(), &design, 0, nullptr, nullptr), 0u);
    }
  }
  Link link;
  link.On("people.odb").Names(TWTOKEN_ORDER_LIST, {"Name"});
  ASSERT_EQ(link.Connect(), TWSUCCESS);
  List list(1);
  uint32_t count = 0;
  EXPECT_EQ(link.c.Select(TWNULLHANDLE, 1, list.get(), &count), TWFAIL_EXTERNAL);
  EXPECT_EQ(twtest::LogLast().externalCode, GVERR_NO_VIEW);
}

TEST_P(OrdexRead, StampWindowTakesWhatChangedAfterTheBase) {
  // Stamps: Ann in 1990, the others without one.
  struct Case {
    const char* what;
    const char* base;  // empty: unset
    std::vector<std::string> names;
  } cases[] = {
      {"no base: every stamped document", "", {"Ann"}},
      {"base before the stamp", "1980-01-01 00:00:00", {"Ann"}},
      {"base after the stamp", "2000-01-01 00:00:00", {}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    Link link;
    link.On("people.odb").Names(TWTOKEN_FIELD_LIST, {"Name"}).Str(TWTOKEN_STAMPFIELD, "Born");
    if (*k.base)
      link_test::SetField(link.c, TWTOKEN_BASESTAMP, TWTYPE_DATETIME,
                          [&](TWFIELD f) { twtest::SetValue(f, 1, k.base); });
    ASSERT_EQ(link.Connect(), TWSUCCESS);
    List list(1);
    uint32_t count = 0;
    ASSERT_EQ(link.c.Select(TWNULLHANDLE, 1, list.get(), &count), TWSUCCESS)
        << twtest::LogLast().text;
    std::vector<std::string> got;
    for (const auto& row : FetchAll(link, list)) got.push_back(row[0]);
    EXPECT_EQ(got, k.names);
  }
  Link wrong;
  wrong.On("people.odb").Str(TWTOKEN_STAMPFIELD, "Name");
  ASSERT_EQ(wrong.Connect(), TWSUCCESS);
  List list(1);
  uint32_t count = 0;
  EXPECT_EQ(wrong.c.Select(TWNULLHANDLE, 1, list.get(), &count), TWFAIL_STAMPFIELD_TYPE);
}

TEST_P(OrdexRead, CatalogueListsFormsViewsAndFields) {
  Link link;
  link.On("people.odb");
  ASSERT_EQ(link.Connect(), TWSUCCESS);
  struct Case {
    uint32_t kind;
    std::vector<std::string> names;
  } cases[] = {
      {TWOBJECT_METADATA, {"Memo", "O'Brien\\x", "Person", "Topic"}},
      {TWOBJECT_INDEX, {"ByName", "Threads"}},
      {TWOBJECT_FIELD, {"Age", "Body", "Born", "Name", "Note", "Scores", "Tags"}},
  };
  for (const Case& k : cases) {
    List list(4);
    uint32_t count = 0;
    ASSERT_EQ(link.c.Catalog(k.kind, list.get(), &count), TWSUCCESS);
    EXPECT_EQ(count, TWCOUNT_UNKNOWN);
    std::vector<std::string> got;
    for (;;) {
      uint32_t n = 0;
      if (link.c.Fetch(list.get(), 1, 4, &n) != TWSUCCESS) break;
      for (uint32_t i = 1; i <= n; ++i) got.push_back(list.Value(1, i).value_or(""));
    }
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, k.names) << k.kind;
  }
  List list(1);
  uint32_t count = 0;
  EXPECT_EQ(link.c.Catalog(9, list.get(), &count), TWFAIL_UNAVAILABLE);
}

TEST_P(OrdexRead, BadInputIsReportedWithThePlexaText) {
  Link link;
  link.On("people.odb");
  ASSERT_EQ(link.Connect(), TWSUCCESS);
  Text bad("SELECT (Age >");
  uint32_t count = 0;
  EXPECT_EQ(link.c.Execute(bad.get(), TWNULLHANDLE, &count), TWFAIL_EXTERNAL);
  EXPECT_EQ(twtest::LogLast().externalCode, GVERR_FORMULA);
  Link unknown;
  unknown.On("people.odb", "Nobody");
  ASSERT_EQ(unknown.Connect(), TWSUCCESS);
  EXPECT_EQ(unknown.c.Execute(nullptr, TWNULLHANDLE, &count), TWFAIL_INVALID_METADATA);
  EXPECT_EQ(unknown.c.Action(TWACTION_TRUNCATE), TWFAIL_INVALID_METADATA);
  EXPECT_NE(twtest::LogLast().text.find("Nobody"), std::string::npos);
  Link missing;
  missing.On("absent.odb");
  EXPECT_EQ(missing.Connect(), TWFAIL_EXTERNAL);
  EXPECT_EQ(twtest::LogLast().externalCode, GVERR_NO_DATABASE);
}

}  // namespace

namespace {

using namespace ordex_test;

// These rest on the document store's newer behaviour: full text by whole words, temporary
// views reclaimed from runs that died, the stamp window's scratch document under the form
// check. Until the store has it they are skipped, not failed.
TEST_P(OrdexRead, FullTextMatchesWholeWords) {
  struct Case {
    const char* query;
    size_t want;
  } cases[] = {{"starting", 1}, {"\"starting art\"", 1}, {"tart", 0}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.query);
    Link link;
    link.On("people.odb").Names(TWTOKEN_FIELD_LIST, {"Name"}).Str(ordex::kFullTextQuery, k.query);
    ASSERT_EQ(link.Connect(), TWSUCCESS);
    List list(1);
    uint32_t count = 0;
    ASSERT_EQ(link.c.Execute(nullptr, list.get(), &count), TWSUCCESS);
    const size_t got = FetchAll(link, list).size();
    EXPECT_EQ(got, k.want);
  }
}

TEST_P(OrdexRead, TemporaryViewOfADeadRunIsReclaimed) {
  const pid_t child = fork();
  if (child == 0) {
    GVDB db = 0;
    GVViewDesign design{};
    design.style = GVVIEW_TEMPORARY;
    design.selectionKind = GVVIEWSEL_FORMULA;
    snprintf(design.name, sizeof design.name, "(TWMainIndexView0)");
    const bool made = _GVInit(GV_VERSION, 0, 0, 0) == 0 &&
                      GVDatabaseOpen(nullptr, Db("people.odb").c_str(), 0, &db) == 0 &&
                      GVViewCreate(db, &design, 0, nullptr, nullptr) == 0;
    _exit(made ? 0 : 1);  // dies holding the view
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  Link link;
  link.On("people.odb").Names(TWTOKEN_FIELD_LIST, {"Name"}).Names(TWTOKEN_ORDER_LIST, {"Name"});
  ASSERT_EQ(link.Connect(), TWSUCCESS);
  List list(1);
  uint32_t count = 0;
  ASSERT_EQ(link.c.Select(TWNULLHANDLE, 1, list.get(), &count), TWSUCCESS);
  EXPECT_EQ(FetchAll(link, list).size(), 3u);
  ASSERT_EQ(link.c.Action(TWACTION_RESET), TWSUCCESS);
  Raw raw("people.odb");
  // The dead run's view was reclaimed when its name was tried, and ours went at reset.
  EXPECT_EQ(GVViewLocateByName(raw.get(), "(TWMainIndexView0)"), 0u);
}

TEST_P(OrdexRead, StampWindowUnderTheFormCheck) {
  Link link;
  link.On("people.odb")
      .Names(TWTOKEN_FIELD_LIST, {"Name"})
      .Str(TWTOKEN_STAMPFIELD, "Born")
      .Num(ordex::kEnforceForm, 1);
  ASSERT_EQ(link.Connect(), TWSUCCESS);
  List list(1);
  uint32_t count = 0;
  const uint32_t st = link.c.Select(TWNULLHANDLE, 1, list.get(), &count);
  ASSERT_EQ(st, TWSUCCESS);
  EXPECT_EQ(FetchAll(link, list).size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Stores, OrdexRead,
                         ::testing::Values(storetest::Engine::kSqlite,
                                           storetest::Engine::kPostgres),
                         storetest::EngineName);

}  // namespace
