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
}

}  // namespace
}  // namespace kelvano
