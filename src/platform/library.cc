// Shared libraries and plug-in modules (<installation directory><name>.twx): loading,
// unloading, and exports by name or by ordinal.
#include <dlfcn.h>

#include <cstring>
#include <string>

#include "platform.h"
#include "tw/guard.h"

namespace {

// The table a module exports so that callers may reach its functions by number: a
// null-terminated array of export names, ordinal 1 being the first.
constexpr char kOrdinalTable[] = "TWOrdinalNames";
constexpr uint32_t kMaxOrdinal = 0xFFFF;

}  // namespace

extern "C" {

// Flag 1 (no error box) has nothing to suppress here. A plug-in name is a bare name: one
// holding "/" or ".." could reach a module outside the installation directory, and ".." is
// refused in any name.
TW_API void* TWLibraryLoad(const char* name, int flags) {
  return tw::guard_value<void*>(nullptr, [&]() -> void* {
    if (name == nullptr || *name == '\0' || std::strstr(name, "..") != nullptr) return nullptr;
    std::string file(name);
    if (flags & TWLIB_PLUGIN) {
      const char* dir = TWFileExeDir();
      // Without an installation directory a bare name would be searched on the loader's
      // path: refuse rather than load a module from elsewhere.
      if (std::strchr(name, '/') != nullptr || dir == nullptr || *dir == '\0') return nullptr;
      file = std::string(dir) + name + ".twx";
    }
    return ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  });
}

// 1 when the library was unloaded, 0 for a null handle or a failure.
TW_API int TWLibraryFree(void* library) {
  if (library == nullptr) return 0;
  return ::dlclose(library) == 0 ? 1 : 0;
}

TW_API void* TWLibraryLoadProc(void* library, const char* name, uint32_t ordinal) {
  if (library == nullptr) return nullptr;
  if (name != nullptr) return ::dlsym(library, name);
  if (ordinal == 0 || ordinal > kMaxOrdinal) return nullptr;
  auto* table = static_cast<const char* const*>(::dlsym(library, kOrdinalTable));
  if (table == nullptr) return nullptr;
  // The table ends at its null entry; an ordinal past it names nothing.
  for (uint32_t i = 1; i < ordinal; ++i, ++table)
    if (*table == nullptr) return nullptr;
  return *table == nullptr ? nullptr : ::dlsym(library, *table);
}

}  // extern "C"
