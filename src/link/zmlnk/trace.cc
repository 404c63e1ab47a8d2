// Trace lines and dumps of the text-file connector.
#include "trace.h"

#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "ebcdic.h"
#include "flowcore.h"
#include "platform.h"
#include "text_util.h"

namespace flatrec {

namespace {

// "%y.%m.%d %I:%M:%S %p " of the local time, from the platform's clock.
std::string TimeStamp() {
  TWPlatDatetime now{};
  TWPlatGetDatetime(&now);
  int hour12 = now.hour % 12 == 0 ? 12 : now.hour % 12;
  return Format("%02d.%02d.%02d %02d:%02d:%02d %s ", now.year % 100, now.month, now.day, hour12,
                now.minute, now.second, now.hour < 12 ? "AM" : "PM");
}

void WriteAll(FILE* file, std::string_view a, std::string_view b) {
  TWFileWrite(file, static_cast<uint32_t>(a.size()), a.data());
  TWFileWrite(file, static_cast<uint32_t>(b.size()), b.data());
  TWFileWrite(file, 1, "\n");
}

char Shown(uint8_t b) {
  return b >= 0x20 && b <= 0x7E ? static_cast<char>(b) : '.';
}

}  // namespace

void Tracer::Line(std::string_view text) {
  if (capture_ != nullptr) capture_->emplace_back(text);
  TWStream stream{0, 0, TWSTREAMFMT_NATIVE, static_cast<uint32_t>(text.size()),
                  const_cast<char*>(text.data())};
  TWActivityLogStream(TWLOGSTREAMF_EVENT, &stream, 0);

  const bool toStdout = !On(kNoStdout);
  if (logFile_.empty() && !toStdout) return;
  std::string prefix;
  if (On(kDetail)) prefix = Format("%lx.%lx ", static_cast<unsigned long>(::getpid()), 0ul);
  prefix += TimeStamp();
  if (!logFile_.empty()) {
    FILE* log = TWFileOpen(logFile_.c_str(), TWFILE_APPEND);
    if (log != nullptr) {
      WriteAll(log, prefix, text);
      TWFileClose(log);
    } else {
      std::string why = Format("zWrite Error: %s: %s\n", logFile_.c_str(), std::strerror(errno));
      TWFileWrite(stderr, static_cast<uint32_t>(why.size()), why.data());
    }
  }
  if (toStdout) {
    WriteAll(stdout, prefix, text);
    std::fflush(stdout);
  }
}

void Tracer::Printf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatV(format, args);
  va_end(args);
  if (On(kDetail)) text.insert(0, label_);
  // Lines are formatted into 1024 bytes at most.
  if (text.size() > 1023) text.resize(1023);
  Line(text);
}

void Tracer::Dump(std::string_view data) {
  for (const std::string& line : FormatDump(data, stdout)) Line(line);
}

std::vector<std::string> FormatDump(std::string_view data, const void* handle) {
  std::vector<std::string> lines;
  if (data.empty()) return lines;
  lines.push_back(
      Format("     0 1 2 3  4 5 6 7  8 9 A B  C D E F   -----ASCII------  -----EBCDIC----- %p(%d)",
             handle, static_cast<int>(data.size())));
  const auto* bytes = reinterpret_cast<const uint8_t*>(data.data());
  bool inRun = false;
  size_t runStart = 0;
  for (size_t off = 0; off < data.size(); off += 16) {
    const size_t n = data.size() - off < 16 ? data.size() - off : 16;
    if (off > 0 && n == 16 && std::memcmp(bytes + off, bytes + off - 16, 16) == 0) {
      if (!inRun) runStart = off;
      inRun = true;
      continue;
    }
    if (inRun) {
      lines.push_back(Format("%03X0:< Same as above, until next line  >",
                             static_cast<unsigned>(runStart / 16)));
      inRun = false;
    }
    std::string line(81, ' ');
    std::string head = Format("%03X0:", static_cast<unsigned>(off / 16));
    line.replace(0, head.size(), head);
    static const char kHex[] = "0123456789ABCDEF";
    for (size_t i = 0; i < n; ++i) {
      const uint8_t b = bytes[off + i];
      const size_t col = 5 + 2 * i + i / 4;
      line[col] = kHex[b >> 4];
      line[col + 1] = kHex[b & 0xF];
      line[42 + i] = Shown(b);
      line[60 + i] = Shown(kEbcdicToAscii[b]);
    }
    line.resize(60 + n);
    lines.push_back(std::move(line));
  }
  return lines;
}

}  // namespace flatrec
