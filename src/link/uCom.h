#pragma once
#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>

#include "base/Clock.h"
#include "base/Host.h"
#include "base/MainView.h"
#include "base/Options.h"
#include "base/PortError.h"
#include "base/SerialPort.h"
#include "link/ImageStore.h"
#include "link/uUsb.h"

namespace kelvano {

// The link to the box: the serial port with its two framings (prompt mode while connecting,
// "@" command frames afterwards), the keep-alive, connect / disconnect / firmware upload,
// and the choice of USB. All waits are wait values w, meaning 3 x w milliseconds; every wait
// goes through the port's read time-out or the Clock.
//
// Everything runs on the user-interface thread. Tim1 (the keep-alive) runs only while a serial
// link is up; Transact stops it for the length of an exchange and starts it afterwards.
class TCom : public QObject {
    Q_OBJECT
public:
    // What the last connect found out about the box's firmware (for reports such as
    // kelvano-cli info).
    enum class Firmware {
        Unknown,    // no serial connect got that far
        NotQxBase,  // the box is not the QXBASE model: nothing to check
        NoImage,    // the store carries no QXBASE image: check skipped
        NoStore,    // the image store file is damaged or unreadable: check skipped
        Current,    // the box already runs the carried firmware
        Uploaded,   // the carried firmware was uploaded
        Failed,     // the check or the upload failed (or the image was refused)
        Refused,    // uploaded, but the box still reports its old version
    };

    TCom(Host& host, Clock& clock, MainView& view, Options& options, TUsb& usb,
         SerialPortFactory portFactory, ImageStore store, QObject* parent = nullptr);
    ~TCom() override;

    // Link state (read by the action runner and the sequences).
    QString IdLine1, IdLine2, IdLine3;
    int MissCount = 0;
    bool UsbSelected = false;
    bool UsbConnected = false;
    int PipeIn = -1, PipeOut = -1;
    bool IsQxBase = false;

    // Byte level. Port failures throw PortError (kind Read / Write / Purge, and Read with
    // EBADF when no port is open).
    // Writes the bytes unchanged; an empty text writes nothing.
    void SendText(const QByteArray& text);
    // One byte 0..255, or -1 when none arrived within 3 x w ms (times the options' wait
    // factor, as every wait below).
    int ReadByte(int w);
    // One prompt-mode line: bytes from space upward are kept, other control bytes dropped;
    // a carriage return (not kept) or a '>' (kept) ends it. -1 when a byte did not arrive in
    // 150 ms; otherwise the 1-based position of the first '>' in the line, or 0.
    int ReadPromptLine(QByteArray& line);
    // Up to 100 attempts of "QXAT\r" until the box answers '>'. False when it never did.
    bool SyncPrompt();
    // "@" + command out, length-prefixed reply back. Returns the length byte (0..255) or -1
    // on a time-out; firstWait 0 stands for 20. Following bytes are awaited 30 ms each.
    int Transact(const QByteArray& command, QByteArray& reply, int firstWait);
    int Transact(const QByteArray& command, int firstWait) {
        QByteArray ignored;
        return Transact(command, ignored, firstWait);
    }
    // How one command exchange went, for a report of the waits (kelvano-cli --verbose).
    struct ExchangeTiming {
        QByteArray command;   // without the "@"
        int waitMs = 0;       // the longest the first reply byte was awaited
        qint64 replyMs = -1;  // when it came, counted from the end of the write; -1: never
    };
    // Called after every Transact; none by default.
    void setExchangeObserver(std::function<void(const ExchangeTiming&)> observer) {
        observer_ = std::move(observer);
    }

    // One keep-alive exchange (the Tim1 handler): toggles the lamp, sends "@*" and expects
    // '!' within 30 ms; two misses in a row disconnect. Never throws: a port error is shown
    // in the error box and the link is taken down.
    void KeepAlive();

    // Connection. Connect and Disconnect never throw.
    void Connect();
    void Disconnect();
    void ReportConnectFailure(const QString& errorText);
    // 0 when the box runs the carried firmware (or there is none to compare with), 253 on
    // failure.
    int UploadFirmware();
    // The connected (CPortOpen) and disconnected (CPortClose) updates of the window.
    void CPortOpen();
    void CPortClose();

    // For handlers outside the link (the action runner, timers of the window): a port error
    // that reached the top of a handler. Takes the link down first (so no further tick can
    // raise the same error behind a modal box), then shows the error text.
    void ReportLinkError(const PortError& error);

    // The box identified itself as the simulated one (in process or kelvano-boxsim); a real
    // box does not send this second identity line.
    static constexpr const char* kSimulatorIdLine = "KELVANO BOX SIMULATOR";
    bool isSimulatedBox() const;
    // Empty when the loader image `name` may go onto the card in the box; otherwise the
    // message why not. Demo loaders are for the simulated box only: a real card erased for
    // one would be left without its program and without a working loader.
    QString loaderRefusal(const QString& name, const QByteArray& image) const;

    bool portOpen() const;
    // The serial link finished its connect (keep-alive running) or the USB link is up.
    bool linkReady() const;
    Firmware firmware() const { return firmware_; }
    // Text for Firmware, as kelvano-cli shows it.
    static QString firmwareText(Firmware state);

    TUsb& usb() { return usb_; }
    const ImageStore& store() const { return store_; }
    void setStore(ImageStore store) { store_ = std::move(store); }
    void setProgressView(ProgressView* view) { progress_ = view; }
    QTimer& keepAliveTimer() { return tim1_; }
    Clock& clock() { return clock_; }
    Host& host() { return host_; }
    // The open port object, or null (for tests and diagnostics).
    SerialPort* port() const { return port_.get(); }

    // The upload addresses have four hexadecimal digits from 8000: larger images are refused.
    static constexpr int kMaxFirmwareSize = 0x8000;

private:
    // A wait of the box's table (units of 3 ms) in milliseconds, stretched by the wait factor.
    int waitMs(int w) const;
    void connectSerial(const QString& name);
    // Asks "QXAT!V#" and fills IdLine1..3; false when the answer lacks the form of an identity.
    bool readIdentity();
    // Asks "QXATQ" and keeps the six version digits in boxVersion_; false on a time-out.
    bool askFirmwareVersion();
    // The "QXATU" lines of the whole image, its length and sum written into its header.
    bool sendFirmware(QByteArray image);
    bool connectUsb();
    SerialPort& openPort();
    void purge();

    Host& host_;
    Clock& clock_;
    MainView& view_;
    Options& options_;
    TUsb& usb_;
    SerialPortFactory portFactory_;
    ImageStore store_;
    ProgressView* progress_ = nullptr;
    std::unique_ptr<SerialPort> port_;
    QTimer tim1_;
    Firmware firmware_ = Firmware::Unknown;
    std::function<void(const ExchangeTiming&)> observer_;
    bool serialReady_ = false;
    QByteArray imageVersion_, boxVersion_;  // six hex digits each: version word, revision
};

}  // namespace kelvano
