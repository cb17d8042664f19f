#pragma once
// Translation of libusb's error codes into the USB seam's error vocabulary.
#include <cstdint>

namespace uafw::usb {

// `libusbError` is a negative libusb_error value; 0 or positive values are not errors and give 0.
std::uint32_t MapLibusbError(int libusbError);

}  // namespace uafw::usb
