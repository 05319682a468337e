// kelvano-cli: cards, dump and convert, the file side of the terminal front end. They drive
// the same file module as the window's open and save commands.
#include <QByteArray>
#include <QCoreApplication>
#include <cstdio>
#include <memory>

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
    QByteArray out;
    for (const TDeviceEntry& row : catalogue()) {
        // Code 30 has no menu entry and so no display name of its own.
        const QString name =
            row.displayName
                ? QString::fromLatin1(row.displayName)
                : QString::fromLatin1(row.controllerCaption) + QStringLiteral(" + ") +
                      QString::fromLatin1(row.eepromCaption).remove(QStringLiteral("EEPROM "));
        out += QStringLiteral("%1\t%2\t%3\t%4\t%5\n")
                   .arg(row.code)
                   .arg(name)
                   .arg(row.flashWords)
                   .arg(row.internalEepromBytes)
                   .arg(row.externalEepromBytes)
                   .toLatin1();
    }
    writeOut(out);
    return 0;
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
    if (type != QLatin1String("bin") && type != QLatin1String("hex"))
        return usageError(QStringLiteral("--type takes hex or bin, not \"%1\"").arg(type));

    FileSession s(args, false);
    if (!s.loadAll(args)) return 1;
    for (const auto& save : args.saves)
        if (!SaveTarget(save.second, type).write(*s.io, save.first)) return 1;
    // A failing write has shown its message but still counts as a save in the window.
    return s.host.errorCount() > 0 ? 1 : 0;
}

QString fileCommandsHelp() {
    return QStringLiteral(
        "\n"
        "File commands:\n"
        "  cards                one line per card type: code, name, flash words, internal and\n"
        "                       external EEPROM bytes, separated by TABs\n"
        "  --card CODE dump [--load SLOT=FILE]...\n"
        "                       selects the card type (a code of the list), loads the files in\n"
        "                       the order given and prints the [FLASH], [DATA] and\n"
        "                       [EEPROM] dumps (address TAB hex TAB characters per row), then for\n"
        "                       PIC cards [CONFIG] with CfgWord=XXXX and Id=X X X X, for card 31\n"
        "                       [CONFIG] with FuseLow=XX, FuseHigh=XX and LockByte=XX\n"
        "  --card CODE convert --load SLOT=FILE... --save SLOT=FILE... [--type hex|bin]\n"
        "                       loads the files, then saves each --save slot. The format follows\n"
        "                       the extension (.hex .h8 .eep Intel HEX, .bin binary, .s19 .s28\n"
        "                       .s37 .srec .mot S-records); a name\n"
        "                       without extension gets .hex, or .bin with --type bin\n"
        "\n"
        "  Slots: PIC cards 1 = flash, ID words, configuration word and data EEPROM together,\n"
        "  2 = external EEPROM; AVR cards 1 = flash, 2 = internal EEPROM, 3 = external EEPROM.\n"
        "  Files load by extension: .hex .h8 .eep Intel HEX, .bin binary, .obj AVR object,\n"
        "  .crd card dump (layouts of kelvano.crd beside the program or in the data folders "
        "first),\n"
        "  .s19 .s28 .s37 .srec .mot S-records, .txt TI-TXT, .elf avr-gcc ELF (flash, EEPROM,\n"
        "  fuses and lock bits in one load). ELF, S-record, TI-TXT, Tektronix extended and MOS\n"
        "  Technology files are also known by their content, whatever their name.\n"
        "  --type hex|bin       file type for --save names without extension (default hex)\n");
}

}  // namespace kelvano
