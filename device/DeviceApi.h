#pragma once
// The flat device API: the device lifecycle and identity calls, and the command calls through
// which the flows reach the current device. Command calls return 1 when the command succeeded
// and 0 otherwise (also when there is no current device or the transport they need is missing;
// nothing is sent then). The device handle they take first is not used: the current device is
// addressed. Access flag bit 5 (kAccessForceExtUnit) forces the extension-unit transport.
#include <cstdint>
#include <string>
#include <vector>

#include "device/DeviceDiscovery.h"
#include "device/VendorCmdCommon.h"

inline constexpr std::uint32_t kAccessForceExtUnit = 0x20;
inline constexpr std::uint32_t kAccessReuseCapabilities = 0x01;

// ---- lifecycle and identity ----------------------------------------------------------------

// 0 and the device list, or 259 when there is no device.
std::uint32_t DA_EnumerateDevices(std::vector<DeviceListEntry>& list, std::uint32_t& count);
std::uint8_t DA_CountDevices();
// With a current device: its node. Otherwise opens list entry `index` as the current device and
// returns its node; 0 on failure (only a qualified device becomes current).
std::uint32_t DA_OpenByIndex(std::uint32_t index);
int DA_Close();
std::uint32_t DA_GetDeviceNode();
int DA_GetName(std::string& name);
// "Lib Type" 0: from the current device's descriptor; otherwise from the operating system's
// tables for `node`. Outputs are filled only when the data is available.
int DA_GetIds(std::uint32_t node, std::uint16_t& vid, std::uint16_t& pid, std::uint16_t& rev);
int DA_GetIdsAndManufacturer(std::uint32_t node, std::uint16_t& vid, std::uint16_t& pid,
                             std::uint16_t& rev, std::string& manufacturer);
// "Lib Type" 0 without current device: opens list entry 0, reads its manufacturer string and
// closes it again; otherwise the system's tables answer for the first listed device.
int DA_GetFirstManufacturer(std::string& manufacturer);
int DA_GetSerial(std::uint32_t node, std::string& serial);
// The device's port on its hub and the hub's node.
int DA_GetPortAndHub(std::uint32_t node, std::uint32_t& port, std::uint32_t& hub);
// Sets the current device's reconnect event ("Lib Type" 0 only).
int DA_SignalReconnect();

// ---- commands ------------------------------------------------------------------------------

int DA_GetStatus(std::uint32_t handle, std::uint8_t* buffer, std::uint32_t flags);
int DA_GetStatusRange(std::uint32_t handle, std::uint32_t firstBlock, std::uint32_t length,
                      std::uint8_t* buffer, std::uint32_t flags);
int DA_ReadMem(std::uint32_t handle, std::uint32_t addr, std::uint32_t length, std::uint8_t* buffer,
               std::uint32_t flags);
int DA_WriteMem(std::uint32_t handle, std::uint32_t addr, std::uint32_t length,
                const std::uint8_t* buffer, std::uint32_t flags);
int DA_EraseFlash(std::uint32_t handle, std::uint32_t flags);
int DA_WriteFlash(std::uint32_t handle, std::uint32_t addr, std::uint32_t length,
                  const std::uint8_t* buffer, std::uint32_t flags);
int DA_NorFlashWriteTag(std::uint32_t handle, std::uint32_t flags);
int DA_SpiRead(std::uint32_t handle, std::uint32_t addr, std::uint32_t length, std::uint8_t* buffer,
               std::uint32_t flags, VcProgress progress = nullptr, void* context = nullptr);
int DA_SpiWrite(std::uint32_t handle, std::uint32_t addr, std::uint32_t length,
                const std::uint8_t* buffer, std::uint32_t flags, VcProgress progress = nullptr,
                void* context = nullptr);
int DA_SpiReadSr(std::uint32_t handle, std::uint8_t& value, std::uint32_t flags);
int DA_SpiWriteSr(std::uint32_t handle, std::uint8_t value, std::uint32_t flags);
int DA_SpiEraseChip(std::uint32_t handle, std::uint32_t flags, std::uint32_t timeoutMs);
int DA_SpiEraseBlock(std::uint32_t handle, std::uint32_t addr, std::uint32_t wait);
int DA_SpiWriteTag(std::uint32_t handle, std::uint32_t flags);
int DA_Eep8Erase(std::uint32_t handle, std::uint32_t size, std::uint32_t flags);
int DA_Eep8Read(std::uint32_t handle, std::uint32_t addr, std::uint32_t length,
                std::uint8_t* buffer, std::uint32_t flags);
int DA_Eep8Write(std::uint32_t handle, std::uint32_t addr, std::uint32_t length,
                 const std::uint8_t* buffer, std::uint32_t flags);
int DA_Eep8WriteTag(std::uint32_t handle, std::uint32_t flags);
int DA_Eep16Fill(std::uint32_t handle, std::uint32_t addr, std::uint32_t length,
                 std::uint32_t flags);
int DA_Eep16Read(std::uint32_t handle, std::uint32_t addr, std::uint32_t length,
                 std::uint8_t* buffer, std::uint32_t flags, VcProgress progress = nullptr,
                 void* context = nullptr);
int DA_Eep16Write(std::uint32_t handle, std::uint32_t addr, std::uint32_t length,
                  const std::uint8_t* buffer, std::uint32_t flags, VcProgress progress = nullptr,
                  void* context = nullptr);
int DA_Eep16WriteTag(std::uint32_t handle, std::uint32_t flags);
int DA_OtpRead(std::uint32_t handle, std::uint32_t addr, std::uint32_t length, std::uint8_t* buffer,
               std::uint32_t unused1 = 0, std::uint32_t unused2 = 0);
int DA_OtpPrgmFailAddr(std::uint32_t handle, std::uint32_t length, std::uint8_t* buffer);
int DA_OtpWrite(std::uint32_t handle, std::uint32_t addr, std::uint16_t budget,
                std::uint32_t length, const std::uint8_t* data, std::uint32_t unused1 = 0,
                std::uint32_t unused2 = 0);
// The ROM reset without reconnection.
int DA_ResetToRom(std::uint32_t handle, std::uint32_t unused = 0);
// The extension unit's ChangeDataControlSize result (1/0); 0 without extension unit.
int DA_SetDataControlSize(std::uint32_t handle, std::uint16_t& size);
int DA_VendorCmd70Set(std::uint32_t value);
int DA_VendorCmd70Get(std::uint8_t selector, std::uint8_t* buffer, std::uint8_t& length);
