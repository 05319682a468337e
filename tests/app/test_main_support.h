#pragma once
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QMenu>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>
#include <optional>
#include <ostream>

#include "app/Program.h"
#include "app/uMain.h"
#include "base/Host.h"

// Readable QString values in failure messages.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
QT_END_NAMESPACE

namespace kelvano::testing_support {

// One application for every test, never destroyed: at exit Qt's own globals may be gone.
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
    void showError(const QString& text) override { errors << text; }
    bool askOkAbort(const QString&, const QString&) override { return true; }
    // A protected card: the error is kept, erasing it chosen when `eraseChosen`.
    bool eraseChosen = false;
    bool offerErase(const QString& text) override {
        errors << text;
        return eraseChosen;
    }
    void beep() override { ++beeps; }
    // Runs once at the next processEvents: what a user could do while a long fill runs.
    std::function<void()> duringEvents;
    void processEvents() override {
        if (auto f = std::exchange(duringEvents, nullptr)) f();
    }
};

// Runs the event loop until `done` holds or `ms` milliseconds have passed.
template <typename F>
bool waitFor(F done, int ms = 5000) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

// Clicks the button captioned `button` (without its '&') on the next message box once it
// shows; `seen`: the box's title|text|icon|button count.
inline void answerNextBox(QString& seen, const QString& button) {
    QTimer::singleShot(50, [&seen, button] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return answerNextBox(seen, button);
        seen = QStringLiteral("%1|%2|%3|%4")
                   .arg(box->windowTitle(), box->text())
                   .arg(int(box->icon()))
                   .arg(box->buttons().size());
        for (QAbstractButton* b : box->buttons())
            if (b->text().remove('&') == button) b->click();
    });
}

// A click on a check box's indicator (its text may be narrower than the widget).
inline void clickBox(QCheckBox* b) {
    QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(8, b->height() / 2));
}

// Keyboard focus on `w`, in the active window.
inline void focus(QWidget* w) {
    w->window()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w->window()));
    w->setFocus();
}

inline QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
inline void writeAll(const QString& path, const QByteArray& data) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(data) == data.size());
}

// The window alone: its calls into other modules go to `calls`; file dialogs answer `answer`.
struct Window {
    bool app = (ensureApp(), true);  // before the first widget
    RecordingHost host;
    Options options;
    EnableBoxes enable;
    FuseModel fuses;
    SlotFiles files;
    TMain main{host, options, enable, fuses, files};
    TDevices devices;
    QStringList calls;
    bool portIsOpen = false, usbIsConnected = false, openSucceeds = true;
    QList<FileDialogRequest> asked;
    std::optional<FileDialogChoice> answer;
    QStringList questions;  // "edits not saved" questions asked
    UnsavedChoice unsavedAnswer = UnsavedChoice::Cancel;

    explicit Window(int code = 10) {
        TMain::Links l;
        l.iniConfig = [this](bool w) { calls << (w ? "IniConfig write" : "IniConfig read"); };
        l.iniDevice = [this](bool w) {
            calls << QStringLiteral("IniDevice %1 %2")
                         .arg(w ? "write" : "read")
                         .arg(devices.DeviceId);
            cbEepMemClick(devices.DeviceId, enable);  // as the section load ends
        };
        l.connect = [this] { calls << "Connect"; };
        l.disconnect = [this] { calls << "Disconnect"; };
        l.showConfig = [this] { calls << "Config"; };
        l.portOpen = [this] { return portIsOpen; };
        l.usbConnected = [this] { return usbIsConnected; };
        l.runAction = [this](int code) { calls << QStringLiteral("Action %1").arg(code); };
        l.openFile = [this](const QString& name, int slot) {
            calls << QStringLiteral("Open %1:%2").arg(slot).arg(name);
            return openSucceeds;
        };
        l.saveFile = [this](const QString& name, int slot, int filter) {
            calls << QStringLiteral("Save %1:%2:%3").arg(slot).arg(name).arg(filter);
            return true;
        };
        main.wire(devices, l);
        main.setProgramDir("/opt/kelvano/");
        main.setFileDialogHook([this](const FileDialogRequest& r) {
            asked << r;
            return answer;
        });
        main.setUnsavedQuestionHook([this](const QString& text) {
            questions << text;
            return unsavedAnswer;
        });
        card(code);  // what the start-up timer does first
        calls.clear();
    }
    void card(int code) {
        main.setDeviceId(code);
        main.ApplyDevice();
    }
    // The user picks a card type from the Devices menu.
    void select(int code) {
        QAction* item = main.MnuDevices->findChild<QAction*>(QStringLiteral("DEV%1").arg(code));
        ASSERT_NE(item, nullptr) << code;
        item->trigger();
    }
    QString checkedDevice() const {
        for (QAction* a : main.MnuDevices->actions())
            if (a->isChecked()) return a->objectName();
        return {};
    }
    QStringList recent(int slot) const {
        const auto& r = files.RecentFiles[size_t(slot)];
        return {r[1], r[2], r[3], r[4], r[5]};
    }
    void choose(const QString& name, int filter = 1) { answer = FileDialogChoice{name, filter}; }
    QStringList takeCalls() { return std::exchange(calls, {}); }
};

// The whole program in a folder of its own; file dialogs answer `answer` (none: cancelled).
struct ProgramRig {
    QTemporaryDir dir;
    RecordingHost host;
    std::optional<FileDialogChoice> answer;
    QList<FileDialogRequest> asked;
    ProgramRig() { ensureApp(); }
    QString path(const QString& name) const { return dir.filePath(name); }
    // Shows the window and waits for the start-up timer to finish.
    std::unique_ptr<KelvanoProgram> start(const QString& port = {}) {
        KelvanoProgram::Setup s;
        s.portName = port;
        s.programDir = dir.path() + "/";
        s.host = &host;
        auto p = std::make_unique<KelvanoProgram>(std::move(s));
        // Edits not saved are dropped on close.
        p->Main.setUnsavedQuestionHook([](const QString&) { return UnsavedChoice::Discard; });
        p->Main.setFileDialogHook([this](const FileDialogRequest& r) {
            asked << r;
            return answer;
        });
        p->Main.show();
        EXPECT_TRUE(waitFor([&] { return !p->Main.Timer1.isActive(); }));
        return p;
    }
    std::string errors() const { return host.errors.join("\n").toStdString(); }
};

}  // namespace kelvano::testing_support
