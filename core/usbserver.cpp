#include "core/usbserver.h"

#include "platform/uevent.h"

UsbServer* UsbServer::p_UsbServer = nullptr;
UsbServer* UsbServer::pInstance() { return p_UsbServer; }
UsbServer::UsbServer(QObject* parent) : QObject(parent) {}
UsbServer::~UsbServer() = default;
int UsbServer::initialize() { return 255; }
int UsbServer::usb_signal(int code) { emit sig_usb_update(code); return 1; }
u32 UsbServer::recvData() { return 0; }
std::vector<int> UsbServer::classify(const std::string&) { return {}; }
void UsbServer::storageReady() {}
