// Named pipes: ownership by lock, message framing and piecewise reads, a server that
// outlives misbehaving clients, the polling server of the SNMP link, round trips between two
// processes, and handles used wrongly.
#include "ipc.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "plat_test_util.h"
#include "platform.h"
#include "rundir.h"
#include "tw/coding.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace std::string_literals;
using Bytes = std::vector<unsigned char>;

// A message {code, length} followed by a pattern that tells its bytes apart.
Bytes message(int32_t code, uint32_t length) {
  Bytes m(std::max<uint32_t>(length, 8));
  tw::put_i32(m.data(), code);
  tw::put_u32(m.data() + 4, length);
  for (size_t i = 8; i < m.size(); ++i) m[i] = static_cast<unsigned char>(i * 7 + code);
  m.resize(length);
  return m;
}

Bytes header(int32_t code, uint32_t length) {
  Bytes h(8);
  tw::put_i32(h.data(), code);
  tw::put_u32(h.data() + 4, length);
  return h;
}

bool write_all(TWIPC* c, const Bytes& b) {
  uint32_t written = 0;
  return TWIPCWrite(c, b.data(), static_cast<uint32_t>(b.size()), &written) != 0 &&
         written == b.size();
}

// Reads one whole message in pieces of at most room bytes; the pieces' sizes go to chunks.
bool read_message(TWIPC* c, uint32_t room, Bytes* out, std::vector<uint32_t>* chunks = nullptr) {
  out->clear();
  int more = 1;
  while (more) {
    size_t at = out->size();
    out->resize(at + room);
    uint32_t got = 0;
    if (!TWIPCRead(c, out->data() + at, room, &got, &more)) return false;
    out->resize(at + got);
    if (chunks != nullptr) chunks->push_back(got);
  }
  return true;
}

// One client exchange: connect, send, read the whole reply, close.
bool exchange(const char* name, const Bytes& request, Bytes* reply) {
  TWIPC* c = TWIPCOpen(name, 0);
  if (c == nullptr) return false;
  bool ok = write_all(c, request) && TWIPCFlush(c) && read_message(c, 1024, reply);
  TWIPCClose(c);
  return ok;
}

// A server in a thread of its own that answers each well-framed message with the same
// bytes and drops connections whose message is not; it ends when its pipe is shut down.
class EchoServer {
 public:
  explicit EchoServer(const char* name) : pipe_(TWIPCCreate(name)) {
    EXPECT_NE(pipe_, nullptr);
    thread_ = std::thread([this] { Serve(); });
  }
  ~EchoServer() { Stop(); }
  void Stop() {
    if (pipe_ == nullptr) return;
    EXPECT_EQ(TWIPCShutdown(pipe_, nullptr), 1);  // wakes the thread waiting for a client
    thread_.join();
    pipe_ = nullptr;
  }
  int served() const { return served_; }
  int refused() const { return refused_; }

 private:
  void Serve() {
    for (;;) {
      TWIPC* conn = TWIPCWaitForConnection(pipe_);
      if (conn == nullptr) return;
      Bytes m;
      if (read_message(conn, 64, &m)) {
        EXPECT_TRUE(write_all(conn, m));
        ++served_;
      } else {
        ++refused_;
      }
      EXPECT_EQ(TWIPCDisconnect(conn), 1);
    }
  }
  TWIPC* pipe_;
  std::thread thread_;
  std::atomic<int> served_{0};
  std::atomic<int> refused_{0};
};

class Ipc : public testing::Test {
 protected:
  void SetUp() override { twtest::InitAt(dir_.path()); }
  void TearDown() override {
    tw::SetIpcServerTimeoutMillis(0);
    TWPlatTerm();
  }
  // The run directory of this test's installation, found under its own TMPDIR.
  fs::path RunDir() {
    for (const auto& e :
         fs::directory_iterator(dir_.path() + "tarnway-" + std::to_string(::geteuid())))
      return e.path();
    return {};
  }
  twtest::TempDir dir_;
  twtest::ScopedEnv tmpdir_{"TMPDIR", dir_.path().c_str()};
};

TEST_F(Ipc, TheServersLockDecidesWhetherAPipeExists) {
  EXPECT_EQ(TWIPCExists("TWCSMP", 90), 0);
  TWIPC* pipe = TWIPCCreate("TWCSMP");
  ASSERT_NE(pipe, nullptr);
  EXPECT_NE(TWIPCExists("TWCSMP", 90), 0);
  EXPECT_EQ(TWIPCExists("TWSNMP_PIPE", 0), 0) << "another name";
  EXPECT_EQ(TWIPCCreate("TWCSMP"), nullptr) << "a second server in this process";

  pid_t child = ::fork();
  if (child == 0)
    ::_exit(TWIPCExists("TWCSMP", 0) != 0 && TWIPCCreate("TWCSMP") == nullptr ? 0 : 1);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << "a second server in another process";

  // Asking never connects: no client waits afterwards.
  EXPECT_EQ(TWIPCCheckForConnection(pipe), nullptr);

  fs::path run = RunDir();
  EXPECT_EQ(fs::status(run).permissions(), fs::perms::owner_all);
  EXPECT_EQ(fs::status(run.parent_path()).permissions(), fs::perms::owner_all);
  EXPECT_EQ(fs::status(run / "TWCSMP.sock").permissions(),
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(fs::status(run / "TWCSMP.lock").permissions(),
            fs::perms::owner_read | fs::perms::owner_write);

  EXPECT_EQ(TWIPCShutdown(pipe, "TWCSMP"), 1);
  EXPECT_EQ(TWIPCExists("TWCSMP", 90), 0);
  EXPECT_FALSE(fs::exists(run / "TWCSMP.sock"));
  EXPECT_EQ(TWIPCOpen("TWCSMP", 0), nullptr);
}

// A server holds its lock a moment before its socket listens: the pipe counts as served only
// once the socket has its name, so whoever finds it served can connect at once.
TEST_F(Ipc, APipeIsServedOnlyOnceItsSocketListens) {
  TWIPC* pipe = TWIPCCreate("TWCSMP");
  ASSERT_NE(pipe, nullptr);
  fs::path run = RunDir();
  ASSERT_EQ(TWIPCShutdown(pipe, "TWCSMP"), 1);
  // The run directory went with the pipe's last file.
  EXPECT_FALSE(fs::exists(run));
  ::mkdir(run.parent_path().c_str(), 0700);
  ASSERT_EQ(::mkdir(run.c_str(), 0700), 0);
  // The lock of a server on its way: held, without a socket yet.
  int fd = ::open((run / "TWCSMP.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(fd, 0);
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  ASSERT_EQ(::fcntl(fd, F_OFD_SETLK, &fl), 0);
  EXPECT_EQ(TWIPCExists("TWCSMP", 0), 0);
  EXPECT_EQ(TWIPCCreate("TWCSMP"), nullptr) << "the lock is another server's";
  ::close(fd);
  ::unlink((run / "TWCSMP.lock").c_str());
}

// A server that died left its socket file; the next one takes the name over.
TEST_F(Ipc, ASocketLeftByADeadServerIsReplaced) {
  pid_t child = ::fork();
  if (child == 0) ::_exit(TWIPCCreate("TWCSMP") != nullptr ? 0 : 1);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_TRUE(fs::exists(RunDir() / "TWCSMP.sock"));

  EXPECT_EQ(TWIPCExists("TWCSMP", 90), 0);
  EXPECT_EQ(TWIPCOpen("TWCSMP", 0), nullptr) << "nobody listens on the old socket";
  // The next server on its way: its lock taken, the old socket not replaced yet.
  const int lock = tw::lock_owner(RunDir() / "TWCSMP.lock");
  ASSERT_GE(lock, 0);
  EXPECT_EQ(TWIPCExists("TWCSMP", 0), 0) << "the old socket is not the new server's";
  ::close(lock);
  EchoServer server("TWCSMP");
  Bytes reply;
  ASSERT_TRUE(exchange("TWCSMP", message(1, 16), &reply));
  EXPECT_EQ(reply, message(1, 16));
}

TEST_F(Ipc, RefusesBadNamesAndHandles) {
  for (const char* name :
       {"", "a/b", "..", ".x", "with blank", "TWCSMP\n", "012345678901234567890123456789012"}) {
    EXPECT_EQ(TWIPCCreate(name), nullptr) << name;
    EXPECT_EQ(TWIPCExists(name, 0), 0) << name;
    EXPECT_EQ(TWIPCOpen(name, 0), nullptr) << name;
  }
  EXPECT_EQ(TWIPCCreate(nullptr), nullptr);
  EXPECT_EQ(TWIPCExists(nullptr, 0), 0);
  EXPECT_EQ(TWIPCOpen(nullptr, 0), nullptr);

  char buf[16];
  uint32_t n = 0;
  int more = 0;
  EXPECT_EQ(TWIPCWaitForConnection(nullptr), nullptr);
  EXPECT_EQ(TWIPCCheckForConnection(nullptr), nullptr);
  EXPECT_EQ(TWIPCSetNoWait(nullptr), 0);
  EXPECT_EQ(TWIPCAllowClientConnections(nullptr), 0);
  EXPECT_EQ(TWIPCRead(nullptr, buf, sizeof buf, &n, &more), 0);
  EXPECT_EQ(TWIPCReadNW(nullptr, buf, sizeof buf, &n, &more), 0);
  EXPECT_EQ(TWIPCWrite(nullptr, buf, sizeof buf, &n), 0);
  EXPECT_EQ(TWIPCWriteNW(nullptr, buf, sizeof buf, &n), 0);
  EXPECT_EQ(TWIPCPeek(nullptr), 0);
  EXPECT_EQ(TWIPCFlush(nullptr), 0);
  EXPECT_EQ(TWIPCDisconnect(nullptr), 0);
  EXPECT_EQ(TWIPCClose(nullptr), 0);
  EXPECT_EQ(TWIPCShutdown(nullptr, "TWCSMP"), 0);

  // A server handle is no connection, and a connection no server.
  TWIPC* pipe = TWIPCCreate("TWCSMP");
  ASSERT_NE(pipe, nullptr);
  EXPECT_EQ(TWIPCRead(pipe, buf, sizeof buf, &n, &more), 0);
  EXPECT_EQ(TWIPCWrite(pipe, buf, sizeof buf, &n), 0);
  EXPECT_EQ(TWIPCDisconnect(pipe), 0);
  EXPECT_EQ(TWIPCClose(pipe), 0);
  TWIPC* client = TWIPCOpen("TWCSMP", 0);
  ASSERT_NE(client, nullptr);
  EXPECT_EQ(TWIPCShutdown(client, "TWCSMP"), 0);
  EXPECT_EQ(TWIPCWaitForConnection(client), nullptr);
  EXPECT_EQ(TWIPCRead(client, nullptr, 8, &n, &more), 0);
  EXPECT_EQ(TWIPCClose(client), 1);
  EXPECT_EQ(TWIPCClose(client), 0) << "a handle already closed";
  EXPECT_EQ(TWIPCShutdown(pipe, "TWCSMP"), 1);
  EXPECT_EQ(TWIPCShutdown(pipe, "TWCSMP"), 0);
}

// The control store's loop reads into a 2048-byte room and grows it while more is waiting;
// the SNMP link reads the 8-byte header first.
TEST_F(Ipc, AMessageIsDeliveredInPiecesOfAtMostRoomBytes) {
  struct Case {
    uint32_t length, room;
    std::vector<uint32_t> pieces;
  } cases[] = {
      {5000, 2048, {2048, 2048, 904}},
      {8, 8, {8}},
      {9, 8, {8, 1}},
      {2048, 2048, {2048}},
      {12, 3, {3, 3, 3, 3}},  // the header itself in pieces
      {522, 1024, {522}},
      {TWIPC_MAX_MESSAGE, 4 << 20, {4 << 20, 4 << 20, 4 << 20, 4 << 20}},
  };
  TWIPC* pipe = TWIPCCreate("TWCSMP");
  ASSERT_NE(pipe, nullptr);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.length << " bytes into " << c.room);
    Bytes sent = message(3, c.length);
    std::thread client([&] {
      Bytes reply;
      EXPECT_TRUE(exchange("TWCSMP", sent, &reply));
      EXPECT_EQ(reply.size(), 8u);
    });
    TWIPC* conn = TWIPCWaitForConnection(pipe);
    ASSERT_NE(conn, nullptr);
    Bytes got;
    std::vector<uint32_t> pieces;
    EXPECT_TRUE(read_message(conn, c.room, &got, &pieces));
    EXPECT_EQ(pieces, c.pieces);
    EXPECT_TRUE(got == sent);
    EXPECT_TRUE(write_all(conn, header(3, 8)));
    EXPECT_EQ(TWIPCDisconnect(conn), 1);
    client.join();
  }
  EXPECT_EQ(TWIPCShutdown(pipe, "TWCSMP"), 1);
}

// A bad Length fails the first read at once, whatever follows it, and the connection stays
// failed; the reader never hands out bytes of a message it cannot frame.
TEST_F(Ipc, ABadLengthFailsTheReadAtOnce) {
  TWIPC* pipe = TWIPCCreate("TWCSMP");
  ASSERT_NE(pipe, nullptr);
  for (uint32_t length : {0u, 1u, 7u, uint32_t{TWIPC_MAX_MESSAGE} + 1, 0xFFFFFFFFu}) {
    SCOPED_TRACE(length);
    TWIPC* client = TWIPCOpen("TWCSMP", 0);
    ASSERT_NE(client, nullptr);
    Bytes bytes = header(1, length);
    bytes.resize(200, 0x11);
    ASSERT_TRUE(write_all(client, bytes));
    TWIPC* conn = TWIPCWaitForConnection(pipe);
    ASSERT_NE(conn, nullptr);
    unsigned char buf[64];
    uint32_t n = 12345;
    int more = 12345;
    EXPECT_EQ(TWIPCRead(conn, buf, sizeof buf, &n, &more), 0);
    EXPECT_EQ(n, 12345u) << "outputs of a failed read are left alone";
    EXPECT_EQ(TWIPCRead(conn, buf, sizeof buf, &n, &more), 0);
    EXPECT_EQ(TWIPCWrite(conn, buf, 8, &n), 0);
    EXPECT_EQ(TWIPCDisconnect(conn), 1);
    EXPECT_EQ(TWIPCClose(client), 1);
  }
  EXPECT_EQ(TWIPCShutdown(pipe, "TWCSMP"), 1);
}

// Each bad client is dropped, and the next good client is served as if nothing happened.
TEST_F(Ipc, TheServerOutlivesMisbehavingClients) {
  tw::SetIpcServerTimeoutMillis(200);
  EchoServer server("TWCSMP");
  auto cat = [](Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  struct Case {
    const char* what;
    Bytes bytes;
    bool stays_connected;  // and silent, until the good client has been served
    bool valid;
  } cases[] = {
      {"connects and closes", {}, false, false},
      {"connects and stays silent", {}, true, false},
      {"three bytes and silence", {1, 0, 0}, true, false},
      {"three bytes and close", {1, 0, 0}, false, false},
      {"Length 0", header(1, 0), false, false},
      {"Length 7", header(1, 7), false, false},
      {"Length above the maximum", header(1, TWIPC_MAX_MESSAGE + 1), false, false},
      {"Length 0xFFFFFFFF", header(1, 0xFFFFFFFF), false, false},
      {"gone inside the message", cat(header(5, 100), Bytes(20, 9)), false, false},
      {"stalls inside the message", cat(header(5, 100), Bytes(20, 9)), true, false},
      {"negative code, well framed", message(-7, 12), false, true},
  };
  int refused = 0, served = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TWIPC* bad = TWIPCOpen("TWCSMP", 0);
    ASSERT_NE(bad, nullptr);
    if (!c.bytes.empty()) {
      ASSERT_TRUE(write_all(bad, c.bytes));
    }
    Bytes reply;
    if (c.valid) {
      ASSERT_TRUE(read_message(bad, 64, &reply));
      EXPECT_EQ(reply, c.bytes);
      ++served;
    } else {
      ++refused;
    }
    if (!c.stays_connected) {
      EXPECT_EQ(TWIPCClose(bad), 1);
    }

    Bytes request = message(2, 40);
    ASSERT_TRUE(exchange("TWCSMP", request, &reply));
    EXPECT_EQ(reply, request);
    ++served;
    if (c.stays_connected) {
      // The server gave up on it: it neither answers nor keeps the connection.
      uint32_t n = 0;
      int more = 0;
      char byte;
      EXPECT_EQ(TWIPCRead(bad, &byte, 1, &n, &more), 0);
      EXPECT_EQ(TWIPCClose(bad), 1);
    }
  }
  server.Stop();
  EXPECT_EQ(server.refused(), refused);
  EXPECT_EQ(server.served(), served);
}

// Write failures never raise SIGPIPE, and a client that does not read cannot hold the
// server beyond its time-out.
TEST_F(Ipc, AServerWriteToAGoneOrStuckClientFails) {
  tw::SetIpcServerTimeoutMillis(200);
  TWIPC* pipe = TWIPCCreate("TWCSMP");
  ASSERT_NE(pipe, nullptr);
  Bytes big = message(1, 8 << 20);

  TWIPC* gone = TWIPCOpen("TWCSMP", 0);
  ASSERT_NE(gone, nullptr);
  EXPECT_EQ(TWIPCClose(gone), 1);
  TWIPC* conn = TWIPCWaitForConnection(pipe);
  ASSERT_NE(conn, nullptr);
  EXPECT_FALSE(write_all(conn, big));
  EXPECT_EQ(TWIPCDisconnect(conn), 1);

  TWIPC* stuck = TWIPCOpen("TWCSMP", 0);
  ASSERT_NE(stuck, nullptr);
  conn = TWIPCWaitForConnection(pipe);
  ASSERT_NE(conn, nullptr);
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(write_all(conn, big));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_EQ(TWIPCDisconnect(conn), 1);
  EXPECT_EQ(TWIPCClose(stuck), 1);

  // A client whose server went away without answering.
  TWIPC* client = TWIPCOpen("TWCSMP", 0);
  ASSERT_NE(client, nullptr);
  conn = TWIPCWaitForConnection(pipe);
  ASSERT_NE(conn, nullptr);
  EXPECT_EQ(TWIPCDisconnect(conn), 1);
  Bytes reply;
  EXPECT_FALSE(read_message(client, 64, &reply));
  EXPECT_EQ(TWIPCClose(client), 1);
  EXPECT_EQ(TWIPCShutdown(pipe, "TWCSMP"), 1);
}

// The SNMP link polls a pipe set not to wait; its table reply goes out in two writes that
// the agent reads as one message.
TEST_F(Ipc, APollingServerAndAReplyWrittenInTwoParts) {
  TWIPC* pipe = TWIPCCreate("TWSNMP_PIPE");
  ASSERT_NE(pipe, nullptr);
  EXPECT_EQ(TWIPCSetNoWait(pipe), 1);
  EXPECT_EQ(TWIPCAllowClientConnections(pipe), 1);
  EXPECT_EQ(TWIPCCheckForConnection(pipe), nullptr) << "nobody has connected";

  TWIPC* agent = TWIPCOpen("TWSNMP_PIPE", 0);
  ASSERT_NE(agent, nullptr);
  uint32_t n = 0;
  int more = 0;
  Bytes request = header(2, 8);
  ASSERT_EQ(TWIPCWriteNW(agent, request.data(), 8, &n), 1);
  EXPECT_EQ(n, 8u);
  EXPECT_EQ(TWIPCFlush(agent), 1);

  TWIPC* client = nullptr;
  for (int i = 0; i < 200 && client == nullptr; ++i) {
    client = TWIPCCheckForConnection(pipe);
    if (client == nullptr) TWKeyboardSleep();
  }
  ASSERT_NE(client, nullptr);
  EXPECT_NE(TWIPCPeek(client), 0);
  unsigned char head[8];
  ASSERT_EQ(TWIPCReadNW(client, head, 8, &n, &more), 1);
  EXPECT_EQ(n, 8u);
  EXPECT_EQ(more, 0);
  EXPECT_EQ(tw::get_i32(head), 2);

  uint32_t total = 8 + 364 * 2;
  Bytes reply_head = header(3, total);
  Bytes entries(364 * 2, 0);
  entries[4] = 1;  // run number of the one entry; the second entry ends the table
  ASSERT_EQ(TWIPCWriteNW(client, reply_head.data(), 8, &n), 1);
  ASSERT_EQ(TWIPCWriteNW(client, entries.data(), static_cast<uint32_t>(entries.size()), &n), 1);
  EXPECT_EQ(TWIPCFlush(client), 1);
  EXPECT_EQ(TWIPCDisconnect(client), 1);
  EXPECT_EQ(TWIPCAllowClientConnections(pipe), 1);

  EXPECT_NE(TWIPCPeek(agent), 0);
  Bytes buffer(1024);
  ASSERT_EQ(TWIPCReadNW(agent, buffer.data(), 8, &n, &more), 1);
  EXPECT_EQ(n, 8u);
  EXPECT_EQ(more, 1);
  EXPECT_EQ(tw::get_u32(buffer.data() + 4), total);
  ASSERT_EQ(TWIPCReadNW(agent, buffer.data() + 8, total - 8, &n, &more), 1);
  EXPECT_EQ(n, total - 8);
  EXPECT_EQ(more, 0);
  EXPECT_EQ(buffer[12], 1);
  EXPECT_EQ(TWIPCPeek(agent), 0) << "nothing beyond the message";
  EXPECT_EQ(TWIPCClose(agent), 1);
  EXPECT_EQ(TWIPCShutdown(pipe, "TWSNMP_PIPE"), 1);
}

// Clients in other processes, one request per connection, as the runners reach ctlstore.
TEST_F(Ipc, RoundTripsWithClientsInOtherProcesses) {
  TWIPC* pipe = TWIPCCreate("TWCSMP");
  ASSERT_NE(pipe, nullptr);
  const uint32_t sizes[] = {16, 5000, 654};
  std::vector<pid_t> children;
  for (uint32_t size : sizes) {
    pid_t child = ::fork();
    if (child == 0) {
      Bytes request = message(6, size), reply;
      if (!exchange("TWCSMP", request, &reply)) ::_exit(1);
      // The server answers with the request, Status (offset 12) set to 787.
      tw::put_u32(request.data() + 12, 787);
      ::_exit(reply == request ? 0 : 2);
    }
    ASSERT_GT(child, 0);
    children.push_back(child);
  }
  for (size_t i = 0; i < children.size(); ++i) {
    TWIPC* conn = TWIPCWaitForConnection(pipe);
    ASSERT_NE(conn, nullptr);
    Bytes m;
    ASSERT_TRUE(read_message(conn, 2048, &m));
    EXPECT_EQ(tw::get_u32(m.data() + 4), m.size());
    tw::put_u32(m.data() + 12, 787);
    EXPECT_TRUE(write_all(conn, m));
    EXPECT_EQ(TWIPCDisconnect(conn), 1);
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "client " << child;
  }
  EXPECT_EQ(TWIPCShutdown(pipe, "TWCSMP"), 1);
}

TEST_F(Ipc, TheServerKnowsItsClientsProcessAndWhetherItStillRuns) {
  TWIPC* pipe = TWIPCCreate("TWCSMP");
  ASSERT_NE(pipe, nullptr);
  // A client in another process connects and waits until the server lets it go.
  pid_t child = ::fork();
  if (child == 0) {
    TWIPC* c = TWIPCOpen("TWCSMP", 0);
    Bytes reply;
    ::_exit(c != nullptr && !read_message(c, 64, &reply) ? 0 : 1);
  }
  ASSERT_GT(child, 0);
  TWIPC* conn = TWIPCWaitForConnection(pipe);
  ASSERT_NE(conn, nullptr);
  EXPECT_EQ(tw::IpcPeerProcessId(conn), child);
  const std::string mark = tw::ProcessMark(child);
  EXPECT_TRUE(tw::ProcessMarkAlive(mark)) << mark;
  EXPECT_EQ(TWIPCDisconnect(conn), 1);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_FALSE(tw::ProcessMarkAlive(mark)) << "a process that has ended";
  EXPECT_EQ(tw::ProcessMark(child), "");

  // This process: alive under its mark, not under the same id with another start or boot.
  const std::string self = tw::ProcessMark(0);
  ASSERT_EQ(self, tw::ProcessMark(::getpid()));
  EXPECT_TRUE(tw::ProcessMarkAlive(self));
  const size_t lastBlank = self.rfind(' ');
  for (const std::string& other : {self.substr(0, lastBlank) + " 1", "x" + self.substr(1), ""s,
                                   "no marks here"s, self.substr(0, lastBlank)})
    EXPECT_FALSE(tw::ProcessMarkAlive(other)) << other;
  // Only a connection that a server accepted has a client.
  EXPECT_EQ(tw::IpcPeerProcessId(pipe), 0);
  EXPECT_EQ(tw::IpcPeerProcessId(nullptr), 0);
  EXPECT_EQ(TWIPCShutdown(pipe, "TWCSMP"), 1);
}

}  // namespace
