// The run table: entry words in shared memory and the server's ownership of TWMSGTBL.
#include "runtable.h"

#include <endian.h>

#include <atomic>
#include <string>

#include "tw/coding.h"

namespace tw::server {
namespace {

constexpr int kHandle = 0;
constexpr int kCloseRequest = 1;
constexpr int kResult = 2;

int Clamp(int used) {
  if (used < 1) return 1;
  if (used > static_cast<int>(TWMSGTBL_ENTRIES)) return static_cast<int>(TWMSGTBL_ENTRIES);
  return used;
}

}  // namespace

RunTable::RunTable(void* base, int used)
    : base_(static_cast<unsigned char*>(base)), used_(Clamp(used)) {}

uint32_t RunTable::Load(int index, int word) const {
  auto* p = reinterpret_cast<uint32_t*>(base_ + TWMSGTBL_ENTRY_SIZE * index + 4 * word);
  return le32toh(std::atomic_ref<uint32_t>(*p).load());
}

void RunTable::Store(int index, int word, uint32_t value) {
  auto* p = reinterpret_cast<uint32_t*>(base_ + TWMSGTBL_ENTRY_SIZE * index + 4 * word);
  std::atomic_ref<uint32_t>(*p).store(htole32(value));
}

void RunTable::Reset() {
  for (int i = 0; i < used_; ++i) {
    Store(i, kHandle, 0);
    Store(i, kCloseRequest, TWCLOSE_NONE);
    Store(i, kResult, TWMSGTBL_NO_RESULT);
  }
}

int RunTable::Claim(int32_t handle, bool* retaken) {
  if (handle == 0) return -1;
  // A runner finds the first entry holding its handle, so an old entry of the same handle
  // must be the one taken, wherever it lies.
  int index = Find(handle);
  bool again = index >= 0;
  if (!again) index = Find(0);
  if (index < 0) return -1;
  Store(index, kResult, TWMSGTBL_NO_RESULT);
  Store(index, kCloseRequest, TWCLOSE_NONE);
  Store(index, kHandle, static_cast<uint32_t>(handle));
  if (retaken != nullptr) *retaken = again;
  return index;
}

void RunTable::Free(int index) {
  if (index < 0 || index >= used_) return;
  Store(index, kHandle, 0);
  Store(index, kResult, TWMSGTBL_NO_RESULT);
}

int RunTable::Find(int32_t handle) const {
  for (int i = 0; i < used_; ++i)
    if (static_cast<int32_t>(Load(i, kHandle)) == handle) return i;
  return -1;
}

int32_t RunTable::Handle(int index) const {
  return static_cast<int32_t>(Word(index, kHandle));
}
uint32_t RunTable::CloseRequest(int index) const {
  return Word(index, kCloseRequest);
}
uint32_t RunTable::Result(int index) const {
  return Word(index, kResult);
}
void RunTable::SetCloseRequest(int index, uint32_t value) {
  if (index >= 0 && index < used_) Store(index, kCloseRequest, value);
}
void RunTable::SetResult(int index, uint32_t value) {
  if (index >= 0 && index < used_) Store(index, kResult, value);
}

uint32_t RunTable::Word(int index, int word) const {
  return index >= 0 && index < used_ ? Load(index, word) : 0;
}

uint32_t SharedRunTable::Create() {
  Destroy();
  TWProcShmem shmem{};
  if (uint32_t st = TWProcShmemCreate(TWMSGTBL_SIZE, TWMSGTBL_NAME, &shmem)) return st;
  shmem_ = shmem;
  created_ = true;
  address_ = TWProcShmemMap(TWMSGTBL_SIZE, TWMSGTBL_NAME, &shmem_);
  if (address_ == nullptr) {
    Destroy();
    return TWFAIL_RUNTABLE_MAP;
  }
  return TWSUCCESS;
}

void SharedRunTable::Destroy() {
  if (!created_) return;
  if (address_ != nullptr) TWProcShmemUnmap(&shmem_);
  TWProcShmemDestroy(&shmem_);
  created_ = false;
  address_ = nullptr;
  shmem_ = TWProcShmem{};
}

uint32_t DestroyRunTableByName() {
  TWProcShmem shmem{};
  shmem.size = TWMSGTBL_SIZE;
  std::string name = std::string(TWFileExeDir()) + TWMSGTBL_NAME;
  copy_bounded(shmem.name, sizeof shmem.name, name);
  return TWProcShmemDestroy(&shmem);
}

}  // namespace tw::server
