#pragma once
// One virtual codec chip as the USB bus sees it: descriptors, both command transports on
// endpoint 0, its presence on the bus (unplug, reset with re-enumeration after a configurable
// time, all timed by the clock port) and the faults injected into the run.
#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

#include "sim/ChipConfig.h"
#include "sim/ChipCore.h"
#include "sim/ExtensionUnitPort.h"
#include "sim/FaultPlan.h"
#include "sim/UsbDescriptors.h"
#include "sim/UsbDeviceModel.h"
#include "sim/VendorRequestPort.h"

namespace uafw::sim {

class VirtualChip final : public IUsbDeviceModel {
public:
    VirtualChip(const ChipConfig& config, ChipMemories memories);

    std::vector<std::uint8_t> DeviceDescriptor() const override;
    std::vector<std::uint8_t> ConfigurationDescriptor() const override;
    std::vector<std::uint8_t> StringDescriptor(std::uint8_t index) const override;
    ControlAnswer Control(const SetupPacket& setup, std::span<std::uint8_t> data) override;
    bool Attached() const override;
    std::uint32_t Generation() const override;

    // Control with the transfer's time-out in milliseconds (0 = none): a command that has to
    // wait for the busy flash longer than that answers with a time-out.
    ControlAnswer ControlWithin(const SetupPacket& setup, std::span<std::uint8_t> data,
                                std::uint32_t timeoutMs);

    // Pulls the chip off the bus, or plugs it in again (power-on boot, new appearance).
    void Unplug();
    void Plug();

    const ChipConfig& Config() const { return m_config; }
    // What the memories hold now (for tests that check what the tool wrote).
    std::vector<std::uint8_t> FlashBytes() const;
    std::vector<std::uint8_t> EepromBytes() const;
    std::vector<std::uint8_t> OtpBytes() const;
    std::uint8_t FlashStatus() const;
    std::uint8_t BootMode() const;
    bool RunningCode() const;
    std::uint16_t DataControlSize() const;
    std::uint32_t TransferCount() const;

private:
    enum class Bus { On, Resetting, Off };

    // Brings a chip whose re-enumeration time has passed back onto the bus.
    void Advance();
    ControlAnswer Dispatch(const SetupPacket& setup, std::span<std::uint8_t> data,
                           const WaitBudget& wait);
    ControlAnswer Standard(const SetupPacket& setup, std::span<std::uint8_t> data) const;
    void AppearOnBus(bool intoRom);
    void ChargeLatency(std::unique_lock<std::mutex>& lock);

    mutable std::mutex m_lock;
    ChipConfig m_config;
    UsbDescriptors m_descriptors;
    ChipCore m_core;
    ExtensionUnitPort m_extensionUnit;
    VendorRequestPort m_vendor;
    FaultPlan m_faults;
    Bus m_bus = Bus::Off;
    std::uint64_t m_returnAtMs = 0;
    bool m_returnIntoRom = false;
    std::uint32_t m_generation = 0;
    std::uint32_t m_transfers = 0;
    std::uint64_t m_latencyDebtUs = 0;
};

}  // namespace uafw::sim
