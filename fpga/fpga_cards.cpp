// Frames to and from the LED receiving cards: builders, the send path of
// the FPGAs' ports, the PC pass-through, the receive pages and the periodic
// card search.
#include "fpga/card_frame.h"
#include "fpga/fpga_manage.h"

#include "core/line_limiter.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "platform/board.h"
#include "protocol/pc_link.h"

#include <QMutexLocker>

#include <algorithm>
#include <cstring>

using namespace fpgareg;
using namespace card_frame;

// ---------------------------------------------------------------- format

void card_frame::seal(u8* f, u32 n) {
    if (n >= 1) f[n - 1] = Utils::BCC(f, n - 1);
}

bool card_frame::checkOk(const u8* f, u32 n) { return n >= 1 && f[n - 1] == Utils::BCC(f, n - 1); }

void card_frame::setDestinationPort(u8* f, u32 n, u32 port) {
    const u8 old = f[1];
    f[1] = u8((f[1] & 0xCF) | ((port & 3) << 4));
    if (n >= 2) f[n - 1] ^= u8(old ^ f[1]);
}

namespace {

// Header of a frame built here: destination, source 0xF000, class, mode,
// byte 7, command.
void header(u8* buf, u16 dst, u8 cls, u8 port7, u8 cmd) {
    wr16(buf, DST, dst);
    wr16(buf, SRC, kController);
    buf[MAGIC] = kMagic;
    buf[CLASS] = cls;
    buf[MODE] = MODE_CONFIG;
    buf[PORT] = port7;
    buf[8] = 0;
    buf[CMD] = cmd;
}

u32 finish(u8* buf, u32 n, bool storeLength) {
    seal(buf, n);
    if (storeLength) g_send_para.frame_length = u16(n);
    return n;
}

u32 withData(u8* buf, u16 dst, u8 port7, u8 cmd, const u8* data, u32 len) {
    len = std::min(len, kMaxLength - kMinLength);
    header(buf, dst, CLASS_CONFIG, port7, cmd);
    if (len) std::memcpy(buf + DATA, data, len);
    return finish(buf, len + kMinLength, true);
}

const int kSendPage[8] = {3, 5, 7, 9, 11, 13, 15, 17};
const u8 kSendLow[8] = {26, 134, 136, 138, 154, 155, 156, 157};
const u8 kRecvLow[6] = {24, 133, 135, 137, 149, 150};

// A reply to the controller's search of the cards (class 0xAA): the
// periodic search's or the card check's. A job's search frame is of class
// 'g' and is acknowledged as the job's other frames are.
bool searchReply(const u8* f) {
    return rd16(f, DST) == kController && f[CMD] == CMD_SEARCH && f[CLASS] == CLASS_SEARCH;
}

struct Ready {
    u8 r129 = 0, r25 = 0, r145 = 0, r153 = 0;
    bool ready(int pair) const { return pair < 4 ? (r129 >> (2 * pair)) & 1 : (r145 >> (2 * (pair - 4))) & 1; }
    u32 highBits(int pair) const {
        return pair < 4 ? (r25 >> (2 * pair)) & 3 : (r153 >> (2 * (pair - 4))) & 3;
    }
};

}  // namespace

u32 fpga_manage::rcv_card_cmd_create(u8* buf, u8 port, u16 x, u16 y) {
    header(buf, address(port, g_send_para.card_index), CLASS_CONFIG, u8(port + 1), CMD_RAM_WRITE);
    wr32(buf, 10, 0x180);
    wr32(buf, 14, 4);
    wr16(buf, 18, x);
    wr16(buf, 20, y);
    return finish(buf, 23, false);
}

u32 fpga_manage::load_write_ram_cmd_create(u8 port, u16 card, u32 addr, const u8* data, u32 len, u8* buf,
                                           bool all) {
    len = std::min(len, kMaxLength - 19);
    header(buf, all ? kAllCards : address(port, card), CLASS_CONFIG, u8(port + 1), CMD_RAM_WRITE);
    wr32(buf, 10, addr);
    wr32(buf, 14, len);
    if (len) std::memcpy(buf + 18, data, len);
    return finish(buf, len + 19, true);
}

u32 fpga_manage::rcv_active_firmware_cmd_create(u8 port, u16 card, const u8* data, u32 len, u8* buf) {
    return withData(buf, address(port, card), u8(port + 1), CMD_ACTIVATE, data, len);
}

u32 fpga_manage::ram_reset_cmd_create(u8* buf, u8 a, u16 b, u8 port) {
    header(buf, u16(address(port, 0) | kPortCards), CLASS_CONFIG, u8(port + 1), CMD_REG_WRITE);
    buf[10] = a;
    buf[11] = u8(b);
    buf[12] = 1;
    buf[13] = u8(b >> 8);
    return finish(buf, 15, true);
}

u32 fpga_manage::save_para_cmd_create(u8* buf, u8 port) {
    header(buf, kAllCards, CLASS_CONFIG, u8(port + 1), CMD_SAVE);
    buf[10] = 0xFF;
    buf[11] = 0;
    return finish(buf, 13, true);
}

u32 fpga_manage::load_write_reg_cmd_create(u8 port, u16 card, const u8* data, u32 len, u8* buf, bool all) {
    return withData(buf, all ? kAllCards : address(port, card), 0, CMD_REG_WRITE, data, len);
}

u32 fpga_manage::load_write_user_defined_cmd_create(u8 port, u16 card, const u8* data, u32 len, u8* buf,
                                                    bool all) {
    if (len == 0) return 0;
    len = std::min(len, kMaxLength - 10);
    header(buf, all ? kAllCards : address(port, card), CLASS_CONFIG, 0, data[0]);
    std::memcpy(buf + CMD, data, len);
    return finish(buf, len + 10, true);
}

u32 fpga_manage::rcv_reconfig_cmd_create(u8 port, u16 card, const u8* data, u32 len, u8* buf) {
    return withData(buf, address(port, card), u8(port + 1), CMD_RECONFIG, data, len);
}

u32 fpga_manage::load_search_rxc_cmd_create(u8 port, const u8* data, u32 len, u8* buf) {
    return withData(buf, u16(address(port, 0) | kPortCards), u8(port + 1), CMD_SEARCH, data, len);
}

u32 fpga_manage::save_para2flash_cmd_create(u8 port, u16 card, u8* buf, bool all) {
    header(buf, all ? kAllCards : address(port, card), CLASS_CONFIG, 0, CMD_SAVE);
    buf[10] = 0xFF;
    buf[11] = 0;
    return finish(buf, 13, true);
}

u32 fpga_manage::mapping_enable_cmd_create(u8 port, u8* buf) {
    header(buf, kAllCards, CLASS_CONFIG, u8(port + 1), CMD_REG_WRITE);
    buf[10] = 0x03;
    buf[11] = 0x0F;
    buf[12] = 0x01;
    buf[13] = u8(g_send_para.mapping_value);
    return finish(buf, 15, true);
}

u32 fpga_manage::search_frame_create(u8* buf, u8 port, u32 a, u32 b, u8 flag) {
    std::memset(buf, 0, 30);
    wr16(buf, DST, u16(address(port, 0) | kPortCards));
    wr16(buf, SRC, kController);
    buf[MAGIC] = kMagic;
    buf[CLASS] = CLASS_SEARCH;
    buf[MODE] = MODE_SEARCH;
    buf[PORT] = u8(port + 1);
    buf[CMD] = CMD_SEARCH;
    buf[16] = flag;
    wr32(buf, 17, a);
    buf[21] = 0xFF;
    wr32(buf, 23, b);
    return finish(buf, 30, false);
}

// ---------------------------------------------------------------- send

u16 fpga_manage::get_port_card_num(u8 port) {
    if (port > 23) return 0;
    const u8 fpga = port < 12 ? 0 : 1;
    return area_word(fpga, kT1[port % 12]);
}

u16 fpga_manage::check_netport_card(u8 fpga) {
    if (fpga > 1) return 0;
    u16 sum = 0;
    for (int p = 0; p < 16; ++p) sum = u16(sum + area_word(fpga, kT1[p]));
    return sum;
}

thread_local u32 fpga_manage::m_send_budget = fpga_manage::kSendWaitTicks;

u8 fpga_manage::wait_fpga_send_ready(u8 port, u8 fpga) {
    if (port > 15 || fpga > 1) return 0;
    const int pair = port / 2;
    const u8 reg = pair < 4 ? 129 : 145;
    const u8 bit = u8(1 << (1 + 2 * (pair % 4)));
    // A frame leaves the buffer in well under a millisecond: the first look
    // again comes after 1 ms, later ones back off to kSendPollMaxMs, so a
    // pair that stays busy is not read a thousand times a second.
    const u32 start = G_timeTicks;
    u32 pause = 1;
    for (;;) {
        read_from_register(reg, fpga);
        if (!(reg_image(fpga, reg) & bit)) return 1;
        const u32 spent = Utils::getTimeSpace(start);
        if (spent >= m_send_budget) return 0;
        // Never past the tick that ends the budget.
        const u32 left = (m_send_budget - spent) * 10 - u32(Board::get().clock().nowMs() % 10);
        Utils::sleep_ms(std::min(pause, left));
        pause = std::min(2 * pause, kSendPollMaxMs);
    }
}

void fpga_manage::CardWait::sent(const u8* frame, u32 port, u32 waitTicks) {
    const u16 addressed = rd16(frame, DST) & 0x0FFF;
    asker = rd16(frame, SRC);
    cls = frame[CLASS];
    cmd = frame[CMD];
    card = addressed >= kPortCards || cmd == CMD_SEARCH ? kAnyCard : addressed;
    ports |= 1u << port;
    open |= 1u << port;
    since = G_timeTicks;
    ticks = waitTicks;
}

bool fpga_manage::CardWait::answeredBy(const u8* reply, u32 port) const {
    if (port > 31 || !(ports & (1u << port))) return false;
    if (!anyClass && reply[CLASS] != cls) return false;
    if (reply[CMD] != cmd && !(answered39 && reply[CMD] == CMD_ANSWERED)) return false;
    return card == kAnyCard || (rd16(reply, SRC) & 0x0FFF) == card;
}

bool fpga_manage::CardWait::take(const u8* reply, u32 port) {
    if (!answeredBy(reply, port)) return false;
    open &= ~(1u << port);
    return true;
}

bool fpga_manage::CardWait::waiting(u32 port) const {
    return port <= 31 && (open & (1u << port)) && Utils::getTimeSpace(since) <= ticks;
}

bool fpga_manage::CardWait::shares(const CardWait& o, u32 port) const {
    if (port > 31 || !(ports & o.ports & (1u << port)) || asker != o.asker) return false;
    const bool classes = anyClass || o.anyClass || cls == o.cls;
    const bool commands =
        cmd == o.cmd || (answered39 && o.cmd == CMD_ANSWERED) || (o.answered39 && cmd == CMD_ANSWERED);
    return classes && commands && (card == kAnyCard || o.card == kAnyCard || card == o.card);
}

void fpga_manage::hold_for_port(const u8* frame, u8 port, u8 fpga, const CardWait& wait, bool morePorts) {
    const u32 at = 16u * fpga + port;
    CardWait next;
    if (morePorts) next = wait;
    next.ports = next.open = 0;
    next.sent(frame, at);
    auto held = [&] {
        for (const CardWait* other : {&pass_asked, &ctrl_wait, &search_wait})
            if (other != &wait && other->waiting(at) && other->shares(next, at)) return true;
        return false;
    };
    // Bounded: a wait stops holding once its sender's time is over.
    while (held()) {
        port_mutex.unlock();
        Utils::sleep_ms(10);
        port_mutex.lock();
        take_waiting_replies();
    }
}

void fpga_manage::Send_to_port(const u8* frame, u32 length, u8 port, u8 fpga, CardWait& wait, bool morePorts,
                               u32 waitTicks) {
    if (port > 15 || fpga > 1 || !frame || length < kMinLength || length > kMaxLength) return;
    // The frame before of this wait is given up: no reply is its answer
    // while this one is held.
    if (!morePorts) wait = CardWait{};
    hold_for_port(frame, port, fpga, wait, morePorts);
    // Recorded before the frame leaves: its reply may come at once.
    wait.sent(frame, 16u * fpga + port, waitTicks);
    const int pair = port / 2;
    // A pair whose send buffer stays busy gets the frame anyway once the
    // wait is spent; the time spent counts against the whole PC frame.
    const u32 before = G_timeTicks;
    if (m_send_budget > 0) {
        wait_fpga_send_ready(port, fpga);
        const u32 spent = Utils::getTimeSpace(before);
        m_send_budget = spent >= m_send_budget ? 0 : m_send_budget - spent;
    }
    write_to_register(port < 8 ? 132 : 148, 0xFF, u8(1 << (port % 8)), fpga);
    write_fpga_ram(frame, 0, u16(length), u8(kSendPage[pair]), fpga);
    const u32 n = length - 1;
    write_to_register(kSendLow[pair], 0xFF, u8(n), fpga);
    const int shift = 2 * (pair % 4);
    write_to_register(pair < 4 ? 27 : 158, u8(3 << shift), u8(((n >> 8) & 3) << shift), fpga);
    write_to_register(pair < 4 ? 130 : 146, 0xF0, u8(0x10 << (pair % 4)), fpga);
}

int fpga_manage::Dealwith1_PC_to_eth(u32 length, const u8* in) {
    // Until it is sent, no reply answers this frame: nor an earlier one's.
    pass_asked = CardWait{};
    if (!in || length < kMinLength || length > kMaxLength) {
        // A PC may send such frames as fast as its link carries them.
        static LineLimiter unsent(LineLimiter::logCount(WARNING, "fpga", "PC frames for the cards not sent"));
        unsent.occur([&] {
            writeLogMsg(WARNING, "fpga: a PC frame for the cards of " + std::to_string(length) + " bytes is not sent");
        });
        return 1;
    }
    // One PC frame, broadcast included, waits for busy ports 300 ticks in all.
    m_send_budget = kSendWaitTicks;
    u8 frame[kMaxLength];
    std::memcpy(frame, in, length);
    bc_collect = 0;
    // A broadcast's collection takes only its class (and 0x39 as well); a
    // frame to one port leaves the class to the PC.
    pass_asked.anyClass = frame[PORT] != PORT_ALL;
    pass_asked.answered39 = frame[PORT] == PORT_ALL;
    for (u8 k = 0; k < 2; ++k) {
        write_to_register(147, 0x0F, 0, k);
        write_to_register(131, 0x0F, 0, k);
    }
    const u8 mode = frame[MODE], p7 = frame[PORT];
    auto single = [&](u8 port, u8 fpga) {
        setDestinationPort(frame, length, port);
        Send_to_port(frame, length, port, fpga, pass_asked, true, PcLink::kPassTimeoutTicks);
    };
    if (mode == 1 || mode == 3 || mode == 0xFF) {
        if (p7 == PORT_ALL) {
            bc_collect = 1;
            replied_mask = 0;
            bc_sent = 0;
            bc_search = rd16(frame, DST) == kPortCards;
            multi_port_send(frame, length);
        } else if (p7 == 0) {
            single(u8(portBits(rd16(frame, DST))), 0);
        } else if (p7 <= 12) {
            single(u8(p7 - 1), 0);
        } else if (p7 <= 44) {
            single(u8(p7 - 13), 1);
        }
    } else if (mode == 0) {
        if (p7 == 0) {
            for (u8 k = 0; k < 2; ++k)
                Send_to_port(frame, length, 0, k, pass_asked, true, PcLink::kPassTimeoutTicks);
        } else if (p7 <= 12) {
            single(u8(p7 - 1), 0);
        } else if (p7 <= 44) {
            single(u8(p7 - 13), 1);
        }
    }
    m_send_budget = kSendWaitTicks;
    return 1;
}

u32 fpga_manage::link_mask() {
    u32 mask = 0;
    for (u8 k = 0; k < 2; ++k) {
        read_from_register(LINK_LOW, k);
        read_from_register(LINK_HIGH, k);
        QMutexLocker lock(&shadow_mutex);
        if (m_reg[k][RUN_MARK] == RUNNING)
            mask |= (u32(m_reg[k][LINK_HIGH]) << 8 | m_reg[k][LINK_LOW]) << (16 * k);
    }
    return mask;
}

void fpga_manage::multi_port_send(u8* frame, u32 length) {
    const u32 links = link_mask();
    for (u8 pair = 0; pair < 6; ++pair) {
        for (u8 k = 0; k < 2; ++k) {
            for (u8 port = u8(2 * pair); port < 2 * pair + 2; ++port) {
                const u32 bit = 1u << (16 * k + port);
                if (!(links & bit) || get_port_card_num(u8(12 * k + port)) == 0) continue;
                setDestinationPort(frame, length, port);
                Send_to_port(frame, length, port, k, pass_asked, true, PcLink::kPassTimeoutTicks);
            }
        }
    }
    bc_sent = 1;
    bc_tick = G_timeTicks;
}

// ---------------------------------------------------------------- receive

u8 fpga_manage::reg_image(u8 fpga, u8 reg) {
    if (fpga > 1 || reg >= kImageSize) return 0;
    QMutexLocker lock(&shadow_mutex);
    return m_reg[fpga][reg];
}

void fpga_manage::reg_IRQ_Dealwith(u8 fpga, u8 force) {
    if (fpga > 1) return;
    const u8 mark = reg_image(fpga, RUN_MARK);
    if (mark != 2 && mark != RUNNING) return;
    const bool irq =
        force || Board::get().gpio().getLine(fpga ? GpioName::kFpga1Irq : GpioName::kFpga0Irq) == 1;
    if (!irq) {
        g_change[36 + fpga] = 0;
        if (pc_cmd_valid.load() == 1 && bc_sent == 1) {
            if (g_change[42 + fpga] == 0) {
                g_change[42 + fpga] = 1;
                g_change[40 + fpga] = G_timeTicks;
            } else if (Utils::getTimeSpace(g_change[40 + fpga]) > 1) {
                check_fpga_net_data_status(fpga);
                g_change[42 + fpga] = 0;
            }
        }
        return;
    }
    g_change[36 + fpga] = 0;
    g_change[42 + fpga] = 0;
    write_to_register(STATUS, STATUS_LOAD, 0, fpga);
    read_from_register(STATUS, fpga);
    if (reg_image(fpga, STATUS) & STATUS_RESTARTED) {
        write_to_register(STATUS, 0x60, 0, fpga);
        read_from_register(VERSION3, fpga);
        const u8 version = reg_image(fpga, VERSION3);
        if (version < VERSION_MIN || version > VERSION_MAX) {
            // The FPGA restarted by itself: the whole start again, run-state
            // sequence included, so its outputs come back on.
            writeLogMsgFor(fpgaName(fpga), WARNING, "fpga: " + fpgaName(fpga) + " restarted; starting it again");
            {
                QMutexLocker lock(&shadow_mutex);
                m_reg[fpga][RUN_MARK] = 0;
            }
            g_change[38 + fpga] = G_timeTicks;
            st[fpga].vbo.store(0);
            st[fpga].run.store(0);
            st[fpga].errors = 0;
            m_handed_back = false;
            return;
        }
    }
    read_from_register(129, fpga);
    read_from_register(145, fpga);
    if ((reg_image(fpga, 129) | reg_image(fpga, 145)) & 0x55) Rcv_data_from_eth(fpga);
    update_eth_state(fpga);
}

void fpga_manage::check_fpga_net_data_status(u8 fpga) {
    const u8 mark = reg_image(fpga, RUN_MARK);
    if (mark != 2 && mark != RUNNING) return;
    read_from_register(129, fpga);
    read_from_register(145, fpga);
    if (((reg_image(fpga, 129) | reg_image(fpga, 145)) & 0x55) && g_change[36 + fpga] == 0) g_change[36 + fpga] = 1;
}

namespace {
// Sets, then clears, the pair's acknowledge bits.
void acknowledge(fpga_manage& m, u8 fpga, int pair) {
    const u8 bit = u8(1 << (pair % 4));
    m.write_to_register(pair < 4 ? 130 : 146, bit, bit, fpga);
    m.write_to_register(pair < 4 ? 131 : 147, bit, 0, fpga);
}
}  // namespace

u8 fpga_manage::deal_with_search_concurrent(u8 fpga) {
    Ready r;
    auto readReady = [&] {
        for (u8 reg : {u8(129), u8(25), u8(145), u8(153)}) read_from_register(reg, fpga);
        QMutexLocker lock(&shadow_mutex);
        r = Ready{m_reg[fpga][129], m_reg[fpga][25], m_reg[fpga][145], m_reg[fpga][153]};
    };
    readReady();
    u8 took = 0;
    u8* frame = m_rx[fpga];
    for (int pair = 0; pair < 6; ++pair) {
        if (!r.ready(pair)) continue;
        read_from_register(kRecvLow[pair], fpga);
        const u32 L = reg_image(fpga, kRecvLow[pair]) | r.highBits(pair) << 8;
        if (L + 1 > kPageSize || L < kMinLength - 1) {
            acknowledge(*this, fpga, pair);  // cannot be a frame: dropped
            continue;
        }
        read_fpga_ram(frame, 0, u16(L + 1), u8(2 + 2 * pair), fpga);
        if (!searchReply(frame)) continue;
        if (checkOk(frame, L + 1)) {
            // The pair answered this cycle's search only by a reply from a
            // port the cycle searched; a count is stored whichever frame
            // asked for it.
            if (search_wait.take(frame, 16u * fpga + 4u * u32(pair / 2) + portBits(rd16(frame, SRC))))
                search_result_mask |= 1u << (8 * fpga + pair);
            if (L >= kCountReplyLength && frame[REPLY_STATUS] == 0)
                Search_concurrent_back_result(frame, u8(pair / 2), fpga, L + 1);
            readReady();
        }
        acknowledge(*this, fpga, pair);
        took = 1;
    }
    return took;
}

void fpga_manage::Search_concurrent_back_result(u8* frame, u8 group, u8 fpga, u32 length) {
    if (fpga > 1 || length < kCountReplyLength + 1) return;
    if (frame[PORT] == 0) frame[PORT] = u8(4 * group + portBits(rd16(frame, SRC)) + 1);
    const u32 port = u32(frame[PORT]) - 1;
    if (port > 15) return;
    // The card check waits for its own frame's answer: a reply of the
    // frame to the net before, or of a search, names no card of this net.
    if (length >= kLongReplyLength + 1 &&
        ctrl_wait.take(frame, 16u * fpga + 4u * group + portBits(rd16(frame, SRC))) &&
        rd32(frame, IDENTITY) == recovery_identity)
        g_send_para.card_to_recover.store(rd16(frame, RECOVER));
    update_eth_rcv_num(frame, u8(port), fpga);
}

void fpga_manage::update_eth_rcv_num(const u8* frame, u8 port, u8 fpga) {
    if (port > 15 || fpga > 1) return;
    QMutexLocker lock(&Utils::_fpga_multicast_mutex);
    std::memcpy(m_para[fpga] + kT1[port], frame + COUNT, 2);
    m_para[fpga][kT2[port]] = frame[COUNT_STATUS];
    write_area(fpga, kT1[port], kT2[port] - kT1[port] + 1);
}

void fpga_manage::Rcv_data_from_eth(u8 fpga) {
    deal_with_search_concurrent(fpga);
    Ready r;
    for (u8 reg : {u8(129), u8(25), u8(145), u8(153)}) read_from_register(reg, fpga);
    {
        QMutexLocker lock(&shadow_mutex);
        r = Ready{m_reg[fpga][129], m_reg[fpga][25], m_reg[fpga][145], m_reg[fpga][153]};
    }
    int pair = 0;
    while (pair < 6 && !r.ready(pair)) ++pair;
    if (pair == 6) return;
    read_from_register(kRecvLow[pair], fpga);
    const u32 L = reg_image(fpga, kRecvLow[pair]) | r.highBits(pair) << 8;
    const u32 n = L + 1;
    u8* frame = m_rx[fpga];
    if (n > kPageSize || n < kMinLength) {
        // The cards answer the PC's frames, as many as it sends; each
        // FPGA's count its own.
        static LineLimiterSet odd([](const std::string& name) {
            return LineLimiter::logCount(WARNING, "fpga: " + name, "card replies of no frame's length dropped");
        });
        odd.of(fpgaName(fpga)).occur([&] {
            writeLogMsgFor(fpgaName(fpga), WARNING,
                           "fpga: a card reply of " + std::to_string(n) + " bytes dropped on " + fpgaName(fpga));
        });
        acknowledge(*this, fpga, pair);
        return;
    }
    read_fpga_ram(frame, 0, u16(n), u8(2 + 2 * pair), fpga);
    const u16 dst = rd16(frame, DST), src = rd16(frame, SRC);
    const u8 cmd = frame[CMD];
    const bool controllerSearch = searchReply(frame);
    if (!controllerSearch) acknowledge(*this, fpga, pair);
    if (!checkOk(frame, n)) return;  // acknowledged, nothing else

    const u8 group = u8(pair / 2);
    const u32 portInGroup = 4u * group + portBits(src);
    const u32 port = 16u * fpga + portInGroup;
    // The controller's own replies first: its jobs, its sensor code and its
    // searches wait for them, whatever a PC broadcast collects meanwhile or
    // collected before. Only a reply to the frame waiting ends its wait.
    const bool forController = dst >= kController && dst <= kController + 15 && src < kController;
    if (forController) {
        if (controllerSearch) {
            deal_with_search_concurrent(fpga);
            return;
        }
        if (ctrl_wait.answeredBy(frame, port)) {
            // A job's own search of the cards (class 'g') is acknowledged as
            // its other frames are; its count, and a card that asks for its
            // data, are stored as a search's.
            if (cmd == CMD_SEARCH && L >= kCountReplyLength && frame[REPLY_STATUS] == 0)
                Search_concurrent_back_result(frame, group, fpga, n);
            ctrl_wait.take(frame, port);
            ctrl_reply_flag = 1;
            ctrl_reply_len = std::min<u32>(130, n - 1 - CMD);
            std::memcpy(ctrl_reply, frame + CMD, ctrl_reply_len);
            g_send_para.reply.store(1);
        }
        // A reply for the controller answers none of a PC's frames, whose
        // replies come for the PC.
        return;
    }
    if (dst == kPc && cmd == CMD_SEARCH && L >= kCountReplyLength && frame[REPLY_STATUS] == 0) {
        u32 counted = portInGroup;
        if (frame[PORT] != 0) counted = u32(frame[PORT]) - 1 - (fpga == 1 && frame[PORT] > 12 ? 12 : 0);
        update_eth_rcv_num(frame, u8(std::min<u32>(counted, 255)), fpga);
    }

    // Every card behind a port answers a PC frame to all of them, and a
    // reply to an earlier frame (the same link's or another's, given up
    // meanwhile) may still come: only the first reply that answers the
    // frame waiting is forwarded.
    static LineLimiterSet unaskedOf([](const std::string& name) {
        return LineLimiter::logCount(INFO, "fpga: " + name, "card replies that answer no waiting PC frame dropped");
    });
    LineLimiter& unasked = unaskedOf.of(fpgaName(fpga));
    const auto unaskedLine = [fpga] {
        writeLogMsgFor(fpgaName(fpga), INFO,
                       "fpga: a card reply on " + fpgaName(fpga) + " that answers no waiting PC frame; dropped");
    };
    if (bc_collect || frame[PORT] == PORT_ALL) {
        // A reply to a broadcast whose answer has gone (or that a newer PC
        // frame replaced) answers nothing any more: it neither completes
        // the broadcast again nor stands for the next frame's answer.
        if (!bc_collect || !answers_pass(frame, port)) return;
        const u32 bit = 1u << port;
        replied_mask |= bit;
        if (cmd == CMD_ANSWERED) answered39_mask |= bit;
        // Complete once every port the broadcast went to has answered. The
        // card counts that chose those ports may change meanwhile (the FPGA
        // thread's own search replies, polled during the collection, fill
        // them in after start-up): ports judged afresh from them would
        // differ from the ports asked, and the collected replies would
        // never reach the PC. A port whose link has dropped since will not
        // answer: it is no longer waited for.
        const u32 expected = pass_asked.ports & link_mask();
        if ((replied_mask & expected) != expected) return;
        wr16(frame, SRC, bc_search ? kPortCards : kAllCards);
        bc_search = 0;
        bc_collect = 0;
        frame[PORT] = PORT_ALL;
        seal(frame, n);
        if (bc_sent == 1) {
            QMutexLocker lock(&Utils::_system_mutex);
            replied_mask = 0;
            bc_sent = 0;
        }
    } else {
        if (!answers_pass(frame, port)) {
            unasked.occur(unaskedLine);
            return;
        }
        if (frame[PORT] == 0) frame[PORT] = u8((fpga == 0 ? 1 : 13) + portInGroup);
        frame[3] &= 0xCF;
        seal(frame, n);
    }
    const u8 id = g_passby_trans_port.exchange(255);
    PcLink* link = id == 255 ? nullptr : PcLink::byId(id);
    if (!link || !link->passPending()) {
        unasked.occur(unaskedLine);
        return;
    }
    link->queuePassReply(frame, n);
}

bool fpga_manage::answers_pass(const u8* reply, u32 port) {
    return rd16(reply, DST) == kPc && pass_asked.take(reply, port);
}

void fpga_manage::take_waiting_replies() {
    for (u8 k = 0; k < 2; ++k) {
        const u8 mark = reg_image(k, RUN_MARK);
        if (mark != 2 && mark != RUNNING) continue;
        for (int i = 0; i < kWaitingRepliesMax; ++i) {
            read_from_register(129, k);
            read_from_register(145, k);
            if (!((reg_image(k, 129) | reg_image(k, 145)) & 0x55)) break;
            Rcv_data_from_eth(k);
        }
    }
}

// ---------------------------------------------------------------- search

void fpga_manage::check_error_rcv_search_card_cmd(u8 port, u8 fpga, u32 a, u32 b, u8 flag, CardWait& wait,
                                                   u32 waitTicks) {
    if (port > 15 || fpga > 1) return;
    // A send is several register steps, and the port select register is
    // shared by four pairs: a PC frame sent between them would move the
    // select away, and one of the two frames would go nowhere. One send at a
    // time under the port lock, held for this port only (its wait for a busy
    // pair is bounded), so a PC frame waits at most one search send.
    QMutexLocker lock(&port_mutex);
    const int pair = port / 2;
    u8 frame[30];
    search_frame_create(frame, port, a, b, flag);
    const bool morePorts = &wait == &search_wait;
    // Held before the first register step, so the five stay together.
    if (!morePorts) wait = CardWait{};
    hold_for_port(frame, port, fpga, wait, morePorts);
    write_to_register(port < 8 ? 131 : 147, u8(1 << (pair % 4)), 0, fpga);
    m_send_budget = kSendWaitTicks;
    Send_to_port(frame, sizeof frame, port, fpga, wait, morePorts, waitTicks);
    m_send_budget = kSendWaitTicks;
}

void fpga_manage::Search_Card_Cmd() {
    u32& tick = g_change[2];
    if ((reg_image(0, SCREEN) & SCREEN_HOLD) || (reg_image(1, SCREEN) & SCREEN_HOLD)) {
        tick = G_timeTicks;
        return;
    }
    u32 links[2] = {0, 0};
    if (Utils::getTimeSpace(tick) > 79) {
        const u32 mask = link_mask();
        links[0] = mask & 0xFFFF;
        links[1] = mask >> 16;
        if (g_change[34] != 15 || mask == 0) {
            g_change[1] = 0;
            tick = G_timeTicks;
            return;
        }
        g_change[1] = 1;
    } else if (g_change[1] == 0) {
        return;
    }
    ++g_change[8];
    {
        // A search reply still waiting behind another frame of its pair (a
        // pass held up, a PC's frames answered meanwhile) is an answer too.
        QMutexLocker lock(&port_mutex);
        take_waiting_replies();
    }
    CHECK_search_cmd_status();
    const bool odd = g_change[8] & 1;
    if (odd)
        search_result_mask |= 0xC0000000u;
    else
        search_result_mask &= ~(0xFFFF0000u | (1u << 14));
    for (u8 pair = 0; pair < 6; ++pair) {
        for (u8 k = 0; k < 2; ++k) {
            const u8 first = u8(2 * pair + (odd ? 1 : 0)), second = u8(2 * pair + (odd ? 0 : 1));
            for (u8 port : {first, second}) {
                if (!(links[k] & (1u << port))) continue;
                check_error_rcv_search_card_cmd(port, k, 0, 0, 0, search_wait, kSearchTicks);
                searched_mask |= 1u << (16 * k + port);
            }
        }
    }
    g_change[1] = 0;
    tick = G_timeTicks;
}

void fpga_manage::CHECK_search_cmd_status() {
    if ((search_result_mask & 0xC0000000u) == 0xC0000000u) {
        for (u8 k = 0; k < 2; ++k) {
            for (int pair = 0; pair < 8; ++pair) {
                if (search_result_mask & (1u << (8 * k + pair))) continue;
                const int even = 2 * pair, oddPort = even + 1;
                const bool evenSearched = searched_mask & (1u << (16 * k + even));
                const bool oddSearched = searched_mask & (1u << (16 * k + oddPort));
                if (!evenSearched && !oddSearched) continue;
                int port;
                if (pair < 4)
                    port = oddSearched ? oddPort : even;
                else
                    port = evenSearched ? even : oddPort;
                QMutexLocker lock(&Utils::_fpga_multicast_mutex);
                set_area_word(k, kT1[port], 0);
                m_para[k][kT2[port]] = 0;
                write_area(k, kT1[port], kT2[port] - kT1[port] + 1);
            }
        }
    }
    search_result_mask = 0;
    searched_mask = 0;
    {
        QMutexLocker lock(&port_mutex);
        search_wait = CardWait{};
    }
    total_cards = u16(check_netport_card(0) + check_netport_card(1));
}
