#include "flow/FlowFactory.h"

#include "flow/EepromInfo.h"
#include "flow/OtpInfo.h"
#include "flow/SPIFlashInfoUSB.h"
#include "platform/AppState.h"

CFlowConfigLayer* g_pFlow = nullptr;

namespace {
// Owns the flow object that g_pFlow points to.
std::unique_ptr<CFlowConfigLayer>& FlowOwner() {
    static std::unique_ptr<CFlowConfigLayer> owner;
    return owner;
}
}  // namespace

std::unique_ptr<CFlowConfigLayer> MakeFlowObject(std::int32_t projectType, std::int32_t busType) {
    if (busType != kBusUsb)
        return nullptr;
    switch (projectType) {
        case kProjectFlash:
            return std::make_unique<CSPIFlashInfo_USB>();
        case kProjectEeprom8:
            return std::make_unique<CEepromInfo8_USB>();
        case kProjectEeprom16:
            return std::make_unique<CEepromInfo16_USB>();
        case kProjectOtp:
            return std::make_unique<COTPInfo_USB>();
        default:
            return nullptr;
    }
}

void ReleaseFlowObject() {
    g_pFlow = nullptr;
    FlowOwner().reset();
}

CFlowConfigLayer* CreateFlowObject(std::int32_t projectType, std::int32_t busType) {
    ReleaseFlowObject();
    FlowOwner() = MakeFlowObject(projectType, busType);
    g_pFlow = FlowOwner().get();
    g_ErrCode = 0;
    return g_pFlow;
}

CFlowConfigLayer* CreateFlowObject() {
    return CreateFlowObject(g_nProjectType, g_nBusType);
}

CFlowConfigLayer* RecreateFlowObject(std::int32_t projectType, std::int32_t busType) {
    std::uint32_t handle = 0;
    std::string imageFile;
    if (g_pFlow != nullptr) {
        handle = g_pFlow->m_hDevice;
        imageFile = g_pFlow->m_ImageRecord.m_strImageFile;
    }
    CreateFlowObject(projectType, busType);
    if (g_pFlow != nullptr) {
        g_pFlow->m_hDevice = handle;
        g_pFlow->m_ImageRecord.m_strImageFile = imageFile;
    }
    return g_pFlow;
}
