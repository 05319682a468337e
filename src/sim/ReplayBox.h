#pragma once
#include <QByteArray>
#include <QList>
#include <QString>

#include "sim/ReplayScript.h"
#include "sim/SimLine.h"

namespace kelvano {

// Plays the box's side of a recorded serial transcript. The program's bytes are checked,
// byte by byte, against the transcript's tx lines; when a tx line is complete, the rx lines
// up to the next tx go back. The first byte that differs is a departure: it is reported with
// the transcript's line and from then on the box stays silent.
//
// The keep-alive "@*" depends on the clock, not on the program's logic: a keep-alive that the
// program sends where the transcript has none is answered '!', and a recorded keep-alive that
// the program does not send at that point is passed over.
class ReplayBox : public SimLine {
public:
    explicit ReplayBox(ReplayScript script);

    // Bytes arriving from the program; what goes back.
    QList<Output> receiveSerial(const QByteArray& bytes) override;
    bool linkLost() const override { return false; }
    // Bytes received so far (to tell a quiet line).
    qint64 bytesReceived() const { return received_; }

    // Every tx line of the transcript was matched.
    bool finished() const;
    bool failed() const { return failed_; }
    // The departure ("line N: ..."), or, when the program stopped before the end, where it
    // stopped, told as `how` it stopped ("the program stopped sending" when empty); empty when
    // the transcript was played to its end.
    QString report(const QString& how = QString()) const;
    int departureLine() const { return departureLine_; }
    const ReplayScript& script() const { return script_; }

private:
    bool atKeepAlive() const;
    void skipRecordedKeepAlive();
    void answerUpToNextSend(QList<Output>& out);
    void depart(const QString& text, int line);

    ReplayScript script_;
    qsizetype next_ = 0;    // index of the item being matched
    qsizetype offset_ = 0;  // bytes of that Send already matched
    QByteArray held_;       // a lone '@' at a frame boundary: keep-alive or not
    QByteArray sent_;       // the program's bytes of the current Send, for the report
    QByteArray lastSend_;   // the Send matched last
    qint64 received_ = 0;
    bool failed_ = false;
    int departureLine_ = 0;
    QString departure_;
};

}  // namespace kelvano
