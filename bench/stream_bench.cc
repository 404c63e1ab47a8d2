// Per-value cost of stream text: conversion of native text into two-byte text and into
// code page 1252, and storing a value into a stream whose block is already big enough.
#include <benchmark/benchmark.h>

#include <string>

#include "flowcore.h"

namespace {

// Latin text with a few accented letters, as a field value might hold.
std::string Sample(size_t length) {
  const std::string unit = "Caf\xC3\xA9 cr\xC3\xA8me, ";
  std::string s;
  while (s.size() < length) s += unit;
  s.resize(length);
  while (!s.empty() && (static_cast<unsigned char>(s.back()) & 0xC0) == 0x80) s.pop_back();
  if (!s.empty() && static_cast<unsigned char>(s.back()) >= 0xC0) s.pop_back();
  return s;
}

void ConvertInto(benchmark::State& state, uint32_t format) {
  const std::string text = Sample(static_cast<size_t>(state.range(0)));
  TWStream source, target;
  TWStreamClear(&source);
  TWStreamClear(&target);
  TWStreamDataSet(&source, TWSTREAMFMT_NATIVE, text.data(), static_cast<uint32_t>(text.size()));
  for (auto _ : state) {
    uint32_t st =
        TWStreamDataConvert(&target, &source, TWCONVERTF_PRESERVE, format, nullptr, nullptr);
    if (st != TWSUCCESS) state.SkipWithError("conversion failed");
    benchmark::DoNotOptimize(target.data);
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
  TWStreamDataFree(&target);
  TWStreamDataFree(&source);
}

void BM_NativeToUtf16(benchmark::State& state) {
  ConvertInto(state, TWSTREAMFMT_UNICODE);
}
void BM_NativeToCp1252(benchmark::State& state) {
  ConvertInto(state, TWSTREAMFMT_CP1252);
}

void BM_DataSetExistingBlock(benchmark::State& state) {
  const std::string text = Sample(static_cast<size_t>(state.range(0)));
  TWStream target;
  TWStreamCreate(&target, 1024, TWSTREAMF_FIXED, TWSTREAMFMT_NATIVE);
  for (auto _ : state) {
    uint32_t st = TWStreamDataSet(&target, TWSTREAMFMT_NATIVE, text.data(),
                                  static_cast<uint32_t>(text.size()));
    if (st != TWSUCCESS) state.SkipWithError("set failed");
    benchmark::DoNotOptimize(target.data);
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
  TWStreamDataFree(&target);
}

BENCHMARK(BM_NativeToUtf16)->Arg(16)->Arg(256);
BENCHMARK(BM_NativeToCp1252)->Arg(16)->Arg(256);
BENCHMARK(BM_DataSetExistingBlock)->Arg(16)->Arg(256);

}  // namespace

BENCHMARK_MAIN();
