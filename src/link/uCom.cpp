#include "link/uCom.h"

#include <algorithm>
#include <cctype>
#include <cerrno>

namespace kelvano {

namespace {

constexpr int kBaud = 115200;
constexpr int kPromptWait = 50;  // 150 ms per byte of a prompt line
constexpr int kSyncWait = 5;     // 15 ms per byte while syncing
constexpr int kSyncAttempts = 100;
constexpr int kNextByteWait = 10;  // 30 ms for every reply byte after the first
constexpr int kDefaultFirstWait = 20;
constexpr int kKeepAliveWait = 10;
constexpr int kKeepAliveMs = 1000;
constexpr int kUsbDrainMs = 20;  // how long a pending USB answer is awaited after the connect
// Bounds of prompt mode, so that a line that never stops sending (another device, noise)
// cannot hold the connect: a prompt line is at most kMaxPromptLine characters and takes at
// most kPromptLineMs; one sync attempt collects at most kMaxSyncBytes, a whole sync takes at
// most kSyncMs (a silent box needs 100 x 15 ms of it).
constexpr int kMaxPromptLine = 128;
constexpr int kPromptLineMs = 2000;
constexpr int kMaxSyncBytes = 64;
constexpr int kSyncMs = 3000;
// The form of the box's identity: the model ("STRAVINEX QXBASE", or a model name of its own
// such as "QX200 rev B"), a second line, and a serial number of one word; printable text
// without prompt characters. Anything else is not the box speaking alone (a late box's prompts,
// our own command echoed, another device or noise on the line), and must not decide the
// firmware check.
constexpr int kMaxIdentityLine = 64;
constexpr int kMaxModelWord = 8;  // "QX" and up to six letters or digits

bool identityLineShape(const QByteArray& line) {
    if (line.trimmed().isEmpty() || line.size() > kMaxIdentityLine) return false;
    for (char c : line)
        if (uchar(c) < 32 || uchar(c) > 126 || c == '>') return false;
    // The box's own command prefix inside an answer is an echo, never part of an identity.
    return !line.contains("QXAT");
}

bool serialNumberShape(const QByteArray& line) {
    for (char c : line)
        if (!std::isalnum(uchar(c)) && c != '-' && c != '_' && c != '.' && c != '/') return false;
    return true;
}

// "STRAVINEX QXWORD[ more]" or "QXWORD[ more]": the model word is "QX" and one to six upper-case
// letters or digits, none of which starts the maker's name or a second model word again.
bool modelLineShape(const QByteArray& line) {
    const QByteArray rest = line.startsWith("STRAVINEX ") ? line.mid(10) : line;
    const int space = rest.indexOf(' ');
    const QByteArray word = space < 0 ? rest : rest.left(space);
    if (!word.startsWith("QX") || word.size() < 3 || word.size() > kMaxModelWord) return false;
    for (char c : word.mid(2))
        if (!std::isupper(uchar(c)) && !std::isdigit(uchar(c))) return false;
    return word.indexOf("QX", 2) < 0 && !rest.contains("STRAVINEX");
}

bool wellFormedIdentity(const QByteArray (&lines)[3]) {
    for (const QByteArray& line : lines)
        if (!identityLineShape(line)) return false;
    return modelLineShape(lines[0]) && serialNumberShape(lines[2].trimmed());
}

// Hides the upload's progress window on every way out of the upload, a port error included.
class ProgressGuard {
public:
    explicit ProgressGuard(ProgressView* view) : view_(view) {}
    ~ProgressGuard() { hide(); }
    ProgressGuard(const ProgressGuard&) = delete;
    ProgressGuard& operator=(const ProgressGuard&) = delete;
    void show(const QString& title) {
        if (view_) view_->showProgressWindow(title);
        shown_ = view_ != nullptr;
    }
    void hide() {
        if (shown_) view_->hideProgressWindow();
        shown_ = false;
    }

private:
    ProgressView* view_;
    bool shown_ = false;
};

QString hex(uint value, int digits) {
    return QStringLiteral("%1").arg(value, digits, 16, QLatin1Char('0')).toUpper();
}

}  // namespace

TCom::TCom(Host& host, Clock& clock, MainView& view, Options& options, TUsb& usb,
           SerialPortFactory portFactory, ImageStore store, QObject* parent)
    : QObject(parent),
      host_(host),
      clock_(clock),
      view_(view),
      options_(options),
      usb_(usb),
      portFactory_(std::move(portFactory)),
      store_(std::move(store)) {
    tim1_.setInterval(kKeepAliveMs);
    connect(&tim1_, &QTimer::timeout, this, &TCom::KeepAlive);
}

TCom::~TCom() {
    tim1_.stop();
    if (port_) port_->close();
}

bool TCom::portOpen() const { return port_ && port_->isOpen(); }

bool TCom::isSimulatedBox() const {
    return !UsbConnected && portOpen() && IdLine2 == QLatin1String(kSimulatorIdLine);
}

QString TCom::loaderRefusal(const QString& name, const QByteArray& image) const {
    if (!store_.problem().isEmpty())
        return QStringLiteral(
                   "The EEPROM loader \"%1\" cannot be taken from the image store. %2. Nothing "
                   "on the card was changed.")
            .arg(name, store_.problem());
    // Asked without an image: the store has no entry of that name; say which store.
    if (image.isEmpty() && !store_.names().contains(name))
        return QStringLiteral(
                   "The EEPROM loader \"%1\" is missing from %2. Nothing on the card "
                   "was changed.")
            .arg(name, store_.description());
    if (!ImageStore::isDemoImage(image) || isSimulatedBox()) return {};
    return QStringLiteral(
               "The EEPROM loader \"%1\" in the image store is a demo loader for the simulated "
               "box and does not run on a real card. Nothing on the card was changed.\r\r"
               "Put the box maker's loaders into %2 beside the program.")
        .arg(name, ImageStore::storeFileName());
}

bool TCom::linkReady() const { return (portOpen() && serialReady_) || UsbConnected; }

// ---------------------------------------------------------------------------------------------
// Byte level

void TCom::SendText(const QByteArray& text) {
    if (text.isEmpty()) return;
    if (!portOpen()) throw PortError(PortError::Write, EBADF);
    port_->write(text);
}

int TCom::waitMs(int w) const { return 3 * std::max(w, 0) * std::max(1, options_.waitFactor); }

int TCom::ReadByte(int w) {
    if (!portOpen()) throw PortError(PortError::Read, EBADF);
    return port_->readByte(waitMs(w));
}

void TCom::purge() {
    if (!portOpen()) throw PortError(PortError::Purge, EBADF);
    port_->purge();
}

int TCom::ReadPromptLine(QByteArray& line) {
    line.clear();
    const qint64 deadline = clock_.nowMs() + kPromptLineMs;
    for (;;) {
        const int b = ReadByte(kPromptWait);
        if (b < 0) return -1;
        if (b > 31) line.append(char(b));
        if (b == '>' || b == '\r') break;
        // Too long or too slow for a line of the box: counted as a line that never ended.
        if (line.size() > kMaxPromptLine || clock_.nowMs() >= deadline) return -1;
    }
    return int(line.indexOf('>') + 1);
}

bool TCom::SyncPrompt() {
    const qint64 deadline = clock_.nowMs() + kSyncMs;
    for (int attempt = 0; attempt < kSyncAttempts && clock_.nowMs() < deadline; ++attempt) {
        SendText(QByteArrayLiteral("QXAT\r"));
        for (int n = 0; n < kMaxSyncBytes && clock_.nowMs() < deadline; ++n) {
            const int b = ReadByte(kSyncWait);
            if (b < 0) break;
            if (b == '>') return true;
        }
    }
    return false;
}

bool TCom::readIdentity() {
    SendText(QByteArrayLiteral("QXAT!V#\r"));
    QByteArray lines[3];
    for (QByteArray& line : lines) {
        if (ReadPromptLine(line) < 0) throw PortError::fixed(PortError::Read, 3);
    }
    IdLine1 = QString::fromLatin1(lines[0]);
    IdLine2 = QString::fromLatin1(lines[1]);
    IdLine3 = QString::fromLatin1(lines[2]);
    return wellFormedIdentity(lines);
}

int TCom::Transact(const QByteArray& command, QByteArray& reply, int firstWait) {
    tim1_.stop();
    purge();
    SendText(QByteArray(1, '@') + command);
    const int wait = firstWait == 0 ? kDefaultFirstWait : firstWait;
    const qint64 sentAt = clock_.nowMs();
    int result = ReadByte(wait);
    const qint64 replyMs = result >= 0 ? clock_.nowMs() - sentAt : -1;
    reply.clear();
    if (result >= 1 && result <= 254) {
        for (int i = 0; i < result; ++i) {
            const int b = ReadByte(kNextByteWait);
            if (b < 0) {
                result = -1;
                break;
            }
            reply.append(char(b));
        }
    }
    // The keep-alive is live after every exchange, whether or not it ran before.
    tim1_.start(kKeepAliveMs);
    if (observer_) observer_({command, waitMs(wait), replyMs});
    return result;
}

void TCom::KeepAlive() {
    // A tick that was already queued when the link went down has nothing to do.
    if (!portOpen()) {
        tim1_.stop();
        return;
    }
    try {
        view_.toggleLamp();
        SendText(QByteArrayLiteral("@*"));
        if (ReadByte(kKeepAliveWait) == '!') {
            MissCount = 0;
            return;
        }
        if (++MissCount == 2) Disconnect();
    } catch (const PortError& e) {
        // This runs from the event loop: nothing may leave it.
        ReportLinkError(e);
    }
}

void TCom::ReportLinkError(const PortError& error) {
    Disconnect();
    host_.showError(error.text());
}

// ---------------------------------------------------------------------------------------------
// Connection

void TCom::CPortOpen() {
    options_.portListEnabled = false;
    view_.showConnected(true);
}

void TCom::CPortClose() {
    options_.portListEnabled = true;
    view_.showConnected(false);
}

void TCom::Connect() {
    host_.processEvents();
    const QString name = options_.portName();
    UsbSelected = name == QLatin1String("USB");
    UsbConnected = false;
    serialReady_ = false;
    firmware_ = Firmware::Unknown;

    if (UsbSelected) {
        if (!connectUsb()) return;
    } else {
        connectSerial(name);
        if (!serialReady_) return;
    }
    if ((portOpen() || UsbConnected) && options_.loadAtCon) view_.fastOpen();
}

void TCom::connectSerial(const QString& name) {
    tim1_.stop();
    if (port_) port_->close();
    port_ = portFactory_ ? portFactory_(name) : nullptr;
    try {
        if (!port_) throw PortError(PortError::Open, ENOENT, name);
        port_->open(name, kBaud);
        if (const QString remark = port_->openRemark(); !remark.isEmpty())
            view_.appendDebug(remark);
        CPortOpen();
        purge();
        if (!SyncPrompt()) throw PortError::fixed(PortError::SetTimeouts, 8);

        if (!readIdentity()) {
            // Prompts of a late box, or another sender's bytes, in place of the identity: let
            // them arrive, drop them and ask once more.
            clock_.sleepMs(3 * kPromptWait);
            purge();
            if (!readIdentity()) {
                ReportConnectFailure(
                    QStringLiteral("the box did not identify itself (answer \"%1 * %2 * %3\")")
                        .arg(IdLine1, IdLine2, IdLine3));
                return;
            }
        }
        IsQxBase = IdLine1.contains(QLatin1String("QXBASE"));
        view_.setQxPane(IdLine1 + QStringLiteral(" * ") + IdLine2 + QStringLiteral(" *  Serial: ") +
                        IdLine3);

        port_->setRts(true);
        host_.processEvents();

        int r = 0;
        if (IsQxBase) {
            r = UploadFirmware();
        } else {
            firmware_ = Firmware::NotQxBase;
        }
        if (progress_) progress_->hideProgressWindow();
        host_.processEvents();
        if (r != 0) {
            Disconnect();
            QString text = QStringLiteral("Can't upload to QXBASE\rError #%1").arg(r);
            if (firmware_ == Firmware::Refused)
                text +=
                    QStringLiteral(
                        "\r\rThe box refused the firmware: after the upload it "
                        "still reports version %1, not %2.")
                        .arg(QString::fromLatin1(boxVersion_), QString::fromLatin1(imageVersion_));
            host_.showError(text);
            return;
        }

        // A box that stays silent now keeps its port open without keep-alive; the user sees
        // the connected state and can disconnect.
        if (!SyncPrompt()) return;

        SendText(QByteArrayLiteral("QXAT%\r"));
        clock_.sleepMs(200);
        MissCount = 0;
        purge();
        tim1_.start(kKeepAliveMs);
        serialReady_ = true;
    } catch (const PortError& e) {
        ReportConnectFailure(e.text());
    }
}

bool TCom::connectUsb() {
    UsbConnected = usb_.UsbOpen(QStringLiteral("ezusb"));
    if (UsbConnected) {
        QByteArray unused;
        UsbConnected = store_.LoadImage(QStringLiteral("QXUSB"), unused);
    }
    if (UsbConnected) UsbConnected = usb_.GetPipeInfo();
    if (UsbConnected) {
        PipeIn = usb_.FindPipe(0x82);
        PipeOut = usb_.FindPipe(0x02);
        UsbConnected = PipeIn >= 0 && PipeOut >= 0;
    }
    if (UsbConnected) {
        view_.setQxPane(usb_.GetStringDescriptor(2));
        // A box that does not take the first packet is not there: the connect has failed,
        // rather than leaving a link that claims to be up.
        UsbConnected = usb_.BulkWrite(PipeOut, QByteArray::fromHex("0202E020"));
        if (UsbConnected) {
            uint8_t answer[32] = {};
            usb_.BulkRead(PipeIn, answer, 32);
            usb_.BulkWrite(PipeOut, QByteArray::fromHex("0100"));
            QString snr = QStringLiteral("SNR: ");
            for (uint8_t b : answer) snr += hex(b, 2) + QLatin1Char(' ');
            view_.appendDebug(snr);
            usb_.BulkWrite(PipeOut, QByteArray::fromHex("0100"));
            uint8_t ignored[32];
            usb_.BulkRead(PipeIn, ignored, 32);
            // Two packets went out and one answer was read: a box that queues its answers
            // still holds the other, which would make every later answer one packet late.
            if (const int stale = usb_.DrainIn(PipeIn, kUsbDrainMs); stale > 0)
                view_.appendDebug(
                    QStringLiteral("USB: %1 pending answer(s) dropped after the connect")
                        .arg(stale));
            CPortOpen();
        }
    }
    if (!UsbConnected) {
        Disconnect();
        QString text = QStringLiteral(
            "STRAVINEX-USB not found!\r\rPlease connect your Stravinex to the USB port\r"
            "or install the USB device driver.");
        // The USB box is looked for only with a QXUSB entry in the store.
        if (!store_.problem().isEmpty()) text += QStringLiteral("\r\r") + store_.problem() + '.';
        host_.showError(text);
        return false;
    }
    return true;
}

void TCom::Disconnect() {
    tim1_.stop();
    serialReady_ = false;
    view_.setQxPane(QString());
    if (UsbSelected) {
        usb_.UsbClose();
        UsbConnected = false;
        CPortClose();
        return;
    }
    if (!portOpen()) return;
    // The box may be gone already: whatever fails while letting go of the line, the port is
    // closed and the window shows it.
    try {
        port_->setRts(false);
        port_->purge();
    } catch (const PortError&) {
    }
    port_->close();
    CPortClose();
}

void TCom::ReportConnectFailure(const QString& errorText) {
    Disconnect();
    host_.showError(QStringLiteral("Can't connect to Programmer\rErrorcode: ") + errorText +
                    QStringLiteral("\r\rKelvano is written for:\r") +
                    QStringLiteral("STRAVINEX QXBASE on a serial port\r") +
                    QStringLiteral("STRAVINEX QXUSB on USB\r"));
}

int TCom::UploadFirmware() {
    QByteArray image;
    if (!store_.problem().isEmpty()) {
        view_.appendDebug(store_.problem() + QStringLiteral(": firmware check skipped"));
        firmware_ = Firmware::NoStore;
        return 0;
    }
    if (!store_.LoadImage(QStringLiteral("QXBASE"), image)) {
        view_.appendDebug(QStringLiteral("No QXBASE firmware in %1: firmware check skipped")
                              .arg(store_.description()));
        firmware_ = Firmware::NoImage;
        return 0;
    }
    const int n = int(image.size());
    if (n < 22 || n > kMaxFirmwareSize) {
        firmware_ = Firmware::Failed;
        host_.showError(
            QStringLiteral("QXBASE firmware image of %1 bytes refused: it must hold 22 to %2 "
                           "bytes.")
                .arg(n)
                .arg(kMaxFirmwareSize));
        return 253;
    }
    // Version word (byte 19 high) and revision, as the box reports them: six hex digits.
    imageVersion_ = hex(uint(uchar(image.at(19))) * 256 + uchar(image.at(20)), 4).toLatin1() +
                    hex(uchar(image.at(21)), 2).toLatin1();

    firmware_ = Firmware::Failed;
    if (!askFirmwareVersion()) return 253;
    const bool current = boxVersion_ == imageVersion_;

    if (!current) {
        ProgressGuard progress(progress_);
        progress.show(QStringLiteral("Uploading to QXBASE..."));
        if (!sendFirmware(image)) return 253;
        progress.hide();
        // A box that answered the lines with "ERROR" still runs its old firmware.
        if (!askFirmwareVersion()) return 253;
        if (boxVersion_ != imageVersion_) {
            firmware_ = Firmware::Refused;
            return 253;
        }
    }
    if (!SyncPrompt()) return 253;
    firmware_ = current ? Firmware::Current : Firmware::Uploaded;
    return 0;
}

bool TCom::askFirmwareVersion() {
    purge();
    SendText(QByteArrayLiteral("QXATQ\r"));
    QByteArray answer;
    if (ReadPromptLine(answer) < 0) return false;
    // Characters 39 to 44: version word and revision in hexadecimal.
    boxVersion_ = answer.mid(38, 6).toUpper();
    bool ok = boxVersion_.size() == 6;
    for (char c : boxVersion_) ok = ok && std::isxdigit(uchar(c));
    if (!ok) boxVersion_ = "??????";
    return true;
}

bool TCom::sendFirmware(QByteArray image) {
    const int n = int(image.size());
    const uint length = uint(n - 4);
    image[2] = char(length & 0xFF);
    image[3] = char(length >> 8);
    uint sum = 0;
    for (int i = 2; i < n; ++i) sum += uchar(image.at(i));
    image[0] = char(sum & 0xFF);
    image[1] = char((sum >> 8) & 0xFF);
    if (progress_) progress_->setProgressTotal(n);

    for (int offset = 0;; offset += 16) {
        host_.processEvents();
        // Box addresses are four digits from 8000; the image size limit keeps them there.
        QByteArray line =
            QByteArrayLiteral("QXATU") + hex(uint(offset + 0x8000) & 0xFFFF, 4).toLatin1();
        for (int j = 0; j < 16 && offset + j < n; ++j)
            line += hex(uchar(image.at(offset + j)), 2).toLatin1();
        if (progress_) progress_->setProgressPosition(offset + 32);
        if (offset >= n) break;  // a line without data bytes
        if (!SyncPrompt()) return false;
        SendText(line + '\r');
        clock_.sleepMs(5);
    }
    return SyncPrompt();
}

QString TCom::firmwareText(Firmware state) {
    switch (state) {
        case Firmware::Unknown:
            return QStringLiteral("not checked");
        case Firmware::NotQxBase:
            return QStringLiteral("not checked (not a QXBASE box)");
        case Firmware::NoImage:
            return QStringLiteral("not checked (no QXBASE firmware in the image store)");
        case Firmware::NoStore:
            return QStringLiteral("not checked (the image store is damaged or unreadable)");
        case Firmware::Current:
            return QStringLiteral("up to date");
        case Firmware::Uploaded:
            return QStringLiteral("uploaded");
        case Firmware::Failed:
            return QStringLiteral("check or upload failed");
        case Firmware::Refused:
            return QStringLiteral("upload refused by the box (it still reports its old version)");
    }
    return {};
}

}  // namespace kelvano
