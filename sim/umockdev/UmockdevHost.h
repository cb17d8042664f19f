#pragma once
// Puts emulated USB devices (IUsbDeviceModel) behind usbdevfs device nodes of a umockdev testbed,
// so that libusb, and with it the program's libusb backend, reaches them as real hardware: the
// sysfs tree (root hubs, hubs, devices with their attributes and descriptors), udev uevents for
// arrival and removal, and the usbdevfs ioctls on /dev/bus/usb/BBB/DDD.
//
// The process must run under the umockdev preload (LD_PRELOAD=libumockdev-preload.so.0, or
// umockdev-wrapper), and the host must be created before libusb starts.
//
// A device is on the bus while its cable is plugged and its model reports Attached(). A watcher
// thread follows the models: a model that leaves the bus (a reset) is removed (uevent "remove",
// then every ioctl on its old node fails with ENODEV) and re-appears with a new device number on
// the same port when it comes back, as the kernel does on re-enumeration. A model whose
// appearance counter moved on while the watcher did not look (a quick reset) is removed and added
// again all the same.
#include <umockdev.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/UsbDeviceModel.h"
#include "sim/umockdev/UsbdevfsNode.h"

namespace uafw::sim {

struct UmockdevPlug {
    std::uint8_t bus = 1;
    std::vector<std::uint8_t> ports{1};  // root-hub port first, then the ports of hubs below it
    UsbdevfsNodeOptions node;
};

class UmockdevHost {
public:
    // The testbed for this process's own libusb: nullptr and a message in `error` when the
    // process does not run under the preload.
    static std::unique_ptr<UmockdevHost> Create(std::string& error);
    // The testbed for other processes started with the preload and this process's UMOCKDEV_DIR
    // in their environment; this process itself needs no preload.
    static std::unique_ptr<UmockdevHost> CreateForChildren(std::string& error);
    ~UmockdevHost();
    UmockdevHost(const UmockdevHost&) = delete;
    UmockdevHost& operator=(const UmockdevHost&) = delete;

    // Declares bus `bus` with a root hub of USB generation 2 (EHCI) or 3 (xHCI). A bus used
    // without being declared gets a USB 2 root hub.
    bool AddBus(std::uint8_t bus, std::uint8_t generation);
    // Plugs `model` into the port `where`; external hubs on the way are created. Returns a slot
    // id (> 0), or 0 with a message in `error`.
    int Plug(std::shared_ptr<IUsbDeviceModel> model, const UmockdevPlug& where, std::string& error);
    // Pulls the cable; Replug puts it back (the device re-appears with a new device number).
    void Unplug(int slot);
    void Replug(int slot);
    // Brings the emulated bus in line with the cables and the models at once.
    void Sync();

    bool Present(int slot) const;
    std::uint8_t DeviceNumber(int slot) const;  // 0 while off the bus
    std::string LocationPath(int slot) const;   // the sysfs port path, such as "1-2.3"
    // The node of the slot's current appearance; null while off the bus.
    std::shared_ptr<UsbdevfsNode> Node(int slot) const;

private:
    struct Slot {
        std::shared_ptr<IUsbDeviceModel> model;
        UmockdevPlug where;
        std::string name;     // "1-2.3"
        std::string devPath;  // "/devices/.../1-2.3" below /sys
        bool cable = true;
        bool present = false;
        std::uint8_t devnum = 0;
        std::uint32_t generation = 0;  // the model's appearance counter when it appeared
        std::shared_ptr<UsbdevfsNode> node;
    };

    explicit UmockdevHost(UMockdevTestbed* testbed);
    static gboolean OnIoctl(UMockdevIoctlBase* base, UMockdevIoctlClient* client, gpointer self);
    bool Dispatch(UMockdevIoctlClient* client);
    void Watch();
    // The following run with bedMu_ held.
    void SyncLocked();
    bool EnsureBusLocked(std::uint8_t bus, std::uint8_t generation, std::string& error);
    bool EnsureHubsLocked(const UmockdevPlug& where, std::string& error);
    bool AppearLocked(Slot& slot, std::string& error);
    void DisappearLocked(Slot& slot);
    std::uint8_t NextDevnumLocked(std::uint8_t bus);
    std::string BusPathLocked(std::uint8_t bus) const;

    UMockdevTestbed* testbed_;
    UMockdevIoctlBase* handler_;

    mutable std::mutex bedMu_;  // testbed changes and the slots
    std::map<int, Slot> slots_;
    int nextSlot_ = 1;
    std::map<std::uint8_t, std::uint8_t> busGeneration_;
    std::map<std::uint8_t, std::uint8_t> lastDevnum_;
    std::map<std::string, std::string> hubPaths_;  // hub name "1-2" -> its path below /sys

    mutable std::mutex nodesMu_;  // device node path -> node; never held while in umockdev
    std::map<std::string, std::shared_ptr<UsbdevfsNode>> nodes_;

    std::mutex watchMu_;
    std::condition_variable watchCv_;
    bool stop_ = false;
    std::thread watcher_;
};

}  // namespace uafw::sim
