#include "sim/SimLatency.h"

namespace kelvano {

QList<SimLine::Output> SimLatency::receiveSerial(const QByteArray& bytes) {
    QList<Output> answers = line_.receiveSerial(bytes);
    for (Output& answer : answers) answer.delayMs += latencyMs_;
    return answers;
}

}  // namespace kelvano
