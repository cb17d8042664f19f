#include "sim/umockdev/UmockdevHost.h"

#include <chrono>

#include "sim/umockdev/UsbdevfsRecord.h"

namespace uafw::sim {

namespace {

constexpr auto kWatchPeriod = std::chrono::milliseconds(2);
constexpr std::uint8_t kMaxDevnum = 127;
constexpr std::size_t kMaxTiers = 7;

std::vector<std::uint8_t> RootHubDevice(std::uint8_t generation) {
    const bool usb3 = generation >= 3;
    return {0x12,
            0x01,
            0x00,
            static_cast<std::uint8_t>(usb3 ? 0x03 : 0x02),
            0x09,
            0x00,
            static_cast<std::uint8_t>(usb3 ? 0x03 : 0x01),
            static_cast<std::uint8_t>(usb3 ? 0x09 : 0x40),
            0x6B,
            0x1D,
            static_cast<std::uint8_t>(usb3 ? 0x03 : 0x02),
            0x00,
            0x01,
            0x06,
            0x03,
            0x02,
            0x01,
            0x01};
}

std::vector<std::uint8_t> ExternalHubDevice() {
    return {0x12, 0x01, 0x00, 0x02, 0x09, 0x00, 0x01, 0x40, 0xE3,
            0x05, 0x08, 0x06, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01};
}

// One hub interface with its status-change interrupt endpoint.
std::vector<std::uint8_t> HubConfiguration() {
    return {0x09, 0x02, 0x19, 0x00, 0x01, 0x01, 0x00, 0xE0, 0x00, 0x09, 0x04, 0x00, 0x00,
            0x01, 0x09, 0x00, 0x00, 0x00, 0x07, 0x05, 0x81, 0x03, 0x04, 0x00, 0x0C};
}

std::string Name(std::uint8_t bus, const std::vector<std::uint8_t>& ports, std::size_t count) {
    std::string name = std::to_string(bus) + "-";
    for (std::size_t i = 0; i < count; ++i) {
        name += (i == 0 ? "" : ".") + std::to_string(ports[i]);
    }
    return name;
}

std::string StringOf(const IUsbDeviceModel& model, std::uint8_t index) {
    if (index == 0) {
        return {};
    }
    return StringDescriptorText(model.StringDescriptor(index));
}

}  // namespace

std::unique_ptr<UmockdevHost> UmockdevHost::Create(std::string& error) {
    UMockdevTestbed* testbed = umockdev_testbed_new();  // sets UMOCKDEV_DIR for the preload
    if (testbed == nullptr) {
        error = "umockdev could not create a testbed";
        return nullptr;
    }
    if (!umockdev_in_mock_environment()) {
        g_object_unref(testbed);
        error = "not running under the umockdev preload (LD_PRELOAD=libumockdev-preload.so.0)";
        return nullptr;
    }
    return std::unique_ptr<UmockdevHost>(new UmockdevHost(testbed));
}

std::unique_ptr<UmockdevHost> UmockdevHost::CreateForChildren(std::string& error) {
    UMockdevTestbed* testbed = umockdev_testbed_new();
    if (testbed == nullptr) {
        error = "umockdev could not create a testbed";
        return nullptr;
    }
    return std::unique_ptr<UmockdevHost>(new UmockdevHost(testbed));
}

UmockdevHost::UmockdevHost(UMockdevTestbed* testbed)
    : testbed_(testbed), handler_(umockdev_ioctl_base_new()) {
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(&UmockdevHost::OnIoctl), this);
    watcher_ = std::thread([this] { Watch(); });
}

UmockdevHost::~UmockdevHost() {
    {
        std::lock_guard lock(watchMu_);
        stop_ = true;
    }
    watchCv_.notify_all();
    watcher_.join();
    {
        std::lock_guard lock(nodesMu_);
        for (auto& [path, node] : nodes_) {
            node->MarkGone();
        }
    }
    g_signal_handlers_disconnect_by_data(handler_, this);
    g_object_unref(handler_);
    g_object_unref(testbed_);
}

gboolean UmockdevHost::OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    return static_cast<UmockdevHost*>(self)->Dispatch(client) ? TRUE : FALSE;
}

bool UmockdevHost::Dispatch(UMockdevIoctlClient* client) {
    const gchar* devnode = umockdev_ioctl_client_get_devnode(client);
    std::shared_ptr<UsbdevfsNode> node;
    {
        std::lock_guard lock(nodesMu_);
        if (devnode != nullptr) {
            if (auto it = nodes_.find(devnode); it != nodes_.end()) {
                node = it->second;
            }
        }
    }
    if (!node) {
        return false;
    }
    return node->Handle(client);
}

void UmockdevHost::Watch() {
    std::unique_lock lock(watchMu_);
    while (!stop_) {
        watchCv_.wait_for(lock, kWatchPeriod, [this] { return stop_; });
        if (stop_) {
            break;
        }
        lock.unlock();
        Sync();
        lock.lock();
    }
}

std::string UmockdevHost::BusPathLocked(std::uint8_t bus) const {
    char pci[32];
    std::snprintf(pci, sizeof pci, "0000:00:%02x.0", bus);
    return std::string("/devices/pci0000:00/") + pci + "/usb" + std::to_string(bus);
}

std::uint8_t UmockdevHost::NextDevnumLocked(std::uint8_t bus) {
    std::uint8_t& last = lastDevnum_[bus];
    last = last >= kMaxDevnum ? 2 : static_cast<std::uint8_t>(last + 1);
    return last;
}

bool UmockdevHost::EnsureBusLocked(std::uint8_t bus, std::uint8_t generation, std::string& error) {
    if (busGeneration_.count(bus) != 0) {
        return true;
    }
    UsbdevfsRecordFields f;
    f.sysfsPath = BusPathLocked(bus);
    f.bus = bus;
    f.devnum = 1;
    lastDevnum_[bus] = 1;
    f.speedMbps = generation >= 3 ? 5000 : 480;
    f.deviceDescriptor = RootHubDevice(generation);
    f.configuration = HubConfiguration();
    f.manufacturer = generation >= 3 ? "Linux xhci-hcd" : "Linux ehci_hcd";
    f.product = generation >= 3 ? "xHCI Host Controller" : "EHCI Host Controller";
    f.serial = "0000:00:" + std::to_string(bus) + ".0";
    GError* gerror = nullptr;
    if (!umockdev_testbed_add_from_string(testbed_, UsbdevfsRecord(f).c_str(), &gerror)) {
        error = std::string("root hub: ") + (gerror != nullptr ? gerror->message : "?");
        g_clear_error(&gerror);
        return false;
    }
    busGeneration_[bus] = generation;
    return true;
}

bool UmockdevHost::AddBus(std::uint8_t bus, std::uint8_t generation) {
    std::lock_guard lock(bedMu_);
    if (busGeneration_.count(bus) != 0) {
        return busGeneration_[bus] == generation;
    }
    std::string error;
    return EnsureBusLocked(bus, generation, error);
}

bool UmockdevHost::EnsureHubsLocked(const UmockdevPlug& where, std::string& error) {
    std::string parent = BusPathLocked(where.bus);
    for (std::size_t depth = 1; depth < where.ports.size(); ++depth) {
        const std::string name = Name(where.bus, where.ports, depth);
        if (auto it = hubPaths_.find(name); it != hubPaths_.end()) {
            parent = it->second;
            continue;
        }
        UsbdevfsRecordFields f;
        f.sysfsPath = parent + "/" + name;
        f.bus = where.bus;
        f.devnum = NextDevnumLocked(where.bus);
        f.deviceDescriptor = ExternalHubDevice();
        f.configuration = HubConfiguration();
        f.product = "USB2.0 Hub";
        GError* gerror = nullptr;
        if (!umockdev_testbed_add_from_string(testbed_, UsbdevfsRecord(f).c_str(), &gerror)) {
            error = "hub " + name + ": " + (gerror != nullptr ? gerror->message : "?");
            g_clear_error(&gerror);
            return false;
        }
        hubPaths_[name] = f.sysfsPath;
        parent = f.sysfsPath;
    }
    return true;
}

int UmockdevHost::Plug(std::shared_ptr<IUsbDeviceModel> model, const UmockdevPlug& where,
                       std::string& error) {
    if (!model) {
        error = "no device model";
        return 0;
    }
    if (where.ports.empty() || where.ports.size() > kMaxTiers) {
        error = "a port path has 1 to 7 ports";
        return 0;
    }
    for (std::uint8_t port : where.ports) {
        if (port == 0) {
            error = "port numbers start at 1";
            return 0;
        }
    }
    std::lock_guard lock(bedMu_);
    const std::string name = Name(where.bus, where.ports, where.ports.size());
    // A port holds one device: a chip, or a hub that the ports of other chips lead through.
    if (hubPaths_.count(name) != 0) {
        error = "port " + name + " holds a hub";
        return 0;
    }
    for (const auto& [id, other] : slots_) {
        for (std::size_t depth = 1; depth <= where.ports.size(); ++depth) {
            if (other.name == Name(where.bus, where.ports, depth)) {
                error = "port " + other.name + " is taken by a device";
                return 0;
            }
        }
    }
    if (!EnsureBusLocked(where.bus, 2, error) || !EnsureHubsLocked(where, error)) {
        return 0;
    }
    Slot slot;
    slot.model = std::move(model);
    slot.where = where;
    slot.name = name;
    const std::string parent =
        where.ports.size() == 1 ? BusPathLocked(where.bus)
                                : hubPaths_[Name(where.bus, where.ports, where.ports.size() - 1)];
    slot.devPath = parent + "/" + name;
    if (slot.model->Attached() && !AppearLocked(slot, error)) {
        return 0;
    }
    const int id = nextSlot_++;
    slots_[id] = std::move(slot);
    return id;
}

bool UmockdevHost::AppearLocked(Slot& slot, std::string& error) {
    const std::vector<std::uint8_t> device = slot.model->DeviceDescriptor();
    UsbdevfsRecordFields f;
    f.sysfsPath = slot.devPath;
    f.bus = slot.where.bus;
    f.devnum = NextDevnumLocked(slot.where.bus);
    f.deviceDescriptor = device;
    f.configuration = slot.model->ConfigurationDescriptor();
    if (device.size() >= 18) {
        f.manufacturer = StringOf(*slot.model, device[14]);
        f.product = StringOf(*slot.model, device[15]);
        f.serial = StringOf(*slot.model, device[16]);
    }
    const std::string record = UsbdevfsRecord(f);
    if (record.empty()) {
        error = "the model's descriptors do not describe a device";
        return false;
    }
    const std::string devnode = "/dev/" + UsbDevNode(f.bus, f.devnum);
    const std::uint32_t generation = slot.model->Generation();
    auto node = std::make_shared<UsbdevfsNode>(slot.model, slot.where.node, generation);
    {
        std::lock_guard lock(nodesMu_);
        if (auto it = nodes_.find(devnode); it != nodes_.end()) {
            it->second->MarkGone();
        }
        nodes_[devnode] = node;
    }
    // The handler must be attached before the node appears, so that it is a socket when libusb
    // opens it.
    GError* gerror = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed_, devnode.c_str(), handler_, &gerror)) {
        g_clear_error(&gerror);  // already attached from an earlier appearance on this number
    }
    if (!umockdev_testbed_add_from_string(testbed_, record.c_str(), &gerror)) {
        error = std::string("device: ") + (gerror != nullptr ? gerror->message : "?");
        g_clear_error(&gerror);
        std::lock_guard lock(nodesMu_);
        nodes_.erase(devnode);
        return false;
    }
    slot.devnum = f.devnum;
    slot.generation = generation;
    slot.node = std::move(node);
    slot.present = true;
    return true;
}

void UmockdevHost::DisappearLocked(Slot& slot) {
    if (slot.node) {
        slot.node->MarkGone();
    }
    const std::string sysPath = "/sys" + slot.devPath;
    umockdev_testbed_uevent(testbed_, sysPath.c_str(), "remove");
    umockdev_testbed_remove_device(testbed_, sysPath.c_str());
    slot.present = false;
    slot.devnum = 0;
    slot.node.reset();
}

void UmockdevHost::SyncLocked() {
    for (auto& [id, slot] : slots_) {
        const bool want = slot.cable && slot.model->Attached();
        if (want && slot.present && slot.model->Generation() != slot.generation) {
            DisappearLocked(slot);  // it left and came back between two looks
        }
        if (want && !slot.present) {
            std::string error;
            AppearLocked(slot, error);
        } else if (!want && slot.present) {
            DisappearLocked(slot);
        }
    }
}

void UmockdevHost::Sync() {
    std::lock_guard lock(bedMu_);
    SyncLocked();
}

void UmockdevHost::Unplug(int id) {
    std::lock_guard lock(bedMu_);
    if (auto it = slots_.find(id); it != slots_.end()) {
        it->second.cable = false;
        SyncLocked();
    }
}

void UmockdevHost::Replug(int id) {
    std::lock_guard lock(bedMu_);
    if (auto it = slots_.find(id); it != slots_.end()) {
        it->second.cable = true;
        SyncLocked();
    }
}

bool UmockdevHost::Present(int id) const {
    std::lock_guard lock(bedMu_);
    auto it = slots_.find(id);
    return it != slots_.end() && it->second.present;
}

std::uint8_t UmockdevHost::DeviceNumber(int id) const {
    std::lock_guard lock(bedMu_);
    auto it = slots_.find(id);
    return it != slots_.end() ? it->second.devnum : 0;
}

std::string UmockdevHost::LocationPath(int id) const {
    std::lock_guard lock(bedMu_);
    auto it = slots_.find(id);
    return it != slots_.end() ? it->second.name : std::string();
}

std::shared_ptr<UsbdevfsNode> UmockdevHost::Node(int id) const {
    std::lock_guard lock(bedMu_);
    auto it = slots_.find(id);
    return it != slots_.end() ? it->second.node : nullptr;
}

}  // namespace uafw::sim
