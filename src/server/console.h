// The operator console of twmain: shows start-up information, a menu and a prompt, turns the
// operator's one-letter commands into scheduler commands and shows the scheduler's console
// events, until the scheduler has ended (event 13).
//
// Lines come from a keyboard thread that reads the input (standard input: a terminal or a
// pipe) into the console's keyboard pipe. The end of the input (a server started without a
// console, as a service manager starts it) only ends the reading: the server keeps serving
// until a command, the SNMP link or a signal stops it.
//
// Thread rules: construct, run and destroy on one thread (the main thread); the console
// touches only its own data and exchanges records with the scheduler through the two pipes.
#ifndef TW_SERVER_CONSOLE_H_
#define TW_SERVER_CONSOLE_H_

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform.h"
#include "records.h"

namespace tw::server {

class Console {
 public:
  // States of the console.
  enum State { kStarting = 1, kFailed = 2, kReady = 3, kConfirmKill = 4, kConfirmStop = 5 };

  // Creates the keyboard pipe, waits for the scheduler's first event on events and, after
  // event 1, starts the keyboard thread reading in. Output goes to out. The pipes stay the
  // caller's and must outlive the console; in and out stay open until it is destroyed.
  Console(TWProcPipe* scheduler, TWProcPipe* events, FILE* in = stdin, FILE* out = stdout);
  // Stops the keyboard thread (a thread still blocked reading a terminal is let go; it ends
  // without touching the console) and destroys the keyboard pipe.
  ~Console();
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  // Runs the console until event 13 and answers 0; answers 1 at once when start-up failed
  // or did not reach the command state (posting SchedDown when the scheduler had started).
  int Run();

  // Whether the control-store manager is to be shut down at the end: yes once the keyboard
  // pipe was made, unless the scheduler's first event said that another server holds the
  // run table.
  bool shutdownControlStore() const { return shutdownStore_; }
  State state() const { return state_; }

 private:
  struct Keyboard;
  // The keyboard thread's procedure (argument: a heap copy of the shared Keyboard).
  static uint32_t KeyboardThread(void* argument);

  void LoadTexts();
  const std::string& Text(uint32_t id);
  void Start();
  bool StartKeyboard();
  void StopKeyboard();

  void Write(std::string_view text);
  void LineEnd() { Write("\n"); }
  void Line(std::string_view text) {
    Write(text);
    LineEnd();
  }
  // The text of id through the formatter, without a line end.
  void Print(uint32_t id, const std::vector<std::string>& args = {});
  void Menu();
  void Prompt() { Write("====>"); }

  void Post(int32_t code, int32_t argument = 0);
  void OnLine(const std::string& line);
  void OnCommand(const std::vector<std::string>& tokens);
  void OnTrace(const std::vector<std::string>& tokens);
  void OnKillAnswer(const std::string& line);
  void NextKill();
  void OnInputEnded();
  // False for event 13.
  bool OnEvent(const ConsoleEvent& e);
  void ShowStatus(const ConsoleEvent& e);

  TWProcPipe* scheduler_;
  TWProcPipe* events_;
  FILE* in_;
  FILE* out_;
  State state_ = kStarting;
  bool shutdownStore_ = false;
  bool started_ = false;       // event 1 was seen
  bool inputHandled_ = false;  // the end of the input was acted on
  std::shared_ptr<Keyboard> keyboard_;
  TWProcThread* keyboardThread_ = nullptr;
  std::map<uint32_t, std::string> texts_;
  std::string title_;
  std::string serverName_;
  std::string startTime_;
  std::string lastLine_;
  std::vector<int32_t> killList_;
  size_t killIndex_ = 0;
  int pageLines_ = 0;
};

// A date-time as the native text of TWStreamFromDatetime; "" when it cannot be written.
std::string DatetimeText(const TWDatetime& time);

// Formats text with the console's formatter: "%d" takes the next argument as a decimal
// integer and "%s" as text; any other character after "%" is written without the "%".
// Exposed for tests.
std::string FormatConsoleText(std::string_view text, const std::vector<std::string>& args);

}  // namespace tw::server

#endif  // TW_SERVER_CONSOLE_H_
