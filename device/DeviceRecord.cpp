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

void DeviceRecord::Reset() {
    Close();
    tag = 0;
    deviceNode = 0;
    rootHubClass = kRootHubOther;
    name.clear();
    interfaceKind = 0;
    ancestors.fill(0);
    location.clear();
    interfaceNumber = 0;
    ancestorCount = 0;
    capabilities.reset();
}
