#pragma once
// The image quality page (page 11): brightness, sharpness, contrast,
// saturation, the colour-temperature preset and the red, green and blue
// gains. Every change goes into the live image under the c331 manager's
// mutex with the apply flag; the refresh reloads what others changed.
#include <QDialog>
#include <QPointer>

#include <array>
#include <memory>

class QLabel;
class QPushButton;
class QSlider;
class Ui_ImageQuality;
struct PARA_RAM_IMAGE;

namespace ImageQualityWords {

// The seven adjustments in the order of the page's rows.
enum Control { Bright, Sharpness, Contrast, Saturation, Red, Green, Blue, ControlCount };

// The image word behind a control.
unsigned wordOf(int control);
// The chip treats sharpness words 0 to 10 as off and 11 to 20 as levels 1 to
// 10; the slider shows the level.
int sliderFromWord(int control, int word);
int wordFromSlider(int control, int value);

}  // namespace ImageQualityWords

class ImageQuality : public QDialog {
    Q_OBJECT
public:
    explicit ImageQuality(QWidget* parent = nullptr);
    ~ImageQuality() override;

    void syncUpdate(int code);
    void language_changed();
    // Every control from the live image, writing nothing.
    void para_init();

    Ui_ImageQuality* form() const { return ui.get(); }

public slots:
    void on_Button_back_clicked();
    void on_Button_quality_clicked();
    void on_Button_temperature_clicked();
    void on_Button_reset_clicked();
    void on_comboBox_currentIndexChanged(int index);

    void on_horizontalSlider_bright_valueChanged(int v) { valueChanged(ImageQualityWords::Bright, v); }
    void on_horizontalSlider_bright_sliderReleased() { released(ImageQualityWords::Bright); }
    void on_Button_bright_add_clicked() { step(ImageQualityWords::Bright, 1); }
    void on_Button_bright_reduce_clicked() { step(ImageQualityWords::Bright, -1); }
    void on_horizontalSlider_sharpness_valueChanged(int v) { valueChanged(ImageQualityWords::Sharpness, v); }
    void on_horizontalSlider_sharpness_sliderReleased() { released(ImageQualityWords::Sharpness); }
    void on_Button_sharpness_add_clicked() { step(ImageQualityWords::Sharpness, 1); }
    void on_Button_sharpness_reduce_clicked() { step(ImageQualityWords::Sharpness, -1); }
    void on_horizontalSlider_contrast_valueChanged(int v) { valueChanged(ImageQualityWords::Contrast, v); }
    void on_horizontalSlider_contrast_sliderReleased() { released(ImageQualityWords::Contrast); }
    void on_Button_contrast_add_clicked() { step(ImageQualityWords::Contrast, 1); }
    void on_Button_contrast_reduce_clicked() { step(ImageQualityWords::Contrast, -1); }
    void on_horizontalSlider_saturation_valueChanged(int v) { valueChanged(ImageQualityWords::Saturation, v); }
    void on_horizontalSlider_saturation_sliderReleased() { released(ImageQualityWords::Saturation); }
    void on_Button_saturation_add_clicked() { step(ImageQualityWords::Saturation, 1); }
    void on_Button_saturation_reduce_clicked() { step(ImageQualityWords::Saturation, -1); }
    void on_horizontalSlider_red_valueChanged(int v) { valueChanged(ImageQualityWords::Red, v); }
    void on_horizontalSlider_red_sliderReleased() { released(ImageQualityWords::Red); }
    void on_Button_red_add_clicked() { step(ImageQualityWords::Red, 1); }
    void on_Button_red_reduce_clicked() { step(ImageQualityWords::Red, -1); }
    void on_horizontalSlider_green_valueChanged(int v) { valueChanged(ImageQualityWords::Green, v); }
    void on_horizontalSlider_green_sliderReleased() { released(ImageQualityWords::Green); }
    void on_Button_green_add_clicked() { step(ImageQualityWords::Green, 1); }
    void on_Button_green_reduce_clicked() { step(ImageQualityWords::Green, -1); }
    void on_horizontalSlider_blue_valueChanged(int v) { valueChanged(ImageQualityWords::Blue, v); }
    void on_horizontalSlider_blue_sliderReleased() { released(ImageQualityWords::Blue); }
    void on_Button_blue_add_clicked() { step(ImageQualityWords::Blue, 1); }
    void on_Button_blue_reduce_clicked() { step(ImageQualityWords::Blue, -1); }

private:
    void valueChanged(int control, int value);
    void released(int control);
    void step(int control, int delta);
    void write(int control);
    // From the live image of a view the caller took (PageView).
    void load(const PARA_RAM_IMAGE& live, int control);
    void loadPreset(const PARA_RAM_IMAGE& live);
    void selectMenu(QPushButton* button);

    std::unique_ptr<Ui_ImageQuality> ui;
    std::array<QSlider*, ImageQualityWords::ControlCount> m_sliders{};
    std::array<QLabel*, ImageQualityWords::ControlCount> m_values{};
};

extern QPointer<ImageQuality> g_imagequality;
