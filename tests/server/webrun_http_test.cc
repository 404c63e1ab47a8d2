// webrun behind a real web server: lighttpd with mod_cgi in a private configuration on a
// free loopback port, started by the test and stopped on every path.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "activity_test_util.h"
#include "fake_ctlstore.h"
#include "process_util.h"

namespace {

using twtest::FakeCtlstore;
using twtest::FakeValue;

constexpr const char* kLighttpd = "/usr/sbin/lighttpd";

// text as a single-quoted shell word.
std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

int Connect(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  timeval limit{30, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  return fd;
}

struct Response {
  int status = 0;
  std::string body;
};

// One HTTP/1.0 request; the whole response up to the server's close.
Response Request(int port, const std::string& method, const std::string& target,
                 const std::string& body = "") {
  Response r;
  int fd = Connect(port);
  if (fd < 0) return r;
  std::string request = method + " " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n";
  if (method == "POST")
    request += "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
               std::to_string(body.size()) + "\r\n";
  request += "\r\n" + body;
  std::string raw;
  if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
      static_cast<ssize_t>(request.size())) {
    char buf[4096];
    ssize_t n;
    while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0) raw.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  if (raw.compare(0, 9, "HTTP/1.0 ") == 0 || raw.compare(0, 9, "HTTP/1.1 ") == 0)
    r.status = std::atoi(raw.c_str() + 9);
  size_t end = raw.find("\r\n\r\n");
  if (end != std::string::npos) r.body = raw.substr(end + 4);
  return r;
}

// lighttpd serving docroot on a loopback port, with CGI for "*.cgi"; stopped when the object
// goes.
class WebServer {
 public:
  WebServer(const std::string& dir, const std::string& docroot) {
    for (int attempt = 0; attempt < 3 && port_ == 0; ++attempt) {
      int port = twtest::FreeLoopbackPort();
      std::string conf = dir + "lighttpd.conf";
      twtest::WriteFile(conf, "server.document-root = \"" + docroot +
                                  "\"\n"
                                  "server.bind = \"127.0.0.1\"\n"
                                  "server.port = " +
                                  std::to_string(port) +
                                  "\n"
                                  "server.modules = (\"mod_cgi\")\n"
                                  "cgi.assign = (\".cgi\" => \"\")\n"
                                  "server.errorlog = \"" +
                                  dir + "lighttpd.log\"\n");
      server_ = std::make_unique<twtest::ChildProcess>();
      if (!server_->Start({kLighttpd, "-D", "-f", conf}, twtest::InheritedEnv(), "", false)) break;
      if (twtest::WaitUntil([&] {
            if (!server_->Alive()) return true;
            int fd = Connect(port);
            if (fd >= 0) ::close(fd);
            return fd >= 0;
          }) &&
          server_->Alive())
        port_ = port;
      else
        server_.reset();  // the port was taken meanwhile: try another
    }
  }
  ~WebServer() {
    if (server_) server_->Stop(5000);
  }
  int port() const { return port_; }

 private:
  std::unique_ptr<twtest::ChildProcess> server_;
  int port_ = 0;
};

class WebrunHttpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::access(kLighttpd, X_OK) != 0) GTEST_SKIP() << "lighttpd is not installed";
    ASSERT_TRUE(store_.serving());
    twtest::InstallPlugin(inst_, "echoact");
    ASSERT_EQ(::symlink((twtest::BuildInstDir() + "webrun").c_str(), (inst_ / "webrun").c_str()),
              0);
    twtest::AddTestActivity(store_, "Echo", {}, "echoact");
    twtest::AddTestActivity(store_, "Failing",
                            {{"Result", twtest::kResult, FakeValue::Number(12547)}}, "echoact");
    // A gateway script per activity: webrun runs in the installation directory, the
    // environment of the test (run directory, sanitizers) carried over.
    std::string docroot = inst_ / "www/";
    for (const char* activity : {"Echo", "Failing"}) {
      std::string script = "#!/bin/sh\ncd " + Quoted(inst_.path()) + " || exit 1\n";
      for (const std::string& var : twtest::InheritedEnv())
        script += "export " + Quoted(var) + "\n";
      script += "exec ./webrun " + Quoted(activity) + "\n";
      std::string path = docroot + activity + ".cgi";
      twtest::WriteFile(path, script);
      ASSERT_EQ(::chmod(path.c_str(), 0755), 0);
    }
    server_ = std::make_unique<WebServer>(inst_.path(), docroot);
    ASSERT_NE(server_->port(), 0) << twtest::ReadFile(inst_ / "lighttpd.log");
  }
  void TearDown() override {
    server_.reset();
    // webrun's standard error goes to the server's log.
    std::string log = twtest::ReadFile(inst_ / "lighttpd.log");
    for (const char* report : {"Sanitizer", "runtime error"})
      EXPECT_EQ(log.find(report), std::string::npos) << log;
  }

  std::vector<std::string> Echoed() {
    std::vector<std::string> lines;
    for (const twtest::FakeLogLine& l : store_.Log())
      if (l.messageId == TWEVENT_EXTERNAL) lines.push_back(l.text);
    return lines;
  }

  twtest::Installation inst_;
  FakeCtlstore store_;
  std::unique_ptr<WebServer> server_;
};

TEST_F(WebrunHttpTest, AFormPostedToTheGatewayRunsTheActivityWithItsFields) {
  Response r = Request(server_->port(), "POST", "/Echo.cgi?ignored=1", "a=1&a=2&b=x+y%21");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, "0 No Error\n");
  EXPECT_EQ(Echoed(), (std::vector<std::string>{"a=[1][2]", "b=[x y!]"}));
  std::vector<twtest::FakeDone> done = store_.Done();
  ASSERT_EQ(done.size(), 1u);
  EXPECT_EQ(done[0].activity, "Echo");
  EXPECT_EQ(done[0].completion, 0u);
}

TEST_F(WebrunHttpTest, AGetRunsTheActivityWithoutFieldsAndFailuresAreAnswered) {
  // A web server gives a GET no body length, and the query is read only with one.
  Response r = Request(server_->port(), "GET", "/Echo.cgi?a=1");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, "0 No Error\n");
  EXPECT_TRUE(Echoed().empty());

  r = Request(server_->port(), "POST", "/Failing.cgi", "x=1");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body.substr(0, 6), "12547 ");
  EXPECT_EQ(Echoed(), std::vector<std::string>{"x=[1]"});
  std::vector<twtest::FakeDone> done = store_.Done();
  ASSERT_EQ(done.size(), 2u);
  EXPECT_EQ(done[1].completion, 4148u);
}

}  // namespace
