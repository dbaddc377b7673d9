#pragma once
// The video settings pages on the shell fixture: crops and window sources
// written straight into the image (live and shadow alike, as if persisted),
// and the pages' widgets found by object name.
#include "shell_fixture.h"

#include "ui/settings/edidset.h"
#include "ui/settings/inputchoose.h"
#include "ui/settings/inputcut.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

// "saved", "current" or both, as the user-mode page draws the button of
// mode m.
inline QString modeMarks(QWidget* page, int m) {
    auto* b = page->findChild<QPushButton*>(QStringLiteral("Button_mode%1").arg(m));
    EXPECT_TRUE(b) << m;
    if (!b) return QStringLiteral("?");
    const QString style = b->styleSheet();
    QStringList out;
    if (style.contains("color:#FFFFFF")) out << "saved";
    if (style.contains("background-color: #4777FF")) out << "current";
    return out.join(' ');
}

class SettingsTest : public ShellTest {
protected:
    void TearDown() override {
        delete g_edidset.data();
        delete g_inputcut.data();
        delete g_inputchoose.data();
        ShellTest::TearDown();
    }

    // Record r holds crop number of input, in both images.
    void putCrop(int r, int input, int number, int x = 0, int y = 0, int w = 960, int h = 540) {
        for (PARA_RAM_IMAGE* img : {&model->live_image, &model->shadow_image}) {
            const u32 b = RamOffset::crop(u32(r));
            img->setWord(b + RamOffset::CROP_ID, u16(0x8000 | ((number - 1) << 8) | input));
            img->setWord(b + RamOffset::CROP_X, u16(x));
            img->setWord(b + RamOffset::CROP_Y, u16(y));
            img->setWord(b + RamOffset::CROP_W, u16(w));
            img->setWord(b + RamOffset::CROP_H, u16(h));
        }
        model->ZrvCropSourceInit();
    }
    void putWindow(int w, int enable, int source) {
        for (PARA_RAM_IMAGE* img : {&model->live_image, &model->shadow_image}) {
            img->setWord(RamOffset::win(u32(w)) + RamOffset::WIN_ENABLE, u16(enable));
            img->setWord(RamOffset::win(u32(w)) + RamOffset::WIN_SOURCE, u16(source));
        }
    }
    u16 source(int w) const { return model->live_image.word(RamOffset::win(u32(w)) + RamOffset::WIN_SOURCE); }
    // The shadow takes the live image, as the persisting step does.
    void persisted() { model->shadow_image = model->live_image; }

    InputChoose* openSource() {
        PageRegistry::open(PageRegistry::SourceSelect);
        return g_inputchoose.data();
    }
    // The source grid's entry buttons by position, the names and sizes shown.
    QFrame* grid(QWidget* page) { return child<QFrame>(page, "frame"); }
    QPushButton* entry(QWidget* page, int u) {
        return grid(page)->findChild<QPushButton*>(QString::number(u));
    }
    QStringList texts(QWidget* frame, const char* name) {
        QStringList out;
        for (QLabel* l : frame->findChildren<QLabel*>(QString::fromLatin1(name))) out << l->text();
        return out;
    }
};
