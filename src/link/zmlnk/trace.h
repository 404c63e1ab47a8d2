// The text-file connector's own trace: lines to the activity log, the optional Log file and
// standard output, selected by the bits of the Trace property; routine labels and entry and
// exit lines; and the hexadecimal dump with ASCII and EBCDIC readings.
#ifndef TW_LINK_ZMLNK_TRACE_H_
#define TW_LINK_ZMLNK_TRACE_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace flatrec {

class Tracer {
 public:
  enum Bit : uint16_t {
    kNoStdout = 0x01,        // no copy of trace lines to standard output
    kEntryExit = 0x02,       // a line at entry and exit of each traced routine
    kPropertyValues = 0x20,  // each property value set
    kDetail = 0x80,          // routine labels, process prefix, detail traces and dumps
    kInputRecords = 0x200,
    kTokens = 0x800,  // each token of a ZID line
  };
  static constexpr uint16_t kDefaultBits = 28;

  bool On(uint16_t bit) const { return (bits_ & bit) != 0; }
  uint16_t bits() const { return bits_; }
  void set_bits(uint16_t bits) { bits_ = bits; }
  const std::string& log_file() const { return logFile_; }
  void set_log_file(std::string name) { logFile_ = std::move(name); }
  const char* label() const { return label_; }
  void set_label(const char* label) { label_ = label; }
  // Tests: every line's text is also appended here.
  void set_capture(std::vector<std::string>* capture) { capture_ = capture; }

  // One line: the text to the activity log (as an event), and with the prefix (process id
  // under kDetail, then the local time) to the Log file and, unless kNoStdout, to standard
  // output. Never fails its caller: a Log file that cannot be opened is reported on
  // standard error.
  void Line(std::string_view text);
  // A formatted line, led by the current routine's label under kDetail.
  void Printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // Dump lines of data (nothing for an empty area).
  void Dump(std::string_view data);

 private:
  uint16_t bits_ = kDefaultBits;
  std::string logFile_;
  const char* label_ = "";
  std::vector<std::string>* capture_ = nullptr;
};

// The lines of a dump of data: a header naming handle and the length, one line per 16 bytes
// (offset, hexadecimal, ASCII, EBCDIC), and a "same as above" line in place of a run of
// repeated full lines.
std::vector<std::string> FormatDump(std::string_view data, const void* handle);

// The current routine of a tracer for the life of the object: sets its label and writes the
// entry line; Exit writes the exit line with the routine's status.
class Routine {
 public:
  Routine(Tracer& tracer, const char* label) : tracer_(tracer), saved_(tracer.label()) {
    tracer_.set_label(label);
    if (tracer_.On(Tracer::kEntryExit)) tracer_.Printf("function entry");
  }
  ~Routine() { tracer_.set_label(saved_); }
  Routine(const Routine&) = delete;
  Routine& operator=(const Routine&) = delete;
  uint32_t Exit(uint32_t status) {
    if (tracer_.On(Tracer::kEntryExit))
      tracer_.Printf("function exit, rc=0x%08lx(%ld)", static_cast<unsigned long>(status),
                     static_cast<long>(status));
    return status;
  }
  // For routines that have no status.
  void ExitPlain() {
    if (tracer_.On(Tracer::kEntryExit)) tracer_.Printf("function exit");
  }

 private:
  Tracer& tracer_;
  const char* saved_;
};

}  // namespace flatrec

#endif  // TW_LINK_ZMLNK_TRACE_H_
