// The shell together with the parameter model: refresh before persisting,
// language from the image, signal summaries and names on the home page.
#include "shell_fixture.h"

#include "core/JsonParse.h"

#include <QFrame>
#include <QLabel>
#include <QMutexLocker>
#include <QPixmap>
#include <QTest>

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


}  // namespace
