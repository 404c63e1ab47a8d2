// admin.twx: the administration activity. Action 1 backs the Administrator database up into
// an inert copy (nothing in it enabled, locked or due, no server registered); action 2
// removes the log documents that finished more than Expiration days ago. Copies go through
// the Plexa API, documents through the Ordex connector opened by name.
#include <unistd.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "admin_messages.h"
#include "catalogue.h"
#include "flowcore.h"
#include "flowcore_ptr.h"
#include "plexa_session.h"
#include "plexapi.h"
#include "twx.h"
#include "twx_plugin.h"

extern "C" int admin_load_string(uint32_t id, char* buffer, int size);

namespace tw::admin {
namespace {

using flowcore::ConnectPtr;
using flowcore::FieldlistPtr;
using flowcore::StreamData;

enum Token : uint32_t { kAction = 1, kExpiration = 2, kLogServer = 3, kLogDatabase = 4 };
constexpr uint32_t kSrcServer = TWTOKENF_SRC | TWTOKEN_SERVER;
constexpr uint32_t kSrcDatabase = TWTOKENF_SRC | TWTOKEN_DATABASE;
constexpr uint32_t kDestServer = TWTOKENF_DEST | TWTOKEN_SERVER;
constexpr uint32_t kDestDatabase = TWTOKENF_DEST | TWTOKEN_DATABASE;

enum Action : int32_t { kBackup = 1, kPurge = 2 };

// The Ordex connector's own property that takes documents of every form.
constexpr uint32_t kAllForms = 15;
// GVDatabaseCopy: a new identity, the title given, the whole database; no size limit.
constexpr uint32_t kCopyOptions = GVCOPY_NEW_IDENTITY | GVCOPY_TITLE | GVCOPY_WHOLE;
constexpr uint32_t kNoSizeLimit = 0x7FFF;

constexpr TWXPropertyDef kProperties[] = {
    TWX_PROPERTY(kAction, TWTYPE_INT, "Action"),
    TWX_PROPERTY(kSrcServer, TWTYPE_TEXT, "SrcServer"),
    TWX_PROPERTY(kSrcDatabase, TWTYPE_TEXT, "SrcDatabase"),
    TWX_PROPERTY(kDestServer, TWTYPE_TEXT, "DestServer"),
    TWX_PROPERTY(kDestDatabase, TWTYPE_TEXT, "DestDatabase"),
    TWX_PROPERTY(kLogServer, TWTYPE_TEXT, "LogServer"),
    TWX_PROPERTY(kLogDatabase, TWTYPE_TEXT, "LogDatabase"),
    TWX_PROPERTY(kExpiration, TWTYPE_INT, "Expiration"),
    TWX_PROPERTY_END,
};

constexpr TWXIdentity kIdentity = tw::twx::ActivityIdentity(kProperties, TWSTREAMFMT_QMBCS);

// ---------------------------------------------------------------- the Ordex connection --

// What a connection of the Ordex connector is opened with.
struct OrdexTarget {
  std::string server, database;
  const char* metadata;
  uint32_t flagToken;  // WRITEBACK or MAP_NAME, set to 1
};

uint32_t SetText(TWCONNECT c, uint32_t token, std::string_view text) {
  StreamData s(TWSTREAMFMT_QMBCS);
  uint32_t status = s.Set(TWSTREAMFMT_QMBCS, text);
  if (status == TWSUCCESS) status = TWConnectSetPropertyStream(c, token, s.get());
  return status;
}

uint32_t OpenOrdex(const OrdexTarget& target, ConnectPtr* out) {
  StreamData name(TWSTREAMFMT_NATIVE);
  uint32_t status = name.Set(TWSTREAMFMT_NATIVE, "ordex");
  if (status == TWSUCCESS)
    status = TWConnectAlloc(flowcore::Out(*out), TWTOKENF_EXTERN, name.get());
  TWCONNECT c = out->get();
  const int32_t on = 1;
  if (status == TWSUCCESS) status = SetText(c, TWTOKEN_SERVER, target.server);
  if (status == TWSUCCESS) status = SetText(c, TWTOKEN_DATABASE, target.database);
  if (status == TWSUCCESS) status = SetText(c, TWTOKEN_METADATA, target.metadata);
  if (status == TWSUCCESS) status = TWConnectSetPropertyInt(c, kAllForms, &on);
  if (status == TWSUCCESS) status = TWConnectSetPropertyInt(c, target.flagToken, &on);
  if (status == TWSUCCESS) status = TWConnectConnect(c);
  return status;
}

// A key list of one record holding the one key field name (flags, type) set by set.
template <class Set>
uint32_t KeyList(const char* name, uint32_t type, uint32_t flags, Set&& set, FieldlistPtr* keys) {
  StreamData n(TWSTREAMFMT_QMBCS);
  uint32_t status = TWFieldlistAlloc(flowcore::Out(*keys), 1, 0);
  TWFIELD key = TWNULLHANDLE;
  if (status == TWSUCCESS) status = n.Set(TWSTREAMFMT_QMBCS, name);
  if (status == TWSUCCESS) status = TWFieldlistAppend(keys->get(), n.get(), type, &key);
  if (status == TWSUCCESS) status = TWFieldSetFlags(key, TWFIELDF_KEY | flags);
  if (status == TWSUCCESS) status = set(key);
  return status;
}

// ---------------------------------------------------------------- back-up ---------------

// The documents of one Type and the items that make them inert.
struct Reset {
  const char* type;
  std::initializer_list<const char*> items;
};
const Reset kResets[] = {
    {"Activity", {"Enabled", "Lock", "LogID", "ActivityID", "RunASAP"}},
    {"Configuration", {"LogID", "ServerID"}},
};

// Sets the items of reset to 0 in every document of its Type.
uint32_t ResetDocuments(TWCONNECT c, const Reset& reset) {
  FieldlistPtr keys, list;
  uint32_t status = KeyList(
      "Type", TWTYPE_TEXT, 0,
      [&](TWFIELD key) {
        StreamData v(TWSTREAMFMT_QMBCS);
        uint32_t s = v.Set(TWSTREAMFMT_QMBCS, reset.type);
        return s == TWSUCCESS ? TWFieldSetStream(key, 1, v.get()) : s;
      },
      &keys);
  if (status == TWSUCCESS) status = TWFieldlistAlloc(flowcore::Out(list), 1, 0);
  uint32_t count = 0;
  if (status == TWSUCCESS) status = TWConnectSelect(c, keys.get(), 1, list.get(), &count);
  if (status != TWSUCCESS || count == 0) return status;
  std::vector<TWFIELD> items;
  for (const char* item : reset.items) {
    StreamData n(TWSTREAMFMT_QMBCS);
    TWFIELD field = TWNULLHANDLE;
    status = n.Set(TWSTREAMFMT_QMBCS, item);
    if (status == TWSUCCESS) status = TWFieldlistLookup(list.get(), n.get(), &field, nullptr);
    if (status != TWSUCCESS)
      return TWActivityLogEx(TWFAIL_MERGE_FIELD, 0, 0, 0, n.get(), nullptr, nullptr);
    items.push_back(field);
  }
  const int32_t zero = 0;
  for (;;) {
    uint32_t fetched = 0;
    status = TWConnectFetch(c, list.get(), 1, 1, &fetched);
    const bool last = status == TWFAIL_END_OF_DATA;
    if (last) status = TWSUCCESS;
    if (status != TWSUCCESS || fetched == 0) return status;
    for (TWFIELD field : items)
      if (status == TWSUCCESS) status = TWFieldSetInt(field, 1, &zero);
    if (status == TWSUCCESS) status = TWConnectUpdate(c, list.get(), 1, 1, nullptr);
    if (status != TWSUCCESS || last) return status;
  }
}

uint32_t MakeInert(const std::string& server, const std::string& database) {
  ConnectPtr c;
  uint32_t status = OpenOrdex({server, database, "Activity\\*Admin-Backup", TWTOKEN_WRITEBACK}, &c);
  for (const Reset& reset : kResets)
    if (status == TWSUCCESS) status = ResetDocuments(c.get(), reset);
  return status;
}

// The file part of a database name ("server!!file" or a file) and its server.
void SplitName(std::string* server, std::string* file) {
  const size_t bang = file->find("!!");
  if (bang == std::string::npos) return;
  *server = file->substr(0, bang);
  file->erase(0, bang + 2);
}

// Whether a database file name stays within its server's directory: neither absolute nor
// climbing out through "..". A back-up must not write, or make directories, elsewhere.
bool WithinServer(const std::string& file) {
  if (file.empty() || file.front() == '/' || file.front() == '\\') return false;
  size_t start = 0;
  for (;;) {
    const size_t end = file.find_first_of("/\\", start);
    if (file.compare(start, end == std::string::npos ? std::string::npos : end - start, "..") == 0)
      return false;
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

// A name beside file that no listing shows, for the copy under construction.
std::string TemporaryName(const std::string& file) {
  const size_t slash = file.find_last_of("/\\");
  const size_t base = slash == std::string::npos ? 0 : slash + 1;
  return file.substr(0, base) + "." + file.substr(base) + ".backup-" + std::to_string(::getpid());
}

uint32_t Backup() {
  std::string srcDatabase, destDatabase;
  if (uint32_t status = activity::RequiredText(kSrcDatabase, &srcDatabase)) return status;
  if (uint32_t status = activity::RequiredText(kDestDatabase, &destDatabase)) return status;
  std::string srcServer = activity::OptionalText(kSrcServer);
  std::string destServer = activity::OptionalText(kDestServer);
  SplitName(&srcServer, &srcDatabase);
  SplitName(&destServer, &destDatabase);
  for (auto [token, file] : {std::pair{kSrcDatabase, &srcDatabase}, {kDestDatabase, &destDatabase}})
    if (!WithinServer(*file))
      return TWActivityLogEx(TWFAIL_PROPERTY_VALUE, token, 0, 0, nullptr, nullptr, nullptr);
  // A copy made inert in place of its source would disable the whole installation.
  if (srcServer == destServer && srcDatabase == destDatabase)
    return TWActivityLogEx(TWFAIL_PROPERTY_VALUE, kDestDatabase, 0, 0, nullptr, nullptr, nullptr);

  char title[128] = "";
  TWLibraryLoadString(TWMSG_BACKUP_TITLE, title, sizeof title);
  // The old copy stays until the new one is complete and inert; then one rename replaces it.
  const std::string temporary = TemporaryName(destDatabase);
  (void)GVDatabaseDelete(destServer.c_str(), temporary.c_str());
  if (uint32_t plexa = GVDatabaseCopy(srcServer.c_str(), srcDatabase.c_str(), destServer.c_str(),
                                      temporary.c_str(), title, kCopyOptions, kNoSizeLimit, 0))
    return activity::LogPlexaText(activity::PlexaErrorText(plexa), plexa);
  uint32_t status = MakeInert(destServer, temporary);
  if (status == TWSUCCESS) {
    if (uint32_t plexa = GVDatabaseRename(destServer.c_str(), temporary.c_str(),
                                          destDatabase.c_str(), GVRENAME_REPLACE))
      status = activity::LogPlexaText(
          activity::PlexaErrorText(plexa) + " -  " + destServer + "!!" + destDatabase, plexa);
  }
  if (status != TWSUCCESS) {
    (void)GVDatabaseDelete(destServer.c_str(), temporary.c_str());
    return status;
  }
  char created[257] = "";
  admin_load_string(ADMIN_CREATED_COPY, created, sizeof created);
  StreamData event(TWSTREAMFMT_QMBCS);
  if (event.Set(TWSTREAMFMT_QMBCS, created) == TWSUCCESS)
    TWActivityLogStream(TWLOGSTREAMF_EVENT, event.get(), 0);
  return TWSUCCESS;
}

// ---------------------------------------------------------------- purge -----------------

uint32_t Purge() {
  int32_t days = 0;
  if (TWActivityGetPropertyInt(kExpiration, &days) != TWSUCCESS)
    return TWActivityLogEx(TWFAIL_MISSING_PROPERTY, kExpiration, 0, 0, nullptr, nullptr, nullptr);
  if (days < 0)
    return TWActivityLogEx(TWFAIL_PROPERTY_VALUE, kExpiration, 0, 0, nullptr, nullptr, nullptr);
  std::string database;
  if (uint32_t status = activity::RequiredText(kLogDatabase, &database)) return status;
  std::string server = activity::OptionalText(kLogServer);
  SplitName(&server, &database);

  TWDatetime cutOff{};
  TWDatetimeParts back{};
  back.day = -days;
  uint32_t status = TWDatetimeSetCurrent(&cutOff);
  if (status == TWSUCCESS) status = TWDatetimeAdjust(&cutOff, &back);
  ConnectPtr c;
  if (status == TWSUCCESS) status = OpenOrdex({server, database, "Activity", TWTOKEN_MAP_NAME}, &c);
  FieldlistPtr keys;
  // Every log document finished at or before the cut-off.
  if (status == TWSUCCESS)
    status = KeyList(
        "FinishTime", TWTYPE_DATETIME, TWFIELDF_KEY_LT,
        [&](TWFIELD key) { return TWFieldSetDatetime(key, 1, &cutOff); }, &keys);
  if (status == TWSUCCESS) status = TWConnectRemove(c.get(), keys.get(), 1, 1, nullptr);
  return status;
}

uint32_t Launch() {
  activity::PlexaSession session;
  if (session.status() != 0) return TWActivityLog(TWFAIL_API_INIT);
  int32_t action = 0;
  (void)TWActivityGetPropertyInt(kAction, &action);
  uint32_t status;
  switch (action) {
    case kBackup:
      status = Backup();
      break;
    case kPurge:
      status = Purge();
      break;
    default:
      status = TWActivityLogEx(TWFAIL_MISSING_PROPERTY, kAction, 0, 0, nullptr, nullptr, nullptr);
  }
  return TWActivityLog(status);
}

}  // namespace
}  // namespace tw::admin

TWX_ACTIVITY(tw::admin::kIdentity, tw::admin::Launch)
