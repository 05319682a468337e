#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include "app/GuiHost.h"
#include "test_main_support.h"

namespace kelvano {
namespace {

// Presses `press` on the next modal box; `seen` gets its title, text, icon and button count.
void answerNextBox(QString& seen, QMessageBox::StandardButton press) {
    QTimer::singleShot(0, [&seen, press] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        seen = QStringLiteral("%1|%2|%3|%4")
                   .arg(box->windowTitle(), box->text())
                   .arg(int(box->icon()))
                   .arg(box->buttons().size());
        box->button(press)->click();
    });
}

TEST(GuiHostTest, ErrorBoxAndOkAbortQuestion) {
    testing_support::ensureApp();
    GuiHost host;
    QString error, ok, abort;
    answerNextBox(error, QMessageBox::Cancel);
    host.showError("Error in line 3 of file:\rx.hex");
    EXPECT_EQ(error, QStringLiteral("Error|Error in line 3 of file:\nx.hex|%1|1")
                         .arg(int(QMessageBox::Critical)));
    answerNextBox(ok, QMessageBox::Ok);
    EXPECT_TRUE(host.askOkAbort("Warning", "Card is protected\r\nContinue?"));
    EXPECT_EQ(
        ok,
        QStringLiteral("Warning|Card is protected\nContinue?|%1|2").arg(int(QMessageBox::Warning)));
    answerNextBox(abort, QMessageBox::Abort);
    EXPECT_FALSE(host.askOkAbort("Warning", "Card is protected"));

    // A protected card: the error box, or (during a window action) the choice to erase it.
    const QString locked =
        "AVR-Device is protected!\rCan't read, verify or blank check the device.";
    answerNextBox(error, QMessageBox::Cancel);
    EXPECT_FALSE(host.offerErase(locked));
    EXPECT_TRUE(error.endsWith("|1"));
    host.setEraseOffered(true);
    for (const char* press : {"EraseAndProgram", ""}) {
        QTimer::singleShot(0, [&error, press] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            error = box->text() + QStringLiteral("|%1").arg(box->buttons().size());
            auto* erase = box->findChild<QAbstractButton*>(press);
            (erase ? erase : box->button(QMessageBox::Cancel))->click();
        });
        EXPECT_EQ(host.offerErase(locked), *press != 0);
        EXPECT_EQ(error,
                  "AVR-Device is protected!\nCan't read, verify or blank check the device.\n\n"
                  "Erasing the card clears its protection and its contents; the buffers are then "
                  "programmed.|2");
    }
}

}  // namespace
}  // namespace kelvano
