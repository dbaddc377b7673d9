#include "ui/service/test_chart.h"

#include "core/image_view.h"
#include "core/logMsg.h"
#include "ui/service/service_pages.h"
#include "ui/settings/settings_pages.h"
#include "ui/shell/option.h"
#include "ui/shell/page_frame.h"
#include "ui/shell/page_registry.h"
#include "ui/shell/shell_text.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

QPointer<test_chart> g_test_chart;

using ServicePages::pointFont;

namespace {

const char* const kPlain = "border:1px solid rgb(255, 255, 255);";
const char* const kMarked = "border:5px solid rgb(255,171,84);";

const char* const kNameObjects[8] = {"label_red",   "label_green",  "label_blue",  "label_white",
                                     "label_black", "label_colour", "label_hline", "label_wline"};
// Names under the pictures: y 130 for the first row, 290 for the second.
const QRect kNameRects[8] = {{21, 130, 88, 28},  {161, 130, 88, 28}, {301, 130, 88, 28}, {441, 130, 88, 28},
                             {21, 290, 88, 28},  {161, 290, 88, 28}, {290, 290, 110, 28}, {420, 290, 130, 28}};

}  // namespace

test_chart::test_chart(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("test_chart"));
    setWindowTitle(QStringLiteral("Dialog"));
    PageFrame::fillPanel(this);
    setStyleSheet(QString::fromLatin1(ShellText::kPageBackground));

    m_title = new QLabel(this);
    m_title->setObjectName(QStringLiteral("label_title"));
    m_title->setGeometry(285, 15, 230, 42);
    m_title->setFont(pointFont(this, 18));
    m_title->setStyleSheet(QString::fromLatin1(ShellText::kWhiteText));
    m_title->setAlignment(Qt::AlignCenter);

    QPushButton* back = PageFrame::addBackButton(this);
    connect(back, &QPushButton::clicked, this, &test_chart::on_Button_back_clicked);

    m_frame = new QFrame(this);
    m_frame->setObjectName(QStringLiteral("frame"));
    m_frame->setGeometry(171, 69, 580, 400);
    m_frame->setStyleSheet(QStringLiteral("#frame{border:1px solid rgb(133, 129, 153);}"));
    m_frame->setFrameShape(QFrame::Box);
    m_frame->setFrameShadow(QFrame::Raised);

    for (int i = 0; i < 8; ++i) {
        m_picture[i] = new QLabel(m_frame);
        m_picture[i]->setObjectName(QStringLiteral("label_test%1").arg(i + 1));
        m_picture[i]->setGeometry(15 + 140 * (i % 4), 20 + 160 * (i / 4), 100, 100);
        m_picture[i]->setStyleSheet(QString::fromLatin1(kPlain));

        m_name[i] = new QLabel(m_frame);
        m_name[i]->setObjectName(QString::fromLatin1(kNameObjects[i]));
        m_name[i]->setGeometry(kNameRects[i]);
        m_name[i]->setFont(pointFont(this, 12));
        m_name[i]->setStyleSheet(QString::fromLatin1(ShellText::kWhiteText));
        m_name[i]->setAlignment(Qt::AlignCenter);
    }

    m_close = new QPushButton(m_frame);
    m_close->setObjectName(QStringLiteral("Button_closetest"));
    m_close->setGeometry(385, 330, 180, 60);
    m_close->setFont(pointFont(this, 14));
    m_close->setFocusPolicy(Qt::NoFocus);
    m_close->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);\nbackground-color: rgb(71, 119, 255);"));
    connect(m_close, &QPushButton::clicked, this, &test_chart::on_Button_closetest_clicked);

    testimage_button_init();
    para_init();
    language_changed();

    // Back only: while this page is in front the dispatcher follows the
    // language alone.
    PageOps ops;
    ops.back = [this] { on_Button_back_clicked(); };
    PageRegistry::enter(PageRegistry::TestPattern, this, ops);
}

test_chart::~test_chart() { PageRegistry::leave(PageRegistry::TestPattern, this); }

void test_chart::testimage_button_init() {
    // The buttons lie exactly over their pictures, so a touch anywhere on a
    // picture chooses it and a touch beside it chooses nothing.
    for (int i = 0; i < 8; ++i) {
        auto* b = new QPushButton(m_frame);
        b->setGeometry(15 + 140 * (i % 4), 20 + 160 * (i / 4), 100, 100);
        b->setFlat(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setObjectName(QString::number(i));
        connect(b, &QPushButton::clicked, this, &test_chart::zrv_image_button_clicked);
    }
}

void test_chart::para_init() {
    for (int i = 0; i < 8; ++i) {
        m_picture[i]->setScaledContents(true);
        m_picture[i]->setPixmap(QPixmap(ShellText::picture(QStringLiteral("img_test%1.png").arg(i + 1))));
    }
}

void test_chart::language_changed() {
    const int lang = ShellText::language();
    const QString title =
        ShellText::pick("测试图", "Test pattern", "Тестовый\nобразец", "Biểu đồ\nkiểm tra", "測試圖");
    // Two lines fit the title's 42 px only a size smaller.
    m_title->setFont(pointFont(this, title.contains('\n') ? 12 : 18));
    m_title->setText(title);

    static const char* const zh[8] = {"红色", "绿色", "蓝色", "白色", "黑色", "色带", "横线", "竖线"};
    static const char* const en[8] = {"Red",   "Green",      "Blue",            "White",
                                      "Black", "Colour bar", "Horizontal line", "Vertical line"};
    static const char* const tw[8] = {"紅色", "綠色", "藍色", "白色", "黑色", "色帶", "橫線", "豎線"};
    for (int i = 0; i < 8; ++i) {
        QString name;
        if (lang == 2)
            name = QString::fromUtf8("Тест %1").arg(i + 1);
        else if (lang == 3)
            name = QString::fromUtf8("Kiểm tra %1").arg(i + 1);
        else
            name = ShellText::pick(zh[i], en[i], en[i], en[i], tw[i]);
        m_name[i]->setFont(pointFont(this, 12));
        SettingsPages::fitText(m_name[i], name);
    }
    m_close->setText(ShellText::pick("关闭测试图", "Close", "Закрыть", "Đóng", "關閉測試圖"));
}

void test_chart::writePattern(u8 pattern) {
    editImage([&](PARA_RAM_IMAGE& live, const PARA_RAM_IMAGE&) {
        live.setByte(RamOffset::TEST_PATTERN, pattern);
        return true;
    });
}

void test_chart::unmark() {
    if (m_index < 8) m_picture[m_index]->setStyleSheet(QString::fromLatin1(kPlain));
}

void test_chart::choose(int i) {
    if (i < 0 || i > 7) return;
    debugPrintf("\n\n index = %d \n\n", i);
    if (i != m_index) {
        unmark();
        m_index = u8(i);
        m_picture[i]->setStyleSheet(QString::fromLatin1(kMarked));
    }
    writePattern(u8(i + 1));
}

void test_chart::zrv_image_button_clicked() {
    bool ok = false;
    const int i = sender() ? sender()->objectName().toInt(&ok) : -1;
    if (ok) choose(i);
}

void test_chart::on_Button_closetest_clicked() {
    unmark();
    m_index = kNone;
    writePattern(0);
}

void test_chart::on_Button_back_clicked() {
    PageRegistry::leave(PageRegistry::TestPattern, this);
    setAttribute(Qt::WA_DeleteOnClose);
    close();
    if (g_test_chart == this) g_test_chart = nullptr;
    if (g_option) g_option->language_changed();
    g_page_focus = PageRegistry::Settings;
}
