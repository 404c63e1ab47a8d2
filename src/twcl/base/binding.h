// Bindings: callbacks held as values. CL_AbstractBinding is what dependents and event sets
// call; CL_Binding0<T> calls a member function of T without arguments; CL_Binding2<T> hands
// its member the executed value and a datum fixed when the binding was made (an element's
// index, say), so one member can serve many watched objects.
#ifndef TW_TWCL_BASE_BINDING_H_
#define TW_TWCL_BASE_BINDING_H_

#include <cstring>
#include <span>

#include "twcl/base/object.h"
#include "twcl/base/string.h"

class CL_AbstractBinding : public CL_Object {
 public:
  ~CL_AbstractBinding() override;
  const char* ClassName() const override;  // "CL_AbstractBinding"

  // Runs the callback with value (for dependents: the changed object's address); answers
  // the callback's result, false when the binding is not Valid.
  virtual bool Execute(CL_Word value) const = 0;
  // True when both the object and the member are set.
  virtual bool Valid() const = 0;

  // Bindings of one ClassId order by bound object address (signed, pointer-sized), then by
  // the member; equal pairs are equal bindings. Other classes: CL_Object's address order.
  short Compare(const CL_Object& other) const override;
  bool operator==(const CL_Object& other) const override;
  bool operator<(const CL_Object& other) const override;

 protected:
  CL_AbstractBinding() = default;
  CL_AbstractBinding(const CL_AbstractBinding& other) = default;
  CL_AbstractBinding& operator=(const CL_AbstractBinding&) { return *this; }
  using CL_Object::operator=;

  // The identity of the bound pair: the object's address and the member pointer's bytes.
  virtual const void* _Target() const = 0;
  virtual std::span<const unsigned char> _MemberBytes() const = 0;
  // "<name>: object %08x" with the bound object's address (the text form of every binding).
  CL_String _Describe(const char* name) const;
  // The bytes of a member pointer, for _MemberBytes.
  template <class Member>
  static std::span<const unsigned char> _BytesOf(const Member& member) {
    return {reinterpret_cast<const unsigned char*>(&member), sizeof member};
  }
};

template <class T>
class CL_Binding0 : public CL_AbstractBinding {
 public:
  using Member = bool (T::*)();

  CL_Binding0() = default;
  CL_Binding0(T* object, Member member) : _object(object), _member(member) {}
  CL_Binding0(const CL_Binding0& other) = default;
  CL_Binding0& operator=(const CL_Binding0& other) {
    _object = other._object;
    _member = other._member;
    return *this;
  }
  using CL_Object::operator=;
  ~CL_Binding0() override = default;

  const char* ClassName() const override { return "CL_Binding0"; }
  CL_Long ClassId() const override { return CL_ClassId_Binding0; }
  CL_Object* Clone() const override { return new CL_Binding0(*this); }
  CL_String AsString() const override { return _Describe("CL_Binding0"); }

  // Ignores value; (object->*member)() or false when unset.
  bool Execute(CL_Word) const override { return Valid() ? (_object->*_member)() : false; }
  bool Valid() const override { return _object != nullptr && _member != nullptr; }

  T* Object() const { return _object; }
  Member MemberFunction() const { return _member; }

 protected:
  const void* _Target() const override { return _object; }
  std::span<const unsigned char> _MemberBytes() const override { return _BytesOf(_member); }

 private:
  T* _object = nullptr;
  Member _member = nullptr;
};

template <class T>
class CL_Binding2 : public CL_AbstractBinding {
 public:
  using Member = bool (T::*)(CL_Word value, long datum);

  CL_Binding2() = default;
  CL_Binding2(T* object, Member member, long datum = 0)
      : _object(object), _member(member), _datum(datum) {}
  CL_Binding2(const CL_Binding2& other) = default;
  CL_Binding2& operator=(const CL_Binding2& other) {
    _object = other._object;
    _member = other._member;
    _datum = other._datum;
    return *this;
  }
  using CL_Object::operator=;
  ~CL_Binding2() override = default;

  const char* ClassName() const override { return "CL_Binding2"; }
  CL_Long ClassId() const override { return CL_ClassId_Binding2; }
  CL_Object* Clone() const override { return new CL_Binding2(*this); }
  CL_String AsString() const override { return _Describe("CL_Binding2"); }

  // (object->*member)(value, datum), or false when unset.
  bool Execute(CL_Word value) const override {
    return Valid() ? (_object->*_member)(value, _datum) : false;
  }
  bool Valid() const override { return _object != nullptr && _member != nullptr; }

  T* Object() const { return _object; }
  Member MemberFunction() const { return _member; }
  long Datum() const { return _datum; }

 protected:
  // The datum is not part of the identity: removing "the object's binding" from a watched
  // object finds it whatever datum it was made with.
  const void* _Target() const override { return _object; }
  std::span<const unsigned char> _MemberBytes() const override { return _BytesOf(_member); }

 private:
  T* _object = nullptr;
  Member _member = nullptr;
  long _datum = 0;
};

#endif  // TW_TWCL_BASE_BINDING_H_
