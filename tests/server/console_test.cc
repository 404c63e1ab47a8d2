// The operator console driven through a pipe, against a scheduler stand-in: start-up, the
// commands and their scheduler commands, the confirmations, the texts of every event, and
// the end of the input.
#include "console.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "server_test_util.h"
#include "standin_util.h"

namespace twtest {
namespace {

using tw::server::Console;
namespace srv = tw::server;

constexpr TWDatetime kStart = kStandInStart;

const std::string kMenu =
    "\n (H)elp\n (L)ist\n (C)lose\n (K)ill\n (R)econfigure\n (S)tatus\n  Shut(D)own\n  Sto(P)\n";
const std::string kPrompt = "====>";

SchedulerCommand Cmd(int32_t code, int32_t argument = 0) {
  return SchedulerCommand{code, srv::kSourceConsole, argument, 0};
}

class ConsoleTest : public StandInTest {
 protected:
  ConsoleTest() : StandInTest(srv::kConsoleEventPipeSize) {
    int fds[2];
    EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    in_ = ::fdopen(fds[0], "r");
    inWrite_ = fds[1];
  }
  ~ConsoleTest() override {
    Finish();
    standIn_.reset();
    std::fclose(in_);
  }

  // Constructs the console after the scheduler's first event and, when it reached its
  // command state, runs it on a thread.
  void Start(const ConsoleEvent& first = Started(), std::vector<StandInRun> runs = {}) {
    StartStandIn(std::move(runs));
    ASSERT_EQ(srv::PostConsoleEvent(events_.get(), first), TWSUCCESS);
    console_ = std::make_unique<Console>(commands_.get(), events_.get(), in_, out_.file());
    if (console_->state() == Console::kReady) {
      running_ = true;
      runner_ = std::thread([this] { rc_ = console_->Run(); });
      // The banner ends with the first prompt.
      EXPECT_TRUE(Eventually([&] {
        std::string text = out_.text();
        return text.size() >= kPrompt.size() &&
               text.compare(text.size() - kPrompt.size(), kPrompt.size(), kPrompt) == 0;
      }));
    }
  }

  // Types line and answers what the console printed for it (expected tells how much to wait
  // for).
  std::string Type(const std::string& line, const std::string& expected) {
    size_t from = out_.size();
    Write(line + "\n");
    return out_.After(from, expected);
  }
  void Write(const std::string& bytes) {
    ASSERT_EQ(::write(inWrite_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // Posts an event and answers what the console printed for it.
  std::string Show(const ConsoleEvent& e, const std::string& expected) {
    size_t from = out_.size();
    EXPECT_EQ(srv::PostConsoleEvent(events_.get(), e), TWSUCCESS);
    return out_.After(from, expected);
  }

  void EndInput() {
    if (inWrite_ >= 0) ::close(inWrite_);
    inWrite_ = -1;
  }

  // Ends the input, ends the run with event 13 and destroys the console.
  void Finish() {
    if (console_ && running_) {
      EndInput();
      EXPECT_EQ(srv::PostConsoleEvent(events_.get(), Event(srv::EventEnded)), TWSUCCESS);
      runner_.join();
      running_ = false;
    }
    console_.reset();
    out_.Close();
  }

  // Types line as the last of the input (its end right behind the line) and waits until
  // the console has printed expected for it.
  bool TypeLast(const std::string& line, const std::string& expected) {
    size_t from = out_.size();
    Write(line + "\n");
    EndInput();
    return Eventually([&] { return out_.text().find(expected, from) != std::string::npos; });
  }
  FILE* in_ = nullptr;
  int inWrite_ = -1;
  CapturedOutput out_;
  std::unique_ptr<Console> console_;
  std::thread runner_;
  bool running_ = false;
  int rc_ = -1;
};

TEST_F(ConsoleTest, StartsWithTheBannerAndEndsOnEvent13) {
  Start();
  Finish();
  EXPECT_EQ(rc_, 0);
  EXPECT_EQ(out_.text(),
            "\nInitialization successful.\n"
            "\nQuendal Tarnway Server Release 2.0\n"
            "Server Name:              Tarnway/Test\n"
            "Server running since:     " +
                TimeText(kStart) + "\n" + kMenu + kPrompt);
  EXPECT_TRUE(Commands().empty());
}

// A server without a console (input at its end) serves on: the end of the input asks
// nothing of the scheduler, and events are still shown.
TEST_F(ConsoleTest, TheEndOfTheInputLeavesTheServerServing) {
  Start();
  const std::string status = "Max Activities:    4\n" + kMenu + kPrompt;
  EXPECT_TRUE(TypeLast("s", status));
  const std::string none = "\n<No Activities Running>\n" + kMenu + kPrompt;
  EXPECT_EQ(Show(Event(srv::EventListEmpty), none), none);
  EXPECT_EQ(Commands(), std::vector<SchedulerCommand>{Cmd(srv::SchedShowStatus)});
}

TEST_F(ConsoleTest, StartUpFailuresEndTheConsoleAndSayWhetherToShutTheStoreDown) {
  struct Case {
    int32_t first;
    bool shutdownStore;
  };
  for (const Case c : {Case{srv::EventStartFailed, true}, Case{srv::EventTableHeld, false},
                       Case{srv::EventListEmpty, true}}) {
    SCOPED_TRACE(c.first);
    Pipe commands(srv::kSchedulerPipeSize), events(srv::kConsoleEventPipeSize);
    CapturedOutput out;
    ASSERT_EQ(srv::PostConsoleEvent(events.get(), Event(c.first)), TWSUCCESS);
    {
      Console console(commands.get(), events.get(), in_, out.file());
      EXPECT_EQ(console.shutdownControlStore(), c.shutdownStore);
      EXPECT_EQ(console.Run(), 1);
    }
    out.Close();
    EXPECT_EQ(out.text(), "\nInitialization failed.\n");
    // The scheduler is told to go down; the console reads no keyboard.
    SchedulerCommand posted;
    ASSERT_TRUE(TWProcPipePeek(commands.get()));
    ASSERT_EQ(srv::ReadSchedulerCommand(commands.get(), &posted), TWSUCCESS);
    EXPECT_EQ(posted, Cmd(srv::SchedDown));
    EXPECT_FALSE(TWProcPipePeek(commands.get()));
  }
}

TEST_F(ConsoleTest, CommandLinesPostTheirSchedulerCommands) {
  Start(Started(), {StandInRun{1, "Nightly"}, StandInRun{3, "Weekly"}});
  struct Case {
    const char* line;
    std::vector<SchedulerCommand> posted;
  };
  const Case cases[] = {
      {"l", {Cmd(srv::SchedList)}},
      {"2", {Cmd(srv::SchedList)}},
      {"S", {Cmd(srv::SchedShowStatus)}},
      {"c 1,3", {Cmd(srv::SchedClose, 1), Cmd(srv::SchedClose, 3)}},
      {"Close\t4", {Cmd(srv::SchedClose, 4)}},
      {"r", {Cmd(srv::SchedRefresh)}},
      {"v + 8", {Cmd(srv::SchedTraceOn, 8)}},
      {"V,-,32", {Cmd(srv::SchedTraceOff, 32)}},
      {"d", {Cmd(srv::SchedDown)}},
  };
  std::vector<SchedulerCommand> expected;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Write(std::string(c.line) + "\n");
    expected.insert(expected.end(), c.posted.begin(), c.posted.end());
    ASSERT_TRUE(standIn_->WaitForCommands(expected.size()));
    EXPECT_EQ(Commands(), expected);
  }
}

TEST_F(ConsoleTest, LinesWithoutASchedulerCommandAreAnsweredByTheConsole) {
  Start();
  std::string help;
  for (const char* line :
       {"Help -", "   Usage   H | h | ?             - display full help.", "List -",
        "   Usage   L | l                 - list all of the activities.", "Close -",
        "   Usage   C | c <index,...>     - close the index activity.", "Kill -",
        "   Usage   K | k <index,...>     - kill the index activity.", "Reconfigure -",
        "   Usage   R | r                 - reconfigure this server", "Status -",
        "   Usage   S | s                 - show the status of the server including",
        "                                     startup information.", "Shutdown -",
        "   Usage   D | d                 - shutdown the server when the last",
        "                                     running activity is finished.", "Stop -",
        "   Usage   P | p                 - Stop the server now!"})
    help += std::string(line) + "\n";
  const std::string classes =
      "Show notify message                  1\nShow polling message                 2\n"
      "Show Activity launch                 4\nShow Activity Done                   8\n"
      "Show Thread Timeout                 16\nShow Activity Errors                32\n"
      "Show Control Store Manager Errors   64\nShow Attempts to kill threads      128\n";
  const std::string noIndex = "\n\nSyntax Error (no activity index supplied).\n";
  const std::string badSyntax = "\nBad Syntax.\n" + kMenu + kPrompt;
  struct Case {
    std::string line;
    std::string shown;
  };
  const Case cases[] = {
      {"", kMenu + kPrompt},
      {" \t, ", kMenu + kPrompt},
      {"h", help + kMenu + kPrompt},
      {"?", help + kMenu + kPrompt},
      {"x1 2", "Unknown command 'x1'\n" + kMenu + kPrompt},
      {"7", "Unknown command '7'\n" + kMenu + kPrompt},
      {"c", noIndex},
      {"K", noIndex},
      {"v ?", classes + kMenu + kPrompt},
      {"v +8", badSyntax},
      {"v + ", badSyntax},
      {"v", badSyntax},
      {"100%d", "Unknown command '100%d'\n" + kMenu + kPrompt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(Type(c.line, c.shown), c.shown);
  }
  EXPECT_TRUE(Commands().empty());
}

TEST_F(ConsoleTest, AKillIsConfirmedNumberByNumber) {
  Start(Started(), {StandInRun{2, "Nightly"}, StandInRun{5, "Weekly"}, StandInRun{6, "Daily"}});
  const std::string ask2 = "Are you sure you want to kill activity 'Nightly' [y/n][N]";
  const std::string ask5 = "Are you sure you want to kill activity 'Weekly' [y/n][N]";
  const std::string ask6 = "Are you sure you want to kill activity 'Daily' [y/n][N]";
  EXPECT_EQ(Type("k 2 5", ask2), ask2);
  // Any answer but one beginning with y leaves the run, and the next number is asked for.
  EXPECT_EQ(Type("no", ask5), ask5);
  const std::string killed5 = "\nAttempting to kill activity 'Weekly' (user request).";
  EXPECT_EQ(Type("  yes", killed5), killed5);
  ASSERT_TRUE(standIn_->WaitForCommands(3));
  EXPECT_EQ(Commands(), (std::vector<SchedulerCommand>{Cmd(srv::SchedKillPrompt, 2),
                                                       Cmd(srv::SchedKillPrompt, 5),
                                                       Cmd(srv::SchedKillConfirmed, 5)}));
  // A number without a run is reported and the next one asked for; the last answer ends the
  // list and the console takes commands again.
  const std::string missing = "\nThere is no activity to kill at 9" + ask6;
  EXPECT_EQ(Type("K 9,6", missing), missing);
  const std::string killed6 = "\nAttempting to kill activity 'Daily' (user request).";
  EXPECT_EQ(Type("Y", killed6), killed6);
  EXPECT_EQ(Type("", kMenu + kPrompt), kMenu + kPrompt);
  ASSERT_TRUE(standIn_->WaitForCommands(6));
  std::vector<SchedulerCommand> all = Commands();
  EXPECT_EQ(
      std::vector<SchedulerCommand>(all.begin() + 3, all.end()),
      (std::vector<SchedulerCommand>{Cmd(srv::SchedKillPrompt, 9), Cmd(srv::SchedKillPrompt, 6),
                                     Cmd(srv::SchedKillConfirmed, 6)}));
}

TEST_F(ConsoleTest, AStopNeedsAnAnswerBeginningWithY) {
  Start();
  const std::string ask = "Are you sure you want to stop [y/n][N]";
  EXPECT_EQ(Type("p", ask), ask);
  // "n" leaves the server running; the next line is a command again.
  Write("n\n");
  const std::string unknown = "Unknown command 'x'\n" + kMenu + kPrompt;
  EXPECT_EQ(Type("x", unknown), unknown);
  EXPECT_TRUE(Commands().empty());
  EXPECT_EQ(Type("P", ask), ask);
  const std::string stopping = "\nAttempting to Stop (will Close running Activities)";
  EXPECT_EQ(Type("yes", stopping), stopping);
  EXPECT_EQ(Commands(), std::vector<SchedulerCommand>{Cmd(srv::SchedStop)});
}

TEST_F(ConsoleTest, TheEndOfTheInputAnswersAPendingQuestionNo) {
  Start(Started(), {StandInRun{2, "Nightly"}});
  const std::string ask = "Are you sure you want to stop [y/n][N]";
  EXPECT_EQ(Type("p", ask), ask);
  EndInput();
  // Back in its command state, the console shows what the scheduler posts.
  const std::string none = "\n<No Activities Running>\n" + kMenu + kPrompt;
  EXPECT_EQ(Show(Event(srv::EventListEmpty), none), none);
  Finish();
  EXPECT_TRUE(Commands().empty());
}

TEST_F(ConsoleTest, EventsAreShownWithTheirTexts) {
  Start();
  ConsoleEvent line = Event(srv::EventListLine, 3, "Nightly 100%");
  line.time = kStart;
  ConsoleEvent closing = line;
  closing.closeRequested = 1;
  const std::string since = TimeText(kStart);
  auto status = [](int32_t state) {
    ConsoleEvent e = Event(srv::EventStatus);
    e.status = srv::StatusValues{7, 15, 30, 60, 20, 4, state};
    e.time = kStart;
    return e;
  };
  auto statusText = [&](const std::string& stateLine) {
    return "\nQuendal Tarnway Server Release 2.0\nServer Name:              Tarnway/Test\n"
           "Server running since:     " +
           since + "\nCurrent Tarnway time:   " + since + "\n" + stateLine +
           "\n\nServer Status\nServer ID:         7\nStatus Interval:   15 (min)\n"
           "Polling Interval:  30 (sec)\nClose Timeout:     20 (sec)\nMax Run time:      60 (min)\n"
           "Max Activities:    4\n" +
           kMenu + kPrompt;
  };
  struct Case {
    ConsoleEvent event;
    std::string shown;
  };
  const Case cases[] = {
      {Event(srv::EventListEmpty), "\n<No Activities Running>\n" + kMenu + kPrompt},
      {Event(srv::EventListBegin), "\nList of running activities.\n"},
      {line, "     [3]..'Nightly 100%' running since " + since + " Running\n"},
      {closing, "     [3]..'Nightly 100%' running since " + since + " Attempting to Close\n"},
      {Event(srv::EventListEnd), kMenu + kPrompt},
      {status(srv::kStateRunning), statusText("The Tarnway Server is:  Running")},
      {status(srv::kStateShuttingDown), statusText("The Tarnway Server is:  Shutting down")},
      {status(srv::kStateStopping), statusText("The Tarnway Server is:  Stopping")},
      {status(0), statusText("The Tarnway Server is not running normally")},
      {Event(srv::EventTrace, 4112, "Nightly"), "\nActivity started 'Nightly'."},
      {Event(srv::EventTrace, 4100), "\nPolling for Activities."},
      {Event(srv::EventWaiting), "\nWaiting for all activities..."},
      {Event(srv::EventShutdown), "\nStarting Shutdown..."},
      {Event(srv::EventStopping), "\nAttempting to Stop (will Close running Activities)"},
      {Event(srv::EventClosing, 1, "A"), "\nAttempting to close activity 'A' (user request)."},
      {Event(srv::EventClosing, 2, "A"),
       "\nAttempting to close activity 'A' (server is stopping)."},
      {Event(srv::EventClosing, 3, "A"),
       "\nAttempting to close activity 'A' (activity timed out)."},
      {Event(srv::EventKilled, 1, "B"), "\nAttempting to kill activity 'B' (user request)."},
      {Event(srv::EventKilled, 2, "B"),
       "\nAttempting to kill activity 'B' (server is stopping, and could not close)."},
      {Event(srv::EventKilled, 3, "B"),
       "\nAttempting to kill activity 'B' (activity timeout, and would not close)."},
      {Event(srv::EventNoRunToKill, 8), "\nThere is no activity to kill at 8"},
      {Event(srv::EventNoRunToClose, 9), "\nThere is no activity to close at 9"},
      {Event(srv::EventStarted), "Unexpected internal message.\n"},
      {Event(srv::EventKilled, 4, "B"), "Unexpected internal message.\n"},
      {Event(99), "Unexpected internal message.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown);
    EXPECT_EQ(Show(c.event, c.shown), c.shown);
  }
}

TEST_F(ConsoleTest, ALongLineIsCutToOneCommandNotSplitIntoMore) {
  Start();
  std::string token(300, 'x');
  std::string shown = "Unknown command '" + std::string(255, 'x') + "'\n" + kMenu + kPrompt;
  EXPECT_EQ(Type(token + " 1", shown), shown);
  // Only the one answer came: the next line is answered right after it.
  EXPECT_EQ(Type("", kMenu + kPrompt), kMenu + kPrompt);
  // A line ended by CR LF reads like one ended by LF.
  const std::string unknown = "Unknown command 'x'\n" + kMenu + kPrompt;
  EXPECT_EQ(Type("x\r", unknown), unknown);
}

TEST(ConsoleFormatTest, KnowsOnlyIntegersAndTexts) {
  struct Case {
    const char* text;
    std::vector<std::string> args;
    const char* out;
  };
  const Case cases[] = {
      {"[%d]..'%s'", {"3", "A"}, "[3]..'A'"},
      {"100%% %x%", {}, "100% x"},
      {"%s and %s", {"one"}, "one and "},
      {"plain", {"unused"}, "plain"},
  };
  for (const Case& c : cases) EXPECT_EQ(tw::server::FormatConsoleText(c.text, c.args), c.out);
}

}  // namespace
}  // namespace twtest
