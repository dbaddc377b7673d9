// The shell together with the parameter model: refresh before persisting,
// language from the image, signal summaries and names on the home page.
#include "service_fixture.h"

#include "core/JsonParse.h"
#include "ui/service/advancedoption.h"
#include "ui/settings/custommode.h"
#include "ui/settings/edidset.h"
#include "ui/settings/imagelayout.h"
#include "ui/settings/imagequality.h"
#include "ui/settings/inputchoose.h"
#include "ui/settings/inputcut.h"
#include "ui/settings/outputset.h"

#include <QComboBox>
#include <QSlider>

#include <QFrame>
#include <QLabel>
#include <QMutexLocker>
#include <QPixmap>
#include <QTest>

#include <functional>
#include <random>
#include <thread>

namespace {

class ModelTest : public ShellTest {};

TEST_F(ModelTest, ClosedPageIsNeverCalledAndLanguageStillFollowsTheImage) {
    std::vector<std::string> log;
    FakePage* page = openFake(PageRegistry::Output, PageRegistry::Settings, &log);
    delete page->dialog.data();  // gone without saying so
    g_page_focus = PageRegistry::Output;

    model->live_image.setWord(RamOffset::LANGUAGE, 2);
    SyncUpdate::pInstance()->para_sync(1);

    EXPECT_TRUE(log.empty());
    EXPECT_EQ((Vals{PageRegistry::isOpen(PageRegistry::Output), g_language.load(),
                    model->shadow_image.word(RamOffset::LANGUAGE)}),
              (Vals{0, 2, 2}));

    // Port states and the end of an upgrade only redraw: nothing persisted.
    model->live_image.setWord(RamOffset::CONTRAST, 77);
    SyncUpdate::pInstance()->para_sync(11);
    SyncUpdate::pInstance()->para_sync(104);
    EXPECT_NE(model->shadow_image.word(RamOffset::CONTRAST), 77);
}

TEST_F(ModelTest, HomePageShowsSignalsAndNames) {
    model->ZrvSetSignalPara(2, 1920, 1080, 60);
    model->ZrvSetSignalPara(3, 1920, 0, 60);  // no height: no signal
    writeHostFile(hostPath("/data/configs/alias.json"),
                  R"({"namelist":{"source":[{"id":2,"valid":"on","name":"Stage left"},)"
                  R"({"id":0,"valid":"off","name":"Hidden"}]}})");
    g_lockwindow->lock_show();
    QStringList texts;
    for (const char* name : {"label_signal2", "label_signal3", "label_name2", "label_name0"})
        texts << child<QLabel>(g_lockwindow, name)->text();
    EXPECT_EQ(texts, (QStringList{"1920x1080@60Hz", "No signal", "Stage left", "EXT"}));
    EXPECT_FALSE(child<QFrame>(g_lockwindow, "frame_ports")->isVisibleTo(g_lockwindow));
}

TEST_F(ModelTest, HomePageRedrawsOnlyWhatChangedAndReadsTheAliasFileOnlyWhenItChanged) {
    const std::string aliasFile = hostPath("/data/configs/alias.json");
    writeHostFile(aliasFile, R"({"namelist":{"source":[{"id":1,"valid":"on","name":"Desk"}]}})");
    g_lockwindow->lock_show();
    auto* name1 = child<QLabel>(g_lockwindow, "label_name1");
    auto* picture2 = child<QLabel>(g_lockwindow, "label_picture2");
    auto* state3 = child<QLabel>(g_lockwindow, "label_state3");
    // Marked pictures show whether the page drew them again.
    QPixmap mark(3, 3);
    mark.fill(Qt::red);
    picture2->setPixmap(mark);
    state3->setPixmap(mark);
    const auto marked = [&](QLabel* l) { return l->pixmap(Qt::ReturnByValue).cacheKey() == mark.cacheKey(); };
    const unsigned parses = alias_file_parses();

    for (int i = 0; i < 50; ++i) SyncUpdate::pInstance()->para_sync(1);
    EXPECT_EQ((Vals{marked(picture2), marked(state3), alias_file_parses()}), (Vals{1, 1, parses}));
    EXPECT_EQ(name1->text(), "Desk");

    // A signal appears on HDMI1: only its pictures are drawn again.
    model->ZrvSetSignalPara(2, 1920, 1080, 60);
    SyncUpdate::pInstance()->para_sync(1);
    EXPECT_EQ((Vals{marked(picture2), marked(state3)}), (Vals{0, 1}));

    // A new alias file is seen by its time stamp and size...
    writeHostFile(aliasFile, R"({"namelist":{"source":[{"id":1,"valid":"on","name":"Desk two"}]}})");
    SyncUpdate::pInstance()->para_sync(1);
    EXPECT_EQ((Vals{alias_file_parses()}), (Vals{parses + 1}));
    EXPECT_EQ(name1->text(), "Desk two");
    // ... and one stored over the protocol (103) is read again in any case.
    SyncUpdate::pInstance()->para_sync(103);
    EXPECT_EQ((Vals{alias_file_parses()}), (Vals{parses + 2}));
}

TEST_F(ModelTest, ContrastWrittenByAnotherThreadIsShownBeforeItIsPersisted) {
    // The road of a protocol write: the writer edits the live image under
    // the c331 mutex, the change signal comes from a worker thread and the
    // dispatcher runs in the GUI thread. The page compares the new live
    // image with the old shadow, so it must be refreshed before the
    // persisting step copies live to shadow.
    QObject::connect(model.get(), &ZrvRamPara::sig_update_para, SyncUpdate::pInstance(), &SyncUpdate::post,
                     Qt::DirectConnection);
    QDialog page;
    const u16 oldContrast = model->shadow_image.word(RamOffset::CONTRAST);
    std::vector<u16> shown, shadowSeen;
    PageOps ops;
    ops.refresh = [&](int code) {
        EXPECT_EQ(code, 1);
        shown.push_back(model->live_image.word(RamOffset::CONTRAST));
        shadowSeen.push_back(model->shadow_image.word(RamOffset::CONTRAST));
    };
    PageRegistry::enter(PageRegistry::ImageQuality, &page, ops);
    g_page_focus = PageRegistry::ImageQuality;

    std::thread([&] {
        {
            QMutexLocker lock(&c331_manage::get()->mutex);
            model->live_image.setWord(RamOffset::CONTRAST, 33);
        }
        model->test_signal(1);
    }).join();
    EXPECT_TRUE(shown.empty());  // nothing ran in the writer's thread
    QTRY_COMPARE(model->shadow_image.word(RamOffset::CONTRAST), u16(33));
    EXPECT_EQ(shown, std::vector<u16>{33});
    EXPECT_EQ(shadowSeen, std::vector<u16>{oldContrast});
    const std::string file = readHostFile(hostPath("/data/ram_device_info"));
    ASSERT_EQ(file.size(), 4096u);
    EXPECT_EQ(u8(file[2178 - 766]), 33);  // the contrast word, image byte 2178
    QObject::disconnect(model.get(), nullptr, SyncUpdate::pInstance(), nullptr);
}


// The PC writes a word a page shows twice in quick succession, the second
// write landing after the page's refresh and before the persisting step:
// the page ends showing what the device holds, whatever the page.
class LateChangeTest : public ServiceTest {
protected:
    void TearDown() override {
        SyncUpdate::pInstance()->on_refreshed = nullptr;
        delete g_inputchoose.data();
        ServiceTest::TearDown();
    }
    // A PC's write of one word and the c331 thread's signal after it.
    void pcWrite(u32 off, u16 v) {
        {
            QMutexLocker lock(&c331_manage::get()->mutex);
            model->live_image.setWord(off, v);
        }
        model->test_signal(1);
    }
    // A widget's text or value; "frame/name" looks inside that frame.
    static QString text(QWidget* page, const QString& path) {
        const QString name = path.section('/', -1);
        if (path.contains('/')) page = page->findChild<QWidget*>(path.section('/', 0, 0));
        if (!page) return QStringLiteral("?");
        if (auto* l = page->findChild<QLabel*>(name)) return l->text();
        if (auto* b = page->findChild<QPushButton*>(name)) return b->text();
        if (auto* s = page->findChild<QSlider*>(name)) return QString::number(s->value());
        if (auto* c = page->findChild<QComboBox*>(name)) return QString::number(c->currentIndex());
        return QStringLiteral("?");
    }
};

TEST_F(LateChangeTest, AChangeLandingAfterThePageLookedIsShownByTheNextRefresh) {
    using namespace RamOffset;
    using Open = std::function<QWidget*()>;
    auto opener = [](int id, int parent = PageRegistry::Settings) -> Open {
        return [id, parent] {
            g_page_focus = parent;
            PageRegistry::open(id);
            return qobject_cast<QWidget*>(PageRegistry::page(id));
        };
    };
    const Open mainMenu = [] {
        g_page_focus = PageRegistry::MainMenu;
        g_mainwindow->language_changed();
        return g_mainwindow.data();
    };
    const Open home = [] {
        g_lockwindow->lock_show();
        return g_lockwindow.data();
    };
    const Open edidPage = [opener] {
        opener(PageRegistry::SourceSelect, PageRegistry::MainMenu)();
        g_inputchoose->findChild<QPushButton*>("Button_menu")->click();
        g_inputchoose->findChild<QPushButton*>("Button_EDID")->click();
        return g_edidset.data();
    };
    // `shown` names the widget that shows the word; none: g_language.
    struct Row {
        const char* page;
        Open open;
        u32 word;
        u16 before, first, second;
        const char* shown;
        const char* want;  // shown once the device holds `second`
    };
    const Row rows[] = {
        {"main menu", mainMenu, LANGUAGE, 1, 0, 2, "label_title", "Главное меню"},
        {"home", home, LANGUAGE, 1, 0, 2, nullptr, "2"},
        {"device information", opener(PageRegistry::DeviceInfo, 1), LANGUAGE, 1, 0, 2, nullptr, "2"},
        {"settings menu", opener(PageRegistry::Settings, 1), LANGUAGE, 1, 0, 2, nullptr, "2"},
        {"user modes", opener(PageRegistry::UserModes, 1), LANGUAGE, 1, 0, 2, "Button_save", "Сохранить"},
        {"output", opener(PageRegistry::Output), LANGUAGE, 1, 0, 2, nullptr, "2"},
        {"communication", opener(PageRegistry::Communication), LANGUAGE, 1, 0, 2, nullptr, "2"},
        {"test pattern", opener(PageRegistry::TestPattern), LANGUAGE, 1, 0, 2, nullptr, "2"},
        {"image quality", opener(PageRegistry::ImageQuality), CONTRAST, 50, 30, 70, "horizontalSlider_contrast", "70"},
        {"image layout", opener(PageRegistry::ImageLayout), win(0) + WIN_X, 0, 100, 640, "label_x", "640"},
        // Record 0 holds a crop of HDMI1, then one of HDMI2: the crop counts.
        {"source select", opener(PageRegistry::SourceSelect, 1), crop(0) + CROP_ID, 2, 0x8002, 0x8003,
         "label_HDMI2_num", "(2)"},
        {"crop", opener(PageRegistry::Crop), crop(0) + CROP_ID, 2, 0x8002, 0x8003, "HDMI2_num", "(2)"},
        {"EDID", edidPage, edid(2) + 4, 60, 50, 30, "frame_source/label_size", "1920x1080@30Hz"},
        // Windows 1 to 3 on; the sound from window 2, then window 3.
        {"advanced", opener(PageRegistry::Advanced), AUDIO_WINDOW, 0, 1, 2, "ImageVolume", "2"},
    };
    SyncUpdate* sync = SyncUpdate::pInstance();
    for (int w = 1; w < 3; ++w)
        for (PARA_RAM_IMAGE* img : {&model->live_image, &model->shadow_image}) img->setWord(win(u32(w)) + WIN_ENABLE, 1);
    for (const Row& r : rows) {
        SCOPED_TRACE(r.page);
        // The device holds `before`, stored, and the page shows it.
        for (PARA_RAM_IMAGE* img : {&model->live_image, &model->shadow_image}) img->setWord(r.word, r.before);
        g_language = model->live_image.byte(LANGUAGE);
        model->ZrvCropSourceInit();
        QPointer<QWidget> page = r.open();
        ASSERT_TRUE(page);
        bool second = false;
        sync->on_refreshed = [&](int) {
            if (!second) pcWrite(r.word, r.second);
            second = true;
        };
        pcWrite(r.word, r.first);
        QTRY_VERIFY_WITH_TIMEOUT(second && sync->pendingCodes().empty(), 5000);
        sync->on_refreshed = nullptr;
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        ASSERT_TRUE(page);
        const QString shown = r.shown ? text(page, QString::fromUtf8(r.shown)) : QString::number(g_language.load());
        EXPECT_EQ(shown.toStdString(), r.want);
        if (page == g_lockwindow.data()) g_lockwindow->unlock();
        if (page != g_mainwindow.data() && page != g_lockwindow.data()) delete page.data();
    }
}

// The same on the main menu with the PC's second write at varied delays
// from its first, the GUI thread serving each signal as it comes, a few
// hundred times: the menu ends in the language the device holds.
TEST_F(LateChangeTest, TheMenuEndsInTheLanguageTheDeviceHoldsWhateverTheDelay) {
    model->writeImageFileInBackground();  // as the program does: no refresh waits for the disk
    SyncUpdate* sync = SyncUpdate::pInstance();
    std::mt19937 random(59);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int runs = 0, wrong = 0;
    for (; runs < 300 && std::chrono::steady_clock::now() < until; ++runs) {
        for (PARA_RAM_IMAGE* img : {&model->live_image, &model->shadow_image}) img->setWord(RamOffset::LANGUAGE, 1);
        g_language = 1;
        g_mainwindow->language_changed();
        const auto delay = std::chrono::microseconds(random() % 3000);
        std::atomic<bool> done{false};
        std::thread pc([&] {
            pcWrite(RamOffset::LANGUAGE, 0);
            std::this_thread::sleep_for(delay);
            pcWrite(RamOffset::LANGUAGE, 2);
            done = true;
        });
        while (!(done && sync->pendingCodes().empty()) && std::chrono::steady_clock::now() < until + std::chrono::seconds(5)) {
            QApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        pc.join();
        ASSERT_TRUE(sync->pendingCodes().empty());
        if (text(g_mainwindow, "label_title") != QString::fromUtf8("Главное меню")) ++wrong;
    }
    EXPECT_TRUE(model->drainImageFile());
    EXPECT_EQ(wrong, 0) << "of " << runs;
}

}  // namespace
