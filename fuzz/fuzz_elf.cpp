// ELF reader: any bytes load or are refused with a message; a load fills the flash within
// its width, and the fuse and lock values of the card only from a file that holds them.
#include "FuzzRig.h"

using namespace kelvano;
using namespace kelvano::fuzz;

namespace {
// The AVR cards whose fuse pages differ (ATmega163 bytes, AT90S8515 without fuse box,
// AT90S2323 and AT90S8535 with one) and a PIC card, which takes no AVR program.
Card& elfCard(uint8_t selector) {
    static Card* cards[5] = {new Card(31), new Card(20), new Card(22), new Card(21), new Card(10)};
    return *cards[selector % 5];
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    Card& c = elfCard(data[0]);
    const TDevices& d = c.devices;
    const uint8_t fuseLow = d.FuseLow, fuseHigh = d.FuseHigh, lock = d.LockByte;
    const AvrPage avr = c.fuses.avr;
    const QString in = stagedFile(data[0] & 0x80 ? "in.bin" : "in.elf", data + 1, size - 1);
    const bool ok = checkedOpen(c, in, slotFor(data[0]));
    if (!ok || d.DeviceId != 31)
        FUZZ_CHECK(d.FuseLow == fuseLow && d.FuseHigh == fuseHigh && d.LockByte == lock);
    const AvrPage& now = c.fuses.avr;
    if (!ok || d.DeviceId == 31)
        FUZZ_CHECK(now.lockBit1 == avr.lockBit1 && now.lockBit2 == avr.lockBit2);
    if (!ok || d.DeviceId == 31 || d.DeviceId == 20) FUZZ_CHECK(now.avrFuse == avr.avrFuse);
    // A file named .bin that is no ELF file loads as raw bytes, on any card.
    if (ok && TFileIo::Kind(in) == FileKind::Elf) FUZZ_CHECK(!isPicCode(d.DeviceId));
    return 0;
}
