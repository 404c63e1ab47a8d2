// The message catalogue: verbatim texts, truncation, missing ids, plug-in tables.
#include "catalogue.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace {

std::string text(uint32_t id) {
  char buf[1024];
  int n = TWLibraryLoadString(id, buf, sizeof buf);
  EXPECT_EQ(n, static_cast<int>(std::strlen(buf)));
  return buf;
}

TEST(Catalogue, KnownTextsAreVerbatim) {
  struct Case {
    uint32_t id;
    const char* text;
  } cases[] = {
      {0, "No Error"},
      {258, "Unable to allocate memory"},
      {528, "Invalid File list context"},
      {12290, "The last data value has been retrieved"},
      {12546,
       "Type mismatch[[TWX(]] for field '[[TWS1]]'[[TWX)]][[TWX(]]; Tarnway: [[TWT1]][[TWX)]]"
       "[[TWX(]], Link: [[TWT2]][[TWX)]]"},
      {12816, "Invalid data value for virtual field[[TWX]] '[[TWS1]]'"},
  };
  for (const Case& c : cases) EXPECT_EQ(text(c.id), c.text) << c.id;
}

TEST(Catalogue, BlanksAndLineFeedsAreKept) {
  // Rows with leading, trailing or repeated blanks and line feeds must come through as is.
  int checked = 0;
  for (uint32_t id = 1; id <= 12816; ++id) {
    std::string t = text(id);
    if (t.find('\n') != std::string::npos || t.find("  ") != std::string::npos ||
        (!t.empty() && (t.front() == ' ' || t.back() == ' ')))
      ++checked;
  }
  EXPECT_GT(checked, 0);
  EXPECT_EQ(text(823).find("|        1) Run setup"), 86u);
}

TEST(Catalogue, AllRowsArePresent) {
  int rows = 0;
  char buf[4];
  for (uint32_t id = 0; id <= 12816; ++id) rows += TWLibraryLoadString(id, buf, sizeof buf) > 0;
  // 826 included: the refusal of a second run of an activity that is running.
  EXPECT_EQ(rows, 466);
}

TEST(Catalogue, MissingIdsYieldNothing) {
  for (uint32_t id : {5321u, 5327u, 5328u, 5330u, 1u, 29185u, 0x7FFFFFFFu}) {
    char buf[16] = "garbage";
    EXPECT_EQ(TWLibraryLoadString(id, buf, sizeof buf), 0) << id;
    EXPECT_STREQ(buf, "") << id;
  }
}

TEST(Catalogue, TruncatesToTheBuffer) {
  char buf[8];
  EXPECT_EQ(TWLibraryLoadString(258, buf, 1), 0);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(TWLibraryLoadString(258, buf, 7), 6);
  EXPECT_STREQ(buf, "Unable");
  // No buffer or no room: nothing is written.
  EXPECT_EQ(TWLibraryLoadString(258, nullptr, 10), 0);
  buf[0] = 'x';
  EXPECT_EQ(TWLibraryLoadString(258, buf, 0), 0);
  EXPECT_EQ(buf[0], 'x');
}

TEST(Catalogue, EventStatusReadsItsId) {
  EXPECT_EQ(text(TWSTATUSF_EVENT | 807), "Activity killed by user");
}

TEST(Catalogue, TextsForPeopleNameMissingIds) {
  EXPECT_EQ(tw::message_text(5321), "MSG#5321 NOT FOUND");
  EXPECT_EQ(tw::message_text(TWFAIL_MEMORY), "Unable to allocate memory");
  char small[6];
  EXPECT_EQ(TWMessageText(5321, small, sizeof small), 5);
  EXPECT_STREQ(small, "MSG#5");
}

TEST(Catalogue, StatusNamesMatchTheirIds) {
  EXPECT_EQ(TWFAIL_PROGRAM, 257);
  EXPECT_EQ(TWFAIL_MEMORY, 258);
  EXPECT_EQ(TWFAIL_UNAVAILABLE, 12289);
  EXPECT_EQ(TWFAIL_INVALID_PROPERTY, 12555);
  EXPECT_EQ(TWFAIL_VIRTUAL_VALUE, 12816);
  EXPECT_EQ(TWFAIL_INI_TEMP, 537);
  EXPECT_EQ(TWMSG_NORMAL_TERMINATION, 4171);
}

TEST(Catalogue, EventNamesCarryTheEventFlag) {
  // An event name is the status it is logged with; its text is its row's.
  struct Case {
    uint32_t status;
    uint32_t id;
    const char* text;
  } cases[] = {
      {TWEVENT_ACTIVITY_KILLED, 807, "Activity killed by user"},
      {TWEVENT_EXTERNAL, 12326, "External event"},
      {TWEVENT_CHARACTER_SET, 12557,
       "Unsupported Link character set[[TWX(]] '[[TWS1]]'[[TWX)]]; using native character set"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.status, TWSTATUSF_EVENT | c.id) << c.text;
    EXPECT_EQ(text(c.status), c.text);
  }
}

TEST(Catalogue, EachPluginReadsItsOwnTable) {
  std::string dir = std::string(std::getenv("TW_BUILD_DIR")) + "/tests/";
  void* admin = dlopen((dir + "msgtable_admin.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  void* script = dlopen((dir + "msgtable_script.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(admin, nullptr) << dlerror();
  ASSERT_NE(script, nullptr) << dlerror();
  using Fn = int (*)(uint32_t, char*, int);
  auto a = reinterpret_cast<Fn>(dlsym(admin, "test_module_text"));
  auto s = reinterpret_cast<Fn>(dlsym(script, "test_module_text"));
  ASSERT_TRUE(a && s);
  char buf[128];
  a(29185, buf, sizeof buf);
  EXPECT_STREQ(buf, "Created copy of Administrator database");
  s(29185, buf, sizeof buf);
  EXPECT_STREQ(buf, "Unable to open the temporary script file");
  EXPECT_EQ(a(29186, buf, sizeof buf), 0);  // only the script plug-in has 29186
  EXPECT_EQ(s(29188, buf, sizeof buf), 29);
  dlclose(admin);
  dlclose(script);
}

}  // namespace
