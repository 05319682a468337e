#pragma once
#include <QObject>
#include <QString>
#include <array>

namespace kelvano {

// The four boxes of the main window's "Enable" group. The sequences read them at the moment
// each step is decided; the window shows them and writes every click back at once.
class EnableBoxes : public QObject {
    Q_OBJECT
public:
    bool prog = true;    // cbProgMem "Program Memory"
    bool data = true;    // cbDataMem "Data Memory"
    bool config = true;  // cbConfig  "Configuration"
    bool eep = true;     // cbEepMem  "EEPROM Memory"
    bool progEnabled = true, dataEnabled = true, configEnabled = true, eepEnabled = true;
    bool visible = true;

    void notify() { emit changed(); }

signals:
    void changed();
};

// The external EEPROM coupling rule (cbEepMemClick): for the loader card types (11, 12, 15,
// 20 to 31) working on the external EEPROM always includes the controller's memories and
// configuration: the other three boxes are enabled exactly when "EEPROM Memory" is not
// ticked, and ticking it ticks them. Other card types are not affected.
void cbEepMemClick(int deviceId, EnableBoxes& boxes);

// The file names of the open and save commands (per slot 1..3; index 0 unused) and the
// recent-file lists of the selected card type (entries 1..5; entry 1 the newest).
struct SlotFiles {
    std::array<QString, 4> SlotFile;
    std::array<int, 4> SlotFilter{1, 1, 1, 1};
    std::array<QString, 4> SlotSaveFile;
    std::array<std::array<QString, 6>, 4> RecentFiles;
    int CurSlot = 0;
    int SaveFilter = 1;  // the save dialog keeps its filter index between uses

    // A file opened through the dialog: moves to entry 1 (no duplicates, at most five).
    void addRecent(int slot, const QString& name);
    // Entry k becomes entry 1; entries 1..k-1 shift down by one.
    void moveRecentToTop(int slot, int k);
    // The recent-file popup of a slot: "&k name" for each non-empty entry, with its k.
    QList<QPair<int, QString>> recentPopup(int slot) const;
};

}  // namespace kelvano
