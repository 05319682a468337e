#pragma once
#include <QByteArray>
#include <QList>

namespace kelvano {

// The box's end of a serial line, as the wires (SimSerialPort in process, PtyServer on a
// pseudo-terminal) drive it: bytes in, answers out. SimBox is one; decorators such as
// SimLatency wrap another line and change only how its answers travel.
class SimLine {
public:
    // Bytes going back for one exchange, the first one `delayMs` late.
    struct Output {
        QByteArray bytes;
        int delayMs = 0;
    };

    virtual ~SimLine() = default;
    // Bytes arriving on the line; one Output per exchange that answers.
    virtual QList<Output> receiveSerial(const QByteArray& bytes) = 0;
    // Once true the line is cut: the wire reports failures like a pulled cable.
    virtual bool linkLost() const = 0;
    // Called by the wire once the answers to the last bytes are on their way: slow work of
    // the box (writing its trace file) goes here, off the path of the answer.
    virtual void answered() {}
};

}  // namespace kelvano
