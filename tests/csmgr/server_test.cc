// The ctlstore program as its clients see it: start-up failures and their texts, a second
// manager on the same pipe, the framing rules (echo, growth, asynchronous acknowledgement),
// malformed clients that must never end the service and silent ones that must never hold up
// the others.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <random>
#include <thread>

#include "ctlstore_fixture.h"

namespace twtest {
namespace {

namespace code = wire::code;

struct StartupCase {
  const char* name;
  InstallOptions options;
  uint32_t status;
  std::vector<std::string> errLines;  // expected in twmain.err, in order
};

class StartupFailureTest : public CtlstoreTest,
                           public ::testing::WithParamInterface<StartupCase> {};

TEST_P(StartupFailureTest, IsReportedAndAnswersEveryRequest) {
  const StartupCase& c = GetParam();
  Install(c.options);
  Start();
  // Every code, also the ones without a handler, carries the failure.
  for (uint32_t request : {code::kInit, code::kValidMsg, code::kTime, 25u})
    EXPECT_EQ(Simple(request, 64), c.status) << request;
  EXPECT_EQ(Stop(), 0);
  EXPECT_EQ(lastShutdownStatus_, c.status);
  const std::string err = ErrFile();
  size_t at = 0;
  for (const std::string& line : c.errLines) {
    size_t found = err.find(line, at);
    EXPECT_NE(found, std::string::npos) << "missing \"" << line << "\" in:\n" << err;
    if (found != std::string::npos) at = found + line.size();
  }
}

InstallOptions With(void (*change)(InstallOptions&)) {
  InstallOptions o;
  change(o);
  return o;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StartupFailureTest,
    ::testing::Values(
        StartupCase{"NoIniKeys",
                    With([](InstallOptions& o) {
                      o.tarnway = "";
                      o.createAdmin = false;
                    }),
                    534,
                    {"Missing key value in initialization file", "\nField = Tarnway"}},
        StartupCase{"NoAdminDatabaseKey",
                    With([](InstallOptions& o) {
                      o.adminDatabaseKey = false;
                      o.createAdmin = false;
                    }),
                    534,
                    {"Missing key value in initialization file", "\nField = AdminDatabase"}},
        StartupCase{"MissingDatabase",
                    With([](InstallOptions& o) { o.createAdmin = false; }),
                    787,
                    {"Unable to access administrator database", "Database = !!admin.odb"}},
        StartupCase{"NewerAdministrator",
                    With([](InstallOptions& o) { o.revision = 0x30000; }),
                    785,
                    {"Tarnway program must be upgraded to match the version of the Tarnway "
                     "Administrator",
                     "Incorrect version of Administrator database"}},
        StartupCase{"OlderAdministrator",
                    With([](InstallOptions& o) { o.revision = 0x8000; }),
                    785,
                    {"Tarnway Administrator database has not been fully upgraded",
                     "Incorrect version of Administrator database"}},
        // Release 1's own revision over its own design: never migrated.
        StartupCase{"UnmigratedRelease1",
                    With([](InstallOptions& o) {
                      o.revision = 0x10000;
                      o.dropForms = {"Activity\\*Admin-Backup", "Activity\\*Admin-Purge Log"};
                    }),
                    785,
                    {"Tarnway Administrator database has not been fully upgraded",
                     "Incorrect version of Administrator database"}},
        StartupCase{"NoServerDocument",
                    With([](InstallOptions& o) { o.serverDocument = false; }),
                    795,
                    {"The Tarnway configuration document does not exist", "Document = ALPHA"}}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(CtlstoreTest, MigratedRevisionIsServed) {
  InstallOptions o;
  o.revision = 0x10000;
  Install(o);
  Start();
  EXPECT_EQ(Simple(code::kInit), 0u);
  EXPECT_EQ(Stop(), 0);
}

// A server silent for an hour is stopped by the next registration, unless the status
// interval is 0 or less: then no server can be judged late.
TEST_F(CtlstoreTest, DeadServerCheckHonoursTheStatusInterval) {
  struct DeadCase {
    int32_t statusInterval;
    double betaStatus;
  };
  for (DeadCase c : {DeadCase{5, 0}, DeadCase{0, 2}, DeadCase{-3, 2}}) {
    SCOPED_TRACE(c.statusInterval);
    if (admin_ != 0) GVDatabaseClose(admin_, 0), admin_ = 0;
    if (log_ != 0) GVDatabaseClose(log_, 0), log_ = 0;
    GVDatabaseDelete("", "admin.odb");
    GVDatabaseDelete("", "log.odb");
    InstallOptions o;
    o.statusInterval = c.statusInterval;
    Install(o);
    const GVNOTEID beta = NewDoc("Configuration\\Server", {{"Name", "BETA"}});
    const GVTIMEDATE seen = HourAgo();
    GVDOC doc = 0;
    ASSERT_EQ(GVDocumentOpen(admin_, beta, 0, &doc), 0u);
    PutNumber(doc, "ServerStatus", 2);
    PutNumber(doc, "ServerID", beta);
    EXPECT_EQ(GVItemPut(doc, "Time", GVTYPE_TIME, 0, GVTYPE_TIME, &seen, 0), 0u);
    ASSERT_EQ(GVDocumentClose(doc, 0), 0u);
    Start();
    EXPECT_EQ(Simple(code::kInit), 0u);
    EXPECT_EQ(ItemNumber(beta, "ServerStatus"), c.betaStatus);
    EXPECT_EQ(Stop(), 0);
  }
}

TEST_F(CtlstoreTest, SecondManagerLeavesTheFirstServing) {
  Install();
  Start();
  TWProcProcess* second = nullptr;
  ASSERT_EQ(TWProcShellExec("ctlstore", &second, 0, 0), 0u);
  TWProcProcessWait(second);
  EXPECT_EQ(TWProcProcessExitCode(second), 0);
  TWProcProcessFree(second);
  EXPECT_NE(ErrFile().find("A control store manager already exists"), std::string::npos);
  EXPECT_EQ(Simple(code::kInit), 0u);
  EXPECT_EQ(Stop(), 0);
  EXPECT_EQ(lastShutdownStatus_, 0u);
}

TEST_F(CtlstoreTest, FramingEchoGrowthAndAsynchronousAcknowledgement) {
  Install();
  Start();
  // Codes without a handler come back byte for byte, also when larger than the buffer.
  for (uint32_t c : {code::kValidMsg, 25u}) {
    for (uint32_t length : {16u, 5000u}) {
      std::vector<uint8_t> request = Block(c, length);
      for (uint32_t i = 16; i < length; ++i) request[i] = static_cast<uint8_t>(i * 7);
      EXPECT_EQ(Exchange(request), request) << c << " " << length;
    }
  }
  EXPECT_EQ(Simple(code::kFileField), 257u);
  // Asynchronous: the acknowledgement {0, 16, 0, 0}, whatever the handler answers later.
  std::vector<uint8_t> done = Block(code::kDoneActivity, wire::done_activity::kMinLength);
  tw::put_u32(done.data() + 8, wire::CSMGR_ASYNC);
  tw::put_i32(done.data() + wire::done_activity::kHandle, 3);
  std::vector<uint8_t> ack = Exchange(done);
  ASSERT_EQ(ack.size(), 16u);
  EXPECT_EQ(WordAt(ack, 0), 0);
  EXPECT_EQ(WordAt(ack, 4), 16);
  EXPECT_EQ(WordAt(ack, 8), 0);
  EXPECT_EQ(WordAt(ack, 12), 0);
  EXPECT_EQ(Simple(code::kInit), 0u);
  EXPECT_EQ(Stop(), 0);
}

TEST_F(CtlstoreTest, MalformedClientsAreDroppedAndTheServiceGoesOn) {
  Install();
  Start();
  std::mt19937 random(20240601);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  int sent = 0;
  for (; sent < 400 && std::chrono::steady_clock::now() < deadline; ++sent) {
    const uint32_t kind = random() % 6;
    std::vector<uint8_t> bytes(16 + random() % 1200);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
    tw::put_u32(bytes.data() + 8, 0);
    switch (kind) {
      case 0:  // no bytes at all
        bytes.clear();
        break;
      case 1:  // a Length that differs from what is sent
        tw::put_u32(bytes.data() + 4, static_cast<uint32_t>(bytes.size()) + 1 + random() % 100);
        break;
      case 2:  // beyond the largest message
        tw::put_u32(bytes.data() + 4, wire::kMaxMessage + 1 + random() % 1000);
        break;
      case 3:  // a negative code
        tw::put_i32(bytes.data(), -1 - static_cast<int32_t>(random() % 1000));
        tw::put_u32(bytes.data() + 4, static_cast<uint32_t>(bytes.size()));
        break;
      case 4:  // a request of a real code with random contents (shorter ones included)
        bytes.resize(16 + random() % 700);
        tw::put_u32(bytes.data(), 2 + random() % 18);
        tw::put_u32(bytes.data() + 4, static_cast<uint32_t>(bytes.size()));
        tw::put_u32(bytes.data() + 8, 0);
        if (tw::get_u32(bytes.data()) == code::kServerState) tw::put_i32(bytes.data() + 16, 5);
        break;
      default:  // a header only, cut short
        bytes.resize(random() % 16);
        break;
    }
    if (kind == 4) {
      std::vector<uint8_t> reply = Exchange(bytes);
      ASSERT_GE(reply.size(), 16u) << "request " << sent;
      EXPECT_EQ(WordAt(reply, 0), WordAt(bytes, 0));
    } else {
      SendRaw(bytes);
    }
  }
  EXPECT_GT(sent, 50);
  // Still serving, still initialised.
  std::vector<uint8_t> time = Exchange(Block(code::kTime, wire::time_request::kMinLength));
  ASSERT_EQ(time.size(), wire::time_request::kMinLength);
  EXPECT_EQ(StatusOf(time), 0u);
  EXPECT_EQ(Stop(), 0);
}

TEST_F(CtlstoreTest, ShortRequestsAreRefusedWithoutReadingBeyondThem) {
  Install();
  Start();
  for (uint32_t c = code::kServerInit; c < code::kFileField; ++c) {
    if (c == code::kTerm) continue;
    const uint32_t need = wire::MinLength(c);
    std::vector<uint8_t> reply = Exchange(Block(c, need - 1));
    ASSERT_EQ(reply.size(), need - 1) << c;
    EXPECT_EQ(StatusOf(reply), 779u) << c;
  }
  // Texts must end inside the request: a name without its NUL is refused.
  std::vector<uint8_t> open = Block(code::kOpenActivity, 64);
  std::memset(open.data() + wire::open_activity::kName, 'x', 64 - wire::open_activity::kName);
  EXPECT_EQ(StatusOf(Exchange(open)), 779u);
  std::vector<uint8_t> log = Block(code::kLog, 120);
  tw::put_i32(log.data() + 16, 1);
  std::memset(log.data() + wire::log_request::kText, 'y', 120 - wire::log_request::kText);
  EXPECT_EQ(StatusOf(Exchange(log)), 779u);
  EXPECT_EQ(Stop(), 0);
}

TEST_F(CtlstoreTest, SilentClientsHoldUpNoOtherClient) {
  Install();
  Start();
  // Clients that connect and say nothing, or stop inside their request. Each would be dropped
  // after the pipe's time-out; none may delay another client meanwhile.
  std::vector<uint8_t> time = Block(code::kTime, wire::time_request::kMinLength);
  const size_t kSent[] = {0, 6, 16};  // nothing, half a header, a header without its body
  std::vector<TWIPC*> silent;
  for (size_t sent : kSent) {
    TWIPC* conn = TWIPCOpen(wire::kPipeName, 0);
    ASSERT_NE(conn, nullptr);
    uint32_t written = 0;
    if (sent > 0) {
      ASSERT_TRUE(TWIPCWrite(conn, time.data(), static_cast<uint32_t>(sent), &written));
    }
    silent.push_back(conn);
  }
  // Each silent client waits for its answer; it learns when the service drops it.
  std::atomic<bool> answered{false};
  std::atomic<int> droppedFirst{0};
  std::vector<std::thread> waiting;
  for (TWIPC* conn : silent)
    waiting.emplace_back([conn, &answered, &droppedFirst] {
      uint8_t byte[16];
      uint32_t n = 0;
      int more = 0;
      TWIPCRead(conn, byte, sizeof byte, &n, &more);
      if (!answered.load()) ++droppedFirst;
    });

  std::promise<std::vector<uint8_t>> reply;
  std::future<std::vector<uint8_t>> replied = reply.get_future();
  std::thread other([&] {
    std::vector<uint8_t> r = Exchange(time);
    answered.store(true);
    reply.set_value(std::move(r));
  });
  const bool inTime = replied.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
  if (!inTime) Kill();  // ends the exchange, so that the thread can be joined
  other.join();
  // Only now are the silent clients closed: any that ended earlier was dropped by the service.
  for (TWIPC* conn : silent) TWIPCClose(conn);
  for (std::thread& t : waiting) t.join();

  ASSERT_TRUE(inTime);
  std::vector<uint8_t> r = replied.get();
  ASSERT_EQ(r.size(), wire::time_request::kMinLength);
  EXPECT_EQ(StatusOf(r), 0u);
  EXPECT_EQ(droppedFirst.load(), 0) << "the answer waited for silent clients to be dropped";
  EXPECT_EQ(Stop(), 0);
}

}  // namespace
}  // namespace twtest
