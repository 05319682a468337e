#include "app/GridEditing.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <QTabWidget>
#include <QToolBar>
#include <QToolTip>
#include <QVBoxLayout>
#include <algorithm>
#include <array>

#include "app/CompareDialog.h"
#include "app/DumpGridView.h"
#include "app/uMain.h"
#include "base/Host.h"
#include "device/FusePages.h"
#include "device/GridEdit.h"
#include "fileio/FileCompare.h"

namespace kelvano {

namespace {
QString hex4(int v) { return QStringLiteral("%1").arg(v, 4, 16, QLatin1Char('0')).toUpper(); }
}  // namespace

GridEditing::GridEditing(TMain& main, TDevices& devices, Host& host, FuseModel& fuses)
    : QObject(&main),
      main_(main),
      devices_(devices),
      host_(host),
      fuses_(fuses),
      history_(devices) {
    buildActions();
    for (int g = 1; g <= 3; ++g) {
        DumpGridView* v = view(g);
        connect(v, &DumpGridView::typed, this, &GridEditing::onTyped);
        connect(&devices_.grid(g), &DumpGrid::rowsChanged, this, [this, g] { onGridChanged(g); });
        connect(&devices_.grid(g), &DumpGrid::layoutReset, this, [this, g] { onGridChanged(g); });
    }
    // The grids are remembered here: focus also changes while the main window is being torn
    // down, when its members can no longer be asked for.
    const std::array<DumpGridView*, 3> grids{view(1), view(2), view(3)};
    connect(qApp, &QApplication::focusChanged, this, [this, grids](QWidget*, QWidget* now) {
        for (DumpGridView* g : grids)
            if (now == g) lastFocused_ = g;
    });
    refreshActions();
}

GridEditing::~GridEditing() = default;

void GridEditing::buildActions() {
    QStyle* st = main_.style();
    auto make = [this](const char* name, const char* caption, const QKeySequence& key) {
        auto* a = new QAction(QString::fromLatin1(caption), &main_);
        a->setObjectName(QString::fromLatin1(name));
        a->setShortcut(key);
        a->setShortcutContext(Qt::WindowShortcut);
        const QString hint =
            QString::fromLatin1(caption).remove(QStringLiteral("...")).remove(QLatin1Char('&'));
        a->setToolTip(hint);
        a->setStatusTip(hint);
        main_.addAction(a);
        return a;
    };
    ActEditMode = make("ActEditMode", "&Edit Mode", QKeySequence(Qt::CTRL | Qt::Key_E));
    ActEditMode->setCheckable(true);
    ActEditMode->setIcon(st->standardIcon(QStyle::SP_FileDialogDetailedView));
    ActUndo = make("ActUndo", "&Undo", QKeySequence(Qt::CTRL | Qt::Key_Z));
    ActRedo = make("ActRedo", "&Redo", QKeySequence(Qt::CTRL | Qt::Key_Y));
    ActGoTo = make("ActGoTo", "&Go to Address...", QKeySequence(Qt::CTRL | Qt::Key_G));
    ActFind = make("ActFind", "&Find...", QKeySequence(Qt::CTRL | Qt::Key_F));
    ActCompareFile = make("ActCompareFile", "Compare with File...", QKeySequence());
    ActCompare = make("ActCompare", "Compare", QKeySequence());
    ActCompare->setToolTip(QStringLiteral("Compare the buffers with the card"));
    ActCompare->setIcon(st->standardIcon(QStyle::SP_BrowserReload));
    // Like the five actions, the card comparison needs the box.
    ActCompare->setEnabled(main_.ActVerify->isEnabled());
    connect(main_.ActVerify, &QAction::enabledChanged, ActCompare, &QAction::setEnabled);

    MnuEdit = new QMenu(QStringLiteral("&Edit"), &main_);
    MnuEdit->setObjectName(QStringLiteral("MnuEdit"));
    MnuEdit->addAction(ActEditMode);
    MnuEdit->addSeparator();
    MnuEdit->addActions({ActUndo, ActRedo});
    MnuEdit->addSeparator();
    MnuEdit->addActions({ActGoTo, ActFind});
    main_.menuBar()->insertMenu(main_.MnuDevices->menuAction(), MnuEdit);
    main_.MnuFile->insertAction(main_.ActConfig, ActCompareFile);
    main_.MnuFile->insertSeparator(main_.ActConfig);
    main_.MnuAction->addAction(ActCompare);
    main_.ToolBar2->insertAction(main_.ActProg, ActCompare);
    main_.ToolBar2->widgetForAction(ActCompare)->setObjectName(QStringLiteral("ButCompare"));
    main_.ToolBar2->addSeparator();
    main_.ToolBar2->addAction(ActEditMode);
    main_.ToolBar2->widgetForAction(ActEditMode)->setObjectName(QStringLiteral("ButEditMode"));

    connect(ActEditMode, &QAction::toggled, this, &GridEditing::setEditMode);
    connect(ActUndo, &QAction::triggered, this, &GridEditing::undo);
    connect(ActRedo, &QAction::triggered, this, &GridEditing::redo);
    connect(ActGoTo, &QAction::triggered, this, [this] {
        DumpGridView* v = focusedGrid();
        if (!v || !v->grid()) return;
        bool ok = false;
        const QString text = QInputDialog::getText(
            &main_, QStringLiteral("Go to Address"),
            QStringLiteral("Address (0000-%1):").arg(hex4(v->elementCount() - 1)),
            QLineEdit::Normal, QString(), &ok);
        if (ok) goToAddress(text);
    });
    connect(ActFind, &QAction::triggered, this, &GridEditing::showFind);
    connect(ActCompareFile, &QAction::triggered, this, &GridEditing::compareWithFileAsked);
    connect(ActCompare, &QAction::triggered, this, &GridEditing::compareWithCard);
}

DumpGridView* GridEditing::view(int grid) const {
    return grid == 1 ? main_.pGrid : grid == 2 ? main_.dGrid : grid == 3 ? main_.eGrid : nullptr;
}

QLabel* GridEditing::label(int grid) const {
    return grid == 1 ? main_.LabFnProgMem : grid == 2 ? main_.LabFnDataMem : main_.LabFnEepMem;
}

DumpGridView* GridEditing::focusedGrid() const {
    for (int g = 1; g <= 3; ++g)
        if (view(g)->hasFocus()) return view(g);
    const QWidget* page = main_.PageCtl->currentWidget();
    if (lastFocused_ && page && page->isAncestorOf(lastFocused_)) return lastFocused_;
    return page == main_.Pg2 ? main_.eGrid : main_.pGrid;
}

std::vector<int> GridEditing::gridsOfSlot(int slot) const {
    if (isPicCode(devices_.DeviceId))
        return slot == 1 ? std::vector<int>{1, 2} : std::vector<int>{3};
    return {slot};
}

int GridEditing::slotOfGrid(int grid) const {
    if (isPicCode(devices_.DeviceId)) return grid == 3 ? 2 : 1;
    return grid;
}

void GridEditing::refreshActions() {
    ActUndo->setEnabled(history_.canUndo());
    ActRedo->setEnabled(history_.canRedo());
    ActUndo->setText(history_.canUndo() ? QStringLiteral("&Undo ") + history_.undoText()
                                        : QStringLiteral("&Undo"));
    ActRedo->setText(history_.canRedo() ? QStringLiteral("&Redo ") + history_.redoText()
                                        : QStringLiteral("&Redo"));
}

void GridEditing::say(DumpGridView* v, const QString& text) {
    lastMessage_ = text;
    if (v && v->isVisible())
        QToolTip::showText(v->mapToGlobal(QPoint(20, v->height() / 2)), text, v);
}

// ---------------------------------------------------------------------------------------
// History and labels

void GridEditing::renderLabel(int grid) {
    const BufferHistory::Origin& o = history_.origin(grid);
    QString text = o.file;
    if (o.edited) text = text.isEmpty() ? QStringLiteral("(changed)") : text + QStringLiteral(" *");
    rendered_[size_t(grid)] = text;
    main_.setFileLabel(grid, text);
}

void GridEditing::commandDone() {
    if (devices_.DeviceId != deviceId_) {
        deviceId_ = devices_.DeviceId;
        history_.reset();
        rendered_ = {};
        refreshActions();
        return;
    }
    QString what = QStringLiteral("Change");
    for (int g = 1; g <= 3; ++g) {
        const QString shown = label(g)->text();
        if (shown == rendered_[size_t(g)]) continue;
        // Another command has set the label: a load names its file, a fill empties it.
        history_.origin(g) = BufferHistory::Origin{shown, false};
        rendered_[size_t(g)] = shown;
        what = shown.isEmpty() ? QStringLiteral("Fill") : QStringLiteral("Load");
    }
    history_.record(what);
    refreshActions();
}

void GridEditing::redraw(const std::vector<int>& grids) {
    for (int g : grids) devices_.showGrid(g, &host_);
    for (int g = 1; g <= 3; ++g) renderLabel(g);
    refreshActions();
}

void GridEditing::undo() {
    commandDone();
    redraw(history_.undo());
}

void GridEditing::redo() {
    commandDone();
    redraw(history_.redo());
}

QString GridEditing::saveProposal(int slot) const {
    const std::vector<int> grids = gridsOfSlot(slot);
    const bool edited = std::any_of(grids.begin(), grids.end(),
                                    [this](int g) { return history_.origin(g).edited; });
    if (!edited) return {};
    for (int g : grids)
        if (!history_.origin(g).file.isEmpty()) return history_.origin(g).file;
    return {};
}

void GridEditing::saved(int slot, const QString& name) {
    commandDone();
    bool changed = false;
    const std::vector<int> grids = gridsOfSlot(slot);
    for (int g : grids) {
        BufferHistory::Origin& o = history_.origin(g);
        if (!o.edited) continue;
        // A PIC card's data EEPROM shares the flash's file; its own label stays empty.
        o = BufferHistory::Origin{o.file.isEmpty() && g != grids.front() ? QString() : name, false};
        renderLabel(g);
        changed = true;
    }
    if (changed) history_.record(QStringLiteral("Save"));
    refreshActions();
}

void GridEditing::onGridChanged(int grid) {
    DumpGridView* v = view(grid);
    // The differences shown belong to the buffers as they were compared.
    v->clearMarks(CellMark::Differs);
    if (!editing_) v->clearMarks(CellMark::Edited);
}

// ---------------------------------------------------------------------------------------
// Editing

void GridEditing::setEditMode(bool on) {
    editMode_ = on;
    if (ActEditMode->isChecked() != on) ActEditMode->setChecked(on);
    for (int g = 1; g <= 3; ++g) view(g)->setEditMode(on);
}

void GridEditing::onTyped(DumpGridView* v, int element, int sub, bool inText, QChar key) {
    if (!v->grid()) return;
    const int g = v->grid()->tag();
    TBufArray& buf = g == 1 ? devices_.ProgBuf : g == 2 ? devices_.DataBuf : devices_.EepBuf;
    if (element < 0 || element >= buf.length()) return;
    const ViewMode mode = v->grid()->mode();
    const Typed t = inText ? typeTextChar(buf[element], sub, key, mode)
                           : typeHexDigit(buf[element], sub, key, mode);
    if (!t.ok) {
        host_.beep();
        say(v, t.refusal);
        return;
    }
    lastMessage_.clear();
    commandDone();
    buf[element] = t.value;
    editing_ = true;
    devices_.showGrid(g, &host_);
    editing_ = false;
    history_.origin(g).edited = true;
    // The digits or characters typed over one element are one step.
    history_.record(QStringLiteral("Edit"), g * 0x10000 + element + 1);
    renderLabel(g);
    refreshActions();
    v->setMark(element, CellMark::Edited);
    v->stepCursor(1);
}

// ---------------------------------------------------------------------------------------
// Go to and find

bool GridEditing::goToAddress(const QString& text) {
    DumpGridView* v = focusedGrid();
    if (!v || !v->grid()) return false;
    const auto a = parseAddress(text, v->elementCount());
    if (!a) {
        lastMessage_ = QStringLiteral("\"%1\" is not an address of this memory (0000 to %2).")
                           .arg(text.trimmed(), hex4(v->elementCount() - 1));
        host_.showError(lastMessage_);
        return false;
    }
    v->selectElement(*a);
    v->setFocus();
    return true;
}

int GridEditing::find(const QString& input, bool asHex, bool forward) {
    DumpGridView* v = focusedGrid();
    if (!v || !v->grid()) return -1;
    const int g = v->grid()->tag();
    const TBufArray& buf = g == 1 ? devices_.ProgBuf : g == 2 ? devices_.DataBuf : devices_.EepBuf;
    const ViewMode mode = v->grid()->mode();
    const auto pattern = parsePattern(input, asHex, mode);
    if (!pattern) {
        lastMessage_ = asHex ? QStringLiteral("Type hex values of %1 digits separated by blanks.")
                                   .arg(elementDigits(mode))
                             : QStringLiteral("Type the text to find.");
        return -1;
    }
    int from = v->cursorShown() ? v->cursorElement() : forward ? -1 : buf.length();
    const int at = findPattern(buf, mode, *pattern, from, forward);
    if (at < 0) {
        lastMessage_ = forward ? QStringLiteral("Not found up to the end.")
                               : QStringLiteral("Not found back to the start.");
        return -1;
    }
    lastMessage_ = QStringLiteral("Found at %1.").arg(hex4(at));
    v->selectElement(at, !asHex);
    return at;
}

void GridEditing::showFind() {
    if (!findDialog_) {
        findDialog_ = new QDialog(&main_);
        findDialog_->setObjectName(QStringLiteral("FindDialog"));
        findDialog_->setWindowTitle(QStringLiteral("Find"));
        auto* v = new QVBoxLayout(findDialog_);
        findText_ = new QLineEdit(findDialog_);
        findText_->setObjectName(QStringLiteral("FindText"));
        v->addWidget(findText_);
        auto* kinds = new QHBoxLayout();
        findHex_ = new QRadioButton(QStringLiteral("&Hex values"), findDialog_);
        auto* text = new QRadioButton(QStringLiteral("&Text"), findDialog_);
        findHex_->setChecked(true);
        kinds->addWidget(findHex_);
        kinds->addWidget(text);
        v->addLayout(kinds);
        auto* status = new QLabel(findDialog_);
        status->setObjectName(QStringLiteral("FindStatus"));
        v->addWidget(status);
        auto* buttons = new QDialogButtonBox(findDialog_);
        QPushButton* next =
            buttons->addButton(QStringLiteral("Find &Next"), QDialogButtonBox::ActionRole);
        QPushButton* prev =
            buttons->addButton(QStringLiteral("Find &Previous"), QDialogButtonBox::ActionRole);
        buttons->addButton(QDialogButtonBox::Close);
        next->setDefault(true);
        v->addWidget(buttons);
        auto run = [this, status](bool forward) {
            find(findText_->text(), findHex_->isChecked(), forward);
            status->setText(lastMessage_);
        };
        connect(next, &QPushButton::clicked, this, [run] { run(true); });
        connect(prev, &QPushButton::clicked, this, [run] { run(false); });
        connect(buttons, &QDialogButtonBox::rejected, findDialog_, &QDialog::hide);
    }
    findDialog_->show();
    findDialog_->raise();
    findText_->setFocus();
    findText_->selectAll();
}

// ---------------------------------------------------------------------------------------
// Comparisons

void GridEditing::showReport(const CompareReport& report) {
    if (!dialog_) {
        dialog_ = new CompareDialog(&main_);
        // Beside the window where the screen has room, so that the marked grids stay in view.
        const QRect frame = main_.frameGeometry();
        const QScreen* screen = main_.screen();
        const QPoint beside = frame.topRight() + QPoint(8, 0);
        if (screen && screen->availableGeometry().contains(QRect(beside, dialog_->size())))
            dialog_->move(beside);
        connect(dialog_, &CompareDialog::cellChosen, this, [this](int grid, int address) {
            main_.showMemoryPage(grid == 3 ? 2 : 1);
            view(grid)->selectElement(address);
        });
    }
    for (int g = 1; g <= 3; ++g) view(g)->clearMarks(CellMark::Differs);
    for (const MemoryDiff& m : report.memories) {
        if (m.grid < 1 || m.grid > 3) continue;
        for (const DiffRun& r : m.runs)
            for (int a = r.first; a <= r.last(); ++a) view(m.grid)->setMark(a, CellMark::Differs);
    }
    dialog_->showReport(report);
}

void GridEditing::compareWithFile(const QString& name) {
    DumpGridView* v = focusedGrid();
    if (!v || !v->grid()) return;
    commandDone();
    if (isPicCode(devices_.DeviceId)) ReadPicPage(devices_, fuses_);
    const auto report = kelvano::compareWithFile(devices_, name, slotOfGrid(v->grid()->tag()),
                                                 host_, main_.CrdPath);
    if (report) showReport(*report);
}

void GridEditing::compareWithFileAsked() {
    DumpGridView* v = focusedGrid();
    if (!v || !v->grid()) return;
    const int slot = slotOfGrid(v->grid()->tag());
    FileDialogRequest r;
    r.title = QStringLiteral("Compare with file for (%1)").arg(slot);
    r.filters = main_.openFilters(slot);
    const auto choice = main_.askFile(r);
    if (choice) compareWithFile(choice->fileName);
}

void GridEditing::compareWithCard() {
    if (!cardCompare_) return;
    commandDone();
    if (isPicCode(devices_.DeviceId)) ReadPicPage(devices_, fuses_);
    const auto report = cardCompare_();
    if (report) showReport(*report);
}

}  // namespace kelvano
