// The Administrator design upgrade and the Release 1 migration through the install library.
// The Release 1 Administrator is built by plexadm from a description of its design.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "install_test_util.h"

namespace installtest {
namespace {

using Values = std::map<std::string, std::string>;

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::string TextList(const std::vector<std::string>& entries) {
  std::string bytes;
  auto u16 = [&](size_t v) {
    bytes += static_cast<char>(v & 0xff);
    bytes += static_cast<char>(v >> 8);
  };
  u16(entries.size());
  for (const auto& e : entries) u16(e.size());
  for (const auto& e : entries) bytes += e;
  return bytes;
}

// Stores a document of form in db with text items (a value starting "list:" is a text list
// of ","-separated entries, "num:" a number).
void NewDocument(GVDB db, const std::string& form, const Values& items) {
  GVNOTEID formId = GVFormLocateByName(db, form.c_str());
  ASSERT_NE(formId, 0u) << form;
  GVDOC doc = 0;
  ASSERT_EQ(GVDocumentCreate(db, formId, &doc), 0u);
  for (const auto& [name, value] : items) {
    if (value.rfind("list:", 0) == 0) {
      std::vector<std::string> entries;
      std::string rest = value.substr(5);
      for (size_t at; (at = rest.find(',')) != std::string::npos; rest = rest.substr(at + 1))
        entries.push_back(rest.substr(0, at));
      entries.push_back(rest);
      std::string bytes = TextList(entries);
      ASSERT_EQ(GVItemPut(doc, name.c_str(), GVTYPE_TEXT_LIST, static_cast<uint32_t>(bytes.size()),
                          GVTYPE_TEXT_LIST, bytes.data(), 0),
                0u);
    } else if (value.rfind("num:", 0) == 0) {
      double number = std::stod(value.substr(4));
      ASSERT_EQ(GVItemPut(doc, name.c_str(), GVTYPE_NUMBER, 0, GVTYPE_NUMBER, &number, 0), 0u);
    } else {
      ASSERT_EQ(GVItemPut(doc, name.c_str(), GVTYPE_TEXT, 0, GVTYPE_TEXT, value.c_str(), 0), 0u);
    }
  }
  ASSERT_EQ(GVDocumentClose(doc, GVCLOSE_STORE), 0u);
}

std::set<std::string> DesignNames(const std::string& file, bool local,
                                  uint32_t (*list)(GVDB, uint32_t, GVDesignEntry*)) {
  std::set<std::string> names;
  std::multiset<std::string> all;
  GVDB db = 0;
  EXPECT_EQ(GVDatabaseOpen(nullptr, file.c_str(), 0, &db), 0u) << file << local;
  for (uint32_t pos = GV_LIST_FIRST;; pos = GV_LIST_NEXT) {
    GVDesignEntry e{};
    if (list(db, pos, &e) != 0) break;
    names.insert(e.name);
    all.insert(e.name);
  }
  GVDatabaseClose(db, 0);
  EXPECT_EQ(all.size(), names.size()) << "a design element twice in " << file;
  return names;
}

class MigrationTest : public InstallTest {
 protected:
  void SetUp() override {
    InstallTest::SetUp();
    const std::string templ = base_.path() + "release1.otm";
    twtest::ProcessResult r = twtest::RunProgram(
        {twtest::BuildInstDir() + "plexadm", "build-template", TW_RELEASE1_JSON, templ},
        twtest::InheritedEnv(), base_.path());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ASSERT_EQ(GVDatabaseCreate(nullptr, "release1.odx", nullptr, 0, nullptr, templ.c_str(), 0, 1),
              0u);
    ASSERT_TRUE(tw::install::SetField(ctx_.release1Database, "release1.odx"));
    CreateCluster(ctx_);
  }
  void Fill(const std::string& file, const std::vector<std::pair<std::string, Values>>& docs) {
    GVDB db = 0;
    ASSERT_EQ(GVDatabaseOpen(nullptr, file.c_str(), 0, &db), 0u);
    for (const auto& [form, items] : docs) NewDocument(db, form, items);
    GVDatabaseClose(db, 0);
  }
  // The Topic of each information note of the Administrator; SetInfoTopic changes them.
  std::vector<std::string> InfoTopics(const char* set = nullptr) {
    std::vector<std::string> topics;
    GVDB db = 0;
    GVINDEX ix = 0;
    uint32_t classes = GVCLASS_INFO;
    EXPECT_EQ(GVDatabaseOpen(nullptr, "qtwadm.odx", 0, &db), 0u);
    EXPECT_EQ(GVIndexOpen(db, &ix), 0u);
    EXPECT_EQ(GVIndexSetProperty(ix, GVIDXPROP_CLASSES, &classes), 0u);
    EXPECT_EQ(GVIndexSearch(ix, nullptr, 0, 0), 0u);
    GVNOTEID id = 0;
    while (GVIndexNavigate(ix, GVNAV_NEXT, GVNAVF_DOCUMENTS, &id, nullptr) == 0) {
      GVDOC doc = 0;
      EXPECT_EQ(GVDocumentOpen(db, id, 0, &doc), 0u);
      if (set != nullptr) {
        EXPECT_EQ(GVItemPut(doc, "Topic", GVTYPE_TEXT, 0, GVTYPE_TEXT, set, 0), 0u);
      }
      char text[256] = "";
      uint32_t kind = GVTYPE_TEXT;
      GVItemFetch(doc, "Topic", &kind, 0, sizeof text, text);
      topics.push_back(text);
      GVDocumentClose(doc, set != nullptr ? GVCLOSE_STORE : GVCLOSE_DISCARD);
    }
    GVIndexClose(ix);
    GVDatabaseClose(db, 0);
    return topics;
  }
  void SetInfoTopic(const char* topic) { InfoTopics(topic); }
  Items One(const std::string& form, const std::string& name) {
    auto docs = Documents("qtwadm.odx", form, name);
    EXPECT_EQ(docs.size(), 1u) << form << " " << name;
    return docs.empty() ? Items{} : docs[0];
  }
};

TEST_F(MigrationTest, Release1AdministratorIntoNewCluster) {
  Fill(
      "release1.odx",
      {{"Configuration\\Server", {{"Name", "ALPHA"}}},
       {"Configuration\\Server", {{"Name", "OLDSRV"}, {"Translate", "num:1"}, {"Creator", "me"}}},
       {"Configuration\\Server", {{"Name", "PLAIN"}, {"Translate", "num:0"}}},
       {"Link\\Flatrec", {{"Name", "PeopleIn"}, {"Database", "/data/people.txt"}}},
       {"Activity\\Direct Transfer",
        {{"Name", "CopyPeople"},
         {"SrcLink", "PeopleIn"},
         {"MapName", "1"},
         {"Options", "list:MapName,Other"},
         {"SrcOption", "OptA"}}},
       {"Activity\\Direct Transfer", {{"Name", "Positional"}, {"MapName", "0"}}},
       {"Activity\\Replication",
        {{"Name", "Repl"},
         {"MapName", "1"},
         {"DestMaster", "1"},
         {"NoDelete", "1"},
         {"Options", "list:NoDelete,MapName,Keep"}}},
       {"Activity\\Replication", {{"Name", "Repl2"}, {"DestMaster", "0"}, {"NoDelete", "0"}}},
       {"Activity\\Administration", {{"Name", "Backup"}, {"Statement", "1"}}},
       {"Activity\\Administration", {{"Name", "Purge"}, {"Statement", "2"}}},
       {"Activity\\Administration", {{"Name", "Weird"}, {"Statement", "3"}}},
       {"Option\\Oracle",
        {{"Name", "OptA"}, {"Forview", "V1"}, {"LongCreation", "UserControl"}, {"LongColumn", ""}}},
       {"Option\\Oracle", {{"Name", "Unused"}, {"Forview", "V9"}}}});
  // An orphan of an earlier migration stands under the name the options will take.
  Fill("qtwadm.odx", {{"Option\\Oracle", {{"Name", "OptA/V1/Oracle"}, {"Forview", "stale"}}}});

  std::string out, notes;
  EXPECT_EQ(tw::install::SetupMigrateRelease1(ctx_, out, notes), TWFAIL_SETUP_MIGRATION);
  EXPECT_EQ(out, "ERROR: " + tw::install::Message(TWFAIL_PROGRAM) + "\n");
  EXPECT_TRUE(Has(notes, "\nWarning: Duplicate document: Configuration Server 'ALPHA'")) << notes;
  EXPECT_TRUE(Has(notes, "\nIllegal Administration Activity")) << notes;
  EXPECT_TRUE(Has(notes, "\nOverwriting orphaned Link option document: OptA/V1/Oracle")) << notes;

  // Servers: the duplicate stays the cluster's own; the others arrive disabled.
  EXPECT_EQ(One("Configuration\\Server", "ALPHA")["Enabled"], "1");
  Items old = One("Configuration\\Server", "OLDSRV");
  EXPECT_EQ(old["Enabled"], "0");
  EXPECT_EQ(old["Translate"], "2");
  EXPECT_EQ(old["Creator"], "me");
  EXPECT_EQ(One("Configuration\\Server", "PLAIN")["Translate"], "0");
  EXPECT_EQ(One("Link\\Flatrec", "PeopleIn")["Database"], "/data/people.txt");

  struct Case {
    const char* form;
    const char* name;
    Values expected;
  } cases[] = {
      {"Activity\\Direct Transfer",
       "CopyPeople",
       {{"FieldMapping", "MapName"}, {"Options", "Other"}, {"SubType", "Direct Transfer"}}},
      {"Activity\\Direct Transfer", "Positional", {{"FieldMapping", "MapPosition"}}},
      {"Activity\\Replication",
       "Repl",
       {{"FieldMapping", "MapName"},
        {"ConflictResolution", "2"},
        {"Options", "Keep"},
        {"SrcNoDelete", "NoSrc"},
        {"DestNoDelete", "NoDest"}}},
      {"Activity\\Replication",
       "Repl2",
       {{"FieldMapping", "MapPosition"}, {"ConflictResolution", "1"}}},
      {"Activity\\*Admin-Backup", "Backup", {{"SubType", "*Admin-Backup"}}},
      {"Activity\\*Admin-Purge Log", "Purge", {{"SubType", "*Admin-Purge Log"}}},
      {"Option\\Oracle",
       "OptA/V1/Oracle",
       {{"ActivityName", "OptA"}, {"Forview", "V1"}, {"LongCreation", "NoLong"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Items got = One(c.form, c.name);
    for (const auto& [item, value] : c.expected) EXPECT_EQ(got[item], value) << item;
  }
  EXPECT_TRUE(Documents("qtwadm.odx", "Configuration\\Server", "Weird").empty());
  EXPECT_TRUE(Documents("qtwadm.odx", "Activity\\*Admin-Backup", "Weird").empty());
  EXPECT_TRUE(Documents("qtwadm.odx", "Option\\Oracle", "Unused/V9/Oracle").empty());
  EXPECT_FALSE(One("Activity\\Replication", "Repl2").count("SrcNoDelete"));
  EXPECT_EQ(One("Configuration\\Administrator", "Administrator")["Revision"], "65536");
}

TEST_F(MigrationTest, MissingRelease1DatabaseIsReported) {
  ASSERT_TRUE(tw::install::SetField(ctx_.release1Database, "absent.odx"));
  std::string out, notes;
  EXPECT_EQ(tw::install::SetupMigrateRelease1(ctx_, out, notes), TWFAIL_SETUP_MIGRATION);
  EXPECT_TRUE(Has(out, "ERROR: ")) << out;
  EXPECT_EQ(One("Configuration\\Administrator", "Administrator")["Revision"], "131072");
}

// An Administrator that lost design elements gets the template's back; every element is
// there once, however often the upgrade runs, and Ordex links are marked for metadata.
TEST_F(MigrationTest, UpgradeTwice) {
  {
    GVDB db = 0;
    ASSERT_EQ(GVDatabaseOpen(nullptr, "qtwadm.odx", 0, &db), 0u);
    ASSERT_EQ(GVViewDelete(db, GVViewLocateByName(db, "(CS_Links)")), 0u);
    ASSERT_EQ(GVFormDelete(db, GVFormLocateByName(db, "Link\\Flatrec")), 0u);
    GVDatabaseClose(db, 0);
  }
  Fill("qtwadm.odx", {{"Link\\Ordex", {{"Name", "Notes"}}}});
  twtest::WriteFile(inst_ + "twmain.ini", "[Configuration]\r\nVersion=22\r\nTarnway=ALPHA\r\n");
  // The new template carries a document of its own.
  std::string json = twtest::ReadFile(TW_ADMIN_TEMPLATE_JSON);
  const std::string noDocs = "\"documents\": []";
  ASSERT_NE(json.find(noDocs), std::string::npos);
  json.replace(json.find(noDocs), noDocs.size(),
               "\"documents\": [{\"class\": \"info\", \"items\": [{\"name\": \"Topic\", "
               "\"type\": \"text\", \"value\": \"from the template\"}]}]");
  twtest::WriteFile(base_.path() + "qtwadm2.json", json);
  const std::string templ = inst_ + "QTWADM.OTM";
  fs::remove(templ);
  twtest::ProcessResult built = twtest::RunProgram(
      {twtest::BuildInstDir() + "plexadm", "build-template", base_.path() + "qtwadm2.json", templ},
      twtest::InheritedEnv(), base_.path());
  ASSERT_EQ(built.exitCode, 0) << built.err;
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    std::string out;
    ASSERT_EQ(tw::install::SetupUpgradeAdministrator(ctx_, out), 0u) << out;
    // Copied once; what the Administrator made of it since stays.
    std::vector<std::string> topics = InfoTopics();
    ASSERT_EQ(topics.size(), 1u);
    EXPECT_EQ(topics[0], run == 0 ? "from the template" : "changed here");
    if (run == 0) SetInfoTopic("changed here");
    EXPECT_EQ(DesignNames("qtwadm.odx", true, GVFormList), DesignNames(templ, true, GVFormList));
    EXPECT_EQ(DesignNames("qtwadm.odx", true, GVViewList), DesignNames(templ, true, GVViewList));
    EXPECT_EQ(One("Link\\Ordex", "Notes")["MetadataRequired"], "1");
    EXPECT_EQ(Documents("qtwadm.odx", "Configuration\\Server").size(), 1u);
  }
  EXPECT_EQ(Ini(inst_), "[Configuration]\r\nVersion=23\r\nTarnway=ALPHA\r\n");
  EXPECT_FALSE(fs::exists(inst_ + "QTWADM.OTM.upgrade"));
}

TEST_F(MigrationTest, UpgradeWithoutTemplateChangesNothing) {
  fs::remove(inst_ + "QTWADM.OTM");
  twtest::WriteFile(inst_ + "twmain.ini", "[Configuration]\r\nVersion=22\r\n");
  std::string out;
  EXPECT_EQ(tw::install::SetupUpgradeAdministrator(ctx_, out), TWFAIL_SETUP_MIGRATION);
  EXPECT_TRUE(Has(out, "Error upgrading Administrator Database:\nERROR: ")) << out;
  EXPECT_EQ(Ini(inst_), "[Configuration]\r\nVersion=22\r\n");
}

}  // namespace
}  // namespace installtest
