// The scanner behind statuscheck: finds catalogue ids written as bare numbers where a status
// belongs, so that the generated names stay the one way code names a message.
#ifndef TW_PLATFORM_CATALOGUE_STATUS_SCAN_H_
#define TW_PLATFORM_CATALOGUE_STATUS_SCAN_H_

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace tw::statusscan {

struct Hit {
  int line;            // 1-based
  std::string reason;  // e.g. "id 790 returned as a status"
};

// Adds the ids of a message table ("id name text" rows, '#' comments) to *ids. False with
// *error set when the file cannot be read or a row has no numeric id.
bool LoadIds(const std::string& path, std::set<uint32_t>* ids, std::string* error);

// Scans one C or C++ source text. Only ids of 257 and above count (smaller numbers are never
// told apart from counts and flags), and only in a status position; see statuscheck.cc for the
// rules.
std::vector<Hit> Scan(std::string_view source, const std::set<uint32_t>& ids);

// True for sources whose numbers belong to another status space and are not scanned.
bool OtherStatusSpace(std::string_view path);

}  // namespace tw::statusscan

#endif  // TW_PLATFORM_CATALOGUE_STATUS_SCAN_H_
