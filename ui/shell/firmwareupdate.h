#pragma once
// The full-screen updating screen shown while an upgrade writes flashes and
// files: it covers every page and takes every touch, so nobody changes a
// setting or switches the device off by accident half way through.
#include <QWidget>

class QLabel;

class FirmwareUpdate : public QWidget {
    Q_OBJECT
public:
    static constexpr int kFrames = 12;      // positions of the turning marker
    static constexpr unsigned kFrameTicks = 10;

    explicit FirmwareUpdate(QWidget* parent = nullptr);

    // One step of the animation; run by the tick.
    void animate();
    int frame() const { return m_frame; }
    void language_changed();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* m_title;
    QLabel* m_hint;
    int m_frame = 0;
    unsigned m_ticks = 0;
};
