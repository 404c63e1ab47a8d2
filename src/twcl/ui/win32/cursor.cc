#include "twcl/ui/cursor.h"

#include <map>

#include "twcl/base/error.h"
#include "twcl/ui/win32/native.h"

using namespace twui;

namespace {

// The system cursors by type; handles are pointer-sized, so the cache is a map of its own
// rather than one of 32-bit values.
HCURSOR Cached(int type, bool* known) {
  static std::map<int, HCURSOR> cache{{0, nullptr}};
  static const LPCSTR kCursors[] = {nullptr,   IDC_ARROW,  IDC_WAIT,   IDC_CROSS,
                                    IDC_IBEAM, IDC_SIZENS, IDC_SIZEWE, IDC_UPARROW};
  if (auto it = cache.find(type); it != cache.end()) {
    *known = true;
    return it->second;
  }
  HCURSOR h = type > 0 && type < 8 ? LoadCursorA(nullptr, kCursors[type]) : nullptr;
  *known = h != nullptr;
  if (h) cache[type] = h;
  return h;
}

}  // namespace

UI_Cursor::UI_Cursor(int type) {
  Init(type);
}

UI_Cursor::~UI_Cursor() {
  Release();
}

bool UI_Cursor::Init(int type) {
  bool known;
  HCURSOR h = Cached(type, &known);
  if (!known) {
    CL_Error::Warning("TWCL: UI_Cursor Init: Invalid cursor %d", type);
    return false;
  }
  type_ = type;
  handle_ = h;
  return true;
}

void UI_Cursor::Release() {
  // Only a cursor loaded by name is this object's; typed ones stay in the cache.
  if (handle_ && name_.Size()) DestroyCursor(static_cast<HCURSOR>(handle_));
  handle_ = nullptr;
  name_ = "";
  type_ = 0;
}

UI_Cursor& UI_Cursor::operator=(int type) {
  bool known;
  HCURSOR h = Cached(type, &known);
  if (!known) {
    CL_Error::Warning("TWCL: UI_Cursor::op=: cursor type %d: unknown type", type);
    return *this;
  }
  if (!PrepareToChange()) return *this;
  Release();
  type_ = type;
  handle_ = h;
  Notify();
  return *this;
}

UI_Cursor& UI_Cursor::operator=(const char* name) {
  HCURSOR h = name && *name ? LoadCursorA(GetModuleHandleA(nullptr), name) : nullptr;
  if (!h) {
    CL_Error::Warning("TWCL: Cursor::op= (string): LoadCursor %s failed", name ? name : "");
    return *this;
  }
  if (!PrepareToChange()) {
    DestroyCursor(h);
    return *this;
  }
  Release();
  handle_ = h;
  name_ = name;
  Notify();
  return *this;
}

CL_Object& UI_Cursor::operator=(const CL_Object&) {
  NotImplemented("op = (CL_Object&)");
  return *this;
}

bool UI_Cursor::operator==(const CL_Object& other) const {
  return IsA(other) && *this == static_cast<const UI_Cursor&>(other);
}

bool UI_Cursor::operator==(const UI_Cursor& other) const {
  if (name_.Size() || other.name_.Size()) return name_ == other.name_;
  return type_ == other.type_;
}

bool UI_Cursor::Use() const {
  if (!handle_) return false;
  SetCursor(static_cast<HCURSOR>(handle_));
  return true;
}
