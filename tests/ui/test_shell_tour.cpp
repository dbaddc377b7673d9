// Opens every page of the shell in each of the five languages, saves a
// picture of each under the build folder ("tour/") and fails when a text
// does not fit its widget.
#include "shell_fixture.h"

#include <QAbstractButton>
#include <QDir>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QTextDocument>
#include <QToolButton>

namespace {

QString tourFolder() {
#ifdef ZRV_BUILD_DIR
    return QStringLiteral(ZRV_BUILD_DIR "/tour");
#else
    return QDir::currentPath() + "/tour";
#endif
}

// Widest line of a text in a font.
int textWidth(const QFont& font, const QString& text) {
    const QFontMetrics fm(font);
    int w = 0;
    for (const QString& line : text.split('\n')) w = std::max(w, fm.horizontalAdvance(line));
    return w;
}

// Texts of root and its children that do not fit their widget.
QStringList overflowing(QWidget* root) {
    QStringList bad;
    QList<QWidget*> widgets = root->findChildren<QWidget*>();
    widgets.prepend(root);
    for (QWidget* w : widgets) {
        if (!w->isVisibleTo(root) && w != root) continue;
        w->ensurePolished();
        const QString where = w->objectName() + ": ";
        if (auto* l = qobject_cast<QLabel*>(w)) {
            if (l->text().isEmpty()) continue;
            QString text = l->text();
            if (Qt::mightBeRichText(text)) {
                QTextDocument doc;
                doc.setDefaultFont(l->font());
                doc.setHtml(text);
                text = doc.toPlainText();
            }
            const QRect r = l->contentsRect();
            if (l->wordWrap()) {
                const QRect need = QFontMetrics(l->font()).boundingRect(r, Qt::TextWordWrap, text);
                if (need.height() > r.height()) bad << where + text;
            } else if (textWidth(l->font(), text) > r.width()) {
                bad << where + text;
            }
        } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
            if (b->text().isEmpty()) continue;
            const int text = textWidth(b->font(), b->text());
            int need = text + 8;
            auto* tb = qobject_cast<QToolButton*>(b);
            const bool under = tb && tb->toolButtonStyle() == Qt::ToolButtonTextUnderIcon;
            if (!b->icon().isNull() && !under) need += b->iconSize().width() + 6;
            if (need > b->width()) bad << where + b->text();
            if (under) {
                const int height = b->iconSize().height() + QFontMetrics(b->font()).height() + 8;
                if (height > b->height()) bad << where + b->text() + " (height)";
            }
        } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
            if (textWidth(e->font(), e->text()) + 8 > e->width()) bad << where + e->text();
        }
    }
    return bad;
}

class TourTest : public ShellTest {
protected:
    // A page takes the panel's place (the main menu's position and size) and
    // has no frame; a smaller window (keypad, tip) lies on the panel.
    void visit(QWidget* page, const QString& name, int lang, bool wholePanel = true) {
        ASSERT_TRUE(page) << name.toStdString();
        const QRect panel(g_mainwindow->pos(), g_mainwindow->size());
        if (wholePanel)
            EXPECT_EQ(page->geometry(), panel) << name.toStdString();
        else
            EXPECT_TRUE(panel.contains(page->geometry())) << name.toStdString();
        EXPECT_TRUE(page->windowFlags() & Qt::FramelessWindowHint) << name.toStdString();
        const QString file = QStringLiteral("%1/%2_lang%3.png").arg(tourFolder(), name).arg(lang);
        EXPECT_TRUE(page->grab().save(file)) << file.toStdString();
        const QStringList bad = overflowing(page);
        EXPECT_TRUE(bad.isEmpty()) << name.toStdString() << " in language " << lang << ": "
                                   << bad.join(" | ").toStdString();
    }
};

TEST_F(TourTest, EveryShellPageInEveryLanguage) {
    QDir().mkpath(tourFolder());
    model->ZrvSetSignalPara(2, 1920, 1080, 60);
    model->ZrvSetSignalPara(5, 3840, 2160, 30);
    // On a desktop the window manager places the panel away from the
    // screen's corner, after the home page opened: the page follows it.
    g_lockwindow->lock_show();
    g_mainwindow->move(70, 40);
    QApplication::processEvents();
    EXPECT_EQ(g_lockwindow->pos(), QPoint(70, 40));
    for (int lang = 0; lang < 5; ++lang) {
        g_language = u8(lang);

        g_lockwindow->lock_show();
        visit(g_lockwindow, "home", lang);
        g_lockwindow->unlock();

        g_mainwindow->language_changed();
        visit(g_mainwindow, "main_menu", lang);

        PageRegistry::open(PageRegistry::DeviceInfo);
        visit(g_machinestate, "device_information", lang);
        g_machinestate->on_Button_back_clicked();

        PageRegistry::open(PageRegistry::Settings);
        visit(g_option, "settings_menu", lang);

        g_numberkeyboard->label_show(ShellText::pick("宽度", "Width", "Ширина", "Chiều rộng", "寬度"),
                                     QStringLiteral("1920"));
        visit(g_numberkeyboard, "keypad", lang, false);

        QRoundProgressBar::create_qround_bar(g_option);
        g_qround_bar->para_sync(42);
        visit(g_option, "progress", lang);
        g_qround_bar->para_sync(100);
        g_option->on_Button_back_clicked();

        for (int kind : {1, 3, 4, 5, 6}) {
            g_tip->tip_create(kind);
            EXPECT_EQ(g_tip->kind(), kind);
            EXPECT_FALSE(QPixmap(TIP::pictureOf(kind)).isNull()) << kind << " " << lang;
            visit(g_tip, QStringLiteral("tip%1").arg(kind), lang, false);
        }
        g_tip->tip_create(TIP::RemoveOnly);

        g_mainwindow->update_start();
        visit(g_mainwindow->updateScreen(), "updating", lang);
        g_mainwindow->update_over();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

TEST_F(TourTest, EveryNamedPictureIsBuiltIn) {
    // The pictures the pages of the panel name, with and without language.
    QStringList names = {"back.png", "checked.png", "unchecked.png", "button_on.png", "button_off.png",
                         "DVI.png", "HDMI.png", "HDMI13.png", "HDMI20.png", "extlv.png", "dvilv.png",
                         "HDMI13_lv.png", "HDMI20_lv.png", "state_on.png", "state_off.png", "menu.png",
                         "previous.png", "next.png", "add.png", "warning.png", "out_horizontal.png",
                         "out_vertical.png", "out_copy.png", "offline.png", "online.png", "osd_yes.bmp",
                         "osd_no.bmp"};
    for (int i = 1; i <= 8; ++i) names << QStringLiteral("img_test%1.png").arg(i);
    for (int i = 1; i <= 16; ++i) names << QStringLiteral("line%1.png").arg(i);
    for (const QString& n : names)
        EXPECT_FALSE(QPixmap(":/png/" + n).isNull()) << n.toStdString();
}

}  // namespace
