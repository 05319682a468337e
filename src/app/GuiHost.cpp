#include "app/GuiHost.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace kelvano {

QString GuiHost::boxText(const QString& text) {
    QString out = text;
    out.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    out.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return out;
}

void GuiHost::showError(const QString& text) {
    QApplication::beep();
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Error"), boxText(text),
                    QMessageBox::Cancel, owner_.data());
    box.setObjectName(QStringLiteral("ErrorBox"));
    box.exec();
}

bool GuiHost::askOkAbort(const QString& caption, const QString& text) {
    QMessageBox box(QMessageBox::Warning, caption, boxText(text),
                    QMessageBox::Ok | QMessageBox::Abort, owner_.data());
    box.setObjectName(QStringLiteral("OkAbortBox"));
    return box.exec() == QMessageBox::Ok;
}

bool GuiHost::offerErase(const QString& text) {
    if (!eraseOffered_) {
        showError(text);
        return false;
    }
    QApplication::beep();
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Error"),
                    boxText(text) + QStringLiteral("\n\nErasing the card clears its protection "
                                                   "and its contents; the buffers are then "
                                                   "programmed."),
                    QMessageBox::Cancel, owner_.data());
    box.setObjectName(QStringLiteral("ProtectedBox"));
    QPushButton* erase =
        box.addButton(QStringLiteral("&Erase and program"), QMessageBox::AcceptRole);
    erase->setObjectName(QStringLiteral("EraseAndProgram"));
    box.setDefaultButton(QMessageBox::Cancel);
    box.exec();
    return box.clickedButton() == erase;
}

void GuiHost::beep() { QApplication::beep(); }

void GuiHost::processEvents() { QCoreApplication::processEvents(); }

}  // namespace kelvano
