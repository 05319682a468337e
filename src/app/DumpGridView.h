#pragma once
#include <QAbstractTableModel>
#include <QColor>
#include <QHeaderView>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QTableView>
#include <vector>

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

// Marks drawn over single elements of a row, on top of the grid's own look.
enum class CellMark : uint8_t { None = 0, Differs = 1, Edited = 2 };
// Their colours: black text on a strong fill, readable on every grid colour and on the
// selected row; the grids keep their own backgrounds under a dark desktop theme too.
QColor markColour(CellMark mark);

// One dump grid (pGrid, dGrid, eGrid): whole-row selection, no editing, vertical scroll bar
// only, no grid lines, all cells drawn by GridDrawCell with the grid's colour. The keys that
// move the selection scroll the grid with it.
//
// A cursor can point at one element (go to, find, a chosen difference); in edit mode it is
// always shown, moves by digit or character with the keys, and typing over it is handed to
// whoever listens to `typed`.
class DumpGridView : public QTableView {
    Q_OBJECT
public:
    DumpGridView(const QColor& colour, QWidget* parent = nullptr);

    // ---- cursor and edit mode ----
    void setEditMode(bool on);
    bool editMode() const { return editMode_; }
    // Puts the cursor on `element` (its first digit, or its first character in the text
    // column), selects its row and scrolls it into view.
    void selectElement(int element, bool inText = false);
    int cursorElement() const { return cursor_; }  // -1: none
    int cursorSub() const { return sub_; }         // digit (hex) or character (text) within it
    bool cursorInText() const { return inText_; }
    bool cursorShown() const { return cursor_ >= 0 && (editMode_ || cursorShown_); }
    // Moves the cursor by `steps` digits or characters, across elements and rows.
    void stepCursor(int steps);
    int elementCount() const;

    // ---- marks ----
    void setMark(int element, CellMark mark);
    // Exactly `elements` carry `mark` afterwards (other marks stay where they are not replaced).
    void setMarks(CellMark mark, const std::vector<int>& elements);
    void clearMarks(CellMark mark);
    CellMark mark(int element) const;
    int markCount(CellMark mark) const;

    void setGrid(DumpGrid* grid);
    DumpGrid* grid() const { return model_->grid(); }
    DumpGridModel* dumpModel() const { return model_; }
    QColor colour() const { return colour_; }

    // The height the grid takes. A main grid (flash, external EEPROM) takes what its page has,
    // at least a few rows. A companion (the internal EEPROM under the flash) shows seven rows,
    // or exactly all rows of a memory that fits (the grid's fitRows), and grows up to all of
    // its rows.
    void setCompanion(bool companion);

    // Row height that follows the font (the grid's "default row height").
    int defaultRowHeight() const { return rowHeight_; }
    // Height for n default rows (header included) plus 4 px of frame.
    int heightForRows(int rows) const { return rows * rowHeight_ + 4; }
    // The fixed-pitch font of the dumps at the window's designed size.
    static QFont dumpFont();
    // The largest font, from dumpFont() up to 12 points, whose rows fit `width` pixels.
    static QFont dumpFontFor(int width);

signals:
    // Right mouse button on the grid, before the fill popup shows.
    void contextPopup(DumpGridView* grid, const QPoint& globalPos);
    // A key typed over the cursor in edit mode: `sub` is the digit (hex) or character (text)
    // of the element.
    void typed(DumpGridView* grid, int element, int sub, bool inText, QChar key);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void applyLayout();
    void applyFitRows();
    int perRow() const;
    int subCount(bool inText) const;
    void refreshRow(int row);
    bool editKey(QKeyEvent* event);

    bool companion_ = false;
    bool editMode_ = false;
    bool cursorShown_ = false;
    int cursor_ = -1;
    int sub_ = 0;
    bool inText_ = false;
    std::vector<uint8_t> marks_;

    DumpGridModel* model_;
    QColor colour_;
    int rowHeight_ = 12;
};

}  // namespace kelvano
