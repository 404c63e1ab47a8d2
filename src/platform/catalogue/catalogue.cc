// flowmsg: the message catalogue and its lookup.
#include "catalogue.h"

#include <cstdio>

extern "C" int tw_catalogue_load(uint32_t id, char* buffer, int size);

extern "C" int TWLibraryLoadString(uint32_t id, char* buffer, int size) {
  return tw_catalogue_load(id, buffer, size);
}

extern "C" int TWMessageText(uint32_t id, char* buffer, int size) {
  if (buffer == nullptr || size <= 0) return 0;
  int n = tw_catalogue_load(id, buffer, size);
  if (n > 0) return n;
  n = std::snprintf(buffer, static_cast<size_t>(size), "MSG#%d NOT FOUND",
                    static_cast<int>(id & ~static_cast<uint32_t>(TWSTATUSF_EVENT)));
  return n < size ? n : size - 1;
}

namespace tw {
std::string message_text(uint32_t id) {
  char buf[1024];
  TWMessageText(id, buf, sizeof buf);
  return buf;
}
}  // namespace tw
