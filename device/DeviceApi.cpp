#include "device/DeviceApi.h"

#include <new>

#include "device/CurrentDevice.h"
#include "device/DriverChannel.h"
#include "platform/usb/UsbBackend.h"

namespace {

// Which transport a command call uses.
enum class Route {
    kSelected,      // vendor requests if offered, else the extension unit
    kSelectedOrEu,  // the extension unit with access flag bit 5, else as kSelected
    kEuOnly,        // the extension unit only; without bit 5 only with "Lib Type" 0
};

CVendorCmdCommon* Transport(Route route, std::uint32_t flags) {
    CZynCam* device = CCurrentDevice::Instance().Get();
    if (!device)
        return nullptr;
    const bool forceEu = (flags & kAccessForceExtUnit) != 0;
    switch (route) {
        case Route::kSelectedOrEu:
            if (forceEu)
                return device->ExtUnit();
            [[fallthrough]];
        case Route::kSelected:
            if (device->VendorRequest())
                return device->VendorRequest();
            return device->ExtUnit();
        case Route::kEuOnly:
            if (forceEu)
                return device->ExtUnit();
            if (CDriverChannel::Instance().LibType() != 0 || !device->Capabilities().hasExtUnit)
                return nullptr;
            return device->ExtUnit();
    }
    return nullptr;
}

template <typename Call>
int Run(Route route, std::uint32_t flags, Call call) {
    CVendorCmdCommon* transport = Transport(route, flags);
    if (!transport)
        return 0;
    return call(*transport) == S_OK ? 1 : 0;
}

bool OsIdentity(std::uint32_t node, uafw::usb::UsbOsIdentity& identity) {
    uafw::usb::IUsbBackend* backend = uafw::usb::CurrentUsbBackend();
    return CDriverChannel::Instance().IsOpen() && backend && backend->OsIdentity(node, identity);
}

std::uint16_t Word(const std::vector<std::uint8_t>& d, std::size_t offset) {
    return static_cast<std::uint16_t>(d[offset] | (d[offset + 1] << 8));
}

bool IdsFromOs(std::uint32_t node, std::uint16_t& vid, std::uint16_t& pid, std::uint16_t& rev,
               std::string* manufacturer) {
    uafw::usb::UsbOsIdentity identity;
    if (!OsIdentity(node, identity) || identity.deviceDescriptor.size() < 18)
        return false;
    vid = Word(identity.deviceDescriptor, 8);
    pid = Word(identity.deviceDescriptor, 10);
    rev = Word(identity.deviceDescriptor, 12);
    if (manufacturer)
        *manufacturer = identity.manufacturer;
    return true;
}

bool IdsFromDevice(std::uint16_t& vid, std::uint16_t& pid, std::uint16_t& rev,
                   std::string* manufacturer) {
    CZynCam* device = CCurrentDevice::Instance().Get();
    if (!device)
        return false;
    const CapabilityRecord& caps = device->Capabilities();
    vid = caps.VendorId();
    pid = caps.ProductId();
    rev = caps.BcdDevice();
    if (manufacturer) {
        std::string text;
        if (ReadDeviceString(device->Record(), caps.ManufacturerIndex(), text))
            *manufacturer = text;
    }
    return true;
}

}  // namespace

// ---- lifecycle and identity ----------------------------------------------------------------

std::uint32_t DA_EnumerateDevices(std::vector<DeviceListEntry>& list, std::uint32_t& count) {
    const std::uint32_t r = EnumerateDeviceList(list);
    count = static_cast<std::uint32_t>(list.size());
    return r;
}

std::uint8_t DA_CountDevices() {
    std::vector<DeviceListEntry> list;
    EnumerateDeviceList(list);
    return static_cast<std::uint8_t>(list.size());
}

std::uint32_t DA_OpenByIndex(std::uint32_t index) {
    CCurrentDevice& current = CCurrentDevice::Instance();
    if (current.Get())
        return current.Node();
    std::vector<DeviceListEntry> list;
    if (EnumerateDeviceList(list) != 0 || index >= list.size())
        return 0;
    const std::uint32_t node = list[index].deviceNode;
    std::unique_ptr<CZynCam> device = CreateDeviceObject(node);
    if (!device)
        return 0;
    current.Set(std::move(device), node);
    return node;
}

int DA_Close() {
    CCurrentDevice::Instance().Close();
    return 1;
}

std::uint32_t DA_GetDeviceNode() {
    return CCurrentDevice::Instance().Get() ? CCurrentDevice::Instance().Node() : 0;
}

int DA_GetName(std::string& name) {
    if (CZynCam* device = CCurrentDevice::Instance().Get())
        name = device->Record().name;
    return 1;
}

int DA_GetIds(std::uint32_t node, std::uint16_t& vid, std::uint16_t& pid, std::uint16_t& rev) {
    if (CDriverChannel::Instance().LibType() == 0)
        IdsFromDevice(vid, pid, rev, nullptr);
    else
        IdsFromOs(node, vid, pid, rev, nullptr);
    return 1;
}

int DA_GetIdsAndManufacturer(std::uint32_t node, std::uint16_t& vid, std::uint16_t& pid,
                             std::uint16_t& rev, std::string& manufacturer) {
    if (CDriverChannel::Instance().LibType() == 0)
        IdsFromDevice(vid, pid, rev, &manufacturer);
    else
        IdsFromOs(node, vid, pid, rev, &manufacturer);
    return 1;
}

int DA_GetFirstManufacturer(std::string& manufacturer) {
    if (CDriverChannel::Instance().LibType() == 0 && !CCurrentDevice::Instance().Get()) {
        // Open entry 0 for the question and close it again.
        if (DA_OpenByIndex(0) != 0) {
            CZynCam* device = CCurrentDevice::Instance().Get();
            std::string text;
            if (ReadDeviceString(device->Record(), device->Capabilities().ManufacturerIndex(),
                                 text))
                manufacturer = text;
            DA_Close();
        }
        return 1;
    }
    // Otherwise the system's tables answer for the first listed device.
    std::vector<DeviceListEntry> list;
    uafw::usb::UsbOsIdentity identity;
    if (EnumerateDeviceList(list) == 0 && OsIdentity(list[0].deviceNode, identity))
        manufacturer = identity.manufacturer;
    return 1;
}

int DA_GetSerial(std::uint32_t node, std::string& serial) {
    if (CDriverChannel::Instance().LibType() != 0) {
        uafw::usb::UsbOsIdentity identity;
        if (OsIdentity(node, identity))
            serial = identity.serial;
        return 1;
    }
    if (CZynCam* device = CCurrentDevice::Instance().Get()) {
        std::string text;
        if (ReadDeviceString(device->Record(), device->Capabilities().SerialIndex(), text))
            serial = text;
    }
    return 1;
}

int DA_GetPortAndHub(std::uint32_t node, std::uint32_t& port, std::uint32_t& hub) {
    uafw::usb::IUsbBackend* backend = uafw::usb::CurrentUsbBackend();
    if (!CDriverChannel::Instance().IsOpen() || !backend)
        return 1;
    for (const uafw::usb::UsbDeviceInfo& info : backend->Enumerate()) {
        if (info.nodeId == node) {
            port = info.parentPort;
            hub = info.parentNodeId;
            break;
        }
    }
    return 1;
}

int DA_SignalReconnect() {
    if (CDriverChannel::Instance().LibType() == 0)
        CCurrentDevice::Instance().SignalReconnect();
    return 1;
}

// ---- commands ------------------------------------------------------------------------------

int DA_GetStatus(std::uint32_t, std::uint8_t* buffer, std::uint32_t flags) {
    return Run(Route::kSelectedOrEu, flags,
               [&](CVendorCmdCommon& t) { return t.GetDevStatus(0, buffer, 104); });
}

int DA_GetStatusRange(std::uint32_t, std::uint32_t firstBlock, std::uint32_t length,
                      std::uint8_t* buffer, std::uint32_t flags) {
    return Run(Route::kSelectedOrEu, flags,
               [&](CVendorCmdCommon& t) { return t.GetDevStatus(firstBlock, buffer, length); });
}

int DA_ReadMem(std::uint32_t, std::uint32_t addr, std::uint32_t length, std::uint8_t* buffer,
               std::uint32_t flags) {
    return Run(Route::kSelectedOrEu, flags, [&](CVendorCmdCommon& t) {
        return t.ReadMem(addr, length, buffer, nullptr, nullptr);
    });
}

int DA_WriteMem(std::uint32_t, std::uint32_t addr, std::uint32_t length, const std::uint8_t* buffer,
                std::uint32_t flags) {
    return Run(Route::kSelectedOrEu, flags, [&](CVendorCmdCommon& t) {
        return t.WriteMem(addr, length, buffer, nullptr, nullptr);
    });
}

int DA_EraseFlash(std::uint32_t, std::uint32_t flags) {
    return Run(Route::kSelectedOrEu, flags, [&](CVendorCmdCommon& t) { return t.EraseFlash(); });
}

int DA_WriteFlash(std::uint32_t, std::uint32_t addr, std::uint32_t length,
                  const std::uint8_t* buffer, std::uint32_t flags) {
    return Run(Route::kSelectedOrEu, flags, [&](CVendorCmdCommon& t) {
        return t.WriteFlash(addr, length, buffer, nullptr, nullptr);
    });
}

int DA_NorFlashWriteTag(std::uint32_t, std::uint32_t flags) {
    return Run(Route::kSelectedOrEu, flags,
               [&](CVendorCmdCommon& t) { return t.NorFlash_WriteTag(); });
}

int DA_SpiRead(std::uint32_t, std::uint32_t addr, std::uint32_t length, std::uint8_t* buffer,
               std::uint32_t flags, VcProgress progress, void* context) {
    return Run(Route::kSelectedOrEu, flags, [&](CVendorCmdCommon& t) {
        return t.SPI_SF_Read(addr, length, buffer, 0, progress, context);
    });
}

int DA_SpiWrite(std::uint32_t, std::uint32_t addr, std::uint32_t length, const std::uint8_t* buffer,
                std::uint32_t flags, VcProgress progress, void* context) {
    return Run(Route::kSelectedOrEu, flags, [&](CVendorCmdCommon& t) {
        return t.SPI_SF_Write(addr, length, buffer, progress, context);
    });
}

int DA_SpiReadSr(std::uint32_t, std::uint8_t& value, std::uint32_t flags) {
    return Run(Route::kSelectedOrEu, flags,
               [&](CVendorCmdCommon& t) { return t.SPI_SF_ReadSr(value); });
}

int DA_SpiWriteSr(std::uint32_t, std::uint8_t value, std::uint32_t flags) {
    return Run(Route::kSelectedOrEu, flags,
               [&](CVendorCmdCommon& t) { return t.SPI_SF_WriteSr(value); });
}

int DA_SpiEraseChip(std::uint32_t, std::uint32_t flags, std::uint32_t timeoutMs) {
    return Run(Route::kSelectedOrEu, flags,
               [&](CVendorCmdCommon& t) { return t.SPI_SF_EraseChip(timeoutMs); });
}

int DA_SpiEraseBlock(std::uint32_t, std::uint32_t addr, std::uint32_t wait) {
    return Run(Route::kSelected, 0,
               [&](CVendorCmdCommon& t) { return t.SPI_SF_EraseBlock(addr, 0x10000, wait); });
}

int DA_SpiWriteTag(std::uint32_t, std::uint32_t flags) {
    return Run(Route::kSelectedOrEu, flags,
               [&](CVendorCmdCommon& t) { return t.SPI_SF_WriteTag(); });
}

int DA_Eep8Erase(std::uint32_t, std::uint32_t size, std::uint32_t flags) {
    return Run(Route::kSelectedOrEu, flags,
               [&](CVendorCmdCommon& t) { return t.I2C_EEP8_Erase(size); });
}

int DA_Eep8Read(std::uint32_t, std::uint32_t addr, std::uint32_t length, std::uint8_t* buffer,
                std::uint32_t flags) {
    return Run(Route::kSelectedOrEu, flags, [&](CVendorCmdCommon& t) {
        return t.I2C_EEP8_Read(addr, length, buffer, nullptr, nullptr);
    });
}

int DA_Eep8Write(std::uint32_t, std::uint32_t addr, std::uint32_t length,
                 const std::uint8_t* buffer, std::uint32_t flags) {
    return Run(Route::kSelectedOrEu, flags, [&](CVendorCmdCommon& t) {
        return t.I2C_EEP8_Write(addr, length, buffer, nullptr, nullptr);
    });
}

int DA_Eep8WriteTag(std::uint32_t, std::uint32_t flags) {
    return Run(Route::kSelectedOrEu, flags,
               [&](CVendorCmdCommon& t) { return t.I2C_EEP8_WriteTag(); });
}

int DA_Eep16Fill(std::uint32_t, std::uint32_t addr, std::uint32_t length, std::uint32_t flags) {
    return Run(Route::kEuOnly, flags, [&](CVendorCmdCommon& t) -> HRESULT {
        std::vector<std::uint8_t> erased;
        try {
            erased.assign(length, 0xFF);
        } catch (const std::bad_alloc&) {
            return E_FAIL;
        }
        return t.I2C_EEP16_Write(addr, length, erased.data(), nullptr, nullptr);
    });
}

int DA_Eep16Read(std::uint32_t, std::uint32_t addr, std::uint32_t length, std::uint8_t* buffer,
                 std::uint32_t flags, VcProgress progress, void* context) {
    return Run(Route::kEuOnly, flags, [&](CVendorCmdCommon& t) {
        return t.I2C_EEP16_Read(addr, length, buffer, progress, context);
    });
}

int DA_Eep16Write(std::uint32_t, std::uint32_t addr, std::uint32_t length,
                  const std::uint8_t* buffer, std::uint32_t flags, VcProgress progress,
                  void* context) {
    return Run(Route::kEuOnly, flags, [&](CVendorCmdCommon& t) {
        return t.I2C_EEP16_Write(addr, length, buffer, progress, context);
    });
}

int DA_Eep16WriteTag(std::uint32_t, std::uint32_t flags) {
    return Run(Route::kEuOnly, flags, [&](CVendorCmdCommon& t) { return t.I2C_EEP16_WriteTag(); });
}

int DA_OtpRead(std::uint32_t, std::uint32_t addr, std::uint32_t length, std::uint8_t* buffer,
               std::uint32_t, std::uint32_t) {
    return Run(Route::kEuOnly, 0,
               [&](CVendorCmdCommon& t) { return t.OTPRead(addr, length, buffer); });
}

int DA_OtpPrgmFailAddr(std::uint32_t, std::uint32_t length, std::uint8_t* buffer) {
    return Run(Route::kEuOnly, 0,
               [&](CVendorCmdCommon& t) { return t.OTPPrgmFailAddr(length, buffer); });
}

int DA_OtpWrite(std::uint32_t, std::uint32_t addr, std::uint16_t budget, std::uint32_t length,
                const std::uint8_t* data, std::uint32_t, std::uint32_t) {
    return Run(Route::kEuOnly, 0,
               [&](CVendorCmdCommon& t) { return t.OTPWrite(addr, length, budget, data); });
}

int DA_ResetToRom(std::uint32_t, std::uint32_t) {
    return Run(Route::kSelected, 0, [&](CVendorCmdCommon& t) { return t.ResetToRom(); });
}

int DA_SetDataControlSize(std::uint32_t, std::uint16_t& size) {
    CZynCam* device = CCurrentDevice::Instance().Get();
    if (!device || !device->ExtUnit())
        return 0;
    return device->ExtUnit()->ChangeDataControlSize(size);
}

int DA_VendorCmd70Set(std::uint32_t value) {
    return Run(Route::kSelected, 0, [&](CVendorCmdCommon& t) { return t.VendorCmd70_Set(value); });
}

int DA_VendorCmd70Get(std::uint8_t selector, std::uint8_t* buffer, std::uint8_t& length) {
    return Run(Route::kSelected, 0,
               [&](CVendorCmdCommon& t) { return t.VendorCmd70_Get(selector, buffer, length); });
}
