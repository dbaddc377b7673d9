#include "protocol/pc_link.h"

#include "core/logMsg.h"
#include "core/utils.h"
#include "protocol/message_deal.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <map>

namespace {
std::mutex g_hookMutex;
PassThrough::Hook g_hook;

std::mutex g_linksMutex;
std::map<u8, PcLink*> g_links;
}  // namespace

void PassThrough::install(Hook hook) {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    g_hook = std::move(hook);
}

PassThrough::Hook PassThrough::current() {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    return g_hook;
}

PcLink::PcLink(u8 linkId, u32 recordSize)
    : m_decoder(recordSize - protocol_phy::kStartCount - 1),
      m_id(linkId),
      m_recordSize(recordSize),
      // The largest reply whose encoding fits in one record.
      m_reply((recordSize - protocol_phy::kStartCount - 1) / 2),
      m_encoded(recordSize),
      m_noCardPath(LineLimiter::logCount(WARNING, "", "frames for the receiving cards dropped on link " +
                                                          std::to_string(linkId))),
      m_wakeFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (m_wakeFd < 0) writeLogMsgFor(linkName(), ERROR, linkName() + ": no wake descriptor");
    std::lock_guard<std::mutex> lock(g_linksMutex);
    g_links[m_id] = this;
}

PcLink::~PcLink() {
    // The derived link has stopped its thread in its own destructor; this
    // only guards a link that never did.
    stopThread();
    {
        std::lock_guard<std::mutex> lock(g_linksMutex);
        auto it = g_links.find(m_id);
        if (it != g_links.end() && it->second == this) g_links.erase(it);
    }
    if (m_wakeFd >= 0) ::close(m_wakeFd);
}

void PcLink::startThread(const char* name, std::function<void()> fn) {
    m_run.store(true);
    m_thread = std::thread(std::move(fn));
    pthread_setname_np(m_thread.native_handle(), name);
}

void PcLink::stopThread() {
    m_run.store(false);
    wake();
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id()) m_thread.join();
    m_noCardPath.printHeld();
}

void PcLink::wake() {
    if (m_wakeFd < 0) return;
    const uint64_t one = 1;
    // Only fails when the counter is already huge: the thread is woken anyway.
    (void)!::write(m_wakeFd, &one, sizeof one);
}

int PcLink::waitEvents(pollfd* fds, int count) {
    pollfd all[4];
    if (count < 0 || count > 3) return -1;
    for (int i = 0; i < count; ++i) all[i] = fds[i];
    all[count] = pollfd{m_wakeFd, POLLIN, 0};
    // Without a wake descriptor a stop is seen at the latest after 100 ms.
    const int timeout = m_pending.load() ? kPassPollMs : m_wakeFd < 0 ? 100 : -1;
    const int r = ::poll(all, nfds_t(count + 1), timeout);
    if (r < 0) return errno == EINTR ? 0 : -1;
    for (int i = 0; i < count; ++i) fds[i].revents = all[i].revents;
    int ready = r;
    if (all[count].revents) {
        uint64_t n;
        (void)!::read(m_wakeFd, &n, sizeof n);
        --ready;
    }
    return ready;
}

void PcLink::pause(int ms) {
    pollfd p{m_wakeFd, POLLIN, 0};
    if (m_run.load() && ::poll(&p, 1, ms) > 0) {
        uint64_t n;
        (void)!::read(m_wakeFd, &n, sizeof n);
    }
}

PcLink* PcLink::byId(u8 id) {
    std::lock_guard<std::mutex> lock(g_linksMutex);
    auto it = g_links.find(id);
    return it == g_links.end() ? nullptr : it->second;
}

void PcLink::feed(const u8* data, size_t n) {
    m_decoder.feed(data, n, [this](const u8* frame, u32 length) { handleFrame(frame, length); });
}

void PcLink::handleFrame(const u8* frame, u32 length) {
    if (length < Frame::kMinLen) return;
    pc_cmd_valid.store(1);
    pc_cmd_time.store(G_timeTicks.load());

    if (Frame::isPassThrough(frame)) {
        const PassThrough::Hook hook = PassThrough::current();
        if (!hook.send) {
            m_noCardPath.occur([this] {
                writeLogMsgFor(linkName(), WARNING,
                               "frame for the receiving cards dropped on " + linkName() + ": no receiving-card path");
            });
            return;
        }
        hook.send(frame, length, [this] {
            {
                std::lock_guard<std::mutex> lock(m_listMutex);
                m_replyList.clear();
            }
            notePassRequester();
            m_pendingSince = G_timeTicks.load();
            m_pending.store(true);
            g_passby_trans_port.store(m_id);
        });
        return;
    }

    const u32 n =
        message_deal::pInstance()->message_group_deal(frame, length, m_reply.data(), u32(m_reply.size()), peer());
    if (n == 0) return;
    const u32 enc = protocol_phy::data_re_transf_meaning(m_reply.data(), n, m_encoded.data(), u32(m_encoded.size()));
    if (enc == 0) {
        writeLogMsgFor(linkName(), ERROR,
                       "reply of command " + std::to_string(frame[9]) + " does not fit the record of " + linkName());
        return;
    }
    sendEncoded(m_encoded.data(), enc);
}

bool PcLink::queuePassReply(const u8* frame, u32 length) {
    std::vector<u8> rec(m_recordSize);
    const u32 enc = protocol_phy::data_re_transf_meaning(frame, length, rec.data(), m_recordSize);
    if (enc == 0) return false;
    rec.resize(enc);
    std::lock_guard<std::mutex> lock(m_listMutex);
    m_replyList.clear();
    m_replyList.push_back(std::move(rec));
    wake();  // sent at once, not at the next poll step
    return true;
}

void PcLink::clearPassPort() {
    u8 mine = m_id;
    g_passby_trans_port.compare_exchange_strong(mine, PcLinkId::None);
}

void PcLink::servePassThrough() {
    if (!m_pending.load()) return;
    const PassThrough::Hook hook = PassThrough::current();
    if (hook.poll) hook.poll();

    std::vector<std::vector<u8>> out;
    {
        std::lock_guard<std::mutex> lock(m_listMutex);
        out.swap(m_replyList);
    }
    if (!out.empty()) {
        for (const auto& rec : out) sendPassReply(rec.data(), u32(rec.size()));
        m_pending.store(false);
        pc_cmd_valid.store(1);
        pc_cmd_time.store(G_timeTicks.load());
        return;
    }
    if (Utils::getTimeSpace(m_pendingSince) > kPassTimeoutTicks) {
        writeLogMsgFor(linkName(), WARNING, "no reply from the receiving cards on " + linkName() + ", given up");
        m_pending.store(false);
        clearPassPort();
    }
}
