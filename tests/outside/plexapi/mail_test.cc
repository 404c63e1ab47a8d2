// Mail: memos made from a document, and sending into the local server's spool database,
// also by two processes at once on a fresh data root.
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "plexa_test_util.h"

namespace {

class MailTest : public plexatest::SessionTest {
 protected:
  void SetUp() override {
    SessionTest::SetUp();
    db_ = CreateOpen("log.odb");
    ASSERT_NE(db_, 0u);
    ASSERT_EQ(GVDocumentCreate(db_, 0, &log_), 0u);
    Put(log_, "Form", "Activity");
    Put(log_, "Server", "alpha");
    ASSERT_EQ(GVItemPut(log_, "Body", GVTYPE_COMPOSITE, 0, GVTYPE_TEXT, "started", 0), 0u);
    ASSERT_EQ(GVDocumentSave(log_, 0), 0u);
  }
  void TearDown() override {
    if (spool_ != 0) GVDatabaseClose(spool_, 0);
    if (db_ != 0) GVDatabaseClose(db_, 0);
    SessionTest::TearDown();
  }
  void Put(GVDOC doc, const char* name, const char* text) {
    ASSERT_EQ(GVItemPut(doc, name, 0, 0, GVTYPE_TEXT, text, 0), 0u) << name;
  }
  static std::string Text(GVDOC doc, const char* name) {
    char buffer[512] = "";
    uint32_t kind = GVTYPE_TEXT;
    uint32_t st = GVItemFetch(doc, name, &kind, 0, sizeof buffer, buffer);
    return st == 0 ? std::string(buffer) : "<" + std::to_string(st) + ">";
  }
  static uint32_t TypeOf(GVDOC doc, const char* name) {
    uint32_t type = 0;
    return GVItemGetInfo(doc, name, &type, nullptr, nullptr) == 0 ? type : 0;
  }
  // The spool's documents in the order of its view.
  std::vector<GVNOTEID> Spooled() {
    std::vector<GVNOTEID> out;
    if (spool_ == 0 && GVDatabaseOpen(nullptr, "mailspool.odb", 0, &spool_) != 0) return out;
    GVNOTEID view = GVViewLocateByName(spool_, "(Mail)");
    EXPECT_NE(view, 0u);
    GVINDEX index = 0;
    EXPECT_EQ(GVIndexOpen(spool_, &index), 0u);
    EXPECT_EQ(GVIndexOpenView(index, 0, view, 0), 0u);
    for (GVNOTEID id = 0; GVIndexNavigate(index, GVNAV_NEXT, 0, &id, nullptr) == 0;)
      out.push_back(id);
    GVIndexClose(index);
    return out;
  }
  GVDB db_ = 0;
  GVDB spool_ = 0;
  GVDOC log_ = 0;
};

TEST_F(MailTest, CreateCopiesTheItemsAndAddressesAMemo) {
  GVDOC mail = 0;
  ASSERT_EQ(GVMailCreate(log_, "ann, bob ,", "carl", nullptr, "Report", &mail), 0u);
  EXPECT_EQ(Text(mail, "Form"), "Memo");
  EXPECT_EQ(Text(mail, "Server"), "alpha");
  EXPECT_EQ(Text(mail, "Body"), "started");
  EXPECT_EQ(TypeOf(mail, "Body"), GVTYPE_COMPOSITE);
  EXPECT_EQ(Text(mail, "Subject"), "Report");
  EXPECT_NE(Text(mail, "From"), "");
  EXPECT_EQ(TypeOf(mail, "SendTo"), GVTYPE_TEXT_LIST);
  const void* list = nullptr;
  uint32_t kind = 0, length = 0;
  ASSERT_EQ(GVItemGetPointer(mail, "SendTo", &kind, &list, &length), 0u);
  ASSERT_EQ(GVTextListGetCount(list, length), 2u);
  char entry[16];
  ASSERT_EQ(GVTextListFetch(list, length, 2, entry, sizeof entry), 0u);
  EXPECT_STREQ(entry, "bob");
  EXPECT_EQ(Text(mail, "CopyTo"), "carl");
  EXPECT_EQ(TypeOf(mail, "BlindCopyTo"), 0u) << "null names make no item";
  GVNOTEID id = 1;
  ASSERT_EQ(GVDocumentGetProperty(mail, GVDOCPROP_NOTE_ID, &id), 0u);
  EXPECT_EQ(id, 0u) << "the memo is not stored";
  EXPECT_EQ(Text(log_, "Form"), "Activity") << "the source is unchanged";
  EXPECT_EQ(GVDocumentClose(mail, GVCLOSE_DISCARD), 0u);

  GVDOC none = 0;
  EXPECT_EQ(GVMailCreate(0, "a", nullptr, nullptr, "s", &none), GVERR_INVALID_HANDLE);
  EXPECT_EQ(GVMailCreate(log_, "a", nullptr, nullptr, "s", nullptr), GVERR_INVALID_ARGUMENT);
  EXPECT_EQ(none, 0u);
}

TEST_F(MailTest, SendSpoolsACopyWithRecipientsAndTheOpenBody) {
  // The control store's mail: mark the log, create the memo, append a link paragraph to its
  // Body through a composite it never closes, send, close the memo unsaved.
  uint32_t on = 1;
  ASSERT_EQ(GVDocumentSetProperty(log_, GVDOCPROP_FORM_CHECK, &on), 0u);
  GVDOC mail = 0;
  ASSERT_EQ(GVMailCreate(log_, "ann,bob", "bob,carl", "dora", "Report", &mail), 0u);
  GVCOMP body = 0;
  ASSERT_EQ(GVCompositeOpen(mail, "Body", &body), 0u);
  ASSERT_EQ(GVCDRecordInsert(body, 0, GVCD_PARAGRAPH, nullptr), 0u);
  ASSERT_EQ(GVCDRecordInsert(body, 0, GVCD_TEXT, "see the activity"), 0u);
  ASSERT_EQ(GVMailSend(mail, 0), 0u);
  EXPECT_EQ(GVDocumentClose(mail, GVCLOSE_DISCARD), 0u);

  std::vector<GVNOTEID> ids = Spooled();
  ASSERT_EQ(ids.size(), 1u);
  GVDOC copy = 0;
  ASSERT_EQ(GVDocumentOpen(spool_, ids[0], GVOPEN_READONLY, &copy), 0u);
  EXPECT_EQ(Text(copy, "Form"), "Memo");
  EXPECT_EQ(Text(copy, "Subject"), "Report");
  EXPECT_EQ(Text(copy, "Body"), "started\nsee the activity");
  EXPECT_EQ(Text(copy, "Recipients"), "ann, bob, carl, dora");
  EXPECT_EQ(TypeOf(copy, "PostedDate"), GVTYPE_TIME);
  EXPECT_EQ(TypeOf(copy, "$EmbeddedForm"), 0u);
  GVTIMEDATE posted{}, now{};
  uint32_t kind = GVTYPE_TIME;
  ASSERT_EQ(GVItemFetch(copy, "PostedDate", &kind, 0, 0, &posted), 0u);
  ASSERT_EQ(GVDatetimeCurrent(&now), 0u);
  int32_t seconds = -1;
  ASSERT_EQ(GVDatetimeDiff(&now, &posted, &seconds), 0u);
  EXPECT_LE(seconds, 60);
  EXPECT_GE(seconds, 0);
  EXPECT_EQ(GVDocumentClose(copy, 0), 0u);
  // Nothing of the memo went into the source database.
  GVINDEX index = 0;
  ASSERT_EQ(GVIndexOpen(db_, &index), 0u);
  ASSERT_EQ(GVIndexSearch(index, "SELECT Form = 'Memo'", 0, 0), 0u);
  EXPECT_EQ(GVIndexGetCount(index), 0u);
  GVIndexClose(index);
}

TEST_F(MailTest, EmbeddingKeepsTheFormAndAttachmentsTravel) {
  GVDOC doc = 0;
  ASSERT_EQ(GVDocumentCreate(db_, 0, &doc), 0u);
  Put(doc, "Form", "Order");
  Put(doc, "SendTo", "orders@example");
  std::string file = root() + "note.txt";
  std::ofstream(file) << "attached bytes";
  ASSERT_EQ(GVAttachmentAttach(doc, file.c_str(), nullptr, 0, 0), 0u);
  ASSERT_EQ(GVMailSend(doc, GVMAIL_EMBED_FORM), 0u);
  ASSERT_EQ(GVMailSend(doc, 0), 0u);
  GVNOTEID id = 1;
  ASSERT_EQ(GVDocumentGetProperty(doc, GVDOCPROP_NOTE_ID, &id), 0u);
  EXPECT_EQ(id, 0u) << "sending stores the copy only";
  EXPECT_EQ(GVDocumentClose(doc, GVCLOSE_DISCARD), 0u);

  std::vector<GVNOTEID> ids = Spooled();
  ASSERT_EQ(ids.size(), 2u);
  std::vector<std::string> forms, embedded;
  for (GVNOTEID n : ids) {
    GVDOC copy = 0;
    ASSERT_EQ(GVDocumentOpen(spool_, n, 0, &copy), 0u);
    forms.push_back(Text(copy, "Form"));
    embedded.push_back(Text(copy, "$EmbeddedForm"));
    std::string out = root() + "out.txt";
    ASSERT_EQ(GVAttachmentExtract(copy, "note.txt", out.c_str()), 0u);
    std::ifstream in(out);
    std::string got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(got, "attached bytes");
    GVDocumentClose(copy, GVCLOSE_DISCARD);
  }
  std::sort(forms.begin(), forms.end());
  std::sort(embedded.begin(), embedded.end());
  EXPECT_EQ(forms, (std::vector<std::string>{"Memo", "Order"}));
  EXPECT_EQ(embedded,
            (std::vector<std::string>{"<" + std::to_string(GVERR_NO_ITEM) + ">", "Order"}));
}

TEST_F(MailTest, NoRecipientNoMailAndNoSpool) {
  struct Case {
    const char* what;
    const char* sendTo;  // null: no SendTo item
  } cases[] = {{"no SendTo", nullptr}, {"an empty SendTo", ""}, {"only separators", " , ,"}};
  for (const Case& c : cases) {
    GVDOC mail = 0;
    ASSERT_EQ(GVMailCreate(log_, c.sendTo, "carl", nullptr, "x", &mail), 0u) << c.what;
    EXPECT_EQ(GVMailSend(mail, 0), GVERR_MAIL) << c.what;
    EXPECT_EQ(GVDocumentClose(mail, GVCLOSE_DISCARD), 0u);
  }
  EXPECT_EQ(access(Local("mailspool.odb").c_str(), F_OK), -1);
  EXPECT_EQ(GVMailSend(0, 0), GVERR_INVALID_HANDLE);
  EXPECT_EQ(GVMailSend(db_, 0), GVERR_INVALID_HANDLE);
}

TEST_F(MailTest, TwoProcessesMakingTheSpoolAtOnceBothDeliver) {
  // Each process sends as soon as both are ready, on a data root without a spool.
  auto send = [](const char* who) -> uint32_t {
    GVDB db = 0;
    if (uint32_t st = GVDatabaseOpen(nullptr, "log.odb", 0, &db)) return st;
    GVDOC doc = 0;
    uint32_t st = GVDocumentCreate(db, 0, &doc);
    if (st == 0) st = GVItemPut(doc, "SendTo", 0, 0, GVTYPE_TEXT, who, 0);
    if (st == 0) st = GVMailSend(doc, 0);
    GVDatabaseClose(db, 0);
    return st;
  };
  GVDatabaseClose(db_, 0);
  db_ = 0;
  plexatest::Child child([&](plexatest::Child& self) {
    uint32_t go = 0;
    if (!self.Send(1) || !self.Receive(go)) return 2;
    return send("child") == 0 ? 0 : 1;
  });
  uint32_t ready = 0;
  ASSERT_TRUE(child.Receive(ready));
  ASSERT_TRUE(child.Send(1));
  EXPECT_EQ(send("parent"), 0u);
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_EQ(Spooled().size(), 2u);
}

}  // namespace
