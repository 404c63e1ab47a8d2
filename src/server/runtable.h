// The run table TWMSGTBL: 100 entries of five little-endian 32-bit words in named shared
// memory, through which a runner learns that it is asked to close and hands back its result.
// RunTable works on a mapped block; SharedRunTable owns the shared memory of a server.
//
// Thread rules: only the scheduler thread writes Handle and CloseRequest; runner processes
// write Result. Words are read and written whole (atomically), since another process works
// on the same block.
#ifndef TW_SERVER_RUNTABLE_H_
#define TW_SERVER_RUNTABLE_H_

#include <cstdint>

#include "platform.h"
#include "twengine.h"

namespace tw::server {

class RunTable {
 public:
  // base: a block of at least TWMSGTBL_SIZE bytes, 4-byte aligned; used: how many entries
  // (from the first) the server uses, cut to 1..TWMSGTBL_ENTRIES.
  RunTable(void* base, int used);

  int used() const { return used_; }

  // Sets each used entry to {Handle 0, CloseRequest 0, Result TWMSGTBL_NO_RESULT}; words 3
  // and 4 are not touched.
  void Reset();
  // The entry for a new run of handle: the used entry that already holds handle (left by a
  // run that was not freed; *retaken is set) or else the first free one. The entry gets
  // Handle = handle, CloseRequest 0, Result TWMSGTBL_NO_RESULT. -1 when no used entry is free
  // (nothing changes then), and for handle 0.
  int Claim(int32_t handle, bool* retaken);
  // Handle 0 and Result TWMSGTBL_NO_RESULT; CloseRequest stays until the next claim.
  void Free(int index);
  // The used entry holding handle, or -1.
  int Find(int32_t handle) const;

  // Words of a used entry; 0 for an index outside them.
  int32_t Handle(int index) const;
  uint32_t CloseRequest(int index) const;
  uint32_t Result(int index) const;
  void SetCloseRequest(int index, uint32_t value);
  // The runner's side: its result (0 or a message id).
  void SetResult(int index, uint32_t value);

 private:
  uint32_t Word(int index, int word) const;
  uint32_t Load(int index, int word) const;
  void Store(int index, int word, uint32_t value);

  unsigned char* base_;
  int used_;
};

// The server's TWMSGTBL: created (zero-filled) and mapped by Create, unmapped and destroyed
// by Destroy or the destructor.
class SharedRunTable {
 public:
  SharedRunTable() = default;
  ~SharedRunTable() { Destroy(); }
  SharedRunTable(const SharedRunTable&) = delete;
  SharedRunTable& operator=(const SharedRunTable&) = delete;

  // 0; TWFAIL_SHMEM_EXISTS (526) while a live server holds the table (nothing of it is
  // touched); another platform status when it cannot be created; 4178 when it cannot be
  // mapped (it is destroyed again).
  [[nodiscard]] uint32_t Create();
  void Destroy();
  void* address() const { return address_; }

 private:
  TWProcShmem shmem_{};
  bool created_ = false;
  void* address_ = nullptr;
};

// Destroys the table of this installation by name, with a record made up on the spot (the
// signal path): a table another live process owns is left alone.
[[nodiscard]] uint32_t DestroyRunTableByName();

}  // namespace tw::server

#endif  // TW_SERVER_RUNTABLE_H_
