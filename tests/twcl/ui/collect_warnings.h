// A test fixture that collects the library's warnings instead of printing them.
#ifndef TW_TESTS_TWCL_UI_COLLECT_WARNINGS_H_
#define TW_TESTS_TWCL_UI_COLLECT_WARNINGS_H_

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "twcl/base/error.h"

inline std::vector<std::string> g_warnings;

class CollectWarnings : public ::testing::Test {
 protected:
  static bool Collect(const char* text) {
    g_warnings.emplace_back(text);
    return true;
  }
  void SetUp() override {
    g_warnings.clear();
    old_ = CL_Error::SetWarningHandler(Collect);
  }
  void TearDown() override { CL_Error::SetWarningHandler(old_); }
  CL_ErrorHandler old_ = nullptr;
};

#endif  // TW_TESTS_TWCL_UI_COLLECT_WARNINGS_H_
