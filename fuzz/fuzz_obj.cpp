// AVR object reader: any header and records load or are refused with a message, and the
// record loop always ends.
#include "FuzzRig.h"

using namespace kelvano;
using namespace kelvano::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    Card& c = cardFor(data[0] & 0x7F);
    checkedOpen(c, stagedFile("in.obj", data + 1, size - 1), 1);
    return 0;
}
