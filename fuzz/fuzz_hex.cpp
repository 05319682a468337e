// Intel HEX reader: any text loads or is refused with a message; what loads survives a save
// and a second load unchanged.
#include "FuzzRig.h"

using namespace kelvano;
using namespace kelvano::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    Card& c = cardFor(data[0]);
    const int slot = slotFor(data[0]);
    const QString in = stagedFile("in.hex", data + 1, size - 1);
    if (!checkedOpen(c, in, slot)) return 0;

    checkSaveRoundTrip(c, slot, "out.hex");
    return 0;
}
