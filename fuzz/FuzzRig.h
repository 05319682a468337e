#pragma once
// What the reader fuzz targets share: a card type with its buffers, a file module on the heap
// (its image is its last member, so an overrun leaves the allocation and the address
// sanitizer stops the run), and checks that a load touched nothing it may not touch.
#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <QString>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "FuzzCheck.h"
#include "base/Host.h"
#include "device/FusePages.h"
#include "device/uDevices.h"
#include "fileio/uFileio.h"

namespace kelvano::fuzz {

class QuietHost : public Host {
public:
    void showError(const QString&) override { ++errors; }
    bool askOkAbort(const QString&, const QString&) override { return true; }
    void beep() override {}
    void processEvents() override {}
    int errors = 0;
};

struct Card {
    explicit Card(int code) {
        devices.DeviceId = code;
        devices.ApplyBuffers();
        if (isPicCode(code)) RefreshPicPage(devices, fuses);
        io = std::make_unique<TFileIo>(host, devices, fuses, nullptr);
        const char* end = reinterpret_cast<const char*>(io.get()) + sizeof(TFileIo);
        FUZZ_CHECK(reinterpret_cast<const char*>(io->Image.data()) + io->Image.size() == end);
    }
    QuietHost host;
    TDevices devices;
    FuseModel fuses;
    std::unique_ptr<TFileIo> io;
};

// The card types the targets load into: both PIC forms and three AT90S sizes (the larger
// cards only repeat these with longer grids, which would slow every run down).
inline Card& cardFor(uint8_t selector) {
    static Card* cards[5] = {new Card(10), new Card(11), new Card(22), new Card(20), new Card(23)};
    return *cards[selector % 5];
}

inline QString scratchFile(const char* name) {
    static const QString dir = [] {
        char pattern[] = "/dev/shm/kelvano-fuzz-XXXXXX";
        char fallback[] = "/tmp/kelvano-fuzz-XXXXXX";
        const char* d = mkdtemp(pattern);
        if (!d) d = mkdtemp(fallback);
        FUZZ_CHECK(d != nullptr);
        return QString::fromLocal8Bit(d);
    }();
    return dir + QLatin1Char('/') + QLatin1String(name);
}

inline void writeFile(const QString& path, const uint8_t* data, size_t size) {
    std::FILE* f = std::fopen(QFile::encodeName(path).constData(), "wb");
    FUZZ_CHECK(f != nullptr);
    if (size) FUZZ_CHECK(std::fwrite(data, 1, size, f) == size);
    std::fclose(f);
}

struct Snapshot {
    explicit Snapshot(const TDevices& d)
        : prog(d.ProgBuf), data(d.DataBuf), eep(d.EepBuf), ids(d.IdBuf), cfg(d.CfgWord) {}
    bool operator==(const Snapshot& o) const {
        return prog == o.prog && data == o.data && eep == o.eep && ids == o.ids && cfg == o.cfg;
    }
    TBufArray prog, data, eep, ids;
    uint16_t cfg;
};

// The slot a selector byte loads into, in the same run of card types as cardFor.
inline int slotFor(uint8_t selector) { return 1 + (selector / 5) % 3; }

// The fuzzer's bytes as a file of the given name in the scratch folder.
inline QString stagedFile(const char* name, const uint8_t* data, size_t size) {
    const QString path = scratchFile(name);
    writeFile(path, data, size);
    return path;
}

// Loads `path` into `slot` and checks what a load may change: on failure nothing; on success
// only element values, within the widths of their memories.
inline bool checkedOpen(Card& c, const QString& path, int slot) {
    const Snapshot before(c.devices);
    const QString crdPath = c.io->CrdPath;
    const int errorsBefore = c.host.errors;
    const bool ok = c.io->OpenFile(path, slot);
    const TDevices& d = c.devices;
    const TDeviceEntry* row = findDevice(d.DeviceId);
    FUZZ_CHECK(d.ProgBuf.length() == row->flashWords);
    FUZZ_CHECK(d.DataBuf.length() == row->internalEepromBytes);
    FUZZ_CHECK(d.EepBuf.length() == row->externalEepromBytes);
    FUZZ_CHECK(d.IdBuf.length() == before.ids.length());
    FUZZ_CHECK(c.io->CrdPath == crdPath);
    FUZZ_CHECK(c.io->FileName == path);
    if (!ok) {
        FUZZ_CHECK(Snapshot(d) == before);
        FUZZ_CHECK(c.host.errors > errorsBefore);  // every refused file says why
        return false;
    }
    for (uint16_t v : d.DataBuf.values()) FUZZ_CHECK(v <= 0xFF);
    for (uint16_t v : d.EepBuf.values()) FUZZ_CHECK(v <= 0xFF);
    if (isPicCode(d.DeviceId)) {
        for (uint16_t v : d.ProgBuf.values()) FUZZ_CHECK(v <= 0x3FFF);
        for (int k = 0; k < 4; ++k) FUZZ_CHECK(d.IdBuf[k] <= 0x0F);
        FUZZ_CHECK(d.CfgWord <= 0x3FFF);
    }
    return true;
}

// What loaded into `slot` survives a save to `outName` (its format by the name) and a second
// load unchanged.
inline void checkSaveRoundTrip(Card& c, int slot, const char* outName) {
    const Snapshot loaded(c.devices);
    const QString out = scratchFile(outName);
    const bool pic = isPicCode(c.devices.DeviceId);
    if (!c.io->SaveFile(out, slot, 1)) {
        FUZZ_CHECK(pic && slot == 3);  // the only slot without memory
        return;
    }
    FUZZ_CHECK(checkedOpen(c, out, slot));
    const Snapshot again(c.devices);
    FUZZ_CHECK(again.prog == loaded.prog && again.data == loaded.data && again.eep == loaded.eep);
    if (pic && slot == 1)
        for (int k = 0; k < 4; ++k) FUZZ_CHECK(again.ids[k] == loaded.ids[k]);
}

}  // namespace kelvano::fuzz
