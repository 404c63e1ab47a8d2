// Helpers of the install library's tests: an installation directory holding the kit's
// templates, a private data root with the Plexa session open, the install context filled for
// a local cluster, and looks into the resulting databases.
#ifndef TW_TESTS_INSTALL_INSTALL_TEST_UTIL_H_
#define TW_TESTS_INSTALL_INSTALL_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "install_util.h"
#include "plat_test_util.h"
#include "plexapi.h"
#include "process_util.h"
#include "setup_context.h"

namespace installtest {

namespace fs = std::filesystem;
using tw::install::SetupContext;
using tw::install::TWFAIL_SETUP_MIGRATION;
using tw::install::TWFAIL_SETUP_PROGRAM_ITEM;
using tw::install::TWFAIL_SETUP_REMOVE_PARTIAL;

// What a test reads back of one document: its items as text.
using Items = std::map<std::string, std::string>;

class InstallTest : public ::testing::Test {
 protected:
  InstallTest() : rootEnv_("PLEXA_ROOT", (base_.path() + "ordex").c_str()) {}

  void SetUp() override {
    inst_ = base_.path() + "inst/";
    fs::create_directories(inst_);
    fs::create_directories(base_.path() + "ordex");
    for (const char* name : {"QTWADM.OTM", "QTWLOG.OTM", "QTWVLT.OTM", "QTW20DOC.ODB"})
      fs::copy_file(twtest::BuildInstDir() + name, inst_ + name);
    ctx_ = MakeContext(inst_, "ALPHA", "2", 0);
    std::string out;
    ASSERT_EQ(tw::install::SetupPlexaInit(out), 0u) << out;
  }
  void TearDown() override { tw::install::SetupPlexaTerm(); }

  SetupContext MakeContext(const std::string& dir, const std::string& member, const char* kit,
                           int existing) {
    SetupContext ctx{};
    EXPECT_TRUE(tw::install::SetField(ctx.installDir, dir));
    EXPECT_TRUE(tw::install::SetField(ctx.setupDir, dir));
    EXPECT_TRUE(tw::install::SetField(ctx.memberName, member));
    EXPECT_TRUE(tw::install::SetField(ctx.adminDatabase, "qtwadm.odx"));
    EXPECT_TRUE(tw::install::SetField(ctx.logDatabase, "qtwlog.odx"));
    EXPECT_TRUE(tw::install::SetField(ctx.kitType, kit));
    EXPECT_TRUE(tw::install::SetField(ctx.snmpMode, "1"));
    EXPECT_TRUE(tw::install::SetField(ctx.translateMode, "2"));
    ctx.existingCluster = existing;
    return ctx;
  }

  // A second member's installation directory (its own twmain.ini).
  std::string MemberDir(const std::string& name) {
    std::string dir = base_.path() + name + "/";
    fs::create_directories(dir);
    return dir;
  }

  bool DatabaseExists(const std::string& file) {
    return fs::exists(base_.path() + "ordex/local/" + file);
  }

  // The documents of form whose Name is name (every document of the form with an empty
  // name), each as its items read as text.
  std::vector<Items> Documents(const std::string& db, const std::string& form,
                               const std::string& name = "") {
    std::vector<Items> docs;
    GVDB h = 0;
    if (GVDatabaseOpen(nullptr, db.c_str(), 0, &h) != 0) return docs;
    GVNOTEID formId = GVFormLocateByName(h, form.c_str());
    GVINDEX ix = 0;
    std::string search = name.empty() ? "" : tw::install::NameSearch("Name", name);
    if (formId != 0 && GVIndexOpen(h, &ix) == 0 &&
        GVIndexSearch(ix, search.empty() ? nullptr : search.c_str(), formId, 0) == 0) {
      GVNOTEID id = 0;
      while (GVIndexNavigate(ix, GVNAV_NEXT, GVNAVF_DOCUMENTS, &id, nullptr) == 0) {
        GVDOC doc = 0;
        if (GVDocumentOpen(h, id, GVOPEN_READONLY, &doc) != 0) continue;
        Items items;
        for (const char* item : {"Name",
                                 "Enabled",
                                 "Translate",
                                 "SNMP",
                                 "PollInterval",
                                 "Revision",
                                 "LogServer",
                                 "LogDatabase",
                                 "AgentDatabase",
                                 "HelpDatabase",
                                 "Type",
                                 "SubType",
                                 "Form",
                                 "FieldMapping",
                                 "Options",
                                 "ConflictResolution",
                                 "SrcNoDelete",
                                 "DestNoDelete",
                                 "ActivityName",
                                 "Forview",
                                 "LongCreation",
                                 "SrcOption",
                                 "DestOption",
                                 "Creator",
                                 "MetadataRequired",
                                 "Database"}) {
          char text[4096] = "";
          uint32_t kind = GVTYPE_TEXT;
          if (GVItemFetch(doc, item, &kind, 0, sizeof text, text) == 0) items[item] = text;
        }
        docs.push_back(items);
        GVDocumentClose(doc, GVCLOSE_DISCARD);
      }
    }
    if (ix != 0) GVIndexClose(ix);
    GVDatabaseClose(h, 0);
    return docs;
  }

  std::string Ini(const std::string& dir) { return twtest::ReadFile(dir + "twmain.ini"); }

  twtest::TempDir base_;
  twtest::ScopedEnv rootEnv_;
  std::string inst_;
  SetupContext ctx_{};
};

// Creates the cluster of ctx; the test fails when it does not.
inline void CreateCluster(SetupContext& ctx) {
  std::string out;
  ASSERT_EQ(tw::install::SetupCreateCluster(ctx, out), 0u) << out;
}

}  // namespace installtest

#endif  // TW_TESTS_INSTALL_INSTALL_TEST_UTIL_H_
