#include "core/usbserver.h"

#include "core/logMsg.h"
#include "core/utils.h"
#include "platform/board.h"
#include "platform/fileops.h"
#include "platform/uevent.h"

#include <pthread.h>
#include <unistd.h>

#include <chrono>

UsbServer* UsbServer::p_UsbServer = nullptr;

namespace {
constexpr const char* kUsbStorage = "/proc/scsi/usb-storage";
// How long one receive waits for the kernel. Events and the stop end it at
// once (the simulated board looks for its stick folder within the wait).
constexpr int kReceiveWaitMs = 1000;
// The driver registers usb-storage within a second or two of the partition
// event; after this the stick is taken as unusable.
constexpr u32 kStorageWaitMs = 10000;
constexpr u32 kStoragePollMs = 100;
constexpr u32 kSettleTicks = 300;  // about 3 s for the mount to finish
constexpr int kSettingsPage = 5;
}  // namespace

UsbServer* UsbServer::get() {
    if (!p_UsbServer) p_UsbServer = new UsbServer();
    return p_UsbServer;
}

UsbServer* UsbServer::pInstance() {
    UsbServer* usb = get();
    usb->initialize();
    return usb;
}

UsbServer::UsbServer(QObject* parent) : QObject(parent) {}

UsbServer::~UsbServer() { stop(); }

void UsbServer::stop() {
    {
        std::lock_guard<std::mutex> lock(m_stopMutex);
        m_stop = true;
    }
    m_stopCv.notify_all();
    if (m_thread.joinable()) {
        m_source->interrupt();
        m_thread.join();
    }
}

int UsbServer::initialize() {
    debugPrintf("=========UsbServer::initialize()=========== ");
    if (m_thread.joinable()) return 0;
    m_source = Board::get().openUevents();
    debugPrintf("\n usb server getpid = %d \n", int(getpid()));
    if (!m_source || !m_source->isOpen()) {
        debugPrintf(" UsbServer  bind error\n");
        writeLogMsg(ERROR, "UsbServer bind error");
        m_source.reset();
        return 255;
    }
    try {
        m_thread = std::thread([this] {
            while (!m_stop) {
                // The receive itself waits; after a failure pause so a broken
                // socket does not spin.
                if (recvData() != 0) {
                    std::unique_lock<std::mutex> lock(m_stopMutex);
                    m_stopCv.wait_for(lock, std::chrono::milliseconds(kReceiveWaitMs), [this] { return m_stop.load(); });
                }
            }
        });
        pthread_setname_np(m_thread.native_handle(), "usb");
    } catch (const std::system_error&) {
        debugPrintf("UsbServer create accept thread failed\n");
        writeLogMsg(ERROR, "UsbServer create accept thread failed");
        return 255;
    }
    return 0;
}

int UsbServer::usb_signal(int code) {
    emit sig_usb_update(code);
    return 1;
}

std::vector<int> UsbServer::classify(const std::string& header) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t slash = header.find('/', start);
        parts.push_back(header.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    // Readiness only follows an addition: the partition path of a removal
    // looks the same and must not announce a stick that is gone.
    const bool added = !parts.empty() && parts[0] == "add@";
    std::vector<int> codes;
    for (size_t i = 0; i < parts.size(); ++i) {
        const std::string& p = parts[i];
        if (p == "add@") {
            codes.push_back(USB_ADDED);
        } else if (p == "remove@") {
            codes.push_back(USB_REMOVED);
        } else if (p == "block" && added && i + 2 < parts.size() && parts[i + 1] == "sda") {
            const std::string& part = parts[i + 2];
            if (part.size() == 4 && part.compare(0, 3, "sda") == 0 && part[3] >= '0' && part[3] <= '9')
                codes.push_back(USB_STORAGE_READY);
        }
    }
    return codes;
}

u32 UsbServer::recvData() {
    if (!m_source) return 255;
    char buf[4097];
    const long n = m_source->receive(buf, sizeof buf - 1, kReceiveWaitMs);
    if (n < 0) {
        debugPrintf("UsbServer select error\n");
        return 255;
    }
    if (n == 0) return 0;
    buf[n] = '\0';
    // The header is the first NUL-terminated string of the message.
    const std::string header(buf);
    for (int code : classify(header)) {
        if (code == USB_STORAGE_READY)
            storageReady();
        else
            usb_signal(code);
    }
    return 0;
}

void UsbServer::storageReady() {
    u32 waited = 0;
    while (!FileOps::exists(kUsbStorage)) {
        if (m_stop || waited >= kStorageWaitMs) {
            writeLogMsg(WARNING, "USB partition appeared but usb-storage did not");
            return;
        }
        Utils::sleep_ms(kStoragePollMs);
        waited += kStoragePollMs;
    }
    debugPrintf("\n usb have mound ok ");
    {
        // One wait for the whole settle time; a stop ends it at once.
        std::unique_lock<std::mutex> lock(m_stopMutex);
        Board::get().clock().waitFor(m_stopCv, lock, u64(kSettleTicks) * 10, [this] { return m_stop.load(); });
    }
    if (m_stop) return;
    usb_signal(USB_STORAGE_READY);
    // The settings menu is closed by the shell in the GUI thread; this
    // thread only asks.
    if (g_page_focus == kSettingsPage) emit sig_storage_ready_close_settings();
}
