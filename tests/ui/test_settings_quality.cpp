// The image quality page: loading without writing, the sharpness levels,
// writes on release, taps and steps through the change protocol, the gains
// forcing the custom preset, reset and the refresh.
#include "settings_fixture.h"

#include "ui/settings/imagequality.h"

#include <QComboBox>
#include <QSlider>
#include <QStackedWidget>
#include <QTest>

namespace {

using namespace RamOffset;

class QualityPageTest : public SettingsTest {
protected:
    void TearDown() override {
        delete g_imagequality.data();
        SettingsTest::TearDown();
    }
    void putWord(u32 off, u16 v) {
        model->live_image.setWord(off, v);
        model->shadow_image.setWord(off, v);
    }
    ImageQuality* openQuality() {
        PageRegistry::open(PageRegistry::ImageQuality);
        return g_imagequality.data();
    }
    QSlider* slider(QWidget* page, const char* name) {
        return child<QSlider>(page, QByteArray("horizontalSlider_").append(name).constData());
    }
    QString value(QWidget* page, const char* name) {
        return child<QLabel>(page, QByteArray("label_").append(name).constData())->text();
    }
    u16 word(u32 off) const { return model->live_image.word(off); }
    u8 flag() const { return c331_manage::get()->apply_flag.load(); }
    void clearFlag() { c331_manage::get()->apply_flag = 0; }
};

TEST_F(QualityPageTest, OpensOnThePictureRowsLoadedWithoutWriting) {
    putWord(BRIGHTNESS, 70);
    putWord(CONTRAST, 45);
    putWord(SHARPNESS, 15);
    putWord(SATURATION, 33);
    putWord(COLOR_TEMP, 2);
    putWord(RED_GAIN, 0x0180);  // the level is the low byte
    putWord(GREEN_GAIN, 64);
    putWord(BLUE_GAIN, 100);
    ImageQuality* page = openQuality();
    ASSERT_TRUE(page);
    EXPECT_EQ(g_page_focus.load(), PageRegistry::ImageQuality);
    EXPECT_EQ(child<QStackedWidget>(page, "stackedWidget")->currentWidget()->objectName(), "page");
    EXPECT_EQ((Vals{slider(page, "bright")->value(), slider(page, "contrast")->value(),
                    slider(page, "sharpness")->value(), slider(page, "saturation")->value(),
                    slider(page, "red")->value(), slider(page, "green")->value(), slider(page, "blue")->value(),
                    child<QComboBox>(page, "comboBox")->currentIndex()}),
              (Vals{70, 45, 5, 33, 128, 64, 100, 2}));
    // Their ranges end where the chip's words end.
    Vals max;
    for (const char* s : {"bright", "contrast", "sharpness", "saturation", "red", "green", "blue"})
        max.push_back(slider(page, s)->maximum());
    EXPECT_EQ(max, (Vals{100, 100, 10, 100, 128, 128, 128}));
    EXPECT_EQ(value(page, "sharpness"), "5");
    EXPECT_EQ(value(page, "red"), "128");
    EXPECT_EQ(flag(), 0);
    EXPECT_EQ(std::memcmp(&model->live_image.data[0], &model->shadow_image.data[0], IMAGE_SIZE), 0);
    child<QPushButton>(page, "Button_temperature")->click();
    EXPECT_EQ(child<QStackedWidget>(page, "stackedWidget")->currentWidget()->objectName(), "page_2");
}

TEST_F(QualityPageTest, SharpnessLevelsMapToTheChipsWords) {
    using namespace ImageQualityWords;
    for (auto [w, level] : {std::pair{0, 0}, {10, 0}, {11, 1}, {20, 10}}) {
        EXPECT_EQ(sliderFromWord(Sharpness, w), level) << w;
        if (level > 0) {
            EXPECT_EQ(wordFromSlider(Sharpness, level), w) << level;
        }
    }
    EXPECT_EQ(wordFromSlider(Sharpness, 0), 10);
    EXPECT_EQ((Vals{sliderFromWord(Contrast, 7), wordFromSlider(Bright, 7)}), (Vals{7, 7}));

    ImageQuality* page = openQuality();
    child<QPushButton>(page, "Button_sharpness_add")->click();
    EXPECT_EQ(word(SHARPNESS), u16(wordFromSlider(Sharpness, slider(page, "sharpness")->value())));
    EXPECT_GE(word(SHARPNESS), 11);
}

TEST_F(QualityPageTest, DraggingShowsReleaseAndStepsWriteWithTheFlag) {
    putWord(CONTRAST, 50);
    ImageQuality* page = openQuality();
    QSlider* s = slider(page, "contrast");
    s->setSliderDown(true);
    s->setValue(60);
    EXPECT_EQ(value(page, "contrast"), "60");
    EXPECT_EQ((Vals{word(CONTRAST), flag()}), (Vals{50, 0}));
    s->setSliderDown(false);  // the release
    EXPECT_EQ((Vals{word(CONTRAST), flag()}), (Vals{60, 1}));

    clearFlag();
    slider(page, "bright")->setValue(30);  // a tap on the groove
    EXPECT_EQ((Vals{word(BRIGHTNESS), flag()}), (Vals{30, 1}));

    clearFlag();
    child<QPushButton>(page, "Button_contrast_reduce")->click();
    EXPECT_EQ((Vals{word(CONTRAST), flag(), s->value()}), (Vals{59, 1, 59}));
    EXPECT_EQ(value(page, "contrast"), "59");

    // At the end of its range a step writes nothing.
    slider(page, "saturation")->setValue(100);
    clearFlag();
    child<QPushButton>(page, "Button_saturation_add")->click();
    EXPECT_EQ((Vals{word(SATURATION), flag()}), (Vals{100, 0}));
}

TEST_F(QualityPageTest, GainsSwitchToCustomAndTheComboWritesThePreset) {
    putWord(COLOR_TEMP, 1);
    putWord(GREEN_GAIN, 0x0140);
    ImageQuality* page = openQuality();
    QComboBox* combo = child<QComboBox>(page, "comboBox");
    child<QPushButton>(page, "Button_green_add")->click();
    EXPECT_EQ((Vals{word(GREEN_GAIN), word(COLOR_TEMP), combo->currentIndex(), flag()}),
              (Vals{0x0141, 0, 0, 1}));
    clearFlag();
    combo->setCurrentIndex(3);
    EXPECT_EQ((Vals{word(COLOR_TEMP), flag()}), (Vals{3, 1}));
}

TEST_F(QualityPageTest, ResetWritesTheDefaultsInOneEdit) {
    ZrvRamPara defaults;
    defaults.load();
    ImageQuality* page = openQuality();
    for (const char* s : {"bright", "contrast", "saturation", "red", "green", "blue"}) slider(page, s)->setValue(3);
    child<QComboBox>(page, "comboBox")->setCurrentIndex(2);
    clearFlag();
    child<QPushButton>(page, "Button_reset")->click();
    EXPECT_EQ(std::memcmp(&model->live_image.data[BRIGHTNESS], &defaults.live_image.data[BRIGHTNESS], 16), 0);
    EXPECT_EQ(flag(), 1);
    EXPECT_EQ(slider(page, "contrast")->value(), defaults.live_image.word(CONTRAST));
}

TEST_F(QualityPageTest, RefreshReloadsChangesButLeavesAHeldSlider) {
    ImageQuality* page = openQuality();
    slider(page, "bright")->setSliderDown(true);
    model->live_image.setWord(BRIGHTNESS, 11);
    model->live_image.setWord(SATURATION, 22);
    model->live_image.setWord(COLOR_TEMP, 3);
    model->live_image.setWord(LANGUAGE, 2);
    g_language = 2;
    PageRegistry::refresh(PageRegistry::ImageQuality, 1);
    EXPECT_NE(slider(page, "bright")->value(), 11);
    EXPECT_EQ(slider(page, "saturation")->value(), 22);
    EXPECT_EQ(child<QComboBox>(page, "comboBox")->currentIndex(), 3);
    EXPECT_EQ(child<QLabel>(page, "label_name_contrast")->text(), "Контраст");
    slider(page, "bright")->setSliderDown(false);
}

}  // namespace
