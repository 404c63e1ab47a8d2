// The session of the process: init count, settings, the handle table and the per-thread
// last failure.
#include "session.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "paths.h"
#include "value.h"

namespace plexa {
namespace {

struct StatusEntry {
  uint32_t status;
  const char* text;
};
constexpr StatusEntry kStatusTexts[] = {
    {GVERR_INVALID_ARGUMENT, "Invalid argument"},
    {GVERR_INVALID_HANDLE, "Invalid handle"},
    {GVERR_NO_MEMORY, "Insufficient memory"},
    {GVERR_BUFFER_TOO_SMALL, "Buffer too small"},
    {GVERR_EXISTS, "An object of that name already exists"},
    {GVERR_NOT_INITIALIZED, "The Plexa API is not initialized"},
    {GVERR_NO_MORE, "No more entries"},
    {GVERR_NO_ENTRY, "No such entry"},
    {GVERR_BUSY, "The database is busy"},
    {GVERR_FORMULA, "Formula error"},
    {GVERR_TOO_BIG, "Value too large"},
    {GVERR_NOT_SUPPORTED, "Operation not supported"},
    {GVERR_ENGINE, "Database engine failure"},
    {GVERR_NOT_POSITIONED, "The index is not positioned on an entry"},
    {GVERR_KEY_NOT_FOUND, "Key not found"},
    {GVERR_AGENT_NO_INFO, "The agent records no kind"},
    {GVERR_READ_ONLY, "The document was opened read-only"},
    {GVERR_VERSION, "Unsupported Plexa API version"},
    {GVERR_FILE, "File cannot be read or written"},
    {GVERR_CONFLICT, "The document was stored by another handle since it was read"},
    {GVERR_NO_DATABASE, "Database does not exist"},
    {GVERR_NO_SERVER, "Server does not exist"},
    {GVERR_NOT_A_DATABASE, "File is not a Plexa database"},
    {GVERR_DATABASE_IN_USE, "Database is in use"},
    {GVERR_NO_FORM, "Form not found"},
    {GVERR_NO_FIELD, "Field not found"},
    {GVERR_NO_VIEW, "View not found"},
    {GVERR_NO_COLUMN, "Column not found"},
    {GVERR_NO_ITEM, "Item not found"},
    {GVERR_ITEM_KIND, "The value cannot be given in that kind"},
    {GVERR_NO_ATTACHMENT, "Attachment not found"},
    {GVERR_NO_AGENT, "Agent not found"},
    {GVERR_COMPOSITE, "Malformed rich text"},
    {GVERR_MAIL, "Mail cannot be sent"},
    {GVERR_NO_VALUE, "The item holds no such value"},
    {GVERR_DATETIME, "Invalid date-time"},
};

struct ThreadErrors {
  LastError last;
  char* buffer = nullptr;
  uint32_t size = 0;
  uint64_t call = 0;           // serial of the API call in progress
  uint64_t recorded_in = ~0u;  // the call during which Fail last recorded
};
thread_local ThreadErrors t_errors;

void Record(uint32_t status, std::string text, uint32_t info) {
  ThreadErrors& t = t_errors;
  text.resize(Utf8Cut(text, GV_ERROR_TEXT_SIZE - 1));
  t.last.status = status;
  t.last.info = info;
  t.last.text = std::move(text);
  t.recorded_in = t.call;
  if (t.buffer != nullptr && t.size > 0) {
    size_t n = Utf8Cut(t.last.text, t.size - 1);
    std::copy_n(t.last.text.data(), n, t.buffer);
    t.buffer[n] = '\0';
  }
}

// The session: count, settings, and the handle table.
struct Entry {
  std::unique_ptr<HandleObject> object;
};
struct State {
  std::mutex mu;
  uint32_t count = 0;
  std::string root;
  int busy_ms = 10000;
  uint32_t next_handle = 0;
  std::unordered_map<uint32_t, Entry> handles;
};
State& S() {
  static State* s = new State;  // never destroyed: handles may be closed during exit
  return *s;
}

// Detaches handle and its descendants from the table (lock held); newest first.
void Detach(State& s, uint32_t handle, std::vector<std::unique_ptr<HandleObject>>& out) {
  std::vector<uint32_t> subtree{handle};
  for (size_t i = 0; i < subtree.size(); ++i)
    for (auto& [h, e] : s.handles)
      if (e.object->parent() == subtree[i]) subtree.push_back(h);
  std::sort(subtree.begin(), subtree.end(), std::greater<>());
  for (uint32_t h : subtree) {
    auto it = s.handles.find(h);
    if (it == s.handles.end()) continue;
    out.push_back(std::move(it->second.object));
    s.handles.erase(it);
  }
}

// Closes detached objects in the order Detach gave: children before their parents.
void Destroy(std::vector<std::unique_ptr<HandleObject>>& objects) {
  for (auto& o : objects) o.reset();
}

}  // namespace

std::string StatusText(uint32_t status) {
  for (const StatusEntry& e : kStatusTexts)
    if (e.status == status) return e.text;
  char text[32];
  std::snprintf(text, sizeof text, "Plexa status 0x%08X", status);
  return text;
}

uint32_t Fail(uint32_t status, std::string_view detail, uint32_t info) {
  if (status == 0) return 0;
  std::string text = StatusText(status);
  if (!detail.empty()) {
    text += ": ";
    text += detail;
  }
  Record(status, std::move(text), info);
  return status;
}

void ClearLastError() {
  t_errors.last = LastError{};
}

const LastError& GetLastError() {
  return t_errors.last;
}

void RestoreLastError(LastError e) {
  t_errors.last = std::move(e);
}

void SetErrorBuffer(char* buffer, uint32_t size) {
  t_errors.buffer = size > 0 ? buffer : nullptr;
  t_errors.size = buffer != nullptr ? size : 0;
}

namespace detail {
void BeginCall() {
  ++t_errors.call;
}
uint32_t EndCall(uint32_t status) {
  ThreadErrors& t = t_errors;
  if (status != 0 && (t.recorded_in != t.call || t.last.status != status))
    Record(status, StatusText(status), 0);
  return status;
}
}  // namespace detail

bool SessionActive() {
  State& s = S();
  std::lock_guard lock(s.mu);
  return s.count > 0;
}

uint32_t SessionStart(uint32_t version) {
  if (((version >> 16) & 0xFF) != (GV_VERSION >> 16)) return GVERR_VERSION;
  State& s = S();
  std::lock_guard lock(s.mu);
  if (s.count == UINT32_MAX) return GVERR_INVALID_ARGUMENT;
  if (s.count == 0) {
    s.root = FindDataRoot();
    s.busy_ms = 10000;
    // The local server always exists; a root that cannot be made shows later as missing
    // databases, not as an unusable API.
    MakeDirectories(s.root + "local");
  }
  ++s.count;
  return 0;
}

uint32_t SessionEnd() {
  State& s = S();
  std::vector<std::unique_ptr<HandleObject>> closing;
  {
    std::lock_guard lock(s.mu);
    if (s.count == 0) return 0;
    if (--s.count > 0) return 0;
    std::vector<uint32_t> roots;
    for (auto& [h, e] : s.handles)
      if (e.object->parent() == 0) roots.push_back(h);
    std::sort(roots.begin(), roots.end(), std::greater<>());
    for (uint32_t h : roots) Detach(s, h, closing);
  }
  Destroy(closing);  // outside the lock: closing a database may take time
  return 0;
}

uint32_t SessionSetProperty(uint32_t property, uint32_t value) {
  State& s = S();
  std::lock_guard lock(s.mu);
  switch (property) {
    case GVPROP_SHARED:
    case GVPROP_PROMPT:
      return 0;
    case GVPROP_CLEAR_ERROR:
      ClearLastError();
      return 0;
    case GVPROP_BUSY_TIMEOUT:
      s.busy_ms = static_cast<int>(std::min<uint64_t>(uint64_t{value} * 100, 24u * 3600 * 1000));
      return 0;
    default:
      return Fail(GVERR_INVALID_ARGUMENT, "unknown session property");
  }
}

int BusyTimeoutMs() {
  State& s = S();
  std::lock_guard lock(s.mu);
  return s.busy_ms;
}

std::string DataRoot() {
  State& s = S();
  std::lock_guard lock(s.mu);
  return s.count > 0 ? s.root : std::string();
}

uint32_t AddHandle(std::unique_ptr<HandleObject> obj, uint32_t parent, uint32_t& out) {
  if (!obj) return GVERR_INVALID_ARGUMENT;
  State& s = S();
  std::lock_guard lock(s.mu);
  if (s.count == 0) return GVERR_NOT_INITIALIZED;
  if (parent != 0 && s.handles.find(parent) == s.handles.end()) return GVERR_INVALID_HANDLE;
  if (s.next_handle == UINT32_MAX) return GVERR_NO_MEMORY;
  uint32_t h = ++s.next_handle;
  obj->handle_ = h;
  obj->parent_ = parent;
  s.handles.emplace(h, Entry{std::move(obj)});
  out = h;
  return 0;
}

HandleObject* FindHandle(uint32_t handle, HandleKind kind) {
  if (handle == 0) return nullptr;
  State& s = S();
  std::lock_guard lock(s.mu);
  auto it = s.handles.find(handle);
  if (it == s.handles.end() || it->second.object->kind() != kind) return nullptr;
  return it->second.object.get();
}

uint32_t CloseHandle(uint32_t handle) {
  State& s = S();
  std::vector<std::unique_ptr<HandleObject>> closing;
  {
    std::unique_lock lock(s.mu);
    auto it = handle == 0 ? s.handles.end() : s.handles.find(handle);
    if (it == s.handles.end()) return GVERR_INVALID_HANDLE;
    // Most closes are of a handle with none of its own (a document, once a record): it goes
    // without the lists of a walk through its descendants.
    const bool parent = std::any_of(s.handles.begin(), s.handles.end(), [&](const auto& e) {
      return e.second.object->parent() == handle;
    });
    if (!parent) {
      std::unique_ptr<HandleObject> object = std::move(it->second.object);
      s.handles.erase(it);
      lock.unlock();
      object.reset();
      return 0;
    }
    Detach(s, handle, closing);
  }
  Destroy(closing);
  return 0;
}

void ForEachHandle(HandleKind kind, void (*fn)(HandleObject&, void*), void* context) {
  State& s = S();
  std::lock_guard lock(s.mu);
  for (auto& [h, e] : s.handles)
    if (e.object->kind() == kind) fn(*e.object, context);
}

}  // namespace plexa
