#include "sim/ReplayScript.h"

#include <QFile>
#include <QRegularExpression>
#include <QSet>

namespace kelvano {

namespace {

bool parseHex(const QStringList& tokens, QByteArray& out) {
    for (const QString& t : tokens) {
        bool ok = false;
        const uint v = t.toUInt(&ok, 16);
        if (!ok || t.size() != 2 || v > 0xFF) return false;
        out.append(char(v));
    }
    return !out.isEmpty();
}

bool okOrFail(const QString& token, bool& ok) {
    ok = token == QLatin1String("ok");
    return ok || token == QLatin1String("fail");
}

// The fields of one USB event (after "<ms> <event>"): the numbers, ok|fail (or the reply's
// length), then the bytes.
bool parseUsb(const QString& event, const QStringList& f, ReplayScript::UsbItem& item) {
    using Kind = ReplayScript::UsbItem::Kind;
    bool n1 = true, n2 = true;
    QStringList rest;
    if (event == QLatin1String("usb-open")) {
        item.kind = Kind::Open;
        item.a = f.value(0).toInt(&n1);
        return n1 && f.size() == 2 && okOrFail(f.at(1), item.ok);
    }
    if (event == QLatin1String("usb-close")) {
        item.kind = Kind::Close;
        return f.isEmpty();
    }
    if (event == QLatin1String("usb-pipes")) {
        item.kind = Kind::Pipes;
        if (f.isEmpty() || !okOrFail(f.at(0), item.ok)) return false;
        rest = f.mid(1);
    } else if (event == QLatin1String("usb-string")) {
        item.kind = Kind::String;
        item.a = f.value(0).toInt(&n1);
        item.b = f.value(1).toInt(&n2);
        if (!n1 || !n2 || f.size() < 3 || !okOrFail(f.at(2), item.ok)) return false;
        rest = f.mid(3);
    } else if (event == QLatin1String("usb-out")) {
        item.kind = Kind::Out;
        item.a = f.value(0).toInt(&n1);
        if (!n1 || f.size() < 2 || !okOrFail(f.at(1), item.ok)) return false;
        rest = f.mid(2);
    } else if (event == QLatin1String("usb-in")) {
        item.kind = Kind::In;
        item.a = f.value(0).toInt(&n1);
        item.b = f.value(1).toInt(&n2);
        if (!n1 || !n2 || f.size() < 3) return false;
        bool counted = false;
        const int n = f.at(2).toInt(&counted);
        item.ok = counted;
        if (!counted && f.at(2) != QLatin1String("fail")) return false;
        rest = f.mid(3);
        if (counted && rest.size() != qMin(n, item.b)) return false;
    } else {
        return false;
    }
    return rest.isEmpty() || parseHex(rest, item.bytes);
}

bool fail(QString* error, int line, const QString& text) {
    if (error) *error = QStringLiteral("line %1: %2").arg(line).arg(text);
    return false;
}

// "# key: value" comment lines form the header; the first line of a key counts.
void readComment(const QString& line, QMap<QString, QString>& header) {
    const qsizetype colon = line.indexOf(QLatin1Char(':'));
    if (colon <= 1) return;
    const QString key = line.mid(1, colon - 1).trimmed();
    if (!key.contains(QLatin1Char(' ')) && !header.contains(key))
        header.insert(key, line.mid(colon + 1).trimmed());
}

// A tx or rx line: the program's write or the box's answer. `heldMs` is the time the program
// waited in vain since the last tx or rx; it is spent here.
bool readBytes(const QString& event, const QStringList& tokens, int lineNo, int& heldMs,
               ReplayScript& script, QString* error) {
    ReplayScript::Item item;
    item.line = lineNo;
    if (!parseHex(tokens.mid(2), item.bytes))
        return fail(error, lineNo,
                    QStringLiteral("%1 needs bytes as two hexadecimal digits each").arg(event));
    if (event == QLatin1String("tx")) {
        item.kind = ReplayScript::Item::Kind::Send;
    } else {
        item.kind = ReplayScript::Item::Kind::Answer;
        // Bytes that came only after the program had waited in vain stay away as long.
        if (heldMs > 0) item.delayMs = heldMs + heldMs / 4 + 5;
    }
    heldMs = 0;
    script.items.append(item);
    return true;
}

// One "<ms> <event> ..." line, as it stands in the file: the text behind " | " may end in
// blanks of its own (a byte 20 shows as one), so the bar is looked for before any trimming.
bool readEvent(const QString& line, int lineNo, int& heldMs, ReplayScript& script, QString* error) {
    static const QSet<QString> portEvents{"open", "close", "purge", "rts", "error"};
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    const qsizetype bar = line.indexOf(QLatin1String(" | "));
    const QStringList tokens = (bar < 0 ? line : line.left(bar)).split(blanks, Qt::SkipEmptyParts);
    bool ok = tokens.size() >= 2;
    if (ok) tokens.at(0).toLongLong(&ok);
    if (!ok) return fail(error, lineNo, QStringLiteral("expected \"<ms> <event> ...\""));
    const QString& event = tokens.at(1);
    if (event == QLatin1String("tx") || event == QLatin1String("rx"))
        return readBytes(event, tokens, lineNo, heldMs, script, error);
    if (event == QLatin1String("timeout")) {
        const int ms = tokens.value(2).toInt(&ok);
        if (!ok || ms < 0)
            return fail(error, lineNo, QStringLiteral("timeout needs the milliseconds waited"));
        heldMs += ms;
    } else if (event.startsWith(QLatin1String("usb-"))) {
        script.usb = true;
        ReplayScript::UsbItem item;
        if (!parseUsb(event, tokens.mid(2), item))
            return fail(error, lineNo, QStringLiteral("malformed %1 line").arg(event));
        item.line = lineNo;
        script.usbItems.append(item);
    } else if (!portEvents.contains(event)) {
        return fail(error, lineNo, QStringLiteral("unknown event \"%1\"").arg(event));
    }
    return true;
}

}  // namespace

std::optional<ReplayScript> ReplayScript::load(const QString& path, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error) *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    return parse(file.readAll(), error);
}

std::optional<ReplayScript> ReplayScript::parse(const QByteArray& text, QString* error) {
    ReplayScript script;
    const QList<QByteArray> lines = text.split('\n');
    int heldMs = 0;  // time the program waited in vain since the last tx or rx
    for (int i = 0; i < lines.size(); ++i) {
        const int lineNo = i + 1;
        const QString raw = QString::fromUtf8(lines.at(i));
        const QString line = raw.trimmed();
        if (lineNo == 1 && line != QLatin1String("# kelvano-transcript 1")) {
            fail(error, 1, QStringLiteral("not a transcript (no \"# kelvano-transcript 1\")"));
            return std::nullopt;
        }
        if (line.isEmpty()) continue;
        script.lines = lineNo;
        if (line.startsWith(QLatin1Char('#')))
            readComment(line, script.header);
        else if (!readEvent(raw, lineNo, heldMs, script, error))
            return std::nullopt;
    }
    return script;
}

}  // namespace kelvano
