#include "sim/umockdev/UsbdevfsNode.h"

#include <linux/ioctl.h>
#include <linux/usbdevice_fs.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace uafw::sim {

namespace {

constexpr std::size_t kSetupSize = 8;
constexpr std::uint8_t kAudioClass = 1;
constexpr const char* kUsbfs = "usbfs";

struct InterfaceInfo {
    std::uint8_t number;
    std::uint8_t interfaceClass;
};

// Interface descriptors (type 4) of a configuration, walking the descriptor chain within bounds.
std::vector<InterfaceInfo> Interfaces(const std::vector<std::uint8_t>& config) {
    std::vector<InterfaceInfo> found;
    std::size_t offset = 0;
    while (offset + 2 <= config.size()) {
        const std::size_t length = config[offset];
        if (length < 2 || offset + length > config.size()) {
            break;
        }
        if (config[offset + 1] == 4 && length >= 9) {
            found.push_back({config[offset + 2], config[offset + 5]});
        }
        offset += length;
    }
    return found;
}

void Complete(UMockdevIoctlClient* client, int error) {
    umockdev_ioctl_client_complete(client, error == 0 ? 0 : -1, error);
}

// The ioctl argument resolved as a structure of `size` bytes in the client's memory.
UMockdevIoctlData* Resolve(UMockdevIoctlData* arg, std::size_t size) {
    if (arg == nullptr || arg->data_len < static_cast<int>(sizeof(gpointer))) {
        return nullptr;
    }
    return umockdev_ioctl_data_resolve(arg, 0, size, nullptr);
}

bool Traced() {
    return std::getenv("UAFW_UMOCKDEV_TRACE") != nullptr;
}

}  // namespace

UsbdevfsNode::UsbdevfsNode(std::shared_ptr<IUsbDeviceModel> model, UsbdevfsNodeOptions options,
                           std::uint32_t generation)
    : model_(std::move(model)), options_(std::move(options)), generation_(generation) {
    for (const InterfaceInfo& itf : Interfaces(model_->ConfigurationDescriptor())) {
        interfaces_.insert(itf.number);
        if (itf.interfaceClass == kAudioClass) {
            drivers_[itf.number] = options_.audioDriver;
        }
    }
}

UsbdevfsNode::~UsbdevfsNode() {
    for (UMockdevIoctlData* u : done_) {
        g_object_unref(u);
    }
    for (UMockdevIoctlData* u : inflight_) {
        g_object_unref(u);
    }
}

void UsbdevfsNode::MarkGone() {
    std::lock_guard lock(mu_);
    GoneLocked();
}

void UsbdevfsNode::GoneLocked() {
    if (gone_) {
        return;
    }
    gone_ = true;
    // The kernel kills the URBs still in flight; they complete with -ESHUTDOWN.
    for (UMockdevIoctlData* u : inflight_) {
        auto* urb = reinterpret_cast<usbdevfs_urb*>(u->data);
        urb->status = -ESHUTDOWN;
        urb->actual_length = 0;
        done_.push_back(u);
    }
    inflight_.clear();
    claimed_.clear();
}

void UsbdevfsNode::HoldByOtherProgram(std::uint8_t interface) {
    std::lock_guard lock(mu_);
    drivers_[interface] = kUsbfs;
}

bool UsbdevfsNode::DriverBound(std::uint8_t interface) const {
    std::lock_guard lock(mu_);
    auto it = drivers_.find(interface);
    return it != drivers_.end() && it->second != kUsbfs;
}

bool UsbdevfsNode::Claimed(std::uint8_t interface) const {
    std::lock_guard lock(mu_);
    return claimed_.count(interface) != 0;
}

int UsbdevfsNode::ControlTransfers() const {
    std::lock_guard lock(mu_);
    return controlTransfers_;
}

bool UsbdevfsNode::Handle(UMockdevIoctlClient* client) {
    const gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    std::lock_guard lock(mu_);
    if (Traced()) {
        std::fprintf(stderr, "usbdevfs %s: ioctl nr %lu\n",
                     umockdev_ioctl_client_get_devnode(client), request & 0xFF);
    }
    if (!gone_ && model_->Generation() != generation_) {
        GoneLocked();  // the device appeared anew: this node belongs to its old appearance
    }
    if (gone_) {
        // As after a disconnect: URBs that completed (or were killed) can still be reaped,
        // everything else fails.
        if ((request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY) && !done_.empty()) {
            return ReapUrb(client, arg);
        }
        Complete(client, ENODEV);
        return true;
    }
    switch (request) {
        case USBDEVFS_GET_CAPABILITIES: {
            UMockdevIoctlData* caps = Resolve(arg, sizeof(guint32));
            if (caps == nullptr) {
                Complete(client, EFAULT);
                return true;
            }
            const guint32 value = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                                  USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                                  USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
            std::memcpy(caps->data, &value, sizeof value);
            g_object_unref(caps);
            Complete(client, 0);
            return true;
        }
        case USBDEVFS_SETCONFIGURATION:
        case USBDEVFS_SETINTERFACE:
        case USBDEVFS_CLEAR_HALT:
        case USBDEVFS_RESETEP:
        case USBDEVFS_RESET:
            Complete(client, 0);
            return true;
        case USBDEVFS_SUBMITURB:
            return SubmitUrb(client, arg);
        case USBDEVFS_REAPURB:
        case USBDEVFS_REAPURBNDELAY:
            return ReapUrb(client, arg);
        case USBDEVFS_DISCARDURB:
            return DiscardUrb(client, arg);
        case USBDEVFS_CLAIMINTERFACE:
            return Claim(client, arg);
        case USBDEVFS_RELEASEINTERFACE:
            return Release(client, arg);
        case USBDEVFS_GETDRIVER:
            return GetDriver(client, arg);
        case USBDEVFS_DISCONNECT_CLAIM:
            if (!options_.disconnectClaim) {
                return false;
            }
            return DisconnectClaim(client, arg);
        case USBDEVFS_IOCTL:
            return DriverIoctl(client, arg);
        default:
            if (Traced()) {
                std::fprintf(stderr, "usbdevfs: unhandled ioctl 0x%lx\n", request);
            }
            return false;
    }
}

bool UsbdevfsNode::SubmitUrb(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    UMockdevIoctlData* u = Resolve(arg, sizeof(usbdevfs_urb));
    if (u == nullptr || u->data_len < static_cast<int>(sizeof(usbdevfs_urb))) {
        if (u != nullptr) {
            g_object_unref(u);
        }
        Complete(client, EFAULT);
        return true;
    }
    auto* urb = reinterpret_cast<usbdevfs_urb*>(u->data);
    if (urb->type != USBDEVFS_URB_TYPE_CONTROL || (urb->endpoint & 0x7F) != 0 ||
        urb->buffer_length < static_cast<int>(kSetupSize)) {
        g_object_unref(u);
        Complete(client, EINVAL);
        return true;
    }
    UMockdevIoctlData* buf =
        umockdev_ioctl_data_resolve(u, offsetof(usbdevfs_urb, buffer), urb->buffer_length, nullptr);
    if (buf == nullptr || buf->data_len < static_cast<int>(kSetupSize)) {
        if (buf != nullptr) {
            g_object_unref(buf);
        }
        g_object_unref(u);
        Complete(client, EFAULT);
        return true;
    }
    const std::uint8_t* s = buf->data;
    SetupPacket setup;
    setup.bmRequestType = s[0];
    setup.bRequest = s[1];
    setup.wValue = static_cast<std::uint16_t>(s[2] | (s[3] << 8));
    setup.wIndex = static_cast<std::uint16_t>(s[4] | (s[5] << 8));
    setup.wLength = static_cast<std::uint16_t>(s[6] | (s[7] << 8));
    const std::size_t room = static_cast<std::size_t>(buf->data_len) - kSetupSize;
    if (setup.wLength > room) {
        g_object_unref(buf);
        g_object_unref(u);
        Complete(client, EINVAL);
        return true;
    }
    ++controlTransfers_;
    const ControlAnswer answer =
        model_->Control(setup, std::span<std::uint8_t>(buf->data + kSetupSize, setup.wLength));
    g_object_unref(buf);  // `u` keeps it until the URB is reaped
    urb->actual_length = 0;
    switch (answer.kind) {
        case ControlAnswer::Kind::Ok:
            urb->status = 0;
            urb->actual_length =
                static_cast<int>(std::min<std::uint32_t>(answer.transferred, setup.wLength));
            done_.push_back(u);
            break;
        case ControlAnswer::Kind::Stall:
            urb->status = -EPIPE;
            done_.push_back(u);
            break;
        case ControlAnswer::Kind::Gone:
            urb->status = -ESHUTDOWN;
            done_.push_back(u);
            break;
        case ControlAnswer::Kind::Timeout:
            inflight_.push_back(u);  // completes only when the client discards it
            break;
    }
    Complete(client, 0);
    return true;
}

bool UsbdevfsNode::ReapUrb(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    if (done_.empty()) {
        Complete(client, EAGAIN);  // libusb polls without blocking
        return true;
    }
    UMockdevIoctlData* slot = Resolve(arg, sizeof(gpointer));
    if (slot == nullptr) {
        Complete(client, EFAULT);
        return true;
    }
    UMockdevIoctlData* u = done_.front();
    done_.erase(done_.begin());
    umockdev_ioctl_data_set_ptr(slot, 0, u);  // *arg = the client's address of the URB
    Complete(client, 0);
    g_object_unref(slot);
    g_object_unref(u);
    return true;
}

bool UsbdevfsNode::DiscardUrb(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    if (arg == nullptr || arg->data_len < static_cast<int>(sizeof(gulong))) {
        Complete(client, EFAULT);
        return true;
    }
    gulong address = 0;
    std::memcpy(&address, arg->data, sizeof address);
    auto it = std::find_if(inflight_.begin(), inflight_.end(),
                           [address](UMockdevIoctlData* u) { return u->client_addr == address; });
    if (it == inflight_.end()) {
        Complete(client, EINVAL);  // already completed or never submitted
        return true;
    }
    UMockdevIoctlData* u = *it;
    inflight_.erase(it);
    auto* urb = reinterpret_cast<usbdevfs_urb*>(u->data);
    urb->status = -ENOENT;
    urb->actual_length = 0;
    done_.push_back(u);
    Complete(client, 0);
    return true;
}

namespace {

// The interface number argument of a claim or release; false when it cannot be read.
bool ReadInterfaceNumber(UMockdevIoctlData* arg, unsigned int& number) {
    UMockdevIoctlData* data = Resolve(arg, sizeof(unsigned int));
    if (data == nullptr)
        return false;
    std::memcpy(&number, data->data, sizeof number);
    g_object_unref(data);
    return true;
}

}  // namespace

bool UsbdevfsNode::Claim(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    unsigned int number = 0;
    if (!ReadInterfaceNumber(arg, number)) {
        Complete(client, EFAULT);
        return true;
    }
    if (number > 0xFF || interfaces_.count(static_cast<std::uint8_t>(number)) == 0) {
        Complete(client, ENOENT);
        return true;
    }
    const auto itf = static_cast<std::uint8_t>(number);
    if (claimed_.count(itf) == 0 && drivers_.count(itf) != 0) {
        Complete(client, EBUSY);  // a kernel driver or another program holds it
        return true;
    }
    claimed_.insert(itf);
    Complete(client, 0);
    return true;
}

bool UsbdevfsNode::Release(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    unsigned int number = 0;
    if (!ReadInterfaceNumber(arg, number)) {
        Complete(client, EFAULT);
        return true;
    }
    if (number > 0xFF || claimed_.erase(static_cast<std::uint8_t>(number)) == 0) {
        Complete(client, EINVAL);
        return true;
    }
    Complete(client, 0);
    return true;
}

bool UsbdevfsNode::GetDriver(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    UMockdevIoctlData* data = Resolve(arg, sizeof(usbdevfs_getdriver));
    if (data == nullptr) {
        Complete(client, EFAULT);
        return true;
    }
    auto* gd = reinterpret_cast<usbdevfs_getdriver*>(data->data);
    std::string name;
    if (gd->interface <= 0xFF) {
        const auto itf = static_cast<std::uint8_t>(gd->interface);
        if (claimed_.count(itf) != 0) {
            name = kUsbfs;
        } else if (auto it = drivers_.find(itf); it != drivers_.end()) {
            name = it->second;
        }
    }
    if (name.empty()) {
        g_object_unref(data);
        Complete(client, ENODATA);
        return true;
    }
    std::memset(gd->driver, 0, sizeof gd->driver);
    std::memcpy(gd->driver, name.data(), std::min(name.size(), sizeof gd->driver - 1));
    g_object_unref(data);
    Complete(client, 0);
    return true;
}

bool UsbdevfsNode::DisconnectClaim(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    UMockdevIoctlData* data = Resolve(arg, sizeof(usbdevfs_disconnect_claim));
    if (data == nullptr) {
        Complete(client, EFAULT);
        return true;
    }
    usbdevfs_disconnect_claim dc{};
    std::memcpy(&dc, data->data, sizeof dc);
    g_object_unref(data);
    dc.driver[sizeof dc.driver - 1] = '\0';
    if (dc.interface > 0xFF || interfaces_.count(static_cast<std::uint8_t>(dc.interface)) == 0) {
        Complete(client, EINVAL);
        return true;
    }
    const auto itf = static_cast<std::uint8_t>(dc.interface);
    std::string holder;
    if (claimed_.count(itf) != 0) {
        holder = kUsbfs;
    } else if (auto it = drivers_.find(itf); it != drivers_.end()) {
        holder = it->second;
    }
    if (!holder.empty()) {
        const bool same = holder == dc.driver;
        if (((dc.flags & USBDEVFS_DISCONNECT_CLAIM_IF_DRIVER) && !same) ||
            ((dc.flags & USBDEVFS_DISCONNECT_CLAIM_EXCEPT_DRIVER) && same)) {
            Complete(client, EBUSY);
            return true;
        }
        drivers_.erase(itf);
    }
    claimed_.insert(itf);
    Complete(client, 0);
    return true;
}

bool UsbdevfsNode::DriverIoctl(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    UMockdevIoctlData* data = Resolve(arg, sizeof(usbdevfs_ioctl));
    if (data == nullptr) {
        Complete(client, EFAULT);
        return true;
    }
    usbdevfs_ioctl command{};
    std::memcpy(&command, data->data, sizeof command);
    g_object_unref(data);
    if (command.ifno < 0 || command.ifno > 0xFF ||
        interfaces_.count(static_cast<std::uint8_t>(command.ifno)) == 0) {
        Complete(client, EINVAL);
        return true;
    }
    const auto itf = static_cast<std::uint8_t>(command.ifno);
    const auto code = static_cast<unsigned long>(static_cast<unsigned int>(command.ioctl_code));
    if (code == USBDEVFS_DISCONNECT) {
        auto it = drivers_.find(itf);
        if (it == drivers_.end() || it->second == kUsbfs) {
            Complete(client, ENODATA);
            return true;
        }
        drivers_.erase(it);
        Complete(client, 0);
        return true;
    }
    if (code == USBDEVFS_CONNECT) {
        if (claimed_.count(itf) != 0 || drivers_.count(itf) != 0) {
            Complete(client, EBUSY);
            return true;
        }
        // The kernel probes the interface again; the audio driver takes audio interfaces.
        for (const InterfaceInfo& info : Interfaces(model_->ConfigurationDescriptor())) {
            if (info.number == itf && info.interfaceClass == kAudioClass) {
                drivers_[itf] = options_.audioDriver;
            }
        }
        Complete(client, 0);
        return true;
    }
    Complete(client, ENOTTY);
    return true;
}

}  // namespace uafw::sim
