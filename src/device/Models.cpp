#include "device/Models.h"

#include "device/uDevices.h"

namespace kelvano {

void cbEepMemClick(int deviceId, EnableBoxes& b) {
    if (!eepCouplingApplies(deviceId)) return;
    b.progEnabled = b.dataEnabled = b.configEnabled = !b.eep;
    if (b.eep) b.prog = b.data = b.config = true;
    b.notify();
}

void SlotFiles::moveRecentToTop(int slot, int k) {
    if (slot < 1 || slot > 3 || k <= 1 || k > 5) return;
    auto& list = RecentFiles[static_cast<size_t>(slot)];
    QString moved = list[static_cast<size_t>(k)];
    for (int i = k; i > 1; --i) list[static_cast<size_t>(i)] = list[static_cast<size_t>(i - 1)];
    list[1] = moved;
}

void SlotFiles::addRecent(int slot, const QString& name) {
    if (slot < 1 || slot > 3) return;
    auto& list = RecentFiles[static_cast<size_t>(slot)];
    for (int k = 1; k <= 5; ++k) {
        if (list[static_cast<size_t>(k)] == name) {
            moveRecentToTop(slot, k);
            return;
        }
    }
    for (int i = 5; i > 1; --i) list[static_cast<size_t>(i)] = list[static_cast<size_t>(i - 1)];
    list[1] = name;
}

QList<QPair<int, QString>> SlotFiles::recentPopup(int slot) const {
    QList<QPair<int, QString>> items;
    if (slot < 1 || slot > 3) return items;
    for (int k = 1; k <= 5; ++k) {
        const QString& f = RecentFiles[static_cast<size_t>(slot)][static_cast<size_t>(k)];
        if (!f.isEmpty()) items.append({k, QStringLiteral("&%1 %2").arg(k).arg(f)});
    }
    return items;
}

}  // namespace kelvano
