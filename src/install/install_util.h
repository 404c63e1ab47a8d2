// Helpers shared by the install library's units and its front ends.
#ifndef TW_INSTALL_INSTALL_UTIL_H_
#define TW_INSTALL_INSTALL_UTIL_H_

#include <cstdint>
#include <string>

namespace tw::install {

// The catalogue text of id; empty when there is none.
std::string Message(uint32_t id);
// format with its one "%s" replaced by arg (null: empty); a format with other conversions is
// returned as it stands.
std::string Format(const std::string& format, const char* arg);
// dir ending in "/".
std::string WithSlash(std::string dir);
// The canonical absolute form of an existing path; empty when it cannot be resolved.
std::string Canonical(const std::string& path);

}  // namespace tw::install

#endif  // TW_INSTALL_INSTALL_UTIL_H_
