// qsrun as a program: the line language driving the real extension and engine, its syntax
// errors, its script errors and the host mechanics a script relies on (by-reference writes,
// variables receiving new objects, constants and functions by name).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "plat_test_util.h"
#include "process_util.h"

namespace {

struct Outcome {
  int code;
  std::string out;
  std::string err;
};

Outcome Qsrun(const std::string& script) {
  twtest::TempDir dir;
  const std::string file = dir.path() + "script.qs";
  std::ofstream(file, std::ios::binary) << script;
  const std::string built = TW_BUILT_DIR;
  twtest::ProcessResult r =
      twtest::RunProgram({built + "/qsrun", "--extension", built + "/scriptbind.so", file},
                         twtest::InheritedEnv(), dir.path());
  return {r.exitCode, r.out, r.err};
}

TEST(Qsrun, RunsScripts) {
  struct Case {
    const char* what;
    std::string script;
    std::string out;
  } cases[] = {
      {"literals, constants and comments",
       "' a comment\nRem another\nPrint 12\nPrint -3.5\nPrint \"say \"\"hi\"\"\"\n"
       "Print TWFAIL_END_OF_DATA\nPrint twstreamfmt_unicode\nx = 7\nPrint X\n",
       "12\n-3.5\nsay \"hi\"\n12290\n160\n7\n"},
      {"by-reference writes",
       "Set act = New TWActivity(0, \"\")\nSet f = New TWField(TWTYPE_INT, 2)\nv = 42\n"
       "r = f.SetInt(2, v)\nr = f.GetInt(2, got, isNull)\nPrint got\nPrint isNull\nPrint r\n"
       "f.GetInt 1, got, isNull\nPrint isNull\n",
       "42\n0\n0\n1\n"},
      {"a variable receives a new field",
       "Set act = New TWActivity(0, \"\")\nSet l = New TWFieldList(2, 0)\n"
       "l.Append \"CITY\", TWTYPE_TEXT, city\ncity.AsQsString = \"Lund\"\nPrint l.City\n"
       "city.ValueIndex = 2\ncity.AsQsString = \"Oslo\"\nl.ValueIndex = 2\nPrint l.CITY\n"
       "Print city\nPrint l.GetCount()\n",
       "Lund\nOslo\n[TWField]\n1\n"},
      {"functions and value classes",
       "Set act = New TWActivity(0, \"\")\nSet c = New TWCurrency\nc.AsQsDouble = 2.5\n"
       "Print TWFLOATFROMCURRENCY(c)\nPrint c.AsQsString\nPrint c.AsQsCurrency\n"
       "Set s = New TWStream\ns.AsQsString = \"17\"\nPrint TWINTFROMSTREAM(s)\n"
       "Set d = New TWDatetime\nd.AsQsDatetime = 1.5\nPrint d.AsQsDatetime\n",
       "2.5\n2.5000\n2.5000\n17\n1.5\n"},
      {"status text",
       "Set act = New TWActivity(0, \"\")\nPrint act.GetStatusAsQsString(TWFAIL_END_OF_DATA)\n",
       "The last data value has been retrieved\n"},
  };
  for (const Case& c : cases) {
    Outcome r = Qsrun(c.script);
    EXPECT_EQ(r.code, 0) << c.what << "\n" << r.err;
    EXPECT_EQ(r.out, c.out) << c.what;
  }
}

TEST(Qsrun, StopsWithStatusAndText) {
  struct Case {
    const char* what;
    std::string script;
    std::string out;  // what ran before the stop
    std::string err;  // a part of the message
  } cases[] = {
      {"a syntax error runs nothing", "Print 1\nPrint 2\nx = (\nPrint 3\n", "", "line 3:"},
      {"an unclosed text", "Print \"abc\n", "", "line 1:"},
      {"a stray character", "Print 1\nx = 5 ; 6\n", "", "line 2:"},
      {"a script error",
       "Set act = New TWActivity(0, \"\")\nSet f = New TWField(TWTYPE_INT, 1)\nPrint 1\n"
       "r = f.GetInt(5, v, n)\nPrint 2\n",
       "1\n", "line 4: error 12312:"},
      {"no error without RaiseExceptions",
       "Set act = New TWActivity(0, \"\")\nact.RaiseExceptions = 0\nSet f = New "
       "TWField(TWTYPE_INT, 1)\n"
       "r = f.GetInt(5, v, n)\nPrint r\nx.Foo\n",
       "12312\n", "line 6: status 18:"},
      {"an unknown method", "Set act = New TWActivity(0, \"\")\nact.Fly 1\n", "",
       "line 2: status 35"},
      {"an unknown class", "Set x = New TWNothing\n", "", "line 1: status 18"},
      {"a class before the activity", "Set f = New TWField(1, 1)\n", "", "line 1: status 18"},
      {"a second activity", "Set a = New TWActivity(0, \"\")\nSet b = New TWActivity(0, \"\")\n",
       "", "line 2: status 17"},
      {"a wrong object",
       "Set act = New TWActivity(0, \"\")\nSet f = New TWField(1, 1)\nSet c = New TWCurrency\n"
       "f.Copy c\n",
       "", "line 4: error 12546:"},
  };
  for (const Case& c : cases) {
    Outcome r = Qsrun(c.script);
    EXPECT_EQ(r.code, 1) << c.what;
    EXPECT_EQ(r.out, c.out) << c.what;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << c.what << ": " << r.err;
  }
}

TEST(Qsrun, NeedsAnExtension) {
  twtest::TempDir dir;
  std::ofstream(dir.path() + "s.qs") << "Print 1\n";
  const std::string built = TW_BUILT_DIR;
  for (const std::vector<std::string>& argv :
       {std::vector<std::string>{built + "/qsrun"},
        {built + "/qsrun", dir.path() + "missing.qs"},
        {built + "/qsrun", "--extension", dir.path() + "none.so", dir.path() + "s.qs"}}) {
    twtest::ProcessResult r = twtest::RunProgram(argv, twtest::InheritedEnv(), dir.path());
    EXPECT_EQ(r.exitCode, 1) << argv.back();
    EXPECT_EQ(r.out, "") << argv.back();
    EXPECT_FALSE(r.err.empty()) << argv.back();
  }
}

}  // namespace
