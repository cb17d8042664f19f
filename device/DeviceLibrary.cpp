#include "device/DeviceLibrary.h"

#include "device/CurrentDevice.h"
#include "device/DriverChannel.h"

bool DeviceLibraryStartup(std::int32_t libType) {
    return CDriverChannel::Instance().Startup(libType);
}

void DeviceLibraryShutdown(std::int32_t /*libType*/) {
    // The device goes before the channel, so that its handle and subscription are given back.
    CCurrentDevice::Instance().Close();
    CDriverChannel::Instance().Shutdown();
}

std::int32_t DeviceLibraryLibType() {
    return CDriverChannel::Instance().LibType();
}
