#pragma once
// Scripted stand-ins for the port, the window and the user, in virtual time (a
// read that times out moves the clock by exactly the time-out asked for), and a TCom on them.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <cerrno>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "base/Clock.h"
#include "base/Host.h"
#include "base/MainView.h"
#include "base/PortError.h"
#include "base/SerialPort.h"
#include "link/uCom.h"

namespace kelvano::test {

// Timers and processes need a QCoreApplication for the whole run of a test program.
inline int qtArgc = 1;
inline char qtName[] = "kelvano-test";
inline char* qtArgv[] = {qtName, nullptr};
inline QCoreApplication qtApp(qtArgc, qtArgv);

struct FakeSerialPort : SerialPort {
    explicit FakeSerialPort(VirtualClock& clock) : clock_(clock) {}

    std::function<void(FakeSerialPort&, const QByteArray&)> onWrite;  // answers via send()
    bool failOpen = false, failWrite = false;
    int failRts = 0;  // system code of a failing RTS change

    // Bytes that arrive `delayMs` from now, or `gapMs` apart from then on.
    void send(const QByteArray& bytes, qint64 delayMs = 0, qint64 gapMs = 0) {
        for (char c : bytes)
            input_.push_back({clock_.nowMs() + delayMs, uchar(c)}), delayMs += gapMs;
    }

    void open(const QString& name, int baud) override {
        if (failOpen) throw PortError(PortError::Open, ENOENT, name);
        openedName = name, openedBaud = baud, open_ = true;
    }
    void close() override { open_ = false; }
    bool isOpen() const override { return open_; }
    void write(const QByteArray& bytes) override {
        if (!open_ || failWrite) throw PortError(PortError::Write, open_ ? EIO : EBADF);
        writes.append(bytes);
        if (onWrite) onWrite(*this, bytes);
    }
    int readByte(int timeoutMs) override {
        if (!open_) throw PortError(PortError::Read, EBADF);
        readWaits.push_back(timeoutMs);
        if (!input_.empty() && input_.front().first <= clock_.nowMs() + timeoutMs) {
            const auto [at, byte] = input_.front();
            input_.pop_front();
            clock_.advance(std::max<qint64>(0, at - clock_.nowMs()));
            return byte;
        }
        clock_.sleepMs(timeoutMs);
        return -1;
    }
    void purge() override {  // only what has already arrived is discarded
        if (!open_) throw PortError(PortError::Purge, EBADF);
        while (!input_.empty() && input_.front().first <= clock_.nowMs()) input_.pop_front();
    }
    void setRts(bool on) override {
        if (!open_ || failRts) throw PortError(PortError::Escape, open_ ? failRts : EBADF);
        rts.push_back(on);
    }

    QList<QByteArray> writes;
    std::vector<int> readWaits;
    std::vector<bool> rts;
    QString openedName;
    int openedBaud = 0;
    VirtualClock& clock_;
    std::deque<std::pair<qint64, uchar>> input_;  // arrival time, byte
    bool open_ = false;
};

// A serial box in the fake port's script: prompt mode until "QXAT%\r", then command frames.
struct FakeBox {
    QByteArray id1 = "STRAVINEX QXBASE";
    int syncAnswersLeft = -1;  // answer this many "QXAT\r" with '>' (-1: all)
    bool failOpen = false, answerId = true, answerKeepAlive = true, commandMode = false;
    QList<QByteArray> idAnswers;    // answers to the next "QXAT!V#\r"s, before the usual one
    QByteArray version = "010203";  // version 0102, revision 03
    bool takeUpload = true;         // a line at 8010 sets the version from its bytes 19 to 21
    QList<QByteArray> uploadLines;
    std::map<QByteArray, QByteArray> replies;  // command frame -> reply bytes
    QByteArray breakPortAt;  // the port fails every write after one that starts so

    void answer(FakeSerialPort& p, const QByteArray& w) {
        p.failWrite = p.failWrite || (!breakPortAt.isEmpty() && w.startsWith(breakPortAt));
        if (commandMode) {
            if (w == "@*" && answerKeepAlive) p.send("!");
            if (auto it = replies.find(w); it != replies.end()) p.send(it->second);
        } else if (w == "QXAT\r" && syncAnswersLeft != 0) {
            syncAnswersLeft -= syncAnswersLeft > 0;
            p.send("\r\n>");
        } else if (w == "QXAT!V#\r" && !idAnswers.isEmpty()) {
            p.send(idAnswers.takeFirst());
        } else if (w == "QXAT!V#\r" && answerId) {
            p.send(id1 + "\r\nV2.10\r\n0012345\r\n");
        } else if (w == "QXATQ\r") {
            p.send(QByteArray(38, '.') + version + "\r\n");
        }
        if (w.startsWith("QXATU")) uploadLines.append(w);
        if (w.startsWith("QXATU8010") && takeUpload) version = w.mid(9 + 6, 6);
        commandMode = commandMode || w == "QXAT%\r";
    }
};

struct RecordingHost : Host {
    void showError(const QString& text) override { errors << text; }
    bool askOkAbort(const QString&, const QString&) override { return true; }
    void beep() override {}
    void processEvents() override {}
    QStringList errors;
};

struct RecordingView : NullMainView, ProgressView {
    void toggleLamp() override { ++toggles; }
    void showConnected(bool c) override {
        connected = c, updates << (c ? "connected" : "disconnected");
    }
    void setQxPane(const QString& text) override { pane = text; }
    void appendDebug(const QString& line) override { debug << line; }
    void fastOpen() override { ++fastOpens; }
    void showProgressWindow(const QString&) override { progressShown = true; }
    void setProgressTotal(int) override {}
    void setProgressPosition(int) override {}
    void hideProgressWindow() override { progressShown = false; }

    bool connected = false, progressShown = false;
    int toggles = 0, fastOpens = 0;
    QStringList updates, debug;
    QString pane = "untouched";
};

// A TCom on a scripted box behind a fake port, a fake USB driver and recording views.
class LinkFixture : public ::testing::Test {
protected:
    void SetUp() override { options.ports = {"/dev/ttyS0", "USB", "usb"}, options.portIndex = 0; }

    TCom& make() {
        const auto factory = [this](const QString&) {
            auto p = std::make_unique<FakeSerialPort>(clock);
            p->failOpen = box.failOpen;
            p->onWrite = [this](FakeSerialPort& on, const QByteArray& w) { box.answer(on, w); };
            port = p.get();
            return p;
        };
        com = std::make_unique<TCom>(host, clock, view, options, usb, factory, store);
        com->setProgressView(&view);
        return *com;
    }
    // Connected to a box that is not the QXBASE model, its traffic so far forgotten.
    TCom& connectPlainBox() {
        box.id1 = "STRAVINEX QXPLUS";
        make().Connect();
        EXPECT_TRUE(com->linkReady());
        port->writes.clear(), port->readWaits.clear();
        return *com;
    }
    qint64 elapsed(const std::function<void()>& f) {
        const qint64 start = clock.nowMs();
        return f(), clock.nowMs() - start;
    }

    VirtualClock clock;
    RecordingHost host;
    RecordingView view;
    Options options;
    TUsb usb;  // given a backend by the USB tests
    FakeBox box;
    ImageStore store{ImageStore::pack({{"QXUSB", "usb"}})};
    FakeSerialPort* port = nullptr;
    std::unique_ptr<TCom> com;
};

}  // namespace kelvano::test
