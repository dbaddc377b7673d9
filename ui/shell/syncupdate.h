#pragma once
// The refresh dispatcher. Every change signal of the parameter model and
// every USB event lands here in the GUI thread: the page in front redraws
// what differs between the live image and the shadow, the tip shows what
// happened, and only then does the model persist the image and bring the
// shadow up to date.
//
// Signals are merged: a PC writing as fast as it can makes the c331 thread
// signal hundreds of changes a second, and one full refresh and persisting
// step per signal would starve the panel's tick. post() keeps at most one
// refresh pending in the GUI thread; signals that come while it waits fold
// into it. And a refresh that held the GUI thread long (a slow disk under
// the persisting step) is followed by a pause before the next, so that the
// 10 ms tick keeps at least nine in ten of its turns.
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>
#include <mutex>
#include <vector>

class SyncUpdate : public QObject {
    Q_OBJECT
public:
    static SyncUpdate* pInstance();
    static SyncUpdate* p_syncupdate;

    // Tip kind raised for a change code while page id is in front (0: none).
    static int tipKind(int page, int code);

    // Any thread: adds code to the pending refresh, scheduling one in the
    // GUI thread when none is pending. A code already pending is not added
    // again; the codes are served in the order they first came. Connect
    // change signals here with Qt::DirectConnection.
    void post(int code);
    // The codes the pending refresh will serve.
    std::vector<int> pendingCodes() const;

    // The pause owed after a refresh that took busyMs: none up to 4 ms,
    // then twenty times the time less 80 ms (a refresh blocking for d ms
    // costs the 10 ms tick about d / 10 turns; the margin covers a busy
    // machine), so the tick keeps over nine in ten of its turns; never more
    // than kMaxPauseMs, so one stall of the disk does not hold the next
    // change back from its file for long.
    static constexpr qint64 kMaxPauseMs = 200;
    static qint64 pauseAfterMs(qint64 busyMs);

    // Test seam: called in para_sync after the page in front was refreshed,
    // before the persisting step.
    std::function<void(int code)> on_refreshed;

    // The orderly stop, GUI thread, once every worker was joined: the
    // refresh still pending (whatever pause it owes, which no loop would end
    // now) and the change the c331 thread never took (its apply flag,
    // untaken) go through one persisting step, with the protocol's slot
    // pass when either asks for it. No page is refreshed any more.
    void persistAtStop(int untaken);

public slots:
    void para_sync(int code);
    // Serves the pending refresh: para_sync for each of its codes.
    void flush();

private:
    explicit SyncUpdate(QObject* parent = nullptr);
    // GUI thread: runs the pending refresh now, or when the pause is over.
    void kick();
    // The codes of the pending refresh, taken whole; the next signal
    // schedules a refresh of its own.
    std::vector<int> takePending();

    mutable std::mutex m_pendingMutex;
    std::vector<int> m_pending;
    bool m_scheduled = false;
    QTimer m_pause;           // single shot: the end of the pause
    QElapsedTimer m_clock;    // monotonic
    qint64 m_readyAtMs = 0;   // on m_clock: no refresh before
};
