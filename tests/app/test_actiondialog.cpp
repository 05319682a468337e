#include <gtest/gtest.h>

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "app/ActionDialog.h"
#include "test_main_support.h"

namespace kelvano {
namespace {

using namespace testing_support;

TEST(ActionDialog, EveryWayOutGoesThroughTheRunner) {
    ensureApp();
    int shows = 0, cancels = 0, closes = 0;
    QWidget owner;
    owner.setGeometry(200, 150, 633, 438);
    owner.show();
    ActionDialog dlg({[&] { ++shows; }, [&] { ++cancels; }, [&] { ++closes; }}, &owner);
    auto* label = dlg.findChild<QLabel*>("Lab1");
    auto* bar = dlg.findChild<QProgressBar*>("ProgBar");
    auto* abort = dlg.findChild<QPushButton*>("ButCancel");
    ASSERT_TRUE(label && bar && abort);
    EXPECT_FALSE(dlg.windowFlags() & Qt::WindowCloseButtonHint);

    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    EXPECT_EQ(shows, 1);
    EXPECT_LE((dlg.frameGeometry().center() - owner.frameGeometry().center()).manhattanLength(), 8);
    dlg.setCaption("PROGRAMMING DEVICE");
    dlg.setLabel("READY");
    dlg.setProgressPercent(42);
    EXPECT_EQ(dlg.windowTitle(), "PROGRAMMING DEVICE");
    EXPECT_EQ(label->text(), "READY");
    EXPECT_EQ(bar->text(), "42%");

    // Abort, Escape and the window manager's close all ask the runner; none closes.
    QTest::mouseClick(abort, Qt::LeftButton);
    QTest::keyClick(&dlg, Qt::Key_Escape);
    EXPECT_FALSE(dlg.close());
    EXPECT_EQ(cancels, 3);
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(closes, 0);
    // Without Abort (the firmware upload) nothing but the runner closes the window.
    dlg.setAbortEnabled(false);
    QTest::keyClick(&dlg, Qt::Key_Escape);
    dlg.close();
    EXPECT_EQ(cancels, 3);
    EXPECT_TRUE(dlg.isVisible());

    // A close request takes effect after the handler that made it, and closes once.
    dlg.requestClose();
    dlg.requestClose();
    EXPECT_TRUE(dlg.isVisible());
    QCoreApplication::processEvents();
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(closes, 1);

    // Shown modally by the main window: exec returns once the runner closes it.
    dlg.setAbortEnabled(true);
    QTimer::singleShot(0, &dlg, [&] { dlg.requestClose(); });
    EXPECT_EQ(dlg.exec(), QDialog::Accepted);
    EXPECT_TRUE(shows == 2 && closes == 2);
}

}  // namespace
}  // namespace kelvano
