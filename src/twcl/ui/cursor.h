// Mouse cursors: the system's by number, or the program's own by resource name. Typed
// cursors come from one process-wide cache and are never destroyed; a named cursor is its
// own and goes with it.
#ifndef TW_TWCL_UI_CURSOR_H_
#define TW_TWCL_UI_CURSOR_H_

#include "twcl/base/object.h"
#include "twcl/base/string.h"

inline constexpr CL_Long UI_ClassId_Cursor = 260;

// Types: 1 arrow, 2 wait, 3 cross, 4 I-beam, 5 north-south, 6 west-east, 7 up arrow; 0 none.
class UI_Cursor : public CL_Object {
 public:
  using CL_Object::operator=;
  explicit UI_Cursor(int type = 0);
  UI_Cursor(const UI_Cursor&) = delete;
  ~UI_Cursor() override;
  // The class keeps its base's name.
  CL_Long ClassId() const override { return UI_ClassId_Cursor; }

  // Loads (or takes from the cache) the cursor of that type; an unknown type or a failed
  // load warns and leaves no cursor.
  bool Init(int type);
  // Another type: an unknown one warns and leaves the cursor as it was.
  UI_Cursor& operator=(int type);
  // A cursor resource of the program by name; a name it does not have warns and leaves the
  // cursor as it was.
  UI_Cursor& operator=(const char* name);
  CL_Object& operator=(const CL_Object& other) override;  // not offered: warns
  bool operator==(const CL_Object& other) const override;
  // Same type; named ones by name. != is the negation.
  bool operator==(const UI_Cursor& other) const;

  int Type() const { return type_; }
  const CL_String& Name() const { return name_; }
  void* Handle() const { return handle_; }  // HCURSOR; null for type 0
  bool Use() const;                         // makes it the pointer's shape

 private:
  void Release();
  int type_ = 0;
  CL_String name_;
  void* handle_ = nullptr;
};

#endif  // TW_TWCL_UI_CURSOR_H_
