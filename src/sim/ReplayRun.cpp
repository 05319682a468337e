#include "sim/ReplayRun.h"

#include <QElapsedTimer>
#include <cstdio>

#include "sim/PtyServer.h"
#include "sim/ReplayBox.h"

namespace kelvano {

namespace {
int bad(const QString& text) {
    std::fprintf(stderr, "kelvano-boxsim: %s\n", text.toLocal8Bit().constData());
    return 2;
}
}  // namespace

// Why the replay stopped before the transcript's end, or empty while it goes on.
QString stopReason(const PtyServer& server, qint64 quietMs, int silenceMs) {
    if (server.hungUp()) return QStringLiteral("the program closed the line");
    if (quietMs >= silenceMs)
        return QStringLiteral("the program sent nothing for %1 s").arg(double(silenceMs) / 1000.0);
    return {};
}

int runReplay(const QString& path, const QString& linkPath, int lingerMs, int silenceMs,
              const volatile std::sig_atomic_t* stop) {
    QString error;
    std::optional<ReplayScript> script = ReplayScript::load(path, &error);
    if (!script) return bad(path + QLatin1Char(' ') + error);
    if (script->usb)
        return bad(path + QStringLiteral(" records a USB link; only serial transcripts are "
                                         "replayed on a terminal"));

    ReplayBox box(std::move(*script));
    QElapsedTimer clock;
    clock.start();
    qint64 lastTraffic = 0, failedAt = -1, seen = 0;
    PtyServer server(box);
    server.watchHangUp();
    if (!server.open(&error)) return bad(error);
    if (!linkPath.isEmpty() && !server.makeLink(linkPath, &error)) return bad(error);
    std::printf("%s\n", server.slavePath().toLocal8Bit().constData());
    std::fflush(stdout);

    const QByteArray name = path.toLocal8Bit();
    QString stopped;
    while (!*stop) {
        if (!server.serveFor(20)) {
            std::fprintf(stderr, "kelvano-boxsim: the terminal failed\n");
            return 3;
        }
        const qint64 now = clock.elapsed();
        if (box.bytesReceived() != seen) seen = box.bytesReceived(), lastTraffic = now;
        if (box.failed()) {
            if (failedAt < 0) {
                failedAt = now;
                std::fprintf(stderr, "kelvano-boxsim: %s %s\n", name.constData(),
                             box.report().toLocal8Bit().constData());
                std::fflush(stderr);
            }
            if (now - failedAt >= 1000 || server.hungUp()) return 1;
        } else if (box.finished() && (now - lastTraffic >= lingerMs || server.hungUp())) {
            break;
        } else if (!box.finished()) {
            stopped = stopReason(server, now - lastTraffic, silenceMs);
            if (!stopped.isEmpty()) break;
        }
    }
    if (box.failed()) return 1;
    if (!box.finished()) {
        std::fprintf(stderr, "kelvano-boxsim: %s %s\n", name.constData(),
                     box.report(stopped).toLocal8Bit().constData());
        return 1;
    }
    std::fprintf(stderr, "kelvano-boxsim: %s played to the end\n", name.constData());
    return 0;
}

}  // namespace kelvano
