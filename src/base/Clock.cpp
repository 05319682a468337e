#include "base/Clock.h"

#include <chrono>
#include <thread>

namespace kelvano {

namespace {
qint64 steadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
}  // namespace

RealClock::RealClock() : startNs_(steadyNs()) {}

qint64 RealClock::nowMs() const { return (steadyNs() - startNs_) / 1000000; }

void RealClock::sleepMs(int ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace kelvano
