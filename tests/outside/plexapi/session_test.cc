// The session: counted init and term, the handle table, failures and their texts per thread.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "plexa_test_util.h"

namespace {

using plexatest::SessionTest;

TEST(SessionStartTest, CountsInitsAndTheLastTermEndsTheSession) {
  twtest::TempDir root;
  twtest::ScopedEnv env("PLEXA_ROOT", root.path().c_str());
  GVDB db = 0;
  EXPECT_EQ(GVTerm(0), 0u) << "without a session";
  EXPECT_EQ(GVDatabaseOpen(nullptr, "x.odb", 0, &db), GVERR_NOT_INITIALIZED);
  ASSERT_EQ(_GVInit(GV_VERSION, 0, 0, 0), 0u);
  ASSERT_EQ(_GVInit(GV_VERSION, 0, 0, 0), 0u);
  ASSERT_EQ(GVDatabaseCreate(nullptr, "x.odb", nullptr, 0, nullptr, nullptr, 0, 0), 0u);
  ASSERT_EQ(GVDatabaseOpen(nullptr, "x.odb", 0, &db), 0u);
  EXPECT_EQ(GVTerm(0), 0u);
  // One init is still in force: the handle lives.
  uint32_t on = 7;
  EXPECT_EQ(GVDatabaseGetProperty(db, GVDBPROP_FORM_CHECK, &on), 0u);
  EXPECT_EQ(on, 0u);
  EXPECT_EQ(GVTerm(0), 0u);
  EXPECT_EQ(GVDatabaseGetProperty(db, GVDBPROP_FORM_CHECK, &on), GVERR_NOT_INITIALIZED);
  ASSERT_EQ(_GVInit(GV_VERSION, 0, 0, 0), 0u);
  EXPECT_EQ(GVDatabaseGetProperty(db, GVDBPROP_FORM_CHECK, &on), GVERR_INVALID_HANDLE)
      << "a handle closed by the last GVTerm is never valid again";
  EXPECT_EQ(GVTerm(0), 0u);
}

TEST(SessionStartTest, RefusesAnotherMajorVersion) {
  twtest::TempDir root;
  twtest::ScopedEnv env("PLEXA_ROOT", root.path().c_str());
  for (uint32_t version : {0x10400u, 0x30400u, 0u}) {
    EXPECT_EQ(_GVInit(version, 0, 0, 0), GVERR_VERSION) << std::hex << version;
    EXPECT_FALSE(plexa::SessionActive());
  }
  ASSERT_EQ(_GVInit(0x20000, 0, 0, 0), 0u) << "the minor version does not matter";
  EXPECT_TRUE(plexa::SessionActive());
  EXPECT_EQ(GVTerm(0), 0u);
}

TEST(SessionStartTest, TheLastTermDiscardsOpenDocuments) {
  twtest::TempDir root;
  twtest::ScopedEnv env("PLEXA_ROOT", root.path().c_str());
  ASSERT_EQ(_GVInit(GV_VERSION, 0, 0, 0), 0u);
  ASSERT_EQ(GVDatabaseCreate(nullptr, "d.odb", nullptr, 0, nullptr, nullptr, 0, 0), 0u);
  GVDB db = 0;
  GVDOC doc = 0;
  ASSERT_EQ(GVDatabaseOpen(nullptr, "d.odb", 0, &db), 0u);
  ASSERT_EQ(GVDocumentCreate(db, 0, &doc), 0u);
  ASSERT_EQ(GVItemPut(doc, "Subject", 0, 0, GVTYPE_TEXT, "never stored", 0), 0u);
  EXPECT_EQ(GVTerm(0), 0u);
  plexatest::RawDb raw(root.path() + "local/d.odb");
  EXPECT_EQ(raw.Int("SELECT COUNT(*) FROM note"), 0);
}

TEST_F(SessionTest, HandlesOfAnotherKindOrClosedAreInvalid) {
  GVDB db = CreateOpen("h.odb");
  GVDOC doc = 0;
  ASSERT_EQ(GVDocumentCreate(db, 0, &doc), 0u);
  EXPECT_NE(doc, db);
  EXPECT_EQ(GVDatabaseClose(doc, 0), GVERR_INVALID_HANDLE) << "a document is no database";
  EXPECT_EQ(GVDocumentSave(db, 0), GVERR_INVALID_HANDLE) << "a database is no document";
  EXPECT_EQ(GVDocumentSave(0, 0), GVERR_INVALID_HANDLE);
  EXPECT_EQ(GVDocumentSave(0xFFFFFFFFu, 0), GVERR_INVALID_HANDLE);
  // Closing the database closes its documents with it.
  EXPECT_EQ(GVDatabaseClose(db, 0), 0u);
  EXPECT_EQ(GVDocumentSave(doc, 0), GVERR_INVALID_HANDLE);
  EXPECT_EQ(GVDatabaseClose(db, 0), GVERR_INVALID_HANDLE);
  // New handles never repeat closed ones.
  GVDB again = 0;
  ASSERT_EQ(GVDatabaseOpen(nullptr, "h.odb", 0, &again), 0u);
  EXPECT_NE(again, db);
  EXPECT_NE(again, doc);
}

TEST_F(SessionTest, FailuresAreRecordedWithTextsUntilCleared) {
  ASSERT_EQ(GVSetProperty(GVPROP_CLEAR_ERROR, 0), 0u);
  EXPECT_EQ(GVErrorFetch(nullptr, nullptr, nullptr), 0u) << "no failure yet";
  GVDB db = 0;
  ASSERT_EQ(GVDatabaseOpen(nullptr, "missing.odb", 0, &db), GVERR_NO_DATABASE);
  EXPECT_EQ(db, 0u) << "outputs stay unset on failure";
  uint32_t status = 0, info = 99;
  char text[GV_ERROR_TEXT_SIZE];
  uint32_t length = GVErrorFetch(&status, &info, text);
  EXPECT_EQ(status, GVERR_NO_DATABASE);
  EXPECT_EQ(info, 0u);
  EXPECT_EQ(length, std::strlen(text));
  EXPECT_NE(std::string(text).find("missing.odb"), std::string::npos) << text;
  // A later success leaves the failure alone; clearing forgets it.
  GVDB ok = CreateOpen("ok.odb");
  EXPECT_NE(ok, 0u);
  EXPECT_EQ(LastStatus(), GVERR_NO_DATABASE);
  EXPECT_EQ(GVSetProperty(GVPROP_CLEAR_ERROR, 0), 0u);
  EXPECT_EQ(LastStatus(), 0u);
  EXPECT_EQ(GVErrorFetch(nullptr, nullptr, text), 0u);
  EXPECT_STREQ(text, "");
  // A failure that no deeper code described still gets its status text.
  EXPECT_EQ(GVDocumentSave(12345, 0), GVERR_INVALID_HANDLE);
  EXPECT_EQ(LastStatus(), GVERR_INVALID_HANDLE);
  EXPECT_EQ(LastText(), "Invalid handle");
}

TEST_F(SessionTest, TheErrorBufferReceivesLaterFailuresCut) {
  char small[8];
  std::memset(small, 'x', sizeof small);
  ASSERT_EQ(GVErrorSetBuffer(small, 6), 0u);
  GVDB db = 0;
  EXPECT_EQ(GVDatabaseOpen(nullptr, "nothere.odb", 0, &db), GVERR_NO_DATABASE);
  EXPECT_STREQ(small, "Datab");
  EXPECT_EQ(small[6], 'x') << "nothing beyond the size given";
  ASSERT_EQ(GVErrorSetBuffer(nullptr, 0), 0u);
  small[0] = '\0';
  EXPECT_EQ(GVDatabaseOpen(nullptr, "nothere.odb", 0, &db), GVERR_NO_DATABASE);
  EXPECT_STREQ(small, "") << "a null buffer stops it";
}

TEST_F(SessionTest, LastFailureIsPerThread) {
  GVDB db = 0;
  ASSERT_EQ(GVDatabaseOpen(nullptr, "mine.odb", 0, &db), GVERR_NO_DATABASE);
  uint32_t seen = 1;
  std::thread other([&] {
    seen = LastStatus();
    GVDocumentSave(0, 0);
  });
  other.join();
  EXPECT_EQ(seen, 0u);
  EXPECT_EQ(LastStatus(), GVERR_NO_DATABASE);
}

TEST_F(SessionTest, StatusTextsAreFixedAndUnknownOnesNamed) {
  struct Case {
    uint32_t status;
    const char* text;
  } cases[] = {
      {GVERR_NO_DATABASE, "Database does not exist"},
      {GVERR_NO_ITEM, "Item not found"},
      {GVERR_NO_MORE, "No more entries"},
      {0x80004242u, "Plexa status 0x80004242"},
  };
  for (const Case& c : cases) {
    char text[GV_ERROR_TEXT_SIZE];
    uint32_t n = GVErrorGetInfo(c.status, 0, text);
    EXPECT_STREQ(text, c.text);
    EXPECT_EQ(n, std::strlen(c.text));
  }
  EXPECT_EQ(GVErrorGetInfo(GVERR_NO_ITEM, 0, nullptr), std::strlen("Item not found"));
}

TEST_F(SessionTest, SessionProperties) {
  EXPECT_EQ(GVSetProperty(GVPROP_SHARED, 1), 0u);
  EXPECT_EQ(GVSetProperty(GVPROP_PROMPT, 0), 0u);
  EXPECT_EQ(GVSetProperty(GVPROP_BUSY_TIMEOUT, 100), 0u);
  EXPECT_EQ(plexa::BusyTimeoutMs(), 10000);
  EXPECT_EQ(GVSetProperty(GVPROP_BUSY_TIMEOUT, 0xFFFFFFFFu), 0u) << "clamped, not overflowed";
  EXPECT_GT(plexa::BusyTimeoutMs(), 0);
  EXPECT_EQ(GVSetProperty(99, 0), GVERR_INVALID_ARGUMENT);
}

TEST_F(SessionTest, CallsWithNullArgumentsFailCleanly) {
  GVDB db = CreateOpen("n.odb");
  GVDOC doc = 0;
  ASSERT_EQ(GVDocumentCreate(db, 0, &doc), 0u);
  EXPECT_EQ(GVDatabaseOpen(nullptr, nullptr, 0, &db), GVERR_INVALID_ARGUMENT);
  EXPECT_EQ(GVDatabaseOpen(nullptr, "n.odb", 0, nullptr), GVERR_INVALID_ARGUMENT);
  EXPECT_EQ(GVDocumentCreate(db, 0, nullptr), GVERR_INVALID_ARGUMENT);
  EXPECT_EQ(GVItemPut(doc, nullptr, 0, 0, GVTYPE_TEXT, "x", 0), GVERR_INVALID_ARGUMENT);
  EXPECT_EQ(GVItemPut(doc, "N", 0, 0, GVTYPE_NUMBER, nullptr, 0), GVERR_INVALID_ARGUMENT);
  EXPECT_EQ(GVItemFetch(doc, nullptr, nullptr, 0, 0, nullptr), GVERR_INVALID_ARGUMENT);
  EXPECT_EQ(GVDocumentGetProperty(doc, GVDOCPROP_UNID, nullptr), GVERR_INVALID_ARGUMENT);
  EXPECT_EQ(GVDatabaseGetProperty(db, GVDBPROP_TITLE, nullptr), GVERR_INVALID_ARGUMENT);
  EXPECT_EQ(GVServerList(GV_LIST_FIRST, nullptr), GVERR_INVALID_ARGUMENT);
  EXPECT_EQ(GVAttachmentAttach(doc, nullptr, nullptr, 0, 0), GVERR_INVALID_ARGUMENT);
  EXPECT_EQ(LastStatus(), GVERR_INVALID_ARGUMENT);
}

}  // namespace
