// tds5d: a TDS 5.0 server over SQLite for the tests of the Corvex connector and FreeTDS tools.
//
// Usage: tds5d --data DIR --listen HOST:PORT [--port-file FILE] [--user NAME:PASSWORD]...
//              [--exit-with-parent]
// Each database is the SQLite file DIR/NAME.db ("master" is made at start and lists the
// others); every text a client sends is appended to DIR/tds5d.log as one line "KIND<TAB>TEXT"
// (newlines, tabs, backslashes and NULs escaped). A connection is served by a thread of its own.
// The client's character set is not in FreeTDS's login: the server name the client asked for
// names it by its last "_" part (corvex_utf8 -> utf8, corvex_latin1 -> iso_1, x_koi8 -> koi8);
// texts are kept as the client sends them.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tds5d_session.h"

namespace {

int g_stopPipe[2] = {-1, -1};

void OnSignal(int) {
  char c = 0;
  if (::write(g_stopPipe[1], &c, 1) < 0) {
  }
}

int Usage() {
  std::fprintf(stderr,
               "usage: tds5d --data DIR --listen HOST:PORT [--port-file FILE] "
               "[--user NAME:PASSWORD]... [--exit-with-parent]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  tds5d::Server server;
  std::string listen, portFile;
  bool withParent = false;
  std::vector<std::pair<std::string, std::string>> users;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--exit-with-parent") {
      withParent = true;
      continue;
    }
    if (i + 1 >= argc) return Usage();
    std::string v = argv[++i];
    if (a == "--data")
      server.dataDir = v;
    else if (a == "--listen")
      listen = v;
    else if (a == "--port-file")
      portFile = v;
    else if (a == "--user") {
      size_t colon = v.find(':');
      if (colon == std::string::npos) return Usage();
      users.emplace_back(v.substr(0, colon), v.substr(colon + 1));
    } else {
      return Usage();
    }
  }
  if (server.dataDir.empty() || listen.empty()) return Usage();
  if (users.empty()) users.emplace_back("sa", "tds5d");
  for (auto& [name, password] : users) server.logins[name] = password;
  if (withParent) {
    // A test that dies must not leave its server behind.
    pid_t parent = ::getppid();
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) return 1;
  }

  std::string error;
  if (!server.Init(error)) {
    std::fprintf(stderr, "tds5d: %s\n", error.c_str());
    return 1;
  }

  size_t colon = listen.rfind(':');
  if (colon == std::string::npos) return Usage();
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(std::atoi(listen.c_str() + colon + 1)));
  if (::inet_pton(AF_INET, listen.substr(0, colon).c_str(), &addr.sin_addr) != 1) return Usage();
  int lfd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  ::setsockopt(lfd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (lfd < 0 || ::bind(lfd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(lfd, 64) != 0) {
    std::fprintf(stderr, "tds5d: cannot listen on %s: %s\n", listen.c_str(), std::strerror(errno));
    return 1;
  }
  socklen_t len = sizeof addr;
  ::getsockname(lfd, reinterpret_cast<sockaddr*>(&addr), &len);
  if (!portFile.empty()) {
    // Written whole and then renamed: a waiting test never reads half a number.
    std::string tmp = portFile + ".tmp";
    FILE* f = std::fopen(tmp.c_str(), "w");
    if (!f || std::fprintf(f, "%d\n", ntohs(addr.sin_port)) < 0 || std::fclose(f) != 0 ||
        std::rename(tmp.c_str(), portFile.c_str()) != 0) {
      std::fprintf(stderr, "tds5d: cannot write %s\n", portFile.c_str());
      return 1;
    }
  }

  if (::pipe2(g_stopPipe, O_CLOEXEC) != 0) return 1;
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  ::sigaction(SIGTERM, &sa, nullptr);
  ::sigaction(SIGINT, &sa, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  for (;;) {
    pollfd fds[2] = {{lfd, POLLIN, 0}, {g_stopPipe[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[1].revents) break;
    if (!(fds[0].revents & POLLIN)) continue;
    int fd = ::accept4(lfd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::thread([&server, fd] {
      tds5d::Session session(server, fd);
      session.Run();
      ::close(fd);
    }).detach();
  }
  // Sessions still running hold SQLite handles: every change is committed statement by
  // statement, so ending the process here loses nothing.
  ::_exit(0);
}
