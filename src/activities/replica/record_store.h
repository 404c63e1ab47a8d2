// One side of a replication, read whole in the order its data source returns it and given
// back in the order of TWFieldCompare on its keys, which is the only order the two sides can
// be paired by. Memory stays bounded: records beyond one block go to unnamed temporary files.
// A side that already rises is kept as read; one that does not is sorted in blocks and
// merged. Two records whose keys compare equal are found before the first record is given
// back, so that nothing is written on the strength of an order that does not hold.
#ifndef TW_ACTIVITIES_REPLICA_RECORD_STORE_H_
#define TW_ACTIVITIES_REPLICA_RECORD_STORE_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "flowcore.h"
#include "flowcore_ptr.h"

namespace tw::replica {

class RecordStore {
 public:
  // fields: every field of the side's record, which Add reads and Next fills; keys: the key
  // fields among them, in the order they are compared; compareFlags: TWCOMPAREF_*; block:
  // the bytes of records held in memory before they go to a file.
  RecordStore(std::vector<TWFIELD> fields, const std::vector<TWFIELD>& keys, uint32_t compareFlags,
              size_t block);
  ~RecordStore();
  RecordStore(const RecordStore&) = delete;
  RecordStore& operator=(const RecordStore&) = delete;

  // Keeps the record the fields hold. *twice: its keys equal those of the record before,
  // nothing kept. Failures are logged.
  [[nodiscard]] uint32_t Add(bool* twice) { return AddBlock(1, twice); }
  // Keeps the records in value slots 1 to count of the fields, in that order, as Add keeps
  // each: a block of records fetched at once is kept where it arrived. *twice: a record's
  // keys equal those of the record before it; it is moved to slot 1 (where Finish and Next
  // leave what they give), and nothing from it on is kept.
  [[nodiscard]] uint32_t AddBlock(uint32_t count, bool* twice);
  // After the last Add: puts the records into order. *twice: two records have keys that
  // compare equal, and the fields hold one of them. Failures are logged.
  [[nodiscard]] uint32_t Finish(bool* twice);
  // The next record, in order, into the fields; *end after the last. Failures are logged.
  [[nodiscard]] uint32_t Next(bool* end);

 private:
  struct File;
  using FilePtr = std::unique_ptr<File>;
  // Key fields holding many values, one per record being ordered.
  struct Keys {
    std::vector<flowcore::FieldPtr> fields;
  };

  uint32_t Encode(std::string& out, uint32_t slot) const;
  uint32_t CheckSlot(uint32_t slot);
  uint32_t Decode(const char* record, size_t length, Keys* keys, uint32_t slot) const;
  uint32_t MakeKeys(uint32_t slots, Keys* keys) const;
  uint32_t CompareSlots(const Keys& keys, uint32_t a, uint32_t b, int32_t* result) const;
  uint32_t SortBlock(bool* twice);
  uint32_t FlushBlock(bool* twice);
  uint32_t NewFile(FilePtr* file) const;
  uint32_t Merge(std::vector<FilePtr>& runs, FilePtr* out, bool* twice);

  std::vector<TWFIELD> fields_;
  std::vector<int> keyOf_;  // per field: its place among the keys, or -1
  // Per field: whether its values are streams, else the bytes of one value (a field's type
  // stays what it was when the store was made).
  std::vector<bool> stream_;
  std::vector<uint32_t> size_;
  // Per field: its first value and null word. A field's values lie in one array that stays
  // where it is while the field lives, so each record reads and fills them without a call.
  std::vector<unsigned char*> value_;
  std::vector<int32_t*> null_;
  std::vector<uint32_t> stride_;  // bytes from one value to the next
  // The highest slot known to be in every field.
  uint32_t checked_ = 1;
  // What made a field's buffer unknown (Add answers it).
  uint32_t broken_ = TWSUCCESS;
  std::vector<TWFIELD> keys_;
  uint32_t flags_;
  size_t block_;
  // The block: records back to back, each after its u32 length, and where each starts, in
  // the order they are given back once sorted.
  std::string bytes_;
  std::vector<uint32_t> starts_;
  // The keys of the record added last, and whether every record so far rose above the one
  // before (the file the blocks then went to is in order as it stands).
  std::vector<flowcore::FieldPtr> last_;
  bool hasLast_ = false;
  bool rising_ = true;
  FilePtr asRead_;
  std::vector<FilePtr> runs_;
  // What Next reads: the one ordered file, or the block in memory.
  FilePtr result_;
  size_t next_ = 0;
  std::string record_;
};

}  // namespace tw::replica

#endif  // TW_ACTIVITIES_REPLICA_RECORD_STORE_H_
