#include "app/DumpGridView.h"

#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include "device/GridEdit.h"

namespace kelvano {

namespace {
// Width left for the three columns of a row on a memory page: the page is 480 px wide and
// keeps room for its frame, the grid's frame and the vertical scroll bar.
constexpr qreal kRowTextWidth = 432.0;
// What the page keeps beside the row text: frames, scroll bar, a little air.
constexpr int kRowMargin = 48;
constexpr qreal kLargestPoints = 12.0;
// Rows a main grid keeps however small its page, and that a companion shows.
constexpr int kMainRows = 4;
constexpr int kCompanionRows = 7;
const QString kRowSample(70, QLatin1Char('0'));  // address, hex and text of one row
}  // namespace

void GridDrawCell(QPainter& painter, const QRect& rect, const QString& text, GridCellState state,
                  const QColor& gridColour) {
    QColor back = gridColour;
    QColor fore = Qt::black;
    if (state.selected) {
        back = QColor(0x00, 0x00, 0x88);
        fore = Qt::white;
    } else if (state.fixed) {
        back = QColor(0xC0, 0xC0, 0xE0);
    }
    painter.save();
    painter.fillRect(rect, back);
    painter.setClipRect(rect);
    painter.setPen(fore);
    painter.drawText(rect.adjusted(0, 2, 0, 0), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                     text);
    painter.restore();
}

// ---------------------------------------------------------------------------------------

void DumpGridModel::setGrid(DumpGrid* grid) {
    beginResetModel();
    if (grid_) disconnect(grid_, nullptr, this, nullptr);
    grid_ = grid;
    if (grid_) {
        // The grid has already changed when it signals; a reset makes the view fetch
        // everything again, which is all a new layout needs.
        connect(grid_, &DumpGrid::layoutReset, this, [this] {
            beginResetModel();
            endResetModel();
        });
        connect(grid_, &DumpGrid::rowsChanged, this, [this](int first, int last) {
            emit dataChanged(index(first, 1), index(last, 2), {Qt::DisplayRole});
        });
    }
    endResetModel();
}

int DumpGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() || !grid_ ? 0 : grid_->rowCount();
}

int DumpGridModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 3; }

QVariant DumpGridModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !grid_ || !index.isValid() || index.row() >= grid_->rowCount())
        return {};
    switch (index.column()) {
        case 0:
            return grid_->address(index.row());
        case 1:
            return grid_->hex(index.row());
        case 2:
            return grid_->text(index.row());
        default:
            return {};
    }
}

QVariant DumpGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal) return {};
    if (grid_) return grid_->header(section);
    return section == 0   ? QStringLiteral("ADR")
           : section == 2 ? QStringLiteral("ASCII")
                          : QString();
}

Qt::ItemFlags DumpGridModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

// ---------------------------------------------------------------------------------------

namespace {

// Where element `i` of a row sits in the hex or text column: first character and count.
std::pair<int, int> elementSpan(ViewMode mode, bool inText, int i) {
    if (inText) return {i * elementChars(mode), elementChars(mode)};
    const int digits = elementDigits(mode);
    return {i * (digits == 2 ? 3 : 6), digits};
}

class GridDelegate : public QStyledItemDelegate {
public:
    GridDelegate(QColor colour, DumpGridView* view)
        : QStyledItemDelegate(view), colour_(colour), view_(view) {}
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        GridCellState state;
        state.selected = option.state & QStyle::State_Selected;
        painter->setFont(option.font);
        const QString text = index.data().toString();
        GridDrawCell(*painter, option.rect, text, state, colour_);
        if (index.column() == 1 || index.column() == 2)
            paintOverlay(*painter, option.rect, index, text);
    }
    // The marks and the cursor, over the cell the designed way drew.
    void paintOverlay(QPainter& p, const QRect& rect, const QModelIndex& index,
                      const QString& text) const {
        const DumpGrid* grid = view_->grid();
        if (!grid) return;
        const ViewMode mode = grid->mode();
        const int per = elementsPerRow(mode);
        const bool textColumn = index.column() == 2;
        const QFontMetrics fm(p.font());
        auto spanRect = [&](int i, int from, int count) {
            const auto [start, len] = elementSpan(mode, textColumn, i);
            const int a = start + from, b = start + std::min(from + count, len);
            return QRect(rect.left() + fm.horizontalAdvance(text.left(a)), rect.top(),
                         fm.horizontalAdvance(text.mid(a, b - a)), rect.height());
        };
        auto drawSpan = [&](const QRect& r, int i, int from, int count, const QColor& back,
                            const QColor& fore) {
            const auto [start, len] = elementSpan(mode, textColumn, i);
            p.save();
            p.setClipRect(rect);
            p.fillRect(r, back);
            p.setPen(fore);
            p.drawText(r.adjusted(0, 2, 0, 0), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                       text.mid(start + from, std::min(count, len - from)));
            p.restore();
        };
        const int row = index.row();
        for (int i = 0; i < per; ++i) {
            const CellMark m = view_->mark(row * per + i);
            if (m != CellMark::None)
                drawSpan(spanRect(i, 0, 99), i, 0, 99, markColour(m), Qt::black);
        }
        if (!view_->cursorShown() || view_->cursorElement() / per != row) return;
        const int i = view_->cursorElement() % per;
        const QRect whole = spanRect(i, 0, 99);
        if (textColumn == view_->cursorInText())
            drawSpan(spanRect(i, view_->cursorSub(), 1), i, view_->cursorSub(), 1, Qt::white,
                     Qt::black);
        p.save();
        p.setClipRect(rect);
        p.setPen(QPen(QColor(0xE0, 0x00, 0x00), 1));
        p.setBrush(Qt::NoBrush);
        p.drawRect(whole.adjusted(0, 0, -1, -1));
        p.restore();
    }
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QFontMetrics fm(option.font);
        return {fm.horizontalAdvance(index.data().toString()), fm.height() + 3};
    }

private:
    QColor colour_;
    DumpGridView* view_;
};

// The header row, drawn like the cells.
class GridHeader : public QHeaderView {
public:
    GridHeader(QColor colour, QWidget* parent)
        : QHeaderView(Qt::Horizontal, parent), colour_(colour) {}

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override {
        GridCellState state;
        state.fixed = true;
        painter->setFont(font());
        GridDrawCell(
            *painter, rect,
            model() ? model()->headerData(logicalIndex, Qt::Horizontal).toString() : QString(),
            state, colour_);
    }

private:
    QColor colour_;
};

}  // namespace

QColor markColour(CellMark mark) {
    switch (mark) {
        case CellMark::Differs:
            return QColor(0xFF, 0x9F, 0x40);
        case CellMark::Edited:
            return QColor(0x6C, 0xD8, 0x6C);
        default:
            return {};
    }
}

QFont DumpGridView::dumpFont() {
    static const QFont designed = [] {
        QFont f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        f.setStyleHint(QFont::TypeWriter);
        // The system's fixed font is made for terminals. The largest size up to its own (at most
        // 9 pt) whose 70 characters of a row (address, hex, text) fit the memory page is used;
        // point sizes follow the screen's resolution, so a high-DPI screen gets the same picture.
        const qreal systemPt = f.pointSizeF() > 0 ? f.pointSizeF() : 9.0;
        for (qreal pt = std::min<qreal>(systemPt, 9.0); pt > 6.0; pt -= 0.5) {
            f.setPointSizeF(pt);
            if (QFontMetricsF(f).horizontalAdvance(kRowSample) <= kRowTextWidth) break;
        }
        return f;
    }();
    return designed;
}

QFont DumpGridView::dumpFontFor(int width) {
    QFont f = dumpFont();
    const qreal base = f.pointSizeF();
    qreal chosen = base;
    for (qreal pt = base + 0.5; pt <= kLargestPoints; pt += 0.5) {
        f.setPointSizeF(pt);
        if (QFontMetricsF(f).horizontalAdvance(kRowSample) > width - kRowMargin) break;
        chosen = pt;
    }
    f.setPointSizeF(chosen);
    return f;
}

DumpGridView::DumpGridView(const QColor& colour, QWidget* parent)
    : QTableView(parent), model_(new DumpGridModel(this)), colour_(colour) {
    setFont(dumpFont());
    auto* header = new GridHeader(colour, this);
    header->setFont(font());
    setHorizontalHeader(header);
    setModel(model_);
    setItemDelegate(new GridDelegate(colour, this));
    verticalHeader()->hide();
    setShowGrid(false);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setTabKeyNavigation(false);
    setAutoScroll(false);
    QPalette pal = palette();
    pal.setColor(QPalette::Base, colour);
    setPalette(pal);
    applyLayout();
}

void DumpGridView::applyLayout() {
    const QFontMetrics fm(font());
    rowHeight_ = fm.height() + 3;
    auto* vh = verticalHeader();
    vh->setSectionResizeMode(QHeaderView::Fixed);
    vh->setMinimumSectionSize(1);
    vh->setDefaultSectionSize(rowHeight_);
    auto* hh = horizontalHeader();
    hh->setSectionResizeMode(QHeaderView::Fixed);
    hh->setHighlightSections(false);
    hh->setSectionsClickable(false);
    hh->setMinimumSectionSize(1);
    hh->setFixedHeight(rowHeight_);
    // The designed widths (50 / 300 / 100) fit a 6 pt font; here they follow the texts.
    const int addr = fm.horizontalAdvance(QStringLiteral("0000: ")) + 4;
    const int hex = fm.horizontalAdvance(QString(48, QLatin1Char('0'))) + 4;
    const int text = fm.horizontalAdvance(QString(16, QLatin1Char('0'))) + 4;
    hh->resizeSection(0, addr);
    hh->resizeSection(1, hex);
    hh->resizeSection(2, text);
}

void DumpGridView::setGrid(DumpGrid* grid) {
    if (DumpGrid* old = model_->grid()) disconnect(old, nullptr, this, nullptr);
    model_->setGrid(grid);
    if (grid) {
        connect(grid, &DumpGrid::layoutReset, this, [this] {
            applyFitRows();
            marks_.clear();
            cursor_ = -1;
            scrollToTop();
            if (model_->rowCount() > 0) selectRow(0);
        });
        connect(grid, &DumpGrid::fitRowsChanged, this, &DumpGridView::applyFitRows);
        if (model_->rowCount() > 0) selectRow(0);
    }
    applyLayout();
    applyFitRows();
}

void DumpGridView::setCompanion(bool companion) {
    companion_ = companion;
    applyFitRows();
}

void DumpGridView::applyFitRows() {
    const DumpGrid* g = grid();
    if (!companion_) {
        setMinimumHeight(heightForRows(kMainRows));
        setMaximumHeight(QWIDGETSIZE_MAX);
        return;
    }
    if (g && g->fitRows() > 0) {
        setFixedHeight(heightForRows(g->fitRows()));
        return;
    }
    const int all = (g ? g->rowCount() : 0) + 1;  // with the header row
    setMinimumHeight(heightForRows(kCompanionRows));
    setMaximumHeight(heightForRows(std::max(kCompanionRows, all)));
}

// A wider page shows the rows in a larger font, up to 12 points.
void DumpGridView::resizeEvent(QResizeEvent* event) {
    QTableView::resizeEvent(event);
    const QFont f = dumpFontFor(width());
    if (f == font()) return;
    setFont(f);
    horizontalHeader()->setFont(f);
    applyLayout();
    applyFitRows();
}

void DumpGridView::contextMenuEvent(QContextMenuEvent* event) {
    emit contextPopup(this, event->globalPos());
    event->accept();
}

// The view scrolls to the current row only with auto-scroll on, which would also scroll
// while the mouse drags: the keys' moves are followed here instead.
void DumpGridView::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTableView::currentChanged(current, previous);
    if (current.isValid()) scrollTo(current);
}

int DumpGridView::perRow() const { return grid() ? elementsPerRow(grid()->mode()) : 16; }

int DumpGridView::elementCount() const { return grid() ? grid()->rowCount() * perRow() : 0; }

int DumpGridView::subCount(bool inText) const {
    const ViewMode mode = grid() ? grid()->mode() : ViewMode::Bytes16;
    return inText ? elementChars(mode) : elementDigits(mode);
}

void DumpGridView::refreshRow(int) { viewport()->update(); }

void DumpGridView::setEditMode(bool on) {
    editMode_ = on;
    if (on && cursor_ < 0 && elementCount() > 0) {
        const QModelIndex cur = currentIndex();
        cursor_ = cur.isValid() ? cur.row() * perRow() : 0;
        sub_ = 0;
    }
    viewport()->update();
}

void DumpGridView::selectElement(int element, bool inText) {
    if (element < 0 || element >= elementCount()) return;
    cursor_ = element;
    sub_ = 0;
    inText_ = inText;
    cursorShown_ = true;
    const QModelIndex index = model()->index(element / perRow(), inText ? 2 : 1);
    selectRow(index.row());
    setCurrentIndex(index);
    scrollTo(index);
    viewport()->update();
}

void DumpGridView::stepCursor(int steps) {
    const int subs = subCount(inText_);
    const int count = elementCount();
    if (count == 0) return;
    int pos = (cursor_ < 0 ? 0 : cursor_) * subs + sub_ + steps;
    pos = std::clamp(pos, 0, count * subs - 1);
    const int sub = pos % subs;
    selectElement(pos / subs, inText_);
    sub_ = sub;
    viewport()->update();
}

void DumpGridView::setMark(int element, CellMark mark) {
    if (element < 0 || element >= elementCount()) return;
    if (marks_.size() != size_t(elementCount())) marks_.assign(size_t(elementCount()), 0);
    marks_[size_t(element)] = static_cast<uint8_t>(mark);
    viewport()->update();
}

void DumpGridView::setMarks(CellMark mark, const std::vector<int>& elements) {
    const auto m = static_cast<uint8_t>(mark);
    for (uint8_t& cell : marks_)
        if (cell == m) cell = 0;
    if (!elements.empty() && marks_.size() != size_t(elementCount()))
        marks_.assign(size_t(elementCount()), 0);
    for (int e : elements)
        if (e >= 0 && size_t(e) < marks_.size()) marks_[size_t(e)] = m;
    viewport()->update();
}

void DumpGridView::clearMarks(CellMark mark) {
    for (uint8_t& m : marks_)
        if (m == static_cast<uint8_t>(mark)) m = 0;
    viewport()->update();
}

CellMark DumpGridView::mark(int element) const {
    if (element < 0 || size_t(element) >= marks_.size()) return CellMark::None;
    return static_cast<CellMark>(marks_[size_t(element)]);
}

int DumpGridView::markCount(CellMark mark) const {
    return static_cast<int>(std::count(marks_.begin(), marks_.end(), static_cast<uint8_t>(mark)));
}

bool DumpGridView::editKey(QKeyEvent* event) {
    const int per = perRow();
    const int rowSteps = per * subCount(inText_);
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    const int page = std::max(1, viewport()->height() / std::max(1, rowHeight_) - 1);
    switch (event->key()) {
        case Qt::Key_Left:
        case Qt::Key_Backspace:
            stepCursor(-1);
            return true;
        case Qt::Key_Right:
            stepCursor(1);
            return true;
        case Qt::Key_Up:
            stepCursor(-rowSteps);
            return true;
        case Qt::Key_Down:
            stepCursor(rowSteps);
            return true;
        case Qt::Key_PageUp:
            stepCursor(-rowSteps * page);
            return true;
        case Qt::Key_PageDown:
            stepCursor(rowSteps * page);
            return true;
        case Qt::Key_Home:
            selectElement(ctrl ? 0 : std::max(0, cursor_) / per * per, inText_);
            return true;
        case Qt::Key_End:
            selectElement(ctrl ? elementCount() - 1 : std::max(0, cursor_) / per * per + per - 1,
                          inText_);
            return true;
        default:
            break;
    }
    if (ctrl || (event->modifiers() & Qt::AltModifier) || event->text().isEmpty()) return false;
    const QChar key = event->text().at(0);
    if (key.unicode() < 0x20) return false;  // Enter, Escape: not cell input
    if (cursor_ < 0) selectElement(0, inText_);
    emit typed(this, cursor_, sub_, inText_, key);
    return true;
}

// In edit mode Tab moves the cursor between the hex and the text column instead of leaving
// the grid.
bool DumpGridView::event(QEvent* event) {
    if (editMode_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Tab || key == Qt::Key_Backtab) {
            selectElement(std::max(0, cursor_), !inText_);
            return true;
        }
    }
    return QTableView::event(event);
}

void DumpGridView::keyPressEvent(QKeyEvent* event) {
    if (editMode_ && editKey(event)) {
        event->accept();
        return;
    }
    cursorShown_ = false;
    QTableView::keyPressEvent(event);
}

void DumpGridView::mousePressEvent(QMouseEvent* event) {
    QTableView::mousePressEvent(event);
    const QModelIndex index = indexAt(event->position().toPoint());
    if (!editMode_ || !grid() || !index.isValid() || index.column() == 0) {
        cursorShown_ = false;
        viewport()->update();
        return;
    }
    const bool inText = index.column() == 2;
    const ViewMode mode = grid()->mode();
    const int cw = std::max(1, QFontMetrics(font()).horizontalAdvance(QLatin1Char('0')));
    const int ch = (int(event->position().x()) - visualRect(index).left()) / cw;
    const int stride = inText ? elementChars(mode) : elementDigits(mode) == 2 ? 3 : 6;
    const int i = std::min(ch / stride, perRow() - 1);
    selectElement(index.row() * perRow() + i, inText);
    sub_ = std::min(ch % stride, subCount(inText) - 1);
    viewport()->update();
}

}  // namespace kelvano
