#include "platform/usb/LibusbErrors.h"

#include <libusb.h>

#include "platform/usb/UsbBackend.h"

namespace uafw::usb {

std::uint32_t MapLibusbError(int libusbError) {
    if (libusbError >= 0) {
        return 0;
    }
    switch (libusbError) {
        case LIBUSB_ERROR_NO_DEVICE:
            return kErrNotConnected;
        case LIBUSB_ERROR_TIMEOUT:
            return kErrTimeout;
        case LIBUSB_ERROR_BUSY:
            return kErrNotReady;
        case LIBUSB_ERROR_PIPE:
            return kErrGenFailure;
        case LIBUSB_ERROR_ACCESS:
            return kErrAccessDenied;
        case LIBUSB_ERROR_INVALID_PARAM:
            return kErrInvalidParam;
        case LIBUSB_ERROR_NOT_FOUND:
            // The device or interface vanished between lookup and use.
            return kErrNotConnected;
        case LIBUSB_ERROR_NO_MEM:
            return kErrNotEnoughMemory;
        case LIBUSB_ERROR_NOT_SUPPORTED:
            return kErrNotSupported;
        default:
            // LIBUSB_ERROR_IO, OVERFLOW, INTERRUPTED, OTHER and anything a later libusb adds.
            return kErrIoDevice;
    }
}

}  // namespace uafw::usb
