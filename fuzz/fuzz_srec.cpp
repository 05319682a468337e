// The text formats that libsrecord reads (S-records, TI-TXT, Tektronix extended, MOS
// Technology): any text loads or is refused with a message, and never ends the program;
// what loads survives an S-record save and a second load unchanged.
#include "FuzzRig.h"

using namespace kelvano;
using namespace kelvano::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    Card& c = cardFor(data[0]);
    const int slot = slotFor(data[0]);
    // The name decides only where the content names no format of its own.
    const QString in = stagedFile(data[0] & 0x80 ? "in.txt" : "in.s19", data + 1, size - 1);
    if (!checkedOpen(c, in, slot)) return 0;

    checkSaveRoundTrip(c, slot, data[0] & 0x40 ? "out.s37" : "out.s19");
    return 0;
}
