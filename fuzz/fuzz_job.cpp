// Job file reader: any bytes as a job file, beside a few files it may name (an Intel HEX and a
// binary image, a serial list). A refused job says why; a job that is read holds a card type
// that can be programmed, buffers of that card's sizes, and a serial that fits where it goes.
#include <QCoreApplication>
#include <QDir>

#include "FuzzCheck.h"
#include "FuzzRig.h"
#include "device/Models.h"
#include "production/Job.h"

using namespace kelvano;
using namespace kelvano::fuzz;

namespace {

void stageNeighbours() {
    static bool staged = false;
    if (staged) return;
    staged = true;
    const QByteArray hex = ":0400000001020304F2\n:00000001FF\n";
    const QByteArray bin(32, '\x5A');
    const QByteArray list = "1000\n1001\n0x3F2\n";
    writeFile(scratchFile("a.hex"), reinterpret_cast<const uint8_t*>(hex.constData()),
              size_t(hex.size()));
    writeFile(scratchFile("b.bin"), reinterpret_cast<const uint8_t*>(bin.constData()),
              size_t(bin.size()));
    writeFile(scratchFile("s.txt"), reinterpret_cast<const uint8_t*>(list.constData()),
              size_t(list.size()));
}

void checkBuffer(const TBufArray& buf, int length, uint16_t max) {
    FUZZ_CHECK(buf.length() == length);
    for (uint16_t v : buf.values()) FUZZ_CHECK(v <= max);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    stageNeighbours();
    const QString path = stagedFile("job.ini", data, size);
    Job job;
    QString error;
    if (!readJob(path, job, error)) {
        FUZZ_CHECK(!error.isEmpty());
        return 0;
    }
    const TDeviceEntry* row = findDevice(job.card);
    FUZZ_CHECK(row && row->actions);
    FUZZ_CHECK(job.count >= 0 && job.hash.size() == 64 && !job.name.isEmpty());
    const uint16_t word = row->pic() ? 0x3FFF : 0xFFFF;
    checkBuffer(job.progBuf, row->flashWords, word);
    checkBuffer(job.dataBuf, row->internalEepromBytes, 0xFF);
    checkBuffer(job.eepBuf, row->externalEepromBytes, 0xFF);

    TDevices devices;
    FuseModel fuses;
    EnableBoxes enable;
    job.applyTo(devices, fuses, enable);
    FUZZ_CHECK(devices.DeviceId == job.card && devices.ProgBuf.length() == row->flashWords);
    if (!job.serial) return 0;
    const SerialPlan& plan = *job.serial;
    FUZZ_CHECK(plan.size >= 1 && plan.size <= 8 && plan.address >= 0);
    FUZZ_CHECK(plan.address + plan.size <= plan.memoryBytes(job.card));
    // The first and a later value of the run go into the card's buffers, where they fit.
    for (uint64_t index : {uint64_t(0), uint64_t(7)}) {
        const std::optional<uint64_t> value = plan.valueAt(index);
        if (!value) continue;
        FUZZ_CHECK(plan.fits(*value));
        const QByteArray bytes = plan.encode(*value);
        FUZZ_CHECK(bytes.size() == plan.size);
        plan.writeInto(devices, bytes);
    }
    checkBuffer(devices.ProgBuf, row->flashWords, word);
    checkBuffer(devices.DataBuf, row->internalEepromBytes, 0xFF);
    checkBuffer(devices.EepBuf, row->externalEepromBytes, 0xFF);
    return 0;
}
