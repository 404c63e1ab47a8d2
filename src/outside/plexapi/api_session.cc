// The session and error entry points: _GVInit, GVTerm, GVSetProperty and the failure texts.
#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <mutex>

#include "design.h"
#include "plexapi.h"
#include "session.h"
#include "value.h"

namespace {

// Copies text cut on a character boundary into a GV_ERROR_TEXT_SIZE buffer.
void CopyText(char* out, const std::string& text) {
  size_t n = plexa::Utf8Cut(text, GV_ERROR_TEXT_SIZE - 1);
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
}

// SQLite keeps memory counters behind a process-wide mutex at every allocation; nothing
// here reads them, and a bulk store allocates often enough for them to cost a tenth of it.
// They can only be switched off before SQLite starts: when another user of the process
// started it first, the call is refused and the counters stay on, which costs time only.
void QuietSqliteCounters() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0) != SQLITE_OK) return;  // they stay on
  });
}

}  // namespace

extern "C" {

GV_API uint32_t _GVInit(uint32_t version, uint32_t reserved1, uint32_t reserved2,
                        uint32_t reserved3) {
  // Every session keeps view indexes and form defaults: install the design hooks here rather
  // than trust static-initialiser order or that a design call comes first.
  return plexa::Api([&] {
    QuietSqliteCounters();
    plexa::EnsureDesignHooks();
    return plexa::SessionStart(version);
  });
}

GV_API uint32_t GVTerm(uint32_t flags) {
  return plexa::Api([&] { return plexa::SessionEnd(); });
}

GV_API uint32_t GVSetProperty(uint32_t property, uint32_t value) {
  return plexa::ApiSession([&] { return plexa::SessionSetProperty(property, value); });
}

GV_API uint32_t GVErrorFetch(uint32_t* status, uint32_t* info, char* text) {
  try {
    const plexa::LastError& e = plexa::GetLastError();
    if (status != nullptr) *status = e.status;
    if (info != nullptr) *info = e.info;
    if (text != nullptr) CopyText(text, e.text);
    return static_cast<uint32_t>(std::min<size_t>(e.text.size(), GV_ERROR_TEXT_SIZE - 1));
  } catch (...) {
    return 0;
  }
}

GV_API uint32_t GVErrorGetInfo(uint32_t status, uint32_t flags, char* text) {
  try {
    std::string t = plexa::StatusText(status);
    if (text != nullptr) CopyText(text, t);
    return static_cast<uint32_t>(plexa::Utf8Cut(t, GV_ERROR_TEXT_SIZE - 1));
  } catch (...) {
    return 0;
  }
}

GV_API uint32_t GVErrorSetBuffer(char* buffer, uint32_t size) {
  plexa::SetErrorBuffer(buffer, size);
  return 0;
}

}  // extern "C"
