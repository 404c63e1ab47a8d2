// The life of one Oracle connection: initialise and terminate, connect with the character
// set, disconnect, the property dispatch with its follow-ups, commit counting and actions.
#include "connection.h"

#include <cstring>
#include <string_view>

#include "charset.h"

namespace oracle {

uint32_t MetadataSet(Connection& c, bool assigned) {
  (void)assigned;
  c.metadataGeneration = c.nextGeneration++;
  return TWSUCCESS;
}

uint32_t CommitFrequencySet(Connection& c, bool assigned) {
  (void)assigned;
  return c.ApplyAutocommit();
}

Connection::~Connection() {
  (void)Terminate(0);
}

uint32_t Connection::Initialize(uint32_t connectCode, uint32_t flags) {
  (void)flags;
  connectCode_ = connectCode;
  metadataGeneration = 1;
  nextGeneration = 2;
  tw::twx::ApplyDefaults(kProperties, props);
  return TWSUCCESS;
}

uint32_t Connection::Terminate(uint32_t flags) {
  (void)flags;
  if (connected_) (void)Disconnect(0);
  tw::twx::ReleaseProperties(kProperties, props);
  TWStreamDataFree(&scratch_);
  return TWSUCCESS;
}

uint32_t Connection::SetProperty(uint32_t token, TWFIELD src) {
  const Row* row = tw::twx::FindProperty(kProperties, token, tw::twx::kSet);
  if (row == nullptr) return tw::twx::InvalidProperty(token);
  return tw::twx::SetProperty(*row, *this, props, src, static_cast<uint32_t>(props.textFormat));
}

uint32_t Connection::GetProperty(uint32_t token, TWFIELD dest) {
  const Row* row = tw::twx::FindProperty(kProperties, token, tw::twx::kGet);
  if (row == nullptr) return tw::twx::InvalidProperty(token);
  return tw::twx::GetProperty(*row, props, dest);
}

std::string Connection::TextOf(const TWStream& stream) {
  if (stream.data == nullptr) return {};
  return std::string(static_cast<const char*>(stream.data), stream.length);
}

uint32_t Connection::LogError(int rc) {
  char text[1000] = {};
  (void)OraErrorText(&lda_, rc, text, sizeof text);
  size_t n = strnlen(text, sizeof text);
  if (n > 0 && text[n - 1] == '\n') --n;
  uint32_t st = TWStreamDataSet(&scratch_, static_cast<uint32_t>(props.textFormat), text,
                                static_cast<uint32_t>(n));
  if (st != TWSUCCESS)
    TWStreamDataSet(&scratch_, TWSTREAMFMT_NATIVE, text, static_cast<uint32_t>(n));
  return TWActivityLogStream(0, &scratch_, static_cast<uint32_t>(rc));
}

uint32_t Connection::CursorError(const OraCursor& cursor) {
  if (cursor.rc == ORA_RC_NO_TABLE) return TWFAIL_INVALID_METADATA;
  return LogError(cursor.rc);
}

uint32_t Connection::ApplyAutocommit() {
  if (!connected_) return TWSUCCESS;
  int rc = props.commitFrequency == 1 ? OraAutocommitOn(&lda_) : OraAutocommitOff(&lda_);
  return rc != 0 ? LogError(lda_.rc) : TWSUCCESS;
}

uint32_t Connection::CountWritten(uint32_t units) {
  if (props.commitFrequency < 2 || units == 0) return TWSUCCESS;
  sinceCommit_ += units;
  if (sinceCommit_ < static_cast<uint32_t>(props.commitFrequency)) return TWSUCCESS;
  sinceCommit_ = 0;
  if (HoldingRows()) {
    commitHeld_ = true;
    return TWSUCCESS;
  }
  return OraCommit(&lda_) != 0 ? LogError(lda_.rc) : TWSUCCESS;
}

uint32_t Connection::Connect() {
  if (connected_) {
    if (uint32_t st = Disconnect(0)) return st;
  }
  std::string text = TextOf(props.userid);
  if (props.password.length > 0) text += "/" + TextOf(props.password);
  if (props.server.length > 0) text += "@" + TextOf(props.server);
  if (OraLogon(&lda_, &hda_, text.c_str(), -1, nullptr, -1, 0) != 0) return LogError(lda_.rc);
  connected_ = true;  // for the autocommit switch
  uint32_t st = ApplyAutocommit();
  if (st == TWSUCCESS && OraOpen(&selection_.cursor, &lda_, nullptr, -1, -1, nullptr, -1) != 0)
    st = LogError(lda_.rc);
  if (st != TWSUCCESS) {
    connected_ = false;
    (void)OraLogoff(&lda_);
    return st;
  }
  selection_.open = true;
  selection_.mergeFlag = TWMERGEF_FETCH;
  insert_.mergeFlag = TWMERGEF_INSERT;
  update_.mergeFlag = TWMERGEF_UPDATE;
  remove_.mergeFlag = TWMERGEF_REMOVE;
  props.textFormat = TWSTREAMFMT_NATIVE;
  (void)ReadCharacterSet();  // an unreadable set leaves the native format
  sinceCommit_ = 0;
  return TWSUCCESS;
}

uint32_t Connection::ReadCharacterSet() {
  OraCursor cursor{};
  if (OraOpen(&cursor, &lda_, nullptr, -1, -1, nullptr, -1) != 0) return LogError(lda_.rc);
  char name[41] = {};
  uint16_t length = 0;
  uint32_t st = TWSUCCESS;
  if (OraParse(&cursor, "SELECT VALUE FROM V$NLS_PARAMETERS WHERE PARAMETER = 'NLS_CHARACTERSET'",
               -1, 0, 1) != 0 ||
      OraDefine(&cursor, 1, name, 40, ORA_VARCHAR2, -1, nullptr, nullptr, -1, -1, &length,
                nullptr) != 0 ||
      OraExecute(&cursor) != 0 || OraFetch(&cursor) != 0)
    st = CursorError(cursor);
  if (st == TWSUCCESS) {
    std::string_view set(name, length);
    props.textFormat = static_cast<int32_t>(FormatOfCharacterSet(set));
    if (props.textFormat == TWSTREAMFMT_NATIVE) {
      TWStreamDataSet(&scratch_, TWSTREAMFMT_NATIVE, set.data(), static_cast<uint32_t>(set.size()));
      TWActivityLogEx(TWEVENT_CHARACTER_SET, 0, 0, 0, &scratch_, nullptr, nullptr);
    } else {
      ConvertTextProperties();
    }
  }
  (void)OraClose(&cursor);
  return st;
}

void Connection::ConvertTextProperties() {
  for (TWStream Props::*p : {&Props::metadata, &Props::index, &Props::condition, &Props::stampField,
                             &Props::createLongColumn}) {
    TWStream& old = props.*p;
    if (old.data == nullptr) continue;
    TWStream converted{};
    if (TWStreamDataConvert(&converted, &old, 0, static_cast<uint32_t>(props.textFormat), nullptr,
                            nullptr) == TWSUCCESS) {
      TWStreamDataFree(&old);
      old = converted;
    } else {
      TWStreamDataFree(&converted);
    }
  }
}

void Connection::ReleaseSlot(Slot& slot) {
  slot.Unprepare();
  slot.description.reset();
  if (slot.open) (void)OraClose(&slot.cursor);
  slot.open = false;
}

void Connection::ReleaseStatements() {
  EndResultSet();
  for (Slot* slot : {&insert_, &update_, &remove_}) ReleaseSlot(*slot);
  sinceCommit_ = 0;
}

uint32_t Connection::Disconnect(uint32_t errorFlag) {
  if (!connected_) return TWSUCCESS;
  if (errorFlag != 0 && props.rollbackOnError != 0) {
    (void)OraRollback(&lda_);
    commitHeld_ = false;
  }
  ReleaseStatements();
  ReleaseSlot(selection_);
  connected_ = false;
  // Log off commits: its failure is the caller's to know.
  if (OraLogoff(&lda_) != 0) return LogError(lda_.rc);
  return TWSUCCESS;
}

uint32_t Connection::Action(uint32_t code) {
  switch (code) {
    case TWACTION_RESET:
      ReleaseStatements();
      return TWSUCCESS;
    case TWACTION_TRUNCATE:
      if (!connected_) return TWFAIL_INVALID_CONNECT;
      return Truncate();
    case TWACTION_COMMIT:
    case TWACTION_ROLLBACK: {
      if (!connected_) return TWFAIL_INVALID_CONNECT;
      int rc = code == TWACTION_COMMIT ? OraCommit(&lda_) : OraRollback(&lda_);
      sinceCommit_ = 0;
      commitHeld_ = false;
      return rc != 0 ? LogError(lda_.rc) : TWSUCCESS;
    }
    default:
      return TWFAIL_UNAVAILABLE;
  }
}

}  // namespace oracle
