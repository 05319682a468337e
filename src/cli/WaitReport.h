#pragma once
#include <QString>
#include <QStringList>
#include <vector>

#include "link/uCom.h"

namespace kelvano {

// What the box's replies cost, for someone looking into a slow or silent box (--verbose). Every
// exchange left unanswered, and the first kMaxLines replies that took more than half of their
// wait, are told at once; summary() gives one line per command: how many exchanges, the
// wait, the slowest reply and how many went unanswered. A command is its letter, for "Y", "R"
// and "L" with the two characters after it ("Y28" reads flash, "YAC" programs).
class WaitReport {
public:
    static constexpr int kMaxLines = 20;

    // The lines to tell now about this exchange (none for a reply in good time).
    QStringList add(const TCom::ExchangeTiming& exchange);
    // Empty when no exchange was made.
    QStringList summary() const;

private:
    struct Family {
        QString name;
        int count = 0, unanswered = 0, minWaitMs = 0, maxWaitMs = 0;
        qint64 slowestMs = -1;
    };
    std::vector<Family> families_;  // in the order of their first exchange
    int told_ = 0;
};

}  // namespace kelvano
