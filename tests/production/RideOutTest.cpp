// The ride-out of a log outage in virtual time: its limit is a deadline, not a point after
// which the next pause may still begin.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <atomic>

#include "base/Clock.h"
#include "production/LogConnection.h"

namespace kelvano {

TEST(LogRideOut, EndsAtItsLimitAndAtOnceOnAStop) {
    QTemporaryDir dir;
    LogConnection db(dir.filePath("cards.db"), 100);
    VirtualClock clock;
    db.setRetry(&clock, 7000);
    std::atomic<bool> stop{false};
    db.setStopFlag(&stop);
    QList<qint64> tries;
    const auto locked = [&](QString& e) {
        tries << clock.nowMs();
        e = QStringLiteral("database is locked");
        return false;
    };
    QString error;
    // Pauses of 1/4, 1/2, 1 and 2 s, then what is left of the 7 s, not a 4 s pause.
    EXPECT_FALSE(db.retrying(locked, error));
    EXPECT_EQ(tries, QList<qint64>({0, 250, 750, 1750, 3750, 7000}));
    EXPECT_EQ(error.toStdString(), "the log " + dir.filePath("cards.db").toStdString() +
                                       " was out of reach for 7 s (database is locked)");
    tries.clear();
    stop = true;
    EXPECT_FALSE(db.retrying(locked, error));
    EXPECT_EQ(tries, QList<qint64>{7000});
}

}  // namespace kelvano
