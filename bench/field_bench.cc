// Per-value cost of field slots: typed set and get of INT, FLOAT and short TEXT values, and
// copying a record between two field lists the way a transfer moves it.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "flowcore.h"
#include "flowcore_ptr.h"

namespace {

constexpr uint32_t kRecords = 256;

struct FieldHolder {
  FieldHolder(uint32_t type, uint32_t count) {
    TWFieldAlloc(flowcore::Out(owner), type, count);
    f = owner.get();
  }
  flowcore::FieldPtr owner;
  TWFIELD f = TWNULLHANDLE;
};

void BM_SetGetInt(benchmark::State& state) {
  FieldHolder h(TWTYPE_INT, kRecords);
  int32_t v = 0, out = 0, isNull = 0;
  for (auto _ : state) {
    for (uint32_t i = 1; i <= kRecords; ++i) {
      v = static_cast<int32_t>(i);
      TWFieldSetInt(h.f, i, &v);
      TWFieldGetInt(h.f, i, &out, &isNull);
      benchmark::DoNotOptimize(out);
    }
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_SetGetInt);

void BM_SetGetFloat(benchmark::State& state) {
  FieldHolder h(TWTYPE_FLOAT, kRecords);
  double v = 0, out = 0;
  int32_t isNull = 0;
  for (auto _ : state) {
    for (uint32_t i = 1; i <= kRecords; ++i) {
      v = i * 0.25;
      TWFieldSetFloat(h.f, i, &v);
      TWFieldGetFloat(h.f, i, &out, &isNull);
      benchmark::DoNotOptimize(out);
    }
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_SetGetFloat);

// Short text into slots that already hold a value, read back into a stream with room.
void BM_SetGetShortText(benchmark::State& state) {
  FieldHolder h(TWTYPE_TEXT, kRecords);
  TWFieldSetFormatStream(h.f, 0, 64, TWSTREAMFMT_NATIVE);
  TWStream in{}, out{};
  const char text[] = "Customer 0042";
  TWStreamDataSet(&in, TWSTREAMFMT_NATIVE, text, sizeof text - 1);
  for (uint32_t i = 1; i <= kRecords; ++i) TWFieldSetStream(h.f, i, &in);
  TWFieldGetStream(h.f, 1, 0, &out, nullptr);
  int32_t isNull = 0;
  for (auto _ : state) {
    for (uint32_t i = 1; i <= kRecords; ++i) {
      TWFieldSetStream(h.f, i, &in);
      TWFieldGetStream(h.f, i, 0, &out, &isNull);
      benchmark::DoNotOptimize(out.data);
    }
  }
  TWStreamDataFree(&in);
  TWStreamDataFree(&out);
  state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_SetGetShortText);

// A record of INT, FLOAT, TEXT and DATETIME values copied field by field from one list to a
// list of the same layout seen through a merged view; items are values.
void BM_CopyRecord(benchmark::State& state) {
  TWFIELDLIST src = TWNULLHANDLE, dst = TWNULLHANDLE, view = TWNULLHANDLE;
  TWFieldlistAlloc(&src, kRecords, 0);
  TWFieldlistAlloc(&dst, kRecords, 0);
  const char* names[] = {"ID", "Price", "Name", "Stamp"};
  const uint32_t types[] = {TWTYPE_INT, TWTYPE_FLOAT, TWTYPE_TEXT, TWTYPE_DATETIME};
  for (int k = 0; k < 4; ++k) {
    TWStream n{};
    TWStreamDataSet(&n, TWSTREAMFMT_NATIVE, names[k], static_cast<uint32_t>(strlen(names[k])));
    TWFieldlistAppend(src, &n, types[k], nullptr);
    TWFieldlistAppend(dst, &n, types[k], nullptr);
    TWStreamDataFree(&n);
  }
  TWFieldlistMerge(&view, src, dst, TWMERGEF_MAP_NAME);
  TWFIELD from[4], to[4];
  for (uint32_t k = 0; k < 4; ++k) {
    TWFieldlistGetField(src, k + 1, 0, &from[k], nullptr);
    TWFieldlistGetField(view, k + 1, 0, &to[k], nullptr);
  }
  TWStream text{};
  TWStreamDataSet(&text, TWSTREAMFMT_NATIVE, "Customer 0042", 13);
  TWDatetime stamp{12 * 360000, 2451545};
  for (uint32_t i = 1; i <= kRecords; ++i) {
    int32_t id = static_cast<int32_t>(i);
    double price = i * 1.5;
    TWFieldSetInt(from[0], i, &id);
    TWFieldSetFloat(from[1], i, &price);
    TWFieldSetStream(from[2], i, &text);
    TWFieldSetDatetime(from[3], i, &stamp);
  }
  for (uint32_t k = 0; k < 4; ++k) TWFieldConvert(to[k], 1, from[k], 1, kRecords);
  for (auto _ : state) {
    for (uint32_t i = 1; i <= kRecords; ++i)
      for (uint32_t k = 0; k < 4; ++k) TWFieldConvert(to[k], i, from[k], i, 1);
  }
  TWStreamDataFree(&text);
  TWFieldlistFree(view);
  TWFieldlistFree(dst);
  TWFieldlistFree(src);
  state.SetItemsProcessed(state.iterations() * kRecords * 4);
}
BENCHMARK(BM_CopyRecord);

}  // namespace

BENCHMARK_MAIN();
