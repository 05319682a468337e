// kelvano-cli checksum: the CRC-32 and the 16-bit sum of each memory of the card type after
// loading files, as the window shows them beside the file names.
#include <cstdio>
#include <memory>

#include "cli/Commands.h"
#include "cli/TerminalHost.h"
#include "device/Checksum.h"
#include "device/FusePages.h"
#include "device/uDevices.h"
#include "fileio/uFileio.h"
#include "session/Session.h"

namespace kelvano {

int runChecksum(const CliArgs& args) {
    if (!findDevice(args.card)) {
        std::fprintf(stderr, "kelvano-cli: unknown card type %d (see 'cards')\n", args.card);
        return 2;
    }
    TerminalHost host(args.options.contains(QStringLiteral("yes")));
    TDevices devices;
    FuseModel fuses;
    devices.DeviceId = args.card;
    devices.ApplyBuffers(nullptr, false);
    if (isPicCode(devices.DeviceId)) RefreshPicPage(devices, fuses);
    auto io = std::make_unique<TFileIo>(host, devices, fuses, nullptr);
    io->setGridsShown(false);
    io->CrdPath = Session::crdPathIn({});
    for (const auto& load : args.loads)
        if (!io->OpenFile(load.second, load.first)) return 1;
    for (const MemoryChecksum& m : memoryChecksums(devices))
        std::printf("%-16s %6lld bytes  %s\n", qPrintable(m.name),
                    static_cast<long long>(m.sum.bytes), qPrintable(m.sum.text()));
    std::fflush(stdout);
    return 0;
}

QString checksumCommandHelp() {
    return QStringLiteral(
        "\n"
        "Checksums:\n"
        "  kelvano-cli --card CODE [--load SLOT=FILE]... checksum\n"
        "                       after loading the files, print one line per memory (flash,\n"
        "                       internal EEPROM, external EEPROM): its size in bytes, its\n"
        "                       CRC-32 (the one of zlib, PNG and gzip) and the sum of its\n"
        "                       bytes modulo 65536. Both are taken over the bytes a binary\n"
        "                       file of the memory holds: flash words two bytes each, low byte\n"
        "                       first. For an AVR card that is the .bin file of its slot\n"
        "                       (--save SLOT=FILE.bin), so `crc32 FILE.bin` gives the same\n"
        "                       value; a PIC card's flash is the start of its slot 1 file.\n");
}

}  // namespace kelvano
