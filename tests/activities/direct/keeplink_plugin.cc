// keeplink.twx: the test connector testlink with what the transfer tests need besides. When
// its context ends it leaves its table and its call journal in files beside the plug-in.
// Words of its Fail property: "Missing" starts it without its table; "CloseAfterInsert" asks
// every run of the run table to close after an insert, as the server would; "OnceAtEnd" ends
// the result set with the end of data, so a later fetch finds none (as the ODBC connector
// does); "Idle" fetches nothing without ending the data; "Overcount" reports a hundred
// records more than a fetch moved; "RowCountOnly" executes a statement that only counts the
// rows it touched (three), without a result set.
#include "twx.h"

#define TWXConnect TestlinkConnect
#define TWXExecute TestlinkExecute
#define TWXFetch TestlinkFetch
#define TWXInsert TestlinkInsert
#define TWXTerminate TestlinkTerminate
#include "testlink_connector.h"
#undef TWXConnect
#undef TWXExecute
#undef TWXFetch
#undef TWXInsert
#undef TWXTerminate

namespace {

void WriteFile(const std::string& name, const std::string& text) {
  std::ofstream out(std::string(TWFileExeDir()) + name, std::ios::trunc);
  out << text;
}

void CloseEveryRun() {
  TWProcShmem table{};
  auto* base = static_cast<unsigned char*>(TWProcShmemMap(TWMSGTBL_SIZE, TWMSGTBL_NAME, &table));
  if (base == nullptr) return;
  for (uint32_t i = 0; i < TWMSGTBL_ENTRIES; ++i) {
    unsigned char* entry = base + TWMSGTBL_ENTRY_SIZE * i;
    int32_t handle = 0;
    std::memcpy(&handle, entry, sizeof handle);
    if (handle != 0)
      __atomic_store_n(reinterpret_cast<uint32_t*>(entry + 4), TWCLOSE_REQUESTED, __ATOMIC_RELEASE);
  }
  TWProcShmemUnmap(&table);
}

}  // namespace

extern "C" {

uint32_t TWXConnect(TWXContext* ctx) noexcept {
  uint32_t status = TestlinkConnect(ctx);
  if (status == 0 && Fails(ctx, "Missing")) ctx->state->exists = false;
  return status;
}

uint32_t TWXExecute(TWXContext* ctx, const TWStream* statement, TWFIELDLIST dest,
                    uint32_t* count) noexcept {
  if (!Fails(ctx, "RowCountOnly")) return TestlinkExecute(ctx, statement, dest, count);
  Note(ctx, "Execute rows=3");
  ctx->state->open = false;
  *count = 3;
  return 0;
}

uint32_t TWXFetch(TWXContext* ctx, TWFIELDLIST dest, uint32_t index, uint32_t recordCount,
                  uint32_t* count) noexcept {
  if (Fails(ctx, "Idle")) {
    // Answers a few times, then gives up, so that a caller that keeps asking cannot hang.
    Note(ctx, "Fetch idle");
    return ++ctx->state->next > 3 ? TWActivityLog(TWFAIL_NO_RESULTSET) : 0;
  }
  uint32_t status = TestlinkFetch(ctx, dest, index, recordCount, count);
  if (status == TWFAIL_END_OF_DATA && Fails(ctx, "OnceAtEnd")) ctx->state->open = false;
  if (status == 0 && Fails(ctx, "Overcount")) *count += 100;
  return status;
}

uint32_t TWXInsert(TWXContext* ctx, TWFIELDLIST src, uint32_t index, uint32_t recordCount,
                   uint32_t* count) noexcept {
  uint32_t status = TestlinkInsert(ctx, src, index, recordCount, count);
  if (status == 0 && Fails(ctx, "CloseAfterInsert")) CloseEveryRun();
  return status;
}

uint32_t TWXTerminate(TWXContext* ctx, uint32_t flags) noexcept {
  return tw::guard([&]() -> uint32_t {
    const testlink::State& st = *ctx->state;
    if (!st.metadata.empty()) {
      WriteFile("keeplink." + st.metadata + ".journal", st.journal);
      if (st.exists)
        WriteFile("keeplink." + st.metadata + ".rows",
                  JoinRows({st.columns}) + "\n" + JoinRows(st.rows));
    }
    return TestlinkTerminate(ctx, flags);
  });
}

}  // extern "C"
