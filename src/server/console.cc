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

// Catalogue texts of the console.
enum Msg : uint32_t {
  kMsgKeyboardPipe = 4352,
  kMsgKeyboardThread = 4354,
  kMsgInitOk = 4355,
  kMsgInitFailed = 4356,
  kMsgUnknownCommand = 4357,
  kMsgNoActivities = 4358,
  kMsgListTitle = 4359,
  kMsgUnexpected = 4360,
  kMsgWaiting = 4363,
  kMsgShutdown = 4364,
  kMsgConfirmStop = 4365,
  kMsgStopping = 4367,
  kMsgListClosing = 4369,
  kMsgListRunning = 4370,
  kMsgStatusTitle = 4371,
  kMsgServerId = 4372,
  kMsgStatusInterval = 4373,
  kMsgPollInterval = 4374,
  kMsgCloseTimeout = 4375,
  kMsgMaxRun = 4376,
  kMsgMaxActivities = 4377,
  kMsgBadSyntax = 4378,
  kMsgNoIndex = 4379,
  kMsgConfirmKill = 4380,
  kMsgServerName = 4381,
  kMsgRunningSince = 4382,
  kMsgCurrentTime = 4383,
  kMsgServerIs = 4384,
  kMsgRunning = 4385,
  kMsgShuttingDown = 4386,
  kMsgStoppingState = 4387,
  kMsgNotNormal = 4388,
  kMsgClosing = 4389,  // + reason - 1
  kMsgKilling = 4392,  // + reason - 1
  kMsgNoRunToKill = 4395,
  kMsgNoRunToClose = 4396,
  kMsgTitle = 4552,
  kMsgRelease = 4553,
};

struct Range {
  uint32_t first;
  uint32_t last;
};
constexpr Range kMenu{4555, 4562};
constexpr Range kHelp{4452, 4469};
constexpr Range kTrace{4096, 4120};
constexpr Range kConsoleTexts{4352, 4396};
constexpr Range kTraceClasses{4563, 4571};
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
  for (Range r :
       {kMenu, kHelp, kTrace, kConsoleTexts, kTraceClasses, Range{kMsgTitle, kMsgRelease}})
    for (uint32_t id = r.first; id <= r.last; ++id) {
      char buffer[kTextSize];
      TWMessageText(id, buffer, sizeof buffer);
      texts_[id] = buffer;
    }
  title_ = Text(kMsgTitle) + " " + Text(kMsgRelease);
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
    Print(kMsgKeyboardPipe);
    LineEnd();
    Line(Text(kMsgInitFailed));
    state_ = kFailed;
    return;
  }
  ConsoleEvent first;
  if (ReadConsoleEvent(events_, &first) != TWSUCCESS) first.code = 0;
  shutdownStore_ = true;
  if (first.code != EventStarted) {
    if (first.code == EventTableHeld) shutdownStore_ = false;
    Line(Text(kMsgInitFailed));
    return;
  }
  started_ = true;
  serverName_ = first.text;
  startTime_ = DatetimeText(first.time);
  if (!StartKeyboard()) {
    Print(kMsgKeyboardThread);
    LineEnd();
    // Not "Initialization successful.": the server cannot take commands and goes down.
    Line(Text(kMsgInitFailed));
    state_ = kFailed;
    return;
  }
  Line(Text(kMsgInitOk));
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
  PostSchedulerCommand(scheduler_, SchedulerCommand{code, kSourceConsole, argument, 0});
}

int Console::Run() {
  if (state_ != kReady) {
    // The scheduler runs once it has posted event 1; without a console it must go down.
    if (state_ != kFailed || started_) Post(SchedDown);
    std::fflush(out_);
    return 1;
  }
  Write("\n" + title_ + "\n");
  Print(kMsgServerName, {serverName_});
  LineEnd();
  Print(kMsgRunningSince, {startTime_});
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
        Line(Text(kMsgNoIndex));
        break;
      }
      for (size_t i = 1; i < tokens.size(); ++i) Post(SchedClose, Number(tokens[i]));
      break;
    case 'K':
      if (tokens.size() < 2) {
        LineEnd();
        LineEnd();
        Line(Text(kMsgNoIndex));
        break;
      }
      killList_.clear();
      for (size_t i = 1; i < tokens.size(); ++i) killList_.push_back(Number(tokens[i]));
      killIndex_ = 0;
      Post(SchedKillPrompt, killList_[0]);
      break;
    case 'P':
      Print(kMsgConfirmStop);
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
      Print(kMsgUnknownCommand, {tokens[0]});
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
    Line(Text(kMsgBadSyntax));
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
  Post(SchedDown);
}

bool Console::OnEvent(const ConsoleEvent& e) {
  switch (e.code) {
    case EventListEmpty:
      LineEnd();
      Print(kMsgNoActivities);
      LineEnd();
      Menu();
      Prompt();
      break;
    case EventListBegin:
      pageLines_ = 0;
      LineEnd();
      Print(kMsgListTitle);
      LineEnd();
      break;
    case EventListLine:
      Print(e.closeRequested ? kMsgListClosing : kMsgListRunning,
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
      Print(kMsgWaiting);
      break;
    case EventShutdown:
      LineEnd();
      Print(kMsgShutdown);
      break;
    case EventStopping:
      LineEnd();
      Print(kMsgStopping);
      break;
    case EventEnded:
      return false;
    case EventClosing:
    case EventKilled:
      if (e.number < kReasonUser || e.number > kReasonTimedOut) {
        Print(kMsgUnexpected);
        LineEnd();
        break;
      }
      LineEnd();
      Print((e.code == EventClosing ? kMsgClosing : kMsgKilling) + (e.number - kReasonUser),
            {e.text});
      break;
    case EventConfirmKill:
      Print(kMsgConfirmKill, {e.text});
      state_ = kConfirmKill;
      break;
    case EventNoRunToKill:
      LineEnd();
      Print(kMsgNoRunToKill, {std::to_string(e.number)});
      NextKill();
      break;
    case EventNoRunToClose:
      LineEnd();
      Print(kMsgNoRunToClose, {std::to_string(e.number)});
      break;
    default:
      Print(kMsgUnexpected);
      LineEnd();
      break;
  }
  return true;
}

void Console::ShowStatus(const ConsoleEvent& e) {
  pageLines_ = 0;
  Write("\n" + title_ + "\n");
  Print(kMsgServerName, {serverName_});
  LineEnd();
  Print(kMsgRunningSince, {startTime_});
  LineEnd();
  Print(kMsgCurrentTime, {DatetimeText(e.time)});
  LineEnd();
  const StatusValues& s = e.status;
  switch (s.state) {
    case kStateRunning:
      Print(kMsgServerIs, {Text(kMsgRunning)});
      break;
    case kStateShuttingDown:
      Print(kMsgServerIs, {Text(kMsgShuttingDown)});
      break;
    case kStateStopping:
      Print(kMsgServerIs, {Text(kMsgStoppingState)});
      break;
    default:
      Print(kMsgNotNormal);
      break;
  }
  LineEnd();
  LineEnd();
  Print(kMsgStatusTitle);
  LineEnd();
  const std::pair<uint32_t, int32_t> values[] = {
      {kMsgServerId, s.serverId},         {kMsgStatusInterval, s.statusInterval},
      {kMsgPollInterval, s.pollInterval}, {kMsgCloseTimeout, s.closeTimeout},
      {kMsgMaxRun, s.maxDuration},        {kMsgMaxActivities, s.maxActivities},
  };
  for (const auto& [id, value] : values) {
    Print(id, {std::to_string(value)});
    LineEnd();
  }
}

}  // namespace tw::server
