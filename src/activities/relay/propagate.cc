// The change propagation (see propagate.h).
#include "propagate.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "connections.h"
#include "destination.h"
#include "field_map.h"
#include "flowcore_ptr.h"
#include "key_fields.h"
#include "sequence.h"

namespace tw::relay {

namespace {

using activity::MapFieldList;
using activity::MapSide;
using flowcore::ConnectPtr;
using flowcore::FieldlistPtr;
using flowcore::FieldPtr;
using flowcore::StreamData;

constexpr char kOperation[] = "XDBSNAP_OPERATION";
constexpr char kCommitSeq[] = "XDBSNAP_COMMITSEQ";
constexpr char kIntentSeq[] = "XDBSNAP_INTENTSEQ";
constexpr char kLogMarker[] = "XDBSNAP_LOGMARKER";
constexpr char kChangeOrder[] = "XDBSNAP_COMMITSEQ, XDBSNAP_INTENTSEQ";
// Control columns are never written to the destination unless the source names map them.
constexpr uint32_t kNotWritten =
    TWFIELDF_NO_INSERT | TWFIELDF_NO_UPDATE | TWFIELDF_NO_REMOVE | TWFIELDF_NO_CREATE;
constexpr uint32_t kStrictlyGreater = TWFIELDF_KEY | TWFIELDF_KEY_GT | TWFIELDF_KEY_NE;
// Change rows fetched at once, and the most insert images written in one stretch.
constexpr uint32_t kBlockRows = 256;

[[nodiscard]] uint32_t Named(StreamData& stream, std::string_view text) {
  return stream.Set(TWSTREAMFMT_NATIVE, text);
}

// A change row whose control column holds no usable value.
uint32_t BadColumn(const char* column) {
  StreamData name(TWSTREAMFMT_NATIVE);
  (void)Named(name, column);
  return TWActivityLogEx(TWFAIL_INVALID_STREAM, 0, 0, 0, name.get(), nullptr, nullptr);
}

class Propagation {
 public:
  uint32_t Run();
  // Releases the lists, then the destination and the source connection; status is the run's
  // (logged). Answers the run's final status.
  uint32_t End(uint32_t status);

 private:
  uint32_t ReadLastSequence();
  uint32_t Open();
  uint32_t Select(uint32_t* count);
  uint32_t MarkKeys();
  uint32_t Empty();
  uint32_t Map();
  uint32_t FindControlColumns();
  uint32_t Apply();
  uint32_t ApplyRow(char operation, uint32_t row);
  uint32_t KeyText(uint32_t row, std::string* text);
  uint32_t ApplyStretch(uint32_t first, uint32_t count);
  uint32_t Holds(uint32_t row, bool* held);
  uint32_t SettleStretch(uint32_t first, uint32_t count, uint32_t updated, uint32_t failure);
  void Advance(uint32_t row);
  uint32_t Create();
  uint32_t StoreLastCommit(uint32_t status);

  TWFIELDLIST DestView() const {
    return destMapped_ ? destMapped_.get() : srcMapped_ ? srcMapped_.get() : list_.get();
  }
  bool NamedBySource(const char* column) const;

  ConnectPtr src_;
  ConnectPtr dest_;
  FieldlistPtr list_;
  FieldlistPtr srcNames_;
  FieldlistPtr destNames_;
  FieldlistPtr srcMapped_;
  FieldlistPtr destMapped_;
  TWFIELD operation_ = TWNULLHANDLE;
  TWFIELD commitSeq_ = TWNULLHANDLE;
  std::vector<TWFIELD> keys_;
  StreamData keyValue_{TWSTREAMFMT_NATIVE};  // a key's value while KeyText reads it
  // The commit sequence of each row of the block, and how many insert images the next
  // stretch may hold (fewer after a stretch in which some records were present already).
  std::vector<Sequence> sequences_;
  std::vector<bool> held_;  // whether the destination holds each record of a stretch settled
  uint32_t stretchLimit_ = kBlockRows;
  bool fullRefresh_ = false;
  bool create_ = false;
  bool createPending_ = false;
  Sequence last_{};
  // The commit whose rows are being applied, and the last commit applied whole.
  std::optional<Sequence> current_;
  std::optional<Sequence> whole_;
};

uint32_t Propagation::Run() {
  create_ = TWActivityGetPropertyBoolean(kCreate, 0) != 0;
  // The properties are checked before any link is opened: a bad value touches nothing.
  uint32_t status = ReadLastSequence();
  if (status == TWSUCCESS) status = Open();
  uint32_t count = 0;
  if (status == TWSUCCESS) status = Select(&count);
  if (status == TWSUCCESS) status = MarkKeys();
  if (status == TWSUCCESS && fullRefresh_) status = Empty();
  if (status != TWSUCCESS) return status;
  if (count == 0 || (count == TWCOUNT_UNKNOWN && TWFieldlistGetCount(list_.get()) == 0))
    return TWSUCCESS;
  status = Map();
  if (status == TWSUCCESS) status = FindControlColumns();
  if (status == TWSUCCESS) status = Apply();
  return StoreLastCommit(status);
}

uint32_t Propagation::End(uint32_t status) {
  return activity::EndConnections(
      status, {&destMapped_, &srcMapped_, &destNames_, &srcNames_, &list_}, {&dest_, &src_});
}

uint32_t Propagation::ReadLastSequence() {
  StreamData text(TWSTREAMFMT_NATIVE);
  uint32_t status = TWActivityGetPropertyStream(kLastDiffSeq, TWSTREAMFMT_NATIVE, text.get());
  if (status == TWFAIL_MISSING_PROPERTY || (status == TWSUCCESS && text.view().empty()))
    return TWActivityLogEx(TWFAIL_MISSING_PROPERTY, kLastDiffSeq, 0, 0, nullptr, nullptr, nullptr);
  if (status != TWSUCCESS) return TWActivityLog(status);
  if (text.view().front() == 'X') {
    fullRefresh_ = true;
    return TWSUCCESS;
  }
  std::optional<Sequence> sequence = ParseSequence(text.view());
  if (!sequence)
    return TWActivityLogEx(TWFAIL_PROPERTY_VALUE, kLastDiffSeq, 0, 0, nullptr, nullptr, nullptr);
  last_ = *sequence;
  return TWSUCCESS;
}

uint32_t Propagation::Open() {
  uint32_t status = TWConnectAlloc(flowcore::Out(src_), TWTOKENF_SRC, nullptr);
  if (status == TWSUCCESS) status = TWConnectAlloc(flowcore::Out(dest_), TWTOKENF_DEST, nullptr);
  if (status == TWSUCCESS) status = TWConnectConnect(src_.get());
  if (status == TWSUCCESS) status = TWConnectConnect(dest_.get());
  return status;
}

// Selects the change rows in commit and intent order; an incremental run only those of
// commits after the last one applied.
uint32_t Propagation::Select(uint32_t* count) {
  uint32_t status = TWFieldlistAlloc(flowcore::Out(list_), kBlockRows,
                                     activity::TransferFlags(kTruncPrec, kTruncData));
  if (status != TWSUCCESS) return status;

  FieldlistPtr keys;
  if (!fullRefresh_) {
    StreamData name(TWSTREAMFMT_NATIVE), value(TWSTREAMFMT_BLOB);
    TWFIELD key = TWNULLHANDLE;
    status = TWFieldlistAlloc(flowcore::Out(keys), 1, 0);
    if (status == TWSUCCESS) status = Named(name, kCommitSeq);
    if (status == TWSUCCESS)
      status = TWFieldlistAppend(keys.get(), name.get(), TWTYPE_BINARY, &key);
    if (status == TWSUCCESS) status = TWFieldSetFlags(key, TWFieldGetFlags(key) | kStrictlyGreater);
    if (status == TWSUCCESS)
      status =
          value.Set(TWSTREAMFMT_BLOB,
                    std::string_view(reinterpret_cast<const char*>(last_.data()), last_.size()));
    if (status == TWSUCCESS) status = TWFieldSetStream(key, 1, value.get());
    if (status != TWSUCCESS) return TWActivityLog(status);
  }

  FieldPtr order;
  StreamData orderText(TWSTREAMFMT_NATIVE);
  status = TWFieldAlloc(flowcore::Out(order), TWTYPE_TEXT, 1);
  if (status == TWSUCCESS) status = Named(orderText, kChangeOrder);
  if (status == TWSUCCESS) status = TWFieldSetStream(order.get(), 1, orderText.get());
  if (status == TWSUCCESS)
    status = TWConnectSetProperty(src_.get(), TWTOKEN_ORDER_LIST, order.get());
  if (status == TWSUCCESS) status = TWConnectSelect(src_.get(), keys.get(), 1, list_.get(), count);
  return status;
}

// The destination's keys: each name of KeyFieldList, once, a field of the change rows.
uint32_t Propagation::MarkKeys() {
  activity::KeyFields keys;
  const uint32_t status = activity::MarkKeyFields(list_.get(), kKeyFieldList,
                                                  activity::NoKeys::kMissingProperty, &keys);
  keys_ = keys.fields;
  return status;
}

// A full refresh empties the destination first; one that does not exist yet is created with
// the first row (when Create is set).
uint32_t Propagation::Empty() {
  return activity::EmptyDestination(dest_.get(), &createPending_);
}

uint32_t Propagation::Map() {
  uint32_t status = MapFieldList(list_.get(), kSrcFieldList, kDestMapName, MapSide::kSource,
                                 &srcNames_, &srcMapped_);
  if (status == TWSUCCESS)
    status = MapFieldList(srcMapped_ ? srcMapped_.get() : list_.get(), kDestFieldList, kDestMapName,
                          MapSide::kDestination, &destNames_, &destMapped_);
  return status == TWSUCCESS ? TWSUCCESS : TWActivityLog(status);
}

bool Propagation::NamedBySource(const char* column) const {
  if (!srcNames_) return false;
  StreamData name(TWSTREAMFMT_NATIVE);
  return Named(name, column) == TWSUCCESS &&
         TWFieldlistLookup(srcNames_.get(), name.get(), nullptr, nullptr) == TWSUCCESS;
}

// The operation and commit sequence must be columns of the change rows, and so must the
// intent sequence unless the names map it; the log marker is optional. Each control column
// that the source names do not map is kept out of every write.
uint32_t Propagation::FindControlColumns() {
  struct Column {
    const char* name;
    TWFIELD* field;
    bool required;
  };
  TWFIELD intent = TWNULLHANDLE, marker = TWNULLHANDLE;
  const Column columns[] = {{kOperation, &operation_, true},
                            {kCommitSeq, &commitSeq_, true},
                            {kIntentSeq, &intent, true},
                            {kLogMarker, &marker, false}};
  StreamData name(TWSTREAMFMT_NATIVE);
  for (const Column& column : columns) {
    const bool named = NamedBySource(column.name);
    if (uint32_t status = Named(name, column.name)) return TWActivityLog(status);
    if (TWFieldlistLookup(list_.get(), name.get(), column.field, nullptr) != TWSUCCESS) {
      if (!column.required || (named && column.field == &intent)) continue;
      return TWActivityLogEx(TWFAIL_INVALID_FIELD, 0, 0, 0, name.get(), nullptr, nullptr);
    }
    if (!named) {
      const uint32_t flags = TWFieldGetFlags(*column.field);
      if (uint32_t status = TWFieldSetFlags(*column.field, flags | kNotWritten))
        return TWActivityLog(status);
    }
  }
  return TWSUCCESS;
}

uint32_t Propagation::Create() {
  createPending_ = false;
  TWActivityClearStatus();
  return TWConnectCreate(dest_.get(), TWOBJECT_METADATA, DestView());
}

uint32_t Propagation::ApplyRow(char operation, uint32_t row) {
  if (createPending_ && create_)
    if (uint32_t status = Create()) return status;
  TWFIELDLIST view = DestView();
  if (operation == 'D') {
    uint32_t status = TWConnectRemove(dest_.get(), view, row, 1, nullptr);
    // Nothing to remove from an object that does not exist: it is made for the rows after.
    if (status == TWFAIL_INVALID_METADATA && create_) status = Create();
    return status;
  }
  uint32_t updated = 0;
  // A full refresh starts from an empty destination, so an insert image needs no update
  // first; an update image may follow the insert of its record and must still update it.
  if (!fullRefresh_ || operation == 'U') {
    uint32_t status = TWConnectUpdate(dest_.get(), view, row, 1, &updated);
    if (status == TWFAIL_INVALID_METADATA && create_) {
      status = Create();
      updated = 0;
    }
    if (status != TWSUCCESS) return status;
  }
  // A count the destination cannot tell is taken as updated: inserting could double it.
  if (updated != 0) return TWSUCCESS;
  uint32_t status = TWConnectInsert(dest_.get(), view, row, 1, nullptr);
  if (status == TWFAIL_INVALID_METADATA && create_) {
    status = Create();
    if (status == TWSUCCESS) status = TWConnectInsert(dest_.get(), view, row, 1, nullptr);
  }
  return status;
}

// The key values of row as one text for telling records apart within a stretch. Letters are
// folded and trailing blanks dropped, so that keys a destination may hold as one (its
// collation ignoring case, a fixed-width column) never share a stretch.
uint32_t Propagation::KeyText(uint32_t row, std::string* text) {
  text->clear();
  StreamData& value = keyValue_;
  for (TWFIELD key : keys_) {
    if (TWFieldIsNull(key, row)) {
      text->append("\x01", 1);
      continue;
    }
    if (uint32_t status = TWFieldGetStream(key, row, TWSTREAMFMT_NATIVE, value.get(), nullptr))
      return TWActivityLog(status);
    std::string_view v = value.view();
    while (!v.empty() && v.back() == ' ') v.remove_suffix(1);
    for (char ch : v)
      text->push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(ch))));
    text->append("\x00", 1);
  }
  return TWSUCCESS;
}

// The bookkeeping of row's commit before the row is applied: a row of another commit than the
// one before means that commit is whole.
void Propagation::Advance(uint32_t row) {
  const Sequence& sequence = sequences_[row - 1];
  if (current_ && *current_ != sequence) whole_ = current_;
  current_ = sequence;
}

// Whether the destination holds the record of row's keys, learnt by reading it, so that
// telling which records an update found writes none of them again.
uint32_t Propagation::Holds(uint32_t row, bool* held) {
  *held = false;
  FieldlistPtr found;
  uint32_t selected = 0, fetched = 0;
  // Room for two records: the one record of a key ends the result in the same fetch.
  uint32_t status =
      TWFieldlistAlloc(flowcore::Out(found), 2, activity::TransferFlags(kTruncPrec, kTruncData));
  if (status == TWSUCCESS)
    status = TWConnectSelect(dest_.get(), DestView(), row, found.get(), &selected);
  if (status == TWSUCCESS) status = TWConnectFetch(dest_.get(), found.get(), 1, 2, &fetched);
  if (status == TWFAIL_END_OF_DATA) status = TWSUCCESS;
  *held = fetched > 0;
  return status;
}

// After the update of the stretch [first, first + count) found some of its records, or failed
// after finding updated of them, each row is settled by whether the destination holds its
// record: one held was found and updated, one missing is inserted, so that no record is
// written twice. A failing update failed on the first record held beyond those it found; where
// none is held it failed on a missing one, which no read tells apart from the missing ones
// before it, and the rows from the first of those are left to the next run (which starts at
// their commit). A failing insert ends the run at its row; records held beyond it were updated
// already, as the next run updates them.
uint32_t Propagation::SettleStretch(uint32_t first, uint32_t count, uint32_t updated,
                                    uint32_t failure) {
  held_.assign(count, false);
  for (uint32_t i = 0; i < count; ++i) {
    bool held = false;
    if (uint32_t status = Holds(first + i, &held)) return failure != TWSUCCESS ? failure : status;
    held_[i] = held;
  }
  // The index of the failing row: the rows before it are settled.
  uint32_t failed = count;
  if (failure != TWSUCCESS) {
    const uint32_t found = updated == TWCOUNT_UNKNOWN ? 0 : updated;
    uint32_t seen = 0, afterFound = 0;
    for (uint32_t i = 0; i < count && failed == count; ++i) {
      if (!held_[i]) continue;
      if (seen++ == found)
        failed = i;
      else
        afterFound = i + 1;
    }
    if (failed == count) failed = afterFound;
  }
  for (uint32_t i = 0; i < failed; ++i) {
    Advance(first + i);
    if (held_[i]) continue;
    if (uint32_t status = TWConnectInsert(dest_.get(), DestView(), first + i, 1, nullptr))
      return status;
  }
  if (failed < count) Advance(first + failed);
  return failure;
}

// The insert images of rows [first, first + count), of distinct keys and one after another in
// commit order, written together: one update of them all, and where it found none of the
// records, one insert of them all, so that a destination taking parameter arrays sees two
// statements for the stretch. Where the update found some of them, or failed, the rows are
// settled one by one (SettleStretch) and the next stretch is shorter. A failing insert ends the
// run after the rows before it, as row by row.
uint32_t Propagation::ApplyStretch(uint32_t first, uint32_t count) {
  TWFIELDLIST view = DestView();
  if (count == 1 || (createPending_ && create_)) {
    for (uint32_t r = first; r < first + count; ++r) {
      Advance(r);
      if (uint32_t applied = ApplyRow('I', r)) return applied;
    }
    return TWSUCCESS;
  }
  uint32_t updated = 0;
  uint32_t status = TWSUCCESS;
  if (!fullRefresh_) status = TWConnectUpdate(dest_.get(), view, first, count, &updated);
  // An object that does not exist holds none of the records once it is made; one that cannot
  // be made, or is missing without Create, fails on the stretch's first row.
  if (status == TWFAIL_INVALID_METADATA) {
    if (create_) status = Create();
    if (status != TWSUCCESS) {
      Advance(first);
      return status;
    }
    updated = 0;
  }
  if (status == TWSUCCESS && updated == 0) {
    uint32_t inserted = 0;
    status = TWConnectInsert(dest_.get(), view, first, count, &inserted);
    if (status == TWFAIL_INVALID_METADATA && create_ && inserted == 0) {
      status = Create();
      if (status == TWSUCCESS) status = TWConnectInsert(dest_.get(), view, first, count, &inserted);
    }
    if (status == TWSUCCESS) {
      for (uint32_t r = first; r < first + count; ++r) Advance(r);
      if (stretchLimit_ < kBlockRows) stretchLimit_ = std::min(kBlockRows, stretchLimit_ * 2);
      return TWSUCCESS;
    }
    // Each record inserted one row: the one after them failed.
    const uint32_t failed = first + std::min(inserted, count - 1);
    for (uint32_t r = first; r <= failed; ++r) Advance(r);
    return status;
  }
  stretchLimit_ = std::max(1u, stretchLimit_ / 2);
  return SettleStretch(first, count, updated, status);
}

uint32_t Propagation::Apply() {
  StreamData text(TWSTREAMFMT_NATIVE), bytes(TWSTREAMFMT_BLOB);
  sequences_.resize(kBlockRows);
  // The keys of the stretch (their texts keep their room from one stretch to the next, so
  // that a record costs no allocation once warm) and their hashes, compared first.
  std::vector<std::string> stretchKeys(kBlockRows);
  std::vector<size_t> stretchHashes;
  stretchHashes.reserve(kBlockRows);
  std::string key;
  auto inStretch = [&](size_t hash) {
    for (size_t i = 0; i < stretchHashes.size(); ++i)
      if (stretchHashes[i] == hash && stretchKeys[i] == key) return true;
    return false;
  };
  for (;;) {
    if (uint32_t command = TWActivityGetCommand()) return command;
    uint32_t fetched = 0;
    uint32_t status = TWConnectFetch(src_.get(), list_.get(), 1, kBlockRows, &fetched);
    const bool last = status == TWFAIL_END_OF_DATA;
    // The rows a failing fetch delivered before its failure are applied first.
    const uint32_t fetchStatus = last ? TWSUCCESS : status;
    fetched = std::min(fetched, kBlockRows);
    // A stretch of insert images waits for the row that ends it.
    uint32_t stretch = 0, stretchFirst = 1;
    auto flush = [&]() -> uint32_t {
      const uint32_t count = stretch;
      stretch = 0;
      stretchHashes.clear();
      return count == 0 ? TWSUCCESS : ApplyStretch(stretchFirst, count);
    };
    for (uint32_t row = 1; row <= fetched; ++row) {
      // The rows come in commit order and those of one commit share its sequence: a row with
      // another value, even a malformed one, means the commit before is whole.
      status = TWFieldGetStream(commitSeq_, row, TWSTREAMFMT_BLOB, bytes.get(), nullptr);
      if (status != TWSUCCESS) {
        if (uint32_t flushed = flush()) return flushed;
        return TWActivityLog(status);
      }
      const std::string_view seq = bytes.view();
      const bool valid = seq.size() == kSequenceBytes && !TWFieldIsNull(commitSeq_, row);
      status = TWFieldGetStream(operation_, row, TWSTREAMFMT_NATIVE, text.get(), nullptr);
      const std::string_view op = text.view();
      const char operation = op.size() == 1 ? op[0] : '\0';
      const bool known =
          status == TWSUCCESS && (operation == 'I' || operation == 'U' || operation == 'D');
      // A malformed row stops the run before it is applied, and names its column: passing it
      // over would lose it for good, since later runs start after the commits stored.
      if (valid) std::copy(seq.begin(), seq.end(), sequences_[row - 1].begin());
      if (!valid || !known) {
        if (uint32_t flushed = flush()) return flushed;
        if (current_ && (!valid || *current_ != sequences_[row - 1])) whole_ = current_;
        return BadColumn(!valid ? kCommitSeq : kOperation);
      }
      if (operation == 'I' && !keys_.empty()) {
        if (uint32_t keyed = KeyText(row, &key)) {
          if (uint32_t flushed = flush()) return flushed;
          return keyed;
        }
        // A key met again in the stretch ends it: its records must be written in order.
        const size_t hash = std::hash<std::string>{}(key);
        if (stretch >= stretchLimit_ || inStretch(hash))
          if (uint32_t flushed = flush()) return flushed;
        // Beyond ASCII a destination's collation may hold keys as one that no folding of
        // ours can tell (accents, case of other scripts): such a row goes on its own.
        if (std::none_of(key.begin(), key.end(),
                         [](char ch) { return static_cast<unsigned char>(ch) >= 0x80; })) {
          if (stretch == 0) stretchFirst = row;
          ++stretch;
          stretchKeys[stretchHashes.size()].assign(key);
          stretchHashes.push_back(hash);
          continue;
        }
      }
      if (uint32_t flushed = flush()) return flushed;
      Advance(row);
      if (uint32_t applied = ApplyRow(operation, row)) return applied;
    }
    if (uint32_t flushed = flush()) return flushed;
    if (fetchStatus != TWSUCCESS) return fetchStatus;
    // After end of data the result set is gone; a fetch that moved nothing ends it too.
    if (last || fetched == 0) break;
  }
  whole_ = current_;
  return TWSUCCESS;
}

// Keeps the last whole commit for the next run, once the destination holds it for good (a
// destination without transactions holds it already). A run that ended in a failure keeps
// that status; otherwise a failure to commit or to store is the run's status.
uint32_t Propagation::StoreLastCommit(uint32_t status) {
  if (!whole_ || !dest_) return status;
  const uint32_t before = TWActivityGetStatus();
  uint32_t committed = TWConnectAction(dest_.get(), TWACTION_COMMIT);
  if (committed == TWFAIL_UNAVAILABLE) {
    // Only the commit's own note is forgotten, never a failure of the run.
    if (before == TWSUCCESS) TWActivityClearStatus();
    committed = TWSUCCESS;
  }
  if (committed != TWSUCCESS) return status != TWSUCCESS ? status : committed;
  FieldPtr field;
  StreamData text(TWSTREAMFMT_NATIVE);
  uint32_t stored = TWFieldAlloc(flowcore::Out(field), TWTYPE_TEXT, 1);
  if (stored == TWSUCCESS) stored = Named(text, FormatSequence(*whole_));
  if (stored == TWSUCCESS) stored = TWFieldSetStream(field.get(), 1, text.get());
  if (stored == TWSUCCESS) stored = TWActivitySetProperty(kLastDiffSeq, field.get());
  if (stored != TWSUCCESS && status == TWSUCCESS) return TWActivityLog(stored);
  return status;
}

}  // namespace

uint32_t RunPropagation() {
  Propagation propagation;
  const uint32_t status = propagation.Run();
  // Logged before the connections close, so that they are told the work ended in error.
  if (status != TWSUCCESS) TWActivityLog(status);
  return propagation.End(status);
}

}  // namespace tw::relay
