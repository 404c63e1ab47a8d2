// script.twx: the script activity, which runs an agent of a document database (AgentName of
// AgentDatabase on AgentServer) through the Plexa API inside the current activity.
#include <string>

#include "flowcore.h"
#include "plexa_session.h"
#include "plexapi.h"
#include "script_messages.h"
#include "twx.h"
#include "twx_plugin.h"

extern "C" int script_load_string(uint32_t id, char* buffer, int size);

namespace tw::script {
namespace {

enum Token : uint32_t { kAgentName = 2, kAgentServer = 3, kAgentDatabase = 4 };

constexpr TWXPropertyDef kProperties[] = {
    TWX_PROPERTY(kAgentName, TWTYPE_TEXT, "AgentName"),
    TWX_PROPERTY(kAgentServer, TWTYPE_TEXT, "AgentServer"),
    TWX_PROPERTY(kAgentDatabase, TWTYPE_TEXT, "AgentDatabase"),
    TWX_PROPERTY_END,
};

constexpr TWXIdentity kIdentity = tw::twx::ActivityIdentity(kProperties, TWSTREAMFMT_QMBCS);

// Logs the Plexa failure after the product's name; the activity then ends as an external
// error.
uint32_t LogPlexaError(uint32_t plexa) {
  char prefix[257] = "";
  script_load_string(SCRIPT_PLEXA_PREFIX, prefix, sizeof prefix);
  activity::LogPlexaText(std::string(prefix) + activity::PlexaErrorText(plexa), plexa);
  return TWFAIL_EXTERNAL;
}

// Runs the agent in the open database db.
uint32_t RunAgent(GVDB db, const std::string& name) {
  GVNOTEID agent = GVAgentLocateByName(db, name.c_str());
  // Agents are often stored with their name in parentheses (hidden from menus).
  if (agent == 0) agent = GVAgentLocateByName(db, ("(" + name + ")").c_str());
  if (agent == 0)
    return TWActivityLogEx(TWFAIL_PROPERTY_VALUE, kAgentName, 0, 0, nullptr, nullptr, nullptr);
  if (uint32_t plexa = GVAgentExecute(db, agent, 0, 0, 0)) return LogPlexaError(plexa);
  // A scripted agent reports its failure through the activity.
  return TWActivityGetStatus();
}

uint32_t RunScript() {
  std::string database, name;
  if (uint32_t status = activity::RequiredText(kAgentDatabase, &database)) return status;
  if (uint32_t status = activity::RequiredText(kAgentName, &name)) return status;
  const std::string server = activity::OptionalText(kAgentServer);
  activity::PlexaSession session;
  if (session.status() != 0) return LogPlexaError(session.status());
  GVDB db = 0;
  if (uint32_t plexa = GVDatabaseOpen(server.c_str(), database.c_str(), 0, &db))
    return LogPlexaError(plexa);
  const uint32_t status = RunAgent(db, name);
  // Closing commits what the agent stored in bulk: a failure there loses its writes.
  const uint32_t closed = GVDatabaseClose(db, 0);
  if (status == TWSUCCESS && closed != 0) return LogPlexaError(closed);
  return status;
}

uint32_t Launch() {
  const uint32_t status = RunScript();
  if (status != TWSUCCESS) TWActivityLog(status);
  return status;
}

}  // namespace
}  // namespace tw::script

TWX_ACTIVITY(tw::script::kIdentity, tw::script::Launch)
