#include "sim/ReplayBox.h"

namespace kelvano {

namespace {

const QByteArray kKeepAlive = QByteArrayLiteral("@*");
const QByteArray kSync = QByteArrayLiteral("QXAT\r");

QString shown(const QByteArray& bytes) {
    QString text;
    for (char c : bytes) text += (uchar(c) >= 32 && uchar(c) < 127) ? QChar(c) : QChar('.');
    return QStringLiteral("\"%1\" (%2)").arg(text, QString::fromLatin1(bytes.toHex(' ').toUpper()));
}

}  // namespace

ReplayBox::ReplayBox(ReplayScript script) : script_(std::move(script)) {
    // Answers before the first write cannot be asked for; they are not played.
    while (next_ < script_.items.size() &&
           script_.items.at(next_).kind == ReplayScript::Item::Kind::Answer)
        ++next_;
}

bool ReplayBox::atKeepAlive() const {
    return next_ < script_.items.size() && script_.items.at(next_).bytes == kKeepAlive;
}

void ReplayBox::skipRecordedKeepAlive() {
    while (atKeepAlive()) {
        ++next_;
        while (next_ < script_.items.size() &&
               script_.items.at(next_).kind == ReplayScript::Item::Kind::Answer)
            ++next_;
    }
}

void ReplayBox::answerUpToNextSend(QList<Output>& out) {
    while (next_ < script_.items.size() &&
           script_.items.at(next_).kind == ReplayScript::Item::Kind::Answer) {
        const auto& item = script_.items.at(next_++);
        out.append(Output{item.bytes, item.delayMs});
    }
}

void ReplayBox::depart(const QString& text, int line) {
    failed_ = true;
    departureLine_ = line;
    departure_ = QStringLiteral("line %1: %2").arg(line).arg(text);
}

QList<SimLine::Output> ReplayBox::receiveSerial(const QByteArray& bytes) {
    QList<Output> out;
    received_ += bytes.size();
    QByteArray in = held_ + bytes;
    held_.clear();
    while (!failed_ && !in.isEmpty()) {
        if (offset_ == 0) {
            // At a frame boundary: decide about keep-alives first.
            if (in == "@") {
                held_ = in;
                break;
            }
            const bool programKeepAlive = in.startsWith(kKeepAlive);
            if (!programKeepAlive) skipRecordedKeepAlive();
            if (programKeepAlive && !atKeepAlive()) {
                out.append(Output{QByteArrayLiteral("!"), 0});
                in.remove(0, kKeepAlive.size());
                continue;
            }
            const bool expectSync =
                next_ < script_.items.size() && script_.items.at(next_).bytes == kSync;
            if (lastSend_ == kSync && !expectSync && in.startsWith(kSync)) {
                in.remove(0, kSync.size());
                continue;
            }
            if (lastSend_ == kSync && !expectSync && kSync.startsWith(in)) {
                held_ = in;  // perhaps a repeated sync: wait for the rest
                break;
            }
            sent_.clear();
        }
        if (next_ >= script_.items.size()) {
            depart(QStringLiteral("the program sent %1 after the end of the transcript")
                       .arg(shown(in)),
                   script_.lines);
            break;
        }
        const auto& item = script_.items.at(next_);
        sent_.append(in.at(0));
        if (in.at(0) != item.bytes.at(offset_)) {
            depart(QStringLiteral("the program sent %1 where the transcript has %2")
                       .arg(shown(sent_), shown(item.bytes)),
                   item.line);
            break;
        }
        in.remove(0, 1);
        if (++offset_ == item.bytes.size()) {
            offset_ = 0;
            lastSend_ = item.bytes;
            ++next_;
            answerUpToNextSend(out);
        }
    }
    return out;
}

bool ReplayBox::finished() const {
    if (failed_ || offset_ != 0) return false;
    // Keep-alives left at the end depend on how long the program stayed connected.
    for (qsizetype i = next_; i < script_.items.size(); ++i) {
        const auto& item = script_.items.at(i);
        if (item.kind == ReplayScript::Item::Kind::Send && item.bytes != kKeepAlive) return false;
    }
    return true;
}

QString ReplayBox::report(const QString& how) const {
    if (failed_) return departure_;
    if (finished()) return {};
    qsizetype at = next_;
    while (script_.items.at(at).kind == ReplayScript::Item::Kind::Answer ||
           (offset_ == 0 && script_.items.at(at).bytes == kKeepAlive))
        ++at;
    const auto& item = script_.items.at(at);
    return QStringLiteral("line %1: %2; the transcript has %3 next")
        .arg(item.line)
        .arg(how.isEmpty() ? QStringLiteral("the program stopped sending") : how,
             shown(item.bytes));
}

}  // namespace kelvano
