// CL_BinaryFile: an object stream over a file through the POSIX calls; failures are kept
// as an error text instead of being printed.
#include "twcl/base/binary_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

namespace {

constexpr off_t kLongMax = std::numeric_limits<CL_Long>::max();

int AccessMode(short flags) {
  return ((flags & CL_BinaryFile::kRead) != 0 ? R_OK : 0) |
         ((flags & CL_BinaryFile::kWrite) != 0 ? W_OK : 0);
}

bool CreateEmpty(const char* path) {
  const int fd = ::open(path, O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

// An offset as a long, or -1 for a failure or a file beyond 2 GiB.
CL_Long AsLong(off_t offset) {
  return offset < 0 || offset > kLongMax ? -1 : static_cast<CL_Long>(offset);
}

}  // namespace

CL_BinaryFile::CL_BinaryFile(const char* path, short flags) : _name(path), _flags(flags) {
  if ((flags & kCreate) != 0 && !CreateEmpty(_name.AsPtr())) {
    _ReportError("BinaryFile constructor: create failed");
    return;
  }
  if (::access(_name.AsPtr(), AccessMode(flags)) != 0) {
    _ReportError("BinaryFile constructor: file does not exist");
    return;
  }
  struct stat status;
  if (::stat(_name.AsPtr(), &status) != 0) {
    _ReportError("BinaryFile constructor: stat failed");
    return;
  }
  _Open();
}

CL_BinaryFile::~CL_BinaryFile() {
  Close();
}

const char* CL_BinaryFile::ClassName() const {
  return "CL_BinaryFile";
}

CL_Long CL_BinaryFile::ClassId() const {
  return CL_ClassId_BinaryFile;
}

bool CL_BinaryFile::_Open() {
  _ClearError();
  int mode;
  switch (_flags & (kRead | kWrite)) {
    case kRead | kWrite:
      mode = O_RDWR;
      break;
    case kRead:
      mode = O_RDONLY;
      break;
    case kWrite:
      mode = O_WRONLY;
      break;
    default: {
      char what[80];
      std::snprintf(what, sizeof what, "BinaryFile constructor: invalid  flags parameter 0x%04x",
                    static_cast<unsigned>(static_cast<unsigned short>(_flags)));
      // A stable cause for the text: nothing failed in the system.
      errno = EINVAL;
      _ReportError(what);
      return false;
    }
  }
  _fd = ::open(_name.AsPtr(), mode | O_CLOEXEC);
  if (_fd < 0) {
    _ReportError("BinaryFile::_Open: open call failed");
    return false;
  }
  return true;
}

void CL_BinaryFile::_ClearError() {
  if (_error.Size() > 0) _error = "";
}

void CL_BinaryFile::_ReportError(const char* what) {
  const char* cause = std::strerror(errno);
  std::string text = "File '";
  text.append(_name.AsPtr()).append("': ").append(what).append(": ").append(cause);
  _error = text.c_str();
}

CL_Long CL_BinaryFile::Read(void* buffer, CL_Long count) {
  _ClearError();
  if (count <= 0) return count == 0 ? 0 : -1;
  auto* into = static_cast<char*>(buffer);
  CL_Long done = 0;
  // A read may deliver less than asked before the end of the file; go on until the count
  // or the end.
  while (done < count) {
    const ssize_t n = ::read(_fd, into + done, static_cast<std::size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      _ReportError("BinaryFile::Read: read call failed");
      return -1;
    }
    if (n == 0) break;
    done += static_cast<CL_Long>(n);
  }
  return done;
}

bool CL_BinaryFile::Write(const void* buffer, CL_Long count) {
  _ClearError();
  if ((_flags & kWrite) == 0 || count < 0) return false;
  if (count == 0) return true;
  if (!PrepareToChange()) return false;
  const auto* from = static_cast<const char*>(buffer);
  CL_Long done = 0;
  while (done < count) {
    const ssize_t n = ::write(_fd, from + done, static_cast<std::size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      _ReportError("BinaryFile::Write: write call failed");
      return false;
    }
    done += static_cast<CL_Long>(n);
  }
  Notify();
  return true;
}

bool CL_BinaryFile::SeekTo(CL_Long offset) {
  _ClearError();
  if (::lseek(_fd, offset, SEEK_SET) < 0) {
    _ReportError("BinaryFile::SeekTo: lseek call failed");
    return false;
  }
  return true;
}

bool CL_BinaryFile::SeekRelative(CL_Long delta) {
  _ClearError();
  if (::lseek(_fd, delta, SEEK_CUR) < 0) {
    _ReportError("BinaryFile::SeekRelative: lseek call failed");
    return false;
  }
  return true;
}

bool CL_BinaryFile::SeekToEnd() {
  _ClearError();
  if (::lseek(_fd, 0, SEEK_END) < 0) {
    _ReportError("BinaryFile::SeekToEnd: seek call failed");
    return false;
  }
  return true;
}

bool CL_BinaryFile::ChangeSize(CL_Long new_size) {
  _ClearError();
  if (!PrepareToChange()) return false;
  if (::ftruncate(_fd, new_size) != 0) {
    _ReportError("BinaryFile::ChangeSize: chsize  call failed");
    return false;
  }
  Notify();
  return true;
}

// Size, Offset and Eof are queries: they keep the error text of the last operation.
CL_Long CL_BinaryFile::Size() {
  const off_t position = ::lseek(_fd, 0, SEEK_CUR);
  if (position < 0) return -1;
  const off_t end = ::lseek(_fd, 0, SEEK_END);
  if (::lseek(_fd, position, SEEK_SET) < 0 || end < 0) return -1;
  return AsLong(end);
}

bool CL_BinaryFile::Eof() {
  return Offset() >= Size();
}

CL_Long CL_BinaryFile::Offset() {
  return AsLong(::lseek(_fd, 0, SEEK_CUR));
}

CL_String CL_BinaryFile::ErrorString() const {
  return _error;
}

void CL_BinaryFile::Close() {
  if (_fd < 0) return;
  ::close(_fd);
  _fd = -1;
}

CL_String CL_BinaryFile::FileName() const {
  return _name;
}

bool CL_BinaryFile::Exists(const char* path, short access) {
  return path != nullptr && ::access(path, AccessMode(access)) == 0;
}

bool CL_BinaryFile::Create(const char* path) {
  return path != nullptr && CreateEmpty(path);
}
