#include "flow/FlowConfigLayer.h"

#include "flow/DumpFile.h"
#include "platform/AppState.h"
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

int CFlowConfigLayer::SaveDump(const char* logName, const std::string& path, bool hex) {
    m_ImageRecord.m_strDumpFile = path;
    const bool written = hex ? CDumpFile::WriteHex(path, m_ImageRecord.m_dump)
                             : CDumpFile::WriteBinary(path, m_ImageRecord.m_dump);
    if (written)
        return 1;
    LogScope log(logName, false, uafw::kLogDevice);
    log.Fail("Write Dump File Fail\n");
    PostFailure(kWriteDumpFileFailCode);
    return 0;
}

void CFlowConfigLayer::PostOperationSuccess(std::int32_t id) {
    PostSuccess(id);
    g_ErrCode = 0;
}
