#pragma once
#include "sim/SimLine.h"

namespace kelvano {

// Adds a fixed delay to every answer of the line it wraps, as a USB-serial adapter's latency
// timer (1 to 16 ms) holds every reply of a real box. The box behind it does not know.
class SimLatency : public SimLine {
public:
    SimLatency(SimLine& line, int latencyMs)
        : line_(line), latencyMs_(latencyMs > 0 ? latencyMs : 0) {}

    QList<Output> receiveSerial(const QByteArray& bytes) override;
    bool linkLost() const override { return line_.linkLost(); }
    void answered() override { line_.answered(); }
    int latencyMs() const { return latencyMs_; }

private:
    SimLine& line_;
    int latencyMs_;
};

}  // namespace kelvano
