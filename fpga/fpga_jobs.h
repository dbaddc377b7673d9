#pragma once
// The job mailbox from the front panel to the FPGA thread and the quick
// set-up record, in their wire formats (little-endian), and the USB upgrade
// request. Other threads reach them only through these accessors: job and
// step are one atomic 16-bit word, the reply flag and the card to recover
// are atomics of their own.
#include "core/global.h"
#include "fpga/fpga_handover.h"

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
    // A page posts a job with step 0 as one store, and wakes the thread.
    void post(u8 job) {
        job_step.store(job);
        fpga_handover::wake_fpga_thread();
    }
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

extern SEND_PARA g_send_para;
extern LINE_TYPE_PARA line_type;
// 1 turns the FPGA thread over to the USB upgrade.
extern std::atomic<u32> g_usb_grade;
