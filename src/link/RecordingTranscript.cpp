#include "link/RecordingTranscript.h"

#include <QDateTime>

namespace kelvano {

#ifndef KELVANO_VERSION
#define KELVANO_VERSION "unknown"
#endif

QString TranscriptRecorder::programVersion() { return QStringLiteral(KELVANO_VERSION); }

bool TranscriptRecorder::start(const QString& path, const Header& header) {
    stop();
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        error_ = file->errorString();
        return false;
    }
    file_ = std::move(file);
    fileName_ = path;
    error_.clear();
    startMs_ = clock_.nowMs();
    rx_.clear();
    writeLine(QStringLiteral("# kelvano-transcript 1"));
    writeLine(QStringLiteral("# program: %1 %2").arg(header.frontEnd, programVersion()));
    writeLine(QStringLiteral("# card: %1").arg(header.card));
    if (!header.command.isEmpty()) writeLine(QStringLiteral("# command: ") + header.command);
    writeLine(QStringLiteral("# started: ") +
              QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
    return true;
}

void TranscriptRecorder::stop(int result) {
    if (!file_) return;
    flushRx();
    if (result >= 0) writeLine(QStringLiteral("# result: %1").arg(result));
    file_->close();
    file_.reset();
}

void TranscriptRecorder::writeLine(const QString& line) {
    if (!file_) return;
    file_->write(line.toUtf8() + '\n');
    // A transcript matters most when the program dies in the middle of an exchange.
    file_->flush();
}

QString TranscriptRecorder::hexBytes(const QByteArray& bytes) {
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

QString TranscriptRecorder::printable(const QByteArray& bytes) {
    QString text;
    for (char c : bytes) text += (uchar(c) >= 32 && uchar(c) < 127) ? QChar(c) : QChar('.');
    return text;
}

void TranscriptRecorder::flushRx() {
    if (rx_.isEmpty() || !file_) return;
    const QByteArray bytes = rx_;
    rx_.clear();
    writeLine(QStringLiteral("%1 rx %2 | %3")
                  .arg(rxAt_, 6)
                  .arg(hexBytes(bytes), printable(bytes)));
}

void TranscriptRecorder::event(const QString& name, const QString& fields) {
    if (!file_) return;
    flushRx();
    QString line = QStringLiteral("%1 %2").arg(elapsed(), 6).arg(name);
    if (!fields.isEmpty()) line += QLatin1Char(' ') + fields;
    writeLine(line);
}

void TranscriptRecorder::bytesEvent(const QString& name, const QString& fields,
                                    const QByteArray& bytes) {
    QString all = fields;
    if (!bytes.isEmpty()) {
        if (!all.isEmpty()) all += QLatin1Char(' ');
        all += hexBytes(bytes) + QStringLiteral(" | ") + printable(bytes);
    }
    event(name, all);
}

void TranscriptRecorder::rxByte(uchar byte) {
    if (!file_) return;
    if (rx_.isEmpty()) rxAt_ = elapsed();
    rx_.append(char(byte));
}

void TranscriptRecorder::comment(const QString& text) {
    if (!file_) return;
    flushRx();
    writeLine(QStringLiteral("# ") + text);
}

}  // namespace kelvano
