#include "fpga/fpga_jobs.h"

#include "ui/shell/guibridge.h"

#include <mutex>

namespace {
// Posters are pages of the GUI thread, but nothing stops a second thread
// from posting: they queue here, so one poster's parameters are never
// overwritten by another's while its job word is being set.
std::mutex g_post_mutex;
std::mutex g_qdfile_mutex;
QString g_qdfile_name;
}  // namespace

JobPost post_card_job(u8 job, const CardJobParams& params) {
    if (job < 1 || job > 6) return JobPost::Busy;
    std::lock_guard<std::mutex> lock(g_post_mutex);
    u16 idle = g_send_para.job_step.load();
    if ((idle & 0xFF) != 0 || g_usb_grade.load() != 0) return JobPost::Busy;
    // Only the FPGA thread changes the word now, and only towards idle: the
    // parameters can be written before the job appears.
    const LINE_TYPE_PARA oldLine = line_type;
    const u32 oldMapping = g_send_para.mapping_value;
    if (params.line) line_type = *params.line;
    if (params.mapping_value) g_send_para.mapping_value = *params.mapping_value;
    if (g_usb_grade.load() != 0 || !g_send_para.job_step.compare_exchange_strong(idle, job)) {
        line_type = oldLine;
        g_send_para.mapping_value = oldMapping;
        return JobPost::Busy;
    }
    fpga_handover::wake_fpga_thread();
    return JobPost::Posted;
}

JobPost post_usb_upgrade() {
    std::lock_guard<std::mutex> lock(g_post_mutex);
    u16 idle = g_send_para.job_step.load();
    if ((idle & 0xFF) != 0 || g_usb_grade.load() != 0) return JobPost::Busy;
    // Job 0 and step 0: only a poster (queued behind this one) sets a job.
    if (!g_send_para.job_step.compare_exchange_strong(idle, 0)) return JobPost::Busy;
    g_usb_grade.store(1, std::memory_order_release);
    fpga_handover::wake_fpga_thread();
    return JobPost::Posted;
}

void set_qdfile_name(const QString& path) {
    std::lock_guard<std::mutex> lock(g_qdfile_mutex);
    g_qdfile_name = path;
}

QString qdfile_name() {
    std::lock_guard<std::mutex> lock(g_qdfile_mutex);
    return g_qdfile_name;
}

fpga_job_notifier& fpga_job_notifier::get() {
    static fpga_job_notifier notifier;
    return notifier;
}

void fpga_job_notifier::toPage(u8 job, void (fpga_job_notifier::*quick)(int),
                               void (fpga_job_notifier::*advanced)(int), int value) {
    auto signal = job >= 1 && job <= 4 ? quick : advanced;
    GuiBridge::post([this, signal, value] { emit(this->*signal)(value); });
}

void fpga_job_notifier::progress(u8 job, int value) {
    toPage(job, &fpga_job_notifier::quick_progress, &fpga_job_notifier::advanced_progress, value);
}

void fpga_job_notifier::failed(u8 job) {
    toPage(job, &fpga_job_notifier::quick_failed, &fpga_job_notifier::advanced_failed, job);
}

void fpga_job_notifier::entry_found(const QString& text) {
    GuiBridge::post([this, text] { emit recovery_entry_found(text); });
}

void fpga_job_notifier::list_to_clear() {
    GuiBridge::post([this] { emit recovery_list_cleared(); });
}
