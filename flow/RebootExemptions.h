#pragma once
// Customer devices that restart into their new firmware after a flash update without asking the
// operator "Reboot the device to launch new FW?": their production lines expect the restart to
// happen unattended, as if the operator had answered yes.
#include <array>
#include <cstddef>
#include <cstdint>

struct UsbIdPair {
    std::uint16_t vid;
    std::uint16_t pid;
};

class CRebootExemptions {
public:
    static constexpr std::size_t kRowCount = 45;

    // The table: 13, 23, 8 and 1 rows of four customer vendor ids, in this order.
    static const std::array<UsbIdPair, kRowCount>& Rows();
    // True when the device's (VID, PID) is one of the rows.
    static bool Contains(std::uint16_t vid, std::uint16_t pid);
};
