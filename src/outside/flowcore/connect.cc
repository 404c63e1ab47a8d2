// Connections: allocation through a connector plug-in (context, first and last bits, the
// link's property values), the registry of live connections, and the verbs that reach the
// connector's entry points behind the close gate, with zeroed counts and the engine's
// create, drop and truncate events.
#include <map>
#include <memory>
#include <mutex>

#include "activity.h"
#include "connect_impl.h"
#include "tw/guard.h"

namespace tw::engine {
namespace {

// Handles are numbers, never addresses: a stale or foreign handle finds nothing.
std::mutex gRegistryMutex;
std::map<uintptr_t, std::shared_ptr<Connection>> gConnections;
uintptr_t gLastHandle = 0;

TWCONNECT Register(std::shared_ptr<Connection> connection) {
  std::lock_guard lock(gRegistryMutex);
  uintptr_t handle = ++gLastHandle;
  gConnections.emplace(handle, std::move(connection));
  return reinterpret_cast<TWCONNECT>(handle);
}

std::shared_ptr<Connection> Unregister(TWCONNECT handle) {
  std::lock_guard lock(gRegistryMutex);
  auto it = gConnections.find(reinterpret_cast<uintptr_t>(handle));
  if (it == gConnections.end()) return nullptr;
  std::shared_ptr<Connection> connection = std::move(it->second);
  gConnections.erase(it);
  return connection;
}

uint32_t InitializeContext(Connection& c) {
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

uint32_t TerminateContext(Connection& c) {
  Plugin& plugin = *c.plugin;
  std::lock_guard life(plugin.lifecycle);
  const bool last = --plugin.live == 0;
  EntryScope scope(plugin, c.name, TWMSG_FUNCTION_TERMINATE);
  return plugin.entry.terminate(c.context(), last ? TWXTERMF_LAST_CONNECTION : 0);
}

// Disconnects when connected, then terminates; answers the termination's status.
uint32_t Close(Connection& c, uint32_t errorFlag) {
  c.freed = true;
  if (c.connected) {
    EntryScope scope(*c.plugin, c.name, TWMSG_FUNCTION_DISCONNECT);
    c.plugin->entry.disconnect(c.context(), errorFlag);
    c.connected = false;
  }
  return TerminateContext(c);
}

// Terminates an initialised context unless the allocation completes.
class PendingContext {
 public:
  explicit PendingContext(Connection& c) : c_(&c) {}
  ~PendingContext() {
    if (c_ != nullptr) TerminateContext(*c_);
  }
  void Keep() { c_ = nullptr; }

 private:
  Connection* c_;
};

// TWXSetProperty, in table order, of every row the link gives a value. TEXT_FORMAT is read
// only: connectors refuse to have it set.
uint32_t PushProperties(Connection& c, const LinkSource& source) {
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

uint32_t Allocate(TWCONNECT* connect, uint32_t token, const TWStream* name) {
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

  auto c = std::make_shared<Connection>();
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
  TWCONNECT handle = Register(c);
  pending.Keep();
  *connect = handle;
  return 0;
}

// The common path of the verbs that need an open connection: the handle, the close gate
// (logged once: a repeated status is not logged again), the connected state, the scope.
template <class Call>
uint32_t DataVerb(TWCONNECT handle, uint32_t entryRow, uint32_t wordRow, bool countCall,
                  Call&& call) {
  if (!SystemStarted()) return TWFAIL_TWXINIT;
  Held c(handle);
  if (!c) return TWFAIL_INVALID_CONNECT;
  if (uint32_t close = CloseStatus()) return TWActivityLog(close);
  if (!c->connected) return TWFAIL_NOT_CONNECTED;
  EntryScope scope(*c->plugin, c->name, entryRow, wordRow, countCall);
  return call(*c);
}

// A verb with a count: the caller's word (or one of ours) is 0 when the connector gets it.
// Record verbs count the records they moved instead of their calls.
template <class Call>
uint32_t CountedVerb(TWCONNECT handle, uint32_t entryRow, uint32_t* count, bool countsRecords,
                     Call&& call) {
  return DataVerb(handle, entryRow, 0, !countsRecords, [&](Connection& c) {
    uint32_t own = 0;
    uint32_t* word = count != nullptr ? count : &own;
    *word = 0;
    uint32_t status = call(c, word);
    if (countsRecords && *word != TWCOUNT_UNKNOWN) CountEntry(entryRow, *word);
    return status;
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
  TWStream s{};
  int32_t isNull = 1;
  std::string text;
  if (TWFieldGetStream(field.get(), 1, TWSTREAMFMT_NATIVE, &s, &isNull) == 0 && !isNull &&
      s.data != nullptr)
    text.assign(static_cast<const char*>(s.data), s.length);
  TWStreamDataFree(&s);
  return text;
}

// Logs a created, dropped or truncated object with its name (kind 0: no kind word).
void LogObjectEvent(Connection& c, uint32_t event, uint32_t objectType) {
  const uint32_t token = objectType == TWOBJECT_INDEX      ? TWTOKEN_INDEX
                         : objectType == TWOBJECT_DATABASE ? TWTOKEN_DATABASE
                                                           : TWTOKEN_METADATA;
  LogWithArgs(event, objectType, ConnectorText(c, token));
}

}  // namespace

Held::Held(TWCONNECT handle) {
  {
    std::lock_guard lock(gRegistryMutex);
    auto it = gConnections.find(reinterpret_cast<uintptr_t>(handle));
    if (it == gConnections.end()) return;
    connection_ = it->second;
  }
  lock_ = std::unique_lock(connection_->busy);
  // Freed by another thread between the look-up and the lock.
  if (connection_->freed) {
    lock_.unlock();
    connection_.reset();
  }
}

uint32_t NewValueField(uint32_t type, FieldPtr* out) {
  TWFIELD field = TWNULLHANDLE;
  if (uint32_t status = TWFieldAlloc(&field, type, 1)) return status;
  FieldPtr owned(field);
  if (type == TWTYPE_BINARY) {
    if (uint32_t status = TWFieldSetFormatStream(field, 0, 0, TWSTREAMFMT_TEXT_LIST)) return status;
  }
  *out = std::move(owned);
  return 0;
}

void FreeAllConnections(uint32_t errorFlag) {
  std::map<uintptr_t, std::shared_ptr<Connection>> all;
  {
    std::lock_guard lock(gRegistryMutex);
    all.swap(gConnections);
  }
  for (auto& [handle, c] : all) {
    std::lock_guard busy(c->busy);
    if (!c->freed) Close(*c, errorFlag);
  }
  ForgetLinkDescriptions();
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
    std::shared_ptr<Connection> c = Unregister(connect);
    if (c == nullptr) return TWFAIL_INVALID_CONNECT;
    std::lock_guard busy(c->busy);
    if (c->freed) return TWFAIL_INVALID_CONNECT;
    return Close(*c, ActivityStatus() != 0 ? 1 : 0);
  });
}

TW_API uint32_t TWConnectConnect(TWCONNECT connect) {
  return tw::guard([&]() -> uint32_t {
    if (!SystemStarted()) return TWFAIL_TWXINIT;
    Held c(connect);
    if (!c) return TWFAIL_INVALID_CONNECT;
    if (uint32_t close = CloseStatus()) return TWActivityLog(close);
    if (c->connected) return TWFAIL_CONNECTED;
    EntryScope scope(*c->plugin, c->name, TWMSG_FUNCTION_CONNECT);
    uint32_t status = c->plugin->entry.connect(c->context());
    if (status == 0) c->connected = true;
    return status;
  });
}

TW_API uint32_t TWConnectDisconnect(TWCONNECT connect) {
  return tw::guard([&]() -> uint32_t {
    if (!SystemStarted()) return TWFAIL_TWXINIT;
    Held c(connect);
    if (!c) return TWFAIL_INVALID_CONNECT;
    if (!c->connected) return 0;
    EntryScope scope(*c->plugin, c->name, TWMSG_FUNCTION_DISCONNECT);
    uint32_t status = c->plugin->entry.disconnect(c->context(), ActivityStatus() != 0 ? 1 : 0);
    c->connected = false;
    return status;
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

TW_API uint32_t TWConnectFetch(TWCONNECT connect, TWFIELDLIST dest, uint32_t recordIndex,
                               uint32_t recordCount, uint32_t* count) {
  return tw::guard([&] {
    return CountedVerb(connect, TWMSG_FUNCTION_FETCH, count, true, [&](Connection& c, uint32_t* n) {
      return c.plugin->entry.fetch(c.context(), dest, recordIndex, recordCount, n);
    });
  });
}

TW_API uint32_t TWConnectInsert(TWCONNECT connect, TWFIELDLIST list, uint32_t recordIndex,
                                uint32_t recordCount, uint32_t* count) {
  return tw::guard([&] {
    return CountedVerb(
        connect, TWMSG_FUNCTION_INSERT, count, true, [&](Connection& c, uint32_t* n) {
          return c.plugin->entry.insert(c.context(), list, recordIndex, recordCount, n);
        });
  });
}

TW_API uint32_t TWConnectUpdate(TWCONNECT connect, TWFIELDLIST list, uint32_t recordIndex,
                                uint32_t recordCount, uint32_t* count) {
  return tw::guard([&] {
    return CountedVerb(
        connect, TWMSG_FUNCTION_UPDATE, count, true, [&](Connection& c, uint32_t* n) {
          return c.plugin->entry.update(c.context(), list, recordIndex, recordCount, n);
        });
  });
}

TW_API uint32_t TWConnectRemove(TWCONNECT connect, TWFIELDLIST keys, uint32_t recordIndex,
                                uint32_t recordCount, uint32_t* count) {
  return tw::guard([&] {
    return CountedVerb(
        connect, TWMSG_FUNCTION_REMOVE, count, true, [&](Connection& c, uint32_t* n) {
          return c.plugin->entry.remove(c.context(), keys, recordIndex, recordCount, n);
        });
  });
}

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
  return tw::guard([&] {
    return DataVerb(connect, TWMSG_FUNCTION_CREATE, ObjectWordRow(objectType), true,
                    [&](Connection& c) {
                      uint32_t status = c.plugin->entry.create(c.context(), objectType, src);
                      if (status == 0) LogObjectEvent(c, TWEVENT_OBJECT_CREATED, objectType);
                      return status;
                    });
  });
}

TW_API uint32_t TWConnectDrop(TWCONNECT connect, uint32_t objectType) {
  return tw::guard([&] {
    return DataVerb(connect, TWMSG_FUNCTION_DROP, ObjectWordRow(objectType), true,
                    [&](Connection& c) {
                      uint32_t status = c.plugin->entry.drop(c.context(), objectType);
                      if (status == 0) LogObjectEvent(c, TWEVENT_OBJECT_DROPPED, objectType);
                      return status;
                    });
  });
}

}  // extern "C"
