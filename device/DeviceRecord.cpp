#include "device/DeviceRecord.h"

#include "device/DriverChannel.h"

DeviceRecord::~DeviceRecord() {
    Close();
}

void DeviceRecord::Close() {
    if (driverHandle != 0)
        CDriverChannel::Instance().Detach(driverHandle);
    driverHandle = 0;
    interfaceOpen = false;
}
