#pragma once
#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>
#include <functional>
#include <ostream>
#include <utility>

#include "base/Host.h"

// Readable QString values in failure messages.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
QT_END_NAMESPACE

namespace kelvano::testing_support {

// The widgets need an application object; every test of this program shares one. It is
// never destroyed: at exit Qt's own globals may already be gone.
inline void ensureApp() {
    if (QCoreApplication::instance()) return;
    static int argc = 1;
    static char name[] = "test_app";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
}

// A host that records instead of showing boxes.
class RecordingHost : public Host {
public:
    QStringList errors;
    int beeps = 0;
    bool okAnswer = true;
    void showError(const QString& text) override { errors << text; }
    bool askOkAbort(const QString&, const QString&) override { return okAnswer; }
    void beep() override { ++beeps; }
    // Runs once at the next processEvents: what a user could do while a long fill runs.
    std::function<void()> duringEvents;
    int pumps = 0;
    void processEvents() override {
        ++pumps;
        if (auto f = std::exchange(duringEvents, nullptr)) f();
    }
};

// Runs the event loop until `done` holds or five seconds have passed.
template <typename F>
bool waitFor(F done) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

}  // namespace kelvano::testing_support
