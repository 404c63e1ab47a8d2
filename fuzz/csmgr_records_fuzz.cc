// The control store's field records (GetDescription's reply, PutDescription's request) over
// any bytes: a description decodes only when its records and end record are whole, a failed
// decode leaves the output alone, what decodes encodes to records that decode to the same
// bytes again, nothing after the end record is read, and every cut before its end is
// refused. RunActivity's text-list layout is checked on the same bytes.
#include <cstdint>
#include <string>

#include "csmgr_records.h"
#include "csmgr_wire.h"
#include "flowcore.h"
#include "fuzz_util.h"
#include "tw/coding.h"

namespace {

using tw::engine::Description;

constexpr uint32_t kUnreadable = 1545;

std::string EncodeAll(const Description& d) {
  std::string records;
  for (const tw::engine::Property& p : d)
    FUZZ_CHECK(tw::engine::EncodeProperty(p.token, p.value.get(), &records) == TWSUCCESS);
  tw::engine::AppendEndRecord(&records);
  return records;
}

void CheckTextList(std::string_view bytes) {
  TWStream s{};
  s.format = TWSTREAMFMT_TEXT_LIST;
  s.length = static_cast<uint32_t>(bytes.size());
  s.data = const_cast<char*>(bytes.data());
  std::string wire = "kept";
  const uint32_t st = tw::engine::EncodeTextList(&s, &wire);
  if (st != TWSUCCESS) {
    FUZZ_CHECK(st == TWFAIL_INVALID_TEXT_LIST && wire == "kept");
    return;
  }
  // The list itself, without what follows it.
  FUZZ_CHECK(wire.size() >= 2 && bytes.substr(0, wire.size()) == wire);
  const size_t count = tw::get_u16(wire.data());
  size_t total = 2 + 2 * count;
  for (size_t i = 0; i < count; ++i) total += tw::get_u16(wire.data() + 2 + 2 * i);
  FUZZ_CHECK(total == wire.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  CheckTextList(bytes);

  Description out;
  out.push_back({77, {}});
  const uint32_t st = tw::engine::DecodeDescription(bytes, &out);
  size_t length = 0;
  const bool measured = tw::engine::MeasureRecords(bytes, &length);
  if (!measured) FUZZ_CHECK(st == kUnreadable);
  if (st != TWSUCCESS) {
    FUZZ_CHECK(out.size() == 1 && out[0].token == 77 && !out[0].value);
    return 0;
  }
  FUZZ_CHECK(measured && length >= tw::csmgr::record::kEndSize && length <= size);
  for (const tw::engine::Property& p : out) {
    FUZZ_CHECK(p.token != 0 && p.value);
    FUZZ_CHECK(TWFieldGetValueCount(p.value.get()) == 1);
  }

  const std::string encoded = EncodeAll(out);
  Description back;
  FUZZ_CHECK(tw::engine::DecodeDescription(encoded, &back) == TWSUCCESS);
  FUZZ_CHECK(back.size() == out.size());
  for (size_t i = 0; i < out.size(); ++i) FUZZ_CHECK(back[i].token == out[i].token);
  FUZZ_CHECK(EncodeAll(back) == encoded);
  size_t encodedLength = 0;
  FUZZ_CHECK(tw::engine::MeasureRecords(encoded, &encodedLength) &&
             encodedLength == encoded.size());

  // Only the bytes through the end record count.
  Description whole;
  FUZZ_CHECK(tw::engine::DecodeDescription(bytes.substr(0, length), &whole) == TWSUCCESS);
  FUZZ_CHECK(EncodeAll(whole) == encoded);
  // Any cut before the end record's last byte is refused; the input picks one.
  const size_t cut = data[0] % length;
  Description none;
  FUZZ_CHECK(tw::engine::DecodeDescription(bytes.substr(0, cut), &none) == kUnreadable);
  FUZZ_CHECK(none.empty());
  return 0;
}
