// Where servers and databases live: the data root, a server name's directory, and database
// names ("server!!file", relative or absolute files) turned into file paths.
#ifndef TW_OUTSIDE_PLEXAPI_PATHS_H_
#define TW_OUTSIDE_PLEXAPI_PATHS_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace plexa {

// The data root a new session uses: PLEXA_ROOT, else "ordex/" beside the executable; always
// ending in "/".
std::string FindDataRoot();

// The machine's host name ("" when unknown).
std::string HostName();

// A server name without its "@port" suffix.
std::string_view StripPort(std::string_view server);
// True for the local server: empty (or null), only "@port", or the host name (ASCII case
// ignored).
bool IsLocalServer(std::string_view server);
// The directory name of a named server: lower-cased, every byte outside [a-z0-9._-] (and
// the dots of "." and "..") written %XX. DecodeServerName reverses it.
std::string EncodeServerName(std::string_view server);
std::string DecodeServerName(std::string_view encoded);
// The directory of a server under root, ending in "/": root + "local/" or
// root + "servers/" + encoded name + "/".
std::string ServerDir(std::string_view root, std::string_view server);

// A database named by a server and a file.
struct DbPath {
  std::string server;  // as named, port kept ("" for the local server)
  std::string file;    // relative to the server's directory (or absolute), "/"-separated
  std::string dir;     // the server's directory, ending in "/"
  std::string path;    // the file's path
  std::string pg;      // the server's libpq connection string when PostgreSQL holds it
  // "server!!file", or the file alone for the local server.
  std::string Name() const;
};
// Resolves a database name under root: a "server!!file" in file wins over server; "\" is
// read as "/"; an absolute file needs the local server. Empty file, ".." components, an
// absolute file with a named server, or a name too long: GVERR_INVALID_ARGUMENT. A named
// server that the server map names is held in PostgreSQL (pg set); any other named server
// whose directory does not exist: GVERR_NO_SERVER.
[[nodiscard]] uint32_t ResolveDatabase(std::string_view root, const char* server, const char* file,
                                       DbPath& out);

// True when path names an existing directory.
bool IsDirectory(const std::string& path);
// Creates every missing directory of path; false when that fails.
bool MakeDirectories(const std::string& path);

}  // namespace plexa

#endif  // TW_OUTSIDE_PLEXAPI_PATHS_H_
