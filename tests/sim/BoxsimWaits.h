#pragma once
// kelvano-boxsim runs in another process. On a busy machine the kernel may hand a command or an
// answer across its terminal after the box's own wait (seen: a command of a 30 ms wait reaching
// the box 90 ms late, while the box slept in poll waiting for it). Tests that drive it and do
// not test the waits themselves wait this many times as long; the tests of the waits keep the
// box's own times.
#include <QString>
#include <QStringList>

namespace kelvano::test {

constexpr int kBoxsimWaitFactor = 5;

inline QStringList boxsimWaits() {
    return {QStringLiteral("--wait-factor"), QString::number(kBoxsimWaitFactor)};
}

}  // namespace kelvano::test
