// Data root, server directories and database file names.
#include "paths.h"

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "plexapi.h"
#include "servermap.h"

namespace plexa {
namespace {

bool IsAsciiEqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string FindDataRoot() {
  std::string root;
  if (const char* env = std::getenv("PLEXA_ROOT"); env != nullptr && *env != '\0') {
    root = env;
  } else {
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n > 0) {
      std::string self(exe, static_cast<size_t>(n));
      size_t slash = self.rfind('/');
      root = (slash == std::string::npos ? std::string(".") : self.substr(0, slash)) + "/ordex";
    } else {
      root = "ordex";
    }
  }
  if (root.back() != '/') root += '/';
  return root;
}

std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

std::string_view StripPort(std::string_view server) {
  size_t at = server.find('@');
  return at == std::string_view::npos ? server : server.substr(0, at);
}

bool IsLocalServer(std::string_view server) {
  std::string_view bare = StripPort(server);
  if (bare.empty()) return true;
  std::string host = HostName();
  return !host.empty() && IsAsciiEqualNoCase(bare, host);
}

std::string EncodeServerName(std::string_view server) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string_view bare = StripPort(server);
  bool dotsOnly = bare.find_first_not_of('.') == std::string_view::npos;
  std::string out;
  for (char ch : bare) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c + 32);
    bool plain = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
                 (c == '.' && !dotsOnly);
    if (plain) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::string DecodeServerName(std::string_view encoded) {
  std::string out;
  for (size_t i = 0; i < encoded.size(); ++i) {
    if (encoded[i] == '%' && i + 2 < encoded.size()) {
      int hi = HexValue(encoded[i + 1]), lo = HexValue(encoded[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
        continue;
      }
    }
    out += encoded[i];
  }
  return out;
}

std::string ServerDir(std::string_view root, std::string_view server) {
  std::string dir(root);
  if (IsLocalServer(server)) return dir + "local/";
  return dir + "servers/" + EncodeServerName(server) + "/";
}

std::string DbPath::Name() const {
  if (IsLocalServer(server)) return file;
  return server + "!!" + file;
}

uint32_t ResolveDatabase(std::string_view root, const char* server, const char* file, DbPath& out) {
  if (file == nullptr) return GVERR_INVALID_ARGUMENT;
  std::string_view name(file);
  std::string_view srv = server != nullptr ? std::string_view(server) : std::string_view();
  if (size_t bang = name.find("!!"); bang != std::string_view::npos) {
    srv = name.substr(0, bang);
    name = name.substr(bang + 2);
  }
  if (name.empty() || name.size() >= GV_PATH_SIZE || srv.size() >= GV_SERVER_NAME_SIZE)
    return GVERR_INVALID_ARGUMENT;
  std::string f(name);
  for (char& c : f)
    if (c == '\\') c = '/';
  if (f.find('\0') != std::string::npos) return GVERR_INVALID_ARGUMENT;
  bool absolute = f.front() == '/';
  // Every component must be a real name: no "..", no empty trailing component.
  size_t start = absolute ? 1 : 0;
  while (start <= f.size()) {
    size_t end = f.find('/', start);
    if (end == std::string::npos) end = f.size();
    std::string_view part(f.data() + start, end - start);
    if (part == "..") return GVERR_INVALID_ARGUMENT;
    if (end == f.size() && (part.empty() || part == ".")) return GVERR_INVALID_ARGUMENT;
    start = end + 1;
  }
  bool local = IsLocalServer(srv);
  if (absolute && !local) return GVERR_INVALID_ARGUMENT;
  DbPath p;
  p.server = local ? std::string() : std::string(srv);
  p.file = f;
  p.dir = ServerDir(root, srv);
  if (!local)
    if (uint32_t st = MappedConnection(root, srv, p.pg)) return st;
  if (!local && p.pg.empty() && !IsDirectory(p.dir)) return GVERR_NO_SERVER;
  p.path = absolute ? f : p.dir + f;
  out = std::move(p);
  return 0;
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeDirectories(const std::string& path) {
  if (path.empty()) return false;
  std::string cur;
  size_t i = 0;
  while (i <= path.size()) {
    size_t next = path.find('/', i);
    if (next == std::string::npos) next = path.size();
    cur = path.substr(0, next);
    if (!cur.empty() && !IsDirectory(cur)) {
      // The data root and its servers' directories are private to the user who makes them.
      if (mkdir(cur.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    i = next + 1;
  }
  return IsDirectory(path.back() == '/' ? path.substr(0, path.size() - 1) : path);
}

}  // namespace plexa
