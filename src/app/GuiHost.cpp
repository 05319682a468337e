#include "app/GuiHost.h"

#include <QApplication>
#include <QMessageBox>

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

void GuiHost::beep() { QApplication::beep(); }

void GuiHost::processEvents() { QCoreApplication::processEvents(); }

}  // namespace kelvano
