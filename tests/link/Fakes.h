#pragma once
// Scripted stand-ins for the port, the USB driver, the window and the user, all in virtual
// time: a read that times out moves the clock by exactly the time-out asked for.
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <cerrno>
#include <deque>
#include <functional>
#include <map>
#include <vector>

#include "base/Clock.h"
#include "base/Host.h"
#include "base/MainView.h"
#include "base/PortError.h"
#include "base/SerialPort.h"
#include "base/UsbBackend.h"

namespace kelvano::test {

class FakeSerialPort : public SerialPort {
public:
    explicit FakeSerialPort(VirtualClock& clock) : clock_(clock) {}

    // Called with every write; a script answers through send().
    std::function<void(FakeSerialPort&, const QByteArray&)> onWrite;
    bool failOpen = false;
    int failRts = 0;  // system code of a failing RTS change, 0 for none
    bool failWrite = false;

    // Bytes that arrive `delayMs` from now (all at once) ...
    void send(const QByteArray& bytes, qint64 delayMs = 0) {
        for (char c : bytes) input_.push_back({clock_.nowMs() + delayMs, uchar(c)});
    }
    // ... or one every `gapMs`, the first after `delayMs`.
    void sendSpaced(const QByteArray& bytes, qint64 delayMs, qint64 gapMs) {
        qint64 at = clock_.nowMs() + delayMs;
        for (char c : bytes) {
            input_.push_back({at, uchar(c)});
            at += gapMs;
        }
    }
    qsizetype pendingInput() const { return qsizetype(input_.size()); }

    void open(const QString& name, int baud) override {
        if (failOpen) throw PortError(PortError::Open, ENOENT);
        openedName = name;
        openedBaud = baud;
        open_ = true;
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
        if (!input_.empty() && input_.front().at <= clock_.nowMs() + timeoutMs) {
            const Pending p = input_.front();
            input_.pop_front();
            if (p.at > clock_.nowMs()) clock_.advance(p.at - clock_.nowMs());
            return p.byte;
        }
        clock_.sleepMs(timeoutMs);
        return -1;
    }
    void purge() override {
        if (!open_) throw PortError(PortError::Purge, EBADF);
        ++purges;
        // Only what has already arrived is discarded; the box may still be sending.
        while (!input_.empty() && input_.front().at <= clock_.nowMs()) input_.pop_front();
    }
    void setRts(bool on) override {
        if (!open_) throw PortError(PortError::Escape, EBADF);
        if (failRts) throw PortError(PortError::Escape, failRts);
        rts.push_back(on);
    }

    QList<QByteArray> writes;
    std::vector<int> readWaits;
    std::vector<bool> rts;
    int purges = 0;
    QString openedName;
    int openedBaud = 0;

private:
    struct Pending {
        qint64 at;
        uchar byte;
    };
    VirtualClock& clock_;
    std::deque<Pending> input_;
    bool open_ = false;
};

// A serial box in the fake port's script: prompt mode until "QXAT%\r", then command frames.
struct FakeBox {
    QByteArray id1 = "STRAVINEX QXBASE", id2 = "V2.10", id3 = "0012345";
    QString firmware = "010203";  // version word and revision as the box reports them
    bool answerSync = true;       // answer "QXAT\r" with '>'
    int syncAnswersLeft = -1;     // stop answering syncs after this many (-1: never stop)
    bool answerId = true;
    bool answerKeepAlive = true;
    bool commandMode = false;
    QList<QByteArray> uploadLines;
    std::map<QByteArray, QByteArray> replies;  // command frame -> reply bytes

    void install(FakeSerialPort& port) {
        port.onWrite = [this](FakeSerialPort& p, const QByteArray& w) { answer(p, w); };
    }
    void answer(FakeSerialPort& p, const QByteArray& w) {
        if (commandMode) {
            if (w == "@*") {
                if (answerKeepAlive) p.send("!");
            } else if (auto it = replies.find(w); it != replies.end()) {
                p.send(it->second);
            }
            return;
        }
        if (w == "QXAT\r") {
            if (answerSync && syncAnswersLeft != 0) {
                if (syncAnswersLeft > 0) --syncAnswersLeft;
                p.send("\r\n>");
            }
        } else if (w == "QXAT!V#\r") {
            if (answerId) p.send(id1 + "\r\n" + id2 + "\r\n" + id3 + "\r\n");
        } else if (w == "QXATQ\r") {
            p.send(QByteArray(38, '.') + firmware.toLatin1() + "\r\n");
        } else if (w.startsWith("QXATU")) {
            uploadLines.append(w);
        } else if (w == "QXAT%\r") {
            commandMode = true;
        }
    }
};

class FakeUsbBackend : public UsbBackend {
public:
    std::vector<int> present{0};        // device numbers k that open
    std::vector<int> endpoints{0x82, 0x02};
    QByteArray descriptor = stringDescriptorBytes("QXUSB 1.0");
    bool failPipeInfo = false;
    int failWritesFrom = -1;            // writes with this index or later fail (-1: none)
    std::deque<QByteArray> readReplies;  // answers of bulkRead, in order

    static QByteArray stringDescriptorBytes(const QByteArray& text) {
        QByteArray d;
        d.append(char(2 + 2 * text.size()));
        d.append(char(3));
        for (char c : text) {
            d.append(c);
            d.append('\0');
        }
        return d;
    }

    bool openDevice(int k) override {
        openAttempts.push_back(k);
        for (int p : present)
            if (p == k) {
                openK = k;
                return true;
            }
        return false;
    }
    void closeDevice() override { openK = -1; }
    bool isOpen() const override { return openK >= 0; }
    bool pipeInfo(QByteArray& info) override {
        if (failPipeInfo) return false;
        info = QByteArray(336, '\0');
        const int n = int(endpoints.size());
        info[12] = char(n);
        for (int i = 0; i < n && 16 + 20 * i + 2 < 336; ++i) info[16 + 20 * i + 2] = char(endpoints[size_t(i)]);
        return true;
    }
    bool stringDescriptor(int index, int length, QByteArray& out) override {
        descriptorRequests.push_back({index, length});
        if (index != 2 || descriptor.isEmpty()) return false;
        out = descriptor.left(length);
        return true;
    }
    bool bulkWrite(int pipe, const QByteArray& bytes) override {
        const int index = int(bulkWrites.size());
        bulkWrites.push_back({pipe, bytes});
        return failWritesFrom < 0 || index < failWritesFrom;
    }
    int bulkRead(int pipe, uint8_t* buffer, int capacity) override {
        bulkReads.push_back(pipe);
        if (readReplies.empty()) return -1;
        const QByteArray r = readReplies.front();
        readReplies.pop_front();
        const int n = int(std::min<qsizetype>(r.size(), capacity));
        std::copy(r.constData(), r.constData() + n, buffer);
        return n;
    }

    int openK = -1;
    std::vector<int> openAttempts;
    std::vector<std::pair<int, int>> descriptorRequests;
    std::vector<std::pair<int, QByteArray>> bulkWrites;
    std::vector<int> bulkReads;
};

class RecordingHost : public Host {
public:
    void showError(const QString& text) override { errors << text; }
    bool askOkAbort(const QString&, const QString&) override { return true; }
    void beep() override {}
    void processEvents() override {
        ++pumps;
        if (onPump) onPump();
    }
    QStringList errors;
    int pumps = 0;
    std::function<void()> onPump;
};

class RecordingView : public MainView {
public:
    void setLamp(bool lit) override { lamp = lit; }
    void toggleLamp() override {
        lamp = !lamp;
        ++toggles;
    }
    void showConnected(bool c) override {
        connected = c;
        lamp = c;
        updates << (c ? "connected" : "disconnected");
    }
    void setQxPane(const QString& text) override { pane = text; }
    void appendDebug(const QString& line) override { debug << line; }
    void fastOpen() override { ++fastOpens; }
    void showMemoryPage(int) override {}
    void setFileLabel(int, const QString&) override {}

    bool lamp = false;
    int toggles = 0;
    bool connected = false;
    QStringList updates;
    QString pane = "untouched";
    QStringList debug;
    int fastOpens = 0;
};

class RecordingProgress : public ProgressView {
public:
    void showProgressWindow(const QString& caption) override {
        shown = true;
        captions << caption;
    }
    void setProgressTotal(int t) override { total = t; }
    void setProgressPosition(int p) override { position = p; }
    void hideProgressWindow() override { shown = false; }
    bool shown = false;
    QStringList captions;
    int total = 0, position = 0;
};

}  // namespace kelvano::test
