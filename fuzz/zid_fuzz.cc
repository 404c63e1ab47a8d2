// The ZID compiler of the text-file connector over any description, replacement pairs and
// link options: it answers 0 or 12325, a refused description leaves nothing behind, every
// accepted column keeps within the bounds the reader and writer rely on, compiling is
// repeatable, and embedded data comes back as it was written.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

#include "flowcore.h"
#include "fuzz_util.h"
#include "zid_parser.h"

namespace {

using flatrec::Column;
using flatrec::Direction;
using flatrec::TermKind;

struct Compiled {
  uint32_t status = 0;
  std::vector<std::string> lines;
  flatrec::Zid zid;
};

Compiled Compile(std::string_view text, const flatrec::ZidOptions& options,
                 const flatrec::Replacer& replacer, uint16_t traceBits) {
  Compiled out;
  flatrec::Tracer tracer;
  tracer.set_bits(static_cast<uint16_t>(traceBits | flatrec::Tracer::kNoStdout));
  tracer.set_capture(&out.lines);
  out.status = flatrec::CompileZid(text, options, replacer, tracer, &out.zid);
  return out;
}

void CheckColumn(const Column& c, size_t index, const flatrec::ZidOptions& options) {
  FUZZ_CHECK(c.placeholder || c.name.size() <= flatrec::kMaxNameLength);
  FUZZ_CHECK(c.width <= flatrec::kMaxWidth);
  FUZZ_CHECK(c.start >= 0);
  FUZZ_CHECK(c.startRef < static_cast<int32_t>(index));
  FUZZ_CHECK(c.terminated() == !c.term.empty());
  FUZZ_CHECK(c.term.size() <= flatrec::kMaxBytesOption);
  FUZZ_CHECK(c.sep.size() <= flatrec::kMaxBytesOption);
  FUZZ_CHECK(c.value.size() <= flatrec::kMaxValueOption);
  FUZZ_CHECK(c.format.size() <= flatrec::kMaxFormatOption);
  FUZZ_CHECK((c.keyKind != 0) == (c.keySeq != 0));
  if (options.direction == Direction::kSource) {
    FUZZ_CHECK(!c.zerofill && !c.right);
    // The binary readers take 1 to 8 bytes at fixed places.
    if (c.binary) FUZZ_CHECK(c.width >= 1 && c.width <= 8 && options.fixedRecSize != 0);
    FUZZ_CHECK(!(c.keyKind != 0 && !c.sep.empty()));
  } else {
    FUZZ_CHECK(!c.append && !c.ebcdic && c.keyKind == 0 && c.termKind != TermKind::kUntilList);
  }
}

// Embedded data as compiling without replacement gives it: each line after the marker
// without the carriage return before its end.
std::string ExpectedEmbedded(std::string_view text) {
  size_t at = 0;
  // The marker is the first line whose first non-blank character is '*', not behind "//".
  std::string out;
  bool afterMarker = false;
  while (at < text.size()) {
    size_t nl = text.find('\n', at);
    std::string_view line = text.substr(at, nl == std::string_view::npos ? nl : nl - at);
    at = nl == std::string_view::npos ? text.size() : nl + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (afterMarker) {
      out.append(line);
      if (nl != std::string_view::npos) out.push_back('\n');
      continue;
    }
    size_t lead = line.find_first_not_of(" \t\n\v\f\r");
    afterMarker = lead != std::string_view::npos && line[lead] == '*' && line.find("//") > lead;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  flatrec::ZidOptions options;
  options.direction = in.ConsumeBool() ? Direction::kSource : Direction::kDestination;
  options.checkForQuotes = in.ConsumeBool();
  options.embeddedData = in.ConsumeBool();
  options.echo = in.ConsumeBool();
  options.fixedRecSize = in.ConsumeIntegralInRange<int32_t>(0, 64);
  options.maxText = in.ConsumeIntegralInRange<uint32_t>(1, 0x8000);
  options.sourceName = "fuzz.zid";
  // Token and detail traces exercise the dump and token lines too.
  const uint16_t traceBits =
      in.ConsumeIntegral<uint16_t>() & (flatrec::Tracer::kTokens | flatrec::Tracer::kDetail);
  const std::string pairs = in.ConsumeRandomLengthString(256);
  const std::string text = in.ConsumeRemainingBytesAsString();

  flatrec::Replacer replacer;
  replacer.Parse(pairs);
  for (const auto& p : replacer.pairs()) FUZZ_CHECK(!p.name.empty());
  FUZZ_CHECK(replacer.pairs().size() <= flatrec::Replacer::kMaxPairs);

  const Compiled first = Compile(text, options, replacer, traceBits);
  FUZZ_CHECK(first.status == TWSUCCESS || first.status == TWFAIL_EXTERNAL);
  const flatrec::Zid& zid = first.zid;
  if (first.status != TWSUCCESS) {
    FUZZ_CHECK(zid.columns.empty() && zid.embedded.empty());
  } else {
    FUZZ_CHECK(!zid.columns.empty() && zid.columns.size() <= flatrec::kMaxColumns);
    FUZZ_CHECK(!options.embeddedData || zid.markerFound);
    for (size_t i = 0; i < zid.columns.size(); ++i) {
      CheckColumn(zid.columns[i], i, options);
      const int found = flatrec::FindColumnByName(zid.columns, zid.columns[i].name);
      FUZZ_CHECK(found >= 0 && found <= static_cast<int>(i));
    }
    if (zid.markerFound && replacer.pairs().empty()) {
      // Lines too long for the compiler are refused, so what is kept is whole.
      FUZZ_CHECK(zid.embedded == ExpectedEmbedded(text));
    }
  }

  // Nothing carries over from one compilation to the next.
  const Compiled second = Compile(text, options, replacer, traceBits);
  FUZZ_CHECK(second.status == first.status);
  FUZZ_CHECK(second.lines == first.lines);
  FUZZ_CHECK(second.zid.columns.size() == zid.columns.size());
  FUZZ_CHECK(second.zid.embedded == zid.embedded);
  return 0;
}
