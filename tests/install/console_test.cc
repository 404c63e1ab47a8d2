// The console installer's keywords: arguments taken whole, command files with quoted values,
// and every way a request is refused before anything runs.
#include "console.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plat_test_util.h"

namespace {

using tw::install::ConsoleParse;
using tw::install::ConsoleRequest;

struct Parsed {
  bool ok;
  std::string error;
  ConsoleRequest request;
};
Parsed Parse(const std::vector<std::string>& args) {
  Parsed p;
  p.ok = ConsoleParse(args, p.request, p.error);
  return p;
}

TEST(ConsoleKeywords, ArgumentsFillTheContext) {
  Parsed p = Parse({"installserver", "Tarnway=tw server 1", "ADMINSERVER=", "adminDatabase=a.odx",
                    "ADMINLOGDATABASE=l=og.odx", "snmp=Full", "TRANSLATION=qmbcs", "UPDATEENV=yes",
                    "DIRECTORY=/opt/tw", "DOCDATABASE=it's.odx", "VAULTDATABASE=$(touch x)"});
  ASSERT_TRUE(p.ok) << p.error;
  const auto& c = p.request.ctx;
  EXPECT_EQ(p.request.action, tw::install::Action::installServer);
  EXPECT_EQ(std::string(c.kitType), "2");
  EXPECT_EQ(c.existingCluster, 1);
  EXPECT_EQ(std::string(c.memberName), "tw server 1");
  EXPECT_EQ(std::string(c.adminServer), "");
  EXPECT_EQ(std::string(c.adminDatabase), "a.odx");
  EXPECT_EQ(std::string(c.logDatabase), "l=og.odx");
  EXPECT_EQ(std::string(c.snmpMode), "2");
  EXPECT_EQ(std::string(c.translateMode), "1");
  EXPECT_TRUE(p.request.updateEnv);
  EXPECT_EQ(std::string(c.installDir), "/opt/tw");
  EXPECT_EQ(std::string(c.docDatabase), "it's.odx");
  EXPECT_EQ(c.installDocDatabase, 1);
  EXPECT_EQ(std::string(c.vaultDatabase), "$(touch x)");
  EXPECT_EQ(c.createVault, 1);
}

// A command file's keywords may span lines and quote values either way; its name is used as
// typed, and what followed its "@" on the command line is not used.
TEST(ConsoleKeywords, CommandFile) {
  twtest::TempDir dir;
  const std::string file = dir.path() + "Tw1.cmd";
  twtest::WriteFile(file,
                    "INSTALLCLUSTER\r\n  TARNWAY='tw server 1' ADMINSERVER=\"ordex hub\"\n"
                    "-ADMINDATABASE=QTWADM.ODB\tADMINLOGDATABASE=QTWLOG.ODB snmp=query\n");
  Parsed p = Parse({"DELETEFILES=YES", "@" + file, "REMOVECLUSTER"});
  ASSERT_TRUE(p.ok) << p.error;
  const auto& c = p.request.ctx;
  EXPECT_EQ(p.request.action, tw::install::Action::installCluster);
  EXPECT_EQ(c.deleteFiles, 1);
  EXPECT_EQ(std::string(c.memberName), "tw server 1");
  EXPECT_EQ(std::string(c.adminServer), "ordex hub");
  EXPECT_EQ(std::string(c.adminDatabase), "QTWADM.ODB");
  EXPECT_EQ(std::string(c.logDatabase), "QTWLOG.ODB");
  EXPECT_EQ(std::string(c.snmpMode), "1");
  EXPECT_EQ(p.request.notes, "");
  // A file that cannot be opened is reported and the scan goes on with what followed it.
  Parsed upper = Parse({"@" + dir.path() + "TW1.CMD", "REMOVECLUSTER", "DELETEFILES=YES"});
  ASSERT_TRUE(upper.ok) << upper.error;
  EXPECT_EQ(upper.request.notes, "error opening cmdfile " + dir.path() + "TW1.CMD\n");
  EXPECT_EQ(upper.request.action, tw::install::Action::removeCluster);
  EXPECT_EQ(upper.request.ctx.deleteFiles, 1);
  Parsed alone = Parse({"@" + dir.path() + "none.cmd"});
  ASSERT_TRUE(alone.ok) << alone.error;
  EXPECT_EQ(alone.request.notes, "error opening cmdfile " + dir.path() + "none.cmd\n");
  EXPECT_EQ(alone.request.action, tw::install::Action::none);
}

TEST(ConsoleKeywords, RefusedRequests) {
  twtest::TempDir dir;
  twtest::WriteFile(dir.path() + "last.cmd", "INSTALLCLUSTER TARNWAY");
  twtest::WriteFile(dir.path() + "big.cmd", std::string(5000, ' ') + "INSTALLCLUSTER");
  struct Case {
    std::vector<std::string> args;
    std::string error;
  } cases[] = {
      {{"INSTALLSERVER", "REMOVESERVER"},
       "Error - conflicting options, 'INSTALLSERVER' and 'REMOVESERVER'.\n"},
      {{"INSTALLSERVER", "installserver"},
       "Error - conflicting options, 'INSTALLSERVER' and 'INSTALLSERVER'.\n"},
      {{"INSTALLSERVER", "BOGUS=1"}, "Unrecognized keyword: BOGUS\n"},
      {{"=x"}, "Missing keyword before '='\n"},
      {{"INSTALLSERVER", "TARNWAY"}, "Missing value for keyword: TARNWAY\n"},
      {{"SNMP"}, "Missing value for keyword: SNMP\n"},
      {{"@" + dir.path() + "last.cmd"}, "Missing value for keyword: TARNWAY\n"},
      {{"SNMP=loud"}, "invalid snmp value: loud\n"},
      {{"TRANSLATION=on"}, "invalid text translate value: on\n"},
      {{"DELETEFILES=maybe"}, "invalid value: maybe\n"},
      {{"TARNWAY=" + std::string(256, 'n')},
       "Value too long for keyword TARNWAY (at most 255 characters)\n"},
      {{"ADMINSERVER=" + std::string(128, 's')},
       "Value too long for keyword ADMINSERVER (at most 127 characters)\n"},
      {{"DIRECTORY=/" + std::string(254, 'd')},
       "Value too long for keyword DIRECTORY (at most 254 characters)\n"},
      {std::vector<std::string>(300, "HELP=123456789"),
       "The command line is too long (at most 4095 characters)\n"},
      {{"@" + dir.path() + "big.cmd"},
       "The command file " + dir.path() + "big.cmd is too long (at most 4095 characters)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.front());
    Parsed p = Parse(c.args);
    EXPECT_FALSE(p.ok);
    EXPECT_EQ(p.error, c.error);
  }
}

TEST(ConsoleKeywords, LongestValuesFit) {
  Parsed p = Parse({"TARNWAY=" + std::string(255, 'n'), "ADMINSERVER=" + std::string(127, 's')});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(std::string(p.request.ctx.memberName).size(), 255u);
  // What the help text names as defaults.
  EXPECT_EQ(std::string(p.request.ctx.snmpMode), "0");
  EXPECT_EQ(std::string(p.request.ctx.translateMode), "0");
}

}  // namespace

namespace {

TEST(ConsoleRun, NoActionIsAFailure) {
  ConsoleRequest request;
  FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(tw::install::ConsoleSetupRun(request, out), 1);
  std::rewind(out);
  char text[128] = "";
  size_t n = std::fread(text, 1, sizeof text - 1, out);
  std::fclose(out);
  EXPECT_EQ(std::string(text, n), "no action specified  - setup quiting\n");
}

}  // namespace
