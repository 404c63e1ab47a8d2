// The server's character sets by name and the engine text format each is read in.
#ifndef TW_LINK_ORACLE_CHARSET_H_
#define TW_LINK_ORACLE_CHARSET_H_

#include <cstdint>
#include <string_view>

namespace oracle {

// The engine format of an Oracle character set name (matched exactly, case included);
// TWSTREAMFMT_NATIVE for a set the engine cannot read and for an unknown name.
uint32_t FormatOfCharacterSet(std::string_view name);

}  // namespace oracle

#endif  // TW_LINK_ORACLE_CHARSET_H_
