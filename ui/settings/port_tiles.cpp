#include "ui/settings/port_tiles.h"

#include "ui/settings/settings_pages.h"
#include "ui/shell/shell_text.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

namespace PortTiles {

const char* const kTileMarked = "background-color: #212435;border:1px solid #00D65B;";
const char* const kTileOther = "background-color: #212435;border:1px solid #FFFFFF;";
const char* const kGroupChosen =
    "background-color: #4777FF;color: rgb(255, 255, 255);border:1px solid rgb(255, 255, 255);";
const char* const kGroupOther = "color: rgb(255, 255, 255);border:1px solid rgb(255, 255, 255);";

QString tileText(int port) {
    const int lang = ShellText::language();
    const char* pattern = lang == 0 ? "网口LED%1" : lang == 4 ? "網口LED%1" : "LED%1";
    return QString::fromUtf8(pattern).arg(port + 1);
}

QString groupText(int group) {
    const int lang = ShellText::language();
    const char* pattern = lang == 0 ? "网口%1~%2" : lang == 4 ? "網口%1~%2" : "LED%1~%2";
    return QString::fromUtf8(pattern).arg(kTiles * group + 1).arg(kTiles * group + kTiles);
}

void placeGroupButtons(QPushButton* const buttons[4], int y) {
    for (int g = 0; g < 4; ++g) {
        QPushButton* b = buttons[g];
        if (!b) continue;
        b->setFocusPolicy(Qt::NoFocus);
        b->setStyleSheet(QString::fromLatin1(kGroupOther));
        if (g >= kGroups) {
            b->hide();
            continue;
        }
        b->setGeometry(85 + 150 * g, y, 130, 50);
    }
}

void chooseGroup(QPointer<QPushButton>& current, QPushButton* pressed) {
    if (current && current != pressed) current->setStyleSheet(QString::fromLatin1(kGroupOther));
    current = pressed;
    if (pressed) pressed->setStyleSheet(QString::fromLatin1(kGroupChosen));
}

Grid::Grid(std::function<void(int)> pressed) : m_pressed(std::move(pressed)) {}

void Grid::build(QWidget* parent, const QPoint& origin, int group, int marked) {
    QPointer<QFrame> frame = m_frame;
    QFrame* f = SettingsPages::renewFrame(frame, parent, "frame_ports", QRect(origin, QSize(608, 165)), QString());
    m_frame = f;
    m_marked = marked >= 0 && marked < kTiles ? marked : -1;
    for (int t = 0; t < kTiles; ++t) {
        const int x0 = 150 * (t % 4), y0 = 75 * (t / 4);
        auto* tile = new QFrame(f);
        tile->setGeometry(x0 + 9, y0 + 14, 130, 60);
        tile->setStyleSheet(QString::fromLatin1(t == m_marked ? kTileMarked : kTileOther));
        m_tiles[t] = tile;
        SettingsPages::addPicture(f, nullptr, QRect(x0 + 59, y0 + 17, 32, 28),
                                  ShellText::picture(QStringLiteral("offline.png")));
        auto* text = new QLabel(f);
        text->setObjectName(QStringLiteral("label_port"));
        text->setGeometry(x0 + 29, y0 + 45, 91, 28);
        text->setAlignment(Qt::AlignCenter);
        text->setStyleSheet(QStringLiteral("background-color: #212435;color: #FFFFFF;font: 12pt;"));
        SettingsPages::fitText(text, tileText(portOf(group, t)));
        auto* b = new QPushButton(f);
        b->setObjectName(QString::number(t));
        b->setGeometry(x0 + 10, y0 + 15, 128, 58);
        b->setFlat(true);
        b->setFocusPolicy(Qt::NoFocus);
        m_buttons[t] = b;
        QObject::connect(b, &QPushButton::clicked, f, [this, t] {
            if (m_pressed) m_pressed(t);
        });
    }
    f->show();
}

void Grid::mark(int tile) {
    if (QFrame* old = this->tile(m_marked)) old->setStyleSheet(QString::fromLatin1(kTileOther));
    m_marked = tile >= 0 && tile < kTiles ? tile : -1;
    if (QFrame* now = this->tile(m_marked)) now->setStyleSheet(QString::fromLatin1(kTileMarked));
}

QFrame* Grid::tile(int t) const { return t >= 0 && t < kTiles ? m_tiles[t].data() : nullptr; }

QPushButton* Grid::button(int t) const { return t >= 0 && t < kTiles ? m_buttons[t].data() : nullptr; }

}  // namespace PortTiles
