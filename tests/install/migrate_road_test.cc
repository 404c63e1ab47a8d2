// A Release 1 Administrator migrated into a cluster that the install library creates, and
// twmain running the migrated direct transfer beside the same transfer defined on the new
// cluster: both write the same records.
#include <gtest/gtest.h>

#include <string>

#include "road_fixture.h"
#include "setup_context.h"

namespace {

namespace fs = std::filesystem;
using road::Count;
using road::Has;
using road::kWaitMs;
using road::Twmain;
using road::Within;

class MigrateRoad : public road::RoadFixture {
 protected:
  void SetUp() override {
    RoadFixture::SetUp();
    if (HasFatalFailure()) return;
    plexaRoot_.emplace("PLEXA_ROOT", path("ordex").c_str());
    for (const char* name : {"QTWADM.OTM", "QTWLOG.OTM"}) fs::copy_file(build_ + name, path(name));
    ctx_ = {};
    ASSERT_TRUE(tw::install::SetField(ctx_.installDir, inst_.path()));
    ASSERT_TRUE(tw::install::SetField(ctx_.memberName, road::kServer));
    ASSERT_TRUE(tw::install::SetField(ctx_.adminDatabase, "qtwadm.odx"));
    ASSERT_TRUE(tw::install::SetField(ctx_.logDatabase, "qtwlog.odx"));
    ASSERT_TRUE(tw::install::SetField(ctx_.kitType, "2"));
    ASSERT_TRUE(tw::install::SetField(ctx_.snmpMode, "0"));
    ASSERT_TRUE(tw::install::SetField(ctx_.translateMode, "0"));
    ASSERT_TRUE(tw::install::SetField(ctx_.release1Database, "release1.odx"));
    std::string out;
    ASSERT_EQ(tw::install::SetupPlexaInit(out), 0u) << out;
  }
  void TearDown() override {
    tw::install::SetupPlexaTerm();
    RoadFixture::TearDown();
  }

  std::optional<twtest::ScopedEnv> plexaRoot_;
  tw::install::SetupContext ctx_{};
};

TEST_F(MigrateRoad, MigratedDirectTransferRunsLikeANativeOne) {
  ASSERT_NO_FATAL_FAILURE(InstallPlugin("flatrec.twx"));
  std::string out;
  ASSERT_EQ(tw::install::SetupCreateCluster(ctx_, out), 0u) << out;
  // Due work is looked for every second rather than the installed minute.
  std::string member =
      Adm({"search", "qtwadm.odx", "select Name = 'ROAD'", "--form", "Configuration\\Server"});
  Adm({"put", "qtwadm.odx", member.substr(0, member.find('\t')), "PollInterval", "number", "1"});

  twtest::WriteFile(path("in.txt"), "1,alpha\n2,beta\n3,gamma delta\n");
  twtest::WriteFile(path("rows.zid"), "ID TYPE NUMBER DELIM ,\nWORD TYPE TEXT\n");
  // The same transfer on the new cluster, defined as the main job defines it.
  for (auto [name, file, kind] :
       {std::tuple{"NatIn", "in.txt", "SOURCE"}, std::tuple{"NatOut", "native.out", "DESTINATION"}})
    Adm({"new", "qtwadm.odx", "Link\\Flatrec", std::string("Name=") + name,
         "Database=" + path(file), "ZID=@" + path("rows.zid"), std::string("Linktype=") + kind,
         "PropNameList:textlist=Database,ZID,Linktype", "PropTokenList:numberlist=65538,15,16"});
  Adm({"new", "qtwadm.odx", "Activity\\Direct Transfer", "Name=Native", "SrcLink=NatIn",
       "DestLink=NatOut", "OneTime:number=1"});

  // The Release 1 Administrator: its links keep their properties in items that the new
  // link form declares, as the migration copies only those.
  const std::string templ = path("release1.otm");
  twtest::ProcessResult r =
      twtest::RunProgram({build_ + "plexadm", "build-template", TW_RELEASE1_JSON, templ},
                         twtest::InheritedEnv(), inst_.path());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  Adm({"create", "release1.odx", "--template", templ});
  for (auto [name, file, kind] : {std::tuple{"MigIn", "in.txt", "SOURCE"},
                                  std::tuple{"MigOut", "migrated.out", "DESTINATION"}})
    Adm({"new", "release1.odx", "Link\\Flatrec", std::string("Name=") + name,
         "Database=" + path(file), "Userid=@" + path("rows.zid"), std::string("Password=") + kind,
         "PropNameList:textlist=Database,Userid,Password", "PropTokenList:numberlist=65538,15,16"});
  Adm({"new", "release1.odx", "Activity\\Direct Transfer", "Name=Migrated", "SrcLink=MigIn",
       "DestLink=MigOut", "OneTime:number=1", "MapName=0"});
  std::string notes;
  out.clear();
  ASSERT_EQ(tw::install::SetupMigrateRelease1(ctx_, out, notes), 0u) << out << notes;
  EXPECT_EQ(notes, "");

  Twmain server(inst_.path());
  ASSERT_TRUE(Within(kWaitMs, [&] { return Count(ActivityLog(), "\"FinishTime\"") >= 2; }))
      << server.Out() << server.Err() << ActivityLog();
  server.Type("D\n");
  EXPECT_EQ(server.Wait(kWaitMs), 0) << server.Err();
  std::string console = server.Out();
  EXPECT_TRUE(Has(console, "Activity 'Migrated' completed successfully.")) << console;
  EXPECT_TRUE(Has(console, "Activity 'Native' completed successfully.")) << console;
  std::string native = twtest::ReadFile(path("native.out"));
  EXPECT_TRUE(Has(native, "gamma delta")) << native;
  EXPECT_EQ(twtest::ReadFile(path("migrated.out")), native);
}

}  // namespace
