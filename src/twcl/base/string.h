// CL_String, the library's text: a growable NUL-terminated buffer with value semantics,
// strcmp order, searching, splitting, formatting and a stored form; CL_StringSlice, a
// substring that writes its edits back into its parent; CL_StringSplitter, which walks the
// fields of a string.
//
// Include as "twcl/base/string.h": the directory src/twcl/base is never an include root.
#ifndef TW_TWCL_BASE_STRING_H_
#define TW_TWCL_BASE_STRING_H_

#include <iosfwd>
#include <memory>

#include "twcl/base/ordered_object.h"

class CL_ByteArray;
class CL_StringSequence;
class CL_StringSlice;

// Every mutator asks PrepareToChange first and answers false (changing nothing) on a veto;
// after a change it calls Notify. A failed allocation leaves the string unchanged.
class CL_String : public CL_OrderedObject<CL_String> {
 public:
  CL_String();               // "" with capacity 12
  CL_String(const char* s);  // null gives ""
  CL_String(const CL_String& other);
  CL_String(const char* buffer, CL_Long length);  // exactly length bytes (may hold NULs)
  // Decimal value right-aligned in width, padded with pad; '-' stands before the digits
  // when pad is a blank, in front of the pads otherwise; never cut.
  CL_String(CL_Long value, short width, char pad);
  CL_String(char c, CL_Long count);               // c repeated count times
  explicit CL_String(const CL_ByteArray& bytes);  // the bytes up to the first NUL or the end
  ~CL_String() override;

  const char* ClassName() const override;  // "CL_String"
  CL_Long ClassId() const override;        // 6
  CL_Object* Clone() const override;

  // Against another CL_String: strcmp of the buffers (CL_OrderedObject). Against another
  // class the relational operators answer false (!= true) and Compare follows addresses.
  using CL_OrderedObject::operator<;
  using CL_OrderedObject::operator==;
  using CL_OrderedObject::operator<=;
  using CL_OrderedObject::operator>;
  using CL_OrderedObject::operator>=;
  using CL_OrderedObject::operator!=;
  // The CL_Cmp* codes on strcmp, plus CL_CmpPrefix (this begins with s) and CL_CmpContains
  // (s occurs in this); both false when this is shorter than s. A bad op warns
  // "CL_String::CompareWith: bad operator %d", false.
  bool CompareWith(const CL_String& s, short op) const override;
  bool CompareWith(const CL_Object& other, short op) const override;  // other class: false

  // With a C string (null counts as ""). Three of them are virtual slots.
  virtual bool operator>=(const char* s) const;
  virtual bool operator==(const char* s) const;
  virtual bool operator!=(const char* s) const;
  bool operator<(const char* s) const;
  bool operator<=(const char* s) const;
  bool operator>(const char* s) const;

  // Editing (virtual slots, in slot order).
  // s goes in after position pos (-1: at the front; Size()-1: appended); other pos: false;
  // an empty s: true, unchanged.
  virtual bool Insert(const char* s, CL_Long pos);
  virtual bool Insert(char c, CL_Long pos);
  // False if start < 0, start >= Size() or count < 0; removes min(count, Size()-start).
  virtual bool Delete(CL_Long start, CL_Long count);
  // General format with capacity-1 significant digits (at least 11).
  virtual bool Assign(double value);
  virtual bool Assign(CL_Long value);  // decimal, no padding
  virtual bool Assign(const CL_String& other);
  virtual bool Assign(const char* s);  // null empties; its own buffer: no change
  virtual CL_String operator+(const CL_String& other) const;
  virtual CL_String operator+(const char* s) const;  // null or "": a plain copy
  virtual CL_String& operator+=(const CL_String& other);
  virtual CL_String& operator+=(const char* s);
  // The text before the first occurrence of s; the whole string when s does not occur.
  virtual CL_String Before(const char* s) const;
  // Reads up to a newline (consumed, not stored) or the end; false when nothing could be
  // read (end of stream) or on a veto.
  virtual bool ReadLine(std::istream& in);
  // False unless Size() < width; then exactly width characters, c filling on the right
  // (on_right) or on the left.
  virtual bool PadTo(CL_Long width, char c, bool on_right);
  virtual CL_Long ToUpper();  // answers how many characters changed
  virtual CL_Long ToLower();
  // False when empty or the first character is no letter; upper-cases it and lower-cases
  // the letters directly following it.
  virtual bool Capitalize();

  CL_String& operator=(const CL_String& other);  // Assign
  CL_String& operator=(const char* s);
  CL_String& operator=(CL_Long value);
  CL_String& operator=(double value);
  // Class check "CL_String::op=", then Assign.
  CL_String& operator=(const CL_Object& other) override;

  CL_String operator+(CL_Long value) const;  // its decimal text appended
  bool Append(char c);                       // Insert(c, Size()-1)
  // Formats into a 1024-byte scratch area; a text of 1024 bytes or more warns
  // "CL_String::AssignWithFormat: arg too large, possible memory corruption", changes
  // nothing, false.
  bool AssignWithFormat(const char* format, ...) __attribute__((format(printf, 2, 3)));

  CL_Long Size() const { return _length; }
  const char* AsPtr() const;  // never null; "" after a failed allocation
  CL_String InUpperCase() const;
  CL_String InLowerCase() const;
  // Leading blanks, an optional '-', digits up to the first non-digit; "+5" is 0.
  CL_Long AsLong() const;
  double AsDouble() const;

  // Searches answer a position or -1.
  CL_Long Index(char c, CL_Long start = 0) const;
  CL_Long NIndex(char c, CL_Long start = 0) const;
  CL_Long CharIndex(const char* set, CL_Long start = 0) const;   // null set: 0
  CL_Long NCharIndex(const char* set, CL_Long start = 0) const;  // null set: 0
  // The n-th occurrence of s at or after start (occurrences may overlap).
  CL_Long SubstringIndex(const char* s, CL_Long start = 0, CL_Long n = 1) const;
  bool IsPrefixOf(const char* s) const;  // null: false

  // A slice over min(count, Size()-start) characters from start (empty when start lies
  // outside); edits of the slice are written back into this string.
  CL_StringSlice Substring(CL_Long start, CL_Long count);
  // Replaces up to max occurrences of old_text at or after start by new_text (null: "");
  // answers how many; an empty or null old_text: 0.
  CL_Long Replace(const char* old_text, const char* new_text, CL_Long start, CL_Long max);
  CL_Long ReplaceAll(const char* old_text, const char* new_text, CL_Long start = 0);

  // The n-th field (from 1) as CL_StringSplitter finds them; n = 0: the whole string;
  // missing: "".
  CL_String Field(CL_Long n, const char* separators) const;
  // All fields (runs of separators make no empty fields).
  CL_StringSequence Split(const char* separators) const;
  // Splits at every c, keeping empty fields; the last field is always added.
  CL_StringSequence SplitOn(char c) const;
  // Fills at most n-1 fields, then the rest into fields[n-1]; answers how many were stored
  // (an empty rest is not counted). fields has room for n strings.
  CL_Long Split(CL_String fields[], CL_Long n, const char* separators) const;

  CL_String AsString() const override;  // a copy
  void IntoStream(std::ostream& out) const override;
  // Skips leading fill characters, reads up to the next one (put back) or the end.
  void FromStream(std::istream& in) override;

  // Stored form: id 6 (4), n = Size()+1 (4), the characters and the NUL (n bytes).
  CL_Long StorableFormWidth() const override;  // Size() + 9
  // Refuses n <= 0, n beyond the bytes left in the stream, and a last byte that is not NUL.
  bool ReadFrom(CL_Stream& s) override;
  bool WriteTo(CL_Stream& s) const override;

 protected:
  bool _Reserve(CL_Long capacity);  // grows the buffer, keeping the text
  friend class CL_StringSlice;

  std::unique_ptr<char[]> _buffer;
  CL_Long _capacity = 0;
  CL_Long _length = 0;

 private:
  friend class CL_OrderedObject<CL_String>;
  int _Order(const CL_String& other) const;  // strcmp
  void _Init(const char* bytes, CL_Long length, CL_Long capacity);
  // Replace / extend the text by length bytes at bytes, which may lie in this string's own
  // buffer; each is one change (asked and told).
  bool _AssignBytes(const char* bytes, CL_Long length);
  bool _AppendBytes(const char* bytes, CL_Long length);
  static CL_String _Concat(const char* a, CL_Long a_length, const char* b, CL_Long b_length);
};

CL_String operator+(const char* s, const CL_String& t);

// A CL_String holding a copy of a range of its parent. Every change of the slice is written
// back: the parent's covered range is replaced by the slice's text (the parent is then
// notified). The slice must not outlive its parent; the write-back never reaches past the
// parent's current end.
class CL_StringSlice : public CL_String {
 public:
  CL_StringSlice(CL_String& parent, CL_Long start, CL_Long count);
  CL_StringSlice(const CL_StringSlice& other);  // same parent and range, its own binding
  ~CL_StringSlice() override;

  using CL_String::operator=;
  CL_StringSlice& operator=(const CL_StringSlice& other);  // assigns the text (written back)

  // The post-change binding's target: writes the slice's text over the covered range.
  bool _UpdateParent();

  CL_String* Parent() const { return _parent; }
  CL_Long Start() const { return _start; }
  CL_Long Count() const { return _count; }

 private:
  CL_String* _parent;
  CL_Long _start;
  CL_Long _count;
};

// Walks the fields of a string that it does not own (it must outlive the splitter).
class CL_StringSplitter : public CL_Object {
 public:
  CL_StringSplitter(const CL_String& s, const char* separators);
  ~CL_StringSplitter() override;
  CL_StringSplitter(const CL_StringSplitter& other);
  CL_StringSplitter& operator=(const CL_StringSplitter& other);
  using CL_Object::operator=;

  const char* ClassName() const override;  // "CL_StringSplitter"

  void Reset();  // position -1
  // The next field (separators replaced first when given); "" when only separators remain
  // or the text is used up, which is the caller's end signal.
  CL_String Next(const char* separators = nullptr);
  // The text after the position; the position moves to the end.
  CL_String Remaining();
  // The text from the position up to the first following character not in set; the
  // position moves to just before that character; "" (position unchanged) when there is no
  // set, no text left or no such character.
  CL_String Scan(const char* set);

 private:
  const CL_String* _string;
  CL_Long _position = -1;
  CL_String _separators;
};

#endif  // TW_TWCL_BASE_STRING_H_
