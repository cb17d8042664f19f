#include "platform/usb/LibusbBackend.h"

#include <libusb.h>
#include <sys/time.h>

#include <algorithm>
#include <array>

#include "platform/usb/LibusbErrors.h"
#include "platform/usb/UsbTopology.h"

namespace uafw::usb {

namespace {

constexpr std::uint8_t kAudioClass = 1;
constexpr std::uint8_t kAudioControlSubclass = 1;
// USB allows at most 7 tiers below the root hub; a longer parent chain is broken data.
constexpr int kMaxHubLevels = 31;
constexpr std::size_t kMaxPortDepth = 8;

// The bInterfaceNumber of the first AudioControl interface of `config`.
std::optional<std::uint8_t> FindAudioControl(const libusb_config_descriptor* config) {
    if (config == nullptr || config->interface == nullptr) {
        return std::nullopt;
    }
    for (int i = 0; i < config->bNumInterfaces; ++i) {
        const libusb_interface& itf = config->interface[i];
        if (itf.altsetting == nullptr) {
            continue;
        }
        for (int a = 0; a < itf.num_altsetting; ++a) {
            const libusb_interface_descriptor& alt = itf.altsetting[a];
            if (alt.bInterfaceClass == kAudioClass &&
                alt.bInterfaceSubClass == kAudioControlSubclass) {
                return alt.bInterfaceNumber;
            }
        }
    }
    return std::nullopt;
}

std::optional<std::uint8_t> AudioControlInterface(libusb_device* device) {
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != 0) {
        config = nullptr;
        if (libusb_get_config_descriptor(device, 0, &config) != 0) {
            return std::nullopt;
        }
    }
    std::optional<std::uint8_t> found = FindAudioControl(config);
    libusb_free_config_descriptor(config);
    return found;
}

std::string LocationOf(libusb_device* device) {
    std::array<std::uint8_t, kMaxPortDepth> ports{};
    const int n = libusb_get_port_numbers(device, ports.data(), static_cast<int>(ports.size()));
    if (n < 0) {
        return {};
    }
    const std::size_t count = std::min<std::size_t>(static_cast<std::size_t>(n), ports.size());
    return FormatLocationPath(libusb_get_bus_number(device),
                              std::span<const std::uint8_t>(ports.data(), count));
}

}  // namespace

// An open device: the libusb handle and the claimed AudioControl interface. Releasing the
// interface on destruction makes libusb re-attach the kernel driver it detached.
class LibusbBackend::OpenDevice {
public:
    OpenDevice(libusb_device_handle* handle, std::uint8_t interface)
        : handle_(handle), interface_(interface) {}
    ~OpenDevice() {
        libusb_release_interface(handle_, interface_);
        libusb_close(handle_);
    }
    OpenDevice(const OpenDevice&) = delete;
    OpenDevice& operator=(const OpenDevice&) = delete;
    libusb_device_handle* Handle() const { return handle_; }

private:
    libusb_device_handle* handle_;
    std::uint8_t interface_;
};

// libusb calls a plain function; this one hands the event to the backend it was registered for.
struct LibusbHotplugBridge {
    static int Callback(libusb_context*, libusb_device* device, libusb_hotplug_event event,
                        void* user) {
        static_cast<LibusbBackend*>(user)->OnHotplug(device,
                                                     event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED);
        return 0;  // stay registered
    }
};

LibusbBackend::LibusbBackend() : LibusbBackend(Options{}) {}

LibusbBackend::LibusbBackend(Options options)
    : options_(std::move(options)), sysfs_(options_.sysfsRoot) {
    InitFunction init = options_.init != nullptr ? options_.init : &libusb_init;
    libusb_context* ctx = nullptr;
    const int r = init(&ctx);
    if (r != 0 || ctx == nullptr) {
        startError_ = r != 0 ? MapLibusbError(r) : kErrIoDevice;
        if (startError_ == 0) {
            startError_ = kErrIoDevice;
        }
        ctx_ = nullptr;
        return;
    }
    ctx_ = ctx;
}

LibusbBackend::~LibusbBackend() {
    {
        std::lock_guard lock(hotplugMu_);
        if (hotplugRegistered_ && ctx_ != nullptr) {
            libusb_hotplug_deregister_callback(ctx_, hotplugHandle_);
        }
        hotplugRegistered_ = false;
        subscribers_.clear();
    }
    std::map<UsbHandle, std::shared_ptr<OpenDevice>> handles;
    std::vector<NodeIdRegistry::Key> keys;
    {
        std::lock_guard lock(mu_);
        handles.swap(handles_);
        keys = registry_.Keys();
        for (NodeIdRegistry::Key key : keys) {
            registry_.Forget(key);
        }
    }
    handles.clear();  // releases interfaces and closes handles
    for (NodeIdRegistry::Key key : keys) {
        libusb_unref_device(static_cast<libusb_device*>(const_cast<void*>(key)));
    }
    if (ctx_ != nullptr) {
        libusb_exit(ctx_);
    }
}

std::uint32_t LibusbBackend::NodeOf(libusb_device* device) {
    bool added = false;
    const std::uint32_t id = registry_.Acquire(device, added);
    if (added) {
        libusb_ref_device(device);  // keeps the key unique while it is registered
    }
    return id;
}

void LibusbBackend::ForgetLocked(libusb_device* device) {
    const std::uint32_t id = registry_.Forget(device);
    if (id != 0) {
        audioDevices_.erase(id);
        libusb_unref_device(device);
    }
}

std::vector<HubLink> LibusbBackend::HubChainLocked(libusb_device* device) {
    std::vector<HubLink> chain;
    libusb_device* child = device;
    libusb_device* hub = libusb_get_parent(device);
    for (int level = 0; hub != nullptr && level < kMaxHubLevels; ++level) {
        HubLink link;
        link.nodeId = NodeOf(hub);
        link.port = libusb_get_port_number(child);
        // A root hub hangs on no port; a hub whose parent is unknown ends the chain unrooted.
        link.isRoot = libusb_get_port_number(hub) == 0;
        if (link.isRoot) {
            libusb_device_descriptor dd{};
            const std::uint16_t bcdUsb =
                libusb_get_device_descriptor(hub, &dd) == 0 ? dd.bcdUSB : 0x0200;
            const std::string product = sysfs_.Text(LocationOf(hub), "product").value_or("");
            link.usbGeneration = RootHubGeneration(bcdUsb, product);
        }
        chain.push_back(link);
        if (link.isRoot) {
            break;
        }
        child = hub;
        hub = libusb_get_parent(hub);
    }
    return chain;
}

std::optional<UsbDeviceInfo> LibusbBackend::DescribeLocked(libusb_device* device) {
    if (libusb_get_port_number(device) == 0) {
        return std::nullopt;  // a root hub
    }
    std::optional<std::uint8_t> audioControl = AudioControlInterface(device);
    if (!audioControl) {
        return std::nullopt;
    }
    libusb_device_descriptor dd{};
    if (libusb_get_device_descriptor(device, &dd) != 0) {
        return std::nullopt;
    }
    UsbDeviceInfo info;
    info.nodeId = NodeOf(device);
    info.locationPath = LocationOf(device);
    info.hubChain = HubChainLocked(device);
    info.audioControlInterface = *audioControl;
    if (!info.hubChain.empty()) {
        info.parentNodeId = info.hubChain.front().nodeId;
        info.parentPort = info.hubChain.front().port;
    }
    info.displayName = sysfs_.Text(info.locationPath, "product").value_or("");
    info.vendorId = dd.idVendor;
    info.productId = dd.idProduct;
    info.bcdDevice = dd.bcdDevice;
    audioDevices_[info.nodeId] = info;
    return info;
}

std::vector<UsbDeviceInfo> LibusbBackend::Enumerate() {
    std::vector<UsbDeviceInfo> result;
    if (ctx_ == nullptr) {
        return result;
    }
    libusb_device** list = nullptr;
    const ssize_t n = libusb_get_device_list(ctx_, &list);
    if (n < 0 || list == nullptr) {
        return result;
    }
    bool hotplugActive = false;
    {
        std::lock_guard lock(hotplugMu_);
        hotplugActive = hotplugRegistered_;
    }
    {
        std::lock_guard lock(mu_);
        std::vector<NodeIdRegistry::Key> present;
        for (ssize_t i = 0; i < n; ++i) {
            present.push_back(list[i]);
        }
        // With hot-plug running, a departed device is forgotten by its removal notification, which
        // still needs its node id; otherwise forget it now.
        if (!hotplugActive) {
            for (NodeIdRegistry::Key key : registry_.Keys()) {
                if (std::find(present.begin(), present.end(), key) == present.end()) {
                    ForgetLocked(static_cast<libusb_device*>(const_cast<void*>(key)));
                }
            }
        }
        for (ssize_t i = 0; i < n; ++i) {
            if (auto info = DescribeLocked(list[i])) {
                result.push_back(std::move(*info));
            }
        }
    }
    libusb_free_device_list(list, 1);
    std::sort(result.begin(), result.end(), [](const UsbDeviceInfo& a, const UsbDeviceInfo& b) {
        if (a.locationPath != b.locationPath) {
            return LocationPathBefore(a.locationPath, b.locationPath);
        }
        return a.nodeId < b.nodeId;
    });
    return result;
}

bool LibusbBackend::IsAttached(libusb_device* device) {
    libusb_device** list = nullptr;
    const ssize_t n = libusb_get_device_list(ctx_, &list);
    if (n < 0 || list == nullptr) {
        return false;
    }
    const bool found = std::find(list, list + n, device) != list + n;
    libusb_free_device_list(list, 1);
    return found;
}

UsbHandle LibusbBackend::Open(std::uint32_t nodeId, std::uint32_t& error) {
    error = kErrNotConnected;
    if (ctx_ == nullptr) {
        return 0;
    }
    libusb_device* device = nullptr;
    std::uint8_t interface = 0;
    {
        std::lock_guard lock(mu_);
        auto key = registry_.KeyOf(nodeId);
        auto info = audioDevices_.find(nodeId);
        if (!key || info == audioDevices_.end()) {
            return 0;
        }
        device = static_cast<libusb_device*>(const_cast<void*>(*key));
        interface = info->second.audioControlInterface;
        libusb_ref_device(device);  // stays valid even if a removal is handled meanwhile
    }
    libusb_device_handle* handle = nullptr;
    int r = IsAttached(device) ? libusb_open(device, &handle) : LIBUSB_ERROR_NO_DEVICE;
    libusb_unref_device(device);
    if (r != 0 || handle == nullptr) {
        error = r != 0 ? MapLibusbError(r) : kErrIoDevice;
        return 0;
    }
    // Not every platform can detach kernel drivers; the claim below tells whether it worked out.
    libusb_set_auto_detach_kernel_driver(handle, 1);
    r = libusb_claim_interface(handle, interface);
    if (r != 0) {
        libusb_close(handle);
        error = MapLibusbError(r);
        return 0;
    }
    auto open = std::make_shared<OpenDevice>(handle, interface);
    std::lock_guard lock(mu_);
    const UsbHandle id = nextHandle_++;
    handles_[id] = std::move(open);
    error = 0;
    return id;
}

void LibusbBackend::Close(UsbHandle handle) {
    std::shared_ptr<OpenDevice> open;
    {
        std::lock_guard lock(mu_);
        auto it = handles_.find(handle);
        if (it == handles_.end()) {
            return;
        }
        open = std::move(it->second);
        handles_.erase(it);
    }
    // The last reference (this one, or a transfer still running) releases and closes.
}

UsbTransferResult LibusbBackend::ControlTransfer(UsbHandle handle, std::uint8_t bmRequestType,
                                                 std::uint8_t bRequest, std::uint16_t wValue,
                                                 std::uint16_t wIndex, std::uint8_t* buffer,
                                                 std::uint16_t length, std::uint32_t timeoutMs) {
    if (buffer == nullptr && length != 0) {
        return {kErrInvalidParam, 0};
    }
    std::shared_ptr<OpenDevice> open;
    {
        std::lock_guard lock(mu_);
        auto it = handles_.find(handle);
        if (it == handles_.end()) {
            return {kErrInvalidHandle, 0};
        }
        open = it->second;
    }
    const unsigned int timeout = timeoutMs != 0 ? timeoutMs : options_.defaultTimeoutMs;
    const int r = libusb_control_transfer(open->Handle(), bmRequestType, bRequest, wValue, wIndex,
                                          buffer, length, timeout);
    if (r < 0) {
        return {MapLibusbError(r), 0};
    }
    return {0, std::min<std::uint32_t>(static_cast<std::uint32_t>(r), length)};
}

bool LibusbBackend::OsIdentity(std::uint32_t nodeId, UsbOsIdentity& identity) {
    std::string location;
    {
        std::lock_guard lock(mu_);
        auto it = audioDevices_.find(nodeId);
        if (it == audioDevices_.end()) {
            return false;
        }
        location = it->second.locationPath;
    }
    return sysfs_.Identity(location, identity);
}

void LibusbBackend::OnHotplug(libusb_device* device, bool arrived) {
    std::lock_guard lock(mu_);
    if (arrived) {
        if (auto info = DescribeLocked(device)) {
            pending_.emplace_back(HotplugEvent::Arrived, std::move(*info));
        }
        return;
    }
    auto id = registry_.Find(device);
    if (!id) {
        return;
    }
    if (auto it = audioDevices_.find(*id); it != audioDevices_.end()) {
        pending_.emplace_back(HotplugEvent::Removed, it->second);
    }
    ForgetLocked(device);
}

int LibusbBackend::SubscribeHotplug(HotplugCallback callback) {
    if (ctx_ == nullptr || !callback || libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG) == 0) {
        return 0;
    }
    std::lock_guard lock(hotplugMu_);
    if (!hotplugRegistered_) {
        libusb_hotplug_callback_handle handle = 0;
        const int r = libusb_hotplug_register_callback(
            ctx_,
            static_cast<libusb_hotplug_event>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED |
                                              LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
            static_cast<libusb_hotplug_flag>(0), LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
            LIBUSB_HOTPLUG_MATCH_ANY, &LibusbHotplugBridge::Callback, this, &handle);
        if (r != 0) {
            return 0;
        }
        hotplugHandle_ = handle;
        hotplugRegistered_ = true;
    }
    const int id = nextSubscription_++;
    subscribers_[id] = std::move(callback);
    return id;
}

void LibusbBackend::UnsubscribeHotplug(int subscription) {
    std::lock_guard lock(hotplugMu_);
    subscribers_.erase(subscription);
    if (subscribers_.empty() && hotplugRegistered_) {
        libusb_hotplug_deregister_callback(ctx_, hotplugHandle_);
        hotplugRegistered_ = false;
        std::lock_guard events(mu_);
        pending_.clear();
    }
}

void LibusbBackend::PollEvents() {
    if (ctx_ == nullptr) {
        return;
    }
    {
        std::lock_guard lock(hotplugMu_);
        if (!hotplugRegistered_) {
            return;
        }
    }
    timeval zero{0, 0};
    libusb_handle_events_timeout_completed(ctx_, &zero, nullptr);
    for (;;) {
        std::pair<HotplugEvent, UsbDeviceInfo> event;
        {
            std::lock_guard lock(mu_);
            if (pending_.empty()) {
                break;
            }
            event = std::move(pending_.front());
            pending_.pop_front();
        }
        std::vector<HotplugCallback> callbacks;
        {
            std::lock_guard lock(hotplugMu_);
            for (const auto& entry : subscribers_) {
                callbacks.push_back(entry.second);
            }
        }
        for (const HotplugCallback& callback : callbacks) {
            callback(event.first, event.second);
        }
    }
}

}  // namespace uafw::usb
