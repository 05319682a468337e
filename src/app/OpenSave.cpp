// The open and save commands of the main window: dialogs, remembered names per slot, the
// recent-file drop-downs and Fast Open.
#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QRegularExpression>
#include <algorithm>

#include "app/GridEditing.h"
#include "app/uMain.h"

namespace kelvano {

const char* const kPicOpenFilter =
    "HEX-Files (*.hex,*.hx8)|*.hex;*.hx8|BIN-Files (*.bin)|*.bin|All Files (*.*)|*.*|"
    "S-Record-Files (*.s19,*.s28,*.s37,*.srec,*.mot)|*.s19;*.s28;*.s37;*.srec;*.mot|"
    "TI-TXT-Files (*.txt)|*.txt";
const char* const kAvrFlashOpenFilter =
    "HEX-Files (*.hex,*.hx8)|*.hex;*.hx8|BIN-Files (*.bin)|*.bin|"
    "AVR-Object-Files (*.obj)|*.obj|All Files (*.*)|*.*|"
    "S-Record-Files (*.s19,*.s28,*.s37,*.srec,*.mot)|*.s19;*.s28;*.s37;*.srec;*.mot|"
    "TI-TXT-Files (*.txt)|*.txt|ELF-Files (*.elf)|*.elf";
const char* const kAvrEepromOpenFilter =
    "HEX-Files (*.hex,*.hx8)|*.hex;*.hx8|BIN-Files (*.bin)|*.bin|"
    "AVR-Eeprom-Files (*.eep)|*.eep|All Files (*.*)|*.*|"
    "S-Record-Files (*.s19,*.s28,*.s37,*.srec,*.mot)|*.s19;*.s28;*.s37;*.srec;*.mot|"
    "TI-TXT-Files (*.txt)|*.txt|ELF-Files (*.elf)|*.elf";
const char* const kSlot3OpenFilter =
    "HEX-Files (*.hex,*.hx8)|*.hex;*.hx8|BIN-Files (*.bin)|*.bin|CRD-Files (*.crd)|*.crd|"
    "All Files (*.*)|*.*|"
    "S-Record-Files (*.s19,*.s28,*.s37,*.srec,*.mot)|*.s19;*.s28;*.s37;*.srec;*.mot|"
    "TI-TXT-Files (*.txt)|*.txt";
const char* const kSaveFilter =
    "IHX8 Files (*.hex,*.h8)|*.hex;*.h8|Binary Files (*.bin)|*.bin|"
    "S-Record Files (*.s19,*.s28,*.s37)|*.s19;*.s28;*.s37";

QStringList qtFileFilters(const QString& pairs) {
    const QStringList parts = pairs.split(QLatin1Char('|'));
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns = parts.at(i + 1).split(QLatin1Char(';'), Qt::SkipEmptyParts);
        // "*.*" means every file, also those without a dot in their name.
        for (QString& p : patterns)
            if (p == QLatin1String("*.*")) p = QStringLiteral("*");
        out << QStringLiteral("%1 (%2)").arg(parts.at(i), patterns.join(QLatin1Char(' ')));
    }
    return out;
}

namespace {

// The built-in dialog: the same on every desktop and drivable in tests. The description of
// each filter already names its patterns, so the added pattern list is not shown.
std::optional<FileDialogChoice> runFileDialog(QWidget* parent, const FileDialogRequest& r) {
    QFileDialog dlg(parent, r.title, r.directory);
    dlg.setObjectName(r.save ? QStringLiteral("SaveDialog") : QStringLiteral("OpenDialog"));
    dlg.setOption(QFileDialog::DontUseNativeDialog, true);
    dlg.setOption(QFileDialog::HideNameFilterDetails, true);
    dlg.setAcceptMode(r.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dlg.setFileMode(r.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dlg.setNameFilters(r.filters);
    if (r.filterIndex >= 1 && r.filterIndex <= r.filters.size())
        dlg.selectNameFilter(r.filters.at(r.filterIndex - 1));
    if (!r.fileName.isEmpty()) dlg.selectFile(QFileInfo(r.fileName).fileName());
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return std::nullopt;
    FileDialogChoice choice;
    choice.fileName = QDir::toNativeSeparators(dlg.selectedFiles().constFirst());
    const int index = r.filters.indexOf(dlg.selectedNameFilter());
    choice.filterIndex = index >= 0 ? index + 1 : 1;
    return choice;
}

QString directoryOf(const QString& fileName) {
    if (fileName.isEmpty()) return {};
    return QFileInfo(fileName).absolutePath();
}

// The save filter that writes a file of this name as it is named: 1 Intel HEX, 2 binary; 0
// when the name says neither.
int saveFilterOf(const QString& name) {
    const QString suffix = QFileInfo(name).suffix().toLower();
    if (suffix == QLatin1String("hex") || suffix == QLatin1String("h8") ||
        suffix == QLatin1String("eep"))
        return 1;
    if (suffix == QLatin1String("bin")) return 2;
    return 0;
}

UnsavedChoice askUnsaved(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Warning, TMain::programTitle(), text,
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, parent);
    box.setObjectName(QStringLiteral("UnsavedQuestion"));
    box.setDefaultButton(QMessageBox::Save);
    switch (box.exec()) {
        case QMessageBox::Save:
            return UnsavedChoice::Save;
        case QMessageBox::Discard:
            return UnsavedChoice::Discard;
        default:
            return UnsavedChoice::Cancel;
    }
}

bool isExistingFile(const QString& name) {
    if (name.isEmpty()) return false;
    const QFileInfo fi(name);
    return fi.exists() && fi.isFile();
}

}  // namespace

std::optional<FileDialogChoice> TMain::askFile(const FileDialogRequest& request) {
    FileDialogRequest r = request;
    // Dialogs without a directory of their own start in the current directory.
    if (r.directory.isEmpty()) r.directory = QDir::currentPath();
    auto choice = fileDialog_ ? fileDialog_(r) : runFileDialog(this, r);
    if (choice) lastDir_ = directoryOf(choice->fileName);
    return choice;
}

QStringList TMain::openFilters(int slot) const {
    const TDeviceEntry* row = findDevice(DeviceId());
    const char* filter = kPicOpenFilter;
    if (slot == 3) {
        filter = kSlot3OpenFilter;
    } else if (row && row->avr()) {
        filter = slot == 1 ? kAvrFlashOpenFilter : kAvrEepromOpenFilter;
    }
    return qtFileFilters(QString::fromLatin1(filter));
}

std::vector<int> TMain::editedSlots(const std::vector<int>& which) const {
    std::vector<int> edited;
    if (!Editing) return edited;
    for (int slot = 1; slot <= 3; ++slot) {
        const bool asked =
            which.empty() || std::find(which.begin(), which.end(), slot) != which.end();
        if (asked && saveAction(slot)->isVisible() && Editing->slotEdited(slot))
            edited.push_back(slot);
    }
    return edited;
}

bool TMain::keepEditsBefore(const QString& doing, const std::vector<int>& which) {
    const std::vector<int> edited = editedSlots(which);
    if (edited.empty()) return true;
    QStringList memories;
    for (int slot : edited)
        memories << saveAction(slot)->toolTip().remove(
            QRegularExpression(QStringLiteral("^Save ")));
    const QString text = QStringLiteral("The edits in %1 are not saved.\n\nSave them before %2?")
                             .arg(memories.join(QStringLiteral(" and ")), doing);
    const UnsavedChoice choice = unsavedQuestion_ ? unsavedQuestion_(text) : askUnsaved(this, text);
    if (choice == UnsavedChoice::Cancel) return false;
    if (choice == UnsavedChoice::Discard) return true;
    for (int slot : edited)
        if (!ActSaveExecute(slot)) return false;
    return true;
}

void TMain::ActOpenClick(int slot) {
    if (slot < 1 || slot > 3 || busy_) return;
    const size_t s = static_cast<size_t>(slot);
    files_.CurSlot = slot;
    FileDialogRequest r;
    r.title = openAction(slot)->text();
    r.fileName = files_.SlotFile[s];
    r.directory = directoryOf(files_.SlotFile[s]);
    r.filters = openFilters(slot);
    r.filterIndex = files_.SlotFilter[s];
    const auto choice = askFile(r);
    if (!choice || !keepEditsBefore(QStringLiteral("opening ") + choice->fileName, {slot})) return;
    files_.SlotFile[s] = choice->fileName;
    files_.SlotSaveFile[s] = choice->fileName;
    files_.SlotFilter[s] = choice->filterIndex;
    if (!links_.openFile) return;
    bool loaded = false;
    {
        BusyScope busy(*this);
        loaded = links_.openFile(choice->fileName, slot);
    }
    if (loaded) files_.addRecent(slot, choice->fileName);
}

bool TMain::ActSaveExecute(int slot) {
    if (slot < 1 || slot > 3 || busy_) return false;
    const size_t s = static_cast<size_t>(slot);
    files_.CurSlot = slot;
    FileDialogRequest r;
    r.save = true;
    r.title = saveAction(slot)->text();
    // The file the buffer holds now (after undo and redo too); a buffer without one (blank,
    // filled, read from a card) gets no name, in the folder this slot last used, else the
    // folder of the last dialog, else the user's home folder.
    r.fileName = Editing ? Editing->bufferFile(slot) : QString();
    if (!r.fileName.isEmpty())
        r.directory = directoryOf(r.fileName);
    else if (!files_.SlotSaveFile[s].isEmpty())
        r.directory = directoryOf(files_.SlotSaveFile[s]);
    else
        r.directory = lastDir_.isEmpty() ? QDir::homePath() : lastDir_;
    r.filters = qtFileFilters(QString::fromLatin1(kSaveFilter));
    const int named = saveFilterOf(r.fileName);
    r.filterIndex = named ? named : files_.SaveFilter;
    const auto choice = askFile(r);
    if (!choice) return false;
    files_.SaveFilter = choice->filterIndex;
    files_.SlotSaveFile[s] = choice->fileName;
    bool written = false;
    {
        BusyScope busy(*this);
        written = links_.saveFile && links_.saveFile(choice->fileName, slot, choice->filterIndex);
    }
    if (written && Editing) Editing->saved(slot, choice->fileName);
    return written;
}

void TMain::FastOpenExecute() {
    if (busy_ || !isExistingFile(files_.SlotFile[1]) || !links_.openFile) return;
    if (!keepEditsBefore(QStringLiteral("opening the last files"))) return;
    BusyScope busy(*this);
    if (ActOpen3->isVisible() && isExistingFile(files_.SlotFile[3]))
        links_.openFile(files_.SlotFile[3], 3);
    if (ActOpen2->isVisible() && isExistingFile(files_.SlotFile[2]))
        links_.openFile(files_.SlotFile[2], 2);
    links_.openFile(files_.SlotFile[1], 1);
}

// Before a command: what the user changed on the fuse pages since becomes what its undo step
// starts from.
void TMain::busyStarted() {
    if (Editing) Editing->commandDone();
}

// A command that may have changed buffers has ended: the change becomes one undo step.
void TMain::busyEnded() {
    if (Editing) Editing->commandDone();
}

void TMain::BtnOpenDropDown(int slot) {
    if (slot < 1 || slot > 3) return;
    files_.CurSlot = slot;
    QMenu* menu = PopFiles[static_cast<size_t>(slot)];
    menu->clear();
    for (const auto& [k, caption] : files_.recentPopup(slot)) {
        // The caption is "&k name"; an '&' inside the name must not become a mnemonic.
        QString shown =
            caption.left(3) + caption.mid(3).replace(QLatin1Char('&'), QLatin1String("&&"));
        QAction* item = menu->addAction(shown);
        item->setObjectName(QStringLiteral("Recent%1").arg(k));
        item->setProperty("tag", k);
        item->setData(caption);
    }
}

void TMain::PopFilesClick(QAction* item) {
    if (!item || busy_) return;
    const QString caption = item->data().toString();
    if (caption.size() < 4) return;
    const int slot = files_.CurSlot;
    if (slot < 1 || slot > 3) return;
    const int k = caption.at(1).digitValue();
    const QString name = caption.mid(3);
    if (!keepEditsBefore(QStringLiteral("opening ") + name, {slot})) return;
    if (k > 1) files_.moveRecentToTop(slot, k);
    files_.SlotSaveFile[static_cast<size_t>(slot)] = name;
    files_.SlotFile[static_cast<size_t>(slot)] = name;
    BusyScope busy(*this);
    if (links_.openFile) links_.openFile(name, slot);
}

}  // namespace kelvano
