// The Ordex road with real processes: records go from a text file into a document database
// whose form the leg creates, and back out to a text file; and an imported database with a
// three-level response hierarchy and attachments is copied into another through two Ordex
// links of one activity. Each leg is a direct transfer that twmain schedules and taskrun runs
// through ordex.twx.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ordex_jsonl.h"
#include "road_fixture.h"

namespace {

using road::Has;

using ordex_test::Topic;
using ordex_test::Unid;
using road::kPeople;

constexpr char kThreadsDesign[] = R"({"title": "Threads",
 "forms": [{"name": "Topic", "fields": [{"name": "Subject", "type": "text"}]}],
 "views": [{"name": "Threads", "responses": true, "selection": "SELECT Form = 'Topic'",
            "columns": [{"title": "Subject", "formula": "Subject", "sort": "ascending"}]}]})";

class OrdexRoad : public road::RoadFixture {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(RoadFixture::SetUp());
    env_ = {"PLEXA_ROOT=" + inst_.path() + "ordex"};
  }
  void Link(const std::string& name, const std::string& library, std::vector<std::string> items) {
    AddLink(library == "ordex" ? "Link\\Ordex" : "Link\\Flatrec", name, std::move(items));
  }
  std::vector<std::string> env_;
};

TEST_F(OrdexRoad, TextThroughOrdexAndBackAndAHierarchyCopied) {
  MakeDatabases();
  ASSERT_NO_FATAL_FAILURE(InstallPlugin("flatrec.twx"));
  ASSERT_NO_FATAL_FAILURE(InstallPlugin("ordex.twx"));
  PeopleLinks();
  twtest::WriteFile(inst_ / "threads.json", kThreadsDesign);
  twtest::WriteFile(inst_ / "threads.jsonl", Topic(1, "A", 0, "QUFB") + Topic(2, "A1", 1) +
                                                 Topic(3, "A1a", 2) + Topic(4, "B", 0, "QkJC"));
  Adm({"build-template", path("threads.json"), path("threads.otm")});
  Adm({"create", "threads.odb", "--template", path("threads.otm")});
  {
    std::vector<std::string> argv = {inst_ / "plexadm", "import", "threads.odb"};
    std::vector<std::string> env = twtest::InheritedEnv();
    env.push_back("PLEXA_ROOT=" + inst_.path() + "ordex");
    // plexadm reads the lines from standard input: through the shell's redirection.
    twtest::ProcessResult r = twtest::RunProgram(
        {"/bin/sh", "-c", "\"$0\" import threads.odb < threads.jsonl", inst_ / "plexadm"}, env,
        inst_.path());
    ASSERT_EQ(r.exitCode, 0) << r.err;
  }
  Adm({"create", "copy.odb", "--template", path("threads.otm")});

  Link("People", "ordex",
       {"Database=people.odb", "CreateDatabase:number=1",
        "PropNameList:textlist=Database,CreateDatabase", "PropTokenList:numberlist=65538,7"});
  Link("ThreadsSrc", "ordex",
       {"Database=threads.odb", "View=Threads", "CopyHierarchy:number=1", "CopyFile:number=1",
        "LoadUnid:number=1", "PropNameList:textlist=Database,View,CopyHierarchy,CopyFile,LoadUnid",
        "PropTokenList:numberlist=65538,10,21,22,17"});
  Link("ThreadsCopy", "ordex",
       {"Database=copy.odb", "PropNameList:textlist=Database", "PropTokenList:numberlist=65538"});

  const std::vector<std::vector<std::string>> legs = {
      {"TextToOrdex", "TextIn", "People", "DestMetadata=People", "Create:number=1"},
      {"OrdexToText", "People", "TextOut", "SrcMetadata=People", "Overwrite:number=1"},
      {"CopyThreads", "ThreadsSrc", "ThreadsCopy", "SrcMetadata=Topic", "DestMetadata=Topic"},
  };
  const std::string out = RunLegs(legs, env_);
  for (const char* name : {"TextToOrdex", "OrdexToText", "CopyThreads"})
    EXPECT_TRUE(Has(out, "Activity '" + std::string(name) + "' completed successfully."))
        << out << ActivityLog();
  EXPECT_EQ(twtest::ReadFile(path("out.txt")), kPeople);

  // The copy keeps the structure, the files and the top documents' identities.
  const std::string copy = Adm({"export", "copy.odb", "--form", "Topic"});
  EXPECT_EQ(road::Count(copy, "\"Subject\""), 4u) << copy;
  EXPECT_TRUE(Has(copy, Unid(1)) && Has(copy, Unid(4))) << copy;
  EXPECT_TRUE(Has(copy, "\"QUFB\"") && Has(copy, "\"QkJC\"")) << copy;
  EXPECT_EQ(road::Count(copy, "\"parent\":null"), 2u) << copy;
}

// NaN and infinities read from text never become document numbers: each such record is
// refused as out of range and no document holds it.
TEST_F(OrdexRoad, NumbersBeyondEveryRangeAreRefusedOnTheirWayToDocuments) {
  MakeDatabases();
  ASSERT_NO_FATAL_FAILURE(InstallPlugin("flatrec.twx"));
  ASSERT_NO_FATAL_FAILURE(InstallPlugin("ordex.twx"));
  BeyondRangeLinks();
  Link("Values", "ordex",
       {"Database=values.odb", "CreateDatabase:number=1",
        "PropNameList:textlist=Database,CreateDatabase", "PropTokenList:numberlist=65538,7"});
  ExpectBeyondRangeRefused("Values", {"DestMetadata=KV", "Create:number=1"}, env_);
  const std::string docs = Adm({"export", "values.odb", "--form", "KV"});
  EXPECT_EQ(road::Count(docs, "\"name\":\"V\""), 1u) << docs;
  EXPECT_TRUE(Has(docs, "2.5")) << docs;
}

}  // namespace
