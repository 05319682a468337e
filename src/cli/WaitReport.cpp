#include "cli/WaitReport.h"

#include <algorithm>

namespace kelvano {

namespace {

QString familyOf(const QByteArray& command) {
    if (command.isEmpty()) return QStringLiteral("(empty)");
    const int size = QByteArrayLiteral("YRL").contains(command.at(0)) ? 3 : 1;
    return QString::fromLatin1(command.left(size));
}

}  // namespace

QStringList WaitReport::add(const TCom::ExchangeTiming& e) {
    const QString name = familyOf(e.command);
    auto it = std::find_if(families_.begin(), families_.end(),
                           [&](const Family& f) { return f.name == name; });
    if (it == families_.end()) {
        families_.push_back({name, 0, 0, e.waitMs, e.waitMs, -1});
        it = families_.end() - 1;
    }
    ++it->count;
    it->minWaitMs = std::min(it->minWaitMs, e.waitMs);
    it->maxWaitMs = std::max(it->maxWaitMs, e.waitMs);
    it->slowestMs = std::max(it->slowestMs, e.replyMs);
    const QString command = QString::fromLatin1(e.command);
    // A missing reply is always told; slow ones only until kMaxLines of them were.
    if (e.replyMs < 0) {
        ++it->unanswered;
        return {QStringLiteral("No reply to %1 within its %2 ms wait").arg(command).arg(e.waitMs)};
    }
    if (2 * e.replyMs <= e.waitMs || told_ > kMaxLines) return {};
    if (++told_ > kMaxLines)
        return {QStringLiteral("(more slow replies: see the waits at the end)")};
    return {QStringLiteral("Slow reply to %1: %2 ms of its %3 ms wait")
                .arg(command)
                .arg(e.replyMs)
                .arg(e.waitMs)};
}

QStringList WaitReport::summary() const {
    if (families_.empty()) return {};
    QStringList lines{QStringLiteral("Waits for the box's replies:")};
    for (const Family& f : families_) {
        const QString wait = f.minWaitMs == f.maxWaitMs
                                 ? QStringLiteral("%1 ms").arg(f.maxWaitMs)
                                 : QStringLiteral("%1-%2 ms").arg(f.minWaitMs).arg(f.maxWaitMs);
        QString line = QStringLiteral("  %1: %2 exchange%3, wait %4")
                           .arg(f.name)
                           .arg(f.count)
                           .arg(f.count == 1 ? QString() : QStringLiteral("s"))
                           .arg(wait);
        if (f.slowestMs >= 0) line += QStringLiteral(", slowest reply %1 ms").arg(f.slowestMs);
        if (f.unanswered > 0) line += QStringLiteral(", %1 unanswered").arg(f.unanswered);
        lines << line;
    }
    return lines;
}

}  // namespace kelvano
