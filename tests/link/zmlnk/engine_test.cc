// flatrec.twx driven through the engine: loaded by connector name for a stand-alone activity
// and through a link document of the fake control store, a transfer from one text file to
// another in blocks, the unserved entry points, and the statuses the activity log receives.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "connect_test_util.h"
#include "fake_ctlstore.h"
#include "flowcore.h"
#include "plat_test_util.h"
#include "properties.h"

namespace twtest {
namespace {

// Copies flatrec.twx from the build's installation directory into inst.
void InstallFlatrec(const Installation& inst) {
  InstallBuiltPlugin(inst, "flatrec.twx");
}

class FlatrecEngine : public ::testing::Test {
 protected:
  FlatrecEngine() {
    InstallFlatrec(inst_);
    EXPECT_EQ(TWSystemInit(), TWSUCCESS);
  }
  ~FlatrecEngine() override {
    TWActivityFree();
    TWSystemTerm();
  }
  uint32_t Open(Connection& c, const std::vector<std::pair<uint32_t, std::string>>& texts) {
    if (uint32_t st = AllocByLibrary(c, "flatrec")) return st;
    int32_t quiet = 1;
    EXPECT_EQ(TWConnectSetPropertyInt(c.get(), TWTOKENF_EXTERN | flatrec::kTrace, &quiet),
              TWSUCCESS);
    for (const auto& [token, value] : texts)
      EXPECT_EQ(SetText(c.get(), TWTOKENF_EXTERN | token, value), TWSUCCESS) << token;
    return TWConnectConnect(c.get());
  }
  std::string Path(const std::string& name) const { return inst_ / name; }

  Installation inst_;
};

TEST_F(FlatrecEngine, ATransferFromOneTextFileToAnotherInBlocks) {
  ASSERT_EQ(TWActivityAlloc(0, nullptr, 0), TWSUCCESS);
  std::string input;
  for (int i = 1; i <= 25; ++i)
    input += "id" + std::to_string(i) + "," + std::to_string(i * 125) + ",0" +
             std::to_string(i % 9 + 1) + ".03.2001\r\n";
  WriteFile(Path("in.csv"), input);
  Connection source, dest;
  ASSERT_EQ(Open(source, {{TWTOKEN_DATABASE, Path("in.csv")},
                          {flatrec::kZid,
                           "ID TYPE TEXT DELIM ,\nAMOUNT TYPE NUMBER.2 DELIM ,\n"
                           "DAY TYPE DATE FORMAT DD.MM.YYYY"}}),
            TWSUCCESS);
  ASSERT_EQ(
      Open(dest, {{TWTOKEN_DATABASE, Path("out.txt")},
                  {flatrec::kLinktype, "DESTINATION"},
                  {flatrec::kHeaderRec, "ID    AMOUNT  DAY\\n"},
                  {flatrec::kZid,
                   "ID TYPE TEXT START 1 WIDTH 6\nAMOUNT TYPE NUMBER.2 START 7 WIDTH 7 RIGHT\n"
                   "DAY TYPE DATE START 15 FORMAT YYYY-MM-DD"}}),
      TWSUCCESS);
  TWFIELDLIST block = TWNULLHANDLE;
  ASSERT_EQ(TWFieldlistAlloc(&block, 10, 0), TWSUCCESS);
  uint32_t described = 0;
  ASSERT_EQ(TWConnectExecute(source.get(), nullptr, block, &described), TWSUCCESS);
  EXPECT_EQ(described, TWCOUNT_UNKNOWN);
  uint32_t moved = 0, blocks = 0;
  for (;;) {
    uint32_t fetched = 0, inserted = 0;
    const uint32_t st = TWConnectFetch(source.get(), block, 1, 10, &fetched);
    ASSERT_TRUE(st == TWSUCCESS || st == TWFAIL_END_OF_DATA) << st;
    if (fetched > 0) {
      ASSERT_EQ(TWConnectInsert(dest.get(), block, 1, fetched, &inserted), TWSUCCESS);
      EXPECT_EQ(inserted, fetched);
      moved += inserted;
      ++blocks;
    }
    if (st == TWFAIL_END_OF_DATA) break;
  }
  EXPECT_EQ(TWFieldlistFree(block), TWSUCCESS);
  EXPECT_EQ(moved, 25u);
  EXPECT_EQ(blocks, 3u);
  source.Release();
  dest.Release();
  const std::string out = ReadFile(Path("out.txt"));
  EXPECT_EQ(out.substr(0, 18), "ID    AMOUNT  DAY\n");
  EXPECT_EQ(out.substr(18, 25), "id1      1.25 2001-03-02\n");
  EXPECT_EQ(out.substr(out.size() - 24), "id25    31.25 2001-03-08");
  EXPECT_EQ(TWActivityGetStatus(), TWSUCCESS);
}

TEST_F(FlatrecEngine, IdentityAndUnservedEntryPoints) {
  ASSERT_EQ(TWActivityAlloc(0, nullptr, 0), TWSUCCESS);
  void* module = TWLibraryLoad("flatrec", TWLIB_PLUGIN);
  ASSERT_NE(module, nullptr);
  auto identify = reinterpret_cast<uint32_t (*)(TWXIdentity*)>(
      TWLibraryLoadProc(module, nullptr, TWXORD_IDENTIFY));
  ASSERT_NE(identify, nullptr);
  TWXIdentity id{};
  ASSERT_EQ(identify(&id), TWSUCCESS);
  EXPECT_EQ(id.version, TWX_VERSION);
  EXPECT_EQ(id.kind, TWX_KIND_CONNECTOR);
  EXPECT_EQ(id.flags, 0x00000800u);
  EXPECT_EQ(id.textFormat, static_cast<uint32_t>(TWSTREAMFMT_NATIVE));
  TWLibraryFree(module);

  WriteFile(Path("in.txt"), "x\n");
  Connection c;
  ASSERT_EQ(Open(c, {{TWTOKEN_DATABASE, Path("in.txt")}, {flatrec::kZid, "A TYPE TEXT"}}),
            TWSUCCESS);
  TWFIELDLIST list = TWNULLHANDLE;
  ASSERT_EQ(TWFieldlistAlloc(&list, 1, 0), TWSUCCESS);
  uint32_t n = 0;
  EXPECT_EQ(TWConnectSelect(c.get(), TWNULLHANDLE, 1, list, &n), TWFAIL_UNAVAILABLE);
  EXPECT_EQ(TWConnectRemove(c.get(), list, 1, 1, &n), TWFAIL_UNAVAILABLE);
  EXPECT_EQ(TWConnectCatalog(c.get(), TWOBJECT_METADATA, list, &n), TWFAIL_UNAVAILABLE);
  EXPECT_EQ(TWConnectCreate(c.get(), TWOBJECT_METADATA, list), TWFAIL_UNAVAILABLE);
  EXPECT_EQ(TWConnectDrop(c.get(), TWOBJECT_METADATA), TWFAIL_UNAVAILABLE);
  EXPECT_EQ(TWConnectUpdate(c.get(), list, 1, 1, &n), TWFAIL_UNAVAILABLE);
  EXPECT_EQ(TWConnectAction(c.get(), TWACTION_ROLLBACK), TWFAIL_UNAVAILABLE);
  EXPECT_EQ(TWConnectAction(c.get(), TWACTION_RESET), TWSUCCESS);
  int32_t format = 0;
  EXPECT_EQ(TWConnectGetPropertyInt(c.get(), TWTOKEN_TEXT_FORMAT, &format), TWSUCCESS);
  EXPECT_EQ(format, 0xFFFF);
  EXPECT_EQ(PropertyText(c.get(), flatrec::kFiletype), "TEXT");
  EXPECT_EQ(TWFieldlistFree(list), TWSUCCESS);
}

TEST_F(FlatrecEngine, ConnectFailuresReachTheActivityLog) {
  ASSERT_EQ(TWActivityAlloc(0, nullptr, 0), TWSUCCESS);
  const struct {
    std::vector<std::pair<uint32_t, std::string>> texts;
    uint32_t status;
  } cases[] = {
      {{{TWTOKEN_DATABASE, Path("missing.txt")}, {flatrec::kZid, "A TYPE TEXT"}},
       TWFAIL_NOT_CONNECTED},
      {{{flatrec::kLinktype, "TARGET"}, {flatrec::kZid, "A TYPE TEXT"}}, TWFAIL_INVALID_METADATA},
      {{{flatrec::kZid, "A TYPE BOGUS"}}, TWFAIL_INVALID_METADATA},
  };
  for (const auto& c : cases) {
    TWActivityClearStatus();
    Connection conn;
    EXPECT_EQ(Open(conn, c.texts), c.status);
    EXPECT_EQ(TWActivityGetStatus(), c.status);
    EXPECT_EQ(LogLast().status, c.status);
  }
}

// A link document of the control store names the connector and gives its properties, own
// ones by their names' tokens.
TEST_F(FlatrecEngine, ALinkOfTheControlStore) {
  FakeCtlstore store;
  ASSERT_TRUE(store.serving());
  WriteFile(Path("in.txt"), "alpha|beta|");
  const int32_t link = store.AddDocument(CSMGR_ID_LINK, "FLAT");
  store.AddProperty(link, "Library", TWTOKEN_LIBRARY, FakeValue::Text("FlatRec"));
  store.AddProperty(link, "Database", TWTOKEN_DATABASE, FakeValue::Text(Path("in.txt")));
  store.AddProperty(link, "ZID", flatrec::kZid, FakeValue::Text("WORD TYPE TEXT"));
  store.AddProperty(link, "RecordDelim", flatrec::kRecordDelim, FakeValue::Text("|"));
  store.AddProperty(link, "Trace", flatrec::kTrace, FakeValue::Number(1));
  ASSERT_EQ(TWActivityAlloc(0, nullptr, 0), TWSUCCESS);
  Connection c;
  Text name("FLAT");
  ASSERT_EQ(TWConnectAlloc(c.out(), 0, name.get()), TWSUCCESS);
  ASSERT_EQ(TWConnectConnect(c.get()), TWSUCCESS);
  FieldList list(2);
  uint32_t n = 0;
  ASSERT_EQ(TWConnectExecute(c.get(), nullptr, list.get(), &n), TWSUCCESS);
  n = 0;
  EXPECT_EQ(TWConnectFetch(c.get(), list.get(), 1, 2, &n), TWSUCCESS);
  EXPECT_EQ(n, 2u);
  EXPECT_EQ(list.Value(1, 1), "alpha");
  EXPECT_EQ(list.Value(1, 2), "beta");
  EXPECT_EQ(TWConnectFetch(c.get(), list.get(), 1, 2, &n), TWFAIL_END_OF_DATA);
}

}  // namespace
}  // namespace twtest
