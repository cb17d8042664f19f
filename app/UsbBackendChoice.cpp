#include "app/UsbBackendChoice.h"

#include <cstdlib>

#include "platform/usb/LibusbBackend.h"
#include "sim/SimBackend.h"

CUsbBackendChoice::~CUsbBackendChoice() {
    Release();
}

bool CUsbBackendChoice::Install(std::string& error) {
    Release();
    const char* sim = std::getenv("UAFW_SIM");
    if (sim != nullptr && *sim != '\0') {
        auto backend = uafw::sim::SimBackend::FromStateDirs(sim, error);
        if (!backend)
            return false;
        m_backend = std::move(backend);
        m_bSimulated = true;
    } else {
        m_backend = std::make_unique<uafw::usb::LibusbBackend>();
        m_bSimulated = false;
    }
    uafw::usb::SetCurrentUsbBackend(m_backend.get());
    return true;
}

void CUsbBackendChoice::Release() {
    if (m_backend && uafw::usb::CurrentUsbBackend() == m_backend.get()) {
        uafw::usb::SetCurrentUsbBackend(nullptr);
    }
    m_backend.reset();
    m_bSimulated = false;
}
