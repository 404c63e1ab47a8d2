// The Oracle connector's connection: connect texts, properties, character sets, commit
// counting and the end of a connection, against ORA72 databases of the test's own.
#include <gtest/gtest.h>

#include "oracle_test_util.h"

namespace oracle_test {
namespace {

using link_test::GetInt;
using link_test::GetText;
using link_test::SetInt;
using link_test::SetText;

TEST(OracleConnection, ConnectTexts) {
  Server server;
  server.Make("ORCL");
  server.Make("OPEN", "");
  struct Case {
    const char* user;
    const char* password;  // empty: not set
    const char* server;    // empty: not set
    const char* sid;       // ORA72_SID, or null
    uint32_t status;
    int externalCode;  // the server's return code logged, 0: none
  };
  const Case cases[] = {
      {"scott", "tiger", "ORCL", nullptr, TWSUCCESS, 0},
      {"SCOTT", "TIGER", "ORCL", nullptr, TWSUCCESS, 0},
      {"scott", "", "OPEN", nullptr, TWSUCCESS, 0},  // no "/" without a password
      {"scott", "tiger", "", "ORCL", TWSUCCESS, 0},  // no "@" without a server
      {"scott", "wrong", "ORCL", nullptr, TWFAIL_EXTERNAL, ORA_RC_LOGON_DENIED},
      {"scott", "tiger", "OPEN", nullptr, TWFAIL_EXTERNAL, ORA_RC_LOGON_DENIED},
      {"scott", "tiger", "NOPE", nullptr, TWFAIL_EXTERNAL, ORA_RC_NO_SERVICE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.user) + "/" + c.password + "@" + c.server);
    if (c.sid) {
      setenv("ORA72_SID", c.sid, 1);
    } else {
      unsetenv("ORA72_SID");
    }
    Link link;
    link.Str(TWTOKEN_USERID, c.user);
    if (*c.password) link.Str(TWTOKEN_PASSWORD, c.password);
    if (*c.server) link.Str(TWTOKEN_SERVER, c.server);
    EXPECT_EQ(link.c.Connect(), c.status);
    EXPECT_EQ(link.c.connected(), c.status == TWSUCCESS);
    if (c.externalCode != 0) {
      twtest::LastEntry last = twtest::LogLast();
      EXPECT_EQ(last.status, TWFAIL_EXTERNAL);
      EXPECT_EQ(last.externalCode, static_cast<uint32_t>(c.externalCode));
      // The server's text, without its closing newline.
      EXPECT_EQ(last.externalText.rfind("ORA-" + std::string(c.externalCode < 10000 ? "0" : "") +
                                            std::to_string(c.externalCode) + ": ",
                                        0),
                0u)
          << last.externalText;
      EXPECT_EQ(last.externalText.find('\n'), std::string::npos) << last.externalText;
    }
  }
  unsetenv("ORA72_SID");
}

TEST(OracleConnection, PropertiesServedAndRefused) {
  Server server;
  Link link;
  uint32_t st = 0;
  struct Refused {
    uint32_t token;
    bool set;  // a set, else a get
  };
  for (Refused r : {Refused{TWTOKEN_PASSWORD, false}, Refused{TWTOKEN_DATABASE, false},
                    Refused{TWTOKEN_DATABASE, true}, Refused{TWTOKEN_TEXT_FORMAT, true}}) {
    if (r.set) {
      EXPECT_EQ(SetText(link.c, r.token, "x"), TWFAIL_INVALID_PROPERTY) << r.token;
    } else {
      EXPECT_FALSE(GetText(link.c, r.token, &st)) << r.token;
      EXPECT_EQ(st, TWFAIL_INVALID_PROPERTY) << r.token;
    }
  }
  EXPECT_EQ(SetInt(link.c, oracle::kCreateLongByUser, 3), TWSUCCESS);
  EXPECT_EQ(GetInt(link.c, oracle::kCreateLongByUser), 3);
  link.Num(oracle::kCreateLongByUser, 2).Str(TWTOKEN_METADATA, "T").Str(TWTOKEN_INDEX, "TI");
  EXPECT_EQ(GetInt(link.c, oracle::kCreateLongByUser), 2);
  EXPECT_EQ(GetText(link.c, TWTOKEN_INDEX), "TI");
  EXPECT_EQ(GetInt(link.c, TWTOKEN_TEXT_FORMAT), static_cast<int32_t>(TWSTREAMFMT_NATIVE));
  // Each METADATA value is a new generation.
  uint32_t before = link.c.metadataGeneration;
  link.Str(TWTOKEN_METADATA, "U");
  EXPECT_GT(link.c.metadataGeneration, before);
  EXPECT_LT(link.c.metadataGeneration, link.c.nextGeneration);
}

TEST(OracleConnection, ServerCharacterSetDecidesTheTextFormat) {
  Server server;
  struct Case {
    const char* charset;
    uint32_t format;
    bool warned;
  };
  const Case cases[] = {
      {"WE8ISO8859P1", TWSTREAMFMT_ISO88591, false},
      {"US7ASCII", TWSTREAMFMT_ASCII, false},
      {"JA16SJIS", TWSTREAMFMT_CP932, false},
      {"WE8DG", TWSTREAMFMT_NATIVE, true},       // in the table, unreadable by the engine
      {"we8iso8859p1", TWSTREAMFMT_NATIVE, true},  // names match case included
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.charset);
    std::string name = "S" + std::to_string(n++);
    server.Make(name.c_str(), "tiger", c.charset);
    Link link;
    link.Str(TWTOKEN_USERID, "scott").Str(TWTOKEN_PASSWORD, "tiger").Str(TWTOKEN_SERVER, name);
    link.Str(TWTOKEN_METADATA, "Caf\xc3\xa9");
    ASSERT_EQ(link.c.Connect(), TWSUCCESS);
    EXPECT_EQ(GetInt(link.c, TWTOKEN_TEXT_FORMAT), static_cast<int32_t>(c.format));
    twtest::LastEntry last = twtest::LogLast();
    if (c.warned) {
      EXPECT_EQ(last.status, TWEVENT_CHARACTER_SET);
      EXPECT_NE(last.text.find(c.charset), std::string::npos) << last.text;
    } else {
      EXPECT_NE(last.status, TWEVENT_CHARACTER_SET);
    }
    // METADATA now travels in the connection's format and reads back the same.
    if (c.format == TWSTREAMFMT_ISO88591) {
      EXPECT_EQ(link.c.props.metadata.format, c.format);
    }
    if (c.format != TWSTREAMFMT_ASCII) {
      EXPECT_EQ(GetText(link.c, TWTOKEN_METADATA), "Caf\xc3\xa9");
    }
  }
}

TEST(OracleConnection, CommitCountingAndEnd) {
  Server server;
  server.Make("ORCL");
  Link link;
  link.Str(TWTOKEN_USERID, "scott").Str(TWTOKEN_PASSWORD, "tiger").Str(TWTOKEN_SERVER, "ORCL");
  ASSERT_EQ(link.c.Connect(), TWSUCCESS);
  // Units reach or pass the frequency: an array of seven counts at once.
  link.Num(oracle::kCommitFrequency, 5);
  struct Step {
    uint32_t units, after;
  };
  for (Step s : {Step{1, 1}, Step{3, 4}, Step{1, 0}, Step{2, 2}, Step{7, 0}}) {
    ASSERT_EQ(link.c.CountWritten(s.units), TWSUCCESS);
    EXPECT_EQ(link.c.sinceCommit(), s.after) << s.units;
  }
  ASSERT_EQ(link.c.CountWritten(2), TWSUCCESS);
  EXPECT_EQ(link.c.Action(TWACTION_COMMIT), TWSUCCESS);
  EXPECT_EQ(link.c.sinceCommit(), 0u);
  EXPECT_EQ(link.c.Action(TWACTION_ROLLBACK), TWSUCCESS);
  EXPECT_EQ(link.c.Action(99), TWFAIL_UNAVAILABLE);
  // Frequency 0 and 1 count nothing.
  for (int32_t f : {0, 1}) {
    link.Num(oracle::kCommitFrequency, f);
    ASSERT_EQ(link.c.CountWritten(10), TWSUCCESS);
    EXPECT_EQ(link.c.sinceCommit(), 0u);
  }
  EXPECT_EQ(link.c.Disconnect(1), TWSUCCESS);
  EXPECT_FALSE(link.c.connected());
  EXPECT_EQ(link.c.Disconnect(0), TWSUCCESS);
  // A reconnect works as the first connect.
  ASSERT_EQ(link.c.Connect(), TWSUCCESS);
  EXPECT_EQ(GetInt(link.c, TWTOKEN_TEXT_FORMAT), static_cast<int32_t>(TWSTREAMFMT_ISO88591));
}

}  // namespace
}  // namespace oracle_test
