// CL_BinaryFile: a CL_Stream over a file, through the POSIX file calls. Failures are not
// printed: each operation records an error text that ErrorString answers ("" after a
// success), "File '<name>': <operation text>: <strerror>".
#ifndef TW_TWCL_BASE_BINARY_FILE_H_
#define TW_TWCL_BASE_BINARY_FILE_H_

#include "twcl/base/object_stream.h"
#include "twcl/base/string.h"

class CL_BinaryFile : public CL_Stream {
 public:
  using CL_Object::operator=;
  // Open flags.
  static constexpr short kRead = 1;
  static constexpr short kWrite = 2;
  static constexpr short kCreate = 4;

  // With kCreate the file is first created or truncated (mode 0600); then the path must
  // be accessible for the requested access and stat-able; then it is opened (read-write,
  // read-only or write-only). Any failure leaves the file closed with its error text.
  CL_BinaryFile(const char* path, short flags);
  ~CL_BinaryFile() override;  // Close

  const char* ClassName() const override;  // "CL_BinaryFile"
  CL_Long ClassId() const override;        // 32

  using CL_Stream::Read;
  using CL_Stream::Write;
  CL_Long Read(void* buffer, CL_Long count) override;  // negative on failure
  // False at once without kWrite; asks PrepareToChange; notifies after a success.
  bool Write(const void* buffer, CL_Long count) override;
  bool SeekTo(CL_Long offset) override;
  bool SeekRelative(CL_Long delta) override;
  bool SeekToEnd() override;
  // Sets the file length; PrepareToChange first, Notify after a success.
  bool ChangeSize(CL_Long new_size) override;
  CL_Long Size() override;  // -1 when a seek fails; the position is kept
  bool Eof() override;
  CL_Long Offset() override;
  CL_String ErrorString() const override;

  bool IsOpen() const { return _fd >= 0; }
  void Close();  // closes an open descriptor
  CL_String FileName() const;

  // Whether path is accessible for reading (kRead) and/or writing (kWrite).
  static bool Exists(const char* path, short access);
  // Creates an empty file (mode 0600); answers whether that worked.
  static bool Create(const char* path);

 private:
  bool _Open();
  void _ClearError();
  void _ReportError(const char* what);  // "File '%s': %s: %s"

  CL_String _name;
  int _fd = -1;
  CL_String _error;
  short _flags;
};

#endif  // TW_TWCL_BASE_BINARY_FILE_H_
