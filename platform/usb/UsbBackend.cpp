#include "platform/usb/UsbBackend.h"

#include <atomic>

namespace uafw::usb {

namespace {
std::atomic<IUsbBackend*> g_backend{nullptr};
}

IUsbBackend* CurrentUsbBackend() {
    return g_backend.load();
}

void SetCurrentUsbBackend(IUsbBackend* backend) {
    g_backend.store(backend);
}

}  // namespace uafw::usb
