#include "flow/FlowConfigLayer.h"

#include "platform/OperationLog.h"

int CFlowConfigLayer::OpPrepare(const std::vector<std::uint8_t>& image) {
    LogScope scope("CFlowConfigLayer::OpPrepare", false, uafw::kLogDevice);
    if (&image != &m_ImageRecord.m_image && &image != &m_ImageRecord.m_secondary)
        return 0;
    if (!LocateConfigArea(image))
        return 0;
    m_bBankCopyOn = CEepromConfigInfo::m_bBankCopyEnabled;
    return 1;
}

int CFlowConfigLayer::LoadImageForThisChip(const LogScope& log, const std::string& path) {
    m_ImageRecord.m_strImageFile = path;
    if (!LoadImageFile(m_ImageRecord)) {
        log.Fail("Load File Data Fail!\n");
        PostFailure(kLoadFileFailCode);
        return 0;
    }
    if (!LocateConfigArea(m_ImageRecord.m_image)) {
        log.Fail("Parse FW File Fail!\n");
        PostFailure(kParseFileFailCode);
        return 0;
    }
    if (CEepromConfigInfo::m_byChipCode != CatalogueChipCode()) {
        log.Fail("Firmware is not for this device\n");
        PostFailure(kWrongFirmwareCode);
        return 0;
    }
    return 1;
}
