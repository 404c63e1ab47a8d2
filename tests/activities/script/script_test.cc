// The script activity through the engine: an agent of a document database found by its name
// or by its name in parentheses and run, and the failures it reports.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "activity_runner.h"

namespace {

using acttest::Adm;
using acttest::Property;
using acttest::Text;

constexpr uint32_t kAgentName = 2;
constexpr uint32_t kAgentServer = 3;
constexpr uint32_t kAgentDatabase = 4;

constexpr char kTasksDesign[] = R"json({"title": "Tasks",
 "forms": [{"name": "Task", "fields": [{"name": "Name", "type": "text"},
                                       {"name": "Done", "type": "number"}]}],
 "agents": [{"name": "(Close)", "kind": "acts", "selection": "SELECT Form = 'Task'",
             "action": "FIELD Done := Done + 1"}]})json";

TEST(ScriptIdentityTest, IdentifiesWithItsPropertyTable) {
  acttest::ExpectIdentity("script.twx", TWSTREAMFMT_QMBCS,
                          {{2, TWTYPE_TEXT, "AgentName"},
                           {3, TWTYPE_TEXT, "AgentServer"},
                           {4, TWTYPE_TEXT, "AgentDatabase"}});
}

class ScriptTest : public acttest::ActivityRunner {
 protected:
  ScriptTest() : ActivityRunner({"script.twx"}) {}

  uint32_t RunScript(const std::vector<Property>& properties) {
    name_ = "Script" + std::to_string(++runs_);
    AddActivity(name_, "script", properties);
    return Run(name_);
  }
  std::string name_;
  int runs_ = 0;
};

TEST_F(ScriptTest, RunsTheAgentFoundByItsNameOrItsNameInParentheses) {
  const std::string root = acttest::PlexaRoot();
  twtest::WriteFile(root + "tasks.json", kTasksDesign);
  Adm({"build-template", root + "tasks.json", root + "tasks.otm"});
  Adm({"create", "tasks.odx", "--template", root + "tasks.otm"});
  Adm({"new", "tasks.odx", "Task", "Name=one", "Done:number=0"});
  const std::string noValue = "12553 Error: No value supplied for required property ";
  struct Case {
    std::vector<Property> properties;
    uint32_t status;
    std::string log;  // its start; "" for none
    int done;         // the task's Done after the run
  };
  const Case cases[] = {
      {{Text("AgentName", kAgentName, "Close"), Text("AgentDatabase", kAgentDatabase, "tasks.odx")},
       TWSUCCESS,
       "",
       1},
      {{Text("AgentName", kAgentName, "(Close)"), Text("AgentServer", kAgentServer, ""),
        Text("AgentDatabase", kAgentDatabase, "tasks.odx")},
       TWSUCCESS,
       "",
       2},
      {{Text("AgentName", kAgentName, "Open"), Text("AgentDatabase", kAgentDatabase, "tasks.odx")},
       TWFAIL_PROPERTY_VALUE,
       "12556 Error: Invalid property value for property 'AgentName'",
       2},
      {{Text("AgentName", kAgentName, "Close"), Text("AgentDatabase", kAgentDatabase, "none.odx")},
       TWFAIL_EXTERNAL,
       "12325 Error: Quendal Ordex: ",
       2},
      {{Text("AgentName", kAgentName, "Close")},
       TWFAIL_MISSING_PROPERTY,
       noValue + "'AgentDatabase'",
       2},
      {{Text("AgentName", kAgentName, ""), Text("AgentDatabase", kAgentDatabase, "tasks.odx")},
       TWFAIL_MISSING_PROPERTY,
       noValue + "'AgentName'",
       2},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RunScript(c.properties), c.status) << name_;
    const std::vector<std::string> log = Log(name_);
    if (c.log.empty()) {
      EXPECT_TRUE(log.empty()) << name_ << ": " << log[0];
    } else {
      ASSERT_EQ(log.size(), 1u) << name_;
      EXPECT_EQ(log[0].substr(0, c.log.size()), c.log) << name_;
    }
    const std::string tasks = Adm({"export", "tasks.odx", "--form", "Task"});
    const std::string done =
        "{\"name\":\"Done\",\"type\":\"number\",\"value\":" + std::to_string(c.done) + ".0}";
    EXPECT_NE(tasks.find(done), std::string::npos) << name_ << ": " << tasks;
  }
}

}  // namespace
