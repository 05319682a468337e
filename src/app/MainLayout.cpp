// The main window's layout: the memory pages with the panels under them, the fuse pages and
// the Enable boxes, the status bar; the window's smallest size and where it is placed.
#include "app/MainLayout.h"

#include <QCheckBox>
#include <QEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMenu>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScreen>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "app/DumpGridView.h"
#include "app/uMain.h"

namespace kelvano {

namespace {

// The designed client area, and the width of the memory pages in it.
constexpr int kClientWidth = 633;
constexpr int kClientHeight = 438;
constexpr int kPageWidth = 480;
// At least this much of a saved window must lie on a screen for it to go back there.
constexpr int kVisibleWidth = 120;
constexpr int kVisibleHeight = 60;

// A status pane: a text too long for it ends in "..." and shows whole in its tooltip.
class PaneLabel : public QLabel {
public:
    using QLabel::QLabel;
    QSize minimumSizeHint() const override { return {20, QLabel::minimumSizeHint().height()}; }

protected:
    void paintEvent(QPaintEvent*) override {
        {
            // The frame alone: the text is drawn below, cut to the pane's width.
            QPainter frame(this);
            drawFrame(&frame);
        }
        QPainter p(this);
        const QRect r = contentsRect().adjusted(3, 0, -3, 0);
        const QString shown = fontMetrics().elidedText(text(), Qt::ElideRight, r.width());
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(r, static_cast<int>(alignment()) | Qt::TextSingleLine, shown);
        setToolTip(shown == text() ? QString() : text());
    }
};

QLabel* paneLabel(const QString& name, const QColor& colour, QWidget* parent) {
    auto* l = new PaneLabel(parent);
    l->setObjectName(name);
    QFont f = l->font();
    f.setBold(true);
    l->setFont(f);
    QPalette pal = l->palette();
    pal.setColor(QPalette::WindowText, colour);
    l->setPalette(pal);
    l->setFrameShape(QFrame::Panel);
    l->setFrameShadow(QFrame::Sunken);
    return l;
}

// The slot number over a grid: bold red.
QLabel* slotLabel(const QString& name, QWidget* parent) {
    auto* l = new QLabel(parent);
    l->setObjectName(name);
    QPalette pal = l->palette();
    pal.setColor(QPalette::WindowText, Qt::red);
    l->setPalette(pal);
    QFont f = l->font();
    f.setBold(true);
    l->setFont(f);
    return l;
}

// A grid's title row: bold caption, slot number, file name.
QHBoxLayout* addTitleRow(QVBoxLayout* into, const QString& title, QLabel* slot, QLabel* file,
                         QWidget* parent) {
    auto* h = new QHBoxLayout();
    h->setSpacing(6);
    auto* t = new QLabel(title, parent);
    QFont f = t->font();
    f.setBold(true);
    t->setFont(f);
    h->addWidget(t);
    h->addWidget(slot);
    h->addWidget(file, 1);
    into->addLayout(h);
    return h;
}

}  // namespace

QString elideFileName(const QString& path, const QFontMetrics& fm, int width) {
    if (fm.horizontalAdvance(path) <= width) return path;
    const qsizetype cut =
        std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    const QString name = path.mid(cut + 1);
    const QString folders = path.left(cut + 1);
    const int nameWidth = fm.horizontalAdvance(name);
    if (cut < 0 || nameWidth + fm.horizontalAdvance(QChar(0x2026)) > width)
        return fm.elidedText(name, Qt::ElideMiddle, width);
    return fm.elidedText(folders, Qt::ElideMiddle, width - nameWidth) + name;
}

FileNameLabel::FileNameLabel(QWidget* parent) : QLabel(parent) {
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // A long name never widens the window: it gives way instead.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

QString FileNameLabel::shownText() const {
    return elideFileName(text(), fontMetrics(), contentsRect().width());
}

QSize FileNameLabel::minimumSizeHint() const { return {10, QLabel::minimumSizeHint().height()}; }

QSize FileNameLabel::sizeHint() const { return {10, QLabel::sizeHint().height()}; }

void FileNameLabel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(contentsRect(), static_cast<int>(alignment()) | Qt::TextSingleLine, shownText());
}

QRect placeWindow(const QRect& saved, const QSize& size, const QList<QRect>& screens,
                  const QRect& fallback) {
    if (saved.width() > 0 && saved.height() > 0) {
        for (const QRect& screen : screens) {
            const QRect seen = saved.intersected(screen);
            if (seen.width() < kVisibleWidth || seen.height() < kVisibleHeight) continue;
            QRect r(saved.topLeft(), saved.size().boundedTo(screen.size()).expandedTo(size));
            // The title bar stays reachable.
            if (r.top() < screen.top()) r.moveTop(screen.top());
            return r;
        }
    }
    QRect r(QPoint(0, 0), size);
    r.moveCenter(fallback.center());
    return r;
}

void TMain::fitDesignedSize() {
    setMinimumSize(0, 0);
    ensurePolished();
    if (centralWidget() && centralWidget()->layout()) centralWidget()->layout()->activate();
    if (layout()) layout()->activate();
    designedSize_ = minimumSizeHint().expandedTo(QSize(kClientWidth, kClientHeight));
    setMinimumSize(designedSize_);
    if (!isVisible()) resize(designedSize_);
}

WindowPlacement TMain::placement() const {
    const QRect r = normalGeometry().isValid() ? normalGeometry() : geometry();
    return {r.left(), r.top(), r.width(), r.height(), isMaximized()};
}

void TMain::applyPlacement(const WindowPlacement& saved) {
    QList<QRect> screens;
    for (const QScreen* s : QGuiApplication::screens()) screens << s->availableGeometry();
    const QScreen* here = screen() ? screen() : QGuiApplication::primaryScreen();
    const QRect fallback = here ? here->availableGeometry() : QRect(QPoint(0, 0), designedSize_);
    setGeometry(placeWindow(QRect(saved.left, saved.top, saved.width, saved.height), designedSize_,
                            screens, fallback));
    if (!saved.maximized) return;
    // Maximised once the window system has the window at its normal place and size: asked
    // while the window is being shown, the window would only take the screen's size, and a
    // restore could not bring the normal size back.
    QTimer::singleShot(0, this, [this] { setWindowState(windowState() | Qt::WindowMaximized); });
}

namespace {

// A panel under the memory pages takes its height from the grids. Shown in a window of normal
// state, it makes the window taller by its own height (as far as the screen allows), so that
// the grids keep their rows; a window too near the bottom of the screen moves up for it. Hidden
// again, the panel gives that height back unless the user has resized the window since, and
// the window goes back down unless it has been moved since.
class PanelRoom : public QObject {
public:
    PanelRoom(QWidget* window, QWidget* panel, int spacing)
        : QObject(panel), window_(window), panel_(panel), spacing_(spacing) {
        panel->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show) grow();
        // (Hidden with the window, the panel stays open in it.)
        if (event->type() == QEvent::Hide && !static_cast<QWidget*>(watched)->isVisibleTo(window_))
            shrink();
        return false;
    }

private:
    void grow() {
        if (grown_ || !window_->isVisible() ||
            (window_->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)))
            return;
        const QScreen* screen = window_->screen();
        if (!screen) return;
        const QRect free = screen->availableGeometry();
        const QRect frame = window_->frameGeometry();
        const int wanted = panel_->sizeHint().height() + spacing_;
        grown_ = std::clamp(wanted, 0, std::max(free.height() - frame.height(), 0));
        // On a screen too small for all of it, the panel makes do with the height there is.
        if (grown_ < wanted)
            panel_->setMaximumHeight(
                std::max(grown_ - spacing_, panel_->minimumSizeHint().height()));
        if (grown_ == 0) return;
        movedUp_ = std::clamp(frame.bottom() + grown_ - free.bottom(), 0,
                              std::max(frame.top() - free.top(), 0));
        if (movedUp_ > 0) window_->move(window_->x(), window_->y() - movedUp_);
        window_->resize(window_->width(), window_->height() + grown_);
        heightGrown_ = window_->height();
        placeGrown_ = window_->pos();
    }
    void shrink() {
        if (grown_ && window_->height() == heightGrown_ && !window_->isMaximized()) {
            window_->resize(window_->width(), window_->height() - grown_);
            if (movedUp_ > 0 && window_->pos() == placeGrown_)
                window_->move(window_->x(), window_->y() + movedUp_);
        }
        grown_ = movedUp_ = 0;
        panel_->setMaximumHeight(QWIDGETSIZE_MAX);
    }

    QWidget* window_;
    QWidget* panel_;
    int spacing_;
    int grown_ = 0;
    int movedUp_ = 0;
    int heightGrown_ = 0;
    QPoint placeGrown_;
};

}  // namespace

void TMain::addPanelBelowPages(QWidget* panel) {
    panel->hide();
    panel->setParent(centralWidget());
    LeftColumn->addWidget(panel);
    new PanelRoom(this, panel, LeftColumn->spacing());
}

void TMain::keepSelectionInView() {
    for (DumpGridView* g : {pGrid, dGrid, eGrid})
        if (g->isVisible() && g->currentIndex().isValid()) g->scrollTo(g->currentIndex());
}

// The page control on the left, with room for panels under it; the fuse page control and the
// Enable boxes on the right. A larger window goes to the memory pages: the right column keeps
// its width and height.
void TMain::buildCentral() {
    auto* central = new QWidget(this);
    auto* row = new QHBoxLayout(central);
    row->setContentsMargins(2, 2, 2, 2);
    row->setSpacing(3);

    LeftColumn = new QVBoxLayout();
    LeftColumn->setSpacing(3);
    PageCtl = new QTabWidget(central);
    PageCtl->setObjectName(QStringLiteral("PageCtl"));
    PageCtl->setMinimumWidth(kPageWidth);
    PageCtl->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    LeftColumn->addWidget(PageCtl, 1);
    row->addLayout(LeftColumn, 1);

    buildMemoryPages();
    buildDebugPage();
    connectGridPopups();

    auto* column = new QWidget(central);
    column->setObjectName(QStringLiteral("RightColumn"));
    column->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    auto* right = new QVBoxLayout(column);
    right->setContentsMargins(0, 0, 0, 0);
    right->setSpacing(3);
    buildFuseHolder(column, right);
    buildEnablePanel(column, right);
    right->addStretch(1);
    row->addWidget(column);

    setCentralWidget(central);
}

// The controller page (flash and internal EEPROM grids) and the external EEPROM page.
void TMain::buildMemoryPages() {
    QVBoxLayout* v1 = nullptr;
    Pg1 = addMemoryPage(QStringLiteral("Pg1"), v1);
    pGrid = addMemoryGrid(
        v1,
        {QStringLiteral("Flash Memory"), QStringLiteral("LabProgMem"),
         QStringLiteral("LabFnProgMem"), QStringLiteral("pGrid"), QColor(0xFF, 0xFF, 0xEF)},
        LabProgMem, LabFnProgMem, 1);
    v1->addWidget(pGrid, 3);
    dGrid = addMemoryGrid(
        v1,
        {QStringLiteral("Internal EEPROM"), QStringLiteral("LabDataMem"),
         QStringLiteral("LabFnDataMem"), QStringLiteral("dGrid"), QColor(0xFA, 0xFF, 0xFA)},
        LabDataMem, LabFnDataMem, 2);
    // The internal EEPROM shows a few rows under the flash and grows up to all of its rows.
    dGrid->setCompanion(true);
    v1->addWidget(dGrid, 1);

    QVBoxLayout* v2 = nullptr;
    Pg2 = addMemoryPage(QStringLiteral("Pg2"), v2);
    eGrid = addMemoryGrid(
        v2,
        {QStringLiteral("External EEPROM"), QStringLiteral("LabEepMem"),
         QStringLiteral("LabFnEepMem"), QStringLiteral("eGrid"), QColor(0xFF, 0xF4, 0xF8)},
        LabEepMem, LabFnEepMem, 3);
    v2->addWidget(eGrid, 1);
}

// A memory page: a column of title rows (caption, slot number, file name) over grids.
QWidget* TMain::addMemoryPage(const QString& name, QVBoxLayout*& column) {
    auto* page = new QWidget(PageCtl);
    page->setObjectName(name);
    column = new QVBoxLayout(page);
    column->setContentsMargins(3, 2, 3, 3);
    column->setSpacing(1);
    PageCtl->addTab(page, name);
    return page;
}

DumpGridView* TMain::addMemoryGrid(QVBoxLayout* column, const GridNames& names, QLabel*& slot,
                                   QLabel*& file, int tag) {
    QWidget* page = column->parentWidget();
    slot = slotLabel(names.slotLabel, page);
    file = new FileNameLabel(page);
    file->setObjectName(names.fileLabel);
    TitleRow[static_cast<size_t>(tag)] = addTitleRow(column, names.title, slot, file, page);
    auto* grid = new DumpGridView(names.colour, page);
    grid->setObjectName(names.grid);
    return grid;
}

void TMain::buildDebugPage() {
    PageDebug = new QWidget(PageCtl);
    PageDebug->setObjectName(QStringLiteral("PageDebug"));
    auto* v3 = new QVBoxLayout(PageDebug);
    Memo1 = new QPlainTextEdit(PageDebug);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setReadOnly(true);
    v3->addWidget(Memo1);
    PageCtl->addTab(PageDebug, QStringLiteral("DEBUG"));
}

// A right click on a grid offers the fill menu for that grid's buffer.
void TMain::connectGridPopups() {
    for (DumpGridView* g : {pGrid, dGrid, eGrid}) {
        connect(g, &DumpGridView::contextPopup, this,
                [this](DumpGridView* grid, const QPoint& pos) {
                    if (!grid->grid()) return;
                    GridContextPopup(grid->grid()->tag());
                    PopFill->popup(pos);
                });
    }
}

// The holder the fuse page control is put into once it exists (see wire()).
void TMain::buildFuseHolder(QWidget* column, QVBoxLayout* right) {
    cfgHolder_ = new QWidget(column);
    cfgHolder_->setObjectName(QStringLiteral("CfgHolder"));
    auto* holderLayout = new QVBoxLayout(cfgHolder_);
    holderLayout->setContentsMargins(0, 0, 0, 0);
    CfgCtrl = nullptr;
    right->addWidget(cfgHolder_);
}

// The Enable group: which memories Read, Verify and Program work on.
void TMain::buildEnablePanel(QWidget* column, QVBoxLayout* right) {
    CfgPanel = new QWidget(column);
    CfgPanel->setObjectName(QStringLiteral("CfgPanel"));
    auto* panelLayout = new QVBoxLayout(CfgPanel);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    GrpEnable = new QGroupBox(QStringLiteral("Enable"), CfgPanel);
    GrpEnable->setObjectName(QStringLiteral("GrpEnable"));
    GrpEnable->setToolTip(QStringLiteral("Enable memory for Read, Write, Verify"));
    auto* g = new QVBoxLayout(GrpEnable);
    g->setSpacing(2);
    g->setContentsMargins(6, 4, 4, 4);
    auto box = [&](const char* name, const char* caption) {
        auto* cb = new QCheckBox(QString::fromLatin1(caption), GrpEnable);
        cb->setObjectName(QString::fromLatin1(name));
        cb->setChecked(true);
        g->addWidget(cb);
        return cb;
    };
    cbProgMem = box("cbProgMem", "Program Memory");
    cbDataMem = box("cbDataMem", "Data Memory");
    cbConfig = box("cbConfig", "Configuration");
    cbEepMem = box("cbEepMem", "EEPROM Memory");
    connect(cbProgMem, &QCheckBox::clicked, this, [this](bool on) { boxes_.prog = on; });
    connect(cbDataMem, &QCheckBox::clicked, this, [this](bool on) { boxes_.data = on; });
    connect(cbConfig, &QCheckBox::clicked, this, [this](bool on) { boxes_.config = on; });
    connect(cbEepMem, &QCheckBox::clicked, this, [this](bool on) {
        boxes_.eep = on;
        cbEepMemClick(DeviceId(), boxes_);
        refreshEnableBoxes();
    });
    panelLayout->addWidget(GrpEnable);
    right->addWidget(CfgPanel);
}

void TMain::buildStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setSizeGripEnabled(true);
    QxPane = paneLabel(QStringLiteral("QxPane"), QColor(0x80, 0x00, 0x00), bar);
    QxPane->setAlignment(Qt::AlignCenter);
    QxPane->setMinimumWidth(150);
    DevPane = paneLabel(QStringLiteral("DevPane"), QColor(0x80, 0x00, 0x80), bar);
    int nameWidth = 257;
    for (const TDeviceEntry& row : catalogue())
        if (row.displayName)
            nameWidth = std::max(nameWidth, DevPane->fontMetrics().horizontalAdvance(
                                                QString::fromLatin1(row.displayName)) +
                                                12);
    DevPane->setFixedWidth(nameWidth);
    ComPane = paneLabel(QStringLiteral("ComPane"), QColor(0x00, 0x00, 0x80), bar);
    ComPane->setMinimumWidth(57);
    // Port names here are device paths, longer than the names the panes were sized for: the
    // identification pane gives way to the port's full name.
    bar->addWidget(QxPane, 1);
    bar->addWidget(DevPane);
    bar->addWidget(ComPane);
}

}  // namespace kelvano
