#pragma once
// The OTP block write engine: choosing the next VD entry and start address, writing a block in
// chunks while the device reports failing byte addresses, repairing each failing byte with an
// ECC entry, verifying by read-back with the ECC entries applied, recording the VD entry and
// retiring the superseded blocks and their ECC entries. Bits of the OTP can only be set, so
// nothing is ever cleared: an entry is retired by setting all bits of its flag.
#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "flow/FlowConfigLayer.h"

class LogScope;

// Failure ids of the OTP engine.
inline constexpr std::int32_t kOtpWriteFailCode = 41914;       // "Write OTP Fail!"
inline constexpr std::int32_t kOtpNotEnoughVdCode = 41916;     // "Not Enough VD Block"
inline constexpr std::int32_t kOtpExceedLengthCode = 41917;    // "Code Exceed Max Length!"
inline constexpr std::int32_t kOtpLockedCode = 41918;          // "OTP Locked,Can't Program!"
inline constexpr std::int32_t kOtpErrorNumExceedCode = 41919;  // "Error Num Exceed 8!"
inline constexpr std::int32_t kOtpReduantFailCode = 41922;     // "Reduant Fail!"
inline constexpr std::int32_t kOtpEccLowerCode = 41923;        // "ECC Num lower than Error Num!"
inline constexpr std::int32_t kOtpNotFindVdCode = 41924;       // "Not Find VDBlock!"
inline constexpr std::int32_t kOtpFailAddressCode = 41926;     // "Fail Address!"
inline constexpr std::int32_t kOtpWriteBlockFailCode = 41927;  // "Write Block Fail!"
inline constexpr std::int32_t kOtpReadFailCode = 41928;        // "Read OTP Fail!"
inline constexpr std::int32_t kOtpAbnormalCode = 41937;        // "Last OTP Write Abnormal!"

// Results of MP_OTPReduantDetail.
inline constexpr int kOtpEccWritten = 0;  // the ECC entry holds the byte
inline constexpr int kOtpEccFailed = 1;   // the entry failed to program and was retired
inline constexpr int kOtpEccNoEntry = 2;  // no entry could be used (or the table not read)
inline constexpr int kOtpEccLocked = 3;   // programming locked, 41918 posted

// Block kinds of the block being programmed.
inline constexpr std::uint8_t kOtpBlockConfig = 0;
inline constexpr std::uint8_t kOtpBlockCode = 1;

inline constexpr int kOtpFailSlots = 8;
inline constexpr std::uint32_t kOtpChunkSize = 4096;

class CMpFlow_OTP : public CFlowConfigLayer {
public:
    // Programs one prepared block of `length` bytes (the block is changed in place by the
    // conversion of known-bad bytes) and records it in the VD table. 1 = programmed and
    // recorded; 0 = failed, the failure posted.
    int OTP_UpdateEx_Cmd2(std::span<std::uint8_t> block, std::uint16_t length);
    // Reads `buffer.size()` bytes from OTP address `start` in 4096-byte chunks, posting "Read"
    // and, with `progress`, progress 10..90. 1 = read.
    int OTP_ReadEx_Cmd2(std::uint32_t start, std::span<std::uint8_t> buffer, bool progress);
    // The same read without status word and progress.
    int OTP_Veriry_Cmd2(std::uint32_t start, std::span<std::uint8_t> buffer);
    // Applies the in-use ECC entries to `buffer`, which holds the OTP bytes from `start`. 1 when
    // every entry was read; 0 when one could not be (the buffer is then not what the chip's code
    // sees, though the entries read are applied).
    int MP_OTPGetCorrectCodeData(std::uint32_t start, std::span<std::uint8_t> buffer);

    // Write engine steps (public so that tests can drive each one on a prepared chip).
    int MP_OTPWriteEnale();
    // Reads the VD table into its copy and counts the free entries; 0 when it cannot be read
    // (no entry then counts as free).
    int MP_CheckVDNUM();
    int MP_OTPBlockValidAndSet(std::uint32_t entryAddress, int index);
    int MP_CheckVDInfo(std::uint32_t length);
    int MP_CheckOTPWriteInValid(std::uint32_t start);
    void MP_OTPInit();
    void MP_OTPGetTotalErrorNum(std::uint32_t start, std::uint32_t length);
    void MP_OTPConvertBinaryData(std::uint32_t start, std::uint32_t length,
                                 std::span<std::uint8_t> data);
    // The data byte for a known-bad byte: the bits already set in it are not asked for again.
    std::uint8_t MP_ChangeBinaryData(std::uint8_t data, std::uint8_t programmed);
    // Records a known-bad byte for repair with its target value (once; not when every fail
    // slot is taken).
    void MP_OTPReduceErrNum(std::uint16_t address, std::uint8_t value);
    int MP_OTPAnalyzeECC(std::uint32_t chunkAddress, std::span<const std::uint8_t> chunk);
    int MP_OTPWriteWithRetry(std::uint32_t address, std::uint32_t budget,
                             std::span<const std::uint8_t> chunk);
    int MP_OTPReduantDetail(std::uint16_t address, std::uint8_t value);
    int MP_OTPReduant();
    int MP_OTPWrite(std::uint32_t length, std::span<std::uint8_t> data);
    int MP_OTPWriteBlock(std::uint32_t length);
    int MP_OTPReduantVDFlag(int index);
    void MP_OTPFailAction(std::uint32_t length);
    int MP_OTPWriteBlockFail(std::uint16_t currentAddress, std::uint32_t length);
    void MP_OTPClearCurECC(std::uint16_t currentAddress, std::uint32_t length);
    void MP_OTPClearECC();
    int MP_OTPECCBelongToVDCode(std::uint16_t address);
    int MP_OTPECCBelongToVDConfig(std::uint16_t address);
    void MP_OTPClearPreVDBlock();
    void MP_OTPClearPrePreVDBlock();

    // The block being programmed, set by the front end's block preparation and cleared after
    // each run: its kind (1 code, 0 configuration), the prepared block and the reference copy
    // taken before the conversion (what the read-back must equal).
    std::uint8_t m_byOtpBlockKind = kOtpBlockConfig;
    std::vector<std::uint8_t> m_otpBlock;
    std::vector<std::uint8_t> m_otpBlockReference;

    // Engine state, reset at the start of every block.
    std::array<std::uint16_t, kOtpFailSlots> m_wFailAddr{};
    std::array<std::uint8_t, kOtpFailSlots> m_byFailValue{};
    std::array<std::uint32_t, kOtpFailSlots> m_dwFailFlag{};
    std::array<std::uint8_t, kOtpFailSlots> m_byECCNumList{};
    std::uint32_t m_uActualECCNum = 0;
    std::uint32_t m_uVirtualECCNum = 0;
    std::uint32_t m_uSubECCNum = 0;
    std::uint32_t m_uExecECCNum = 0;
    std::uint32_t m_uTotalErrorNum = 0;
    std::uint32_t m_uCurErrorNum = 0;
    std::uint32_t m_uVDFlagNum = 0;
    std::uint16_t m_wCurAddr = 0xFFFF;
    std::int32_t m_iSelBlock = 0;
    std::int32_t m_iPreSelBlock = 0;
    std::uint16_t m_wPreBlockAddr = 0;
    std::uint16_t m_wPreBlockLen = 0;
    std::uint16_t m_wStartAddr = 0;
    std::uint8_t m_byWriteStarted = 0;
    std::array<std::uint8_t, kOtpVdEntrySize * kOtpEntryCount> m_vdTable{};
    std::array<std::uint8_t, kOtpEccEntrySize * kOtpEntryCount> m_eccTable{};
    std::array<std::uint8_t, kOtpVdEntrySize> m_pendingVdEntry{};

private:
    bool m_bLockUnknown = false;  // the last write enable check could not read the lock state
    // The failing-address reply of the last programming: the count the device gives, the
    // addresses it lists (at most eight) and its current address.
    struct FailReply {
        std::uint32_t count = 0;
        std::array<std::uint16_t, kOtpFailSlots> address{};
        std::uint32_t listed = 0;
        std::uint16_t current = 0xFFFF;
    };
    bool ReadFailReply(FailReply& reply);
    // Programs table bytes (budget 8) and reads the reply. True only when the command went
    // through and the reply, read back, names no failing byte.
    bool ProgramTable(std::uint32_t address, std::span<const std::uint8_t> bytes);
    // Retires `count` bytes at `address` by programming their complement over them (all their
    // bits become set), when programming is not locked.
    void RetireBytes(std::uint32_t address, std::uint32_t count);
    // Writes the VD entry (start address, `length`, `flag`) at m_iSelBlock, moving it to the
    // next trustworthy entry when it fails to program. 1 when recorded.
    int RecordPendingVdEntry(std::uint32_t length, std::uint8_t flag);
    bool ReadEccTable();
    // The chunked read of both OTP reads: 4096 bytes at a time, cancel checked before each.
    int ReadInChunks(std::uint32_t start, std::span<std::uint8_t> buffer, bool progress);
    // Posts why programming is refused after MP_OTPWriteEnale gave 0: 41918 when the OTP is
    // locked, 41914 when the lock state could not be read.
    void PostNotWritable();
    std::uint8_t KindFlag() const {
        return m_byOtpBlockKind == kOtpBlockCode ? kVdCode : kVdConfig;
    }
    // Records a failing byte in the first free fail slot; false when every slot is taken.
    bool RecordFailSlot(std::uint16_t address, std::uint8_t value);
    bool InFailSlots(std::uint16_t address) const;
    int ECCBelongToVD(std::uint16_t address, std::uint8_t flag, const LogScope& log,
                      const char* atStart, const char* inside);
    // Retires the entries below `below` that hold a block of the kind being written.
    void ClearOlderOfKind(int below);
};
