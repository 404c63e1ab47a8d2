// The plug-in loader: library names, loading by export name, identity and property-table
// checks, the registry of connector libraries with their link codes, the entry-point scope
// of each thread, entry counts and property names.
#include "plugin.h"

#include <array>
#include <atomic>
#include <cctype>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "activity.h"
#include "connect_impl.h"
#include "platform.h"
#include "stream_internal.h"

namespace tw::engine {
namespace {

// Engine names of the predefined (0x10001...) and control (0x30001...) tokens, in token
// order.
constexpr std::array<std::string_view, 15> kPredefinedNames = {
    "Server",    "Database",   "Userid",    "Password",  "Metadata",
    "Index",     "MapName",    "Writeback", "FieldList", "OrderList",
    "Condition", "StampField", "BaseStamp", "MaxStamp",  "TextFormat"};
constexpr std::array<std::string_view, 6> kControlNames = {"Library", "Link",     "Option",
                                                           "Name",    "LinkCode", "ConnectCode"};
constexpr uint32_t kGroupMask = 0x00FF0000u;
constexpr uint32_t kOwnMask = 0x0000FFFFu;

struct Registry {
  std::mutex mutex;
  std::vector<std::unique_ptr<Plugin>> connectors;  // loaded, in the order they became known
  std::vector<std::string> codeNames;  // library of link code (i + 1) << 16, for the process
  std::vector<std::unique_ptr<Plugin>> activities;
};

Registry& registry() {
  static Registry r;
  return r;
}

thread_local const Scope* tCurrentScope = nullptr;
thread_local size_t tLinkCursor = SIZE_MAX;

std::array<std::atomic<uint32_t>, CSMGR_LOG_COUNTS> gEntryCounts{};

// Lower case, without a ".twx" (or, for migrated documents, ".dll") suffix; a name that is
// empty or could leave the installation directory is refused.
bool NormaliseName(std::string_view in, std::string* out) {
  std::string name;
  name.reserve(in.size());
  for (char c : in) name.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  for (std::string_view suffix : {std::string_view(".twx"), std::string_view(".dll")}) {
    if (name.size() > suffix.size() && name.ends_with(suffix)) {
      name.resize(name.size() - suffix.size());
      break;
    }
  }
  if (name.empty() || name.find('/') != std::string::npos || name.find("..") != std::string::npos ||
      name.find('\0') != std::string::npos || name.find('\\') != std::string::npos)
    return false;
  *out = std::move(name);
  return true;
}

template <class Proc>
bool Resolve(void* library, const char* name, Proc* out) {
  void* p = TWLibraryLoadProc(library, name, 0);
  if (p == nullptr) return false;
  *out = reinterpret_cast<Proc>(p);
  return true;
}

bool RowTokenValid(uint32_t token, bool named, uint32_t kind) {
  const uint32_t group = token & kGroupMask;
  const uint32_t own = token & kOwnMask;
  if (kind == TWX_KIND_CONNECTOR) {
    // A connector's rows carry no link byte: a predefined token it serves or an own token.
    if ((token & TWTOKEN_LINK_MASK) != 0) return false;
    if (group == TWTOKEN_PREDEF) return own >= 1 && own <= kPredefinedNames.size();
    return group == 0 && own >= 1 && named;
  }
  if (group == TWTOKEN_PREDEF || group == TWTOKEN_CONTROL) return own != 0;
  return group == 0 && own != 0 && named;
}

// Checks the table up to its end row, reading no row beyond TWX_MAX_PROPERTY_ROWS and no
// name beyond TWX_MAX_PROPERTY_NAME + 1 bytes.
bool CheckTable(const TWXPropertyDef* table, uint32_t kind, size_t* rowCount) {
  if (table == nullptr) return false;
  for (size_t i = 0; i <= TWX_MAX_PROPERTY_ROWS; ++i) {
    const TWXPropertyDef& row = table[i];
    if (row.token == 0) {
      if (row.type != 0 || row.reserved != 0 || row.name != nullptr || row.nameLength != 0)
        return false;
      *rowCount = i;
      return true;
    }
    if (row.type < TWTYPE_INT || row.type > TWTYPE_MAX) return false;
    if (row.name != nullptr) {
      size_t length = ::strnlen(row.name, TWX_MAX_PROPERTY_NAME + 1);
      if (length > TWX_MAX_PROPERTY_NAME || length != row.nameLength) return false;
    } else if (row.nameLength != 0) {
      return false;
    }
    if (!RowTokenValid(row.token, row.name != nullptr && row.nameLength != 0, kind)) return false;
  }
  return false;
}

void Unload(Plugin& plugin) {
  if (plugin.library != nullptr) TWLibraryFree(plugin.library);
  plugin.library = nullptr;
}

// What loading tells apart between the kinds of plug-in: the identity kind asked for, and the
// statuses of a library that cannot be loaded or lacks an entry point, that is of another
// version, or that is not a valid plug-in of the kind.
struct KindRules {
  uint32_t kind;
  uint32_t loadFailed;
  uint32_t version;
  uint32_t invalid;
};
constexpr KindRules kConnectorRules{TWX_KIND_CONNECTOR, TWFAIL_LINK_LOAD, TWFAIL_LINK_VERSION,
                                    TWFAIL_LINK_LIBRARY};
constexpr KindRules kActivityRules{TWX_KIND_ACTIVITY, TWFAIL_ACTIVITY_LOAD, TWFAIL_ACTIVITY_VERSION,
                                   TWFAIL_ACTIVITY_LIBRARY};

// The entry points of the kind: a connector's seventeen, an activity's two.
bool ResolveEntries(Plugin& plugin, uint32_t kind) {
  void* lib = plugin.library;
  ConnectorEntries& e = plugin.entry;
  if (kind == TWX_KIND_ACTIVITY)
    return Resolve(lib, "TWXIdentify", &e.identify) && Resolve(lib, "TWXLaunch", &plugin.launch);
  return Resolve(lib, "TWXAction", &e.action) && Resolve(lib, "TWXCatalog", &e.catalog) &&
         Resolve(lib, "TWXConnect", &e.connect) && Resolve(lib, "TWXCreate", &e.create) &&
         Resolve(lib, "TWXDisconnect", &e.disconnect) && Resolve(lib, "TWXDrop", &e.drop) &&
         Resolve(lib, "TWXExecute", &e.execute) && Resolve(lib, "TWXFetch", &e.fetch) &&
         Resolve(lib, "TWXGetProperty", &e.getProperty) &&
         Resolve(lib, "TWXIdentify", &e.identify) && Resolve(lib, "TWXInitialize", &e.initialize) &&
         Resolve(lib, "TWXInsert", &e.insert) && Resolve(lib, "TWXRemove", &e.remove) &&
         Resolve(lib, "TWXSelect", &e.select) && Resolve(lib, "TWXSetProperty", &e.setProperty) &&
         Resolve(lib, "TWXTerminate", &e.terminate) && Resolve(lib, "TWXUpdate", &e.update);
}

// A connector states the size of the context block the engine allocates for it.
bool ContextSizeFits(const TWXIdentity& id) {
  return id.kind != TWX_KIND_CONNECTOR ||
         (id.contextSize != 0 && id.contextSize <= TWX_MAX_CONTEXT_SIZE);
}

// Loads and checks the library of plugin's name as a plug-in of the kind of rules; nothing
// stays loaded on failure.
[[nodiscard]] uint32_t Load(Plugin& plugin, const KindRules& rules) {
  plugin.library = TWLibraryLoad(plugin.name.c_str(), TWLIB_PLUGIN);
  if (plugin.library == nullptr) return rules.loadFailed;
  if (!ResolveEntries(plugin, rules.kind)) {
    Unload(plugin);
    return rules.loadFailed;
  }
  TWXIdentity id{};
  CountEntry(TWMSG_FUNCTION_IDENTIFY, 1);
  uint32_t status = plugin.entry.identify(&id);
  size_t rows = 0;
  if (status == 0 && TWX_VERSION_MAJOR_OF(id.version) != TWX_VERSION_MAJOR) {
    status = rules.version;
  } else if (status != 0 || id.kind != rules.kind || !ContextSizeFits(id) ||
             !CheckTable(id.properties, rules.kind, &rows)) {
    status = rules.invalid;
  }
  if (status != 0) {
    Unload(plugin);
    return status;
  }
  plugin.identity = id;
  plugin.rows = std::span<const TWXPropertyDef>(id.properties, rows);
  return 0;
}

}  // namespace

const TWXIdentity& IdentityOf(const Plugin& plugin) {
  return plugin.identity;
}

const std::string& NameOf(const Plugin& plugin) {
  return plugin.name;
}

const TWXPropertyDef* FindRow(const Plugin& plugin, uint32_t token) {
  for (const TWXPropertyDef& row : plugin.rows)
    if (row.token == token) return &row;
  return nullptr;
}

uint32_t LoadActivityPlugin(std::string_view name, const Plugin** out) {
  if (out == nullptr) return TWFAIL_NULL_RESULT;
  auto plugin = std::make_unique<Plugin>();
  if (!NormaliseName(name, &plugin->name)) return TWFAIL_ACTIVITY_LOAD;
  if (uint32_t status = Load(*plugin, kActivityRules)) return status;
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  r.activities.push_back(std::move(plugin));
  *out = r.activities.back().get();
  return 0;
}

void UnloadActivityPlugin(const Plugin* plugin) {
  if (plugin == nullptr) return;
  std::unique_ptr<Plugin> owned;
  {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    for (auto it = r.activities.begin(); it != r.activities.end(); ++it) {
      if (it->get() == plugin) {
        owned = std::move(*it);
        r.activities.erase(it);
        break;
      }
    }
  }
  if (owned) Unload(*owned);
}

uint32_t LaunchPlugin(const Plugin& plugin) {
  if (plugin.launch == nullptr) return TWFAIL_ACTIVITY_LOAD;
  EntryScope scope(plugin, {}, TWMSG_FUNCTION_LAUNCH);
  return plugin.launch();
}

uint32_t AcquireConnector(std::string_view library, Plugin** out) {
  std::string name;
  if (!NormaliseName(library, &name)) return LogWithText(TWFAIL_LINK_LOAD, library);
  Registry& r = registry();
  uint32_t status = 0;
  {
    std::lock_guard lock(r.mutex);
    for (auto& p : r.connectors) {
      if (p->name == name) {
        *out = p.get();
        return 0;
      }
    }
    auto plugin = std::make_unique<Plugin>();
    plugin->name = name;
    status = Load(*plugin, kConnectorRules);
    if (status == 0) {
      size_t index = 0;
      while (index < r.codeNames.size() && r.codeNames[index] != name) ++index;
      if (index == r.codeNames.size()) {
        if (index >= kOwnMask) {
          Unload(*plugin);
          status = TWFAIL_LINK_LOAD;
        } else {
          r.codeNames.push_back(name);
        }
      }
      if (status == 0) {
        plugin->linkCode = static_cast<uint32_t>(index + 1) << 16;
        r.connectors.push_back(std::move(plugin));
        *out = r.connectors.back().get();
        return 0;
      }
    }
  }
  // Logged without the registry held: the log may reach the control store.
  return LogWithText(status, name);
}

void UnloadConnectors() {
  std::vector<std::unique_ptr<Plugin>> loaded;
  {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    loaded.swap(r.connectors);
  }
  for (auto& p : loaded) Unload(*p);
}

uint32_t ListLinkLibrary(uint32_t list, uint32_t* linkCode, std::string* library) {
  if (list == TWLIST_FIRST)
    tLinkCursor = 0;
  else if (list != TWLIST_NEXT)
    return TWFAIL_INVALID_LIST;
  else if (tLinkCursor == SIZE_MAX)
    return TWFAIL_LIST_SETUP;
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  if (tLinkCursor >= r.connectors.size()) return TWFAIL_END_OF_DATA;
  const Plugin& p = *r.connectors[tLinkCursor];
  if (library != nullptr) *library = p.name;
  if (linkCode != nullptr) *linkCode = p.linkCode;
  ++tLinkCursor;
  return 0;
}

uint32_t LookupLinkLibrary(std::string_view library, uint32_t* linkCode) {
  Plugin* plugin = nullptr;
  if (uint32_t status = AcquireConnector(library, &plugin)) return status;
  if (linkCode != nullptr) *linkCode = plugin->linkCode;
  return 0;
}

EntryScope::EntryScope(const Plugin& plugin, std::string_view linkName, uint32_t entryRow,
                       uint32_t wordRow, bool countCall)
    : scope_{&plugin, linkName, entryRow, wordRow}, outer_(tCurrentScope) {
  if (countCall) CountEntry(entryRow, 1);
  tCurrentScope = &scope_;
}

EntryScope::~EntryScope() {
  tCurrentScope = outer_;
}

const Scope* CurrentScope() {
  return tCurrentScope;
}

void CountEntry(uint32_t entryRow, uint32_t amount) {
  if (entryRow <= kFirstEntryRow || entryRow >= kFirstEntryRow + CSMGR_LOG_COUNTS) return;
  gEntryCounts[entryRow - kFirstEntryRow].fetch_add(amount, std::memory_order_relaxed);
}

void EntryCounts(int32_t counts[CSMGR_LOG_COUNTS]) {
  for (size_t i = 1; i < CSMGR_LOG_COUNTS; ++i)
    counts[i] = static_cast<int32_t>(gEntryCounts[i].exchange(0, std::memory_order_relaxed));
}

std::string_view PredefinedName(uint32_t token) {
  if (token >= TWTOKEN_SERVER && token < TWTOKEN_SERVER + kPredefinedNames.size())
    return kPredefinedNames[token - TWTOKEN_SERVER];
  if (token >= TWTOKEN_LIBRARY && token < TWTOKEN_LIBRARY + kControlNames.size())
    return kControlNames[token - TWTOKEN_LIBRARY];
  return {};
}

std::string PropertyName(const Plugin* table, uint32_t token) {
  if (table != nullptr) {
    const TWXPropertyDef* row = FindRow(*table, token);
    if (row != nullptr && row->name != nullptr) return std::string(row->name, row->nameLength);
  }
  std::string_view base = PredefinedName(token & TWTOKEN_VALUE_MASK);
  if (base.empty()) return {};
  const uint32_t link = token >> 24;
  std::string name;
  if (link == 1)
    name = "Src";
  else if (link == 2)
    name = "Dest";
  else if (link != 0 && link != 0xFF)
    name = "Link" + std::to_string(link);
  name += base;
  return name;
}

uint32_t LogWithArgs(uint32_t status, uint32_t int1, std::string_view text) {
  TWStream view = flowcore::ViewOf(TWSTREAMFMT_NATIVE,
                                   reinterpret_cast<const uint8_t*>(text.data()), text.size());
  return TWActivityLogEx(status, int1, 0, 0, text.empty() ? nullptr : &view, nullptr, nullptr);
}

uint32_t LogWithText(uint32_t status, std::string_view text) {
  return LogWithArgs(status, 0, text);
}

uint32_t LogWithToken(uint32_t status, uint32_t token) {
  return TWActivityLogEx(status, token, 0, 0, nullptr, nullptr, nullptr);
}

uint32_t StreamText(const TWStream* stream, std::string* out) {
  if (stream == nullptr || stream->length == 0) {
    out->clear();
    return 0;
  }
  flowcore::StreamData text;
  uint32_t status = TWStreamDataConvert(text.get(), stream, TWCONVERTF_FORCE_TEXT,
                                        TWSTREAMFMT_NATIVE, nullptr, nullptr);
  if (status == 0) out->assign(text.view());
  return status;
}

std::string FieldText(const TWFieldImpl* field) {
  if (field == nullptr) return {};
  flowcore::StreamData text;
  int32_t isNull = 1;
  if (TWFieldGetStream(const_cast<TWFIELD>(field), 1, TWSTREAMFMT_NATIVE, text.get(), &isNull) !=
          0 ||
      isNull)
    return {};
  return std::string(text.view());
}

uint32_t SetStreamText(TWStream* stream, std::string_view text) {
  return TWStreamDataSet(stream, TWSTREAMFMT_NATIVE, text.data(),
                         static_cast<uint32_t>(text.size()));
}

}  // namespace tw::engine
