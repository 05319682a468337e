#include "app/DumpGridView.h"

#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QPainter>

namespace kelvano {

namespace {
// Width left for the three columns of a row on a memory page: the page is 480 px wide and
// keeps room for its frame, the grid's frame and the vertical scroll bar.
constexpr qreal kRowTextWidth = 432.0;
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
        case 0: return grid_->address(index.row());
        case 1: return grid_->hex(index.row());
        case 2: return grid_->text(index.row());
        default: return {};
    }
}

QVariant DumpGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal) return {};
    if (grid_) return grid_->header(section);
    return section == 0 ? QStringLiteral("ADR") : section == 2 ? QStringLiteral("ASCII") : QString();
}

Qt::ItemFlags DumpGridModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

// ---------------------------------------------------------------------------------------

namespace {

class GridDelegate : public QStyledItemDelegate {
public:
    GridDelegate(QColor colour, QObject* parent) : QStyledItemDelegate(parent), colour_(colour) {}
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        GridCellState state;
        state.selected = option.state & QStyle::State_Selected;
        painter->setFont(option.font);
        GridDrawCell(*painter, option.rect, index.data().toString(), state, colour_);
    }
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QFontMetrics fm(option.font);
        return {fm.horizontalAdvance(index.data().toString()), fm.height() + 3};
    }

private:
    QColor colour_;
};

// The header row, drawn like the cells.
class GridHeader : public QHeaderView {
public:
    GridHeader(QColor colour, QWidget* parent) : QHeaderView(Qt::Horizontal, parent), colour_(colour) {}

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override {
        GridCellState state;
        state.fixed = true;
        painter->setFont(font());
        GridDrawCell(*painter, rect,
                     model() ? model()->headerData(logicalIndex, Qt::Horizontal).toString()
                             : QString(),
                     state, colour_);
    }

private:
    QColor colour_;
};

}  // namespace

QFont DumpGridView::dumpFont() {
    QFont f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    f.setStyleHint(QFont::TypeWriter);
    // The system's fixed font is made for terminals. The largest size up to its own (at most
    // 9 pt) whose 70 characters of a row (address, hex, text) fit the memory page is used; point
    // sizes follow the screen's resolution, so a high-DPI screen gets the same picture.
    const qreal systemPt = f.pointSizeF() > 0 ? f.pointSizeF() : 9.0;
    for (qreal pt = std::min<qreal>(systemPt, 9.0); pt > 6.0; pt -= 0.5) {
        f.setPointSizeF(pt);
        if (QFontMetricsF(f).horizontalAdvance(QString(70, QLatin1Char('0'))) <= kRowTextWidth) break;
    }
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
            scrollToTop();
            if (model_->rowCount() > 0) selectRow(0);
        });
        connect(grid, &DumpGrid::fitRowsChanged, this, &DumpGridView::applyFitRows);
        if (model_->rowCount() > 0) selectRow(0);
    }
    applyLayout();
}

void DumpGridView::applyFitRows() {
    const DumpGrid* g = grid();
    const int rows = g && g->fitRows() > 0 ? g->fitRows() : 7;
    setFixedHeight(heightForRows(rows));
}

void DumpGridView::contextMenuEvent(QContextMenuEvent* event) {
    emit contextPopup(this, event->globalPos());
    event->accept();
}

}  // namespace kelvano
