#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QtEndian>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "actions/ActionRig.h"
#include "app/ActionDialog.h"

namespace kelvano {
namespace {

void ensureApp() {
    if (QCoreApplication::instance()) return;
    static int argc = 1;
    static char name[] = "test_app";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
}

struct Calls {
    int shows = 0, cancels = 0, closes = 0;
    ActionDialog::Runner runner() {
        return {[this] { ++shows; }, [this] { ++cancels; }, [this] { ++closes; }};
    }
};

TEST(ActionDialog, ShowsTheRunnersWindowAndRoutesEveryWayOutThroughIt) {
    ensureApp();
    Calls calls;
    QWidget owner;
    owner.setGeometry(200, 150, 633, 438);
    owner.show();
    ActionDialog dlg(calls.runner(), &owner);

    EXPECT_EQ(dlg.objectName(), "Actions");
    EXPECT_EQ(dlg.windowTitle(), "Actions");
    EXPECT_TRUE(dlg.windowFlags() & Qt::Tool);
    EXPECT_FALSE(dlg.windowFlags() & Qt::WindowCloseButtonHint);
    auto* label = dlg.findChild<QLabel*>("Lab1");
    auto* bar = dlg.findChild<QProgressBar*>("ProgBar");
    auto* abort = dlg.findChild<QPushButton*>("ButCancel");
    ASSERT_TRUE(label && bar && abort);
    EXPECT_EQ(label->text(), "INSERT CARD");
    EXPECT_TRUE(label->font().bold());
    EXPECT_TRUE(label->alignment() & Qt::AlignHCenter);
    EXPECT_EQ(bar->text(), "0%");
    EXPECT_EQ(abort->text(), "Abort");

    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    EXPECT_EQ(calls.shows, 1);
    EXPECT_LE((dlg.frameGeometry().center() - owner.frameGeometry().center()).manhattanLength(), 8);

    dlg.setCaption("PROGRAMMING DEVICE");
    dlg.setLabel("READY");
    dlg.setProgressPercent(42);
    EXPECT_EQ(dlg.windowTitle(), "PROGRAMMING DEVICE");
    EXPECT_EQ(label->text(), "READY");
    EXPECT_EQ(bar->text(), "42%");

    QTest::mouseClick(abort, Qt::LeftButton);
    EXPECT_EQ(calls.cancels, 1);
    QTest::keyClick(&dlg, Qt::Key_Escape);
    EXPECT_EQ(calls.cancels, 2);
    EXPECT_FALSE(dlg.close());  // the window manager's close asks the runner, too
    EXPECT_EQ(calls.cancels, 3);
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(calls.closes, 0);

    // Without Abort (the firmware upload) nothing but the runner closes the window.
    dlg.setAbortEnabled(false);
    QTest::keyClick(&dlg, Qt::Key_Escape);
    dlg.close();
    EXPECT_EQ(calls.cancels, 3);
    EXPECT_TRUE(dlg.isVisible());

    // A close request takes effect after the handler that made it, and closes once.
    dlg.requestClose();
    dlg.requestClose();
    EXPECT_TRUE(dlg.isVisible());
    QCoreApplication::processEvents();
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(calls.closes, 1);

    // Shown modally by the main window: exec returns once the runner closes it.
    dlg.setAbortEnabled(true);
    QTimer::singleShot(0, &dlg, [&] { dlg.requestClose(); });
    EXPECT_EQ(dlg.exec(), QDialog::Accepted);
    EXPECT_EQ(calls.shows, 2);
    EXPECT_EQ(calls.closes, 2);

    // The progress window: the runner shows and hides it and runs FormShow itself.
    dlg.showModeless();
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_FALSE(dlg.isModal());
    EXPECT_EQ(calls.shows, 2);
    dlg.hideWindow();
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(calls.closes, 2);

    dlg.playReadySound();  // no audio output here: quietly nothing
    QFile chime(":/sounds/ready.wav");
    ASSERT_TRUE(chime.open(QIODevice::ReadOnly));
    const QByteArray wav = chime.readAll();
    ASSERT_GT(wav.size(), 44);
    EXPECT_TRUE(wav.startsWith("RIFF") && wav.mid(8, 4) == "WAVE");
    const int rate = qFromLittleEndian<qint32>(wav.constData() + 24);
    const int bits = qFromLittleEndian<qint16>(wav.constData() + 34);
    EXPECT_EQ(bits, 16);
    const double seconds = double(wav.size() - 44) / (rate * 2);
    EXPECT_NEAR(seconds, 0.3, 0.02);
}

TEST(ActionDialog, RunsARealActionFromShowToClose) {
    ensureApp();
    test::ActionRig rig(10);
    ASSERT_TRUE(rig.connect());
    rig.options.smartAuto = true;
    ActionDialog dlg(rig.actions);
    EXPECT_EQ(rig.actions.view(), &dlg);

    rig.actions.ActionMode = 3;  // blank check, with the card already in the box
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &dlg, [&] { dlg.done(QDialog::Rejected); });
    guard.start(10000);
    EXPECT_EQ(dlg.exec(), QDialog::Accepted);
    EXPECT_TRUE(rig.host.errors.isEmpty()) << rig.host.errors.join('|').toStdString();
    EXPECT_EQ(dlg.windowTitle(), "BLANK CHECK");
    EXPECT_EQ(dlg.findChild<QLabel*>("Lab1")->text(), "READY");
    const QStringList sent = rig.commands();
    ASSERT_GE(sent.size(), 2);
    EXPECT_TRUE(sent.contains("M0"));  // the closing steps ran
    EXPECT_EQ(sent.count("M0"), 1);

    // No card: the window waits; Abort closes it and the box goes back to idle.
    rig.box.removeCard();
    rig.box.clearTrace();
    rig.actions.ActionMode = 1;
    QTimer::singleShot(350, &dlg, [&] {
        EXPECT_EQ(dlg.findChild<QLabel*>("Lab1")->text(), "INSERT CARD");
        QTest::mouseClick(dlg.findChild<QPushButton*>("ButCancel"), Qt::LeftButton);
    });
    guard.start(10000);
    EXPECT_EQ(dlg.exec(), QDialog::Accepted);
    EXPECT_TRUE(rig.commands().contains("K"));
    EXPECT_TRUE(rig.commands().contains("M0"));
    EXPECT_FALSE(rig.actions.Running);
}

}  // namespace
}  // namespace kelvano
