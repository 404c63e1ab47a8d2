// What every plug-in module exports, written once: the identity record and TWXIdentify for
// activities and connectors, and for a connector the context block and the seventeen entry
// points, each a guarded call into the connector's Connection class.
//
// A connector is its Connection class, its property table (twx_props.h) with the traits of
// its identity, and a module source of one line:
//   TWX_CONNECTOR(flatrec::Connection, flatrec::kTraits)
// The engine's context block holds only a pointer to a Connection, made by TWXInitialize and
// deleted by TWXTerminate. Connection offers, each answering a status:
//   Initialize(connectCode, flags) or Initialize(flags)   Terminate(flags)
//   SetProperty(token, field)   GetProperty(token, field)   Connect()
//   Disconnect(errorFlag) or Disconnect()
// and any of Execute, Select, Catalog, Fetch, Insert, Update, Remove (their counts never
// null), Create, Drop and Action, with the arguments of the entry point after the context.
// An entry point it does not offer answers TWFAIL_UNAVAILABLE, after Unavailable(name) when
// Connection has that (e.g. to trace the call).
//
// An activity module: TWX_ACTIVITY(identity, launch), launch answering the run's status.
//
// Every entry point is noexcept and runs under tw::guard: std::bad_alloc becomes
// TWFAIL_MEMORY, any other exception TWFAIL_PROGRAM. Given a context without a connection
// (never initialised, or terminated), operations answer TWFAIL_INVALID_CONNECT, Disconnect
// and Terminate 0. The per-record entry points cost a pointer load and a call: nothing is
// looked up or allocated.
//
// A connector writing records through a client library's statements prepares each text once
// and binds a block of records as parameter arrays with twx_params.h.
//
// Thread rules: a context is used by one thread at a time.
#ifndef TW_LINK_TWX_PLUGIN_H_
#define TW_LINK_TWX_PLUGIN_H_

#include <cstdint>
#include <memory>
#include <string_view>
#include <type_traits>

#include "tw/guard.h"
#include "twx.h"

// The engine's context block of a connector built on this kit.
struct TWXContext {
  void* connection;
};

namespace tw::twx {

// ---- identity

// What a connector states in its identity record beyond its kind and context size.
//   properties   its definition rows (DefinitionRows() of its property table).
//   flags        the identity's flags word.
//   textFormat   the stream format in which it takes and gives text.
//   nullRecord   TWXIdentify's answer to a null record.
struct ConnectorTraits {
  const TWXPropertyDef* properties = nullptr;
  uint32_t flags = TWX_IDENTITY_FLAGS;
  uint32_t textFormat = TWSTREAMFMT_NATIVE;
  uint32_t nullRecord = TWFAIL_NULL_RESULT;
};

constexpr TWXIdentity ConnectorIdentity(const ConnectorTraits& traits) {
  return TWXIdentity{TWX_VERSION,
                     TWX_KIND_CONNECTOR,
                     traits.flags,
                     0u,
                     static_cast<uint32_t>(sizeof(TWXContext)),
                     traits.textFormat,
                     traits.properties};
}

// An activity's identity record: no context; rows is its property table (never null).
constexpr TWXIdentity ActivityIdentity(const TWXPropertyDef* rows,
                                       uint32_t textFormat = TWSTREAMFMT_NATIVE) {
  return TWXIdentity{TWX_VERSION, TWX_KIND_ACTIVITY, TWX_IDENTITY_FLAGS, 0u, 0u, textFormat, rows};
}

// TWXIdentify's body: copies identity into *out and answers 0; a null out answers nullRecord.
[[nodiscard]] inline uint32_t Identify(const TWXIdentity& identity, TWXIdentity* out,
                                       uint32_t nullRecord = TWFAIL_NULL_RESULT) noexcept {
  if (out == nullptr) return nullRecord;
  *out = identity;
  return TWSUCCESS;
}

// ---- connector entry points

// A call on the connection c, invocable only when the expression compiles for the
// connection's class: what lets a connector leave entry points out.
#define TWX_KIT_CALL_(...) [&](auto& c) -> decltype(__VA_ARGS__) { return __VA_ARGS__; }

template <class C>
class Connector {
 public:
  [[nodiscard]] static uint32_t Identify(const ConnectorTraits& traits, TWXIdentity* out) noexcept {
    return twx::Identify(ConnectorIdentity(traits), out, traits.nullRecord);
  }

  [[nodiscard]] static uint32_t Initialize(TWXContext* ctx, uint32_t connectCode,
                                           uint32_t flags) noexcept {
    return guard([&]() -> uint32_t {
      if (ctx == nullptr) return TWFAIL_NULL_BUFFER;
      // A context initialised twice gives up its first connection.
      delete Of(ctx);
      ctx->connection = nullptr;
      auto c = std::make_unique<C>();
      uint32_t status;
      if constexpr (requires { c->Initialize(connectCode, flags); })
        status = c->Initialize(connectCode, flags);
      else
        status = c->Initialize(flags);
      if (status != TWSUCCESS) return status;
      ctx->connection = c.release();
      return TWSUCCESS;
    });
  }

  [[nodiscard]] static uint32_t Terminate(TWXContext* ctx, uint32_t flags) noexcept {
    return guard([&]() -> uint32_t {
      std::unique_ptr<C> c(Of(ctx));
      if (c == nullptr) return TWSUCCESS;
      ctx->connection = nullptr;
      return c->Terminate(flags);
    });
  }

  [[nodiscard]] static uint32_t Disconnect(TWXContext* ctx, uint32_t errorFlag) noexcept {
    return guard([&]() -> uint32_t {
      C* c = Of(ctx);
      if (c == nullptr) return TWSUCCESS;
      if constexpr (requires { c->Disconnect(errorFlag); })
        return c->Disconnect(errorFlag);
      else
        return c->Disconnect();
    });
  }

  // The other entry points, each one call on the connection.
  [[nodiscard]] static uint32_t SetProperty(TWXContext* ctx, uint32_t token, TWFIELD src) noexcept {
    return Run(ctx, "TWXSetProperty", TWX_KIT_CALL_(c.SetProperty(token, src)));
  }
  [[nodiscard]] static uint32_t GetProperty(TWXContext* ctx, uint32_t token,
                                            TWFIELD dest) noexcept {
    return Run(ctx, "TWXGetProperty", TWX_KIT_CALL_(c.GetProperty(token, dest)));
  }
  [[nodiscard]] static uint32_t Connect(TWXContext* ctx) noexcept {
    return Run(ctx, "TWXConnect", TWX_KIT_CALL_(c.Connect()));
  }
  [[nodiscard]] static uint32_t Action(TWXContext* ctx, uint32_t code) noexcept {
    return Run(ctx, "TWXAction", TWX_KIT_CALL_(c.Action(code)));
  }
  [[nodiscard]] static uint32_t Create(TWXContext* ctx, uint32_t objectType,
                                       TWFIELDLIST src) noexcept {
    return Run(ctx, "TWXCreate", TWX_KIT_CALL_(c.Create(objectType, src)));
  }
  [[nodiscard]] static uint32_t Drop(TWXContext* ctx, uint32_t objectType) noexcept {
    return Run(ctx, "TWXDrop", TWX_KIT_CALL_(c.Drop(objectType)));
  }
  [[nodiscard]] static uint32_t Execute(TWXContext* ctx, const TWStream* statement,
                                        TWFIELDLIST dest, uint32_t* count) noexcept {
    uint32_t own = 0;
    return Run(ctx, "TWXExecute", TWX_KIT_CALL_(c.Execute(statement, dest, Counter(count, own))));
  }
  [[nodiscard]] static uint32_t Catalog(TWXContext* ctx, uint32_t objectType, TWFIELDLIST dest,
                                        uint32_t* count) noexcept {
    uint32_t own = 0;
    return Run(ctx, "TWXCatalog", TWX_KIT_CALL_(c.Catalog(objectType, dest, Counter(count, own))));
  }
  [[nodiscard]] static uint32_t Select(TWXContext* ctx, TWFIELDLIST keys, uint32_t index,
                                       TWFIELDLIST dest, uint32_t* count) noexcept {
    uint32_t own = 0;
    return Run(ctx, "TWXSelect", TWX_KIT_CALL_(c.Select(keys, index, dest, Counter(count, own))));
  }

  // The four that move records share one shape: a list, its first slot, a record count.
  enum class Move { kFetch, kInsert, kUpdate, kRemove };
  template <Move kMove>
  [[nodiscard]] static uint32_t Records(TWXContext* ctx, TWFIELDLIST list, uint32_t index,
                                        uint32_t records, uint32_t* count) noexcept {
    uint32_t own = 0;
    uint32_t* n = Counter(count, own);
    if constexpr (kMove == Move::kFetch)
      return Run(ctx, "TWXFetch", TWX_KIT_CALL_(c.Fetch(list, index, records, n)));
    else if constexpr (kMove == Move::kInsert)
      return Run(ctx, "TWXInsert", TWX_KIT_CALL_(c.Insert(list, index, records, n)));
    else if constexpr (kMove == Move::kUpdate)
      return Run(ctx, "TWXUpdate", TWX_KIT_CALL_(c.Update(list, index, records, n)));
    else
      return Run(ctx, "TWXRemove", TWX_KIT_CALL_(c.Remove(list, index, records, n)));
  }

 private:
  static C* Of(TWXContext* ctx) noexcept {
    return ctx != nullptr ? static_cast<C*>(ctx->connection) : nullptr;
  }

  // The engine always passes the count; a caller that does not still gets a place to write.
  static uint32_t* Counter(uint32_t* count, uint32_t& own) noexcept {
    return count != nullptr ? count : &own;
  }

  // Runs call on the context's connection when C offers it (call is invocable on a C).
  template <class F>
  [[nodiscard]] static uint32_t Run(TWXContext* ctx, std::string_view entry, F&& call) noexcept {
    return guard([&]() -> uint32_t {
      C* c = Of(ctx);
      if constexpr (std::is_invocable_v<F&, C&>) {
        return c != nullptr ? call(*c) : TWFAIL_INVALID_CONNECT;
      } else {
        if constexpr (requires { c->Unavailable(entry); })
          if (c != nullptr) return c->Unavailable(entry);
        return TWFAIL_UNAVAILABLE;
      }
    });
  }
};

}  // namespace tw::twx

// One exported entry point: name(params) answering TwxKit::member(args).
#define TWX_KIT_EXPORT_(name, member, params, args) \
  uint32_t name params noexcept {                   \
    return TwxKit::member args;                     \
  }

// One of the four entry points that move records: the kit's Records<kMove>.
#define TWX_KIT_RECORDS_(name, kMove)                                                    \
  TWX_KIT_EXPORT_(name, Records<TwxMove::kMove>,                                         \
                  (TWXContext * x, TWFIELDLIST l, uint32_t i, uint32_t r, uint32_t * n), \
                  (x, l, i, r, n))

// The exports of a connector module: TWOrdinalNames and the seventeen entry points over
// Connection; the rest of the arguments initialise its tw::twx::ConnectorTraits.
#define TWX_CONNECTOR(Connection, ...)                                                             \
  namespace {                                                                                      \
  using TwxKit = ::tw::twx::Connector<Connection>;                                                 \
  using TwxMove = TwxKit::Move;                                                                    \
  }                                                                                                \
  extern "C" {                                                                                     \
  const char* const TWOrdinalNames[] = TWX_CONNECTOR_ORDINAL_NAMES;                                \
  TWX_KIT_EXPORT_(TWXIdentify, Identify, (TWXIdentity * r), (__VA_ARGS__, r))                      \
  TWX_KIT_EXPORT_(TWXInitialize, Initialize, (TWXContext * x, uint32_t c, uint32_t f), (x, c, f))  \
  TWX_KIT_EXPORT_(TWXTerminate, Terminate, (TWXContext * x, uint32_t f), (x, f))                   \
  TWX_KIT_EXPORT_(TWXSetProperty, SetProperty, (TWXContext * x, uint32_t t, TWFIELD f), (x, t, f)) \
  TWX_KIT_EXPORT_(TWXGetProperty, GetProperty, (TWXContext * x, uint32_t t, TWFIELD f), (x, t, f)) \
  TWX_KIT_EXPORT_(TWXConnect, Connect, (TWXContext * x), (x))                                      \
  TWX_KIT_EXPORT_(TWXDisconnect, Disconnect, (TWXContext * x, uint32_t e), (x, e))                 \
  TWX_KIT_EXPORT_(TWXAction, Action, (TWXContext * x, uint32_t a), (x, a))                         \
  TWX_KIT_EXPORT_(TWXCreate, Create, (TWXContext * x, uint32_t o, TWFIELDLIST s), (x, o, s))       \
  TWX_KIT_EXPORT_(TWXDrop, Drop, (TWXContext * x, uint32_t o), (x, o))                             \
  TWX_KIT_EXPORT_(TWXExecute, Execute,                                                             \
                  (TWXContext * x, const TWStream* s, TWFIELDLIST d, uint32_t* n), (x, s, d, n))   \
  TWX_KIT_EXPORT_(TWXCatalog, Catalog, (TWXContext * x, uint32_t o, TWFIELDLIST d, uint32_t* n),   \
                  (x, o, d, n))                                                                    \
  TWX_KIT_EXPORT_(TWXSelect, Select,                                                               \
                  (TWXContext * x, TWFIELDLIST k, uint32_t i, TWFIELDLIST d, uint32_t* n),         \
                  (x, k, i, d, n))                                                                 \
  TWX_KIT_RECORDS_(TWXFetch, kFetch)                                                               \
  TWX_KIT_RECORDS_(TWXInsert, kInsert)                                                             \
  TWX_KIT_RECORDS_(TWXUpdate, kUpdate)                                                             \
  TWX_KIT_RECORDS_(TWXRemove, kRemove)                                                             \
  }

// The exports of an activity module: TWOrdinalNames, TWXIdentify copying identity (a
// TWXIdentity) and TWXLaunch running launch() under the guard.
#define TWX_ACTIVITY(identity, launch)                             \
  extern "C" {                                                     \
  const char* const TWOrdinalNames[] = TWX_ACTIVITY_ORDINAL_NAMES; \
  [[nodiscard]] uint32_t TWXIdentify(TWXIdentity* r) noexcept {    \
    return ::tw::twx::Identify(identity, r);                       \
  }                                                                \
  [[nodiscard]] uint32_t TWXLaunch(void) noexcept {                \
    return ::tw::guard([] { return launch(); });                   \
  }                                                                \
  }

#endif  // TW_LINK_TWX_PLUGIN_H_
