#pragma once
// Chooses the USB backend the program runs on: the virtual chips named by UAFW_SIM, or else
// real hardware through libusb. The chosen backend is installed as the current one for the
// lifetime of this object.
#include <memory>
#include <string>

#include "platform/usb/UsbBackend.h"

class CUsbBackendChoice {
public:
    CUsbBackendChoice() = default;
    ~CUsbBackendChoice();
    CUsbBackendChoice(const CUsbBackendChoice&) = delete;
    CUsbBackendChoice& operator=(const CUsbBackendChoice&) = delete;

    // Installs the backend. False with a message when UAFW_SIM names a state that cannot be
    // loaded; the program must not silently fall back to real hardware then.
    bool Install(std::string& error);
    // Uninstalls and releases the backend.
    void Release();
    bool IsSimulated() const { return m_bSimulated; }

private:
    std::unique_ptr<uafw::usb::IUsbBackend> m_backend;
    bool m_bSimulated = false;
};
