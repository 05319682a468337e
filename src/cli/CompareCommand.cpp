// kelvano-cli compare: the buffers (filled by --load) against a file, or against the card in
// the box. The report goes to standard output, as text or one line per run.
#include <QCoreApplication>
#include <algorithm>
#include <cstdio>
#include <memory>

#include "cli/CliParser.h"
#include "cli/Commands.h"
#include "cli/SaveTarget.h"
#include "cli/TerminalHost.h"
#include "device/Compare.h"
#include "device/FusePages.h"
#include "device/Models.h"
#include "device/uDevices.h"
#include "fileio/FileCompare.h"
#include "fileio/uFileio.h"

namespace kelvano {

int runCardCompare(const CliArgs& args, TDevices& buffers, FuseModel& fuses, TerminalHost& host,
                   std::optional<CompareReport>& report, bool& readFailed);

namespace {

int usageError(const QString& text) {
    std::fprintf(stderr, "kelvano-cli: %s\n(see kelvano-cli --help)\n", qPrintable(text));
    return 2;
}

bool parseSlotFile(const QString& value, int& slot, QString& file) {
    const int eq = value.indexOf(QLatin1Char('='));
    bool ok = false;
    slot = eq > 0 ? value.left(eq).toInt(&ok) : 0;
    file = eq > 0 ? value.mid(eq + 1) : QString();
    return ok && slot >= 1 && slot <= 3 && !file.isEmpty();
}

}  // namespace

namespace {

// The memories --memories leaves in a comparison with a file (all without it); false with
// `error` set on a malformed list.
bool memoriesAsked(const CliArgs& args, EnableBoxes& boxes, QString& error) {
    const QString list = args.options.value(QStringLiteral("memories"));
    return !args.options.contains(QStringLiteral("memories")) || parseMemories(list, boxes, error);
}

void keepAsked(CompareReport& report, const EnableBoxes& asked) {
    auto unasked = [&](const MemoryDiff& m) {
        if (m.key == QLatin1String("flash")) return !asked.prog;
        if (m.key == QLatin1String("data")) return !asked.data;
        if (m.key == QLatin1String("config")) return !asked.config;
        return !asked.eep;
    };
    report.memories.erase(std::remove_if(report.memories.begin(), report.memories.end(), unasked),
                          report.memories.end());
}

// The comparison's exit status: a failed read 4; differences 1; a memory left out (a
// protected controller, the loader not agreed to) 3; else 0.
int compareStatus(const CompareReport& report, bool readFailed) {
    if (readFailed) return ExitUnreadable;
    if (report.differences() > 0) return ExitFailed;
    return report.identical() ? ExitDone : ExitPartial;
}

}  // namespace

int runCompare(const CliArgs& args) {
    const bool withCard = !args.port.isEmpty();
    if (withCard == !args.positional.isEmpty())
        return usageError(
            QStringLiteral("compare needs either --port NAME (the card) or SLOT=FILE (a file)"));
    int slot = 0;
    QString file;
    if (!withCard &&
        (args.positional.size() != 1 || !parseSlotFile(args.positional.first(), slot, file)))
        return usageError(QStringLiteral("compare takes one SLOT=FILE with SLOT 1, 2 or 3"));
    if (!withCard && !cardHasSlot(args.card, slot))
        return usageError(QStringLiteral("compare %1: card type %2 has no slot %3")
                              .arg(args.positional.first())
                              .arg(args.card)
                              .arg(slot));
    EnableBoxes asked;
    QString error;
    if (!memoriesAsked(args, asked, error)) return usageError(error);

    TerminalHost host(args.options.contains(QStringLiteral("yes")));
    TDevices devices;
    devices.DeviceId = args.card;
    devices.ApplyBuffers(nullptr, false);
    FuseModel fuses;
    if (isPicCode(devices.DeviceId)) RefreshPicPage(devices, fuses);
    const QString crd = QCoreApplication::applicationDirPath() + QStringLiteral("/kelvano.crd");
    {
        auto io = std::make_unique<TFileIo>(host, devices, fuses, nullptr);
        io->setGridsShown(false);
        io->CrdPath = crd;
        for (const auto& load : args.loads)
            if (!loadSource(*io, load.second, load.first, QStringLiteral("hex"))) return ExitFailed;
    }

    std::optional<CompareReport> report;
    bool readFailed = false;
    if (withCard) {
        const int status = runCardCompare(args, devices, fuses, host, report, readFailed);
        if (status != ExitDone) return status;
    } else {
        report = compareWithFile(devices, file, slot, host, crd);
        if (report) keepAsked(*report, asked);
        if (report && report->memories.empty())
            return usageError(QStringLiteral("--memories %1 leaves nothing of slot %2 to compare")
                                  .arg(args.options.value(QStringLiteral("memories")))
                                  .arg(slot));
    }
    if (!report) return ExitFailed;
    const QString out =
        args.options.contains(QStringLiteral("diff-format")) ? report->diffLines() : report->text();
    return printResult(compareStatus(*report, readFailed), out, compareJson(*report));
}

}  // namespace kelvano
