// Helpers of the value tests: a text stream freed at the end of its scope, a fixed clock, a
// time zone and an international-format record held for one test.
#ifndef TW_TESTS_FLOWCORE_VALUE_TEST_UTIL_H_
#define TW_TESTS_FLOWCORE_VALUE_TEST_UTIL_H_

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "env.h"
#include "flowcore.h"
#include "flowcore_ptr.h"
#include "platform.h"

namespace twtest {

class Text {
 public:
  Text() = default;
  explicit Text(std::string_view text, uint32_t format = TWSTREAMFMT_NATIVE) {
    EXPECT_EQ(s_.Set(format, text), TWSUCCESS);
  }

  TWStream* get() { return s_.get(); }
  uint32_t format() const { return s_.get()->format; }
  std::string str() const { return std::string(s_.view()); }

 private:
  flowcore::StreamData s_;
};

// UTF-16LE bytes of ASCII text.
inline std::string Wide(std::string_view ascii) {
  std::string out;
  for (char c : ascii) {
    out.push_back(c);
    out.push_back('\0');
  }
  return out;
}

// A one-entry list header {count 1, ranges 0} followed by the value's bytes.
inline std::string OneEntry(const void* value, size_t size) {
  std::string out("\x01\x00\x00\x00", 4);
  out.append(static_cast<const char*>(value), size);
  return out;
}

// "Now" fixed at a number of microseconds since 1970 UTC.
class FixedClock : public tw::EnvWrapper {
 public:
  explicit FixedClock(int64_t micros) : tw::EnvWrapper(tw::Env::Default()), micros_(micros) {
    tw::Env::Set(this);
  }
  ~FixedClock() override { tw::Env::Set(nullptr); }
  int64_t NowMicros() override { return micros_; }

 private:
  int64_t micros_;
};

class ScopedTZ {
 public:
  explicit ScopedTZ(const char* zone) {
    if (const char* old = ::getenv("TZ")) old_ = old;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~ScopedTZ() {
    if (old_)
      ::setenv("TZ", old_->c_str(), 1);
    else
      ::unsetenv("TZ");
    ::tzset();
  }

 private:
  std::optional<std::string> old_;
};

// Installs the default record changed by edit; the defaults are back afterwards.
class ScopedIntl {
 public:
  template <class F>
  explicit ScopedIntl(F edit) {
    EXPECT_EQ(TWPlatSetIntlFormat(nullptr), TWSUCCESS);
    TWIntlFormat f = *TWPlatGetIntlFormat();
    edit(f);
    EXPECT_EQ(TWPlatSetIntlFormat(&f), TWSUCCESS);
  }
  ~ScopedIntl() { TWPlatSetIntlFormat(nullptr); }

  static void SetText(TWIntlText* field, const char* text) {
    std::memset(field->text, 0, sizeof field->text);
    std::strncpy(field->text, text, sizeof field->text - 1);
  }
};

}  // namespace twtest

#endif  // TW_TESTS_FLOWCORE_VALUE_TEST_UTIL_H_
