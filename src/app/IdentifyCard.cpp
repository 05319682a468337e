#include "app/IdentifyCard.h"

#include <QAction>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>

#include "actions/uActions.h"
#include "app/ActionDialog.h"
#include "app/uMain.h"

namespace kelvano {

namespace {

QString cardName(int code) {
    const TDeviceEntry* row = findDevice(code);
    return row && row->displayName ? QString::fromLatin1(row->displayName)
                                   : QStringLiteral("card type %1").arg(code);
}

QString reportText(const ControllerIdentity& identity, int current,
                   const std::vector<int>& choices) {
    QStringList lines = identityReport(identity);
    lines << QString();
    if (identityFits(identity, current))
        lines << QStringLiteral("The selected card type (%1) has this controller.")
                     .arg(cardName(current));
    else if (!choices.empty())
        lines << QStringLiteral("The selected card type (%1) has another controller.")
                     .arg(cardName(current));
    else
        lines << QStringLiteral(
                     "The selected card type (%1) has another controller; pick the card type "
                     "from the Devices menu.")
                     .arg(cardName(current));
    return lines.join(QLatin1Char('\n'));
}

}  // namespace

IdentifyResultDialog::IdentifyResultDialog(const ControllerIdentity& identity, int current,
                                           QWidget* parent)
    : QDialog(parent), choices_(switchChoices(identity, current)) {
    setObjectName(QStringLiteral("IdentifyResult"));
    setWindowTitle(QStringLiteral("Identify Card"));
    auto* v = new QVBoxLayout(this);
    text_ = new QLabel(reportText(identity, current, choices_), this);
    text_->setObjectName(QStringLiteral("LabIdentity"));
    text_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    v->addWidget(text_);
    choiceBox_ = new QComboBox(this);
    choiceBox_->setObjectName(QStringLiteral("cbSwitchTo"));
    for (int code : choices_) choiceBox_->addItem(cardName(code), code);
    choiceBox_->setVisible(!choices_.empty());
    v->addWidget(choiceBox_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    switchButton_ =
        buttons->addButton(QStringLiteral("Switch Card Type"), QDialogButtonBox::AcceptRole);
    switchButton_->setObjectName(QStringLiteral("ButSwitchCard"));
    switchButton_->setVisible(!choices_.empty());
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(switchButton_, &QPushButton::clicked, this, [this] {
        chosen_ = choiceBox_->currentData().toInt();
        accept();
    });
    v->addWidget(buttons);
}

IdentifyControl::IdentifyControl(TMain& main, TActions& actions, ActionDialog& window)
    : QObject(&main), main_(main), actions_(actions), window_(window) {
    action_ = new QAction(QStringLiteral("&Identify Card..."), &main);
    action_->setObjectName(QStringLiteral("ActIdentify"));
    action_->setToolTip(QStringLiteral("Identify Card"));
    action_->setStatusTip(QStringLiteral("Read the controller's identity and name its card types"));
    // Placed after the five actions, enabled with them (while the box is connected).
    const QList<QAction*> items = main.MnuAction->actions();
    const qsizetype at = items.indexOf(main.ActVerify);
    main.MnuAction->insertAction(at >= 0 ? items.value(at + 1) : nullptr, action_);
    action_->setEnabled(main.ActRead->isEnabled());
    connect(main.ActRead, &QAction::enabledChanged, action_, &QAction::setEnabled);
    connect(action_, &QAction::triggered, this, &IdentifyControl::identify);
}

void IdentifyControl::identify() {
    actions_.setAction(ActionCode::Identify);
    window_.exec();
    if (!actions_.result().ready || !actions_.identity().read()) return;  // the error was shown
    IdentifyResultDialog dialog(actions_.identity(), main_.DeviceId(), &main_);
    const int result = show_ ? show_(dialog) : dialog.exec();
    if (result == QDialog::Accepted && dialog.chosen() != 0) main_.ChgDev(dialog.chosen());
}

}  // namespace kelvano
