#include "app/uMain.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWidgetAction>

#include "app/DumpGridView.h"
#include "app/GridEditing.h"
#include "app/ProductionWindow.h"

#ifndef KELVANO_FILE_VERSION
#define KELVANO_FILE_VERSION "0.0.0.0"
#endif
#ifndef KELVANO_PRODUCT_VERSION
#define KELVANO_PRODUCT_VERSION "0.0"
#endif

namespace kelvano {

namespace {

// What an unknown card code in the settings selects: the first card type of the Brelmont
// family, the card the program starts with.
constexpr int kFirstBrelmontCard = 10;

// A standard icon with the slot number drawn into its corner.
QIcon slotIcon(QStyle* style, QStyle::StandardPixmap base, int slot) {
    QPixmap pm = style->standardIcon(base).pixmap(24, 24);
    QPainter p(&pm);
    QFont f = p.font();
    f.setBold(true);
    f.setPixelSize(11);
    p.setFont(f);
    const QRect badge(13, 12, 11, 12);
    p.fillRect(badge, QColor(0x80, 0x00, 0x00));
    p.setPen(Qt::white);
    p.drawText(badge, Qt::AlignCenter, QString::number(slot));
    p.end();
    return QIcon(pm);
}

}  // namespace

// ---------------------------------------------------------------------------------------

LedLamp::LedLamp(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Led1"));
    setFixedSize(22, 22);
}

void LedLamp::setLit(bool lit) {
    if (lit == lit_) return;
    lit_ = lit;
    update();
}

void LedLamp::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::darkGray, 1));
    p.setBrush(lit_ ? QColor(0xFF, 0x00, 0x00) : QColor(0x80, 0x00, 0x00));
    p.drawEllipse(QRectF(4.5, 4.5, 13, 13));
}

// ---------------------------------------------------------------------------------------

QString TMain::programTitle() { return QStringLiteral("KELVANO " KELVANO_PRODUCT_VERSION); }
QString TMain::fileVersion() { return QStringLiteral(KELVANO_FILE_VERSION); }

TMain::TMain(Host& host, Options& options, EnableBoxes& boxes, FuseModel& fuses, SlotFiles& files,
             QWidget* parent)
    : QMainWindow(parent),
      host_(host),
      options_(options),
      boxes_(boxes),
      fuses_(fuses),
      files_(files) {
    setObjectName(QStringLiteral("Main"));
    setWindowTitle(QStringLiteral("KELVANO"));
    buildActions();
    buildMenus();
    buildToolBars();
    buildCentral();
    buildStatusBar();

    Timer1.setObjectName(QStringLiteral("Timer1"));
    Timer1.setSingleShot(true);
    connect(&Timer1, &QTimer::timeout, this, &TMain::Startup);

    connect(&boxes_, &EnableBoxes::changed, this, &TMain::refreshEnableBoxes);
    refreshEnableBoxes();
    showConnected(false);
    Mnu2Prg->setVisible(false);
    fitDesignedSize();
}

TMain::~TMain() = default;

// The commands shared by menus, toolbars and shortcuts.
void TMain::buildActions() {
    createActions();
    setActionIcons();
    connectActions();
}

void TMain::createActions() {
    struct Row {
        QAction** target;
        const char* name;
        int tag;
        const char* caption;
        const char* hint;
        QKeySequence shortcut;
        bool enabled;
    };
    const Row rows[] = {
        {&ActExit, "ActExit", 0, "E&xit", "Exit", QKeySequence(Qt::ALT | Qt::Key_X), true},
        {&ActOpen1, "ActOpen1", 1, "Open file for (1)...", "Open file for (1)",
         QKeySequence(Qt::Key_F5), true},
        {&ActOpen2, "ActOpen2", 2, "Open file for (2)...", "Open file for (2)",
         QKeySequence(Qt::Key_F6), true},
        {&ActOpen3, "ActOpen3", 3, "Open file for (3)...", "Open file for (3)",
         QKeySequence(Qt::Key_F7), true},
        {&FastOpen, "FastOpen", 0, "Fast Open", "", QKeySequence(Qt::Key_F8), true},
        {&ActSave1, "ActSave1", 1, "Save file from (1)...", "Save file from (1)",
         QKeySequence(Qt::SHIFT | Qt::Key_F5), true},
        {&ActSave2, "ActSave2", 2, "Save file from (2)...", "Save file from (2)",
         QKeySequence(Qt::SHIFT | Qt::Key_F6), true},
        {&ActSave3, "ActSave3", 3, "Save file from (3)...", "Save file from (3)",
         QKeySequence(Qt::SHIFT | Qt::Key_F7), true},
        {&ActConfig, "ActConfig", 0, "Configuration...", "Configuration", QKeySequence(Qt::Key_F12),
         true},
        {&ActRead, "ActRead", 1, "Read", "Read Device", QKeySequence(Qt::Key_F2), false},
        {&ActErase, "ActErase", 2, "Erase", "Erase Device", QKeySequence(), false},
        {&ActBlankChk, "ActBlankChk", 3, "Blank Check", "Blank Check", QKeySequence(), false},
        {&ActVerify, "ActVerify", 4, "Verify", "Verify", QKeySequence(), false},
        {&ActProg, "ActProg", 5, "Program", "Program Device", QKeySequence(Qt::Key_F3), false},
        {&Act2Prg, "Act2Prg", 0, "FLASH-Memory setup...", "Enter FLASH-Memory setup menu",
         QKeySequence(Qt::SHIFT | Qt::Key_F12), true},
    };
    for (const Row& r : rows) {
        auto* a = new QAction(QString::fromLatin1(r.caption), this);
        a->setObjectName(QString::fromLatin1(r.name));
        a->setProperty("tag", r.tag);
        a->setToolTip(QString::fromLatin1(r.hint));
        a->setStatusTip(QString::fromLatin1(r.hint));
        a->setShortcut(r.shortcut);
        a->setShortcutContext(Qt::WindowShortcut);
        a->setEnabled(r.enabled);
        addAction(a);
        *r.target = a;
    }
    Mnu2Prg = Act2Prg;  // the menu item is the action itself; it has no handler
}

// Standard icons; the open and save icons carry their slot number.
void TMain::setActionIcons() {
    QStyle* st = style();
    ActExit->setIcon(st->standardIcon(QStyle::SP_DialogCloseButton));
    ActConfig->setIcon(st->standardIcon(QStyle::SP_FileDialogDetailedView));
    for (int slot = 1; slot <= 3; ++slot) {
        openAction(slot)->setIcon(slotIcon(st, QStyle::SP_DialogOpenButton, slot));
        saveAction(slot)->setIcon(slotIcon(st, QStyle::SP_DialogSaveButton, slot));
    }
    ActRead->setIcon(st->standardIcon(QStyle::SP_ArrowDown));
    ActErase->setIcon(st->standardIcon(QStyle::SP_TrashIcon));
    ActBlankChk->setIcon(st->standardIcon(QStyle::SP_FileDialogContentsView));
    ActVerify->setIcon(st->standardIcon(QStyle::SP_DialogApplyButton));
    ActProg->setIcon(st->standardIcon(QStyle::SP_ArrowUp));
}

void TMain::connectActions() {
    connect(ActExit, &QAction::triggered, this, &QWidget::close);
    for (QAction* a : {ActOpen1, ActOpen2, ActOpen3})
        connect(a, &QAction::triggered, this,
                [this, a] { ActOpenClick(a->property("tag").toInt()); });
    for (QAction* a : {ActSave1, ActSave2, ActSave3})
        connect(a, &QAction::triggered, this,
                [this, a] { ActSaveExecute(a->property("tag").toInt()); });
    connect(FastOpen, &QAction::triggered, this, &TMain::FastOpenExecute);
    connect(ActConfig, &QAction::triggered, this, &TMain::ActConfigExecute);
    for (QAction* a : {ActRead, ActErase, ActBlankChk, ActVerify, ActProg})
        connect(a, &QAction::triggered, this,
                [this, a] { ActExecute(a->property("tag").toInt()); });
}

// The menu bar: File, Devices (filled by ApplyDevice), Action, Help; and the grids' fill menu.
void TMain::buildMenus() {
    buildFileMenu();
    buildDevicesMenu();
    buildActionMenu();
    buildHelpMenu();
    buildFillMenu();
}

void TMain::buildFileMenu() {
    MnuFile = menuBar()->addMenu(QStringLiteral("&File"));
    MnuFile->setObjectName(QStringLiteral("MnuFile"));
    MnuFile->addActions({ActOpen1, ActOpen2, ActOpen3, FastOpen});
    MnuFile->addSeparator();
    MnuFile->addActions({ActSave1, ActSave2, ActSave3});
    MnuFile->addSeparator();
    MnuFile->addActions({ActConfig, Mnu2Prg});
    MnuFile->addSeparator();
    MnuFile->addAction(ActExit);
}

void TMain::buildDevicesMenu() {
    MnuDevices = menuBar()->addMenu(QStringLiteral("&Devices"));
    MnuDevices->setObjectName(QStringLiteral("MnuDevices"));
    DevGroup = new QActionGroup(this);
    DevGroup->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
}

void TMain::buildActionMenu() {
    MnuAction = menuBar()->addMenu(QStringLiteral("&Action"));
    MnuAction->setObjectName(QStringLiteral("MnuAction"));
    MnuAction->addActions({ActRead, ActProg, ActErase, ActBlankChk, ActVerify});
    MnuAction->addSeparator();
    connect(MnuAction->addAction(QStringLiteral("&Production...")), &QAction::triggered, this,
            [this] {
                auto* w = new ProductionWindow(this);
                w->setAttribute(Qt::WA_DeleteOnClose);
                w->show();
            });
}

void TMain::buildHelpMenu() {
    MnuHelp = menuBar()->addMenu(QStringLiteral("&Help"));
    MnuHelp->setObjectName(QStringLiteral("MnuHelp"));
    Info1 = MnuHelp->addAction(QStringLiteral("&Info..."));
    Info1->setObjectName(QStringLiteral("Info1"));
    connect(Info1, &QAction::triggered, this, &TMain::Info1Click);
}

// The context menu of the grids; GridContextPopup sets its captions.
void TMain::buildFillMenu() {
    PopFill = new QMenu(this);
    PopFill->setObjectName(QStringLiteral("PopFill"));
    FillFF = PopFill->addAction(QString());
    FillFF->setObjectName(QStringLiteral("FillFF"));
    FillFF->setProperty("tag", 1);
    Fill00 = PopFill->addAction(QString());
    Fill00->setObjectName(QStringLiteral("Fill00"));
    Fill00->setProperty("tag", 0);
    connect(FillFF, &QAction::triggered, this, [this] { PopFillClick(1); });
    connect(Fill00, &QAction::triggered, this, [this] { PopFillClick(0); });
}

void TMain::buildToolBars() {
    buildFileToolBar();
    buildActionToolBar();
}

// Exit, Configuration, Connect with its lamp, then an open and a save button per slot.
void TMain::buildFileToolBar() {
    ToolBar1 = addToolBar(QStringLiteral("ToolBar1"));
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ToolBar1->setIconSize(QSize(20, 20));
    ToolBar1->addAction(ActExit);
    BtnExit = qobject_cast<QToolButton*>(ToolBar1->widgetForAction(ActExit));
    BtnExit->setObjectName(QStringLiteral("BtnExit"));

    BtnUtilities = new QToolButton(ToolBar1);
    BtnUtilities->setObjectName(QStringLiteral("BtnUtilities"));
    BtnUtilities->setIcon(ActConfig->icon());
    BtnUtilities->setToolTip(QStringLiteral("Configuration"));
    connect(BtnUtilities, &QToolButton::clicked, this, &TMain::ActConfigExecute);
    ToolBar1->addWidget(BtnUtilities);

    ButConnect = new QToolButton(ToolBar1);
    ButConnect->setObjectName(QStringLiteral("ButConnect"));
    ButConnect->setCheckable(true);
    ButConnect->setIcon(style()->standardIcon(QStyle::SP_DriveNetIcon));
    ButConnect->setToolTip(QStringLiteral("Connect to Stravinex (F11)"));
    connect(ButConnect, &QToolButton::clicked, this, &TMain::ButConnectClick);
    ToolBar1->addWidget(ButConnect);

    Led1 = new LedLamp(ToolBar1);
    ToolBar1->addWidget(Led1);
    ToolBar1->addSeparator();

    for (int slot = 1; slot <= 3; ++slot) addSlotButtons(slot);
}

// The open button of a slot, with its drop-down list of recent files, and its save button.
void TMain::addSlotButtons(int slot) {
    QAction* open = openAction(slot);
    auto* btn = new QToolButton(ToolBar1);
    btn->setObjectName(QStringLiteral("BtnOpen%1").arg(slot));
    btn->setDefaultAction(open);
    btn->setPopupMode(QToolButton::MenuButtonPopup);
    auto* menu = new QMenu(btn);
    menu->setObjectName(QStringLiteral("PopFiles%1").arg(slot));
    connect(menu, &QMenu::aboutToShow, this, [this, slot] { BtnOpenDropDown(slot); });
    connect(menu, &QMenu::triggered, this, &TMain::PopFilesClick);
    btn->setMenu(menu);
    PopFiles[static_cast<size_t>(slot)] = menu;
    BtnOpen[static_cast<size_t>(slot)] = btn;
    QAction* holder = ToolBar1->addWidget(btn);
    // A widget in a toolbar follows its holder's visibility, not its action's.
    connect(open, &QAction::changed, holder,
            [holder, open] { holder->setVisible(open->isVisible()); });

    QAction* save = saveAction(slot);
    ToolBar1->addAction(save);
    auto* sbtn = qobject_cast<QToolButton*>(ToolBar1->widgetForAction(save));
    sbtn->setObjectName(QStringLiteral("BtnSave%1").arg(slot));
    BtnSave[static_cast<size_t>(slot)] = sbtn;
}

// Read, Erase, Blank Check, Verify, Program.
void TMain::buildActionToolBar() {
    ToolBar2 = addToolBar(QStringLiteral("ToolBar2"));
    ToolBar2->setObjectName(QStringLiteral("ToolBar2"));
    ToolBar2->setMovable(false);
    ToolBar2->setIconSize(QSize(20, 20));
    const std::pair<QAction*, const char*> buttons[] = {{ActRead, "ButRead"},
                                                        {ActErase, "ButErase"},
                                                        {ActBlankChk, "ButBlank"},
                                                        {ActVerify, "ButVerify"},
                                                        {ActProg, "ButProg"}};
    for (const auto& [action, name] : buttons) {
        ToolBar2->addAction(action);
        ToolBar2->widgetForAction(action)->setObjectName(QString::fromLatin1(name));
    }
}

void TMain::wire(TDevices& devices, Links links, QWidget* fuseEditors) {
    devices_ = &devices;
    links_ = std::move(links);
    pGrid->setGrid(&devices.pGrid);
    dGrid->setGrid(&devices.dGrid);
    eGrid->setGrid(&devices.eGrid);
    if (!Editing) Editing = new GridEditing(*this, devices, host_, fuses_);
    if (fuseEditors) {
        CfgCtrl = fuseEditors;
        fuseEditors->setParent(cfgHolder_);
        cfgHolder_->layout()->addWidget(fuseEditors);
    }
    fitDesignedSize();
}

QAction* TMain::openAction(int slot) const {
    return slot == 1 ? ActOpen1 : slot == 2 ? ActOpen2 : ActOpen3;
}

QAction* TMain::saveAction(int slot) const {
    return slot == 1 ? ActSave1 : slot == 2 ? ActSave2 : ActSave3;
}

// ---------------------------------------------------------------------------------------
// Start and end

void TMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!shown_) {
        shown_ = true;
        FormShow();
    }
}

void TMain::FormShow() {
    fitDesignedSize();  // now that the style and fonts of every control are known
    if (ProgDir.isEmpty()) ProgDir = QCoreApplication::applicationDirPath();
    if (!ProgDir.endsWith(QLatin1Char('/'))) ProgDir += QLatin1Char('/');
    appendDebug(fileVersion());
    const QString title = programTitle();
    // The main window's title is what the desktop shows for the program. The display name of
    // the application stays unset: it would be appended to every dialog's caption ("Error").
    setWindowTitle(title);
    CrdPath = ProgDir + QStringLiteral("kelvano.crd");
    // The DEBUG page still takes lines; it is only not offered to the user.
    PageCtl->setTabVisible(PageCtl->indexOf(PageDebug), false);
    if (links_.fillPortList) links_.fillPortList();
    if (links_.iniConfig) links_.iniConfig(false);
    setComPane(options_.portName());
    WindowPlacement placed;
    if (links_.iniWindow) links_.iniWindow(placed, false);
    applyPlacement(placed);
    Timer1.start(10);
}

void TMain::Startup() {
    Timer1.stop();
    Mnu2Prg->setVisible(false);
    ApplyDevice();
    if (options_.conAtStart && links_.connect) links_.connect();
}

void TMain::closeEvent(QCloseEvent* event) {
    if (!closed_) {
        if (!keepEditsBefore(QStringLiteral("closing"))) {
            event->ignore();
            return;
        }
        closed_ = true;
        FormClose();
    }
    event->accept();
}

void TMain::FormClose() {
    Timer1.stop();
    if (links_.iniConfig) links_.iniConfig(true);
    if (links_.iniWindow) {
        WindowPlacement placed = placement();
        links_.iniWindow(placed, true);
    }
    if (links_.iniDevice) links_.iniDevice(true);
    if (links_.portOpen && links_.portOpen() && links_.disconnect) links_.disconnect();
}

// ---------------------------------------------------------------------------------------
// Card type

void TMain::AddDeviceItem(int code, const QString& caption) {
    if (code == 0) {
        QAction* sep = MnuDevices->addSeparator();
        sep->setObjectName(QStringLiteral("DEV0"));
        return;
    }
    auto* item = new QAction(caption, MnuDevices);
    item->setObjectName(QStringLiteral("DEV%1").arg(code));
    item->setProperty("tag", code);
    item->setCheckable(true);
    item->setActionGroup(DevGroup);
    if (code == DeviceId()) {
        item->setChecked(true);
        DevPane->setText(caption);
    }
    connect(item, &QAction::triggered, this, [this, code] { ChgDev(code); });
    MnuDevices->addAction(item);
}

void TMain::ApplyDevice() {
    if (!devices_ || busy_) return;
    BusyScope busy(*this);
    // A code that is not a card type (an edited settings file) selects the first card type
    // of the Brelmont family rather than leaving the program without buffers.
    if (!findDevice(DeviceId())) setDeviceId(kFirstBrelmontCard);
    const int code = DeviceId();
    const TDeviceEntry& row = *findDevice(code);

    CfgPanel->hide();
    PageCtl->hide();
    for (QAction* a : {ActOpen2, ActSave2, ActOpen3, ActSave3}) a->setVisible(false);
    fuses_.shown = FusePage::None;
    fuses_.notify();
    for (QLabel* l : {LabFnProgMem, LabFnDataMem, LabFnEepMem}) l->clear();

    for (QAction* a : MnuDevices->actions()) {
        MnuDevices->removeAction(a);
        if (a->actionGroup()) a->actionGroup()->removeAction(a);
        // The clicked item may be the one running this; it goes once its handler is done.
        a->setObjectName(QString());
        a->deleteLater();
    }
    for (const MenuLine& line : devicesMenuLines()) AddDeviceItem(line.code, line.caption);

    devices_->ApplyBuffers(&host_);

    PageCtl->setTabText(PageCtl->indexOf(Pg1), QString::fromLatin1(row.controllerCaption));
    PageCtl->setTabText(PageCtl->indexOf(Pg2), QString::fromLatin1(row.eepromCaption));
    const bool pic = isPicCode(code);
    if (pic) {
        RefreshPicPage(*devices_, fuses_);
    } else {
        ApplyAvrFuseBox(code, fuses_);
    }
    fuses_.shown = row.fusePage;
    fuses_.notify();
    LabProgMem->setText(QStringLiteral("1"));
    LabDataMem->setText(pic ? QStringLiteral("1") : QStringLiteral("2"));
    LabEepMem->setText(pic ? QStringLiteral("2") : QStringLiteral("3"));
    for (int slot = 1; slot <= 3; ++slot) {
        const QString oh = openHint(code, slot);
        const QString sh = saveHint(code, slot);
        QAction* open = openAction(slot);
        QAction* save = saveAction(slot);
        if (!oh.isEmpty()) {
            open->setToolTip(oh);
            open->setStatusTip(oh);
            open->setText(oh + QStringLiteral("..."));
            open->setVisible(true);
        }
        if (!sh.isEmpty()) {
            save->setToolTip(sh);
            save->setStatusTip(sh);
            save->setText(sh + QStringLiteral("..."));
            save->setVisible(true);
        }
    }

    boxes_.visible = true;
    boxes_.progEnabled = boxes_.dataEnabled = boxes_.configEnabled = boxes_.eepEnabled = true;
    boxes_.notify();

    if (links_.iniDevice) {
        links_.iniDevice(false);
    } else {
        cbEepMemClick(code, boxes_);
    }

    CfgPanel->show();
    PageCtl->show();
    PageCtl->setCurrentWidget(Pg1);
    if (links_.deviceApplied) links_.deviceApplied(code);
}

void TMain::refreshDeviceTicks() {
    for (QAction* a : MnuDevices->actions())
        if (a->isCheckable()) a->setChecked(a->property("tag").toInt() == DeviceId());
}

void TMain::ChgDev(int code) {
    if (busy_) {
        // A click during a fill: the menu keeps showing the card type being applied.
        refreshDeviceTicks();
        return;
    }
    // A new card type starts with blank buffers and a new history.
    if (!keepEditsBefore(QStringLiteral("changing the card type"))) {
        refreshDeviceTicks();
        return;
    }
    if (links_.iniDevice) links_.iniDevice(true);
    setDeviceId(code);
    ApplyDevice();
}

void TMain::refreshEnableBoxes() {
    const std::pair<QCheckBox*, std::pair<bool, bool>> rows[] = {
        {cbProgMem, {boxes_.prog, boxes_.progEnabled}},
        {cbDataMem, {boxes_.data, boxes_.dataEnabled}},
        {cbConfig, {boxes_.config, boxes_.configEnabled}},
        {cbEepMem, {boxes_.eep, boxes_.eepEnabled}}};
    // Greyed by the loader cards' coupling: say why.
    const QString coupled = QStringLiteral(
        "Always included while \"EEPROM Memory\" is ticked: on this card the box reaches the "
        "EEPROM through a loader put in the controller's place, so the controller's memories "
        "and configuration are handled with it. Untick \"EEPROM Memory\" to choose them.");
    for (const auto& [cb, state] : rows) {
        cb->setChecked(state.first);
        cb->setEnabled(state.second);
        cb->setVisible(boxes_.visible);
        cb->setToolTip(state.second ? QString() : coupled);
    }
}

// ---------------------------------------------------------------------------------------
// Connection, actions, dialogs

void TMain::ButConnectClick(bool down) {
    if (down) {
        if (links_.connect) links_.connect();
        return;
    }
    const bool open = links_.portOpen && links_.portOpen();
    const bool usb = links_.usbConnected && links_.usbConnected();
    if ((open || usb) && links_.disconnect) links_.disconnect();
}

void TMain::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F11 && event->modifiers() == Qt::NoModifier) {
        FormKeyDown(Qt::Key_F11);
        event->accept();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void TMain::FormKeyDown(int key) {
    if (key != Qt::Key_F11) return;
    if (links_.portOpen && links_.portOpen()) {
        if (links_.disconnect) links_.disconnect();
    } else if (links_.connect) {
        links_.connect();
    }
}

void TMain::ActExecute(int actionCode) {
    if (busy_) return;
    busyStarted();
    if (links_.runAction) links_.runAction(actionCode);
    busyEnded();  // a read changes buffers
}

void TMain::ActConfigExecute() {
    if (links_.showConfig) links_.showConfig();
    setComPane(options_.portName());
}

void TMain::Info1Click() {
    if (links_.showAbout) links_.showAbout();
}

// ---------------------------------------------------------------------------------------
// Fill popup

void TMain::GridContextPopup(int tag) {
    FillTarget = tag;
    FillValue = 255;
    int digits = 2;
    if (FillTarget == 1 && devices_) {
        FillValue = static_cast<int>(devices_->ProgBlank);
        digits = 4;
    }
    const QString prefix = QStringLiteral("Fill buffer with $");
    FillFF->setText(prefix +
                    QStringLiteral("%1").arg(FillValue, digits, 16, QLatin1Char('0')).toUpper());
    Fill00->setText(prefix + QString(digits, QLatin1Char('0')));
}

void TMain::PopFillClick(int tag) {
    if (!devices_ || busy_) return;
    BusyScope busy(*this);
    const uint32_t value = tag == 1 ? static_cast<uint32_t>(FillValue) : static_cast<uint32_t>(tag);
    TDevices& d = *devices_;
    const TDeviceEntry* row = findDevice(d.DeviceId);
    const bool avrCard = row && row->avr();
    switch (FillTarget) {
        case 1:
            ResizeFill(d.ProgBuf, d.ProgMax, value);
            ShowBuffer(d.ProgBuf, d.pGrid, avrCard ? ViewMode::AvrWords8 : ViewMode::PicWords8,
                       &host_);
            LabFnProgMem->clear();
            break;
        case 2:
            ResizeFill(d.DataBuf, d.DataMax, value);
            ShowBuffer(d.DataBuf, d.dGrid, ViewMode::Bytes16, &host_);
            LabFnDataMem->clear();
            break;
        case 3:
            ResizeFill(d.EepBuf, d.EepMax, value);
            ShowBuffer(d.EepBuf, d.eGrid, ViewMode::Bytes16, &host_);
            LabFnEepMem->clear();
            break;
        default:
            break;
    }
}

// ---------------------------------------------------------------------------------------
// MainView

void TMain::setLamp(bool lit) { Led1->setLit(lit); }

void TMain::toggleLamp() { Led1->setLit(!Led1->isLit()); }

void TMain::showConnected(bool connected) {
    Led1->setLit(connected);
    ButConnect->setChecked(connected);
    for (QAction* a : {ActRead, ActProg, ActErase, ActVerify, ActBlankChk})
        a->setEnabled(connected);
    options_.portListEnabled = !connected;
    if (!connected) Mnu2Prg->setVisible(false);
}

void TMain::setQxPane(const QString& text) { QxPane->setText(text); }

void TMain::setComPane(const QString& port) {
    ComPane->setText(port);
    ComPane->setMinimumWidth(std::max(57, ComPane->fontMetrics().horizontalAdvance(port) + 10));
}

void TMain::appendDebug(const QString& line) { Memo1->appendPlainText(line); }

void TMain::showMemoryPage(int page) { PageCtl->setCurrentWidget(page == 2 ? Pg2 : Pg1); }

void TMain::setFileLabel(int grid, const QString& text) {
    QLabel* l = grid == 1   ? LabFnProgMem
                : grid == 2 ? LabFnDataMem
                : grid == 3 ? LabFnEepMem
                            : nullptr;
    if (l) {
        l->setText(text);
        l->setToolTip(text);
    }
}

}  // namespace kelvano
