#include "ui/settings/custommode.h"

#include "core/JsonParse.h"
#include "core/global.h"
#include "core/zrvrampara.h"
#include "ui/settings/settings_pages.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/page_frame.h"
#include "ui/shell/page_registry.h"
#include "ui/shell/page_view.h"
#include "ui/shell/shell_text.h"
#include "ui/shell/tip.h"

#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>

QPointer<CustomMode> g_custommode;

using namespace RamOffset;

namespace {

ZrvRamPara& model() { return *ZrvRamPara::p_zrvrampara_config; }

// Empty, saved and current like the main menu's mode buttons; the chosen
// mode has the orange frame of the window menus.
const char* const kModeStyle = "background-color: %1;color:%2;border:%3;border-radius:6px;font: 18px;";
const char* const kActionStyle = "color: rgb(255, 255, 255);border:1px solid rgb(255, 255, 255);font:20px";

}  // namespace

CustomMode::CustomMode(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("CustomMode"));
    setFixedSize(800, 480);
    setStyleSheet(QString::fromLatin1(ShellText::kPageBackground));

    QPushButton* back = PageFrame::addBackButton(this);
    connect(back, &QPushButton::clicked, this, &CustomMode::on_Button_back_clicked);
    m_title = SettingsPages::addPageTitle(this, QRect(101, 15, 598, 42));

    for (int i = 0; i < 16; ++i) {
        auto* b = new QPushButton(this);
        b->setObjectName(QStringLiteral("Button_mode%1").arg(i + 1));
        b->setGeometry(20 + 150 * (i % 4), 80 + 96 * (i / 4), 140, 84);
        b->setFocusPolicy(Qt::NoFocus);
        connect(b, &QPushButton::clicked, this, &CustomMode::zrv_button_mode_clicked);
        m_modes[i] = b;
    }
    int y = 100;
    for (QPushButton** b : {&m_recall, &m_save, &m_delete}) {
        *b = new QPushButton(this);
        (*b)->setGeometry(630, y, 150, 70);
        (*b)->setFocusPolicy(Qt::NoFocus);
        (*b)->setStyleSheet(QString::fromLatin1(kActionStyle));
        y += 100;
    }
    m_recall->setObjectName(QStringLiteral("Button_recall"));
    m_save->setObjectName(QStringLiteral("Button_save"));
    m_delete->setObjectName(QStringLiteral("Button_delete"));
    connect(m_recall, &QPushButton::clicked, this, &CustomMode::on_Button_recall_clicked);
    connect(m_save, &QPushButton::clicked, this, &CustomMode::on_Button_save_clicked);
    connect(m_delete, &QPushButton::clicked, this, &CustomMode::on_Button_delete_clicked);

    language_changed();
    SettingsPages::enterPage(this, PageRegistry::UserModes, [this](int code) { syncUpdate(code); },
                             [this] { on_Button_back_clicked(); });
}

CustomMode::~CustomMode() { PageRegistry::leave(PageRegistry::UserModes, this); }

bool CustomMode::shownSaved(const ImageView& view, int m) {
    return view.modeSaved(m - 1) || view.pendingSave() == m;
}

bool CustomMode::shownCurrent(const ImageView& view, int m) {
    return view.pendingSave() == m || (view.currentMode() == m && view.modeSaved(m - 1));
}

u32 CustomMode::shownMarks(const ImageView& view) {
    u32 marks = 0;
    for (int m = 1; m <= 16; ++m) {
        if (shownSaved(view, m)) marks |= 1u << (m - 1);
        if (shownCurrent(view, m)) marks |= 1u << (m + 15);
    }
    return marks;
}

void CustomMode::language_changed() {
    using ShellText::pick;
    m_title->setText(pick("用户模式", "User modes", "Пользовательские режимы", "Chế độ người dùng", "使用者模式"));
    SettingsPages::fitText(m_recall, pick("调用", "Recall", "Вызвать", "Gọi lại", "調用"));
    SettingsPages::fitText(m_save, pick("保存", "Save", "Сохранить", "Lưu", "儲存"));
    SettingsPages::fitText(m_delete, pick("删除", "Delete", "Удалить", "Xóa", "刪除"));
    mode_update();
}

void CustomMode::mode_update() {
    const ImageView view = PageView::get();
    m_drawnMarks = shownMarks(view);
    for (int m = 1; m <= 16; ++m) {
        QPushButton* b = m_modes[m - 1];
        const bool saved = shownSaved(view, m);
        const bool current = shownCurrent(view, m);
        const QString border = m == m_mode ? QStringLiteral("3px solid rgb(255,171,84)")
                                           : QStringLiteral("1px solid %1").arg(saved ? "#FFFFFF" : "#60647A");
        b->setStyleSheet(QString::fromLatin1(kModeStyle)
                             .arg(current ? "#4777FF" : "rgb(33, 36, 53)", saved ? "#FFFFFF" : "#60647A", border));
        ALIAS_PARA alias;
        QString name = ShellText::pick("模式%1", "Mode %1", "Режим %1", "Chế độ %1", "模式%1").arg(m);
        if (get_json_alias_para(&alias, "usermode", m) == 1) {
            b->ensurePolished();
            name = QFontMetrics(b->font()).elidedText(QString::fromStdString(alias.name), Qt::ElideRight,
                                                      b->width() - 12, Qt::TextShowMnemonic);
        }
        b->setText(name);
    }
}

void CustomMode::zrv_button_mode_clicked() {
    auto* b = qobject_cast<QPushButton*>(sender());
    if (!b) return;
    const int m = b->objectName().mid(int(qstrlen("Button_mode"))).toInt();
    if (m < 1 || m > 16) return;
    m_mode = m;
    mode_update();
}

void CustomMode::on_Button_recall_clicked() {
    // The recall itself finds an empty slot under the lock and does nothing.
    if (!MainWindow::recallUserMode(m_mode)) return;
    mode_update();
}

void CustomMode::on_Button_save_clicked() {
    model().ZrvRequestUserModeSave(m_mode);
    mode_update();
}

void CustomMode::on_Button_delete_clicked() {
    // The file routine takes the manager's mutex itself, and drops a save of
    // this mode not carried out yet, which would bring it back right after.
    bool removed = true;
    model().mode_file_deal(m_mode - 1, 1, &removed);
    editImage([&](PARA_RAM_IMAGE& live, const PARA_RAM_IMAGE&) {
        // A mode whose file stayed is still stored, and still current.
        if (!removed || live.word(LOADED_MODE) != m_mode) return false;
        live.setWord(LOADED_MODE, 0);
        return true;
    });
    mode_update();
    // The log has the line (the file routine's).
    if (!removed && g_tip)
        g_tip->tip_failed(ShellText::pick("用户模式%1删除失败!", "Deleting user mode %1 failed!",
                                          "Ошибка удаления режима %1!", "Xóa chế độ %1 thất bại!",
                                          "使用者模式%1刪除失敗!")
                              .arg(m_mode));
}

void CustomMode::syncUpdate(int code) {
    ZrvRamPara& m = model();
    if (m.ZrvLanguageChanged()) {
        language_changed();
        return;
    }
    // What the buttons show, not what changed in the image: a save drawn
    // while pending is drawn again once the persisting step carried it out
    // or failed.
    if (code == 2 || shownMarks(PageView::get()) != m_drawnMarks) mode_update();
}

void CustomMode::on_Button_back_clicked() {
    PageRegistry::leave(PageRegistry::UserModes, this);
    setAttribute(Qt::WA_DeleteOnClose);
    close();
    if (g_custommode == this) g_custommode = nullptr;
    if (g_mainwindow) g_mainwindow->language_changed();
    g_page_focus = PageRegistry::MainMenu;
}
