#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QHeaderView>
#include <QImage>
#include <QItemSelectionModel>
#include <QPainter>
#include <QSignalSpy>

#include "app/DumpGridView.h"
#include "test_main_support.h"

namespace kelvano {
namespace {

using testing_support::ensureApp;

QRgb pixel(GridCellState state, const QColor& colour, QString text = {}) {
    QImage img(60, 20, QImage::Format_RGB32);
    img.fill(Qt::green);
    QPainter p(&img);
    GridDrawCell(p, QRect(0, 0, 60, 20), text, state, colour);
    p.end();
    return img.pixel(58, 18);
}

TEST(DumpGridViewTest, CellColoursByState) {
    ensureApp();
    const QColor grid(0xFF, 0xF4, 0xF8);
    EXPECT_EQ(pixel({}, grid), grid.rgb());
    EXPECT_EQ(pixel({false, true}, grid), QColor(0xC0, 0xC0, 0xE0).rgb());
    EXPECT_EQ(pixel({true, false}, grid), QColor(0x00, 0x00, 0x88).rgb());
    EXPECT_EQ(pixel({true, true}, grid), QColor(0x00, 0x00, 0x88).rgb());  // selection wins

    // The text starts at the left edge, below the 2 px gap, and never leaves its cell.
    QImage img(80, 30, QImage::Format_RGB32);
    img.fill(Qt::green);
    QPainter p(&img);
    p.setFont(DumpGridView::dumpFont());
    GridDrawCell(p, QRect(10, 5, 30, 14), "WWWWWWWWWWWW", {true, false}, grid);
    p.end();
    bool whiteInside = false;
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x < 80; ++x) {
            const bool inside = x >= 10 && x < 40 && y >= 5 && y < 19;
            if (!inside) {
                ASSERT_EQ(img.pixel(x, y), QColor(Qt::green).rgb()) << x << "," << y;
            } else if (y < 7) {
                ASSERT_EQ(img.pixel(x, y), QColor(0, 0, 0x88).rgb()) << x << "," << y;
            }
            whiteInside = whiteInside || (inside && qGray(img.pixel(x, y)) > 200);
        }
    }
    EXPECT_TRUE(whiteInside);
}

TEST(DumpGridViewTest, FollowsItsDumpGrid) {
    ensureApp();
    DumpGrid grid(3);
    DumpGridView view(QColor(0xFF, 0xF4, 0xF8));
    view.setGrid(&grid);
    EXPECT_EQ(view.model()->rowCount(), 0);
    EXPECT_EQ(view.model()->columnCount(), 3);

    SetupGrid(grid, 4095, ViewMode::Bytes16);
    EXPECT_EQ(view.model()->rowCount(), 4096);
    EXPECT_EQ(view.model()->index(4095, 0).data().toString(), "FFF0:");
    EXPECT_EQ(view.model()->headerData(1, Qt::Horizontal).toString(), columnHeader(ViewMode::Bytes16));
    EXPECT_EQ(view.model()->headerData(0, Qt::Horizontal).toString(), "ADR");
    EXPECT_EQ(view.model()->headerData(2, Qt::Horizontal).toString(), "ASCII");
    EXPECT_FALSE(view.model()->flags(view.model()->index(0, 1)) & Qt::ItemIsEditable);
    // The first data row is selected across the row.
    EXPECT_TRUE(view.selectionModel()->isRowSelected(0, {}));

    // A refill signals changed ranges of the hex and text columns, not a reset.
    QSignalSpy changed(view.model(), &QAbstractItemModel::dataChanged);
    QSignalSpy reset(view.model(), &QAbstractItemModel::modelReset);
    TBufArray buf;
    ResizeFill(buf, 65535, 0x41);
    ShowBuffer(buf, grid, ViewMode::Bytes16);
    EXPECT_EQ(reset.count(), 0);
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed[0][0].toModelIndex(), view.model()->index(0, 1));
    EXPECT_EQ(changed[0][1].toModelIndex(), view.model()->index(4095, 2));
    EXPECT_EQ(view.model()->index(100, 2).data().toString(), QString(16, 'A'));
    EXPECT_FALSE(view.model()->index(4096, 1).data().isValid());

    // Heights count default rows (header included) and 4 px; the row height follows the font.
    EXPECT_GE(view.defaultRowHeight(), QFontMetrics(DumpGridView::dumpFont()).height());
    EXPECT_EQ(view.verticalHeader()->defaultSectionSize(), view.defaultRowHeight());
    EXPECT_EQ(view.heightForRows(5), 5 * view.defaultRowHeight() + 4);
    grid.setFitRows(5);
    EXPECT_EQ(view.maximumHeight(), view.heightForRows(5));
    grid.setFitRows(0);
    EXPECT_EQ(view.maximumHeight(), view.heightForRows(7));
    // The widest row fits the columns: nothing is cut off.
    const QFontMetrics fm(view.font());
    EXPECT_GE(view.columnWidth(1), fm.horizontalAdvance(view.model()->index(0, 1).data().toString()));
    EXPECT_GE(view.columnWidth(2), fm.horizontalAdvance(QString(16, 'W')));
    EXPECT_EQ(view.horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_FALSE(view.showGrid());
}

}  // namespace
}  // namespace kelvano
