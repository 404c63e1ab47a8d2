// The administration activity through the engine: the back-up of an Administrator database
// into an inert copy that replaces the old one only when complete, the purge of log
// documents by age, and the properties it refuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "activity_runner.h"

namespace {

using acttest::Adm;
using acttest::Number;
using acttest::Property;
using acttest::Text;

constexpr uint32_t kAction = 1;
constexpr uint32_t kExpiration = 2;
constexpr uint32_t kLogServer = 3;
constexpr uint32_t kLogDatabase = 4;
constexpr uint32_t kSrcDatabase = TWTOKENF_SRC | TWTOKEN_DATABASE;
constexpr uint32_t kDestDatabase = TWTOKENF_DEST | TWTOKEN_DATABASE;

TEST(AdminIdentityTest, IdentifiesWithItsPropertyTable) {
  acttest::ExpectIdentity("admin.twx", TWSTREAMFMT_QMBCS,
                          {{1, TWTYPE_INT, "Action"},
                           {0x01010001, TWTYPE_TEXT, "SrcServer"},
                           {0x01010002, TWTYPE_TEXT, "SrcDatabase"},
                           {0x02010001, TWTYPE_TEXT, "DestServer"},
                           {0x02010002, TWTYPE_TEXT, "DestDatabase"},
                           {3, TWTYPE_TEXT, "LogServer"},
                           {4, TWTYPE_TEXT, "LogDatabase"},
                           {2, TWTYPE_INT, "Expiration"}});
}

// The lines of an export that hold part.
std::vector<std::string> Lines(const std::string& exported, const std::string& part) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < exported.size()) {
    size_t end = exported.find('\n', at);
    if (end == std::string::npos) end = exported.size();
    std::string line = exported.substr(at, end - at);
    if (line.find(part) != std::string::npos) lines.push_back(line);
    at = end + 1;
  }
  return lines;
}

// The value of item in a document's line of an export ("" when it has none).
std::string Item(const std::string& line, const std::string& item) {
  const std::string head = "{\"name\":\"" + item + "\",";
  size_t at = line.find(head);
  if (at == std::string::npos) return "";
  at = line.find("\"value\":", at);
  size_t end = line.find('}', at);
  return at == std::string::npos || end == std::string::npos ? ""
                                                             : line.substr(at + 8, end - at - 8);
}

class AdminTest : public acttest::ActivityRunner {
 protected:
  AdminTest() : ActivityRunner({"admin.twx", "ordex.twx"}) {}

  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(ActivityRunner::SetUp());
    prefix_ = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  }

  uint32_t RunAdmin(const std::vector<Property>& properties) {
    name_ = "Admin" + std::to_string(++runs_);
    AddActivity(name_, "admin", properties);
    return Run(name_);
  }
  // An Administrator database with an enabled, locked and due activity and a registered
  // server.
  std::string MakeAdministrator() {
    const std::string db = prefix_ + "-adm.odx";
    Adm({"create", db, "--template", twtest::BuildInstDir() + "QTWADM.OTM"});
    Adm({"new", db, "Activity\\Poll", "Name=Watch", "Enabled=1", "Lock:number=1", "LogID:number=5",
         "ActivityID:number=9", "RunASAP:number=1"});
    Adm({"new", db, "Configuration\\Server", "Name=Main", "ServerID:number=7", "LogID:number=3"});
    return db;
  }
  std::string prefix_, name_;
  int runs_ = 0;
};

TEST_F(AdminTest, TheBackupIsAnInertCopyThatReplacesTheOldOneWhenComplete) {
  const std::string adm = MakeAdministrator();
  const std::string copy = prefix_ + "-copy.odx";
  const std::vector<Property> backup = {Number("Action", kAction, 1),
                                        Text("SrcDatabase", kSrcDatabase, adm),
                                        Text("DestDatabase", kDestDatabase, copy)};
  // Twice: the second copy replaces the first.
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(RunAdmin(backup), TWSUCCESS) << round;
    const std::vector<std::string> log = Log(name_);
    ASSERT_EQ(log.size(), 1u) << round;
    EXPECT_NE(log[0].find(" Created copy of Administrator database"), std::string::npos) << log[0];
  }
  const std::string copied = Adm({"export", copy});
  const std::vector<std::string> watch = Lines(copied, "\"Watch\"");
  ASSERT_EQ(watch.size(), 1u) << copied;
  EXPECT_EQ(Item(watch[0], "Enabled"), "\"0\"");
  for (const char* item : {"Lock", "LogID", "ActivityID", "RunASAP"})
    EXPECT_EQ(Item(watch[0], item), "0.0") << item;
  const std::vector<std::string> server = Lines(copied, "\"Main\"");
  ASSERT_EQ(server.size(), 1u);
  for (const char* item : {"ServerID", "LogID"}) EXPECT_EQ(Item(server[0], item), "0.0") << item;
  // The source is left as it was.
  const std::vector<std::string> source = Lines(Adm({"export", adm}), "\"Watch\"");
  ASSERT_EQ(source.size(), 1u);
  EXPECT_EQ(Item(source[0], "Lock"), "1.0");
  EXPECT_EQ(Item(source[0], "Enabled"), "\"1\"");

  // A copy that fails leaves the old copy whole and nothing beside it.
  const std::vector<Property> broken = {Number("Action", kAction, 1),
                                        Text("SrcDatabase", kSrcDatabase, prefix_ + "-none.odx"),
                                        Text("DestDatabase", kDestDatabase, copy)};
  EXPECT_EQ(RunAdmin(broken), TWFAIL_EXTERNAL);
  ASSERT_EQ(Log(name_).size(), 1u);
  EXPECT_EQ(Log(name_)[0].rfind("12325 Error: ", 0), 0u) << Log(name_)[0];
  EXPECT_EQ(Adm({"export", copy}), copied);
  // A copy that cannot be put in place (a file not ours holds the name) is removed; the text
  // names the destination.
  const std::string foreign = prefix_ + "-foreign.odx";
  twtest::WriteFile(acttest::PlexaRoot() + "local/" + foreign, "not a database");
  EXPECT_EQ(RunAdmin({Number("Action", kAction, 1), Text("SrcDatabase", kSrcDatabase, adm),
                      Text("DestDatabase", kDestDatabase, foreign)}),
            TWFAIL_EXTERNAL);
  ASSERT_EQ(Log(name_).size(), 1u);
  EXPECT_NE(Log(name_)[0].find(" -  !!" + foreign), std::string::npos) << Log(name_)[0];
  EXPECT_EQ(twtest::ReadFile(acttest::PlexaRoot() + "local/" + foreign), "not a database");
  for (const auto& entry : std::filesystem::recursive_directory_iterator(acttest::PlexaRoot()))
    EXPECT_EQ(entry.path().filename().string().find(".backup-"), std::string::npos) << entry.path();
}

TEST_F(AdminTest, MissingOrConflictingPropertiesAreRefused) {
  const std::string adm = MakeAdministrator();
  const std::string noValue = "12553 Error: No value supplied for required property ";
  struct Case {
    std::vector<Property> properties;
    uint32_t status;
    std::string log;
  };
  const Case cases[] = {
      {{Number("Action", kAction, 3)}, TWFAIL_MISSING_PROPERTY, noValue + "'Action'"},
      {{}, TWFAIL_MISSING_PROPERTY, noValue + "'Action'"},
      // The template's default of the database names is empty: no value.
      {{Number("Action", kAction, 1), Text("SrcDatabase", kSrcDatabase, ""),
        Text("DestDatabase", kDestDatabase, "x.odx")},
       TWFAIL_MISSING_PROPERTY,
       noValue + "'SrcDatabase'"},
      {{Number("Action", kAction, 1), Text("SrcDatabase", kSrcDatabase, adm),
        Text("DestDatabase", kDestDatabase, "")},
       TWFAIL_MISSING_PROPERTY,
       noValue + "'DestDatabase'"},
      {{Number("Action", kAction, 1), Text("SrcDatabase", kSrcDatabase, adm),
        Text("DestDatabase", kDestDatabase, adm)},
       TWFAIL_PROPERTY_VALUE,
       "12556 Error: Invalid property value for property 'DestDatabase'"},
      {{Number("Action", kAction, 2), Text("LogDatabase", kLogDatabase, "log.odx")},
       TWFAIL_MISSING_PROPERTY,
       noValue + "'Expiration'"},
      {{Number("Action", kAction, 2), Number("Expiration", kExpiration, 3)},
       TWFAIL_MISSING_PROPERTY,
       noValue + "'LogDatabase'"},
      {{Number("Action", kAction, 2), Number("Expiration", kExpiration, -1),
        Text("LogDatabase", kLogDatabase, "log.odx")},
       TWFAIL_PROPERTY_VALUE,
       "12556 Error: Invalid property value for property 'Expiration'"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RunAdmin(c.properties), c.status) << name_;
    EXPECT_EQ(Log(name_), std::vector<std::string>{c.log}) << name_;
  }
  // Database names stay within their server's directory: an absolute name, even of the
  // database itself, or one that climbs out is refused.
  struct Outside {
    std::string src, dest;
    const char* property;
  };
  for (const Outside& o :
       {Outside{adm, "/nonexistent/dir/x.odx", "DestDatabase"},
        Outside{adm, "!!sub/../../x.odx", "DestDatabase"},
        Outside{adm, "sub\\..\\..\\x.odx", "DestDatabase"},
        Outside{acttest::PlexaRoot() + "local/" + adm, "x.odx", "SrcDatabase"}}) {
    EXPECT_EQ(RunAdmin({Number("Action", kAction, 1), Text("SrcDatabase", kSrcDatabase, o.src),
                        Text("DestDatabase", kDestDatabase, o.dest)}),
              TWFAIL_PROPERTY_VALUE)
        << o.dest;
    EXPECT_EQ(Log(name_), std::vector<std::string>{
                              std::string("12556 Error: Invalid property value for property '") +
                              o.property + "'"});
  }
  // Nothing was copied, nor a directory made.
  EXPECT_FALSE(std::filesystem::exists(acttest::PlexaRoot() + "local/x.odx"));
  EXPECT_FALSE(std::filesystem::exists("/nonexistent"));
}

TEST_F(AdminTest, ThePurgeRemovesTheLogDocumentsFinishedBeforeTheExpiration) {
  struct Case {
    int32_t expiration;
    std::vector<std::string> kept;
  };
  const Case cases[] = {
      {30, {"Hour", "Week", "Running"}},
      {0, {"Running"}},
  };
  for (const Case& c : cases) {
    const std::string log = prefix_ + std::to_string(c.expiration) + "-log.odx";
    Adm({"create", log, "--template", twtest::BuildInstDir() + "QTWLOG.OTM"});
    for (const auto& [name, hours] : {std::pair{"Quarter", 24 * 90}, std::pair{"Month", 24 * 31},
                                      std::pair{"Week", 24 * 7}, std::pair{"Hour", 1}})
      Adm({"new", log, "Activity", std::string("Activity=") + name,
           "FinishTime:time=" + twtest::LocalTimeAgo(hours * 3600)});
    Adm({"new", log, "Activity", "Activity=Running"});
    EXPECT_EQ(
        RunAdmin({Number("Action", kAction, 2), Number("Expiration", kExpiration, c.expiration),
                  Text("LogServer", kLogServer, ""), Text("LogDatabase", kLogDatabase, log)}),
        TWSUCCESS)
        << c.expiration;
    EXPECT_TRUE(Log(name_).empty()) << Log(name_)[0];
    std::vector<std::string> kept;
    for (const char* name : {"Quarter", "Month", "Week", "Hour", "Running"})
      if (!Lines(Adm({"export", log}), "\"" + std::string(name) + "\"").empty())
        kept.push_back(name);
    std::sort(kept.begin(), kept.end());
    std::vector<std::string> expected = c.kept;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(kept, expected) << c.expiration;
  }
}

}  // namespace
