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

int runReplay(const QString& path, const QString& linkPath, int lingerMs,
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
    qint64 lastTraffic = 0, failedAt = -1;
    PtyServer server([&](const QByteArray& bytes) {
        lastTraffic = clock.elapsed();
        return box.receiveSerial(bytes);
    });
    if (!server.open(&error)) return bad(error);
    if (!linkPath.isEmpty() && !server.makeLink(linkPath, &error)) return bad(error);
    std::printf("%s\n", server.slavePath().toLocal8Bit().constData());
    std::fflush(stdout);

    const QByteArray name = path.toLocal8Bit();
    while (!*stop) {
        if (!server.serveFor(20)) {
            std::fprintf(stderr, "kelvano-boxsim: the terminal failed\n");
            return 3;
        }
        const qint64 now = clock.elapsed();
        if (box.failed()) {
            if (failedAt < 0) {
                failedAt = now;
                std::fprintf(stderr, "kelvano-boxsim: %s %s\n", name.constData(),
                             box.report().toLocal8Bit().constData());
                std::fflush(stderr);
            }
            if (now - failedAt >= 1000) return 1;
        } else if (box.finished() && now - lastTraffic >= lingerMs) {
            break;
        }
    }
    if (box.failed()) return 1;
    if (!box.finished()) {
        std::fprintf(stderr, "kelvano-boxsim: %s %s\n", name.constData(),
                     box.report().toLocal8Bit().constData());
        return 1;
    }
    std::fprintf(stderr, "kelvano-boxsim: %s played to the end\n", name.constData());
    return 0;
}

}  // namespace kelvano
