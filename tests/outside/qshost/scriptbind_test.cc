// The script extension through our host with the real engine: messages, registration,
// class control, script dates, the error path, objects and dynamic properties.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "scriptbind_fixture.h"

namespace {

using qshost::DoubleValue;
using qshost::IntValue;
using qshost::ObjectValue;
using qshost::RefValue;
using qshost::StringValue;
using qstest::ScriptFixture;

class Scriptbind : public ScriptFixture {};

// ---------------------------------------------------------------- messages ------------

TEST_F(Scriptbind, MessagesAnswerByCode) {
  const qshost::Extension& ext = *ext_;
  const auto entry = reinterpret_cast<intptr_t>(ext.Symbol("MainEntryPoint"));
  const auto control = reinterpret_cast<intptr_t>(ext.Symbol("QSXClassControl"));
  ASSERT_NE(entry, 0);
  struct Case {
    uint32_t message;
    uintptr_t arg;
    intptr_t answer;
  } cases[] = {
      {0, 8, 1},   {0, 7, 0},       {0, 0, 0}, {4, 1, entry}, {4, 2, control},
      {4, 3, 1},   {4, 0, 1},       {5, 0, 1}, {6, 0, 8},     {7, 0, 1},
      {7, 4, 5},   {7, 8, 9},       {7, 9, 1}, {7, 1000, 1},  {8, 0, -1},
      {12, 0, -1}, {0xFFFF, 0, -1}, {3, 0, 0}, {11, 0, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ext.Message(c.message, c.arg, 0), c.answer)
        << "message " << c.message << " arg " << c.arg;

  QsxInstance record{};
  EXPECT_EQ(ext.Message(1, reinterpret_cast<uintptr_t>(&record), 0), 0);
  EXPECT_EQ(record.version, QSX_VERSION);
  EXPECT_EQ(ext.Message(1, 0, 0), 0);
  // Registration needs the instance's slots.
  EXPECT_EQ(ext.Message(2, 0, 0), QSX_NO_OBJECT);
  EXPECT_EQ(ext.Message(2, reinterpret_cast<uintptr_t>(&record), 0), QSX_NO_OBJECT);

  QsxEntryRecord er{};
  auto main = reinterpret_cast<QsxMainEntryFn>(entry);
  EXPECT_EQ(main(&er, 0), &er);
  EXPECT_EQ(er.version, QSX_VERSION);
  EXPECT_NE(er.msgProc, 0u);
}

TEST_F(Scriptbind, KeptTextIsCutTo256) {
  in_.reset();
  for (size_t length : {0u, 1u, 256u, 300u}) {
    qshost::Instance in(*ext_, std::string(length, 'k'));
    ASSERT_EQ(in.Start(), QSX_OK);
    ASSERT_FALSE(in.classes.empty());
    EXPECT_EQ(in.classes.front().keptText.size(), std::min<size_t>(length, 256)) << length;
  }
}

// ---------------------------------------------------------------- registration --------

TEST_F(Scriptbind, RegistersNineClassesFourFunctionsAndEveryConstant) {
  std::vector<std::string> names;
  for (const qshost::ClassInfo& c : in_->classes) names.push_back(c.name);
  EXPECT_EQ(names, (std::vector<std::string>{"TWDatetimeParts", "TWDatetime", "TWNumeric",
                                             "TWCurrency", "TWStream", "TWField", "TWFieldList",
                                             "TWConnect", "TWActivity"}));
  for (const qshost::ClassInfo& c : in_->classes) {
    EXPECT_EQ(c.controlName, "QSXClassControl");
    ASSERT_EQ(c.id.size(), 16u);
    EXPECT_EQ(c.id[0], 0x80 + c.classNumber) << c.name;
    const qshost::MethodInfo* ctor = c.Method("New");
    ASSERT_NE(ctor, nullptr) << c.name;
    EXPECT_EQ(ctor->id, c.classNumber << 8);
    EXPECT_EQ(ctor->count & QST_NEW_FLAG, QST_NEW_FLAG);
    EXPECT_EQ(ctor->types[0], QST_OBJECT_OF(c.classNumber));
    EXPECT_EQ(ctor->reference, c.classNumber * 100 + 20);
  }
  // A few rows letter for letter: declared kinds and argument names.
  const qshost::MethodInfo* fetch = in_->Class("TWConnect")->Method("Fetch");
  ASSERT_NE(fetch, nullptr);
  EXPECT_EQ(fetch->id, 0x208u);
  EXPECT_EQ(fetch->types,
            (std::vector<uint32_t>{QST_INT, QST_SELF, QST_OBJECT_OF(3), QST_INT | QST_BYVAL,
                                   QST_INT | QST_BYVAL, QST_INT}));
  EXPECT_EQ(fetch->argNames, (std::vector<std::string>{"twDestFieldlist", "twRecordIndex",
                                                       "twRecordCount", "twAffectedCount"}));
  EXPECT_EQ(in_->Class("TWActivity")->Method("GetPropertyInt")->argNames[0], "twProertyToken");
  EXPECT_EQ(in_->Class("TWActivity")->Method("GetStatusAsQsString")->types,
            (std::vector<uint32_t>{QST_STRING, QST_SELF, QST_INT | QST_BYVAL | QST_OPTIONAL}));
  EXPECT_EQ(in_->Class("TWActivity")->Property("RaiseExceptions")->id, 0x800001u);
  EXPECT_EQ(in_->Class("TWDatetimeParts")->Property("twYear")->id, 0x908u);
  EXPECT_EQ(in_->Class("TWStream")->methods.size(), 0x25u);

  ASSERT_EQ(in_->functions.size(), 4u);
  const char* functions[] = {"TWFLOATFROMCURRENCY", "TWFLOATFROMNUMERIC", "TWFLOATFROMSTREAM",
                             "TWINTFROMSTREAM"};
  for (uint32_t i = 0; i < 4; ++i) {
    EXPECT_EQ(in_->functions[i].name, functions[i]);
    EXPECT_EQ(in_->functions[i].index, i);
  }
  EXPECT_EQ(in_->functions[3].resultType, QST_INT);

  ASSERT_EQ(in_->constants.size(), 432u);
  for (size_t i = 0; i < in_->constants.size(); ++i)
    EXPECT_EQ(in_->constants[i].value.kind, i < 426 ? QSV_INT : QSV_DOUBLE)
        << in_->constants[i].name;
  EXPECT_EQ(in_->constants.front().name, "TWNULLHANDLE");
  EXPECT_EQ(in_->Constant("TWFAIL_END_OF_DATA")->value.u.i, 12290);
  EXPECT_EQ(in_->Constant("TWSTREAMFMT_UNICODE")->value.u.i, 0xA0);
  EXPECT_EQ(in_->constants[426].name, "TWMAX_FLOAT_PVALUE");
  EXPECT_EQ(in_->Constant("TWMAX_FLOAT_PVALUE")->value.u.d, std::numeric_limits<double>::max());
}

TEST_F(Scriptbind, RegistrationAnswers) {
  in_.reset();
  const uint8_t* activityId = nullptr;
  {
    qshost::Instance probe(*ext_);
    ASSERT_EQ(probe.Start(), QSX_OK);
    static std::vector<uint8_t> id = probe.Class("TWActivity")->id;
    activityId = id.data();
  }
  struct Case {
    const char* what;
    int failAt;  // the registration answered with status; 0 none
    uint32_t status;
    uint32_t started;  // what registration answers
    size_t classes, functions, constants;
    bool module;
  } cases[] = {
      {"every slot answers 17", 1000000, QSX_EXISTS, QSX_OK, 0, 0, 0, true},
      {"third class fails", 3, 5, 5, 2, 0, 0, false},
      {"a function fails", 11, 7, 7, 9, 1, 0, false},
      {"a constant fails", 14 + 426 + 2, 9, 9, 9, 4, 428, false},
  };
  for (const Case& c : cases) {
    qshost::Instance in(*ext_);
    in.answer = [&c](int n) { return n >= c.failAt ? c.status : QSX_OK; };
    if (c.status == QSX_EXISTS) in.answer = [](int) { return QSX_EXISTS; };
    EXPECT_EQ(in.Start(), c.started) << c.what;
    EXPECT_EQ(in.classes.size(), c.classes) << c.what;
    EXPECT_EQ(in.functions.size(), c.functions) << c.what;
    EXPECT_EQ(in.constants.size(), c.constants) << c.what;
    QsxObject* act = nullptr;
    EXPECT_EQ(in.CreateById(activityId, {IntValue(0)}, &act), c.module ? QSX_OK : QSX_NO_OBJECT)
        << c.what;
    if (act != nullptr) in.Release(act);
  }
}

TEST_F(Scriptbind, RegisteringTwiceLeavesNoModuleBehind) {
  // The second registration meets names known already (17) and succeeds.
  ASSERT_EQ(in_->Start(), QSX_OK);
  EXPECT_EQ(in_->classes.size(), 9u);
  EXPECT_EQ(in_->constants.size(), 432u);
  QsxObject* act = nullptr;
  const std::vector<uint8_t> id = in_->Class("TWActivity")->id;
  ASSERT_EQ(in_->CreateById(id.data(), {IntValue(0)}, &act), QSX_OK);
  // Message 3 takes every module object of the instance with it: none is left to create in.
  in_->End();
  QsxObject* again = nullptr;
  EXPECT_EQ(in_->CreateById(id.data(), {IntValue(0)}, &again), QSX_NO_OBJECT);
  EXPECT_EQ(again, nullptr);
  // The activity went with its module: a new instance may make one.
  in_ = std::make_unique<qshost::Instance>(*ext_);
  ASSERT_EQ(in_->Start(), QSX_OK);
  EXPECT_NE(Activity(), nullptr);
}

// ---------------------------------------------------------------- class control -------

TEST_F(Scriptbind, ClassControlWithoutObject) {
  for (uint32_t code : {258u, 259u, 261u, 262u, 263u, 264u, 265u, 270u, 277u, 278u, 279u, 300u}) {
    QsxCall call{};
    EXPECT_EQ(in_->Control(code, call), QSX_NO_OBJECT) << code;
  }
  EXPECT_EQ(ext_->Control(in_->record(), QSXC_GET, nullptr), QSX_NO_OBJECT);
}

TEST_F(Scriptbind, ClassControlWithObject) {
  ASSERT_NE(Activity(), nullptr);
  QsxObject* cy = New("TWCurrency", {}, "cy");
  ASSERT_NE(cy, nullptr);
  QsValue result{};
  QsValue value = DoubleValue(2.5);
  const std::u16string name = u"AsQsDouble";
  struct Case {
    uint32_t code;
    uint32_t member;
    QsValue* result;
    const char16_t* name;
    uint32_t answer;
  } cases[] = {
      {QSXC_REFUSED, 0, nullptr, nullptr, QSX_NO_OBJECT},
      {QSXC_ADD_REF, 0, nullptr, nullptr, QSX_OK},
      {QSXC_RELEASE, 0, nullptr, nullptr, QSX_OK},
      {QSXC_SET, 0x601, &value, nullptr, QSX_OK},
      {QSXC_GET, 0x601, &result, nullptr, QSX_OK},
      {QSXC_GET, 0x6FF, &result, nullptr, QSX_NO_OBJECT},
      {QSXC_CALL, 0x602, &result, nullptr, QSX_OK},  // Clear
      {QSXC_CALL, 0x608, &result, nullptr, QSX_NO_METHOD},
      {QSXC_CALL, 0x100, &result, nullptr, QSX_NO_METHOD},
      {QSXC_LOOKUP, 0, nullptr, name.c_str(), QSX_NO_OBJECT},
      {QSXC_WALK_BEGIN, 0, nullptr, nullptr, QSX_NO_OBJECT},
      {QSXC_WALK_STEP, 0, &result, nullptr, QSX_NO_OBJECT},
      {QSXC_WALK_END, 0, nullptr, nullptr, QSX_NO_OBJECT},
      {300, 0, nullptr, nullptr, QSX_OK},
  };
  for (const Case& c : cases) {
    QsxCall call{};
    call.object = cy;
    call.member = c.member;
    call.result = c.result;
    call.name = reinterpret_cast<const uint16_t*>(c.name);
    EXPECT_EQ(in_->Control(c.code, call), c.answer) << c.code << " " << c.member;
    if (c.code == QSXC_GET && c.answer == QSX_OK) {
      EXPECT_EQ(result.u.d, 2.5);
    }
  }
  in_->Clear(result);
  EXPECT_EQ(GetDouble(cy, "AsQsDouble"), 0.0);  // after Clear

  // Delete: the object is gone and the call record forgets it.
  QsxObject* other = nullptr;
  ASSERT_EQ(in_->Create("TWNumeric", {}, &other), QSX_OK);
  QsxCall del{};
  del.object = other;
  EXPECT_EQ(in_->Control(QSXC_DELETE, del), QSX_OK);
  EXPECT_EQ(del.object, nullptr);
}

TEST_F(Scriptbind, CreateByClass) {
  std::vector<uint8_t> unknown = in_->Class("TWActivity")->id;
  unknown[0] = 0x8A;  // one past class 9
  std::vector<uint8_t> zero(16, 0);
  QsxObject* obj = reinterpret_cast<QsxObject*>(uintptr_t{1});
  // Before any TWActivity: only a TWActivity may be made.
  EXPECT_EQ(in_->Create("TWField", {IntValue(TWTYPE_INT), IntValue(1)}, &obj), QSX_NO_OBJECT);
  EXPECT_EQ(obj, nullptr);
  EXPECT_EQ(in_->CreateById(unknown.data(), {}, &obj), QSX_NO_OBJECT);
  ASSERT_NE(Activity(), nullptr);
  // With the activity made, an identifier of none of the nine answers success and no object.
  for (const std::vector<uint8_t>& id : {unknown, zero}) {
    obj = reinterpret_cast<QsxObject*>(uintptr_t{1});
    EXPECT_EQ(in_->CreateById(id.data(), {}, &obj), QSX_OK);
    EXPECT_EQ(obj, nullptr);
  }
  obj = nullptr;
  EXPECT_EQ(in_->Create("TWActivity", {IntValue(0)}, &obj), QSX_EXISTS);
  EXPECT_EQ(obj, nullptr);
  for (const char* cls : {"TWConnect", "TWFieldList", "TWField", "TWStream", "TWCurrency",
                          "TWNumeric", "TWDatetime", "TWDatetimeParts"})
    EXPECT_NE(New(cls), nullptr) << cls;
  EXPECT_EQ(Raised(), TWFAIL_LINK_NOT_FOUND) << "a connection to nothing fails";
}

TEST_F(Scriptbind, QueryAnswersOnlyTheScriptInterface) {
  ASSERT_NE(Activity(), nullptr);
  QsxObject* s = New("TWStream");
  ASSERT_NE(s, nullptr);
  uint8_t iid[16] = {0x00, 0xB4, 0x41, 0x7A, 0x1E, 0x5B, 0xCF, 0x11,
                     0xA3, 0x6D, 0x00, 0x80, 0xC7, 0xE2, 0x94, 0x1A};
  QsxObject* out = nullptr;
  EXPECT_EQ(s->table->query(s, iid, &out), QSX_OK);
  EXPECT_EQ(out, s);
  s->table->release(s);
  iid[0] = 0x01;
  out = s;
  EXPECT_EQ(s->table->query(s, iid, &out), QSX_NO_OBJECT);
  EXPECT_EQ(out, nullptr);
}

// ---------------------------------------------------------------- dates ---------------

struct Parts {
  int year, month, day, hour, minute, second, hundredth;
  bool operator==(const Parts&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Parts& p) {
  return os << p.year << "-" << p.month << "-" << p.day << " " << p.hour << ":" << p.minute << ":"
            << p.second << "." << p.hundredth;
}

class ScriptDates : public ScriptFixture {
 protected:
  void SetUp() override {
    ScriptFixture::SetUp();
    ASSERT_NE(Activity(), nullptr);
    dt_ = New("TWDatetime", {}, "dt");
    parts_ = New("TWDatetimeParts", {}, "parts");
  }
  void Write(double date) { EXPECT_EQ(in_->Set(dt_, "AsQsDatetime", DoubleValue(date)), QSX_OK); }
  Parts Read() {
    EXPECT_EQ(CallInt(dt_, "GetParts", {IntValue(0), ObjectValue(parts_)}), 0);
    auto p = [&](const char* n) { return static_cast<int>(GetDouble(parts_, n)); };
    return {p("twYear"),   p("twMonth"),  p("twDay"),      p("twHour"),
            p("twMinute"), p("twSecond"), p("twHundredth")};
  }
  QsxObject* dt_ = nullptr;
  QsxObject* parts_ = nullptr;
};

TEST_F(ScriptDates, WrittenAndReadBack) {
  struct Case {
    double date;
    Parts parts;
    double readBack;
  } cases[] = {
      {0, {1899, 12, 30, 0, 0, 0, 0}, 0},
      {1.5, {1899, 12, 31, 12, 0, 0, 0}, 1.5},
      {0.75, {1899, 12, 30, 18, 0, 0, 0}, 0.75},
      {-1.25, {1899, 12, 29, 6, 0, 0, 0}, -1.25},
      {-2.5, {1899, 12, 28, 12, 0, 0, 0}, -2.5},
      {-693593, {1, 1, 1, 0, 0, 0, 0}, -693593},
      {2958465.5, {9999, 12, 31, 12, 0, 0, 0}, 2958465.5},
      {45000 + 43136.0 / 86400, {2023, 3, 15, 11, 58, 56, 0}, 45000 + 43136.0 / 86400},
      // Rounded to the second, carried into the next day.
      {45000 + 86399.7 / 86400, {2023, 3, 16, 0, 0, 0, 0}, 45001},
      // Before the epoch the time of day runs forward from the day's start as well, so the
      // carry goes to the following midnight, never back.
      {-1.99, {1899, 12, 29, 23, 45, 36, 0}, -1.99},
      {-1 - 86399.4 / 86400, {1899, 12, 29, 23, 59, 59, 0}, -1 - 86399.0 / 86400},
      {-1.9999999, {1899, 12, 30, 0, 0, 0, 0}, 0},
      {-1 - 86399.7 / 86400, {1899, 12, 30, 0, 0, 0, 0}, 0},
      {-0.9999999, {1899, 12, 31, 0, 0, 0, 0}, 1},
      {-693593.9999999, {1, 1, 2, 0, 0, 0, 0}, -693592},
      {60 + 1.0 / 86400, {1900, 2, 28, 0, 0, 1, 0}, 60 + 1.0 / 86400},
      {61, {1900, 3, 1, 0, 0, 0, 0}, 61},
  };
  for (const Case& c : cases) {
    Write(c.date);
    EXPECT_EQ(Raised(), 0u) << c.date;
    EXPECT_EQ(Read(), c.parts) << c.date;
    EXPECT_NEAR(GetDouble(dt_, "AsQsDatetime"), c.readBack, 1e-9) << c.date;
  }
}

TEST_F(ScriptDates, EverySecondOfADayReadsBackAsWritten) {
  for (int s = 0; s < 86400; ++s) {
    const double date = 45000 + s / 86400.0;
    Write(date);
    const double back = GetDouble(dt_, "AsQsDatetime");
    ASSERT_EQ(std::llround((back - 45000) * 86400), s) << "second " << s;
    ASSERT_EQ(back, date) << "second " << s;
  }
}

TEST_F(ScriptDates, HundredthsAreNotRead) {
  EXPECT_EQ(in_->Set(parts_, "twYear", IntValue(2001)), QSX_OK);
  EXPECT_EQ(in_->Set(parts_, "twMonth", IntValue(2)), QSX_OK);
  EXPECT_EQ(in_->Set(parts_, "twDay", IntValue(3)), QSX_OK);
  EXPECT_EQ(in_->Set(parts_, "twHour", IntValue(12)), QSX_OK);
  EXPECT_EQ(in_->Set(parts_, "twHundredth", IntValue(50)), QSX_OK);
  ASSERT_EQ(CallInt(dt_, "SetParts", {ObjectValue(parts_), IntValue(TWPARTSF_GMT)}), 0);
  EXPECT_EQ(Read().hundredth, 50);
  EXPECT_DOUBLE_EQ(GetDouble(dt_, "AsQsDatetime"), 36925.5);
}

TEST_F(ScriptDates, OutsideTheYearsFailsAndKeepsTheValue) {
  Write(1.5);
  for (double bad : {2958466.0, 2958465.999999999, -693594.0, -693594.5, 1e300, -1e300,
                     std::nan(""), std::numeric_limits<double>::infinity()}) {
    Write(bad);
    EXPECT_EQ(Raised(), TWFAIL_INVALID_DATETIME) << bad;
    EXPECT_EQ(GetDouble(dt_, "AsQsDatetime"), 1.5) << bad;
  }
  // The same through a field and a stream.
  QsxObject* f = New("TWField", {IntValue(TWTYPE_DATETIME), IntValue(1)});
  EXPECT_EQ(in_->Set(f, "AsQsDatetime", DoubleValue(1e12)), QSX_OK);
  EXPECT_EQ(Raised(), TWFAIL_INVALID_DATETIME);
  QsxObject* s = New("TWStream");
  EXPECT_EQ(in_->Set(s, "AsQsDatetime", DoubleValue(-1e9)), QSX_OK);
  EXPECT_EQ(Raised(), TWFAIL_INVALID_DATETIME);
}

// ---------------------------------------------------------------- errors --------------

TEST_F(Scriptbind, ErrorPath) {
  QsxObject* act = Activity();
  EXPECT_EQ(GetDouble(act, "RaiseExceptions"), -1);
  QsxObject* f = New("TWField", {IntValue(TWTYPE_INT), IntValue(1)}, "f");
  QsValue out{};
  // Without a raise the status is the result only.
  EXPECT_EQ(in_->Set(act, "RaiseExceptions", IntValue(0)), QSX_OK);
  EXPECT_EQ(GetDouble(act, "RaiseExceptions"), 0);
  EXPECT_EQ(CallInt(f, "GetInt", {IntValue(9), RefValue(&out), RefValue(&out)}),
            static_cast<int32_t>(TWFAIL_RECORD_INDEX));
  EXPECT_EQ(Raised(), 0u);
  EXPECT_EQ(in_->Set(act, "RaiseExceptions", IntValue(7)), QSX_OK);
  EXPECT_EQ(GetDouble(act, "RaiseExceptions"), -1);
  EXPECT_EQ(CallInt(f, "GetInt", {IntValue(9), RefValue(&out), RefValue(&out)}),
            static_cast<int32_t>(TWFAIL_RECORD_INDEX));
  EXPECT_EQ(in_->errorStatus, TWFAIL_RECORD_INDEX);
  EXPECT_FALSE(in_->errorText.empty());
  EXPECT_EQ(Raised(), TWFAIL_RECORD_INDEX);
  // The end of data is never a script error; a value method never raises.
  EXPECT_EQ(CallInt(act, "ListLink",
                    {IntValue(TWLIST_NEXT), RefValue(&out), ObjectValue(New("TWStream"))}),
            static_cast<int32_t>(TWFAIL_LIST_SETUP));
  EXPECT_EQ(Raised(), TWFAIL_LIST_SETUP);
  QsxObject* empty = New("TWStream");
  EXPECT_EQ(CallInt(empty, "DataFetch", {IntValue(1), IntValue(4), QsValue{}, RefValue(&out)}),
            static_cast<int32_t>(TWFAIL_END_OF_DATA));
  EXPECT_EQ(Raised(), 0u);
  EXPECT_EQ(CallInt(f, "IsNull", {IntValue(42)}), 1);
  EXPECT_EQ(Raised(), 0u);
  in_->Clear(out);

  // A status text of 300 characters reaches the script cut to 255.
  const std::string longName(300, 'n');
  TWStream name{0, 0, TWSTREAMFMT_NATIVE, 300, const_cast<char*>(longName.data())};
  TWActivityLogEx(TWFAIL_TYPE_MISMATCH, 0, 0, 0, &name, nullptr, nullptr);
  EXPECT_EQ(CallInt(f, "Copy", {ObjectValue(New("TWCurrency"))}),
            static_cast<int32_t>(TWFAIL_TYPE_MISMATCH));
  EXPECT_EQ(in_->errorStatus, TWFAIL_TYPE_MISMATCH);
  EXPECT_EQ(in_->errorText.size(), 255u);
  EXPECT_NE(qshost::Narrow(in_->errorText).find("nnnn"), std::string::npos);
  Raised();

  // GetStatusAsQsString: the text of the status given, else of the current one.
  QsValue text{};
  EXPECT_EQ(in_->Call(act, "GetStatusAsQsString", {IntValue(TWFAIL_END_OF_DATA)}, &text), QSX_OK);
  ASSERT_EQ(text.kind, QSV_STRING);
  EXPECT_EQ(
      qshost::Narrow(std::u16string(reinterpret_cast<const char16_t*>(text.u.s), text.length)),
      "The last data value has been retrieved");
  EXPECT_EQ(in_->Call(act, "GetStatusAsQsString", {}, &text), QSX_OK);
  EXPECT_GT(text.length, 300u) << "a value, not an error text: not cut";
  in_->Clear(text);
}

TEST_F(Scriptbind, ArgumentsAreCheckedAgainstTheirClass) {
  ASSERT_NE(Activity(), nullptr);
  QsxObject* f = New("TWField", {IntValue(TWTYPE_INT), IntValue(1)});
  QsxObject* cy = New("TWCurrency");
  QsxObject* other = New("TWField", {IntValue(TWTYPE_INT), IntValue(1)});
  QsValue out{};
  struct Case {
    const char* what;
    QsxObject* self;
    const char* method;
    std::vector<QsValue> args;
    uint32_t status;
  } cases[] = {
      {"another class", f, "Copy", {ObjectValue(cy)}, TWFAIL_TYPE_MISMATCH},
      {"no object", f, "Copy", {}, TWFAIL_TYPE_MISMATCH},
      {"an integer for an object", f, "Copy", {IntValue(5)}, TWFAIL_TYPE_MISMATCH},
      {"a text for an integer", f, "SetFlags", {StringValue(u"x")}, TWFAIL_TYPE_MISMATCH},
      {"right class", f, "Copy", {ObjectValue(other)}, 0},
      {"currency into field", f, "SetCurrency", {IntValue(1), ObjectValue(cy)}, 0},
      {"field into currency", cy, "Add", {ObjectValue(cy), ObjectValue(f)}, TWFAIL_TYPE_MISMATCH},
  };
  for (Case& c : cases) {
    EXPECT_EQ(CallInt(c.self, c.method, c.args), static_cast<int32_t>(c.status)) << c.what;
    EXPECT_EQ(Raised(), c.status) << c.what;
  }
  // Script functions check their argument too.
  QsValue result{};
  EXPECT_EQ(in_->CallFunction("TWFLOATFROMCURRENCY", ObjectValue(f), &result), QSX_OK);
  EXPECT_EQ(Raised(), TWFAIL_TYPE_MISMATCH);
  EXPECT_EQ(result.kind, QSV_EMPTY);
  EXPECT_EQ(in_->Set(cy, "AsQsDouble", DoubleValue(12.5)), QSX_OK);
  EXPECT_EQ(in_->CallFunction("TWFLOATFROMCURRENCY", ObjectValue(cy), &result), QSX_OK);
  EXPECT_EQ(result.u.d, 12.5);
  QsxObject* s = New("TWStream");
  Put(s, "AsQsString", StringValue(u" 42 "));
  EXPECT_EQ(in_->CallFunction("TWINTFROMSTREAM", ObjectValue(s), &result), QSX_OK);
  EXPECT_EQ(result.kind, QSV_INT);
  EXPECT_EQ(result.u.i, 42);
  in_->Clear(out);
}

// ---------------------------------------------------------------- objects -------------

TEST_F(Scriptbind, FieldWithoutValuesHoldsNothing) {
  ASSERT_NE(Activity(), nullptr);
  QsxObject* f = New("TWField", {IntValue(TWTYPE_INT), IntValue(0)}, "f");
  EXPECT_EQ(CallInt(f, "GetType"), 0);
  EXPECT_EQ(CallInt(f, "SetFlags", {IntValue(0)}), static_cast<int32_t>(TWFAIL_INVALID_FIELD));
  EXPECT_EQ(Raised(), TWFAIL_INVALID_FIELD);
  EXPECT_EQ(in_->Set(f, "AsQsLong", IntValue(1)), QSX_OK);
  EXPECT_EQ(Raised(), TWFAIL_INVALID_FIELD);
}

TEST_F(Scriptbind, BorrowedFieldLetsGoWithItsList) {
  ASSERT_NE(Activity(), nullptr);
  QsValue index{};
  // What takes the list's handle away: a delete, a merge into the list, a list change, the
  // module's end.
  for (const char* how : {"delete", "merge", "remove", "copy"}) {
    QsxObject* list = New("TWFieldList", {IntValue(2), IntValue(0)});
    QsxObject* names = New("TWFieldList", {IntValue(0), IntValue(0)});
    ASSERT_EQ(CallInt(list, "Append", {StringValue(u"A"), IntValue(TWTYPE_INT), QsValue{}}), 0);
    ASSERT_EQ(CallInt(names, "Append", {StringValue(u"A"), IntValue(TWTYPE_INT), QsValue{}}), 0);
    QsValue* var = in_->Variable(std::string("borrowed_") + how);
    ASSERT_EQ(CallInt(list, "Lookup", {StringValue(u"a"), RefValue(var), RefValue(&index)}), 0);
    ASSERT_EQ(var->kind, QSV_OBJECT);
    QsxObject* field = var->u.obj;
    EXPECT_EQ(in_->Set(field, "AsQsLong", IntValue(7)), QSX_OK);
    EXPECT_EQ(GetDouble(field, "AsQsLong"), 7) << how;
    if (std::string(how) == "delete") {
      in_->Store(in_->Variable("TWFieldList" + std::to_string(made_ - 1)), QsValue{});
    } else if (std::string(how) == "merge") {
      ASSERT_EQ(CallInt(list, "Merge",
                        {ObjectValue(names), ObjectValue(list), IntValue(TWMERGEF_MAP_NAME)}),
                0);
      EXPECT_EQ(CallInt(list, "GetCount"), 1);
    } else if (std::string(how) == "remove") {
      ASSERT_EQ(CallInt(list, "Remove", {IntValue(1)}), 0);
    } else {
      ASSERT_EQ(CallInt(list, "Copy", {ObjectValue(names)}), 0);
    }
    EXPECT_EQ(Raised(), 0u) << how;
    EXPECT_EQ(in_->Get(field, "AsQsLong", &index), QSX_OK);
    EXPECT_EQ(Raised(), TWFAIL_INVALID_FIELD) << how;
    EXPECT_EQ(CallInt(field, "GetType"), 0) << how;
  }
  in_->Clear(index);
  // A borrowed field outliving its module is gone with it: the instance ends cleanly.
}

TEST_F(Scriptbind, MergeKeepsTheListOnFailure) {
  ASSERT_NE(Activity(), nullptr);
  QsxObject* list = New("TWFieldList", {IntValue(3), IntValue(0)});
  QsxObject* noData = New("TWFieldList", {IntValue(0), IntValue(0)});
  QsxObject* names = New("TWFieldList", {IntValue(0), IntValue(0)});
  for (const char16_t* n : {u"A", u"B"})
    ASSERT_EQ(CallInt(list, "Append", {StringValue(n), IntValue(TWTYPE_TEXT), QsValue{}}), 0);
  ASSERT_EQ(CallInt(names, "Append", {StringValue(u"B"), IntValue(TWTYPE_TEXT), QsValue{}}), 0);
  ASSERT_EQ(CallInt(noData, "Append", {StringValue(u"B"), IntValue(TWTYPE_TEXT), QsValue{}}), 0);
  Put(list, "B", StringValue(u"bee"));
  // A failed merge leaves the list as it was.
  EXPECT_EQ(CallInt(list, "Merge", {ObjectValue(names), ObjectValue(noData), IntValue(0)}),
            static_cast<int32_t>(TWFAIL_NO_MERGE_DATA));
  EXPECT_EQ(Raised(), TWFAIL_NO_MERGE_DATA);
  EXPECT_EQ(CallInt(list, "GetCount"), 2);
  EXPECT_EQ(GetText(list, "B"), "bee");
  // The list merged with itself as its own data.
  EXPECT_EQ(CallInt(list, "Merge",
                    {ObjectValue(names), ObjectValue(list),
                     IntValue(TWMERGEF_MAP_NAME | TWMERGEF_DATA_LOSS)}),
            0);
  EXPECT_EQ(Raised(), 0u);
  EXPECT_EQ(CallInt(list, "GetCount"), 1);
  EXPECT_EQ(GetText(list, "B"), "bee");
  // And as its own names.
  QsxObject* data = New("TWFieldList", {IntValue(1), IntValue(0)});
  ASSERT_EQ(CallInt(data, "Append", {StringValue(u"B"), IntValue(TWTYPE_TEXT), QsValue{}}), 0);
  EXPECT_EQ(
      CallInt(list, "Merge", {ObjectValue(list), ObjectValue(data), IntValue(TWMERGEF_MAP_NAME)}),
      0);
  EXPECT_EQ(Raised(), 0u);
  EXPECT_EQ(CallInt(list, "GetRecordCount"), 1);
}

TEST_F(Scriptbind, DestinationVariables) {
  ASSERT_NE(Activity(), nullptr);
  QsxObject* list = New("TWFieldList", {IntValue(1), IntValue(0)});
  ASSERT_EQ(CallInt(list, "Append", {StringValue(u"A"), IntValue(TWTYPE_INT), QsValue{}}), 0);
  New("TWCurrency", {}, "cy");
  QsValue* cy = in_->Variable("cy");
  struct Case {
    const char* method;
    std::vector<QsValue> args;
    uint32_t status;
  } cases[] = {
      {"GetField", {IntValue(1), IntValue(0), RefValue(cy), QsValue{}}, TWFAIL_INVALID_FIELD},
      {"Lookup", {StringValue(u"A"), RefValue(cy), QsValue{}}, TWFAIL_INVALID_FIELD},
      {"GetField", {IntValue(1), IntValue(0), IntValue(4), QsValue{}}, TWFAIL_INVALID_FIELD},
      {"MergeVirtual",
       {ObjectValue(list), ObjectValue(list), IntValue(0), IntValue(0), RefValue(cy)},
       TWFAIL_INVALID_FIELDLIST},
  };
  for (Case& c : cases) {
    EXPECT_EQ(CallInt(list, c.method, c.args), static_cast<int32_t>(c.status)) << c.method;
    EXPECT_EQ(Raised(), c.status) << c.method;
  }
  // A field that owned its value lets it go and shows the list's.
  New("TWField", {IntValue(TWTYPE_TEXT), IntValue(3)}, "own");
  QsValue* f = in_->Variable("own");
  ASSERT_EQ(CallInt(list, "GetField", {IntValue(1), IntValue(0), RefValue(f), QsValue{}}), 0);
  EXPECT_EQ(CallInt(f->u.obj, "GetType"), static_cast<int32_t>(TWTYPE_INT));
  EXPECT_EQ(CallInt(f->u.obj, "GetValueCount"), 1);
  // An empty variable receives a new list for the virtual fields.
  QsValue* virt = in_->Variable("virt");
  EXPECT_EQ(
      CallInt(list, "MergeVirtual",
              {ObjectValue(list), ObjectValue(list), IntValue(0), IntValue(0), RefValue(virt)}),
      0);
  ASSERT_EQ(virt->kind, QSV_OBJECT);
  EXPECT_EQ(in_->ClassOf(virt->u.obj)->name, "TWFieldList");
}

// ---------------------------------------------------------------- dynamic -------------

TEST_F(Scriptbind, FieldListPropertiesByFieldName) {
  ASSERT_NE(Activity(), nullptr);
  QsxObject* list = New("TWFieldList", {IntValue(2), IntValue(0)});
  for (const char16_t* n : {u"NAME", u"CITY"})
    ASSERT_EQ(CallInt(list, "Append", {StringValue(n), IntValue(TWTYPE_TEXT), QsValue{}}), 0);
  EXPECT_EQ(Put(list, "name", StringValue(u"Ada")), QSX_OK);
  EXPECT_EQ(in_->Set(list, "ValueIndex", IntValue(2)), QSX_OK);
  EXPECT_EQ(Put(list, "NAME", StringValue(u"Bea")), QSX_OK);
  EXPECT_EQ(GetText(list, "Name"), "Bea");
  EXPECT_EQ(in_->Set(list, "ValueIndex", IntValue(1)), QSX_OK);
  EXPECT_EQ(GetText(list, "NAME"), "Ada");
  for (int bad : {0, 3, -1}) {
    EXPECT_EQ(in_->Set(list, "ValueIndex", IntValue(bad)), QSX_OK);
    EXPECT_EQ(Raised(), TWFAIL_INVALID_INDEX) << bad;
    EXPECT_EQ(GetDouble(list, "ValueIndex"), 1) << bad;
  }
  QsValue v{};
  EXPECT_EQ(in_->Get(list, "STREET", &v), QSX_NO_OBJECT);
  std::vector<std::pair<std::string, uint32_t>> walked;
  EXPECT_EQ(in_->Walk(list, &walked), QSX_NOT_ALLOWED);
  EXPECT_EQ(walked, (std::vector<std::pair<std::string, uint32_t>>{{"NAME", 1}, {"CITY", 2}}));
  // Classes without dynamic properties.
  QsxObject* cy = New("TWCurrency");
  EXPECT_EQ(in_->Get(cy, "Whatever", &v), QSX_NO_OBJECT);
  walked.clear();
  EXPECT_EQ(in_->Walk(cy, &walked), QSX_NO_OBJECT);
}

TEST_F(Scriptbind, ConnectionAndActivityPropertiesByName) {
  QsxObject* act = Activity();
  QsxObject* con =
      New("TWConnect", {IntValue(static_cast<int32_t>(TWTOKENF_EXTERN)), StringValue(u"flatrec")});
  ASSERT_EQ(Raised(), 0u) << "flatrec.twx is built beside the extension";
  std::vector<std::pair<std::string, uint32_t>> walked;
  EXPECT_EQ(in_->Walk(con, &walked), QSX_NOT_ALLOWED);
  ASSERT_FALSE(walked.empty());
  bool database = false;
  for (const auto& [name, token] : walked) database |= name == "Database";
  EXPECT_TRUE(database);
  EXPECT_EQ(Put(con, "database", StringValue(u"/tmp/none.txt")), QSX_OK);
  EXPECT_EQ(Raised(), 0u);
  EXPECT_EQ(GetText(con, "DATABASE"), "/tmp/none.txt");
  QsValue v{};
  EXPECT_EQ(in_->Get(con, "NoSuchProperty", &v), QSX_NO_OBJECT);

  // An activity's added property.
  QsValue token{};
  ASSERT_EQ(CallInt(act, "AddProperty",
                    {StringValue(u"Colour"), IntValue(TWPROPSTORE_DYNAMIC), RefValue(&token)}),
            0);
  EXPECT_EQ(Put(act, "colour", StringValue(u"blue")), QSX_OK);
  EXPECT_EQ(GetText(act, "Colour"), "blue");
  walked.clear();
  EXPECT_EQ(in_->Walk(act, &walked), QSX_NOT_ALLOWED);
  ASSERT_FALSE(walked.empty());
  EXPECT_EQ(walked.back(),
            (std::pair<std::string, uint32_t>{"Colour", static_cast<uint32_t>(token.u.i)}));
  EXPECT_EQ(in_->Get(act, "Nothing", &v), QSX_NO_OBJECT);
}

}  // namespace
