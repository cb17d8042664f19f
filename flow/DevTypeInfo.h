#pragma once
// Device type data of the open device, as the device flow records it when it opens and selects
// a device.
#include <cstdint>
#include <string>

#include "flow/MpFlowCustomize.h"

class CDevTypeInfo : public CMpFlow_Customize, public virtual CDataInfo {
public:
    std::uint8_t m_byChipId1 = 0;  // byte at 0xFE21 masked with 0xF0; 0 when no device
    std::uint8_t m_byChipId2 = 0;  // byte at 0xFE22 masked with 0xF0
    std::string m_strDevManufacturer;
    std::string m_strDevVidPid;    // "VID_%04X&PID_%04X"
    std::string m_strDevIdentity;  // "VID_%04X&PID_%04X&REV_%04X"
    std::uint32_t m_dwPort = 0;
    std::uint32_t m_dwHub = 0;
};
