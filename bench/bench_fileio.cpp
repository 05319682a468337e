// Loading a full 64 KiB Intel HEX file (4,096 data records) into the external EEPROM of the
// 24C512 card (code 26), as the open command does it, and the reader on its own.
#include <benchmark/benchmark.h>

#include <QTemporaryDir>
#include <cstdio>

#include "base/Host.h"
#include "base/QuietHost.h"
#include "device/FusePages.h"
#include "device/uDevices.h"
#include "fileio/uFileio.h"

namespace {
using namespace kelvano;

struct Rig {
    Rig() {
        devices.DeviceId = 26;
        devices.ApplyBuffers();
        io = std::make_unique<TFileIo>(host, devices, fuses, nullptr);
        for (int i = 0; i < devices.EepBuf.length(); ++i)
            devices.EepBuf[i] = static_cast<uint16_t>((i * 7 + i / 251) & 0xFF);
        file = dir.filePath(QStringLiteral("eeprom64k.hex"));
        io->SaveFile(file, 3, 1);  // 4,096 records of 16 bytes and the end record
    }
    QTemporaryDir dir;
    QuietHost host{true};
    TDevices devices;
    FuseModel fuses;
    std::unique_ptr<TFileIo> io;
    QString file;
};

void BM_OpenHex64kIntoEepromSlot(benchmark::State& state) {
    Rig rig;
    for (auto _ : state) {
        if (!rig.io->OpenFile(rig.file, 3)) state.SkipWithError("load failed");
        benchmark::DoNotOptimize(rig.devices.EepBuf[0xFFFF]);
    }
    state.SetBytesProcessed(state.iterations() * 0x10000);
}
BENCHMARK(BM_OpenHex64kIntoEepromSlot)->Unit(benchmark::kMillisecond);

void BM_OpenHex64kWithoutGrids(benchmark::State& state) {
    Rig rig;
    rig.io->setGridsShown(false);
    for (auto _ : state) {
        if (!rig.io->OpenFile(rig.file, 3)) state.SkipWithError("load failed");
        benchmark::DoNotOptimize(rig.devices.EepBuf[0xFFFF]);
    }
    state.SetBytesProcessed(state.iterations() * 0x10000);
}
BENCHMARK(BM_OpenHex64kWithoutGrids)->Unit(benchmark::kMillisecond);

void BM_ReadHex64k(benchmark::State& state) {
    Rig rig;
    rig.io->FileName = rig.file;
    for (auto _ : state) {
        if (rig.io->ReadHexFile() != kLoadOk) state.SkipWithError("read failed");
        benchmark::DoNotOptimize(rig.io->Image[0xFFFF]);
    }
    state.SetBytesProcessed(state.iterations() * 0x10000);
}
BENCHMARK(BM_ReadHex64k)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
