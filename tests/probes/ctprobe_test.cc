// ctprobe against our TDS 5.0 test server through the FreeTDS ct-library: a good login, a
// refused one with the server's message, no server with the client's message, and the
// message callbacks' bounds.
#include "ctprobe.h"

#include <gtest/gtest.h>

#include <cstring>

#include "probe_test_util.h"
#include "tds5d_fixture.h"

namespace {

using probetest::Dashes;

std::string Banner() {
  return "\n\nCorvex Open Client Connection Verification\n\n" + Dashes() +
         "\nTries a login to a Corvex server through the Open Client libraries.\n\n";
}
constexpr char kFirstPrompts[] = "   Server Name:       Username:       Password: ";
constexpr char kAgain[] = "Try Again? [N] ";
std::string Attempting(const std::string& server, const std::string& user) {
  return "Attempting to connect to Corvex server " + server + " as " + user;
}
constexpr char kVerified[] =
    "\nSuccessfully Connected\nSuccessfully Disconnected\n\nConnectivity to Corvex Verified.\n\n";
std::string Fails(const std::string& message) {
  return "\nError connecting to Corvex SQL Server.\n" + message + "\nConnectivity test Fails.\n\n";
}

TEST(CtProbe, TriesTheLogins) {
  twtest::Tds5dServer server;
  ASSERT_TRUE(server.started());
  const std::string againPrompts =
      "   Server Name: [corvex_utf8]       Username: [sa]       Password: [****] ";
  const std::string tooLong(tw::probe::kAnswerMax + 1, 'x');
  struct Case {
    const char* name;
    std::string input, out;
    int code;
  } cases[] = {
      {"good login", "corvex_utf8\nsa\ntds5d\n",
       Banner() + kFirstPrompts + Attempting("corvex_utf8", "sa") + kVerified + kAgain, 0},
      {"wrong password", "corvex_utf8\nsa\nwrong\nn\n",
       Banner() + kFirstPrompts + Attempting("corvex_utf8", "sa") + Fails("Login failed.") + kAgain,
       1},
      {"unknown user", "corvex_utf8\nnobody\ntds5d\n",
       Banner() + kFirstPrompts + Attempting("corvex_utf8", "nobody") + Fails("Login failed.") +
           kAgain,
       1},
      {"wrong password, then the right one", "corvex_utf8\nsa\nwrong\ny\n\n\ntds5d\n",
       Banner() + kFirstPrompts + Attempting("corvex_utf8", "sa") + Fails("Login failed.") +
           kAgain + againPrompts + Attempting("corvex_utf8", "sa") + kVerified + kAgain,
       0},
      {"good, then the end of input on a retry", "corvex_utf8\nsa\ntds5d\ny\n",
       Banner() + kFirstPrompts + Attempting("corvex_utf8", "sa") + kVerified + kAgain +
           againPrompts + Attempting("corvex_utf8", "sa") + kVerified + kAgain,
       0},
      {"a server name too long", tooLong + "\ncorvex_utf8\nsa\ntds5d\n",
       Banner() +
           "   Server Name: \nThe answer is longer than 99 characters; please answer again.\n" +
           kFirstPrompts + Attempting("corvex_utf8", "sa") + kVerified + kAgain,
       0},
  };
  for (const Case& c : cases) {
    twtest::ProcessResult r = probetest::RunProbe("ctprobe", {}, c.input);
    EXPECT_EQ(r.out, c.out) << c.name;
    EXPECT_EQ(r.err, "") << c.name;
    EXPECT_EQ(r.exitCode, c.code) << c.name;
    EXPECT_EQ(r.out.find("tds5d"), std::string::npos) << c.name;
    EXPECT_EQ(r.out.find("wrong"), std::string::npos) << c.name;
  }

  // With the server gone the client library's own message is the one shown.
  server.Stop();
  twtest::ProcessResult r = probetest::RunProbe("ctprobe", {}, "corvex_utf8\nsa\ntds5d\n");
  EXPECT_EQ(r.out,
            Banner() + kFirstPrompts + Attempting("corvex_utf8", "sa") +
                Fails("Unable to connect: Adaptive Server is unavailable or does not exist") +
                kAgain);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.exitCode, 1);
}

// The callbacks keep the latest message that is not mere information, never more than 256
// bytes of it and never past its buffer, whatever length the library gives.
TEST(CtProbeMessages, KeepBoundedTexts) {
  CS_CONTEXT* context = nullptr;
  ASSERT_EQ(cs_ctx_alloc(CS_VERSION_100, &context), CS_SUCCEED);
  tw::ctprobe::KeptMessage kept;
  tw::ctprobe::KeptMessage* keptAt = &kept;
  ASSERT_EQ(cs_config(context, CS_SET, CS_USERDATA, &keptAt, sizeof keptAt, nullptr), CS_SUCCEED);
  const std::string full(CS_MAX_MSG, 'm');
  const std::string cut(tw::ctprobe::kMessageMax, 'm');
  struct Case {
    const char* name;
    bool server;
    int severity;
    std::string text;  // fills the buffer from its start; the rest stays NUL
    CS_INT length;
    std::string kept;
  } cases[] = {
      {"client error", false, CS_SV_COMM_FAIL, "Net-Lib failed", 14, "Net-Lib failed"},
      {"client information", false, CS_SV_INFORM, "Just so you know", 16, "before"},
      {"server error", true, 14, "Login failed.", 13, "Login failed."},
      {"server information", true, 10, "Changed database context", 24, "before"},
      {"length below the text", true, 16, "Login failed.", 5, "Login"},
      {"a text over 256 bytes", false, CS_SV_FATAL, full, CS_MAX_MSG, cut},
      {"a length past the buffer", true, 16, full, CS_MAX_MSG * 4, cut},
      {"a null-terminated length", false, CS_SV_FATAL, "short", CS_NULLTERM, "short"},
      {"a negative length, no terminator", true, 16, full, -1, cut},
  };
  for (const Case& c : cases) {
    kept.text = "before";
    CS_RETCODE rc;
    if (c.server) {
      CS_SERVERMSG message{};
      message.severity = c.severity;
      std::memcpy(message.text, c.text.data(), c.text.size());
      message.textlen = c.length;
      rc = tw::ctprobe::ServerMessage(context, nullptr, &message);
    } else {
      CS_CLIENTMSG message{};
      message.severity = c.severity;
      std::memcpy(message.msgstring, c.text.data(), c.text.size());
      message.msgstringlen = c.length;
      rc = tw::ctprobe::ClientMessage(context, nullptr, &message);
    }
    EXPECT_EQ(rc, CS_SUCCEED) << c.name;
    EXPECT_EQ(kept.text, c.kept) << c.name;
  }
  EXPECT_EQ(cs_ctx_drop(context), CS_SUCCEED);
}

}  // namespace
