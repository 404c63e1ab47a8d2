// The exported entry points of the text-file connector flatrec.twx: the identity record and
// the seventeen TWX calls, each a guarded call into the connection held by the context.
#include "connection.h"
#include "tw/guard.h"
#include "twx.h"

namespace {

constexpr uint32_t kFlatrecFlags = 0x00000800u;

constexpr TWXIdentity kIdentity = {TWX_VERSION,
                                   TWX_KIND_CONNECTOR,
                                   kFlatrecFlags,
                                   0u,
                                   static_cast<uint32_t>(sizeof(TWXContext)),
                                   TWSTREAMFMT_NATIVE,
                                   flatrec::kDefinitionRows.data()};

flatrec::Connection* Of(TWXContext* ctx) {
  return ctx != nullptr ? ctx->connection : nullptr;
}

// An entry point this connector does not offer: traced like the others.
uint32_t Unavailable(TWXContext* ctx, const char* label) {
  flatrec::Connection* c = Of(ctx);
  if (c == nullptr) return TWFAIL_UNAVAILABLE;
  flatrec::Routine routine(c->tracer, label);
  return routine.Exit(TWFAIL_UNAVAILABLE);
}

}  // namespace

extern "C" {

const char* const TWOrdinalNames[] = TWX_CONNECTOR_ORDINAL_NAMES;

uint32_t TWXIdentify(TWXIdentity* identity) {
  if (identity == nullptr) return TWFAIL_NULL_RESULT;
  *identity = kIdentity;
  return TWSUCCESS;
}

uint32_t TWXInitialize(TWXContext* ctx, uint32_t connectCode, uint32_t flags) {
  return tw::guard([&]() -> uint32_t {
    if (ctx == nullptr) return TWFAIL_NULL_BUFFER;
    delete ctx->connection;
    ctx->connection = nullptr;
    auto c = std::make_unique<flatrec::Connection>();
    if (uint32_t st = c->Initialize(connectCode, flags)) return st;
    ctx->connection = c.release();
    return TWSUCCESS;
  });
}

uint32_t TWXTerminate(TWXContext* ctx, uint32_t flags) {
  return tw::guard([&]() -> uint32_t {
    flatrec::Connection* c = Of(ctx);
    if (c == nullptr) return TWSUCCESS;
    c->Terminate(flags);
    delete c;
    ctx->connection = nullptr;
    return TWSUCCESS;
  });
}

uint32_t TWXSetProperty(TWXContext* ctx, uint32_t token, TWFIELD src) {
  return tw::guard([&]() -> uint32_t {
    flatrec::Connection* c = Of(ctx);
    return c != nullptr ? c->SetProperty(token, src) : TWFAIL_INVALID_CONNECT;
  });
}

uint32_t TWXGetProperty(TWXContext* ctx, uint32_t token, TWFIELD dest) {
  return tw::guard([&]() -> uint32_t {
    flatrec::Connection* c = Of(ctx);
    return c != nullptr ? c->GetProperty(token, dest) : TWFAIL_INVALID_CONNECT;
  });
}

uint32_t TWXConnect(TWXContext* ctx) {
  return tw::guard([&]() -> uint32_t {
    flatrec::Connection* c = Of(ctx);
    return c != nullptr ? c->Connect() : TWFAIL_INVALID_CONNECT;
  });
}

uint32_t TWXDisconnect(TWXContext* ctx, uint32_t errorFlag) {
  return tw::guard([&]() -> uint32_t {
    flatrec::Connection* c = Of(ctx);
    return c != nullptr ? c->Disconnect(errorFlag) : TWSUCCESS;
  });
}

uint32_t TWXExecute(TWXContext* ctx, const TWStream* statement, TWFIELDLIST dest, uint32_t* count) {
  return tw::guard([&]() -> uint32_t {
    flatrec::Connection* c = Of(ctx);
    if (c == nullptr) return TWFAIL_INVALID_CONNECT;
    uint32_t own = 0;
    return c->Execute(statement, dest, count != nullptr ? count : &own);
  });
}

uint32_t TWXFetch(TWXContext* ctx, TWFIELDLIST dest, uint32_t index, uint32_t records,
                  uint32_t* count) {
  return tw::guard([&]() -> uint32_t {
    flatrec::Connection* c = Of(ctx);
    if (c == nullptr) return TWFAIL_INVALID_CONNECT;
    uint32_t own = 0;
    return c->Fetch(dest, index, records, count != nullptr ? count : &own);
  });
}

uint32_t TWXInsert(TWXContext* ctx, TWFIELDLIST src, uint32_t index, uint32_t records,
                   uint32_t* count) {
  return tw::guard([&]() -> uint32_t {
    flatrec::Connection* c = Of(ctx);
    if (c == nullptr) return TWFAIL_INVALID_CONNECT;
    uint32_t own = 0;
    return c->Insert(src, index, records, count != nullptr ? count : &own);
  });
}

uint32_t TWXUpdate(TWXContext* ctx, TWFIELDLIST src, uint32_t index, uint32_t records,
                   uint32_t* count) {
  return tw::guard([&]() -> uint32_t {
    flatrec::Connection* c = Of(ctx);
    if (c == nullptr) return TWFAIL_INVALID_CONNECT;
    uint32_t own = 0;
    return c->Update(src, index, records, count != nullptr ? count : &own);
  });
}

uint32_t TWXAction(TWXContext* ctx, uint32_t code) {
  return tw::guard([&]() -> uint32_t {
    flatrec::Connection* c = Of(ctx);
    return c != nullptr ? c->Action(code) : TWFAIL_INVALID_CONNECT;
  });
}

uint32_t TWXSelect(TWXContext* ctx, TWFIELDLIST, uint32_t, TWFIELDLIST, uint32_t*) {
  return tw::guard([&] { return Unavailable(ctx, "TWXSelect: "); });
}

uint32_t TWXRemove(TWXContext* ctx, TWFIELDLIST, uint32_t, uint32_t, uint32_t*) {
  return tw::guard([&] { return Unavailable(ctx, "TWXRemove: "); });
}

uint32_t TWXCatalog(TWXContext* ctx, uint32_t, TWFIELDLIST, uint32_t*) {
  return tw::guard([&] { return Unavailable(ctx, "TWXCatalog: "); });
}

uint32_t TWXCreate(TWXContext* ctx, uint32_t, TWFIELDLIST) {
  return tw::guard([&] { return Unavailable(ctx, "TWXCreate: "); });
}

uint32_t TWXDrop(TWXContext* ctx, uint32_t) {
  return tw::guard([&] { return Unavailable(ctx, "TWXDrop: "); });
}

}  // extern "C"
