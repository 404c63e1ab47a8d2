// The main job's transfer done by a script: an installation laid out as the main job lays
// it out (the sample people file, links PeopleIn and PeopleOut, the direct transfer
// CopyPeople), served by its control store. taskrun runs CopyPeople; qsrun then runs a script
// that opens the two links by name and fetches and inserts every record, and its output must
// be the main job's; the same text as a scripted agent runs through GVAgentExecute inside a
// current activity, which then answers the status the script logged.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "flowcore.h"
#include "platform.h"
#include "plexapi.h"
#include "qshost.h"
#include "taskrun_install.h"
#include "twengine.h"

namespace {

using taskrun_install::Installation;
using taskrun_install::Slurp;

constexpr char kCopyScript[] =
    "' The people file copied as the direct transfer copies it.\n"
    "Set act = New TWActivity(0, \"\")\n"
    "Set src = New TWConnect(0, \"PeopleIn\")\n"
    "Set dst = New TWConnect(0, \"PeopleOut\")\n"
    "src.Connect\n"
    "dst.Connect\n"
    "Set rows = New TWFieldList(100, TWFIELDF_TRUNC_PREC)\n"
    "src.Execute \"\", rows, described\n"
    "dst.Action TWACTION_TRUNCATE\n"
    "src.Fetch rows, 1, 100, fetched\n"
    "dst.Insert rows, 1, fetched, inserted\n"
    "Print inserted\n"
    "dst.Disconnect\n"
    "src.Disconnect\n"
    "act.Log TWFAIL_DUPLICATE\n";

class ScriptRoad : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(inst_.Make({"flatrec.twx", "qsrun", "scriptbind.so", "libqshost.so"}), "");
    dir_ = inst_.dir();
    const std::string samples = std::string(TW_SOURCE_DIR) + "/samples/";
    for (const auto& [suffix, file, kind] :
         {std::tuple<std::string, std::string, std::string>{"In", samples + "people.txt", "SOURCE"},
          {"Out", dir_ + "people.out", "DESTINATION"}})
      ASSERT_EQ(inst_.New("Link\\Flatrec", {"Name=People" + suffix, "Database=" + file,
                                            "ZID=@" + samples + "people.zid", "Linktype=" + kind,
                                            "PropNameList:textlist=Database,ZID,Linktype",
                                            "PropTokenList:numberlist=65538,15,16"}),
                "");
    ASSERT_EQ(inst_.New("Activity\\Direct Transfer", {"Name=CopyPeople", "SrcLink=PeopleIn",
                                                      "DestLink=PeopleOut", "OneTime:number=1"}),
              "");
    std::ofstream(dir_ + "copy.qs", std::ios::binary) << kCopyScript;
    std::ofstream(dir_ + "broken.qs", std::ios::binary)
        << "Set act = New TWActivity(0, \"\")\nSet f = New TWField(TWTYPE_INT, 1)\nf.Copy act\n";
    ASSERT_TRUE(inst_.Adm({"agent", "script", "qtwadm.odx", "CopyByScript", dir_ + "copy.qs"}));
    ASSERT_TRUE(inst_.Adm({"agent", "script", "qtwadm.odx", "Broken", dir_ + "broken.qs"}));
    ASSERT_EQ(inst_.Serve(), "");
    // As the installer records the extension.
    ASSERT_EQ(TWRegistrySetString(qshost::kRegistryKey, qshost::kRegistryValue,
                                  (dir_ + "scriptbind.so").c_str()),
              TWSUCCESS);
  }

  Installation inst_{"script_road", "SCRIPTROAD", "SCRIPT_ROAD_KEEP"};
  std::string dir_;
};

TEST_F(ScriptRoad, ScriptCopiesAsTheMainJob) {
  ASSERT_EQ(inst_.RunActivity("CopyPeople").exitCode, 0);
  const std::string mainJob = Slurp(dir_ + "people.out");
  ASSERT_FALSE(mainJob.empty());
  std::filesystem::remove(dir_ + "people.out");

  ASSERT_EQ(taskrun_install::Run({dir_ + "qsrun", dir_ + "copy.qs"}, dir_, dir_ + "qsrun.txt"), 0);
  EXPECT_EQ(Slurp(dir_ + "qsrun.txt"), "5\n");
  EXPECT_EQ(Slurp(dir_ + "people.out"), mainJob);
  std::filesystem::remove(dir_ + "people.out");

  // The scripted agent inside this process's current activity.
  ASSERT_EQ(TWSystemInit(), TWSUCCESS);
  ASSERT_EQ(TWActivityAlloc(0, nullptr, 0), TWSUCCESS);
  ASSERT_EQ(_GVInit(GV_VERSION, 0, 0, 0), 0u);
  GVDB db = 0;
  ASSERT_EQ(GVDatabaseOpen("", "qtwadm.odx", 0, &db), 0u);
  const GVNOTEID agent = GVAgentLocateByName(db, "CopyByScript");
  ASSERT_NE(agent, 0u);
  EXPECT_EQ(GVAgentExecute(db, agent, 0, 0, 0), 0u);
  EXPECT_EQ(TWActivityGetStatus(), TWFAIL_DUPLICATE);
  EXPECT_EQ(Slurp(dir_ + "people.out"), mainJob);
  // The script worked on this activity and left it current.
  EXPECT_EQ(TWActivityAlloc(0, nullptr, 0), TWFAIL_UNAVAILABLE);

  // A script that fails makes the agent fail with its status.
  const GVNOTEID broken = GVAgentLocateByName(db, "Broken");
  ASSERT_NE(broken, 0u);
  EXPECT_EQ(GVAgentExecute(db, broken, 0, 0, 0), GVERR_AGENT_SCRIPT);
  uint32_t status = 0, info = 0;
  char text[GV_ERROR_TEXT_SIZE] = {};
  GVErrorFetch(&status, &info, text);
  EXPECT_EQ(info, TWFAIL_TYPE_MISMATCH) << text;

  GVDatabaseClose(db, 0);
  GVTerm(0);
  EXPECT_EQ(TWActivityFree(), TWSUCCESS);
  TWSystemTerm();
}

}  // namespace
