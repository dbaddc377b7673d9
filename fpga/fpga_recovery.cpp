// The card check, the card recovery and the scan-file job, and the replay
// of one operation from a package or scan file.
#include "fpga/card_frame.h"
#include "fpga/fpga_manage.h"

#include "core/logMsg.h"
#include "core/utils.h"
#include "core/zrvrampara.h"

using namespace card_frame;

namespace {

constexpr const char* kRecoveryDir = "/data/rcvrecovery";
constexpr const char* kPackage = "/data/rcvrecovery/QDFX";
constexpr const char* kScanDir = "/data/smartmapping";
constexpr const char* kStickDir = "/mnt/usb1/";
constexpr u32 kWarmUpTicks = 239;
constexpr u32 kCheckWaitTicks = 500;
constexpr u32 kErrorEndTicks = 100;
constexpr u32 kPacket = rcvRecovery::kPacket;
constexpr u8 kMaxRetries = 3;

enum : u8 {
    OP_START = 20, OP_CARDS, OP_TYPE, OP_RAM, OP_REG, OP_ACTIVATE, OP_SAVE, OP_RECONFIG, OP_DELAY, OP_SEARCH,
    OP_USER, OP_ACK, OP_DONE
};
enum : u8 { S_FINISH = 0x21, S_ERROR = 0x22, S_ERROR_WAIT = 0x23 };

// The scan file the page chose must be a file of one of the two scan
// folders: the name came from a folder listing of a stick.
bool scanFileName(const QString& path) {
    for (const QString& dir : {QString(kScanDir) + "/", QString(kStickDir)}) {
        if (!path.startsWith(dir)) continue;
        const QString name = path.mid(dir.size());
        return !name.isEmpty() && !name.contains('/') && name != "." && name != "..";
    }
    return false;
}

// The sub-step that builds and sends the operation's frame; OP_DONE for an
// operation that sends none.
u8 sendStep(const rcvRecovery::Operation& op) {
    switch (op.type) {
    case 1: return op.target == 1 ? OP_RAM : op.target == 2 ? OP_REG : OP_DONE;
    case 2: return OP_SAVE;
    case 3: return OP_ACTIVATE;
    case 5: return OP_RECONFIG;
    case 6: return OP_DELAY;
    case 7: return OP_SEARCH;
    case 16: return OP_USER;
    default: return OP_DONE;
    }
}

void raiseChange(int code) {
    if (ZrvRamPara* p = ZrvRamPara::p_zrvrampara_config) p->test_signal(code);
}

}  // namespace

void fpga_manage::end_with_error(bool failed) {
    m_job_failed = failed;
    g_send_para.setStep(S_ERROR);
}

void fpga_manage::rcv_recovery_check_deal(RCV_CHECK_OR_RECOVERY mode) {
    SEND_PARA& p = g_send_para;
    rcvRecovery& rr = *recovery;
    const bool scan = mode == RCV_SCAN;
    const QString& f = m_job_file;
    auto failed = [&](int result) {
        if (result != 0) end_with_error();
        return result != 0;
    };
    switch (p.step()) {
    case 0:
        p.card_to_recover.store(0xFFFF);
        m_job_failed = false;
        if (!get_fpga_status()) {
            writeLogMsg(WARNING, "fpga: card job " + std::to_string(p.job()) + " while the FPGAs are not running");
            end_with_error();
            break;
        }
        p.setStep(1);
        g_change[2] = G_timeTicks;
        break;
    case 1: {
        const u32 elapsed = Utils::getTimeSpace(g_change[2]);
        if (elapsed >= 80) job_progress(int(elapsed * 100 / kCheckWaitTicks));
        if (elapsed > kWarmUpTicks) p.setStep(2);
        break;
    }
    case 2:
        if (!scan) {
            if (failed(rr.get_dir_file(kRecoveryDir))) break;
            if (rr.recovery_files().size() != 1) {
                p.setStep(S_FINISH);
                break;
            }
            m_job_file = kPackage;
            if (failed(rr.get_rcvPackedFileNum(f))) break;
            p.setStep(3);
            break;
        }
        {
            int listed = rr.get_dir_file(kScanDir);
            if (listed != 0 || rr.scan_files().isEmpty()) listed = rr.get_dir_file(kStickDir);
            if (failed(listed)) break;
            m_job_file = qdfile_name();
            if (rr.scan_files().isEmpty() || m_job_file.isEmpty()) {
                p.setStep(S_FINISH);
                break;
            }
            if (!scanFileName(m_job_file)) {
                writeLogMsg(WARNING, "fpga: scan file " + m_job_file.toStdString() + " is not in a scan folder");
                end_with_error();
                break;
            }
            rr.init_para();
            p.setStep(0x11);
        }
        break;
    case 3:
        for (u32 k = 0; k < rr.packed_count; ++k)
            if (failed(rr.get_rcvPackedFileInfo(f, k))) return;
        p.setStep(4);
        break;
    case 4:
        p.card_to_recover.store(0xFFFF);
        if (!rr.entry(10)) {
            writeLogMsg(WARNING, "fpga: recovery package without a screen file");
            end_with_error();
            break;
        }
        p.setStep(5);
        break;
    case 5:
        if (failed(rr.update_rcvScreenHead(f))) break;
        p.screen_index = mode == RCV_CHECK ? 0 : recovery_screen;
        job_progress(5 * 100 / 35);
        p.setStep(6);
        break;
    case 6:
        if (failed(rr.update_rcvScreenIDinfo(f, p.screen_index))) break;
        if (mode == RCV_CHECK) {
            job_progress((p.screen_index * 100 + 100) / (rr.screen_head.screen_count + 1));
            p.setStep(8);
        } else {
            p.setStep(7);
        }
        break;
    case 7:
        if (rr.screen.para_length == 0 && rr.screen.coord_length == 0) {
            end_with_error();
        } else if (rr.screen.para_length == 0) {
            if (rr.entry(11))
                p.setStep(8);
            else
                end_with_error();
        } else if (rr.entry(12)) {
            p.setStep(0x11);
        } else {
            end_with_error();
        }
        break;
    case 8:
        if (failed(rr.update_rcvXYscreenNetnum(f))) break;
        // A recovery goes back to the net in which the check found its card.
        p.net_index = mode == RCV_CHECK ? 0 : recovery_net;
        job_progress(8 * 100 / 35);
        p.setStep(9);
        break;
    case 9:
        if (failed(rr.update_rcvXYscreenNetpara(f, p.net_index))) break;
        p.card_to_recover.store(0xFFFF);
        if (mode == RCV_CHECK) {
            job_progress((p.net_index * 100 + 100) / (rr.net_count + 1));
            p.setStep(0x0D);
        } else if (recovery_card < rr.net.cards) {
            p.card_index = recovery_card;
            p.net_card_index = u8(recovery_card);
            p.port = u8(rr.net.port);  // the coordinate part goes to the net's port
            job_progress(28);
            p.setStep(10);
        } else {
            end_with_error();
        }
        break;
    case 10:
        if (failed(rr.update_rcvXYrcvOperateTimes(f, p.card_index))) break;
        p.operation_index = 0;
        p.setStep(rr.operation_count == 0 ? S_FINISH : 0x0B);
        break;
    case 0x0B:
        if (failed(rr.update_rcvXYrcvOperatepara(f, p.operation_index))) break;
        rr.data_offset = rr.net_base() + rr.operation.offset;
        p.operation_step = OP_START;
        job_progress((p.operation_index * 100 + 100) / (rr.operation_count + 1));
        heartbeat_reset();
        p.setStep(0x0C);
        break;
    case 0x0C:
    case 0x13: {
        const int r = load_rcv_xy_operate(f, rr.data_offset, scan);
        if (r == 2) {
            end_with_error();
        } else if (r == 1 && ++p.operation_index < rr.operation_count) {
            p.setStep(p.step() == 0x0C ? 0x0B : 0x12);
        } else if (r == 1) {
            p.setStep(p.step() == 0x13 && mode == RCV_RECOVERY ? 8 : S_FINISH);
        }
        break;
    }
    case 0x0D: {
        recovery_identity = rr.screen.identity;
        const u8 port = u8(rr.net.port);
        // The search takes the port lock itself.
        check_error_rcv_search_card_cmd(localPort(port), fpgaOfPort(port), rr.screen.identity, 0,
                                        rr.recovery_files().isEmpty() ? 0 : 1, ctrl_wait, kCheckWaitTicks);
        job_progress(13 * 100 / 35);
        p.step_tick = G_timeTicks;
        heartbeat_reset();
        p.setStep(0x0E);
        break;
    }
    case 0x0E: {
        const u16 card = p.card_to_recover.load();
        if (card == 0xFFFF && Utils::getTimeSpace(p.step_tick) > kCheckWaitTicks) {
            note_no_acknowledgement(u8(rr.net.port), kCheckWaitTicks);
            p.setStep(0x0F);
        } else if (card == 0xFF) {
            p.setStep(0x0F);
        } else if (card != 0xFFFF) {
            p.setStep(S_FINISH);
        } else {
            heartbeat();
        }
        break;
    }
    case 0x0F:
        if (++p.net_index < rr.net_count) {
            p.setStep(9);
        } else {
            p.net_index = 0;
            p.setStep(++p.screen_index < rr.screen_head.screen_count ? 6 : S_FINISH);
        }
        break;
    case 0x11: {
        if (failed(rr.update_smartDebugingOperateTimes(f, scan))) break;
        p.operation_index = 0;
        p.port = scan ? line_type.port : recovery_port;
        const u16 cards = get_port_card_num(p.port);
        if (cards == 0 || (!scan && recovery_card >= cards)) {
            writeLogMsgFor(fpgareg::portName(p.port), WARNING,
                           "fpga: port " + std::to_string(p.port + 1) + " has " + std::to_string(cards) +
                               " cards; nothing replayed");
            // A scan file for a port without cards has nothing to do; a
            // recovery whose card is not there has failed.
            end_with_error(!scan || cards != 0);
            break;
        }
        if (!scan) p.card_index = recovery_card;
        if (rr.operation_count == 0)
            p.setStep(scan ? S_FINISH : 8);
        else
            p.setStep(0x12);
        break;
    }
    case 0x12:
        if (failed(rr.update_smartDebugingOperatepara(f, p.operation_index, scan))) break;
        rr.data_offset = (scan ? u64(rcvRecovery::kScanBlock) : rr.para_base()) + rr.operation.offset;
        p.operation_step = OP_START;
        job_progress((p.operation_index * 100 + 100) / (rr.operation_count + 1));
        heartbeat_reset();
        p.setStep(0x13);
        break;
    case S_FINISH:
        finish_check(mode);
        break;
    case S_ERROR:
        job_progress(100);
        report_failure();
        p.setStep(S_ERROR_WAIT);
        g_change[2] = G_timeTicks;
        break;
    case S_ERROR_WAIT:
        if (Utils::getTimeSpace(g_change[2]) > kErrorEndTicks) {
            p.finish();
            raiseChange(1);
        }
        break;
    default:
        // No step leads here; whatever wrote it, the job still ends.
        end_with_error();
        break;
    }
}

void fpga_manage::finish_check(RCV_CHECK_OR_RECOVERY mode) {
    SEND_PARA& p = g_send_para;
    const rcvRecovery& rr = *recovery;
    const u16 card = p.card_to_recover.load();
    // A check asks for the card, and a recovery may meet another card that
    // asks for its data while it replays a search; the card word of a scan
    // file names nothing on the package's nets.
    const bool found = mode != RCV_SCAN && card != 0xFFFF && card != 0xFF;
    if (!found) {
        if (mode == RCV_RECOVERY) fpga_job_notifier::get().list_to_clear();
        job_done();
        return;
    }
    recovery_screen = p.screen_index;
    recovery_net = p.net_index;
    recovery_port = u8(rr.net.port);
    // A card beyond the ones the package describes is shown, marked, and
    // refused by the recovery: its index is never looked up.
    recovery_card = card;
    if (card >= rr.net.cards)
        writeLogMsg(WARNING, "fpga: card " + std::to_string(card + 1) + " needs recovery on a net the package gives " +
                                 std::to_string(rr.net.cards) + " cards");
    fpga_job_notifier::get().entry_found(QString::asprintf("%02d/%02d/%02d/%02d", p.screen_index + 1,
                                                           recovery_port + 1, card + 1, rr.net.cards));
    raiseChange(1);
    job_done();
}

int fpga_manage::load_rcv_xy_operate(const QString& path, u64 dataOffset, bool all) {
    SEND_PARA& p = g_send_para;
    const rcvRecovery::Operation& op = recovery->operation;
    const u8 port = p.port;
    const u8 local = localPort(port);
    u8 frame[kMaxLength];
    u8 data[kMaxLength];
    auto readData = [&](u64 at, u32 length) {
        return recovery->update_rcvOperatedata(path, at, data, length) == 0;
    };
    auto sent = [&](u32 length) {
        send_job_frame(frame, length, port, m_op_wait_ms / 10);
        p.step_tick = G_timeTicks;
        heartbeat_reset();
        p.operation_step = OP_ACK;
    };
    switch (p.operation_step) {
    case OP_START:
        p.retry = 0;
        p.operation_step = OP_CARDS;
        return 0;
    case OP_CARDS:
        p.cards_on_port = get_port_card_num(port);
        p.card_index = all ? u16(p.cards_on_port ? p.cards_on_port - 1 : 0) : recovery_card;
        p.operation_step = OP_TYPE;
        return 0;
    case OP_TYPE: {
        p.packet_count = 1;
        p.packet_index = 0;
        m_op_wait_ms = op.time_ms;
        const u8 next = sendStep(op);
        // The reader refused any operation whose time, length or packets
        // are out of bounds.
        if (next == OP_RAM) {
            p.packet_count = u8(rcvRecovery::packets(op));
        } else if (next == OP_SAVE) {
            m_op_wait_ms = u32(std::min<u64>(0xFFFFFFFFull, u64(op.time_ms) + 1000ull * p.cards_on_port));
        } else if (next == OP_DELAY) {
            p.step_tick = G_timeTicks;
        } else if (op.type != 1 && next == OP_DONE) {
            writeLogMsg(INFO, "fpga: card operation of type " + std::to_string(op.type) + " skipped");
        }
        p.operation_step = next;
        return 0;
    }
    case OP_RAM: {
        if (p.retry == 0) ++p.packet_index;
        const u32 before = kPacket * (p.packet_index - 1u);
        const u32 length = p.packet_index < p.packet_count ? kPacket : op.length - before;
        if (!readData(dataOffset + before, length)) return 2;
        load_write_ram_cmd_create(local, p.card_index, op.address + before, data, length, frame, all);
        sent(p.frame_length);
        return 0;
    }
    case OP_REG:
        if (!readData(dataOffset, op.length)) return 2;
        sent(load_write_reg_cmd_create(local, p.card_index, data, op.length, frame, all));
        return 0;
    case OP_ACTIVATE:
        if (!readData(dataOffset, op.length)) return 2;
        sent(rcv_active_firmware_cmd_create(local, p.card_index, data, op.length, frame));
        return 0;
    case OP_SAVE: {
        const u32 n = save_para2flash_cmd_create(local, p.card_index, frame, all);
        if (p.retry == 0) ++p.packet_index;
        sent(n);
        return 0;
    }
    case OP_RECONFIG:
        if (!readData(dataOffset, op.length)) return 2;
        sent(rcv_reconfig_cmd_create(local, p.card_index, data, op.length, frame));
        return 0;
    case OP_DELAY:
        if (Utils::getTimeSpace(p.step_tick) >= op.time_ms / 10) p.operation_step = OP_DONE;
        return 0;
    case OP_SEARCH:
        if (!readData(dataOffset, op.length)) return 2;
        sent(load_search_rxc_cmd_create(local, data, op.length, frame));
        return 0;
    case OP_USER:
        if (!readData(dataOffset, op.length)) return 2;
        sent(load_write_user_defined_cmd_create(local, p.card_index, data, op.length, frame, all));
        return 0;
    case OP_ACK: {
        const u8 again = sendStep(op);
        const bool perCard = again == OP_ACTIVATE || again == OP_RECONFIG;
        if (p.reply.exchange(0) == 1) {
            p.retry = 0;
            if (perCard && all && p.card_index != 0) {
                --p.card_index;
                p.operation_step = again;
            } else if (again == OP_RAM && p.packet_index < p.packet_count) {
                // Only a RAM write has further packets.
                p.operation_step = OP_RAM;
            } else {
                p.operation_step = OP_DONE;
            }
            return 0;
        }
        if (Utils::getTimeSpace(p.step_tick) <= m_op_wait_ms / 10) {
            heartbeat();
            return 0;
        }
        // The frame and its retries all unanswered: the walk goes on.
        const u32 waited = (kMaxRetries + 1u) * (m_op_wait_ms / 10);
        if (perCard && all && p.card_index != 0) {
            if (p.retry >= kMaxRetries) {
                note_no_acknowledgement(p.port, waited);
                --p.card_index;
                p.retry = 0;
            } else {
                ++p.retry;
            }
            p.operation_step = again;
        } else if (perCard || again == OP_REG || again == OP_SAVE || again == OP_USER || again == OP_RAM) {
            if (p.retry < kMaxRetries) {
                ++p.retry;
                p.operation_step = again;
                return 0;
            }
            note_no_acknowledgement(p.port, waited);
            if (again == OP_RAM && p.packet_index < p.packet_count) {
                p.retry = 0;
                p.operation_step = OP_RAM;
            } else {
                p.operation_step = OP_DONE;
            }
        } else {
            p.operation_step = OP_DONE;
        }
        return 0;
    }
    case OP_DONE:
        return 1;
    default:
        return 1;
    }
}
