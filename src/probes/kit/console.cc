// The probes' console: bounded reads, echo off for passwords, and the end of input.
#include "console.h"

#include <termios.h>
#include <unistd.h>

#include <cstdarg>

namespace tw::probe {
namespace {

// Turns the terminal's echo off for its lifetime; nothing when in is not a terminal.
class EchoOff {
 public:
  explicit EchoOff(FILE* in) : fd_(in != nullptr ? ::fileno(in) : -1) {
    if (fd_ < 0 || !::isatty(fd_) || ::tcgetattr(fd_, &saved_) != 0) return;
    termios quiet = saved_;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    active_ = ::tcsetattr(fd_, TCSAFLUSH, &quiet) == 0;
  }
  ~EchoOff() {
    if (active_) ::tcsetattr(fd_, TCSAFLUSH, &saved_);
  }
  bool active() const { return active_; }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;

 private:
  int fd_;
  termios saved_{};
  bool active_ = false;
};

}  // namespace

void Console::Print(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(out_, format, args);
  va_end(args);
}

void Console::Error(const char* format, ...) {
  std::fflush(out_);
  va_list args;
  va_start(args, format);
  std::vfprintf(err_, format, args);
  va_end(args);
  std::fflush(err_);
}

bool Console::ReadLine(size_t max, std::string& line, bool& tooLong) {
  line.clear();
  tooLong = false;
  bool any = false;
  for (int c; (c = std::getc(in_)) != EOF;) {
    any = true;
    if (c == '\n') break;
    if (line.size() < max + 1)  // one byte over: room to see a CR before the LF
      line.push_back(static_cast<char>(c));
    else
      tooLong = true;  // the rest of the line is read and dropped, never kept
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.size() > max) tooLong = true;
  return any;
}

bool Console::Ask(const std::string& prompt, size_t max, bool secret, std::string& answer) {
  answer.clear();
  for (;;) {
    std::fputs(prompt.c_str(), out_);
    std::fflush(out_);
    if (ended_) return false;
    bool tooLong = false;
    bool got;
    {
      EchoOff quiet(secret ? in_ : nullptr);
      if (beforeRead) beforeRead();
      got = ReadLine(max, answer, tooLong);
      if (quiet.active()) std::fputc('\n', out_);  // the user's Enter was not echoed
    }
    if (!got) {
      ended_ = true;
      answer.clear();
      return false;
    }
    if (!tooLong) return true;
    answer.clear();
    Print("\nThe answer is longer than %zu characters; please answer again.\n", max);
  }
}

void AskKeeping(Console& console, const std::string& prompt, std::string& value, bool secret) {
  std::string answer;
  if (console.Ask(prompt, kAnswerMax, secret, answer) && !answer.empty()) value = answer;
}

bool AskYes(Console& console, const std::string& prompt) {
  std::string answer;
  return console.Ask(prompt, kAnswerMax, false, answer) && (answer[0] == 'y' || answer[0] == 'Y');
}

void AskLabelled(Console& console, const char* label, std::string& value, bool secret) {
  std::string prompt = std::string(label) + ": ";
  if (!value.empty()) prompt += "[" + Shown(value, secret) + "] ";
  AskKeeping(console, prompt, value, secret);
}

void PrintBanner(Console& console, const char* title, const char* purpose) {
  console.Print("\n\n%s\n\n%s\n%s\n\n", title, std::string(44, '-').c_str(), purpose);
}

bool FitsAnswer(Console& console, const char* what, const std::string& value) {
  if (value.size() <= kAnswerMax) return true;
  console.Error("%s is longer than %zu characters and is not used.\n", what, kAnswerMax);
  return false;
}

}  // namespace tw::probe
