// Arbitrary bytes as the settings file: both sections read for every family of card type,
// without a crash, with every value inside its range, and with a save and a second read
// giving back exactly what the first read gave.
#include <unistd.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <cstdio>
#include <cstdlib>

#include "FuzzRig.h"
#include "base/Options.h"
#include "device/FusePages.h"
#include "device/Models.h"
#include "device/uDevices.h"
#include "session/Settings.h"

namespace {

using namespace kelvano;

struct State {
    Options options;
    TDevices devices;
    EnableBoxes enable;
    FuseModel fuses;
    SlotFiles files;
    SettingsContext ctx{options, devices, enable, fuses, files, QStringLiteral("2.5.0.2"), {}};
    State() { options.ports = {"COM1", "COM2", "USB", "SIM"}; }
};

QString path() {
    static const QString p =
        QStringLiteral("%1/kelvano-fuzz-%2.ini")
            .arg(QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm")
                                                           : QDir::tempPath())
            .arg(getpid());
    return p;
}

void writeFile(const QByteArray& data) {
    QFile f(path());
    FUZZ_CHECK(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(data);
}

bool sameConfig(const State& a, const State& b) {
    const Options &x = a.options, &y = b.options;
    return x.portIndex == y.portIndex && x.conAtStart == y.conAtStart &&
           x.loadAtCon == y.loadAtCon && x.soundReady == y.soundReady && x.verify == y.verify &&
           x.alwaysErase == y.alwaysErase && x.smartAuto == y.smartAuto &&
           x.warnEnable == y.warnEnable && a.devices.DeviceId == b.devices.DeviceId &&
           a.files.SlotFile == b.files.SlotFile && a.files.SlotFilter == b.files.SlotFilter;
}

bool sameDevice(const State& a, const State& b) {
    const FuseModel &f = a.fuses, &g = b.fuses;
    const auto& m = f.mega163;
    const auto& n = g.mega163;
    const auto& p = f.mega161;
    const auto& q = g.mega161;
    return a.enable.prog == b.enable.prog && a.enable.data == b.enable.data &&
           a.enable.config == b.enable.config && a.enable.eep == b.enable.eep &&
           a.files.RecentFiles == b.files.RecentFiles && f.avr.lockBit1 == g.avr.lockBit1 &&
           f.avr.lockBit2 == g.avr.lockBit2 && f.avr.avrFuse == g.avr.avrFuse && m.osc == n.osc &&
           m.bootSize == n.bootSize && m.lb1 == n.lb1 && m.blb12 == n.blb12 &&
           m.bootrst == n.bootrst && p.osc == q.osc && p.lb2 == q.lb2 && p.boden == q.boden &&
           p.bodlevel == q.bodlevel;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 64 * 1024) return 0;
    writeFile(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    SettingsStore store(path());

    State first;
    IniConfig(store, first.ctx, false);
    FUZZ_CHECK(first.options.portIndex >= 0 &&
               first.options.portIndex < first.options.ports.size());
    for (const QString& f : first.files.SlotFile) FUZZ_CHECK(f.size() <= 2047);

    // Every family of sections: PIC, AT90S, ATmega161, ATmega163, and whatever "Device" says.
    const int codes[] = {10, 12, 22, 30, 31, first.devices.DeviceId};
    for (int code : codes) {
        State a;
        a.devices.DeviceId = code;
        IniDevice(store, a.ctx, false);
        FUZZ_CHECK(a.fuses.mega163.osc >= 0 && a.fuses.mega163.osc < 16);
        FUZZ_CHECK(a.fuses.mega163.bootSize >= 0 && a.fuses.mega163.bootSize < 4);
        FUZZ_CHECK(a.fuses.mega161.osc >= 0 && a.fuses.mega161.osc < 8);
        if (code != 10 && code != 31) continue;

        // What was read survives a save and a second read unchanged.
        FUZZ_CHECK(IniConfig(store, first.ctx, true));
        FUZZ_CHECK(IniDevice(store, a.ctx, true));
        State again;
        IniConfig(store, again.ctx, false);
        FUZZ_CHECK(sameConfig(first, again));
        again.devices.DeviceId = code;
        IniDevice(store, again.ctx, false);
        FUZZ_CHECK(sameDevice(a, again));
    }
    return 0;
}
