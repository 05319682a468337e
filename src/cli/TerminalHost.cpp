#include "cli/TerminalHost.h"

#include <unistd.h>

#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>
#include <cstdio>
#include <string>

#include "cli/CliParser.h"
#include "device/Compare.h"

namespace kelvano {

QString TerminalHost::toTerminalText(const QString& text) {
    QString t = text;
    t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return t;
}

void TerminalHost::showError(const QString& text) {
    ++errors_;
    last_ = text;
    const QByteArray out = toTerminalText(text).toLocal8Bit();
    std::fwrite(out.constData(), 1, static_cast<size_t>(out.size()), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

bool TerminalHost::askOkAbort(const QString& caption, const QString& text) {
    const QByteArray msg =
        (caption + QStringLiteral(": ") + toTerminalText(text).trimmed()).toLocal8Bit();
    std::fprintf(stderr, "%s\n", msg.constData());
    if (yes_) {
        std::fputs("-> OK (--yes)\n", stderr);
        return true;
    }
    if (!isatty(STDIN_FILENO)) {
        std::fputs("-> Abort (no terminal to ask; use --yes to answer OK)\n", stderr);
        return false;
    }
    std::fputs("[O]K or [A]bort? ", stderr);
    std::fflush(stderr);
    char line[64];
    if (!std::fgets(line, sizeof line, stdin)) return false;
    return line[0] == 'o' || line[0] == 'O' || line[0] == 'y' || line[0] == 'Y';
}

void runUntilFormCloses(std::function<void()>& onClose, const std::function<void()>& start) {
    QEventLoop loop;
    bool closing = false;
    onClose = [&] {
        if (closing) return;
        closing = true;
        QTimer::singleShot(0, &loop, &QEventLoop::quit);
    };
    start();
    loop.exec();
    onClose = nullptr;
}

void StatusLineView::setLabel(const QString& text) {
    if (text == label_) return;
    label_ = text;
    if (text.isEmpty() || (!showReady_ && text.startsWith(QLatin1String("READY")))) return;
    note(caption_ + QStringLiteral(": ") + text);
}

namespace {

OutputMode mode;

void toStderr(const QString& text) {
    const QByteArray out = text.toLocal8Bit();
    std::fwrite(out.constData(), 1, size_t(out.size()), stderr);
    std::fflush(stderr);
}

QJsonArray memoryList(MemorySet set) {
    QJsonArray list;
    for (Memory m : {Memory::Program, Memory::Data, Memory::Configuration, Memory::ExternalEeprom})
        if (set.has(m)) list.append(memoryKey(m));
    return list;
}

// Why a memory that was asked for was not done.
QString notDoneReason(Memory m, const ActionResult& r) {
    if (r.skipped.has(m)) {
        for (const QString& n : r.notices)
            if (n.contains(memoryName(m), Qt::CaseInsensitive)) return n;
        return QStringLiteral("left out");
    }
    if (r.failed.has(m)) return r.errors.value(r.errors.size() - 1, QStringLiteral("failed"));
    if (r.errors.isEmpty() && r.aborted)
        return QStringLiteral(
            "not reached: a question was answered Abort, or the action was "
            "interrupted");
    return QStringLiteral("not reached: the action stopped before it");
}

}  // namespace

void setOutputMode(const OutputMode& m) { mode = m; }
const OutputMode& outputMode() { return mode; }

void note(const QString& text) {
    if (!mode.quiet) toStderr(text + QLatin1Char('\n'));
}

void detail(const QString& text) {
    if (mode.verbose && !mode.quiet) toStderr(text + QLatin1Char('\n'));
}

int printResult(int status, const QString& human, QJsonObject json) {
    if (!mode.json) return writeOut(human.toLocal8Bit()) ? status : ExitFailed;
    if (!mode.quiet) toStderr(human);
    json.insert(QStringLiteral("status"), status);
    // One line: a document per run that line-based tools (jq, grep) take as it is.
    return writeOut(QJsonDocument(json).toJson(QJsonDocument::Compact) + '\n') ? status
                                                                               : ExitFailed;
}

QString memoryKey(Memory memory) {
    switch (memory) {
        case Memory::Program:
            return QStringLiteral("prog");
        case Memory::Data:
            return QStringLiteral("data");
        case Memory::Configuration:
            return QStringLiteral("config");
        case Memory::ExternalEeprom:
            break;
    }
    return QStringLiteral("eeprom");
}

QJsonObject compareJson(const CompareReport& report, int maxRuns) {
    QJsonArray memories;
    for (const MemoryDiff& m : report.memories) {
        QJsonObject one{{"memory", m.key}, {"compared", m.compared}};
        if (!m.compared) one.insert(QStringLiteral("reason"), m.note);
        one.insert(QStringLiteral("differences"), m.differences());
        QJsonArray runs;
        for (const DiffRun& r : m.runs) {
            if (runs.size() == maxRuns) break;
            QJsonArray expected, found;
            for (size_t i = 0; i < r.expected.size(); ++i) {
                expected.append(int(r.expected[i]));
                found.append(int(r.found[i]));
            }
            runs.append(QJsonObject{{"first", r.first},
                                    {"count", r.count()},
                                    {"expected", expected},
                                    {"found", found}});
        }
        one.insert(QStringLiteral("firstDifferences"), runs);
        memories.append(one);
    }
    return {{"against", report.against}, {"memories", memories}};
}

int reportAction(int status, const ActionReport& report) {
    QJsonObject json{{"command", report.command},
                     {"card", report.card},
                     {"seconds", double(report.milliseconds) / 1000.0}};
    QString human;
    if (status == ExitDone || status == ExitPartial)
        human = status == ExitPartial
                    ? QStringLiteral("READY, with the parts named above left out\n")
                    : QStringLiteral("READY\n");
    if (const ActionResult* r = report.result) {
        MemorySet all;
        for (Memory m :
             {Memory::Program, Memory::Data, Memory::Configuration, Memory::ExternalEeprom})
            if (r->read.has(m) || r->written.has(m) || r->verified.has(m) || r->blankChecked.has(m))
                all.add(m);
        QJsonArray notDone;
        for (Memory m :
             {Memory::Program, Memory::Data, Memory::Configuration, Memory::ExternalEeprom})
            if (report.asked.has(m) && !all.has(m))
                notDone.append(
                    QJsonObject{{"memory", memoryKey(m)}, {"reason", notDoneReason(m, *r)}});
        json.insert(QStringLiteral("done"), memoryList(all));
        json.insert(QStringLiteral("notDone"), notDone);
        json.insert(QStringLiteral("errors"), QJsonArray::fromStringList(r->errors));
        json.insert(QStringLiteral("notices"), QJsonArray::fromStringList(r->notices));
    }
    json.insert(QStringLiteral("saved"), QJsonArray::fromStringList(report.saved));
    if (!mode.json) {
        // The closing line is a note on standard error, as the progress before it.
        if (!human.isEmpty()) note(human.trimmed());
        return status;
    }
    return printResult(status, mode.quiet ? QString() : human, json);
}

}  // namespace kelvano
