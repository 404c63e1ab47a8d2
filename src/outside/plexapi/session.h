// The process's session: the counted _GVInit, its settings, the table of 32-bit handles
// (databases, indexes, documents, composites) and the per-thread last failure with its
// texts. Every extern "C" entry point runs inside Api() or ApiSession(). Never exported.
#ifndef TW_OUTSIDE_PLEXAPI_SESSION_H_
#define TW_OUTSIDE_PLEXAPI_SESSION_H_

#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "plexapi.h"

namespace plexa {

// ---------------------------------------------------------------- failures ---------------

// The fixed text of a status ("Plexa status 0x%08X" for an unknown one).
std::string StatusText(uint32_t status);
// Records status as the calling thread's last failure (text = fixed text, then ": " and
// detail when given; info as GVErrorFetch describes) and fills the thread's error buffer.
// Answers status, so that `return Fail(GVERR_X, name);` reads naturally. Fail(0) is 0 and
// records nothing.
uint32_t Fail(uint32_t status, std::string_view detail = {}, uint32_t info = 0);
// Forgets the thread's last failure.
void ClearLastError();
// The thread's last failure.
struct LastError {
  uint32_t status = 0;
  uint32_t info = 0;
  std::string text;
};
const LastError& GetLastError();
// Puts back a failure saved with GetLastError (work that may fail without the call failing).
void RestoreLastError(LastError e);
// The error buffer of GVErrorSetBuffer (null/0 stops it).
void SetErrorBuffer(char* buffer, uint32_t size);

namespace detail {
void BeginCall();
uint32_t EndCall(uint32_t status);  // records a status that no Fail recorded in this call
}  // namespace detail

// Runs f (returning a status) as an API call: an exception becomes GVERR_NO_MEMORY or
// GVERR_ENGINE, and a failure that the call did not record with Fail is recorded plainly.
template <class F>
[[nodiscard]] uint32_t Api(F&& f) noexcept {
  try {
    detail::BeginCall();
    return detail::EndCall(std::forward<F>(f)());
  } catch (const std::bad_alloc&) {
    return detail::EndCall(GVERR_NO_MEMORY);
  } catch (...) {
    return detail::EndCall(GVERR_ENGINE);
  }
}
// The same for calls that need a session: GVERR_NOT_INITIALIZED without one.
bool SessionActive();
template <class F>
[[nodiscard]] uint32_t ApiSession(F&& f) noexcept {
  return Api([&]() -> uint32_t {
    if (!SessionActive()) return GVERR_NOT_INITIALIZED;
    return std::forward<F>(f)();
  });
}
// For entry points that answer a value (a count, an id): on_failure when f throws.
template <class T, class F>
T ApiValue(T on_failure, F&& f) noexcept {
  try {
    detail::BeginCall();
    return std::forward<F>(f)();
  } catch (const std::bad_alloc&) {
    detail::EndCall(GVERR_NO_MEMORY);
    return on_failure;
  } catch (...) {
    detail::EndCall(GVERR_ENGINE);
    return on_failure;
  }
}

// ---------------------------------------------------------------- session ----------------

// _GVInit / GVTerm: counted. The first start reads the data root.
[[nodiscard]] uint32_t SessionStart(uint32_t version);
[[nodiscard]] uint32_t SessionEnd();
// Session properties.
[[nodiscard]] uint32_t SessionSetProperty(uint32_t property, uint32_t value);
// The busy timeout for new connections, in milliseconds.
int BusyTimeoutMs();
// The data root of the session, ending in "/" ("" without a session).
std::string DataRoot();

// ---------------------------------------------------------------- handles ----------------

enum class HandleKind : uint32_t { kDatabase = 1, kIndex = 2, kDocument = 3, kComposite = 4 };

class HandleObject;
// Registers obj under a new handle (never 0, never one used before in this process) as a
// child of parent (0: none; it must be valid). *out receives the handle. Without a session:
// GVERR_NOT_INITIALIZED.
[[nodiscard]] uint32_t AddHandle(std::unique_ptr<HandleObject> obj, uint32_t parent, uint32_t& out);

// An object named by a handle. A handle closes with its parent (children first, the most
// recent first); destroying the object is closing it (documents discard, composites drop).
class HandleObject {
 public:
  virtual ~HandleObject() = default;
  virtual HandleKind kind() const = 0;
  uint32_t handle() const { return handle_; }
  uint32_t parent() const { return parent_; }

 private:
  friend uint32_t AddHandle(std::unique_ptr<HandleObject> obj, uint32_t parent, uint32_t& out);
  uint32_t handle_ = 0;
  uint32_t parent_ = 0;
};

// The object of a valid handle of that kind, else null.
HandleObject* FindHandle(uint32_t handle, HandleKind kind);
template <class T>
T* Find(uint32_t handle) {
  return static_cast<T*>(FindHandle(handle, T::kKind));
}
// Closes the handle and its descendants. Invalid: GVERR_INVALID_HANDLE.
[[nodiscard]] uint32_t CloseHandle(uint32_t handle);
// Calls fn for every live handle of kind (the table is locked meanwhile: fn must not add
// or close handles).
void ForEachHandle(HandleKind kind, void (*fn)(HandleObject&, void*), void* context);
// Answers whether a live handle of T's kind satisfies pred (same locking rule).
template <class T, class P>
bool AnyHandle(P&& pred) {
  struct Ctx {
    std::remove_reference_t<P>* pred;
    bool found;
  } ctx{&pred, false};
  ForEachHandle(
      T::kKind,
      [](HandleObject& o, void* c) {
        auto* x = static_cast<Ctx*>(c);
        if (!x->found && (*x->pred)(static_cast<T&>(o))) x->found = true;
      },
      &ctx);
  return ctx.found;
}

}  // namespace plexa

#endif  // TW_OUTSIDE_PLEXAPI_SESSION_H_
