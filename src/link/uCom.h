#pragma once
#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>

#include "base/Clock.h"
#include "base/Host.h"
#include "base/MainView.h"
#include "base/Options.h"
#include "base/SerialPort.h"
#include "link/ImageStore.h"
#include "link/uUsb.h"

namespace kelvano {

// The link to the box: the serial port with its two framings (prompt mode while connecting,
// "@" command frames afterwards), the keep-alive, connect / disconnect / firmware upload,
// and the choice of USB. All waits are wait values w, meaning 3 x w milliseconds.
class TCom : public QObject {
    Q_OBJECT
public:
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

    // Byte level. Port failures throw PortError.
    void SendText(const QByteArray& text);
    int ReadByte(int w);
    int ReadPromptLine(QByteArray& line);
    bool SyncPrompt();
    // "@" + command out, length-prefixed reply back. Returns the length byte (0..255) or -1
    // on a time-out; firstWait 0 stands for 20.
    int Transact(const QByteArray& command, QByteArray& reply, int firstWait);
    int Transact(const QByteArray& command, int firstWait) {
        QByteArray ignored;
        return Transact(command, ignored, firstWait);
    }
    // One keep-alive exchange (the Tim1 handler). Port errors are caught here, shown, and the
    // link is taken down.
    void KeepAlive();

    // Connection.
    void Connect();
    void Disconnect();
    void ReportConnectFailure(const QString& errorText);
    int UploadFirmware();

    bool portOpen() const;
    TUsb& usb() { return usb_; }
    const ImageStore& store() const { return store_; }
    void setStore(ImageStore store) { store_ = std::move(store); }
    void setProgressView(ProgressView* view) { progress_ = view; }
    QTimer& keepAliveTimer() { return tim1_; }
    Clock& clock() { return clock_; }
    Host& host() { return host_; }

private:
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
};

}  // namespace kelvano
