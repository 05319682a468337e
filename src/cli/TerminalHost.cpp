#include "cli/TerminalHost.h"

#include <unistd.h>

#include <QEventLoop>
#include <QTimer>
#include <cstdio>
#include <string>

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
    std::fprintf(stderr, "%s: %s\n", qPrintable(caption_), qPrintable(text));
}

}  // namespace kelvano
