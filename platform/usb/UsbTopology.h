#pragma once
// Naming and classification of a device's place in the USB tree, as Linux names it in sysfs.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace uafw::usb {

// The sysfs port path of a device: "<bus>-<port>.<port>..." ("1-2.3"); a root hub (no ports) is
// "usb<bus>". The same physical port always gives the same path.
std::string FormatLocationPath(std::uint8_t bus, std::span<const std::uint8_t> ports);

// Orders port paths as the ports are numbered: bus first, then each port ("1-2" before "1-10",
// a hub's port before the ports behind it). Paths that are not port paths sort after all others.
bool LocationPathBefore(std::string_view a, std::string_view b);

// USB generation of a root hub from its device descriptor's bcdUSB and its product text: 3 for a
// USB 3 root hub, and also for the USB 2 half of an xHCI controller (Linux splits one xHCI
// controller into a USB 2 and a USB 3 root hub; both belong to a USB 3 controller); 2 for a USB 2
// root hub; 1 for anything older.
std::uint8_t RootHubGeneration(std::uint16_t bcdUsb, std::string_view product);

}  // namespace uafw::usb
