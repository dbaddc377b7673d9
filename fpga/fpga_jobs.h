#pragma once
// The job mailbox from the front panel to the FPGA thread and the quick
// set-up record, in their wire formats (little-endian), and the USB upgrade
// request. Other threads reach them only through these accessors: job and
// step are one atomic 16-bit word, the reply flag and the card to recover
// are atomics of their own.
#include "core/global.h"
#include "fpga/fpga_handover.h"

#include <QObject>
#include <QString>

#include <atomic>

struct SEND_PARA {
    // Bytes 0-1: job (low byte) and step (high byte).
    std::atomic<u16> job_step{0};
    u8 port = 0;               // 2: 0-23
    u8 packet_count = 0;       // 3
    u16 packet_index = 0;      // 4-5
    std::atomic<u8> reply{0};  // 6: a card's class 'g' reply reached the controller
    u16 card_index = 0;        // 8-9
    u16 cards_on_port = 0;     // 10-11
    u16 frame_length = 0;      // 12-13
    u32 mapping_value = 0;     // 16-19: 9 on, 0 off
    u32 step_tick = 0;         // 20-23
    u8 screen_index = 0;       // 24
    u8 net_index = 0;          // 25
    u8 net_card_index = 0;     // 26
    u8 operation_index = 0;    // 27
    u8 operation_step = 0;     // 28
    std::atomic<u16> card_to_recover{0xFFFF};  // 30-31: 0xFFFF no answer yet, 0xFF none
    u8 retry = 0;              // 32

    u8 job() const { return u8(job_step.load() & 0xFF); }
    u8 step() const { return u8(job_step.load() >> 8); }
    void setStep(u8 step) { job_step.store(u16(job() | step << 8)); }
    void finish() { job_step.store(0); }
    bool idle() const { return job() == 0; }
};

struct LINE_TYPE_PARA {
    u16 cabinet_width = 0;   // 0-1
    u16 cabinet_height = 0;  // 2-3
    u16 x_offset = 0;        // 4-5
    u16 y_offset = 0;        // 6-7
    u8 port = 0;             // 8: 0-23
    u8 rows = 0;             // 9
    u8 columns = 0;          // 10
    u8 routing = 0;          // 11: 1-16
};

// The parameters a page hands over with a job.
struct CardJobParams {
    const LINE_TYPE_PARA* line = nullptr;  // jobs 1 and 2: the quick set-up record
    const u32* mapping_value = nullptr;    // job 4: 9 on, 0 off
};

enum class JobPost { Posted, Busy };

// Posts card job 1-6: the parameters are written first, then job and step 0
// go into the job word by a compare-exchange from an idle word, so the FPGA
// thread never sees a job before its parameters. Busy, changing nothing,
// while a job runs or a USB upgrade is requested. Pages post only here.
JobPost post_card_job(u8 job, const CardJobParams& params = {});

// Asks the FPGA thread for a USB upgrade run: step byte 0, then g_usb_grade
// 1 (the thread reads the flag first, then the step). Busy, changing
// nothing, while a card job runs or an upgrade is already requested: a step
// byte written under a running job would corrupt it.
JobPost post_usb_upgrade();

// The scan file chosen on the quick set-up page (a device path); job 2
// copies it when it starts.
void set_qdfile_name(const QString& path);
QString qdfile_name();

// Progress and findings of the card jobs, for the service pages. Every
// emission is posted to the GUI thread in the order it was raised; the FPGA
// thread never touches a page.
class fpga_job_notifier : public QObject {
    Q_OBJECT
public:
    static fpga_job_notifier& get();

    // Posting side (any thread): the progress of `job`, to the quick set-up
    // page (jobs 1-4) or the advanced page (jobs 5, 6).
    void progress(u8 job, int value);
    void entry_found(const QString& text);
    void list_to_clear();
    // `job` ended in an error: what it was to do is not done, although its
    // progress ended at 100 like any other end.
    void failed(u8 job);

signals:
    void quick_progress(int value);
    void advanced_progress(int value);
    void quick_failed(int job);
    void advanced_failed(int job);
    void recovery_entry_found(const QString& text);
    void recovery_list_cleared();

private:
    // Emits quick (jobs 1-4) or advanced (5, 6) in the GUI thread.
    void toPage(u8 job, void (fpga_job_notifier::*quick)(int), void (fpga_job_notifier::*advanced)(int), int value);
};

extern SEND_PARA g_send_para;
extern LINE_TYPE_PARA line_type;
// 1 turns the FPGA thread over to the USB upgrade.
extern std::atomic<u32> g_usb_grade;
// 1 while the upgrade's updating screen is up.
extern std::atomic<u8> g_update_flag;
