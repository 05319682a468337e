#pragma once
// On a busy machine a command or an answer may cross kelvano-boxsim's terminal after the box's
// own wait (seen: 90 ms late for a 30 ms wait). Tests that drive it and do not test the waits
// themselves stretch its waits this many times; the tests of the waits keep the box's own.
#include <QString>
#include <QStringList>

namespace kelvano::test {

constexpr int kBoxsimWaitFactor = 5;

inline QStringList boxsimWaits() {
    return {QStringLiteral("--wait-factor"), QString::number(kBoxsimWaitFactor)};
}

}  // namespace kelvano::test
