// Connections: allocation through a connector plug-in (context, first and last bits, the
// link's property values), the registry of live connections, and the verbs that reach the
// connector's entry points behind the close gate, with zeroed counts and the engine's
// create, drop and truncate events.
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "activity.h"
#include "connect_impl.h"
#include "tw/guard.h"

namespace tw::engine {
namespace {


// Handles are numbers, never addresses: a stale or foreign handle finds nothing. A handle
// names its slot in its low bits and the slot's generation above them, so that the verbs,
// called once per record block, reach their connection without a look-up or a process-wide
// lock. Only making a slot and giving one back take the registry's lock; slots are made in
// chunks that stay until the process ends, so that a slot can be read without it.
constexpr unsigned kIndexBits = 20;
constexpr uintptr_t kIndexMask = (uintptr_t{1} << kIndexBits) - 1;
constexpr size_t kChunkSlots = 256;
constexpr size_t kMaxSlots = size_t{1} << kIndexBits;
constexpr size_t kMaxChunks = kMaxSlots / kChunkSlots;

struct Slot {
  std::mutex busy;                         // held by the call that uses the connection
  std::atomic<uintptr_t> handle{0};        // the live connection's handle; 0 when free
  uintptr_t generation = 0;                // under busy
  std::unique_ptr<Connection> connection;  // under busy
};

std::mutex gRegistryMutex;
std::atomic<Slot*> gChunks[kMaxChunks];
size_t gSlotsMade = 0;           // under gRegistryMutex
std::vector<size_t> gFreeSlots;  // under gRegistryMutex

// The slot a handle value names; null when its chunk was never made.
Slot* SlotOf(uintptr_t value) {
  const size_t index = value & kIndexMask;
  Slot* chunk = gChunks[index / kChunkSlots].load(std::memory_order_acquire);
  return chunk != nullptr ? &chunk[index % kChunkSlots] : nullptr;
}

// A free slot's index, making a chunk when none is free; false when every slot is taken.
bool TakeSlot(size_t* index) {
  std::lock_guard lock(gRegistryMutex);
  if (!gFreeSlots.empty()) {
    *index = gFreeSlots.back();
    gFreeSlots.pop_back();
    return true;
  }
  if (gSlotsMade == kMaxSlots) return false;
  std::atomic<Slot*>& chunk = gChunks[gSlotsMade / kChunkSlots];
  if (chunk.load(std::memory_order_relaxed) == nullptr)
    chunk.store(new Slot[kChunkSlots], std::memory_order_release);
  *index = gSlotsMade++;
  return true;
}

void GiveBack(const std::vector<size_t>& indexes) {
  std::lock_guard lock(gRegistryMutex);
  gFreeSlots.insert(gFreeSlots.end(), indexes.begin(), indexes.end());
}

[[nodiscard]] uint32_t InitializeContext(Connection& c) {
  Plugin& plugin = *c.plugin;
  std::lock_guard life(plugin.lifecycle);
  const bool first = plugin.live == 0;
  plugin.serial = plugin.serial % 0xFFFFu + 1;
  c.connectCode = plugin.linkCode | plugin.serial;
  EntryScope scope(plugin, c.name, TWMSG_FUNCTION_INITIALIZE);
  uint32_t status =
      plugin.entry.initialize(c.context(), c.connectCode, first ? TWXINITF_FIRST_CONNECTION : 0);
  if (status == 0) ++plugin.live;
  return status;
}

[[nodiscard]] uint32_t TerminateContext(Connection& c) {
  Plugin& plugin = *c.plugin;
  std::lock_guard life(plugin.lifecycle);
  const bool last = --plugin.live == 0;
  EntryScope scope(plugin, c.name, TWMSG_FUNCTION_TERMINATE);
  return plugin.entry.terminate(c.context(), last ? TWXTERMF_LAST_CONNECTION : 0);
}

// Disconnects when connected, then terminates; answers the disconnect's failure (a final
// commit that failed), else the termination's status.
[[nodiscard]] uint32_t Close(Connection& c, uint32_t errorFlag) {
  uint32_t disconnected = 0;
  if (c.connected) {
    EntryScope scope(*c.plugin, c.name, TWMSG_FUNCTION_DISCONNECT);
    disconnected = c.plugin->entry.disconnect(c.context(), errorFlag);
    c.connected = false;
  }
  const uint32_t terminated = TerminateContext(c);
  return disconnected != 0 ? disconnected : terminated;
}

// Terminates an initialised context unless the allocation completes.
class PendingContext {
 public:
  explicit PendingContext(Connection& c) : c_(&c) {}
  // The allocation's own failure is its answer; the termination's is not reported.
  ~PendingContext() {
    if (c_ != nullptr) (void)TerminateContext(*c_);
  }
  void Keep() { c_ = nullptr; }

 private:
  Connection* c_;
};

// Places connection in a free slot; TWFAIL_MEMORY when every handle is taken.
// connection stays the caller's on failure.
[[nodiscard]] uint32_t Register(std::unique_ptr<Connection>& connection, TWCONNECT* handle) {
  size_t index = 0;
  if (!TakeSlot(&index)) return TWFAIL_MEMORY;
  Slot& slot = *SlotOf(index);
  std::lock_guard busy(slot.busy);
  const uintptr_t value = (++slot.generation << kIndexBits) | index;
  slot.connection = std::move(connection);
  slot.handle.store(value, std::memory_order_release);
  *handle = reinterpret_cast<TWCONNECT>(value);
  return 0;
}

// Takes the live connection out of slot (busy held) and closes it; answers the termination's
// status. The caller gives the slot back.
[[nodiscard]] uint32_t Retire(Slot& slot, uint32_t errorFlag) {
  slot.handle.store(0, std::memory_order_release);
  std::unique_ptr<Connection> c = std::move(slot.connection);
  return Close(*c, errorFlag);
}

// TWXSetProperty, in table order, of every row the link gives a value. TEXT_FORMAT is read
// only: connectors refuse to have it set.
[[nodiscard]] uint32_t PushProperties(Connection& c, const LinkSource& source) {
  const Plugin& plugin = *c.plugin;
  for (const TWXPropertyDef& row : plugin.rows) {
    if (row.token == TWTOKEN_TEXT_FORMAT) continue;
    const TWFieldImpl* value = SourceValue(source, row.token);
    if (value == nullptr) continue;
    FieldPtr field;
    uint32_t status = NewValueField(row.type, &field);
    if (status == 0) status = TWFieldConvert(field.get(), 1, const_cast<TWFIELD>(value), 1, 1);
    if (status != 0) {
      EntryScope scope(plugin, c.name, TWMSG_FUNCTION_SET_PROPERTY, 0, false);
      return LogWithToken(TWFAIL_PROPERTY_VALUE, row.token);
    }
    EntryScope scope(plugin, c.name, TWMSG_FUNCTION_SET_PROPERTY);
    if (uint32_t st = plugin.entry.setProperty(c.context(), row.token, field.get())) return st;
  }
  return 0;
}

[[nodiscard]] uint32_t Allocate(TWCONNECT* connect, uint32_t token, const TWStream* name) {
  if (connect == nullptr) return TWFAIL_NULL_RESULT;
  *connect = TWNULLHANDLE;
  if (!SystemStarted()) return TWFAIL_TWXINIT;
  const uint32_t linkByte = token >> 24;
  LinkSource source;
  std::string text;
  uint32_t status = 0;
  if (linkByte == 0 || linkByte == 0xFF) {
    if ((status = StreamText(name, &text)) != 0) return status;
    status = linkByte == 0 ? ResolveNamedLink(text, &source) : ResolveConnector(text, &source);
  } else if (!HasActivity()) {
    return TWFAIL_ACTIVITY_NOT_INIT;
  } else {
    status = ResolveActivityLink(linkByte, &source);
  }
  if (status != 0) return status;
  Plugin* plugin = nullptr;
  if ((status = AcquireConnector(source.library, &plugin)) != 0) return status;

  auto c = std::make_unique<Connection>();
  c->plugin = plugin;
  c->name = source.name;
  c->library = plugin->name;
  c->linkId = source.linkId;
  c->optionId = source.optionId;
  c->block.reset(std::calloc(1, plugin->identity.contextSize));
  if (c->block == nullptr) return TWFAIL_MEMORY;
  if ((status = InitializeContext(*c)) != 0) return status;
  PendingContext pending(*c);
  if ((status = PushProperties(*c, source)) != 0) return status;
  TWCONNECT handle = TWNULLHANDLE;
  if ((status = Register(c, &handle)) != 0) return status;
  pending.Keep();
  *connect = handle;
  return 0;
}

// The common path of the verbs that need an open connection: the handle, the close gate
// (logged once: a repeated status is not logged again), the connected state, the scope.
template <class Call>
[[nodiscard]] uint32_t DataVerb(TWCONNECT handle, uint32_t entryRow, uint32_t wordRow,
                                bool countCall, Call&& call) {
  return WithConnection(handle, [&](Connection& c) -> uint32_t {
    if (uint32_t close = CloseStatus()) return TWActivityLog(close);
    if (!c.connected) return TWFAIL_NOT_CONNECTED;
    EntryScope scope(*c.plugin, c.name, entryRow, wordRow, countCall);
    return call(c);
  });
}

// A verb with a count: the caller's word (or one of ours) is 0 when the connector gets it.
// Record verbs count the records they moved instead of their calls.
template <class Call>
[[nodiscard]] uint32_t CountedVerb(TWCONNECT handle, uint32_t entryRow, uint32_t* count,
                                   bool countsRecords, Call&& call) {
  return DataVerb(handle, entryRow, 0, !countsRecords, [&](Connection& c) {
    uint32_t own = 0;
    uint32_t* word = count != nullptr ? count : &own;
    *word = 0;
    uint32_t status = call(c, word);
    if (countsRecords && *word != TWCOUNT_UNKNOWN) CountEntry(entryRow, *word);
    return status;
  });
}

// The record verbs: Fetch, Insert, Update and Remove take the same arguments to their entry
// point and count the records moved.
template <TWXFetchProc ConnectorEntries::*entry, uint32_t row>
[[nodiscard]] uint32_t RecordVerb(TWCONNECT connect, TWFIELDLIST list, uint32_t recordIndex,
                                  uint32_t recordCount, uint32_t* count) {
  return tw::guard([&] {
    return CountedVerb(connect, row, count, true, [&](Connection& c, uint32_t* n) {
      return (c.plugin->entry.*entry)(c.context(), list, recordIndex, recordCount, n);
    });
  });
}

uint32_t ObjectWordRow(uint32_t objectType) {
  return objectType >= TWOBJECT_SERVER && objectType <= TWOBJECT_FIELD
             ? TWMSG_OBJECT_SERVER + (objectType - TWOBJECT_SERVER)
             : 0;
}

// The connector's text value of token when its table serves it; empty otherwise (asking
// for a token it lacks would log a failure).
std::string ConnectorText(Connection& c, uint32_t token) {
  if (FindRow(*c.plugin, token) == nullptr) return {};
  FieldPtr field;
  if (NewValueField(TWTYPE_TEXT, &field) != 0) return {};
  {
    EntryScope scope(*c.plugin, c.name, TWMSG_FUNCTION_GET_PROPERTY);
    if (c.plugin->entry.getProperty(c.context(), token, field.get()) != 0) return {};
  }
  return FieldText(field.get());
}

// Logs a created, dropped or truncated object with its name (kind 0: no kind word).
void LogObjectEvent(Connection& c, uint32_t event, uint32_t objectType) {
  const uint32_t token = objectType == TWOBJECT_INDEX      ? TWTOKEN_INDEX
                         : objectType == TWOBJECT_DATABASE ? TWTOKEN_DATABASE
                                                           : TWTOKEN_METADATA;
  LogWithArgs(event, objectType, ConnectorText(c, token));
}

// Create and Drop: the object kind's word in the scope, and the event logged on success.
template <class Call>
[[nodiscard]] uint32_t ObjectVerb(TWCONNECT connect, uint32_t entryRow, uint32_t objectType,
                                  uint32_t event, Call&& call) {
  return tw::guard([&] {
    return DataVerb(connect, entryRow, ObjectWordRow(objectType), true, [&](Connection& c) {
      uint32_t status = call(c);
      if (status == 0) LogObjectEvent(c, event, objectType);
      return status;
    });
  });
}

}  // namespace

Held::Held(TWCONNECT handle) {
  const uintptr_t value = reinterpret_cast<uintptr_t>(handle);
  Slot* slot = value != 0 ? SlotOf(value) : nullptr;
  if (slot == nullptr || slot->handle.load(std::memory_order_acquire) != value) return;
  lock_ = std::unique_lock(slot->busy);
  // Freed, and the slot perhaps taken again, by another thread between the check and the lock.
  if (slot->handle.load(std::memory_order_relaxed) != value) {
    lock_.unlock();
    return;
  }
  connection_ = slot->connection.get();
}

uint32_t NewValueField(uint32_t type, FieldPtr* out) {
  FieldPtr field;
  if (uint32_t status = TWFieldAlloc(flowcore::Out(field), type, 1)) return status;
  if (type == TWTYPE_BINARY) {
    if (uint32_t status = TWFieldSetFormatStream(field.get(), 0, 0, TWSTREAMFMT_TEXT_LIST))
      return status;
  }
  *out = std::move(field);
  return 0;
}

uint32_t FreeAllConnections(uint32_t errorFlag) {
  uint32_t first = 0;
  std::vector<size_t> freed;
  for (size_t chunk = 0; chunk < kMaxChunks; ++chunk) {
    Slot* slots = gChunks[chunk].load(std::memory_order_acquire);
    if (slots == nullptr) break;
    for (size_t i = 0; i < kChunkSlots; ++i) {
      std::lock_guard busy(slots[i].busy);
      if (slots[i].handle.load(std::memory_order_relaxed) == 0) continue;
      const uint32_t status = Retire(slots[i], errorFlag);
      if (first == 0) first = status;
      freed.push_back(chunk * kChunkSlots + i);
    }
  }
  GiveBack(freed);
  ForgetLinkDescriptions();
  return first;
}

}  // namespace tw::engine

using namespace tw::engine;

extern "C" {

TW_API uint32_t TWConnectAlloc(TWCONNECT* connect, uint32_t token, const TWStream* name) {
  return tw::guard([&] { return Allocate(connect, token, name); });
}

TW_API uint32_t TWConnectFree(TWCONNECT connect) {
  return tw::guard([&]() -> uint32_t {
    if (connect == TWNULLHANDLE) return 0;
    if (!SystemStarted()) return TWFAIL_TWXINIT;
    const uintptr_t value = reinterpret_cast<uintptr_t>(connect);
    Slot* slot = SlotOf(value);
    if (slot == nullptr) return TWFAIL_INVALID_CONNECT;
    uint32_t status = 0;
    {
      std::lock_guard busy(slot->busy);
      if (slot->handle.load(std::memory_order_relaxed) != value) return TWFAIL_INVALID_CONNECT;
      status = Retire(*slot, ActivityStatus() != 0 ? 1 : 0);
    }
    GiveBack({value & kIndexMask});
    return status;
  });
}

TW_API uint32_t TWConnectConnect(TWCONNECT connect) {
  return tw::guard([&] {
    return WithConnection(connect, [](Connection& c) -> uint32_t {
      if (uint32_t close = CloseStatus()) return TWActivityLog(close);
      if (c.connected) return TWFAIL_CONNECTED;
      EntryScope scope(*c.plugin, c.name, TWMSG_FUNCTION_CONNECT);
      uint32_t status = c.plugin->entry.connect(c.context());
      if (status == 0) c.connected = true;
      return status;
    });
  });
}

TW_API uint32_t TWConnectDisconnect(TWCONNECT connect) {
  return tw::guard([&] {
    return WithConnection(connect, [](Connection& c) -> uint32_t {
      if (!c.connected) return 0;
      EntryScope scope(*c.plugin, c.name, TWMSG_FUNCTION_DISCONNECT);
      uint32_t status = c.plugin->entry.disconnect(c.context(), ActivityStatus() != 0 ? 1 : 0);
      c.connected = false;
      return status;
    });
  });
}

TW_API uint32_t TWConnectSelect(TWCONNECT connect, TWFIELDLIST keys, uint32_t recordIndex,
                                TWFIELDLIST dest, uint32_t* count) {
  return tw::guard([&] {
    return CountedVerb(connect, TWMSG_FUNCTION_SELECT, count, false,
                       [&](Connection& c, uint32_t* n) {
                         return c.plugin->entry.select(c.context(), keys, recordIndex, dest, n);
                       });
  });
}

TW_API uint32_t TWConnectExecute(TWCONNECT connect, const TWStream* statement, TWFIELDLIST dest,
                                 uint32_t* count) {
  return tw::guard([&] {
    return CountedVerb(connect, TWMSG_FUNCTION_EXECUTE, count, false,
                       [&](Connection& c, uint32_t* n) {
                         TWStream empty{0, 0, TWSTREAMFMT_NATIVE, 0, nullptr};
                         return c.plugin->entry.execute(
                             c.context(), statement != nullptr ? statement : &empty, dest, n);
                       });
  });
}

// TWConnectFetch, TWConnectInsert, TWConnectUpdate, TWConnectRemove: one row a verb, its
// connector entry point and its catalogue row.
#define TW_RECORD_VERB(Name, entry, row)                                                      \
  TW_API uint32_t TWConnect##Name(TWCONNECT connect, TWFIELDLIST list, uint32_t recordIndex,  \
                                  uint32_t recordCount, uint32_t* count) {                    \
    return RecordVerb<&ConnectorEntries::entry, row>(connect, list, recordIndex, recordCount, \
                                                     count);                                  \
  }
TW_RECORD_VERB(Fetch, fetch, TWMSG_FUNCTION_FETCH)
TW_RECORD_VERB(Insert, insert, TWMSG_FUNCTION_INSERT)
TW_RECORD_VERB(Update, update, TWMSG_FUNCTION_UPDATE)
TW_RECORD_VERB(Remove, remove, TWMSG_FUNCTION_REMOVE)
#undef TW_RECORD_VERB

TW_API uint32_t TWConnectCatalog(TWCONNECT connect, uint32_t objectType, TWFIELDLIST dest,
                                 uint32_t* count) {
  return tw::guard([&] {
    return CountedVerb(connect, TWMSG_FUNCTION_CATALOG, count, false,
                       [&](Connection& c, uint32_t* n) {
                         return c.plugin->entry.catalog(c.context(), objectType, dest, n);
                       });
  });
}

TW_API uint32_t TWConnectAction(TWCONNECT connect, uint32_t actionType) {
  return tw::guard([&] {
    const uint32_t word = actionType >= TWACTION_RESET && actionType <= TWACTION_ROLLBACK
                              ? TWMSG_ACTION_RESET + (actionType - TWACTION_RESET)
                              : 0;
    return DataVerb(connect, TWMSG_FUNCTION_ACTION, word, true, [&](Connection& c) {
      uint32_t status = c.plugin->entry.action(c.context(), actionType);
      if (status == 0 && actionType == TWACTION_TRUNCATE)
        LogObjectEvent(c, TWEVENT_METADATA_TRUNCATED, 0);
      return status;
    });
  });
}

TW_API uint32_t TWConnectCreate(TWCONNECT connect, uint32_t objectType, TWFIELDLIST src) {
  return ObjectVerb(connect, TWMSG_FUNCTION_CREATE, objectType, TWEVENT_OBJECT_CREATED, [&](Connection& c) {
    return c.plugin->entry.create(c.context(), objectType, src);
  });
}

TW_API uint32_t TWConnectDrop(TWCONNECT connect, uint32_t objectType) {
  return ObjectVerb(connect, TWMSG_FUNCTION_DROP, objectType, TWEVENT_OBJECT_DROPPED,
                    [&](Connection& c) { return c.plugin->entry.drop(c.context(), objectType); });
}

}  // extern "C"
