#include "app/BoxTile.h"

#include <QLabel>
#include <QTextLayout>
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

constexpr int kMargin = 8;
constexpr int kTextWidth = BoxTile::kWidth - 2 * kMargin;
constexpr int kResultPadding = 3;

// `text` as it fits `lines` lines of the tile: wrapped at word boundaries, the last line cut
// with an ellipsis when more would follow.
QString fitted(const QString& text, const QFont& font, int width, int lines,
               Qt::TextElideMode mode) {
    const QFontMetrics metrics(font);
    if (lines <= 1) return metrics.elidedText(text, mode, width);
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);  // a long path breaks too
    layout.setTextOption(option);
    QStringList shown;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        if (shown.size() == lines - 1) {
            shown << metrics.elidedText(text.mid(line.textStart()), mode, width);
            break;
        }
        shown << text.mid(line.textStart(), line.textLength()).trimmed();
    }
    layout.endLayout();
    return shown.join(u'\n');
}

// Shows `text` in `label` as it fits (less the label's padding), and whole in the tool tip.
void setFitted(QLabel* label, const QString& text, int lines,
               Qt::TextElideMode mode = Qt::ElideRight, int padding = 0) {
    label->setText(fitted(text, label->font(), kTextWidth - 2 * padding, lines, mode));
    label->setToolTip(text);
}

QLabel* textLabel(const char* name, int lines) {
    auto* label = new QLabel;
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);
    label->setFixedWidth(kTextWidth);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setFixedHeight(lines * label->fontMetrics().lineSpacing());
    return label;
}

}  // namespace

BoxTile::BoxTile(QWidget* parent) : QFrame(parent) {
    setFrameShape(QFrame::StyledPanel);
    setFixedWidth(kWidth);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    QFont bold = font();
    bold.setBold(true);
    port_ = textLabel("Port", 1);
    port_->setFont(bold);
    port_->setFixedHeight(QFontMetrics(bold).lineSpacing());
    // Two lines for what the box does and for a message, so that every tile keeps its size.
    work_ = textLabel("Work", 2);
    QFont big = bold;
    big.setPointSize(big.pointSize() + 4);
    result_ = textLabel("Result", 1);
    result_->setFont(big);
    result_->setAlignment(Qt::AlignCenter);
    result_->setFixedHeight(QFontMetrics(big).lineSpacing() + 2 * kResultPadding);
    message_ = textLabel("Message", 2);
    message_->setStyleSheet(QStringLiteral("color: #C00000;"));
    counts_ = textLabel("Counts", 1);
    auto* box = new QVBoxLayout(this);
    box->setContentsMargins(kMargin - frameWidth(), 6, kMargin - frameWidth(), 6);
    box->setSpacing(3);
    box->addWidget(port_);
    box->addWidget(work_);
    box->addWidget(result_);
    box->addWidget(message_);
    box->addWidget(counts_);
}

void BoxTile::show(const WorkerStatus& s) {
    // A port's name differs from the next one's at its end: the middle is left out.
    setFitted(port_, s.port, 1, Qt::ElideMiddle);
    setFitted(work_, workOf(s), 2);
    work_->setStyleSheet(s.error.isEmpty() ? QString() : QStringLiteral("color: #C00000;"));
    const ResultLook look = lookOf(s.lastResult);
    setFitted(result_,
              s.lastResult.isEmpty()
                  ? QString::fromLatin1(look.text)
                  : QStringLiteral("%1  %2").arg(QLatin1String(look.text), s.lastSerial),
              1, Qt::ElideRight, kResultPadding);
    result_->setStyleSheet(
        QStringLiteral("color: white; background: %1; padding: %2px; border-radius: 3px;")
            .arg(QLatin1String(look.background))
            .arg(kResultPadding));
    // The message of the last failed card stays after later cards, marked so.
    const QString message = s.lastMessage.isEmpty() || s.lastResult == QLatin1String("fail")
                                ? s.lastMessage
                                : QStringLiteral("last failure: ") + s.lastMessage;
    setFitted(message_, message, 2);
    setFitted(
        counts_,
        QStringLiteral("%1 passed   %2 failed   %3 aborted").arg(s.pass).arg(s.fail).arg(s.aborted),
        1);
}

QString BoxTile::workText() const { return work_->toolTip(); }
QString BoxTile::resultText() const { return result_->toolTip(); }
QString BoxTile::messageText() const { return message_->toolTip(); }
QString BoxTile::countsText() const { return counts_->toolTip(); }

}  // namespace kelvano
