#include "ui/settings/settings_pages.h"

#include "core/global.h"
#include "core/logMsg.h"
#include "core/zrvrampara.h"
#include "ui/settings/input_entries.h"
#include "ui/settings/custommode.h"
#include "ui/settings/edidset.h"
#include "ui/settings/imagelayout.h"
#include "ui/settings/imagequality.h"
#include "ui/settings/inputchoose.h"
#include "ui/settings/inputcut.h"
#include "ui/settings/outputset.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/option.h"
#include "ui/shell/page_frame.h"
#include "ui/shell/page_registry.h"
#include "ui/shell/shell_text.h"

#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QVariant>

namespace SettingsPages {

void install() {
    PageRegistry::setPageOpener(PageRegistry::SourceSelect, g_inputchoose);
    PageRegistry::setPageOpener(PageRegistry::Crop, g_inputcut);
    PageRegistry::setPageOpener(PageRegistry::Edid, g_edidset);
    PageRegistry::setPageOpener(PageRegistry::ImageQuality, g_imagequality);
    PageRegistry::setPageOpener(PageRegistry::Output, g_outputset);
    PageRegistry::setPageOpener(PageRegistry::ImageLayout, g_imagelayout);
    PageRegistry::setPageOpener(PageRegistry::UserModes, g_custommode);
}

int columnOf(int input) {
    for (int k = 0; k < 6; ++k)
        if (kColumnInput[k] == input) return k;
    return 0;
}

const char* const kColumnMarkerStyle =
    "border:1px solid;border-left-color:rgb(71, 119, 255);"
    "                                     "
    "border-right-color:rgb(71, 119, 255);"
    "                                     "
    "border-top-color:rgb(71, 119, 255);";

InputStrip::InputStrip(QWidget* page, std::function<void(int)> chosen) {
    m_marker = new QFrame(page);
    m_marker->setStyleSheet(QString::fromLatin1(kColumnMarkerStyle));
    for (int k = 0; k < 6; ++k) {
        auto* b = new QPushButton(page);
        b->setObjectName(QString::number(k));
        b->setGeometry(21 + 130 * k, 69, 118, 83);
        b->setFocusPolicy(Qt::NoFocus);
        b->setFlat(true);
        QObject::connect(b, &QPushButton::clicked, page, [chosen, k] { chosen(k); });
    }
    select(0);
    m_marker->lower();
}

void InputStrip::select(int column) { m_marker->setGeometry(20 + 130 * column, 68, 120, 85); }

void addColumnHeads(QWidget* page, const ColumnHeads& heads) {
    static const char* const names[6] = {"HDMI1", "HDMI2", "HDMI3", "HDMI4", "DVI", "EXT"};
    static const char* const pictures[6] = {"HDMI13.png", "HDMI13.png", "HDMI20.png", "HDMI20.png", "DVI.png", "HDMI.png"};
    static const int nameX[6] = {36, 166, 296, 426, 572, 699};
    for (int k = 0; k < 6; ++k) {
        auto* l = new QLabel(page);
        l->setObjectName(QStringLiteral("label_%1").arg(k + 3));
        l->setGeometry(nameX[k], 73, k < 4 ? heads.nameWidth : heads.dviWidth, 28);
        l->setAlignment(heads.align);
        l->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);font: 13pt;"));
        fitText(l, QString::fromLatin1(names[k]));
        const int x = k < 4 ? 30 + 130 * k : (k == 4 ? heads.dviX : 680);
        addPicture(page, QStringLiteral("label_%1").arg(names[k]).toLatin1().constData(), QRect(x, heads.pictureY, 100, 32),
                   ShellText::picture(QString::fromLatin1(pictures[k])));
    }
}

QLabel* addPicture(QWidget* parent, const char* name, const QRect& where, const QString& picture) {
    auto* l = new QLabel(parent);
    if (name) l->setObjectName(QString::fromLatin1(name));
    l->setGeometry(where);
    l->setScaledContents(true);
    l->setPixmap(QPixmap(picture));
    return l;
}

QFrame* renewFrame(QPointer<QFrame>& frame, QWidget* parent, const char* name, const QRect& where,
                   const QString& style) {
    if (QFrame* old = frame.data()) {
        old->hide();
        old->setParent(nullptr);
        old->deleteLater();
    }
    auto* f = new QFrame(parent);
    f->setObjectName(QString::fromLatin1(name));
    f->setGeometry(where);
    f->setStyleSheet(style);
    frame = f;
    return f;
}

QPushButton* addEntryTile(QWidget* list, const QPoint& o, int input, const QString& name, const QString& size,
                          const QFont& font) {
    auto* inner = new QFrame(list);
    inner->setGeometry(o.x() + 10, o.y() + 15, 220, 90);
    inner->setStyleSheet(QStringLiteral("background-color: #212435;border:1px solid #CCCCCC;"));
    auto* dot = new QLabel(list);
    dot->setGeometry(o.x() + 20, o.y() + 25, 14, 14);
    dot->setStyleSheet(QStringLiteral("background-color:#00D65B;border:0px groove gray;border-radius:7px;"));
    QLabel* picture = addPicture(list, nullptr, QRect(o.x() + 39, o.y() + 20, 63, 24), InputEntries::entryPicture(input));
    picture->setStyleSheet(QStringLiteral("background-color: #212435;"));
    for (int row = 0; row < 2; ++row) {
        auto* l = new QLabel(list);
        l->setObjectName(QString::fromLatin1(row == 0 ? "label_name" : "label_size"));
        l->setGeometry(o.x() + 20, o.y() + 44 + 28 * row, 172, 28);
        l->setFont(font);
        l->setStyleSheet(QStringLiteral("background-color:#212435;color:#FFFFFF"));
        fitText(l, row == 0 ? name : size);
    }
    auto* b = new QPushButton(list);
    b->setGeometry(o.x() + 11, o.y() + 16, 218, 88);
    b->setFlat(true);
    b->setFocusPolicy(Qt::NoFocus);
    return b;
}

QPushButton* addIconButton(QWidget* parent, const char* name, const QRect& where, const char* icon) {
    auto* b = new QPushButton(parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setGeometry(where);
    b->setFocusPolicy(Qt::NoFocus);
    b->setFlat(true);
    b->setStyleSheet(QStringLiteral("border:none;"));
    b->setIcon(QIcon(ShellText::picture(QString::fromLatin1(icon))));
    b->setIconSize(QSize(50, 50));
    return b;
}

bool windowShown(const PARA_RAM_IMAGE& image, int window) {
    return window == 0 || (window > 0 && window < int(RamOffset::WIN_COUNT) &&
                           image.byte(RamOffset::win(u32(window)) + RamOffset::WIN_ENABLE) == 1);
}

std::vector<WindowTile> addWindowMenu(const PARA_RAM_IMAGE& image, QPointer<QFrame>& frame, QWidget* page,
                                      int chosen, QPointer<QFrame>& marker, const std::function<QString(int)>& tileText) {
    static const char* const kTileStyle[6] = {
        "background-color: #867AE9;font: 16px", "background-color: #005A8D;font: 16px",
        "background-color: #39A9CB;font: 16px", "background-color: #EBA83A;font: 16px",
        "background-color: #FF96AD;font: 16px", "background-color: #D5E5FF;font: 16px",
    };
    QFrame* menu = renewFrame(frame, page, "frame_windows", QRect(0, 64, 800, 96), QString());
    // Made first, so it lies below the tiles.
    marker = new QFrame(menu);
    marker->setObjectName(QStringLiteral("frame_window_marker"));
    marker->setStyleSheet(QStringLiteral("border:2px solid rgb(255,171,84);"));
    std::vector<WindowTile> tiles;
    for (int w = 0; w < int(RamOffset::WIN_COUNT); ++w) {
        if (!windowShown(image, w)) continue;
        const int slot = int(tiles.size());
        auto* tile = new QLabel(QString::number(w + 1), menu);
        tile->setObjectName(QStringLiteral("tile_%1").arg(w));
        tile->setGeometry(130 * slot + 20, 3, 120, 90);
        tile->setAlignment(Qt::AlignCenter);
        tile->setStyleSheet(QString::fromLatin1(kTileStyle[w]));
        auto* label = new QLabel(tile);
        label->setObjectName(QStringLiteral("label_tile"));
        label->setGeometry(0, 3, 100, 28);
        fitText(label, tileText(w));
        auto* dot = new QLabel(tile);
        dot->setGeometry(101, 8, 14, 14);
        dot->setStyleSheet(QStringLiteral("background-color:#00D65B;border:0px groove gray;border-radius:7px;"));
        auto* button = new QPushButton(menu);
        button->setObjectName(QString::number(w));
        button->setGeometry(130 * slot + 17, 0, 126, 96);
        button->setFlat(true);
        button->setFocusPolicy(Qt::NoFocus);
        if (w == chosen) marker->setGeometry(button->geometry());
        tiles.push_back({w, button, label});
    }
    menu->show();
    return tiles;
}

void returnToSettingsMenu() {
    if (Option* menu = g_option.data()) {
        menu->language_changed();
        g_page_focus = PageRegistry::Settings;
    } else {
        if (g_mainwindow) g_mainwindow->language_changed();
        g_page_focus = PageRegistry::MainMenu;
    }
}

void enterPage(QWidget* page, int id, std::function<void(int)> refresh, std::function<void()> back) {
    PageOps ops;
    ops.refresh = std::move(refresh);
    ops.back = std::move(back);
    PageRegistry::enter(id, page, ops);
}

const char* const kFieldStyle =
    "color: rgb(255, 255, 255);\nbackground-color: rgb(33, 36, 53);\nborder:1px solid rgb(255, 255, 255);";

QLabel* addFormLabel(QWidget* parent, const char* name, const QRect& where, int pointSize, Qt::Alignment align) {
    auto* l = new QLabel(parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setGeometry(where);
    l->setAlignment(align);
    l->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);font: %1pt;").arg(pointSize));
    return l;
}

My_lineEdit* addField(QWidget* parent, const char* name, const QRect& where, int pointSize) {
    auto* e = new My_lineEdit(parent);
    e->setObjectName(QString::fromLatin1(name));
    e->setGeometry(where);
    e->setAlignment(Qt::AlignCenter);
    e->setReadOnly(true);  // typed only on the keypad
    e->setFocusPolicy(Qt::NoFocus);
    e->setStyleSheet(QString::fromLatin1(kFieldStyle) + QStringLiteral("font: %1pt;").arg(pointSize));
    return e;
}

QLabel* addPageTitle(QWidget* page, const QRect& where) {
    QLabel* title = PageFrame::addTitle(page);
    title->setGeometry(where);
    title->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);font: 18pt;"));
    return title;
}

QFrame* addEditPanel(QWidget* page) {
    auto* f = new QFrame(page);
    f->setObjectName(QStringLiteral("frame_add"));
    f->setGeometry(21, 260, 768, 130);
    f->setFrameShape(QFrame::StyledPanel);
    f->setFrameShadow(QFrame::Raised);
    f->hide();
    return f;
}

QPushButton* addEditButton(QWidget* page, const char* name, const QFont& font) {
    auto* b = new QPushButton(page);
    b->setObjectName(QString::fromLatin1(name));
    b->resize(180, 60);
    b->setFont(font);
    b->setFocusPolicy(Qt::NoFocus);
    b->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);border:1px solid rgb(255, 255, 255);font:20px"));
    b->hide();
    return b;
}

namespace {
// Width of the widest line of text (a button may carry two lines).
int widestLine(const QFont& font, const QString& text) {
    const QFontMetrics fm(font);
    int w = 0;
    for (const QString& line : text.split(QLatin1Char('\n'))) w = std::max(w, fm.horizontalAdvance(line));
    return w;
}

int fittingSize(const QFont& font, const QString& text, int room) {
    QFont f = font;
    int px = f.pixelSize() > 0 ? f.pixelSize() : QFontMetrics(f).height();
    for (; px > 10; --px) {
        f.setPixelSize(px);
        if (widestLine(f, text) <= room) break;
    }
    return px;
}
}  // namespace

namespace {
// Restores the widget's own style, then adds a smaller font when the text
// would not fit room pixels.
void fitInto(QWidget* w, const QString& text, int margin) {
    QVariant base = w->property("fitBaseStyle");
    if (!base.isValid()) {
        base = w->styleSheet();
        w->setProperty("fitBaseStyle", base);
    }
    w->setStyleSheet(base.toString());
    w->ensurePolished();
    const int room = w->contentsRect().width() - margin;
    if (widestLine(w->font(), text) > room)
        w->setStyleSheet(base.toString() + QStringLiteral(";font: %1px;").arg(fittingSize(w->font(), text, room)));
}
}  // namespace

void fitText(QLabel* label, const QString& text) {
    fitInto(label, text, 0);
    label->setText(text);
}

void fitText(QPushButton* button, const QString& text) {
    fitInto(button, text, 8);
    button->setText(text);
}

bool ownsKeypadField(const QWidget* page) {
    QLineEdit* field = g_lineedit.data();
    return field && page && page->isAncestorOf(field);
}

void openKeypad(QLineEdit* field, const QString& title) {
    if (!field || !g_numberkeyboard) return;
    g_lineedit = field;
    g_numberkeyboard->label_show(title, field->text());
    g_numberkeyboard->exec();
}

int limitedValue(const QString& text, int lo, int hi, const char* field, LogPlace at) {
    bool digits = !text.isEmpty();
    for (QChar c : text) digits = digits && c.isDigit();
    bool ok = false;
    const qulonglong v = digits ? text.toULongLong(&ok) : 0;
    int value;
    if (!digits)
        value = lo;
    else if (!ok || v > qulonglong(hi))
        value = hi;
    else
        value = std::max(lo, int(v));
    if (!digits || !ok || v != qulonglong(value))
        writeLogMsg(WARNING, std::string(field) + " \"" + text.toStdString() + "\" held to " + std::to_string(value), at);
    return value;
}

QString limitedText(const QString& text, int lo, int hi, const char* field, LogPlace at) {
    return QString::number(limitedValue(text, lo, hi, field, at));
}

}  // namespace SettingsPages
