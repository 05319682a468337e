// kelvano-cli read | erase | blank | verify | program: the action runner of the window, driven
// from a terminal. The runner's timer runs in an event loop as it does under the dialog; the
// window is a progress line on standard error.
#include <unistd.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <cstdio>
#include <memory>

#include "actions/uActions.h"
#include "cli/CliLink.h"
#include "cli/Commands.h"
#include "cli/SaveTarget.h"
#include "cli/TerminalHost.h"
#include "device/FusePages.h"
#include "device/Models.h"
#include "device/uDevices.h"
#include "fileio/uFileio.h"
#include "link/LibusbBackend.h"
#include "link/QtSerialPortImpl.h"
#include "link/uCom.h"
#include "sim/SimBox.h"
#include "sim/SimSerialPort.h"

namespace kelvano {

namespace {

// Exit statuses of an action.
enum ExitStatus { kDone = 0, kFailed = 1, kUsage = 2, kPartial = 3, kInterrupted = 130 };

int usageError(const QString& text) {
    std::fprintf(stderr, "kelvano-cli: %s\n(see kelvano-cli --help)\n", qPrintable(text));
    return kUsage;
}

// The memories a file slot holds: PIC 1 flash, ID and configuration words, data EEPROM and
// 2 the external EEPROM; AVR 1 flash, 2 data EEPROM, 3 external EEPROM.
MemorySet slotMemories(int card, int slot) {
    if (isPicCode(card))
        return slot == 1 ? MemorySet{Memory::Program, Memory::Data, Memory::Configuration}
                         : MemorySet{Memory::ExternalEeprom};
    switch (slot) {
        case 1:
            return {Memory::Program};
        case 2:
            return {Memory::Data};
        default:
            return {Memory::ExternalEeprom};
    }
}

MemorySet tickedMemories(const EnableBoxes& e) {
    MemorySet m;
    if (e.prog) m.add(Memory::Program);
    if (e.data) m.add(Memory::Data);
    if (e.config) m.add(Memory::Configuration);
    if (e.eep) m.add(Memory::ExternalEeprom);
    return m;
}

// After a read, a slot is saved only when something of it was read and nothing of it that was
// asked for was left out: a file must not pass off blank buffers as the card's contents.
// Empty when it may be saved, else the reason.
QString unreadReason(int card, int slot, const ActionResult& result, MemorySet asked) {
    if (result.action != ActionCode::Read) return {};
    bool anyRead = false;
    for (Memory m :
         {Memory::Program, Memory::Data, Memory::Configuration, Memory::ExternalEeprom}) {
        if (!slotMemories(card, slot).has(m)) continue;
        if (result.read.has(m))
            anyRead = true;
        else if (asked.has(m))
            return QStringLiteral("its %1 was not read").arg(memoryName(m));
    }
    return anyRead ? QString() : QStringLiteral("nothing of it was read");
}

// The main window's part in an action, on a terminal: nothing to show.
class TerminalMainView final : public NullMainView {
public:
    void setQxPane(const QString& text) override { pane = text; }
    QString pane;
};

// The action window as one line on standard error: caption, label and a bar. Without a
// terminal on standard error each new label goes on a line of its own instead.
class TerminalActionView final : public ActionView {
public:
    explicit TerminalActionView(bool bar) : bar_(bar) {}

    void setCaption(const QString& caption) override {
        caption_ = caption;
        draw();
    }
    void setLabel(const QString& full) override {
        // Lines under "READY" say what was left out; the runner's result prints them.
        const QString text = full.section(QLatin1Char('\n'), 0, 0);
        if (text == label_) return;
        label_ = text;
        if (!bar_ && !text.isEmpty()) note(caption_ + QStringLiteral(": ") + text);
        draw();
    }
    void setLabelVisible(bool) override {}
    void setProgressPercent(int percent) override {
        percent_ = percent;
        draw();
    }
    void setProgressVisible(bool visible) override {
        visible_ = visible;
        draw();
    }
    void setAbortEnabled(bool) override {}
    void requestClose() override {
        if (onClose) onClose();
    }
    void showModeless() override {}
    void hideWindow() override { finishLine(); }

    // Ends the progress line so that later output starts on a line of its own.
    void finishLine() {
        if (bar_ && drawn_) std::fputc('\n', stderr);
        drawn_ = false;
    }

    std::function<void()> onClose;

private:
    void draw() {
        if (!bar_) return;
        constexpr int kWidth = 30;
        QByteArray line = "\r" + caption_.toLocal8Bit().leftJustified(20) + ' ' +
                          label_.toLocal8Bit().leftJustified(18);
        if (visible_) {
            const int filled = percent_ * kWidth / 100;
            line += " [" + QByteArray(filled, '#') + QByteArray(kWidth - filled, ' ') + "] " +
                    QByteArray::number(percent_).rightJustified(3) + '%';
        } else {
            line += QByteArray(kWidth + 8, ' ');
        }
        std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
        std::fflush(stderr);
        drawn_ = true;
    }

    bool bar_;
    bool drawn_ = false;
    bool visible_ = false;
    int percent_ = 0;
    QString caption_, label_;
};

// --lock-bits none|1|2|both, --fuse on|off, --mega163 LOCK:FUSELOW:FUSEHIGH.
bool parseConfiguration(const CliArgs& args, TDevices& devices, FuseModel& fuses, QString& error) {
    const QString lock =
        args.options.value(QStringLiteral("lock-bits"), QStringLiteral("both")).toLower();
    if (lock == QLatin1String("none"))
        fuses.avr.lockBit1 = fuses.avr.lockBit2 = false;
    else if (lock == QLatin1String("1")) {
        fuses.avr.lockBit1 = true;
        fuses.avr.lockBit2 = false;
    } else if (lock == QLatin1String("2")) {
        fuses.avr.lockBit1 = false;
        fuses.avr.lockBit2 = true;
    } else if (lock == QLatin1String("both"))
        fuses.avr.lockBit1 = fuses.avr.lockBit2 = true;
    else {
        error = QStringLiteral("--lock-bits takes none, 1, 2 or both, not \"%1\"").arg(lock);
        return false;
    }
    const QString fuse = args.options.value(QStringLiteral("fuse"), QStringLiteral("on")).toLower();
    if (fuse != QLatin1String("on") && fuse != QLatin1String("off")) {
        error = QStringLiteral("--fuse takes on or off, not \"%1\"").arg(fuse);
        return false;
    }
    fuses.avr.avrFuse = fuse == QLatin1String("on");
    if (args.options.contains(QStringLiteral("mega163"))) {
        const QStringList parts =
            args.options.value(QStringLiteral("mega163")).split(QLatin1Char(':'));
        bool ok = parts.size() == 3;
        uint8_t bytes[3] = {};
        for (int i = 0; ok && i < 3; ++i) {
            const uint v = parts[i].toUInt(&ok, 16);
            ok = ok && v <= 0xFF && parts[i].size() <= 2;
            bytes[i] = uint8_t(v);
        }
        if (!ok) {
            error = QStringLiteral("--mega163 takes LOCK:FUSELOW:FUSEHIGH as hex bytes, not \"%1\"")
                        .arg(args.options.value(QStringLiteral("mega163")));
            return false;
        }
        devices.LockByte = bytes[0];
        devices.FuseLow = bytes[1];
        devices.FuseHigh = bytes[2];
        RefreshMega163Page(devices, fuses);
    }
    return true;
}

// The action's options from the command line.
Options actionOptions(const CliArgs& args) {
    Options options;
    options.verify = args.options.contains(QStringLiteral("verify"));
    options.alwaysErase = args.options.contains(QStringLiteral("always-erase"));
    options.warnEnable = !args.options.contains(QStringLiteral("no-warnings"));
    options.smartAuto = !args.options.contains(QStringLiteral("no-wait"));
    return options;
}

// The card's buffers, fuse page and memory boxes as the command line sets them; false with
// `error` on a malformed --memories or configuration option.
bool setUpCard(const CliArgs& args, TDevices& devices, FuseModel& fuses, EnableBoxes& enable,
               QString& error) {
    devices.DeviceId = args.card;
    devices.ApplyBuffers();
    if (isPicCode(args.card)) RefreshPicPage(devices, fuses);
    ApplyAvrFuseBox(args.card, fuses);
    if (args.options.contains(QStringLiteral("memories")) &&
        !parseMemories(args.options.value(QStringLiteral("memories")), enable, error))
        return false;
    // As in the window: on loader cards, the external EEPROM takes the controller with it.
    cbEepMemClick(args.card, enable);
    return parseConfiguration(args, devices, fuses, error);
}

// The type --type gives to --save names without an extension and to "-"; "" when it is
// malformed.
QString saveType(const CliArgs& args) {
    const QString type = args.options.value(QStringLiteral("type"), QStringLiteral("hex"));
    return typeExtension(type).isEmpty() ? QString() : type;
}

// Why a --save target cannot be written, checked before the box is touched: what is read
// must have a place to go. Empty when every target can be written.
QString saveTargetsProblem(const CliArgs& args) {
    for (const auto& save : args.saves) {
        const QString problem =
            SaveTarget(save.second, saveType(args)).problem(args.card, save.first);
        if (!problem.isEmpty())
            return QStringLiteral("slot %1 cannot be saved to %2: %3")
                .arg(save.first)
                .arg(save.second, problem);
    }
    return {};
}

// A slot whose target failed after all (a full disk, a device that refused): its data goes to a
// file of its own in the temporary folder, whose path is printed. False when that failed too.
bool rescue(TFileIo& io, const TerminalHost& host, int slot, const SaveTarget& target) {
    const QString path = QDir(QDir::tempPath())
                             .filePath(QStringLiteral("kelvano-slot%1-%2%3")
                                           .arg(slot)
                                           .arg(QDateTime::currentDateTime().toString(
                                               QStringLiteral("yyyyMMdd-hhmmss-zzz")))
                                           .arg(target.extension()));
    const int before = host.errorCount();
    const bool kept = io.SaveFile(path, slot, 1) && host.errorCount() == before;
    if (kept)
        std::fprintf(stderr, "kelvano-cli: slot %d could not be written to %s; it is kept in %s\n",
                     slot, qPrintable(target.path()), qPrintable(path));
    return kept;
}

// Saves the slots of --save after a finished action, leaving out (with a message) those it did
// not read: kDone, kPartial when a slot or a memory was left out, kFailed when a save failed.
// A failed save does not stop the others, and its data is kept elsewhere.
int saveSlots(const CliArgs& args, const ActionResult& result, const EnableBoxes& enable,
              TFileIo& io, const TerminalHost& host, QStringList& saved) {
    int status = result.partial() ? kPartial : kDone;
    const MemorySet asked = tickedMemories(enable);
    bool failed = false;
    for (const auto& save : args.saves) {
        const QString reason = unreadReason(args.card, save.first, result, asked);
        if (!reason.isEmpty()) {
            std::fprintf(stderr, "kelvano-cli: slot %d not saved to %s: %s\n", save.first,
                         qPrintable(save.second), qPrintable(reason));
            status = kPartial;
            continue;
        }
        const SaveTarget target(save.second, saveType(args));
        const int before = host.errorCount();
        if (target.write(io, save.first) && host.errorCount() == before) {
            saved << QStringLiteral("%1=%2").arg(save.first).arg(save.second);
            continue;
        }
        failed = true;
        rescue(io, host, save.first, target);
    }
    return failed ? kFailed : status;
}

}  // namespace

int runAction(const CliArgs& args, int actionCode) {
    if (args.port.isEmpty()) return usageError(QStringLiteral("an action needs --port NAME"));
    if (!findDevice(args.card) || !findDevice(args.card)->actions)
        return usageError(
            QStringLiteral("no action handles card type %1 (see 'cards')").arg(args.card));

    const bool yes = args.options.contains(QStringLiteral("yes"));
    TerminalHost host(yes);
    RealClock clock;
    TerminalMainView mainView;
    Options options = actionOptions(args);

    TDevices devices;
    FuseModel fuses;
    EnableBoxes enable;
    QString error;
    if (!setUpCard(args, devices, fuses, enable, error)) return usageError(error);

    if (saveType(args).isEmpty())
        return usageError(QStringLiteral("--type takes hex, bin or srec, not \"%1\"")
                              .arg(args.options.value(QStringLiteral("type"))));
    auto io = std::make_unique<TFileIo>(host, devices, fuses, nullptr);
    io->CrdPath = Session::crdPathIn({});
    // A fuse or lock value named on the command line wins over the one of an ELF file.
    auto named = [&args](const QString& o) {
        return args.options.contains(o) ? "--" + o : QString();
    };
    io->KeepFuses({named("lock-bits"), named("fuse"), named("mega163")});
    for (const auto& load : args.loads)
        if (!loadSource(*io, load.second, load.first, saveType(args))) return 1;
    for (const QString& note : io->TakeFuseNotes())
        std::fprintf(stderr, "kelvano-cli: %s\n", qPrintable(note));
    // Where the results go is checked before the box is touched, and again (the runner's
    // check) just before the card is.
    if (const QString problem = saveTargetsProblem(args); !problem.isEmpty()) {
        std::fprintf(stderr, "kelvano-cli: %s\n", qPrintable(problem));
        return 1;
    }

    CliLink link(host, clock, mainView, options, args);
    if (!link.transcriptOk()) return 1;
    TCom& com = link.com();
    TActions actions(host, clock, devices, com, options, enable, fuses, mainView);
    TerminalActionView view(isatty(STDERR_FILENO) && !outputMode().quiet && !outputMode().verbose);
    ActionReport report{args.command, args.card, nullptr, tickedMemories(enable), {}, 0};
    QElapsedTimer timer;
    timer.start();
    actions.setView(&view);
    actions.setControllerCheck(!args.options.contains(QStringLiteral("force")));
    actions.preflight().targets = [&args] { return saveTargetsProblem(args); };
    link.attach(actions, [&] { view.finishLine(); });
    if (!link.connect()) {
        view.finishLine();
        link.notUp(host);
        report.milliseconds = timer.elapsed();
        return link.finish(reportAction(link.interrupted() ? kInterrupted : kFailed, report));
    }
    if (!mainView.pane.isEmpty()) note(mainView.pane);

    runUntilFormCloses(view.onClose, [&] { actions.start(actionCodeOf(actionCode)); });
    actions.FormClose();
    view.finishLine();
    const ActionResult& result = actions.result();
    const bool ready = result.ready && host.errorCount() == 0;
    com.Disconnect();
    for (const QString& text : result.notices) note(QStringLiteral("kelvano-cli: ") + text);
    report.result = &result;
    const int status = link.interrupted() ? kInterrupted
                       : !ready           ? kFailed
                                : saveSlots(args, result, enable, *io, host, report.saved);
    report.milliseconds = timer.elapsed();
    return link.finish(reportAction(status, report));
}

}  // namespace kelvano
