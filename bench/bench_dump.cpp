// Filling the hex dumps of the largest card type: the apply of card type 26 (a 4096-row
// external EEPROM grid among the others) and the redraw of a whole 64 KiB EEPROM buffer.
#include <benchmark/benchmark.h>

#include "device/uDevices.h"

namespace {

using kelvano::TDevices;

void BM_ApplyBuffersCard26(benchmark::State& state) {
    TDevices d;
    d.DeviceId = 26;
    for (auto _ : state) {
        d.ApplyBuffers();
        benchmark::DoNotOptimize(d.eGrid.hex(4095).data());
    }
    state.counters["eGrid rows"] = d.eGrid.rowCount();
}
BENCHMARK(BM_ApplyBuffersCard26)->Unit(benchmark::kMillisecond);

void BM_ShowBuffer64KiB(benchmark::State& state) {
    TDevices d;
    d.DeviceId = 26;
    d.ApplyBuffers();
    for (int i = 0; i < d.EepBuf.length(); ++i) d.EepBuf[i] = static_cast<uint16_t>(i * 31 & 0xFF);
    for (auto _ : state) {
        kelvano::ShowBuffer(d.EepBuf, d.eGrid, kelvano::ViewMode::Bytes16);
        benchmark::DoNotOptimize(d.eGrid.text(4095).data());
    }
    state.SetBytesProcessed(state.iterations() * d.EepBuf.length());
}
BENCHMARK(BM_ShowBuffer64KiB)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
