// The exported entry points of the ODBC connector sqlcli.twx: the identity record and the
// seventeen TWX calls, each a guarded call into the connection held by the context.
#include <memory>

#include "connection.h"
#include "tw/guard.h"
#include "twx.h"

namespace {

sqlcli::Connection* Of(TWXContext* ctx) {
  return ctx != nullptr ? ctx->connection : nullptr;
}

// Runs call on the context's connection; a context never initialised has none.
template <class F>
uint32_t OnConnection(TWXContext* ctx, F&& call) noexcept {
  return tw::guard([&]() -> uint32_t {
    sqlcli::Connection* c = Of(ctx);
    return c != nullptr ? call(*c) : TWFAIL_INVALID_CONNECT;
  });
}

// The engine always passes the count; a caller that does not still gets a place to write.
uint32_t* CountOf(uint32_t* count, uint32_t& own) {
  return count != nullptr ? count : &own;
}

}  // namespace

extern "C" {

const char* const TWOrdinalNames[] = TWX_CONNECTOR_ORDINAL_NAMES;

uint32_t TWXIdentify(TWXIdentity* identity) {
  if (identity == nullptr) return TWFAIL_MEMORY;
  *identity = TWXIdentity{TWX_VERSION,
                          TWX_KIND_CONNECTOR,
                          TWX_IDENTITY_FLAGS,
                          0u,
                          static_cast<uint32_t>(sizeof(TWXContext)),
                          TWSTREAMFMT_NATIVE,
                          sqlcli::PropertyDefinitions()};
  return TWSUCCESS;
}

uint32_t TWXInitialize(TWXContext* ctx, uint32_t /*connectCode*/, uint32_t flags) {
  return tw::guard([&]() -> uint32_t {
    if (ctx == nullptr) return TWFAIL_NULL_BUFFER;
    // A context initialised twice gives up the first connection.
    delete ctx->connection;
    ctx->connection = nullptr;
    auto c = std::make_unique<sqlcli::Connection>();
    if (uint32_t status = c->Initialize(flags)) return status;
    ctx->connection = c.release();
    return TWSUCCESS;
  });
}

uint32_t TWXTerminate(TWXContext* ctx, uint32_t flags) {
  return tw::guard([&]() -> uint32_t {
    sqlcli::Connection* c = Of(ctx);
    if (c == nullptr) return TWSUCCESS;
    const uint32_t status = c->Terminate(flags);
    delete c;
    ctx->connection = nullptr;
    return status;
  });
}

uint32_t TWXSetProperty(TWXContext* ctx, uint32_t token, TWFIELD src) {
  return OnConnection(ctx, [&](sqlcli::Connection& c) { return c.SetProperty(token, src); });
}

uint32_t TWXGetProperty(TWXContext* ctx, uint32_t token, TWFIELD dest) {
  return OnConnection(ctx, [&](sqlcli::Connection& c) { return c.GetProperty(token, dest); });
}

uint32_t TWXConnect(TWXContext* ctx) {
  return OnConnection(ctx, [](sqlcli::Connection& c) { return c.Connect(); });
}

uint32_t TWXDisconnect(TWXContext* ctx, uint32_t errorFlag) {
  return tw::guard([&]() -> uint32_t {
    sqlcli::Connection* c = Of(ctx);
    return c != nullptr ? c->Disconnect(errorFlag) : TWSUCCESS;
  });
}

uint32_t TWXAction(TWXContext* ctx, uint32_t code) {
  return OnConnection(ctx, [&](sqlcli::Connection& c) { return c.Action(code); });
}

uint32_t TWXExecute(TWXContext* ctx, const TWStream* statement, TWFIELDLIST dest, uint32_t* count) {
  return OnConnection(ctx, [&](sqlcli::Connection& c) {
    uint32_t own = 0;
    return c.Execute(statement, dest, CountOf(count, own));
  });
}

uint32_t TWXSelect(TWXContext* ctx, TWFIELDLIST keys, uint32_t index, TWFIELDLIST dest,
                   uint32_t* count) {
  return OnConnection(ctx, [&](sqlcli::Connection& c) {
    uint32_t own = 0;
    return c.Select(keys, index, dest, CountOf(count, own));
  });
}

uint32_t TWXFetch(TWXContext* ctx, TWFIELDLIST dest, uint32_t index, uint32_t records,
                  uint32_t* count) {
  return OnConnection(ctx, [&](sqlcli::Connection& c) {
    uint32_t own = 0;
    return c.Fetch(dest, index, records, CountOf(count, own));
  });
}

uint32_t TWXInsert(TWXContext* ctx, TWFIELDLIST src, uint32_t index, uint32_t records,
                   uint32_t* count) {
  return OnConnection(ctx, [&](sqlcli::Connection& c) {
    uint32_t own = 0;
    return c.Insert(src, index, records, CountOf(count, own));
  });
}

uint32_t TWXUpdate(TWXContext* ctx, TWFIELDLIST src, uint32_t index, uint32_t records,
                   uint32_t* count) {
  return OnConnection(ctx, [&](sqlcli::Connection& c) {
    uint32_t own = 0;
    return c.Update(src, index, records, CountOf(count, own));
  });
}

uint32_t TWXRemove(TWXContext* ctx, TWFIELDLIST keys, uint32_t index, uint32_t records,
                   uint32_t* count) {
  return OnConnection(ctx, [&](sqlcli::Connection& c) {
    uint32_t own = 0;
    return c.Remove(keys, index, records, CountOf(count, own));
  });
}

uint32_t TWXCreate(TWXContext* ctx, uint32_t objectType, TWFIELDLIST src) {
  return OnConnection(ctx, [&](sqlcli::Connection& c) { return c.Create(objectType, src); });
}

uint32_t TWXDrop(TWXContext* ctx, uint32_t objectType) {
  return OnConnection(ctx, [&](sqlcli::Connection& c) { return c.Drop(objectType); });
}

uint32_t TWXCatalog(TWXContext* ctx, uint32_t objectType, TWFIELDLIST dest, uint32_t* count) {
  return OnConnection(ctx, [&](sqlcli::Connection& c) {
    uint32_t own = 0;
    return c.Catalog(objectType, dest, CountOf(count, own));
  });
}

}  // extern "C"
