// The console of the connection probes: prompts, bounded answers read from a terminal or a
// pipe (a password without echo on a terminal), and the probes' shared texts.
#ifndef TW_PROBES_KIT_CONSOLE_H_
#define TW_PROBES_KIT_CONSOLE_H_

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>

namespace tw::probe {

// The longest answer a probe keeps; a longer one is refused and asked again.
inline constexpr size_t kAnswerMax = 99;
// What a probe shows in place of a password.
inline constexpr char kMasked[] = "****";

class Console {
 public:
  // The streams stay the caller's.
  Console(FILE* in, FILE* out, FILE* err) : in_(in), out_(out), err_(err) {}

  FILE* out() const { return out_; }
  FILE* err() const { return err_; }
  void Print(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void Error(const char* format, ...) __attribute__((format(printf, 2, 3)));

  // Shows prompt and reads one line of at most max bytes into answer (CR LF read as LF). A
  // longer line is refused with a line saying so and the prompt is shown again. With secret
  // a terminal does not echo the answer. False at the end of input (answer empty); every
  // later read ends at once too, so no question loops on a closed input.
  [[nodiscard]] bool Ask(const std::string& prompt, size_t max, bool secret, std::string& answer);

  // Tests look at the output between questions; called before each line is read.
  std::function<void()> beforeRead;

 private:
  // One line; false at end of input with nothing read. tooLong: more than max bytes came.
  bool ReadLine(size_t max, std::string& line, bool& tooLong);

  FILE* in_;
  FILE* out_;
  FILE* err_;
  bool ended_ = false;
};

// Asks with prompt and replaces value by a non-empty answer; the end of input or an empty
// line keeps it.
void AskKeeping(Console& console, const std::string& prompt, std::string& value, bool secret);
// Whether the answer to prompt begins with "y" or "Y" (the end of input reads as no).
[[nodiscard]] bool AskYes(Console& console, const std::string& prompt);

// A value as a prompt shows it: the text, or the mask for a password.
inline const std::string& Shown(const std::string& value, bool secret) {
  static const std::string masked = kMasked;
  return secret ? masked : value;
}

// AskKeeping with the prompt made of label and ": ", then the current value (as Shown gives
// it) as "[value] " when there is one.
void AskLabelled(Console& console, const char* label, std::string& value, bool secret);

// The banner every probe starts with: title, a line of 44 dashes and the purpose text.
void PrintBanner(Console& console, const char* title, const char* purpose);

// Refuses a preset (from the command line) longer than kAnswerMax: true when it fits.
[[nodiscard]] bool FitsAnswer(Console& console, const char* what, const std::string& value);

}  // namespace tw::probe

#endif  // TW_PROBES_KIT_CONSOLE_H_
