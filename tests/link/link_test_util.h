// Helpers of every connector's tests: setting and reading a connection's properties through
// one-value fields, as TWXSetProperty and TWXGetProperty receive them, and the chain of
// property sets a test link offers. C is the connector's Connection class (SetProperty and
// GetProperty taking a token and a field).
#ifndef TW_TESTS_LINK_LINK_TEST_UTIL_H_
#define TW_TESTS_LINK_LINK_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "activity_test_util.h"
#include "flowcore.h"

namespace link_test {

using twtest::Text;

// Sets token from a field of type filled by fill (left null when fill sets nothing); answers
// the set's status.
template <class C>
uint32_t SetField(C& c, uint32_t token, uint32_t type, const std::function<void(TWFIELD)>& fill) {
  TWFIELD f = TWNULLHANDLE;
  EXPECT_EQ(TWFieldAlloc(&f, type, 1), TWSUCCESS);
  fill(f);
  uint32_t st = c.SetProperty(token, f);
  TWFieldFree(f);
  return st;
}
template <class C>
uint32_t SetText(C& c, uint32_t token, std::string_view value) {
  return SetField(c, token, TWTYPE_TEXT, [&](TWFIELD f) {
    Text t(value);
    EXPECT_EQ(TWFieldSetStream(f, 1, t.get()), TWSUCCESS);
  });
}
template <class C>
uint32_t SetInt(C& c, uint32_t token, int32_t value) {
  return SetField(c, token, TWTYPE_INT,
                  [&](TWFIELD f) { EXPECT_EQ(TWFieldSetInt(f, 1, &value), TWSUCCESS); });
}
// A field of type left null.
template <class C>
uint32_t SetNull(C& c, uint32_t token, uint32_t type) {
  return SetField(c, token, type, [](TWFIELD) {});
}

// The property as native text through a text field; nullopt when the get fails (*status
// receives its status).
template <class C>
std::optional<std::string> GetText(C& c, uint32_t token, uint32_t* status = nullptr) {
  TWFIELD f = TWNULLHANDLE;
  EXPECT_EQ(TWFieldAlloc(&f, TWTYPE_TEXT, 1), TWSUCCESS);
  std::optional<std::string> out;
  uint32_t st = c.GetProperty(token, f);
  if (status != nullptr) *status = st;
  if (st == TWSUCCESS) {
    Text t;
    if (TWFieldIsNull(f, 1))
      out = "";
    else if (TWFieldGetStream(f, 1, TWSTREAMFMT_NATIVE, t.get(), nullptr) == TWSUCCESS)
      out = t.str();
  }
  TWFieldFree(f);
  return out;
}
// The property through an integer field; nullopt when the get fails.
template <class C>
std::optional<int32_t> GetInt(C& c, uint32_t token, uint32_t* status = nullptr) {
  TWFIELD f = TWNULLHANDLE;
  EXPECT_EQ(TWFieldAlloc(&f, TWTYPE_INT, 1), TWSUCCESS);
  std::optional<int32_t> out;
  uint32_t st = c.GetProperty(token, f);
  if (status != nullptr) *status = st;
  int32_t v = 0;
  if (st == TWSUCCESS && TWFieldGetInt(f, 1, &v, nullptr) == TWSUCCESS) out = v;
  TWFieldFree(f);
  return out;
}

// The property sets a test link chains, each expected to succeed: Link derives from
// PropertyChain<Link> and holds its connection as member c.
template <class Link>
class PropertyChain {
 public:
  Link& Str(uint32_t token, std::string_view v) {
    EXPECT_EQ(SetText(self().c, token, v), TWSUCCESS) << token;
    return self();
  }
  Link& Num(uint32_t token, int32_t v) {
    EXPECT_EQ(SetInt(self().c, token, v), TWSUCCESS) << token;
    return self();
  }

 private:
  Link& self() { return static_cast<Link&>(*this); }
};

}  // namespace link_test

#endif  // TW_TESTS_LINK_LINK_TEST_UTIL_H_
