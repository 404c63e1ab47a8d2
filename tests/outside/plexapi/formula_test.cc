// Formulas: every formula the callers emit and the templates hold, list semantics, operators
// across kinds, FIELD assignments, malformed formulas with their offsets, and the bounds on
// nesting and size.
#include "formula.h"

#include <gtest/gtest.h>
#include <time.h>

#include <string>
#include <vector>

#include "formula_doc.h"
#include "plat_test_util.h"
#include "plexapi.h"
#include "richtext.h"
#include "timedate.h"
#include "value.h"

namespace {

using plexa::IsNumberType;
using plexa::IsTextType;
using plexa::IsTimeType;
using Doc = plexatest::FormulaDoc;
using plexa::Value;

// The machine's zone for the whole program: New York's rules, written out.
class NewYork : public ::testing::Environment {
 public:
  void SetUp() override {
    ::setenv("TZ", "EST5EDT,M3.2.0,M11.1.0", 1);
    ::tzset();
    plexa::OverrideInternational(std::make_shared<plexa::International>());
  }
};
const auto* const kZone = ::testing::AddGlobalTestEnvironment(new NewYork);

GVTIMEDATE Local(int y, int mo, int d, int h = -1, int mi = 0, int s = 0) {
  plexa::TimeFields f;
  f.dateNull = false;
  f.julian = plexa::JulianFromCivil(y, mo, d);
  if (h >= 0) {
    f.timeNull = false;
    f.ticks = h * plexa::kTicksPerHour + mi * 6000 + s * 100;
  }
  return plexa::MachineTime(f);
}

plexa::FormulaPtr CompileOk(const std::string& text) {
  plexa::FormulaPtr f;
  uint32_t offset = 0;
  EXPECT_EQ(plexa::Compile(text, f, offset), 0u) << text << " at " << offset;
  return f;
}

// The value as one line: kind letter and entries.
std::string Show(const Value& v) {
  if (v.unavailable) return "unavailable";
  std::string s;
  if (IsTextType(v.type)) {
    s = v.type == GVTYPE_TEXT ? "T" : "TL";
    for (const std::string& t : v.texts) s += "[" + t + "]";
  } else if (IsNumberType(v.type)) {
    s = v.type == GVTYPE_NUMBER ? "N" : "NL";
    for (double d : v.numbers) {
      std::string n;
      // A value that cannot be shown as text shows as empty.
      (void)plexa::NumberToText(d, n);
      s += "<" + n + ">";
    }
  } else if (IsTimeType(v.type)) {
    s = v.type == GVTYPE_TIME ? "D" : "DL";
    for (const GVTIMEDATE& t : v.times) {
      std::string n;
      (void)plexa::TimeToText(t, *plexa::CurrentInternational(), n);
      s += "{" + n + "}";
    }
  } else {
    s = "type " + std::to_string(v.type);
  }
  return s;
}

std::string Eval(const std::string& text, const Doc& doc) {
  plexa::FormulaPtr f = CompileOk(text);
  if (!f) return "no formula";
  Value v;
  const uint32_t st = plexa::Evaluate(*f, doc, v);
  if (st != 0) return "error";
  return Show(v);
}

bool Select(const std::string& text, const Doc& doc) {
  plexa::FormulaPtr f = CompileOk(text);
  return f && plexa::Selects(*f, doc);
}

// ---------------------------------------------------------------- caller formulas ---------

// The connector's stamp column over the window (1 Jan 2024, 1 Jun 2024 12:00].
constexpr const char* kStamp =
    "@@181@@ (@@89@@ (S); 1; @@93@@ (S) & (S > @@75@@(2024;1;1;0;0;0) & "
    "S <= @@75@@(2024;6;1;12;0;0)); 2; 1)";
// Without a base stamp the window is open below.
constexpr const char* kStampNoBase =
    "@@181@@ (@@89@@ (S); 1; @@93@@ (S) & (S <= @@75@@(2024;6;1;12;0;0)); 2; 1)";

TEST(FormulaCallers, StampColumn) {
  struct Case {
    const char* what;
    Doc doc;
    const char* want;
    const char* wantNoBase;
  } cases[] = {
      {"absent", Doc(), "N<1>", "N<1>"},
      {"not a time", Doc().With("S", Value::Text("2024-02-02")), "N<1>", "N<1>"},
      {"inside", Doc().With("s", Value::Time(Local(2024, 3, 15, 8))), "N<2>", "N<2>"},
      {"at the base", Doc().With("S", Value::Time(Local(2024, 1, 1, 0))), "N<1>", "N<2>"},
      {"at the top", Doc().With("S", Value::Time(Local(2024, 6, 1, 12))), "N<2>", "N<2>"},
      {"after", Doc().With("S", Value::Time(Local(2024, 6, 1, 12, 0, 1))), "N<1>", "N<1>"},
      {"before", Doc().With("S", Value::Time(Local(2023, 12, 31, 23))), "N<1>", "N<2>"},
      // Written in UTC: 16:00:01 there is 12:00:01 in New York, just after the window.
      {"other zone", Doc().With("S", Value::Time(GVTIMEDATE{16 * 360000 + 100, 2460463u})), "N<1>",
       "N<1>"},
      {"other zone inside", Doc().With("S", Value::Time(GVTIMEDATE{16 * 360000, 2460463u})), "N<2>",
       "N<2>"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Eval(kStamp, c.doc), c.want) << c.what;
    EXPECT_EQ(Eval(kStampNoBase, c.doc), c.wantNoBase) << c.what;
  }
}

TEST(FormulaCallers, SearchesTheConnectorAndTheInstallerWrite) {
  const Doc activity = Doc()
                           .With("Form", Value::Text("Activity\\Admin"))
                           .With("Type", Value::Text("x"))
                           .With("FinishTime", Value::Time(Local(1996, 11, 5, 14, 0, 0)))
                           .With("Qty", Value::Number(12))
                           .With("Price", Value::Number(-13))
                           .With("Code", Value::Text("b"))
                           .With("Name", Value::Text("ADMINISTRATOR"));
  const Doc later = Doc()
                        .With("Form", Value::Text("Activity\\Admin"))
                        .With("Type", Value::Text("x"))
                        .With("FinishTime", Value::Time(Local(1996, 11, 5, 14, 7, 10)));
  const Doc open =
      Doc().With("Form", Value::Text("Activity\\Admin")).With("Type", Value::Text("x"));
  const Doc quoted = Doc().With("Form", Value::Text("It's \\ here"));
  const Doc emptyName = Doc().With("Name", Value::Text(""));
  struct Case {
    std::string formula;
    const Doc* doc;
    bool selects;
  } cases[] = {
      {"@@select@@ ", &open, true},
      {"@@select@@ ", &emptyName, true},
      {"@@select@@ Form = 'Activity\\\\Admin' & (Type = \"x\") & "
       "FinishTime <= @@75@@(1996;11;5;14;7;9) ",
       &activity, true},
      {"@@select@@ Form = 'Activity\\\\Admin' & (Type = \"x\") & "
       "FinishTime <= @@75@@(1996;11;5;14;7;9) ",
       &later, false},
      {"@@select@@ Form = 'Activity\\\\Admin' & (Type = \"x\") & "
       "FinishTime <= @@75@@(1996;11;5;14;7;9) ",
       &open, false},
      {"@@select@@ Form = 'activity\\\\admin'", &activity, false},
      {"@@select@@ Form = 'It\\'s \\\\ here'", &quoted, true},
      {"@@select@@ Name = @@40@@", &open, true},
      {"@@select@@ Name = @@40@@", &emptyName, true},
      {"@@select@@ Name = @@40@@", &activity, false},
      {"@@select@@ Form = 'Activity\\\\Admin' & Qty >= 12 & Price < -12.5 & Code <> 'a'", &activity,
       true},
      {"@@select@@ Form = 'Activity\\\\Admin' & Qty > 12", &activity, false},
      {"@@select@@ Qty <= 1.2e+1 & Price >= -1.3e1 & Qty < 1e+20", &activity, true},
      {"select @@98@@(Name) = @@98@@('Administrator')", &activity, true},
      {"select @@98@@(Name) = @@98@@('Administrator')", &open, false},
      {"FinishTime <= @@75@@(1996;11;5;14;7;9)", &activity, true},
      {"FinishTime <= @@75@@(1996;11;5;14;7;9)", &open, false},
  };
  for (const Case& c : cases) EXPECT_EQ(Select(c.formula, *c.doc), c.selects) << c.formula;
}

TEST(FormulaCallers, TemplateViews) {
  const GVTIMEDATE sched = Local(2024, 5, 1, 9);
  const Doc queued = Doc()
                         .With("Type", Value::Text("Activity"))
                         .With("Enabled", Value::Text("1"))
                         .With("Lock", Value::Number(0))
                         .With("ActivityID", Value::Number(14))
                         .With("ServerID", Value::Number(6))
                         .With("SchedTime", Value::Time(sched));
  const Doc requeue = Doc()
                          .With("Type", Value::Text("Activity"))
                          .With("Enabled", Value::Number(1))
                          .With("ActivityID", Value::Number(0))
                          .With("SchedTime", Value::Time(sched));
  const Doc disabled =
      Doc().With("Type", Value::Text("Activity")).With("Enabled", Value::Text("0"));
  const Doc locked = Doc()
                         .With("Type", Value::Text("Activity"))
                         .With("Enabled", Value::Text("1"))
                         .With("Lock", Value::Number(8))
                         .With("SyncID", Value::Number(20))
                         .With("SyncDependents", Value::NumberList({4, 10}));
  const Doc server = Doc()
                         .With("Type", Value::Text("Configuration"))
                         .With("SubType", Value::Text("Client"))
                         .With("ServerStatus", Value::Number(2))
                         .With("Name", Value::Text("alpha"));
  const Doc log =
      Doc().With("Form", Value::Text("Activity")).With("Activity", Value::Text("Nightly"));
  const Doc serverLog =
      Doc().With("Form", Value::Text("Server")).With("Server", Value::Text("alpha"));

  const std::string queueSel =
      "SELECT Type = 'Activity' & @@text@@(Enabled) != '0' & (@@absent@@(Lock) | Lock = 0)";
  const std::string queueTime =
      "@@if@@(@@absent@@(ActivityID) | ActivityID = 0 | !@@istime@@(SchedTime); "
      "@@datetime@@(1;1;1;0;0;0); SchedTime)";
  const std::string queueId = "@@if@@(@@absent@@(ActivityID); 0; ActivityID)";
  const std::string serversSel =
      "SELECT Type = 'Configuration' & (SubType = 'Server' | SubType = 'Client')";
  const std::string runningSel = serversSel + " & ServerStatus = 2";
  const std::string syncSel = "SELECT Type = 'Activity' & !@@absent@@(SyncID)";
  const std::string activeSel = "SELECT Type = 'Activity' & !@@absent@@(Lock) & Lock != 0";
  const std::string logName = "@@if@@(Form = 'Activity'; Activity; Server)";

  EXPECT_TRUE(Select(queueSel, queued));
  EXPECT_TRUE(Select(queueSel, requeue));
  EXPECT_FALSE(Select(queueSel, disabled));
  EXPECT_FALSE(Select(queueSel, locked));
  EXPECT_EQ(Eval(queueTime, queued), Eval("SchedTime", queued));
  EXPECT_EQ(Eval(queueTime, requeue), "D{01/01/0001 12:00:00 AM}");
  EXPECT_EQ(Eval(queueTime, disabled), "D{01/01/0001 12:00:00 AM}");
  EXPECT_EQ(Eval(queueId, queued), "N<14>");
  EXPECT_EQ(Eval(queueId, disabled), "N<0>");
  EXPECT_TRUE(Select(serversSel, server));
  EXPECT_TRUE(Select(runningSel, server));
  EXPECT_FALSE(Select(runningSel, Doc(server).With("ServerStatus", Value::Number(0))));
  EXPECT_TRUE(Select(syncSel, locked));
  EXPECT_FALSE(Select(syncSel, queued));
  EXPECT_EQ(Eval("SyncDependents", locked), "NL<4><10>");
  EXPECT_TRUE(Select(activeSel, locked));
  EXPECT_FALSE(Select(activeSel, queued));
  EXPECT_FALSE(Select(activeSel, disabled));
  EXPECT_TRUE(Select("SELECT Form = 'Server' | Form = 'Client'", serverLog));
  EXPECT_TRUE(Select("SELECT @@absent@@(FinishTime)", serverLog));
  EXPECT_TRUE(Select("SELECT 1", Doc()));
  EXPECT_TRUE(Select("SELECT @@absent@@(Form)", Doc()));
  EXPECT_EQ(Eval(logName, log), "T[Nightly]");
  EXPECT_EQ(Eval(logName, serverLog), "T[alpha]");
}

TEST(FormulaCallers, FieldDefaults) {
  struct Case {
    const char* formula;
    const char* want;
  } cases[] = {
      {"'Configuration'", "T[Configuration]"},
      {"''", "T[]"},
      {"60", "N<60>"},
      {"131072", "N<131072>"},
      {"'1'", "T[1]"},
      {"'Action' : 'SrcServer' : 'SrcDatabase' : 'DestServer' : 'DestDatabase'",
       "TL[Action][SrcServer][SrcDatabase][DestServer][DestDatabase]"},
      {"1 : 16842753 : 16842754 : 33619969 : 33619970",
       "NL<1><16842753><16842754><33619969><33619970>"},
      {"@@datetime@@(1996;11;5)", "D{11/05/1996}"},
  };
  for (const Case& c : cases) EXPECT_EQ(Eval(c.formula, Doc()), c.want) << c.formula;
}

// ---------------------------------------------------------------- semantics ---------------

TEST(FormulaSemantics, ListsPairEntriesAndAnyPairDecides) {
  const Doc d = Doc()
                    .With("L", Value::TextList({"a", "b"}))
                    .With("Same", Value::TextList({"a", "a"}))
                    .With("N", Value::NumberList({1, 2, 3}))
                    .With("EmptyNum", Value::NumberList({}))
                    .With("EmptyText", Value::TextList({}))
                    .With("Name", Value::Text("Admin"))
                    .With("T", Value::Time(Local(2024, 7, 1, 10)))
                    .With("T2", Value::Time(Local(2024, 7, 1, 11, 30)))
                    .With("Body", Value::Composite(plexa::rt::FromText("line1\nline2")))
                    .With("Blob", [] {
                      Value v;
                      v.type = GVTYPE_OTHER;
                      v.records = "raw";
                      return v;
                    }());
  struct Case {
    const char* formula;
    const char* want;
  } cases[] = {
      {"L = 'b'", "N<1>"},
      {"L = 'c'", "N<0>"},
      {"Same != 'a'", "N<0>"},
      {"L != 'a'", "N<1>"},
      {"L <> 'a'", "N<1>"},
      {"N = 3", "N<1>"},
      {"N = 1 : 5", "N<1>"},  // 1 = 1
      {"N = 7 : 2", "N<1>"},  // 2 = 2
      {"N = 2 : 1", "N<0>"},  // 1-2, 2-1, 3-1 (the shorter repeats its last entry)
      {"N > 2 : 9", "N<0>"},
      {"EmptyNum = ''", "N<1>"},  // an empty list acts as one ""
      {"EmptyNum = 0", "N<0>"},
      {"EmptyText = @@40@@", "N<1>"},
      {"Missing = ''", "N<1>"},
      {"Missing = 0", "N<0>"},
      {"Missing != 0", "N<1>"},
      {"'1' = 1", "N<0>"},
      {"'1' <> 1", "N<1>"},
      {"'1' < 1", "N<0>"},
      {"T = '07/01/2024 10:00:00 AM'", "N<0>"},
      {"Name = 'admin'", "N<0>"},
      {"NAME = 'Admin'", "N<1>"},
      {"'B' < 'a'", "N<1>"},
      {"'é' > 'z'", "N<1>"},
      {"T < T2 & T2 >= T & T != T2", "N<1>"},
      {"N + 10", "NL<11><12><13>"},
      {"N * (2 : 3)", "NL<2><6><9>"},
      {"L + '!'", "TL[a!][b!]"},
      {"'a' + 'b' + 'c'", "T[abc]"},
      {"7 - 2 - 1", "N<4>"},
      {"2 + 3 * 4", "N<14>"},
      {"-(2 + 3) * -1", "N<5>"},
      {"1 / 4", "N<0.25>"},
      {"T2 - T", "N<5400>"},
      {"T + 5400 = T2 & T2 - 5400 = T", "N<1>"},
      {"60 + T = T + 60", "N<1>"},
      {"L : 'c'", "TL[a][b][c]"},
      {"EmptyNum : 1 : 2", "NL<1><2>"},
      {"Missing : 'x'", "TL[][x]"},
      {"!''", "N<1>"},
      {"!(0 : 0 : 1)", "N<0>"},
      {"'x' | 0", "N<0>"},
      {"1 & 2", "N<1>"},
      {"@@count@@(N) + @@count@@(Missing) + @@count@@(EmptyText)", "N<3>"},
      {"@@member@@('b'; L)", "N<1>"},
      {"@@member@@(4 : 3; N)", "N<1>"},
      {"@@member@@('1'; N)", "N<0>"},
      {"@@number@@(' 2.5 ' : '3') * 2", "NL<5><6>"},
      {"@@text@@(N)", "TL[1][2][3]"},
      {"@@text@@(2.5)", "T[2.5]"},
      {"@@lower@@(L + 'X')", "TL[ax][bx]"},
      {"@@98@@(12)", "T[12]"},
      {"@@istime@@(T) + @@istime@@(Name) + @@istime@@(Missing)", "N<1>"},
      {"@@empty@@", "T[]"},
      {"@@40@@()", "T[]"},
      {"@@if@@(0; 'a'; Missing = ''; 'b'; 'c')", "T[b]"},
      {"@@if@@(0; 'a'; 'c')", "T[c]"},
      {"@@if@@(1; 'lazy'; 1 / 0)", "T[lazy]"},
      {"Body", "T[line1\nline2]"},
      {"Blob", "T[]"},
      {"Missing", "unavailable"},
      {"SeLeCt 1", "N<1>"},
      {"'first'; 'second'", "T[second]"},
      {"x := 1", "error"},
  };
  for (const Case& c : cases) {
    if (std::string(c.want) == "error") {
      plexa::FormulaPtr f;
      uint32_t offset = 0;
      EXPECT_EQ(plexa::Compile(c.formula, f, offset), GVERR_FORMULA) << c.formula;
      continue;
    }
    EXPECT_EQ(Eval(c.formula, d), c.want) << c.formula;
  }
}

TEST(FormulaSemantics, EvaluationErrorsNeverSelect) {
  const Doc d = Doc().With("T", Value::Time(Local(2024, 7, 1, 10))).With("X", Value::Text("a"));
  const char* errors[] = {
      "5 / 0 = 1",
      "'a' + 1",
      "'a' : 1",
      "-'a'",
      "T * 2",
      "T - 'a'",
      "@@number@@('x')",
      "@@75@@(2023;2;29)",
      "@@75@@(1;1;1;24;0;0)",
      "@@75@@('1';1;1)",
      "@@75@@(1.5;1;1)",
      "X + Missing + 1",
      "T + 1e15",
  };
  for (const char* e : errors) {
    plexa::FormulaPtr f = CompileOk(e);
    ASSERT_TRUE(f) << e;
    Value v = Value::Text("kept");
    EXPECT_EQ(plexa::Evaluate(*f, d, v), GVERR_FORMULA) << e;
    EXPECT_EQ(Show(v), "T[kept]") << e;
    EXPECT_FALSE(plexa::Selects(*f, d)) << e;
    plexa::FormulaPtr sel = CompileOk(std::string("SELECT ") + e);
    EXPECT_FALSE(plexa::Selects(*sel, d)) << e;
  }
}

TEST(FormulaSemantics, DatetimeTakesTheMachinesZoneAndDaylight) {
  Value v;
  plexa::FormulaPtr f = CompileOk("@@75@@(2024;7;1;10;0;0) : @@datetime@@(2024;1;15;10;0;0)");
  ASSERT_EQ(plexa::Evaluate(*f, Doc(), v), 0u);
  ASSERT_EQ(v.times.size(), 2u);
  plexa::TimeFields summer;
  plexa::TimeFields winter;
  ASSERT_EQ(plexa::DecodeTime(v.times[0], summer), 0u);
  ASSERT_EQ(plexa::DecodeTime(v.times[1], winter), 0u);
  EXPECT_EQ(std::tie(summer.zone, summer.dst), std::make_tuple(-5, 1));
  EXPECT_EQ(std::tie(winter.zone, winter.dst), std::make_tuple(-5, 0));
  EXPECT_EQ(summer.ticks, 10 * plexa::kTicksPerHour);
}

TEST(FormulaStatements, SelectionAndValueResults) {
  const Doc d = Doc().With("Type", Value::Text("Activity"));
  struct Case {
    const char* formula;
    bool selects;
    const char* value;
  } cases[] = {
      {"", true, "T[]"},
      {"   ", true, "T[]"},
      {"SELECT", true, "N<1>"},
      {"@@select@@;", true, "N<1>"},
      {"SELECT Type = 'Activity'; 0", true, "N<0>"},  // the SELECT statement decides
      {"0; SELECT Type = 'Activity'", true, "N<1>"},
      {"SELECT 0; 1", false, "N<1>"},
      {"1; 0", false, "N<0>"},
      {"FIELD X := 1; SELECT X = 1", false, "N<0>"},  // evaluation assigns nothing
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Select(c.formula, d), c.selects) << c.formula;
    EXPECT_EQ(Eval(c.formula, d), c.value) << c.formula;
  }
  plexa::FormulaPtr all = CompileOk("  @@select@@  ");
  EXPECT_TRUE(plexa::SelectsAll(*all));
  EXPECT_TRUE(plexa::HasSelect(*all));
  plexa::FormulaPtr some = CompileOk("Type = 'x'");
  EXPECT_FALSE(plexa::SelectsAll(*some));
  EXPECT_FALSE(plexa::HasSelect(*some));
}

TEST(FormulaStatements, FieldAssignmentsSetItems) {
  Doc d = Doc()
              .With("Count", Value::Number(2))
              .With("Lock", Value::Number(6))
              .With("Single", Value::TextList({"only"}));
  plexa::FormulaPtr f = CompileOk(
      "FIELD Lock := 0; FIELD Count := Count + 1; field Days := 1 : 2 : 3; "
      "FIELD Note := 'n' + @@text@@(Count); FIELD Empty := Missing; FIELD When := "
      "@@75@@(2024;1;2); FIELD Copy := Single");
  ASSERT_EQ(plexa::Execute(*f, d), 0u);
  EXPECT_EQ(Show(*d.Get("Lock")), "N<0>");
  EXPECT_EQ(Show(*d.Get("Count")), "N<3>");
  EXPECT_EQ(Show(*d.Get("Days")), "NL<1><2><3>");
  EXPECT_EQ(Show(*d.Get("Note")), "T[n3]");  // later statements read earlier assignments
  EXPECT_EQ(Show(*d.Get("Empty")), "T[]");
  EXPECT_EQ(Show(*d.Get("When")), "D{01/02/2024}");
  EXPECT_EQ(Show(*d.Get("Copy")), "T[only]");  // one entry: a single text

  // A failing Set stops the run with its status; an evaluation error answers GVERR_FORMULA.
  plexa::FormulaPtr ro = CompileOk("FIELD ReadOnly := 1; FIELD After := 1");
  EXPECT_EQ(plexa::Execute(*ro, d), GVERR_READ_ONLY);
  EXPECT_EQ(d.Get("After"), nullptr);
  plexa::FormulaPtr bad = CompileOk("FIELD A := 1; FIELD B := 1 / 0; FIELD C := 1");
  EXPECT_EQ(plexa::Execute(*bad, d), GVERR_FORMULA);
  EXPECT_EQ(d.Get("C"), nullptr);
}

TEST(FormulaStatements, CompiledOnceEvaluatedForManyDocuments) {
  plexa::FormulaPtr f = CompileOk("SELECT Type = 'Activity' & Lock != 0");
  int selected = 0;
  for (int i = 0; i < 1000; ++i) {
    Doc d = Doc()
                .With("Type", Value::Text(i % 2 ? "Activity" : "Other"))
                .With("Lock", Value::Number(i % 3));
    selected += plexa::Selects(*f, d) ? 1 : 0;
  }
  EXPECT_EQ(selected, 333);
}

// ---------------------------------------------------------------- malformed --------------

TEST(FormulaMalformed, AnswersTheOffsetOfTheFault) {
  struct Case {
    std::string formula;
    uint32_t offset;  // 1-based
  } cases[] = {
      {"Form = 'abc", 8},
      {"Form = \"abc\\\"", 8},
      {"Form = ", 8},
      {"@@999@@", 1},
      {"@@Select@@", 1},
      {"@@select", 1},
      {"a @ b", 3},
      {"@@select@@ Form = = 'x'", 19},
      {"(a", 3},
      {"a)", 2},
      {"a b", 3},
      {"'a' 'b'", 5},
      {"@@89@@('x')", 8},
      {"@@89@@(a + b)", 8},
      {"@@89@@", 1},
      {"@@181@@(1; 2)", 1},
      {"@@181@@(1; 2; 3; 4)", 1},
      {"@@75@@(1; 2)", 1},
      {"@@40@@(1)", 1},
      {"@@member@@(1)", 1},
      {"@@if@@(1; 2; 3", 15},
      {"FIELD := 1", 7},
      {"FIELD x 1", 9},
      {"FIELD select := 1", 7},
      {"a # b", 3},
      {"1e", 2},
      {"1e+", 2},
      {"; a", 1},
      {"a;;b", 3},
      {"a = b = c", 7},
      {"select = 1", 8},
      {"x : ", 5},
      {"!", 2},
      {"1 +", 4},
  };
  for (const Case& c : cases) {
    plexa::FormulaPtr f;
    uint32_t offset = 0;
    EXPECT_EQ(plexa::Compile(c.formula, f, offset), GVERR_FORMULA) << c.formula;
    EXPECT_EQ(offset, c.offset) << c.formula;
    EXPECT_FALSE(f) << c.formula;
  }
}

TEST(FormulaMalformed, NestingAndSizeAreBounded) {
  auto compiles = [](const std::string& text) {
    plexa::FormulaPtr f;
    uint32_t offset = 0;
    return plexa::Compile(text, f, offset) == 0;
  };
  const auto nested = [](const std::string& open, const std::string& close, size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s += open;
    s += "1";
    for (size_t i = 0; i < n; ++i) s += close;
    return s;
  };
  EXPECT_TRUE(compiles(nested("(", ")", 150)));
  EXPECT_FALSE(compiles(nested("(", ")", 100000)));
  EXPECT_FALSE(compiles(nested("@@if@@(0;0;", ")", 50000)));
  EXPECT_FALSE(compiles(nested("!", "", 100000)));
  EXPECT_FALSE(compiles(nested("-", "", 100000)));
  EXPECT_TRUE(compiles(nested("-", "", 150)));
  EXPECT_FALSE(compiles(std::string(plexa::kMaxLength + 1, ' ')));

  // A long chain is wide, not deep: it compiles and evaluates.
  std::string chain = "SELECT a = 1";
  for (int i = 0; i < 100000; ++i) chain += " & a = 1";
  plexa::FormulaPtr f = CompileOk(chain);
  ASSERT_TRUE(f);
  EXPECT_TRUE(plexa::Selects(*f, Doc().With("A", Value::Number(1))));

  // Lists and texts cannot grow without bound.
  std::string grow;
  for (int i = 0; i < 40; ++i) grow += "FIELD L := L : L : 'x'; ";
  plexa::FormulaPtr g = CompileOk(grow);
  Doc d;
  EXPECT_EQ(plexa::Execute(*g, d), GVERR_FORMULA);
  std::string text = "FIELD T := 'abcdefgh'; ";
  for (int i = 0; i < 40; ++i) text += "FIELD T := T + T; ";
  plexa::FormulaPtr t = CompileOk(text);
  EXPECT_EQ(plexa::Execute(*t, d), GVERR_FORMULA);
}

}  // namespace
