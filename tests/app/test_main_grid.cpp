#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QSignalSpy>

#include "app/DumpGridView.h"
#include "test_main_support.h"

namespace kelvano {
namespace {

using testing_support::ensureApp;

TEST(DumpGridViewTest, CellColoursByState) {
    ensureApp();
    const QColor grid(0xFF, 0xF4, 0xF8), selected(0x00, 0x00, 0x88);
    const std::pair<GridCellState, QColor> cases[] = {
        {{}, grid}, {{false, true}, QColor(0xC0, 0xC0, 0xE0)}, {{true, false}, selected}, {{true, true}, selected}};
    for (const auto& [state, colour] : cases) {
        QImage img(60, 20, QImage::Format_RGB32);
        img.fill(Qt::green);
        QPainter p(&img);
        GridDrawCell(p, QRect(0, 0, 60, 20), "WWWWWWWWWWWWWWWW", state, grid);
        p.end();
        EXPECT_EQ(img.pixel(58, 18), colour.rgb()) << state.selected << state.fixed;
    }
}

TEST(DumpGridViewTest, ARefillSignalsOnlyTheChangedRows) {
    ensureApp();
    DumpGrid grid(3);
    DumpGridView view(QColor(0xFF, 0xF4, 0xF8));
    view.setGrid(&grid);
    SetupGrid(grid, 4095, ViewMode::Bytes16);
    ASSERT_EQ(view.model()->rowCount(), 4096);
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
}

}  // namespace
}  // namespace kelvano
