#include "ui/shell/syncupdate.h"

#include "core/JsonParse.h"
#include "core/global.h"
#include "core/zrvrampara.h"
#include "ui/shell/page_registry.h"
#include "ui/shell/page_view.h"
#include "ui/shell/shell_text.h"
#include "ui/shell/tip.h"

#include <QMetaObject>

#include <algorithm>

SyncUpdate* SyncUpdate::p_syncupdate = nullptr;

namespace {

// What of the user modes a page may show: the marked mode, which slots
// hold one, and the save still pending, which a page draws as done.
struct ModeState {
    int current = 0;
    u32 saved = 0;
    int pending = 0;
    bool operator!=(const ModeState& o) const {
        return current != o.current || saved != o.saved || pending != o.pending;
    }
};

ModeState modeState(const ImageView& view) {
    ModeState s;
    s.current = view.currentMode();
    s.saved = view.savedModes;
    s.pending = view.pendingSave();
    return s;
}

}  // namespace

SyncUpdate::SyncUpdate(QObject* parent) : QObject(parent) {
    m_pause.setSingleShot(true);
    m_pause.setTimerType(Qt::PreciseTimer);
    connect(&m_pause, &QTimer::timeout, this, &SyncUpdate::flush);
    m_clock.start();
}

qint64 SyncUpdate::pauseAfterMs(qint64 busyMs) { return std::clamp<qint64>(20 * busyMs - 80, 0, kMaxPauseMs); }

SyncUpdate* SyncUpdate::pInstance() {
    if (!p_syncupdate) p_syncupdate = new SyncUpdate();
    return p_syncupdate;
}

int SyncUpdate::tipKind(int page, int code) {
    switch (page) {
    case PageRegistry::Output:
    case PageRegistry::Advanced:
        return TIP::Confirm;
    case PageRegistry::Communication:
        switch (code) {
        case 100: return TIP::UsbInserted;
        case 101: return TIP::UsbRemoved;
        case 102: return TIP::Reading;
        case 104: return TIP::None;
        default: return TIP::Confirm;
        }
    case PageRegistry::Wizard:
        switch (code) {
        case 100: return TIP::UsbInserted;
        case 101: return TIP::UsbRemoved;
        case 102: return TIP::Reading;
        default: return TIP::None;
        }
    default:
        return TIP::None;
    }
}

void SyncUpdate::post(int code) {
    {
        std::lock_guard<std::mutex> lock(m_pendingMutex);
        if (std::find(m_pending.begin(), m_pending.end(), code) == m_pending.end()) m_pending.push_back(code);
        if (m_scheduled) return;
        m_scheduled = true;
    }
    // Queued even from the GUI thread: a page that asks for a save while it
    // edits is refreshed after its handler has returned, never inside it.
    QMetaObject::invokeMethod(this, &SyncUpdate::kick, Qt::QueuedConnection);
}

void SyncUpdate::kick() {
    const qint64 wait = m_readyAtMs - m_clock.elapsed();
    if (wait <= 0)
        flush();
    else if (!m_pause.isActive())
        m_pause.start(int(wait));
}

std::vector<int> SyncUpdate::pendingCodes() const {
    std::lock_guard<std::mutex> lock(m_pendingMutex);
    return m_pending;
}

std::vector<int> SyncUpdate::takePending() {
    std::vector<int> codes;
    {
        // Signals from now on schedule the next refresh: a change applied
        // while this one runs is never left unserved.
        std::lock_guard<std::mutex> lock(m_pendingMutex);
        codes.swap(m_pending);
        m_scheduled = false;
    }
    m_pause.stop();
    return codes;
}

void SyncUpdate::flush() {
    const std::vector<int> codes = takePending();
    const qint64 start = m_clock.elapsed();
    for (int code : codes) para_sync(code);
    const qint64 end = m_clock.elapsed();
    m_readyAtMs = end + pauseAfterMs(end - start);
}

void SyncUpdate::persistAtStop(int untaken) {
    const std::vector<int> codes = takePending();
    ZrvRamPara* model = ZrvRamPara::p_zrvrampara_config;
    if (!model) return;
    // One step serves every code: the saves and the image file are each
    // step's, the slot pass code 2's.
    const bool slotPass = untaken == 2 || std::find(codes.begin(), codes.end(), 2) != codes.end();
    model->ram_para_persist(slotPass ? 2 : 1);
}

void SyncUpdate::para_sync(int code) {
    ZrvRamPara* model = ZrvRamPara::p_zrvrampara_config;
    const int page = g_page_focus.load();

    // A file stored over the protocol may be the alias file: names are
    // looked up afresh even if its time stamp did not move.
    if (code == 103) alias_file_changed();

    // Port link states and the end of an upgrade change nothing of the
    // image: they only redraw the page.
    const bool persists = model && code != 11 && code != 104;
    // The page compares the live image with the shadow, so its refresh runs
    // before the persisting step brings the shadow up to date, and what the
    // shadow becomes is what the page looked at, taken before it looked: a
    // change that lands while it looks or after still differs from the
    // shadow, and the next refresh shows it. Taken after, it would hold a
    // change no page saw and hide it from every later refresh.
    const ImageView looked = ImageView::take();
    {
        const PageView::Refresh refreshing(looked);
        if (!PageRegistry::refresh(page, code) && model) model->ZrvLanguageChanged();
    }
    if (on_refreshed) on_refreshed(code);

    const int kind = tipKind(page, code);
    if (kind != TIP::None && g_tip) g_tip->tip_create(kind);

    if (!persists) return;
    int failedSave = 0;
    model->ram_para_persist(code, looked.snapshot(), &failedSave);
    // A save request carried out by the persisting step (a mode saved over
    // the protocol) changes the marked and saved modes after the page drew
    // them, and one that failed leaves them as they were after the page drew
    // the save as done: the page in front shows what is stored now, not at
    // the next change.
    const ImageView stored = ImageView::take();
    if (modeState(stored) != modeState(looked)) {
        const PageView::Refresh refreshing(stored);
        PageRegistry::refresh(g_page_focus.load(), code);
    }
    if (failedSave && g_tip)
        g_tip->tip_failed(ShellText::pick("用户模式%1保存失败!", "Saving user mode %1 failed!",
                                          "Ошибка сохранения режима %1!", "Lưu chế độ %1 thất bại!",
                                          "使用者模式%1儲存失敗!")
                              .arg(failedSave));
}
