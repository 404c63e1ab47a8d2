// The replication (see synchronize.h).
#include "synchronize.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "connections.h"
#include "flowcore_ptr.h"
#include "key_fields.h"
#include "record_store.h"
#include "replica_messages.h"
#include "tw/guard.h"

extern "C" int replica_load_string(uint32_t id, char* buffer, int size);

namespace tw::replica {

namespace {

using flowcore::ConnectPtr;
using flowcore::FieldlistPtr;
using flowcore::FieldPtr;
using flowcore::StreamData;

// Who wins a decision.
enum Decision : int32_t { kNoWinner = 0, kAWins = 1, kBWins = 2 };

constexpr uint32_t kMaxName = 256;
// Each message is read with at most this many characters.
constexpr int kMaxMessage = 200;
// The bytes of records one side keeps in memory before they go to a temporary file.
constexpr size_t kBlockBytes = size_t{1} << 20;
// The records of each side's list: a side is read this many records a fetch, so that the
// connector's work for a call is shared by them. The merge and every write use record 1.
constexpr uint32_t kReadRecords = 64;

std::string MessageText(uint32_t id) {
  char text[kMaxMessage + 1] = {};
  const int length = replica_load_string(id, text, sizeof text);
  return std::string(text, length > 0 ? static_cast<size_t>(length) : 0);
}

// One link: its connection, its record, the fields compared and the keys, in pair order.
struct Side {
  uint32_t token = 0;
  ConnectPtr conn;
  FieldlistPtr list;
  std::vector<TWFIELD> fields;
  activity::KeyFields keys;
  // The side's records, read whole before anything is written, in the merge's order.
  std::unique_ptr<RecordStore> store;
  // read: every record is in the store; twice: two of them have keys that compare equal, and
  // the fields hold one of them.
  bool read = false;
  bool twice = false;
  TWFIELD stamp = TWNULLHANDLE;
  bool hasBase = false;
  bool noDelete = false;
  bool exhausted = false;
  bool advance = true;
};

class Replication {
 public:
  uint32_t Run();
  // Ends the links and the save connection, then, after a stamped run that ended well, keeps
  // the stamps; status is the run's (logged). Answers the run's final status.
  uint32_t End(uint32_t status);
  // Ends the links first, then the save connection: its commit on a file that a link holds
  // open would wait for that link.
  ~Replication() {
    a_.conn.reset();
    b_.conn.reset();
    save_.reset();
  }

 private:
  uint32_t Open();
  uint32_t PrepareLink(Side& side);
  uint32_t SelectBoth();
  bool MayCreate(uint32_t status, int32_t ownWin) const;
  uint32_t AfterSelects(uint32_t statusA, uint32_t statusB);
  uint32_t CheckBoth();
  uint32_t CreateMetadata(Side& missing, TWFIELDLIST other);
  uint32_t BuildFieldArrays();
  uint32_t CheckTypes(const std::vector<TWFIELD>& as, const std::vector<TWFIELD>& bs);
  uint32_t LoadKeys(Side& side);
  uint32_t LoadStampField(Side& side);
  uint32_t CheckStamps();
  uint32_t Synchronize();
  uint32_t SelectAndRead();
  uint32_t SelectAndReadTogether(bool* started);
  bool ReadTogether();
  bool KeysAhead(const Side& side, std::vector<TWFIELD>* keys);
  uint32_t StartStore(Side& side, const std::vector<TWFIELD>& keys);
  uint32_t ReadBlocks(Side& side, const std::function<bool()>& more);
  uint32_t ReadSide(Side& side);
  uint32_t KeyTwice(const Side& side);
  uint32_t Fetch(Side& side);
  uint32_t Compare(const std::vector<TWFIELD>& as, const std::vector<TWFIELD>& bs, bool data,
                   int32_t* result);
  uint32_t UpdatePair(Side& target, const Side& source, TWFIELDLIST record);
  uint32_t CopyOver(Side& to, TWFIELDLIST record, uint32_t* action);
  uint32_t OneSided(Side& holder, Side& other, TWFIELDLIST toOther, TWFIELDLIST toHolder,
                    Decision holderWins, Decision otherWins);
  uint32_t RecordConflict(int32_t decision, uint32_t action, TWFIELDLIST forB, TWFIELDLIST forA,
                          const Side* holder);
  uint32_t SaveRecord(int32_t decision, TWFIELDLIST forB, TWFIELDLIST forA);
  uint32_t LogConflictText(int32_t decision, uint32_t action, const Side& keysOf);
  uint32_t KeyValuesText(const Side& keysOf, std::string* text);
  uint32_t ReadMaxStamps();
  uint32_t StoreBaseStamps();

  Side a_;
  Side b_;
  FieldlistPtr pairing_;
  // Per pair of fields: TWFIELDF_NO_UPDATE on either side (left out of the data comparison).
  std::vector<bool> unwritten_;
  FieldlistPtr toA_;
  FieldlistPtr toB_;
  ConnectPtr save_;
  // The links' maximum stamps, read before they disconnect.
  FieldPtr maxA_;
  FieldPtr maxB_;
  uint32_t precision_ = 0;
  int32_t mapName_ = 0;
  int32_t winConflict_ = 0;
  int32_t logConflict_ = 0;
  int32_t saveConflict_ = 0;
  bool conflicts_ = false;
  bool create_ = false;
};

uint32_t Replication::Run() {
  if (TWActivityGetPropertyBoolean(kLowPrecision, 0)) precision_ = TWCOMPAREF_LOW_PREC;
  (void)TWActivityGetPropertyInt(kMapName, &mapName_);
  int32_t noDelete = 0;
  (void)TWActivityGetPropertyInt(kNoDelete, &noDelete);
  (void)TWActivityGetPropertyInt(kWinConflict, &winConflict_);
  (void)TWActivityGetPropertyInt(kLogConflict, &logConflict_);
  if (winConflict_ != kNoWinner) (void)TWActivityGetPropertyInt(kSaveConflict, &saveConflict_);
  conflicts_ = logConflict_ != 0 || saveConflict_ != 0;
  create_ = TWActivityGetPropertyBoolean(kCreate, 0) != 0;
  a_.token = TWTOKENF_SRC;
  b_.token = TWTOKENF_DEST;
  a_.noDelete = (noDelete & 1) != 0;
  b_.noDelete = (noDelete & 2) != 0;
  // A rule or a save link that names no link would act on neither side, or on one nobody
  // chose: refused before anything is opened.
  for (auto [token, value] :
       {std::pair{kWinConflict, winConflict_}, {kSaveConflict, saveConflict_}})
    if (value < 0 || value > 2)
      return TWActivityLogEx(TWFAIL_PROPERTY_VALUE, token, 0, 0, nullptr, nullptr, nullptr);

  uint32_t status = Open();
  if (status == TWSUCCESS) status = PrepareLink(a_);
  if (status == TWSUCCESS) status = PrepareLink(b_);
  if (status == TWSUCCESS) status = SelectAndRead();
  if (status == TWSUCCESS) status = Synchronize();
  if (status == TWSUCCESS && a_.stamp != TWNULLHANDLE) status = ReadMaxStamps();
  return status;
}

uint32_t Replication::End(uint32_t status) {
  status = activity::EndConnections(status, {&a_.conn, &b_.conn, &save_});
  // The stamps move on only once both links hold this run's writes for good: after a commit
  // that failed, the next run must select the same records again.
  if (status == TWSUCCESS && maxA_) status = StoreBaseStamps();
  return status;
}

uint32_t Replication::Open() {
  uint32_t status = TWConnectAlloc(flowcore::Out(a_.conn), a_.token, nullptr);
  if (status == TWSUCCESS) status = TWConnectAlloc(flowcore::Out(b_.conn), b_.token, nullptr);
  if (status == TWSUCCESS) status = TWConnectConnect(a_.conn.get());
  if (status == TWSUCCESS) status = TWConnectConnect(b_.conn.get());
  return status;
}

uint32_t Replication::PrepareLink(Side& side) {
  uint32_t status = TWFieldlistAlloc(flowcore::Out(side.list), kReadRecords, TWFIELDF_TRUNC_PREC);
  // Each side is read whole before the first write, so no write can stand on a current
  // record: every update and removal goes by key, and the selections are plain reads.
  const int32_t one = 1, zero = 0;
  if (status == TWSUCCESS)
    status = TWConnectSetPropertyInt(side.conn.get(), TWTOKEN_WRITEBACK, &zero);
  if (status == TWSUCCESS)
    status = TWConnectSetPropertyInt(side.conn.get(), TWTOKEN_MAP_NAME, &one);
  if (status == TWSUCCESS && mapName_ != 2) {
    // Each link delivers all its fields.
    TWStream empty{};
    status = TWStreamCreate(&empty, 0, 0, TWSTREAMFMT_NATIVE);
    if (status == TWSUCCESS)
      status = TWConnectSetPropertyStream(side.conn.get(), TWTOKEN_FIELD_LIST, &empty);
    TWStreamDataFree(&empty);
  }
  if (status != TWSUCCESS) return status;
  TWDatetime base{};
  TWDatetimeParts parts{};
  if (TWConnectGetPropertyDatetime(side.conn.get(), TWTOKEN_BASESTAMP, &base) == TWSUCCESS &&
      TWDatetimeGetParts(&base, 0, &parts) == TWSUCCESS && parts.year != -1) {
    side.hasBase = true;
    return TWSUCCESS;
  }
  TWActivityClearStatus();
  return TWConnectSetPropertyDatetime(side.conn.get(), TWTOKEN_BASESTAMP, nullptr);
}

// Selects A, then B where A's answer leaves the run going.
uint32_t Replication::SelectBoth() {
  const uint32_t statusA = TWConnectSelect(a_.conn.get(), TWNULLHANDLE, 0, a_.list.get(), nullptr);
  if (statusA != TWSUCCESS && !MayCreate(statusA, kAWins)) return statusA;
  return AfterSelects(statusA,
                      TWConnectSelect(b_.conn.get(), TWNULLHANDLE, 0, b_.list.get(), nullptr));
}

// Whether a side whose select answered status is made from the other side's fields: its table
// is missing, Create asks, and the rule does not make the side itself the winner.
bool Replication::MayCreate(uint32_t status, int32_t ownWin) const {
  return status == TWFAIL_INVALID_METADATA && winConflict_ != ownWin && create_;
}

// What the two selects' answers leave: A's failure, else B's, but a side that may be made
// (MayCreate) is made from the other's fields and selected again.
uint32_t Replication::AfterSelects(uint32_t statusA, uint32_t statusB) {
  if (statusA == TWSUCCESS) {
    if (!MayCreate(statusB, kBWins)) return statusB;
    uint32_t status = CreateMetadata(b_, a_.list.get());
    if (status == TWSUCCESS)
      status = TWConnectSelect(b_.conn.get(), TWNULLHANDLE, 0, b_.list.get(), nullptr);
    return status;
  }
  if (!MayCreate(statusA, kAWins)) return statusA;
  uint32_t status = statusB;
  if (status == TWSUCCESS) status = CreateMetadata(a_, b_.list.get());
  if (status == TWSUCCESS)
    status = TWConnectSelect(a_.conn.get(), TWNULLHANDLE, 0, a_.list.get(), nullptr);
  return status;
}

// Everything between the selects and the reads: fields paired, keys and stamps found.
uint32_t Replication::CheckBoth() {
  uint32_t status = BuildFieldArrays();
  if (status == TWSUCCESS) status = LoadKeys(a_);
  if (status == TWSUCCESS) status = LoadKeys(b_);
  if (status == TWSUCCESS && a_.keys.fields.size() != b_.keys.fields.size())
    status =
        TWActivityLogEx(TWFAIL_KEY_COUNT_MISMATCH, static_cast<uint32_t>(a_.keys.fields.size()),
                        static_cast<uint32_t>(b_.keys.fields.size()), 0, nullptr, nullptr, nullptr);
  if (status == TWSUCCESS) status = CheckTypes(a_.keys.fields, b_.keys.fields);
  if (status == TWSUCCESS) status = CheckStamps();
  return status;
}

uint32_t Replication::CreateMetadata(Side& missing, TWFIELDLIST other) {
  TWActivityClearStatus();
  if (mapName_ != 2) return TWConnectCreate(missing.conn.get(), TWOBJECT_METADATA, other);
  // The missing side is made with the names of its own field list.
  StreamData names(TWSTREAMFMT_NATIVE), name(TWSTREAMFMT_NATIVE);
  FieldlistPtr nameList, merged;
  uint32_t status = TWActivityGetPropertyStream(missing.token | TWTOKEN_FIELD_LIST,
                                                TWSTREAMFMT_TEXT_LIST, names.get());
  if (status == TWSUCCESS) status = TWFieldlistAlloc(flowcore::Out(nameList), 0, 0);
  const uint32_t count = status == TWSUCCESS ? TWTextListGetCount(names.get()) : 0;
  for (uint32_t i = 1; i <= count && status == TWSUCCESS; ++i) {
    status = TWTextListFetch(names.get(), i, TWSTREAMFMT_NATIVE, name.get(), nullptr, nullptr);
    if (status == TWSUCCESS && name.view().size() > kMaxName) status = TWFAIL_PROPERTY_VALUE;
    if (status == TWSUCCESS)
      status = TWFieldlistAppend(nameList.get(), name.get(), TWTYPE_INT, nullptr);
  }
  if (status == TWSUCCESS)
    status = TWFieldlistMerge(flowcore::Out(merged), nameList.get(), other, 0);
  if (status == TWSUCCESS)
    status = TWConnectCreate(missing.conn.get(), TWOBJECT_METADATA, merged.get());
  return status == TWSUCCESS ? status : TWActivityLog(status);
}

uint32_t Replication::BuildFieldArrays() {
  const uint32_t countA = TWFieldlistGetCount(a_.list.get());
  const uint32_t countB = TWFieldlistGetCount(b_.list.get());
  if (countA != countB)
    return TWActivityLogEx(TWFAIL_FIELD_COUNT_MISMATCH, countA, countB, 0, nullptr, nullptr,
                           nullptr);
  const uint32_t byName = mapName_ == 1 ? TWMERGEF_MAP_NAME : 0;
  uint32_t status = TWSUCCESS;
  if (byName != 0)
    status = TWFieldlistMerge(flowcore::Out(pairing_), a_.list.get(), b_.list.get(), byName);
  if (status == TWSUCCESS)
    status = TWFieldlistMerge(flowcore::Out(toA_), a_.list.get(), b_.list.get(), byName);
  if (status == TWSUCCESS)
    status = TWFieldlistMerge(flowcore::Out(toB_), b_.list.get(), a_.list.get(), byName);
  if (status != TWSUCCESS) return TWActivityLog(status);
  TWFIELDLIST bSide = pairing_ ? pairing_.get() : b_.list.get();
  for (uint32_t i = 1; i <= countA; ++i) {
    TWFIELD fa = TWNULLHANDLE, fb = TWNULLHANDLE;
    status = TWFieldlistGetField(a_.list.get(), i, 0, &fa, nullptr);
    if (status == TWSUCCESS) status = TWFieldlistGetField(bSide, i, 0, &fb, nullptr);
    if (status != TWSUCCESS) return TWActivityLog(status);
    a_.fields.push_back(fa);
    b_.fields.push_back(fb);
  }
  return CheckTypes(a_.fields, b_.fields);
}

uint32_t StreamFormat(TWFIELD field) {
  uint32_t format = 0;
  const uint32_t type = TWFieldGetType(field);
  if (type == TWTYPE_TEXT || type == TWTYPE_BINARY)
    (void)TWFieldGetFormatStream(field, nullptr, nullptr, &format);
  return format;
}

bool Numeric(uint32_t type) {
  return type == TWTYPE_INT || type == TWTYPE_FLOAT || type == TWTYPE_CURRENCY ||
         type == TWTYPE_NUMERIC;
}

// Whether a value of one field can be compared with and written to the other.
uint32_t PairStatus(TWFIELD a, TWFIELD b) {
  uint32_t ta = TWFieldGetType(a), tb = TWFieldGetType(b);
  uint32_t fa = StreamFormat(a), fb = StreamFormat(b);
  if (ta == tb && ta != TWTYPE_BINARY) return TWSUCCESS;
  if (tb < ta) {
    std::swap(ta, tb);
    std::swap(fa, fb);
  }
  switch (ta) {
    case TWTYPE_DATETIME:
      return fb == TWSTREAMFMT_DATETIME_LIST ? TWSUCCESS : TWFAIL_TYPE_MISMATCH;
    case TWTYPE_TEXT:
      return tb == TWTYPE_BINARY ? TWSUCCESS : TWFAIL_TYPE_MISMATCH;
    case TWTYPE_BINARY:
      return fa == fb || fa == TWSTREAMFMT_BLOB || fb == TWSTREAMFMT_BLOB ? TWSUCCESS
                                                                          : TWFAIL_TYPE_MISMATCH;
    case TWTYPE_INT:
    case TWTYPE_FLOAT:
    case TWTYPE_CURRENCY:
    case TWTYPE_NUMERIC:
      return Numeric(tb) || fb == TWSTREAMFMT_NUMBER_LIST ? TWSUCCESS : TWFAIL_TYPE_MISMATCH;
    default:
      return TWFAIL_INVALID_TYPE;
  }
}

// The name of a field in a's list, for messages.
void FieldName(TWFIELDLIST list, TWFIELD field, StreamData& name) {
  const uint32_t count = TWFieldlistGetCount(list);
  for (uint32_t i = 1; i <= count; ++i) {
    TWFIELD f = TWNULLHANDLE;
    if (TWFieldlistGetField(list, i, TWSTREAMFMT_NATIVE, &f, name.get()) == TWSUCCESS && f == field)
      return;
  }
  (void)name.Set(TWSTREAMFMT_NATIVE, "");
}

uint32_t TypeReported(TWFIELD field) {
  const uint32_t type = TWFieldGetType(field);
  return type == TWTYPE_BINARY ? StreamFormat(field) : type;
}

uint32_t Replication::CheckTypes(const std::vector<TWFIELD>& as, const std::vector<TWFIELD>& bs) {
  for (size_t i = 0; i < as.size(); ++i) {
    const uint32_t status = PairStatus(as[i], bs[i]);
    if (status == TWSUCCESS) continue;
    StreamData name(TWSTREAMFMT_NATIVE);
    FieldName(a_.list.get(), as[i], name);
    if (status == TWFAIL_INVALID_TYPE)
      return TWActivityLogEx(status, 0, 0, 0, name.get(), nullptr, nullptr);
    return TWActivityLogEx(status, TypeReported(as[i]), TypeReported(bs[i]), 0, name.get(), nullptr,
                           nullptr);
  }
  return TWSUCCESS;
}

uint32_t Replication::LoadKeys(Side& side) {
  const uint32_t status = activity::MarkKeyFields(side.list.get(), side.token | TWTOKEN_ORDER_LIST,
                                                  activity::NoKeys::kInvalidKey, &side.keys);
  return status == TWSUCCESS ? status : TWActivityLog(status);
}

uint32_t Replication::LoadStampField(Side& side) {
  StreamData name(TWSTREAMFMT_NATIVE);
  if (TWActivityGetPropertyStream(side.token | TWTOKEN_STAMPFIELD, TWSTREAMFMT_NATIVE,
                                  name.get()) != TWSUCCESS ||
      name.view().empty()) {
    TWActivityClearStatus();
    return TWSUCCESS;
  }
  TWFIELD field = TWNULLHANDLE;
  if (TWFieldlistLookup(side.list.get(), name.get(), &field, nullptr) != TWSUCCESS)
    return TWActivityLogEx(TWFAIL_INVALID_STAMPFIELD, 0, 0, 0, name.get(), nullptr, nullptr);
  if (TWFieldGetType(field) != TWTYPE_DATETIME)
    return TWActivityLogEx(TWFAIL_STAMPFIELD_TYPE, TWFieldGetType(field), 0, 0, name.get(), nullptr,
                           nullptr);
  side.stamp = field;
  return TWSUCCESS;
}

uint32_t Replication::CheckStamps() {
  uint32_t status = LoadStampField(a_);
  if (status == TWSUCCESS) status = LoadStampField(b_);
  if (status == TWSUCCESS && (a_.stamp == TWNULLHANDLE) != (b_.stamp == TWNULLHANDLE))
    status = TWActivityLogEx(TWFAIL_PROPERTY_CONFLICT, TWTOKENF_SRC | TWTOKEN_STAMPFIELD,
                             TWTOKENF_DEST | TWTOKEN_STAMPFIELD, 0, nullptr, nullptr, nullptr);
  return status;
}

uint32_t Replication::Compare(const std::vector<TWFIELD>& as, const std::vector<TWFIELD>& bs,
                              bool data, int32_t* result) {
  *result = 0;
  // Data are compared as the less precise side of each pair holds them: a value that side
  // rounds, cuts or pads on writing must not count as changed on every run. Keys compare
  // exactly, in the one order the merge walks.
  const uint32_t flags = data ? precision_ | TWCOMPAREF_FORMAT : precision_;
  for (size_t i = 0; i < as.size(); ++i) {
    if (data && unwritten_[i]) continue;
    uint32_t status = TWFieldCompare(as[i], 1, bs[i], 1, 1, flags, result);
    if (status != TWSUCCESS) {
      StreamData name(TWSTREAMFMT_NATIVE);
      FieldName(a_.list.get(), as[i], name);
      return TWActivityLogEx(status, TypeReported(as[i]), TypeReported(bs[i]), 0, name.get(),
                             nullptr, nullptr);
    }
    if (*result != 0) return TWSUCCESS;
  }
  return TWSUCCESS;
}

// The side's store, made empty for its records: whatever order the data source returns them
// in, it gives them back in the order of the keys' comparison. The merge decides "only on one
// side" from the rest of the other side, so both sides must be known to be in order before
// anything is written.
uint32_t Replication::StartStore(Side& side, const std::vector<TWFIELD>& keys) {
  std::vector<TWFIELD> fields;
  const uint32_t count = TWFieldlistGetCount(side.list.get());
  for (uint32_t i = 1; i <= count; ++i) {
    TWFIELD field = TWNULLHANDLE;
    if (uint32_t status = TWFieldlistGetField(side.list.get(), i, 0, &field, nullptr))
      return TWActivityLog(status);
    fields.push_back(field);
  }
  side.store = std::make_unique<RecordStore>(std::move(fields), keys, precision_, kBlockBytes);
  return TWSUCCESS;
}

// Reads the side into its store while more() answers true before each fetch; side.read once
// every record is in. Two records whose keys compare equal end the reading with side.twice,
// logged by the caller (KeyTwice).
uint32_t Replication::ReadBlocks(Side& side, const std::function<bool()>& more) {
  while (!side.read && !side.twice) {
    if (uint32_t command = TWActivityGetCommand()) return command;
    if (!more()) return TWSUCCESS;
    uint32_t fetched = 0;
    const uint32_t status =
        TWConnectFetch(side.conn.get(), side.list.get(), 1, kReadRecords, &fetched);
    // End of data may come with the last records of a block, as a connector that reads a
    // record at a time reports it.
    const bool last = status == TWFAIL_END_OF_DATA;
    if (status != TWSUCCESS && !last) return status;
    if (!last || fetched != 0) {
      // A count that cannot be true would leave the side's records unknown, and the merge
      // would act on the strength of records it never saw: the run ends before anything is
      // written.
      if (fetched == 0 || fetched > kReadRecords) return TWActivityLog(TWFAIL_PROGRAM);
      if (uint32_t stored = side.store->AddBlock(fetched, &side.twice)) return stored;
      if (side.twice) return TWSUCCESS;
    }
    if (last) {
      if (uint32_t finished = side.store->Finish(&side.twice)) return finished;
      side.read = true;
    }
  }
  return TWSUCCESS;
}

// Reads the whole side into its store, one side after the other.
uint32_t Replication::ReadSide(Side& side) {
  uint32_t status = StartStore(side, side.keys.fields);
  if (status == TWSUCCESS) status = ReadBlocks(side, [] { return true; });
  if (status == TWSUCCESS && side.twice) status = KeyTwice(side);
  return status;
}
// Two records of one side whose keys compare equal cannot each find their counterpart: the
// run ends, before anything was written, naming the side and the key.
uint32_t Replication::KeyTwice(const Side& side) {
  std::string text = MessageText(REPLICA_KEY_TWICE);
  text += MessageText(&side == &a_ ? REPLICA_LINK_A : REPLICA_LINK_B);
  text += MessageText(REPLICA_KEY_VALUES);
  if (uint32_t status = KeyValuesText(side, &text)) return status;
  StreamData stream(TWSTREAMFMT_NATIVE);
  if (uint32_t status = stream.Set(TWSTREAMFMT_NATIVE, text)) return TWActivityLog(status);
  return TWActivityLogStreamEx(0, stream.get(), 0, 0, 0, 0, nullptr, nullptr, nullptr);
}

uint32_t Replication::Fetch(Side& side) {
  if (side.exhausted || !side.advance) return TWSUCCESS;
  bool end = false;
  const uint32_t status = side.store->Next(&end);
  side.exhausted = end;
  return status;
}

// Updates target's record of the key both sides hold with source's data. The record is
// found by target's own key values, which may differ from source's where the comparison
// treats them as equal (LowPrecision).
uint32_t Replication::UpdatePair(Side& target, const Side& source, TWFIELDLIST record) {
  for (size_t k = 0; k < target.keys.fields.size(); ++k) {
    TWFIELD own = target.keys.fields[k], shown = source.keys.fields[k];
    if (TWFieldGetType(own) != TWFieldGetType(shown)) continue;
    if (uint32_t status = TWFieldConvert(shown, 1, own, 1, 1)) return TWActivityLog(status);
  }
  return TWConnectUpdate(target.conn.get(), record, 1, 1, nullptr);
}

// Copies a record that only the other side has: updated by key where the side was selected
// by its stamp window (the record may be there, outside it), else inserted.
uint32_t Replication::CopyOver(Side& to, TWFIELDLIST record, uint32_t* action) {
  uint32_t updated = 0;
  if (to.hasBase) {
    *action = REPLICA_UPDATE_AT;
    const uint32_t status = TWConnectUpdate(to.conn.get(), record, 1, 1, &updated);
    if (status != TWSUCCESS || updated != 0) return status;
  }
  *action = REPLICA_INSERT_INTO;
  return TWConnectInsert(to.conn.get(), record, 1, 1, nullptr);
}

// A record that only holder has. holderWins is the decision that keeps it (copied to other),
// otherWins the one that removes it.
uint32_t Replication::OneSided(Side& holder, Side& other, TWFIELDLIST toOther, TWFIELDLIST toHolder,
                               Decision holderWins, Decision otherWins) {
  const int32_t decision = holder.stamp != TWNULLHANDLE ? holderWins : winConflict_;
  uint32_t action = REPLICA_SKIP;
  uint32_t status = TWSUCCESS;
  if (decision == holderWins) {
    status = CopyOver(other, toOther, &action);
  } else if (decision == otherWins) {
    if (holder.noDelete) {
      action = REPLICA_SKIP_REMOVE_FROM;
    } else {
      action = REPLICA_REMOVE_FROM;
      status = TWConnectRemove(holder.conn.get(), holder.list.get(), 1, 1, nullptr);
    }
  }
  if (status == TWSUCCESS && holder.stamp == TWNULLHANDLE && conflicts_) {
    const bool holderIsA = &holder == &a_;
    status = RecordConflict(decision, action, holderIsA ? toOther : toHolder,
                            holderIsA ? toHolder : toOther, &holder);
  }
  holder.advance = true;
  other.advance = false;
  return status;
}

// Whether the two sides may be read at the same time. Each side has its own connection, and
// the engine keeps its per-call state per thread; what two connections of one connector
// share is the connector's own affair, so only the ODBC connector, whose driver manager and
// drivers keep each connection apart, or two different connectors go side by side.
bool Replication::ReadTogether() {
  std::string libraries[2];
  const Side* sides[] = {&a_, &b_};
  for (int i = 0; i < 2; ++i) {
    flowcore::StreamData text;
    if (TWConnectGetPropertyStream(sides[i]->conn.get(), TWTOKEN_LIBRARY, TWSTREAMFMT_NATIVE,
                                   text.get()) != TWSUCCESS)
      return false;
    libraries[i] = text.view();
  }
  if (libraries[0].empty() || libraries[1].empty()) return false;
  return libraries[0] != libraries[1] || libraries[0] == "sqlcli";
}

// The keys of the side as LoadKeys finds them, found without a word to the log, so that a
// side can be read ahead of LoadKeys: false where LoadKeys would not find them all.
bool Replication::KeysAhead(const Side& side, std::vector<TWFIELD>* keys) {
  StreamData names(TWSTREAMFMT_NATIVE), name(TWSTREAMFMT_NATIVE);
  if (TWActivityGetPropertyStream(side.token | TWTOKEN_ORDER_LIST, TWSTREAMFMT_TEXT_LIST,
                                  names.get()) != TWSUCCESS)
    return false;
  const uint32_t count = TWTextListGetCount(names.get());
  for (uint32_t i = 1; i <= count; ++i) {
    TWFIELD field = TWNULLHANDLE;
    if (TWTextListFetch(names.get(), i, TWSTREAMFMT_NATIVE, name.get(), nullptr, nullptr) !=
            TWSUCCESS ||
        name.view().size() > kMaxName ||
        TWFieldlistLookup(side.list.get(), name.get(), &field, nullptr) != TWSUCCESS ||
        std::find(keys->begin(), keys->end(), field) != keys->end())
      return false;
    keys->push_back(field);
  }
  return count != 0;
}

// Selects and reads both sides into their stores, with the checks between, one side after
// the other or both at once where the connectors allow it.
uint32_t Replication::SelectAndRead() {
  if (ReadTogether()) {
    bool started = false;
    const uint32_t status = SelectAndReadTogether(&started);
    if (started) return status;
  }
  uint32_t status = SelectBoth();
  if (status == TWSUCCESS) status = CheckBoth();
  if (status == TWSUCCESS) status = ReadSide(a_);
  if (status == TWSUCCESS) status = ReadSide(b_);
  return status;
}

// Reading is most of a run that finds few differences, and the two databases answer
// independently: B is selected and read on a thread of its own while A is selected and read
// here. One side's select may take as long as the other's read (a driver that reads the
// whole result when the statement runs), so each side is read ahead as soon as its own
// select answers. What the run decides and logs stays as one after the other:
// - the selects' answers go through SelectBoth's rules (AfterSelects) once both are in, with
//   B held between two fetches, so that nothing reads B's list while it is filled;
// - the checks follow; a run they end reads no further, and two equal keys found meanwhile
//   are not logged;
// - else both read on; a side that fails stops the other at its next fetch, and the run's
//   status is A's failure, else B's.
// *started: false when no thread could be had and nothing was done.
uint32_t Replication::SelectAndReadTogether(bool* started) {
  enum class Verdict { kNone, kRead, kStop };
  std::mutex mutex;
  std::condition_variable changed;
  uint32_t selectedB = TWSUCCESS;
  bool answeredB = false, heldB = false;
  Verdict verdict = Verdict::kNone;
  std::atomic<bool> answered{false}, hold{false}, failedA{false}, failedB{false};
  uint32_t statusB = TWSUCCESS;
  // The keys each side was read ahead by, if it was.
  std::vector<TWFIELD> keysA, keysB;
  bool aheadB = false;

  // B's side: waits, held, for what the run decided.
  auto decided = [&] {
    std::unique_lock lock(mutex);
    heldB = true;
    changed.notify_all();
    changed.wait(lock, [&] { return verdict != Verdict::kNone; });
    return verdict;
  };
  auto readB = [&]() -> uint32_t {
    uint32_t status = TWConnectSelect(b_.conn.get(), TWNULLHANDLE, 0, b_.list.get(), nullptr);
    const bool ahead = status == TWSUCCESS && KeysAhead(b_, &keysB);
    {
      std::lock_guard lock(mutex);
      selectedB = status;
      answeredB = true;
      aheadB = ahead;
    }
    answered.store(true);
    changed.notify_all();
    status = TWSUCCESS;
    if (ahead) {
      status = StartStore(b_, keysB);
      bool told = false;
      if (status == TWSUCCESS)
        status = ReadBlocks(b_, [&] {
          if (told) return !failedA.load(std::memory_order_relaxed);
          if (!hold.load()) return true;
          told = true;
          return decided() == Verdict::kRead;
        });
      if (!told && decided() != Verdict::kRead) return TWSUCCESS;
    } else {
      if (decided() != Verdict::kRead) return TWSUCCESS;
      if (failedA.load()) return TWSUCCESS;
      status = StartStore(b_, b_.keys.fields);
      if (status == TWSUCCESS)
        status = ReadBlocks(b_, [&] { return !failedA.load(std::memory_order_relaxed); });
    }
    if (status == TWSUCCESS && b_.twice) status = KeyTwice(b_);
    return status;
  };

  std::thread reader;
  try {
    reader = std::thread([&] {
      // Nothing may escape a thread: an exception would end the process.
      statusB = tw::guard(readB);
      if (statusB != TWSUCCESS) failedB.store(true);
      // The run's thread waits for B's answer and for B held: a failure that escaped before
      // either is both.
      std::lock_guard lock(mutex);
      if (!answeredB) selectedB = statusB;
      answeredB = heldB = true;
      answered.store(true);
      changed.notify_all();
    });
  } catch (const std::system_error&) {
    return TWSUCCESS;
  }
  *started = true;

  const uint32_t selectedA =
      TWConnectSelect(a_.conn.get(), TWNULLHANDLE, 0, a_.list.get(), nullptr);
  const bool aheadA = selectedA == TWSUCCESS && KeysAhead(a_, &keysA);
  uint32_t statusA = aheadA ? StartStore(a_, keysA) : TWSUCCESS;
  // A is read until B's select answers.
  if (aheadA && statusA == TWSUCCESS) statusA = ReadBlocks(a_, [&] { return !answered.load(); });

  uint32_t status = TWSUCCESS;
  {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return answeredB; });
    hold.store(true);
    changed.wait(lock, [&] { return heldB; });
    status = selectedB;
  }
  status = AfterSelects(selectedA, status);
  if (status == TWSUCCESS) status = CheckBoth();
  // Found as CheckBoth found them, or the store would order the side by other keys.
  if (status == TWSUCCESS &&
      ((aheadA && keysA != a_.keys.fields) || (aheadB && keysB != b_.keys.fields)))
    status = TWActivityLog(TWFAIL_PROGRAM);
  // A failed while read ahead: B need read no further.
  if (status == TWSUCCESS && statusA != TWSUCCESS) failedA.store(true);
  {
    std::lock_guard lock(mutex);
    verdict = status == TWSUCCESS ? Verdict::kRead : Verdict::kStop;
  }
  changed.notify_all();
  if (status == TWSUCCESS) {
    if (!aheadA) statusA = StartStore(a_, a_.keys.fields);
    if (statusA == TWSUCCESS)
      statusA = ReadBlocks(a_, [&] { return !failedB.load(std::memory_order_relaxed); });
    if (statusA == TWSUCCESS && a_.twice) statusA = KeyTwice(a_);
    if (statusA != TWSUCCESS) failedA.store(true);
  }
  reader.join();
  if (status != TWSUCCESS) return status;
  return statusA != TWSUCCESS ? statusA : statusB;
}

uint32_t Replication::Synchronize() {
  uint32_t status = TWSUCCESS;
  // A pair either side never writes is no difference; taken once, not for every record.
  unwritten_.clear();
  for (size_t i = 0; i < a_.fields.size(); ++i)
    unwritten_.push_back(((TWFieldGetFlags(a_.fields[i]) | TWFieldGetFlags(b_.fields[i])) &
                          TWFIELDF_NO_UPDATE) != 0);
  for (;;) {
    if (uint32_t command = TWActivityGetCommand()) return command;
    status = Fetch(a_);
    if (status == TWSUCCESS) status = Fetch(b_);
    if (status != TWSUCCESS) return status;
    if (a_.exhausted && b_.exhausted) return TWSUCCESS;
    int32_t order = 0;
    if (a_.exhausted)
      order = 1;
    else if (b_.exhausted)
      order = -1;
    else if ((status = Compare(a_.keys.fields, b_.keys.fields, false, &order)) != TWSUCCESS)
      return status;
    if (order > 0) {
      // toA (B's record in A's layout) is none: A has no record of this key.
      status = OneSided(b_, a_, toA_.get(), TWNULLHANDLE, kBWins, kAWins);
    } else if (order < 0) {
      status = OneSided(a_, b_, toB_.get(), TWNULLHANDLE, kAWins, kBWins);
    } else {
      int32_t differs = 0;
      status = Compare(a_.fields, b_.fields, true, &differs);
      if (status == TWSUCCESS && differs != 0) {
        if (winConflict_ == kAWins)
          status = UpdatePair(b_, a_, toB_.get());
        else if (winConflict_ == kBWins)
          status = UpdatePair(a_, b_, toA_.get());
        if (status == TWSUCCESS && conflicts_)
          status = RecordConflict(winConflict_, REPLICA_UPDATE_AT, toB_.get(), toA_.get(), nullptr);
      }
      a_.advance = b_.advance = true;
    }
    if (status != TWSUCCESS) return status;
  }
}

uint32_t Replication::RecordConflict(int32_t decision, uint32_t action, TWFIELDLIST forB,
                                     TWFIELDLIST forA, const Side* holder) {
  if (saveConflict_ != 0 && decision != kNoWinner)
    if (uint32_t status = SaveRecord(decision, forB, forA)) return status;
  if (logConflict_ == 0) return TWSUCCESS;
  // A record one side holds alone has its keys there; a record both hold, on either side.
  const Side* keysOf = holder;
  if (keysOf == nullptr)
    keysOf = (decision == kAWins && action != REPLICA_REMOVE_FROM) ||
                     (decision == kBWins && action == REPLICA_REMOVE_FROM)
                 ? &a_
                 : &b_;
  return LogConflictText(decision, action, *keysOf);
}

uint32_t Replication::SaveRecord(int32_t decision, TWFIELDLIST forB, TWFIELDLIST forA) {
  Side* link = saveConflict_ == 1 ? &a_ : &b_;
  TWFIELDLIST record = decision == kAWins ? forA : forB;
  if (record == TWNULLHANDLE) return TWSUCCESS;
  uint32_t status = TWSUCCESS;
  if (!save_) {
    StreamData metadata(TWSTREAMFMT_QMBCS);
    if (TWActivityGetPropertyStream(kSaveMetadata, TWSTREAMFMT_QMBCS, metadata.get()) !=
            TWSUCCESS ||
        metadata.view().empty())
      return TWActivityLogEx(TWFAIL_PROPERTY_VALUE, kSaveMetadata, 0, 0, nullptr, nullptr, nullptr);
    ConnectPtr conn;
    const int32_t zero = 0;
    status = TWConnectAlloc(flowcore::Out(conn), link->token, nullptr);
    if (status == TWSUCCESS) status = TWConnectSetPropertyInt(conn.get(), TWTOKEN_MAP_NAME, &zero);
    if (status == TWSUCCESS)
      status = TWConnectSetPropertyStream(conn.get(), TWTOKEN_METADATA, metadata.get());
    if (status == TWSUCCESS) status = TWConnectConnect(conn.get());
    if (status != TWSUCCESS) return status;
    save_ = std::move(conn);
  }
  // The saving link's open transaction would hold the save connection's write back (two
  // connections to one SQLite file), and the save connection's the link's next write: the
  // link commits what it wrote so far and each saved record is committed at once. A data
  // source without transactions answers TWFAIL_UNAVAILABLE, which is no failure.
  const uint32_t before = TWActivityGetStatus();
  auto commit = [&](TWCONNECT conn) {
    uint32_t st = TWConnectAction(conn, TWACTION_COMMIT);
    if (st == TWFAIL_UNAVAILABLE) {
      if (before == TWSUCCESS) TWActivityClearStatus();
      st = TWSUCCESS;
    }
    return st;
  };
  status = commit(link->conn.get());
  if (status == TWSUCCESS) status = TWConnectInsert(save_.get(), record, 1, 1, nullptr);
  if (status == TWFAIL_INVALID_METADATA && create_) {
    TWActivityClearStatus();
    status = TWConnectCreate(save_.get(), TWOBJECT_METADATA, record);
    if (status == TWSUCCESS) status = TWConnectInsert(save_.get(), record, 1, 1, nullptr);
  }
  if (status == TWSUCCESS) status = commit(save_.get());
  return status;
}

uint32_t Replication::LogConflictText(int32_t decision, uint32_t action, const Side& keysOf) {
  std::string text = MessageText(REPLICA_CONFLICT);
  if (decision != kNoWinner) {
    text += MessageText(action);
    text += MessageText(decision == kBWins ? REPLICA_LINK_A : REPLICA_LINK_B);
  } else {
    text += MessageText(REPLICA_SKIP);
  }
  text += MessageText(REPLICA_KEY_VALUES);
  if (uint32_t status = KeyValuesText(keysOf, &text)) return status;
  StreamData stream(TWSTREAMFMT_NATIVE);
  if (uint32_t status = stream.Set(TWSTREAMFMT_NATIVE, text)) return TWActivityLog(status);
  const uint32_t flags = (logConflict_ & 2) != 0 ? 0 : TWLOGSTREAMF_EVENT;
  const uint32_t logged =
      TWActivityLogStreamEx(flags, stream.get(), 0, 0, 0, 0, nullptr, nullptr, nullptr);
  return (logConflict_ & 4) != 0 ? logged : TWSUCCESS;
}

// Each key of the side's record as its name, " = " and its value, text in double quotes.
uint32_t Replication::KeyValuesText(const Side& keysOf, std::string* text) {
  StreamData value(TWSTREAMFMT_QMBCS);
  for (size_t i = 0; i < keysOf.keys.fields.size(); ++i) {
    TWFIELD key = keysOf.keys.fields[i];
    if (i > 0) *text += "; ";
    *text += keysOf.keys.names[i];
    *text += " = ";
    const uint32_t type = TWFieldGetType(key);
    const bool quoted = type == TWTYPE_TEXT || type == TWTYPE_BINARY;
    if (uint32_t status = TWFieldGetStream(key, 1, TWSTREAMFMT_QMBCS, value.get(), nullptr))
      return TWActivityLog(status);
    if (quoted) *text += '"';
    *text += value.view();
    if (quoted) *text += '"';
  }
  return TWSUCCESS;
}

// The links' maximum stamps, kept for StoreBaseStamps.
uint32_t Replication::ReadMaxStamps() {
  FieldPtr maxA, maxB;
  uint32_t status = TWFieldAlloc(flowcore::Out(maxA), TWTYPE_DATETIME, 1);
  if (status == TWSUCCESS) status = TWFieldAlloc(flowcore::Out(maxB), TWTYPE_DATETIME, 1);
  if (status == TWSUCCESS)
    status = TWConnectGetProperty(a_.conn.get(), TWTOKEN_MAXSTAMP, maxA.get());
  if (status == TWSUCCESS)
    status = TWConnectGetProperty(b_.conn.get(), TWTOKEN_MAXSTAMP, maxB.get());
  if (status != TWSUCCESS) return TWActivityLog(status);
  maxA_ = std::move(maxA);
  maxB_ = std::move(maxB);
  return TWSUCCESS;
}

// The links' maximum stamps become the next run's base stamps. A failure to keep them is
// the run's: the next run would select from old stamps, or none.
uint32_t Replication::StoreBaseStamps() {
  uint32_t status = TWActivitySetProperty(a_.token | TWTOKEN_BASESTAMP, maxA_.get());
  if (status == TWSUCCESS)
    status = TWActivitySetProperty(b_.token | TWTOKEN_BASESTAMP, maxB_.get());
  return status == TWSUCCESS ? status : TWActivityLog(status);
}

}  // namespace

uint32_t RunReplication() {
  Replication replication;
  const uint32_t status = replication.Run();
  // Logged before the connections close, so that they are told the work ended in error.
  if (status != TWSUCCESS) TWActivityLog(status);
  return replication.End(status);
}

}  // namespace tw::replica
