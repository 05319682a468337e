#pragma once
#include <QtGlobal>

namespace kelvano {

// Every wait and pause of the program goes through a Clock, so that tests can run the
// 1.5 s reply waits and 500 ms pauses of the box protocol in virtual time.
class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds since an arbitrary start; never goes backwards.
    virtual qint64 nowMs() const = 0;
    // A plain pause of the calling thread (real time) or an advance of the time (virtual).
    virtual void sleepMs(int ms) = 0;
    // True when waits cost nothing: implementations of ports must then not block.
    virtual bool isVirtual() const { return false; }
};

class RealClock final : public Clock {
public:
    RealClock();
    qint64 nowMs() const override;
    void sleepMs(int ms) override;

private:
    qint64 startNs_;
};

// Time that moves only when somebody waits: sleepMs and advance add to it.
class VirtualClock final : public Clock {
public:
    qint64 nowMs() const override { return now_; }
    void sleepMs(int ms) override {
        if (ms > 0) now_ += ms;
    }
    bool isVirtual() const override { return true; }
    void advance(qint64 ms) { now_ += ms; }

private:
    qint64 now_ = 0;
};

}  // namespace kelvano
