// The probes' console: answers are bounded, an over-long one is refused and asked again, and
// the end of input ends every later question.
#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include "probe_test_util.h"

namespace {

using probetest::MemConsole;
using tw::probe::kAnswerMax;

TEST(ProbeConsole, ReadsBoundedAnswers) {
  const std::string longest(kAnswerMax, 'a');
  const std::string refused = "\nThe answer is longer than 99 characters; please answer again.\n";
  struct Case {
    std::string script;
    std::vector<std::string> answers;  // what each Ask gives until the end of input
    std::string out;                   // everything shown, prompts "? " included
  } cases[] = {
      {"abc\n", {"abc"}, "? ? "},
      {"abc\r\n\n", {"abc", ""}, "? ? ? "},
      {"last", {"last"}, "? ? "},
      {longest + "\n", {longest}, "? ? "},
      {longest + "b\nok\n", {"ok"}, "? " + refused + "? ? "},
      {std::string(5000, 'x') + "\r\n" + longest + "\r\n", {longest}, "? " + refused + "? ? "},
      {"", {}, "? "},
  };
  for (const Case& c : cases) {
    MemConsole mem(c.script);
    std::vector<std::string> got;
    std::string answer;
    while (mem.console().Ask("? ", kAnswerMax, false, answer)) got.push_back(answer);
    EXPECT_TRUE(answer.empty());
    EXPECT_EQ(got, c.answers) << c.script.substr(0, 20);
    EXPECT_EQ(mem.Out(), c.out) << c.script.substr(0, 20);
    // The end of input holds: a later question reads nothing.
    EXPECT_FALSE(mem.console().Ask("", kAnswerMax, false, answer));
  }
}

TEST(ProbeConsole, KeepsValuesAndReadsYes) {
  struct Case {
    std::string script;
    std::string value;  // after AskKeeping from "old"
    bool yes;           // AskYes after it
  } cases[] = {
      {"new\ny\n", "new", true}, {"\nYes\n", "old", true}, {"\nn\n", "old", false},
      {"new\n\n", "new", false}, {"new\n", "new", false},  {"", "old", false},
  };
  for (const Case& c : cases) {
    MemConsole mem(c.script);
    std::string value = "old";
    tw::probe::AskKeeping(mem.console(), "", value, false);
    EXPECT_EQ(value, c.value) << c.script;
    EXPECT_EQ(tw::probe::AskYes(mem.console(), ""), c.yes) << c.script;
  }
}

// A password read from a terminal is not echoed; the terminal's echo is back afterwards, and
// an answer that is not secret is echoed as typed.
TEST(ProbeConsole, PasswordsAreNotEchoedOnATerminal) {
  int master = -1, slave = -1;
  ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  FILE* in = ::fdopen(slave, "r");
  ASSERT_NE(in, nullptr);
  MemConsole mem("");
  tw::probe::Console console(in, mem.console().out(), mem.console().err());
  auto echoing = [&] {
    termios t{};
    EXPECT_EQ(::tcgetattr(slave, &t), 0);
    return (t.c_lflag & ECHO) != 0;
  };
  for (bool secret : {true, false}) {
    bool echoWhileRead = !secret;
    console.beforeRead = [&] {
      echoWhileRead = echoing();
      // Typed only now: switching the echo off drops what was typed before.
      ASSERT_EQ(::write(master, "tiger\n", 6), 6);
    };
    std::string answer;
    EXPECT_TRUE(console.Ask("Password: ", kAnswerMax, secret, answer));
    EXPECT_EQ(answer, "tiger");
    EXPECT_EQ(echoWhileRead, !secret);
    EXPECT_TRUE(echoing());
  }
  // The line break the user's Enter did not echo.
  EXPECT_EQ(mem.Out(), "Password: \nPassword: ");
  std::fclose(in);
  ::close(master);
}

}  // namespace
