#include "flow/FlowOperationTable.h"

#include "platform/AppState.h"

int CFlowOperationTable::NotSupported() {
    g_ErrCode = kNotSupportCode;
    return 0;
}

int CFlowOperationTable::OpPrepare(const std::vector<std::uint8_t>&) {
    return NotSupported();
}
int CFlowOperationTable::OpRead() {
    return NotSupported();
}
int CFlowOperationTable::OpErase() {
    return NotSupported();
}
int CFlowOperationTable::OpUpdate() {
    return NotSupported();
}
int CFlowOperationTable::OpDownload() {
    return NotSupported();
}
int CFlowOperationTable::OpSilentWrite(const std::string&) {
    return NotSupported();
}
int CFlowOperationTable::OpSilentWriteSN(const std::string&, const std::string&) {
    return NotSupported();
}
int CFlowOperationTable::OpReadToBinFile(const std::string&) {
    return NotSupported();
}
int CFlowOperationTable::OpSilentVerify(const std::string&) {
    return NotSupported();
}
int CFlowOperationTable::OpReadToHexFile(const std::string&) {
    return NotSupported();
}
int CFlowOperationTable::OpEraseWithRestart(int) {
    return NotSupported();
}
int CFlowOperationTable::OpSlot11() {
    return NotSupported();
}
