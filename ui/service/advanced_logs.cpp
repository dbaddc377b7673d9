// The advanced dialog's factory ageing log (behind its access code) and its
// receiving-card check and self-recovery sub-page.
#include "ui/service/advancedoption.h"

#include "core/logMsg.h"
#include "core/utils.h"
#include "ui/service/service_pages.h"
#include "ui/service/ui_advancedoption.h"
#include "ui/settings/settings_pages.h"
#include "ui/shell/QRoundProgressBar.h"
#include "ui/shell/fpga_panel.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/shell_text.h"
#include "ui/shell/tip.h"

#include <QDateTime>
#include <QFontInfo>
#include <QFontMetrics>
#include <QTextDocument>
#include <QMutexLocker>

namespace {

const char* const kAccessCode = "5719";
constexpr int kLogPageLines = 16;
const char* const kStatusNames[5] = {"DDR0", "DDR1", "DE", "HS", "VS"};

const char* const kJobIdle = "background-color:#10101C;color:#FFFFFF";
const char* const kJobActive = "background-color:#4777FF;color:#FFFFFF";
const char* const kRowPlain = "background-color: rgb(33, 36, 53);color: #FFFFFF";
const char* const kRowPlainSel = "background-color: rgb(33, 36, 53);color: #FFFFFF;";
const char* const kRowMarked = "background-color:#4777FF;color: #FFFFFF;";
constexpr int kRowsPerPage = 5;

QString now() {
    QMutexLocker lock(&Utils::_system_mutex);
    return QDateTime::currentDateTime().toString(QStringLiteral("MM-dd hh:mm"));
}

// A check that ended in an error (the package cannot be read or used).
QString checkFailedText() {
    return ShellText::pick("接收卡查询失败!", "Receiving card query failed!", "Ошибка считывания карт!",
                           "Tìm hiểu thẻ nhận thất bại!", "接收卡查詢失敗!");
}

QString threeDigits(const QString& field) { return QStringLiteral("%1").arg(field.toInt(), 3, 10, QLatin1Char('0')); }

// The five status names of register 40, green for a set bit, red for a
// clear one, each followed by a blank.
QString statusBits(const QString& field) {
    const int bits = field.toInt();
    QString out;
    for (int b = 0; b < 5; ++b)
        out += QString::fromLatin1(bits & (1 << b) ? ShellText::kGood : ShellText::kFault)
                   .arg(QLatin1String(kStatusNames[b])) +
               ' ';
    return out;
}

QString buckets(u32 d3, u32 d5, u32 d10, u32 d20, u32 more) {
    return QStringLiteral("%1<3  %2<5  %3<10  %4<20  %5>20 ").arg(d3).arg(d5).arg(d10).arg(d20).arg(more);
}

// An entry "01/02/03/04" (screen, port, card, cards on the port).
struct Entry {
    QStringList parts;
    bool wellFormed = false;  // four decimal fields
    bool beyond = false;      // the card lies beyond the cards the file describes
};

Entry parseEntry(const QString& text) {
    Entry e;
    e.parts = text.split('/');
    if (e.parts.size() != 4) return e;
    bool ok[4];
    int v[4];
    for (int k = 0; k < 4; ++k) v[k] = e.parts[k].toInt(&ok[k], 10);
    e.wellFormed = ok[0] && ok[1] && ok[2] && ok[3];
    e.beyond = e.wellFormed && v[3] < v[2];
    return e;
}

// Self-recovery replays the whole finding: an entry it cannot name a card
// from blocks it, shown or not.
bool blocks(const QStringList& entries) {
    for (const QString& e : entries) {
        const Entry p = parseEntry(e);
        if (!p.wellFormed || p.beyond) return true;
    }
    return false;
}

// The log's lines are shown as written: rich text would fold their runs of
// blanks (before the second output's figures, after the time) into one.
QString asWritten(const QString& html) {
    return QStringLiteral("<div style=\"white-space:pre\">") + html + QStringLiteral("</div>");
}

// The log's lines are as wide as their fixed format: on a panel font wider
// than the form's they are set a pixel smaller at a time until the widest
// line fits (not below 8 px).
void fitLines(QLabel* label, const QString& text) {
    QTextDocument doc;
    if (label->textFormat() == Qt::RichText)
        doc.setHtml(text);
    else
        doc.setPlainText(text);
    const QStringList lines = doc.toPlainText().split('\n');
    QFont fitted = ServicePages::pointFont(label->parentWidget(), 9);
    int px = QFontInfo(fitted).pixelSize();
    for (; px > 8; --px) {
        fitted.setPixelSize(px);
        const QFontMetrics fm(fitted);
        int widest = 0;
        for (const QString& l : lines) widest = std::max(widest, fm.horizontalAdvance(l));
        if (widest <= label->contentsRect().width()) break;
    }
    fitted.setPixelSize(px);
    label->setFont(fitted);
    label->setText(text);
}

}  // namespace

// ---------------------------------------------------------------- ageing log

void AdvancedOption::on_Button_factory_age_clicked() {
    if (g_qround_bar || m_ageUnlocked) return;
    if (!g_numberkeyboard) {
        writeLogMsg(WARNING, "advanced page: no keypad for the ageing log's code");
        return;
    }
    // No field of any page is being edited: the value is the code.
    g_lineedit = nullptr;
    m_codeAsked = true;
    g_numberkeyboard->label_show(QStringLiteral("key"), QStringLiteral("**********"));
    g_numberkeyboard->exec();
    m_codeAsked = false;
}

void AdvancedOption::confirmString(QString text) {
    if (!m_codeAsked) return;
    m_codeAsked = false;
    if (text != QLatin1String(kAccessCode)) return;
    ui->stackedWidget->setCurrentIndex(5);
    button_select(ui->Button_factory_age);
    ageloginit();
    m_ageUnlocked = 1;
}

void AdvancedOption::ageloginit() {
    if (!factoryage_log.isEmpty()) {
        update_agelog();
        return;
    }
    ui->label_log1->setText(asWritten(now() + QStringLiteral("  ") + QStringLiteral("正在老化中...")));
    ui->label_3->setText(QStringLiteral("OUT1:0<3 0<5 0<10 0<20 0>20    OUT2:0<3 0<5 0<10 0<20 0>20"));
    ui->page_info->setText(QStringLiteral("0"));
    ui->label_page->setText(QStringLiteral("0/0"));
}

void AdvancedOption::update_agelog() {
    const int n = factoryage_log.size();
    if (n == 0) {
        ageloginit();
        return;
    }
    const int pages = (n + kLogPageLines - 1) / kLogPageLines;
    if (m_agePage >= pages) m_agePage = pages - 1;
    QString text;
    bool first = true;
    const int end = std::min(n, kLogPageLines * (m_agePage + 1));
    for (int i = kLogPageLines * m_agePage; i < end; ++i) {
        const QStringList f = factoryage_log.at(i).split(' ');
        if (f.size() != 8) continue;
        if (!first) text += QStringLiteral("<br>");
        first = false;
        text += f[0] + ' ' + f[1] + ' ' + threeDigits(f[2]) + ' ' + statusBits(f[3]) + threeDigits(f[4]) +
                QStringLiteral("    ,") + threeDigits(f[5]) + ' ' + statusBits(f[6]) + threeDigits(f[7]);
    }
    fitLines(ui->label_log1, asWritten(text));
    fitLines(ui->label_3, QStringLiteral("OUT1:") +
                              buckets(factoryage_log_diff3, factoryage_log_diff5, factoryage_log_diff10,
                                      factoryage_log_diff20, factoryage_log_diffmore) +
                              QStringLiteral("    OUT2:") +
                              buckets(factoryage_log2_diff3, factoryage_log2_diff5, factoryage_log2_diff10,
                                      factoryage_log2_diff20, factoryage_log2_diffmore));
    ui->label_page->setText(QStringLiteral("%1/%2").arg(m_agePage + 1).arg(pages));
    ui->page_info->setText(QString::number(n));
}

void AdvancedOption::on_next_clicked() {
    const int n = factoryage_log.size();
    if (n == 0) return;
    const int pages = (n + kLogPageLines - 1) / kLogPageLines;
    m_agePage = m_agePage + 1 >= pages ? 0 : m_agePage + 1;
    ageloginit();
}

void AdvancedOption::on_pre_clicked() {
    const int n = factoryage_log.size();
    if (n == 0) return;
    const int pages = (n + kLogPageLines - 1) / kLogPageLines;
    m_agePage = m_agePage - 1 < 0 ? pages - 1 : m_agePage - 1;
    ageloginit();
}

// ---------------------------------------------------------------- card recovery

bool AdvancedOption::rcv_self_recovery_ornot() const { return m_selected == ui->Button_rcv_recovery; }

void AdvancedOption::on_Button_rcv_recovery_clicked() {
    if (m_recoveryCount == 0 || g_qround_bar) return;
    m_ageUnlocked = 0;
    ui->stackedWidget->setCurrentIndex(1);
    button_select(ui->Button_rcv_recovery);
    restyleFitted(ui->Button_check, kJobIdle);
    restyleFitted(ui->Button_self_recovery, kJobIdle);
    rcv_self_recovery_file_list();
}

void AdvancedOption::rcv_self_recovery_file_list() {
    QFrame* frame = SettingsPages::renewFrame(
        m_fileFrame, ui->page_2, "frame_file", QRect(10, 90, 580, 240),
        QStringLiteral("#frame_file{background-color: rgb(33, 36, 53);border:1px solid #FFFFFF;}"));
    // Nothing of the old frame is reached any more.
    for (int r = 0; r < kRowsPerPage; ++r) {
        m_rowLabel[r] = nullptr;
        m_rowText[r].clear();
    }
    m_selectedRow = -1;
    const QFont font = ServicePages::pointFont(ui->page_2, 15);

    m_blocked = blocks(m_entries) ? 1 : 0;

    auto label = [&](const QRect& where, const QString& text, const char* style) {
        auto* l = new QLabel(frame);
        l->setGeometry(where);
        l->setFont(font);
        l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        l->setStyleSheet(QString::fromLatin1(style));
        l->setText(text);
        return l;
    };

    if (m_shown == 0) {
        // A check that failed found nothing, but it did not find that no
        // card needs its data either.
        QLabel* l = label(QRect(5, 5, 570, 40),
                          m_checkFailed ? checkFailedText()
                                        : ShellText::pick("暂无接收卡需要更新!", "No receiving cards that need to be updated!",
                                                          "Обновление принимающих карт не требуется!",
                                                          "Chưa có thẻ nhận nào để cập nhật!", "暫無接收卡需要更新!"),
                          kRowPlain);
        SettingsPages::fitText(l, l->text());
    } else {
        const int base = kRowsPerPage * m_listPage;
        const u32 n = m_shown >= u32(kRowsPerPage * (m_listPage + 1)) ? u32(kRowsPerPage) : m_shown % kRowsPerPage;
        const int lang = ShellText::language();
        const char* words[4] = {"Find", "Screen", "LED", "Rcv"};
        const char* zh[4] = {"发现", "屏幕", "网口LED", "接收卡"};
        const char* tw[4] = {"髮現", "屏幕", "網口LED", "接收卡"};
        const char* const* w = lang == 0 ? zh : lang == 4 ? tw : words;
        for (int i = base; i < base + int(n) && i < m_entries.size(); ++i) {
            const Entry p = parseEntry(m_entries.at(i));
            if (p.parts.size() < 3) continue;  // names no card: no row
            const int r = i - base;
            const char* colour = p.beyond ? ShellText::kFault : ShellText::kNeutral;
            const QString text = QString::fromUtf8(w[0]) + ' ' + QString::fromUtf8(w[1]) + p.parts[0].toHtmlEscaped() +
                                 QStringLiteral(", ") + QString::fromUtf8(w[2]) + p.parts[1].toHtmlEscaped() +
                                 QStringLiteral(", ") + QString::fromUtf8(w[3]) +
                                 QString::fromLatin1(colour).arg(p.parts[2].toHtmlEscaped());
            // The first row drawn carries the selection.
            const bool selected = m_selectedRow < 0;
            QLabel* l = label(QRect(5, 5 + 45 * r, 520, 40), text, selected ? kRowMarked : kRowPlain);
            l->setTextFormat(Qt::RichText);
            auto* b = new QPushButton(frame);
            b->setObjectName(QString::number(r));
            b->setGeometry(5, 5 + 45 * r, 520, 40);
            b->setFlat(true);
            b->setFocusPolicy(Qt::NoFocus);
            b->setStyleSheet(QStringLiteral("background-color: transparent;border:none;"));
            connect(b, &QPushButton::clicked, this, &AdvancedOption::zrv_button_rcv_data_list_file_clicked);
            m_rowLabel[r] = l;
            m_rowText[r] = text;
            if (selected) m_selectedRow = r;
        }
    }

    auto pager = [&](const QRect& where, const char* icon, void (AdvancedOption::*slot)()) {
        auto* b = new QPushButton(frame);
        b->setGeometry(where);
        b->setFocusPolicy(Qt::NoFocus);
        b->setIcon(QIcon(ShellText::picture(QString::fromLatin1(icon))));
        b->setIconSize(QSize(50, 50));
        b->setStyleSheet(QStringLiteral("background-color: rgb(33, 36, 53);"));
        connect(b, &QPushButton::clicked, this, slot);
    };
    if (m_listPage >= 1) pager(QRect(530, 5, 50, 50), "previous.png", &AdvancedOption::zrv_Button_previous_clicked);
    if (m_listPage < m_lastPage) pager(QRect(530, 185, 50, 50), "next.png", &AdvancedOption::zrv_Button_next_clicked);

    frame->show();
    ui->stackedWidget->setCurrentIndex(1);
}

void AdvancedOption::zrv_button_rcv_data_list_file_clicked() {
    bool ok = false;
    const int r = sender() ? sender()->objectName().toInt(&ok) : -1;
    if (!ok || r < 0 || r >= kRowsPerPage || !m_rowLabel[r]) return;
    if (m_selectedRow >= 0 && m_rowLabel[m_selectedRow])
        m_rowLabel[m_selectedRow]->setStyleSheet(QString::fromLatin1(kRowPlainSel));
    m_selectedRow = r;
    debugPrintf("\n recovery row %d: %s \n", r, qPrintable(m_rowText[r]));
    m_rowLabel[r]->setStyleSheet(QString::fromLatin1(kRowMarked));
}

void AdvancedOption::zrv_Button_previous_clicked() {
    m_listPage = qint8(std::max(0, m_listPage - 1));
    rcv_self_recovery_file_list();
}

void AdvancedOption::zrv_Button_next_clicked() {
    m_listPage = qint8(m_listPage + 1 > m_lastPage ? 0 : m_listPage + 1);
    rcv_self_recovery_file_list();
}

bool AdvancedOption::startJob(u8 job) {
    QRoundProgressBar::create_qround_bar(this);
    if (g_qround_bar)
        connect(this, &AdvancedOption::sig_qround_bar_update, g_qround_bar.data(), &QRoundProgressBar::para_sync,
                Qt::UniqueConnection);
    if (FpgaPanel::postJob(job, nullptr)) return true;
    // Posted by someone else meanwhile: nobody would report to this overlay.
    if (g_qround_bar) g_qround_bar->para_sync(100);
    return false;
}

void AdvancedOption::on_Button_check_clicked() {
    // One job at a time, and only with a thread to run it.
    if (!FpgaPanel::exists() || FpgaPanel::jobRunning()) {
        writeLogMsg(WARNING, "advanced page: card check refused, no FPGA manager or a job in progress");
        return;
    }
    m_shown = 0;
    m_checkFailed = false;
    restyleFitted(ui->Button_self_recovery, kJobIdle);
    restyleFitted(ui->Button_check, kJobActive);
    rcv_self_recovery_file_list();
    startJob(5);
}

void AdvancedOption::on_Button_self_recovery_clicked() {
    if (!FpgaPanel::exists() || FpgaPanel::jobRunning()) {
        writeLogMsg(WARNING, "advanced page: card recovery refused, no FPGA manager or a job in progress");
        return;
    }
    m_blocked = blocks(m_entries) ? 1 : 0;
    if (m_blocked || m_entries.isEmpty()) return;
    restyleFitted(ui->Button_check, kJobIdle);
    restyleFitted(ui->Button_self_recovery, kJobActive);
    rcv_self_recovery_file_list();
    startJob(6);
}

void AdvancedOption::jobFailed(int job) {
    if (job == 5) {
        m_checkFailed = true;
        if (rcv_self_recovery_ornot()) rcv_self_recovery_file_list();
    }
    if (g_tip)
        g_tip->tip_failed(job == 5 ? checkFailedText()
                                   : ShellText::pick("接收卡恢复失败!", "Receiving card restore failed!",
                                                     "Ошибка восстановления карты!", "Phục hồi thẻ nhận thất bại!",
                                                     "接收卡恢複失敗!"));
}
