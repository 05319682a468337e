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
    ActionDialog dlg({[&] { ++shows; }, [&] { ++cancels; }, [&] { ++closes; }});
    auto* abort = dlg.findChild<QPushButton*>("ButCancel");
    ASSERT_TRUE(abort);
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    EXPECT_EQ(shows, 1);
    dlg.setLabel("READY");
    dlg.setProgressPercent(42);
    EXPECT_EQ(dlg.findChild<QLabel*>("Lab1")->text(), "READY");
    EXPECT_EQ(dlg.findChild<QProgressBar*>("ProgBar")->text(), "42%");

    // Abort, Escape and the window manager's close all ask the runner; none closes.
    QTest::mouseClick(abort, Qt::LeftButton);
    QTest::keyClick(&dlg, Qt::Key_Escape);
    EXPECT_FALSE(dlg.close());
    EXPECT_EQ(cancels, 3);
    // Without Abort (the firmware upload) nothing but the runner closes the window.
    dlg.setAbortEnabled(false);
    QTest::keyClick(&dlg, Qt::Key_Escape);
    dlg.close();
    EXPECT_EQ(cancels, 3);
    EXPECT_TRUE(dlg.isVisible() && closes == 0);

    // A close request takes effect after the handler that made it, and closes once.
    dlg.requestClose();
    dlg.requestClose();
    EXPECT_TRUE(dlg.isVisible());
    QCoreApplication::processEvents();
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(closes, 1);

    // Shown modally by the main window: exec returns once the runner closes it.
    QTimer::singleShot(0, &dlg, [&] { dlg.requestClose(); });
    EXPECT_EQ(dlg.exec(), QDialog::Accepted);
    EXPECT_TRUE(shows == 2 && closes == 2);
}

}  // namespace
}  // namespace kelvano
