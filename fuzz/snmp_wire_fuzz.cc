// The SNMP sub-agent's decoders over any bytes: a link frame decodes or is refused, and what
// decodes encodes back to the same frame; twmain's replies are read into the caches only
// within their bounds (the sanitizers catch a read past the data).
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tarnway_mib.h"
#include "wire.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tw::snmp;
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  Message m;
  if (DecodeMessage(bytes, &m) == 0) {
    std::string again;
    if (EncodeMessage(m, &again) != 0 || again != bytes) std::abort();
  }
  StateCache state;
  (void)ParseStateReply(bytes, &state);
  TableCache table;
  (void)ParseTableReply(bytes, &table);
  return 0;
}
