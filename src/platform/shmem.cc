// Named shared memory: POSIX shared-memory objects "/tw-<installation key>-<name>", owned by
// the process that created them through an owner lock in the run directory.
//
// The owner lock makes a crashed owner's table detectable: its lock is free, so the next
// TWProcShmemCreate removes the old object and makes a new zero-filled one, while a live
// owner (in this process or another) answers 526. Destroy removes the object when this
// process owns it, or when nobody does (a stale table); a table that a live process owns
// elsewhere is left alone (527), so a clean-up that runs after Create failed never removes
// the running server's table.
//
// The record's internal words are trusted only as far as this process's own books confirm
// them: a record made up on the spot (handle 0, lockFd 0 in a zero-filled struct) neither
// closes descriptor 0 nor unmaps anything; ownership is looked up by name.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "platform.h"
#include "rundir.h"
#include "tw/coding.h"
#include "tw/guard.h"

namespace {

struct Books {
  std::mutex mu;
  std::map<std::string, int> owned;  // object name -> owner lock descriptor
  std::map<void*, size_t> mappings;  // address -> length
};
Books& books() {
  static auto* b = new Books;  // never destroyed: a signal handler's clean-up runs at exit
  return *b;
}

struct Names {
  std::string object;  // for shm_open
  std::string lock;    // owner lock file, in the run directory
};

// A name is bare ("TWMSGTBL") or the installation directory followed by the bare name.
bool resolve(const char* given, size_t max, bool create_dir, Names* out) {
  if (given == nullptr) return false;
  std::string name(given, ::strnlen(given, max));
  size_t slash = name.rfind('/');
  if (slash != std::string::npos) {
    std::string dir = name.substr(0, slash + 1);
    char* real = ::realpath(dir.c_str(), nullptr);
    std::string resolved = real != nullptr ? std::string(real) + "/" : std::string();
    std::free(real);
    char* inst = ::realpath(tw::installation_dir().c_str(), nullptr);
    std::string install = inst != nullptr ? std::string(inst) + "/" : std::string();
    std::free(inst);
    if (resolved.empty() || resolved != install) return false;
    name.erase(0, slash + 1);
  }
  if (!tw::valid_object_name(name)) return false;
  out->object = "/tw-" + tw::installation_key() + "-" + name;
  std::string dir = tw::run_dir(create_dir);
  if (dir.empty()) return false;
  out->lock = dir + "shm-" + name + ".lock";
  return true;
}

void fill_record(TWProcShmem* shmem, const char* name, uint32_t size, void* address, int lock) {
  shmem->handle = reinterpret_cast<intptr_t>(address);
  shmem->size = size;
  tw::copy_bounded(shmem->name, sizeof shmem->name,
                   std::string_view(name, ::strnlen(name, sizeof shmem->name - 1)));
  shmem->address = address;
  shmem->lockFd = lock;
}

// Unmaps the record's mapping when this process made it; the record is then not open.
void unmap_record(Books& b, TWProcShmem* shmem) {
  void* address = shmem->address;
  if (shmem->handle != 0 && shmem->handle == reinterpret_cast<intptr_t>(address)) {
    auto it = b.mappings.find(address);
    if (it != b.mappings.end()) {
      ::munmap(address, it->second);
      b.mappings.erase(it);
    }
  }
  shmem->handle = 0;
  shmem->address = nullptr;
}

}  // namespace

extern "C" {

TW_API uint32_t TWProcShmemCreate(uint32_t size, const char* name, TWProcShmem* shmem) {
  return tw::guard([&]() -> uint32_t {
    Names names;
    if (shmem == nullptr || size == 0 || !resolve(name, 1024, true, &names))
      return TWFAIL_SHMEM_CREATE;
    Books& b = books();
    std::lock_guard<std::mutex> lock(b.mu);
    if (b.owned.count(names.object) != 0) return TWFAIL_SHMEM_EXISTS;
    int lock_fd = tw::lock_owner(names.lock);
    // The empty run directory went between its making and the lock's.
    for (int attempt = 1; lock_fd < 0 && errno == ENOENT && attempt < tw::kRunDirAttempts;
         ++attempt) {
      if (!resolve(name, 1024, true, &names)) return TWFAIL_SHMEM_CREATE;
      lock_fd = tw::lock_owner(names.lock);
    }
    if (lock_fd < 0) return errno == EWOULDBLOCK ? TWFAIL_SHMEM_EXISTS : TWFAIL_SHMEM_CREATE;
    auto give_up = [&] {
      ::unlink(names.lock.c_str());
      ::close(lock_fd);
      return TWFAIL_SHMEM_CREATE;
    };
    // Whatever carries the name now was left by an owner that is gone.
    ::shm_unlink(names.object.c_str());
    int fd = ::shm_open(names.object.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return give_up();
    bool sized = ::ftruncate(fd, static_cast<off_t>(size)) == 0;
    ::close(fd);
    if (!sized) {
      ::shm_unlink(names.object.c_str());
      return give_up();
    }
    try {
      b.owned.emplace(names.object, lock_fd);
    } catch (...) {
      ::shm_unlink(names.object.c_str());
      give_up();
      throw;
    }
    fill_record(shmem, name, size, nullptr, lock_fd);
    return TWSUCCESS;
  });
}

TW_API void* TWProcShmemMap(uint32_t size, const char* name, TWProcShmem* shmem) {
  return tw::guard_value<void*>(nullptr, [&]() -> void* {
    Names names;
    if (shmem == nullptr || !resolve(name, 1024, false, &names)) return nullptr;
    int fd = ::shm_open(names.object.c_str(), O_RDWR | O_CLOEXEC, 0);
    if (fd < 0) return nullptr;
    struct stat st;
    bool fits = ::fstat(fd, &st) == 0 && st.st_size > 0 && st.st_size >= size &&
                static_cast<uint64_t>(st.st_size) <= UINT32_MAX;
    void* address = fits ? ::mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ | PROT_WRITE,
                                  MAP_SHARED, fd, 0)
                         : MAP_FAILED;
    ::close(fd);
    if (address == MAP_FAILED) return nullptr;
    Books& b = books();
    std::lock_guard<std::mutex> lock(b.mu);
    try {
      b.mappings.emplace(address, static_cast<size_t>(st.st_size));
    } catch (...) {
      ::munmap(address, static_cast<size_t>(st.st_size));
      throw;
    }
    // Mapping again through the same record replaces its earlier mapping.
    unmap_record(b, shmem);
    auto owner = b.owned.find(names.object);
    fill_record(shmem, name, static_cast<uint32_t>(st.st_size), address,
                owner != b.owned.end() ? owner->second : -1);
    return address;
  });
}

TW_API uint32_t TWProcShmemUnmap(TWProcShmem* shmem) {
  return tw::guard([&]() -> uint32_t {
    if (shmem == nullptr) return TWFAIL_SHMEM_DESTROY;
    Books& b = books();
    std::lock_guard<std::mutex> lock(b.mu);
    unmap_record(b, shmem);
    return TWSUCCESS;
  });
}

TW_API uint32_t TWProcShmemDestroy(TWProcShmem* shmem) {
  return tw::guard([&]() -> uint32_t {
    if (shmem == nullptr) return TWFAIL_SHMEM_DESTROY;
    Books& b = books();
    std::lock_guard<std::mutex> lock(b.mu);
    unmap_record(b, shmem);
    Names names;
    if (!resolve(shmem->name, sizeof shmem->name, false, &names)) return TWFAIL_SHMEM_DESTROY;
    auto owner = b.owned.find(names.object);
    int lock_fd;
    if (owner != b.owned.end()) {
      lock_fd = owner->second;
      b.owned.erase(owner);
    } else {
      lock_fd = tw::lock_owner(names.lock);
      if (lock_fd < 0) return TWFAIL_SHMEM_DESTROY;  // a live owner elsewhere
    }
    bool removed = ::shm_unlink(names.object.c_str()) == 0;
    ::unlink(names.lock.c_str());
    ::close(lock_fd);
    shmem->lockFd = -1;
    // The run directory goes with the last of its files.
    tw::remove_run_dir();
    return removed ? TWSUCCESS : TWFAIL_SHMEM_DESTROY;
  });
}

TW_API uint32_t TWProcShmemGetSize(TWProcShmem* shmem) {
  return tw::guard_value<uint32_t>(0, [&] { return shmem == nullptr ? 0u : shmem->size; });
}

}  // extern "C"
