// What the classes holding one 32-bit value (CL_Integer, CL_Date, CL_TimeOfDay) share: reading
// their stored form (id, value) as one change, and reading their written form from a text
// stream. Internal to the library.
#ifndef TW_TWCL_BASE_LONG_VALUE_H_
#define TW_TWCL_BASE_LONG_VALUE_H_

#include <istream>
#include <string>

#include "twcl/base/object.h"
#include "twcl/base/object_stream.h"
#include "twcl/base/string.h"

namespace twcl_internal {

// Reads self's class id and a value that valid accepts into value, as one change of self
// (asked first, told after). False, with value unchanged, on a short stream, another id, a
// refused value or a veto.
template <class Valid>
bool ReadLongForm(CL_Object& self, CL_Stream& s, CL_Long& value, Valid valid) {
  CL_Long read;
  if (!self.ReadClassId(s) || !s.ReadLong(read) || !valid(read) || !self.PrepareToChange())
    return false;
  value = read;
  self.Notify();
  return true;
}

// Hands collected characters back to the stream, last first; a stream that cannot take
// them all fails.
inline void GiveBack(std::istream& in, const std::string& collected) {
  if (collected.empty()) return;
  in.clear(in.rdstate() & ~std::ios::eofbit);
  for (auto c = collected.rbegin(); c != collected.rend(); ++c) {
    if (in.rdbuf() == nullptr || in.rdbuf()->sputbackc(*c) == std::char_traits<char>::eof()) {
      in.setstate(std::ios::failbit);
      return;
    }
  }
}

// Skips blanks, collects the characters take accepts and parses them. A value above 0 is
// answered (the character after it stays in the stream); otherwise the characters go back
// so that another reader may take them, the extraction fails and 0 is answered.
template <class Take>
CL_Long ReadValueText(std::istream& in, Take take, CL_Long (*parse)(const CL_String&)) {
  in >> std::ws;
  std::string collected;
  for (int c = in.peek(); c != std::char_traits<char>::eof() && take(c); c = in.peek())
    collected.push_back(static_cast<char>(in.get()));
  const CL_Long value = parse(CL_String(collected.c_str()));
  if (value > 0) return value;
  GiveBack(in, collected);
  in.setstate(std::ios::failbit);
  return 0;
}

}  // namespace twcl_internal

#endif  // TW_TWCL_BASE_LONG_VALUE_H_
