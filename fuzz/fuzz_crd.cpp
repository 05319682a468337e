// Card dump reader with a fuzzed layout file: the input up to its first NUL byte is the
// layout file when the selector asks for one, the rest the dump.
#include <cstring>

#include "FuzzRig.h"

using namespace kelvano;
using namespace kelvano::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t selector = data[0];
    Card& c = cardFor(selector & 0x7F);
    const int slot = slotFor(selector & 0x7F);
    const uint8_t* dump = data + 1;
    size_t dumpSize = size - 1;
    c.io->CrdPath.clear();
    if (selector & 0x80) {
        const void* nul = std::memchr(dump, 0, dumpSize);
        const size_t layoutSize =
            nul ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - dump) : dumpSize;
        c.io->CrdPath = scratchFile("kelvano.crd");
        writeFile(c.io->CrdPath, dump, layoutSize);
        dump += layoutSize;
        dumpSize -= layoutSize;
        if (dumpSize) ++dump, --dumpSize;
    }
    const QString in = scratchFile("in.crd");
    writeFile(in, dump, dumpSize);
    checkedOpen(c, in, slot);
    return 0;
}
