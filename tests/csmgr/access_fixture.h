// A test fixture for the control store's access, parameter and log units: a private
// installation with an Administrator and a log database made from the installed templates,
// opened into the service state as start-up would leave them.
#ifndef TW_TESTS_CSMGR_ACCESS_FIXTURE_H_
#define TW_TESTS_CSMGR_ACCESS_FIXTURE_H_

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "csmgr.h"
#include "log.h"
#include "ordexio.h"
#include "plat_test_util.h"
#include "plexapi.h"

namespace csmgrtest {

class AccessTest : public ::testing::Test {
 protected:
  AccessTest() : root_(inst_.path() + "ordex/"), plexaRoot_("PLEXA_ROOT", root_.c_str()) {}

  void SetUp() override {
    twtest::InitAt(inst_.path());
    std::filesystem::create_directories(root_ + "local");
    ASSERT_EQ(_GVInit(GV_VERSION, 0, 0, 0), 0u);
    // The installed templates: the installation directory of the build.
    const char* inst = std::getenv("TW_INST_DIR");
    const char* build = std::getenv("TW_BUILD_DIR");
    ASSERT_TRUE(inst != nullptr || build != nullptr);
    const std::string dir =
        inst != nullptr ? std::string(inst) + "/" : std::string(build) + "/inst/";
    ASSERT_EQ(GVDatabaseCreate(nullptr, "tarnadm.odb", nullptr, 0, nullptr,
                               (dir + "QTWADM.OTM").c_str(), 0, 0),
              0u);
    ASSERT_EQ(GVDatabaseCreate(nullptr, "tarnlog.odb", nullptr, 0, nullptr,
                               (dir + "QTWLOG.OTM").c_str(), 0, 0),
              0u);
    tw::csmgr::ResetService();
    tw::csmgr::ServiceState& s = tw::csmgr::Service();
    ASSERT_TRUE(tw::csmgr::OrdexOpenDatabase("", "tarnadm.odb", &s.adminDb));
    ASSERT_TRUE(tw::csmgr::OrdexOpenDatabase("", "tarnlog.odb", &s.logDb));
    s.adminTitle = tw::csmgr::OrdexDatabaseTitle(s.adminDb);
    s.logTitle = tw::csmgr::OrdexDatabaseTitle(s.logDb);
    s.admin.servers = GVViewLocateByName(s.adminDb, "(CS_Servers)");
    s.admin.activities = GVViewLocateByName(s.adminDb, "(CS_Activities)");
    s.admin.links = GVViewLocateByName(s.adminDb, "(CS_Links)");
    s.admin.options = GVViewLocateByName(s.adminDb, "(CS_Options)");
    s.log.activityForm = GVFormLocateByName(s.logDb, "Activity");
    s.log.serverForm = GVFormLocateByName(s.logDb, "Server");
    s.log.servers = GVViewLocateByName(s.logDb, "(CS_Servers)");
    s.log.activities = GVViewLocateByName(s.logDb, "(CS_Activities)");
    s.serverName = "alpha";
    s.initialised = true;
    s.startupComplete = true;
  }

  void TearDown() override {
    tw::csmgr::ServiceState& s = tw::csmgr::Service();
    for (auto& slot : s.slots) {
      tw::csmgr::OrdexCloseDocument(&slot.document, false);
      tw::csmgr::OrdexCloseDocument(&slot.logDocument, true);
    }
    tw::csmgr::CSMgrEndServiceLogs();
    tw::csmgr::CSMgrClearDetail();
    tw::csmgr::OrdexCloseDatabase(&s.adminDb);
    tw::csmgr::OrdexCloseDatabase(&s.logDb);
    tw::csmgr::ResetService();
    GVTerm(0);
    TWPlatTerm();
  }

  static tw::csmgr::ServiceState& S() { return tw::csmgr::Service(); }
  const std::string& inst() const { return inst_.path(); }

  // A new stored document of the named form with a Name; the caller closes it.
  GVDOC NewDocument(GVDB db, const char* form, const std::string& name) {
    GVDOC doc = 0;
    EXPECT_EQ(GVDocumentCreate(db, form ? GVFormLocateByName(db, form) : 0, &doc), 0u);
    if (!name.empty()) {
      EXPECT_TRUE(tw::csmgr::OrdexWriteText(doc, "Name", name));
    }
    EXPECT_EQ(GVDocumentSave(doc, 0), 0u);
    return doc;
  }
  GVNOTEID IdOf(GVDOC doc) { return tw::csmgr::OrdexDocumentId(doc); }

  // The text of a rich-text item, one entry per paragraph.
  static std::vector<std::string> Lines(GVDOC doc, const char* item = "Body") {
    std::string text;
    EXPECT_TRUE(tw::csmgr::OrdexReadText(doc, item, &text)) << item;
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
      size_t nl = text.find('\n', start);
      if (nl == std::string::npos) nl = text.size();
      lines.push_back(text.substr(start, nl - start));
      start = nl + 1;
    }
    return lines;
  }

  // Every document of a database whose Form item equals form, in note-id order.
  static std::vector<GVNOTEID> DocumentsOfForm(GVDB db, const std::string& form) {
    std::vector<GVNOTEID> ids;
    GVINDEX index = 0;
    EXPECT_EQ(GVIndexOpen(db, &index), 0u);
    const std::string formula = "SELECT Form = '" + form + "'";
    EXPECT_EQ(GVIndexSearch(index, formula.c_str(), 0, 0), 0u);
    GVNOTEID id = 0;
    while (GVIndexNavigate(index, GVNAV_NEXT, 0, &id, nullptr) == 0) ids.push_back(id);
    GVIndexClose(index);
    return ids;
  }

  // Opens a log-database document, giving its Body lines and closing it again.
  std::vector<std::string> LogLines(GVNOTEID id) {
    GVDOC doc = 0;
    EXPECT_EQ(GVDocumentOpen(S().logDb, id, GVOPEN_READONLY, &doc), 0u);
    std::vector<std::string> lines = Lines(doc);
    GVDocumentClose(doc, GVCLOSE_DISCARD);
    return lines;
  }

  std::string ReadInstFile(const char* name) { return twtest::ReadFile(inst_.path() + name); }

 private:
  twtest::TempDir inst_;
  std::string root_;
  twtest::ScopedEnv plexaRoot_;
};

}  // namespace csmgrtest

#endif  // TW_TESTS_CSMGR_ACCESS_FIXTURE_H_
