#include "ui/service/advancedoption.h"

#include "core/config_engine.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "core/zrvrampara.h"
#include "fpga/fpga_jobs.h"
#include "platform/fileops.h"
#include "protocol/k57_wifi_config.h"
#include "ui/service/ui_advancedoption.h"
#include "ui/settings/settings_pages.h"
#include "ui/shell/QRoundProgressBar.h"
#include "ui/shell/fpga_panel.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/option.h"
#include "ui/shell/page_registry.h"
#include "ui/shell/page_view.h"
#include "ui/shell/shell_text.h"
#include "ui/shell/tip.h"
#include "video_engine/c331_manage.h"
#include "video_io/it66121_sys.h"
#include "video_io/vimrasource.h"

#include <QPushButton>
#include <QVariant>

#include <cstring>

QPointer<AdvancedOption> g_advancedoption;

using namespace RamOffset;

namespace {

const char* const kMenuSelected = "background-color:#4777FF;color:#FFFFFF";
const char* const kMenuNormal = "background-color:#10101C;color:#FFFFFF";
const char* const kEntryNormal = "background-color: #10101C;color:rgb(255,255,255)";
const char* const kEntryGrey = "background-color: gray;color:rgb(255,255,255)";
const char* const kEntryBlue = "background-color: rgb(71, 119, 255); color:rgb(255,255,255)";
const char* const kTabActive = "color:#4777FF;";
const char* const kTabOther = "color:#FFFFFF;";
const char* const kResetNormal = "background-color:#10101C;color:#FFFFFF;border:1px solid rgb(255, 255, 255);";
const char* const kResetMarked = "background-color:#4777FF;color:#FFFFFF;border:1px solid rgb(255, 255, 255);";

constexpr u32 kAutoLock5 = 30000, kAutoLock10 = 60000, kNeverLock = 120000;
constexpr u16 kAudioOn = 0x80FF;
constexpr u8 kFadeSteps = 60;

// Bytes 896 to 1375 (custom EDID timings and what follows them up to the
// splice mode) survive the second reset.
constexpr u32 kKeptBegin = 896, kKeptLength = 480;

const char* const kDefaultIp = "192.168.1.199";
const char* const kDefaultMask = "255.255.255.0";
const char* const kDefaultGateway = "192.168.1.1";

QIcon picture(const char* name) { return QIcon(ShellText::picture(QString::fromLatin1(name))); }

ZrvRamPara* model() { return ZrvRamPara::p_zrvrampara_config; }


}  // namespace

AdvancedOption::AdvancedOption(QWidget* parent) : QDialog(parent), ui(new Ui_AdvancedOption) {
    ui->setupUi(this);
    ui->stackedWidget->setCurrentIndex(0);
    ui->stackedWidget_2->setCurrentIndex(0);

    ui->Button_back->setIcon(picture("back.png"));
    ui->Button_back->setIconSize(QSize(32, 32));
    m_selected = ui->Button_LCDshow;
    m_selected->setStyleSheet(QString::fromLatin1(kMenuSelected));

    const int idle = int(g_back_to_mainwindow_time.load());
    ui->label_time->setText(idleText(idle));
    ui->horizontalSlider->blockSignals(true);
    ui->horizontalSlider->setValue(idle);
    ui->horizontalSlider->blockSignals(false);

    const u32 lock = g_auto_lock_time.load();
    QPushButton* locks[3] = {ui->Button_5min, ui->Button_10min, ui->Button_never};
    const u32 lockTimes[3] = {kAutoLock5, kAutoLock10, kNeverLock};
    for (int k = 0; k < 3; ++k) {
        locks[k]->setIcon(picture(lock == lockTimes[k] ? "checked.png" : "unchecked.png"));
        locks[k]->setIconSize(QSize(32, 32));
    }

    ui->Button_DBD_open->setIconSize(QSize(32, 32));
    ui->Button_DBD_close->setIconSize(QSize(32, 32));
    ui->Button_timeplan->hide();
    ui->label_para_file->hide();
    ui->label_para_name->hide();

    QMetaObject::connectSlotsByName(this);

    para_init();
    language_changed();

    if (g_numberkeyboard)
        connect(g_numberkeyboard.data(), &NumberKeyboard::sendKeyBoardUIDataToLineEdit, this,
                &AdvancedOption::confirmString);

    // The card jobs report through the notifier, which delivers in the GUI
    // thread in order; the connections end with the dialog.
    fpga_job_notifier& jobs = fpga_job_notifier::get();
    connect(&jobs, &fpga_job_notifier::advanced_progress, this, &AdvancedOption::sig_qround_bar_update);
    connect(&jobs, &fpga_job_notifier::recovery_entry_found, this, [this](const QString& text) {
        m_entries.clear();
        m_entries << text;
        m_shown = 1;
        m_checkFailed = false;
        // Drawn now: by the time the job's change signal is served, the
        // periodic search may have put "none" into the card word again.
        if (rcv_self_recovery_ornot()) rcv_self_recovery_file_list();
    });
    connect(&jobs, &fpga_job_notifier::advanced_failed, this, &AdvancedOption::jobFailed);
    connect(&jobs, &fpga_job_notifier::recovery_list_cleared, this, [this] {
        if (m_shown == 0) return;
        m_entries.clear();
        m_shown = 0;
        if (ZrvRamPara* p = model()) p->test_signal(99);
    });

    PageOps ops;
    ops.refresh = [this](int code) { syncUpdate(code); };
    ops.back = [this] { on_Button_back_clicked(); };
    ops.agelog = [this] { update_agelog(); };
    PageRegistry::enter(PageRegistry::Advanced, this, ops);
}

AdvancedOption::~AdvancedOption() {
    PageRegistry::leave(PageRegistry::Advanced, this);
    delete ui;
}

void AdvancedOption::restyleFitted(QPushButton* b, const char* style) {
    b->setProperty("fitBaseStyle", QVariant());
    b->setStyleSheet(QString::fromLatin1(style));
    SettingsPages::fitText(b, b->text());
}

QString AdvancedOption::idleText(int v) {
    if (v < 6000) return QString::asprintf("%ds", v / 100);
    if (v > 17999) return QString::asprintf("%dm", 3);
    if (v % 6000) return QString::asprintf("%.1fm", double(float(double(v) / 6000)));
    return QString::asprintf("%dm", v / 6000);
}

void AdvancedOption::setRadio(QPushButton* on, std::initializer_list<QPushButton*> off) {
    on->setIcon(picture("checked.png"));
    for (QPushButton* b : off) b->setIcon(picture("unchecked.png"));
}

// ---------------------------------------------------------------- menu

void AdvancedOption::button_select(QPushButton* b) {
    if (m_selected) m_selected->setStyleSheet(QString::fromLatin1(kMenuNormal));
    m_selected = b;
    b->setStyleSheet(QString::fromLatin1(kMenuSelected));
}

bool AdvancedOption::showSubPage(int index, QPushButton* b) {
    if (g_qround_bar) return false;
    m_ageUnlocked = 0;
    ui->stackedWidget->setCurrentIndex(index);
    button_select(b);
    return true;
}

void AdvancedOption::on_Button_LCDshow_clicked() { showSubPage(0, ui->Button_LCDshow); }
void AdvancedOption::on_Button_timeplan_clicked() { showSubPage(2, ui->Button_timeplan); }

void AdvancedOption::on_Button_other_clicked() {
    if (!showSubPage(3, ui->Button_other)) return;
    ui->Button_seamless->setIconSize(QSize(32, 32));
    ui->Button_fade->setIconSize(QSize(32, 32));
    ui->Button_volume_state->setIconSize(QSize(70, 32));
    ui->Button_wifi_state->setIconSize(QSize(70, 32));
}

void AdvancedOption::on_Button_factory_clicked() {
    if (!showSubPage(4, ui->Button_factory)) return;
    markLanguage(ShellText::language());
    // The marks show the word as the video processor manager holds it now.
    u32 fonts = 0;
    if (c331_manage* c = c331_manage::p_c331_manage)
        fonts = c->font_status();
    else
        writeLogMsg(WARNING, "advanced page: no video processor manager, every font mark shows missing");
    const int bitOf[6] = {0, 1, 2, 3, 2, 3};  // 32 CN, 32 EN, 64 CN, 64 EN, 128 CN, 128 EN
    for (int k = 0; k < 6; ++k)
        ui->fontMark[k]->setPixmap(QPixmap(ShellText::picture(
            QString::fromLatin1(fonts & (1u << bitOf[k]) ? "osd_yes.bmp" : "osd_no.bmp"))));
}

void AdvancedOption::markLanguage(int current) {
    QPushButton* langs[5] = {ui->Button_chinese, ui->Button_english, ui->Button_ru, ui->Button_vn, ui->Button_tn};
    for (int k = 0; k < 5; ++k) {
        langs[k]->setIcon(picture(k == current ? "checked.png" : "unchecked.png"));
        langs[k]->setIconSize(QSize(32, 32));
    }
}

void AdvancedOption::setTab(QPushButton* active, QPushButton* other, QFrame* bar, int barX) {
    restyleFitted(active, kTabActive);
    restyleFitted(other, kTabOther);
    bar->move(barX, 57);
}

void AdvancedOption::on_Button_plan_clicked() {
    ui->stackedWidget_3->setCurrentIndex(0);
    setTab(ui->Button_plan, ui->Button_switch, ui->line_choose_2, 0);
}

void AdvancedOption::on_Button_switch_clicked() {
    ui->stackedWidget_3->setCurrentIndex(0);
    setTab(ui->Button_switch, ui->Button_plan, ui->line_choose_2, 305);
}

void AdvancedOption::on_Button_language_clicked() {
    ui->stackedWidget_2->setCurrentIndex(0);
    setTab(ui->Button_language, ui->Button_reset, ui->line_choose, 0);
}

void AdvancedOption::on_Button_reset_clicked() {
    ui->stackedWidget_2->setCurrentIndex(1);
    setTab(ui->Button_reset, ui->Button_language, ui->line_choose, 305);
}

void AdvancedOption::on_Button_back_clicked() {
    // A card job reports into this dialog until its overlay closes.
    if (g_qround_bar) return;
    PageRegistry::leave(PageRegistry::Advanced, this);
    setAttribute(Qt::WA_DeleteOnClose);
    close();
    if (g_advancedoption == this) g_advancedoption = nullptr;
    if (g_option) g_option->language_changed();
    g_page_focus = PageRegistry::Settings;
}

// ---------------------------------------------------------------- idle times

void AdvancedOption::on_horizontalSlider_valueChanged(int value) { ui->label_time->setText(idleText(value)); }

void AdvancedOption::on_horizontalSlider_sliderReleased() {
    g_back_to_mainwindow_time.store(u32(ui->horizontalSlider->value()));
}

void AdvancedOption::setAutoLock(u32 ticks) {
    QPushButton* on = ticks == kAutoLock5 ? ui->Button_5min : ticks == kAutoLock10 ? ui->Button_10min : ui->Button_never;
    std::initializer_list<QPushButton*> all = {ui->Button_5min, ui->Button_10min, ui->Button_never};
    for (QPushButton* b : all) b->setIcon(picture(b == on ? "checked.png" : "unchecked.png"));
    g_auto_lock_time.store(ticks);
}

void AdvancedOption::on_Button_5min_clicked() { setAutoLock(kAutoLock5); }
void AdvancedOption::on_Button_10min_clicked() { setAutoLock(kAutoLock10); }
void AdvancedOption::on_Button_never_clicked() { setAutoLock(kNeverLock); }

// ---------------------------------------------------------------- other settings

int AdvancedOption::audioWindow(const PARA_RAM_IMAGE& live, int index) {
    if (index < 0 || index > 5) return -1;
    int seen = 0;
    for (u32 w = 0; w < WIN_COUNT; ++w) {
        if (live.word(win(w) + WIN_ENABLE) == 0) continue;
        if (seen++ == index) return int(w);
    }
    return -1;
}

void AdvancedOption::para_init() {
    ZrvRamPara* p = model();
    if (!p) return;
    ui->ImageVolume->clear();
    int audio = 0;
    u16 enabled = 0;  // bit w: window w is on
    u8 wifi = 0;
    u16 effect = 0, dbd = 0;
    editImage([&](PARA_RAM_IMAGE& img, const PARA_RAM_IMAGE&) {
        for (u32 w = 0; w < WIN_COUNT; ++w)
            if (img.word(win(w) + WIN_ENABLE) != 0) enabled |= u16(1u << w);
        audio = img.sword(AUDIO_WINDOW);
        // A routed window that does not exist or is off falls back to window
        // 0, without asking the chip for anything.
        if (audio < 0 || audio > 5 || !(enabled & (1u << audio))) {
            img.setWord(AUDIO_WINDOW, 0);
            audio = 0;
        }
        wifi = img.byte(WIFI_AP);
        effect = img.word(SWITCH_EFFECT);
        dbd = img.word(DOT_BY_DOT);
        return false;
    });
    int index = 0, before = 0;
    for (int w = 0; w < int(WIN_COUNT); ++w) {
        if (!(enabled & (1u << w))) continue;
        if (w < audio) ++before;
        ++index;
        ui->ImageVolume->addItem(
            ShellText::pick("画面%1", "image%1", "Канал%1", "Hình ảnh%1", "畫麵%1").arg(w + 1));
    }
    // The routed window's item; with the routed window off (window 0 off as
    // well) no item is current.
    ui->ImageVolume->setCurrentIndex(enabled & (1u << audio) ? before : index);
    on_ImageVolume_currentIndexChanged(ui->ImageVolume->currentIndex());

    ui->Button_wifi_state->setIcon(picture(wifi ? "button_off.png" : "button_on.png"));
    if (effect)
        setRadio(ui->Button_fade, {ui->Button_seamless});
    else
        setRadio(ui->Button_seamless, {ui->Button_fade});
    if (dbd)
        setRadio(ui->Button_DBD_open, {ui->Button_DBD_close});
    else
        setRadio(ui->Button_DBD_close, {ui->Button_DBD_open});
}

void AdvancedOption::on_ImageVolume_currentIndexChanged(int index) {
    if (index > 5) return;
    const ImageView view = PageView::get();
    const int w = audioWindow(view.live, index);
    const bool on = w >= 0 && (view.live.word(win(u32(w)) + WIN_AUDIO) & 0x8000);
    ui->Button_volume_state->setIcon(picture(on ? "button_on.png" : "button_off.png"));
}

void AdvancedOption::on_Button_volume_state_clicked() {
    const int index = ui->ImageVolume->currentIndex();
    if (index > 5) return;
    bool on = false;
    // No current item names no window: there is nothing to switch (the
    // rest of the system knows audio windows 0 to 5 only).
    if (!editImage([&](PARA_RAM_IMAGE& img, const PARA_RAM_IMAGE&) {
            const int w = audioWindow(img, index);
            if (w < 0) return false;
            const u32 at = win(u32(w)) + WIN_AUDIO;
            on = !(img.word(at) & 0x8000);
            img.setWord(AUDIO_WINDOW, u16(w));
            img.setWord(at, on ? kAudioOn : 0);
            return true;
        }))
        return;
    ui->Button_volume_state->setIcon(picture(on ? "button_on.png" : "button_off.png"));
}

void AdvancedOption::setEffect(bool fade) {
    if (fade)
        setRadio(ui->Button_fade, {ui->Button_seamless});
    else
        setRadio(ui->Button_seamless, {ui->Button_fade});
    ZrvRamPara* p = model();
    if (!p) return;
    editImage([&](PARA_RAM_IMAGE& img, const PARA_RAM_IMAGE&) {
        img.setByte(SWITCH_EFFECT, fade ? 1 : 0);
        for (u32 s = 0; s < WIN_SLOTS; ++s) {
            const u32 flags = win(s) + WIN_OUTPUT;
            if (fade) {
                img.setByte(fadeIn(s), kFadeSteps);
                img.setByte(fadeOut(s), kFadeSteps);
                img.setByte(flags, u8(img.byte(flags) | 0x04));
            } else {
                img.setByte(flags, u8(img.byte(flags) & ~0x04));
            }
        }
        return true;
    });
    p->ram_para_save();
}

void AdvancedOption::on_Button_seamless_clicked() { setEffect(false); }
void AdvancedOption::on_Button_fade_clicked() { setEffect(true); }

void AdvancedOption::setPointToPoint(bool on) {
    if (on)
        setRadio(ui->Button_DBD_open, {ui->Button_DBD_close});
    else
        setRadio(ui->Button_DBD_close, {ui->Button_DBD_open});
    ZrvRamPara* p = model();
    if (!p) return;
    editImage([&](PARA_RAM_IMAGE& img, const PARA_RAM_IMAGE&) {
        img.setByte(DOT_BY_DOT, on ? 1 : 0);
        // The high byte of the output flags: bit 8 on or off, bits 9 to 15 clear.
        for (u32 s = 0; s < WIN_SLOTS; ++s) img.setByte(win(s) + WIN_OUTPUT + 1, on ? 1 : 0);
        return true;
    });
    p->ram_para_save();
}

void AdvancedOption::on_Button_DBD_open_clicked() { setPointToPoint(true); }
void AdvancedOption::on_Button_DBD_close_clicked() { setPointToPoint(false); }

void AdvancedOption::on_Button_wifi_state_clicked() {
    if (!model()) return;
    bool turnOn = false;
    editImage([&](PARA_RAM_IMAGE& img, const PARA_RAM_IMAGE&) {
        turnOn = img.byte(WIFI_AP) != 0;
        img.setByte(WIFI_AP, turnOn ? 0 : 1);
        return true;
    });
    if (turnOn) {
        if (K57_WIFI_CONFIG* wifi = K57_WIFI_CONFIG::p_wifi)
            wifi->set_wifi_reset_flag();
        else
            writeLogMsg(WARNING, "advanced page: no Wi-Fi manager, the access point is not restarted");
        ui->Button_wifi_state->setIcon(picture("button_on.png"));
    } else {
        Utils::system_mutex(QString::fromLatin1(K57_WIFI_CONFIG::kStopAp));
        Utils::system_mutex(QString::fromLatin1(K57_WIFI_CONFIG::kStopDhcp));
        ui->Button_wifi_state->setIcon(picture("button_off.png"));
    }
}

void AdvancedOption::on_modeButton_clicked() {
    vimrasource* source = vimrasource::p_vimra_source;
    if (!source || !source->p_it66121) {
        writeLogMsg(WARNING, "advanced page: no input-source manager, the SDI receiver is not reset");
        return;
    }
    source->it66121().GS2971_Reset();
}

// ---------------------------------------------------------------- languages

void AdvancedOption::setLanguage(int n) {
    const bool changed = editImage([&](PARA_RAM_IMAGE& img, const PARA_RAM_IMAGE&) {
        if (img.byte(LANGUAGE) == n) return false;
        img.setByte(LANGUAGE, u8(n));
        return true;
    });
    if (!changed) return;
    markLanguage(n);
    g_language.store(u8(n));
    language_changed();
}

void AdvancedOption::on_Button_chinese_clicked() { setLanguage(0); }
void AdvancedOption::on_Button_english_clicked() { setLanguage(1); }
void AdvancedOption::on_Button_ru_clicked() { setLanguage(2); }
void AdvancedOption::on_Button_vn_clicked() { setLanguage(3); }
void AdvancedOption::on_Button_tn_clicked() { setLanguage(4); }

void AdvancedOption::language_changed() {
    int files = 0;
    // The count keeps its value without the manager or the folder; 256 files
    // and more still count as files.
    if (FpgaPanel::recoveryFileCount(&files)) m_recoveryCount = u8(std::min(files, 255));

    using ShellText::pick;
    using SettingsPages::fitText;
    fitText(ui->label_title, pick("高级设置", "Advanced Settings", "Доп.опции", "Cài đặt nâng cao", "高級設置"));
    fitText(ui->label_backmainwindow,
            pick("返回主界面时长", "To main interface", "Возврат к главному", "Quay lại màn hình chính", "返回主界麵時長"));
    fitText(ui->label_autolock,
            pick("自动锁屏", "Auto-screen lock", "Автоблокировка", "Tự đọng khoá màn hình", "自動鎖屏"));
    fitText(ui->label_5min, pick("5分钟", "5min", "5 мин", "5 phút", "5分鐘"));
    fitText(ui->label_10min, pick("10分钟", "10min", "10 мин", "10 phút", "10分鐘"));
    fitText(ui->label_never, pick("从不", "Never", "Отключить", "Không bao giờ khoá", "從不"));
    fitText(ui->label_rcv_update, pick("接收卡更新", "Receiving card update", "Получить обновление карты",
                                       "Nhận thông tin cập nhập về thẻ", "接收卡更新"));
    fitText(ui->Button_self_recovery, pick("恢复", "Restore", "Восстановить", "Phục hồi", "恢複"));
    fitText(ui->Button_check, pick("查询", "Query", "Считать", "Tìm hiểu", "查詢"));
    fitText(ui->Button_plan, pick("计划任务", "Planning Tasks", "Расписание задач", "Nhiệm vụ theo lịch trình", "計劃任務"));
    fitText(ui->Button_switch, pick("定时切换", "Timer switch", "Расписание задач", "Kế hoạch thời gian", "定時切換"));
    fitText(ui->label_name_volume, pick("音量", "Volume", "Звук", "âm thanh", "音量"));
    fitText(ui->label_name_switch, pick("切换特效", "Switch mode", "Эффект", "Hiệu ứng", "切換特效"));
    fitText(ui->label_name_mode, pick("投屏设备", "Projection", "Радиоприбор", "Cài đặt Thiết bị", "投屏設備"));
    fitText(ui->label_wifi, pick("WIFI状态", "Wifi state", "WiFi статус", "Trạng thái wifi", "WIFI狀態"));
    fitText(ui->label_seamless, pick("无缝快切", "Seamless", "Быстро", "Chuyển đổi ngay", "無縫快切"));
    fitText(ui->label_fade, pick("淡入淡出", "Fade", "Плавно", "và ngoài", "淡入淡出"));
    fitText(ui->modeButton, pick("点击切换", "Click OK", "Нажмите ОК", "Đồng ý", "點擊切換"));
    fitText(ui->label_name_DBD, pick("点对点", "DBD", "Пиксель к пикселю", "Điểm tới điểm", "點對點"));
    fitText(ui->label_DBD_open, pick("开启", "ON", "Вкл", "Mở", "開啟"));
    fitText(ui->label_DBD_open_2, pick("关闭", "OFF", "Откл", "Đóng", "關閉"));
    fitText(ui->Button_language, pick("语言", "language", "Язык", "Ngôn ngữ", "語言"));
    fitText(ui->label_language, pick("语言", "language", "Язык", "Ngôn ngữ", "語言"));
    fitText(ui->Button_reset, pick("工厂复位", "Factory reset", "Сброс настроек", "Khôi phục cài đặt gốc", "工廠複位"));
    const char* fontNames[6][2] = {{"32高中文", "32 CN"},   {"32高英文", "32 EN"},   {"64高中文", "64 CN"},
                                   {"64高英文", "64 EN"},   {"128高中文", "128 CN"}, {"128高英文", "128 EN"}};
    for (int k = 0; k < 6; ++k)
        fitText(ui->fontName[k], pick(fontNames[k][0], fontNames[k][1], fontNames[k][1], fontNames[k][1], fontNames[k][0]));
    fitText(ui->Button_reset1, pick("保持IP不变", "Keep IP", "Сохранить IP", "Giữ nguyên IP", "保持IP不變"));
    fitText(ui->Button_reset2, pick("IP和EDID保持不变", "Keep IP,EDIP", "Сохранить IP и EDID",
                                    "IP và EDID vẫn giữ nguyên", "IP和EDID保持不變"));
    fitText(ui->Button_reset3, pick("全部恢复出厂设置", "Reset ALL", "Сбросить все", "Khôi phục cài đặt gốc tất cả",
                                    "全部恢複出廠設置"));
    ui->Button_LCDshow->setText(pick("液晶显示", "LCD display", "ЖК дисплей", "Màn hình LCD", "液晶顯示"));
    ui->Button_rcv_recovery->setText(
        pick("接收卡自恢复", "Rcv\nself-recovery", "Самовосст\nановление", "Thẻ nhận tự\nphục hồi", "接收卡自恢複"));
    ui->Button_timeplan->setText(
        pick("计划任务", "Planning Tasks", "Расписание задач", "Nhiệm vụ theo lịch trình", "計劃任務"));
    ui->Button_other->setText(pick("其它设置", "Other Settings", "Другие\nнастройки", "Cài đặt khác", "其它設置"));
    ui->Button_factory->setText(
        pick("工厂设置", "Factory setup", "Системные\nнастройки", "Khôi phục\ncàiđăt gốc", "工廠設置"));
    ui->Button_factory_age->setText(pick("工厂老化", "Aging", "Заводское\nстрение", "Lão hóa\nnhà máy", "工廠老化"));

    if (m_recoveryCount == 0)
        ui->Button_rcv_recovery->setStyleSheet(QString::fromLatin1(kEntryGrey));
    else
        ui->Button_rcv_recovery->setStyleSheet(
            QString::fromLatin1(m_selected == ui->Button_rcv_recovery ? kEntryBlue : kEntryNormal));
}

// ---------------------------------------------------------------- refresh

void AdvancedOption::syncUpdate(int code) {
    ZrvRamPara* p = model();
    if (!p) return;
    const bool language = p->ZrvLanguageChanged() != 0;
    if (language) {
        language_changed();
        // A language written by the PC or by a factory reset: the marks of
        // the languages tab show it too, not the one chosen before.
        markLanguage(ShellText::language());
    }

    const ImageView view = PageView::get();
    auto differs = [&](u32 at) { return view.differs(at, 2); };
    const int audio = view.live.sword(AUDIO_WINDOW);
    bool audioChanged = differs(AUDIO_WINDOW) || differs(SWITCH_EFFECT) ||
                        (audio >= 0 && audio <= 5 && differs(win(u32(audio)) + WIN_AUDIO));
    for (u32 w = 0; w < WIN_COUNT; ++w) audioChanged = audioChanged || differs(win(w) + WIN_ENABLE);
    if (language || audioChanged) para_init();

    // A file stored or deleted over the protocol: the entry follows the
    // folder, and an open recovery sub-page with nothing left closes.
    if (code == 103) {
        language_changed();
        if (m_recoveryCount == 0 && rcv_self_recovery_ornot()) {
            on_Button_back_clicked();
            return;
        }
    }

    u16 card = 0xFFFF;
    const bool named = FpgaPanel::cardToRecover(&card) && card != 0xFFFF && card != 0x00FF;
    if ((code == 99 || named) && rcv_self_recovery_ornot()) rcv_self_recovery_file_list();
}

// ---------------------------------------------------------------- factory resets

bool AdvancedOption::resetNetwork() {
    ConfigEngine* config = ConfigEngine::p_config;
    if (!config) {
        writeLogMsg(ERROR, "factory reset: the settings store is not loaded, the network settings are kept");
        return false;
    }
    // Done only when the file holds the factory address and eth0 took it;
    // what memory holds says nothing of the file after a start that could
    // not read it.
    switch (config->apply_network(QString::fromLatin1(kDefaultIp), QString::fromLatin1(kDefaultMask),
                                  QString::fromLatin1(kDefaultGateway))) {
    case ConfigEngine::NetworkFault::None: FileOps::syncAll(); return true;
    case ConfigEngine::NetworkFault::NotTaken:
        writeLogMsg(ERROR, "factory reset: the network settings were not reset, eth0 did not take the factory address");
        return false;
    case ConfigEngine::NetworkFault::Unreadable:
    case ConfigEngine::NetworkFault::NotWritten: break;
    }
    // Setting eth0 up again would only bring back the old address.
    writeLogMsg(ERROR, "factory reset: the network settings were not reset, the settings file did not take them");
    return false;
}

void AdvancedOption::factoryReset(int k, QPushButton* b) {
    ZrvRamPara* p = model();
    if (!p) return;
    if (m_reset) restyleFitted(m_reset, kResetNormal);
    m_reset = nullptr;
    // "Reset ALL" that cannot reset the network is not done at all: the
    // device stays as it was, no button reads as done, the failure shows.
    if (k == 3 && !resetNetwork()) {
        if (g_tip)
            g_tip->tip_failed(ShellText::pick("网络设置复位失败!", "Resetting the network settings failed!",
                                              "Ошибка сброса настроек сети!", "Khôi phục cài đặt mạng thất bại!",
                                              "網絡設置複位失敗!"));
        return;
    }
    bool wifiBack = false;
    editImage([&](PARA_RAM_IMAGE& live, const PARA_RAM_IMAGE& shadow) {
        const u8 wifiBefore = live.byte(WIFI_AP);
        u8 kept[kKeptLength];
        std::memcpy(kept, &live.data[kKeptBegin], kKeptLength);
        std::memcpy(&live.data[PERSIST_BEGIN], &default_para_ramlist[RamFile::DATA_OFFSET], PERSIST_LEN);
        if (k == 2) std::memcpy(&live.data[kKeptBegin], kept, kKeptLength);
        p->countBrightnessWrite();
        p->factoryWordsWritten();
        if (live.word(SPLICE_MODE) != shadow.word(SPLICE_MODE) || live.word(WALL_WIDTH) != shadow.word(WALL_WIDTH) ||
            live.word(WALL_HEIGHT) != shadow.word(WALL_HEIGHT))
            FpgaPanel::requestLedReinit();
        // The access point comes back now, as the page will show it.
        wifiBack = wifiBefore == 1 && live.byte(WIFI_AP) == 0;
        return true;
    });
    // The factory table's crops replace the old ones: the crop pages must
    // not offer crops whose records are gone.
    p->ZrvCropSourceInit();
    if (wifiBack) {
        if (K57_WIFI_CONFIG* wifi = K57_WIFI_CONFIG::p_wifi)
            wifi->set_wifi_reset_flag();
        else
            writeLogMsg(WARNING, "factory reset: no Wi-Fi manager, the access point is not restarted");
    }
    m_reset = b;
    restyleFitted(b, kResetMarked);
}

void AdvancedOption::on_Button_reset1_clicked() { factoryReset(1, ui->Button_reset1); }
void AdvancedOption::on_Button_reset2_clicked() { factoryReset(2, ui->Button_reset2); }
void AdvancedOption::on_Button_reset3_clicked() { factoryReset(3, ui->Button_reset3); }
