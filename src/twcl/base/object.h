// CL_Object, the root of every class of the GUI class library: identity, comparison,
// assignment, text and stored forms, and the dependents through which other objects are
// asked before (pre-change) and told after (post-change) an object changes.
//
// Thread rules: objects are used from one thread at a time; nothing here is guarded.
#ifndef TW_TWCL_BASE_OBJECT_H_
#define TW_TWCL_BASE_OBJECT_H_

#include <iosfwd>
#include <memory>

#include "twcl/base/class_ids.h"
#include "twcl/base/types.h"

class CL_String;
class CL_Stream;
class CL_ClientSet;
class CL_AbstractBinding;
struct CL_DependentsRecord;

// Operator codes of CompareWith.
inline constexpr short CL_CmpEqual = 0;
inline constexpr short CL_CmpLess = 1;
inline constexpr short CL_CmpGreater = 2;
inline constexpr short CL_CmpLessEqual = 3;
inline constexpr short CL_CmpGreaterEqual = 4;
inline constexpr short CL_CmpPrefix = 5;    // text: this begins with the other
inline constexpr short CL_CmpContains = 6;  // text: the other occurs in this
inline constexpr short CL_CmpNotEqual = 7;

class CL_Object {
 public:
  // Deletes the dependents record and with it every binding clone.
  virtual ~CL_Object();

  virtual const char* ClassName() const;  // "CL_Object"
  virtual CL_Long ClassId() const;        // 1
  // A new copy owned by the caller; the default warns "Clone" not implemented, answers null.
  virtual CL_Object* Clone() const;

  // Defaults: < by address, == by identity; the others derive from those two slots.
  virtual bool operator<(const CL_Object& other) const;
  virtual bool operator==(const CL_Object& other) const;
  virtual bool operator<=(const CL_Object& other) const;
  virtual bool operator>(const CL_Object& other) const;
  virtual bool operator>=(const CL_Object& other) const;
  virtual bool operator!=(const CL_Object& other) const;
  // -1, 0 or 1; the default: 0 if ==, -1 if <, else 1.
  virtual short Compare(const CL_Object& other) const;
  // AsString of this object compared with s by CL_String's CompareWith.
  virtual bool CompareWith(const CL_String& s, short op) const;
  // Compare when both report one ClassId, else address order; op is a CL_Cmp* code. A bad
  // op warns "CL_Object::CompareWith: bad operator %d" and answers false.
  virtual bool CompareWith(const CL_Object& other, short op) const;

  // Assignment from any object; the default warns "op= (const CL_Object&)" not implemented
  // and changes nothing. Overrides check the class first (CheckClassId or IsA). This is also
  // CL_Object's copy assignment: derived classes never default theirs. A class whose own
  // copy assignment (declared, deleted or implicit) would hide this one says
  // `using CL_Object::operator=;`, so that assignment from any object still reaches it.
  virtual CL_Object& operator=(const CL_Object& other);

  // Text form; the default warns "CL_Object::AsString" not implemented, answers "".
  virtual CL_String AsString() const;
  // Writes AsString's characters to the text stream.
  virtual void IntoStream(std::ostream& out) const;
  // The default warns "FromStream (istream&)" not implemented.
  virtual void FromStream(std::istream& in);

  // Bytes of the stored form (see each class); the default 0.
  virtual CL_Long StorableFormWidth() const;
  // Replace this object's value from its stored form. Answers false and leaves the object
  // unchanged on any failure (short input, bad id, bad length, veto). Default: warns
  // "ReadFrom" not implemented, false.
  virtual bool ReadFrom(CL_Stream& s);
  // Append the stored form; false when a write fails. Default: warns "WriteTo", false.
  virtual bool WriteTo(CL_Stream& s) const;

  // True when both objects report the same ClassId.
  bool IsA(const CL_Object& other) const;
  // IsA, else warns "%s: Invalid class '%s'" with what and other's ClassName; false.
  bool CheckClassId(const CL_Object& other, const char* what) const;
  // Warns "Class '%s' does not implement method '%s'\n" with ClassName and method.
  void NotImplemented(const char* method) const;
  // Reads a 4-byte id: true when it is ClassId; on a different id moves the stream back 4
  // bytes and answers false; false when the read fails.
  bool ReadClassId(CL_Stream& s) const;

  // Dependents. The set stores a clone of the binding (the caller keeps its own). Add
  // answers false when an equal binding is already present (or nothing could be stored);
  // Remove and Has answer false when there is no dependents record yet. Dependents are
  // bookkeeping, not value: they may be changed on a const object and are never copied.
  bool AddDependent(const CL_AbstractBinding& binding) const;
  bool RemoveDependent(const CL_AbstractBinding& binding) const;
  bool HasDependent(const CL_AbstractBinding& binding) const;
  bool AddPreChangeDependent(const CL_AbstractBinding& binding) const;
  bool RemovePreChangeDependent(const CL_AbstractBinding& binding) const;
  bool HasPreChangeDependent(const CL_AbstractBinding& binding) const;
  // The post-change / pre-change set, or null before the first dependent; owned by this.
  CL_ClientSet* Dependents() const;
  CL_ClientSet* PreChangeDependents() const;

  // Asks the pre-change bindings in order with this object's address; false at the first
  // veto (later ones are not asked); true without a record. Every mutator calls it first.
  bool PrepareToChange();
  // Tells the post-change bindings with this object's address. Every mutator calls it last.
  // A binding may add or remove bindings of this object meanwhile, but must not destroy it.
  void Notify();

 protected:
  CL_Object();
  // A copy starts without dependents.
  CL_Object(const CL_Object& other);

 private:
  CL_DependentsRecord* _Record() const;  // creates the record on first use; null if it cannot

  mutable std::unique_ptr<CL_DependentsRecord> _dependents;
};

// Text-stream glue: FromStream / IntoStream; both answer the stream.
std::istream& operator>>(std::istream& in, CL_Object& object);
std::ostream& operator<<(std::ostream& out, const CL_Object& object);

#endif  // TW_TWCL_BASE_OBJECT_H_
