#pragma once
#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <memory>

#include "base/Clock.h"

namespace kelvano {

// A transcript: every exchange of one connection with the box, one event per line, written
// by RecordingSerialPort and RecordingUsbBackend while a recording runs. The format is
// documented in docs/transcript-format.md; in short:
//
//   # kelvano-transcript 1                          first line, format version
//   # program: kelvano-cli 2.5.0.2                  front end and program version
//   # card: 10                                      card type selected when recording began
//   # command: read --card 10                       kelvano-cli only: the command, no --port
//   # started: 2026-12-06T16:40:00Z
//   <ms> <event> [fields] [| text]                  one event; <ms> since the recording began
//   # result: 0                                     kelvano-cli only: its exit status
//
// Serial events: open NAME BAUD, close, tx HEX, rx HEX, timeout MS, purge, rts 0|1,
// error OPERATION KIND CODE. USB events: usb-open K ok|fail, usb-close, usb-pipes ok|fail HEX,
// usb-string INDEX LENGTH ok|fail HEX, usb-out PIPE ok|fail HEX, usb-in PIPE CAPACITY N|fail
// HEX. HEX is bytes as two upper-case digits separated by blanks; the text after " | " (the
// printable bytes, others as '.') is for people and ignored by readers. Consecutive bytes
// read one at a time are written as one rx line stamped with the time of the first.
class TranscriptRecorder {
public:
    struct Header {
        QString frontEnd;  // "kelvano" or "kelvano-cli"
        int card = -1;     // card type code, -1 unknown
        QString command;   // kelvano-cli arguments that repeat the run (without --port)
    };

    explicit TranscriptRecorder(Clock& clock) : clock_(clock) {}
    ~TranscriptRecorder() { stop(); }

    // Starts a new transcript in `path` (truncating it), stopping one that runs. False with
    // errorString() set when the file cannot be written.
    bool start(const QString& path, const Header& header);
    // Ends the transcript with an optional "# result: N" line (result < 0: none) and closes
    // the file. Safe when nothing records.
    void stop(int result = -1);
    bool recording() const { return file_ != nullptr; }
    QString fileName() const { return fileName_; }
    QString errorString() const { return error_; }

    // One event line; `bytes` are written as HEX with their text behind " | ".
    void event(const QString& name, const QString& fields = {});
    void bytesEvent(const QString& name, const QString& fields, const QByteArray& bytes);
    // A byte read: collected with the bytes read right before it into one rx line.
    void rxByte(uchar byte);
    // A comment line ("# text"), for notes such as the card type changing.
    void comment(const QString& text);

    static QString hexBytes(const QByteArray& bytes);
    static QString printable(const QByteArray& bytes);
    static QString programVersion();

private:
    void flushRx();
    void writeLine(const QString& line);
    qint64 elapsed() const { return clock_.nowMs() - startMs_; }

    Clock& clock_;
    std::unique_ptr<QFile> file_;
    QString fileName_, error_;
    qint64 startMs_ = 0;
    QByteArray rx_;
    qint64 rxAt_ = 0;
};

}  // namespace kelvano
