#include "sim/VirtualChip.h"

#include <algorithm>

#include "platform/Clock.h"

namespace uafw::sim {

namespace {

ControlAnswer CopyOut(const std::vector<std::uint8_t>& bytes, std::span<std::uint8_t> data) {
    if (bytes.empty())
        return ControlAnswer::Stalled();
    const std::size_t n = std::min(bytes.size(), data.size());
    std::copy_n(bytes.begin(), n, data.begin());
    return ControlAnswer::Done(static_cast<std::uint32_t>(n));
}

}  // namespace

VirtualChip::VirtualChip(const ChipConfig& config, ChipMemories memories)
    : m_config(config),
      m_descriptors(config),
      m_core(config, std::move(memories)),
      m_extensionUnit(m_core, config.maxDataSize),
      m_vendor(m_core),
      m_faults(config.faults) {
    if (config.attached)
        AppearOnBus(config.bootRom);
}

std::vector<std::uint8_t> VirtualChip::DeviceDescriptor() const {
    return m_descriptors.Device();
}

std::vector<std::uint8_t> VirtualChip::ConfigurationDescriptor() const {
    return m_descriptors.Configuration();
}

std::vector<std::uint8_t> VirtualChip::StringDescriptor(std::uint8_t index) const {
    return m_descriptors.String(index);
}

bool VirtualChip::Attached() const {
    std::lock_guard<std::mutex> guard(m_lock);
    // The return from a reset is driven by time, also when only the bus state is asked.
    const_cast<VirtualChip*>(this)->Advance();
    return m_bus == Bus::On;
}

std::uint32_t VirtualChip::Generation() const {
    std::lock_guard<std::mutex> guard(m_lock);
    const_cast<VirtualChip*>(this)->Advance();
    return m_generation;
}

void VirtualChip::Advance() {
    if (m_bus == Bus::Resetting && Clock().NowMs() >= m_returnAtMs)
        AppearOnBus(m_returnIntoRom);
}

void VirtualChip::AppearOnBus(bool intoRom) {
    m_core.Boot(intoRom);
    m_extensionUnit.Reset();
    ++m_generation;
    m_bus = Bus::On;
}

void VirtualChip::Unplug() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_bus = Bus::Off;
}

void VirtualChip::Plug() {
    std::lock_guard<std::mutex> guard(m_lock);
    Advance();
    if (m_bus != Bus::On)
        AppearOnBus(m_config.bootRom);
}

ControlAnswer VirtualChip::Control(const SetupPacket& setup, std::span<std::uint8_t> data) {
    return ControlWithin(setup, data, 0);
}

void VirtualChip::ChargeLatency(std::unique_lock<std::mutex>& lock) {
    if (m_config.latencyUs == 0)
        return;
    m_latencyDebtUs += m_config.latencyUs;
    if (m_latencyDebtUs >= 1000) {
        const auto ms = static_cast<std::uint32_t>(m_latencyDebtUs / 1000);
        m_latencyDebtUs %= 1000;
        lock.unlock();
        Clock().SleepMs(ms);
        lock.lock();
    }
}

ControlAnswer VirtualChip::ControlWithin(const SetupPacket& setup, std::span<std::uint8_t> data,
                                         std::uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(m_lock);
    Advance();
    if (m_bus != Bus::On)
        return ControlAnswer::Failed(ControlAnswer::Kind::Gone, 0);
    const std::uint32_t n = ++m_transfers;
    ControlAnswer answer;
    if (auto fault = m_faults.Before(n, setup, data)) {
        answer = *fault;
    } else {
        ChargeLatency(lock);
        WaitBudget wait;
        wait.deadlineMs = timeoutMs ? Clock().NowMs() + timeoutMs : 0;
        // While a command waits for the flash, the bus state and other requests stay answerable.
        wait.sleep = [&lock](std::uint32_t ms) {
            lock.unlock();
            Clock().SleepMs(ms);
            lock.lock();
        };
        answer =
            Dispatch(setup, data.first(std::min<std::size_t>(data.size(), setup.wLength)), wait);
    }
    const ResetTarget reset = m_core.TakeReset();
    if (reset != ResetTarget::None) {
        // The chip answers the reset request, then drops off the bus and enumerates again.
        m_bus = m_faults.NeverReturn() ? Bus::Off : Bus::Resetting;
        m_returnAtMs = Clock().NowMs() + m_config.reenumMs;
        m_returnIntoRom = reset == ResetTarget::RomLoader;
    }
    if (m_faults.UnplugAfter(n) || m_core.TakeUnplug())
        m_bus = Bus::Off;
    return answer;
}

ControlAnswer VirtualChip::Dispatch(const SetupPacket& setup, std::span<std::uint8_t> data,
                                    const WaitBudget& wait) {
    if ((setup.bmRequestType & 0x60) == 0x00)
        return Standard(setup, data);
    if (ExtensionUnitPort::Addresses(setup))
        return m_extensionUnit.Handle(setup, data, wait);
    if (VendorRequestPort::Addresses(setup))
        return m_vendor.Handle(setup, data, wait);
    return ControlAnswer::Stalled();
}

ControlAnswer VirtualChip::Standard(const SetupPacket& setup, std::span<std::uint8_t> data) const {
    const std::uint8_t type = setup.bmRequestType;
    const std::uint8_t request = setup.bRequest;
    if (type == 0x80 && request == 6) {  // GET_DESCRIPTOR
        switch (setup.wValue >> 8) {
            case 1:
                return CopyOut(m_descriptors.Device(), data);
            case 2:
                return CopyOut(m_descriptors.Configuration(), data);
            case 3:
                return CopyOut(m_descriptors.String(static_cast<std::uint8_t>(setup.wValue)), data);
            default:
                return ControlAnswer::Stalled();  // a full-speed device: no qualifier
        }
    }
    if ((type & 0xFC) == 0x80 && request == 0)  // GET_STATUS
        return CopyOut({0, 0}, data);
    if (type == 0x80 && request == 8)  // GET_CONFIGURATION
        return CopyOut({1}, data);
    if (type == 0x81 && request == 10)  // GET_INTERFACE
        return CopyOut({0}, data);
    if (type == 0x00 && request == 9 && setup.wValue <= 1)  // SET_CONFIGURATION
        return ControlAnswer::Done(0);
    if (type == 0x01 && request == 11 && setup.wIndex < 2 && setup.wValue == 0)  // SET_INTERFACE
        return ControlAnswer::Done(0);
    if ((type & 0x7C) == 0x00 && (type & 0x80) == 0 && (request == 1 || request == 3))
        return ControlAnswer::Done(0);  // CLEAR_FEATURE, SET_FEATURE
    if (type == 0x00 && request == 5)   // SET_ADDRESS
        return ControlAnswer::Done(0);
    return ControlAnswer::Stalled();
}

std::vector<std::uint8_t> VirtualChip::FlashBytes() const {
    std::lock_guard<std::mutex> guard(m_lock);
    const auto b = m_core.Memories().flash.Bytes();
    return {b.begin(), b.end()};
}

std::vector<std::uint8_t> VirtualChip::EepromBytes() const {
    std::lock_guard<std::mutex> guard(m_lock);
    const auto b = m_core.Memories().eeprom.Bytes();
    return {b.begin(), b.end()};
}

std::vector<std::uint8_t> VirtualChip::OtpBytes() const {
    std::lock_guard<std::mutex> guard(m_lock);
    const auto b = m_core.Memories().otp.Bytes();
    return {b.begin(), b.end()};
}

std::uint8_t VirtualChip::FlashStatus() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_core.Memories().flash.Status(Clock().NowMs());
}

std::uint8_t VirtualChip::BootMode() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_core.BootMode();
}

bool VirtualChip::RunningCode() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_core.RunningCode();
}

std::uint16_t VirtualChip::DataControlSize() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_extensionUnit.DataControlSize();
}

std::uint32_t VirtualChip::TransferCount() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_transfers;
}

}  // namespace uafw::sim
