// The output page (page 6) and the port tiles it shares with the smart
// set-up wizard.
#include "shell_fixture.h"

#include "ui/settings/port_tiles.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

namespace {

class PortTilesTest : public ShellTest {};

QStringList tileTexts(QFrame* frame) {
    QStringList out;
    for (QLabel* l : frame->findChildren<QLabel*>("label_port")) out << l->text();
    return out;
}

}  // namespace

TEST_F(PortTilesTest, GridNumbersTheGroupMarksOneTileAndReportsPresses) {
    QWidget page;
    std::vector<int> pressed;
    PortTiles::Grid grid([&](int t) { pressed.push_back(t); });
    grid.build(&page, QPoint(1, 135), 2, 3);
    ASSERT_TRUE(grid.frame());
    EXPECT_EQ(grid.frame()->geometry(), QRect(1, 135, 608, 165));
    EXPECT_EQ(tileTexts(grid.frame()),
              (QStringList{"LED17", "LED18", "LED19", "LED20", "LED21", "LED22", "LED23", "LED24"}));
    EXPECT_EQ(grid.tile(3)->styleSheet(), PortTiles::kTileMarked);
    EXPECT_EQ(grid.tile(7)->geometry(), QRect(459, 89, 130, 60));
    grid.frame()->findChild<QPushButton*>("5")->click();
    EXPECT_EQ(pressed, std::vector<int>{5});
    grid.mark(5);
    EXPECT_EQ((QStringList{grid.tile(3)->styleSheet(), grid.tile(5)->styleSheet()}),
              (QStringList{PortTiles::kTileOther, PortTiles::kTileMarked}));

    // Rebuilt for another group in Chinese, with no tile marked; the old
    // frame goes.
    g_language = 0;
    QPointer<QFrame> old = grid.frame();
    grid.build(&page, QPoint(1, 75), 0, -1);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(old);
    EXPECT_EQ(tileTexts(grid.frame()).first(), QString::fromUtf8("网口LED1"));
    EXPECT_EQ(grid.marked(), -1);
    for (int t = 0; t < PortTiles::kTiles; ++t) EXPECT_EQ(grid.tile(t)->styleSheet(), PortTiles::kTileOther);
    EXPECT_EQ(PortTiles::groupText(1), QString::fromUtf8("网口9~16"));
    g_language = 4;
    EXPECT_EQ(PortTiles::tileText(23), QString::fromUtf8("網口LED24"));
    g_language = 2;
    EXPECT_EQ(PortTiles::groupText(2), "LED17~24");
}
