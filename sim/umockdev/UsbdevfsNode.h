#pragma once
// One emulated usbdevfs device node: answers the ioctls libusb issues on /dev/bus/usb/BBB/DDD as
// the kernel would, and feeds the control transfers to the device model.
//
// It keeps the kernel's per-device state: which interfaces a kernel driver is bound to (the audio
// driver on every audio interface when the device appears), which interfaces are claimed, the
// completed URBs waiting to be reaped and those the device has not answered yet (a time-out: they
// complete when discarded). After MarkGone() every ioctl fails with ENODEV, as after an unplug,
// except the reaping of URBs that had completed (or were killed by the disconnect).
#include <umockdev.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "sim/UsbDeviceModel.h"

namespace uafw::sim {

struct UsbdevfsNodeOptions {
    // Whether the emulated kernel offers USBDEVFS_DISCONNECT_CLAIM; without it libusb detaches
    // the driver with USBDEVFS_IOCTL(DISCONNECT) and claims separately.
    bool disconnectClaim = true;
    // Name of the kernel driver bound to the audio interfaces while nobody holds them.
    std::string audioDriver = "snd-usb-audio";
};

class UsbdevfsNode {
public:
    // `generation` is the model's appearance counter this node belongs to; once the model has
    // appeared anew, this node is a stale one and answers ENODEV.
    UsbdevfsNode(std::shared_ptr<IUsbDeviceModel> model, UsbdevfsNodeOptions options,
                 std::uint32_t generation);
    ~UsbdevfsNode();
    UsbdevfsNode(const UsbdevfsNode&) = delete;
    UsbdevfsNode& operator=(const UsbdevfsNode&) = delete;

    // Answers one ioctl of a client of this node; false for an ioctl the node does not know
    // (umockdev then answers ENOTTY).
    bool Handle(UMockdevIoctlClient* client);
    void MarkGone();
    // Another program holds `interface` through its own usbfs claim.
    void HoldByOtherProgram(std::uint8_t interface);

    bool DriverBound(std::uint8_t interface) const;
    bool Claimed(std::uint8_t interface) const;
    int ControlTransfers() const;

private:
    void GoneLocked();
    bool SubmitUrb(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    bool ReapUrb(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    bool DiscardUrb(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    bool Claim(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    bool Release(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    bool GetDriver(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    bool DisconnectClaim(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    bool DriverIoctl(UMockdevIoctlClient* client, UMockdevIoctlData* arg);

    std::shared_ptr<IUsbDeviceModel> model_;
    UsbdevfsNodeOptions options_;
    std::set<std::uint8_t> interfaces_;
    mutable std::mutex mu_;
    std::uint32_t generation_;
    bool gone_ = false;
    std::map<std::uint8_t, std::string> drivers_;
    std::set<std::uint8_t> claimed_;
    std::vector<UMockdevIoctlData*> done_;      // completed URBs in completion order, owned
    std::vector<UMockdevIoctlData*> inflight_;  // submitted, not answered, owned
    int controlTransfers_ = 0;
};

}  // namespace uafw::sim
