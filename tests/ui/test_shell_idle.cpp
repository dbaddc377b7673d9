// The idle return: pages closed back to the menu, the home page raised, and
// what stops the idle count.
#include "shell_fixture.h"

#include <QTest>

namespace {

class IdleTest : public ShellTest {
protected:
    void SetUp() override {
        ShellTest::SetUp();
        m_watcher = std::make_unique<lcd_touch>();  // reads this test's board
    }
    void TearDown() override {
        m_watcher.reset();
        ShellTest::TearDown();
    }
    void tick(lcd_touch& t, int n) {
        for (int i = 0; i < n; ++i) t.auto_timeout_back();
    }
    std::unique_ptr<lcd_touch> m_watcher;
};

TEST_F(IdleTest, CropPageOpenedFromSourceSelectionClosesBackToTheMenu) {
    std::vector<std::string> log;
    openFake(PageRegistry::SourceSelect, PageRegistry::MainMenu, &log);
    openFake(PageRegistry::Crop, PageRegistry::SourceSelect, &log);
    g_back_to_mainwindow_time = 5;

    tick(*m_watcher, 5);
    EXPECT_TRUE(log.empty());
    tick(*m_watcher, 1);
    EXPECT_EQ(log, (std::vector<std::string>{"back 7", "back 3"}));
    EXPECT_EQ(g_page_focus.load(), PageRegistry::MainMenu);
    tick(*m_watcher, 20);  // nothing more to close
    EXPECT_EQ(log.size(), 2u);
}

TEST_F(IdleTest, CascadesReachOnlyOpenPages) {
    std::vector<std::string> log;
    g_back_to_mainwindow_time = 0;

    // Crop page opened from the settings menu: crop, then settings.
    openFake(PageRegistry::Settings, PageRegistry::MainMenu, &log);
    openFake(PageRegistry::Crop, PageRegistry::Settings, &log);
    tick(*m_watcher, 1);
    EXPECT_EQ(log, (std::vector<std::string>{"back 7", "back 5"}));

    // Source selection from the image layout: source, layout, settings
    // (not open, so not called).
    log.clear();
    openFake(PageRegistry::ImageLayout, PageRegistry::MainMenu, &log);
    openFake(PageRegistry::SourceSelect, PageRegistry::ImageLayout, &log);
    tick(*m_watcher, 1);
    EXPECT_EQ(log, (std::vector<std::string>{"back 3", "back 9"}));

    // The image layout and quality pages return into the settings menu,
    // which closes too; the user-mode page returns to the main menu.
    for (int id : {PageRegistry::ImageLayout, PageRegistry::ImageQuality}) {
        log.clear();
        openFake(PageRegistry::Settings, PageRegistry::MainMenu, &log);
        openFake(id, PageRegistry::Settings, &log);
        tick(*m_watcher, 1);
        EXPECT_EQ(log, (std::vector<std::string>{"back " + std::to_string(id), "back 5"}));
        EXPECT_EQ(g_page_focus.load(), PageRegistry::MainMenu);
    }
    log.clear();
    openFake(PageRegistry::UserModes, PageRegistry::MainMenu, &log);
    tick(*m_watcher, 1);
    EXPECT_EQ(log, (std::vector<std::string>{"back 4"}));

    // The test pattern page stays open.
    log.clear();
    openFake(PageRegistry::TestPattern, PageRegistry::Settings, &log);
    tick(*m_watcher, 10);
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(g_page_focus.load(), PageRegistry::TestPattern);
}

TEST_F(IdleTest, HomePageComesBackAfterTheLockTimeAboveAnOpenDialog) {
    g_back_to_mainwindow_time = 100000;
    g_auto_lock_time = 10;
    FakePage* page = openFake(PageRegistry::Output, PageRegistry::Settings);
    page->dialog->setWindowModality(Qt::ApplicationModal);
    page->dialog->show();
    LockWindow* home = g_lockwindow;

    tick(*m_watcher, 10);
    EXPECT_FALSE(home->isVisible());
    tick(*m_watcher, 1);
    EXPECT_TRUE(home->isVisible());
    // The one home page, reused; input goes to it, not the dialog.
    EXPECT_EQ(g_lockwindow.data(), home);
    EXPECT_EQ(QApplication::activeModalWidget(), home);
    EXPECT_EQ(g_page_focus.load(), PageRegistry::Home);

    // A touch takes the panel back to the page that was in front.
    QTest::mouseClick(home, Qt::LeftButton, {}, QPoint(400, 240));
    EXPECT_FALSE(home->isVisible());
    EXPECT_EQ(g_page_focus.load(), PageRegistry::Output);
    tick(*m_watcher, 1);
    EXPECT_EQ(m_watcher->idleCount(), 0u);  // the tap was activity
}

TEST_F(IdleTest, HomePageReturnsToTheMenuWhenThePageClosedMeanwhile) {
    g_auto_lock_time = 3;
    FakePage* page = openFake(PageRegistry::Advanced, PageRegistry::Settings);
    tick(*m_watcher, 4);
    ASSERT_TRUE(g_lockwindow->isVisible());
    PageRegistry::leave(PageRegistry::Advanced, page->dialog);  // closed behind the home page
    g_lockwindow->unlock();
    EXPECT_EQ(g_page_focus.load(), PageRegistry::MainMenu);
}

TEST_F(IdleTest, WhatStopsTheCount) {
    g_page_focus = PageRegistry::MainMenu;
    Vals counts;
    auto count = [&](int ticks) {
        tick(*m_watcher, ticks);
        counts.push_back(m_watcher->idleCount());
    };
    count(5);
    board().pokeTouch();  // a touch of the panel's device starts it again
    count(1);
    // "Never" stops it; so do a job's progress overlay and the updating
    // screen.
    g_auto_lock_time = 120000;  // never
    count(50);
    g_auto_lock_time = 30000;
    QDialog host;
    QRoundProgressBar::create_qround_bar(&host);
    count(50);
    g_qround_bar->para_sync(100);
    g_mainwindow->update_start();
    count(50);
    g_mainwindow->update_over();
    count(3);
    EXPECT_EQ(counts, (Vals{5, 0, 0, 0, 0, 3}));
}

TEST_F(IdleTest, CountStopsAtItsLimitAndKeypadIsHidden) {
    g_auto_lock_time = 200000;
    g_back_to_mainwindow_time = 200000;
    tick(*m_watcher, 100001 + 10);
    EXPECT_EQ(m_watcher->idleCount(), 100001u);  // counts only while below 100001

    m_watcher->resetCount();
    g_back_to_mainwindow_time = 2;
    openFake(PageRegistry::Communication, PageRegistry::Settings);
    g_numberkeyboard->show();
    tick(*m_watcher, 3);
    EXPECT_FALSE(g_numberkeyboard->isVisible());
}

}  // namespace
