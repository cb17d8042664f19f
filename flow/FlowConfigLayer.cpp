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
