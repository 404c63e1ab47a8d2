// A control-store manager for tests: a thread serving "TWCSMP" in the test's installation
// directory with an in-memory model of documents, activity slots, logs and waits, failures
// on demand, and a journal of every block received and sent.
#ifndef TW_TESTS_OUTSIDE_FLOWCORE_FAKE_CTLSTORE_H_
#define TW_TESTS_OUTSIDE_FLOWCORE_FAKE_CTLSTORE_H_

#include <array>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "csmgr_wire.h"
#include "flowcore.h"
#include "plat_test_util.h"
#include "platform.h"

namespace twtest {

// A temporary installation directory with a twmain.ini naming it, settled by TWPlatInit for
// the life of the object (TWPlatTerm at the end). One per test.
class Installation {
 public:
  Installation();
  ~Installation();
  Installation(const Installation&) = delete;
  Installation& operator=(const Installation&) = delete;
  const std::string& path() const { return dir_.path(); }
  std::string operator/(const std::string& name) const { return dir_ / name; }

 private:
  TempDir dir_;
};

// One item value of a document.
struct FakeValue {
  enum class Kind { kNumber, kDatetime, kText, kTextList, kRichText };
  Kind kind = Kind::kText;
  int32_t number = 0;
  TWDatetime datetime{};
  std::string text;               // kText; kRichText: the composite bytes
  std::vector<std::string> list;  // kTextList
  static FakeValue Number(int32_t n);
  static FakeValue Datetime(TWDatetime d);
  static FakeValue Text(std::string t);
  static FakeValue TextList(std::vector<std::string> entries);
  static FakeValue RichText(std::string bytes);
  bool operator==(const FakeValue& o) const;
};

// A document of the model. kind is a CSMGR_ID_* (the view GetID searches); the item "Name"
// holds name. propNames and propTokens are the PropNameList and PropTokenList items that
// GetDescription gathers by and PutDescription stores by. As the real manager does,
// GetDescription turns a text value of a token whose low 24 bits are TWTOKEN_LINK into the id
// of the link document of that name (none: 799), of TWTOKEN_OPTION into the id of the
// link-options document (none: 0), skips empty texts and lists, and appends the "Library"
// text item under TWTOKEN_LIBRARY when no listed property has that token (missing: 798), so
// every described document needs one or the other. GetField reads numbers in decimal, text
// lists joined by ";", datetimes in the platform's format.
struct FakeDocument {
  int32_t id = 0;
  uint32_t kind = 0;
  std::string name;
  std::map<std::string, FakeValue> items;
  std::vector<std::string> propNames;
  std::vector<uint32_t> propTokens;
};

// An activity slot (handle = 2 x index + 3).
struct FakeSlot {
  int32_t handle = 0;
  std::string name;
  int32_t documentId = 0;  // 0 when the slot holds no document
  bool mayBeMissing = false;
  bool openedByName = false;
  uint32_t lastMessage = 0;
};

// One line written by Log mode 1. handle 0 (and an unknown handle) is the operations log.
struct FakeLogLine {
  int32_t handle = 0;
  std::string activity;
  uint32_t messageId = 0;
  std::string text;
};

// One Log mode 2 request that was stored.
struct FakeCounts {
  int32_t handle = 0;
  std::string activity;
  std::array<int32_t, CSMGR_LOG_COUNTS> counts{};
};

// One DoneActivity that freed a slot.
struct FakeDone {
  int32_t handle = 0;
  std::string activity;
  uint32_t completion = 0;
};

// What the manager received on one connection and what it sent back. A request is entered
// before its reply is sent; an asynchronous one once its handler has run (reply is then the
// 16-byte acknowledgement).
struct FakeExchange {
  uint32_t code = 0;
  std::string request;  // the bytes received
  std::string reply;    // the bytes sent ("" when nothing was sent)
  bool async = false;
};

// The server settings ServerInit answers with.
struct FakeSettings {
  int32_t serverId = 0x1F2;  // 0: no server registered (ServerState answers 795)
  int32_t statusInterval = 15;
  int32_t pollInterval = 30;
  int32_t maxDuration = 60;
  int32_t maxActivities = 4;
  int32_t closeTimeout = 20;
  int32_t translate = 1;
  std::string serverName = "Tarnway/Test";
  TWIntlFormat intl{};  // the platform's current record unless a test sets one
};

// Handlers follow the real manager: slots are taken lowest first; NextActivity hands out the
// names queued by QueueDue and RunActivity; DoneActivity frees the slot and releases the waits
// on its document; a slot opened with CSMGR_OPENF_MAY_BE_MISSING for a name without a
// document answers GetField and the writes with 0 and changes nothing; Log lines of an unknown
// handle go to the operations log (handle 0) with 797.
class FakeCtlstore {
 public:
  // Serves the pipe of the current installation (TWPlatInit first) until destroyed or until
  // a Shutdown request. serving() is false when the pipe could not be created.
  FakeCtlstore();
  ~FakeCtlstore();
  FakeCtlstore(const FakeCtlstore&) = delete;
  FakeCtlstore& operator=(const FakeCtlstore&) = delete;
  bool serving() const { return serving_; }
  // True once a Shutdown request has been handled (the pipe is then gone).
  bool shutDown();
  // Waits (at most timeoutMs) for a Shutdown request to be handled.
  bool WaitForShutdown(int timeoutMs);

  // ---- the model (every call locks; safe while the thread serves)
  // Adds a document of kind (CSMGR_ID_*) named name; answers its id (even, non-zero).
  int32_t AddDocument(uint32_t kind, const std::string& name);
  // Sets or removes an item without listing it.
  void SetItem(int32_t id, const std::string& item, const FakeValue& value);
  void RemoveItem(int32_t id, const std::string& item);
  // Sets an item and lists it, with token, at the end of PropNameList/PropTokenList.
  void AddProperty(int32_t id, const std::string& item, uint32_t token, const FakeValue& value);
  // Lists a property without giving the document the item (GetDescription skips it).
  void ListProperty(int32_t id, const std::string& item, uint32_t token);
  void EditDocument(int32_t id, const std::function<void(FakeDocument&)>& edit);
  std::optional<FakeDocument> Document(int32_t id);
  std::optional<FakeValue> Item(int32_t id, const std::string& item);
  void SetSettings(const FakeSettings& settings);
  // Queues a name for NextActivity, which hands them out in order (RunActivity queues the
  // names it starts, too).
  void QueueDue(const std::string& activityName);
  // The names RunActivity started (found ones), in order.
  std::vector<std::string> Started();
  // Removes finishedId from every wait, as DoneActivity of a run of that document does; a
  // waiter with nothing left to wait for has finished (DoneRun answers 0 at 16).
  void ReleaseWaits(int32_t finishedId);
  bool Waiting(int32_t waiterId);
  std::optional<FakeSlot> Slot(int32_t handle);
  int OpenSlots();
  std::vector<FakeLogLine> Log();
  std::vector<FakeCounts> Counts();
  std::vector<FakeDone> Done();
  void SetNow(TWDatetime now);
  TWDatetime Now();

  // ---- failures
  // Every later request answers status without a handler (a failed start-up); Shutdown
  // still ends the loop.
  void SetStartupStatus(uint32_t status);
  // false: every request answers 791.
  void SetInitialised(bool initialised);
  // Requests of code answer status without running their handler.
  void FailCode(uint32_t code, uint32_t status);
  // Lets a test rewrite the reply block of code before it is sent; an empty block is not
  // sent (the connection is dropped). When the block's Length word disagrees with its size,
  // the bytes are sent as they are.
  void TamperReply(uint32_t code, std::function<void(std::string& block)> tamper);
  // Mode 2 of Log answers 804 (the log lacks its count list).
  void SetLogWithoutCounts(bool without);

  // ---- the journal
  std::vector<FakeExchange> Journal();
  // Waits (at most timeoutMs) until the journal holds at least n exchanges.
  bool WaitForJournal(size_t n, int timeoutMs = 5000);

 private:
  struct Wait {
    int32_t waiterId;
    std::vector<int32_t> pending;
  };

  void Serve();
  void Send(TWIPC* conn, const std::string& block);
  std::string Dispatch(std::string block);
  void Handle(std::string& block);
  FakeDocument* Find(int32_t id);
  FakeDocument* FindByName(uint32_t kind, const std::string& name);
  FakeSlot* SlotOf(int32_t handle);
  FakeSlot* TakeSlot();
  void FreeSlot(FakeSlot* slot);
  uint32_t Gather(const FakeDocument& doc, std::string* records);
  uint32_t Store(FakeDocument& doc, const std::string& block, size_t offset);
  void ReleaseLocked(int32_t finishedId);
  bool ItemText(const FakeValue& value, std::string* text);

  std::mutex mu_;
  std::condition_variable changed_;
  TWIPC* pipe_ = nullptr;
  bool serving_ = false;
  bool shutDown_ = false;
  std::thread thread_;

  std::map<int32_t, FakeDocument> docs_;
  int32_t nextId_ = 0x2000;
  FakeSettings settings_;
  std::vector<std::string> due_;
  std::vector<std::string> started_;
  std::vector<Wait> waits_;
  std::array<FakeSlot, tw::csmgr::kSlotCount> slots_{};
  std::vector<FakeLogLine> log_;
  std::vector<FakeCounts> counts_;
  std::vector<FakeDone> done_;
  TWDatetime now_{};
  uint32_t startupStatus_ = 0;
  bool initialised_ = true;
  bool logWithoutCounts_ = false;
  std::map<uint32_t, uint32_t> failCodes_;
  std::map<uint32_t, std::function<void(std::string&)>> tamper_;
  std::vector<FakeExchange> journal_;
};

}  // namespace twtest

#endif  // TW_TESTS_OUTSIDE_FLOWCORE_FAKE_CTLSTORE_H_
