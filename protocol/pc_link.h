#pragma once
// What the four PC links (UDP, TCP, RS-485, 4G) share: the frame decoder,
// the road of a decoded frame (dispatcher or receiving-card pass-through),
// the pass-through reply list and its time-out.
#include "core/global.h"
#include "core/line_limiter.h"
#include "protocol/protocol_phy.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Link ids in g_passby_trans_port.
namespace PcLinkId {
constexpr u8 Serial = 1;
constexpr u8 Tcp = 2;
constexpr u8 Udp = 3;
constexpr u8 Serial4G = 4;  // its own id, so a card reply goes back on the 4G line
constexpr u8 None = 255;
}  // namespace PcLinkId

// Who sent a frame: the link, and on UDP and TCP the PC's IPv4 address and
// port (network order). A serial line has one PC. What a PC starts (a file
// transfer) is carried on only by the same peer.
struct PcPeer {
    u8 link = PcLinkId::None;
    u32 addr = 0;
    u16 port = 0;
    bool operator==(const PcPeer& o) const { return link == o.link && addr == o.addr && port == o.port; }
    bool operator!=(const PcPeer& o) const { return !(*this == o); }
};

// Record sizes of the links' receive and reply lists (encoded bytes).
constexpr u32 kUartRecordSize = 65556;   // Uart_Rec_Send_Data
constexpr u32 kTcpRecordSize = 131072;   // Tcp_Rec_Send_Data
constexpr u32 kUdpRecordSize = 131072;   // Udp_Rec_Send_Data

// The receiving-card side of the pass-through, installed by the FPGA
// manager. send takes the port mutex, takes the replies already waiting
// (they answer earlier frames, and reach the link still waiting for one of
// them or none), runs `enter` under it (the link marks its frame pending and
// names itself as the one a reply goes to) and hands one decoded PC frame
// for the cards over; only a reply that answers this frame (its command,
// from a port it went to and the card it addressed) is then forwarded, so a
// late reply to an earlier frame is never taken for this one's. poll runs
// one poll for the cards' replies, which arrive through
// PcLink::queuePassReply of the link that sent the frame. Both are called
// from that link's receive thread. Without a hook such frames are dropped
// with a log line.
namespace PassThrough {
struct Hook {
    std::function<void(const u8* frame, u32 length, const std::function<void()>& enter)> send;
    std::function<void()> poll;
};
void install(Hook hook);
Hook current();
}  // namespace PassThrough

struct pollfd;

// Each link's receive thread sleeps in poll() on its descriptors and the
// link's wake descriptor, with no periodic wake: stop() and a queued card
// reply write the wake descriptor. Only while a pass-through waits for the
// cards does the thread also wake at the card poll step.
class PcLink {
public:
    // A pass-through without a reply is given up after this many ticks, so
    // one unanswered frame never blocks the link.
    static constexpr u32 kPassTimeoutTicks = 200;
    // While a pass-through waits, the cards are polled at this step.
    static constexpr int kPassPollMs = 10;

    PcLink(u8 linkId, u32 recordSize);
    virtual ~PcLink();
    PcLink(const PcLink&) = delete;
    PcLink& operator=(const PcLink&) = delete;

    u8 linkId() const { return m_id; }
    // "link <id>" as the log names it: each line of the links has a place of
    // its own for each link, so a PC flooding one link never hides
    // another link's line.
    std::string linkName() const { return "link " + std::to_string(m_id); }
    // The live link with this id, or null. Used by the FPGA side to queue a
    // card reply on the link named by g_passby_trans_port.
    static PcLink* byId(u8 id);

    // The cards' reply to this link's pending frame: encoded with this
    // link's framing, it replaces the reply list. Returns false when it does
    // not fit in the link's record.
    bool queuePassReply(const u8* frame, u32 length);
    bool passPending() const { return m_pending.load(); }

    // Stops the receive thread and closes the link; idempotent. Any thread
    // but the link's own.
    virtual void stop() = 0;

protected:
    // Starts fn as the receive thread, named name (at most 15 characters);
    // it runs while running() is true.
    void startThread(const char* name, std::function<void()> fn);
    // Ends the receive thread: clears running(), wakes and joins it.
    void stopThread();
    bool running() const { return m_run.load(); }
    // Sleeps until one of fds (count of them, may be 0) is ready, the link
    // is woken or the pending pass-through's next poll step. Returns the
    // number of fds ready (0 when only woken or timed out), -1 on an error.
    int waitEvents(pollfd* fds, int count);
    // Sleeps at most ms, or less when woken (a back-off after a failure).
    void pause(int ms);
    // Makes the receive thread's wait return.
    void wake();

    // The road of one decoded frame; called from the receive thread.
    void handleFrame(const u8* frame, u32 length);
    // Feeds received bytes through the decoder into handleFrame.
    void feed(const u8* data, size_t n);
    // One step of a pending pass-through; every pass of the receive loop.
    void servePassThrough();

    // Sends one encoded frame on the link: a reply to the frame just handled.
    virtual bool sendEncoded(const u8* data, u32 length) = 0;
    // Sends a queued card reply; by default the same way as a reply.
    virtual bool sendPassReply(const u8* data, u32 length) { return sendEncoded(data, length); }
    // Remembers where the pending pass-through's reply goes (UDP).
    virtual void notePassRequester() {}
    // The sender of the frame in hand; a serial line's is the line itself.
    virtual PcPeer peer() const { return PcPeer{m_id, 0, 0}; }

    FrameDecoder m_decoder;

private:
    void clearPassPort();

    const u8 m_id;
    const u32 m_recordSize;
    std::vector<u8> m_reply;     // decoded reply frame
    std::vector<u8> m_encoded;   // its encoding
    std::mutex m_listMutex;
    std::vector<std::vector<u8>> m_replyList;
    std::atomic<bool> m_pending{false};
    LineLimiter m_noCardPath;  // a PC may send such frames at will
    u32 m_pendingSince = 0;
    int m_wakeFd = -1;
    std::atomic<bool> m_run{false};
    std::thread m_thread;
};
