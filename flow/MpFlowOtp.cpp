#include "flow/MpFlowOtp.h"

#include <algorithm>
#include <array>
#include <chrono>

#include "platform/OperationLog.h"

namespace {
// Progress of a chunked OTP transfer: 10..90 over the bytes done.
std::int32_t ChunkProgress(std::size_t done, std::size_t total) {
    return static_cast<std::int32_t>(10 + done * 80 / std::max<std::size_t>(total, 1));
}

std::uint16_t BigEndian16(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]);
}

bool AllZero(std::span<const std::uint8_t> bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

// ECC entry n (1..16) of a table copy.
struct EccView {
    std::uint16_t address = 0;
    std::uint8_t value = 0;
    std::uint8_t flag = 0;
    bool free = false;
};

EccView EccOf(const std::array<std::uint8_t, kOtpEccEntrySize * kOtpEntryCount>& table, int n) {
    const std::uint8_t* e = table.data() + kOtpEccEntrySize * static_cast<std::size_t>(n - 1);
    EccView v;
    v.address = BigEndian16(e);
    v.value = e[2];
    v.flag = e[3];
    v.free = AllZero(std::span<const std::uint8_t>(e, kOtpEccEntrySize));
    return v;
}

// The address of ECC entry n, numbered 1..16.
std::uint32_t EccNumberAddress(int n) {
    return kOtpEccTable - kOtpEccEntrySize + kOtpEccEntrySize * static_cast<std::uint32_t>(n);
}

}  // namespace

int CMpFlow_OTP::OTP_ReadEx_Cmd2(std::uint32_t start, std::span<std::uint8_t> buffer,
                                 bool progress) {
    PostStatus(kStatusRead);
    return ReadInChunks(start, buffer, progress);
}

int CMpFlow_OTP::OTP_Veriry_Cmd2(std::uint32_t start, std::span<std::uint8_t> buffer) {
    return ReadInChunks(start, buffer, false);
}

int CMpFlow_OTP::ReadInChunks(std::uint32_t start, std::span<std::uint8_t> buffer, bool progress) {
    for (std::size_t done = 0; done < buffer.size();) {
        if (MP_CheckCancel())
            return 0;
        const std::size_t n = std::min<std::size_t>(kOtpChunkSize, buffer.size() - done);
        if (!OtpRead(start + static_cast<std::uint32_t>(done), buffer.subspan(done, n)))
            return 0;
        done += n;
        if (progress)
            PostProgress(ChunkProgress(done, buffer.size()));
    }
    return 1;
}

int CMpFlow_OTP::MP_OTPGetCorrectCodeData(std::uint32_t start, std::span<std::uint8_t> buffer) {
    LogScope log("CMpFlow_OTP::MP_OTPGetCorrectCodeData", true, uafw::kLogOtp);
    int complete = 1;
    for (int i = 0; i < kOtpEntryCount; ++i) {
        std::array<std::uint8_t, kOtpEccEntrySize> entry{};
        if (!OtpRead(OtpEccEntryAddress(i), entry)) {
            log.Fail("Read ECC %d Fail\n", i);
            complete = 0;
            continue;
        }
        if (entry[3] != kEccInUse)
            continue;
        const std::uint32_t address = (std::uint32_t{entry[0]} << 8) | entry[1];
        if (address >= start && address - start < buffer.size())
            buffer[address - start] = entry[2];
    }
    return complete;
}

// ---- device helpers ------------------------------------------------------------------------

bool CMpFlow_OTP::ReadFailReply(FailReply& reply) {
    std::array<std::uint8_t, kOtpFailReplySize> bytes{};
    reply = FailReply{};
    if (!OtpFailReply(bytes))
        return false;
    reply.count = bytes[0];
    // Only eight address slots exist, whatever count the device gives.
    reply.listed = std::min<std::uint32_t>(reply.count, kOtpFailSlots);
    for (std::uint32_t k = 0; k < reply.listed; ++k)
        reply.address[k] = BigEndian16(&bytes[1 + 2 * k]);
    reply.current = BigEndian16(&bytes[17]);
    return true;
}

bool CMpFlow_OTP::ProgramTable(std::uint32_t address, std::span<const std::uint8_t> bytes) {
    const int written = OtpWrite(address, kOtpFailSlots, bytes);
    FailReply reply;
    const bool replied = ReadFailReply(reply);
    return written && replied && reply.count == 0;
}

void CMpFlow_OTP::RetireBytes(std::uint32_t address, std::uint32_t count) {
    if (!MP_OTPWriteEnale())
        return;
    std::array<std::uint8_t, kOtpVdEntrySize> bytes{};
    if (count == 0 || count > bytes.size())
        return;
    const auto span = std::span<std::uint8_t>(bytes).first(count);
    // An unreadable entry is retired all the same: the complement of "unknown" is every bit.
    if (!OtpRead(address, span))
        std::fill(span.begin(), span.end(), 0x00);
    for (std::uint8_t& b : span)
        b = static_cast<std::uint8_t>(~b);
    ProgramTable(address, span);
}

bool CMpFlow_OTP::ReadEccTable() {
    if (OtpRead(kOtpEccTable, m_eccTable))
        return true;
    m_eccTable.fill(0xFF);  // unread: no entry counts as free or in use
    return false;
}

bool CMpFlow_OTP::InFailSlots(std::uint16_t address) const {
    for (int i = 0; i < kOtpFailSlots; ++i)
        if (m_dwFailFlag[i] && m_wFailAddr[i] == address)
            return true;
    return false;
}

bool CMpFlow_OTP::RecordFailSlot(std::uint16_t address, std::uint8_t value) {
    for (int i = 0; i < kOtpFailSlots; ++i) {
        if (m_dwFailFlag[i])
            continue;
        m_wFailAddr[i] = address;
        m_byFailValue[i] = value;
        m_dwFailFlag[i] = 1;
        return true;
    }
    return false;
}

void CMpFlow_OTP::PostNotWritable() {
    // A lock state that could not be read is a device failure, not a locked OTP.
    PostFailure(m_bLockUnknown ? kOtpWriteFailCode : kOtpLockedCode);
}

// ---- engine steps --------------------------------------------------------------------------

int CMpFlow_OTP::MP_OTPWriteEnale() {
    LogScope log("CMpFlow_OTP::MP_OTPWriteEnale", true, uafw::kLogOtp);
    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(1);
    while (std::chrono::steady_clock::now() < until) {
    }
    std::uint8_t value = 0;
    m_bLockUnknown = false;
    if (!ReadByte(kOtpLockRegister, value)) {
        m_bLockUnknown = true;
        // The lock state is unknown: nothing is programmed on an unknown state.
        log.Fail("Read Lock State Fail\n");
        return 0;
    }
    if (value & kOtpLockBit) {
        log.Line("Lock\n");
        return 0;
    }
    log.Line("Not Lock\n");
    return 1;
}

int CMpFlow_OTP::MP_CheckVDNUM() {
    LogScope log("CMpFlow_OTP::MP_CheckVDNUM", true, uafw::kLogOtp);
    m_uVDFlagNum = 0;
    if (!OtpRead(kOtpVdTable, m_vdTable)) {
        m_vdTable.fill(0xFF);
        log.Fail("Read VD Table Fail\n");
        return 0;
    }
    for (int i = 0; i < kOtpEntryCount; ++i) {
        const auto entry = std::span<const std::uint8_t>(m_vdTable).subspan(
            kOtpVdEntrySize * static_cast<std::size_t>(i), kOtpVdEntrySize);
        if (AllZero(entry))
            ++m_uVDFlagNum;
    }
    return 1;
}

int CMpFlow_OTP::MP_OTPBlockValidAndSet(std::uint32_t entryAddress, int index) {
    LogScope log("CMpFlow_OTP::MP_OTPBlockValidAndSet", true, uafw::kLogOtp);
    if (index < 0 || index >= kOtpEntryCount)
        return 0;
    if (!ReadEccTable()) {
        m_bEccTableUnread = true;
        return 0;  // an entry that cannot be checked is not used
    }
    for (int j = 1; j <= kOtpEntryCount; ++j) {
        const EccView e = EccOf(m_eccTable, j);
        if (e.flag != kEccInUse || e.address < entryAddress ||
            e.address >= entryAddress + kOtpVdEntrySize)
            continue;
        log.Line("VD %d covered by ECC %d\n", index, j);
        RetireBytes(OtpVdEntryAddress(index) + kOtpVdEntrySize - 1, 1);
        RetireBytes(EccNumberAddress(j) + kOtpEccEntrySize - 1, 1);
        return 0;
    }
    return 1;
}

int CMpFlow_OTP::MP_CheckVDInfo(std::uint32_t length) {
    LogScope log("CMpFlow_OTP::MP_CheckVDInfo", true, uafw::kLogOtp);
    const auto vd = [this](int i) { return OtpVdEntry::Decode(&m_vdTable[kOtpVdEntrySize * i]); };
    m_bEccTableUnread = false;
    m_iPreSelBlock = 0;
    for (int i = kOtpEntryCount - 1; i >= 0; --i) {
        if (vd(i).flag != 0 && MP_OTPBlockValid(OtpVdEntryAddress(i)) == 1) {
            m_iPreSelBlock = i;
            break;
        }
    }
    int chosen = -1;
    for (int i = 0; i < kOtpEntryCount && chosen < 0; ++i) {
        if (MP_OTPBlockValidAndSet(OtpVdEntryAddress(i), i) == 0)
            continue;
        if (vd(i).allZero)
            chosen = i;
    }
    if (chosen < 0) {
        log.Fail("Not Find Sel Block\n");
        PostFailure(kOtpNotFindVdCode);
        return 0;
    }
    m_iSelBlock = chosen;
    m_wPreBlockAddr = 0;
    m_wPreBlockLen = 0;
    if (chosen == 0) {
        log.Line("VD Flag Initial\n");
    } else {
        int previous = -1;
        for (int j = chosen - 1; j >= 0 && previous < 0; --j)
            if (MP_OTPBlockValid(OtpVdEntryAddress(j)) == 1)
                previous = j;
        if (previous < 0) {
            log.Line("VD Flag Second\n");
        } else {
            log.Line("Find VD Flag %d\n", previous);
            m_wPreBlockAddr = vd(previous).start;
            m_wPreBlockLen = vd(previous).length;
        }
    }
    // An entry whose check could not read the ECC table was passed over as untrustworthy
    // although it may record the newest block: the start address could then lie on that block.
    if (m_bEccTableUnread) {
        log.Fail("Read ECC Table Fail\n");
        m_iSelBlock = m_iPreSelBlock;
        PostFailure(kOtpWriteFailCode);
        return 0;
    }
    // In 32 bits: a retired entry may read 0xFFFF for both start and length.
    if (std::uint64_t{length} + m_wPreBlockLen + m_wPreBlockAddr >= kOtpBlockCapacity + 1) {
        log.Fail("Exceed Code Length\n");
        m_iSelBlock = m_iPreSelBlock;
        PostFailure(kOtpExceedLengthCode);
        return 0;
    }
    m_wStartAddr = static_cast<std::uint16_t>(m_wPreBlockAddr + m_wPreBlockLen);
    return 1;
}

int CMpFlow_OTP::MP_CheckOTPWriteInValid(std::uint32_t start) {
    LogScope log("CMpFlow_OTP::MP_CheckOTPWriteInValid", true, uafw::kLogOtp);
    if (start >= kOtpBlockCapacity)
        return 0;
    const std::uint32_t end = std::min<std::uint32_t>(start + 256, kOtpBlockCapacity);
    std::vector<std::uint8_t> bytes(end - start);
    if (!OtpRead(start, bytes)) {
        // What lies behind the last block is unknown: nothing is written over it.
        log.Fail("Read OTP Fail 0x%x\n", start);
        return 1;
    }
    for (std::uint32_t p = 0; p + 7 < bytes.size(); ++p) {
        if (std::all_of(bytes.begin() + p, bytes.begin() + p + 8,
                        [](std::uint8_t b) { return b != 0; })) {
            log.Line("OTP wAddr 0x%x abnormal\n", start + p);
            return 1;
        }
    }
    return 0;
}

void CMpFlow_OTP::MP_OTPInit() {
    LogScope log("CMpFlow_OTP::MP_OTPInit", true, uafw::kLogOtp);
    m_byECCNumList.fill(0);
    m_dwFailFlag.fill(0);
    m_byFailValue.fill(0);
    m_wFailAddr.fill(0xFFFF);
}

void CMpFlow_OTP::MP_OTPGetTotalErrorNum(std::uint32_t start, std::uint32_t length) {
    LogScope log("CMpFlow_OTP::MP_OTPGetTotalErrorNum", true, uafw::kLogOtp);
    m_uActualECCNum = kOtpFailSlots;
    m_uVirtualECCNum = 0;
    m_uSubECCNum = 0;
    ReadEccTable();  // unread, every entry reads 0xFF and counts for nothing
    for (int n = 1; n <= kOtpEntryCount; ++n) {
        const EccView e = EccOf(m_eccTable, n);
        if (e.free) {
            ++m_uVirtualECCNum;
        } else if (e.flag == kEccInUse && e.address < start) {
            if (m_uActualECCNum > 0) {
                m_byECCNumList[kOtpFailSlots - m_uActualECCNum] = static_cast<std::uint8_t>(n);
                --m_uActualECCNum;
            }
        } else if (e.flag == kEccInUse && e.value == 0) {
            if (e.address < start + length)
                ++m_uVirtualECCNum;
            else if (e.address < kOtpBlockCapacity)
                ++m_uSubECCNum;
        }
    }
    log.Line("m_uActualECCNum is %u m_uVirtualECCNum is %u m_uSubECCNum %u\n", m_uActualECCNum,
             m_uVirtualECCNum, m_uSubECCNum);
}

void CMpFlow_OTP::MP_OTPConvertBinaryData(std::uint32_t start, std::uint32_t length,
                                          std::span<std::uint8_t> data) {
    LogScope log("CMpFlow_OTP::MP_OTPConvertBinaryData", true, uafw::kLogOtp);
    if (!ReadEccTable())
        return;
    const std::uint32_t held =
        std::min<std::uint32_t>(length, static_cast<std::uint32_t>(data.size()));
    for (int n = 1; n <= kOtpEntryCount; ++n) {
        const EccView e = EccOf(m_eccTable, n);
        if (e.flag != kEccInUse || e.value != 0 || e.address < start || e.address - start >= held)
            continue;
        log.Line("ErrAddr 0x%04x\n", e.address);
        std::uint8_t& target = data[e.address - start];
        const std::uint8_t wanted = target;
        std::uint8_t programmed = 0;
        if (OtpRead(e.address, std::span<std::uint8_t>(&programmed, 1))) {
            target = MP_ChangeBinaryData(target, programmed);
            log.Line("Change Data\n");
        }
        // The byte is repaired through its placeholder after the write.
        MP_OTPReduceErrNum(e.address, wanted);
    }
}

std::uint8_t CMpFlow_OTP::MP_ChangeBinaryData(std::uint8_t data, std::uint8_t programmed) {
    LogScope log("CMpFlow_OTP::MP_ChangeBinaryData", true, uafw::kLogOtp);
    // Bits already set in the bad byte are not asked for again.
    return static_cast<std::uint8_t>(data & ~programmed);
}

void CMpFlow_OTP::MP_OTPReduceErrNum(std::uint16_t address, std::uint8_t value) {
    LogScope log("CMpFlow_OTP::MP_OTPReduceErrNum", true, uafw::kLogOtp);
    if (InFailSlots(address) || !RecordFailSlot(address, value)) {
        log.Fail("No Slot For 0x%04x\n", address);
        return;
    }
    m_uExecECCNum -= m_uExecECCNum > 0 ? 1 : 0;
    ++m_uTotalErrorNum;
}

int CMpFlow_OTP::MP_OTPAnalyzeECC(std::uint32_t chunkAddress, std::span<const std::uint8_t> chunk) {
    LogScope log("CMpFlow_OTP::MP_OTPAnalyzeECC", true, uafw::kLogOtp);
    FailReply reply;
    if (!ReadFailReply(reply)) {
        // Without the reply the failing bytes are unknown: that is no clean write.
        log.Fail("Read Fail Address Fail\n");
        PostFailure(kOtpWriteFailCode);
        return 0;
    }
    m_uCurErrorNum = reply.count;
    for (int i = 0; i < kOtpFailSlots; ++i) {
        if (!m_dwFailFlag[i])
            continue;
        for (std::uint32_t k = 0; k < reply.listed; ++k) {
            if (reply.address[k] == m_wFailAddr[i]) {
                log.Line("Reduant Addr Again\n");
                --m_uCurErrorNum;
                break;
            }
        }
    }
    if (m_uCurErrorNum == 0) {
        log.Line("No Error Num\n");
        return 1;
    }
    if (m_uExecECCNum < m_uCurErrorNum) {
        m_wCurAddr = reply.current;
        log.Fail("m_uCurErrorNum > m_uExecECCNum\n");
        PostFailure(kOtpErrorNumExceedCode);
        return 0;
    }
    m_uExecECCNum -= m_uCurErrorNum;
    m_uTotalErrorNum += m_uCurErrorNum;
    for (std::uint32_t k = 0; k < reply.listed && m_uCurErrorNum > 0; ++k) {
        const std::uint16_t address = reply.address[k];
        if (InFailSlots(address))
            continue;  // recorded already (by an earlier chunk or earlier in this reply)
        // Only a byte of the chunk just written has a target value.
        if (address < chunkAddress || address - chunkAddress >= chunk.size()) {
            log.Fail("Invalid Addr\n");
            m_wCurAddr = reply.current;
            PostFailure(kOtpFailAddressCode);
            return 0;
        }
        const std::uint8_t value = chunk[address - chunkAddress];
        if (!RecordFailSlot(address, value))
            break;
        log.Line("Record ECC m_wFailAddr 0x%04x m_byFailValue 0x%02x\n", address, value);
        --m_uCurErrorNum;
    }
    if (m_uCurErrorNum == 0)
        return 1;
    // Failing bytes the reply does not list (more than its eight slots) cannot be repaired.
    m_wCurAddr = reply.current;
    log.Fail("m_uCurErrorNum > m_uExecECCNum\n");
    PostFailure(kOtpErrorNumExceedCode);
    return 0;
}

int CMpFlow_OTP::MP_OTPWriteWithRetry(std::uint32_t address, std::uint32_t budget,
                                      std::span<const std::uint8_t> chunk) {
    LogScope log("CMpFlow_OTP::MP_OTPWriteWithRetry", true, uafw::kLogOtp);
    if (!MP_OTPWriteEnale()) {
        PostNotWritable();
        return 0;
    }
    if (!OtpWrite(address, static_cast<std::uint16_t>(std::min<std::uint32_t>(budget, 0xFFFF)),
                  chunk)) {
        // The command failed: programming may have stopped part-way; the reply, when it can be
        // read, says where.
        FailReply reply;
        if (ReadFailReply(reply))
            m_wCurAddr = reply.current;
        log.Fail("OTPWrite Fail 0x%x\n", address);
        PostFailure(kOtpWriteFailCode);
        return 0;
    }
    return MP_OTPAnalyzeECC(address, chunk);
}

int CMpFlow_OTP::MP_OTPReduantDetail(std::uint16_t address, std::uint8_t value) {
    LogScope log("CMpFlow_OTP::MP_OTPReduantDetail", true, uafw::kLogOtp);
    if (!ReadEccTable())
        return kOtpEccNoEntry;
    if (!MP_OTPWriteEnale()) {
        PostNotWritable();
        return kOtpEccLocked;
    }
    // The placeholder for the address comes first (a second entry for the same byte would
    // contradict it), else the first free entry.
    int chosen = -1;
    std::uint8_t newValue = value;
    for (int n = 1; n <= kOtpEntryCount && chosen < 0; ++n) {
        const EccView e = EccOf(m_eccTable, n);
        if (e.flag == kEccInUse && e.value == 0 && e.address == address) {
            chosen = n;
            const std::uint32_t offset = std::uint32_t{address} - m_wStartAddr;
            if (address >= m_wStartAddr && offset < m_otpBlockReference.size())
                newValue = m_otpBlockReference[offset];
            log.Line("Write ECC Condition 1 %d byValue %d\n", n, newValue);
        }
    }
    for (int n = 1; n <= kOtpEntryCount && chosen < 0; ++n) {
        if (EccOf(m_eccTable, n).free) {
            chosen = n;
            log.Line("Write ECC Condition 2 %d byValue %d\n", n, newValue);
        }
    }
    if (chosen < 0) {
        log.Fail("No ECC Entry For 0x%04x\n", address);
        return kOtpEccNoEntry;
    }
    const std::array<std::uint8_t, kOtpEccEntrySize> entry{static_cast<std::uint8_t>(address >> 8),
                                                           static_cast<std::uint8_t>(address),
                                                           newValue, kEccInUse};
    if (!ProgramTable(EccNumberAddress(chosen), entry)) {
        log.Line("Fail HW Error\n");
        RetireBytes(EccNumberAddress(chosen) + kOtpEccEntrySize - 1, 1);
        return kOtpEccFailed;
    }
    log.Line("Success\n");
    return kOtpEccWritten;
}

int CMpFlow_OTP::MP_OTPReduant() {
    LogScope log("CMpFlow_OTP::MP_OTPReduant", true, uafw::kLogOtp);
    for (int i = 0; i < kOtpFailSlots;) {
        if (!m_dwFailFlag[i]) {
            ++i;
            continue;
        }
        log.Line("index is %d\n", i);
        log.Line("wErrAddr is 0x%x, byValue is %d\n", m_wFailAddr[i], m_byFailValue[i]);
        const int result = MP_OTPReduantDetail(m_wFailAddr[i], m_byFailValue[i]);
        if (result == kOtpEccWritten) {
            log.Line("MP_OTPReduantDetail Success\n");
            m_uVirtualECCNum -= m_uVirtualECCNum > 0 ? 1 : 0;
            m_uTotalErrorNum -= m_uTotalErrorNum > 0 ? 1 : 0;
            m_dwFailFlag[i] = 0;
            ++i;
        } else if (result == kOtpEccFailed) {
            log.Line("MP_OTPReduantDetail Fail Extern\n");
            m_uVirtualECCNum -= m_uVirtualECCNum > 0 ? 1 : 0;
        } else if (result == kOtpEccLocked) {
            return 0;
        } else {
            log.Fail("MP_OTPReduant Fail\n");
            PostFailure(kOtpReduantFailCode);
            return 0;
        }
        if (m_uTotalErrorNum == 0) {
            log.Line("m_uCurErrorNum become zero\n");
            return 1;
        }
        if (m_uVirtualECCNum < m_uTotalErrorNum || m_uVirtualECCNum == 0) {
            log.Fail("m_uVirtualECCNum lower m_uCurErrorNum\n");
            PostFailure(kOtpEccLowerCode);
            return 0;
        }
    }
    log.Line("FailFlag Exceed 7 Condition2\n");
    if (m_uTotalErrorNum != 0) {
        // Recorded failing bytes without a slot to repair them from.
        log.Fail("MP_OTPReduant Fail\n");
        PostFailure(kOtpReduantFailCode);
        return 0;
    }
    return 1;
}

int CMpFlow_OTP::MP_OTPWrite(std::uint32_t length, std::span<std::uint8_t> data) {
    LogScope log("CMpFlow_OTP::MP_OTPWrite", true, uafw::kLogOtp);
    m_uTotalErrorNum = 0;
    m_wCurAddr = 0xFFFF;
    m_byWriteStarted = 0;
    if (length == 0 || length > data.size()) {
        log.Fail("Block Length 0x%x Invalid\n", length);
        PostFailure(kMallocFailCode);
        return 0;
    }
    MP_CheckVDNUM();
    if (m_uVDFlagNum == 0) {
        log.Fail("0 == m_uVDFlagNum\n");
        PostFailure(kOtpNotEnoughVdCode);
        return 0;
    }
    if (!MP_CheckVDInfo(length))
        return 0;
    if (MP_CheckOTPWriteInValid(m_wStartAddr)) {
        log.Fail("Last OTP Write Operation Abnomal\n");
        PostFailure(kOtpAbnormalCode);
        return 0;
    }
    m_byWriteStarted = 1;
    log.Line("wStartAddr is 0x%x\n", m_wStartAddr);
    log.Line("wTotalLen  is 0x%x\n", 0u);
    log.Line("wLen  is 0x%x\n", length);
    MP_OTPInit();
    MP_OTPGetTotalErrorNum(m_wStartAddr, length);
    if (m_uSubECCNum > kOtpFailSlots)
        m_uExecECCNum = m_uVirtualECCNum;
    else
        m_uExecECCNum = std::min<std::uint32_t>(m_uVirtualECCNum, kOtpFailSlots - m_uSubECCNum);
    if (m_uExecECCNum == 0)
        log.Line("0 == m_uExecECCNum\n");
    const auto block = data.first(length);
    MP_OTPConvertBinaryData(m_wStartAddr, length, block);
    PostStatus(kStatusDownload);
    for (std::uint32_t done = 0; done < length;) {
        if (MP_CheckCancel()) {
            PostFailure(kResetDeviceFailCode);
            return 0;
        }
        const std::uint32_t n = std::min<std::uint32_t>(kOtpChunkSize, length - done);
        const std::uint32_t address = m_wStartAddr + done;
        if (!MP_OTPWriteWithRetry(address, m_uExecECCNum, block.subspan(done, n))) {
            log.Fail("MP_OTPWriteWithRetry Fail 0x%x\n", address);
            return 0;
        }
        done += n;
        if (m_byOtpBlockKind == kOtpBlockCode)
            PostProgress(ChunkProgress(done, length));
    }
    m_wCurAddr = 0xFFFF;
    const int result = MP_OTPReduant();
    if (!result)
        log.Fail("MP_OTPReduant Fail\n");
    return result;
}

int CMpFlow_OTP::MP_OTPWriteBlock(std::uint32_t length) {
    LogScope log("CMpFlow_OTP::MP_OTPWriteBlock", true, uafw::kLogOtp);
    return RecordPendingVdEntry(length, KindFlag());
}

int CMpFlow_OTP::RecordPendingVdEntry(std::uint32_t length, std::uint8_t flag) {
    m_pendingVdEntry = {
        static_cast<std::uint8_t>(m_wStartAddr >> 8), static_cast<std::uint8_t>(m_wStartAddr),
        static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length), flag};
    // The block's bytes are in the OTP already: only a lock that is known stops the entry. A
    // lock state that could not be read does not, since an unrecorded block would have the next
    // attempt start on top of it, and a locked chip refuses the write itself.
    if (!MP_OTPWriteEnale() && !m_bLockUnknown) {
        PostNotWritable();
        return 0;
    }
    if (m_iSelBlock < 0 || m_iSelBlock >= kOtpEntryCount)
        return 0;
    if (ProgramTable(OtpVdEntryAddress(m_iSelBlock), m_pendingVdEntry))
        return 1;
    return MP_OTPReduantVDFlag(m_iSelBlock);
}

int CMpFlow_OTP::MP_OTPReduantVDFlag(int index) {
    LogScope log("CMpFlow_OTP::MP_OTPReduantVDFlag", true, uafw::kLogOtp);
    int k = index;
    bool retire = true;  // entry k failed or cannot be trusted
    for (;;) {
        log.Line("MP_OTPReduantVDFlag index %d\n", k);
        if (retire && k >= 0 && k < kOtpEntryCount)
            RetireBytes(OtpVdEntryAddress(k), kOtpVdEntrySize);
        ++k;
        m_iSelBlock = k;
        if (k > kOtpEntryCount - 1) {
            log.Fail("MP_OTPReduantVDFlag Exceed 15\n");
            return 0;
        }
        // As for the first try: only a known lock stops the entry of a written block.
        if (!MP_OTPWriteEnale() && !m_bLockUnknown)
            return 0;
        // An entry that holds another block is passed over and left as it is.
        const auto entry = ReadVdEntry(k);
        if (!entry || !entry->allZero) {
            retire = false;
            continue;
        }
        retire = true;
        if (MP_OTPBlockValid(OtpVdEntryAddress(k)) != 1)
            continue;
        if (ProgramTable(OtpVdEntryAddress(k), m_pendingVdEntry))
            return 1;
        log.Line("MP_OTPReduantVDFlag %d Reduant\n", k);
    }
}

void CMpFlow_OTP::MP_OTPFailAction(std::uint32_t length) {
    LogScope log("CMpFlow_OTP::MP_OTPFailAction", true, uafw::kLogOtp);
    log.Fail("MP_OTPWrite Fail\n");
    if (!m_byWriteStarted)
        return;
    if (!MP_OTPWriteBlockFail(m_wCurAddr, length))
        log.Fail("MP_OTPWriteBlock Fail\n");
    MP_OTPClearCurECC(m_wCurAddr, length);
}

int CMpFlow_OTP::MP_OTPWriteBlockFail(std::uint16_t currentAddress, std::uint32_t length) {
    LogScope log("CMpFlow_OTP::MP_OTPWriteBlockFail", true, uafw::kLogOtp);
    // The failed block reaches up to where programming stopped, never past its own end.
    std::uint32_t used = length;
    if (currentAddress != 0xFFFF)
        used = currentAddress <= m_wStartAddr
                   ? 0
                   : std::min<std::uint32_t>(currentAddress - m_wStartAddr, length);
    return RecordPendingVdEntry(used, kVdRetired);
}

void CMpFlow_OTP::MP_OTPClearCurECC(std::uint16_t currentAddress, std::uint32_t length) {
    LogScope log("CMpFlow_OTP::MP_OTPClearCurECC", true, uafw::kLogOtp);
    const std::uint32_t blockEnd = std::uint32_t{m_wStartAddr} + length;
    const std::uint32_t end =
        currentAddress == 0xFFFF ? blockEnd : std::min<std::uint32_t>(currentAddress, blockEnd);
    if (!ReadEccTable())
        return;
    int collected = 0;
    for (int n = 1; n <= kOtpEntryCount && collected < kOtpFailSlots; ++n) {
        const EccView e = EccOf(m_eccTable, n);
        if (e.flag != kEccInUse || e.address < m_wStartAddr || e.address >= end)
            continue;
        ++collected;
        log.Line("Clear ECC %d\n", n);
        RetireBytes(EccNumberAddress(n) + kOtpEccEntrySize - 1, 1);
    }
}

int CMpFlow_OTP::ECCBelongToVD(std::uint16_t address, std::uint8_t flag, const LogScope& log,
                               const char* atStart, const char* inside) {
    std::array<std::uint8_t, kOtpVdEntrySize * kOtpEntryCount> table{};
    if (!OtpRead(kOtpVdTable, table))
        return 0;
    for (int i = 0; i < kOtpEntryCount; ++i) {
        const OtpVdEntry e = OtpVdEntry::Decode(&table[kOtpVdEntrySize * i]);
        if (e.flag != flag || address < e.start ||
            std::uint32_t{address} >= std::uint32_t{e.start} + e.length)
            continue;
        log.Line("%s", address == e.start ? atStart : inside);
        return 1;
    }
    return 0;
}

int CMpFlow_OTP::MP_OTPECCBelongToVDCode(std::uint16_t address) {
    LogScope log("CMpFlow_OTP::MP_OTPECCBelongToVDCode", true, uafw::kLogOtp);
    return ECCBelongToVD(address, kVdCode, log, "ECC Exist VD Code 1\n", "ECC Exist VD Code 2\n");
}

int CMpFlow_OTP::MP_OTPECCBelongToVDConfig(std::uint16_t address) {
    LogScope log("CMpFlow_OTP::MP_OTPECCBelongToVDConfig", true, uafw::kLogOtp);
    return ECCBelongToVD(address, kVdConfig, log, "ECC Exist VD Config 1\n",
                         "ECC Exist VD Config 2\n");
}

void CMpFlow_OTP::MP_OTPClearECC() {
    LogScope log("CMpFlow_OTP::MP_OTPClearECC", true, uafw::kLogOtp);
    for (const std::uint8_t n : m_byECCNumList) {
        if (n < 1 || n > kOtpEntryCount || !MP_OTPWriteEnale())
            continue;
        std::array<std::uint8_t, kOtpEccEntrySize> entry{};
        if (!OtpRead(EccNumberAddress(n), entry) || entry[3] != kEccInUse)
            continue;
        const std::uint16_t address = BigEndian16(entry.data());
        const bool belongs = m_byOtpBlockKind == kOtpBlockCode
                                 ? MP_OTPECCBelongToVDCode(address) == 1
                                 : MP_OTPECCBelongToVDConfig(address) == 1;
        if (belongs)
            RetireBytes(EccNumberAddress(n) + kOtpEccEntrySize - 1, 1);
    }
}

void CMpFlow_OTP::ClearOlderOfKind(int below) {
    // A code entry gets 0xAA over its 0x55 and a configuration entry 0x55 over its 0xAA: either
    // way the flag becomes 0xFF.
    const std::uint8_t flag = KindFlag();
    const std::uint8_t over = flag == kVdCode ? kVdConfig : kVdCode;
    for (int i = 0; i < below && i < kOtpEntryCount; ++i) {
        const auto entry = ReadVdEntry(i);
        if (!entry || entry->flag != flag || !MP_OTPWriteEnale())
            continue;
        ProgramTable(OtpVdEntryAddress(i) + kOtpVdEntrySize - 1,
                     std::span<const std::uint8_t>(&over, 1));
    }
}

void CMpFlow_OTP::MP_OTPClearPreVDBlock() {
    LogScope log("CMpFlow_OTP::MP_OTPClearPreVDBlock", true, uafw::kLogOtp);
    ClearOlderOfKind(m_iSelBlock);
}

void CMpFlow_OTP::MP_OTPClearPrePreVDBlock() {
    LogScope log("CMpFlow_OTP::MP_OTPClearPrePreVDBlock", true, uafw::kLogOtp);
    ClearOlderOfKind(m_iPreSelBlock);
}

int CMpFlow_OTP::OTP_UpdateEx_Cmd2(std::span<std::uint8_t> block, std::uint16_t length) {
    LogScope log("CMpFlow_OTP::OTP_UpdateEx_Cmd2", true, uafw::kLogOtp);
    m_byWriteStarted = 0;
    if (MP_CheckCancel()) {
        PostFailure(kResetDeviceFailCode);
        return 0;
    }
    // The block and its reference copy must hold the whole length: the write and the compare
    // read nothing past them.
    if (length == 0 || length > block.size() || length > m_otpBlockReference.size() ||
        !AllocDumpBuffer(m_ImageRecord, length)) {
        log.Fail("Malloc Data Fail\n");
        PostFailure(kMallocFailCode);
        return 0;
    }
    if (!MP_OTPWrite(length, block)) {
        MP_OTPFailAction(length);
        return 0;
    }
    const auto dump = std::span<std::uint8_t>(m_ImageRecord.m_dump).first(length);
    // A block that cannot be read back, or whose ECC entries cannot all be applied to the
    // read-back, is not known to be programmed as the chip's code will see it.
    if (!OTP_Veriry_Cmd2(m_wStartAddr, dump) || !MP_OTPGetCorrectCodeData(m_wStartAddr, dump)) {
        log.Fail("Read OTP Code Fail\n");
        PostFailure(MP_CheckCancel() ? kResetDeviceFailCode : kOtpReadFailCode);
        MP_OTPFailAction(length);
        return 0;
    }
    if (!std::equal(dump.begin(), dump.end(), m_otpBlockReference.begin())) {
        log.Fail("Compare OTP Code Fail\n");
        PostFailure(kCompareFailCode);
        MP_OTPFailAction(length);
        return 0;
    }
    if (!MP_OTPWriteBlock(length)) {
        MP_OTPClearCurECC(m_wCurAddr, length);
        PostFailure(kOtpWriteBlockFailCode);
        log.Fail("MP_OTPWriteBlock Fail\n");
        return 0;
    }
    if (m_iSelBlock != m_iPreSelBlock) {
        MP_OTPClearECC();
        const auto previous = ReadVdEntry(m_iPreSelBlock);
        if (previous && (previous->flag == kVdCode || previous->flag == kVdConfig))
            MP_OTPClearPreVDBlock();
        else
            MP_OTPClearPrePreVDBlock();
    }
    return 1;
}
