// Reading the server map.
#include "servermap.h"

#include <libpq-fe.h>

#include <fstream>

#include "paths.h"
#include "plexapi.h"
#include "session.h"

namespace plexa {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

// Why conninfo cannot be used ("" when it can).
std::string ConnInfoFault(const std::string& conninfo) {
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(conninfo.c_str(), &error);
  if (options == nullptr) {
    std::string why = error != nullptr ? error : "not a libpq connection string";
    PQfreemem(error);
    while (!why.empty() && why.back() == '\n') why.pop_back();
    return why;
  }
  std::string why;
  for (PQconninfoOption* o = options; o->keyword != nullptr; ++o)
    if (std::string_view(o->keyword) == "password" && o->val != nullptr && *o->val != '\0')
      why = "a password belongs in libpq's password file, not in the map";
  PQconninfoFree(options);
  return why;
}

}  // namespace

uint32_t ReadServerMap(std::string_view root, std::vector<MappedServer>& out) {
  out.clear();
  const std::string file = std::string(root) + std::string(kServerMapFile);
  std::ifstream in(file);
  if (!in) return 0;
  std::vector<MappedServer> servers;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    std::string_view text = Trim(line);
    if (text.empty() || text.front() == '#') continue;
    size_t gap = text.find_first_of(" \t");
    std::string_view name = text.substr(0, gap);
    std::string_view rest =
        gap == std::string_view::npos ? std::string_view() : Trim(text.substr(gap));
    auto fault = [&](const std::string& why) {
      return Fail(GVERR_FILE, file + " line " + std::to_string(number) + ": " + why);
    };
    if (rest.empty()) return fault("\"" + std::string(name) + "\" has no connection string");
    if (name.find('@') != std::string_view::npos || name.find("!!") != std::string_view::npos ||
        name.size() >= GV_SERVER_NAME_SIZE)
      return fault("\"" + std::string(name) + "\" is not a server name");
    if (IsLocalServer(name)) return fault("the local server is always a directory");
    MappedServer s{std::string(name), std::string(rest)};
    if (std::string why = ConnInfoFault(s.conninfo); !why.empty()) return fault(why);
    for (const MappedServer& other : servers)
      if (SameName(other.name, s.name)) return fault("\"" + s.name + "\" is mapped twice");
    servers.push_back(std::move(s));
  }
  out = std::move(servers);
  return 0;
}

uint32_t MappedConnection(std::string_view root, std::string_view server, std::string& conninfo) {
  conninfo.clear();
  std::vector<MappedServer> servers;
  if (uint32_t st = ReadServerMap(root, servers)) return st;
  std::string_view bare = StripPort(server);
  for (const MappedServer& s : servers)
    if (SameName(s.name, bare)) conninfo = s.conninfo;
  return 0;
}

}  // namespace plexa
