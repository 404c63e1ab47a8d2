// Server entry points: whether a server exists, names with ports, and the list of servers.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "paths.h"
#include "pg_store.h"
#include "plexapi.h"
#include "servermap.h"
#include "session.h"

namespace plexa {
namespace {

struct ServerWalk {
  bool active = false;
  std::vector<std::string> names;
  size_t pos = 0;
};
thread_local ServerWalk t_servers;

}  // namespace
}  // namespace plexa

extern "C" {

GV_API uint32_t GVServerGetProperty(const char* server, uint32_t property, uint32_t* answer) {
  return plexa::ApiSession([&]() -> uint32_t {
    if (property != GVSRVPROP_RESPONDS || answer == nullptr) return GVERR_INVALID_ARGUMENT;
    std::string_view srv = server != nullptr ? std::string_view(server) : std::string_view();
    if (srv.size() >= GV_SERVER_NAME_SIZE) return GVERR_INVALID_ARGUMENT;
    std::string conninfo;
    if (!plexa::IsLocalServer(srv))
      if (uint32_t s = plexa::MappedConnection(plexa::DataRoot(), srv, conninfo)) return s;
    *answer = !conninfo.empty() ? (plexa::PgResponds(conninfo) ? 1 : 0)
              : plexa::IsDirectory(plexa::ServerDir(plexa::DataRoot(), srv)) ? 1
                                                                             : 0;
    return 0;
  });
}

GV_API uint32_t GVServerSetPort(const char* server, const char* port, char* result) {
  return plexa::ApiSession([&]() -> uint32_t {
    if (result == nullptr) return GVERR_INVALID_ARGUMENT;
    std::string name = server != nullptr ? server : "";
    if (port != nullptr && *port != '\0') {
      name = std::string(plexa::StripPort(name));
      name += '@';
      name += port;
    }
    if (name.size() >= GV_SERVER_NAME_SIZE) return GVERR_BUFFER_TOO_SMALL;
    std::memcpy(result, name.c_str(), name.size() + 1);
    return 0;
  });
}

GV_API uint32_t GVServerList(uint32_t position, char* name) {
  return plexa::ApiSession([&]() -> uint32_t {
    if (name == nullptr) return GVERR_INVALID_ARGUMENT;
    if (position != GV_LIST_FIRST && position != GV_LIST_NEXT) return GVERR_INVALID_ARGUMENT;
    plexa::ServerWalk& w = plexa::t_servers;
    if (position == GV_LIST_FIRST || !w.active) {
      namespace fs = std::filesystem;
      std::vector<std::string> names;
      std::error_code ec;
      for (fs::directory_iterator it(plexa::DataRoot() + "servers", ec), end; !ec && it != end;
           it.increment(ec)) {
        std::error_code de;
        if (!it->is_directory(de)) continue;
        std::string decoded = plexa::DecodeServerName(it->path().filename().string());
        if (!decoded.empty() && decoded.size() < GV_SERVER_NAME_SIZE) names.push_back(decoded);
      }
      std::vector<plexa::MappedServer> mapped;
      if (uint32_t s = plexa::ReadServerMap(plexa::DataRoot(), mapped)) return s;
      for (const plexa::MappedServer& m : mapped)
        if (std::find(names.begin(), names.end(), m.name) == names.end()) names.push_back(m.name);
      std::sort(names.begin(), names.end());
      w.names = std::move(names);
      w.pos = 0;
      w.active = true;
    }
    if (w.pos >= w.names.size()) {
      w.active = false;
      return GVERR_NO_MORE;
    }
    const std::string& n = w.names[w.pos++];
    std::memcpy(name, n.c_str(), n.size() + 1);
    return 0;
  });
}

}  // extern "C"
