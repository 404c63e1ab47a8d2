// Every connector module as the engine's loader sees it, one case per connector: built on the
// connector kit, each exports the seventeen entry points by name and by ordinal, states the
// identity its traits give (the kit's context block, the definition rows of its property
// table), and its entry points answer as the kit's do around one connection's life.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "activity_test_util.h"
#include "flowcore.h"
#include "twx_plugin.h"
#include "oracle/properties.h"
#include "ordex/properties.h"
#include "zmlnk/properties.h"
#ifdef TW_HAVE_SQLCLI
#include "sqlcli/properties.h"
#endif
#ifdef TW_HAVE_CORVEX
#include "corvex/properties.h"
#endif
#ifdef TW_HAVE_XANDB
#include "xandb/properties.h"
#endif

namespace {

struct Case {
  const char* name;  // the module is <name>.twx
  const tw::twx::ConnectorTraits* traits;
};
const Case kConnectors[] = {
    {"flatrec", &flatrec::kTraits},
    {"ordex", &ordex::kTraits},
    {"oracle", &oracle::kTraits},
#ifdef TW_HAVE_SQLCLI
    {"sqlcli", &sqlcli::kTraits},
#endif
#ifdef TW_HAVE_CORVEX
    {"corvex", &corvex::kTraits},
#endif
#ifdef TW_HAVE_XANDB
    {"xandb", &xandb::kTraits},
#endif
};

// The engine started in an installation of the test's own, with an unnamed activity to log
// to; the module is copied in, loaded, and freed at the end.
class Module {
 public:
  explicit Module(const std::string& name) {
    twtest::InstallBuiltPlugin(inst_, name + ".twx");
    EXPECT_EQ(TWSystemInit(), TWSUCCESS);
    EXPECT_EQ(TWActivityAlloc(0, nullptr, 0), TWSUCCESS);
    handle_ = TWLibraryLoad(name.c_str(), TWLIB_PLUGIN);
  }
  ~Module() {
    if (handle_ != nullptr) TWLibraryFree(handle_);
    TWActivityFree();
    TWSystemTerm();
  }
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;
  void* handle() const { return handle_; }
  template <class Proc>
  Proc Entry(const char* name) const {
    return reinterpret_cast<Proc>(TWLibraryLoadProc(handle_, name, 0));
  }

 private:
  twtest::Installation inst_;
  void* handle_ = nullptr;
};

// Expects got to be the definition row want: its words and its name.
void ExpectSameRow(const TWXPropertyDef& got, const TWXPropertyDef& want) {
  EXPECT_EQ(got.token, want.token);
  EXPECT_EQ(got.type, want.type) << want.token;
  EXPECT_EQ(got.reserved, 0u) << want.token;
  EXPECT_EQ(got.nameLength, want.nameLength) << want.token;
  if (want.name == nullptr)
    EXPECT_EQ(got.name, nullptr) << want.token;
  else if (got.name == nullptr)
    ADD_FAILURE() << want.token << " has no name";
  else
    EXPECT_STREQ(got.name, want.name);
}

TEST(ConnectorPlugin, ExportsIdentityAndEntryPointsComeFromTheKit) {
  static const char* const kNames[] = TWX_CONNECTOR_ORDINAL_NAMES;
  for (const Case& connector : kConnectors) {
    SCOPED_TRACE(connector.name);
    Module module(connector.name);
    ASSERT_NE(module.handle(), nullptr);

    // All seventeen names resolve, and each ordinal reaches the function of its name.
    for (uint32_t ordinal = 1; kNames[ordinal - 1] != nullptr; ++ordinal) {
      void* byName = TWLibraryLoadProc(module.handle(), kNames[ordinal - 1], 0);
      EXPECT_NE(byName, nullptr) << kNames[ordinal - 1];
      EXPECT_EQ(TWLibraryLoadProc(module.handle(), nullptr, ordinal), byName) << ordinal;
    }

    // The identity record is the one the kit makes of the connector's traits.
    auto identify = module.Entry<TWXIdentifyProc>("TWXIdentify");
    ASSERT_NE(identify, nullptr);
    EXPECT_EQ(identify(nullptr), connector.traits->nullRecord);
    TWXIdentity id{};
    ASSERT_EQ(identify(&id), TWSUCCESS);
    const TWXIdentity want = tw::twx::ConnectorIdentity(*connector.traits);
    EXPECT_EQ(id.version, TWX_VERSION);
    EXPECT_EQ(id.kind, TWX_KIND_CONNECTOR);
    EXPECT_EQ(id.flags, want.flags);
    EXPECT_EQ(id.reserved, 0u);
    EXPECT_EQ(id.contextSize, sizeof(TWXContext));
    EXPECT_EQ(id.textFormat, want.textFormat);
    ASSERT_NE(id.properties, nullptr);
    size_t row = 0;
    for (; want.properties[row].token != 0; ++row)
      ExpectSameRow(id.properties[row], want.properties[row]);
    ExpectSameRow(id.properties[row], want.properties[row]);  // both end here

    // One connection's life through the entry points, on a block as the engine allocates it.
    auto initialize = module.Entry<TWXInitializeProc>("TWXInitialize");
    auto terminate = module.Entry<TWXTerminateProc>("TWXTerminate");
    auto getProperty = module.Entry<TWXGetPropertyProc>("TWXGetProperty");
    auto setProperty = module.Entry<TWXSetPropertyProc>("TWXSetProperty");
    auto connect = module.Entry<TWXConnectProc>("TWXConnect");
    auto disconnect = module.Entry<TWXDisconnectProc>("TWXDisconnect");
    ASSERT_TRUE(initialize && terminate && getProperty && setProperty && connect && disconnect);
    std::vector<unsigned char> block(id.contextSize, 0);
    auto* ctx = reinterpret_cast<TWXContext*>(block.data());
    const std::vector<unsigned char> zeros(block.size(), 0);
    TWFIELD field = TWNULLHANDLE;
    ASSERT_EQ(TWFieldAlloc(&field, TWTYPE_INT, 1), TWSUCCESS);

    // Without a connection: operations refused, the ends of the life a no-op.
    EXPECT_EQ(initialize(nullptr, 0, 1), TWFAIL_NULL_BUFFER);
    EXPECT_EQ(connect(ctx), TWFAIL_INVALID_CONNECT);
    EXPECT_EQ(getProperty(ctx, TWTOKEN_TEXT_FORMAT, field), TWFAIL_INVALID_CONNECT);
    EXPECT_EQ(disconnect(ctx, 0), TWSUCCESS);
    EXPECT_EQ(terminate(ctx, 1), TWSUCCESS);

    ASSERT_EQ(initialize(ctx, 0x00010001, 1), TWSUCCESS);
    EXPECT_NE(block, zeros);
    int32_t format = 0;
    EXPECT_EQ(getProperty(ctx, TWTOKEN_TEXT_FORMAT, field), TWSUCCESS);
    EXPECT_EQ(TWFieldGetInt(field, 1, &format, nullptr), TWSUCCESS);
    EXPECT_EQ(static_cast<uint32_t>(format), want.textFormat);
    EXPECT_EQ(setProperty(ctx, TWTOKEN_TEXT_FORMAT, field), TWFAIL_INVALID_PROPERTY);
    EXPECT_EQ(twtest::LogLast().status, TWFAIL_INVALID_PROPERTY);
    EXPECT_EQ(disconnect(ctx, 0), TWSUCCESS);
    EXPECT_EQ(terminate(ctx, 1), TWSUCCESS);
    EXPECT_EQ(block, zeros);  // the connection is gone with its pointer
    TWFieldFree(field);
  }
}

}  // namespace
