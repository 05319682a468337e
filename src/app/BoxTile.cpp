#include "app/BoxTile.h"

#include <QLabel>
#include <QVBoxLayout>

namespace kelvano {

namespace {

struct ResultLook {
    const char* background;
    const char* text;
};

ResultLook lookOf(const QString& result) {
    if (result == QLatin1String("pass")) return {"#0A8A0A", "PASS"};
    if (result == QLatin1String("fail")) return {"#C00000", "FAIL"};
    if (result == QLatin1String("aborted")) return {"#B86E00", "ABORTED"};
    return {"#9A9A9A", "no card yet"};
}

// What the box is at: the card in work with its step, else the worker's state.
QString workOf(const WorkerStatus& s) {
    if (!s.error.isEmpty()) return s.state + QStringLiteral(": ") + s.error;
    if (s.state == QLatin1String("programming") && !s.step.isEmpty())
        return QStringLiteral("%1  %2 %3%")
            .arg(s.serial.isEmpty() ? QStringLiteral("card") : s.serial, s.step)
            .arg(s.percent);
    if (s.state == QLatin1String("programming"))
        return QStringLiteral("%1  programming").arg(s.serial);
    return s.state;
}

}  // namespace

BoxTile::BoxTile(QWidget* parent) : QFrame(parent) {
    setFrameShape(QFrame::StyledPanel);
    setMinimumWidth(190);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    port_ = new QLabel;
    QFont bold = port_->font();
    bold.setBold(true);
    port_->setFont(bold);
    work_ = new QLabel;
    work_->setWordWrap(true);
    result_ = new QLabel;
    result_->setAlignment(Qt::AlignCenter);
    QFont big = bold;
    big.setPointSize(big.pointSize() + 4);
    result_->setFont(big);
    message_ = new QLabel;
    message_->setWordWrap(true);
    message_->setTextFormat(Qt::PlainText);
    message_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    message_->setStyleSheet(QStringLiteral("color: #C00000;"));
    // Two lines for what the box does and for a message, so that every tile keeps its size.
    const int twoLines = 2 * fontMetrics().lineSpacing();
    work_->setMinimumHeight(twoLines);
    work_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    message_->setMinimumHeight(twoLines);
    message_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    counts_ = new QLabel;
    auto* box = new QVBoxLayout(this);
    box->setSpacing(3);
    box->addWidget(port_);
    box->addWidget(work_);
    box->addWidget(result_);
    box->addWidget(message_);
    box->addWidget(counts_);
}

void BoxTile::show(const WorkerStatus& s) {
    port_->setText(s.port);
    port_->setToolTip(s.port);
    const QString work = workOf(s);
    work_->setText(work);
    work_->setToolTip(work);
    work_->setStyleSheet(s.error.isEmpty() ? QString() : QStringLiteral("color: #C00000;"));
    const ResultLook look = lookOf(s.lastResult);
    result_->setText(s.lastResult.isEmpty()
                         ? QString::fromLatin1(look.text)
                         : QStringLiteral("%1  %2").arg(QLatin1String(look.text), s.lastSerial));
    result_->setStyleSheet(
        QStringLiteral("color: white; background: %1; padding: 3px; border-radius: 3px;")
            .arg(QLatin1String(look.background)));
    // The message of the last failed card stays after later cards, marked so; it is shown
    // whole (wrapped) and as a tool tip.
    const QString message = s.lastMessage.isEmpty() || s.lastResult == QLatin1String("fail")
                                ? s.lastMessage
                                : QStringLiteral("last failure: ") + s.lastMessage;
    message_->setText(message);
    message_->setToolTip(message);
    counts_->setText(QStringLiteral("%1 passed   %2 failed   %3 aborted")
                         .arg(s.pass)
                         .arg(s.fail)
                         .arg(s.aborted));
}

QString BoxTile::workText() const { return work_->text(); }
QString BoxTile::resultText() const { return result_->text(); }
QString BoxTile::messageText() const { return message_->text(); }
QString BoxTile::countsText() const { return counts_->text(); }

}  // namespace kelvano
