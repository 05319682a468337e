// kelvano-cli checksum: the CRC-32 and the 16-bit sum of each memory of the card type after
// loading files, as the window shows them beside the file names.
#include <QJsonArray>
#include <QJsonObject>
#include <cstdio>
#include <memory>

#include "cli/CliParser.h"
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
    QString human;
    QJsonArray memories;
    for (const MemoryChecksum& m : memoryChecksums(devices)) {
        human += QStringLiteral("%1 %2 bytes  %3\n")
                     .arg(m.name, -16)
                     .arg(m.sum.bytes, 6)
                     .arg(m.sum.text());
        memories.append(QJsonObject{
            {"memory", m.name},
            {"bytes", qint64(m.sum.bytes)},
            {"crc32", QStringLiteral("%1").arg(m.sum.crc32, 8, 16, QLatin1Char('0')).toUpper()},
            {"sum", QStringLiteral("%1").arg(m.sum.sum16, 4, 16, QLatin1Char('0')).toUpper()}});
    }
    return printResult(ExitDone, human, {{"card", args.card}, {"memories", memories}});
}

}  // namespace kelvano
