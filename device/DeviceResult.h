#pragma once
// Result values of the device-access layer. Commands return 0 or an HRESULT (or 1 when the
// command lock could not be taken); the internals speak Windows system error codes, the same
// vocabulary the USB seam uses.
#include <cstdint>

#include "platform/usb/UsbBackend.h"

using HRESULT = std::uint32_t;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT E_NOTIMPL = 0x80004001u;
inline constexpr HRESULT E_FAIL = 0x80004005u;
inline constexpr HRESULT E_INVALIDARG = 0x80070057u;
// The device is gone (HRESULT of ERROR_DEVICE_NOT_CONNECTED).
inline constexpr HRESULT kHrDeviceNotConnected = 0x8007048Fu;
// The command lock could not be taken (timed out, failed or abandoned by a dead owner).
inline constexpr HRESULT kHrLockFailed = 1;

// System error codes that only this layer produces.
inline constexpr std::uint32_t kErrPathNotFound = 3;  // the device library is not started
inline constexpr std::uint32_t kErrBadLength = 24;    // fewer bytes arrived than were asked for
inline constexpr std::uint32_t kErrNotFound = 2;      // no such list entry, no root hub above

// HRESULT of a system error code: 0x80070000 | the low 16 bits; a code that already is an
// HRESULT (high bit set) passes unchanged. A failure that carries no code at all still fails.
inline HRESULT HResultFromWin32(std::uint32_t error) {
    if (error == 0)
        return E_FAIL;
    if (error & 0x80000000u)
        return error;
    return 0x80070000u | (error & 0xFFFFu);
}
