// Draws the front panel's pictures and writes their resource list.
//
//   zrv_draw_pictures <resources folder>
//
// writes <folder>/png/*.png (and the two .bmp marks) and <folder>/panel.qrc.
// The pictures are plain line art in the panel's colours so that they stay
// legible on the 800x480 screen; the ones that carry words exist once per
// language with the prefixes "", "en_", "ru_", "vn_", "tn_".
#include "tools/route_order.h"

#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QTextStream>
#include <QtMath>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

namespace {

const QColor kBlue(0x47, 0x77, 0xFF);
const QColor kGreen(0x00, 0xD6, 0x5B);
const QColor kRed(0xFF, 0x40, 0x40);
const QColor kGrey(0x60, 0x64, 0x7A);
const QColor kPanel(33, 36, 53);
const QColor kBackground(16, 16, 28);

QString g_out;
QStringList g_files;

void save(const QImage& img, const QString& name) {
    const QString path = g_out + "/png/" + name;
    const char* format = name.endsWith(".bmp") ? "BMP" : "PNG";
    if (!img.save(path, format)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::exit(1);
    }
    g_files << name;
}

// A transparent canvas with antialiasing on.
struct Canvas {
    QImage img;
    QPainter p;
    Canvas(int w, int h, QColor fill = Qt::transparent) : img(w, h, QImage::Format_ARGB32_Premultiplied) {
        img.fill(fill);
        p.begin(&img);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::TextAntialiasing);
    }
    QImage done() {
        p.end();
        return img;
    }
};

QPen pen(QColor c, qreal w) { return QPen(c, w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin); }

QFont font(int px, bool bold = false) {
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(px);
    f.setBold(bold);
    return f;
}

// Largest font up to px whose text fits into width.
QFont fitFont(const QString& text, int px, int width, bool bold = false) {
    QFont f = font(px, bold);
    while (px > 8 && QFontMetrics(f).horizontalAdvance(text) > width) f = font(--px, bold);
    return f;
}

// --- Controls -------------------------------------------------------------

void drawBack() {
    Canvas c(64, 64);
    c.p.setPen(pen(Qt::white, 7));
    c.p.drawPolyline(QPolygonF({QPointF(40, 12), QPointF(20, 32), QPointF(40, 52)}));
    save(c.done(), "back.png");
}

void drawRadio(bool checked) {
    Canvas c(64, 64);
    c.p.setPen(pen(checked ? kBlue : Qt::white, 5));
    c.p.setBrush(Qt::NoBrush);
    c.p.drawEllipse(QPointF(32, 32), 25, 25);
    if (checked) {
        c.p.setPen(Qt::NoPen);
        c.p.setBrush(kBlue);
        c.p.drawEllipse(QPointF(32, 32), 14, 14);
    }
    save(c.done(), checked ? "checked.png" : "unchecked.png");
}

void drawSwitch(bool on) {
    Canvas c(140, 64);
    c.p.setPen(Qt::NoPen);
    c.p.setBrush(on ? kBlue : kGrey);
    c.p.drawRoundedRect(QRectF(4, 6, 132, 52), 26, 26);
    c.p.setBrush(Qt::white);
    c.p.drawEllipse(QPointF(on ? 108 : 32, 32), 21, 21);
    save(c.done(), on ? "button_on.png" : "button_off.png");
}

void drawNav(const QString& name) {
    Canvas c(100, 100);
    c.p.setPen(pen(Qt::white, 4));
    c.p.setBrush(kPanel);
    c.p.drawEllipse(QPointF(50, 50), 46, 46);
    c.p.setPen(pen(Qt::white, 7));
    if (name == "menu.png") {
        for (int i = 0; i < 3; ++i) c.p.drawLine(QPointF(28, 34 + 16 * i), QPointF(72, 34 + 16 * i));
    } else if (name == "previous.png") {
        c.p.drawPolyline(QPolygonF({QPointF(28, 60), QPointF(50, 36), QPointF(72, 60)}));
    } else if (name == "next.png") {
        c.p.drawPolyline(QPolygonF({QPointF(28, 40), QPointF(50, 64), QPointF(72, 40)}));
    } else {  // add
        c.p.drawLine(QPointF(50, 26), QPointF(50, 74));
        c.p.drawLine(QPointF(26, 50), QPointF(74, 50));
    }
    save(c.done(), name);
}

void drawWarning() {
    Canvas c(48, 48);
    QPainterPath tri;
    tri.moveTo(24, 3);
    tri.lineTo(46, 44);
    tri.lineTo(2, 44);
    tri.closeSubpath();
    c.p.setPen(pen(QColor(0xFF, 0xC8, 0x00), 3));
    c.p.setBrush(QColor(0xFF, 0xC8, 0x00));
    c.p.drawPath(tri);
    c.p.setPen(pen(kBackground, 5));
    c.p.drawLine(QPointF(24, 16), QPointF(24, 31));
    c.p.drawPoint(QPointF(24, 38));
    save(c.done(), "warning.png");
}

void drawState(bool on) {
    Canvas c(28, 28);
    c.p.setPen(Qt::NoPen);
    c.p.setBrush(on ? kGreen : kGrey);
    c.p.drawEllipse(QPointF(14, 14), 12, 12);
    save(c.done(), on ? "state_on.png" : "state_off.png");
}

void drawOsdMark(bool yes) {
    Canvas c(48, 48, kBackground);
    c.p.setPen(pen(yes ? kGreen : kRed, 6));
    if (yes) {
        c.p.drawPolyline(QPolygonF({QPointF(10, 25), QPointF(20, 36), QPointF(39, 13)}));
    } else {
        c.p.drawLine(QPointF(12, 12), QPointF(36, 36));
        c.p.drawLine(QPointF(36, 12), QPointF(12, 36));
    }
    QImage img = c.done().convertToFormat(QImage::Format_RGB32);
    save(img, yes ? "osd_yes.bmp" : "osd_no.bmp");
}

// --- Connectors and ports --------------------------------------------------

void drawConnector(const QString& name, bool dvi, const QString& badge, bool lit) {
    Canvas c(200, 64);
    const QColor col = lit ? kGreen : Qt::white;
    QPainterPath shape;
    if (dvi) {
        shape.moveTo(8, 8);
        shape.lineTo(96, 8);
        shape.lineTo(96, 44);
        shape.lineTo(86, 56);
        shape.lineTo(18, 56);
        shape.lineTo(8, 44);
        shape.closeSubpath();
    } else {
        shape.moveTo(8, 10);
        shape.lineTo(96, 10);
        shape.lineTo(96, 36);
        shape.lineTo(84, 54);
        shape.lineTo(20, 54);
        shape.lineTo(8, 36);
        shape.closeSubpath();
    }
    c.p.setPen(pen(col, 4));
    c.p.setBrush(lit ? QColor(0, 0xD6, 0x5B, 60) : QColor(255, 255, 255, 30));
    c.p.drawPath(shape);
    c.p.setPen(Qt::NoPen);
    c.p.setBrush(col);
    if (dvi) {
        for (int r = 0; r < 3; ++r)
            for (int k = 0; k < 8; ++k) c.p.drawEllipse(QPointF(22 + 8 * k, 20 + 11 * r), 2.4, 2.4);
    } else {
        c.p.drawRoundedRect(QRectF(20, 24, 64, 10), 3, 3);
    }
    c.p.setPen(col);
    c.p.setFont(font(badge.size() > 4 ? 22 : 28, true));
    c.p.drawText(QRectF(102, 0, 98, 64), Qt::AlignCenter, badge);
    save(c.done(), name);
}

void drawPort(bool online) {
    Canvas c(64, 56);
    const QColor col = online ? kGreen : kGrey;
    QPainterPath port;
    port.moveTo(6, 6);
    port.lineTo(58, 6);
    port.lineTo(58, 38);
    port.lineTo(46, 38);
    port.lineTo(46, 50);
    port.lineTo(18, 50);
    port.lineTo(18, 38);
    port.lineTo(6, 38);
    port.closeSubpath();
    c.p.setPen(pen(col, 4));
    c.p.setBrush(online ? QColor(0, 0xD6, 0x5B, 70) : QColor(255, 255, 255, 20));
    c.p.drawPath(port);
    c.p.setPen(pen(col, 3));
    for (int k = 0; k < 6; ++k) c.p.drawLine(QPointF(15 + 7 * k, 12), QPointF(15 + 7 * k, 20));
    save(c.done(), online ? "online.png" : "offline.png");
}

// --- Output splicing -------------------------------------------------------

void drawOut(const QString& name, int w, int h, int mode) {
    Canvas c(w, h);
    c.p.setFont(font(h >= 80 ? 26 : 22, true));
    auto box = [&](QRectF r, const QString& label) {
        c.p.setPen(pen(Qt::white, 3));
        c.p.setBrush(QColor(0x47, 0x77, 0xFF, 90));
        c.p.drawRect(r);
        c.p.setPen(Qt::white);
        c.p.drawText(r, Qt::AlignCenter, label);
    };
    if (mode == 0) {  // side by side
        box(QRectF(3, 3, w / 2 - 3, h - 6), "1");
        box(QRectF(w / 2, 3, w / 2 - 3, h - 6), "2");
    } else if (mode == 1) {  // one above the other
        box(QRectF(3, 3, w - 6, h / 2 - 3), "1");
        box(QRectF(3, h / 2, w - 6, h / 2 - 3), "2");
    } else {  // the same picture on both
        box(QRectF(3, 3, w * 0.42, h - 6), "1");
        box(QRectF(w * 0.58 - 3, 3, w * 0.42, h - 6), "2");
        c.p.setPen(pen(Qt::white, 3));
        c.p.drawLine(QPointF(w * 0.46, h * 0.42), QPointF(w * 0.54, h * 0.42));
        c.p.drawLine(QPointF(w * 0.46, h * 0.58), QPointF(w * 0.54, h * 0.58));
    }
    save(c.done(), name);
}

// --- Test patterns ---------------------------------------------------------

void drawTestPattern(int n) {
    Canvas c(160, 90, Qt::black);
    switch (n) {
    case 1: c.img.fill(QColor(255, 0, 0)); break;
    case 2: c.img.fill(QColor(0, 255, 0)); break;
    case 3: c.img.fill(QColor(0, 0, 255)); break;
    case 4: c.img.fill(Qt::white); break;
    case 5:
        c.img.fill(Qt::black);
        c.p.setPen(pen(kGrey, 2));
        c.p.drawRect(QRectF(1, 1, 158, 88));
        break;
    case 6: {
        const QColor bars[8] = {Qt::white, Qt::yellow, Qt::cyan, Qt::green,
                                Qt::magenta, Qt::red, Qt::blue, Qt::black};
        for (int i = 0; i < 8; ++i) c.p.fillRect(QRect(20 * i, 0, 20, 90), bars[i]);
        break;
    }
    case 7:
        for (int y = 0; y < 90; y += 10) c.p.fillRect(QRect(0, y, 160, 5), Qt::white);
        break;
    default:
        for (int x = 0; x < 160; x += 10) c.p.fillRect(QRect(x, 0, 5, 90), Qt::white);
        break;
    }
    save(c.done(), QStringLiteral("img_test%1.png").arg(n));
}

// --- Routing of the receiving cards ------------------------------------------

void drawRoute(int type) {
    Canvas c(96, 96);
    auto centre = [](QPoint cell) { return QPointF(18 + 30 * cell.x(), 18 + 30 * cell.y()); };
    c.p.setPen(pen(kGrey, 2));
    c.p.setBrush(kPanel);
    for (int x = 0; x < 3; ++x)
        for (int y = 0; y < 3; ++y) c.p.drawRect(QRectF(5 + 30 * x, 5 + 30 * y, 26, 26));
    const auto order = routeOrder(type);
    for (size_t i = 1; i < order.size(); ++i) {
        const QPointF a = centre(order[i - 1]), b = centre(order[i]);
        const bool jump = (order[i] - order[i - 1]).manhattanLength() > 1;
        QPen p = pen(jump ? kGrey : kGreen, 3);
        if (jump) p.setStyle(Qt::DashLine);
        c.p.setPen(p);
        c.p.drawLine(a, b);
    }
    // Start dot and arrow head at the last cabinet.
    c.p.setPen(Qt::NoPen);
    c.p.setBrush(Qt::white);
    c.p.drawEllipse(centre(order.front()), 6, 6);
    const QPointF end = centre(order.back()), from = centre(order[order.size() - 2]);
    const qreal ang = std::atan2(end.y() - from.y(), end.x() - from.x());
    QPolygonF head;
    head << end + QPointF(std::cos(ang) * 8, std::sin(ang) * 8)
         << end + QPointF(std::cos(ang + 2.5) * 8, std::sin(ang + 2.5) * 8)
         << end + QPointF(std::cos(ang - 2.5) * 8, std::sin(ang - 2.5) * 8);
    c.p.setBrush(kGreen);
    c.p.drawPolygon(head);
    save(c.done(), QStringLiteral("line%1.png").arg(type));
}

// --- Menu icons -------------------------------------------------------------

void icon(const QString& name, const std::function<void(QPainter&)>& draw) {
    Canvas c(112, 112);
    c.p.setPen(pen(Qt::white, 6));
    c.p.setBrush(Qt::NoBrush);
    draw(c.p);
    save(c.done(), name);
}

void monitor(QPainter& p) {
    p.drawRoundedRect(QRectF(14, 18, 84, 58), 6, 6);
    p.drawLine(QPointF(56, 76), QPointF(56, 92));
    p.drawLine(QPointF(36, 94), QPointF(76, 94));
}

void drawIcons() {
    icon("icon_source.png", [](QPainter& p) {
        monitor(p);
        p.setPen(pen(kBlue, 6));
        p.drawLine(QPointF(30, 47), QPointF(70, 47));
        p.drawPolyline(QPolygonF({QPointF(58, 35), QPointF(72, 47), QPointF(58, 59)}));
    });
    icon("icon_layout.png", [](QPainter& p) {
        p.drawRect(QRectF(12, 18, 88, 76));
        p.setBrush(QColor(0x47, 0x77, 0xFF, 150));
        p.drawRect(QRectF(22, 28, 38, 30));
        p.drawRect(QRectF(50, 48, 40, 36));
    });
    icon("icon_quality.png", [](QPainter& p) {
        p.drawEllipse(QPointF(56, 56), 20, 20);
        for (int i = 0; i < 8; ++i) {
            const qreal a = M_PI / 4 * i;
            p.drawLine(QPointF(56 + 30 * qCos(a), 56 + 30 * qSin(a)), QPointF(56 + 44 * qCos(a), 56 + 44 * qSin(a)));
        }
        p.setBrush(Qt::white);
        p.drawPie(QRectF(36, 36, 40, 40), 90 * 16, 180 * 16);
    });
    icon("icon_mode.png", [](QPainter& p) {
        for (int i = 2; i >= 0; --i) {
            QPolygonF layer({QPointF(56, 22 + 18 * i), QPointF(96, 40 + 18 * i), QPointF(56, 58 + 18 * i),
                             QPointF(16, 40 + 18 * i)});
            p.setBrush(i == 0 ? QColor(0x47, 0x77, 0xFF) : QColor(16, 16, 28));
            p.drawPolygon(layer);
        }
    });
    icon("icon_settings.png", [](QPainter& p) {
        QPainterPath gear;
        const int teeth = 8;
        for (int i = 0; i < teeth * 2; ++i) {
            const qreal a0 = M_PI * i / teeth, a1 = M_PI * (i + 1) / teeth;
            const qreal r = (i % 2) ? 34 : 44;
            const QPointF p0(56 + r * qCos(a0), 56 + r * qSin(a0)), p1(56 + r * qCos(a1), 56 + r * qSin(a1));
            if (i == 0) gear.moveTo(p0); else gear.lineTo(p0);
            gear.lineTo(p1);
        }
        gear.closeSubpath();
        p.drawPath(gear);
        p.drawEllipse(QPointF(56, 56), 14, 14);
    });
    icon("icon_info.png", [](QPainter& p) {
        p.drawEllipse(QPointF(56, 56), 44, 44);
        p.setPen(pen(Qt::white, 9));
        p.drawPoint(QPointF(56, 34));
        p.drawLine(QPointF(56, 50), QPointF(56, 80));
    });
    icon("icon_output.png", [](QPainter& p) {
        monitor(p);
        p.setPen(pen(kBlue, 6));
        p.drawLine(QPointF(56, 64), QPointF(56, 30));
        p.drawPolyline(QPolygonF({QPointF(44, 42), QPointF(56, 30), QPointF(68, 42)}));
    });
    icon("icon_crop.png", [](QPainter& p) {
        p.drawPolyline(QPolygonF({QPointF(30, 10), QPointF(30, 82), QPointF(102, 82)}));
        p.drawPolyline(QPolygonF({QPointF(10, 30), QPointF(82, 30), QPointF(82, 102)}));
        p.setPen(pen(kBlue, 4));
        p.drawRect(QRectF(42, 42, 28, 28));
    });
    icon("icon_link.png", [](QPainter& p) {
        const QPointF a(56, 24), b(24, 86), c(88, 86);
        p.drawLine(a, b);
        p.drawLine(a, c);
        p.drawLine(b, c);
        p.setBrush(QColor(0x47, 0x77, 0xFF));
        for (const QPointF& pt : {a, b, c}) p.drawEllipse(pt, 13, 13);
    });
    icon("icon_advanced.png", [](QPainter& p) {
        const qreal xs[3] = {30, 56, 82};
        const qreal knobs[3] = {40, 72, 52};
        for (int i = 0; i < 3; ++i) {
            p.setPen(pen(Qt::white, 6));
            p.drawLine(QPointF(xs[i], 16), QPointF(xs[i], 96));
            p.setBrush(QColor(0x47, 0x77, 0xFF));
            p.drawEllipse(QPointF(xs[i], knobs[i]), 10, 10);
        }
    });
    icon("icon_test.png", [](QPainter& p) {
        const QColor bars[6] = {Qt::white, Qt::yellow, Qt::cyan, Qt::green, Qt::magenta, Qt::red};
        for (int i = 0; i < 6; ++i) p.fillRect(QRectF(16 + 13.3 * i, 22, 13.3, 68), bars[i]);
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRectF(16, 22, 80, 68));
    });
    icon("icon_wizard.png", [](QPainter& p) {
        for (int x = 0; x < 3; ++x)
            for (int y = 0; y < 3; ++y) p.drawRect(QRectF(14 + 26 * x, 14 + 26 * y, 22, 22));
        p.setPen(pen(kGreen, 6));
        p.drawPolyline(QPolygonF({QPointF(25, 25), QPointF(77, 25), QPointF(77, 51), QPointF(25, 51),
                                  QPointF(25, 77), QPointF(77, 77)}));
        p.setPen(pen(QColor(0xFF, 0xC8, 0x00), 6));
        p.drawLine(QPointF(80, 80), QPointF(104, 104));
    });
    auto padlock = [](QPainter& p, bool closed) {
        p.setBrush(closed ? QColor(0x47, 0x77, 0xFF) : QColor(16, 16, 28));
        p.drawRoundedRect(QRectF(24, 52, 64, 48), 6, 6);
        p.setBrush(Qt::NoBrush);
        QPainterPath shackle;
        shackle.moveTo(36, 52);
        shackle.lineTo(36, 36);
        shackle.arcTo(QRectF(36, 14, 40, 40), 180, -180);
        if (closed) shackle.lineTo(76, 52); else shackle.lineTo(76, 40);
        if (!closed) shackle.translate(14, -6);
        p.drawPath(shackle);
    };
    icon("icon_lock.png", [&](QPainter& p) { padlock(p, true); });
    icon("icon_unlock.png", [&](QPainter& p) { padlock(p, false); });
    icon("icon_blackout.png", [](QPainter& p) {
        p.setBrush(Qt::black);
        monitor(p);
        p.setPen(pen(kRed, 6));
        p.drawLine(QPointF(26, 28), QPointF(86, 68));
    });
}

// --- Tips in every language ------------------------------------------------------

struct TipText {
    const char* name;
    const char* text[5];  // zh, en, ru, vn, tw
};

const TipText kTips[] = {
    {"tip_ok", {"设置成功", "Settings saved", "Сохранено", "Đã lưu cài đặt", "設定成功"}},
    {"tip_usb_in", {"U盘已插入", "USB stick inserted", "USB-накопитель вставлен", "Đã cắm USB", "隨身碟已插入"}},
    {"tip_usb_out", {"U盘已拔出", "USB stick removed", "USB-накопитель извлечён", "Đã rút USB", "隨身碟已拔出"}},
    {"tip_reading", {"正在读取数据…", "Reading data…", "Чтение данных…", "Đang đọc dữ liệu…", "正在讀取資料…"}},
    {"tip_no_answer", {"操作无响应", "No response", "Нет ответа", "Không có phản hồi", "操作無回應"}},
};

void tipGlyph(QPainter& p, const QString& name) {
    const QPointF c(150, 72);
    if (name == "tip_ok") {
        p.setPen(Qt::NoPen);
        p.setBrush(kGreen);
        p.drawEllipse(c, 40, 40);
        p.setPen(pen(Qt::white, 8));
        p.drawPolyline(QPolygonF({c + QPointF(-20, 0), c + QPointF(-5, 16), c + QPointF(21, -14)}));
    } else if (name == "tip_no_answer") {
        p.setPen(Qt::NoPen);
        p.setBrush(kRed);
        p.drawEllipse(c, 40, 40);
        p.setPen(pen(Qt::white, 8));
        p.drawLine(c + QPointF(0, -22), c + QPointF(0, 6));
        p.drawPoint(c + QPointF(0, 22));
    } else if (name == "tip_reading") {
        for (int i = 0; i < 8; ++i) {
            const qreal a = M_PI / 4 * i;
            QColor col = kBlue;
            col.setAlpha(80 + 22 * i);
            p.setPen(Qt::NoPen);
            p.setBrush(col);
            p.drawEllipse(c + QPointF(34 * qCos(a), 34 * qSin(a)), 8, 8);
        }
    } else {  // a USB stick with an arrow in or out
        const bool in = name == "tip_usb_in";
        p.setPen(pen(Qt::white, 5));
        p.setBrush(kPanel);
        p.drawRoundedRect(QRectF(118, 50, 52, 58), 8, 8);
        p.drawRect(QRectF(128, 30, 32, 20));
        p.setPen(pen(in ? kGreen : kRed, 6));
        const qreal x = 194;
        p.drawLine(QPointF(x, 36), QPointF(x, 100));
        if (in)
            p.drawPolyline(QPolygonF({QPointF(x - 12, 50), QPointF(x, 36), QPointF(x + 12, 50)}));
        else
            p.drawPolyline(QPolygonF({QPointF(x - 12, 86), QPointF(x, 100), QPointF(x + 12, 86)}));
    }
}

void drawTips() {
    static const char* const prefixes[5] = {"", "en_", "ru_", "vn_", "tn_"};
    for (const TipText& t : kTips) {
        for (int lang = 0; lang < 5; ++lang) {
            Canvas c(300, 200);
            c.p.setPen(pen(Qt::white, 2));
            c.p.setBrush(QColor(33, 36, 53, 240));
            c.p.drawRoundedRect(QRectF(1, 1, 298, 198), 14, 14);
            tipGlyph(c.p, QString::fromLatin1(t.name));
            const QString text = QString::fromUtf8(t.text[lang]);
            // One line when it fits at a good size, else two lines.
            const QRect area(12, 124, 276, 64);
            QFont f = fitFont(text, 28, area.width());
            if (f.pixelSize() < 22) {
                int px = 26;
                f = font(px);
                while (px > 10 && QFontMetrics(f).boundingRect(area, Qt::AlignCenter | Qt::TextWordWrap, text)
                                          .height() > area.height())
                    f = font(--px);
            }
            c.p.setPen(Qt::white);
            c.p.setFont(f);
            c.p.drawText(area, Qt::AlignCenter | Qt::TextWordWrap, text);
            save(c.done(), QString::fromLatin1(prefixes[lang]) + t.name + ".png");
        }
    }
}

void writeQrc() {
    QFile f(g_out + "/panel.qrc");
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        std::fprintf(stderr, "cannot write panel.qrc\n");
        std::exit(1);
    }
    QTextStream out(&f);
    out << "<!DOCTYPE RCC>\n<RCC version=\"1.0\">\n<qresource prefix=\"/png\">\n";
    g_files.sort();
    for (const QString& name : g_files) out << "    <file alias=\"" << name << "\">png/" << name << "</file>\n";
    out << "</qresource>\n</RCC>\n";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <resources folder>\n", argv[0]);
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication app(argc, argv);
    QFont::insertSubstitutions(QStringLiteral("DejaVu Sans"),
                               {QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Noto Sans CJK TC")});
    g_out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(g_out + "/png");

    drawBack();
    drawRadio(true);
    drawRadio(false);
    drawSwitch(true);
    drawSwitch(false);
    for (const char* n : {"menu.png", "previous.png", "next.png", "add.png"}) drawNav(QString::fromLatin1(n));
    drawWarning();
    drawState(true);
    drawState(false);
    drawOsdMark(true);
    drawOsdMark(false);
    drawConnector("HDMI.png", false, "", false);
    drawConnector("extlv.png", false, "EXT", true);
    drawConnector("DVI.png", true, "DVI", false);
    drawConnector("dvilv.png", true, "DVI", true);
    drawConnector("HDMI13.png", false, "1.4", false);
    drawConnector("HDMI13_lv.png", false, "1.4", true);
    drawConnector("HDMI20.png", false, "2.0", false);
    drawConnector("HDMI20_lv.png", false, "2.0", true);
    drawPort(false);
    drawPort(true);
    drawOut("out_horizontal.png", 360, 80, 0);
    drawOut("out_vertical.png", 200, 160, 1);
    drawOut("out_copy.png", 200, 80, 2);
    for (int n = 1; n <= 8; ++n) drawTestPattern(n);
    for (int t = 1; t <= 16; ++t) drawRoute(t);
    drawIcons();
    drawTips();
    writeQrc();
    std::printf("%d pictures written to %s\n", int(g_files.size()), qPrintable(g_out));
    return 0;
}
