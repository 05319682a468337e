// Binary reader: every file loads (cut at 64 KiB) and changes nothing but element values.
#include "FuzzRig.h"

using namespace kelvano;
using namespace kelvano::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    Card& c = cardFor(data[0]);
    const int slot = slotFor(data[0]);
    const QString in = stagedFile("in.bin", data + 1, size - 1);
    FUZZ_CHECK(checkedOpen(c, in, slot));
    // The image holds the file from offset 0 and 0xFF behind it.
    const size_t n = size - 1 < 0x10000 ? size - 1 : 0x10000;
    for (size_t i = 0; i < n; ++i) FUZZ_CHECK(c.io->Image[i] == data[1 + i]);
    for (size_t i = n; i < 0x10000; ++i) FUZZ_CHECK(c.io->Image[i] == 0xFF);
    return 0;
}
