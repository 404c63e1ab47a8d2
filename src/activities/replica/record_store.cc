// The ordered store of one replication side (see record_store.h).
#include "record_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <numeric>

namespace tw::replica {

namespace {

// At most this many ordered files are merged at once, so that a merge needs few buffers
// whatever the table's size.
constexpr size_t kFanIn = 16;
// At most this many records make a block, so that the keys sorted together stay small
// beside the block's bytes however short the records are.
constexpr size_t kBlockRecords = 65536;
// A side still rising goes to its file in this many parts of a block.
constexpr size_t kRisingParts = 4;
// The stdio buffer of each temporary file.
constexpr size_t kFileBuffer = size_t{64} << 10;

bool IsStream(uint32_t type) {
  return type == TWTYPE_TEXT || type == TWTYPE_BINARY;
}

void Put32(char* at, uint32_t value) {
  std::memcpy(at, &value, 4);
}

uint32_t Get32(const char* at) {
  uint32_t value = 0;
  std::memcpy(&value, at, 4);
  return value;
}

// A temporary file's failure, with the system's reason.
uint32_t FileFailure(const char* what) {
  flowcore::StreamData text(TWSTREAMFMT_NATIVE);
  const std::string reason =
      std::string("Temporary file of the replication: ") + what + ": " + std::strerror(errno);
  if (uint32_t status = text.Set(TWSTREAMFMT_NATIVE, reason)) return TWActivityLog(status);
  return TWActivityLogStream(0, text.get(), 0);
}

// A field like model (type, flags and formats) holding count values.
uint32_t FieldLike(TWFIELD model, uint32_t count, flowcore::FieldPtr* out) {
  const uint32_t type = TWFieldGetType(model);
  uint32_t status = TWFieldAlloc(flowcore::Out(*out), type, count);
  if (status == TWSUCCESS) status = TWFieldSetFlags(out->get(), TWFieldGetFlags(model));
  if (status == TWSUCCESS && IsStream(type)) {
    uint32_t flags = 0, maxLength = 0, format = 0;
    status = TWFieldGetFormatStream(model, &flags, &maxLength, &format);
    if (status == TWSUCCESS) status = TWFieldSetFormatStream(out->get(), flags, maxLength, format);
  } else if (status == TWSUCCESS && type == TWTYPE_DATETIME) {
    uint32_t flags = 0, size = 0;
    status = TWFieldGetFormatDatetime(model, &flags, &size);
    if (status == TWSUCCESS) status = TWFieldSetFormatDatetime(out->get(), flags, size);
  } else if (status == TWSUCCESS) {
    uint32_t flags = 0, size = 0, precision = 0;
    int32_t scale = 0;
    status = TWFieldGetFormatNumber(model, &flags, &size, &precision, &scale);
    if (status == TWSUCCESS)
      status = TWFieldSetFormatNumber(out->get(), flags, size, precision, scale);
  }
  return status;
}

// Stores one encoded value (at, after its null byte) as value slot of field, whose values are
// streams or of size bytes, at value with its null word at isNull; *used the bytes it took.
uint32_t StoreValue(TWFIELD field, bool stream, uint32_t size, uint32_t slot, void* value,
                    int32_t* isNull, const char* at, size_t* used) {
  if (*at != 0) {
    *used = 1;
    return TWFieldSetNull(field, slot, 1);
  }
  if (stream) {
    const uint32_t format = Get32(at + 1), length = Get32(at + 5);
    *used = 9 + size_t{length};
    if (uint32_t status = TWStreamDataSet(static_cast<TWStream*>(value), format, at + 9, length))
      return status;
  } else {
    *used = 1 + size_t{size};
    std::memcpy(value, at + 1, size);
  }
  *isNull = 0;
  return TWSUCCESS;
}

// The same for a field whose buffer is not known yet.
uint32_t StoreValue(TWFIELD field, bool stream, uint32_t size, uint32_t slot, const char* at,
                    size_t* used) {
  if (*at != 0) {
    *used = 1;
    return TWFieldSetNull(field, slot, 1);
  }
  void* value = nullptr;
  int32_t* isNull = nullptr;
  if (uint32_t status = TWFieldGetBuffer(field, slot, &value, &isNull)) return status;
  return StoreValue(field, stream, size, slot, value, isNull, at, used);
}

}  // namespace

// An unnamed file in the temporary directory, read and written through its own buffer.
struct RecordStore::File {
  std::FILE* file = nullptr;
  // Every write that is read again was flushed and checked by Rewind first; what a failed
  // close would lose is scratch nobody reads, and the file has no name to leave behind.
  ~File() {
    if (file != nullptr) std::fclose(file);
  }
  // The file is this store's alone: its buffer needs no lock.
  bool Write(const char* bytes, size_t size) {
    return ::fwrite_unlocked(bytes, 1, size, file) == size;
  }
  // One record (its u32 length, then its bytes) at `at`, as the block holds it.
  bool WriteRecord(const char* at) { return Write(at, 4 + size_t{Get32(at)}); }
  // The next record into record; false at the end (*failed when the file could not be read).
  bool Read(std::string& record, bool* failed) {
    char head[4];
    *failed = false;
    if (::fread_unlocked(head, 1, 4, file) != 4) {
      *failed = ::ferror_unlocked(file) != 0;
      return false;
    }
    record.resize(Get32(head));
    if (::fread_unlocked(record.data(), 1, record.size(), file) != record.size()) {
      *failed = true;
      return false;
    }
    return true;
  }
  // Ends the writing: what was written is read from the start.
  bool Rewind() { return std::fflush(file) == 0 && std::fseek(file, 0, SEEK_SET) == 0; }
};

RecordStore::RecordStore(std::vector<TWFIELD> fields, const std::vector<TWFIELD>& keys,
                         uint32_t compareFlags, size_t block)
    : fields_(std::move(fields)), keyOf_(fields_.size(), -1), flags_(compareFlags), block_(block) {
  // Keys in compare order, each found among the fields.
  for (size_t k = 0; k < keys.size(); ++k)
    for (size_t i = 0; i < fields_.size(); ++i)
      if (fields_[i] == keys[k]) keyOf_[i] = static_cast<int>(k);
  keys_ = keys;
  for (TWFIELD field : fields_) {
    stream_.push_back(IsStream(TWFieldGetType(field)));
    size_.push_back(stream_.back() ? 0 : TWFieldGetTypeSize(field));
    void* value = nullptr;
    int32_t* isNull = nullptr;
    if (uint32_t status = TWFieldGetBuffer(field, 1, &value, &isNull); status != TWSUCCESS) {
      if (broken_ == TWSUCCESS) broken_ = status;
      value = nullptr;
      isNull = nullptr;
    }
    value_.push_back(static_cast<unsigned char*>(value));
    null_.push_back(isNull);
    stride_.push_back(TWFieldGetTypeSize(field));
  }
}

RecordStore::~RecordStore() = default;

uint32_t RecordStore::Encode(std::string& out, uint32_t slot) const {
  const size_t at0 = slot - 1;
  auto valueOf = [&](size_t i) { return value_[i] + at0 * stride_[i]; };
  auto isNull = [&](size_t i) { return null_[i][at0] != 0; };
  // The record's bytes are counted first, so that the block grows once for it.
  size_t length = 0;
  for (size_t i = 0; i < fields_.size(); ++i) {
    if (isNull(i))
      length += 1;
    else if (stream_[i])
      length += 9 + size_t{reinterpret_cast<const TWStream*>(valueOf(i))->length};
    else
      length += 1 + size_t{size_[i]};
  }
  if (length > std::numeric_limits<uint32_t>::max() - 4) return TWActivityLog(TWFAIL_OVERFLOW);
  const size_t start = out.size();
  out.resize(start + 4 + length);
  char* at = out.data() + start;
  Put32(at, static_cast<uint32_t>(length));
  at += 4;
  for (size_t i = 0; i < fields_.size(); ++i) {
    if (isNull(i)) {
      *at++ = '\1';
      continue;
    }
    *at++ = '\0';
    if (stream_[i]) {
      const auto* stream = reinterpret_cast<const TWStream*>(valueOf(i));
      Put32(at, stream->format);
      Put32(at + 4, stream->length);
      if (stream->length != 0) std::memcpy(at + 8, stream->data, stream->length);
      at += 8 + size_t{stream->length};
    } else {
      std::memcpy(at, valueOf(i), size_[i]);
      at += size_[i];
    }
  }
  return TWSUCCESS;
}

// Without keys: the record into the fields. With them: its key values into value slot of
// each.
uint32_t RecordStore::Decode(const char* record, size_t length, Keys* keys, uint32_t slot) const {
  const char* at = record;
  for (size_t i = 0; i < fields_.size(); ++i) {
    if (at >= record + length) return TWActivityLog(TWFAIL_INVALID_STREAM);
    size_t used = 0;
    uint32_t status = TWSUCCESS;
    if (keys == nullptr)
      status = StoreValue(fields_[i], stream_[i], size_[i], 1, value_[i], null_[i], at, &used);
    else if (keyOf_[i] >= 0)
      status = StoreValue(keys->fields[keyOf_[i]].get(), stream_[i], size_[i], slot, at, &used);
    else if (*at != 0)
      used = 1;
    else
      used = stream_[i] ? 9 + size_t{Get32(at + 5)} : 1 + size_t{size_[i]};
    if (status != TWSUCCESS) return TWActivityLog(status);
    at += used;
  }
  return TWSUCCESS;
}

uint32_t RecordStore::MakeKeys(uint32_t slots, Keys* keys) const {
  keys->fields.clear();
  for (TWFIELD key : keys_) {
    uint32_t status = FieldLike(key, slots, &keys->fields.emplace_back());
    if (status != TWSUCCESS) return TWActivityLog(status);
  }
  return TWSUCCESS;
}

uint32_t RecordStore::CompareSlots(const Keys& keys, uint32_t a, uint32_t b,
                                   int32_t* result) const {
  *result = 0;
  for (const flowcore::FieldPtr& key : keys.fields) {
    if (uint32_t status = TWFieldCompare(key.get(), a, key.get(), b, 1, flags_, result))
      return TWActivityLog(status);
    if (*result != 0) break;
  }
  return TWSUCCESS;
}

// A slot beyond those seen so far is checked in every field once.
uint32_t RecordStore::CheckSlot(uint32_t slot) {
  if (slot != 0 && slot <= checked_) return TWSUCCESS;
  for (TWFIELD field : fields_)
    if (uint32_t status = TWFieldGetBuffer(field, slot, nullptr, nullptr))
      return TWActivityLog(status);
  checked_ = slot;
  return TWSUCCESS;
}

uint32_t RecordStore::AddBlock(uint32_t count, bool* twice) {
  *twice = false;
  if (count == 0) return TWSUCCESS;
  if (broken_ != TWSUCCESS) return TWActivityLog(broken_);
  if (uint32_t status = CheckSlot(count)) return status;
  if (last_.empty())
    for (TWFIELD key : keys_) {
      uint32_t status = FieldLike(key, 1, &last_.emplace_back());
      if (status != TWSUCCESS) return TWActivityLog(status);
    }
  // Room for a whole block at once, so that the block never doubles its memory by growing.
  if (bytes_.capacity() < block_) bytes_.reserve(block_ + block_ / 4);
  for (uint32_t slot = 1; slot <= count; ++slot) {
    // Each record against the one before: in the slot below, or, for the first, the last
    // record of the block before, kept in last_.
    if (slot > 1 || hasLast_) {
      int32_t result = 0;
      for (size_t k = 0; k < keys_.size() && result == 0; ++k) {
        const uint32_t status =
            slot > 1 ? TWFieldCompare(keys_[k], slot, keys_[k], slot - 1, 1, flags_, &result)
                     : TWFieldCompare(keys_[k], 1, last_[k].get(), 1, 1, flags_, &result);
        if (status != TWSUCCESS) return TWActivityLog(status);
      }
      if (result == 0) {
        *twice = true;
        for (size_t i = 0; i < fields_.size() && slot != 1; ++i)
          if (uint32_t status = TWFieldConvert(fields_[i], 1, fields_[i], slot, 1))
            return TWActivityLog(status);
        return TWSUCCESS;
      }
      if (result < 0) rising_ = false;
    }
    hasLast_ = true;
    const uint32_t start = static_cast<uint32_t>(bytes_.size());
    if (uint32_t status = Encode(bytes_, slot)) return status;
    starts_.push_back(start);
    // Records that rose so far go to the file as they stand, so they need no whole block: a
    // smaller one stays in the processor's cache while it fills.
    const size_t limit = rising_ ? block_ / kRisingParts : block_;
    if (bytes_.size() >= limit || starts_.size() >= kBlockRecords)
      if (uint32_t status = FlushBlock(twice); status != TWSUCCESS || *twice) return status;
  }
  // The last record's keys, for the first of the next block (its slots are fetched again).
  for (size_t k = 0; k < keys_.size(); ++k)
    if (uint32_t status = TWFieldConvert(last_[k].get(), 1, keys_[k], count, 1))
      return TWActivityLog(status);
  return TWSUCCESS;
}

// Orders the block's records (starts_) by their keys.
uint32_t RecordStore::SortBlock(bool* twice) {
  Keys keys;
  const uint32_t count = static_cast<uint32_t>(starts_.size());
  if (count < 2) return TWSUCCESS;
  if (uint32_t status = MakeKeys(count, &keys)) return status;
  for (uint32_t i = 0; i < count; ++i)
    if (uint32_t status =
            Decode(bytes_.data() + starts_[i] + 4, Get32(bytes_.data() + starts_[i]), &keys, i + 1))
      return status;
  std::vector<uint32_t> order(count);
  std::iota(order.begin(), order.end(), 1);
  uint32_t failed = TWSUCCESS;
  std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
    int32_t result = 0;
    if (failed == TWSUCCESS) failed = CompareSlots(keys, a, b, &result);
    return result < 0;
  });
  if (failed != TWSUCCESS) return failed;
  std::vector<uint32_t> starts(count);
  for (uint32_t i = 0; i < count; ++i) {
    starts[i] = starts_[order[i] - 1];
    if (i == 0) continue;
    int32_t result = 0;
    if (uint32_t status = CompareSlots(keys, order[i - 1], order[i], &result)) return status;
    if (result == 0) {
      *twice = true;
      return Decode(bytes_.data() + starts[i] + 4, Get32(bytes_.data() + starts[i]), nullptr, 0);
    }
  }
  starts_ = std::move(starts);
  return TWSUCCESS;
}

uint32_t RecordStore::NewFile(FilePtr* file) const {
  const char* dir = std::getenv("TMPDIR");
  std::string name = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/twrepXXXXXX";
  const int fd = ::mkstemp(name.data());
  if (fd < 0) return FileFailure("cannot create");
  ::unlink(name.c_str());
  auto made = std::make_unique<File>();
  made->file = ::fdopen(fd, "w+b");
  if (made->file == nullptr) {
    ::close(fd);
    return FileFailure("cannot open");
  }
  // Records are short: a larger buffer saves a system call every few dozen of them.
  if (std::setvbuf(made->file, nullptr, _IOFBF, kFileBuffer) != 0)
    return FileFailure("cannot open");
  *file = std::move(made);
  return TWSUCCESS;
}

// A block that rose with every record before it goes on the file in read order; any other
// is sorted and becomes an ordered file of its own.
uint32_t RecordStore::FlushBlock(bool* twice) {
  if (starts_.empty()) return TWSUCCESS;
  FilePtr* to = &asRead_;
  if (!rising_) {
    if (uint32_t status = SortBlock(twice); status != TWSUCCESS || *twice) return status;
    to = &runs_.emplace_back();
  }
  if (!*to)
    if (uint32_t status = NewFile(to)) return status;
  bool written = true;
  if (rising_) {
    written = (*to)->Write(bytes_.data(), bytes_.size());
  } else {
    for (size_t i = 0; i < starts_.size() && written; ++i)
      written = (*to)->WriteRecord(bytes_.data() + starts_[i]);
  }
  if (!written) return FileFailure("cannot write");
  bytes_.clear();
  starts_.clear();
  return TWSUCCESS;
}

// Merges the ordered files runs (emptied) into *out. Two heads whose keys compare equal are
// two records of one key: *twice, the fields holding one.
uint32_t RecordStore::Merge(std::vector<FilePtr>& runs, FilePtr* out, bool* twice) {
  if (uint32_t status = NewFile(out)) return status;
  const uint32_t count = static_cast<uint32_t>(runs.size());
  Keys heads;
  if (uint32_t status = MakeKeys(count, &heads)) return status;
  std::vector<std::string> records(count);
  std::vector<bool> live(count, false);
  for (uint32_t r = 0; r < count; ++r) {
    bool failed = false;
    if (!runs[r]->Rewind()) return FileFailure("cannot read");
    live[r] = runs[r]->Read(records[r], &failed);
    if (failed) return FileFailure("cannot read");
    if (live[r])
      if (uint32_t status = Decode(records[r].data(), records[r].size(), &heads, r + 1))
        return status;
  }
  for (;;) {
    int best = -1;
    for (uint32_t r = 0; r < count; ++r) {
      if (!live[r]) continue;
      if (best < 0) {
        best = static_cast<int>(r);
        continue;
      }
      int32_t result = 0;
      if (uint32_t status = CompareSlots(heads, r + 1, best + 1, &result)) return status;
      if (result == 0) {
        *twice = true;
        return Decode(records[r].data(), records[r].size(), nullptr, 0);
      }
      if (result < 0) best = static_cast<int>(r);
    }
    if (best < 0) break;
    char length[4];
    const uint32_t size = static_cast<uint32_t>(records[best].size());
    std::memcpy(length, &size, 4);
    if (!(*out)->Write(length, 4) || !(*out)->Write(records[best].data(), size))
      return FileFailure("cannot write");
    bool failed = false;
    live[best] = runs[best]->Read(records[best], &failed);
    if (failed) return FileFailure("cannot read");
    if (live[best])
      if (uint32_t status = Decode(records[best].data(), records[best].size(), &heads, best + 1))
        return status;
  }
  runs.clear();
  return TWSUCCESS;
}

uint32_t RecordStore::Finish(bool* twice) {
  *twice = false;
  // All in memory: sorted there when it did not rise.
  if (!asRead_ && runs_.empty()) return rising_ ? TWSUCCESS : SortBlock(twice);
  if (uint32_t status = FlushBlock(twice); status != TWSUCCESS || *twice) return status;
  // The block's memory is not needed again: the records are read back one at a time.
  std::string().swap(bytes_);
  std::vector<uint32_t>().swap(starts_);
  if (asRead_) runs_.insert(runs_.begin(), std::move(asRead_));
  // Merged a group at a time until one ordered file is left; each merge also finds keys
  // held twice across the files, each file having been checked alone.
  while (runs_.size() > 1) {
    std::vector<FilePtr> merged;
    for (size_t from = 0; from < runs_.size(); from += kFanIn) {
      std::vector<FilePtr> group;
      for (size_t r = from; r < std::min(runs_.size(), from + kFanIn); ++r)
        group.push_back(std::move(runs_[r]));
      if (uint32_t status = Merge(group, &merged.emplace_back(), twice);
          status != TWSUCCESS || *twice)
        return status;
    }
    runs_ = std::move(merged);
  }
  result_ = std::move(runs_.front());
  runs_.clear();
  return result_->Rewind() ? TWSUCCESS : FileFailure("cannot read");
}

uint32_t RecordStore::Next(bool* end) {
  *end = false;
  if (!result_) {
    if (next_ >= starts_.size()) {
      *end = true;
      return TWSUCCESS;
    }
    const uint32_t start = starts_[next_++];
    return Decode(bytes_.data() + start + 4, Get32(bytes_.data() + start), nullptr, 0);
  }
  bool failed = false;
  if (!result_->Read(record_, &failed)) {
    if (failed) return FileFailure("cannot read");
    *end = true;
    return TWSUCCESS;
  }
  return Decode(record_.data(), record_.size(), nullptr, 0);
}

}  // namespace tw::replica
