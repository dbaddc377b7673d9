// Receiving-card frames: builders, the ports' send path, the pass-through
// of PC frames over a link and the cards' replies, the periodic search.
#include "fpga_env.h"

#include "../protocol/frame_helpers.h"
#include "fpga/card_frame.h"

#include "platform/fileops.h"

#include <sstream>

namespace {

Bytes hex(const std::string& text) {
    std::istringstream in(text);
    Bytes out;
    std::string b;
    while (in >> b) out.push_back(u8(std::stoul(b, nullptr, 16)));
    return out;
}

// The frame of the bytes given, its check byte appended.
Bytes sealed(const std::string& text) {
    Bytes f = hex(text);
    f.push_back(0);
    card_frame::seal(f.data(), u32(f.size()));
    return f;
}

// The frames in a link's encoded reply.
struct Decoded {
    FrameDecoder decoder{65536};
    std::vector<Bytes> frames;
    void collect(const Bytes& encoded) {
        decoder.feed(encoded.data(), encoded.size(), [this](const u8* f, u32 n) { frames.emplace_back(f, f + n); });
    }
};

class FpgaCards : public FpgaEnv {
protected:
    void SetUp() override {
        FpgaEnv::SetUp();
        board().scenario().loadJson(R"({"ports": {"5": 6, "12": 4, "13": 6}})");
        ASSERT_TRUE(bringUpBoth());
        for (auto& f : fpga) f->clearLog();
        pc_cmd_valid.store(0);
    }
    void TearDown() override {
        g_passby_trans_port.store(255);
        FpgaEnv::TearDown();
    }
    // A PC frame through the link, then the link's polls until it has sent
    // a reply or gave up.
    Bytes passThrough(TestLink& link, const Bytes& frame, int ticks = 50) {
        link.replies.clear();
        link.handleFrame(frame.data(), u32(frame.size()));
        for (int i = 0; i < ticks && link.passPending(); ++i) {
            clock->advanceMs(10);
            link.servePassThrough();
        }
        return link.replies.empty() ? Bytes{} : link.replies.back();
    }
    std::vector<std::pair<int, Bytes>> sent(int k) { return fpga[k]->sentFrames(); }
    // The cards counted on FPGA 0 port 5 and FPGA 1 ports 0 and 1, as the
    // search finds them.
    void counted(u8 port5, u8 port12, u8 port13) {
        m->MCU_RAM_PARA_func[0][564] = port5;
        m->MCU_RAM_PARA_func[1][100] = port12;
        m->MCU_RAM_PARA_func[1][102] = port13;
    }
    size_t logged(const std::string& text) { return countIn(readHostFile(hostPath(kLogFile)), text); }
    // The controller sent `request` (without its check byte) on port 16 x
    // FPGA + port and waits for its reply.
    void awaits(fpga_manage::CardWait& wait, const char* request, u32 port) {
        QMutexLocker lock(&m->port_mutex);
        wait = {};
        wait.sent(sealed(request).data(), port);
    }
};

}  // namespace

TEST(CardFrames, BuildersGiveTheCardsExactBytes) {
    u8 b[64];
    g_send_para.card_index = 2;
    g_send_para.mapping_value = 9;
    auto frame = [&](u32 n) { return Bytes(b, b + n); };
    EXPECT_EQ(Bytes(card_frame::SEARCH_CARD_BUF, card_frame::SEARCH_CARD_BUF + 14),
              Bytes(hex("FE 0F 00 F0 10 AA FF 00 00 10 00 00 00 00")));
    EXPECT_EQ(Utils::BCC(card_frame::SEARCH_CARD_BUF, 14), 0x54);
    EXPECT_EQ(frame(fpga_manage::save_para_cmd_create(b, 5)), hex("FF 0F 00 F0 10 67 01 06 00 81 FF 00 0E"));
    EXPECT_EQ(g_send_para.frame_length, 13);
    EXPECT_EQ(frame(fpga_manage::mapping_enable_cmd_create(0, b)),
              hex("FF 0F 00 F0 10 67 01 01 00 A0 03 0F 01 09 D3"));
    EXPECT_EQ(frame(fpga_manage::rcv_card_cmd_create(b, 5, 266, 20)),
              hex("02 10 00 F0 10 67 01 06 00 60 80 01 00 00 04 00 00 00 0A 01 14 00 68"));
    EXPECT_EQ(frame(fpga_manage::ram_reset_cmd_create(b, 1, 0xFFFF, 1)),
              hex("FE 1F 00 F0 10 67 01 02 00 A0 01 FF 01 FF C5"));
    EXPECT_EQ(frame(fpga_manage::search_frame_create(b, 0, 0, 0, 0)),
              hex("FE 0F 00 F0 10 AA FF 01 00 10 00 00 00 00 00 00 00 00 00 00 00 FF 00 00 00 00 00 00 00 AA"));
    EXPECT_EQ(frame(fpga_manage::search_frame_create(b, 5, 0x12345678, 0, 1)),
              hex("FE 1F 00 F0 10 AA FF 06 00 10 00 00 00 00 00 00 01 78 56 34 12 FF 00 00 00 00 00 00 00 B4"));
    g_send_para.card_index = 0;
    g_send_para.mapping_value = 0;
}

TEST_F(FpgaCards, SendToPortUsesThePairsRegistersAndPage) {
    Bytes frame(300, 0x11);
    m->Send_to_port(frame.data(), 300, 9, 0, m->ctrl_wait);
    std::vector<std::tuple<int, int, int>> regs;
    for (const auto& w : fpga[0]->regWrites()) regs.emplace_back(w.reg, w.value, w.mask);
    EXPECT_EQ(regs, (std::vector<std::tuple<int, int, int>>{{148, 0x02, 0xFF}, {154, 0x2B, 0xFF}, {158, 0x01, 0x03},
                                                            {146, 0x10, 0xF0}}));
    const auto ram = fpga[0]->ramWrites();
    ASSERT_EQ(ram.size(), 1u);
    EXPECT_EQ((Vals{ram[0].page, ram[0].address, ram[0].bytes.size()}), (Vals{11, 0, 300}));
    ASSERT_EQ(sent(0).size(), 1u);
    EXPECT_EQ(sent(0)[0].first, 9);

    fpga[0]->clearLog();
    m->Send_to_port(frame.data(), 300, 16, 0, m->ctrl_wait);
    m->Send_to_port(frame.data(), 0, 3, 0, m->ctrl_wait);
    EXPECT_TRUE(fpga[0]->regWrites().empty());

    // A pair that is free again soon is looked at again after a
    // millisecond; one that stays busy gets its frame after 300 ticks, its
    // buffer looked at a few hundred times, not every millisecond; a PC
    // broadcast to three such ports waits 300 ticks in all.
    fpga[0]->setSendBusy(1);
    u64 t0 = clock->nowMs();
    m->Send_to_port(frame.data(), 20, 2, 0, m->ctrl_wait);
    EXPECT_EQ((Vals{clock->nowMs() - t0, sent(0).size()}), (Vals{1, 1}));
    fpga[0]->setSendBusy(3000);
    t0 = clock->nowMs();
    m->Send_to_port(frame.data(), 20, 2, 0, m->ctrl_wait);
    EXPECT_EQ((Vals{clock->nowMs(), sent(0).size()}), (Vals{(t0 / 10 + 300) * 10, 2}));  // the 300th tick
    EXPECT_LT(3000 - fpga[0]->sendBusyLeft(), 400);
    fpga[0]->setSendBusy(-1);
    board().scenario().loadJson(R"({"ports": {"0": 1, "5": 6, "9": 2, "12": 4, "13": 6}})");
    m->update_eth_state(0);
    // One card on ports 1, 6 and 10 of FPGA 0 and ports 1 and 2 of FPGA 1:
    // the card counts of ports 1, 2, 6 and 10 lie at 100, 102, 564 and 644.
    for (int at : {100, 564, 644}) m->MCU_RAM_PARA_func[0][at] = 1;
    for (int at : {100, 102}) m->MCU_RAM_PARA_func[1][at] = 1;
    Bytes bc = hex("FF 0F 10 F0 10 67 01 FF 00 81 FF 00 00");
    card_frame::seal(bc.data(), u32(bc.size()));
    fpga[1]->setSendBusy(-1);
    t0 = clock->nowMs();
    m->Dealwith1_PC_to_eth(u32(bc.size()), bc.data());
    EXPECT_LE(clock->nowMs() - t0, 3010u);
    EXPECT_EQ((Vals{sent(0).size(), sent(1).size()}), (Vals{5, 2}));
}

TEST_F(FpgaCards, PassThroughReachesTheCardAndTheReplyComesBackOnTheLink) {
    TestLink link;
    // FPGA 1 port 1 (byte 7 = 14): card 5 answers, the controller numbers
    // the port and clears the port bits for the PC.
    const Bytes reply = passThrough(link, hex("05 00 10 F0 10 67 01 0E 00 A0 00 10 01 05 29"));
    ASSERT_EQ(sent(1).size(), 1u);
    EXPECT_EQ((Vals{sent(1)[0].first}), (Vals{1}));
    EXPECT_EQ(sent(1)[0].second, hex("05 10 10 F0 10 67 01 0E 00 A0 00 10 01 05 39"));
    EXPECT_EQ(fpga[1]->card(1, 5).regs.at(0x1000), 5);
    EXPECT_EQ(reply, encode(hex("10 F0 05 00 10 67 01 0E 00 A0 00 3D")));
    EXPECT_EQ(g_passby_trans_port.load(), 255);

    // Byte 7 = 5: FPGA 0 port 4, address bits 0. Too long: not sent.
    Bytes f = hex("05 30 10 F0 10 67 01 05 00 81 FF 00 00");
    card_frame::seal(f.data(), u32(f.size()));
    link.handleFrame(f.data(), u32(f.size()));
    ASSERT_EQ(sent(0).size(), 1u);
    EXPECT_EQ((Vals{sent(0)[0].first, sent(0)[0].second[1] & 0x30, card_frame::checkOk(sent(0)[0].second.data(), 13)}),
              (Vals{4, 0, 1}));
    Bytes big(1024, 0);
    big[0] = 5, big[2] = 0x10, big[3] = 0xF0, big[6] = 1, big[7] = 6;
    m->Dealwith1_PC_to_eth(1024, big.data());
    EXPECT_EQ(sent(0).size(), 1u);
    m->Dealwith1_PC_to_eth(1023, big.data());
    EXPECT_EQ(sent(0).size(), 2u);

    // Modes 2 and 4 go nowhere; mode 0 with byte 7 = 0 to port 0 of both
    // unchanged; mode 1 with byte 7 = 0 to FPGA 0 only.
    for (u8 mode : {2, 4}) {
        f[6] = mode;
        m->Dealwith1_PC_to_eth(u32(f.size()), f.data());
    }
    EXPECT_EQ((Vals{sent(0).size(), sent(1).size()}), (Vals{2, 1}));
    f = hex("05 10 10 F0 10 67 01 00 00 81 FF 00 00");
    card_frame::seal(f.data(), u32(f.size()));
    f[6] = 0;
    card_frame::seal(f.data(), u32(f.size()));
    m->Dealwith1_PC_to_eth(u32(f.size()), f.data());
    EXPECT_EQ((Vals{sent(0).size(), sent(1).size(), sent(0).back().first, sent(1).back().first}), (Vals{3, 2, 0, 0}));
    EXPECT_EQ(sent(1).back().second, f);
    f[6] = 1;
    card_frame::seal(f.data(), u32(f.size()));
    m->Dealwith1_PC_to_eth(u32(f.size()), f.data());
    EXPECT_EQ((Vals{sent(0).size(), sent(1).size(), sent(0).back().first}), (Vals{4, 2, 1}));
}

TEST_F(FpgaCards, ALateReplyIsNotTakenForTheAnswerToTheNextFrame) {
    TestLink link;
    // The FPGA thread's poll takes the port mutex just before the link
    // does, with a late reply to an earlier search of FPGA 0 port 5 waiting:
    // the link is not pending yet, so the reply is dropped, and the new
    // frame (FPGA 1 port 1, card 5) gets its own answer.
    const PassThrough::Hook real = PassThrough::current();
    PassThrough::install({[&](const u8* f, u32 n, const std::function<void()>& enter) {
                              fpga[0]->injectReply(5, hex("10 F0 05 10 10 AA FF 00 00 10 00 06 00 00 A6"));
                              {
                                  QMutexLocker lock(&m->port_mutex);
                                  m->reg_IRQ_Dealwith(0, 0);
                              }
                              real.send(f, n, enter);
                          },
                          real.poll});
    const Bytes reply = passThrough(link, hex("05 00 10 F0 10 67 01 0E 00 A0 00 10 01 05 29"));
    PassThrough::install(real);
    EXPECT_EQ(link.replies.size(), 1u);
    EXPECT_EQ(reply, encode(hex("10 F0 05 00 10 67 01 0E 00 A0 00 3D")));
    EXPECT_EQ(area(0, 564), 6);  // the late reply was still counted
}

TEST_F(FpgaCards, APcSearchRightAfterTheFpgaThreadsOwnIsAnsweredAndNeitherGoesAstray) {
    // The FPGA thread's search of FPGA 0 port 5 is five register steps (the
    // pair's bit of register 131 cleared, port select, length, high length
    // bits, start). A PC frame for the cards goes out under the port lock:
    // were the lock free between two of the steps, a link's thread could
    // move the port select, which ports 0-7 share, and one of the two
    // frames would go nowhere.
    TestLink link;
    int steps = 0, open = 0;
    fpga[0]->setRegWriteHook([&](u8, u8) {
        ++steps;
        if (m->port_mutex.tryLock()) {
            ++open;
            m->port_mutex.unlock();
        }
    });
    m->check_error_rcv_search_card_cmd(5, 0, 0, 0, 0, m->search_wait);
    fpga[0]->setRegWriteHook({});
    EXPECT_EQ((Vals{steps, open}), (Vals{5, 0}));
    // The PC's search of the same port right after it: both reach port 5,
    // the FPGA thread's reply counts for the search (pair 2), the PC's
    // reaches the PC with the port's 6 cards.
    const Bytes reply = passThrough(link, hex("FE 0F 10 F0 10 AA FF 06 00 10 00 00 00 00 42"));
    ASSERT_EQ(sent(0).size(), 2u);
    EXPECT_EQ((Vals{sent(0)[0].first, sent(0)[0].second.size(), sent(0)[1].first, sent(0)[1].second.size()}),
              (Vals{5, 30, 5, 15}));
    EXPECT_EQ(reply, encode(hex("10 F0 05 00 10 AA FF 06 00 10 00 06 00 00 B0")));
    EXPECT_EQ((Vals{m->search_result_mask & 4u, area(0, 564)}), (Vals{4, 6}));
}

TEST_F(FpgaCards, RepliesAreCheckedCountedAndForwarded) {
    TestLink link;
    // A search of port 5 of FPGA 0 (byte 7 = 6) or 1 (byte 7 = 18) whose
    // cards have not answered yet: the link waits.
    auto pending = [&](int k) {
        const Bytes search = sealed(k ? "FE 0F 10 F0 10 AA FF 12 00 10 00 00 00 00"
                                      : "FE 0F 10 F0 10 AA FF 06 00 10 00 00 00 00");
        fpga[k]->setSilentPort(5, true);
        link.replies.clear();
        link.handleFrame(search.data(), u32(search.size()));
        fpga[k]->setSilentPort(5, false);
    };
    // Its reply from FPGA 0 port 5, with byte 7 = 0: count stored in mirror
    // and page 1, forwarded with its port number and the port bits cleared.
    pending(0);
    fpga[0]->injectReply(5, hex("10 F0 05 10 10 AA FF 00 00 10 00 06 00 00 A6"));
    link.servePassThrough();
    EXPECT_EQ((Vals{area(0, 564), ramWord(0, 564), fpga_manage::MCU_RAM_PARA_func[0][566]}), (Vals{6, 6, 0}));
    ASSERT_EQ(link.replies.size(), 1u);
    EXPECT_EQ(link.replies[0], encode(hex("10 F0 05 00 10 AA FF 06 00 10 00 06 00 00 B0")));
    EXPECT_EQ(g_passby_trans_port.load(), 255);

    // The same from FPGA 1 port 5: byte 7 = 13 + 5.
    board().scenario().setCardsOnPort(17, 3);
    pending(1);
    fpga[1]->injectReply(5, hex("10 F0 05 10 10 AA FF 00 00 10 00 03 00 00 A3"));
    link.servePassThrough();
    ASSERT_EQ(link.replies.size(), 1u);
    EXPECT_EQ(link.replies[0], encode(hex("10 F0 05 00 10 AA FF 12 00 10 00 03 00 00 A1")));
    EXPECT_EQ(area(1, 564), 3);

    // Bad check byte: acknowledged, no count, not forwarded.
    pending(0);
    fpga[0]->injectReply(5, hex("10 F0 05 10 10 AA FF 00 00 10 00 09 00 00 00"));
    link.servePassThrough();
    EXPECT_EQ((Vals{area(0, 564), link.replies.size()}), (Vals{6, 0}));
    m->read_from_register(129, 0);
    EXPECT_EQ(image(0, 129) & 0x55, 0);

    // A RAM-read reply to the controller (the sensor's) is the controller's,
    // never the answer to a waiting PC frame.
    awaits(m->ctrl_wait, "00 50 00 F0 10 BB 03 00 00 61 00 00 00 02 80 00 00 00", 5);
    pending(0);
    Bytes own = hex("00 F0 00 50 10 BB 03 00 00 61 00 07 09 00");
    card_frame::seal(own.data(), u32(own.size()));
    fpga[0]->injectReply(5, own);
    link.servePassThrough();
    EXPECT_EQ((Vals{link.replies.size(), m->ctrl_reply_flag, m->ctrl_reply_len, m->ctrl_reply[2]}),
              (Vals{0, 1, 4, 7}));

    // Nothing pending: counted, dropped.
    link.servePassThrough();
    g_passby_trans_port.store(255);
    fpga[0]->injectReply(5, hex("10 F0 05 10 10 AA FF 00 00 10 00 02 00 00 A2"));
    m->reg_IRQ_Dealwith(0, 0);
    EXPECT_EQ(area(0, 564), 2);
}

TEST_F(FpgaCards, BroadcastForwardsOnlyTheCompletingReply) {
    TestLink link;
    // Cards on FPGA 0 port 6 (count at 564) and FPGA 1 ports 1 and 2 (100, 102).
    m->MCU_RAM_PARA_func[0][564] = 6;
    m->MCU_RAM_PARA_func[1][100] = 4;
    m->MCU_RAM_PARA_func[1][102] = 6;
    Bytes bc = hex("FF 0F 10 F0 10 67 01 FF 00 81 FF 00 00");
    card_frame::seal(bc.data(), u32(bc.size()));
    const Bytes reply = passThrough(link, bc);
    EXPECT_EQ((Vals{sent(0).size(), sent(1).size()}), (Vals{1, 2}));
    ASSERT_FALSE(reply.empty());
    EXPECT_EQ(reply, encode(hex("10 F0 FF 0F 10 67 01 FF 00 81 00 18")));
    EXPECT_EQ(link.replies.size(), 1u);

    // One port with cards that does not answer: no reply at all, the PC
    // times out.
    fpga[1]->setSilentPort(1, true);
    EXPECT_TRUE(passThrough(link, bc, 250).empty());
    fpga[1]->setSilentPort(1, false);

    // A search broadcast: one reply, source 0x0FFE.
    Bytes req = hex("FE 0F 10 F0 10 AA FF FF 00 10 00 00 00 00 00");
    card_frame::seal(req.data(), u32(req.size()));
    const Bytes search = passThrough(link, req);
    ASSERT_FALSE(search.empty());
    EXPECT_EQ(link.replies.size(), 1u);
    Decoded d;
    d.collect(search);
    ASSERT_EQ(d.frames.size(), 1u);
    EXPECT_EQ((Vals{d.frames[0][2], d.frames[0][3], d.frames[0][7], d.frames[0][9]}), (Vals{0xFE, 0x0F, 0xFF, 0x10}));

    // Right after start-up the FPGA thread has sent its first searches, and
    // FPGA 1 port 1's count is not known yet when a search broadcast comes:
    // it goes to FPGA 0 port 5 and FPGA 1 port 0 only. The thread's search
    // reply, come while the broadcast goes out and polled during the
    // collection, makes the count 6; the broadcast is still complete once
    // both ports it went to have answered.
    m->MCU_RAM_PARA_func[1][102] = 0;
    fpga[1]->setSilentPort(1, true);
    m->check_error_rcv_search_card_cmd(1, 1, 0, 0, 0, m->search_wait);
    fpga[1]->setSilentPort(1, false);
    bool replied = false;
    fpga[1]->setRegWriteHook([&](u8 reg, u8) {
        if (reg == 132 && !replied) {
            replied = true;
            fpga[1]->injectReply(1, sealed("00 F0 05 10 10 AA FF 02 00 10 00 06 00 00"));
        }
    });
    const size_t before[2] = {sent(0).size(), sent(1).size()};
    const Bytes early = passThrough(link, req);
    fpga[1]->setRegWriteHook({});
    EXPECT_EQ((Vals{sent(0).size() - before[0], sent(1).size() - before[1], sent(1).back().first}), (Vals{1, 1, 0}));
    EXPECT_EQ(m->get_port_card_num(13), 6);
    ASSERT_FALSE(early.empty()) << "the broadcast's replies were collected but never forwarded";
    Decoded e;
    e.collect(early);
    ASSERT_EQ(e.frames.size(), 1u);
    EXPECT_EQ((Vals{e.frames[0][2], e.frames[0][3], e.frames[0][7], e.frames[0][9]}), (Vals{0xFE, 0x0F, 0xFF, 0x10}));

    // An FPGA that is not running gets nothing.
    m->write_to_register(80, 0xFF, 0, 1);
    link.handleFrame(bc.data(), u32(bc.size()));
    EXPECT_EQ((Vals{sent(0).size(), sent(1).size()}), (Vals{5, 8}));
}

namespace {

// A reply that is not the answer to the PC frame waiting (a register write
// from TCP to card 5 of FPGA 1 port 1), and when it reaches the receive
// pages: already waiting when the frame is handed over, or while the frame
// is sent (at its port select step, ahead of the frame's own answer). With
// `owner` the 4G line's search of FPGA 0 port 5 still waits for its answer,
// which this reply is.
enum When { Waiting, WhileSent };
struct Stray {
    const char* what;
    int fpga, port;      // where it arrives
    const char* frame;   // without its check byte
    When when;
    bool owner;
};
const Stray kStrays[] = {
    {"the 4G line's search answer, its line given up", 0, 5, "10 F0 05 10 10 AA FF 06 00 10 00 06 00 00", Waiting,
     false},
    {"the 4G line's search answer, its line still waiting", 0, 5, "10 F0 05 10 10 AA FF 06 00 10 00 06 00 00", Waiting,
     true},
    {"the 4G line's search answer, late", 0, 5, "10 F0 05 10 10 AA FF 06 00 10 00 06 00 00", WhileSent, false},
    {"a search answer of the same port", 1, 1, "10 F0 05 10 10 AA FF 0E 00 10 00 06 00 00", WhileSent, false},
    {"the same card's answer to a RAM write", 1, 1, "10 F0 05 10 10 67 01 0E 00 60 00", WhileSent, false},
    {"another card's answer to a register write", 1, 1, "10 F0 03 10 10 67 01 0E 00 A0 00", WhileSent, false},
    {"a register write answer from the other FPGA's port 1", 0, 1, "10 F0 05 10 10 67 01 0E 00 A0 00 77", WhileSent,
     false},
    {"an earlier register write to the card, refused", 1, 1, "10 F0 05 10 10 67 01 0E 00 A0 01", Waiting, false},
    {"an answered broadcast's reply", 1, 1, "10 F0 05 10 10 67 01 FF 00 81 00", WhileSent, false},
    {"a reply to the controller of a class it never asks for", 1, 1, "01 F0 05 10 10 CC 01 0E 00 A0 00", WhileSent,
     false},
    {"a reply for neither the PC nor the controller", 1, 1, "23 01 05 10 10 67 01 0E 00 A0 00", WhileSent, false},
};

}  // namespace

// A PC frame for the cards is answered by its own reply only: whatever else
// the cards sent is in the receive pages first, a reply of another frame
// (the same link's or another's, a broadcast's, the controller's) neither
// answers it nor keeps its own answer from it, and a reply already waiting
// when a frame is handed over still reaches the link whose frame it answers.
TEST_F(FpgaCards, APcFrameIsAnsweredByItsOwnReplyWhateverWaitsBeforeIt) {
    const Bytes write = sealed("05 00 10 F0 10 67 01 0E 00 A0 00 10 01 05");
    const Bytes search = sealed("FE 0F 10 F0 10 AA FF 06 00 10 00 00 00 00");
    // Worked by hand: destination and source swapped, byte 7 kept (the
    // card's port), the port bits of the card's address cleared, status 0.
    const Bytes written = encode(sealed("10 F0 05 00 10 67 01 0E 00 A0 00"));
    const Bytes found = encode(sealed("10 F0 05 00 10 AA FF 06 00 10 00 06 00 00"));
    for (const Stray& s : kStrays) {
        TestLink tcp(PcLinkId::Tcp), line4g(PcLinkId::Serial4G);
        if (s.owner) {
            fpga[0]->setSilentPort(5, true);
            line4g.handleFrame(search.data(), u32(search.size()));
            fpga[0]->setSilentPort(5, false);
        }
        const Bytes stray = sealed(s.frame);
        if (s.when == Waiting) fpga[s.fpga]->injectReply(s.port, stray);
        bool injected = false;
        fpga[1]->setRegWriteHook([&](u8 reg, u8) {
            if (s.when == WhileSent && reg == 132 && !injected) {
                injected = true;
                fpga[s.fpga]->injectReply(s.port, stray);
            }
        });
        const Bytes answer = passThrough(tcp, write);
        fpga[1]->setRegWriteHook({});
        EXPECT_EQ((Vals{tcp.replies.size(), answer == written}), (Vals{1, 1})) << s.what;
        if (s.owner) {
            line4g.servePassThrough();
            EXPECT_EQ((Vals{line4g.replies.size(), !line4g.replies.empty() && line4g.replies[0] == found}),
                      (Vals{1, 1}))
                << s.what;
        }
        g_passby_trans_port.store(255);
        {
            // Whatever the case left behind.
            QMutexLocker lock(&m->port_mutex);
            for (int i = 0; i < 8; ++i) m->reg_IRQ_Dealwith(u8(i % 2), 0);
        }
    }
}

// The controller's own frames too: a reply of an earlier frame still
// waiting when it sends (a card's second acknowledgement of the save to the
// port before, the light sensor's block of a read that gave up) is not the
// answer it waits for.
TEST_F(FpgaCards, TheControllersFramesAreAnsweredByTheirOwnRepliesOnly) {
    Bytes block = hex("00 F0 00 50 10 BB 03 00 00 61 00");
    block.resize(11 + 128, 0);
    block[11 + 49] = 0xFF;  // a valid reading
    block[11 + 52] = 9;     // asking for level 9
    block.push_back(0);
    card_frame::seal(block.data(), u32(block.size()));
    struct Wait {
        const char* what;
        std::vector<std::pair<int, Bytes>> stale;  // on FPGA 0, by port
        std::function<bool()> ownAnswerTaken;
    };
    const Wait waits[] = {
        {"the save job's frame to FPGA 1 port 0, its cards silent",
         {{5, sealed("00 F0 05 10 10 67 01 06 00 81 00")}, {5, sealed("00 F0 04 10 10 67 01 06 00 81 00")}},
         [&] {
             counted(6, 4, 6);
             fpga[1]->setSilentPort(0, true);
             g_send_para.job_step.store(u16(3 | 2 << 8));
             g_send_para.port = 12;
             g_send_para.cards_on_port = 4;
             m->save_para_deal();
             for (int i = 0; i < 5; ++i) {
                 clock->advanceMs(10);
                 {
                     QMutexLocker lock(&m->port_mutex);
                     m->reg_IRQ_Dealwith(0, 0);
                     m->reg_IRQ_Dealwith(1, 0);
                 }
                 m->save_para_deal();
             }
             const bool waiting = g_send_para.job() == 3 && g_send_para.step() == 3;
             g_send_para.finish();
             fpga[1]->setSilentPort(0, false);
             return waiting;
         }},
        {"the light sensor's read of FPGA 0 port 5, asking for level 4",
         {{5, block}},
         [&] {
             board().scenario().setSensor(5, SimSensor{true, 4, false, false});
             m->g_change[27] = 2;
             m->g_change[28] = 0x5000;
             m->read_sensor();
             return m->g_change[31] == 1 && m->sensor_block[52] == 4;
         }},
    };
    for (const Wait& w : waits) {
        for (const auto& [port, frame] : w.stale) fpga[0]->injectReply(port, frame);
        EXPECT_TRUE(w.ownAnswerTaken()) << w.what;
        QMutexLocker lock(&m->port_mutex);
        for (int i = 0; i < 8; ++i) m->reg_IRQ_Dealwith(u8(i % 2), 0);
    }
}

namespace {

// The replies the cards send the controller itself (destination 0xF000 to
// 0xF00F), as they come back on FPGA 1 port 1, the controller's frame they
// answer (sent on that port: a job's or the sensor's, or the search's), and
// where each lands on the controller's side: the reply flag, the stored
// reply (its command), the search result of the pair.
struct OwnReply {
    const char* what;
    const char* frame;  // without its check byte
    const char* asked;  // none: the controller waits for no such frame
    bool search;
    int flag, stored, searched;
};
const OwnReply kOwnReplies[] = {
    {"quick set-up acknowledgement", "00 F0 01 10 10 67 01 02 00 60 00",
     "01 10 00 F0 10 67 01 02 00 60 80 01 00 00 04 00 00 00 00 00 00 00", false, 1, 0x60, 0},
    {"parameter save acknowledgement", "00 F0 05 10 10 67 01 02 00 81 00", "FF 0F 00 F0 10 67 01 02 00 81 FF 00",
     false, 1, 0x81, 0},
    {"mapping switch acknowledgement", "00 F0 05 10 10 67 01 02 00 A0 00", "FF 0F 00 F0 10 67 01 02 00 A0 03 0F 01 09",
     false, 1, 0xA0, 0},
    {"acknowledgement to a second controller address", "0F F0 05 10 10 67 01 02 00 A0 00",
     "FF 0F 00 F0 10 67 01 02 00 A0 03 0F 01 09", false, 1, 0xA0, 0},
    {"brightness register acknowledgement", "00 F0 05 10 10 66 01 00 00 A0 00", nullptr, false, 0, 0, 0},
    {"brightness save acknowledgement", "00 F0 05 10 10 66 01 00 00 81 00", nullptr, false, 0, 0, 0},
    {"light sensor block", "00 F0 00 50 10 BB 03 00 00 61 00 07 09 00",
     "00 50 00 F0 10 BB 03 00 00 61 00 00 00 02 80 00 00 00", false, 1, 0x61, 0},
    {"the controller's search", "00 F0 05 10 10 AA FF 02 00 10 00 06 00 00",
     "FE 1F 00 F0 10 AA FF 02 00 10 00 00 00 00 00 00 00 00 00 00 00 FF 00 00 00 00 00 00 00", true, 0, 0, 1},
    // Of a class the controller never asks for: the PC's only when no
    // broadcast is collected, and here no frame of the PC is pending.
    {"a frame of another class", "00 F0 05 10 10 CC 01 02 00 A5 00", nullptr, false, 0, 0, 0},
};

// A PC broadcast of each class the controller's replies have, still
// collecting (FPGA 1 port 1 silent) or answered.
struct Collection {
    const char* what;
    const char* broadcast;  // none: before any broadcast
    bool open;
};
const Collection kCollections[] = {
    {"before any broadcast", nullptr, false},
    {"a search broadcast collecting", "FE 0F 10 F0 10 AA FF FF 00 10 00 00 00 00", true},
    {"a search broadcast answered", "FE 0F 10 F0 10 AA FF FF 00 10 00 00 00 00", false},
    {"a save broadcast collecting", "FF 0F 10 F0 10 67 01 FF 00 81 FF 00", true},
    {"a save broadcast answered", "FF 0F 10 F0 10 67 01 FF 00 81 FF 00", false},
    {"a brightness broadcast collecting", "FF 0F 10 F0 10 66 01 FF 00 81 09 00", true},
    {"a brightness broadcast answered", "FF 0F 10 F0 10 66 01 FF 00 81 09 00", false},
    {"a card read broadcast collecting", "FF 0F 10 F0 10 BB 03 FF 00 61 00 00 00 02 80 00 00 00", true},
    {"a card read broadcast answered", "FF 0F 10 F0 10 BB 03 FF 00 61 00 00 00 02 80 00 00 00", false},
};

}  // namespace

// A PC's broadcast collects the replies for the PC; the controller's own
// (the jobs', the brightness and sensor code's, its searches) reach the
// controller whether a collection runs, has completed or never began, and
// none of them answers the PC.
TEST_F(FpgaCards, TheControllersRepliesAreItsOwnWhateverBroadcastCameBefore) {
    TestLink link;
    counted(6, 4, 6);
    for (const Collection& c : kCollections) {
        for (const OwnReply& r : kOwnReplies) {
            fpga[1]->setSilentPort(1, c.open);
            if (c.broadcast) {
                const Bytes answer = passThrough(link, sealed(c.broadcast), c.open ? 5 : 50);
                ASSERT_EQ(answer.empty(), c.open) << c.what;
            }
            {
                // Whatever else waits in the receive pages first.
                QMutexLocker lock(&m->port_mutex);
                for (int i = 0; i < 12; ++i) m->reg_IRQ_Dealwith(u8(i % 2), 0);
            }
            g_send_para.reply.store(0);
            m->ctrl_reply_flag = 0;
            m->ctrl_reply[0] = 0;
            m->search_result_mask = 0;
            m->ctrl_wait = {};
            m->search_wait = {};
            if (r.asked) awaits(r.search ? m->search_wait : m->ctrl_wait, r.asked, 17);
            link.replies.clear();
            fpga[1]->injectReply(1, sealed(r.frame));
            if (link.passPending()) {
                link.servePassThrough();
            } else {
                QMutexLocker lock(&m->port_mutex);
                m->reg_IRQ_Dealwith(1, 0);
            }
            EXPECT_EQ((Vals{link.replies.size(), g_send_para.reply.load(), m->ctrl_reply_flag ? m->ctrl_reply[0] : 0,
                            (m->search_result_mask >> 8) & 1}),
                      (Vals{0, r.flag, r.stored, r.searched}))
                << r.what << ", " << c.what;
        }
    }
    fpga[1]->setSilentPort(1, false);
}

TEST_F(FpgaCards, ABroadcastIsAnsweredOnceAndNotHeldBackByAPortWhoseLinkDropped) {
    TestLink link;
    // A broadcast to FPGA 0 port 5 alone: its reply completes it.
    counted(6, 0, 0);
    const Bytes save = sealed("FF 0F 10 F0 10 67 01 FF 00 81 FF 00");
    EXPECT_EQ(passThrough(link, save), encode(hex("10 F0 FF 0F 10 67 01 FF 00 81 00 18")));
    // The port answers again (a card that repeats itself): no log line
    // each for an answer nobody waits for, and no answer to the next PC
    // frame (a save of FPGA 0 port 11, which has no cards).
    const Bytes again = sealed("10 F0 05 10 10 67 01 FF 00 81 00");
    const std::string unrequested = "answers no waiting PC frame";
    const size_t before = logged(unrequested);
    for (int i = 0; i < 3; ++i) {
        fpga[0]->injectReply(5, again);
        QMutexLocker lock(&m->port_mutex);
        m->reg_IRQ_Dealwith(0, 0);
    }
    EXPECT_EQ(logged(unrequested), before);
    link.replies.clear();
    const Bytes quiet = sealed("00 30 10 F0 10 67 01 0C 00 81 FF 00");
    link.handleFrame(quiet.data(), u32(quiet.size()));
    for (int i = 0; i < 3; ++i) {
        fpga[0]->injectReply(5, again);
        link.servePassThrough();
    }
    EXPECT_EQ(link.replies.size(), 0u);

    // A broadcast that went to no port (no card counted yet) is not
    // answered by a late reply to an earlier frame.
    counted(0, 0, 0);
    link.handleFrame(save.data(), u32(save.size()));
    fpga[0]->injectReply(5, sealed("10 F0 05 10 10 67 01 06 00 81 00"));
    for (int i = 0; i < 3; ++i) link.servePassThrough();
    EXPECT_EQ(link.replies.size(), 0u);

    // A broadcast to three ports, one of them silent: once its link has
    // dropped, the other two complete the broadcast.
    counted(6, 4, 6);
    fpga[1]->setSilentPort(1, true);
    link.replies.clear();
    link.handleFrame(save.data(), u32(save.size()));
    board().scenario().setCardsOnPort(13, 0);
    for (int i = 0; i < 50 && link.passPending(); ++i) {
        clock->advanceMs(10);
        link.servePassThrough();
    }
    ASSERT_EQ(link.replies.size(), 1u) << "the broadcast waited for a port without a link";
    Decoded d;
    d.collect(link.replies[0]);
    ASSERT_EQ(d.frames.size(), 1u);
    EXPECT_EQ((Vals{d.frames[0][2], d.frames[0][3], d.frames[0][7], d.frames[0][9]}), (Vals{0xFF, 0x0F, 0xFF, 0x81}));
    fpga[1]->setSilentPort(1, false);
}

// What the issue measured on the running program: sensor mode stored, the
// sensor asking for level 4 and register 6 at 63; one PC broadcast search,
// answered, and nothing more from the PC. Every sensor read after it still
// gets its reading: register 6 stays 63.
TEST_F(FpgaCards, TheLightSensorIsStillReadAfterAPcBroadcast) {
    TestLink link;
    board().scenario().setSensor(5, SimSensor{true, 4, false, false});
    ASSERT_TRUE(runUntil([this] { return fpga_manage::MCU_RAM_PARA_func[0][566] == 1; }, 400));
    const u8 block[9] = {0xAA, 3, 0xAA, 0, 0, 0, 1, 0, 2};
    {
        QMutexLocker lock(&Utils::_fpga_multicast_mutex);
        std::memcpy(fpga_manage::MCU_RAM_CMD, block, sizeof block);
    }
    m->write_to_register(2, 0x04, 0x04, 0);
    auto taskRun = [&] {
        clock->advanceMs(10 * fpga_manage::kTaskTicks);
        m->Extension_function();
    };
    for (int i = 0; i < 12; ++i) taskRun();  // from level 16 to 4, a step a reading
    ASSERT_EQ((Vals{m->g_change[16], fpga[0]->reg(6)}), (Vals{4, 63}));
    ASSERT_FALSE(passThrough(link, sealed("FE 0F 10 F0 10 AA FF FF 00 10 00 00 00 00")).empty());
    tick(81);
    for (int i = 0; i < 12; ++i) taskRun();
    EXPECT_EQ((Vals{m->g_change[26], m->g_change[16], fpga[0]->reg(6), fpga[1]->reg(6)}), (Vals{0, 4, 63, 63}));
    // A sensor that stops answering is logged once for the run of failed
    // reads, and once when it answers again.
    const std::string none = "light sensor gave no reading", again = "light sensor gives readings again";
    EXPECT_EQ((Vals{logged(none), logged(again)}), (Vals{0, 0}));
    board().scenario().setSensor(5, SimSensor{true, 4, true, false});
    for (int i = 0; i < 3; ++i) taskRun();
    board().scenario().setSensor(5, SimSensor{true, 4, false, false});
    for (int i = 0; i < 3; ++i) taskRun();
    EXPECT_EQ((Vals{logged(none), logged(again), m->g_change[26]}), (Vals{1, 1, 3}));
}

TEST_F(FpgaCards, PeriodicSearchKeepsTheCountsAndDropsASilentPort) {
    EXPECT_TRUE(runUntil([this] { return m->get_port_card_num(5) == 6 && m->get_port_card_num(12) == 4 &&
                                         m->get_port_card_num(13) == 6; },
                         400));
    fpga[0]->setSilentPort(5, true);
    EXPECT_TRUE(runUntil([this] { return m->get_port_card_num(5) == 0; }, 400));
    EXPECT_EQ(ramWord(0, 564), 0);
    EXPECT_EQ(m->get_port_card_num(13), 6);

    // A PC command in progress holds the search; 80 ticks later it is over.
    fpga[0]->setSilentPort(5, false);
    pc_cmd_valid.store(1);
    pc_cmd_time.store(G_timeTicks);
    const size_t before = sent(0).size();
    tick(80);
    EXPECT_EQ((Vals{sent(0).size(), pc_cmd_valid.load()}), (Vals{before, 1}));
    tick(2);
    EXPECT_EQ(pc_cmd_valid.load(), 0);
    EXPECT_TRUE(runUntil([this] { return m->get_port_card_num(5) == 6; }, 400));
}

// An odd search cycle whose reply from FPGA 0 port 5 waits behind a PC's
// reply on the same pair when the next cycle judges it (the thread held up
// for a cycle): the port answered, and keeps its 6 cards.
TEST_F(FpgaCards, ASearchReplyWaitingBehindAnotherFrameStillCounts) {
    counted(6, 4, 6);
    m->g_change[8] = 0;  // the next cycle is odd
    m->g_change[2] = G_timeTicks - 80;
    fpga[0]->injectReply(5, sealed("10 F0 05 10 10 67 01 06 00 81 00"));
    m->Search_Card_Cmd();
    ASSERT_EQ((Vals{m->g_change[8], sent(0).size(), sent(1).size()}), (Vals{1, 1, 2}));
    clock->advanceMs(810);
    m->Search_Card_Cmd();
    EXPECT_EQ((Vals{m->g_change[8], area(0, 564), area(1, 100), area(1, 102)}), (Vals{2, 6, 4, 6}));
}

TEST_F(FpgaCards, AnFpgaThatRestartedByItselfStartsAgainWithOutputsOn) {
    fpga[1]->setReg(31, 24);
    fpga[1]->setRestarted(true);
    EXPECT_TRUE(runUntil([this] { return image(1, 80) == 0; }, 20));
    EXPECT_EQ((Vals{image(1, 80), m->st[1].run.load()}), (Vals{0, 0}));
    fpga[1]->setReg(31, 0x24);
    fpga[1]->setReg(3, 0);
    EXPECT_TRUE(runUntil([this] { return m->get_fpga_status(); }, 2000));
    EXPECT_EQ(fpga[1]->reg(3) & 0x20, 0x20);
}

// Lines and counts that serve every port or every flash: one port's or
// flash's flood spends its own only, and the other's line, once meanwhile,
// is written whole.
TEST_F(FpgaCards, OnePortsOrFlashsFloodLeavesAnothersLineWhole) {
    struct Row {
        const char* what;
        std::function<void(int k)> fail;  // port or flash k
        std::string line;                 // of k = 1
    };
    auto busyFlash = [this](int k) {
        u8 data[4 + 16] = {};  // room for the command before the bytes
        flash[k]->setBusyPolls(-1);
        m->drv().FPGA_SPI_FLASH_VBYONE_WRITE(u8(2 + k), 0, data, 16);
        flash[k]->setBusyPolls(0);
        m->drv().FPGA_SPI_FLASH_VBYONE_WRITE(u8(2 + k), 0, data, 16);
    };
    // A quick set-up step whose frame to port LED6 or LED7 no card acknowledged.
    auto silentPort = [this](int k) {
        g_send_para.port = u8(5 + k);
        g_send_para.setStep(3);
        g_send_para.reply.store(0);
        g_send_para.step_tick = G_timeTicks - 1300;
        m->SmartMapping_deal();
    };
    const std::vector<Row> rows = {
        {"port without acknowledgement", silentPort,
         "fpga: card job: no card of port LED7 acknowledged in 12 s; going on"},
        {"busy flash", busyFlash, "fpga flash /dev/spidev32766.4 still busy after 20 ms; operation abandoned"},
    };
    for (const Row& row : rows) {
        LineLimiter::writeHeldCounts();
        FileOps::removePath(kLogFile);
        for (int i = 0; i < 20; ++i) row.fail(0);
        row.fail(1);
        EXPECT_EQ(logged(row.line + "\n"), 1u) << row.what;
    }
    g_send_para.finish();
}
