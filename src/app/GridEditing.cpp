#include "app/GridEditing.h"

#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>
#include <algorithm>
#include <array>

#include "app/ComparePanel.h"
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
      history_(devices, &fuses) {
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

TBufArray& GridEditing::buffer(int grid) {
    return grid == 1 ? devices_.ProgBuf : grid == 2 ? devices_.DataBuf : devices_.EepBuf;
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
        baselines_ = {};
        refreshEditedMarks();
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
        // A PIC program file holds the data EEPROM too: loading it replaces that buffer.
        if (g == 1 && !shown.isEmpty() && isPicCode(devices_.DeviceId))
            history_.origin(2) = BufferHistory::Origin{};
        what = shown.isEmpty() ? QStringLiteral("Fill") : QStringLiteral("Load");
    }
    history_.record(what);
    refreshEditedMarks();
    refreshActions();
}

void GridEditing::redraw(const std::vector<int>& grids) {
    for (int g : grids) devices_.showGrid(g, &host_);
    for (int g = 1; g <= 3; ++g) renderLabel(g);
    refreshEditedMarks();
    refreshActions();
}

void GridEditing::refreshEditedMarks() {
    for (int g = 1; g <= 3; ++g) {
        const TBufArray& buf = buffer(g);
        const BufferHistory::Origin& o = history_.origin(g);
        auto& known = baselines_[size_t(g)];
        std::vector<int> edited;
        if (!o.edited) {
            known[o.file] = buf;
        } else if (const auto it = known.find(o.file);
                   it != known.end() && it->second.length() == buf.length()) {
            for (int i = 0; i < buf.length(); ++i)
                if (buf[i] != it->second[i]) edited.push_back(i);
        }
        view(g)->setMarks(CellMark::Edited, edited);
    }
}

void GridEditing::undo() {
    commandDone();
    redraw(history_.undo());
}

void GridEditing::redo() {
    commandDone();
    redraw(history_.redo());
}

QString GridEditing::bufferFile(int slot) const {
    for (int g : gridsOfSlot(slot))
        if (!history_.origin(g).file.isEmpty()) return history_.origin(g).file;
    return {};
}

bool GridEditing::slotEdited(int slot) const {
    const std::vector<int> grids = gridsOfSlot(slot);
    return std::any_of(grids.begin(), grids.end(),
                       [this](int g) { return history_.origin(g).edited; });
}

void GridEditing::saved(int slot, const QString& name) {
    commandDone();
    const std::vector<int> grids = gridsOfSlot(slot);
    for (int g : grids) {
        // A PIC card's data EEPROM shares the flash's file; its own label stays empty.
        history_.origin(g) = BufferHistory::Origin{g != grids.front() ? QString() : name, false};
        renderLabel(g);
    }
    history_.record(QStringLiteral("Save"));
    refreshEditedMarks();
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
    refreshEditedMarks();
    refreshActions();
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

// The find bar under the memory pages: what to look for, as hex values or text, and where
// the last search ended. Enter finds the next occurrence, Escape closes the bar.
void GridEditing::buildFindBar() {
    findBar_ = new QWidget(&main_);
    findBar_->setObjectName(QStringLiteral("FindBar"));
    auto* v = new QVBoxLayout(findBar_);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(1);
    auto* row = new QHBoxLayout();
    auto* caption = new QLabel(QStringLiteral("Find:"), findBar_);
    findText_ = new QLineEdit(findBar_);
    findText_->setObjectName(QStringLiteral("FindText"));
    caption->setBuddy(findText_);
    findHex_ = new QRadioButton(QStringLiteral("&Hex"), findBar_);
    findHex_->setToolTip(QStringLiteral("Hex values separated by blanks"));
    auto* text = new QRadioButton(QStringLiteral("&Text"), findBar_);
    findHex_->setChecked(true);
    auto* next = new QPushButton(QStringLiteral("&Next"), findBar_);
    next->setObjectName(QStringLiteral("FindNext"));
    auto* prev = new QPushButton(QStringLiteral("&Previous"), findBar_);
    prev->setObjectName(QStringLiteral("FindPrevious"));
    auto* close = new QToolButton(findBar_);
    close->setObjectName(QStringLiteral("FindClose"));
    close->setIcon(main_.style()->standardIcon(QStyle::SP_TitleBarCloseButton));
    close->setToolTip(QStringLiteral("Close the find bar (Esc)"));
    close->setAutoRaise(true);
    for (QWidget* w :
         std::initializer_list<QWidget*>{caption, findText_, findHex_, text, next, prev, close})
        row->addWidget(w, w == findText_ ? 1 : 0);
    v->addLayout(row);
    findStatus_ = new QLabel(findBar_);
    findStatus_->setObjectName(QStringLiteral("FindStatus"));
    v->addWidget(findStatus_);
    auto run = [this](bool forward) {
        find(findText_->text(), findHex_->isChecked(), forward);
        findStatus_->setText(lastMessage_);
    };
    connect(next, &QPushButton::clicked, this, [run] { run(true); });
    connect(prev, &QPushButton::clicked, this, [run] { run(false); });
    connect(findText_, &QLineEdit::returnPressed, this, [run] { run(true); });
    connect(close, &QToolButton::clicked, findBar_, &QWidget::hide);
    findText_->installEventFilter(this);
    main_.addPanelBelowPages(findBar_);
}

// Escape in the find text closes the bar.
bool GridEditing::eventFilter(QObject* watched, QEvent* event) {
    if (watched == findText_ && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        findBar_->hide();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void GridEditing::showFind() {
    if (!findBar_) buildFindBar();
    // The grid searched is the one focused before the bar takes the focus.
    if (DumpGridView* v = focusedGrid()) lastFocused_ = v;
    findBar_->show();
    findText_->setFocus();
    findText_->selectAll();
    QTimer::singleShot(0, &main_, [this] { main_.keepSelectionInView(); });
}

// ---------------------------------------------------------------------------------------
// Comparisons

void GridEditing::showReport(const CompareReport& report) {
    if (!panel_) {
        // Under the memory pages: the grids stay in view beside the list.
        panel_ = new ComparePanel(&main_);
        main_.addPanelBelowPages(panel_);
        connect(panel_, &ComparePanel::cellChosen, this, [this](int grid, int address) {
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
    panel_->showReport(report);
    QTimer::singleShot(0, &main_, [this] { main_.keepSelectionInView(); });
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
    // Where the slot's files are: the one the buffers hold, else the one last chosen.
    const SlotFiles& files = main_.slotFiles();
    QString near = bufferFile(slot);
    if (near.isEmpty()) near = files.SlotFile[size_t(slot)];
    if (!near.isEmpty()) r.directory = QFileInfo(near).absolutePath();
    r.filterIndex = files.SlotFilter[size_t(slot)];
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
