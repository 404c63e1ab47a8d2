// The operator console: keyboard thread, command parser, event display.
#include "console.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <utility>

#include "catalogue.h"
#include "flowcore.h"

namespace tw::server {
namespace {

// Runs of catalogue rows the console shows in order.
struct Range {
  uint32_t first;
  uint32_t last;
};
constexpr Range kMenu{TWMSG_MENU_HELP, TWMSG_MENU_STOP};
constexpr Range kHelp{TWMSG_HELP_HELP, TWMSG_HELP_STOP_USAGE};
constexpr Range kTrace{TWMSG_TRACE_KILLING_POLL, TWMSG_TRACE_COMPLETED_ERROR};
constexpr Range kConsoleTexts{TWMSG_CONSOLE_KEYBOARD_PIPE, TWMSG_CONSOLE_NO_RUN_TO_CLOSE};
constexpr Range kTraceClasses{TWMSG_TRACE_CLASS_NOTIFY, TWMSG_TRACE_CLASS_INTERNAL};
// "V ?" lists the first eight classes.
constexpr uint32_t kTraceClassesShown = 8;
constexpr uint32_t kTextSize = 256;

std::vector<std::string> Tokens(std::string_view line) {
  std::vector<std::string> tokens;
  size_t i = 0;
  while (i < line.size()) {
    size_t start = line.find_first_not_of(" \t,", i);
    if (start == std::string_view::npos) break;
    size_t end = line.find_first_of(" \t,", start);
    if (end == std::string_view::npos) end = line.size();
    tokens.emplace_back(line.substr(start, end - start));
    i = end;
  }
  return tokens;
}

// A decimal number as atoi reads it (leading blanks, a sign, the digits that follow; none
// gives 0), kept within 32 bits.
int32_t Number(std::string_view token) {
  size_t i = 0;
  while (i < token.size() && (token[i] == ' ' || token[i] == '\t')) ++i;
  bool negative = false;
  if (i < token.size() && (token[i] == '+' || token[i] == '-')) negative = token[i++] == '-';
  int64_t value = 0;
  for (; i < token.size() && token[i] >= '0' && token[i] <= '9'; ++i) {
    value = value * 10 + (token[i] - '0');
    if (value > INT32_MAX) value = static_cast<int64_t>(INT32_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) value = INT32_MAX;
  return static_cast<int32_t>(value);
}

bool IsYes(std::string_view text) {
  return !text.empty() && (text[0] == 'y' || text[0] == 'Y');
}

char Upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Reads one line (without its line end and a CR before it) and keeps at most the first
// kKeyboardLineSize - 1 characters: the rest of a longer line is dropped rather than taken
// for further commands. False at the end of the input with nothing read.
bool ReadLine(FILE* in, std::string* line) {
  line->clear();
  bool any = false;
  char c;
  while (TWFileRead(in, 1, &c) == 1) {
    any = true;
    if (c == '\n') break;
    if (line->size() < kKeyboardLineSize) *line += c;
  }
  if (!line->empty() && line->back() == '\r') line->pop_back();
  if (line->size() > kKeyboardLineSize - 1) line->resize(kKeyboardLineSize - 1);
  return any;
}

}  // namespace

// What the console and its keyboard thread share. The thread holds a reference of its own,
// so a thread let go while it still waits for input never touches freed memory; the last
// holder destroys the keyboard pipe.
struct Console::Keyboard {
  TWProcPipe* pipe = nullptr;
  FILE* in = nullptr;
  std::atomic<bool> stop{false};
  std::atomic<bool> ended{false};  // the thread has posted its last line
  ~Keyboard() {
    if (pipe != nullptr) TWProcPipeDestroy(pipe);
  }
};

// Reads lines from the input and posts each, as a 256-byte record, to the keyboard pipe,
// until the input ends, posting fails or the console stops. Ends with 1.
uint32_t Console::KeyboardThread(void* argument) {
  using Shared = std::shared_ptr<Keyboard>;
  std::unique_ptr<Shared> own(static_cast<Shared*>(argument));
  Keyboard& k = **own;
  std::string line;
  unsigned char record[kKeyboardLineSize];
  while (!k.stop.load() && ReadLine(k.in, &line) && !k.stop.load()) {
    std::memset(record, 0, sizeof record);
    std::memcpy(record, line.data(), line.size());
    if (TWProcPipeFill(kKeyboardLineSize, record, k.pipe) != TWSUCCESS) break;
  }
  k.ended.store(true);
  return 1;
}

std::string FormatConsoleText(std::string_view text, const std::vector<std::string>& args) {
  std::string out;
  size_t next = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (++i == text.size()) break;
    char c = text[i];
    if (c == 'd' || c == 's') {
      if (next < args.size()) out += args[next++];
    } else {
      out += c;
    }
  }
  return out;
}

Console::Console(TWProcPipe* scheduler, TWProcPipe* events, FILE* in, FILE* out)
    : scheduler_(scheduler), events_(events), in_(in), out_(out) {
  LoadTexts();
  Start();
  std::fflush(out_);
}

Console::~Console() {
  StopKeyboard();
  std::fflush(out_);
}

void Console::LoadTexts() {
  for (Range r : {kMenu, kHelp, kTrace, kConsoleTexts, kTraceClasses,
                  Range{TWMSG_PRODUCT_TITLE, TWMSG_PRODUCT_RELEASE}})
    for (uint32_t id = r.first; id <= r.last; ++id) {
      char buffer[kTextSize];
      TWMessageText(id, buffer, sizeof buffer);
      texts_[id] = buffer;
    }
  title_ = Text(TWMSG_PRODUCT_TITLE) + " " + Text(TWMSG_PRODUCT_RELEASE);
}

const std::string& Console::Text(uint32_t id) {
  auto it = texts_.find(id);
  if (it != texts_.end()) return it->second;
  char buffer[kTextSize];
  TWMessageText(id, buffer, sizeof buffer);
  return texts_[id] = buffer;
}

void Console::Start() {
  state_ = kStarting;
  keyboard_ = std::make_shared<Keyboard>();
  keyboard_->in = in_;
  if (TWProcPipeCreate(kKeyboardPipeSize, &keyboard_->pipe) != TWSUCCESS) {
    keyboard_.reset();
    Print(TWMSG_CONSOLE_KEYBOARD_PIPE);
    LineEnd();
    Line(Text(TWMSG_CONSOLE_INIT_FAILED));
    state_ = kFailed;
    return;
  }
  ConsoleEvent first;
  if (ReadConsoleEvent(events_, &first) != TWSUCCESS) first.code = 0;
  shutdownStore_ = true;
  if (first.code != EventStarted) {
    if (first.code == EventTableHeld) shutdownStore_ = false;
    Line(Text(TWMSG_CONSOLE_INIT_FAILED));
    return;
  }
  started_ = true;
  serverName_ = first.text;
  startTime_ = DatetimeText(first.time);
  if (!StartKeyboard()) {
    Print(TWMSG_CONSOLE_KEYBOARD_THREAD);
    LineEnd();
    // Not "Initialization successful.": the server cannot take commands and goes down.
    Line(Text(TWMSG_CONSOLE_INIT_FAILED));
    state_ = kFailed;
    return;
  }
  Line(Text(TWMSG_CONSOLE_INIT_OK));
  state_ = kReady;
}

bool Console::StartKeyboard() {
  auto argument = std::make_unique<std::shared_ptr<Keyboard>>(keyboard_);
  if (TWProcThreadCreate(KeyboardThread, argument.get(), &keyboardThread_) != TWSUCCESS) {
    keyboardThread_ = nullptr;
    return false;
  }
  argument.release();  // the thread's now
  return true;
}

void Console::StopKeyboard() {
  if (!keyboard_) return;
  keyboard_->stop.store(true);
  // A thread waiting for room in the pipe gets it, and then sees the stop.
  unsigned char record[kKeyboardLineSize];
  while (TWProcPipePeek(keyboard_->pipe))
    if (TWProcPipeEmpty(kKeyboardLineSize, record, keyboard_->pipe) != TWSUCCESS) break;
  if (keyboardThread_ != nullptr) {
    // A thread still reading a terminal cannot be woken: it is let go, and ends (without
    // posting) when a line or the end of the input comes, or with the process.
    if (keyboard_->ended.load())
      TWProcThreadWait(keyboardThread_, nullptr);
    else
      TWProcThreadKill(keyboardThread_);
    keyboardThread_ = nullptr;
  }
  keyboard_.reset();
}

void Console::Write(std::string_view text) {
  TWFileWrite(out_, static_cast<uint32_t>(text.size()), text.data());
}

void Console::Print(uint32_t id, const std::vector<std::string>& args) {
  Write(FormatConsoleText(Text(id), args));
}

void Console::Menu() {
  LineEnd();
  for (uint32_t id = kMenu.first; id <= kMenu.last; ++id) Line(" " + Text(id));
}

std::string DatetimeText(const TWDatetime& time) {
  TWStream s{};
  std::string text;
  if (TWStreamFromDatetime(&s, &time, TWSTREAMFMT_NATIVE) == TWSUCCESS && s.data != nullptr)
    text.assign(static_cast<const char*>(s.data), s.length);
  TWStreamDataFree(&s);
  return text;
}

void Console::Post(int32_t code, int32_t argument) {
  // The pipe waits for room and fails only once it is gone, when nobody is left to hear.
  (void)PostSchedulerCommand(scheduler_, SchedulerCommand{code, kSourceConsole, argument, 0});
}

int Console::Run() {
  if (state_ != kReady) {
    // The scheduler runs once it has posted event 1; without a console it must go down.
    if (state_ != kFailed || started_) Post(SchedDown);
    std::fflush(out_);
    return 1;
  }
  Write("\n" + title_ + "\n");
  Print(TWMSG_CONSOLE_SERVER_NAME, {serverName_});
  LineEnd();
  Print(TWMSG_CONSOLE_RUNNING_SINCE, {startTime_});
  LineEnd();
  Menu();
  Prompt();
  for (;;) {
    // Read before looking at the pipe: once the thread has ended, every line it read is
    // there, so the end of the input is acted on only after the last line.
    bool inputEnded = keyboard_->ended.load();
    if (TWProcPipePeek(keyboard_->pipe)) {
      char record[kKeyboardLineSize];
      if (TWProcPipeEmpty(kKeyboardLineSize, record, keyboard_->pipe) != TWSUCCESS) break;
      OnLine(std::string(record, strnlen(record, sizeof record)));
    } else if (TWProcPipePeek(events_)) {
      ConsoleEvent e;
      if (ReadConsoleEvent(events_, &e) != TWSUCCESS || !OnEvent(e)) break;
    } else if (inputEnded && !inputHandled_) {
      OnInputEnded();
    } else {
      std::fflush(out_);
      TWKeyboardSleep();
    }
  }
  std::fflush(out_);
  return 0;
}

void Console::OnLine(const std::string& line) {
  switch (state_) {
    case kConfirmKill:
      OnKillAnswer(line);
      break;
    case kConfirmStop: {
      std::vector<std::string> tokens = Tokens(line);
      if (!tokens.empty() && IsYes(tokens[0])) Post(SchedStop);
      state_ = kReady;
      break;
    }
    case kReady:
      lastLine_ = line;
      OnCommand(Tokens(line));
      break;
    default:
      break;
  }
}

void Console::OnCommand(const std::vector<std::string>& tokens) {
  if (tokens.empty()) {
    Menu();
    Prompt();
    return;
  }
  switch (Upper(tokens[0][0])) {
    case 'H':
    case '?':
      for (uint32_t id = kHelp.first; id <= kHelp.last; ++id) Line(Text(id));
      Menu();
      Prompt();
      break;
    case 'L':
    case '2':
      Post(SchedList);
      break;
    case 'C':
      if (tokens.size() < 2) {
        LineEnd();
        LineEnd();
        Line(Text(TWMSG_CONSOLE_NO_INDEX));
        break;
      }
      for (size_t i = 1; i < tokens.size(); ++i) Post(SchedClose, Number(tokens[i]));
      break;
    case 'K':
      if (tokens.size() < 2) {
        LineEnd();
        LineEnd();
        Line(Text(TWMSG_CONSOLE_NO_INDEX));
        break;
      }
      killList_.clear();
      for (size_t i = 1; i < tokens.size(); ++i) killList_.push_back(Number(tokens[i]));
      killIndex_ = 0;
      Post(SchedKillPrompt, killList_[0]);
      break;
    case 'P':
      Print(TWMSG_CONSOLE_CONFIRM_STOP);
      state_ = kConfirmStop;
      break;
    case 'D':
      Post(SchedDown);
      break;
    case 'R':
      Post(SchedRefresh);
      Menu();
      Prompt();
      break;
    case 'S':
      Post(SchedShowStatus);
      break;
    case 'V':
      OnTrace(tokens);
      Menu();
      Prompt();
      break;
    default:
      Print(TWMSG_CONSOLE_UNKNOWN_COMMAND, {tokens[0]});
      LineEnd();
      Menu();
      Prompt();
      break;
  }
}

void Console::OnTrace(const std::vector<std::string>& tokens) {
  if (tokens.size() >= 2 && tokens[1] == "?") {
    for (uint32_t i = 0; i < kTraceClassesShown; ++i) Line(Text(kTraceClasses.first + i));
  } else if (tokens.size() >= 3 && tokens[1] == "+") {
    Post(SchedTraceOn, Number(tokens[2]));
  } else if (tokens.size() >= 3 && tokens[1] == "-") {
    Post(SchedTraceOff, Number(tokens[2]));
  } else {
    LineEnd();
    Line(Text(TWMSG_CONSOLE_BAD_SYNTAX));
  }
}

void Console::OnKillAnswer(const std::string& line) {
  size_t start = line.find_first_not_of(" \t");
  if (start != std::string::npos && IsYes(std::string_view(line).substr(start)) &&
      killIndex_ < killList_.size())
    Post(SchedKillConfirmed, killList_[killIndex_]);
  NextKill();
}

void Console::NextKill() {
  if (killIndex_ + 1 < killList_.size()) {
    ++killIndex_;
    Post(SchedKillPrompt, killList_[killIndex_]);
    return;
  }
  killList_.clear();
  killIndex_ = 0;
  state_ = kReady;
}

void Console::OnInputEnded() {
  inputHandled_ = true;
  // A question the input can no longer answer is answered "no".
  killList_.clear();
  killIndex_ = 0;
  state_ = kReady;
}

bool Console::OnEvent(const ConsoleEvent& e) {
  switch (e.code) {
    case EventListEmpty:
      LineEnd();
      Print(TWMSG_CONSOLE_NO_ACTIVITIES);
      LineEnd();
      Menu();
      Prompt();
      break;
    case EventListBegin:
      pageLines_ = 0;
      LineEnd();
      Print(TWMSG_CONSOLE_LIST_TITLE);
      LineEnd();
      break;
    case EventListLine:
      Print(e.closeRequested ? TWMSG_CONSOLE_LIST_CLOSING : TWMSG_CONSOLE_LIST_RUNNING,
            {std::to_string(e.number), e.text, DatetimeText(e.time)});
      LineEnd();
      if (++pageLines_ >= 24) pageLines_ = 0;
      break;
    case EventListEnd:
      Menu();
      Prompt();
      break;
    case EventStatus:
      ShowStatus(e);
      Menu();
      Prompt();
      break;
    case EventTrace: {
      LineEnd();
      const std::string& text = Text(static_cast<uint32_t>(e.number));
      // Every "%s" of a trace message takes the event's text.
      std::vector<std::string> args(static_cast<size_t>(std::count(text.begin(), text.end(), '%')),
                                    e.text);
      Write(FormatConsoleText(text, args));
      break;
    }
    case EventWaiting:
      LineEnd();
      Print(TWMSG_CONSOLE_WAITING);
      break;
    case EventShutdown:
      LineEnd();
      Print(TWMSG_CONSOLE_SHUTDOWN);
      break;
    case EventStopping:
      LineEnd();
      Print(TWMSG_CONSOLE_STOPPING);
      break;
    case EventEnded:
      return false;
    case EventClosing:
    case EventKilled:
      if (e.number < kReasonUser || e.number > kReasonTimedOut) {
        Print(TWMSG_CONSOLE_UNEXPECTED);
        LineEnd();
        break;
      }
      LineEnd();
      Print((e.code == EventClosing ? TWMSG_CONSOLE_CLOSING_USER : TWMSG_CONSOLE_KILLING_USER) +
                (e.number - kReasonUser),
            {e.text});
      break;
    case EventConfirmKill:
      Print(TWMSG_CONSOLE_CONFIRM_KILL, {e.text});
      state_ = kConfirmKill;
      break;
    case EventNoRunToKill:
      LineEnd();
      Print(TWMSG_CONSOLE_NO_RUN_TO_KILL, {std::to_string(e.number)});
      NextKill();
      break;
    case EventNoRunToClose:
      LineEnd();
      Print(TWMSG_CONSOLE_NO_RUN_TO_CLOSE, {std::to_string(e.number)});
      break;
    default:
      Print(TWMSG_CONSOLE_UNEXPECTED);
      LineEnd();
      break;
  }
  return true;
}

void Console::ShowStatus(const ConsoleEvent& e) {
  pageLines_ = 0;
  Write("\n" + title_ + "\n");
  Print(TWMSG_CONSOLE_SERVER_NAME, {serverName_});
  LineEnd();
  Print(TWMSG_CONSOLE_RUNNING_SINCE, {startTime_});
  LineEnd();
  Print(TWMSG_CONSOLE_CURRENT_TIME, {DatetimeText(e.time)});
  LineEnd();
  const StatusValues& s = e.status;
  switch (s.state) {
    case kStateRunning:
      Print(TWMSG_CONSOLE_SERVER_IS, {Text(TWMSG_CONSOLE_RUNNING)});
      break;
    case kStateShuttingDown:
      Print(TWMSG_CONSOLE_SERVER_IS, {Text(TWMSG_CONSOLE_SHUTTING_DOWN)});
      break;
    case kStateStopping:
      Print(TWMSG_CONSOLE_SERVER_IS, {Text(TWMSG_CONSOLE_STOPPING_STATE)});
      break;
    default:
      Print(TWMSG_CONSOLE_NOT_NORMAL);
      break;
  }
  LineEnd();
  LineEnd();
  Print(TWMSG_CONSOLE_STATUS_TITLE);
  LineEnd();
  const std::pair<uint32_t, int32_t> values[] = {
      {TWMSG_CONSOLE_SERVER_ID, s.serverId},
      {TWMSG_CONSOLE_STATUS_INTERVAL, s.statusInterval},
      {TWMSG_CONSOLE_POLL_INTERVAL, s.pollInterval},
      {TWMSG_CONSOLE_CLOSE_TIMEOUT, s.closeTimeout},
      {TWMSG_CONSOLE_MAX_RUN, s.maxDuration},
      {TWMSG_CONSOLE_MAX_ACTIVITIES, s.maxActivities},
  };
  for (const auto& [id, value] : values) {
    Print(id, {std::to_string(value)});
    LineEnd();
  }
}

}  // namespace tw::server
