#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include "app/GuiHost.h"
#include "test_main_support.h"

namespace kelvano {
namespace {

using testing_support::ensureApp;

struct SeenBox {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QList<QMessageBox::StandardButton> buttons;
};

// Looks at the modal box as soon as it is up, then presses `press`.
void inspectNextBox(SeenBox& seen, QMessageBox::StandardButton press) {
    QTimer::singleShot(0, [&seen, press] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        seen.title = box->windowTitle();
        seen.text = box->text();
        seen.icon = box->icon();
        for (QAbstractButton* b : box->buttons()) seen.buttons << box->standardButton(b);
        box->button(press)->click();
    });
}

TEST(GuiHostTest, ErrorBoxAndOkAbortQuestion) {
    ensureApp();
    GuiHost host;
    SeenBox error;
    inspectNextBox(error, QMessageBox::Cancel);
    host.showError("Error in line 3 of file:\rx.hex");
    EXPECT_EQ(error.title, "Error");
    EXPECT_EQ(error.text, "Error in line 3 of file:\nx.hex");
    EXPECT_EQ(error.icon, QMessageBox::Critical);
    EXPECT_EQ(error.buttons, QList<QMessageBox::StandardButton>({QMessageBox::Cancel}));

    SeenBox ask;
    inspectNextBox(ask, QMessageBox::Ok);
    EXPECT_TRUE(host.askOkAbort("Warning", "Card is protected\r\nContinue?"));
    EXPECT_EQ(ask.text, "Card is protected\nContinue?");
    EXPECT_EQ(ask.icon, QMessageBox::Warning);
    EXPECT_TRUE(ask.buttons.size() == 2 && ask.buttons.contains(QMessageBox::Abort));
}

}  // namespace
}  // namespace kelvano
