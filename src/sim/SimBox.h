#pragma once
#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <cstdint>
#include <optional>

#include "sim/SimCard.h"
#include "sim/SimFault.h"
#include "sim/SimLine.h"

namespace kelvano {

// The simulated STRAVINEX box with one card slot. It speaks the serial line (prompt mode
// while connecting, then "@" command frames) or, as the USB model, bulk packets. It only
// computes answers; SimSerialPort, SimUsbBackend and PtyServer put them on a wire.
//
// Serial answers in command mode: a length byte N and N bytes of text, or a single byte:
//   0   done, nothing to report (D, d, I, P, ErA, W/w, M0..M3, M5)
//   255 refused: unknown command, malformed hex, a command of another mode, no card, a card
//       the command does not reach (EEPROM of a loader card in M3, "M4" without a loader).
// "@*" is answered by the single byte '!'.
class SimBox : public SimLine {
public:
    enum class Model { QxBase, Serial, Usb };

    struct TraceEntry {
        enum class Channel { Prompt, Command, Usb };
        Channel channel = Channel::Command;
        QByteArray received;  // prompt line (with its CR), frame ("@K") or packet
        QByteArray answered;  // bytes that went back; empty when none
        QString note;         // faults that hit the exchange, space separated
        QString toString() const;
    };

    // Default card: type 10, inserted. Loaders: those of the program's built-in store when
    // the process carries it.
    explicit SimBox(Model model = Model::QxBase, int cardType = 10);
    ~SimBox() override;

    Model model() const { return model_; }
    void setModel(Model model);

    // ---- identity and firmware ------------------------------------------------------------
    // The three lines answered to "QXAT!V#": model, a second line, serial number.
    void setIdentity(const QString& model, const QString& second, const QString& serial);
    QStringList identity() const { return idLines_; }
    // The 32 bytes answered to the USB packet 02 02 E0 20, and string descriptor 2.
    QByteArray usbSerialNumber() const;
    QString usbName() const { return usbName_; }
    // Version word and revision as reported by "QXATQ": bytes 19-20 (19 high) and 21 of the
    // firmware image held at box address 0x8000.
    void setFirmwareVersion(uint16_t version, uint8_t revision);
    uint16_t firmwareVersion() const;
    uint8_t firmwareRevision() const;
    // The 32 KB firmware memory at 0x8000..0xFFFF as "QXATU" lines left it.
    const QByteArray& firmwareMemory() const { return firmware_; }
    int firmwareLinesReceived() const { return uploadLines_; }

    // Back to the state after power-up: prompt mode, idle, nothing half received.
    void powerUp();
    bool inCommandMode() const { return commandMode_; }
    int mode() const { return mode_; }  // the last "M" digit accepted (0..5)

    // ---- card slot ---------------------------------------------------------------------
    // Inserts a card of that type. The same type as the card held brings that very card back
    // (its memories kept); another type puts a fresh blank card in.
    void insertCard(int cardType);
    void removeCard();
    bool hasCard() const { return cardIn_; }
    // The card held, in the slot or just pulled out.
    SimCard& card() { return card_; }
    const SimCard& card() const { return card_; }
    // "K" and the USB packet 05: 0 with a card, 6 (bits 1 and 2) without.
    int cardState() const { return cardIn_ ? 0 : 6; }
    // An operator at a production run: once a card has been in a programming mode and the
    // box is back to idle ("M0"), the second card poll after it finds the slot empty (the
    // first still finds the card, for a check right after programming), so does the one
    // after it, and the poll after those a fresh blank card of the same type. cardsFed counts
    // the fresh cards.
    void setCardFeeder(bool on) { feeder_ = on ? Feeder::Idle : Feeder::Off; }
    int cardsFed() const { return cardsFed_; }

    // ---- loaders -------------------------------------------------------------------------
    // Name -> plain image bytes. A card's loader runs (mode "M4" answers "load") when its
    // controller holds the loader image of its card type as the program installs it.
    void setLoaderImages(const QMap<QString, QByteArray>& images) { loaders_ = images; }
    const QMap<QString, QByteArray>& loaderImages() const { return loaders_; }
    bool loaderInstalled() const;
    // The images of a store in the program's layout, unscrambled. Entries that point outside
    // the data are left out.
    static QMap<QString, QByteArray> loadersFromStore(const QByteArray& storeData);
    // loadersFromStore of the resource ":/kelvano/images.store"; empty without it.
    static QMap<QString, QByteArray> builtInLoaders();

    // ---- faults --------------------------------------------------------------------------
    void addFault(const SimFault& fault);
    void clearFaults() { faults_.clear(); }
    bool linkLost() const override { return linkLost_; }
    void setLinkLost(bool lost) { linkLost_ = lost; }

    // ---- the two faces ---------------------------------------------------------------------
    // Bytes arriving on the serial line; returns what goes back, one Output per exchange that
    // answers. The USB model ignores its serial line. Once the link is lost nothing is read.
    QList<Output> receiveSerial(const QByteArray& bytes) override;
    // One USB packet; the reply packet, or nullopt when nothing comes back (serial models,
    // a fault, lost link).
    std::optional<QByteArray> receiveUsb(const QByteArray& packet);

    // ---- trace ---------------------------------------------------------------------------
    const QList<TraceEntry>& trace() const { return trace_; }
    QStringList traceLines() const;
    void clearTrace() { trace_.clear(); }
    bool writeTrace(const QString& path) const;
    // Appends each exchange to the file as it happens (empty path: stop); with `deferred`,
    // once the wire has sent its answer (answered()), so that a slow disk does not make the
    // box answer late.
    void setTraceFile(const QString& path, bool deferred = false) {
        traceFile_ = path, traceDeferred_ = deferred;
    }
    void answered() override;
    // False: keep no list in memory (a long-running server).
    void setTraceKept(bool kept) { traceKept_ = kept; }
    // The list keeps the latest `entries` exchanges (default 200000), dropping the oldest.
    void setTraceLimit(int entries) { traceLimit_ = std::max(1, entries); }

private:
    struct ArmedFault {
        SimFault fault;
        int seen = 0;
        int hits = 0;
    };

    void receiveByte(char c, QList<Output>& out);
    void promptLine(const QByteArray& line, QList<Output>& out);
    QByteArray promptAnswer(const QByteArray& command);
    QByteArray commandAnswer(const QByteArray& text);
    QByteArray modeAnswer(char digit);
    QByteArray picAnswer(const QByteArray& text);
    QByteArray avrAnswer(const QByteArray& text);
    QByteArray eepromAnswer(const QByteArray& text);
    QByteArray loaderAnswer(const QByteArray& text);
    QByteArray usbAnswer(const QByteArray& packet);
    bool storeFirmwareLine(const QByteArray& hex);

    // The faults that hit this exchange; `key` is the command text, the packet in hex or
    // "prompt".
    QList<SimFault> faultsFor(const QString& key);
    static bool refuses(const QList<SimFault>& hits);
    static QByteArray wrongValue(TraceEntry::Channel channel, QByteArray answer);
    void finishExchange(TraceEntry::Channel channel, const QList<SimFault>& hits,
                        const QByteArray& received, QByteArray answer, QList<Output>* out,
                        std::optional<QByteArray>* usbOut);
    void record(const TraceEntry& entry);

    Model model_;
    QStringList idLines_;
    QString usbName_ = "STRAVINEX QXUSB";
    QByteArray firmware_;
    int uploadLines_ = 0;

    bool commandMode_ = false;
    QByteArray lineBuf_;   // prompt line being received
    QByteArray frameBuf_;  // command frame being received ("@" + text)
    int frameLength_ = 0;  // expected text length of the frame in frameBuf_
    QByteArray strayBuf_;  // bytes outside frames in command mode
    int mode_ = 0;
    int picCounter_ = 0;

    SimCard card_;
    bool cardIn_ = true;
    QMap<QString, QByteArray> loaders_;

    QList<ArmedFault> faults_;
    bool linkLost_ = false;
    bool pullCardAfter_ = false;
    enum class Feeder { Off, Idle, Worked, PullNext, InsertNext };
    Feeder feeder_ = Feeder::Off;
    int cardsFed_ = 0;
    int feederPolls_ = 0;
    int pollState();

    QList<TraceEntry> trace_;
    QString traceFile_;
    bool traceDeferred_ = false;
    QByteArray traceDue_;  // deferred lines not yet in the file
    bool traceKept_ = true;
    int traceLimit_ = 200000;
};

}  // namespace kelvano
