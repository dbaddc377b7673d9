// The output page (page 6) and the port tiles it shares with the smart
// set-up wizard.
#include "shell_fixture.h"

#include "ui/settings/outputset.h"
#include "ui/settings/port_tiles.h"
#include "ui/shell/fpga_panel.h"

#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>

#include <map>

// The tile and group button styles of the output page.
constexpr const char* kTileMarked = "background-color: #212435;border:1px solid #00D65B;";
constexpr const char* kTileOther = "background-color: #212435;border:1px solid #FFFFFF;";
constexpr const char* kGroupChosen =
    "background-color: #4777FF;color: rgb(255, 255, 255);border:1px solid rgb(255, 255, 255);";

namespace {

class PortTilesTest : public ShellTest {};

// Port regions by port number, as a test sets them.
struct PanelDouble : FpgaPanel::Backend {
    std::map<int, FpgaPanel::PortRegion> regions;
    bool portRegion(int port, FpgaPanel::PortRegion* r) override {
        *r = regions.count(port) ? regions[port] : FpgaPanel::PortRegion{};
        return true;
    }
    bool requestLedReinit() override { return false; }
};

class OutputPageTest : public ShellTest {
protected:
    void TearDown() override {
        FpgaPanel::setBackend(nullptr);
        delete g_outputset.data();
        ShellTest::TearDown();
    }
    OutputSet* open() {
        PageRegistry::open(PageRegistry::Settings);
        g_option->on_output_set_clicked();
        return g_outputset.data();
    }
    QString text(const char* name) { return child<QLineEdit>(g_outputset.data(), name)->text(); }
    Vals ledFields() {
        Vals v;
        for (const char* n : {"lineEdit_width", "lineEdit_height", "lineEdit_out1_width", "lineEdit_out1_height",
                              "lineEdit_out2_width", "lineEdit_out2_height"})
            v.push_back(text(n).toInt());
        return v;
    }
    QStringList portFields() {
        QStringList out;
        for (const char* n : {"lineEdit_X", "lineEdit_Y", "lineEdit_W", "lineEdit_H"}) out << text(n);
        return out;
    }
    void typeInto(const char* name, const QString& typed) {
        NumberKeyboard::setNextAnswer(typed);
        QTest::mouseClick(child<QLineEdit>(g_outputset.data(), name), Qt::LeftButton);
    }
    QComboBox* selector() { return child<QComboBox>(g_outputset.data(), "comboBox"); }
    // The c331 side took the change and signalled it.
    void applied() {
        c331_manage::get()->apply_flag = 0;
        SyncUpdate::pInstance()->para_sync(1);
    }
    void setWord(u32 off, u16 v) {
        model->live_image.setWord(off, v);
        model->shadow_image.setWord(off, v);
    }
};

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
    EXPECT_EQ(grid.tile(3)->styleSheet(), kTileMarked);
    EXPECT_EQ(grid.tile(7)->geometry(), QRect(459, 89, 130, 60));
    grid.frame()->findChild<QPushButton*>("5")->click();
    EXPECT_EQ(pressed, std::vector<int>{5});
    grid.mark(5);
    EXPECT_EQ((QStringList{grid.tile(3)->styleSheet(), grid.tile(5)->styleSheet()}),
              (QStringList{kTileOther, kTileMarked}));

    // Rebuilt for another group in Chinese, with no tile marked; the old
    // frame goes.
    g_language = 0;
    QPointer<QFrame> old = grid.frame();
    grid.build(&page, QPoint(1, 75), 0, -1);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(old);
    EXPECT_EQ(tileTexts(grid.frame()).first(), QString::fromUtf8("网口LED1"));
    EXPECT_EQ(grid.marked(), -1);
    for (int t = 0; t < 8; ++t) EXPECT_EQ(grid.tile(t)->styleSheet(), kTileOther);
    EXPECT_EQ(PortTiles::groupText(1), QString::fromUtf8("网口9~16"));
    g_language = 4;
    EXPECT_EQ(PortTiles::tileText(23), QString::fromUtf8("網口LED24"));
    g_language = 2;
    EXPECT_EQ(PortTiles::groupText(2), "LED17~24");
}

TEST_F(OutputPageTest, OpensOnTheStoredWallAndSplitsItOverBothOutputs) {
    // A splice word the page does not know counts as copy.
    setWord(RamOffset::SPLICE_MODE, 5);
    OutputSet* page = open();
    ASSERT_TRUE(page);
    EXPECT_EQ(g_page_focus.load(), PageRegistry::Output);
    EXPECT_EQ((Vals{selector()->currentIndex(), page->workingMode()}), (Vals{2, 4}));
    EXPECT_EQ(selector()->count(), 3);
    EXPECT_EQ(ledFields(), (Vals{1920, 1080, 1920, 1080, 1920, 1080}));
    EXPECT_EQ(child<QLabel>(page, "label_tip")->text(), "LED max:16376(w),16376(h)");
    // Only OUT1 opens the keypad; the wall is shown, not typed.
    EXPECT_FALSE(child<QLineEdit>(page, "lineEdit_width")->isEnabled());
    EXPECT_FALSE(child<QLineEdit>(page, "lineEdit_out2_width")->isEnabled());

    selector()->setCurrentIndex(0);
    EXPECT_EQ(ledFields(), (Vals{1920, 1080, 960, 1080, 960, 1080}));
    EXPECT_EQ(child<QLabel>(page, "out_label")->geometry(), QRect(348, 155, 180, 40));
    child<QPushButton>(page, "Button_apply1")->click();
    EXPECT_EQ(c331_manage::get()->apply_flag.load(), 1);
    Vals stored;
    for (u32 off : {RamOffset::SPLICE_MODE, RamOffset::OUT1_WIDTH, RamOffset::OUT1_HEIGHT, RamOffset::OUT2_X,
                    RamOffset::OUT2_Y, RamOffset::OUT2_WIDTH, RamOffset::OUT2_HEIGHT})
        stored.push_back(model->live_image.word(off));
    EXPECT_EQ(stored, (Vals{3, 960, 1080, 960, 0, 960, 1080}));
    applied();
    EXPECT_EQ(ledFields(), (Vals{1920, 1080, 960, 1080, 960, 1080}));
    EXPECT_EQ((Vals{selector()->currentIndex(), page->workingMode()}), (Vals{0, 3}));

    // An OUT1 typed and applied stays when the page opens again.
    typeInto("lineEdit_out1_width", "1000");
    EXPECT_EQ(ledFields(), (Vals{1920, 1080, 1000, 1080, 920, 1080}));
    child<QPushButton>(page, "Button_apply1")->click();
    applied();
    child<QPushButton>(page, "Button_back")->click();
    EXPECT_EQ(g_page_focus.load(), PageRegistry::Settings);
    EXPECT_FALSE(g_outputset);
    page = open();
    EXPECT_EQ(ledFields(), (Vals{1920, 1080, 1000, 1080, 920, 1080}));
    // The idle return's back, like the arrow.
    EXPECT_TRUE(PageRegistry::back(PageRegistry::Output));
    EXPECT_EQ(g_page_focus.load(), PageRegistry::Settings);
    EXPECT_FALSE(g_outputset);
}

TEST_F(OutputPageTest, Out1EntriesFollowTheRulesAndARefreshReloadsTheImage) {
    setWord(RamOffset::WALL_WIDTH, 12010);
    setWord(RamOffset::SPLICE_MODE, 2);
    OutputSet* page = open();
    ASSERT_TRUE(page);
    EXPECT_EQ(selector()->currentIndex(), 1);
    // Wider than one output: forced side by side, the selector stays.
    typeInto("lineEdit_out1_width", "9000");
    EXPECT_EQ((Vals{text("lineEdit_out1_width").toInt(), text("lineEdit_out2_width").toInt(), page->workingMode(),
                    selector()->currentIndex()}),
              (Vals{8192, 3818, 3, 1}));
    // Cancel keeps the edits; the next refresh brings back the image.
    child<QPushButton>(page, "Button_cancel1")->click();
    EXPECT_EQ(text("lineEdit_out1_width"), "8192");
    applied();
    EXPECT_EQ((Vals{text("lineEdit_out1_width").toInt(), page->workingMode()}), (Vals{1920, 2}));

    selector()->setCurrentIndex(1);
    typeInto("lineEdit_out1_height", "600");
    EXPECT_EQ((Vals{text("lineEdit_out1_height").toInt(), text("lineEdit_out2_height").toInt()}), (Vals{600, 480}));
    typeInto("lineEdit_out1_height", "0");
    EXPECT_EQ((Vals{text("lineEdit_out1_height").toInt(), text("lineEdit_out2_height").toInt()}), (Vals{1, 1079}));

    // A language change re-texts the page, refills the selector on the
    // same item and reloads the fields from the image.
    model->live_image.setWord(RamOffset::LANGUAGE, 0);
    applied();
    EXPECT_EQ(selector()->itemText(1), QString::fromUtf8("垂直拼接"));
    EXPECT_EQ((Vals{selector()->count(), selector()->currentIndex()}), (Vals{3, 1}));
    EXPECT_EQ(child<QLabel>(page, "label_title")->text(), QString::fromUtf8("输出设置"));
    EXPECT_EQ(ledFields(), (Vals{12010, 1080, 1920, 1080, 1920, 1080}));
}

TEST_F(OutputPageTest, PortSubPageShowsTheChosenPortsRegion) {
    OutputSet* page = open();
    ASSERT_TRUE(page);
    child<QPushButton>(page, "Button_lanset")->click();
    EXPECT_EQ(child<QStackedWidget>(page, "stackedWidget")->currentIndex(), 1);
    // No FPGA manager: nothing to show.
    EXPECT_EQ(portFields(), (QStringList{"", "", "", ""}));
    EXPECT_FALSE(child<QPushButton>(page, "Button_wlan4")->isVisibleTo(page));

    PanelDouble panel;
    panel.regions[8] = {0, 540, 480, 270};
    panel.regions[12] = {1920, 0, 640, 360};
    FpgaPanel::setBackend(&panel);
    child<QPushButton>(page, "Button_wlan2")->click();
    QFrame* tiles = page->findChild<QFrame*>("frame_ports");
    ASSERT_TRUE(tiles);
    EXPECT_EQ(tileTexts(tiles).first(), "LED9");
    EXPECT_EQ(tileTexts(tiles).last(), "LED16");
    EXPECT_EQ((Vals{page->group(), page->selectedTile()}), (Vals{1, 0}));
    EXPECT_EQ(portFields(), (QStringList{"0", "540", "480", "270"}));
    EXPECT_EQ(child<QPushButton>(page, "Button_wlan2")->styleSheet().startsWith(kGroupChosen), true);

    tiles->findChild<QPushButton*>("4")->click();
    EXPECT_EQ(portFields(), (QStringList{"1920", "0", "640", "360"}));
    EXPECT_EQ(page->selectedTile(), 4);
    QList<QFrame*> frames;
    for (QObject* o : tiles->children())
        if (auto* f = qobject_cast<QFrame*>(o); f && !qobject_cast<QLabel*>(o) && f->styleSheet() == kTileMarked)
            frames << f;
    EXPECT_EQ(frames.size(), 1);
    EXPECT_EQ(frames.value(0)->geometry(), QRect(9, 89, 130, 60));
}
