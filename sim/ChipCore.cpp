#include "sim/ChipCore.h"

#include <algorithm>

#include "platform/Clock.h"

namespace uafw::sim {

namespace {

constexpr std::uint32_t kSectorSize = 0x1000;
constexpr std::uint32_t kBlockSize = 0x10000;
constexpr std::uint32_t kVersionOffsetLong = 0x100C;  // images of 64 KiB and more
constexpr std::uint32_t kVersionOffsetShort = 0x11B;  // shorter images

bool InSpace(std::uint64_t address, std::uint64_t length, std::uint64_t size) {
    return address <= size && length <= size - address;
}

bool AllFf(std::span<const std::uint8_t> bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0xFF; });
}

ImageVersion VersionAt(std::span<const std::uint8_t> image, std::uint32_t offset) {
    ImageVersion v{};
    if (offset + v.size() <= image.size())
        std::copy_n(image.begin() + offset, v.size(), v.begin());
    return v;
}

// The version of a code image: at 0x100C in images of 64 KiB and more, at 0x11B in shorter
// ones, so an erased 0x100C with a version at 0x11B is a short image.
ImageVersion CodeImageVersion(std::span<const std::uint8_t> image) {
    const ImageVersion v = VersionAt(image, kVersionOffsetLong);
    const ImageVersion s = VersionAt(image, kVersionOffsetShort);
    return AllFf(v) && !AllFf(s) ? s : v;
}

// Chips that keep a second image in flash and program it while running the first.
bool IsDualBankChip(std::uint16_t chipId) {
    const std::uint16_t family = chipId & 0xF0F0;
    return family == 0xE010 || family == 0x1010;
}

std::uint8_t CapacityCode(std::size_t size) {
    std::uint8_t code = 0;
    while ((std::size_t{1} << code) < size)
        ++code;
    return code;
}

}  // namespace

// ---- I2cBus ----

void I2cBus::Write(std::uint8_t slave, std::span<const std::uint8_t> data) {
    if (data.empty())
        return;
    Slave& s = m_slaves[slave];
    s.pointer = data[0];
    for (std::size_t i = 1; i < data.size(); ++i)
        s.regs[s.pointer++] = data[i];
}

void I2cBus::Read(std::uint8_t slave, std::span<std::uint8_t> out) {
    Slave& s = m_slaves[slave];
    for (std::uint8_t& b : out)
        b = s.regs[s.pointer++];
}

void I2cBus::LongWrite(std::uint32_t space, std::uint32_t offset,
                       std::span<const std::uint8_t> data) {
    for (std::size_t i = 0; i < data.size(); ++i)
        m_long[(std::uint64_t{space} << 32) | ((offset + i) & 0x7FFF)] = data[i];
}

void I2cBus::LongRead(std::uint32_t space, std::uint32_t offset,
                      std::span<std::uint8_t> out) const {
    for (std::size_t i = 0; i < out.size(); ++i) {
        auto it = m_long.find((std::uint64_t{space} << 32) | ((offset + i) & 0x7FFF));
        out[i] = it == m_long.end() ? 0 : it->second;
    }
}

void I2cBus::RegWrite(std::uint32_t address, std::span<const std::uint8_t> data) {
    for (std::size_t i = 0; i < data.size(); ++i)
        m_regs[static_cast<std::uint32_t>(address + i)] = data[i];
}

void I2cBus::RegRead(std::uint32_t address, std::span<std::uint8_t> out) const {
    for (std::size_t i = 0; i < out.size(); ++i) {
        auto it = m_regs.find(static_cast<std::uint32_t>(address + i));
        out[i] = it == m_regs.end() ? 0 : it->second;
    }
}

// ---- ChipCore ----

ChipCore::ChipCore(const ChipConfig& config, ChipMemories memories)
    : m_config(config), m_mem(std::move(memories)), m_regs(config.chipId), m_phy(0x10000, 0) {
    m_regs.SetOtpLocked(config.faults.otpLocked);
    m_mem.otp.SetFailingBytes(config.faults.otpFail);
    m_mem.otp.ArmPowerCut(config.faults.otpPowerCut, config.faults.otpPowerCutBytes);
}

void ChipCore::Boot(bool intoRom) {
    m_iram.fill(0);
    m_reset = ResetTarget::None;
    m_signatureState = 0;
    m_mem.flash.EndBusy();
    m_run = ChipRunState{};
    m_run.chipId = m_config.chipId;
    m_run.bootMode = m_config.memory == BootMemory::Otp ? kBootRomOtp : kBootRom;
    if (!intoRom)
        BootFromMemory();
    m_regs.PowerOn(m_run.bootMode);
}

void ChipCore::BootFromMemory() {
    switch (m_config.memory) {
        case BootMemory::Flash: {
            const auto f = m_mem.flash.Bytes();
            if (auto bank = NewestFlashBank()) {
                m_run.running = CodeImageVersion(f.subspan(*bank));
                m_run.bootMode = kBootSpi;
            } else if (f[1] == 0xA5) {
                // A configuration-only image: the ROM code runs with the configuration in flash.
                m_run.running = VersionAt(f, kVersionOffsetShort);
                m_run.bootMode = kBootRomSpi;
            }
            break;
        }
        case BootMemory::Eeprom8:
        case BootMemory::Eeprom16: {
            const auto e = m_mem.eeprom.Bytes();
            if (e.size() > 1 && e[1] == 0xA5) {  // the EEPROM tag
                m_run.running = VersionAt(e, kVersionOffsetShort);
                m_run.bootMode = kBootSpi;
            }
            break;
        }
        case BootMemory::Otp: {
            if (auto block = m_mem.otp.NewestCodeBlock()) {
                std::vector<std::uint8_t> code(block->length);
                m_mem.otp.ReadCorrected(block->start, code);
                m_run.running = VersionAt(code, kVersionOffsetShort);
                m_run.bootMode = kBootSpiOtp;
            }
            break;
        }
    }
}

std::optional<std::uint32_t> ChipCore::NewestFlashBank() const {
    const auto f = m_mem.flash.Bytes();
    // A dual-bank chip boots the newest valid image at 0 or at the second-bank offsets the
    // update writes to (0x10000, or the image length); a bank whose word at +0x1010 was zeroed
    // is withdrawn. Other chips boot the image at 0.
    std::vector<std::uint32_t> banks{0};
    if (IsDualBankChip(m_config.chipId))
        banks.insert(banks.end(), {0x10000, 0x20000, 0x40000});
    std::optional<std::uint32_t> best;
    ImageVersion bestVersion{};
    for (std::uint32_t bank : banks) {
        if (bank + kVersionOffsetLong + 8 > f.size() || f[bank] != 0x02)
            continue;
        const auto word = f.subspan(bank + 0x1010, 4);
        if (banks.size() > 1 && std::all_of(word.begin(), word.end(), [](auto b) { return !b; }))
            continue;
        const ImageVersion v = CodeImageVersion(f.subspan(bank));
        if (!best || v > bestVersion) {
            best = bank;
            bestVersion = v;
        }
    }
    return best;
}

std::array<std::uint8_t, kStatusAreaSize> ChipCore::StatusArea() const {
    return BuildStatusArea(m_run);
}

ResetTarget ChipCore::TakeReset() {
    const ResetTarget r = m_reset;
    m_reset = ResetTarget::None;
    return r;
}

bool ChipCore::WaitFlashIdle(const WaitBudget& wait) {
    const std::uint64_t now = Clock().NowMs();
    const std::uint64_t until = m_mem.flash.BusyUntil();
    if (now >= until)
        return true;
    if (wait.deadlineMs != 0 && until > wait.deadlineMs) {
        if (wait.deadlineMs > now)
            wait.Sleep(static_cast<std::uint32_t>(wait.deadlineMs - now));
        return false;
    }
    wait.Sleep(static_cast<std::uint32_t>(until - now));
    return true;
}

void WaitBudget::Sleep(std::uint32_t ms) const {
    if (sleep)
        sleep(ms);
    else
        Clock().SleepMs(ms);
}

std::uint8_t ChipCore::CheckFlashChange(std::uint64_t address, std::uint64_t length) const {
    if (!m_mem.flash.InRange(address, length))
        return kStsErrOutRange;
    if (m_mem.flash.Protected())
        return kStsHwErr;  // block protection: the flash refuses to program or erase
    return kStsRetNoErr;
}

bool ChipCore::EepromWidthAllowed(Op op) const {
    const bool eight = op == Op::Eep8Read || op == Op::Eep8Write;
    const bool sixteen = op == Op::Eep16Read || op == Op::Eep16Write;
    // A part with one address width does not answer the other width's transfers.
    if (m_config.memory == BootMemory::Eeprom8 && sixteen)
        return false;
    if (m_config.memory == BootMemory::Eeprom16 && eight)
        return false;
    return true;
}

std::uint8_t ChipCore::Check(const Command& c) const {
    const std::uint64_t a = c.address;
    const std::uint64_t n = c.length;
    switch (c.op) {
        case Op::GetStatus:
            return InSpace(std::uint64_t{c.param} * 8, n, kStatusAreaSize) ? kStsRetNoErr
                                                                           : kStsErrOutRange;
        case Op::ReadIMem:
            return InSpace(a, n, m_iram.size()) ? kStsRetNoErr : kStsErrOutRange;
        case Op::ReadMem:
        case Op::WriteMem:
        case Op::ReadPhy:
        case Op::WritePhy:
            return InSpace(a, n, 0x10000) ? kStsRetNoErr : kStsErrOutRange;
        case Op::ReadCode:
        case Op::NorRead:
        case Op::SpiRead:
            return m_mem.flash.InRange(a, n) ? kStsRetNoErr : kStsErrOutRange;
        case Op::NorWrite:
        case Op::SpiWrite:
            return CheckFlashChange(a, n);
        case Op::NorErase:
        case Op::SpiEraseChip:
            return CheckFlashChange(0, m_mem.flash.Size());
        case Op::SpiEraseSector:
            return CheckFlashChange(a & ~(kSectorSize - 1), kSectorSize);
        case Op::SpiEraseBlock:
            return CheckFlashChange(a & ~(kBlockSize - 1), kBlockSize);
        case Op::NorTag:
        case Op::SpiTag:
            return CheckFlashChange(kFlashTagAddress, 2);
        case Op::SpiWriteSr:
            return n >= 1 ? kStsRetNoErr : kStsErrLen;
        case Op::Eep8Read:
        case Op::Eep8Write:
        case Op::Eep16Read:
        case Op::Eep16Write:
            return EepromWidthAllowed(c.op) ? kStsRetNoErr : kStsHwErr;
        case Op::OtpWrite:
            if (!m_mem.otp.InRange(a, n))
                return kStsErrOutRange;
            return m_regs.OtpLocked() ? kStsHwErr : kStsRetNoErr;
        case Op::OtpRead:
        case Op::OtpBlankCheck:
        case Op::OtpTestDec:
            return m_mem.otp.InRange(a, n) ? kStsRetNoErr : kStsErrOutRange;
        case Op::OtpAllBlankCheck:
            return m_mem.otp.InRange(a, 0) ? kStsRetNoErr : kStsErrOutRange;
        case Op::ResetGeneric:
            return (c.param >= 7 && c.param <= 9) ? kStsRetNoErr : kStsUnknownSubCmd;
        case Op::DataControlSize:
            return kStsUnknownSubCmd;  // a transport matter, never reaches the firmware
        default:
            return kStsRetNoErr;
    }
}

CoreAnswer ChipCore::Read(const Command& c, std::vector<std::uint8_t>& reply,
                          const WaitBudget& wait) {
    CoreAnswer answer;
    answer.status = Check(c);
    if (answer.status != kStsRetNoErr)
        return answer;
    reply.assign(c.length, 0);
    switch (c.op) {
        case Op::GetStatus: {
            const auto area = StatusArea();
            std::copy_n(area.begin() + c.param * 8, c.length, reply.begin());
            break;
        }
        case Op::Qualify:
            reply.assign(kStatusSignature.begin(), kStatusSignature.end());
            break;
        case Op::ReadIMem:
            std::copy_n(m_iram.begin() + c.address, c.length, reply.begin());
            break;
        case Op::ReadMem:
            for (std::uint32_t i = 0; i < c.length; ++i)
                reply[i] = m_regs.Read(static_cast<std::uint16_t>(c.address + i));
            break;
        case Op::ReadPhy:
            std::copy_n(m_phy.begin() + c.address, c.length, reply.begin());
            break;
        case Op::ReadCode:
        case Op::NorRead:
        case Op::SpiRead:
            if (!WaitFlashIdle(wait)) {
                answer.timedOut = true;
                return answer;
            }
            m_mem.flash.Read(c.address, reply);
            break;
        case Op::SpiReadId:
            reply = {0xEF, 0x40, CapacityCode(m_mem.flash.Size()), 0, 0, 0, 0, 0};
            break;
        case Op::SpiReadSr:
            reply = {m_mem.flash.Status(Clock().NowMs())};
            break;
        case Op::SpiEraseDone:
            reply = {static_cast<std::uint8_t>(m_mem.flash.Busy(Clock().NowMs()) ? 0 : 1)};
            break;
        case Op::Eep8Read:
        case Op::Eep16Read:
        case Op::ExtMemRead:
            m_mem.eeprom.Read(c.address, reply);
            break;
        case Op::I2cRegRead:
            m_i2c.RegRead(c.address, reply);
            break;
        case Op::I2cRead:
            m_i2c.Read(static_cast<std::uint8_t>(c.param), reply);
            break;
        case Op::I2cLongRead:
            m_i2c.LongRead(c.param, c.address, reply);
            break;
        case Op::OtpRead:
            m_mem.otp.Read(c.address, reply);
            break;
        case Op::OtpTestDec:
            m_mem.otp.ReadCorrected(c.address, reply);
            break;
        case Op::OtpBlankCheck: {
            // One byte per OTP byte: 0 where it is blank, 1 where any bit is programmed.
            std::vector<std::uint8_t> raw(c.length);
            m_mem.otp.Read(c.address, raw);
            for (std::size_t i = 0; i < raw.size(); ++i)
                reply[i] = raw[i] ? 1 : 0;
            break;
        }
        case Op::OtpAllBlankCheck: {
            // Byte 0: 1 when everything from the address to the end is blank; bytes 1-2: the
            // first programmed address (big-endian), 0xFFFF when none.
            std::vector<std::uint8_t> raw(OtpMemory::kSize - c.address);
            m_mem.otp.Read(c.address, raw);
            auto it = std::find_if(raw.begin(), raw.end(), [](std::uint8_t b) { return b; });
            const std::uint32_t first =
                it == raw.end() ? 0xFFFF : c.address + static_cast<std::uint32_t>(it - raw.begin());
            std::vector<std::uint8_t> r{static_cast<std::uint8_t>(it == raw.end()),
                                        static_cast<std::uint8_t>(first >> 8),
                                        static_cast<std::uint8_t>(first)};
            std::copy_n(r.begin(), std::min<std::size_t>(r.size(), reply.size()), reply.begin());
            break;
        }
        case Op::OtpFailAddr: {
            const auto& fr = m_mem.otp.FailReply();
            std::copy_n(fr.begin(), std::min<std::size_t>(fr.size(), reply.size()), reply.begin());
            break;
        }
        case Op::SignatureGet:
            reply = SignatureReply();
            break;
        case Op::StatusByte:
            reply = {static_cast<std::uint8_t>(RunningCode() ? 1 : 0)};
            break;
        default:
            answer.status = kStsErrDir;  // a host-to-device command read back
            break;
    }
    return answer;
}

std::vector<std::uint8_t> ChipCore::SignatureReply() {
    if (m_signatureState == 1 && m_config.faults.signature != SignatureOutcome::Busy &&
        Clock().NowMs() >= m_signatureDoneMs) {
        m_signatureState = m_config.faults.signature == SignatureOutcome::Pass ? 2 : 4;
    }
    return {m_signatureState};
}

CoreAnswer ChipCore::Write(const Command& c, std::span<const std::uint8_t> data,
                           const WaitBudget& wait) {
    CoreAnswer answer;
    answer.status = Check(c);
    if (answer.status != kStsRetNoErr)
        return answer;
    data = data.first(std::min<std::size_t>(data.size(), c.length));
    const std::uint64_t now = Clock().NowMs();
    const bool touchesFlash = c.op == Op::NorWrite || c.op == Op::SpiWrite ||
                              c.op == Op::NorErase || c.op == Op::SpiEraseChip ||
                              c.op == Op::SpiEraseSector || c.op == Op::SpiEraseBlock ||
                              c.op == Op::NorTag || c.op == Op::SpiTag;
    if (touchesFlash && !WaitFlashIdle(wait)) {
        answer.timedOut = true;
        return answer;
    }
    switch (c.op) {
        case Op::ResetUpdate:
        case Op::ResetAlternate:
            m_reset = ResetTarget::RomLoader;
            break;
        case Op::ResetRestart:
            m_reset = ResetTarget::Restart;
            break;
        case Op::ResetGeneric:
            m_reset = c.param == 9 ? ResetTarget::Restart : ResetTarget::RomLoader;
            break;
        case Op::WriteMem:
            for (std::size_t i = 0; i < data.size(); ++i)
                m_regs.Write(static_cast<std::uint16_t>(c.address + i), data[i]);
            break;
        case Op::WritePhy:
            std::copy(data.begin(), data.end(), m_phy.begin() + c.address);
            break;
        case Op::NorWrite:
        case Op::SpiWrite:
            m_mem.flash.Program(c.address, data);
            break;
        case Op::NorTag:
        case Op::SpiTag: {
            const std::uint8_t tag[2] = {0x55, 0xAA};
            m_mem.flash.Program(kFlashTagAddress, tag);
            break;
        }
        case Op::NorErase:
        case Op::SpiEraseChip:
            m_mem.flash.Erase(0, static_cast<std::uint32_t>(m_mem.flash.Size()), now,
                              m_config.eraseMs);
            if (c.waitForCompletion && !WaitFlashIdle(wait))
                answer.timedOut = true;
            break;
        case Op::SpiEraseSector:
            m_mem.flash.Erase(c.address & ~(kSectorSize - 1), kSectorSize, now, m_config.eraseMs);
            break;
        case Op::SpiEraseBlock:
            m_mem.flash.Erase(c.address & ~(kBlockSize - 1), kBlockSize, now, m_config.eraseMs);
            break;
        case Op::SpiWriteSr:
            if (!m_mem.flash.WriteStatus(data[0], m_regs.FlashWriteProtectPinHigh()))
                answer.status = kStsHwErr;
            break;
        case Op::Eep8Write:
        case Op::Eep16Write:
        case Op::ExtMemWrite:
            m_mem.eeprom.Write(c.address, data);
            break;
        case Op::I2cRegWrite:
            m_i2c.RegWrite(c.address, data);
            break;
        case Op::I2cWrite:
            m_i2c.Write(static_cast<std::uint8_t>(c.param), data);
            break;
        case Op::I2cLongWrite:
            m_i2c.LongWrite(c.param, c.address, data);
            break;
        case Op::OtpWrite:
            // A programming whose supply dropped fails; the chip itself stays reachable.
            if (!m_mem.otp.Program(c.address, data, c.param))
                answer.status = kStsHwErr;
            if (m_config.faults.otpUnplugAfter != 0 &&
                m_mem.otp.Programmings() == m_config.faults.otpUnplugAfter)
                m_unplug = true;
            break;
        case Op::SignatureSet:
            // The same request starts a check and, once one ran, ends it again.
            if (m_signatureState == 0) {
                m_signatureState = 1;
                m_signatureDoneMs = now + kSignatureCheckMs;
            } else {
                m_signatureState = 0;
            }
            break;
        case Op::VendorCmd10:
            break;
        default:
            answer.status = kStsErrDir;  // a device-to-host command sent with data
            break;
    }
    // A memory whose file could not take the change reports a hardware error rather than
    // letting the host believe its data is kept.
    if (m_mem.flash.PersistFailed() || m_mem.eeprom.PersistFailed() || m_mem.otp.PersistFailed())
        answer.status = kStsHwErr;
    return answer;
}

}  // namespace uafw::sim
