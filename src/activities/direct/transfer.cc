// The direct transfer (see transfer.h).
#include "transfer.h"

#include "connections.h"
#include "destination.h"
#include "field_map.h"
#include "flowcore_ptr.h"

namespace tw::direct {

namespace {

using activity::FieldlistPtr;
using activity::MapFieldList;
using activity::MapSide;
using flowcore::ConnectPtr;
using flowcore::FieldPtr;

// The state of one launch. End releases it in this order: the mapped destination list, the
// mapped source list, the name lists, the transfer list, then the destination and the source
// connection.
class Transfer {
 public:
  uint32_t Run();
  // Releases everything; status is the run's (logged). Answers the run's final status.
  uint32_t End(uint32_t status);

 private:
  // Allocates both connections and connects the source.
  uint32_t Open();
  uint32_t Describe(uint32_t* count);
  uint32_t Empty();
  uint32_t Map();
  uint32_t Move();
  uint32_t Store(uint32_t records);

  TWFIELDLIST SourceView() const { return srcMapped_ ? srcMapped_.get() : list_.get(); }
  TWFIELDLIST DestView() const { return destMapped_ ? destMapped_.get() : SourceView(); }

  ConnectPtr src_;
  ConnectPtr dest_;
  FieldlistPtr list_;
  FieldlistPtr srcNames_;
  FieldlistPtr destNames_;
  FieldlistPtr srcMapped_;
  FieldlistPtr destMapped_;
  uint32_t block_ = 1;
  bool create_ = false;
  bool createPending_ = false;
};

uint32_t Transfer::Run() {
  uint32_t status = Open();
  uint32_t count = 0;
  if (status == TWSUCCESS) status = Describe(&count);
  // The destination is opened only once the source is, its statement run: a source that
  // cannot be read must leave the destination as it was, and connecting alone creates some
  // (a text file).
  if (status == TWSUCCESS) status = TWConnectConnect(dest_.get());
  if (status == TWSUCCESS && TWActivityGetPropertyBoolean(kOverwrite, 0)) status = Empty();
  if (status != TWSUCCESS) return status;
  // Nothing to move: no rows, or a statement that describes no columns (fetching from it
  // would only fail for want of a result set).
  if (count == 0 || TWFieldlistGetCount(list_.get()) == 0) return TWSUCCESS;
  status = Map();
  if (status == TWSUCCESS) status = Move();
  return status;
}

uint32_t Transfer::End(uint32_t status) {
  return activity::EndConnections(
      status, {&destMapped_, &srcMapped_, &destNames_, &srcNames_, &list_}, {&dest_, &src_});
}

uint32_t Transfer::Open() {
  uint32_t status = TWConnectAlloc(flowcore::Out(src_), TWTOKENF_SRC, nullptr);
  if (status != TWSUCCESS) return status;
  status = TWConnectAlloc(flowcore::Out(dest_), TWTOKENF_DEST, nullptr);
  if (status == TWSUCCESS) status = TWConnectConnect(src_.get());
  return status;
}

// Allocates the transfer list and executes the statement, which describes its result there.
uint32_t Transfer::Describe(uint32_t* count) {
  const uint32_t flags = activity::TransferFlags(kTruncPrec, kTruncData);
  int32_t records = 0;
  if (TWActivityGetPropertyInt(kRecordCount, &records) != TWSUCCESS || records < 1) records = 1;
  block_ = static_cast<uint32_t>(records) > kMaxBlockRecords ? kMaxBlockRecords
                                                             : static_cast<uint32_t>(records);
  create_ = TWActivityGetPropertyBoolean(kCreate, 0) != 0;

  uint32_t status = TWFieldlistAlloc(flowcore::Out(list_), block_, flags);
  if (status != TWSUCCESS) return status;

  // A source that needs no statement (a text file) may be given none: it gets an empty one.
  flowcore::StreamData statement(TWSTREAMFMT_NATIVE);
  status = TWActivityGetPropertyStream(kStatement, TWSTREAMFMT_NATIVE, statement.get());
  const bool none = status == TWFAIL_MISSING_PROPERTY;
  if (none) status = TWSUCCESS;
  if (status != TWSUCCESS) return status;
  status = TWConnectExecute(src_.get(), statement.get(), list_.get(), count);
  // A source that does need one (a database, whatever its Metadata names) refuses the empty
  // text as a buffer it was not given: the run's failure names what the activity lacks.
  if (none && status == TWFAIL_NULL_BUFFER)
    status = TWActivityLogEx(TWFAIL_MISSING_PROPERTY, kStatement, 0, 0, nullptr, nullptr, nullptr);
  return status;
}

// Empties the destination; a destination that does not exist yet is created with the first
// block instead.
uint32_t Transfer::Empty() {
  return activity::EmptyDestination(dest_.get(), &createPending_);
}

uint32_t Transfer::Map() {
  uint32_t status = MapFieldList(list_.get(), kSrcFieldList, kDestMapName, MapSide::kSource,
                                 &srcNames_, &srcMapped_);
  if (status == TWSUCCESS)
    status = MapFieldList(SourceView(), kDestFieldList, kDestMapName, MapSide::kDestination,
                          &destNames_, &destMapped_);
  if (status != TWSUCCESS || !srcMapped_) return status;
  // The source delivers into a view laid out by name: tell it to match fields by name.
  FieldPtr on;
  status = TWFieldAlloc(flowcore::Out(on), TWTYPE_INT, 1);
  const int32_t one = 1;
  if (status == TWSUCCESS) status = TWFieldSetInt(on.get(), 1, &one);
  if (status == TWSUCCESS) status = TWConnectSetProperty(src_.get(), TWTOKEN_MAP_NAME, on.get());
  return status;
}

uint32_t Transfer::Move() {
  for (;;) {
    if (uint32_t command = TWActivityGetCommand()) return command;
    uint32_t records = 0;
    uint32_t status = TWConnectFetch(src_.get(), SourceView(), 1, block_, &records);
    const bool last = status == TWFAIL_END_OF_DATA;
    if (last) status = TWSUCCESS;
    if (status != TWSUCCESS) return status;
    // A connector cannot have moved more than the block holds; a count it could not tell
    // must not make the insert read past the block.
    if (records > block_) records = block_;
    // A fetch that moved nothing ends the transfer as end of data does: asking again would
    // loop for ever on a connector that keeps answering so.
    if (records == 0) return TWSUCCESS;
    status = Store(records);
    // After end of data the result set is gone: fetching again would fail on connectors that
    // answer a second fetch with TWFAIL_NO_RESULTSET.
    if (status != TWSUCCESS || last) return status;
  }
}

// Inserts the block; a destination reported missing is created (when Create is set) and the
// block inserted again.
uint32_t Transfer::Store(uint32_t records) {
  uint32_t status = TWFAIL_INVALID_METADATA;
  if (createPending_)
    createPending_ = false;
  else
    status = TWConnectInsert(dest_.get(), DestView(), 1, records, nullptr);
  if (status == TWFAIL_INVALID_METADATA && create_) {
    TWActivityClearStatus();
    status = TWConnectCreate(dest_.get(), TWOBJECT_METADATA, DestView());
    if (status == TWSUCCESS) status = TWConnectInsert(dest_.get(), DestView(), 1, records, nullptr);
  }
  return status;
}

}  // namespace

uint32_t RunTransfer() {
  Transfer transfer;
  const uint32_t status = transfer.Run();
  // Logged before the connections close, so that they are told the work ended in error.
  if (status != TWSUCCESS) TWActivityLog(status);
  // The destination commits as it disconnects: until then nothing is moved for good.
  return transfer.End(status);
}

}  // namespace tw::direct
