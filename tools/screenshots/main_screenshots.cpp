// kelvano-screenshots: puts the real window, connected to the simulated box, into the states
// the user guide shows and captures the screen in each. scripts/screenshots.sh runs it on a
// virtual screen; every picture comes from the X server, as a user would see the window.
//
//   kelvano-screenshots OUTPUT_DIR SOURCE_DIR [GROUPS]
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMenuBar>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>
#include <functional>
#include <memory>

#include "app/ComparePanel.h"
#include "app/DumpGridView.h"
#include "app/GridEditing.h"
#include "app/ProductionWindow.h"
#include "app/Program.h"
#include "base/Host.h"

namespace {

using kelvano::KelvanoProgram;

QString g_out;  // where the pictures go
QString g_src;  // the source tree (sample files)
int g_failed = 0;

// Nobody at the screen: questions are answered OK, errors kept, and the window goes on working
// while an action runs.
class ShotHost final : public kelvano::Host {
public:
    QStringList errors;
    void showError(const QString& text) override { errors << text; }
    bool askOkAbort(const QString&, const QString&) override { return true; }
    void beep() override {}
    void processEvents() override { QCoreApplication::processEvents(); }
};

void say(const QString& text) { std::fprintf(stderr, "screenshots: %s\n", qPrintable(text)); }

// Lets the window system and the program work for `ms` milliseconds.
void settle(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// Runs the event loop until `done` holds, at most `ms` milliseconds.
bool waitFor(const std::function<bool()>& done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

// The screen as the X server has it, cut to the windows that are shown (the main window, its
// dialogs and menus), with a small margin.
void shoot(const QString& name) {
    settle(300);
    QRect area;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && !w->frameGeometry().isEmpty()) area |= w->frameGeometry();
    QScreen* screen = QGuiApplication::primaryScreen();
    area = area.adjusted(-4, -4, 4, 4) & screen->geometry();
    const QPixmap shot = screen->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    const QString path = g_out + QLatin1Char('/') + name + QStringLiteral(".png");
    if (shot.isNull() || !shot.save(path)) {
        say("could not capture " + path);
        ++g_failed;
        return;
    }
    say(QStringLiteral("%1 (%2x%3)").arg(path).arg(shot.width()).arg(shot.height()));
}

// The sample files are copied to ~/firmware under plain names, so that file labels and log
// fields show a user's folder rather than the source tree or a temporary one.
const std::pair<const char*, const char*> kSamples[] = {
    {"tests/data/pic16f84_config_id_eeprom.hex", "pic-demo.hex"},
    {"tests/data/avr8515_flash_eeprom.hex", "avr-demo.hex"},
    {"packaging/examples/badge-firmware.hex", "badge-firmware.hex"},
    {"packaging/examples/badge-eeprom.bin", "badge-eeprom.bin"},
    {"packaging/examples/badge-job.ini", "badge-job.ini"},
};

QString firmwareDir() { return QDir::homePath() + QStringLiteral("/firmware"); }

bool copySamples() {
    QDir().mkpath(firmwareDir());
    for (const auto& [from, to] : kSamples) {
        const QString target = firmwareDir() + QLatin1Char('/') + QLatin1String(to);
        QFile::remove(target);
        if (!QFile::copy(g_src + QLatin1Char('/') + QLatin1String(from), target)) {
            say(QStringLiteral("cannot copy %1 to %2").arg(QLatin1String(from), target));
            return false;
        }
    }
    return true;
}

QString sample(const char* name) { return firmwareDir() + QLatin1Char('/') + QLatin1String(name); }

// Opens `file` into `slot` through the window's own open command.
void open(KelvanoProgram& p, int slot, const QString& file) {
    p.Main.setFileDialogHook([file](const kelvano::FileDialogRequest&) {
        return std::optional<kelvano::FileDialogChoice>(kelvano::FileDialogChoice{file, 1});
    });
    p.Main.ActOpenClick(slot);
    settle(200);
}

void chooseCard(KelvanoProgram& p, int code) {
    if (QAction* item = p.Main.MnuDevices->findChild<QAction*>(QStringLiteral("DEV%1").arg(code)))
        item->trigger();
    settle(200);
}

void placeMain(KelvanoProgram& p, int width, int height) {
    p.Main.showNormal();
    p.Main.resize(width, height);
    p.Main.move(0, 0);
    settle(300);
}

// Runs an action of the window, capturing the action window once its progress is past
// `percent`.
void actionShot(KelvanoProgram& p, QAction* action, const QString& name, int percent) {
    bool taken = false;
    QTimer poll;
    poll.setInterval(15);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* bar = p.ActionWindow.findChild<QProgressBar*>();
        if (taken || !p.ActionWindow.isVisible() || !bar || bar->maximum() <= 0) return;
        if (bar->value() * 100 < bar->maximum() * percent) return;
        taken = true;
        shoot(name);
    });
    poll.start();
    action->trigger();
    poll.stop();
    if (!taken) {
        say("the action ended before " + name + " could be taken");
        ++g_failed;
    }
}

// The window as it first comes up (nothing loaded, no box connected); a PIC card with its
// program loaded, the devices menu, the configuration.
void pictures1(KelvanoProgram& p) {
    chooseCard(p, 10);
    p.Main.ButConnectClick(false);
    placeMain(p, p.Main.minimumWidth(), p.Main.minimumHeight());
    shoot("first-start");
    p.Main.ButConnectClick(true);
    settle(300);
    open(p, 1, sample("pic-demo.hex"));
    placeMain(p, p.Main.minimumWidth(), p.Main.minimumHeight());
    shoot("main-pic");

    p.Main.menuBar()->setActiveAction(p.Main.MnuDevices->menuAction());
    settle(300);
    shoot("devices");
    p.Main.MnuDevices->hide();
    p.Main.menuBar()->setActiveAction(nullptr);
    settle(200);

    p.Config.show();
    p.Config.move(p.Main.geometry().center() - p.Config.rect().center());
    shoot("config");
    p.Config.hide();
}

// An AVR card programmed, grown, compared, searched and identified.
void pictures2(KelvanoProgram& p) {
    chooseCard(p, 22);
    open(p, 1, sample("badge-firmware.hex"));
    open(p, 3, sample("badge-eeprom.bin"));
    placeMain(p, 1000, 700);
    if (auto* identify = p.Main.findChild<QAction*>(QStringLiteral("ActIdentify"))) {
        // The result window is modal: it is captured and closed from a timer while it is up.
        bool taken = false;
        QTimer poll;
        poll.setInterval(50);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* result = qobject_cast<QDialog*>(w);
                if (taken || !result || w->objectName() != QLatin1String("IdentifyResult") ||
                    !w->isVisible())
                    continue;
                taken = true;
                shoot("identify");
                result->reject();
            }
        });
        poll.start();
        identify->trigger();
        poll.stop();
        if (!taken) {
            say("Identify Card showed no result");
            ++g_failed;
        }
    } else {
        say("no Identify Card command");
        ++g_failed;
    }
    actionShot(p, p.Main.ActProg, "program", 40);
    settle(500);

    placeMain(p, 1280, 900);
    if (QTabWidget* pages = p.Main.PageCtl) pages->setCurrentIndex(0);
    shoot("avr-grown");

    // A program that differs from what the card holds now.
    open(p, 1, sample("avr-demo.hex"));
    p.Main.pGrid->setFocus();
    p.Main.Editing->compareWithCard();
    settle(500);
    if (auto* panel = p.Main.Editing->comparePanel(); panel && panel->list()->topLevelItemCount()) {
        QTreeWidgetItem* memory = panel->list()->topLevelItem(0);
        QTreeWidgetItem* row =
            memory->childCount() ? memory->child(std::min(3, memory->childCount() - 1)) : memory;
        panel->list()->setCurrentItem(row);
        emit panel->list()->itemActivated(row, 0);
    }
    shoot("compare");
    if (auto* panel = p.Main.Editing->comparePanel()) panel->hide();

    if (QTabWidget* pages = p.Main.PageCtl) pages->setCurrentIndex(1);
    p.Main.eGrid->setFocus();
    if (auto* find = p.Main.findChild<QAction*>(QStringLiteral("ActFind"))) find->trigger();
    settle(200);
    for (auto* mode : p.Main.findChildren<QRadioButton*>())
        if (mode->text() == QLatin1String("&Text")) mode->click();
    if (auto* text = p.Main.findChild<QLineEdit*>(QStringLiteral("FindText")))
        text->setText(QStringLiteral("BADGE"));
    if (auto* next = p.Main.findChild<QPushButton*>(QStringLiteral("FindNext"))) next->click();
    shoot("find");
    if (auto* close = p.Main.findChild<QAbstractButton*>(QStringLiteral("FindClose")))
        close->click();
}

// A production run on four simulated boxes, one of which fails its cards.
void pictures3(KelvanoProgram& p) {
    p.Main.hide();
    auto* w = new kelvano::ProductionWindow(&p.Main);
    w->setAttribute(Qt::WA_DeleteOnClose);
    w->show();
    w->resize(1100, 760);
    w->move(0, 0);
    if (!w->openJob(sample("badge-job.ini"))) {
        say("the sample job does not open");
        ++g_failed;
        return;
    }
    w->setPorts(QStringLiteral("SIM,SIM,SIM,SIM(noanswer,on=Y,at=40)"));
    if (!w->start()) {
        say("the production run does not start: " + w->messageText());
        ++g_failed;
        return;
    }
    const bool shown =
        waitFor([w] { return w->failText().toInt() >= 1 && w->passText().toInt() >= 6; }, 120000);
    if (!shown)
        say(QStringLiteral("production: %1 passed, %2 failed: %3")
                .arg(w->passText(), w->failText(), w->messageText()));
    shoot("production");
    w->stop();
    waitFor([w] { return !w->running(); }, 60000);
    w->close();
    p.Main.show();
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: kelvano-screenshots OUTPUT_DIR SOURCE_DIR\n");
        return 2;
    }
    g_out = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    g_src = QDir(QString::fromLocal8Bit(argv[2])).absolutePath();
    QDir().mkpath(g_out);
    if (!copySamples()) return 1;

    // A fresh program folder: first-start settings, the built-in store, no message boxes.
    QTemporaryDir folder;
    ShotHost host;
    KelvanoProgram::Setup setup;
    setup.programDir = folder.path() + QLatin1Char('/');
    setup.userConfigDir = folder.path() + QStringLiteral("/config");
    setup.portName = QStringLiteral("SIM");
    setup.host = &host;
    auto program = std::make_unique<KelvanoProgram>(std::move(setup));
    program->Main.show();
    waitFor([&] { return !program->Main.Timer1.isActive(); }, 5000);
    program->options.warnEnable = false;
    program->options.soundReady = false;
    program->options.smartAuto = true;
    settle(500);

    // An optional third argument names the groups to make ("123" by default).
    const QString groups = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QStringLiteral("123");
    if (groups.contains(QLatin1Char('1'))) pictures1(*program);
    if (groups.contains(QLatin1Char('2'))) pictures2(*program);
    if (groups.contains(QLatin1Char('3'))) pictures3(*program);
    for (const QString& e : host.errors) say("the program said: " + e);
    return g_failed ? 1 : 0;
}
