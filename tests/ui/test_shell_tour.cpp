// Opens every page of the shell in each of the five languages, saves a
// picture of each under the build folder ("tour/") and fails when a text
// does not fit its widget.
#include "page_tour.h"

namespace {

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
            // Drawn inside the window in front, at its place on the panel.
            ASSERT_EQ(g_tip->window(), g_mainwindow.data());
            EXPECT_EQ(g_tip->geometry(), QRect(250, 140, 300, 200));
            visit(g_mainwindow, QStringLiteral("tip%1").arg(kind), lang);
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
