#pragma once
#include <QAbstractTableModel>
#include <QColor>
#include <QHeaderView>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QTableView>

#include "device/uDevices.h"

namespace kelvano {

// How a cell of a dump grid is drawn; shared by the header row and the data rows.
struct GridCellState {
    bool selected = false;
    bool fixed = false;  // the header row
};

// Draws one cell: #000088 with white text when selected, #C0C0E0 with black text in the
// header row, else the grid's own colour with black text. The text starts at the left edge,
// 2 px below the top, and is clipped to the cell.
void GridDrawCell(QPainter& painter, const QRect& rect, const QString& text, GridCellState state,
                  const QColor& gridColour);

// The rows of one DumpGrid as a read-only table: address, hex and character columns.
// Follows the grid: a new layout resets the model, a refill signals the changed rows only.
class DumpGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit DumpGridModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}
    void setGrid(DumpGrid* grid);
    DumpGrid* grid() const { return grid_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    QPointer<DumpGrid> grid_;
};

// One dump grid (pGrid, dGrid, eGrid): whole-row selection, no editing, vertical scroll bar
// only, no grid lines, all cells drawn by GridDrawCell with the grid's colour.
class DumpGridView : public QTableView {
    Q_OBJECT
public:
    DumpGridView(const QColor& colour, QWidget* parent = nullptr);

    void setGrid(DumpGrid* grid);
    DumpGrid* grid() const { return model_->grid(); }
    DumpGridModel* dumpModel() const { return model_; }
    QColor colour() const { return colour_; }

    // Row height that follows the font (the grid's "default row height").
    int defaultRowHeight() const { return rowHeight_; }
    // Height for n default rows (header included) plus 4 px of frame.
    int heightForRows(int rows) const { return rows * rowHeight_ + 4; }
    // The fixed-pitch font of the dumps.
    static QFont dumpFont();

signals:
    // Right mouse button on the grid, before the fill popup shows.
    void contextPopup(DumpGridView* grid, const QPoint& globalPos);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void applyLayout();
    void applyFitRows();

    DumpGridModel* model_;
    QColor colour_;
    int rowHeight_ = 12;
};

}  // namespace kelvano
