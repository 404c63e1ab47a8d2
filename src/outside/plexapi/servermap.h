// The server map: the file "servers.map" in the data root names the servers whose databases
// PostgreSQL holds, one a line: the server's name, then a libpq connection string (the rest
// of the line). Blank lines and lines starting with "#" are skipped. A password never goes
// in the map: libpq reads it from its password file (PGPASSFILE, ~/.pgpass) or the
// environment. Every server the map does not name is a directory under the data root.
#ifndef TW_OUTSIDE_PLEXAPI_SERVERMAP_H_
#define TW_OUTSIDE_PLEXAPI_SERVERMAP_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace plexa {

inline constexpr std::string_view kServerMapFile = "servers.map";

struct MappedServer {
  std::string name;      // as the map spells it
  std::string conninfo;  // the libpq connection string
};

// Reads the map of the data root root (none: an empty map). A line without a connection
// string, a connection string libpq cannot read, or one that holds a password:
// GVERR_FILE naming the line; the map is then not used at all.
[[nodiscard]] uint32_t ReadServerMap(std::string_view root, std::vector<MappedServer>& out);
// The connection string of server ("@port" ignored, ASCII case ignored): empty when the map
// does not name it.
[[nodiscard]] uint32_t MappedConnection(std::string_view root, std::string_view server,
                                        std::string& conninfo);

}  // namespace plexa

#endif  // TW_OUTSIDE_PLEXAPI_SERVERMAP_H_
