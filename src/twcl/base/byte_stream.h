// CL_ByteStream: a CL_Stream over a CL_ByteString in memory.
#ifndef TW_TWCL_BASE_BYTE_STREAM_H_
#define TW_TWCL_BASE_BYTE_STREAM_H_

#include "twcl/base/byte_string.h"
#include "twcl/base/object_stream.h"

class CL_ByteStream : public CL_Stream {
 public:
  using CL_Object::operator=;
  // The caller keeps owning bytes, which must outlive the stream; with null every
  // operation fails. The position starts at 0.
  explicit CL_ByteStream(CL_ByteString* bytes);
  ~CL_ByteStream() override;

  const char* ClassName() const override;  // "CL_ByteStream"
  CL_Long ClassId() const override;        // 31

  using CL_Stream::Read;
  using CL_Stream::Write;
  // Copies max(0, min(count, Size()-position)) bytes and advances.
  CL_Long Read(void* buffer, CL_Long count) override;
  // Grows the byte string to position+count when needed; true when count >= 0 and done.
  bool Write(const void* buffer, CL_Long count) override;
  // offset < 0: false; a byte string shorter than offset grows by 64 bytes; then moves.
  bool SeekTo(CL_Long offset) override;
  bool SeekRelative(CL_Long delta) override;  // position max(0, position+delta)
  bool SeekToEnd() override;
  bool ChangeSize(CL_Long new_size) override;  // the byte string's ChangeSize
  CL_Long Size() override;
  bool Eof() override;
  CL_Long Offset() override;

 private:
  CL_ByteString* _bytes;
  CL_Long _position = 0;
};

#endif  // TW_TWCL_BASE_BYTE_STREAM_H_
