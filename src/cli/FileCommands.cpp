// kelvano-cli: cards, dump and convert, the file side of the terminal front end. They drive
// the same file module as the window's open and save commands.
#include <QByteArray>
#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <cstdio>
#include <memory>

#include "cli/CliParser.h"
#include "cli/Commands.h"
#include "cli/SaveTarget.h"
#include "cli/TerminalHost.h"
#include "device/FusePages.h"
#include "device/uDevices.h"
#include "fileio/uFileio.h"
#include "session/Session.h"

namespace kelvano {

namespace {
int usageError(const QString& text) {
    std::fprintf(stderr, "kelvano-cli: %s\n(see kelvano-cli --help)\n", qPrintable(text));
    return 2;
}

QString hex(unsigned v, int digits) {
    return QStringLiteral("%1").arg(v, digits, 16, QLatin1Char('0')).toUpper();
}

// The selected card and its file module, as the window holds them, without a window.
struct FileSession {
    FileSession(const CliArgs& args, bool withGrids)
        : host(args.options.contains(QStringLiteral("yes"))) {
        devices.DeviceId = args.card;
        // A conversion never shows the grids: building their texts for a large card would
        // cost more than reading and writing the files.
        devices.ApplyBuffers(nullptr, withGrids);
        if (isPicCode(devices.DeviceId)) RefreshPicPage(devices, fuses);
        io = std::make_unique<TFileIo>(host, devices, fuses, nullptr);
        io->setGridsShown(withGrids);
        io->CrdPath = Session::crdPathIn({});
    }
    // Loads every --load in the order given; false at the first failure (already shown).
    bool loadAll(const CliArgs& args) {
        for (const auto& load : args.loads)
            if (!io->OpenFile(load.second, load.first)) return false;
        return true;
    }

    TerminalHost host;
    TDevices devices;
    FuseModel fuses;
    std::unique_ptr<TFileIo> io;  // 64 KiB image: not on the stack
};

void appendGrid(QByteArray& out, const char* title, const DumpGrid& grid) {
    out += title;
    out += '\n';
    for (int r = 0; r < grid.rowCount(); ++r) {
        out += grid.address(r).toLatin1();
        out += '\t';
        out += grid.hex(r).toLatin1();
        out += '\t';
        out += grid.text(r).toLatin1();
        out += '\n';
    }
}
}  // namespace

int runCards(const CliArgs&) {
    QString human;
    QJsonArray cards;
    for (const TDeviceEntry& row : catalogue()) {
        // A sixth field for the types that only the file commands take, so that a script can
        // tell them from those an action handles.
        human +=
            QStringLiteral("%1\t%2\t%3\t%4\t%5%6\n")
                .arg(row.code)
                .arg(cardName(row))
                .arg(row.flashWords)
                .arg(row.internalEepromBytes)
                .arg(row.externalEepromBytes)
                .arg(row.actions ? QString() : QStringLiteral("\tno action handles this type"));
        cards.append(QJsonObject{{"code", row.code},
                                 {"name", cardName(row)},
                                 {"flashWords", row.flashWords},
                                 {"internalEepromBytes", row.internalEepromBytes},
                                 {"externalEepromBytes", row.externalEepromBytes},
                                 {"actions", bool(row.actions)}});
    }
    return printResult(ExitDone, human, {{"cards", cards}});
}

int runDump(const CliArgs& args) {
    FileSession s(args, true);
    if (!s.loadAll(args) || s.host.errorCount() > 0) return 1;

    const TDevices& d = s.devices;
    QByteArray out;
    appendGrid(out, "[FLASH]", d.pGrid);
    appendGrid(out, "[DATA]", d.dGrid);
    appendGrid(out, "[EEPROM]", d.eGrid);
    if (isPicCode(d.DeviceId)) {
        out += "[CONFIG]\nCfgWord=" + hex(d.CfgWord, 4).toLatin1() + "\nId=";
        for (int k = 0; k < 4; ++k) {
            const unsigned id = k < d.IdBuf.length() ? d.IdBuf[k] & 0xF : 0xF;
            out += hex(id, 1).toLatin1();
            out += k < 3 ? ' ' : '\n';
        }
    } else if (const TDeviceEntry* row = findDevice(d.DeviceId); row && row->megaFuseBytes()) {
        out += "[CONFIG]\nFuseLow=" + hex(d.FuseLow, 2).toLatin1() +
               "\nFuseHigh=" + hex(d.FuseHigh, 2).toLatin1() +
               "\nLockByte=" + hex(d.LockByte, 2).toLatin1() + '\n';
    }
    writeOut(out);
    return 0;
}

int runConvert(const CliArgs& args) {
    if (args.loads.isEmpty())
        return usageError(QStringLiteral("convert needs at least one --load SLOT=FILE"));
    if (args.saves.isEmpty()) return usageError(QStringLiteral("convert needs --save SLOT=FILE"));
    const QString type = args.options.value(QStringLiteral("type"), QStringLiteral("hex"));
    if (typeExtension(type).isEmpty())
        return usageError(QStringLiteral("--type takes hex, bin or srec, not \"%1\"").arg(type));

    FileSession s(args, false);
    if (!s.loadAll(args)) return 1;
    for (const auto& save : args.saves)
        if (!SaveTarget(save.second, type).write(*s.io, save.first)) return 1;
    // A failing write has shown its message but still counts as a save in the window.
    return s.host.errorCount() > 0 ? 1 : 0;
}

}  // namespace kelvano
