#include "app/ChecksumLabels.h"

#include <QBoxLayout>
#include <QLabel>
#include <QTimer>

#include "app/uMain.h"
#include "device/Checksum.h"
#include "device/uDevices.h"

namespace kelvano {

namespace {

const char* const kFileLabels[] = {"LabFnProgMem", "LabFnDataMem", "LabFnEepMem"};

// The box layout that holds `widget`, searched from its parent's layout down.
QBoxLayout* layoutHolding(QLayout* layout, QWidget* widget) {
    if (!layout) return nullptr;
    auto* box = qobject_cast<QBoxLayout*>(layout);
    if (box && box->indexOf(widget) >= 0) return box;
    for (int i = 0; i < layout->count(); ++i)
        if (QBoxLayout* found = layoutHolding(layout->itemAt(i)->layout(), widget)) return found;
    return nullptr;
}

}  // namespace

ChecksumLabels::ChecksumLabels(TMain& main, TDevices& devices) : QObject(&main), devices_(devices) {
    for (int g = 1; g <= 3; ++g) {
        const size_t i = static_cast<size_t>(g - 1);
        auto* file = main.findChild<QLabel*>(QString::fromLatin1(kFileLabels[i]));
        if (!file) continue;
        auto* l = new QLabel(file->parentWidget());
        l->setObjectName(QStringLiteral("LabSum%1").arg(g));
        l->setToolTip(QStringLiteral(
            "CRC-32 (as zlib, PNG and gzip compute it) and the sum of the bytes modulo 65536, "
            "over the bytes a binary file of this memory holds (flash words low byte first)"));
        QFont f = l->font();
        f.setPointSizeF(f.pointSizeF() * 0.85);
        l->setFont(f);
        l->setEnabled(false);  // greyed: it reads as a note beside the file name
        if (QBoxLayout* row = layoutHolding(file->parentWidget()->layout(), file))
            row->insertWidget(row->indexOf(file) + 1, l);
        labels_[i] = l;
        auto* timer = new QTimer(this);
        timer->setSingleShot(true);
        timer->setInterval(0);
        connect(timer, &QTimer::timeout, this, [this, g] { update(g); });
        timers_[i] = timer;
        connect(&devices_.grid(g), &DumpGrid::rowsChanged, timer, qOverload<>(&QTimer::start));
        connect(&devices_.grid(g), &DumpGrid::layoutReset, timer, qOverload<>(&QTimer::start));
    }
    refresh();
}

void ChecksumLabels::refresh() {
    for (int g = 1; g <= 3; ++g) update(g);
}

void ChecksumLabels::update(int grid) {
    QLabel* l = label(grid);
    if (!l) return;
    timers_[static_cast<size_t>(grid - 1)]->stop();
    l->setText(gridChecksum(devices_, grid).text());
}

}  // namespace kelvano
