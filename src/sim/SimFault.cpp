#include "sim/SimFault.h"

#include <QStringList>

namespace kelvano {

namespace {

struct KindName {
    SimFault::Kind kind;
    const char* name;
};

constexpr KindName kKinds[] = {
    {SimFault::Kind::NoAnswer, "noanswer"},       {SimFault::Kind::ShortReply, "short"},
    {SimFault::Kind::Garbled, "garble"},          {SimFault::Kind::LateFirstByte, "late"},
    {SimFault::Kind::LostLink, "lostlink"},       {SimFault::Kind::PullCard, "pullcard"},
    {SimFault::Kind::MissKeepAlive, "missalive"}, {SimFault::Kind::WrongValue, "wrong"},
    {SimFault::Kind::Refuse, "refuse"},           {SimFault::Kind::Reply, "reply"},
};

bool fail(QString* error, const QString& text) {
    if (error) *error = text;
    return false;
}

bool readCount(const QString& value, int minimum, int* out) {
    bool ok = false;
    const int n = value.toInt(&ok);
    if (!ok || n < minimum) return false;
    *out = n;
    return true;
}

}  // namespace

std::optional<SimFault> SimFault::parse(const QString& text, QString* error) {
    const QStringList parts = text.trimmed().split(',', Qt::SkipEmptyParts);
    if (parts.isEmpty()) {
        fail(error, "empty fault");
        return std::nullopt;
    }
    SimFault fault;
    QString head = parts.first().trimmed();
    QString arg;
    if (int eq = head.indexOf('='); eq >= 0) {
        arg = head.mid(eq + 1);
        head = head.left(eq);
    }
    bool known = false;
    for (const KindName& k : kKinds) {
        if (head.compare(QLatin1String(k.name), Qt::CaseInsensitive) == 0) {
            fault.kind = k.kind;
            known = true;
        }
    }
    if (!known) {
        fail(error, "unknown fault kind: " + head);
        return std::nullopt;
    }
    if (fault.kind == Kind::LateFirstByte) {
        if (!readCount(arg, 0, &fault.delayMs)) {
            fail(error, "late needs a delay in ms: late=MS");
            return std::nullopt;
        }
    } else if (fault.kind == Kind::Reply) {
        if (arg.isEmpty()) {
            fail(error, "reply needs the answer: reply=TEXT");
            return std::nullopt;
        }
        fault.text = arg;
    } else if (!arg.isEmpty()) {
        fail(error, head + " takes no value");
        return std::nullopt;
    }
    if (fault.kind == Kind::MissKeepAlive) fault.family = "*";

    for (int i = 1; i < parts.size(); ++i) {
        const QString part = parts.at(i).trimmed();
        const int eq = part.indexOf('=');
        const QString key = part.left(eq).toLower();
        const QString value = eq >= 0 ? part.mid(eq + 1) : QString();
        bool ok = true;
        if (key == "on" && !value.isEmpty()) {
            fault.family = value;
            if (value.at(0).isDigit()) fault.family = value.toUpper();  // USB hex
        } else if (key == "at") {
            ok = readCount(value, 1, &fault.at);
        } else if (key == "times") {
            ok = readCount(value, 0, &fault.times);
        } else {
            ok = false;
        }
        if (!ok) {
            fail(error, "bad fault option: " + part);
            return std::nullopt;
        }
    }
    return fault;
}

QString SimFault::describe() const {
    QString name;
    for (const KindName& k : kKinds)
        if (k.kind == kind) name = QLatin1String(k.name);
    if (kind == Kind::LateFirstByte) name += QString("=%1").arg(delayMs);
    if (kind == Kind::Reply) name += "=" + text;
    return name;
}

bool SimFault::matches(const QString& key) const {
    if (family.isEmpty()) return true;
    if (key == QLatin1String("prompt") || family == QLatin1String("prompt")) return key == family;
    return key.startsWith(family);
}

QString SimFault::syntaxHelp() {
    return QStringLiteral(
        "  --fault KIND[=ARG][,on=FAMILY][,at=N][,times=M]   (may be given several times)\n"
        "     KIND: noanswer   no answer at all\n"
        "           short      the length byte promises more bytes than are sent\n"
        "           garble     the answer's payload bytes are corrupted\n"
        "           late=MS    the first answer byte comes MS milliseconds late\n"
        "           lostlink   the line goes away (the terminal is closed, the box stops)\n"
        "           pullcard   the card is pulled out after the exchange\n"
        "           missalive  \"@*\" is not answered with '!'\n"
        "           wrong      a well-formed answer with another value (last hex digit or r1)\n"
        "           refuse     the command is refused (255, USB FF) and not carried out\n"
        "           reply=TEXT the answer is TEXT (USB: TEXT in hex); the command is done\n"
        "     on=FAMILY  only exchanges that start so: a command text (K, Y, YAC80, M, *, ...),\n"
        "                prompt (the QXAT lines) or a USB packet in hex digits (05, 04AC80);\n"
        "                default: every exchange\n"
        "     at=N       first hit at the N-th matching exchange (default 1)\n"
        "     times=M    hit M matching exchanges in a row, 0 = all (default 1)\n"
        "     examples: noanswer,on=K,times=0   late=200,on=Y,at=3   refuse,on=W,at=5\n");
}

}  // namespace kelvano
