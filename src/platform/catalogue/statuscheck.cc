// Build tool: fails the build when code writes a catalogue id as a bare number where a status
// belongs, so that messages.txt stays the one home of status ids.
//   statuscheck <stamp> <messages.txt>... -- <source | @list>...
// Prints "file:line: reason" for each hit and exits 1; with none, writes the stamp file and
// exits 0. The ids are those of every table given (the catalogue and the plug-ins' own); an
// @list argument names a file listing sources one a line.
//
// A number counts when its value is a catalogue id of 257 or above (an event status, the id
// with TWSTATUSF_EVENT set, when written in hex) and it stands whole, not inside arithmetic
// (+ - * / % << >> &, an array bound or index), in one of these positions:
//   - returned: "return 790;" (a branch of a conditional counts as the conditional);
//   - a case label: "case 797:";
//   - compared with == or != with anything but a size: "st == 798", "static_assert(k == 779)";
//     with < > <= >= only against a status-named operand ("status >= 800");
//   - assigned to a status-named variable: "res.status = 798";
//   - initialising a constant, enumerator or macro, alone, joined by | to flags, or in a
//     brace list: "constexpr uint32_t kNoActivity = 797;", "kMsgTitle = 4552,",
//     "#define TWMSGTBL_NO_RESULT 0x10000327u", "constexpr uint32_t kIds[] = {787, 795};";
//   - an argument of a function that reports, logs or shows a message (its name holds
//     report, log, message, msg, trace, print, event, status, fail, error, notify, text,
//     string or done): "CSMgrReport(795)", "CSMgrLogServer(id, 815 | kLogOnly)".
// Not counted, as they are sizes, offsets and flags that may equal an id:
//   - names of sizes and limits (a word such as size, length, bytes, offset, count, step,
//     max, buffer, mask, rows): "kServerInfoSize = 522", "TWX_MAX_PROPERTY_ROWS 4096u";
//   - constants a size-named constant is computed from (offsets of a wire layout:
//     "kValue = 532" when "kMinLength = kValue + 1");
//   - comparisons whose other side holds sizeof, offsetof, alignof or a size name;
//   - hex literals with a single bit set (flags such as 0x1000); comments and strings.
// Other status spaces are not scanned: the Plexa stand-in (src/outside/plexapi/, GVERR_*
// statuses with the top bit set), the Ordex core stand-in (src/outside/nordex/, 16-bit
// NXERR_* statuses such as 0x0101), the script host stand-in (src/outside/qshost/, host
// codes such as 18 and class-control codes 257 to 279) and the Xandb client stand-in
// (src/outside/xandbcli/, ODBC return codes; its tables hold code pages such as 813) number
// their own.
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "status_scan.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: statuscheck <stamp> <messages.txt>... -- <source | @list>...\n";
    return 2;
  }
  std::set<uint32_t> ids;
  int i = 2;
  for (; i < argc && std::string(argv[i]) != "--"; ++i) {
    std::string error;
    if (!tw::statusscan::LoadIds(argv[i], &ids, &error)) {
      std::cerr << error << "\n";
      return 2;
    }
  }
  std::vector<std::string> sources;
  for (++i; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg.empty() || arg[0] != '@') {
      sources.push_back(arg);
      continue;
    }
    std::ifstream list(arg.substr(1));
    if (!list) {
      std::cerr << arg.substr(1) << ": cannot open\n";
      return 2;
    }
    for (std::string line; std::getline(list, line);)
      if (!line.empty()) sources.push_back(line);
  }
  int hits = 0;
  for (const std::string& path : sources) {
    if (tw::statusscan::OtherStatusSpace(path)) continue;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      std::cerr << path << ": cannot open\n";
      return 2;
    }
    std::stringstream text;
    text << in.rdbuf();
    for (const tw::statusscan::Hit& h : tw::statusscan::Scan(text.str(), ids)) {
      std::cerr << path << ":" << h.line << ": " << h.reason << "\n";
      ++hits;
    }
  }
  if (hits > 0) {
    std::cerr << "statuscheck: " << hits
              << " catalogue id(s) written as numbers; name them in messages.txt\n";
    return 1;
  }
  std::ofstream stamp(argv[1], std::ios::trunc);
  stamp << "ok\n";
  return stamp ? 0 : 2;
}
