// The front panel's receiving-card jobs run by the FPGA thread: dispatch,
// the pause for PC commands, the progress heartbeat, quick set-up, parameter
// save and mapping switch.
#include "fpga/card_frame.h"
#include "fpga/card_walk.h"
#include "fpga/fpga_manage.h"

#include "core/line_limiter.h"
#include "core/logMsg.h"
#include "core/utils.h"

#include <QMutexLocker>

using namespace card_frame;

bool fpga_manage::get_rcvcard_x_y(u16 index, u16* x, u16* y) {
    *x = *y = 0;
    u32 row = 0, col = 0;
    if (!card_walk::cell(line_type.routing, line_type.rows, line_type.columns, index, &row, &col)) return false;
    *x = u16(col * line_type.cabinet_width);
    *y = u16(row * line_type.cabinet_height);
    return true;
}

// ---------------------------------------------------------------- common

void fpga_manage::run_card_job(u8 job) {
    if (job_paused()) return;
    switch (job) {
    case 1: SmartMapping_deal(); break;
    case 2: rcv_recovery_check_deal(RCV_SCAN); break;
    case 3: save_para_deal(); break;
    case 4: mapping_enable_deal(); break;
    case 5: rcv_recovery_check_deal(RCV_CHECK); break;
    case 6: rcv_recovery_check_deal(RCV_RECOVERY); break;
    default: break;
    }
}

bool fpga_manage::job_paused() {
    if (pc_cmd_valid.load() == 0) return false;
    if (Utils::getTimeSpace(pc_cmd_time.load()) > kPcPauseTicks) {
        pc_cmd_valid.store(0);
        searched_mask = 0;
    }
    g_send_para.step_tick = G_timeTicks;
    g_change[2] = G_timeTicks;
    return true;
}

void fpga_manage::job_progress(int value) { fpga_job_notifier::get().progress(g_send_para.job(), value); }

void fpga_manage::job_done() {
    const u8 job = g_send_para.job();
    g_send_para.finish();
    fpga_job_notifier::get().progress(job, 100);
    if (m_job_failed) fpga_job_notifier::get().failed(job);
    m_job_failed = false;
}

void fpga_manage::report_failure() {
    if (m_job_failed) fpga_job_notifier::get().failed(g_send_para.job());
    m_job_failed = false;
}

void fpga_manage::heartbeat() {
    if (Utils::getTimeSpace(g_change[2]) <= kHeartbeatTicks) return;
    g_change[46] = g_change[46] >= 99 ? 1 : g_change[46] + 1;
    g_change[2] = G_timeTicks;
    job_progress(int(g_change[46]));
}

void fpga_manage::heartbeat_reset() {
    g_change[46] = 0;
    g_change[2] = G_timeTicks;
}

// The job goes on without the acknowledgement, as the cards may be gone;
// the maintainer reads which port kept silent. A port with a faulty card
// costs a line a second, and a job that meets many held back; each port
// its own line and count, so a silent port never hides another's.
void fpga_manage::note_no_acknowledgement(u8 port, u32 waitedTicks, LogPlace at) {
    static const char* const kJobs[] = {"",           "quick set-up",   "scan file load", "parameter save",
                                        "mapping switch", "card check", "self-recovery"};
    const u8 job = g_send_para.job();
    static LineLimiterSet silent([](const std::string& name) {
        return LineLimiter::logCount(WARNING, "fpga: " + name, "card frames of the panel's jobs not acknowledged");
    });
    const std::string name = fpgareg::portName(port);
    silent.of(name).occur([&] {
        writeLogMsgFor(name, WARNING,
                       std::string("fpga: ") + (job < 7 && *kJobs[job] ? kJobs[job] : "card job") + ": no card of " +
                           name + " acknowledged in " +
                           (waitedTicks % 100 == 0 ? std::to_string(waitedTicks / 100) + " s"
                                                   : std::to_string(waitedTicks * 10) + " ms") +
                           "; going on",
                       at);
    });
}

void fpga_manage::send_job_frame(const u8* frame, u32 length, u8 port, u32 waitTicks) {
    if (port > 23) return;
    QMutexLocker lock(&port_mutex);
    // The acknowledgements already waiting answer frames before this one;
    // from here on the receive path takes only this frame's.
    take_waiting_replies();
    g_send_para.reply.store(0);
    m_send_budget = kSendWaitTicks;
    Send_to_port(frame, length, localPort(port), fpgaOfPort(port), ctrl_wait, false, waitTicks);
    m_send_budget = kSendWaitTicks;
}

// ---------------------------------------------------------------- job 1

void fpga_manage::SmartMapping_deal() {
    SEND_PARA& p = g_send_para;
    u8 frame[kMaxLength];
    switch (p.step()) {
    case 0:
        p.card_index = 0;
        p.port = line_type.port;
        m_job_failed = false;
        if (line_type.rows == 0 || line_type.columns == 0 || line_type.routing < 1 || line_type.routing > 16 ||
            line_type.port > 23) {
            writeLogMsg(WARNING, "fpga: quick set-up of " + std::to_string(line_type.rows) + " x " +
                                     std::to_string(line_type.columns) + " cabinets, routing " +
                                     std::to_string(line_type.routing) + ", port " +
                                     std::to_string(line_type.port) + " cannot be placed; nothing sent");
            m_job_failed = true;
            p.setStep(4);
            break;
        }
        p.setStep(1);
        break;
    case 1:
        p.cards_on_port = get_port_card_num(p.port);
        if (p.cards_on_port == 0) {
            // Nothing was set up: the operator must not read the end as done.
            writeLogMsgFor(fpgareg::portName(p.port), WARNING,
                           "fpga: quick set-up of " + fpgareg::portName(p.port) + ": no cards on it; nothing sent");
            m_job_failed = true;
            p.setStep(4);
        } else if (p.card_index >= p.cards_on_port) {
            p.port = line_type.port;
            p.setStep(5);
        } else {
            p.setStep(2);
        }
        break;
    case 2: {
        u16 x = 0, y = 0;
        if (!get_rcvcard_x_y(p.card_index, &x, &y))
            writeLogMsg(WARNING, "fpga: quick set-up card " + std::to_string(p.card_index) +
                                     " lies outside the cabinet grid; placed at the offsets");
        rcv_card_cmd_create(frame, localPort(p.port), u16(x + line_type.x_offset), u16(y + line_type.y_offset));
        send_job_frame(frame, 23, p.port, kCardAckTicks);
        ++p.card_index;
        p.setStep(3);
        p.step_tick = G_timeTicks;
        job_progress(p.card_index * 100 / (p.cards_on_port + 1));
        heartbeat_reset();
        break;
    }
    case 3:
    case 6: {
        const bool acknowledged = p.reply.exchange(0) == 1;
        if (acknowledged || Utils::getTimeSpace(p.step_tick) > kCardAckTicks) {
            if (!acknowledged) note_no_acknowledgement(p.port, kCardAckTicks);
            p.setStep(p.step() == 3 ? 1 : 5);
            break;
        }
        heartbeat();
        break;
    }
    case 4:
        p.setStep(9);
        job_progress(90);
        p.step_tick = G_timeTicks;
        break;
    case 5:
        if (p.card_index != p.cards_on_port) {
            p.setStep(4);
            break;
        }
        ram_reset_cmd_create(frame, 1, 0xFFFF, localPort(p.port));
        send_job_frame(frame, p.frame_length, p.port, kCardAckTicks);
        job_progress(p.card_index * 100 / (p.cards_on_port + 1));
        ++p.card_index;
        p.setStep(6);
        p.step_tick = G_timeTicks;
        heartbeat_reset();
        break;
    case 9:
        if (Utils::getTimeSpace(p.step_tick) > kJobEndTicks) {
            job_done();
        }
        break;
    default:
        // A step no job of this kind has: ended cleanly.
        p.setStep(4);
        break;
    }
}

// ---------------------------------------------------------------- jobs 3, 4

void fpga_manage::save_para_deal() { port_walk_deal(true); }

void fpga_manage::mapping_enable_deal() { port_walk_deal(false); }

// The cards of a port save one after another.
u32 fpga_manage::ack_ticks(bool save) const {
    return save ? 100u * g_send_para.cards_on_port + kCardAckTicks : kCardAckTicks;
}

// Both jobs walk the 24 ports with one frame each.
void fpga_manage::port_walk_deal(bool save) {
    SEND_PARA& p = g_send_para;
    u8 frame[32];
    switch (p.step()) {
    case 0:
        p.port = 0;
        p.setStep(1);
        break;
    case 1:
        // Ports without cards are passed over in the same step.
        while (p.port <= 23 && (p.cards_on_port = get_port_card_num(p.port)) == 0) ++p.port;
        p.setStep(p.port > 23 ? 4 : 2);
        break;
    case 2: {
        const u32 n = save ? save_para_cmd_create(frame, localPort(p.port)) : mapping_enable_cmd_create(localPort(p.port), frame);
        send_job_frame(frame, n, p.port, ack_ticks(save));
        job_progress(p.port * 100 / 25);
        ++p.port;
        p.setStep(3);
        p.step_tick = G_timeTicks;
        heartbeat_reset();
        break;
    }
    case 3: {
        const u32 limit = ack_ticks(save);
        const bool acknowledged = p.reply.exchange(0) == 1;
        if (acknowledged || Utils::getTimeSpace(p.step_tick) > limit) {
            // The frame went to the port before the one the walk is at.
            if (!acknowledged) note_no_acknowledgement(u8(p.port - 1), limit);
            p.setStep(1);
            break;
        }
        heartbeat();
        break;
    }
    case 4:
        p.setStep(9);
        job_progress(95);
        p.step_tick = G_timeTicks;
        break;
    case 9:
        if (Utils::getTimeSpace(p.step_tick) > kJobEndTicks) {
            job_done();
        }
        break;
    default:
        p.setStep(4);
        break;
    }
}
