#pragma once
// USB storage hot-plug watcher: reads the kernel's uevents in a thread of its
// own and reports insertion (100), removal (101) and storage ready (102) on
// sig_usb_update, which start-up connects to the refresh dispatcher.
#include "core/global.h"

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class UeventSource;

class UsbServer : public QObject {
    Q_OBJECT
public:
    static UsbServer* pInstance();
    static UsbServer* p_UsbServer;

    // Codes carried by sig_usb_update.
    static constexpr int USB_ADDED = 100;
    static constexpr int USB_REMOVED = 101;
    static constexpr int USB_STORAGE_READY = 102;

    explicit UsbServer(QObject* parent = nullptr);
    ~UsbServer() override;  // tests only: the device never destroys it

    // The watcher without its thread (start-up connects it first).
    static UsbServer* get();
    // Opens the uevent source and starts the watcher thread: 0 running, 255 failed.
    int initialize();
    // Ends the watcher thread and joins it, without waiting out a receive.
    void stop();
    // Emits sig_usb_update(code); returns 1.
    int usb_signal(int code);
    // One receive pass: 0, or 255 when the source failed.
    u32 recvData();

    // What one uevent header (the first NUL-terminated string, such as
    // "add@/devices/.../block/sda/sda1") reports, in order: 100 for "add@",
    // 101 for "remove@", 102 for a partition sda1 to sda9 that was added.
    static std::vector<int> classify(const std::string& header);

signals:
    void sig_usb_update(int code);
    // Storage became ready while the settings menu was in front: the shell
    // closes it in the GUI thread (connect queued or auto).
    void sig_storage_ready_close_settings();

private:
    void storageReady();

    std::unique_ptr<UeventSource> m_source;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    // The settle wait sleeps on this until its bound or a stop.
    std::mutex m_stopMutex;
    std::condition_variable m_stopCv;
};
