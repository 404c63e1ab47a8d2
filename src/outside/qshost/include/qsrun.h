// qsrun's line language over qshost: one statement a line, no control flow.
//   Set v = New Class(args)      v = obj.Method(args)      obj.Method args
//   obj.Prop = expr              v = obj.Prop              v = FUNCTION(arg)
//   Print expr                   ' a comment (also Rem)
// Expressions are literals (integers, decimals, "text" with "" for a quote), variables,
// constants by name, obj.Prop and obj.Method(args). A variable handed to an argument the
// method may write is passed by reference. Names are matched without regard to case.
#ifndef TW_QSHOST_QSRUN_H_
#define TW_QSHOST_QSRUN_H_

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>

#include "qshost.h"

namespace qshost {

struct Script;
struct ScriptDeleter {
  void operator()(Script* s) const;
};
using ScriptPtr = std::unique_ptr<Script, ScriptDeleter>;

// Parses the whole text; on a syntax error answers false with *error naming the line.
[[nodiscard]] bool ParseScript(const std::string& text, ScriptPtr* out, std::string* error);

// Runs a parsed script in a started instance; Print writes to out. A script error (raised
// by the extension) or a failed class control stops it: answers the status (the raised one,
// or the host's code) with *error "line N: ..." and the text; 0 when every line ran.
[[nodiscard]] uint32_t RunScript(Instance& instance, const Script& script, std::ostream& out,
                                 std::string* error);

// Parse, load the extension (path, or the registry's when empty), start an instance, run,
// end the instance. Answers 0 or the failing status (TWFAIL_PROGRAM for a syntax error or an
// extension that cannot be started) with *error describing it.
[[nodiscard]] uint32_t RunText(const std::string& text, const std::string& extensionPath,
                               std::ostream& out, std::string* error);

}  // namespace qshost

#endif  // TW_QSHOST_QSRUN_H_
