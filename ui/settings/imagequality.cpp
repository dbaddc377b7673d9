#include "ui/settings/imagequality.h"

#include "core/global.h"
#include "core/zrvrampara.h"
#include "ui/settings/settings_pages.h"
#include "ui/settings/ui_imagequality.h"
#include "ui/shell/page_frame.h"
#include "ui/shell/page_registry.h"
#include "ui/shell/page_view.h"
#include "ui/shell/shell_text.h"

#include <QSignalBlocker>

QPointer<ImageQuality> g_imagequality;

using namespace ImageQualityWords;

namespace ImageQualityWords {

unsigned wordOf(int control) {
    static const unsigned words[ControlCount] = {RamOffset::BRIGHTNESS, RamOffset::SHARPNESS,  RamOffset::CONTRAST,
                                                 RamOffset::SATURATION, RamOffset::RED_GAIN,   RamOffset::GREEN_GAIN,
                                                 RamOffset::BLUE_GAIN};
    return words[control];
}

int sliderFromWord(int control, int word) {
    if (control != Sharpness) return word;
    return word > 10 ? word - 10 : 0;
}

int wordFromSlider(int control, int value) { return control == Sharpness ? value + 10 : value; }

}  // namespace ImageQualityWords

namespace {

ZrvRamPara& model() { return *ZrvRamPara::p_zrvrampara_config; }

bool isGain(int control) { return control >= Red; }

// The word as the page reads it: the gains keep their level in the low byte.
int storedWord(const PARA_RAM_IMAGE& img, int control) {
    const u32 off = wordOf(control);
    return isGain(control) ? img.byte(off) : img.word(off);
}

const char* const kMenuNormal = "color: rgb(255, 255, 255);";
const char* const kMenuSelected = "background-color: rgb(71, 119, 255);color: rgb(255, 255, 255);";

}  // namespace

ImageQuality::ImageQuality(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), ui(std::make_unique<Ui_ImageQuality>()) {
    ui->setupUi(this);
    setFixedSize(800, 480);
    m_sliders = {ui->horizontalSlider_bright, ui->horizontalSlider_sharpness, ui->horizontalSlider_contrast,
                 ui->horizontalSlider_saturation, ui->horizontalSlider_red, ui->horizontalSlider_green,
                 ui->horizontalSlider_blue};
    m_values = {ui->label_bright, ui->label_sharpness, ui->label_contrast, ui->label_saturation,
                ui->label_red,    ui->label_green,     ui->label_blue};
    ui->Button_back->setFlat(true);
    ui->Button_back->setStyleSheet(QStringLiteral("border:none;"));
    ui->Button_back->setIcon(QIcon(ShellText::picture(QStringLiteral("back.png"))));
    ui->Button_back->setIconSize(QSize(32, 32));
    for (QPushButton* b : findChildren<QPushButton*>()) b->setFocusPolicy(Qt::NoFocus);
    on_Button_quality_clicked();
    para_init();
    language_changed();
    SettingsPages::enterPage(this, PageRegistry::ImageQuality, [this](int code) { syncUpdate(code); },
                             [this] { on_Button_back_clicked(); });
}

ImageQuality::~ImageQuality() { PageRegistry::leave(PageRegistry::ImageQuality, this); }

void ImageQuality::language_changed() {
    using ShellText::pick;
    if (ShellText::language() == 0) {
        ui->retranslateUi(this);
        for (int c = 0; c < ControlCount; ++c) m_values[c]->setText(QString::number(m_sliders[c]->value()));
        return;
    }
    SettingsPages::fitText(ui->label_title, pick("图像效果", "Image quality", "Качество", "Chất lượng hình", "圖像效果"));
    SettingsPages::fitText(ui->Button_quality, pick("画质", "Picture", "Изображение", "Hình ảnh", "畫質"));
    SettingsPages::fitText(ui->Button_temperature, pick("色温", "Color temp", "Цвет. темп.", "Nhiệt độ màu", "色溫"));
    SettingsPages::fitText(ui->label_name_bright, pick("亮度", "Brightness", "Яркость", "Độ sáng", "亮度"));
    SettingsPages::fitText(ui->label_name_sharp, pick("锐度", "Sharpness", "Резкость", "Độ nét", "銳度"));
    SettingsPages::fitText(ui->label_name_contrast, pick("对比度", "Contrast", "Контраст", "Tương phản", "對比度"));
    SettingsPages::fitText(ui->label_name_saturation, pick("饱和度", "Saturation", "Насыщенность", "Độ bão hòa", "飽和度"));
    SettingsPages::fitText(ui->Button_reset, pick("恢复默认", "Default", "Сброс", "Mặc định", "恢復默認"));
    SettingsPages::fitText(ui->label_type, pick("色温类型", "Color temp", "Цвет. темп.", "Loại nhiệt độ màu", "色溫類型"));
    SettingsPages::fitText(ui->label_name_red, pick("红色", "Red", "Красный", "Đỏ", "紅色"));
    SettingsPages::fitText(ui->label_name_green, pick("绿色", "Green", "Зелёный", "Xanh lá", "綠色"));
    SettingsPages::fitText(ui->label_name_blue, pick("蓝色", "Blue", "Синий", "Xanh dương", "藍色"));
    ui->comboBox->setItemText(0, pick("自定义", "Custom", "Пользов.", "Tùy chỉnh", "自定義"));
    ui->comboBox->setItemText(1, pick("偏暖", "Warm", "Тёплый", "Ấm", "偏暖"));
    ui->comboBox->setItemText(2, pick("自然", "Natural", "Естественный", "Tự nhiên", "自然"));
    ui->comboBox->setItemText(3, pick("偏冷", "Cool", "Холодный", "Lạnh", "偏冷"));
}

void ImageQuality::para_init() {
    const ImageView view = PageView::get();
    for (int c = 0; c < ControlCount; ++c) load(view.live, c);
    loadPreset(view.live);
}

void ImageQuality::load(const PARA_RAM_IMAGE& live, int control) {
    QSlider* s = m_sliders[size_t(control)];
    {
        const QSignalBlocker quiet(s);
        s->setValue(sliderFromWord(control, storedWord(live, control)));
    }
    m_values[size_t(control)]->setText(QString::number(s->value()));
}

void ImageQuality::loadPreset(const PARA_RAM_IMAGE& live) {
    const QSignalBlocker quiet(ui->comboBox);
    const int preset = live.word(RamOffset::COLOR_TEMP);
    ui->comboBox->setCurrentIndex(preset >= 0 && preset < ui->comboBox->count() ? preset : 0);
}

void ImageQuality::valueChanged(int control, int value) {
    m_values[size_t(control)]->setText(QString::number(value));
    // A drag writes on release; a tap on the groove moves the value at once.
    if (!m_sliders[size_t(control)]->isSliderDown()) write(control);
}

void ImageQuality::released(int control) { write(control); }

void ImageQuality::step(int control, int delta) {
    QSlider* s = m_sliders[size_t(control)];
    const int v = qBound(s->minimum(), s->value() + delta, s->maximum());
    if (v == s->value()) return;
    {
        const QSignalBlocker quiet(s);
        s->setValue(v);
    }
    m_values[size_t(control)]->setText(QString::number(v));
    write(control);
}

void ImageQuality::write(int control) {
    const int word = wordFromSlider(control, m_sliders[size_t(control)]->value());
    bool toCustom = false;
    editImage([&](PARA_RAM_IMAGE& img, const PARA_RAM_IMAGE&) {
        if (isGain(control)) {
            img.setByte(wordOf(control), u8(word));
            // The chip applies the gains only with the custom preset.
            if (img.word(RamOffset::COLOR_TEMP) != 0) {
                img.setWord(RamOffset::COLOR_TEMP, 0);
                toCustom = true;
            }
        } else {
            img.setWord(wordOf(control), u16(word));
            if (control == Bright) model().countBrightnessWrite();
        }
        return true;
    });
    if (toCustom) loadPreset(PageView::get().live);
}

void ImageQuality::on_comboBox_currentIndexChanged(int index) {
    if (index < 0) return;
    editImage([&](PARA_RAM_IMAGE& live, const PARA_RAM_IMAGE&) {
        live.setWord(RamOffset::COLOR_TEMP, u16(index));
        return true;
    });
}

void ImageQuality::on_Button_reset_clicked() {
    editImage([](PARA_RAM_IMAGE& live, const PARA_RAM_IMAGE&) {
        for (u32 off = RamOffset::BRIGHTNESS; off < RamOffset::BLUE_GAIN + 2; ++off)
            live.setByte(off, default_para_ramlist[RamFile::DATA_OFFSET + off - RamOffset::PERSIST_BEGIN]);
        model().countBrightnessWrite();
        return true;
    });
    para_init();
}

void ImageQuality::syncUpdate(int) {
    if (model().ZrvLanguageChanged()) language_changed();
    const ImageView view = PageView::get();
    for (int c = 0; c < ControlCount; ++c) {
        if (m_sliders[size_t(c)]->isSliderDown()) continue;  // the operator holds it
        if (storedWord(view.live, c) != storedWord(view.shadow, c)) load(view.live, c);
    }
    if (view.differs(RamOffset::COLOR_TEMP, 2)) loadPreset(view.live);
}

void ImageQuality::selectMenu(QPushButton* button) {
    for (QPushButton* b : {ui->Button_quality, ui->Button_temperature}) {
        // The base style the text is shrunk from.
        b->setProperty("fitBaseStyle", QString::fromLatin1(b == button ? kMenuSelected : kMenuNormal));
        SettingsPages::fitText(b, b->text());
    }
}

void ImageQuality::on_Button_quality_clicked() {
    ui->stackedWidget->setCurrentWidget(ui->page);
    selectMenu(ui->Button_quality);
}

void ImageQuality::on_Button_temperature_clicked() {
    ui->stackedWidget->setCurrentWidget(ui->page_2);
    selectMenu(ui->Button_temperature);
}

void ImageQuality::on_Button_back_clicked() {
    PageRegistry::leave(PageRegistry::ImageQuality, this);
    setAttribute(Qt::WA_DeleteOnClose);
    close();
    if (g_imagequality == this) g_imagequality = nullptr;
    SettingsPages::returnToSettingsMenu();
}
