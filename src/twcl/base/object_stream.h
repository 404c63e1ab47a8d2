// CL_Stream, the abstract binary stream every class stores itself in: 4-byte little-endian
// longs, 2-byte flags, and objects by value or by pointer with back references for an
// object written twice.
//
// Object form (little-endian): flag 'N' 0x00 (null pointer, nothing follows) | 'O' 0x00,
// class id (4), body (the class's WriteTo) | 'R' 0x00, offset (4) of an earlier body.
#ifndef TW_TWCL_BASE_OBJECT_STREAM_H_
#define TW_TWCL_BASE_OBJECT_STREAM_H_

#include <cstdint>
#include <memory>

#include "twcl/base/object.h"
#include "twcl/base/string.h"

inline constexpr short CL_StreamFlagNull = 'N';
inline constexpr short CL_StreamFlagObject = 'O';
inline constexpr short CL_StreamFlagReference = 'R';

class CL_Stream : public CL_Object {
 public:
  ~CL_Stream() override;  // the pointer maps; never the objects they name
  CL_Stream(const CL_Stream&) = delete;
  CL_Stream& operator=(const CL_Stream&) = delete;
  using CL_Object::operator=;

  const char* ClassName() const override;  // "CL_Stream"
  CL_Long ClassId() const override;        // 30

  // Bytes read (0 at the end), or a negative count on failure.
  virtual CL_Long Read(void* buffer, CL_Long count) = 0;
  virtual bool Write(const void* buffer, CL_Long count) = 0;
  virtual bool SeekTo(CL_Long offset) = 0;
  virtual bool SeekRelative(CL_Long delta);  // SeekTo(max(0, Offset() + delta))
  virtual bool SeekToEnd();                  // SeekTo(Size())
  virtual bool ChangeSize(CL_Long new_size) = 0;
  virtual CL_Long Size() = 0;  // -1 when unknown
  virtual bool Eof();          // Size() <= Offset()
  virtual CL_Long Offset() = 0;
  virtual CL_String ErrorString() const;  // "" by default
  // Switch back references on / off; both forget what was written so far.
  virtual void RememberPointers();
  virtual void ForgetPointers();
  // Reads a class id and answers a new default object of that class from the registry
  // (owned by the caller), or null (short input, unknown id, no creator).
  virtual CL_Object* _CreateFromClassId();

  // An object by value: flag 'O', id (skipped), then object.ReadFrom. 'R' warns
  // "CL_Stream::Read: reading object, found pointer"; another flag warns
  // "CL_Stream::Read: invalid flag: %d"; both false.
  bool Read(CL_Object& object);
  // An object by pointer: 'N' gives null; 'O' creates the object and reads it: a half-read
  // object is deleted (with every object created inside its read) and the answer is false
  // with object null; 'R' answers the object read earlier at that body offset (false when
  // none). Objects created belong to the caller. On false, object is null.
  bool Read(CL_Object*& object);
  // An object by pointer: null writes 'N'; else 'O', id, body, or 'R' and the earlier
  // body's offset when remembering pointers and the object was written before.
  bool Write(const CL_Object* object);
  // An object by value: 'O', id, body (never a back reference, which Read by value refuses).
  bool Write(const CL_Object& object);

  // Primitives: success only when every byte moves.
  bool ReadLong(CL_Long& value) {
    unsigned char b[4];
    if (Read(b, 4) != 4) return false;
    value = static_cast<CL_Long>(std::uint32_t{b[0]} | std::uint32_t{b[1]} << 8 |
                                 std::uint32_t{b[2]} << 16 | std::uint32_t{b[3]} << 24);
    return true;
  }
  bool WriteLong(CL_Long value) {
    const auto v = static_cast<std::uint32_t>(value);
    const unsigned char b[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                                static_cast<unsigned char>(v >> 16),
                                static_cast<unsigned char>(v >> 24)};
    return Write(b, 4);
  }
  bool ReadShort(short& value) {
    unsigned char b[2];
    if (Read(b, 2) != 2) return false;
    value = static_cast<short>(static_cast<std::uint16_t>(b[0] | b[1] << 8));
    return true;
  }
  bool WriteShort(short value) {
    const auto v = static_cast<std::uint16_t>(value);
    const unsigned char b[2] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8)};
    return Write(b, 2);
  }
  // A pointer-sized value in its 4-byte form: false (nothing written) when it does not fit.
  bool WriteWord(CL_Word value);
  bool ReadWord(CL_Word& value);  // sign-extended
  // Bytes between Offset() and Size(); 0 when unknown or negative. Readers check every
  // stored length and count against it before allocating.
  CL_Long Remaining() {
    const CL_Long size = Size(), offset = Offset();
    return size < 0 || offset < 0 || size < offset ? 0 : size - offset;
  }

  // Read journal for containers that read several objects: a reader that fails after
  // _ReadMark deletes, with _AbandonRead(mark), every object created by pointer since the
  // mark and forgets their back-reference entries. Objects read by back reference are
  // never deleted.
  CL_Long _ReadMark() const;
  void _AbandonRead(CL_Long mark);

 protected:
  CL_Stream();
  bool _WriteObject(const CL_Object& object);  // the 'O' / 'R' writer of Write(pointer)

 private:
  struct PointerMaps;  // read map (body offset -> object), write map, journal
  std::unique_ptr<PointerMaps> _maps;
  bool _remember_pointers = false;
};

#endif  // TW_TWCL_BASE_OBJECT_STREAM_H_
