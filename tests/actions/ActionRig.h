#pragma once
// A complete set of the program's modules around one simulated box, in virtual time.
#include <gtest/gtest.h>

#include <QMap>
#include <QRegularExpression>
#include <QStringList>
#include <functional>
#include <memory>
#include <ostream>
#include <vector>

#include "actions/Compare.h"
#include "actions/uActions.h"
#include "base/Clock.h"
#include "link/ImageStore.h"
#include "link/uCom.h"
#include "sim/SimBox.h"
#include "sim/SimFault.h"
#include "sim/SimSerialPort.h"
#include "sim/SimUsbBackend.h"

// Readable failure messages for texts and lists of texts.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace kelvano::test {

using M = SimBox::Model;
constexpr M S = M::Serial, U = M::Usb;

struct RecordingHost : Host {
    QStringList errors;
    QStringList questions;  // caption + "|" + text
    bool answerOk = true;
    int beeps = 0;
    std::function<void()> onEvents;  // runs at every pending-events point

    void showError(const QString& text) override { errors << text; }
    bool askOkAbort(const QString& caption, const QString& text) override {
        questions << caption + QLatin1Char('|') + text;
        return answerOk;
    }
    void beep() override { ++beeps; }
    void processEvents() override {
        if (onEvents) onEvents();
    }
};

struct RecordingMainView : NullMainView {
    int lampToggles = 0;
    void toggleLamp() override { ++lampToggles; }
};

struct RecordingView : NullActionView {
    int closeRequests = 0, sounds = 0;
    void requestClose() override { ++closeRequests; }
    void playReadySound() override { ++sounds; }
};

// Made-up loader images: the box runs a loader when the controller holds the image of its
// card type, whatever the bytes are. PIC words stay within 14 bits.
inline QMap<QString, QByteArray> testLoaders() {
    auto make = [](int size, int seed, bool pic) {
        QByteArray b(size, '\0');
        for (int i = 0; i < size; ++i)
            b[i] = char(((i * 37 + seed * 11) & 0xFF) & (pic && i % 2 ? 0x3F : 0xFF));
        return b;
    };
    return {{"FUNLOAD", make(300, 1, false)},
            {"AVRLOAD", make(64, 2, false)},
            {"DS9LOAD", make(80, 3, true)},
            {"PICLOAD", make(48, 4, true)}};
}

inline ImageStore storeOf(const QMap<QString, QByteArray>& loaders) {
    QList<QPair<QString, QByteArray>> entries{{QStringLiteral("QXUSB"), QByteArray(4, '\x01')}};
    for (const auto& [name, bytes] : loaders.asKeyValueRange()) entries.append({name, bytes});
    return ImageStore(ImageStore::pack(entries));
}

// A command the program sent and the wait (ms) it gave the first byte of the answer.
struct WireExchange {
    QString command;
    int waitMs = -1;
};

// The simulated line, noting the wait the program asks of the port for each command's answer.
class WaitRecordingPort : public SimSerialPort {
public:
    WaitRecordingPort(SimBox& box, Clock& clock, std::vector<WireExchange>& log)
        : SimSerialPort(box, clock), log_(log) {}
    void write(const QByteArray& bytes) override {
        pending_ = bytes.startsWith('@') && bytes != "@*";
        if (pending_) log_.push_back({QString::fromLatin1(bytes.mid(1)), -1});
        SimSerialPort::write(bytes);
    }
    int readByte(int timeoutMs) override {
        if (pending_) log_.back().waitMs = timeoutMs;
        pending_ = false;
        return SimSerialPort::readByte(timeoutMs);
    }

private:
    std::vector<WireExchange>& log_;
    bool pending_ = false;
};

// Exactly the memories in `ticked` ticked ("PDCE": program, data, configuration, external
// EEPROM); connected to the box unless `connectNow` is false (for what must be set first).
class ActionRig {
public:
    explicit ActionRig(int card, SimBox::Model model = SimBox::Model::Serial,
                       const char* ticked = "PDCE", bool connectNow = true)
        : box(model, card),
          usbBackend(box),
          usb(&usbBackend),
          com(
              host, clock, mainView, options, usb,
              [this](const QString&) {
                  auto port = std::make_unique<WaitRecordingPort>(box, clock, wire);
                  if (lineSpeed) port->setLineSpeed(lineSpeed);
                  return port;
              },
              storeOf(testLoaders())),
          actions(host, clock, devices, com, options, enable, fuses, mainView) {
        box.setLoaderImages(testLoaders());
        devices.DeviceId = card;
        devices.ApplyBuffers();
        fuses.avr.lockBit1 = fuses.avr.lockBit2 = false;  // leave cards readable by default
        RefreshPicPage(devices, fuses);
        const QString t = QString::fromLatin1(ticked);
        enable.prog = t.contains('P'), enable.data = t.contains('D');
        enable.config = t.contains('C'), enable.eep = t.contains('E');
        actions.setView(&view);
        actions.setControllerCheck(false);  // the sequences alone; the check has its own tests
        options.ports = {model == SimBox::Model::Usb ? QStringLiteral("USB")
                                                     : QStringLiteral("SIM")};
        options.portIndex = 0;
        EXPECT_TRUE(!connectNow || connect());
    }

    // The store built into the program on both sides: its demo loaders run on the simulated box.
    void useBuiltInStore() {
        com.setStore(ImageStore(ImageStore::builtInData()));
        box.setLoaderImages(SimBox::builtInLoaders());
    }
    // A fault in the box's option syntax ("wrong,on=R04,at=7").
    void fault(const QString& text) { box.addFault(*SimFault::parse(text)); }

    bool connect() {
        com.Connect();
        box.clearTrace();
        wire.clear();
        return com.linkReady();
    }

    // Shows the window with an action and drives its timer until the runner asks to close,
    // then closes it. Returns the number of ticks.
    int run(int code, int maxTicks = 1000) {
        return drive(
            actions, [&] { actions.start(actionCodeOf(code)); }, maxTicks);
    }
    // The same for any runner on this box, started by `start`.
    int drive(TActions& runner, const std::function<void()>& start, int maxTicks = 1000) {
        start();
        int ticks = 0;
        while (!runner.closeRequested() && ticks < maxTicks) {
            clock.advance(runner.tickIntervalMs());
            runner.Startup();
            ++ticks;
        }
        runner.FormClose();
        return ticks;
    }

    // Compares the card with the buffers as the window does, its runner checking the
    // controller as `actions` does (or as it is made, with `asMade`).
    CompareReport compareCard(bool* failed = nullptr, bool asMade = false) {
        CardCompare c(host, clock, devices, com, options, enable, mainView);
        c.runner().setView(&view);
        if (!asMade) c.runner().setControllerCheck(actions.controllerCheck());
        c.prepare();
        drive(
            c.runner(), [&] { c.runner().start(ActionCode::Read, c.memories()); }, 100);
        if (failed) *failed = c.failed();
        return c.report();
    }

    // Buffers whose words and bytes differ from address to address (PIC words in 14 bits).
    void fillBuffers() {
        TDevices& d = devices;
        const unsigned mask = isPicCode(d.DeviceId) ? 0x3FFF : 0xFFFF;
        for (int i = 0; i < d.ProgBuf.length(); ++i) d.ProgBuf[i] = uint16_t((i * 0x2A5) & mask);
        for (int i = 0; i < d.DataBuf.length(); ++i) d.DataBuf[i] = uint16_t((i ^ 0xA5) & 0xFF);
        for (int i = 0; i < d.EepBuf.length(); ++i) d.EepBuf[i] = uint16_t((i * 5) & 0xFF);
    }
    // The card in the box holds what the buffers hold.
    void cardHoldsBuffers() {
        SimCard& c = box.card();
        for (int i = 0; i < devices.ProgBuf.length(); ++i) c.flash[size_t(i)] = devices.ProgBuf[i];
        for (int i = 0; i < devices.DataBuf.length(); ++i)
            c.data[size_t(i)] = uint8_t(devices.DataBuf[i]);
        for (int i = 0; i < devices.EepBuf.length(); ++i)
            c.eeprom[size_t(i)] = uint8_t(devices.EepBuf[i]);
    }

    bool ready() const { return actions.result().ready && host.errors.isEmpty(); }

    // Command texts the box received since the last clear (without "@", keep-alives left out).
    QStringList commands() const {
        QStringList out;
        for (const auto& e : box.trace()) {
            if (e.channel == SimBox::TraceEntry::Channel::Command && e.received != "@*")
                out << QString::fromLatin1(e.received.mid(1));
            else if (e.channel == SimBox::TraceEntry::Channel::Usb)
                out << QString::fromLatin1(e.received.toHex().toUpper());
        }
        return out;
    }
    // The commands that start with `prefix`, in order.
    QStringList sent(const QString& prefix) const {
        return commands().filter(QRegularExpression('^' + QRegularExpression::escape(prefix)));
    }

    int lineSpeed = 0;               // baud of the simulated line; 0: no line time
    std::vector<WireExchange> wire;  // the command frames sent since the connect
    VirtualClock clock;
    RecordingHost host;
    RecordingMainView mainView;
    Options options;
    SimBox box;
    SimUsbBackend usbBackend;
    TUsb usb;
    TDevices devices;
    EnableBoxes enable;
    FuseModel fuses;
    TCom com;
    TActions actions;
    RecordingView view;
};

}  // namespace kelvano::test
