// A script instance over the built scriptbind.so with the real engine: the engine started
// once for the suite, with an installation directory holding the built plug-ins, and a fresh
// instance (started as a host starts one) for each test.
#ifndef TW_TESTS_OUTSIDE_QSHOST_SCRIPTBIND_FIXTURE_H_
#define TW_TESTS_OUTSIDE_QSHOST_SCRIPTBIND_FIXTURE_H_

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "flowcore.h"
#include "platform.h"
#include "qshost.h"

namespace qstest {

inline std::string BuiltDir() {
  return TW_BUILT_DIR;
}
inline std::string ExtensionPath() {
  return BuiltDir() + "/scriptbind.so";
}

class ScriptFixture : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    TWPlatInit((BuiltDir() + "/qsrun").c_str());
    ASSERT_EQ(TWSystemInit(), TWSUCCESS);
    std::string error;
    ASSERT_EQ(qshost::Extension::Load(ExtensionPath(), &ext_, &error), TWSUCCESS) << error;
  }
  static void TearDownTestSuite() {
    ext_.reset();
    TWSystemTerm();
    TWPlatTerm();
  }
  void SetUp() override {
    in_ = std::make_unique<qshost::Instance>(*ext_);
    ASSERT_EQ(in_->Start(), QSX_OK);
  }
  void TearDown() override { in_.reset(); }

  // A new object of the class, kept in a variable named after it; null when none was made.
  QsxObject* New(const std::string& cls, std::vector<QsValue> args = {},
                 const std::string& var = "") {
    QsxObject* obj = nullptr;
    const uint32_t st = in_->Create(cls, args, &obj);
    Drop(args);
    EXPECT_EQ(st, QSX_OK) << cls;
    if (obj != nullptr)
      in_->Store(in_->Variable(var.empty() ? cls + std::to_string(++made_) : var),
                 qshost::ObjectValue(obj));
    return obj;
  }
  // The instance's activity, raising script errors.
  QsxObject* Activity() { return New("TWActivity", {qshost::IntValue(0)}); }

  // A method's integer answer; -1 when the call answered a host failure.
  int32_t CallInt(QsxObject* obj, const std::string& method, std::vector<QsValue> args = {}) {
    QsValue result{};
    const uint32_t st = in_->Call(obj, method, args, &result);
    EXPECT_EQ(st, QSX_OK) << method;
    const int32_t v = result.kind == QSV_INT ? result.u.i : -1;
    in_->Clear(result);
    Drop(args);
    return v;
  }
  // Gives back the strings of argument values (objects and references stay their owners').
  void Drop(std::vector<QsValue>& args) {
    for (QsValue& a : args)
      if (a.kind == QSV_STRING) in_->Clear(a);
  }
  // Writes a property; the value's string is given back.
  uint32_t Put(QsxObject* obj, const std::string& name, QsValue value) {
    const uint32_t st = in_->Set(obj, name, value);
    if (value.kind == QSV_STRING) in_->Clear(value);
    return st;
  }
  // A property as a double (dates and numbers) or as text.
  double GetDouble(QsxObject* obj, const std::string& name) {
    QsValue v{};
    EXPECT_EQ(in_->Get(obj, name, &v), QSX_OK) << name;
    const double d = v.kind == QSV_INT ? v.u.i : v.u.d;
    in_->Clear(v);
    return d;
  }
  std::string GetText(QsxObject* obj, const std::string& name) {
    QsValue v{};
    EXPECT_EQ(in_->Get(obj, name, &v), QSX_OK) << name;
    std::string s =
        v.kind == QSV_STRING
            ? qshost::Narrow(std::u16string(reinterpret_cast<const char16_t*>(v.u.s), v.length))
            : "";
    in_->Clear(v);
    return s;
  }
  // The status of the script error raised since the last look, 0 when none.
  uint32_t Raised() {
    const uint32_t st = in_->raised ? in_->errorStatus : 0;
    in_->ClearError();
    return st;
  }

  static std::unique_ptr<qshost::Extension> ext_;
  std::unique_ptr<qshost::Instance> in_;
  int made_ = 0;
};

inline std::unique_ptr<qshost::Extension> ScriptFixture::ext_;

}  // namespace qstest

#endif  // TW_TESTS_OUTSIDE_QSHOST_SCRIPTBIND_FIXTURE_H_
